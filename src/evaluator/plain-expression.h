// Expressions that need no evaluation step of their own, taken by the evaluator's short
// ways: a literal, a word naming a value that is not a function, a field read by obj/field,
// then integer operators whose right operands are as plain. Callers skip them while a tracer
// watches (the full evaluator reports each step).
#pragma once
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "memory/cell.h"

namespace zuv::interpreter {

// A paren whose whole content is one plain expression, not itself starting with a paren:
// its value into out. (One level only, so a paren that holds itself ends.)
bool simple_paren(const Cell* paren, Cell* out);

// A word's value, already looked up, when it is plain: not a function to call, not unset.
inline bool plain_value(const Cell* v, Cell* out) {
    switch (v->type()) {
        case Type::unset: case Type::native: case Type::action: case Type::function: case Type::routine:
        case Type::op:
            return false;
        default:
            *out = *v;
            return true;
    }
}

// A single cell that evaluates to itself, to a word's plain value or to a plain paren's.
inline bool simple_operand(const Cell* c, Cell* out) {
    switch (c->type()) {
        case Type::word: {
            const Cell* v = context::bound_value(c);
            return v && plain_value(v, out);
        }
        case Type::path: {
            const Cell* v = plain_path_value(c);
            if (!v) return false;
            *out = *v;
            return true;
        }
        case Type::paren:
            return simple_paren(c, out);
        // An unset cell met as code is left to the evaluator, which refuses it where a value is needed.
        case Type::unset:
        case Type::set_word: case Type::set_path: case Type::get_word: case Type::lit_word:
        case Type::get_path: case Type::lit_path: case Type::op: case Type::native:
        case Type::action: case Type::function: case Type::routine: case Type::issue:
            return false;
        default:
            *out = *c;
            return true;
    }
}

// The integer operators after a plain operand (whose value is in out), each with a plain
// right operand: the position after them, or -1 when one needs the full evaluator. `cells` is
// the block's first cell, which stays put: nothing here allocates. A word met where the
// operators end, looked up to see that it names none, has its value slot put in `looked`
// (when asked for): the next argument's reading takes it from there.
inline int32_t simple_operators_in(const Cell* cells, int32_t pos, int32_t end, Cell* out,
                                   const Cell** looked = nullptr) {
    while (pos < end) {
        const Cell* at = cells + pos;
        if (!at->is(Type::word)) break;
        const Cell* named = context::bound_value(at);
        if (!named) break;
        if (!named->is(Type::op)) {
            if (looked) *looked = named;
            break;
        }
        if (!infix_integer(op::function_type(named), function::series_of(named), out, pos + 1 < end ? cells + pos + 1 : nullptr))
            return -1;
        pos += 2;
    }
    return pos;
}
inline int32_t simple_operators(const Cell* block, int32_t pos, int32_t end, Cell* out) {
    return simple_operators_in(block::cell_at(block, 0), pos, end, out);
}

// A whole plain expression from pos: its value into out and the position after it; -1, with
// nothing done, when the full evaluator is needed. With no_infix, the operand alone.
[[gnu::always_inline]] inline int32_t simple_expression(const Cell* block, int32_t pos, int32_t end, bool no_infix, Cell* out) {
    if (!simple_operand(block::cell_at(block, pos), out)) return -1;
    return no_infix ? pos + 1 : simple_operators(block, pos + 1, end, out);
}

}  // namespace zuv::interpreter
