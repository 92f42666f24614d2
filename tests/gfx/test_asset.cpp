// test_asset.cpp -- asset loading from files the tests write: pixel order, alpha images, descriptors
#include "tests/kit/kit_gl.h"
#include "tests/kit/kit_images.h"

using gfx_assets = kit_glfixture;

TEST_F(gfx_assets, PixelsComeTopRowFirstAndOnly24BitPicturesTakeThePngAlpha)
{
    // Made pixels are x * 7 + y * 31 + channel * 3 + 1, top row first, B, G, R(, A) in the file.
    const kit_picture rgba = kit_makepicture(2, 2, 4, 0), grey = kit_makepicture(4, 3, 1, 0);
    ASSERT_TRUE(kit_writetga("up.tga", rgba, false) && kit_writetga("down.tga", rgba, true) &&
                kit_writetga("pic.tga", kit_makepicture(2, 2, 3, 0), false) &&
                kit_writepng("pic.png", kit_makepicture(2, 2, 1, 100)) && kit_writetga("grey.tga", grey, false) &&
                kit_writebmp("palette.bmp", grey) && kit_writepng("grey.png", kit_makepicture(4, 3, 1, 90)));
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

TEST_F(gfx_assets, EveryDescriptorLogLineIsWholeAndFollowsTheLoadersErrors)
{
    ASSERT_TRUE(
        kit_writepng("m.png", kit_makepicture(2, 2, 1, 50)) && kit_writetga("rgba.tga", kit_makepicture(2, 2, 4, 0), false) &&
        kit_writetga("rgb.tga", kit_makepicture(2, 2, 3, 0), false) && kit_writepng("foo.jpeg", kit_makepicture(2, 2, 3, 0)));
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
        {"foo.jpeg", "FLAG repeat\n", true, "foo..ini \n"}, // the last four characters are replaced
    };
    std::string expected;
    for (const auto& row : rows) {
        std::string descriptor = row.asset;
        ASSERT_TRUE(kit_writefile(descriptor.replace(descriptor.size() - 4, 4, ".ini"), std::string(row.descriptor)));
        EXPECT_EQ(gfx_loadasset(row.asset, 1) != nullptr, row.loads) << row.asset;
        expected += row.log;
    }
    EXPECT_EQ(gfx_numimages, 4) << "a failed load is not listed";
    finish();
    EXPECT_EQ(logtext.substr(0, logtext.find("Max bytes")), expected);
}

// A name shorter than its extension, or too long to fit an image's name after "./", is refused with its line before
// any file is read; the longest name that fits loads.
TEST_F(gfx_assets, NamesOutsideTheirLengthsAreRefused)
{
    const std::string longest = std::string(57, 'n') + ".tga", toolong = "n" + longest;
    for (const std::string& name : {longest, toolong})
        ASSERT_TRUE(kit_writetga(name, kit_makepicture(2, 2, 3, 0), false));
    EXPECT_EQ(gfx_loadasset("tga", 1), nullptr);
    EXPECT_EQ(gfx_loadasset(toolong.c_str(), 1), nullptr);
    EXPECT_NE(gfx_loadasset(longest.c_str(), 1), nullptr);
    EXPECT_EQ(gfx_numimages, 1);
    finish();
    EXPECT_EQ(logtext.substr(0, logtext.find("Max bytes")),
              "ERROR: Asset name too short: tga\nERROR: Asset name too long: " + toolong + "\n");
}

TEST_F(gfx_assets, FlagWordsAreCaseSensitiveSubstringsAndTheLastLineCounts)
{
    ASSERT_TRUE(kit_writetga("t.tga", kit_makepicture(4, 4, 4, 0), false));
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
        ASSERT_TRUE(kit_writefile("t.ini", std::string(row.text)));
        gfx_image* image = gfx_loadasset("t.tga", 0);
        ASSERT_NE(image, nullptr) << row.text;
        const gfx_frame& last = image->frames[image->numframes - 1];
        EXPECT_EQ(
            std::vector<int32_t>({image->flags, image->numframes, row.frames == 1 || (last.x == 3 && last.y == 4 && !last.w)}),
            std::vector<int32_t>({row.flags, row.frames, 1}))
            << row.text;
        gfx_freeimage(image);
    }
}
