// fuzz_common.h -- shared by the fuzz targets and the bad-file tables: the check
// that stops a run, a private working folder, files and little-endian fields
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

typedef std::vector<uint8_t> fuzz_bytes;

// libFuzzer (or the replay test) reports the input as a crash.
#define FUZZ_CHECK(cond, ...)                                                                 \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            fprintf(stderr, "fuzz check failed at %s:%d: %s: ", __FILE__, __LINE__, #cond); \
            fprintf(stderr, __VA_ARGS__);                                                     \
            fputc('\n', stderr);                                                              \
            abort();                                                                          \
        }                                                                                     \
    } while (0)

// A fresh folder under /tmp as the working directory, removed at exit.
static inline void fuzz_enterdir()
{
    static char dir[] = "/tmp/quorrel-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(dir) && chdir(dir) == 0, "cannot make a working folder");
    atexit([] { FUZZ_CHECK(system((std::string("rm -rf '") + dir + "'").c_str()) == 0, "rm %s", dir); });
}

static inline fuzz_bytes fuzz_readfile(const std::string &name)
{
    fuzz_bytes bytes;
    FILE *file = fopen(name.c_str(), "rb");
    for (int c; file && (c = fgetc(file)) != EOF;)
        bytes.push_back(static_cast<uint8_t>(c));
    return file && fclose(file) == 0 ? bytes : fuzz_bytes();
}

static inline bool fuzz_writefile(const std::string &name, const uint8_t *data, size_t size)
{
    FILE *file = fopen(name.c_str(), "wb");
    const bool done = file && (size == 0 || fwrite(data, 1, size, file) == size);
    return file && fclose(file) == 0 && done;
}

static inline bool fuzz_writefile(const std::string &name, const fuzz_bytes &bytes)
{
    return fuzz_writefile(name, bytes.data(), bytes.size());
}

// A copy with count little-endian bytes of value at offset at, appended past the end.
static inline fuzz_bytes fuzz_put(fuzz_bytes bytes, size_t at, uint32_t value, int count)
{
    bytes.resize(std::max(bytes.size(), at + count));
    for (int i = 0; i < count; i++)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return bytes;
}

static inline fuzz_bytes fuzz_cut(const fuzz_bytes &bytes, size_t count)
{
    return fuzz_bytes(bytes.begin(), bytes.begin() + std::min(count, bytes.size()));
}

// Takes leading little-endian fields of an input, zero past its end.
struct fuzz_reader {
    const uint8_t *data;
    size_t size;
    uint32_t take(size_t bytes)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes && size > 0; i++, size--)
            value |= static_cast<uint32_t>(*data++) << (8 * i);
        return value;
    }
};
