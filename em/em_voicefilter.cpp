// em_voicefilter.cpp -- a voice's own low-pass and high-pass (occlusion): the
// voice mixes into a scratch buffer that passes through its filters, the
// cookbook's Butterworth biquads, on its way into its node's buffer
#include <cmath>
#include <cstring>

#include "em/em_local.h"

enum {
    EMTAG_VOICESCRATCH = 933 // the filtered voices' scratch buffer
};

// Quality of both stages: 1/sqrt(2), the maximally flat (Butterworth) response.
static const double EM_VOICEQ = 0.70710678118654752;
// The filters' memory is set to 0 below this (1/1024 of the 16-bit step) every
// EM_VOICEFLUSH frames: a tail ends in exact zero and, as no pole lies inside
// radius 0.41, nothing reaches the denormal floats in between.
static const double EM_VOICEFLOOR = 1.0 / 1024.0;
static const int32_t EM_VOICEFLUSH = 64;

// samples x 2 words, taken with the first filter set on any voice and kept
// until the engine stops: voices are mixed one after another, so one serves all.
static int32_t* emvoicescratch;

void em_freevoicescratch()
{
    if (emvoicescratch)
        emio_free(emvoicescratch);
    emvoicescratch = nullptr;
}

int em_setvoicefilter(em_voicefilter* vf, int id, float value)
{
    const int k = id == EMP_LOWPASS ? 0 : id == EMP_HIGHPASS ? 1 : -1;
    if (k < 0 || !std::isfinite(value) || value < 0.0f || (value > 0.0f && value < 1.0f) ||
        value > static_cast<float>(emstate.freq) / 2.0f)
        return -1;
    if (value > 0.0f && !emvoicescratch) {
        emvoicescratch =
            static_cast<int32_t*>(emio_calloc(2 * static_cast<uint32_t>(emstate.samples), sizeof(int32_t), EMTAG_VOICESCRATCH));
        if (!emvoicescratch) {
            emio_error("em_setparamf: can't allocate the voice filters' buffer");
            return -1;
        }
    }
    vf->cutoff[k] = value;
    return 0;
}

float em_getvoicefilter(const em_voicefilter* vf, int id)
{
    return id == EMP_LOWPASS ? vf->cutoff[0] : id == EMP_HIGHPASS ? vf->cutoff[1] : -1.0f;
}

// A stage runs while it is set or still fading out.
static bool em_stageruns(const em_voicefilter* vf, int k)
{
    return vf->cutoff[k] > 0.0f || vf->stage[k].wet > 0.0;
}

int32_t* em_voicemixbuffer(em_voicefilter* vf, int32_t* out)
{
    if (!em_stageruns(vf, 0) && !em_stageruns(vf, 1))
        return out;
    memset(emvoicescratch, 0, sizeof(int32_t) * 2 * static_cast<size_t>(emstate.samples));
    return emvoicescratch;
}

// Both sides of a frame at once, left and right: the compiler keeps them in
// one vector register where the processor has them.
typedef double em_pair __attribute__((vector_size(16)));

// The memory of both sides: x[n-1], x[n-2], y[n-1], y[n-2].
struct em_stagememory {
    em_pair x1, x2, y1, y2;
};

// Adding 1.5 x 2^52 to a value within 2^51 leaves its nearest integer (halves to
// even) in the low bits of the sum; the low 32 are the mix value, wrapping as
// the mixer's sums do. The filters' output stays far inside that range.
static const double EM_ROUNDER = 6755399441055744.0;

static inline void em_putpair(int32_t* v, em_pair y)
{
    const em_pair r = y + EM_ROUNDER;
    uint64_t bits[2];
    memcpy(bits, &r, sizeof(bits));
    v[0] = em_wrap(static_cast<uint32_t>(bits[0]));
    v[1] = em_wrap(static_cast<uint32_t>(bits[1]));
}

// The filtered frame of x, the memory moved on. The sum is ordered so that only
// one product and one subtraction wait for the frame before.
static inline em_pair em_stagestep(const double* c, em_stagememory* m, em_pair x)
{
    const em_pair y = ((c[0] * x + c[1] * m->x1) + (c[2] * m->x2 - c[4] * m->y2)) - c[3] * m->y1;
    m->x2 = m->x1, m->x1 = x, m->y2 = m->y1, m->y1 = y;
    return y;
}

// Frames from..end of v (as many whole pairs as there are) through steady
// coefficients, two frames at a time, each pair from the two frames before it:
// y[n+1] = (u[n+1] - a1 u[n]) + (a1 a1 - a2) y[n-1] + a1 a2 y[n-2], u being
// the feed-forward sum; so one product and one sum wait for the pair before,
// half the wait a frame of em_stagestep. The frame after the last pair.
static int32_t em_stagepairs(const double* c, em_stagememory* m, int32_t* v, int32_t from, int32_t end)
{
    const double e1 = c[3] * c[3] - c[4], e2 = c[3] * c[4];
    int32_t i = from;
    for (; i + 1 < end; i += 2) {
        const em_pair x0 = {static_cast<double>(v[2 * i]), static_cast<double>(v[2 * i + 1])};
        const em_pair x1 = {static_cast<double>(v[2 * i + 2]), static_cast<double>(v[2 * i + 3])};
        const em_pair u0 = (c[0] * x0 + c[1] * m->x1) + c[2] * m->x2;
        const em_pair u1 = (c[0] * x1 + c[1] * x0) + c[2] * m->x1;
        const em_pair y0 = (u0 - c[4] * m->y2) - c[3] * m->y1;
        const em_pair y1 = ((u1 - c[3] * u0) + e2 * m->y2) + e1 * m->y1;
        m->x2 = x0, m->x1 = x1, m->y2 = y0, m->y1 = y1;
        em_putpair(v + 2 * i, y0);
        em_putpair(v + 2 * i + 2, y1);
    }
    return i;
}

static inline double em_flushed(double v)
{
    return std::fabs(v) < EM_VOICEFLOOR ? 0.0 : v;
}

// n frames of v in place through the stage, its memory in locals; the
// coefficients step by step a frame (slide) and the share of the filtered
// sound by wetstep (fade: out = (1 - wet) x input + wet x filtered).
template <bool slide, bool fade>
static void em_stagerun(em_voicestage* st, int32_t* v, int32_t n, const double* step, double wetstep)
{
    double c[5];
    memcpy(c, st->coef, sizeof(c));
    double(*h)[4] = st->hist;
    em_stagememory m = {{h[0][0], h[1][0]}, {h[0][1], h[1][1]}, {h[0][2], h[1][2]}, {h[0][3], h[1][3]}};
    double wet = st->wet;
    for (int32_t done = 0; done < n;) {
        const int32_t end = n - done < EM_VOICEFLUSH ? n : done + EM_VOICEFLUSH;
        int32_t i = done;
        if (!slide && !fade)
            i = em_stagepairs(c, &m, v, i, end);
        for (; i < end; i++) {
            if (slide)
                for (int k = 0; k < 5; k++)
                    c[k] += step[k];
            const em_pair x = {static_cast<double>(v[2 * i]), static_cast<double>(v[2 * i + 1])};
            const em_pair y = em_stagestep(c, &m, x);
            if (fade)
                wet += wetstep;
            em_putpair(v + 2 * i, fade ? (1.0 - wet) * x + wet * y : y);
        }
        for (int side = 0; side < 2; side++)
            m.y1[side] = em_flushed(m.y1[side]), m.y2[side] = em_flushed(m.y2[side]);
        done = end;
    }
    memcpy(st->coef, c, sizeof(c));
    for (int side = 0; side < 2; side++)
        h[side][0] = m.x1[side], h[side][1] = m.x2[side], h[side][2] = m.y1[side], h[side][3] = m.y2[side];
    st->wet = wet;
}

// One buffer of v through a stage gliding to the shape to and the share wet
// (1 set, 0 switched off). A stage switched on starts from silence at its
// shape and fades in over the buffer, one switched off fades out at the shape
// in force; a moving cutoff goes in pieces as the filter effect's does. settle:
// nothing was heard yet, the stage takes its settings at once.
static void em_runstage(em_voicestage* st, const em_filtershape& to, double wet, int32_t* v, int32_t frames, bool settle)
{
    if (settle || st->wet == 0.0) {
        st->shape = to;
        em_designfilter(to, st->coef);
        memset(st->hist, 0, sizeof(st->hist));
        st->wet = settle ? wet : 0.0;
    }
    const em_filtershape from = st->shape;
    const int32_t pieces = em_filterpieces(from, to, frames);
    const double wetstep = (wet - st->wet) / frames;
    double target[5], step[5] = {};
    for (int32_t k = 0, done = 0; k < pieces; k++) {
        const int32_t n = k < pieces - 1 ? frames / pieces : frames - done;
        if (pieces > 1) {
            em_designfilter(em_filterpiece(from, to, k, pieces), target);
            for (int c = 0; c < 5; c++)
                step[c] = (target[c] - st->coef[c]) / n;
        }
        // Only a stage that stays on moves its corner, so a stage fades or
        // slides, never both.
        int32_t* at = v + 2 * done;
        if (pieces > 1)
            em_stagerun<true, false>(st, at, n, step, 0.0), memcpy(st->coef, target, sizeof(target)); // ends on its design
        else if (wetstep != 0.0)
            em_stagerun<false, true>(st, at, n, step, wetstep);
        else
            em_stagerun<false, false>(st, at, n, step, 0.0);
        done += n;
    }
    st->shape = to;
    st->wet = wet;
    if (wet == 0.0)
        memset(st->hist, 0, sizeof(st->hist));
}

void em_filtervoice(em_voicefilter* vf, int32_t* out)
{
    const bool settle = !vf->heard;
    vf->heard = 1;
    if (!em_stageruns(vf, 0) && !em_stageruns(vf, 1))
        return;
    const int32_t frames = emstate.samples;
    for (int k = 0; k < 2; k++) {
        if (!em_stageruns(vf, k))
            continue;
        const float cutoff = vf->cutoff[k];
        const em_filtershape shape = {k ? EMFT_HIGHPASS : EMFT_LOWPASS, cutoff, EM_VOICEQ, 0.0};
        em_runstage(&vf->stage[k], cutoff > 0.0f ? shape : vf->stage[k].shape, cutoff > 0.0f ? 1.0 : 0.0, emvoicescratch, frames,
                    settle);
    }
    for (int32_t i = 0; i < 2 * frames; i++)
        out[i] = em_add32(out[i], emvoicescratch[i]);
}
