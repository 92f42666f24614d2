// fuzz_icon.cpp -- fuzz target: the window icon read from any "icon.bmp" through
// gfx_seticon (SDL's BMP reader, then the transparency mask); nothing may be left
// allocated afterwards.
#include "fuzz_common.h"
#include "gfx/gfx.h"
#include "io/io.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    // SDL's driver without a display: the icon is read and handed to SDL as the
    // program does it, without a window system.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "fuzz_icon: SDL_Init: %s\n", SDL_GetError());
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_writefile("icon.bmp", data, size);
    io_init();
    gfx_seticon();
    FUZZ_CHECK(inout.curbytes == 0, "%d bytes left allocated", inout.curbytes);

    // The mask on its own, for whatever surface the reader made.
    SDL_Surface *icon = SDL_LoadBMP("icon.bmp");
    if (icon) {
        uint8_t *mask = gfx_iconmask(icon);
        if (icon->format->BytesPerPixel != 1) {
            FUZZ_CHECK(mask == nullptr, "a mask for a %d-byte pixel", icon->format->BytesPerPixel);
        } else if (mask) {
            const uint32_t rowbytes = (static_cast<uint32_t>(icon->w) + 7) / 8;
            uint32_t sum = 0;
            for (uint32_t i = 0; i < rowbytes * static_cast<uint32_t>(icon->h); i++)
                sum += mask[i];
            (void)sum;
            io_free(mask);
        }
        SDL_FreeSurface(icon);
    }
    FUZZ_CHECK(inout.curbytes == 0, "%d bytes left allocated", inout.curbytes);
    io_deinit();
    return 0;
}
