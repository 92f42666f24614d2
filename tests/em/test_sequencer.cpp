// test_sequencer.cpp -- the step sequencer: note timing to the frame, pitch,
// the pass clock, the parameter tables and the guarded limits
#include "em_harness.h"

namespace {

class Sequencer : public emtest_engine {
protected:
    int seq = 0;

    // A sequencer of one channel playing sample through pattern.
    int start(int steps, int32_t duration, const std::vector<int8_t>& pattern, int sample, int channels = 1)
    {
        seq = em_createsequencer(em_getroot(), channels, steps);
        if (!seq)
            return 0;
        em_setparam(seq, EMP_CHANNEL, 0);
        const int channel = em_getparam(seq, EMP_CHANNELNODE);
        em_setparam(channel, EMP_SAMPLE, sample);
        em_setparamp(channel, EMP_PATTERN, pattern.data());
        em_setparam(seq, EMP_LENGTH, duration);
        em_setparam(seq, EMP_RUN, 1);
        return channel;
    }

    int make(const std::vector<int16_t>& values, int channels = 1, int32_t rate = 44100)
    {
        std::vector<uint8_t> bytes = emtest_bytes16(values);
        const em_sample* s = em_makesample(AUDIO_S16LSB, channels, rate, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return s ? s->handle : 0;
    }

    // The sequencer's own mix over a number of buffers, left values by frame.
    std::vector<int32_t> left(int buffers)
    {
        std::vector<int32_t> out;
        for (int b = 0; b < buffers; b++) {
            emtest_render();
            const int32_t* mix = em_getnode(seq)->mixbuf;
            for (int f = 0; f < emstate.samples; f++)
                out.push_back(mix[2 * f]);
        }
        return out;
    }

    em_sequencer* record() { return static_cast<em_sequencer*>(em_getnode(seq)->data); }
};

// Distinct, nonzero sample values.
std::vector<int16_t> emtest_values(int count)
{
    std::vector<int16_t> v;
    for (int i = 0; i < count; i++)
        v.push_back(static_cast<int16_t>((i * 7919 + 1234) % 60000 - 30000));
    return v;
}

// A centred unity channel adds (v x 128) >> 8 to each side.
int32_t emtest_half(int32_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

TEST_F(Sequencer, EveryPassStartsItsNoteAtItsFirstFrame)
{
    const std::vector<int16_t> v = emtest_values(30000);
    const int sample = make(v);
    struct { int steps; int32_t duration; int buffers; } cases[] = {
        {4, 44100, 130},    // a pass of one second: starts at 0, 44100, 88200, 132300
        {1, 1500, 6},       // one step: a new pass always enters it again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        std::vector<int8_t> pattern(static_cast<size_t>(c.steps), 0);
        pattern[0] = 69;
        const int channel = start(c.steps, c.duration, pattern, sample);
        ASSERT_NE(channel, 0);
        const std::vector<int32_t> out = left(c.buffers);
        const int32_t length = c.duration < 30000 ? c.duration : 30000;
        for (size_t f = 0; f < out.size(); f++) {
            const int32_t within = static_cast<int32_t>(f % static_cast<size_t>(c.duration));
            ASSERT_EQ(out[f], within < length ? emtest_half(v[static_cast<size_t>(within)]) : 0) << f;
        }
        EXPECT_EQ(em_getparam(channel, EMP_PITCH), 0x10000);
        em_destroynode(em_getnode(seq));
    }
}

TEST_F(Sequencer, StepsStartingAtABufferStartSoundWithTheirPitch)
{
    // Four steps over exactly four buffers: every step begins a buffer.
    const std::vector<int16_t> v = emtest_values(100);
    const int sample = make(v, 1, 32000);
    ASSERT_EQ(em_getsample(sample)->step, 47552);
    const int channel = start(4, 4096, {57, 81, 70, 69}, sample);
    const int32_t expected[] = {23776, 95104, 50379, 47552};  // half, double, trunc(50379.589), unit
    for (int b = 0; b < 8; b++) {
        SCOPED_TRACE(b);
        const std::vector<int32_t> out = left(1);
        EXPECT_EQ(em_getparam(channel, EMP_PITCH), expected[b % 4]);
        EXPECT_EQ(out[0], emtest_half(v[0]));
        // the short sample ends inside its step; the rest of the step is silent
        EXPECT_EQ(out[500], 0);
        EXPECT_EQ(out[1023], 0);
        EXPECT_EQ(em_getparam(channel, EMP_STATE), 1);
        EXPECT_EQ(record()->stepno, b % 4 == 3 ? -1 : b % 4);   // step b + 1 is yet to be entered
    }
    EXPECT_EQ(em_isnode(channel), 1);
}

TEST_F(Sequencer, ANoteStartsAtItsFrameInsideABuffer)
{
    // Starts at 0, 1000, 2000, 3000. Byte 200 (-56) lets the note of step 0
    // run on; note 81 at frame 2000 restarts it at twice the step; byte 0 at
    // 3000 lets that one run on.
    const std::vector<int16_t> v = emtest_values(6000);
    const int channel = start(4, 4000, {69, static_cast<int8_t>(200), 81, 0}, make(v));
    const std::vector<int32_t> out = left(4);
    for (int f = 0; f < 4000; f++) {
        const int frame = f < 2000 ? f : 2 * (f - 2000);
        ASSERT_EQ(out[static_cast<size_t>(f)], emtest_half(v[static_cast<size_t>(frame)])) << f;
    }
    // the next pass restarts at its first frame, inside the fourth buffer
    EXPECT_EQ(out[4000], emtest_half(v[0]));
    EXPECT_EQ(out[4001], emtest_half(v[1]));
    EXPECT_EQ(em_getparam(channel, EMP_PITCH), 0x10000);
}

TEST_F(Sequencer, StoppedSequencerKeepsItsClock)
{
    const std::vector<int16_t> v = emtest_values(5000);
    start(4, 3000, {69, 69, 69, 69}, make(v));
    em_setparam(seq, EMP_RUN, 0);
    const int32_t times[] = {1024, 2048, 72};
    for (const int32_t t : times) {
        const std::vector<int32_t> out = left(1);
        for (const int32_t value : out)
            ASSERT_EQ(value, 0);
        EXPECT_EQ(record()->time, t);
    }
    // started at 72: the next step to begin is step 1 at 750, frame 678 here
    em_setparam(seq, EMP_RUN, 1);
    std::vector<int32_t> out = left(1);
    for (int f = 0; f < 678; f++)
        ASSERT_EQ(out[static_cast<size_t>(f)], 0) << f;
    for (int f = 678; f < 1024; f++)
        ASSERT_EQ(out[static_cast<size_t>(f)], emtest_half(v[static_cast<size_t>(f - 678)])) << f;
    // stopped again: the sounding note plays on past the step at 1500
    em_setparam(seq, EMP_RUN, 0);
    out = left(1);
    EXPECT_EQ(out[404], emtest_half(v[1428 - 678]));
    EXPECT_EQ(out[405], emtest_half(v[1429 - 678]));
}

TEST_F(Sequencer, StepsSharingAFrameWalkInOrderAndTheLastNoteSounds)
{
    // Eight steps in a pass of four frames: two steps begin on each frame.
    const std::vector<int16_t> v = emtest_values(10);
    const int channel = start(8, 4, {60, 69, 0, 0, 0, 0, 0, 81}, make(v));
    const std::vector<int32_t> out = left(2);
    const int frames[] = {0, 1, 2, 0};
    for (size_t f = 0; f < out.size(); f++)
        ASSERT_EQ(out[f], emtest_half(v[static_cast<size_t>(frames[f % 4])])) << f;
    EXPECT_EQ(em_getparam(channel, EMP_PITCH), 0x20000);
    EXPECT_EQ(record()->time, 0);
    EXPECT_EQ(record()->stepno, -1);
}

TEST_F(Sequencer, LoopingAndStereoChannels)
{
    // a looping sample shorter than its step plays on without a gap
    const std::vector<int16_t> v = emtest_values(300);
    const int channel = start(2, 4096, {69, 0}, make(v));
    em_setparam(channel, EMP_FLAGS, EMF_LOOP);
    std::vector<int32_t> out = left(2);
    for (size_t f = 0; f < out.size(); f++)
        ASSERT_EQ(out[f], emtest_half(v[f % 300])) << f;

    // a stereo sample keeps its sides at pan 0 and is moved across by the pan
    std::vector<int16_t> stereo = emtest_values(4000);
    em_setparam(channel, EMP_SAMPLE, make(stereo, 2));
    em_setparam(channel, EMP_FLAGS, 0);
    em_setparam(channel, EMP_PAN, 128);
    left(2);    // no note until the next pass at 4096
    const int32_t* mix = em_getnode(seq)->mixbuf;
    left(1);
    for (int f = 0; f < 1024; f++) {
        ASSERT_EQ(mix[2 * f], 0) << f;     // the left side is moved wholly into the right
        ASSERT_EQ(mix[2 * f + 1], stereo[2 * f] + stereo[2 * f + 1]) << f;
    }
}

TEST_F(Sequencer, ParameterTables)
{
    seq = em_createsequencer(em_getroot(), 3, 16);
    ASSERT_NE(seq, 0);
    EXPECT_EQ(em_getparam(seq, EMP_RUN), 0);
    EXPECT_EQ(em_getparam(seq, EMP_LENGTH), 44100);
    EXPECT_EQ(em_getparam(seq, EMP_STEPS), 16);
    EXPECT_EQ(em_setparam(seq, EMP_STEPS, 8), -1);
    EXPECT_EQ(em_getparam(seq, EMP_STATE), 3);
    EXPECT_EQ(em_setparam(seq, EMP_STATE, 0), -1);
    EXPECT_EQ(em_setparam(seq, EMP_OUTLENGTH, 22050), 0);
    EXPECT_EQ(em_getparam(seq, EMP_LENGTH), 22050);
    EXPECT_EQ(em_setparam(seq, EMP_VOLUME, 128), 0);
    EXPECT_EQ(em_getnode(seq)->volume, 128);
    EXPECT_EQ(em_getparam(seq, EMP_PAN), -1);

    // the selected channel's handle; -1 without a valid selection
    EXPECT_EQ(em_getparam(seq, EMP_CHANNEL), -1);
    EXPECT_EQ(em_getparam(seq, EMP_CHANNELNODE), -1);
    int handles[3];
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(em_setparam(seq, EMP_CHANNEL, i), 0);
        handles[i] = em_getparam(seq, EMP_CHANNELNODE);
        EXPECT_EQ(em_getparent(handles[i]), seq);
    }
    EXPECT_EQ(em_setparam(seq, EMP_CHANNEL, 3), 0);
    EXPECT_EQ(em_getparam(seq, EMP_CHANNELNODE), -1);
    EXPECT_EQ(em_setparam(seq, EMP_CHANNEL, -7), 0);
    EXPECT_EQ(em_getparam(seq, EMP_CHANNELNODE), -1);
    // the child list runs from the highest index down
    EXPECT_EQ(em_getchild(seq), handles[2]);
    EXPECT_EQ(em_getnext(handles[2]), handles[1]);
    EXPECT_EQ(em_getnext(handles[1]), handles[0]);

    // channel: patterns are per channel, copied both ways
    const int ch = handles[1];
    std::vector<int8_t> pattern(16), back(16, 99);
    for (int i = 0; i < 16; i++)
        pattern[static_cast<size_t>(i)] = static_cast<int8_t>(i * 17);
    EXPECT_EQ(em_setparamp(ch, EMP_PATTERN, pattern.data()), 0);
    EXPECT_EQ(em_getparamp(ch, EMP_PATTERN, back.data()), 0);
    EXPECT_EQ(back, pattern);
    EXPECT_EQ(em_getparamp(handles[0], EMP_PATTERN, back.data()), 0);
    EXPECT_EQ(back, std::vector<int8_t>(16, 0));
    EXPECT_EQ(em_setparamp(ch, EMP_SAMPLE, pattern.data()), -1);
    EXPECT_EQ(em_getparam(ch, EMP_STATE), 0);
    const struct { int id; int32_t value; } ids[] = {
        {EMP_VOLUME, 200}, {EMP_PITCH, 0x18000}, {EMP_PAN, -40}, {EMP_FLAGS, EMF_LOOP}, {EMP_SAMPLE, 3}, {EMP_POSITION, 12},
    };
    for (const auto& c : ids) {
        EXPECT_EQ(em_setparam(ch, c.id, c.value), 0);
        EXPECT_EQ(em_getparam(ch, c.id), c.value);
    }
    EXPECT_EQ(em_getparam(ch, EMP_STATE), 1);
    for (const int id : {EMP_TARGETVOLUME, EMP_TARGETPITCH, EMP_TARGETPAN}) {
        EXPECT_EQ(em_setparam(ch, id, 5), 0);
        EXPECT_EQ(em_getparam(ch, id), -1);
    }
    EXPECT_EQ(em_getparam(ch, EMP_FLAGS), static_cast<int>(EMF_LOOP | EMF_RAMP));
    EXPECT_EQ(em_setparam(ch, EMP_STATE, 3), -1);
    EXPECT_EQ(em_setparam(ch, EMP_RUN, 1), -1);

    // destroying the sequencer returns its channels, patterns and buffers
    const int32_t before = emio_getbytes();
    const int other = em_createsequencer(em_getroot(), 8, 300);
    ASSERT_NE(other, 0);
    em_destroynode(em_getnode(other));
    EXPECT_EQ(emio_getbytes(), before);
}

TEST_F(Sequencer, DurationChangesKeepTheClockInsideThePass)
{
    start(4, 3000, {0, 0, 0, 0}, 0);
    left(2);
    EXPECT_EQ(record()->time, 2048);
    EXPECT_EQ(em_setparam(seq, EMP_LENGTH, 0), -1);
    EXPECT_EQ(em_setparam(seq, EMP_LENGTH, -5), -1);
    EXPECT_EQ(em_getparam(seq, EMP_LENGTH), 3000);
    EXPECT_EQ(em_setparam(seq, EMP_LENGTH, 1000), 0);
    EXPECT_EQ(record()->time, 48);
    EXPECT_EQ(record()->stepno, 0);
    // a pass shorter than a buffer wraps as often as it must
    EXPECT_EQ(em_setparam(seq, EMP_LENGTH, 100), 0);
    left(1);
    EXPECT_EQ(record()->time, (48 + 1024) % 100);
}

TEST_F(Sequencer, GuardedLimits)
{
    {
        emtest_capture cap;
        EXPECT_EQ(em_createsequencer(em_getroot(), 9, 4), 0);
        EXPECT_EQ(em_createsequencer(em_getroot(), -1, 4), 0);
        EXPECT_EQ(em_createsequencer(em_getroot(), 2, 0), 0);
        EXPECT_EQ(cap.err(), "ERROR: em_initsequencer: 9 channels (0 to 8)\n"
                             "ERROR: em_initsequencer: -1 channels (0 to 8)\n"
                             "ERROR: em_initsequencer: 0 steps (at least 1)\n");
    }
    EXPECT_EQ(em_createsequencer(400, 2, 4), 0);    // no such parent
    const int empty = em_createsequencer(em_getroot(), 0, 4);
    EXPECT_NE(empty, 0);
    EXPECT_EQ(em_getchild(empty), 0);

    // notes on a sample that is not loaded, or freed while it plays, play nothing
    const std::vector<int16_t> v = emtest_values(3000);
    const int sample = make(v);
    const int channel = start(2, 2048, {69, 69}, 321);
    std::vector<int32_t> out = left(1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(em_getparam(channel, EMP_STATE), 1);
    em_setparam(channel, EMP_SAMPLE, sample);
    out = left(1);
    EXPECT_EQ(out[0], emtest_half(v[0]));
    em_freesample(sample);
    out = left(1);
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(em_getparam(channel, EMP_STATE), 1);

    // read positions set outside the sample start it again or end it
    const int again = make(v);
    em_setparam(channel, EMP_SAMPLE, again);
    left(1);
    em_setparam(channel, EMP_POSITION, 5000);
    em_setparam(seq, EMP_RUN, 0);
    out = left(1);  // no new note: the one past its end ends at once
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(em_getparam(channel, EMP_STATE), 1);
}

// Fails every heap call after the first n.
int emtest_allowed;
void* emtest_limitedcalloc(size_t count, size_t size)
{
    return emtest_allowed-- > 0 ? calloc(count, size) : nullptr;
}

TEST_F(Sequencer, CreationFailuresReportAndUnwind)
{
    const char* messages[] = {
        "ERROR: em_initsequencer: can't create node\n",
        "ERROR: em_initsequencer: can't allocate mix buffer\n",
        "ERROR: em_initsequencer: can't allocate sequencer\n",
        "ERROR: em_initschannel: can't create node\n",
        "ERROR: em_initseqchannel: can't allocate seqchannel\n",
        "ERROR: em_initsequencer: can't allocate pattern\n",
    };
    const int32_t bytes = emio_getbytes();
    for (int allowed = 0; allowed < 6; allowed++) {
        SCOPED_TRACE(allowed);
        emtest_allowed = allowed;
        emio_rawcalloc = emtest_limitedcalloc;
        emtest_capture cap;
        const int made = em_createsequencer(em_getroot(), 1, 4);
        emio_rawcalloc = calloc;
        EXPECT_EQ(cap.err(), messages[allowed]);
        if (allowed < 3) {
            EXPECT_EQ(made, 0);
        } else {
            // the channel is missing but the sequencer is made
            ASSERT_NE(made, 0);
            em_setparam(made, EMP_CHANNEL, 0);
            EXPECT_EQ(em_getparam(made, EMP_CHANNELNODE), -1);
            EXPECT_EQ(em_getchild(made), 0);
            em_destroynode(em_getnode(made));
        }
        EXPECT_EQ(emio_getbytes(), bytes);
    }
}

}  // namespace
