// test_badfiles.cpp -- damaged files of each kind the program and the engine read: each row names the file, whether
// it is usable and the error line it must give; the allocation report must end with nothing left
#include <regex>

#include "tests/kit/kit_em.h"
#include "tests/fuzz/fuzz_common.h"
#include "tests/kit/kit_gl.h"

namespace {

// Usable: the asset loads, the icon gets its mask, the sample loads, the music plays. An empty message: no error line.
struct badrow {
    const char *what, *name; // icon.bmp goes through gfx_seticon, other pictures through gfx_loadasset
    fuzz_bytes bytes;
    bool usable;
    std::string message, descriptor = ""; // the asset's ".ini" text, none when empty
};

void expectmessage(const badrow& row, const std::string& text)
{
    EXPECT_TRUE(row.message.empty() ? text.find("ERROR") == std::string::npos : text.find(row.message) != std::string::npos)
        << "wanted: " << (row.message.empty() ? "no error" : row.message) << "\ngot: " << text;
}

TEST(BadFiles, PicturesDescriptorsAndIcons)
{
    ASSERT_EQ(kit_sdlinit(), 0) << "icons are set through SDL";
    const fuzz_bytes tga = fuzz_tga(8, 8, 4), bmp = fuzz_bmp(8, 8, 3), png = fuzz_png(8, 8, 4), icon = fuzz_bmp(32, 32, 1);
    const std::string notga = "ERROR: File not found: pic.tga\n", nobmp = "ERROR: File not found: pic.bmp\n";
    const std::string nopng = "ERROR: File not found: pic.png\n", noicon = "ERROR: icon file not found!\n";
    std::string manyframes;
    for (int32_t i = 0; i < 5000; i++)
        manyframes += "FRAME 0 0 1 1\n";
    const badrow rows[] = {
        {"TGA: good", "pic.tga", tga, true, ""},
        {"TGA: empty", "pic.tga", {}, false, notga},
        {"TGA: cut inside the pixels keeps what was read", "pic.tga", fuzz_cut(tga, 18 + 100), true, ""},
        {"TGA: a WAV under the name", "pic.tga", fuzz_wav(1, 1, 44100, 16, 0), false, notga},
        {"TGA: 65535 x 65535 pixels", "pic.tga", fuzz_put(tga, 12, 0xFFFFFFFF, 4), false, notga},
        {"TGA: 16 bits per pixel", "pic.tga", fuzz_put(fuzz_put(tga, 12, 16, 2), 16, 16, 1), false,
         "ERROR: Can't load image ./pic.tga\n"},
        {"BMP: good", "pic.bmp", bmp, true, ""},
        {"BMP: empty", "pic.bmp", {}, false, nobmp},
        {"BMP: cut inside the pixels", "pic.bmp", fuzz_cut(bmp, 54 + 100), false, nobmp},
        {"BMP: a TGA under the name", "pic.bmp", tga, false, nobmp},
        {"BMP: 30000 x 30000 pixels", "pic.bmp", fuzz_put(fuzz_put(bmp, 18, 30000, 4), 22, 30000, 4), false, nobmp},
        {"BMP: 16 bits per pixel", "pic.bmp", fuzz_bmp(4, 4, 2), false, "ERROR: Can't load image ./pic.bmp\n"},
        {"PNG: good", "pic.png", png, true, ""},
        {"PNG: empty", "pic.png", {}, false, nopng},
        {"PNG: cut inside the data", "pic.png", fuzz_cut(png, png.size() / 2), false, nopng},
        {"PNG: a BMP under the name decodes by its content", "pic.png", bmp, true, ""},
        {"PNG: width 2^31 - 1 (big-endian at 16)", "pic.png", fuzz_put(png, 16, 0xFF7F, 2), false, nopng},
        {"PNG: two channels with shorter rows", "pic.png", fuzz_png(4, 4, 2), false, nopng},
        {"descriptor: numbers beyond 32 bits", "pic.tga", tga, true, "1 frames", "FRAME 99999999999 -1 4294967296\n"},
        {"descriptor: 5000 frames", "pic.tga", tga, true, "5000 frames", manyframes},
        {"descriptor: a mask of the wrong depth", "pic.tga", tga, true,
         "ERROR: Alpha image ./pic.tga ignored: ./pic.tga is not 24-bit\n", "MASK pic.tga\n"},
        {"icon: good", "icon.bmp", icon, true, ""},
        {"icon: empty", "icon.bmp", {}, false, noicon},
        {"icon: cut inside the palette", "icon.bmp", fuzz_cut(icon, 300), false, noicon},
        {"icon: a PNG under the name", "icon.bmp", png, false, noicon},
        {"icon: 40000 x 40000 pixels", "icon.bmp", fuzz_put(fuzz_put(icon, 18, 40000, 4), 22, 40000, 4), false, noicon},
        {"icon: 24 bits per pixel", "icon.bmp", fuzz_bmp(32, 32, 3), false,
         "ERROR: icon.bmp is not an 8-bit palette image: no transparency\n"},
    };
    for (const badrow& row : rows) {
        SCOPED_TRACE(row.what);
        kit_tempdir dir {true};
        io_init();
        ASSERT_TRUE(kit_writefile(row.name, row.bytes));
        ASSERT_TRUE(row.descriptor.empty() || kit_writefile("pic.ini", fuzz_bytes(row.descriptor.begin(), row.descriptor.end())));
        if (std::string(row.name) == "icon.bmp") {
            gfx_seticon();
            EXPECT_TRUE(!row.usable || inout.maxbytes > 0) << "the mask was made";
        } else {
            gfx_numimages = 0;
            gfx_images = static_cast<gfx_image**>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image*), 201));
            gfx_image* image = gfx_loadasset(row.name, 1);
            EXPECT_EQ(image != nullptr, row.usable);
            EXPECT_EQ(gfx_numimages, image ? 1 : 0);
            EXPECT_TRUE(!image || image->pitch == image->width * (image->bpp / 8));
            gfx_freeallimages();
            io_free(gfx_images);
        }
        io_deinit();
        expectmessage(row, kit_readfile("log.txt"));
        EXPECT_NE(kit_readfile("log.txt").find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    }
    SDL_Quit();
}

TEST(BadFiles, WavAndOggFiles)
{
    const fuzz_bytes wav = fuzz_wav(1, 2, 22050, 16, 400), ogg = fuzz_ogg(2, 44100, 200000);
    ASSERT_GT(ogg.size(), 15000u);
    // The bank prints nothing: a WAV row's message is the reason em_sampleerror gives.
    const std::string cantread = "not a WAV file the engine reads (", cutshort = "the file ends before its data does";
    const std::string cantopen = "ERROR: em_openoggmusic: can't open bad.ogg\n";
    const badrow rows[] = {
        {"WAV: good", "bad.wav", wav, true, ""},
        {"WAV: missing", "none.wav", {}, false, "No such file or directory"},
        {"WAV: empty", "bad.wav", {}, false, cantread},
        {"WAV: cut inside the format chunk", "bad.wav", fuzz_cut(wav, 30), false, cutshort},
        {"WAV: cut inside the data", "bad.wav", fuzz_cut(wav, 44 + 101), false, cutshort},
        {"WAV: an Ogg file under the name", "bad.wav", ogg, false, cantread},
        {"WAV: a data length of 4 GiB", "bad.wav", fuzz_put(wav, 40, 0xFFFFFFF0u, 4), false, cutshort},
        {"WAV: rate 2^31 - 1", "bad.wav", fuzz_put(wav, 24, 0x7FFFFFFF, 4), false, "sample rate out of range"},
        {"WAV: 0 channels", "bad.wav", fuzz_put(wav, 22, 0, 2), false, "0 channels: the engine plays 1 or 2"},
        {"WAV: 3 channels", "bad.wav", fuzz_wav(1, 3, 44100, 16, 600), false, "3 channels: the engine plays 1 or 2"},
        {"WAV: 24 bits per value", "bad.wav", fuzz_wav(1, 1, 44100, 24, 300), false, "24-bit WAV: load it with em_loadsound"},
        {"Ogg: good", "bad.ogg", ogg, true, ""},
        {"Ogg: empty", "bad.ogg", {}, false, cantopen},
        {"Ogg: cut inside the setup header", "bad.ogg", fuzz_cut(ogg, 400), false, cantopen},
        {"Ogg: cut inside the sound plays what is there", "bad.ogg", fuzz_cut(ogg, ogg.size() * 3 / 4), true, ""},
        {"Ogg: a WAV file under the name", "bad.ogg", wav, false, cantopen},
        {"Ogg: three channels", "bad.ogg", fuzz_ogg(3, 44100, 3000), false, cantopen},
        {"Ogg: a damaged page checksum", "bad.ogg", fuzz_put(ogg, 22, ogg[22] ^ 1u, 1), false, cantopen},
    };
    for (const badrow& row : rows) {
        SCOPED_TRACE(row.what);
        remove(row.name);
        ASSERT_TRUE(row.name == std::string("none.wav") || kit_writefile(row.name, row.bytes));
        ASSERT_EQ(kit_startpaused(), 0);
        const bool ogg = std::string(row.name).find(".ogg") != std::string::npos;
        const int node = ogg ? em_createoggmusic(em_getroot()) : em_createsampler(em_getroot(), -1);
        kit_capture cap;
        if (ogg) {
            const bool played = em_playoggmusic(node, row.name) == 0;
            EXPECT_EQ(played, row.usable);
            if (played)
                em_setparam(node, EMP_STATE, 3); // once to the end
            for (int b = 0; b < 200 && em_getparam(node, EMP_STATE) > 0; b++)
                kit_render();
            EXPECT_EQ(em_getparam(node, EMP_STATE), 0) << "the stream ends or never starts";
        } else if (const int sample = em_loadsample(row.name)) {
            EXPECT_TRUE(row.usable);
            EXPECT_STREQ(em_sampleerror(), "");
            EXPECT_NE(em_triggersample(node, sample), 0);
            kit_render();
            em_freesample(sample);
            kit_render();
        } else {
            EXPECT_FALSE(row.usable);
            EXPECT_NE(std::string(em_sampleerror()).find(row.message), std::string::npos) << em_sampleerror();
        }
        if (ogg)
            expectmessage(row, cap.err());
        else // the address sanitizer's warning of the huge allocation SDL's reader asks for and gets refused aside
            EXPECT_EQ(std::regex_replace(cap.err(), std::regex(".*AddressSanitizer.*\n?"), ""), "") << "the bank prints nothing";
        kit_stopengine();
    }
}

} // namespace
