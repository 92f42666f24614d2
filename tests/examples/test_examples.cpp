// test_examples.cpp -- runs the engine's example programs offline (and on SDL's dummy device) on WAV files written
// here and checks what they render value by value, and their status and message for bad command lines and files
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "tests/kit/kit.h"
#include "tools/mixgen/oggwriter.h"

namespace {

// The engine's allocation report, which ends every run that started it: nothing is left allocated.
const std::string extest_report = "Max bytes allocated during run: [0-9]+\nBytes left allocated at io_deinit: 0\n";

// The test files' values: every 16-bit value's neighbourhood; a line; both sides of a stereo file, interleaved,
// within the range the output limiter leaves as it is; and no zero anywhere, so that silence shows.
const auto saw = [](int i) { return static_cast<int16_t>((i * 997) % 65536 - 32768); };
const auto ramp = [](int i) { return static_cast<int16_t>(i * 31 - 15000); };
const auto stereo = [](int i) { return static_cast<int16_t>(i % 2 ? 9000 - i / 2 * 11 : i / 2 * 7 - 5000); };
const auto blip = [](int i) { return static_cast<int16_t>(3001 + (i * 37) % 4000); };

// The programs a row runs: a play_wav row runs play_wav and its twin written in C, whose messages name it play_wav_c,
// with text changed to match.
std::vector<std::pair<std::string, std::string>> extest_programs(const std::string& program, const std::string& text)
{
    if (program != PLAY_WAV)
        return {{program, text}};
    return {{PLAY_WAV, text}, {PLAY_WAV_C, std::regex_replace(text, std::regex("play_wav"), "play_wav_c")}};
}

class Examples : public ::testing::Test {
protected:
    static inline kit_tempdir files {false};
    static inline const std::string dir = files.path;

    static void SetUpTestSuite()
    {
        ASSERT_FALSE(dir.empty());
        const auto wav = [](const char* name, uint32_t rate, int count, auto value, uint16_t channels = 1) {
            std::vector<int16_t> values;
            for (int i = 0; i < count; i++)
                values.push_back(static_cast<int16_t>(value(i)));
            ASSERT_TRUE(kit_writewav(dir + "/" + name, 1, channels, rate, 16, kit_bytes16(values)));
        };
        wav("saw.wav", 44100, 3000, saw);
        wav("half.wav", 22050, 1000, ramp);
        wav("stereo.wav", 44100, 3000, stereo, 2);
        // 441 Hz: 100 frames a period, so the loop has no seam.
        wav("tone.wav", 44100, 4410, [](int i) { return std::lround(12000.0 * std::sin(2.0 * M_PI * i / 100.0)); });
        wav("blip.wav", 44100, 3000, blip);
        wav("short.wav", 44100, 2205, blip);
        wav("silence.wav", 44100, 2205, [](int) { return 0; });
        kit_writefile(dir + "/text.txt", std::string("not a sound\n"));
        ASSERT_EQ(mixgen_writeogg(dir + "/first.ogg", 2, 44100, 4 * 44100, 440), 0);
        ASSERT_EQ(mixgen_writeogg(dir + "/second.ogg", 1, 22050, 4 * 22050, 330), 0);
    }

    // Runs a program that renders into a.out: it must succeed without a word on standard error, print lines (a
    // pattern) and the engine's report, and write frames frames. Their values, or none when anything of that failed.
    static std::vector<int16_t> render(const char* program, const std::vector<std::string>& args, const std::string& lines,
                                       size_t frames)
    {
        const kit_result run = kit_run(dir, program, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(std::regex_match(run.out, std::regex(lines + extest_report))) << run.out;
        std::vector<int16_t> values = kit_rendered(dir + "/a.out");
        EXPECT_EQ(values.size(), 2 * frames);
        if (run.status != 0 || values.size() != 2 * frames)
            values.clear();
        return values;
    }
};

TEST_F(Examples, RendersHaveTheirExactLengthAndValues)
{
    // play_wav stops with the engine buffer (1024 frames) in which the sound ends. A mono voice at unity, centred:
    // each side gets (value x 128) >> 8, the arithmetic shift taking odd negative values one lower; at 22050 Hz every
    // frame is heard twice; a stereo file keeps its sides. The sequence plays two passes of 8 steps of 11025 frames,
    // steps starting mostly inside an engine buffer; note 69 plays the 3000 frames at their own rate from steps 0 and
    // 2, note 81, an octave up, in 1500 from step 6.
    const auto notes = [](int f, int) {
        for (const auto& [start, speed] : {std::pair(0, 1), {22050, 1}, {66150, 2}})
            if (f % 88200 >= start && f % 88200 < start + 3000 / speed)
                return blip(speed * (f % 88200 - start)) >> 1;
        return 0;
    };
    const auto saws = [](int f, int) { return f < 3000 ? saw(f) >> 1 : 0; };
    const auto halves = [](int f, int) { return f < 2000 ? ramp(f / 2) >> 1 : 0; };
    const auto sides = [](int f, int side) { return f < 1500 ? stereo(2 * f + side) : 0; };
    const struct {
        const char* program;
        std::vector<std::string> args;
        size_t frames;
        std::string lines;                        // standard output before the frames and the engine's report, a pattern
        std::function<int(int f, int side)> want; // each value; none: only that something is heard
    } rows[] = {
        {PLAY_WAV, {"--render", "a.out", "saw.wav"}, 3072, "saw\\.wav: 1 channel, 44100 Hz, 3000 frames\n", saws},
        {PLAY_WAV, {"--render", "a.out", "half.wav"}, 2048, "half\\.wav: 1 channel, 22050 Hz, 1000 frames\n", halves},
        {PLAY_WAV, {"--render", "a.out", "stereo.wav"}, 2048, "stereo\\.wav: 2 channels, 44100 Hz, 1500 frames\n", sides},
        {SEQUENCE, {"--render", "a.out", "blip.wav", "69 . 69 . . . 81 ."}, 176400, "", notes},
        {SEQUENCE, {"--render", "a.out", "--passes", "3", "tone.wav"}, 3 * 8 * 11025, "", nullptr}, // the default patterns
        {FLYBY, {"tone.wav", "a.out"}, 176400, "", nullptr},
    };
    for (const auto& row : rows)
        for (const auto& [program, rowlines] : extest_programs(row.program, row.lines)) {
            SCOPED_TRACE(program + " " + row.args.back());
            const std::string frames = "a\\.out: " + std::to_string(row.frames) + " frames";
            const std::string lines = rowlines + frames + (program == FLYBY ? ", .*\n" : " of 16-bit stereo at 44100 Hz\n");
            const std::vector<int16_t> v = render(program.c_str(), row.args, lines, row.frames);
            EXPECT_TRUE(row.want || std::any_of(v.begin(), v.end(), [](int16_t x) { return x != 0; })) << "nothing heard";
            for (int f = 0; row.want && f < static_cast<int>(v.size() / 2); f++)
                for (int side = 0; side < 2; side++)
                    ASSERT_EQ(v[2 * f + side], row.want(f, side)) << side << ", frame " << f;
        }
}

TEST_F(Examples, FlybyPassesFromLeftToRightAndFallsInPitch)
{
    const std::vector<int16_t> v =
        render(FLYBY, {"--seconds", "2", "tone.wav", "a.out"},
               "a\\.out: 88200 frames, tone\\.wav flying from x = -30 to x = 30, 4 units in front\n", 88200);
    ASSERT_FALSE(v.empty());
    // In the first and the last quarter, per side (0 left, 1 right): the sum of squares, and the sign changes (twice
    // the frequency heard, times the time).
    double energy[2][2] = {};
    int crossings[2][2] = {};
    for (int q = 0; q < 2; q++)
        for (int f = q * 66150 + 1; f < q * 66150 + 22050; f++)
            for (int side = 0; side < 2; side++) {
                energy[q][side] += static_cast<double>(v[2 * f + side]) * v[2 * f + side];
                crossings[q][side] += (v[2 * f + side] < 0) != (v[2 * (f - 1) + side] < 0);
            }
    // Far to the left at first: the left side carries the sound; at the end the right.
    EXPECT_GT(energy[0][0], 20.0 * energy[0][1]);
    EXPECT_GT(energy[1][1], 20.0 * energy[1][0]);
    EXPECT_GT(energy[0][0], 1e9) << "the source is heard";
    // Coming closer at 30 units/s the tone is higher than going away (speed of sound 340: about 340 / 310 and 340 /
    // 370 of 441 Hz), on the louder side.
    const int first = crossings[0][0], last = crossings[1][1];
    EXPECT_GT(first, last * 11 / 10) << first << " against " << last;
    EXPECT_LT(first, last * 13 / 10) << first << " against " << last;
}

// The game's timeline acts at the first buffer at or after each time and tells every end at its exact frame: an
// effect of 2205 frames started every 22050 frames from 11025 ends 2204 frames later; the ambience fades out over
// 250 ms (11025 frames) from frame 45056 and back from 89088; the music's switch fades over 500 ms from 110592 and
// switches at the next buffer; the mix fades out over 900 ms from 177152 and is silent from then on.
TEST_F(Examples, GameSwitchesFadesPausesAndTellsWhatEnded)
{
    std::string lines;
    const auto line = [&](int frame, const std::string& what) {
        lines += "frame " + std::string(frame < 100000 ? " " : "") + std::to_string(frame) + ": " + what + "\n";
    };
    const auto effect = [&](int k) { line(11025 + 22050 * k + 2204, "an effect ended \\(sample 2\\)"); };
    effect(0), effect(1), line(45056 + 11024, "the fade of the ambience is done"), effect(2), effect(3);
    line(89088 + 11024, "the fade of the ambience is done"), effect(4), effect(5);
    line(110592 + 22049, "the fade of the music is done"), line(133120, "the music switched"), effect(6), effect(7);
    line(177152 + 39689, "the fade of the mix is done");
    const std::vector<int16_t> v =
        render(GAME, {"first.ogg", "second.ogg", "tone.wav", "short.wav", "a.out"}, lines + "a\\.out: 220500 frames\n", 220500);
    ASSERT_FALSE(v.empty());
    EXPECT_NE(v[2 * 177151], 0) << "heard up to the fade-out";
    for (size_t f = 177152 + 39690; f < 220500; f++)
        ASSERT_EQ(v[2 * f] | v[2 * f + 1], 0) << f;
}

// The hall, rendered once with the footsteps alone (the saw, 671 Hz with its harmonics) and once with the loudspeaker
// alone (the 441 Hz tone). Steps start at the first buffer at or after 11025 + 22050 k; the walker passes the wall
// at 2 s (frame 88200), so steps 4 to 7 are low-passed at 700 Hz: in their first 2048 frames the share of the
// frame-to-frame differences in the energy falls from about 0.19 (the saw's jumps) to about 0.01 (its fundamental).
// The last step has ended by frame 170000: what follows is the reverb's tail, which dies away. The loudspeaker turns from the edge
// of its cone (a tenth of the gain, a hundredth of the energy) to face the listener.
TEST_F(Examples, HallMufflesStepsBehindTheWallReverberatesAndTurnsTheLoudspeaker)
{
    const std::string said = "a\\.out: 264600 frames, 8 footsteps, 4 of them behind the wall\n";
    const std::vector<int16_t> steps = render(HALL, {"saw.wav", "silence.wav", "a.out"}, said, 264600);
    const std::vector<int16_t> speaker = render(HALL, {"silence.wav", "tone.wav", "a.out"}, said, 264600);
    ASSERT_FALSE(steps.empty() || speaker.empty());
    // The sum of squares of both sides' values over frames [from, to), and that of their differences.
    const auto energy = [](const std::vector<int16_t>& v, int from, int to) {
        double sum = 0.0, diff = 0.0;
        for (int i = 2 * from; i < 2 * to; i++)
            sum += std::pow(v[i], 2.0), diff += std::pow(v[i] - v[i - 2], 2.0);
        return std::pair(sum, diff);
    };
    for (int k = 0; k < 8; k++) {
        const int at = (11025 + 22050 * k + 1023) / 1024 * 1024;
        const auto [sum, diff] = energy(steps, at, at + 2048);
        EXPECT_GT(sum, 1e9) << "step " << k << " is heard";
        EXPECT_TRUE(k < 4 ? diff > 0.1 * sum : diff < 0.02 * sum) << "step " << k << ": " << diff / sum;
    }
    const double tail = energy(steps, 170000, 190000).first, late = energy(steps, 240000, 264600).first;
    EXPECT_GT(tail, 1e7) << "the reverb is heard after the last step";
    EXPECT_LT(late, tail / 10.0) << "and dies away";
    EXPECT_GT(energy(speaker, 242550, 264600).first, 30.0 * energy(speaker, 1, 22050).first);
}

TEST_F(Examples, Refusals)
{
    const std::string play = "usage: play_wav \\[--render out\\.wav\\] file\\.wav\n(.*\n)*";
    const std::string fly = "usage: flyby \\[--seconds S\\] source\\.wav out\\.wav\n(.*\n)*";
    const std::string seq =
        "usage: sequence \\[--render out\\.wav\\] \\[--passes N\\] sample\\.wav \\[pattern \\.\\.\\.\\]\n(.*\n)*";
    const std::string game = "usage: game first\\.ogg second\\.ogg ambience\\.wav effect\\.wav out\\.wav\n(.*\n)*";
    const std::string hall = "usage: hall step\\.wav speaker\\.wav out\\.wav\n(.*\n)*";
    const std::string nine = "69 .", notwav = ": text\\.txt: not a WAV file the engine reads \\(.*\\)\n";
    const std::string nodir = "ERROR: em_writewav: nodir/a\\.out: No such file or directory\n";
    const std::string nodevice =
        "(.*\n)*play_wav: no sound device \\(em_init gave -[12]\\); --render out\\.wav renders to a file\n";
    std::string long65;
    for (int i = 0; i < 65; i++)
        long65 += "69 ";
    const struct {
        const char* program;
        std::vector<std::string> args;
        int status;
        std::string err;         // standard error, a pattern
        std::string before = ""; // shell words before the run
    } rows[] = {
        {PLAY_WAV, {"--render", "a.out"}, 2, play},
        {PLAY_WAV, {"-x", "saw.wav"}, 2, play},
        {PLAY_WAV, {"saw.wav", "tone.wav"}, 2, play},
        {PLAY_WAV, {"--render", "a.out", "nothere.wav"}, 1, "play_wav: nothere\\.wav: No such file or directory\n"},
        {PLAY_WAV, {"--render", "a.out", "text.txt"}, 1, "play_wav" + notwav},
        {PLAY_WAV, {"--render", "nodir/a.out", "saw.wav"}, 1, nodir},
        {PLAY_WAV, {"--render", "/dev/full", "saw.wav"}, 1, "ERROR: em_writewav: /dev/full: No space left on device\n"},
        {PLAY_WAV, {"short.wav"}, 1, nodevice, "SDL_AUDIODRIVER=nosuchdriver "},
        {FLYBY, {"tone.wav"}, 2, fly},
        {FLYBY, {"tone.wav", "a.out", "b.out"}, 2, fly},
        {FLYBY, {"--seconds", "0", "tone.wav", "a.out"}, 2, fly},
        {FLYBY, {"--seconds", "2s", "tone.wav", "a.out"}, 2, fly},
        {FLYBY, {"--loud", "tone.wav", "a.out"}, 2, fly},
        {FLYBY, {"nothere.wav", "a.out"}, 1, "flyby: nothere\\.wav: No such file or directory\n"},
        {FLYBY, {"text.txt", "a.out"}, 1, "flyby" + notwav},
        {FLYBY, {"tone.wav", "nodir/a.out"}, 1, nodir},
        {SEQUENCE, {}, 2, seq},
        {SEQUENCE, {"--passes", "0", "blip.wav"}, 2, seq},
        {SEQUENCE, {"--passes", "two", "blip.wav"}, 2, seq},
        {SEQUENCE, {"-p", "blip.wav"}, 2, seq},
        {SEQUENCE, {"blip.wav", nine, nine, nine, nine, nine, nine, nine, nine, nine}, 2, seq},
        {SEQUENCE, {"blip.wav", "69 x"}, 2, "sequence: pattern 1, step 2: 'x' is not a note 12\\.\\.127 or '\\.'\n"},
        {SEQUENCE, {"blip.wav", "69", "11"}, 2, "sequence: pattern 2, step 1: '11' is not a note 12\\.\\.127 or '\\.'\n"},
        {SEQUENCE, {"blip.wav", ""}, 2, "sequence: pattern 1 has 0 steps, not 1 to 64\n"},
        {SEQUENCE, {"blip.wav", long65}, 2, "sequence: pattern 1 has 65 steps, not 1 to 64\n"},
        {SEQUENCE, {"blip.wav", "69 .", "69"}, 2, "sequence: pattern 2 has 1 steps, pattern 1 has 2\n"},
        {SEQUENCE, {"--render", "a.out", "nothere.wav"}, 1, "sequence: nothere\\.wav: No such file or directory\n"},
        {SEQUENCE, {"--render", "a.out", "text.txt"}, 1, "sequence" + notwav},
        {SEQUENCE, {"--render", "nodir/a.out", "blip.wav"}, 1, nodir},
        {GAME, {"first.ogg", "second.ogg", "tone.wav", "short.wav"}, 2, game},
        {GAME, {"first.ogg", "second.ogg", "nothere.wav", "short.wav", "a.out"}, 1, "game: nothere\\.wav: .*\n"},
        {GAME, {"tone.wav", "second.ogg", "tone.wav", "short.wav", "a.out"}, 1, "(.*\n)*game: tone\\.wav cannot be played\n"},
        {GAME, {"first.ogg", "second.ogg", "tone.wav", "short.wav", "nodir/a.out"}, 1, nodir},
        {HALL, {"saw.wav", "tone.wav"}, 2, hall},
        {HALL, {"saw.wav", "text.txt", "a.out"}, 1, "hall: text\\.txt: not a sound file the engine reads \\(.*\\)\n"},
    };
    for (const auto& row : rows)
        for (const auto& [program, err] : extest_programs(row.program, row.err)) {
            SCOPED_TRACE(program + testing::PrintToString(row.args));
            const kit_result run = kit_run(dir, program, row.args, row.before);
            EXPECT_EQ(run.status, row.status);
            EXPECT_TRUE(std::regex_match(run.err, std::regex(err))) << run.err;
            // A file that fails comes after the engine started: it still frees everything.
            EXPECT_TRUE(row.status != 1 || !row.before.empty() || std::regex_search(run.out, std::regex(extest_report + "$")))
                << run.out;
        }
}

} // namespace
