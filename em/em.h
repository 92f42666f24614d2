// em.h -- the audio engine's public interface: start/stop, clocks, the log hook,
// end events, node handles, parameter calls, the sample bank with its loaders,
// WAV writing and analysis routines
#ifndef EM_EM_H
#define EM_EM_H

#include <stdint.h>
#include <stdio.h>

// The interface speaks C: C linkage, plain records and constants, so that C and
// every language that binds through C can call it. The calls and data declared
// here are what the shared library exports; everything else stays hidden.
#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

// Flag words are unsigned 32-bit in C++; C's enumeration constants are int, which
// holds each of these values unchanged.
#ifdef __cplusplus
#define EM_FLAGWORD enum : uint32_t
#else
#define EM_FLAGWORD enum
#endif

typedef struct em_node em_node;
typedef struct em_sample em_sample;
typedef struct em_event em_event;

// ---------------------------------------------------------------------------
// Parameter ids: the same id names the same quantity on every node type.
// ---------------------------------------------------------------------------
enum {
    EMP_RATE = 1,          // int: stream sample rate, Hz
    EMP_LENGTH = 2,        // int: stream length in stream frames / sequence pass length
    EMP_LENGTHMS = 3,      // int: stream length in milliseconds
    EMP_OUTLENGTH = 4,     // int: stream length in output frames
    EMP_VOLUME = 5,        // int: gain, 256 = unity
    EMP_PITCH = 6,         // int: playback step, 16.16, 0x10000 = 1.0
    EMP_PAN = 7,           // int: -128 left .. +128 right
    EMP_FLAGS = 8,         // int: voice flag word (EMF_*)
    EMP_SAMPLE = 9,        // int: sample-bank number played
    EMP_POSITION = 10,     // int: play position; setting it clears the fraction
    EMP_STARTCLOCK = 11,   // int: sample clock at the start of the current pass
    EMP_STARTMS = 12,      // int: millisecond clock at the start of the current pass
    EMP_STATE = 13,        // int: 0 idle, 1 set, 3 playing, 4 playing and looping
    EMP_POSITION3D = 14,   // vector: position (a 3-D voice placed before its first buffer is mixed starts there)
    EMP_VELOCITY3D = 15,   // vector: velocity
    EMP_FORWARD3D = 16,    // vector: listener forward axis
    EMP_RIGHT3D = 17,      // vector: listener right axis
    EMP_UP3D = 18,         // vector: listener up axis
    EMP_DEFVOLUME = 19,    // int: volume given to voices the node starts
    EMP_DEFPITCH = 20,     // int: pitch factor given to new voices, 0x10000 = 1.0
    EMP_DEFPAN = 21,       // int: pan given to new voices, clamped to -128..128
    EMP_LOOP = 22,         // int: 0 or 1, new voices loop
    EMP_DEFFLAGS = 23,     // int: the node's own flag word / flags of new 3-D voices
    EMP_TARGETVOLUME = 24, // int: ramp target for the volume (sets EMF_RAMP)
    EMP_TARGETPITCH = 25,  // int: ramp target for the step (sets EMF_RAMP)
    EMP_TARGETPAN = 26,    // int: ramp target for the pan (sets EMF_RAMP)
    EMP_POSITION3DB = 28,  // vector: 3-D voice position / position for new voices
    EMP_VELOCITY3DB = 29,  // vector: 3-D voice velocity / velocity for new voices
    EMP_3DSCALE = 30,      // float: speed of sound, scene units per second; 0, not finite or beyond +-5.19e33: no Doppler, no ear delay
    EMP_3DFACTOR = 31,     // float: distance between the listener's ears
    EMP_SWITCHMODE = 32,   // int: above 0, a new start fades out and switches
    EMP_RUN = 33,          // int: non-zero, the sequencer triggers notes
    EMP_PATTERN = 34,      // block: a channel's step pattern, one signed byte per step
    EMP_STEPS = 35,        // int: steps in one pass
    EMP_CHANNEL = 36,      // int: selected channel index, -1 none
    EMP_CHANNELNODE = 37,  // int: handle of the selected channel's node, -1 none
    EMP_INTERPOLATE = 38,  // int: 0 reads the nearest frame, 1 interpolates linearly (EMF_INTERPOLATE; music: 0 or 1)
    EMP_POSITIONMS = 39,   // int: music play position in milliseconds, 0..EMP_LENGTHMS (exact to the stream frame)
    EMP_LOOPCOUNT = 40,    // int: music passes still to play after this one, -1 forever (the default), 0 the last
    EMP_PAUSED = 41,       // int: 1 while the node and its subtree neither mix nor advance (em_pause), else 0
    EMP_FADEMS = 42,       // int: a music switch's fade-out, ms (0..3600000); 0 takes 5 volume steps a buffer
    // Effect nodes (em_createeffect). Floats unless marked int; a value out of its
    // range or not finite is refused with -1 and changes nothing.
    EMP_FILTERTYPE = 43, // int: filter shape, EMFT_*; default EMFT_LOWPASS
    EMP_FREQUENCY = 44,  // float: filter corner or centre frequency, Hz, 1..rate / 2; default 1000
    EMP_Q = 45,          // float: filter quality, 0.01..100; default 0.7071
    EMP_GAINDB = 46,     // float: peaking and shelf gain, dB, -48..48; default 0
    EMP_DELAYMS = 47,    // float: echo delay, ms, above 0 up to 2000 (at least one frame); default 250
    EMP_FEEDBACK = 48,   // float: echo line feedback, 0 up to but not 1; default 0.5
    EMP_WET = 49,        // float: effect output gain, 0..4, 1 = unity; default 1 filter, 0.5 echo, 0.33 reverb
    EMP_DRY = 50,        // float: input gain, 0..4, 1 = unity; default 0 filter, 1 echo and reverb
    EMP_ROOMSIZE = 51,   // float: reverb room size, 0..1 (longer decay as it grows); default 0.5
    EMP_DAMPING = 52,    // float: reverb high-frequency damping, 0..1; default 0.5
    EMP_WIDTH = 53,      // float: reverb stereo width, 0 mono .. 1 full; default 1
    // A sampler or 3-D sampler voice's own filters (occlusion), Butterworth
    // biquads (12 dB per octave past the corner, -3 dB at it) its sound passes
    // before it goes into its node's buffer. Floats, Hz: 0 (the default) off,
    // else 1..rate / 2; -1 for a value not finite, negative, between 0 and 1
    // or above rate / 2, or no memory for the filters' buffer (taken with the
    // first filter set), changing nothing. A change glides over the next
    // buffer: the corner in steps of 16 frames, a filter switched on or off
    // fades in or out.
    EMP_LOWPASS = 54, // float: low-pass corner, Hz
    EMP_HIGHPASS = 55, // float: high-pass corner, Hz
    // How a 3-D voice is heard with distance and direction: set on a 3-D sampler
    // for the voices it starts next, or on one 3-D voice. A value out of its range
    // or not finite is refused with -1 and changes nothing.
    EMP_DISTANCEMODEL = 56, // int: the distance model, EMD_*; default EMD_FALLOFF
    EMP_REFDISTANCE = 57,   // float: reference distance, scene units, above 0; default 1 (not used by EMD_FALLOFF)
    EMP_MAXDISTANCE = 58,   // float: EMD_FALLOFF's silent distance / the clamped models' cap, scene units, 0 or more; default 256
    EMP_ROLLOFF = 59,       // float: roll-off factor, 0 or more; default 1 (not used by EMD_FALLOFF)
    EMP_CONEINNER = 60,     // float: whole inner cone angle, degrees, 0..360; default 360
    EMP_CONEOUTER = 61,     // float: whole outer cone angle, degrees, 0..360; default 360
    EMP_CONEOUTERGAIN = 62, // float: gain outside the outer cone, 0..1; default 0
    EMP_DOPPLERFACTOR = 63, // float: scales the radial speed for Doppler, 0 (off) or more; default 1
    EMP_DIRECTION3D = 64,   // vector: the cone's axis, stored as a unit vector; a zero or non-finite one is refused; default (0, 0, -1)
    EMP_RELATIVE = 65,      // int: 1 position and velocity are in the listener's frame, 0 in the scene's (the default)
    // Voice limits on a sampler and a 3-D sampler; a value out of range is
    // refused with -1 and changes nothing. A lower maximum stops no voice:
    // it holds back the triggers until fewer voices play.
    EMP_MAXVOICES = 66, // int: voices playing at once, 0..EM_MAXHANDLES - 1; 0 (default) = no cap but the handle table
    EMP_STEALMODE = 67  // int: what a trigger at the maximum does, EMSTEAL_*; default EMSTEAL_REFUSE
};

// Distance models (EMP_DISTANCEMODEL), d the distance, ref, max and rolloff the
// settings; the clamped ones first hold d within ref..max (at ref when max is
// below it). The share of the volume heard is capped to 0..1, and a distance
// that is not finite is silent under every model.
enum {
    EMD_FALLOFF = 0,        // 1 - d / max, 0 from max on (max 0: silent)
    EMD_INVERSE = 1,        // ref / (ref + rolloff x (d - ref)); 1 where that sum is 0 or less
    EMD_INVERSECLAMPED = 2, // EMD_INVERSE of the clamped distance
    EMD_LINEAR = 3,         // 1 - rolloff x (d - ref) / (max - ref); with max <= ref, 1 up to ref and 0 beyond
    EMD_LINEARCLAMPED = 4,  // EMD_LINEAR of the clamped distance
    EMD_EXPONENT = 5,       // (d / ref) ^ -rolloff
    EMD_EXPONENTCLAMPED = 6 // EMD_EXPONENT of the clamped distance
};

// Steal modes (EMP_STEALMODE). A stolen voice fades to silence over the next
// buffer mixed and then ends as any voice does (EME_VOICEEND); while it fades
// it no longer counts against the maximum. A voice no buffer has been mixed
// of yet (just triggered, or waiting for its start clock) has made no sound:
// stolen, it ends at once.
enum {
    EMSTEAL_REFUSE = 0,  // the trigger returns 0 and starts nothing; no voice is touched
    EMSTEAL_OLDEST = 1,  // the voice triggered longest ago makes way
    EMSTEAL_QUIETEST = 2 // the voice with the lowest gain now makes way (the oldest of equals)
};

// Effect kinds (em_createeffect).
enum {
    EMX_FILTER = 1, // a biquad filter of EMP_FILTERTYPE
    EMX_ECHO = 2,   // a delay line with feedback
    EMX_REVERB = 3  // parallel damped feedback combs into series all-passes
};

// Filter shapes (EMP_FILTERTYPE); EMP_GAINDB acts on the last three only.
enum {
    EMFT_LOWPASS = 0,  // passes below the frequency
    EMFT_HIGHPASS = 1, // passes above it
    EMFT_BANDPASS = 2, // passes around it, 0 dB at the centre
    EMFT_NOTCH = 3,    // removes it
    EMFT_PEAKING = 4,  // boosts or cuts around it by the gain
    EMFT_LOWSHELF = 5, // boosts or cuts below it by the gain
    EMFT_HIGHSHELF = 6 // boosts or cuts above it by the gain
};

// Voice flag word (EMP_FLAGS).
EM_FLAGWORD {
    EMF_LOOP = 0x1,          // at the end the read index wraps to the start
    EMF_AUTOFREE = 0x2,      // when the sound ends the voice destroys its own node
    EMF_MOVING = 0x4,        // a 3-D voice moves by its velocity
    EMF_PLAYING = 0x1000,    // the voice mixes; clear = silent
    EMF_RAMP = 0x4000,       // a ramp towards the targets is pending for the next buffer
    EMF_INTERPOLATE = 0x8000 // reads between frames on a straight line instead of the nearest frame
};

// Sampler flag word (EMP_DEFFLAGS on a sampler).
EM_FLAGWORD {
    EMS_ONDEMAND = 0x1,   // play requests create voices
    EMS_LOOP = 0x2,       // voices the sampler starts loop
    EMS_INTERPOLATE = 0x4 // voices the sampler starts interpolate
};

// Node handles are 1..511; 0 names no node.
enum { EM_MAXHANDLES = 512 };
// Sends (em_setsend): at most this many in the engine, and per sending node.
enum { EM_MAXSENDS = 512, EM_MAXNODESENDS = 8 };
// Sample handles are 1..511; 0 names no sample.
enum { EM_MAXSAMPLES = 512 };

// ---------------------------------------------------------------------------
// The node record. Every node type fills its callbacks and data; nodes are
// created and linked by the engine and named by handle outside it.
// ---------------------------------------------------------------------------
struct em_node {
    em_node* prev;                  // previous sibling, null for the first child
    em_node* next;                  // next sibling, null for the last
    em_node* parent;                // parent, null for the root and detached nodes
    em_node* child;                 // first child, null if none
    int32_t handle;                 // slot in the handle table, 1..511
    int32_t* mixbuf;                // own mix buffer (frames x 2 words, L/R), or null
    void (*process)(em_node* node); // mixes the node's sound; null = nothing
    void (*destroy)(em_node* node); // releases the type's data; null = nothing
    int (*setparam)(em_node* node, int id, int32_t value);
    int (*getparam)(em_node* node, int id);
    int (*setparamf)(em_node* node, int id, float value);
    float (*getparamf)(em_node* node, int id);
    int (*setparamv)(em_node* node, int id, const float* v);
    int (*getparamv)(em_node* node, int id, float* v);
    int (*setparamp)(em_node* node, int id, const void* block);
    int (*getparamp)(em_node* node, int id, void* block);
    void* data;     // the type's data record, freed by destroy
    int32_t volume; // gain into the parent's buffer, 256 = unity
};

// One sound of the sample bank, converted to 32-bit values in the 16-bit range.
struct em_sample {
    int32_t* data;    // length x channels values, interleaved L/R for stereo
    int32_t handle;   // slot in the sample table, 1..511
    int32_t bytes;    // size of data in bytes = length x channels x 4
    int32_t length;   // frames
    int32_t channels; // 1 or 2
    int32_t rate;     // the file's rate, Hz
    int32_t step;     // 16.16 source frames per output frame at unity pitch
};

// ---------------------------------------------------------------------------
// Engine start and stop, clocks
// ---------------------------------------------------------------------------
// Opens the sound device (44100 Hz, signed 16-bit stereo, 1024-frame buffers) and
// starts mixing. 0, or -1 no audio subsystem, -2 no device, -3 no sample bank,
// -4 no node table, -5 already up, -6 no event ring.
int em_init(void);
// Starts the engine as em_init does but opens no sound device: nothing mixes until
// em_render asks (for rendering to files, tests, machines without a sound card).
// 0, or -3 no sample bank, -4 no node table, -5 already up, -6 no event ring.
int em_initoffline(void);
// Mixes the next frames output frames into out (interleaved left/right, the values
// the device would play, limiter included) and advances both clocks by them. Any
// number of frames: a mixed buffer not handed out whole is kept for the next call.
// frames, or -1 when the engine is down, frames is negative, out is null, or the
// engine was started by em_init and its device is not paused.
int em_render(int16_t* out, int32_t frames);
// Stops the device, destroys all nodes and samples, prints the allocation report;
// does nothing when the engine is down.
void em_deinit(void);
// Output frames since the start, interpolated between device buffers; 0 when down.
uint32_t em_getsampleclock(void);
// Milliseconds since the start (of rendered sound when started offline); 0 when down.
uint32_t em_getmsclock(void);

// ---------------------------------------------------------------------------
// The log hook
// ---------------------------------------------------------------------------
// Levels of the lines the engine prints.
enum {
    EM_LOGERROR = 0,   // a failure ("ERROR: ..." on standard error without a hook)
    EM_LOGWARNING = 1, // a refused request ("warning: ..." on standard output)
    EM_LOGINFO = 2     // the allocation report, the analysis findings, other notes
};
typedef void (*em_logfunc)(int level, const char* line, void* user);
// Every line the engine prints goes to fn instead (whole lines, without their
// newline, with their level and user), on the thread that prints it, the audio
// thread included; fn must not call the engine. Null restores the printing to
// standard output and error. Works whether the engine is up or down; no failure.
void em_setlogfunc(em_logfunc fn, void* user);

// ---------------------------------------------------------------------------
// End events: what ended, looped or switched in the mixer, read by the program
// ---------------------------------------------------------------------------
enum {
    EME_VOICEEND = 1,     // a sampler or 3-D sampler voice ended: its handle, its sample, its last frame's clock
    EME_MUSICEND = 2,     // a music node's stream ended: the node, the clock of its last frame
    EME_MUSICLOOP = 3,    // a music node's stream began another pass: the node, the clock of the pass's first frame
    EME_MUSICSWITCH = 4,  // a music node switched to the next file: the node, the clock of the new stream's first frame
    EME_SWITCHFAILED = 5, // a music node could not open the file it was to switch to and stopped: the node, the clock
    EME_FADEDONE = 6,     // a fade reached its volume: the node, the clock of the fade's last frame
    EME_SEQWRAP = 7       // a running sequencer's pass began again: the node, the clock of the pass's first frame
};
struct em_event {
    int32_t type;         // EME_*
    int32_t handle;       // the node it happened to (a freed voice's handle may already name another node)
    int32_t sample;       // EME_VOICEEND: the sample-bank number the voice played; else 0
    uint32_t sampleclock; // the sample clock of the frame it happened at
};
// Fills ev with the oldest event not yet read and returns 1; 0 when there is
// none, ev is null or the engine is down. Read from one thread of the program.
int em_pollevent(em_event* ev);
// Events dropped since the start because the ring (256 events) was full; 0 when down.
int32_t em_lostevents(void);

// ---------------------------------------------------------------------------
// Node tree by handle (all return the "down" value when the engine is down or
// the handle names no node)
// ---------------------------------------------------------------------------
// Handle of the root node; 0 when down
int em_getroot(void);
// 1 if the handle names a node, else 0
int em_isnode(int handle);
// Parent's handle; 0 if none or no node
int em_getparent(int handle);
// First child's handle; 0 if none or no node
int em_getchild(int handle);
// Next sibling's handle; 0 if none or no node
int em_getnext(int handle);
// Previous sibling's handle; 0 if none or no node
int em_getprev(int handle);
// Destroys a node and its subtree (a voice stops, a sampler goes with its
// voices, a music node closes its stream); safe while the device mixes.
// 0, or -1 when the handle names no node or names the root or a sequencer
// channel (channels live and end with their sequencer).
int em_freenode(int handle);
// Pauses (paused 1) or resumes (0) a node and its whole subtree: while paused
// nothing in it mixes or moves on (voices keep their place, music its stream
// position, a sequencer its step and time); resumed, each goes on where it
// stopped. The paused root sends silence. 0, or -1 for no node, paused other
// than 0 or 1, or the engine down.
int em_pause(int handle, int paused);

// What a fade does once it reaches its volume (em_fade's then).
enum {
    EM_FADEKEEP = 0,  // the node plays on
    EM_FADEPAUSE = 1, // the node pauses, as em_pause(handle, 1) does
    EM_FADEFREE = 2   // the node is freed, as em_freenode does
};
// Glides a node's volume (a voice's own volume; a music, sampler, 3-D
// sampler or sequencer node's volume into its parent; the root's master
// volume) from its value now to volume over ms milliseconds of output,
// rounded to whole frames and starting with the next buffer mixed, then does
// then (EM_FADE*). A new fade replaces one in progress from the value reached;
// setting EMP_VOLUME ends a fade; ms 0 sets the volume at the next buffer.
// 0, or -1 for no node, volume outside 0..65536, ms negative or over 3600000
// (one hour), then unknown or EM_FADEFREE on the root or a sequencer channel,
// or the engine down.
int em_fade(int handle, int32_t volume, int32_t ms, int then);

// Sets an int parameter; 0, or -1 for no node / id not taken
int em_setparam(int handle, int id, int32_t value);
// The int parameter; -1 for no node / id not taken
int em_getparam(int handle, int id);
// Sets a float parameter; 0, or -1
int em_setparamf(int handle, int id, float value);
// The float parameter; -1.0 for no node / id not taken
float em_getparamf(int handle, int id);
// Sets a 3-vector parameter; 0, or -1
int em_setparamv(int handle, int id, const float* v);
// Copies a 3-vector parameter into v; 0, or -1
int em_getparamv(int handle, int id, float* v);
// em_setparamv with (x, y, z); 0, or -1
int em_setparam3f(int handle, int id, float x, float y, float z);
// em_getparamv into x, y, z; 0, or -1 (outputs untouched)
int em_getparam3f(int handle, int id, float* x, float* y, float* z);
// Sets a block parameter (copied); 0, or -1
int em_setparamp(int handle, int id, const void* block);
// Copies a block parameter into block; 0, or -1
int em_getparamp(int handle, int id, void* block);

// ---------------------------------------------------------------------------
// Sample bank
// ---------------------------------------------------------------------------
// Loads a WAV file (U8, S8, S16 LE/BE; mono/stereo) through SDL; its sample handle, or 0
int em_loadsample(const char* name);
// Decodes a whole Ogg Vorbis file (mono or stereo, at its own rate) into the
// sample bank, as em_loadsample does a WAV file; its sample handle, or 0.
int em_loadoggsample(const char* name);
// A sound file told by its content, through libsndfile: WAV (8, 16, 24, 32-bit
// integers, 32 and 64-bit floats, the extensible header), FLAC, Ogg Vorbis and
// Opus, AIFF, and MP3 where the installed libsndfile reads it; mono or stereo
// at the file's own rate, floats scaled by 32768 and clipped, wider integers
// rounded to 16 bits. Its sample handle, or 0 (reason in em_sampleerror).
int em_loadsound(const char* name);
// em_loadsound on a whole file's bytes in memory (copied; data may go after
// the call); 0 also for null data or bytes <= 0.
int em_loadsamplemem(const void* data, int32_t bytes);
// count interleaved frames of channels (1 or 2) 16-bit values at rate Hz from
// the caller (copied); its handle, or 0 for null frames, count <= 0, other
// channels or a rate out of range.
int em_loadsampleraw(const int16_t* frames, int32_t count, int channels, int32_t rate);
// Why the latest load failed ("No such file or directory", "not a WAV file
// the engine reads (...)", "sample rate out of range", ...), or "" after a success.
// The bank prints nothing itself: callers report in their own words.
const char* em_sampleerror(void);
// Writes count interleaved frames of channels (1 or 2) values as a 16-bit PCM
// WAV file at rate Hz, its header matching its data; works with the engine up
// or down. 0, or -1 (the system's reason through the log, errno set, a file
// cut short removed) for a null name, null frames with count > 0, count < 0,
// other channels, rate <= 0, more than the format's 4 GiB of data, or a file
// that cannot be made or written completely.
int em_writewav(const char* name, const int16_t* frames, int32_t count, int channels, int32_t rate);
// Frees the sample in that slot; no-op for an invalid handle
void em_freesample(int handle);
// 1 if the engine is up and the slot holds a sample, else 0
int em_validsample(int handle);
// The sample of a slot, or null
em_sample* em_getsample(int handle);

// Analysis (print their findings on standard output)
// Nearest zero crossing (mode bits 1 back, 2 forward, 4 rising, 8 falling); 0 with *dir 0 if none
int32_t em_findzero(const em_sample* s, int32_t pos, int mode, int* dir);
// Prints length, amplitude and shape differences of [a,b) and [b,c); 0, prints nothing for empty or out-of-range regions
int em_compareregions(const em_sample* s, int32_t a, int32_t b, int32_t c);
// Finds a crossing near pos and compares the stretches dist before and after; 0
int em_checkloop(const em_sample* s, int32_t pos, int32_t dist);

// ---------------------------------------------------------------------------
// Sampler: one voice node per play request
// ---------------------------------------------------------------------------
// A sampler under parent (mode < 0: plays on demand); its handle, or 0
int em_createsampler(int parent, int mode);
// Starts a voice of a loaded sample on a sampler; the voice's handle, or 0
// (also when EMP_MAXVOICES voices play and EMP_STEALMODE refuses; a steal
// mode instead fades one of them out over the next buffer)
int em_triggersample(int sampler, int sample);
// em_triggersample whose voice's first frame sounds at exactly that value of
// the sample clock (em_getsampleclock); frames before it are silent. A clock
// that has passed, or that lies in a buffer already mixed, starts it at the
// first frame of the next buffer mixed. The voice's handle, or 0 as
// em_triggersample.
int em_triggersampleat(int sampler, int sample, uint32_t sampleclock);

// ---------------------------------------------------------------------------
// Ogg Vorbis music stream
// ---------------------------------------------------------------------------
// A music node under parent; its handle, or 0
int em_createoggmusic(int parent);
// Starts (or, in switch mode, fades to) a file; 0, or -1 for no node / a file that cannot be opened
int em_playoggmusic(int handle, const char* name);
// Ends the playing stream; no-op for no node
void em_stopoggmusic(int handle);

// ---------------------------------------------------------------------------
// 3-D sampler: positioned voices around one listener
// ---------------------------------------------------------------------------
// A 3-D sampler under parent (mode < 0: plays on demand); its handle, or 0
int em_createsampler3d(int parent, int mode);
// Starts a positioned voice of a loaded mono or stereo sample; the voice's
// handle, or 0 (also at EMP_MAXVOICES, as em_triggersample)
int em_triggersample3d(int sampler3d, int sample);
// em_triggersample3d whose voice's first frame sounds at that sample clock, as
// em_triggersampleat; the voice's handle, or 0.
int em_triggersample3dclock(int sampler3d, int sample, uint32_t sampleclock);
// em_triggersample3d with the voice at position (3 floats) moving at velocity (3
// floats; null: at rest) instead of the 3-D sampler's EMP_POSITION3DB and
// EMP_VELOCITY3DB: its first buffer is heard there, without a glide from
// elsewhere. The voice's handle, or 0 as em_triggersample3d, and 0 for a null
// position or a coordinate that is not finite.
int em_triggersample3dat(int sampler3d, int sample, const float* position, const float* velocity);

// ---------------------------------------------------------------------------
// Step sequencer: up to EM_SEQCHANNELS channels of note patterns
// ---------------------------------------------------------------------------
enum { EM_SEQCHANNELS = 8 };
// A stopped sequencer of 0..8 channels and steps >= 1 under parent; its handle, or 0
int em_createsequencer(int parent, int channels, int steps);

// ---------------------------------------------------------------------------
// Effect nodes and sends: children mix into the node's buffer, which passes
// through the effect (output = dry x input + wet x effect) to its parent
// ---------------------------------------------------------------------------
// An effect node of kind EMX_FILTER, EMX_ECHO or EMX_REVERB under parent, its
// delay lines taken now; its handle, or 0 for a bad parent or kind or no memory.
int em_createeffect(int parent, int kind);
// Mixes what node handle gives its parent also into the effect node effect, at
// level (256 = unity, 0..1024; 0 removes the send), in the same buffer. 0, or -1
// when either handle names no such node, handle is the root, the send would feed
// the effect its own output, the level is out of range, or the node already has
// EM_MAXNODESENDS sends or the engine EM_MAXSENDS.
int em_setsend(int handle, int effect, int32_t level);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
