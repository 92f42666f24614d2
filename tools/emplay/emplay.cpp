// emplay.cpp -- example player for the audio engine: WAV files through a
// sampler or as 3-D sources, Ogg Vorbis files through music nodes, step
// sequences from a text file, to the device or a WAV file
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "em/em.h"
#include "em/em_local.h"
#include "wavfile.h"

struct emplay_options {
    int32_t volume = 256; // 256 = unity
    int32_t pan = 0;      // -128..128, samples only
    double pitch = 1.0;   // sample pitch and music speed factor
    bool loop = false;
    double seconds = 0.0;           // play limit, 0 = until every sound has ended
    const char* output = nullptr;   // render to this WAV file instead of the device
    const char* sequence = nullptr; // play this sequence file instead of files
    int mode3d = 0;                 // EMPLAY_CIRCLE or EMPLAY_FLYBY: WAV files as 3-D sources
    std::vector<const char*> files;
};

// 3-D demo paths.
enum {
    EMPLAY_CIRCLE = 1, // sources circle the listener at EMPLAY_RADIUS
    EMPLAY_FLYBY = 2   // sources fly past in front of the listener, left to right
};

const float EMPLAY_RADIUS = 20.0f;    // scene units
const float EMPLAY_LAP = 3.0f;        // seconds per circle
const float EMPLAY_FLYSPEED = 30.0f;  // scene units per second
const float EMPLAY_FLYSTART = -60.0f; // x where a fly-past starts
const float EMPLAY_FLYMISS = 4.0f;    // closest distance of a fly-past

static void emplay_usage()
{
    fprintf(stderr, "usage: emplay [options] file.wav|file.ogg ...\n"
                    "  -v volume   256 = unity (default 256)\n"
                    "  -p pan      -128 left .. 128 right, WAV files (default 0)\n"
                    "  -r factor   pitch of WAV files and speed of Ogg files (default 1.0)\n"
                    "  -l          loop every sound\n"
                    "  -t seconds  stop after this long (needed with -l when rendering)\n"
                    "  -o out.wav  render to a 16-bit stereo WAV file instead of the sound device\n"
                    "  -3 path     play the WAV files as 3-D sources that circle the listener\n"
                    "              (path circle, default 6 s) or fly past in front (flyby, 4 s)\n"
                    "  -s file.seq play a step sequence file instead (default: two passes)\n");
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
        } else if (!strcmp(arg, "-s") && hasvalue) {
            opt->sequence = argv[++i];
        } else if (!strcmp(arg, "-3") && hasvalue) {
            const char* path = argv[++i];
            opt->mode3d = !strcmp(path, "circle") ? EMPLAY_CIRCLE : !strcmp(path, "flyby") ? EMPLAY_FLYBY : -1;
        } else if (arg[0] == '-') {
            emplay_usage();
            return false;
        } else {
            opt->files.push_back(arg);
        }
    }
    const bool sources = opt->sequence ? opt->files.empty() && opt->mode3d == 0 : !opt->files.empty();
    if (!sources || opt->mode3d < 0 || opt->pitch <= 0.0 || opt->pitch > 8.0 ||
        (opt->loop && opt->output && opt->seconds <= 0.0)) {
        emplay_usage();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Sequence files
// ---------------------------------------------------------------------------

struct emplay_seqchannel {
    std::string file;     // WAV file, relative to the sequence file's folder
    int32_t volume = 256; // 256 = unity
    int32_t pan = 0;      // -128..128
    bool loop = false;
    std::vector<int8_t> notes; // one byte per step: 12..127 a note, else none
};

struct emplay_sequence {
    int32_t duration = 0; // output frames per pass
    int32_t steps = 0;
    std::vector<emplay_seqchannel> channels;
};

// A note token: "." none, a byte 0..255, or a name such as A4, C#5, Eb3 (A4 =
// 69, the sample's own pitch); -1 when it is none of these.
static int emplay_note(const char* token)
{
    if (!strcmp(token, "."))
        return 0;
    char* end;
    if (token[0] >= '0' && token[0] <= '9') {
        const long value = strtol(token, &end, 10);
        return *end == 0 && value <= 255 ? static_cast<int>(value) : -1;
    }
    static const int semitones[] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (token[0] < 'A' || token[0] > 'G')
        return -1;
    int note = semitones[token[0] - 'A'];
    const char* p = token + 1;
    if (*p == '#')
        note++, p++;
    else if (*p == 'b')
        note--, p++;
    if (*p < '0' || *p > '9')
        return -1;
    const long octave = strtol(p, &end, 10);
    note += 12 * (static_cast<int>(octave) + 1);
    return *end == 0 && octave <= 9 && note >= 12 && note <= 127 ? note : -1;
}

static bool emplay_number(const char* token, long low, long high, int32_t* value)
{
    if (!token)
        return false;
    char* end;
    const long v = strtol(token, &end, 10);
    if (*end != 0 || end == token || v < low || v > high)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// Reads one "channel" line's fields after the keyword; an error text or null.
static const char* emplay_readchannel(const emplay_sequence& seq, const std::string& folder, emplay_seqchannel* ch)
{
    if (seq.steps == 0)
        return "steps must come before the channels";
    if (seq.channels.size() >= EM_SEQCHANNELS)
        return "more than 8 channels";
    const char* file = strtok(nullptr, " \t\r\n");
    if (!file)
        return "channel without a WAV file";
    ch->file = file[0] == '/' ? file : folder + file;
    int32_t loop = 0;
    if (!emplay_number(strtok(nullptr, " \t\r\n"), -65536, 65536, &ch->volume))
        return "volume must be a whole number";
    if (!emplay_number(strtok(nullptr, " \t\r\n"), -128, 128, &ch->pan))
        return "pan must be -128..128";
    if (!emplay_number(strtok(nullptr, " \t\r\n"), 0, 1, &loop))
        return "loop must be 0 or 1";
    ch->loop = loop != 0;
    while (const char* token = strtok(nullptr, " \t\r\n")) {
        const int note = emplay_note(token);
        if (note < 0)
            return "a note is ., 0..255 or a name such as A4, C#5, Eb3 (C-1 .. G9)";
        ch->notes.push_back(static_cast<int8_t>(static_cast<uint8_t>(note)));
    }
    if (static_cast<int32_t>(ch->notes.size()) != seq.steps)
        return "a channel needs one note per step";
    return nullptr;
}

// Ends a line at a '#' that begins a word (a sharp inside a note name stays).
static void emplay_stripcomment(char* line)
{
    for (char* p = line; *p; p++) {
        if (*p == '#' && (p == line || strchr(" \t", p[-1]))) {
            *p = 0;
            return;
        }
    }
}

// Reads a sequence file; false after a message naming the file and line.
static bool emplay_readsequence(const char* path, emplay_sequence* seq)
{
    FILE* f = fopen(path, "r");
    if (!f) {
        fprintf(stderr, "emplay: can't read %s\n", path);
        return false;
    }
    const char* slash = strrchr(path, '/');
    const std::string folder = slash ? std::string(path, static_cast<size_t>(slash - path + 1)) : "";
    char line[4096];
    int lineno = 0;
    const char* error = nullptr;
    while (!error && fgets(line, sizeof(line), f)) {
        lineno++;
        emplay_stripcomment(line);
        const char* key = strtok(line, " \t\r\n");
        if (!key)
            continue;
        if (!strcmp(key, "duration")) {
            if (!emplay_number(strtok(nullptr, " \t\r\n"), 1, 0x7FFFFFFF, &seq->duration))
                error = "duration must be 1 or more output frames";
        } else if (!strcmp(key, "steps")) {
            if (!seq->channels.empty() || !emplay_number(strtok(nullptr, " \t\r\n"), 1, 4096, &seq->steps))
                error = "steps must be 1..4096, before the channels";
        } else if (!strcmp(key, "channel")) {
            emplay_seqchannel ch;
            error = emplay_readchannel(*seq, folder, &ch);
            seq->channels.push_back(ch);
        } else {
            error = "unknown keyword (duration, steps, channel)";
        }
        if (!error && strtok(nullptr, " \t\r\n") && strcmp(key, "channel"))
            error = "unexpected text after the value";
    }
    fclose(f);
    if (!error && (seq->duration == 0 || seq->steps == 0))
        error = "duration and steps are both needed";
    if (error)
        fprintf(stderr, "emplay: %s:%d: %s\n", path, lineno, error);
    return error == nullptr;
}

struct emplay_sounds {
    int sampler = 0;
    std::vector<int> music;
    int sampler3d = 0; // 3-D demo: the sampler and its voices
    std::vector<int> voices;
    int sequencer = 0;
};

// Starts the sequence: one channel per line, its sample, notes, level and loop.
static bool emplay_startsequence(const emplay_options& opt, const emplay_sequence& seq, emplay_sounds* sounds)
{
    const int n = static_cast<int>(seq.channels.size());
    sounds->sequencer = em_createsequencer(em_getroot(), n, seq.steps);
    if (!sounds->sequencer)
        return false;
    em_setparam(sounds->sequencer, EMP_VOLUME, opt.volume);
    for (int i = 0; i < n; i++) {
        const emplay_seqchannel& c = seq.channels[static_cast<size_t>(i)];
        em_setparam(sounds->sequencer, EMP_CHANNEL, i);
        const int channel = em_getparam(sounds->sequencer, EMP_CHANNELNODE);
        const int sample = em_loadsample(c.file.c_str());
        if (channel <= 0 || !sample) {
            fprintf(stderr, "emplay: can't load %s\n", c.file.c_str());
            return false;
        }
        em_setparam(channel, EMP_SAMPLE, sample);
        em_setparamp(channel, EMP_PATTERN, c.notes.data());
        em_setparam(channel, EMP_VOLUME, c.volume);
        em_setparam(channel, EMP_PAN, c.pan);
        em_setparam(channel, EMP_FLAGS, c.loop ? static_cast<int32_t>(EMF_LOOP) : 0);
    }
    em_setparam(sounds->sequencer, EMP_LENGTH, seq.duration);
    em_setparam(sounds->sequencer, EMP_RUN, 1);
    return true;
}

// ---------------------------------------------------------------------------
// 3-D demo
// ---------------------------------------------------------------------------

// Starts every WAV file as a looping 3-D voice; a fly-past moves by itself.
static bool emplay_start3d(const emplay_options& opt, emplay_sounds* sounds)
{
    sounds->sampler3d = em_createsampler3d(em_getroot(), -1);
    if (!sounds->sampler3d)
        return false;
    em_setparam(sounds->sampler3d, EMP_DEFVOLUME, opt.volume);
    em_setparam(sounds->sampler3d, EMP_DEFPITCH, static_cast<int32_t>(opt.pitch * 65536.0));
    uint32_t flags = EMF_LOOP;
    if (opt.mode3d == EMPLAY_FLYBY) {
        flags |= EMF_MOVING;
        em_setparam3f(sounds->sampler3d, EMP_POSITION3DB, EMPLAY_FLYSTART, 0.0f, -EMPLAY_FLYMISS);
        em_setparam3f(sounds->sampler3d, EMP_VELOCITY3DB, EMPLAY_FLYSPEED, 0.0f, 0.0f);
    }
    em_setparam(sounds->sampler3d, EMP_DEFFLAGS, static_cast<int32_t>(flags));
    for (const char* file : opt.files) {
        const int sample = em_loadsample(file);
        if (!sample) {
            fprintf(stderr, "emplay: can't load %s\n", file);
            return false;
        }
        const int voice = em_triggersample3d(sounds->sampler3d, sample);
        if (!voice)
            return false;
        sounds->voices.push_back(voice);
    }
    return true;
}

// Places circling voices for a time in seconds, evenly spread around the
// circle, with the velocity of their motion so that Doppler is heard.
static void emplay_move3d(const emplay_options& opt, const emplay_sounds& sounds, double seconds)
{
    if (opt.mode3d != EMPLAY_CIRCLE)
        return;
    const double n = static_cast<double>(sounds.voices.size());
    const double w = 2.0 * M_PI / EMPLAY_LAP;
    for (size_t i = 0; i < sounds.voices.size(); i++) {
        const double a = w * seconds + 2.0 * M_PI * static_cast<double>(i) / n;
        const float r = EMPLAY_RADIUS;
        em_setparam3f(sounds.voices[i], EMP_POSITION3D, r * static_cast<float>(sin(a)), 0.0f, -r * static_cast<float>(cos(a)));
        em_setparam3f(sounds.voices[i], EMP_VELOCITY3D, r * static_cast<float>(w * cos(a)), 0.0f,
                      r * static_cast<float>(w * sin(a)));
    }
}

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
    // a sequence plays for ever; 3-D voices loop until the time is up
    if (sounds.sequencer || em_getchild(sounds.sampler) != 0 || em_getchild(sounds.sampler3d) != 0)
        return true;
    for (const int music : sounds.music)
        if (em_getparam(music, EMP_STATE) > 0)
            return true;
    return false;
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
    const wavfile_format format = {1, 2, rate, 16};
    wavfile_writeheader(f, format, 0);
    std::vector<Uint8> buffer(static_cast<size_t>(emstate.samples) * 4);
    const double limit = opt.seconds > 0.0 ? opt.seconds * rate : 1e18;
    uint32_t databytes = 0;
    double frames = 0.0;
    while (emplay_playing(sounds) && frames < limit) {
        emplay_move3d(opt, sounds, frames / rate);
        em_audiocallback(nullptr, buffer.data(), static_cast<int>(buffer.size()));
        // samples in the buffer are little-endian signed 16-bit, as the file wants
        fwrite(buffer.data(), 1, buffer.size(), f);
        databytes += static_cast<uint32_t>(buffer.size());
        frames += emstate.samples;
    }
    rewind(f);
    wavfile_writeheader(f, format, databytes);
    return fclose(f) == 0 ? 0 : 1;
}

static void emplay_listen(const emplay_options& opt, const emplay_sounds& sounds)
{
    const uint32_t start = SDL_GetTicks();
    while (emplay_playing(sounds)) {
        const uint32_t ms = SDL_GetTicks() - start;
        if (opt.seconds > 0.0 && ms >= opt.seconds * 1000.0)
            break;
        emplay_move3d(opt, sounds, ms / 1000.0);
        SDL_Delay(20);
    }
}

int main(int argc, char** argv)
{
    emplay_options opt;
    if (!emplay_parse(argc, argv, &opt))
        return 2;
    emplay_sequence sequence;
    if (opt.sequence && !emplay_readsequence(opt.sequence, &sequence))
        return 1;
    if (opt.output)
        setenv("SDL_AUDIODRIVER", "dummy", 1); // the device only paces nothing here
    if (SDL_Init(0) < 0 || em_init() != 0) {
        fprintf(stderr, "emplay: couldn't start the audio engine\n");
        return 1;
    }
    if (opt.output) {
        SDL_PauseAudio(1);
        SDL_LockAudio(); // waits out a callback in flight
        SDL_UnlockAudio();
    }
    // Endless sounds get a default length: two passes, or one demo path.
    if (opt.seconds <= 0.0 && opt.sequence)
        opt.seconds = 2.0 * sequence.duration / emstate.freq;
    else if (opt.seconds <= 0.0 && opt.mode3d)
        opt.seconds = opt.mode3d == EMPLAY_CIRCLE ? 2.0 * EMPLAY_LAP : -2.0 * EMPLAY_FLYSTART / EMPLAY_FLYSPEED;
    emplay_sounds sounds;
    int status = 1;
    const bool started = opt.sequence ? emplay_startsequence(opt, sequence, &sounds)
                         : opt.mode3d ? emplay_start3d(opt, &sounds)
                                      : emplay_start(opt, &sounds);
    if (started) {
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
