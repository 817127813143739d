// Values and action calls for the number datatypes' tests: cells of each type, the actions
// reached through the registry as the dispatcher reaches them, and the error an expression
// raises.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "evaluator/error.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

namespace zuv::testing {

inline Cell number(Type t, double v) {
    Cell c;
    cell::make(&c, t);
    c.set_float23(v);
    return c;
}
inline Cell flt(double v) { return number(Type::float_, v); }
inline Cell pct(double v) { return number(Type::percent, v); }
inline Cell tim(double seconds) { return number(Type::time, seconds); }
inline Cell chr(uint32_t cp) { return Cell{static_cast<uint32_t>(Type::char_), 0, cp, 0}; }
inline Cell of_type(Type t) { return Cell{static_cast<uint32_t>(t), 0, 0, 0}; }

// A binary! or block! kept alive on the argument stack.
inline Cell binary(std::initializer_list<uint8_t> bytes) {
    const Ref node = memory::alloc_bytes(static_cast<int64_t>(bytes.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    uint8_t* p = b->head_ptr();
    for (uint8_t x : bytes) *p++ = x;
    b->tail = b->head + static_cast<uint32_t>(bytes.size());
    Cell c;
    cell::make(&c, Type::binary, 0, node, 0);
    return *stack::push(&c);
}
inline Cell block_of(std::initializer_list<Cell> values) {
    Cell* b = stack::push_slot();
    block::make_at(b, static_cast<int32_t>(values.size()));
    for (const Cell& v : values) block::append(b, &v);
    return *b;
}

// Actions, called with copies: the result is the cell the action gives.
inline Cell binary_op(int slot, Cell a, Cell b) {
    auto f = reinterpret_cast<slotfn::Binary>(datatype::action_of(a.type(), slot));
    EXPECT_NE(f, nullptr);
    return *f(&a, &b);
}
inline Cell unary_op(int slot, Cell a) {
    auto f = reinterpret_cast<slotfn::Unary>(datatype::action_of(a.type(), slot));
    EXPECT_NE(f, nullptr);
    return *f(&a);
}
inline bool predicate(int slot, Cell a) {
    return reinterpret_cast<slotfn::Predicate>(datatype::action_of(a.type(), slot))(&a);
}
inline Cell convert(Type target, Cell spec, bool to = true) {
    Cell proto = of_type(target);
    auto f = reinterpret_cast<slotfn::Make>(
        datatype::action_of(target, to ? datatype::slot::to : datatype::slot::make));
    return *f(&proto, &spec, static_cast<int32_t>(target));
}

// The refinements of round, by name.
struct Modes {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};
inline Cell rounded(Cell v, const Cell* scale, Modes m = {}) {
    auto f = reinterpret_cast<slotfn::Round>(datatype::action_of(v.type(), datatype::slot::round));
    Cell s = scale ? *scale : Cell{};
    return *f(&v, scale ? &s : nullptr, m.even, m.down, m.half_down, m.floor, m.ceiling, m.half_ceiling);
}

inline bool compare(Cell a, Cell b, int32_t op) { return actions::compare(&a, &b, op); }

// The error an expression raises; {0, 0} when it raises none.
template <class F>
error::Id raised(F&& f) {
    try {
        f();
    } catch (const runtime::Throw&) {
        return error::last.id;
    }
    return error::Id{0, 0};
}

// "type: mold" of a value, so one string checks both.
inline std::string typed(const Cell& v) {
    const char* name = datatype::records[static_cast<uint8_t>(v.type())].name;
    return std::string(name ? name : "?") + " " + mold(v);
}

}  // namespace zuv::testing
