// test_display.cpp -- extension search, tick timer, field of view, icon mask and the GL context
#include "glcontext.h"

#include <GL/gl.h>
#include <cstring>
#include <utility>

TEST(GfxDisplay, ExtensionSearchTimerWrapAndFieldOfView)
{
    const std::pair<const char*, int32_t> lists[] = {
        {"GL_EXT_texture_edge_clamp GL_ARB_a", 1},
        {"GL_ARB_a GL_EXT_texture_edge_clamp GL_ARB_b", 1},
        {"GL_ARB_a GL_EXT_texture_edge_clampX GL_ARB_b", 0},
        {"XGL_EXT_texture_edge_clamp", 0},
        {"GL_EXT_texture_edge_clampX GL_EXT_texture_edge_clamp", 1},
        {"XGL_EXT_texture_edge_clampGL_EXT_texture_edge_clamp", 0},
        {"", 0},
    };
    for (const auto& l : lists)
        EXPECT_EQ(gfx_findextension(l.first, "GL_EXT_texture_edge_clamp"), l.second) << l.first;
    EXPECT_EQ(gfx_findextension("GL_ARB_a GL_ARB_b", "GL_ARB_a GL_ARB_b"), 0);
    EXPECT_EQ(gfx_findextension(nullptr, "GL_ARB_a"), 0);
    EXPECT_EQ(gfx_ticksbetween(1000, 1009, 10), 0u);
    EXPECT_EQ(gfx_ticksbetween(1000, 1010, 10), 1u);
    EXPECT_EQ(gfx_ticksbetween(0xfffffff0u, 0x10u, 10), 3u); // SDL's counter wrapped
    EXPECT_EQ(gfx_ticksbetween(0xfffffff0u, 0x10u, 1), 32u);
    EXPECT_EQ(gfx_ticksbetween(5, 500000, 0), 0u); // a slot never started
    EXPECT_NEAR(gfx_fieldofview(1024, 768), 73.74, 0.005);
    EXPECT_NEAR(gfx_fieldofview(800, 800), 90.0, 0.001);
    EXPECT_DOUBLE_EQ(gfx_fieldofview(600, 800), 90.0);
}

TEST(GfxDisplay, IconMaskSetsOneBitPerOpaquePixelMostSignificantFirst)
{
    io_init();
    SDL_Surface* icon = SDL_CreateRGBSurface(SDL_SWSURFACE, 12, 3, 8, 0, 0, 0, 0);
    ASSERT_NE(icon, nullptr);
    uint8_t* pixels = static_cast<uint8_t*>(icon->pixels);
    memset(pixels, 0, static_cast<size_t>(icon->pitch) * 3);
    pixels[0] = 3;
    pixels[9] = 255;
    memset(pixels + 2 * icon->pitch + 2, 1, 10);
    uint8_t* mask = gfx_iconmask(icon);
    ASSERT_NE(mask, nullptr);
    const uint8_t expected[6] = {0x80, 0x40, 0, 0, 0x3f, 0xf0}; // rows padded to whole bytes
    EXPECT_EQ(memcmp(mask, expected, sizeof(expected)), 0);
    EXPECT_EQ(inout.allocs[0].size, 6u);
    io_free(mask);
    SDL_FreeSurface(icon);
    icon = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 24, 0xff, 0xff00, 0xff0000, 0);
    EXPECT_EQ(gfx_iconmask(icon), nullptr); // only palette icons have a transparent index
    SDL_FreeSurface(icon);
    EXPECT_EQ(inout.curbytes, 0);
    io_deinit();
}

using GfxVideo = quorrel_videofixture;

TEST_F(GfxVideo, AlphaChannelAndBegin2dEnd2dRestoreTheMatrices)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(320, 240));
    GLint alpha = 0;
    glGetIntegerv(GL_ALPHA_BITS, &alpha);
    EXPECT_EQ(alpha, 8) << "the blob field's threshold needs destination alpha";
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1.0f, 2.0f, 3.0f);
    GLfloat before[2][16], inside[2][16], after[2][16];
    glGetFloatv(GL_PROJECTION_MATRIX, before[0]);
    glGetFloatv(GL_MODELVIEW_MATRIX, before[1]);
    gfx_begin2d();
    glGetFloatv(GL_PROJECTION_MATRIX, inside[0]);
    glGetFloatv(GL_MODELVIEW_MATRIX, inside[1]);
    EXPECT_FLOAT_EQ(inside[0][0], 2.0f / 320.0f); // pixel units: x' = 2x/width - 1
    EXPECT_FLOAT_EQ(inside[0][5], 2.0f / 240.0f);
    EXPECT_FLOAT_EQ(inside[0][12], -1.0f);
    EXPECT_FLOAT_EQ(inside[1][12], 0.0f);
    gfx_end2d();
    glGetFloatv(GL_PROJECTION_MATRIX, after[0]);
    glGetFloatv(GL_MODELVIEW_MATRIX, after[1]);
    EXPECT_EQ(memcmp(before, after, sizeof(after)), 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}
