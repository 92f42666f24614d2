/* framecount.c -- preloaded into the demo by scripts/valgrind.sh: counts the
 * buffer swaps (one per drawn frame) and keeps the count in the file named by
 * QUORREL_FRAMECOUNT, so that the script can wait for a number of frames. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

static unsigned long framecount_frames;

static void framecount_save(void)
{
    const char* path = getenv("QUORREL_FRAMECOUNT");
    if (!path)
        return;
    FILE* file = fopen(path, "w");
    if (!file)
        return;
    fprintf(file, "%lu\n", framecount_frames);
    fclose(file);
}

void SDL_GL_SwapBuffers(void)
{
    static void (*real)(void);
    if (!real)
        real = (void (*)(void))dlsym(RTLD_NEXT, "SDL_GL_SwapBuffers");
    real();
    framecount_frames++;
    if (framecount_frames % 10 == 0)
        framecount_save();
}

/* Other programs of the run's command line load this too: only the demo, which
 * drew frames, writes its final count. */
__attribute__((destructor)) static void framecount_end(void)
{
    if (framecount_frames > 0)
        framecount_save();
}
