// The interpreter: walks a block one expression at a time over the argument and call
// stacks. Positions are cell indexes from the first cell of the code block's buffer, so an
// evaluation survives the collector moving that buffer.
//
// Non-local exits (break, continue, return, exit, throw) do not throw C++ exceptions on
// their way out of interpreted code: the exit's native unrolls the stacks and leaves its
// code in `pending`; every evaluation step returns at once while a code is pending, and
// the construct the exit is for (a loop, a function, a catch) takes it. C++ code that
// cannot return early turns a pending code into a throw with throw_pending, and those
// constructs take the thrown form too. Errors always travel as C++ exceptions.
#pragma once
#include <cstdint>

#include "datatypes/context.h"
#include "memory/cell.h"

namespace zuv::interpreter {

extern Cell current_block;
extern uint32_t tracing;
extern uint32_t pending;

void init();

// Evaluates every expression of a block! or paren! and leaves the last value as the
// frame's result (keep_last: in the caller's result slot; else as its newest cell).
void eval_block(const Cell* block, bool keep_last);
// The same inside the current frame, whose first cell takes the result: for a loop's body,
// run in the loop's own frame (the block must be held below the frame, as a loop's argument
// is). On a pending exit it returns at once.
void eval_block_in_frame(const Cell* block);
// The same at the top of the current frame, whose cells below stay as they are (a native's
// arguments, a function's arguments and locals): the last value is left pushed (unset for an
// empty block). For code run while no tracer watches (a tracer sees each block's frame). On a
// pending exit it returns at once.
void eval_block_pushed(const Cell* block);
// One expression from pos inside a <body> frame; gives the index after it.
int32_t eval_next(const Cell* block, int32_t pos, int32_t end, bool sub);
int32_t do_next(const Cell* block);
int32_t eval_expression(const Cell* block, int32_t pos, int32_t end, bool no_infix, bool sub, bool no_call);

// Call modes of apply.
namespace mode {
constexpr uint32_t apply_all = 1, apply = 2, safer = 4;
}

// An operator's call on an integer left operand and a right one that needs no evaluation (an
// integer, or a word whose value is one), for the arithmetic and comparison functions only:
// writes the result over left and gives true; false leaves everything to the full call.
// The function is given by its type and internal series (an op! cell holds both for the
// function it wraps, read without unwrapping it); right is the operand's cell of code, null
// at the end of the code.
bool infix_integer(Type fn_type, Ref fn_series, Cell* left, const Cell* right);
// Empties what the calls and infix_integer remember of the functions they have met: at
// start-up and at each collection, which frees and moves the nodes they know them by.
void forget_functions_seen();

// The op! value that a cell of code names, if it is a word naming one: what makes the value
// before it an operator's left operand. Null otherwise.
inline const Cell* operator_named(const Cell* at) {
    if (!at->is(Type::word)) return nullptr;
    const Cell* v = context::bound_value(at);
    return v && v->is(Type::op) ? v : nullptr;
}

// Calls any function value with its arguments fetched from the code at pos (or, with a
// path, its refinements from the path's elements after path_pos).
int32_t call_any_function(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* path,
                          int32_t path_pos, const Cell* name, const Cell* object, uint32_t mode, bool infix);
// A call of the function value a word names (with a path, its refinements named by the
// path's elements after path_pos): while no tracer watches, a native, action or function
// whose argument cache is plain is called by a lean path that fetches the arguments it plans,
// else call_any_function calls it.
int32_t call_named(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name,
                   const Cell* path = nullptr, int32_t path_pos = 0);
// An operator's call, its left operand at the stack's top: the lean way for a native or
// action of two plain arguments while no tracer watches, else call_any_function's.
int32_t call_operator(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name);
// call_named's lean calls without a path, for a native or action and for a function.
int32_t call_native(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name);
int32_t call_plain_function(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name);
// Calls a function value with argument values given by runtime code (handlers,
// comparators, callbacks): its frame is laid out from its spec, unused refinements off,
// missing arguments none. The result goes into result. With write_back, the final values of
// the arguments after the first are copied there (a callback may move a series argument).
// callback_kind: the kind of runtime code calling (trace.h callback::), which decides whether
// a tracer follows the call; 0 for none.
void apply_function(const Cell* fn, const Cell* name, const Cell* args, int count, Cell* result,
                    Cell* write_back = nullptr, uint32_t callback_kind = 0);

// Runs a function! whose arguments are already in its frame.
void call_function(const Cell* fn, Ref context, const Cell* name, uint32_t trace_mask);

// apply_function for callbacks that watch their arguments (the lexer's callback, PARSE's
// tracer): the final values of args[1..n) are copied back into args. Gives the result.
Cell call_with(const Cell* fn, const Cell* name, Cell* args, int32_t n, uint32_t callback_kind = 0);
int32_t eval_path(const Cell* path, const Cell* block, int32_t pos, int32_t end, bool set, bool get, bool sub);
// A path of two words whose first names an object! and whose second one of its fields, read
// or set without the walk: the field's value when it is one a plain read gives (set, not a
// function), or true when the value is stored (the object has the field and no change
// handler). Null or false leave everything to eval_path. Callers skip them while a tracer
// watches.
const Cell* plain_path_value(const Cell* path);
bool set_plain_path(const Cell* path, const Cell* value);

// Throws the pending exit as a C++ exception (for C++ code that cannot return early).
[[noreturn]] void throw_pending();
// Takes a caught throw code back into pending form when it is an exit.
bool is_exit_code(uint32_t code);

// The canonical words that name anonymous frames.
extern Cell body_word;
extern Cell anon_word;
extern Cell set_path_word;

}  // namespace zuv::interpreter
