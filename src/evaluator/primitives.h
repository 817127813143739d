// The small helpers that natives and runtime code share: the boot literals, the by-index
// calling of natives and actions, and the switch search.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "memory/error.h"
#include "memory/cell.h"

namespace zuv::literal {
// The boot literals: cells of the root block from the literal base on.
extern int32_t base;
Cell* cell(int32_t n);
}  // namespace zuv::literal

namespace zuv::natives {
// The switch search over the frame's value and cases: the cell after the match in the cases
// block, or null when nothing matches (or no block follows the match with skip).
const Cell* switch_lookup(bool skip);
}  // namespace zuv::natives

