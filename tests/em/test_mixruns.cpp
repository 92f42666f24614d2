// test_mixruns.cpp -- the vector runs of two read heads against the plain loop on random runs aimed at their rare
// branches: glide changes on a block's first or last lane, several in one block, falling glides, fields that wrap,
// heads moving backwards, runs that end inside a stretch and runs with too many changes for stretches
#include <random>
#include <vector>

#include "tests/kit/kit_em.h"

namespace {

TEST(MixRuns, TwoHeadsInStretchesGiveThePlainLoopsValues)
{
    std::vector<const em_runs*> levels = {&em_sse2runs};
    if (__builtin_cpu_supports("avx2"))
        levels.push_back(&em_avx2runs);
    std::mt19937 rng(2027);
    const auto upto = [&](int64_t n) { return static_cast<int64_t>(rng() % static_cast<uint64_t>(n)); };
    const int32_t length = 4096;
    std::vector<int32_t> data(2 * length);
    for (int32_t& v : data)
        v = static_cast<int32_t>(upto(65536)) - 32768;
    // Increments: none, a few changes a run, many (past the stretches' limit), rising or falling.
    const auto inc = [&] {
        const int64_t sizes[] = {0, 1 + upto(64), 1 + upto(2000), 4000 + upto(60000)}, d = sizes[upto(4)];
        return upto(2) ? d : -d;
    };
    // A glide word of field whose first change falls on frame at: a multiple of 4 or 8 (a block's first lane) or
    // one less (its last), where the increment is small enough to wait that long.
    const auto word = [&](int32_t field, int64_t inc) {
        const int64_t d = inc < 0 ? -inc : inc, at = (upto(2) ? 8 : 4) * (1 + upto(8)) - upto(2);
        const int64_t m = d > 0 && at * d <= 65536 ? 65536 - at * d + upto(d) : upto(65536);
        return static_cast<int64_t>(field) * 65536 + (inc < 0 ? 65535 - m : m);
    };
    std::vector<int32_t> want(1024), got(1024);
    for (int iter = 0; iter < 40000; iter++) {
        const int32_t channels = 1 + iter % 2, n = static_cast<int32_t>(1 + upto(upto(4) ? 500 : 40));
        const em_source src = {data.data(), length, channels, false, (iter / 2) % 2 == 1};
        em_headrun r0 = {};
        r0.left = (1600 + upto(900)) * 65536 + upto(65536);
        r0.right = r0.left + upto(80 * 65536) - 40 * 65536;
        r0.leftfix = upto(4001) - 2000;
        r0.rightfix = upto(4001) - 2000;
        r0.g.stepinc = inc();
        r0.g.volinc = inc();
        r0.g.paninc = inc();
        // Gains within 16 bits or any 32-bit value (wrapping products), or a gain field about to wrap.
        const int32_t kind = static_cast<int32_t>(upto(4));
        const int32_t gain = kind == 0   ? static_cast<int32_t>(rng())
                             : kind == 1 ? INT32_MAX - 1
                                         : static_cast<int32_t>(upto(32768));
        const int32_t pan = kind == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(upto(257)) - 128;
        r0.g.step = word(static_cast<int32_t>(upto(5 * 65536)) - 2 * 65536, r0.g.stepinc);
        r0.g.volume = word(gain, r0.g.volinc);
        r0.g.pan = word(pan, r0.g.paninc);
        for (int32_t& v : want)
            v = static_cast<int32_t>(rng());
        em_headrun plain = r0;
        const std::vector<int32_t> before = want;
        em_plainruns.heads[channels - 1](want.data(), src, &plain, n);
        for (const em_runs* level : levels) {
            SCOPED_TRACE(testing::Message() << "run " << iter << (level == &em_sse2runs ? " sse2" : " avx2"));
            got = before;
            em_headrun r = r0;
            level->heads[channels - 1](got.data(), src, &r, n);
            ASSERT_EQ(got, want);
            ASSERT_TRUE(r.left == plain.left && r.right == plain.right && r.leftvalue == plain.leftvalue &&
                        r.rightvalue == plain.rightvalue && r.g.step == plain.g.step && r.g.volume == plain.g.volume &&
                        r.g.pan == plain.g.pan);
        }
    }
}

} // namespace
