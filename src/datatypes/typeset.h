// typeset!: a set of datatypes held in the cell itself, 96 bits in the three data words
// (byte t / 8 of the data, bit 0x80 >> t % 8 for datatype id t).
#pragma once
#include <bit>
#include <cstdint>
#include <initializer_list>

#include "memory/cell.h"

namespace zuv::typeset {

// The three data words as one array of bits, and the same as bytes.
inline uint32_t* words(Cell* ts) { return &ts->data1; }
inline const uint32_t* words(const Cell* ts) { return &ts->data1; }

// Read a data word at a time: on a little-endian machine bit 0x80 >> t % 8 of byte t / 8 is
// bit (t % 32) ^ 7 of word t / 32.
static_assert(std::endian::native == std::endian::little);
inline bool has(const Cell* ts, uint32_t id) {
    return id < 96 && ((words(ts)[id >> 5] >> ((id & 31) ^ 7)) & 1);
}
inline void set(Cell* ts, uint32_t id) {
    auto* bytes = reinterpret_cast<uint8_t*>(words(ts));
    if (id < 96) bytes[id >> 3] |= static_cast<uint8_t>(0x80 >> (id & 7));
}
void clear(Cell* ts);
void make_at(Cell* ts, std::initializer_list<Type> types);
void make_default_at(Cell* ts);
Cell* make_in(Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
// A typeset from a function spec's type list.
Cell* from_block_in(Cell* block, const Cell* types);
// Adds a datatype, a typeset, or a word naming one.
void add(Cell* ts, const Cell* value);
int32_t count(const Cell* ts);
Cell* push(const Cell* ts);
// The member datatypes as a new block in out.
void to_block(const Cell* ts, Cell* out);
// The set operation on the frame's two arguments (op codes 5-12), into the result slot.
void do_bitwise(int32_t op);
void init();

}  // namespace zuv::typeset
