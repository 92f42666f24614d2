// test_shot.cpp -- the TGA writer and screenshots of a real GL window
#include "glcontext.h"

#include <GL/gl.h>

#include <sys/stat.h>
#include <vector>

using gfx_tgawriter = quorrel_iofixture;
using gfx_screenshots = quorrel_glfixture;

// The whole file, or an empty vector when it does not exist.
static std::vector<uint8_t> gfx_readfile(const char *name)
{
    std::vector<uint8_t> data;
    FILE *file = fopen(name, "rb");
    if (!file)
        return data;
    int c;
    while ((c = fgetc(file)) != EOF)
        data.push_back(static_cast<uint8_t>(c));
    fclose(file);
    return data;
}

static bool gfx_exists(const char *name)
{
    struct stat info;
    return stat(name, &info) == 0;
}

// An image whose every byte is distinct from its neighbours.
static gfx_image *gfx_patterned(int32_t width, int32_t height, int32_t bpp)
{
    gfx_image *image = gfx_createimage("pattern", width, height, bpp, 0);
    if (image)
        for (int32_t i = 0; i < image->pitch * height; i++)
            image->pixels[i] = static_cast<uint8_t>(i * 13 + 5);
    return image;
}

TEST_F(gfx_tgawriter, HeaderAndPixelsOfBothDepths)
{
    for (int32_t bpp : {32, 24}) {
        gfx_image *image = gfx_patterned(300, 2, bpp);
        ASSERT_NE(image, nullptr);
        const std::vector<uint8_t> before(image->pixels, image->pixels + image->pitch * 2);
        gfx_writetga("out.tga", image);
        EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + image->pitch * 2), before);

        const std::vector<uint8_t> file = gfx_readfile("out.tga");
        const int32_t step = bpp / 8;
        ASSERT_EQ(file.size(), 18u + 300u * 2u * step);
        const std::vector<uint8_t> header(file.begin(), file.begin() + 18);
        const std::vector<uint8_t> want = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           44, 1, 2, 0, static_cast<uint8_t>(bpp), 0};
        EXPECT_EQ(header, want);
        // Rows in memory order (bottom row first), each pixel B, G, R(, A).
        for (int32_t p = 0; p < 600; p++) {
            const uint8_t *got = &file[18 + p * step];
            const uint8_t *mem = &before[p * step];
            ASSERT_EQ(got[0], mem[2]) << bpp << " pixel " << p;
            ASSERT_EQ(got[1], mem[1]) << bpp << " pixel " << p;
            ASSERT_EQ(got[2], mem[0]) << bpp << " pixel " << p;
            if (bpp == 32) {
                ASSERT_EQ(got[3], mem[3]) << "pixel " << p;
            }
        }
        gfx_freeimage(image);
    }
}

TEST_F(gfx_tgawriter, WritesNothingItCannotDescribe)
{
    gfx_image *grey = gfx_patterned(4, 4, 8);
    gfx_image *wide = gfx_patterned(70000, 1, 24);  // wider than the 16-bit header field
    gfx_image *fine = gfx_patterned(4, 4, 32);
    ASSERT_TRUE(grey && wide && fine);
    gfx_writetga("grey.tga", grey);
    gfx_writetga("wide.tga", wide);
    const std::vector<uint8_t> before(fine->pixels, fine->pixels + 64);
    gfx_writetga("nodir/fine.tga", fine);  // the folder does not exist
    EXPECT_EQ(std::vector<uint8_t>(fine->pixels, fine->pixels + 64), before);
    gfx_writetga("null.tga", nullptr);
    EXPECT_FALSE(gfx_exists("grey.tga"));
    EXPECT_FALSE(gfx_exists("wide.tga"));
    EXPECT_FALSE(gfx_exists("null.tga"));
    gfx_freeimage(grey);
    gfx_freeimage(wide);
    gfx_freeimage(fine);
}

// Fills the window with one colour and the 10x10 square at its lower left with
// another, then shows it.
static void gfx_drawtestframe()
{
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 10, 10);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    SDL_GL_SwapBuffers();
}

TEST_F(gfx_screenshots, FullWindowAfterTheSwap)
{
    ASSERT_NE(SDL_SetVideoMode(1024, 768, 32, SDL_OPENGL), nullptr) << SDL_GetError();
    gfx_width = 1024;
    gfx_height = 768;
    glViewport(0, 0, 1024, 768);
    gfx_shotnumber = 0;
    // The first swap after a mode change leaves the back buffer undefined (Mesa's
    // software driver reallocates it): show one frame before the one that counts.
    gfx_drawtestframe();
    gfx_drawtestframe();
    gfx_screenshot();

    const std::vector<uint8_t> file = gfx_readfile("shot0000.tga");
    ASSERT_EQ(file.size(), 3145746u);
    const std::vector<uint8_t> size(file.begin() + 12, file.begin() + 18);
    EXPECT_EQ(size, (std::vector<uint8_t>{0, 4, 0, 3, 32, 0}));
    EXPECT_EQ(file[2], 2);
    // The file starts with the bottom row: the red square, as B, G, R, A.
    const uint8_t *corner = &file[18];
    EXPECT_EQ(corner[0], 0);
    EXPECT_EQ(corner[1], 0);
    EXPECT_EQ(corner[2], 255);
    EXPECT_EQ(corner[3], 255);
    const uint8_t *top = &file[18 + 767 * 1024 * 4];
    EXPECT_NEAR(top[0], 153, 1);  // 0.6 blue
    EXPECT_NEAR(top[1], 102, 1);
    EXPECT_NEAR(top[2], 51, 1);
    EXPECT_EQ(top[3], 255);
    const uint8_t *right = &file[18 + 10 * 4];  // bottom row, just past the square
    EXPECT_NEAR(right[2], 51, 1);
    EXPECT_EQ(gfx_shotnumber, 0);  // advanced only by the next search
    EXPECT_EQ(inout.curbytes, static_cast<int32_t>(GFX_MAXIMAGES * sizeof(gfx_image *)));
}

TEST_F(gfx_screenshots, SeriesSkipsExistingFiles)
{
    gfx_shotnumber = 0;
    gfx_drawtestframe();
    gfx_screenshot();
    gfx_screenshot();
    EXPECT_EQ(gfx_readfile("shot0000.tga").size(), 18u + WIDTH * HEIGHT * 4);
    EXPECT_EQ(gfx_readfile("shot0001.tga").size(), 18u + WIDTH * HEIGHT * 4);
    EXPECT_EQ(gfx_shotnumber, 1);

    // Files left from earlier runs are never overwritten.
    for (const char *name : {"shot0002.tga", "shot0003.tga", "shot0005.tga"})
        ASSERT_TRUE(quorrel_writefile(name, "keep", 4));
    gfx_screenshot();
    EXPECT_EQ(gfx_readfile("shot0004.tga").size(), 18u + WIDTH * HEIGHT * 4);
    gfx_screenshot();
    EXPECT_EQ(gfx_readfile("shot0005.tga").size(), 4u);
    EXPECT_EQ(gfx_readfile("shot0006.tga").size(), 18u + WIDTH * HEIGHT * 4);
}

TEST_F(gfx_screenshots, SearchStopsAt9999)
{
    char name[32];
    for (int32_t i = 0; i < 9999; i++) {
        snprintf(name, sizeof(name), "shot%04d.tga", i);
        FILE *file = fopen(name, "wb");
        ASSERT_NE(file, nullptr);
        fclose(file);
    }
    gfx_shotnumber = 0;
    gfx_drawtestframe();
    gfx_screenshot();
    EXPECT_EQ(gfx_shotnumber, 9999);
    EXPECT_FALSE(gfx_exists("shot9999.tga"));

    gfx_screenshot();  // the last name is still free
    EXPECT_EQ(gfx_readfile("shot9999.tga").size(), 18u + WIDTH * HEIGHT * 4);
    gfx_screenshot();  // and now there is none
    EXPECT_EQ(gfx_shotnumber, 10000);
    EXPECT_FALSE(gfx_exists("shot10000.tga"));
    for (int32_t i = 0; i < 9999; i += 1111) {
        snprintf(name, sizeof(name), "shot%04d.tga", i);
        EXPECT_EQ(gfx_readfile(name).size(), 0u) << name;
    }
}
