/*
 * The bookkeeping behind the tile cache: its entries, the hash index that
 * finds them without a lock, the order they were added in (for trimming,
 * oldest first) and the order of their last use (for eviction under a
 * byte budget, least recently used first). Internal to the library; every
 * call here except the lock-free look-up is made under the cache mutex.
 */
#ifndef ORVEX_TILE_CACHE_TABLE_H
#define ORVEX_TILE_CACHE_TABLE_H

#include <stddef.h>

#include <atomic>

class Orvex;

/* One cached tile. Entries are never freed once made: a reader that found
 * one without the lock may still look at it after it was dropped and
 * reused, and tells so from its state.
 *
 * `state` holds a generation in its upper 32 bits and the count of holds in
 * its lower 32. An even generation marks a published tile whose key and
 * samples stay as they are; the generation turns odd when the entry is
 * pending, dropped or free, and goes up by one at every such change, so a
 * reader that sees the same even state before and after reading the key
 * and samples read one consistent tile, and a hold taken by compare and
 * swap on that state can never land on another tile. */
struct OrvexCacheNode {
    std::atomic<const Orvex *> object{nullptr};
    std::atomic<int> resolution{0}, tile{0};
    std::atomic<unsigned char *> stream{nullptr};
    std::atomic<unsigned long> state{1UL << 32};  /* generation 1: free */
    std::atomic<unsigned long> stamp{0};          /* last use, from the use clock */

    /* Under the mutex. */
    size_t size = 0;
    bool pending = false;       /* claimed by a request still inflating */
    bool wants_hold = false;    /* the claiming request holds the tile once published */
    long heap_pos = -1;         /* place in the use order, -1 when not in it */
    unsigned long heap_key = 0; /* the stamp the use order last saw */
    OrvexCacheNode *older = nullptr, *newer = nullptr; /* order of addition */
    OrvexCacheNode *next_free = nullptr;
};

inline unsigned long orvex_node_generation(unsigned long state) { return state >> 32; }
inline unsigned long orvex_node_holds(unsigned long state) { return state & 0xFFFFFFFFUL; }
inline bool orvex_node_open(unsigned long state) { return (orvex_node_generation(state) & 1) == 0; }

/* ---- Entries --------------------------------------------------------- */
/* A free entry, or a new one; null when memory fails (nothing registered). */
OrvexCacheNode *orvex_node_take(void);
/* Gives a dropped entry back for reuse. */
void orvex_node_give(OrvexCacheNode *node);

/* ---- The hash index -------------------------------------------------- */
/* The entry of a key, or null. Safe without the lock: a reader checks the
 * entry's state around what it reads, and a miss here is confirmed under
 * the lock. */
OrvexCacheNode *orvex_index_find(const Orvex *object, int resolution, int tile);
/* Makes room for one more entry: false when memory fails. */
bool orvex_index_reserve(long entries);
void orvex_index_add(OrvexCacheNode *node);
void orvex_index_remove(OrvexCacheNode *node);

/* ---- The order of last use ------------------------------------------- */
/* Makes room for `entries` in the order: false when memory fails. */
bool orvex_use_order_reserve(long entries);
void orvex_use_order_add(OrvexCacheNode *node);
void orvex_use_order_remove(OrvexCacheNode *node);
/* The entry used least recently, its place refreshed from the stamps that
 * lock-free hits left; null when the order is empty. */
OrvexCacheNode *orvex_use_order_oldest(void);
long orvex_use_order_size(void);

#endif
