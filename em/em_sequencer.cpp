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

static bool em_seqsampleusable(const em_sample* s)
{
    return s && s->data && s->length > 0;
}

// Puts a read index set from outside back on the sample; false when a
// non-looping channel is already past its end.
static bool em_seqplace(em_seqchannel* ch, const em_sample* s)
{
    if (ch->pos < 0)
        ch->pos = 0;
    if (ch->pos < s->length)
        return true;
    if (!(ch->flags & EMF_LOOP))
        return false;
    ch->pos %= s->length;
    return true;
}

// Adds step to the fraction and moves the index; true when a non-looping
// sample has run out.
static inline bool em_seqadvance(em_seqchannel* ch, int32_t step, int32_t length, bool loop)
{
    const uint32_t acc = static_cast<uint32_t>(ch->frac) + static_cast<uint32_t>(step);
    ch->frac = static_cast<int32_t>(acc & 0xFFFF);
    ch->pos += static_cast<int32_t>(acc >> 16);
    if (ch->pos < length)
        return false;
    if (!loop)
        return true;
    ch->pos -= length;
    if (ch->pos >= length)
        ch->pos %= length;
    return false;
}

static int32_t em_mixseqmono(em_seqchannel* ch, const em_sample* s, int32_t* out, int32_t n)
{
    const int32_t* data = s->data;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const int32_t left = em_sar32(em_mul32(ch->volume, em_sub32(128, ch->pan)), 8);
    const int32_t right = em_sar32(em_mul32(ch->volume, em_add32(ch->pan, 128)), 8);
    const int32_t step = ch->step < 0 ? 0 : ch->step; // a negative step holds still
    for (int32_t f = 0; f < n; f++) {
        const int32_t value = data[ch->pos];
        const bool ended = em_seqadvance(ch, step, s->length, loop);
        out[2 * f] = em_add32(out[2 * f], em_sar32(em_mul32(value, left), 8));
        out[2 * f + 1] = em_add32(out[2 * f + 1], em_sar32(em_mul32(value, right), 8));
        if (ended)
            return f + 1;
    }
    return n;
}

// A stereo sample keeps its sides; the pan moves one side into the other.
static int32_t em_mixseqstereo(em_seqchannel* ch, const em_sample* s, int32_t* out, int32_t n)
{
    const int32_t* data = s->data;
    const bool loop = (ch->flags & EMF_LOOP) != 0;
    const int32_t v = ch->volume, pan = ch->pan;
    int32_t ll = v, lr = 0, rl = 0, rr = v;
    if (pan >= 0) {
        ll = em_sar32(em_mul32(v, em_sub32(128, pan)), 7);
        rl = em_sar32(em_mul32(v, pan), 7);
    } else {
        lr = em_sar32(em_mul32(v, em_sub32(0, pan)), 7);
        rr = em_sar32(em_mul32(v, em_add32(pan, 128)), 7);
    }
    const int32_t step = ch->step < 0 ? 0 : ch->step;
    for (int32_t f = 0; f < n; f++) {
        const int32_t l = data[2 * ch->pos];
        const int32_t r = data[2 * ch->pos + 1];
        const bool ended = em_seqadvance(ch, step, s->length, loop);
        out[2 * f] = em_add32(out[2 * f], em_sar32(em_add32(em_mul32(l, ll), em_mul32(r, lr)), 8));
        out[2 * f + 1] = em_add32(out[2 * f + 1], em_sar32(em_add32(em_mul32(l, rl), em_mul32(r, rr)), 8));
        if (ended)
            return f + 1;
    }
    return n;
}

// Mixes at most n frames; the frames mixed, the ending frame included. A
// sample that ends clears EMF_PLAYING; the channel keeps its node.
static int32_t em_mixseqchannel(em_seqchannel* ch, const em_sample* s, int32_t* out, int32_t n)
{
    if (n <= 0)
        return 0;
    int32_t m = 0;
    if (em_seqplace(ch, s))
        m = s->channels == 2 ? em_mixseqstereo(ch, s, out, n) : em_mixseqmono(ch, s, out, n);
    if (m < n)
        ch->flags &= ~static_cast<uint32_t>(EMF_PLAYING);
    return m;
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
    const em_sample* s = em_getsample(ch->sample);
    if (!em_seqsampleusable(s)) {
        s = nullptr;
        ch->flags &= ~static_cast<uint32_t>(EMF_PLAYING); // a freed sample is never read
    }
    const int8_t* pattern = em_seqpattern(sq, ch);
    // Local copies: every channel walks the same clock and writes none of it.
    int32_t step = sq->stepno;
    int64_t t = sq->time;
    int64_t remaining = emstate.samples;
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
        if (ch->flags & EMF_PLAYING) {
            const int32_t m = em_mixseqchannel(ch, s, out, static_cast<int32_t>(span));
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

em_node* em_initseqchannel(em_node* sequencer, int autofree)
{
    em_node* node = em_createnode(nullptr);
    if (!node) {
        emio_error("em_initschannel: can't create node");
        return nullptr;
    }
    node->process = em_seqchannelprocess;
    node->destroy = em_freenodedata;
    node->setparam = em_seqchannelsetparam;
    node->getparam = em_seqchannelgetparam;
    node->setparamp = em_seqchannelsetparamp;
    node->getparamp = em_seqchannelgetparamp;
    em_seqchannel* ch = static_cast<em_seqchannel*>(emio_calloc(1, sizeof(em_seqchannel), EMTAG_SEQCHANNEL));
    if (!ch) {
        emio_error("em_initseqchannel: can't allocate seqchannel");
        em_destroynode(node);
        return nullptr;
    }
    ch->sequencer = sequencer ? sequencer->handle : 0;
    ch->volume = 256;
    ch->step = 0x10000;
    ch->flags = autofree ? static_cast<uint32_t>(EMF_AUTOFREE) : 0u;
    node->data = ch;
    return node;
}

// ---------------------------------------------------------------------------
// Sequencer node
// ---------------------------------------------------------------------------

static void em_sequencerprocess(em_node* node)
{
    em_sequencer* sq = static_cast<em_sequencer*>(node->data);
    em_mixtoparent(node);
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

int em_issequencer(const em_node* node)
{
    return node && node->setparam == em_sequencersetparam && node->data ? 1 : 0;
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
    em_node* node = em_createmixnode(EMTAG_SEQUENCERMIX, "em_initsequencer: can't create node",
                                     "em_initsequencer: can't allocate mix buffer");
    if (!node)
        return nullptr;
    node->process = em_sequencerprocess;
    node->destroy = em_sequencerdestroy;
    node->setparam = em_sequencersetparam;
    node->getparam = em_sequencergetparam;
    em_sequencer* sq = static_cast<em_sequencer*>(emio_calloc(1, sizeof(em_sequencer), EMTAG_SEQUENCER));
    if (!sq) {
        emio_error("em_initsequencer: can't allocate sequencer");
        em_destroynode(node);
        return nullptr;
    }
    node->data = sq;
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
    SDL_LockAudio();
    em_attachnode(node, parent);
    SDL_UnlockAudio();
    return node;
}

int em_createsequencer(int parent, int channels, int steps)
{
    if (emstate.inited != 1)
        return 0;
    SDL_LockAudio();
    em_node* up = em_getnode(parent);
    const em_node* node = up ? em_initsequencer(up, channels, steps) : nullptr;
    SDL_UnlockAudio();
    return node ? node->handle : 0;
}
