// Calling the immediate datatypes' actions from tests: binary actions, make and to, blocks
// of values, and the error an expression raises.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>

#include "datatypes/block.h"
#include "memory/error.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

namespace zuv::error {
inline void PrintTo(const Id& id, std::ostream* os) { *os << int(id.category) << "/" << int(id.index); }
}  // namespace zuv::error

namespace zuv::testing {

// The action of a datatype's slot; an empty slot raises script/expect-arg as a call would.
template <class F>
F action(Type t, int slot) {
    Cell probe;
    cell::make(&probe, t);
    return reinterpret_cast<F>(actions::get_action_ptr_of(&probe, slot));
}

// a op b through the action slot of a's datatype; gives the result cell.
inline Cell binary(Cell a, Cell b, int slot) {
    Cell* pa = stack::push(&a);
    Cell* pb = stack::push(&b);
    return *action<slotfn::Binary>(a.type(), slot)(pa, pb);
}

inline Cell unary(Cell a, int slot) {
    Cell* pa = stack::push(&a);
    return *action<slotfn::Unary>(a.type(), slot)(pa);
}

inline Cell convert(Type target, Cell spec, bool to) {
    Cell proto;
    datatype::make_at(&proto, static_cast<int>(target));
    Cell* held = stack::push(&spec);
    return *action<slotfn::Make>(target, to ? datatype::slot::to : datatype::slot::make)(&proto, held,
                                                                                         static_cast<int32_t>(target));
}

// The signed order of two values (-2 when they cannot be compared).
inline int32_t order(Cell a, Cell b, int32_t op) { return actions::compare_dispatch(&a, &b, op); }

inline Cell number(double d, Type t = Type::float_) {
    Cell c;
    cell::make(&c, t);
    c.set_float23(d);
    return c;
}

inline const Cell none_cell{static_cast<uint32_t>(Type::none), 0, 0, 0};

// A block of the values, kept on the argument stack.
inline Cell block_of(std::initializer_list<Cell> values) {
    Cell* b = block::push_new(static_cast<int32_t>(values.size()));
    for (const Cell& v : values) block::append(b, &v);
    return *b;
}

// The error an expression raises, or nothing when it returns.
template <class F>
std::optional<error::Id> raised(F&& f) {
    try {
        f();
    } catch (const runtime::Throw&) {
        return error::last.id;
    }
    return std::nullopt;
}

}  // namespace zuv::testing
