// em_sampler.cpp -- the one-shot sample player: a sampler node that starts one
// voice node per play request, and the voice that mixes its sample into the
// sampler's buffer until it ends
#include <cstdlib>

#include "em/em_local.h"

enum {
    EMTAG_SAMPLERMIX = 930, // a sampler's mix buffer
    EMTAG_SAMPLER = 931,    // one em_sampler record
    EMTAG_SCHANNEL = 932    // one em_schannel record
};

// 1 when the node is of this file's type (its data can be read as such).
static int em_issampler(const em_node* node);
// 1 when the node is a sampler voice.
static int em_isschannel(const em_node* node);

// ---------------------------------------------------------------------------
// Mixing: the voice's place (a value index for stereo) through the mixing core
// ---------------------------------------------------------------------------

static em_place em_voiceplace(const em_schannel* ch, int channels)
{
    return {ch->pos / channels, ch->frac};
}

static void em_setvoiceplace(em_schannel* ch, int channels, const em_place& p)
{
    ch->pos = channels * p.frame;
    ch->frac = p.frac;
}

// A voice at its own step and gains, through em_mixsteady.
static int em_mixsteadyvoice(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const em_source src = em_voicesource(s, ch->flags);
    em_place p = em_voiceplace(ch, src.channels);
    bool ended = false;
    const int32_t m = em_mixsteady(src, &p, ch->step, em_voicegains(src.channels, ch->volume, ch->pan), out, frames, &ended);
    em_setvoiceplace(ch, src.channels, p);
    return ended ? (m > 0 ? m : 1) : 0;
}

// A voice sliding over the buffer to its targets (a ramp: each field whose
// target differs moves), its volume to a fade's if it fades; the ramp is then
// done. A fade alone that ends inside the buffer glides over its own frames
// and the rest of the buffer holds its volume.
static int em_mixrampedvoice(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    const em_source src = em_voicesource(s, ch->flags);
    em_place p = em_voiceplace(ch, src.channels);
    em_rampvalues now = {ch->step, ch->volume, ch->pan};
    em_rampvalues target = now;
    int32_t glide = frames;
    if (ch->flags & EMF_RAMP)
        target = {ch->tstep, ch->tvolume, ch->tpan};
    else if (ch->fadeset && ch->fadeframes < frames)
        glide = ch->fadeframes;
    if (ch->fadeset)
        target.volume = ch->fadeto;
    bool ended = false;
    int32_t m = 0;
    if (glide > 0)
        m = em_mixramped(src, &p, &now, target, out, glide, &ended);
    else
        now = target;
    em_setvoiceplace(ch, src.channels, p);
    ch->step = now.step;
    ch->volume = now.volume;
    ch->pan = now.pan;
    ch->flags &= ~static_cast<uint32_t>(EMF_RAMP);
    ch->fadeset = 0;
    if (ended)
        return m > 0 ? m : 1;
    if (glide == frames)
        return 0;
    const int32_t rest = em_mixsteadyvoice(ch, s, out + 2 * glide, frames - glide);
    return rest > 0 ? glide + rest : 0;
}

// ---------------------------------------------------------------------------
// What the voices of both samplers share
// ---------------------------------------------------------------------------

int em_setvoicelimit(em_voicelimit* limit, int id, int32_t value)
{
    if (id == EMP_MAXVOICES && value >= 0 && value < EM_MAXHANDLES)
        limit->maxvoices = value;
    else if (id == EMP_STEALMODE && value >= EMSTEAL_REFUSE && value <= EMSTEAL_QUIETEST)
        limit->stealmode = value;
    else
        return -1;
    return 0;
}

// 1 when the sampler's playing voices fill its maximum; *victim is then the
// voice its steal mode gives up, or null when it refuses. Voices fading out
// after a steal no longer count. The children come newest first, so the last
// one seen is the oldest, and among equally quiet ones the oldest wins.
static int em_atlimit(em_node* sampler, const em_voicekind* kind, const em_voicelimit* limit, em_node** victim)
{
    *victim = nullptr;
    if (limit->maxvoices == 0)
        return 0;
    int32_t playing = 0;
    int64_t quietest = 0;
    for (em_node* n = sampler->child; n; n = n->next) {
        em_voiceview v;
        if (!kind->view(n, &v) || !(*v.flags & EMF_PLAYING) || *v.stolen)
            continue;
        playing++;
        if (limit->stealmode == EMSTEAL_OLDEST ||
            (limit->stealmode == EMSTEAL_QUIETEST && (!*victim || v.loudness <= quietest))) {
            *victim = n;
            quietest = v.loudness;
        }
    }
    if (playing >= limit->maxvoices)
        return 1;
    *victim = nullptr;
    return 0;
}

// A voice gives way: one that has sounded fades out over its next buffer and
// ends there. One no buffer has been mixed of yet (triggered since the last
// buffer, or waiting for its start clock) has nothing to fade and ends now,
// its end told with the clock of the next buffer's first frame.
static void em_stealvoice(em_node* node, const em_voicekind* kind)
{
    em_voiceview v;
    kind->view(node, &v);
    if (v.heard)
        *v.stolen = 1;
    else
        em_endvoice(node, v.flags, v.sample, 0);
}

em_node* em_requestvoice(const char* caller, em_node* sampler, int sample, bool ondemand, const em_voicekind* kind,
                         const em_voicelimit* limit, const em_sample** entry)
{
    if (sample == 0) {
        emio_print("warning: %s tried to play sample zero\n", caller);
        return nullptr;
    }
    if (!ondemand)
        return nullptr;
    *entry = em_getsample(sample);
    if (!*entry) {
        emio_print("warning: %s tried to play sample %d, which is not loaded\n", caller, sample);
        return nullptr;
    }
    // A refusal at the maximum is the program's own choice: it is not warned of.
    em_node* victim = nullptr;
    if (em_atlimit(sampler, kind, limit, &victim) && !victim)
        return nullptr;
    em_node* node = kind->make(sampler, 1);
    if (!node)
        emio_print("warning: %s couldn't create chnode\n", caller);
    else if (victim)
        em_stealvoice(victim, kind);
    return node;
}

const em_sample* em_voicesample(int32_t sample)
{
    const em_sample* s = em_getsample(sample);
    return s && s->data && s->length > 0 ? s : nullptr;
}

void em_endvoice(em_node* node, uint32_t* flags, int32_t sample, int32_t lastframe)
{
    em_postevent(EME_VOICEEND, node->handle, sample, em_frameclock(lastframe));
    if (*flags & EMF_AUTOFREE)
        em_destroynode(node);
    else
        *flags &= ~static_cast<uint32_t>(EMF_PLAYING);
}

// ---------------------------------------------------------------------------
// Voice node
// ---------------------------------------------------------------------------

// Puts a read index set from outside back on the sample: never negative, on
// a left value for stereo, wrapped (looping) or ended (1) when past the end.
static int em_placevoice(em_schannel* ch, const em_sample* s)
{
    if (ch->pos < 0)
        ch->pos = 0;
    if (s->channels == 2)
        ch->pos &= ~1;
    em_place p = em_voiceplace(ch, s->channels);
    if (em_placeread(&p, em_voicesource(s, ch->flags)))
        return 1;
    em_setvoiceplace(ch, s->channels, p);
    return 0;
}

int em_mixschannel(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    if ((ch->flags & EMF_RAMP) || ch->fadeset)
        return em_mixrampedvoice(ch, s, out, frames);
    return em_mixsteadyvoice(ch, s, out, frames);
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
    const em_sample* s = em_voicesample(ch->sample);
    ch->fadeset = em_voicefade(node, &ch->fadeto, &ch->fadeframes);
    const int32_t skip = em_startoffset(node); // frames before a voice started at a clock
    if (ch->stolen) {
        // A stolen voice's volume glides to 0 over the whole buffer, then it ends.
        ch->fadeset = 1;
        ch->fadeto = 0;
        ch->fadeframes = emstate.samples - skip;
    }
    ch->heard = 1;
    int ended = 1;
    int32_t* mix = em_voicemixbuffer(&ch->filter, out);
    if (s && !em_placevoice(ch, s))
        ended = em_mixschannel(ch, s, mix + 2 * skip, emstate.samples - skip);
    em_filtervoice(&ch->filter, out);
    if (!ended && !ch->stolen)
        return;
    ch->stolen = 0;
    em_endvoice(node, &ch->flags, ch->sample, ended ? skip + ended - 1 : emstate.samples - 1);
}

// What a voice limit reads of a sampler voice: its loudness is the gain its
// volume and pan give the louder output side (a full-scale frame there).
static int em_schannelview(em_node* node, em_voiceview* v)
{
    if (!em_isschannel(node))
        return 0;
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    const em_sample* s = em_voicesample(ch->sample);
    const em_gains g = em_voicegains(s ? s->channels : 1, ch->volume, ch->pan);
    const int64_t left = std::llabs(g.ll) + std::llabs(g.lr);
    const int64_t right = std::llabs(g.rl) + std::llabs(g.rr);
    *v = {&ch->flags, &ch->stolen, ch->sample, ch->heard, left > right ? left : right};
    return 1;
}

static int em_schannelsetparam(em_node* node, int id, int32_t value)
{
    return em_voicesetparam(static_cast<em_schannel*>(node->data), id, value);
}

static int em_schannelgetparam(em_node* node, int id)
{
    return em_voicegetparam(static_cast<const em_schannel*>(node->data), id);
}

static int em_schannelsetparamf(em_node* node, int id, float value)
{
    return em_setvoicefilter(&static_cast<em_schannel*>(node->data)->filter, id, value);
}

static float em_schannelgetparamf(em_node* node, int id)
{
    return em_getvoicefilter(&static_cast<const em_schannel*>(node->data)->filter, id);
}

// The callbacks of the type; the others keep the engine's defaults.
static void em_installschannel(em_node* node)
{
    node->process = em_schannelprocess;
    node->destroy = em_freenodedata;
    node->setparam = em_schannelsetparam;
    node->getparam = em_schannelgetparam;
    node->setparamf = em_schannelsetparamf;
    node->getparamf = em_schannelgetparamf;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_schanneltype = {em_installschannel,
                                            0,
                                            EMTAG_SCHANNEL,
                                            sizeof(em_schannel),
                                            "em_initschannel: can't create node",
                                            nullptr,
                                            "em_initschannel: can't allocate schannel"};

static int em_isschannel(const em_node* node)
{
    return em_isnodetype(node, &em_schanneltype);
}

em_node* em_initschannel(em_node* parent, int autofree)
{
    (void)parent; // the caller attaches the finished voice
    em_node* node = em_makenode(&em_schanneltype, nullptr);
    if (!node)
        return nullptr;
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    ch->volume = 256;
    ch->step = 0x10000;
    em_settargetsnow(ch);
    ch->flags = autofree ? static_cast<uint32_t>(EMF_AUTOFREE) : 0u;
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
    case EMP_LOOP: em_setflag(&sm->flags, EMS_LOOP, value); return 0;
    case EMP_DEFFLAGS: sm->flags = static_cast<uint32_t>(value); return 0;
    case EMP_INTERPOLATE: em_setflag(&sm->flags, EMS_INTERPOLATE, value); return 0;
    case EMP_MAXVOICES:
    case EMP_STEALMODE: return em_setvoicelimit(&sm->limit, id, value);
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
    case EMP_INTERPOLATE: return (sm->flags & EMS_INTERPOLATE) ? 1 : 0;
    case EMP_MAXVOICES: return sm->limit.maxvoices;
    case EMP_STEALMODE: return sm->limit.stealmode;
    default: return -1;
    }
}

// The callbacks of the type; the others keep the engine's defaults.
static void em_installsampler(em_node* node)
{
    node->process = em_mixtoparent;
    node->destroy = em_freenodedata;
    node->setparam = em_samplersetparam;
    node->getparam = em_samplergetparam;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_samplertype = {em_installsampler,
                                           EMTAG_SAMPLERMIX,
                                           EMTAG_SAMPLER,
                                           sizeof(em_sampler),
                                           "em_initsampler: can't create node",
                                           "em_initsampler: can't allocate mix buffer",
                                           "em_initsampler: can't allocate sampler"};

static int em_issampler(const em_node* node)
{
    return em_isnodetype(node, &em_samplertype);
}

em_node* em_initsampler(em_node* parent, int mode)
{
    em_node* node = em_makenode(&em_samplertype, nullptr);
    if (!node)
        return nullptr;
    em_sampler* sm = static_cast<em_sampler*>(node->data);
    sm->volume = 256;
    sm->pan = 0;
    sm->pitch = 0x10000;
    sm->flags = mode < 0 ? static_cast<uint32_t>(EMS_ONDEMAND) : 0u;
    em_attachnode(node, parent);
    return node;
}

int em_playsampler(em_node* sampler, int sample)
{
    const em_sampler* sm = static_cast<const em_sampler*>(sampler->data);
    const em_sample* entry = nullptr;
    static const em_voicekind kind = {em_initschannel, em_schannelview};
    em_node* node =
        em_requestvoice("em_playsampler", sampler, sample, (sm->flags & EMS_ONDEMAND) != 0, &kind, &sm->limit, &entry);
    if (!node)
        return 0;
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    ch->pan = sm->pan;
    ch->step = em_pitchstep(entry->step, sm->pitch);
    ch->volume = sm->volume;
    em_settargetsnow(ch);
    ch->sample = sample;
    ch->flags |= EMF_PLAYING;
    if (sm->flags & EMS_LOOP)
        ch->flags |= EMF_LOOP;
    if (sm->flags & EMS_INTERPOLATE)
        ch->flags |= EMF_INTERPOLATE;
    em_attachnode(node, sampler);
    return node->handle;
}

int em_createsampler(int parent, int mode)
{
    return em_createunder(parent, [&](em_node* up) { return em_initsampler(up, mode); });
}

int em_triggersample(int sampler, int sample)
{
    // Only a sampler's data can be read as a sampler.
    return em_onnode(sampler, 0, [&](em_node* n) { return em_issampler(n) ? em_playsampler(n, sample) : 0; });
}

int em_triggersampleat(int sampler, int sample, uint32_t sampleclock)
{
    return em_onnode(sampler, 0,
                     [&](em_node* n) { return em_issampler(n) ? em_startvoiceat(em_playsampler(n, sample), sampleclock) : 0; });
}
