// test_badfiles_em.cpp -- bad WAV and Ogg Vorbis files: each row names the file,
// the error line the engine must print, whether it loads or plays, and that the
// engine's allocation report at shutdown shows nothing left
#include "badfiles.h"
#include "tests/em/em_harness.h"
#include "tests/em/em_oggwriter.h"

#include <string>
#include <vector>

namespace {

// One bad file. An empty message means standard error must stay empty.
struct em_badrow {
    const char *what;
    std::vector<uint8_t> bytes;
    bool missing;           // no file at all
    bool usable;            // the sample loads / the music plays
    std::string message;    // text standard error must contain; the path is put in for %s
};

// The message with the file's path in place of %s.
std::string em_expand(std::string text, const std::string &path)
{
    const size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

// Stops the engine and checks its report: the summary says nothing is left and
// no block is listed.
void em_stopclean()
{
    emtest_capture report;
    em_deinit();
    EXPECT_NE(report.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << report.out();
    EXPECT_EQ(report.err().find("ERROR: name "), std::string::npos) << report.err();
}

void em_expectmessage(const em_badrow &row, const std::string &path, const std::string &err)
{
    if (row.message.empty())
        EXPECT_EQ(err, "");
    else
        EXPECT_NE(err.find(em_expand(row.message, path)), std::string::npos)
            << "wanted: " << em_expand(row.message, path) << "\ngot: " << err;
}

std::vector<uint8_t> em_goodwav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, size_t bytes)
{
    emtest_tempdir dir;
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; i++)
        data[i] = static_cast<uint8_t>(i * 29 + 3);
    emtest_writewav(dir.file("w.wav"), tag, channels, rate, bits, data);
    return badfile_read(dir.file("w.wav"));
}

std::vector<uint8_t> em_goodogg(int channels, long rate, long frames)
{
    emtest_tempdir dir;
    if (emtest_writeogg(dir.file("m.ogg"), channels, rate, frames, 440) != 0)
        return {};
    return badfile_read(dir.file("m.ogg"));
}

// The page checksum of an Ogg page of size bytes starting at the file's first byte.
std::vector<uint8_t> em_fixoggcrc(std::vector<uint8_t> bytes, size_t size)
{
    for (size_t i = 22; i < 26; i++)
        bytes[i] = 0;
    uint32_t crc = 0;
    for (size_t i = 0; i < size; i++) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 24;
        for (int k = 0; k < 8; k++)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return badfile_put32(bytes, 22, crc);
}

// The first page holds only the identification header: 27 header bytes, one
// lacing value, then the 30-byte packet (channels at 11, rate at 12).
const size_t EM_FIRSTPAGE = 27 + 1 + 30;
const size_t EM_OGGCHANNELS = 28 + 11;
const size_t EM_OGGRATE = 28 + 12;

TEST(BadAudio, WavFilesIntoTheSampleBank)
{
    const std::vector<uint8_t> good = em_goodwav(1, 2, 22050, 16, 400);   // 44-byte header
    const std::vector<uint8_t> ogg = em_goodogg(1, 22050, 2000);
    const std::string cantread = "ERROR: em_loadsample: can't read %s: ";
    const std::string cantuse = "ERROR: em_loadsample: can't use %s: ";
    const em_badrow rows[] = {
        {"the good file", good, false, true, ""},
        {"no file", {}, true, false, "ERROR: em_loadsample: can't find %s\n"},
        {"empty", {}, false, false, cantread},
        {"cut inside the RIFF header", badfile_cut(good, 6), false, false, cantread},
        {"cut inside the format chunk", badfile_cut(good, 30), false, false, cantread},
        {"cut after the data chunk's header", badfile_cut(good, 44), false, false, cantread},
        {"cut inside the data", badfile_cut(good, 44 + 101), false, false, cantread},
        {"an Ogg file under the name", ogg, false, false, cantread},
        {"a data length of 4 GiB", badfile_put32(good, 40, 0xFFFFFFF0u), false, false, cantread},
        {"a RIFF length of 4 GiB", badfile_put32(good, 4, 0xFFFFFFF0u), false, true, ""},
        {"a format chunk of 2 GiB", badfile_put32(good, 16, 0x7FFFFFF0u), false, false, cantread},
        {"rate 0", badfile_put32(good, 24, 0), false, false, cantuse + "sample rate out of range\n"},
        {"rate 2^31 - 1", badfile_put32(good, 24, 0x7FFFFFFF), false, false, cantuse + "sample rate out of range\n"},
        {"0 channels", badfile_put16(good, 22, 0), false, false, cantuse + "no whole frame of sound\n"},
        {"7 channels play as one", badfile_put16(good, 22, 7), false, true, ""},
        {"24 bits per value", em_goodwav(1, 1, 44100, 24, 300), false, false, cantread},
        {"0 bits per value", badfile_put16(good, 34, 0), false, false, cantread},
        {"floating-point values", em_goodwav(3, 1, 44100, 32, 400), false, false, cantread},
        {"an unknown encoding", badfile_put16(good, 20, 0x1234), false, false, cantread},
        {"ADPCM without its coefficients", badfile_put16(good, 20, 2), false, false, cantread},
        {"IMA ADPCM without its block layout", badfile_put16(good, 20, 0x11), false, false, cantread},
        {"less than one stereo frame", em_goodwav(1, 2, 44100, 16, 3), false, false,
         cantuse + "no whole frame of sound\n"},
    };
    for (const em_badrow &row : rows) {
        SCOPED_TRACE(row.what);
        emtest_tempdir dir;
        const std::string path = dir.file("bad.wav");
        if (!row.missing) {
            ASSERT_TRUE(badfile_write(path, row.bytes));
        }
        ASSERT_EQ(emtest_startpaused(), 0);
        const int sampler = em_createsampler(em_getroot(), -1);
        emtest_capture cap;
        const int handle = em_loadsample(path.c_str());
        EXPECT_EQ(handle != 0, row.usable);
        if (handle) {
            const em_sample *s = em_getsample(handle);
            EXPECT_TRUE(s->channels == 1 || s->channels == 2);
            EXPECT_GT(s->length, 0);
            EXPECT_NE(em_triggersample(sampler, handle), 0);
            emtest_render();
            em_freesample(handle);
            emtest_render();
        }
        em_expectmessage(row, path, cap.err());
        em_stopclean();
    }
}

TEST(BadAudio, OggFilesThroughTheMusicNode)
{
    const std::vector<uint8_t> good = em_goodogg(2, 44100, 200000);
    ASSERT_GT(good.size(), 15000u);
    const std::vector<uint8_t> wav = em_goodwav(1, 2, 22050, 16, 400);
    const std::string cantopen = "ERROR: em_openoggmusic: can't open %s\n";
    const em_badrow rows[] = {
        {"the good file", good, false, true, ""},
        {"no file", {}, true, false, "ERROR: em_openoggmusic: can't find %s\n"},
        {"empty", {}, false, false, cantopen},
        {"cut inside the first page", badfile_cut(good, 20), false, false, cantopen},
        {"cut after the identification header", badfile_cut(good, EM_FIRSTPAGE), false, false, cantopen},
        {"cut inside the setup header", badfile_cut(good, 400), false, false, cantopen},
        {"cut inside the sound plays what is there", badfile_cut(good, good.size() * 3 / 4), false, true, ""},
        {"a WAV file under the name", wav, false, false, cantopen},
        {"three channels", em_goodogg(3, 44100, 3000), false, false, cantopen},
        {"0 channels", em_fixoggcrc(badfile_put8(good, EM_OGGCHANNELS, 0), EM_FIRSTPAGE), false, false, cantopen},
        {"255 channels", em_fixoggcrc(badfile_put8(good, EM_OGGCHANNELS, 255), EM_FIRSTPAGE), false, false,
         cantopen},
        {"rate 0", em_fixoggcrc(badfile_put32(good, EM_OGGRATE, 0), EM_FIRSTPAGE), false, false, cantopen},
        {"rate 2^31 - 1", em_fixoggcrc(badfile_put32(good, EM_OGGRATE, 0x7FFFFFFF), EM_FIRSTPAGE), false, true, ""},
        {"a damaged first page checksum", badfile_put8(good, 22, good[22] ^ 1), false, false, cantopen},
    };
    for (const em_badrow &row : rows) {
        SCOPED_TRACE(row.what);
        emtest_tempdir dir;
        const std::string path = dir.file("bad.ogg");
        if (!row.missing) {
            ASSERT_TRUE(badfile_write(path, row.bytes));
        }
        ASSERT_EQ(emtest_startpaused(), 0);
        const int music = em_createoggmusic(em_getroot());
        ASSERT_NE(music, 0);
        emtest_capture cap;
        const int result = em_playoggmusic(music, path.c_str());
        EXPECT_EQ(result == 0, row.usable);
        if (result == 0) {
            em_setparam(music, EMP_STATE, 3);   // play once to the end
            for (int b = 0; b < 200 && em_getparam(music, EMP_STATE) > 0; b++)
                emtest_render();
            EXPECT_EQ(em_getparam(music, EMP_STATE), 0) << "the stream ends";
        } else {
            EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
            EXPECT_NE(cap.err().find(em_expand("ERROR: em_startoggmusic: couldn't open %s\n", path)),
                      std::string::npos);
        }
        em_expectmessage(row, path, cap.err());
        em_stopclean();
    }
}

}  // namespace
