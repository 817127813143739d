// The small helpers that natives and runtime code use on arguments, words and context
// slots, and the by-index calling of natives and actions.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "memory/error.h"
#include "memory/cell.h"

namespace zuv::function {
// Argument checks against a typeset; the errors name the called word and the argument.
const Cell* check_arg_type(const Cell* typeset, int32_t index, const Cell* value);
}  // namespace zuv::function

namespace zuv::word {
// Stores the newest stack value into the word; set also drops the stack to the frame base.
void set_keep(Cell* word);
}  // namespace zuv::word

namespace zuv::context {
void set_slot_keep(Ref ctx, int32_t index);
Cell* get_slot(Ref ctx, int32_t index);
}  // namespace zuv::context

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

