// Internals of binary! and vector!: how vector elements are stored and read back at each
// width, and the unit-aware splice both datatypes edit with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/vector.h"
#include "memory/error.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class BinaryVectorTest : public RuntimeTest {};

Cell value(Type t, int32_t i) { return Cell{static_cast<uint32_t>(t), 0, static_cast<uint32_t>(i), 0}; }
Cell real(Type t, double d) {
    Cell c{static_cast<uint32_t>(t), 0, 0, 0};
    c.set_float23(d);
    return c;
}

// The bytes of a series from its head to its tail, whatever its unit.
std::vector<uint8_t> stored(const Cell* s) {
    memory::SeriesBuffer* b = series::buffer(s);
    return {series::head_address(s), b->tail_ptr()};
}


}  // namespace

TEST_F(BinaryVectorTest, ElementsAreStoredLittleEndianAndReadBackByWidth) {
    struct Case {
        Cell in;
        uint32_t width;
        std::vector<uint8_t> bytes;
        Cell out;
    } cases[] = {
        // integers keep their low bits and read back sign-extended
        {value(Type::integer, 300), 1, {0x2C}, value(Type::integer, 44)},
        {value(Type::integer, 128), 1, {0x80}, value(Type::integer, -128)},
        {value(Type::integer, 65535), 2, {0xFF, 0xFF}, value(Type::integer, -1)},
        {value(Type::integer, -2), 4, {0xFE, 0xFF, 0xFF, 0xFF}, value(Type::integer, -2)},
        // a code point is never negative, whatever its width
        {value(Type::char_, 0xE9), 1, {0xE9}, value(Type::char_, 0xE9)},
        {value(Type::char_, 0x20AC), 2, {0xAC, 0x20}, value(Type::char_, 0x20AC)},
        {value(Type::char_, 0x1F600), 4, {0x00, 0xF6, 0x01, 0x00}, value(Type::char_, 0x1F600)},
        // floats as doubles or rounded singles; past the singles an infinity
        {real(Type::float_, 1.5), 4, {0x00, 0x00, 0xC0, 0x3F}, real(Type::float_, 1.5)},
        {real(Type::float_, 0.1), 4, {0xCD, 0xCC, 0xCC, 0x3D}, real(Type::float_, double(0.1f))},
        {real(Type::float_, 1e300), 4, {0x00, 0x00, 0x80, 0x7F}, real(Type::float_, HUGE_VAL)},
        {real(Type::float_, -1e300), 4, {0x00, 0x00, 0x80, 0xFF}, real(Type::float_, -HUGE_VAL)},
        {real(Type::float_, 1.0), 8, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, real(Type::float_, 1.0)},
        {real(Type::percent, 0.5), 8, {0, 0, 0, 0, 0, 0, 0xE0, 0x3F}, real(Type::percent, 0.5)},
    };
    for (const Case& c : cases) {
        uint8_t area[8] = {};
        vector::set_value(area, &c.in, c.width);
        EXPECT_EQ(std::vector<uint8_t>(area, area + c.width), c.bytes) << c.width;
        Cell back;
        vector::get_value(area, c.width, c.out.type(), &back);
        EXPECT_EQ(back.header, c.out.header);
        EXPECT_EQ(back.data2, c.out.data2) << c.width;
        EXPECT_EQ(back.data3, c.out.data3) << c.width;
    }
    uint8_t area[8];
    Cell none{static_cast<uint32_t>(Type::none), 0, 0, 0};
    EXPECT_THROW(vector::set_value(area, &none, 4), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_invalid_type);
}

TEST_F(BinaryVectorTest, SetAtPastTheTailFillsTheGapWithZeros) {
    // Locals, not stack slots: a raised error takes over the first slot of the stack.
    Cell vc, *v = &vc;
    vector::make_at(v, 1, Type::integer, 2);
    Cell seven = value(Type::integer, 7);
    vector::set_at(v, 3, &seven);
    EXPECT_EQ(stored(v), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 7, 0}));
    vector::set_at(v, 0, &seven);
    vector::insert_at(v, 1, &seven);
    EXPECT_EQ(stored(v), (std::vector<uint8_t>{7, 0, 7, 0, 0, 0, 0, 0, 7, 0}));
    Cell wrong = real(Type::float_, 1.0);
    EXPECT_THROW(vector::set_at(v, 0, &wrong), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_invalid_arg);
    Cell wc, *w = &wc;
    vector::make_at(w);
    vector::append_int32(w, -2);
    EXPECT_EQ(stored(w), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    vector::clear_from_head(w);
    EXPECT_EQ(vector::get_length(w), 0);
}

TEST_F(BinaryVectorTest, SpliceCountsUnitsAndRepeatsTheRun) {
    Cell vc, *v = &vc;
    vector::make_at(v, 1, Type::integer, 4);
    const uint8_t one[] = {1, 0, 0, 0}, two[] = {2, 0, 0, 0, 3, 0, 0, 0};
    binary::splice(v, 0, 0, one, 3);  // grows from room for one element
    EXPECT_EQ(vector::get_length(v), 3);
    binary::splice(v, 1, 1, two, 2);  // replaces the middle element by 2 3 2 3
    std::vector<uint8_t> want = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(stored(v), want);
    // Too large for 32 bits: raised before anything changes.
    EXPECT_THROW(binary::splice(v, 0, 0, two, 0x10000000), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::internal_no_memory);
    EXPECT_EQ(stored(v), want);

    Cell bc, *b = &bc;
    binary::make_at(b, 0);
    const uint8_t abc[] = {'a', 'b', 'c'};
    binary::append_bytes(b, abc, 3);
    binary::insert_bytes(b, abc, 1);
    binary::append_int32_be(b, 0x01020304);
    EXPECT_EQ(stored(b), (std::vector<uint8_t>{'a', 'a', 'b', 'c', 1, 2, 3, 4}));
    EXPECT_EQ(binary::get_length(b), 8);
    EXPECT_EQ(binary::get_byte(b, 3), 'c');
}
