// Address map: a small open-addressing table from 32-bit words to 32-bit words, kept in
// process-heap memory outside the arena, so the collector can use it while it moves
// nodes. Same bucket flags and probing as the hash tables.
#pragma once
#include <cstdint>

namespace zuv::addressmap {

struct AddressMap {
    int32_t size;      // live pairs
    uint32_t* flags;   // 2 bits per bucket: 2 empty, 1 deleted, 0 live
    uint32_t* pairs;   // buckets x (key, value)
    int32_t occupied;  // buckets filled since the last resize, deleted ones included
    int32_t buckets;   // a power of two, at least 4
    int32_t upper;     // fill limit
};

AddressMap* make(int32_t size);
// Stores the value under the key, replacing what was there.
void put(AddressMap* map, uint32_t key, uint32_t value);
// The value word stored under the key, or null.
uint32_t* get(AddressMap* map, uint32_t key);
void delete_(AddressMap* map, uint32_t key);
int32_t size(const AddressMap* map);
// The live pair after the given one (its key word), or the first when pair is null; null
// at the end. A pair is two words: key, value.
uint32_t* next(AddressMap* map, const uint32_t* pair);
void clear(AddressMap* map);
void free(AddressMap* map);

}  // namespace zuv::addressmap
