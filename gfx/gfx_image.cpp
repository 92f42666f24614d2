// gfx_image.cpp -- images in memory, their lazily made textures and the image list
#include "gfx/gfx_local.h"
#include "io/io.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstring>

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

enum {
    GFX_SWEEPTICKS = 50 // a texture idle for more ticks than this may be swept
};

gfx_image** gfx_images;
int32_t gfx_numimages;
uint32_t gfx_boundtexture;

// Pixel byte count of a width x height x bpp image, or -1 when the size is negative
// or does not fit a signed 32-bit count (pitch and the allocator's sizes are 32-bit).
static int64_t gfx_imagebytes(int32_t width, int32_t height, int32_t bpp)
{
    if (width < 0 || height < 0 || bpp < 0)
        return -1;
    const int64_t pitch = static_cast<int64_t>(width) * (bpp / 8);
    const int64_t bytes = pitch * height;
    if (pitch > INT32_MAX || bytes > INT32_MAX)
        return -1;
    return bytes;
}

// The one frame every new image has: the whole picture, texture square (0,1)-(1,0).
static void gfx_setdefaultframe(gfx_frame* frame, int32_t width, int32_t height)
{
    frame->x = 0;
    frame->y = 0;
    frame->w = width;
    frame->h = height;
    frame->aux0 = 0;
    frame->aux1 = 0;
    frame->s0 = 0.0f;
    frame->t0 = 1.0f;
    frame->s1 = 1.0f;
    frame->t1 = 0.0f;
}

gfx_image* gfx_createimage(const char* name, int32_t width, int32_t height, int32_t bpp, int addtolist)
{
    // Refused before anything is allocated, so a refusal leaves nothing to undo.
    const int64_t bytes = gfx_imagebytes(width, height, bpp);
    if (bytes < 0) {
        io_error("gfx_createimage: bad size %dx%d at %d bits for %s", width, height, bpp, name);
        return nullptr;
    }
    if (addtolist && (!gfx_images || gfx_numimages < 0 || gfx_numimages >= GFX_MAXIMAGES)) {
        io_error("gfx_createimage: image list full, %s not created", name);
        return nullptr;
    }

    gfx_image* image = static_cast<gfx_image*>(io_calloc(1, sizeof(gfx_image), GFX_TAG_IMAGE));
    if (!image)
        return nullptr;
    snprintf(image->name, sizeof(image->name), "%s", name);
    image->uploaded = 0;
    image->texture = 0;
    image->width = width;
    image->height = height;
    image->bpp = bpp;
    image->flags = 0;
    image->pitch = width * (bpp / 8);
    image->numframes = 1;

    image->frames = static_cast<gfx_frame*>(io_calloc(1, sizeof(gfx_frame), GFX_TAG_FRAME));
    if (!image->frames) {
        io_free(image);
        return nullptr;
    }
    gfx_setdefaultframe(image->frames, width, height);

    image->pixels = static_cast<uint8_t*>(io_calloc(static_cast<uint32_t>(bytes), 1, GFX_TAG_PIXELS));
    if (!image->pixels) {
        io_free(image->frames);
        io_free(image);
        return nullptr;
    }

    if (addtolist) {
        gfx_images[gfx_numimages] = image;
        gfx_numimages++;
    }
    return image;
}

// GL's internal format and pixel format for an image depth; 0 when the depth has none.
static int gfx_glformat(int32_t bpp, GLint* internal, GLenum* format)
{
    switch (bpp) {
    case 8:
        *internal = 1;
        *format = GL_COLOR_INDEX;
        return 1;
    case 24:
        *internal = GL_RGB8;
        *format = GL_RGB;
        return 1;
    case 32:
        *internal = GL_RGBA8;
        *format = GL_RGBA;
        return 1;
    default: return 0;
    }
}

// Image rows follow each other without padding, but GL's default unpack alignment is
// 4: a 24-bit or 8-bit row whose length is not a multiple of 4 would make GL read past
// the pixel buffer. Uploads therefore run with alignment 1; the old value is returned.
static GLint gfx_packedrows()
{
    GLint old = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &old);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    return old;
}

static void gfx_sendpixels(const gfx_image* image)
{
    GLint internal;
    GLenum format;
    if (!gfx_glformat(image->bpp, &internal, &format))
        return;
    const GLint oldalign = gfx_packedrows();
    if (image->flags & GFX_NOMIP)
        glTexImage2D(GL_TEXTURE_2D, 0, internal, image->width, image->height, 0, format, GL_UNSIGNED_BYTE, image->pixels);
    else
        gluBuild2DMipmaps(GL_TEXTURE_2D, internal, image->width, image->height, format, GL_UNSIGNED_BYTE, image->pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, oldalign);
}

static void gfx_setfilters(int32_t flags)
{
    GLint minfilter, magfilter;
    if (flags & GFX_NOFILTER) {
        minfilter = (flags & GFX_NOMIP) ? GL_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        magfilter = GL_NEAREST;
    } else {
        minfilter = (flags & GFX_NOMIP) ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR;
        magfilter = GL_LINEAR;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minfilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magfilter);

    const GLint wrap = (flags & GFX_REPEAT) ? GL_REPEAT : GL_CLAMP_TO_EDGE;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
}

uint32_t gfx_uploadimage(gfx_image* image)
{
    if (!image)
        return 0;
    image->lastuse = static_cast<int32_t>(gfx_readtimer(0));
    if (!image->uploaded) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        image->texture = texture;
        glBindTexture(GL_TEXTURE_2D, texture);
        gfx_boundtexture = texture;
        gfx_sendpixels(image);
        gfx_setfilters(image->flags);
        image->uploaded = 1;
    }
    return image->texture;
}

void gfx_bindimage(gfx_image* image)
{
    const uint32_t texture = gfx_uploadimage(image);
    if (image && texture != gfx_boundtexture) {
        glBindTexture(GL_TEXTURE_2D, texture);
        gfx_boundtexture = texture;
    }
}

uint32_t gfx_updateimage(gfx_image* image)
{
    if (!image || !image->uploaded)
        return gfx_uploadimage(image);
    glBindTexture(GL_TEXTURE_2D, image->texture);
    gfx_boundtexture = image->texture;
    GLint internal;
    GLenum format;
    if (gfx_glformat(image->bpp, &internal, &format)) {
        const GLint oldalign = gfx_packedrows();
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image->width, image->height, format, GL_UNSIGNED_BYTE, image->pixels);
        glPixelStorei(GL_UNPACK_ALIGNMENT, oldalign);
    }
    return image->texture;
}

void gfx_releasetexture(gfx_image* image)
{
    if (!image || !image->uploaded)
        return;
    GLuint texture = image->texture;
    if (glIsTexture(texture))
        glDeleteTextures(1, &texture);
    image->texture = 0;
    image->uploaded = 0;
}

void gfx_releasealltextures()
{
    if (!gfx_images)
        return;
    for (int32_t i = 0; i < GFX_MAXIMAGES; i++)
        if (gfx_images[i] && gfx_images[i]->uploaded)
            gfx_releasetexture(gfx_images[i]);
}

void gfx_sweeptextures()
{
    if (!gfx_images)
        return;
    const uint32_t now = gfx_readtimer(0);
    gfx_image* image = gfx_images[now % GFX_MAXIMAGES];
    if (!image || !image->uploaded)
        return;
    // The clock wraps; the difference is taken modulo 2^32 and read as signed.
    const int32_t idle = static_cast<int32_t>(now - static_cast<uint32_t>(image->lastuse));
    if (idle > GFX_SWEEPTICKS)
        gfx_releasetexture(image);
}

// Takes the image out of the list, closing the gap so the listed images stay in order.
static void gfx_unlistimage(const gfx_image* image)
{
    if (!gfx_images)
        return;
    for (int32_t i = 0; i < GFX_MAXIMAGES; i++) {
        if (gfx_images[i] != image)
            continue;
        memmove(&gfx_images[i], &gfx_images[i + 1], (GFX_MAXIMAGES - 1 - i) * sizeof(gfx_image*));
        gfx_images[GFX_MAXIMAGES - 1] = nullptr;
        gfx_numimages--;
        return;
    }
}

void gfx_freeimage(gfx_image* image)
{
    if (!image)
        return;
    gfx_unlistimage(image);
    gfx_releasetexture(image);
    if (image->pixels)
        io_free(image->pixels);
    if (image->frames)
        io_free(image->frames);
    io_free(image);
}

void gfx_freeallimages()
{
    if (!gfx_images)
        return;
    while (gfx_numimages >= 1) {
        gfx_image* image = gfx_images[gfx_numimages - 1];
        if (!image) {
            gfx_numimages--; // a hole would otherwise stop the loop from ending
            continue;
        }
        gfx_freeimage(image);
    }
}
