// em_local.h -- the audio engine's internals: the locking rule, defined 32-bit
// arithmetic, accounting, engine state, node tree and node types, the sample
// bank, the mixing core and each node type's records
#ifndef EM_EM_LOCAL_H
#define EM_EM_LOCAL_H

// ---------------------------------------------------------------------------
// Locking. SDL calls the audio callback on its audio thread with the audio
// lock held. Every public call of em.h that reaches the tree, a node or the
// sample table takes the lock once, for the whole of its work, through
// em_locked; every internal function expects it held (or the device paused
// or absent: a failed start, em_deinit, the offline engine) and never takes it
// itself. Nothing takes the lock twice, so nothing relies on it being
// re-entrant. Two calls by node pointer kept for programs outside the engine,
// em_freeoggmusic and em_setnodevolume, take it themselves; nothing inside
// the engine calls them. The allocator's table has a lock of its own
// (emio.cpp), taken inside the audio lock or alone; the only lock taken while
// it is held is the log hook's, which is innermost of all (the hook may not
// call the engine).
// ---------------------------------------------------------------------------

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <type_traits>

#include "SDL.h"
#include "io/io_blockset.h"
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>
#include "em/em.h"

// ---------------------------------------------------------------------------
// Defined 32-bit arithmetic. The mixers work in wrapping signed 32-bit words
// with arithmetic shifts; these helpers give exactly that without relying on
// undefined signed overflow or shifts of negative values.
// ---------------------------------------------------------------------------
static inline int32_t em_wrap(uint32_t v)
{
    return static_cast<int32_t>(v);
}
static inline int32_t em_add32(int32_t a, int32_t b)
{
    return em_wrap(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
static inline int32_t em_sub32(int32_t a, int32_t b)
{
    return em_wrap(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
static inline int32_t em_mul32(int32_t a, int32_t b)
{
    return em_wrap(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
static inline int32_t em_sar32(int32_t a, int n)
{
    return a >= 0 ? a >> n : ~(~a >> n);
}
static inline int64_t em_sar64(int64_t a, int n)
{
    return a >= 0 ? a >> n : ~(~a >> n);
}
// Truncating division that is defined for INT32_MIN / -1 (wraps) and x / 0 (0).
static inline int32_t em_div32(int32_t a, int32_t b)
{
    if (b == 0)
        return 0;
    if (b == -1)
        return em_sub32(0, a);
    return a / b;
}
// The nearest 32-bit value.
static inline int32_t em_clamp32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}
// Truncation toward zero into 32 bits that is defined for every input: NaN
// gives 0, values beyond the range give its nearest end.
static inline int32_t em_ftoi(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The nearest mix value to v, halves away from zero, within 32 bits (not a
// number: 0).
static inline int32_t em_fxround(double v)
{
    return em_ftoi(v < 0.0 ? v - 0.5 : v + 0.5);
}

// Relaxed atomic access to words shared with the audio thread.
template <typename T> static inline T em_load(const T* p)
{
    return __atomic_load_n(p, __ATOMIC_RELAXED);
}
template <typename T> static inline void em_store(T* p, T v)
{
    __atomic_store_n(p, v, __ATOMIC_RELAXED);
}

// ---------------------------------------------------------------------------
// Accounting allocator and console printers (emio.cpp)
// ---------------------------------------------------------------------------
enum {
    EMIO_MAXALLOCS = 4096, // entries of the allocation table
    EMIO_LINELEN = 4224    // a printed line, terminator included: a longest path and its message
};

struct emio_alloc {
    void* ptr;    // the block; null marks a free entry
    int32_t size; // bytes (count x size as requested)
    int32_t name; // the caller's numeric tag
};

struct emio_state {
    emio_alloc* allocs;   // EMIO_MAXALLOCS entries, or null while down
    int32_t bytes;        // sum of size over the live entries
    int32_t maxbytes;     // highest value bytes reached since emio_init
    io_blockset released; // blocks released and not handed out again (double-free guard)
};
extern emio_state eminout;

// The heap call behind emio_calloc; tests replace it to inject failures.
extern void* (*emio_rawcalloc)(size_t count, size_t size);

void emio_init();
void* emio_calloc(uint32_t count, uint32_t size, int32_t tag);
void emio_free(void* ptr);
void emio_deinit();
void emio_drop(); // frees the table quietly after a failed engine start
void emio_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void emio_print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
FILE* emio_open(const char* path, const char* mode);
int emio_close(FILE* stream);
int32_t emio_getbytes();    // bytes, read under the table's lock
int32_t emio_getmaxbytes(); // maxbytes, read under the table's lock

// ---------------------------------------------------------------------------
// Engine state, the audio lock and output (em_device.cpp)
// ---------------------------------------------------------------------------
struct em_state {
    int inited;         // 1 between a successful em_init (or em_initoffline) and em_deinit
    int32_t freq;       // device rate, Hz
    int32_t samples;    // device buffer length in frames; every mix buffer holds this many
    em_node* root;      // root of the node tree, null while down
    uint32_t samplepos; // frames delivered since em_init (written by the callback; atomic access)
    uint32_t tick0;     // SDL tick count at em_init, ms
    uint32_t lastcb;    // ms from tick0 to the latest callback (written by the callback; atomic access)
    int device;         // 1: a sound device drives the callback; 0: em_render alone mixes
    int32_t rendered;   // frames of the root's latest mix that em_render has handed out
    int32_t mastergain; // the master volume the root's latest mix ended on, 256 = unity
};
extern em_state emstate;

// Holds the audio lock for a scope: the one lock a public call takes.
struct em_locked {
    em_locked();
    ~em_locked();
    em_locked(const em_locked&) = delete;
    em_locked& operator=(const em_locked&) = delete;
};
// How often a thread took the audio lock while it held it already: the
// locking rule keeps this at 0 (the tests check it).
extern int em_locknests;

void em_audiocallback(void* userdata, Uint8* stream, int len);
void em_processnode(em_node* node);
void em_mixtoparent(em_node* node);
int16_t em_limit(int32_t v); // the soft-knee limiter for one mix value

// ---------------------------------------------------------------------------
// End events (em_event.cpp). The writers hold the audio lock (the mixer, or a
// call under it), so there is one writer at a time; one thread of the program
// reads without the lock. head and tail only grow (wrapping at 2^32); the
// ring holds head - tail events, at most EM_EVENTRING.
// ---------------------------------------------------------------------------
enum { EM_EVENTRING = 256 }; // events the ring holds; a power of two

struct em_events {
    em_event* ring; // EM_EVENTRING events, taken at the start; null while down
    uint32_t head;  // events written (the writer's; release store)
    uint32_t tail;  // events read (the reader's; release store)
    int32_t lost;   // events dropped because the ring was full (atomic)
};
extern em_events emevents;

int em_initevents(); // 0, or -1 when the ring cannot be had
void em_deinitevents();
// The sample clock of a frame of the buffer being mixed (0 = its first).
uint32_t em_frameclock(int32_t frame);
// Queues an event for em_pollevent; a full ring drops it and counts it.
void em_postevent(int32_t type, int32_t handle, int32_t sample, uint32_t clock);

// ---------------------------------------------------------------------------
// Node tree and node types (em_node.cpp)
// ---------------------------------------------------------------------------
extern em_node** emnodes; // EM_MAXHANDLES node pointers, slot 0 unused

// What a node type installs in its nodes, and the texts it reports failures
// with. A tag of 0 means no block; a null text, no message.
struct em_nodetype {
    void (*install)(em_node* node); // sets the callbacks the type answers with, null for none
    int32_t mixtag;                 // the node's own mix buffer (frames x 2 words), 0 for none
    int32_t datatag;                // the type's data record, 0 for none
    uint32_t datasize;              // bytes of the data record
    const char* nodefail;           // printed when no node can be made
    const char* mixfail;            // printed when the mix buffer cannot be had
    const char* datafail;           // printed when the data record cannot be had
};

// A node of a type: node, mix buffer and zero-filled data record, attached
// under parent when it is not null. On failure the type's text is printed,
// everything made so far is undone and the result is null.
em_node* em_makenode(const em_nodetype* type, em_node* parent);
// 1 when the node is of the type (answers with its setparam and has its data).
int em_isnodetype(const em_node* node, const em_nodetype* type);
// The destroy callback of node types whose data record owns no further blocks.
void em_freenodedata(em_node* node);
em_node* em_createnode(em_node* parent);
void em_destroynode(em_node* node);
em_node* em_getnode(int handle);     // null for 0, a free or out-of-range handle, or an engine that is down
int em_canfree(const em_node* node); // 0 for the root and sequencer channels, which em_freenode refuses

// The public calls' way in: under the audio lock, taken once, call(node) on
// the node of a handle, or none when the handle names no node or the engine
// is down. The lookup under the lock keeps a voice that ends in the callback
// from freeing the node between the lookup and its use.
template <typename Result, typename Call> static inline Result em_onnode(int handle, Result none, Call call)
{
    em_locked lock;
    em_node* node = em_getnode(handle);
    return node ? call(node) : none;
}
// The handle of the node make(parent node) makes under the node of parent;
// 0 when the engine is down, parent names no node or make fails.
template <typename Make> static inline int em_createunder(int parent, Make make)
{
    const em_node* node = em_onnode(parent, static_cast<const em_node*>(nullptr), [&](em_node* up) { return make(up); });
    return node ? node->handle : 0;
}
int em_attachnode(em_node* node, em_node* parent); // 0, or -1 when parent is node or inside its subtree
void em_detachnode(em_node* node);
int em_findfreehandle();
int em_initnodes();
void em_deinitnodes();
em_node* em_createroot();

// ---------------------------------------------------------------------------
// Node controls (em_control.cpp): pause, timed fades and the master volume,
// which the tree walk applies around each node's own processing
// ---------------------------------------------------------------------------

// A volume moving in a straight line, frame by frame: after k of its frames
// it stands at from + (to - from) x k / frames (truncated), and at to from
// frame frames on.
struct em_volumeglide {
    int32_t from;   // volume at its start, 256 = unity
    int32_t to;     // volume it ends on
    int32_t frames; // its length in output frames, >= 0 (0: to at once)
    int32_t done;   // frames of it mixed before the current buffer
};
// The glide's volume after k of its frames.
int32_t em_glidevolume(const em_volumeglide* g, int64_t k);

// The controls of one node, kept by handle beside the node table.
struct em_nodectl {
    int32_t paused;      // 1: the node and its subtree neither mix nor advance
    int32_t fading;      // 1 while a fade runs
    int32_t then;        // EM_FADE*: what follows the fade's end
    em_volumeglide fade; // the fade's volume
    int32_t waiting;     // 1: the node starts at startclock; until the buffer that holds it, it is not processed
    uint32_t startclock; // the sample clock of the node's first frame
    int32_t offset;      // frames of the current buffer before the node's first, 0..samples - 1
};
extern em_nodectl* emctl; // EM_MAXHANDLES records, slot 0 unused; all zero for a new node

em_nodectl* em_ctlof(const em_node* node); // the node's controls, or null for a node outside the table
// Starts a fade of the node's volume from its value now (replacing one in
// progress) to volume over frames output frames; then is EM_FADE*.
void em_startfade(em_node* node, int32_t volume, int32_t frames, int32_t then);
void em_endfade(em_node* node); // a fade in progress stops where it stands
int em_isfading(const em_node* node);
// Milliseconds of output as whole frames at the device rate, rounded.
int32_t em_msframes(int32_t ms);
// Holds a new voice until the sample clock reaches clock: its first frame
// sounds at that clock, or at the next buffer's first frame when it has passed.
void em_startat(em_node* node, uint32_t clock);
int em_startvoiceat(int voice, uint32_t clock); // em_startat on the voice of a handle; the handle (0 stays 0)
// Frames of the current buffer that lie before the voice's first: a voice
// started at a clock mixes into the rest of the buffer only.
int32_t em_startoffset(const em_node* node);

// The gain a node mixes frame f of the current buffer with: its volume, or
// the fade's volume while it fades.
struct em_framegain {
    const em_volumeglide* glide; // null: volume throughout
    int32_t volume;
};
em_framegain em_gainof(const em_node* node);
static inline int32_t em_gainat(const em_framegain& g, int32_t f)
{
    return g.glide ? em_glidevolume(g.glide, static_cast<int64_t>(g.glide->done) + f + 1) : g.volume;
}

// What a voice's fade asks of the buffer about to be mixed: its own volume
// glides to *volume over the buffer's first *frames frames (0: at once) and
// holds there. 0 when the voice does not fade.
int em_voicefade(const em_node* node, int32_t* volume, int32_t* frames);

// What the tree walks (em_processnode, em_walksends) do around each node:
// em_holds is 1 when the node and its subtree sit this buffer out (paused,
// or a voice waiting for its start clock), asked once a buffer after its
// buffer is cleared; em_runprocess runs its own process and then moves its
// fade on (a fade's end may free the node). The root's process applies the
// master volume.
int em_holds(em_node* node);
void em_runprocess(em_node* node);

// ---------------------------------------------------------------------------
// Sample bank (em_sample.cpp)
// ---------------------------------------------------------------------------
extern em_sample** em_samples; // EM_MAXSAMPLES sample pointers, slot 0 unused

int em_initsamples();
void em_deinitsamples();
em_sample* em_readsample(const char* name);
// Converts a decoded WAV buffer (format, channels, rate, bytes) into a new
// sample in the lowest free slot; null for a refused format or no memory.
// An AUDIO_S16MSB buffer is byte-swapped in place.
em_sample* em_makesample(uint16_t format, int channels, int32_t rate, uint8_t* buffer, uint32_t bytes);
// A sample of length frames (zero-filled) for the lowest free slot, not yet in
// the table; null with the reason set (no slot, channels other than 1 or 2, a
// rate out of range, no frames, too long, no memory).
em_sample* em_newsample(int channels, int32_t rate, int64_t length);
// Puts a filled sample from em_newsample into its slot for the mixer to find.
void em_addsample(em_sample* sample);
// Why the latest load failed, for em_sampleerror (printf-style).
void em_setsamplewhy(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Ends a successful load: clears the reason and gives the handle (0 for null).
int em_loadedsample(const em_sample* sample);
// Opens a sample file once a slot is free for it; null with the reason set.
FILE* em_opensamplefile(const char* name);
// Runs reader() (which makes a sample, or gives null with the reason set) while
// the engine is up: the sample's handle, or 0 with the reason set.
template <typename Reader> static inline int em_loadby(Reader reader)
{
    if (emstate.inited != 1) {
        em_setsamplewhy("the audio engine is not started");
        return 0;
    }
    return em_loadedsample(reader());
}
void em_destroysample(em_sample* sample);
int em_freesampleslot();
void em_swap16(uint8_t* buffer, uint32_t bytes);

// ---------------------------------------------------------------------------
// The mixing core (em_mix.cpp): gains, the 16.16 advance, placement, runs up
// to the next end or loop point, glides, and the voice mixers every voice
// type calls. The runs, the stretches of frames that cannot reach an end,
// come in one set per instruction set: the plain loops of em_mix.cpp, which
// stay the reference, and the vector lanes of em_mixlanes.h, compiled by
// em_mixsse2.cpp and em_mixavx2.cpp; all give the very same values.
// ---------------------------------------------------------------------------

// Calls body with flag as a compile-time constant (std::true_type or
// std::false_type), so that each value gets a loop of its own with no test
// per frame; returns what body returns.
template <typename Body> static inline auto em_specialise(bool flag, Body body)
{
    return flag ? body(std::true_type {}) : body(std::false_type {});
}

// The sample a voice reads and how it reads it. At a frame a mixer reads its
// value; with interpolation the value on the straight line from it to the
// next frame's value at the fraction, value + ((next - value) x (frac >> 1))
// >> 15. After the last frame comes the loop point, the first frame, when
// the voice loops, else silence.
struct em_source {
    const int32_t* data; // channels x length values, left/right interleaved
    int32_t length;      // frames, at least 1
    int32_t channels;    // 1 or 2
    bool loop;           // EMF_LOOP: the first frame follows the last
    bool interp;         // EMF_INTERPOLATE: read between frames
};
// A value read at a fraction (0..65535) past a frame of value a, on the
// straight line to the next frame's value b: (b - a) stays within 17 bits and
// the half fraction within 15, so the product fits 32 bits. The music node
// reads its stream with it too.
static inline int32_t em_lerp(int32_t a, int32_t b, int32_t frac)
{
    return em_add32(a, em_sar32(em_mul32(em_sub32(b, a), frac >> 1), 15));
}
// The source a voice of flags (EMF_LOOP, EMF_INTERPOLATE) reads from s.
em_source em_voicesource(const em_sample* s, uint32_t flags);

// The gains of a voice, 256 = full. Mono: left and right share of the value
// (ll, rr). Stereo: a 2 x 2 matrix that moves one side into the other.
struct em_gains {
    int32_t ll; // left from left (mono: left)
    int32_t lr; // left from right
    int32_t rl; // right from left
    int32_t rr; // right from right (mono: right)
};
// The gains of a voice on a sample of channels (1 or 2) at volume (256 =
// unity) and pan (-128..128).
em_gains em_voicegains(int32_t channels, int32_t volume, int32_t pan);

// A read place on a sample: frame index and 16-bit fraction.
struct em_place {
    int32_t frame; // frames from the start
    int32_t frac;  // 1/65536 frame, 0..65535
};

// Puts a place set from outside back on the sample: never before the start,
// wrapped when looping; 1 when a non-looping sample is already past its end.
int em_placeread(em_place* p, const em_source& src);

// Mixes up to n frames of the source at a constant 16.16 step (a negative
// one holds still) and constant gains, adding into out (interleaved
// left/right). Returns the frames mixed: n, or fewer when a non-looping
// sample ended, the ending frame included (*ended is then set).
int32_t em_mixsteady(const em_source& src, em_place* p, int32_t step, const em_gains& g, int32_t* out, int32_t n, bool* ended);

// Step, volume and pan of a ramped voice: the values in force and their targets.
struct em_rampvalues {
    int32_t step, volume, pan;
};
// Mixes n frames of the source while step, volume and pan slide linearly
// from now to target over exactly n frames (wrapping 32-bit fields); each
// field that moved ends exactly on its target. As em_mixsteady otherwise.
int32_t em_mixramped(const em_source& src, em_place* p, em_rampvalues* now, const em_rampvalues& target, int32_t* out, int32_t n,
                     bool* ended);

// What the two read heads of a positioned voice glide from and to.
struct em_headvalues {
    int32_t step;   // 16.16 step
    int32_t gain;   // 256 = unity
    int32_t pan;    // -128..128
    int32_t offset; // 16.16 frames the right head reads ahead of the left one
};
// The two read heads of a positioned voice and the values in force.
struct em_heads {
    em_place left, right; // left may run before the start (negative frame): it reads silence there
    em_headvalues now;
};
// Mixes n frames of both heads (a stereo sample heard as its mono mix-down)
// while step, gain and pan glide to the target's (clamped 32-bit fields) and
// the heads drift apart or together by the change of offset, half each. The
// left head feeds the left output, the right head the right. Returns bit 1
// when the left head ended, bit 2 the right; the values in force are updated.
int em_mixheads(const em_source& src, em_heads* h, const em_headvalues& target, int32_t* out, int32_t n);

// A glide kept as one 16.16 word whose top half is the field at each frame:
// biased so that the arithmetic shift truncates towards zero as the ramp's
// division does, so while the ramp's sums stay within 32 bits, a glide word
// gives the same fields with one addition a frame.
static inline int64_t em_glide(int32_t from, int64_t inc)
{
    return static_cast<int64_t>(from) * 65536 + (inc < 0 ? 65535 : 0);
}
static inline int32_t em_glidefield(int64_t glide)
{
    return em_wrap(static_cast<uint32_t>(static_cast<uint64_t>(em_sar64(glide, 16))));
}

// Three glides and their increments: step, volume (or gain) and pan.
struct em_glides {
    int64_t step, volume, pan;
    int64_t stepinc, volinc, paninc;
};

// A run of two read heads: their 16.16 places, their per-frame corrections
// of the step, the glides, and the values the heads read last.
struct em_headrun {
    int64_t left, right;           // 16.16 places, both at or after the start
    int64_t leftfix, rightfix;     // 16.16 added to the step each frame
    em_glides g;                   // step, gain, pan
    int32_t leftvalue, rightvalue; // the values read at the last frame
};

// The runs of one instruction set, each by layout (index 0 mono, 1 stereo).
// A run reads the source without reaching its end, so none of its frames
// tests it. Sample values lie within -32768..32767, which the vector runs
// rely on.
struct em_runs {
    // n frames at unit step from in (n values mono, 2n stereo), each read as it is
    void (*unit[2])(int32_t* out, const int32_t* in, int32_t n, const em_gains& g);
    // n frames from the place from at a constant 16.16 step
    void (*stepped[2])(int32_t* out, const em_source& src, em_place from, int32_t step, int32_t n, const em_gains& g);
    // n frames of a ramped voice from the 16.16 place *place
    void (*ramped[2])(int32_t* out, const em_source& src, int64_t* place, em_glides* g, int32_t n);
    // n frames of two heads (a stereo source heard as mono)
    void (*heads[2])(int32_t* out, const em_source& src, em_headrun* r, int32_t n);
};
extern const em_runs em_plainruns; // em_mix.cpp: the reference
#if defined(__x86_64__)
extern const em_runs em_sse2runs; // em_mixsse2.cpp: four lanes, the x86-64 baseline
extern const em_runs em_avx2runs; // em_mixavx2.cpp: eight lanes, AVX2
#endif

// Instruction sets for the runs.
enum {
    EM_SIMDNONE = 0, // the plain loops
    EM_SIMDSSE2 = 1, // four lanes, every x86-64 processor
    EM_SIMDAVX2 = 2  // eight lanes, where the processor has AVX2
};
// The level the runs use, decided once: the best the processor has, capped
// by EM_SIMD (none, sse2, avx2) or EM_NOSIMD (the same as none) in the
// environment. Tests and benchmarks use these to cover every level.
int em_simdlevel();
const char* em_simdname(int level);
// The runs of the level in use.
const em_runs* em_mixruns();

// ---------------------------------------------------------------------------
// 3-D vectors: three 32-bit floats; the listener frame is right-handed with
// x to the right, y up and the view direction along -z
// ---------------------------------------------------------------------------
struct em_vector {
    float x, y, z;
};

// a - b
static inline em_vector em_vecsub(const em_vector* a, const em_vector* b)
{
    return {a->x - b->x, a->y - b->y, a->z - b->z};
}
// a += s x b
static inline void em_vecaddscaled(em_vector* a, float s, const em_vector* b)
{
    a->x += s * b->x;
    a->y += s * b->y;
    a->z += s * b->z;
}
static inline float em_vecdot(const em_vector* a, const em_vector* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}
// a x b
static inline em_vector em_veccross(const em_vector* a, const em_vector* b)
{
    return {a->y * b->z - b->y * a->z, a->z * b->x - b->z * a->x, a->x * b->y - b->x * a->y};
}
// Divides v by its length, which it returns; a zero vector has no direction
// and stays zero instead of becoming NaN.
static inline float em_vecnormalise(em_vector* v)
{
    const float length = std::sqrt(em_vecdot(v, v));
    if (length > 0.0f) {
        v->x /= length;
        v->y /= length;
        v->z /= length;
    }
    return length;
}
// From a parameter's three floats, and into them.
static inline em_vector em_vecfrom(const float* v)
{
    return {v[0], v[1], v[2]};
}
static inline void em_vecto(float* v, const em_vector* from)
{
    v[0] = from->x;
    v[1] = from->y;
    v[2] = from->z;
}

// ---------------------------------------------------------------------------
// Filters: the audio cookbook's biquad designs (em_effect.cpp), shared by the
// filter effect and the per-voice filters (em_voicefilter.cpp)
// ---------------------------------------------------------------------------

// What a filter's coefficients follow from.
struct em_filtershape {
    int32_t type;                // EMFT_*
    double frequency, q, gaindb; // Hz, quality, dB
};
// Coefficients b0 b1 b2 a1 a2 (a0 = 1) of a shape at the engine's rate.
void em_designfilter(const em_filtershape& p, double* d);
// A filter moving from one shape to another within a buffer of frames goes in
// pieces (em_filterpieces of them, 1 when it does not move), each designed at
// the shape em_filterpiece gives for its end (the frequency and quality moving
// geometrically, the gain linearly), its coefficients sliding straight to it.
int32_t em_filterpieces(const em_filtershape& from, const em_filtershape& to, int32_t frames);
em_filtershape em_filterpiece(const em_filtershape& from, const em_filtershape& to, int32_t piece, int32_t pieces);

// One stage of a voice's filters: a low-pass or a high-pass biquad and the
// share of it in force (0: the stage is off, 1: fully on), which glides over
// a buffer when the stage is switched.
struct em_voicestage {
    em_filtershape shape; // in force
    double coef[5];       // b0 b1 b2 a1 a2 of the shape in force
    double hist[2][4];    // per side: x[n-1], x[n-2], y[n-1], y[n-2]
    double wet;           // 0 off .. 1 on
};
// A voice's own filters (EMP_LOWPASS, EMP_HIGHPASS): its sound passes them
// before it goes into its node's buffer.
struct em_voicefilter {
    float cutoff[2];        // as set: low-pass, high-pass corner, Hz; 0 off
    int32_t heard;          // 1 once the voice mixed a buffer: changes then glide instead of jumping
    em_voicestage stage[2]; // low-pass, high-pass
};
// Sets or reads EMP_LOWPASS or EMP_HIGHPASS; 0, or -1 for another id or a
// value refused (not finite, not 0 and outside 1..rate / 2) or no scratch
// buffer to be had (printed); the getter -1.0 for another id.
int em_setvoicefilter(em_voicefilter* vf, int id, float value);
float em_getvoicefilter(const em_voicefilter* vf, int id);
// Where a voice mixes its buffer: out when its filters are off, else the
// cleared scratch buffer that em_filtervoice then passes through them into out.
int32_t* em_voicemixbuffer(em_voicefilter* vf, int32_t* out);
// After the voice mixed its buffer: the scratch through the filters into out
// (when em_voicemixbuffer handed it out); marks the voice heard.
void em_filtervoice(em_voicefilter* vf, int32_t* out);
void em_freevoicescratch(); // at shutdown

// ---------------------------------------------------------------------------
// Sampler and its voices (em_sampler.cpp)
// ---------------------------------------------------------------------------
// A sampler's cap on its voices (EMP_MAXVOICES, EMP_STEALMODE).
struct em_voicelimit {
    int32_t maxvoices; // voices playing at once, 0 = as many as the handle table holds
    int32_t stealmode; // EMSTEAL_*: what a trigger at the cap does
};

struct em_sampler {
    int32_t volume;      // volume given to new voices, 256 = unity
    int32_t pan;         // pan given to new voices, -128..128
    int32_t pitch;       // 16.16 factor on the sample's rate step, 0x10000 = 1.0
    uint32_t flags;      // EMS_ONDEMAND, EMS_LOOP
    em_voicelimit limit; // the cap on its voices
};

struct em_schannel {
    int32_t sample;        // sample-bank number played, 0 = none
    int32_t pos;           // read index: frame (mono) or value index, 2 x frame (stereo)
    int32_t frac;          // fraction of the read index, 0..65535 (1/65536 frame)
    int32_t volume;        // 256 = unity
    int32_t step;          // 16.16 advance per output frame, 0x10000 = one frame; negative holds still
    int32_t pan;           // -128 left .. 128 right
    uint32_t flags;        // EMF_LOOP, EMF_AUTOFREE, EMF_PLAYING, EMF_RAMP
    int32_t tvolume;       // ramp target for volume; the voice's own volume when it is made
    int32_t tstep;         // ramp target for step; the voice's own step when it is made
    int32_t tpan;          // ramp target for pan; the voice's own pan when it is made
    int32_t fadeset;       // 1: a fade moves the volume in the buffer being mixed
    int32_t fadeto;        // the volume it reaches there
    int32_t fadeframes;    // after this many frames of the buffer (0: at once)
    em_voicefilter filter; // EMP_LOWPASS, EMP_HIGHPASS
    int32_t stolen;        // 1: a trigger took its place; it fades to 0 over its next buffer and ends
    int32_t heard;         // 1 once a buffer has been mixed of it
};

// Sets (value nonzero) or clears a bit of a flag word.
static inline void em_setflag(uint32_t* flags, uint32_t bit, int32_t value)
{
    if (value)
        *flags |= bit;
    else
        *flags &= ~bit;
}

// The parameters every sample voice answers alike: the fields em_schannel and
// em_seqchannel share. 0, or -1 for an id a voice does not take. A target
// (24-26) also asks for a ramp towards the targets over the next buffer.
template <typename Voice> int em_voicesetparam(Voice* ch, int id, int32_t value)
{
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
    case EMP_INTERPOLATE: em_setflag(&ch->flags, EMF_INTERPOLATE, value); return 0;
    default: return -1;
    }
}
// The 16.16 step of a new voice: the sample's rate step times the sampler's
// 16.16 pitch factor, in 32 bits (4 + 12 bits shifted off).
static inline int32_t em_pitchstep(int32_t samplestep, int32_t pitch)
{
    return em_sar32(em_mul32(em_sar32(samplestep, 4), pitch), 12);
}
// EMP_STATE of a voice: 3 playing, 1 holding a sample, 0 neither.
static inline int em_voicestate(uint32_t flags, int32_t sample)
{
    return (flags & EMF_PLAYING) ? 3 : sample != 0 ? 1 : 0;
}
// Puts a voice's ramp targets on its own volume, step and pan, as a voice is
// made: a later ramp moves only the fields whose targets are set apart.
template <typename Voice> void em_settargetsnow(Voice* ch)
{
    ch->tvolume = ch->volume;
    ch->tstep = ch->step;
    ch->tpan = ch->pan;
}

template <typename Voice> int em_voicegetparam(const Voice* ch, int id)
{
    switch (id) {
    case EMP_VOLUME: return ch->volume;
    case EMP_PITCH: return ch->step;
    case EMP_PAN: return ch->pan;
    case EMP_FLAGS: return static_cast<int>(ch->flags);
    case EMP_SAMPLE: return ch->sample;
    case EMP_POSITION: return ch->pos;
    case EMP_STATE: return em_voicestate(ch->flags, ch->sample);
    case EMP_INTERPOLATE: return (ch->flags & EMF_INTERPOLATE) ? 1 : 0;
    default: return -1;
    }
}

// What a voice limit reads of one voice: where its flags and steal mark
// are, the sample it plays and how loud it is now.
struct em_voiceview {
    uint32_t* flags;  // its EMF_* word
    int32_t* stolen;  // its steal mark
    int32_t sample;   // the sample it plays
    int32_t heard;    // 1 once a buffer has been mixed of it
    int64_t loudness; // its gain now, on a scale its own sampler type keeps
};
// A sampler type's voices: how one is made (under sampler, not attached) and
// how a child of the sampler is read (1 and *v filled for a voice of the type).
struct em_voicekind {
    em_node* (*make)(em_node* sampler, int autofree);
    int (*view)(em_node* node, em_voiceview* v);
};
// What the play requests of both samplers share. The voice a request for
// sample starts under sampler, made by kind's make(sampler, 1) but not
// attached, and its sample in *entry; null when the sampler takes no
// requests (ondemand 0), when it holds limit's maximum of voices and its
// steal mode refuses (silently), or, with a warning naming caller, for
// sample 0, a sample not loaded or a voice that cannot be made. At the
// maximum with a steal mode, the voice chosen is stolen once the new one
// has been made.
em_node* em_requestvoice(const char* caller, em_node* sampler, int sample, bool ondemand, const em_voicekind* kind,
                         const em_voicelimit* limit, const em_sample** entry);
// Sets EMP_MAXVOICES or EMP_STEALMODE (id) on a sampler of either type: 0, or
// -1 for a value out of range, changing nothing.
int em_setvoicelimit(em_voicelimit* limit, int id, int32_t value);
// The sample of a voice if it can be read: loaded, with data and frames.
const em_sample* em_voicesample(int32_t sample);
// The end of a voice whose sample ended: EME_VOICEEND posted with the sample
// and the clock of lastframe (the buffer's frame of the voice's last sound),
// then the voice freed if it frees itself (EMF_AUTOFREE), else stopped, its
// node kept.
void em_endvoice(em_node* node, uint32_t* flags, int32_t sample, int32_t lastframe);

em_node* em_initsampler(em_node* parent, int mode);
em_node* em_initschannel(em_node* parent, int autofree);
int em_playsampler(em_node* sampler, int sample);
// Mixes one buffer of frames of a voice added into out (interleaved L/R), by
// its layout, step and ramp; when a non-looping sample ended, the frames
// mixed up to the ending one included (at least 1), else 0.
int em_mixschannel(em_schannel* ch, const em_sample* s, int32_t* out, int32_t frames);

// ---------------------------------------------------------------------------
// Ogg Vorbis music stream (em_oggmusic.cpp)
// ---------------------------------------------------------------------------
enum {
    EM_OGGNAME = PATH_MAX, // file names are shorter than this: as long as the system takes
    EM_OGGFRAMES = 1024,   // stereo frames in the load buffer
    EM_MAXREADERRORS = 8   // consecutive decode errors that end a stream (music and Ogg samples alike)
};

struct em_oggmusic {
    char nextname[EM_OGGNAME]; // file to switch to after the fade; empty = none pending
    FILE* fp;                  // the current stream's file, owned by vf once opened
    OggVorbis_File vf;         // decoder state of the current stream
    vorbis_info* vi;           // the stream's info from ov_info
    int32_t open;              // 1 while a stream is open (and so playing)
    int32_t rate;              // stream rate, Hz
    int32_t length;            // stream length in stream frames (low 32 bits)
    int32_t loop;              // 1: restart at the end
    int32_t loops;             // passes still to play after this one; -1 forever (EMP_LOOPCOUNT)
    int32_t switchmode;        // above 0: a start fades the playing stream out and switches
    int32_t setvolume;         // volume restored after a switch: the node's first (256) or the last set
    int32_t step;              // 16.16 stream frames per output frame (EMP_PITCH reads it)
    int32_t speed;             // 16.16 playback speed, 0x10000 = normal
    int32_t pos;               // read frame in loadbuf (-1: carry); at or past valid (or below) = refill first
    int64_t frac;              // the read place's fraction, in 1/(65536 x device rate) stream frames
    int32_t valid;             // frames of loadbuf that hold sound: EM_OGGFRAMES, fewer in the last fill
    int32_t ended;             // 1: the last fill reached the stream's end; after valid frames it stops
    int32_t bufstart;          // stream frame of loadbuf[0]
    int32_t restartat;         // frame of loadbuf where a new pass begins (stream frame 0), -1 none
    uint32_t startclock;       // sample clock at the start of the current pass
    uint32_t startms;          // millisecond clock at the start of the current pass
    int16_t* loadbuf;          // EM_OGGFRAMES interleaved stereo frames, signed 16-bit
    int32_t channels;          // channels of the current stream, 1 or 2 (mono plays on both sides)
    int32_t fadems;            // a switch's fade-out, ms; 0: EM_FADESTEP a buffer
    int32_t interp;            // EMP_INTERPOLATE: 1 reads between stream frames on a straight line
    int32_t carried;           // 1: frame -1 of loadbuf, the previous fill's last, is in carry
    int16_t carry[2];          // that frame, kept when a fill was made early to read past it
};

em_node* em_initoggmusic(em_node* parent);
void em_openoggmusic(em_node* node, const char* name);
int em_startoggmusic(em_node* node, const char* name);
int em_switchoggmusic(em_node* node, const char* name);
void em_closeoggmusic(em_node* node);
void em_freeoggmusic(em_node* node);                    // takes the audio lock itself
void em_setnodevolume(em_node* node, int32_t volume);   // takes the audio lock itself
int em_filloggmusic(em_node* node, int32_t framesdone); // 1 when the stream ended in this fill
void em_mixoggmusic(em_node* node);

// ---------------------------------------------------------------------------
// 3-D sampler and its positioned voices (em_sampler3d.cpp)
// ---------------------------------------------------------------------------
// How a source is heard with distance and direction: a 3-D sampler's settings
// for new voices, and each voice's own (EMP_DISTANCEMODEL to EMP_RELATIVE).
struct em_s3shape {
    int32_t model;       // distance model, EMD_*
    int32_t relative;    // 1: position and velocity are taken in the listener's frame
    float refdistance;   // reference distance, scene units, above 0
    float maxdistance;   // EMD_FALLOFF: the gain reaches 0 there (<= 0: silent); clamped models: the cap
    float rolloff;       // roll-off factor, 0 or more
    float coneinner;     // whole inner cone angle, degrees, 0..360
    float coneouter;     // whole outer cone angle, degrees, 0..360
    float coneoutergain; // share of the gain outside the outer cone, 0..1
    float doppler;       // factor on the radial speed, 0 or more; 0: no Doppler shift
    em_vector direction; // the cone's axis, a unit vector
};

struct em_sampler3d {
    int32_t ondemand;      // nonzero: play requests create voices
    float soundspeed;      // speed of sound, scene units per second; 0 or not finite: no Doppler, no ear delay
    float eardistance;     // distance between the ears, scene units
    em_vector position;    // listener position
    em_vector velocity;    // listener velocity, units per second
    em_vector forward;     // view direction (not normalised)
    em_vector right;       // right-hand direction
    em_vector up;          // up direction
    int32_t volume;        // volume of new voices, 256 = unity
    int32_t pitch;         // 16.16 factor on the sample's step for new voices
    uint32_t flags;        // initial flags of new voices (EMF_*)
    em_s3shape shape;      // distance and direction settings of new voices
    em_vector srcposition; // initial position of new voices
    em_vector srcvelocity; // initial velocity of new voices
    em_voicelimit limit;   // the cap on its voices
};

struct em_s3channel {
    em_sampler3d* listener; // record of the sampler3d the voice was made for
    int32_t sample;         // sample-bank number, 0 = none
    int32_t volume;         // source volume before distance, 256 = unity
    int32_t step;           // 16.16 rate step before Doppler; negative holds still
    em_s3shape shape;       // how distance and direction change the gain
    em_vector position;     // source position
    em_vector velocity;     // source velocity, units per second
    uint32_t flags;         // EMF_LOOP, EMF_AUTOFREE, EMF_MOVING, EMF_PLAYING
    int32_t posl;           // left-ear read index, frames; negative = not yet entered
    int32_t fracl;          // its fraction, 0..65535
    int32_t posr;           // right-ear read index, frames
    int32_t fracr;          // its fraction
    int32_t curpan;         // pan in force, -128..128
    int32_t curgain;        // gain in force, 256 = unity
    int32_t curstep;        // 16.16 step in force, after Doppler
    int32_t itd;            // ear delay in output frames, positive when the source is to the right
    int32_t offset;         // 16.16 sample frames the right head reads ahead of the left one
    int32_t mixed;          // 1 once a buffer has been mixed: until then a new place glides from nothing
    em_voicefilter filter;  // EMP_LOWPASS, EMP_HIGHPASS
    int32_t stolen;         // 1: a trigger took its place; it fades to 0 over its next buffer and ends
};

// What the geometry asks of a voice for the next buffer.
struct em_s3target {
    int32_t pan;    // -128..128
    int32_t gain;   // 256 = unity
    int32_t step;   // 16.16, after Doppler
    int32_t itd;    // ear delay, output frames
    int32_t offset; // 16.16 right head ahead of the left, sample frames
};

em_node* em_initsampler3d(em_node* parent, int mode);
em_node* em_inits3channel(em_node* sampler3d, int autofree);
int em_playsampler3d(em_node* sampler3d, int sample);
em_s3target em_s3spatial(const em_s3channel* ch);
// Mixes one buffer of frames of a voice into out (L/R); bit 1: the left ear
// ended, bit 2: the right ear ended.
int em_mixs3channel(em_s3channel* ch, const em_sample* s, int32_t* out, int32_t frames);

// ---------------------------------------------------------------------------
// Step sequencer and its channels (em_sequencer.cpp)
// ---------------------------------------------------------------------------
struct em_sequencer {
    int32_t playing;                  // nonzero: steps trigger their notes
    int32_t duration;                 // one pass, output frames, >= 1
    int32_t time;                     // position in the pass, output frames, 0..duration - 1
    int32_t steps;                    // steps of every pattern, >= 1
    int32_t stepno;                   // last step whose first frame lies before time, -1 none
    int32_t nchannels;                // channels, 0..EM_SEQCHANNELS
    int32_t handles[EM_SEQCHANNELS];  // each channel's node handle, -1 when not made
    int8_t* patterns[EM_SEQCHANNELS]; // each channel's steps note bytes, owned here
    int32_t selected;                 // channel index for EMP_CHANNELNODE, -1 none
};

struct em_seqchannel {
    int32_t sequencer; // handle of the sequencer node
    int32_t index;     // the channel's index in the sequencer (its pattern)
    int32_t sample;    // sample-bank number, 0 = none
    int32_t pos;       // read index, frames
    int32_t frac;      // its fraction, 0..65535
    int32_t volume;    // 256 = unity
    int32_t step;      // 16.16 advance per output frame, set by every note
    int32_t pan;       // -128..128
    uint32_t flags;    // EMF_LOOP, EMF_PLAYING (EMF_RAMP and EMF_AUTOFREE are kept, not acted on)
    int32_t tvolume;   // ramp target for volume (not applied)
    int32_t tstep;     // ramp target for step (not applied)
    int32_t tpan;      // ramp target for pan (not applied)
};

em_node* em_initsequencer(em_node* parent, int channels, int steps);
em_node* em_initseqchannel(em_node* sequencer, int autofree);
int em_isseqchannel(const em_node* node);
// The 16.16 step of a note (12..127) for a sample of base step, note 69 = base.
int32_t em_notestep(int note, int32_t base);

// ---------------------------------------------------------------------------
// Effect nodes (em_effect.cpp) and sends (em_send.cpp)
// ---------------------------------------------------------------------------
em_node* em_initeffect(em_node* parent, int kind);
int em_iseffect(const em_node* node); // 1 when the node is an effect node
// Takes the send table if it is not yet taken (with the first effect node); 0, or -1.
int em_reservesends();
void em_freesends(); // at shutdown, after every node has gone
// 1 while any send is set: the walk then goes through em_walksends.
int em_sendsinuse();
// One buffer of the tree from root, each effect after all of its senders.
void em_walksends(em_node* root);
// A node going: its sends and the sends into it go with it.
void em_dropsends(const em_node* node);

#endif
