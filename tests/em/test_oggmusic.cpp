// test_oggmusic.cpp -- the Ogg Vorbis music node on files encoded by the tests
#include "em_harness.h"
#include "em_oggwriter.h"

namespace {

// Files shared by the whole suite, encoded once.
struct emtest_oggfiles {
    emtest_tempdir dir;
    std::string stereo44, mono44, stereo22, stereo48, mono48long, short44, other44, empty, notogg;
    emtest_oggfiles()
    {
        stereo44 = dir.file("s44.ogg");
        mono44 = dir.file("m44.ogg");
        stereo22 = dir.file("s22.ogg");
        stereo48 = dir.file("s48.ogg");
        mono48long = dir.file("m48.ogg");
        short44 = dir.file("short.ogg");
        other44 = dir.file("other.ogg");
        empty = dir.file("empty.ogg");
        notogg = dir.file("not.ogg");
        emtest_writeogg(stereo44, 2, 44100, 44100 * 2, 440);
        emtest_writeogg(mono44, 1, 44100, 44100, 330);
        emtest_writeogg(stereo22, 2, 22050, 22050, 440);
        emtest_writeogg(stereo48, 2, 48000, 48000, 440);
        emtest_writeogg(mono48long, 1, 48000, 480000, 220);
        emtest_writeogg(short44, 2, 44100, 4410, 1000);
        emtest_writeogg(other44, 2, 44100, 44100, 550);
        emtest_writeogg(empty, 2, 44100, 0, 440);
        emtest_writewav(notogg, 1, 1, 44100, 8, std::vector<uint8_t>(100, 128));
    }
};
emtest_oggfiles* files;

class Music : public emtest_engine {
protected:
    int music = 0;

    static void SetUpTestSuite()
    {
        if (!files)
            files = new emtest_oggfiles;
    }
    static void TearDownTestSuite()
    {
        delete files;
        files = nullptr;
    }
    void SetUp() override
    {
        emtest_engine::SetUp();
        music = em_createoggmusic(em_getroot());
        ASSERT_NE(music, 0);
    }

    // Renders buffers of output into one vector of interleaved values.
    std::vector<int16_t> play(int buffers)
    {
        std::vector<int16_t> all;
        for (int i = 0; i < buffers; i++) {
            const std::vector<int16_t> one = emtest_render();
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }
};

// The decoded file as stereo frames (mono on both sides), through the limiter.
std::vector<int16_t> emtest_heard(const std::string& path)
{
    int channels = 0;
    const std::vector<int16_t> decoded = emtest_decodeogg(path, &channels);
    std::vector<int16_t> stereo;
    for (size_t i = 0; i < decoded.size(); i += static_cast<size_t>(channels)) {
        stereo.push_back(em_limit(decoded[i]));
        stereo.push_back(em_limit(decoded[i + static_cast<size_t>(channels) - 1]));
    }
    return stereo;
}

TEST_F(Music, UnitSpeedOutputEqualsTheDirectDecode)
{
    for (const std::string* path : {&files->stereo44, &files->mono44}) {
        SCOPED_TRACE(*path);
        const std::vector<int16_t> expected = emtest_heard(*path);
        ASSERT_GE(expected.size(), 44100u * 2);
        ASSERT_EQ(em_playoggmusic(music, path->c_str()), 0);
        EXPECT_EQ(em_getparam(music, EMP_STATE), 4);
        EXPECT_EQ(em_getparam(music, EMP_RATE), 44100);
        const std::vector<int16_t> heard = play(40);
        for (size_t i = 0; i < heard.size(); i++)
            ASSERT_EQ(heard[i], expected[i]) << "value " << i;
        em_stopoggmusic(music);
        EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
        for (const int16_t v : play(1))
            ASSERT_EQ(v, 0);
    }
}

TEST_F(Music, StepsFollowRateAndSpeed)
{
    struct { const std::string* path; int32_t speed; int32_t step; } cases[] = {
        {&files->stereo22, 0x10000, 32768}, {&files->stereo44, 0x10000, 65536},
        {&files->stereo48, 0x10000, 71328}, {&files->stereo44, 0x8000, 32768},
        {&files->stereo44, 0x20000, 131072},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        EXPECT_EQ(em_setparam(music, EMP_PITCH, c.speed), 0);
        ASSERT_EQ(em_playoggmusic(music, c.path->c_str()), 0);
        EXPECT_EQ(em_getparam(music, EMP_PITCH), c.step);
        const std::vector<int16_t> expected = emtest_heard(*c.path);
        const std::vector<int16_t> heard = play(2);
        // Each output frame takes the stream frame under the 16.16 read point.
        // The fraction restarts with every buffer, and a read point that runs
        // past the 1024 decoded frames restarts at the next decoded block.
        int64_t block = 0, pos = 0, frac = 0;
        for (int64_t f = 0; f < 2048; f++) {
            if (f % 1024 == 0)
                frac = 0;
            if (pos >= 1024) {
                block += 1024;
                pos = 0;
            }
            ASSERT_EQ(heard[2 * f], expected[2 * (block + pos)]) << f;
            ASSERT_EQ(heard[2 * f + 1], expected[2 * (block + pos) + 1]) << f;
            frac += c.step;
            pos += frac >> 16;
            frac &= 0xFFFF;
        }
    }
    em_setparam(music, EMP_PITCH, 0x10000);
    EXPECT_EQ(em_getparam(music, EMP_PITCH), 65536);   // recomputed for the open 44100 Hz stream
}

TEST_F(Music, LengthsInFramesMillisecondsAndOutputFrames)
{
    EXPECT_EQ(em_getparam(music, EMP_LENGTHMS), 0);
    EXPECT_EQ(em_getparam(music, EMP_OUTLENGTH), 0);
    ASSERT_EQ(em_playoggmusic(music, files->mono48long.c_str()), 0);
    EXPECT_EQ(em_getparam(music, EMP_RATE), 48000);
    EXPECT_EQ(em_getparam(music, EMP_LENGTH), 480000);
    EXPECT_EQ(em_getparam(music, EMP_LENGTHMS), 10000);
    EXPECT_EQ(em_getparam(music, EMP_OUTLENGTH), 440999);
    em_stopoggmusic(music);
    EXPECT_EQ(em_getparam(music, EMP_LENGTH), 480000);  // the last stream's answers stay
}

TEST_F(Music, LoopingRestartsSeamlesslyAndMovesTheStartClock)
{
    const std::vector<int16_t> pass = emtest_heard(files->short44);
    const size_t frames = pass.size() / 2;
    ASSERT_EQ(frames, 4410u);
    ASSERT_EQ(em_playoggmusic(music, files->short44.c_str()), 0);
    const uint32_t start = static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK));
    EXPECT_EQ(start, emstate.samplepos);
    const std::vector<int16_t> heard = play(13);    // three passes and more
    for (size_t i = 0; i < heard.size(); i++)
        ASSERT_EQ(heard[i], pass[i % pass.size()]) << i;
    EXPECT_EQ(static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK)), start + 3 * 4410);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 4);
}

TEST_F(Music, EndWithoutLoopGivesSilenceAndStops)
{
    const std::vector<int16_t> pass = emtest_heard(files->short44);
    ASSERT_EQ(em_playoggmusic(music, files->short44.c_str()), 0);
    EXPECT_EQ(em_setparam(music, EMP_STATE, 3), 0);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 3);
    const std::vector<int16_t> heard = play(6);
    for (size_t i = 0; i < heard.size(); i++)
        ASSERT_EQ(heard[i], i < pass.size() ? pass[i] : 0) << i;
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
    EXPECT_EQ(em_setparam(music, EMP_STATE, 4), 0);     // no stream: no change
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
}

TEST_F(Music, FadeAndSwitch)
{
    const std::vector<int16_t> first = emtest_decodeogg(files->stereo44);
    const std::vector<int16_t> second = emtest_heard(files->other44);
    em_setparam(music, EMP_SWITCHMODE, 1);
    em_setparam(music, EMP_VOLUME, 256);
    // in switch mode a start waits for a playing stream
    ASSERT_EQ(em_playoggmusic(music, files->stereo44.c_str()), 0);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
    em_setparam(music, EMP_SWITCHMODE, 0);
    ASSERT_EQ(em_playoggmusic(music, files->stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    play(1);
    EXPECT_EQ(em_playoggmusic(music, files->other44.c_str()), 0);
    for (int call = 1; call <= 51; call++) {
        const std::vector<int16_t> heard = emtest_render();
        const int32_t volume = 256 - 5 * call;
        ASSERT_EQ(em_getparam(music, EMP_VOLUME), volume);
        const size_t base = static_cast<size_t>(call) * 2048;
        for (size_t i = 0; i < heard.size(); i += 97)
            ASSERT_EQ(heard[i], em_limit(first[base + i] * volume / 256)) << call << " " << i;
    }
    const std::vector<int16_t> switched = emtest_render();
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 256);
    for (size_t i = 0; i < switched.size(); i++)
        ASSERT_EQ(switched[i], second[i]) << i;
    EXPECT_EQ(em_getparam(music, EMP_STATE), 4);
}

TEST_F(Music, SwitchWithoutASetVolumePlaysSilently)
{
    ASSERT_EQ(em_playoggmusic(music, files->stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    ASSERT_EQ(em_playoggmusic(music, files->other44.c_str()), 0);
    play(52);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 4);
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 0);
    for (const int16_t v : play(1))
        ASSERT_EQ(v, 0);
}

TEST_F(Music, FilesThatCannotBeOpened)
{
    const std::string missing = "/nonexistent/emtest.ogg";
    {
        emtest_capture cap;
        EXPECT_EQ(em_playoggmusic(music, missing.c_str()), -1);
        EXPECT_EQ(cap.out(), "emio_open - file " + missing + " not found\n");
        EXPECT_EQ(cap.err(), "ERROR: em_openoggmusic: can't find " + missing +
                                 "\nERROR: em_startoggmusic: couldn't open " + missing + "\n\n");
    }
    {
        emtest_capture cap;
        EXPECT_EQ(em_playoggmusic(music, files->notogg.c_str()), -1);
        EXPECT_EQ(cap.out(), "");
        EXPECT_EQ(cap.err(), "ERROR: em_openoggmusic: can't open " + files->notogg +
                                 "\n\nERROR: em_startoggmusic: couldn't open " + files->notogg + "\n\n");
    }
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
    // a failed switch stops the stream
    ASSERT_EQ(em_playoggmusic(music, files->stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    em_setparam(music, EMP_VOLUME, 5);
    ASSERT_EQ(em_playoggmusic(music, missing.c_str()), 0);
    emtest_capture cap;
    emtest_render();
    EXPECT_EQ(cap.err(), "ERROR: em_openoggmusic: can't find " + missing +
                             "\nERROR: em_switchoggmusic: couldn't open " + missing + "\n\n");
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
}

TEST_F(Music, RefusedHandlesAndNames)
{
    EXPECT_EQ(em_playoggmusic(0, files->stereo44.c_str()), -1);
    EXPECT_EQ(em_playoggmusic(em_getroot(), files->stereo44.c_str()), -1);  // not a music node
    EXPECT_EQ(em_playoggmusic(music, nullptr), -1);
    EXPECT_EQ(em_createoggmusic(300), 0);
    em_stopoggmusic(0);
    const std::string longname = "/tmp/" + std::string(70, 'n') + ".ogg";
    emtest_capture cap;
    EXPECT_EQ(em_playoggmusic(music, longname.c_str()), -1);
    em_setparam(music, EMP_SWITCHMODE, 1);
    EXPECT_EQ(em_playoggmusic(music, longname.c_str()), -1);
    EXPECT_EQ(cap.err(), "ERROR: em_startoggmusic: couldn't open " + longname + "\n\n" +
                             "ERROR: em_startoggmusic: couldn't open " + longname + "\n\n");
}

TEST_F(Music, EmptyLoopingStreamStopsInsteadOfSpinning)
{
    ASSERT_EQ(em_playoggmusic(music, files->empty.c_str()), 0);
    for (const int16_t v : play(2))
        ASSERT_EQ(v, 0);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
}

TEST(MusicLife, NodesWithOpenStreamsAreReleasedAtShutdown)
{
    emtest_oggfiles* own = files ? nullptr : new emtest_oggfiles;
    const emtest_oggfiles* f = files ? files : own;
    ASSERT_EQ(em_init(), 0);
    const int a = em_createoggmusic(em_getroot());
    const int b = em_createoggmusic(a);
    EXPECT_EQ(em_playoggmusic(a, f->stereo44.c_str()), 0);
    EXPECT_EQ(em_playoggmusic(b, f->mono44.c_str()), 0);
    SDL_Delay(100);     // the real callback decodes meanwhile
    em_freeoggmusic(em_getnode(b));
    EXPECT_EQ(em_isnode(b), 0);
    emtest_capture cap;
    em_deinit();
    EXPECT_NE(cap.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    EXPECT_EQ(cap.err(), "");
    delete own;
}

}  // namespace
