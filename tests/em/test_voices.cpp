// test_voices.cpp -- samples, sampler, 3-D sampler and sequencer: ends, loops, refusals and what each parameter does
#include <limits>

#include "tests/kit/kit_em.h"

namespace {

// A paused engine with a sampler, a 3-D sampler (listener) and a long sample; seq is the sequencer start() made.
class Sampler : public kit_engine {
protected:
    int sampler = 0, listener = 0, longsample = 0, seq = 0;
    void SetUp() override
    {
        kit_engine::SetUp();
        sampler = em_createsampler(em_getroot(), -1);
        listener = em_createsampler3d(em_getroot(), -1);
        longsample = kit_makesample(kit_values(44100));
        ASSERT_TRUE(sampler && listener && longsample);
    }
    static em_s3channel* channel(int handle) { return static_cast<em_s3channel*>(em_getnode(handle)->data); }

    // A running one-channel sequencer (seq); the channel's handle.
    int start(int steps, int32_t duration, const std::vector<int8_t>& pattern, int sample)
    {
        int channel = 0;
        seq = kit_sequencer(steps, duration, pattern.data(), sample, &channel);
        return channel;
    }
};
using Samples = Sampler;
using Sampler3d = Sampler;
using Sequencer = Sampler;
using Interpolation = Sampler;

TEST_F(Samples, FormatsConvertToSignedValues)
{
    kit_tempdir dir;
    std::vector<uint8_t> s16 = kit_bytes16({-32768, 32767, -2, 0x1234});
    s16.insert(s16.end(), {0x11, 0x22}); // half a frame: dropped
    const std::vector<uint8_t> s16msb = {0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFE, 0x12, 0x34, 0x99};
    const struct {
        uint16_t format, tag, bits, channels; // format 0: a WAV file of tag and bits, else made in memory
        uint32_t rate;
        std::vector<uint8_t> data;
        int length, step;
        std::vector<int32_t> values;
    } cases[] = {
        {0, 1, 8, 1, 44100, {0, 128, 255, 1, 127}, 5, 65536, {-32768, 0, 32512, -32512, -256}},
        {0, 1, 16, 2, 22050, s16, 2, 32768, {-32768, 32767, -2, 0x1234}},
        {AUDIO_S8, 0, 0, 1, 48000, {0x00, 0x7F, 0x80, 0xFF}, 4, 71328, {0, 32512, -32768, -256}},
        {AUDIO_S16MSB, 0, 0, 2, 44100, s16msb, 2, 65536, {-32768, 32767, -2, 0x1234}},
    };
    const int32_t bytes = emio_getbytes();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.tag << " " << c.bits);
        const em_sample* s = nullptr;
        if (c.format == 0) {
            kit_writewav(dir.file("s.wav"), c.tag, c.channels, c.rate, c.bits, c.data);
            s = em_getsample(em_loadsample(dir.file("s.wav").c_str()));
        } else {
            s = em_makesample(c.format, c.channels, static_cast<int32_t>(c.rate), const_cast<uint8_t*>(c.data.data()),
                              static_cast<uint32_t>(c.data.size()));
        }
        ASSERT_NE(s, nullptr);
        EXPECT_EQ((std::vector<int32_t> {s->channels, s->length, s->step}),
                  (std::vector<int32_t> {c.channels, c.length, c.step}));
        EXPECT_EQ(std::vector<int32_t>(s->data, s->data + c.values.size()), c.values);
        em_freesample(s->handle);
    }
    EXPECT_EQ(emio_getbytes(), bytes);
}

// Samples made in memory are refused with their reason and nothing printed: a format the bank cannot read, a length
// whose values would not fit a 32-bit byte count (before a byte is read); a good load clears the reason. The loaders'
// refusals, the full bank among them, are test_loaders.cpp's.
TEST_F(Samples, RefusalsGiveTheirReasons)
{
    uint8_t bytes[4] = {};
    kit_capture cap;
    EXPECT_EQ(em_makesample(AUDIO_U16LSB, 1, 44100, bytes, 4), nullptr);
    EXPECT_STREQ(em_sampleerror(), "not 8-bit or signed 16-bit samples");
    EXPECT_EQ(em_makesample(AUDIO_S16LSB, 1, 44100, bytes, 0x40000000u), nullptr);
    EXPECT_STREQ(em_sampleerror(), "too long");
    const int16_t frames[2] = {1, 2};
    EXPECT_NE(em_loadsampleraw(frames, 2, 1, 44100), 0);
    EXPECT_STREQ(em_sampleerror(), "");
    EXPECT_EQ(cap.out() + cap.err(), "");
}

// A sample made in memory is refused once the engine is down (the loaders go through one check: test_loaders.cpp).
TEST(SamplesLife, MakingASampleIsRefusedWhenTheEngineIsNotStarted)
{
    uint8_t bytes[4] = {};
    ASSERT_EQ(kit_startpaused(), 0);
    kit_stopengine();
    EXPECT_EQ(em_makesample(AUDIO_S16LSB, 1, 44100, bytes, 4), nullptr);
    EXPECT_STREQ(em_sampleerror(), "the audio engine is not started");
}

// A centred unity voice halves each value on both sides, rounding toward minus infinity, and, looping, wraps without a
// gap (the values of every frame at every level are the golden rows').
TEST_F(Sampler, MonoVoiceAtUnityHalvesEachValueAndLoopsWithoutGap)
{
    std::vector<int16_t> values = kit_values(1000);
    values[0] = -3, values[1] = 3, values[2] = -32768;
    EXPECT_EQ(em_setparam(sampler, EMP_LOOP, 1), 0);
    const int voice = em_triggersample(sampler, kit_makesample(values));
    const std::vector<int32_t> out = kit_mixof(sampler);
    EXPECT_EQ((std::vector<int32_t> {out[0], out[1], out[2], out[4], out[2 * 999], out[2 * 1000], out[2 * 1001 + 1]}),
              (std::vector<int32_t> {-2, -2, 1, -16384, 11157, -2, 1}));
    kit_mixof(sampler), kit_mixof(sampler);
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), 72);
    // the root receives the sampler's mix at the sampler's volume
    EXPECT_EQ(em_setparam(sampler, EMP_VOLUME, 128), 0);
    EXPECT_EQ(kit_render()[6], 6289) << "25159 halved by the pan, then by the volume, rounded down";
}

TEST_F(Sampler, StereoPansAndPitchesPickTheirFrames)
{
    const std::vector<int16_t> mono = kit_values(3000), stereo = kit_values(6000);
    const int stereosample = kit_makesample(stereo, 2), halfrate = kit_makesample(mono, 1, 22050);
    // the side values: 0 left, 1 right, 2 both sides together, 3 silent, 4 half of mono
    const struct {
        int sample, pan;
        int32_t pitch;
        int num, den, left, right;
    } cases[] = {
        {stereosample, 0, 0x10000, 1, 1, 0, 1},    {stereosample, 128, 0x10000, 1, 1, 3, 2},
        {stereosample, -128, 0x10000, 1, 1, 2, 3}, {stereosample, 0, 0x8000, 1, 2, 0, 1},
        {stereosample, 0, 0x20000, 2, 1, 0, 1},    {halfrate, 0, 0x10000, 1, 2, 4, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pan << " " << c.pitch << " " << c.num << "/" << c.den);
        em_setparam(sampler, EMP_DEFPAN, c.pan);
        em_setparam(sampler, EMP_DEFPITCH, c.pitch);
        const int voice = em_triggersample(sampler, c.sample);
        const std::vector<int32_t> out = kit_mixof(sampler);
        for (int f = 0; f < 1024; f++) {
            const int frame = f * c.num / c.den;
            const int32_t l = c.sample == stereosample ? stereo[2 * frame] : 0;
            const int32_t r = c.sample == stereosample ? stereo[2 * frame + 1] : 0;
            const int32_t side[] = {l, r, l + r, 0, kit_scale(mono[frame])};
            ASSERT_EQ(out[2 * f], side[c.left]) << f;
            ASSERT_EQ(out[2 * f + 1], side[c.right]) << f;
        }
        em_setparam(voice, EMP_FLAGS, 0);
    }
}

TEST_F(Sampler, ShortVoiceMixesItsLastFrameAndFreesItsHandle)
{
    const std::vector<int16_t> values = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
    const int sample = kit_makesample(values);
    const int voice = em_triggersample(sampler, sample);
    const std::vector<int32_t> out = kit_mixof(sampler);
    for (int f = 0; f < 10; f++)
        EXPECT_EQ(out[2 * f], values[f] / 2);
    for (size_t i = 20; i < out.size(); i++)
        ASSERT_EQ(out[i], 0);
    EXPECT_EQ(em_isnode(voice), 0);
    EXPECT_EQ(em_triggersample(sampler, sample), voice);
}

// A ramp lands exactly on its targets within one buffer. A voice's targets start at its own volume, step and pan and
// are kept: a target volume alone moves only the volume, a later pan target leaves the volume at its target, and a
// ramp re-armed through EMF_RAMP brings a volume set directly back to it.
TEST_F(Sampler, RampLandsOnItsTargetsAndKeepsThem)
{
    const auto params = [](int voice) {
        return std::vector<int> {em_getparam(voice, EMP_PITCH), em_getparam(voice, EMP_VOLUME), em_getparam(voice, EMP_PAN)};
    };
    const int stereo = em_triggersample(sampler, kit_makesample(std::vector<int16_t>(16000, 1000), 2));
    em_setparam(stereo, EMP_TARGETPITCH, 0x10000 + 100);
    em_setparam(stereo, EMP_TARGETVOLUME, 0);
    em_setparam(stereo, EMP_TARGETPAN, 128);
    em_setparam(sampler, EMP_DEFPITCH, 0xC000);
    em_setparam(sampler, EMP_DEFPAN, 40);
    const int voice = em_triggersample(sampler, kit_makesample(std::vector<int16_t>(5000, 1000)));
    em_setparam(voice, EMP_TARGETVOLUME, 64);
    kit_mixof(sampler);
    EXPECT_EQ(params(stereo), (std::vector<int> {0x10000 + 100, 0, 128}));
    EXPECT_EQ(em_getparam(stereo, EMP_FLAGS) & EMF_RAMP, 0);
    EXPECT_EQ(params(voice), (std::vector<int> {0xC000, 64, 40}));
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), 768) << "1024 frames at three quarters";
    em_setparam(voice, EMP_TARGETPAN, -40);
    kit_mixof(sampler);
    EXPECT_EQ(params(voice), (std::vector<int> {0xC000, 64, -40}));
    em_setparam(voice, EMP_VOLUME, 200);
    em_setparam(voice, EMP_FLAGS, em_getparam(voice, EMP_FLAGS) | static_cast<int>(EMF_RAMP));
    kit_mixof(sampler);
    EXPECT_EQ(params(voice), (std::vector<int> {0xC000, 64, -40}));
}

// A negative speed of sound leaves no radial speed inside the Doppler range: the voice is silent, its step pinned.
TEST_F(Sampler3d, SpatialTargetsAndDoppler)
{
    const struct {
        float x, z, vz, c;
        int32_t gain, pan, itd, step, posl, posr;
    } cases[] = {
        {0, -128, 0, 340, 128, 0, 0, 0x10000, 0, 0},       // ahead
        {10, 0, 0, 340, 246, 128, 25, 0x10000, -25, 0},    // right: the left ear 25 frames late
        {-10, 0, 0, 340, 246, -128, -25, 0x10000, 0, -26}, // left: the offset rounds toward minus infinity
        {0, -256, 0, 340, 0, 0, 0, 0x10000, 0, 0},         // at and beyond the maximum distance
        {0, -512, 0, 340, 0, 0, 0, 0x10000, 0, 0},
        {0, -128, -170, 340, 128, 0, 0, 65536 * 2 / 3, 0, 0}, // receding at c/2
        {0, -128, -2550, 340, 0, 0, 0, 8192, 0, 0},           // beyond 7c: pinned at s/8, silent
        {0, -128, 306, 340, 0, 0, 0, 65536 * 8, 0, 0},        // approaching past 7/8 c: pinned at 8s
        {0, -128, 0, -340, 0, 0, 0, 0x10000 * 8, 0, 0},       // negative speed of sound
        {0, -128, 100, -340, 0, 0, 0, 0x10000 * 8, 0, 0},
        {0, -128, -100, -340, 0, 0, 0, 0x10000 / 8, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " " << c.z << " " << c.vz << " " << c.c);
        em_setparamf(listener, EMP_3DSCALE, c.c);
        em_setparam3f(listener, EMP_POSITION3DB, c.x, 0, c.z);
        em_setparam3f(listener, EMP_VELOCITY3DB, 0, 0, c.vz);
        const em_s3channel* ch = channel(em_triggersample3d(listener, longsample));
        EXPECT_EQ((std::vector<int32_t> {ch->curgain, ch->curpan, ch->itd, ch->curstep, ch->posl, ch->posr}),
                  (std::vector<int32_t> {c.gain, c.pan, c.itd, c.step, c.posl, c.posr}));
    }
}

// At (64, 0, -64): gain 165, pan 90, the left ear 18 frames late. The side gains are 24 and 140; worked by hand from
// the source values (-28766 first, -6224 at frame 18), the left side is silent until frame 18.
TEST_F(Sampler3d, OneBufferOfASourceToTheFrontRight)
{
    em_setparam3f(listener, EMP_POSITION3DB, 64, 0, -64);
    const int voice = em_triggersample3d(listener, kit_makesample(kit_values(3000)));
    ASSERT_NE(voice, 0);
    em_s3channel* ch = channel(voice);
    const em_s3target t = em_s3spatial(ch);
    EXPECT_EQ((std::vector<int32_t> {t.gain, t.pan, t.itd}), (std::vector<int32_t> {165, 90, 18}));
    const std::vector<int32_t> out = kit_mixof(listener);
    EXPECT_EQ((std::vector<int32_t> {out[0], out[1], out[2 * 17], out[2 * 18], out[2 * 18 + 1]}),
              (std::vector<int32_t> {0, -15732, 0, -2697, -3404}));
    EXPECT_EQ((std::vector<int32_t> {ch->posl, ch->posr, ch->offset}), (std::vector<int32_t> {1006, 1024, 18 * 65536}));
}

// A source at infinity, not a number or very far away, a speed of sound of 0, below 0, infinite: no buffer may be
// louder than a full-scale sample at unity volume panned hard to one side; a source that cannot be placed near is
// silent once its first buffer has glided away from where it was triggered, and one ten units off is heard.
TEST_F(Sampler3d, GeometryThatCannotBePlacedNeverExceedsFullScale)
{
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const int loud = kit_makesample(std::vector<int16_t>(44100, -32768));
    const struct {
        float x, z, c;
        bool heard;
    } cases[] = {{inf, 0, 340, false},  {-inf, -1, 340, false}, {nan, -10, 340, false}, {1e30f, 1e30f, 340, false},
                 {1e6f, 0, 340, false}, {0, -10, 0, true},      {0, -10, inf, true},    {0, -10, nan, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " " << c.z << " " << c.c);
        em_setparamf(listener, EMP_3DSCALE, c.c);
        em_setparam3f(listener, EMP_POSITION3DB, 0, 0, -10);
        const int voice = em_triggersample3d(listener, loud);
        ASSERT_NE(voice, 0);
        em_setparam3f(voice, EMP_POSITION3D, c.x, 0, c.z);
        for (int b = 0; b < 3; b++) {
            int64_t most = 0;
            for (const int32_t v : kit_mixof(listener))
                most = std::max(most, std::abs(static_cast<int64_t>(v)));
            ASSERT_LE(most, 32768) << b;
            ASSERT_LE(std::abs(channel(voice)->curpan), 128);
            EXPECT_TRUE(b == 0 || (most > 0) == c.heard) << b << ": " << most;
        }
        em_setparam(voice, EMP_FLAGS, 0);
    }
}

// Setting the position puts both heads on one frame and clears the delay, but the next buffer starts from the offset.
TEST_F(Sampler3d, PositionKeepsTheOffsetInForce)
{
    em_setparam3f(listener, EMP_POSITION3DB, 10, 0, 0);
    const int voice = em_triggersample3d(listener, longsample);
    em_s3channel* ch = channel(voice);
    const int32_t offset = ch->offset;
    ASSERT_GT(offset, 25 * 65536);
    ASSERT_EQ(em_setparam(voice, EMP_POSITION, 500), 0);
    EXPECT_EQ((std::vector<int32_t> {ch->posl, ch->posr, ch->fracl, ch->fracr, ch->itd, ch->offset}),
              (std::vector<int32_t> {500, 500, 0, 0, 0, offset}));
    kit_mixof(listener);
    EXPECT_EQ((std::vector<int32_t> {ch->posl, ch->posr}), (std::vector<int32_t> {500 + 1024, 500 + 1024})) << "no drift";
}

// A note sounds from its first frame: at every pass start; after a shorter pass set mid-pass (the next walk enters the
// new pass at once, step 1's note from frame 0); after a stop, the clock standing (at 72: the next step at frame 678).
TEST_F(Sequencer, NotesSoundFromTheirFirstFrame)
{
    const std::vector<int16_t> v = kit_values(30000);
    const int sample = kit_makesample(v);
    enum { NONE, SHORTEN, STOP };
    const struct {
        int steps;
        int32_t duration;
        std::vector<int8_t> pattern;
        int change, buffers;  // buffers checked after the change
        size_t first, period; // the checked buffers' first note's frame, frames between notes
    } cases[] = {{4, 44100, {69, 0, 0, 0}, NONE, 130, 0, 44100},
                 {1, 1500, {69}, NONE, 6, 0, 1500},
                 {4, 4096, {0, 69, 0, 0}, SHORTEN, 1, 0, 44100},
                 {4, 3000, {69, 69, 69, 69}, STOP, 1, 678, 44100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.steps << " steps of " << c.duration << ", change " << c.change);
        const int channel = start(c.steps, c.duration, c.pattern, sample);
        const em_sequencer* sq = static_cast<em_sequencer*>(em_getnode(seq)->data);
        if (c.change == SHORTEN) {
            kit_left(seq, 3); // the clock stands at 3072; step 1's note began at 1024
            em_setparam(channel, EMP_FLAGS, 0);
            ASSERT_EQ(em_setparam(seq, EMP_LENGTH, 2048), 0);
            EXPECT_EQ(sq->time, 3072);
        }
        if (c.change == STOP) {
            em_setparam(seq, EMP_RUN, 0);
            for (const int32_t t : {1024, 2048, 72}) {
                for (const int32_t value : kit_left(seq, 1))
                    ASSERT_EQ(value, 0);
                EXPECT_EQ(sq->time, t);
            }
            em_setparam(seq, EMP_RUN, 1);
        }
        const std::vector<int32_t> out = kit_left(seq, c.buffers);
        for (size_t f = 0; f < out.size(); f++) {
            const size_t within = (f - c.first) % c.period;
            ASSERT_EQ(out[f], f < c.first || within >= v.size() ? 0 : kit_scale(v[within])) << f;
        }
        EXPECT_TRUE(c.change != SHORTEN || sq->time == 0) << sq->time;
        em_destroynode(em_getnode(seq));
    }
}

// A sequencer of no channels or of every channel is made; one size beyond either end is refused with its message.
TEST_F(Sequencer, SizesOutOfRangeAreRefused)
{
    const int32_t bytes = emio_getbytes();
    const struct {
        int channels, steps;
        const char* err;
    } bad[] = {{-1, 4, "ERROR: em_initsequencer: -1 channels (0 to 8)\n"},
               {9, 4, "ERROR: em_initsequencer: 9 channels (0 to 8)\n"},
               {2, 0, "ERROR: em_initsequencer: 0 steps (at least 1)\n"}};
    for (const auto& b : bad) {
        kit_capture cap;
        EXPECT_EQ(em_createsequencer(em_getroot(), b.channels, b.steps), 0);
        EXPECT_EQ(cap.err(), b.err);
    }
    EXPECT_EQ(emio_getbytes(), bytes);
    for (const int channels : {0, 8})
        EXPECT_NE(em_createsequencer(em_getroot(), channels, 1), 0) << channels;
}

TEST_F(Sequencer, StepsStartingAtABufferStartSoundWithTheirPitch)
{
    const std::vector<int16_t> v = kit_values(100);
    const int sample = kit_makesample(v, 1, 32000);
    const int channel = start(4, 4096, {57, 81, 70, 69}, sample);
    const int32_t expected[] = {23776, 95104, 50379, 47552}; // half, double, trunc(50379.589), unit
    for (int b = 0; b < 8; b++) {
        SCOPED_TRACE(b);
        const std::vector<int32_t> out = kit_left(seq, 1);
        EXPECT_EQ(em_getparam(channel, EMP_PITCH), expected[b % 4]);
        EXPECT_EQ(out[0], kit_scale(v[0]));
        EXPECT_EQ(out[500], 0); // the short sample ends inside its step
    }
}

// Interpolation reads on the line to the next frame, rounding toward minus infinity, worked by hand from the source
// values at three quarters speed: at frame 1, between -28766 and -20847 three quarters of the way, -22827 (-22826.75
// rounded down), halved on each side: -11414; at frame 121 the line falls (from 23944 to -28137: -15117, not -15116 as
// truncation would give). Every kind of voice at every level is pinned by the golden rows.
TEST_F(Interpolation, AVoiceReadsBetweenFramesRoundingDown)
{
    em_setparam(sampler, EMP_INTERPOLATE, 1);
    em_setparam(sampler, EMP_DEFPITCH, 0xC000);
    const int voice = em_triggersample(sampler, kit_makesample(kit_values(3000)));
    ASSERT_EQ(em_getparam(voice, EMP_INTERPOLATE), 1);
    const std::vector<int32_t> out = kit_mixof(sampler);
    EXPECT_EQ((std::vector<int32_t> {out[2], out[3], out[2 * 121], out[2 * 121 + 1]}),
              (std::vector<int32_t> {-11414, -11414, -7559, -7559}));
}

} // namespace
