// test_asset.cpp -- asset loading from files the tests write: pixel order, alpha images, descriptors
#include "glcontext.h"
#include "imagefiles.h"

#include <vector>

using gfx_assets = quorrel_iofixture;

static std::vector<uint8_t> gfx_bytes(const gfx_image* image)
{
    return image ? std::vector<uint8_t>(image->pixels, image->pixels + image->pitch * image->height) : std::vector<uint8_t>();
}

TEST_F(gfx_assets, TgaRowsAreFlippedAndSwappedAndA24BitPictureTakesThePngAlpha)
{
    // Made pixels are x * 7 + y * 31 + channel * 3 + 1, top row first, B, G, R(, A) in the file.
    ASSERT_TRUE(quorrel_writetga("up.tga", quorrel_makepicture(2, 2, 4, 0), false));
    ASSERT_TRUE(quorrel_writetga("down.tga", quorrel_makepicture(2, 2, 4, 0), true));
    const std::vector<uint8_t> rgba = {38, 35, 32, 41, 45, 42, 39, 48, 7, 4, 1, 10, 14, 11, 8, 17};
    EXPECT_EQ(gfx_bytes(gfx_loadasset("up.tga", 1)), rgba);
    EXPECT_EQ(gfx_bytes(gfx_loadasset("down.tga", 1)), rgba);

    ASSERT_TRUE(quorrel_writetga("pic.tga", quorrel_makepicture(2, 2, 3, 0), false));
    ASSERT_TRUE(quorrel_writepng("pic.png", quorrel_makepicture(2, 2, 1, 100)));
    gfx_image* image = gfx_loadasset("pic.tga", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->bpp, 32);
    EXPECT_EQ(gfx_bytes(image), std::vector<uint8_t>({38, 35, 32, 132, 45, 42, 39, 139, 7, 4, 1, 101, 14, 11, 8, 108}));
}

TEST_F(gfx_assets, DescriptorGivesFlagsAndFramesAndIsLogged)
{
    ASSERT_TRUE(quorrel_writetga("sheet.tga", quorrel_makepicture(256, 128, 4, 0), false));
    const std::string text = "FLAG nomip nofilter\nFRAME 0 0 64 64\nFRAME 64 0 64 64 5 6\n";
    ASSERT_TRUE(quorrel_files::save("sheet.ini", std::vector<uint8_t>(text.begin(), text.end())));
    gfx_image* image = gfx_loadasset("sheet.tga", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->flags, GFX_NOMIP | GFX_NOFILTER);
    ASSERT_EQ(image->numframes, 2);
    const gfx_frame& f = image->frames[1];
    EXPECT_EQ(std::vector<int32_t>({f.x, f.y, f.w, f.h, f.aux0, f.aux1}), std::vector<int32_t>({64, 0, 64, 64, 5, 6}));
    EXPECT_EQ(std::vector<float>({f.s0, f.t0, f.s1, f.t1}), std::vector<float>({0.25f, 1.0f, 0.5f, 0.5f}));
    EXPECT_EQ(gfx_loadasset("nothing.tga", 1), nullptr);
    EXPECT_EQ(gfx_numimages, 1);
    finish(); // checks that nothing is left allocated
    EXPECT_NE(logtext.find("sheet.ini 2 frames\nERROR: File not found: nothing.tga\n"), std::string::npos) << logtext;
}

static bool gfx_savetext(const char* name, const std::string& text)
{
    return quorrel_files::save(name, std::vector<uint8_t>(text.begin(), text.end()));
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
        descriptor.replace(descriptor.size() - 4, 4, ".ini");
        ASSERT_TRUE(gfx_savetext(descriptor.c_str(), row.descriptor));
        EXPECT_EQ(gfx_loadasset(row.asset, 1) != nullptr, row.loads) << row.asset;
        expected += row.log;
    }
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
        ASSERT_TRUE(gfx_savetext("t.ini", row.text));
        gfx_image* image = gfx_loadasset("t.tga", 0);
        ASSERT_NE(image, nullptr) << row.text;
        EXPECT_EQ(image->flags, row.flags) << row.text;
        EXPECT_EQ(image->numframes, row.frames) << row.text;
        if (row.frames == 2) {
            const gfx_frame& last = image->frames[1];
            EXPECT_TRUE(last.x == 3 && last.y == 4 && last.w == 0) << row.text;
        }
        gfx_freeimage(image);
    }
}

TEST_F(gfx_assets, EightBitPicturesKeepTheirRowsAndBytesAndTakeNoAlphaImage)
{
    const quorrel_picture grey = quorrel_makepicture(4, 3, 1, 0);
    ASSERT_TRUE(quorrel_writetga("grey.tga", grey, false));
    ASSERT_TRUE(quorrel_writepng("grey.png", quorrel_makepicture(4, 3, 1, 90)));
    ASSERT_TRUE(quorrel_writebmp("palette.bmp", grey));
    for (const char* name : {"grey.tga", "palette.bmp"}) {
        gfx_image* image = gfx_loadasset(name, 1);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_EQ(image->bpp, 8) << name;
        EXPECT_EQ(image->pitch, 4) << name;
        EXPECT_EQ(gfx_bytes(image), grey.bytes) << name << ": top row first, bytes as in the file";
    }
}

TEST_F(gfx_assets, TheDescriptorNameReplacesTheLastFourCharacters)
{
    ASSERT_TRUE(quorrel_writepng("foo.jpeg", quorrel_makepicture(2, 2, 3, 0)));
    ASSERT_TRUE(gfx_savetext("foo..ini", "FLAG repeat\n"));
    ASSERT_TRUE(gfx_savetext("foo.ini", "FLAG nomip\n"));
    gfx_image* image = gfx_loadasset("foo.jpeg", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->flags, GFX_REPEAT);
    EXPECT_STREQ(image->name, "foo.jpeg");
    finish();
    EXPECT_EQ(logtext.find("foo..ini \n"), 0u) << logtext;
}
