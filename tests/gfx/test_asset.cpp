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
