// sequence.cpp -- example: drives the step sequencer from patterns, one channel
// per pattern, all playing one WAV file at the patterns' notes; on the sound
// device, or with --render offline into a WAV file
//   usage: sequence [--render out.wav] [--passes N] sample.wav [pattern ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "em/em.h"

enum {
    SEQUENCE_OK = 0,     // exit status: played or rendered
    SEQUENCE_FAILED = 1, // a file could not be read or written, or there is no sound device
    SEQUENCE_USAGE = 2   // the command line is wrong
};

enum {
    SEQUENCE_STEPFRAMES = 11025, // one step: a quarter of a second at 44100 Hz
    SEQUENCE_MAXSTEPS = 64,      // steps in a pattern (the engine takes any number from 1)
    SEQUENCE_MAXPASSES = 100,
    SEQUENCE_CHUNK = 1024, // frames per em_render call
    SEQUENCE_RATE = 44100  // frames per second: the rate em_render delivers
};

// A pattern is one byte per step: a note number 12..127 starts the sample at
// that note (69 at the sample's own pitch, 81 an octave up, 57 an octave
// down), any other value lets the channel go on. These two play when the
// command line gives none.
static const char* const sequence_defaults[] = {"69 . 72 . 76 . 72 .", "57 . . . 52 . . ."};

static int sequence_usage()
{
    fprintf(stderr,
            "usage: sequence [--render out.wav] [--passes N] sample.wav [pattern ...]\n"
            "Plays sample.wav through a step sequencer, one channel per pattern (at most %d),\n"
            "on the sound device or, with --render, into a 16-bit stereo 44100 Hz WAV file.\n"
            "A pattern is one word per step (at most %d, the same number in every pattern):\n"
            "a note number 12..127 (69 plays the sample at its own pitch) or '.' for none.\n"
            "Each step lasts a quarter of a second; N passes of the pattern play (1 to %d,\n"
            "default 2). Without patterns: \"%s\" and \"%s\".\n",
            EM_SEQCHANNELS, SEQUENCE_MAXSTEPS, SEQUENCE_MAXPASSES, sequence_defaults[0], sequence_defaults[1]);
    return SEQUENCE_USAGE;
}

// The number of passes that text gives, or 0 when it is not a whole number in range.
static int sequence_passes(const char* text)
{
    char* end;
    const long n = strtol(text, &end, 10);
    return end != text && *end == 0 && n >= 1 && n <= SEQUENCE_MAXPASSES ? static_cast<int>(n) : 0;
}

// Reads a pattern's words into notes; false after a line saying what is wrong.
static bool sequence_parse(const char* text, int index, std::vector<int8_t>* notes)
{
    std::vector<char> words(text, text + strlen(text) + 1);
    for (char* word = strtok(words.data(), " \t"); word; word = strtok(nullptr, " \t")) {
        char* end;
        const long note = strtol(word, &end, 10);
        if (!strcmp(word, ".")) {
            notes->push_back(0);
        } else if (end != word && *end == 0 && note >= 12 && note <= 127) {
            notes->push_back(static_cast<int8_t>(note));
        } else {
            fprintf(stderr, "sequence: pattern %d, step %zu: '%s' is not a note 12..127 or '.'\n", index + 1, notes->size() + 1,
                    word);
            return false;
        }
    }
    if (notes->empty() || notes->size() > SEQUENCE_MAXSTEPS) {
        fprintf(stderr, "sequence: pattern %d has %zu steps, not 1 to %d\n", index + 1, notes->size(), SEQUENCE_MAXSTEPS);
        return false;
    }
    return true;
}

// Renders the passes and writes them out.
static int sequence_render(const char* output, int32_t frames)
{
    std::vector<int16_t> values(2 * static_cast<size_t>(frames));
    for (int32_t done = 0; done < frames; done += SEQUENCE_CHUNK) {
        const int32_t n = frames - done < SEQUENCE_CHUNK ? frames - done : SEQUENCE_CHUNK;
        em_render(&values[2 * static_cast<size_t>(done)], n);
    }
    // A file that cannot be written is reported by the engine's own line.
    if (em_writewav(output, values.data(), frames, 2, SEQUENCE_RATE) != 0)
        return SEQUENCE_FAILED;
    printf("%s: %d frames of 16-bit stereo at %d Hz\n", output, frames, SEQUENCE_RATE);
    return SEQUENCE_OK;
}

// Waits while the device plays the passes, by the engine's sample clock.
static int sequence_listen(uint32_t start, int32_t frames)
{
    while (em_getsampleclock() - start < static_cast<uint32_t>(frames))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return SEQUENCE_OK;
}

int main(int argc, char** argv)
{
    const char* output = nullptr;
    const char* sample = nullptr;
    int passes = 2;
    std::vector<const char*> texts;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--render") && i + 1 < argc)
            output = argv[++i];
        else if (!strcmp(argv[i], "--passes") && i + 1 < argc)
            passes = sequence_passes(argv[++i]);
        else if (argv[i][0] == '-')
            return sequence_usage();
        else if (!sample)
            sample = argv[i];
        else
            texts.push_back(argv[i]);
    }
    if (!sample || passes == 0 || texts.size() > EM_SEQCHANNELS)
        return sequence_usage();
    if (texts.empty())
        texts.assign(std::begin(sequence_defaults), std::end(sequence_defaults));
    std::vector<std::vector<int8_t>> patterns(texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        if (!sequence_parse(texts[i], static_cast<int>(i), &patterns[i]))
            return SEQUENCE_USAGE;
        if (patterns[i].size() != patterns[0].size()) {
            fprintf(stderr, "sequence: pattern %zu has %zu steps, pattern 1 has %zu\n", i + 1, patterns[i].size(),
                    patterns[0].size());
            return SEQUENCE_USAGE;
        }
    }
    const int steps = static_cast<int>(patterns[0].size());
    const int32_t duration = steps * SEQUENCE_STEPFRAMES; // one pass, output frames
    const int32_t frames = passes * duration;

    const int started = output ? em_initoffline() : em_init();
    if (started != 0) {
        fprintf(stderr, "sequence: no sound device (em_init gave %d); --render out.wav renders to a file\n", started);
        return SEQUENCE_FAILED;
    }
    const int bank = em_loadsample(sample);
    if (!bank) {
        fprintf(stderr, "sequence: %s: %s\n", sample, em_sampleerror());
        em_deinit();
        return SEQUENCE_FAILED;
    }

    // The sequencer makes its channels with it, one node each; it is stopped,
    // with its clock already running from 0.
    const int channels = static_cast<int>(patterns.size());
    const int sequencer = em_createsequencer(em_getroot(), channels, steps);
    int status = sequencer ? SEQUENCE_OK : SEQUENCE_FAILED;
    for (int i = 0; i < channels && status == SEQUENCE_OK; i++) {
        // Select channel i to learn the handle of its node, then give the
        // channel its sample and its pattern (the engine copies steps bytes).
        em_setparam(sequencer, EMP_CHANNEL, i);
        const int channel = em_getparam(sequencer, EMP_CHANNELNODE);
        if (channel <= 0 || em_setparam(channel, EMP_SAMPLE, bank) != 0 ||
            em_setparamp(channel, EMP_PATTERN, patterns[static_cast<size_t>(i)].data()) != 0)
            status = SEQUENCE_FAILED;
    }
    if (status != SEQUENCE_OK) {
        fprintf(stderr, "sequence: the audio engine could not make the sequencer\n");
        em_deinit();
        return status;
    }
    // The tempo is the length of one pass in output frames: step k starts at
    // frame k x duration / steps of every pass. Running makes every step that
    // begins from now on start its note at its first frame.
    em_setparam(sequencer, EMP_LENGTH, duration);
    const uint32_t start = em_getsampleclock();
    em_setparam(sequencer, EMP_RUN, 1);

    status = output ? sequence_render(output, frames) : sequence_listen(start, frames);
    em_deinit(); // the engine's allocation report, on standard output
    return status;
}
