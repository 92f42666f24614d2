// io_blockset.h -- the double-free guard of both accounting allocators (io_ and
// emio_): the set of block addresses an allocator has released and not handed
// out again. Header-only, so that each library compiles its own copy.
//
// An allocator reserves room before it hands out a block (io_blocksetreserve),
// so that recording a release (io_blocksetadd) never allocates: a release may
// run on the audio thread, which must not touch the heap beyond free().
#ifndef IO_IO_BLOCKSET_H
#define IO_IO_BLOCKSET_H

#include <cstdint>
#include <cstdlib>

// An open-addressing hash set of addresses; removed entries leave a tombstone.
struct io_blockset {
    void** slots;      // capacity entries: null = empty, io_blocksettomb() = removed
    uint32_t capacity; // a power of two, or 0 before the first reserve
    uint32_t count;    // addresses held
    uint32_t used;     // entries not empty: addresses and tombstones
};

// The mark of a removed entry: no heap block lies at address 1.
static inline void* io_blocksettomb()
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(1));
}

static inline uint32_t io_blocksethash(const void* block, uint32_t capacity)
{
    const uint64_t h = (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block)) >> 4) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32) & (capacity - 1);
}

// The entry that holds block, or the first free one on its probe path
// (a tombstone before an empty entry), or null when the set is empty.
static inline void** io_blocksetfind(const io_blockset* set, const void* block, bool forinsert)
{
    if (set->capacity == 0)
        return nullptr;
    void** reuse = nullptr;
    for (uint32_t i = io_blocksethash(block, set->capacity), n = 0; n < set->capacity; i = (i + 1) & (set->capacity - 1), n++) {
        void** slot = &set->slots[i];
        if (*slot == block)
            return slot;
        if (*slot == io_blocksettomb()) {
            if (!reuse)
                reuse = slot;
        } else if (!*slot) {
            return forinsert ? (reuse ? reuse : slot) : nullptr;
        }
    }
    return forinsert ? reuse : nullptr;
}

static inline bool io_blocksethas(const io_blockset* set, const void* block)
{
    return io_blocksetfind(set, block, false) != nullptr;
}

// Makes sure that `more` further additions fit with the table at most half
// full; rebuilds the table without tombstones when it grows. False when the
// heap refuses the bigger table (the set is then unchanged).
static inline bool io_blocksetreserve(io_blockset* set, uint32_t more)
{
    const uint64_t need = static_cast<uint64_t>(set->used) + more;
    if (set->capacity != 0 && need * 2 <= set->capacity)
        return true;
    uint64_t capacity = 64;
    while (capacity < (static_cast<uint64_t>(set->count) + more) * 4)
        capacity *= 2;
    if (capacity > (1u << 31))
        return false;
    void** slots = static_cast<void**>(calloc(static_cast<size_t>(capacity), sizeof(void*)));
    if (!slots)
        return false;
    io_blockset grown = {slots, static_cast<uint32_t>(capacity), 0, 0};
    for (uint32_t i = 0; i < set->capacity; i++) {
        void* block = set->slots[i];
        if (block && block != io_blocksettomb()) {
            *io_blocksetfind(&grown, block, true) = block;
            grown.count++;
            grown.used++;
        }
    }
    free(set->slots);
    *set = grown;
    return true;
}

// Records a released block; room must have been reserved. False (nothing
// recorded) only when it was not.
static inline bool io_blocksetadd(io_blockset* set, void* block)
{
    void** slot = io_blocksetfind(set, block, true);
    if (!slot)
        return false;
    if (*slot == block)
        return true;
    if (!*slot)
        set->used++;
    *slot = block;
    set->count++;
    return true;
}

// Forgets a block the heap handed out again; true when it was held.
static inline bool io_blocksetremove(io_blockset* set, const void* block)
{
    void** slot = io_blocksetfind(set, block, false);
    if (!slot)
        return false;
    *slot = io_blocksettomb();
    set->count--;
    return true;
}

static inline void io_blocksetclear(io_blockset* set)
{
    free(set->slots);
    *set = io_blockset {nullptr, 0, 0, 0};
}

#endif
