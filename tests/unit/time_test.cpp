// time!: text form, construction from parts, fields through pick and paths, the typing
// rules of its arithmetic, rounding and parity.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "datatypes/logic.h"
#include "datatypes/time.h"
#include "number_fixture.h"

namespace zuv::testing {

namespace slot = datatype::slot;

namespace {

class TimeTest : public RuntimeTest {};

Cell pick(Cell t, Cell index) {
    auto f = reinterpret_cast<slotfn::Pick>(datatype::action_of(Type::time, slot::pick));
    const int32_t i = index.is(Type::integer) ? index.int2() : 0;
    return *f(&t, i, &index);
}

// Gets (set_value null) or sets a field through a path; gives the result and the time.
Cell path(Cell& t, Cell element, const Cell* set_value = nullptr) {
    auto f = reinterpret_cast<slotfn::EvalPath>(datatype::action_of(Type::time, slot::eval_path));
    Cell v = set_value ? *set_value : Cell{};
    return *f(&t, &element, set_value ? &v : nullptr, false, nullptr, nullptr, 1, true, false);
}

}  // namespace

TEST_F(TimeTest, Form) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {3723, "1:02:03"},
        {0.5, "0:00:00.5"},
        {-5400, "-1:30:00"},
        {12.3456789, "0:00:12.3457"},
        {360000, "100:00:00"},
        {59.9999999, "0:00:60"},
        {0, "0:00:00"},
        {0.0000001, "0:00:00"},
        {3600.25, "1:00:00.25"},
        {7.5, "0:00:07.5"},
        {-0.5, "-0:00:00.5"},
        {86399, "23:59:59"},
        {1e10, "2777777:46:40"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(tim(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(mold(tim(c.seconds)), c.text) << c.seconds;
    }
    // Non-finite seconds still give a text, never undefined arithmetic.
    EXPECT_EQ(form(tim(INFINITY)), "1.#INF:00:00");
    EXPECT_EQ(form(tim(std::nan(""))), "1.#NaN:00:00");

    Cell value = tim(3723.5);
    Cell* s = string::push_new(8);
    auto f = reinterpret_cast<slotfn::Form>(datatype::action_of(Type::time, slot::form));
    EXPECT_EQ(f(&value, s, nullptr, 100), 100 - 9);
}

TEST_F(TimeTest, MakeAndTo) {
    struct Case {
        Cell spec;
        const char* expected;
    } cases[] = {
        {block_of({integer(1), integer(2), flt(3.5)}), "1:02:03.5"},
        {block_of({integer(-1), integer(30)}), "-1:30:00"},
        {block_of({integer(2)}), "2:00:00"},
        {block_of({}), "0:00:00"},
        {block_of({integer(0), integer(90), integer(90)}), "1:31:30"},
        {integer(90), "0:01:30"},
        {flt(1.5), "0:00:01.5"},
        {pct(0.5), "0:00:00.5"},
        {tim(61), "0:01:01"},
    };
    for (const Case& c : cases) {
        for (bool to : {true, false}) {
            Cell r = convert(Type::time, c.spec, to);
            ASSERT_TRUE(r.is(Type::time)) << mold(c.spec);
            EXPECT_EQ(form(r), c.expected) << mold(c.spec);
        }
    }
    const Cell bad[] = {
        block_of({integer(1), integer(-30)}),
        block_of({flt(1.5)}),
        block_of({integer(1), flt(2.5)}),
        block_of({integer(1), integer(2), integer(3), integer(4)}),
        block_of({integer(1), integer(2), pct(0.5)}),
        logic(true),
        chr('a'),
    };
    for (const Cell& spec : bad) {
        EXPECT_EQ(raised([&] { convert(Type::time, spec); }), error::id::script_bad_to_arg) << mold(spec);
        EXPECT_EQ(error::last.args[0].data1, static_cast<uint32_t>(Type::time));
    }
}

TEST_F(TimeTest, Fields) {
    Cell t = tim(3723);
    EXPECT_EQ(typed(pick(t, integer(1))), "integer! 1");
    EXPECT_EQ(typed(pick(t, integer(2))), "integer! 2");
    EXPECT_EQ(typed(pick(t, integer(3))), "float! 3.0");
    for (int32_t i : {0, 4, -1})
        EXPECT_EQ(raised([&] { pick(t, integer(i)); }), error::id::script_out_of_range) << i;

    Cell negative = tim(-5400);
    EXPECT_EQ(typed(pick(negative, integer(1))), "integer! -1");
    EXPECT_EQ(typed(pick(negative, integer(2))), "integer! 30");
    Cell s = pick(negative, integer(3));
    EXPECT_EQ(s.float23(), 0.0);
    EXPECT_TRUE(std::signbit(s.float23()));
    EXPECT_EQ(time::get_hours(-5400), -1);
    EXPECT_EQ(time::get_minutes(-5400), 30);
    EXPECT_EQ(raised([] { time::get_hours(1e20); }), error::id::math_overflow);

    const uint64_t bits = std::bit_cast<uint64_t>(3723.5);
    Cell b = block_of({});
    EXPECT_EQ(typed(*time::make_in(&b, uint32_t(bits >> 32), uint32_t(bits))), "time! 1:02:03.5");
    EXPECT_EQ(typed(*time::push(90)), "time! 0:01:30");
}

TEST_F(TimeTest, PathsSetFieldsInPlace) {
    Cell t = tim(3723);
    EXPECT_EQ(typed(path(t, integer(1))), "integer! 1");
    Cell forty_five = integer(45), seconds = flt(7.25), hour = integer(3), fraction = flt(1.5);
    EXPECT_EQ(typed(path(t, integer(2), &forty_five)), "integer! 45");
    EXPECT_EQ(form(t), "1:45:03");
    path(t, integer(3), &seconds);
    EXPECT_EQ(form(t), "1:45:07.25");
    path(t, integer(1), &hour);
    EXPECT_EQ(form(t), "3:45:07.25");
    EXPECT_EQ(raised([&] { path(t, integer(1), &fraction); }), error::id::script_invalid_arg);
    EXPECT_EQ(raised([&] { path(t, integer(2), &fraction); }), error::id::script_invalid_arg);
    EXPECT_EQ(raised([&] { path(t, integer(4)); }), error::id::script_invalid_path);
    EXPECT_EQ(raised([&] { path(t, flt(1.0)); }), error::id::script_invalid_path);
    EXPECT_EQ(form(t), "3:45:07.25");
}

TEST_F(TimeTest, ArithmeticTyping) {
    expect_ops({
        {tim(3600), slot::add, integer(30), "time! 1:00:30"},
        {tim(5400), slot::multiply, integer(2), "time! 3:00:00"},
        {tim(10800), slot::divide, tim(5400), "float! 2.0"},
        {tim(10800), slot::divide, integer(2), "time! 1:30:00"},
        {tim(3600), slot::subtract, tim(5400), "time! -0:30:00"},
        {tim(3600), slot::add, pct(0.5), "time! 1:00:00.5"},
        {tim(3661), slot::remainder, integer(60), "time! 0:00:01"},
        {integer(10), slot::multiply, tim(3600), "time! 10:00:00"},
        {flt(1.5), slot::add, tim(1), "time! 0:00:02.5"},
        {pct(0.5), slot::add, tim(1), "time! 0:00:01.5"},
    });
    EXPECT_EQ(typed(unary_op(slot::negate, tim(90))), "time! -0:01:30");
    EXPECT_EQ(typed(unary_op(slot::absolute, tim(-90))), "time! 0:01:30");

    Cell date = of_type(Type::date), pair = of_type(Type::pair);
    expect_op_errors({
        {tim(60), slot::multiply, tim(60), error::id::script_not_related},
        {tim(60), slot::subtract, date, error::id::script_not_related},
        {tim(60), slot::add, chr('a'), error::id::script_invalid_type},
        {tim(60), slot::add, pair, error::id::script_invalid_type},
    });
    EXPECT_EQ(datatype::action_of(Type::time, slot::power), nullptr);
}

TEST_F(TimeTest, RoundAlwaysGivesTime) {
    Cell one = integer(1), minute = tim(60), half = flt(0.5), money = of_type(Type::money);
    EXPECT_EQ(typed(rounded(tim(3723.7), &one)), "time! 1:02:04");
    EXPECT_EQ(typed(rounded(tim(3723.5), nullptr)), "time! 1:02:04");
    EXPECT_EQ(typed(rounded(tim(3723.5), nullptr, {.even = true})), "time! 1:02:04");
    EXPECT_EQ(typed(rounded(tim(3722.5), nullptr, {.even = true})), "time! 1:02:02");
    EXPECT_EQ(typed(rounded(tim(3723), &minute)), "time! 1:02:00");
    EXPECT_EQ(typed(rounded(tim(3723), &minute, {.ceiling = true})), "time! 1:03:00");
    EXPECT_EQ(typed(rounded(tim(3723.3), &half)), "time! 1:02:03.5");
    EXPECT_EQ(typed(rounded(tim(-3723.7), nullptr, {.down = true})), "time! -1:02:03");
    // Far beyond 32 bits of seconds an integer scale still keeps the time.
    EXPECT_EQ(rounded(tim(1e12 + 0.7), &one).float23(), 1e12 + 1);
    EXPECT_EQ(raised([&] { rounded(tim(1), &money); }), error::id::script_not_related);
}

TEST_F(TimeTest, ParityOfTheSecondsField) {
    struct Case {
        double seconds;
        bool even;
    } cases[] = {
        {2, true}, {59.9999999, true}, {3600, true}, {3, false}, {-3, false}, {61.5, false}, {-0.5, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(predicate(slot::even_q, tim(c.seconds)), c.even) << c.seconds;
        EXPECT_EQ(predicate(slot::odd_q, tim(c.seconds)), !c.even) << c.seconds;
    }
    EXPECT_FALSE(predicate(slot::even_q, tim(std::nan(""))));
    EXPECT_FALSE(predicate(slot::odd_q, tim(INFINITY)));
}

TEST_F(TimeTest, Compare) {
    EXPECT_TRUE(compare(tim(3600), integer(3600), actions::op::equal));
    EXPECT_FALSE(compare(tim(3600), integer(3600), actions::op::strict_equal));
    EXPECT_TRUE(compare(tim(3600), tim(3600), actions::op::strict_equal));
    EXPECT_TRUE(compare(tim(3600), tim(7200), actions::op::lesser));
    EXPECT_FALSE(compare(tim(3600), flt(3600), actions::op::same));
}

}  // namespace zuv::testing
