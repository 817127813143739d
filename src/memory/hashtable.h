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
#include "memory/memory.h"

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

inline Record* record_of(Ref table) { return reinterpret_cast<Record*>(memory::buffer_of(table)->head_ptr()); }

// The internal datatype of a string-family lookup key: hashed and compared as text, and
// when its third data word is zero or more only that many code points from its head count.
constexpr Type text_key = static_cast<Type>(56);

// The insertion status of a hash! table that grew: it was rebuilt over its whole series,
// the value included, and the insertion stopped there.
constexpr int32_t rebuilt = 2;

// The process-wide seed of the byte hash, set once at start-up before any table is made.
extern uint32_t seed;

// Map key preparation, supplied by map!: put_all applies it to each new key (on a copy,
// written back), so word keys become set-words and text keys private copies. Null leaves
// keys as they are.
using KeyHook = void (*)(Cell* key);
extern KeyHook prepare_map_key;

uint32_t hash_bytes(const void* data, size_t length);
uint32_t mix32(uint32_t word);
// Every caller passes case_sensitive false: equal text in any letter case hashes alike.
uint32_t hash_value(const Cell* value, bool case_sensitive);

// Makes a table and indexes the source series (a hash! block one cell at a time, a map!
// block two). sub_kind: kind 2: 1 symbol table, 2 context words (a source context! cell
// names a prototype word table, which is copied); kinds 3-4: value cells per key.
// Without a source (and for kinds 3-4) the table gets a new cell series of its own.
Ref make(int32_t size, const Cell* source, int32_t kind, int32_t sub_kind);
// Kinds 0-2: index one cell of the indexed series. Both give the value's cell again (it may
// have moved); insert's status is 0, or `rebuilt`.
Cell* put(Ref table, Cell* value);
Cell* insert(Ref table, Cell* value, int32_t* status);
// Indexes the series from a cell index to its tail; a map's repeated keys overwrite the
// first pair's value and their pairs leave the block.
void put_all(Ref table, int32_t start, int32_t step);
// Kinds 0-2. A map looks word keys up as set-words. For a hash!, the cell qualifies when
// compare(cell, key, op) holds and its distance from start is a multiple of skip:
// forward the first at or after start, last the last at or after start, reverse the last
// before start.
Cell* find(Ref table, const Cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);
// Map keys equal (op 0) to the key, one per call: *bucket is -1 on the first call, and the
// three words carry the probe position between calls.
Cell* find_next(Ref table, const Cell* key, int32_t* bucket, int32_t* start, int32_t* step);
// map! tables (kind 1), one probe a call. Word keys are looked up as set-words; op is
// equal, strict_equal or same. find_map_key gives the key's cell in the block, or null.
Cell* find_map_key(Ref table, const Cell* key, int32_t op);
// A store in two steps around the appending of a new pair. probe_map_key makes room for one
// more key, then gives the key's cell index in the block, or -1 with *bucket the bucket a new
// key takes; allocation leaves that bucket valid, any change to the table does not.
int32_t probe_map_key(Ref table, const Cell* key, int32_t op, uint32_t* bucket);
// The new key at cell index position takes the bucket probe_map_key gave.
void claim_map_bucket(Ref table, uint32_t bucket, int32_t position);
// The store of an integer key in one step, for a caller whose block already has room for the
// pair: gives the key's cell index, or -1 when the key was new and its bucket now names cell
// index position, where the caller writes the pair before anything can allocate.
int32_t store_map_integer(Ref table, uint32_t number, int32_t position);
// hash!: unindexes the cell. map!: marks the pair removed (value header 0); the key stays.
void delete_(Ref table, Cell* cell);
void delete_range(Ref table, int32_t index, int32_t count);
// hash!: cells [index, index + count) now stand offset cells further; their stored
// positions follow. With adjust, a negative offset first unindexes the -offset cells
// before index (the removed ones) and the index array moves too. Declines (1) above
// 30,000 cells, for the caller to rebuild.
int32_t refresh(Ref table, int32_t offset, int32_t index, int32_t count, bool adjust);
// hash!: the count cells at source now stand at destination (where the run's first cell
// ends up), the cells between having shifted to make room.
void move(Ref table, int32_t destination, int32_t source, int32_t count);
// A copy of the table over another series (kinds 3-4: over a copy of its entries when
// series is 0).
Ref copy(Ref table, Ref series);
void clear(Ref table);
void rebuild(Ref table, int32_t size);
void resize(Ref table, int32_t buckets);
// Kinds 3-4. Each gives the first value cell of the key's entry (valid until the next
// allocation); put_key resets every cell of the entry to unset.
Cell* put_key(Ref table, uint32_t key);
Cell* get_key(Ref table, uint32_t key);
Cell* remove_key(Ref table, uint32_t key);
// Tables whose hashes depend on node addresses are stamped with the collection count;
// after a collection the first lookup rebuilds (hash!) or re-hashes (kinds 3-4) them.
void refresh_after_collection(Ref table);
void rehash_after_collection(Ref table);
// The 1-based symbol id of a UTF-8 name, interning it when new. Case-insensitive
// interning gives a new spelling of a known name the known one's id as its alias.
int32_t intern_symbol(Ref table, const uint8_t* name, int32_t length, bool case_insensitive);
// Context word lookup; with a context given, adds the word when absent (then -1 is
// returned and *index receives the new word's index).
int32_t find_word(Ref table, int32_t symbol, bool case_insensitive, Ref context, int32_t* index);
// Diagnostic listing of the deleted and live buckets.
void dump(Ref table);

// Collector steps. Tables of kinds 3-4 are weak: purge drops the entries whose keys (or,
// for ownership, owners) died; only registered tables are purged.
void mark(Ref* table_slot);
void purge(Ref table);
// Purges every table registered for purging (ownership and id tables).
void purge_all();
void register_purged(Ref* table_slot);
void unregister_purged(Ref* table_slot);

}  // namespace zuv::hashtable
