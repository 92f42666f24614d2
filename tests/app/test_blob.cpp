// test_blob.cpp -- blob motion at the edges, atlas squares, and what the two
// render passes leave on screen for known sprites
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstring>

#include "app/app.h"
#include "gfx/gfx.h"
#include "tests/gfx/glcontext.h"
#include "io/io.h"

TEST(BlobMotion, StepsAreUndoneAndReversedOutsideTheSquare)
{
    blob b = {511, 510, 0, 2, 2};
    blob_move(&b);
    EXPECT_EQ(b.x, 511) << "513 is outside: the step is undone";
    EXPECT_EQ(b.dx, -2);
    EXPECT_EQ(b.y, 512) << "512 is still inside";
    EXPECT_EQ(b.dy, 2);
    blob_move(&b);
    EXPECT_EQ(b.x, 509);
    EXPECT_EQ(b.y, 512);
    EXPECT_EQ(b.dy, -2);

    blob low = {1, 0, 0, -2, -1};
    blob_move(&low);
    EXPECT_EQ(low.x, 1);
    EXPECT_EQ(low.dx, 2);
    EXPECT_EQ(low.y, 0);
    EXPECT_EQ(low.dy, 1);

    blob still = {7, 9, 0, 0, 0};
    for (int i = 0; i < 1000; i++)
        blob_move(&still);
    EXPECT_EQ(still.x, 7);
    EXPECT_EQ(still.y, 9);

    // Bouncing keeps a blob inside for good.
    blob vertical = {40, 3, 0, 0, -2};
    for (int i = 0; i < 2000; i++) {
        blob_move(&vertical);
        ASSERT_GE(vertical.y, 0);
        ASSERT_LE(vertical.y, BLOB_AREA);
        ASSERT_EQ(vertical.x, 40);
    }
}

TEST(BlobMotion, SpritesSampleTheirAtlasQuarter)
{
    const float expected[4][2] = {{0.0f, 0.0f}, {0.5f, 0.0f}, {0.0f, 0.5f}, {0.5f, 0.5f}};
    for (int sprite = 0; sprite < 4; sprite++) {
        float s0 = -1.0f, t0 = -1.0f;
        blob_spriteorigin(sprite, &s0, &t0);
        EXPECT_EQ(s0, expected[sprite][0]) << sprite;
        EXPECT_EQ(t0, expected[sprite][1]) << sprite;
    }
}

// The field drawn for real at the program's window size.
class BlobRender : public quorrel_videofixture {
protected:
    void SetUp() override
    {
        startvideo(1024, 768);
        // Opaque white sprites: every texel has full colour and alpha.
        blob_sprites = gfx_createimage("blobs.tga", 256, 256, 32, 1);
        ASSERT_NE(blob_sprites, nullptr);
        memset(blob_sprites->pixels, 0xff, 256 * 256 * 4);
        blob_sprites->flags = GFX_NOMIP;
        blob_target = gfx_createimage("blobrender", BLOB_AREA, BLOB_AREA, 32, 1);
        ASSERT_NE(blob_target, nullptr);
        // Everything out of view (rows above 383 of the square are not shown)
        // and still.
        for (blob &b : blobs)
            b = {256, 511, 0, 0, 0};
    }
    static void pixel(int x, int y, uint8_t rgba[4])
    {
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    }
};

TEST_F(BlobRender, OnlyOverlapsPassTheThresholdAtAtMostThreeQuartersBrightness)
{
    blobs[0] = {100, 100, 0, 0, 0};  // alone: alpha 0.45, never shown
    blobs[1] = {300, 100, 1, 0, 0};  // two on one spot: alpha 0.9, shown
    blobs[2] = {300, 100, 3, 0, 0};
    blob_render();

    uint8_t alone[4], pair[4], empty[4];
    pixel(200, 200, alone);   // the square is shown magnified twice
    pixel(600, 200, pair);
    pixel(900, 100, empty);
    for (int c = 0; c < 3; c++) {
        EXPECT_EQ(alone[c], 0) << "a single sprite stays below the threshold";
        EXPECT_EQ(empty[c], 0);
        // 1.5 * c * (1 - a) with c = 1 (colour clamps) and a = 0.9.
        EXPECT_NEAR(pair[c], 0.15 * 255, 3.0) << c;
    }
    // The frame holds nothing brighter than 0.75 of full scale.
    static uint8_t frame[1024 * 768 * 4];
    glReadPixels(0, 0, 1024, 768, GL_RGBA, GL_UNSIGNED_BYTE, frame);
    int lit = 0;
    for (int i = 0; i < 1024 * 768; i++) {
        for (int c = 0; c < 3; c++)
            ASSERT_LE(frame[i * 4 + c], 192) << "pixel " << i;
        lit += frame[i * 4] > 0;
    }
    EXPECT_GT(lit, 1000);
    EXPECT_EQ(blob_target->texture != 0, true) << "the copy's texture is made by the first bind";
}

TEST_F(BlobRender, MovingBlobsMoveOneStepPerDrawnFrame)
{
    blobs[5] = {200, 200, 2, 2, -1};
    blob_render();
    blob_render();
    EXPECT_EQ(blobs[5].x, 204);
    EXPECT_EQ(blobs[5].y, 198);
    EXPECT_EQ(blobs[0].x, 256);
}
