// test_image.cpp -- images, the image list and lazily made textures on a real GL context
#include "glcontext.h"

#include <GL/gl.h>

#include <vector>

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

using gfx_imagelist = quorrel_iofixture;
using gfx_textures = quorrel_glfixture;

TEST_F(gfx_imagelist, NewImageIsZeroedWithOneDefaultFrame)
{
    const int32_t depths[3] = {8, 24, 32};
    const int32_t pitches[3] = {10, 30, 40};
    for (int i = 0; i < 3; i++) {
        gfx_image *image = gfx_createimage("fresh", 10, 7, depths[i], 1);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->pitch, pitches[i]);
        EXPECT_EQ(image->flags, 0);
        EXPECT_EQ(image->uploaded, 0);
        EXPECT_EQ(image->texture, 0u);
        EXPECT_STREQ(image->name, "fresh");
        for (int32_t b = 0; b < image->pitch * image->height; b++)
            ASSERT_EQ(image->pixels[b], 0) << "byte " << b;
        ASSERT_EQ(image->numframes, 1);
        const gfx_frame &f = image->frames[0];
        EXPECT_EQ(f.x, 0);
        EXPECT_EQ(f.y, 0);
        EXPECT_EQ(f.w, 10);
        EXPECT_EQ(f.h, 7);
        EXPECT_EQ(f.aux0, 0);
        EXPECT_EQ(f.aux1, 0);
        EXPECT_EQ(f.s0, 0.0f);
        EXPECT_EQ(f.t0, 1.0f);
        EXPECT_EQ(f.s1, 1.0f);
        EXPECT_EQ(f.t1, 0.0f);
    }
    EXPECT_EQ(gfx_numimages, 3);
}

TEST_F(gfx_imagelist, LongNameIsCutAt63Characters)
{
    const std::string longname(100, 'n');
    gfx_image *image = gfx_createimage(longname.c_str(), 1, 1, 32, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::string(image->name), std::string(63, 'n'));
    gfx_freeimage(image);
}

TEST_F(gfx_imagelist, AbsurdSizesAreRefusedBeforeAllocating)
{
    EXPECT_EQ(gfx_createimage("neg", -1, 10, 32, 1), nullptr);
    EXPECT_EQ(gfx_createimage("neg", 10, -1, 32, 1), nullptr);
    EXPECT_EQ(gfx_createimage("huge", 65536, 65536, 32, 1), nullptr);   // 2^34 bytes
    EXPECT_EQ(gfx_createimage("wide", 0x40000000, 1, 32, 1), nullptr);  // pitch overflows
    EXPECT_EQ(gfx_numimages, 0);
    EXPECT_EQ(inout.curbytes, static_cast<int32_t>(GFX_MAXIMAGES * sizeof(gfx_image *)));
    finish();
    EXPECT_NE(logtext.find("ERROR: gfx_createimage: bad size 65536x65536 at 32 bits for huge\n"),
              std::string::npos) << logtext;
}

TEST_F(gfx_imagelist, FullListRefusesListedImagesOnly)
{
    for (int32_t i = 0; i < GFX_MAXIMAGES; i++)
        ASSERT_NE(gfx_createimage("filler", 1, 1, 8, 1), nullptr) << i;
    const int32_t before = inout.curbytes;
    EXPECT_EQ(gfx_createimage("onetoomany", 1, 1, 8, 1), nullptr);
    EXPECT_EQ(gfx_numimages, GFX_MAXIMAGES);
    EXPECT_EQ(inout.curbytes, before);

    gfx_image *loose = gfx_createimage("unlisted", 1, 1, 8, 0);
    ASSERT_NE(loose, nullptr);
    gfx_freeimage(loose);
    EXPECT_EQ(gfx_numimages, GFX_MAXIMAGES);

    // Room again after one is freed, and the new image takes the last entry.
    gfx_freeimage(gfx_images[0]);
    gfx_image *again = gfx_createimage("again", 1, 1, 8, 1);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(gfx_images[GFX_MAXIMAGES - 1], again);
    finish();
    EXPECT_NE(logtext.find("ERROR: gfx_createimage: image list full, onetoomany not created\n"),
              std::string::npos) << logtext;
}

TEST_F(gfx_imagelist, FreeingKeepsTheListInOrder)
{
    gfx_image *a = gfx_createimage("a", 2, 2, 32, 1);
    gfx_image *b = gfx_createimage("b", 2, 2, 32, 1);
    gfx_image *c = gfx_createimage("c", 2, 2, 32, 1);
    gfx_image *loose = gfx_createimage("loose", 2, 2, 32, 0);
    ASSERT_TRUE(a && b && c && loose);
    EXPECT_EQ(gfx_numimages, 3);

    gfx_freeimage(loose);  // not listed: the list stays as it is
    EXPECT_EQ(gfx_numimages, 3);
    EXPECT_EQ(gfx_images[2], c);

    gfx_freeimage(a);
    EXPECT_EQ(gfx_numimages, 2);
    EXPECT_EQ(gfx_images[0], b);
    EXPECT_EQ(gfx_images[1], c);
    EXPECT_EQ(gfx_images[2], nullptr);

    gfx_freeimage(nullptr);
    EXPECT_EQ(gfx_numimages, 2);

    gfx_freeallimages();
    EXPECT_EQ(gfx_numimages, 0);
    EXPECT_EQ(gfx_images[0], nullptr);
    EXPECT_EQ(inout.curbytes, static_cast<int32_t>(GFX_MAXIMAGES * sizeof(gfx_image *)));
}

// Reads level 0 of the bound texture back as tightly packed bytes.
static std::vector<uint8_t> gfx_readtexture(GLenum format, int32_t bytes)
{
    std::vector<uint8_t> data(bytes + 64, 0xEE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, data.data());
    return data;
}

static GLint gfx_boundname()
{
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

TEST_F(gfx_textures, TextureIsMadeOnFirstBindFromUnpaddedRows)
{
    // Rows of 30 and 6 bytes, not multiples of GL's default unpack alignment of 4:
    // one single-level texture and one mipmapped (a power of two, so GLU keeps its size).
    gfx_image *single = gfx_createimage("rgb10", 10, 3, 24, 1);
    gfx_image *mipped = gfx_createimage("rgb2", 2, 4, 24, 1);
    ASSERT_TRUE(single && mipped);
    single->flags = GFX_NOMIP;
    for (gfx_image *image : {single, mipped}) {
        for (int32_t b = 0; b < image->pitch * image->height; b++)
            image->pixels[b] = static_cast<uint8_t>(b * 7 + 1);
        EXPECT_EQ(image->uploaded, 0);
        EXPECT_EQ(image->texture, 0u);

        gfx_bindimage(image);
        EXPECT_EQ(image->uploaded, 1);
        ASSERT_NE(image->texture, 0u);
        EXPECT_TRUE(glIsTexture(image->texture));
        EXPECT_EQ(gfx_boundtexture, image->texture);
        EXPECT_EQ(gfx_boundname(), static_cast<GLint>(image->texture));

        const int32_t bytes = image->pitch * image->height;
        const std::vector<uint8_t> back = gfx_readtexture(GL_RGB, bytes);
        for (int32_t b = 0; b < bytes; b++)
            ASSERT_EQ(back[b], image->pixels[b]) << image->name << " byte " << b;
    }
    GLint level1 = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
    EXPECT_EQ(level1, 1);  // the mipmap chain was built
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(gfx_textures, FlagsChooseFiltersAndWrapModes)
{
    struct expected {
        int32_t flags;
        GLint min, mag, wrap;
    };
    const expected table[8] = {
        {0, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, GL_CLAMP_TO_EDGE},
        {GFX_REPEAT, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, GL_REPEAT},
        {GFX_NOMIP, GL_LINEAR, GL_LINEAR, GL_CLAMP_TO_EDGE},
        {GFX_NOMIP | GFX_REPEAT, GL_LINEAR, GL_LINEAR, GL_REPEAT},
        {GFX_NOFILTER, GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST, GL_CLAMP_TO_EDGE},
        {GFX_NOFILTER | GFX_REPEAT, GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST, GL_REPEAT},
        {GFX_NOFILTER | GFX_NOMIP, GL_NEAREST, GL_NEAREST, GL_CLAMP_TO_EDGE},
        {GFX_NOFILTER | GFX_NOMIP | GFX_REPEAT, GL_NEAREST, GL_NEAREST, GL_REPEAT},
    };
    for (const expected &e : table) {
        gfx_image *image = gfx_createimage("flags", 4, 4, 32, 1);
        ASSERT_NE(image, nullptr);
        image->flags = e.flags;
        gfx_bindimage(image);
        GLint min = 0, mag = 0, wraps = 0, wrapt = 0, level1 = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wraps);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapt);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
        EXPECT_EQ(min, e.min) << "flags " << e.flags;
        EXPECT_EQ(mag, e.mag) << "flags " << e.flags;
        EXPECT_EQ(wraps, e.wrap) << "flags " << e.flags;
        EXPECT_EQ(wrapt, e.wrap) << "flags " << e.flags;
        EXPECT_EQ(level1, (e.flags & GFX_NOMIP) ? 0 : 2) << "flags " << e.flags;
    }
}

TEST_F(gfx_textures, SecondBindIssuesNoGlCall)
{
    gfx_image *image = gfx_createimage("once", 4, 4, 32, 1);
    ASSERT_NE(image, nullptr);
    gfx_bindimage(image);
    const uint32_t texture = image->texture;
    // Unbind behind the code's back: a second bind call would show up as the binding.
    glBindTexture(GL_TEXTURE_2D, 0);
    image->lastuse = -1000;
    gfx_bindimage(image);
    EXPECT_EQ(gfx_boundname(), 0);
    EXPECT_EQ(image->texture, texture);
    EXPECT_GE(image->lastuse, 0);  // refreshed all the same

    // Another image's texture in between does make the next bind real.
    gfx_image *other = gfx_createimage("other", 4, 4, 32, 1);
    gfx_bindimage(other);
    gfx_bindimage(image);
    EXPECT_EQ(gfx_boundname(), static_cast<GLint>(texture));

    // A null image changes nothing.
    glBindTexture(GL_TEXTURE_2D, 0);
    const uint32_t bound = gfx_boundtexture;
    gfx_bindimage(nullptr);
    EXPECT_EQ(gfx_uploadimage(nullptr), 0u);
    EXPECT_EQ(gfx_boundtexture, bound);
    EXPECT_EQ(gfx_boundname(), 0);
}

TEST_F(gfx_textures, ReleasedTexturesAreMadeAgainFromThePixels)
{
    gfx_image *a = gfx_createimage("a", 2, 2, 32, 1);
    gfx_image *b = gfx_createimage("b", 2, 2, 8, 1);
    ASSERT_TRUE(a && b);
    for (int32_t i = 0; i < 16; i++)
        a->pixels[i] = static_cast<uint8_t>(200 - i);
    gfx_bindimage(a);
    gfx_bindimage(b);
    const uint32_t olda = a->texture;

    gfx_releasealltextures();
    EXPECT_EQ(a->uploaded, 0);
    EXPECT_EQ(a->texture, 0u);
    EXPECT_EQ(b->uploaded, 0);
    EXPECT_FALSE(glIsTexture(olda));
    gfx_releasetexture(a);  // a second release does nothing
    EXPECT_EQ(a->uploaded, 0);

    gfx_bindimage(a);
    ASSERT_EQ(a->uploaded, 1);
    EXPECT_TRUE(glIsTexture(a->texture));
    const std::vector<uint8_t> back = gfx_readtexture(GL_RGBA, 16);
    for (int32_t i = 0; i < 16; i++)
        EXPECT_EQ(back[i], a->pixels[i]) << "byte " << i;
}

TEST_F(gfx_textures, UpdateSendsLevelZeroOrMakesTheTexture)
{
    gfx_image *image = gfx_createimage("upd", 2, 2, 24, 1);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(gfx_updateimage(image), 0u);  // no texture yet: made whole, with mipmaps
    EXPECT_EQ(image->uploaded, 1);
    GLint level1 = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
    EXPECT_EQ(level1, 1);

    for (int32_t i = 0; i < 12; i++)
        image->pixels[i] = static_cast<uint8_t>(i + 100);
    image->lastuse = 12345;
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(gfx_updateimage(image), image->texture);
    EXPECT_EQ(gfx_boundname(), static_cast<GLint>(image->texture));
    EXPECT_EQ(image->lastuse, 12345);
    const std::vector<uint8_t> back = gfx_readtexture(GL_RGB, 12);
    for (int32_t i = 0; i < 12; i++)
        EXPECT_EQ(back[i], image->pixels[i]) << "byte " << i;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(gfx_textures, OtherDepthsGetANameAndParametersButNoData)
{
    gfx_image *image = gfx_createimage("sixteen", 4, 4, 16, 1);
    ASSERT_NE(image, nullptr);
    image->flags = GFX_REPEAT;
    gfx_bindimage(image);
    EXPECT_TRUE(glIsTexture(image->texture));
    GLint width = -1, wrap = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(wrap, GL_REPEAT);
}

TEST_F(gfx_textures, SweepReleasesOnlyAfterMoreThan50Ticks)
{
    gfx_starttimer(0, 100000000);  // the clock stays at 0, so the sweep looks at entry 0
    ASSERT_EQ(gfx_readtimer(0), 0u);
    gfx_image *first = gfx_createimage("first", 2, 2, 32, 1);
    gfx_image *second = gfx_createimage("second", 2, 2, 32, 1);
    ASSERT_TRUE(first && second);
    gfx_bindimage(first);
    gfx_bindimage(second);

    first->lastuse = -50;
    second->lastuse = -1000;  // idle, but not in the slot the clock points at
    gfx_sweeptextures();
    EXPECT_EQ(first->uploaded, 1);
    EXPECT_EQ(second->uploaded, 1);

    first->lastuse = -51;
    gfx_sweeptextures();
    EXPECT_EQ(first->uploaded, 0);
    EXPECT_EQ(second->uploaded, 1);

    // The difference is read as signed: a stamp half the clock's range away is
    // "in the future" and does not count as idle.
    gfx_bindimage(first);
    first->lastuse = INT32_MAX;
    gfx_sweeptextures();
    EXPECT_EQ(first->uploaded, 1);
}
