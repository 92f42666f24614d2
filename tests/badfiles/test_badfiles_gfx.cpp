// test_badfiles_gfx.cpp -- bad picture, descriptor and icon files: each row names
// the file, the message the log must show, whether the load succeeds, and that
// the allocation report ends with nothing left
#include "badfiles.h"
#include "tests/gfx/glcontext.h"
#include "tests/gfx/imagefiles.h"

#include <string>
#include <vector>

namespace {

// One bad file. An empty message means the log must hold no error line at all.
struct gfx_badrow {
    const char *what;
    const char *name;               // written in the working directory
    std::vector<uint8_t> bytes;
    std::string descriptor;         // the asset's ".ini" text, none when empty
    bool loads;                     // the asset loads (or the icon gets a mask)
    std::string message;            // a line the log must contain
};

// The bytes a generator writes for a picture.
std::vector<uint8_t> gfx_tgabytes(int32_t w, int32_t h, int32_t channels)
{
    quorrel_tempdir dir;
    quorrel_writetga("p.tga", quorrel_makepicture(w, h, channels, 3), false);
    return badfile_read("p.tga");
}

std::vector<uint8_t> gfx_bmpbytes(int32_t w, int32_t h, int32_t channels)
{
    quorrel_tempdir dir;
    quorrel_writebmp("p.bmp", quorrel_makepicture(w, h, channels, 5));
    return badfile_read("p.bmp");
}

std::vector<uint8_t> gfx_pngbytes(int32_t w, int32_t h, int32_t channels)
{
    quorrel_tempdir dir;
    quorrel_writepng("p.png", quorrel_makepicture(w, h, channels, 7));
    return badfile_read("p.png");
}

// A few bytes of another kind of file: the header of an empty WAV file.
std::vector<uint8_t> gfx_wavbytes()
{
    std::vector<uint8_t> bytes = badfile_text("RIFF....WAVEfmt ");
    bytes = badfile_put32(bytes, 4, 36);
    const uint16_t fields[] = {16, 0, 1, 1, 0xAC44, 0, 0x5888, 1, 2, 16};
    for (const uint16_t field : fields) {
        bytes.push_back(static_cast<uint8_t>(field & 255));
        bytes.push_back(static_cast<uint8_t>(field >> 8));
    }
    const std::vector<uint8_t> data = badfile_text("data");
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize(bytes.size() + 4, 0);
    return bytes;
}

// The report lines that say nothing was left allocated.
void gfx_expectclean(const std::string &log)
{
    EXPECT_NE(log.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR: name "), std::string::npos) << log;
}

void gfx_expectmessage(const gfx_badrow &row, const std::string &log)
{
    if (row.message.empty())
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    else
        EXPECT_NE(log.find(row.message), std::string::npos) << "wanted: " << row.message << "\n" << log;
}

// Loads the row's file as an asset with a fresh io service and image list.
void gfx_runasset(const gfx_badrow &row)
{
    SCOPED_TRACE(row.what);
    quorrel_tempdir dir;
    ASSERT_FALSE(dir.path.empty());
    io_init();
    gfx_numimages = 0;
    gfx_images = static_cast<gfx_image **>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image *), 201));
    ASSERT_NE(gfx_images, nullptr);
    ASSERT_TRUE(badfile_write(row.name, row.bytes));
    if (!row.descriptor.empty()) {
        std::string ini = row.name;
        ini.replace(ini.size() - 4, 4, ".ini");
        ASSERT_TRUE(badfile_write(ini, badfile_text(row.descriptor)));
    }
    gfx_image *image = gfx_loadasset(row.name, 1);
    EXPECT_EQ(image != nullptr, row.loads);
    if (image) {
        EXPECT_TRUE(image->bpp == 8 || image->bpp == 24 || image->bpp == 32);
        EXPECT_EQ(image->pitch, image->width * (image->bpp / 8));
        EXPECT_GE(image->numframes, 1);
        EXPECT_EQ(gfx_numimages, 1);
    } else {
        EXPECT_EQ(gfx_numimages, 0);
    }
    gfx_freeallimages();
    io_free(gfx_images);
    gfx_images = nullptr;
    EXPECT_EQ(inout.curbytes, 0);
    io_deinit();
    const std::string log = quorrel_readlog();
    gfx_expectmessage(row, log);
    gfx_expectclean(log);
}

TEST(BadPictures, TgaFiles)
{
    const std::vector<uint8_t> good = gfx_tgabytes(8, 8, 4);   // 18-byte header, 256 pixel bytes
    const char *notfound = "ERROR: File not found: pic.tga\n";
    const gfx_badrow rows[] = {
        {"the good file", "pic.tga", good, "", true, ""},
        {"empty", "pic.tga", {}, "", false, notfound},
        {"cut inside the header", "pic.tga", badfile_cut(good, 7), "", false, notfound},
        // The decoder keeps what it read of a cut pixel block; the rest stays zero.
        {"cut after the header", "pic.tga", badfile_cut(good, 18), "", true, ""},
        {"cut inside the pixels", "pic.tga", badfile_cut(good, 18 + 100), "", true, ""},
        {"cut one byte short", "pic.tga", badfile_cut(good, good.size() - 1), "", true, ""},
        {"a WAV under the name", "pic.tga", gfx_wavbytes(), "", false, notfound},
        {"text under the name", "pic.tga", badfile_text("FRAME 0 0 8 8\n"), "", false, notfound},
        {"a PNG under the name", "pic.tga", gfx_pngbytes(4, 4, 4), "", false, notfound},
        {"65535 x 65535 pixels", "pic.tga", badfile_put16(badfile_put16(good, 12, 65535), 14, 65535), "",
         false, notfound},
        {"width 0", "pic.tga", badfile_put16(good, 12, 0), "", true, ""},
        {"16 bits per pixel", "pic.tga", badfile_put8(badfile_put16(good, 12, 16), 16, 16), "", false,
         "ERROR: Can't load image ./pic.tga\n"},
        {"7 bits per pixel", "pic.tga", badfile_put8(good, 16, 7), "", false, notfound},
        {"an unknown image type", "pic.tga", badfile_put8(good, 2, 77), "", false, notfound},
        {"run-length type with raw data", "pic.tga", badfile_put8(good, 2, 10), "", true, ""},
        {"an ID field longer than the file", "pic.tga", badfile_put8(good, 0, 255), "", true, ""},
    };
    for (const gfx_badrow &row : rows)
        gfx_runasset(row);
}

TEST(BadPictures, BmpFiles)
{
    const std::vector<uint8_t> good = gfx_bmpbytes(8, 8, 3);   // 54-byte headers, 8 rows of 24 bytes
    const char *notfound = "ERROR: File not found: pic.bmp\n";
    const char *cantload = "ERROR: Can't load image ./pic.bmp\n";
    const gfx_badrow rows[] = {
        {"the good file", "pic.bmp", good, "", true, ""},
        {"empty", "pic.bmp", {}, "", false, notfound},
        // The decoder hands back a surface without a usable depth.
        {"cut inside the file header", "pic.bmp", badfile_cut(good, 10), "", false, cantload},
        {"cut inside the info header", "pic.bmp", badfile_cut(good, 30), "", false, notfound},
        {"cut after the headers", "pic.bmp", badfile_cut(good, 54), "", false, notfound},
        {"cut inside the pixels", "pic.bmp", badfile_cut(good, 54 + 100), "", false, notfound},
        {"a WAV under the name", "pic.bmp", gfx_wavbytes(), "", false, notfound},
        {"a TGA under the name", "pic.bmp", gfx_tgabytes(4, 4, 4), "", false, notfound},
        {"width 2^31 - 1", "pic.bmp", badfile_put32(good, 18, 0x7FFFFFFF), "", false, notfound},
        {"height 2^31 - 1", "pic.bmp", badfile_put32(good, 22, 0x7FFFFFFF), "", false, notfound},
        {"30000 x 30000 pixels", "pic.bmp", badfile_put32(badfile_put32(good, 18, 30000), 22, 30000), "",
         false, notfound},
        {"pixel offset past the end", "pic.bmp", badfile_put32(good, 10, 0x7FFFFFF0), "", false, notfound},
        {"16 bits per pixel", "pic.bmp", gfx_bmpbytes(4, 4, 2), "", false, cantload},
        {"0 bits per pixel", "pic.bmp", badfile_put16(good, 28, 0), "", false, cantload},
        {"an unknown compression", "pic.bmp", badfile_put32(good, 30, 9), "", true, ""},
    };
    for (const gfx_badrow &row : rows)
        gfx_runasset(row);
}

TEST(BadPictures, PngFiles)
{
    const std::vector<uint8_t> good = gfx_pngbytes(8, 8, 4);
    const char *notfound = "ERROR: File not found: pic.png\n";
    const gfx_badrow rows[] = {
        {"the good file", "pic.png", good, "", true, ""},
        {"empty", "pic.png", {}, "", false, notfound},
        {"only the signature", "pic.png", badfile_cut(good, 8), "", false, notfound},
        {"cut inside the header chunk", "pic.png", badfile_cut(good, 20), "", false, notfound},
        {"cut inside the data", "pic.png", badfile_cut(good, good.size() / 2), "", false, notfound},
        {"a BMP under the name decodes by its content", "pic.png", gfx_bmpbytes(4, 4, 3), "", true, ""},
        {"text under the name", "pic.png", badfile_text("not a picture\n"), "", false, notfound},
        // Width and height sit at bytes 16 and 20, big-endian; the chunk's CRC no longer fits.
        {"width 2^31 - 1", "pic.png", badfile_put8(badfile_put8(good, 16, 0x7F), 17, 0xFF), "", false, notfound},
        {"rows shorter than the header says", "pic.png", gfx_pngbytes(4, 4, 2), "", false, notfound},
    };
    for (const gfx_badrow &row : rows)
        gfx_runasset(row);
}

TEST(BadDescriptors, DescriptorTextNeverBreaksTheAsset)
{
    const std::vector<uint8_t> picture = gfx_tgabytes(8, 8, 4);
    std::string manyframes;
    for (int32_t i = 0; i < 5000; i++)
        manyframes += "FRAME 0 0 1 1\n";
    const std::string longline = "FRAME " + std::string(5000, '7') + "\n";
    const std::string longmask = "MASK " + std::string(3000, 'm') + ".bmp\n";
    std::string binary;
    for (int32_t i = 0; i < 600; i++)
        binary += static_cast<char>((i * 37) & 255);
    const gfx_badrow rows[] = {
        {"an empty descriptor", "pic.tga", picture, "\n", true, ""},
        {"binary junk", "pic.tga", picture, binary, true, ""},
        {"numbers beyond 32 bits", "pic.tga", picture, "FRAME 99999999999 -99999999999 4294967296 -1 x\n",
         true, "1 frames"},
        {"5000 frames", "pic.tga", picture, manyframes, true, "5000 frames"},
        {"a 5000-digit line", "pic.tga", picture, longline, true, "1 frames"},
        {"a mask name longer than any path", "pic.tga", picture, longmask, true, ""},
        {"a mask that is not a picture", "pic.tga", picture, "MASK pic.ini\n", true, ""},
        {"a mask that names the picture itself", "pic.tga", picture, "MASK pic.tga\n", true,
         "ERROR: Alpha image ./pic.tga ignored: ./pic.tga is not 24-bit\n"},
        {"keys without values", "pic.tga", picture, "FLAG\nMASK\nFRAME\n", true, "1 frames"},
        {"a key cut short by the end of the file", "pic.tga", picture, "FRAM", true, ""},
    };
    for (const gfx_badrow &row : rows)
        gfx_runasset(row);
}

// The icon through gfx_seticon, as the program sets it before the window opens.
class BadIcons : public ::testing::Test {
protected:
    void SetUp() override
    {
        int started = -1;
        for (int tries = 0; tries < 40 && started != 0; tries++) {
            started = SDL_Init(SDL_INIT_VIDEO);
            if (started != 0)
                usleep(50000);
        }
        ASSERT_EQ(started, 0) << SDL_GetError();
    }
    void TearDown() override { SDL_Quit(); }

    // loads means here: the icon was 8-bit and its mask was made (no message).
    static void run(const gfx_badrow &row)
    {
        SCOPED_TRACE(row.what);
        quorrel_tempdir dir;
        ASSERT_FALSE(dir.path.empty());
        io_init();
        if (row.name[0]) {
            ASSERT_TRUE(badfile_write(row.name, row.bytes));
        }
        gfx_seticon();
        EXPECT_EQ(inout.curbytes, 0);
        EXPECT_GE(inout.maxbytes, row.loads ? 1 : 0);
        io_deinit();
        const std::string log = quorrel_readlog();
        gfx_expectmessage(row, log);
        gfx_expectclean(log);
    }
};

TEST_F(BadIcons, IconFiles)
{
    const std::vector<uint8_t> good = gfx_bmpbytes(32, 32, 1);  // palette at 54, pixels at 1078
    const char *notfound = "ERROR: icon file not found!\n";
    const char *nomask = "ERROR: icon.bmp is not an 8-bit palette image: no transparency\n";
    const gfx_badrow rows[] = {
        {"the good file", "icon.bmp", good, "", true, ""},
        {"no file", "", {}, "", false, notfound},
        {"empty", "icon.bmp", {}, "", false, notfound},
        {"cut inside the headers", "icon.bmp", badfile_cut(good, 40), "", false, notfound},
        {"cut inside the palette", "icon.bmp", badfile_cut(good, 300), "", false, notfound},
        {"cut inside the pixels", "icon.bmp", badfile_cut(good, 1078 + 500), "", false, notfound},
        {"a PNG under the name", "icon.bmp", gfx_pngbytes(32, 32, 4), "", false, notfound},
        {"a WAV under the name", "icon.bmp", gfx_wavbytes(), "", false, notfound},
        {"width 2^31 - 1", "icon.bmp", badfile_put32(good, 18, 0x7FFFFFFF), "", false, notfound},
        {"40000 x 40000 pixels", "icon.bmp", badfile_put32(badfile_put32(good, 18, 40000), 22, 40000), "",
         false, notfound},
        {"a palette of 2^31 colours", "icon.bmp", badfile_put32(good, 46, 0x7FFFFFFF), "", false, notfound},
        {"24 bits per pixel", "icon.bmp", gfx_bmpbytes(32, 32, 3), "", false, nomask},
        {"16 bits per pixel", "icon.bmp", gfx_bmpbytes(32, 32, 2), "", false, nomask},
        {"an odd width", "icon.bmp", gfx_bmpbytes(13, 5, 1), "", true, ""},
    };
    for (const gfx_badrow &row : rows)
        run(row);
}

}  // namespace
