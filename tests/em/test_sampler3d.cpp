// test_sampler3d.cpp -- the 3-D sampler: spatial targets, Doppler, movement,
// the two read heads and their exact output through the paused engine
#include <cmath>

#include "em_harness.h"

namespace {

class Sampler3d : public emtest_engine {
protected:
    int sampler = 0;

    void SetUp() override
    {
        emtest_engine::SetUp();
        sampler = em_createsampler3d(em_getroot(), -1);
        ASSERT_NE(sampler, 0);
    }

    int make(const std::vector<int16_t>& values, int channels = 1)
    {
        std::vector<uint8_t> bytes = emtest_bytes16(values);
        const em_sample* s = em_makesample(AUDIO_S16LSB, channels, 44100, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return s ? s->handle : 0;
    }

    // A voice of a long silent-free sample placed at p with velocity v.
    int play(float x, float y, float z, float vx = 0.0f, float vy = 0.0f, float vz = 0.0f)
    {
        if (!longsample)
            longsample = make(values(44100));
        em_setparam3f(sampler, EMP_POSITION3DB, x, y, z);
        em_setparam3f(sampler, EMP_VELOCITY3DB, vx, vy, vz);
        return em_triggersample3d(sampler, longsample);
    }

    static std::vector<int16_t> values(int count)
    {
        std::vector<int16_t> v;
        for (int i = 0; i < count; i++)
            v.push_back(static_cast<int16_t>((i * 7919 + 1234) % 60000 - 30000));
        return v;
    }

    static em_s3channel* channel(int handle) { return static_cast<em_s3channel*>(em_getnode(handle)->data); }

    std::vector<int32_t> mix()
    {
        emtest_render();
        const int32_t* buffer = em_getnode(sampler)->mixbuf;
        return std::vector<int32_t>(buffer, buffer + emstate.samples * 2);
    }

    int longsample = 0;
};

// (value x gain) >> 8 with the shift rounding toward minus infinity.
int32_t emtest_scale(int32_t value, int32_t gain)
{
    const int64_t p = static_cast<int64_t>(value) * gain;
    return static_cast<int32_t>(p >= 0 ? p / 256 : -((-p + 255) / 256));
}

TEST_F(Sampler3d, SourceAheadAndToTheRight)
{
    const int ahead = play(0, 0, -128);
    em_s3channel* a = channel(ahead);
    EXPECT_EQ(a->curgain, 128);
    EXPECT_EQ(a->curpan, 0);
    EXPECT_EQ(a->itd, 0);
    EXPECT_EQ(a->offset, 0);
    EXPECT_EQ(a->curstep, 0x10000);
    EXPECT_EQ(a->posl, 0);
    EXPECT_EQ(a->posr, 0);

    const int right = play(10, 0, 0);
    const em_s3channel* r = channel(right);
    const em_s3target t = em_s3spatial(r);
    EXPECT_EQ(t.pan, 128);
    EXPECT_EQ(t.itd, 25);
    EXPECT_EQ(t.offset, static_cast<int32_t>(65536.0f * 25.941177f));
    EXPECT_EQ(t.offset, 1700081);
    EXPECT_EQ(r->posl, -25);
    EXPECT_EQ(r->posr, 0);
    EXPECT_EQ(em_getparam(right, EMP_POSITION), -25);

    const int left = play(-10, 0, 0);
    EXPECT_EQ(channel(left)->curpan, -128);
    EXPECT_EQ(channel(left)->itd, -25);
    EXPECT_EQ(channel(left)->posl, 0);
    EXPECT_EQ(channel(left)->posr, -26);     // -1700081 >> 16 rounds toward minus infinity

    // fall-off: silent at and beyond the maximum distance
    EXPECT_EQ(channel(play(0, 0, -256))->curgain, 0);
    EXPECT_EQ(channel(play(0, 0, -512))->curgain, 0);
    EXPECT_EQ(channel(play(0, 0, -64))->curgain, 192);
}

TEST_F(Sampler3d, DopplerStepLimitsAndFades)
{
    // sources ahead at 128 (gain 128), moving along -z (receding) or +z
    struct { float vz; float c; int32_t step; int32_t gain; } cases[] = {
        {0, 340, 65536, 128},
        {-170, 340, 65536 * 2 / 3, 128},        // receding at c/2
        {-1700, 340, 10922, 128 * (10922 - 8192) / 8192},  // below s/4: faded towards s/8
        {-2380, 340, 8192, 0},                  // receding at exactly 7c: in range, faded out
        {-2550, 340, 8192, 0},                  // beyond 7c: pinned at s/8, silent
        {306, 340, 65536 * 8, 0},               // approaching faster than 7/8 c: pinned at 8s
        {260, 300, 491520, 64},                 // above 7s: faded towards 8s
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vz);
        EXPECT_EQ(em_setparamf(sampler, EMP_3DSCALE, c.c), 0);
        const em_s3channel* ch = channel(play(0, 0, -128, 0, 0, c.vz));
        EXPECT_EQ(ch->curstep, c.step);
        EXPECT_EQ(ch->curgain, c.gain);
    }
    // a moving listener counts the same as a moving source
    em_setparamf(sampler, EMP_3DSCALE, 340);
    em_setparam3f(sampler, EMP_VELOCITY3D, 0, 0, 170);
    EXPECT_EQ(channel(play(0, 0, -128))->curstep, 65536 * 2 / 3);
}

TEST_F(Sampler3d, OrientationVectorsAndTheirCrossProducts)
{
    float x, y, z;
    EXPECT_EQ(em_setparam3f(sampler, EMP_FORWARD3D, 1, 0, 0), 0);
    EXPECT_EQ(em_getparam3f(sampler, EMP_RIGHT3D, &x, &y, &z), 0);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(z, 1.0f);
    EXPECT_EQ(channel(play(0, 0, -10))->curpan, -128);   // now on the left

    EXPECT_EQ(em_setparam3f(sampler, EMP_RIGHT3D, 0, 0, 1), 0);
    EXPECT_EQ(em_getparam3f(sampler, EMP_UP3D, &x, &y, &z), 0);
    EXPECT_EQ(y, 1.0f);
    EXPECT_EQ(em_setparam3f(sampler, EMP_UP3D, 0, -1, 0), 0);  // upside down
    EXPECT_EQ(em_getparam3f(sampler, EMP_RIGHT3D, &x, &y, &z), 0);
    EXPECT_EQ(z, -1.0f);
    EXPECT_EQ(channel(play(0, 0, -10))->curpan, 128);
    // stored as given, not normalised
    EXPECT_EQ(em_setparam3f(sampler, EMP_FORWARD3D, 0, 0, -4), 0);
    EXPECT_EQ(em_getparam3f(sampler, EMP_FORWARD3D, &x, &y, &z), 0);
    EXPECT_EQ(z, -4.0f);
}

TEST_F(Sampler3d, MovingVoicesTravelByTheirVelocityEachBuffer)
{
    const int moving = play(0, 0, -10, 0, 0, 10);
    const int still = play(0, 0, -10, 0, 0, 10);
    EXPECT_EQ(em_setparam(moving, EMP_FLAGS, em_getparam(moving, EMP_FLAGS) | EMF_MOVING), 0);
    float x, y, z;
    for (int buffer = 1; buffer <= 10; buffer++) {
        emtest_render();
        EXPECT_EQ(em_getparam3f(moving, EMP_POSITION3D, &x, &y, &z), 0);
        EXPECT_NEAR(z, -10.0 + buffer * 10.0 * 1024 / 44100, 1e-4);
        EXPECT_EQ(x, 0.0f);
    }
    EXPECT_EQ(em_getparam3f(still, EMP_POSITION3DB, &x, &y, &z), 0);
    EXPECT_EQ(z, -10.0f);
}

TEST_F(Sampler3d, OneBufferOfASourceToTheFrontRight)
{
    // At (64, 0, -64): distance 90.51, gain 165, pan 90, the left ear 18 frames late.
    const std::vector<int16_t> v = values(3000);
    em_setparam3f(sampler, EMP_POSITION3DB, 64, 0, -64);
    const int voice = em_triggersample3d(sampler, make(v));
    ASSERT_NE(voice, 0);
    em_s3channel* ch = channel(voice);
    const em_s3target t = em_s3spatial(ch);
    EXPECT_EQ(t.gain, 165);
    EXPECT_EQ(t.pan, 90);
    EXPECT_EQ(t.itd, 18);
    EXPECT_EQ(ch->posl, -18);
    EXPECT_EQ(ch->posr, 0);
    const int32_t lgain = (165 * (128 - 90)) >> 8, rgain = (165 * (90 + 128)) >> 8;
    EXPECT_EQ(lgain, 24);
    EXPECT_EQ(rgain, 140);
    const std::vector<int32_t> out = mix();
    for (int f = 0; f < 1024; f++) {
        ASSERT_EQ(out[2 * f], f < 18 ? 0 : emtest_scale(v[f - 18], 24)) << f;
        ASSERT_EQ(out[2 * f + 1], emtest_scale(v[f], 140)) << f;
    }
    EXPECT_EQ(ch->posl, 1006);
    EXPECT_EQ(ch->posr, 1024);
    EXPECT_EQ(ch->offset, 18 * 65536);
    EXPECT_EQ(ch->itd, 18);

    // The next buffer walks the heads apart to the exact lead, half each.
    const int32_t drift = (t.offset - 18 * 65536) / 2048;
    mix();
    EXPECT_EQ(ch->offset, 18 * 65536 + 2 * 1024 * drift);
    EXPECT_LT(t.offset - ch->offset, 2048);
}

TEST_F(Sampler3d, PanGainAndDelayGlideOverOneBuffer)
{
    const int sample = make(std::vector<int16_t>(8000, 10000));
    em_setparam3f(sampler, EMP_POSITION3DB, 100, 0, 0);
    const int voice = em_triggersample3d(sampler, sample);
    mix();
    em_setparam3f(voice, EMP_POSITION3D, -50, 0, 0);     // jump to the left, nearer
    const std::vector<int32_t> out = mix();
    const em_s3channel* ch = channel(voice);
    EXPECT_EQ(ch->curpan, -128);
    EXPECT_EQ(ch->curgain, 206);
    EXPECT_EQ(out[0], 0);   // starts from the old pan: full right
    EXPECT_EQ(out[1], (10000 * 156) >> 8);
    // the left side rises and the right side falls by at most one gain unit a frame
    for (int f = 1; f < 1024; f++) {
        ASSERT_LE(std::abs(out[2 * f] - out[2 * f - 2]), 80) << f;
        ASSERT_LE(std::abs(out[2 * f + 1] - out[2 * f - 1]), 80) << f;
    }
    EXPECT_GE(out[2 * 1023], (10000 * 203) >> 8);
    EXPECT_LE(out[2 * 1023 + 1], 80);
    const std::vector<int32_t> next = mix();    // the target is in force from here on
    EXPECT_EQ(next[0], (10000 * 206) >> 8);
    EXPECT_EQ(next[1], 0);
    // the lead changed sign: the heads crossed over by the change of offset
    EXPECT_LT(ch->offset, 0);
    EXPECT_EQ(ch->itd, -25);
}

TEST_F(Sampler3d, VoiceEndsInTheBufferWhereEitherHeadPassesTheEnd)
{
    const int sample = make(values(2000));
    em_setparam3f(sampler, EMP_POSITION3DB, 64, 0, -64);
    const int voice = em_triggersample3d(sampler, sample);
    ASSERT_EQ(em_getparam(voice, EMP_POSITION), -18);
    mix();
    EXPECT_EQ(em_isnode(voice), 1);
    const std::vector<int32_t> out = mix();     // the right head ends at frame 975
    EXPECT_EQ(em_isnode(voice), 0);
    EXPECT_NE(out[2 * 974 + 1], 0);
    for (int f = 975; f < 1024; f++)
        ASSERT_EQ(out[2 * f + 1], 0) << f;
    EXPECT_NE(out[2 * 980], 0);     // the late left ear plays on until its own end
    EXPECT_EQ(out[2 * 1010], 0);

    // a looping voice goes on, keeping its heads inside the sample
    em_setparam(sampler, EMP_DEFFLAGS, EMF_LOOP);
    const int looping = em_triggersample3d(sampler, sample);
    for (int i = 0; i < 6; i++)
        mix();
    EXPECT_EQ(em_isnode(looping), 1);
    const em_s3channel* ch = channel(looping);
    EXPECT_LT(ch->posr, 2000);
    EXPECT_LT(std::abs(ch->offset - em_s3spatial(ch).offset), 4 * 2048);   // a wrap is no jump
}

TEST_F(Sampler3d, StereoSamplesPlayAsTheirMonoMixAndEnd)
{
    std::vector<int16_t> stereo;
    for (int i = 0; i < 600; i++) {
        stereo.push_back(static_cast<int16_t>(i * 50 - 15000));
        stereo.push_back(static_cast<int16_t>(7 - i * 31));
    }
    em_setparam3f(sampler, EMP_POSITION3DB, 0, 0, -128);   // gain 128, centred: 64 each side
    const int voice = em_triggersample3d(sampler, make(stereo, 2));
    const std::vector<int32_t> out = mix();
    for (int f = 0; f < 599; f++) {
        const int32_t mono = emtest_scale(stereo[2 * f] + stereo[2 * f + 1], 128);
        ASSERT_EQ(out[2 * f], emtest_scale(mono, 64)) << f;
        ASSERT_EQ(out[2 * f + 1], emtest_scale(mono, 64)) << f;
    }
    EXPECT_EQ(out[2 * 599], 0);     // the frame in which the heads pass the end is silent
    EXPECT_EQ(em_isnode(voice), 0);
}

TEST_F(Sampler3d, UndefinedGeometryGivesDefinedTargets)
{
    // at the listener: full volume, centred, no delay, no Doppler
    const em_s3channel* at = channel(play(0, 0, 0, 5, 0, 0));
    EXPECT_EQ(at->curgain, 256);
    EXPECT_EQ(at->curpan, 0);
    EXPECT_EQ(at->itd, 0);
    EXPECT_EQ(at->curstep, 0x10000);

    // no speed of sound: sound arrives at once, so no Doppler and no delay
    for (const float c : {0.0f, -340.0f, NAN, INFINITY}) {
        em_setparamf(sampler, EMP_3DSCALE, c);
        const em_s3channel* ch = channel(play(10, 0, 0, 100, 0, 0));
        EXPECT_EQ(ch->curpan, 128);
        EXPECT_EQ(ch->curstep, 0x10000);
        EXPECT_EQ(ch->itd, 0);
        EXPECT_EQ(ch->offset, 0);
        EXPECT_EQ(ch->curgain, 256 - 10);
    }
    em_setparamf(sampler, EMP_3DSCALE, 340);

    // no range: silent everywhere, the listener's own position included
    const int voice = play(0, 0, 0);
    em_s3channel* ch = channel(voice);
    ch->maxdistance = 0.0f;
    EXPECT_EQ(em_s3spatial(ch).gain, 0);
    ch->maxdistance = NAN;
    EXPECT_EQ(em_s3spatial(ch).gain, 0);

    // a source not at a number
    em_setparam3f(voice, EMP_POSITION3D, NAN, 0, INFINITY);
    ch->maxdistance = 256.0f;
    const em_s3target t = em_s3spatial(ch);
    EXPECT_EQ(t.gain, 0);
    EXPECT_EQ(t.pan, 0);
    EXPECT_EQ(t.itd, 0);

    // a step of 0 stands still, keeps the geometry's delay; a negative one holds still too
    const int right = play(10, 0, 0);
    EXPECT_EQ(em_setparam(right, EMP_PITCH, 0), 0);
    mix();
    mix();
    EXPECT_EQ(channel(right)->curstep, 0);
    EXPECT_EQ(channel(right)->itd, 25);
    EXPECT_EQ(em_setparam(right, EMP_PITCH, -65536), 0);
    mix();
    EXPECT_EQ(channel(right)->curstep, 0);
    EXPECT_EQ(em_isnode(right), 1);
    // huge factors saturate instead of wrapping
    em_setparamf(sampler, EMP_3DFACTOR, 1e30f);
    EXPECT_EQ(em_s3spatial(channel(play(10, 0, 0))).itd, INT32_MAX);
}

TEST_F(Sampler3d, RefusedPlayRequests)
{
    const int sample = make(values(100));
    {
        emtest_capture cap;
        EXPECT_EQ(em_triggersample3d(sampler, 0), 0);
        EXPECT_EQ(cap.out(), "warning: em_playsampler3d tried to play sample zero\n");
    }
    {
        emtest_capture cap;
        EXPECT_EQ(em_triggersample3d(sampler, 77), 0);
        EXPECT_EQ(cap.out(), "warning: em_playsampler3d tried to play sample 77, which is not loaded\n");
    }
    // handles that are not 3-D samplers
    const int plain = em_createsampler(em_getroot(), -1);
    EXPECT_EQ(em_triggersample3d(plain, sample), 0);
    EXPECT_EQ(em_triggersample3d(em_getroot(), sample), 0);
    EXPECT_EQ(em_triggersample3d(0, sample), 0);
    EXPECT_EQ(em_getchild(plain), 0);
    {
        emtest_capture cap;
        EXPECT_EQ(em_inits3channel(em_getnode(plain), 1), nullptr);
        EXPECT_EQ(cap.err(), "ERROR: em_inits3channel: not a sampler3d\n");
    }
    // a 3-D sampler made with a non-negative mode plays nothing
    const int refusing = em_createsampler3d(em_getroot(), 0);
    ASSERT_NE(refusing, 0);
    EXPECT_EQ(em_triggersample3d(refusing, sample), 0);
    EXPECT_EQ(em_getchild(refusing), 0);
    EXPECT_EQ(em_createsampler3d(400, -1), 0);    // no such parent
    // a sample freed while a voice plays it ends the voice
    const int voice = em_triggersample3d(sampler, sample);
    em_freesample(sample);
    mix();
    EXPECT_EQ(em_isnode(voice), 0);
}

TEST_F(Sampler3d, ParameterTables)
{
    EXPECT_EQ(em_getparam(sampler, EMP_STATE), 3);
    EXPECT_EQ(em_setparam(sampler, EMP_STATE, 1), -1);
    EXPECT_EQ(em_setparam(sampler, EMP_VOLUME, 99), 0);
    EXPECT_EQ(em_getparam(sampler, EMP_VOLUME), 99);
    EXPECT_EQ(em_getnode(sampler)->volume, 99);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFVOLUME), 256);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFPITCH), 0x10000);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFFLAGS), 0);
    EXPECT_EQ(em_getparam(sampler, EMP_DEFPAN), -1);
    EXPECT_EQ(em_setparam(sampler, EMP_PAN, 3), -1);
    EXPECT_FLOAT_EQ(em_getparamf(sampler, EMP_3DSCALE), 340.0f);
    EXPECT_FLOAT_EQ(em_getparamf(sampler, EMP_3DFACTOR), 0.2f);
    EXPECT_EQ(em_getparamf(sampler, EMP_VOLUME), -1.0f);
    EXPECT_EQ(em_setparamf(sampler, EMP_VOLUME, 1.0f), -1);
    float x, y, z;
    EXPECT_EQ(em_getparam3f(sampler, EMP_POSITION3DB, &x, &y, &z), 0);
    EXPECT_EQ(z, -10.0f);
    EXPECT_EQ(em_getparam3f(sampler, EMP_FORWARD3D, &x, &y, &z), 0);
    EXPECT_EQ(z, -1.0f);
    EXPECT_EQ(em_setparam3f(sampler, EMP_VOLUME, 1, 2, 3), -1);

    // new voices take the defaults
    em_setparam(sampler, EMP_DEFVOLUME, 200);
    em_setparam(sampler, EMP_DEFPITCH, 0x8000);
    em_setparam(sampler, EMP_DEFFLAGS, EMF_LOOP);
    const int voice = play(0, 0, -10);
    EXPECT_EQ(em_getparam(voice, EMP_VOLUME), 200);
    EXPECT_EQ(em_getparam(voice, EMP_PITCH), 0x8000);
    EXPECT_EQ(em_getparam(voice, EMP_FLAGS), static_cast<int>(EMF_LOOP | EMF_AUTOFREE | EMF_PLAYING));
    EXPECT_EQ(em_getparam(voice, EMP_SAMPLE), longsample);
    EXPECT_EQ(em_getparam(voice, EMP_STATE), 3);
    EXPECT_EQ(em_getparam(voice, EMP_PAN), -1);
    EXPECT_EQ(em_setparam(voice, EMP_PAN, 0), -1);
    EXPECT_EQ(em_setparam(voice, EMP_STATE, 0), -1);
    EXPECT_EQ(em_setparam(voice, EMP_TARGETVOLUME, 0), -1);
    EXPECT_EQ(em_setparam(voice, EMP_POSITION, 300), 0);
    EXPECT_EQ(channel(voice)->posr, 300);
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), 300);
    EXPECT_EQ(em_setparam3f(voice, EMP_VELOCITY3DB, 1, 2, 3), 0);
    EXPECT_EQ(em_getparam3f(voice, EMP_VELOCITY3D, &x, &y, &z), 0);
    EXPECT_EQ(y, 2.0f);
    EXPECT_EQ(em_setparam3f(voice, EMP_FORWARD3D, 1, 2, 3), -1);
    EXPECT_EQ(em_setparam(voice, EMP_FLAGS, 0), 0);
    EXPECT_EQ(em_getparam(voice, EMP_STATE), 1);
}

// Fails every heap call after the first n.
int emtest_allowed;
void* emtest_limitedcalloc(size_t count, size_t size)
{
    return emtest_allowed-- > 0 ? calloc(count, size) : nullptr;
}

TEST_F(Sampler3d, CreationFailuresReportAndUnwind)
{
    const char* messages[] = {
        "ERROR: em_initsampler: can't create node\n",
        "ERROR: em_initsampler32: can't allocate mix buffer\n",
        "ERROR: em_initsampler3d: can't allocate sampler\n",
    };
    const int32_t bytes = emio_getbytes();
    for (int allowed = 0; allowed < 3; allowed++) {
        emtest_allowed = allowed;
        emio_rawcalloc = emtest_limitedcalloc;
        emtest_capture cap;
        EXPECT_EQ(em_createsampler3d(em_getroot(), -1), 0);
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
        EXPECT_EQ(em_triggersample3d(sampler, sample), 0);
        emio_rawcalloc = calloc;
        EXPECT_EQ(cap.err(), allowed == 0 ? "ERROR: em_inits3channel: can't create node\n"
                                          : "ERROR: em_inits3channel: can't allocate s3channel\n");
        EXPECT_EQ(cap.out(), "warning: em_playsampler3d couldn't create chnode\n");
        EXPECT_EQ(emio_getbytes(), before);
    }
    EXPECT_EQ(em_getchild(sampler), 0);
}

}  // namespace
