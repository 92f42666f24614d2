// main.cpp -- a user's program built against the installed headers alone, beside the shipped examples: io's
// allocator and a TGA file from gfx. It prints what each library gave back; the install test builds it four ways,
// runs each and compares.
#include "gfx/gfx.h"
#include "io/io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

int main()
{
    if (!io_init()) {
        printf("io: io_init could not open log.txt\n");
        return 1;
    }
    // A zero-filled block from the accounting allocator, counted while held.
    uint8_t* block = static_cast<uint8_t*>(io_calloc(100, 1, 7));
    const long zeros = block ? std::count(block, block + 100, 0) : -1;
    const int32_t held = inout.curbytes;
    io_free(block);
    printf("io: %ld of 100 bytes zeroed, held %d, after io_free %d\n", zeros, held, inout.curbytes);
    // An unlisted 3x2 32-bit image written as TGA, whose first pixel must come out as B, G, R, A; then the window
    // centring, which has no window to move.
    gfx_image* image = gfx_createimage("user", 3, 2, 32, 0);
    if (image) {
        memcpy(image->pixels, "\1\2\3\4", 4);
        gfx_writetga("user.tga", image);
        gfx_freeimage(image);
    }
    uint8_t file[64] = {};
    FILE* in = fopen("user.tga", "rb");
    const size_t bytes = in ? fread(file, 1, sizeof(file), in) : 0;
    if (in)
        fclose(in);
    printf("gfx: user.tga %zu bytes, type %d, %dx%d at %d bits, first pixel %d %d %d %d\n", bytes, file[2],
           file[12] | file[13] << 8, file[14] | file[15] << 8, file[16], file[18], file[19], file[20], file[21]);
    printf("gfx: gfx_centerwindow without a window %d\n", gfx_centerwindow());
    io_deinit();
    return block && image && bytes >= 22 ? 0 : 1;
}
