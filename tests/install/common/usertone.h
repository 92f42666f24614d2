// usertone.h -- the WAV file the user programs of the install test play, written
// in C so that the C++ program and the C one share it
#ifndef USERTONE_H
#define USERTONE_H

#include <stdint.h>
#include <stdio.h>

enum { USER_TONEFRAMES = 441 }; // 10 ms at 44100 Hz

// A 44100 Hz 16-bit mono WAV of one period of a 100 Hz saw: "RIFF", size, "WAVE", "fmt ", 16, PCM and one
// channel, rate, bytes a second, bytes a frame and bits, "data", size, then the values. 1 when written, else 0.
static inline int user_writetone(const char* path)
{
    const uint32_t header[] = {
        0x46464952, 36 + USER_TONEFRAMES * 2, 0x45564157, 0x20746d66, 16, 1 | 1 << 16, 44100, 44100 * 2, 2 | 16 << 16,
        0x61746164, USER_TONEFRAMES * 2};
    FILE* out = fopen(path, "wb");
    for (int i = 0; out && i < 11 * 4; i++)
        fputc(header[i / 4] >> (i % 4 * 8) & 0xFF, out);
    for (int i = 0; out && i < USER_TONEFRAMES * 2; i++)
        fputc((uint16_t)(i / 2 * 40 - 8800) >> (i % 2 * 8) & 0xFF, out);
    return out && fclose(out) == 0;
}

#endif
