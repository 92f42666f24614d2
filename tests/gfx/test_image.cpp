// test_image.cpp -- the image list, lazily made textures, the TGA writer and screenshots on a real GL context
#include "glcontext.h"
#include "imagefiles.h"

#include <GL/gl.h>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

using gfx_images_gl = quorrel_glfixture;

static std::vector<uint8_t> gfx_readfile(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(gfx_images_gl, FreeingFromTheMiddleKeepsTheListInOrder)
{
    gfx_image *a = gfx_createimage("a", 2, 2, 32, 1), *b = gfx_createimage("b", 2, 2, 32, 1);
    gfx_image *c = gfx_createimage("c", 2, 2, 32, 1), *loose = gfx_createimage("loose", 2, 2, 32, 0);
    ASSERT_TRUE(a && b && c && loose);
    gfx_freeimage(loose);
    gfx_freeimage(b);
    EXPECT_EQ(gfx_numimages, 2);
    EXPECT_EQ(gfx_images[0], a);
    EXPECT_EQ(gfx_images[1], c);
    EXPECT_EQ(gfx_images[2], nullptr);
}

TEST_F(gfx_images_gl, TextureIsMadeOnFirstBindAndBoundOnceForTwoBinds)
{
    gfx_image* image = gfx_createimage("rgb10", 10, 3, 24, 1); // rows of 30 bytes: not 4-aligned
    ASSERT_NE(image, nullptr);
    image->flags = GFX_NOMIP;
    for (int32_t b = 0; b < 90; b++)
        image->pixels[b] = static_cast<uint8_t>(b * 7 + 1);
    EXPECT_EQ(image->texture, 0u);
    gfx_bindimage(image);
    ASSERT_TRUE(glIsTexture(image->texture));
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(image->texture));
    std::vector<uint8_t> back(90 + 64, 0xEE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 90), std::vector<uint8_t>(image->pixels, image->pixels + 90));
    glBindTexture(GL_TEXTURE_2D, 0); // a second GL bind would show up as the binding
    gfx_bindimage(image);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
}

TEST_F(gfx_images_gl, FlagsChooseFiltersWrapModesAndMipmaps)
{
    const struct {
        int32_t flags;
        GLint min, mag, wrap;
    } table[] = {
        {0, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, GL_CLAMP_TO_EDGE},
        {GFX_REPEAT, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, GL_REPEAT},
        {GFX_NOMIP, GL_LINEAR, GL_LINEAR, GL_CLAMP_TO_EDGE},
        {GFX_NOFILTER, GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST, GL_CLAMP_TO_EDGE},
        {GFX_NOFILTER | GFX_NOMIP | GFX_REPEAT, GL_NEAREST, GL_NEAREST, GL_REPEAT},
    };
    for (const auto& e : table) {
        gfx_image* image = gfx_createimage("flags", 4, 4, 32, 1);
        ASSERT_NE(image, nullptr);
        image->flags = e.flags;
        gfx_bindimage(image);
        const GLenum names[4] = {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T};
        std::vector<GLint> got(5, 0);
        for (int k = 0; k < 4; k++)
            glGetTexParameteriv(GL_TEXTURE_2D, names[k], &got[k]);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &got[4]);
        EXPECT_EQ(got, std::vector<GLint>({e.min, e.mag, e.wrap, e.wrap, (e.flags & GFX_NOMIP) ? 0 : 2})) << e.flags;
    }
}

TEST_F(gfx_images_gl, TgaWriterHeaderAndSwappedPixelsLeaveTheImageUnchanged)
{
    gfx_image* image = gfx_createimage("pattern", 300, 2, 24, 0);
    ASSERT_NE(image, nullptr);
    for (int32_t i = 0; i < 1800; i++)
        image->pixels[i] = static_cast<uint8_t>(i * 13 + 5);
    const std::vector<uint8_t> before(image->pixels, image->pixels + 1800);
    gfx_writetga("out.tga", image);
    EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + 1800), before);
    const std::vector<uint8_t> file = gfx_readfile("out.tga");
    ASSERT_EQ(file.size(), 18u + 1800u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 21),
              std::vector<uint8_t>({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 44, 1, 2, 0, 24, 0, 31, 18, 5}));
    EXPECT_EQ(file[18 + 1797], before[1799]);
    gfx_freeimage(image);
}

TEST_F(gfx_images_gl, ScreenshotsSkipExistingFilesAndStopAt9999)
{
    ASSERT_NE(SDL_SetVideoMode(1024, 768, 32, SDL_OPENGL), nullptr) << SDL_GetError();
    gfx_width = 1024, gfx_height = 768;
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    for (int i = 0; i < 2; i++) { // the first swap after a mode change leaves the back buffer undefined
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapBuffers();
    }
    const std::vector<uint8_t> keep = {'k'};
    for (const char* name : {"shot0000.tga", "shot0001.tga", "shot0003.tga"})
        ASSERT_TRUE(quorrel_files::save(name, keep));
    gfx_shotnumber = 0;
    gfx_screenshot();
    const std::vector<uint8_t> file = gfx_readfile("shot0002.tga");
    ASSERT_EQ(file.size(), 3145746u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 22),
              std::vector<uint8_t>({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 3, 32, 0, 0, 0, 255, 255}));
    gfx_screenshot();
    EXPECT_EQ(gfx_readfile("shot0003.tga"), keep);
    EXPECT_EQ(gfx_readfile("shot0004.tga").size(), 3145746u);
    char name[32];
    for (int32_t i = 5; i < 9999; i++) {
        snprintf(name, sizeof(name), "shot%04d.tga", i);
        ASSERT_TRUE(quorrel_files::save(name, keep));
    }
    gfx_screenshot(); // passes the existing files up to the last number and writes nothing
    EXPECT_EQ(gfx_shotnumber, 9999);
    EXPECT_TRUE(gfx_readfile("shot9999.tga").empty());
    gfx_screenshot(); // the last name is still free
    EXPECT_EQ(gfx_readfile("shot9999.tga").size(), 3145746u);
    gfx_screenshot();
    EXPECT_EQ(gfx_shotnumber, 10000);
    EXPECT_TRUE(gfx_readfile("shot10000.tga").empty());
}

TEST_F(gfx_images_gl, SweepReleasesTheTextureOfItsSlotAfterMoreThanFiftyIdleTicks)
{
    // The sweep looks at the entry (tick mod 512): entry 0 at tick 512, entry 1 at 513.
    gfx_image *first = gfx_createimage("first", 2, 2, 32, 1), *second = gfx_createimage("second", 2, 2, 32, 1);
    ASSERT_TRUE(first && second);
    const struct {
        uint32_t bound, swept;
        int32_t first, second;
    } rows[] = {
        {462, 512, 1, 1}, // the first idle 50 ticks
        {463, 513, 1, 1}, // the second idle 50 ticks
        {462, 513, 1, 0}, // the second idle 51 ticks; the first is not looked at
        {461, 512, 0, 1}, // the first idle 51 ticks
    };
    for (const auto& row : rows) {
        quorrel_usefakeclock(0);
        quorrel_fakems = row.bound * 10;
        gfx_bindimage(first);
        gfx_bindimage(second);
        quorrel_fakems = row.swept * 10 + 9;
        gfx_sweeptextures();
        EXPECT_EQ(std::vector<int32_t>({first->uploaded, second->uploaded}), std::vector<int32_t>({row.first, row.second}))
            << "bound at " << row.bound << ", swept at " << row.swept;
    }
}

TEST_F(gfx_images_gl, UpdateReplacesLevelZeroAndKeepsTheOtherMipmapLevels)
{
    quorrel_usefakeclock(0);
    quorrel_fakems = 30;
    gfx_image* image = gfx_createimage("mip", 4, 4, 32, 1);
    ASSERT_NE(image, nullptr);
    memset(image->pixels, 0x10, 64);
    gfx_bindimage(image);
    const uint32_t texture = image->texture;
    memset(image->pixels, 0x80, 64);
    quorrel_fakems = 70;
    EXPECT_EQ(gfx_updateimage(image), texture);
    EXPECT_EQ(image->lastuse, 3) << "an update is not a use";
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(gfx_updateimage(image), texture) << "the texture is bound again whatever was bound";
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(texture));
    for (GLint level = 0; level < 3; level++) {
        const int texels = (4 >> level) * (4 >> level);
        std::vector<uint8_t> back(texels * 4, 0);
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(back, std::vector<uint8_t>(texels * 4, level == 0 ? 0x80 : 0x10)) << "level " << level;
    }
}
