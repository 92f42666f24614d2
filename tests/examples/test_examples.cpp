// test_examples.cpp -- runs the engine's example programs offline (and on SDL's
// dummy device) on WAV files written here and checks what they render: exact
// lengths and headers, each value of a plain playback, the sides and the pitch
// of the fly-by, the frames where the sequencer's notes start; and their exit
// status and message for bad command lines and files. Every run has a time
// limit that only a hang reaches.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tools/emplay/wavfile.h"

namespace {

// What a program run gave back.
struct extest_run {
    int status = -1; // exit status; 124 from timeout when the run hung
    std::string out, err;
};

std::string extest_slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The folder of this test program's files, made once.
const std::string& extest_dir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/extest.XXXXXX";
        return std::string(mkdtemp(pattern) ? pattern : "");
    }();
    return dir;
}

std::string extest_path(const std::string& name)
{
    return extest_dir() + "/" + name;
}

// Runs program with args in the test folder, after the shell words in env.
extest_run extest_exec(const char* program, const std::vector<std::string>& args, const std::string& env = "")
{
    std::string line = "cd " + extest_dir() + " && " + env + " timeout -k 5 60 " + program;
    for (const std::string& arg : args)
        line += " '" + arg + "'";
    line += " >run.out 2>run.err";
    const int raw = system(line.c_str());
    extest_run run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = extest_slurp(extest_path("run.out"));
    run.err = extest_slurp(extest_path("run.err"));
    return run;
}

// Writes a 16-bit WAV file of interleaved values.
void extest_wav(const std::string& name, uint16_t channels, uint32_t rate, const std::vector<int16_t>& values)
{
    std::vector<uint8_t> bytes(values.size() * 2);
    for (size_t i = 0; i < values.size(); i++)
        wavfile_put(&bytes[2 * i], static_cast<uint16_t>(values[i]), 2);
    const wavfile_format format = {1, channels, rate, 16};
    ASSERT_TRUE(wavfile_write(extest_path(name).c_str(), format, bytes.data(), static_cast<uint32_t>(bytes.size())));
}

// The values of a rendered file, after checking that its header is the one of
// 16-bit stereo at 44100 Hz whose lengths match the bytes that follow.
std::vector<int16_t> extest_rendered(const std::string& name)
{
    const std::string file = extest_slurp(extest_path(name));
    std::vector<int16_t> values;
    if (file.size() < WAVFILE_HEADERBYTES) {
        ADD_FAILURE() << name << " holds " << file.size() << " bytes";
        return values;
    }
    uint8_t header[WAVFILE_HEADERBYTES];
    wavfile_header(header, {1, 2, 44100, 16}, static_cast<uint32_t>(file.size() - WAVFILE_HEADERBYTES));
    EXPECT_EQ(file.compare(0, WAVFILE_HEADERBYTES, reinterpret_cast<const char*>(header), WAVFILE_HEADERBYTES), 0)
        << name << ": not the header of its data";
    for (size_t at = WAVFILE_HEADERBYTES; at + 1 < file.size(); at += 2)
        values.push_back(static_cast<int16_t>(static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1]) << 8));
    return values;
}

// The engine's allocation report, which ends every run that started it: nothing is left allocated.
const std::string extest_report = "Max bytes allocated during run: [0-9]+\nBytes left allocated at io_deinit: 0\n";

void extest_expectout(const extest_run& run, const std::string& lines)
{
    EXPECT_TRUE(std::regex_match(run.out, std::regex(lines + extest_report))) << run.out;
}

// Runs a program that renders into output: it must succeed without a word on
// standard error, print lines (a pattern) and the engine's report, and write
// frames frames. Their values, or none when anything of that failed.
std::vector<int16_t> extest_render(const char* program, const std::vector<std::string>& args, const std::string& output,
                                   const std::string& lines, size_t frames)
{
    const extest_run run = extest_exec(program, args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    extest_expectout(run, lines);
    std::vector<int16_t> values = extest_rendered(output);
    EXPECT_EQ(values.size(), 2 * frames) << output;
    if (run.status != 0 || values.size() != 2 * frames)
        values.clear();
    return values;
}

// The sum of squares of one side (0 left, 1 right) over frames [from, to).
double extest_energy(const std::vector<int16_t>& v, size_t side, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t f = from; f < to; f++)
        sum += static_cast<double>(v[2 * f + side]) * v[2 * f + side];
    return sum;
}

// Sign changes of one side over frames [from, to): twice the frequency heard, times the time.
int extest_crossings(const std::vector<int16_t>& v, size_t side, size_t from, size_t to)
{
    int n = 0;
    for (size_t f = from + 1; f < to; f++)
        n += (v[2 * f + side] < 0) != (v[2 * (f - 1) + side] < 0);
    return n;
}

// A bad command line, or a file that cannot be used: the status, and standard
// error's one line (a pattern).
struct extest_refusal {
    std::vector<std::string> args;
    int status;
    std::string err;
};

void extest_refusals(const char* program, const std::vector<extest_refusal>& table)
{
    for (const extest_refusal& r : table) {
        std::string shown;
        for (const std::string& arg : r.args)
            shown += " " + arg;
        SCOPED_TRACE(program + shown);
        const extest_run run = extest_exec(program, r.args);
        EXPECT_EQ(run.status, r.status);
        EXPECT_TRUE(std::regex_match(run.err, std::regex(r.err))) << run.err;
        // A file that fails comes after the engine started: it still frees everything.
        if (r.status == 1) {
            EXPECT_TRUE(std::regex_search(run.out, std::regex(extest_report + "$"))) << run.out;
        }
    }
}

class Examples : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(extest_dir().empty());
        std::vector<int16_t> saw, half, stereo, tone, blip;
        // Every 16-bit value's neighbourhood, odd and negative ones included.
        for (int i = 0; i < 3000; i++)
            saw.push_back(static_cast<int16_t>((i * 997) % 65536 - 32768));
        for (int i = 0; i < 1000; i++)
            half.push_back(static_cast<int16_t>(i * 31 - 15000));
        // Both sides within the range the output limiter leaves as it is.
        for (int i = 0; i < 1500; i++) {
            stereo.push_back(static_cast<int16_t>(i * 7 - 5000));
            stereo.push_back(static_cast<int16_t>(9000 - i * 11));
        }
        // 441 Hz: 100 frames a period, so the loop has no seam.
        for (int i = 0; i < 4410; i++)
            tone.push_back(static_cast<int16_t>(std::lround(12000.0 * std::sin(2.0 * M_PI * i / 100.0))));
        // No zero anywhere, so that silence and sound can be told apart at every frame.
        for (int i = 0; i < 3000; i++)
            blip.push_back(static_cast<int16_t>(3001 + (i * 37) % 4000));
        extest_wav("saw.wav", 1, 44100, saw);
        extest_wav("half.wav", 1, 22050, half);
        extest_wav("stereo.wav", 2, 44100, stereo);
        extest_wav("tone.wav", 1, 44100, tone);
        extest_wav("blip.wav", 1, 44100, blip);
        extest_wav("short.wav", 1, 44100, std::vector<int16_t>(blip.begin(), blip.begin() + 2205));
        std::ofstream(extest_path("text.txt")) << "not a sound\n";
    }
    static void TearDownTestSuite()
    {
        const std::string command = "rm -rf " + extest_dir();
        EXPECT_EQ(system(command.c_str()), 0);
    }
    // The mono test file's value at a frame.
    static int16_t saw(int i) { return static_cast<int16_t>((i * 997) % 65536 - 32768); }
    static int16_t blip(int i) { return static_cast<int16_t>(3001 + (i * 37) % 4000); }
};

// ---------------------------------------------------------------------------
// play_wav
// ---------------------------------------------------------------------------

TEST_F(Examples, PlayWavRendersAMonoFileHalvedOnBothSides)
{
    // The render stops with the engine buffer (1024 frames) in which the sound ends.
    const std::vector<int16_t> v =
        extest_render(PLAY_WAV, {"--render", "saw.out", "saw.wav"}, "saw.out",
                      "saw\\.wav: 1 channel, 44100 Hz, 3000 frames\nsaw\\.out: 3072 frames of 16-bit stereo at 44100 Hz\n", 3072);
    ASSERT_FALSE(v.empty());
    // A mono voice at unity, centred: each side gets (value x 128) >> 8, the
    // arithmetic shift taking odd negative values one lower.
    for (int f = 0; f < 3072; f++) {
        const int want = f < 3000 ? saw(f) >> 1 : 0;
        ASSERT_EQ(v[2 * f], want) << "left, frame " << f;
        ASSERT_EQ(v[2 * f + 1], want) << "right, frame " << f;
    }
}

TEST_F(Examples, PlayWavPlaysAFileAtItsOwnRate)
{
    // 22050 Hz at 44100 Hz: every frame is heard twice.
    const std::vector<int16_t> v = extest_render(PLAY_WAV, {"--render", "half.out", "half.wav"}, "half.out",
                                                 "half\\.wav: 1 channel, 22050 Hz, 1000 frames\n.*\n", 2048);
    ASSERT_FALSE(v.empty());
    for (int f = 0; f < 2048; f++) {
        const int want = f < 2000 ? static_cast<int16_t>((f / 2) * 31 - 15000) >> 1 : 0;
        ASSERT_EQ(v[2 * f], want) << f;
        ASSERT_EQ(v[2 * f + 1], want) << f;
    }
}

TEST_F(Examples, PlayWavKeepsAStereoFilesSides)
{
    const std::vector<int16_t> v = extest_render(PLAY_WAV, {"--render", "stereo.out", "stereo.wav"}, "stereo.out",
                                                 "stereo\\.wav: 2 channels, 44100 Hz, 1500 frames\n.*\n", 2048);
    ASSERT_FALSE(v.empty());
    for (int f = 0; f < 2048; f++) {
        ASSERT_EQ(v[2 * f], f < 1500 ? f * 7 - 5000 : 0) << f;
        ASSERT_EQ(v[2 * f + 1], f < 1500 ? 9000 - f * 11 : 0) << f;
    }
}

TEST_F(Examples, PlayWavPlaysOnTheDeviceUntilTheSoundEnds)
{
    const extest_run run = extest_exec(PLAY_WAV, {"short.wav"}, "SDL_AUDIODRIVER=dummy");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    extest_expectout(run, "short\\.wav: 1 channel, 44100 Hz, 2205 frames\n");
}

TEST_F(Examples, PlayWavRefusals)
{
    const std::string usage = "usage: play_wav \\[--render out\\.wav\\] file\\.wav\n(.*\n)*";
    extest_refusals(
        PLAY_WAV, {
                      {{}, 2, usage},
                      {{"--render"}, 2, usage},
                      {{"--render", "a.out"}, 2, usage},
                      {{"-x", "saw.wav"}, 2, usage},
                      {{"saw.wav", "tone.wav"}, 2, usage},
                      {{"--render", "a.out", "nothere.wav"}, 1, "play_wav: nothere\\.wav: No such file or directory\n"},
                      {{"--render", "a.out", "text.txt"}, 1, "play_wav: text\\.txt: not a WAV file the engine reads \\(.*\\)\n"},
                      {{"--render", "nodir/a.out", "saw.wav"}, 1, "play_wav: nodir/a\\.out: No such file or directory\n"},
                      {{"--render", "/dev/full", "saw.wav"}, 1, "play_wav: /dev/full: No space left on device\n"},
                  });
    const extest_run run = extest_exec(PLAY_WAV, {"short.wav"}, "SDL_AUDIODRIVER=nosuchdriver");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_search(run.err, std::regex("play_wav: no sound device \\(em_init gave -[12]\\); --render out\\.wav "
                                                      "renders to a file\n$")))
        << run.err;
}

// ---------------------------------------------------------------------------
// flyby
// ---------------------------------------------------------------------------

TEST_F(Examples, FlybyPassesFromLeftToRightAndFallsInPitch)
{
    const std::vector<int16_t> v =
        extest_render(FLYBY, {"--seconds", "2", "tone.wav", "fly.out"}, "fly.out",
                      "fly\\.out: 88200 frames, tone\\.wav flying from x = -30 to x = 30, 4 units in front\n", 88200);
    ASSERT_FALSE(v.empty());
    const size_t quarter = 88200 / 4;
    // Far to the left at first: the left side carries the sound; at the end the right.
    const double firstleft = extest_energy(v, 0, 0, quarter), firstright = extest_energy(v, 1, 0, quarter);
    const double lastleft = extest_energy(v, 0, 3 * quarter, 4 * quarter),
                 lastright = extest_energy(v, 1, 3 * quarter, 4 * quarter);
    EXPECT_GT(firstleft, 20.0 * firstright);
    EXPECT_GT(lastright, 20.0 * lastleft);
    EXPECT_GT(firstleft, 1e9) << "the source is heard";
    // Coming closer at 30 units/s the tone is higher than going away (speed of
    // sound 340: about 340 / 310 and 340 / 370 of 441 Hz), on the louder side.
    const int first = extest_crossings(v, 0, 0, quarter), last = extest_crossings(v, 1, 3 * quarter, 4 * quarter);
    EXPECT_GT(first, last * 11 / 10) << first << " against " << last;
    EXPECT_LT(first, last * 13 / 10) << first << " against " << last;
}

TEST_F(Examples, FlybyRendersExactlyItsSeconds)
{
    for (const auto& [seconds, frames] :
         std::vector<std::pair<std::string, size_t>> {{"", 176400}, {"1.5", 66150}, {"0.1", 4410}}) {
        SCOPED_TRACE(seconds);
        std::vector<std::string> args = {"tone.wav", "fly.out"};
        if (!seconds.empty())
            args.insert(args.begin(), {"--seconds", seconds});
        extest_render(FLYBY, args, "fly.out", ".*\n", frames);
    }
}

TEST_F(Examples, FlybyRefusals)
{
    const std::string usage = "usage: flyby \\[--seconds S\\] source\\.wav out\\.wav\n(.*\n)*";
    extest_refusals(FLYBY, {
                               {{}, 2, usage},
                               {{"tone.wav"}, 2, usage},
                               {{"tone.wav", "a.out", "b.out"}, 2, usage},
                               {{"--seconds", "0", "tone.wav", "a.out"}, 2, usage},
                               {{"--seconds", "16.5", "tone.wav", "a.out"}, 2, usage},
                               {{"--seconds", "2s", "tone.wav", "a.out"}, 2, usage},
                               {{"--seconds", "nan", "tone.wav", "a.out"}, 2, usage},
                               {{"--loud", "tone.wav", "a.out"}, 2, usage},
                               {{"nothere.wav", "a.out"}, 1, "flyby: nothere\\.wav: No such file or directory\n"},
                               {{"text.txt", "a.out"}, 1, "flyby: text\\.txt: not a WAV file the engine reads \\(.*\\)\n"},
                               {{"tone.wav", "nodir/a.out"}, 1, "flyby: nodir/a\\.out: No such file or directory\n"},
                           });
}

// ---------------------------------------------------------------------------
// sequence
// ---------------------------------------------------------------------------

TEST_F(Examples, SequenceStartsEachNoteAtTheFirstFrameOfItsStep)
{
    // Two passes of 8 steps of 11025 frames.
    const std::vector<int16_t> v = extest_render(SEQUENCE, {"--render", "seq.out", "blip.wav", "69 . 69 . . . 81 ."}, "seq.out",
                                                 "seq\\.out: 176400 frames of 16-bit stereo at 44100 Hz\n", 176400);
    ASSERT_FALSE(v.empty());
    // Steps start at k x 11025 (mostly inside an engine buffer). Note 69 plays
    // the 3000 frames at their own rate; note 81, an octave up, in 1500.
    for (int f = 0; f < 176400; f++) {
        const int at = f % 88200;
        int want = 0;
        if (at < 3000)
            want = blip(at) >> 1;
        else if (at >= 22050 && at < 25050)
            want = blip(at - 22050) >> 1;
        else if (at >= 66150 && at < 67650)
            want = blip(2 * (at - 66150)) >> 1;
        ASSERT_EQ(v[2 * f], want) << "left, frame " << f;
        ASSERT_EQ(v[2 * f + 1], want) << "right, frame " << f;
    }
}

TEST_F(Examples, SequenceRendersTheSameBytesEveryTime)
{
    // Three passes of the default patterns' 8 steps, twice.
    for (const char* name : {"a.out", "b.out"})
        extest_render(SEQUENCE, {"--render", name, "--passes", "3", "tone.wav"}, name, ".*\n", 3 * 8 * 11025);
    const std::string a = extest_slurp(extest_path("a.out"));
    EXPECT_EQ(a, extest_slurp(extest_path("b.out")));
    EXPECT_NE(a.find_first_not_of('\0', WAVFILE_HEADERBYTES), std::string::npos) << "something was heard";
}

TEST_F(Examples, SequencePlaysOnTheDevice)
{
    const extest_run run = extest_exec(SEQUENCE, {"--passes", "1", "short.wav", "69"}, "SDL_AUDIODRIVER=dummy");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    extest_expectout(run, "");
}

TEST_F(Examples, SequenceRefusals)
{
    const std::string usage =
        "usage: sequence \\[--render out\\.wav\\] \\[--passes N\\] sample\\.wav \\[pattern \\.\\.\\.\\]\n(.*\n)*";
    const std::string nine = "69 .";
    extest_refusals(
        SEQUENCE, {
                      {{}, 2, usage},
                      {{"--render"}, 2, usage},
                      {{"--passes", "0", "blip.wav"}, 2, usage},
                      {{"--passes", "101", "blip.wav"}, 2, usage},
                      {{"--passes", "two", "blip.wav"}, 2, usage},
                      {{"-p", "blip.wav"}, 2, usage},
                      {{"blip.wav", nine, nine, nine, nine, nine, nine, nine, nine, nine}, 2, usage},
                      {{"blip.wav", "69 x"}, 2, "sequence: pattern 1, step 2: 'x' is not a note 12\\.\\.127 or '\\.'\n"},
                      {{"blip.wav", "69", "11"}, 2, "sequence: pattern 2, step 1: '11' is not a note 12\\.\\.127 or '\\.'\n"},
                      {{"blip.wav", "69", "128"}, 2, "sequence: pattern 2, step 1: '128' .*\n"},
                      {{"blip.wav", ""}, 2, "sequence: pattern 1 has 0 steps, not 1 to 64\n"},
                      {{"blip.wav", "69 .", "69"}, 2, "sequence: pattern 2 has 1 steps, pattern 1 has 2\n"},
                      {{"--render", "a.out", "nothere.wav"}, 1, "sequence: nothere\\.wav: No such file or directory\n"},
                      {{"--render", "a.out", "text.txt"}, 1, "sequence: text\\.txt: not a WAV file the engine reads \\(.*\\)\n"},
                      {{"--render", "nodir/a.out", "blip.wav"}, 1, "sequence: nodir/a\\.out: No such file or directory\n"},
                  });
    std::string long65;
    for (int i = 0; i < 65; i++)
        long65 += "69 ";
    const extest_run run = extest_exec(SEQUENCE, {"blip.wav", long65});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "sequence: pattern 1 has 65 steps, not 1 to 64\n");
}

} // namespace
