// test_asset.cpp -- asset loading from files the tests write: pixel order, alpha images, descriptors
#include "glcontext.h"
#include "imagefiles.h"

#include <vector>

using gfx_assets = quorrel_fixture;

TEST_F(gfx_assets, PixelsComeTopRowFirstAndOnly24BitPicturesTakeThePngAlpha)
{
    // Made pixels are x * 7 + y * 31 + channel * 3 + 1, top row first, B, G, R(, A) in the file.
    const quorrel_picture rgba = quorrel_makepicture(2, 2, 4, 0), grey = quorrel_makepicture(4, 3, 1, 0);
    ASSERT_TRUE(quorrel_writetga("up.tga", rgba, false) && quorrel_writetga("down.tga", rgba, true));
    ASSERT_TRUE(quorrel_writetga("pic.tga", quorrel_makepicture(2, 2, 3, 0), false));
    ASSERT_TRUE(quorrel_writepng("pic.png", quorrel_makepicture(2, 2, 1, 100)));
    ASSERT_TRUE(quorrel_writetga("grey.tga", grey, false) && quorrel_writebmp("palette.bmp", grey));
    ASSERT_TRUE(quorrel_writepng("grey.png", quorrel_makepicture(4, 3, 1, 90)));
    const std::vector<uint8_t> swapped = {38, 35, 32, 41, 45, 42, 39, 48, 7, 4, 1, 10, 14, 11, 8, 17};
    const struct {
        const char* name;
        int32_t bpp;
        std::vector<uint8_t> bytes;
    } rows[] = {
        {"up.tga", 32, swapped},
        {"down.tga", 32, swapped},
        {"pic.tga", 32, {38, 35, 32, 132, 45, 42, 39, 139, 7, 4, 1, 101, 14, 11, 8, 108}},
        {"grey.tga", 8, grey.bytes}, // 8-bit: rows of 4 bytes as in the file, grey.png not taken
        {"palette.bmp", 8, grey.bytes},
    };
    for (const auto& row : rows) {
        gfx_image* image = gfx_loadasset(row.name, 1);
        ASSERT_NE(image, nullptr) << row.name;
        EXPECT_EQ(image->bpp, row.bpp) << row.name;
        EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + image->pitch * image->height), row.bytes) << row.name;
    }
}

TEST_F(gfx_assets, FramesGiveTexelRectanglesAndTextureCoordinates)
{
    ASSERT_TRUE(quorrel_writetga("sheet.tga", quorrel_makepicture(256, 128, 4, 0), false));
    ASSERT_TRUE(quorrel_files::save("sheet.ini", std::string("FRAME 0 0 64 64\nFRAME 64 0 64 64 5 6\n")));
    gfx_image* image = gfx_loadasset("sheet.tga", 1);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->numframes, 2);
    const gfx_frame& f = image->frames[1];
    EXPECT_EQ(std::vector<int32_t>({f.x, f.y, f.w, f.h, f.aux0, f.aux1}), std::vector<int32_t>({64, 0, 64, 64, 5, 6}));
    EXPECT_EQ(std::vector<float>({f.s0, f.t0, f.s1, f.t1}), std::vector<float>({0.25f, 1.0f, 0.5f, 0.5f}));
    finish();
    EXPECT_EQ(logtext.find("sheet.ini 2 frames\n"), 0u) << logtext;
}

TEST_F(gfx_assets, EveryDescriptorLogLineIsWholeAndFollowsTheLoadersErrors)
{
    ASSERT_TRUE(quorrel_writepng("m.png", quorrel_makepicture(2, 2, 1, 50)));
    ASSERT_TRUE(quorrel_writetga("rgba.tga", quorrel_makepicture(2, 2, 4, 0), false));
    ASSERT_TRUE(quorrel_writetga("rgb.tga", quorrel_makepicture(2, 2, 3, 0), false));
    const struct {
        const char *asset, *descriptor;
        bool loads;
        const char* log;
    } rows[] = {
        {"rgba.tga", "MASK m.png\n", true,
         "ERROR: Alpha image ./m.png ignored: ./rgba.tga is not 24-bit\nrgba.ini alpha: m.png \n"},
        {"gone.tga", "MASK m.png\nFRAME 0 0 1 1\n", false, "ERROR: File not found: gone.tga\ngone.ini alpha: m.png \n"},
        {"rgb.tga", "MASK none.png\nMASK m.png\nFRAME 0 0 2 2\n", true, "rgb.ini alpha: none.png alpha: m.png 1 frames\n"},
        {"rgb.tga", "FLAG repeat\n", true, "rgb.ini \n"},
    };
    std::string expected;
    for (const auto& row : rows) {
        std::string descriptor = row.asset;
        ASSERT_TRUE(quorrel_files::save(descriptor.replace(descriptor.size() - 4, 4, ".ini"), std::string(row.descriptor)));
        EXPECT_EQ(gfx_loadasset(row.asset, 1) != nullptr, row.loads) << row.asset;
        expected += row.log;
    }
    EXPECT_EQ(gfx_numimages, 3) << "a failed load is not listed";
    finish();
    EXPECT_EQ(logtext.substr(0, logtext.find("Max bytes")), expected);
}

TEST_F(gfx_assets, FlagWordsAreCaseSensitiveSubstringsAndTheLastLineCounts)
{
    ASSERT_TRUE(quorrel_writetga("t.tga", quorrel_makepicture(4, 4, 4, 0), false));
    const struct {
        const char* text;
        int32_t flags, frames;
    } rows[] = {
        {"FLAG nofilter repeat\n", GFX_NOFILTER | GFX_REPEAT, 1},
        {"FLAG nomipmap\n", GFX_NOMIP, 1},
        {"FLAG NOMIP Repeat NoFilter\n", 0, 1},
        {"FLAG repeat\nFLAG nomip\n", GFX_NOMIP, 1},
        {"FLAG repeat\nFLAG\n", 0, 1},
        {"FRAME 1 2 3 4\nFLAG repeat nomip", GFX_REPEAT | GFX_NOMIP, 1},
        {"FLAG nofilter\r\nFRAME 1 2\r\n\r\nFRAME 3 4", GFX_NOFILTER, 2},
        {"flag repeat\nFRAMES 1 2\n", 0, 1},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(quorrel_files::save("t.ini", std::string(row.text)));
        gfx_image* image = gfx_loadasset("t.tga", 0);
        ASSERT_NE(image, nullptr) << row.text;
        EXPECT_EQ(std::vector<int32_t>({image->flags, image->numframes}), std::vector<int32_t>({row.flags, row.frames}))
            << row.text;
        const gfx_frame& last = image->frames[image->numframes - 1];
        EXPECT_TRUE(row.frames == 1 || (last.x == 3 && last.y == 4 && last.w == 0)) << row.text;
        gfx_freeimage(image);
    }
}

TEST_F(gfx_assets, TheDescriptorNameReplacesTheLastFourCharacters)
{
    ASSERT_TRUE(quorrel_writepng("foo.jpeg", quorrel_makepicture(2, 2, 3, 0)));
    ASSERT_TRUE(quorrel_files::save("foo..ini", std::string("FLAG repeat\n")));
    ASSERT_TRUE(quorrel_files::save("foo.ini", std::string("FLAG nomip\n")));
    gfx_image* image = gfx_loadasset("foo.jpeg", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->flags, GFX_REPEAT);
    EXPECT_STREQ(image->name, "foo.jpeg");
    finish();
    EXPECT_EQ(logtext.find("foo..ini \n"), 0u) << logtext;
}
