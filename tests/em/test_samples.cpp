// test_samples.cpp -- the sample bank: WAV formats and conversions, slots, and the analysis routines
#include "em_harness.h"

namespace {

class Samples : public emtest_engine {
protected:
    emtest_tempdir dir;

    // Writes a WAV file and loads it; the sample handle or 0.
    int load(const std::string& name, uint16_t formattag, uint16_t channels, uint32_t rate, uint16_t bits,
             const std::vector<uint8_t>& data)
    {
        emtest_writewav(dir.file(name), formattag, channels, rate, bits, data);
        return em_loadsample(dir.file(name).c_str());
    }

    // A mono 16-bit sample of the given values, made in memory.
    em_sample* make(std::vector<int16_t> values)
    {
        std::vector<uint8_t> bytes = emtest_bytes16(values);
        return em_makesample(AUDIO_S16LSB, 1, 44100, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
};

enum { WAVE_PCM = 1, WAVE_FLOAT = 3 };

TEST_F(Samples, Unsigned8BitMono)
{
    const int h = load("u8.wav", WAVE_PCM, 1, 44100, 8, {0, 128, 255, 1, 127});
    ASSERT_EQ(h, 1);
    const em_sample* s = em_getsample(h);
    EXPECT_EQ(s->channels, 1);
    EXPECT_EQ(s->length, 5);
    EXPECT_EQ(s->bytes, 20);
    EXPECT_EQ(s->handle, 1);
    EXPECT_EQ(std::vector<int32_t>(s->data, s->data + 5), (std::vector<int32_t>{-32768, 0, 32512, -32512, -256}));
}

TEST_F(Samples, Signed16BitStereoDropsATrailingPartialFrame)
{
    std::vector<int16_t> values;
    for (int i = 0; i < 500; i++)
        values.push_back(static_cast<int16_t>(i * 131 - 32768));
    std::vector<uint8_t> bytes = emtest_bytes16(values);
    ASSERT_EQ(bytes.size(), 1000u);
    const int whole = load("s16.wav", WAVE_PCM, 2, 44100, 16, bytes);
    bytes.push_back(0x11);
    bytes.push_back(0x22);
    const int partial = load("s16p.wav", WAVE_PCM, 2, 44100, 16, bytes);
    for (const int h : {whole, partial}) {
        const em_sample* s = em_getsample(h);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->channels, 2);
        EXPECT_EQ(s->length, 250);
        EXPECT_EQ(s->bytes, 2000);
        EXPECT_EQ(std::vector<int32_t>(s->data, s->data + 500), std::vector<int32_t>(values.begin(), values.end()));
    }
}

TEST_F(Samples, SignedAndBigEndianConversionsFromMemory)
{
    std::vector<uint8_t> s8 = {0x00, 0x7F, 0x80, 0xFF};
    const em_sample* a = em_makesample(AUDIO_S8, 1, 44100, s8.data(), 4);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::vector<int32_t>(a->data, a->data + 4), (std::vector<int32_t>{0, 32512, -32768, -256}));

    std::vector<uint8_t> msb = {0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFE, 0x12, 0x34, 0x99};
    const em_sample* b = em_makesample(AUDIO_S16MSB, 2, 44100, msb.data(), static_cast<uint32_t>(msb.size()));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->length, 2);
    EXPECT_EQ(std::vector<int32_t>(b->data, b->data + 4), (std::vector<int32_t>{-32768, 32767, -2, 0x1234}));

    std::vector<uint8_t> channels3 = {1, 2, 3};
    const em_sample* c = em_makesample(AUDIO_U8, 3, 44100, channels3.data(), 3);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->channels, 1);
    EXPECT_EQ(c->length, 3);
}

TEST_F(Samples, RateSteps)
{
    const std::vector<uint8_t> data(16, 128);
    const int32_t rates[] = {22050, 44100, 48000, 8000, 11025};
    for (const int32_t rate : rates) {
        const int h = load("r" + std::to_string(rate) + ".wav", WAVE_PCM, 1, static_cast<uint32_t>(rate), 8, data);
        ASSERT_NE(h, 0) << rate;
        EXPECT_EQ(em_getsample(h)->rate, rate);
        EXPECT_EQ(em_getsample(h)->step, (rate * 4096 / 44100) * 16) << rate;
    }
    EXPECT_EQ(em_getsample(1)->step, 32768);
    EXPECT_EQ(em_getsample(2)->step, 65536);
    EXPECT_EQ(em_getsample(3)->step, 71328);
}

TEST_F(Samples, RefusalsLeaveNothingBehind)
{
    const int32_t bytes = emio_getbytes();
    std::vector<uint8_t> data(64, 0);
    EXPECT_EQ(em_makesample(AUDIO_U16LSB, 1, 44100, data.data(), 64), nullptr);
    EXPECT_EQ(em_makesample(AUDIO_U16MSB, 2, 44100, data.data(), 64), nullptr);
    EXPECT_EQ(em_makesample(AUDIO_S16LSB, 1, 0, data.data(), 64), nullptr);          // no rate
    EXPECT_EQ(em_makesample(AUDIO_S16LSB, 1, 1 << 20, data.data(), 64), nullptr);    // step would overflow
    EXPECT_EQ(em_makesample(AUDIO_S16LSB, 2, 44100, data.data(), 3), nullptr);      // no whole frame
    EXPECT_EQ(load("float.wav", WAVE_FLOAT, 1, 44100, 32, data), 0);
    EXPECT_EQ(load("s24.wav", WAVE_PCM, 1, 44100, 24, data), 0);
    emtest_writewav(dir.file("broken.wav"), WAVE_PCM, 1, 44100, 16, data);
    FILE* f = fopen(dir.file("broken.wav").c_str(), "r+b");
    fwrite("JUNK", 1, 4, f);
    fclose(f);
    EXPECT_EQ(em_loadsample(dir.file("broken.wav").c_str()), 0);
    EXPECT_EQ(em_loadsample(dir.file("missing.wav").c_str()), 0);
    EXPECT_EQ(em_loadsample(nullptr), 0);
    EXPECT_EQ(em_freesampleslot(), 1);
    EXPECT_EQ(emio_getbytes(), bytes);
}

TEST_F(Samples, HandlesAreReusedAndTheTableHolds511)
{
    const std::vector<uint8_t> data(4, 128);
    emtest_writewav(dir.file("tiny.wav"), WAVE_PCM, 1, 44100, 8, data);
    const std::string path = dir.file("tiny.wav");
    EXPECT_EQ(em_loadsample(path.c_str()), 1);
    em_freesample(1);
    EXPECT_EQ(em_validsample(1), 0);
    EXPECT_EQ(em_getsample(1), nullptr);
    EXPECT_EQ(em_loadsample(path.c_str()), 1);
    for (int h = 2; h < EM_MAXSAMPLES; h++)
        ASSERT_EQ(em_loadsample(path.c_str()), h);
    EXPECT_EQ(em_loadsample(path.c_str()), 0);
    em_freesample(200);
    EXPECT_EQ(em_loadsample(path.c_str()), 200);
    for (const int h : {0, -1, 512, 4096})
        EXPECT_EQ(em_validsample(h), 0);
    em_freesample(0);
    em_freesample(512);
}

TEST(SamplesLife, BankAnswersNothingWhileDown)
{
    emtest_tempdir dir;
    emtest_writewav(dir.file("a.wav"), WAVE_PCM, 1, 44100, 8, {1, 2, 3});
    const std::string path = dir.file("a.wav");
    EXPECT_EQ(em_loadsample(path.c_str()), 0);
    ASSERT_EQ(em_init(), 0);
    ASSERT_EQ(em_loadsample(path.c_str()), 1);
    {
        emtest_capture cap;
        em_deinit();
        EXPECT_NE(cap.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    }
    EXPECT_EQ(em_validsample(1), 0);
    EXPECT_EQ(em_getsample(1), nullptr);
    EXPECT_EQ(em_loadsample(path.c_str()), 0);
    em_freesample(1);
}

TEST_F(Samples, FindZeroTakesTheNearestCrossing)
{
    const em_sample* s = make({5, 3, -2, -4, 1, 6});
    int dir = 7;
    EXPECT_EQ(em_findzero(s, 2, 15, &dir), 2);
    EXPECT_EQ(dir, -1);
    EXPECT_EQ(em_findzero(s, 2, 6, &dir), 4);
    EXPECT_EQ(dir, 1);
    EXPECT_EQ(em_findzero(s, 5, 5, &dir), 4);     // backward, rising
    EXPECT_EQ(dir, 1);
    EXPECT_EQ(em_findzero(s, 3, 15, &dir), 2);     // equal distance: backward wins
    EXPECT_EQ(dir, -1);
    EXPECT_EQ(em_findzero(s, 1, 9, &dir), 0);      // backward, falling: none before 1
    EXPECT_EQ(dir, 0);
    // starts far outside the sample search from its edge
    EXPECT_EQ(em_findzero(s, INT32_MAX, 15, &dir), 4);
    EXPECT_EQ(dir, 1);
    EXPECT_EQ(em_findzero(s, INT32_MIN, 15, &dir), 2);
    EXPECT_EQ(dir, -1);
    EXPECT_EQ(em_findzero(s, INT32_MAX, 14, &dir), 0);
    EXPECT_EQ(dir, 0);
    EXPECT_EQ(em_findzero(s, 2, 15, nullptr), 2);
}

TEST_F(Samples, CompareRegionsPrintsLengthLevelAndShape)
{
    const em_sample* s = make({100, -100, 100, -100, 50, -50, 50, -50, 50, -50, 50, -50});
    emtest_capture cap;
    EXPECT_EQ(em_compareregions(s, 0, 4, 12), 0);
    // L2 is twice L1; region 2's average is half; resampled and scaled, region 2
    // gives 100 at every step where region 1 alternates +-100.
    EXPECT_EQ(cap.out(), "L1 4, L2 8 - diff 100%\n"
                         "A1 100 (max 100), A2 50 (max 50) - diff 100%\n"
                         "maxdif 200, average 100\n");
}

TEST_F(Samples, CompareRegionsGuardsEmptyRegionsAndSilence)
{
    const em_sample* s = make({0, 0, 0, 0, 10, -10, 0, 0});
    emtest_capture cap;
    em_compareregions(s, 4, 4, 8);      // empty region 1
    em_compareregions(s, 0, 4, 4);      // empty region 2
    em_compareregions(s, 5, 4, 8);      // reversed
    em_compareregions(s, 0, 4, 9);      // past the end
    em_compareregions(s, -1, 4, 8);
    em_compareregions(nullptr, 0, 1, 2);
    EXPECT_EQ(cap.out(), "");
    emtest_capture cap2;
    em_compareregions(s, 0, 2, 4);      // both silent
    em_compareregions(s, 4, 6, 8);      // region 2 silent
    em_compareregions(s, 2, 4, 6);      // region 1 silent
    EXPECT_EQ(cap2.out(), "L1 2, L2 2 - diff 0%\nA1 0 (max 0), A2 0 (max 0) - diff 0%\nmaxdif 0, average 0\n"
                          "L1 2, L2 2 - diff 0%\nA1 10 (max 10), A2 0 (max 0) - diff 900%\nmaxdif 10, average 10\n"
                          "L1 2, L2 2 - diff 0%\nA1 0 (max 0), A2 10 (max 10) - diff 900%\nmaxdif 0, average 0\n");
}

TEST_F(Samples, CheckLoopComparesTheStretchesAroundACrossing)
{
    std::vector<int16_t> square;
    for (int i = 0; i < 16; i++)
        square.push_back(i % 4 < 2 ? 10 : -10);
    const em_sample* s = make(square);
    {
        emtest_capture cap;
        EXPECT_EQ(em_checkloop(s, 6, 4), 0);
        EXPECT_EQ(cap.out(), "fzero 6 (-1)\nfz2 10\nfz3 2\n"
                             "L1 4, L2 4 - diff 0%\nA1 10 (max 10), A2 10 (max 10) - diff 0%\nmaxdif 0, average 0\n");
    }
    {
        // pos + dist lies past the end: that search comes back from the end.
        // Region 2 at every other value alternates -10, 10 against -10, -10, 10, 10.
        emtest_capture cap;
        em_checkloop(s, 6, 40);
        EXPECT_EQ(cap.out(), "fzero 6 (-1)\nfz2 14\nfz3 2\n"
                             "L1 4, L2 8 - diff 100%\nA1 10 (max 10), A2 10 (max 10) - diff 0%\nmaxdif 20, average 10\n");
    }
    const em_sample* flat = make({3, 4, 5, 6, 7});
    emtest_capture cap;
    EXPECT_EQ(em_checkloop(flat, 2, 1), 0);
    EXPECT_EQ(em_checkloop(flat, INT32_MAX, INT32_MAX), 0);
    EXPECT_EQ(cap.out(), "");
}

}  // namespace
