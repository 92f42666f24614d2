// fuzz_asset.cpp -- fuzz target: an image asset loaded from any picture bytes, any
// descriptor text and any alpha image; the result must be a consistent image and
// nothing may be left allocated afterwards.
#include "fuzz_common.h"
#include "gfx/gfx.h"
#include "io/io.h"

#include <cstring>

static const char *const fuzz_kinds[4] = {"tga", "bmp", "png", "tga"};

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    return 0;
}

static void fuzz_checkimage(const gfx_image *image)
{
    FUZZ_CHECK(image->bpp == 8 || image->bpp == 24 || image->bpp == 32, "depth %d", image->bpp);
    FUZZ_CHECK(image->width >= 0 && image->height >= 0, "size %dx%d", image->width, image->height);
    FUZZ_CHECK(image->pitch == image->width * (image->bpp / 8), "pitch %d", image->pitch);
    FUZZ_CHECK(image->numframes >= 1 && image->frames != nullptr, "frames %d", image->numframes);
    FUZZ_CHECK(strlen(image->name) < GFX_NAMELEN, "name");
    // Touch every pixel byte and frame so that a short buffer shows.
    uint32_t sum = 0;
    const size_t bytes = static_cast<size_t>(image->pitch) * image->height;
    for (size_t i = 0; i < bytes; i++)
        sum += image->pixels[i];
    for (int32_t i = 0; i < image->numframes; i++)
        sum += static_cast<uint32_t>(image->frames[i].w);
    (void)sum;
}

// First byte: picture kind (bits 0-1) and alpha kind (bits 2-3); then the
// descriptor and alpha lengths (16 bits each), the descriptor, the alpha image and
// the picture. A descriptor of length 0 means no ".ini" file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_reader in = {data, size};
    const uint32_t kinds = in.take(1);
    const uint32_t desclen = in.take(2);
    const uint32_t alphalen = in.take(2);
    size_t got;
    const uint8_t *desc = in.block(desclen, &got);
    const size_t descsize = got;
    const uint8_t *alpha = in.block(alphalen, &got);
    const size_t alphasize = got;

    char name[16], alphaname[16];
    snprintf(name, sizeof(name), "a.%s", fuzz_kinds[kinds & 3]);
    snprintf(alphaname, sizeof(alphaname), "m.%s", fuzz_kinds[(kinds >> 2) & 3]);
    remove("a.ini");
    remove("m.tga");
    remove("m.bmp");
    remove("m.png");
    remove("a.bmp");
    remove("a.png");
    remove("a.tga");
    fuzz_writefile(name, in.data, in.size);
    if (descsize > 0)
        fuzz_writefile("a.ini", desc, descsize);
    if (alphasize > 0)
        fuzz_writefile(alphaname, alpha, alphasize);

    io_init();
    gfx_numimages = 0;
    gfx_images = static_cast<gfx_image **>(io_calloc(GFX_MAXIMAGES, sizeof(gfx_image *), 201));
    FUZZ_CHECK(gfx_images != nullptr, "image list");
    gfx_image *image = gfx_loadasset(name, 1);
    if (image) {
        fuzz_checkimage(image);
        FUZZ_CHECK(gfx_numimages == 1 && gfx_images[0] == image, "listed once");
        FUZZ_CHECK(gfx_getasset("%s", name) == image, "found again by its name");
    } else {
        FUZZ_CHECK(gfx_numimages == 0, "a refused asset stays unlisted");
    }
    gfx_freeallimages();
    io_free(gfx_images);
    gfx_images = nullptr;
    FUZZ_CHECK(inout.curbytes == 0, "%d bytes left allocated", inout.curbytes);
    io_deinit();
    return 0;
}
