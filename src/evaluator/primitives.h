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

namespace zuv::interpreter {
// A refinement decided at run time for call_builtin.
struct BuiltinRefinement {
    const Cell* value;     // its truth switches it on
    int32_t slot;          // 1-based refinement slot
    int32_t frame_index;   // frame index of its first argument
    int32_t arg_count;
};
// Calls action e (1-based) or native e with refinements decided at run time.
void call_builtin(int32_t e, bool native, int32_t slots, std::initializer_list<BuiltinRefinement> refinements);
}  // namespace zuv::interpreter

namespace zuv::natives {
// The switch search over the frame's value and cases: the cell after the match in the cases
// block, or null when nothing matches (or no block follows the match with skip).
const Cell* switch_lookup(bool skip);
}  // namespace zuv::natives

