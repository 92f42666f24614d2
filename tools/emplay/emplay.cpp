// emplay.cpp -- example player for the audio engine: WAV files through a
// sampler or as 3-D sources, Ogg Vorbis files through music nodes, step
// sequences from a text file, on the sound device or rendered into a WAV file
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SDL.h"
#include "em/em.h"
#include "emplay_progress.h"
#include "emplay_seq.h"
#include "wavfile.h"

enum {
    EMPLAY_OK = 0,      // exit status: played
    EMPLAY_FAILED = 1,  // exit status: a file could not be played or written
    EMPLAY_BADUSAGE = 2 // exit status: the command line is wrong
};

enum {
    EMPLAY_RATE = 44100,      // the engine's output rate, frames per second
    EMPLAY_CHUNK = 1024,      // frames rendered per call: the engine's own buffer, so that a sound's end is seen where it happens
    EMPLAY_MAXSECONDS = 86400 // -t: a day, well inside the engine's 32-bit sample clock (27 hours)
};

// Pitch factors stay below this: the engine multiplies a sample's rate step / 16
// by the 16.16 factor in 32 bits, which holds up to 8 x a sample at the output rate.
constexpr double EMPLAY_MAXPITCH = 8.0;
// Frames of 16-bit stereo that fit a WAV file's data chunk: 24347 s at 44100 Hz.
constexpr int64_t EMPLAY_MAXFRAMES = WAVFILE_MAXDATA / 4;
// A sound that never ends by itself (a loop, a sequence, a 3-D path).
constexpr int64_t EMPLAY_ENDLESS = INT64_MAX;
// The mixer's room, in volume x 256: a full-scale value times the volumes of all
// sounds on one side must fit the 32-bit mix buffers, where the engine also
// multiplies each node's buffer by its own volume (256) before dividing.
constexpr int64_t EMPLAY_HEADROOM = static_cast<int64_t>(EMPLAY_MAXVOLUME) * 256;

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

// Kinds of sound file, told by their first bytes: Ogg Vorbis plays as music
// (outside the 3-D paths and sequences), everything else goes to the sample
// bank through em_loadsound, which tells the format by the content.
enum { EMPLAY_SOUND = 1, EMPLAY_OGG = 2 };

struct emplay_options {
    int32_t volume = 256;           // 0..EMPLAY_MAXVOLUME, 256 = unity
    int32_t pan = 0;                // -128..128, WAV files through the sampler
    int32_t pitch = 0x10000;        // 16.16 pitch and speed factor, 1 .. EMPLAY_MAXPITCH x 65536 - 1
    const char* pitchtext = "1";    // the factor as given, for messages
    bool loop = false;              // every sound loops
    int64_t frames = 0;             // -t in output frames; 0: until the sounds end, or the default length
    const char* output = nullptr;   // render to this WAV file instead of the device
    const char* sequence = nullptr; // play this sequence file instead of files
    int mode3d = 0;                 // EMPLAY_CIRCLE or EMPLAY_FLYBY: WAV files as 3-D sources
    bool help = false;              // print the usage and do nothing else
    std::vector<const char*> files; // sound files to play
    std::vector<int> kinds;         // EMPLAY_SOUND or EMPLAY_OGG for each file
};

struct emplay_sounds {
    int sampler = 0;
    std::vector<int> music;
    int sampler3d = 0; // 3-D demo: the sampler and its voices
    std::vector<int> voices;
    int sequencer = 0;
    int64_t loudness = 0; // the sounds' volumes so far, in volume x 256, against EMPLAY_HEADROOM
    int64_t frames = 0;   // output frames until every sound has ended by itself, or EMPLAY_ENDLESS
};

static void emplay_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line on standard error: "emplay: " and the message.
static void emplay_error(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("emplay: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

static void emplay_usage(FILE* out)
{
    fprintf(out,
            "usage: emplay [options] file.wav|file.ogg ...\n"
            "       emplay [options] -3 circle|flyby file.wav ...\n"
            "       emplay [options] -s file.seq\n"
            "Plays WAV and Ogg Vorbis files (told apart by their first bytes) through the\n"
            "audio engine, on the sound device or into a WAV file.\n"
            "  -v volume   0..%d, 256 = unity (default 256)\n"
            "  -p pan      -%d left .. %d right, WAV files (default 0)\n"
            "  -r factor   pitch of WAV files and speed of Ogg files, from 1/65536 to below %g\n"
            "              (default 1)\n"
            "  -l          loop every sound\n"
            "  -t seconds  stop after this long, from 1/%d (one frame) to %d; needed\n"
            "              with -l when rendering\n"
            "  -o out.wav  render to a 16-bit stereo %d Hz WAV file instead of the sound\n"
            "              device; the format's 4 GiB hold at most %lld s\n"
            "  -3 path     play the WAV files as 3-D sources that circle the listener\n"
            "              (circle, default 6 s) or fly past in front (flyby, default 4 s)\n"
            "  -s file.seq play a step sequence file instead (default: two passes)\n"
            "  -h, --help  print this text\n"
            "Exit status: 0 played, 1 a file could not be played or written, 2 the command\n"
            "line is wrong.\n",
            EMPLAY_MAXVOLUME, EMPLAY_MAXPAN, EMPLAY_MAXPAN, EMPLAY_MAXPITCH, EMPLAY_RATE, EMPLAY_MAXSECONDS, EMPLAY_RATE,
            static_cast<long long>(EMPLAY_MAXFRAMES / EMPLAY_RATE));
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

// A finite decimal number making up all of text (no blanks, no "nan" or "inf").
static bool emplay_parsereal(const char* text, double* value)
{
    if (!((*text >= '0' && *text <= '9') || *text == '-' || *text == '+' || *text == '.') || strpbrk(text, "xX"))
        return false;
    char* end;
    const double v = strtod(text, &end);
    if (end == text || *end != 0 || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

static int emplay_badvalue(const char* option, const char* value, const char* format, ...) __attribute__((format(printf, 3, 4)));
// One line naming the option, what it takes and what it was given.
static int emplay_badvalue(const char* option, const char* value, const char* format, ...)
{
    char takes[160];
    va_list args;
    va_start(args, format);
    vsnprintf(takes, sizeof(takes), format, args);
    va_end(args);
    emplay_error("%s: %s, not '%s'", option, takes, value);
    return EMPLAY_BADUSAGE;
}

// Takes the value of option -<letter>; EMPLAY_OK, or EMPLAY_BADUSAGE after the line.
static int emplay_parsevalue(const char* option, const char* value, emplay_options* opt)
{
    double real = 0.0;
    switch (option[1]) {
    case 'v':
        if (!emplay_parseint(value, 0, EMPLAY_MAXVOLUME, &opt->volume))
            return emplay_badvalue(option, value, "volume must be a whole number 0..%d (256 = unity)", EMPLAY_MAXVOLUME);
        return EMPLAY_OK;
    case 'p':
        if (!emplay_parseint(value, -EMPLAY_MAXPAN, EMPLAY_MAXPAN, &opt->pan))
            return emplay_badvalue(option, value, "pan must be a whole number -%d..%d", EMPLAY_MAXPAN, EMPLAY_MAXPAN);
        return EMPLAY_OK;
    case 'r':
        // The factor becomes a 16.16 step of at least 1.
        if (!emplay_parsereal(value, &real) || real * 65536.0 < 1.0 || real >= EMPLAY_MAXPITCH)
            return emplay_badvalue(option, value, "factor must be a number from 1/65536 to below %g", EMPLAY_MAXPITCH);
        opt->pitch = static_cast<int32_t>(real * 65536.0);
        opt->pitchtext = value;
        return EMPLAY_OK;
    case 't':
        if (!emplay_parsereal(value, &real) || real * EMPLAY_RATE < 1.0 || real > EMPLAY_MAXSECONDS)
            return emplay_badvalue(option, value, "seconds must be a number from 1/%d (one frame) to %d", EMPLAY_RATE,
                                   EMPLAY_MAXSECONDS);
        opt->frames = std::llround(real * EMPLAY_RATE);
        return EMPLAY_OK;
    case 'o': opt->output = value; return EMPLAY_OK;
    case 's': opt->sequence = value; return EMPLAY_OK;
    default: // '3'
        opt->mode3d = !strcmp(value, "circle") ? EMPLAY_CIRCLE : !strcmp(value, "flyby") ? EMPLAY_FLYBY : 0;
        return opt->mode3d ? EMPLAY_OK : emplay_badvalue(option, value, "path must be circle or flyby");
    }
}

// Options that do not go together; EMPLAY_OK, or EMPLAY_BADUSAGE after a line.
static int emplay_checkoptions(const emplay_options& opt)
{
    const char* wrong = nullptr;
    if (opt.sequence && !opt.files.empty())
        wrong = "-s plays the sequence file alone, without other files";
    else if (opt.sequence && opt.mode3d)
        wrong = "-3 plays WAV files, not a sequence";
    else if (!opt.sequence && opt.files.empty())
        wrong = "nothing to play: give WAV or Ogg Vorbis files, or -s file.seq (emplay --help)";
    else if (opt.loop && opt.output && opt.frames == 0 && !opt.sequence && !opt.mode3d)
        wrong = "-l with -o needs -t: looping sounds never end";
    if (!wrong)
        return EMPLAY_OK;
    emplay_error("%s", wrong);
    return EMPLAY_BADUSAGE;
}

// Parses the command line; EMPLAY_OK (opt->help: print the usage), or
// EMPLAY_BADUSAGE after one line saying what is wrong.
static int emplay_parse(int argc, char** argv, emplay_options* opt)
{
    bool options = true;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (!options || arg[0] != '-' || arg[1] == 0) {
            opt->files.push_back(arg);
        } else if (!strcmp(arg, "--")) {
            options = false;
        } else if (!strcmp(arg, "-h") || !strcmp(arg, "--help")) {
            opt->help = true;
            return EMPLAY_OK;
        } else if (!strcmp(arg, "-l")) {
            opt->loop = true;
        } else if (arg[2] != 0 || !strchr("vprtos3", arg[1])) {
            emplay_error("unknown option %s (emplay --help lists them)", arg);
            return EMPLAY_BADUSAGE;
        } else if (i + 1 == argc) {
            emplay_error("%s needs a value (emplay --help)", arg);
            return EMPLAY_BADUSAGE;
        } else if (emplay_parsevalue(arg, argv[++i], opt) != EMPLAY_OK) {
            return EMPLAY_BADUSAGE;
        }
    }
    return emplay_checkoptions(*opt);
}

// ---------------------------------------------------------------------------
// Input files, checked before the engine sees them
// ---------------------------------------------------------------------------

// The kind of a sound file by its first bytes; 0 with the reason in why when it
// cannot be read.
static int emplay_filekind(const char* path, std::string* why)
{
    FILE* file = fopen(path, "rb");
    if (!file) {
        *why = strerror(errno);
        return 0;
    }
    uint8_t head[12];
    const size_t n = fread(head, 1, sizeof(head), file);
    const int error = ferror(file) ? errno : 0;
    fclose(file);
    if (error) {
        *why = strerror(error);
        return 0;
    }
    return n >= 4 && !memcmp(head, "OggS", 4) ? EMPLAY_OGG : EMPLAY_SOUND;
}

// The kind of a file to play, or 0 after a line saying why it cannot be read.
// where is put before the file's name ("" or "beat.seq:7: "); a name a
// sequence gives is shown escaped.
static int emplay_checkfile(const std::string& where, const char* path)
{
    std::string why;
    const int kind = emplay_filekind(path, &why);
    if (!kind)
        emplay_error("%s%s: %s", where.c_str(), emplay_escape(path).c_str(), why.c_str());
    return kind;
}

// "file:line: " before the name of a file that a sequence line names.
static std::string emplay_seqwhere(const char* path, int32_t line)
{
    return std::string(path) + ":" + std::to_string(line) + ": ";
}

// Reads the sequence file and checks every sound file; false after a line.
static bool emplay_readinputs(emplay_options* opt, emplay_sequence* seq)
{
    if (opt->sequence) {
        emplay_seqerror error;
        if (!emplay_readsequence(opt->sequence, seq, &error)) {
            if (error.line > 0)
                emplay_error("%s:%d: %s", opt->sequence, error.line, error.reason.c_str());
            else
                emplay_error("%s: %s", opt->sequence, error.reason.c_str());
            return false;
        }
        for (const emplay_seqchannel& ch : seq->channels)
            if (!emplay_checkfile(emplay_seqwhere(opt->sequence, ch.line), ch.file.c_str()))
                return false;
    }
    for (const char* file : opt->files) {
        const int kind = emplay_checkfile("", file);
        if (!kind)
            return false;
        opt->kinds.push_back(opt->mode3d ? EMPLAY_SOUND : kind); // the 3-D paths play every file from the bank
    }
    return true;
}

// True after a line when the output file is one of the files to play (by any
// name): rendering would destroy what it reads.
static bool emplay_outputisinput(const emplay_options& opt, const emplay_sequence& seq)
{
    struct stat out;
    if (!opt.output || stat(opt.output, &out) != 0)
        return false;
    std::vector<std::string> inputs(opt.files.begin(), opt.files.end());
    if (opt.sequence)
        inputs.push_back(opt.sequence);
    for (const emplay_seqchannel& ch : seq.channels)
        inputs.push_back(ch.file);
    for (const std::string& path : inputs) {
        struct stat in;
        if (stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            emplay_error("%s: the output is also a file to play", opt.output);
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Engine and sounds
// ---------------------------------------------------------------------------

// Starts the engine, without a device when rendering; false after a line.
static bool emplay_startengine(bool offline)
{
    if (offline) {
        if (em_initoffline() == 0)
            return true;
        emplay_error("the audio engine did not start");
        return false;
    }
    if (SDL_Init(0) < 0 || em_init() != 0) {
        emplay_error("no sound device: %s (render to a file with -o instead)", SDL_GetError());
        SDL_Quit();
        return false;
    }
    return true;
}

static bool emplay_nonode(const char* what)
{
    emplay_error("the audio engine could not make %s", what);
    return false;
}

// How the sounds' shares of the mixer's room add up, for the message.
const char* const EMPLAY_SAMPLERULE = "volume times channels, added over the sounds";
const char* const EMPLAY_SEQRULE = "the channels' volumes times -v / 256, added";

// Counts a sound's share of the mixer's room (volume x 256 per side); false
// after a line naming the file when the sounds together could overflow the mix.
static bool emplay_addloudness(emplay_sounds* sounds, const char* file, int64_t loudness, const char* rule)
{
    sounds->loudness += loudness;
    if (sounds->loudness <= EMPLAY_HEADROOM)
        return true;
    emplay_error("%s: too loud for the mixer (%s, must stay at or below %lld)", file, rule,
                 static_cast<long long>(EMPLAY_HEADROOM / 256));
    return false;
}

// Sounds that end by themselves end at the latest of their ends.
static void emplay_lengthen(emplay_sounds* sounds, int64_t frames)
{
    sounds->frames = std::max(sounds->frames, frames);
}

// Loads a sound file of any format the engine reads into the sample bank; its
// handle, or 0 after a line.
static int emplay_loadsound(const std::string& where, const char* path)
{
    const int sample = em_loadsound(path);
    if (!sample)
        emplay_error("%s%s: %s", where.c_str(), emplay_escape(path).c_str(), em_sampleerror());
    return sample;
}

// The 16.16 step that a sampler or 3-D sampler gives a voice of this sample at
// the pitch factor: the sample's rate step / 16 times the factor, a product
// that must fit 32 bits, / 4096. 0 after a line when the product would not fit
// or the voice would never move.
static int64_t emplay_voicestep(const char* path, int sample, const emplay_options& opt)
{
    const em_sample* s = em_getsample(sample);
    const int64_t product = static_cast<int64_t>(s->step >> 4) * opt.pitch;
    if (product > INT32_MAX) {
        emplay_error("%s: -r %s is too fast for this %d Hz sample (rate times factor must stay below %d Hz)", path, opt.pitchtext,
                     s->rate, static_cast<int>(EMPLAY_MAXPITCH * EMPLAY_RATE));
        return 0;
    }
    if (product >> 12 == 0)
        emplay_error("%s: -r %s is too slow for this %d Hz sample: it would never move", path, opt.pitchtext, s->rate);
    return product >> 12;
}

// Output frames that length source frames last at a 16.16 step.
static int64_t emplay_stepframes(int64_t length, int64_t step)
{
    return (length * 65536 + step - 1) / step;
}

static bool emplay_startsample(const emplay_options& opt, const char* file, emplay_sounds* sounds)
{
    const int sample = emplay_loadsound("", file);
    if (!sample)
        return false;
    const em_sample* s = em_getsample(sample);
    const int64_t step = emplay_voicestep(file, sample, opt);
    if (!step || !emplay_addloudness(sounds, file, static_cast<int64_t>(opt.volume) * s->channels * 256, EMPLAY_SAMPLERULE))
        return false;
    if (!em_triggersample(sounds->sampler, sample)) {
        emplay_error("%s: the audio engine has no voice free", file);
        return false;
    }
    emplay_lengthen(sounds, opt.loop ? EMPLAY_ENDLESS : emplay_stepframes(s->length, step));
    return true;
}

static bool emplay_startmusic(const emplay_options& opt, const char* file, emplay_sounds* sounds)
{
    if (!emplay_addloudness(sounds, file, static_cast<int64_t>(opt.volume) * 256, EMPLAY_SAMPLERULE))
        return false;
    const int music = em_createoggmusic(em_getroot());
    if (!music)
        return emplay_nonode("a music node");
    sounds->music.push_back(music);
    em_setparam(music, EMP_VOLUME, opt.volume);
    em_setparam(music, EMP_PITCH, opt.pitch);
    if (em_playoggmusic(music, file) != 0) {
        emplay_error("%s: not an Ogg Vorbis stream the engine plays", file);
        return false;
    }
    if (!opt.loop)
        em_setparam(music, EMP_STATE, 3);
    const int32_t step = em_getparam(music, EMP_PITCH);
    if (step <= 0) {
        emplay_error("%s: -r %s is too slow for this %d Hz stream: it would never move", file, opt.pitchtext,
                     em_getparam(music, EMP_RATE));
        return false;
    }
    // A stream whose length the decoder cannot tell adds nothing to the plan.
    const int32_t length = em_getparam(music, EMP_LENGTH);
    emplay_lengthen(sounds, opt.loop ? EMPLAY_ENDLESS : length > 0 ? emplay_stepframes(length, step) : 0);
    return true;
}

// Starts every file, WAV files through one sampler; false after a line.
static bool emplay_start(const emplay_options& opt, emplay_sounds* sounds)
{
    sounds->sampler = em_createsampler(em_getroot(), -1);
    if (!sounds->sampler)
        return emplay_nonode("a sampler");
    em_setparam(sounds->sampler, EMP_DEFVOLUME, opt.volume);
    em_setparam(sounds->sampler, EMP_DEFPAN, opt.pan);
    em_setparam(sounds->sampler, EMP_DEFPITCH, opt.pitch);
    em_setparam(sounds->sampler, EMP_LOOP, opt.loop ? 1 : 0);
    for (size_t i = 0; i < opt.files.size(); i++) {
        const bool started = opt.kinds[i] == EMPLAY_OGG ? emplay_startmusic(opt, opt.files[i], sounds)
                                                        : emplay_startsample(opt, opt.files[i], sounds);
        if (!started)
            return false;
    }
    return true;
}

// Starts the sequence: one channel per line, its sample, notes, level and loop.
static bool emplay_startsequence(const emplay_options& opt, const emplay_sequence& seq, emplay_sounds* sounds)
{
    for (const emplay_seqchannel& c : seq.channels)
        if (!emplay_addloudness(sounds, opt.sequence, static_cast<int64_t>(c.volume) * opt.volume, EMPLAY_SEQRULE))
            return false;
    const int n = static_cast<int>(seq.channels.size());
    sounds->sequencer = em_createsequencer(em_getroot(), n, seq.steps);
    if (!sounds->sequencer)
        return emplay_nonode("a sequencer");
    em_setparam(sounds->sequencer, EMP_VOLUME, opt.volume);
    for (int i = 0; i < n; i++) {
        const emplay_seqchannel& c = seq.channels[static_cast<size_t>(i)];
        const int sample = emplay_loadsound(emplay_seqwhere(opt.sequence, c.line), c.file.c_str());
        if (!sample)
            return false;
        em_setparam(sounds->sequencer, EMP_CHANNEL, i);
        const int channel = em_getparam(sounds->sequencer, EMP_CHANNELNODE);
        if (channel <= 0)
            return emplay_nonode("a sequencer channel");
        em_setparam(channel, EMP_SAMPLE, sample);
        em_setparamp(channel, EMP_PATTERN, c.notes.data());
        em_setparam(channel, EMP_VOLUME, c.volume);
        em_setparam(channel, EMP_PAN, c.pan);
        em_setparam(channel, EMP_FLAGS, c.loop ? static_cast<int32_t>(EMF_LOOP) : 0);
    }
    em_setparam(sounds->sequencer, EMP_LENGTH, seq.duration);
    em_setparam(sounds->sequencer, EMP_RUN, 1);
    sounds->frames = EMPLAY_ENDLESS;
    return true;
}

// Starts every WAV file as a looping 3-D voice; a fly-past moves by itself.
static bool emplay_start3d(const emplay_options& opt, emplay_sounds* sounds)
{
    sounds->sampler3d = em_createsampler3d(em_getroot(), -1);
    if (!sounds->sampler3d)
        return emplay_nonode("a 3-D sampler");
    em_setparam(sounds->sampler3d, EMP_DEFVOLUME, opt.volume);
    em_setparam(sounds->sampler3d, EMP_DEFPITCH, opt.pitch);
    uint32_t flags = EMF_LOOP;
    if (opt.mode3d == EMPLAY_FLYBY) {
        flags |= EMF_MOVING;
        em_setparam3f(sounds->sampler3d, EMP_POSITION3DB, EMPLAY_FLYSTART, 0.0f, -EMPLAY_FLYMISS);
        em_setparam3f(sounds->sampler3d, EMP_VELOCITY3DB, EMPLAY_FLYSPEED, 0.0f, 0.0f);
    }
    em_setparam(sounds->sampler3d, EMP_DEFFLAGS, static_cast<int32_t>(flags));
    for (const char* file : opt.files) {
        // A 3-D voice gives each side one value of the sample at the voice's gain.
        const int sample = emplay_loadsound("", file);
        if (!sample || !emplay_voicestep(file, sample, opt) ||
            !emplay_addloudness(sounds, file, static_cast<int64_t>(opt.volume) * 256, EMPLAY_SAMPLERULE))
            return false;
        const int voice = em_triggersample3d(sounds->sampler3d, sample);
        if (!voice) {
            emplay_error("%s: the audio engine has no voice free", file);
            return false;
        }
        sounds->voices.push_back(voice);
    }
    sounds->frames = EMPLAY_ENDLESS;
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

// Frames after which playing stops whatever still sounds: -t, else two passes
// of a sequence or one 3-D path; 0 when the sounds alone decide.
static int64_t emplay_limit(const emplay_options& opt, const emplay_sequence& seq)
{
    if (opt.frames > 0)
        return opt.frames;
    if (opt.sequence)
        return 2 * static_cast<int64_t>(seq.duration);
    if (opt.mode3d)
        return std::llround(EMPLAY_RATE *
                            (opt.mode3d == EMPLAY_CIRCLE ? 2.0 * EMPLAY_LAP : -2.0 * EMPLAY_FLYSTART / EMPLAY_FLYSPEED));
    return 0;
}

// ---------------------------------------------------------------------------
// Rendering into a WAV file
// ---------------------------------------------------------------------------

static volatile sig_atomic_t emplay_signal = 0; // the signal that interrupted a render, 0 none

static void emplay_onsignal(int sig)
{
    emplay_signal = sig;
}

// Lets SIGINT, SIGTERM and SIGHUP end a render cleanly (on) or at once (off),
// except those the caller has us ignore.
static void emplay_catchsignals(bool on)
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now;
        if (sigaction(sig, nullptr, &now) != 0 || now.sa_handler == SIG_IGN)
            continue;
        struct sigaction act = {};
        act.sa_handler = on ? emplay_onsignal : SIG_DFL;
        act.sa_flags = SA_RESTART; // a write to a pipe goes on; the render loop sees the signal
        sigemptyset(&act.sa_mask);
        sigaction(sig, &act, nullptr);
    }
}

// The engine's lines while the WAV goes to standard output: its errors and
// warnings to standard error, so that the file stays whole; its notes (the
// allocation report) are dropped.
static void emplay_logtostderr(int level, const char* line, void* user)
{
    (void)user;
    if (level != EM_LOGINFO)
        fprintf(stderr, "%s\n", line);
}

// Drops the engine's line about a failed write: emplay reports it in its own words.
static void emplay_logdrop(int level, const char* line, void* user)
{
    (void)level, (void)line, (void)user;
}

// The path em_writewav writes for the -o argument: "-" is standard output.
static const char* emplay_outputpath(const char* output)
{
    return strcmp(output, "-") == 0 ? "/dev/stdout" : output;
}

// Writes the rendered frames as the output file; false after a line.
static bool emplay_writeoutput(const emplay_options& opt, const std::vector<int16_t>& values)
{
    const bool tostdout = strcmp(opt.output, "-") == 0;
    em_setlogfunc(emplay_logdrop, nullptr);
    const int written =
        em_writewav(emplay_outputpath(opt.output), values.data(), static_cast<int32_t>(values.size() / 2), 2, EMPLAY_RATE);
    const int error = errno;
    em_setlogfunc(tostdout ? emplay_logtostderr : nullptr, nullptr);
    if (written != 0)
        emplay_error("%s: %s", tostdout ? "standard output" : opt.output, strerror(error));
    return written == 0;
}

// Renders the sounds, frame-exact to the limit, while they play, then writes
// them as the output file; the render is refused before it starts when it
// would not fit the file.
static int emplay_render(const emplay_options& opt, const emplay_sounds& sounds, int64_t limit)
{
    // A sound is heard to the end of the engine buffer in which it ends.
    const int64_t sounding =
        sounds.frames == EMPLAY_ENDLESS ? EMPLAY_ENDLESS : (sounds.frames + EMPLAY_CHUNK - 1) / EMPLAY_CHUNK * EMPLAY_CHUNK;
    const int64_t expected = limit > 0 ? std::min(limit, sounding) : sounding;
    if (expected > EMPLAY_MAXFRAMES) {
        emplay_error("%s: %.1f s of sound would pass the WAV format's 4 GiB limit (%.1f s); shorten it with -t", opt.output,
                     static_cast<double>(expected) / EMPLAY_RATE, static_cast<double>(EMPLAY_MAXFRAMES) / EMPLAY_RATE);
        return EMPLAY_FAILED;
    }
    emplay_catchsignals(true);
    emplay_progress progress;
    emplay_progressbegin(&progress, isatty(fileno(stderr)) ? stderr : nullptr, opt.output, expected, EMPLAY_RATE, emplay_nowms());
    const int64_t end = limit > 0 ? std::min(limit, EMPLAY_MAXFRAMES) : EMPLAY_MAXFRAMES;
    std::vector<int16_t> values;
    int64_t done = 0;
    bool failed = false;
    while (done < end && emplay_playing(sounds) && !emplay_signal && !failed) {
        emplay_move3d(opt, sounds, static_cast<double>(done) / EMPLAY_RATE);
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(EMPLAY_CHUNK, end - done));
        values.resize(2 * static_cast<size_t>(done + n));
        failed = em_render(&values[2 * static_cast<size_t>(done)], n) != n;
        done += n;
        emplay_progressupdate(&progress, done, emplay_nowms());
    }
    emplay_progressend(&progress, done);
    emplay_catchsignals(false);
    if (failed)
        emplay_error("%s: the audio engine stopped rendering", opt.output);
    else if (emplay_signal)
        emplay_error("%s: interrupted", opt.output);
    if (failed || emplay_signal || !emplay_writeoutput(opt, values))
        return EMPLAY_FAILED;
    // Sounds that outlast their estimate still end at the format's limit.
    const bool cut = done == EMPLAY_MAXFRAMES && (limit == 0 || limit > EMPLAY_MAXFRAMES) && emplay_playing(sounds);
    if (cut)
        emplay_error("%s: the sounds go on past the WAV format's 4 GiB limit; the file holds their first %.1f s", opt.output,
                     static_cast<double>(done) / EMPLAY_RATE);
    return cut ? EMPLAY_FAILED : EMPLAY_OK;
}

// Plays on the sound device until the sounds end or the limit is reached.
static int emplay_listen(const emplay_options& opt, const emplay_sounds& sounds, int64_t limit)
{
    const uint32_t start = SDL_GetTicks();
    while (emplay_playing(sounds)) {
        const uint32_t ms = SDL_GetTicks() - start;
        if (limit > 0 && ms >= limit * 1000 / EMPLAY_RATE)
            break;
        emplay_move3d(opt, sounds, ms / 1000.0);
        SDL_Delay(20);
    }
    return EMPLAY_OK;
}

int main(int argc, char** argv)
{
    emplay_options opt;
    int status = emplay_parse(argc, argv, &opt);
    if (status != EMPLAY_OK)
        return status;
    if (opt.help) {
        emplay_usage(stdout);
        if (fflush(stdout) == 0)
            return EMPLAY_OK;
        emplay_error("standard output: %s", strerror(errno));
        return EMPLAY_FAILED;
    }
    emplay_sequence sequence;
    // Writing the WAV to standard output, the engine's own lines go to standard error.
    if (opt.output && strcmp(opt.output, "-") == 0)
        em_setlogfunc(emplay_logtostderr, nullptr);
    if (!emplay_readinputs(&opt, &sequence) || emplay_outputisinput(opt, sequence) || !emplay_startengine(opt.output != nullptr))
        return EMPLAY_FAILED;
    emplay_sounds sounds;
    const bool started = opt.sequence ? emplay_startsequence(opt, sequence, &sounds)
                         : opt.mode3d ? emplay_start3d(opt, &sounds)
                                      : emplay_start(opt, &sounds);
    status = EMPLAY_FAILED;
    if (started) {
        const int64_t limit = emplay_limit(opt, sequence);
        status = opt.output ? emplay_render(opt, sounds, limit) : emplay_listen(opt, sounds, limit);
    }
    em_deinit();
    if (!opt.output)
        SDL_Quit();
    if (emplay_signal) {
        // Ends the way the signal would have ended it, for the caller to see.
        signal(emplay_signal, SIG_DFL);
        raise(emplay_signal);
    }
    return status;
}
