// blob.h -- the blob field: 100 sprites that drift and bounce in a square,
// summed and shown through an alpha threshold so that only overlaps show
#ifndef APP_BLOB_H
#define APP_BLOB_H

#include <cstdint>

enum {
    BLOB_COUNT = 100,  // blobs drawn per frame
    BLOB_AREA = 512,   // blobs live in a BLOB_AREA square, pixels
    BLOB_HALFSIZE = 64 // half the edge of a blob sprite, pixels
};

// One sprite of the field.
struct blob {
    int32_t x;      // centre, 0..512 pixels from the left of the square
    int32_t y;      // centre, 0..512 pixels from the bottom
    int32_t sprite; // atlas quarter 0..3
    int32_t dx;     // step per drawn frame, -2..2
    int32_t dy;
};

struct gfx_image;
extern blob blobs[BLOB_COUNT];
extern gfx_image* blob_sprites; // "blobs.tga", the 2x2 sprite atlas
extern gfx_image* blob_target;  // "blobrender", the copy of the summed sprites

// Loads the sprites, creates the render target and scatters the blobs (rand()).
void blob_init();
// Draws the field: sprites summed additively, then copied and shown through an alpha threshold.
void blob_render();
// Moves one blob a step, reflecting it at the edges of the square.
void blob_move(blob* b);
// Lower left texture coordinate of an atlas quarter.
void blob_spriteorigin(int32_t sprite, float* s0, float* t0);

#endif
