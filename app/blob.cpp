// blob.cpp -- the blob field: 100 sprites summed additively, copied into a
// texture and shown magnified through an alpha threshold, so that shapes
// appear only where sprites overlap
#include <GL/gl.h>

#include <cstdlib>

#include "app/blob.h"
#include "gfx/gfx.h"

blob blobs[BLOB_COUNT];
gfx_image* blob_sprites;
gfx_image* blob_target;

static const float BLOB_ALPHA = 0.45f; // alpha each sprite adds: one alone stays below the threshold
static const float BLOB_THRESHOLD = 0.5f;
static const float BLOB_SCREENW = 1024.0f; // the field is drawn over this fixed window area
static const float BLOB_SCREENH = 768.0f;
static const float BLOB_SHOWN = 0.75f; // part of the copied square shown (rows 0..383)

void blob_init()
{
    blob_sprites = gfx_getasset("blobs.tga");
    blob_target = gfx_createimage("blobrender", BLOB_AREA, BLOB_AREA, 32, 1);
    for (blob& b : blobs) {
        b.x = rand() % BLOB_AREA;
        b.y = rand() % BLOB_AREA;
        b.sprite = rand() % 4;
        b.dx = rand() % 5 - 2;
        b.dy = rand() % 5 - 2;
    }
}

// One axis of a blob's step: a step that leaves 0..BLOB_AREA is undone and reversed.
static void blob_step(int32_t* position, int32_t* step)
{
    *position += *step;
    if (*position < 0 || *position > BLOB_AREA) {
        *position -= *step;
        *step = -*step;
    }
}

void blob_move(blob* b)
{
    blob_step(&b->x, &b->dx);
    blob_step(&b->y, &b->dy);
}

void blob_spriteorigin(int32_t sprite, float* s0, float* t0)
{
    *s0 = static_cast<float>(sprite & 1) * 0.5f;
    *t0 = static_cast<float>(sprite & 2) * 0.25f;
}

static void blob_quad(float s0, float t0, float s1, float t1, float x0, float y0, float x1, float y1)
{
    glTexCoord2f(s0, t0);
    glVertex2f(x0, y0);
    glTexCoord2f(s1, t0);
    glVertex2f(x1, y0);
    glTexCoord2f(s1, t1);
    glVertex2f(x1, y1);
    glTexCoord2f(s0, t1);
    glVertex2f(x0, y1);
}

// Pass 1: every blob moves one step and adds its sprite into the frame buffer.
static void blob_accumulate()
{
    GLbitfield clear = GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT;
    if (gfx_caps & GFX_CAPS_STENCIL)
        clear |= GL_STENCIL_BUFFER_BIT;
    glClear(clear);
    gfx_begin2d();
    glDisable(GL_DEPTH_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gfx_bindimage(blob_sprites);
    glColor4f(1.0f, 1.0f, 1.0f, BLOB_ALPHA);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glBegin(GL_QUADS);
    for (blob& b : blobs) {
        blob_move(&b);
        float s0, t0;
        blob_spriteorigin(b.sprite, &s0, &t0);
        const float x = static_cast<float>(b.x);
        const float y = static_cast<float>(b.y);
        const float h = BLOB_HALFSIZE;
        blob_quad(s0, t0, s0 + 0.5f, t0 + 0.5f, x - h, y - h, x + h, y + h);
    }
    glEnd();
}

// Pass 2: the summed square is copied into the target and drawn back over
// the window twice, keeping only texels whose summed alpha passes the threshold.
static void blob_threshold()
{
    gfx_bindimage(blob_target);
    // Without a target the copy would overwrite whatever texture is bound.
    if (blob_target)
        glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, BLOB_AREA, BLOB_AREA);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_ONE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, BLOB_THRESHOLD);
    glBegin(GL_QUADS);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    blob_quad(0.0f, 0.0f, 1.0f, BLOB_SHOWN, 0.0f, 0.0f, BLOB_SCREENW, BLOB_SCREENH);
    glColor4f(0.5f, 0.5f, 0.5f, 1.0f);
    blob_quad(0.0f, 0.0f, 1.0f, BLOB_SHOWN, 0.0f, 0.0f, BLOB_SCREENW, BLOB_SCREENH);
    glEnd();
    glDisable(GL_ALPHA_TEST);
    gfx_end2d();
}

void blob_render()
{
    blob_accumulate();
    blob_threshold();
}
