// test_soak.cpp -- the audio engine soak: random operations from the main thread while the real callback runs on
// SDL's dummy driver; nothing crashes and nothing is left allocated. QUORREL_SOAK_SEED and QUORREL_SOAK_OPS replay a run.
#include "tests/kit/kit_em.h"
#include "tools/mixgen/oggwriter.h"

#include <chrono>
#include <random>

namespace {

TEST(Soak, RandomOperationsBesideTheRunningCallback)
{
    auto env = [](const char* name, uint32_t fallback) {
        const char* text = getenv(name);
        return text && *text ? static_cast<uint32_t>(strtoul(text, nullptr, 0)) : fallback;
    };
    const uint32_t seed = env("QUORREL_SOAK_SEED", static_cast<uint32_t>(time(nullptr))), ops = env("QUORREL_SOAK_OPS", 20000);
    printf("soak: seed %u, %u operations (replay: QUORREL_SOAK_SEED=%u QUORREL_SOAK_OPS=%u)\n", seed, ops, seed, ops);
    fflush(stdout);
    std::mt19937 rng(seed);
    auto below = [&rng](size_t n) { return static_cast<int>(rng() % n); };
    kit_tempdir dir;
    kit_writewav(dir.file("m8.wav"), 1, 1, 22050, 8, std::vector<uint8_t>(3000, 200));
    kit_writewav(dir.file("s16.wav"), 1, 2, 44100, 16, std::vector<uint8_t>(8000, 0x40));
    ASSERT_EQ(mixgen_writeogg(dir.file("a.ogg"), 2, 44100, 20000, 440), 0);
    const std::string files[] = {dir.file("m8.wav"), dir.file("s16.wav"), dir.file("a.ogg"), dir.file("missing")};
    ASSERT_EQ(em_init(), 0); // callbacks come from SDL's audio thread
    std::vector<int> nodes = {0}, samples = {em_loadsample(files[0].c_str()), em_loadsample(files[1].c_str())};
    const uint32_t startclock = em_getsampleclock();
    static int8_t block[65536];
    const auto start = std::chrono::steady_clock::now();
    uint32_t done = 0;
    for (bool good = true; good && done < ops; done++) {
        // Mostly handles the soak made, else the root, else any number; likewise samples.
        const int p = below(10), id = below(70) - 1;
        const int h = p < 7 ? nodes[below(nodes.size())] : p < 9 ? em_getroot() : below(EM_MAXHANDLES + 20) - 10;
        const int s = p < 8 ? samples[below(samples.size())] : below(EM_MAXSAMPLES + 20) - 10;
        static const int32_t values[] = {0, 1, -1, 3, 256, 0x10000, 44100, INT32_MAX, INT32_MIN};
        const int32_t v = below(2) ? values[below(9)] : static_cast<int32_t>(rng());
        const float f = below(4) ? static_cast<float>(v) / 100.0f : below(2) ? INFINITY : NAN;
        const char* file = files[below(4)].c_str();
        float vector[3];
        int made = 0;
        kit_capture quiet; // refused files print error lines
        SDL_LockAudio();   // tree operations from outside the engine take the lock
        em_node *node = em_getnode(h), *other = em_getnode(nodes[below(nodes.size())]);
        const int op = below(24);
        const bool movable = node && node != emstate.root;
        if (movable && op == 0)
            em_detachnode(node);
        if (movable && op == 1)
            em_attachnode(node, other);
        if (movable && (op == 2 || op == 3))
            em_destroynode(node);
        SDL_UnlockAudio();
        switch (op) {
        case 4: made = em_createsampler(h, below(2) - 1); break;
        case 5: made = em_createsampler3d(h, below(2) - 1); break;
        case 6: made = em_createsequencer(h, below(11) - 1, below(70) - 2), em_setparam(made, EMP_RUN, 1); break;
        case 7: made = em_createoggmusic(h), em_playoggmusic(made, file); break;
        case 8: em_playoggmusic(h, file); break;
        case 9: em_stopoggmusic(h); break;
        case 10:
        case 11: made = em_triggersample(h, s); break;
        case 12: made = em_triggersample3d(h, s); break;
        case 13:
        case 14: em_setparam(h, id, v); break;
        case 15: em_setparamf(h, id, f), em_setparam3f(h, id, f, -f, f); break;
        case 16: em_setparamp(h, id, memset(block, v, sizeof(block))); break;
        case 17: em_getparam(h, id), em_getparamf(h, id), em_getparamv(h, id, vector), em_getparamp(h, id, block); break;
        case 18:
            if (const int loaded = em_loadsample(file))
                samples.push_back(loaded);
            break;
        case 19:
            if (samples.size() > 2)
                em_freesample(samples.back()), samples.pop_back();
            break;
        case 20: em_fade(h, below(600), below(300), below(3)); break;
        case 21: em_pause(h, below(5) ? 0 : 1); break;
        case 22: made = em_triggersampleat(h, s, em_getsampleclock() + static_cast<uint32_t>(below(5000)) - 1000); break;
        case 23: made = em_triggersample3dclock(h, s, em_getsampleclock() + static_cast<uint32_t>(below(5000))); break;
        }
        quiet.stop();
        if (made > 0)
            nodes.push_back(made);
        if (nodes.size() > 2000)
            nodes.erase(nodes.begin() + 1, nodes.begin() + 1000);
        if (done % 4 == 3)
            usleep(100); // lets the callback in between operations
        good = done % 1000 != 999 || std::chrono::steady_clock::now() - start <= std::chrono::seconds(40); // the time limit
    }
    EXPECT_NE(em_getsampleclock(), startclock) << "the callback ran";
    kit_capture report;
    em_deinit();
    printf("soak: %u of %u operations done\n", done, ops);
    EXPECT_NE(report.out().find("Bytes left allocated at io_deinit: 0\n"), std::string::npos) << report.out();
    EXPECT_EQ(report.err().find("ERROR: name "), std::string::npos) << report.err();
    EXPECT_EQ(em_locknests, 0) << "the audio lock was taken while held";
}

// Found by the soak: a 3-D voice moved away from its sampler read the sampler's listener after its destruction, in
// its buffers and when placed before its first one.
TEST(Soak, ThreeDVoiceMovedAwayOutlivesItsSampler)
{
    kit_tempdir dir;
    kit_writewav(dir.file("tone.wav"), 1, 1, 44100, 16, std::vector<uint8_t>(88200, 0x40));
    for (const bool toanother : {false, true}) {
        ASSERT_EQ(kit_startpaused(), 0);
        const int first = em_createsampler3d(em_getroot(), -1), second = em_createsampler3d(em_getroot(), -1);
        const int voice = em_triggersample3d(first, em_loadsample(dir.file("tone.wav").c_str()));
        ASSERT_NE(voice, 0);
        SDL_LockAudio();
        em_attachnode(em_getnode(voice), em_getnode(toanother ? second : em_getroot()));
        em_destroynode(em_getnode(first));
        SDL_UnlockAudio();
        EXPECT_EQ(em_setparam3f(voice, EMP_POSITION3D, 1.0f, 0.0f, -2.0f), 0);
        int32_t peak = 0;
        for (int b = 0; b < 4; b++)
            for (const int16_t v : kit_render())
                peak = std::max(peak, std::abs(static_cast<int32_t>(v)));
        EXPECT_EQ(peak > 1000, toanother) << "heard around a new listener only";
        kit_stopengine();
    }
}

} // namespace
