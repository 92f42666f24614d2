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
typedef uint32_t em_lu __attribute__((vector_size(32))); // wrapping sums and products
typedef int32_t em_li __attribute__((vector_size(32)));  // arithmetic shifts and comparisons
#define EM_LANEFN(name) name##avx2
#elif EM_LANES == 4
#include <emmintrin.h>
typedef uint32_t em_lu __attribute__((vector_size(16)));
typedef int32_t em_li __attribute__((vector_size(16)));
#define EM_LANEFN(name) name##sse2
#else
#error "EM_LANES must be 4 or 8"
#endif

// Types and functions of one instruction set, private to the file that
// includes this one.
namespace {

enum { EM_W = EM_LANES };

// ---------------------------------------------------------------------------
// Lane operations
// ---------------------------------------------------------------------------

static inline em_lu em_lload(const int32_t* p)
{
    em_lu v;
    memcpy(&v, p, sizeof(v));
    return v;
}

static inline void em_ladd(int32_t* p, em_lu v)
{
    em_lu o;
    memcpy(&o, p, sizeof(o));
    o += v;
    memcpy(p, &o, sizeof(o));
}

static inline em_lu em_lset(int64_t x)
{
    return em_lu {} + static_cast<uint32_t>(x);
}

static inline em_lu em_lsar(em_lu v, int n)
{
    return reinterpret_cast<em_lu>(reinterpret_cast<em_li>(v) >> n);
}

// All ones where a > b, signed.
static inline em_lu em_lgreater(em_lu a, em_lu b)
{
    return reinterpret_cast<em_lu>(reinterpret_cast<em_li>(a) > reinterpret_cast<em_li>(b));
}

static inline em_lu em_lselect(em_lu mask, em_lu yes, em_lu no)
{
    return (mask & yes) | (~mask & no);
}

// The lane numbers 0, 1, 2, ...
static inline em_lu em_lindex()
{
#if EM_LANES == 8
    return em_lu {0, 1, 2, 3, 4, 5, 6, 7};
#else
    return em_lu {0, 1, 2, 3};
#endif
}

// a, b, a, b, ...
static inline em_lu em_lpair(int32_t a, int32_t b)
{
    const uint32_t x = static_cast<uint32_t>(a), y = static_cast<uint32_t>(b);
#if EM_LANES == 8
    return em_lu {x, y, x, y, x, y, x, y};
#else
    return em_lu {x, y, x, y};
#endif
}

// Each pair of lanes swapped: the other side of a stereo frame.
static inline em_lu em_lswap(em_lu v)
{
#if EM_LANES == 8
    return __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
#else
    return __builtin_shufflevector(v, v, 1, 0, 3, 2);
#endif
}

// Left and right values of consecutive frames interleaved: the first half
// of the frames into lo, the second into hi.
static inline void em_lzip(em_lu l, em_lu r, em_lu* lo, em_lu* hi)
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
static inline em_lu em_lprefix(em_lu v)
{
    const em_lu z = {};
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

static inline em_lu em_llast(em_lu v)
{
    return em_lset(v[EM_W - 1]);
}

// base[index] of every lane (indices may be negative relative to base).
static inline em_lu em_lgather(const int32_t* base, em_lu index)
{
#if EM_LANES == 8
    return reinterpret_cast<em_lu>(_mm256_i32gather_epi32(base, reinterpret_cast<__m256i>(index), 4));
#else
    const em_li i = reinterpret_cast<em_li>(index);
    return em_lu {static_cast<uint32_t>(base[i[0]]), static_cast<uint32_t>(base[i[1]]), static_cast<uint32_t>(base[i[2]]),
                  static_cast<uint32_t>(base[i[3]])};
#endif
}

// base[index] of every lane, where base[first .. end - 1] may be read. With
// eight lanes, indices within 16 of the first lane's (a step of up to about
// two values) come from two loads and two permutes, which are much faster
// than a gather on many processors; others are gathered.
static inline em_lu em_lread(const int32_t* base, em_lu index, int32_t first, int32_t end)
{
#if EM_LANES == 8
    const int32_t i0 = static_cast<int32_t>(index[0]);
    const __m256i rel = reinterpret_cast<__m256i>(index - em_lset(i0));
    if (i0 >= first && i0 <= end - 16 && _mm256_testz_si256(rel, _mm256_set1_epi32(~15))) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0 + 8));
        const __m256i high = _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7));
        return reinterpret_cast<em_lu>(
            _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel), _mm256_permutevar8x32_epi32(hi, rel), high));
    }
#else
    (void)first;
    (void)end;
#endif
    return em_lgather(base, index);
}

// base[index] and base[index + delta] of every lane (a value and the one it
// interpolates towards), from one window where the indices allow.
static inline void em_lread2(const int32_t* base, em_lu index, int32_t delta, int32_t first, int32_t end, em_lu* a, em_lu* b)
{
#if EM_LANES == 8
    const int32_t i0 = static_cast<int32_t>(index[0]);
    const __m256i rel = reinterpret_cast<__m256i>(index - em_lset(i0));
    const __m256i far = _mm256_add_epi32(rel, _mm256_set1_epi32(delta));
    if (i0 >= first && i0 <= end - 16 && _mm256_testz_si256(_mm256_or_si256(rel, far), _mm256_set1_epi32(~15))) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i0 + 8));
        const __m256i seven = _mm256_set1_epi32(7);
        *a = reinterpret_cast<em_lu>(_mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, rel),
                                                        _mm256_permutevar8x32_epi32(hi, rel), _mm256_cmpgt_epi32(rel, seven)));
        *b = reinterpret_cast<em_lu>(_mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, far),
                                                        _mm256_permutevar8x32_epi32(hi, far), _mm256_cmpgt_epi32(far, seven)));
        return;
    }
#else
    (void)first;
    (void)end;
#endif
    *a = em_lgather(base, index);
    *b = em_lgather(base + delta, index);
}

// 32-bit sums of products of 16-bit halves: lane k gets a.lo x b.lo +
// a.hi x b.hi, exact wherever the sum fits 32 bits.
static inline em_lu em_lmadd(em_lu a, em_lu b)
{
#if EM_LANES == 8
    return reinterpret_cast<em_lu>(_mm256_madd_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#else
    return reinterpret_cast<em_lu>(_mm_madd_epi16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#endif
}

// Sample values a and b (within 16 bits) on the line between them at the
// 16-bit fractions frac: a + ((b - a) x (frac >> 1)) >> 15, computed as
// (a x (32767 - w) + b x w + a) >> 15 with w = frac >> 1, the first two
// products in one multiply-add of the packed pairs: the same value, exact.
static inline em_lu em_llerp(em_lu a, em_lu b, em_lu frac)
{
    const em_lu w = frac >> 1, low = em_lset(0xFFFF);
    const em_lu values = (a & low) | (b << 16), weights = (em_lset(32767) - w) | (w << 16);
    return em_lsar(em_lmadd(values, weights) + a, 15);
}

// The values at index, or with interpolation the values on the line from
// there to index + delta at the 16-bit fractions frac.
template <bool interp>
static inline em_lu em_lreadat(const int32_t* base, em_lu index, em_lu frac, int32_t delta, int32_t first, int32_t end)
{
    if (!interp)
        return em_lread(base, index, first, end);
    em_lu a, b;
    em_lread2(base, index, delta, first, end, &a, &b);
    return em_llerp(a, b, frac);
}

// 32-bit products of the lanes, wrapping. The narrow form takes operands
// known to lie within -32768..32767 (sample values always do; gains do in
// the runs that choose it): their exact products come from one multiply-add
// of the 16-bit halves, where the full 32-bit multiply is slow or missing.
template <bool narrow> static inline em_lu em_lmul(em_lu a, em_lu b)
{
    if (!narrow)
        return a * b;
    // With b's upper half cleared, a's (its sign) multiplies 0.
    return em_lmadd(a, b & em_lset(0xFFFF));
}

// (v x g) >> 8 of every lane.
template <bool narrow> static inline em_lu em_lscale(em_lu v, em_lu g)
{
    return em_lsar(em_lmul<narrow>(v, g), 8);
}

static inline bool em_fits16(int64_t v)
{
    return v >= -32768 && v <= 32767;
}

// Adds the left and right values of W consecutive frames into out.
static inline void em_laddframes(int32_t* out, em_lu l, em_lu r)
{
    em_lu lo, hi;
    em_lzip(l, r, &lo, &hi);
    em_ladd(out, lo);
    em_ladd(out + EM_W, hi);
}

// ---------------------------------------------------------------------------
// Glides in lanes: fields of W frames split as whole and 16-bit fraction,
// and the advance of W frames in the same split
// ---------------------------------------------------------------------------

struct em_lglide {
    em_lu whole, frac, dwhole, dfrac;
};

static inline em_lglide em_lstartglide(int64_t glide, int64_t inc)
{
    em_lglide g;
    for (int k = 0; k < EM_W; k++) {
        const int64_t v = glide + k * inc;
        g.whole[k] = static_cast<uint32_t>(em_glidefield(v));
        g.frac[k] = static_cast<uint32_t>(v & 0xFFFF);
    }
    const int64_t d = EM_W * inc;
    g.dwhole = em_lset(em_glidefield(d));
    g.dfrac = em_lset(d & 0xFFFF);
    return g;
}

static inline void em_lnextglide(em_lglide* g)
{
    const em_lu f = g->frac + g->dfrac;
    g->whole += g->dwhole + (f >> 16);
    g->frac = f & 0xFFFF;
}

// A volume (or gain) or pan glide: the split form for any field, or, where
// every field of the run lies within 16 bits, the 16.16 words themselves,
// which then fit 32-bit lanes: one addition a step, one shift a field.
template <bool narrow> struct em_lslide;

template <> struct em_lslide<false> {
    em_lglide g;
    em_lslide(int64_t glide, int64_t inc) : g(em_lstartglide(glide, inc)) { }
    em_lu field() const { return g.whole; }
    void next() { em_lnextglide(&g); }
};

template <> struct em_lslide<true> {
    em_lu word, dword;
    em_lslide(int64_t glide, int64_t inc) : word(em_lset(glide) + em_lset(inc) * em_lindex()), dword(em_lset(EM_W * inc)) { }
    em_lu field() const { return em_lsar(word, 16); }
    void next() { word += dword; }
};

// ---------------------------------------------------------------------------
// The runs. Each decides once whether its products are narrow (gains within
// 16 bits) and runs the loop of that kind.
// ---------------------------------------------------------------------------

template <bool narrow> static inline int32_t em_lanemonoloop(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const em_lu gl = em_lset(g.ll), gr = em_lset(g.rr);
    int32_t i = 0;
    for (; i + EM_W <= n; i += EM_W) {
        const em_lu v = em_lload(in + i);
        em_laddframes(out + 2 * i, em_lscale<narrow>(v, gl), em_lscale<narrow>(v, gr));
    }
    return i;
}

static void EM_LANEFN(em_lanemono)(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const int32_t i =
        em_fits16(g.ll) && em_fits16(g.rr) ? em_lanemonoloop<true>(out, in, n, g) : em_lanemonoloop<false>(out, in, n, g);
    em_plainruns.mono(out + 2 * i, in + i, n - i, g);
}

static bool em_stereonarrow(const em_gains& g)
{
    return em_fits16(g.ll) && em_fits16(g.lr) && em_fits16(g.rl) && em_fits16(g.rr);
}

// Each lane pairs a value with the other side of its frame.
template <bool narrow> static inline em_lu em_lstereomix(em_lu v, em_lu own, em_lu other)
{
    return em_lsar(em_lmul<narrow>(v, own) + em_lmul<narrow>(em_lswap(v), other), 8);
}

template <bool narrow> static inline int32_t em_lanestereoloop(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const em_lu own = em_lpair(g.ll, g.rr), other = em_lpair(g.lr, g.rl);
    int32_t i = 0;
    for (; i + EM_W / 2 <= n; i += EM_W / 2)
        em_ladd(out + 2 * i, em_lstereomix<narrow>(em_lload(in + 2 * i), own, other));
    return i;
}

static void EM_LANEFN(em_lanestereo)(int32_t* out, const int32_t* in, int32_t n, const em_gains& g)
{
    const int32_t i = em_stereonarrow(g) ? em_lanestereoloop<true>(out, in, n, g) : em_lanestereoloop<false>(out, in, n, g);
    em_plainruns.stereo(out + 2 * i, in + 2 * i, n - i, g);
}

// Frame i reads at (off + i x step) >> 16 from base; the offsets of the lanes
// fit 32 unsigned bits when off + n x step < 2^32.
template <bool narrow, bool interp>
static inline int32_t em_lanemonosteploop(int32_t* out, const int32_t* base, int32_t avail, uint64_t off, int32_t step, int32_t n,
                                          const em_gains& g)
{
    em_lu offs = em_lset(static_cast<int64_t>(off)) + em_lset(step) * em_lindex();
    const em_lu advance = em_lset(static_cast<int64_t>(static_cast<uint32_t>(step) * static_cast<uint32_t>(EM_W)));
    const em_lu gl = em_lset(g.ll), gr = em_lset(g.rr);
    int32_t i = 0;
    for (; i + EM_W <= n; i += EM_W) {
        const em_lu v = em_lreadat<interp>(base, offs >> 16, offs & 0xFFFF, 1, 0, avail);
        offs += advance;
        em_laddframes(out + 2 * i, em_lscale<narrow>(v, gl), em_lscale<narrow>(v, gr));
    }
    return i;
}

static void EM_LANEFN(em_lanemonostep)(int32_t* out, const int32_t* base, int32_t avail, uint64_t off, int32_t step, int32_t n,
                                       const em_gains& g, bool interp)
{
    int32_t i = 0;
    if (off + static_cast<uint64_t>(n) * static_cast<uint32_t>(step) < (1ull << 32)) {
        const bool narrow = em_fits16(g.ll) && em_fits16(g.rr);
        if (interp)
            i = narrow ? em_lanemonosteploop<true, true>(out, base, avail, off, step, n, g)
                       : em_lanemonosteploop<false, true>(out, base, avail, off, step, n, g);
        else
            i = narrow ? em_lanemonosteploop<true, false>(out, base, avail, off, step, n, g)
                       : em_lanemonosteploop<false, false>(out, base, avail, off, step, n, g);
    }
    em_plainruns.monostep(out + 2 * i, base, avail, off + static_cast<uint64_t>(i) * static_cast<uint32_t>(step), step, n - i, g,
                          interp);
}

// Half as many frames as lanes: the offsets of frames 0 0 1 1 ..., each lane
// reading at 2 x frame + its side.
template <bool narrow, bool interp>
static inline int32_t em_lanestereosteploop(int32_t* out, const int32_t* base, int32_t avail, uint64_t off, int32_t step,
                                            int32_t n, const em_gains& g)
{
    em_lu offs = em_lset(static_cast<int64_t>(off)) + em_lset(step) * (em_lindex() >> 1);
    const em_lu advance = em_lset(static_cast<int64_t>(static_cast<uint32_t>(step) * static_cast<uint32_t>(EM_W / 2)));
    const em_lu own = em_lpair(g.ll, g.rr), other = em_lpair(g.lr, g.rl), side = em_lindex() & 1;
    int32_t i = 0;
    for (; i + EM_W / 2 <= n; i += EM_W / 2) {
        const em_lu v = em_lreadat<interp>(base, ((offs >> 16) << 1) + side, offs & 0xFFFF, 2, 0, avail);
        offs += advance;
        em_ladd(out + 2 * i, em_lstereomix<narrow>(v, own, other));
    }
    return i;
}

static void EM_LANEFN(em_lanestereostep)(int32_t* out, const int32_t* base, int32_t avail, uint64_t off, int32_t step, int32_t n,
                                         const em_gains& g, bool interp)
{
    int32_t i = 0;
    if (off + static_cast<uint64_t>(n) * static_cast<uint32_t>(step) < (1ull << 32)) {
        const bool narrow = em_stereonarrow(g);
        if (interp)
            i = narrow ? em_lanestereosteploop<true, true>(out, base, avail, off, step, n, g)
                       : em_lanestereosteploop<false, true>(out, base, avail, off, step, n, g);
        else
            i = narrow ? em_lanestereosteploop<true, false>(out, base, avail, off, step, n, g)
                       : em_lanestereosteploop<false, false>(out, base, avail, off, step, n, g);
    }
    em_plainruns.stereostep(out + 2 * i, base, avail, off + static_cast<uint64_t>(i) * static_cast<uint32_t>(step), step, n - i,
                            g, interp);
}

// The largest magnitude of a glide's field over n frames (a glide is linear,
// so its ends bound it).
static inline int64_t em_lglidemost(int64_t glide, int64_t inc, int32_t n)
{
    const int64_t a = em_glidefield(glide), b = em_glidefield(glide + (n - 1) * inc);
    const int64_t ma = a < 0 ? -a : a, mb = b < 0 ? -b : b;
    return ma > mb ? ma : mb;
}

// Narrow products for a volume (or gain) and pan pair: |volume| within 16
// bits and |pan| at most 128 keep every gain within 16 bits too.
static inline bool em_lgainsnarrow(int64_t volume, int64_t volinc, int64_t pan, int64_t paninc, int32_t n)
{
    return em_lglidemost(volume, volinc, n) <= 32767 && em_lglidemost(pan, paninc, n) <= 128;
}

// W frames of steps (never below 0) summed across the lanes give each frame's
// place relative to the run's first frame; the loop runs only where those
// places stay within 31 bits (checked by the caller).
template <int channels, bool narrow, bool interp>
static inline int32_t em_lanerampsloop(int32_t* out, const int32_t* data, int32_t values, int64_t* p, em_glides* g, int32_t n)
{
    const int64_t base = em_sar64(*p, 16);
    const int32_t* from = data + channels * base;
    const int32_t first = static_cast<int32_t>(-channels * base), end = static_cast<int32_t>(values - channels * base);
    em_lu at = em_lset(*p & 0xFFFF);
    em_lglide step = em_lstartglide(g->step, g->stepinc);
    em_lslide<narrow> volume(g->volume, g->volinc), pan(g->pan, g->paninc);
    const em_lu c128 = em_lset(128), zero = {};
    int32_t i = 0;
    for (; i + EM_W <= n; i += EM_W) {
        const em_lu st = em_lselect(em_lgreater(step.whole, zero), step.whole, zero);
        const em_lu sum = em_lprefix(st);
        const em_lu place = at + (sum - st), index = place >> 16, frac = place & 0xFFFF;
        at += em_llast(sum);
        const em_lu v = volume.field(), q = pan.field();
        em_lu l, r;
        if (channels == 1) {
            const em_lu value = em_lreadat<interp>(from, index, frac, 1, first, end);
            l = em_lscale<narrow>(value, em_lscale<narrow>(v, c128 - q));
            r = em_lscale<narrow>(value, em_lscale<narrow>(v, q + c128));
        } else {
            const em_lu twice = index << 1;
            const em_lu a = em_lreadat<interp>(from, twice, frac, 2, first, end);
            const em_lu b = em_lreadat<interp>(from + 1, twice, frac, 2, first - 1, end - 1);
            // The side the pan moves towards keeps the volume; the other
            // keeps (128 - |pan|) / 128 of its own and gives |pan| / 128.
            const em_lu right = em_lgreater(q, em_lset(-1));
            const em_lu sign = em_lsar(q, 31), mag = (q ^ sign) - sign;
            const em_lu own = em_lsar(em_lmul<narrow>(v, c128 - mag), 7), cross = em_lsar(em_lmul<narrow>(v, mag), 7);
            const em_lu ll = em_lselect(right, own, v), rr = em_lselect(right, v, own);
            const em_lu lr = ~right & cross, rl = right & cross;
            l = em_lsar(em_lmul<narrow>(a, ll) + em_lmul<narrow>(b, lr), 8);
            r = em_lsar(em_lmul<narrow>(a, rl) + em_lmul<narrow>(b, rr), 8);
        }
        em_laddframes(out + 2 * i, l, r);
        em_lnextglide(&step);
        volume.next();
        pan.next();
    }
    *p = base * 65536 + at[0];
    g->step += i * g->stepinc;
    g->volume += i * g->volinc;
    g->pan += i * g->paninc;
    return i;
}

template <int channels>
static void EM_LANEFN(em_laneramp)(int32_t* out, const int32_t* data, int32_t values, int64_t* p, em_glides* g, int32_t n,
                                   bool interp)
{
    int32_t i = 0;
    const int64_t first = em_glidefield(g->step), last = em_glidefield(g->step + (n - 1) * g->stepinc);
    const int64_t most = first > last ? first : last;
    if (n >= EM_W && (most < 0 ? 0 : most) * (n + EM_W) + 65536 < (static_cast<int64_t>(1) << 31)) {
        const bool narrow = em_lgainsnarrow(g->volume, g->volinc, g->pan, g->paninc, n);
        if (interp)
            i = narrow ? em_lanerampsloop<channels, true, true>(out, data, values, p, g, n)
                       : em_lanerampsloop<channels, false, true>(out, data, values, p, g, n);
        else
            i = narrow ? em_lanerampsloop<channels, true, false>(out, data, values, p, g, n)
                       : em_lanerampsloop<channels, false, false>(out, data, values, p, g, n);
    }
    em_plainruns.ramp[channels - 1](out + 2 * i, data, values, p, g, n - i, interp);
}

// The values of a head at W 16.16 places relative to base: a head moving
// backwards reads before base, never before the sample; base[first .. end - 1]
// lies on the sample.
template <int channels, bool interp>
static inline em_lu em_laneheadvalues(const int32_t* base, em_lu place, int32_t first, int32_t end)
{
    const em_lu index = em_lsar(place, 16), frac = place & 0xFFFF;
    if (channels == 1)
        return em_lreadat<interp>(base, index, frac, 1, first, end);
    // A stereo sample heard as its mono mix-down, frame by frame.
    const em_lu twice = index << 1;
    const em_lu value = em_lsar(em_lgather(base, twice) + em_lgather(base + 1, twice), 1);
    if (!interp)
        return value;
    const em_lu next = em_lsar(em_lgather(base + 2, twice) + em_lgather(base + 3, twice), 1);
    return em_llerp(value, next, frac);
}

static inline int64_t em_labs64(int64_t v)
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
    const em_lu kcl = em_lindex() * em_lset(r->leftfix), kcr = em_lindex() * em_lset(r->rightfix);
    const em_lu ecl = em_lset(EM_W * r->leftfix), ecr = em_lset(EM_W * r->rightfix);
    em_lu ol = em_lset(r->left & 0xFFFF), orr = em_lset(r->right & 0xFFFF);
    em_lglide step = em_lstartglide(r->g.step, r->g.stepinc);
    em_lslide<narrow> gain(r->g.volume, r->g.volinc), pan(r->g.pan, r->g.paninc);
    const em_lu c128 = em_lset(128);
    em_lu a = {}, b = {};
    int32_t i = 0;
    for (; i + EM_W <= n; i += EM_W) {
        // Steps summed over the frames before each lane, and over all of them.
        const em_lu st = step.whole;
        const em_lu sum = em_lprefix(st);
        const em_lu before = sum - st, total = em_llast(sum);
        a = em_laneheadvalues<channels, interp>(lbase, ol + before + kcl, lfirst, lend);
        b = em_laneheadvalues<channels, interp>(rbase, orr + before + kcr, rfirst, rend);
        ol += total + ecl;
        orr += total + ecr;
        const em_lu g = gain.field(), q = pan.field();
        const em_lu lgain = em_lscale<narrow>(g, c128 - q);
        const em_lu rgain = em_lscale<narrow>(g, q + c128);
        em_laddframes(out + 2 * i, em_lscale<narrow>(a, lgain), em_lscale<narrow>(b, rgain));
        em_lnextglide(&step);
        gain.next();
        pan.next();
    }
    r->left = l0 * 65536 + static_cast<int32_t>(ol[0]);
    r->right = r0 * 65536 + static_cast<int32_t>(orr[0]);
    r->g.step += i * r->g.stepinc;
    r->g.volume += i * r->g.volinc;
    r->g.pan += i * r->g.paninc;
    r->leftvalue = static_cast<int32_t>(a[EM_W - 1]);
    r->rightvalue = static_cast<int32_t>(b[EM_W - 1]);
    return i;
}

template <int channels>
static void EM_LANEFN(em_laneheads)(int32_t* out, const int32_t* data, int32_t values, em_headrun* r, int32_t n, bool interp)
{
    int32_t i = 0;
    if (n >= EM_W) {
        // The largest advance of a frame, of either head, or of the step alone.
        const int64_t first = em_glidefield(r->g.step), last = em_glidefield(r->g.step + (n - 1) * r->g.stepinc);
        const int64_t mc = em_labs64(r->leftfix) > em_labs64(r->rightfix) ? em_labs64(r->leftfix) : em_labs64(r->rightfix);
        const int64_t ms = em_labs64(first) > em_labs64(last) ? em_labs64(first) : em_labs64(last);
        if ((ms + mc) * (n + EM_W) + 65536 < (static_cast<int64_t>(1) << 31)) {
            const bool narrow = em_lgainsnarrow(r->g.volume, r->g.volinc, r->g.pan, r->g.paninc, n);
            if (interp)
                i = narrow ? em_laneheadsloop<channels, true, true>(out, data, values, r, n)
                           : em_laneheadsloop<channels, false, true>(out, data, values, r, n);
            else
                i = narrow ? em_laneheadsloop<channels, true, false>(out, data, values, r, n)
                           : em_laneheadsloop<channels, false, false>(out, data, values, r, n);
        }
    }
    if (i < n)
        em_plainruns.heads[channels - 1](out + 2 * i, data, values, r, n - i, interp);
}

} // namespace

// The runs of this instruction set, for em_mixruns.
#define EM_LANERUNS                                                                                                              \
    {                                                                                                                            \
        EM_LANEFN(em_lanemono), EM_LANEFN(em_lanestereo), EM_LANEFN(em_lanemonostep), EM_LANEFN(em_lanestereostep),              \
            {EM_LANEFN(em_laneramp) < 1 >, EM_LANEFN(em_laneramp) < 2 > },                                                       \
        {                                                                                                                        \
            EM_LANEFN(em_laneheads)<1>, EM_LANEFN(em_laneheads)<2>                                                               \
        }                                                                                                                        \
    }

#endif
