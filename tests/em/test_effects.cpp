// test_effects.cpp -- effect nodes and sends: filter responses against the cookbook's analog prototypes, echo
// repeats, reverb decay and silence, bad values, sends in the same buffer and their clean-up, a hashed scene
#include <cmath>
#include <complex>

#include "tests/kit/kit_em.h"
#include "tools/mixgen/longmix.h"

namespace {

using Effects = kit_engine;

const int32_t FRAMES = 1024;

// A test source under parent whose values the test writes before each buffer.
struct emtest_feed {
    std::vector<int32_t> values = std::vector<int32_t>(2 * FRAMES, 0);
    em_node* node;
    explicit emtest_feed(int parent) : node(kit_addsource(em_getnode(parent), values.data())) { }
    void silence() { std::fill(values.begin(), values.end(), 0); }
};

// The root's mix of the next buffer.
std::vector<int32_t> emtest_next()
{
    return kit_mixof(em_getroot());
}

// |H| of the cookbook's analog prototype of a shape at f, bilinear-mapped with f0 prewarped.
double emtest_cookbook(int shape, double f0, double q, double gaindb, double f)
{
    using C = std::complex<double>;
    const double a = std::pow(10.0, gaindb / 40.0), r = std::sqrt(a);
    const C s(0.0, std::tan(M_PI * f / 44100.0) / std::tan(M_PI * f0 / 44100.0));
    const C one(1.0, 0.0), den = s * s + s / q + one;
    const C h[7] = {one / den,
                    s * s / den,
                    (s / q) / den,
                    (s * s + one) / den,
                    (s * s + s * (a / q) + one) / (s * s + s / (a * q) + one),
                    a * (s * s + (r / q) * s + a) / (a * s * s + (r / q) * s + one),
                    a * (a * s * s + (r / q) * s + one) / (s * s + (r / q) * s + a)};
    return std::abs(h[shape]);
}

// Hann-windowed correlation of a side of interleaved values with a tone of f.
double emtest_tone(const std::vector<double>& v, double f)
{
    std::complex<double> sum;
    const size_t n = v.size();
    for (size_t i = 0; i < n; i++) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / n), t = 2.0 * M_PI * f * i / 44100.0;
        sum += w * v[i] * std::complex<double>(std::cos(t), -std::sin(t));
    }
    return std::abs(sum);
}

TEST_F(Effects, EachFilterShapeHasTheCookbookGainAtFiveFrequencies)
{
    const int fx = em_createeffect(em_getroot(), EMX_FILTER);
    ASSERT_GT(fx, 0);
    emtest_feed feed(fx);
    ASSERT_EQ(em_setparamf(fx, EMP_FREQUENCY, 1000.0f), 0);
    ASSERT_EQ(em_setparamf(fx, EMP_Q, 0.9f), 0);
    ASSERT_EQ(em_setparamf(fx, EMP_GAINDB, 6.0f), 0);
    const double tones[5] = {100.0, 500.0, 1500.0, 4000.0, 12000.0};
    int64_t frame = 0;
    for (int shape = EMFT_LOWPASS; shape <= EMFT_HIGHSHELF; shape++) {
        ASSERT_EQ(em_setparam(fx, EMP_FILTERTYPE, shape), 0);
        for (const double f : tones) {
            std::vector<double> in, out;
            for (int b = 0; b < 24; b++) {
                for (int32_t i = 0; i < FRAMES; i++, frame++)
                    feed.values[2 * i] = feed.values[2 * i + 1] =
                        static_cast<int32_t>(1e6 * std::sin(2.0 * M_PI * f * static_cast<double>(frame) / 44100.0));
                const std::vector<int32_t> mix = emtest_next();
                for (int32_t i = 0; b >= 8 && i < FRAMES; i++) { // after settling
                    in.push_back(feed.values[2 * i]), out.push_back(mix[2 * i]);
                    ASSERT_EQ(mix[2 * i], mix[2 * i + 1]);
                }
            }
            const double measured = 20.0 * std::log10(emtest_tone(out, f) / emtest_tone(in, f));
            const double expected = 20.0 * std::log10(emtest_cookbook(shape, 1000.0, 0.9, 6.0, f));
            EXPECT_NEAR(measured, expected, 0.1) << "shape " << shape << " at " << f << " Hz";
        }
    }
}

// A 440 Hz tone through a low-pass and a high-pass whose cutoff moves every buffer: a sweep up and down between 200 Hz
// and 12 kHz (about 1.5 times a buffer), and a jump between them every buffer. The largest step of the output stays
// within the tone's own, but for the few per cent a filter that changes as it plays adds (a cutoff that jumps
// instead of gliding makes steps 1.3 to 25 times the tone's).
TEST_F(Effects, ACutoffMovedEveryBufferMakesNoStepLargerThanTheSignals)
{
    const double slack[2] = {1.01, 1.15};
    for (const int pattern : {0, 1}) {
        const int fx = em_createeffect(em_getroot(), EMX_FILTER);
        emtest_feed feed(fx);
        int64_t frame = 0;
        int32_t last = 0, instep = 0, outstep = 0;
        for (int shape : {EMFT_LOWPASS, EMFT_HIGHPASS}) {
            em_setparam(fx, EMP_FILTERTYPE, shape);
            for (int b = 0; b < 40; b++) {
                const double sweep = 200.0 * std::pow(60.0, std::abs(b % 20 - 10) / 10.0), jump = b % 2 ? 200.0 : 12000.0;
                em_setparamf(fx, EMP_FREQUENCY, static_cast<float>(pattern ? jump : sweep));
                for (int32_t i = 0; i < FRAMES; i++, frame++)
                    feed.values[2 * i] = feed.values[2 * i + 1] =
                        static_cast<int32_t>(1e6 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(frame) / 44100.0));
                const std::vector<int32_t> mix = emtest_next();
                for (int32_t i = 0; i < FRAMES; i++) {
                    if (frame > FRAMES)
                        outstep = std::max(outstep, std::abs(mix[2 * i] - last));
                    last = mix[2 * i];
                    if (i > 0)
                        instep = std::max(instep, std::abs(feed.values[2 * i] - feed.values[2 * i - 2]));
                }
            }
        }
        printf("largest step: %d in, %d out\n", instep, outstep);
        EXPECT_GT(outstep, instep / 4);
        EXPECT_LE(outstep, instep * slack[pattern]) << "pattern " << pattern;
        em_freenode(fx);
    }
}

TEST_F(Effects, WetZeroAndDryUnityPassTheInputThroughExactly)
{
    emtest_lcg r = {77};
    for (const int kind : {EMX_FILTER, EMX_ECHO, EMX_REVERB}) {
        const int fx = em_createeffect(em_getroot(), kind);
        emtest_feed feed(fx);
        ASSERT_EQ(em_setparamf(fx, EMP_WET, 0.0f), 0);
        ASSERT_EQ(em_setparamf(fx, EMP_DRY, 1.0f), 0);
        if (kind == EMX_FILTER)
            em_setparam(fx, EMP_FILTERTYPE, EMFT_PEAKING), em_setparamf(fx, EMP_GAINDB, 48.0f);
        emtest_next(); // the glide from the defaults
        for (int b = 0; b < 6; b++) {
            for (int32_t& v : feed.values)
                v = static_cast<int32_t>(static_cast<int64_t>(r.next()) * 255 - 0x7fffffff); // beyond a float's exact range
            emtest_next();
            const int32_t* out = em_getnode(fx)->mixbuf;
            ASSERT_EQ(std::vector<int32_t>(out, out + 2 * FRAMES), feed.values) << "kind " << kind;
        }
        em_freenode(fx);
    }
}

TEST_F(Effects, AnEchoReturnsAtTheDelayEachRepeatTimesTheFeedback)
{
    const int fx = em_createeffect(em_getroot(), EMX_ECHO);
    emtest_feed feed(fx);
    ASSERT_EQ(em_setparamf(fx, EMP_DELAYMS, 100.0f), 0); // 4410 frames
    ASSERT_EQ(em_setparamf(fx, EMP_FEEDBACK, 0.5f), 0);
    ASSERT_EQ(em_setparamf(fx, EMP_WET, 1.0f), 0);
    ASSERT_EQ(em_setparamf(fx, EMP_DRY, 0.0f), 0);
    emtest_next(); // the glide from the defaults
    std::vector<int32_t> heard;
    for (int b = 0; b < 20; b++) {
        feed.silence();
        if (b == 0)
            feed.values[2 * 10] = 1 << 20, feed.values[2 * 10 + 1] = -(1 << 19);
        const std::vector<int32_t> mix = emtest_next();
        heard.insert(heard.end(), mix.begin(), mix.end());
    }
    for (size_t f = 0; f < heard.size() / 2; f++) {
        const size_t k = f >= 10 && (f - 10) % 4410 == 0 ? (f - 10) / 4410 : 0;
        EXPECT_EQ(heard[2 * f], k ? (1 << 20) >> (k - 1) : 0) << "frame " << f;
        EXPECT_EQ(heard[2 * f + 1], k ? -((1 << 19) >> (k - 1)) : 0) << "frame " << f;
    }
}

// The reverb's decay time in seconds, from the energy left after each frame (the backward integral) of its answer to
// an impulse: the time from 5 to 25 dB down, three times.
double emtest_rt60(float room, float damping)
{
    const int fx = em_createeffect(em_getroot(), EMX_REVERB);
    emtest_feed feed(fx);
    em_setparamf(fx, EMP_ROOMSIZE, room), em_setparamf(fx, EMP_DAMPING, damping);
    em_setparamf(fx, EMP_WET, 1.0f), em_setparamf(fx, EMP_DRY, 0.0f);
    emtest_next();
    feed.values[0] = feed.values[1] = 1 << 24;
    std::vector<double> energy;
    for (int b = 0; b < 400; b++) {
        for (const int32_t v : emtest_next())
            energy.push_back(static_cast<double>(v) * v);
        feed.silence();
    }
    em_freenode(fx);
    for (size_t i = energy.size() - 1; i > 0; i--)
        energy[i - 1] += energy[i];
    size_t t5 = 0, t25 = 0;
    while (energy[t5] > energy[0] * std::pow(10.0, -0.5))
        t5++;
    while (energy[t25] > energy[0] * std::pow(10.0, -2.5))
        t25++;
    return 3.0 * static_cast<double>(t25 - t5) / 2.0 / 44100.0;
}

TEST_F(Effects, TheReverbDecaysLongerInALargerRoomAndShorterWithDamping)
{
    const double small = emtest_rt60(0.2f, 0.5f), mid = emtest_rt60(0.5f, 0.5f), large = emtest_rt60(0.8f, 0.5f);
    const double bright = emtest_rt60(0.5f, 0.0f), dull = emtest_rt60(0.5f, 1.0f);
    printf("RT60: room 0.2 %.2f s, 0.5 %.2f s, 0.8 %.2f s; damping 0 %.2f s, 1 %.2f s\n", small, mid, large, bright, dull);
    EXPECT_GT(small, 0.2);
    EXPECT_GT(mid, small * 1.3);
    EXPECT_GT(large, mid * 1.3);
    EXPECT_GT(bright, mid);
    EXPECT_GT(mid, dull);
}

TEST_F(Effects, EveryTailEndsInExactSilence)
{
    // The longest tails: the largest room without damping, the longest feedback.
    const int reverb = em_createeffect(em_getroot(), EMX_REVERB), echo = em_createeffect(em_getroot(), EMX_ECHO);
    em_setparamf(reverb, EMP_ROOMSIZE, 1.0f), em_setparamf(reverb, EMP_DAMPING, 0.0f);
    em_setparamf(echo, EMP_FEEDBACK, 0.999f), em_setparamf(echo, EMP_DELAYMS, 3.0f);
    emtest_feed into(reverb), intoecho(echo);
    emtest_lcg r = {5};
    for (int b = 0; b < 20; b++) {
        for (size_t i = 0; i < into.values.size(); i++)
            into.values[i] = intoecho.values[i] = r.range(-30000, 30000);
        emtest_next();
    }
    into.silence(), intoecho.silence();
    int quiet = 0, b = 0;
    for (; b < 3000 && quiet < 200; b++) {
        const std::vector<int32_t> mix = emtest_next();
        quiet = std::all_of(mix.begin(), mix.end(), [](int32_t v) { return v == 0; }) ? quiet + 1 : 0;
    }
    printf("silent %.1f s after the input stopped\n", (b - quiet) * 1024.0 / 44100.0);
    EXPECT_EQ(quiet, 200);
    const em_node* n = em_getnode(reverb);
    EXPECT_TRUE(std::all_of(n->mixbuf, n->mixbuf + 2 * FRAMES, [](int32_t v) { return v == 0; }));
}

TEST_F(Effects, BadValuesAreRefusedAndChangeNothing)
{
    const int filter = em_createeffect(em_getroot(), EMX_FILTER), echo = em_createeffect(em_getroot(), EMX_ECHO),
              reverb = em_createeffect(em_getroot(), EMX_REVERB);
    const float inf = INFINITY, nan = NAN;
    const struct {
        int node, id;
        float good, bad[6];
    } rows[] = {
        {filter, EMP_FREQUENCY, 22050.0f, {0.99f, 22050.5f, -5.0f, inf, -inf, nan}},
        {filter, EMP_Q, 100.0f, {0.0f, -1.0f, 100.5f, inf, nan, 0.009f}},
        {filter, EMP_GAINDB, -48.0f, {48.5f, -48.5f, inf, -inf, nan, 1e30f}},
        {filter, EMP_WET, 4.0f, {-0.1f, 4.1f, inf, nan, -inf, 1e30f}},
        {echo, EMP_DELAYMS, 2000.0f, {0.0f, 2000.1f, -1.0f, inf, nan, 1e9f}},
        {echo, EMP_FEEDBACK, 0.0f, {1.0f, -0.1f, 1.5f, inf, nan, -inf}},
        {echo, EMP_DRY, 0.0f, {-1e-30f, 4.5f, inf, nan, -inf, 5.0f}},
        {reverb, EMP_ROOMSIZE, 1.0f, {1.01f, -0.01f, inf, nan, -inf, 2.0f}},
        {reverb, EMP_DAMPING, 0.0f, {1.01f, -0.01f, inf, nan, -inf, 2.0f}},
        {reverb, EMP_WIDTH, 0.0f, {1.01f, -0.01f, inf, nan, -inf, 2.0f}},
        // a parameter of another kind
        {echo, EMP_Q, 0.0f, {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f}},
        {reverb, EMP_FEEDBACK, 0.0f, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}},
        {filter, EMP_ROOMSIZE, 0.0f, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}},
    };
    for (const auto& r : rows) {
        const float before = em_getparamf(r.node, r.id);
        for (const float v : r.bad) {
            EXPECT_EQ(em_setparamf(r.node, r.id, v), -1) << r.id << " " << v;
            EXPECT_EQ(em_getparamf(r.node, r.id), before) << r.id;
        }
        if (before != -1.0f) {
            EXPECT_EQ(em_setparamf(r.node, r.id, r.good), 0) << r.id;
            EXPECT_EQ(em_getparamf(r.node, r.id), r.good);
        }
    }
    EXPECT_EQ(em_setparam(filter, EMP_FILTERTYPE, EMFT_HIGHSHELF + 1), -1);
    EXPECT_EQ(em_setparam(filter, EMP_FILTERTYPE, -1), -1);
    EXPECT_EQ(em_setparam(echo, EMP_FILTERTYPE, EMFT_LOWPASS), -1);
    EXPECT_EQ(em_getparam(filter, EMP_FILTERTYPE), EMFT_LOWPASS);
    EXPECT_EQ(em_getparam(reverb, EMP_FILTERTYPE), -1);
    EXPECT_EQ(em_createeffect(em_getroot(), 0), 0);
    EXPECT_EQ(em_createeffect(em_getroot(), EMX_REVERB + 1), 0);
    EXPECT_EQ(em_createeffect(EM_MAXHANDLES + 3, EMX_ECHO), 0);
    EXPECT_EQ(em_createeffect(0, EMX_ECHO), 0);
}

// Every setting swept through its extremes while loud noise renders: the output stays bounded, and afterwards the
// node, set back to wet 0 and dry 1, passes its input exactly (no state became a NaN or an infinity).
TEST_F(Effects, ExtremeSettingsWhileRenderingLeaveNoBrokenState)
{
    const float values[] = {0.0f,  -0.0f,  1e-30f, 0.01f,   0.5f,     0.99f, 0.9999999f, 1.0f,     1.5f,      4.0f, 10.0f,
                            48.0f, -48.0f, 100.0f, 2000.0f, 22050.0f, 1e30f, -1e30f,     INFINITY, -INFINITY, NAN,  1e-45f};
    const int ids[] = {EMP_FREQUENCY, EMP_Q,   EMP_GAINDB,   EMP_DELAYMS, EMP_FEEDBACK,
                       EMP_WET,       EMP_DRY, EMP_ROOMSIZE, EMP_DAMPING, EMP_WIDTH};
    emtest_lcg r = {9};
    for (const int kind : {EMX_FILTER, EMX_ECHO, EMX_REVERB}) {
        const int fx = em_createeffect(em_getroot(), kind);
        emtest_feed feed(fx);
        for (int shape = EMFT_LOWPASS; shape <= EMFT_HIGHSHELF; shape++) {
            em_setparam(fx, EMP_FILTERTYPE, shape);
            for (const int id : ids)
                for (const float v : values) {
                    em_setparamf(fx, id, v);
                    for (int32_t& x : feed.values)
                        x = r.range(-32768, 32767);
                    for (const int32_t y : emtest_next())
                        ASSERT_LT(std::abs(static_cast<int64_t>(y)), int64_t(1) << 31) << kind << " " << id << " " << v;
                }
        }
        em_setparamf(fx, EMP_WET, 0.0f), em_setparamf(fx, EMP_DRY, 1.0f);
        emtest_next();
        for (int32_t& x : feed.values)
            x = r.range(-32768, 32767);
        EXPECT_EQ(emtest_next(), feed.values) << "kind " << kind;
        em_freenode(fx);
    }
}

// ---------------------------------------------------------------------------
// Sends
// ---------------------------------------------------------------------------

// A filter that passes its input exactly: a send's arrival can be read off its parent's mix.
int emtest_passeffect(int parent)
{
    const int fx = em_createeffect(parent, EMX_FILTER);
    em_setparamf(fx, EMP_WET, 0.0f), em_setparamf(fx, EMP_DRY, 1.0f);
    return fx;
}

TEST_F(Effects, ASendArrivesInTheSameBufferWhereverTheWalkMeetsTheEffect)
{
    emtest_lcg r = {3};
    // effect first met: made after the sender's group (children are walked newest first), and deep in a later group
    for (const int arrangement : {0, 1, 2}) {
        const int root = em_getroot();
        const int early = arrangement == 1 ? emtest_passeffect(root) : 0;
        const int group = em_createsampler(root, 0);
        const int later = em_createsampler(root, 0);
        const int fx = arrangement == 0 ? emtest_passeffect(root) : arrangement == 1 ? early : emtest_passeffect(later);
        emtest_feed feed(group);
        ASSERT_EQ(em_setsend(feed.node->handle, fx, 96), 0);
        for (int b = 0; b < 3; b++) {
            for (int32_t& x : feed.values)
                x = r.range(-100000, 100000);
            const std::vector<int32_t> mix = emtest_next();
            for (size_t i = 0; i < mix.size(); i++)
                ASSERT_EQ(mix[i], feed.values[i] + feed.values[i] * 96 / 256) << arrangement << " at " << i;
        }
        em_freenode(group), em_freenode(later), em_freenode(fx);
    }
}

// Three voices that end in the first buffer, rendered without sends and then each sending at unity to an effect that
// passes its input: made before the sampler (the walk meets the voices first), after it (the effect runs the voices
// ahead of their turn and they end there), and inside the sampler after the voices (a voice run ahead frees itself
// while the walk stands on its sibling). Each send adds the voice's own output again.
TEST_F(Effects, VoicesShareAnEffectAndLeaveItCleanlyWhenTheyEnd)
{
    const int sample = kit_makesample(kit_values(3000));
    const int root = em_getroot();
    std::vector<int32_t> plain[4], sent[4];
    for (const int placement : {-1, 0, 1, 2}) {
        const int before = placement == 0 ? emtest_passeffect(root) : 0;
        const int sampler = em_createsampler(root, -1);
        int voices[3];
        for (int& v : voices)
            v = em_triggersample(sampler, sample), em_setparam(v, EMP_PAN, 40 * static_cast<int>(&v - voices));
        const int fx = placement == 2 ? emtest_passeffect(sampler) : before ? before : emtest_passeffect(root);
        for (const int v : voices)
            ASSERT_EQ(em_setsend(v, fx, placement < 0 ? 0 : 256), 0);
        for (auto& buffer : placement < 0 ? plain : sent)
            buffer = emtest_next();
        EXPECT_EQ(em_getchild(sampler), placement == 2 ? fx : 0) << "every voice ended";
        EXPECT_EQ(em_sendsinuse(), 0) << "the ended voices' sends went with them";
        em_freenode(fx), em_freenode(sampler);
        for (int b = 0; placement >= 0 && b < 4; b++)
            for (size_t i = 0; i < plain[b].size(); i++)
                ASSERT_EQ(sent[b][i], plain[b][i] * 2) << "placement " << placement << " buffer " << b << " value " << i;
    }
}

TEST_F(Effects, SendsGoWithTheNodesAtEitherEnd)
{
    const int root = em_getroot();
    const int fx = emtest_passeffect(root), group = em_createsampler(root, 0);
    emtest_feed feed(group);
    std::fill(feed.values.begin(), feed.values.end(), 1000);
    ASSERT_EQ(em_setsend(group, fx, 256), 0);
    EXPECT_EQ(emtest_next()[0], 2000);
    ASSERT_EQ(em_setsend(group, fx, 128), 0);
    EXPECT_EQ(emtest_next()[0], 1500) << "a second call sets the level";
    ASSERT_EQ(em_setsend(group, fx, 0), 0);
    EXPECT_EQ(emtest_next()[0], 1000) << "level 0 removes the send";
    EXPECT_EQ(em_sendsinuse(), 0);
    EXPECT_EQ(em_setsend(group, fx, 0), 0) << "removing a send not set";
    // The effect freed: its handle, taken by a new node, receives nothing.
    ASSERT_EQ(em_setsend(group, fx, 256), 0);
    em_freenode(fx);
    EXPECT_EQ(em_sendsinuse(), 0);
    EXPECT_EQ(em_createeffect(root, EMX_FILTER), fx) << "the handle is reused";
    em_setparamf(fx, EMP_WET, 0.0f), em_setparamf(fx, EMP_DRY, 1.0f);
    EXPECT_EQ(emtest_next()[0], 1000);
    // The sender freed.
    ASSERT_EQ(em_setsend(group, fx, 256), 0);
    em_freenode(group);
    EXPECT_EQ(em_sendsinuse(), 0);
    EXPECT_EQ(emtest_next()[0], 0);
}

TEST_F(Effects, SendsThatCannotBeAreRefused)
{
    const int root = em_getroot();
    const int a = em_createeffect(root, EMX_FILTER), b = em_createeffect(root, EMX_FILTER);
    const int sampler = em_createsampler(a, 0), inner = em_createeffect(sampler, EMX_ECHO);
    const struct {
        int from, to, level;
    } refused[] = {
        {root, a, 256},          {a, a, 256},       {a, inner, 256},                    // its own output
        {sampler, inner, 256},   {b, sampler, 256}, {0, a, 256},     {b, 0, 256},       // not effects, no nodes
        {b, EM_MAXHANDLES, 256}, {b, a, -1},        {b, a, 1025},    {b, a, INT32_MIN}, // levels
    };
    for (const auto& r : refused)
        EXPECT_EQ(em_setsend(r.from, r.to, r.level), -1) << r.from << " to " << r.to << " at " << r.level;
    EXPECT_EQ(em_sendsinuse(), 0);
    // A loop through two effects: b into a, then anything under a into b.
    ASSERT_EQ(em_setsend(b, a, 1024), 0);
    EXPECT_EQ(em_setsend(a, b, 256), -1);
    EXPECT_EQ(em_setsend(sampler, b, 256), 0) << "a node under a may feed b, which feeds a";
    EXPECT_EQ(em_setsend(inner, a, 256), 0) << "a node under the effect may send to it";
    // Eight sends a node, EM_MAXSENDS in all.
    int effects[EM_MAXNODESENDS + 1];
    for (int& e : effects)
        e = em_createeffect(root, EMX_FILTER);
    for (int k = 0; k < EM_MAXNODESENDS - 1; k++)
        EXPECT_EQ(em_setsend(sampler, effects[k], 10), 0);
    EXPECT_EQ(em_setsend(sampler, effects[EM_MAXNODESENDS], 10), -1);
    int set = 2 + EM_MAXNODESENDS; // b into a, inner into a, the sampler's eight
    while (set < EM_MAXSENDS) {
        const int node = em_createsampler(root, 0);
        ASSERT_GT(node, 0);
        for (int k = 0; k < EM_MAXNODESENDS && set < EM_MAXSENDS; k++, set++)
            ASSERT_EQ(em_setsend(node, effects[k], 10), 0);
    }
    EXPECT_EQ(em_setsend(b, effects[0], 10), -1) << "the table is full";
    EXPECT_EQ(em_setsend(b, effects[0], 0), 0);
    emtest_next();
}

// Voices through a filter, an echo and a shared reverb fed by sends: the same hashes at every level of the runs.
TEST_F(Effects, AnEffectSceneRendersItsFixedHashesAtEveryLevel)
{
    const int root = em_getroot();
    const int reverb = em_createeffect(root, EMX_REVERB), echo = em_createeffect(root, EMX_ECHO);
    const int filter = em_createeffect(echo, EMX_FILTER), sampler = em_createsampler(filter, -1);
    const int sampler2 = em_createsampler(root, -1);
    em_setparamf(reverb, EMP_DRY, 0.0f), em_setparamf(reverb, EMP_WET, 1.0f);
    em_setparamf(echo, EMP_DELAYMS, 37.0f), em_setparam(filter, EMP_FILTERTYPE, EMFT_BANDPASS);
    em_setsend(sampler, reverb, 200), em_setsend(echo, reverb, 100);
    const int mono = kit_makesample(emtest_signal(20000, 1)), stereo = kit_makesample(emtest_signal(30000, 2), 2);
    emtest_lcg r = {44};
    emtest_hashes h;
    for (int b = 0; b < 120; b++) {
        if (b % 7 == 0) {
            const int v = em_triggersample(b % 2 ? sampler : sampler2, b % 3 ? mono : stereo);
            em_setparam(v, EMP_PITCH, r.range(0x8000, 0x20000));
            em_setsend(v, reverb, r.range(0, 300));
        }
        em_setparamf(filter, EMP_FREQUENCY, static_cast<float>(r.range(200, 8000)));
        emtest_hashbuffer(&h);
    }
    EXPECT_EQ(h.out, 0x384e7ef0a86e3914u) << std::hex << h.out << " " << h.mix;
    EXPECT_EQ(h.mix, 0x20f2138b322a61c2u);
}

} // namespace
