// Case changes of string! and char! values in place, over the case-folding tables.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::case_folding {

// uppercase (mode 1) and lowercase (mode 0): a char! changed in its cell, or a string's code
// points from its head changed in place, widening the buffer when a mapping needs a wider
// unit. limit (null: to the tail) is an integer! count or a position in the same string;
// anything else raises script/invalid-refine-arg with /part and the limit.
void change_string(Cell* value, const Cell* limit, int32_t mode);

}  // namespace zuv::case_folding
