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

// At unit speed the output is the direct decode; a stream shorter than the run loops without a gap, moving its start
// clock a pass on at each restart; a stop leaves silence.
TEST_F(Music, OutputEqualsTheDirectDecodeAndLoopsWithoutAGap)
{
    for (const auto& file : {std::make_pair(stereo44, 88200u), std::make_pair(mono44, 44100u), std::make_pair(short44, 4410u)}) {
        SCOPED_TRACE(file.first);
        const std::vector<int16_t> pass = emtest_heard(file.first);
        ASSERT_EQ(pass.size(), file.second * 2);
        ASSERT_EQ(em_playoggmusic(music, file.first.c_str()), 0);
        const uint32_t start = static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK));
        const std::vector<int16_t> heard = kit_render(40);
        for (size_t i = 0; i < heard.size(); i++)
            ASSERT_EQ(heard[i], pass[i % pass.size()]) << "value " << i;
        const uint32_t restarts = 40 * 1024 / file.second;
        EXPECT_EQ(static_cast<uint32_t>(em_getparam(music, EMP_STARTCLOCK)), start + restarts * file.second);
        em_stopoggmusic(music);
        for (const int16_t v : kit_render())
            ASSERT_EQ(v, 0);
    }
}

TEST_F(Music, SwitchFadesOutThenPlaysTheNextStream)
{
    const std::vector<int16_t> first = mixgen_decodeogg(stereo44);
    const std::vector<int16_t> second = emtest_heard(other44);
    em_setparam(music, EMP_VOLUME, 256);
    ASSERT_EQ(em_playoggmusic(music, stereo44.c_str()), 0);
    em_setparam(music, EMP_SWITCHMODE, 1);
    kit_render();
    EXPECT_EQ(em_playoggmusic(music, other44.c_str()), 0);
    for (int call = 1; call <= 51; call++) {
        const std::vector<int16_t> heard = kit_render();
        const int32_t volume = 256 - 5 * call;
        ASSERT_EQ(em_getparam(music, EMP_VOLUME), volume);
        const size_t base = static_cast<size_t>(call) * 2048;
        for (size_t i = 0; i < heard.size(); i += 97)
            ASSERT_EQ(heard[i], first[base + i] * volume / 256) << call << " " << i;
    }
    EXPECT_EQ(kit_render(), std::vector<int16_t>(second.begin(), second.begin() + 2048));
    EXPECT_EQ(em_getparam(music, EMP_VOLUME), 256);
}

// A switch to a file that cannot be opened fades out, says so, and leaves silence with the volume given back.
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
    EXPECT_EQ(kit_render(), std::vector<int16_t>(2048, 0));
}

// A stop, or a direct start, during the fade drops the pending switch and gives back the volume last set (or the first).
TEST_F(Music, CancelledSwitchRestoresTheVolume)
{
    const std::vector<int16_t> next = mixgen_decodeogg(other44);
    const struct {
        const char* what;
        int32_t setvolume; // -1: never set
        bool stop;         // stop, then start directly; else start directly during the fade
    } cases[] = {{"stop, volume set", 200, true},
                 {"direct start, volume set", 200, false},
                 {"stop, volume never set", -1, true},
                 {"direct start, volume never set", -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int node = em_createoggmusic(em_getroot());
        if (c.setvolume >= 0)
            em_setparam(node, EMP_VOLUME, c.setvolume);
        const int32_t volume = c.setvolume >= 0 ? c.setvolume : 256;
        ASSERT_EQ(em_playoggmusic(node, stereo44.c_str()), 0);
        em_setparam(node, EMP_SWITCHMODE, 1);
        ASSERT_EQ(em_playoggmusic(node, other44.c_str()), 0);
        kit_render(10);
        ASSERT_EQ(em_getparam(node, EMP_VOLUME), volume - 50) << "fading";
        if (c.stop)
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

} // namespace
