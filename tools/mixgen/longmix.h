// longmix.h -- long mixes through every mixing routine's corner cases, hashed buffer by buffer
// (short in the golden tests, long in the benchmark, which both include it from here)
#ifndef TOOLS_MIXGEN_LONGMIX_H
#define TOOLS_MIXGEN_LONGMIX_H

#include <cmath>
#include <cstring>
#include <vector>

#include "em/em.h"
#include "em/em_local.h"

// The same numbers on every machine.
struct emtest_lcg {
    uint32_t x;
    uint32_t next() { return (x = x * 1664525u + 1013904223u) >> 8; }
    int32_t range(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(next() % static_cast<uint32_t>(hi - lo + 1)); }
};

// A tone with noise on it, within +-12000.
inline std::vector<int16_t> emtest_signal(size_t values, uint32_t seed)
{
    std::vector<int16_t> v(values);
    emtest_lcg r = {seed};
    for (size_t i = 0; i < values; i++)
        v[i] = static_cast<int16_t>(8000.0 * std::sin(static_cast<double>(i) * 0.0627) + r.range(-4000, 4000));
    return v;
}

inline em_sample* emtest_makesample(const std::vector<int16_t>& values, int channels)
{
    std::vector<uint8_t> bytes(values.size() * 2);
    memcpy(bytes.data(), values.data(), bytes.size());
    return em_makesample(AUDIO_S16LSB, channels, 44100, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline void emtest_fnv(uint64_t* h, const void* data, size_t bytes)
{
    for (size_t i = 0; i < bytes; i++)
        *h = (*h ^ static_cast<const uint8_t*>(data)[i]) * 0x100000001b3ull;
}

// FNV-1a hashes of every buffer's 16-bit output and 32-bit root mix, and of the voices' state after each buffer.
struct emtest_hashes {
    uint64_t out = 0xcbf29ce484222325ull, mix = out, state = out;
};

// One device buffer through the callback, hashed.
inline void emtest_hashbuffer(emtest_hashes* h)
{
    std::vector<int16_t> out(static_cast<size_t>(emstate.samples) * 2);
    em_audiocallback(nullptr, reinterpret_cast<Uint8*>(out.data()), static_cast<int>(out.size() * 2));
    emtest_fnv(&h->out, out.data(), out.size() * 2);
    emtest_fnv(&h->mix, emstate.root->mixbuf, out.size() * 4);
}

// A sampler voice directly under the root; its record.
inline em_schannel* emtest_addschannel(const em_sample* s, std::vector<int>* nodes)
{
    em_node* node = em_initschannel(emstate.root, 0);
    if (!node)
        return nullptr;
    em_attachnode(node, emstate.root);
    nodes->push_back(node->handle);
    em_schannel* ch = static_cast<em_schannel*>(node->data);
    ch->sample = s->handle;
    ch->flags = EMF_PLAYING | EMF_LOOP;
    return ch;
}

inline void emtest_removenodes(std::vector<int>* nodes)
{
    for (const int h : *nodes)
        em_destroynode(em_getnode(h));
    nodes->clear();
}

struct emtest_sources {
    em_sample* s[4]; // long mono, long stereo, short mono, short stereo
    explicit emtest_sources(uint32_t seed)
    {
        s[0] = emtest_makesample(emtest_signal(44100, seed + 2), 1);
        s[1] = emtest_makesample(emtest_signal(2 * 44100, seed + 3), 2);
        s[2] = emtest_makesample(emtest_signal(300, seed), 1);
        s[3] = emtest_makesample(emtest_signal(2 * 257, seed + 1), 2);
    }
    ~emtest_sources()
    {
        for (em_sample* sample : s)
            if (sample)
                em_freesample(sample->handle);
    }
};

// Sampler voices: every step, layout and ramp (EMTEST_ANY), unit steps, other steps, or ramps every few buffers.
enum emtest_voicekind { EMTEST_ANY, EMTEST_UNIT, EMTEST_STEPPED, EMTEST_RAMPED };

// A step of the whole sample's length and more, as a 32-bit word (long samples wrap, as the engine's would).
inline int32_t emtest_pastend(const em_sample* s, int32_t more)
{
    return static_cast<int32_t>(static_cast<uint32_t>(s->length) * 0x10000u + static_cast<uint32_t>(more));
}

inline int32_t emtest_randomstep(emtest_lcg* r, const em_sample* s)
{
    switch (r->range(0, 9)) {
    case 0: return 0x10000;
    case 1: return 0x10001;
    case 2: return 0xFFFF;
    case 3: return 0;
    case 4: return -r->range(1, 0x20000);
    case 5: return emtest_pastend(s, r->range(0, 0x7FFFFF)); // more than the whole sample
    default: return r->range(0x100, 0x30000);
    }
}

inline int32_t emtest_kindstep(emtest_lcg* r, const em_sample* s, emtest_voicekind kind, int i)
{
    if (kind != EMTEST_STEPPED)
        return kind == EMTEST_UNIT || (i / 2) % 3 == 0 ? 0x10000 : emtest_randomstep(r, s);
    const int32_t step = emtest_randomstep(r, s);
    return step == 0x10000 ? 0x10001 : step;
}

// Starts (or restarts) voice i; channels 0 takes mono and stereo in turn; with interp two voices in three interpolate.
inline void emtest_startvoice(em_schannel* ch, int i, emtest_lcg* r, const emtest_sources& src, emtest_voicekind kind,
                              int channels, bool interp = false)
{
    const int layout = channels == 0 ? (i & 1) : channels - 1;
    const em_sample* s = src.s[layout + ((i % 4 == 3) ? 2 : 0)];
    ch->sample = s->handle;
    ch->flags = EMF_PLAYING | (i % 5 ? static_cast<uint32_t>(EMF_LOOP) : 0u);
    ch->volume = i % 17 == 0 ? r->range(0, 70000) : r->range(0, 400);
    ch->pan = i % 11 == 0 ? (r->range(0, 1) ? 128 : -128) : r->range(-128, 128);
    ch->step = emtest_kindstep(r, s, kind, i);
    ch->frac = 0;
    ch->pos = r->range(-3, s->length * s->channels + 5);
    if (interp && i % 3 != 0)
        ch->flags |= EMF_INTERPOLATE;
}

inline void emtest_ramptargets(em_schannel* ch, emtest_lcg* r, const em_sample* s)
{
    ch->tvolume = r->range(0, 400);
    ch->tpan = r->range(-128, 128);
    ch->tstep = r->range(0, 7) == 0 ? emtest_pastend(s, 3) : r->range(-0x1000, 0x40000);
    ch->flags |= EMF_RAMP;
}

inline void emtest_hashschannel(uint64_t* h, const em_schannel* ch)
{
    const int32_t words[] = {ch->pos, ch->frac, ch->volume, ch->step, ch->pan, static_cast<int32_t>(ch->flags)};
    emtest_fnv(h, words, sizeof(words));
}

// voices sampler voices of a kind and layout (0 both, 1 mono, 2 stereo) over
// buffers, from the sources of a seed and the random numbers of another.
inline emtest_hashes emtest_samplermix(emtest_voicekind kind, int channels, int voices, int buffers, uint32_t sourceseed,
                                       uint32_t seed, bool interp = false)
{
    const emtest_sources src(sourceseed);
    emtest_lcg r = {seed};
    std::vector<int> nodes;
    std::vector<em_schannel*> chs;
    for (int i = 0; i < voices; i++) {
        em_schannel* ch = emtest_addschannel(src.s[0], &nodes);
        emtest_startvoice(ch, i, &r, src, kind, channels, interp);
        chs.push_back(ch);
    }
    emtest_hashes h;
    for (int b = 0; b < buffers; b++) {
        for (int i = 0; i < voices; i++) {
            em_schannel* ch = chs[static_cast<size_t>(i)];
            const em_sample* s = em_getsample(ch->sample);
            if (!(ch->flags & EMF_PLAYING))
                emtest_startvoice(ch, i, &r, src, kind, channels, interp);
            else if (kind != EMTEST_UNIT && (b + i) % 13 == 0)
                ch->step = kind == EMTEST_ANY ? emtest_randomstep(&r, s) : emtest_kindstep(&r, s, kind, i);
            const bool ramps =
                kind == EMTEST_RAMPED ? (b + i) % 3 != 2 : kind == EMTEST_ANY && (i / 2) % 3 == 2 && (b + i) % 7 == 0;
            if (ramps)
                emtest_ramptargets(ch, &r, s);
        }
        emtest_hashbuffer(&h);
        for (const em_schannel* ch : chs)
            emtest_hashschannel(&h.state, ch);
    }
    emtest_removenodes(&nodes);
    return h;
}

// 3-D voices around two listeners, in every place and at speeds past the Doppler limits, changed between buffers.

struct emtest_mix3d {
    emtest_lcg r;
    const emtest_sources* src;
    int listeners[2];
    bool interp; // voices of odd handles interpolate
};

// Ahead, behind, left, right, at the listener, above, out of range, or anywhere.
inline void emtest_place3d(emtest_lcg* r, float* p)
{
    const float d = static_cast<float>(r->range(1, 4000)) / 16.0f; // up to 250, past 256 below
    p[0] = p[1] = p[2] = 0.0f;
    const int where = r->range(0, 8);
    if (where < 6 && where != 4) // 4: at the listener
        p[where == 5 ? 1 : where < 2 ? 2 : 0] = where % 2 ? d : -d;
    else if (where == 6)
        p[0] = static_cast<float>(r->range(257, 2000)); // out of range
    for (int k = 0; where > 6 && k < 3; k++)
        p[k] = static_cast<float>(k == 1 ? r->range(-100, 100) : r->range(-600, 600)) / 8.0f;
}

// None, slow, or along the line from the listener around the Doppler limits of a 340 units/s sound.
inline void emtest_velocity3d(emtest_lcg* r, const float* p, float* v)
{
    v[0] = v[1] = v[2] = 0.0f;
    const int kind = r->range(0, 7);
    for (int k = 0; kind > 0 && kind <= 2 && k < 3; k++)
        v[k] = static_cast<float>(r->range(-80, 80)) / 4.0f;
    if (kind <= 2)
        return;
    static const float speeds[] = {-340.0f, -330.0f, -300.0f, -290.0f, -200.0f, 700.0f, 1100.0f,
                                   1400.0f, 2300.0f, 2390.0f, 2400.0f, 5000.0f, 40.0f,  -40.0f};
    const float speed = speeds[r->range(0, 13)];
    const float len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    for (int k = 0; len > 0.0f && k < 3; k++)
        v[k] = p[k] / len * speed;
    if (len <= 0.0f)
        v[r->range(0, 2)] = speed;
}

inline int32_t emtest_pitch3d(emtest_lcg* r)
{
    switch (r->range(0, 11)) {
    case 0: return 0;
    case 1: return -r->range(1, 0x20000);
    case 2: return 0x10000;
    case 3: return r->range(0x100000, 0x4000000); // many frames a frame
    case 4: return 0x7FFFFFFF;
    default: return r->range(0x4000, 0x30000);
    }
}

// Starts a 3-D voice on a listener; some lose EMF_AUTOFREE so that they stay and can be restarted.
inline void emtest_trigger3d(emtest_mix3d* st, int which)
{
    emtest_lcg* r = &st->r;
    const int listener = st->listeners[which];
    float p[3], v[3];
    emtest_place3d(r, p);
    emtest_velocity3d(r, p, v);
    const uint32_t loop = r->range(0, 3) != 0 ? static_cast<uint32_t>(EMF_LOOP) : 0u;
    em_setparam(listener, EMP_DEFFLAGS, static_cast<int32_t>(loop | (r->range(0, 1) ? static_cast<uint32_t>(EMF_MOVING) : 0u)));
    em_setparam(listener, EMP_DEFVOLUME, r->range(0, 9) == 0 ? r->range(0, 70000) : r->range(0, 400));
    em_setparam(listener, EMP_DEFPITCH, r->range(0, 5) == 0 ? emtest_pitch3d(r) : r->range(0x8000, 0x20000));
    em_setparamv(listener, EMP_POSITION3DB, p);
    em_setparamv(listener, EMP_VELOCITY3DB, v);
    const em_sample* s = st->src->s[r->range(0, 3)];
    const int voice = em_triggersample3d(listener, s->handle);
    if (voice && r->range(0, 4) == 0)
        em_setparam(voice, EMP_FLAGS, em_getparam(voice, EMP_FLAGS) & ~static_cast<int32_t>(EMF_AUTOFREE));
    if (voice && st->interp && (voice & 1))
        em_setparam(voice, EMP_INTERPOLATE, 1);
}

// Changes one voice's place, velocity, pitch, volume, read place, range or flags; restarts a stopped one that stayed.
inline void emtest_change3d(emtest_mix3d* st, int voice)
{
    emtest_lcg* r = &st->r;
    em_s3channel* ch = static_cast<em_s3channel*>(em_getnode(voice)->data);
    const em_sample* s = em_getsample(ch->sample);
    if (!(ch->flags & EMF_PLAYING)) {
        if (r->range(0, 2) == 0) {
            em_setparam(voice, EMP_POSITION, r->range(-2000, s->length + 50));
            em_setparam(voice, EMP_FLAGS, static_cast<int32_t>(ch->flags | EMF_PLAYING));
        }
        return;
    }
    float p[3], v[3];
    switch (r->range(0, 14)) {
    case 0: emtest_place3d(r, p), em_setparamv(voice, EMP_POSITION3D, p); break;
    case 1: em_getparamv(voice, EMP_POSITION3D, p), emtest_velocity3d(r, p, v), em_setparamv(voice, EMP_VELOCITY3D, v); break;
    case 2: em_setparam(voice, EMP_PITCH, emtest_pitch3d(r)); break;
    case 3: em_setparam(voice, EMP_VOLUME, r->range(0, 9) == 0 ? r->range(0, 90000) : r->range(0, 400)); break;
    case 4: em_setparam(voice, EMP_POSITION, r->range(-3000, s->length + 50)); break;
    case 5:
        ch->shape.maxdistance = r->range(0, 3) == 0 ? static_cast<float>(r->range(-10, 10)) : static_cast<float>(r->range(20, 3000));
        break;
    case 6: em_setparam(voice, EMP_FLAGS, static_cast<int32_t>(ch->flags ^ EMF_LOOP)); break;
    default: break;
    }
}

// The second listener turns, moves and changes its speed of sound and ear distance.
inline void emtest_listener3d(emtest_mix3d* st, int b)
{
    emtest_lcg* r = &st->r;
    const int l = st->listeners[1];
    static const float speeds[] = {340.0f, 30.0f, 0.0f, -5.0f, 1e30f, 5000.0f, 0.5f, 340.0f};
    static const float ears[] = {0.2f, 2.0f, 0.0f, 10.0f, -1.0f};
    if (b % 5 == 0)
        em_setparamf(l, EMP_3DSCALE, speeds[r->range(0, 7)]), em_setparamf(l, EMP_3DFACTOR, ears[r->range(0, 4)]);
    const float a = static_cast<float>(b) * 0.05f;
    em_setparam3f(l, EMP_FORWARD3D, std::sin(a), 0.0f, -std::cos(a));
    const float v[3] = {static_cast<float>(r->range(-40, 40)), 0.0f, static_cast<float>(r->range(-40, 40))};
    em_setparamv(l, EMP_VELOCITY3D, v);
    em_setparam3f(l, EMP_POSITION3D, static_cast<float>(b % 50) * 0.5f, 0.0f, 0.0f);
}

// voices3d positioned voices (three quarters on the first listener) and
// ramped sampler voices that ramp most buffers, over buffers.
inline emtest_hashes emtest_mix3dvoices(int voices3d, int ramped, int buffers, uint32_t sourceseed, uint32_t seed,
                                        bool interp = false)
{
    const emtest_sources src(sourceseed);
    emtest_mix3d st = {{seed}, &src, {0, 0}, interp};
    std::vector<int> nodes;
    for (int& l : st.listeners)
        nodes.push_back(l = em_createsampler3d(em_getroot(), -1));
    std::vector<em_schannel*> chs;
    for (int i = 0; i < ramped; i++) {
        em_schannel* ch = emtest_addschannel(src.s[0], &nodes);
        emtest_startvoice(ch, i, &st.r, src, EMTEST_ANY, 0, interp);
        chs.push_back(ch);
    }
    const int wanted[2] = {voices3d * 3 / 4, voices3d - voices3d * 3 / 4};
    emtest_hashes h;
    for (int b = 0; b < buffers; b++) {
        emtest_listener3d(&st, b);
        for (int w = 0; w < 2; w++) {
            int count = 0;
            for (int v = em_getchild(st.listeners[w]); v; v = em_getnext(v), count++)
                if (st.r.range(0, 5) == 0)
                    emtest_change3d(&st, v);
            for (; count < wanted[w]; count++)
                emtest_trigger3d(&st, w);
        }
        for (size_t i = 0; i < chs.size(); i++) {
            em_schannel* ch = chs[i];
            if (!(ch->flags & EMF_PLAYING))
                emtest_startvoice(ch, static_cast<int>(i), &st.r, src, EMTEST_ANY, 0, interp);
            if (st.r.range(0, 3) != 0)
                emtest_ramptargets(ch, &st.r, em_getsample(ch->sample));
        }
        emtest_hashbuffer(&h);
        for (const int l : st.listeners) {
            for (int v = em_getchild(l); v; v = em_getnext(v)) {
                const em_s3channel* ch = static_cast<const em_s3channel*>(em_getnode(v)->data);
                const int32_t words[] = {ch->posl,    ch->fracl,   ch->posr, ch->fracr,  ch->curpan,
                                         ch->curgain, ch->curstep, ch->itd,  ch->offset, static_cast<int32_t>(ch->flags)};
                emtest_fnv(&h.state, words, sizeof(words));
            }
        }
        for (const em_schannel* ch : chs)
            emtest_hashschannel(&h.state, ch);
    }
    emtest_removenodes(&nodes);
    return h;
}

// Sequencers: passes shorter and longer than a buffer, notes and rests, tempo and channels changed between buffers.
inline emtest_hashes emtest_sequencermix(int sequencers, int buffers, uint32_t sourceseed, uint32_t seed, bool interp = false)
{
    const emtest_sources src(sourceseed);
    emtest_lcg r = {seed};
    std::vector<int> seqs;
    for (int q = 0; q < sequencers; q++) {
        const int steps = r.range(1, 24);
        const int seq = em_createsequencer(em_getroot(), EM_SEQCHANNELS, steps);
        seqs.push_back(seq);
        for (int c = 0; c < EM_SEQCHANNELS; c++) {
            em_setparam(seq, EMP_CHANNEL, c);
            const int channel = em_getparam(seq, EMP_CHANNELNODE);
            std::vector<int8_t> pattern(static_cast<size_t>(steps));
            for (int8_t& note : pattern)
                note = static_cast<int8_t>(r.range(0, 2) == 0 ? r.range(-20, 11) : r.range(12, 127));
            em_setparamp(channel, EMP_PATTERN, pattern.data());
            em_setparam(channel, EMP_SAMPLE, src.s[r.range(0, 3)]->handle);
            em_setparam(channel, EMP_FLAGS, r.range(0, 1) ? static_cast<int32_t>(EMF_LOOP) : 0);
            em_setparam(channel, EMP_VOLUME, r.range(0, 9) == 0 ? r.range(0, 70000) : r.range(0, 400));
            em_setparam(channel, EMP_PAN, r.range(-128, 128));
            if (interp && c % 2)
                em_setparam(channel, EMP_INTERPOLATE, 1);
        }
        em_setparam(seq, EMP_LENGTH, r.range(0, 4) == 0 ? r.range(1, 900) : r.range(900, 90000));
        em_setparam(seq, EMP_RUN, 1);
    }
    emtest_hashes h;
    for (int b = 0; b < buffers; b++) {
        for (const int seq : seqs) {
            if (r.range(0, 40) == 0)
                em_setparam(seq, EMP_LENGTH, r.range(1, 90000));
            if (r.range(0, 60) == 0)
                em_setparam(seq, EMP_RUN, r.range(0, 1));
            if (r.range(0, 10) == 0) {
                em_setparam(seq, EMP_CHANNEL, r.range(0, EM_SEQCHANNELS - 1));
                const int channel = em_getparam(seq, EMP_CHANNELNODE);
                switch (r.range(0, 3)) {
                case 0: em_setparam(channel, EMP_PITCH, r.range(-0x1000, 0x50000)); break;
                case 1: em_setparam(channel, EMP_POSITION, r.range(-10, 50000)); break;
                case 2: em_setparam(channel, EMP_FLAGS, em_getparam(channel, EMP_FLAGS) ^ static_cast<int32_t>(EMF_LOOP)); break;
                default: em_setparam(channel, EMP_SAMPLE, src.s[r.range(0, 3)]->handle); break;
                }
            }
        }
        emtest_hashbuffer(&h);
        for (const int seq : seqs) {
            for (int c = em_getchild(seq); c; c = em_getnext(c)) {
                const em_seqchannel* ch = static_cast<const em_seqchannel*>(em_getnode(c)->data);
                const int32_t words[] = {ch->pos, ch->frac, ch->step, static_cast<int32_t>(ch->flags)};
                emtest_fnv(&h.state, words, sizeof(words));
            }
        }
    }
    emtest_removenodes(&seqs);
    return h;
}

#endif
