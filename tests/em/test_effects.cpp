// test_effects.cpp -- effect nodes and sends: filter responses against the cookbook's analog prototypes, echo
// repeats, reverb decay and silence, bad values, sends in the same buffer and their clean-up, a hashed scene
#include <algorithm>
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
    void noise(emtest_lcg* r, int32_t low, int32_t high)
    {
        std::generate(values.begin(), values.end(), [&] { return r->range(low, high); });
    }
    // The next buffer of a tone of f Hz on both sides, amplitude 1e6; frame counts on.
    void tone(double f, int64_t* frame)
    {
        for (int32_t i = 0; i < FRAMES; i++, ++*frame)
            values[2 * i] = values[2 * i + 1] =
                static_cast<int32_t>(1e6 * std::sin(2.0 * M_PI * f * static_cast<double>(*frame) / 44100.0));
    }
};

// The root's mix of the next buffer.
std::vector<int32_t> emtest_next()
{
    return kit_mixof(em_getroot());
}

// An effect of kind under parent with these float settings, each accepted.
int emtest_effect(int parent, int kind, std::initializer_list<std::pair<int, float>> settings)
{
    const int fx = em_createeffect(parent, kind);
    EXPECT_GT(fx, 0);
    for (const auto& s : settings)
        EXPECT_EQ(em_setparamf(fx, s.first, s.second), 0) << s.first << " " << s.second;
    return fx;
}

// |H| of the cookbook's analog prototype of a shape (f0 1 kHz, Q 0.9, gain 6 dB) at f, bilinear-mapped, f0 prewarped.
double emtest_cookbook(int shape, double f)
{
    using C = std::complex<double>;
    const double a = std::pow(10.0, 6.0 / 40.0), r = std::sqrt(a), q = 0.9;
    const C s(0.0, std::tan(M_PI * f / 44100.0) / std::tan(M_PI * 1000.0 / 44100.0));
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

TEST_F(Effects, EachFilterShapeHasTheCookbookGainAtFiveFrequencies)
{
    const int fx = emtest_effect(em_getroot(), EMX_FILTER, {{EMP_FREQUENCY, 1000.0f}, {EMP_Q, 0.9f}, {EMP_GAINDB, 6.0f}});
    emtest_feed feed(fx);
    int64_t frame = 0;
    for (int shape = EMFT_LOWPASS; shape <= EMFT_HIGHSHELF; shape++) {
        ASSERT_EQ(em_setparam(fx, EMP_FILTERTYPE, shape), 0);
        for (const double f : {100.0, 500.0, 1500.0, 4000.0, 12000.0}) {
            std::vector<double> in, out;
            for (int b = 0; b < 24; b++) {
                feed.tone(f, &frame);
                const std::vector<int32_t> mix = emtest_next();
                for (int32_t i = 0; b >= 8 && i < FRAMES; i++) { // after settling
                    in.push_back(feed.values[2 * i]), out.push_back(mix[2 * i]);
                    ASSERT_EQ(mix[2 * i], mix[2 * i + 1]);
                }
            }
            const double db = 20.0 * std::log10(kit_tonelevel(out, f) / kit_tonelevel(in, f));
            EXPECT_NEAR(db, 20.0 * std::log10(emtest_cookbook(shape, f)), 0.1) << "shape " << shape << " at " << f << " Hz";
        }
    }
}

// A 440 Hz tone through a low-pass and a high-pass whose cutoff sweeps between 200 Hz and 12 kHz (pattern 0) or jumps
// between them (1) every buffer: the largest output step stays within the tone's own but for the few per cent a
// moving filter adds (a cutoff that jumps instead of gliding makes steps 1.3 to 25 times the tone's).
TEST_F(Effects, ACutoffMovedEveryBufferMakesNoStepLargerThanTheSignals)
{
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
                feed.tone(440.0, &frame);
                const std::vector<int32_t> mix = emtest_next();
                for (int32_t i = 0; i < FRAMES; i++) {
                    outstep = frame > FRAMES ? std::max(outstep, std::abs(mix[2 * i] - last)) : outstep, last = mix[2 * i];
                    instep = i ? std::max(instep, std::abs(feed.values[2 * i] - feed.values[2 * i - 2])) : instep;
                }
            }
        }
        printf("largest step: %d in, %d out\n", instep, outstep);
        EXPECT_GT(outstep, instep / 4);
        EXPECT_LE(outstep, instep * (pattern ? 1.15 : 1.01)) << "pattern " << pattern;
        em_freenode(fx);
    }
}

TEST_F(Effects, AnEchoReturnsAtTheDelayEachRepeatTimesTheFeedback)
{
    const int fx =
        emtest_effect(em_getroot(), EMX_ECHO, {{EMP_DELAYMS, 100.0f}, {EMP_FEEDBACK, 0.5f}, {EMP_WET, 1.0f}, {EMP_DRY, 0.0f}});
    emtest_feed feed(fx);
    emtest_next(); // the glide from the defaults
    feed.values[2 * 10] = 1 << 20, feed.values[2 * 10 + 1] = -(1 << 19);
    for (size_t b = 0, f = 0; b < 20; b++, feed.silence()) {
        const std::vector<int32_t> mix = emtest_next();
        for (size_t i = 0; i < mix.size(); i += 2, f++) { // repeat k of the impulse at frame 10 every 4410 frames
            const size_t k = f >= 10 && (f - 10) % 4410 == 0 ? (f - 10) / 4410 : 0;
            EXPECT_EQ(mix[i], k ? (1 << 20) >> (k - 1) : 0) << "frame " << f;
            EXPECT_EQ(mix[i + 1], k ? -((1 << 19) >> (k - 1)) : 0) << "frame " << f;
        }
    }
}

// The reverb's decay time in seconds from the energy left after each frame of its answer to an impulse (the backward
// integral): the time from 5 to 25 dB down, three times.
double emtest_rt60(float room, float damping)
{
    const int fx =
        emtest_effect(em_getroot(), EMX_REVERB, {{EMP_ROOMSIZE, room}, {EMP_DAMPING, damping}, {EMP_WET, 1.0f}, {EMP_DRY, 0.0f}});
    emtest_feed feed(fx);
    emtest_next();
    feed.values[0] = feed.values[1] = 1 << 24;
    std::vector<double> energy;
    for (int b = 0; b < 400; b++, feed.silence())
        for (const int32_t v : emtest_next())
            energy.push_back(static_cast<double>(v) * v);
    em_freenode(fx);
    for (size_t i = energy.size() - 1; i > 0; i--)
        energy[i - 1] += energy[i];
    const auto down = [&](double db) {
        return std::partition_point(energy.begin(), energy.end(),
                                    [&](double e) { return e > energy[0] * std::pow(10.0, -db / 10.0); });
    };
    return 3.0 * static_cast<double>(down(25.0) - down(5.0)) / 2.0 / 44100.0;
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

// The longest tails, the largest room without damping and the longest feedback, each end in exact silence.
TEST_F(Effects, EveryTailEndsInExactSilence)
{
    const int reverb = emtest_effect(em_getroot(), EMX_REVERB, {{EMP_ROOMSIZE, 1.0f}, {EMP_DAMPING, 0.0f}});
    const int echo = emtest_effect(em_getroot(), EMX_ECHO, {{EMP_FEEDBACK, 0.999f}, {EMP_DELAYMS, 3.0f}});
    emtest_feed into(reverb), intoecho(echo);
    emtest_lcg r = {5};
    for (int b = 0; b < 20; b++, emtest_next())
        into.noise(&r, -30000, 30000), std::copy(into.values.begin(), into.values.end(), intoecho.values.begin());
    into.silence(), intoecho.silence();
    const auto silent = [](const int32_t* v) { return std::all_of(v, v + 2 * FRAMES, [](int32_t x) { return x == 0; }); };
    int quiet = 0, b = 0;
    for (; b < 3000 && quiet < 200; b++)
        quiet = silent(emtest_next().data()) ? quiet + 1 : 0;
    printf("silent %.1f s after the input stopped\n", (b - quiet) * 1024.0 / 44100.0);
    EXPECT_EQ(quiet, 200);
    EXPECT_TRUE(silent(em_getnode(reverb)->mixbuf));
}

TEST_F(Effects, BadValuesAreRefusedAndChangeNothing)
{
    const int filter = em_createeffect(em_getroot(), EMX_FILTER), echo = em_createeffect(em_getroot(), EMX_ECHO),
              reverb = em_createeffect(em_getroot(), EMX_REVERB);
    const float inf = INFINITY, nan = NAN;
    const struct {
        int node, id;
        float good, bad[4]; // the good value is the end of the range next to the first bad one
    } rows[] = {
        {filter, EMP_FREQUENCY, 22050.0f, {22050.5f, 0.99f, -5.0f, nan}},
        {filter, EMP_Q, 100.0f, {100.5f, 0.009f, 0.0f, inf}},
        {filter, EMP_GAINDB, -48.0f, {-48.5f, 48.5f, 1e30f, -inf}},
        {filter, EMP_WET, 4.0f, {4.1f, -0.1f, 1e30f, nan}},
        {echo, EMP_DELAYMS, 2000.0f, {2000.1f, 0.0f, -1.0f, inf}},
        {echo, EMP_FEEDBACK, 0.0f, {-0.1f, 1.0f, 1.5f, nan}},
        {echo, EMP_DRY, 0.0f, {-1e-30f, 4.5f, -inf, nan}},
        {reverb, EMP_ROOMSIZE, 1.0f, {1.01f, -0.01f, inf, nan}},
        {reverb, EMP_DAMPING, 0.0f, {-0.01f, 1.01f, -inf, nan}},
        {reverb, EMP_WIDTH, 0.0f, {-0.01f, 1.01f, 2.0f, inf}},
    };
    for (const auto& r : rows) {
        const float before = em_getparamf(r.node, r.id);
        for (const float v : r.bad) {
            EXPECT_EQ(em_setparamf(r.node, r.id, v), -1) << r.id << " " << v;
            EXPECT_EQ(em_getparamf(r.node, r.id), before) << r.id;
        }
        EXPECT_EQ(em_setparamf(r.node, r.id, r.good), 0) << r.id;
        EXPECT_EQ(em_getparamf(r.node, r.id), r.good);
    }
    // a parameter of another kind, which also reads as -1
    for (const auto& [node, id] : {std::pair<int, int> {echo, EMP_Q}, {reverb, EMP_FEEDBACK}, {filter, EMP_ROOMSIZE}})
        EXPECT_TRUE(em_setparamf(node, id, 0.5f) == -1 && em_getparamf(node, id) == -1.0f) << id;
    for (const auto& [node, type] : {std::pair<int, int> {filter, EMFT_HIGHSHELF + 1}, {filter, -1}, {echo, EMFT_LOWPASS}})
        EXPECT_EQ(em_setparam(node, EMP_FILTERTYPE, type), -1) << type;
    EXPECT_EQ((std::vector<int> {em_getparam(filter, EMP_FILTERTYPE), em_getparam(reverb, EMP_FILTERTYPE)}),
              (std::vector<int> {EMFT_LOWPASS, -1}));
    for (const auto& [parent, kind] :
         {std::pair<int, int> {em_getroot(), 0}, {em_getroot(), EMX_REVERB + 1}, {EM_MAXHANDLES + 3, EMX_ECHO}, {0, EMX_ECHO}})
        EXPECT_EQ(em_createeffect(parent, kind), 0) << parent << " " << kind;
}

// Every setting swept through its extremes while loud noise renders: the output stays bounded, and afterwards the
// node passes its input exactly at wet 0 and dry 1, the filter peaking at +48 dB (no state became a NaN or an infinity,
// and nothing of a loud wet path leaks into the dry).
TEST_F(Effects, ExtremeSettingsWhileRenderingLeaveNoBrokenState)
{
    const float values[] = {0.0f,  -0.0f,  1e-30f, 0.01f,   0.5f,     0.99f, 0.9999999f, 1.0f,     1.5f,      4.0f, 10.0f,
                            48.0f, -48.0f, 100.0f, 2000.0f, 22050.0f, 1e30f, -1e30f,     INFINITY, -INFINITY, NAN,  1e-45f};
    emtest_lcg r = {9};
    for (const int kind : {EMX_FILTER, EMX_ECHO, EMX_REVERB}) {
        const int fx = em_createeffect(em_getroot(), kind);
        emtest_feed feed(fx);
        for (int shape = EMFT_LOWPASS; shape <= EMFT_HIGHSHELF; shape++) {
            em_setparam(fx, EMP_FILTERTYPE, shape);
            for (const int id : {EMP_FREQUENCY, EMP_Q, EMP_GAINDB, EMP_DELAYMS, EMP_FEEDBACK, EMP_WET, EMP_DRY, EMP_ROOMSIZE,
                                 EMP_DAMPING, EMP_WIDTH})
                for (const float v : values) {
                    em_setparamf(fx, id, v), feed.noise(&r, -32768, 32767);
                    for (const int32_t y : emtest_next())
                        ASSERT_LT(std::abs(static_cast<int64_t>(y)), int64_t(1) << 31) << kind << " " << id << " " << v;
                }
        }
        em_setparam(fx, EMP_FILTERTYPE, EMFT_PEAKING), em_setparamf(fx, EMP_GAINDB, 48.0f);
        em_setparamf(fx, EMP_WET, 0.0f), em_setparamf(fx, EMP_DRY, 1.0f);
        for (int b = 0; b < 7; b++) { // the glide, then values beyond a float's exact range
            for (int32_t& v : feed.values)
                v = static_cast<int32_t>(static_cast<int64_t>(r.next()) * 255 - 0x7fffffff);
            const int32_t* out = (emtest_next(), em_getnode(fx)->mixbuf);
            ASSERT_TRUE(b == 0 || std::equal(out, out + 2 * FRAMES, feed.values.begin())) << "kind " << kind;
        }
        em_freenode(fx);
    }
}

// A filter that passes its input exactly: a send's arrival can be read off its parent's mix.
int emtest_passeffect(int parent)
{
    return emtest_effect(parent, EMX_FILTER, {{EMP_WET, 0.0f}, {EMP_DRY, 1.0f}});
}

// The effect first met: made after the sender's group (children are walked newest first), before it, deep in a later group.
TEST_F(Effects, ASendArrivesInTheSameBufferWhereverTheWalkMeetsTheEffect)
{
    emtest_lcg r = {3};
    for (const int arrangement : {0, 1, 2}) {
        const int root = em_getroot(), early = arrangement == 1 ? emtest_passeffect(root) : 0;
        const int group = em_createsampler(root, 0), later = em_createsampler(root, 0);
        const int fx = arrangement == 0 ? emtest_passeffect(root) : arrangement == 1 ? early : emtest_passeffect(later);
        emtest_feed feed(group);
        ASSERT_EQ(em_setsend(feed.node->handle, fx, 96), 0);
        for (int b = 0; b < 3; b++) {
            feed.noise(&r, -100000, 100000);
            const std::vector<int32_t> mix = emtest_next();
            for (size_t i = 0; i < mix.size(); i++)
                ASSERT_EQ(mix[i], feed.values[i] + feed.values[i] * 96 / 256) << arrangement << " at " << i;
        }
        em_freenode(group), em_freenode(later), em_freenode(fx);
    }
}

// Three voices ending in the third buffer, without sends, then each sending at unity to a passing effect made before the
// sampler (met first), after it (it runs the voices ahead and they end there) and inside it after the voices (a voice
// run ahead frees itself while the walk stands on its sibling). Each send adds the voice's own output again.
TEST_F(Effects, VoicesShareAnEffectAndLeaveItCleanlyWhenTheyEnd)
{
    const int sample = kit_makesample(kit_values(3000)), root = em_getroot();
    std::vector<int32_t> plain[4], sent[4];
    for (const int placement : {-1, 0, 1, 2}) {
        const int before = placement == 0 ? emtest_passeffect(root) : 0, sampler = em_createsampler(root, -1);
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

// (A sender's end takes its sends too: VoicesShareAnEffectAndLeaveItCleanlyWhenTheyEnd.)
TEST_F(Effects, SendLevelsChangeAndSendsGoWithTheirEffect)
{
    const int root = em_getroot(), fx = emtest_passeffect(root), group = em_createsampler(root, 0);
    emtest_feed feed(group);
    std::fill(feed.values.begin(), feed.values.end(), 1000);
    for (const auto& [level, heard] : {std::pair<int, int> {256, 2000}, {128, 1500}, {0, 1000}, {0, 1000}}) {
        ASSERT_EQ(em_setsend(group, fx, level), 0) << "a second call sets the level, 0 removes the send or none";
        EXPECT_EQ(emtest_next()[0], heard) << level;
    }
    EXPECT_EQ(em_sendsinuse(), 0);
    // The effect freed: its handle, taken by a new node, receives nothing.
    ASSERT_EQ(em_setsend(group, fx, 256), 0);
    em_freenode(fx);
    EXPECT_EQ(em_sendsinuse(), 0);
    EXPECT_EQ(emtest_passeffect(root), fx) << "the handle is reused";
    EXPECT_EQ(emtest_next()[0], 1000);
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
    for (int set = 2 + EM_MAXNODESENDS, node = 0; set < EM_MAXSENDS; set++) { // b into a, inner into a, the sampler's eight
        node = (set - 2) % EM_MAXNODESENDS ? node : em_createsampler(root, 0);
        ASSERT_EQ(em_setsend(node, effects[(set - 2) % EM_MAXNODESENDS], 10), 0);
    }
    EXPECT_EQ(em_setsend(b, effects[0], 10), -1) << "the table is full";
    EXPECT_EQ(em_setsend(b, effects[0], 0), 0);
    emtest_next();
}

// Voices through a filter, an echo and a shared reverb fed by sends: the same hashes at every level of the runs.
TEST_F(Effects, AnEffectSceneRendersItsFixedHashesAtEveryLevel)
{
    const int root = em_getroot();
    const int reverb = emtest_effect(root, EMX_REVERB, {{EMP_DRY, 0.0f}, {EMP_WET, 1.0f}}),
              echo = em_createeffect(root, EMX_ECHO);
    const int filter = em_createeffect(echo, EMX_FILTER), sampler = em_createsampler(filter, -1);
    const int sampler2 = em_createsampler(root, -1);
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
