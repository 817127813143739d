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
// When the value's node (data word 1 of an object!, word 2 of a series) is on the cycle
// stack, appends a placeholder to the string instead of walking it again and lowers the
// budget by its length: molding writes "[...]" for block! and hash!, "(...)" for paren!,
// "#[...]" for map!, "make object! [...]" for object! and "..." for the paths; forming
// writes "..." for every type. True when it did.
bool cycle(const Cell* value, Cell* buffer, int32_t* budget, bool molding);
}  // namespace zuv::mold
