// Values and action calls for the number datatypes' tests: cells of each type, the actions
// reached through the registry as the dispatcher reaches them, and the error an expression
// raises.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "datatypes/block.h"
#include "memory/error.h"
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
namespace modes {
inline constexpr Modes none{}, even{.even = true}, down{.down = true}, half_down{.half_down = true},
    floor{.floor = true}, ceiling{.ceiling = true}, half_ceiling{.half_ceiling = true};
}
inline Cell rounded(Cell v, const Cell* scale, Modes m = {}) {
    auto f = reinterpret_cast<slotfn::Round>(datatype::action_of(v.type(), datatype::slot::round));
    Cell s = scale ? *scale : Cell{};
    return *f(&v, {.scale = scale ? &s : nullptr, .even = m.even, .down = m.down, .half_down = m.half_down,
                   .floor = m.floor, .ceiling = m.ceiling, .half_ceiling = m.half_ceiling});
}

inline bool compare(Cell a, Cell b, int32_t op) { return actions::compare(&a, &b, op); }

// A stand-in for a datatype built elsewhere (money!, pair!...), registered for one test with
// the given slots and taken away again, so the hand-over of mixed operations can be seen.
class StandIn {
public:
    StandIn(Type t, std::initializer_list<std::pair<int, void*>> slots) : id_(static_cast<uint8_t>(t)) {
        saved_ = datatype::records[id_];
        saved_registered_ = datatype::registered[id_];
        std::memcpy(saved_actions_, datatype::action_table[id_], sizeof saved_actions_);
        datatype::records[id_].name = "stand-in!";
        datatype::registered[id_] = true;
        std::memset(datatype::action_table[id_], 0, sizeof saved_actions_);
        for (auto [slot, f] : slots) datatype::action_table[id_][slot - 1] = f;
    }
    ~StandIn() {
        datatype::records[id_] = saved_;
        datatype::registered[id_] = saved_registered_;
        std::memcpy(datatype::action_table[id_], saved_actions_, sizeof saved_actions_);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

private:
    uint8_t id_;
    datatype::TypeRecord saved_;
    bool saved_registered_;
    void* saved_actions_[256];
};

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

// "type! mold" of a value, so one string checks both.
inline std::string typed(const Cell& v) {
    const char* name = datatype::records[static_cast<uint8_t>(v.type())].name;
    return std::string(name ? name : "?") + " " + mold(v);
}

// Tables of binary actions: a slot's action on (a, b) gives the typed text, or raises.
struct OpCase {
    Cell a;
    int slot;
    Cell b;
    const char* expected;
};
inline void expect_ops(std::initializer_list<OpCase> cases) {
    for (const OpCase& c : cases)
        EXPECT_EQ(typed(binary_op(c.slot, c.a, c.b)), c.expected) << mold(c.a) << " slot " << c.slot << " " << mold(c.b);
}
struct OpError {
    Cell a;
    int slot;
    Cell b;
    error::Id expected;
};
inline void expect_op_errors(std::initializer_list<OpError> cases) {
    for (const OpError& c : cases)
        EXPECT_EQ(raised([&] { binary_op(c.slot, c.a, c.b); }), c.expected)
            << mold(c.a) << " slot " << c.slot << " " << mold(c.b);
}

}  // namespace zuv::testing
