// test_badfiles_gfx.cpp -- bad pictures, descriptors and icons: each row names the
// file, whether it loads, and a line the log must show; the allocation report
// must end with nothing left
#include "tests/fuzz/fuzz_seeds.h"
#include "tests/gfx/glcontext.h"

namespace {

// An empty message means the log holds no error line at all.
struct gfx_badrow {
    const char *what;
    const char *name;       // icon.bmp goes through gfx_seticon, any other through gfx_loadasset
    fuzz_bytes bytes;
    bool loads;             // the asset loads, or the icon gets its mask
    std::string message;
    std::string descriptor = ""; // the asset's ".ini" text, none when empty
};

TEST(BadFiles, PicturesDescriptorsAndIcons)
{
    for (int tries = 0; tries < 40 && SDL_Init(SDL_INIT_VIDEO) != 0; tries++)
        usleep(50000);
    ASSERT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u) << SDL_GetError();
    const fuzz_bytes tga = fuzz_tga(8, 8, 4), bmp = fuzz_bmp(8, 8, 3), png = fuzz_png(8, 8, 4);
    const fuzz_bytes icon = fuzz_bmp(32, 32, 1), wav = fuzz_wav(1, 1, 44100, 16, 0);
    const std::string notga = "ERROR: File not found: pic.tga\n", nobmp = "ERROR: File not found: pic.bmp\n";
    const std::string nopng = "ERROR: File not found: pic.png\n", noicon = "ERROR: icon file not found!\n";
    const std::string nomask = "ERROR: icon.bmp is not an 8-bit palette image: no transparency\n";
    std::string manyframes, binary;
    for (int32_t i = 0; i < 5000; i++)
        manyframes += "FRAME 0 0 1 1\n";
    for (int32_t i = 0; i < 600; i++)
        binary += static_cast<char>((i * 37) & 255);
    const gfx_badrow rows[] = {
        {"TGA: good", "pic.tga", tga, true, ""},
        {"TGA: empty", "pic.tga", {}, false, notga},
        {"TGA: cut inside the header", "pic.tga", fuzz_cut(tga, 7), false, notga},
        {"TGA: cut inside the pixels keeps what was read", "pic.tga", fuzz_cut(tga, 18 + 100), true, ""},
        {"TGA: a WAV under the name", "pic.tga", wav, false, notga},
        {"TGA: 65535 x 65535 pixels", "pic.tga", fuzz_put(tga, 12, 0xFFFFFFFF, 4), false, notga},
        {"TGA: 16 bits per pixel", "pic.tga", fuzz_put(fuzz_put(tga, 12, 16, 2), 16, 16, 1), false,
         "ERROR: Can't load image ./pic.tga\n"},
        {"BMP: good", "pic.bmp", bmp, true, ""},
        {"BMP: empty", "pic.bmp", {}, false, nobmp},
        {"BMP: cut inside the pixels", "pic.bmp", fuzz_cut(bmp, 54 + 100), false, nobmp},
        {"BMP: a TGA under the name", "pic.bmp", fuzz_tga(4, 4, 4), false, nobmp},
        {"BMP: 30000 x 30000 pixels", "pic.bmp", fuzz_put(fuzz_put(bmp, 18, 30000, 4), 22, 30000, 4), false, nobmp},
        {"BMP: 16 bits per pixel", "pic.bmp", fuzz_bmp(4, 4, 2), false, "ERROR: Can't load image ./pic.bmp\n"},
        {"PNG: good", "pic.png", png, true, ""},
        {"PNG: empty", "pic.png", {}, false, nopng},
        {"PNG: cut inside the data", "pic.png", fuzz_cut(png, png.size() / 2), false, nopng},
        {"PNG: text under the name", "pic.png", {'n', 'o', '\n'}, false, nopng},
        {"PNG: width 2^31 - 1 (big-endian at 16)", "pic.png", fuzz_put(png, 16, 0xFF7F, 2), false, nopng},
        {"PNG: two channels with shorter rows", "pic.png", fuzz_png(4, 4, 2), false, nopng},
        {"descriptor: binary junk", "pic.tga", tga, true, "", binary},
        {"descriptor: numbers beyond 32 bits", "pic.tga", tga, true, "1 frames",
         "FRAME 99999999999 -99999999999 4294967296 -1 x\n"},
        {"descriptor: 5000 frames", "pic.tga", tga, true, "5000 frames", manyframes},
        {"descriptor: a mask of the wrong depth", "pic.tga", tga, true,
         "ERROR: Alpha image ./pic.tga ignored: ./pic.tga is not 24-bit\n", "MASK pic.tga\n"},
        {"icon: good", "icon.bmp", icon, true, ""},
        {"icon: empty", "icon.bmp", {}, false, noicon},
        {"icon: cut inside the palette", "icon.bmp", fuzz_cut(icon, 300), false, noicon},
        {"icon: a PNG under the name", "icon.bmp", fuzz_png(32, 32, 4), false, noicon},
        {"icon: 40000 x 40000 pixels", "icon.bmp", fuzz_put(fuzz_put(icon, 18, 40000, 4), 22, 40000, 4), false,
         noicon},
        {"icon: 24 bits per pixel", "icon.bmp", fuzz_bmp(32, 32, 3), false, nomask},
    };
    for (const gfx_badrow &row : rows) {
        SCOPED_TRACE(row.what);
        quorrel_tempdir dir;
        ASSERT_FALSE(dir.path.empty());
        io_init();
        ASSERT_TRUE(fuzz_writefile(row.name, row.bytes));
        if (!row.descriptor.empty()) {
            ASSERT_TRUE(fuzz_writefile("pic.ini", fuzz_bytes(row.descriptor.begin(), row.descriptor.end())));
        }
        if (std::string(row.name) == "icon.bmp") {
            gfx_seticon();
            EXPECT_TRUE(!row.loads || inout.maxbytes > 0) << "the mask was made";
        } else {
            gfx_numimages = 0;
            gfx_images = static_cast<gfx_image **>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image *), 201));
            gfx_image *image = gfx_loadasset(row.name, 1);
            EXPECT_EQ(image != nullptr, row.loads);
            EXPECT_EQ(gfx_numimages, image ? 1 : 0);
            EXPECT_TRUE(!image || image->pitch == image->width * (image->bpp / 8));
            gfx_freeallimages();
            io_free(gfx_images);
            gfx_images = nullptr;
        }
        EXPECT_EQ(inout.curbytes, 0);
        io_deinit();
        const std::string log = quorrel_readlog();
        EXPECT_EQ(row.message.empty() ? log.find("ERROR") == std::string::npos : log.find(row.message) != std::string::npos,
                  true) << "wanted: " << (row.message.empty() ? "no error" : row.message) << "\n" << log;
        EXPECT_NE(log.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << log;
    }
    SDL_Quit();
}

}  // namespace
