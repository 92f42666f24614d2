// em_oggmusic.cpp -- the Ogg Vorbis music node: streaming from disk in the
// callback at a settable speed, looping, stopping, and fade-and-switch
#include <cstring>

#include "em/em_local.h"

enum {
    EMTAG_OGGMUSIC = 950, // one em_oggmusic record
    EMTAG_OGGBUFFER = 951 // the load buffer
};

// 1 when the node is of this file's type (its data can be read as such).
static int em_isoggmusic(const em_node* node);

enum {
    EM_OGGVOLUME = 256,      // a new node's volume, unity
    EM_FADESTEP = 5,         // volume taken off per buffer while fading out
    EM_MAXSWITCHMS = 3600000 // the longest switch fade, one hour
};

static em_oggmusic* em_oggof(em_node* node)
{
    return static_cast<em_oggmusic*>(node->data);
}

// 16.16 stream frames per output frame for the record's speed and rate, as
// EMP_PITCH reports it (the mixer steps by the exact ratio below).
static int32_t em_oggstep(const em_oggmusic* om)
{
    if (emstate.freq <= 0)
        return 0;
    const int64_t step = static_cast<int64_t>(om->speed / 4) * om->rate / emstate.freq * 4;
    return static_cast<int32_t>(step > INT32_MAX ? INT32_MAX : step < INT32_MIN ? INT32_MIN : step);
}

// The mixer's advance per output frame and its unit: speed x rate in
// 1/(65536 x device rate) stream frames, so that every rate steps exactly.
static int64_t em_ogginc(const em_oggmusic* om)
{
    return static_cast<int64_t>(om->speed) * om->rate;
}
static int64_t em_oggunit()
{
    return static_cast<int64_t>(65536) * (emstate.freq > 0 ? emstate.freq : 1);
}

void em_openoggmusic(em_node* node, const char* name)
{
    em_oggmusic* om = em_oggof(node);
    om->fp = emio_open(name, "rb");
    if (!om->fp) {
        emio_error("em_openoggmusic: can't find %s", name);
        return;
    }
    if (ov_open(om->fp, &om->vf, nullptr, 0) < 0) {
        emio_error("em_openoggmusic: can't open %s\n", name);
        emio_close(om->fp);
        om->fp = nullptr;
        return;
    }
    vorbis_info* vi = ov_info(&om->vf, -1);
    // The node plays one or two channels; other layouts are refused.
    if (!vi || vi->channels < 1 || vi->channels > 2 || vi->rate <= 0) {
        emio_error("em_openoggmusic: can't open %s\n", name);
        ov_clear(&om->vf);
        om->fp = nullptr;
        return;
    }
    om->vi = vi;
    om->length = static_cast<int32_t>(static_cast<uint32_t>(ov_pcm_total(&om->vf, -1)));
    om->rate = static_cast<int32_t>(vi->rate);
    om->channels = vi->channels;
    om->open = 1;
}

// Starts the freshly opened stream from its beginning.
static void em_beginpass(em_node* node, uint32_t startms)
{
    em_oggmusic* om = em_oggof(node);
    om->loop = 1;
    om->loops = -1;
    om->pos = 0;
    om->frac = 0;
    om->step = em_oggstep(om);
    om->startclock = em_load(&emstate.samplepos);
    om->startms = startms;
    om->ended = em_filloggmusic(node, 0);
}

int em_startoggmusic(em_node* node, const char* name)
{
    em_oggmusic* om = em_oggof(node);
    const size_t length = strlen(name);
    if (length >= EM_OGGNAME) {
        emio_error("em_startoggmusic: name is too long (%zu characters, the system takes %d): %.64s...", length, EM_OGGNAME - 1,
                   name);
        return -1;
    }
    if (om->switchmode > 0) {
        memcpy(om->nextname, name, length + 1);
        if (om->fadems > 0)
            em_startfade(node, 0, em_msframes(om->fadems), EM_FADEKEEP);
        return 0;
    }
    em_closeoggmusic(node);
    em_openoggmusic(node, name);
    if (!om->open) {
        emio_error("em_startoggmusic: couldn't open %s\n", name);
        return -1;
    }
    em_beginpass(node, em_getmsclock());
    return 0;
}

int em_switchoggmusic(em_node* node, const char* name)
{
    em_oggmusic* om = em_oggof(node);
    if (om->open)
        ov_clear(&om->vf);
    om->open = 0;
    em_openoggmusic(node, name);
    if (!om->open) {
        emio_error("em_switchoggmusic: couldn't open %s\n", name);
        return -1;
    }
    em_beginpass(node, em_load(&emstate.lastcb));
    return 0;
}

// Drops a pending switch; the fade it began is undone as a completed switch
// would undo it, so the next stream does not start at a faded volume.
static void em_cancelswitch(em_node* node)
{
    em_oggmusic* om = em_oggof(node);
    if (!om->nextname[0])
        return;
    om->nextname[0] = '\0';
    node->volume = om->setvolume;
    em_endfade(node);
}

void em_closeoggmusic(em_node* node)
{
    em_oggmusic* om = em_oggof(node);
    if (om->open) {
        ov_clear(&om->vf);
        om->open = 0;
    }
    em_cancelswitch(node); // a stop also cancels a pending switch
}

// Spreads n mono values at the start of buffer over both sides of n frames.
static void em_monotostereo(int16_t* buffer, int32_t n)
{
    for (int32_t i = n - 1; i >= 0; i--) {
        const int16_t v = buffer[i];
        buffer[2 * i + 1] = v;
        buffer[2 * i] = v;
    }
}

// Notes where a new pass begins: bytes of the old pass lie before it in
// this buffer, which the callback reaches after framesdone output frames
// reading from frame pos at the place's fraction. Posts the loop event.
static void em_markrestart(em_node* node, int32_t framesdone, int32_t bytes)
{
    em_oggmusic* om = em_oggof(node);
    const int64_t streamframes = bytes / (2 * om->channels);
    const int64_t inc = em_ogginc(om);
    // The first output frame k whose read place (pos + (frac + k x inc) / unit) reaches the new pass.
    const int64_t ahead = (streamframes - om->pos) * em_oggunit() - om->frac;
    const int64_t offset = framesdone + (inc > 0 && ahead > 0 ? (ahead + inc - 1) / inc : 0);
    om->startclock = em_load(&emstate.samplepos) + static_cast<uint32_t>(offset);
    om->startms = em_load(&emstate.lastcb) + static_cast<uint32_t>(offset * 1000 / emstate.freq);
    om->restartat = static_cast<int32_t>(streamframes);
    // A pass counted down: the one beginning now may be the last.
    if (om->loops > 0 && --om->loops == 0)
        om->loop = 0;
    em_postevent(EME_MUSICLOOP, node->handle, 0, om->startclock);
}

int em_filloggmusic(em_node* node, int32_t framesdone)
{
    em_oggmusic* om = em_oggof(node);
    char* buffer = reinterpret_cast<char*>(om->loadbuf);
    const int32_t capacity = EM_OGGFRAMES * 2 * om->channels;
    const ogg_int64_t tell = ov_pcm_tell(&om->vf);
    om->bufstart = tell > 0 && tell <= INT32_MAX ? static_cast<int32_t>(tell) : 0;
    om->restartat = -1;
    om->carried = 0;
    int32_t written = 0;
    int ended = 0;
    int errors = 0;
    bool restarted = false; // nothing read since the last restart
    while (written < capacity && !ended) {
        int section = 0;
        const long n = ov_read(&om->vf, buffer + written, capacity - written, 0, 2, 1, &section);
        if (n > 0) {
            written += static_cast<int32_t>(n);
            errors = 0;
            restarted = false;
        } else if (n < 0) {
            // A hole or a bad link: skip it and read on, unless it persists.
            if (++errors >= EM_MAXREADERRORS)
                ended = 1;
        } else if (om->loop == 1 && ov_seekable(&om->vf) && !restarted) {
            em_markrestart(node, framesdone, written);
            ov_raw_seek(&om->vf, 0);
            restarted = true; // a stream that yields nothing after a restart ends
        } else {
            ended = 1;
        }
    }
    om->valid = EM_OGGFRAMES;
    if (ended) {
        memset(buffer + written, 0, static_cast<size_t>(capacity - written));
        om->valid = written / (2 * om->channels);
    }
    if (om->channels == 1)
        em_monotostereo(om->loadbuf, EM_OGGFRAMES);
    return ended;
}

// Ends the stream whose last frame the buffer's frame before this one was.
static void em_endoggmusic(em_node* node, int32_t frame)
{
    em_oggmusic* om = em_oggof(node);
    ov_clear(&om->vf);
    om->open = 0;
    em_postevent(EME_MUSICEND, node->handle, 0, em_frameclock(frame - 1));
}

// The fade of a pending switch, and the switch when it reaches 0; 0 when the
// stream plays on, -1 when the switch failed and the node stopped. A chosen
// fade length (EMP_FADEMS) runs as the node's fade; the switch follows its end.
static int em_fadetoswitch(em_node* node)
{
    em_oggmusic* om = em_oggof(node);
    if (om->fadems == 0)
        node->volume -= EM_FADESTEP;
    else if (em_isfading(node))
        return 0;
    if (om->fadems == 0 && node->volume > 0)
        return 0;
    node->volume = om->setvolume;
    const int result = em_switchoggmusic(node, om->nextname);
    om->nextname[0] = '\0';
    em_postevent(result < 0 ? EME_SWITCHFAILED : EME_MUSICSWITCH, node->handle, 0, em_frameclock(0));
    return result;
}

void em_mixoggmusic(em_node* node)
{
    em_oggmusic* om = em_oggof(node);
    if (!om->open)
        return;
    if (om->nextname[0] && em_fadetoswitch(node) < 0)
        return;
    int32_t* out = node->parent ? node->parent->mixbuf : nullptr;
    if (!out)
        return;
    const em_framegain gain = em_gainof(node);
    const int64_t inc = em_ogginc(om);
    const int64_t unit = em_oggunit();
    const int16_t* frames = om->loadbuf;
    for (int32_t f = 0; f < emstate.samples; f++) {
        while (om->pos < (om->carried ? -1 : 0) || om->pos >= om->valid) {
            if (om->ended) {
                em_endoggmusic(node, f); // the rest of the buffer stays silent
                return;
            }
            // A step past the buffer's end carries into the next one.
            om->pos = om->pos < 0 ? 0 : om->pos - EM_OGGFRAMES;
            om->ended = em_filloggmusic(node, f);
        }
        if (om->interp && om->pos + 1 == om->valid && !om->ended) {
            // The next frame is in the next fill: this one is kept as frame -1.
            const int16_t kept[2] = {frames[2 * om->pos], frames[2 * om->pos + 1]};
            om->pos = -1;
            om->ended = em_filloggmusic(node, f);
            om->carry[0] = kept[0], om->carry[1] = kept[1], om->carried = 1;
        }
        const int16_t* at = om->pos < 0 ? om->carry : frames + 2 * om->pos;
        int32_t left = at[0], right = at[1];
        if (om->interp) {
            // The sampler's straight line at the place's 16-bit fraction; silence follows the stream's end.
            const int32_t frac = static_cast<int32_t>(om->frac / emstate.freq);
            const bool next = om->pos + 1 < om->valid;
            left = em_lerp(left, next ? frames[2 * om->pos + 2] : 0, frac);
            right = em_lerp(right, next ? frames[2 * om->pos + 3] : 0, frac);
        }
        const int32_t volume = em_gainat(gain, f);
        out[2 * f] = em_add32(out[2 * f], em_mul32(left, volume) / 256);
        out[2 * f + 1] = em_add32(out[2 * f + 1], em_mul32(right, volume) / 256);
        om->frac += inc;
        const int64_t whole = om->frac >= 0 ? om->frac / unit : -((-om->frac + unit - 1) / unit);
        om->pos += static_cast<int32_t>(whole);
        om->frac -= whole * unit;
    }
}

// Release: ends an open stream too, so that no decoder or file is left behind.
static void em_releaseoggmusic(em_node* node)
{
    em_oggmusic* om = em_oggof(node);
    if (om) {
        if (om->open) {
            ov_clear(&om->vf);
            om->open = 0;
        }
        if (om->loadbuf)
            emio_free(om->loadbuf);
        om->loadbuf = nullptr;
        emio_free(om);
        node->data = nullptr;
    }
}

// The stream frame the next output frame reads.
static int32_t em_oggposition(const em_oggmusic* om)
{
    const int32_t frame = om->restartat >= 0 && om->pos >= om->restartat ? om->pos - om->restartat : om->bufstart + om->pos;
    return frame < 0 ? 0 : frame > om->length ? om->length : frame;
}

// Moves the open stream to ms milliseconds (the stream frame it falls in) and
// loads from there; 0, or -1 with no stream, a time outside the stream or a
// stream that cannot seek.
static int em_seekoggmusic(em_node* node, int32_t ms)
{
    em_oggmusic* om = em_oggof(node);
    if (!om->open || ms < 0)
        return -1;
    const int64_t frame = static_cast<int64_t>(ms) * om->rate / 1000;
    if (frame > om->length || ov_pcm_seek(&om->vf, frame) != 0)
        return -1;
    om->pos = 0;
    om->frac = 0;
    om->ended = em_filloggmusic(node, 0);
    return 0;
}

static int em_oggsetparam(em_node* node, int id, int32_t value)
{
    em_oggmusic* om = em_oggof(node);
    switch (id) {
    case EMP_VOLUME:
        om->setvolume = value;
        node->volume = value;
        return 0;
    case EMP_PITCH:
        om->speed = value;
        if (om->open)
            om->step = em_oggstep(om);
        return 0;
    case EMP_STATE:
        if (value == 4 && om->open && !om->loop)
            om->loop = 1, om->loops = -1;
        else if (value == 3 && om->open && om->loop)
            om->loop = 0, om->loops = 0;
        return 0;
    case EMP_LOOPCOUNT:
        if (!om->open || value < -1)
            return -1;
        om->loops = value;
        om->loop = value != 0;
        return 0;
    case EMP_POSITIONMS: return em_seekoggmusic(node, value);
    case EMP_SWITCHMODE: om->switchmode = value; return 0;
    case EMP_FADEMS:
        if (value < 0 || value > EM_MAXSWITCHMS)
            return -1;
        om->fadems = value;
        return 0;
    case EMP_INTERPOLATE:
        if (value != 0 && value != 1)
            return -1;
        om->interp = value;
        return 0;
    default: return -1;
    }
}

static int em_ogggetparam(em_node* node, int id)
{
    const em_oggmusic* om = em_oggof(node);
    switch (id) {
    case EMP_RATE: return om->rate;
    case EMP_LENGTH: return om->length;
    case EMP_LENGTHMS: return om->rate > 0 ? static_cast<int>(static_cast<int64_t>(om->length) * 1000 / om->rate) : 0;
    case EMP_OUTLENGTH:
        // The output frames of one pass at normal speed: those whose read place lies before the end.
        return om->rate > 0 ? em_clamp32((static_cast<int64_t>(om->length) * emstate.freq + om->rate - 1) / om->rate) : 0;
    case EMP_LOOPCOUNT: return om->open ? om->loops : -1;
    case EMP_POSITIONMS: return om->open ? static_cast<int>(static_cast<int64_t>(em_oggposition(om)) * 1000 / om->rate) : -1;
    case EMP_VOLUME: return node->volume;
    case EMP_PITCH: return om->step;
    case EMP_STARTCLOCK: return static_cast<int>(om->startclock);
    case EMP_STARTMS: return static_cast<int>(om->startms);
    case EMP_STATE: return !om->open ? 0 : om->loop ? 4 : 3;
    case EMP_SWITCHMODE: return om->switchmode;
    case EMP_FADEMS: return om->fadems;
    case EMP_INTERPOLATE: return om->interp;
    default: return -1;
    }
}

// The callbacks of the type; the others keep the engine's defaults.
static void em_installoggmusic(em_node* node)
{
    node->process = em_mixoggmusic;
    node->destroy = em_releaseoggmusic;
    node->setparam = em_oggsetparam;
    node->getparam = em_ogggetparam;
}

// What its nodes install; mix buffer and data record; failure texts.
static const em_nodetype em_oggmusictype = {em_installoggmusic,
                                            0,
                                            EMTAG_OGGMUSIC,
                                            sizeof(em_oggmusic),
                                            "em_initoggmusic: can't create node",
                                            nullptr,
                                            "em_initoggmusic: can't allocate oggmusic"};

static int em_isoggmusic(const em_node* node)
{
    return em_isnodetype(node, &em_oggmusictype);
}

em_node* em_initoggmusic(em_node* parent)
{
    em_node* node = em_makenode(&em_oggmusictype, nullptr);
    if (!node)
        return nullptr;
    em_oggmusic* om = em_oggof(node);
    om->loadbuf = static_cast<int16_t*>(emio_calloc(EM_OGGFRAMES * 2, sizeof(int16_t), EMTAG_OGGBUFFER));
    if (!om->loadbuf) {
        emio_error("em_initoggmusic: can't allocate load buffer");
        em_destroynode(node);
        return nullptr;
    }
    om->open = 0;
    om->switchmode = 0;
    om->nextname[0] = '\0';
    om->setvolume = EM_OGGVOLUME; // a switch before any volume was set comes back at the node's own
    om->loop = 1;
    om->loops = -1;
    om->speed = 0x10000;
    om->channels = 2;
    em_attachnode(node, parent);
    return node;
}

void em_freeoggmusic(em_node* node)
{
    em_locked lock;
    em_destroynode(node);
}

void em_setnodevolume(em_node* node, int32_t volume)
{
    if (emstate.inited != 1 || !node)
        return;
    em_locked lock;
    node->volume = volume;
}

int em_createoggmusic(int parent)
{
    return em_createunder(parent, [](em_node* up) { return em_initoggmusic(up); });
}

int em_playoggmusic(int handle, const char* name)
{
    // Only a music node's data can be read as a music record.
    return em_onnode(handle, -1, [&](em_node* n) { return em_isoggmusic(n) && name ? em_startoggmusic(n, name) : -1; });
}

void em_stopoggmusic(int handle)
{
    em_onnode(handle, 0, [](em_node* n) {
        if (em_isoggmusic(n))
            em_closeoggmusic(n);
        return 0;
    });
}
