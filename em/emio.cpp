// emio.cpp -- the audio engine's accounting allocator, console printers with
// their log hook, and file opening
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "em/em_local.h"

emio_state eminout;
void* (*emio_rawcalloc)(size_t count, size_t size) = calloc;

// Guards eminout from the main and the audio thread. Nothing but the log
// hook's lock is taken while it is held, so it may be taken under the audio lock.
static std::mutex emio_lock;

// The program's log hook (em_setlogfunc) and its user pointer; null prints.
// emio_loglock keeps the pair whole against a change while a line is delivered.
static em_logfunc emio_logfn;
static void* emio_loguser;
static std::mutex emio_loglock;

void em_setlogfunc(em_logfunc fn, void* user)
{
    std::lock_guard<std::mutex> guard(emio_loglock);
    emio_logfn = fn;
    emio_loguser = user;
}

// Hands text to the hook one line at a time, without newlines; an empty line
// (the blank one some messages end with) is not delivered. False when no
// hook is set: the caller prints as it always has.
static bool emio_tohook(int level, const char* text)
{
    std::lock_guard<std::mutex> guard(emio_loglock);
    if (!emio_logfn)
        return false;
    char line[EMIO_LINELEN];
    for (const char* start = text; *start;) {
        const char* end = strchr(start, '\n');
        const size_t length = end ? static_cast<size_t>(end - start) : strlen(start);
        if (length > 0) {
            const size_t kept = length < sizeof(line) - 1 ? length : sizeof(line) - 1;
            memcpy(line, start, kept);
            line[kept] = '\0';
            emio_logfn(level, line, emio_loguser);
        }
        start += length + (end ? 1 : 0);
    }
    return true;
}

void emio_error(const char* fmt, ...)
{
    char text[256];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    char line[sizeof(text) + 8];
    snprintf(line, sizeof(line), "ERROR: %s", text);
    if (!emio_tohook(EM_LOGERROR, line))
        fprintf(stderr, "%s\n", line);
}

void emio_print(const char* fmt, ...)
{
    char text[EMIO_LINELEN];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    // The engine's warnings say so at their start; everything else is information.
    const int level = strncmp(text, "warning:", 8) == 0 ? EM_LOGWARNING : EM_LOGINFO;
    if (!emio_tohook(level, text))
        fputs(text, stdout);
}

FILE* emio_open(const char* path, const char* mode)
{
    FILE* stream = fopen(path, mode);
    if (!stream)
        emio_print("emio_open - file %s not found\n", path);
    return stream;
}

int emio_close(FILE* stream)
{
    return fclose(stream);
}

// Frees the table and any block it still lists, without a report; the caller
// holds emio_lock.
static void emio_droptable()
{
    if (!eminout.allocs)
        return;
    for (int slot = 0; slot < EMIO_MAXALLOCS; slot++)
        free(eminout.allocs[slot].ptr);
    free(eminout.allocs);
    eminout.allocs = nullptr;
    io_blocksetclear(&eminout.released);
}

void emio_init()
{
    std::lock_guard<std::mutex> guard(emio_lock);
    emio_droptable(); // a table left by a failed start is replaced, not leaked
    eminout.allocs = static_cast<emio_alloc*>(calloc(EMIO_MAXALLOCS, sizeof(emio_alloc)));
    // The double-free guard takes all its room now: a table without it is none.
    if (eminout.allocs && !io_blocksetinit(&eminout.released)) {
        free(eminout.allocs);
        eminout.allocs = nullptr;
    }
    eminout.bytes = 0;
    eminout.maxbytes = 0;
}

void* emio_calloc(uint32_t count, uint32_t size, int32_t tag)
{
    const uint64_t total = static_cast<uint64_t>(count) * size;
    std::unique_lock<std::mutex> guard(emio_lock);
    if (!eminout.allocs) {
        guard.unlock();
        emio_error("emio_calloc - no eminout.allocs");
        return nullptr;
    }
    int slot = 0;
    while (slot < EMIO_MAXALLOCS && eminout.allocs[slot].ptr)
        slot++;
    if (slot == EMIO_MAXALLOCS) {
        guard.unlock();
        emio_error("emio_calloc - couldn't allocate");
        return nullptr;
    }
    // A block whose size or running total would not fit the 32-bit counters is
    // refused like a failed heap call: silently, nothing counted.
    if (total > INT32_MAX || eminout.bytes + static_cast<int64_t>(total) > INT32_MAX)
        return nullptr;
    void* block = emio_rawcalloc(count, size);
    if (!block)
        return nullptr;
    io_blocksetremove(&eminout.released, block); // handed out again: freeing it is sound
    emio_alloc& entry = eminout.allocs[slot];
    entry.ptr = block;
    entry.size = static_cast<int32_t>(total);
    entry.name = tag;
    eminout.bytes += entry.size;
    if (eminout.maxbytes <= eminout.bytes)
        eminout.maxbytes = eminout.bytes;
    return block;
}

// Gives an entry's block back to the heap and remembers that it did; the
// caller holds emio_lock.
static void emio_release(emio_alloc& entry)
{
    io_blocksetadd(&eminout.released, entry.ptr);
    free(entry.ptr);
    eminout.bytes -= entry.size;
    entry.ptr = nullptr;
}

void emio_free(void* ptr)
{
    std::unique_lock<std::mutex> guard(emio_lock);
    if (!eminout.allocs) {
        guard.unlock();
        emio_error("emio_free - no eminout.allocs");
        return;
    }
    if (!ptr) {
        guard.unlock();
        emio_error("emio_free - tried to free NULL pointer");
        return;
    }
    for (int slot = 0; slot < EMIO_MAXALLOCS; slot++) {
        if (eminout.allocs[slot].ptr == ptr) {
            emio_release(eminout.allocs[slot]);
            return;
        }
    }
    // A block released here before and not handed out since would reach the
    // heap a second time: it is reported and kept back. Any other block the
    // table never held is released, as its message says.
    if (io_blocksethas(&eminout.released, ptr)) {
        guard.unlock();
        emio_error("emio_free - couldn't find eminout.allocs entry, already freed");
        return;
    }
    io_blocksetadd(&eminout.released, ptr);
    free(ptr);
    guard.unlock();
    emio_error("emio_free - couldn't find eminout.allocs entry, free anyway");
}

void emio_deinit()
{
    std::lock_guard<std::mutex> guard(emio_lock);
    if (!eminout.allocs)
        return;
    emio_print("Max bytes allocated during run: %d\n", eminout.maxbytes);
    emio_print("Bytes left allocated at io_deinit: %d\n", eminout.bytes);
    fflush(stdout);
    for (int slot = 0; slot < EMIO_MAXALLOCS; slot++) {
        emio_alloc& entry = eminout.allocs[slot];
        if (entry.ptr) {
            emio_error("name %d: %d bytes\n", entry.name, entry.size);
            emio_release(entry);
        }
    }
    free(eminout.allocs);
    eminout.allocs = nullptr;
    io_blocksetclear(&eminout.released);
}

void emio_drop()
{
    std::lock_guard<std::mutex> guard(emio_lock);
    emio_droptable();
}

int32_t emio_getbytes()
{
    std::lock_guard<std::mutex> guard(emio_lock);
    return eminout.bytes;
}

int32_t emio_getmaxbytes()
{
    std::lock_guard<std::mutex> guard(emio_lock);
    return eminout.maxbytes;
}
