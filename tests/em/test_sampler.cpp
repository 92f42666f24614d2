// test_sampler.cpp -- the sampler and its voices, through the paused engine's callback
#include <chrono>

#include "em_harness.h"

namespace {

class Sampler : public emtest_engine {
protected:
    int sampler = 0;

    void SetUp() override
    {
        emtest_engine::SetUp();
        sampler = em_createsampler(em_getroot(), -1);
        ASSERT_NE(sampler, 0);
    }

    // A sample made in memory from 16-bit values (interleaved when stereo).
    int make(const std::vector<int16_t>& values, int channels = 1, int32_t rate = 44100)
    {
        std::vector<uint8_t> bytes = emtest_bytes16(values);
        const em_sample* s = em_makesample(AUDIO_S16LSB, channels, rate, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return s ? s->handle : 0;
    }

    // Runs one buffer and returns the sampler's own mix (before its volume).
    std::vector<int32_t> mix()
    {
        emtest_render();
        const int32_t* buffer = em_getnode(sampler)->mixbuf;
        return std::vector<int32_t>(buffer, buffer + emstate.samples * 2);
    }
};

std::vector<int16_t> emtest_ramp(int count, int first, int stride)
{
    std::vector<int16_t> values;
    for (int i = 0; i < count; i++)
        values.push_back(static_cast<int16_t>((first + i * stride) % 65536 - 32768));
    return values;
}

// Each side of a centred unity voice: s x 128 / 256, rounding toward minus infinity.
int32_t emtest_half(int32_t s) { return s >= 0 ? s / 2 : -((-s + 1) / 2); }

TEST_F(Sampler, MonoVoiceAtUnityHalvesEachValueOnBothSides)
{
    std::vector<int16_t> values = emtest_ramp(3000, 12345, 777);
    values[0] = -3;
    values[1] = 3;
    values[2] = -32768;
    const int sample = make(values);
    const int voice = em_triggersample(sampler, sample);
    ASSERT_NE(voice, 0);
    EXPECT_EQ(em_getparam(voice, EMP_STATE), 3);
    EXPECT_EQ(em_getparam(voice, EMP_PITCH), 0x10000);
    EXPECT_EQ(em_getparam(voice, EMP_FLAGS), static_cast<int>(EMF_AUTOFREE | EMF_PLAYING));
    const std::vector<int32_t> out = mix();
    EXPECT_EQ(out[0], -2);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[4], -16384);
    for (int f = 0; f < 1024; f++) {
        ASSERT_EQ(out[2 * f], emtest_half(values[f])) << f;
        ASSERT_EQ(out[2 * f + 1], emtest_half(values[f])) << f;
    }
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), 1024);
    // the root receives the sampler's mix at the sampler's volume, then the limiter
    EXPECT_EQ(em_setparam(sampler, EMP_VOLUME, 128), 0);
    const std::vector<int16_t> heard = emtest_render();
    EXPECT_EQ(heard[6], emtest_half(values[1027]) * 128 / 256);
}

TEST_F(Sampler, StereoVoiceAcrossPans)
{
    std::vector<int16_t> values = emtest_ramp(4096, 999, 4321);
    const int sample = make(values, 2);
    struct { int pan; int32_t (*left)(int32_t, int32_t); int32_t (*right)(int32_t, int32_t); } cases[] = {
        {0, [](int32_t l, int32_t) { return l; }, [](int32_t, int32_t r) { return r; }},
        {128, [](int32_t, int32_t) { return 0; }, [](int32_t l, int32_t r) { return l + r; }},
        {-128, [](int32_t l, int32_t r) { return l + r; }, [](int32_t, int32_t) { return 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pan);
        EXPECT_EQ(em_setparam(sampler, EMP_DEFPAN, c.pan), 0);
        const int voice = em_triggersample(sampler, sample);
        const std::vector<int32_t> out = mix();
        for (int f = 0; f < 1024; f++) {
            ASSERT_EQ(out[2 * f], c.left(values[2 * f], values[2 * f + 1])) << f;
            ASSERT_EQ(out[2 * f + 1], c.right(values[2 * f], values[2 * f + 1])) << f;
        }
        EXPECT_EQ(em_getparam(voice, EMP_POSITION), 2048);
        em_setparam(voice, EMP_FLAGS, 0);   // silence it for the next case
    }
}

TEST_F(Sampler, SteppedVoicesRepeatOrSkipFrames)
{
    const std::vector<int16_t> mono = emtest_ramp(3000, 5, 1001);
    const std::vector<int16_t> stereo = emtest_ramp(6000, 7, 3001);
    const int monosample = make(mono);
    const int stereosample = make(stereo, 2);
    const int halfrate = make(mono, 1, 22050);
    EXPECT_EQ(em_getsample(halfrate)->step, 32768);
    struct { int sample; int32_t pitch; int channels; int num; int den; } cases[] = {
        {monosample, 0x8000, 1, 1, 2}, {monosample, 0x20000, 1, 2, 1},
        {stereosample, 0x8000, 2, 1, 2}, {stereosample, 0x20000, 2, 2, 1},
        {halfrate, 0x10000, 1, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pitch);
        em_setparam(sampler, EMP_DEFPITCH, c.pitch);
        const int voice = em_triggersample(sampler, c.sample);
        const std::vector<int16_t>& values = c.channels == 2 ? stereo : mono;
        const std::vector<int32_t> out = mix();
        for (int f = 0; f < 1024; f++) {
            const int frame = f * c.num / c.den;
            if (c.channels == 2) {
                ASSERT_EQ(out[2 * f], values[2 * frame]) << f;
                ASSERT_EQ(out[2 * f + 1], values[2 * frame + 1]) << f;
            } else {
                ASSERT_EQ(out[2 * f], emtest_half(values[frame])) << f;
            }
        }
        em_setparam(voice, EMP_FLAGS, 0);
    }
}

TEST_F(Sampler, ShortVoiceMixesItsLastFrameAndFreesItsHandle)
{
    const std::vector<int16_t> values = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
    const int sample = make(values);
    const int voice = em_triggersample(sampler, sample);
    EXPECT_EQ(em_getchild(sampler), voice);
    const int32_t bytes = emio_getbytes();
    const std::vector<int32_t> out = mix();
    for (int f = 0; f < 10; f++)
        EXPECT_EQ(out[2 * f], values[f] / 2);
    for (size_t i = 20; i < out.size(); i++)
        ASSERT_EQ(out[i], 0);
    EXPECT_EQ(em_isnode(voice), 0);
    EXPECT_EQ(em_getchild(sampler), 0);
    EXPECT_EQ(emio_getbytes(), bytes - static_cast<int32_t>(sizeof(em_node) + sizeof(em_schannel)));
    EXPECT_EQ(em_triggersample(sampler, sample), voice);  // the handle is free again
}

TEST_F(Sampler, LoopingVoiceWrapsWithoutGapAndStopsThroughFlags)
{
    const std::vector<int16_t> values = emtest_ramp(1000, 3, 257);
    const int sample = make(values);
    EXPECT_EQ(em_setparam(sampler, EMP_LOOP, 1), 0);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFFLAGS), static_cast<int>(EMS_ONDEMAND | EMS_LOOP));
    const int voice = em_triggersample(sampler, sample);
    for (int buffer = 0; buffer < 3; buffer++) {
        const std::vector<int32_t> out = mix();
        for (int f = 0; f < 1024; f++)
            ASSERT_EQ(out[2 * f], emtest_half(values[(buffer * 1024 + f) % 1000])) << buffer << " " << f;
    }
    EXPECT_EQ(em_setparam(voice, EMP_FLAGS, static_cast<int32_t>(EMF_LOOP | EMF_AUTOFREE)), 0);
    EXPECT_EQ(em_getparam(voice, EMP_STATE), 1);
    for (const int32_t v : mix())
        ASSERT_EQ(v, 0);
    EXPECT_EQ(em_isnode(voice), 1);
    // restarted from a position past the end, a looping voice wraps into the sample
    em_setparam(voice, EMP_POSITION, 2500);
    em_setparam(voice, EMP_FLAGS, static_cast<int32_t>(EMF_LOOP | EMF_PLAYING));
    EXPECT_EQ(mix()[0], emtest_half(values[500]));
}

TEST_F(Sampler, RampReachesItsTargetsInOneBuffer)
{
    const int mono = make(std::vector<int16_t>(8000, 1000));
    const int stereo = make(std::vector<int16_t>(16000, 1000), 2);
    for (const int sample : {mono, stereo}) {
        for (const int32_t target : {0x20000, 0x10000 + 100, 0x10000 * 7}) {
            SCOPED_TRACE(target);
            const int voice = em_triggersample(sampler, sample);
            em_setparam(voice, EMP_TARGETPITCH, target);
            em_setparam(voice, EMP_TARGETVOLUME, 0);
            em_setparam(voice, EMP_TARGETPAN, 128);
            EXPECT_EQ(em_getparam(voice, EMP_FLAGS) & EMF_RAMP, static_cast<int>(EMF_RAMP));
            const std::vector<int32_t> out = mix();
            EXPECT_EQ(em_getparam(voice, EMP_PITCH), target);
            EXPECT_EQ(em_getparam(voice, EMP_VOLUME), 0);
            EXPECT_EQ(em_getparam(voice, EMP_PAN), 128);
            EXPECT_EQ(em_getparam(voice, EMP_FLAGS) & EMF_RAMP, 0);
            // the left side fades monotonically from the starting gain
            EXPECT_GT(out[0], 0);
            for (int f = 1; f < 1024; f++)
                ASSERT_LE(out[2 * f], out[2 * f - 2]) << f;
            EXPECT_LE(out[2 * 1023], 2);
            // the step slid linearly: frame f reads with start + f x (target - start) / 1024
            const double travelled = em_getparam(voice, EMP_POSITION) / em_getsample(sample)->channels;
            const double slid = 1024.0 + (target - 0x10000) * 1023.0 / 2.0 / 65536.0;
            EXPECT_NEAR(travelled, slid, 2.0);
            em_setparam(voice, EMP_FLAGS, 0);
        }
    }
}

TEST_F(Sampler, SamplerParameters)
{
    EXPECT_EQ(em_setparam(sampler, EMP_DEFPAN, 300), 0);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFPAN), 128);
    EXPECT_EQ(em_setparam(sampler, EMP_DEFPAN, -300), 0);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFPAN), -128);
    EXPECT_EQ(em_getparam(sampler, EMP_STATE), 3);
    EXPECT_EQ(em_setparam(sampler, EMP_STATE, 1), -1);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFVOLUME), 256);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFPITCH), 0x10000);
    EXPECT_EQ(em_getparam(sampler, EMP_PAN), -1);
    EXPECT_EQ(em_setparam(sampler, EMP_TARGETPAN, 1), -1);
    const int voice = em_triggersample(sampler, make({1, 2, 3}));
    EXPECT_EQ(em_getparam(voice, EMP_DEFPAN), -1);
    EXPECT_EQ(em_getparam(voice, EMP_TARGETPAN), -1);
    EXPECT_EQ(em_getparam(voice, EMP_PAN), -128);
    EXPECT_EQ(em_setparam(voice, EMP_STATE, 3), -1);
}

TEST_F(Sampler, PlayRequestsThatAreRefused)
{
    const int sample = make({1, 2, 3});
    const int32_t bytes = emio_getbytes();
    emtest_capture cap;
    EXPECT_EQ(em_triggersample(sampler, 0), 0);
    EXPECT_EQ(em_triggersample(sampler, 77), 0);            // not loaded
    EXPECT_EQ(em_triggersample(em_getroot(), sample), 0);   // not a sampler
    EXPECT_EQ(em_triggersample(0, sample), 0);
    const int quiet = em_createsampler(em_getroot(), 0);
    EXPECT_EQ(em_triggersample(quiet, sample), 0);
    EXPECT_EQ(em_createsampler(400, -1), 0);                // parent names no node
    EXPECT_EQ(cap.out(), "warning: em_playsampler tried to play sample zero\n"
                         "warning: em_playsampler tried to play sample 77, which is not loaded\n");
    EXPECT_EQ(cap.err(), "");
    EXPECT_EQ(em_getchild(quiet), 0);
    EXPECT_EQ(em_setparam(quiet, EMP_DEFFLAGS, static_cast<int32_t>(EMS_ONDEMAND)), 0);
    EXPECT_NE(em_triggersample(quiet, sample), 0);
    EXPECT_GT(emio_getbytes(), bytes);
}

TEST_F(Sampler, VoiceWhoseSampleIsFreedEndsWithoutReadingIt)
{
    const int sample = make(std::vector<int16_t>(5000, 500));
    const int voice = em_triggersample(sampler, sample);
    mix();
    em_freesample(sample);
    for (const int32_t v : mix())
        ASSERT_EQ(v, 0);
    EXPECT_EQ(em_isnode(voice), 0);
}

TEST_F(Sampler, NegativeStepHoldsStillInsideTheSample)
{
    const std::vector<int16_t> values = emtest_ramp(100, 1, 999);
    const int voice = em_triggersample(sampler, make(values));
    em_setparam(voice, EMP_PITCH, -0x30000);
    em_setparam(voice, EMP_POSITION, 3);
    for (const int32_t v : mix())
        ASSERT_EQ(v, emtest_half(values[3]));
    em_setparam(voice, EMP_POSITION, -50);
    EXPECT_EQ(mix()[0], emtest_half(values[0]));
}

TEST_F(Sampler, HugeStepOnALoopWrapsIntoTheSample)
{
    const std::vector<int16_t> values = emtest_ramp(7, 1, 5003);
    em_setparam(sampler, EMP_LOOP, 1);
    const int voice = em_triggersample(sampler, make(values));
    em_setparam(voice, EMP_PITCH, 0x10000 * 30000);
    const std::vector<int32_t> out = mix();
    for (int f = 0; f < 1024; f++)
        ASSERT_EQ(out[2 * f], emtest_half(values[(static_cast<int64_t>(f) * 30000) % 7])) << f;
}

// Fails every heap call after the first n.
int emtest_allowed;
void* emtest_limitedcalloc(size_t count, size_t size)
{
    return emtest_allowed-- > 0 ? calloc(count, size) : nullptr;
}

TEST_F(Sampler, CreationFailuresReportAndUnwind)
{
    const char* messages[] = {
        "ERROR: em_initsampler: can't create node\n",
        "ERROR: em_initsampler: can't allocate mix buffer\n",
        "ERROR: em_initsampler: can't allocate sampler\n",
    };
    const int32_t bytes = emio_getbytes();
    for (int allowed = 0; allowed < 3; allowed++) {
        emtest_allowed = allowed;
        emio_rawcalloc = emtest_limitedcalloc;
        emtest_capture cap;
        EXPECT_EQ(em_createsampler(em_getroot(), -1), 0);
        emio_rawcalloc = calloc;
        EXPECT_EQ(cap.err(), messages[allowed]);
        EXPECT_EQ(emio_getbytes(), bytes);
    }
    const int sample = make({1, 2});
    const int32_t before = emio_getbytes();
    for (int allowed = 0; allowed < 2; allowed++) {
        emtest_allowed = allowed;
        emio_rawcalloc = emtest_limitedcalloc;
        emtest_capture cap;
        EXPECT_EQ(em_triggersample(sampler, sample), 0);
        emio_rawcalloc = calloc;
        EXPECT_EQ(cap.err(), allowed == 0 ? "ERROR: em_initschannel: can't create node\n"
                                          : "ERROR: em_initschannel: can't allocate schannel\n");
        EXPECT_EQ(cap.out(), "warning: em_playsampler couldn't create chnode\n");
        EXPECT_EQ(emio_getbytes(), before);
    }
    EXPECT_EQ(em_getchild(sampler), 0);
}

TEST(SamplerLife, VoicesStartedWhileTheDeviceRunsAllFreeThemselves)
{
    ASSERT_EQ(em_init(), 0);
    const int sampler = em_createsampler(em_getroot(), -1);
    std::vector<uint8_t> bytes = emtest_bytes16(std::vector<int16_t>(300, 1000));
    const int sample = em_makesample(AUDIO_S16LSB, 1, 22050, bytes.data(), static_cast<uint32_t>(bytes.size()))->handle;
    int started = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    while (std::chrono::steady_clock::now() < end) {
        const int voice = em_triggersample(sampler, sample);
        if (voice) {
            started++;
            em_setparam(voice, EMP_PAN, started % 257 - 128);
        }
        SDL_Delay(started % 4 == 0 ? 1 : 0);
    }
    EXPECT_GT(started, 50);
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (em_getchild(sampler) != 0 && std::chrono::steady_clock::now() < settle)
        SDL_Delay(5);
    EXPECT_EQ(em_getchild(sampler), 0);
    emtest_capture cap;
    em_deinit();
    EXPECT_NE(cap.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    EXPECT_EQ(cap.err(), "");
}

}  // namespace
