// bench_frame.cpp -- the demo's frame, uncapped: the blob field drawn and
// swapped as fast as the GL driver allows, in milliseconds per frame and
// frames per second (a report, not a test). Runs in a folder holding the
// demo's data files, on whatever display DISPLAY names. Its row goes to
// standard output, anything else the program prints to standard error.
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "app/app.h"
#include "bench/bench.h"
#include "gfx/gfx.h"
#include "io/io.h"

// The program's own start-up, without the audio engine and the frame cap.
static int emb_startvideo()
{
    io_init();
    gfx_bpp = 32;
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) < 0)
        return -1;
    gfx_starttimer(0, 10);
    if (gfx_init() != 0)
        return -1;
    gfx_width = 1024;
    gfx_height = 768;
    gfx_videoflags = 0;
    return gfx_initvideo(gfx_videoflags);
}

static void emb_frame()
{
    app_render();
    app_swap();
}

int main()
{
    emb_opentables();
    if (emb_startvideo() != 0) {
        fprintf(stderr, "quorrel_framebench: couldn't start the display\n");
        app_shutdown();
        return 1;
    }
    srand(1);
    blob_init();
    for (int i = 0; i < 20; i++)
        emb_frame();
    const emb_figure f = emb_measure(
        [](long n) {
            for (long i = 0; i < n; i++)
                emb_frame();
        },
        400.0, 5);
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    emb_print("| blob_render + swap, uncapped, 1024x768 (%s) | %.2f ms | %.1f fps | best %.2f ms |\n", renderer ? renderer : "?",
              f.median / 1e6, 1e9 / f.median, f.best / 1e6);
    app_shutdown();
    return 0;
}
