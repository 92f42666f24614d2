// game.cpp -- example: the controls a game uses, rendered offline into a WAV
// file: music that switches with a chosen fade, an ambience faded out, paused
// and brought back, effects started at exact clocks, a master fade-out at the
// end, and an event loop that prints what ended
//   usage: game first.ogg second.ogg ambience.wav effect.wav out.wav
#include <cstdio>
#include <cstring>
#include <vector>

#include "em/em.h"

enum {
    GAME_OK = 0,     // exit status: rendered
    GAME_FAILED = 1, // a file could not be read or written
    GAME_USAGE = 2   // the command line is wrong
};

enum {
    GAME_RATE = 44100,           // frames per second: the rate em_render delivers
    GAME_CHUNK = 1024,           // frames per em_render call: the engine's own buffer
    GAME_FRAMES = 5 * GAME_RATE, // five seconds
    GAME_HITS = 8,               // effects, one every half second from a quarter second on
    GAME_AMBIENCEVOLUME = 128,   // the ambience's sampler at half volume
    GAME_MUSICVOLUME = 200,      // the music node's volume
    GAME_SWITCHMS = 500          // the music switch's fade-out
};

// What the game does, at the first buffer that begins at or after each frame.
enum { GAME_DUCK, GAME_BACK, GAME_SWITCH, GAME_FADEOUT, GAME_STEPS };
static const int32_t game_when[GAME_STEPS] = {GAME_RATE, 2 * GAME_RATE, 5 * GAME_RATE / 2, 4 * GAME_RATE};

static int game_usage()
{
    fputs("usage: game first.ogg second.ogg ambience.wav effect.wav out.wav\n"
          "Renders five seconds of a small game's sound into a 16-bit stereo 44100 Hz WAV file:\n"
          "first.ogg switching to second.ogg with a half-second fade, ambience.wav looping,\n"
          "faded out and paused from 1 s to 2 s, effect.wav every half second from 0.25 s at\n"
          "its exact frame, and the whole mix faded out over 0.9 s from 4 s; prints each\n"
          "event the engine posts.\n",
          stderr);
    return GAME_USAGE;
}

// Prints what the engine posted since the last call, one line each.
static void game_events(int root, int ambience, int music)
{
    for (em_event ev; em_pollevent(&ev);) {
        const char* who = ev.handle == root       ? "the mix"
                          : ev.handle == ambience ? "the ambience"
                          : ev.handle == music    ? "the music"
                                                  : "a node";
        printf("frame %6u: ", static_cast<unsigned>(ev.sampleclock));
        switch (ev.type) {
        case EME_VOICEEND: printf("an effect ended (sample %d)\n", static_cast<int>(ev.sample)); break;
        case EME_FADEDONE: printf("the fade of %s is done\n", who); break;
        case EME_MUSICSWITCH: printf("the music switched\n"); break;
        case EME_SWITCHFAILED: printf("the music could not switch\n"); break;
        case EME_MUSICLOOP: printf("the music began again\n"); break;
        default: printf("event %d of node %d\n", static_cast<int>(ev.type), static_cast<int>(ev.handle)); break;
        }
    }
}

// Does the step of the timeline; 0, or -1 when the engine refused it.
static int game_step(int step, int root, int ambience, int music, const char* second)
{
    switch (step) {
    case GAME_DUCK: return em_fade(ambience, 0, 250, EM_FADEPAUSE); // out, then held where it stands
    case GAME_BACK: return em_pause(ambience, 0) | em_fade(ambience, GAME_AMBIENCEVOLUME, 250, EM_FADEKEEP);
    case GAME_SWITCH: return em_playoggmusic(music, second); // fades out over GAME_SWITCHMS, then switches
    default: return em_fade(root, 0, 900, EM_FADEKEEP);      // the whole mix out before the last frame
    }
}

int main(int argc, char** argv)
{
    if (argc != 6)
        return game_usage();
    const char* first = argv[1];
    const char* second = argv[2];
    const char* output = argv[5];
    if (em_initoffline() != 0) {
        fprintf(stderr, "game: the audio engine did not start\n");
        return GAME_FAILED;
    }
    const int root = em_getroot();
    int sounds[2];
    for (int i = 0; i < 2; i++) {
        sounds[i] = em_loadsound(argv[3 + i]);
        if (!sounds[i]) {
            fprintf(stderr, "game: %s: %s\n", argv[3 + i], em_sampleerror());
            em_deinit();
            return GAME_FAILED;
        }
    }
    // The ambience loops on a sampler of its own; the effects play on another.
    const int ambience = em_createsampler(root, -1);
    em_setparam(ambience, EMP_LOOP, 1);
    em_setparam(ambience, EMP_VOLUME, GAME_AMBIENCEVOLUME);
    em_triggersample(ambience, sounds[0]);
    const int effects = em_createsampler(root, -1);
    for (int k = 0; k < GAME_HITS; k++)
        em_triggersampleat(effects, sounds[1], static_cast<uint32_t>(GAME_RATE / 4 + k * GAME_RATE / 2));
    // The music plays first.ogg; a later start fades it out, then switches.
    const int music = em_createoggmusic(root);
    em_setparam(music, EMP_VOLUME, GAME_MUSICVOLUME);
    if (em_playoggmusic(music, first) != 0) {
        fprintf(stderr, "game: %s cannot be played\n", first);
        em_deinit();
        return GAME_FAILED;
    }
    em_setparam(music, EMP_SWITCHMODE, 1);
    em_setparam(music, EMP_FADEMS, GAME_SWITCHMS);

    std::vector<int16_t> values(2 * static_cast<size_t>(GAME_FRAMES));
    int step = 0;
    for (int32_t done = 0; done < GAME_FRAMES; done += GAME_CHUNK) {
        for (; step < GAME_STEPS && game_when[step] <= done; step++)
            if (game_step(step, root, ambience, music, second) != 0)
                fprintf(stderr, "game: step %d was refused\n", step);
        const int32_t n = GAME_FRAMES - done < GAME_CHUNK ? GAME_FRAMES - done : GAME_CHUNK;
        em_render(&values[2 * static_cast<size_t>(done)], n);
        game_events(root, ambience, music);
    }
    int status = GAME_OK;
    if (em_writewav(output, values.data(), GAME_FRAMES, 2, GAME_RATE) != 0)
        status = GAME_FAILED; // the engine's log says why
    else
        printf("%s: %d frames\n", output, GAME_FRAMES);
    em_deinit(); // the engine's allocation report, on standard output
    return status;
}
