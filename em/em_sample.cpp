// em_sample.cpp -- the sample bank: WAV and Ogg Vorbis loading and conversion,
// the sample table, and the zero-crossing and loop analysis routines
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "em/em_local.h"

em_sample** em_samples;

enum {
    EMTAG_SAMPLE = 980,      // one em_sample record
    EMTAG_SAMPLEDATA = 981,  // a sample's converted values
    EMTAG_SAMPLETABLE = 982, // the sample table
    EMTAG_OGGPCM = 983       // an Ogg Vorbis file's decoded 16-bit values while they are converted
};

// Why the latest load failed, for em_sampleerror: the bank prints nothing itself.
static char em_samplewhy[256];

void em_setsamplewhy(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(em_samplewhy, sizeof(em_samplewhy), format, args);
    va_end(args);
}

const char* em_sampleerror()
{
    return em_samplewhy;
}

int em_initsamples()
{
    em_samples = static_cast<em_sample**>(emio_calloc(EM_MAXSAMPLES, sizeof(em_sample*), EMTAG_SAMPLETABLE));
    return em_samples ? 0 : -1;
}

void em_deinitsamples()
{
    if (!em_samples)
        return;
    for (int h = 0; h < EM_MAXSAMPLES; h++) {
        if (em_samples[h]) {
            em_destroysample(em_samples[h]);
            em_samples[h] = nullptr;
        }
    }
    emio_free(em_samples);
    em_samples = nullptr;
}

int em_freesampleslot()
{
    if (!em_samples)
        return 0;
    for (int h = 1; h < EM_MAXSAMPLES; h++)
        if (!em_samples[h])
            return h;
    return 0;
}

void em_destroysample(em_sample* sample)
{
    if (!sample)
        return;
    if (sample->data)
        emio_free(sample->data);
    emio_free(sample);
}

void em_swap16(uint8_t* buffer, uint32_t bytes)
{
    for (uint32_t i = 0; i + 1 < bytes; i += 2) {
        const uint8_t first = buffer[i];
        buffer[i] = buffer[i + 1];
        buffer[i + 1] = first;
    }
}

// Bytes per value of an accepted WAV sample format, 0 for a refused one.
static int em_formatbytes(uint16_t format)
{
    switch (format) {
    case AUDIO_U8:
    case AUDIO_S8: return 1;
    case AUDIO_S16LSB:
    case AUDIO_S16MSB: return 2;
    default: return 0;
    }
}

static void em_convertu8(int32_t* out, const uint8_t* in, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        out[i] = (static_cast<int32_t>(in[i]) - 128) * 256;
}

static void em_converts8(int32_t* out, const uint8_t* in, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        out[i] = static_cast<int32_t>(static_cast<int8_t>(in[i])) * 256;
}

// Little-endian signed 16-bit pairs (big-endian buffers are swapped first).
static void em_converts16(int32_t* out, const uint8_t* in, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8)));
}

em_sample* em_newsample(int channels, int32_t rate, int64_t length)
{
    const int slot = em_freesampleslot();
    if (slot == 0 || emstate.freq <= 0) {
        em_setsamplewhy(em_samples ? "all %d sample slots are in use" : "the audio engine is not started", EM_MAXSAMPLES - 1);
        return nullptr;
    }
    if (channels < 1 || channels > 2) {
        em_setsamplewhy("%d channels: the engine plays 1 or 2", channels);
        return nullptr;
    }
    // The rate step needs rate << 12 to fit in 32 bits.
    if (rate <= 0 || rate > (INT32_MAX >> 12)) {
        em_setsamplewhy("sample rate out of range");
        return nullptr;
    }
    // A sound without frames has nothing to play; one whose size does not fit
    // the 32-bit byte count cannot be described.
    if (length <= 0) {
        em_setsamplewhy("no whole frame of sound");
        return nullptr;
    }
    if (length > INT32_MAX || length * channels * 4 > INT32_MAX) {
        em_setsamplewhy("too long");
        return nullptr;
    }
    em_sample* sample = static_cast<em_sample*>(emio_calloc(1, sizeof(em_sample), EMTAG_SAMPLE));
    if (!sample) {
        em_setsamplewhy("out of memory");
        return nullptr;
    }
    sample->data =
        static_cast<int32_t*>(emio_calloc(static_cast<uint32_t>(length), static_cast<uint32_t>(channels) * 4, EMTAG_SAMPLEDATA));
    if (!sample->data) {
        emio_free(sample);
        em_setsamplewhy("out of memory");
        return nullptr;
    }
    sample->channels = channels;
    sample->rate = rate;
    sample->step = ((rate << 12) / emstate.freq) << 4;
    sample->length = static_cast<int32_t>(length);
    sample->bytes = sample->length * channels * 4;
    sample->handle = slot;
    return sample;
}

void em_addsample(em_sample* sample)
{
    // The audio thread looks samples up by slot: the finished record becomes
    // visible to it with this one store.
    __atomic_store_n(&em_samples[sample->handle], sample, __ATOMIC_RELEASE);
}

em_sample* em_makesample(uint16_t format, int channels, int32_t rate, uint8_t* buffer, uint32_t bytes)
{
    const int valuebytes = em_formatbytes(format);
    if (valuebytes == 0 && em_freesampleslot() != 0) {
        em_setsamplewhy("not 8-bit or signed 16-bit samples");
        return nullptr;
    }
    const bool playable = channels == 1 || channels == 2;
    const uint32_t length = playable && valuebytes ? bytes / static_cast<uint32_t>(valuebytes * channels) : 0;
    em_sample* sample = em_newsample(channels, rate, length);
    if (!sample)
        return nullptr;
    const uint32_t count = length * static_cast<uint32_t>(channels);
    switch (format) {
    case AUDIO_U8: em_convertu8(sample->data, buffer, count); break;
    case AUDIO_S8: em_converts8(sample->data, buffer, count); break;
    case AUDIO_S16MSB:
        em_swap16(buffer, bytes);
        em_converts16(sample->data, buffer, count);
        break;
    default: em_converts16(sample->data, buffer, count); break;
    }
    em_addsample(sample);
    return sample;
}

FILE* em_opensamplefile(const char* name)
{
    if (!name) {
        em_setsamplewhy("no file name");
        return nullptr;
    }
    if (em_freesampleslot() == 0) {
        em_setsamplewhy("all %d sample slots are in use", EM_MAXSAMPLES - 1);
        return nullptr;
    }
    FILE* file = fopen(name, "rb");
    if (!file)
        em_setsamplewhy("%s", strerror(errno));
    return file;
}

// The reason for a WAV file SDL's reader refused, in words that name the fix
// where there is one, else SDL's own in brackets.
static void em_setwavwhy(const char* sdl)
{
    int bits = 0;
    if (strcmp(sdl, "Unknown WAVE data format: 0xfffe") == 0)
        em_setsamplewhy("24-bit or multichannel WAV: load it with em_loadsound");
    else if (strcmp(sdl, "Unknown WAVE data format: 0x0003") == 0)
        em_setsamplewhy("floating-point WAV: load it with em_loadsound");
    else if (sscanf(sdl, "Unknown %d-bit PCM data format", &bits) == 1)
        em_setsamplewhy("%d-bit WAV: load it with em_loadsound", bits);
    else if (strcmp(sdl, "Error reading from datastream") == 0)
        em_setsamplewhy("the file ends before its data does");
    else
        em_setsamplewhy("not a WAV file the engine reads (%s)", sdl);
}

// A little-endian 32-bit word of a RIFF header.
static uint32_t em_riffword(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// False when the file's data chunk claims more bytes than the file holds. SDL's
// reader would take a block of the claimed size first, so a header claiming
// gigabytes fails for want of memory on one machine and for the short read on
// another: the file is refused for what it is before SDL reads it. Leaves the
// file at its start.
static bool em_wavdatafits(FILE* file)
{
    uint8_t head[12];
    bool fits = true;
    if (fread(head, 1, sizeof(head), file) == sizeof(head) && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0) {
        uint8_t chunk[8];
        while (fread(chunk, 1, sizeof(chunk), file) == sizeof(chunk)) {
            const uint32_t size = em_riffword(chunk + 4);
            const long at = ftell(file);
            if (memcmp(chunk, "data", 4) == 0) {
                fits = fseek(file, 0, SEEK_END) == 0 && at >= 0 && static_cast<uint64_t>(ftell(file) - at) >= size;
                break;
            }
            if (fseek(file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0)
                break;
        }
    }
    rewind(file);
    return fits;
}

em_sample* em_readsample(const char* name)
{
    FILE* file = em_opensamplefile(name);
    if (!file)
        return nullptr;
    if (!em_wavdatafits(file)) {
        fclose(file);
        em_setsamplewhy("the file ends before its data does");
        return nullptr;
    }
    SDL_RWops* stream = SDL_RWFromFP(file, 1);
    if (!stream) {
        fclose(file);
        em_setsamplewhy("out of memory");
        return nullptr;
    }
    SDL_AudioSpec spec;
    Uint8* buffer = nullptr;
    Uint32 bytes = 0;
    if (!SDL_LoadWAV_RW(stream, 1, &spec, &buffer, &bytes)) {
        em_setwavwhy(SDL_GetError());
        return nullptr;
    }
    em_sample* sample = em_makesample(spec.format, spec.channels, spec.freq, buffer, bytes);
    SDL_FreeWAV(buffer);
    return sample;
}

// Loads a file into the bank with reader; the sample's handle, or 0 with the reason set.
int em_loadedsample(const em_sample* sample)
{
    if (!sample)
        return 0;
    em_samplewhy[0] = '\0';
    return sample->handle;
}

static int em_loadwith(const char* name, em_sample* (*reader)(const char*))
{
    return em_loadby([&] { return reader(name); });
}

int em_loadsample(const char* name)
{
    return em_loadwith(name, em_readsample);
}

// The whole stream of an open Ogg Vorbis file as little-endian 16-bit values
// (frames x channels, interleaved) in a block of the engine's; *bytes gets
// its size. Null (with the reason set) when it is too long, the memory is
// not there, or no sound can be decoded. Holes in the data are skipped; a
// stream that keeps failing ends where it failed.
static uint8_t* em_decodeogg(OggVorbis_File* vf, int channels, uint32_t* bytes)
{
    const ogg_int64_t frames = ov_pcm_total(vf, -1);
    if (frames <= 0) {
        em_setsamplewhy("no sound in the stream");
        return nullptr;
    }
    if (frames * channels * 4 > INT32_MAX) {
        em_setsamplewhy("too long");
        return nullptr;
    }
    const uint32_t size = static_cast<uint32_t>(frames * channels * 2);
    uint8_t* pcm = static_cast<uint8_t*>(emio_calloc(size, 1, EMTAG_OGGPCM));
    if (!pcm) {
        em_setsamplewhy("out of memory");
        return nullptr;
    }
    uint32_t done = 0;
    for (int errors = 0; done < size && errors < EM_MAXREADERRORS;) {
        int section = 0;
        const long n = ov_read(vf, reinterpret_cast<char*>(pcm + done), static_cast<int>(size - done), 0, 2, 1, &section);
        if (n == 0)
            break;
        if (n < 0) {
            errors++;
            continue;
        }
        errors = 0;
        done += static_cast<uint32_t>(n);
    }
    if (done < static_cast<uint32_t>(2 * channels)) {
        emio_free(pcm);
        em_setsamplewhy("no sound in the stream");
        return nullptr;
    }
    *bytes = done;
    return pcm;
}

// Decodes a whole Ogg Vorbis file into a sample; null with the reason set.
static em_sample* em_readoggsample(const char* name)
{
    FILE* file = em_opensamplefile(name);
    if (!file)
        return nullptr;
    OggVorbis_File vf;
    if (ov_open(file, &vf, nullptr, 0) < 0) {
        fclose(file);
        em_setsamplewhy("not an Ogg Vorbis file");
        return nullptr;
    }
    // From here vorbisfile owns the file and closes it with ov_clear.
    const vorbis_info* vi = ov_info(&vf, -1);
    em_sample* sample = nullptr;
    if (!vi || vi->channels < 1 || vi->channels > 2) {
        em_setsamplewhy("not 1 or 2 channels");
    } else {
        uint32_t bytes = 0;
        uint8_t* pcm = em_decodeogg(&vf, vi->channels, &bytes);
        if (pcm) {
            const long rate = vi->rate;
            sample =
                em_makesample(AUDIO_S16LSB, vi->channels, rate > INT32_MAX ? INT32_MAX : static_cast<int32_t>(rate), pcm, bytes);
            emio_free(pcm);
        }
    }
    ov_clear(&vf);
    return sample;
}

int em_loadoggsample(const char* name)
{
    return em_loadwith(name, em_readoggsample);
}

int em_validsample(int handle)
{
    if (emstate.inited != 1 || !em_samples || handle <= 0 || handle >= EM_MAXSAMPLES)
        return 0;
    return em_samples[handle] ? 1 : 0;
}

em_sample* em_getsample(int handle)
{
    if (!em_samples || handle <= 0 || handle >= EM_MAXSAMPLES)
        return nullptr;
    return __atomic_load_n(&em_samples[handle], __ATOMIC_ACQUIRE);
}

void em_freesample(int handle)
{
    if (!em_validsample(handle))
        return;
    // Empty the slot under the audio lock: from the next buffer on no voice
    // can reach the sample, so it can be freed.
    em_sample* sample;
    {
        em_locked lock;
        sample = em_samples[handle];
        __atomic_store_n(&em_samples[handle], static_cast<em_sample*>(nullptr), __ATOMIC_RELAXED);
    }
    em_destroysample(sample);
}

// ---------------------------------------------------------------------------
// Analysis
// ---------------------------------------------------------------------------

// Tests position p for the crossings that mode accepts; +1 rising, -1 falling, 0 none.
static int em_crossingat(const em_sample* s, int64_t p, int mode)
{
    const int32_t v = s->data[p];
    const int32_t before = s->data[p - 1];
    if ((mode & 4) && v >= 0 && before < 0)
        return 1;
    if ((mode & 8) && v <= 0 && before > 0)
        return -1;
    return 0;
}

int32_t em_findzero(const em_sample* s, int32_t pos, int mode, int* dir)
{
    if (dir)
        *dir = 0;
    if (!s || !s->data)
        return 0;
    const int64_t length = s->length;
    int64_t b = pos;
    int64_t f = pos;
    // A start outside the sample only reaches it from one side; begin that
    // side at the sample's edge (the same answer, without the walk there).
    if (b > length)
        b = length;
    if (f < 0)
        f = 0;
    bool backward = (mode & 1) != 0;
    bool forward = (mode & 2) != 0;
    if (pos > length)
        forward = false;
    if (pos < 0)
        backward = false;
    while (b >= 0 || f < length) {
        if (backward && b > 0 && b < length) {
            const int found = em_crossingat(s, b, mode);
            if (found) {
                if (dir)
                    *dir = found;
                return static_cast<int32_t>(b);
            }
        }
        if (forward && f > 0 && f < length) {
            const int found = em_crossingat(s, f, mode);
            if (found) {
                if (dir)
                    *dir = found;
                return static_cast<int32_t>(f);
            }
        }
        b--;
        f++;
    }
    return 0;
}

// (x * 100 / y) - 100 with the larger of the two as x; a zero divisor counts as 1.
static int32_t em_percentdiff(int64_t first, int64_t second)
{
    const int64_t larger = first > second ? first : second;
    const int64_t smaller = first > second ? second : first;
    if (larger == smaller)
        return 0;
    return static_cast<int32_t>(larger * 100 / (smaller != 0 ? smaller : 1) - 100);
}

// Sum of absolute values over [from, to) and its peak.
static void em_regionlevel(const em_sample* s, int64_t from, int64_t to, int64_t* sum, int32_t* peak)
{
    *sum = 0;
    *peak = 0;
    for (int64_t p = from; p < to; p++) {
        const int32_t v = s->data[p] < 0 ? -s->data[p] : s->data[p];
        *sum += v;
        if (v > *peak)
            *peak = v;
    }
}

int em_compareregions(const em_sample* s, int32_t a, int32_t b, int32_t c)
{
    if (!s || !s->data || a < 0 || a >= b || b >= c || c > s->length)
        return 0;
    const int64_t l1 = static_cast<int64_t>(b) - a;
    const int64_t l2 = static_cast<int64_t>(c) - b;
    emio_print("L1 %d, L2 %d - diff %d%%\n", static_cast<int32_t>(l1), static_cast<int32_t>(l2), em_percentdiff(l1, l2));

    int64_t sum1, sum2;
    int32_t peak1, peak2;
    em_regionlevel(s, a, b, &sum1, &peak1);
    em_regionlevel(s, b, c, &sum2, &peak2);
    const int64_t a1 = sum1 / l1;
    const int64_t a2 = sum2 / l2;
    emio_print("A1 %d (max %d), A2 %d (max %d) - diff %d%%\n", static_cast<int32_t>(a1), peak1, static_cast<int32_t>(a2), peak2,
               em_percentdiff(a1, a2));

    // Region 2 resampled to region 1's length and scaled to its level. A zero
    // average means region 2 is silent, so its scaled values are 0.
    int64_t maxdif = 0;
    int64_t sum = 0;
    for (int64_t k = 0; k < l1; k++) {
        const int64_t x = s->data[a + k];
        const int64_t y = a2 != 0 ? s->data[b + k * l2 / l1] * a1 / a2 : 0;
        const int64_t e = x > y ? x - y : y - x;
        if (e > maxdif)
            maxdif = e;
        sum += e;
    }
    emio_print("maxdif %d, average %d\n", static_cast<int32_t>(maxdif), static_cast<int32_t>(sum / l1));
    return 0;
}

int em_checkloop(const em_sample* s, int32_t pos, int32_t dist)
{
    int d = 0;
    const int32_t z = em_findzero(s, pos, 15, &d);
    if (d == 0)
        return 0;
    emio_print("fzero %d (%d)\n", z, d);
    const int mode = d > 0 ? 3 + 4 : 3 + 8;
    const auto clamp32 = [](int64_t v) {
        return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
    };
    const int32_t z2 = em_findzero(s, clamp32(static_cast<int64_t>(pos) + dist), mode, nullptr);
    emio_print("fz2 %d\n", z2);
    const int32_t z3 = em_findzero(s, clamp32(static_cast<int64_t>(pos) - dist), mode, nullptr);
    emio_print("fz3 %d\n", z3);
    em_compareregions(s, z3, z, z2);
    return 0;
}
