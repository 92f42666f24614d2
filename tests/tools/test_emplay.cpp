// test_emplay.cpp -- the emplay program itself: a table of refusals (status and message, each run under a time
// limit), frame-exact renders, an interrupted render, and the progress line on a terminal
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include <csignal>

#include "tools/mixgen/oggwriter.h"
#include "tests/kit/kit.h"

namespace {

class Emplay : public ::testing::Test {
protected:
    static inline kit_tempdir files {false};
    static inline const std::string dir = files.path;

    static void SetUpTestSuite()
    {
        ASSERT_FALSE(dir.empty());
        const auto wav = [](const std::string& name, uint16_t channels, uint32_t rate, size_t frames) {
            std::vector<int16_t> values(frames * channels);
            for (size_t i = 0; i < values.size(); i++)
                values[i] = static_cast<int16_t>((i * 997) % 20000 - 10000);
            ASSERT_TRUE(kit_writewav(dir + "/" + name, 1, channels, rate, 16, kit_bytes16(values)));
        };
        const auto text = [](const std::string& name, const std::string& text) {
            ASSERT_TRUE(kit_writefile(dir + "/" + name, text));
        };
        wav("tone.wav", 1, 44100, 4410);
        wav("short.wav", 1, 44100, 10000);
        wav("stereo.wav", 2, 44100, 1000);
        wav("slow8k.wav", 1, 8000, 1000);
        wav("fast96k.wav", 1, 96000, 1000);
        wav("long.wav", 1, 44100, 3 * 44100);
        ASSERT_TRUE(wavfile_write((dir + "/float.wav").c_str(), {3, 1, 44100, 32}, "\0\0\0\0\0\0\0\0", 8));
        ASSERT_EQ(mixgen_writeogg(dir + "/tone.oga", 2, 44100, 22050, 440), 0);
        // a 24-bit FLAC file, which only em_loadsound reads
        std::vector<double> tone(9600);
        for (size_t i = 0; i < tone.size(); i++)
            tone[i] = (static_cast<double>((i * 7919) % 200000) * 4096 - 400000000) / 2147483648.0;
        ASSERT_TRUE(kit_writesf(dir + "/tone.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 48000, tone));
        text("escape.seq", "duration 4410\nsteps 1\n\x01"
                           "bell\xff\\ tone.wav\n");
        text("bad.ogg", "OggS" + std::string(300, 'x'));
        text("text.txt", "hello\n");
        const std::string head = "duration 4410\nsteps 2\n";
        text("nowav.seq", head + "# sounds\nchannel nothere.wav 256 0 0 A4 .\n");
        text("ogg.seq", head + "channel tone.oga 256 0 0 A4 .\n");
        text("short.seq", head + "channel tone.wav 256 0 0 A4\n");
        text("tone.seq", head + "channel tone.wav 256 0 0 A4 .\n");
        text("loud.seq", head + "channel tone.wav 65536 0 0 A4 .\nchannel tone.wav 256 0 0 . A4\n");
        std::string big = "duration 44100\nsteps 4096\n";
        for (int i = 0; i < 8; i++) {
            big += "channel tone.wav 256 0 0";
            for (int step = 0; step < 4096; step++)
                big += step % 64 == i ? " C#5" : " .";
            big += "\n";
        }
        text("steps4096.seq", big);
    }
    static kit_result run(const std::vector<std::string>& args, const std::string& before = "")
    {
        return kit_run(dir, EMPLAY_PATH, args, before);
    }
    // Runs "emplay -o out.wav" with args, which must succeed without a word: the values written; out.wav is removed.
    static std::vector<int16_t> render(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {"-o", "out.wav"};
        all.insert(all.end(), args.begin(), args.end());
        const kit_result result = run(all);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        const std::vector<int16_t> values = kit_rendered(dir + "/out.wav");
        remove((dir + "/out.wav").c_str());
        return values;
    }
};

TEST_F(Emplay, RefusalsGiveTheirStatusAndMessage)
{
    const std::string factor = "-r: factor must be a number from 1/65536 to below 8, not '";
    const std::string volume = "-v: volume must be a whole number 0..65536 (256 = unity), not '";
    const std::string pan = "-p: pan must be a whole number -128..128, not '";
    const std::string seconds = "-t: seconds must be a number from 1/44100 (one frame) to 86400, not '";
    const std::string notsound = "not a sound file the engine reads (";
    const std::string loud =
        ": too loud for the mixer (volume times channels, added over the sounds, must stay at or below 65536)";
    const std::string slow = "slow8k.wav: -r 0.00002 is too slow for this 8000 Hz sample: it would never move";
    const std::string fast =
        "fast96k.wav: -r 7.9 is too fast for this 96000 Hz sample (rate times factor must stay below 352800 Hz)";
    const std::string seqloud =
        "loud.seq: too loud for the mixer (the channels' volumes times -v / 256, added, must stay at or below "
        "65536)";
    const std::string limit = " s of sound would pass the WAV format's 4 GiB limit (24347.9 s); shorten it with -t";
    const std::string playing = ": the output is also a file to play";
    // The handle table holds the root, the sampler and 509 voices; 510 sounds at half volume still fit the mixer.
    std::vector<std::string> voices = {"-o", "out.wav", "-v", "128"};
    voices.insert(voices.end(), 510, "tone.wav");
    const struct row {
        std::vector<std::string> args;
        int status;
        std::string message;     // a line of standard error, without "emplay: ", or text in it
        bool alone = true;       // the message is all of standard error
        std::string before = ""; // shell words before the run
    } rows[] = {
        // Bad command lines: one row per rule of each option's parser (not a number, text around it, below, above).
        {{"-o", "out.wav", "-v", "abc", "tone.wav"}, 2, volume + "abc'"},
        {{"-o", "out.wav", "-v", "65537", "tone.wav"}, 2, volume + "65537'"},
        {{"-o", "out.wav", "-v", "99999999999999999999", "tone.wav"}, 2, volume + "99999999999999999999'"},
        {{"-o", "out.wav", "-v", " 256", "tone.wav"}, 2, volume + " 256'"},
        {{"-o", "out.wav", "-p", "-129", "tone.wav"}, 2, pan + "-129'"},
        {{"-o", "out.wav", "-r", "nan", "tone.wav"}, 2, factor + "nan'"},
        {{"-o", "out.wav", "-r", "0.000015", "tone.wav"}, 2, factor + "0.000015'"},
        {{"-o", "out.wav", "-r", "8", "tone.wav"}, 2, factor + "8'"},
        {{"-o", "out.wav", "-r", "0x2", "tone.wav"}, 2, factor + "0x2'"},
        {{"-o", "out.wav", "-t", "0.00002", "tone.wav"}, 2, seconds + "0.00002'"},
        {{"-o", "out.wav", "-t", "86401", "tone.wav"}, 2, seconds + "86401'"},
        {{"-o", "out.wav", "-t", "1s", "tone.wav"}, 2, seconds + "1s'"},
        {{"-o", "out.wav", "-3", "spiral", "tone.wav"}, 2, "-3: path must be circle or flyby, not 'spiral'"},
        {{"-o", "out.wav", "-x", "tone.wav"}, 2, "unknown option -x (emplay --help lists them)"},
        {{"tone.wav", "-v"}, 2, "-v needs a value (emplay --help)"},
        {{"-o", "out.wav"}, 2, "nothing to play: give WAV or Ogg Vorbis files, or -s file.seq (emplay --help)"},
        {{"-s", "short.seq", "tone.wav"}, 2, "-s plays the sequence file alone, without other files"},
        {{"-s", "short.seq", "-3", "circle"}, 2, "-3 plays WAV files, not a sequence"},
        {{"-l", "-o", "out.wav", "tone.wav"}, 2, "-l with -o needs -t: looping sounds never end"},
        {{"-o", "out.wav", "--", "-v"}, 1, "-v: No such file or directory"},
        // Bad files and failed writes; the engine prints lines of its own about a stream it cannot open.
        {{"-o", "out.wav", "missing.wav"}, 1, "missing.wav: No such file or directory"},
        {{"-o", "out.wav", "."}, 1, ".: Is a directory"},
        {{"-o", "out.wav", "tone.wav", "text.txt"}, 1, "text.txt: " + notsound, false},
        {{"-o", "out.wav", "bad.ogg"}, 1, "bad.ogg: not an Ogg Vorbis stream the engine plays", false},
        {{"-o", "out.wav", "-3", "circle", "bad.ogg"}, 1, "bad.ogg: " + notsound, false},
        {{"-o", "out.wav", "-s", "escape.seq"}, 1, "escape.seq:3: unknown keyword \\x01bell\\xff\\\\ (duration, steps, channel)"},
        {{"-o", "out.wav", "-r", "0.00002", "slow8k.wav"}, 1, slow},
        {{"-o", "out.wav", "-r", "7.9", "fast96k.wav"}, 1, fast},
        {{"-o", "out.wav", "-v", "40000", "stereo.wav"}, 1, "stereo.wav" + loud},
        {{"-o", "out.wav", "-v", "30000", "tone.wav", "tone.oga", "short.wav"}, 1, "short.wav" + loud},
        {{"-o", "out.wav", "-s", "missing.seq"}, 1, "missing.seq: No such file or directory"},
        {{"-o", "out.wav", "-s", "nowav.seq"}, 1, "nowav.seq:4: nothere.wav: No such file or directory"},
        {{"-o", "out.wav", "-s", "loud.seq"}, 1, seqloud},
        {{"-o", "out.wav", "-t", "30000", "-l", "tone.wav"}, 1, "out.wav: 30000.0" + limit},
        {{"-o", "out.wav", "-r", "0.0001", "long.wav"}, 1, "out.wav: 32768.0" + limit},
        {{"-o", "none/out.wav", "tone.wav"}, 1, "none/out.wav: No such file or directory"},
        {{"-o", "tone.wav", "-l", "-t", "1", "tone.wav"}, 1, "tone.wav" + playing},
        {{"-o", "./tone.wav", "-s", "tone.seq"}, 1, "./tone.wav" + playing},
        {{"-o", "/dev/full", "-t", "1", "-l", "tone.wav"}, 1, "/dev/full: No space left on device"},
        {{"--help"}, 1, "standard output: No space left on device", true, "exec >/dev/full; "},               // the usage text
        {{"-o", "-", "short.wav"}, 1, "standard output: No space left on device", true, "exec >/dev/full; "}, // the WAV
        // Ignored, SIGXFSZ leaves the write to fail; the partial file is removed.
        {{"-o", "out.wav", "-t", "10", "-l", "tone.wav"}, 1, "out.wav: File too large", true, "ulimit -f 64; trap '' XFSZ; "},
        {{"tone.wav"}, 1, "no sound device: ", false, "SDL_AUDIODRIVER=nosuchdriver "},
        {voices, 1, "tone.wav: the audio engine has no voice free", false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args).substr(0, 100));
        const kit_result result = run(r.args, r.before);
        EXPECT_EQ(result.status, r.status);
        if (r.alone)
            EXPECT_EQ(result.err, "emplay: " + r.message + "\n");
        else
            EXPECT_NE(result.err.find("emplay: " + r.message), std::string::npos) << result.err;
        EXPECT_NE(access((dir + "/out.wav").c_str(), F_OK), 0) << "out.wav left";
        remove((dir + "/out.wav").c_str());
    }
}

TEST_F(Emplay, HelpGoesToStandardOutput)
{
    for (const char* help : {"--help", "-h"}) {
        const kit_result result = run({"-v", "3", help, "-x"});
        EXPECT_EQ(result.status, 0) << help;
        EXPECT_EQ(result.out.rfind("usage: emplay [options] file.wav|file.ogg ...\n", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("Exit status: 0 played"), std::string::npos);
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(Emplay, RendersAreFrameExactWithHeadersThatMatchTheirData)
{
    const struct {
        std::vector<std::string> args;
        size_t frames;
    } rows[] = {
        {{"-t", "1", "-l", "tone.wav"}, 44100},
        {{"-t", "0.0000227", "-l", "tone.wav"}, 1},
        {{"-t", "1", "short.wav"}, 10240}, // a sound that ends first: to the end of its engine buffer
        {{"short.wav"}, 10240},
        {{"-r", "2", "short.wav"}, 5120},
        {{"stereo.wav", "short.wav", "tone.wav"}, 10240}, // the longest sound decides
        {{"-v", "300", "tone.oga"}, 22528},               // an Ogg file named .oga, known by its content
        {{"-t", "1.5", "-3", "circle", "tone.wav", "stereo.wav"}, 66150},
        {{"-3", "flyby", "tone.wav"}, 176400}, // a fly-past's own 4 s
        {{"-s", "steps4096.seq", "-t", "0.2"}, 8820},
        {{"-s", "ogg.seq", "-t", "0.2"}, 8820},                          // every sound through em_loadsound: Ogg,
        {{"-3", "circle", "-t", "0.5", "tone.oga", "tone.flac"}, 22050}, // and 24-bit FLAC too
        {{"float.wav", "tone.flac"}, 9216},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.back() + " " + std::to_string(row.frames));
        const std::vector<int16_t> values = render(row.args);
        EXPECT_EQ(values.size(), 2 * row.frames);
        EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](int16_t v) { return v != 0; })) << "silent";
    }
}

// "-o -" writes the same WAV to standard output, the engine's report kept out of it (a full one is a refusal row).
TEST_F(Emplay, DashWritesTheWavToStandardOutput)
{
    ASSERT_EQ(run({"-o", "out.wav", "short.wav"}).status, 0);
    const kit_result piped = run({"-o", "-", "short.wav"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out, kit_readfile(dir + "/out.wav"));
    remove((dir + "/out.wav").c_str());
}

// -v and -p reach a WAV file's voice: silence at volume 0, half the peak at 128, one side alone at either end.
TEST_F(Emplay, VolumeAndPanShapeAWavFile)
{
    const auto peak = [](const std::vector<int16_t>& values, size_t side) {
        int32_t most = 0;
        for (size_t i = side; i < values.size(); i += 2)
            most = std::max(most, std::abs(static_cast<int32_t>(values[i])));
        return most;
    };
    const std::vector<int16_t> unity = render({"tone.wav"}), half = render({"-v", "128", "tone.wav"});
    const std::vector<int16_t> none = render({"-v", "0", "tone.wav"});
    ASSERT_EQ(unity.size(), 2u * 5120);
    EXPECT_GT(peak(unity, 0), 1000);
    EXPECT_NEAR(peak(half, 0), peak(unity, 0) / 2, 1);
    EXPECT_EQ(peak(none, 0) + peak(none, 1), 0);
    for (const int side : {0, 1}) {
        const std::vector<int16_t> panned = render({"-p", side ? "128" : "-128", "tone.wav"});
        EXPECT_GT(peak(panned, static_cast<size_t>(side)), peak(unity, 0)) << side;
        EXPECT_EQ(peak(panned, static_cast<size_t>(1 - side)), 0) << side;
    }
}

TEST_F(Emplay, SequenceExampleRendersTheSameBytesTwice)
{
    const char* source = getenv("QUORREL_SOURCE_DIR");
    const std::string seq = std::string(source ? source : ".") + "/tools/emplay/examples/beat.seq";
    ASSERT_EQ(run({"-s", seq, "-o", "one.wav"}).status, 0);
    ASSERT_EQ(run({"-s", seq, "-o", "two.wav"}).status, 0);
    const std::string one = kit_readfile(dir + "/one.wav");
    EXPECT_EQ(one, kit_readfile(dir + "/two.wav"));
    EXPECT_EQ(kit_rendered(dir + "/one.wav").size(), 2u * 2 * 88200); // two passes, to the frame
    EXPECT_GT(std::count_if(one.begin() + 44, one.end(), [](char b) { return b > 0x10 && b < 0x70; }), 100000);
}

// A render slow enough to be caught in the middle on any machine (24000 s of 200 voices circling the listener), on a
// terminal: the progress line comes after two seconds of rendering; a signal then stops it, leaving no file.
TEST_F(Emplay, AnInterruptedRenderShowsItsProgressAndLeavesNoFile)
{
    for (const int sig : {SIGINT, SIGTERM}) {
        int terminal = -1;
        const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string command = "cd " + dir + " && exec " EMPLAY_PATH " -o big.wav -t 24000 -3 circle";
            for (int i = 0; i < 200; i++)
                command += " tone.wav";
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
        std::string text;
        int polls = 0, status = 0;
        for (bool stopped = false; polls < 1200; polls++) {
            pollfd p = {terminal, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char chunk[256];
                const ssize_t n = read(terminal, chunk, sizeof(chunk));
                if (n <= 0)
                    break; // the child is gone
                text.append(chunk, static_cast<size_t>(n));
            }
            if (!stopped && text.find("%)") != std::string::npos)
                stopped = kill(pid, sig) == 0;
        }
        if (polls == 1200)
            kill(pid, SIGKILL); // it hung
        waitpid(pid, &status, 0);
        close(terminal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_NE(access((dir + "/big.wav").c_str(), F_OK), 0);
        const size_t at = text.find("\remplay: big.wav: ");
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_NE(text.find(" of 24000.0 s rendered (", at), std::string::npos) << text;
        EXPECT_NE(text.find("emplay: big.wav: interrupted\r\n"), std::string::npos) << text;
    }
}

} // namespace
