// Hash tables: one open-addressing design for hash! and map! indexes, the symbol table and
// context word tables, and tables keyed by 32-bit ids (ownership). A table never owns the
// values it indexes: it stores positions into one series. Tables live in the arena and
// are reached through the node of their record; every operation takes that node and
// reaches the record again after each allocation.
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

Record* record_of(Ref table);

// The process-wide seed of the byte hash, set once at start-up before any table is made.
extern uint32_t seed;

uint32_t hash_bytes(const void* data, size_t length);
uint32_t mix32(uint32_t word);
uint32_t hash_value(const Cell* value, bool case_sensitive);

// sub_kind: kind 2: 1 symbol table, 2 context words; kinds 3-4: value cells per key.
Ref make(int32_t size, const Cell* source, int32_t kind, int32_t sub_kind);
Cell* put(Ref table, Cell* value);
Cell* insert(Ref table, Cell* value, int32_t* status);
void put_all(Ref table, int32_t start, int32_t step);
Cell* find(Ref table, const Cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);
Cell* find_next(Ref table, const Cell* key, int32_t* bucket, int32_t* start, int32_t* step);
void delete_(Ref table, Cell* cell);
void delete_range(Ref table, int32_t index, int32_t count);
int32_t refresh(Ref table, int32_t offset, int32_t index, int32_t count, bool adjust);
void move(Ref table, int32_t destination, int32_t source, int32_t count);
Ref copy(Ref table, Ref series);
void clear(Ref table);
void rebuild(Ref table, int32_t size);
void resize(Ref table, int32_t buckets);
Cell* put_key(Ref table, uint32_t key);
Cell* get_key(Ref table, uint32_t key);
Cell* remove_key(Ref table, uint32_t key);
// The 1-based symbol id of a UTF-8 name, interning it when new.
int32_t intern_symbol(Ref table, const uint8_t* name, int32_t length, bool case_insensitive);
// Context word lookup; with a context given, adds the word when absent (then -1 is
// returned and *index receives the new word's index).
int32_t find_word(Ref table, int32_t symbol, bool case_insensitive, Ref context, int32_t* index);
void empty_hook(Ref table);

// Collector steps.
void mark(Ref* table_slot);
void purge(Ref table);
// Purges every table registered for purging (ownership and id tables).
void purge_all();
void register_purged(Ref* table_slot);

}  // namespace zuv::hashtable
