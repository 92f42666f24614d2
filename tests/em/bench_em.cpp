// bench_em.cpp -- timing of the voice mixing loops and of the whole callback
// (a report, not a test): nanoseconds per voice-frame and share of a buffer's
// real-time budget (1024 frames at 44100 Hz)
#include <chrono>
#include <cstdio>
#include <vector>

#include "em/em.h"
#include "em/em_local.h"

namespace {

using emclock = std::chrono::steady_clock;

const double em_budgetns = 1024.0 / 44100.0 * 1e9;

em_sample* emb_sample(int channels)
{
    std::vector<uint8_t> bytes(44100 * 2 * static_cast<size_t>(channels));
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = static_cast<uint8_t>(i * 37);
    return em_makesample(AUDIO_S16LSB, channels, 44100, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void emb_routine(const char* name, int (*routine)(em_schannel*, const em_sample*, int32_t*, int32_t),
                 const em_sample* s, int32_t step, bool ramp)
{
    std::vector<int32_t> out(2048);
    em_schannel ch = {};
    ch.sample = s->handle;
    ch.volume = 200;
    ch.pan = 30;
    ch.step = step;
    ch.flags = EMF_PLAYING | EMF_LOOP;
    const int rounds = 20000;
    const auto start = emclock::now();
    for (int i = 0; i < rounds; i++) {
        if (ramp) {
            ch.tstep = (i & 1) ? 0x10000 : 0x18000;
            ch.tvolume = (i & 1) ? 200 : 100;
            ch.tpan = (i & 1) ? 30 : -30;
            ch.flags |= EMF_RAMP;
        }
        routine(&ch, s, out.data(), 1024);
    }
    const double ns = std::chrono::duration<double, std::nano>(emclock::now() - start).count();
    const double pervoiceframe = ns / rounds / 1024.0;
    printf("%-18s %7.2f ns/voice-frame  %6.3f%% of a buffer per voice (checksum %d)\n", name, pervoiceframe,
           100.0 * pervoiceframe * 1024.0 / em_budgetns, out[17]);
}

void emb_callback(int voices, const em_sample* s)
{
    std::vector<int> handles;
    for (int i = 0; i < voices; i++) {
        em_node* node = em_initschannel(emstate.root, 0);
        em_schannel* ch = static_cast<em_schannel*>(node->data);
        ch->sample = s->handle;
        ch->step = (i % 3 == 0) ? 0x10000 : 0xC000 + i;
        ch->pan = i % 256 - 128;
        ch->flags = EMF_PLAYING | EMF_LOOP;
        em_attachnode(node, emstate.root);
        handles.push_back(node->handle);
    }
    std::vector<int16_t> out(2048);
    const int rounds = voices > 100 ? 200 : 2000;
    const auto start = emclock::now();
    for (int i = 0; i < rounds; i++)
        em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out.data()), 4096);
    const double ns = std::chrono::duration<double, std::nano>(emclock::now() - start).count() / rounds;
    printf("callback, %3d voices: %8.0f ns/buffer  %6.2f ns/voice-frame  %6.2f%% of the real-time budget\n", voices, ns,
           ns / voices / 1024.0, 100.0 * ns / em_budgetns);
    for (const int h : handles)
        em_destroynode(em_getnode(h));
}

}  // namespace

int main()
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (em_init() != 0) {
        fprintf(stderr, "bench_em: couldn't start the engine\n");
        return 1;
    }
    SDL_PauseAudio(1);
    SDL_LockAudio();
    SDL_UnlockAudio();
    const em_sample* mono = emb_sample(1);
    const em_sample* stereo = emb_sample(2);
    emb_routine("em_mixmono", em_mixmono, mono, 0x10000, false);
    emb_routine("em_mixmonostep", em_mixmonostep, mono, 0xB000, false);
    emb_routine("em_mixmonoramp", em_mixmonoramp, mono, 0xB000, true);
    emb_routine("em_mixstereo", em_mixstereo, stereo, 0x10000, false);
    emb_routine("em_mixstereostep", em_mixstereostep, stereo, 0xB000, false);
    emb_routine("em_mixstereoramp", em_mixstereoramp, stereo, 0xB000, true);
    for (const int voices : {1, 64, 510})
        emb_callback(voices, mono);
    em_deinit();
    return 0;
}
