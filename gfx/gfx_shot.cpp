// gfx_shot.cpp -- TGA writer and screenshots of the window
#include "gfx/gfx.h"

#include <GL/gl.h>

#include <cstdio>

enum {
    GFX_SHOTLAST = 9999,   // the search gives up once the counter reaches this
    GFX_SHOTNAMELEN = 32,  // "shot%04d.tga" for any int32, terminator included
    GFX_TGAMAXSIZE = 65535 // the header holds width and height in 16 bits
};

int32_t gfx_shotnumber;

// Exchanges bytes 0 and 2 of every pixel: R, G, B(, A) <-> B, G, R(, A).
static void gfx_swapchannels(gfx_image* image, size_t bytes)
{
    const size_t step = static_cast<size_t>(image->bpp / 8);
    for (size_t i = 0; i + 2 < bytes; i += step) {
        const uint8_t first = image->pixels[i];
        image->pixels[i] = image->pixels[i + 2];
        image->pixels[i + 2] = first;
    }
}

// Only 24- and 32-bit images whose size the 16-bit header fields can hold are
// written; for anything else the header would describe other data than follows.
static bool gfx_tgawritable(const gfx_image* image)
{
    return image && image->pixels && (image->bpp == 24 || image->bpp == 32) && image->width >= 0 &&
           image->width <= GFX_TGAMAXSIZE && image->height >= 0 && image->height <= GFX_TGAMAXSIZE;
}

void gfx_writetga(const char* path, gfx_image* image)
{
    if (!gfx_tgawritable(image))
        return;
    FILE* file = fopen(path, "wb");
    if (!file)
        return;
    // Uncompressed true colour, no ID field, no colour map, origin at the bottom left.
    static const uint8_t start[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (fwrite(start, 1, sizeof(start), file) < sizeof(start)) {
        fclose(file);
        return;
    }
    const uint8_t size[6] = {
        static_cast<uint8_t>(image->width & 255),  static_cast<uint8_t>(image->width / 256),
        static_cast<uint8_t>(image->height & 255), static_cast<uint8_t>(image->height / 256),
        static_cast<uint8_t>(image->bpp),          0,
    };
    if (fwrite(size, 1, sizeof(size), file) < sizeof(size)) {
        fclose(file);
        return;
    }
    // The rows are already bottom row first; the file wants B, G, R(, A), so the
    // buffer is swapped for the write and swapped back afterwards.
    const size_t bytes = static_cast<size_t>(image->pitch) * image->height;
    gfx_swapchannels(image, bytes);
    fwrite(image->pixels, 1, bytes, file);
    gfx_swapchannels(image, bytes);
    fclose(file);
}

// Finds the next name of the series that cannot be opened for reading; false when
// the counter reaches the last number while passing existing files.
static bool gfx_nextshotname(char* name)
{
    for (;;) {
        snprintf(name, GFX_SHOTNAMELEN, "shot%04d.tga", gfx_shotnumber);
        FILE* existing = fopen(name, "rb");
        if (!existing)
            return true;
        fclose(existing);
        gfx_shotnumber++;
        if (gfx_shotnumber >= GFX_SHOTLAST)
            return false;
    }
}

void gfx_screenshot()
{
    char name[GFX_SHOTNAMELEN];
    if (!gfx_nextshotname(name))
        return;
    if (gfx_width <= 0 || gfx_height <= 0)
        return;
    gfx_image* image = gfx_createimage(name, gfx_width, gfx_height, 32, 0);
    if (!image)
        return;
    // Rows of 4-byte pixels are aligned for GL's default pack alignment of 4; it is
    // set explicitly so that a changed setting cannot make GL write past the buffer.
    GLint oldalign = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &oldalign);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, gfx_width, gfx_height, GL_RGBA, GL_UNSIGNED_BYTE, image->pixels);
    glPixelStorei(GL_PACK_ALIGNMENT, oldalign);
    gfx_writetga(name, image);
    gfx_freeimage(image);
}
