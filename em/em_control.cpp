// em_control.cpp -- the controls the tree walk applies around each node: pause,
// timed fades of a node's volume and the master volume on the root's mix
#include <cstring>

#include "em/em_local.h"

em_nodectl* emctl;

enum {
    EM_MAXVOLUME = 65536,  // the highest volume a fade or the master volume takes, 256 x unity
    EM_MAXFADEMS = 3600000 // the longest fade, one hour
};

int32_t em_glidevolume(const em_volumeglide* g, int64_t k)
{
    if (k >= g->frames)
        return g->to;
    return static_cast<int32_t>(g->from + (static_cast<int64_t>(g->to) - g->from) * k / g->frames);
}

em_nodectl* em_ctlof(const em_node* node)
{
    if (!emctl || node->handle <= 0 || node->handle >= EM_MAXHANDLES || emnodes[node->handle] != node)
        return nullptr;
    return &emctl[node->handle];
}

int32_t em_msframes(int32_t ms)
{
    return static_cast<int32_t>((static_cast<int64_t>(ms) * emstate.freq + 500) / 1000);
}

void em_startfade(em_node* node, int32_t volume, int32_t frames, int32_t then)
{
    em_nodectl* c = em_ctlof(node);
    if (!c)
        return;
    c->fade = {node->getparam(node, EMP_VOLUME), volume, frames, 0};
    c->then = then;
    c->fading = 1;
}

void em_endfade(em_node* node)
{
    em_nodectl* c = em_ctlof(node);
    if (c)
        c->fading = 0;
}

int em_isfading(const em_node* node)
{
    const em_nodectl* c = em_ctlof(node);
    return c && c->fading ? 1 : 0;
}

em_framegain em_gainof(const em_node* node)
{
    const em_nodectl* c = em_ctlof(node);
    if (c && c->fading)
        return {&c->fade, node->volume};
    return {nullptr, node->volume};
}

int em_voicefade(const em_node* node, int32_t* volume, int32_t* frames)
{
    const em_nodectl* c = em_ctlof(node);
    if (!c || !c->fading)
        return 0;
    const int64_t left = static_cast<int64_t>(c->fade.frames) - c->fade.done;
    *frames = left < emstate.samples ? static_cast<int32_t>(left) : emstate.samples;
    *volume = em_glidevolume(&c->fade, static_cast<int64_t>(c->fade.done) + *frames);
    return 1;
}

// Moves the fade on by the buffer just mixed; at its end the fade is told and
// its then acts (freeing the node last). The node's volume into its parent
// is set here (a voice has moved its own volume in its mix and mixes with
// no node volume).
static void em_advancefade(em_node* node, em_nodectl* c)
{
    const int32_t before = c->fade.done;
    const int64_t done = static_cast<int64_t>(before) + emstate.samples;
    c->fade.done = static_cast<int32_t>(done < c->fade.frames ? done : c->fade.frames);
    node->volume = em_glidevolume(&c->fade, c->fade.done);
    if (c->fade.done < c->fade.frames)
        return;
    c->fading = 0;
    // Told with the clock of the fade's last frame (of a fade of 0 frames, this buffer's first).
    const int32_t last = c->fade.frames > before ? c->fade.frames - before - 1 : 0;
    em_postevent(EME_FADEDONE, node->handle, 0, em_frameclock(last));
    if (c->then == EM_FADEPAUSE)
        c->paused = 1;
    else if (c->then == EM_FADEFREE)
        em_destroynode(node);
}

void em_startat(em_node* node, uint32_t clock)
{
    em_nodectl* c = em_ctlof(node);
    if (!c)
        return;
    c->waiting = 1;
    c->startclock = clock;
}

int em_startvoiceat(int voice, uint32_t clock)
{
    if (em_node* node = em_getnode(voice))
        em_startat(node, clock);
    return voice;
}

int32_t em_startoffset(const em_node* node)
{
    const em_nodectl* c = em_ctlof(node);
    return c ? c->offset : 0;
}

// 1 while a node started at a clock waits for a later buffer; in the buffer
// that holds its first frame it takes the frames before it as its offset.
static int em_waits(em_nodectl* c)
{
    if (!c->waiting)
        return 0;
    const int32_t ahead = em_wrap(c->startclock - em_frameclock(0));
    if (ahead >= emstate.samples)
        return 1;
    c->waiting = 0;
    c->offset = ahead > 0 ? ahead : 0;
    return 0;
}

int em_holds(em_node* node)
{
    em_nodectl* c = em_ctlof(node);
    return c && (c->paused || em_waits(c)) ? 1 : 0;
}

void em_runprocess(em_node* node)
{
    em_nodectl* c = em_ctlof(node);
    if (node->process)
        node->process(node);
    if (!c)
        return;
    c->offset = 0;
    // A voice that ended and freed itself took its controls with it.
    if (c->fading)
        em_advancefade(node, c);
}

// The root's process: the master volume on the finished mix, clamped to 32
// bits. A change glides over the buffer; a fade sets it frame by frame.
static void em_applymaster(em_node* root)
{
    em_framegain g = em_gainof(root);
    em_volumeglide change = {emstate.mastergain, root->volume, emstate.samples, 0};
    if (!g.glide && emstate.mastergain != root->volume)
        g.glide = &change;
    if (!g.glide && g.volume == 256)
        return;
    int32_t* mix = root->mixbuf;
    int32_t gain = g.volume;
    for (int32_t f = 0; f < emstate.samples; f++) {
        gain = em_gainat(g, f);
        mix[2 * f] = em_clamp32(static_cast<int64_t>(mix[2 * f]) * gain / 256);
        mix[2 * f + 1] = em_clamp32(static_cast<int64_t>(mix[2 * f + 1]) * gain / 256);
    }
    emstate.mastergain = gain;
}

// The root answers its master volume; every other id keeps the defaults
// (sets accepted and ignored, gets 0), as the root always has.
static int em_rootsetparam(em_node* node, int id, int32_t value)
{
    if (id != EMP_VOLUME)
        return 0;
    if (value < 0 || value > EM_MAXVOLUME)
        return -1;
    node->volume = value;
    return 0;
}

static int em_rootgetparam(em_node* node, int id)
{
    return id == EMP_VOLUME ? node->volume : 0;
}

enum { EMTAG_ROOTMIX = 902 }; // the root's mix buffer

// The root's callbacks: its process applies the master volume.
static void em_installroot(em_node* node)
{
    node->process = em_applymaster;
    node->setparam = em_rootsetparam;
    node->getparam = em_rootgetparam;
}

// The root: a mixing node without data, whose buffer is the final mix.
static const em_nodetype em_roottype = {em_installroot, EMTAG_ROOTMIX, 0, 0, nullptr, nullptr, nullptr};

em_node* em_createroot()
{
    em_node* node = em_makenode(&em_roottype, nullptr);
    if (node)
        emstate.root = node;
    emstate.mastergain = 256;
    return node;
}

// ---------------------------------------------------------------------------
// Public calls
// ---------------------------------------------------------------------------

int em_pause(int handle, int paused)
{
    if (paused != 0 && paused != 1)
        return -1;
    return em_onnode(handle, -1, [&](em_node* n) {
        em_nodectl* c = em_ctlof(n);
        if (!c)
            return -1;
        c->paused = paused;
        return 0;
    });
}

int em_fade(int handle, int32_t volume, int32_t ms, int then)
{
    if (volume < 0 || volume > EM_MAXVOLUME || ms < 0 || ms > EM_MAXFADEMS)
        return -1;
    if (then != EM_FADEKEEP && then != EM_FADEPAUSE && then != EM_FADEFREE)
        return -1;
    return em_onnode(handle, -1, [&](em_node* n) {
        if (!em_ctlof(n) || (then == EM_FADEFREE && !em_canfree(n)))
            return -1;
        em_startfade(n, volume, em_msframes(ms), then);
        return 0;
    });
}
