// bench_mix.cpp -- the mixer's benchmark (a report, not a test): ns per
// voice-frame of each mixing routine, the whole audio callback with 1 .. 510
// voices of each kind beside OpenAL Soft's loopback device rendering the same
// voices, and a hash of a long rendered mix that proves optimisations exact.
// The tables go to standard output, the engine's own messages to standard
// error. EM_SIMD (none, sse2, avx2) chooses the level of the vector runs.
//   usage: quorrel_mixbench [--hash | --figures] [--quick] [--kind KEY] [--data FILE] [--peer fair|default]
//     --hash        only the hash of the long mix
//     --figures     everything but the hash
//     --peer CONFIG OpenAL Soft with its output limiter and dither off (fair, the
//                   default) or with its own defaults (default: then only the
//                   rows beside it, no routines)
//     --quick       three short rounds a figure instead of seven
//     --kind KEY    only the callback rows of one voice kind (mono, monostep, ...,
//                   reverb: the 64 voices sharing a reverb, by their own sends
//                   and by their sampler's; lowpass: 500 voices each with its
//                   own low-pass)
//     --data FILE   also writes every figure as a tab-separated row to FILE
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "em/em.h"
#include "em/em_local.h"
#include "tools/mixgen/longmix.h"
#include "tools/mixgen/oggwriter.h"

namespace {

const int32_t EMB_FRAMES = 1024;        // frames per buffer, as the device asks
const int32_t EMB_SAMPLEFRAMES = 44100; // one second of source data
const int EMB_COUNTS[] = {1, 64, 256, 510};

// How the run was asked for.
struct emb_options {
    bool hashonly = false;
    bool figuresonly = false;
    double roundms = 20.0; // length of one round of a figure
    int rounds = 7;        // rounds a figure, the median reported
    int kind = -1;         // the one kind of callback rows, -1 all
    FILE* data = nullptr;  // tab-separated figures, or null
    emb_peerconfig peer = EMB_PEERFAIR;
};
emb_options embopts;

// One figure under the run's options.
template <typename F> emb_figure emb_time(F&& body)
{
    return emb_measure(body, embopts.roundms, embopts.rounds);
}

const char* emb_level()
{
    return em_simdname(em_simdlevel());
}

// The hash of the long mix rendered by the mixing loops as they were before
// they were optimised: every later version must render the same values.
const uint64_t EMB_REFOUT = 0x6532dcd4f26d202dull; // 16-bit output
const uint64_t EMB_REFMIX = 0x85ebe866a679b5faull; // 32-bit root mix before the limiter
// The hashes of the 3-D long mix rendered before the 3-D and ramp loops were
// optimised, as the geometry's mends since changed them (a position set from
// outside keeps the offset in force, a negative speed of sound is silent, pans
// stay within -128..128).
const uint64_t EMB_REF3DOUT = 0x3f044f54f20eaf8bull;   // 16-bit output
const uint64_t EMB_REF3DMIX = 0xb03c3de197546eb9ull;   // 32-bit root mix before the limiter
const uint64_t EMB_REF3DSTATE = 0x37f9d6e4c640e0a0ull; // the voices' read heads, gains and steps

// ---------------------------------------------------------------------------
// Source data: the same 16-bit values go into the engine and the peer
// ---------------------------------------------------------------------------

struct emb_sources {
    std::vector<int16_t> mono, stereo;
    em_sample* monos;
    em_sample* stereos;
};

// ---------------------------------------------------------------------------
// The engine, paused, its callback called by the bench
// ---------------------------------------------------------------------------

int emb_startengine()
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (em_init() != 0)
        return -1;
    SDL_PauseAudio(1);
    SDL_LockAudio();
    SDL_UnlockAudio();
    return emstate.samples == EMB_FRAMES ? 0 : -1;
}

void emb_callback(std::vector<int16_t>* out)
{
    em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out->data()), static_cast<int>(out->size() * 2));
}

// 3-D voices under one listener at the origin; the voices move by their velocity.
void emb_add3d(int voices, bool interp, const emb_sources& src, std::vector<int>* nodes)
{
    const int listener = em_createsampler3d(em_getroot(), -1);
    if (!listener)
        return;
    nodes->push_back(listener);
    em_setparam(listener, EMP_DEFFLAGS, static_cast<int32_t>(EMF_LOOP | EMF_MOVING));
    for (int i = 0; i < voices; i++) {
        float p[3], v[3];
        emb_voiceplace(i, p, v);
        em_setparamv(listener, EMP_POSITION3DB, p);
        em_setparamv(listener, EMP_VELOCITY3DB, v);
        em_setparam(listener, EMP_DEFVOLUME, emb_voicevolume(i));
        const int voice = em_triggersample3d(listener, src.monos->handle);
        if (!voice)
            break;
        em_setparam(voice, EMP_INTERPOLATE, interp ? 1 : 0);
    }
}

// Puts the 3-D voices back on their first places (a long run would carry
// them out of hearing).
void emb_replace3d(const std::vector<int>& nodes)
{
    for (const int listener : nodes) {
        int i = 0;
        for (int h = em_getchild(listener); h; h = em_getnext(h), i++) {
            float p[3], v[3];
            emb_voiceplace(i, p, v);
            em_setparamv(h, EMP_POSITION3D, p);
        }
    }
}

// 8-channel sequencers under the root, each channel a looping mono sample
// retuned by a 16-step pattern of notes and rests, one pass a second; voices
// counts channels (the handle table holds the root and 56 sequencers).
void emb_addsequencers(int voices, const emb_sources& src, std::vector<int>* nodes)
{
    const int steps = 16;
    for (int made = 0; made < voices;) {
        const int sequencer = em_createsequencer(em_getroot(), EM_SEQCHANNELS, steps);
        if (!sequencer)
            break;
        nodes->push_back(sequencer);
        for (int c = 0; c < EM_SEQCHANNELS; c++, made++) {
            em_setparam(sequencer, EMP_CHANNEL, c);
            const int channel = em_getparam(sequencer, EMP_CHANNELNODE);
            int8_t pattern[steps];
            for (int k = 0; k < steps; k++)
                pattern[k] = (k + c) % 4 == 3 ? 0 : static_cast<int8_t>(48 + (made * 5 + k * 7) % 36);
            em_setparamp(channel, EMP_PATTERN, pattern);
            em_setparam(channel, EMP_SAMPLE, src.monos->handle);
            em_setparam(channel, EMP_FLAGS, static_cast<int32_t>(EMF_LOOP));
            em_setparam(channel, EMP_VOLUME, emb_voicevolume(made));
            em_setparam(channel, EMP_PAN, emb_voicepan(made));
        }
        em_setparam(sequencer, EMP_RUN, 1);
    }
}

// Voices of one kind; the number made.
int emb_addvoices(emb_kind kind, int voices, const emb_sources& src, std::vector<int>* nodes)
{
    const emb_kindinfo& k = emb_kinds[kind];
    if (k.placed) {
        emb_add3d(voices, k.interp, src, nodes);
        int made = 0;
        for (int h = nodes->empty() ? 0 : em_getchild(nodes->front()); h; h = em_getnext(h))
            made++;
        return made;
    }
    if (kind == EMB_SEQUENCER) {
        emb_addsequencers(voices, src, nodes);
        return static_cast<int>(nodes->size()) * EM_SEQCHANNELS;
    }
    const em_sample* s = k.stereo ? src.stereos : src.monos;
    for (int i = 0; i < voices; i++) {
        em_schannel* ch = emtest_addschannel(s, nodes);
        if (!ch)
            break;
        ch->volume = emb_voicevolume(i);
        ch->pan = emb_voicepan(i);
        ch->step = k.stepped ? emb_voicestep(i) : 0x10000;
        ch->pos = emb_voicestart(i, s->length) * s->channels;
        em_setparam(nodes->back(), EMP_INTERPOLATE, k.interp ? 1 : 0);
    }
    return static_cast<int>(nodes->size());
}

// ---------------------------------------------------------------------------
// Goals, printed beside the figures (reports, never tests)
// ---------------------------------------------------------------------------

// What a row is measured against; 0 for none.
struct emb_goals {
    double ns;    // a routine: at most this many ns per voice-frame
    double ratio; // a callback row: OpenAL Soft's time at least this many times the engine's
    double share; // a callback row: below this % of the buffer's budget
};

// At the vector runs' levels, the rows of about 500 voices: SSE2 at least
// twice OpenAL Soft's speed for every kind; AVX2 five times for unit-step
// mono and stereo, three times stepped and 3-D, twice for the others. The
// interpolating kinds are against OpenAL Soft's linear resampler. The plain
// loops are reported beside them.
double emb_ratiogoal(emb_kind kind, int count)
{
    const int level = em_simdlevel();
    if (count < 500 || level == EM_SIMDNONE || !emb_kinds[kind].peer)
        return 0.0;
    if (level == EM_SIMDSSE2)
        return 2.0;
    switch (kind) {
    case EMB_MONO:
    case EMB_STEREO: return 5.0;
    case EMB_MONOSTEP:
    case EMB_3D: return 3.0;
    default: return 2.0;
    }
}

emb_goals emb_callbackgoals(emb_kind kind, int count)
{
    emb_goals g = {0.0, emb_ratiogoal(kind, count), 0.0};
    if (kind == EMB_MONO && count == 510)
        g.share = 5.0;
    if (kind == EMB_3D && count >= 509)
        g.share = 15.0;
    return g;
}

// The goals as the data file writes them ("ns1.5", "x2", "pct5"; "-" none).
std::string emb_goalcodes(const emb_goals& g)
{
    std::string codes;
    char code[32];
    const double values[] = {g.ns, g.ratio, g.share};
    const char* names[] = {"ns", "x", "pct"};
    for (int i = 0; i < 3; i++) {
        if (values[i] <= 0.0)
            continue;
        snprintf(code, sizeof(code), "%s%s%g", codes.empty() ? "" : ",", names[i], values[i]);
        codes += code;
    }
    return codes.empty() ? "-" : codes;
}

// One verdict in the tables' words.
std::string emb_verdict(const char* goal, bool met)
{
    return std::string(goal) + (met ? ": met" : ": missed");
}

// One figure as a row of the data file: ns per voice-frame (routines) or per
// buffer (callbacks), the peer's ns per buffer, the median of the paired
// rounds' ratios (peer / engine) and the peer's configuration, or "-".
void emb_datarow(const char* section, const char* key, const char* name, int voices, double ns, double peerns, double ratio,
                 const char* resampler, const emb_goals& goals)
{
    if (!embopts.data)
        return;
    fprintf(embopts.data, "%s\t%s\t%s\t%d\t%s\t%.4f\t", section, key, name, voices, emb_level(), ns);
    if (peerns > 0.0)
        fprintf(embopts.data, "%.4f\t%s", peerns, resampler);
    else
        fprintf(embopts.data, "-\t-");
    fprintf(embopts.data, "\t%s\t", emb_goalcodes(goals).c_str());
    if (peerns > 0.0)
        fprintf(embopts.data, "%.4f\t%s\n", ratio, emb_peerconfigname(embopts.peer));
    else
        fprintf(embopts.data, "-\t-\n");
}

// ---------------------------------------------------------------------------
// The mixing routines one at a time
// ---------------------------------------------------------------------------

void emb_printroutine(const char* key, const char* name, emb_figure f, double goalns, const char* note)
{
    char goal[64];
    snprintf(goal, sizeof(goal), "<= %.1f", goalns);
    const std::string text = goalns > 0.0 ? emb_verdict(goal, f.median <= goalns) : note;
    emb_print("| %-30s | %6.3f | %6.3f | %s |\n", name, f.median, f.best, text.c_str());
    emb_datarow("routine", key, name, 1, f.median, 0.0, 0.0, "", {goalns, 0.0, 0.0});
}

emb_figure emb_timeroutine(const em_sample* s, int32_t step, bool ramp, bool interp)
{
    std::vector<int32_t> out(2 * EMB_FRAMES);
    em_schannel ch = {};
    ch.sample = s->handle;
    ch.volume = 200;
    ch.pan = 30;
    ch.step = step;
    ch.flags = EMF_PLAYING | EMF_LOOP | (interp ? static_cast<uint32_t>(EMF_INTERPOLATE) : 0u);
    long calls = 0;
    emb_figure f = emb_time([&](long n) {
        for (long i = 0; i < n; i++, calls++) {
            if (ramp) {
                ch.tstep = (calls & 1) ? 0xB000 : 0x18000;
                ch.tvolume = (calls & 1) ? 200 : 100;
                ch.tpan = (calls & 1) ? 30 : -30;
                ch.flags |= EMF_RAMP;
            }
            em_mixschannel(&ch, s, out.data(), EMB_FRAMES);
        }
    });
    return {f.median / EMB_FRAMES, f.best / EMB_FRAMES};
}

// The callback rendering into out, n times.
emb_figure emb_timecallback(std::vector<int16_t>* out)
{
    return emb_time([&](long n) {
        for (long i = 0; i < n; i++)
            emb_callback(out);
    });
}

// One sampler voice's routine: ns per voice-frame of em_mixschannel.
struct emb_routine {
    const char* key;
    const char* name;
    bool stereo;
    int32_t step;
    bool ramp;
    bool interp;
    double goalns; // 0 for none
};

const emb_routine EMB_ROUTINES[] = {
    {"mono", "mono, unit step", false, 0x10000, false, false, 0.5},
    {"monostep", "mono, stepped", false, 0xB000, false, false, 1.5},
    {"monoramp", "mono, ramped", false, 0xB000, true, false, 1.5},
    {"monolerp", "mono, stepped, interpolated", false, 0xB000, false, true, 0.0},
    {"stereo", "stereo, unit step", true, 0x10000, false, false, 0.0},
    {"stereostep", "stereo, stepped", true, 0xB000, false, false, 1.5},
    {"stereoramp", "stereo, ramped", true, 0xB000, true, false, 1.5},
    {"stereolerp", "stereo, stepped, interpolated", true, 0xB000, false, true, 0.0},
};

void emb_routines(const emb_sources& src)
{
    emb_print("\n### Mixing routines (ns per voice-frame, 1024-frame calls, one voice; vector runs: %s)\n\n", emb_level());
    emb_print("| routine | median | best | goal |\n|---|---|---|---|\n");
    for (const emb_routine& r : EMB_ROUTINES) {
        const emb_figure f = emb_timeroutine(r.stereo ? src.stereos : src.monos, r.step, r.ramp, r.interp);
        emb_printroutine(r.key, r.name, f, r.goalns, "");
    }

    // The 3-D voice: geometry once per call, then two read heads gliding.
    std::vector<int> nodes;
    emb_add3d(1, false, src, &nodes);
    const int voice = nodes.empty() ? 0 : em_getchild(nodes.front());
    if (voice) {
        em_s3channel* ch = static_cast<em_s3channel*>(em_getnode(voice)->data);
        std::vector<int32_t> out(2 * EMB_FRAMES);
        const emb_figure f = emb_time([&](long n) {
            for (long i = 0; i < n; i++)
                em_mixs3channel(ch, src.monos, out.data(), EMB_FRAMES);
        });
        emb_printroutine("3d", "em_mixs3channel (3-D)", {f.median / EMB_FRAMES, f.best / EMB_FRAMES}, 0.0, "");
    }
    emtest_removenodes(&nodes);
    // The sequencer's channels mix inside its node: the callback with one
    // 8-channel sequencer less the empty callback, per channel-frame.
    std::vector<int16_t> silent(2 * EMB_FRAMES);
    const emb_figure empty = emb_timecallback(&silent);
    emb_addsequencers(EM_SEQCHANNELS, src, &nodes);
    emb_figure f = emb_timecallback(&silent);
    emtest_removenodes(&nodes);
    const double per = EM_SEQCHANNELS * EMB_FRAMES;
    emb_printroutine("seqwalk", "sequencer channel walk", {(f.median - empty.median) / per, (f.best - empty.best) / per}, 0.0,
                     "8 channels, less the empty callback");

    // The limiter: the callback over a loud pre-mixed buffer (510 voices'
    // mix), so the clear of the buffers is counted with it.
    emb_addvoices(EMB_MONO, 510, src, &nodes);
    std::vector<int16_t> out(2 * EMB_FRAMES);
    emb_callback(&out);
    static std::vector<int32_t> premix;
    premix.assign(emstate.root->mixbuf, emstate.root->mixbuf + 2 * EMB_FRAMES);
    emtest_removenodes(&nodes);
    int beyond = 0;
    for (const int32_t v : premix)
        beyond += v > 16384 || v < -16384;
    em_node* source = em_createnode(nullptr);
    source->process = [](em_node* node) { memcpy(node->parent->mixbuf, premix.data(), premix.size() * 4); };
    em_attachnode(source, emstate.root);
    f = emb_timecallback(&out);
    em_destroynode(source);
    char name[64];
    snprintf(name, sizeof(name), "limiter pass (%d%% past knee)", beyond * 100 / (2 * EMB_FRAMES));
    emb_printroutine("limiter", name, {f.median / EMB_FRAMES, f.best / EMB_FRAMES}, 0.0, "per output frame, clears included");
}

// ---------------------------------------------------------------------------
// The whole callback beside the peer
// ---------------------------------------------------------------------------

// The engine's voices of one kind and what changes them between buffers.
struct emb_enginevoices {
    emb_kind kind;
    std::vector<int> nodes; // voice handles (3-D: the listener)
    long buffers = 0;       // rendered since the voices started
};

// Ramped voices get new targets for volume, pitch and pan every buffer: the
// parameters of another voice, as the peer's sources do.
void emb_retarget(const emb_enginevoices& v)
{
    for (size_t i = 0; i < v.nodes.size(); i++) {
        const int j = emb_rampvoice(static_cast<int>(i), v.buffers);
        em_setparam(v.nodes[i], EMP_TARGETVOLUME, emb_voicevolume(j));
        em_setparam(v.nodes[i], EMP_TARGETPITCH, emb_voicestep(j));
        em_setparam(v.nodes[i], EMP_TARGETPAN, emb_voicepan(j));
    }
}

// Fading voices get a new fade every 20 buffers, to another voice's volume
// over 20 buffers' time: every buffer of every voice is a step of a fade.
void emb_refade(const emb_enginevoices& v)
{
    if (v.buffers % 20 != 0)
        return;
    for (size_t i = 0; i < v.nodes.size(); i++)
        em_fade(v.nodes[i], emb_voicevolume(emb_rampvoice(static_cast<int>(i), v.buffers)), 464, EM_FADEKEEP);
}

// Renders n buffers through the engine; the 3-D voices go back to their
// places every 256 buffers.
void emb_engineround(long n, emb_enginevoices* v, std::vector<int16_t>* out)
{
    const emb_kindinfo& k = emb_kinds[v->kind];
    for (long i = 0; i < n; i++, v->buffers++) {
        if (k.placed && (v->buffers & 255) == 0)
            emb_replace3d(v->nodes);
        if (k.ramped)
            emb_retarget(*v);
        if (v->kind == EMB_MONOFADE)
            emb_refade(*v);
        emb_callback(out);
    }
}

// The engine's round beside OpenAL Soft's on the same voices, in
// alternating rounds (the peer's sources made beside the engine's voices):
// the engine's figure, the peer's ns per buffer and the median of the
// paired rounds' ratios (peer / engine), both 0 when the peer could not make
// every voice or there is none.
struct emb_sidebyside {
    emb_figure engine;
    double peerns, ratio;
};

template <typename F> emb_sidebyside emb_besidepeer(F&& engineround, bool peer, int made, int voices, bool placed)
{
    if (!peer || made != voices) {
        emb_alstop();
        return {emb_time(engineround), 0.0, 0.0};
    }
    std::vector<int16_t> alout(2 * EMB_FRAMES);
    long buffers = 0;
    const emb_pair p = emb_measurepair(
        engineround,
        [&](long n) {
            for (long i = 0; i < n; i++, buffers++) {
                emb_alrender(alout.data(), EMB_FRAMES);
                if (((buffers + 1) & 255) == 0 && placed)
                    emb_alreplace();
            }
        },
        embopts.roundms, embopts.rounds);
    emb_alstop();
    return {p.a, p.b.median, p.ratio};
}

// The goals of a row and how it did.
std::string emb_goaltext(const emb_goals& g, double share, double ratio)
{
    std::string text;
    char goal[64];
    if (g.share > 0.0) {
        snprintf(goal, sizeof(goal), "< %g%%", g.share);
        text = emb_verdict(goal, share < g.share);
    }
    if (g.ratio > 0.0 && ratio > 0.0) {
        snprintf(goal, sizeof(goal), ">= %gx OpenAL", g.ratio);
        text += (text.empty() ? "" : "; ") + emb_verdict(goal, ratio >= g.ratio);
    }
    return text;
}

// The voice counts of a kind's rows: the handle table holds 511 nodes, so
// 3-D rows stop at 509 voices (root and listener) and sequencer rows count
// 8 .. 448 channels (56 sequencers).
int emb_rowcount(emb_kind kind, int count)
{
    if (emb_kinds[kind].placed && count > 509)
        return 509;
    if (kind == EMB_SEQUENCER)
        return count < EM_SEQCHANNELS ? EM_SEQCHANNELS : count > 448 ? 448 : count;
    return count;
}

void emb_callbackrow(emb_kind kind, int count, const emb_sources& src, bool peer)
{
    const emb_kindinfo& k = emb_kinds[kind];
    std::vector<int16_t> out(2 * EMB_FRAMES);
    emb_enginevoices voices;
    voices.kind = kind;
    const int made = emb_addvoices(kind, count, src, &voices.nodes);
    const int peermade = peer && k.peer ? emb_alstart(kind, made, src.mono, src.stereo) : -1;
    const emb_sidebyside s =
        emb_besidepeer([&](long n) { emb_engineround(n, &voices, &out); }, peer && k.peer, peermade, made, k.placed);
    emtest_removenodes(&voices.nodes);
    const emb_figure f = s.engine;
    const double share = 100.0 * f.median / EMB_BUDGETNS;
    const double peerns = s.peerns, ratio = s.ratio;
    const emb_goals goals = emb_callbackgoals(kind, made);
    const std::string goal = emb_goaltext(goals, share, ratio);
    if (peerns > 0.0)
        emb_print("| %d | %s | %.1f | %.2f | %.1f | %.2f | %.2f | %s |\n", made, k.name, f.median / 1000.0, share,
                  peerns / 1000.0, 100.0 * peerns / EMB_BUDGETNS, ratio, goal.c_str());
    else
        emb_print("| %d | %s | %.1f | %.2f | %s | | | %s |\n", made, k.name, f.median / 1000.0, share,
                  peer && k.peer ? "fewer sources" : "-", goal.c_str());
    emb_datarow("callback", k.key, k.name, made, f.median, peerns, ratio, emb_alresampler(k.interp), goals);
}

void emb_callbacks(const emb_sources& src, bool peer)
{
    emb_print("\n### The whole callback (us per 1024-frame buffer, median of %d rounds; budget %.0f us; vector runs: %s; "
              "OpenAL Soft in its %s configuration, its rounds alternating with the engine's, the ratio the median of the"
              " paired rounds')\n\n",
              embopts.rounds, EMB_BUDGETNS / 1000.0, emb_level(), emb_peerconfigname(embopts.peer));
    emb_print("| voices | kind | engine us | engine %% of budget | OpenAL Soft us | OpenAL %% | OpenAL / engine | goal |\n");
    emb_print("|---|---|---|---|---|---|---|---|\n");
    for (int k = 0; k < EMB_KINDS; k++) {
        if (embopts.kind >= 0 && k != embopts.kind)
            continue;
        for (const int count : EMB_COUNTS)
            emb_callbackrow(static_cast<emb_kind>(k), emb_rowcount(static_cast<emb_kind>(k), count), src, peer);
    }
}

// Prints and records a row of voices through effects beside the peer's: the
// goal is 1.5 times OpenAL Soft where the vector runs are in use.
void emb_effectrow(const char* kind, const char* name, int made, const emb_sidebyside& s, bool peer, const char* peereffect)
{
    const double median = s.engine.median, share = 100.0 * median / EMB_BUDGETNS;
    const emb_goals goals = {0.0, em_simdlevel() == EM_SIMDNONE ? 0.0 : 1.5, 0.0};
    const std::string goal = emb_goaltext(goals, share, s.ratio);
    if (s.peerns > 0.0)
        emb_print("| %d | %s | %.1f | %.2f | %.1f | %.2f | %.2f | %s |\n", made, name, median / 1000.0, share, s.peerns / 1000.0,
                  100.0 * s.peerns / EMB_BUDGETNS, s.ratio, goal.c_str());
    else
        emb_print("| %d | %s | %.1f | %.2f | %s | | | %s |\n", made, name, median / 1000.0, share,
                  peer ? (std::string("no ") + peereffect).c_str() : "-", goal.c_str());
    emb_datarow("callback", kind, name, made, median, s.peerns, s.ratio, peereffect, goals);
}

// 64 unit-step mono voices sharing one reverb whose dry level is 0 (it adds
// its own sound only, as an auxiliary effect slot does): each voice sending at
// unity, or the voices under one sampler that sends at unity. Beside them
// OpenAL Soft's sources, each sending to its standard reverb.
void emb_reverbrow(const emb_sources& src, bool peer, bool bysampler)
{
    const int voices = 64;
    std::vector<int16_t> out(2 * EMB_FRAMES);
    emb_enginevoices v;
    v.kind = EMB_MONO;
    const int made = emb_addvoices(EMB_MONO, voices, src, &v.nodes);
    const int sampler = bysampler ? em_createsampler(em_getroot(), 0) : 0;
    const int reverb = em_createeffect(em_getroot(), EMX_REVERB);
    em_setparamf(reverb, EMP_DRY, 0.0f), em_setparamf(reverb, EMP_WET, 1.0f);
    for (const int node : v.nodes) {
        if (sampler)
            em_attachnode(em_getnode(node), em_getnode(sampler));
        else
            em_setsend(node, reverb, 256);
    }
    if (sampler)
        em_setsend(sampler, reverb, 256);
    const int peermade = peer ? emb_alstartreverb(made, src.mono) : -1;
    const emb_sidebyside s = emb_besidepeer([&](long n) { emb_engineround(n, &v, &out); }, peer, peermade, made, false);
    emtest_removenodes(&v.nodes);
    em_freenode(reverb);
    if (sampler)
        em_freenode(sampler);
    emb_effectrow(bysampler ? "reverbbus" : "reverb",
                  bysampler ? "mono voices sharing a reverb (their sampler's send)" : "mono voices sharing a reverb (a send each)",
                  made, s, peer, "EFX reverb");
}

// 500 unit-step mono voices, each through its own low-pass at 2 kHz, beside
// OpenAL Soft's sources each through a direct low-pass filter (EFX, high
// frequencies at 0.25), in alternating rounds.
void emb_lowpassrow(const emb_sources& src, bool peer)
{
    std::vector<int16_t> out(2 * EMB_FRAMES);
    emb_enginevoices v;
    v.kind = EMB_MONO;
    const int made = emb_addvoices(EMB_MONO, 500, src, &v.nodes);
    for (const int node : v.nodes)
        em_setparamf(node, EMP_LOWPASS, 2000.0f);
    const int peermade = peer ? emb_alstartlowpass(made, src.mono, 0.25f) : -1;
    const emb_sidebyside s = emb_besidepeer([&](long n) { emb_engineround(n, &v, &out); }, peer, peermade, made, false);
    emtest_removenodes(&v.nodes);
    emb_effectrow("lowpass", "mono voices, each with its own low-pass", made, s, peer, "EFX low-pass");
}

// One Ogg Vorbis stream: decoding and mixing, per buffer.
void emb_oggstream()
{
    char dir[] = "/tmp/quorrelbench.XXXXXX";
    if (!mkdtemp(dir))
        return;
    const std::string path = std::string(dir) + "/tone.ogg";
    if (mixgen_writeogg(path, 2, 44100, 44100 * 5, 440.0) != 0) {
        emb_print("| 1 | Ogg stream | could not write the test stream | | | | | |\n");
        rmdir(dir);
        return;
    }
    const int music = em_createoggmusic(em_getroot());
    if (music && em_playoggmusic(music, path.c_str()) == 0) {
        em_setparam(music, EMP_STATE, 4);
        std::vector<int16_t> out(2 * EMB_FRAMES);
        const emb_figure f = emb_timecallback(&out);
        const char* name = "Ogg stream (stereo, 44100 Hz)";
        emb_print("| 1 | %s | %.1f | %.2f | - | | | |\n", name, f.median / 1000.0, 100.0 * f.median / EMB_BUDGETNS);
        emb_datarow("callback", "ogg", name, 1, f.median, 0.0, 0.0, "", {});
    }
    em_destroynode(em_getnode(music));
    unlink(path.c_str());
    rmdir(dir);
}

// One hash beside its reference.
void emb_printhashrow(const char* what, uint64_t hash, uint64_t reference)
{
    emb_print("| %s | %016llx | %016llx | %s |\n", what, static_cast<unsigned long long>(hash),
              static_cast<unsigned long long>(reference), hash == reference ? "yes" : "NO");
}

void emb_printhash()
{
    const int buffers = 4000;
    const emtest_hashes h = emtest_samplermix(EMTEST_ANY, 0, 120, buffers, 7, 12345);
    emb_print("\n### Bit-exactness (vector runs: %s)\n\n", emb_level());
    emb_print("Hash of a long mix: %d buffers (%.0f s) of 120 voices through every sampler routine and the limiter.\n\n", buffers,
              buffers * 1024.0 / 44100.0);
    emb_print("| what | FNV-1a 64 | before the loops were optimised | same |\n|---|---|---|---|\n");
    emb_printhashrow("16-bit output", h.out, EMB_REFOUT);
    emb_printhashrow("32-bit mix", h.mix, EMB_REFMIX);
    const int buffers3d = 2000;
    const emtest_hashes h3 = emtest_mix3dvoices(200, 48, buffers3d, 17, 4242);
    emb_print("\nHash of a 3-D long mix: %d buffers (%.0f s) of 200 positioned voices around two listeners and 48 ramped"
              " sampler voices.\n\n",
              buffers3d, buffers3d * 1024.0 / 44100.0);
    emb_print("| what | FNV-1a 64 | reference | same |\n|---|---|---|---|\n");
    emb_printhashrow("16-bit output", h3.out, EMB_REF3DOUT);
    emb_printhashrow("32-bit mix", h3.mix, EMB_REF3DMIX);
    emb_printhashrow("voice state", h3.state, EMB_REF3DSTATE);
}

// The kind of a key, EMB_KINDS for the shared reverb's rows ("reverb"),
// EMB_KINDS + 1 for the low-pass row ("lowpass"), or -1.
int emb_findkind(const char* key)
{
    for (int k = 0; k < EMB_KINDS; k++)
        if (strcmp(emb_kinds[k].key, key) == 0)
            return k;
    return strcmp(key, "reverb") == 0 ? EMB_KINDS : strcmp(key, "lowpass") == 0 ? EMB_KINDS + 1 : -1;
}

// 0, or 2 after printing what is wrong.
int emb_parseoptions(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(a, "--hash") == 0) {
            embopts.hashonly = true;
        } else if (strcmp(a, "--figures") == 0) {
            embopts.figuresonly = true;
        } else if (strcmp(a, "--quick") == 0) {
            embopts.roundms = 5.0;
            embopts.rounds = 3;
        } else if (strcmp(a, "--kind") == 0 && value) {
            embopts.kind = emb_findkind(value);
            if (embopts.kind < 0) {
                fprintf(stderr, "quorrel_mixbench: no voice kind %s\n", value);
                return 2;
            }
            i++;
        } else if (strcmp(a, "--data") == 0 && value) {
            embopts.data = fopen(value, "w");
            if (!embopts.data) {
                fprintf(stderr, "quorrel_mixbench: couldn't write %s\n", value);
                return 2;
            }
            fprintf(embopts.data, "section\tkey\tname\tvoices\tlevel\tengine_ns\tpeer_ns\tpeer\tgoals\tratio\tconfig\n");
            i++;
        } else if (strcmp(a, "--peer") == 0 && value && (strcmp(value, "fair") == 0 || strcmp(value, "default") == 0)) {
            embopts.peer = strcmp(value, "fair") == 0 ? EMB_PEERFAIR : EMB_PEERDEFAULT;
            i++;
        } else {
            fprintf(stderr,
                    "usage: quorrel_mixbench [--hash | --figures] [--quick] [--kind KEY] [--data FILE] [--peer fair|default]\n");
            return 2;
        }
    }
    return 0;
}

// Everything but the hash; the Ogg row and the routines only with every kind.
void emb_figures()
{
    emb_sources src;
    src.mono = emtest_signal(EMB_SAMPLEFRAMES, 1);
    src.stereo = emtest_signal(2 * EMB_SAMPLEFRAMES, 2);
    src.monos = emtest_makesample(src.mono, 1);
    src.stereos = emtest_makesample(src.stereo, 2);
    const bool peer = emb_alopen(512, embopts.peer) == 0;
    emb_print("## Mixer\n\nEngine: 44100 Hz, 1024-frame buffers, 32-bit mix, limiter to 16-bit stereo, vector runs: %s. ",
              emb_level());
    if (peer)
        emb_print("Peer: OpenAL Soft loopback device, 44100 Hz 16-bit stereo, 1024-frame renders, resamplers \"%s\" and \"%s\""
                  " (interpolated kinds), no HRTF; %s configuration: %s. OpenAL Soft does not pan stereo sources and does"
                  " no ear delay without HRTF; the engine does both.\n",
                  emb_alresampler(false), emb_alresampler(true), emb_peerconfigname(embopts.peer), emb_alconfigtext());
    else
        emb_print("Peer: OpenAL Soft's loopback device could not be opened.\n");
    // The peer's default configuration is measured for the rows beside it.
    const bool all = embopts.kind < 0 && embopts.peer == EMB_PEERFAIR;
    if (all)
        emb_routines(src);
    emb_callbacks(src, peer);
    if (embopts.kind < 0 || embopts.kind == EMB_KINDS)
        emb_reverbrow(src, peer, false), emb_reverbrow(src, peer, true);
    if (embopts.kind < 0 || embopts.kind == EMB_KINDS + 1)
        emb_lowpassrow(src, peer);
    if (all)
        emb_oggstream();
    if (peer)
        emb_alclose();
}

} // namespace

int main(int argc, char** argv)
{
    emb_opentables();
    const int bad = emb_parseoptions(argc, argv);
    if (bad)
        return bad;
    if (emb_startengine() != 0) {
        fprintf(stderr, "quorrel_mixbench: couldn't start the engine with 1024-frame buffers\n");
        return 1;
    }
    if (!embopts.hashonly)
        emb_figures();
    if (embopts.kind < 0 && !embopts.figuresonly)
        emb_printhash();
    if (embopts.data)
        fclose(embopts.data);
    em_deinit(); // its allocation report goes to standard error
    return 0;
}
