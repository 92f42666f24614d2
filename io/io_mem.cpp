// io_mem.cpp -- the log file and the accounting allocator with its shutdown report
#include "io/io.h"

#include <cstdarg>
#include <cstdlib>

#include "io/io_blockset.h"

io_state inout;
// Blocks released and not handed out again (the double-free guard); kept out of
// io_state so that io.h does not carry the set's header to the library's users.
static io_blockset io_released;
void* (*io_rawcalloc)(size_t count, size_t size) = calloc;

FILE* io_init()
{
    inout.allocs = static_cast<io_allocentry*>(calloc(IO_MAXALLOCS, sizeof(io_allocentry)));
    // The double-free guard takes all its room now: a table without it is none.
    if (inout.allocs && !io_blocksetinit(&io_released)) {
        free(inout.allocs);
        inout.allocs = nullptr;
    }
    inout.curbytes = 0;
    inout.maxbytes = 0;
    inout.logfile = fopen("log.txt", "w");
    return inout.logfile;
}

void io_log(const char* format, ...)
{
    if (!inout.logfile)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(inout.logfile, format, args);
    va_end(args);
}

void io_error(const char* format, ...)
{
    char text[IO_ERRORLEN];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    io_log("ERROR: %s\n", text);
}

// Counters wrap like the 32-bit words they are instead of overflowing.
static int32_t io_addbytes(int32_t total, uint32_t size, bool add)
{
    const uint32_t t = static_cast<uint32_t>(total);
    return static_cast<int32_t>(add ? t + size : t - size);
}

void* io_calloc(uint32_t count, uint32_t size, int32_t tag)
{
    if (!inout.allocs) {
        io_error("io_calloc - no inout.allocs");
        return nullptr;
    }
    io_allocentry* slot = nullptr;
    for (int i = 0; i < IO_MAXALLOCS; i++) {
        if (!inout.allocs[i].ptr) {
            slot = &inout.allocs[i];
            break;
        }
    }
    if (!slot) {
        io_error("io_calloc - couldn't allocate");
        return nullptr;
    }
    void* block = io_rawcalloc(count, size);
    if (!block)
        return nullptr;
    io_blocksetremove(&io_released, block); // handed out again: freeing it is sound
    slot->ptr = block;
    slot->size = count * size;
    slot->tag = tag;
    inout.curbytes = io_addbytes(inout.curbytes, slot->size, true);
    if (inout.maxbytes <= inout.curbytes)
        inout.maxbytes = inout.curbytes;
    return block;
}

// Gives a block back to the heap and remembers that it did.
static void io_release(void* block)
{
    io_blocksetadd(&io_released, block);
    free(block);
}

void io_free(void* block)
{
    if (!inout.allocs) {
        io_error("io_free - no inout.allocs");
        return;
    }
    if (!block) {
        io_error("io_free - tried to free NULL pointer");
        return;
    }
    for (int i = 0; i < IO_MAXALLOCS; i++) {
        io_allocentry& slot = inout.allocs[i];
        if (slot.ptr == block) {
            inout.curbytes = io_addbytes(inout.curbytes, slot.size, false);
            slot.ptr = nullptr;
            io_release(block);
            return;
        }
    }
    // A block released here before and not handed out since would reach the
    // heap a second time: it is reported and kept back. Any other block the
    // table never held is released, as its message says.
    if (io_blocksethas(&io_released, block)) {
        io_error("io_free - couldn't find inout.allocs entry, already freed");
        return;
    }
    io_error("io_free - couldn't find inout.allocs entry, free anyway");
    io_release(block);
}

void io_deinit()
{
    io_log("Max bytes allocated during run: %d\n", inout.maxbytes);
    io_log("Bytes left allocated at io_deinit: %d\n", inout.curbytes);
    if (inout.allocs) {
        for (int i = 0; i < IO_MAXALLOCS; i++) {
            const io_allocentry& slot = inout.allocs[i];
            if (slot.ptr) {
                io_error("name %d: %d bytes\n", slot.tag, static_cast<int32_t>(slot.size));
                io_free(slot.ptr);
            }
        }
        free(inout.allocs);
        inout.allocs = nullptr;
    }
    io_blocksetclear(&io_released);
    if (inout.logfile) {
        fclose(inout.logfile);
        inout.logfile = nullptr;
    }
}
