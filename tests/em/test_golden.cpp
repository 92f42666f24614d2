// test_golden.cpp -- every mixing routine renders a fixed set of voices into fixed hashes: the plain loops and the
// vector loops at each level give the very values they gave when these hashes were written
#include "tests/kit/kit_em.h"
#include "tools/mixgen/longmix.h"

namespace {

using Golden = kit_engine;

// The level the environment asks for is the level in use (a processor without AVX2 stops at sse2). Sampler rows: kind,
// voices, layout (0 both); 3-D rows: positioned voices, ramped voices; sequencer rows: sequencers.
TEST_F(Golden, EveryRoutineRendersItsFixedHashesAtTheLevelAskedFor)
{
    const std::string asked = getenv("EM_NOSIMD") ? "none" : getenv("EM_SIMD") ? getenv("EM_SIMD") : "";
    const std::string level = em_simdname(em_simdlevel());
    printf("mixing runs: %s\n", level.c_str());
    EXPECT_TRUE(asked == "none" || asked == "sse2" ? level == asked : level != "none") << level;
    enum { A = EMTEST_ANY, U = EMTEST_UNIT, S = EMTEST_STEPPED, R = EMTEST_RAMPED, D3, SEQ };
    const struct {
        int kind, a, b, n;  // n buffers
        uint32_t src, seed; // seeds of the sources and of the random numbers
        bool interp;
        uint64_t out, mix, state; // 16-bit output, 32-bit root mix, voice state
    } rows[] = {
        {U, 40, 1, 150, 7, 101, false, 0xa05c102f8ecbc540, 0x1bdf8e1f9e6ca5b1, 0xd9a716fcc05e6eda},
        {S, 40, 1, 150, 7, 102, false, 0x772a8c95dcd17d2b, 0x52156b1402b36441, 0xb12a08e3bfa74456},
        {R, 40, 1, 150, 7, 103, false, 0xc7a618c7425f0a61, 0xd952da8a6363b1e7, 0xadaff270edbb1409},
        {U, 40, 2, 150, 7, 104, false, 0xed91640bf44f63e3, 0xef6db4a3afad5df3, 0x77267f695bb94608},
        {S, 40, 2, 150, 7, 105, false, 0x953e8c421e25a196, 0xb97cd63b53ad6fe6, 0x2f7fa88d3647c720},
        {R, 40, 2, 150, 7, 106, false, 0xa30a579a668a67ee, 0xa4f9efcd54353c33, 0xd9d93da6cd722a19},
        {A, 120, 0, 400, 7, 12345, false, 0xf422f50586cf1e3c, 0xaecbb4a4dddc55d8, 0x76c6f40bb3f0064d},
        {D3, 160, 0, 200, 17, 4242, false, 0xab4b7df8be2788ed, 0x7b5dc6b496abdd10, 0x70d5c83cc8120b66},
        {D3, 200, 48, 300, 17, 4243, false, 0xad8c1a299e335f3d, 0x0bf8079b6bdf8c39, 0x4e5f0b4fe2275918},
        {S, 40, 1, 150, 7, 112, true, 0xfb1752ee5470d8de, 0x4b29fc59efdd0b51, 0xb36652fc8303216b},
        {R, 40, 1, 150, 7, 113, true, 0x28e8238de4dc5646, 0xded12f351e6dea39, 0xda15e292f6e39df3},
        {S, 40, 2, 150, 7, 115, true, 0x4b9e35f8aa84e048, 0xf807039aaea04b8d, 0x5d2d08e52ddf4679},
        {R, 40, 2, 150, 7, 116, true, 0x29b8478e8d5a4779, 0xeb759f4102796c92, 0x175294ebaebafdc7},
        {A, 120, 0, 300, 7, 117, true, 0xcafbdbe38db0fe8a, 0xfaf797e6791cae70, 0xbd2ffea869c87a11},
        {D3, 160, 48, 200, 17, 4244, true, 0x670fd196dbd59391, 0xc9f5610ae608ace5, 0xe25db2e9fbe46234},
        {SEQ, 12, 0, 300, 27, 556, true, 0xbd78979acde139bb, 0x3ff67f8947a3245f, 0xcf2b57a2efd1a3f8},
        {SEQ, 12, 0, 300, 27, 555, false, 0x2ae1ec0cc88b5dae, 0x3714e92bf6a09325, 0x637ce5d54b1707a1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "seed " << r.seed);
        const emtest_hashes h =
            r.kind == D3    ? emtest_mix3dvoices(r.a, r.b, r.n, r.src, r.seed, r.interp)
            : r.kind == SEQ ? emtest_sequencermix(r.a, r.n, r.src, r.seed, r.interp)
                            : emtest_samplermix(static_cast<emtest_voicekind>(r.kind), r.b, r.a, r.n, r.src, r.seed, r.interp);
        EXPECT_TRUE(h.out == r.out && h.mix == r.mix && h.state == r.state)
            << "rendered 0x" << std::hex << h.out << ", 0x" << h.mix << ", 0x" << h.state;
    }
}

} // namespace
