// imagefiles.h -- writes small BMP, TGA and PNG files byte by byte for the loader tests
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A picture given top row first, each pixel `channels` bytes in the order the
// file holds them (B, G, R(, A) for BMP and TGA; R, G, B(, A) or grey for PNG).
struct quorrel_picture {
    int32_t width;
    int32_t height;
    int32_t channels;
    std::vector<uint8_t> bytes;  // width * height * channels, top row first

    const uint8_t *pixel(int32_t x, int32_t y) const
    {
        return &bytes[(static_cast<size_t>(y) * width + x) * channels];
    }
};

// A picture whose every byte differs from its neighbours, seeded so that two
// pictures made with different seeds differ too.
inline quorrel_picture quorrel_makepicture(int32_t width, int32_t height, int32_t channels, int32_t seed)
{
    quorrel_picture p{width, height, channels, {}};
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < channels; c++)
                p.bytes.push_back(static_cast<uint8_t>(seed + x * 7 + y * 31 + c * 3 + 1));
    return p;
}

namespace quorrel_files {

inline void put16(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(v & 255);
    out.push_back((v >> 8) & 255);
}

inline void put32(std::vector<uint8_t> &out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline void put32be(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back((v >> 24) & 255);
    out.push_back((v >> 16) & 255);
    out.push_back((v >> 8) & 255);
    out.push_back(v & 255);
}

inline bool save(const std::string &name, const std::vector<uint8_t> &data)
{
    FILE *file = fopen(name.c_str(), "wb");
    if (!file)
        return false;
    const size_t done = fwrite(data.data(), 1, data.size(), file);
    return fclose(file) == 0 && done == data.size();
}

inline uint32_t crc32(const uint8_t *data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc ^ 0xFFFFFFFFu;
}

inline void pngchunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data)
{
    put32be(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32be(out, crc32(body.data(), body.size()));
}

}  // namespace quorrel_files

// An uncompressed TGA: type 2 (true colour, 3 or 4 channels) or 3 (grey, 1 channel).
// topdown sets the origin bit; otherwise the rows are stored bottom row first.
inline bool quorrel_writetga(const std::string &name, const quorrel_picture &p, bool topdown)
{
    using namespace quorrel_files;
    std::vector<uint8_t> out = {0, 0, static_cast<uint8_t>(p.channels == 1 ? 3 : 2), 0, 0, 0, 0, 0};
    put16(out, 0);
    put16(out, 0);
    put16(out, p.width);
    put16(out, p.height);
    out.push_back(static_cast<uint8_t>(p.channels * 8));
    out.push_back(static_cast<uint8_t>((topdown ? 0x20 : 0) | (p.channels == 4 ? 8 : 0)));
    for (int32_t row = 0; row < p.height; row++) {
        const int32_t y = topdown ? row : p.height - 1 - row;
        out.insert(out.end(), p.pixel(0, y), p.pixel(0, y) + p.width * p.channels);
    }
    return save(name, out);
}

// An uncompressed BMP (BI_RGB), rows bottom first and padded to 4 bytes. One channel
// is written as 8-bit palette indices with a grey palette; two channels as 16-bit pixels.
inline bool quorrel_writebmp(const std::string &name, const quorrel_picture &p)
{
    using namespace quorrel_files;
    const uint32_t bits = p.channels * 8;
    const uint32_t rowbytes = (p.width * p.channels + 3) & ~3u;
    const uint32_t palette = (bits == 8) ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + palette;
    std::vector<uint8_t> out = {'B', 'M'};
    put32(out, offset + rowbytes * p.height);
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, p.width);
    put32(out, p.height);
    put16(out, 1);
    put16(out, bits);
    put32(out, 0);  // BI_RGB
    put32(out, rowbytes * p.height);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, bits == 8 ? 256 : 0);
    put32(out, 0);
    for (uint32_t i = 0; i < palette / 4; i++) {
        out.push_back(static_cast<uint8_t>(i));
        out.push_back(static_cast<uint8_t>(i));
        out.push_back(static_cast<uint8_t>(i));
        out.push_back(0);
    }
    for (int32_t y = p.height - 1; y >= 0; y--) {
        out.insert(out.end(), p.pixel(0, y), p.pixel(0, y) + p.width * p.channels);
        out.resize(out.size() + rowbytes - p.width * p.channels, 0);
    }
    return save(name, out);
}

// A PNG of 8-bit grey (1 channel), RGB (3) or RGBA (4), filter 0, in stored deflate blocks.
inline bool quorrel_writepng(const std::string &name, const quorrel_picture &p)
{
    using namespace quorrel_files;
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32be(header, p.width);
    put32be(header, p.height);
    const uint8_t colourtype = p.channels == 1 ? 0 : (p.channels == 3 ? 2 : 6);
    header.insert(header.end(), {8, colourtype, 0, 0, 0});
    pngchunk(out, "IHDR", header);

    std::vector<uint8_t> raw;
    for (int32_t y = 0; y < p.height; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), p.pixel(0, y), p.pixel(0, y) + p.width * p.channels);
    }
    std::vector<uint8_t> zlib = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t size = std::min<size_t>(raw.size() - at, 65535);
        zlib.push_back(at + size == raw.size() ? 1 : 0);
        put16(zlib, static_cast<uint32_t>(size));
        put16(zlib, static_cast<uint32_t>(~size & 0xFFFF));
        zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + size);
        at += size;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32be(zlib, (b << 16) | a);
    pngchunk(out, "IDAT", zlib);
    pngchunk(out, "IEND", {});
    return save(name, out);
}
