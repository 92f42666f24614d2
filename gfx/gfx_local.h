// gfx_local.h -- the display and image code's internals: allocation tags, the
// helpers behind the display calls, and the platform calls tests replace
#ifndef GFX_GFX_LOCAL_H
#define GFX_GFX_LOCAL_H

#include <cstdint>

#include "SDL.h"
#include "gfx/gfx.h"

// Tags of the blocks this library takes from io_calloc; the shutdown report
// prints them beside each block still held.
enum {
    GFX_TAG_IMAGELIST = 201, // gfx_images, the list of image pointers
    GFX_TAG_IMAGE = 202,     // one gfx_image record
    GFX_TAG_PIXELS = 203,    // an image's pixel buffer
    GFX_TAG_FRAME = 204,     // an image's default frame table
    GFX_TAG_FRAMES = 205,    // a frame table made from a descriptor
    GFX_TAG_ICONMASK = 999   // the window icon's transparency mask, held during gfx_seticon
};

// Keeps and logs the acceptable entries of an SDL full-screen mode list
// (the first 16 examined); returns how many were kept.
int32_t gfx_listmodes(SDL_Rect* const* modes);
// Builds the icon's transparency mask: one bit per pixel, MSB first, 1 where the
// palette index is not 0. Returns the mask (io_calloc, GFX_TAG_ICONMASK) or null.
uint8_t* gfx_iconmask(const SDL_Surface* icon);
// 1 when list holds name as a whole blank-separated word, else 0 (the search behind gfx_hasextension).
int gfx_findextension(const char* list, const char* name);
// Vertical field of view in degrees for a window: 90 degrees across the wider side.
double gfx_fieldofview(int32_t width, int32_t height);
// Ticks between two millisecond readings for a divisor (the timer's arithmetic); 0 for divisor 0.
uint32_t gfx_ticksbetween(uint32_t start, uint32_t now, uint32_t divisor);

// The SDL calls behind the mode change and the tick timer (SDL_SetVideoMode and
// SDL_GetTicks); tests replace them to make a mode change fail or to drive the clock.
extern SDL_Surface* (*gfx_rawsetvideomode)(int width, int height, int bpp, uint32_t flags);
extern uint32_t (*gfx_rawgetticks)();

#endif
