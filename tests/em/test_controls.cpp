// test_controls.cpp -- master volume, pause, timed fades and the sequencer channel's ownership, value for value
#include "tests/kit/kit_em.h"
#include "tools/mixgen/oggwriter.h"

namespace {

// A paused engine with a sampler and a looping voice of a constant 1000 (500 a side in the sampler's buffer).
class Controls : public kit_engine {
protected:
    int sampler = 0, voice = 0, seq = 0;
    void SetUp() override
    {
        kit_engine::SetUp();
        sampler = em_createsampler(em_getroot(), -1);
        em_setparam(sampler, EMP_LOOP, 1);
        voice = em_triggersample(sampler, kit_makesample(std::vector<int16_t>(1000, 1000)));
        ASSERT_TRUE(sampler && voice);
    }
    // A running sequencer (seq) of one channel and one step sounding note 69 of a constant 1000 of frames frames once
    // a second from the next buffer on; the channel's handle.
    int onenote(int frames)
    {
        const int8_t note = 69;
        int channel = 0;
        seq = kit_sequencer(1, 44100, &note, kit_makesample(std::vector<int16_t>(frames, 1000)), &channel);
        return channel;
    }
    static std::vector<int32_t> rootleft(int buffers) { return kit_left(em_getroot(), buffers); }
};

// The master volume glides from the volume in force to the one set over one buffer (the midpoint at three quarters),
// then holds; above unity it amplifies, clamped to 32 bits before the limiter; outside 0..65536 it is refused.
TEST_F(Controls, MasterVolumeGlidesOverOneBufferAndClampsTheMix)
{
    const int root = em_getroot();
    ASSERT_EQ(em_setparam(root, EMP_VOLUME, 128), 0);
    const std::vector<int32_t> left = rootleft(2);
    EXPECT_EQ((std::vector<int32_t> {left[0], left[511], left[1023], left[1024], left[2047]}),
              (std::vector<int32_t> {500, 375, 250, 250, 250}));
    for (const int32_t bad : {-1, 65537, INT32_MIN})
        EXPECT_EQ(em_setparam(root, EMP_VOLUME, bad), -1) << bad;
    EXPECT_EQ(em_getparam(root, EMP_VOLUME), 128);
    // 256 times unity: 500 x 256 = 128000, past the limiter's knee; 1 << 24 x 256 clamps to INT32_MAX.
    em_setparam(root, EMP_VOLUME, 65536);
    rootleft(1);
    const std::vector<int32_t> loud(static_cast<size_t>(emstate.samples) * 2, 1 << 24);
    kit_addsource(emstate.root, loud.data());
    EXPECT_EQ(rootleft(1)[0], INT32_MAX);
    em_setparam(root, EMP_VOLUME, 0);
    EXPECT_EQ(kit_render(2)[2 * 1024 + 7], 0) << "silent once the glide to 0 is done";
}

// Pausing the root, a sampler, a 3-D sampler, a sequencer, a music node or an echo (its line, and a sampler under it
// sending to a reverb) holds it and its subtree: silent while paused, then the unpaused run's output, value for value.
TEST(ControlsLife, OutputAfterAPauseIsTheUnpausedOutputShifted)
{
    const kit_tempdir dir;
    ASSERT_EQ(mixgen_writeogg(dir.file("tone.ogg"), 2, 22050, 30000, 440), 0);
    enum { BEFORE = 5, PAUSED = 3, AFTER = 12, ROOT = 0, SAMPLER, LISTENER, SEQUENCER, MUSIC, ECHO, KINDS };
    // Only the node of kind sounds (all under a paused root), paused after BEFORE buffers; the output but those.
    const auto run = [&](int kind, int paused) {
        EXPECT_EQ(em_initoffline(), 0);
        const int sample = kit_makesample(kit_values(5000), 1, 32000);
        const int root = em_getroot();
        int nodes[KINDS] = {root};
        if (kind == ROOT || kind == SAMPLER) {
            nodes[SAMPLER] = em_createsampler(root, -1);
            em_setparam(nodes[SAMPLER], EMP_LOOP, 1);
            em_setparam(nodes[SAMPLER], EMP_DEFPITCH, 0xB000);
            em_triggersample(nodes[SAMPLER], kit_makesample(kit_values(6000), 2, 48000));
        }
        if (kind == ROOT || kind == LISTENER) {
            nodes[LISTENER] = em_createsampler3d(root, -1);
            const int voice3d = em_triggersample3d(nodes[LISTENER], sample);
            em_setparam(voice3d, EMP_FLAGS, EMF_PLAYING | EMF_LOOP | EMF_MOVING);
            em_setparam3f(voice3d, EMP_POSITION3D, -20.0f, 0.0f, -5.0f);
            em_setparam3f(voice3d, EMP_VELOCITY3D, 30.0f, 0.0f, 0.0f);
            em_setparamf(nodes[LISTENER], EMP_3DSCALE, 340.0f);
            em_setparamf(nodes[LISTENER], EMP_3DFACTOR, 0.2f);
        }
        const int8_t pattern[4] = {69, 0, 72, 76};
        int channel = 0;
        if (kind == ROOT || kind == SEQUENCER)
            nodes[SEQUENCER] = kit_sequencer(4, 7000, pattern, sample, &channel);
        if (kind == ROOT || kind == MUSIC)
            nodes[MUSIC] = em_createoggmusic(root), em_playoggmusic(nodes[MUSIC], dir.file("tone.ogg").c_str());
        if (kind == ROOT || kind == ECHO) {
            nodes[ECHO] = em_createeffect(root, EMX_ECHO);
            em_setparamf(nodes[ECHO], EMP_DELAYMS, 30.0f);
            const int inner = em_createsampler(nodes[ECHO], -1);
            em_triggersample(inner, sample);
            EXPECT_EQ(em_setsend(inner, em_createeffect(nodes[ECHO], EMX_REVERB), 200), 0);
        }
        std::vector<int16_t> out(2 * 1024 * (BEFORE + AFTER)), held(2 * 1024 * static_cast<size_t>(paused));
        em_render(out.data(), 1024 * BEFORE);
        if (paused) {
            EXPECT_EQ(em_pause(nodes[kind], 1), 0);
            em_render(held.data(), 1024 * paused);
            EXPECT_EQ(em_setparam(nodes[kind], EMP_PAUSED, 0), 0);
        }
        em_render(out.data() + 2 * 1024 * BEFORE, 1024 * AFTER);
        em_deinit();
        for (size_t i = 0; i < held.size(); i++)
            EXPECT_EQ(held[i], 0) << "paused frame " << i / 2;
        return out;
    };
    kit_capture quiet;
    for (int kind = ROOT; kind < KINDS; kind++) {
        SCOPED_TRACE(kind);
        const std::vector<int16_t> plain = run(kind, 0);
        EXPECT_NE(plain[2 * 1024 * BEFORE + 100], 0) << "the node sounds after the pause";
        EXPECT_EQ(run(kind, PAUSED), plain);
    }
}

// A node's fade moves its volume frame by frame: after k of 44100 frames (1000 ms) the sampler's 500 is scaled by
// 256 - 256 k / 44100 (toward zero): 250 at the midpoint, 1 a frame before the end, then 0; EM_FADEPAUSE then holds
// the sampler and its voice. The end is told with the clock of the fade's last frame.
TEST_F(Controls, NodeFadeGlidesFrameByFrameThenPauses)
{
    const uint32_t start = emstate.samplepos;
    ASSERT_EQ(em_fade(sampler, 0, 1000, EM_FADEPAUSE), 0);
    const std::vector<int32_t> left = rootleft(44);
    em_event ev;
    ASSERT_EQ(em_pollevent(&ev), 1);
    EXPECT_EQ((std::vector<uint32_t> {static_cast<uint32_t>(ev.type), static_cast<uint32_t>(ev.handle), ev.sampleclock}),
              (std::vector<uint32_t> {EME_FADEDONE, static_cast<uint32_t>(sampler), start + 44099}));
    EXPECT_EQ(em_pollevent(&ev), 0) << "one fade, one event";
    EXPECT_EQ((std::vector<int32_t> {left[0], left[22049], left[44098], left[44099], left.back()}),
              (std::vector<int32_t> {500, 250, 1, 0, 0}));
    EXPECT_EQ((std::vector<int> {em_getparam(sampler, EMP_VOLUME), em_getparam(sampler, EMP_PAUSED)}), (std::vector<int> {0, 1}));
    const int place = em_getparam(voice, EMP_POSITION);
    rootleft(1);
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), place);
}

// A new fade starts from the volume reached (251 after one buffer of a 44100-frame fade to 0); 0 ms takes effect
// at the next buffer; a volume set ends a fade; EM_FADEFREE frees the node and its voices once the fade is done
// (10 ms: 441 frames, the last but one at 1).
TEST_F(Controls, FadesReplaceEndAndFree)
{
    ASSERT_EQ(em_fade(sampler, 0, 1000, EM_FADEKEEP), 0);
    rootleft(1);
    EXPECT_EQ(em_getparam(sampler, EMP_VOLUME), 251);
    ASSERT_EQ(em_fade(sampler, 512, 0, EM_FADEKEEP), 0);
    std::vector<int32_t> left = rootleft(1);
    EXPECT_EQ((std::vector<int32_t> {left[0], left[1023]}), (std::vector<int32_t> {1000, 1000}));
    em_fade(sampler, 0, 1000, EM_FADEKEEP);
    rootleft(1);
    ASSERT_EQ(em_setparam(sampler, EMP_VOLUME, 100), 0);
    left = rootleft(2);
    EXPECT_EQ((std::vector<int32_t> {left[0], left[2047]}), (std::vector<int32_t> {195, 195}));
    em_setparam(sampler, EMP_VOLUME, 256);
    ASSERT_EQ(em_fade(sampler, 0, 10, EM_FADEFREE), 0);
    left = rootleft(1);
    EXPECT_EQ((std::vector<int32_t> {left[0], left[439], left[440], left[1023]}), (std::vector<int32_t> {500, 1, 0, 0}));
    EXPECT_EQ(em_isnode(sampler) + em_isnode(voice), 0);
}

// A voice's fade moves its volume to where the fade stands at each buffer's end (a sampler voice by its ramp, a 3-D
// voice by its gain's glide, a channel by its own glide); each ends on 0 and plays on at its pitch (EM_FADEKEEP).
TEST_F(Controls, VoiceFadesMoveTheirOwnVolume)
{
    const int listener = em_createsampler3d(em_getroot(), -1);
    const int voice3d = em_triggersample3d(listener, kit_makesample(std::vector<int16_t>(1000, 1000)));
    em_setparam(voice3d, EMP_FLAGS, EMF_PLAYING | EMF_LOOP);
    const int channel = onenote(44100);
    em_setparam(voice, EMP_PITCH, 0xC000);
    for (const int v : {voice, voice3d, channel})
        ASSERT_EQ(em_fade(v, 0, 1000, EM_FADEKEEP), 0);
    rootleft(1);
    for (const int v : {voice, voice3d, channel})
        EXPECT_EQ(em_getparam(v, EMP_VOLUME), 251) << v;
    const std::vector<int32_t> seqmix = kit_mixof(seq);
    // each side's gain is volume x 128 >> 8: 125 at frame 0 (251), 123 at frame 1023 (246, a frame before 245)
    EXPECT_EQ((std::vector<int32_t> {seqmix[0], seqmix[1023 * 2]}), (std::vector<int32_t> {1000 * 125 >> 8, 1000 * 123 >> 8}));
    rootleft(42);
    for (const int v : {voice, voice3d, channel}) {
        EXPECT_EQ(em_getparam(v, EMP_VOLUME), 0) << v;
        EXPECT_EQ(em_getparam(v, EMP_STATE), 3) << v;
    }
    EXPECT_EQ(em_getparam(voice, EMP_PITCH), 0xC000);
    EXPECT_EQ(em_getparam(voice, EMP_FLAGS) & EMF_RAMP, 0);
}

// A voice's fade that ends inside a buffer bends there: 10 ms are 441 frames, after which the sampler voice and the
// sequencer channel hold 0; before, they glide down from 500 (volume 256) through 250 near the middle.
TEST_F(Controls, VoiceFadesEndOnTheirFrame)
{
    const int channel = onenote(44100);
    for (const int v : {voice, channel})
        ASSERT_EQ(em_fade(v, 0, 10, EM_FADEKEEP), 0);
    kit_render();
    for (const int node : {sampler, seq}) {
        const int32_t* mix = em_getnode(node)->mixbuf;
        EXPECT_EQ(mix[0], 500) << node;
        EXPECT_GT(mix[2 * 439], 0) << node;
        EXPECT_LE(std::abs(mix[2 * 220] - 250), 4) << node;
        for (int f = 441; f < 1024; f++)
            ASSERT_EQ(mix[2 * f], 0) << node << " " << f;
    }
    for (const int v : {voice, channel})
        EXPECT_EQ(em_getparam(v, EMP_VOLUME), 0);
}

// The root's fade is the master volume's, frame by frame; EM_FADEPAUSE pauses the whole tree, EM_FADEFREE is refused.
TEST_F(Controls, RootFadesAndPauses)
{
    const int root = em_getroot();
    EXPECT_EQ(em_fade(root, 0, 10, EM_FADEFREE), -1);
    ASSERT_EQ(em_fade(root, 0, 10, EM_FADEPAUSE), 0);
    const std::vector<int32_t> left = rootleft(1);
    EXPECT_EQ((std::vector<int32_t> {left[0], left[439], left[440]}), (std::vector<int32_t> {500, 1, 0}));
    EXPECT_EQ((std::vector<int> {em_getparam(root, EMP_VOLUME), em_getparam(root, EMP_PAUSED)}), (std::vector<int> {0, 1}));
    const int place = em_getparam(voice, EMP_POSITION);
    EXPECT_EQ(kit_render(2), std::vector<int16_t>(4096, 0));
    EXPECT_EQ(em_getparam(voice, EMP_POSITION), place);
}

// A sequencer channel whose note ends on a buffer's last frame stops playing in that buffer; the channel belongs to
// its sequencer: em_freenode and a fade that frees refuse it, and the sequencer still names it.
TEST_F(Controls, SequencerChannelsEndInTheirBufferAndCannotBeFreedAlone)
{
    const int channel = onenote(1024);
    const std::vector<int32_t> mix = kit_mixof(seq);
    EXPECT_EQ(mix[2 * 1023], 500);
    EXPECT_EQ(em_getparam(channel, EMP_STATE), 1) << "ended on the buffer's last frame";
    EXPECT_EQ(em_freenode(channel), -1);
    EXPECT_EQ(em_fade(channel, 0, 0, EM_FADEFREE), -1);
    EXPECT_EQ(em_getparam(seq, EMP_CHANNELNODE), channel);
    EXPECT_EQ(em_isnode(channel), 1);
    EXPECT_EQ(em_freenode(seq), 0);
    EXPECT_EQ(em_isnode(channel), 0);
}

// The new calls' bad input: handles that name no node, values out of range, and every call before the start.
TEST(ControlsLife, BadHandlesValuesAndCallsBeforeTheStart)
{
    const auto calls = [](int node) {
        return std::vector<int> {em_pause(node, 1), em_getparam(node, EMP_PAUSED), em_setparam(node, EMP_PAUSED, 1),
                                 em_fade(node, 0, 10, EM_FADEKEEP)};
    };
    // The clocked starts give 0 as the triggers do: also on a node of another kind.
    const auto starts = [](int node, int sample) {
        return std::vector<int> {em_triggersampleat(node, sample, 100), em_triggersample3dclock(node, sample, 100)};
    };
    const std::vector<int> refused(4, -1), none(2, 0);
    EXPECT_EQ(calls(1), refused) << "before the start";
    EXPECT_EQ(starts(1, 1), none) << "before the start";
    ASSERT_EQ(em_initoffline(), 0);
    const int sampler = em_createsampler(em_getroot(), -1);
    const int sample = kit_makesample({1, 2, 3});
    for (const int bad : {0, -1, 512, sampler + 1}) {
        EXPECT_EQ(calls(bad), refused) << bad;
        EXPECT_EQ(starts(bad, sample), none) << bad;
    }
    EXPECT_EQ(starts(em_getroot(), sample), none);
    {
        kit_capture quiet; // the sampler's warnings for sample 0 and one not loaded
        EXPECT_EQ(em_triggersampleat(sampler, 0, 100), 0);
        EXPECT_EQ(em_triggersampleat(sampler, sample + 1, 100), 0);
    }
    // volume, ms, then
    const int32_t badfades[][3] = {{-1, 10, EM_FADEKEEP},
                                   {65537, 10, EM_FADEKEEP},
                                   {0, -1, EM_FADEKEEP},
                                   {0, 10, -1},
                                   {0, 3600001, EM_FADEKEEP},
                                   {0, INT32_MAX, EM_FADEKEEP},
                                   {0, 10, 3}};
    for (const auto& f : badfades)
        EXPECT_EQ(em_fade(sampler, f[0], f[1], f[2]), -1) << f[0] << " " << f[1] << " " << f[2];
    EXPECT_EQ(em_fade(sampler, 65536, 3600000, EM_FADEFREE), 0) << "the ends of the ranges";
    for (const int bad : {2, -1})
        EXPECT_EQ(em_pause(sampler, bad), -1) << bad;
    EXPECT_EQ(em_getparam(sampler, EMP_PAUSED), 0);
    const int music = em_createoggmusic(em_getroot());
    for (const int32_t bad : {-1, 3600001})
        EXPECT_EQ(em_setparam(music, EMP_FADEMS, bad), -1) << bad;
    EXPECT_EQ(em_setparam(music, EMP_FADEMS, 3600000), 0);
    EXPECT_EQ(em_getparam(music, EMP_FADEMS), 3600000);
    kit_stopengine();
}

// A click started at a clock lands on that frame, as a sequencer's note does: the sampler's voice (hard left) and the
// 3-D voice (both sides) against a channel (hard right), inside a buffer, at its start, buffers ahead, and in a buffer
// already mixed (then the next buffer's first frame).
TEST(ControlsLife, ClicksStartedAtAClockLandOnThatFrame)
{
    const std::vector<int16_t> click = {1000, -2000, 3000, -4000, 5000};
    const struct {
        uint32_t clock;
        int32_t before; // frames rendered before the trigger
        uint32_t lands; // the frame of the click's first value
    } cases[] = {{750, 0, 750},     {2048, 0, 2048}, {5000, 0, 5000}, {1023, 0, 1023}, {100, 3 * 1024 + 17, 4096},
                 {3000, 3000, 3072}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "clock " << c.clock << " after " << c.before);
        ASSERT_EQ(em_initoffline(), 0);
        const int sample = kit_makesample(click);
        const int sampler = em_createsampler(em_getroot(), -1), listener = em_createsampler3d(em_getroot(), -1);
        em_setparam(sampler, EMP_DEFPAN, -128);
        // Two steps of a pass of 2 x lands frames: the second step's note begins at frame lands.
        const int8_t pattern[2] = {0, 69};
        int channel = 0;
        kit_sequencer(2, static_cast<int32_t>(2 * c.lands), pattern, sample, &channel);
        em_setparam(channel, EMP_PAN, 128);
        std::vector<int16_t> out(2 * 8192);
        em_render(out.data(), c.before);
        const int voice = em_triggersampleat(sampler, sample, c.clock);
        EXPECT_GT(voice, 0);
        EXPECT_EQ(em_getparam(voice, EMP_STATE), 3);
        em_render(out.data() + 2 * c.before, 8192 - c.before);
        for (uint32_t f = 0; f < c.lands + 5; f++) {
            ASSERT_EQ(out[2 * f], out[2 * f + 1]) << f;
            ASSERT_EQ(out[2 * f] != 0, f >= c.lands) << f;
        }
        EXPECT_EQ(out[2 * c.lands], 1000);
        EXPECT_EQ(em_isnode(voice), 0) << "played and freed";
        // The 3-D voice at the listener, heard at half of full scale on each side: the same frames.
        em_setparam(channel, EMP_VOLUME, 0);
        const uint32_t at = em_getsampleclock() + 2000;
        em_setparam3f(listener, EMP_POSITION3DB, 0.0f, 0.0f, 0.0f);
        EXPECT_GT(em_triggersample3dclock(listener, sample, at), 0);
        em_render(out.data(), 4096);
        for (uint32_t f = 0; f < 2004; f++)
            ASSERT_EQ(out[2 * f] != 0, f >= 2000) << f;
        EXPECT_EQ(out[2 * 2000], 500);
        kit_stopengine();
    }
}

} // namespace
