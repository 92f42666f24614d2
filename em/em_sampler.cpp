// em_sampler.cpp -- one-shot sample player and its voices: creation, parameters,
// the voice process and its specialised mixing loops
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
    int32_t ll;     // left from left
    int32_t lr;     // left from right
    int32_t rl;     // right from left
    int32_t rr;     // right from right
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
    for (int32_t f = 0; f < frames; f++) {
        em_addmono(out + 2 * f, data[index], g);
        if (++index >= end) {
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
    int32_t index = ch->pos;
    int32_t frac = ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames; f++) {
        em_addmono(out + 2 * f, data[index], g);
        index += em_advance(&frac, step);
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
    int64_t stepinc, volinc, paninc;    // 16.16 per frame
    int64_t stepacc, volacc, panacc;    // carried fractions
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

int em_mixmonoramp(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const int32_t* data = s->data;
    const int32_t end = s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    em_ramp r = em_startramp(ch, frames);
    int32_t index = ch->pos;
    int32_t frac = ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames; f++) {
        const int32_t value = data[index];
        index += em_advance(&frac, em_forwardstep(ch->step));
        if (index >= end) {
            if (loop)
                index = em_wrapindex(index, end);
            else
                ended = 1;
        }
        const em_monogain g = em_monogains(ch->volume, ch->pan);
        em_rampstep(ch, &r);
        em_addmono(out + 2 * f, value, g);
        if (ended)
            break;
    }
    ch->pos = index;
    ch->frac = frac;
    em_finishramp(ch, r);
    return ended;
}

int em_mixstereo(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const int32_t* data = s->data;
    const int32_t end = 2 * s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const em_stereogain g = em_stereogains(ch->volume, ch->pan);
    int32_t index = ch->pos;
    int ended = 0;
    for (int32_t f = 0; f < frames; f++) {
        em_addstereo(out + 2 * f, data[index], data[index + 1], g);
        index += 2;
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
    for (int32_t f = 0; f < frames; f++) {
        em_addstereo(out + 2 * f, data[index], data[index + 1], g);
        index += 2 * em_advance(&frac, step);
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
    const int32_t* data = s->data;
    const int32_t end = 2 * s->length;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    em_ramp r = em_startramp(ch, frames);
    int32_t index = ch->pos;
    int32_t frac = ch->frac;
    int ended = 0;
    for (int32_t f = 0; f < frames; f++) {
        const int32_t left = data[index];
        const int32_t right = data[index + 1];
        index += 2 * em_advance(&frac, em_forwardstep(ch->step));
        if (index >= end) {
            if (loop)
                index = em_wrapindex(index, end);
            else
                ended = 1;
        }
        const em_stereogain g = em_stereogains(ch->volume, ch->pan);
        em_rampstep(ch, &r);
        em_addstereo(out + 2 * f, left, right, g);
        if (ended)
            break;
    }
    ch->pos = index;
    ch->frac = frac;
    em_finishramp(ch, r);
    return ended;
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

static void em_freedata(em_node* node)
{
    if (node->data)
        emio_free(node->data);
    node->data = nullptr;
}

static int em_schannelsetparam(em_node* node, int id, int32_t value)
{
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    switch (id) {
    case EMP_VOLUME: ch->volume = value; return 0;
    case EMP_PITCH: ch->step = value; return 0;
    case EMP_PAN: ch->pan = value; return 0;
    case EMP_FLAGS: ch->flags = static_cast<uint32_t>(value); return 0;
    case EMP_SAMPLE: ch->sample = value; return 0;
    case EMP_POSITION:
        ch->pos = value;
        ch->frac = 0;
        return 0;
    case EMP_TARGETVOLUME:
        ch->tvolume = value;
        ch->flags |= EMF_RAMP;
        return 0;
    case EMP_TARGETPITCH:
        ch->tstep = value;
        ch->flags |= EMF_RAMP;
        return 0;
    case EMP_TARGETPAN:
        ch->tpan = value;
        ch->flags |= EMF_RAMP;
        return 0;
    default: return -1;
    }
}

static int em_schannelgetparam(em_node* node, int id)
{
    const em_schannel* ch = static_cast<const em_schannel*>(node->data);
    switch (id) {
    case EMP_VOLUME: return ch->volume;
    case EMP_PITCH: return ch->step;
    case EMP_PAN: return ch->pan;
    case EMP_FLAGS: return static_cast<int>(ch->flags);
    case EMP_SAMPLE: return ch->sample;
    case EMP_POSITION: return ch->pos;
    case EMP_STATE: return (ch->flags & EMF_PLAYING) ? 3 : ch->sample != 0 ? 1 : 0;
    default: return -1;
    }
}

em_node* em_initschannel(em_node* parent, int autofree)
{
    (void)parent;   // the caller attaches the finished voice
    em_node* node = em_createnode(nullptr);
    if (!node) {
        emio_error("em_initschannel: can't create node");
        return nullptr;
    }
    node->process = em_schannelprocess;
    node->destroy = em_freedata;
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
    em_node* node = em_createnode(nullptr);
    if (!node) {
        emio_error("em_initsampler: can't create node");
        return nullptr;
    }
    node->mixbuf = static_cast<int32_t*>(emio_calloc(static_cast<uint32_t>(emstate.samples) * 2, sizeof(int32_t), EMTAG_SAMPLERMIX));
    if (!node->mixbuf) {
        emio_error("em_initsampler: can't allocate mix buffer");
        em_destroynode(node);
        return nullptr;
    }
    node->process = em_mixtoparent;
    node->destroy = em_freedata;
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
