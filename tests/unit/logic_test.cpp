// unset!, none!, logic! and datatype!: forms, molds, comparisons and conversions.
#include <gtest/gtest.h>

#include "datatypes/logic.h"
#include "memory/error.h"
#include "runtime/throw.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class LogicTest : public RuntimeTest {};

Cell make_value(Type target, Cell spec, bool to) {
    Cell proto;
    datatype::make_at(&proto, static_cast<int>(target));
    auto f = reinterpret_cast<slotfn::Make>(datatype::action_of(target, to ? datatype::slot::to : datatype::slot::make));
    Cell* r = f(&proto, &spec, static_cast<int32_t>(target));
    return *r;
}

}  // namespace

TEST_F(LogicTest, FormsAndMolds) {
    struct Case {
        Cell value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {logic::shared_true, "true", "true", "#(true)"},
        {logic::shared_false, "false", "false", "#(false)"},
        {none::shared, "none", "none", "#(none)"},
        {unset::shared, "", "unset", "#(unset)"},
        {Cell{1, 4, 0, 0}, "logic", "logic!", "#(logic!)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.form);
        EXPECT_EQ(mold(c.value), c.mold);
        EXPECT_EQ(mold(c.value, true), c.mold_all);
    }
}

TEST_F(LogicTest, MakeAndTo) {
    struct Case {
        Cell spec;
        bool to;
        bool expected;
    } cases[] = {
        {integer(0), false, false}, {integer(2), false, true}, {integer(0), true, true},
        {none::shared, true, false}, {none::shared, false, false}, {unset::shared, true, true},
    };
    for (const Case& c : cases) {
        Cell r = make_value(Type::logic, c.spec, c.to);
        ASSERT_TRUE(r.is(Type::logic));
        EXPECT_EQ(logic::get(&r), c.expected) << mold(c.spec) << (c.to ? " to" : " make");
    }
    Cell zero;
    cell::make(&zero, Type::float_);
    zero.set_float23(0.0);
    EXPECT_FALSE(logic::get(&(zero = make_value(Type::logic, zero, false))));
}

TEST_F(LogicTest, Compare) {
    Cell t = logic::shared_true, f = logic::shared_false, n = none::shared, u = unset::shared;
    EXPECT_TRUE(actions::compare(&t, &t, actions::op::equal));
    EXPECT_FALSE(actions::compare(&t, &f, actions::op::equal));
    EXPECT_TRUE(actions::compare(&n, &n, actions::op::equal));
    EXPECT_TRUE(actions::compare(&u, &u, actions::op::strict_equal));
    EXPECT_FALSE(actions::compare(&n, &u, actions::op::equal));
    EXPECT_GT(actions::compare_dispatch(&t, &f, actions::op::sort), 0);  // sorting puts false first
    // Sorting orders them, but true < false is no comparison the language makes.
    EXPECT_THROW(actions::compare(&f, &t, actions::op::lesser), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_invalid_compare);
    Cell i2 = integer(1);
    EXPECT_THROW(actions::compare(&t, &i2, actions::op::lesser), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_invalid_compare);
    Cell i1{1, 4, 0, 0}, f1{1, 3, 0, 0};
    EXPECT_TRUE(actions::compare(&i1, &i1, actions::op::equal));
    EXPECT_FALSE(actions::compare(&i1, &f1, actions::op::equal));
}

TEST_F(LogicTest, LogicOperators) {
    auto op = [](int slot, Cell a, Cell b) {
        auto f = reinterpret_cast<slotfn::Binary>(datatype::action_of(Type::logic, slot));
        return logic::get(f(&a, &b));
    };
    EXPECT_FALSE(op(datatype::slot::and_t, logic::shared_true, logic::shared_false));
    EXPECT_FALSE(op(datatype::slot::xor_t, logic::shared_true, logic::shared_true));
    EXPECT_TRUE(op(datatype::slot::or_t, logic::shared_false, logic::shared_true));
    EXPECT_THROW(op(datatype::slot::or_t, logic::shared_true, integer(1)), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_expect_arg);
    Cell t = logic::shared_true;
    auto c = reinterpret_cast<slotfn::Unary>(datatype::action_of(Type::logic, datatype::slot::complement));
    EXPECT_FALSE(logic::get(c(&t)));
}

TEST_F(LogicTest, Truth) {
    Cell u = unset::shared;
    EXPECT_TRUE(logic::true_q(&u, false, nullptr));
    EXPECT_THROW(logic::true_q(&u, true, &u), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_no_value);
    EXPECT_FALSE(logic::truth(&none::shared));
    Cell zero = integer(0);
    EXPECT_TRUE(logic::truth(&zero));
    stack::reset();
    EXPECT_TRUE(logic::top_false_q());  // no argument cell: both answer true
    EXPECT_TRUE(logic::top_true_q());
}
