// test_loaders.cpp -- sounds through libsndfile from files and memory, frames from the caller, and the WAV
// reader's plain-word refusals: exact values where the format is lossless, each failure with its reason
#include <sys/resource.h>

#include <cerrno>
#include <csignal>

#include "tests/kit/kit_em.h"

namespace {

std::vector<int32_t> emtest_valuesof(int handle)
{
    const em_sample* s = em_getsample(handle);
    return s ? std::vector<int32_t>(s->data, s->data + s->length * s->channels) : std::vector<int32_t> {};
}

// A load refused: 0, with the reason why (its beginning where why ends in an open bracket).
void emtest_refused(int handle, const std::string& why)
{
    const std::string got = em_sampleerror();
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(why.back() == '(' ? got.substr(0, why.size()) : got, why);
}

using Loaders = kit_engine;

// Lossless formats give exact values, from a file and from the same bytes in memory alike: 16-bit as they are, 8-bit
// times 256, wider integers rounded to the nearest (halves upward) and clipped, floats scaled by 32768 and clipped.
TEST_F(Loaders, EveryLosslessFormatGivesExactValues)
{
    const kit_tempdir dir;
    const double s = 1 / 32768.0, q = 1 / 8388608.0; // one step of a 16-bit and of a 24-bit value
    const int wav = SF_FORMAT_WAV, pcm16 = SF_FORMAT_PCM_16;
    const struct {
        const char* what;
        int format, channels, rate;
        std::vector<double> in;
        std::vector<int32_t> out;
    } cases[] = {
        {"16-bit WAV", wav | pcm16, 1, 22050, {0, s, -1, 32767 * s, -1234 * s}, {0, 1, -32768, 32767, -1234}},
        {"8-bit WAV", wav | SF_FORMAT_PCM_U8, 1, 8000, {0, 1 / 128.0, -1, 127 / 128.0}, {0, 256, -32768, 32512}},
        {"24-bit WAV", wav | SF_FORMAT_PCM_24, 1, 44100, {128 * q, -128 * q, 127 * q, -129 * q, 1 - q}, {1, 0, 0, -1, 32767}},
        {"32-bit WAV", wav | SF_FORMAT_PCM_32, 2, 48000, {s / 2, -32769 * s / 65536, 0.5, -1}, {1, -1, 16384, -32768}},
        {"float WAV", wav | SF_FORMAT_FLOAT, 1, 44100, {0.5, 1.0, -2.0, 0.25 * s, 0.75 * s}, {16384, 32767, -32768, 0, 1}},
        {"double WAV", wav | SF_FORMAT_DOUBLE, 2, 96000, {-0.25, 0.125, 4.0, std::nan("")}, {-8192, 4096, 32767, 0}},
        {"extensible WAV", SF_FORMAT_WAVEX | pcm16, 2, 44100, {0.5, -0.5, 100 * s, -7 * s}, {16384, -16384, 100, -7}},
        {"FLAC", SF_FORMAT_FLAC | pcm16, 2, 44100, {0.5, -0.5, 100 * s, -7 * s}, {16384, -16384, 100, -7}},
        {"AIFF", SF_FORMAT_AIFF | pcm16, 1, 11025, {-3 * s, 3 * s}, {-3, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("sound");
        ASSERT_TRUE(kit_writesf(path, c.format, c.channels, c.rate, c.in));
        const std::string bytes = kit_readfile(path);
        for (const int handle :
             {em_loadsound(path.c_str()), em_loadsamplemem(bytes.data(), static_cast<int32_t>(bytes.size()))}) {
            ASSERT_NE(handle, 0) << em_sampleerror();
            EXPECT_STREQ(em_sampleerror(), "");
            EXPECT_EQ((std::pair(em_getsample(handle)->channels, em_getsample(handle)->rate)), (std::pair(c.channels, c.rate)));
            EXPECT_EQ(emtest_valuesof(handle), c.out);
            em_freesample(handle);
        }
    }
}

// Lossy formats load at their own rate with their length; the bytes of one in memory give the same sound.
TEST_F(Loaders, OggVorbisAndOpusLoadAtTheirOwnRate)
{
    const kit_tempdir dir;
    std::vector<double> tone(2 * 9600);
    for (size_t i = 0; i < tone.size(); i++)
        tone[i] = 0.5 * std::sin(static_cast<double>(i / 2) * 0.05);
    for (const auto& c : {std::pair(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100), std::pair(SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000)}) {
        SCOPED_TRACE(c.second);
        const std::string path = dir.file("lossy");
        ASSERT_TRUE(kit_writesf(path, c.first, 2, c.second, tone)) << "this libsndfile cannot write it";
        const int handle = em_loadsound(path.c_str());
        ASSERT_NE(handle, 0) << em_sampleerror();
        const em_sample* s = em_getsample(handle);
        EXPECT_EQ((std::vector<int32_t> {s->channels, s->rate, s->length}), (std::vector<int32_t> {2, c.second, 9600}));
        int32_t peak = 0;
        for (const int32_t v : emtest_valuesof(handle))
            peak = std::max(peak, std::abs(v));
        EXPECT_NEAR(peak, 16384, 2500) << "a half-scale tone (lossy codecs overshoot at the onset)";
        const std::string bytes = kit_readfile(path);
        const int again = em_loadsamplemem(bytes.data(), static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(emtest_valuesof(again), emtest_valuesof(handle));
    }
}

// Frames from the caller are copied as they are; each bad argument gives its reason and fills no slot.
TEST_F(Loaders, RawFramesAreCopiedAndBadArgumentsRefused)
{
    const std::vector<int16_t> frames = {-32768, 32767, 5, -5, 0, 1};
    const int stereo = em_loadsampleraw(frames.data(), 3, 2, 32000);
    ASSERT_NE(stereo, 0) << em_sampleerror();
    EXPECT_EQ(emtest_valuesof(stereo), std::vector<int32_t>(frames.begin(), frames.end()));
    EXPECT_EQ(em_getsample(stereo)->rate, 32000);
    EXPECT_EQ(em_getsample(em_loadsampleraw(frames.data(), 6, 1, 44100))->length, 6);
    const struct {
        const int16_t* frames;
        int32_t count;
        int channels;
        int32_t rate;
        const char* why;
    } bad[] = {{nullptr, 3, 1, 44100, "no frames to read"},
               {frames.data(), 0, 1, 44100, "no whole frame of sound"},
               {frames.data(), -1, 1, 44100, "no whole frame of sound"},
               {frames.data(), INT32_MAX, 2, 44100, "too long"},
               {frames.data(), 3, 0, 44100, "0 channels: the engine plays 1 or 2"},
               {frames.data(), 2, 3, 44100, "3 channels: the engine plays 1 or 2"},
               {frames.data(), 3, 1, 0, "sample rate out of range"},
               {frames.data(), 3, 1, INT32_MAX, "sample rate out of range"}};
    const int32_t held = emio_getbytes();
    for (const auto& b : bad)
        emtest_refused(em_loadsampleraw(b.frames, b.count, b.channels, b.rate), b.why);
    EXPECT_EQ(emio_getbytes(), held);
    EXPECT_EQ(em_freesampleslot(), 3);
}

// Files and bytes that are no sound, or a sound the engine cannot play, give their reasons; nothing is printed or kept.
TEST_F(Loaders, BadFilesAndBytesGiveTheirReasons)
{
    const kit_tempdir dir;
    ASSERT_TRUE(kit_writesf(dir.file("three.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 44100, std::vector<double>(30, 0.1)));
    ASSERT_TRUE(kit_writesf(dir.file("empty.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, {}));
    kit_writefile(dir.file("text.txt"), std::string("not a sound at all, just some words in a file\n"));
    const struct {
        const char *file, *why;
    } bad[] = {{"missing.wav", "No such file or directory"},
               {"three.wav", "3 channels: the engine plays 1 or 2"},
               {"empty.wav", "no whole frame of sound"},
               {"text.txt", "not a sound file the engine reads ("}};
    kit_capture cap;
    const int32_t held = emio_getbytes();
    for (const auto& b : bad) {
        SCOPED_TRACE(b.file);
        emtest_refused(em_loadsound(dir.file(b.file).c_str()), b.why);
        const std::string bytes = kit_readfile(dir.file(b.file));
        if (!bytes.empty())
            emtest_refused(em_loadsamplemem(bytes.data(), static_cast<int32_t>(bytes.size())), b.why);
    }
    emtest_refused(em_loadsound(nullptr), "no file name");
    const uint8_t some[4] = {'R', 'I', 'F', 'F'};
    for (const auto& [bytes, size] : {std::pair(some, 0), std::pair(some, -1), std::pair<const uint8_t*, int>(nullptr, 4)})
        emtest_refused(em_loadsamplemem(bytes, size), "no bytes to read");
    EXPECT_EQ(emio_getbytes(), held);
    EXPECT_EQ(cap.out() + cap.err(), "");
}

// The bank full or the engine down: every loader says so.
TEST(LoadersLife, AFullBankAndCallsBeforeTheStart)
{
    const int16_t frame[2] = {1, 2};
    const uint8_t byte = 0;
    for (int round = 0; round < 2; round++) {
        if (round == 1) {
            ASSERT_EQ(kit_startpaused(), 0);
            while (em_loadsampleraw(frame, 1, 1, 44100) != 0) { }
        }
        const char* why = round == 0 ? "the audio engine is not started" : "all 511 sample slots are in use";
        emtest_refused(em_loadsampleraw(frame, 1, 2, 44100), why);
        emtest_refused(em_loadsamplemem(&byte, 1), why);
        emtest_refused(em_loadsound("/dev/null"), why);
    }
    kit_stopengine();
}

// SDL's WAV reader keeps its rules; the files it refuses get reasons that name the fix (the cut file, 3 channels and
// 24 bits are rows of the bad-file table).
TEST_F(Loaders, TheWavReaderNamesTheFix)
{
    const kit_tempdir dir;
    const struct {
        uint16_t tag, channels, bits;
        const char* why;
    } rows[] = {{1, 1, 32, "32-bit WAV: load it with em_loadsound"},
                {3, 1, 32, "floating-point WAV: load it with em_loadsound"},
                {0xfffe, 2, 16, "24-bit or multichannel WAV: load it with em_loadsound"}};
    for (const auto& r : rows) {
        kit_writewav(dir.file("x.wav"), r.tag, r.channels, 44100, r.bits, std::vector<uint8_t>(600, 7));
        emtest_refused(em_loadsample(dir.file("x.wav").c_str()), r.why);
    }
}

// The writer's bytes, header and values, for a small stereo render; it needs no engine.
TEST(WavWriter, WritesAHeaderThatMatchesItsData)
{
    const kit_tempdir dir;
    const int16_t frames[] = {1, -2, 0x1234, -32768, 32767, 0};
    const std::string path = dir.file("out.wav");
    ASSERT_EQ(em_writewav(path.c_str(), frames, 3, 2, 22050), 0);
    const std::vector<uint8_t> expected = {'R',  'I',  'F', 'F', 48,   0,    0,    0,    'W', 'A',  'V',  'E',  'f', 'm',
                                           't',  ' ',  16,  0,   0,    0,    1,    0,    2,   0,    0x22, 0x56, 0,   0,
                                           0x88, 0x58, 1,   0,   4,    0,    16,   0,    'd', 'a',  't',  'a',  12,  0,
                                           0,    0,    1,   0,   0xfe, 0xff, 0x34, 0x12, 0,   0x80, 0xff, 0x7f, 0,   0};
    EXPECT_EQ(kit_readfile(path), std::string(expected.begin(), expected.end()));
    ASSERT_EQ(em_writewav(path.c_str(), frames, 0, 1, 8000), 0) << "no frames: a header alone";
    EXPECT_EQ(kit_readfile(path).size(), 44u);
    ASSERT_EQ(em_writewav(path.c_str(), nullptr, 0, 1, 8000), 0);
}

// Each refusal gives -1, says why through the log with errno set, and leaves no file behind it.
TEST(WavWriter, RefusalsAndFailedWritesAreReportedAndLeaveNoFile)
{
    const kit_tempdir dir;
    const int16_t frames[4] = {};
    const std::string out = dir.file("out.wav"), nothing = ": nothing to write (";
    const char* o = out.c_str();
    kit_loglines hook;
    // the result of a write, the name it prints, the errno it should leave and the rest of its line
    const auto refused = [&](int result, const std::string& name, int error, const std::string& why) {
        const int got = errno;
        EXPECT_EQ(result, -1) << why;
        EXPECT_EQ(got, error) << why;
        EXPECT_EQ(hook.lines, (std::vector<std::pair<int, std::string>> {{EM_LOGERROR, "ERROR: em_writewav: " + name + why}}));
        EXPECT_NE(access(o, F_OK), 0) << why;
        hook.lines.clear();
        errno = 0;
    };
    errno = 0;
    refused(em_writewav(nullptr, frames, 1, 1, 44100), "(no name)", EINVAL, nothing + "1 frames of 1 channels at 44100 Hz)");
    refused(em_writewav(o, nullptr, 1, 1, 44100), out, EINVAL, nothing + "1 frames of 1 channels at 44100 Hz)");
    refused(em_writewav(o, frames, -1, 1, 44100), out, EINVAL, nothing + "-1 frames of 1 channels at 44100 Hz)");
    refused(em_writewav(o, frames, 1, 0, 44100), out, EINVAL, nothing + "1 frames of 0 channels at 44100 Hz)");
    refused(em_writewav(o, frames, 1, 3, 44100), out, EINVAL, nothing + "1 frames of 3 channels at 44100 Hz)");
    refused(em_writewav(o, frames, 1, 2, 0), out, EINVAL, nothing + "1 frames of 2 channels at 0 Hz)");
    refused(em_writewav(o, frames, 1073741815, 2, 44100), out, EFBIG, ": 1073741815 frames pass the WAV format's 4 GiB");
    refused(em_writewav(o, frames, INT32_MAX, 1, 44100), out, EFBIG, ": 2147483647 frames pass the WAV format's 4 GiB");
    refused(em_writewav("/nonexistent/out.wav", frames, 1, 1, 44100), "/nonexistent/out.wav", ENOENT,
            ": No such file or directory");
    refused(em_writewav("/dev/full", frames, 2, 2, 44100), "/dev/full", ENOSPC, ": No space left on device");
    // A file that grows past the process's size limit is cut short: it is removed.
    rlimit saved, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    small = saved, small.rlim_cur = 10000;
    const auto oldxfsz = signal(SIGXFSZ, SIG_IGN);
    const std::vector<int16_t> many(20000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = em_writewav(o, many.data(), 10000, 2, 44100);
    const int error = errno;
    setrlimit(RLIMIT_FSIZE, &saved);
    errno = error;
    refused(result, out, EFBIG, ": File too large");
    signal(SIGXFSZ, oldxfsz);
}

} // namespace
