/* main.c -- a user's program in C built against the installed em.h alone: renders
   a WAV file it writes through a sampler offline and prints what the engine gave
   back; the install test builds it four ways (CMake and pkg-config, shared and
   static), runs each and compares. */
#include <stdio.h>

#include "em/em.h"
#include "usertone.h"

enum { CUSER_RENDERFRAMES = 1024 }; /* one engine buffer */

int main(void)
{
    static int16_t out[CUSER_RENDERFRAMES * 2];
    if (!user_writetone("tone.wav")) {
        printf("em: tone.wav not written\n");
        return 1;
    }
    const int started = em_initoffline();
    const int sample = started == 0 ? em_loadsample("tone.wav") : 0;
    const int sampler = sample ? em_createsampler(em_getroot(), -1) : 0;
    const int voice = sampler ? em_triggersample(sampler, sample) : 0;
    em_setparam(voice, EMP_FLAGS, em_getparam(voice, EMP_FLAGS) | EMF_LOOP);
    const int rendered = voice ? em_render(out, CUSER_RENDERFRAMES) : -1;
    /* FNV-1a of the rendered bytes; the count of values heard. */
    uint32_t hash = 2166136261u;
    int heard = 0;
    for (int i = 0; i < CUSER_RENDERFRAMES * 2; i++) {
        hash = (hash ^ ((uint16_t)out[i] & 0xFF)) * 16777619u;
        hash = (hash ^ ((uint16_t)out[i] >> 8)) * 16777619u;
        heard += out[i] != 0;
    }
    printf("em: started %d, sample %d (%s), voice %s, looping %d, rendered %d frames, %d values heard, checksum %08x\n", started,
           sample, em_sampleerror(), voice ? "started" : "not started", (em_getparam(voice, EMP_FLAGS) & EMF_LOOP) != 0, rendered,
           heard, (unsigned)hash);
    em_deinit(); /* prints the engine's allocation report */
    return rendered == CUSER_RENDERFRAMES ? 0 : 1;
}
