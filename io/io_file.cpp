// io_file.cpp -- data files and the line readers for descriptor files
#include "io/io.h"

#include <cstring>

// The data directories a name is looked up in, primary first.
static const char* const io_datadirs[2] = {".", "."};

// Joins a data directory and a name into path; 0 when the result would not fit.
static int io_joinpath(char* path, const char* dir, const char* name)
{
    const int length = snprintf(path, IO_PATHLEN, "%s/%s", dir, name);
    return length >= 0 && length < IO_PATHLEN;
}

FILE* io_fopen(const char* name, const char* mode)
{
    char path[IO_PATHLEN];
    for (const char* dir : io_datadirs) {
        if (!io_joinpath(path, dir, name))
            continue;
        FILE* file = fopen(path, mode);
        if (file)
            return file;
    }
    return nullptr;
}

int io_fclose(FILE* file)
{
    if (!file)
        return EOF;
    return fclose(file);
}

// One output buffer of a reader: characters beyond its size are dropped, and the
// last byte is always kept for the terminator.
struct io_output {
    char* text;
    uint32_t size;   // bytes in text, terminator included
    uint32_t length; // characters stored so far
    bool cut;        // a character had to be dropped
};

static void io_startoutput(io_output* out, char* text, uint32_t size)
{
    out->text = text;
    out->size = size;
    out->length = 0;
    out->cut = false;
    if (size > 0)
        text[0] = '\0';
}

static void io_store(io_output* out, int c)
{
    if (out->size > 0 && out->length < out->size - 1)
        out->text[out->length++] = static_cast<char>(c);
    else
        out->cut = true;
}

static void io_terminate(io_output* out)
{
    if (out->size > 0)
        out->text[out->length] = '\0';
}

// fgetc's EOF stands for both the end of the file and a read error: either ends the line.
int io_readline(FILE* file, char* text, uint32_t textsize)
{
    io_output out;
    io_startoutput(&out, text, textsize);
    if (!file)
        return 1;
    bool started = false;
    for (;;) {
        const int c = fgetc(file);
        if (c == EOF || (c < 32 && started)) {
            io_terminate(&out);
            return c == EOF ? 1 : 0;
        }
        if (!started) {
            if (c <= 32)
                continue; // leading blanks and control characters
            started = true;
        }
        io_store(&out, c);
    }
}

// States of io_readkeyvalue; characters are stored in IO_INKEY and IO_INVALUE.
enum io_kvstate { IO_BEFOREKEY, IO_INKEY, IO_BEFOREVALUE, IO_INVALUE };

// The key/value reader; *keycut tells whether the key was longer than its buffer.
static int io_readpair(FILE* file, char* key, uint32_t keysize, char* value, uint32_t valuesize, bool* keycut)
{
    io_output keyout, valueout;
    io_startoutput(&keyout, key, keysize);
    io_startoutput(&valueout, value, valuesize);
    *keycut = false;
    if (!file)
        return 1;
    io_output* out = &keyout;
    io_kvstate state = IO_BEFOREKEY;
    for (;;) {
        const int c = fgetc(file);
        if (c == EOF || (c < 32 && state != IO_BEFOREKEY)) {
            io_terminate(out);
            *keycut = keyout.cut;
            return c == EOF ? 1 : 0;
        }
        if (state == IO_BEFOREKEY && c > 32) {
            state = IO_INKEY;
        } else if (state == IO_INKEY && c <= 32) {
            state = IO_BEFOREVALUE; // only the blank can get here
        } else if (state == IO_BEFOREVALUE && c > 32) {
            state = IO_INVALUE;
            io_terminate(&keyout);
            out = &valueout;
        }
        if (state == IO_INKEY || state == IO_INVALUE)
            io_store(out, c);
    }
}

int io_readkeyvalue(FILE* file, char* key, uint32_t keysize, char* value, uint32_t valuesize)
{
    bool keycut;
    return io_readpair(file, key, keysize, value, valuesize, &keycut);
}

int32_t io_readkeyword(FILE* file, char* key, uint32_t keysize, char* value, uint32_t valuesize, const char* const* words,
                       int32_t count)
{
    bool keycut;
    io_readpair(file, key, keysize, value, valuesize, &keycut);
    // A cut key is not the word its first characters spell: "FRAMEWORK" cut to
    // five characters must not read as FRAME.
    if (keycut || keysize == 0 || key[0] == '\0')
        return -1;
    int32_t found = -1;
    for (int32_t i = 0; i < count; i++)
        if (strcmp(key, words[i]) == 0)
            found = i;
    return found;
}
