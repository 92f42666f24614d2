// fuzz_tga.cpp -- fuzz target: the TGA writer on images of any size and depth;
// what it writes must read back as the same picture, what it cannot describe it
// must not write, and the image must be unchanged afterwards.
#include "fuzz_common.h"
#include "gfx/gfx.h"
#include "io/io.h"

#include <cstring>
#include <vector>

#define FUZZ_MAXPIXELBYTES (1 << 20)   // larger images are not made

static const int32_t fuzz_depths[4] = {24, 32, 8, 16};

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    return 0;
}

static std::vector<uint8_t> fuzz_readfile(const char *name)
{
    std::vector<uint8_t> bytes;
    FILE *file = fopen(name, "rb");
    if (!file)
        return bytes;
    int c;
    while ((c = fgetc(file)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    fclose(file);
    return bytes;
}

static int32_t fuzz_signed24(uint32_t v)
{
    return (v & 0x800000) ? static_cast<int32_t>(v | 0xFF000000u) : static_cast<int32_t>(v);
}

// Width and height (24-bit signed each), a depth selector, then pixel bytes
// (repeated to fill the image).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_reader in = {data, size};
    const int32_t width = fuzz_signed24(in.take(3));
    const int32_t height = fuzz_signed24(in.take(3));
    const int32_t bpp = fuzz_depths[in.take(1) & 3];
    remove("out.tga");

    io_init();
    const bool describable = (bpp == 24 || bpp == 32) && width >= 0 && height >= 0 && width <= 65535 &&
                             height <= 65535;
    const int64_t bytes = static_cast<int64_t>(width) * height * (bpp / 8);
    if (width < 0 || height < 0 || bytes > FUZZ_MAXPIXELBYTES) {
        // A record no allocation could back: a one-byte buffer, which the writer
        // must leave alone when it cannot describe the size.
        if (!describable) {
            uint8_t pixel = 0x5A;
            gfx_image record;
            memset(&record, 0, sizeof(record));
            record.width = width;
            record.height = height;
            record.bpp = bpp;
            record.pitch = static_cast<int32_t>(static_cast<uint32_t>(width) * static_cast<uint32_t>(bpp / 8));
            record.pixels = &pixel;
            gfx_writetga("out.tga", &record);
            FUZZ_CHECK(fuzz_readfile("out.tga").empty(), "wrote a file for %dx%d at %d bits", width, height, bpp);
            FUZZ_CHECK(pixel == 0x5A, "changed the pixels");
        }
        io_deinit();
        return 0;
    }

    gfx_image *image = gfx_createimage("fuzz", width, height, bpp, 0);
    FUZZ_CHECK(image != nullptr, "createimage %dx%d at %d", width, height, bpp);
    for (int64_t i = 0; i < bytes; i++)
        image->pixels[i] = in.size > 0 ? in.data[i % static_cast<int64_t>(in.size)] : static_cast<uint8_t>(i);
    const std::vector<uint8_t> before(image->pixels, image->pixels + bytes);
    gfx_writetga("out.tga", image);
    FUZZ_CHECK(bytes == 0 || memcmp(before.data(), image->pixels, static_cast<size_t>(bytes)) == 0,
               "image changed");

    const std::vector<uint8_t> file = fuzz_readfile("out.tga");
    if (!describable) {
        FUZZ_CHECK(file.empty(), "wrote a file for %d bits", bpp);
    } else {
        FUZZ_CHECK(static_cast<int64_t>(file.size()) == 18 + bytes, "file of %zu bytes", file.size());
        FUZZ_CHECK(file[2] == 2 && file[16] == bpp, "header type %d depth %d", file[2], file[16]);
        FUZZ_CHECK((file[12] | (file[13] << 8)) == width && (file[14] | (file[15] << 8)) == height,
                   "header size");
        const int32_t step = bpp / 8;
        for (int64_t i = 0; i < bytes; i++) {
            const int64_t within = i % step;
            const int64_t from = within == 0 ? i + 2 : within == 2 ? i - 2 : i;
            FUZZ_CHECK(file[18 + i] == before[from], "byte %lld", static_cast<long long>(i));
        }
    }
    gfx_freeimage(image);
    FUZZ_CHECK(inout.curbytes == 0, "%d bytes left allocated", inout.curbytes);
    io_deinit();
    return 0;
}
