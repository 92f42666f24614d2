// em_device.cpp -- the sound device, the engine's start and stop, its clocks,
// the audio callback with the tree walk and the output limiter
#include <cstdlib>
#include <cstring>

#include "em/em_local.h"

em_state emstate;
int em_locknests;

// How deep this thread holds the audio lock: the callback's thread holds it
// while the callback runs.
static thread_local int em_lockdepth;

em_locked::em_locked()
{
    if (em_lockdepth++ > 0)
        __atomic_add_fetch(&em_locknests, 1, __ATOMIC_RELAXED);
    SDL_LockAudio();
}

em_locked::~em_locked()
{
    SDL_UnlockAudio();
    em_lockdepth--;
}

enum {
    EM_REQFREQ = 44100,  // requested device rate, Hz
    EM_REQSAMPLES = 1024 // requested device buffer, frames
};

// Opens the device for signed 16-bit stereo. When the driver offers another
// sample layout, the device is reopened so that SDL converts from ours.
static int em_opendevice()
{
    SDL_AudioSpec desired;
    SDL_AudioSpec obtained;
    memset(&desired, 0, sizeof(desired));
    memset(&obtained, 0, sizeof(obtained));
    desired.freq = EM_REQFREQ;
    desired.format = AUDIO_S16LSB;
    desired.channels = 2;
    desired.samples = EM_REQSAMPLES;
    desired.callback = em_audiocallback;
    desired.userdata = nullptr;
    if (SDL_OpenAudio(&desired, &obtained) < 0)
        return -1;
    if (obtained.format != AUDIO_S16LSB || obtained.channels != 2) {
        SDL_CloseAudio();
        if (SDL_OpenAudio(&desired, nullptr) < 0)
            return -1;
        obtained = desired;
    }
    emstate.freq = obtained.freq;
    emstate.samples = obtained.samples;
    return 0;
}

// Everything a start makes besides the device: the sample bank, the node
// table and the root, the clocks. 0, or the start's failure code.
static int em_startengine()
{
    if (em_initsamples() < 0)
        return -3;
    if (em_initnodes() < 0) {
        em_deinitsamples();
        return -4;
    }
    if (em_initevents() < 0) {
        em_deinitnodes();
        em_deinitsamples();
        return -6;
    }
    em_store(&emstate.samplepos, 0u);
    emstate.tick0 = emstate.device ? SDL_GetTicks() : 0;
    em_store(&emstate.lastcb, 0u);
    emstate.rendered = emstate.samples; // no mix waiting for em_render
    return 0;
}

// The engine state of a start that has not succeeded (yet).
static void em_resetstate()
{
    emio_init();
    emstate.inited = 0;
    emstate.root = nullptr;
    emstate.device = 0;
    emnodes = nullptr;
    em_samples = nullptr;
}

int em_init()
{
    if (emstate.inited == 1)
        return -5;
    em_resetstate();
    const bool audiowasup = SDL_WasInit(SDL_INIT_AUDIO) != 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
        emio_drop();
        return -1;
    }
    if (em_opendevice() < 0) {
        // SDL keeps a subsystem without a driver "initialised"; quitting the
        // one we started lets a later em_init try the drivers again.
        if (!audiowasup)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        emio_drop();
        return -2;
    }
    emstate.device = 1;
    int result;
    {
        // The device thread exists from here on (paused); the lock orders our
        // set-up before its first callback.
        em_locked lock;
        result = em_startengine();
    }
    if (result < 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        emio_drop();
        emstate.device = 0;
        return result;
    }
    SDL_PauseAudio(0);
    emstate.inited = 1;
    return 0;
}

int em_initoffline()
{
    if (emstate.inited == 1)
        return -5;
    em_resetstate();
    emstate.freq = EM_REQFREQ;
    emstate.samples = EM_REQSAMPLES;
    const int result = em_startengine();
    if (result < 0) {
        emio_drop();
        return result;
    }
    emstate.inited = 1;
    return 0;
}

void em_deinit()
{
    if (emstate.inited != 1)
        return;
    if (emstate.device)
        SDL_PauseAudio(1);
    {
        // Pausing only stops future callbacks; the lock waits out one in flight.
        em_locked lock;
        em_deinitnodes();
        em_deinitsamples();
        em_deinitevents();
    }
    if (emstate.device) {
        // Quitting the subsystem (not only closing the device) lets a later
        // em_init start it again.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    emio_deinit();
    emstate.inited = 0;
    emstate.device = 0;
}

// Milliseconds of sound rendered offline: the offline engine's clock.
static uint32_t em_renderedms()
{
    return static_cast<uint32_t>(static_cast<uint64_t>(em_load(&emstate.samplepos)) * 1000u /
                                 static_cast<uint32_t>(emstate.freq));
}

// The engine's millisecond clock: the device's time since it started, or the
// sound rendered so far when there is no device.
static uint32_t em_nowms()
{
    return emstate.device ? SDL_GetTicks() - emstate.tick0 : em_renderedms();
}

uint32_t em_getsampleclock()
{
    if (emstate.inited != 1)
        return 0;
    if (!emstate.device)
        return em_load(&emstate.samplepos);
    const uint32_t since = SDL_GetTicks() - emstate.tick0 - em_load(&emstate.lastcb);
    return em_load(&emstate.samplepos) + since * static_cast<uint32_t>(emstate.freq) / 1000u;
}

uint32_t em_getmsclock()
{
    return emstate.inited == 1 ? em_nowms() : 0;
}

int16_t em_limit(int32_t v)
{
    // Identity up to magnitude 16384, then a curve meeting it with the same
    // value and slope that approaches 32768 as the magnitude approaches 2^28.
    if (v > 16384)
        v = 32768 - 268435456 / v;
    else if (v < -16384)
        v = -32768 - 268435456 / v;
    if (v > 32767)
        v = 32767;
    else if (v < -32767)
        v = -32767;
    return static_cast<int16_t>(v);
}

// Shapes count values of the root's mix into 16-bit output.
static void em_limitinto(Uint8* stream, const int32_t* mix, int32_t count)
{
    for (int32_t i = 0; i < count; i++) {
        const int16_t v = em_limit(mix[i]);
        memcpy(stream + 2 * i, &v, sizeof(v));
    }
}

void em_audiocallback(void* userdata, Uint8* stream, int len)
{
    (void)userdata;
    // SDL holds the audio lock around this call (or em_render does).
    em_lockdepth++;
    em_store(&emstate.lastcb, em_nowms());
    // A device asking for nothing still gets the tree processed: the voices
    // move on by a buffer, as they do for any other callback.
    const int32_t n = len > 0 ? len / 2 : 0;
    if (len > 0)
        memset(stream, 0, static_cast<size_t>(len));
    em_node* root = emstate.root;
    if (!root) {
        em_lockdepth--;
        return;
    }
    em_processnode(root);
    emstate.rendered = emstate.samples; // em_render starts from a fresh mix
    // Never read past the root's buffer, whatever length the device asks for.
    em_limitinto(stream, root->mixbuf, n < emstate.samples * 2 ? n : emstate.samples * 2);
    em_store(&emstate.samplepos, em_load(&emstate.samplepos) + static_cast<uint32_t>(n / 2));
    em_lockdepth--;
}

int em_render(int16_t* out, int32_t frames)
{
    if (emstate.inited != 1 || frames < 0 || !out)
        return -1;
    if (emstate.device && SDL_GetAudioStatus() == SDL_AUDIO_PLAYING)
        return -1;
    em_locked lock;
    for (int32_t done = 0; done < frames;) {
        if (emstate.rendered >= emstate.samples) {
            em_store(&emstate.lastcb, em_nowms());
            em_processnode(emstate.root);
            emstate.rendered = 0;
        }
        const int32_t left = emstate.samples - emstate.rendered;
        const int32_t take = frames - done < left ? frames - done : left;
        em_limitinto(reinterpret_cast<Uint8*>(out + 2 * done), emstate.root->mixbuf + 2 * emstate.rendered, 2 * take);
        emstate.rendered += take;
        done += take;
        em_store(&emstate.samplepos, em_load(&emstate.samplepos) + static_cast<uint32_t>(take));
    }
    return frames;
}

void em_processnode(em_node* node)
{
    // Sends reach across the tree: that walk orders the nodes for them.
    if (em_sendsinuse() && node == emstate.root) {
        em_walksends(node);
        return;
    }
    if (node->mixbuf)
        memset(node->mixbuf, 0, sizeof(int32_t) * 2 * static_cast<size_t>(emstate.samples));
    if (em_holds(node))
        return;
    em_node* child = node->child;
    while (child) {
        // The child may destroy itself while processed: take its sibling first.
        em_node* next = child->next;
        em_processnode(child);
        child = next;
    }
    em_runprocess(node);
}

void em_mixtoparent(em_node* node)
{
    em_node* parent = node->parent;
    if (!parent || !parent->mixbuf || !node->mixbuf)
        return;
    int32_t* out = parent->mixbuf;
    const int32_t* in = node->mixbuf;
    const em_framegain g = em_gainof(node);
    if (g.glide) {
        for (int32_t f = 0; f < emstate.samples; f++) {
            const int32_t gain = em_gainat(g, f);
            out[2 * f] = em_add32(out[2 * f], em_mul32(in[2 * f], gain) / 256);
            out[2 * f + 1] = em_add32(out[2 * f + 1], em_mul32(in[2 * f + 1], gain) / 256);
        }
        return;
    }
    const int32_t volume = g.volume;
    const int32_t count = emstate.samples * 2;
    for (int32_t i = 0; i < count; i++)
        out[i] = em_add32(out[i], em_mul32(in[i], volume) / 256);
}
