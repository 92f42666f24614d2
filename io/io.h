// io.h -- runtime services: the log file, the accounting allocator, data files
// and the line readers for descriptor files. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>

#define IO_MAXALLOCS 4096   // slots in the allocation table
#define IO_ERRORLEN 256     // io_error's message buffer, terminator included

// One slot of the allocation table. A slot is live while ptr is not null;
// size and tag of a freed slot keep their stale values.
struct io_allocentry {
    void *ptr;       // block address, null = free slot
    uint32_t size;   // bytes asked for (count * size, 32-bit product)
    int32_t tag;     // caller's tag, only printed by the report
    void *freed;     // last block released from this slot (double-free guard)
};

// The io service's one state record.
struct io_state {
    io_allocentry *allocs;  // IO_MAXALLOCS slots; null while the service is closed
    int32_t curbytes;       // sum of size over live slots
    int32_t maxbytes;       // highest curbytes since io_init
    FILE *logfile;          // "log.txt", null when closed
};

extern io_state inout;

// Creates the allocation table and truncates/opens "log.txt"; returns the log stream or null.
FILE *io_init();
// Writes printf-style text to the log unchanged; does nothing while no log is open.
void io_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Writes "ERROR: <text>\n" to the log; the text is cut at 255 characters.
void io_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Zero-filled block of count*size bytes entered in the table under tag; null on failure.
void *io_calloc(uint32_t count, uint32_t size, int32_t tag);
// Releases a block from io_calloc; logs and refuses null, unknown blocks are released once.
void io_free(void *block);
// Logs the peak and the bytes still held, one error line per leftover block (then frees it),
// drops the table and closes the log.
void io_deinit();
