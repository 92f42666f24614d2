// app.cpp -- frame loop, event handling, buffer swap with screenshots, ordered shutdown
#include "app/app.h"

#include <GL/gl.h>

#include <cstdio>

#include "em/em.h"
#include "gfx/gfx.h"
#include "io/io.h"

int32_t app_state;
void (*app_rawdelay)(uint32_t milliseconds) = SDL_Delay;

void app_pollevents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_ACTIVEEVENT:
            // A full-screen context may be lost while the program is away. A failed
            // restart leaves no video mode; the frame loop sees that and stops.
            if (event.active.gain && (gfx_videoflags & SDL_FULLSCREEN))
                gfx_restartvideo();
            break;
        case SDL_KEYDOWN:
            if (event.key.keysym.sym == SDLK_F12 || (event.key.keysym.unicode & 0xff) == '`')
                gfx_shotrequest = 1;
            break;
        case SDL_QUIT: app_state = APP_QUIT; break;
        default: break;
        }
    }
}

void app_render()
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    blob_render();
}

void app_swap()
{
    SDL_GL_SwapBuffers();
    if (gfx_shotrequest) {
        gfx_screenshot();
        gfx_shotrequest = 0;
    }
}

int app_frameloop()
{
    int32_t last = static_cast<int32_t>(gfx_readtimer(0));
    bool drawn = false;
    for (;;) {
        app_pollevents();
        // Drawing or swapping without a context would crash inside GL.
        if (!gfx_videoset)
            return 1;
        const int32_t now = static_cast<int32_t>(gfx_readtimer(0));
        if (now > last) {
            app_render();
            drawn = true;
            last = now;
        } else {
            app_rawdelay(1);
        }
        if (drawn) {
            app_swap();
            drawn = false;
        }
        if (app_state == APP_QUIT)
            return 0;
    }
}

void app_shutdown()
{
    em_deinit();
    gfx_deinit();
    io_deinit();
    SDL_Quit();
}

void app_sdlerror(const char* what)
{
    fprintf(stderr, "SDL error: %s: %s\n", what, SDL_GetError());
    app_shutdown();
}
