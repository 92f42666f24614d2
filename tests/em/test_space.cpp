// test_space.cpp -- 3-D distance models, cones, relative sources, the Doppler factor; voices heard from their first
// frame where they are placed; a speed of sound too large for the arithmetic; defaults and refused settings
#include <cmath>
#include <limits>

#include "tests/kit/kit_em.h"

namespace {

const float INF = std::numeric_limits<float>::infinity(), NAN_ = std::numeric_limits<float>::quiet_NaN();

// A paused engine with a 3-D sampler (the listener at the origin, looking along -z) and a constant sample.
class Space : public kit_engine {
protected:
    int listener = 0, sample = 0;
    void SetUp() override
    {
        kit_engine::SetUp();
        listener = em_createsampler3d(em_getroot(), -1);
        sample = kit_makesample(std::vector<int16_t>(44100, 10000));
        ASSERT_TRUE(listener && sample);
    }
    static const em_s3channel* channel(int voice) { return static_cast<const em_s3channel*>(em_getnode(voice)->data); }
};

// Set on the 3-D sampler, read from the gain of a voice it starts (volume 2^20); shares from the models' formulas,
// worked by hand, nearer than ref capped to 1, linear with max = ref a step. Cones (inner 60, outer 120 degrees, outer
// gain 0.25) at half the volume by distance, the axis at 0, 26.6, 36.9, 45, 63.4 and 180 degrees from the listener.
TEST_F(Space, DistanceModelsAndConesGiveTheFormulasShares)
{
    const struct {
        int model;
        float ref, max, rolloff, z[3];
        double share[3];
    } rows[] = {{EMD_FALLOFF, 1, 20, 1, {-5, -25, -20}, {0.75, 0, 0}},
                {EMD_FALLOFF, 1, 0, 1, {-1, 0, -5}, {0, 0, 0}},
                {EMD_INVERSE, 2, 20, 1.5f, {-1, -6, -30}, {1, 0.25, 0.0454545}},
                {EMD_INVERSE, 2, 20, 0, {-100, -1, -2}, {1, 1, 1}},
                {EMD_INVERSECLAMPED, 2, 20, 1.5f, {-1, -30, -INF}, {1, 0.0689655, 0}},
                {EMD_LINEAR, 2, 20, 1.5f, {-6, -10, -14}, {0.6666667, 0.3333333, 0}},
                {EMD_LINEAR, 5, 5, 1, {-4, -5, -6}, {1, 1, 0}},
                {EMD_LINEARCLAMPED, 2, 20, 0.5f, {-30, -1, -11}, {0.5, 1, 0.75}},
                {EMD_EXPONENT, 2, 20, 1.5f, {-8, -1, -2}, {0.125, 1, 1}},
                {EMD_EXPONENTCLAMPED, 2, 20, 1.5f, {-40, -8, -1}, {0.0316228, 0.125, 1}}};
    const struct {
        float axis[3];
        double share;
    } cones[] = {{{0, 0, 1}, 0.5},    {{1, 0, 2}, 0.5},   {{3, 0, 4}, 0.4141263},
                 {{0, 1, 1}, 0.3125}, {{2, 0, 1}, 0.125}, {{0, 0, -1}, 0.125}};
    em_setparam(listener, EMP_DEFVOLUME, 1 << 20);
    // The share of a voice started at (0, 0, z); no axis, no cone.
    const auto share = [&](int model, float ref, float max, float rolloff, float z, const float* axis) {
        EXPECT_EQ(em_setparam(listener, EMP_DISTANCEMODEL, model) | em_setparamf(listener, EMP_REFDISTANCE, ref) |
                      em_setparamf(listener, EMP_MAXDISTANCE, max) | em_setparamf(listener, EMP_ROLLOFF, rolloff) |
                      em_setparamf(listener, EMP_CONEINNER, axis ? 60 : 360) |
                      em_setparamf(listener, EMP_CONEOUTER, axis ? 120 : 360) | em_setparamf(listener, EMP_CONEOUTERGAIN, 0.25f) |
                      (axis ? em_setparamv(listener, EMP_DIRECTION3D, axis) : 0),
                  0);
        em_setparam3f(listener, EMP_POSITION3DB, 0, 0, z);
        const int voice = em_triggersample3d(listener, sample);
        const double heard = channel(voice)->curgain / 1048576.0;
        em_freenode(voice);
        return heard;
    };
    for (const auto& r : rows)
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(share(r.model, r.ref, r.max, r.rolloff, r.z[k], nullptr), r.share[k], 1e-5) << r.model << " " << r.z[k];
    for (const auto& c : cones)
        EXPECT_NEAR(share(EMD_FALLOFF, 1, 256, 1, -128, c.axis), c.share, 1e-5) << c.axis[0] << c.axis[1] << c.axis[2];
}

// Set on each voice before its first buffer. The listener looks along +x (its right is +z): a source in the scene at
// (0, 0, -100) is to its left, a relative one ahead; a relative one ignores the listener's velocity. Steps: receding
// at c / 2 gives 2/3, approaching at c / 2 twice the step; factor 0 turns Doppler off, even past 7 c.
TEST_F(Space, RelativeSourcesAndTheDopplerFactor)
{
    const struct {
        int relative;
        float factor, x, z, vz, listenervz;
        int32_t step, pan, gain;
    } rows[] = {{0, 1, 0, -100, 0, 0, 0x10000, -128, 156},   {1, 1, 0, -100, 0, 0, 0x10000, 0, 156},
                {1, 1, 10, 0, 0, 0, 0x10000, 128, 246},      {0, 1, 0, -100, -170, 0, 43690, -128, 156},
                {0, 2, 0, -100, -85, 0, 43690, -128, 156},   {0, 0, 0, -100, -2550, 0, 0x10000, -128, 156},
                {0, 1, 0, -100, 0, -170, 131072, -128, 156}, {1, 1, 0, -100, 0, -170, 0x10000, 0, 156},
                {1, 1, 0, -100, -170, 0, 43690, 0, 156}};
    em_setparam3f(listener, EMP_FORWARD3D, 1, 0, 0);
    for (const auto& r : rows) {
        em_setparam3f(listener, EMP_VELOCITY3D, 0, 0, r.listenervz);
        const float at[3] = {r.x, 0, r.z}, velocity[3] = {0, 0, r.vz};
        const int voice = em_triggersample3dat(listener, sample, at, velocity);
        ASSERT_EQ(em_setparam(voice, EMP_RELATIVE, r.relative) | em_setparamf(voice, EMP_DOPPLERFACTOR, r.factor), 0);
        const em_s3channel* ch = channel(voice);
        EXPECT_EQ((std::vector<int32_t> {ch->curstep, ch->curpan, ch->curgain}), (std::vector<int32_t> {r.step, r.pan, r.gain}))
            << r.relative << " " << r.factor << " " << r.x << " " << r.vz << " " << r.listenervz;
        em_freenode(voice);
    }
}

// Started at a place, or placed (id 14) before its first buffer: the first buffer is heard there from its first frame,
// not glided to from (0, 0, -10): all its frames alike, silent out of range. Placed later, a voice glides.
TEST_F(Space, VoicesStartWhereTheyArePlaced)
{
    const float near[3] = {0, 0, -128}, far[3] = {1000, 0, 0};
    for (const bool at : {true, false})
        for (const float* p : {near, far}) {
            SCOPED_TRACE(testing::Message() << at << " " << p[0]);
            const int voice = at ? em_triggersample3dat(listener, sample, p, nullptr) : em_triggersample3d(listener, sample);
            ASSERT_EQ(at ? 0 : em_setparamv(voice, EMP_POSITION3D, p), 0);
            std::vector<int32_t> mix = kit_mixof(listener);
            EXPECT_EQ((std::vector<int32_t> {mix[0], mix[1]}), (std::vector<int32_t> {mix[2046], mix[2047]}));
            EXPECT_EQ(mix[0] != 0, p == near);
            em_setparamv(voice, EMP_POSITION3D, far);
            mix = kit_mixof(listener);
            EXPECT_EQ((std::vector<bool> {mix[0] != 0, mix[2046] != 0}), (std::vector<bool> {p == near, false}));
            em_freenode(voice);
        }
}

// 65536 times these speeds leaves the float range: sound arrives at once, unshifted and undelayed, never as noise.
// A negative speed short of that silences a voice even with Doppler off.
TEST_F(Space, ASpeedOfSoundTooLargeForTheArithmeticIsInfinite)
{
    for (const float c : {1e34f, -1e34f, std::numeric_limits<float>::max()}) {
        SCOPED_TRACE(c);
        em_setparamf(listener, EMP_3DSCALE, c);
        const float at[3] = {10, 0, 0}, velocity[3] = {-300, 0, 0};
        const int voice = em_triggersample3dat(listener, sample, at, velocity);
        const std::vector<int32_t> mix = kit_mixof(listener);
        EXPECT_EQ((std::vector<int32_t> {channel(voice)->curstep, channel(voice)->itd, mix[0] - mix[2046], mix[1] - mix[2047]}),
                  (std::vector<int32_t> {0x10000, 0, 0, 0}));
        em_freenode(voice);
    }
    em_setparamf(listener, EMP_3DSCALE, -340);
    const int voice = em_triggersample3d(listener, sample);
    EXPECT_EQ((em_setparamf(voice, EMP_DOPPLERFACTOR, 0), channel(voice)->curgain), 0) << "a negative one stays silent";
}

// The defaults on the 3-D sampler and on a voice; values out of range or not finite refused, changing nothing.
TEST_F(Space, DefaultsAndRefusedSettings)
{
    const int voice = em_triggersample3d(listener, sample);
    const std::pair<int, float> refused[] = {{EMP_REFDISTANCE, 0},       {EMP_REFDISTANCE, -1},   {EMP_REFDISTANCE, NAN_},
                                             {EMP_MAXDISTANCE, -1},      {EMP_MAXDISTANCE, INF},  {EMP_ROLLOFF, -0.5f},
                                             {EMP_ROLLOFF, NAN_},        {EMP_CONEINNER, 361},    {EMP_CONEOUTER, -1},
                                             {EMP_CONEOUTERGAIN, 1.01f}, {EMP_DOPPLERFACTOR, -1}, {EMP_DOPPLERFACTOR, INF}};
    const float zero[3] = {0, 0, 0}, notanumber[3] = {NAN_, 0, 0}, infinite[3] = {0, INF, 0};
    const float tiny[3] = {1e-30f, 0, 0}, huge[3] = {3e38f, 3e38f, 0};
    // The axis, the float settings from EMP_REFDISTANCE to EMP_DOPPLERFACTOR, the model and EMP_RELATIVE.
    const auto settings = [](int h) {
        std::vector<float> v(3);
        em_getparamv(h, EMP_DIRECTION3D, v.data());
        for (int id = EMP_REFDISTANCE; id <= EMP_DOPPLERFACTOR; id++)
            v.push_back(em_getparamf(h, id));
        for (const int id : {EMP_DISTANCEMODEL, EMP_RELATIVE})
            v.push_back(static_cast<float>(em_getparam(h, id)));
        return v;
    };
    const std::vector<float> defaults = {0, 0, -1, 1, 256, 1, 360, 360, 0, 1, EMD_FALLOFF, 0};
    for (const int h : {listener, voice}) {
        EXPECT_EQ(settings(h), defaults);
        for (const auto& r : refused)
            EXPECT_EQ(em_setparamf(h, r.first, r.second), -1) << r.first << " " << r.second;
        EXPECT_EQ((std::vector<int> {em_setparam(h, EMP_DISTANCEMODEL, 7), em_setparam(h, EMP_DISTANCEMODEL, -1),
                                     em_setparam(h, EMP_RELATIVE, 2), em_setparamv(h, EMP_DIRECTION3D, zero),
                                     em_setparamv(h, EMP_DIRECTION3D, notanumber), em_setparamv(h, EMP_DIRECTION3D, infinite)}),
                  (std::vector<int>(6, -1)));
        EXPECT_EQ(settings(h), defaults);
        // Edges taken; a tiny or huge axis kept as its unit vector.
        EXPECT_EQ(em_setparamf(h, EMP_MAXDISTANCE, 0) | em_setparamf(h, EMP_CONEOUTERGAIN, 1) |
                      em_setparamf(h, EMP_DOPPLERFACTOR, 0) | em_setparamv(h, EMP_DIRECTION3D, tiny),
                  0);
        const std::vector<float> edges = settings(h);
        EXPECT_EQ((std::vector<float> {edges[0], edges[1], edges[2], edges[4], edges[8], edges[9]}),
                  (std::vector<float> {1, 0, 0, 0, 1, 0}));
        ASSERT_EQ(em_setparamv(h, EMP_DIRECTION3D, huge), 0);
        EXPECT_NEAR(settings(h)[1], 0.7071068, 1e-6);
    }
    EXPECT_EQ(em_setparamf(voice, EMP_3DSCALE, 100), -1) << "the listener's, not a voice's";
    const float at[3] = {0, 0, -1}, bad[3] = {0, NAN_, 0}, fast[3] = {INF, 0, 0};
    EXPECT_EQ((std::vector<int> {em_triggersample3dat(listener, sample, nullptr, at),
                                 em_triggersample3dat(listener, sample, bad, nullptr),
                                 em_triggersample3dat(listener, sample, at, fast), em_triggersample3dat(0, sample, at, at)}),
              (std::vector<int>(4, 0)));
    EXPECT_EQ((std::vector<int> {em_getchild(listener), em_getnext(voice)}), (std::vector<int> {voice, 0})) << "no voice";
}

} // namespace
