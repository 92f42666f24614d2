// fuzz_common.h -- shared pieces of the libFuzzer targets: a private working
// folder, file writing, the check that stops a run, and little-endian reads
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Stops the run with a message when an invariant does not hold; libFuzzer (or
// the replay test) then reports the input as a crash.
#define FUZZ_CHECK(cond, ...)                                                  \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "fuzz check failed at %s:%d: %s: ", __FILE__,     \
                    __LINE__, #cond);                                          \
            fprintf(stderr, __VA_ARGS__);                                      \
            fputc('\n', stderr);                                               \
            abort();                                                           \
        }                                                                      \
    } while (0)

// The folder made by fuzz_enterdir, removed at exit.
static std::string fuzz_dir;

static inline void fuzz_removedir()
{
    if (fuzz_dir.empty())
        return;
    const std::string command = "rm -rf '" + fuzz_dir + "'";
    if (system(command.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", fuzz_dir.c_str());
}

// Makes a fresh folder under /tmp and makes it the working directory: the
// loaders read their files relative to it.
static inline void fuzz_enterdir()
{
    char pattern[] = "/tmp/quorrel-fuzz-XXXXXX";
    const char *made = mkdtemp(pattern);
    if (!made || chdir(made) != 0) {
        fprintf(stderr, "fuzz: cannot make a working folder\n");
        abort();
    }
    fuzz_dir = made;
    atexit(fuzz_removedir);
}

static inline void fuzz_writefile(const char *name, const uint8_t *data, size_t size)
{
    FILE *file = fopen(name, "wb");
    FUZZ_CHECK(file != nullptr, "cannot create %s", name);
    FUZZ_CHECK(size == 0 || fwrite(data, 1, size, file) == size, "cannot write %s", name);
    FUZZ_CHECK(fclose(file) == 0, "cannot close %s", name);
}

// Splits an input into leading fields and the rest, as a reader over it.
struct fuzz_reader {
    const uint8_t *data;
    size_t size;

    uint32_t take(int bytes)
    {
        uint32_t value = 0;
        for (int i = 0; i < bytes; i++) {
            const uint32_t byte = size > 0 ? *data : 0;
            if (size > 0) {
                data++;
                size--;
            }
            value |= byte << (8 * i);
        }
        return value;
    }
    // The next count bytes (fewer at the end of the input).
    const uint8_t *block(size_t count, size_t *got)
    {
        *got = count < size ? count : size;
        const uint8_t *at = data;
        data += *got;
        size -= *got;
        return at;
    }
};
