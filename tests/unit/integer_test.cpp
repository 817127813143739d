// integer!: arithmetic with overflow promotion, rounding in every mode, power, conversions,
// comparison and text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/numeric.h"
#include "number_fixture.h"

namespace zuv::testing {

namespace slot = datatype::slot;

namespace {

class IntegerTest : public RuntimeTest {};

constexpr int32_t int_min = std::numeric_limits<int32_t>::min();
constexpr int32_t int_max = std::numeric_limits<int32_t>::max();

}  // namespace

TEST_F(IntegerTest, ArithmeticPromotesOnOverflowAndInexactDivision) {
    expect_ops({
        {integer(int_max), slot::add, integer(1), "float! 2147483648.0"},
        {integer(int_min), slot::subtract, integer(1), "float! -2147483649.0"},
        {integer(65536), slot::multiply, integer(65536), "float! 4294967296.0"},
        {integer(int_min), slot::multiply, integer(-1), "float! 2147483648.0"},
        {integer(2), slot::add, integer(3), "integer! 5"},
        {integer(7), slot::divide, integer(2), "float! 3.5"},
        {integer(6), slot::divide, integer(2), "integer! 3"},
        {integer(-7), slot::divide, integer(2), "float! -3.5"},
        {integer(-7), slot::remainder, integer(2), "integer! -1"},
        {integer(7), slot::remainder, integer(-2), "integer! 1"},
        {integer(12), slot::and_t, integer(10), "integer! 8"},
        {integer(12), slot::or_t, integer(10), "integer! 14"},
        {integer(12), slot::xor_t, integer(10), "integer! 6"},
        {integer(3), slot::add, chr('a'), "integer! 100"},
        {integer(1), slot::add, flt(0.5), "float! 1.5"},
        {integer(1), slot::add, pct(0.5), "float! 1.5"},
        {integer(10), slot::multiply, tim(3600), "time! 10:00:00"},
        {integer(7), slot::remainder, flt(2.5), "float! 2.0"},
    });
}

TEST_F(IntegerTest, ArithmeticErrors) {
    Cell tuple = of_type(Type::tuple), pair = of_type(Type::pair), date = of_type(Type::date),
         money = of_type(Type::money);
    expect_op_errors({
        {integer(1), slot::divide, integer(0), error::id::math_zero_divide},
        {integer(1), slot::remainder, integer(0), error::id::math_zero_divide},
        {integer(int_min), slot::divide, integer(-1), error::id::math_overflow},
        {integer(int_min), slot::remainder, integer(-1), error::id::math_overflow},
        {integer(1), slot::add, logic(true), error::id::script_invalid_type},
        {integer(1), slot::and_t, flt(1.0), error::id::script_cannot_use},
        {integer(5), slot::subtract, tuple, error::id::script_not_related},
        {integer(5), slot::divide, tuple, error::id::script_not_related},
        {integer(5), slot::divide, pair, error::id::script_not_related},
        {integer(5), slot::subtract, date, error::id::script_not_related},
        {integer(5), slot::xor_t, money, error::id::script_invalid_type},
    });
    EXPECT_EQ(raised([] { unary_op(slot::absolute, integer(int_min)); }), error::id::math_overflow);
    EXPECT_EQ(raised([] { unary_op(slot::negate, integer(int_min)); }), error::id::math_overflow);
}

TEST_F(IntegerTest, KernelWithoutResultCellWrapsAndTruncates) {
    // Callers without a cell (vector!, tuple! divide) keep 32 bits.
    EXPECT_EQ(integer::do_math_op(int_max, 1, numeric::add, nullptr), int_min);
    EXPECT_EQ(integer::do_math_op(7, 2, numeric::divide, nullptr), 3);
    EXPECT_EQ(integer::do_math_op(-7, 2, numeric::divide, nullptr), -3);
    // With a cell that stays integer!, the result lands in data word 2 and the flags stay.
    Cell r = integer(0);
    r.header |= header::new_line;
    EXPECT_EQ(integer::do_math_op(20, 22, numeric::add, &r), 42);
    EXPECT_EQ(r.int2(), 42);
    EXPECT_TRUE(r.header & header::new_line);
    // Promotion writes the whole header.
    EXPECT_EQ(integer::do_math_op(int_max, int_max, numeric::multiply, &r), 0);
    EXPECT_EQ(r.header, static_cast<uint32_t>(Type::float_));
    EXPECT_EQ(r.float23(), double(int_max) * double(int_max));
}

TEST_F(IntegerTest, UnaryActions) {
    EXPECT_EQ(typed(unary_op(slot::absolute, integer(-5))), "integer! 5");
    EXPECT_EQ(typed(unary_op(slot::negate, integer(int_max))), "integer! -2147483647");
    EXPECT_EQ(typed(unary_op(slot::complement, integer(0))), "integer! -1");
    EXPECT_TRUE(predicate(slot::even_q, integer(-4)));
    EXPECT_TRUE(predicate(slot::odd_q, integer(int_min + 1)));
    EXPECT_FALSE(predicate(slot::odd_q, integer(0)));
}

TEST_F(IntegerTest, RoundEveryMode) {
    using namespace modes;
    struct Case {
        int32_t value;
        Cell scale;
        Modes modes;
        const char* expected;
    } cases[] = {
        {17, integer(5), none, "integer! 15"},
        {18, integer(5), none, "integer! 20"},
        {15, integer(10), none, "integer! 20"},
        {-15, integer(10), none, "integer! -20"},
        {25, integer(10), even, "integer! 20"},
        {35, integer(10), even, "integer! 40"},
        {-35, integer(10), even, "integer! -40"},
        {15, integer(10), half_down, "integer! 10"},
        {-15, integer(10), half_down, "integer! -10"},
        {-11, integer(5), floor, "integer! -15"},
        {11, integer(5), floor, "integer! 10"},
        {-11, integer(5), ceiling, "integer! -10"},
        {11, integer(5), ceiling, "integer! 15"},
        {-15, integer(10), half_ceiling, "integer! -10"},
        {15, integer(10), half_ceiling, "integer! 20"},
        {-19, integer(10), down, "integer! -10"},
        {7, integer(-5), none, "integer! 5"},
        {7, integer(0), none, "integer! 7"},
        {20, integer(10), none, "integer! 20"},
        {int_min, integer(10), none, "integer! -2147483648"},
        // A multiple the integers cannot hold is refused only when it is the one chosen.
        {int_max, integer(10), down, "integer! 2147483640"},
        {2147483645, integer(10), even, "integer! 2147483640"},
        // Another scale hands the whole call to float!.
        {7, flt(0.5), none, "float! 7.0"},
        {7, flt(2.0), none, "float! 8.0"},
        {7, pct(0.5), none, "percent! 700%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typed(rounded(integer(c.value), &c.scale, c.modes)), c.expected) << c.value << " " << mold(c.scale);
    EXPECT_EQ(typed(rounded(integer(42), nullptr)), "integer! 42");

    Cell ten = integer(10), money = of_type(Type::money), min = integer(int_min);
    for (Modes m : {none, floor, ceiling, half_ceiling})
        EXPECT_EQ(raised([&] { rounded(integer(int_max), &ten, m); }), error::id::math_overflow);
    EXPECT_EQ(raised([&] { rounded(integer(-2147483647), &ten, floor); }), error::id::math_overflow);
    EXPECT_EQ(raised([&] { rounded(integer(7), &money); }), error::id::script_not_related);
    EXPECT_EQ(raised([&] { rounded(integer(7), &min); }), error::id::math_overflow);
}

TEST_F(IntegerTest, Power) {
    struct Case {
        int32_t base;
        Cell exponent;
        const char* expected;
    } cases[] = {
        {2, integer(10), "integer! 1024"},
        {2, integer(30), "integer! 1073741824"},
        {2, integer(31), "float! 2147483648.0"},
        {2, integer(32), "float! 4294967296.0"},
        {-2, integer(3), "integer! -8"},
        {-2, integer(31), "integer! -2147483648"},
        {-1, integer(int_max), "integer! -1"},
        {5, integer(0), "integer! 1"},
        {0, integer(0), "integer! 1"},
        {2, integer(-1), "float! 0.5"},
        {10, integer(-2), "float! 0.01"},
        {4, flt(0.5), "float! 2.0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typed(binary_op(slot::power, integer(c.base), c.exponent)), c.expected) << c.base;
    EXPECT_EQ(raised([] { binary_op(slot::power, integer(2), pct(0.5)); }), error::id::script_expect_arg);
}

TEST_F(IntegerTest, ConversionsToInteger) {
    struct Case {
        Cell spec;
        int32_t expected;
    } cases[] = {
        {integer(-3), -3},
        {chr(0x10FFFF), 0x10FFFF},
        {flt(-1.9), -1},
        {flt(2147483647.0), int_max},
        {flt(-2147483648.0), int_min},
        {pct(0.5), 0},
        {tim(3600.6), 3601},
        {tim(-1.6), -1},
        {binary({0x01, 0x02, 0x03, 0x04, 0xFF}), 16909060},
        {binary({0xFF}), 255},
        {binary({0xFF, 0xFF, 0xFF, 0xFE}), -2},
        {binary({}), 0},
        {*text("12"), 12},
        {*text("-2147483648"), int_min},
    };
    for (const Case& c : cases) {
        Cell r = convert(Type::integer, c.spec);
        ASSERT_TRUE(r.is(Type::integer)) << mold(c.spec);
        EXPECT_EQ(r.int2(), c.expected) << mold(c.spec);
    }
    EXPECT_EQ(convert(Type::integer, logic(true), false).int2(), 1);
    EXPECT_EQ(convert(Type::integer, logic(false), false).int2(), 0);

    struct Bad {
        Cell spec;
        error::Id expected;
    } bad[] = {
        {flt(2147483648.0), error::id::script_type_limit},
        {flt(-2147483649.0), error::id::script_type_limit},
        {flt(std::nan("")), error::id::script_type_limit},
        {flt(INFINITY), error::id::script_type_limit},
        {tim(1e12), error::id::script_type_limit},
        {*text("abc"), error::id::script_bad_to_arg},
        {*text("2147483648"), error::id::script_bad_to_arg},
        {*text(""), error::id::script_bad_to_arg},
        {logic(true), error::id::script_bad_to_arg},
        {none::shared, error::id::script_bad_to_arg},
    };
    for (const Bad& c : bad) EXPECT_EQ(raised([&] { convert(Type::integer, c.spec); }), c.expected) << mold(c.spec);
}

TEST_F(IntegerTest, CheckedConversionOfDoubles) {
    EXPECT_EQ(integer::from_double(2147483647.0), int_max);
    EXPECT_EQ(integer::from_double(-2147483648.0), int_min);
    EXPECT_EQ(integer::from_double(-2.9), -2);
    for (double d : {2147483648.0, 2147483647.5, -2147483648.5, std::nan(""), double(INFINITY), -double(INFINITY), 1e300})
        EXPECT_FALSE(integer::from_double(d).has_value()) << d;
    Cell f = flt(2147483648.0);
    EXPECT_TRUE(integer::float_overflow_q(&f));
    EXPECT_EQ(raised([&] { integer::from_number(&f); }), error::id::script_out_of_range);
    EXPECT_EQ(error::last.args[0].float23(), 2147483648.0);
    Cell g = flt(-2.9), c = chr('a');
    EXPECT_EQ(integer::from_number(&g), -2);
    EXPECT_EQ(integer::from_number(&c), 97);
}

TEST_F(IntegerTest, TextAndHelpers) {
    for (int32_t v : {0, 7, -5, int_max, int_min, 1000000}) {
        EXPECT_EQ(form(integer(v)), std::to_string(v));
        EXPECT_EQ(mold(integer(v)), std::to_string(v));
        EXPECT_EQ(integer::form_decimal(v).view(), std::to_string(v));
    }
    Cell c = flt(1.5);
    c.header |= header::new_line;
    integer::make_at(&c, 9);
    EXPECT_TRUE(c.is(Type::integer));
    EXPECT_TRUE(c.header & header::new_line);
    Cell* pushed = integer::push(4);
    EXPECT_EQ(integer::get(pushed), 4);
    EXPECT_EQ(integer::sign(-9), -1);
    EXPECT_EQ(integer::sign(0), 0);
}

TEST_F(IntegerTest, Compare) {
    EXPECT_TRUE(compare(integer(1), flt(1.0), actions::op::equal));
    EXPECT_FALSE(compare(integer(1), flt(1.0), actions::op::strict_equal));
    EXPECT_TRUE(compare(integer(1), integer(1), actions::op::strict_equal));
    EXPECT_TRUE(compare(integer(97), chr('a'), actions::op::equal));
    EXPECT_FALSE(compare(integer(97), chr('a'), actions::op::strict_equal));
    EXPECT_TRUE(compare(integer(1), integer(2), actions::op::lesser));
    EXPECT_TRUE(compare(integer(int_min), integer(int_max), actions::op::lesser));
    EXPECT_TRUE(compare(integer(3), flt(2.5), actions::op::greater));
    EXPECT_TRUE(compare(integer(3600), tim(3600), actions::op::equal));
    EXPECT_FALSE(compare(integer(1), flt(std::nan("")), actions::op::lesser_or_equal));
    EXPECT_EQ(raised([] { compare(integer(1), logic(true), actions::op::lesser); }), error::id::script_invalid_compare);
}

TEST_F(IntegerTest, Random) {
    auto draw = [](int32_t n, bool secure = false) {
        Cell v = integer(n);
        auto f = reinterpret_cast<slotfn::Random>(datatype::action_of(Type::integer, slot::random));
        return *f(&v, false, secure, false);
    };
    for (int i = 0; i < 200; ++i) {
        const int32_t up = draw(10).int2(), down = draw(-5).int2(), secure = draw(3, true).int2();
        EXPECT_TRUE(up >= 1 && up <= 10) << up;
        EXPECT_TRUE(down >= -5 && down <= -1) << down;
        EXPECT_TRUE(secure >= 1 && secure <= 3) << secure;
    }
    EXPECT_EQ(draw(0).int2(), 0);
    auto seed = [](int32_t s) {
        Cell v = integer(s);
        auto f = reinterpret_cast<slotfn::Random>(datatype::action_of(Type::integer, slot::random));
        return *f(&v, true, false, false);
    };
    EXPECT_TRUE(seed(42).is(Type::unset));
    const int32_t first = draw(1000000).int2();
    seed(42);
    EXPECT_EQ(draw(1000000).int2(), first);
}

namespace {

// A stand-in composite: one integer in data word 2; add and negate only, and add records the
// datatype of its second operand, to show which side each value arrived on.
Type seen_second = Type::none_id;
Cell* composite_add(Cell* a, Cell* b) {
    seen_second = b->type();
    a->data2 += b->data2;
    return a;
}
Cell* composite_negate(Cell* a) {
    a->data2 = static_cast<uint32_t>(-a->int2());
    return a;
}
// A stand-in amount: an integer in data word 2, comparable with integers and floats.
int32_t amount_compare(Cell* a, Cell* b, int32_t) {
    const double x = a->int2(), y = b->is(Type::integer) ? b->int2() : b->float23();
    return (x > y) - (x < y);
}
Cell amount(int32_t v) { return Cell{static_cast<uint32_t>(Type::money), 0, static_cast<uint32_t>(v), 0}; }

}  // namespace

TEST_F(IntegerTest, MixedOperationsReachTheOtherDatatypeSwapped) {
    StandIn pair(Type::pair, {{slot::add, datatype::fn(composite_add)}, {slot::negate, datatype::fn(composite_negate)}});
    Cell composite = {static_cast<uint32_t>(Type::pair), 0, 2, 0};
    Cell r = binary_op(slot::add, integer(5), composite);
    EXPECT_TRUE(r.is(Type::pair));
    EXPECT_EQ(r.int2(), 7);
    EXPECT_EQ(seen_second, Type::integer);
    r = binary_op(slot::subtract, integer(5), composite);  // -composite + 5
    EXPECT_TRUE(r.is(Type::pair));
    EXPECT_EQ(r.int2(), 3);
    EXPECT_EQ(raised([&] { binary_op(slot::multiply, integer(5), composite); }), error::id::script_invalid_type);
    EXPECT_EQ(error::last.args[0].data1, static_cast<uint32_t>(Type::pair));
}

TEST_F(IntegerTest, NumbersCompareWithAmountsFromEitherSide) {
    StandIn money(Type::money, {{slot::compare, datatype::fn(amount_compare)}});
    EXPECT_TRUE(compare(integer(5), amount(7), actions::op::lesser));
    EXPECT_TRUE(compare(integer(7), amount(7), actions::op::equal));
    EXPECT_FALSE(compare(integer(7), amount(7), actions::op::strict_equal));
    EXPECT_TRUE(compare(flt(2.5), amount(7), actions::op::lesser));
    // Floats outside the amounts' range order by sign and magnitude.
    EXPECT_TRUE(compare(flt(1e18), amount(7), actions::op::greater));
    EXPECT_TRUE(compare(flt(-1e18), amount(-7), actions::op::lesser));
    EXPECT_TRUE(compare(flt(1e-6), amount(7), actions::op::lesser));
    EXPECT_TRUE(compare(flt(1e-6), amount(-7), actions::op::greater));
    EXPECT_TRUE(compare(flt(-1e-6), amount(0), actions::op::lesser));
    EXPECT_FALSE(compare(flt(1e-6), amount(0), actions::op::equal));
    EXPECT_FALSE(compare(flt(std::nan("")), amount(0), actions::op::greater_or_equal));
}

}  // namespace zuv::testing
