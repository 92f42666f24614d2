// em_wavwrite.cpp -- rendered sound into a 16-bit PCM WAV file whose header
// matches its data
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "em/em_local.h"

enum {
    EM_WAVHEADER = 44, // "RIFF" chunk header, "WAVE", the format chunk, the data chunk's header
    EM_WAVCHUNK = 4096 // bytes converted and written at a time
};

// The largest data chunk: the RIFF chunk's 32-bit size counts the 36 header bytes after it too.
static const uint64_t EM_WAVMAXDATA = 0xFFFFFFFFull - (EM_WAVHEADER - 8);

// Stores value as count little-endian bytes at out; the place after them.
static uint8_t* em_wavput(uint8_t* out, uint32_t value, int count)
{
    for (int i = 0; i < count; i++)
        *out++ = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

static void em_wavheader(uint8_t* out, int channels, int32_t rate, uint32_t databytes)
{
    const uint32_t align = static_cast<uint32_t>(channels) * 2;
    uint8_t* p = out;
    p = em_wavput(p, 0x46464952, 4); // "RIFF"
    p = em_wavput(p, (EM_WAVHEADER - 8) + databytes, 4);
    p = em_wavput(p, 0x45564157, 4); // "WAVE"
    p = em_wavput(p, 0x20746d66, 4); // "fmt "
    p = em_wavput(p, 16, 4);         // the format chunk's size
    p = em_wavput(p, 1, 2);          // integer PCM
    p = em_wavput(p, static_cast<uint32_t>(channels), 2);
    p = em_wavput(p, static_cast<uint32_t>(rate), 4);
    p = em_wavput(p, static_cast<uint32_t>(rate) * align, 4); // bytes per second
    p = em_wavput(p, align, 2);                               // bytes per frame
    p = em_wavput(p, 16, 2);                                  // bits per value
    p = em_wavput(p, 0x61746164, 4);                          // "data"
    em_wavput(p, databytes, 4);
}

// Header and values into the open file; false with errno set when a write failed.
static bool em_wavdata(FILE* file, const int16_t* values, uint64_t count, int channels, int32_t rate)
{
    uint8_t bytes[EM_WAVCHUNK];
    em_wavheader(bytes, channels, rate, static_cast<uint32_t>(count * 2));
    if (fwrite(bytes, 1, EM_WAVHEADER, file) != EM_WAVHEADER)
        return false;
    for (uint64_t done = 0; done < count;) {
        const uint64_t n = count - done < EM_WAVCHUNK / 2 ? count - done : EM_WAVCHUNK / 2;
        for (uint64_t i = 0; i < n; i++) // the file is little-endian whatever the machine
            em_wavput(bytes + 2 * i, static_cast<uint16_t>(values[done + i]), 2);
        if (fwrite(bytes, 1, 2 * n, file) != 2 * n)
            return false;
        done += n;
    }
    return fflush(file) == 0;
}

int em_writewav(const char* name, const int16_t* frames, int32_t count, int channels, int32_t rate)
{
    if (!name || (!frames && count > 0) || count < 0 || channels < 1 || channels > 2 || rate <= 0) {
        emio_error("em_writewav: %s: nothing to write (%d frames of %d channels at %d Hz)", name ? name : "(no name)", count,
                   channels, rate);
        errno = EINVAL;
        return -1;
    }
    const uint64_t values = static_cast<uint64_t>(count) * static_cast<uint64_t>(channels);
    if (values * 2 > EM_WAVMAXDATA) {
        emio_error("em_writewav: %s: %d frames pass the WAV format's 4 GiB", name, count);
        errno = EFBIG;
        return -1;
    }
    FILE* file = fopen(name, "wb");
    if (!file) {
        const int error = errno;
        emio_error("em_writewav: %s: %s", name, strerror(error));
        errno = error;
        return -1;
    }
    struct stat st;
    const bool regular = fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
    errno = 0;
    int error = em_wavdata(file, frames, values, channels, rate) ? 0 : errno ? errno : EIO;
    // A full disk may show only when the buffered bytes reach it, at the close.
    if (fclose(file) != 0 && error == 0)
        error = errno ? errno : EIO;
    if (error == 0)
        return 0;
    // A file cut short is not left to look like a finished one.
    if (regular)
        remove(name);
    emio_error("em_writewav: %s: %s", name, strerror(error));
    errno = error;
    return -1;
}
