// gfx_asset.cpp -- image assets: descriptor files, decoding, alpha merge, frames
#include "gfx/gfx_local.h"
#include "io/io.h"

#include "SDL_image.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

enum {
    GFX_ASSETNAMEMAX = 61, // "./" and the name must fit an image name of 63 characters
    GFX_EXTLEN = 4,        // the extension the descriptor name replaces, ".tga"
    GFX_FORMATLEN = 256,   // gfx_getasset's formatted name, terminator included
    GFX_PATHLEN = 1100,    // a base directory, a slash and a MASK value
    GFX_KEYLEN = 72,       // a descriptor key, terminator included
    GFX_VALUELEN = 1024,   // a descriptor value, terminator included
    GFX_FRAMENUMBERS = 6   // x y w h aux0 aux1
};

// The base directories image files are looked up in, primary first.
static const char* const gfx_basedirs[2] = {".", "."};

// The descriptor's keys (the first three) and the flag words of a FLAG value,
// whose positions after the keys give their bits 1, 2, 4.
static const char* const gfx_assetwords[6] = {"FLAG", "MASK", "FRAME", "repeat", "nomip", "nofilter"};
enum { GFX_KEY_FLAG = 0, GFX_KEY_MASK = 1, GFX_KEY_FRAME = 2, GFX_NUMKEYS = 3, GFX_NUMFLAGWORDS = 3 };

// The extensions tried, in order, for the automatic alpha image of a 24-bit picture.
static const char* const gfx_alphaexts[3] = {".bmp", ".tga", ".png"};

gfx_image* gfx_findimage(const char* name)
{
    if (!gfx_images)
        return nullptr;
    for (int32_t i = 0; i < gfx_numimages && i < GFX_MAXIMAGES; i++)
        if (gfx_images[i] && strcmp(gfx_images[i]->name, name) == 0)
            return gfx_images[i];
    return nullptr;
}

gfx_image* gfx_getasset(const char* format, ...)
{
    char name[GFX_FORMATLEN];
    va_list args;
    va_start(args, format);
    vsnprintf(name, sizeof(name), format, args);
    va_end(args);
    gfx_image* image = gfx_findimage(name);
    if (image)
        return image;
    return gfx_loadasset(name, 1);
}

gfx_image* gfx_resolveasset(gfx_assetref* refs, int32_t index)
{
    if (!refs || index < 0)
        return nullptr;
    gfx_assetref* ref = &refs[index];
    if (!ref->image)
        ref->image = gfx_getasset("%s", ref->name);
    return ref->image;
}

// ---- Descriptors -------------------------------------------------------------

// A pass over a descriptor ends at the end of the file, or at a read error.
static bool gfx_atend(FILE* file)
{
    return feof(file) || ferror(file);
}

// Reads the next descriptor line; returns GFX_KEY_* or -1 for any other key.
static int32_t gfx_readkey(FILE* file, char* value)
{
    char key[GFX_KEYLEN];
    return io_readkeyword(file, key, sizeof(key), value, GFX_VALUELEN, gfx_assetwords, GFX_NUMKEYS);
}

// First pass: the last MASK line's value (empty when none).
static void gfx_readmask(FILE* file, char* alphaname)
{
    char value[GFX_VALUELEN];
    alphaname[0] = '\0';
    while (!gfx_atend(file))
        if (gfx_readkey(file, value) == GFX_KEY_MASK)
            memcpy(alphaname, value, GFX_VALUELEN);
}

// Second pass: the descriptor's log line, its name and each MASK value, with the
// number of FRAME lines when withframes; returns that number. The line is written
// in one go once the picture is decoded, so that the decoder's error lines stand
// before it instead of inside it.
static int64_t gfx_logdescriptor(FILE* file, const char* descname, bool withframes)
{
    char value[GFX_VALUELEN];
    int64_t count = 0;
    rewind(file);
    io_log("%s ", descname);
    while (!gfx_atend(file)) {
        const int32_t key = gfx_readkey(file, value);
        if (key == GFX_KEY_MASK)
            io_log("alpha: %s ", value);
        else if (key == GFX_KEY_FRAME)
            count++;
    }
    if (withframes && count > 0)
        io_log("%lld frames", static_cast<long long>(count));
    io_log("\n");
    return count;
}

// A FLAG value: each flag word found anywhere in it, case-sensitive, sets its bit.
static int32_t gfx_parseflags(const char* value)
{
    int32_t flags = 0;
    for (int32_t i = 0; i < GFX_NUMFLAGWORDS; i++)
        if (strstr(value, gfx_assetwords[GFX_NUMKEYS + i]))
            flags |= 1 << i;
    return flags;
}

// Reads up to count decimal integers separated by blanks, stopping at the first item
// that is not one (as the scanf format "%d %d ..." does); returns how many were read.
// Out-of-range numbers are clamped to the int32 range instead of being undefined.
static int32_t gfx_parseints(const char* text, int32_t* numbers, int32_t count)
{
    int32_t done = 0;
    while (done < count) {
        char* end = nullptr;
        long number = strtol(text, &end, 10);
        if (end == text)
            break;
        if (number > INT32_MAX)
            number = INT32_MAX;
        if (number < INT32_MIN)
            number = INT32_MIN;
        numbers[done++] = static_cast<int32_t>(number);
        text = end;
    }
    return done;
}

// Texture coordinates of a frame from its rectangle and the image size, in double
// precision; an image without area leaves them 0.
static void gfx_frametexcoords(gfx_frame* frame, int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return;
    const double w = width, h = height;
    frame->s0 = static_cast<float>(frame->x / w);
    frame->t0 = static_cast<float>((h - frame->y) / h);
    frame->s1 = static_cast<float>((static_cast<double>(frame->x) + frame->w) / w);
    frame->t1 = static_cast<float>((h - frame->y - frame->h) / h);
}

// A FRAME value: x y w h aux0 aux1, missing numbers 0.
static void gfx_parseframe(const char* value, gfx_frame* frame, int32_t width, int32_t height)
{
    int32_t numbers[GFX_FRAMENUMBERS] = {0, 0, 0, 0, 0, 0};
    gfx_parseints(value, numbers, GFX_FRAMENUMBERS);
    frame->x = numbers[0];
    frame->y = numbers[1];
    frame->w = numbers[2];
    frame->h = numbers[3];
    frame->aux0 = numbers[4];
    frame->aux1 = numbers[5];
    gfx_frametexcoords(frame, width, height);
}

// Last pass: FLAG lines set the flags, FRAME lines fill the frame table in file order.
// Never more frames than the table holds, even if the file grew since it was counted.
static void gfx_readsettings(FILE* file, gfx_image* image, bool hasframes)
{
    char value[GFX_VALUELEN];
    int32_t next = 0;
    rewind(file);
    while (!gfx_atend(file)) {
        const int32_t key = gfx_readkey(file, value);
        if (key == GFX_KEY_FLAG) {
            image->flags = gfx_parseflags(value);
        } else if (key == GFX_KEY_FRAME && hasframes && next < image->numframes) {
            gfx_parseframe(value, &image->frames[next], image->width, image->height);
            next++;
        }
    }
}

// Replaces the default frame with a zeroed table of count frames; false on failure.
static bool gfx_allocframes(gfx_image* image, int64_t count)
{
    if (count > INT32_MAX || static_cast<uint64_t>(count) > UINT32_MAX / sizeof(gfx_frame))
        return false;
    gfx_frame* frames = static_cast<gfx_frame*>(io_calloc(static_cast<uint32_t>(count), sizeof(gfx_frame), GFX_TAG_FRAMES));
    if (!frames)
        return false;
    io_free(image->frames);
    image->frames = frames;
    image->numframes = static_cast<int32_t>(count);
    return true;
}

gfx_image* gfx_loadasset(const char* name, int addtolist)
{
    // The descriptor name replaces the last four characters, and the image is found
    // again by its name, which must fit the image's name buffer with its path prefix.
    const size_t length = strlen(name);
    if (length < GFX_EXTLEN) {
        io_error("Asset name too short: %s", name);
        return nullptr;
    }
    if (length > GFX_ASSETNAMEMAX) {
        io_error("Asset name too long: %s", name);
        return nullptr;
    }
    char descname[GFX_NAMELEN];
    memcpy(descname, name, length - GFX_EXTLEN);
    memcpy(descname + length - GFX_EXTLEN, ".ini", GFX_EXTLEN + 1);

    char alphaname[GFX_VALUELEN] = "";
    FILE* desc = io_fopen(descname, "rb");
    if (desc)
        gfx_readmask(desc, alphaname);

    gfx_image* image = gfx_loadimage(name, alphaname, addtolist);
    if (!image) {
        if (desc) {
            gfx_logdescriptor(desc, descname, false);
            io_fclose(desc);
        }
        return nullptr;
    }
    snprintf(image->name, sizeof(image->name), "%s", name);
    if (!desc)
        return image;

    const int64_t count = gfx_logdescriptor(desc, descname, true);
    if (count > 0) {
        if (!gfx_allocframes(image, count)) {
            io_error("gfx_loadasset: couldn't allocate frames for %s", name);
            gfx_freeimage(image);
            io_fclose(desc);
            return nullptr;
        }
    }
    gfx_readsettings(desc, image, count > 0);
    io_fclose(desc);
    return image;
}

// ---- Decoding ----------------------------------------------------------------

// Decodes name under the primary, then the fallback base directory; path receives
// the path that was decoded (or the last one tried). Null when neither decodes.
static SDL_Surface* gfx_decode(const char* name, char* path)
{
    for (const char* dir : gfx_basedirs) {
        const int length = snprintf(path, GFX_PATHLEN, "%s/%s", dir, name);
        if (length < 0 || length >= GFX_PATHLEN)
            continue;
        SDL_Surface* surface = IMG_Load(path);
        if (surface)
            return surface;
    }
    return nullptr;
}

// The automatic alpha image of a 24-bit picture: the image path with its extension
// replaced by ".bmp", ".tga" or ".png", the first that decodes and is not the path
// itself. Only names of at least four characters have an extension to replace.
static SDL_Surface* gfx_findalpha(const char* name, const char* path, char* alphapath)
{
    const size_t length = strlen(path);
    if (strlen(name) < GFX_EXTLEN || length >= GFX_PATHLEN)
        return nullptr;
    for (const char* ext : gfx_alphaexts) {
        memcpy(alphapath, path, length - GFX_EXTLEN);
        memcpy(alphapath + length - GFX_EXTLEN, ext, GFX_EXTLEN + 1);
        if (strcmp(alphapath, path) == 0)
            continue;
        SDL_Surface* surface = IMG_Load(alphapath);
        if (surface)
            return surface;
    }
    return nullptr;
}

// The merge reads the picture as 3 bytes per pixel and the first byte of each
// alpha pixel, row for row: an alpha image that does not fit that is dropped with
// a message, and the picture is then loaded by its own depth.
static bool gfx_alphausable(const SDL_Surface* picture, const char* path, const SDL_Surface* alpha, const char* alphapath)
{
    const int32_t alphabpp = alpha->format->BitsPerPixel;
    if (picture->format->BitsPerPixel != 24) {
        io_error("Alpha image %s ignored: %s is not 24-bit", alphapath, path);
        return false;
    }
    if (alphabpp != 8 && alphabpp != 24 && alphabpp != 32) {
        io_error("Alpha image %s ignored: %d bits per pixel", alphapath, alphabpp);
        return false;
    }
    if (alpha->w < picture->w || alpha->h < picture->h) {
        io_error("Alpha image %s ignored: smaller than %s", alphapath, path);
        return false;
    }
    return true;
}

static const uint8_t* gfx_surfacerow(const SDL_Surface* surface, int32_t y)
{
    return static_cast<const uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch;
}

// A 32-bit image from a 24-bit picture and the first byte of each alpha pixel,
// the picture's top row becoming the image's last row.
static gfx_image* gfx_mergealpha(const SDL_Surface* picture, const SDL_Surface* alpha, const char* path, int addtolist)
{
    gfx_image* image = gfx_createimage(path, picture->w, picture->h, 32, addtolist);
    if (!image)
        return nullptr;
    const int32_t alphastep = alpha->format->BytesPerPixel;
    for (int32_t y = 0; y < image->height; y++) {
        const uint8_t* src = gfx_surfacerow(picture, y);
        const uint8_t* mask = gfx_surfacerow(alpha, y);
        uint8_t* dst = image->pixels + static_cast<size_t>(image->height - 1 - y) * image->pitch;
        for (int32_t x = 0; x < image->width; x++) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = mask[0];
            dst += 4;
            src += 3;
            mask += alphastep;
        }
    }
    return image;
}

// An image of the picture's own depth: 8-bit rows keep the file's order, 24- and
// 32-bit rows are flipped so the bottom row comes first.
static gfx_image* gfx_copysurface(const SDL_Surface* picture, const char* path, int addtolist)
{
    const int32_t bpp = picture->format->BitsPerPixel;
    if (bpp != 8 && bpp != 24 && bpp != 32) {
        io_error("Can't load image %s", path);
        return nullptr;
    }
    gfx_image* image = gfx_createimage(path, picture->w, picture->h, bpp, addtolist);
    if (!image)
        return nullptr;
    // A picture without columns has no pixel rows to copy (its surface may have none).
    for (int32_t y = 0; y < image->height && image->pitch > 0; y++) {
        const int32_t row = (bpp == 8) ? y : image->height - 1 - y;
        memcpy(image->pixels + static_cast<size_t>(row) * image->pitch, gfx_surfacerow(picture, y), image->pitch);
    }
    return image;
}

// A TGA file holds B, G, R(, A): exchanging bytes 0 and 2 gives R, G, B(, A).
static void gfx_swapredblue(gfx_image* image)
{
    const int32_t step = image->bpp / 8;
    const size_t bytes = static_cast<size_t>(image->pitch) * image->height;
    for (size_t i = 0; i + 2 < bytes; i += step) {
        const uint8_t red = image->pixels[i + 2];
        image->pixels[i + 2] = image->pixels[i];
        image->pixels[i] = red;
    }
}

gfx_image* gfx_loadimage(const char* name, const char* alphaname, int addtolist)
{
    char path[GFX_PATHLEN];
    SDL_Surface* picture = gfx_decode(name, path);
    if (!picture) {
        io_error("File not found: %s", name);
        return nullptr;
    }
    const bool tga = strstr(path, ".tga") != nullptr;

    // Surfaces from the image decoder live in system memory and need no locking.
    char alphapath[GFX_PATHLEN] = "";
    SDL_Surface* alpha = nullptr;
    if (alphaname && alphaname[0])
        alpha = gfx_decode(alphaname, alphapath);
    else if (picture->format->BitsPerPixel == 24)
        alpha = gfx_findalpha(name, path, alphapath);
    if (alpha && !gfx_alphausable(picture, path, alpha, alphapath)) {
        SDL_FreeSurface(alpha);
        alpha = nullptr;
    }

    gfx_image* image = alpha ? gfx_mergealpha(picture, alpha, path, addtolist) : gfx_copysurface(picture, path, addtolist);
    if (image && tga && (image->bpp == 24 || image->bpp == 32))
        gfx_swapredblue(image);

    if (alpha)
        SDL_FreeSurface(alpha);
    SDL_FreeSurface(picture);
    return image;
}
