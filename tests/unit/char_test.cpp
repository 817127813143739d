// char!: arithmetic kept inside the code points, conversions, comparison and escaped molds.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/char.h"
#include "datatypes/logic.h"
#include "number_fixture.h"

namespace zuv::testing {

namespace slot = datatype::slot;

namespace {

class CharTest : public RuntimeTest {};

}  // namespace

TEST_F(CharTest, ArithmeticStaysInCodePoints) {
    struct Case {
        uint32_t a;
        int slot;
        Cell b;
        uint32_t expected;
    } cases[] = {
        {'a', slot::add, integer(1), 'b'},
        {'a', slot::subtract, integer(32), 'A'},
        {'a', slot::add, flt(1.9), 'b'},
        {'a', slot::multiply, integer(2), 194},
        {'d', slot::divide, integer(2), 50},
        {'e', slot::divide, integer(2), 50},  // never a float: divide truncates
        {'a', slot::remainder, integer(10), 7},
        {'a', slot::and_t, integer(0x5F), 'A'},
        {'A', slot::or_t, chr(0x20), 'a'},
        {'a', slot::xor_t, integer(0x20), 'A'},
        {0x10FFFE, slot::add, integer(1), 0x10FFFF},
    };
    for (const Case& c : cases) {
        Cell r = binary_op(c.slot, chr(c.a), c.b);
        ASSERT_TRUE(r.is(Type::char_)) << c.a << " " << c.slot;
        EXPECT_EQ(r.data2, c.expected) << c.a << " " << c.slot;
    }
}

TEST_F(CharTest, ArithmeticErrors) {
    struct Case {
        uint32_t a;
        int slot;
        Cell b;
        error::Id expected;
    } cases[] = {
        {0, slot::subtract, integer(1), error::id::math_overflow},
        {0x10FFFF, slot::add, integer(1), error::id::math_overflow},
        {'a', slot::multiply, integer(2147483647), error::id::math_overflow},  // 32-bit overflow
        {'a', slot::add, flt(1e10), error::id::math_overflow},
        {'a', slot::add, flt(std::nan("")), error::id::math_overflow},
        {'a', slot::divide, integer(0), error::id::math_zero_divide},
        {'a', slot::remainder, chr(0), error::id::math_zero_divide},
        {'a', slot::add, pct(0.5), error::id::script_invalid_type},
        {'a', slot::add, logic(true), error::id::script_invalid_type},
    };
    for (const Case& c : cases)
        EXPECT_EQ(raised([&] { binary_op(c.slot, chr(c.a), c.b); }), c.expected) << c.a << " " << c.slot;
}

TEST_F(CharTest, InheritedActionsKeepTheType) {
    EXPECT_TRUE(unary_op(slot::absolute, chr('x')).is(Type::char_));
    EXPECT_TRUE(predicate(slot::even_q, chr('b')));
    EXPECT_TRUE(predicate(slot::odd_q, chr('a')));
    Cell v = chr('z');
    auto f = reinterpret_cast<slotfn::Random>(datatype::action_of(Type::char_, slot::random));
    Cell r = *f(&v, false, false, false);
    EXPECT_TRUE(r.is(Type::char_));
    EXPECT_TRUE(r.data2 >= 1 && r.data2 <= 'z');
    EXPECT_EQ(datatype::action_of(Type::char_, slot::negate), nullptr);
    EXPECT_EQ(datatype::action_of(Type::char_, slot::round), nullptr);
}

TEST_F(CharTest, MakeAndTo) {
    struct Case {
        Cell spec;
        uint32_t expected;
    } cases[] = {
        {integer(1114111), 0x10FFFF},
        {chr('q'), 'q'},
        {flt(65.9), 'A'},
        {pct(0.5), 0},
        {*text("abc"), 'a'},
        {*text("\xC3\xA9t\xC3\xA9"), 0xE9},
        {*text("\xF0\x9F\x98\x80"), 0x1F600},
        {binary({0xC3, 0xA9}), 0xE9},
        {binary({0x41, 0x42}), 'A'},
    };
    for (const Case& c : cases) {
        for (bool to : {true, false}) {
            Cell r = convert(Type::char_, c.spec, to);
            ASSERT_TRUE(r.is(Type::char_)) << mold(c.spec);
            EXPECT_EQ(r.data2, c.expected) << mold(c.spec);
        }
    }
    struct Bad {
        Cell spec;
        error::Id expected;
    } bad[] = {
        {integer(1114112), error::id::script_out_of_range},
        {integer(-1), error::id::script_out_of_range},
        {flt(-0.5 - 1), error::id::script_out_of_range},
        {flt(std::nan("")), error::id::script_out_of_range},
        {flt(1e20), error::id::script_out_of_range},
        {*text(""), error::id::script_bad_to_arg},
        {binary({}), error::id::script_bad_to_arg},
        {binary({0xC3}), error::id::script_bad_to_arg},
        {binary({0x80}), error::id::access_invalid_utf8},
        {logic(true), error::id::script_bad_to_arg},
    };
    for (const Bad& c : bad) EXPECT_EQ(raised([&] { convert(Type::char_, c.spec); }), c.expected) << mold(c.spec);
}

TEST_F(CharTest, Compare) {
    EXPECT_FALSE(compare(chr('a'), chr('A'), actions::op::equal));
    EXPECT_TRUE(compare(chr('a'), integer(97), actions::op::equal));
    EXPECT_FALSE(compare(chr('a'), integer(97), actions::op::strict_equal));
    EXPECT_TRUE(compare(chr('a'), chr('b'), actions::op::lesser));
    EXPECT_TRUE(compare(chr(0x10FFFF), chr(0), actions::op::greater));
    EXPECT_FALSE(compare(chr('a'), flt(97.0), actions::op::equal));
    EXPECT_EQ(raised([] { compare(chr('a'), flt(97.0), actions::op::lesser); }), error::id::script_invalid_compare);
}

TEST_F(CharTest, FormAndMold) {
    struct Case {
        uint32_t c;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {'a', "#\"a\"", "#\"a\""},
        {'\n', "#\"^/\"", "#\"^/\""},
        {'\t', "#\"^-\"", "#\"^-\""},
        {'"', "#\"^\"\"", "#\"^\"\""},
        {'^', "#\"^^\"", "#\"^^\""},
        {0, "#\"^@\"", "#\"^@\""},
        {0x1B, "#\"^[\"", "#\"^[\""},
        {0x1C, "#\"^\\\"", "#\"^\\\""},
        {0x1E, "#\"^(1E)\"", "#\"^(1E)\""},
        {0x1F, "#\"^_\"", "#\"^_\""},
        {0x7F, "#\"^~\"", "#\"^~\""},
        {0x85, "#\"^(85)\"", "#\"^(85)\""},
        {0xE9, "#\"\xC3\xA9\"", "#\"^(E9)\""},
        {0x1F600, "#\"\xF0\x9F\x98\x80\"", "#\"^(1F600)\""},
        {'_', "#\"_\"", "#\"_\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(chr(c.c)), c.mold) << c.c;
        EXPECT_EQ(mold(chr(c.c), true), c.mold_all) << c.c;
    }
    EXPECT_EQ(form(chr(0xE9)), "\xC3\xA9");
    EXPECT_EQ(form(chr('^')), "^");

    Cell value = chr(0x1E);
    Cell* s = string::push_new(8);
    auto m = reinterpret_cast<slotfn::Mold>(datatype::action_of(Type::char_, slot::mold));
    EXPECT_EQ(m(&value, s, false, false, false, nullptr, 100, 0), 96);
    auto f = reinterpret_cast<slotfn::Form>(datatype::action_of(Type::char_, slot::form));
    EXPECT_EQ(f(&value, s, nullptr, 100), 99);
}

}  // namespace zuv::testing
