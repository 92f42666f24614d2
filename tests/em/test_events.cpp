// test_events.cpp -- the end events: what each kind of node posts and at which clock, the ring's
// capacity and its count of lost events, calls while down, and the ring read while the device mixes
#include <thread>

#include "tests/kit/kit_em.h"

namespace {

using Rows = std::vector<std::vector<int64_t>>;
using Events = kit_engine;

// Every event waiting, oldest first, as {type, handle, sample, clock} rows.
Rows emtest_events()
{
    Rows rows;
    for (em_event ev; em_pollevent(&ev) == 1;)
        rows.push_back({ev.type, ev.handle, ev.sample, ev.sampleclock});
    return rows;
}

// A voice reports the clock of its last sounding frame; a voice the rendering ends in the next buffer waits for it.
TEST_F(Events, VoicesReportTheirEndWithSampleAndClock)
{
    const int sampler = em_createsampler(em_getroot(), -1);
    const int longer = kit_makesample(kit_values(3000)), shorter = kit_makesample(kit_values(10));
    const int first = em_triggersample(sampler, longer);
    kit_render();
    const int second = em_triggersample(sampler, shorter), looped = em_triggersample(sampler, shorter);
    em_setparam(looped, EMP_FLAGS, EMF_PLAYING | EMF_LOOP);
    kit_render();
    EXPECT_EQ(emtest_events(), (Rows {{EME_VOICEEND, second, shorter, 1024 + 9}}));
    kit_render();
    EXPECT_EQ(emtest_events(), (Rows {{EME_VOICEEND, first, longer, 2999}}));
    // a voice at half speed ends on the frame that read its last value
    const int slow = em_triggersample(sampler, shorter);
    em_setparam(slow, EMP_PITCH, 0x8000);
    kit_render();
    EXPECT_EQ(emtest_events(), (Rows {{EME_VOICEEND, slow, shorter, 3072 + 19}}));
    // a 3-D voice reports the last frame of the buffer it ended in
    const int voice3d = em_triggersample3d(em_createsampler3d(em_getroot(), -1), longer);
    kit_render(3);
    EXPECT_EQ(emtest_events(), (Rows {{EME_VOICEEND, voice3d, longer, 4096 + 3071}}));
    EXPECT_EQ(em_lostevents(), 0);
}

// A running sequencer posts the first frame of every pass after the first; a stopped one posts nothing.
TEST_F(Events, SequencerPassesReportTheirFirstFrame)
{
    const int seq = em_createsequencer(em_getroot(), 0, 4);
    em_setparam(seq, EMP_LENGTH, 1000);
    kit_render();
    EXPECT_TRUE(emtest_events().empty()) << "not running";
    em_setparam(seq, EMP_RUN, 1);
    kit_render(2);
    EXPECT_EQ(emtest_events(), (Rows {{EME_SEQWRAP, seq, 0, 2000}, {EME_SEQWRAP, seq, 0, 3000}}));
    // a longer pass counts from the time in force (72 frames in); one that ends with a buffer is posted once, with the
    // next buffer's first frame
    em_setparam(seq, EMP_LENGTH, 1024 + 72);
    kit_render(3);
    EXPECT_EQ(emtest_events(), (Rows {{EME_SEQWRAP, seq, 0, 4096}, {EME_SEQWRAP, seq, 0, 5192}}));
    kit_render();
    EXPECT_EQ(emtest_events(), (Rows {{EME_SEQWRAP, seq, 0, 6288}}));
}

// The ring holds 256 events: the newest beyond are dropped and counted, the oldest read in order.
TEST_F(Events, AFullRingDropsTheNewestAndCountsThem)
{
    const int seq = em_createsequencer(em_getroot(), 0, 1);
    em_setparam(seq, EMP_LENGTH, 1), em_setparam(seq, EMP_RUN, 1);
    kit_render();
    EXPECT_EQ(em_lostevents(), 1024 - 256);
    const Rows rows = emtest_events();
    ASSERT_EQ(rows.size(), 256u);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(rows[static_cast<size_t>(i)][3], i + 1);
    em_setparam(seq, EMP_RUN, 0);
    kit_render();
    EXPECT_TRUE(emtest_events().empty());
    EXPECT_EQ(em_lostevents(), 1024 - 256);
}

TEST(EventsLife, CallsWhileDownAndWithoutAnEventFindNothing)
{
    em_event ev = {9, 9, 9, 9};
    EXPECT_EQ(em_pollevent(&ev), 0);
    EXPECT_EQ(em_lostevents(), 0);
    ASSERT_EQ(em_initoffline(), 0);
    EXPECT_EQ(em_pollevent(nullptr), 0);
    EXPECT_EQ(em_pollevent(&ev), 0);
    EXPECT_EQ(ev.type, 9) << "untouched";
    const int seq = em_createsequencer(em_getroot(), 0, 1);
    em_setparam(seq, EMP_LENGTH, 1), em_setparam(seq, EMP_RUN, 1);
    std::vector<int16_t> out(2048);
    em_render(out.data(), 1024);
    kit_stopengine();
    EXPECT_EQ(em_pollevent(&ev), 0) << "events left at the stop are gone";
    EXPECT_EQ(em_lostevents(), 0);
    ASSERT_EQ(em_initoffline(), 0);
    EXPECT_EQ(em_lostevents(), 0) << "a start counts afresh";
    kit_stopengine();
}

// The device mixes on its own thread while the program triggers voices and reads the ring (run under
// ThreadSanitizer by scripts/sanitize.sh): every event arrives whole and in the order of its clock.
TEST(EventsLife, TheRingIsReadWhileTheDeviceMixes)
{
    ASSERT_EQ(em_init(), 0);
    const int sampler = em_createsampler(em_getroot(), -1), seq = em_createsequencer(em_getroot(), 0, 2);
    em_setparam(seq, EMP_LENGTH, 300), em_setparam(seq, EMP_RUN, 1);
    const int sample = kit_makesample(kit_values(200));
    uint32_t lastwrap = 0;
    int voices = 0, ends = 0, wraps = 0;
    for (int round = 0; round < 400 && (ends < 50 || wraps < 50); round++) {
        voices += voices - ends < 8 && em_triggersample(sampler, sample) > 0;
        for (em_event ev; em_pollevent(&ev) == 1;) {
            ASSERT_TRUE(ev.type == EME_VOICEEND || ev.type == EME_SEQWRAP) << ev.type;
            const bool end = ev.type == EME_VOICEEND;
            EXPECT_EQ(end ? ev.sample : ev.handle, end ? sample : seq);
            EXPECT_TRUE(end || wraps == 0 || ev.sampleclock == lastwrap + 300) << ev.sampleclock << " after " << lastwrap;
            ends += end, wraps += !end, lastwrap = end ? lastwrap : ev.sampleclock;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(ends, 50);
    EXPECT_GE(wraps, 50);
    EXPECT_EQ(em_lostevents(), 0);
    kit_stopengine();
}

} // namespace
