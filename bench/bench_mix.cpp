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
#include "em_longmix.h"
#include "em_oggwriter.h"

namespace {

const int32_t EMB_FRAMES = 1024;        // frames per buffer, as the device asks
const int32_t EMB_SAMPLEFRAMES = 44100; // one second of source data
const int EMB_COUNTS[] = {1, 64, 256, 510};

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
void emb_add3d(int voices, const emb_sources& src, std::vector<int>* nodes)
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
        if (!em_triggersample3d(listener, src.monos->handle))
            break;
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
        em_schannel* ch = emtest_addschannel(s, nodes);
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


void emb_printroutine(const char* name, emb_figure f, const char* goal)
{
    printf("| %-28s | %6.3f | %6.3f | %s |\n", name, f.median, f.best, goal);
}

emb_figure emb_timeroutine(const em_sample* s, int32_t step, bool ramp)
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
            em_mixschannel(&ch, s, out.data(), EMB_FRAMES);
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
    emb_figure f = emb_timeroutine(src.monos, 0x10000, false);
    emb_printroutine("mono, unit step", f, emb_goal(f.median, 0.5).c_str());
    f = emb_timeroutine(src.monos, 0xB000, false);
    emb_printroutine("mono, stepped", f, emb_goal(f.median, 1.5).c_str());
    f = emb_timeroutine(src.monos, 0xB000, true);
    emb_printroutine("mono, ramped", f, emb_goal(f.median, 1.5).c_str());
    f = emb_timeroutine(src.stereos, 0x10000, false);
    emb_printroutine("stereo, unit step", f, "");
    f = emb_timeroutine(src.stereos, 0xB000, false);
    emb_printroutine("stereo, stepped", f, emb_goal(f.median, 1.5).c_str());
    f = emb_timeroutine(src.stereos, 0xB000, true);
    emb_printroutine("stereo, ramped", f, emb_goal(f.median, 1.5).c_str());

    // The 3-D voice: geometry once per call, then two read heads gliding.
    std::vector<int> nodes;
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
    emtest_removenodes(&nodes);
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
    emtest_removenodes(&nodes);
    const double per = EM_SEQCHANNELS * EMB_FRAMES;
    emb_printroutine("sequencer channel walk", {(f.median - empty.median) / per, (f.best - empty.best) / per},
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
            emtest_removenodes(&nodes);
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

void emb_printhash()
{
    const int buffers = 4000;
    const emtest_hashes h = emtest_samplermix(EMTEST_ANY, 0, 120, buffers, 7, 12345);
    printf("\n### Bit-exactness\n\n");
    printf("Hash of a long mix: %d buffers (%.0f s) of 120 voices through every sampler routine and the limiter.\n\n", buffers,
           buffers * 1024.0 / 44100.0);
    printf("| what | FNV-1a 64 | before the loops were optimised | same |\n|---|---|---|---|\n");
    printf("| 16-bit output | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h.out),
           static_cast<unsigned long long>(EMB_REFOUT), h.out == EMB_REFOUT ? "yes" : "NO");
    printf("| 32-bit mix | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h.mix),
           static_cast<unsigned long long>(EMB_REFMIX), h.mix == EMB_REFMIX ? "yes" : "NO");
    const int buffers3d = 2000;
    const emtest_hashes h3 = emtest_mix3dvoices(200, 48, buffers3d, 17, 4242);
    printf("\nHash of a 3-D long mix: %d buffers (%.0f s) of 200 positioned voices around two listeners and 48 ramped"
           " sampler voices.\n\n",
           buffers3d, buffers3d * 1024.0 / 44100.0);
    printf("| what | FNV-1a 64 | reference | same |\n|---|---|---|---|\n");
    printf("| 16-bit output | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h3.out),
           static_cast<unsigned long long>(EMB_REF3DOUT), h3.out == EMB_REF3DOUT ? "yes" : "NO");
    printf("| 32-bit mix | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h3.mix),
           static_cast<unsigned long long>(EMB_REF3DMIX), h3.mix == EMB_REF3DMIX ? "yes" : "NO");
    printf("| voice state | %016llx | %016llx | %s |\n", static_cast<unsigned long long>(h3.state),
           static_cast<unsigned long long>(EMB_REF3DSTATE), h3.state == EMB_REF3DSTATE ? "yes" : "NO");
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
    src.mono = emtest_signal(EMB_SAMPLEFRAMES, 1);
    src.stereo = emtest_signal(2 * EMB_SAMPLEFRAMES, 2);
    src.monos = emtest_makesample(src.mono, 1);
    src.stereos = emtest_makesample(src.stereo, 2);
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
