// test_emplay.cpp -- the emplay program itself: tables of bad command lines and
// bad files (exit status and message, each run under a time limit that only a
// hang reaches), good renders (exact lengths, headers that match their data), an
// interrupted render, and the progress line on a terminal
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/em/em_oggwriter.h"
#include "tools/emplay/wavfile.h"

namespace {

struct playtest_result {
    int status = -1; // exit status; timeout's 124 when the run hung
    std::string out, err;
};

std::string playtest_quote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string playtest_readfile(const std::string& path)
{
    std::string text;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(file)) != EOF;)
            text += static_cast<char>(c);
        fclose(file);
    }
    return text;
}

bool playtest_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Runs emplay in dir after the shell words in before (variables, ulimit); its
// standard output goes where stdout says. Two minutes make a hang: timeout ends
// the run with status 124.
playtest_result playtest_run(const std::string& dir, const std::vector<std::string>& args, const std::string& before = "",
                             const std::string& stdout = "out.txt")
{
    std::string command = "cd " + playtest_quote(dir) + " && " + before + "exec timeout -k 5 120 " EMPLAY_PATH;
    for (const std::string& arg : args)
        command += " " + playtest_quote(arg);
    command += " >" + stdout + " 2>err.txt";
    const int raw = system(command.c_str());
    playtest_result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = playtest_readfile(dir + "/out.txt");
    result.err = playtest_readfile(dir + "/err.txt");
    remove((dir + "/out.txt").c_str());
    remove((dir + "/err.txt").c_str());
    return result;
}

// A 16-bit WAV file of frames frames of a tone.
void playtest_wav(const std::string& path, uint16_t channels, uint32_t rate, uint32_t frames)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * channels * 2);
    for (size_t i = 0; i < bytes.size() / 2; i++)
        wavfile_put(&bytes[2 * i], static_cast<uint16_t>(static_cast<int16_t>((i * 997) % 20000 - 10000)), 2);
    const wavfile_format format = {1, channels, rate, 16};
    ASSERT_TRUE(wavfile_write(path.c_str(), format, bytes.data(), static_cast<uint32_t>(bytes.size()))) << path;
}

void playtest_text(const std::string& path, const std::string& text)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file && fwrite(text.data(), 1, text.size(), file) == text.size() && fclose(file) == 0) << path;
}

// The frames of a rendered file, after checking that its header is emplay's
// and that both lengths in it match the bytes that follow; -1 when they do not.
int64_t playtest_frames(const std::string& path)
{
    const std::string file = playtest_readfile(path);
    if (file.size() < WAVFILE_HEADERBYTES)
        return -1;
    uint8_t want[WAVFILE_HEADERBYTES];
    const wavfile_format format = {1, 2, 44100, 16};
    wavfile_header(want, format, static_cast<uint32_t>(file.size() - WAVFILE_HEADERBYTES));
    if (file.compare(0, WAVFILE_HEADERBYTES, reinterpret_cast<const char*>(want), WAVFILE_HEADERBYTES) != 0)
        return -1;
    return static_cast<int64_t>(file.size() - WAVFILE_HEADERBYTES) / 4;
}

// The name of an Ogg file one character too long for the music node.
const std::string playtest_longogg = std::string(60, 'n') + ".ogg";

class Emplay : public ::testing::Test {
protected:
    static std::string dir;

    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/emplaytest.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        playtest_wav(dir + "/tone.wav", 1, 44100, 4410);
        playtest_wav(dir + "/short.wav", 1, 44100, 10000);
        playtest_wav(dir + "/stereo.wav", 2, 44100, 1000);
        playtest_wav(dir + "/slow8k.wav", 1, 8000, 1000);
        playtest_wav(dir + "/fast96k.wav", 1, 96000, 1000);
        playtest_wav(dir + "/long.wav", 1, 44100, 3 * 44100);
        const wavfile_format floats = {3, 1, 44100, 32};
        ASSERT_TRUE(wavfile_write((dir + "/float.wav").c_str(), floats, "\0\0\0\0\0\0\0\0", 8));
        ASSERT_EQ(emtest_writeogg(dir + "/tone.oga", 2, 44100, 22050, 440), 0);
        ASSERT_EQ(emtest_writeogg(dir + "/" + playtest_longogg, 2, 44100, 4410, 440), 0);
        playtest_text(dir + "/bad.ogg", "OggS" + std::string(300, 'x'));
        playtest_text(dir + "/text.txt", "hello\n");
        playtest_text(dir + "/empty.wav", "");
        playtest_text(dir + "/riff.wav", "RIFF");
        const std::string head = "duration 4410\nsteps 2\n";
        playtest_text(dir + "/nowav.seq", head + "# sounds\nchannel nothere.wav 256 0 0 A4 .\n");
        playtest_text(dir + "/oggchannel.seq", head + "channel tone.oga 256 0 0 A4 .\n");
        playtest_text(dir + "/textchannel.seq", head + "channel text.txt 256 0 0 A4 .\n");
        playtest_text(dir + "/short.seq", head + "channel tone.wav 256 0 0 A4\n");
        playtest_text(dir + "/tone.seq", head + "channel tone.wav 256 0 0 A4 .\n");
        playtest_text(dir + "/loud.seq", head + "channel tone.wav 65536 0 0 A4 .\nchannel tone.wav 256 0 0 . A4\n");
        std::string big = "duration 44100\nsteps 4096\n";
        for (int i = 0; i < 8; i++) {
            big += "channel tone.wav 256 0 0";
            for (int step = 0; step < 4096; step++)
                big += step % 64 == i ? " C#5" : " .";
            big += "\n";
        }
        playtest_text(dir + "/steps4096.seq", big);
    }
    static void TearDownTestSuite() { ASSERT_EQ(system(("rm -rf " + playtest_quote(dir)).c_str()), 0); }
};
std::string Emplay::dir;

struct playtest_row {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string message;     // a line of standard error, without "emplay: ", or text in it
    bool alone = true;       // the message is all of standard error
    std::string before = ""; // shell words before the run
};

// Runs each row and checks its status and message; no row leaves out.wav.
void playtest_rows(const std::string& dir, const std::vector<playtest_row>& rows)
{
    for (const playtest_row& row : rows) {
        SCOPED_TRACE(row.what);
        const playtest_result result = playtest_run(dir, row.args, row.before);
        EXPECT_EQ(result.status, row.status);
        if (row.alone)
            EXPECT_EQ(result.err, "emplay: " + row.message + "\n");
        else
            EXPECT_NE(result.err.find("emplay: " + row.message), std::string::npos) << result.err;
        EXPECT_FALSE(playtest_exists(dir + "/out.wav"));
        remove((dir + "/out.wav").c_str());
    }
}

TEST_F(Emplay, BadCommandLines)
{
    const std::string factor = "-r: factor must be a number from 1/65536 to below 8, not '";
    const std::string volume = "-v: volume must be a whole number 0..65536 (256 = unity), not '";
    const std::string pan = "-p: pan must be a whole number -128..128, not '";
    const std::string seconds = "-t: seconds must be a number from 1/44100 (one frame) to 86400, not '";
    std::vector<playtest_row> rows = {
        {"-v abc", {"-o", "out.wav", "-v", "abc", "tone.wav"}, 2, volume + "abc'"},
        {"-v -5", {"-o", "out.wav", "-v", "-5", "tone.wav"}, 2, volume + "-5'"},
        {"-v 65537", {"-o", "out.wav", "-v", "65537", "tone.wav"}, 2, volume + "65537'"},
        {"-v 1.5", {"-o", "out.wav", "-v", "1.5", "tone.wav"}, 2, volume + "1.5'"},
        {"-v past 64 bits", {"-o", "out.wav", "-v", "99999999999999999999", "tone.wav"}, 2, volume + "99999999999999999999'"},
        {"-v with a blank", {"-o", "out.wav", "-v", " 256", "tone.wav"}, 2, volume + " 256'"},
        {"-p 1000", {"-o", "out.wav", "-p", "1000", "tone.wav"}, 2, pan + "1000'"},
        {"-p -129", {"-o", "out.wav", "-p", "-129", "tone.wav"}, 2, pan + "-129'"},
        {"-r nan", {"-o", "out.wav", "-r", "nan", "tone.wav"}, 2, factor + "nan'"},
        {"-r inf", {"-o", "out.wav", "-r", "inf", "tone.wav"}, 2, factor + "inf'"},
        {"-r 0", {"-o", "out.wav", "-r", "0", "tone.wav"}, 2, factor + "0'"},
        {"-r below 1/65536", {"-o", "out.wav", "-r", "0.000015", "tone.wav"}, 2, factor + "0.000015'"},
        {"-r 8", {"-o", "out.wav", "-r", "8", "tone.wav"}, 2, factor + "8'"},
        {"-r 1e9", {"-o", "out.wav", "-r", "1e9", "tone.wav"}, 2, factor + "1e9'"},
        {"-r -1", {"-o", "out.wav", "-r", "-1", "tone.wav"}, 2, factor + "-1'"},
        {"-r hexadecimal", {"-o", "out.wav", "-r", "0x2", "tone.wav"}, 2, factor + "0x2'"},
        {"-r empty", {"-o", "out.wav", "-r", "", "tone.wav"}, 2, factor + "'"},
        {"-t -3", {"-o", "out.wav", "-t", "-3", "tone.wav"}, 2, seconds + "-3'"},
        {"-t 0", {"-o", "out.wav", "-t", "0", "tone.wav"}, 2, seconds + "0'"},
        {"-t below a frame", {"-o", "out.wav", "-t", "0.00002", "tone.wav"}, 2, seconds + "0.00002'"},
        {"-t nan", {"-o", "out.wav", "-t", "nan", "tone.wav"}, 2, seconds + "nan'"},
        {"-t 86401", {"-o", "out.wav", "-t", "86401", "tone.wav"}, 2, seconds + "86401'"},
        {"-t 1e300", {"-o", "out.wav", "-t", "1e300", "tone.wav"}, 2, seconds + "1e300'"},
        {"-t 1s", {"-o", "out.wav", "-t", "1s", "tone.wav"}, 2, seconds + "1s'"},
        {"-3 spiral", {"-o", "out.wav", "-3", "spiral", "tone.wav"}, 2, "-3: path must be circle or flyby, not 'spiral'"},
        {"an unknown option", {"-o", "out.wav", "-x", "tone.wav"}, 2, "unknown option -x (emplay --help lists them)"},
        {"an unknown long option", {"--volume", "3", "tone.wav"}, 2, "unknown option --volume (emplay --help lists them)"},
        {"a value missing", {"tone.wav", "-v"}, 2, "-v needs a value (emplay --help)"},
        {"nothing to play",
         {"-o", "out.wav"},
         2,
         "nothing to play: give WAV or Ogg Vorbis files, or -s file.seq (emplay --help)"},
        {"a sequence and files", {"-s", "short.seq", "tone.wav"}, 2, "-s plays the sequence file alone, without other files"},
        {"a sequence on a 3-D path", {"-s", "short.seq", "-3", "circle"}, 2, "-3 plays WAV files, not a sequence"},
        {"a looping render without -t", {"-l", "-o", "out.wav", "tone.wav"}, 2, "-l with -o needs -t: looping sounds never end"},
        {"-- makes -v a file name", {"-o", "out.wav", "--", "-v"}, 1, "-v: No such file or directory"},
    };
    playtest_rows(dir, rows);
}

TEST_F(Emplay, HelpGoesToStandardOutput)
{
    for (const char* help : {"--help", "-h"}) {
        SCOPED_TRACE(help);
        const playtest_result result = playtest_run(dir, {"-v", "3", help, "-x"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind("usage: emplay [options] file.wav|file.ogg ...\n", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("Exit status: 0 played"), std::string::npos);
        EXPECT_EQ(result.err, "");
    }
    const playtest_result full = playtest_run(dir, {"--help"}, "", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "emplay: standard output: No space left on device\n");
}

TEST_F(Emplay, BadFilesAndFailedWrites)
{
    const std::string seqcut = "loud.seq: too loud for the mixer (the channels' volumes times -v / 256, added, must stay at "
                               "or below 65536)";
    std::vector<playtest_row> rows = {
        {"a missing file", {"-o", "out.wav", "missing.wav"}, 1, "missing.wav: No such file or directory"},
        {"a folder", {"-o", "out.wav", "."}, 1, ".: Is a directory"},
        {"a text file", {"-o", "out.wav", "tone.wav", "text.txt"}, 1, "text.txt: not a WAV or Ogg Vorbis file"},
        {"an empty file", {"-o", "out.wav", "empty.wav"}, 1, "empty.wav: not a WAV or Ogg Vorbis file"},
        {"RIFF and nothing more", {"-o", "out.wav", "riff.wav"}, 1, "riff.wav: not a WAV or Ogg Vorbis file"},
        {"a WAV encoding the engine refuses",
         {"-o", "out.wav", "float.wav"},
         1,
         "float.wav: not a WAV file the engine reads",
         false},
        // The engine prints lines of its own about a stream it cannot open.
        {"a damaged Ogg stream", {"-o", "out.wav", "bad.ogg"}, 1, "bad.ogg: not an Ogg Vorbis stream the engine plays", false},
        {"an Ogg name too long for the music node",
         {"-o", "out.wav", playtest_longogg},
         1,
         playtest_longogg + ": the music node takes file names of at most 63 characters"},
        {"an Ogg file on a 3-D path",
         {"-o", "out.wav", "-3", "circle", "tone.oga"},
         1,
         "tone.oga: the 3-D paths play WAV files, not Ogg Vorbis"},
        {"too slow for an 8000 Hz sample",
         {"-o", "out.wav", "-r", "0.00002", "slow8k.wav"},
         1,
         "slow8k.wav: -r 0.00002 is too slow for this 8000 Hz sample: it would never move"},
        {"too fast for a 96000 Hz sample",
         {"-o", "out.wav", "-r", "7.9", "fast96k.wav"},
         1,
         "fast96k.wav: -r 7.9 is too fast for this 96000 Hz sample (rate times factor must stay below 352800 Hz)"},
        {"a stereo sample too loud",
         {"-o", "out.wav", "-v", "40000", "stereo.wav"},
         1,
         "stereo.wav: too loud for the mixer (volume times channels, added over the sounds, must stay at or below 65536)"},
        {"three sounds too loud together",
         {"-o", "out.wav", "-v", "30000", "tone.wav", "tone.oga", "short.wav"},
         1,
         "short.wav: too loud for the mixer (volume times channels, added over the sounds, must stay at or below 65536)"},
        {"a missing sequence file", {"-o", "out.wav", "-s", "missing.seq"}, 1, "missing.seq: No such file or directory"},
        {"a sequence file's mistake",
         {"-o", "out.wav", "-s", "short.seq"},
         1,
         "short.seq:3: a channel needs one note per step: 1 notes for 2 steps"},
        {"a sequence's missing WAV file",
         {"-o", "out.wav", "-s", "nowav.seq"},
         1,
         "nowav.seq:4: nothere.wav: No such file or directory"},
        {"a sequence's Ogg file",
         {"-o", "out.wav", "-s", "oggchannel.seq"},
         1,
         "oggchannel.seq:3: tone.oga: a sequence channel plays a WAV file, not Ogg Vorbis"},
        {"a sequence's text file",
         {"-o", "out.wav", "-s", "textchannel.seq"},
         1,
         "textchannel.seq:3: text.txt: not a WAV or Ogg Vorbis file"},
        {"a sequence too loud", {"-o", "out.wav", "-s", "loud.seq"}, 1, seqcut},
        {"-t past the WAV format's 4 GiB",
         {"-o", "out.wav", "-t", "30000", "-l", "tone.wav"},
         1,
         "out.wav: 30000.0 s of sound would pass the WAV format's 4 GiB limit (24347.9 s); shorten it with -t"},
        {"a sound slowed past 4 GiB",
         {"-o", "out.wav", "-r", "0.0001", "long.wav"},
         1,
         "out.wav: 32768.0 s of sound would pass the WAV format's 4 GiB limit (24347.9 s); shorten it with -t"},
        {"an output folder that does not exist",
         {"-o", "none/out.wav", "tone.wav"},
         1,
         "none/out.wav: No such file or directory"},
        {"an output that is a file to play",
         {"-o", "tone.wav", "-l", "-t", "1", "tone.wav"},
         1,
         "tone.wav: the output is also a file to play"},
        {"an output that is a sequence's sound",
         {"-o", "./tone.wav", "-s", "tone.seq"},
         1,
         "./tone.wav: the output is also a file to play"},
        {"an output that is a folder", {"-o", ".", "tone.wav"}, 1, ".: Is a directory"},
        {"a full device", {"-o", "/dev/full", "-t", "1", "-l", "tone.wav"}, 1, "/dev/full: No space left on device"},
        // Ignored, SIGXFSZ leaves the write to fail; the partial file is removed.
        {"a file size limit",
         {"-o", "out.wav", "-t", "10", "-l", "tone.wav"},
         1,
         "out.wav: File too large",
         true,
         "ulimit -f 64; trap '' XFSZ; "},
        {"no sound device", {"tone.wav"}, 1, "no sound device: ", false, "SDL_AUDIODRIVER=nosuchdriver "},
    };
    // The handle table holds the root, the sampler and 509 voices; 510 sounds
    // at half volume still fit the mixer. The engine says it has no node first.
    playtest_row voices = {"one sound more than the engine has voices",
                           {"-o", "out.wav", "-v", "128"},
                           1,
                           "tone.wav: the audio engine has no voice free",
                           false};
    voices.args.insert(voices.args.end(), 510, "tone.wav");
    rows.push_back(voices);
    playtest_rows(dir, rows);
}

TEST_F(Emplay, RendersAreFrameExactWithHeadersThatMatchTheirData)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
        int64_t frames; // the file's frames
    } rows[] = {
        {"-t 1 of a loop", {"-t", "1", "-l", "tone.wav"}, 44100},
        {"-t 0.01", {"-t", "0.01", "-l", "tone.wav"}, 441},
        {"-t of one frame", {"-t", "0.0000227", "-l", "tone.wav"}, 1},
        {"-t 1 of a sound that ends first: its buffer", {"-t", "1", "short.wav"}, 10240},
        {"a sample ends in its engine buffer", {"short.wav"}, 10240},
        {"twice as fast", {"-r", "2", "short.wav"}, 5120},
        {"the longest sound decides", {"stereo.wav", "short.wav", "tone.wav"}, 10240},
        {"an Ogg file named .oga, by its content", {"-v", "300", "tone.oga"}, 22528},
        {"the loudest volume at the side", {"-v", "65536", "-p", "-128", "-t", "0.1", "-l", "tone.wav"}, 4410},
        {"a 3-D circle for 1.5 s", {"-t", "1.5", "-3", "circle", "tone.wav", "stereo.wav"}, 66150},
        {"a fly-past's own 4 s", {"-3", "flyby", "tone.wav"}, 176400},
        {"4096 steps on eight channels, 0.2 s", {"-s", "steps4096.seq", "-t", "0.2"}, 8820},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> args = {"-o", "out.wav"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const playtest_result result = playtest_run(dir, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(playtest_frames(dir + "/out.wav"), row.frames);
        const std::string file = playtest_readfile(dir + "/out.wav");
        EXPECT_TRUE(std::any_of(file.begin() + WAVFILE_HEADERBYTES, file.end(), [](char c) { return c != 0; })) << "silent";
        remove((dir + "/out.wav").c_str());
    }
}

TEST_F(Emplay, SequenceExampleRendersTheSameBytesTwice)
{
    const char* source = getenv("QUORREL_SOURCE_DIR");
    const std::string seq = std::string(source ? source : ".") + "/tools/emplay/examples/beat.seq";
    ASSERT_EQ(playtest_run(dir, {"-s", seq, "-o", "one.wav"}).status, 0);
    ASSERT_EQ(playtest_run(dir, {"-s", seq, "-o", "two.wav"}).status, 0);
    const std::string one = playtest_readfile(dir + "/one.wav");
    EXPECT_EQ(one, playtest_readfile(dir + "/two.wav"));
    EXPECT_EQ(playtest_frames(dir + "/one.wav"), 2 * 88200); // two passes, to the frame
    EXPECT_GT(std::count_if(one.begin() + 44, one.end(), [](char b) { return b > 0x10 && b < 0x70; }), 100000);
}

// The arguments of a render slow enough to be caught in the middle on any
// machine: 24000 s of 200 voices circling the listener.
std::vector<std::string> playtest_longrender(const std::string& output)
{
    std::vector<std::string> args = {EMPLAY_PATH, "-o", output, "-t", "24000", "-3", "circle"};
    args.insert(args.end(), 200, "tone.wav");
    return args;
}

// In a forked child: runs the arguments in dir, standard output and error to files there.
void playtest_exec(const std::string& dir, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (chdir(dir.c_str()) == 0)
        execv(argv[0], argv.data());
    _exit(127);
}

// Waits for a child for at most two minutes, then kills it; its wait status.
int playtest_wait(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 1200 && waitpid(pid, &status, WNOHANG) == 0; i++)
        usleep(100000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the child hung";
    }
    return status;
}

TEST_F(Emplay, AnInterruptedRenderLeavesNoFile)
{
    const std::string out = dir + "/big.wav";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen((dir + "/big.err").c_str(), "w", stderr);
        playtest_exec(dir, playtest_longrender("big.wav"));
    }
    struct stat st;
    for (int i = 0; i < 1200 && (stat(out.c_str(), &st) != 0 || st.st_size < (1 << 20)); i++)
        usleep(100000);
    kill(pid, SIGTERM);
    const int status = playtest_wait(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(playtest_exists(out));
    EXPECT_EQ(playtest_readfile(dir + "/big.err"), "emplay: big.wav: interrupted\n");
}

TEST_F(Emplay, ProgressLineOnATerminal)
{
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0)
        playtest_exec(dir, playtest_longrender("/dev/null"));
    // The line comes after two seconds of rendering; then the render is stopped.
    std::string text;
    const std::string line = "\remplay: /dev/null: ";
    bool stopped = false;
    for (int polls = 0; polls < 1200; polls++) {
        pollfd p = {terminal, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char chunk[256];
            const ssize_t n = read(terminal, chunk, sizeof(chunk));
            if (n <= 0)
                break; // the child is gone
            text.append(chunk, static_cast<size_t>(n));
        }
        if (!stopped && text.find("%)") != std::string::npos) {
            kill(pid, SIGINT);
            stopped = true;
        }
    }
    const int status = playtest_wait(pid);
    close(terminal);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    const size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NE(text.find(" of 24000.0 s rendered (", at), std::string::npos) << text;
    EXPECT_NE(text.find("emplay: /dev/null: interrupted"), std::string::npos) << text;
}

} // namespace
