// wavout.h -- stores what the audio engine rendered as a 16-bit stereo WAV file
// at the engine's rate: the one piece of code the examples share
#ifndef EXAMPLES_WAVOUT_H
#define EXAMPLES_WAVOUT_H

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

enum {
    WAVOUT_RATE = 44100,    // frames per second: the rate em_render delivers
    WAVOUT_HEADERBYTES = 44 // "RIFF" chunk header, "WAVE", the format chunk, the data chunk's header
};

// Appends value as count little-endian bytes.
inline void wavout_put(std::vector<uint8_t>* bytes, uint32_t value, int count)
{
    for (int i = 0; i < count; i++)
        bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Writes the interleaved left/right values of em_render (two per frame) as a
// whole WAV file. 0, or the errno of what failed (the file could not be made or
// written completely).
inline int wavout_write(const char* path, const std::vector<int16_t>& values)
{
    const uint32_t databytes = static_cast<uint32_t>(values.size() * 2);
    std::vector<uint8_t> bytes;
    bytes.reserve(WAVOUT_HEADERBYTES + databytes);
    wavout_put(&bytes, 0x46464952, 4); // "RIFF"
    wavout_put(&bytes, WAVOUT_HEADERBYTES - 8 + databytes, 4);
    wavout_put(&bytes, 0x45564157, 4); // "WAVE"
    wavout_put(&bytes, 0x20746d66, 4); // "fmt "
    wavout_put(&bytes, 16, 4);         // the format chunk's size
    wavout_put(&bytes, 1, 2);          // integer PCM
    wavout_put(&bytes, 2, 2);          // channels
    wavout_put(&bytes, WAVOUT_RATE, 4);
    wavout_put(&bytes, WAVOUT_RATE * 4, 4); // bytes per second
    wavout_put(&bytes, 4, 2);               // bytes per frame
    wavout_put(&bytes, 16, 2);              // bits per value
    wavout_put(&bytes, 0x61746164, 4);      // "data"
    wavout_put(&bytes, databytes, 4);
    for (const int16_t v : values)
        wavout_put(&bytes, static_cast<uint16_t>(v), 2);

    FILE* file = fopen(path, "wb");
    if (!file)
        return errno;
    errno = 0;
    int error = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() ? 0 : errno ? errno : EIO;
    // A full disk may show only when the buffered bytes reach it, at the close.
    if (fclose(file) != 0 && error == 0)
        error = errno ? errno : EIO;
    return error;
}

#endif
