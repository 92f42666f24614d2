// io.h -- runtime services: the log file, the accounting allocator, data files
// and the line readers for descriptor files. Main thread only.
#ifndef IO_IO_H
#define IO_IO_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// C linkage and plain records, so that C and the languages binding through C can
// call it; what is declared here is what the shared library exports.
#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

typedef struct io_allocentry io_allocentry;
typedef struct io_state io_state;

enum {
    IO_MAXALLOCS = 4096, // slots in the allocation table
    IO_ERRORLEN = 256    // io_error's message buffer, terminator included
};

// One slot of the allocation table. A slot is live while ptr is not null;
// size and tag of a freed slot keep their stale values.
struct io_allocentry {
    void* ptr;     // block address, null = free slot
    uint32_t size; // bytes asked for (count * size, 32-bit product)
    int32_t tag;   // caller's tag, only printed by the report
};

// The io service's one state record.
struct io_state {
    io_allocentry* allocs; // IO_MAXALLOCS slots; null while the service is closed
    int32_t curbytes;      // sum of size over live slots
    int32_t maxbytes;      // highest curbytes since io_init
    FILE* logfile;         // "log.txt", null when closed
};

extern io_state inout;

// The heap call behind io_calloc; tests replace it to make allocations fail.
extern void* (*io_rawcalloc)(size_t count, size_t size);

// Creates the allocation table and truncates/opens "log.txt"; returns the log stream or null.
FILE* io_init(void);
// Writes printf-style text to the log unchanged; does nothing while no log is open.
void io_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes "ERROR: <text>\n" to the log; the text is cut at 255 characters.
void io_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Zero-filled block of count*size bytes entered in the table under tag; null on failure.
void* io_calloc(uint32_t count, uint32_t size, int32_t tag);
// Releases a block from io_calloc. Logs and refuses null; a block the table does not
// hold is logged and released, unless this allocator released it already and has not
// handed it out since: that one is logged as already freed and left alone.
void io_free(void* block);
// Logs the peak and the bytes still held, one error line per leftover block (then frees it),
// drops the table and closes the log.
void io_deinit(void);

// ---- Data files and line readers -------------------------------------------

enum {
    IO_PATHLEN = 256 // joined data path buffer, terminator included
};

// Opens name relative to the primary, then the fallback data directory ("%s/%s");
// returns the stream, or null when neither opens or the joined path exceeds 255 characters.
FILE* io_fopen(const char* name, const char* mode);
// Closes a stream from io_fopen; returns fclose's result (EOF for a null stream).
int io_fclose(FILE* file);

// The line readers. A line ends at the first character below 32 (line feed, carriage
// return, tab, ...) or at the end of the file; leading blanks and control characters
// are skipped, so empty lines vanish. Each output buffer takes its size in bytes,
// terminator included, and is always terminated when the size is at least 1. A line
// longer than its buffer is cut: the reader goes on to the line's end and drops the
// excess, so the next read starts on the next line. A read error ends the line like
// the end of the file. Callers stop when feof or ferror reports the stream's end.

// Reads one line into text; returns 1 when the end of the file (or a read error)
// ended it, 0 when a control character did.
int io_readline(FILE* file, char* text, uint32_t textsize);
// Reads a line as a key (up to the first blank) and a value (after the following
// blanks, to the line's end, trailing blanks kept); returns 0 or 1 as io_readline.
int io_readkeyvalue(FILE* file, char* key, uint32_t keysize, char* value, uint32_t valuesize);
// io_readkeyvalue, then the index of the last of count words equal to the key
// (exact, case-sensitive), or -1 when none is (also for an empty key or a cut one).
int32_t io_readkeyword(FILE* file, char* key, uint32_t keysize, char* value, uint32_t valuesize, const char* const* words,
                       int32_t count);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
