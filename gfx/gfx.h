// gfx.h -- display state, video mode and GL context, tick timer, images with
// lazily made textures, image assets and screenshots. Main thread only.
#ifndef GFX_GFX_H
#define GFX_GFX_H

#include <stdint.h>

#include "SDL.h"

// C linkage and plain records, so that C and the languages binding through C can
// call it; what is declared here is what the shared library exports.
#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct gfx_mode gfx_mode;
typedef struct gfx_frame gfx_frame;
typedef struct gfx_image gfx_image;
typedef struct gfx_assetref gfx_assetref;

// ---- Display ---------------------------------------------------------------

enum {
    GFX_MAXMODES = 16, // full-screen modes examined and kept by gfx_init
    GFX_MAXTIMERS = 8  // tick timer slots; slot 0 is the program clock
};

enum {
    GFX_CAPS_EDGECLAMP = 1, // the driver lists GL_EXT_texture_edge_clamp
    GFX_CAPS_BASE = 2,      // always set by gfx_initvideo
    GFX_CAPS_STENCIL = 16   // the context has a stencil buffer
};

struct gfx_mode {
    int32_t width;
    int32_t height;
};

extern int32_t gfx_width;       // window width, pixels
extern int32_t gfx_height;      // window height, pixels
extern int32_t gfx_bpp;         // bits per pixel asked of SDL
extern uint32_t gfx_videoflags; // extra SDL video flags (SDL_FULLSCREEN, ...)
extern uint32_t gfx_caps;       // GFX_CAPS_* found by gfx_initvideo
extern gfx_mode gfx_modes[GFX_MAXMODES];
extern int32_t gfx_nummodes; // entries used in gfx_modes
extern int32_t gfx_desktopw; // desktop size when the program started
extern int32_t gfx_desktoph;
extern uint32_t gfx_shotrequest; // a screenshot is wanted after the next swap
extern int32_t gfx_videoset;     // 1 while a video mode and its GL context exist, else 0

// Resets the shot request, creates the image list, logs the modes and the desktop size.
// Returns 0, or 1 when the image list cannot be allocated.
int gfx_init(void);
// Sets the GL video mode with icon, caption, centring, projection and default GL state.
// Returns 0, or 1 when the mode cannot be set (SDL has then been shut down and
// gfx_videoset is 0: nothing may be drawn or swapped).
int gfx_initvideo(uint32_t flags);
// Releases every texture and sets the mode again; returns gfx_initvideo's result,
// or 1 without doing anything when no mode is set.
int gfx_restartvideo(void);
// Frees every image and the image list, then stops SDL's video subsystem.
void gfx_deinit(void);
// Stops SDL's video subsystem (the video mode goes with it).
void gfx_videoquit(void);
// Sets the window icon from "icon.bmp" (8-bit palette, index 0 transparent).
void gfx_seticon(void);
// Centres the window on the desktop; returns 0 when there is no window to move.
int gfx_centerwindow(void);
// 1 when the GL extension list holds name as a whole word, else 0.
int gfx_hasextension(const char* name);
// Pushes a pixel-space projection (origin lower left) and an identity modelview.
void gfx_begin2d(void);
// Pops what gfx_begin2d pushed; leaves the modelview matrix selected.
void gfx_end2d(void);
// Starts a timer slot now, counting ticks of divisor milliseconds.
void gfx_starttimer(uint32_t slot, uint32_t divisor);
// Whole ticks since the slot started (modulo 2^32); 0 for a slot never started or out of range.
uint32_t gfx_readtimer(uint32_t slot);
// Moves the mouse pointer within the window.
void gfx_warpmouse(uint16_t x, uint16_t y);

// ---- Images and textures ---------------------------------------------------

enum {
    GFX_MAXIMAGES = 512, // entries of the image list
    GFX_NAMELEN = 64     // image name buffer, terminator included
};

enum {
    GFX_REPEAT = 1,  // wrap mode GL_REPEAT instead of GL_CLAMP_TO_EDGE
    GFX_NOMIP = 2,   // a single texture level, no mipmaps
    GFX_NOFILTER = 4 // nearest-texel filtering
};

// A rectangle within an image with its texture coordinates.
struct gfx_frame {
    int32_t x, y;       // left column and top row, pixels from the top left
    int32_t w, h;       // size in pixels
    int32_t aux0, aux1; // stored unchanged from the descriptor
    float s0, t0;       // top left texture coordinate
    float s1, t1;       // bottom right texture coordinate
};

// An image in memory, the master copy of its lazily made texture.
struct gfx_image {
    int32_t width;
    int32_t height;
    int32_t pitch;    // bytes per row = width * (bpp / 8), rows without gaps
    int32_t bpp;      // 8, 24 or 32 (others get no texture data)
    int32_t flags;    // GFX_REPEAT | GFX_NOMIP | GFX_NOFILTER
    int32_t uploaded; // the texture exists
    int32_t lastuse;  // gfx_readtimer(0) at the last upload or bind
    uint32_t texture; // GL texture name, 0 when none
    uint8_t* pixels;  // pitch * height bytes; 24/32-bit rows bottom row first
    char name[GFX_NAMELEN];
    int32_t numframes; // entries in frames, at least 1
    gfx_frame* frames;
};

extern gfx_image** gfx_images; // GFX_MAXIMAGES entries, the listed images first
extern int32_t gfx_numimages;
extern uint32_t gfx_boundtexture; // texture last bound to GL_TEXTURE_2D by this code

// New zero-filled image with one default frame, listed when addtolist; null on failure.
gfx_image* gfx_createimage(const char* name, int32_t width, int32_t height, int32_t bpp, int addtolist);
// Makes the texture when there is none and refreshes lastuse; returns the texture name (0 for null).
uint32_t gfx_uploadimage(gfx_image* image);
// Makes the texture if needed and binds it, skipping the bind when already bound.
void gfx_bindimage(gfx_image* image);
// Sends the current pixels to the existing texture (or makes it); returns the texture name.
uint32_t gfx_updateimage(gfx_image* image);
// Deletes the image's texture and keeps the image.
void gfx_releasetexture(gfx_image* image);
// Deletes the texture of every listed image.
void gfx_releasealltextures(void);
// Releases the texture of at most one listed image unused for more than 50 ticks.
void gfx_sweeptextures(void);
// Unlists the image, deletes its texture and frees it; null is ignored.
void gfx_freeimage(gfx_image* image);
// Frees every listed image, the last one first.
void gfx_freeallimages(void);

// ---- Assets ----------------------------------------------------------------

// An asset name with the image it resolves to (null until first use).
struct gfx_assetref {
    char name[GFX_NAMELEN];
    gfx_image* image;
};

// The first listed image with exactly this name, or null.
gfx_image* gfx_findimage(const char* name);
// The listed image of the printf-formed name, loading it as an asset when absent; null on failure.
gfx_image* gfx_getasset(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The image of refs[index], loaded on first use; null while it cannot be loaded.
gfx_image* gfx_resolveasset(gfx_assetref* refs, int32_t index);
// Loads an image file with its optional ".ini" descriptor; null on failure.
gfx_image* gfx_loadasset(const char* name, int addtolist);
// Decodes an image file (and an alpha image) into a new image; null on failure.
gfx_image* gfx_loadimage(const char* name, const char* alphaname, int addtolist);

// ---- Screenshots -----------------------------------------------------------

extern int32_t gfx_shotnumber; // number tried first for the next "shot%04d.tga"

// Writes a 24- or 32-bit image as an uncompressed TGA; silent on failure.
void gfx_writetga(const char* path, gfx_image* image);
// Reads the window into the next free "shot%04d.tga"; silent on failure.
void gfx_screenshot(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
