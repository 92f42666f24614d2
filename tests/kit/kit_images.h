// kit_images.h -- the test kit's picture part: small BMP, TGA and PNG files written byte by byte for the loader tests
// and the fuzz seeds
#ifndef TESTS_KIT_KIT_IMAGES_H
#define TESTS_KIT_KIT_IMAGES_H

#include "tests/kit/kit.h"

// A picture, top row first, each pixel `channels` bytes in the file's order (B, G, R(, A) for BMP and TGA).
struct kit_picture {
    int32_t width, height, channels;
    std::vector<uint8_t> bytes;

    const uint8_t* pixel(int32_t x, int32_t y) const { return &bytes[(static_cast<size_t>(y) * width + x) * channels]; }
};

// A picture whose every byte differs from its neighbours; different seeds give different pictures.
inline kit_picture kit_makepicture(int32_t width, int32_t height, int32_t channels, int32_t seed)
{
    kit_picture p {width, height, channels, {}};
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < channels; c++)
                p.bytes.push_back(static_cast<uint8_t>(seed + x * 7 + y * 31 + c * 3 + 1));
    return p;
}

// An uncompressed TGA, type 2 (3 or 4 channels) or 3 (grey); topdown sets the origin bit, else rows go bottom first.
inline bool kit_writetga(const std::string& name, const kit_picture& p, bool topdown)
{
    std::vector<uint8_t> out = {0, 0, static_cast<uint8_t>(p.channels == 1 ? 3 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    kit_put(out, p.width, 2), kit_put(out, p.height, 2);
    out.insert(out.end(), {uint8_t(p.channels * 8), uint8_t((topdown ? 0x20 : 0) | (p.channels == 4 ? 8 : 0))});
    for (int32_t row = 0; row < p.height; row++) {
        const int32_t y = topdown ? row : p.height - 1 - row;
        out.insert(out.end(), p.pixel(0, y), p.pixel(0, y) + p.width * p.channels);
    }
    return kit_writefile(name, out);
}

// An uncompressed BMP, rows bottom first, padded to 4 bytes; one channel as indices into a grey palette, two as 16 bits.
inline bool kit_writebmp(const std::string& name, const kit_picture& p)
{
    const uint32_t bits = p.channels * 8, rowbytes = (p.width * p.channels + 3) & ~3u, palette = bits == 8 ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + palette;
    std::vector<uint8_t> out = {'B', 'M'};
    for (uint32_t v : {offset + rowbytes * p.height, 0u, offset, 40u, uint32_t(p.width), uint32_t(p.height)})
        kit_put(out, v, 4);
    kit_put(out, 1, 2), kit_put(out, bits, 2);
    for (uint32_t v : {0u /* BI_RGB */, rowbytes * p.height, 2835u, 2835u, bits == 8 ? 256u : 0u, 0u})
        kit_put(out, v, 4);
    for (uint32_t i = 0; i < palette / 4; i++)
        out.insert(out.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    for (int32_t y = p.height - 1; y >= 0; y--) {
        out.insert(out.end(), p.pixel(0, y), p.pixel(0, y) + p.width * p.channels);
        out.resize(out.size() + rowbytes - p.width * p.channels, 0);
    }
    return kit_writefile(name, out);
}

// A PNG of 8-bit grey (1 channel), RGB (3) or RGBA (4), filter 0, in stored deflate blocks.
inline bool kit_writepng(const std::string& name, const kit_picture& p)
{
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header, raw;
    const auto pngchunk = [](std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
        kit_put(out, static_cast<uint32_t>(data.size()), 4, true);
        const size_t start = out.size();
        out.insert(out.end(), type, type + 4), out.insert(out.end(), data.begin(), data.end());
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t i = start; i < out.size(); i++)
            for (int k = (crc ^= out[i], 0); k < 8; k++)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        kit_put(out, crc ^ 0xFFFFFFFFu, 4, true);
    };
    kit_put(header, p.width, 4, true), kit_put(header, p.height, 4, true);
    header.insert(header.end(), {8, uint8_t(p.channels == 1 ? 0 : (p.channels == 3 ? 2 : 6)), 0, 0, 0});
    pngchunk(out, "IHDR", header);
    for (int32_t y = 0; y < p.height; y++)
        raw.push_back(0), raw.insert(raw.end(), p.pixel(0, y), p.pixel(0, y) + p.width * p.channels);
    std::vector<uint8_t> zlib = {0x78, 0x01};
    for (size_t at = 0, first = 1; first || at < raw.size(); first = 0) {
        const size_t size = std::min<size_t>(raw.size() - at, 65535);
        zlib.push_back(at + size == raw.size() ? 1 : 0);
        kit_put(zlib, static_cast<uint32_t>(size), 2);
        kit_put(zlib, static_cast<uint32_t>(~size & 0xFFFF), 2);
        zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + size);
        at += size;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw)
        a = (a + byte) % 65521, b = (b + a) % 65521;
    kit_put(zlib, (b << 16) | a, 4, true);
    pngchunk(out, "IDAT", zlib);
    pngchunk(out, "IEND", {});
    return kit_writefile(name, out);
}

#endif
