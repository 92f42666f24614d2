// test_music.cpp -- the Ogg Vorbis music node on encoded tones
#include "tests/kit/kit_em.h"
#include "tools/mixgen/oggwriter.h"

namespace {

class Music : public kit_engine {
protected:
    static inline kit_tempdir* dir;
    static inline std::string stereo44, mono44, short44, other44;
    int music = 0;

    static void SetUpTestSuite()
    {
        dir = new kit_tempdir;
        mixgen_writeogg(stereo44 = dir->file("s44.ogg"), 2, 44100, 44100 * 2, 440);
        mixgen_writeogg(mono44 = dir->file("m44.ogg"), 1, 44100, 44100, 330);
        mixgen_writeogg(short44 = dir->file("short.ogg"), 2, 44100, 4410, 1000);
        mixgen_writeogg(other44 = dir->file("other.ogg"), 2, 44100, 44100, 550);
    }
    static void TearDownTestSuite() { delete dir; }
    void SetUp() override
    {
        kit_engine::SetUp();
        music = em_createoggmusic(em_getroot());
        ASSERT_NE(music, 0);
    }
};

// The decoded file as stereo frames (mono on both sides); the tones stay below the limiter's knee, which passes them.
std::vector<int16_t> emtest_heard(const std::string& path)
{
    int channels = 0;
    const std::vector<int16_t> decoded = mixgen_decodeogg(path, &channels);
    std::vector<int16_t> stereo;
    for (size_t i = 0; i < decoded.size(); i += static_cast<size_t>(channels)) {
        stereo.push_back(decoded[i]);
        stereo.push_back(decoded[i + static_cast<size_t>(channels) - 1]);
    }
    return stereo;
}

// Stereo frames of a decoded stream, from frame on, count of them.
std::vector<int16_t> emtest_frames(const std::vector<int16_t>& pass, size_t frame, size_t count = 1024)
{
    return std::vector<int16_t>(pass.begin() + 2 * frame, pass.begin() + 2 * (frame + count));
}

// Every event waiting, as {type, handle, clock} rows.
using emtest_rows = std::vector<std::vector<int64_t>>;
emtest_rows emtest_musicevents()
{
    emtest_rows rows;
    for (em_event ev; em_pollevent(&ev) == 1;)
        rows.push_back({ev.type, ev.handle, ev.sampleclock});
    return rows;
}

// A switch fades the stream out by 5 a buffer from the node's volume (never set: 256); the buffer after the fade plays
// the next stream from its start at that volume, and the switch is posted.
TEST_F(Music, SwitchFadesOutThenPlaysTheNextStream)
{
    const std::vector<int16_t> first = mixgen_decodeogg(stereo44);
    ASSERT_EQ(em_playoggmusic(music, stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    kit_render();
    EXPECT_EQ(em_playoggmusic(music, other44.c_str()), 0);
    for (int call = 1; call <= 51; call++) {
        const std::vector<int16_t> heard = kit_render();
        const int32_t volume = 256 - 5 * call;
        ASSERT_EQ(em_getparam(music, EMP_VOLUME), volume);
        for (size_t i = 0; i < heard.size(); i += 97)
            ASSERT_EQ(heard[i], first[static_cast<size_t>(call) * 2048 + i] * volume / 256) << call << " " << i;
    }
    EXPECT_EQ(kit_render(), emtest_frames(emtest_heard(other44), 0));
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 256);
    EXPECT_EQ(emtest_musicevents(), (emtest_rows {{EME_MUSICSWITCH, music, 52 * 1024}}));
}

// With EMP_FADEMS the switch's fade-out is a straight line over that many milliseconds (100 ms: 4410 frames) from the
// volume in force, frame by frame; the buffer after it ends plays the next stream at the volume set.
TEST_F(Music, SwitchFadesOverTheChosenLength)
{
    const std::vector<int16_t> first = mixgen_decodeogg(stereo44), second = mixgen_decodeogg(other44);
    em_setparam(music, EMP_VOLUME, 200);
    ASSERT_EQ(em_setparam(music, EMP_FADEMS, 100), 0);
    ASSERT_EQ(em_playoggmusic(music, stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    EXPECT_EQ(em_playoggmusic(music, other44.c_str()), 0);
    const std::vector<int16_t> heard = kit_render(5);
    // after 2205 of the 4410 frames the gain is 100; after 4409, 200 - 200 x 4409 / 4410 toward zero: 1; then 0
    for (const auto& spot : {std::make_pair(2204, 100), std::make_pair(4408, 1), std::make_pair(4409, 0)}) // {frame, gain}
        EXPECT_EQ(heard[2 * spot.first], em_limit(first[2 * spot.first] * spot.second / 256)) << spot.first;
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 0);
    const std::vector<int16_t> next = kit_render();
    for (size_t i = 0; i < next.size(); i++)
        ASSERT_EQ(next[i], em_limit(second[i] * 200 / 256)) << i;
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 200);
}

// A switch to a file that cannot be opened fades out, says so, posts its failure and stops, the volume given back.
TEST_F(Music, SwitchToAMissingFileEndsInSilence)
{
    em_setparam(music, EMP_VOLUME, 200);
    ASSERT_EQ(em_playoggmusic(music, stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    const std::string missing = dir->file("missing.ogg");
    EXPECT_EQ(em_playoggmusic(music, missing.c_str()), 0) << "queued";
    kit_capture cap;
    kit_render(41);
    EXPECT_EQ(cap.err(),
              "ERROR: em_openoggmusic: can't find " + missing + "\nERROR: em_switchoggmusic: couldn't open " + missing + "\n\n");
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 200);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
    EXPECT_EQ(emtest_musicevents(), (emtest_rows {{EME_SWITCHFAILED, music, 39 * 1024}}));
    EXPECT_EQ(kit_render(), std::vector<int16_t>(2048, 0));
}

// A stop, or a direct start, during the fade drops the pending switch and gives back the volume last set (or the first).
TEST_F(Music, CancelledSwitchRestoresTheVolume)
{
    const std::vector<int16_t> next = mixgen_decodeogg(other44);
    // {the volume set, -1 never; a stop before the direct start, else the direct start alone}
    for (const auto& c : {std::make_pair(200, true), std::make_pair(200, false), std::make_pair(-1, false)}) {
        SCOPED_TRACE(testing::Message() << c.first << " " << c.second);
        const int node = em_createoggmusic(em_getroot());
        if (c.first >= 0)
            em_setparam(node, EMP_VOLUME, c.first);
        const int32_t volume = c.first >= 0 ? c.first : 256;
        ASSERT_EQ(em_playoggmusic(node, stereo44.c_str()), 0);
        em_setparam(node, EMP_SWITCHMODE, 1);
        ASSERT_EQ(em_playoggmusic(node, other44.c_str()), 0);
        kit_render(10);
        ASSERT_EQ(em_getparam(node, EMP_VOLUME), volume - 50) << "fading";
        if (c.second)
            em_stopoggmusic(node);
        em_setparam(node, EMP_SWITCHMODE, 0);
        ASSERT_EQ(em_playoggmusic(node, other44.c_str()), 0);
        EXPECT_EQ(em_getparam(node, EMP_VOLUME), volume);
        const std::vector<int16_t> heard = kit_render();
        for (size_t i = 0; i < heard.size(); i++)
            ASSERT_EQ(heard[i], next[i] * volume / 256) << i;
        em_stopoggmusic(node);
        em_freeoggmusic(em_getnode(node));
    }
}

// Output frame k of a stream of rate played from its start reads stream frame k x rate / 44100 (the nearest one
// before the true place; at 44100 the direct decode, mono on both sides): at every rate, across buffers, through two
// restarts without a gap, each pass exactly EMP_OUTLENGTH frames, the start clock a pass on at each; a stop leaves
// silence; and a stream that plays once sounds to its last frame, then silence, its end posted with that frame's clock.
TEST_F(Music, EveryRatePlaysAtItsTrueSpeedAndAPassLastsItsOutLength)
{
    for (const int64_t rate : {8000, 11025, 22050, 44100, 48000}) {
        SCOPED_TRACE(rate);
        const std::string path = dir->file("rate" + std::to_string(rate) + ".ogg");
        mixgen_writeogg(path, rate == 44100 ? 1 : 2, rate, rate, 440); // a second: 44100 output frames a pass
        const std::vector<int16_t> pass = emtest_heard(path);
        const auto play = [&](int buffers, bool once) { // played from the start: looping, or once then silence
            const std::vector<int16_t> heard = kit_render(buffers);
            for (size_t i = 0; i < heard.size(); i++) {
                const int64_t k = static_cast<int64_t>(i / 2), at = k * rate / 44100 % static_cast<int64_t>(pass.size() / 2);
                ASSERT_EQ(heard[i], once && k >= 44100 ? 0 : pass[static_cast<size_t>(2 * at) + i % 2]) << "frame " << k;
            }
        };
        ASSERT_EQ(em_playoggmusic(music, path.c_str()), 0);
        EXPECT_EQ(em_getparam(music, EMP_OUTLENGTH), 44100);
        const uint32_t start = static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK));
        play(130, false); // 133120 frames: into the fourth pass
        EXPECT_EQ(static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK)), start + 3 * 44100);
        EXPECT_EQ(emtest_musicevents(), (emtest_rows {{EME_MUSICLOOP, music, start + 44100},
                                                      {EME_MUSICLOOP, music, start + 88200},
                                                      {EME_MUSICLOOP, music, start + 132300}}));
        em_stopoggmusic(music);
        EXPECT_EQ(kit_render(), std::vector<int16_t>(2048, 0));
        ASSERT_EQ(em_playoggmusic(music, path.c_str()), 0);
        ASSERT_EQ(em_setparam(music, EMP_LOOPCOUNT, 0), 0);
        const uint32_t once = static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK));
        play(44, true);
        EXPECT_EQ(emtest_musicevents(), (emtest_rows {{EME_MUSICEND, music, once + 44099}}));
        EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
    }
}

// A loop count of 2 plays three passes and counts down at each restart; -1 plays on; below -1, or with nothing playing, -1.
TEST_F(Music, LoopCountPlaysThatManyMorePasses)
{
    EXPECT_EQ(em_setparam(music, EMP_LOOPCOUNT, 2), -1) << "nothing playing";
    EXPECT_EQ(em_getparam(music, EMP_LOOPCOUNT), -1);
    ASSERT_EQ(em_playoggmusic(music, short44.c_str()), 0); // 4410 frames a pass
    EXPECT_EQ(em_getparam(music, EMP_LOOPCOUNT), -1);
    EXPECT_EQ(em_setparam(music, EMP_LOOPCOUNT, -2), -1);
    ASSERT_EQ(em_setparam(music, EMP_LOOPCOUNT, 2), 0);
    EXPECT_EQ(em_getparam(music, EMP_STATE), 4);
    kit_render(5); // 5120 frames: one restart
    EXPECT_EQ(em_getparam(music, EMP_LOOPCOUNT), 1);
    kit_render(8); // 13312 frames: the last pass ends at 13230
    EXPECT_EQ(em_getparam(music, EMP_STATE), 0);
    EXPECT_EQ(emtest_musicevents(),
              (emtest_rows {{EME_MUSICLOOP, music, 4410}, {EME_MUSICLOOP, music, 8820}, {EME_MUSICEND, music, 13229}}));
    ASSERT_EQ(em_playoggmusic(music, short44.c_str()), 0);
    EXPECT_EQ(em_getparam(music, EMP_LOOPCOUNT), -1) << "a new stream loops on";
    em_setparam(music, EMP_STATE, 3);
    EXPECT_EQ(em_getparam(music, EMP_LOOPCOUNT), 0);
    em_setparam(music, EMP_STATE, 4);
    EXPECT_EQ(em_getparam(music, EMP_LOOPCOUNT), -1);
}

// A seek plays on from the stream frame of that millisecond and reads back exactly; outside the stream it is refused.
TEST_F(Music, SeekPlaysOnFromTheStreamFrameOfItsTime)
{
    EXPECT_EQ(em_setparam(music, EMP_POSITIONMS, 0), -1) << "nothing playing";
    EXPECT_EQ(em_getparam(music, EMP_POSITIONMS), -1);
    const std::vector<int16_t> pass = emtest_heard(stereo44); // 2000 ms
    ASSERT_EQ(em_playoggmusic(music, stereo44.c_str()), 0);
    kit_render(3);
    EXPECT_EQ(em_getparam(music, EMP_POSITIONMS), 3072 * 1000 / 44100);
    for (const int32_t bad : {-1, 2001, INT32_MIN, INT32_MAX})
        EXPECT_EQ(em_setparam(music, EMP_POSITIONMS, bad), -1) << bad;
    ASSERT_EQ(em_setparam(music, EMP_POSITIONMS, 1500), 0);
    EXPECT_EQ(em_getparam(music, EMP_POSITIONMS), 1500);
    EXPECT_EQ(kit_render(2), emtest_frames(pass, 66150, 2048));
    EXPECT_EQ(em_getparam(music, EMP_POSITIONMS), (66150 + 2048) * 1000 / 44100);
    // the end itself: the next frame begins the next pass
    ASSERT_EQ(em_setparam(music, EMP_POSITIONMS, 2000), 0);
    EXPECT_EQ(kit_render(), emtest_frames(pass, 0));
    // a stream at 8000 Hz: 250 ms is stream frame 2000, read back as 250
    const std::string slow = dir->file("slow.ogg");
    mixgen_writeogg(slow, 1, 8000, 8000, 300);
    ASSERT_EQ(em_playoggmusic(music, slow.c_str()), 0);
    ASSERT_EQ(em_setparam(music, EMP_POSITIONMS, 250), 0);
    EXPECT_EQ(em_getparam(music, EMP_POSITIONMS), 250);
    const std::vector<int16_t> from = emtest_heard(slow);
    const std::vector<int16_t> out = kit_render();
    for (int k = 0; k < 1024; k++)
        ASSERT_EQ(out[static_cast<size_t>(2 * k)], from[static_cast<size_t>(2 * (2000 + k * 8000 / 44100))]) << k;
}

// A name as long as the system takes plays; one longer is refused with a message that says so.
TEST_F(Music, LongNamesPlayAndTooLongOnesSaySo)
{
    std::string deep = dir->file(std::string(200, 'd'));
    std::filesystem::create_directory(deep);
    while (deep.size() < 3800)
        std::filesystem::create_directory(deep += "/" + std::string(200, 'd'));
    const std::string name = deep + "/" + std::string(200, 'n') + ".ogg";
    std::filesystem::copy_file(short44, name);
    ASSERT_LT(name.size(), static_cast<size_t>(PATH_MAX));
    ASSERT_GT(name.size(), 4000u);
    kit_capture cap;
    EXPECT_EQ(em_playoggmusic(music, name.c_str()), 0);
    EXPECT_EQ(kit_render(), emtest_frames(emtest_heard(short44), 0));
    const std::string toolong(PATH_MAX, 'x');
    EXPECT_EQ(em_playoggmusic(music, toolong.c_str()), -1);
    EXPECT_EQ(cap.err(), "ERROR: em_startoggmusic: name is too long (" + std::to_string(PATH_MAX) +
                             " characters, the system takes " + std::to_string(PATH_MAX - 1) + "): " + std::string(64, 'x') +
                             "...\n");
}

// A whole Ogg Vorbis file into the sample bank; a file that cannot be one gives 0 and a reason, and nothing printed.
TEST_F(Music, OggFilesLoadIntoTheSampleBank)
{
    for (const std::string& path : {stereo44, mono44}) {
        SCOPED_TRACE(path);
        int channels = 0;
        const std::vector<int16_t> decoded = mixgen_decodeogg(path, &channels);
        const int handle = em_loadoggsample(path.c_str());
        ASSERT_NE(handle, 0) << em_sampleerror();
        EXPECT_STREQ(em_sampleerror(), "");
        const em_sample* s = em_getsample(handle);
        EXPECT_EQ((std::vector<int32_t> {s->channels, s->rate, s->step}), (std::vector<int32_t> {channels, 44100, 0x10000}));
        ASSERT_EQ(static_cast<size_t>(s->length) * s->channels, decoded.size());
        EXPECT_EQ(std::vector<int32_t>(s->data, s->data + decoded.size()), std::vector<int32_t>(decoded.begin(), decoded.end()));
        em_freesample(handle);
    }
    kit_writewav(dir->file("tone.wav"), 1, 1, 44100, 16, kit_bytes16(kit_values(100)));
    mixgen_writeogg(dir->file("three.ogg"), 3, 44100, 4410, 500);
    mixgen_writeogg(dir->file("empty.ogg"), 2, 44100, 0, 500);
    const struct {
        const char *file, *reason;
    } bad[] = {{"missing.ogg", "No such file or directory"},
               {"tone.wav", "not an Ogg Vorbis file"},
               {"three.ogg", "not 1 or 2 channels"},
               {"empty.ogg", "no sound in the stream"}};
    kit_capture cap;
    for (const auto& b : bad) {
        EXPECT_EQ(em_loadoggsample(dir->file(b.file).c_str()), 0) << b.file;
        EXPECT_STREQ(em_sampleerror(), b.reason);
    }
    EXPECT_EQ(em_loadoggsample(nullptr), 0);
    EXPECT_EQ(cap.out() + cap.err(), "") << "the bank prints nothing";
}

// The music ids on handles that name no music node, and before the start: refused, as every id is there.
TEST(MusicLife, SeekAndLoopCountElsewhereAreRefused)
{
    const auto refused = [](int handle) {
        for (const int id : {EMP_POSITIONMS, EMP_LOOPCOUNT}) {
            EXPECT_EQ(em_setparam(handle, id, 0), -1) << handle;
            EXPECT_EQ(em_getparam(handle, id), -1) << handle;
        }
    };
    refused(1);
    ASSERT_EQ(em_initoffline(), 0);
    for (const int handle :
         {0, -3, static_cast<int>(EM_MAXHANDLES), 77, em_createsampler(em_getroot(), -1), em_createsequencer(em_getroot(), 1, 1)})
        refused(handle);
    kit_stopengine();
}

} // namespace
