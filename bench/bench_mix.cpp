// bench_mix.cpp -- the mixer's benchmark (a report, not a test): ns per
// voice-frame of each mixing routine, the whole audio callback with 1 .. 510
// voices of each kind beside OpenAL Soft's loopback device rendering the same
// voices, and a hash of a long rendered mix that proves optimisations exact
//   usage: quorrel_mixbench [--hash]   (--hash: only the hash of the long mix)
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
#include "em_oggwriter.h"

namespace {

const int32_t EMB_FRAMES = 1024;        // frames per buffer, as the device asks
const int32_t EMB_SAMPLEFRAMES = 44100; // one second of source data
const int EMB_COUNTS[] = {1, 64, 256, 510};

// The hash of the long mix rendered by the mixing loops as they were before
// they were optimised: every later version must render the same values.
const uint64_t EMB_REFOUT = 0x6532dcd4f26d202dull; // 16-bit output
const uint64_t EMB_REFMIX = 0x85ebe866a679b5faull; // 32-bit root mix before the limiter
// The hashes of the 3-D long mix rendered before the 3-D and ramp loops were optimised.
const uint64_t EMB_REF3DOUT = 0xbdba20c0955d61e4ull;   // 16-bit output
const uint64_t EMB_REF3DMIX = 0xa7058bafe88b82ddull;   // 32-bit root mix before the limiter
const uint64_t EMB_REF3DSTATE = 0x07e4fcbc9e18a0f6ull; // the voices' read heads, gains and steps

// ---------------------------------------------------------------------------
// Source data: the same 16-bit values go into the engine and the peer
// ---------------------------------------------------------------------------

struct emb_lcg {
    uint32_t x;
    uint32_t next()
    {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    }
    int32_t range(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

// A tone with noise on it, within +-12000.
std::vector<int16_t> emb_signal(size_t values, uint32_t seed)
{
    std::vector<int16_t> v(values);
    emb_lcg r = {seed};
    for (size_t i = 0; i < values; i++)
        v[i] = static_cast<int16_t>(static_cast<double>(8000) * sin(static_cast<double>(i) * 0.0627) + r.range(-4000, 4000));
    return v;
}

em_sample* emb_makesample(const std::vector<int16_t>& values, int channels)
{
    std::vector<uint8_t> bytes(values.size() * 2);
    memcpy(bytes.data(), values.data(), bytes.size());
    return em_makesample(AUDIO_S16LSB, channels, 44100, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

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

// A mono or stereo sampler voice directly under the root (the handle table
// holds the root and 510 nodes).
em_schannel* emb_addschannel(const em_sample* s, std::vector<int>* nodes)
{
    em_node* node = em_initschannel(emstate.root, 0);
    if (!node)
        return nullptr;
    em_attachnode(node, emstate.root);
    nodes->push_back(node->handle);
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    ch->sample = s->handle;
    ch->flags = EMF_PLAYING | EMF_LOOP;
    return ch;
}

void emb_removenodes(std::vector<int>* nodes)
{
    for (const int h : *nodes)
        em_destroynode(em_getnode(h));
    nodes->clear();
}

// 3-D voices under one listener at the origin; the voices move by their velocity.
void emb_add3d(int voices, const emb_sources& src, std::vector<int>* nodes)
{
#ifndef QUORREL_BENCH_3D
    (void)voices;
    (void)src;
    (void)nodes;
#else
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
        if (!em_triggersample3d(listener, src.monos->handle))
            break;
    }
#endif
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
#ifndef QUORREL_BENCH_SEQUENCER
    (void)voices;
    (void)src;
    (void)nodes;
#else
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
#endif
}

// Voices of one kind; the number made.
int emb_addvoices(emb_kind kind, int voices, const emb_sources& src, std::vector<int>* nodes)
{
    if (kind == EMB_3D) {
        emb_add3d(voices, src, nodes);
        int made = 0;
        for (int h = nodes->empty() ? 0 : em_getchild(nodes->front()); h; h = em_getnext(h))
            made++;
        return made;
    }
    if (kind == EMB_SEQUENCER) {
        emb_addsequencers(voices, src, nodes);
        return static_cast<int>(nodes->size()) * EM_SEQCHANNELS;
    }
    const em_sample* s = kind == EMB_STEREO ? src.stereos : src.monos;
    for (int i = 0; i < voices; i++) {
        em_schannel* ch = emb_addschannel(s, nodes);
        if (!ch)
            break;
        ch->volume = emb_voicevolume(i);
        ch->pan = emb_voicepan(i);
        ch->step = kind == EMB_MONOSTEP ? emb_voicestep(i) : 0x10000;
        ch->pos = emb_voicestart(i, s->length) * s->channels;
    }
    return static_cast<int>(nodes->size());
}

const char* emb_kindname(emb_kind kind)
{
    switch (kind) {
    case EMB_MONO: return "mono, unit step";
    case EMB_MONOSTEP: return "mono, stepped";
    case EMB_STEREO: return "stereo, unit step";
    case EMB_3D: return "3-D, moving";
    case EMB_SEQUENCER: return "sequencer channels (8 a sequencer)";
    default: return "?";
    }
}

// ---------------------------------------------------------------------------
// The mixing routines one at a time
// ---------------------------------------------------------------------------

typedef int (*emb_routine)(em_schannel*, const em_sample*, int32_t*, int32_t);

void emb_printroutine(const char* name, emb_figure f, const char* goal)
{
    printf("| %-28s | %6.3f | %6.3f | %s |\n", name, f.median, f.best, goal);
}

emb_figure emb_timeroutine(emb_routine routine, const em_sample* s, int32_t step, bool ramp)
{
    std::vector<int32_t> out(2 * EMB_FRAMES);
    em_schannel ch = {};
    ch.sample = s->handle;
    ch.volume = 200;
    ch.pan = 30;
    ch.step = step;
    ch.flags = EMF_PLAYING | EMF_LOOP;
    long calls = 0;
    emb_figure f = emb_measure([&](long n) {
        for (long i = 0; i < n; i++, calls++) {
            if (ramp) {
                ch.tstep = (calls & 1) ? 0xB000 : 0x18000;
                ch.tvolume = (calls & 1) ? 200 : 100;
                ch.tpan = (calls & 1) ? 30 : -30;
                ch.flags |= EMF_RAMP;
            }
            routine(&ch, s, out.data(), EMB_FRAMES);
        }
    });
    return {f.median / EMB_FRAMES, f.best / EMB_FRAMES};
}

std::string emb_goal(double ns, double goal)
{
    char text[64];
    snprintf(text, sizeof(text), "<= %.1f: %s", goal, ns <= goal ? "met" : "missed");
    return text;
}

void emb_routines(const emb_sources& src)
{
    printf("\n### Mixing routines (ns per voice-frame, 1024-frame calls, one voice)\n\n");
    printf("| routine | median | best | goal |\n|---|---|---|---|\n");
    emb_figure f = emb_timeroutine(em_mixmono, src.monos, 0x10000, false);
    emb_printroutine("em_mixmono", f, emb_goal(f.median, 0.5).c_str());
    f = emb_timeroutine(em_mixmonostep, src.monos, 0xB000, false);
    emb_printroutine("em_mixmonostep", f, emb_goal(f.median, 1.5).c_str());
    f = emb_timeroutine(em_mixmonoramp, src.monos, 0xB000, true);
    emb_printroutine("em_mixmonoramp", f, emb_goal(f.median, 1.5).c_str());
    f = emb_timeroutine(em_mixstereo, src.stereos, 0x10000, false);
    emb_printroutine("em_mixstereo", f, "");
    f = emb_timeroutine(em_mixstereostep, src.stereos, 0xB000, false);
    emb_printroutine("em_mixstereostep", f, emb_goal(f.median, 1.5).c_str());
    f = emb_timeroutine(em_mixstereoramp, src.stereos, 0xB000, true);
    emb_printroutine("em_mixstereoramp", f, emb_goal(f.median, 1.5).c_str());

    // The 3-D voice: geometry once per call, then two read heads gliding.
    std::vector<int> nodes;
#ifdef QUORREL_BENCH_3D
    emb_add3d(1, src, &nodes);
    const int voice = nodes.empty() ? 0 : em_getchild(nodes.front());
    if (voice) {
        em_s3channel* ch = static_cast<em_s3channel*>(em_getnode(voice)->data);
        std::vector<int32_t> out(2 * EMB_FRAMES);
        f = emb_measure([&](long n) {
            for (long i = 0; i < n; i++)
                em_mixs3channel(ch, src.monos, out.data(), EMB_FRAMES);
        });
        emb_printroutine("em_mixs3channel (3-D)", {f.median / EMB_FRAMES, f.best / EMB_FRAMES}, "");
    }
    emb_removenodes(&nodes);
#else
    printf("| %-28s | %6s | %6s | %s |\n", "3-D channel mix", "-", "-", "not in the engine yet");
#endif
#ifdef QUORREL_BENCH_SEQUENCER
    // The sequencer's channels mix inside its node: the callback with one
    // 8-channel sequencer less the empty callback, per channel-frame.
    std::vector<int16_t> silent(2 * EMB_FRAMES);
    const emb_figure empty = emb_measure([&](long n) {
        for (long i = 0; i < n; i++)
            emb_callback(&silent);
    });
    emb_addsequencers(EM_SEQCHANNELS, src, &nodes);
    f = emb_measure([&](long n) {
        for (long i = 0; i < n; i++)
            emb_callback(&silent);
    });
    emb_removenodes(&nodes);
    const double per = EM_SEQCHANNELS * EMB_FRAMES;
    emb_printroutine("sequencer channel walk", {(f.median - empty.median) / per, (f.best - empty.best) / per},
                     "8 channels, less the empty callback");
#else
    printf("| %-28s | %6s | %6s | %s |\n", "sequencer channel walk", "-", "-", "not in the engine yet");
#endif

    // The limiter: the callback over a loud pre-mixed buffer (510 voices'
    // mix), so the clear of the buffers is counted with it.
    emb_addvoices(EMB_MONO, 510, src, &nodes);
    std::vector<int16_t> out(2 * EMB_FRAMES);
    emb_callback(&out);
    static std::vector<int32_t> premix;
    premix.assign(emstate.root->mixbuf, emstate.root->mixbuf + 2 * EMB_FRAMES);
    emb_removenodes(&nodes);
    int beyond = 0;
    for (const int32_t v : premix)
        beyond += v > 16384 || v < -16384;
    em_node* source = em_createnode(nullptr);
    source->process = [](em_node* node) { memcpy(node->parent->mixbuf, premix.data(), premix.size() * 4); };
    em_attachnode(source, emstate.root);
    f = emb_measure([&](long n) {
        for (long i = 0; i < n; i++)
            emb_callback(&out);
    });
    em_destroynode(source);
    char name[64];
    snprintf(name, sizeof(name), "limiter pass (%d%% past knee)", beyond * 100 / (2 * EMB_FRAMES));
    emb_printroutine(name, {f.median / EMB_FRAMES, f.best / EMB_FRAMES}, "per output frame, clears included");
}

// ---------------------------------------------------------------------------
// The whole callback beside the peer
// ---------------------------------------------------------------------------

// Renders n buffers through the engine; the 3-D voices go back to their
// places every 256 buffers.
void emb_engineround(long n, emb_kind kind, const std::vector<int>& nodes, std::vector<int16_t>* out)
{
    for (long i = 0; i < n; i++) {
        if (kind == EMB_3D && (i & 255) == 0)
            emb_replace3d(nodes);
        emb_callback(out);
    }
}

void emb_callbacks(const emb_sources& src, bool peer)
{
    printf("\n### The whole callback (us per 1024-frame buffer, median of 7 rounds; budget %.0f us)\n\n", EMB_BUDGETNS / 1000.0);
    printf("| voices | kind | engine us | engine %% of budget | OpenAL Soft us | OpenAL %% | OpenAL / engine | goal |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    std::vector<int16_t> out(2 * EMB_FRAMES);
    for (int k = 0; k < EMB_KINDS; k++) {
        const emb_kind kind = static_cast<emb_kind>(k);
#ifndef QUORREL_BENCH_3D
        if (kind == EMB_3D) {
            printf("| - | %s | not in the engine yet | | | | | |\n", emb_kindname(kind));
            continue;
        }
#endif
#ifndef QUORREL_BENCH_SEQUENCER
        if (kind == EMB_SEQUENCER) {
            printf("| - | %s | not in the engine yet | | | | | |\n", emb_kindname(kind));
            continue;
        }
#endif
        for (int count : EMB_COUNTS) {
            // The handle table holds 511 nodes: the root, the listener and 509 voices.
            if (kind == EMB_3D && count > 509)
                count = 509;
            // 1 + 9 x 56 nodes: the sequencer rows count 8 .. 448 channels.
            if (kind == EMB_SEQUENCER)
                count = count < EM_SEQCHANNELS ? EM_SEQCHANNELS : count > 448 ? 448 : count;
            std::vector<int> nodes;
            const int made = emb_addvoices(kind, count, src, &nodes);
            const emb_figure f = emb_measure([&](long n) { emb_engineround(n, kind, nodes, &out); });
            emb_removenodes(&nodes);
            const double share = 100.0 * f.median / EMB_BUDGETNS;
            double peerns = 0.0;
            int peermade = 0;
            if (peer && kind != EMB_SEQUENCER) {
                peermade = emb_alstart(kind, made, src.mono, src.stereo);
                std::vector<int16_t> alout(2 * EMB_FRAMES);
                peerns = emb_measure([&](long n) {
                             for (long i = 0; i < n; i++) {
                                 emb_alrender(alout.data(), EMB_FRAMES);
                                 if (((i + 1) & 255) == 0 && kind == EMB_3D)
                                     emb_alreplace();
                             }
                         }).median;
                emb_alstop();
            }
            std::string goal;
            if (count == 510 && kind == EMB_MONO)
                goal = share < 5.0 ? "< 5%: met" : "< 5%: missed";
            if (count >= 509 && kind == EMB_3D)
                goal = share < 15.0 ? "< 15%: met" : "< 15%: missed";
            if (peer && kind != EMB_SEQUENCER && peermade == made) {
                const double ratio = peerns / f.median;
                goal += goal.empty() ? "" : "; ";
                goal += ratio >= 2.0 ? ">= 2x OpenAL: met" : ">= 2x OpenAL: missed";
                printf("| %d | %s | %.1f | %.2f | %.1f | %.2f | %.2f | %s |\n", made, emb_kindname(kind), f.median / 1000.0,
                       share, peerns / 1000.0, 100.0 * peerns / EMB_BUDGETNS, ratio, goal.c_str());
            } else {
                printf("| %d | %s | %.1f | %.2f | %s | | | %s |\n", made, emb_kindname(kind), f.median / 1000.0, share,
                       peer && kind != EMB_SEQUENCER ? "fewer sources" : "-", goal.c_str());
            }
            fflush(stdout);
        }
    }
}

// One Ogg Vorbis stream: decoding and mixing, per buffer.
void emb_oggstream()
{
    char dir[] = "/tmp/quorrelbench.XXXXXX";
    if (!mkdtemp(dir))
        return;
    const std::string path = std::string(dir) + "/tone.ogg";
    if (emtest_writeogg(path, 2, 44100, 44100 * 5, 440.0) != 0) {
        printf("| 1 | Ogg stream | could not write the test stream | | | | | |\n");
        return;
    }
    const int music = em_createoggmusic(em_getroot());
    if (music && em_playoggmusic(music, path.c_str()) == 0) {
        em_setparam(music, EMP_STATE, 4);
        std::vector<int16_t> out(2 * EMB_FRAMES);
        const emb_figure f = emb_measure([&](long n) {
            for (long i = 0; i < n; i++)
                emb_callback(&out);
        });
        printf("| 1 | Ogg stream (stereo, 44100 Hz) | %.1f | %.2f | - | | | |\n", f.median / 1000.0,
               100.0 * f.median / EMB_BUDGETNS);
    }
    em_destroynode(em_getnode(music));
    unlink(path.c_str());
    rmdir(dir);
}

// ---------------------------------------------------------------------------
// The long mix: every sampler routine, ends, restarts, ramps, placements past
// the end and wrapping gains, hashed after the limiter and before it
// ---------------------------------------------------------------------------

struct emb_hashsamples {
    const em_sample* s[4]; // long mono, long stereo, short mono, short stereo
};

uint64_t emb_fnv(uint64_t h, const void* data, size_t bytes)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < bytes; i++)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

int32_t emb_randomstep(emb_lcg* r, const em_sample* s)
{
    switch (r->range(0, 9)) {
    case 0: return 0x10000;
    case 1: return 0x10001;
    case 2: return 0xFFFF;
    case 3: return 0;
    case 4: return -r->range(1, 0x20000);
    case 5: return s->length * 0x10000 + r->range(0, 0x7FFFFF); // more than the whole sample
    default: return r->range(0x100, 0x30000);
    }
}

void emb_hashstart(em_schannel* ch, int i, emb_lcg* r, const emb_hashsamples& hs)
{
    const em_sample* s = hs.s[(i & 1) + ((i % 4 == 3) ? 2 : 0)];
    ch->sample = s->handle;
    ch->flags = EMF_PLAYING | (i % 5 ? static_cast<uint32_t>(EMF_LOOP) : 0u);
    ch->volume = i % 17 == 0 ? r->range(0, 70000) : r->range(0, 400);
    ch->pan = i % 11 == 0 ? (r->range(0, 1) ? 128 : -128) : r->range(-128, 128);
    ch->step = (i / 2) % 3 == 0 ? 0x10000 : emb_randomstep(r, s);
    ch->frac = 0;
    // Now and then a place before the start, on a right value or past the end.
    ch->pos = r->range(-3, s->length * s->channels + 5);
}

void emb_hashtargets(em_schannel* ch, emb_lcg* r, const em_sample* s)
{
    ch->tvolume = r->range(0, 400);
    ch->tpan = r->range(-128, 128);
    ch->tstep = r->range(0, 7) == 0 ? s->length * 0x10000 + 3 : r->range(-0x1000, 0x40000);
    ch->flags |= EMF_RAMP;
}

void emb_hash(uint64_t* outhash, uint64_t* mixhash, int buffers)
{
    const std::vector<int16_t> shortmono = emb_signal(300, 7);
    const std::vector<int16_t> shortstereo = emb_signal(2 * 257, 8);
    const std::vector<int16_t> longmono = emb_signal(EMB_SAMPLEFRAMES, 9);
    const std::vector<int16_t> longstereo = emb_signal(2 * EMB_SAMPLEFRAMES, 10);
    em_sample* made[4] = {emb_makesample(longmono, 1), emb_makesample(longstereo, 2), emb_makesample(shortmono, 1),
                          emb_makesample(shortstereo, 2)};
    const emb_hashsamples hs = {{made[0], made[1], made[2], made[3]}};
    emb_lcg r = {12345};
    std::vector<int> nodes;
    std::vector<em_schannel*> voices;
    for (int i = 0; i < 120; i++) {
        em_schannel* ch = emb_addschannel(hs.s[0], &nodes);
        emb_hashstart(ch, i, &r, hs);
        voices.push_back(ch);
    }
    std::vector<int16_t> out(2 * EMB_FRAMES);
    uint64_t ho = 0xcbf29ce484222325ull, hm = 0xcbf29ce484222325ull;
    for (int b = 0; b < buffers; b++) {
        for (int i = 0; i < static_cast<int>(voices.size()); i++) {
            em_schannel* ch = voices[static_cast<size_t>(i)];
            const em_sample* s = em_getsample(ch->sample);
            if (!(ch->flags & EMF_PLAYING))
                emb_hashstart(ch, i, &r, hs);
            else if ((b + i) % 13 == 0)
                ch->step = emb_randomstep(&r, s);
            if ((i / 2) % 3 == 2 && (b + i) % 7 == 0)
                emb_hashtargets(ch, &r, s);
        }
        emb_callback(&out);
        ho = emb_fnv(ho, out.data(), out.size() * 2);
        hm = emb_fnv(hm, emstate.root->mixbuf, 2 * EMB_FRAMES * 4);
    }
    emb_removenodes(&nodes);
    for (em_sample* s : made)
        em_freesample(s->handle);
    *outhash = ho;
    *mixhash = hm;
}

// ---------------------------------------------------------------------------
// The 3-D long mix: positioned voices of every kind around two listeners
// (moving and still, looping and not, mono and stereo, ahead, behind, left,
// right, at the listener and out of range, receding and approaching past the
// Doppler limits), changed between buffers, beside sampler voices that ramp
// every buffer; hashed after the limiter, before it and in the voices' state
// ---------------------------------------------------------------------------

#ifdef QUORREL_BENCH_3D
struct emb_hash3dstate {
    emb_lcg r;
    const em_sample* s[4]; // long mono, long stereo, short mono, short stereo
    int listeners[2];
};

// A place of a given kind at distance d: ahead, behind, left, right, at the
// listener, above, or anywhere.
void emb_h3place(emb_lcg* r, float* p)
{
    const float d = static_cast<float>(r->range(1, 4000)) / 16.0f; // up to 250, past 256 below
    p[0] = p[1] = p[2] = 0.0f;
    switch (r->range(0, 8)) {
    case 0: p[2] = -d; break;
    case 1: p[2] = d; break;
    case 2: p[0] = -d; break;
    case 3: p[0] = d; break;
    case 4: break; // at the listener
    case 5: p[1] = d; break;
    case 6: p[0] = static_cast<float>(r->range(257, 2000)); break; // out of range
    default:
        p[0] = static_cast<float>(r->range(-600, 600)) / 8.0f;
        p[1] = static_cast<float>(r->range(-100, 100)) / 8.0f;
        p[2] = static_cast<float>(r->range(-600, 600)) / 8.0f;
    }
}

// A velocity: none, slow, or along the line from the listener, receding or
// approaching at speeds around the Doppler limits of a 340 units/s sound.
void emb_h3velocity(emb_lcg* r, const float* p, float* v)
{
    v[0] = v[1] = v[2] = 0.0f;
    const int kind = r->range(0, 7);
    if (kind == 0)
        return;
    if (kind <= 2) {
        for (int k = 0; k < 3; k++)
            v[k] = static_cast<float>(r->range(-80, 80)) / 4.0f;
        return;
    }
    static const float speeds[] = {-340.0f, -330.0f, -300.0f, -290.0f, -200.0f, 700.0f, 1100.0f,
                                   1400.0f, 2300.0f, 2390.0f, 2400.0f, 5000.0f, 40.0f,  -40.0f};
    const float speed = speeds[r->range(0, 13)];
    const float len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    if (len > 0.0f) {
        for (int k = 0; k < 3; k++)
            v[k] = p[k] / len * speed;
    } else {
        v[r->range(0, 2)] = speed;
    }
}

int32_t emb_h3pitch(emb_lcg* r)
{
    switch (r->range(0, 11)) {
    case 0: return 0;
    case 1: return -r->range(1, 0x20000);
    case 2: return 0x10000;
    case 3: return r->range(0x100000, 0x4000000); // many frames a frame
    case 4: return 0x7FFFFFFF;
    default: return r->range(0x4000, 0x30000);
    }
}

// Starts a 3-D voice on a listener; some lose EMF_AUTOFREE so that they stay
// and can be restarted.
void emb_h3trigger(emb_hash3dstate* st, int which)
{
    emb_lcg* r = &st->r;
    const int listener = st->listeners[which];
    float p[3], v[3];
    emb_h3place(r, p);
    emb_h3velocity(r, p, v);
    uint32_t flags = 0;
    if (r->range(0, 3) != 0)
        flags |= EMF_LOOP;
    if (r->range(0, 1))
        flags |= EMF_MOVING;
    em_setparam(listener, EMP_DEFFLAGS, static_cast<int32_t>(flags));
    em_setparam(listener, EMP_DEFVOLUME, r->range(0, 9) == 0 ? r->range(0, 70000) : r->range(0, 400));
    em_setparam(listener, EMP_DEFPITCH, r->range(0, 5) == 0 ? emb_h3pitch(r) : r->range(0x8000, 0x20000));
    em_setparamv(listener, EMP_POSITION3DB, p);
    em_setparamv(listener, EMP_VELOCITY3DB, v);
    const em_sample* s = st->s[r->range(0, 3)];
    const int voice = em_triggersample3d(listener, s->handle);
    if (voice && r->range(0, 4) == 0)
        em_setparam(voice, EMP_FLAGS, em_getparam(voice, EMP_FLAGS) & ~static_cast<int32_t>(EMF_AUTOFREE));
}

// Changes between buffers: one voice's place, velocity, pitch, volume, read
// place, range or flags; a stopped voice that stayed is restarted.
void emb_h3change(emb_hash3dstate* st, int voice)
{
    emb_lcg* r = &st->r;
    em_s3channel* ch = static_cast<em_s3channel*>(em_getnode(voice)->data);
    const em_sample* s = em_getsample(ch->sample);
    if (!(ch->flags & EMF_PLAYING)) {
        if (r->range(0, 2) == 0) {
            em_setparam(voice, EMP_POSITION, r->range(-2000, s->length + 50));
            em_setparam(voice, EMP_FLAGS, static_cast<int32_t>(ch->flags | EMF_PLAYING));
        }
        return;
    }
    float p[3], v[3];
    switch (r->range(0, 14)) {
    case 0:
        emb_h3place(r, p);
        em_setparamv(voice, EMP_POSITION3D, p);
        break;
    case 1:
        em_getparamv(voice, EMP_POSITION3D, p);
        emb_h3velocity(r, p, v);
        em_setparamv(voice, EMP_VELOCITY3D, v);
        break;
    case 2: em_setparam(voice, EMP_PITCH, emb_h3pitch(r)); break;
    case 3: em_setparam(voice, EMP_VOLUME, r->range(0, 9) == 0 ? r->range(0, 90000) : r->range(0, 400)); break;
    case 4: em_setparam(voice, EMP_POSITION, r->range(-3000, s->length + 50)); break;
    case 5:
        ch->maxdistance = r->range(0, 3) == 0 ? static_cast<float>(r->range(-10, 10)) : static_cast<float>(r->range(20, 3000));
        break;
    case 6: em_setparam(voice, EMP_FLAGS, static_cast<int32_t>(ch->flags ^ EMF_LOOP)); break;
    default: break;
    }
}

// The second listener turns, moves and changes its speed of sound and ear distance.
void emb_h3listener(emb_hash3dstate* st, int b)
{
    emb_lcg* r = &st->r;
    const int l = st->listeners[1];
    if (b % 5 == 0) {
        static const float speeds[] = {340.0f, 30.0f, 0.0f, -5.0f, 1e30f, 5000.0f, 0.5f, 340.0f};
        em_setparamf(l, EMP_3DSCALE, speeds[r->range(0, 7)]);
        static const float ears[] = {0.2f, 2.0f, 0.0f, 10.0f, -1.0f};
        em_setparamf(l, EMP_3DFACTOR, ears[r->range(0, 4)]);
    }
    const float a = static_cast<float>(b) * 0.05f;
    const float f[3] = {std::sin(a), 0.0f, -std::cos(a)};
    em_setparamv(l, EMP_FORWARD3D, f);
    const float v[3] = {static_cast<float>(r->range(-40, 40)), 0.0f, static_cast<float>(r->range(-40, 40))};
    em_setparamv(l, EMP_VELOCITY3D, v);
    const float p[3] = {static_cast<float>(b % 50) * 0.5f, 0.0f, 0.0f};
    em_setparamv(l, EMP_POSITION3D, p);
}

void emb_hash3d(uint64_t* outhash, uint64_t* mixhash, uint64_t* statehash, int buffers)
{
    const std::vector<int16_t> shortmono = emb_signal(300, 17);
    const std::vector<int16_t> shortstereo = emb_signal(2 * 257, 18);
    const std::vector<int16_t> longmono = emb_signal(EMB_SAMPLEFRAMES, 19);
    const std::vector<int16_t> longstereo = emb_signal(2 * EMB_SAMPLEFRAMES, 20);
    em_sample* made[4] = {emb_makesample(longmono, 1), emb_makesample(longstereo, 2), emb_makesample(shortmono, 1),
                          emb_makesample(shortstereo, 2)};
    emb_hash3dstate st = {{4242}, {made[0], made[1], made[2], made[3]}, {0, 0}};
    std::vector<int> nodes;
    for (int& l : st.listeners) {
        l = em_createsampler3d(em_getroot(), -1);
        nodes.push_back(l);
    }
    // Sampler voices that ramp every buffer, some each buffer anew.
    const emb_hashsamples hs = {{made[0], made[1], made[2], made[3]}};
    std::vector<em_schannel*> ramped;
    for (int i = 0; i < 48; i++) {
        em_schannel* ch = emb_addschannel(hs.s[0], &nodes);
        emb_hashstart(ch, i, &st.r, hs);
        ramped.push_back(ch);
    }
    const int wanted[2] = {150, 50};
    std::vector<int16_t> out(2 * EMB_FRAMES);
    uint64_t ho = 0xcbf29ce484222325ull, hm = ho, hs3 = ho;
    for (int b = 0; b < buffers; b++) {
        emb_h3listener(&st, b);
        for (int w = 0; w < 2; w++) {
            int count = 0;
            for (int h = em_getchild(st.listeners[w]); h; h = em_getnext(h), count++)
                if (st.r.range(0, 5) == 0)
                    emb_h3change(&st, h);
            for (; count < wanted[w]; count++)
                emb_h3trigger(&st, w);
        }
        for (size_t i = 0; i < ramped.size(); i++) {
            em_schannel* ch = ramped[i];
            if (!(ch->flags & EMF_PLAYING))
                emb_hashstart(ch, static_cast<int>(i), &st.r, hs);
            if (st.r.range(0, 3) != 0)
                emb_hashtargets(ch, &st.r, em_getsample(ch->sample));
        }
        emb_callback(&out);
        ho = emb_fnv(ho, out.data(), out.size() * 2);
        hm = emb_fnv(hm, emstate.root->mixbuf, 2 * EMB_FRAMES * 4);
        for (const int l : st.listeners) {
            for (int h = em_getchild(l); h; h = em_getnext(h)) {
                const em_s3channel* ch = static_cast<const em_s3channel*>(em_getnode(h)->data);
                const int32_t words[] = {ch->posl,    ch->fracl,   ch->posr, ch->fracr,  ch->curpan,
                                         ch->curgain, ch->curstep, ch->itd,  ch->offset, static_cast<int32_t>(ch->flags)};
                hs3 = emb_fnv(hs3, words, sizeof(words));
            }
        }
        for (const em_schannel* ch : ramped) {
            const int32_t words[] = {ch->pos, ch->frac, ch->volume, ch->step, ch->pan, static_cast<int32_t>(ch->flags)};
            hs3 = emb_fnv(hs3, words, sizeof(words));
        }
    }
    for (const int l : st.listeners)
        em_destroynode(em_getnode(l));
    nodes.erase(nodes.begin(), nodes.begin() + 2);
    emb_removenodes(&nodes);
    for (em_sample* s : made)
        em_freesample(s->handle);
    *outhash = ho;
    *mixhash = hm;
    *statehash = hs3;
}
#endif

void emb_printhash()
{
    const int buffers = 4000;
    uint64_t ho, hm;
    emb_hash(&ho, &hm, buffers);
    printf("\n### Bit-exactness\n\n");
    printf("Hash of a long mix: %d buffers (%.0f s) of 120 voices through every sampler routine and the limiter.\n\n", buffers,
           buffers * 1024.0 / 44100.0);
    printf("| what | FNV-1a 64 | before the loops were optimised | same |\n|---|---|---|---|\n");
    printf("| 16-bit output | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(ho),
           static_cast<unsigned long long>(EMB_REFOUT), ho == EMB_REFOUT ? "yes" : "NO");
    printf("| 32-bit mix | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(hm),
           static_cast<unsigned long long>(EMB_REFMIX), hm == EMB_REFMIX ? "yes" : "NO");
#ifdef QUORREL_BENCH_3D
    const int buffers3d = 2000;
    uint64_t h3o, h3m, h3s;
    emb_hash3d(&h3o, &h3m, &h3s, buffers3d);
    printf("\nHash of a 3-D long mix: %d buffers (%.0f s) of 200 positioned voices around two listeners and 48 ramped"
           " sampler voices.\n\n",
           buffers3d, buffers3d * 1024.0 / 44100.0);
    printf("| what | FNV-1a 64 | before the 3-D and ramp loops were optimised | same |\n|---|---|---|---|\n");
    printf("| 16-bit output | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h3o),
           static_cast<unsigned long long>(EMB_REF3DOUT), h3o == EMB_REF3DOUT ? "yes" : "NO");
    printf("| 32-bit mix | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h3m),
           static_cast<unsigned long long>(EMB_REF3DMIX), h3m == EMB_REF3DMIX ? "yes" : "NO");
    printf("| voice state | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h3s),
           static_cast<unsigned long long>(EMB_REF3DSTATE), h3s == EMB_REF3DSTATE ? "yes" : "NO");
#endif
}

} // namespace

int main(int argc, char** argv)
{
    const bool hashonly = argc > 1 && strcmp(argv[1], "--hash") == 0;
    if (emb_startengine() != 0) {
        fprintf(stderr, "quorrel_mixbench: couldn't start the engine with 1024-frame buffers\n");
        return 1;
    }
    if (hashonly) {
        emb_printhash();
        em_deinit();
        return 0;
    }
    emb_sources src;
    src.mono = emb_signal(EMB_SAMPLEFRAMES, 1);
    src.stereo = emb_signal(2 * EMB_SAMPLEFRAMES, 2);
    src.monos = emb_makesample(src.mono, 1);
    src.stereos = emb_makesample(src.stereo, 2);
    const bool peer = emb_alopen(512) == 0;
    printf("## Mixer\n\nEngine: 44100 Hz, 1024-frame buffers, 32-bit mix, limiter to 16-bit stereo. ");
    if (peer)
        printf("Peer: OpenAL Soft loopback device, 44100 Hz 16-bit stereo, 1024-frame renders, resampler \"%s\", no HRTF.\n",
               emb_alresampler());
    else
        printf("Peer: OpenAL Soft's loopback device could not be opened.\n");
    emb_routines(src);
    emb_callbacks(src, peer);
    emb_oggstream();
    emb_printhash();
    if (peer)
        emb_alclose();
    {
        // The engine prints its allocation report on the way down.
        fflush(stdout);
        FILE* quiet = freopen("/dev/null", "w", stdout);
        em_deinit();
        (void)quiet;
    }
    return 0;
}
