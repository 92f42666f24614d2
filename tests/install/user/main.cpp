// main.cpp -- a program of the engine's users, built against an installed copy
// through the public headers alone: io's log and allocator, a gfx image written
// as a TGA file (no display needed) and the audio engine rendering a WAV file of
// the program's own offline (no sound card needed), then playing it through a
// sound device that SDL's disk driver captures, whose stream must hold the same
// values. It prints what each library gave back; the install test builds it
// twice, runs both and compares.
#include "em/em.h"
#include "gfx/gfx.h"
#include "io/io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

enum {
    USER_TONEFRAMES = 441,   // 10 ms at 44100 Hz
    USER_RENDERFRAMES = 1024 // one device buffer
};

// FNV-1a over bytes: equal output gives equal sums.
static uint32_t user_checksum(const void* data, size_t bytes)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < bytes; i++)
        hash = (hash ^ p[i]) * 16777619u;
    return hash;
}

static void user_put16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

static void user_put32(uint8_t* at, uint32_t value)
{
    user_put16(at, value & 0xffff);
    user_put16(at + 2, value >> 16);
}

// A 44100 Hz 16-bit mono WAV of one period of a 100 Hz saw; false when it cannot be written.
static bool user_writetone(const char* path)
{
    static uint8_t file[44 + USER_TONEFRAMES * 2];
    memcpy(file, "RIFF\0\0\0\0WAVEfmt ", 16);
    user_put32(file + 4, sizeof(file) - 8);
    user_put32(file + 16, 16);        // fmt chunk size
    user_put16(file + 20, 1);         // PCM
    user_put16(file + 22, 1);         // channels
    user_put32(file + 24, 44100);     // frames per second
    user_put32(file + 28, 44100 * 2); // bytes per second
    user_put16(file + 32, 2);         // bytes per frame
    user_put16(file + 34, 16);        // bits per value
    memcpy(file + 36, "data", 4);
    user_put32(file + 40, USER_TONEFRAMES * 2);
    for (int i = 0; i < USER_TONEFRAMES; i++)
        user_put16(file + 44 + i * 2, static_cast<uint16_t>(static_cast<int16_t>(i * 40 - 8800)));
    FILE* out = fopen(path, "wb");
    if (!out)
        return false;
    const bool written = fwrite(file, 1, sizeof(file), out) == sizeof(file);
    return fclose(out) == 0 && written;
}

// A zero-filled block from the accounting allocator, counted while held.
static bool user_io()
{
    uint8_t* block = static_cast<uint8_t*>(io_calloc(100, 1, 7));
    if (!block) {
        printf("io: io_calloc failed\n");
        return false;
    }
    int zeros = 0;
    for (int i = 0; i < 100; i++)
        zeros += block[i] == 0;
    const int32_t held = inout.curbytes;
    io_free(block);
    printf("io: %d of 100 bytes zeroed, held %d, after io_free %d\n", zeros, held, inout.curbytes);
    return true;
}

// An unlisted 3x2 32-bit image written as TGA, whose first pixel must come out
// as B, G, R, A; then the window centring, which has no window to move.
static bool user_gfx()
{
    gfx_image* image = gfx_createimage("user", 3, 2, 32, 0);
    if (!image) {
        printf("gfx: gfx_createimage failed\n");
        return false;
    }
    const uint8_t rgba[4] = {1, 2, 3, 4};
    memcpy(image->pixels, rgba, sizeof(rgba));
    gfx_writetga("user.tga", image);
    gfx_freeimage(image);

    uint8_t file[64];
    FILE* in = fopen("user.tga", "rb");
    if (!in) {
        printf("gfx: user.tga not written\n");
        return false;
    }
    const size_t bytes = fread(file, 1, sizeof(file), in);
    fclose(in);
    if (bytes < 22) {
        printf("gfx: user.tga holds %zu bytes\n", bytes);
        return false;
    }
    printf("gfx: user.tga %zu bytes, type %d, %dx%d at %d bits, first pixel %d %d %d %d\n", bytes, file[2],
           file[12] | file[13] << 8, file[14] | file[15] << 8, file[16], file[18], file[19], file[20], file[21]);
    printf("gfx: gfx_centerwindow without a window %d\n", gfx_centerwindow());
    return true;
}

// One voice of the tone through a sampler, rendered without a device into out.
static bool user_em(int16_t* out)
{
    if (!user_writetone("tone.wav")) {
        printf("em: tone.wav not written\n");
        return false;
    }
    const int started = em_initoffline();
    if (started != 0) {
        printf("em: em_initoffline %d\n", started);
        return false;
    }
    const int sample = em_loadsample("tone.wav");
    const int sampler = em_createsampler(em_getroot(), -1);
    const int voice = sample && sampler ? em_triggersample(sampler, sample) : 0;
    const int rendered = voice ? em_render(out, USER_RENDERFRAMES) : -1;
    int sounding = 0;
    for (int i = 0; i < USER_RENDERFRAMES * 2; i++)
        sounding += out[i] != 0;
    printf("em: sample %d (%s), voice %s, rendered %d frames, %d values not silent, checksum %08x\n", sample, em_sampleerror(),
           voice ? "started" : "not started", rendered, sounding, static_cast<unsigned>(user_checksum(out, USER_RENDERFRAMES * 4)));
    em_deinit(); // prints the engine's allocation report
    return rendered == USER_RENDERFRAMES;
}

// The same voice played by the sound device, with SDL's disk driver writing the
// device's stream to device.raw. The voice starts between two device buffers, so
// the stream must be whole silent buffers, then exactly the offline render.
static bool user_device(const int16_t* offline)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "device.raw", 1);
    setenv("SDL_DISKAUDIODELAY", "5", 1); // ms a buffer, instead of 150
    remove("device.raw");
    const int started = em_init();
    if (started != 0) {
        printf("device: em_init %d\n", started);
        return false;
    }
    const int sample = em_loadsample("tone.wav");
    const int sampler = em_createsampler(em_getroot(), -1);
    const uint32_t from = em_getsampleclock();
    const int voice = sample && sampler ? em_triggersample(sampler, sample) : 0;
    // Three more buffers mixed: the voice's first one has been written by then.
    for (int waited = 0; voice && em_getsampleclock() - from < 3 * USER_RENDERFRAMES && waited < 10000; waited++)
        usleep(1000);
    em_deinit(); // closes the device and its file; prints the engine's allocation report
    FILE* in = fopen("device.raw", "rb");
    if (!voice || !in) {
        printf("device: %s\n", voice ? "device.raw not written" : "no voice started");
        if (in)
            fclose(in);
        return false;
    }
    static int16_t buffer[USER_RENDERFRAMES * 2];
    int silent = 0;
    bool equal = false, heard = false;
    while (!heard && fread(buffer, sizeof(buffer), 1, in) == 1) {
        for (int i = 0; i < USER_RENDERFRAMES * 2; i++)
            heard = heard || buffer[i] != 0;
        if (heard)
            equal = memcmp(buffer, offline, sizeof(buffer)) == 0;
        else
            silent++;
    }
    fclose(in);
    if (!heard)
        printf("device: device.raw holds %d silent buffers and no sound\n", silent);
    else
        printf("device: the device's stream %s the offline render after its silent buffers\n", equal ? "equals" : "differs from");
    return equal;
}

int main()
{
    if (!io_init()) {
        printf("io: io_init could not open log.txt\n");
        return 1;
    }
    static int16_t offline[USER_RENDERFRAMES * 2];
    const bool ok = user_io() && user_gfx() && user_em(offline) && user_device(offline);
    io_deinit();
    printf("%s\n", ok ? "done" : "failed");
    return ok ? 0 : 1;
}
