// map!: key/value pairs in insertion order in an ordinary block (key at an even position,
// its value right after it), with a hash table over the keys. A removed pair stays in the
// block with a value cell whose header word is 0; every reader skips it.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::map {

// The node of the hash table over the keys (data word 3; the block is the series part).
inline Ref table_of(const Cell* m) { return m->data3; }

// The key types a map accepts.
bool valid_key_q(Type t);
// Makes a key fit for storing: text and binary keys become private copies from their head,
// word keys set-words. Another type raises script/invalid-path with the accessed value
// (none when null) and the key's datatype.
void prepare_key(Cell* key, const Cell* accessed);

// Turns the cell into a map over the block's key/value pairs (its repeated keys merged, the
// last value winning), or over a new empty block of size cells when block is null. The
// block should be one the collector sees; raises script/invalid-path for a bad key.
void make_at(Cell* c, Cell* block, int32_t size);
// Turns a block the reader loaded into a map! in place; false when its length is odd or a key
// cannot be a map key.
bool make_from_loaded(Cell* block);
Cell* push(const Cell* m);
// The number of live pairs.
int32_t size(const Cell* m);
// Stores a value under a key (case-sensitive lookup with case_): a new pair at the tail, or
// the existing one (revived when it was removed). accessed is what an invalid key's error
// names. Gives the value.
Cell* put(Cell* m, Cell* key, Cell* value, bool case_, const Cell* accessed);
// The value under a key, or none, into m (case-sensitive with case_, identity with same).
Cell* select(Cell* m, const Cell* key, bool case_, bool same);
// Adds or updates the pairs of a block of keys and values; script/invalid-arg for an odd count.
Cell* extend(Cell* m, Cell* block, bool case_);
// The foreach step over a map: the cursor's index is the next cell; the words take the next
// live keys and values in turn (a set-word key as a word!), the rest none. False when no
// word was set.
bool foreach_next(Cell* words, Cell* cursor);

void init();

}  // namespace zuv::map
