// fuzz_ogg.cpp -- fuzz target: any Ogg file opened and streamed through the music
// node at any speed, once, looping or after a fade-and-switch; the engine's
// allocations must come back to where they were.
#include "em/em_local.h"
#include "fuzz_common.h"

static int32_t fuzz_baseline;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (em_init() != 0) {
        fprintf(stderr, "fuzz_ogg: em_init failed\n");
        abort();
    }
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

// Speed (32 bits), mode bits (0 loop, 1 fade and switch to the same file), then the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_reader in = {data, size};
    const int32_t speed = static_cast<int32_t>(in.take(4));
    const uint32_t mode = in.take(1);
    fuzz_writefile("m.ogg", in.data, in.size);

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
    SDL_LockAudio();
    em_destroynode(em_getnode(music));
    SDL_UnlockAudio();
    FUZZ_CHECK(emio_getbytes() == fuzz_baseline, "%d bytes left over", emio_getbytes() - fuzz_baseline);
    return 0;
}
