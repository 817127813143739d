// Internals behind map! and bitset! that scripts cannot reach: making a map over a block
// whose head is not its first cell, a map's table living through collections while it
// grows and loses pairs, and the fill of a complemented bitset's new bytes.
#include <gtest/gtest.h>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "memory/error.h"
#include "memory/collector.h"
#include "memory/hashtable.h"
#include "reader/lexer-load.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class MapBitsetTest : public RuntimeTest {};

Cell* loaded(const char* text) {
    Cell* b = block::push_new(4);
    lexer::load_into(b, text);
    return b;
}

}  // namespace

TEST_F(MapBitsetTest, MakeAtTakesPairsFromTheHead) {
    Cell* b = loaded("x a 1 b 2");
    b->data1 = 1;
    Cell* m = stack::push_slot();
    map::make_at(m, b, 0);
    EXPECT_EQ(map::size(m), 2);
    EXPECT_EQ(mold(*m), "#[\n    a: 1\n    b: 2\n]");

    b->data1 = 0;
    EXPECT_THROW(map::make_at(m, b, 0), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_invalid_arg);
    Cell* bad = loaded("[k] 1");
    EXPECT_THROW(map::make_at(m, bad, 0), runtime::Throw);
    EXPECT_EQ(error::last.id, error::id::script_invalid_path);
}

// Growing the table, removing pairs and reviving them with a collection between each step:
// every key must still be found where it was put.
TEST_F(MapBitsetTest, TableLivesThroughCollections) {
    Cell* m = stack::push_slot();
    map::make_at(m, nullptr, 2);
    for (int32_t i = 0; i < 300; ++i) {
        Cell key = integer(i), value = integer(i * 2);
        map::put(m, &key, &value, false, nullptr);
        if (i % 50 == 0) collector::recycle();
    }
    EXPECT_EQ(map::size(m), 300);
    Cell remove_key = integer(7);
    Cell* table_key = hashtable::find(m->data3, &remove_key, 0, 1, 2, false, false);
    ASSERT_NE(table_key, nullptr);
    hashtable::delete_(m->data3, table_key);
    collector::recycle();
    EXPECT_EQ(map::size(m), 299);
    Cell value = integer(70);
    map::put(m, &remove_key, &value, false, nullptr);
    collector::recycle();
    EXPECT_EQ(map::size(m), 300);
    for (int32_t i = 0; i < 300; i += 37) {
        Cell key = integer(i);
        Cell* k = hashtable::find(m->data3, &key, 0, 1, 0, false, false);
        ASSERT_NE(k, nullptr) << i;
        EXPECT_EQ(k[1].int2(), i == 7 ? 70 : i * 2) << i;
        EXPECT_EQ(k - block::cell_at(m, 0), 2 * i) << "pairs keep their order";
    }
}

TEST_F(MapBitsetTest, ComplementedSetsGrowWithMembers) {
    Cell* spec = loaded("not \"a\"");
    Cell* bits = stack::push_slot();
    bitset::make_from(bits, spec, bitset::mode_make);
    ASSERT_TRUE(bitset::complemented_q(bits));
    EXPECT_EQ(bitset::stored_bits(bits), 104);
    bitset::ensure_bit(bits, 200);
    EXPECT_EQ(bitset::stored_bits(bits), 208);
    EXPECT_EQ(bitset::get_bits(bits)[25], 0xFF);
    EXPECT_FALSE(bitset::member_q(bits, 97));
    EXPECT_TRUE(bitset::member_q(bits, 150));

    Cell* plain = stack::push_slot();
    Cell eight = integer(8);
    bitset::make_from(plain, &eight, bitset::mode_make);
    bitset::ensure_bit(plain, 30);
    EXPECT_EQ(bitset::stored_bits(plain), 32);
    EXPECT_EQ(bitset::get_bits(plain)[3], 0x00);
    EXPECT_EQ(bitset::process(loaded("\"\""), nullptr, bitset::op_highest, bitset::mode_make), -1);
}
