// badfiles.h -- helpers for the bad-file tables: byte images of good files to
// damage, and the usual damages (cuts, patched fields)
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Every byte of a file; empty when it cannot be read.
inline std::vector<uint8_t> badfile_read(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    int c;
    while ((c = fgetc(file)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    fclose(file);
    return bytes;
}

inline bool badfile_write(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const size_t done = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file);
    return fclose(file) == 0 && done == bytes.size();
}

// The first count bytes (all of them when count is larger).
inline std::vector<uint8_t> badfile_cut(std::vector<uint8_t> bytes, size_t count)
{
    if (count < bytes.size())
        bytes.resize(count);
    return bytes;
}

// Little-endian 16- and 32-bit fields patched at an offset.
inline std::vector<uint8_t> badfile_put16(std::vector<uint8_t> bytes, size_t at, uint32_t value)
{
    bytes.at(at) = static_cast<uint8_t>(value & 255);
    bytes.at(at + 1) = static_cast<uint8_t>((value >> 8) & 255);
    return bytes;
}

inline std::vector<uint8_t> badfile_put32(std::vector<uint8_t> bytes, size_t at, uint32_t value)
{
    bytes = badfile_put16(bytes, at, value & 0xFFFF);
    return badfile_put16(bytes, at + 2, value >> 16);
}

inline std::vector<uint8_t> badfile_put8(std::vector<uint8_t> bytes, size_t at, uint8_t value)
{
    bytes.at(at) = value;
    return bytes;
}

inline std::vector<uint8_t> badfile_text(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}
