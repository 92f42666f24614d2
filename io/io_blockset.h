// io_blockset.h -- the double-free guard of both accounting allocators (io_ and
// emio_): the addresses of the latest blocks an allocator released and has not
// handed out again. Header-only, so that each library compiles its own copy.
//
// The set takes its whole room when the allocator starts (io_blocksetinit) and
// never grows, shrinks or rebuilds after that: it remembers the latest
// IO_BLOCKSETRECENT releases, forgetting the oldest first, so that recording a
// release (on the audio thread too) costs a few probes and never the heap.
#ifndef IO_IO_BLOCKSET_H
#define IO_IO_BLOCKSET_H

#include <cstdint>
#include <cstdlib>

enum { IO_BLOCKSETRECENT = 16384 }; // releases remembered; a power of two

// One entry of the hash table: an address and the number of the release that
// recorded it (so that forgetting an old release never drops a newer one).
struct io_blockentry {
    void* block;  // null = empty
    uint32_t seq; // the release's number
};

// A linear-probing hash table of 2 x IO_BLOCKSETRECENT entries (at most half
// full) and the ring of the latest releases in order.
struct io_blockset {
    io_blockentry* table; // 2 x IO_BLOCKSETRECENT entries, null before init
    void** order;         // IO_BLOCKSETRECENT addresses, the release numbered n at n % IO_BLOCKSETRECENT
    uint32_t next;        // the number the next release gets (wraps at 2^32)
    bool full;            // the ring went round once: each release forgets the oldest
};

static inline uint32_t io_blocksethash(const void* block)
{
    const uint64_t h = (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block)) >> 4) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32) & (2 * IO_BLOCKSETRECENT - 1);
}

// The entry that holds block, or the empty entry that ends its probe path.
static inline io_blockentry* io_blocksetslot(const io_blockset* set, const void* block)
{
    uint32_t i = io_blocksethash(block);
    while (set->table[i].block && set->table[i].block != block)
        i = (i + 1) & (2 * IO_BLOCKSETRECENT - 1);
    return &set->table[i];
}

static inline void io_blocksetclear(io_blockset* set)
{
    free(set->table);
    free(set->order);
    *set = io_blockset {nullptr, nullptr, 0, false};
}

// Takes the set's whole room, empty; false (and no set) when the heap refuses it.
static inline bool io_blocksetinit(io_blockset* set)
{
    io_blocksetclear(set);
    set->table = static_cast<io_blockentry*>(calloc(2 * IO_BLOCKSETRECENT, sizeof(io_blockentry)));
    set->order = static_cast<void**>(calloc(IO_BLOCKSETRECENT, sizeof(void*)));
    if (set->table && set->order)
        return true;
    io_blocksetclear(set);
    return false;
}

static inline bool io_blocksethas(const io_blockset* set, const void* block)
{
    return set->table && block && io_blocksetslot(set, block)->block == block;
}

// Empties an entry and moves up the entries after it whose probe paths
// crossed it, so that every held address stays reachable without tombstones.
static inline void io_blocksetempty(io_blockset* set, io_blockentry* entry)
{
    const uint32_t mask = 2 * IO_BLOCKSETRECENT - 1;
    uint32_t hole = static_cast<uint32_t>(entry - set->table);
    for (uint32_t i = (hole + 1) & mask; set->table[i].block; i = (i + 1) & mask) {
        // An entry may move to the hole when its home lies cyclically outside (hole, i].
        const uint32_t home = io_blocksethash(set->table[i].block);
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            set->table[hole] = set->table[i];
            hole = i;
        }
    }
    set->table[hole] = io_blockentry {nullptr, 0};
}

// Forgets a block the heap handed out again; true when it was held.
static inline bool io_blocksetremove(io_blockset* set, const void* block)
{
    if (!io_blocksethas(set, block))
        return false;
    io_blocksetempty(set, io_blocksetslot(set, block));
    return true;
}

// Records a released block, forgetting the oldest release when the set
// remembers IO_BLOCKSETRECENT already. Nothing when the set was never taken.
static inline void io_blocksetadd(io_blockset* set, void* block)
{
    if (!set->table || !block)
        return;
    const uint32_t slot = set->next % IO_BLOCKSETRECENT;
    if (set->full) {
        // The oldest release leaves, unless its address was handed out and released again since.
        io_blockentry* oldest = io_blocksetslot(set, set->order[slot]);
        if (oldest->block && oldest->seq == set->next - IO_BLOCKSETRECENT)
            io_blocksetempty(set, oldest);
    }
    io_blockentry* entry = io_blocksetslot(set, block);
    *entry = io_blockentry {block, set->next};
    set->order[slot] = block;
    set->next++;
    if (set->next % IO_BLOCKSETRECENT == 0)
        set->full = true;
}

#endif
