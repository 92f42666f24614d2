// test_image.cpp -- the image list, lazily made textures and screenshots (with their header bytes) on a real GL
// context; the TGA writer on its own is the tga fuzz target's, replayed over its seeds
#include "tests/kit/kit_gl.h"
#include "tests/kit/kit_images.h"

#include <GL/gl.h>

using gfx_images_gl = kit_glfixture;

TEST_F(gfx_images_gl, TexturesAreMadeOnFirstBindAndFreeingKeepsTheListInOrder)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(320, 240));
    gfx_image *a = gfx_createimage("a", 2, 2, 32, 1), *b = gfx_createimage("rgb10", 10, 3, 24, 1);
    gfx_image *c = gfx_createimage("c", 2, 2, 32, 1), *loose = gfx_createimage("loose", 2, 2, 32, 0);
    ASSERT_TRUE(a && b && c && loose);
    b->flags = GFX_NOMIP;
    for (int32_t i = 0; i < 90; i++) // rows of 30 bytes: not 4-aligned
        b->pixels[i] = static_cast<uint8_t>(i * 7 + 1);
    EXPECT_EQ(b->texture, 0u);
    gfx_bindimage(b);
    ASSERT_TRUE(glIsTexture(b->texture));
    std::vector<uint8_t> back(90 + 64, 0xEE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, back.data());
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 90), std::vector<uint8_t>(b->pixels, b->pixels + 90));
    gfx_freeimage(loose), gfx_freeimage(b);
    EXPECT_EQ(gfx_numimages, 2);
    EXPECT_TRUE(gfx_images[0] == a && gfx_images[1] == c && gfx_images[2] == nullptr);
}

// An update replaces level 0 and keeps the other mipmap levels.
TEST_F(gfx_images_gl, UpdateReplacesTheFirstLevelInPlace)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(320, 240));
    kit_usefakeclock(0);
    kit_fakems = 30;
    gfx_image* image = gfx_createimage("mip", 4, 4, 32, 1);
    ASSERT_NE(image, nullptr);
    memset(image->pixels, 0x10, 64);
    gfx_bindimage(image);
    const uint32_t texture = image->texture;
    memset(image->pixels, 0x80, 64);
    kit_fakems = 70;
    EXPECT_EQ(gfx_updateimage(image), texture);
    EXPECT_EQ(image->lastuse, 3) << "an update is not a use";
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(gfx_updateimage(image), texture) << "the texture is bound again whatever was bound (read back below)";
    for (GLint level = 0; level < 3; level++) {
        const int texels = (4 >> level) * (4 >> level);
        std::vector<uint8_t> got(texels * 4, 0);
        glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
        EXPECT_EQ(got, std::vector<uint8_t>(texels * 4, level == 0 ? 0x80 : 0x10)) << "level " << level;
    }
}

TEST_F(gfx_images_gl, ScreenshotsSkipExistingFilesAndStopAt9999)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(1024, 768));
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    for (int i = 0; i < 2; i++) // the first swap after a mode change leaves the back buffer undefined
        glClear(GL_COLOR_BUFFER_BIT), SDL_GL_SwapBuffers();
    char name[32];
    for (int32_t i = 0; i < 9999; i++) { // 0, 1, 3 and from 5 up exist
        snprintf(name, sizeof(name), "shot%04d.tga", i);
        ASSERT_TRUE(i == 2 || i == 4 || kit_writefile(name, std::string("k")));
    }
    gfx_shotnumber = 0;
    gfx_screenshot();
    const std::string shot = kit_readfile("shot0002.tga");
    ASSERT_EQ(shot.size(), 3145746u);
    EXPECT_EQ(shot.substr(0, 22), std::string("\0\0\2\0\0\0\0\0\0\0\0\0\0\4\0\3\x20\0\0\0\xFF\xFF", 22));
    gfx_screenshot();
    EXPECT_EQ(kit_readfile("shot0003.tga"), "k");
    EXPECT_EQ(kit_readfile("shot0004.tga").size(), 3145746u);
    gfx_screenshot(); // passes the existing files up to the last number and writes nothing
    EXPECT_EQ(gfx_shotnumber, 9999);
    EXPECT_TRUE(kit_readfile("shot9999.tga").empty());
    gfx_screenshot(); // the last name is still free
    EXPECT_EQ(kit_readfile("shot9999.tga").size(), 3145746u);
    gfx_screenshot();
    EXPECT_EQ(gfx_shotnumber, 10000);
    EXPECT_TRUE(kit_readfile("shot10000.tga").empty());
}

TEST_F(gfx_images_gl, SweepReleasesTheTextureOfItsSlotAfterMoreThanFiftyIdleTicks)
{
    // The sweep looks at the entry (tick mod 512): entry 0 at tick 512, entry 1 at 513.
    ASSERT_NO_FATAL_FAILURE(startvideo(320, 240));
    gfx_image *first = gfx_createimage("first", 2, 2, 32, 1), *second = gfx_createimage("second", 2, 2, 32, 1);
    ASSERT_TRUE(first && second);
    // Bound at, swept at, then whether each is still uploaded: idle 50 ticks, 50, 51 (the first not looked at), 51.
    const uint32_t rows[][4] = {{462, 512, 1, 1}, {463, 513, 1, 1}, {462, 513, 1, 0}, {461, 512, 0, 1}};
    for (const auto& row : rows) {
        kit_usefakeclock(0);
        kit_fakems = row[0] * 10;
        gfx_bindimage(first), gfx_bindimage(second);
        kit_fakems = row[1] * 10 + 9;
        gfx_sweeptextures();
        EXPECT_EQ(std::vector<uint32_t>({uint32_t(first->uploaded), uint32_t(second->uploaded)}),
                  std::vector<uint32_t>({row[2], row[3]}))
            << "bound at " << row[0] << ", swept at " << row[1];
    }
}
