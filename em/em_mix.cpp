// em_mix.cpp -- the mixing core every voice type calls: gains, the 16.16
// advance, placement, run lengths up to the next end or loop point, ramps and
// glides, the voice mixers, and the plain runs that are the reference for the
// vector runs of em_mixlanes.h
#include <cstdlib>
#include <cstring>

#include "em/em_local.h"

// ---------------------------------------------------------------------------
// Sources, gains and the 16.16 advance
// ---------------------------------------------------------------------------

em_source em_voicesource(const em_sample* s, uint32_t flags)
{
    return {s->data, s->length, s->channels, (flags & EMF_LOOP) != 0, (flags & EMF_INTERPOLATE) != 0};
}

// Mono: each side's share of the value. Stereo: the side the pan moves
// towards keeps the volume; the other keeps (128 - |pan|) / 128 of its own
// and gives |pan| / 128 to it.
static em_gains em_monogains(int32_t volume, int32_t pan)
{
    return {em_sar32(em_mul32(volume, em_sub32(128, pan)), 8), 0, 0, em_sar32(em_mul32(volume, em_add32(pan, 128)), 8)};
}

static em_gains em_stereogains(int32_t volume, int32_t pan)
{
    if (pan >= 0)
        return {em_sar32(em_mul32(volume, em_sub32(128, pan)), 7), 0, em_sar32(em_mul32(volume, pan), 7), volume};
    return {volume, em_sar32(em_mul32(volume, em_sub32(0, pan)), 7), 0, em_sar32(em_mul32(volume, em_add32(pan, 128)), 7)};
}

em_gains em_voicegains(int32_t channels, int32_t volume, int32_t pan)
{
    return channels == 2 ? em_stereogains(volume, pan) : em_monogains(volume, pan);
}

// Adds a left and a right value, each at its own side's gain of mono gains
// (ll, rr): a mono frame's value on both sides, or the two heads' values.
static inline void em_addsides(int32_t* out, int32_t left, int32_t right, const em_gains& g)
{
    out[0] = em_add32(out[0], em_sar32(em_mul32(left, g.ll), 8));
    out[1] = em_add32(out[1], em_sar32(em_mul32(right, g.rr), 8));
}

static inline void em_addmono(int32_t* out, int32_t value, const em_gains& g)
{
    em_addsides(out, value, value, g);
}

static inline void em_addstereo(int32_t* out, int32_t left, int32_t right, const em_gains& g)
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

int em_placeread(em_place* p, const em_source& src)
{
    if (p->frame < 0)
        p->frame = 0;
    if (p->frame < src.length)
        return 0;
    if (!src.loop)
        return 1;
    p->frame %= src.length;
    return 0;
}

// Frames from the 16.16 place p until a step of step reaches limit: at least
// one (a place already past the end is read once, then tested), at most left.
static inline int32_t em_runlength(int64_t p, int64_t limit, int32_t step, int32_t left)
{
    if (step <= 0)
        return left;
    const int64_t need = (limit - p + step - 1) / step;
    return need < 1 ? 1 : need < left ? static_cast<int32_t>(need) : left;
}

// The 16.16 place a run may not reach: with interpolation a run's frames
// read their neighbours, so none may lie on the last frame.
static inline int64_t em_runlimit(const em_source& src)
{
    return static_cast<int64_t>(src.interp ? src.length - 1 : src.length) * 65536;
}

static inline int64_t em_placeword(int32_t frame, int32_t frac)
{
    return static_cast<int64_t>(frame) * 65536 + frac;
}

// ---------------------------------------------------------------------------
// Ramps: a field slides by 16.16 increments a frame
// ---------------------------------------------------------------------------

// A slide of a field over one buffer, 16.16 per frame: an accumulator carries
// the fraction, the field moves by its whole part (truncated toward zero).
// The wrapping kind leaves the field's 32-bit sum as it falls; the clamping
// kind holds it at the 32-bit range.
static void em_rampwrapping(int32_t* field, int64_t* acc, int64_t inc)
{
    *acc += inc;
    const int64_t whole = *acc / 65536;
    *field = em_add32(*field, static_cast<int32_t>(static_cast<uint32_t>(whole)));
    *acc -= whole * 65536;
}

static void em_rampclamping(int32_t* field, int64_t* acc, int64_t inc)
{
    *acc += inc;
    const int64_t whole = *acc / 65536;
    *field = em_clamp32(*field + whole);
    *acc -= whole * 65536;
}

// The 16.16 increment a frame that moves from to to over frames frames; a
// step difference of 32768 or more divides in eighths, as 32 bits must.
static int64_t em_rampinc(int32_t from, int32_t to, int32_t frames)
{
    return (static_cast<int64_t>(to) - from) * 65536 / frames;
}

static int64_t em_rampstepinc(int32_t from, int32_t to, int32_t frames)
{
    const int64_t d = static_cast<int64_t>(to) - from;
    if ((d > -32768 && d < 32768) || frames / 8 == 0)
        return d * 65536 / frames;
    return d * 8192 / (frames / 8);
}

// The increments a frame of three fields moving from now to target over n frames.
static em_glides em_glideincs(const em_rampvalues& now, const em_rampvalues& target, int32_t n)
{
    return {0,
            0,
            0,
            em_rampstepinc(now.step, target.step, n),
            em_rampinc(now.volume, target.volume, n),
            em_rampinc(now.pan, target.pan, n)};
}

// Whatever moved ends exactly on its target.
static void em_landontarget(em_rampvalues* now, const em_rampvalues& target, const em_glides& inc)
{
    if (inc.stepinc != 0)
        now->step = target.step;
    if (inc.volinc != 0)
        now->volume = target.volume;
    if (inc.paninc != 0)
        now->pan = target.pan;
}

// The step of the last of n frames whose step starts at step and moves by
// stepinc a frame, in 64 bits: the runs need it within 32.
static inline int64_t em_laststep(int32_t step, int64_t stepinc, int32_t n)
{
    return static_cast<int64_t>(step) + (n - 1) * stepinc / 65536;
}

// ---------------------------------------------------------------------------
// Reading the source
// ---------------------------------------------------------------------------

// The frame after frame: the next one, past the last the first when looping,
// else -1 (silence follows the end).
static inline int32_t em_nextframe(const em_source& src, int32_t frame)
{
    return frame + 1 < src.length ? frame + 1 : src.loop ? 0 : -1;
}

// The left and right values (a mono frame's value twice) of frame read at frac
// past it, anywhere on the source, the last frame included.
template <int channels>
static inline void em_readframe(const em_source& src, int32_t frame, int32_t frac, int32_t* left, int32_t* right)
{
    const int32_t* at = src.data + channels * frame;
    *left = at[0];
    *right = at[channels - 1];
    if (!src.interp)
        return;
    const int32_t next = em_nextframe(src, frame);
    const int32_t* to = src.data + channels * next;
    *left = em_lerp(*left, next < 0 ? 0 : to[0], frac);
    *right = em_lerp(*right, next < 0 ? 0 : to[channels - 1], frac);
}

// The value a head reads: a stereo sample is heard as its mono mix-down, for
// a positioned source is a point.
template <int channels> static inline int32_t em_headvalue(const int32_t* data, int32_t frame)
{
    if (channels == 1)
        return data[frame];
    return em_sar32(em_add32(data[2 * frame], data[2 * frame + 1]), 1);
}

// A head's value at a 16.16 place on the source, the last frame included.
template <int channels> static inline int32_t em_headread(const em_source& src, int32_t frame, int32_t frac)
{
    const int32_t value = em_headvalue<channels>(src.data, frame);
    if (!src.interp)
        return value;
    const int32_t next = em_nextframe(src, frame);
    return em_lerp(value, next < 0 ? 0 : em_headvalue<channels>(src.data, next), frac);
}

// The source as a run reads it: the interpolation fixed per instantiation,
// and no loop, for a run never reaches the end.
template <int channels, bool interp> static inline em_source em_runsource(const em_source& src)
{
    return {src.data, src.length, channels, false, interp};
}

template <int channels> static inline void em_addramped(int32_t* out, int32_t left, int32_t right, int32_t volume, int32_t pan)
{
    if (channels == 1)
        em_addmono(out, left, em_monogains(volume, pan));
    else
        em_addstereo(out, left, right, em_stereogains(volume, pan));
}

// ---------------------------------------------------------------------------
// The plain runs
// ---------------------------------------------------------------------------

static void em_plainmono(int32_t* out, const int32_t* in, int32_t n, const em_gains& gains)
{
    const em_gains g = gains; // held apart from out, which could alias it
    for (int32_t i = 0; i < n; i++)
        em_addmono(out + 2 * i, in[i], g);
}

static void em_plainstereo(int32_t* out, const int32_t* in, int32_t n, const em_gains& gains)
{
    const em_gains g = gains; // held apart from out, which could alias it
    for (int32_t i = 0; i < n; i++)
        em_addstereo(out + 2 * i, in[2 * i], in[2 * i + 1], g);
}

static void em_plainmonostep(int32_t* out, const em_source& src, em_place from, int32_t step, int32_t n, const em_gains& g)
{
    const int32_t* data = src.data;
    const bool interp = src.interp;
    uint64_t off = static_cast<uint64_t>(em_placeword(from.frame, from.frac));
    for (int32_t i = 0; i < n; i++, off += static_cast<uint32_t>(step)) {
        const int32_t* at = data + (off >> 16);
        em_addmono(out + 2 * i, interp ? em_lerp(at[0], at[1], static_cast<int32_t>(off & 0xFFFF)) : at[0], g);
    }
}

static void em_plainstereostep(int32_t* out, const em_source& src, em_place from, int32_t step, int32_t n, const em_gains& g)
{
    const int32_t* data = src.data;
    const bool interp = src.interp;
    uint64_t off = static_cast<uint64_t>(em_placeword(from.frame, from.frac));
    for (int32_t i = 0; i < n; i++, off += static_cast<uint32_t>(step)) {
        const int32_t* at = data + 2 * (off >> 16);
        const int32_t frac = static_cast<int32_t>(off & 0xFFFF);
        em_addstereo(out + 2 * i, interp ? em_lerp(at[0], at[2], frac) : at[0], interp ? em_lerp(at[1], at[3], frac) : at[1], g);
    }
}

// n frames from the 16.16 place p (in frames) of a ramped voice: each frame
// reads at the place, which then moves by the frame's step (never below 0).
// The increments are held in locals and the interpolation is fixed per
// instantiation, so the loop carries no loads or tests it does not need.
template <int channels, bool interp>
static void em_plainramploop(int32_t* out, const em_source& source, int64_t* p, em_glides* g, int32_t n)
{
    const em_source src = em_runsource<channels, interp>(source);
    int64_t place = *p, step = g->step, volume = g->volume, pan = g->pan;
    const int64_t stepinc = g->stepinc, volinc = g->volinc, paninc = g->paninc;
    for (int32_t i = 0; i < n; i++) {
        int32_t left, right;
        em_readframe<channels>(src, static_cast<int32_t>(place >> 16), static_cast<int32_t>(place & 0xFFFF), &left, &right);
        em_addramped<channels>(out + 2 * i, left, right, em_glidefield(volume), em_glidefield(pan));
        place += em_forwardstep(em_glidefield(step));
        step += stepinc;
        volume += volinc;
        pan += paninc;
    }
    *p = place;
    g->step = step;
    g->volume = volume;
    g->pan = pan;
}

template <int channels> static void em_plainramp(int32_t* out, const em_source& src, int64_t* p, em_glides* g, int32_t n)
{
    em_specialise(src.interp, [&](auto interp) { em_plainramploop<channels, interp>(out, src, p, g, n); });
}

// n frames of two heads: each reads, both move by the step and their own
// correction, the gains come from the gain and pan glides.
template <int channels, bool interp>
static void em_plainheadsloop(int32_t* out, const em_source& source, em_headrun* r, int32_t n)
{
    const em_source src = em_runsource<channels, interp>(source);
    int64_t left = r->left, right = r->right, step = r->g.step, gain = r->g.volume, pan = r->g.pan;
    const int64_t leftfix = r->leftfix, rightfix = r->rightfix;
    const int64_t stepinc = r->g.stepinc, gaininc = r->g.volinc, paninc = r->g.paninc;
    int32_t a = r->leftvalue, b = r->rightvalue;
    for (int32_t i = 0; i < n; i++) {
        const int32_t now = em_glidefield(step);
        const em_gains gains = em_monogains(em_glidefield(gain), em_glidefield(pan));
        a = em_headread<channels>(src, static_cast<int32_t>(left >> 16), static_cast<int32_t>(left & 0xFFFF));
        b = em_headread<channels>(src, static_cast<int32_t>(right >> 16), static_cast<int32_t>(right & 0xFFFF));
        // em_addsides' sums, through indexed stores: through a moved pointer
        // the compiler pairs the two sides in vector registers, which here
        // costs more instructions than it saves.
        out[2 * i] = em_add32(out[2 * i], em_sar32(em_mul32(a, gains.ll), 8));
        out[2 * i + 1] = em_add32(out[2 * i + 1], em_sar32(em_mul32(b, gains.rr), 8));
        left += now + leftfix;
        right += now + rightfix;
        step += stepinc;
        gain += gaininc;
        pan += paninc;
    }
    r->left = left;
    r->right = right;
    r->g.step = step;
    r->g.volume = gain;
    r->g.pan = pan;
    r->leftvalue = a;
    r->rightvalue = b;
}

template <int channels> static void em_plainheads(int32_t* out, const em_source& src, em_headrun* r, int32_t n)
{
    em_specialise(src.interp, [&](auto interp) { em_plainheadsloop<channels, interp>(out, src, r, n); });
}

const em_runs em_plainruns = {{em_plainmono, em_plainstereo},
                              {em_plainmonostep, em_plainstereostep},
                              {em_plainramp<1>, em_plainramp<2>},
                              {em_plainheads<1>, em_plainheads<2>}};

// ---------------------------------------------------------------------------
// Steady voices: constant step and gains
// ---------------------------------------------------------------------------

// Unit step: each frame reads the next one; the fraction never changes.
static int32_t em_mixunit(const em_runs* runs, const em_source& src, em_place* p, const em_gains& g, int32_t* out, int32_t n,
                          bool* ended)
{
    const int32_t channels = src.channels, length = src.length;
    int32_t frame = p->frame, f = 0;
    while (f < n) {
        const int32_t left = n - f, toend = length - frame;
        const int32_t run = toend < 1 ? 1 : toend < left ? toend : left;
        runs->unit[channels - 1](out + 2 * f, src.data + channels * frame, run, g);
        f += run;
        frame += run;
        if (frame >= length) {
            if (!src.loop) {
                *ended = true;
                break;
            }
            frame = 0;
        }
    }
    p->frame = frame;
    return f;
}

// Adds the last frame of an interpolating voice, whose neighbour lies
// across the end.
static void em_addedgeframe(const em_source& src, int32_t frame, int32_t frac, const em_gains& g, int32_t* out)
{
    int32_t left, right;
    if (src.channels == 2) {
        em_readframe<2>(src, frame, frac, &left, &right);
        em_addstereo(out, left, right, g);
    } else {
        em_readframe<1>(src, frame, frac, &left, &right);
        em_addmono(out, left, g);
    }
}

// Any other step: the 16.16 place moves by exactly step a frame. With
// interpolation a frame reads its neighbour too, so the runs stop short of the
// last frame, which reads across the end one frame at a time.
static int32_t em_mixstepped(const em_runs* runs, const em_source& src, em_place* p, int32_t step, const em_gains& g,
                             int32_t* out, int32_t n, bool* ended)
{
    const int32_t length = src.length;
    const int64_t limit = em_runlimit(src);
    int32_t frame = p->frame, frac = p->frac, f = 0;
    while (f < n) {
        if (src.interp && frame >= length - 1) {
            em_addedgeframe(src, frame, frac, g, out + 2 * f);
            frame += em_advance(&frac, step);
            f++;
        } else {
            const int64_t place = em_placeword(frame, frac);
            const int32_t run = em_runlength(place, limit, step, n - f);
            runs->stepped[src.channels - 1](out + 2 * f, src, {frame, frac}, step, run, g);
            const int64_t moved = place + static_cast<int64_t>(run) * step;
            frame = static_cast<int32_t>(moved >> 16);
            frac = static_cast<int32_t>(moved & 0xFFFF);
            f += run;
        }
        if (frame >= length) {
            if (!src.loop) {
                *ended = true;
                break;
            }
            frame = em_wrapindex(frame, length);
        }
    }
    p->frame = frame;
    p->frac = frac;
    return f;
}

int32_t em_mixsteady(const em_source& src, em_place* p, int32_t step, const em_gains& g, int32_t* out, int32_t n, bool* ended)
{
    *ended = false;
    if (n <= 0)
        return 0;
    const em_runs* runs = em_mixruns();
    step = em_forwardstep(step);
    // At unit step the fraction never changes: at 0 every frame is read as
    // it is, interpolated or not.
    if (step == 0x10000 && (!src.interp || p->frac == 0))
        return em_mixunit(runs, src, p, g, out, n, ended);
    return em_mixstepped(runs, src, p, step, g, out, n, ended);
}

// ---------------------------------------------------------------------------
// Ramped voices: step, volume and pan slide over the buffer
// ---------------------------------------------------------------------------

// The frame-by-frame form: for step glides whose sums leave 32 bits, and for
// places that do not lie on the sample.
template <int channels>
static int32_t em_mixrampframes(const em_source& src, em_place* p, em_rampvalues* v, const em_glides& inc, int32_t* out,
                                int32_t n, bool* ended)
{
    const int32_t length = src.length;
    int32_t frame = p->frame, frac = p->frac;
    int64_t stepacc = 0, volacc = 0, panacc = 0;
    int32_t f = 0;
    while (f < n) {
        int32_t left, right;
        em_readframe<channels>(src, frame, frac, &left, &right);
        frame += em_advance(&frac, em_forwardstep(v->step));
        bool end = false;
        if (frame >= length) {
            if (src.loop)
                frame = em_wrapindex(frame, length);
            else
                end = true;
        }
        em_addramped<channels>(out + 2 * f, left, right, v->volume, v->pan);
        em_rampwrapping(&v->step, &stepacc, inc.stepinc);
        em_rampwrapping(&v->volume, &volacc, inc.volinc);
        em_rampwrapping(&v->pan, &panacc, inc.paninc);
        f++;
        if (end) {
            *ended = true;
            break;
        }
    }
    p->frame = frame;
    p->frac = frac;
    return f;
}

// The buffer cut into runs that cannot reach the end, with the glides as
// 16.16 words; a frame that may reach the end goes frame by frame. last is
// the step of the buffer's last frame.
template <int channels>
static int32_t em_mixrampruns(const em_source& src, em_place* p, em_glides g, int32_t last, int32_t* out, int32_t n, bool* ended)
{
    const em_runs* runs = em_mixruns();
    const int32_t length = src.length;
    const int64_t limit = em_runlimit(src);
    int64_t place = em_placeword(p->frame, p->frac);
    int32_t f = 0;
    while (f < n) {
        const int32_t now = em_glidefield(g.step);
        const int64_t most = now > last ? now : last;
        int32_t run = place < limit ? n - f : 0;
        if (most > 0) {
            const int64_t safe = (limit - 1 - place) / most;
            run = safe < run ? static_cast<int32_t>(safe) : run;
        }
        if (run > 0) {
            runs->ramped[channels - 1](out + 2 * f, src, &place, &g, run);
            f += run;
            continue;
        }
        int32_t left, right;
        em_readframe<channels>(src, static_cast<int32_t>(place >> 16), static_cast<int32_t>(place & 0xFFFF), &left, &right);
        em_addramped<channels>(out + 2 * f, left, right, em_glidefield(g.volume), em_glidefield(g.pan));
        place += em_forwardstep(now);
        g.step += g.stepinc;
        g.volume += g.volinc;
        g.pan += g.paninc;
        f++;
        int32_t frame = static_cast<int32_t>(place >> 16);
        if (frame >= length) {
            if (!src.loop) {
                *ended = true;
                place = em_placeword(frame, static_cast<int32_t>(place & 0xFFFF));
                break;
            }
            frame = em_wrapindex(frame, length);
            place = em_placeword(frame, static_cast<int32_t>(place & 0xFFFF));
        }
    }
    p->frame = static_cast<int32_t>(place >> 16);
    p->frac = static_cast<int32_t>(place & 0xFFFF);
    return f;
}

int32_t em_mixramped(const em_source& src, em_place* p, em_rampvalues* now, const em_rampvalues& target, int32_t* out, int32_t n,
                     bool* ended)
{
    *ended = false;
    if (n <= 0)
        return 0;
    em_glides g = em_glideincs(*now, target, n);
    // The runs bound the steps by the first and last frame's: the step's
    // glide must not wrap in 32 bits within the buffer. They also take the
    // read place as a frame on the sample.
    const int64_t laststep = em_laststep(now->step, g.stepinc, n);
    int32_t f;
    if (laststep < INT32_MIN || laststep > INT32_MAX || p->frame < 0 || p->frame >= src.length || p->frac < 0 ||
        p->frac > 0xFFFF) {
        f = src.channels == 2 ? em_mixrampframes<2>(src, p, now, g, out, n, ended)
                              : em_mixrampframes<1>(src, p, now, g, out, n, ended);
    } else {
        g.step = em_glide(now->step, g.stepinc);
        g.volume = em_glide(now->volume, g.volinc);
        g.pan = em_glide(now->pan, g.paninc);
        const int32_t last = static_cast<int32_t>(laststep);
        f = src.channels == 2 ? em_mixrampruns<2>(src, p, g, last, out, n, ended)
                              : em_mixrampruns<1>(src, p, g, last, out, n, ended);
    }
    em_landontarget(now, target, g);
    return f;
}

// ---------------------------------------------------------------------------
// Two read heads: the positioned voice
// ---------------------------------------------------------------------------

// One ear: read place, the per-frame correction of its step, the value in
// force and whether it has passed the end.
struct em_head {
    int32_t frame;
    int32_t frac;
    int64_t correction; // 16.16 added to the step each frame
    int32_t value;
    bool ended;
};

// A head put outside the sample from outside: wrapped when looping, else ended.
static void em_placehead(em_head* h, const em_source& src)
{
    if (h->frame < src.length)
        return;
    if (src.loop)
        h->frame %= src.length;
    else
        h->ended = true;
}

// Reads the head's value (a head before the start keeps its last one), then
// advances it and tests the end.
template <int channels> static inline void em_headframe(em_head* h, const em_source& src, int32_t step)
{
    if (h->ended)
        return;
    if (h->frame >= 0)
        h->value = em_headread<channels>(src, h->frame, h->frac);
    const int64_t acc = h->frac + static_cast<int64_t>(step) + h->correction;
    h->frac = static_cast<int32_t>(acc & 0xFFFF);
    h->frame = em_clamp32(h->frame + em_sar64(acc, 16));
    if (h->frame < src.length)
        return;
    if (src.loop) {
        h->frame -= src.length;
        if (h->frame >= src.length)
            h->frame %= src.length;
    } else {
        h->ended = true;
        h->value = 0;
    }
}

// The right head's lead over the left one in 16.16 sample frames. On a loop,
// a head that wrapped before the other counts a whole length ahead.
static int32_t em_headlead(const em_head& l, const em_head& r, const em_source& src)
{
    int64_t frames = static_cast<int64_t>(r.frame) - l.frame;
    if (src.loop) {
        if (frames > src.length / 2)
            frames -= src.length;
        else if (frames < -(src.length / 2))
            frames += src.length;
    }
    return em_clamp32(frames * 65536 + (r.frac - l.frac));
}

// Frames from the 16.16 place p (p >= 0) that a head moving by lo .. hi a
// frame can mix with every read at a place >= 0 and every advance short of
// limit: none of them needs the end test. At most left.
static inline int32_t em_headrunlength(int64_t p, int64_t limit, int64_t lo, int64_t hi, int32_t left)
{
    if (p >= limit)
        return 0;
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

// One frame of both heads at the step, gain and pan in force.
template <int channels>
static inline void em_headsframe(const em_source& src, em_head* left, em_head* right, int32_t step, int32_t gain, int32_t pan,
                                 int32_t* out)
{
    em_headframe<channels>(left, src, step);
    em_headframe<channels>(right, src, step);
    em_addsides(out, left->value, right->value, em_monogains(gain, pan));
}

// The frame-by-frame form, for glides that the clamping ramp may stop.
template <int channels>
static void em_mixheadframes(const em_source& source, em_head* left, em_head* right, em_rampvalues now, const em_glides& inc,
                             int32_t* out, int32_t n)
{
    const em_source src = source; // held apart from out, which could alias it
    int64_t stepacc = 0, gainacc = 0, panacc = 0;
    for (int32_t f = 0; f < n && !(left->ended && right->ended); f++) {
        const em_rampvalues v = now;
        em_rampclamping(&now.step, &stepacc, inc.stepinc);
        em_rampclamping(&now.volume, &gainacc, inc.volinc);
        em_rampclamping(&now.pan, &panacc, inc.paninc);
        em_headsframe<channels>(src, left, right, v.step, v.volume, v.pan, out + 2 * f);
    }
}

// A head's place as a run's 16.16 word, and back with the value the run read last.
static void em_placerun(int64_t* place, const em_head& h)
{
    *place = em_placeword(h.frame, h.frac);
}
static void em_takerun(em_head* h, int64_t place, int32_t value)
{
    h->frame = static_cast<int32_t>(em_sar64(place, 16));
    h->frac = static_cast<int32_t>(place & 0xFFFF);
    h->value = value;
}

// The same frames cut into runs that cannot reach the end: a frame where a
// head is outside the sample or may reach the end goes frame by frame.
template <int channels>
static void em_mixheadruns(const em_source& source, em_head* left, em_head* right, const em_rampvalues& now, const em_glides& inc,
                           int32_t* out, int32_t n)
{
    const em_source src = source; // held apart from out, which could alias it
    const em_runs* runs = em_mixruns();
    em_headrun r = {0,
                    0,
                    left->correction,
                    right->correction,
                    {em_glide(now.step, inc.stepinc), em_glide(now.volume, inc.volinc), em_glide(now.pan, inc.paninc),
                     inc.stepinc, inc.volinc, inc.paninc},
                    0,
                    0};
    // The steps of the buffer lie between the first and the last frame's.
    const int32_t laststep = em_glidefield(r.g.step + (n - 1) * inc.stepinc);
    const int64_t limit = em_runlimit(src);
    for (int32_t f = 0; f < n && !(left->ended && right->ended);) {
        const int32_t step = em_glidefield(r.g.step);
        if (!left->ended && !right->ended && left->frame >= 0 && right->frame >= 0) {
            const int64_t lo = step < laststep ? step : laststep, hi = step < laststep ? laststep : step;
            em_placerun(&r.left, *left);
            em_placerun(&r.right, *right);
            int32_t run = em_headrunlength(r.left, limit, lo + left->correction, hi + left->correction, n - f);
            run = em_headrunlength(r.right, limit, lo + right->correction, hi + right->correction, run);
            if (run > 0) {
                r.leftvalue = left->value;
                r.rightvalue = right->value;
                runs->heads[channels - 1](out + 2 * f, src, &r, run);
                em_takerun(left, r.left, r.leftvalue);
                em_takerun(right, r.right, r.rightvalue);
                f += run;
                continue;
            }
        }
        const int32_t gain = em_glidefield(r.g.volume), pan = em_glidefield(r.g.pan);
        r.g.step += inc.stepinc;
        r.g.volume += inc.volinc;
        r.g.pan += inc.paninc;
        em_headsframe<channels>(src, left, right, step, gain, pan, out + 2 * f);
        f++;
    }
}

int em_mixheads(const em_source& src, em_heads* h, const em_headvalues& target, int32_t* out, int32_t n)
{
    if (n <= 0)
        return 0;
    em_rampvalues now = {h->now.step, h->now.gain, h->now.pan};
    const em_rampvalues to = {target.step, target.gain, target.pan};
    const em_glides inc = em_glideincs(now, to, n);
    // The heads drift apart (or together) by the change of offset, half each.
    const int64_t drift = (static_cast<int64_t>(target.offset) - h->now.offset) / (2 * static_cast<int64_t>(n));
    em_head left = {h->left.frame, h->left.frac, -drift, 0, false};
    em_head right = {h->right.frame, h->right.frac, drift, 0, false};
    em_placehead(&left, src);
    em_placehead(&right, src);
    // Gain and pan glide between two 32-bit values and never meet the clamp;
    // a step glide in eighths may overshoot its target and meet it.
    const int64_t laststep = em_laststep(now.step, inc.stepinc, n);
    const bool runs = laststep >= INT32_MIN && laststep <= INT32_MAX;
    if (src.channels == 2)
        runs ? em_mixheadruns<2>(src, &left, &right, now, inc, out, n)
             : em_mixheadframes<2>(src, &left, &right, now, inc, out, n);
    else
        runs ? em_mixheadruns<1>(src, &left, &right, now, inc, out, n)
             : em_mixheadframes<1>(src, &left, &right, now, inc, out, n);
    em_landontarget(&now, to, inc);
    h->left = {left.frame, left.frac};
    h->right = {right.frame, right.frac};
    h->now = {now.step, now.volume, now.pan, em_headlead(left, right, src)};
    return (left.ended ? 1 : 0) | (right.ended ? 2 : 0);
}

// ---------------------------------------------------------------------------
// The instruction set of the runs
// ---------------------------------------------------------------------------

static int em_detectsimd()
{
#if defined(__x86_64__)
    int cap = EM_SIMDSSE2;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        cap = EM_SIMDAVX2;
    const char* asked = getenv("EM_SIMD");
    if (getenv("EM_NOSIMD") || (asked && strcmp(asked, "none") == 0))
        return EM_SIMDNONE;
    if (asked && strcmp(asked, "sse2") == 0)
        return EM_SIMDSSE2;
    return cap;
#else
    return EM_SIMDNONE;
#endif
}

int em_simdlevel()
{
    static const int level = em_detectsimd();
    return level;
}

const char* em_simdname(int level)
{
    switch (level) {
    case EM_SIMDSSE2: return "sse2";
    case EM_SIMDAVX2: return "avx2";
    default: return "none";
    }
}

const em_runs* em_mixruns()
{
#if defined(__x86_64__)
    static const em_runs* runs = em_simdlevel() == EM_SIMDAVX2   ? &em_avx2runs
                                 : em_simdlevel() == EM_SIMDSSE2 ? &em_sse2runs
                                                                 : &em_plainruns;
    return runs;
#else
    return &em_plainruns;
#endif
}
