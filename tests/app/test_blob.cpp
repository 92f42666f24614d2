// test_blob.cpp -- blob motion at the edges of the square, what the two render passes leave on screen, the screenshot keys
#include <GL/gl.h>

#include "app/app.h"
#include "app/blob.h"
#include "tests/kit/kit_gl.h"

TEST(BlobMotion, StepsOutsideTheSquareAreUndoneAndReversed)
{
    blob b = {511, 510, 0, 2, 2}, low = {1, 0, 0, -2, -1};
    blob_move(&b), blob_move(&low);
    EXPECT_TRUE(b.x == 511 && b.dx == -2 && b.y == 512 && b.dy == 2) << "513 is outside, 512 inside";
    EXPECT_TRUE(low.x == 1 && low.dx == 2 && low.y == 0 && low.dy == 1);
    blob_move(&b);
    EXPECT_TRUE(b.x == 509 && b.y == 512 && b.dy == -2);
    for (int i = 0; i < 2000; i++) {
        blob_move(&b);
        ASSERT_TRUE(b.x >= 0 && b.x <= BLOB_AREA && b.y >= 0 && b.y <= BLOB_AREA) << "bouncing keeps it inside";
    }
}

using Blob = kit_glfixture;

// The field drawn at the program's window size, opaque white sprites all still and out of view (rows above 383) but three.
TEST_F(Blob, OnlyOverlapsPassTheThreshold)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(1024, 768));
    ASSERT_TRUE((blob_sprites = gfx_createimage("blobs.tga", 256, 256, 32, 1)) &&
                (blob_target = gfx_createimage("blobrender", BLOB_AREA, BLOB_AREA, 32, 1)));
    memset(blob_sprites->pixels, 0xff, 256 * 256 * 4);
    blob_sprites->flags = GFX_NOMIP;
    for (blob& b : blobs)
        b = {256, 511, 0, 0, 0};
    blobs[0] = {100, 100, 0, 0, 0}; // alone: alpha 0.45, never shown
    blobs[1] = {300, 100, 1, 0, 0}; // two on one spot: alpha 0.9, shown
    blobs[2] = {300, 100, 3, 0, 0};
    blob_render();

    static uint8_t frame[768][1024][4];
    glReadPixels(0, 0, 1024, 768, GL_RGBA, GL_UNSIGNED_BYTE, frame);
    // The square is shown magnified twice: 1.5 * c * (1 - a) with c = 1 and a = 0.9.
    for (int c = 0; c < 3; c++) {
        EXPECT_EQ(frame[200][200][c], 0) << "a single sprite stays below the threshold";
        EXPECT_NEAR(frame[200][600][c], 0.15 * 255, 3.0) << c;
        EXPECT_EQ(frame[100][900][c], 0);
    }
}

TEST_F(Blob, ScreenshotKeysAskForOneShotPerSwap)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(1024, 768));
    app_state = 0;
    const auto keys = [](std::initializer_list<std::pair<SDLKey, Uint16>> pressed) { // the shot requests they leave
        SDL_Delay(50);                                                               // after the window system's own events
        app_pollevents();
        gfx_shotrequest = 0;
        for (const auto& key : pressed) {
            SDL_Event event = {SDL_KEYDOWN};
            event.key.keysym = {0, key.first, KMOD_NONE, key.second};
            SDL_PushEvent(&event);
        }
        app_pollevents();
        return gfx_shotrequest;
    };
    EXPECT_EQ(keys({{SDLK_ESCAPE, 27}, {SDLK_a, 'a'}, {SDLK_F11, 0}}), 0u);
    EXPECT_EQ(app_state, 0) << "no key ends the program";
    EXPECT_EQ(keys({{SDLK_F12, 0}}), 1u);
    // A layout may type the grave accent from any key: only the character's low 8 bits count; a dead key does not.
    EXPECT_EQ(keys({{SDLK_BACKQUOTE, '`'}}), 1u);
    EXPECT_EQ(keys({{SDLK_WORLD_5, 0x0160}}), 1u);
    EXPECT_EQ(keys({{SDLK_BACKQUOTE, 0}}), 0u);
    EXPECT_NE(keys({{SDLK_F12, 0}, {SDLK_F12, 0}, {SDLK_BACKQUOTE, '`'}}), 0u);
    app_swap();
    app_swap(); // no request left: no file
    EXPECT_EQ(gfx_shotrequest, 0u);
    EXPECT_EQ(kit_readfile("shot0000.tga").size(), 18u + 1024 * 768 * 4);
    EXPECT_NE(access("shot0001.tga", F_OK), 0);
}
