// em_soundfile.cpp -- sounds of every format libsndfile reads, from a file or
// from memory, and interleaved 16-bit frames from the caller, into the sample bank
#include <sndfile.h>

#include <cmath>
#include <cstring>

#include "em/em_local.h"

enum { EM_SFCHUNK = 1024 }; // frames decoded at a time

// One value in the 16-bit range from libsndfile's double, full scale 1.0:
// scaled by 32768, to the nearest (halves upward), clipped; not a number is 0.
static int32_t em_sfvalue(double v)
{
    if (!(v == v))
        return 0;
    const double scaled = std::floor(v * 32768.0 + 0.5);
    return scaled >= 32767.0 ? 32767 : scaled <= -32768.0 ? -32768 : static_cast<int32_t>(scaled);
}

// Decodes an open sound into a new sample at the file's own rate; null with the reason set.
static em_sample* em_readsf(SNDFILE* file, const SF_INFO& info)
{
    const int64_t frames = info.frames;
    em_sample* sample = em_newsample(info.channels, info.samplerate, frames);
    if (!sample)
        return nullptr;
    double chunk[EM_SFCHUNK * 2];
    int64_t done = 0;
    while (done < frames) {
        const sf_count_t want = frames - done < int64_t {EM_SFCHUNK} ? frames - done : int64_t {EM_SFCHUNK};
        const sf_count_t got = sf_readf_double(file, chunk, want);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got * info.channels; i++)
            sample->data[done * info.channels + i] = em_sfvalue(chunk[i]);
        done += got;
    }
    // A file that ends early keeps the frames it has.
    if (done == 0) {
        em_destroysample(sample);
        em_setsamplewhy("no whole frame of sound");
        return nullptr;
    }
    sample->length = static_cast<int32_t>(done);
    sample->bytes = sample->length * sample->channels * 4;
    em_addsample(sample);
    return sample;
}

// Decodes the sound libsndfile opened (or says why it could not) and closes it.
static em_sample* em_readsfopened(SNDFILE* file, const SF_INFO& info)
{
    if (!file) {
        em_setsamplewhy("not a sound file the engine reads (%s)", sf_strerror(nullptr));
        return nullptr;
    }
    em_sample* sample = em_readsf(file, info);
    sf_close(file);
    return sample;
}

// A file's bytes in memory, read through libsndfile's virtual I/O.
struct em_membytes {
    const uint8_t* data;
    sf_count_t size;
    sf_count_t pos; // 0..size
};

static sf_count_t em_memlength(void* user)
{
    return static_cast<em_membytes*>(user)->size;
}

static sf_count_t em_memseek(sf_count_t offset, int whence, void* user)
{
    em_membytes* m = static_cast<em_membytes*>(user);
    const sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
    if (offset < -base || offset > m->size - base)
        return -1;
    m->pos = base + offset;
    return m->pos;
}

static sf_count_t em_memread(void* to, sf_count_t count, void* user)
{
    em_membytes* m = static_cast<em_membytes*>(user);
    const sf_count_t n = count < m->size - m->pos ? count : m->size - m->pos;
    if (n <= 0)
        return 0;
    memcpy(to, m->data + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
}

static sf_count_t em_memwrite(const void*, sf_count_t, void*)
{
    return 0;
}

static sf_count_t em_memtell(void* user)
{
    return static_cast<em_membytes*>(user)->pos;
}

int em_loadsamplemem(const void* data, int32_t bytes)
{
    return em_loadby([&]() -> em_sample* {
        if (!data || bytes <= 0) {
            em_setsamplewhy("no bytes to read");
            return nullptr;
        }
        if (em_freesampleslot() == 0) {
            em_setsamplewhy("all %d sample slots are in use", EM_MAXSAMPLES - 1);
            return nullptr;
        }
        SF_VIRTUAL_IO io = {em_memlength, em_memseek, em_memread, em_memwrite, em_memtell};
        em_membytes m = {static_cast<const uint8_t*>(data), bytes, 0};
        SF_INFO info;
        memset(&info, 0, sizeof(info));
        return em_readsfopened(sf_open_virtual(&io, SFM_READ, &info, &m), info);
    });
}

int em_loadsound(const char* name)
{
    return em_loadby([&]() -> em_sample* {
        FILE* file = em_opensamplefile(name);
        if (!file)
            return nullptr;
        SF_INFO info;
        memset(&info, 0, sizeof(info));
        em_sample* sample = em_readsfopened(sf_open_fd(fileno(file), SFM_READ, &info, SF_FALSE), info);
        fclose(file);
        return sample;
    });
}

int em_loadsampleraw(const int16_t* frames, int32_t count, int channels, int32_t rate)
{
    return em_loadby([&]() -> em_sample* {
        if (!frames) {
            em_setsamplewhy("no frames to read");
            return nullptr;
        }
        em_sample* sample = em_newsample(channels, rate, count);
        if (!sample)
            return nullptr;
        for (int64_t i = 0; i < static_cast<int64_t>(count) * channels; i++)
            sample->data[i] = frames[i];
        em_addsample(sample);
        return sample;
    });
}
