// em_sampler3d.cpp -- positioned one-shot voices around a listener: distance
// models, cones, pan, Doppler step and an ear delay read with two heads
#include <algorithm>
#include <cmath>

#include "em/em_local.h"

enum {
    EMTAG_SAMPLER3DMIX = 940, // a sampler3d's mix buffer
    EMTAG_SAMPLER3D = 941,    // one em_sampler3d record
    EMTAG_S3CHANNEL = 942     // one em_s3channel record
};

// 1 when the node is of this file's type (its data can be read as such).
static int em_issampler3d(const em_node* node);

// ---------------------------------------------------------------------------
// Spatial target
// ---------------------------------------------------------------------------

// The share of the volume heard at distance dist under the source's model, 0..1.
// EMD_FALLOFF: linear to 0 at maxdistance, nothing inside a range of 0 or less,
// and a distance that is not a number is out of range; for the other models
// any distance that is not finite is.
static float em_s3distance(const em_s3shape* sh, float dist)
{
    const float ref = sh->refdistance, max = sh->maxdistance, rolloff = sh->rolloff;
    if (sh->model == EMD_FALLOFF)
        return !(max > 0.0f) || !(dist < max) ? 0.0f : 1.0f - dist / max;
    if (!std::isfinite(dist))
        return 0.0f;
    // The clamped models hold the distance within ref..max, at ref where max lies below it.
    const bool clamped = sh->model == EMD_INVERSECLAMPED || sh->model == EMD_LINEARCLAMPED || sh->model == EMD_EXPONENTCLAMPED;
    const float d = clamped ? std::max(ref, std::min(dist, max)) : dist;
    float share;
    if (sh->model <= EMD_INVERSECLAMPED) {
        const float sum = ref + rolloff * (d - ref);
        share = sum > 0.0f ? ref / sum : 1.0f;
    } else if (sh->model <= EMD_LINEARCLAMPED) {
        share = max > ref ? 1.0f - rolloff * (d - ref) / (max - ref) : d <= ref ? 1.0f : 0.0f;
    } else {
        share = std::pow(d / ref, -rolloff);
    }
    // Never louder than at the reference distance; what is not a number is silence.
    return share > 1.0f ? 1.0f : share > 0.0f ? share : 0.0f;
}

// The cone's share for a source whose unit direction to the listener is -d:
// 1 within half the inner angle of its axis, the outer gain beyond half the
// outer angle, linear in the angle between. A source at the listener (d zero)
// has no direction and is heard whole.
static float em_s3cone(const em_s3shape* sh, const em_vector* d, float length)
{
    const float inner = sh->coneinner * 0.5f, outer = sh->coneouter * 0.5f, gain = sh->coneoutergain;
    if (inner >= 180.0f || !(length > 0.0f))
        return 1.0f;
    const float cosine = -em_vecdot(d, &sh->direction);
    const float angle = std::acos(std::max(-1.0f, std::min(1.0f, cosine))) * (180.0f / 3.14159265f);
    if (angle <= inner)
        return 1.0f;
    if (angle >= outer)
        return gain;
    return 1.0f + (gain - 1.0f) * (angle - inner) / (outer - inner);
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
            t->gain = eighth ? em_clamp32(t->gain * (t->step - eighth) / eighth) : 0;
        else if (t->step > static_cast<int64_t>(s) * 7)
            t->gain = em_clamp32(t->gain * (static_cast<int64_t>(s) * 8 - t->step) / s);
        return;
    }
    t->gain = 0;
    t->step = vr <= 0.0f ? em_clamp32(static_cast<int64_t>(s) * 8) : em_ftoi(static_cast<float>(s) * 0.125f);
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
    const em_s3shape* sh = &ch->shape;
    em_s3target t = {};
    // A relative source is placed and moves in the listener's frame already.
    em_vector d = ch->position, local = ch->position, relative = ch->velocity;
    if (!sh->relative) {
        d = em_vecsub(&ch->position, &l->position);
        // Listener coordinates: x right, y up, z behind.
        local = {em_vecdot(&d, &l->right), em_vecdot(&d, &l->up), -em_vecdot(&d, &l->forward)};
        relative = em_vecsub(&ch->velocity, &l->velocity);
    }
    const float dist = em_vecnormalise(&local);
    const float length = em_vecnormalise(&d);
    // A source at the listener has no direction: it is heard centred, undelayed.
    t.gain = em_ftoi(static_cast<float>(ch->volume) * (em_s3distance(sh, dist) * em_s3cone(sh, &d, length)));
    const float side = em_s3side(local.x);
    const int32_t pan = em_ftoi(side * 128.0f);
    t.pan = pan > 128 ? 128 : pan < -128 ? -128 : pan;
    // A negative step would read before the sample: such a voice holds still.
    const int32_t s = ch->step < 0 ? 0 : ch->step;
    const float c = l->soundspeed;
    // No usable speed of sound (0, not finite, or so large that the step's
    // arithmetic would leave the float range): sound arrives at once, without
    // Doppler or ear delay.
    t.step = s;
    if (c == 0.0f || !std::isfinite(c * 65536.0f))
        return t;
    // A negative speed of sound has no radial speed inside the Doppler range:
    // the voice is silent with its step pinned, as beyond the range, with
    // Doppler turned off (factor 0) too.
    if (sh->doppler != 0.0f || c < 0.0f)
        em_s3doppler(&t, s, em_vecdot(&d, &relative) * sh->doppler, c);
    const float delay = static_cast<float>(emstate.freq) * side * l->eardistance / c;
    t.itd = em_ftoi(delay);
    t.offset = em_ftoi(static_cast<float>(t.step) * delay);
    return t;
}

// ---------------------------------------------------------------------------
// Mixing: the two heads glide to the geometry's target over one buffer
// ---------------------------------------------------------------------------

int em_mixs3channel(em_s3channel* ch, const em_sample* s, int32_t* out, int32_t frames)
{
    if (frames <= 0)
        return 0;
    ch->mixed = 1;
    const em_s3target t = em_s3spatial(ch);
    em_heads h = {{ch->posl, ch->fracl}, {ch->posr, ch->fracr}, {ch->curstep, ch->curgain, ch->curpan, ch->offset}};
    const int ended = em_mixheads(em_voicesource(s, ch->flags), &h, {t.step, t.gain, t.pan, t.offset}, out, frames);
    ch->posl = h.left.frame;
    ch->fracl = h.left.frac;
    ch->posr = h.right.frame;
    ch->fracr = h.right.frac;
    ch->curstep = h.now.step;
    ch->curgain = h.now.gain;
    ch->curpan = h.now.pan;
    ch->offset = h.now.offset;
    // Heads that stand still have no delay in frames: the geometry's stands.
    ch->itd = ch->curstep != 0 ? em_div32(ch->offset, ch->curstep) : t.itd;
    return ended;
}

// Takes the geometry's target as the state in force, so that the first buffer
// does not glide from nothing or from an earlier place: the ear ahead stays on
// the frame the voice starts reading, the far ear starts behind, at a negative
// index. For a voice no buffer has been mixed of.
static void em_s3start(em_s3channel* ch)
{
    const int32_t start = ch->itd >= 0 ? ch->posr : ch->posl;
    const em_s3target t = em_s3spatial(ch);
    ch->posl = ch->posr = start;
    ch->curstep = t.step;
    ch->curpan = t.pan;
    ch->itd = t.itd;
    ch->curgain = t.gain;
    ch->offset = t.offset;
    if (ch->itd >= 0)
        ch->posl -= em_sar32(ch->offset, 16);
    else
        ch->posr += em_sar32(ch->offset, 16);
}

// ---------------------------------------------------------------------------
// Distance and direction settings, the same on the 3-D sampler and its voices;
// each set returns 0, or -1 for an id not among them or a value refused
// ---------------------------------------------------------------------------

static int em_setshape(em_s3shape* sh, int id, int32_t value)
{
    switch (id) {
    case EMP_DISTANCEMODEL:
        if (value < EMD_FALLOFF || value > EMD_EXPONENTCLAMPED)
            return -1;
        sh->model = value;
        return 0;
    case EMP_RELATIVE:
        if (value != 0 && value != 1)
            return -1;
        sh->relative = value;
        return 0;
    default: return -1;
    }
}

static int em_getshape(const em_s3shape* sh, int id)
{
    switch (id) {
    case EMP_DISTANCEMODEL: return sh->model;
    case EMP_RELATIVE: return sh->relative;
    default: return -1;
    }
}

// Where each float setting lives, and its range: 0 (above 0 where open) up
// to high.
static float* em_shapefloat(em_s3shape* sh, int id, float* high, bool* open)
{
    *high = HUGE_VALF, *open = false;
    switch (id) {
    case EMP_REFDISTANCE: *open = true; return &sh->refdistance;
    case EMP_MAXDISTANCE: return &sh->maxdistance;
    case EMP_ROLLOFF: return &sh->rolloff;
    case EMP_CONEINNER: *high = 360.0f; return &sh->coneinner;
    case EMP_CONEOUTER: *high = 360.0f; return &sh->coneouter;
    case EMP_CONEOUTERGAIN: *high = 1.0f; return &sh->coneoutergain;
    case EMP_DOPPLERFACTOR: return &sh->doppler;
    default: return nullptr;
    }
}

static int em_setshapef(em_s3shape* sh, int id, float value)
{
    float high;
    bool open;
    float* field = em_shapefloat(sh, id, &high, &open);
    if (!field || !std::isfinite(value) || value < 0.0f || (open && value == 0.0f) || value > high)
        return -1;
    *field = value;
    return 0;
}

static float em_getshapef(em_s3shape* sh, int id)
{
    float high;
    bool open;
    const float* field = em_shapefloat(sh, id, &high, &open);
    return field ? *field : -1.0f;
}

// The cone's axis, kept as a unit vector: scaled by its largest coordinate
// first, so that neither a tiny nor a huge vector under- or overflows; a zero
// vector, which has no direction, and one not finite are refused.
static bool em_s3finite(const em_vector* v)
{
    return std::isfinite(v->x) && std::isfinite(v->y) && std::isfinite(v->z);
}

static int em_setdirection(em_s3shape* sh, const float* v)
{
    const float most = std::max(std::fabs(v[0]), std::max(std::fabs(v[1]), std::fabs(v[2])));
    if (!(most > 0.0f) || !std::isfinite(most))
        return -1;
    em_vector d = {v[0] / most, v[1] / most, v[2] / most};
    em_vecnormalise(&d);
    sh->direction = d;
    return 0;
}

// The settings of a new 3-D sampler: the linear fall-off to 256 units, no cone.
static const em_s3shape em_s3defaultshape = {EMD_FALLOFF, 0, 1.0f, 256.0f, 1.0f, 360.0f, 360.0f, 0.0f, 1.0f, {0.0f, 0.0f, -1.0f}};

// ---------------------------------------------------------------------------
// Voice node
// ---------------------------------------------------------------------------

// The listener a voice hears is its parent 3-D sampler's: 1 when it has one
// (taken as the voice's), 0 when the voice has been moved anywhere else, where
// it stays silent and never reads the record of a 3-D sampler destroyed after
// it left.
static int em_s3hears(em_node* node)
{
    if (!node->parent || !em_issampler3d(node->parent))
        return 0;
    static_cast<em_s3channel*>(node->data)->listener = static_cast<em_sampler3d*>(node->parent->data);
    return 1;
}

// After a change of the geometry (result 0): a voice no buffer has been mixed
// of starts from the new place and settings, around its parent's listener.
// Passes the result on.
static int em_s3restart(em_node* node, int result)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    if (result == 0 && !ch->mixed && em_s3hears(node))
        em_s3start(ch);
    return result;
}

static void em_s3channelprocess(em_node* node)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    if (!(ch->flags & EMF_PLAYING))
        return;
    // A fade sets the volume the gain glides to over the buffer.
    int32_t fadeframes = 0;
    em_voicefade(node, &ch->volume, &fadeframes);
    if (ch->stolen)
        ch->volume = 0; // a stolen voice's gain glides to 0 over the buffer, then it ends
    if (ch->flags & EMF_MOVING) {
        const float seconds = static_cast<float>(emstate.samples) * 1.0f / static_cast<float>(emstate.freq);
        em_vecaddscaled(&ch->position, seconds, &ch->velocity);
    }
    // A voice moved under another 3-D sampler hears that one's listener.
    if (!em_s3hears(node))
        return;
    int32_t* out = node->parent->mixbuf;
    if (!out)
        return;
    // A sample freed or never loaded ends the voice instead of being read.
    const em_sample* s = em_voicesample(ch->sample);
    const int32_t skip = em_startoffset(node); // frames before a voice started at a clock
    int32_t* mix = em_voicemixbuffer(&ch->filter, out);
    const int ended = !s || em_mixs3channel(ch, s, mix + 2 * skip, emstate.samples - skip);
    em_filtervoice(&ch->filter, out);
    if (!ended && !ch->stolen)
        return;
    // The heads' glide keeps no frame of the end: the buffer's last frame stands for it.
    ch->stolen = 0;
    em_endvoice(node, &ch->flags, ch->sample, emstate.samples - 1);
}

static int em_s3channelsetparam(em_node* node, int id, int32_t value)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    switch (id) {
    case EMP_VOLUME: ch->volume = value; return 0;
    case EMP_PITCH: ch->step = value; return 0;
    case EMP_FLAGS: ch->flags = static_cast<uint32_t>(value); return 0;
    case EMP_SAMPLE: ch->sample = value; return 0;
    case EMP_INTERPOLATE: em_setflag(&ch->flags, EMF_INTERPOLATE, value); return 0;
    case EMP_POSITION:
        // Both heads on one frame; the offset in force stays, so the next
        // buffer walks the heads from the offset they had to the new one.
        ch->posl = ch->posr = value;
        ch->fracl = ch->fracr = 0;
        ch->itd = 0;
        return 0;
    default:
        // EMP_PAN and EMP_STATE are refused: both are computed.
        return em_s3restart(node, em_setshape(&ch->shape, id, value));
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
    case EMP_STATE: return em_voicestate(ch->flags, ch->sample);
    case EMP_INTERPOLATE: return (ch->flags & EMF_INTERPOLATE) ? 1 : 0;
    default: return em_getshape(&ch->shape, id);
    }
}

// The voice's own filters, or how it is heard with distance and direction.
static int em_s3channelsetparamf(em_node* node, int id, float value)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    if (id == EMP_LOWPASS || id == EMP_HIGHPASS)
        return em_setvoicefilter(&ch->filter, id, value);
    return em_s3restart(node, em_setshapef(&ch->shape, id, value));
}

static float em_s3channelgetparamf(em_node* node, int id)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    if (id == EMP_LOWPASS || id == EMP_HIGHPASS)
        return em_getvoicefilter(&ch->filter, id);
    return em_getshapef(&ch->shape, id);
}

static int em_s3channelsetparamv(em_node* node, int id, const float* v)
{
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    switch (id) {
    case EMP_POSITION3D:
    case EMP_POSITION3DB: ch->position = em_vecfrom(v); return em_s3restart(node, 0);
    case EMP_VELOCITY3D:
    case EMP_VELOCITY3DB: ch->velocity = em_vecfrom(v); return em_s3restart(node, 0);
    case EMP_DIRECTION3D: return em_s3restart(node, em_setdirection(&ch->shape, v));
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
    case EMP_DIRECTION3D: em_vecto(v, &ch->shape.direction); return 0;
    default: return -1;
    }
}

// What a voice limit reads of a 3-D voice: its loudness is the gain the
// geometry gave its last buffer (distance, cone and Doppler included; for a
// voice not yet mixed, the gain of its first buffer).
static int em_s3channelview(em_node* node, em_voiceview* v);

// The callbacks of the type; the others keep the engine's defaults.
static void em_installs3channel(em_node* node)
{
    node->process = em_s3channelprocess;
    node->destroy = em_freenodedata;
    node->setparam = em_s3channelsetparam;
    node->getparam = em_s3channelgetparam;
    node->setparamf = em_s3channelsetparamf;
    node->getparamf = em_s3channelgetparamf;
    node->setparamv = em_s3channelsetparamv;
    node->getparamv = em_s3channelgetparamv;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_s3channeltype = {em_installs3channel,
                                             0,
                                             EMTAG_S3CHANNEL,
                                             sizeof(em_s3channel),
                                             "em_inits3channel: can't create node",
                                             nullptr,
                                             "em_inits3channel: can't allocate s3channel"};

static int em_s3channelview(em_node* node, em_voiceview* v)
{
    if (!em_isnodetype(node, &em_s3channeltype))
        return 0;
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    *v = {&ch->flags, &ch->stolen, ch->sample, ch->mixed, ch->curgain < 0 ? -static_cast<int64_t>(ch->curgain) : ch->curgain};
    return 1;
}

em_node* em_inits3channel(em_node* sampler3d, int autofree)
{
    // Only a sampler3d holds a listener a voice can be placed around.
    if (!em_issampler3d(sampler3d)) {
        emio_error("em_inits3channel: not a sampler3d");
        return nullptr;
    }
    em_node* node = em_makenode(&em_s3channeltype, nullptr);
    if (!node)
        return nullptr;
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    ch->listener = static_cast<em_sampler3d*>(sampler3d->data);
    ch->volume = 256;
    ch->step = 0x10000;
    ch->curgain = 256;
    ch->curstep = 0x10000;
    ch->flags = ch->listener->flags | (autofree ? static_cast<uint32_t>(EMF_AUTOFREE) : 0u);
    ch->shape = ch->listener->shape;
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
    case EMP_INTERPOLATE: em_setflag(&l->flags, EMF_INTERPOLATE, value); return 0;
    case EMP_MAXVOICES:
    case EMP_STEALMODE: return em_setvoicelimit(&l->limit, id, value);
    default: return em_setshape(&l->shape, id, value);
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
    case EMP_INTERPOLATE: return (l->flags & EMF_INTERPOLATE) ? 1 : 0;
    case EMP_MAXVOICES: return l->limit.maxvoices;
    case EMP_STEALMODE: return l->limit.stealmode;
    default: return em_getshape(&l->shape, id);
    }
}

static int em_sampler3dsetparamf(em_node* node, int id, float value)
{
    em_sampler3d* l = static_cast<em_sampler3d*>(node->data);
    switch (id) {
    case EMP_3DSCALE: l->soundspeed = value; return 0;
    case EMP_3DFACTOR: l->eardistance = value; return 0;
    default: return em_setshapef(&l->shape, id, value);
    }
}

static float em_sampler3dgetparamf(em_node* node, int id)
{
    em_sampler3d* l = static_cast<em_sampler3d*>(node->data);
    switch (id) {
    case EMP_3DSCALE: return l->soundspeed;
    case EMP_3DFACTOR: return l->eardistance;
    default: return em_getshapef(&l->shape, id);
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
    case EMP_DIRECTION3D: return em_setdirection(&l->shape, v);
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
    case EMP_DIRECTION3D: from = &l->shape.direction; break;
    default: return -1;
    }
    em_vecto(v, from);
    return 0;
}

// The callbacks of the type; the others keep the engine's defaults.
static void em_installsampler3d(em_node* node)
{
    node->process = em_mixtoparent;
    node->destroy = em_freenodedata;
    node->setparam = em_sampler3dsetparam;
    node->getparam = em_sampler3dgetparam;
    node->setparamf = em_sampler3dsetparamf;
    node->getparamf = em_sampler3dgetparamf;
    node->setparamv = em_sampler3dsetparamv;
    node->getparamv = em_sampler3dgetparamv;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_sampler3dtype = {em_installsampler3d,
                                             EMTAG_SAMPLER3DMIX,
                                             EMTAG_SAMPLER3D,
                                             sizeof(em_sampler3d),
                                             "em_initsampler: can't create node",
                                             "em_initsampler32: can't allocate mix buffer",
                                             "em_initsampler3d: can't allocate sampler"};

static int em_issampler3d(const em_node* node)
{
    return em_isnodetype(node, &em_sampler3dtype);
}

em_node* em_initsampler3d(em_node* parent, int mode)
{
    em_node* node = em_makenode(&em_sampler3dtype, nullptr);
    if (!node)
        return nullptr;
    em_sampler3d* l = static_cast<em_sampler3d*>(node->data);
    l->ondemand = mode < 0 ? 1 : 0;
    l->soundspeed = 340.0f;
    l->eardistance = 0.2f;
    l->forward = {0.0f, 0.0f, -1.0f};
    l->right = {1.0f, 0.0f, 0.0f};
    l->up = {0.0f, 1.0f, 0.0f};
    l->volume = 256;
    l->pitch = 0x10000;
    l->shape = em_s3defaultshape;
    l->srcposition = {0.0f, 0.0f, -10.0f};
    em_attachnode(node, parent);
    return node;
}

int em_playsampler3d(em_node* sampler3d, int sample)
{
    // Only a sampler3d's data can be read as one.
    const em_sampler3d* l = em_issampler3d(sampler3d) ? static_cast<const em_sampler3d*>(sampler3d->data) : nullptr;
    static const em_voicekind kind = {em_inits3channel, em_s3channelview};
    static const em_voicelimit none = {0, EMSTEAL_REFUSE};
    const em_sample* entry = nullptr;
    em_node* node =
        em_requestvoice("em_playsampler3d", sampler3d, sample, l && l->ondemand, &kind, l ? &l->limit : &none, &entry);
    if (!node)
        return 0;
    em_s3channel* ch = static_cast<em_s3channel*>(node->data);
    ch->step = em_pitchstep(entry->step, l->pitch);
    ch->volume = l->volume;
    ch->sample = sample;
    ch->flags |= EMF_PLAYING;
    ch->position = l->srcposition;
    ch->velocity = l->srcvelocity;
    em_s3start(ch);
    em_attachnode(node, sampler3d);
    return node->handle;
}

int em_createsampler3d(int parent, int mode)
{
    return em_createunder(parent, [&](em_node* up) { return em_initsampler3d(up, mode); });
}

int em_triggersample3d(int sampler3d, int sample)
{
    return em_onnode(sampler3d, 0, [&](em_node* n) { return em_playsampler3d(n, sample); });
}

int em_triggersample3dclock(int sampler3d, int sample, uint32_t sampleclock)
{
    return em_onnode(sampler3d, 0, [&](em_node* n) { return em_startvoiceat(em_playsampler3d(n, sample), sampleclock); });
}

int em_triggersample3dat(int sampler3d, int sample, const float* position, const float* velocity)
{
    if (!position)
        return 0;
    const em_vector p = em_vecfrom(position), v = velocity ? em_vecfrom(velocity) : em_vector {0.0f, 0.0f, 0.0f};
    if (!em_s3finite(&p) || !em_s3finite(&v))
        return 0;
    return em_onnode(sampler3d, 0, [&](em_node* n) {
        const int voice = em_playsampler3d(n, sample);
        if (voice) {
            em_s3channel* ch = static_cast<em_s3channel*>(em_getnode(voice)->data);
            ch->position = p;
            ch->velocity = v;
            em_s3start(ch);
        }
        return voice;
    });
}
