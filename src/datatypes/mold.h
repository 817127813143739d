// Shared state and helpers of molding nested values (kept out of the datatype headers: the
// namespace would clash with the mold functions that tests bring in).
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::mold {
// The nesting depth of the element being molded.
extern int32_t depth;
// Appends n runs of four spaces; gives budget - 4 n.
int32_t indent(Cell* buffer, int32_t n, int32_t budget);
}  // namespace zuv::mold
