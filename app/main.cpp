// main.cpp -- the program's start-up order: services, window, blob field, frame loop
#include <cstdlib>
#include <ctime>

#include "app/app.h"
#include "app/blob.h"
#include "em/em.h"
#include "gfx/gfx.h"
#include "io/io.h"

int main(int, char**)
{
    gfx_videoflags = 0;
    io_init();
    gfx_bpp = 32;
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) < 0) {
        app_sdlerror("initialising SDL");
        return 1;
    }
    SDL_EnableUNICODE(1);
    gfx_starttimer(0, 10);
    if (gfx_init() != 0) {
        app_shutdown();
        return 1;
    }
    if (em_init() < 0)
        io_error("Couldn't start mixer!\n");
    gfx_width = 1024;
    gfx_height = 768;
    gfx_videoflags = 0;
    if (gfx_initvideo(gfx_videoflags) != 0) {
        app_shutdown();
        return 1;
    }
    srand(static_cast<unsigned>(time(nullptr)));
    blob_init();
    // A run that lost its video mode ends as a failed one.
    const int status = app_frameloop();
    app_shutdown();
    return status;
}
