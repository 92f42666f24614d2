// fuzz_wav.cpp -- fuzz target: any WAV file loaded into the sample bank, played
// by a sampler voice and freed; samples must be consistent and the engine's
// allocations must come back to where they were.
#include "em/em_local.h"
#include "fuzz_common.h"

static int32_t fuzz_baseline;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (em_init() != 0) {
        fprintf(stderr, "fuzz_wav: em_init failed\n");
        abort();
    }
    // The test calls the callback itself.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_writefile("s.wav", data, size);
    const int sampler = em_createsampler(em_getroot(), -1);
    FUZZ_CHECK(sampler != 0, "sampler");
    const int handle = em_loadsample("s.wav");
    if (handle) {
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
    SDL_LockAudio();
    em_destroynode(em_getnode(sampler));
    SDL_UnlockAudio();
    FUZZ_CHECK(emio_getbytes() == fuzz_baseline, "%d bytes left over", emio_getbytes() - fuzz_baseline);
    return 0;
}
