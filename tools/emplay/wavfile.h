// wavfile.h -- the little-endian words and the header of a 16-bit PCM WAV
// file, shared by emplay's renderer and the example sound generator
#ifndef TOOLS_EMPLAY_WAVFILE_H
#define TOOLS_EMPLAY_WAVFILE_H

#include <cstdint>
#include <cstdio>

inline void wav_put16(FILE* f, uint16_t v)
{
    const uint8_t b[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
    fwrite(b, 1, 2, f);
}

inline void wav_put32(FILE* f, uint32_t v)
{
    wav_put16(f, static_cast<uint16_t>(v & 0xFFFF));
    wav_put16(f, static_cast<uint16_t>(v >> 16));
}

// The header of a 16-bit PCM file whose data chunk of databytes follows.
inline void wav_header(FILE* f, uint16_t channels, uint32_t rate, uint32_t databytes)
{
    fwrite("RIFF", 1, 4, f);
    wav_put32(f, 36 + databytes);
    fwrite("WAVEfmt ", 1, 8, f);
    wav_put32(f, 16);
    wav_put16(f, 1);
    wav_put16(f, channels);
    wav_put32(f, rate);
    wav_put32(f, rate * 2u * channels);
    wav_put16(f, static_cast<uint16_t>(2 * channels));
    wav_put16(f, 16);
    fwrite("data", 1, 4, f);
    wav_put32(f, databytes);
}

#endif
