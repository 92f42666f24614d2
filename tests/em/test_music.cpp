// test_music.cpp -- the Ogg Vorbis music node on encoded tones
#include "em_harness.h"
#include "em_oggwriter.h"

namespace {

class Music : public emtest_engine {
protected:
    static emtest_tempdir* dir;
    static std::string stereo44, mono44, short44, other44;
    int music = 0;

    static void SetUpTestSuite()
    {
        dir = new emtest_tempdir;
        emtest_writeogg(stereo44 = dir->file("s44.ogg"), 2, 44100, 44100 * 2, 440);
        emtest_writeogg(mono44 = dir->file("m44.ogg"), 1, 44100, 44100, 330);
        emtest_writeogg(short44 = dir->file("short.ogg"), 2, 44100, 4410, 1000);
        emtest_writeogg(other44 = dir->file("other.ogg"), 2, 44100, 44100, 550);
    }
    static void TearDownTestSuite() { delete dir; }
    void SetUp() override
    {
        emtest_engine::SetUp();
        music = em_createoggmusic(em_getroot());
        ASSERT_NE(music, 0);
    }
    static std::vector<int16_t> play(int buffers)
    {
        std::vector<int16_t> all;
        for (int i = 0; i < buffers; i++) {
            const std::vector<int16_t> one = emtest_render();
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }
};
emtest_tempdir* Music::dir;
std::string Music::stereo44, Music::mono44, Music::short44, Music::other44;

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
    for (const std::string& path : {stereo44, mono44}) {
        SCOPED_TRACE(path);
        const std::vector<int16_t> expected = emtest_heard(path);
        ASSERT_GE(expected.size(), 44100u * 2);
        ASSERT_EQ(em_playoggmusic(music, path.c_str()), 0);
        const std::vector<int16_t> heard = play(40);
        for (size_t i = 0; i < heard.size(); i++)
            ASSERT_EQ(heard[i], expected[i]) << "value " << i;
        em_stopoggmusic(music);
        for (const int16_t v : play(1))
            ASSERT_EQ(v, 0);
    }
}

TEST_F(Music, LoopingRestartsSeamlesslyAndMovesTheStartClock)
{
    const std::vector<int16_t> pass = emtest_heard(short44);
    ASSERT_EQ(pass.size(), 4410u * 2);
    ASSERT_EQ(em_playoggmusic(music, short44.c_str()), 0);
    const uint32_t start = static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK));
    const std::vector<int16_t> heard = play(13);
    for (size_t i = 0; i < heard.size(); i++)
        ASSERT_EQ(heard[i], pass[i % pass.size()]) << i;
    EXPECT_EQ(static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK)), start + 3 * 4410);
}

TEST_F(Music, SwitchFadesOutThenPlaysTheNextStream)
{
    const std::vector<int16_t> first = emtest_decodeogg(stereo44);
    const std::vector<int16_t> second = emtest_heard(other44);
    em_setparam(music, EMP_VOLUME, 256);
    ASSERT_EQ(em_playoggmusic(music, stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    play(1);
    EXPECT_EQ(em_playoggmusic(music, other44.c_str()), 0);
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
}

// A stop, or a direct start, during the fade drops the pending switch and
// gives the node back the volume last set (or its first one, never set), so
// the next stream is heard at that volume and not at the faded one.
TEST_F(Music, CancelledSwitchRestoresTheVolume)
{
    const std::vector<int16_t> next = emtest_decodeogg(other44);
    const struct {
        const char* what;
        int32_t setvolume; // -1: never set
        bool stop;         // stop, then start directly; else start directly during the fade
    } cases[] = {
        {"stop, volume set", 200, true},
        {"direct start, volume set", 200, false},
        {"stop, volume never set", -1, true},
        {"direct start, volume never set", -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int node = em_createoggmusic(em_getroot());
        ASSERT_NE(node, 0);
        if (c.setvolume >= 0)
            em_setparam(node, EMP_VOLUME, c.setvolume);
        const int32_t volume = c.setvolume >= 0 ? c.setvolume : 256;
        ASSERT_EQ(em_playoggmusic(node, stereo44.c_str()), 0);
        em_setparam(node, EMP_SWITCHMODE, 1);
        ASSERT_EQ(em_playoggmusic(node, other44.c_str()), 0);
        play(10);
        ASSERT_EQ(em_getparam(node, EMP_VOLUME), volume - 50) << "fading";
        if (c.stop)
            em_stopoggmusic(node);
        em_setparam(node, EMP_SWITCHMODE, 0);
        ASSERT_EQ(em_playoggmusic(node, other44.c_str()), 0);
        EXPECT_EQ(em_getparam(node, EMP_VOLUME), volume);
        const std::vector<int16_t> heard = emtest_render();
        for (size_t i = 0; i < heard.size(); i++)
            ASSERT_EQ(heard[i], em_limit(next[i] * volume / 256)) << i;
        em_stopoggmusic(node);
        em_freeoggmusic(em_getnode(node));
    }
}

// A whole Ogg Vorbis file into the sample bank: the decoded values at the
// file's own rate, mono or stereo; a file that cannot be one gives 0 and a
// reason, and the bank prints nothing.
TEST_F(Music, OggFilesLoadIntoTheSampleBank)
{
    for (const std::string& path : {stereo44, mono44}) {
        SCOPED_TRACE(path);
        int channels = 0;
        const std::vector<int16_t> decoded = emtest_decodeogg(path, &channels);
        const int handle = em_loadoggsample(path.c_str());
        ASSERT_NE(handle, 0) << em_sampleerror();
        EXPECT_STREQ(em_sampleerror(), "");
        const em_sample* s = em_getsample(handle);
        EXPECT_EQ(s->channels, channels);
        EXPECT_EQ(s->rate, 44100);
        EXPECT_EQ(s->step, 0x10000);
        ASSERT_EQ(static_cast<size_t>(s->length) * s->channels, decoded.size());
        EXPECT_EQ(std::vector<int32_t>(s->data, s->data + decoded.size()), std::vector<int32_t>(decoded.begin(), decoded.end()));
        em_freesample(handle);
    }
    const std::string wav = dir->file("tone.wav");
    emtest_writewav(wav, 1, 1, 44100, 16, emtest_bytes16(emtest_values(100)));
    const std::string three = dir->file("three.ogg");
    emtest_writeogg(three, 3, 44100, 4410, 500);
    const struct {
        std::string file, reason;
    } bad[] = {
        {dir->file("missing.ogg"), "No such file or directory"}, {wav, "not an Ogg Vorbis file"}, {three, "not 1 or 2 channels"}};
    emtest_capture cap;
    for (const auto& b : bad) {
        EXPECT_EQ(em_loadoggsample(b.file.c_str()), 0) << b.file;
        EXPECT_EQ(em_sampleerror(), b.reason);
    }
    EXPECT_EQ(em_loadoggsample(nullptr), 0);
    EXPECT_EQ(cap.out() + cap.err(), "") << "the bank prints nothing";
}

} // namespace
