// main.cpp -- a user's program built against the installed headers alone: io's allocator, a TGA file from gfx, and
// the engine rendering a WAV file offline, then through a sound device whose stream SDL's disk driver captures. It
// prints what each library gave back; the install test builds it twice, runs both and compares.
#include "em/em.h"
#include "gfx/gfx.h"
#include "io/io.h"
#include "usertone.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

enum { USER_RENDERFRAMES = 1024 }; // one device buffer

// Prints why the step failed and fails it.
#define USER_CHECK(cond, ...)                                                                                                    \
    do {                                                                                                                         \
        if (!(cond)) {                                                                                                           \
            printf(__VA_ARGS__);                                                                                                 \
            return false;                                                                                                        \
        }                                                                                                                        \
    } while (0)

// A zero-filled block from the accounting allocator, counted while held.
static bool user_io()
{
    uint8_t* block = static_cast<uint8_t*>(io_calloc(100, 1, 7));
    USER_CHECK(block, "io: io_calloc failed\n");
    const long zeros = std::count(block, block + 100, 0);
    const int32_t held = inout.curbytes;
    io_free(block);
    printf("io: %ld of 100 bytes zeroed, held %d, after io_free %d\n", zeros, held, inout.curbytes);
    return true;
}

// An unlisted 3x2 32-bit image written as TGA, whose first pixel must come out as B, G, R, A; then the window
// centring, which has no window to move.
static bool user_gfx()
{
    gfx_image* image = gfx_createimage("user", 3, 2, 32, 0);
    USER_CHECK(image, "gfx: gfx_createimage failed\n");
    memcpy(image->pixels, "\1\2\3\4", 4);
    gfx_writetga("user.tga", image);
    gfx_freeimage(image);
    uint8_t file[64];
    FILE* in = fopen("user.tga", "rb");
    const size_t bytes = in ? fread(file, 1, sizeof(file), in) : 0;
    if (in)
        fclose(in);
    USER_CHECK(bytes >= 22, "gfx: user.tga holds %zu bytes\n", bytes);
    printf("gfx: user.tga %zu bytes, type %d, %dx%d at %d bits, first pixel %d %d %d %d\n", bytes, file[2],
           file[12] | file[13] << 8, file[14] | file[15] << 8, file[16], file[18], file[19], file[20], file[21]);
    printf("gfx: gfx_centerwindow without a window %d\n", gfx_centerwindow());
    return true;
}

// One voice of the tone through a sampler, rendered without a device into out; FNV-1a checksum of the render.
static bool user_em(int16_t* out)
{
    USER_CHECK(user_writetone("tone.wav"), "em: tone.wav not written\n");
    const int started = em_initoffline();
    USER_CHECK(started == 0, "em: em_initoffline %d\n", started);
    const int sample = em_loadsample("tone.wav"), sampler = em_createsampler(em_getroot(), -1);
    const int voice = sample && sampler ? em_triggersample(sampler, sample) : 0;
    const int rendered = voice ? em_render(out, USER_RENDERFRAMES) : -1;
    uint32_t hash = 2166136261u;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(out);
    for (int i = 0; i < USER_RENDERFRAMES * 4; i++)
        hash = (hash ^ bytes[i]) * 16777619u;
    printf("em: sample %d (%s), voice %s, rendered %d frames, %ld values not silent, checksum %08x\n", sample, em_sampleerror(),
           voice ? "started" : "not started", rendered, USER_RENDERFRAMES * 2 - std::count(out, out + USER_RENDERFRAMES * 2, 0),
           static_cast<unsigned>(hash));
    em_deinit(); // prints the engine's allocation report
    return rendered == USER_RENDERFRAMES;
}

// The same voice played by the sound device, SDL's disk driver writing its stream to device.raw. The voice starts
// between two device buffers, so the stream must be whole silent buffers, then exactly the offline render.
static bool user_device(const int16_t* offline)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "device.raw", 1);
    setenv("SDL_DISKAUDIODELAY", "5", 1); // ms a buffer, instead of 150
    remove("device.raw");
    const int started = em_init();
    USER_CHECK(started == 0, "device: em_init %d\n", started);
    const int sample = em_loadsample("tone.wav"), sampler = em_createsampler(em_getroot(), -1);
    const uint32_t from = em_getsampleclock();
    const int voice = sample && sampler ? em_triggersample(sampler, sample) : 0;
    // Three more buffers mixed: the voice's first one has been written by then.
    for (int waited = 0; voice && em_getsampleclock() - from < 3 * USER_RENDERFRAMES && waited < 10000; waited++)
        usleep(1000);
    em_deinit(); // closes the device and its file; prints the engine's allocation report
    USER_CHECK(voice, "device: no voice started\n");
    static int16_t buffer[USER_RENDERFRAMES * 2];
    FILE* in = fopen("device.raw", "rb");
    int silent = 0;
    bool heard = false;
    while (in && !heard && fread(buffer, sizeof(buffer), 1, in) == 1)
        heard = std::count(buffer, buffer + USER_RENDERFRAMES * 2, 0) < USER_RENDERFRAMES * 2 || (silent++, false);
    if (in)
        fclose(in);
    USER_CHECK(heard, "device: device.raw holds %d silent buffers and no sound\n", silent);
    const bool equal = memcmp(buffer, offline, sizeof(buffer)) == 0;
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
