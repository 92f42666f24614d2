// glcontext.h -- test fixtures: the io service, the image list and a real GL window
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "SDL.h"
#include "gfx/gfx.h"
#include "io/io.h"

// A fresh temporary working directory for the test's files (the loaders and the
// screenshot read and write relative to it); the old one is restored afterwards.
class quorrel_tempdir {
public:
    quorrel_tempdir()
    {
        char *old = getcwd(nullptr, 0);
        oldcwd = old ? old : ".";
        free(old);
        char pattern[] = "/tmp/quorrel-test-XXXXXX";
        const char *made = mkdtemp(pattern);
        path = made ? made : "";
        if (made && chdir(made) != 0)
            path.clear();
    }
    ~quorrel_tempdir()
    {
        if (chdir(oldcwd.c_str()) != 0)
            return;
        if (!path.empty()) {
            const std::string command = "rm -rf '" + path + "'";
            if (system(command.c_str()) != 0)
                fprintf(stderr, "could not remove %s\n", path.c_str());
        }
    }
    std::string path;   // empty when the directory could not be made
    std::string oldcwd;
};

// Writes bytes to a file in the working directory; true when all were written.
inline bool quorrel_writefile(const char *name, const void *data, size_t size)
{
    FILE *file = fopen(name, "wb");
    if (!file)
        return false;
    const size_t done = fwrite(data, 1, size, file);
    return fclose(file) == 0 && done == size;
}

// Everything "log.txt" holds (read after io_deinit closed it).
inline std::string quorrel_readlog()
{
    std::string text;
    FILE *file = fopen("log.txt", "rb");
    if (!file)
        return text;
    int c;
    while ((c = fgetc(file)) != EOF)
        text += static_cast<char>(c);
    fclose(file);
    return text;
}

// The io service and an empty image list in a temporary directory, no window.
// TearDown frees every image, checks that no io block is left and keeps the log
// text in logtext for the test to inspect (call finish() first to read it early).
class quorrel_iofixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.path.empty());
        io_init();
        gfx_numimages = 0;
        gfx_boundtexture = 0;
        gfx_images = static_cast<gfx_image **>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image *), 201));
        ASSERT_NE(gfx_images, nullptr);
    }
    void TearDown() override { finish(); }
    // Frees all images and the list, checks the allocator is empty, closes the log.
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

// The io fixture plus an SDL OpenGL window (8/8/8/8, depth 16, double buffered)
// and timer slot 0 in 10 ms ticks, as the program sets them up.
class quorrel_glfixture : public quorrel_iofixture {
protected:
    static const int32_t WIDTH = 320;
    static const int32_t HEIGHT = 240;
    void SetUp() override
    {
        quorrel_iofixture::SetUp();
        // An X server started without -noreset resets when its last client leaves
        // and refuses connections meanwhile: the previous test may just have left.
        int started = -1;
        for (int tries = 0; tries < 40 && started != 0; tries++) {
            started = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER);
            if (started != 0)
                usleep(50000);
        }
        ASSERT_EQ(started, 0) << SDL_GetError();
        gfx_starttimer(0, 10);
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        ASSERT_NE(SDL_SetVideoMode(WIDTH, HEIGHT, 32, SDL_OPENGL), nullptr) << SDL_GetError();
        gfx_width = WIDTH;
        gfx_height = HEIGHT;
    }
    void TearDown() override
    {
        finish(); // textures are deleted while the context still exists
        SDL_Quit();
    }
};

// The program's own display start-up in a temporary directory: SDL with timer
// and video, timer slot 0 in 10 ms ticks, gfx_init and gfx_initvideo for a
// window of the size the test asks for. TearDown shuts down as the program does
// and checks that no io block is left.
class quorrel_videofixture : public ::testing::Test {
protected:
    void startvideo(int32_t width, int32_t height)
    {
        ASSERT_FALSE(dir.path.empty());
        io_init();
        ASSERT_EQ(SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_EnableUNICODE(1);
        gfx_starttimer(0, 10);
        ASSERT_EQ(gfx_init(), 0);
        gfx_width = width;
        gfx_height = height;
        gfx_bpp = 32;
        gfx_videoflags = 0;
        ASSERT_EQ(gfx_initvideo(gfx_videoflags), 0);
        started = true;
    }
    void TearDown() override
    {
        if (!inout.allocs)
            return;
        gfx_deinit();
        if (started) {
            EXPECT_EQ(inout.curbytes, 0);
        }
        io_deinit();
        SDL_Quit();
    }
    quorrel_tempdir dir;
    bool started = false;
};
