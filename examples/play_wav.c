/* play_wav.c -- example: play_wav written in C against the engine's C interface:
   plays a WAV file through a sampler on the sound device, or with --render renders
   it offline into a WAV file instead
     usage: play_wav_c [--render out.wav] file.wav */
#define _POSIX_C_SOURCE 199309L

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "em/em.h"

enum {
    PLAYWAV_OK = 0,     /* exit status: played or rendered */
    PLAYWAV_FAILED = 1, /* a file could not be read or written, or there is no sound device */
    PLAYWAV_USAGE = 2   /* the command line is wrong */
};

/* Frames per em_render call: the engine mixes in buffers of this many, so a
   render in whole buffers stops exactly where the buffer with the sound's end stops. */
enum {
    PLAYWAV_CHUNK = 1024,
    PLAYWAV_RATE = 44100 /* frames per second: the rate em_render delivers */
};

static int playwav_usage(void)
{
    fputs("usage: play_wav_c [--render out.wav] file.wav\n"
          "Plays a WAV file (8- or 16-bit, mono or stereo, any rate) on the sound device;\n"
          "with --render, renders it into a 16-bit stereo 44100 Hz WAV file instead.\n",
          stderr);
    return PLAYWAV_USAGE;
}

static void playwav_sleep(long ms)
{
    struct timespec wait = {ms / 1000, ms % 1000 * 1000000L};
    nanosleep(&wait, NULL);
}

/* Renders until the sampler has no voice left (the voice frees its own node
   when its sound ends) into a block that grows by doubling, and writes what came out. */
static int playwav_render(int sampler, const char* output)
{
    size_t frames = 0, capacity = 16 * PLAYWAV_CHUNK;
    int16_t* values = malloc(capacity * 2 * sizeof(int16_t));
    int error = values ? 0 : ENOMEM;
    while (error == 0 && em_getchild(sampler) != 0) {
        if (frames + PLAYWAV_CHUNK > capacity) {
            int16_t* more = realloc(values, capacity * 4 * sizeof(int16_t));
            if (!more) {
                error = ENOMEM;
                break;
            }
            values = more;
            capacity *= 2;
        }
        em_render(values + 2 * frames, PLAYWAV_CHUNK);
        frames += PLAYWAV_CHUNK;
    }
    if (error != 0) {
        free(values);
        fprintf(stderr, "play_wav_c: %s: %s\n", output, strerror(error));
        return PLAYWAV_FAILED;
    }
    /* A file that cannot be written is reported by the engine's own line. */
    error = em_writewav(output, values, (int32_t)frames, 2, PLAYWAV_RATE);
    free(values);
    if (error != 0)
        return PLAYWAV_FAILED;
    printf("%s: %zu frames of 16-bit stereo at %d Hz\n", output, frames, PLAYWAV_RATE);
    return PLAYWAV_OK;
}

/* Waits while the device plays, until the sampler has no voice left. */
static int playwav_listen(int sampler)
{
    while (em_getchild(sampler) != 0)
        playwav_sleep(10);
    /* The device still has to play the buffer in which the sound ended. */
    playwav_sleep(50);
    return PLAYWAV_OK;
}

int main(int argc, char** argv)
{
    const char* output = NULL;
    const char* input = NULL;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--render") && i + 1 < argc)
            output = argv[++i];
        else if (argv[i][0] == '-' || input)
            return playwav_usage();
        else
            input = argv[i];
    }
    if (!input)
        return playwav_usage();

    /* Start the engine: on the sound device, or offline, where nothing is
       opened and em_render mixes on demand. */
    const int started = output ? em_initoffline() : em_init();
    if (started != 0) {
        fprintf(stderr, "play_wav_c: no sound device (em_init gave %d); --render out.wav renders to a file\n", started);
        return PLAYWAV_FAILED;
    }

    /* Load the file into the sample bank. The bank prints nothing itself: it
       keeps the reason of a failure for em_sampleerror. */
    const int sample = em_loadsample(input);
    if (!sample) {
        fprintf(stderr, "play_wav_c: %s: %s\n", input, em_sampleerror());
        em_deinit();
        return PLAYWAV_FAILED;
    }
    const em_sample* s = em_getsample(sample);
    printf("%s: %d channel%s, %d Hz, %d frames\n", input, s->channels, s->channels == 2 ? "s" : "", s->rate, s->length);

    /* A sampler under the root node; mode -1 makes it start a voice for every
       trigger. New voices take its defaults: volume 256 (unity), pan 0, the
       sample's own rate. The voice is a node of its own under the sampler. */
    const int sampler = em_createsampler(em_getroot(), -1);
    const int voice = sampler ? em_triggersample(sampler, sample) : 0;
    int status = PLAYWAV_FAILED;
    if (voice == 0)
        fprintf(stderr, "play_wav_c: the audio engine could not start a voice\n");
    else
        status = output ? playwav_render(sampler, output) : playwav_listen(sampler);

    /* Stops the device and frees every node and sample; the engine prints its
       allocation report on standard output. */
    em_deinit();
    return status;
}
