// Services of other modules that the natives call before those modules exist: the bitset!
// set routine and the making of a map! from a block of pairs. Until each
// module defines its routine, the stand-in in runtime/pending.cpp raises internal/not-done.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::bitset {
// The set operation on the frame's two bitset! arguments (op codes 8-12), into the result slot.
void do_bitwise(int32_t op);
}  // namespace zuv::bitset

namespace zuv::map {
// Turns the cell into a map! over the block's key/value pairs (a new empty block of size
// cells when block is null).
void make_at(Cell* c, Cell* block, int32_t size);
}  // namespace zuv::map
