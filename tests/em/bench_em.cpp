// bench_em.cpp -- timing of the voice mixing loops and of the whole callback
// with sampler, 3-D and sequencer voices (a report, not a test): nanoseconds
// per voice-frame and share of a buffer's real-time budget (1024 frames at 44100 Hz)
#include <chrono>
#include <cmath>
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

// Times rounds of the callback; nanoseconds per buffer.
double emb_time(int rounds)
{
    std::vector<int16_t> out(2048);
    const auto start = emclock::now();
    for (int i = 0; i < rounds; i++)
        em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out.data()), 4096);
    return std::chrono::duration<double, std::nano>(emclock::now() - start).count() / rounds;
}

// The listener of the 3-D voices: a copy outliving the sampler3d that made it,
// so that all but the root's handle can go to voices.
em_sampler3d emb_listener;

void emb_callback3d(int voices, const em_sample* s, const char* kind)
{
    em_node* sampler = em_initsampler3d(emstate.root, -1);
    emb_listener = *static_cast<em_sampler3d*>(sampler->data);
    std::vector<em_node*> nodes;
    for (int i = 0; i < voices && em_findfreehandle() != 0; i++)
        nodes.push_back(em_inits3channel(sampler, 0));
    em_destroynode(sampler);
    // the sampler's handle, freed, takes one more voice of the same kind
    while (static_cast<int>(nodes.size()) < voices) {
        em_node* node = em_createnode(nullptr);
        const em_node* model = nodes[0];
        node->process = model->process;
        node->destroy = model->destroy;
        node->setparam = model->setparam;
        node->getparam = model->getparam;
        node->data = emio_calloc(1, sizeof(em_s3channel), 942);
        nodes.push_back(node);
    }
    for (int i = 0; i < voices; i++) {
        em_s3channel* ch = static_cast<em_s3channel*>(nodes[static_cast<size_t>(i)]->data);
        ch->listener = &emb_listener;
        ch->sample = s->handle;
        ch->step = s->step;
        ch->maxdistance = 256.0f;
        ch->flags = EMF_PLAYING | EMF_LOOP | EMF_MOVING;
        // sources around the listener, moving at up to a tenth of the speed of sound
        const float a = static_cast<float>(i) * 0.7f;
        em_vecset(&ch->position, 20.0f * std::sin(a), static_cast<float>(i % 5), -20.0f * std::cos(a));
        em_vecset(&ch->velocity, 30.0f * std::cos(a), 0.0f, 30.0f * std::sin(a));
        em_attachnode(nodes[static_cast<size_t>(i)], emstate.root);
    }
    const double ns = emb_time(voices > 100 ? 200 : 2000);
    printf("3-D callback, %3d %s voices: %8.0f ns/buffer  %6.2f ns/voice-frame  %6.2f%% of the real-time budget\n", voices, kind, ns,
           ns / voices / 1024.0, 100.0 * ns / em_budgetns);
    for (em_node* node : nodes)
        em_destroynode(node);
}

// Eight channels, a note on every one of 16 steps, four steps per buffer.
void emb_sequencer(const em_sample* s)
{
    em_node* seq = em_initsequencer(emstate.root, 8, 16);
    em_sequencer* sq = static_cast<em_sequencer*>(seq->data);
    sq->duration = 4096 * 4;
    sq->playing = 1;
    for (int c = 0; c < 8; c++) {
        em_seqchannel* ch = static_cast<em_seqchannel*>(em_getnode(sq->handles[c])->data);
        ch->sample = s->handle;
        ch->pan = c * 32 - 112;
        for (int k = 0; k < 16; k++)
            sq->patterns[c][k] = static_cast<int8_t>(57 + (c * 5 + k * 7) % 24);
    }
    const double ns = emb_time(2000);
    printf("sequencer, 8 channels x 16 steps: %8.0f ns/buffer  %6.2f ns/channel-frame  %6.2f%% of the real-time budget\n",
           ns, ns / 8 / 1024.0, 100.0 * ns / em_budgetns);
    em_destroynode(seq);
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
    for (const int voices : {64, 510})
        emb_callback3d(voices, mono, "mono");
    emb_callback3d(64, stereo, "stereo");
    emb_sequencer(mono);
    em_deinit();
    return 0;
}
