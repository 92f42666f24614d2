// test_golden.cpp -- every mixing routine renders a fixed set of voices into
// fixed hashes: the plain loops and the vector loops at each level give the
// very values they gave when these hashes were written
#include <functional>

#include "em_harness.h"
#include "em_longmix.h"

namespace {

struct emtest_golden {
    const char* what;
    std::function<emtest_hashes()> mix;
    uint64_t out, mix32, state; // 16-bit output, 32-bit root mix, voice state
};

using Golden = emtest_engine;

// The level the environment asks for is the level in use (a processor without
// AVX2 stops at sse2), so each registration of this test covers its level.
TEST_F(Golden, RunsAtTheLevelAskedFor)
{
    const char* asked = getenv("EM_SIMD");
    const std::string level = em_simdname(em_simdlevel());
    printf("mixing runs: %s\n", level.c_str());
    if (getenv("EM_NOSIMD") || (asked && std::string(asked) == "none"))
        EXPECT_EQ(level, "none");
    else if (asked && std::string(asked) == "sse2")
        EXPECT_EQ(level, "sse2");
    else
        EXPECT_NE(level, "none") << "an x86-64 processor has SSE2 at least";
}

TEST_F(Golden, EveryRoutineRendersItsFixedHashes)
{
    const emtest_golden rows[] = {
        {"mono, unit step", [] { return emtest_samplermix(EMTEST_UNIT, 1, 40, 150, 7, 101); }, 0xa05c102f8ecbc540ull,
         0x1bdf8e1f9e6ca5b1ull, 0xd9a716fcc05e6edaull},
        {"mono, stepped", [] { return emtest_samplermix(EMTEST_STEPPED, 1, 40, 150, 7, 102); }, 0x772a8c95dcd17d2bull,
         0x52156b1402b36441ull, 0xb12a08e3bfa74456ull},
        {"mono, ramped", [] { return emtest_samplermix(EMTEST_RAMPED, 1, 40, 150, 7, 103); }, 0xc7a618c7425f0a61ull,
         0xd952da8a6363b1e7ull, 0xadaff270edbb1409ull},
        {"stereo, unit step", [] { return emtest_samplermix(EMTEST_UNIT, 2, 40, 150, 7, 104); }, 0xed91640bf44f63e3ull,
         0xef6db4a3afad5df3ull, 0x77267f695bb94608ull},
        {"stereo, stepped", [] { return emtest_samplermix(EMTEST_STEPPED, 2, 40, 150, 7, 105); }, 0x953e8c421e25a196ull,
         0xb97cd63b53ad6fe6ull, 0x2f7fa88d3647c720ull},
        {"stereo, ramped", [] { return emtest_samplermix(EMTEST_RAMPED, 2, 40, 150, 7, 106); }, 0xa30a579a668a67eeull,
         0xa4f9efcd54353c33ull, 0xd9d93da6cd722a19ull},
        {"every sampler routine", [] { return emtest_samplermix(EMTEST_ANY, 0, 120, 400, 7, 12345); }, 0xf422f50586cf1e3cull,
         0xaecbb4a4dddc55d8ull, 0x76c6f40bb3f0064dull},
        {"3-D voices", [] { return emtest_mix3dvoices(160, 0, 200, 17, 4242); }, 0xab4b7df8be2788edull, 0x7b5dc6b496abdd10ull,
         0x70d5c83cc8120b66ull},
        {"3-D beside ramped voices", [] { return emtest_mix3dvoices(200, 48, 300, 17, 4243); }, 0xad8c1a299e335f3dull,
         0x0bf8079b6bdf8c39ull, 0x4e5f0b4fe2275918ull},
        {"mono, stepped, interpolated", [] { return emtest_samplermix(EMTEST_STEPPED, 1, 40, 150, 7, 112, true); },
         0xfb1752ee5470d8deull, 0x4b29fc59efdd0b51ull, 0xb36652fc8303216bull},
        {"mono, ramped, interpolated", [] { return emtest_samplermix(EMTEST_RAMPED, 1, 40, 150, 7, 113, true); },
         0x28e8238de4dc5646ull, 0xded12f351e6dea39ull, 0xda15e292f6e39df3ull},
        {"stereo, stepped, interpolated", [] { return emtest_samplermix(EMTEST_STEPPED, 2, 40, 150, 7, 115, true); },
         0x4b9e35f8aa84e048ull, 0xf807039aaea04b8dull, 0x5d2d08e52ddf4679ull},
        {"stereo, ramped, interpolated", [] { return emtest_samplermix(EMTEST_RAMPED, 2, 40, 150, 7, 116, true); },
         0x29b8478e8d5a4779ull, 0xeb759f4102796c92ull, 0x175294ebaebafdc7ull},
        {"every sampler routine, interpolated", [] { return emtest_samplermix(EMTEST_ANY, 0, 120, 300, 7, 117, true); },
         0xcafbdbe38db0fe8aull, 0xfaf797e6791cae70ull, 0xbd2ffea869c87a11ull},
        {"3-D voices, interpolated", [] { return emtest_mix3dvoices(160, 48, 200, 17, 4244, true); }, 0x670fd196dbd59391ull,
         0xc9f5610ae608ace5ull, 0xe25db2e9fbe46234ull},
        {"sequencer channels, interpolated", [] { return emtest_sequencermix(12, 300, 27, 556, true); }, 0xbd78979acde139bbull,
         0x3ff67f8947a3245full, 0x5a81fb993554e9c8ull},
        {"sequencer channels", [] { return emtest_sequencermix(12, 300, 27, 555); }, 0x2ae1ec0cc88b5daeull, 0x3714e92bf6a09325ull,
         0xf0510ddfe08cb731ull},
    };
    for (const emtest_golden& row : rows) {
        SCOPED_TRACE(row.what);
        const emtest_hashes h = row.mix();
        EXPECT_TRUE(h.out == row.out && h.mix == row.mix32 && h.state == row.state)
            << "rendered 0x" << std::hex << h.out << "ull, 0x" << h.mix << "ull, 0x" << h.state << "ull";
    }
}

} // namespace
