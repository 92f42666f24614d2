// test_failures.cpp -- every heap call of a realistic engine session made to
// fail in turn: start, WAV and Ogg Vorbis loads, every node type created and
// played, an Ogg stream and a switch, the callback, shutdown. Each run must end with nothing
// allocated, every call giving its success or its documented failure, and the
// engine working again once the heap gives.
#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "em_harness.h"
#include "em_oggwriter.h"

namespace {

long emtest_heapcalls;   // heap calls the engine made in this run
long emtest_failingcall; // the call that fails, 0 for none
bool emtest_failed;      // it has failed

void* emtest_failingcalloc(size_t count, size_t size)
{
    if (++emtest_heapcalls == emtest_failingcall) {
        emtest_failed = true;
        return nullptr;
    }
    return calloc(count, size);
}

// The files of the session, written once.
struct emtest_files {
    emtest_tempdir dir;
    std::string mono, stereo, first, second;
    emtest_files()
        : mono(dir.file("mono.wav")), stereo(dir.file("stereo.wav")), first(dir.file("first.ogg")), second(dir.file("second.ogg"))
    {
        emtest_writewav(mono, 1, 1, 22050, 16, emtest_bytes16(emtest_values(3000)));
        emtest_writewav(stereo, 1, 2, 44100, 16, emtest_bytes16(emtest_values(4000)));
        emtest_writeogg(first, 2, 44100, 20000, 440);
        emtest_writeogg(second, 1, 22050, 20000, 660);
    }
};

// The lines the engine prints when one of its heap calls fails, standard
// error and standard output together; anything else is a fault.
const std::set<std::string> emtest_failuretexts = {
    "ERROR: em_initsampler: can't create node",           "ERROR: em_initsampler: can't allocate mix buffer",
    "ERROR: em_initsampler: can't allocate sampler",      "ERROR: em_initschannel: can't create node",
    "ERROR: em_initschannel: can't allocate schannel",    "warning: em_playsampler couldn't create chnode",
    "ERROR: em_initsampler32: can't allocate mix buffer", "ERROR: em_initsampler3d: can't allocate sampler",
    "ERROR: em_inits3channel: can't create node",         "ERROR: em_inits3channel: can't allocate s3channel",
    "warning: em_playsampler3d couldn't create chnode",   "ERROR: em_initsequencer: can't create node",
    "ERROR: em_initsequencer: can't allocate mix buffer", "ERROR: em_initsequencer: can't allocate sequencer",
    "ERROR: em_initsequencer: can't allocate pattern",    "ERROR: em_initseqchannel: can't allocate seqchannel",
    "ERROR: em_initoggmusic: can't create node",          "ERROR: em_initoggmusic: can't allocate oggmusic",
    "ERROR: em_initoggmusic: can't allocate load buffer",
};

// Checks one step: it succeeds, or an allocation failed inside it and it gave
// its documented failure.
struct emtest_step {
    long before = 0;
    void begin() { before = emtest_heapcalls; }
    bool failedhere() const { return emtest_failed && emtest_failingcall > before && emtest_failingcall <= emtest_heapcalls; }
};

// One session; returns the number of heap calls it made.
long emtest_session(const emtest_files& f)
{
    emtest_step step;
    step.begin();
    const int started = em_initoffline();
    if (step.failedhere()) {
        EXPECT_TRUE(started == -3 || started == -4) << started;
        EXPECT_EQ(eminout.allocs, nullptr) << "a failed start keeps nothing";
        return emtest_heapcalls;
    }
    EXPECT_EQ(started, 0);

    step.begin();
    const int mono = em_loadsample(f.mono.c_str());
    EXPECT_EQ(mono == 0, step.failedhere());
    if (!mono) {
        EXPECT_STREQ(em_sampleerror(), "out of memory");
    }
    step.begin();
    const int stereo = em_loadsample(f.stereo.c_str());
    EXPECT_EQ(stereo == 0, step.failedhere());

    step.begin();
    const int oggsample = em_loadoggsample(f.second.c_str());
    EXPECT_EQ(oggsample == 0, step.failedhere());
    if (!oggsample) {
        EXPECT_STREQ(em_sampleerror(), "out of memory");
    }

    step.begin();
    const int sampler = em_createsampler(em_getroot(), -1);
    EXPECT_EQ(sampler == 0, step.failedhere());
    for (const int sample : {mono, stereo, oggsample}) {
        step.begin();
        const int voice = sampler && sample ? em_triggersample(sampler, sample) : -1;
        EXPECT_EQ(voice == 0, step.failedhere());
    }

    step.begin();
    const int listener = em_createsampler3d(em_getroot(), -1);
    EXPECT_EQ(listener == 0, step.failedhere());
    step.begin();
    const int voice3d = listener && mono ? em_triggersample3d(listener, mono) : -1;
    EXPECT_EQ(voice3d == 0, step.failedhere());
    if (voice3d > 0)
        em_setparam(voice3d, EMP_FLAGS, EMF_PLAYING | EMF_LOOP | EMF_MOVING);

    // A channel that cannot be made leaves its slot at -1; the sequencer stays.
    step.begin();
    const int seq = em_createsequencer(em_getroot(), 2, 8);
    int missing = 0;
    for (int i = 0; seq && i < 2; i++) {
        em_setparam(seq, EMP_CHANNEL, i);
        const int channel = em_getparam(seq, EMP_CHANNELNODE);
        if (channel == -1) {
            missing++;
            continue;
        }
        const int8_t pattern[8] = {69, 0, 72, 0, 69, 0, 76, 0};
        em_setparam(channel, EMP_SAMPLE, i ? stereo : mono);
        EXPECT_EQ(em_setparamp(channel, EMP_PATTERN, pattern), 0);
    }
    EXPECT_EQ(seq == 0 || missing > 0, step.failedhere());
    EXPECT_LE(missing, 1);
    if (seq) {
        em_setparam(seq, EMP_LENGTH, 22050);
        em_setparam(seq, EMP_RUN, 1);
    }

    step.begin();
    const int music = em_createoggmusic(em_getroot());
    EXPECT_EQ(music == 0, step.failedhere());
    if (music) {
        em_setparam(music, EMP_VOLUME, 200);
        EXPECT_EQ(em_playoggmusic(music, f.first.c_str()), 0);
        em_setparam(music, EMP_SWITCHMODE, 1);
        EXPECT_EQ(em_playoggmusic(music, f.second.c_str()), 0);
    }

    // The callback allocates nothing: the fade, the switch, the voices'
    // ends and the sequencer's notes all happen without a heap call.
    step.begin();
    std::vector<int16_t> out(2 * 1024);
    for (int b = 0; b < 60; b++)
        EXPECT_EQ(em_render(out.data(), 1024), 1024);
    EXPECT_EQ(emtest_heapcalls, step.before);
    if (music) {
        EXPECT_EQ(em_getparam(music, EMP_VOLUME), 200) << "the switch was made";
    }
    return emtest_heapcalls;
}

// Every line printed is a documented failure text.
void emtest_expectonlyfailuretexts(const std::string& text)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) {
            EXPECT_EQ(emtest_failuretexts.count(line), 1u) << "unexpected line: " << line;
        }
}

TEST(Failures, EveryHeapCallOfASessionFailsCleanly)
{
    const emtest_files files;
    // The run without failures counts the heap calls.
    emtest_failingcall = 0;
    emtest_heapcalls = 0;
    emtest_failed = false;
    emio_rawcalloc = emtest_failingcalloc;
    long total;
    {
        emtest_capture quiet;
        total = emtest_session(files);
        em_deinit();
        EXPECT_EQ(quiet.err(), "");
    }
    ASSERT_GT(total, 30);
    for (long n = 1; n <= total; n++) {
        SCOPED_TRACE(testing::Message() << "heap call " << n << " of " << total << " fails");
        emtest_failingcall = n;
        emtest_heapcalls = 0;
        emtest_failed = false;
        emtest_capture cap;
        emtest_session(files);
        EXPECT_TRUE(emtest_failed);
        em_deinit();
        const std::string out = cap.out(), err = cap.err();
        if (out.find("Max bytes") != std::string::npos) {
            EXPECT_NE(out.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << out;
            emtest_expectonlyfailuretexts(out.substr(0, out.find("Max bytes")));
        } else {
            emtest_expectonlyfailuretexts(out);
        }
        emtest_expectonlyfailuretexts(err);
        ASSERT_FALSE(HasFailure());
    }
    // Once the heap gives again, the whole session works.
    emtest_failingcall = 0;
    emtest_heapcalls = 0;
    {
        emtest_capture quiet;
        EXPECT_EQ(emtest_session(files), total);
        em_deinit();
    }
    emio_rawcalloc = calloc;
    RecordProperty("failure_points", static_cast<int>(total));
    printf("audio engine: %ld heap calls made to fail in turn\n", total);
}

} // namespace
