// hall.cpp -- example: footsteps walking through a reverberant hall and on
// behind a wall, and a loudspeaker that turns towards the listener, rendered
// offline into a WAV file
//   usage: hall step.wav speaker.wav out.wav
#include <cmath>
#include <cstdio>
#include <vector>

#include "em/em.h"

enum {
    HALL_OK = 0,     // exit status: rendered
    HALL_FAILED = 1, // a file could not be read or written, or the engine refused a setting
    HALL_USAGE = 2   // the command line is wrong
};

enum {
    HALL_RATE = 44100,           // frames per second: the rate em_render delivers
    HALL_CHUNK = 1024,           // frames per em_render call: the engine's own buffer
    HALL_FRAMES = 6 * HALL_RATE, // six seconds
    HALL_STEPS = 8,              // footsteps, one every half second from a quarter second on
    HALL_STEPEVERY = HALL_RATE / 2,
    HALL_SEND = 128 // the share of the dry sound sent to the reverb, 256 = all of it
};

// The scene, in the listener's frame: the listener stands at the origin
// looking along -z, x to the right. The walker crosses from x = -6 to x = 8,
// 3 units ahead; from x = 1 on a wall stands between them, and its steps are
// heard through it, muffled. The loudspeaker stands 8 units ahead and turns
// from facing right (the listener at the edge of its cone) to facing the
// listener over the render.
const float HALL_WALKFROM = -6.0f, HALL_WALKSPEED = 3.5f, HALL_WALKZ = -3.0f; // units, units a second
const float HALL_WALLX = 1.0f;                                                // behind the wall from here on
const float HALL_MUFFLEHZ = 700.0f;                                           // the wall lets through what lies below this
const float HALL_SPEAKERZ = -8.0f;

static int hall_usage()
{
    fputs("usage: hall step.wav speaker.wav out.wav\n"
          "Renders six seconds into a 16-bit stereo 44100 Hz WAV file: step.wav walked\n"
          "across a reverberant hall and on behind a wall (low-passed there), and\n"
          "speaker.wav looping from a loudspeaker that turns towards the listener.\n",
          stderr);
    return HALL_USAGE;
}

// Builds the scene's nodes: the reverb that both 3-D samplers send to, the
// walker's 3-D sampler and the loudspeaker's voice; 0, or -1 when the engine
// refused a node or a setting.
static int hall_scene(int speakersample, int* walker, int* speaker)
{
    const int root = em_getroot();
    const int reverb = em_createeffect(root, EMX_REVERB);
    *walker = em_createsampler3d(root, -1);
    const int loud = em_createsampler3d(root, -1);
    if (!reverb || !*walker || !loud)
        return -1;
    int refused = em_setparamf(reverb, EMP_ROOMSIZE, 0.85f) | em_setparamf(reverb, EMP_DAMPING, 0.3f) |
                  em_setparamf(reverb, EMP_WET, 1.0f) | em_setparamf(reverb, EMP_DRY, 0.0f) |
                  em_setsend(*walker, reverb, HALL_SEND) | em_setsend(loud, reverb, HALL_SEND);
    // Loudness falls as 1 / distance from 1 unit on, as in a hall.
    for (const int s : {*walker, loud})
        refused |= em_setparam(s, EMP_DISTANCEMODEL, EMD_INVERSECLAMPED) | em_setparamf(s, EMP_REFDISTANCE, 1.0f) |
                   em_setparamf(s, EMP_MAXDISTANCE, 40.0f);
    // The loudspeaker sends its full level ahead within 30 degrees of its
    // axis, a tenth of it beyond 90 degrees.
    refused |= em_setparam(loud, EMP_DEFFLAGS, static_cast<int32_t>(EMF_LOOP)) | em_setparamf(loud, EMP_CONEINNER, 60.0f) |
               em_setparamf(loud, EMP_CONEOUTER, 180.0f) | em_setparamf(loud, EMP_CONEOUTERGAIN, 0.1f);
    const float at[3] = {0.0f, 0.0f, HALL_SPEAKERZ};
    *speaker = refused ? 0 : em_triggersample3dat(loud, speakersample, at, nullptr);
    if (!*speaker)
        return -1;
    return em_setparam3f(*speaker, EMP_DIRECTION3D, 1.0f, 0.0f, 0.0f);
}

// Starts the footstep of the frame where the walker is then; behind the wall
// the step is low-passed. 1 behind the wall, 0 before it, -1 when the engine
// refused the step.
static int hall_step(int walker, int stepsample, int32_t frame)
{
    const float x = HALL_WALKFROM + HALL_WALKSPEED * static_cast<float>(frame) / HALL_RATE;
    const float at[3] = {x, 0.0f, HALL_WALKZ}, velocity[3] = {HALL_WALKSPEED, 0.0f, 0.0f};
    const int voice = em_triggersample3dat(walker, stepsample, at, velocity);
    if (!voice)
        return -1;
    if (x < HALL_WALLX)
        return 0;
    return em_setparamf(voice, EMP_LOWPASS, HALL_MUFFLEHZ) == 0 ? 1 : -1;
}

int main(int argc, char** argv)
{
    if (argc != 4)
        return hall_usage();
    const char* output = argv[3];
    if (em_initoffline() != 0) {
        fprintf(stderr, "hall: the audio engine did not start\n");
        return HALL_FAILED;
    }
    int sounds[2];
    for (int i = 0; i < 2; i++) {
        sounds[i] = em_loadsound(argv[1 + i]);
        if (!sounds[i]) {
            fprintf(stderr, "hall: %s: %s\n", argv[1 + i], em_sampleerror());
            em_deinit();
            return HALL_FAILED;
        }
    }
    int walker = 0, speaker = 0;
    if (hall_scene(sounds[1], &walker, &speaker) != 0) {
        fprintf(stderr, "hall: the audio engine refused the scene\n");
        em_deinit();
        return HALL_FAILED;
    }

    std::vector<int16_t> values(2 * static_cast<size_t>(HALL_FRAMES));
    int steps = 0, muffled = 0;
    for (int32_t done = 0; done < HALL_FRAMES; done += HALL_CHUNK) {
        // A step starts at the first buffer that begins at or after its frame.
        for (; steps < HALL_STEPS && HALL_RATE / 4 + steps * HALL_STEPEVERY <= done; steps++) {
            const int behind = hall_step(walker, sounds[0], done);
            if (behind < 0)
                fprintf(stderr, "hall: step %d was refused\n", steps);
            else
                muffled += behind;
        }
        // The loudspeaker turns a quarter turn, from facing right to facing
        // the listener (+z), evenly over the render.
        const float turn = 1.5707964f * static_cast<float>(done) / HALL_FRAMES;
        em_setparam3f(speaker, EMP_DIRECTION3D, std::cos(turn), 0.0f, std::sin(turn));
        const int32_t n = HALL_FRAMES - done < HALL_CHUNK ? HALL_FRAMES - done : HALL_CHUNK;
        em_render(&values[2 * static_cast<size_t>(done)], n);
    }
    int status = HALL_OK;
    if (em_writewav(output, values.data(), HALL_FRAMES, 2, HALL_RATE) != 0)
        status = HALL_FAILED; // the engine's log says why
    else
        printf("%s: %d frames, %d footsteps, %d of them behind the wall\n", output, HALL_FRAMES, steps, muffled);
    em_deinit(); // the engine's allocation report, on standard output
    return status;
}
