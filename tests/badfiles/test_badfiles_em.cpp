// test_badfiles_em.cpp -- bad WAV files into the sample bank and bad Ogg files
// through the music node: each row names the file, whether it is usable and the
// error line the engine must print; its report at shutdown shows nothing left
#include "tests/em/em_harness.h"
#include "tests/fuzz/fuzz_seeds.h"

namespace {

// An empty message means standard error stays empty; %s stands for the path.
struct em_badrow {
    const char *what;
    bool ogg;
    fuzz_bytes bytes;
    bool usable;
    std::string message;
};

// The checksum of an Ogg page of size bytes at the start of the file.
fuzz_bytes em_fixoggcrc(fuzz_bytes bytes, size_t size)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < size; i++) {
        crc ^= static_cast<uint32_t>(i >= 22 && i < 26 ? 0 : bytes[i]) << 24;
        for (int k = 0; k < 8; k++)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return fuzz_put(bytes, 22, crc, 4);
}

TEST(BadFiles, WavAndOggFiles)
{
    const fuzz_bytes wav = fuzz_wav(1, 2, 22050, 16, 400), ogg = fuzz_ogg(2, 44100, 200000);
    ASSERT_GT(ogg.size(), 15000u);
    // The first page holds the 30-byte identification packet after 28 bytes:
    // channels at 11 of it.
    const size_t firstpage = 28 + 30;
    const std::string cantread = "ERROR: em_loadsample: can't read %s: ";
    const std::string cantuse = "ERROR: em_loadsample: can't use %s: ";
    const std::string cantopen = "ERROR: em_openoggmusic: can't open %s\n";
    const em_badrow rows[] = {
        {"WAV: good", false, wav, true, ""},
        {"WAV: empty", false, {}, false, cantread},
        {"WAV: cut inside the format chunk", false, fuzz_cut(wav, 30), false, cantread},
        {"WAV: cut inside the data", false, fuzz_cut(wav, 44 + 101), false, cantread},
        {"WAV: an Ogg file under the name", false, ogg, false, cantread},
        {"WAV: a data length of 4 GiB", false, fuzz_put(wav, 40, 0xFFFFFFF0u, 4), false, cantread},
        {"WAV: rate 2^31 - 1", false, fuzz_put(wav, 24, 0x7FFFFFFF, 4), false, cantuse + "sample rate out of range\n"},
        {"WAV: 0 channels", false, fuzz_put(wav, 22, 0, 2), false, cantuse + "no whole frame of sound\n"},
        {"WAV: 24 bits per value", false, fuzz_wav(1, 1, 44100, 24, 300), false, cantread},
        {"Ogg: good", true, ogg, true, ""},
        {"Ogg: empty", true, {}, false, cantopen},
        {"Ogg: cut inside the setup header", true, fuzz_cut(ogg, 400), false, cantopen},
        {"Ogg: cut inside the sound plays what is there", true, fuzz_cut(ogg, ogg.size() * 3 / 4), true, ""},
        {"Ogg: a WAV file under the name", true, wav, false, cantopen},
        {"Ogg: three channels", true, fuzz_ogg(3, 44100, 3000), false, cantopen},
        {"Ogg: 255 channels", true, em_fixoggcrc(fuzz_put(ogg, 28 + 11, 255, 1), firstpage), false, cantopen},
        {"Ogg: a damaged page checksum", true, fuzz_put(ogg, 22, ogg[22] ^ 1u, 1), false, cantopen},
    };
    for (const em_badrow &row : rows) {
        SCOPED_TRACE(row.what);
        emtest_tempdir dir;
        const std::string path = dir.file(row.ogg ? "bad.ogg" : "bad.wav");
        ASSERT_TRUE(fuzz_writefile(path, row.bytes));
        ASSERT_EQ(emtest_startpaused(), 0);
        const int node = row.ogg ? em_createoggmusic(em_getroot()) : em_createsampler(em_getroot(), -1);
        ASSERT_NE(node, 0);
        emtest_capture cap;
        if (row.ogg) {
            const bool played = em_playoggmusic(node, path.c_str()) == 0;
            EXPECT_EQ(played, row.usable);
            if (played)
                em_setparam(node, EMP_STATE, 3);   // once to the end
            for (int b = 0; b < 200 && em_getparam(node, EMP_STATE) > 0; b++)
                emtest_render();
            EXPECT_EQ(em_getparam(node, EMP_STATE), 0) << "the stream ends or never starts";
        } else if (const int sample = em_loadsample(path.c_str())) {
            EXPECT_TRUE(row.usable);
            EXPECT_NE(em_triggersample(node, sample), 0);
            emtest_render();
            em_freesample(sample);
            emtest_render();
        } else {
            EXPECT_FALSE(row.usable);
        }
        std::string message = row.message;
        if (message.find("%s") != std::string::npos)
            message.replace(message.find("%s"), 2, path);
        EXPECT_TRUE(message.empty() ? cap.err().empty() : cap.err().find(message) != std::string::npos)
            << "wanted: " << message << "\ngot: " << cap.err();
        emtest_capture report;
        em_deinit();
        EXPECT_NE(report.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << report.out();
    }
}

}  // namespace
