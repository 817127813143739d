// Internals behind block!: the cycle stack and its placeholders, replication, indentation,
// the built-in word table, path comparison codes, and the hash! index that the block
// actions keep in step with every edit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/words-builtin.h"
#include "memory/action-types.h"
#include "memory/collector.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "reader/lexer-load.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class BlockTest : public RuntimeTest {
protected:
    void TearDown() override { cycle_stack::reset(); }
};

std::string molded(const Cell& v) { return zuv::testing::mold(v); }

// A block! of the values in the text, held on the argument stack.
Cell* loaded(const char* text) {
    Cell* b = block::push_new(4);
    lexer::load_into(b, text);
    return b;
}

template <class F>
F action(int s) {
    return reinterpret_cast<F>(datatype::action_of(Type::block, s));
}

template <class F>
error::Id raised(F f) {
    try {
        f();
    } catch (const runtime::Throw&) {
        return error::last.id;
    }
    return {255, 255};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Cycle stack

TEST_F(BlockTest, DetectWritesThePlaceholderOfTheDatatype) {
    Cell* b = loaded("1");
    Ref node = b->data2;
    struct Case {
        Type type;
        bool mold;
        const char* text;
    } cases[] = {
        {Type::block, true, "[...]"},  {Type::hash, true, "[...]"},   {Type::paren, true, "(...)"},
        {Type::map, true, "#[...]"},   {Type::path, true, "..."},     {Type::set_path, true, "..."},
        {Type::object, true, "make object! [...]"},                   {Type::block, false, "..."},
        {Type::paren, false, "..."},   {Type::object, false, "..."},
    };
    cycle_stack::push(node);
    for (const Case& c : cases) {
        Cell v;
        // An object! names its context in data word 1, a series its node in word 2.
        if (c.type == Type::object) cell::make(&v, c.type, node, 0, 0);
        else cell::make(&v, c.type, 0, node, 0);
        Cell* s = text("<");
        int32_t budget = 100;
        EXPECT_TRUE(zuv::mold::cycle(&v, s, &budget, c.mold));
        EXPECT_EQ(string::to_utf8(s), std::string("<") + c.text) << static_cast<int>(c.type);
        EXPECT_EQ(budget, 100 - static_cast<int32_t>(std::strlen(c.text)));
    }
    cycle_stack::pop();
    Cell* s = text("");
    int32_t budget = 100;
    EXPECT_FALSE(zuv::mold::cycle(b, s, &budget, true));
    EXPECT_EQ(string::to_utf8(s), "");
    EXPECT_EQ(budget, 100);
}

TEST_F(BlockTest, TooDeepEmptiesTheStack) {
    for (int i = 1; i < cycle_stack::capacity; ++i) cycle_stack::push(static_cast<Ref>(i * 16));
    EXPECT_EQ(cycle_stack::depth, cycle_stack::capacity - 1);
    EXPECT_EQ(raised([] { cycle_stack::push(16); }), error::id::internal_too_deep);
    EXPECT_EQ(cycle_stack::depth, 0);
}

TEST_F(BlockTest, AFailedMoldLeavesNoNodeBehind) {
    // Molding a block whose element cannot be molded: the error leaves the cycle stack as
    // it found it, so the next mold of the same block is not cut short.
    Cell b = *loaded("a");  // a copy: the error resets the argument stack
    Cell odd;
    cell::make(&odd, Type::context);
    block::append(&b, &odd);
    EXPECT_EQ(raised([&] { molded(b); }), error::id::script_expect_arg);
    EXPECT_EQ(cycle_stack::depth, 0);
    block::remove_last(&b);
    EXPECT_EQ(molded(b), "[a]");
}

// ---------------------------------------------------------------------------------------------
// Replication and indentation

TEST_F(BlockTest, ReplicateFillsByDoubling) {
    struct Case {
        size_t size, count;
    } cases[] = {{1, 1}, {1, 7}, {3, 5}, {16, 4}, {16, 3}, {5, 0}};
    for (const Case& c : cases) {
        std::vector<uint8_t> area(c.size * std::max<size_t>(c.count, 1) + 4, 0xEE);
        for (size_t i = 0; i < c.size; ++i) area[i] = static_cast<uint8_t>('a' + i);
        uint8_t* end = memory::replicate(area.data(), c.size, c.count);
        EXPECT_EQ(end, area.data() + c.size * c.count);
        for (size_t i = 0; i < c.size * c.count; ++i)
            ASSERT_EQ(area[i], 'a' + i % c.size) << c.size << " x " << c.count << " at " << i;
        EXPECT_EQ(area[c.size * std::max<size_t>(c.count, 1)], 0xEE);  // nothing past the end
    }
}

TEST_F(BlockTest, IndentWritesFourSpacesPerLevel) {
    Cell* s = text("");
    EXPECT_EQ(zuv::mold::indent(s, 0, 10), 10);
    EXPECT_EQ(string::to_utf8(s), "");
    EXPECT_EQ(zuv::mold::indent(s, 2, 10), 2);
    EXPECT_EQ(string::to_utf8(s), "        ");
}

// ---------------------------------------------------------------------------------------------
// Built-in words

TEST_F(BlockTest, BuiltinWordsShareTheInternedSymbols) {
    EXPECT_EQ(static_cast<uint32_t>(words::sym::self), collector::self_symbol);
    EXPECT_EQ(words::sym::code, symbol::make("code"));
    EXPECT_EQ(words::sym::bar, symbol::make("|"));
    EXPECT_EQ(std::string(symbol::name(words::sym::logic_type)), "logic!");
    EXPECT_EQ(stack::body_symbol, words::global::body_tag->data2);
    EXPECT_EQ(stack::anon_symbol, static_cast<uint32_t>(symbol::make("<anon>")));
    for (Cell* w : {words::global::at, words::global::swaped, words::global::Linux, words::global::on_deep_change}) {
        EXPECT_TRUE(w->is(Type::word));
        EXPECT_EQ(w->data1, context::global);
    }
    EXPECT_EQ(std::string(symbol::name(words::global::put_ed->int2())), "put-ed");
    EXPECT_EQ(words::global::to->data2, static_cast<uint32_t>(words::sym::to));
    EXPECT_TRUE(words::refine::part->is(Type::refinement));
    EXPECT_EQ(words::refine::part->int3(), -1);
    EXPECT_EQ(molded(*words::refine::extern_), "/extern");
    EXPECT_EQ(molded(*words::issue_ooo), "#ooo");
}

// ---------------------------------------------------------------------------------------------
// Comparison codes of paths

TEST_F(BlockTest, PathAndLitPathCompareOnlyUnderTheirCodes) {
    Cell* p = loaded("a b");
    p->set_type(Type::path);
    Cell* q = loaded("a b");
    q->set_type(Type::lit_path);
    Cell* r = loaded("a b");
    r->set_type(Type::set_path);
    EXPECT_EQ(block::compare(p, q, 10), 0);
    EXPECT_EQ(block::compare(q, p, 11), 0);
    EXPECT_EQ(block::compare(p, q, actions::op::equal), -2);
    EXPECT_EQ(block::compare(p, r, 10), -2);
}

// ---------------------------------------------------------------------------------------------
// hash! indexes kept in step by the block actions

namespace {

// A hash! over the values of the text, its index made as hash! itself will make it.
Cell* hashed(const char* text) {
    Cell* b = loaded(text);
    b->set_type(Type::hash);
    b->data3 = hashtable::make(std::max(block::length(b), 1), b, hashtable::kind_hash, 0);
    return b;
}

// Every cell is found through the index at the first position holding an equal cell.
void expect_index_in_step(Cell* h, const char* after) {
    Cell all = *h;
    all.data1 = 0;
    int32_t n = series::buffer_length(&all);
    for (int32_t p = 0; p < n; ++p) {
        Cell key = *block::cell_at(&all, p);
        int32_t first = -1;
        for (int32_t q = 0; q < n && first < 0; ++q) {
            Cell c = *block::cell_at(&all, q);
            if (actions::compare(&c, &key, actions::op::find)) first = q;
        }
        Cell* found = hashtable::find(h->data3, &key, 0, 1, actions::op::find, false, false);
        ASSERT_NE(found, nullptr) << after << ": " << molded(key) << " not indexed";
        EXPECT_EQ(found - block::cell_at(&all, 0), first) << after << ": " << molded(key);
    }
    Cell gone;
    word::make_at(&gone, symbol::make("never-stored"));
    EXPECT_EQ(hashtable::find(h->data3, &gone, 0, 1, actions::op::find, false, false), nullptr);
}

Cell word_cell(const char* name) {
    Cell w;
    word::make_at(&w, symbol::make(name));
    return w;
}

}  // namespace

TEST_F(BlockTest, HashIndexFollowsEveryEdit) {
    Cell* h = hashed("a b c a d e");
    Cell x = word_cell("x"), a = word_cell("a"), many = *loaded("p q r");
    auto append = action<slotfn::Append>(slot::append);
    auto insert = action<slotfn::Append>(slot::insert);
    auto change = action<slotfn::Change>(slot::change);
    auto sort = action<slotfn::Sort>(slot::sort);
    auto reverse = action<slotfn::Reverse>(slot::reverse);
    auto put = action<slotfn::Put>(slot::put);
    auto trim = action<slotfn::Trim>(slot::trim);

    Cell at = *h;
    append(&at, &x, -1, false, 3);
    expect_index_in_step(h, "append/dup");
    at = *h;
    insert(&at, &many, -1, false, 2);
    expect_index_in_step(h, "insert/dup at the head");
    at = *h;
    at.data1 = 4;
    insert(&at, &a, -1, true, 1);
    expect_index_in_step(h, "insert inside");
    at = *h;
    series::poke(&at, 1, &x, nullptr);
    expect_index_in_step(h, "poke over the first cell");
    at = *h;
    at.data1 = 2;
    series::remove(&at, nullptr, nullptr);
    expect_index_in_step(h, "remove");
    at = *h;
    change(&at, &many, 2, false, 1);
    expect_index_in_step(h, "change/part");
    at = *h;
    reverse(&at, nullptr, nullptr);
    expect_index_in_step(h, "reverse");
    at = *h;
    sort(&at, {.stable = true});
    expect_index_in_step(h, "sort");
    at = *h;
    Cell key = word_cell("k"), value = integer(5);
    put(&at, &key, &value, false);
    expect_index_in_step(h, "put of a new key");
    at = *h;
    Cell two = integer(2);
    Cell* taken = series::take(&at, &two, false, false);
    ASSERT_TRUE(taken->is(Type::hash));
    ASSERT_NE(taken->data3, 0u);
    Cell* kept = stack::push(taken);
    expect_index_in_step(kept, "the taken cells");
    expect_index_in_step(h, "take/part");
    cell::make(block::cell_at(h, 0), Type::none);
    at = *h;
    trim(&at, {});
    expect_index_in_step(h, "trim");
    collector::recycle();
    expect_index_in_step(h, "a collection");
    at = *h;
    at.data1 = 1;
    action<slotfn::Series>(slot::clear)(&at);
    expect_index_in_step(h, "clear");
    EXPECT_EQ(series::buffer_length(h), 1);
}

TEST_F(BlockTest, HashFindUsesTheIndexLikeAScan) {
    Cell* h = hashed("a 1 b 2 a 3 b 4");
    Cell* plain = loaded("a 1 b 2 a 3 b 4");
    auto find = action<slotfn::Find>(slot::find);
    Cell b = word_cell("b"), two = integer(2), seq = *loaded("a 3");
    struct Case {
        Cell* value;
        Cell* skip;
        bool last, reverse, tail;
        int32_t head;
    } cases[] = {
        {&b, nullptr, false, false, false, 0}, {&b, nullptr, true, false, false, 0},
        {&b, nullptr, false, true, false, 8},  {&b, &two, false, false, true, 1},
        {&b, &two, false, false, false, 3},    {&seq, nullptr, false, false, false, 0},
        {&seq, nullptr, false, false, true, 0},
    };
    for (const Case& c : cases) {
        Cell x = *h, y = *plain;
        x.data1 = y.data1 = static_cast<uint32_t>(c.head);
        slotfn::FindOptions o;
        o.skip = c.skip;
        o.last = c.last;
        o.reverse = c.reverse;
        o.tail = c.tail;
        Cell* fx = find(&x, c.value, o);
        Cell rx = *fx;
        Cell* fy = find(&y, c.value, o);
        ASSERT_EQ(rx.type() == Type::none, fy->is(Type::none)) << molded(*c.value) << " from " << c.head;
        if (!fy->is(Type::none)) {
            EXPECT_EQ(rx.int1(), fy->int1()) << molded(*c.value) << " from " << c.head;
        }
    }
}

TEST_F(BlockTest, SetOperationsOnAHashGiveAHash) {
    Cell* h = hashed("a b c");
    Cell* b = loaded("b d");
    stack::arguments_base = h;
    stack::arguments_top = b + 1;
    block::set_op(false, nullptr, 9);
    stack::arguments_base = stack::arguments_bottom;
    ASSERT_TRUE(h->is(Type::hash));
    Cell shown = *h;
    shown.set_type(Type::block);
    EXPECT_EQ(molded(shown), "[a b c d]");
    expect_index_in_step(h, "union");
}
