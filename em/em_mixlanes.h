// em_mixlanes.h -- the mixing runs in vector lanes, written once for EM_LANES
// lanes of 32 bits and compiled twice: by em_mixsse2.cpp at the x86-64
// baseline (4 lanes) and by em_mixavx2.cpp with AVX2 (8 lanes). Every lane is
// a 32-bit word computed with wrapping sums and products and arithmetic
// shifts, each the value the plain run of em_mix.cpp gives for its frame:
// - a glide's field at frame k is the top half of its 16.16 word; the lanes
//   hold it split as whole and 16-bit fraction, the carry moved by hand;
// - a stepped place is kept relative to the run's first frame, the steps
//   summed across the lanes; the vector loop runs only where those relative
//   places stay within 31 bits, so the wrapping sums are exact.
// Everything here is static: nothing compiled for AVX2 can leak into code
// that runs on a processor without it. The tail of a run that does not fill
// the lanes goes to the plain runs.
#ifndef EM_EM_MIXLANES_H
#define EM_EM_MIXLANES_H

#include <cstring>

#include "em/em_local.h"

#if EM_LANES == 8
#include <immintrin.h>
typedef uint32_t em_lanes __attribute__((vector_size(32)));      // wrapping sums and products
typedef int32_t em_signedlanes __attribute__((vector_size(32))); // arithmetic shifts and comparisons
#elif EM_LANES == 4
#include <emmintrin.h>
typedef uint32_t em_lanes __attribute__((vector_size(16)));
typedef int32_t em_signedlanes __attribute__((vector_size(16)));
#else
#error "EM_LANES must be 4 or 8"
#endif

// Types and functions of one instruction set, private to the file that
// includes this one.
namespace {

// ---------------------------------------------------------------------------
// Lane operations
// ---------------------------------------------------------------------------

static inline em_lanes em_laneload(const int32_t* p)
{
    em_lanes v;
    memcpy(&v, p, sizeof(v));
    return v;
}

static inline void em_laneaddto(int32_t* p, em_lanes v)
{
    em_lanes o;
    memcpy(&o, p, sizeof(o));
    o += v;
    memcpy(p, &o, sizeof(o));
}

static inline em_lanes em_lanesplat(int64_t x)
{
    return em_lanes {} + static_cast<uint32_t>(x);
}

static inline em_lanes em_lanesar(em_lanes v, int n)
{
    return reinterpret_cast<em_lanes>(reinterpret_cast<em_signedlanes>(v) >> n);
}

// All ones where a > b, signed.
static inline em_lanes em_lanegreater(em_lanes a, em_lanes b)
{
    return reinterpret_cast<em_lanes>(reinterpret_cast<em_signedlanes>(a) > reinterpret_cast<em_signedlanes>(b));
}

static inline em_lanes em_laneselect(em_lanes mask, em_lanes yes, em_lanes no)
{
    return (mask & yes) | (~mask & no);
}

// The lane numbers 0, 1, 2, ...
static inline em_lanes em_laneindex()
{
#if EM_LANES == 8
    return em_lanes {0, 1, 2, 3, 4, 5, 6, 7};
#else
    return em_lanes {0, 1, 2, 3};
#endif
}

// a, b, a, b, ...
static inline em_lanes em_lanepair(int32_t a, int32_t b)
{
    const uint32_t x = static_cast<uint32_t>(a), y = static_cast<uint32_t>(b);
#if EM_LANES == 8
    return em_lanes {x, y, x, y, x, y, x, y};
#else
    return em_lanes {x, y, x, y};
#endif
}

// Each pair of lanes swapped: the other side of a stereo frame.
static inline em_lanes em_laneswap(em_lanes v)
{
#if EM_LANES == 8
    return __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
#else
    return __builtin_shufflevector(v, v, 1, 0, 3, 2);
#endif
}

// Left and right values of consecutive frames interleaved: the first half
// of the frames into lo, the second into hi.
static inline void em_lanezip(em_lanes l, em_lanes r, em_lanes* lo, em_lanes* hi)
{
#if EM_LANES == 8
    *lo = __builtin_shufflevector(l, r, 0, 8, 1, 9, 2, 10, 3, 11);
    *hi = __builtin_shufflevector(l, r, 4, 12, 5, 13, 6, 14, 7, 15);
#else
    *lo = __builtin_shufflevector(l, r, 0, 4, 1, 5);
    *hi = __builtin_shufflevector(l, r, 2, 6, 3, 7);
#endif
}

// Running sums: lane k holds the sum of lanes 0..k.
static inline em_lanes em_laneprefix(em_lanes v)
{
    const em_lanes z = {};
#if EM_LANES == 8
    v += __builtin_shufflevector(v, z, 8, 0, 1, 2, 3, 4, 5, 6);
    v += __builtin_shufflevector(v, z, 8, 8, 0, 1, 2, 3, 4, 5);
    v += __builtin_shufflevector(v, z, 8, 8, 8, 8, 0, 1, 2, 3);
#else
    v += __builtin_shufflevector(v, z, 4, 0, 1, 2);
    v += __builtin_shufflevector(v, z, 4, 4, 0, 1);
#endif
    return v;
}

static inline em_lanes em_lanelast(em_lanes v)
{
    return em_lanesplat(v[EM_LANES - 1]);
}

// base[index] of every lane (indices may be negative relative to base).
static inline em_lanes em_lanegather(const int32_t* base, em_lanes index)
{
#if EM_LANES == 8
    return reinterpret_cast<em_lanes>(_mm256_i32gather_epi32(base, reinterpret_cast<__m256i>(index), 4));
#else
    const em_signedlanes i = reinterpret_cast<em_signedlanes>(index);
    return em_lanes {static_cast<uint32_t>(base[i[0]]), static_cast<uint32_t>(base[i[1]]), static_cast<uint32_t>(base[i[2]]),
                     static_cast<uint32_t>(base[i[3]])};
#endif
}

// base[index] of every lane, where base[first .. end - 1] may be read. With
// eight lanes, indices within 16 of the first lane's (a step of up to about
// two values) come from two loads and two permutes, which are much faster
// than a gather on many processors; others are gathered.
static inline em_lanes em_laneread(const int32_t* base, em_lanes index, int32_t first, int32_t end)
{
#if EM_LANES == 8
    const int32_t i0 = static_cast<int32_t>(index[0]);
    const __m256i rel = reinterpret_cast<__m256i>(index - em_lanesplat(i0));
    if (i0 >= first && i0 <= end - 16 && _mm256_testz_si256(rel, _mm256_set1_epi32(~15))) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0 + 8));
        const __m256i high = _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7));
        return reinterpret_cast<em_lanes>(
            _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel), _mm256_permutevar8x32_epi32(hi, rel), high));
    }
#else
    (void)first;
    (void)end;
#endif
    return em_lanegather(base, index);
}

// base[index] and base[index + delta] of every lane (a value and the one it
// interpolates towards), from one window where the indices allow.
static inline void em_laneread2(const int32_t* base, em_lanes index, int32_t delta, int32_t first, int32_t end, em_lanes* a,
                                em_lanes* b)
{
#if EM_LANES == 8
    const int32_t i0 = static_cast<int32_t>(index[0]);
    const __m256i rel = reinterpret_cast<__m256i>(index - em_lanesplat(i0));
    const __m256i far = _mm256_add_epi32(rel, _mm256_set1_epi32(delta));
    if (i0 >= first && i0 <= end - 16 && _mm256_testz_si256(_mm256_or_si256(rel, far), _mm256_set1_epi32(~15))) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0 + 8));
        const __m256i seven = _mm256_set1_epi32(7);
        *a = reinterpret_cast<em_lanes>(_mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel),
                                                           _mm256_permutevar8x32_epi32(hi, rel), _mm256_cmpgt_epi32(rel, seven)));
        *b = reinterpret_cast<em_lanes>(_mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, far),
                                                           _mm256_permutevar8x32_epi32(hi, far), _mm256_cmpgt_epi32(far, seven)));
        return;
    }
#else
    (void)first;
    (void)end;
#endif
    *a = em_lanegather(base, index);
    *b = em_lanegather(base + delta, index);
}

// 32-bit sums of products of 16-bit halves: lane k gets a.lo x b.lo +
// a.hi x b.hi, exact wherever the sum fits 32 bits.
static inline em_lanes em_lanemadd(em_lanes a, em_lanes b)
{
#if EM_LANES == 8
    return reinterpret_cast<em_lanes>(_mm256_madd_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#else
    return reinterpret_cast<em_lanes>(_mm_madd_epi16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#endif
}

// Sample values a and b (within 16 bits) on the line between them at the
// 16-bit fractions frac: a + ((b - a) x (frac >> 1)) >> 15, computed as
// (a x (32767 - w) + b x w + a) >> 15 with w = frac >> 1, the first two
// products in one multiply-add of the packed pairs: the same value, exact.
static inline em_lanes em_lanelerp(em_lanes a, em_lanes b, em_lanes frac)
{
    const em_lanes w = frac >> 1, low = em_lanesplat(0xFFFF);
    const em_lanes values = (a & low) | (b << 16), weights = (em_lanesplat(32767) - w) | (w << 16);
    return em_lanesar(em_lanemadd(values, weights) + a, 15);
}

// The values at index, or with interpolation the values on the line from
// there to index + delta at the 16-bit fractions frac.
template <bool interp>
static inline em_lanes em_lanereadat(const int32_t* base, em_lanes index, em_lanes frac, int32_t delta, int32_t first,
                                     int32_t end)
{
    if (!interp)
        return em_laneread(base, index, first, end);
    em_lanes a, b;
    em_laneread2(base, index, delta, first, end, &a, &b);
    return em_lanelerp(a, b, frac);
}

// 32-bit products of the lanes, wrapping. The narrow form takes operands
// known to lie within -32768..32767 (sample values always do; gains do in
// the runs that choose it): their exact products come from one multiply-add
// of the 16-bit halves, where the full 32-bit multiply is slow or missing.
template <bool narrow> static inline em_lanes em_lanemul(em_lanes a, em_lanes b)
{
    if (!narrow)
        return a * b;
    // With b's upper half cleared, a's (its sign) multiplies 0.
    return em_lanemadd(a, b & em_lanesplat(0xFFFF));
}

// (v x g) >> 8 of every lane.
template <bool narrow> static inline em_lanes em_lanescale(em_lanes v, em_lanes g)
{
    return em_lanesar(em_lanemul<narrow>(v, g), 8);
}

static inline bool em_fits16(int64_t v)
{
    return v >= -32768 && v <= 32767;
}

// Calls loop(narrow, interp) with both as compile-time constants, so that
// each of the four kinds of a run has a loop of its own; returns the frames
// the loop mixed.
template <typename Loop> static inline int32_t em_lanechoose(bool narrow, bool interp, Loop loop)
{
    return em_specialise(narrow, [&](auto wide) { return em_specialise(interp, [&](auto lerp) { return loop(wide, lerp); }); });
}

// Adds the left and right values of EM_LANES consecutive frames into out.
static inline void em_laneaddframes(int32_t* out, em_lanes l, em_lanes r)
{
    em_lanes lo, hi;
    em_lanezip(l, r, &lo, &hi);
    em_laneaddto(out, lo);
    em_laneaddto(out + EM_LANES, hi);
}

// ---------------------------------------------------------------------------
// Glides in lanes: fields of EM_LANES frames split as whole and 16-bit fraction,
// and the advance of EM_LANES frames in the same split
// ---------------------------------------------------------------------------

struct em_laneglide {
    em_lanes whole, frac, dwhole, dfrac;
};

static inline em_laneglide em_lanestartglide(int64_t glide, int64_t inc)
{
    em_laneglide g;
    for (int k = 0; k < EM_LANES; k++) {
        const int64_t v = glide + k * inc;
        g.whole[k] = static_cast<uint32_t>(em_glidefield(v));
        g.frac[k] = static_cast<uint32_t>(v & 0xFFFF);
    }
    const int64_t d = EM_LANES * inc;
    g.dwhole = em_lanesplat(em_glidefield(d));
    g.dfrac = em_lanesplat(d & 0xFFFF);
    return g;
}

static inline void em_lanenextglide(em_laneglide* g)
{
    const em_lanes f = g->frac + g->dfrac;
    g->whole += g->dwhole + (f >> 16);
    g->frac = f & 0xFFFF;
}

// A volume (or gain) or pan glide: the split form for any field, or, where
// every field of the run lies within 16 bits, the 16.16 words themselves,
// which then fit 32-bit lanes: one addition a step, one shift a field.
template <bool narrow> struct em_laneslide;

template <> struct em_laneslide<false> {
    em_laneglide g;
    em_laneslide(int64_t glide, int64_t inc) : g(em_lanestartglide(glide, inc)) { }
    em_lanes field() const { return g.whole; }
    void next() { em_lanenextglide(&g); }
};

template <> struct em_laneslide<true> {
    em_lanes word, dword;
    em_laneslide(int64_t glide, int64_t inc)
        : word(em_lanesplat(glide) + em_lanesplat(inc) * em_laneindex()), dword(em_lanesplat(EM_LANES * inc))
    {
    }
    em_lanes field() const { return em_lanesar(word, 16); }
    void next() { word += dword; }
};

// ---------------------------------------------------------------------------
// The runs. Each decides once whether its products are narrow (gains within
// 16 bits) and runs the loop of that kind.
// ---------------------------------------------------------------------------

template <bool narrow> static inline int32_t em_lanemonoloop(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const em_lanes gl = em_lanesplat(g.ll), gr = em_lanesplat(g.rr);
    int32_t i = 0;
    for (; i + EM_LANES <= n; i += EM_LANES) {
        const em_lanes v = em_laneload(in + i);
        em_laneaddframes(out + 2 * i, em_lanescale<narrow>(v, gl), em_lanescale<narrow>(v, gr));
    }
    return i;
}

static void em_lanemono(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const int32_t i =
        em_fits16(g.ll) && em_fits16(g.rr) ? em_lanemonoloop<true>(out, in, n, g) : em_lanemonoloop<false>(out, in, n, g);
    em_plainruns.unit[0](out + 2 * i, in + i, n - i, g);
}

static bool em_stereonarrow(const em_gains& g)
{
    return em_fits16(g.ll) && em_fits16(g.lr) && em_fits16(g.rl) && em_fits16(g.rr);
}

// Each lane pairs a value with the other side of its frame.
template <bool narrow> static inline em_lanes em_lanestereomix(em_lanes v, em_lanes own, em_lanes other)
{
    return em_lanesar(em_lanemul<narrow>(v, own) + em_lanemul<narrow>(em_laneswap(v), other), 8);
}

template <bool narrow> static inline int32_t em_lanestereoloop(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const em_lanes own = em_lanepair(g.ll, g.rr), other = em_lanepair(g.lr, g.rl);
    int32_t i = 0;
    for (; i + EM_LANES / 2 <= n; i += EM_LANES / 2)
        em_laneaddto(out + 2 * i, em_lanestereomix<narrow>(em_laneload(in + 2 * i), own, other));
    return i;
}

static void em_lanestereo(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const int32_t i = em_stereonarrow(g) ? em_lanestereoloop<true>(out, in, n, g) : em_lanestereoloop<false>(out, in, n, g);
    em_plainruns.unit[1](out + 2 * i, in + 2 * i, n - i, g);
}

// The place frames frames of step after from.
static inline em_place em_placeafter(em_place from, int32_t frames, int32_t step)
{
    const uint64_t off = static_cast<uint64_t>(from.frac) + static_cast<uint64_t>(frames) * static_cast<uint32_t>(step);
    return {from.frame + static_cast<int32_t>(off >> 16), static_cast<int32_t>(off & 0xFFFF)};
}

#if EM_LANES == 4
// Four lanes have no gather, and taking indices out of a vector costs more
// than keeping them: the stepped runs keep the lanes' places in a scalar
// register as well and load each lane's values straight from it.
static inline __m128i em_sse2load32(const int32_t* p)
{
    int32_t v;
    memcpy(&v, p, sizeof(v));
    return _mm_cvtsi32_si128(v);
}

static inline __m128i em_sse2load64(const int32_t* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// Four lanes keep each 16-bit fraction f as a pair, its complement and
// itself, (65535 - f) | f << 16: one 16-bit sum a block advances both halves
// (each wraps as the fraction does), and one 16-bit shift gives em_lanelerp's
// weights 32767 - w | w << 16 (w = f >> 1, and (65535 - f) >> 1 = 32767 - w).
static inline em_lanes em_sse2fracpair(em_lanes frac)
{
    return (~frac & 0xFFFF) | (frac << 16);
}

static inline em_lanes em_sse2weights(em_lanes pairs)
{
    return reinterpret_cast<em_lanes>(_mm_srli_epi16(reinterpret_cast<__m128i>(pairs), 1));
}

// Pairs of values a | b << 16 in every lane (both within 16 bits), with the
// values a apart, on the line from a to b at the fraction pairs:
// em_lanelerp's sum.
static inline em_lanes em_sse2lerp(__m128i pairs, __m128i a, em_lanes fracs)
{
    return em_lanesar(em_lanemadd(reinterpret_cast<em_lanes>(pairs), em_sse2weights(fracs)) + reinterpret_cast<em_lanes>(a), 15);
}

// The values of four mono frames at a0 .. a3, or with interpolation the
// values on the line to the frames after them at the fraction pairs.
template <bool interp>
static inline em_lanes em_sse2monovalues(const int32_t* a0, const int32_t* a1, const int32_t* a2, const int32_t* a3,
                                         em_lanes fracs)
{
    if (!interp)
        return reinterpret_cast<em_lanes>(_mm_unpacklo_epi64(_mm_unpacklo_epi32(em_sse2load32(a0), em_sse2load32(a1)),
                                                             _mm_unpacklo_epi32(em_sse2load32(a2), em_sse2load32(a3))));
    // Each frame's value and the next one's from one load, packed into pairs
    // (the saturating pack keeps values within 16 bits exact); the values
    // themselves are the even lanes.
    const auto two = [](const int32_t* lo, const int32_t* hi) {
        return _mm_castps_si128(_mm_loadh_pi(_mm_castsi128_ps(em_sse2load64(lo)), reinterpret_cast<const __m64*>(hi)));
    };
    const __m128i p01 = two(a0, a1), p23 = two(a2, a3);
    const __m128i a = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(p01), _mm_castsi128_ps(p23), _MM_SHUFFLE(2, 0, 2, 0)));
    return em_sse2lerp(_mm_packs_epi32(p01, p23), a, fracs);
}

// The left and right values of two stereo frames at a0 and a1 (lanes 0, 1
// and 2, 3), as em_sse2monovalues; each frame's fraction in two lanes.
template <bool interp> static inline em_lanes em_sse2stereovalues(const int32_t* a0, const int32_t* a1, em_lanes fracs)
{
    if (!interp)
        return reinterpret_cast<em_lanes>(_mm_unpacklo_epi64(em_sse2load64(a0), em_sse2load64(a1)));
    // A frame and the next from one load, ordered left, next left, right,
    // next right, so that the pack pairs each side with its next value.
    const __m128i f0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a0));
    const __m128i f1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a1));
    const __m128i pairs =
        _mm_packs_epi32(_mm_shuffle_epi32(f0, _MM_SHUFFLE(3, 1, 2, 0)), _mm_shuffle_epi32(f1, _MM_SHUFFLE(3, 1, 2, 0)));
    return em_sse2lerp(pairs, _mm_unpacklo_epi64(f0, f1), fracs);
}
#endif

// The 16.16 offsets of a run's lanes and their advance a block. Eight lanes
// read through them; four read through a scalar copy and keep only the
// fractions, as pairs (em_sse2fracpair).
static inline em_lanes em_laneoffsets(em_lanes offs)
{
#if EM_LANES == 4
    return em_sse2fracpair(offs);
#else
    return offs;
#endif
}

static inline em_lanes em_laneadvance(em_lanes offs, int32_t advance)
{
#if EM_LANES == 4
    const em_lanes d = em_lanesplat(advance);
    return reinterpret_cast<em_lanes>(
        _mm_add_epi16(reinterpret_cast<__m128i>(offs), reinterpret_cast<__m128i>((-d & 0xFFFF) | (d << 16))));
#else
    return offs + em_lanesplat(advance);
#endif
}

// The values of EM_LANES frames of a mono run, frame k read at the 16.16
// offset o + k x step from base (offs: the same offsets in lanes, as
// em_laneoffsets holds them).
template <bool interp>
static inline em_lanes em_lanemonostepvalues(const int32_t* base, int32_t avail, uint32_t o, uint32_t step, em_lanes offs)
{
#if EM_LANES == 4
    (void)avail;
    return em_sse2monovalues<interp>(base + (o >> 16), base + ((o + step) >> 16), base + ((o + 2 * step) >> 16),
                                     base + ((o + 3 * step) >> 16), offs);
#else
    (void)o;
    (void)step;
    return em_lanereadat<interp>(base, offs >> 16, offs & 0xFFFF, 1, 0, avail);
#endif
}

// The values of EM_LANES / 2 frames of a stereo run, as em_lanemonostepvalues:
// left and right of frame k in lanes 2k and 2k + 1.
template <bool interp>
static inline em_lanes em_lanestereostepvalues(const int32_t* base, int32_t avail, uint32_t o, uint32_t step, em_lanes offs)
{
#if EM_LANES == 4
    (void)avail;
    return em_sse2stereovalues<interp>(base + 2 * (o >> 16), base + 2 * ((o + step) >> 16), offs);
#else
    (void)o;
    (void)step;
    const em_lanes side = em_laneindex() & 1;
    return em_lanereadat<interp>(base, ((offs >> 16) << 1) + side, offs & 0xFFFF, 2, 0, avail);
#endif
}

// Frame i reads at (off + i x step) >> 16 from base; the offsets of the lanes
// fit 32 unsigned bits when off + n x step < 2^32.
template <bool narrow, bool interp>
static inline int32_t em_lanemonosteploop(int32_t* out, const int32_t* base, int32_t avail, uint64_t off, int32_t step, int32_t n,
                                          const em_gains& g)
{
    em_lanes offs = em_laneoffsets(em_lanesplat(static_cast<int64_t>(off)) + em_lanesplat(step) * em_laneindex());
    const uint32_t s = static_cast<uint32_t>(step), advance = s * static_cast<uint32_t>(EM_LANES);
    uint32_t o = static_cast<uint32_t>(off);
    const em_lanes gl = em_lanesplat(g.ll), gr = em_lanesplat(g.rr);
    int32_t i = 0;
    for (; i + EM_LANES <= n; i += EM_LANES) {
        const em_lanes v = em_lanemonostepvalues<interp>(base, avail, o, s, offs);
        offs = em_laneadvance(offs, static_cast<int32_t>(advance));
        o += advance;
        em_laneaddframes(out + 2 * i, em_lanescale<narrow>(v, gl), em_lanescale<narrow>(v, gr));
    }
    return i;
}

static void em_lanemonostep(int32_t* out, const em_source& src, em_place from, int32_t step, int32_t n, const em_gains& g)
{
    const int32_t* base = src.data + from.frame;
    const int32_t avail = src.length - from.frame;
    const uint64_t off = static_cast<uint64_t>(from.frac);
    int32_t i = 0;
    if (off + static_cast<uint64_t>(n) * static_cast<uint32_t>(step) < (1ull << 32))
        i = em_lanechoose(em_fits16(g.ll) && em_fits16(g.rr), src.interp, [&](auto narrow, auto interp) {
            return em_lanemonosteploop<narrow, interp>(out, base, avail, off, step, n, g);
        });
    em_plainruns.stepped[0](out + 2 * i, src, em_placeafter(from, i, step), step, n - i, g);
}

// Half as many frames as lanes: the offsets of frames 0 0 1 1 ..., each lane
// reading at 2 x frame + its side.
template <bool narrow, bool interp>
static inline int32_t em_lanestereosteploop(int32_t* out, const int32_t* base, int32_t avail, uint64_t off, int32_t step,
                                            int32_t n, const em_gains& g)
{
    em_lanes offs = em_laneoffsets(em_lanesplat(static_cast<int64_t>(off)) + em_lanesplat(step) * (em_laneindex() >> 1));
    const uint32_t s = static_cast<uint32_t>(step), advance = s * static_cast<uint32_t>(EM_LANES / 2);
    uint32_t o = static_cast<uint32_t>(off);
    const em_lanes own = em_lanepair(g.ll, g.rr), other = em_lanepair(g.lr, g.rl);
    int32_t i = 0;
    for (; i + EM_LANES / 2 <= n; i += EM_LANES / 2) {
        const em_lanes v = em_lanestereostepvalues<interp>(base, avail, o, s, offs);
        offs = em_laneadvance(offs, static_cast<int32_t>(advance));
        o += advance;
        em_laneaddto(out + 2 * i, em_lanestereomix<narrow>(v, own, other));
    }
    return i;
}

static void em_lanestereostep(int32_t* out, const em_source& src, em_place from, int32_t step, int32_t n, const em_gains& g)
{
    const int32_t* base = src.data + 2 * from.frame;
    const int32_t avail = 2 * (src.length - from.frame);
    const uint64_t off = static_cast<uint64_t>(from.frac);
    int32_t i = 0;
    if (off + static_cast<uint64_t>(n) * static_cast<uint32_t>(step) < (1ull << 32))
        i = em_lanechoose(em_stereonarrow(g), src.interp, [&](auto narrow, auto interp) {
            return em_lanestereosteploop<narrow, interp>(out, base, avail, off, step, n, g);
        });
    em_plainruns.stepped[1](out + 2 * i, src, em_placeafter(from, i, step), step, n - i, g);
}

// The largest magnitude of a glide's field over n frames (a glide is linear,
// so its ends bound it).
static inline int64_t em_glidemost(int64_t glide, int64_t inc, int32_t n)
{
    const int64_t a = em_glidefield(glide), b = em_glidefield(glide + (n - 1) * inc);
    const int64_t ma = a < 0 ? -a : a, mb = b < 0 ? -b : b;
    return ma > mb ? ma : mb;
}

// Narrow products for a volume (or gain) and pan pair: |volume| within 16
// bits and |pan| at most 128 keep every gain within 16 bits too.
static inline bool em_gainsnarrow(int64_t volume, int64_t volinc, int64_t pan, int64_t paninc, int32_t n)
{
    return em_glidemost(volume, volinc, n) <= 32767 && em_glidemost(pan, paninc, n) <= 128;
}

// Adds EM_LANES frames of a ramped voice into out: the values a (mono), or
// the left values a and right values b (stereo), at the volumes v and pans q.
template <int channels, bool narrow>
static inline void em_laneaddramped(int32_t* out, em_lanes a, em_lanes b, em_lanes v, em_lanes q)
{
    const em_lanes c128 = em_lanesplat(128);
    if (channels == 1) {
        em_laneaddframes(out, em_lanescale<narrow>(a, em_lanescale<narrow>(v, c128 - q)),
                         em_lanescale<narrow>(a, em_lanescale<narrow>(v, q + c128)));
        return;
    }
    // The side the pan moves towards keeps the volume; the other
    // keeps (128 - |pan|) / 128 of its own and gives |pan| / 128.
    const em_lanes right = em_lanegreater(q, em_lanesplat(-1));
    const em_lanes sign = em_lanesar(q, 31), mag = (q ^ sign) - sign;
    const em_lanes own = em_lanesar(em_lanemul<narrow>(v, c128 - mag), 7), cross = em_lanesar(em_lanemul<narrow>(v, mag), 7);
    const em_lanes ll = em_laneselect(right, own, v), rr = em_laneselect(right, v, own);
    const em_lanes lr = ~right & cross, rl = right & cross;
    em_laneaddframes(out, em_lanesar(em_lanemul<narrow>(a, ll) + em_lanemul<narrow>(b, lr), 8),
                     em_lanesar(em_lanemul<narrow>(a, rl) + em_lanemul<narrow>(b, rr), 8));
}

#if EM_LANES == 4
// Four lanes: the place runs in a scalar register, frame by frame as in the
// plain loop, and each lane's values are loaded straight from it.
template <int channels, bool interp>
static inline void em_sse2rampvalues(const int32_t* const* at, em_lanes frac, em_lanes* a, em_lanes* b)
{
    frac = em_sse2fracpair(frac);
    if (channels == 1) {
        *a = em_sse2monovalues<interp>(at[0], at[1], at[2], at[3], frac);
        return;
    }
    // Two frames a vector, then the left values apart from the right ones.
    const __m128i x =
        reinterpret_cast<__m128i>(em_sse2stereovalues<interp>(at[0], at[1], __builtin_shufflevector(frac, frac, 0, 0, 1, 1)));
    const __m128i y =
        reinterpret_cast<__m128i>(em_sse2stereovalues<interp>(at[2], at[3], __builtin_shufflevector(frac, frac, 2, 2, 3, 3)));
    const __m128i lo = _mm_unpacklo_epi32(x, y), hi = _mm_unpackhi_epi32(x, y);
    *a = reinterpret_cast<em_lanes>(_mm_unpacklo_epi32(lo, hi));
    *b = reinterpret_cast<em_lanes>(_mm_unpackhi_epi32(lo, hi));
}

template <int channels, bool narrow, bool interp>
static inline int32_t em_laneramploop(int32_t* out, const int32_t* data, int32_t values, int64_t* p, em_glides* g, int32_t n)
{
    (void)values;
    int64_t place = *p, step = g->step;
    const int64_t stepinc = g->stepinc;
    em_laneslide<narrow> volume(g->volume, g->volinc), pan(g->pan, g->paninc);
    int32_t i = 0;
    for (; i + EM_LANES <= n; i += EM_LANES) {
        const int32_t* at[EM_LANES];
        em_lanes frac;
        for (int k = 0; k < EM_LANES; k++) {
            at[k] = data + channels * (place >> 16);
            frac[k] = static_cast<uint32_t>(place & 0xFFFF);
            const int32_t now = em_glidefield(step);
            place += now > 0 ? now : 0; // a step below 0 holds still
            step += stepinc;
        }
        em_lanes a, b;
        em_sse2rampvalues<channels, interp>(at, frac, &a, &b);
        em_laneaddramped<channels, narrow>(out + 2 * i, a, b, volume.field(), pan.field());
        volume.next();
        pan.next();
    }
    *p = place;
    g->step = step;
    g->volume += i * g->volinc;
    g->pan += i * g->paninc;
    return i;
}
#else
// EM_LANES frames of steps (never below 0) summed across the lanes give each frame's
// place relative to the run's first frame; the loop runs only where those
// places stay within 31 bits (checked by the caller).
template <int channels, bool narrow, bool interp>
static inline int32_t em_laneramploop(int32_t* out, const int32_t* data, int32_t values, int64_t* p, em_glides* g, int32_t n)
{
    const int64_t base = em_sar64(*p, 16);
    const int32_t* from = data + channels * base;
    const int32_t first = static_cast<int32_t>(-channels * base), end = static_cast<int32_t>(values - channels * base);
    em_lanes at = em_lanesplat(*p & 0xFFFF);
    em_laneglide step = em_lanestartglide(g->step, g->stepinc);
    em_laneslide<narrow> volume(g->volume, g->volinc), pan(g->pan, g->paninc);
    const em_lanes zero = {};
    int32_t i = 0;
    for (; i + EM_LANES <= n; i += EM_LANES) {
        const em_lanes st = em_laneselect(em_lanegreater(step.whole, zero), step.whole, zero);
        const em_lanes sum = em_laneprefix(st);
        const em_lanes place = at + (sum - st), index = place >> 16, frac = place & 0xFFFF;
        at += em_lanelast(sum);
        em_lanes a, b = {};
        if (channels == 1) {
            a = em_lanereadat<interp>(from, index, frac, 1, first, end);
        } else {
            const em_lanes twice = index << 1;
            a = em_lanereadat<interp>(from, twice, frac, 2, first, end);
            b = em_lanereadat<interp>(from + 1, twice, frac, 2, first - 1, end - 1);
        }
        em_laneaddramped<channels, narrow>(out + 2 * i, a, b, volume.field(), pan.field());
        em_lanenextglide(&step);
        volume.next();
        pan.next();
    }
    *p = base * 65536 + at[0];
    g->step += i * g->stepinc;
    g->volume += i * g->volinc;
    g->pan += i * g->paninc;
    return i;
}
#endif

template <int channels> static void em_laneramp(int32_t* out, const em_source& src, int64_t* p, em_glides* g, int32_t n)
{
    int32_t i = 0;
    const int64_t first = em_glidefield(g->step), last = em_glidefield(g->step + (n - 1) * g->stepinc);
    const int64_t most = first > last ? first : last;
    if (n >= EM_LANES && (most < 0 ? 0 : most) * (n + EM_LANES) + 65536 < (static_cast<int64_t>(1) << 31))
        i = em_lanechoose(em_gainsnarrow(g->volume, g->volinc, g->pan, g->paninc, n), src.interp, [&](auto narrow, auto interp) {
            return em_laneramploop<channels, narrow, interp>(out, src.data, channels * src.length, p, g, n);
        });
    em_plainruns.ramped[channels - 1](out + 2 * i, src, p, g, n - i);
}

// The values of a head at EM_LANES 16.16 places relative to base: a head moving
// backwards reads before base, never before the sample; base[first .. end - 1]
// lies on the sample.
template <int channels, bool interp>
static inline em_lanes em_laneheadvalues(const int32_t* base, em_lanes place, int32_t first, int32_t end)
{
    const em_lanes index = em_lanesar(place, 16), frac = place & 0xFFFF;
    if (channels == 1)
        return em_lanereadat<interp>(base, index, frac, 1, first, end);
    // A stereo sample heard as its mono mix-down, frame by frame.
    const em_lanes twice = index << 1;
    const em_lanes value = em_lanesar(em_lanegather(base, twice) + em_lanegather(base + 1, twice), 1);
    if (!interp)
        return value;
    const em_lanes next = em_lanesar(em_lanegather(base + 2, twice) + em_lanegather(base + 3, twice), 1);
    return em_lanelerp(value, next, frac);
}

static inline int64_t em_abs64(int64_t v)
{
    return v < 0 ? -v : v;
}

template <int channels, bool narrow, bool interp>
static inline int32_t em_laneheadsloop(int32_t* out, const int32_t* data, int32_t values, em_headrun* r, int32_t n)
{
    const int64_t l0 = em_sar64(r->left, 16), r0 = em_sar64(r->right, 16);
    const int32_t* lbase = data + channels * l0;
    const int32_t* rbase = data + channels * r0;
    const int32_t lfirst = static_cast<int32_t>(-channels * l0), lend = static_cast<int32_t>(values - channels * l0);
    const int32_t rfirst = static_cast<int32_t>(-channels * r0), rend = static_cast<int32_t>(values - channels * r0);
    const em_lanes kcl = em_laneindex() * em_lanesplat(r->leftfix), kcr = em_laneindex() * em_lanesplat(r->rightfix);
    const em_lanes ecl = em_lanesplat(EM_LANES * r->leftfix), ecr = em_lanesplat(EM_LANES * r->rightfix);
    em_lanes ol = em_lanesplat(r->left & 0xFFFF), orr = em_lanesplat(r->right & 0xFFFF);
    em_laneglide step = em_lanestartglide(r->g.step, r->g.stepinc);
    em_laneslide<narrow> gain(r->g.volume, r->g.volinc), pan(r->g.pan, r->g.paninc);
    const em_lanes c128 = em_lanesplat(128);
    em_lanes a = {}, b = {};
    int32_t i = 0;
    for (; i + EM_LANES <= n; i += EM_LANES) {
        // Steps summed over the frames before each lane, and over all of them.
        const em_lanes st = step.whole;
        const em_lanes sum = em_laneprefix(st);
        const em_lanes before = sum - st, total = em_lanelast(sum);
        a = em_laneheadvalues<channels, interp>(lbase, ol + before + kcl, lfirst, lend);
        b = em_laneheadvalues<channels, interp>(rbase, orr + before + kcr, rfirst, rend);
        ol += total + ecl;
        orr += total + ecr;
        const em_lanes g = gain.field(), q = pan.field();
        const em_lanes lgain = em_lanescale<narrow>(g, c128 - q);
        const em_lanes rgain = em_lanescale<narrow>(g, q + c128);
        em_laneaddframes(out + 2 * i, em_lanescale<narrow>(a, lgain), em_lanescale<narrow>(b, rgain));
        em_lanenextglide(&step);
        gain.next();
        pan.next();
    }
    r->left = l0 * 65536 + static_cast<int32_t>(ol[0]);
    r->right = r0 * 65536 + static_cast<int32_t>(orr[0]);
    r->g.step += i * r->g.stepinc;
    r->g.volume += i * r->g.volinc;
    r->g.pan += i * r->g.paninc;
    r->leftvalue = static_cast<int32_t>(a[EM_LANES - 1]);
    r->rightvalue = static_cast<int32_t>(b[EM_LANES - 1]);
    return i;
}

// ---------------------------------------------------------------------------
// Two heads in stretches. Between two changes of a glided field (step, gain
// or pan: each change moves the field by one) both heads advance by constant
// steps and the gains hold still, so whole blocks up to the next change run
// with no running sums and no glides; a block that holds a change takes each
// lane's fields from the glide words as the loop above does.
// ---------------------------------------------------------------------------

// The frames of a run at which a glide's field changes: first next, then
// every q or q + 1 frames. A change is a carry out of the word's 16-bit
// fraction m (mirrored for a falling glide, so that it climbs by d, the
// increment's size); after a change m < d, and with 65536 = q d + r the next
// carry comes q + 1 frames later while m < r, else q. Needs d < 65536.
struct em_lanebreaks {
    int32_t next, d, q, r, m;
};

static inline em_lanebreaks em_lanefirstbreak(int64_t word, int64_t inc)
{
    em_lanebreaks b = {INT32_MAX, static_cast<int32_t>(em_abs64(inc)), 0, 0, 0};
    if (b.d == 0)
        return b;
    const int32_t f = static_cast<int32_t>(word & 0xFFFF), m = inc > 0 ? f : 0xFFFF - f;
    b.next = (65536 - m + b.d - 1) / b.d;
    b.m = m + b.next * b.d - 65536;
    b.q = 65536 / b.d;
    b.r = 65536 % b.d;
    return b;
}

// Passes every change at or before frame i, whose fields come from the words.
static inline void em_lanepastbreaks(em_lanebreaks* b, int32_t i)
{
    while (b->next <= i) {
        const int32_t gap = b->q + (b->m < b->r ? 1 : 0);
        b->next += gap;
        b->m += gap * b->d - 65536;
    }
}

// At most the changes of a glide's field over n frames, and of the three fields.
static inline int64_t em_lanechanges(int64_t inc, int32_t n)
{
    return inc == 0 ? 0 : (n - 1) * em_abs64(inc) / 65536 + 1;
}
static inline int64_t em_lanechanges(const em_glides& g, int32_t n)
{
    return em_lanechanges(g.stepinc, n) + em_lanechanges(g.volinc, n) + em_lanechanges(g.paninc, n);
}

// A head in a stretch: the values it may read (base[first .. end - 1]), its
// 16.16 place relative to base and its advance a frame.
struct em_lanehead {
    const int32_t* base;
    int32_t first, end, place, advance;
};

// A head's place as a stretch's blocks step it: four lanes address values
// with it, and in 64 bits it needs no widening a block.
#if EM_LANES == 4
typedef int64_t em_stretchplace;
#else
typedef int32_t em_stretchplace;
#endif

// The head's values at EM_LANES frames from its place (places holds them in
// lanes, as em_laneoffsets does). Eight lanes read through the window reads;
// four step the places in a scalar register and load each value straight
// into its lane, which costs less than taking the indices out of the lanes. With narrow products only
// the low 16 bits of each lane count (em_lanemul), so a mono head's plain
// values may come in with any upper halves.
template <int channels, bool narrow, bool interp>
static inline em_lanes em_lanestretchvalues(const em_lanehead& h, em_stretchplace place, em_lanes places)
{
#if EM_LANES == 8
    // A mono head whose eight places lie within eight frames (an advance of
    // at most a frame) reads one window of eight values, and with
    // interpolation the window one further on, each permuted into the lanes.
    const int32_t i0 = em_sar32(place, 16);
    if (channels == 1 && h.advance >= 0 && em_sar32(place + 7 * h.advance, 16) - i0 <= 7 && i0 >= h.first && i0 <= h.end - 9) {
        const __m256i rel = reinterpret_cast<__m256i>(em_lanesar(places, 16) - em_lanesplat(i0));
        const auto window = [&](int o) {
            return reinterpret_cast<em_lanes>(
                _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h.base + i0 + o)), rel));
        };
        return interp ? em_lanelerp(window(0), window(1), places & 0xFFFF) : window(0);
    }
    return em_laneheadvalues<channels, interp>(h.base, places, h.first, h.end);
#else
    const int32_t* at[4];
    for (int64_t k = 0, p = place; k < 4; k++, p += h.advance)
        at[k] = h.base + channels * em_sar64(p, 16);
    if (channels == 1 && narrow && !interp) {
        __m128i v = _mm_setzero_si128();
        const auto low = [&](int k) {
            int16_t x;
            memcpy(&x, at[k], sizeof(x)); // the low half of a little-endian word
            return x;
        };
        v = _mm_insert_epi16(v, low(0), 0);
        v = _mm_insert_epi16(v, low(1), 2);
        v = _mm_insert_epi16(v, low(2), 4);
        return reinterpret_cast<em_lanes>(_mm_insert_epi16(v, low(3), 6));
    }
    if (channels == 1)
        return em_sse2monovalues<interp>(at[0], at[1], at[2], at[3], places);
    const auto load = [&](int o) {
        return em_lanes {static_cast<uint32_t>(at[0][o]), static_cast<uint32_t>(at[1][o]), static_cast<uint32_t>(at[2][o]),
                         static_cast<uint32_t>(at[3][o])};
    };
    // A stereo sample heard as its mono mix-down, frame by frame.
    const auto value = [&](int o) { return em_lanesar(load(o) + load(o + 1), 1); };
    if (!interp)
        return value(0);
    const em_lanes a = value(0), b = value(2);
    return em_sse2lerp(reinterpret_cast<__m128i>((a & 0xFFFF) | (b << 16)), reinterpret_cast<__m128i>(a), places);
#endif
}

// blocks blocks of EM_LANES frames of both heads at constant advances and gains.
template <int channels, bool narrow, bool interp>
static inline void em_lanestretch(int32_t* out, em_lanehead* lh, em_lanehead* rh, int32_t blocks, int32_t lgain, int32_t rgain,
                                  em_lanes* a, em_lanes* b)
{
    const em_lanes lg = em_lanesplat(lgain), rg = em_lanesplat(rgain);
    const int32_t ld = EM_LANES * lh->advance, rd = EM_LANES * rh->advance;
    em_lanes lp = em_laneoffsets(em_lanesplat(lh->place) + em_laneindex() * em_lanesplat(lh->advance));
    em_lanes rp = em_laneoffsets(em_lanesplat(rh->place) + em_laneindex() * em_lanesplat(rh->advance));
    em_stretchplace l = lh->place, r = rh->place;
    em_lanes va = *a, vb = *b;
#if EM_LANES == 4
    // Each head's base in a register of its own (the empty statement hides
    // where they come from): else the compiler keeps the two as a shared
    // base and two offsets and spends an addition on every value's address.
    em_lanehead lx = *lh, rx = *rh;
    __asm__("" : "+r"(lx.base), "+r"(rx.base));
#else
    const em_lanehead &lx = *lh, &rx = *rh;
#endif
    for (int32_t k = 0; k < blocks; k++, out += 2 * EM_LANES) {
        va = em_lanestretchvalues<channels, narrow, interp>(lx, l, lp);
        vb = em_lanestretchvalues<channels, narrow, interp>(rx, r, rp);
        em_laneaddframes(out, em_lanescale<narrow>(va, lg), em_lanescale<narrow>(vb, rg));
        lp = em_laneadvance(lp, ld);
        rp = em_laneadvance(rp, rd);
        l += ld;
        r += rd;
    }
    lh->place = static_cast<int32_t>(l);
    rh->place = static_cast<int32_t>(r);
    // The values themselves, from their low halves: they lie within 16 bits.
    *a = narrow ? em_lanesar(va << 16, 16) : va;
    *b = narrow ? em_lanesar(vb << 16, 16) : vb;
}

// The fields of EM_LANES frames from a glide word whose field is field.
static inline em_lanes em_lanefields(int32_t field, int64_t word, int64_t inc)
{
    return em_lanesplat(field) + em_lanesar(em_lanesplat(word & 0xFFFF) + em_laneindex() * em_lanesplat(inc), 16);
}

// The same frames as em_laneheadsloop, for runs with few changes (the caller
// counts them: at most one per two blocks, so each increment is below 65536
// / EM_LANES and the lanes of em_lanefields stay within 31 bits).
template <int channels, bool narrow, bool interp>
static inline int32_t em_lanestretchloop(int32_t* out, const int32_t* data, int32_t values, em_headrun* r, int32_t n)
{
    const int64_t l0 = em_sar64(r->left, 16), r0 = em_sar64(r->right, 16);
    em_lanehead lh = {data + channels * l0, static_cast<int32_t>(-channels * l0), static_cast<int32_t>(values - channels * l0),
                      static_cast<int32_t>(r->left & 0xFFFF), 0};
    em_lanehead rh = {data + channels * r0, static_cast<int32_t>(-channels * r0), static_cast<int32_t>(values - channels * r0),
                      static_cast<int32_t>(r->right & 0xFFFF), 0};
    const em_glides g = r->g;
    em_lanebreaks sb = em_lanefirstbreak(g.step, g.stepinc), gb = em_lanefirstbreak(g.volume, g.volinc),
                  pb = em_lanefirstbreak(g.pan, g.paninc);
    const em_lanes c128 = em_lanesplat(128);
    em_lanes a = {}, b = {};
    int32_t i = 0;
    while (i + EM_LANES <= n) {
        const int64_t sw = g.step + i * g.stepinc, gw = g.volume + i * g.volinc, pw = g.pan + i * g.paninc;
        const int32_t step = em_glidefield(sw), gain = em_glidefield(gw), pan = em_glidefield(pw);
        const int32_t next =
            sb.next < gb.next ? (sb.next < pb.next ? sb.next : pb.next) : (gb.next < pb.next ? gb.next : pb.next);
        if (next >= i + EM_LANES) {
            const int32_t blocks = ((next < n ? next : n) - i) / EM_LANES;
            lh.advance = static_cast<int32_t>(step + r->leftfix);
            rh.advance = static_cast<int32_t>(step + r->rightfix);
            em_lanestretch<channels, narrow, interp>(out + 2 * i, &lh, &rh, blocks,
                                                     em_sar32(em_mul32(gain, em_sub32(128, pan)), 8),
                                                     em_sar32(em_mul32(gain, em_add32(pan, 128)), 8), &a, &b);
            i += blocks * EM_LANES;
        } else {
            const em_lanes st = em_lanefields(step, sw, g.stepinc);
            const em_lanes sum = em_laneprefix(st), before = sum - st;
            a = em_laneheadvalues<channels, interp>(
                lh.base, em_lanesplat(lh.place) + before + em_laneindex() * em_lanesplat(r->leftfix), lh.first, lh.end);
            b = em_laneheadvalues<channels, interp>(
                rh.base, em_lanesplat(rh.place) + before + em_laneindex() * em_lanesplat(r->rightfix), rh.first, rh.end);
            lh.place += static_cast<int32_t>(sum[EM_LANES - 1] + EM_LANES * r->leftfix);
            rh.place += static_cast<int32_t>(sum[EM_LANES - 1] + EM_LANES * r->rightfix);
            const em_lanes q = em_lanefields(pan, pw, g.paninc), v = em_lanefields(gain, gw, g.volinc);
            em_laneaddframes(out + 2 * i, em_lanescale<narrow>(a, em_lanescale<narrow>(v, c128 - q)),
                             em_lanescale<narrow>(b, em_lanescale<narrow>(v, q + c128)));
            i += EM_LANES;
        }
        em_lanepastbreaks(&sb, i);
        em_lanepastbreaks(&gb, i);
        em_lanepastbreaks(&pb, i);
    }
    r->left = l0 * 65536 + lh.place;
    r->right = r0 * 65536 + rh.place;
    r->g.step += i * g.stepinc;
    r->g.volume += i * g.volinc;
    r->g.pan += i * g.paninc;
    r->leftvalue = static_cast<int32_t>(a[EM_LANES - 1]);
    r->rightvalue = static_cast<int32_t>(b[EM_LANES - 1]);
    return i;
}

template <int channels> static void em_laneheads(int32_t* out, const em_source& src, em_headrun* r, int32_t n)
{
    int32_t i = 0;
    if (n >= EM_LANES) {
        // The largest advance of a frame, of either head, or of the step alone.
        const int64_t first = em_glidefield(r->g.step), last = em_glidefield(r->g.step + (n - 1) * r->g.stepinc);
        const int64_t fix = em_abs64(r->leftfix) > em_abs64(r->rightfix) ? em_abs64(r->leftfix) : em_abs64(r->rightfix);
        const int64_t step = em_abs64(first) > em_abs64(last) ? em_abs64(first) : em_abs64(last);
        if ((step + fix) * (n + EM_LANES) + 65536 < (static_cast<int64_t>(1) << 31)) {
            // Stretches pay while a run holds at most one change per two blocks.
            const bool stretches = em_lanechanges(r->g, n) * 2 * EM_LANES <= n;
            i = em_lanechoose(em_gainsnarrow(r->g.volume, r->g.volinc, r->g.pan, r->g.paninc, n), src.interp,
                              [&](auto narrow, auto interp) {
                                  const int32_t values = channels * src.length;
                                  return stretches ? em_lanestretchloop<channels, narrow, interp>(out, src.data, values, r, n)
                                                   : em_laneheadsloop<channels, narrow, interp>(out, src.data, values, r, n);
                              });
        }
    }
    if (i < n)
        em_plainruns.heads[channels - 1](out + 2 * i, src, r, n - i);
}

} // namespace

#endif
