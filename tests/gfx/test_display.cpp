// test_display.cpp -- display pieces: extension search, tick timer, field of
// view, mode list, icon mask, the 2-D projection and the video mode on X
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "gfx/gfx.h"
#include "glcontext.h"
#include "io/io.h"

static std::string readfile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(GfxDisplay, ExtensionSearchMatchesWholeWordsOnly)
{
    const char *name = "GL_EXT_texture_edge_clamp";
    EXPECT_EQ(gfx_findextension("GL_EXT_texture_edge_clamp GL_ARB_a GL_ARB_b", name), 1);
    EXPECT_EQ(gfx_findextension("GL_ARB_a GL_EXT_texture_edge_clamp GL_ARB_b", name), 1);
    EXPECT_EQ(gfx_findextension("GL_ARB_a GL_ARB_b GL_EXT_texture_edge_clamp", name), 1);
    EXPECT_EQ(gfx_findextension("GL_EXT_texture_edge_clamp", name), 1);
    // One more letter behind or in front is another extension.
    EXPECT_EQ(gfx_findextension("GL_ARB_a GL_EXT_texture_edge_clampX GL_ARB_b", name), 0);
    EXPECT_EQ(gfx_findextension("GL_ARB_a XGL_EXT_texture_edge_clamp GL_ARB_b", name), 0);
    EXPECT_EQ(gfx_findextension("XGL_EXT_texture_edge_clamp", name), 0);
    // A near miss followed by the real word still finds it; a near miss glued
    // to a second copy does not count as a word.
    EXPECT_EQ(gfx_findextension("GL_EXT_texture_edge_clampX GL_EXT_texture_edge_clamp", name), 1);
    EXPECT_EQ(gfx_findextension("XGL_EXT_texture_edge_clampGL_EXT_texture_edge_clamp", name), 0);
    // Names with a blank, empty names and missing lists never match.
    EXPECT_EQ(gfx_findextension("GL_ARB_a GL_ARB_b", "GL_ARB_a GL_ARB_b"), 0);
    EXPECT_EQ(gfx_findextension("GL_ARB_a  GL_ARB_b", ""), 0);
    EXPECT_EQ(gfx_findextension("GL_ARB_a GL_ARB_b", " "), 0);
    EXPECT_EQ(gfx_findextension(nullptr, name), 0);
    EXPECT_EQ(gfx_findextension("", name), 0);
}

TEST(GfxDisplay, TimerCountsWholeTicksAcrossTheCounterWrap)
{
    EXPECT_EQ(gfx_ticksbetween(1000, 1009, 10), 0u);
    EXPECT_EQ(gfx_ticksbetween(1000, 1010, 10), 1u);
    EXPECT_EQ(gfx_ticksbetween(1000, 1999, 10), 99u);
    // SDL's counter wrapped between start and now: 0x20 ms passed.
    EXPECT_EQ(gfx_ticksbetween(0xfffffff0u, 0x10u, 10), 3u);
    EXPECT_EQ(gfx_ticksbetween(0xfffffff0u, 0x10u, 1), 32u);
    // A slot never started has no divisor and reads 0.
    EXPECT_EQ(gfx_ticksbetween(5, 500000, 0), 0u);

    ASSERT_EQ(SDL_Init(SDL_INIT_TIMER), 0);
    EXPECT_EQ(gfx_readtimer(5), 0u) << "unstarted slot";
    EXPECT_EQ(gfx_readtimer(GFX_MAXTIMERS), 0u) << "slot out of range";
    gfx_starttimer(GFX_MAXTIMERS + 3, 1);  // ignored, no write past the table
    gfx_starttimer(1, 10);
    EXPECT_LE(gfx_readtimer(1), 1u);
    SDL_Delay(35);
    const uint32_t ticks = gfx_readtimer(1);
    EXPECT_GE(ticks, 3u);
    EXPECT_LE(ticks, 50u);
    SDL_Quit();
}

TEST(GfxDisplay, FieldOfViewIsNinetyDegreesAcrossTheWiderSide)
{
    EXPECT_NEAR(gfx_fieldofview(1024, 768), 73.74, 0.005);
    EXPECT_NEAR(gfx_fieldofview(800, 800), 90.0, 0.001);
    EXPECT_DOUBLE_EQ(gfx_fieldofview(600, 800), 90.0);
    EXPECT_DOUBLE_EQ(gfx_fieldofview(0, 0), 90.0);
    EXPECT_FALSE(std::isnan(gfx_fieldofview(0, 10)));
}

TEST(GfxDisplay, ModeListKeepsAcceptableModesOfTheFirstSixteen)
{
    io_init();
    static SDL_Rect rects[20];
    static SDL_Rect *list[21];
    for (int i = 0; i < 20; i++) {
        rects[i].w = static_cast<Uint16>(1000 + i);
        rects[i].h = 700;
        list[i] = &rects[i];
    }
    rects[0].w = 640; rects[0].h = 480;  // refused: both sides small
    rects[1].w = 800; rects[1].h = 480;  // accepted: wide enough
    rects[2].w = 640; rects[2].h = 600;  // accepted: tall enough
    rects[3].w = 799; rects[3].h = 599;  // refused
    list[20] = nullptr;
    EXPECT_EQ(gfx_listmodes(list), 14);
    EXPECT_EQ(gfx_nummodes, 14);
    EXPECT_EQ(gfx_modes[0].width, 800);
    EXPECT_EQ(gfx_modes[1].height, 600);
    EXPECT_EQ(gfx_modes[13].width, 1015);

    // No list, or "any size", writes nothing.
    EXPECT_EQ(gfx_listmodes(nullptr), 0);
    EXPECT_EQ(gfx_listmodes(reinterpret_cast<SDL_Rect **>(-1)), 0);
    io_deinit();

    std::string expected = "800 480\n640 600\n";
    for (int i = 4; i < 16; i++)
        expected += std::to_string(1000 + i) + " 700\n";
    expected += "Detected 14 acceptable videomodes\n";
    const std::string log = readfile("log.txt");
    EXPECT_EQ(log.substr(0, expected.size()), expected);
    EXPECT_EQ(log.find("Detected", expected.size()), std::string::npos);
}

TEST(GfxDisplay, IconMaskSetsOneBitPerOpaquePixelMostSignificantFirst)
{
    io_init();
    SDL_Surface *icon = SDL_CreateRGBSurface(SDL_SWSURFACE, 32, 32, 8, 0, 0, 0, 0);
    ASSERT_NE(icon, nullptr);
    uint8_t *pixels = static_cast<uint8_t *>(icon->pixels);
    for (int y = 0; y < 32; y++)
        memset(pixels + y * icon->pitch, 0, static_cast<size_t>(icon->pitch));
    // Row 0: pixels 0 and 9 opaque; row 31: pixel 31; row 5: pixels 8..15.
    pixels[0] = 3;
    pixels[9] = 255;
    pixels[31 * icon->pitch + 31] = 1;
    memset(pixels + 5 * icon->pitch + 8, 7, 8);
    uint8_t *mask = gfx_iconmask(icon);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(inout.allocs[0].size, 128u);
    EXPECT_EQ(inout.allocs[0].tag, 999);
    uint8_t expected[128] = {};
    expected[0] = 0x80;
    expected[1] = 0x40;
    expected[31 * 4 + 3] = 0x01;
    expected[5 * 4 + 1] = 0xff;
    EXPECT_EQ(memcmp(mask, expected, sizeof(expected)), 0);
    io_free(mask);
    SDL_FreeSurface(icon);

    // A width that is not a multiple of 8 pads each row to whole bytes.
    icon = SDL_CreateRGBSurface(SDL_SWSURFACE, 12, 2, 8, 0, 0, 0, 0);
    pixels = static_cast<uint8_t *>(icon->pixels);
    memset(pixels, 1, static_cast<size_t>(icon->pitch) * 2);
    mask = gfx_iconmask(icon);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask[0], 0xff);
    EXPECT_EQ(mask[1], 0xf0);
    EXPECT_EQ(mask[3], 0xf0);
    io_free(mask);
    SDL_FreeSurface(icon);

    // Only palette icons have a transparent index.
    icon = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 24, 0xff, 0xff00, 0xff0000, 0);
    EXPECT_EQ(gfx_iconmask(icon), nullptr);
    SDL_FreeSurface(icon);
    EXPECT_EQ(inout.curbytes, 0);
    io_deinit();
}

// The program's own video set-up on the test display.
class GfxVideo : public quorrel_videofixture {
protected:
    void SetUp() override { startvideo(320, 240); }
};

static void readmatrices(GLfloat projection[16], GLfloat modelview[16])
{
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
}

TEST_F(GfxVideo, ContextHasAlphaChannelAndDefaultState)
{
    GLint alpha = 0;
    glGetIntegerv(GL_ALPHA_BITS, &alpha);
    EXPECT_EQ(alpha, 8) << "the blob field's threshold needs destination alpha";
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 240);
    EXPECT_TRUE(gfx_caps & GFX_CAPS_BASE);
    const char *extensions = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    EXPECT_EQ((gfx_caps & GFX_CAPS_EDGECLAMP) != 0,
              gfx_findextension(extensions, "GL_EXT_texture_edge_clamp") == 1);
    GLint stencil = 0;
    glGetIntegerv(GL_STENCIL_BITS, &stencil);
    EXPECT_EQ((gfx_caps & GFX_CAPS_STENCIL) != 0, stencil > 0);
}

TEST_F(GfxVideo, Begin2dAndEnd2dLeaveBothMatricesAsTheyWere)
{
    GLfloat projection[16], modelview[16];
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1.0f, 2.0f, 3.0f);
    readmatrices(projection, modelview);

    gfx_begin2d();
    GLfloat inside[16], insidemodel[16];
    readmatrices(inside, insidemodel);
    // Pixel units: x' = 2x/width - 1.
    EXPECT_FLOAT_EQ(inside[0], 2.0f / 320.0f);
    EXPECT_FLOAT_EQ(inside[5], 2.0f / 240.0f);
    EXPECT_FLOAT_EQ(inside[12], -1.0f);
    EXPECT_FLOAT_EQ(insidemodel[12], 0.0f);
    gfx_end2d();

    GLfloat after[16], aftermodel[16];
    readmatrices(after, aftermodel);
    EXPECT_EQ(memcmp(projection, after, sizeof(after)), 0);
    EXPECT_EQ(memcmp(modelview, aftermodel, sizeof(aftermodel)), 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}
