// wavfile.h -- the header of a RIFF WAVE file with a plain 16-byte format chunk,
// built into bytes, and a file writer on top; emplay's renderer, the example
// sound generator, the engine tests and the fuzz seeds all write WAV files
// through it
#ifndef TOOLS_EMPLAY_WAVFILE_H
#define TOOLS_EMPLAY_WAVFILE_H

#include <cstdint>
#include <cstdio>

// What the format chunk says. Nothing is checked, so that tests can write the
// headers a reader must refuse (other format tags, odd bit depths).
struct wavfile_format {
    uint16_t tag;      // 1 = integer PCM
    uint16_t channels; // values per frame, interleaved
    uint32_t rate;     // frames per second
    uint16_t bits;     // per value; a value takes (bits + 7) / 8 bytes
};

enum {
    WAVFILE_HEADERBYTES = 44 // "RIFF" chunk header, "WAVE", the format chunk, the data chunk's header
};

// The largest data chunk: the RIFF chunk's 32-bit size counts the 36 header
// bytes after it as well.
constexpr uint32_t WAVFILE_MAXDATA = 0xFFFFFFFFu - (WAVFILE_HEADERBYTES - 8);

// Stores value as count little-endian bytes at out; the place after them.
inline uint8_t* wavfile_put(uint8_t* out, uint32_t value, int count)
{
    for (int i = 0; i < count; i++)
        *out++ = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

// Fills out[WAVFILE_HEADERBYTES] with the header of a file whose data chunk
// holds databytes bytes.
inline void wavfile_header(uint8_t* out, const wavfile_format& format, uint32_t databytes)
{
    const uint32_t align = format.channels * ((format.bits + 7u) / 8u);
    uint8_t* p = out;
    p = wavfile_put(p, 0x46464952, 4); // "RIFF"
    p = wavfile_put(p, (WAVFILE_HEADERBYTES - 8) + databytes, 4);
    p = wavfile_put(p, 0x45564157, 4); // "WAVE"
    p = wavfile_put(p, 0x20746d66, 4); // "fmt "
    p = wavfile_put(p, 16, 4);
    p = wavfile_put(p, format.tag, 2);
    p = wavfile_put(p, format.channels, 2);
    p = wavfile_put(p, format.rate, 4);
    p = wavfile_put(p, format.rate * align, 4);
    p = wavfile_put(p, align, 2);
    p = wavfile_put(p, format.bits, 2);
    p = wavfile_put(p, 0x61746164, 4); // "data"
    wavfile_put(p, databytes, 4);
}

// Writes the header at the stream's place; false when it was not all written.
inline bool wavfile_writeheader(FILE* file, const wavfile_format& format, uint32_t databytes)
{
    uint8_t header[WAVFILE_HEADERBYTES];
    wavfile_header(header, format, databytes);
    return fwrite(header, 1, sizeof(header), file) == sizeof(header);
}

// Writes a whole file, header and data; false (errno says why) when the file
// could not be made or written completely.
inline bool wavfile_write(const char* path, const wavfile_format& format, const void* data, uint32_t bytes)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    const bool written = wavfile_writeheader(file, format, bytes) && (bytes == 0 || fwrite(data, 1, bytes, file) == bytes);
    return fclose(file) == 0 && written;
}

#endif
