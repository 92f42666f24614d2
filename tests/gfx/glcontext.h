// glcontext.h -- test fixtures: a temporary directory, the io service, the image list and the program's window
#ifndef TESTS_GFX_GLCONTEXT_H
#define TESTS_GFX_GLCONTEXT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "SDL.h"
#include "gfx/gfx_local.h"
#include "io/io.h"

// A fresh temporary working directory (path is empty when it could not be made), removed afterwards.
struct quorrel_tempdir {
    std::string path, oldcwd = std::filesystem::current_path().string();
    char pattern[25] = "/tmp/quorrel-test-XXXXXX";
    quorrel_tempdir() { path = mkdtemp(pattern) && chdir(pattern) == 0 ? pattern : ""; }
    ~quorrel_tempdir()
    {
        std::error_code ignored;
        if (!path.empty() && chdir(oldcwd.c_str()) == 0)
            std::filesystem::remove_all(path, ignored);
    }
};

// Everything a file holds, "log.txt" (read after io_deinit closed it) unless named.
inline std::string quorrel_readlog(const char* name = "log.txt")
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Puts the display's timer on a clock that tests move by hand, now reading ms; slot 0 counts 10 ms ticks from here.
inline uint32_t quorrel_fakems;
inline void quorrel_usefakeclock(uint32_t ms)
{
    quorrel_fakems = ms;
    gfx_rawgetticks = [] { return quorrel_fakems; };
    gfx_starttimer(0, 10);
}

// SDL_Init with video and timer, tried for 2 s: an X server without -noreset refuses connections while it resets.
inline int quorrel_sdlinit()
{
    int started = -1;
    for (int tries = 0; tries < 40 && started != 0; tries++)
        if ((started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER)) != 0)
            usleep(50000);
    return started;
}

// The io service and an empty image list in a temporary directory; startvideo() adds the program's window. finish()
// (also run by TearDown) shuts down as the program does, checks that no io block is left and reads the log.
class quorrel_fixture : public ::testing::Test {
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
        ASSERT_EQ(quorrel_sdlinit(), 0) << SDL_GetError();
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
        logtext = quorrel_readlog();
    }
    quorrel_tempdir dir;
    std::string logtext;
};

#endif
