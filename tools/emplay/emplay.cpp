// emplay.cpp -- example player for the audio engine: WAV files through a
// sampler, Ogg Vorbis files through music nodes, to the device or a WAV file
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "em/em.h"
#include "em/em_local.h"

struct emplay_options {
    int32_t volume = 256;       // 256 = unity
    int32_t pan = 0;            // -128..128, samples only
    double pitch = 1.0;         // sample pitch and music speed factor
    bool loop = false;
    double seconds = 0.0;       // play limit, 0 = until every sound has ended
    const char* output = nullptr;   // render to this WAV file instead of the device
    std::vector<const char*> files;
};

static void emplay_usage()
{
    fprintf(stderr,
            "usage: emplay [options] file.wav|file.ogg ...\n"
            "  -v volume   256 = unity (default 256)\n"
            "  -p pan      -128 left .. 128 right, WAV files (default 0)\n"
            "  -r factor   pitch of WAV files and speed of Ogg files (default 1.0)\n"
            "  -l          loop every sound\n"
            "  -t seconds  stop after this long (needed with -l when rendering)\n"
            "  -o out.wav  render to a 16-bit stereo WAV file instead of the sound device\n");
}

static bool emplay_endswith(const char* name, const char* suffix)
{
    const size_t n = strlen(name), m = strlen(suffix);
    return n >= m && strcasecmp(name + n - m, suffix) == 0;
}

// Parses the command line; false (after the usage text) when it is not understood.
static bool emplay_parse(int argc, char** argv, emplay_options* opt)
{
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const bool hasvalue = i + 1 < argc;
        if (!strcmp(arg, "-l")) {
            opt->loop = true;
        } else if (!strcmp(arg, "-v") && hasvalue) {
            opt->volume = atoi(argv[++i]);
        } else if (!strcmp(arg, "-p") && hasvalue) {
            opt->pan = atoi(argv[++i]);
        } else if (!strcmp(arg, "-r") && hasvalue) {
            opt->pitch = atof(argv[++i]);
        } else if (!strcmp(arg, "-t") && hasvalue) {
            opt->seconds = atof(argv[++i]);
        } else if (!strcmp(arg, "-o") && hasvalue) {
            opt->output = argv[++i];
        } else if (arg[0] == '-') {
            emplay_usage();
            return false;
        } else {
            opt->files.push_back(arg);
        }
    }
    if (opt->files.empty() || opt->pitch <= 0.0 || opt->pitch > 8.0 || (opt->loop && opt->output && opt->seconds <= 0.0)) {
        emplay_usage();
        return false;
    }
    return true;
}

struct emplay_sounds {
    int sampler = 0;
    std::vector<int> music;
};

// Starts every file; false when one cannot be played.
static bool emplay_start(const emplay_options& opt, emplay_sounds* sounds)
{
    const int32_t pitch = static_cast<int32_t>(opt.pitch * 65536.0);
    sounds->sampler = em_createsampler(em_getroot(), -1);
    if (!sounds->sampler)
        return false;
    em_setparam(sounds->sampler, EMP_DEFVOLUME, opt.volume);
    em_setparam(sounds->sampler, EMP_DEFPAN, opt.pan);
    em_setparam(sounds->sampler, EMP_DEFPITCH, pitch);
    em_setparam(sounds->sampler, EMP_LOOP, opt.loop ? 1 : 0);
    for (const char* file : opt.files) {
        if (emplay_endswith(file, ".ogg")) {
            const int music = em_createoggmusic(em_getroot());
            if (!music)
                return false;
            em_setparam(music, EMP_VOLUME, opt.volume);
            em_setparam(music, EMP_PITCH, pitch);
            if (em_playoggmusic(music, file) != 0)
                return false;
            if (!opt.loop)
                em_setparam(music, EMP_STATE, 3);
            sounds->music.push_back(music);
        } else {
            const int sample = em_loadsample(file);
            if (!sample) {
                fprintf(stderr, "emplay: can't load %s\n", file);
                return false;
            }
            if (!em_triggersample(sounds->sampler, sample))
                return false;
        }
    }
    return true;
}

static bool emplay_playing(const emplay_sounds& sounds)
{
    if (em_getchild(sounds.sampler) != 0)
        return true;
    for (const int music : sounds.music)
        if (em_getparam(music, EMP_STATE) > 0)
            return true;
    return false;
}

static void emplay_put16(FILE* f, uint16_t v)
{
    const uint8_t b[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
    fwrite(b, 1, 2, f);
}

static void emplay_put32(FILE* f, uint32_t v)
{
    emplay_put16(f, static_cast<uint16_t>(v & 0xFFFF));
    emplay_put16(f, static_cast<uint16_t>(v >> 16));
}

// A 16-bit stereo WAV header for a data chunk of the given size.
static void emplay_wavheader(FILE* f, uint32_t rate, uint32_t databytes)
{
    fwrite("RIFF", 1, 4, f);
    emplay_put32(f, 36 + databytes);
    fwrite("WAVEfmt ", 1, 8, f);
    emplay_put32(f, 16);
    emplay_put16(f, 1);
    emplay_put16(f, 2);
    emplay_put32(f, rate);
    emplay_put32(f, rate * 4);
    emplay_put16(f, 4);
    emplay_put16(f, 16);
    fwrite("data", 1, 4, f);
    emplay_put32(f, databytes);
}

// Drives the callback directly, as fast as it runs, into a WAV file.
static int emplay_render(const emplay_options& opt, const emplay_sounds& sounds)
{
    FILE* f = fopen(opt.output, "wb");
    if (!f) {
        fprintf(stderr, "emplay: can't write %s\n", opt.output);
        return 1;
    }
    const uint32_t rate = static_cast<uint32_t>(emstate.freq);
    emplay_wavheader(f, rate, 0);
    std::vector<Uint8> buffer(static_cast<size_t>(emstate.samples) * 4);
    const double limit = opt.seconds > 0.0 ? opt.seconds * rate : 1e18;
    uint32_t databytes = 0;
    double frames = 0.0;
    while (emplay_playing(sounds) && frames < limit) {
        em_audiocallback(nullptr, buffer.data(), static_cast<int>(buffer.size()));
        // samples in the buffer are little-endian signed 16-bit, as the file wants
        fwrite(buffer.data(), 1, buffer.size(), f);
        databytes += static_cast<uint32_t>(buffer.size());
        frames += emstate.samples;
    }
    rewind(f);
    emplay_wavheader(f, rate, databytes);
    return fclose(f) == 0 ? 0 : 1;
}

static void emplay_listen(const emplay_options& opt, const emplay_sounds& sounds)
{
    const uint32_t start = SDL_GetTicks();
    while (emplay_playing(sounds)) {
        if (opt.seconds > 0.0 && SDL_GetTicks() - start >= opt.seconds * 1000.0)
            break;
        SDL_Delay(20);
    }
}

int main(int argc, char** argv)
{
    emplay_options opt;
    if (!emplay_parse(argc, argv, &opt))
        return 2;
    if (opt.output)
        setenv("SDL_AUDIODRIVER", "dummy", 1);  // the device only paces nothing here
    if (SDL_Init(0) < 0 || em_init() != 0) {
        fprintf(stderr, "emplay: couldn't start the audio engine\n");
        return 1;
    }
    if (opt.output) {
        SDL_PauseAudio(1);
        SDL_LockAudio();    // waits out a callback in flight
        SDL_UnlockAudio();
    }
    emplay_sounds sounds;
    int status = 1;
    if (emplay_start(opt, &sounds)) {
        if (opt.output) {
            status = emplay_render(opt, sounds);
        } else {
            emplay_listen(opt, sounds);
            status = 0;
        }
    }
    em_deinit();
    SDL_Quit();
    return status;
}
