// fuzz_descriptor.cpp -- fuzz target: the descriptor line readers over any file
// text and any buffer sizes; every output must stay inside its buffer, be
// terminated, and a keyword must match only whole words.
#include "fuzz_common.h"
#include "io/io.h"

#include <cstring>

static const char *const fuzz_words[6] = {"FLAG", "MASK", "FRAME", "repeat", "nomip", "nofilter"};

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_enterdir();
    return 0;
}

// The buffer sizes come first; each buffer has a guard byte past its end.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_reader in = {data, size};
    const uint32_t keysize = in.take(1);
    const uint32_t valuesize = in.take(1) * 5;
    const uint32_t linesize = in.take(1);
    fuzz_writefile("desc.ini", in.data, in.size);

    char key[256 + 1], value[1275 + 1], line[256 + 1];
    FILE *file = io_fopen("desc.ini", "rb");
    FUZZ_CHECK(file != nullptr, "io_fopen");
    for (int pass = 0; pass < 3; pass++) {
        rewind(file);
        int32_t lines = 0;
        while (!feof(file) && !ferror(file)) {
            key[keysize] = '#';
            value[valuesize] = '#';
            line[linesize] = '#';
            if (pass == 0) {
                const int32_t found = io_readkeyword(file, key, keysize, value, valuesize, fuzz_words, 3);
                FUZZ_CHECK(key[keysize] == '#' && value[valuesize] == '#', "wrote past a buffer");
                if (keysize > 0)
                    FUZZ_CHECK(strlen(key) < keysize, "key not terminated");
                if (valuesize > 0)
                    FUZZ_CHECK(strlen(value) < valuesize, "value not terminated");
                if (found >= 0)
                    FUZZ_CHECK(found < 3 && strcmp(key, fuzz_words[found]) == 0, "wrong keyword %d", found);
            } else if (pass == 1) {
                io_readkeyvalue(file, key, keysize, value, valuesize);
                FUZZ_CHECK(key[keysize] == '#' && value[valuesize] == '#', "wrote past a buffer");
            } else {
                io_readline(file, line, linesize);
                FUZZ_CHECK(line[linesize] == '#', "wrote past the line buffer");
                if (linesize > 0) {
                    FUZZ_CHECK(strlen(line) < linesize, "line not terminated");
                    FUZZ_CHECK(line[0] == '\0' || static_cast<unsigned char>(line[0]) > 32, "leading blank kept");
                }
            }
            lines++;
            FUZZ_CHECK(static_cast<size_t>(lines) <= in.size + 1, "more lines than bytes");
        }
    }
    io_fclose(file);
    return 0;
}
