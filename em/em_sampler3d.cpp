// em_sampler3d.cpp -- positioned one-shot voices around a listener: distance
// fall-off, pan, Doppler step and an ear delay read with two heads
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "em/em_local.h"

enum {
    EMTAG_SAMPLER3DMIX = 940, // a sampler3d's mix buffer
    EMTAG_SAMPLER3D = 941,    // one em_sampler3d record
    EMTAG_S3CHANNEL = 942     // one em_s3channel record
};

// ---------------------------------------------------------------------------
// Vector operations
// ---------------------------------------------------------------------------

void em_vecset(em_vector* v, float x, float y, float z)
{
    v->x = x;
    v->y = y;
    v->z = z;
}

void em_veccopy(em_vector* to, const em_vector* from)
{
    *to = *from;
}

em_vector em_vecsub(const em_vector* a, const em_vector* b)
{
    return {a->x - b->x, a->y - b->y, a->z - b->z};
}

void em_vecaddscaled(em_vector* a, float s, const em_vector* b)
{
    a->x += s * b->x;
    a->y += s * b->y;
    a->z += s * b->z;
}

float em_vecdot(const em_vector* a, const em_vector* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

em_vector em_veccross(const em_vector* a, const em_vector* b)
{
    return {a->y * b->z - b->y * a->z, a->z * b->x - b->z * a->x, a->x * b->y - b->x * a->y};
}

float em_veclength(const em_vector* v)
{
    return std::sqrt(em_vecdot(v, v));
}

float em_vecnormalise(em_vector* v)
{
    const float length = em_veclength(v);
    // A zero vector has no direction: it stays zero instead of becoming NaN.
    if (length > 0.0f) {
        v->x /= length;
        v->y /= length;
        v->z /= length;
    }
    return length;
}

static em_vector em_vecfrom(const float* v)
{
    return {v[0], v[1], v[2]};
}

static void em_vecto(float* v, const em_vector* from)
{
    v[0] = from->x;
    v[1] = from->y;
    v[2] = from->z;
}

// ---------------------------------------------------------------------------
// Spatial target
// ---------------------------------------------------------------------------

static int32_t em_clamp64(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// Linear fall-off to 0 at maxdistance; nothing is inside a range of 0 or less,
// and a distance that is not a number is out of range.
static int32_t em_s3falloff(int32_t volume, float dist, float maxdistance)
{
    if (!(maxdistance > 0.0f) || !(dist < maxdistance))
        return 0;
    return em_ftoi(static_cast<float>(volume) * (1.0f - dist / maxdistance));
}

// Doppler step for base step s and radial speed vr (positive = receding),
// with fades to silence near the limits s / 8 and 8 s.
static void em_s3doppler(em_s3target* t, int32_t s, float vr, float c)
{
    const float rc = vr + c;
    if (c * 0.125f <= rc && rc <= c * 8.0f) {
        t->step = em_ftoi(static_cast<float>(s) * c / rc);
        const int64_t eighth = s / 8;
        if (t->step < s / 4)
            // With s below 8 an eighth is 0 and the step is already 0: silence.
            t->gain = eighth ? em_clamp64(t->gain * (t->step - eighth) / eighth) : 0;
        else if (t->step > static_cast<int64_t>(s) * 7)
            t->gain = em_clamp64(t->gain * (static_cast<int64_t>(s) * 8 - t->step) / s);
        return;
    }
    t->gain = 0;
    t->step = vr <= 0.0f ? em_clamp64(static_cast<int64_t>(s) * 8) : em_ftoi(static_cast<float>(s) * 0.125f);
}

// The sideways share of a direction. A normalised one lies within -1..1, up to
// rounding, and is used as it is; one that could not be normalised (a source
// at infinity, a coordinate that is not a number) counts as its sign, or as
// straight ahead, so no pan or delay grows without bound.
static float em_s3side(float x)
{
    if (!(x == x))
        return 0.0f;
    return x > 1.5f ? 1.0f : x < -1.5f ? -1.0f : x;
}

em_s3target em_s3spatial(const em_s3channel* ch)
{
    const em_sampler3d* l = ch->listener;
    em_s3target t = {};
    em_vector d = em_vecsub(&ch->position, &l->position);
    // Listener coordinates: x right, y up, z behind.
    em_vector local = {em_vecdot(&d, &l->right), em_vecdot(&d, &l->up), -em_vecdot(&d, &l->forward)};
    const float dist = em_vecnormalise(&local);
    // A source at the listener has no direction: it is heard centred, undelayed.
    t.gain = em_s3falloff(ch->volume, dist, ch->maxdistance);
    const float side = em_s3side(local.x);
    const int32_t pan = em_ftoi(side * 128.0f);
    t.pan = pan > 128 ? 128 : pan < -128 ? -128 : pan;
    em_vecnormalise(&d);
    const em_vector relative = em_vecsub(&ch->velocity, &l->velocity);
    const float vr = em_vecdot(&d, &relative);
    // A negative step would read before the sample: such a voice holds still.
    const int32_t s = ch->step < 0 ? 0 : ch->step;
    const float c = l->soundspeed;
    if (c == 0.0f || !std::isfinite(c)) {
        // No usable speed of sound: sound arrives at once, without Doppler or ear delay.
        t.step = s;
        return t;
    }
    // A negative speed of sound has no radial speed inside the Doppler range:
    // the voice is silent with its step pinned, as beyond the range.
    em_s3doppler(&t, s, vr, c);
    const float delay = static_cast<float>(emstate.freq) * side * l->eardistance / c;
    t.itd = em_ftoi(delay);
    t.offset = em_ftoi(static_cast<float>(t.step) * delay);
    return t;
}

// ---------------------------------------------------------------------------
// Mixing: two read heads gliding to the target over one buffer
// ---------------------------------------------------------------------------

static inline int64_t em_sar64(int64_t a, int n)
{
    return a >= 0 ? a >> n : ~(~a >> n);
}

// Slides a field towards its target in 16.16 increments per frame.
static inline void em_s3ramp(int32_t* field, int64_t* acc, int64_t inc)
{
    *acc += inc;
    const int64_t whole = *acc / 65536;
    *field = em_clamp64(*field + whole);
    *acc -= whole * 65536;
}

// One ear: read index, fraction, the per-frame correction of its step, the
// value in force and whether it has passed the end.
struct em_s3head {
    int32_t pos;
    int32_t frac;
    int64_t correction; // 16.16 added to the step each frame
    int32_t value;
    bool ended;
};

// A head put outside the sample from outside: wrapped when looping, else ended.
static void em_s3placehead(em_s3head* h, int32_t length, bool loop)
{
    if (h->pos < length)
        return;
    if (loop)
        h->pos %= length;
    else
        h->ended = true;
}

template <int channels> static inline int32_t em_s3value(const int32_t* data, int32_t pos)
{
    if (channels == 1)
        return data[pos];
    // A stereo sample is heard as its mono mix-down: a source is a point.
    return em_sar32(em_add32(data[2 * pos], data[2 * pos + 1]), 1);
}

// Reads the head's value (a head before the start keeps its last one), then
// advances it and tests the end.
template <int channels>
static inline void em_s3headframe(em_s3head* h, const int32_t* data, int32_t length, bool loop, int32_t step)
{
    if (h->ended)
        return;
    if (h->pos >= 0)
        h->value = em_s3value<channels>(data, h->pos);
    const int64_t acc = h->frac + static_cast<int64_t>(step) + h->correction;
    h->frac = static_cast<int32_t>(acc & 0xFFFF);
    h->pos = em_clamp64(h->pos + em_sar64(acc, 16));
    if (h->pos < length)
        return;
    if (loop) {
        h->pos -= length;
        if (h->pos >= length)
            h->pos %= length;
    } else {
        h->ended = true;
        h->value = 0;
    }
}

// The right head's lead over the left one in 16.16 sample frames. On a loop,
// a head that wrapped before the other counts a whole length ahead.
static int32_t em_s3lead(const em_s3head& l, const em_s3head& r, int32_t length, bool loop)
{
    int64_t frames = static_cast<int64_t>(r.pos) - l.pos;
    if (loop) {
        if (frames > length / 2)
            frames -= length;
        else if (frames < -(length / 2))
            frames += length;
    }
    return em_clamp64(frames * 65536 + (r.frac - l.frac));
}

// The glide of a field over one buffer: acc carries 16.16 steps of inc, and
// the field at frame f is from + trunc(f x inc / 65536) while em_s3ramp's
// clamp stays out of reach. Kept as one 16.16 word, biased so that an
// arithmetic shift truncates towards zero as the division does: the field
// is its top bits, one addition a frame moves it.
static inline int64_t em_s3glide(int32_t from, int64_t inc)
{
    return static_cast<int64_t>(from) * 65536 + (inc < 0 ? 65535 : 0);
}

static inline int32_t em_s3field(int64_t glide)
{
    return static_cast<int32_t>(em_sar64(glide, 16));
}

// Frames from the 16.16 place p (p >= 0) that a head moving by lo .. hi a
// frame can mix with every read at a place >= 0 and every advance short of
// limit: none of them needs the end test. At most left.
static inline int32_t em_s3runlength(int64_t p, int64_t limit, int64_t lo, int64_t hi, int32_t left)
{
    int64_t run = left;
    if (hi > 0) {
        const int64_t safe = (limit - 1 - p) / hi;
        run = safe < run ? safe : run;
    }
    if (lo < 0) {
        const int64_t safe = p / -lo + 1;
        run = safe < run ? safe : run;
    }
    return static_cast<int32_t>(run);
}

// A run of frames of both heads: no end, wrap or clamp can happen in it, so
// each frame reads, scales and adds. pl and pr are 16.16 places.
template <int channels>
static inline void em_s3run(int32_t* out, const int32_t* data, int32_t n, int64_t* pl, int64_t* pr, int64_t cl, int64_t cr,
                            int64_t* gs, int64_t* gg, int64_t* gp, int64_t stepinc, int64_t gaininc, int64_t paninc, int32_t* vl,
                            int32_t* vr)
{
    int64_t l = *pl, r = *pr, s = *gs, g = *gg, p = *gp;
    int32_t a = 0, b = 0;
    for (int32_t i = 0; i < n; i++) {
        const int32_t step = em_s3field(s), gain = em_s3field(g), pan = em_s3field(p);
        a = em_s3value<channels>(data, static_cast<int32_t>(l >> 16));
        b = em_s3value<channels>(data, static_cast<int32_t>(r >> 16));
        const int32_t lgain = em_sar32(em_mul32(gain, em_sub32(128, pan)), 8);
        const int32_t rgain = em_sar32(em_mul32(gain, em_add32(pan, 128)), 8);
        out[2 * i] = em_add32(out[2 * i], em_sar32(em_mul32(a, lgain), 8));
        out[2 * i + 1] = em_add32(out[2 * i + 1], em_sar32(em_mul32(b, rgain), 8));
        l += step + cl;
        r += step + cr;
        s += stepinc;
        g += gaininc;
        p += paninc;
    }
    *pl = l;
    *pr = r;
    *gs = s;
    *gg = g;
    *gp = p;
    *vl = a;
    *vr = b;
}

#if defined(__x86_64__)
// The run in eight lanes where the processor has AVX2, chosen once at
// start-up. Every lane value is a 32-bit word computed with wrapping sums and
// products and arithmetic shifts, each equal to the frame-by-frame value:
// - a glide's field at frame k is the top half of its 16.16 word; the lanes
//   hold it split as whole and 16-bit fraction, the carry moved by hand;
// - a head's place is kept relative to the frame it started the run on, the
//   steps summed across the lanes; the run is vectorised only where those
//   relative places stay within 31 bits, so the wrapping sums are exact.

// The lanes of a glide: fields of frames 0..7 and their fractions, and the
// advance of eight frames.
struct em_s3lanes {
    __m256i whole, frac, dwhole, dfrac;
};

__attribute__((target("avx2"))) static inline em_s3lanes em_s3glidelanes(int64_t glide, int64_t inc)
{
    alignas(32) int32_t w[8], fr[8];
    for (int k = 0; k < 8; k++) {
        const int64_t v = glide + k * inc;
        w[k] = static_cast<int32_t>(em_sar64(v, 16));
        fr[k] = static_cast<int32_t>(v & 0xFFFF);
    }
    const int64_t d = 8 * inc;
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(w)), _mm256_load_si256(reinterpret_cast<const __m256i*>(fr)),
            _mm256_set1_epi32(static_cast<int32_t>(em_sar64(d, 16))), _mm256_set1_epi32(static_cast<int32_t>(d & 0xFFFF))};
}

__attribute__((target("avx2"))) static inline void em_s3glidenext(em_s3lanes* g)
{
    const __m256i f = _mm256_add_epi32(g->frac, g->dfrac);
    g->whole = _mm256_add_epi32(_mm256_add_epi32(g->whole, g->dwhole), _mm256_srli_epi32(f, 16));
    g->frac = _mm256_and_si256(f, _mm256_set1_epi32(0xFFFF));
}

// The values of a head at eight 16.16 places relative to base: a head moving
// backwards reads before base, never before the sample.
template <int channels> __attribute__((target("avx2"))) static inline __m256i em_s3gather(const int32_t* base, __m256i place)
{
    const __m256i index = _mm256_srai_epi32(place, 16);
    if (channels == 1)
        return _mm256_i32gather_epi32(base, index, 4);
    const __m256i twice = _mm256_slli_epi32(index, 1);
    const __m256i a = _mm256_i32gather_epi32(base, twice, 4);
    const __m256i b = _mm256_i32gather_epi32(base + 1, twice, 4);
    return _mm256_srai_epi32(_mm256_add_epi32(a, b), 1);
}

template <int channels>
__attribute__((target("avx2"))) static void
em_s3runavx2(int32_t* out, const int32_t* data, int32_t n, int64_t* pl, int64_t* pr, int64_t cl, int64_t cr, int64_t* gs,
             int64_t* gg, int64_t* gp, int64_t stepinc, int64_t gaininc, int64_t paninc, int32_t* vl, int32_t* vr)
{
    int32_t i = 0;
    if (n >= 8) {
        // The largest advance of a frame, of either head, or of the step alone.
        const int64_t first = em_s3field(*gs), last = em_s3field(*gs + (n - 1) * stepinc);
        const int64_t lo = first < last ? first : last, hi = first < last ? last : first;
        const int64_t mc = (cl < 0 ? -cl : cl) > (cr < 0 ? -cr : cr) ? (cl < 0 ? -cl : cl) : (cr < 0 ? -cr : cr);
        const int64_t ms = (lo < 0 ? -lo : lo) > (hi < 0 ? -hi : hi) ? (lo < 0 ? -lo : lo) : (hi < 0 ? -hi : hi);
        if ((ms + mc) * (n + 8) + 65536 < (static_cast<int64_t>(1) << 31)) {
            const int64_t pl0 = em_sar64(*pl, 16), pr0 = em_sar64(*pr, 16);
            const int32_t* lbase = data + channels * pl0;
            const int32_t* rbase = data + channels * pr0;
            const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
            const __m256i kcl = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(static_cast<int32_t>(cl)));
            const __m256i kcr = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(static_cast<int32_t>(cr)));
            const __m256i ecl = _mm256_set1_epi32(static_cast<int32_t>(8 * cl)),
                          ecr = _mm256_set1_epi32(static_cast<int32_t>(8 * cr));
            __m256i ol = _mm256_set1_epi32(static_cast<int32_t>(*pl & 0xFFFF));
            __m256i orr = _mm256_set1_epi32(static_cast<int32_t>(*pr & 0xFFFF));
            em_s3lanes step = em_s3glidelanes(*gs, stepinc), gain = em_s3glidelanes(*gg, gaininc),
                       pan = em_s3glidelanes(*gp, paninc);
            const __m256i c128 = _mm256_set1_epi32(128);
            __m256i a = _mm256_setzero_si256(), b = _mm256_setzero_si256();
            for (; i + 8 <= n; i += 8) {
                // Steps summed over the frames before each lane, and over all eight.
                const __m256i st = step.whole;
                __m256i sum = _mm256_add_epi32(st, _mm256_slli_si256(st, 4));
                sum = _mm256_add_epi32(sum, _mm256_slli_si256(sum, 8));
                const __m256i half = _mm256_shuffle_epi32(sum, 0xFF);
                sum = _mm256_add_epi32(sum, _mm256_permute2x128_si256(half, half, 0x08));
                const __m256i total = _mm256_permutevar8x32_epi32(sum, _mm256_set1_epi32(7));
                const __m256i before = _mm256_sub_epi32(sum, st);
                a = em_s3gather<channels>(lbase, _mm256_add_epi32(_mm256_add_epi32(ol, before), kcl));
                b = em_s3gather<channels>(rbase, _mm256_add_epi32(_mm256_add_epi32(orr, before), kcr));
                ol = _mm256_add_epi32(ol, _mm256_add_epi32(total, ecl));
                orr = _mm256_add_epi32(orr, _mm256_add_epi32(total, ecr));
                const __m256i lgain = _mm256_srai_epi32(_mm256_mullo_epi32(gain.whole, _mm256_sub_epi32(c128, pan.whole)), 8);
                const __m256i rgain = _mm256_srai_epi32(_mm256_mullo_epi32(gain.whole, _mm256_add_epi32(pan.whole, c128)), 8);
                const __m256i l = _mm256_srai_epi32(_mm256_mullo_epi32(a, lgain), 8);
                const __m256i r = _mm256_srai_epi32(_mm256_mullo_epi32(b, rgain), 8);
                const __m256i x = _mm256_unpacklo_epi32(l, r), y = _mm256_unpackhi_epi32(l, r);
                __m256i* lo8 = reinterpret_cast<__m256i*>(out + 2 * i);
                __m256i* hi8 = reinterpret_cast<__m256i*>(out + 2 * i + 8);
                _mm256_storeu_si256(lo8, _mm256_add_epi32(_mm256_loadu_si256(lo8), _mm256_permute2x128_si256(x, y, 0x20)));
                _mm256_storeu_si256(hi8, _mm256_add_epi32(_mm256_loadu_si256(hi8), _mm256_permute2x128_si256(x, y, 0x31)));
                em_s3glidenext(&step);
                em_s3glidenext(&gain);
                em_s3glidenext(&pan);
            }
            *pl = pl0 * 65536 + _mm256_cvtsi256_si32(ol);
            *pr = pr0 * 65536 + _mm256_cvtsi256_si32(orr);
            *gs += i * stepinc;
            *gg += i * gaininc;
            *gp += i * paninc;
            *vl = _mm256_extract_epi32(a, 7);
            *vr = _mm256_extract_epi32(b, 7);
        }
    }
    if (i < n)
        em_s3run<channels>(out + 2 * i, data, n - i, pl, pr, cl, cr, gs, gg, gp, stepinc, gaininc, paninc, vl, vr);
}
#define EM_S3RUN(channels, ...) (em_usesimd() ? em_s3runavx2<channels>(__VA_ARGS__) : em_s3run<channels>(__VA_ARGS__))
#else
#define EM_S3RUN(channels, ...) em_s3run<channels>(__VA_ARGS__)
#endif

// The frame-by-frame form, for glides that em_s3ramp's clamp may stop.
template <int channels>
static void em_mixs3frames(em_s3head* left, em_s3head* right, const int32_t* data, int32_t length, bool loop, int32_t* out,
                           int32_t n, int32_t step, int32_t gain, int32_t pan, int64_t stepinc, int64_t gaininc, int64_t paninc)
{
    int64_t stepacc = 0, gainacc = 0, panacc = 0;
    for (int32_t f = 0; f < n && !(left->ended && right->ended); f++) {
        em_s3headframe<channels>(left, data, length, loop, step);
        em_s3headframe<channels>(right, data, length, loop, step);
        const int32_t lgain = em_sar32(em_mul32(gain, em_sub32(128, pan)), 8);
        const int32_t rgain = em_sar32(em_mul32(gain, em_add32(pan, 128)), 8);
        em_s3ramp(&step, &stepacc, stepinc);
        em_s3ramp(&gain, &gainacc, gaininc);
        em_s3ramp(&pan, &panacc, paninc);
        out[2 * f] = em_add32(out[2 * f], em_sar32(em_mul32(left->value, lgain), 8));
        out[2 * f + 1] = em_add32(out[2 * f + 1], em_sar32(em_mul32(right->value, rgain), 8));
    }
}

// The same frames cut into runs that cannot reach the end: a frame where a
// head is outside the sample or may reach the end goes frame by frame.
template <int channels>
static void em_mixs3runs(em_s3head* left, em_s3head* right, const int32_t* data, int32_t length, bool loop, int32_t* out,
                         int32_t n, int32_t step, int32_t gain, int32_t pan, int64_t stepinc, int64_t gaininc, int64_t paninc)
{
    int64_t gs = em_s3glide(step, stepinc), gg = em_s3glide(gain, gaininc), gp = em_s3glide(pan, paninc);
    // The steps of the buffer lie between the first and the last frame's.
    const int32_t laststep = em_s3field(gs + (n - 1) * stepinc);
    const int64_t limit = static_cast<int64_t>(length) * 65536;
    for (int32_t f = 0; f < n && !(left->ended && right->ended);) {
        const int32_t now = em_s3field(gs);
        if (!left->ended && !right->ended && left->pos >= 0 && right->pos >= 0) {
            const int64_t lo = now < laststep ? now : laststep, hi = now < laststep ? laststep : now;
            int64_t pl = static_cast<int64_t>(left->pos) * 65536 + left->frac;
            int64_t pr = static_cast<int64_t>(right->pos) * 65536 + right->frac;
            int32_t run = em_s3runlength(pl, limit, lo + left->correction, hi + left->correction, n - f);
            run = em_s3runlength(pr, limit, lo + right->correction, hi + right->correction, run);
            if (run > 0) {
                EM_S3RUN(channels, out + 2 * f, data, run, &pl, &pr, left->correction, right->correction, &gs, &gg, &gp, stepinc,
                         gaininc, paninc, &left->value, &right->value);
                left->pos = static_cast<int32_t>(em_sar64(pl, 16));
                left->frac = static_cast<int32_t>(pl & 0xFFFF);
                right->pos = static_cast<int32_t>(em_sar64(pr, 16));
                right->frac = static_cast<int32_t>(pr & 0xFFFF);
                f += run;
                continue;
            }
        }
        em_s3headframe<channels>(left, data, length, loop, now);
        em_s3headframe<channels>(right, data, length, loop, now);
        const int32_t g = em_s3field(gg), p = em_s3field(gp);
        const int32_t lgain = em_sar32(em_mul32(g, em_sub32(128, p)), 8);
        const int32_t rgain = em_sar32(em_mul32(g, em_add32(p, 128)), 8);
        gs += stepinc;
        gg += gaininc;
        gp += paninc;
        out[2 * f] = em_add32(out[2 * f], em_sar32(em_mul32(left->value, lgain), 8));
        out[2 * f + 1] = em_add32(out[2 * f + 1], em_sar32(em_mul32(right->value, rgain), 8));
        f++;
    }
}

template <int channels> static int em_mixs3(em_s3channel* ch, const em_sample* s, int32_t* out, int32_t n)
{
    const em_s3target t = em_s3spatial(ch);
    const int32_t* data = s->data;
    const int32_t length = s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    // Per-frame increments, 16.16; large step changes divide in eighths.
    const int64_t e = static_cast<int64_t>(t.step) - ch->curstep;
    const int64_t stepinc = (e > -32768 && e < 32768) || n / 8 == 0 ? e * 65536 / n : e * 8192 / (n / 8);
    const int64_t paninc = (static_cast<int64_t>(t.pan) - ch->curpan) * 65536 / n;
    const int64_t gaininc = (static_cast<int64_t>(t.gain) - ch->curgain) * 65536 / n;
    // The heads drift apart (or together) by the change of offset, half each.
    const int64_t drift = (static_cast<int64_t>(t.offset) - ch->offset) / (2 * static_cast<int64_t>(n));
    em_s3head left = {ch->posl, ch->fracl, -drift, 0, false};
    em_s3head right = {ch->posr, ch->fracr, drift, 0, false};
    em_s3placehead(&left, length, loop);
    em_s3placehead(&right, length, loop);
    // Gain and pan glide between two 32-bit values and never meet the clamp;
    // a step glide in eighths may overshoot its target and meet it.
    const int64_t laststep = static_cast<int64_t>(ch->curstep) + (n - 1) * stepinc / 65536;
    if (laststep >= INT32_MIN && laststep <= INT32_MAX)
        em_mixs3runs<channels>(&left, &right, data, length, loop, out, n, ch->curstep, ch->curgain, ch->curpan, stepinc, gaininc,
                               paninc);
    else
        em_mixs3frames<channels>(&left, &right, data, length, loop, out, n, ch->curstep, ch->curgain, ch->curpan, stepinc,
                                 gaininc, paninc);
    if (stepinc != 0)
        ch->curstep = t.step;
    if (paninc != 0)
        ch->curpan = t.pan;
    if (gaininc != 0)
        ch->curgain = t.gain;
    ch->posl = left.pos;
    ch->fracl = left.frac;
    ch->posr = right.pos;
    ch->fracr = right.frac;
    ch->offset = em_s3lead(left, right, length, loop);
    // Heads that stand still have no delay in frames: the geometry's stands.
    ch->itd = ch->curstep != 0 ? em_div32(ch->offset, ch->curstep) : t.itd;
    return (left.ended ? 1 : 0) | (right.ended ? 2 : 0);
}

int em_mixs3channel(em_s3channel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    if (frames <= 0)
        return 0;
    return s->channels == 2 ? em_mixs3<2>(ch, s, out, frames) : em_mixs3<1>(ch, s, out, frames);
}

// ---------------------------------------------------------------------------
// Voice node
// ---------------------------------------------------------------------------

static void em_s3channelprocess(em_node* node)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    if (!(ch->flags & EMF_PLAYING))
        return;
    if (ch->flags & EMF_MOVING) {
        const float seconds = static_cast<float>(emstate.samples) * 1.0f / static_cast<float>(emstate.freq);
        em_vecaddscaled(&ch->position, seconds, &ch->velocity);
    }
    // The listener is the parent 3-D sampler's: a voice moved under another one
    // hears that one's listener, and a voice moved anywhere else stays silent, so
    // it never reads the record of a 3-D sampler destroyed after it left.
    if (!node->parent || !em_issampler3d(node->parent))
        return;
    ch->listener = static_cast<em_sampler3d*>(node->parent->data);
    int32_t* out = node->parent->mixbuf;
    if (!out)
        return;
    // A sample freed or never loaded ends the voice instead of being read.
    const em_sample* s = em_getsample(ch->sample);
    int ended = 3;
    if (s && s->data && s->length > 0)
        ended = em_mixs3channel(ch, s, out, emstate.samples);
    if (!ended)
        return;
    if (ch->flags & EMF_AUTOFREE)
        em_destroynode(node);
    else
        ch->flags &= ~static_cast<uint32_t>(EMF_PLAYING);
}

static int em_s3channelsetparam(em_node* node, int id, int32_t value)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    switch (id) {
    case EMP_VOLUME: ch->volume = value; return 0;
    case EMP_PITCH: ch->step = value; return 0;
    case EMP_FLAGS: ch->flags = static_cast<uint32_t>(value); return 0;
    case EMP_SAMPLE: ch->sample = value; return 0;
    case EMP_POSITION:
        // Both heads on one frame; the offset in force stays, so the next
        // buffer walks the heads from the offset they had to the new one.
        ch->posl = ch->posr = value;
        ch->fracl = ch->fracr = 0;
        ch->itd = 0;
        return 0;
    default: return -1; // EMP_PAN and EMP_STATE included: both are computed
    }
}

static int em_s3channelgetparam(em_node* node, int id)
{
    const em_s3channel* ch = static_cast<const em_s3channel*>(node->data);
    switch (id) {
    case EMP_VOLUME: return ch->volume;
    case EMP_PITCH: return ch->step;
    case EMP_FLAGS: return static_cast<int>(ch->flags);
    case EMP_SAMPLE: return ch->sample;
    case EMP_POSITION: return ch->posl;
    case EMP_STATE: return (ch->flags & EMF_PLAYING) ? 3 : ch->sample != 0 ? 1 : 0;
    default: return -1;
    }
}

static int em_s3channelsetparamv(em_node* node, int id, const float* v)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    switch (id) {
    case EMP_POSITION3D:
    case EMP_POSITION3DB: ch->position = em_vecfrom(v); return 0;
    case EMP_VELOCITY3D:
    case EMP_VELOCITY3DB: ch->velocity = em_vecfrom(v); return 0;
    default: return -1;
    }
}

static int em_s3channelgetparamv(em_node* node, int id, float* v)
{
    const em_s3channel* ch = static_cast<const em_s3channel*>(node->data);
    switch (id) {
    case EMP_POSITION3D:
    case EMP_POSITION3DB: em_vecto(v, &ch->position); return 0;
    case EMP_VELOCITY3D:
    case EMP_VELOCITY3DB: em_vecto(v, &ch->velocity); return 0;
    default: return -1;
    }
}

em_node* em_inits3channel(em_node* sampler3d, int autofree)
{
    // Only a sampler3d holds a listener a voice can be placed around.
    if (!em_issampler3d(sampler3d)) {
        emio_error("em_inits3channel: not a sampler3d");
        return nullptr;
    }
    em_node* node = em_createnode(nullptr);
    if (!node) {
        emio_error("em_inits3channel: can't create node");
        return nullptr;
    }
    node->process = em_s3channelprocess;
    node->destroy = em_freenodedata;
    node->setparam = em_s3channelsetparam;
    node->getparam = em_s3channelgetparam;
    node->setparamv = em_s3channelsetparamv;
    node->getparamv = em_s3channelgetparamv;
    em_s3channel* ch = static_cast<em_s3channel*>(emio_calloc(1, sizeof(em_s3channel), EMTAG_S3CHANNEL));
    if (!ch) {
        emio_error("em_inits3channel: can't allocate s3channel");
        em_destroynode(node);
        return nullptr;
    }
    ch->listener = static_cast<em_sampler3d*>(sampler3d->data);
    ch->volume = 256;
    ch->step = 0x10000;
    ch->curgain = 256;
    ch->curstep = 0x10000;
    ch->flags = ch->listener->flags | (autofree ? static_cast<uint32_t>(EMF_AUTOFREE) : 0u);
    node->data = ch;
    return node;
}

// ---------------------------------------------------------------------------
// Sampler3d node
// ---------------------------------------------------------------------------

static int em_sampler3dsetparam(em_node* node, int id, int32_t value)
{
    em_sampler3d* l = static_cast<em_sampler3d*>(node->data);
    switch (id) {
    case EMP_VOLUME: node->volume = value; return 0;
    case EMP_DEFVOLUME: l->volume = value; return 0;
    case EMP_DEFPITCH: l->pitch = value; return 0;
    case EMP_DEFFLAGS: l->flags = static_cast<uint32_t>(value); return 0;
    default: return -1;
    }
}

static int em_sampler3dgetparam(em_node* node, int id)
{
    const em_sampler3d* l = static_cast<const em_sampler3d*>(node->data);
    switch (id) {
    case EMP_VOLUME: return node->volume;
    case EMP_STATE: return 3;
    case EMP_DEFVOLUME: return l->volume;
    case EMP_DEFPITCH: return l->pitch;
    case EMP_DEFFLAGS: return static_cast<int>(l->flags);
    default: return -1;
    }
}

static int em_sampler3dsetparamf(em_node* node, int id, float value)
{
    em_sampler3d* l = static_cast<em_sampler3d*>(node->data);
    switch (id) {
    case EMP_3DSCALE: l->soundspeed = value; return 0;
    case EMP_3DFACTOR: l->eardistance = value; return 0;
    default: return -1;
    }
}

static float em_sampler3dgetparamf(em_node* node, int id)
{
    const em_sampler3d* l = static_cast<const em_sampler3d*>(node->data);
    switch (id) {
    case EMP_3DSCALE: return l->soundspeed;
    case EMP_3DFACTOR: return l->eardistance;
    default: return -1.0f;
    }
}

// The orientation vectors are stored as given; the cross products keep the
// other axes at right angles without normalising anything.
static int em_sampler3dsetparamv(em_node* node, int id, const float* v)
{
    em_sampler3d* l = static_cast<em_sampler3d*>(node->data);
    switch (id) {
    case EMP_POSITION3D: l->position = em_vecfrom(v); return 0;
    case EMP_VELOCITY3D: l->velocity = em_vecfrom(v); return 0;
    case EMP_FORWARD3D:
        l->forward = em_vecfrom(v);
        l->right = em_veccross(&l->forward, &l->up);
        return 0;
    case EMP_RIGHT3D:
        l->right = em_vecfrom(v);
        l->up = em_veccross(&l->right, &l->forward);
        return 0;
    case EMP_UP3D:
        l->up = em_vecfrom(v);
        l->right = em_veccross(&l->forward, &l->up);
        return 0;
    case EMP_POSITION3DB: l->srcposition = em_vecfrom(v); return 0;
    case EMP_VELOCITY3DB: l->srcvelocity = em_vecfrom(v); return 0;
    default: return -1;
    }
}

static int em_sampler3dgetparamv(em_node* node, int id, float* v)
{
    const em_sampler3d* l = static_cast<const em_sampler3d*>(node->data);
    const em_vector* from;
    switch (id) {
    case EMP_POSITION3D: from = &l->position; break;
    case EMP_VELOCITY3D: from = &l->velocity; break;
    case EMP_FORWARD3D: from = &l->forward; break;
    case EMP_RIGHT3D: from = &l->right; break;
    case EMP_UP3D: from = &l->up; break;
    case EMP_POSITION3DB: from = &l->srcposition; break;
    case EMP_VELOCITY3DB: from = &l->srcvelocity; break;
    default: return -1;
    }
    em_vecto(v, from);
    return 0;
}

int em_issampler3d(const em_node* node)
{
    return node && node->setparam == em_sampler3dsetparam && node->data ? 1 : 0;
}

em_node* em_initsampler3d(em_node* parent, int mode)
{
    em_node* node =
        em_createmixnode(EMTAG_SAMPLER3DMIX, "em_initsampler: can't create node", "em_initsampler32: can't allocate mix buffer");
    if (!node)
        return nullptr;
    node->process = em_mixtoparent;
    node->destroy = em_freenodedata;
    node->setparam = em_sampler3dsetparam;
    node->getparam = em_sampler3dgetparam;
    node->setparamf = em_sampler3dsetparamf;
    node->getparamf = em_sampler3dgetparamf;
    node->setparamv = em_sampler3dsetparamv;
    node->getparamv = em_sampler3dgetparamv;
    em_sampler3d* l = static_cast<em_sampler3d*>(emio_calloc(1, sizeof(em_sampler3d), EMTAG_SAMPLER3D));
    if (!l) {
        emio_error("em_initsampler3d: can't allocate sampler");
        em_destroynode(node);
        return nullptr;
    }
    l->ondemand = mode < 0 ? 1 : 0;
    l->soundspeed = 340.0f;
    l->eardistance = 0.2f;
    em_vecset(&l->forward, 0.0f, 0.0f, -1.0f);
    em_vecset(&l->right, 1.0f, 0.0f, 0.0f);
    em_vecset(&l->up, 0.0f, 1.0f, 0.0f);
    l->volume = 256;
    l->pitch = 0x10000;
    l->maxdistance = 256.0f;
    em_vecset(&l->srcposition, 0.0f, 0.0f, -10.0f);
    node->data = l;
    SDL_LockAudio();
    em_attachnode(node, parent);
    SDL_UnlockAudio();
    return node;
}

int em_playsampler3d(em_node* sampler3d, int sample)
{
    if (sample == 0) {
        emio_print("warning: em_playsampler3d tried to play sample zero\n");
        return 0;
    }
    if (!em_issampler3d(sampler3d))
        return 0;
    const em_sampler3d* l = static_cast<const em_sampler3d*>(sampler3d->data);
    if (!l->ondemand)
        return 0;
    const em_sample* entry = em_getsample(sample);
    if (!entry) {
        emio_print("warning: em_playsampler3d tried to play sample %d, which is not loaded\n", sample);
        return 0;
    }
    em_node* node = em_inits3channel(sampler3d, 1);
    if (!node) {
        emio_print("warning: em_playsampler3d couldn't create chnode\n");
        return 0;
    }
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    ch->step = em_sar32(em_mul32(em_sar32(entry->step, 4), l->pitch), 12);
    ch->volume = l->volume;
    ch->sample = sample;
    ch->flags |= EMF_PLAYING;
    ch->maxdistance = l->maxdistance;
    ch->position = l->srcposition;
    ch->velocity = l->srcvelocity;
    // The first target is taken as the state in force: no glide from nothing.
    const em_s3target t = em_s3spatial(ch);
    ch->curstep = t.step;
    ch->curpan = t.pan;
    ch->itd = t.itd;
    ch->curgain = t.gain;
    ch->offset = t.offset;
    // The far ear starts behind, at a negative index.
    if (ch->itd >= 0)
        ch->posl -= em_sar32(ch->offset, 16);
    else
        ch->posr += em_sar32(ch->offset, 16);
    em_attachnode(node, sampler3d);
    return node->handle;
}

int em_createsampler3d(int parent, int mode)
{
    if (emstate.inited != 1)
        return 0;
    SDL_LockAudio();
    em_node* up = em_getnode(parent);
    const em_node* node = up ? em_initsampler3d(up, mode) : nullptr;
    SDL_UnlockAudio();
    return node ? node->handle : 0;
}

int em_triggersample3d(int sampler3d, int sample)
{
    SDL_LockAudio();
    em_node* node = em_getnode(sampler3d);
    const int handle = node ? em_playsampler3d(node, sample) : 0;
    SDL_UnlockAudio();
    return handle;
}
