// glcontext.h -- test fixtures: a temporary directory, the io service, the image list and GL windows
#ifndef TESTS_GFX_GLCONTEXT_H
#define TESTS_GFX_GLCONTEXT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "SDL.h"
#include "gfx/gfx_local.h"
#include "io/io.h"

// A fresh temporary working directory; the old one is restored and the new one removed afterwards.
class quorrel_tempdir {
public:
    quorrel_tempdir()
    {
        if (char* old = getcwd(nullptr, 0))
            oldcwd = old, free(old);
        char pattern[] = "/tmp/quorrel-test-XXXXXX";
        if (mkdtemp(pattern) && chdir(pattern) == 0)
            path = pattern;
    }
    ~quorrel_tempdir()
    {
        if (chdir(oldcwd.c_str()) != 0 || path.empty())
            return;
        if (system(("rm -rf '" + path + "'").c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", path.c_str());
    }
    std::string path, oldcwd = "."; // path is empty when the directory could not be made
};

// Everything "log.txt" holds (read after io_deinit closed it).
inline std::string quorrel_readlog()
{
    std::ifstream in("log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A millisecond clock that tests move by hand, in place of SDL's.
inline uint32_t quorrel_fakems;
inline uint32_t quorrel_faketicks()
{
    return quorrel_fakems;
}
// Puts the display's timer on the fake clock, now reading ms; slot 0 counts 10 ms ticks from here.
inline void quorrel_usefakeclock(uint32_t ms)
{
    quorrel_fakems = ms;
    gfx_rawgetticks = quorrel_faketicks;
    gfx_starttimer(0, 10);
}
// SDL_Init with video and timer; an X server without -noreset refuses connections
// while it resets after the last client, so a refusal is tried again for 2 s.
inline int quorrel_sdlinit()
{
    int started = -1;
    for (int tries = 0; tries < 40 && started != 0; tries++)
        if ((started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER)) != 0)
            usleep(50000);
    return started;
}

// Gives the display its own SDL calls back.
inline void quorrel_realsdl()
{
    gfx_rawgetticks = SDL_GetTicks;
    gfx_rawsetvideomode = SDL_SetVideoMode;
}

// The io service and an empty image list in a temporary directory, no window. finish()
// (also run by TearDown) frees every image, checks no io block is left and reads the log.
class quorrel_iofixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.path.empty());
        io_init();
        gfx_numimages = 0, gfx_boundtexture = 0;
        gfx_images = static_cast<gfx_image**>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image*), GFX_TAG_IMAGELIST));
        ASSERT_NE(gfx_images, nullptr);
    }
    void TearDown() override { finish(); }
    void finish()
    {
        if (!inout.allocs)
            return;
        gfx_freeallimages();
        io_free(gfx_images);
        gfx_images = nullptr;
        EXPECT_EQ(inout.curbytes, 0);
        io_deinit();
        logtext = quorrel_readlog();
    }
    quorrel_tempdir dir;
    std::string logtext;
};

// The io fixture plus a 320x240 SDL OpenGL window (8/8/8/8, depth 16, double buffered).
class quorrel_glfixture : public quorrel_iofixture {
protected:
    void SetUp() override
    {
        quorrel_iofixture::SetUp();
        ASSERT_EQ(quorrel_sdlinit(), 0) << SDL_GetError();
        gfx_starttimer(0, 10);
        for (SDL_GLattr a : {SDL_GL_RED_SIZE, SDL_GL_GREEN_SIZE, SDL_GL_BLUE_SIZE, SDL_GL_ALPHA_SIZE})
            SDL_GL_SetAttribute(a, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        ASSERT_NE(SDL_SetVideoMode(320, 240, 32, SDL_OPENGL), nullptr) << SDL_GetError();
        gfx_width = 320, gfx_height = 240;
    }
    void TearDown() override
    {
        finish(); // textures are deleted while the context still exists
        SDL_Quit();
        quorrel_realsdl();
    }
};

// The program's own display start-up in a temporary directory; TearDown shuts down as
// the program does and checks that no io block is left.
class quorrel_videofixture : public ::testing::Test {
protected:
    void startvideo(int32_t width, int32_t height)
    {
        ASSERT_FALSE(dir.path.empty());
        io_init();
        ASSERT_EQ(quorrel_sdlinit(), 0) << SDL_GetError();
        SDL_EnableUNICODE(1);
        gfx_starttimer(0, 10);
        ASSERT_EQ(gfx_init(), 0);
        gfx_width = width, gfx_height = height, gfx_bpp = 32, gfx_videoflags = 0;
        ASSERT_EQ(gfx_initvideo(gfx_videoflags), 0);
        started = true;
    }
    void TearDown() override
    {
        quorrel_realsdl();
        if (!inout.allocs)
            return;
        gfx_deinit();
        EXPECT_EQ(started ? inout.curbytes : 0, 0);
        io_deinit();
        SDL_Quit();
    }
    quorrel_tempdir dir;
    bool started = false;
};

#endif
