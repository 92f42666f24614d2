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
        emvoicescratch = static_cast<int32_t*>(emio_calloc(2 * static_cast<uint32_t>(emstate.samples), sizeof(int32_t), EMTAG_VOICESCRATCH));
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

// n frames of v in place through the stage, in direct form I with the sum
// ordered so that only one product and one subtraction wait for the frame
// before; the coefficients step by step a frame (slide) and the share of the
// filtered sound by wetstep (fade: out = (1 - wet) x input + wet x filtered).
template <bool slide, bool fade> static void em_stagerun(em_voicestage* st, int32_t* v, int32_t n, const double* step, double wetstep)
{
    double c[5], h[2][4];
    memcpy(c, st->coef, sizeof(c));
    memcpy(h, st->hist, sizeof(h));
    double wet = st->wet;
    for (int32_t i = 0; i < n; i++) {
        if (slide)
            for (int k = 0; k < 5; k++)
                c[k] += step[k];
        if (fade)
            wet += wetstep;
        for (int side = 0; side < 2; side++) {
            double* m = h[side];
            const double x = v[2 * i + side];
            const double y = ((c[0] * x + c[1] * m[0]) + (c[2] * m[1] - c[4] * m[3])) - c[3] * m[2];
            m[1] = m[0], m[0] = x, m[3] = m[2], m[2] = y;
            v[2 * i + side] = em_fxround(fade ? (1.0 - wet) * x + wet * y : y);
        }
        if ((i + 1) % EM_VOICEFLUSH == 0 || i + 1 == n)
            for (double* m : h)
                for (int k = 2; k < 4; k++)
                    m[k] = std::fabs(m[k]) < EM_VOICEFLOOR ? 0.0 : m[k];
    }
    memcpy(st->coef, c, sizeof(c));
    memcpy(st->hist, h, sizeof(h));
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
        int32_t* at = v + 2 * done;
        if (pieces > 1)
            wetstep != 0.0 ? em_stagerun<true, true>(st, at, n, step, wetstep) : em_stagerun<true, false>(st, at, n, step, 0.0);
        else
            wetstep != 0.0 ? em_stagerun<false, true>(st, at, n, step, wetstep) : em_stagerun<false, false>(st, at, n, step, 0.0);
        if (pieces > 1)
            memcpy(st->coef, target, sizeof(target)); // each piece ends exactly on its design
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
