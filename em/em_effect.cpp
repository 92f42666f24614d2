// em_effect.cpp -- effect nodes: children mix into the node's buffer, which passes
// through a biquad filter, an echo line or a comb and all-pass reverb on its way
// to the parent, output = dry x input + wet x effect
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "em/em_local.h"

enum {
    EMTAG_EFFECTMIX = 970, // an effect node's mix buffer
    EMTAG_EFFECT = 971,    // one em_effect record
    EMTAG_EFFECTLINE = 972 // an effect's delay lines
};

enum {
    EM_COMBS = 8,     // parallel damped feedback combs per side
    EM_ALLPASSES = 4, // series all-passes per side
    EM_ECHOMS = 2000  // the longest echo delay, ms
};

// Magnitudes below this (1/1024 of the 16-bit step) in a feedback path are set to
// 0: tails end in exact zero in finite time and never reach denormal floats.
static const float EM_FXFLOOR = 1.0f / 1024.0f;

// Line lengths in frames at 44100 Hz, each prime so that the combs' echoes
// rarely coincide; the right side's lines are EM_STEREOSPREAD frames longer.
static const int32_t em_comblengths[EM_COMBS] = {1117, 1187, 1277, 1361, 1423, 1493, 1559, 1619};
static const int32_t em_allpasslengths[EM_ALLPASSES] = {557, 443, 347, 227};
static const int32_t EM_STEREOSPREAD = 23;
static const double EM_REVERBIN = 0.015; // input gain into the combs (the mono sum of both sides)
static const float EM_ALLPASSGAIN = 0.5f;
static const int32_t EM_FILTERPIECE = 16; // frames a filter's coefficients slide straight while a setting glides

// A feedback comb whose loop passes a one-pole low-pass (the damping).
struct em_comb {
    float* line;
    int32_t length, pos;
    float store; // the low-pass's state
};

// A Schroeder all-pass: w = x + g w[n - M], y = w[n - M] - g w.
struct em_allpass {
    float* line;
    int32_t length, pos;
};

// Dry and wet gains (1 = unity), or their steps over a frame while they glide.
struct em_fxmix {
    double dry, wet;
};

struct em_effect {
    int32_t kind;  // EMX_*
    int32_t heard; // 1 once a buffer went through: from then on changes glide
    // The parameters as set (em.h gives units and ranges).
    int32_t filtertype;
    float frequency, q, gaindb, delayms, feedback, wet, dry, roomsize, damping, width;
    em_fxmix now; // gains in force; each buffer glides them to wet and dry
    // Filter: the shape in force, its coefficients b0 b1 b2 a1 a2 (a0 = 1).
    em_filtershape shape;
    double coef[5];
    double hist[2][4]; // per side: x[n-1], x[n-2], y[n-1], y[n-2]
    float* lines;      // every delay line of the node in one block (the echo's, or the reverb's and its scratch)
    // Echo: one line per side of linelength frames, the frame written next, the delay in frames (1..linelength - 1).
    int32_t linelength, pos, delay;
    // Reverb
    em_comb combs[2][EM_COMBS];
    em_allpass allpasses[2][EM_ALLPASSES];
    float* scratch;               // the combs' input and each side's output, a buffer each
    float combfeedback, combdamp; // from room size and damping
    double wide, cross;           // each side's own share and the other's, from the width
};

// ---------------------------------------------------------------------------
// Shared arithmetic
// ---------------------------------------------------------------------------

static inline float em_fxflush(float v)
{
    return std::fabs(v) < EM_FXFLOOR ? 0.0f : v;
}
static inline double em_fxflush(double v)
{
    return std::fabs(v) < EM_FXFLOOR ? 0.0 : v;
}

// Output = dry x input + wet x effect. With dry 1 and wet 0 it is the input exactly:
// every mix value is exact in a double.
static inline int32_t em_fxout(int32_t input, double effect, double dry, double wet)
{
    return em_fxround(dry * static_cast<double>(input) + wet * effect);
}

// The per-frame steps that take the gains in force to the set ones over frames
// frames; a gain that does not change steps by exactly 0.
static em_fxmix em_fxglide(const em_effect* fx, int32_t frames)
{
    return {(fx->dry - fx->now.dry) / frames, (fx->wet - fx->now.wet) / frames};
}

// ---------------------------------------------------------------------------
// Filter: a biquad designed by the audio cookbook's formulas
// ---------------------------------------------------------------------------

// Coefficients b0 b1 b2 a1 a2 (a0 = 1) of a shape at frequency f (Hz), quality q
// and gain (dB).
void em_designfilter(const em_filtershape& p, double* d)
{
    const double rate = emstate.freq;
    // A corner at the very Nyquist frequency would put both poles on the unit
    // circle; designs stop just below it.
    const double w0 = 2.0 * M_PI * std::fmin(p.frequency, 0.499 * rate) / rate;
    const double c = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * p.q);
    const double a = std::pow(10.0, p.gaindb / 40.0);
    const double beta = 2.0 * std::sqrt(a) * alpha;
    double b0, b1, b2, a0 = 1.0 + alpha, a1 = -2.0 * c, a2 = 1.0 - alpha;
    switch (p.type) {
    case EMFT_LOWPASS: b0 = (1.0 - c) / 2.0, b1 = 1.0 - c, b2 = b0; break;
    case EMFT_HIGHPASS: b0 = (1.0 + c) / 2.0, b1 = -(1.0 + c), b2 = b0; break;
    case EMFT_BANDPASS: b0 = alpha, b1 = 0.0, b2 = -alpha; break;
    case EMFT_NOTCH: b0 = 1.0, b1 = -2.0 * c, b2 = 1.0; break;
    case EMFT_PEAKING:
        b0 = 1.0 + alpha * a, b1 = -2.0 * c, b2 = 1.0 - alpha * a;
        a0 = 1.0 + alpha / a, a2 = 1.0 - alpha / a;
        break;
    case EMFT_LOWSHELF:
        b0 = a * ((a + 1.0) - (a - 1.0) * c + beta), b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * c);
        b2 = a * ((a + 1.0) - (a - 1.0) * c - beta);
        a0 = (a + 1.0) + (a - 1.0) * c + beta, a1 = -2.0 * ((a - 1.0) + (a + 1.0) * c), a2 = (a + 1.0) + (a - 1.0) * c - beta;
        break;
    default: // EMFT_HIGHSHELF
        b0 = a * ((a + 1.0) + (a - 1.0) * c + beta), b1 = -2.0 * a * ((a - 1.0) + (a + 1.0) * c);
        b2 = a * ((a + 1.0) + (a - 1.0) * c - beta);
        a0 = (a + 1.0) - (a - 1.0) * c + beta, a1 = 2.0 * ((a - 1.0) - (a + 1.0) * c), a2 = (a + 1.0) - (a - 1.0) * c - beta;
        break;
    }
    d[0] = b0 / a0, d[1] = b1 / a0, d[2] = b2 / a0, d[3] = a1 / a0, d[4] = a2 / a0;
}

// The shape as set.
static em_filtershape em_setshape(const em_effect* fx)
{
    return {fx->filtertype, fx->frequency, fx->q, fx->gaindb};
}

// n frames through the filter in direct form I while the coefficients slide
// linearly to target, and the wet and dry gains by glide a frame.
static void em_filterrun(em_effect* fx, int32_t* v, int32_t n, const double* target, const em_fxmix& glide)
{
    double step[5];
    double* c = fx->coef;
    for (int k = 0; k < 5; k++)
        step[k] = (target[k] - c[k]) / n;
    for (int32_t i = 0; i < n; i++) {
        for (int k = 0; k < 5; k++)
            c[k] += step[k];
        fx->now.dry += glide.dry, fx->now.wet += glide.wet;
        for (int side = 0; side < 2; side++) {
            double* h = fx->hist[side];
            const double x = v[2 * i + side];
            const double y = c[0] * x + c[1] * h[0] + c[2] * h[1] - c[3] * h[2] - c[4] * h[3];
            h[1] = h[0], h[0] = x, h[3] = h[2], h[2] = em_fxflush(y);
            v[2 * i + side] = em_fxout(v[2 * i + side], y, fx->now.dry, fx->now.wet);
        }
    }
    for (int k = 0; k < 5; k++)
        c[k] = target[k];
}

// A new frequency, quality or gain is reached along the way in pieces of
// EM_FILTERPIECE frames, the frequency and quality geometrically and the gain
// linearly, the coefficients sliding within each piece: a swept cutoff makes
// no step. A new shape is reached by sliding the coefficients over the whole
// buffer, through stable filters only, as the stable denominators form a
// convex set.
int32_t em_filterpieces(const em_filtershape& from, const em_filtershape& to, int32_t frames)
{
    const bool moves = from.type == to.type && (from.frequency != to.frequency || from.q != to.q || from.gaindb != to.gaindb);
    return moves && frames >= 2 * EM_FILTERPIECE ? frames / EM_FILTERPIECE : 1;
}

em_filtershape em_filterpiece(const em_filtershape& from, const em_filtershape& to, int32_t piece, int32_t pieces)
{
    const double t = static_cast<double>(piece + 1) / pieces;
    em_filtershape at = to;
    if (piece < pieces - 1) {
        at.frequency = from.frequency * std::pow(to.frequency / from.frequency, t);
        at.q = from.q * std::pow(to.q / from.q, t);
        at.gaindb = from.gaindb + (to.gaindb - from.gaindb) * t;
    }
    return at;
}

// One buffer through the filter, gliding to the shape as set.
static void em_runfilter(em_effect* fx, int32_t* v, int32_t frames)
{
    const em_filtershape from = fx->shape, to = em_setshape(fx);
    const int32_t pieces = em_filterpieces(from, to, frames);
    const em_fxmix glide = em_fxglide(fx, frames);
    double target[5];
    for (int32_t k = 0, done = 0; k < pieces; k++) {
        em_designfilter(em_filterpiece(from, to, k, pieces), target);
        const int32_t n = k < pieces - 1 ? frames / pieces : frames - done;
        em_filterrun(fx, v + 2 * done, n, target, glide);
        done += n;
    }
    fx->shape = to;
}

// ---------------------------------------------------------------------------
// Echo: output = dry x input + wet x line, the line holding input + feedback x line
// ---------------------------------------------------------------------------

static void em_runecho(em_effect* fx, int32_t* v, int32_t frames)
{
    const em_fxmix glide = em_fxglide(fx, frames);
    const int32_t length = fx->linelength;
    const float feedback = fx->feedback;
    float* lines[2] = {fx->lines, fx->lines + length};
    for (int32_t i = 0; i < frames; i++) {
        int32_t read = fx->pos - fx->delay;
        if (read < 0)
            read += length;
        fx->now.dry += glide.dry, fx->now.wet += glide.wet;
        for (int side = 0; side < 2; side++) {
            const float out = lines[side][read];
            lines[side][fx->pos] = em_fxflush(static_cast<float>(v[2 * i + side]) + feedback * out);
            v[2 * i + side] = em_fxout(v[2 * i + side], out, fx->now.dry, fx->now.wet);
        }
        if (++fx->pos == length)
            fx->pos = 0;
    }
}

// ---------------------------------------------------------------------------
// Reverb: parallel damped feedback combs into series all-passes, per side
// ---------------------------------------------------------------------------

// The eight combs of a side over n frames of in, their outputs summed into sum.
// The frames go in runs in which no comb's place wraps; each comb keeps its
// place and its low-pass state in locals, and the eight run side by side. What
// goes into a line is flushed every frame, the low-pass states at the end of
// each run (off the frame's chain of dependent steps): fed from flushed lines,
// a state below the floor dies out within a run.
static void em_runcombs(em_comb* combs, const float* in, float* sum, int32_t n, float feedback, float damp)
{
    float* lines[EM_COMBS];
    float store[EM_COMBS];
    for (int k = 0; k < EM_COMBS; k++)
        lines[k] = combs[k].line + combs[k].pos, store[k] = combs[k].store;
    for (int32_t done = 0; done < n;) {
        int32_t run = n - done;
        for (int k = 0; k < EM_COMBS; k++)
            run = std::min(run, combs[k].length - combs[k].pos);
        for (int32_t i = 0; i < run; i++) {
            float total = 0.0f;
            for (int k = 0; k < EM_COMBS; k++) {
                const float out = lines[k][i];
                store[k] = out * (1.0f - damp) + store[k] * damp;
                lines[k][i] = em_fxflush(in[done + i] + store[k] * feedback);
                total += out;
            }
            sum[done + i] = total;
        }
        done += run;
        for (int k = 0; k < EM_COMBS; k++) {
            store[k] = em_fxflush(store[k]);
            combs[k].pos += run;
            if (combs[k].pos == combs[k].length)
                combs[k].pos = 0;
            lines[k] = combs[k].line + combs[k].pos;
        }
    }
    for (int k = 0; k < EM_COMBS; k++)
        combs[k].store = store[k];
}

// An all-pass over n frames of v in place. A frame reads the line as written a
// whole line length before, so the frames of a run that does not wrap depend
// on none of each other.
static void em_runallpass(em_allpass* a, float* v, int32_t n)
{
    for (int32_t done = 0; done < n;) {
        const int32_t run = std::min(n - done, a->length - a->pos);
        float* __restrict line = a->line + a->pos;
        float* __restrict x = v + done;
        for (int32_t i = 0; i < run; i++) {
            const float delayed = line[i];
            const float w = em_fxflush(x[i] + EM_ALLPASSGAIN * delayed);
            line[i] = w;
            x[i] = delayed - EM_ALLPASSGAIN * w;
        }
        done += run;
        a->pos += run;
        if (a->pos == a->length)
            a->pos = 0;
    }
}

static void em_runreverb(em_effect* fx, int32_t* v, int32_t frames)
{
    float* in = fx->scratch;
    float* out[2] = {fx->scratch + frames, fx->scratch + 2 * frames};
    for (int32_t i = 0; i < frames; i++)
        in[i] = static_cast<float>((static_cast<double>(v[2 * i]) + v[2 * i + 1]) * EM_REVERBIN);
    for (int side = 0; side < 2; side++) {
        em_runcombs(fx->combs[side], in, out[side], frames, fx->combfeedback, fx->combdamp);
        for (int k = 0; k < EM_ALLPASSES; k++)
            em_runallpass(&fx->allpasses[side][k], out[side], frames);
    }
    const em_fxmix glide = em_fxglide(fx, frames);
    for (int32_t i = 0; i < frames; i++) {
        fx->now.dry += glide.dry, fx->now.wet += glide.wet;
        for (int side = 0; side < 2; side++) {
            const double effect = fx->wide * out[side][i] + fx->cross * out[1 - side][i];
            v[2 * i + side] = em_fxout(v[2 * i + side], effect, fx->now.dry, fx->now.wet);
        }
    }
}

// ---------------------------------------------------------------------------
// The node
// ---------------------------------------------------------------------------

// Runs the buffer through the effect, then on to the parent as any node.
static void em_effectprocess(em_node* node)
{
    em_effect* fx = static_cast<em_effect*>(node->data);
    const int32_t frames = emstate.samples;
    switch (fx->kind) {
    case EMX_FILTER: em_runfilter(fx, node->mixbuf, frames); break;
    case EMX_ECHO: em_runecho(fx, node->mixbuf, frames); break;
    default: em_runreverb(fx, node->mixbuf, frames); break;
    }
    // The glides end exactly on the set gains.
    fx->now = {fx->dry, fx->wet};
    fx->heard = 1;
    em_mixtoparent(node);
}

static void em_effectdestroy(em_node* node)
{
    em_effect* fx = static_cast<em_effect*>(node->data);
    if (fx && fx->lines)
        emio_free(fx->lines);
    em_freenodedata(node);
}

// Puts what glides at its settings at once: before the first buffer nothing was
// heard that a change could make a step in.
static void em_settle(em_effect* fx)
{
    fx->now = {fx->dry, fx->wet};
    fx->shape = em_setshape(fx);
    em_designfilter(fx->shape, fx->coef);
}

// What follows from the parameters: the filter's design, the echo's delay in
// frames, the reverb's loop gains and stereo shares.
static void em_retune(em_effect* fx)
{
    switch (fx->kind) {
    case EMX_FILTER: break; // designed as the buffers glide to the settings
    case EMX_ECHO: {
        const int32_t frames = em_ftoi(static_cast<double>(fx->delayms) * emstate.freq / 1000.0 + 0.5);
        fx->delay = frames < 1 ? 1 : frames;
        break;
    }
    default:
        fx->combfeedback = 0.7f + 0.28f * fx->roomsize;
        fx->combdamp = 0.4f * fx->damping;
        fx->wide = (1.0 + fx->width) / 2.0;
        fx->cross = (1.0 - fx->width) / 2.0;
        break;
    }
}

// The float parameters: the kinds that take each, its range (an open end
// excludes its value) and its field.
struct em_fxparam {
    int id;
    uint32_t kinds; // bit 1 << EMX_*
    float low, high;
    bool openlow, openhigh;
    size_t field; // offset of the float in em_effect
};
enum : uint32_t { EM_FXF = 1u << EMX_FILTER, EM_FXE = 1u << EMX_ECHO, EM_FXR = 1u << EMX_REVERB };
// The frequency's upper end is the Nyquist frequency, set where it is checked.
static const em_fxparam em_fxparams[] = {
    {EMP_FREQUENCY, EM_FXF, 1.0f, 0.0f, false, false, offsetof(em_effect, frequency)},
    {EMP_Q, EM_FXF, 0.01f, 100.0f, false, false, offsetof(em_effect, q)},
    {EMP_GAINDB, EM_FXF, -48.0f, 48.0f, false, false, offsetof(em_effect, gaindb)},
    {EMP_DELAYMS, EM_FXE, 0.0f, static_cast<float>(EM_ECHOMS), true, false, offsetof(em_effect, delayms)},
    {EMP_FEEDBACK, EM_FXE, 0.0f, 1.0f, false, true, offsetof(em_effect, feedback)},
    {EMP_WET, EM_FXF | EM_FXE | EM_FXR, 0.0f, 4.0f, false, false, offsetof(em_effect, wet)},
    {EMP_DRY, EM_FXF | EM_FXE | EM_FXR, 0.0f, 4.0f, false, false, offsetof(em_effect, dry)},
    {EMP_ROOMSIZE, EM_FXR, 0.0f, 1.0f, false, false, offsetof(em_effect, roomsize)},
    {EMP_DAMPING, EM_FXR, 0.0f, 1.0f, false, false, offsetof(em_effect, damping)},
    {EMP_WIDTH, EM_FXR, 0.0f, 1.0f, false, false, offsetof(em_effect, width)},
};

// The float of id on the effect's kind, or null when the kind has none.
static const em_fxparam* em_findfxparam(const em_effect* fx, int id)
{
    for (const em_fxparam& p : em_fxparams)
        if (p.id == id && (p.kinds & (1u << fx->kind)))
            return &p;
    return nullptr;
}

static float* em_fxfield(em_effect* fx, const em_fxparam* p)
{
    return reinterpret_cast<float*>(reinterpret_cast<char*>(fx) + p->field);
}

static int em_effectsetparamf(em_node* node, int id, float value)
{
    em_effect* fx = static_cast<em_effect*>(node->data);
    const em_fxparam* p = em_findfxparam(fx, id);
    if (!p || !std::isfinite(value))
        return -1;
    const float high = id == EMP_FREQUENCY ? static_cast<float>(emstate.freq) / 2.0f : p->high;
    if (value < p->low || value > high || (p->openlow && value == p->low) || (p->openhigh && value == high))
        return -1;
    *em_fxfield(fx, p) = value;
    em_retune(fx);
    if (!fx->heard)
        em_settle(fx);
    return 0;
}

static float em_effectgetparamf(em_node* node, int id)
{
    em_effect* fx = static_cast<em_effect*>(node->data);
    const em_fxparam* p = em_findfxparam(fx, id);
    return p ? *em_fxfield(fx, p) : -1.0f;
}

static int em_effectsetparam(em_node* node, int id, int32_t value)
{
    em_effect* fx = static_cast<em_effect*>(node->data);
    if (id == EMP_VOLUME) {
        node->volume = value;
        return 0;
    }
    if (id != EMP_FILTERTYPE || fx->kind != EMX_FILTER || value < EMFT_LOWPASS || value > EMFT_HIGHSHELF)
        return -1;
    fx->filtertype = value;
    if (!fx->heard)
        em_settle(fx);
    return 0;
}

static int em_effectgetparam(em_node* node, int id)
{
    const em_effect* fx = static_cast<const em_effect*>(node->data);
    if (id == EMP_VOLUME)
        return node->volume;
    return id == EMP_FILTERTYPE && fx->kind == EMX_FILTER ? fx->filtertype : -1;
}

static void em_installeffect(em_node* node)
{
    node->process = em_effectprocess;
    node->destroy = em_effectdestroy;
    node->setparam = em_effectsetparam;
    node->getparam = em_effectgetparam;
    node->setparamf = em_effectsetparamf;
    node->getparamf = em_effectgetparamf;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_effecttype = {em_installeffect,
                                          EMTAG_EFFECTMIX,
                                          EMTAG_EFFECT,
                                          sizeof(em_effect),
                                          "em_initeffect: can't create node",
                                          "em_initeffect: can't allocate mix buffer",
                                          "em_initeffect: can't allocate effect"};

int em_iseffect(const em_node* node)
{
    return em_isnodetype(node, &em_effecttype);
}

// A line length at the engine's rate for one given at 44100 Hz.
static int32_t em_scaledlength(int32_t frames)
{
    const int32_t length = static_cast<int32_t>(static_cast<int64_t>(frames) * emstate.freq / 44100);
    return length < 1 ? 1 : length;
}

// Floats of every line of the kind: the echo's two lines of 2 s and a frame,
// or the reverb's combs and all-passes on both sides and its three buffers of
// scratch.
static int32_t em_linesize(int kind)
{
    if (kind == EMX_ECHO)
        return 2 * (emstate.freq * EM_ECHOMS / 1000 + 1);
    if (kind != EMX_REVERB)
        return 0;
    int32_t total = 0;
    for (int side = 0; side < 2; side++) {
        for (const int32_t length : em_comblengths)
            total += em_scaledlength(length + side * EM_STEREOSPREAD);
        for (const int32_t length : em_allpasslengths)
            total += em_scaledlength(length + side * EM_STEREOSPREAD);
    }
    return total + 3 * emstate.samples;
}

// Hands out the reverb's lines and scratch from the node's block.
static void em_placereverblines(em_effect* fx)
{
    float* next = fx->lines;
    for (int side = 0; side < 2; side++) {
        for (int k = 0; k < EM_COMBS; k++) {
            fx->combs[side][k] = {next, em_scaledlength(em_comblengths[k] + side * EM_STEREOSPREAD), 0, 0.0f};
            next += fx->combs[side][k].length;
        }
        for (int k = 0; k < EM_ALLPASSES; k++) {
            fx->allpasses[side][k] = {next, em_scaledlength(em_allpasslengths[k] + side * EM_STEREOSPREAD), 0};
            next += fx->allpasses[side][k].length;
        }
    }
    fx->scratch = next;
}

// The defaults of a new node of the kind.
static void em_defaulteffect(em_effect* fx, int kind)
{
    fx->kind = kind;
    fx->filtertype = EMFT_LOWPASS;
    fx->frequency = 1000.0f, fx->q = 0.7071f, fx->gaindb = 0.0f;
    fx->delayms = 250.0f, fx->feedback = 0.5f;
    fx->roomsize = 0.5f, fx->damping = 0.5f, fx->width = 1.0f;
    fx->wet = kind == EMX_FILTER ? 1.0f : kind == EMX_ECHO ? 0.5f : 0.33f;
    fx->dry = kind == EMX_FILTER ? 0.0f : 1.0f;
    em_retune(fx);
    em_settle(fx);
}

em_node* em_initeffect(em_node* parent, int kind)
{
    if (kind != EMX_FILTER && kind != EMX_ECHO && kind != EMX_REVERB)
        return nullptr;
    if (em_reservesends() < 0) {
        emio_error("em_initeffect: can't allocate send table");
        return nullptr;
    }
    em_node* node = em_makenode(&em_effecttype, nullptr);
    if (!node)
        return nullptr;
    em_effect* fx = static_cast<em_effect*>(node->data);
    const int32_t frames = em_linesize(kind);
    if (frames > 0) {
        fx->lines = static_cast<float*>(emio_calloc(static_cast<uint32_t>(frames), sizeof(float), EMTAG_EFFECTLINE));
        if (!fx->lines) {
            emio_error("em_initeffect: can't allocate delay line");
            em_destroynode(node);
            return nullptr;
        }
    }
    fx->linelength = frames / 2;
    if (kind == EMX_REVERB)
        em_placereverblines(fx);
    em_defaulteffect(fx, kind);
    em_attachnode(node, parent);
    return node;
}

int em_createeffect(int parent, int kind)
{
    return em_createunder(parent, [&](em_node* up) { return em_initeffect(up, kind); });
}
