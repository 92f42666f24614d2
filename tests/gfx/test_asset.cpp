// test_asset.cpp -- asset loading from files the tests write: pixels, alpha images, descriptors
#include "glcontext.h"
#include "imagefiles.h"

#include <cstring>

using gfx_assets = quorrel_iofixture;

// Checks an image against the picture it was loaded from: 24- and 32-bit rows bottom
// first (flip), 8-bit rows in file order; swap exchanges bytes 0 and 2 of each pixel.
static void gfx_expectpixels(const gfx_image *image, const quorrel_picture &p, bool flip, bool swap)
{
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width, p.width);
    ASSERT_EQ(image->height, p.height);
    ASSERT_EQ(image->bpp, p.channels * 8);
    for (int32_t row = 0; row < p.height; row++) {
        const int32_t y = flip ? p.height - 1 - row : row;
        for (int32_t x = 0; x < p.width; x++) {
            const uint8_t *got = image->pixels + row * image->pitch + x * p.channels;
            for (int32_t c = 0; c < p.channels; c++) {
                const int32_t from = (swap && c != 3 && p.channels >= 3) ? 2 - c : c;
                ASSERT_EQ(got[c], p.pixel(x, y)[from]) << "row " << row << " x " << x << " byte " << c;
            }
        }
    }
}

// A descriptor (or any text file) in the working directory.
static void gfx_writetext(const char *name, const char *text)
{
    ASSERT_TRUE(quorrel_writefile(name, text, strlen(text)));
}

TEST_F(gfx_assets, TgaPixelsAreFlippedAndSwapped)
{
    const quorrel_picture p32 = quorrel_makepicture(5, 3, 4, 0);
    const quorrel_picture p24 = quorrel_makepicture(5, 3, 3, 50);
    const quorrel_picture p8 = quorrel_makepicture(5, 3, 1, 90);
    ASSERT_TRUE(quorrel_writetga("up.tga", p32, false));
    ASSERT_TRUE(quorrel_writetga("down.tga", p32, true));
    ASSERT_TRUE(quorrel_writetga("rgb.tga", p24, false));
    ASSERT_TRUE(quorrel_writetga("grey.tga", p8, false));

    // B, G, R, A in the file become R, G, B, A, bottom row first, whatever the file's origin.
    gfx_expectpixels(gfx_loadasset("up.tga", 1), p32, true, true);
    gfx_expectpixels(gfx_loadasset("down.tga", 1), p32, true, true);
    gfx_expectpixels(gfx_loadasset("rgb.tga", 1), p24, true, true);
    // 8-bit: rows in the decoded order and no swap, even from a ".tga" file.
    gfx_expectpixels(gfx_loadasset("grey.tga", 1), p8, false, false);
    EXPECT_EQ(gfx_numimages, 4);
}

TEST_F(gfx_assets, BmpAndPngPixelsKeepTheDecodedByteOrder)
{
    const quorrel_picture b24 = quorrel_makepicture(3, 4, 3, 10);  // rows of 9 bytes: padded in the file
    const quorrel_picture b8 = quorrel_makepicture(3, 4, 1, 20);
    const quorrel_picture g8 = quorrel_makepicture(6, 2, 1, 30);
    const quorrel_picture c24 = quorrel_makepicture(6, 2, 3, 40);
    const quorrel_picture c32 = quorrel_makepicture(6, 2, 4, 60);
    ASSERT_TRUE(quorrel_writebmp("b24.bmp", b24));
    ASSERT_TRUE(quorrel_writebmp("b8.bmp", b8));
    ASSERT_TRUE(quorrel_writepng("g8.png", g8));
    ASSERT_TRUE(quorrel_writepng("c24.png", c24));
    ASSERT_TRUE(quorrel_writepng("c32.png", c32));

    gfx_expectpixels(gfx_loadasset("b24.bmp", 1), b24, true, false);
    gfx_expectpixels(gfx_loadasset("b8.bmp", 1), b8, false, false);
    gfx_expectpixels(gfx_loadasset("g8.png", 1), g8, false, false);
    gfx_expectpixels(gfx_loadasset("c24.png", 1), c24, true, false);
    gfx_expectpixels(gfx_loadasset("c32.png", 1), c32, true, false);
}

// The picture with the first byte of each pixel of alpha as a fourth byte.
static quorrel_picture gfx_withalpha(const quorrel_picture &p, const quorrel_picture &alpha)
{
    quorrel_picture out{p.width, p.height, 4, {}};
    for (int32_t y = 0; y < p.height; y++)
        for (int32_t x = 0; x < p.width; x++) {
            out.bytes.insert(out.bytes.end(), p.pixel(x, y), p.pixel(x, y) + 3);
            out.bytes.push_back(alpha.pixel(x, y)[0]);
        }
    return out;
}

TEST_F(gfx_assets, TwentyFourBitPictureTakesTheAlphaImageBesideIt)
{
    const quorrel_picture colour = quorrel_makepicture(4, 3, 3, 5);
    const quorrel_picture pngalpha = quorrel_makepicture(4, 3, 1, 100);
    const quorrel_picture bmpalpha = quorrel_makepicture(4, 3, 1, 150);
    ASSERT_TRUE(quorrel_writetga("pic.tga", colour, false));
    ASSERT_TRUE(quorrel_writepng("pic.png", pngalpha));
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), gfx_withalpha(colour, pngalpha), true, true);

    // A BMP beside it comes before the PNG.
    ASSERT_TRUE(quorrel_writebmp("pic.bmp", bmpalpha));
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), gfx_withalpha(colour, bmpalpha), true, true);

    // A 24-bit BMP picture skips itself and takes the TGA beside it (whose first
    // byte per pixel is its blue); being no ".tga" it is not swapped.
    ASSERT_TRUE(quorrel_writebmp("pic.bmp", colour));
    gfx_expectpixels(gfx_loadasset("pic.bmp", 1), gfx_withalpha(colour, colour), true, false);
}

TEST_F(gfx_assets, MaskLineNamesTheAlphaImage)
{
    const quorrel_picture colour = quorrel_makepicture(4, 2, 3, 7);
    const quorrel_picture first = quorrel_makepicture(4, 2, 1, 70);
    const quorrel_picture last = quorrel_makepicture(4, 2, 1, 170);
    ASSERT_TRUE(quorrel_writetga("sheet.tga", colour, false));
    ASSERT_TRUE(quorrel_writepng("first.png", first));
    ASSERT_TRUE(quorrel_writebmp("last.bmp", last));
    gfx_writetext("sheet.ini", "MASK first.png\nMASK last.bmp\n");
    gfx_expectpixels(gfx_loadasset("sheet.tga", 1), gfx_withalpha(colour, last), true, true);

    // An unreadable MASK file: the picture alone, by its own depth, and no message.
    gfx_writetext("sheet.ini", "MASK missing.png\n");
    gfx_expectpixels(gfx_loadasset("sheet.tga", 1), colour, true, true);
    finish();
    EXPECT_EQ(logtext.find("ERROR"), std::string::npos) << logtext;
    EXPECT_NE(logtext.find("sheet.ini alpha: first.png alpha: last.bmp \n"), std::string::npos) << logtext;
    EXPECT_NE(logtext.find("sheet.ini alpha: missing.png \n"), std::string::npos) << logtext;
}

TEST_F(gfx_assets, AlphaImagesThatDoNotFitAreIgnored)
{
    const quorrel_picture colour = quorrel_makepicture(4, 4, 3, 1);
    const quorrel_picture p32 = quorrel_makepicture(4, 4, 4, 2);
    ASSERT_TRUE(quorrel_writetga("pic.tga", colour, false));
    ASSERT_TRUE(quorrel_writetga("p32.tga", p32, false));

    // Smaller than the picture, in either direction.
    ASSERT_TRUE(quorrel_writepng("narrow.png", quorrel_makepicture(3, 4, 1, 9)));
    ASSERT_TRUE(quorrel_writepng("short.png", quorrel_makepicture(4, 3, 1, 9)));
    gfx_writetext("pic.ini", "MASK narrow.png");
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), colour, true, true);
    gfx_writetext("pic.ini", "MASK short.png");
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), colour, true, true);

    // A 16-bit alpha image has no byte per pixel to take.
    ASSERT_TRUE(quorrel_writebmp("wide16.bmp", quorrel_makepicture(4, 4, 2, 9)));
    gfx_writetext("pic.ini", "MASK wide16.bmp");
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), colour, true, true);

    // A 32-bit picture cannot be merged: it loads by its own depth.
    ASSERT_TRUE(quorrel_writepng("fits.png", quorrel_makepicture(4, 4, 1, 9)));
    gfx_writetext("p32.ini", "MASK fits.png");
    gfx_expectpixels(gfx_loadasset("p32.tga", 1), p32, true, true);

    // A larger alpha image, and one of 24 bits, whose first byte per pixel is used.
    const quorrel_picture big = quorrel_makepicture(6, 5, 1, 40);
    const quorrel_picture rgb = quorrel_makepicture(4, 4, 3, 80);
    ASSERT_TRUE(quorrel_writepng("big.png", big));
    ASSERT_TRUE(quorrel_writepng("rgb.png", rgb));
    gfx_writetext("pic.ini", "MASK big.png");
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), gfx_withalpha(colour, big), true, true);
    gfx_writetext("pic.ini", "MASK rgb.png");
    gfx_expectpixels(gfx_loadasset("pic.tga", 1), gfx_withalpha(colour, rgb), true, true);

    finish();
    EXPECT_NE(logtext.find("ERROR: Alpha image ./narrow.png ignored: smaller than ./pic.tga\n"), std::string::npos);
    EXPECT_NE(logtext.find("ERROR: Alpha image ./short.png ignored: smaller than ./pic.tga\n"), std::string::npos);
    EXPECT_NE(logtext.find("ERROR: Alpha image ./wide16.bmp ignored: 16 bits per pixel\n"), std::string::npos);
    EXPECT_NE(logtext.find("ERROR: Alpha image ./fits.png ignored: ./p32.tga is not 24-bit\n"), std::string::npos)
        << logtext;
}

TEST_F(gfx_assets, DescriptorFlagsAndFrames)
{
    ASSERT_TRUE(quorrel_writetga("sheet.tga", quorrel_makepicture(256, 128, 4, 0), false));
    gfx_writetext("sheet.ini", "FLAG nomip nofilter\nFRAME 0 0 64 64\nFRAME 64 0 64 64\n");
    gfx_image *image = gfx_loadasset("sheet.tga", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->flags, GFX_NOMIP | GFX_NOFILTER);
    ASSERT_EQ(image->numframes, 2);
    EXPECT_EQ(image->frames[1].x, 64);
    EXPECT_EQ(image->frames[1].w, 64);
    EXPECT_EQ(image->frames[1].h, 64);
    EXPECT_FLOAT_EQ(image->frames[1].s0, 0.25f);
    EXPECT_FLOAT_EQ(image->frames[1].s1, 0.5f);
    EXPECT_FLOAT_EQ(image->frames[1].t0, 1.0f);
    EXPECT_FLOAT_EQ(image->frames[1].t1, 0.5f);

    struct flagcase {
        const char *text;
        int32_t flags;
    };
    const flagcase flagcases[] = {
        {"FLAG nofilter repeat\n", GFX_NOFILTER | GFX_REPEAT},
        {"FLAG nomipmap\n", GFX_NOMIP},                           // substrings count
        {"FLAG NOMIP\n", 0},                                      // case counts
        {"FLAG repeat\nFLAG nomip\n", GFX_NOMIP},                 // the last line wins
        {"FLAG repeat\nFLAG\n", 0},                               // a bare FLAG clears
        {"FLAG\trepeat\n", 0},                                    // the tab ends the line
        {"FLAG repeat\r\nFLAG nofilter nomip\r\n", GFX_NOFILTER | GFX_NOMIP},
        {"flag repeat\nOTHER nomip\n", 0},
    };
    for (const flagcase &fc : flagcases) {
        gfx_writetext("sheet.ini", fc.text);
        image = gfx_loadasset("sheet.tga", 1);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->flags, fc.flags) << fc.text;
        EXPECT_EQ(image->numframes, 1) << fc.text;
    }
}

TEST_F(gfx_assets, FrameLinesReadUpToSixNumbers)
{
    ASSERT_TRUE(quorrel_writetga("atlas.tga", quorrel_makepicture(256, 128, 3, 0), false));
    gfx_writetext("atlas.ini",
                  "FRAME 0 0 64 32\r\n"
                  "FRAME 10 20\r\n"
                  "FRAME -5 +6 7 8 9 10 11\r\n"
                  "FRAME 1 2 x 4\r\n"
                  "FRAME\t3 4\r\n"
                  "FRAME 99999999999 -99999999999\r\n"
                  "FRAME");
    gfx_image *image = gfx_loadasset("atlas.tga", 1);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->numframes, 7);
    const gfx_frame *f = image->frames;
    EXPECT_FLOAT_EQ(f[0].s0, 0.0f);
    EXPECT_FLOAT_EQ(f[0].t0, 1.0f);
    EXPECT_FLOAT_EQ(f[0].s1, 0.25f);
    EXPECT_FLOAT_EQ(f[0].t1, 0.75f);

    const int32_t want[7][6] = {
        {0, 0, 64, 32, 0, 0},
        {10, 20, 0, 0, 0, 0},
        {-5, 6, 7, 8, 9, 10},
        {1, 2, 0, 0, 0, 0},                  // reading stops at the first non-number
        {0, 0, 0, 0, 0, 0},                  // a tab ends the line: FRAME without numbers
        {INT32_MAX, INT32_MIN, 0, 0, 0, 0},  // out-of-range numbers are clamped
        {0, 0, 0, 0, 0, 0},                  // the last line, without a line end
    };
    for (int i = 0; i < 7; i++) {
        const int32_t got[6] = {f[i].x, f[i].y, f[i].w, f[i].h, f[i].aux0, f[i].aux1};
        for (int k = 0; k < 6; k++)
            EXPECT_EQ(got[k], want[i][k]) << "frame " << i << " number " << k;
        // The coordinates follow the stored rectangle, even outside the image.
        EXPECT_FLOAT_EQ(f[i].s0, static_cast<float>(f[i].x / 256.0)) << i;
        EXPECT_FLOAT_EQ(f[i].s1, static_cast<float>((static_cast<double>(f[i].x) + f[i].w) / 256.0)) << i;
        EXPECT_FLOAT_EQ(f[i].t0, static_cast<float>((128.0 - f[i].y) / 128.0)) << i;
    }
    finish();
    EXPECT_NE(logtext.find("atlas.ini 7 frames\n"), std::string::npos) << logtext;
}

TEST_F(gfx_assets, NoDescriptorMeansDefaultFrameAndNoLog)
{
    ASSERT_TRUE(quorrel_writetga("plain.tga", quorrel_makepicture(8, 4, 4, 0), false));
    gfx_image *image = gfx_loadasset("plain.tga", 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(gfx_numimages, 0);
    EXPECT_STREQ(image->name, "plain.tga");
    EXPECT_EQ(image->flags, 0);
    ASSERT_EQ(image->numframes, 1);
    EXPECT_EQ(image->frames[0].w, 8);
    EXPECT_EQ(image->frames[0].h, 4);
    gfx_freeimage(image);

    // Only the last four characters give way to ".ini".
    ASSERT_TRUE(quorrel_writebmp("foo.jpeg", quorrel_makepicture(2, 2, 3, 0)));
    gfx_writetext("foo..ini", "FLAG repeat\n");
    image = gfx_loadasset("foo.jpeg", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->flags, GFX_REPEAT);
    finish();
    EXPECT_EQ(logtext.find("plain"), std::string::npos) << logtext;
    EXPECT_NE(logtext.find("foo..ini \n"), std::string::npos) << logtext;
}

TEST_F(gfx_assets, FailuresAreReportedAndLeaveNothingBehind)
{
    EXPECT_EQ(gfx_loadasset("nothing.tga", 1), nullptr);
    gfx_writetext("ghost.ini", "FLAG repeat\nMASK a.png\n");
    EXPECT_EQ(gfx_loadasset("ghost.tga", 1), nullptr);

    ASSERT_TRUE(quorrel_writebmp("deep.bmp", quorrel_makepicture(4, 4, 2, 0)));
    EXPECT_EQ(gfx_loadasset("deep.bmp", 1), nullptr);

    // Names: fewer than four characters, or more than 61 (the path must fit an image name).
    ASSERT_TRUE(quorrel_writetga("a.t", quorrel_makepicture(2, 2, 4, 0), false));
    EXPECT_EQ(gfx_loadasset("a.t", 1), nullptr);
    const std::string longest = std::string(57, 'n') + ".tga";
    const std::string toolong = std::string(58, 'n') + ".tga";
    ASSERT_TRUE(quorrel_writetga(longest, quorrel_makepicture(2, 2, 4, 0), false));
    ASSERT_TRUE(quorrel_writetga(toolong, quorrel_makepicture(2, 2, 4, 0), false));
    EXPECT_EQ(gfx_loadasset(toolong.c_str(), 1), nullptr);
    gfx_image *image = gfx_getasset("%s", longest.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(gfx_getasset("%s", longest.c_str()), image);  // found again by its name
    EXPECT_EQ(gfx_numimages, 1);

    finish();
    EXPECT_NE(logtext.find("ERROR: File not found: nothing.tga\n"), std::string::npos) << logtext;
    EXPECT_NE(logtext.find("ghost.ini alpha: a.png ERROR: File not found: ghost.tga\n"), std::string::npos);
    EXPECT_NE(logtext.find("ERROR: Can't load image ./deep.bmp\n"), std::string::npos) << logtext;
    EXPECT_NE(logtext.find("ERROR: Asset name too short: a.t\n"), std::string::npos) << logtext;
    EXPECT_NE(logtext.find("ERROR: Asset name too long: " + toolong + "\n"), std::string::npos);
}

TEST_F(gfx_assets, FrameTableThatCannotBeAllocatedFreesTheImage)
{
    ASSERT_TRUE(quorrel_writetga("framed.tga", quorrel_makepicture(4, 4, 4, 0), false));
    gfx_writetext("framed.ini", "FRAME 0 0 2 2\nFRAME 2 2 2 2\n");
    // Leave exactly three free slots in the allocation table: the record, the default
    // frame and the pixels take them, so the descriptor's frame table finds none.
    std::vector<void *> fillers;
    int32_t freeslots = 0;
    for (int32_t i = 0; i < IO_MAXALLOCS; i++)
        freeslots += inout.allocs[i].ptr ? 0 : 1;
    for (int32_t i = 0; i < freeslots - 3; i++)
        fillers.push_back(io_calloc(1, 1, 1));
    EXPECT_EQ(gfx_loadasset("framed.tga", 1), nullptr);
    EXPECT_EQ(gfx_numimages, 0);
    EXPECT_EQ(gfx_images[0], nullptr);
    for (void *block : fillers)
        io_free(block);

    // With room again the same asset loads.
    gfx_image *image = gfx_loadasset("framed.tga", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->numframes, 2);
    finish();
    EXPECT_NE(logtext.find("framed.ini 2 frames"
                           "ERROR: io_calloc - couldn't allocate\n"
                           "ERROR: gfx_loadasset: couldn't allocate frames for framed.tga\n"),
              std::string::npos) << logtext;
}

TEST_F(gfx_assets, GetassetLoadsOnceAndRetriesFailures)
{
    EXPECT_EQ(gfx_getasset("late%d.tga", 1), nullptr);  // not there yet: not remembered
    ASSERT_TRUE(quorrel_writetga("late1.tga", quorrel_makepicture(2, 2, 4, 0), false));
    gfx_image *image = gfx_getasset("late%d.tga", 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(gfx_findimage("late1.tga"), image);
    EXPECT_EQ(gfx_findimage("late1"), nullptr);

    // Found by name from now on, even after the file is gone.
    ASSERT_EQ(remove("late1.tga"), 0);
    EXPECT_EQ(gfx_getasset("late1.tga"), image);
    EXPECT_EQ(gfx_numimages, 1);

    gfx_assetref refs[2] = {};
    snprintf(refs[0].name, sizeof(refs[0].name), "late1.tga");
    snprintf(refs[1].name, sizeof(refs[1].name), "absent.tga");
    EXPECT_EQ(gfx_resolveasset(refs, 0), image);
    EXPECT_EQ(refs[0].image, image);
    EXPECT_EQ(gfx_resolveasset(refs, 1), nullptr);
    EXPECT_EQ(refs[1].image, nullptr);
    ASSERT_TRUE(quorrel_writetga("absent.tga", quorrel_makepicture(2, 2, 4, 0), false));
    EXPECT_NE(gfx_resolveasset(refs, 1), nullptr);
    EXPECT_EQ(gfx_numimages, 2);
}

// The generator's atlas loads as the demo loads it: four blob sprites whose alpha
// is full at their centres, zero along their edges, and different from each other.
TEST_F(gfx_assets, GeneratedAtlasAndIcon)
{
    const std::string command = std::string(QUORREL_MKASSETS) + " " + dir.path;
    ASSERT_EQ(system(command.c_str()), 0);
    gfx_image *atlas = gfx_getasset("blobs.tga");
    ASSERT_NE(atlas, nullptr);
    ASSERT_EQ(atlas->width, 256);
    ASSERT_EQ(atlas->height, 256);
    ASSERT_EQ(atlas->bpp, 32);
    auto alpha = [atlas](int32_t sprite, int32_t x, int32_t y) {  // y from the bottom
        const int32_t ax = (sprite % 2) * 128 + x, ay = (sprite / 2) * 128 + y;
        return atlas->pixels[ay * atlas->pitch + ax * 4 + 3];
    };
    for (int32_t s = 0; s < 4; s++) {
        EXPECT_GE(alpha(s, 64, 64), 250) << "sprite " << s;
        for (int32_t i = 0; i < 128; i++) {
            ASSERT_EQ(alpha(s, i, 0), 0) << s;
            ASSERT_EQ(alpha(s, i, 127), 0) << s;
            ASSERT_EQ(alpha(s, 0, i), 0) << s;
            ASSERT_EQ(alpha(s, 127, i), 0) << s;
        }
        for (int32_t t = 0; t < s; t++) {
            int32_t differ = 0;
            for (int32_t y = 0; y < 128; y++)
                for (int32_t x = 0; x < 128; x++)
                    differ += std::abs(alpha(s, x, y) - alpha(t, x, y)) > 16;
            EXPECT_GT(differ, 500) << "sprites " << t << " and " << s;
        }
    }

    SDL_Surface *icon = SDL_LoadBMP("icon.bmp");
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->w, 32);
    EXPECT_EQ(icon->h, 32);
    EXPECT_EQ(icon->format->BitsPerPixel, 8);
    ASSERT_NE(icon->format->palette, nullptr);
    const uint8_t *indices = static_cast<const uint8_t *>(icon->pixels);
    EXPECT_EQ(indices[0], 0);                     // background in the corner
    EXPECT_NE(indices[16 * icon->pitch + 16], 0);  // the shape in the middle
    SDL_FreeSurface(icon);
}
