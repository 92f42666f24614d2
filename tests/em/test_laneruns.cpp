// test_laneruns.cpp -- the vector runs of every level the processor has against the plain loops, on seeded random runs
// aimed at their rare branches: runs shorter than the lanes, tails, places whose sums leave 32 bits, wide gains
#include <random>

#include "tests/kit/kit_em.h"

namespace {

// The vector run tables this processor can run.
std::vector<const em_runs*> kit_vectorruns()
{
    std::vector<const em_runs*> levels = {&em_sse2runs};
    if (__builtin_cpu_supports("avx2"))
        levels.push_back(&em_avx2runs);
    return levels;
}

// Source frames: enough for places past 2^32 / 65536 frames, where the vector runs hand over to the plain ones.
const int32_t KIT_FRAMES = 70000;

// Seeded random numbers and a stereo source of random 16-bit values.
struct kit_runcase {
    std::mt19937 rng;
    std::vector<int32_t> data;
    explicit kit_runcase(uint32_t seed) : rng(seed), data(values(2 * KIT_FRAMES, 32768)) { }
    int32_t draw(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
    // n values within -most .. most - 1: source data, or a mix the runs add to.
    std::vector<int32_t> values(int32_t n, int32_t most)
    {
        std::vector<int32_t> v(n);
        for (int32_t& x : v)
            x = draw(-most, most - 1);
        return v;
    }
    // A first frame up to most, often most itself: the run then reads the source's last value.
    int32_t start(int64_t most) { return draw(0, 3) ? draw(0, static_cast<int32_t>(most)) : static_cast<int32_t>(most); }
    // A gain within 16 bits (the narrow products) or far beyond them.
    int32_t gain() { return draw(0, 3) ? draw(-32768, 32767) : draw(-2000000, 2000000); }
};

TEST(LaneRuns, SteppedRunsGiveThePlainLoopsValues)
{
    kit_runcase c(20261207);
    for (const em_runs* runs : kit_vectorruns()) {
        for (int k = 0; k < 6000; k++) {
            const int32_t channels = c.draw(1, 2), n = c.draw(0, 3) ? c.draw(0, 40) : c.draw(41, 3000);
            const bool interp = c.draw(0, 1);
            // Steps: near unit, up to eight frames, or long enough that the places leave 32 bits.
            const int32_t kind = c.draw(0, 2),
                          most = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, (KIT_FRAMES - 2) / (n > 1 ? n : 1) * 65535LL));
            int32_t step = kind == 0 ? c.draw(0x8000, 0x18000) : kind == 1 ? c.draw(0, 0x80000) : c.draw(0, most);
            if (static_cast<int64_t>(step) * n >= static_cast<int64_t>(KIT_FRAMES - 2) * 65536)
                step = most;
            const em_place from = {0, c.draw(0, 65535)};
            const int64_t span = (from.frac + static_cast<int64_t>(step) * (n > 0 ? n - 1 : 0)) >> 16;
            const em_place at = {c.start(KIT_FRAMES - 1 - interp - span), from.frac};
            const em_source src = {c.data.data(), KIT_FRAMES, channels, false, interp};
            const em_gains g = {c.gain(), c.gain(), c.gain(), c.gain()};
            std::vector<int32_t> want = c.values(2 * n, 100000), got = want;
            em_plainruns.stepped[channels - 1](want.data(), src, at, step, n, g);
            runs->stepped[channels - 1](got.data(), src, at, step, n, g);
            ASSERT_EQ(want, got) << "channels " << channels << " interp " << interp << " n " << n << " step " << step << " frame "
                                 << at.frame << " frac " << at.frac;
        }
    }
}

// Ramped runs: steps that fall below 0 (holding still) or wrap past 32 bits, rising and falling volumes and pans within
// 16 bits and beyond; the place and glides they leave must match too.
TEST(LaneRuns, RampedRunsGiveThePlainLoopsValuesAndState)
{
    kit_runcase c(7121);
    for (const em_runs* runs : kit_vectorruns()) {
        for (int k = 0; k < 6000; k++) {
            const int32_t channels = c.draw(1, 2), n = c.draw(0, 3) ? c.draw(1, 40) : c.draw(41, 2000);
            const bool interp = c.draw(0, 1), wraps = c.draw(0, 15) == 0, wide = c.draw(0, 3) == 0;
            const int64_t s0 = wraps ? INT32_MAX : c.draw(-0x8000, 0x40000), s1 = c.draw(-0x8000, 0x40000);
            const int32_t v0 = wide ? c.draw(-3000000, 3000000) : c.draw(0, 32767), v1 = c.draw(-32768, 32767);
            const int32_t q0 = c.draw(-128, 128), q1 = wide ? c.draw(-100000, 100000) : c.draw(-128, 128);
            em_glides g = {0, 0, 0, wraps ? 65536 : (s1 - s0) * 65536 / n, (v1 - v0) * 65536LL / n, (q1 - q0) * 65536LL / n};
            g.step = em_glide(static_cast<int32_t>(s0), g.stepinc);
            g.volume = em_glide(v0, g.volinc), g.pan = em_glide(q0, g.paninc);
            // Where the run ends from its first frame, as the plain loop moves: the start keeps it on the sample.
            const int32_t frac = c.draw(0, 65535);
            int64_t moved = frac, step = g.step;
            for (int32_t i = 0; i < n; i++, step += g.stepinc)
                moved += std::max(em_glidefield(step), 0);
            int64_t place = c.start(KIT_FRAMES - 1 - interp - (moved >> 16)) * 65536LL + frac;
            const em_source src = {c.data.data(), KIT_FRAMES, channels, false, interp};
            std::vector<int32_t> want = c.values(2 * n, 100000), got = want;
            int64_t placed = place;
            em_glides h = g;
            em_plainruns.ramped[channels - 1](want.data(), src, &place, &g, n);
            runs->ramped[channels - 1](got.data(), src, &placed, &h, n);
            ASSERT_EQ(want, got) << "channels " << channels << " interp " << interp << " n " << n << " step " << s0 << ".." << s1;
            ASSERT_EQ(std::vector<int64_t>({place, g.step, g.volume, g.pan}),
                      std::vector<int64_t>({placed, h.step, h.volume, h.pan}));
        }
    }
}

} // namespace
