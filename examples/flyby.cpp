// flyby.cpp -- example: renders a sound flying past the listener from left to
// right through the 3-D sampler into a WAV file, offline
//   usage: flyby [--seconds S] source.wav out.wav
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "em/em.h"

enum {
    FLYBY_OK = 0,     // exit status: rendered
    FLYBY_FAILED = 1, // a file could not be read or written
    FLYBY_USAGE = 2   // the command line is wrong
};

// Frames per em_render call: the engine's own buffer. The engine takes a new
// place at the start of each of its buffers and glides to it over the buffer.
enum {
    FLYBY_CHUNK = 1024,
    FLYBY_RATE = 44100 // frames per second: the rate em_render delivers
};

// The path, in the listener's frame: the listener stands at the origin looking
// along -z, with x to the right and y up. The source travels along x at
// FLYBY_SPEED, FLYBY_MISS units in front of the listener, and passes straight
// in front halfway through the render.
const float FLYBY_SPEED = 30.0f;      // scene units per second (the speed of sound is 340)
const float FLYBY_MISS = 4.0f;        // closest distance, scene units
const double FLYBY_MAXSECONDS = 16.0; // the path stays inside the 3-D sampler's default audible range of 256 units

static int flyby_usage()
{
    fprintf(stderr,
            "usage: flyby [--seconds S] source.wav out.wav\n"
            "Renders source.wav (looped) flying past the listener from left to right into\n"
            "a 16-bit stereo 44100 Hz WAV file; S from 0.1 to %g seconds (default 4).\n",
            FLYBY_MAXSECONDS);
    return FLYBY_USAGE;
}

// The seconds of --seconds, or a negative value when text is not a number in range.
static double flyby_seconds(const char* text)
{
    char* end;
    const double seconds = strtod(text, &end);
    return end != text && *end == 0 && seconds >= 0.1 && seconds <= FLYBY_MAXSECONDS ? seconds : -1.0;
}

int main(int argc, char** argv)
{
    double seconds = 4.0;
    const char* files[2] = {nullptr, nullptr};
    int nfiles = 0;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = flyby_seconds(argv[++i]);
        else if (argv[i][0] == '-' || nfiles == 2)
            return flyby_usage();
        else
            files[nfiles++] = argv[i];
    }
    if (nfiles != 2 || seconds < 0.0)
        return flyby_usage();
    const char* source = files[0];
    const char* output = files[1];

    // Offline: no sound device; em_render mixes exactly the frames asked for.
    if (em_initoffline() != 0) {
        fprintf(stderr, "flyby: the audio engine did not start\n");
        return FLYBY_FAILED;
    }
    const int sample = em_loadsample(source);
    if (!sample) {
        fprintf(stderr, "flyby: %s: %s\n", source, em_sampleerror());
        em_deinit();
        return FLYBY_FAILED;
    }

    // The 3-D sampler holds the listener (at the origin, looking along -z, by
    // default). New voices loop, and start where the path starts with the
    // path's velocity, so the first buffer has nothing to glide from.
    const float x0 = -0.5f * FLYBY_SPEED * static_cast<float>(seconds);
    const int listener = em_createsampler3d(em_getroot(), -1);
    em_setparam(listener, EMP_DEFFLAGS, static_cast<int32_t>(EMF_LOOP));
    em_setparam3f(listener, EMP_POSITION3DB, x0, 0.0f, -FLYBY_MISS);
    em_setparam3f(listener, EMP_VELOCITY3DB, FLYBY_SPEED, 0.0f, 0.0f);
    const int voice = listener ? em_triggersample3d(listener, sample) : 0;
    if (!voice) {
        fprintf(stderr, "flyby: the audio engine could not start a voice\n");
        em_deinit();
        return FLYBY_FAILED;
    }

    // Move the source as a game would, once per buffer: the place gives the
    // fall-off with distance, the pan and the delay between the ears; the
    // velocity, set once above, gives the Doppler shift (higher while the
    // source comes closer, lower once it moves away). Setting EMF_MOVING on
    // the voice would let the engine move it by its velocity instead.
    const int32_t frames = static_cast<int32_t>(std::lround(seconds * FLYBY_RATE));
    std::vector<int16_t> values(2 * static_cast<size_t>(frames));
    for (int32_t done = 0; done < frames; done += FLYBY_CHUNK) {
        const float t = static_cast<float>(done) / FLYBY_RATE;
        em_setparam3f(voice, EMP_POSITION3D, x0 + FLYBY_SPEED * t, 0.0f, -FLYBY_MISS);
        const int32_t n = frames - done < FLYBY_CHUNK ? frames - done : FLYBY_CHUNK;
        em_render(&values[2 * static_cast<size_t>(done)], n);
    }
    int status = FLYBY_OK;
    // A file that cannot be written is reported by the engine's own line.
    if (em_writewav(output, values.data(), frames, 2, FLYBY_RATE) != 0) {
        status = FLYBY_FAILED;
    } else {
        printf("%s: %d frames, %s flying from x = %g to x = %g, %g units in front\n", output, frames, source, x0, -x0,
               FLYBY_MISS);
    }
    em_deinit(); // the engine's allocation report, on standard output
    return status;
}
