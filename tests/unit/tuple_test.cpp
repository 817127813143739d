// tuple!: saturating arithmetic, conversions, paths, reverse and comparison.
#include <gtest/gtest.h>

#include <vector>

#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class TupleTest : public RuntimeTest {};

Cell tp(std::vector<int32_t> bytes) {
    Cell c = *tuple::from_ints(bytes);
    stack::pop(1);
    return c;
}

Cell binary_value(std::vector<uint8_t> bytes) {
    Cell* b = stack::push_slot();
    string::make_at(b, 16, Type::binary);
    string::append_bytes(b, bytes.data(), static_cast<int32_t>(bytes.size()));
    return *b;
}

}  // namespace

TEST_F(TupleTest, ArithmeticSaturates) {
    struct Case {
        Cell left, right;
        int action;
        const char* expected;
    } cases[] = {
        {tp({1, 2, 3}), integer(300), slot::add, "255.255.255"},
        {tp({1, 2, 3}), integer(5), slot::subtract, "0.0.0"},
        {tp({1, 2, 3}), number(1.5), slot::multiply, "1.3.4"},
        {tp({1, 2, 3}), tp({1, 1, 1, 1}), slot::add, "2.3.4.1"},
        {tp({10, 20, 30}), integer(3), slot::divide, "3.6.10"},
        {tp({10, 20, 30}), integer(7), slot::remainder, "3.6.2"},
        {tp({200, 1, 0}), integer(2147483647), slot::multiply, "255.255.0"},
        {tp({0, 1, 2}), integer(INT32_MIN), slot::subtract, "255.255.255"},
        {tp({0, 1, 2}), integer(-2147483647), slot::add, "0.0.0"},
        {tp({200, 100, 50}), number(0.5, Type::percent), slot::multiply, "100.50.25"},
        {tp({1, 2, 3}), number(-1.0), slot::multiply, "0.0.0"},
        {tp({12, 10, 6}), integer(10), slot::and_t, "8.10.2"},
        {tp({12, 10, 6}), integer(256), slot::or_t, "255.255.255"},
        {tp({12, 10, 6}), tp({15, 15, 15}), slot::xor_t, "3.5.9"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(binary(c.left, c.right, c.action)), c.expected) << c.expected;

    struct Bad {
        Cell left, right;
        int action;
        error::Id id;
    } bad[] = {
        {tp({1, 2, 3}), integer(0), slot::divide, error::id::math_zero_divide},
        {tp({1, 2, 3}), integer(0), slot::remainder, error::id::math_zero_divide},
        {tp({1, 2, 3}), number(1.0), slot::and_t, error::id::script_cannot_use},
        {tp({1, 2, 3}), none_cell, slot::add, error::id::script_invalid_type},
    };
    for (const Bad& b : bad) EXPECT_EQ(raised([&] { binary(b.left, b.right, b.action); }), b.id) << b.action;
}

TEST_F(TupleTest, ANumberOnTheLeftSwapsExceptForSubtractAndDivide) {
    Cell two = integer(2), t = tp({1, 2, 3});
    EXPECT_EQ(mold(*tuple::do_math(&two, &t, 2)), "2.4.6");
    Cell half = number(0.5);
    t = tp({10, 20, 30});
    EXPECT_EQ(mold(*tuple::do_math(&half, &t, 0)), "10.20.30");
    for (int op : {1, 3}) {
        two = integer(2);
        t = tp({1, 2, 3});
        EXPECT_EQ(raised([&] { tuple::do_math(&two, &t, op); }), error::id::script_not_related);
    }
}

TEST_F(TupleTest, MakeAndTo) {
    struct Case {
        Cell spec;
        const char* expected;
    } cases[] = {
        {block_of({integer(1), integer(2)}), "1.2.0"},
        {block_of({integer(1), number(2.9), Cell{static_cast<uint32_t>(Type::char_), 0, 65, 0}}), "1.2.65"},
        {binary_value({1, 2}), "1.2.0"},
        {binary_value({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), "1.2.3.4.5.6.7.8.9.10.11.12"},
        {tp({9, 8, 7}), "9.8.7"},
    };
    for (const Case& c : cases)
        for (bool to : {false, true}) EXPECT_EQ(mold(convert(Type::tuple, c.spec, to)), c.expected) << c.expected;

    std::vector<Cell> thirteen(13, integer(1));
    Cell bad[] = {
        block_of({integer(256)}),
        block_of({integer(-1)}),
        block_of({none_cell}),
        block_of({number(1e10)}),
        none_cell,
    };
    for (const Cell& spec : bad)
        EXPECT_EQ(raised([&] { convert(Type::tuple, spec, true); }), error::id::script_bad_to_arg) << mold(spec);
    Cell* long_block = block::push_new(13);
    for (const Cell& v : thirteen) block::append(long_block, &v);
    EXPECT_EQ(raised([&] { convert(Type::tuple, *long_block, true); }), error::id::script_bad_to_arg);
}

TEST_F(TupleTest, HexadecimalColours) {
    struct Case {
        const char* digits;
        const char* expected;  // null: refused
    } cases[] = {
        {"FFF", "255.255.255"}, {"F80", "255.136.0"},         {"12345678", "18.52.86.120"},
        {"a0b1c2", "160.177.194"}, {"12345", nullptr}, {"12G", nullptr}, {"1\t2", nullptr}, {"", nullptr},
    };
    for (const Case& c : cases) {
        Cell t;
        bool ok = tuple::from_hex(&t, c.digits, static_cast<int32_t>(std::strlen(c.digits)));
        ASSERT_EQ(ok, c.expected != nullptr) << c.digits;
        if (ok) {
            EXPECT_EQ(mold(t), c.expected);
        }
    }
}

TEST_F(TupleTest, PathsSetBytesAndCutTheTuple) {
    auto set = [](Cell& t, int32_t position, Cell value) {
        Cell element = integer(position);
        action<slotfn::EvalPath>(Type::tuple, slot::eval_path)(&t, &element, &value, false, nullptr, nullptr, 1,
                                                               true, false);
    };
    Cell t = tp({1, 2, 3, 4, 5});
    set(t, 4, none_cell);
    EXPECT_EQ(mold(t), "1.2.3");
    EXPECT_EQ(tuple::length(&t), 3);
    t = tp({1, 2, 3});
    set(t, 2, none_cell);
    EXPECT_EQ(mold(t), "1.0.0");
    set(t, 3, integer(300));
    set(t, 1, integer(-4));
    EXPECT_EQ(mold(t), "0.0.255");
    EXPECT_EQ(raised([&] { set(t, 4, integer(1)); }), error::id::script_out_of_range);
    EXPECT_EQ(raised([&] { set(t, 7, none_cell); }), error::id::script_out_of_range);
    EXPECT_EQ(raised([&] { set(t, 1, number(1.0)); }), error::id::script_invalid_type);
    Cell word_element = none_cell;
    EXPECT_EQ(raised([&] {
                  action<slotfn::EvalPath>(Type::tuple, slot::eval_path)(&t, &word_element, nullptr, false, nullptr,
                                                                         nullptr, 1, true, false);
              }),
              error::id::script_invalid_type);

    auto pick = [](Cell v, int32_t i) {
        Cell index = integer(i);
        return *action<slotfn::Pick>(Type::tuple, slot::pick)(&v, i, &index);
    };
    EXPECT_EQ(pick(tp({1, 2, 3}), 3).int2(), 3);
    EXPECT_EQ(raised([&] { pick(tp({1, 2, 3}), 4); }), error::id::script_out_of_range);
    EXPECT_EQ(raised([&] { pick(tp({1, 2, 3}), 0); }), error::id::script_out_of_range);
}

TEST_F(TupleTest, Reverse) {
    auto reverse = [](Cell v, const Cell* part, const Cell* skip) {
        Cell p = part ? *part : Cell{}, s = skip ? *skip : Cell{};
        return mold(*action<slotfn::Reverse>(Type::tuple, slot::reverse)(&v, part ? &p : nullptr,
                                                                          skip ? &s : nullptr));
    };
    Cell two = integer(2), three = integer(3), nine = integer(9), zero = integer(0), half = number(0.5);
    EXPECT_EQ(reverse(tp({1, 2, 3}), nullptr, nullptr), "3.2.1");
    EXPECT_EQ(reverse(tp({1, 2, 3, 4}), nullptr, &two), "3.4.1.2");
    EXPECT_EQ(reverse(tp({1, 2, 3, 4}), &two, nullptr), "2.1.3.4");
    EXPECT_EQ(reverse(tp({1, 2, 3, 4}), &nine, nullptr), "4.3.2.1");
    EXPECT_EQ(reverse(tp({1, 2, 3, 4, 5, 6}), &three, &three), "1.2.3.4.5.6");
    EXPECT_EQ(raised([&] { reverse(tp({1, 2, 3, 4}), nullptr, &three); }), error::id::script_invalid_refine_arg);
    EXPECT_EQ(raised([&] { reverse(tp({1, 2, 3, 4}), nullptr, &zero); }), error::id::script_out_of_range);
    EXPECT_EQ(raised([&] { reverse(tp({1, 2, 3}), &half, nullptr); }), error::id::script_invalid_refine_arg);
}

TEST_F(TupleTest, CompareCountsMissingBytesAsZero) {
    EXPECT_EQ(order(tp({1, 2, 3}), tp({1, 2, 3, 0}), actions::op::equal), 0);
    EXPECT_EQ(order(tp({1, 2, 3}), tp({1, 2, 3, 1}), actions::op::lesser), -1);
    EXPECT_EQ(order(tp({1, 2, 200}), tp({1, 3}), actions::op::lesser), -1);
    EXPECT_EQ(order(tp({1, 2, 3}), integer(1), actions::op::equal), -2);
}

TEST_F(TupleTest, ComplementLengthAndZero) {
    Cell t = tp({0, 255, 15, 1});
    EXPECT_EQ(mold(unary(t, slot::complement)), "255.0.240.254");
    EXPECT_EQ(action<slotfn::Length>(Type::tuple, slot::length_q)(&t), 4);
    EXPECT_FALSE(tuple::zero_q(&t));
    Cell z = tp({0, 0, 0});
    EXPECT_TRUE(tuple::zero_q(&z));
    Cell c;
    tuple::from_rgba(&c, 10, 20, 30, 128);
    EXPECT_EQ(mold(c), "10.20.30.128");
}
