// Hash tables: one open-addressing design for hash! and map! indexes, the symbol table and
// context word tables, and tables keyed by 32-bit ids (ownership). A table never owns the
// values it indexes: it stores positions into one series. Tables live in the arena and
// are reached through the node of their record.
#pragma once
#include <cstddef>
#include <cstdint>

#include "memory/arena.h"
#include "memory/cell.h"

namespace zuv::hashtable {

enum Kind : int32_t { kind_hash = 0, kind_map = 1, kind_words = 2, kind_id = 3, kind_ownership = 4 };

struct Record {
    int32_t size;       // live keys
    int32_t indexes;    // kind 0: node of the index array; kinds 3-4: bytes of one entry
    Ref chains;         // kind 0: node of the chain buffer
    Ref flags;          // node of the bucket flags, 2 bits per bucket
    Ref keys;           // node of the keys, one word per bucket
    Ref series;         // node of the indexed series (kinds 3-4: the entry series)
    int32_t occupied;   // buckets filled since the last (re)hash, deleted ones included
    int32_t buckets;    // a power of two, at least 4
    int32_t upper;      // fill limit
    int32_t kind;
    uint32_t stamp;     // 0, or collection count + 1 at the last (re)hash
};
static_assert(sizeof(Record) == 44);

// The process-wide seed of the byte hash, set once before any table is made.
extern uint32_t seed;

uint32_t hash_bytes(const void* data, size_t length);
uint32_t mix32(uint32_t word);

// Collector steps.
void mark(Ref* table_slot);
void purge(Ref table);
// Purges every table registered for purging (ownership and id tables).
void purge_all();
void register_purged(Ref* table_slot);

}  // namespace zuv::hashtable
