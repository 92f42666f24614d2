// em_sequencer.cpp -- step sequencer: a pass clock in output frames, up to
// eight channels of note patterns, each walked span by span between steps
#include <cmath>
#include <cstring>

#include "em/em_local.h"

enum {
    EMTAG_SEQUENCERMIX = 960, // a sequencer's mix buffer
    EMTAG_SEQUENCER = 961,    // one em_sequencer record
    EMTAG_SEQCHANNEL = 962,   // one em_seqchannel record
    EMTAG_PATTERN = 963       // one channel's pattern, steps bytes
};

// 1 when the node is of this file's type (its data can be read as such).
static int em_issequencer(const em_node* node);

// Pattern bytes from this value up (as signed bytes) are notes.
enum { EM_LOWESTNOTE = 12 };

int32_t em_notestep(int note, int32_t base)
{
    return em_ftoi(std::pow(2.0, static_cast<double>(note - 69) / 12.0) * static_cast<double>(base));
}

// ---------------------------------------------------------------------------
// The step grid
// ---------------------------------------------------------------------------

// First frame of step k: (k x duration) / steps, without drift or overflow.
static int64_t em_stepstart(const em_sequencer* sq, int64_t k)
{
    return k * sq->duration / sq->steps;
}

// The last step whose first frame lies before time, -1 when none does. A step
// that begins exactly at time is not counted: the walk of the next buffer
// enters it at that frame and sounds its note.
static int32_t em_stepbefore(const em_sequencer* sq)
{
    if (sq->time <= 0)
        return -1;
    return static_cast<int32_t>((static_cast<int64_t>(sq->time) * sq->steps - 1) / sq->duration);
}

// ---------------------------------------------------------------------------
// Channel mixing over a span
// ---------------------------------------------------------------------------

// Mixes at most n frames (a non-looping channel already past its end mixes
// none) while its volume glides to tovolume over them; the frames mixed, the
// ending frame included. A sample that ends, even on the last of the n
// frames, clears EMF_PLAYING; the channel keeps its node.
static int32_t em_mixseqchannel(em_seqchannel* ch, const em_sample* s, int32_t* out, int32_t n, int32_t tovolume)
{
    if (n <= 0)
        return 0;
    const em_source src = em_voicesource(s, ch->flags);
    em_place p = {ch->pos, ch->frac};
    int32_t m = 0;
    bool ended = true;
    if (!em_placeread(&p, src)) {
        ended = false;
        if (tovolume == ch->volume) {
            // Gains taken once per call, from the channel's own volume and pan.
            m = em_mixsteady(src, &p, ch->step, em_voicegains(src.channels, ch->volume, ch->pan), out, n, &ended);
        } else {
            em_rampvalues now = {ch->step, ch->volume, ch->pan};
            m = em_mixramped(src, &p, &now, {ch->step, tovolume, ch->pan}, out, n, &ended);
        }
    }
    ch->volume = tovolume;
    ch->pos = p.frame;
    ch->frac = p.frac;
    if (ended)
        ch->flags &= ~static_cast<uint32_t>(EMF_PLAYING);
    return m;
}

// A channel's volume in a buffer: from at its start, gliding to to over its
// first frames frames (a fade's step), then holding.
struct em_seqglide {
    int32_t from, to, frames;
};
// The volume after frame frames of the buffer.
static int32_t em_seqvolumeat(const em_seqglide& g, int64_t frame)
{
    if (frame >= g.frames)
        return g.to;
    if (frame <= 0)
        return g.from; // a step's empty span before the glide began
    return static_cast<int32_t>(g.from + (static_cast<int64_t>(g.to) - g.from) * frame / g.frames);
}

// ---------------------------------------------------------------------------
// Channel node: the walk over one buffer
// ---------------------------------------------------------------------------

// A note byte restarts the channel's sample at the note's pitch; any other
// byte, or a sample that is not loaded, leaves the channel as it is.
static void em_seqnote(em_seqchannel* ch, const em_sample* s, int8_t note)
{
    if (note < EM_LOWESTNOTE || !s)
        return;
    ch->step = em_notestep(note, s->step);
    ch->pos = 0;
    ch->frac = 0;
    ch->flags |= EMF_PLAYING;
}

static const int8_t* em_seqpattern(const em_sequencer* sq, const em_seqchannel* ch)
{
    return ch->index >= 0 && ch->index < EM_SEQCHANNELS ? sq->patterns[ch->index] : nullptr;
}

static void em_seqchannelprocess(em_node* node)
{
    em_seqchannel* ch = static_cast<em_seqchannel*>(node->data);
    const em_node* seqnode = em_getnode(ch->sequencer);
    if (!em_issequencer(seqnode))
        return;
    const em_sequencer* sq = static_cast<const em_sequencer*>(seqnode->data);
    int32_t* out = node->parent ? node->parent->mixbuf : nullptr;
    if (!out)
        return;
    const em_sample* s = em_voicesample(ch->sample);
    if (!s) {
        ch->flags &= ~static_cast<uint32_t>(EMF_PLAYING); // a freed sample is never read
    }
    const int8_t* pattern = em_seqpattern(sq, ch);
    // Local copies: every channel walks the same clock and writes none of it.
    int32_t step = sq->stepno;
    int64_t t = sq->time;
    int64_t remaining = emstate.samples;
    em_seqglide glide = {ch->volume, ch->volume, 0};
    em_voicefade(node, &glide.to, &glide.frames);
    while (remaining > 0) {
        const int32_t prev = step;
        bool entered;
        if (t >= sq->duration) {
            // The pass ends inside this buffer; a new pass always enters step 0.
            t -= sq->duration;
            step = 0;
            entered = true;
        } else {
            const int32_t next = step < 0 ? 0 : step + 1;
            if (em_stepstart(sq, next) - t <= 0)
                step = next % sq->steps;
            entered = step != prev;
        }
        if (entered && sq->playing && pattern)
            em_seqnote(ch, s, pattern[step]);
        int64_t span = em_stepstart(sq, step + 1) - t;
        if (span > remaining)
            span = remaining;
        // A span ends where a fade's glide does, so that the glide bends there.
        const int64_t done = emstate.samples - remaining;
        if (done < glide.frames && done + span > glide.frames)
            span = glide.frames - done;
        if (ch->flags & EMF_PLAYING) {
            ch->volume = em_seqvolumeat(glide, done); // also after a silent span
            const int32_t to = em_seqvolumeat(glide, done + span);
            const int32_t m = em_mixseqchannel(ch, s, out, static_cast<int32_t>(span), to);
            remaining -= m;
            t += m;
            span -= m;
            out += 2 * m;
        }
        if (span > 0) {
            remaining -= span;
            t += span;
            out += 2 * span;
        }
    }
    ch->volume = glide.to;
}

static int em_seqchannelsetparam(em_node* node, int id, int32_t value)
{
    return em_voicesetparam(static_cast<em_seqchannel*>(node->data), id, value);
}

static int em_seqchannelgetparam(em_node* node, int id)
{
    return em_voicegetparam(static_cast<const em_seqchannel*>(node->data), id);
}

// The channel's pattern in its sequencer's record, or null.
static int8_t* em_seqchannelpattern(const em_node* node, int32_t* steps)
{
    const em_seqchannel* ch = static_cast<const em_seqchannel*>(node->data);
    const em_node* seqnode = em_getnode(ch->sequencer);
    if (!em_issequencer(seqnode))
        return nullptr;
    const em_sequencer* sq = static_cast<const em_sequencer*>(seqnode->data);
    *steps = sq->steps;
    return const_cast<int8_t*>(em_seqpattern(sq, ch));
}

static int em_seqchannelsetparamp(em_node* node, int id, const void* block)
{
    int32_t steps = 0;
    int8_t* pattern = id == EMP_PATTERN ? em_seqchannelpattern(node, &steps) : nullptr;
    if (!pattern)
        return -1;
    memcpy(pattern, block, static_cast<size_t>(steps));
    return 0;
}

static int em_seqchannelgetparamp(em_node* node, int id, void* block)
{
    int32_t steps = 0;
    const int8_t* pattern = id == EMP_PATTERN ? em_seqchannelpattern(node, &steps) : nullptr;
    if (!pattern)
        return -1;
    memcpy(block, pattern, static_cast<size_t>(steps));
    return 0;
}

// The callbacks of the type; the others keep the engine's defaults.
static void em_installseqchannel(em_node* node)
{
    node->process = em_seqchannelprocess;
    node->destroy = em_freenodedata;
    node->setparam = em_seqchannelsetparam;
    node->getparam = em_seqchannelgetparam;
    node->setparamp = em_seqchannelsetparamp;
    node->getparamp = em_seqchannelgetparamp;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_seqchanneltype = {em_installseqchannel,
                                              0,
                                              EMTAG_SEQCHANNEL,
                                              sizeof(em_seqchannel),
                                              "em_initschannel: can't create node",
                                              nullptr,
                                              "em_initseqchannel: can't allocate seqchannel"};

em_node* em_initseqchannel(em_node* sequencer, int autofree)
{
    em_node* node = em_makenode(&em_seqchanneltype, nullptr);
    if (!node)
        return nullptr;
    em_seqchannel* ch = static_cast<em_seqchannel*>(node->data);
    ch->sequencer = sequencer ? sequencer->handle : 0;
    ch->volume = 256;
    ch->step = 0x10000;
    em_settargetsnow(ch);
    ch->flags = autofree ? static_cast<uint32_t>(EMF_AUTOFREE) : 0u;
    return node;
}

// ---------------------------------------------------------------------------
// Sequencer node
// ---------------------------------------------------------------------------

static void em_sequencerprocess(em_node* node)
{
    em_sequencer* sq = static_cast<em_sequencer*>(node->data);
    em_mixtoparent(node);
    // Each pass that begins within this buffer, or on the next buffer's first
    // frame (which this buffer's last step leads into); a time past a shortened
    // pass begins one at once.
    for (int64_t f = sq->time >= sq->duration ? 0 : sq->duration - sq->time; sq->playing && f <= emstate.samples;
         f += sq->duration)
        em_postevent(EME_SEQWRAP, node->handle, 0, em_frameclock(static_cast<int32_t>(f)));
    // A pass shorter than a buffer wraps more than once.
    sq->time = static_cast<int32_t>((static_cast<int64_t>(sq->time) + emstate.samples) % sq->duration);
    sq->stepno = em_stepbefore(sq);
}

static void em_sequencerdestroy(em_node* node)
{
    em_sequencer* sq = static_cast<em_sequencer*>(node->data);
    if (sq) {
        for (int8_t* pattern : sq->patterns)
            if (pattern)
                emio_free(pattern);
        emio_free(sq);
    }
    node->data = nullptr;
}

static int em_sequencersetparam(em_node* node, int id, int32_t value)
{
    em_sequencer* sq = static_cast<em_sequencer*>(node->data);
    switch (id) {
    case EMP_LENGTH:
    case EMP_OUTLENGTH:
        // The duration divides the grid and must consume frames. Only the
        // duration is written: the clock belongs to the callback, whose walk
        // takes a time at or past the new duration as the end of the pass.
        if (value < 1)
            return -1;
        sq->duration = value;
        return 0;
    case EMP_VOLUME: node->volume = value; return 0;
    case EMP_RUN: sq->playing = value; return 0;
    case EMP_CHANNEL: sq->selected = value; return 0;
    default: return -1;
    }
}

static int em_sequencergetparam(em_node* node, int id)
{
    const em_sequencer* sq = static_cast<const em_sequencer*>(node->data);
    switch (id) {
    case EMP_LENGTH:
    case EMP_OUTLENGTH: return sq->duration;
    case EMP_VOLUME: return node->volume;
    case EMP_STATE: return 3;
    case EMP_RUN: return sq->playing;
    case EMP_STEPS: return sq->steps;
    case EMP_CHANNEL: return sq->selected;
    case EMP_CHANNELNODE: return sq->selected >= 0 && sq->selected < sq->nchannels ? sq->handles[sq->selected] : -1;
    default: return -1;
    }
}

// The callbacks of the type; the others keep the engine's defaults.
static void em_installsequencer(em_node* node)
{
    node->process = em_sequencerprocess;
    node->destroy = em_sequencerdestroy;
    node->setparam = em_sequencersetparam;
    node->getparam = em_sequencergetparam;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_sequencertype = {em_installsequencer,
                                             EMTAG_SEQUENCERMIX,
                                             EMTAG_SEQUENCER,
                                             sizeof(em_sequencer),
                                             "em_initsequencer: can't create node",
                                             "em_initsequencer: can't allocate mix buffer",
                                             "em_initsequencer: can't allocate sequencer"};

static int em_issequencer(const em_node* node)
{
    return em_isnodetype(node, &em_sequencertype);
}

int em_isseqchannel(const em_node* node)
{
    return em_isnodetype(node, &em_seqchanneltype);
}

// Makes channel i with its pattern under the sequencer; -1 in its slot when
// either cannot be made.
static void em_addseqchannel(em_node* node, em_sequencer* sq, int i)
{
    sq->handles[i] = -1;
    sq->patterns[i] = nullptr;
    em_node* chnode = em_initseqchannel(node, 0);
    if (!chnode)
        return;
    int8_t* pattern = static_cast<int8_t*>(emio_calloc(static_cast<uint32_t>(sq->steps), 1, EMTAG_PATTERN));
    if (!pattern) {
        emio_error("em_initsequencer: can't allocate pattern");
        em_destroynode(chnode);
        return;
    }
    static_cast<em_seqchannel*>(chnode->data)->index = i;
    sq->handles[i] = chnode->handle;
    sq->patterns[i] = pattern;
    em_attachnode(chnode, node);
}

em_node* em_initsequencer(em_node* parent, int channels, int steps)
{
    if (channels < 0 || channels > EM_SEQCHANNELS) {
        emio_error("em_initsequencer: %d channels (0 to %d)", channels, EM_SEQCHANNELS);
        return nullptr;
    }
    if (steps < 1) {
        emio_error("em_initsequencer: %d steps (at least 1)", steps);
        return nullptr;
    }
    em_node* node = em_makenode(&em_sequencertype, nullptr);
    if (!node)
        return nullptr;
    em_sequencer* sq = static_cast<em_sequencer*>(node->data);
    sq->steps = steps;
    for (int i = 0; i < EM_SEQCHANNELS; i++)
        sq->handles[i] = -1;
    for (int i = 0; i < channels; i++)
        em_addseqchannel(node, sq, i);
    sq->nchannels = channels;
    sq->selected = -1;
    sq->stepno = -1;
    sq->time = 0;
    sq->duration = emstate.freq > 0 ? emstate.freq : 1;
    sq->playing = 0;
    em_attachnode(node, parent);
    return node;
}

int em_createsequencer(int parent, int channels, int steps)
{
    return em_createunder(parent, [&](em_node* up) { return em_initsequencer(up, channels, steps); });
}
