// kit_gl.h -- the test kit's window part: the io service, the image list and the program's window in a temporary
// working folder (the fixture), a clock moved by hand
#ifndef TESTS_KIT_KIT_GL_H
#define TESTS_KIT_KIT_GL_H

#include <gtest/gtest.h>

#include "SDL.h"
#include "gfx/gfx_local.h"
#include "io/io.h"
#include "tests/kit/kit.h"

// Puts the display's timer on a clock that tests move by hand, now reading ms; slot 0 counts 10 ms ticks from here.
inline uint32_t kit_fakems;
inline void kit_usefakeclock(uint32_t ms)
{
    kit_fakems = ms;
    gfx_rawgetticks = [] { return kit_fakems; };
    gfx_starttimer(0, 10);
}

// SDL_Init with video and timer, tried for 2 s: an X server without -noreset refuses connections while it resets.
inline int kit_sdlinit()
{
    int started = -1;
    for (int tries = 0; tries < 40 && started != 0; tries++)
        if ((started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER)) != 0)
            usleep(50000);
    return started;
}

// The io service and an empty image list in a temporary directory; startvideo() adds the program's window. finish()
// (also run by TearDown) shuts down as the program does, checks that no io block is left and reads the log.
class kit_glfixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.path.empty());
        io_init();
        gfx_numimages = 0, gfx_boundtexture = 0, gfx_shotrequest = 0;
        gfx_images = static_cast<gfx_image**>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image*), GFX_TAG_IMAGELIST));
        ASSERT_NE(gfx_images, nullptr);
    }
    void startvideo(int32_t width, int32_t height)
    {
        ASSERT_EQ(kit_sdlinit(), 0) << SDL_GetError();
        SDL_EnableUNICODE(1);
        gfx_starttimer(0, 10);
        gfx_width = width, gfx_height = height, gfx_bpp = 32, gfx_videoflags = 0;
        ASSERT_EQ(gfx_initvideo(gfx_videoflags), 0);
    }
    void TearDown() override { finish(); }
    void finish()
    {
        gfx_rawgetticks = SDL_GetTicks, gfx_rawsetvideomode = SDL_SetVideoMode;
        if (!inout.allocs)
            return;
        gfx_deinit(); // textures are deleted while the context still exists
        EXPECT_EQ(inout.curbytes, 0);
        io_deinit(), SDL_Quit();
        logtext = kit_readfile("log.txt");
    }
    kit_tempdir dir {true};
    std::string logtext;
};

#endif
