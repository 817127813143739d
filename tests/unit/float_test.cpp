// float! and percent!: text forms (pretty on and off), arithmetic and its result types,
// tolerant comparison, rounding in every mode, conversions.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "number_fixture.h"

namespace zuv::testing {

namespace slot = datatype::slot;

namespace {

class FloatTest : public RuntimeTest {
protected:
    void TearDown() override { float_::pretty_print_q = true; }
};

const double nan_ = std::nan("");

}  // namespace

TEST_F(FloatTest, FormPrettyAndPlain) {
    struct Case {
        double value;
        const char* pretty;
        const char* plain;
    } cases[] = {
        {1.0, "1.0", "1.0"},
        {0.1, "0.1", "0.1"},
        {100.0, "100.0", "100.0"},
        {-2.5, "-2.5", "-2.5"},
        {1e20, "1.0e20", "1.0e20"},
        {1.5e-7, "1.5e-7", "1.5e-7"},
        {1e15, "1000000000000000.0", "1000000000000000.0"},
        {1e16, "1.0e16", "1.0e16"},
        {1.234567890123456789e17, "1.234567890123457e17", "1.234567890123457e17"},
        {0.7 + 0.1, "0.8", "0.7999999999999999"},
        {0.1 + 0.2, "0.3", "0.3"},
        {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
        {1e-300, "0.0", "1.0e-300"},
        {-0.0, "0.0", "-0.0"},
        {INFINITY, "1.#INF", "1.#INF"},
        {-INFINITY, "-1.#INF", "-1.#INF"},
        {nan_, "1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) {
        float_::pretty_print_q = true;
        EXPECT_EQ(form(flt(c.value)), c.pretty) << c.value;
        float_::pretty_print_q = false;
        EXPECT_EQ(form(flt(c.value)), c.plain) << c.value;
    }
}

TEST_F(FloatTest, MoldIsTheShortestRoundTrip) {
    struct Case {
        double value;
        const char* mold;
    } cases[] = {
        {0.1, "0.1"}, {1.0, "1.0"}, {1e20, "1.0e20"}, {0.1 + 0.2, "0.30000000000000004"},
        {-0.0, "-0.0"}, {INFINITY, "1.#INF"}, {nan_, "1.#NaN"}, {5e-324, "5.0e-324"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(flt(c.value)), c.mold) << c.value;
}

TEST_F(FloatTest, PercentForms) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.5, "50%"}, {0.0, "0%"}, {0.125, "12.5%"}, {-0.05, "-5%"}, {0.07, "7%"}, {1e-300, "0%"},
        {12.3456, "1234.56%"}, {INFINITY, "1.#INF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(pct(c.value)), c.text) << c.value;
        EXPECT_EQ(mold(pct(c.value)), c.text) << c.value;
    }
}

TEST_F(FloatTest, TextKinds) {
    using float_::form_text;
    namespace kind = float_::kind;
    EXPECT_EQ(form_text(1.0, kind::single).view(), "1.0");
    EXPECT_EQ(form_text(0.1f, kind::single).view(), "0.1");
    EXPECT_EQ(form_text(1.0, kind::point).view(), "1");
    EXPECT_EQ(form_text(0.0, kind::point).view(), "0");
    EXPECT_EQ(form_text(50.0, kind::single_percent).view(), "50%");
    EXPECT_EQ(form_text(12.3456789, kind::seconds).view(), "12.3457");
    EXPECT_EQ(form_text(3.0, kind::seconds).view(), "3");
    EXPECT_EQ(form_text(1e25, kind::point).view(), "1e25");
}

TEST_F(FloatTest, ArithmeticKeepsTypes) {
    expect_ops({
        {pct(0.5), slot::add, flt(0.25), "percent! 75%"},
        {flt(0.25), slot::add, pct(0.5), "float! 0.75"},
        {flt(1.5), slot::add, chr('a'), "float! 98.5"},
        {flt(1.5), slot::multiply, integer(2), "float! 3.0"},
        {pct(0.5), slot::multiply, tim(60), "time! 0:00:30"},
        {flt(5.5), slot::remainder, integer(2), "float! 1.5"},
        {flt(-5.5), slot::remainder, integer(2), "float! -1.5"},
        {flt(5.5), slot::remainder, flt(0.0), "float! 1.#NaN"},
        {flt(5.5), slot::remainder, flt(INFINITY), "float! 5.5"},
        {flt(INFINITY), slot::remainder, flt(INFINITY), "float! 1.#NaN"},
        {flt(5.5), slot::remainder, flt(nan_), "float! 1.#NaN"},
        {flt(1.0), slot::divide, flt(0.0), "float! 1.#INF"},
        {flt(-1.0), slot::divide, flt(0.0), "float! -1.#INF"},
        {flt(0.0), slot::divide, flt(0.0), "float! 1.#NaN"},
        {flt(1e308), slot::multiply, integer(10), "float! 1.#INF"},
    });
}

TEST_F(FloatTest, ArithmeticErrors) {
    Cell pair = of_type(Type::point2D), money = of_type(Type::money);
    expect_op_errors({
        {pct(0.5), slot::add, chr('a'), error::id::script_invalid_type},
        {flt(1.0), slot::add, logic(true), error::id::script_invalid_type},
        {flt(1.0), slot::subtract, pair, error::id::script_not_related},
        {flt(1.0), slot::divide, pair, error::id::script_not_related},
    });
    EXPECT_EQ(datatype::action_of(Type::float_, slot::and_t), nullptr);
    EXPECT_EQ(raised([] { float_::do_math_op(1.0, 2.0, 6); }), error::id::script_cannot_use);
}

TEST_F(FloatTest, UnaryActionsAndParity) {
    Cell n = unary_op(slot::negate, flt(0.0));
    EXPECT_FALSE(std::signbit(n.float23()));  // 0.0 - 0.0 is +0.0
    EXPECT_EQ(typed(unary_op(slot::absolute, pct(-0.25))), "percent! 25%");
    EXPECT_EQ(typed(unary_op(slot::negate, flt(2.5))), "float! -2.5");
    struct Case {
        double value;
        bool even, odd;
    } cases[] = {
        {2.9, true, false}, {-3.5, false, true}, {0.5, true, false}, {1e300, true, false},
        {5e9, true, false}, {5e9 + 1, false, true}, {INFINITY, false, false}, {nan_, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(predicate(slot::even_q, flt(c.value)), c.even) << c.value;
        EXPECT_EQ(predicate(slot::odd_q, flt(c.value)), c.odd) << c.value;
    }
}

TEST_F(FloatTest, Power) {
    EXPECT_EQ(typed(binary_op(slot::power, flt(2.0), integer(3))), "float! 8.0");
    EXPECT_EQ(typed(binary_op(slot::power, flt(2.0), flt(0.5))), typed(flt(std::sqrt(2.0))));
    EXPECT_EQ(typed(binary_op(slot::power, pct(0.5), integer(2))), "percent! 25%");
    EXPECT_EQ(typed(binary_op(slot::power, flt(-8.0), flt(1.0 / 3.0))), "float! 1.#NaN");
    EXPECT_EQ(raised([] { binary_op(slot::power, flt(2.0), pct(0.5)); }), error::id::script_expect_arg);
}

TEST_F(FloatTest, Compare) {
    EXPECT_TRUE(compare(flt(0.1 + 0.2), flt(0.3), actions::op::equal));
    EXPECT_FALSE(compare(flt(0.1 + 0.2), flt(0.3), actions::op::strict_equal));
    EXPECT_TRUE(compare(flt(1.0), integer(1), actions::op::equal));
    EXPECT_FALSE(compare(flt(1.0), integer(1), actions::op::strict_equal));
    EXPECT_TRUE(compare(pct(0.5), flt(0.5), actions::op::equal));
    EXPECT_FALSE(compare(pct(0.5), flt(0.5), actions::op::same));
    EXPECT_TRUE(compare(flt(0.0), flt(-0.0), actions::op::equal));
    EXPECT_TRUE(compare(flt(0.0), flt(-0.0), actions::op::strict_equal));
    EXPECT_FALSE(compare(flt(0.0), flt(-0.0), actions::op::same));
    EXPECT_TRUE(compare(flt(1.5), flt(2.0), actions::op::lesser));
    EXPECT_TRUE(compare(flt(-INFINITY), flt(-DBL_MAX), actions::op::lesser));
    EXPECT_FALSE(compare(flt(INFINITY), flt(DBL_MAX), actions::op::equal));
    for (int32_t op : {actions::op::equal, actions::op::strict_equal, actions::op::find, actions::op::lesser,
                       actions::op::lesser_or_equal, actions::op::greater, actions::op::greater_or_equal}) {
        EXPECT_FALSE(compare(flt(nan_), flt(1.0), op)) << op;
        EXPECT_FALSE(compare(flt(1.0), flt(nan_), op)) << op;
        EXPECT_FALSE(compare(flt(nan_), flt(nan_), op)) << op;
    }
    EXPECT_TRUE(compare(flt(nan_), flt(nan_), actions::op::not_equal));
    EXPECT_EQ(raised([] { compare(flt(1.0), chr('a'), actions::op::lesser); }), error::id::script_invalid_compare);
}

TEST_F(FloatTest, TolerantEquality) {
    double x = 1.0;
    for (int i = 0; i < 10; ++i) x = std::nextafter(x, 2.0);
    EXPECT_TRUE(float_::almost_equal_q(1.0, x));
    EXPECT_FALSE(float_::almost_equal_q(1.0, std::nextafter(x, 2.0)));
    EXPECT_TRUE(float_::almost_equal_q(1e-300, -1e-300));  // both within epsilon of zero
    EXPECT_TRUE(float_::almost_equal_q(5e-324, -5e-324));
    EXPECT_FALSE(float_::almost_equal_q(nan_, nan_));
    EXPECT_TRUE(float_::almost_equal_q(INFINITY, INFINITY));

    float f = 1.0f;
    for (int i = 0; i < 10; ++i) f = std::nextafter(f, 2.0f);
    EXPECT_TRUE(float_::almost_equal32_q(1.0f, f));
    EXPECT_FALSE(float_::almost_equal32_q(1.0f, std::nextafter(f, 2.0f)));
    EXPECT_TRUE(float_::almost_equal32_q(0.0f, -0.0f));
    EXPECT_TRUE(float_::almost_equal32_q(-1.0f, std::nextafter(-1.0f, 0.0f)));
    EXPECT_FALSE(float_::almost_equal32_q(INFINITY, -INFINITY));
    EXPECT_FALSE(float_::almost_equal32_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float_::NaN32_q(std::nanf("")));
    EXPECT_TRUE(float_::NaN_q(nan_));
    EXPECT_FALSE(float_::NaN_q(INFINITY));
    EXPECT_TRUE(float_::special_q(-INFINITY));
}

TEST_F(FloatTest, RoundEveryMode) {
    using namespace modes;
    Cell i2 = integer(2), i1 = integer(1), hundredth = flt(0.01), percent1 = pct(0.01), zero = integer(0);
    struct Case {
        Cell value;
        const Cell* scale;
        Modes modes;
        const char* expected;
    } cases[] = {
        {flt(2.5), nullptr, none, "float! 3.0"},
        {flt(-2.5), nullptr, none, "float! -3.0"},
        {flt(2.5), nullptr, even, "float! 2.0"},
        {flt(3.5), nullptr, even, "float! 4.0"},
        {flt(-3.5), nullptr, even, "float! -4.0"},
        {flt(2.5), nullptr, half_down, "float! 2.0"},
        {flt(-2.5), nullptr, half_down, "float! -2.0"},
        {flt(-2.5), nullptr, half_ceiling, "float! -2.0"},
        {flt(2.5), nullptr, half_ceiling, "float! 3.0"},
        {flt(-2.7), nullptr, down, "float! -2.0"},
        {flt(-2.1), nullptr, floor, "float! -3.0"},
        {flt(2.1), nullptr, ceiling, "float! 3.0"},
        {flt(2.4), nullptr, none, "float! 2.0"},
        {flt(2.6), nullptr, half_down, "float! 3.0"},
        {flt(3.14159), &hundredth, none, "float! 3.14"},
        {flt(7.3), &i2, none, "integer! 8"},
        {flt(5.5), &percent1, none, "percent! 550%"},
        {pct(0.12345), nullptr, none, "percent! 12%"},
        {pct(0.12345), &i1, none, "percent! 12%"},
        {flt(1e300), &hundredth, none, "float! 1.0e300"},  // the scale is below the value's precision
        {flt(0.0), &zero, none, "float! 0.0"},              // no multiples of 0: unchanged
        {flt(INFINITY), &i1, none, "float! 1.#INF"},
        {flt(nan_), nullptr, none, "float! 1.#NaN"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typed(rounded(c.value, c.scale, c.modes)), c.expected) << mold(c.value);

    // A subnormal scale: its reciprocal would overflow, yet the value rounds to a multiple.
    Cell tiny = flt(3e-321);
    EXPECT_EQ(rounded(flt(1e-320), &tiny).float23(), 3.0 * 3e-321);

    Cell big = flt(1e308), money = of_type(Type::money), nan_scale = integer(1);
    EXPECT_EQ(raised([&] { rounded(flt(1.7e308), &big); }), error::id::math_overflow);
    EXPECT_EQ(raised([&] { rounded(flt(1e12), &i1); }), error::id::math_overflow);  // no integer! holds it
    EXPECT_EQ(raised([&] { rounded(flt(nan_), &nan_scale); }), error::id::math_overflow);
    EXPECT_EQ(raised([&] { rounded(flt(1.5), &money); }), error::id::script_not_related);
}

TEST_F(FloatTest, MakeAndTo) {
    struct Case {
        Type target;
        Cell spec;
        const char* expected;
    } cases[] = {
        {Type::float_, *text("1e3"), "float! 1000.0"},
        {Type::float_, *text("-2.5"), "float! -2.5"},
        {Type::float_, integer(3), "float! 3.0"},
        {Type::float_, chr('a'), "float! 97.0"},
        {Type::float_, tim(3600), "float! 3600.0"},
        {Type::float_, pct(0.5), "float! 0.5"},
        {Type::float_, block_of({flt(1.5), integer(2)}), "float! 150.0"},
        {Type::float_, block_of({integer(5), flt(-1.7)}), "float! 0.5"},
        {Type::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "float! 1.0"},
        {Type::float_, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), "float! 1.0"},
        {Type::float_, binary({0x01}), "float! 5.0e-324"},
        {Type::percent, pct(0.5), "percent! 50%"},
        {Type::percent, flt(0.5), "percent! 50%"},
        {Type::percent, integer(2), "percent! 200%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(typed(convert(c.target, c.spec, true)), c.expected) << mold(c.spec);
        EXPECT_EQ(typed(convert(c.target, c.spec, false)), c.expected) << mold(c.spec);
    }
    struct Bad {
        Cell spec;
        error::Id expected;
    } bad[] = {
        {*text(""), error::id::script_bad_to_arg},
        {*text("abc"), error::id::script_bad_to_arg},
        {*text("1.5x"), error::id::script_bad_to_arg},
        {block_of({integer(1), integer(2), integer(3)}), error::id::script_bad_to_arg},
        {block_of({*text("1"), integer(2)}), error::id::script_bad_to_arg},
        {logic(true), error::id::script_bad_to_arg},
    };
    for (const Bad& c : bad) EXPECT_EQ(raised([&] { convert(Type::float_, c.spec); }), c.expected) << mold(c.spec);
    EXPECT_EQ(raised([] { convert(Type::percent, logic(true)); }), error::id::script_bad_to_arg);
    EXPECT_TRUE(error::last.args[0].is(Type::datatype));
    EXPECT_EQ(error::last.args[0].data1, static_cast<uint32_t>(Type::percent));
}

TEST_F(FloatTest, Helpers) {
    EXPECT_EQ(float_::to_integer(2.5), 3);
    EXPECT_EQ(float_::to_integer(0.49999999999999994), 0);
    EXPECT_EQ(float_::to_integer(-2.5), -2);
    EXPECT_EQ(raised([] { float_::to_integer(nan_); }), error::id::script_out_of_range);
    EXPECT_EQ(float_::abs(-0.0), 0.0);
    EXPECT_FALSE(std::signbit(float_::abs(-0.0)));
    Cell i = integer(4), p = pct(0.5);
    EXPECT_EQ(float_::get_number(&i), 4.0);
    EXPECT_EQ(raised([&] { float_::get_number(&p); }), error::id::script_bad_to_arg);
    const uint64_t bits = std::bit_cast<uint64_t>(1.5);
    EXPECT_EQ(float_::push64(uint32_t(bits >> 32), uint32_t(bits))->float23(), 1.5);
    Cell c;
    EXPECT_EQ(typed(*percent::make_at64(&c, uint32_t(bits >> 32), uint32_t(bits))), "percent! 150%");
    Cell b = block_of({});
    EXPECT_EQ(typed(*float_::make_in(&b, uint32_t(bits >> 32), uint32_t(bits))), "float! 1.5");
    EXPECT_EQ(typed(*percent::make_in(&b, uint32_t(bits >> 32), uint32_t(bits))), "percent! 150%");
    EXPECT_EQ(block::length(&b), 2);
}

TEST_F(FloatTest, Random) {
    auto draw = [](Cell v, bool seed, bool secure) {
        auto f = reinterpret_cast<slotfn::Random>(datatype::action_of(v.type(), slot::random));
        return *f(&v, seed, secure, false);
    };
    for (int i = 0; i < 100; ++i) {
        for (bool secure : {false, true}) {
            Cell r = draw(pct(10.0), false, secure);
            ASSERT_TRUE(r.is(Type::percent));
            EXPECT_TRUE(r.float23() >= 0.0 && r.float23() <= 10.0) << r.float23();
        }
    }
    EXPECT_TRUE(draw(flt(1.5), true, false).is(Type::unset));
    const double first = draw(flt(1.0), false, false).float23();
    draw(flt(1.5), true, false);
    EXPECT_EQ(draw(flt(1.0), false, false).float23(), first);
}

}  // namespace zuv::testing
