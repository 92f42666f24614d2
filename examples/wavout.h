// wavout.h -- stores what the audio engine rendered as a 16-bit stereo WAV file
// at the engine's rate: the one piece of code the examples share, written in C so
// that the C example shares it too
#ifndef EXAMPLES_WAVOUT_H
#define EXAMPLES_WAVOUT_H

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

enum {
    WAVOUT_RATE = 44100,    // frames per second: the rate em_render delivers
    WAVOUT_HEADERBYTES = 44 // "RIFF" chunk header, "WAVE", the format chunk, the data chunk's header
};

// Stores value as count little-endian bytes at bytes; the position after them.
static inline uint8_t* wavout_put(uint8_t* bytes, uint32_t value, int count)
{
    for (int i = 0; i < count; i++)
        *bytes++ = (uint8_t)(value >> (8 * i));
    return bytes;
}

// Writes count interleaved left/right values of em_render (two per frame) as a
// whole WAV file. 0, or the errno of what failed (the file could not be made or
// written completely).
static inline int wavout_write(const char* path, const int16_t* values, size_t count)
{
    const uint32_t databytes = (uint32_t)(count * 2);
    uint8_t header[WAVOUT_HEADERBYTES];
    uint8_t* at = wavout_put(header, 0x46464952, 4); // "RIFF"
    at = wavout_put(at, WAVOUT_HEADERBYTES - 8 + databytes, 4);
    at = wavout_put(at, 0x45564157, 4); // "WAVE"
    at = wavout_put(at, 0x20746d66, 4); // "fmt "
    at = wavout_put(at, 16, 4);         // the format chunk's size
    at = wavout_put(at, 1, 2);          // integer PCM
    at = wavout_put(at, 2, 2);          // channels
    at = wavout_put(at, WAVOUT_RATE, 4);
    at = wavout_put(at, WAVOUT_RATE * 4, 4); // bytes per second
    at = wavout_put(at, 4, 2);               // bytes per frame
    at = wavout_put(at, 16, 2);              // bits per value
    at = wavout_put(at, 0x61746164, 4);      // "data"
    wavout_put(at, databytes, 4);

    FILE* file = fopen(path, "wb");
    if (!file)
        return errno;
    errno = 0;
    int ok = fwrite(header, 1, sizeof(header), file) == sizeof(header);
    for (size_t i = 0; ok && i < count; i++) {
        uint8_t value[2];
        wavout_put(value, (uint16_t)values[i], 2);
        ok = fwrite(value, 1, 2, file) == 2;
    }
    int error = ok ? 0 : errno ? errno : EIO;
    // A full disk may show only when the buffered bytes reach it, at the close.
    if (fclose(file) != 0 && error == 0)
        error = errno ? errno : EIO;
    return error;
}

#endif
