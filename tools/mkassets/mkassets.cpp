// mkassets.cpp -- writes the demo's own picture files into a folder:
//   blobs.tga  256x256 32-bit uncompressed TGA, a 2x2 atlas of 128x128 grey blob
//              sprites whose alpha is a smooth shape, full at the centre and zero at
//              the edge, and whose grey level follows it;
//   icon.bmp   32x32 8-bit palette BMP (BI_RGB), index 0 the transparent background.
//   usage: mkassets <folder>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum {
    MK_ATLASSIZE = 256,  // atlas width and height, pixels
    MK_SPRITESIZE = 128, // sprite width and height, pixels
    MK_ICONSIZE = 32     // icon width and height, pixels
};

static void mk_put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value & 255));
    out.push_back(static_cast<uint8_t>((value >> 8) & 255));
}

static void mk_put32(std::vector<uint8_t>& out, uint32_t value)
{
    mk_put16(out, value & 0xFFFF);
    mk_put16(out, value >> 16);
}

static bool mk_save(const std::string& path, const std::vector<uint8_t>& data)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        fprintf(stderr, "mkassets: cannot create %s\n", path.c_str());
        return false;
    }
    const size_t done = fwrite(data.data(), 1, data.size(), file);
    if (fclose(file) != 0 || done != data.size()) {
        fprintf(stderr, "mkassets: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// The radius of a sprite's outline in the direction angle, as a fraction of the
// largest radius that stays inside the sprite. Four shapes so the field looks alive.
static double mk_outline(int32_t sprite, double angle)
{
    switch (sprite) {
    case 0: // round
        return 0.92;
    case 1: // an egg leaning to one side
        return 0.78 + 0.14 * cos(angle - 0.6);
    case 2: // three soft lobes
        return 0.80 + 0.15 * cos(3.0 * angle);
    default: // a squashed pebble
        return 0.94 / sqrt(1.0 + 0.8 * sin(angle + 0.4) * sin(angle + 0.4));
    }
}

// Alpha of a sprite pixel from its offset to the centre in units of the half size:
// 1 at the centre, falling smoothly to 0 at the outline and staying 0 beyond it.
static double mk_blobalpha(int32_t sprite, double dx, double dy)
{
    const double r = sqrt(dx * dx + dy * dy) / mk_outline(sprite, atan2(dy, dx));
    if (r >= 1.0)
        return 0.0;
    const double fall = 1.0 - r * r;
    return fall * fall;
}

static uint8_t mk_byte(double value)
{
    if (value <= 0.0)
        return 0;
    if (value >= 1.0)
        return 255;
    return static_cast<uint8_t>(lround(value * 255.0));
}

// The file's rows run bottom first, as the texture's t does: sprite s lies in column
// s % 2 and row s / 2 counted from the bottom, so sprite 0 covers s 0..0.5, t 0..0.5,
// sprite 1 s 0.5..1, t 0..0.5, sprite 2 s 0..0.5, t 0.5..1 and sprite 3 the rest.
static bool mk_writeblobs(const std::string& path)
{
    std::vector<uint8_t> out = {0, 0, 2, 0, 0, 0, 0, 0}; // true colour, no colour map
    mk_put16(out, 0);                                    // x origin
    mk_put16(out, 0);                                    // y origin
    mk_put16(out, MK_ATLASSIZE);
    mk_put16(out, MK_ATLASSIZE);
    out.push_back(32);
    out.push_back(8); // 8 alpha bits, rows bottom first
    const double half = MK_SPRITESIZE / 2.0;
    for (int32_t row = 0; row < MK_ATLASSIZE; row++) {
        for (int32_t x = 0; x < MK_ATLASSIZE; x++) {
            const int32_t sprite = (row / MK_SPRITESIZE) * 2 + x / MK_SPRITESIZE;
            const double dx = ((x % MK_SPRITESIZE) + 0.5 - half) / half;
            const double dy = ((row % MK_SPRITESIZE) + 0.5 - half) / half;
            // Grey, and no brighter than the sprite is opaque: the field adds every
            // sprite's whole square, so colour outside the shape would show as
            // patches wherever other sprites lift the alpha past the threshold.
            const double alpha = mk_blobalpha(sprite, dx, dy);
            const uint8_t grey = mk_byte((0.7 + 0.3 * alpha) * alpha);
            out.push_back(grey); // B, G, R, A
            out.push_back(grey);
            out.push_back(grey);
            out.push_back(mk_byte(alpha));
        }
    }
    return mk_save(path, out);
}

// The icon's palette index at a pixel (rows from the top): a ring around a disc
// with a highlight, on background 0.
static uint8_t mk_iconindex(int32_t x, int32_t y)
{
    const double dx = x + 0.5 - MK_ICONSIZE / 2.0;
    const double dy = y + 0.5 - MK_ICONSIZE / 2.0;
    const double r = sqrt(dx * dx + dy * dy);
    const double hx = dx + 4.0, hy = dy + 4.0;
    if (r > 14.5)
        return 0;
    if (r > 12.0)
        return 1;
    if (hx * hx + hy * hy < 12.0)
        return 3;
    return 2;
}

static bool mk_writeicon(const std::string& path)
{
    static const uint8_t palette[4][3] = {
        // R, G, B
        {0, 0, 0},
        {20, 60, 140},
        {70, 170, 255},
        {235, 250, 255},
    };
    const uint32_t palettebytes = 256 * 4;
    const uint32_t offset = 14 + 40 + palettebytes;
    const uint32_t imagebytes = MK_ICONSIZE * MK_ICONSIZE; // rows of 32 bytes need no padding
    std::vector<uint8_t> out = {'B', 'M'};
    mk_put32(out, offset + imagebytes);
    mk_put32(out, 0);
    mk_put32(out, offset);
    mk_put32(out, 40); // BITMAPINFOHEADER
    mk_put32(out, MK_ICONSIZE);
    mk_put32(out, MK_ICONSIZE); // positive: rows bottom first
    mk_put16(out, 1);           // planes
    mk_put16(out, 8);           // bits per pixel
    mk_put32(out, 0);           // BI_RGB
    mk_put32(out, imagebytes);
    mk_put32(out, 2835); // 72 dpi
    mk_put32(out, 2835);
    mk_put32(out, 256); // colours used
    mk_put32(out, 0);
    for (uint32_t i = 0; i < 256; i++) {
        const uint8_t* rgb = palette[i < 4 ? i : 0];
        out.push_back(rgb[2]); // B, G, R, reserved
        out.push_back(rgb[1]);
        out.push_back(rgb[0]);
        out.push_back(0);
    }
    for (int32_t y = MK_ICONSIZE - 1; y >= 0; y--)
        for (int32_t x = 0; x < MK_ICONSIZE; x++)
            out.push_back(mk_iconindex(x, y));
    return mk_save(path, out);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mkassets <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool blobs = mk_writeblobs(folder + "/blobs.tga");
    const bool icon = mk_writeicon(folder + "/icon.bmp");
    return (blobs && icon) ? 0 : 1;
}
