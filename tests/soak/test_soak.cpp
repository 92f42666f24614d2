// test_soak.cpp -- the audio engine soak: random operations from the main thread
// while the real callback runs on SDL's dummy driver; the tree stays consistent
// and the engine's report at shutdown shows nothing left allocated.
// QUORREL_SOAK_SEED and QUORREL_SOAK_OPS replay a run.
#include "tests/em/em_harness.h"
#include "tests/em/em_oggwriter.h"

#include <chrono>
#include <random>

namespace {

// 16-bit values that change all the time.
std::vector<uint8_t> soak_noise(size_t bytes)
{
    std::vector<uint8_t> noise(bytes);
    for (size_t i = 0; i < bytes; i++)
        noise[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
    return noise;
}

// Table entries name their own slots, links agree both ways, the walk from the root ends.
bool soak_treeconsistent()
{
    SDL_LockAudio();
    int listed = 0, reached = 0;
    bool good = true;
    for (int h = 1; h < EM_MAXHANDLES; h++) {
        const em_node *node = emnodes[h];
        listed += node != nullptr;
        good = good && (!node || (node->handle == h && (!node->next || node->next->prev == node) &&
                                  (!node->prev || node->prev->next == node) &&
                                  (!node->parent || node->prev || node->parent->child == node)));
        for (const em_node *c = node ? node->child : nullptr; c; c = c->next)
            good = good && c->parent == node;
    }
    for (std::vector<const em_node *> stack = {emstate.root}; !stack.empty() && reached <= listed; reached++) {
        const em_node *node = stack.back();
        stack.pop_back();
        for (const em_node *c = node->child; c; c = c->next)
            stack.push_back(c);
    }
    SDL_UnlockAudio();
    return good && reached <= listed;
}

uint32_t soak_env(const char *name, uint32_t fallback)
{
    const char *text = getenv(name);
    return text && *text ? static_cast<uint32_t>(strtoul(text, nullptr, 0)) : fallback;
}

TEST(Soak, RandomOperationsBesideTheRunningCallback)
{
    const uint32_t seed = soak_env("QUORREL_SOAK_SEED", static_cast<uint32_t>(time(nullptr)));
    const uint32_t ops = soak_env("QUORREL_SOAK_OPS", 20000);
    printf("soak: seed %u, %u operations (replay: QUORREL_SOAK_SEED=%u QUORREL_SOAK_OPS=%u)\n", seed, ops, seed,
           ops);
    fflush(stdout);
    std::mt19937 rng(seed);
    auto below = [&rng](size_t n) { return static_cast<int>(rng() % n); };
    emtest_tempdir dir;
    emtest_writewav(dir.file("m8.wav"), 1, 1, 22050, 8, std::vector<uint8_t>(3000, 200));
    emtest_writewav(dir.file("s16.wav"), 1, 2, 44100, 16, soak_noise(8000));
    ASSERT_EQ(emtest_writeogg(dir.file("a.ogg"), 2, 44100, 20000, 440), 0);
    const std::string files[] = {dir.file("m8.wav"), dir.file("s16.wav"), dir.file("a.ogg"), dir.file("missing")};
    ASSERT_EQ(em_init(), 0);    // callbacks come from SDL's audio thread
    std::vector<int> nodes = {0}, samples = {em_loadsample(files[0].c_str()), em_loadsample(files[1].c_str())};
    const uint32_t startclock = em_getsampleclock();
    static int8_t block[65536];
    const auto start = std::chrono::steady_clock::now();
    uint32_t done = 0;
    for (bool good = true; good && done < ops; done++) {
        // Mostly handles the soak made, else the root, else any number; likewise samples.
        const int p = below(10), id = below(42) - 1, made = nodes.size();
        const int h = p < 7 ? nodes[below(nodes.size())] : p < 9 ? em_getroot() : below(EM_MAXHANDLES + 20) - 10;
        const int s = p < 8 ? samples[below(samples.size())] : below(EM_MAXSAMPLES + 20) - 10;
        static const int32_t values[] = {0, 1, -1, 3, 256, 0x10000, 44100, INT32_MAX, INT32_MIN};
        const int32_t v = below(2) ? values[below(9)] : static_cast<int32_t>(rng());
        const float f = below(4) ? static_cast<float>(v) / 100.0f : below(2) ? INFINITY : NAN;
        const char *file = files[below(4)].c_str();
        emtest_capture quiet;   // refused files print error lines
        switch (below(20)) {
        case 0: nodes.push_back(em_createsampler(h, below(2) - 1)); break;
        case 1: nodes.push_back(em_createsampler3d(h, below(2) - 1)); break;
        case 2:
            nodes.push_back(em_createsequencer(h, below(11) - 1, below(70) - 2));
            em_setparam(nodes.back(), EMP_RUN, 1);
            break;
        case 3: nodes.push_back(em_createoggmusic(h)); em_playoggmusic(nodes.back(), file); break;
        case 4: em_playoggmusic(h, file); break;
        case 5: em_stopoggmusic(h); break;
        case 6: case 7: nodes.push_back(em_triggersample(h, s)); break;
        case 8: nodes.push_back(em_triggersample3d(h, s)); break;
        case 9: case 10: em_setparam(h, id, v); break;
        case 11: em_setparamf(h, id, f); em_setparam3f(h, id, f, -f, f); break;
        case 12: for (int8_t &b : block) b = static_cast<int8_t>(rng()); em_setparamp(h, id, block); break;
        case 13: {
            float r[3];
            em_getparam(h, id), em_getparamf(h, id), em_getparamv(h, id, r), em_getparamp(h, id, block);
            break;
        }
        case 14: if (const int loaded = em_loadsample(file)) samples.push_back(loaded); break;
        case 15: if (samples.size() > 2) em_freesample(samples.back()), samples.pop_back(); break;
        default: {   // detach, reattach or destroy, under the lock as the engine's callers do
            SDL_LockAudio();
            em_node *node = em_getnode(h), *other = em_getnode(nodes[below(nodes.size())]);
            const int op = node && node != emstate.root ? below(4) : -1;
            if (op == 0) em_detachnode(node);
            if (op == 1) em_attachnode(node, other);
            if (op > 1) em_destroynode(node);
            SDL_UnlockAudio();
        }
        }
        quiet.stop();
        if (nodes.size() > static_cast<size_t>(made) && nodes.back() <= 0)
            nodes.pop_back();
        if (nodes.size() > 2000)
            nodes.erase(nodes.begin() + 1, nodes.begin() + 1000);
        if (done % 4 == 3)
            usleep(100);    // lets the callback in between operations
        if (done % 1000 == 999) {
            good = soak_treeconsistent();
            EXPECT_TRUE(good) << "seed " << seed << ", after operation " << done;
            if (good && std::chrono::steady_clock::now() - start > std::chrono::seconds(40)) {
                printf("soak: stopped after %u operations at the time limit\n", done + 1);
                good = false;
            }
        }
    }
    EXPECT_TRUE(soak_treeconsistent()) << "seed " << seed;
    EXPECT_NE(em_getsampleclock(), startclock) << "the callback ran";
    emtest_capture report;
    em_deinit();
    printf("soak: %u operations done\n", done);
    EXPECT_NE(report.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << report.out();
    EXPECT_EQ(report.err().find("ERROR: name "), std::string::npos) << report.err();
}

// Found by the soak: a 3-D voice moved away from its 3-D sampler kept reading the
// sampler's listener after the sampler was destroyed.
TEST(Soak, ThreeDVoiceMovedAwayOutlivesItsSampler)
{
    emtest_tempdir dir;
    emtest_writewav(dir.file("tone.wav"), 1, 1, 44100, 16, soak_noise(88200));
    for (const bool toanother : {false, true}) {
        ASSERT_EQ(emtest_startpaused(), 0);
        const int first = em_createsampler3d(em_getroot(), -1), second = em_createsampler3d(em_getroot(), -1);
        const int voice = em_triggersample3d(first, em_loadsample(dir.file("tone.wav").c_str()));
        ASSERT_NE(voice, 0);
        SDL_LockAudio();
        em_attachnode(em_getnode(voice), em_getnode(toanother ? second : em_getroot()));
        em_destroynode(em_getnode(first));
        SDL_UnlockAudio();
        int32_t peak = 0;
        for (int b = 0; b < 4; b++)
            for (const int16_t v : emtest_render())
                peak = std::max(peak, std::abs(static_cast<int32_t>(v)));
        EXPECT_EQ(peak > 1000, toanother) << "heard around a new listener only";
        emtest_capture report;
        em_deinit();
        EXPECT_NE(report.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos);
    }
}

}  // namespace
