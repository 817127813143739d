// pair!, point2D! and point3D!: arithmetic with promotion, conversions, comparison, paths.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class PairTest : public RuntimeTest {};

Cell pr(int32_t x, int32_t y) {
    Cell c;
    cell::make(&c, Type::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
    return c;
}
Cell p2(float x, float y) {
    Cell c;
    point2D::make_at(&c, x, y);
    return c;
}
Cell p3(float x, float y, float z) {
    Cell c;
    point3D::make_at(&c, x, y, z);
    return c;
}

constexpr int add = slot::add, sub = slot::subtract, mul = slot::multiply, dvd = slot::divide,
              rem = slot::remainder, and_ = slot::and_t, or_ = slot::or_t, xor_ = slot::xor_t;

}  // namespace

TEST_F(PairTest, ArithmeticPromotesToPoint2DOnlyWhenTheIntegersCannotHoldIt) {
    struct Case {
        Cell left, right;
        int action;
        const char* expected;
    } cases[] = {
        {pr(3, 4), integer(2), dvd, "(1.5, 2)"},
        {pr(4, 6), integer(2), dvd, "2x3"},
        {pr(2147483647, 1), integer(1), add, "(2.147484e9, 2)"},
        {pr(-2147483647, 0), integer(2), sub, "(-2.147484e9, -2)"},
        {pr(65536, 1), integer(65536), mul, "(4.294967e9, 65536)"},
        {pr(3, 4), number(0.5), mul, "(1.5, 2)"},
        {pr(3, 4), number(0.5), add, "3x4"},
        {pr(3, 4), number(0.5, Type::percent), dvd, "(6, 8)"},
        {pr(3, 4), number(0.0), dvd, "(1.#INF, 1.#INF)"},
        {pr(1, 2), pr(3, 4), add, "4x6"},
        {pr(7, 9), pr(2, 4), rem, "1x1"},
        {pr(-7, 7), integer(2), rem, "-1x1"},
        {pr(6, 3), integer(3), and_, "2x3"},
        {pr(6, 3), integer(1), or_, "7x3"},
        {pr(6, 3), integer(1), xor_, "7x2"},
        {pr(1, 2), p2(0.5f, 0.25f), add, "(1.5, 2.25)"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(binary(c.left, c.right, c.action)), c.expected) << c.expected;
}

TEST_F(PairTest, ArithmeticErrors) {
    struct Case {
        Cell left, right;
        int action;
        error::Id id;
    } cases[] = {
        {pr(1, 2), integer(0), dvd, error::id::math_zero_divide},
        {pr(1, 2), integer(0), rem, error::id::math_zero_divide},
        {pr(INT32_MIN, 0), integer(-1), dvd, error::id::math_overflow},
        {pr(1, 2), number(INFINITY), mul, error::id::script_invalid_arg},
        {pr(1, 2), number(NAN), dvd, error::id::script_invalid_arg},
        {pr(1, 2), number(1e12), add, error::id::script_invalid_arg},
        {pr(1, 2), none_cell, add, error::id::script_invalid_type},
        {p3(1, 2, 3), pr(1, 2), add, error::id::script_invalid_type},
    };
    for (const Case& c : cases) EXPECT_EQ(raised([&] { binary(c.left, c.right, c.action); }), c.id) << mold(c.left);
    Cell p = p2(1, 2), one = integer(1);
    EXPECT_EQ(raised([&] { point2D::do_math(&p, &one, 6); }), error::id::script_cannot_use);
    EXPECT_EQ(raised([&] { binary(p, one, and_); }), error::id::script_expect_arg);
}

TEST_F(PairTest, MakeAndTo) {
    struct Case {
        Type target;
        Cell spec;
        const char* expected;
    } cases[] = {
        {Type::pair, block_of({number(1.9), number(-2.9)}), "1x-2"},
        {Type::pair, block_of({integer(1), integer(2), integer(3)}), "1x2"},
        {Type::pair, number(2.5), "2x2"},
        {Type::pair, integer(-3), "-3x-3"},
        {Type::pair, p2(1.5f, -2.5f), "1x-2"},
        {Type::point2D, pr(1, 2), "(1, 2)"},
        {Type::point2D, integer(3), "(3, 3)"},
        {Type::point2D, block_of({integer(1), number(0.5)}), "(1, 0.5)"},
        {Type::point3D, pr(1, 2), "(1, 2, 0)"},
        {Type::point3D, p2(1, 2), "(1, 2, 0)"},
        {Type::point3D, number(0.25), "(0.25, 0.25, 0.25)"},
    };
    for (const Case& c : cases)
        for (bool to : {false, true}) EXPECT_EQ(mold(convert(c.target, c.spec, to)), c.expected) << c.expected;

    struct Bad {
        Type target;
        Cell spec;
        error::Id id;
    } bad[] = {
        {Type::pair, block_of({integer(1)}), error::id::syntax_malconstruct},
        {Type::pair, block_of({integer(1), none_cell}), error::id::syntax_malconstruct},
        {Type::pair, p2(INFINITY, 0), error::id::script_invalid_arg},
        {Type::pair, p2(1e20f, 0), error::id::script_invalid_arg},
        {Type::pair, number(NAN), error::id::script_bad_to_arg},
        {Type::pair, none_cell, error::id::script_bad_to_arg},
        {Type::point3D, block_of({integer(1), integer(2)}), error::id::syntax_malconstruct},
        {Type::point2D, p3(1, 2, 3), error::id::script_bad_to_arg},
    };
    for (const Bad& b : bad) EXPECT_EQ(raised([&] { convert(b.target, b.spec, false); }), b.id) << mold(b.spec);
}

TEST_F(PairTest, UnaryActions) {
    EXPECT_EQ(mold(unary(pr(INT32_MIN, 0), slot::negate)), "-2147483648x0");
    EXPECT_EQ(mold(unary(pr(-1, 2), slot::negate)), "1x-2");
    EXPECT_EQ(mold(unary(pr(-1, 2), slot::absolute)), "1x2");
    EXPECT_EQ(raised([] { unary(pr(INT32_MIN, 0), slot::absolute); }), error::id::math_overflow);

    Cell z = unary(p2(0, 0), slot::negate);
    EXPECT_FALSE(std::signbit(point::get(&z, 0)) || std::signbit(point::get(&z, 1)));
    Cell a = unary(p2(-0.0f, -1), slot::absolute);
    EXPECT_EQ(std::bit_cast<uint32_t>(point::get(&a, 0)), 0u);
    EXPECT_EQ(mold(a), "(0, 1)");

    auto reverse = [](Cell v) {
        Cell* held = stack::push(&v);
        return *action<slotfn::Reverse>(v.type(), slot::reverse)(held, nullptr, nullptr);
    };
    EXPECT_EQ(mold(reverse(pr(1, 2))), "2x1");
    EXPECT_EQ(mold(reverse(p2(1, 2))), "(2, 1)");
    EXPECT_EQ(mold(reverse(p3(1, 2, 3))), "(3, 2, 1)");
}

TEST_F(PairTest, CompareOrdersByXThenY) {
    EXPECT_EQ(order(pr(1, 2), pr(1, 3), actions::op::lesser), -1);
    EXPECT_EQ(order(pr(1, 9), pr(2, 0), actions::op::lesser), -1);
    EXPECT_EQ(order(pr(1, 2), pr(1, 2), actions::op::equal), 0);
    EXPECT_EQ(order(pr(1, 2), p2(1, 2), actions::op::equal), 0);
    EXPECT_EQ(order(pr(1, 2), integer(1), actions::op::equal), -2);
    EXPECT_EQ(order(p2(1, 2), pr(1, 2), actions::op::strict_equal), 0);
}

TEST_F(PairTest, PointEqualityIsWithinTenUnitsOfTheLastPlace) {
    using actions::op::equal, actions::op::strict_equal, actions::op::same, actions::op::lesser;
    EXPECT_EQ(order(p2(0.1f, 0), p2(0.10000005f, 0), equal), 0);
    EXPECT_EQ(order(p2(0.1f, 0), p2(0.10000005f, 0), strict_equal), 1);
    EXPECT_EQ(order(p2(0.1f, 0), p2(0.1000001f, 0), equal), 1);
    EXPECT_EQ(order(p2(0, 0), p2(-0.0f, 0), strict_equal), 0);
    EXPECT_EQ(order(p2(0, 0), p2(-0.0f, 0), same), 1);
    EXPECT_EQ(order(p2(NAN, 0), p2(NAN, 0), equal), 1);
    EXPECT_EQ(order(p2(INFINITY, 0), p2(INFINITY, 0), equal), 0);
    EXPECT_EQ(order(p2(INFINITY, 0), p2(-INFINITY, 0), equal), 1);
    EXPECT_EQ(order(p3(1, 2, 3), p3(1, 2, 4), lesser), -1);
    EXPECT_EQ(order(p3(1, 2, 3), p2(1, 2), equal), -2);
}

TEST_F(PairTest, Rounding) {
    auto round = [](Cell v, const Cell* scale, bool even = false, bool floor = false) {
        Cell* held = stack::push(&v);
        Cell s = scale ? *scale : Cell{};
        Cell* ps = scale ? stack::push(&s) : nullptr;
        return *action<slotfn::Round>(v.type(), slot::round)(held, {.scale = ps, .even = even, .floor = floor});
    };
    Cell five = integer(5), half = number(0.5), scale_pair = pr(2, 10), ten_float = number(10.0);
    EXPECT_EQ(mold(round(pr(17, 18), &five)), "15x20");
    EXPECT_EQ(mold(round(pr(25, 35), &five, true)), "25x35");
    EXPECT_EQ(mold(round(pr(7, 15), &scale_pair)), "8x20");
    EXPECT_EQ(mold(round(pr(-11, 11), &five, false, true)), "-15x10");
    EXPECT_EQ(mold(round(pr(7, 3), &half)), "7x3");
    EXPECT_EQ(mold(round(pr(15, -15), &ten_float)), "20x-20");
    EXPECT_EQ(raised([&] { round(pr(2147483647, 0), &ten_float); }), error::id::math_overflow);
    EXPECT_EQ(mold(round(p2(1.26f, -2.5f), nullptr)), "(1, -3)");
    EXPECT_EQ(mold(round(p2(1.26f, 2.25f), &half)), "(1.5, 2.5)");
    Cell two_d = p2(0.5f, 10);
    // A point2D! scale gives a point3D!'s z no scale: it rounds to a whole number.
    EXPECT_EQ(mold(round(p3(1.3f, 14, 2.6f), &two_d)), "(1.5, 10, 3)");
    Cell money;
    cell::make(&money, Type::money);
    EXPECT_EQ(raised([&] { round(pr(1, 2), &money); }), error::id::script_not_related);
}

TEST_F(PairTest, PathsAndPick) {
    auto path = [](Cell& v, Cell element, const Cell* set) {
        Cell s = set ? *set : Cell{};
        auto f = action<slotfn::EvalPath>(v.type(), slot::eval_path);
        return *f(&v, &element, set ? &s : nullptr, false, nullptr, nullptr, 1, true, false);
    };
    Cell p = pr(3, 4);
    EXPECT_EQ(path(p, integer(2), nullptr).int2(), 4);
    Cell nine = integer(9);
    path(p, integer(1), &nine);
    EXPECT_EQ(mold(p), "9x4");
    Cell half = number(0.5);
    EXPECT_EQ(raised([&] { path(p, integer(1), &half); }), error::id::script_invalid_type);
    EXPECT_EQ(raised([&] { path(p, integer(3), nullptr); }), error::id::script_invalid_path);

    Cell q = p3(1, 2, 3);
    Cell r = path(q, integer(3), nullptr);
    EXPECT_TRUE(r.is(Type::float_));
    EXPECT_EQ(r.float23(), 3.0);
    path(q, integer(3), &half);
    EXPECT_EQ(mold(q), "(1, 2, 0.5)");
    EXPECT_EQ(raised([&] { path(q, integer(4), nullptr); }), error::id::script_invalid_path);

    auto pick = [](Cell v, int32_t i) {
        Cell index = integer(i);
        return *action<slotfn::Pick>(v.type(), slot::pick)(&v, i, &index);
    };
    EXPECT_EQ(pick(pr(3, 4), 1).int2(), 3);
    EXPECT_EQ(raised([&] { pick(pr(3, 4), 3); }), error::id::script_out_of_range);
    EXPECT_EQ(raised([&] { pick(p2(3, 4), 0); }), error::id::script_out_of_range);
}

TEST_F(PairTest, FormsOfPoints) {
    EXPECT_EQ(form(p2(1e20f, -1.5e-7f)), "(1e20, -1.5e-7)");
    EXPECT_EQ(form(p2(0.1f, 1e-30f)), "(0.1, 0)");
    EXPECT_EQ(form(p3(NAN, -INFINITY, 123456789.0f)), "(1.#NaN, -1.#INF, 1.234568e8)");
    EXPECT_EQ(form(pr(-1, 2147483647)), "-1x2147483647");
}
