// io_mem.cpp -- the log file and the accounting allocator with its shutdown report
#include "io/io.h"

#include <cstdarg>
#include <cstdlib>

io_state inout;

FILE* io_init()
{
    inout.allocs = static_cast<io_allocentry*>(calloc(IO_MAXALLOCS, sizeof(io_allocentry)));
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
    slot->ptr = calloc(count, size);
    if (!slot->ptr)
        return nullptr;
    slot->size = count * size;
    slot->tag = tag;
    inout.curbytes = io_addbytes(inout.curbytes, slot->size, true);
    if (inout.maxbytes <= inout.curbytes)
        inout.maxbytes = inout.curbytes;
    return slot->ptr;
}

// A block that some slot released and no slot holds now was freed by us
// already: releasing it again would corrupt the heap.
static bool io_wasfreed(const void* block)
{
    for (int i = 0; i < IO_MAXALLOCS; i++)
        if (inout.allocs[i].freed == block)
            return true;
    return false;
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
            slot.freed = block;
            free(block);
            return;
        }
    }
    io_error("io_free - couldn't find inout.allocs entry, free anyway");
    if (!io_wasfreed(block))
        free(block);
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
    if (inout.logfile) {
        fclose(inout.logfile);
        inout.logfile = nullptr;
    }
}
