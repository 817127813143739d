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
void check_frame_arg(int32_t n, const Cell* typeset, int32_t index);
const Cell* check_ref_arg(const Cell* refinement, const Cell* typeset, int32_t index, const Cell* value);
const Cell* check_arg_set(int32_t index, const Cell* value);
void set_refinement(const Cell* value, int32_t n, int32_t count);
}  // namespace zuv::function

namespace zuv::word {
Cell* get_checked(const Cell* word);
// Stores the newest stack value into the word; set also drops the stack to the frame base.
void set_keep(Cell* word);
Cell* set_from_top(Cell* word);
}  // namespace zuv::word

namespace zuv::context {
void set_slot_keep(Ref ctx, int32_t index);
void set_slot(Ref ctx, int32_t index);
void set_slot_any(Ref ctx, int32_t index);
Cell* get_slot(Ref ctx, int32_t index);
}  // namespace zuv::context

namespace zuv::literal {
// The boot literals: cells of the root block from the literal base on.
extern int32_t base;
Cell* cell(int32_t n);
Ref context_node(int32_t n);
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
// A path given as element cells: get, or set with the frame's first cell.
void eval_path_list(bool set, bool case_, std::initializer_list<const Cell*> elements);
}  // namespace zuv::interpreter

namespace zuv::natives {
// The switch search over the frame's value and cases; the cell after the match (the first
// block after it with skip), or none.
Cell* switch_find(bool push, bool skip);
// The same search giving the cell in the cases block, or null when nothing matches (or no
// block follows the match with skip).
const Cell* switch_lookup(bool skip);
}  // namespace zuv::natives

namespace zuv::value {
// The frame's first cell formed into a new string pushed on the stack, cut to limit when
// limit > 0.
Cell* form_to_string(Cell* part, int32_t limit);
}  // namespace zuv::value

namespace zuv::error {
// Reports an error from code running inside an OS callback, where nothing may be thrown.
void raise_from_os(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
[[noreturn]] void raise_bad_spec(const Cell* datatype, const Cell* spec);
}  // namespace zuv::error
