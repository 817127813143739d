// Ownership internals: the table's entries, the recursion through blocks and objects, and
// what the collector does to entries whose series, owner or field word's context died.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/collector.h"
#include "memory/cycle-stack.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "memory/ownership.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

// Live entries; the first lookup after a collection takes the purged ones out of the count.
int32_t entries() {
    hashtable::refresh_after_collection(ownership::table);
    return hashtable::record_of(ownership::table)->size;
}

bool owned_flag(const Cell& series) { return memory::buffer_of(series.data2)->flags & memory::flag::owned; }

// A block of n integers.
Cell block_of(int32_t n) {
    Cell b;
    block::make_at(&b, n);
    Cell* held = stack::push(&b);
    for (int32_t i = 0; i < n; ++i) {
        Cell v = integer(i);
        block::append(held, &v);
    }
    b = *held;
    stack::pop(1);
    return b;
}

// An object with one field holding the value; the field's word goes into *word.
Cell object_with(const char* field, const Cell& value, Cell* word) {
    Cell o;
    object::make_at(&o, 4);
    Cell v = value;
    context::add_with_value(o.data1, symbol::make(field), &v);
    *word = *context::word_at(o.data1, 0);
    word->set_type(Type::word);
    return o;
}

// Cells the collector must keep, as roots, for the life of a test.
struct Roots {
    std::vector<Cell*> cells;
    Cell* keep(const Cell& c) {
        Cell* p = new Cell(c);
        collector::add_root(p);
        cells.push_back(p);
        return p;
    }
    ~Roots() {
        for (Cell* p : cells) {
            collector::remove_root(p);
            delete p;
        }
    }
};

// Stale copies on the machine stack would keep the values a test wants to see die.
void exact_recycle() {
    collector::scan_stack = false;
    collector::recycle();
    collector::scan_stack = true;
}

class OwnershipTest : public RuntimeTest {
protected:
    // Entries left by earlier tests die here, so that counts are this test's own.
    void SetUp() override {
        RuntimeTest::SetUp();
        exact_recycle();
    }
    void TearDown() override {
        cycle_stack::reset();
        collector::scan_stack = true;
    }
};

}  // namespace

TEST_F(OwnershipTest, BindRecordsTheOwnerAndUnsetForgetsIt) {
    Roots roots;
    Cell word;
    Cell* s = roots.keep(block_of(2));
    Cell* o = roots.keep(object_with("f", *s, &word));
    int32_t before = entries();
    ownership::bind(s, o, &word);
    EXPECT_EQ(entries(), before + 1);
    EXPECT_TRUE(owned_flag(*s));
    EXPECT_TRUE(context::cell_of(o->data1)->header & context::bit::owner);
    Cell* owner = ownership::get_owner(s->data2);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner->data1, o->data1);
    // The owner has no on-deep-change*: nobody is told.
    Cell action = *words::load("append");
    EXPECT_FALSE(ownership::check(s, action.int2(), nullptr, 0, 1));

    ownership::unset(s);
    EXPECT_EQ(entries(), before);
    EXPECT_FALSE(owned_flag(*s));
    EXPECT_EQ(ownership::get_owner(s->data2), nullptr);
    EXPECT_FALSE(ownership::check(s, action.int2(), nullptr, 0, 1));
}

TEST_F(OwnershipTest, RecursionWalksNestedBlocksAndCyclesOnce) {
    Roots roots;
    Cell word;
    Cell* outer = roots.keep(block_of(1));
    Cell inner = block_of(1);
    block::append(outer, &inner);
    block::append(outer, outer);  // the block holds itself
    Cell* o = roots.keep(object_with("f", *outer, &word));
    int32_t before = entries();
    ownership::bind(outer, o, &word);
    EXPECT_EQ(entries(), before + 2);  // outer once, inner once
    EXPECT_EQ(cycle_stack::depth, 0);
    Cell held_inner = *(block::head(outer) + 1);
    EXPECT_NE(ownership::get_owner(held_inner.data2), nullptr);
    // Binding again changes nothing.
    ownership::bind(outer, o, &word);
    EXPECT_EQ(entries(), before + 2);
    ownership::unset(outer);
    EXPECT_EQ(entries(), before);
    EXPECT_FALSE(owned_flag(held_inner));
}

TEST_F(OwnershipTest, NestedObjectFieldsUseTheirOwnWordsAndSkipTheOwner) {
    Roots roots;
    Cell owner_word, nested_word;
    Cell* s = roots.keep(block_of(1));
    Cell* t = roots.keep(block_of(1));
    Cell* nested = roots.keep(object_with("inner", *s, &nested_word));
    Cell* o = roots.keep(object_with("outer", *nested, &owner_word));
    context::add_with_value(o->data1, symbol::make("own"), t);
    // The nested object also points back at the owner, which is not flagged yet: only the
    // skip keeps the owner's own series from being taken in through it.
    context::add_with_value(nested->data1, symbol::make("back"), o);
    ownership::set(nested, o, &owner_word);
    Cell* e = hashtable::get_key(ownership::table, s->data2);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e[1].data1, o->data1);
    EXPECT_EQ(symbol::resolve(e[2].int2()), symbol::resolve(symbol::make("inner")));
    EXPECT_EQ(e[2].data1, nested->data1);
    EXPECT_EQ(hashtable::get_key(ownership::table, t->data2), nullptr);
    ownership::unset(nested);
    EXPECT_EQ(hashtable::get_key(ownership::table, s->data2), nullptr);
}

TEST_F(OwnershipTest, AnOwnedSeriesKeepsItsFirstOwner) {
    Roots roots;
    Cell w1, w2;
    Cell* s = roots.keep(block_of(1));
    Cell* o1 = roots.keep(object_with("a", *s, &w1));
    Cell* o2 = roots.keep(object_with("b", *s, &w2));
    ownership::bind(s, o1, &w1);
    ownership::bind(s, o2, &w2);
    EXPECT_EQ(ownership::get_owner(s->data2)->data1, o1->data1);
    // Releasing on behalf of the second owner leaves the first one's hold.
    ownership::release(s, o2);
    EXPECT_EQ(ownership::get_owner(s->data2)->data1, o1->data1);
    ownership::release(s, o1);
    EXPECT_EQ(ownership::get_owner(s->data2), nullptr);
}

TEST_F(OwnershipTest, ImagesAreOwnedThroughTheirCell) {
    Roots roots;
    Cell word;
    Cell image;
    cell::make(&image, Type::image, 0, memory::alloc_bytes(16), 0);
    Cell* img = roots.keep(image);
    Cell* o = roots.keep(object_with("i", *img, &word));
    ownership::bind(img, o, &word);
    EXPECT_TRUE(img->header & ownership::image_owned);
    EXPECT_FALSE(memory::buffer_of(img->data2)->flags & memory::flag::owned);
    EXPECT_NE(ownership::get_owner(img->data2), nullptr);
    ownership::unset(img);
    EXPECT_FALSE(img->header & ownership::image_owned);
    EXPECT_EQ(ownership::get_owner(img->data2), nullptr);
}

TEST_F(OwnershipTest, BindRefusesWhatIsNotAnOwnerOrAWord) {
    Roots roots;
    Cell word;
    Cell* s = roots.keep(block_of(1));
    Cell* o = roots.keep(object_with("f", *s, &word));
    Cell one = integer(1);
    EXPECT_THROW(ownership::bind(s, &one, &word), runtime::Throw);
    EXPECT_THROW(ownership::bind(s, o, &one), runtime::Throw);
    EXPECT_EQ(ownership::get_owner(s->data2), nullptr);
}

// The collector's purge -------------------------------------------------------------------------

TEST_F(OwnershipTest, AnOwnerThatDiesSetsItsSeriesFree) {
    Roots roots;
    Cell word;
    Cell* s = roots.keep(block_of(3));
    Cell owner = object_with("f", *s, &word);
    ownership::bind(s, &owner, &word);
    owner = Cell{};
    word = Cell{};
    exact_recycle();
    EXPECT_EQ(hashtable::get_key(ownership::table, s->data2), nullptr);
    EXPECT_EQ(ownership::get_owner(s->data2), nullptr);
    EXPECT_FALSE(owned_flag(*s));
    // Free to be owned again.
    Cell w2;
    Cell* o2 = roots.keep(object_with("g", *s, &w2));
    ownership::bind(s, o2, &w2);
    ASSERT_NE(ownership::get_owner(s->data2), nullptr);
    EXPECT_EQ(ownership::get_owner(s->data2)->data1, o2->data1);
}

TEST_F(OwnershipTest, ASeriesThatDiesLeavesTheTable) {
    Roots roots;
    Cell word;
    Cell s = block_of(3);
    Cell* o = roots.keep(object_with("f", s, &word));
    ownership::bind(&s, o, &word);
    int32_t with_entry = entries();
    // Only the object's field held it; the field lets it go.
    *context::value_at(o->data1, 0) = integer(0);
    Ref node = s.data2;
    s = Cell{};
    exact_recycle();
    EXPECT_EQ(hashtable::get_key(ownership::table, node), nullptr);
    EXPECT_EQ(entries(), with_entry - 1);
}

TEST_F(OwnershipTest, AFieldWordWhoseObjectDiedIsUnbound) {
    Roots roots;
    Cell owner_word, nested_word;
    Cell* s = roots.keep(block_of(1));
    Cell nested = object_with("inner", *s, &nested_word);
    Cell* o = roots.keep(object_with("outer", nested, &owner_word));
    ownership::bind(&nested, o, &owner_word);
    // The nested object leaves the owner without giving its series up, then dies.
    *context::value_at(o->data1, 0) = integer(0);
    nested = Cell{};
    nested_word = Cell{};
    exact_recycle();
    Cell* e = hashtable::get_key(ownership::table, s->data2);
    ASSERT_NE(e, nullptr);  // series and owner live on
    EXPECT_EQ(e[2].data1, 0u);
    EXPECT_EQ(symbol::resolve(e[2].int2()), symbol::resolve(symbol::make("inner")));
    // Collections that follow do not trip over the entry.
    exact_recycle();
    collector::recycle();
    EXPECT_EQ(ownership::get_owner(s->data2)->data1, o->data1);
}
