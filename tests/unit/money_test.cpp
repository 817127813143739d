// money!: exact decimal arithmetic, currencies, rounding, conversions, comparison and text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "datatypes/money.h"
#include "runtime/random.h"
#include "datatypes/number-scan.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class MoneyTest : public RuntimeTest {};

// A money! value from its literal text, as the lexer reads it.
Cell usd(const char* text) {
    auto m = number_scan::scan_money(text, std::strlen(text), 1);
    EXPECT_TRUE(m.has_value()) << text;
    Cell c;
    EXPECT_TRUE(money::from_digits(&c, m->negative, m->currency_view(), m->digits, m->integer_digits)) << text;
    return c;
}

std::string mold_all(const Cell& c) { return zuv::testing::mold(c, true); }

}  // namespace

TEST_F(MoneyTest, FormsAndMolds) {
    struct Case {
        const char* value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {"USD$1234.5", "USD$1'234.50", "USD$1234.50", "USD$1234.50000"},
        {"$1234567.5", "$1'234'567.50", "$1234567.50", "$1234567.50000"},
        {"-$0.5", "-$0.50", "-$0.50", "-$0.50000"},
        {"-$0", "$0.00", "$0.00", "$0.00000"},
        {"$123", "$123.00", "$123.00", "$123.00000"},
        {"$0.00999", "$0.00", "$0.00", "$0.00999"},
        {"$99999999999999999.99999", "$99'999'999'999'999'999.99", "$99999999999999999.99",
         "$99999999999999999.99999"},
        {"eur$7", "EUR$7.00", "EUR$7.00", "EUR$7.00000"},
    };
    for (const Case& c : cases) {
        Cell m = usd(c.value);
        EXPECT_EQ(form(m), c.form);
        EXPECT_EQ(zuv::testing::mold(m), c.mold);
        EXPECT_EQ(mold_all(m), c.mold_all);
    }
}

TEST_F(MoneyTest, ArithmeticIsExact) {
    struct Case {
        Cell left, right;
        int action;
        const char* expected;  // mold/all
    } cases[] = {
        {usd("$0.1"), usd("$0.2"), slot::add, "$0.30000"},
        {usd("$0.1"), number(0.2), slot::add, "$0.30000"},
        {usd("$1.23456"), integer(2), slot::multiply, "$2.46912"},
        {usd("$0.00001"), number(0.1), slot::multiply, "$0.00000"},
        {usd("USD$1"), usd("$1"), slot::add, "USD$2.00000"},
        {usd("$1"), usd("USD$1"), slot::add, "USD$2.00000"},
        {usd("$1"), number(1.234567), slot::add, "$2.23456"},
        {usd("$10"), integer(4), slot::divide, "$2.50000"},
        {usd("$1"), integer(3), slot::divide, "$0.33333"},
        {usd("$7"), usd("$2"), slot::remainder, "$1.00000"},
        {usd("-$7"), usd("$2"), slot::remainder, "-$1.00000"},
        {usd("$7"), usd("-$2"), slot::remainder, "$1.00000"},
        {usd("$3"), usd("$5"), slot::subtract, "-$2.00000"},
        {usd("-$3"), usd("-$5"), slot::subtract, "$2.00000"},
        {usd("-$5"), usd("$5"), slot::add, "$0.00000"},
        {usd("-$2"), usd("$3"), slot::subtract, "-$5.00000"},
        {usd("-$2"), integer(-3), slot::multiply, "$6.00000"},
        {usd("$1000000000000"), number(0.00009), slot::divide, "$11111111111111111.11111"},
        {usd("$2"), number(0.5, Type::percent), slot::multiply, "$1.00000"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_all(binary(c.left, c.right, c.action)), c.expected) << c.expected;

    Cell ratio = binary(usd("$1"), usd("$3"), slot::divide);
    ASSERT_TRUE(ratio.is(Type::float_));
    EXPECT_EQ(ratio.float23(), 0.33333);
    Cell left_integer = integer(2), one = usd("$1.5");
    EXPECT_EQ(mold_all(*money::math_action(&left_integer, &one, 0)), "$3.50000");
}

TEST_F(MoneyTest, ArithmeticErrors) {
    struct Case {
        Cell left, right;
        int action;
        error::Id id;
    } cases[] = {
        {usd("$99999999999999999.99999"), usd("$0.00001"), slot::add, error::id::script_type_limit},
        {usd("-$99999999999999999.99999"), usd("$0.00001"), slot::subtract, error::id::script_type_limit},
        {usd("$10000000000"), usd("$10000000"), slot::multiply, error::id::script_invalid_type},
        {usd("$10000000000"), integer(10000000), slot::multiply, error::id::script_type_limit},
        {usd("$99999999999999999"), usd("$0.1"), slot::divide, error::id::script_type_limit},
        {usd("USD$1"), usd("EUR$1"), slot::add, error::id::script_wrong_denom},
        {usd("$1"), usd("$0"), slot::divide, error::id::math_zero_divide},
        {usd("$1"), integer(0), slot::remainder, error::id::math_zero_divide},
        {usd("$1"), none_cell, slot::add, error::id::script_invalid_type},
        {usd("$1"), number(1e20), slot::add, error::id::script_bad_make_arg},
    };
    for (const Case& c : cases) EXPECT_EQ(raised([&] { binary(c.left, c.right, c.action); }), c.id) << c.action;
    Cell two = integer(2), dollar = usd("$1");
    EXPECT_EQ(raised([&] { money::math_action(&two, &dollar, 3); }), error::id::script_invalid_type);
    EXPECT_EQ(raised([&] { money::do_math(&dollar, &dollar, 5); }), error::id::script_invalid_type);
}

TEST_F(MoneyTest, Rounding) {
    auto round = [](const char* value, const Cell* scale, int mode) {
        Cell v = usd(value);
        Cell s = scale ? *scale : Cell{};
        bool f[6] = {};
        if (mode >= 0) f[mode] = true;
        slotfn::RoundOptions o{.scale = scale ? &s : nullptr, .even = f[0], .down = f[1], .half_down = f[2],
                               .floor = f[3], .ceiling = f[4], .half_ceiling = f[5]};
        return mold_all(*action<slotfn::Round>(Type::money, slot::round)(&v, o));
    };
    enum { plain = -1, even = 0, down = 1, half_down = 2, floor = 3, ceiling = 4, half_ceiling = 5 };
    struct Case {
        const char* value;
        int mode;
        const char* expected;
    } cases[] = {
        {"$2.5", plain, "$3.00000"},         {"$2.5", even, "$2.00000"},         {"$3.5", even, "$4.00000"},
        {"-$2.5", plain, "-$3.00000"},       {"-$2.1", floor, "-$3.00000"},      {"-$2.9", ceiling, "-$2.00000"},
        {"$2.9", down, "$2.00000"},          {"$2.5", half_down, "$2.00000"},    {"-$2.5", half_ceiling, "-$2.00000"},
        {"$2.4", plain, "$2.00000"},         {"$2", floor, "$2.00000"},          {"USD$7.5", plain, "USD$8.00000"},
    };
    for (const Case& c : cases) EXPECT_EQ(round(c.value, nullptr, c.mode), c.expected) << c.value << " " << c.mode;

    Cell tenth = usd("$0.1"), five = integer(5), quarter = number(0.25), zero = usd("$0");
    EXPECT_EQ(round("$0.25", &tenth, even), "$0.20000");  // ties are found at any scale
    EXPECT_EQ(round("$0.35", &tenth, even), "$0.40000");
    EXPECT_EQ(round("$12.5", &five, plain), "$15.00000");
    EXPECT_EQ(round("$1.3", &quarter, plain), "$1.25000");
    EXPECT_EQ(round("$1.3", &zero, plain), "$1.30000");
    EXPECT_EQ(raised([&] { round("$99999999999999999.5", nullptr, plain); }), error::id::script_type_limit);
    EXPECT_EQ(raised([&] { round("$1", &none_cell, plain); }), error::id::script_not_related);
}

TEST_F(MoneyTest, Conversions) {
    EXPECT_EQ(mold_all(convert(Type::money, number(1.5), true)), "$1.50000");
    EXPECT_EQ(mold_all(convert(Type::money, number(-0.00001), true)), "-$0.00001");
    EXPECT_EQ(mold_all(convert(Type::money, integer(INT32_MIN), true)), "-$2147483648.00000");
    EXPECT_EQ(mold_all(convert(Type::money, *text("JPY$1'000.5"), true)), "JPY$1000.50000");
    EXPECT_EQ(mold_all(convert(Type::money, block_of({integer(1), integer(50)}), false)), "$1.00050");
    EXPECT_EQ(mold_all(convert(Type::money, block_of({integer(-1), integer(50)}), false)), "-$1.00050");
    EXPECT_EQ(mold_all(convert(Type::money, block_of({number(2.5)}), false)), "$2.50000");

    struct Bad {
        Cell spec;
        bool to;
        error::Id id;
    } bad[] = {
        {number(1.234567), true, error::id::script_bad_make_arg},
        {number(1e17), true, error::id::script_bad_make_arg},
        {number(1e-6), true, error::id::script_bad_make_arg},
        {number(NAN), true, error::id::script_bad_make_arg},
        {*text("XXX$1"), true, error::id::script_bad_to_arg},
        {*text("$1.2.3"), true, error::id::script_bad_to_arg},
        {*text("$123456789012345678"), true, error::id::script_bad_to_arg},
        {none_cell, true, error::id::script_bad_to_arg},
        {block_of({}), false, error::id::script_bad_make_arg},
        {block_of({number(1.5), integer(5)}), false, error::id::script_bad_make_arg},
        {block_of({integer(1), integer(100000)}), false, error::id::script_bad_make_arg},
        {block_of({integer(1), integer(2), integer(3), integer(4)}), false, error::id::script_bad_make_arg},
    };
    for (const Bad& b : bad) EXPECT_EQ(raised([&] { convert(Type::money, b.spec, b.to); }), b.id);

    Cell big = usd("$2147483648"), negative = usd("-$2147483648"), part = usd("-$2.99");
    EXPECT_EQ(raised([&] { money::to_integer(&big); }), error::id::script_type_limit);
    EXPECT_EQ(money::to_integer(&negative), INT32_MIN);
    EXPECT_EQ(money::to_integer(&part), -2);
    Cell half = usd("-$0.5");
    EXPECT_EQ(money::to_float(&half), -0.5);
    Cell c;
    EXPECT_FALSE(money::from_digits(&c, false, "", "123456789012345678", 18));
    EXPECT_TRUE(money::from_digits(&c, false, "", "000000000000000000001", 21));
    EXPECT_FALSE(money::from_digits(&c, false, "QQQ", "1", 1));
}

TEST_F(MoneyTest, Compare) {
    using namespace actions::op;
    EXPECT_EQ(order(usd("$1"), integer(1), equal), 0);
    EXPECT_EQ(order(usd("$1"), integer(1), strict_equal), 1);
    EXPECT_EQ(order(usd("$1.5"), number(1.5), equal), 0);
    EXPECT_EQ(order(usd("$1.23456"), number(1.234567), lesser), -1);  // the float's sixth decimal counts
    EXPECT_EQ(order(usd("-$1.23456"), number(-1.234567), lesser), 1);
    EXPECT_EQ(order(usd("$0"), number(1e-7), lesser), -1);
    EXPECT_EQ(order(usd("$5"), number(1e300), lesser), -1);
    EXPECT_EQ(order(usd("-$5"), usd("$3"), lesser), -1);
    EXPECT_EQ(order(usd("-$5"), usd("-$3"), lesser), -1);
    EXPECT_EQ(order(usd("USD$1"), usd("$1"), equal), 0);
    EXPECT_EQ(order(usd("USD$1"), usd("$1"), strict_equal), 1);
    EXPECT_EQ(order(usd("$1"), usd("USD$1"), find), 1);
    EXPECT_EQ(order(usd("USD$1"), usd("$1"), find), 0);
    EXPECT_EQ(order(usd("USD$1"), usd("EUR$1"), equal), 1);
    EXPECT_EQ(raised([] { order(usd("USD$1"), usd("EUR$2"), lesser); }), error::id::script_wrong_denom);
    EXPECT_EQ(order(usd("USD$1"), usd("EUR$2"), sort), 1);  // EUR sorts before USD
    EXPECT_EQ(order(usd("$9"), usd("EUR$2"), sort), -1);    // no currency first
    EXPECT_EQ(order(usd("$1"), none_cell, equal), -2);
}

TEST_F(MoneyTest, FieldsParityAndSign) {
    Cell m = usd("USD$12.5");
    Cell index = integer(2);
    Cell amount = *action<slotfn::Pick>(Type::money, slot::pick)(&m, 2, &index);
    EXPECT_EQ(mold_all(amount), "$12.50000");
    index = integer(3);
    EXPECT_EQ(raised([&] { action<slotfn::Pick>(Type::money, slot::pick)(&m, 3, &index); }),
              error::id::script_out_of_range);
    Cell element = integer(2), value = integer(1);
    auto path = action<slotfn::EvalPath>(Type::money, slot::eval_path);
    EXPECT_EQ(raised([&] { path(&m, &element, &value, false, nullptr, nullptr, 1, true, false); }),
              error::id::script_bad_path_set);
    element = integer(5);
    EXPECT_EQ(raised([&] { path(&m, &element, nullptr, false, nullptr, nullptr, 1, true, false); }),
              error::id::script_invalid_path);
    EXPECT_TRUE(path(&m, &(element = integer(1)), nullptr, false, nullptr, nullptr, 1, true, false)->is(Type::word));

    Cell odd = usd("$13.9"), even = usd("$12.9");
    EXPECT_TRUE(action<slotfn::Predicate>(Type::money, slot::odd_q)(&odd));
    EXPECT_TRUE(action<slotfn::Predicate>(Type::money, slot::even_q)(&even));
    Cell zero = usd("-$0");
    EXPECT_TRUE(money::zero_q(&zero));
    EXPECT_EQ(mold_all(unary(usd("-$2"), slot::absolute)), "$2.00000");
    EXPECT_EQ(mold_all(unary(usd("$2"), slot::negate)), "-$2.00000");

    uint8_t amount_bytes[money::amount_bytes];
    money::amount_of(&m, amount_bytes);
    Cell copy;
    money::make_at(&copy, true, money::currency(&m), amount_bytes);
    EXPECT_EQ(mold_all(copy), "-USD$12.50000");
}

TEST_F(MoneyTest, RandomNeverExceedsTheValue) {
    random::seed(11);
    Cell limit = usd("$305.27");
    bool below = false;
    for (int i = 0; i < 200; ++i) {
        Cell r = limit;
        action<slotfn::Random>(Type::money, slot::random)(&r, false, false, false);
        ASSERT_LE(order(r, limit, actions::op::lesser), 0);
        below |= order(r, usd("$100"), actions::op::lesser) < 0;
    }
    EXPECT_TRUE(below);
}
