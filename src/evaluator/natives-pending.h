// Services of other modules that the natives call before those modules exist: the making
// of a map! from a block of pairs. Until its module defines it, the stand-in in
// runtime/pending.cpp raises internal/not-done.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::map {
// Turns the cell into a map! over the block's key/value pairs (a new empty block of size
// cells when block is null).
void make_at(Cell* c, Cell* block, int32_t size);
}  // namespace zuv::map
