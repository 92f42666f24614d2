// fuzz_audio.cpp -- the audio fuzz targets on SDL's dummy driver, with the test
// calling the mixing callback itself; the engine's allocations must come back to
// where they were. One per build: FUZZ_wav or FUZZ_ogg.
#include "em/em_local.h"
#include "fuzz_common.h"

static int32_t fuzz_baseline;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    FUZZ_CHECK(em_init() == 0, "em_init");
    SDL_PauseAudio(1);
    SDL_LockAudio();
    SDL_UnlockAudio();
    fuzz_baseline = emio_getbytes();
    return 0;
}

static void fuzz_render(int buffers)
{
    static int16_t out[8192];
    for (int i = 0; i < buffers; i++)
        em_audiocallback(nullptr, reinterpret_cast<Uint8 *>(out), emstate.samples * 4);
}

static void fuzz_destroy(int node)
{
    SDL_LockAudio();
    em_destroynode(em_getnode(node));
    SDL_UnlockAudio();
    FUZZ_CHECK(emio_getbytes() == fuzz_baseline, "%d bytes left over", emio_getbytes() - fuzz_baseline);
}

#ifdef FUZZ_wav
// The bytes of a WAV file, loaded into the sample bank, played by a voice and freed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FUZZ_CHECK(fuzz_writefile("s.wav", data, size), "write");
    const int sampler = em_createsampler(em_getroot(), -1);
    FUZZ_CHECK(sampler != 0, "sampler");
    if (const int handle = em_loadsample("s.wav")) {
        const em_sample *s = em_getsample(handle);
        FUZZ_CHECK(s && s->handle == handle, "sample record");
        FUZZ_CHECK(s->channels == 1 || s->channels == 2, "channels %d", s->channels);
        FUZZ_CHECK(s->length > 0 && s->bytes == s->length * s->channels * 4, "length %d bytes %d", s->length,
                   s->bytes);
        for (int32_t i = 0; i < s->length * s->channels; i++)
            FUZZ_CHECK(s->data[i] >= -32768 && s->data[i] <= 32767, "value %d", s->data[i]);
        const int voice = em_triggersample(sampler, handle);
        FUZZ_CHECK(voice != 0, "voice");
        em_setparam(voice, EMP_PITCH, static_cast<int32_t>(size * 977));
        fuzz_render(2);
        em_freesample(handle);
        fuzz_render(1);
    }
    fuzz_destroy(sampler);
    return 0;
}
#else
// Speed (32 bits), mode bits (0 loop, 1 fade and switch to the same file), then
// the Ogg file, streamed through the music node.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_reader in = {data, size};
    const int32_t speed = static_cast<int32_t>(in.take(4));
    const uint32_t mode = in.take(1);
    FUZZ_CHECK(fuzz_writefile("m.ogg", in.data, in.size), "write");
    const int music = em_createoggmusic(em_getroot());
    FUZZ_CHECK(music != 0, "music node");
    if (em_playoggmusic(music, "m.ogg") == 0) {
        FUZZ_CHECK(em_getparam(music, EMP_STATE) == 4, "playing and looping after a start");
        em_setparam(music, EMP_PITCH, speed);
        em_setparam(music, EMP_STATE, (mode & 1) ? 4 : 3);
        em_getparam(music, EMP_LENGTHMS);
        em_getparam(music, EMP_OUTLENGTH);
        fuzz_render(4);
        if (mode & 2) {
            em_setparam(music, EMP_VOLUME, 200);
            em_setparam(music, EMP_SWITCHMODE, 1);
            FUZZ_CHECK(em_playoggmusic(music, "m.ogg") == 0, "a switch is only noted");
            fuzz_render(45);    // the fade takes 40 buffers
        }
        fuzz_render(4);
        const int state = em_getparam(music, EMP_STATE);
        FUZZ_CHECK(state == 0 || state == 3 || state == 4, "state %d", state);
    } else {
        FUZZ_CHECK(em_getparam(music, EMP_STATE) == 0, "a refused file leaves the node stopped");
    }
    fuzz_destroy(music);
    return 0;
}
#endif
