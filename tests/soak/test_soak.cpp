// test_soak.cpp -- the audio engine soak: thousands of random operations from the
// main thread while the real callback runs on SDL's dummy driver; the tree stays
// consistent, nothing crashes, and the engine's report at shutdown shows nothing
// left allocated. QUORREL_SOAK_SEED and QUORREL_SOAK_OPS replay a run.
#include "tests/em/em_harness.h"
#include "tests/em/em_oggwriter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <set>

namespace {

const int SOAK_DEFAULTOPS = 20000;
const double SOAK_MAXSECONDS = 40.0;   // the run stops early, and says so, after this

class soak_run {
public:
    explicit soak_run(uint32_t seed) : rng_(seed) {}

    std::mt19937 rng_;
    std::vector<int> nodes_;            // handles made by the soak (some may be gone)
    std::vector<int> playable_;         // samples loaded at the start, kept to the end
    std::vector<int> spare_;            // samples loaded and freed during the run
    std::vector<std::string> wavs_;
    std::vector<std::string> oggs_;     // good, damaged and missing files
    int8_t block_[65536];               // any block parameter fits

    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(rng_() % n) : 0; }
    bool chance(uint32_t percent) { return below(100) < percent; }

    // A handle: mostly one the soak made, else the root, else any number.
    int anyhandle()
    {
        const uint32_t pick = below(10);
        if (pick < 7 && !nodes_.empty())
            return nodes_[below(static_cast<uint32_t>(nodes_.size()))];
        if (pick < 9)
            return em_getroot();
        return static_cast<int>(below(EM_MAXHANDLES + 20)) - 10;
    }

    int anysample()
    {
        const uint32_t pick = below(10);
        if (pick < 6 && !playable_.empty())
            return playable_[below(static_cast<uint32_t>(playable_.size()))];
        if (pick < 8 && !spare_.empty())
            return spare_[below(static_cast<uint32_t>(spare_.size()))];
        return static_cast<int>(below(EM_MAXSAMPLES + 20)) - 10;
    }

    int32_t anyint()
    {
        static const int32_t values[] = {0, 1, -1, 2, 3, 4, 128, -128, 256, 1000, 0x10000, 0x8000, 0x40000,
                                         -0x10000, 44100, std::numeric_limits<int32_t>::max(),
                                         std::numeric_limits<int32_t>::min()};
        if (chance(60))
            return values[below(sizeof(values) / sizeof(values[0]))];
        return static_cast<int32_t>(rng_());
    }

    float anyfloat()
    {
        static const float values[] = {0.0f, 1.0f, -1.0f, 0.5f, 343.0f, 1e-30f, 1e30f, -1e30f,
                                       std::numeric_limits<float>::infinity(),
                                       std::numeric_limits<float>::quiet_NaN()};
        if (chance(50))
            return values[below(sizeof(values) / sizeof(values[0]))];
        return static_cast<float>(static_cast<int32_t>(rng_() % 20001) - 10000) / 100.0f;
    }

    int anyid() { return static_cast<int>(below(42)) - 1; }

    void remember(int handle)
    {
        if (handle > 0)
            nodes_.push_back(handle);
        if (nodes_.size() > 2000)
            nodes_.erase(nodes_.begin(), nodes_.begin() + 1000);
    }

    // One random operation; returns its name for the failure message.
    const char *step()
    {
        switch (below(26)) {
        case 0:
            remember(em_createsampler(anyhandle(), chance(50) ? -1 : 0));
            return "create sampler";
        case 1:
            remember(em_createsampler3d(anyhandle(), chance(50) ? -1 : 0));
            return "create 3-D sampler";
        case 2: {
            const int seq = em_createsequencer(anyhandle(), static_cast<int>(below(11)) - 1,
                                               static_cast<int>(below(70)) - 2);
            remember(seq);
            em_setparam(seq, EMP_RUN, 1);
            return "create sequencer";
        }
        case 3: {
            const int music = em_createoggmusic(anyhandle());
            remember(music);
            emtest_capture quiet;   // refused files print their error lines
            em_playoggmusic(music, oggs_[below(static_cast<uint32_t>(oggs_.size()))].c_str());
            return "create music";
        }
        case 4: {
            emtest_capture quiet;
            em_playoggmusic(anyhandle(), oggs_[below(static_cast<uint32_t>(oggs_.size()))].c_str());
            return "play music";
        }
        case 5:
            em_stopoggmusic(anyhandle());
            return "stop music";
        case 6:
        case 7:
            remember(em_triggersample(anyhandle(), anysample()));
            return "trigger sample";
        case 8:
            remember(em_triggersample3d(anyhandle(), anysample()));
            return "trigger 3-D sample";
        case 9:
        case 10:
        case 11:
            em_setparam(anyhandle(), anyid(), anyint());
            return "set int parameter";
        case 12:
            em_setparamf(anyhandle(), anyid(), anyfloat());
            return "set float parameter";
        case 13:
            em_setparam3f(anyhandle(), anyid(), anyfloat(), anyfloat(), anyfloat());
            return "set vector parameter";
        case 14:
            for (int8_t &b : block_)
                b = static_cast<int8_t>(rng_());
            em_setparamp(anyhandle(), anyid(), block_);
            return "set block parameter";
        case 15: {
            const int h = anyhandle();
            const int id = anyid();
            float v[3];
            em_getparam(h, id);
            em_getparamf(h, id);
            em_getparamv(h, id, v);
            em_getparamp(h, id, block_);
            return "get parameters";
        }
        case 16: {
            SDL_LockAudio();
            em_node *node = em_getnode(anyhandle());
            if (node && node != emstate.root)
                em_detachnode(node);
            SDL_UnlockAudio();
            return "detach";
        }
        case 17: {
            SDL_LockAudio();
            em_node *node = em_getnode(anyhandle());
            em_node *parent = em_getnode(anyhandle());
            if (node && node != emstate.root)
                em_attachnode(node, parent);
            SDL_UnlockAudio();
            return "reattach";
        }
        case 18:
        case 24:
        case 25: {
            SDL_LockAudio();
            em_node *node = em_getnode(anyhandle());
            if (node && node != emstate.root)
                em_destroynode(node);
            SDL_UnlockAudio();
            return "destroy";
        }
        case 19: {
            emtest_capture quiet;
            const int s = em_loadsample(wavs_[below(static_cast<uint32_t>(wavs_.size()))].c_str());
            if (s)
                spare_.push_back(s);
            return "load sample";
        }
        case 20:
            if (!spare_.empty()) {
                const size_t i = below(static_cast<uint32_t>(spare_.size()));
                em_freesample(spare_[i]);
                spare_.erase(spare_.begin() + static_cast<std::ptrdiff_t>(i));
            }
            return "free sample";
        case 21: {
            const int h = anyhandle();
            em_getparent(h);
            em_getchild(h);
            em_getnext(h);
            em_getprev(h);
            em_isnode(h);
            em_validsample(anysample());
            return "walk";
        }
        case 22:
            em_getsampleclock();
            em_getmsclock();
            return "clocks";
        default:
            em_setparam(anyhandle(), EMP_CHANNEL, static_cast<int32_t>(below(10)) - 1);
            return "select channel";
        }
    }
};

// Checks the node tree under the audio lock: every table entry names its own
// slot, links agree in both directions, and the walk from the root ends.
void soak_checktree()
{
    SDL_LockAudio();
    int listed = 0;
    for (int h = 1; h < EM_MAXHANDLES; h++) {
        const em_node *node = emnodes[h];
        if (!node)
            continue;
        listed++;
        EXPECT_EQ(node->handle, h);
        if (node->next) {
            EXPECT_EQ(node->next->prev, node);
        }
        if (node->prev) {
            EXPECT_EQ(node->prev->next, node);
        }
        if (node->parent && !node->prev) {
            EXPECT_EQ(node->parent->child, node);
        }
        for (const em_node *c = node->child; c; c = c->next) {
            EXPECT_EQ(c->parent, node);
        }
    }
    int reached = 0;
    std::vector<const em_node *> stack = {emstate.root};
    while (!stack.empty() && reached <= listed) {
        const em_node *node = stack.back();
        stack.pop_back();
        reached++;
        for (const em_node *c = node->child; c; c = c->next)
            stack.push_back(c);
    }
    EXPECT_LE(reached, listed) << "the walk from the root does not end";
    SDL_UnlockAudio();
}

uint32_t soak_envnumber(const char *name, uint32_t fallback)
{
    const char *text = getenv(name);
    return text && *text ? static_cast<uint32_t>(strtoul(text, nullptr, 0)) : fallback;
}

TEST(Soak, RandomOperationsBesideTheRunningCallback)
{
    const uint32_t seed = soak_envnumber(
        "QUORREL_SOAK_SEED", static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    const uint32_t ops = soak_envnumber("QUORREL_SOAK_OPS", SOAK_DEFAULTOPS);
    printf("soak: seed %u, %u operations (replay: QUORREL_SOAK_SEED=%u QUORREL_SOAK_OPS=%u)\n", seed, ops, seed,
           ops);
    fflush(stdout);
    RecordProperty("seed", static_cast<int>(seed));

    emtest_tempdir dir;
    soak_run run(seed);
    emtest_writewav(dir.file("m8.wav"), 1, 1, 22050, 8, std::vector<uint8_t>(3000, 200));
    std::vector<int16_t> tone(4000);
    for (size_t i = 0; i < tone.size(); i++)
        tone[i] = static_cast<int16_t>(8000.0 * sin(static_cast<double>(i) * 0.07));
    emtest_writewav(dir.file("s16.wav"), 1, 2, 44100, 16, emtest_bytes16(tone));
    emtest_writewav(dir.file("m16.wav"), 1, 1, 48000, 16, emtest_bytes16(tone));
    run.wavs_ = {dir.file("m8.wav"), dir.file("s16.wav"), dir.file("m16.wav"), dir.file("missing.wav")};
    ASSERT_EQ(emtest_writeogg(dir.file("a.ogg"), 2, 44100, 20000, 440), 0);
    ASSERT_EQ(emtest_writeogg(dir.file("b.ogg"), 1, 22050, 6000, 330), 0);
    emtest_writewav(dir.file("notogg.ogg"), 1, 1, 22050, 8, std::vector<uint8_t>(100, 1));
    run.oggs_ = {dir.file("a.ogg"), dir.file("b.ogg"), dir.file("notogg.ogg"), dir.file("missing.ogg")};

    ASSERT_EQ(em_init(), 0);    // the device runs: callbacks come from SDL's audio thread
    for (int i = 0; i < 3; i++) {
        const int s = em_loadsample(run.wavs_[static_cast<size_t>(i)].c_str());
        ASSERT_NE(s, 0);
        run.playable_.push_back(s);
    }
    const uint32_t startclock = em_getsampleclock();

    const auto start = std::chrono::steady_clock::now();
    uint32_t done = 0;
    const char *last = "";
    for (; done < ops; done++) {
        last = run.step();
        if (done % 4 == 3)
            usleep(100);    // let the callback in between operations
        if (done % 1000 == 999) {
            soak_checktree();
            if (HasFailure())
                break;
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (seconds > SOAK_MAXSECONDS) {
                printf("soak: stopped after %u operations at the time limit\n", done + 1);
                done++;
                break;
            }
        }
    }
    EXPECT_FALSE(HasFailure()) << "seed " << seed << ", after operation " << done << " (" << last << ")";
    soak_checktree();
    EXPECT_NE(em_getsampleclock(), startclock) << "the callback ran";

    emtest_capture report;
    em_deinit();
    const std::string out = report.out();
    const std::string err = report.err();
    printf("soak: %u operations done; engine report:\n%s", done, out.c_str());
    EXPECT_NE(out.find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << out;
    EXPECT_EQ(err.find("ERROR: name "), std::string::npos) << err;
}

// Found by the soak: a 3-D voice moved away from its 3-D sampler kept reading
// that sampler's listener record after the sampler was destroyed.
TEST(SoakFindings, ThreeDVoiceMovedAwayOutlivesItsSampler)
{
    emtest_tempdir dir;
    std::vector<int16_t> tone(44100);
    for (size_t i = 0; i < tone.size(); i++)
        tone[i] = static_cast<int16_t>(12000.0 * sin(static_cast<double>(i) * 0.05));
    emtest_writewav(dir.file("tone.wav"), 1, 1, 44100, 16, emtest_bytes16(tone));
    auto loud = [](const std::vector<int16_t> &out) {
        int32_t peak = 0;
        for (const int16_t v : out)
            peak = std::max(peak, static_cast<int32_t>(std::abs(v)));
        return peak;
    };

    for (const bool toanother : {false, true}) {
        SCOPED_TRACE(toanother ? "moved under another 3-D sampler" : "moved under the root");
        ASSERT_EQ(emtest_startpaused(), 0);
        const int sample = em_loadsample(dir.file("tone.wav").c_str());
        const int first = em_createsampler3d(em_getroot(), -1);
        const int second = em_createsampler3d(em_getroot(), -1);
        const int voice = em_triggersample3d(first, sample);
        ASSERT_NE(voice, 0);
        EXPECT_GT(loud(emtest_render()), 1000) << "the voice is heard where it was made";

        SDL_LockAudio();
        em_attachnode(em_getnode(voice), em_getnode(toanother ? second : em_getroot()));
        em_destroynode(em_getnode(first));
        SDL_UnlockAudio();
        int32_t peak = 0;
        for (int b = 0; b < 4; b++)
            peak = std::max(peak, loud(emtest_render()));
        if (toanother)
            EXPECT_GT(peak, 1000) << "the voice is heard around its new listener";
        else
            EXPECT_EQ(peak, 0) << "without a listener the voice is silent";
        EXPECT_EQ(em_isnode(voice), 1);
        emtest_capture report;
        em_deinit();
        EXPECT_NE(report.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    }
}

}  // namespace
