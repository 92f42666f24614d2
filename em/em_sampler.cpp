// em_sampler.cpp -- one-shot sample player and its voices: creation, parameters,
// the voice process and its specialised mixing loops
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "em/em_local.h"

enum {
    EMTAG_SAMPLERMIX = 930, // a sampler's mix buffer
    EMTAG_SAMPLER = 931,    // one em_sampler record
    EMTAG_SCHANNEL = 932    // one em_schannel record
};

// ---------------------------------------------------------------------------
// Gains and stepping shared by the mixing loops
// ---------------------------------------------------------------------------

// Mono voice: the sample value's share on each side, 256 = full.
struct em_monogain {
    int32_t left;
    int32_t right;
};

static em_monogain em_monogains(int32_t volume, int32_t pan)
{
    return {em_sar32(em_mul32(volume, em_sub32(128, pan)), 8), em_sar32(em_mul32(volume, em_add32(pan, 128)), 8)};
}

static inline void em_addmono(int32_t* out, int32_t value, em_monogain g)
{
    out[0] = em_add32(out[0], em_sar32(em_mul32(value, g.left), 8));
    out[1] = em_add32(out[1], em_sar32(em_mul32(value, g.right), 8));
}

// Stereo voice: a 2 x 2 matrix that moves one side into the other, 256 = full.
struct em_stereogain {
    int32_t ll; // left from left
    int32_t lr; // left from right
    int32_t rl; // right from left
    int32_t rr; // right from right
};

static em_stereogain em_stereogains(int32_t volume, int32_t pan)
{
    if (pan >= 0)
        return {em_sar32(em_mul32(volume, em_sub32(128, pan)), 7), 0, em_sar32(em_mul32(volume, pan), 7), volume};
    return {volume, em_sar32(em_mul32(volume, em_sub32(0, pan)), 7), 0, em_sar32(em_mul32(volume, em_add32(pan, 128)), 7)};
}

static inline void em_addstereo(int32_t* out, int32_t left, int32_t right, const em_stereogain& g)
{
    out[0] = em_add32(out[0], em_sar32(em_add32(em_mul32(left, g.ll), em_mul32(right, g.lr)), 8));
    out[1] = em_add32(out[1], em_sar32(em_add32(em_mul32(left, g.rl), em_mul32(right, g.rr)), 8));
}

// A negative step would read before the sample: such a voice holds still.
static inline int32_t em_forwardstep(int32_t step)
{
    return step < 0 ? 0 : step;
}

// Adds step to the fraction; returns the whole frames to advance.
static inline int32_t em_advance(int32_t* frac, int32_t step)
{
    const uint32_t acc = static_cast<uint32_t>(*frac) + static_cast<uint32_t>(step);
    *frac = static_cast<int32_t>(acc & 0xFFFF);
    return static_cast<int32_t>(acc >> 16);
}

// Brings a read index that ran past end back into the sample: one subtraction
// normally, a remainder when a step covers more than the whole sample.
static inline int32_t em_wrapindex(int32_t index, int32_t end)
{
    index -= end;
    return index < end ? index : index % end;
}

// ---------------------------------------------------------------------------
// Runs: stretches of a buffer that read the sample without reaching its end.
// The mixing loops cut a buffer into runs, so that only the frame that ends a
// run tests the end. Where the processor has AVX2 a run is mixed eight frames
// at a time in vector registers: 32-bit lanes with the same wrapping products
// and sums and the same arithmetic shifts as em_addmono and em_addstereo, so
// every value is the one the frame-by-frame form gives.
// ---------------------------------------------------------------------------

// n frames of a mono run at unit step.
static inline void em_monorun(int32_t* out, const int32_t* in, int32_t n, em_monogain g)
{
    for (int32_t i = 0; i < n; i++)
        em_addmono(out + 2 * i, in[i], g);
}

// n frames of a stereo run at unit step; in holds 2 x n values.
static inline void em_stereorun(int32_t* out, const int32_t* in, int32_t n, const em_stereogain& g)
{
    for (int32_t i = 0; i < n; i++)
        em_addstereo(out + 2 * i, in[2 * i], in[2 * i + 1], g);
}

// n frames of a stepped mono run: frame i reads base[(off + i x step) >> 16].
__attribute__((always_inline)) static inline void em_monosteprun(int32_t* out, const int32_t* base, uint64_t off, int32_t step,
                                                                 int32_t n, em_monogain g)
{
    for (int32_t i = 0; i < n; i++, off += static_cast<uint32_t>(step))
        em_addmono(out + 2 * i, base[off >> 16], g);
}

// n frames of a stepped stereo run: frame i reads the pair at frame (off + i x step) >> 16.
__attribute__((always_inline)) static inline void em_stereosteprun(int32_t* out, const int32_t* base, uint64_t off, int32_t step,
                                                                   int32_t n, const em_stereogain& g)
{
    for (int32_t i = 0; i < n; i++, off += static_cast<uint32_t>(step)) {
        const int32_t* frame = base + 2 * (off >> 16);
        em_addstereo(out + 2 * i, frame[0], frame[1], g);
    }
}

#if defined(__x86_64__)
// The runs compiled for AVX2, where a lane set is one register and a stepped
// run gathers eight frames at once; chosen once, at start-up.
typedef uint32_t em_lanes __attribute__((vector_size(32))); // wrapping products and sums
typedef int32_t em_slanes __attribute__((vector_size(32))); // arithmetic shifts

// The unit-step runs in eight lanes.
__attribute__((always_inline)) static inline void em_monorunlanes(int32_t* out, const int32_t* in, int32_t n, em_monogain g)
{
    const em_lanes gl = em_lanes {} + static_cast<uint32_t>(g.left);
    const em_lanes gr = em_lanes {} + static_cast<uint32_t>(g.right);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        em_lanes v, lo, hi;
        memcpy(&v, in + i, sizeof(v));
        memcpy(&lo, out + 2 * i, sizeof(lo));
        memcpy(&hi, out + 2 * i + 8, sizeof(hi));
        const em_lanes l = reinterpret_cast<em_lanes>(reinterpret_cast<em_slanes>(v * gl) >> 8);
        const em_lanes r = reinterpret_cast<em_lanes>(reinterpret_cast<em_slanes>(v * gr) >> 8);
        lo += __builtin_shufflevector(l, r, 0, 8, 1, 9, 2, 10, 3, 11);
        hi += __builtin_shufflevector(l, r, 4, 12, 5, 13, 6, 14, 7, 15);
        memcpy(out + 2 * i, &lo, sizeof(lo));
        memcpy(out + 2 * i + 8, &hi, sizeof(hi));
    }
    for (; i < n; i++)
        em_addmono(out + 2 * i, in[i], g);
}

__attribute__((always_inline)) static inline void em_stereorunlanes(int32_t* out, const int32_t* in, int32_t n,
                                                                    const em_stereogain& g)
{
    // Each lane pairs a value with the other side of its frame.
    const uint32_t ll = static_cast<uint32_t>(g.ll), lr = static_cast<uint32_t>(g.lr);
    const uint32_t rl = static_cast<uint32_t>(g.rl), rr = static_cast<uint32_t>(g.rr);
    const em_lanes own = {ll, rr, ll, rr, ll, rr, ll, rr};
    const em_lanes other = {lr, rl, lr, rl, lr, rl, lr, rl};
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        em_lanes v, o;
        memcpy(&v, in + 2 * i, sizeof(v));
        memcpy(&o, out + 2 * i, sizeof(o));
        const em_lanes swapped = __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
        o += reinterpret_cast<em_lanes>(reinterpret_cast<em_slanes>(v * own + swapped * other) >> 8);
        memcpy(out + 2 * i, &o, sizeof(o));
    }
    for (; i < n; i++)
        em_addstereo(out + 2 * i, in[2 * i], in[2 * i + 1], g);
}


__attribute__((target("avx2"))) static void em_monorunavx2(int32_t* out, const int32_t* in, int32_t n, em_monogain g)
{
    em_monorunlanes(out, in, n, g);
}

__attribute__((target("avx2"))) static void em_stereorunavx2(int32_t* out, const int32_t* in, int32_t n, const em_stereogain& g)
{
    em_stereorunlanes(out, in, n, g);
}

// Offsets fit 32 unsigned bits when off + n x step < 2^32; the gathers read
// at index (offset >> 16) from base.
__attribute__((target("avx2"))) static void em_monosteprunavx2(int32_t* out, const int32_t* base, uint64_t off, int32_t step,
                                                               int32_t n, em_monogain g)
{
    int32_t i = 0;
    if (off + static_cast<uint64_t>(n) * static_cast<uint32_t>(step) < (1ull << 32)) {
        __m256i offs = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(off)),
                                        _mm256_mullo_epi32(_mm256_set1_epi32(step), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
        const __m256i advance = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(step) * 8u));
        const __m256i gl = _mm256_set1_epi32(g.left), gr = _mm256_set1_epi32(g.right);
        for (; i + 8 <= n; i += 8) {
            const __m256i v = _mm256_i32gather_epi32(base, _mm256_srli_epi32(offs, 16), 4);
            offs = _mm256_add_epi32(offs, advance);
            const __m256i l = _mm256_srai_epi32(_mm256_mullo_epi32(v, gl), 8);
            const __m256i r = _mm256_srai_epi32(_mm256_mullo_epi32(v, gr), 8);
            // l0 r0 l1 r1 l4 r4 l5 r5 | l2 r2 l3 r3 l6 r6 l7 r7 -> frames 0..3 and 4..7.
            const __m256i a = _mm256_unpacklo_epi32(l, r), b = _mm256_unpackhi_epi32(l, r);
            __m256i* lo = reinterpret_cast<__m256i*>(out + 2 * i);
            __m256i* hi = reinterpret_cast<__m256i*>(out + 2 * i + 8);
            _mm256_storeu_si256(lo, _mm256_add_epi32(_mm256_loadu_si256(lo), _mm256_permute2x128_si256(a, b, 0x20)));
            _mm256_storeu_si256(hi, _mm256_add_epi32(_mm256_loadu_si256(hi), _mm256_permute2x128_si256(a, b, 0x31)));
        }
    }
    em_monosteprun(out + 2 * i, base, off + static_cast<uint64_t>(i) * static_cast<uint32_t>(step), step, n - i, g);
}

__attribute__((target("avx2"))) static void em_stereosteprunavx2(int32_t* out, const int32_t* base, uint64_t off, int32_t step,
                                                                 int32_t n, const em_stereogain& g)
{
    int32_t i = 0;
    if (off + static_cast<uint64_t>(n) * static_cast<uint32_t>(step) < (1ull << 32)) {
        // Four frames a register: offsets of frames 0 0 1 1 2 2 3 3, read at 2 x frame + side.
        __m256i offs = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(off)),
                                        _mm256_mullo_epi32(_mm256_set1_epi32(step), _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3)));
        const __m256i advance = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(step) * 4u));
        const __m256i side = _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1);
        const __m256i own = _mm256_setr_epi32(g.ll, g.rr, g.ll, g.rr, g.ll, g.rr, g.ll, g.rr);
        const __m256i other = _mm256_setr_epi32(g.lr, g.rl, g.lr, g.rl, g.lr, g.rl, g.lr, g.rl);
        for (; i + 4 <= n; i += 4) {
            const __m256i index = _mm256_add_epi32(_mm256_slli_epi32(_mm256_srli_epi32(offs, 16), 1), side);
            const __m256i v = _mm256_i32gather_epi32(base, index, 4);
            offs = _mm256_add_epi32(offs, advance);
            const __m256i swapped = _mm256_shuffle_epi32(v, 0xB1);
            const __m256i mixed =
                _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(v, own), _mm256_mullo_epi32(swapped, other)), 8);
            __m256i* o = reinterpret_cast<__m256i*>(out + 2 * i);
            _mm256_storeu_si256(o, _mm256_add_epi32(_mm256_loadu_si256(o), mixed));
        }
    }
    em_stereosteprun(out + 2 * i, base, off + static_cast<uint64_t>(i) * static_cast<uint32_t>(step), step, n - i, g);
}
#define EM_RUN(name, ...) (em_usesimd() ? name##avx2(__VA_ARGS__) : name(__VA_ARGS__))
#else
#define EM_RUN(name, ...) name(__VA_ARGS__)
#endif

// Frames from the 16.16 place p until a step of step reaches limit: at least
// one (a place already past the end is read once, then tested), at most left.
static inline int32_t em_runlength(int64_t p, int64_t limit, int32_t step, int32_t left)
{
    if (step <= 0)
        return left;
    const int64_t need = (limit - p + step - 1) / step;
    return need < 1 ? 1 : need < left ? static_cast<int32_t>(need) : left;
}

// ---------------------------------------------------------------------------
// Ramped runs. A ramp moves a field by trunc(f x inc / 65536) after f frames
// (em_rampfield's accumulator never carries a sign change), so the field of
// frame f is the top half of one 16.16 word that grows by inc a frame,
// biased so that the arithmetic shift truncates towards zero as the
// division does. A run of a ramped voice reads at places that move by the
// frame's step (never below 0) and never reach the end.
// ---------------------------------------------------------------------------

static inline int64_t em_sar64(int64_t a, int n)
{
    return a >= 0 ? a >> n : ~(~a >> n);
}

static inline int64_t em_glide(int32_t from, int64_t inc)
{
    return static_cast<int64_t>(from) * 65536 + (inc < 0 ? 65535 : 0);
}

// The field of a glide word; wrapping to 32 bits as em_rampfield's sums do.
static inline int32_t em_glidefield(int64_t glide)
{
    return em_wrap(static_cast<uint32_t>(static_cast<uint64_t>(em_sar64(glide, 16))));
}

// A ramp's three glide words and their increments.
struct em_glides {
    int64_t step, volume, pan;
    int64_t stepinc, volinc, paninc;
};

template <int channels> static inline void em_rampvalue(int32_t* out, const int32_t* frame, int32_t volume, int32_t pan)
{
    if (channels == 1)
        em_addmono(out, frame[0], em_monogains(volume, pan));
    else
        em_addstereo(out, frame[0], frame[1], em_stereogains(volume, pan));
}

// n frames from the 16.16 place p (in frames) of a ramped voice.
template <int channels>
__attribute__((always_inline)) static inline void em_ramprun(int32_t* out, const int32_t* data, int64_t* p, em_glides* g,
                                                             int32_t n)
{
    int64_t place = *p, step = g->step, volume = g->volume, pan = g->pan;
    for (int32_t i = 0; i < n; i++) {
        em_rampvalue<channels>(out + 2 * i, data + channels * (place >> 16), em_glidefield(volume), em_glidefield(pan));
        place += em_forwardstep(em_glidefield(step));
        step += g->stepinc;
        volume += g->volinc;
        pan += g->paninc;
    }
    *p = place;
    g->step = step;
    g->volume = volume;
    g->pan = pan;
}

#if defined(__x86_64__)
// The lanes of a glide: fields of eight frames split as whole and 16-bit
// fraction, and the advance of eight frames in the same split.
struct em_glidelanes {
    __m256i whole, frac, dwhole, dfrac;
};

__attribute__((target("avx2"))) static inline em_glidelanes em_startlanes(int64_t glide, int64_t inc)
{
    alignas(32) int32_t w[8], fr[8];
    for (int k = 0; k < 8; k++) {
        const int64_t v = glide + k * inc;
        w[k] = em_glidefield(v);
        fr[k] = static_cast<int32_t>(v & 0xFFFF);
    }
    const int64_t d = 8 * inc;
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(w)), _mm256_load_si256(reinterpret_cast<const __m256i*>(fr)),
            _mm256_set1_epi32(em_glidefield(d)), _mm256_set1_epi32(static_cast<int32_t>(d & 0xFFFF))};
}

__attribute__((target("avx2"))) static inline void em_nextlanes(em_glidelanes* g)
{
    const __m256i f = _mm256_add_epi32(g->frac, g->dfrac);
    g->whole = _mm256_add_epi32(_mm256_add_epi32(g->whole, g->dwhole), _mm256_srli_epi32(f, 16));
    g->frac = _mm256_and_si256(f, _mm256_set1_epi32(0xFFFF));
}

// Eight frames at a time: the steps (never below 0) summed across the lanes
// give each frame's place relative to the run's first frame; the run is
// taken in lanes only where those places stay within 31 bits.
template <int channels>
__attribute__((target("avx2"))) static void em_ramprunavx2(int32_t* out, const int32_t* data, int64_t* p, em_glides* g, int32_t n)
{
    int32_t i = 0;
    const int64_t first = em_glidefield(g->step), last = em_glidefield(g->step + (n - 1) * g->stepinc);
    const int64_t most = first > last ? first : last;
    if (n >= 8 && (most < 0 ? 0 : most) * (n + 8) + 65536 < (static_cast<int64_t>(1) << 31)) {
        const int64_t base = em_sar64(*p, 16);
        const int32_t* from = data + channels * base;
        __m256i at = _mm256_set1_epi32(static_cast<int32_t>(*p & 0xFFFF));
        em_glidelanes step = em_startlanes(g->step, g->stepinc), volume = em_startlanes(g->volume, g->volinc),
                      pan = em_startlanes(g->pan, g->paninc);
        const __m256i c128 = _mm256_set1_epi32(128), zero = _mm256_setzero_si256();
        for (; i + 8 <= n; i += 8) {
            const __m256i st = _mm256_max_epi32(step.whole, zero);
            __m256i sum = _mm256_add_epi32(st, _mm256_slli_si256(st, 4));
            sum = _mm256_add_epi32(sum, _mm256_slli_si256(sum, 8));
            const __m256i half = _mm256_shuffle_epi32(sum, 0xFF);
            sum = _mm256_add_epi32(sum, _mm256_permute2x128_si256(half, half, 0x08));
            const __m256i index = _mm256_srli_epi32(_mm256_add_epi32(at, _mm256_sub_epi32(sum, st)), 16);
            at = _mm256_add_epi32(at, _mm256_permutevar8x32_epi32(sum, _mm256_set1_epi32(7)));
            const __m256i v = volume.whole, q = pan.whole;
            __m256i l, r;
            if (channels == 1) {
                const __m256i value = _mm256_i32gather_epi32(from, index, 4);
                const __m256i gl = _mm256_srai_epi32(_mm256_mullo_epi32(v, _mm256_sub_epi32(c128, q)), 8);
                const __m256i gr = _mm256_srai_epi32(_mm256_mullo_epi32(v, _mm256_add_epi32(q, c128)), 8);
                l = _mm256_srai_epi32(_mm256_mullo_epi32(value, gl), 8);
                r = _mm256_srai_epi32(_mm256_mullo_epi32(value, gr), 8);
            } else {
                const __m256i twice = _mm256_slli_epi32(index, 1);
                const __m256i a = _mm256_i32gather_epi32(from, twice, 4);
                const __m256i b = _mm256_i32gather_epi32(from + 1, twice, 4);
                // The side the pan moves towards keeps the volume; the other
                // keeps (128 - |pan|) / 128 of its own and gives |pan| / 128.
                const __m256i right = _mm256_cmpgt_epi32(q, _mm256_set1_epi32(-1));
                const __m256i mag = _mm256_abs_epi32(q);
                const __m256i own = _mm256_srai_epi32(_mm256_mullo_epi32(v, _mm256_sub_epi32(c128, mag)), 7);
                const __m256i cross = _mm256_srai_epi32(_mm256_mullo_epi32(v, mag), 7);
                const __m256i ll = _mm256_blendv_epi8(v, own, right), rr = _mm256_blendv_epi8(own, v, right);
                const __m256i lr = _mm256_andnot_si256(right, cross), rl = _mm256_and_si256(right, cross);
                l = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(a, ll), _mm256_mullo_epi32(b, lr)), 8);
                r = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(a, rl), _mm256_mullo_epi32(b, rr)), 8);
            }
            const __m256i x = _mm256_unpacklo_epi32(l, r), y = _mm256_unpackhi_epi32(l, r);
            __m256i* lo = reinterpret_cast<__m256i*>(out + 2 * i);
            __m256i* hi = reinterpret_cast<__m256i*>(out + 2 * i + 8);
            _mm256_storeu_si256(lo, _mm256_add_epi32(_mm256_loadu_si256(lo), _mm256_permute2x128_si256(x, y, 0x20)));
            _mm256_storeu_si256(hi, _mm256_add_epi32(_mm256_loadu_si256(hi), _mm256_permute2x128_si256(x, y, 0x31)));
            em_nextlanes(&step);
            em_nextlanes(&volume);
            em_nextlanes(&pan);
        }
        *p = base * 65536 + static_cast<uint32_t>(_mm256_cvtsi256_si32(at));
        g->step += i * g->stepinc;
        g->volume += i * g->volinc;
        g->pan += i * g->paninc;
    }
    em_ramprun<channels>(out + 2 * i, data, p, g, n - i);
}
#define EM_RAMPRUN(channels, ...) (em_usesimd() ? em_ramprunavx2<channels>(__VA_ARGS__) : em_ramprun<channels>(__VA_ARGS__))
#else
#define EM_RAMPRUN(channels, ...) em_ramprun<channels>(__VA_ARGS__)
#endif

// ---------------------------------------------------------------------------
// Mixing loops, one per layout, step and ramp case
// ---------------------------------------------------------------------------

int em_mixmono(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const int32_t* data = s->data;
    const int32_t end = s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const em_monogain g = em_monogains(ch->volume, ch->pan);
    int32_t index = ch->pos;
    int ended = 0;
    for (int32_t f = 0; f < frames;) {
        const int32_t left = frames - f;
        const int32_t run = end - index < 1 ? 1 : end - index < left ? end - index : left;
        EM_RUN(em_monorun, out + 2 * f, data + index, run, g);
        f += run;
        index += run;
        if (index >= end) {
            if (!loop) {
                ended = 1;
                break;
            }
            index = 0;
        }
    }
    ch->pos = index;
    return ended;
}

int em_mixmonostep(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const int32_t* data = s->data;
    const int32_t end = s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const em_monogain g = em_monogains(ch->volume, ch->pan);
    const int32_t step = em_forwardstep(ch->step);
    const int64_t limit = static_cast<int64_t>(end) * 65536;
    int32_t index = ch->pos;
    int32_t frac = ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames;) {
        // The place in 16.16 frames moves by exactly step a frame.
        const int64_t p = static_cast<int64_t>(index) * 65536 + frac;
        const int32_t run = em_runlength(p, limit, step, frames - f);
        EM_RUN(em_monosteprun, out + 2 * f, data + index, static_cast<uint64_t>(frac), step, run, g);
        const int64_t q = p + static_cast<int64_t>(run) * step;
        index = static_cast<int32_t>(q >> 16);
        frac = static_cast<int32_t>(q & 0xFFFF);
        f += run;
        if (index >= end) {
            if (!loop) {
                ended = 1;
                break;
            }
            index = em_wrapindex(index, end);
        }
    }
    ch->pos = index;
    ch->frac = frac;
    return ended;
}

// A linear slide of step, volume and pan to their targets over one buffer,
// in 16.16 increments per frame carried by accumulators.
struct em_ramp {
    int64_t stepinc, volinc, paninc; // 16.16 per frame
    int64_t stepacc, volacc, panacc; // carried fractions
};

static int64_t em_rampinc(int32_t from, int32_t to, int32_t frames)
{
    return (static_cast<int64_t>(to) - from) * 65536 / frames;
}

static em_ramp em_startramp(const em_schannel* ch, int32_t frames)
{
    em_ramp r = {};
    const int64_t d = static_cast<int64_t>(ch->tstep) - ch->step;
    // Large step differences divide in eighths, as the 32-bit form must.
    if ((d > -32768 && d < 32768) || frames / 8 == 0)
        r.stepinc = d * 65536 / frames;
    else
        r.stepinc = d * 8192 / (frames / 8);
    r.volinc = em_rampinc(ch->volume, ch->tvolume, frames);
    r.paninc = em_rampinc(ch->pan, ch->tpan, frames);
    return r;
}

static inline void em_rampfield(int32_t* field, int64_t* acc, int64_t inc)
{
    *acc += inc;
    const int64_t whole = *acc / 65536;
    *field = em_add32(*field, static_cast<int32_t>(static_cast<uint32_t>(whole)));
    *acc -= whole * 65536;
}

static void em_rampstep(em_schannel* ch, em_ramp* r)
{
    em_rampfield(&ch->step, &r->stepacc, r->stepinc);
    em_rampfield(&ch->volume, &r->volacc, r->volinc);
    em_rampfield(&ch->pan, &r->panacc, r->paninc);
}

static void em_finishramp(em_schannel* ch, const em_ramp& r)
{
    if (r.stepinc != 0)
        ch->step = ch->tstep;
    if (r.volinc != 0)
        ch->volume = ch->tvolume;
    if (r.paninc != 0)
        ch->pan = ch->tpan;
    ch->flags &= ~static_cast<uint32_t>(EMF_RAMP);
}

// A ramped voice frame by frame: the form for step glides whose sums leave
// 32 bits, and for the frames that may reach the end.
template <int channels> static int em_mixrampframes(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames, em_ramp* r)
{
    const int32_t* data = s->data;
    const int32_t end = channels * s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    int32_t index = ch->pos;
    int32_t frac = ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames; f++) {
        const int32_t* frame = data + index;
        const int32_t left = frame[0];
        const int32_t right = channels == 2 ? frame[1] : 0;
        index += channels * em_advance(&frac, em_forwardstep(ch->step));
        if (index >= end) {
            if (loop)
                index = em_wrapindex(index, end);
            else
                ended = 1;
        }
        if (channels == 1)
            em_addmono(out + 2 * f, left, em_monogains(ch->volume, ch->pan));
        else
            em_addstereo(out + 2 * f, left, right, em_stereogains(ch->volume, ch->pan));
        em_rampstep(ch, r);
        if (ended)
            break;
    }
    ch->pos = index;
    ch->frac = frac;
    return ended;
}

// The buffer cut into runs that cannot reach the end, with the glides as
// 16.16 words; a frame that may reach the end goes frame by frame.
template <int channels> static int em_mixramp(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    em_ramp r = em_startramp(ch, frames);
    // The runs bound the steps by the first and last frame's: the step's
    // glide must not wrap in 32 bits within the buffer. They also take the
    // read place as a frame on the sample.
    const int64_t laststep = static_cast<int64_t>(ch->step) + (frames - 1) * r.stepinc / 65536;
    if (laststep < INT32_MIN || laststep > INT32_MAX || ch->pos < 0 || ch->pos >= channels * s->length ||
        ch->pos % channels != 0 || ch->frac < 0 || ch->frac > 0xFFFF) {
        const int ended = em_mixrampframes<channels>(ch, s, out, frames, &r);
        em_finishramp(ch, r);
        return ended;
    }
    const int32_t* data = s->data;
    const int32_t length = s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    em_glides g = {em_glide(ch->step, r.stepinc),
                   em_glide(ch->volume, r.volinc),
                   em_glide(ch->pan, r.paninc),
                   r.stepinc,
                   r.volinc,
                   r.paninc};
    const int32_t last = static_cast<int32_t>(laststep);
    const int64_t limit = static_cast<int64_t>(length) * 65536;
    int64_t p = static_cast<int64_t>(ch->pos / channels) * 65536 + ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames;) {
        const int32_t now = em_glidefield(g.step);
        const int64_t most = now > last ? now : last;
        int32_t run = frames - f;
        if (most > 0) {
            const int64_t safe = (limit - 1 - p) / most;
            run = safe < run ? static_cast<int32_t>(safe) : run;
        }
        if (run > 0) {
            EM_RAMPRUN(channels, out + 2 * f, data, &p, &g, run);
            f += run;
            continue;
        }
        em_rampvalue<channels>(out + 2 * f, data + channels * (p >> 16), em_glidefield(g.volume), em_glidefield(g.pan));
        p += em_forwardstep(now);
        g.step += g.stepinc;
        g.volume += g.volinc;
        g.pan += g.paninc;
        f++;
        int32_t index = static_cast<int32_t>(p >> 16);
        if (index >= length) {
            if (!loop) {
                ended = 1;
                p = static_cast<int64_t>(index) * 65536 + (p & 0xFFFF);
                break;
            }
            index = em_wrapindex(index, length);
            p = static_cast<int64_t>(index) * 65536 + (p & 0xFFFF);
        }
    }
    ch->pos = channels * static_cast<int32_t>(p >> 16);
    ch->frac = static_cast<int32_t>(p & 0xFFFF);
    em_finishramp(ch, r);
    return ended;
}

int em_mixmonoramp(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    return em_mixramp<1>(ch, s, out, frames);
}

int em_mixstereo(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const int32_t* data = s->data;
    const int32_t end = 2 * s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const em_stereogain g = em_stereogains(ch->volume, ch->pan);
    int32_t index = ch->pos;
    int ended = 0;
    for (int32_t f = 0; f < frames;) {
        // Frames until the index reaches the end, at least one.
        const int32_t left = frames - f;
        const int32_t toend = (end - index + 1) / 2;
        const int32_t run = toend < 1 ? 1 : toend < left ? toend : left;
        EM_RUN(em_stereorun, out + 2 * f, data + index, run, g);
        f += run;
        index += 2 * run;
        if (index >= end) {
            if (!loop) {
                ended = 1;
                break;
            }
            index = 0;
        }
    }
    ch->pos = index;
    return ended;
}

int em_mixstereostep(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const int32_t* data = s->data;
    const int32_t end = 2 * s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const em_stereogain g = em_stereogains(ch->volume, ch->pan);
    const int32_t step = em_forwardstep(ch->step);
    int32_t index = ch->pos;
    int32_t frac = ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames;) {
        // The value index moves by 2 x the whole frames of each step: the
        // place in 16.16 values moves by 2 x step a frame, from index + 2 x frac.
        const int64_t p = static_cast<int64_t>(index) * 65536 + 2 * static_cast<int64_t>(frac);
        const int64_t limit = static_cast<int64_t>(end) * 65536;
        int32_t run = frames - f;
        if (step > 0) {
            const int64_t need = (limit - p + 2 * static_cast<int64_t>(step) - 1) / (2 * static_cast<int64_t>(step));
            run = need < 1 ? 1 : need < run ? static_cast<int32_t>(need) : run;
        }
        EM_RUN(em_stereosteprun, out + 2 * f, data + index, static_cast<uint64_t>(frac), step, run, g);
        const uint64_t moved = static_cast<uint64_t>(frac) + static_cast<uint64_t>(run) * static_cast<uint32_t>(step);
        index = static_cast<int32_t>(index + 2 * static_cast<int64_t>(moved >> 16));
        frac = static_cast<int32_t>(moved & 0xFFFF);
        f += run;
        if (index >= end) {
            if (!loop) {
                ended = 1;
                break;
            }
            index = em_wrapindex(index, end);
        }
    }
    ch->pos = index;
    ch->frac = frac;
    return ended;
}

int em_mixstereoramp(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    return em_mixramp<2>(ch, s, out, frames);
}

// ---------------------------------------------------------------------------
// Voice node
// ---------------------------------------------------------------------------

// Puts a read index set from outside back on the sample: never negative, on
// a left value for stereo, wrapped (looping) or ended (1) when past the end.
static int em_placevoice(em_schannel* ch, const em_sample* s)
{
    const int32_t end = s->length * s->channels;
    if (ch->pos < 0)
        ch->pos = 0;
    if (s->channels == 2)
        ch->pos &= ~1;
    if (ch->pos < end)
        return 0;
    if (!(ch->flags & EMF_LOOP))
        return 1;
    ch->pos %= end;
    return 0;
}

static int em_mixvoice(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const bool ramp = (ch->flags & EMF_RAMP) != 0;
    if (s->channels == 2) {
        if (ramp)
            return em_mixstereoramp(ch, s, out, frames);
        return ch->step == 0x10000 ? em_mixstereo(ch, s, out, frames) : em_mixstereostep(ch, s, out, frames);
    }
    if (ramp)
        return em_mixmonoramp(ch, s, out, frames);
    return ch->step == 0x10000 ? em_mixmono(ch, s, out, frames) : em_mixmonostep(ch, s, out, frames);
}

static void em_schannelprocess(em_node* node)
{
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    if (!(ch->flags & EMF_PLAYING))
        return;
    int32_t* out = node->parent ? node->parent->mixbuf : nullptr;
    if (!out)
        return;
    // A sample freed or never loaded ends the voice instead of being read.
    const em_sample* s = em_getsample(ch->sample);
    int ended = 1;
    if (s && s->data && s->length > 0 && !em_placevoice(ch, s))
        ended = em_mixvoice(ch, s, out, emstate.samples);
    if (!ended)
        return;
    if (ch->flags & EMF_AUTOFREE)
        em_destroynode(node);
    else
        ch->flags &= ~static_cast<uint32_t>(EMF_PLAYING);
}

static int em_schannelsetparam(em_node* node, int id, int32_t value)
{
    return em_voicesetparam(static_cast<em_schannel*>(node->data), id, value);
}

static int em_schannelgetparam(em_node* node, int id)
{
    return em_voicegetparam(static_cast<const em_schannel*>(node->data), id);
}

em_node* em_initschannel(em_node* parent, int autofree)
{
    (void)parent; // the caller attaches the finished voice
    em_node* node = em_createnode(nullptr);
    if (!node) {
        emio_error("em_initschannel: can't create node");
        return nullptr;
    }
    node->process = em_schannelprocess;
    node->destroy = em_freenodedata;
    node->setparam = em_schannelsetparam;
    node->getparam = em_schannelgetparam;
    em_schannel* ch = static_cast<em_schannel*>(emio_calloc(1, sizeof(em_schannel), EMTAG_SCHANNEL));
    if (!ch) {
        emio_error("em_initschannel: can't allocate schannel");
        em_destroynode(node);
        return nullptr;
    }
    ch->volume = 256;
    ch->step = 0x10000;
    ch->flags = autofree ? static_cast<uint32_t>(EMF_AUTOFREE) : 0u;
    node->data = ch;
    return node;
}

// ---------------------------------------------------------------------------
// Sampler node
// ---------------------------------------------------------------------------

static int em_samplersetparam(em_node* node, int id, int32_t value)
{
    em_sampler* sm = static_cast<em_sampler*>(node->data);
    switch (id) {
    case EMP_VOLUME: node->volume = value; return 0;
    case EMP_DEFVOLUME: sm->volume = value; return 0;
    case EMP_DEFPITCH: sm->pitch = value; return 0;
    case EMP_DEFPAN: sm->pan = value < -128 ? -128 : value > 128 ? 128 : value; return 0;
    case EMP_LOOP:
        if (value)
            sm->flags |= EMS_LOOP;
        else
            sm->flags &= ~static_cast<uint32_t>(EMS_LOOP);
        return 0;
    case EMP_DEFFLAGS: sm->flags = static_cast<uint32_t>(value); return 0;
    default: return -1;
    }
}

static int em_samplergetparam(em_node* node, int id)
{
    const em_sampler* sm = static_cast<const em_sampler*>(node->data);
    switch (id) {
    case EMP_VOLUME: return node->volume;
    case EMP_STATE: return 3;
    case EMP_DEFVOLUME: return sm->volume;
    case EMP_DEFPITCH: return sm->pitch;
    case EMP_DEFPAN: return sm->pan;
    case EMP_LOOP: return (sm->flags & EMS_LOOP) ? 1 : 0;
    case EMP_DEFFLAGS: return static_cast<int>(sm->flags);
    default: return -1;
    }
}

int em_issampler(const em_node* node)
{
    return node && node->setparam == em_samplersetparam && node->data ? 1 : 0;
}

em_node* em_initsampler(em_node* parent, int mode)
{
    em_node* node =
        em_createmixnode(EMTAG_SAMPLERMIX, "em_initsampler: can't create node", "em_initsampler: can't allocate mix buffer");
    if (!node)
        return nullptr;
    node->process = em_mixtoparent;
    node->destroy = em_freenodedata;
    node->setparam = em_samplersetparam;
    node->getparam = em_samplergetparam;
    em_sampler* sm = static_cast<em_sampler*>(emio_calloc(1, sizeof(em_sampler), EMTAG_SAMPLER));
    if (!sm) {
        emio_error("em_initsampler: can't allocate sampler");
        em_destroynode(node);
        return nullptr;
    }
    sm->volume = 256;
    sm->pan = 0;
    sm->pitch = 0x10000;
    sm->flags = mode < 0 ? static_cast<uint32_t>(EMS_ONDEMAND) : 0u;
    node->data = sm;
    SDL_LockAudio();
    em_attachnode(node, parent);
    SDL_UnlockAudio();
    return node;
}

int em_playsampler(em_node* sampler, int sample)
{
    if (sample == 0) {
        emio_print("warning: em_playsampler tried to play sample zero\n");
        return 0;
    }
    const em_sampler* sm = static_cast<const em_sampler*>(sampler->data);
    if (!(sm->flags & EMS_ONDEMAND))
        return 0;
    const em_sample* entry = em_getsample(sample);
    if (!entry) {
        emio_print("warning: em_playsampler tried to play sample %d, which is not loaded\n", sample);
        return 0;
    }
    em_node* node = em_initschannel(sampler, 1);
    if (!node) {
        emio_print("warning: em_playsampler couldn't create chnode\n");
        return 0;
    }
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    ch->pan = sm->pan;
    ch->step = em_sar32(em_mul32(em_sar32(entry->step, 4), sm->pitch), 12);
    ch->volume = sm->volume;
    ch->sample = sample;
    ch->flags |= EMF_PLAYING;
    if (sm->flags & EMS_LOOP)
        ch->flags |= EMF_LOOP;
    em_attachnode(node, sampler);
    return node->handle;
}

int em_createsampler(int parent, int mode)
{
    if (emstate.inited != 1)
        return 0;
    SDL_LockAudio();
    em_node* up = em_getnode(parent);
    const em_node* node = up ? em_initsampler(up, mode) : nullptr;
    SDL_UnlockAudio();
    return node ? node->handle : 0;
}

int em_triggersample(int sampler, int sample)
{
    SDL_LockAudio();
    em_node* node = em_getnode(sampler);
    // Only a sampler's data can be read as a sampler.
    const int handle = em_issampler(node) ? em_playsampler(node, sample) : 0;
    SDL_UnlockAudio();
    return handle;
}
