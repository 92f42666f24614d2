// test_fuzz.cpp -- damaged WAV and Ogg Vorbis files: loading and playing them
// never crashes, never leaks, and never reads outside the engine's buffers
#include <random>

#include "em_harness.h"
#include "em_oggwriter.h"

namespace {

using Fuzz = emtest_engine;

std::vector<uint8_t> emtest_readbytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void emtest_writebytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

// Flips a few random bytes; the header is hit more often than the body.
std::vector<uint8_t> emtest_damage(std::vector<uint8_t> bytes, std::mt19937* rng, size_t headerbytes)
{
    const int flips = 1 + static_cast<int>((*rng)() % 8);
    for (int i = 0; i < flips; i++) {
        const size_t span = ((*rng)() % 2) ? headerbytes : bytes.size();
        bytes[(*rng)() % span] = static_cast<uint8_t>((*rng)());
    }
    if ((*rng)() % 4 == 0)
        bytes.resize((*rng)() % bytes.size());
    return bytes;
}

TEST_F(Fuzz, DamagedWavFilesLoadOrAreRefusedCleanly)
{
    emtest_tempdir dir;
    std::vector<uint8_t> body(600);
    for (size_t i = 0; i < body.size(); i++)
        body[i] = static_cast<uint8_t>(i * 13);
    emtest_writewav(dir.file("good.wav"), 1, 2, 22050, 16, body);
    const std::vector<uint8_t> good = emtest_readbytes(dir.file("good.wav"));
    const int sampler = em_createsampler(em_getroot(), -1);
    const int32_t bytes = emio_getbytes();
    std::mt19937 rng(1234);
    int loaded = 0;
    for (int round = 0; round < 400; round++) {
        emtest_writebytes(dir.file("bad.wav"), emtest_damage(good, &rng, 44));
        const int h = em_loadsample(dir.file("bad.wav").c_str());
        if (!h)
            continue;
        loaded++;
        const em_sample* s = em_getsample(h);
        ASSERT_TRUE(s->channels == 1 || s->channels == 2);
        ASSERT_GT(s->length, 0);
        ASSERT_EQ(s->bytes, s->length * s->channels * 4);
        for (int32_t i = 0; i < s->length * s->channels; i++)
            ASSERT_TRUE(s->data[i] >= -32768 && s->data[i] <= 32767);
        em_triggersample(sampler, h);
        emtest_render();
        em_freesample(h);
        emtest_render();
    }
    EXPECT_GT(loaded, 0);
    EXPECT_EQ(em_getchild(sampler), 0);
    EXPECT_EQ(emio_getbytes(), bytes);
}

TEST_F(Fuzz, DamagedOggFilesPlayOrAreRefusedCleanly)
{
    emtest_tempdir dir;
    ASSERT_EQ(emtest_writeogg(dir.file("good.ogg"), 2, 44100, 20000, 440), 0);
    const std::vector<uint8_t> good = emtest_readbytes(dir.file("good.ogg"));
    const int music = em_createoggmusic(em_getroot());
    std::mt19937 rng(99);
    int played = 0;
    for (int round = 0; round < 150; round++) {
        emtest_writebytes(dir.file("bad.ogg"), emtest_damage(good, &rng, good.size()));
        emtest_capture quiet;
        if (em_playoggmusic(music, dir.file("bad.ogg").c_str()) != 0)
            continue;
        played++;
        em_setparam(music, EMP_PITCH, static_cast<int32_t>(rng() % 0x30000));
        for (int b = 0; b < 30 && em_getparam(music, EMP_STATE) > 0; b++)
            emtest_render();
        em_stopoggmusic(music);
    }
    EXPECT_GT(played, 0);
}

}  // namespace
