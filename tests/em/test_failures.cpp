// test_failures.cpp -- every heap call of an engine session made to fail in turn: each run ends with nothing
// allocated, every call giving its success or its documented failure, and the engine works once the heap gives
#include <functional>
#include <sstream>

#include "tests/kit/kit_em.h"
#include "tools/mixgen/oggwriter.h"

namespace {

long emtest_heapcalls;   // heap calls the engine made in this run
long emtest_failingcall; // the call that fails, 0 for none
bool emtest_failed;      // it has failed

// What the engine prints when each heap call of the session fails, in the order of the calls: "" where the failure
// shows only in a result (the first 19: the start's codes and the sample bank's "out of memory" reason).
const std::string emtest_node = "can't create node", emtest_mix = "can't allocate mix buffer";
const std::string emtest_voice = "warning: em_playsampler couldn't create chnode | ERROR: em_initschannel: ";
const std::string emtest_voice3d = "warning: em_playsampler3d couldn't create chnode | ERROR: em_inits3channel: ";
const std::string emtest_effect = "ERROR: em_initeffect: ";
const std::string emtest_failuretexts[] = {
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    // the sampler and its three voices and one started at a clock, the 3-D sampler and its voice
    "ERROR: em_initsampler: " + emtest_node, "ERROR: em_initsampler: " + emtest_mix,
    "ERROR: em_initsampler: can't allocate sampler", emtest_voice + emtest_node, emtest_voice + "can't allocate schannel",
    emtest_voice + emtest_node, emtest_voice + "can't allocate schannel", emtest_voice + emtest_node,
    emtest_voice + "can't allocate schannel", emtest_voice + emtest_node, emtest_voice + "can't allocate schannel",
    "ERROR: em_initsampler: " + emtest_node, "ERROR: em_initsampler32: " + emtest_mix,
    "ERROR: em_initsampler3d: can't allocate sampler", emtest_voice3d + emtest_node, emtest_voice3d + "can't allocate s3channel",
    // the voice filters' buffer, with the first corner set
    "ERROR: em_setparamf: can't allocate the voice filters' buffer",
    // the sequencer, its two channels and their patterns
    "ERROR: em_initsequencer: " + emtest_node, "ERROR: em_initsequencer: " + emtest_mix,
    "ERROR: em_initsequencer: can't allocate sequencer", "ERROR: em_initschannel: " + emtest_node,
    "ERROR: em_initseqchannel: can't allocate seqchannel", "ERROR: em_initsequencer: can't allocate pattern",
    "ERROR: em_initschannel: " + emtest_node, "ERROR: em_initseqchannel: can't allocate seqchannel",
    "ERROR: em_initsequencer: can't allocate pattern",
    // the music node
    "ERROR: em_initoggmusic: " + emtest_node, "ERROR: em_initoggmusic: can't allocate oggmusic",
    "ERROR: em_initoggmusic: can't allocate load buffer",
    // the reverb (the send table with the first effect node), the echo and the filter
    emtest_effect + "can't allocate send table", emtest_effect + emtest_node, emtest_effect + emtest_mix,
    emtest_effect + "can't allocate effect", emtest_effect + "can't allocate delay line", emtest_effect + emtest_node,
    emtest_effect + emtest_mix, emtest_effect + "can't allocate effect", emtest_effect + "can't allocate delay line",
    emtest_effect + emtest_node, emtest_effect + emtest_mix, emtest_effect + "can't allocate effect"};

// A step succeeds, or a heap call failed inside it and it gave its documented failure (0).
int emtest_step(const std::function<int()>& step)
{
    const long before = emtest_heapcalls;
    const int result = step();
    EXPECT_EQ(result == 0, emtest_failed && emtest_failingcall > before && emtest_failingcall <= emtest_heapcalls);
    return result;
}

// One session on mono.wav, stereo.wav, first.ogg and second.ogg, heap call failing (0: none) failing; the heap calls made.
long emtest_run(const kit_tempdir& dir, long failing)
{
    emtest_failingcall = failing, emtest_heapcalls = 0, emtest_failed = false;
    const int started = em_initoffline();
    if (emtest_failed) {
        EXPECT_TRUE(started == -3 || started == -4 || started == -6) << started;
        EXPECT_EQ(eminout.allocs, nullptr) << "a failed start keeps nothing";
        return emtest_heapcalls;
    }
    EXPECT_EQ(started, 0);
    const int mono = emtest_step([&] { return em_loadsample(dir.file("mono.wav").c_str()); });
    EXPECT_STREQ(mono ? "out of memory" : em_sampleerror(), "out of memory");
    const int stereo = emtest_step([&] { return em_loadsample(dir.file("stereo.wav").c_str()); });
    const int oggsample = emtest_step([&] { return em_loadoggsample(dir.file("second.ogg").c_str()); });
    EXPECT_STREQ(oggsample ? "out of memory" : em_sampleerror(), "out of memory");
    // the loaders through libsndfile and the caller's frames
    const std::string bytes = kit_readfile(dir.file("stereo.wav"));
    const std::vector<int16_t> frames = kit_values(500);
    for (const auto& load :
         std::vector<std::function<int()>> {[&] { return em_loadsound(dir.file("mono.wav").c_str()); },
                                            [&] { return em_loadsamplemem(bytes.data(), static_cast<int32_t>(bytes.size())); },
                                            [&] { return em_loadsampleraw(frames.data(), 250, 2, 32000); }}) {
        const int sample = emtest_step(load);
        EXPECT_STREQ(sample ? "out of memory" : em_sampleerror(), "out of memory");
    }
    const int sampler = emtest_step([] { return em_createsampler(em_getroot(), -1); });
    for (const int sample : {mono, stereo, oggsample})
        emtest_step([&] { return sampler && sample ? em_triggersample(sampler, sample) : -1; });
    emtest_step([&] { return sampler && mono ? em_triggersampleat(sampler, mono, 5000) : -1; });
    const int listener = emtest_step([] { return em_createsampler3d(em_getroot(), -1); });
    const int voice3d = emtest_step([&] { return listener && mono ? em_triggersample3d(listener, mono) : -1; });
    if (voice3d > 0)
        em_setparam(voice3d, EMP_FLAGS, EMF_PLAYING | EMF_LOOP | EMF_MOVING);
    emtest_step([&] { return voice3d > 0 ? em_setparamf(voice3d, EMP_LOWPASS, 900.0f) + 1 : -1; }); // 1 taken, 0 refused
    // A channel that cannot be made leaves its slot at -1; the sequencer stays.
    int missing = 0;
    emtest_step([&] {
        const int seq = em_createsequencer(em_getroot(), 2, 8);
        for (int i = 0; seq && i < 2; i++) {
            em_setparam(seq, EMP_CHANNEL, i);
            const int channel = em_getparam(seq, EMP_CHANNELNODE);
            const int8_t pattern[8] = {69, 0, 72, 0, 69, 0, 76, 0};
            if (channel == -1 && ++missing)
                continue;
            em_setparam(channel, EMP_SAMPLE, i ? stereo : mono);
            EXPECT_EQ(em_setparamp(channel, EMP_PATTERN, pattern), 0);
        }
        if (seq)
            em_setparam(seq, EMP_LENGTH, 22050), em_setparam(seq, EMP_RUN, 1);
        return missing ? 0 : seq;
    });
    EXPECT_LE(missing, 1);
    const int music = emtest_step([] { return em_createoggmusic(em_getroot()); });
    if (music) {
        em_setparam(music, EMP_VOLUME, 200);
        EXPECT_EQ(em_playoggmusic(music, dir.file("first.ogg").c_str()), 0);
        em_setparam(music, EMP_SWITCHMODE, 1);
        EXPECT_EQ(em_playoggmusic(music, dir.file("second.ogg").c_str()), 0);
    }
    // Effects fed by sends from the sampler, its first voice and the 3-D sampler, and a filter over the sampler.
    const int voice = em_getchild(sampler);
    const int reverb = emtest_step([] { return em_createeffect(em_getroot(), EMX_REVERB); });
    const int echo = emtest_step([] { return em_createeffect(em_getroot(), EMX_ECHO); });
    emtest_step([&] { return sampler ? em_createeffect(sampler, EMX_FILTER) : -1; });
    for (const int sender : {sampler, voice, listener})
        for (const int effect : {reverb, echo})
            EXPECT_EQ(em_setsend(sender, effect, 100), sender && effect ? 0 : -1);
    // Fades and pauses take no heap: each is made or refused only by what it names.
    const int fadedvoice = sampler ? em_getchild(sampler) : 0;
    EXPECT_EQ(em_fade(fadedvoice, 0, 500, EM_FADEFREE), fadedvoice ? 0 : -1);
    EXPECT_EQ(em_fade(listener, 100, 300, EM_FADEPAUSE), listener ? 0 : -1);
    EXPECT_EQ(em_fade(em_getroot(), 128, 200, EM_FADEKEEP), 0);
    EXPECT_EQ(em_pause(music, 1), music ? 0 : -1);
    // The callback allocates nothing: the fades, the switch, the voices' ends and the sequencer's notes.
    const long before = emtest_heapcalls;
    std::vector<int16_t> out(2 * 1024);
    for (int b = 0; b < 60; b++)
        EXPECT_EQ(em_render(out.data(), 1024), 1024);
    em_event ev;
    while (em_pollevent(&ev) == 1) // the ends and passes the mixer posted: the ring takes no memory either
        EXPECT_TRUE(ev.type == EME_VOICEEND || ev.type == EME_SEQWRAP || ev.type == EME_MUSICSWITCH || ev.type == EME_MUSICLOOP ||
                    ev.type == EME_FADEDONE)
            << ev.type;
    EXPECT_EQ(emtest_heapcalls, before);
    EXPECT_EQ(em_isnode(fadedvoice), 0);
    EXPECT_EQ(listener ? em_getparam(listener, EMP_PAUSED) : 1, 1);
    EXPECT_EQ(em_pause(music, 0), music ? 0 : -1);
    for (int b = 0; b < 60; b++)
        EXPECT_EQ(em_render(out.data(), 1024), 1024);
    EXPECT_EQ(emtest_heapcalls, before);
    EXPECT_EQ(music ? em_getparam(music, EMP_VOLUME) : 200, 200) << "the switch was made";
    return emtest_heapcalls;
}

TEST(Failures, EveryHeapCallOfASessionFailsCleanly)
{
    const kit_tempdir files;
    kit_writewav(files.file("mono.wav"), 1, 1, 22050, 16, kit_bytes16(kit_values(3000)));
    kit_writewav(files.file("stereo.wav"), 1, 2, 44100, 16, kit_bytes16(kit_values(4000)));
    mixgen_writeogg(files.file("first.ogg"), 2, 44100, 20000, 440);
    mixgen_writeogg(files.file("second.ogg"), 1, 22050, 20000, 660);
    emio_rawcalloc = [](size_t count, size_t size) -> void* {
        if (++emtest_heapcalls != emtest_failingcall)
            return calloc(count, size);
        emtest_failed = true;
        return nullptr;
    };
    long total;
    {
        kit_capture quiet; // the run without failures counts the heap calls
        total = emtest_run(files, 0);
        em_deinit();
        EXPECT_EQ(quiet.err(), "");
    }
    ASSERT_EQ(total, static_cast<long>(std::size(emtest_failuretexts)));
    for (long n = 1; n <= total; n++) {
        SCOPED_TRACE(testing::Message() << "heap call " << n << " of " << total << " fails");
        kit_capture cap;
        emtest_run(files, n);
        EXPECT_TRUE(emtest_failed);
        em_deinit();
        const std::string out = cap.out();
        const bool reported = out.find("Max bytes") != std::string::npos;
        EXPECT_TRUE(!reported || out.find("Bytes left allocated at io_deinit: 0\n") != std::string::npos) << out;
        // the lines printed before the shutdown report are this call's failure text
        std::istringstream lines(out.substr(0, out.find("Max bytes")) + cap.err());
        std::string printed;
        for (std::string line; std::getline(lines, line);)
            printed += line.empty() ? "" : printed.empty() ? line : " | " + line;
        EXPECT_EQ(printed, emtest_failuretexts[n - 1]);
        ASSERT_FALSE(HasFailure());
    }
    {
        kit_capture quiet; // once the heap gives again, the whole session works
        EXPECT_EQ(emtest_run(files, 0), total);
        em_deinit();
    }
    emio_rawcalloc = calloc;
    RecordProperty("failure_points", static_cast<int>(total));
    printf("audio engine: %ld heap calls made to fail in turn\n", total);
}

} // namespace
