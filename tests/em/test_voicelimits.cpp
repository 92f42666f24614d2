// test_voicelimits.cpp -- a maximum of voices on the sampler and the 3-D sampler: refusals, which voice a steal
// takes, its fade over one buffer and its end event, the settings and their refusals
#include <algorithm>

#include "tests/kit/kit_em.h"

namespace {

using Ends = std::vector<std::pair<int, uint32_t>>; // (voice handle, clock of its last frame)

class VoiceLimits : public kit_engine {
protected:
    int loud = 0, silent = 0;
    void SetUp() override
    {
        kit_engine::SetUp();
        loud = kit_makesample(std::vector<int16_t>(44100, 16000));
        silent = kit_makesample(std::vector<int16_t>(44100, 0));
        ASSERT_TRUE(loud && silent);
    }
    // A sampler (threed 0) or a 3-D sampler (1) holding at most max voices, stealing by mode.
    static int make(int threed, int max, int mode)
    {
        const int sm = threed ? em_createsampler3d(em_getroot(), -1) : em_createsampler(em_getroot(), -1);
        EXPECT_EQ(em_setparam(sm, EMP_MAXVOICES, max) | em_setparam(sm, EMP_STEALMODE, mode), 0);
        return sm;
    }
    // A voice at a level: the sampler's volume, or the 3-D source's distance straight ahead.
    static int trigger(int threed, int sm, int level, int sample)
    {
        if (!threed)
            return em_setparam(sm, EMP_DEFVOLUME, level), em_triggersample(sm, sample);
        em_setparam3f(sm, EMP_POSITION3DB, 0.0f, 0.0f, -static_cast<float>(level));
        return em_triggersample3d(sm, sample);
    }
    static Ends ends()
    {
        Ends out;
        for (em_event ev; em_pollevent(&ev) == 1;)
            if (ev.type == EME_VOICEEND)
                out.push_back({ev.handle, ev.sampleclock});
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(VoiceLimits, TheFifthAndSixthTriggersAtFourRefuseOrStealTheOldestOrQuietestLiveVoice)
{
    // Sampler volumes and 3-D distances of triggers 1-4 (5 and 6 take the last); voice 2 is the quietest, then 4.
    const int levels[2][5] = {{200, 100, 300, 150, 400}, {10, 100, 5, 50, 1}};
    const struct {
        int threed, mode, first, second; // the voices (0-3) the fifth and sixth triggers take; -1 refused
    } cases[] = {
        {0, EMSTEAL_REFUSE, -1, -1}, {0, EMSTEAL_OLDEST, 0, 1}, {0, EMSTEAL_QUIETEST, 1, 3},
        {1, EMSTEAL_REFUSE, -1, -1}, {1, EMSTEAL_OLDEST, 0, 1}, {1, EMSTEAL_QUIETEST, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.threed << " " << c.mode);
        const int sm = make(c.threed, 4, c.mode);
        int v[6];
        for (int i = 0; i < 6; i++) {
            if (i == 4)
                kit_render();
            v[i] = trigger(c.threed, sm, levels[c.threed][i < 4 ? i : 4], loud);
        }
        EXPECT_EQ(v[4] != 0, c.first >= 0);
        EXPECT_EQ(v[5] != 0, c.second >= 0); // a voice fading out after a steal neither counts nor is taken again
        Ends want; // in handle order (handles are given lowest first), ended at the next buffer's last frame
        for (int i : {c.first, c.second})
            if (i >= 0)
                want.push_back({v[i], emstate.samplepos + 1023});
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(em_getparam(v[i], EMP_STATE), 3) << i; // taken voices fade through the next buffer
        kit_render();
        EXPECT_EQ(ends(), want);
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(em_isnode(v[i]), i != c.first && i != c.second) << i;
        em_freenode(sm);
    }
}

TEST_F(VoiceLimits, AStolenVoiceFadesToSilenceOverOneBufferAndOneNotYetHeardEndsAtOnce)
{
    for (int threed = 0; threed < 2; threed++) {
        SCOPED_TRACE(threed);
        const int sm = make(threed, 1, EMSTEAL_OLDEST);
        const int first = trigger(threed, sm, threed ? 0 : 256, loud); // 8000 a side, centred
        const uint32_t start = emstate.samplepos;
        EXPECT_EQ(kit_mixof(sm)[2 * 1023], 8000);
        // The intruder takes the first voice's place; gone, it leaves the place free: the fading voice does not count.
        ASSERT_EQ(em_freenode(trigger(threed, sm, threed ? 0 : 256, silent)), 0);
        const int next = trigger(threed, sm, threed ? 0 : 256, silent);
        EXPECT_NE(next, 0);
        const std::vector<int32_t> fade = kit_mixof(sm);
        // Volume 256 down to 0 over 1024 frames, linearly: 16000 x (256 - f / 4) x 128 / 65536 a side at frame f.
        for (const auto& fv : {std::make_pair(0, 8000), {256, 6000}, {512, 4000}, {768, 2000}, {1023, 0}})
            EXPECT_EQ(fade[2 * fv.first], fv.second) << fv.first;
        for (int f = 1; f < 1024; f++)
            ASSERT_LE(fade[2 * f], fade[2 * f - 2]) << f; // and never a step up in between
        EXPECT_EQ(ends(), (Ends {{first, start + 2 * 1024 - 1}}));
        // A voice no buffer has been mixed of (waiting for its start clock, or just triggered) has sounded nothing:
        // taken, it ends now, at the clock of the trigger, before any buffer.
        em_freenode(next);
        const int waiting = threed ? em_triggersample3dclock(sm, loud, 1u << 30) : em_triggersampleat(sm, loud, 1u << 30);
        const int fresh = trigger(threed, sm, 0, loud); // takes the waiting voice's place
        EXPECT_NE(trigger(threed, sm, 0, silent), 0);   // and this one the fresh voice's
        EXPECT_EQ(ends(), (Ends {{waiting, emstate.samplepos}, {fresh, emstate.samplepos}}));
        em_freenode(sm);
    }
}

TEST_F(VoiceLimits, SettingsDefaultToNoLimitAndBadValuesOrAFailedVoiceChangeNothing)
{
    for (int threed = 0; threed < 2; threed++) {
        const int sm = threed ? em_createsampler3d(em_getroot(), -1) : em_createsampler(em_getroot(), -1);
        EXPECT_EQ(em_getparam(sm, EMP_MAXVOICES) | em_getparam(sm, EMP_STEALMODE), 0); // no cap; EMSTEAL_REFUSE
        ASSERT_EQ(em_setparam(sm, EMP_MAXVOICES, EM_MAXHANDLES - 1) | em_setparam(sm, EMP_STEALMODE, EMSTEAL_QUIETEST), 0);
        const int bad[][2] = {{EMP_MAXVOICES, -1}, {EMP_MAXVOICES, EM_MAXHANDLES}, {EMP_STEALMODE, -1}, {EMP_STEALMODE, 3}};
        for (const auto& b : bad)
            EXPECT_EQ(em_setparam(sm, b[0], b[1]), -1) << b[0] << " " << b[1];
        EXPECT_EQ(em_getparam(sm, EMP_MAXVOICES), EM_MAXHANDLES - 1);
        EXPECT_EQ(em_getparam(sm, EMP_STEALMODE), EMSTEAL_QUIETEST);
        // A lower maximum stops no voice; a steal whose new voice cannot be made takes nothing.
        const int voices[2] = {trigger(threed, sm, 10, loud), trigger(threed, sm, 20, loud)};
        ASSERT_EQ(em_setparam(sm, EMP_MAXVOICES, 1), 0);
        emio_rawcalloc = [](size_t, size_t) -> void* { return nullptr; };
        kit_capture quiet;
        EXPECT_EQ(trigger(threed, sm, 10, loud), 0);
        quiet.stop();
        emio_rawcalloc = calloc;
        kit_render();
        EXPECT_EQ(ends(), Ends {});
        EXPECT_EQ(em_isnode(voices[0]) + em_isnode(voices[1]), 2);
        em_freenode(sm);
    }
}

} // namespace
