// test_display.cpp -- extension search, tick timer, mode list, icon mask and the GL state after set-up
#include "tests/kit/kit_gl.h"

#include <GL/gl.h>

TEST(GfxDisplay, ExtensionSearchMatchesWholeWordsOnly)
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
}

TEST(GfxDisplay, TicksBetweenSurviveTheCounterWrap)
{
    EXPECT_EQ(gfx_ticksbetween(0xfffffff0u, 0x10u, 10), 3u); // SDL's counter wrapped
    EXPECT_EQ(gfx_ticksbetween(5, 500000, 0), 0u);           // a slot never started
}

// A square window sees 90 degrees; 4:3 is checked in the projection after set-up.
TEST(GfxDisplay, FieldOfViewOfASquareWindow)
{
    EXPECT_NEAR(gfx_fieldofview(800, 800), 90.0, 0.001);
}

// The mode list's log lines, with io only.
TEST(GfxDisplay, ModeListKeepsTheFirstSixteenUnlessBothSidesAreSmall)
{
    kit_tempdir dir {true};
    io_init();
    // Entries 16 to 19 are never examined; 640x480 and 799x599 are refused.
    SDL_Rect rects[20], *list[21] = {};
    const uint16_t sizes[6][2] = {{640, 480}, {800, 480}, {640, 600}, {799, 599}, {1024, 768}, {1600, 1200}};
    for (int i = 0; i < 20; i++)
        rects[i] = {0, 0, sizes[std::min(i, 4) + (i >= 16)][0], sizes[std::min(i, 4) + (i >= 16)][1]}, list[i] = &rects[i];
    EXPECT_EQ(gfx_listmodes(list), 14);
    EXPECT_EQ(gfx_nummodes, 14);
    EXPECT_TRUE(gfx_modes[1].width == 640 && gfx_modes[1].height == 600 && gfx_modes[13].width == 1024);
    // SDL's answers "no modes" and "any size": no lines at all.
    EXPECT_EQ(gfx_listmodes(nullptr) + gfx_listmodes(reinterpret_cast<SDL_Rect**>(-1)), 0);
    io_deinit();
    std::string expected = "800 480\n640 600\n";
    for (int i = 0; i < 12; i++)
        expected += "1024 768\n";
    expected += "Detected 14 acceptable videomodes\nMax bytes allocated during run: 0\n";
    EXPECT_EQ(kit_readfile("log.txt").substr(0, expected.size()), expected);
}

// One bit a pixel, most significant first, rows padded to whole bytes, in a single block of io's.
TEST(GfxDisplay, IconMaskSetsOneBitPerOpaquePixel)
{
    kit_tempdir dir {true};
    io_init();

    // Most significant bit first, rows padded to whole bytes.
    SDL_Surface* icon = SDL_CreateRGBSurface(SDL_SWSURFACE, 12, 3, 8, 0, 0, 0, 0);
    ASSERT_NE(icon, nullptr);
    uint8_t* pixels = static_cast<uint8_t*>(icon->pixels);
    memset(pixels, 0, static_cast<size_t>(icon->pitch) * 3);
    pixels[0] = 3, pixels[9] = 255;
    memset(pixels + 2 * icon->pitch + 2, 1, 10);
    uint8_t* mask = gfx_iconmask(icon);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(mask, mask + 6), std::vector<uint8_t>({0x80, 0x40, 0, 0, 0x3f, 0xf0}));
    io_free(mask);
    SDL_FreeSurface(icon);
    // Only palette icons have a transparent index; one bit a pixel (a damaged file can make it) has rows too short.
    for (SDL_Surface* other : {SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 24, 0xff, 0xff00, 0xff0000, 0),
                               SDL_CreateRGBSurface(SDL_SWSURFACE, 32, 32, 1, 0, 0, 0, 0)}) {
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(gfx_iconmask(other), nullptr) << int(other->format->BitsPerPixel);
        SDL_FreeSurface(other);
    }
    EXPECT_EQ(inout.curbytes, 0);
    io_deinit();
    EXPECT_EQ(kit_readfile("log.txt").substr(0, 34), "Max bytes allocated during run: 6\n");
}

using GfxVideo = kit_glfixture;

TEST_F(GfxVideo, SetUpLeavesTheDefaultGlStateCaptionAndHiddenCursor)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(320, 240));
    EXPECT_EQ(gfx_videoset, 1);
    for (GLenum cap : {GL_TEXTURE_2D, GL_DEPTH_TEST, GL_BLEND, GL_CULL_FACE})
        EXPECT_TRUE(glIsEnabled(cap)) << cap;
    const std::pair<GLenum, std::vector<GLint>> integers[] = {
        {GL_VIEWPORT, {0, 0, 320, 240}}, {GL_DEPTH_FUNC, {GL_LESS}}, {GL_ALPHA_BITS, {8}}}; // alpha: the blob threshold
    for (const auto& e : integers) {
        std::vector<GLint> got(4, -1);
        glGetIntegerv(e.first, got.data());
        got.resize(e.second.size());
        EXPECT_EQ(got, e.second) << e.first;
    }
    // A perspective of about 73.74 degrees, aspect 4:3, planes 2 and 20000.
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    const double f = 1.0 / tan(73.7398 * 3.14159265 / 360.0);
    EXPECT_NEAR(projection[5], f, 1e-4);
    EXPECT_NEAR(projection[0], f * 240.0 / 320.0, 1e-4);
    EXPECT_NEAR(projection[10], -20002.0 / 19998.0, 1e-5);
    EXPECT_NEAR(projection[14], -80000.0 / 19998.0, 1e-4);
    EXPECT_EQ(projection[11], -1.0f);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    char *title = nullptr, *icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    EXPECT_EQ(std::string(title) + "|" + icon, "Quorrel project|Quorrel project");
}

// gfx_end2d restores both matrices that gfx_begin2d replaced, and the modelview mode set-up chose.
TEST_F(GfxVideo, End2dRestoresWhatBegin2dReplaced)
{
    ASSERT_NO_FATAL_FAILURE(startvideo(320, 240));
    glTranslatef(1.0f, 2.0f, 3.0f);
    GLfloat before[32], after[32];
    glGetFloatv(GL_PROJECTION_MATRIX, before);
    glGetFloatv(GL_MODELVIEW_MATRIX, before + 16);
    gfx_begin2d();
    gfx_end2d();
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    glGetFloatv(GL_MODELVIEW_MATRIX, after + 16);
    EXPECT_EQ(memcmp(before, after, sizeof(after)), 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}
