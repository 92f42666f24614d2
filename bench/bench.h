// bench.h -- shared pieces of the benchmark programs: the clock, repeated
// measurements with their median and best, and the OpenAL Soft peer renderer
#ifndef BENCH_BENCH_H
#define BENCH_BENCH_H

#include <algorithm>
#include <cstdint>
#include <vector>

// The real-time budget of one 1024-frame buffer at 44100 Hz, nanoseconds.
static const double EMB_BUDGETNS = 1024.0 / 44100.0 * 1e9;

// Monotonic clock, nanoseconds.
double emb_now();

// One figure measured several times: nanoseconds per unit of work.
struct emb_figure {
    double median;
    double best;
};

// Runs body(n) (n units of work) enough times for each of several rounds to
// last about roundms milliseconds; the median and best ns per unit over the rounds.
template <typename F> emb_figure emb_measure(F&& body, double roundms = 20.0, int rounds = 7);

// Two bodies measured in alternating rounds, so that a change in the
// machine's load falls on both alike: each one's figure, and the median and
// lowest over the rounds of b's time over a's in the same round.
struct emb_pair {
    emb_figure a, b;
    double ratio, ratiolow;
};
template <typename A, typename B> emb_pair emb_measurepair(A&& a, B&& b, double roundms = 20.0, int rounds = 7);

// Voice kinds of the callback table, in the order of its rows.
enum emb_kind {
    EMB_MONO,       // mono sample, unit step
    EMB_MONOSTEP,   // mono sample, steps 0.75 .. 1.25
    EMB_STEREO,     // stereo sample, unit step
    EMB_MONORAMP,   // mono sample, volume, pan and step ramped to new targets every buffer
    EMB_STEREORAMP, // stereo sample, the same ramps
    EMB_3D,         // mono sample placed and moving around the listener
    EMB_MONOLERP,   // mono sample, steps 0.75 .. 1.25, linear interpolation
    EMB_STEREOLERP, // stereo sample, the same steps and interpolation
    EMB_3DLERP,     // the 3-D voices with linear interpolation
    EMB_SEQUENCER,  // 8-channel step sequencers playing note patterns (engine only)
    EMB_MONOFADE,   // the stepped mono voices, each fading its volume with em_fade (engine only)
    EMB_KINDS
};

// What a kind's voices are, for both renderers.
struct emb_kindinfo {
    const char* key;  // one word, for options and the data file
    const char* name; // in the tables
    bool stereo;      // plays the stereo source
    bool stepped;     // steps from emb_voicestep, else unit step
    bool ramped;      // volume, pan and step change every buffer
    bool placed;      // 3-D voices around a listener, moving
    bool interp;      // linear interpolation (the peer's linear resampler)
    bool peer;        // OpenAL Soft renders the same voices
};
extern const emb_kindinfo emb_kinds[EMB_KINDS];

// Where the tables go: standard output as the program found it. Anything
// else printed on standard output (the engine's allocation report) goes to
// standard error, so that no table row is ever split or joined by it.
void emb_opentables();
void emb_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// OpenAL Soft's loopback device as the peer (bench_openal.cpp): 44100 Hz
// signed 16-bit stereo, nearest-sample resampling where offered (linear for
// the interpolating kinds), no HRTF; a buffer's source changes are applied
// together (deferred updates) where offered.
// ---------------------------------------------------------------------------
// The peer's configuration: its defaults (an output limiter, and dither on
// 16-bit output), or fair: both off, as the engine's output does neither
// (its limiter is a fixed curve, no dither). Dither is a setting of the
// library's configuration, read once a process, so a process measures one
// configuration; emb_alopen points ALSOFT_CONF at a file of its own for fair.
enum emb_peerconfig { EMB_PEERFAIR, EMB_PEERDEFAULT };
const char* emb_peerconfigname(emb_peerconfig config); // "fair", "default"
// 0, or -1 when the device or context cannot be made.
int emb_alopen(int maxsources, emb_peerconfig config);
// What the device does at the end, as read back from it: the limiter as the
// context reports it, dither as seen in a rendered silence (dither turns
// some of its zeros into +-1).
const char* emb_alconfigtext();
void emb_alclose();
const char* emb_alresampler(bool interp); // name of the resampler of the kinds that interpolate or not
// Starts voices sources of a kind playing the given 16-bit data (interleaved for
// stereo), with the same gains, pans, pitches and places as the engine's voices.
// The number started (fewer when the device refuses more).
int emb_alstart(emb_kind kind, int voices, const std::vector<int16_t>& mono, const std::vector<int16_t>& stereo);
// Starts voices mono sources as emb_alstart does for EMB_MONO, each also sending
// at full level to one auxiliary effect slot holding the standard reverb; the
// number started, 0 when the reverb cannot be had.
int emb_alstartreverb(int voices, const std::vector<int16_t>& mono);
// Starts voices mono sources as emb_alstart does for EMB_MONO, each through one
// direct filter (EFX AL_FILTER_LOWPASS, gain 1, high frequencies at gainhf);
// the number started, 0 when the filter cannot be had.
int emb_alstartlowpass(int voices, const std::vector<int16_t>& mono, float gainhf);
void emb_alrender(int16_t* out, int frames); // moves or ramps the sources one buffer on, renders frames
void emb_alreplace();                        // puts moving sources back on their first places
void emb_alstop();                           // deletes the sources and buffers

// The voice parameters both renderers use, from the voice's index.
int32_t emb_voicevolume(int i);                               // 256 = unity
int32_t emb_voicepan(int i);                                  // -128 .. 128
int32_t emb_voicestep(int i);                                 // 16.16, 0.75 .. 1.25, never exactly 1
int32_t emb_voicestart(int i, int32_t length);                // first frame
int emb_rampvoice(int i, long buffer);                        // the voice whose parameters voice i ramps to in a buffer
void emb_voiceplace(int i, float* position, float* velocity); // 3-D place and velocity

// The units of body that make one round of about roundms milliseconds:
// doubled until a quarter round is reached.
template <typename F> long emb_calibrate(F&& body, double roundms)
{
    long n = 1;
    for (;;) {
        const double t0 = emb_now();
        body(n);
        const double t = emb_now() - t0;
        if (t >= roundms * 1e6 / 4 || n >= (1L << 30))
            break;
        n *= 2;
    }
    return 4 * n;
}

// ns per unit of one round of n units.
template <typename F> double emb_round(F&& body, long n)
{
    const double t0 = emb_now();
    body(n);
    return (emb_now() - t0) / static_cast<double>(n);
}

// The median and lowest of a round's figures (sorted in place).
inline emb_figure emb_middle(std::vector<double>* per)
{
    std::sort(per->begin(), per->end());
    return {(*per)[per->size() / 2], (*per)[0]};
}

template <typename F> emb_figure emb_measure(F&& body, double roundms, int rounds)
{
    const long n = emb_calibrate(body, roundms);
    std::vector<double> per;
    for (int r = 0; r < rounds; r++)
        per.push_back(emb_round(body, n));
    return emb_middle(&per);
}

template <typename A, typename B> emb_pair emb_measurepair(A&& a, B&& b, double roundms, int rounds)
{
    const long na = emb_calibrate(a, roundms), nb = emb_calibrate(b, roundms);
    std::vector<double> pa, pb, ratios;
    for (int r = 0; r < rounds; r++) {
        pa.push_back(emb_round(a, na));
        pb.push_back(emb_round(b, nb));
        ratios.push_back(pb.back() / pa.back());
    }
    const emb_figure ratio = emb_middle(&ratios);
    return {emb_middle(&pa), emb_middle(&pb), ratio.median, ratio.best};
}

#endif
