// Hash tables and the address map: hashing by datatype, hash! groups and position keeping,
// map! keys and removal markers, symbols and context words, id and ownership tables with
// purging, and tables that live through collections that move their buffers and nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "memory/actions.h"
#include "memory/symbol.h"
#include "memory/address-map.h"
#include "memory/case-folding.h"
#include "memory/datatype.h"
#include "memory/hash-buckets.h"
#include "memory/hashtable.h"
#include "memory_fixture.h"

using namespace zuv;
using namespace zuv::memory;
namespace ht = zuv::hashtable;
namespace hb = zuv::hash_buckets;
namespace op = zuv::actions::op;

namespace {

// Simple compare actions for the datatypes the tests index: -1, 0, 1, or -2 when the
// values cannot be compared. Text compares ignore case except for strict equality.

bool is_text(const Cell* c) {
    Type t = c->type();
    return t == Type::string || t == Type::file || t == Type::tag || t == ht::text_key;
}

std::u32string code_points(const Cell* c) {
    SeriesBuffer* b = buffer_of(c->data2);
    uint32_t unit = b->unit();
    std::u32string out;
    for (const uint8_t* p = b->head_ptr() + size_t(c->data1) * unit; p < b->tail_ptr(); p += unit) {
        uint32_t v = 0;
        std::memcpy(&v, p, unit);
        out.push_back(v);
    }
    if (c->type() == ht::text_key && c->int3() >= 0 && out.size() > c->data3) out.resize(c->data3);
    return out;
}

int32_t compare_text(Cell* a, Cell* b, int32_t o) {
    if (!is_text(b)) return -2;
    std::u32string x = code_points(a), y = code_points(b);
    if (o != op::strict_equal && o != op::sort_case) {
        for (auto& c : x) c = case_folding::to_upper(c);
        for (auto& c : y) c = case_folding::to_upper(c);
    }
    return x == y ? 0 : (x < y ? -1 : 1);
}

int32_t compare_integer(Cell* a, Cell* b, int32_t) {
    if (!b->is(Type::integer)) return -2;
    return a->int2() == b->int2() ? 0 : (a->int2() < b->int2() ? -1 : 1);
}

bool is_word(const Cell* c) {
    return c->is(Type::word) || c->is(Type::set_word) || c->is(Type::lit_word) || c->is(Type::get_word);
}

int32_t compare_word(Cell* a, Cell* b, int32_t o) {
    if (!is_word(b)) return -2;
    if (o == op::strict_equal) return a->type() == b->type() && a->data2 == b->data2 ? 0 : 1;
    return symbol::resolve(a->int2()) == symbol::resolve(b->int2()) ? 0 : 1;
}

int32_t compare_block(Cell* a, Cell* b, int32_t) {
    if (b->type() != a->type()) return -2;
    if (a->data2 == b->data2 && a->data1 == b->data1) return 0;
    return a->data2 < b->data2 ? -1 : 1;
}

void register_compare(Type t, slotfn::Compare compare) { datatype::register_type(t, {.compare = compare}); }

// Word keys become set-words, as map! prepares them.
void prepare_key(Cell* key) {
    if (is_word(key)) key->set_type(Type::set_word);
}

Cell integer(int32_t v) {
    Cell c;
    cell::make(&c, Type::integer, 0, static_cast<uint32_t>(v), 0);
    return c;
}

Cell text(std::u32string_view s, uint32_t unit = 1, Type type = Type::string) {
    Ref node = alloc_series(int64_t(s.size()) + 1, unit, 0);
    SeriesBuffer* b = buffer_of(node);
    for (char32_t c : s) {
        std::memcpy(b->tail_ptr(), &c, unit);
        b->tail += unit;
    }
    Cell c;
    cell::make(&c, type, 0, node, 0);
    return c;
}

Cell word(const char* name, Type type = Type::word) {
    Cell c;
    cell::make(&c, type, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return c;
}

// A cell series held by a root cell; the cell's type and third word make it a hash! or a
// map! once a table is made over it.
struct Block {
    Cell cell;
    explicit Block(int64_t capacity = 4) {
        Ref node = alloc_cells(capacity);
        cell::make(&cell, Type::block, 0, node, 0);
        collector::add_root(&cell);
    }
    ~Block() { collector::remove_root(&cell); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    SeriesBuffer* buffer() const { return buffer_of(cell.data2); }
    Cell* at(int32_t i) const { return buffer()->cells() + i; }
    int32_t length() const { return static_cast<int32_t>(buffer()->used_bytes() / 16); }
    Cell* append(Cell c) {
        SeriesBuffer* b = buffer();
        if (b->tail_ptr() + 16 > b->data_end()) b = expand_series(b, 0);
        *b->cells_end() = c;
        b->tail += 16;
        return b->cells_end() - 1;
    }
    Ref table() const { return cell.data3; }
    void index_as(Type type, ht::Kind kind, int32_t size) {
        Ref t = ht::make(size, &cell, kind, 0);
        cell.set_type(type);
        cell.data3 = t;
    }
};

// A table of its own (symbols, words, ids) held by a root cell.
struct Table {
    Cell cell;
    Table(int32_t size, ht::Kind kind, int32_t sub_kind, const Cell* source = nullptr) {
        cell::make(&cell, Type::map, 0, 0, 0);
        collector::add_root(&cell);
        cell.data3 = ht::make(size, source, kind, sub_kind);
    }
    ~Table() { collector::remove_root(&cell); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    Ref ref() const { return cell.data3; }
    ht::Record* record() const { return ht::record_of(cell.data3); }
};

// The two cells of an empty object context: its context! cell and its owner.
Cell object_context_cell() {
    Cell c;
    cell::make(&c, Type::context, 0, 0, 0);
    return c;
}
Ref object_context() {
    Ref node = alloc_cells(2);
    SeriesBuffer* b = buffer_of(node);
    b->cells()[0] = object_context_cell();
    cell::make(&b->cells()[1], Type::none);
    b->tail += 32;
    return node;
}

// Every cell of a hash! series is indexed exactly once and the index array leads to it.
void expect_fully_indexed(const Block& b) {
    ht::Record* r = ht::record_of(b.table());
    int32_t n = b.length();
    auto* index = reinterpret_cast<int32_t*>(buffer_of(static_cast<Ref>(r->indexes))->head_ptr());
    auto* flags = reinterpret_cast<uint32_t*>(buffer_of(r->flags)->head_ptr());
    auto* keys = reinterpret_cast<int32_t*>(buffer_of(r->keys)->head_ptr());
    auto* chains = reinterpret_cast<uint32_t*>(buffer_of(r->chains)->head_ptr());
    auto members = [&](int32_t key) {
        if (key >= 0) return std::vector<int32_t>{key};
        SeriesBuffer* list = buffer_of(chains[-key - 1]);
        auto* w = reinterpret_cast<int32_t*>(list->head_ptr());
        return std::vector<int32_t>(w, w + list->used_bytes() / 4);
    };
    std::vector<int> seen(size_t(n), 0);
    int32_t groups = 0;
    for (int32_t i = 0; i < r->buckets; ++i) {
        if (!hb::is_live(flags, i)) continue;
        ++groups;
        for (int32_t m : members(keys[i])) {
            ASSERT_GE(m, 0);
            ASSERT_LT(m, n);
            ++seen[size_t(m)];
            EXPECT_EQ(index[m], i + 1) << "cell " << m;
        }
    }
    for (int32_t p = 0; p < n; ++p) EXPECT_EQ(seen[size_t(p)], 1) << "cell " << p;
    EXPECT_EQ(groups, r->size);
}

class HashTableTest : public MemoryTest {
protected:
    // The runtime's own hook (map! key preparation) comes back after each test.
    ht::KeyHook saved_hook = nullptr;
    void SetUp() override {
        MemoryTest::SetUp();
        // The test body runs at this depth, not MemoryTest::SetUp's.
        runtime::stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) + 512;
        case_folding::init();
        datatype::init_registry();
        register_compare(Type::integer, compare_integer);
        for (Type t : {Type::string, Type::file, Type::tag}) register_compare(t, compare_text);
        for (Type t : {Type::word, Type::set_word, Type::lit_word, Type::get_word})
            register_compare(t, compare_word);
        register_compare(Type::block, compare_block);
        symbol::make_table();
        symbol::init_table_index();
        saved_hook = ht::prepare_map_key;
        ht::prepare_map_key = prepare_key;
    }
    void TearDown() override {
        ht::prepare_map_key = saved_hook;
        datatype::init_registry();
        MemoryTest::TearDown();
    }
};

struct SeedGuard {
    uint32_t saved = ht::seed;
    explicit SeedGuard(uint32_t s) { ht::seed = s; }
    ~SeedGuard() { ht::seed = saved; }
};

}  // namespace

// Hashing -----------------------------------------------------------------------------------

TEST_F(HashTableTest, ByteHashIsMurmur3) {
    struct Case {
        uint32_t seed;
        const char* text;
        uint32_t hash;
    } cases[] = {
        {0, "", 0},
        {1, "", 0x514E28B7},
        {0, "hello", 0x248BFA47},
        {0x9747B28C, "The quick brown fox jumps over the lazy dog", 0x2FA826CD},
    };
    for (const Case& c : cases) {
        SeedGuard s(c.seed);
        EXPECT_EQ(ht::hash_bytes(c.text, std::strlen(c.text)), c.hash) << c.text;
    }
    EXPECT_EQ(ht::mix32(0), 0u);
    EXPECT_NE(ht::mix32(1), ht::mix32(2));
}

TEST_F(HashTableTest, HashByDatatype) {
    auto h = [](const Cell& c) { return ht::hash_value(&c, false); };
    Cell u, n;
    cell::make(&u, Type::unset);
    cell::make(&n, Type::none);
    EXPECT_EQ(h(u), uint32_t(-2));
    EXPECT_EQ(h(n), uint32_t(-1));
    EXPECT_EQ(h(integer(7)), ht::mix32(7));

    // Text: case and unit width do not matter unless asked; a key cell may limit its length.
    Cell lower = text(U"abc\u00E9"), upper = text(U"ABC\u00C9", 2), wide = text(U"aBc\u00E9", 4);
    EXPECT_EQ(h(lower), h(upper));
    EXPECT_EQ(h(lower), h(wide));
    EXPECT_NE(ht::hash_value(&lower, true), ht::hash_value(&upper, true));
    Cell longer = text(U"abcdef");
    Cell limited = longer;
    limited.set_type(ht::text_key);
    limited.data3 = 3;
    EXPECT_EQ(h(limited), h(text(U"ABC")));
    limited.data3 = static_cast<uint32_t>(-1);
    EXPECT_EQ(h(limited), h(longer));
    Cell from_second = longer;
    from_second.data1 = 1;
    EXPECT_EQ(h(from_second), h(text(U"bcdef")));

    // Words hash by their canonical symbol.
    EXPECT_EQ(h(word("Alpha")), h(word("alpha", Type::set_word)));
    EXPECT_NE(h(word("alpha")), h(word("beta")));

    // Points: equal values alike wherever they stand; a tuple only over its length.
    Cell p1, p2;
    cell::make(&p1, Type::point3D, 1, 2, 3);
    cell::make(&p2, Type::point3D, 1, 2, 3);
    p2.header |= header::new_line;
    EXPECT_EQ(h(p1), h(p2));
    p2.data3 = 4;
    EXPECT_NE(h(p1), h(p2));
    Cell t1, t2;
    cell::make(&t1, Type::tuple, 0x030201, 0, 0);
    t1.header |= 3u << 19;
    t2 = t1;
    t2.data2 = 99;  // past the three bytes
    EXPECT_EQ(h(t1), h(t2));
    t2.header = static_cast<uint32_t>(Type::tuple) | (4u << 19);
    EXPECT_NE(h(t1), h(t2));

    // Money keeps only its sign among the header flags.
    Cell m1, m2;
    cell::make(&m1, Type::money, 0x12000000, 5, 0);
    m2 = m1;
    m2.header |= header::new_line;
    EXPECT_EQ(h(m1), h(m2));
    m2.header |= 0x4000;
    EXPECT_NE(h(m1), h(m2));

    // Binary from its head; symbols by their name in lower case.
    Cell bin = text(U"\x01\x02\x03", 1, Type::binary);
    bin.data1 = 1;
    EXPECT_EQ(h(bin), ht::hash_bytes("\x02\x03", 2));
    int32_t id = symbol::make("MixedCase");
    EXPECT_EQ(ht::hash_value(symbol::record(id), false), ht::hash_bytes("mixedcase", 9));

    Cell other;
    cell::make(&other, Type::bitset, 1, 2, 3);
    EXPECT_EQ(h(other), 0u);
}

// Making ------------------------------------------------------------------------------------

TEST_F(HashTableTest, SizesFromTheRequest) {
    struct Case {
        int32_t size;
        ht::Kind kind;
        int32_t buckets, upper;
    } cases[] = {
        {0, ht::kind_hash, 8, 6},        // 4 / 0.77 -> 5 -> 8
        {4, ht::kind_map, 8, 6},
        {100, ht::kind_hash, 256, 197},
        {4000, ht::kind_words, 16384, 12615},  // doubled first
        {4000, ht::kind_map, 8192, 6307},
    };
    for (const Case& c : cases) {
        Table t(c.size, c.kind, 0);
        EXPECT_EQ(t.record()->buckets, c.buckets) << c.size;
        EXPECT_EQ(t.record()->upper, c.upper) << c.size;
        EXPECT_EQ(t.record()->size, 0);
    }
}

// hash! -------------------------------------------------------------------------------------

TEST_F(HashTableTest, HashGroupsEqualValuesInOneBucket) {
    Block b;
    for (auto s : {U"abc", U"x", U"ABC", U"abc", U"y"}) b.append(text(s));
    b.index_as(Type::hash, ht::kind_hash, b.length());
    expect_fully_indexed(b);
    EXPECT_EQ(ht::record_of(b.table())->size, 3);  // "abc" group, "x", "y"

    Cell abc = text(U"abc");
    struct Case {
        int32_t start, skip, op;
        bool last, reverse;
        int32_t expected;  // -1: not found
    } cases[] = {
        {0, 1, op::equal, false, false, 0},
        {1, 1, op::equal, false, false, 2},
        {1, 1, op::strict_equal, false, false, 3},
        {4, 1, op::equal, false, false, -1},
        {0, 1, op::equal, true, false, 3},
        {3, 1, op::equal, false, true, 2},
        {3, 1, op::strict_equal, false, true, 0},
        {0, 1, op::equal, false, true, -1},
        {1, 2, op::equal, false, false, 3},   // 1 + 2k
        {0, 2, op::equal, false, false, 0},
        {4, 2, op::equal, false, true, 3},    // 4 - 1 - 2k
        {5, 2, op::equal, false, true, 2},
    };
    for (const Case& c : cases) {
        Cell* found = ht::find(b.table(), &abc, c.start, c.skip, c.op, c.last, c.reverse);
        int32_t at = found ? static_cast<int32_t>(found - b.at(0)) : -1;
        EXPECT_EQ(at, c.expected) << "start " << c.start << " skip " << c.skip << " op " << c.op;
    }
    Cell missing = text(U"zzz");
    EXPECT_EQ(ht::find(b.table(), &missing, 0, 1, op::equal, false, false), nullptr);
}

TEST_F(HashTableTest, HashGrowsByRebuilding) {
    Block b;
    b.index_as(Type::hash, ht::kind_hash, 1);
    int rebuilds = 0;
    for (int32_t i = 0; i < 2000; ++i) {
        b.append(integer(i % 1500));  // the last 500 join groups
        int32_t status;
        ht::insert(b.table(), b.at(i), &status);
        rebuilds += status == ht::rebuilt;
    }
    EXPECT_GT(rebuilds, 5);
    expect_fully_indexed(b);
    EXPECT_EQ(ht::record_of(b.table())->size, 1500);
    for (int32_t v : {0, 499, 500, 1499}) {
        Cell key = integer(v);
        Cell* last = ht::find(b.table(), &key, 0, 1, op::equal, true, false);
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last - b.at(0), v < 500 ? v + 1500 : v);
    }
}

TEST_F(HashTableTest, HashDeleteUnindexesOneCell) {
    Block b;
    for (int32_t v : {1, 2, 1, 1, 3}) b.append(integer(v));
    b.index_as(Type::hash, ht::kind_hash, b.length());
    Cell one = integer(1);
    ht::delete_(b.table(), b.at(2));
    EXPECT_EQ(ht::find(b.table(), &one, 1, 1, op::equal, false, false) - b.at(0), 3);
    ht::delete_(b.table(), b.at(0));
    ht::delete_(b.table(), b.at(3));
    EXPECT_EQ(ht::find(b.table(), &one, 0, 1, op::equal, false, false), nullptr);
    EXPECT_EQ(ht::record_of(b.table())->size, 2);
    ht::delete_(b.table(), b.at(3));  // twice: nothing more
    EXPECT_EQ(ht::record_of(b.table())->size, 2);
    Cell three = integer(3);
    ht::delete_range(b.table(), 4, 10);  // clamped to the series
    EXPECT_EQ(ht::find(b.table(), &three, 0, 1, op::equal, false, false), nullptr);
    Cell two = integer(2);
    EXPECT_EQ(ht::find(b.table(), &two, 0, 1, op::equal, false, false) - b.at(0), 1);
    ht::delete_range(b.table(), 0, 5);
    EXPECT_EQ(ht::record_of(b.table())->size, 0);
    EXPECT_EQ(ht::find(b.table(), &two, 0, 1, op::equal, false, false), nullptr);
}

// Block edits followed by the table: removal, insertion and moves, checked against a model
// of the block.
TEST_F(HashTableTest, HashFollowsBlockEdits) {
    std::mt19937 rng(7);
    Block b;
    for (int32_t i = 0; i < 60; ++i) b.append(integer(int32_t(rng() % 12)));
    b.index_as(Type::hash, ht::kind_hash, b.length());
    auto verify = [&] {
        expect_fully_indexed(b);
        for (int32_t v = 0; v < 12; ++v) {
            Cell key = integer(v);
            int32_t expected = -1;
            for (int32_t p = 0; p < b.length(); ++p)
                if (b.at(p)->int2() == v) {
                    expected = p;
                    break;
                }
            Cell* found = ht::find(b.table(), &key, 0, 1, op::equal, false, false);
            EXPECT_EQ(found ? found - b.at(0) : -1, expected) << v;
        }
    };
    for (int round = 0; round < 40; ++round) {
        int32_t n = b.length();
        switch (rng() % 3) {
            case 0: {  // remove count cells at i
                int32_t i = int32_t(rng() % n), count = std::min<int32_t>(1 + rng() % 4, n - i);
                std::memmove(b.at(i), b.at(i + count), size_t(n - i - count) * 16);
                b.buffer()->tail -= uint32_t(count) * 16;
                ASSERT_EQ(ht::refresh(b.table(), -count, i + count, n - i - count, true), 0);
                break;
            }
            case 1: {  // insert count cells at i
                int32_t i = int32_t(rng() % (n + 1)), count = 1 + int32_t(rng() % 3);
                for (int32_t k = 0; k < count; ++k) b.append(integer(0));
                std::memmove(b.at(i + count), b.at(i), size_t(n - i) * 16);
                ASSERT_EQ(ht::refresh(b.table(), count, i, n - i, true), 0);
                for (int32_t k = 0; k < count; ++k) {
                    *b.at(i + k) = integer(int32_t(rng() % 12));
                    ht::put(b.table(), b.at(i + k));
                }
                break;
            }
            default: {  // move a run; the destination is where its first cell ends up
                int32_t count = 1 + int32_t(rng() % 5);
                if (count > n) break;
                int32_t source = int32_t(rng() % (n - count + 1)), destination = int32_t(rng() % (n - count + 1));
                std::vector<Cell> cells(b.at(0), b.at(n));
                std::vector<Cell> run(cells.begin() + source, cells.begin() + source + count);
                cells.erase(cells.begin() + source, cells.begin() + source + count);
                cells.insert(cells.begin() + destination, run.begin(), run.end());
                std::copy(cells.begin(), cells.end(), b.at(0));
                ht::move(b.table(), destination, source, count);
                break;
            }
        }
        verify();
        if (HasFailure()) return;
    }
}

TEST_F(HashTableTest, RefreshDeclinesLargeCounts) {
    Block b;
    for (int32_t v : {1, 2, 3}) b.append(integer(v));
    b.index_as(Type::hash, ht::kind_hash, 3);
    EXPECT_EQ(ht::refresh(b.table(), 5, 0, 30001, true), 1);
    expect_fully_indexed(b);
    EXPECT_EQ(ht::refresh(b.table(), 0, 0, 3, false), 0);
}

TEST_F(HashTableTest, CopiedHashKeepsItsOwnGroups) {
    Block a;
    for (int32_t v : {5, 5, 6}) a.append(integer(v));
    a.index_as(Type::hash, ht::kind_hash, 3);
    Block b;
    for (int i = 0; i < 3; ++i) b.append(*a.at(i));
    b.cell.set_type(Type::hash);
    b.cell.data3 = ht::copy(a.table(), b.cell.data2);
    // A new duplicate in the copy must not reach the original's group.
    b.append(integer(5));
    ht::put(b.table(), b.at(3));
    expect_fully_indexed(a);
    expect_fully_indexed(b);
    Cell five = integer(5);
    EXPECT_EQ(ht::find(a.table(), &five, 2, 1, op::equal, false, false), nullptr);
    EXPECT_EQ(ht::find(b.table(), &five, 2, 1, op::equal, false, false) - b.at(0), 3);
}

// map! --------------------------------------------------------------------------------------

TEST_F(HashTableTest, MapKeepsFirstPositionAndLastValue) {
    Block b;
    for (Cell c : {word("a"), integer(1), word("b"), integer(2), word("a"), integer(3)}) b.append(c);
    b.index_as(Type::map, ht::kind_map, b.length());
    ASSERT_EQ(b.length(), 4);
    EXPECT_EQ(ht::record_of(b.table())->size, 2);
    EXPECT_TRUE(b.at(0)->is(Type::set_word));
    EXPECT_EQ(b.at(1)->int2(), 3);
    // A word key is looked up as a set-word.
    Cell key = word("a");
    EXPECT_EQ(ht::find(b.table(), &key, 0, 1, op::equal, false, false), b.at(0));
}

TEST_F(HashTableTest, MapTextKeysDifferingInCaseAreTwoKeys) {
    Block b;
    for (Cell c : {text(U"abc"), integer(1), text(U"ABC"), integer(2)}) b.append(c);
    b.index_as(Type::map, ht::kind_map, b.length());
    EXPECT_EQ(b.length(), 4);
    EXPECT_EQ(ht::record_of(b.table())->size, 2);
    Cell upper = text(U"ABC");
    EXPECT_EQ(ht::find(b.table(), &upper, 0, 1, op::strict_equal, false, false), b.at(2));
    EXPECT_EQ(ht::find(b.table(), &upper, 0, 1, op::equal, false, false), b.at(0));

    // Both keys are equal without case: find_next hands out each once.
    std::vector<Cell*> seen;
    int32_t bucket = -1, start = 0, step = 0;
    while (Cell* k = ht::find_next(b.table(), &upper, &bucket, &start, &step)) seen.push_back(k);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<Cell*>{b.at(0), b.at(2)}));

    // A text key cell limited to its first code points.
    Cell prefix = text(U"abcdef");
    prefix.set_type(ht::text_key);
    prefix.data3 = 3;
    EXPECT_EQ(ht::find(b.table(), &prefix, 0, 1, op::equal, false, false), b.at(0));
}

TEST_F(HashTableTest, MapRemovalLeavesAMarker) {
    Block b;
    for (Cell c : {word("a"), integer(1), word("b"), integer(2)}) b.append(c);
    b.index_as(Type::map, ht::kind_map, b.length());
    Ref t = b.table();
    ht::delete_(t, b.at(0));
    EXPECT_EQ(b.at(1)->header, 0u);
    EXPECT_EQ(ht::record_of(t)->size, 1);
    ht::delete_(t, b.at(0));  // already removed
    EXPECT_EQ(ht::record_of(t)->size, 1);
    // The key stays live: looking it up finds the old pair, which storing revives in place.
    Cell key = word("a");
    Cell* found = ht::find(t, &key, 0, 1, op::equal, false, false);
    ASSERT_EQ(found, b.at(0));
    found[1] = integer(5);
    ++ht::record_of(t)->size;
    EXPECT_EQ(b.at(1)->int2(), 5);

    ht::clear(t);
    EXPECT_EQ(b.length(), 0);
    EXPECT_EQ(ht::record_of(t)->size, 0);
    EXPECT_EQ(ht::find(t, &key, 0, 1, op::equal, false, false), nullptr);
}

TEST_F(HashTableTest, MapGrows) {
    Block b;
    b.index_as(Type::map, ht::kind_map, 0);
    for (int32_t i = 0; i < 3000; ++i) {
        b.append(integer(i));
        b.append(integer(-i));
        ht::put(b.table(), b.at(2 * i));
        if (i % 7 == 0) ht::delete_(b.table(), b.at(2 * i));
    }
    ht::Record* r = ht::record_of(b.table());
    EXPECT_EQ(r->size, 3000 - 429);
    EXPECT_EQ(r->occupied, 3000);  // removed pairs keep their buckets
    EXPECT_GE(r->buckets, 4096);
    for (int32_t i = 0; i < 3000; ++i) {
        Cell key = integer(i);
        Cell* found = ht::find(b.table(), &key, 0, 1, op::strict_equal, false, false);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found - b.at(0), 2 * i);
    }
}

// A store probes once: the bucket it is given for a new key must survive the allocations
// (and collections) that append the pair; integer and word keys match without the compare
// action, yet keys of other types or spellings stay apart.
TEST_F(HashTableTest, MapStoreProbesOnceAcrossCollections) {
    Block b;
    b.index_as(Type::map, ht::kind_map, 0);
    auto store = [&](Cell key, int32_t o) {
        uint32_t bucket = 0;
        int32_t at = ht::probe_map_key(b.table(), &key, o, &bucket);
        if (at >= 0) return at;
        if (b.length() % 64 == 0) {
            for (int i = 0; i < 50; ++i) alloc_bytes(100);
            collector::recycle();
        }
        at = b.length();
        b.append(key);
        b.append(integer(at));
        ht::claim_map_bucket(b.table(), bucket, at);
        return -1;
    };
    for (int32_t i = 0; i < 1500; ++i) ASSERT_EQ(store(integer(i * 31 - 700), op::equal), -1) << i;
    EXPECT_EQ(store(integer(31 - 700), op::equal), 2);  // present: no second pair
    EXPECT_EQ(store(word("Abc", Type::set_word), op::equal), -1);
    EXPECT_EQ(store(word("abc", Type::set_word), op::equal), 3000);
    EXPECT_EQ(store(word("ABC", Type::set_word), op::strict_equal), -1);
    EXPECT_EQ(store(word("Abc", Type::refinement), op::equal), -1);

    ht::Record* r = ht::record_of(b.table());
    EXPECT_EQ(r->size, 1503);
    EXPECT_EQ(r->occupied, 1503);
    EXPECT_EQ(b.length(), 2 * 1503);
    for (int32_t i = 0; i < 1500; ++i) {
        Cell key = integer(i * 31 - 700);
        for (int32_t o : {op::equal, op::strict_equal, op::same})
            ASSERT_EQ(ht::find_map_key(b.table(), &key, o), b.at(2 * i)) << i;
    }
    struct Lookup {
        Cell key;
        int32_t op;
        int32_t at;  // -1: absent
    } lookups[] = {
        {integer(-701), op::equal, -1},
        {integer(30 * 1500), op::equal, -1},
        {word("Abc"), op::strict_equal, 3000},  // any word finds the set-word key
        {word("ABC", Type::get_word), op::strict_equal, 3002},
        {word("abc"), op::strict_equal, -1},
        {text(U"abc"), op::equal, -1},
    };
    for (const Lookup& l : lookups) {
        Cell* found = ht::find_map_key(b.table(), &l.key, l.op);
        if (l.at < 0) EXPECT_EQ(found, nullptr) << l.key.int2();
        else EXPECT_EQ(found, b.at(l.at)) << l.key.int2();
    }
}

// An integer stored in one step claims its bucket for the position it is given, through the
// growths and collections of a filling table, beside keys stored in two steps; a key already
// there (a removed pair's too) gives its place and takes no second bucket.
TEST_F(HashTableTest, MapIntegerStoreInOneStep) {
    Block b(2 * 1300);  // the caller's room comes first
    b.index_as(Type::map, ht::kind_map, 0);
    auto store_word = [&](const char* name) {
        Cell key = word(name, Type::set_word);
        uint32_t bucket = 0;
        int32_t at = ht::probe_map_key(b.table(), &key, op::equal, &bucket);
        if (at >= 0) return at;
        at = b.length();
        b.append(key);
        b.append(integer(0));
        ht::claim_map_bucket(b.table(), bucket, at);
        return -1;
    };
    for (int32_t i = 0; i < 1200; ++i) {
        if (i % 128 == 0) {
            for (int k = 0; k < 50; ++k) alloc_bytes(100);
            collector::recycle();
        }
        int32_t position = b.length();
        ASSERT_EQ(ht::store_map_integer(b.table(), uint32_t(i * 17 - 600), position), -1) << i;
        b.append(integer(i * 17 - 600));
        b.append(integer(i));
        if (i % 100 == 0) ASSERT_EQ(store_word("k"), i == 0 ? -1 : 2) << i;
    }
    EXPECT_EQ(ht::store_map_integer(b.table(), uint32_t(-600), b.length()), 0);
    ht::delete_(b.table(), b.at(4));
    EXPECT_EQ(ht::store_map_integer(b.table(), uint32_t(17 - 600), b.length()), 4);

    ht::Record* r = ht::record_of(b.table());
    EXPECT_EQ(r->occupied, 1201);
    EXPECT_EQ(r->size, 1200);
    for (int32_t i = 0; i < 1200; ++i) {
        Cell key = integer(i * 17 - 600);
        int32_t at = i == 0 ? 0 : 2 * i + 2;  // the word's pair follows the first integer's
        for (int32_t o : {op::equal, op::strict_equal, op::same})
            ASSERT_EQ(ht::find_map_key(b.table(), &key, o), b.at(at)) << i;
    }
    Cell other = word("k");
    EXPECT_EQ(ht::find_map_key(b.table(), &other, op::equal), b.at(2));
}

// Symbols and context words -----------------------------------------------------------------

TEST_F(HashTableTest, SymbolsAliasTheirCaseVariants) {
    int32_t foo = symbol::make("foo");
    int32_t Foo = symbol::make("Foo");
    EXPECT_NE(Foo, foo);
    EXPECT_EQ(symbol::record(Foo)->int1(), foo);
    EXPECT_EQ(symbol::record(foo)->int1(), -1);
    EXPECT_EQ(symbol::make("foo"), foo);
    EXPECT_EQ(symbol::make("Foo"), Foo);
    EXPECT_EQ(symbol::resolve(Foo), symbol::resolve(foo));
    int32_t FOO = symbol::make("FOO");
    EXPECT_EQ(symbol::record(FOO)->int1(), foo);  // the canonical one, not Foo
    int32_t exact = symbol::make_exact("fOO");
    EXPECT_EQ(symbol::record(exact)->int1(), -1);
    EXPECT_STREQ(symbol::name(Foo), "Foo");
    EXPECT_EQ(symbol::name_length(Foo), 3);
    int32_t empty = symbol::make("");
    EXPECT_EQ(symbol::make(""), empty);
}

TEST_F(HashTableTest, SymbolTableGrowsAndSurvivesCollections) {
    Table t(0, ht::kind_words, 1);
    std::vector<int32_t> ids;
    for (int i = 0; i < 3000; ++i) {
        std::string name = "name-" + std::to_string(i);
        ids.push_back(ht::intern_symbol(t.ref(), reinterpret_cast<const uint8_t*>(name.data()),
                                        int32_t(name.size()), true));
        if (i % 1000 == 0) {
            for (int g = 0; g < 2000; ++g) alloc_bytes(64);  // garbage, so buffers slide
            collector::recycle();
        }
    }
    EXPECT_EQ(ids.back(), 3000);
    for (int i = 0; i < 3000; i += 37) {
        std::string name = "NAME-" + std::to_string(i);
        int32_t id = ht::intern_symbol(t.ref(), reinterpret_cast<const uint8_t*>(name.data()),
                                       int32_t(name.size()), true);
        EXPECT_EQ(id, 3000 + 1 + i / 37);
        Cell* record = buffer_of(t.record()->series)->cells() + (id - 1);
        EXPECT_EQ(record->int1(), ids[size_t(i)]);
        std::string exact = "name-" + std::to_string(i);
        EXPECT_EQ(ht::intern_symbol(t.ref(), reinterpret_cast<const uint8_t*>(exact.data()),
                                    int32_t(exact.size()), true),
                  ids[size_t(i)]);
    }
}

TEST_F(HashTableTest, ContextWordsFoundAndAdded) {
    Table words(2, ht::kind_words, 2);
    Ref context = alloc_cells(2);  // stands for the context node the words are bound to
    Cell holder;
    cell::make(&holder, Type::block, 0, context, 0);
    collector::add_root(&holder);

    std::vector<int32_t> symbols;
    for (int i = 0; i < 200; ++i) symbols.push_back(symbol::make("w" + std::to_string(i)));
    for (int i = 0; i < 200; ++i) {
        int32_t index = -2;
        EXPECT_EQ(ht::find_word(words.ref(), symbols[size_t(i)], false, holder.data2, &index), -1);
        EXPECT_EQ(index, i);
    }
    Cell* w = buffer_of(words.record()->series)->cells() + 57;
    EXPECT_TRUE(w->is(Type::word));
    EXPECT_EQ(w->data1, holder.data2);
    EXPECT_EQ(w->int2(), symbols[57]);
    EXPECT_EQ(w->int3(), 57);
    EXPECT_EQ(words.record()->size, 200);

    int32_t index = -2;
    EXPECT_EQ(ht::find_word(words.ref(), symbols[57], false, 0, &index), 57);
    EXPECT_EQ(index, 57);
    // A case variant is the same word only when case does not count.
    int32_t variant = symbol::make("W57");
    EXPECT_EQ(ht::find_word(words.ref(), variant, true, 0, &index), 57);
    EXPECT_EQ(ht::find_word(words.ref(), variant, false, 0, &index), -1);
    EXPECT_EQ(words.record()->size, 200);

    // A prototype's table is copied: the copy grows alone.
    Cell prototype;
    cell::make(&prototype, Type::context, words.ref(), 0, 0);
    Table copy(0, ht::kind_words, 2, &prototype);
    EXPECT_NE(copy.record()->series, words.record()->series);
    EXPECT_EQ(ht::find_word(copy.ref(), symbols[199], false, 0, &index), 199);
    EXPECT_EQ(ht::find_word(copy.ref(), variant, false, holder.data2, &index), -1);
    EXPECT_EQ(index, 200);
    EXPECT_EQ(ht::find_word(words.ref(), variant, false, 0, &index), -1);
    EXPECT_EQ(copy.record()->size, 201);
    EXPECT_EQ(words.record()->size, 200);
    collector::remove_root(&holder);
}

// Tables keyed by ids -----------------------------------------------------------------------

TEST_F(HashTableTest, IdTablePutGetRemove) {
    Table t(0, ht::kind_id, 2);
    EXPECT_EQ(t.record()->indexes, 48);
    std::map<uint32_t, int32_t> model;
    std::mt19937 rng(3);
    for (int i = 0; i < 4000; ++i) {
        uint32_t key = rng() % 1500 + 1;
        if (rng() % 3 == 0) {
            Cell* v = ht::remove_key(t.ref(), key);
            EXPECT_EQ(v != nullptr, model.erase(key) == 1);
        } else {
            Cell* v = ht::put_key(t.ref(), key);
            EXPECT_TRUE(v[0].is(Type::unset) && v[1].is(Type::unset) && v[-1].is(Type::unset));
            v[0] = integer(i);
            model[key] = i;
        }
    }
    EXPECT_EQ(t.record()->size, int32_t(model.size()));
    for (uint32_t key = 1; key <= 1500; ++key) {
        Cell* v = ht::get_key(t.ref(), key);
        auto it = model.find(key);
        ASSERT_EQ(v != nullptr, it != model.end()) << key;
        if (v) {
            EXPECT_EQ(v->int2(), it->second);
        }
    }
}

TEST_F(HashTableTest, WeakTablesArePurgedAfterCollections) {
    // Keys are the nodes of string series, half of them kept; an ownership entry's owner
    // is an object whose context node is kept for three entries in four.
    Block live;
    Block owner;
    owner.append(object_context_cell());
    Table ids(0, ht::kind_id, 1);
    Table owned(0, ht::kind_ownership, 3);
    ht::register_purged(&ids.cell.data3);
    ht::register_purged(&owned.cell.data3);
    for (int32_t i = 0; i < 20; ++i) {
        Cell s = text(U"key");
        if (i % 2) live.append(s);
        *ht::put_key(ids.ref(), s.data2) = integer(i);
        Ref context = i % 4 == 1 ? object_context() : owner.cell.data2;
        Cell* v = ht::put_key(owned.ref(), s.data2);
        v[0] = s;
        cell::make(&v[1], Type::object, context, 0, 0);
    }
    collector::scan_stack = false;
    collector::recycle();
    collector::scan_stack = true;
    for (int32_t i = 0; i < 10; ++i) {
        Ref key = live.at(i)->data2;
        Cell* v = ht::get_key(ids.ref(), key);
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(v->int2(), 2 * i + 1);
        EXPECT_EQ(ht::get_key(owned.ref(), key) != nullptr, (2 * i + 1) % 4 != 1) << i;
    }
    EXPECT_EQ(ids.record()->size, 10);
    EXPECT_EQ(owned.record()->size, 5);
    // The purged entries left the entry series.
    EXPECT_EQ(buffer_of(ids.record()->series)->used_bytes(), 10u * 32);
    ht::unregister_purged(&ids.cell.data3);
    ht::unregister_purged(&owned.cell.data3);
}

// Collections that move buffers and nodes ---------------------------------------------------

TEST_F(HashTableTest, TablesSurviveMovingBuffers) {
    for (int i = 0; i < 500; ++i) alloc_bytes(200);  // below the tables: compaction slides them
    Block h;
    Block m;
    for (int32_t i = 0; i < 300; ++i) {
        h.append(text(std::u32string(U"v") + char32_t(U'a' + i % 26) + char32_t(U'a' + i / 26)));
        m.append(integer(i));
        m.append(text(U"value"));
    }
    h.index_as(Type::hash, ht::kind_hash, h.length());
    m.index_as(Type::map, ht::kind_map, m.length());
    Ref flags_before = buffer_ref(ht::record_of(h.table())->flags);
    Ref series_before = buffer_ref(h.cell.data2);
    // Table nodes held in locals are found by the stack scan before the values that hold
    // the tables are marked; the tables' other buffers must be kept all the same.
    volatile Ref held[] = {h.table(), m.table()};
    collector::recycle();
    (void)held;
    if (!collector::torture) {  // which compacts at every allocation already
        EXPECT_NE(buffer_ref(ht::record_of(h.table())->flags), flags_before);
        EXPECT_NE(buffer_ref(h.cell.data2), series_before);
    }
    expect_fully_indexed(h);
    for (int32_t i = 0; i < 300; i += 13) {
        Cell key = text(std::u32string(U"V") + char32_t(U'A' + i % 26) + char32_t(U'A' + i / 26));
        EXPECT_EQ(ht::find(h.table(), &key, 0, 1, op::equal, false, false) - h.at(0), i);
        Cell k = integer(i);
        EXPECT_EQ(ht::find(m.table(), &k, 0, 1, op::strict_equal, false, false) - m.at(0), 2 * i);
    }
    // Scalars never stamp a hash! table: no rebuild after collections.
    EXPECT_EQ(ht::record_of(h.table())->stamp, 0u);
}

namespace {

// Fills the first node frame with garbage so that what `make` allocates gets nodes in a
// second frame; then collects, without the machine-stack scan, until the collector has
// emptied that sparse frame into the first one. Everything live must be held by roots.
template <class Make>
void with_moved_nodes(Make make) {
    runtime::collector_enabled = 0;
    while (memory::root.first_node_frame == memory::root.last_node_frame) alloc_bytes(1);
    make();
    runtime::collector_enabled = 1;
    collector::scan_stack = false;
    uint32_t moves = collector::stats.node_moves;
    for (int i = 0; i < 12 && collector::stats.node_moves == moves; ++i) collector::recycle();
    collector::scan_stack = true;
}

}  // namespace

TEST_F(HashTableTest, TablesRehashAfterNodesMove) {
    Block keys;    // string series whose nodes key the id table
    Block blocks;  // a hash! of blocks, hashed by their nodes
    Block scalars;
    Table ids(0, ht::kind_id, 1);
    std::vector<Ref> before;
    with_moved_nodes([&] {
        for (int32_t i = 0; i < 50; ++i) {
            keys.append(text(U"k"));
            blocks.append(keys.at(i)[0]);
            blocks.at(i)->set_type(Type::block);
            blocks.at(i)->data2 = alloc_cells(1);
            scalars.append(integer(i));
            before.push_back(keys.at(i)->data2);
            *ht::put_key(ids.ref(), keys.at(i)->data2) = integer(i);
        }
        blocks.index_as(Type::hash, ht::kind_hash, 50);
        scalars.index_as(Type::hash, ht::kind_hash, 50);
    });
    ASSERT_GT(collector::stats.node_moves, 0u) << "no node frame was evacuated";
    EXPECT_NE(keys.at(0)->data2, before[0]);
    EXPECT_NE(ht::record_of(blocks.table())->stamp, 0u);
    EXPECT_EQ(ht::record_of(scalars.table())->stamp, 0u);
    for (int32_t i = 0; i < 50; ++i) {
        Cell* v = ht::get_key(ids.ref(), keys.at(i)->data2);
        ASSERT_NE(v, nullptr) << i;
        EXPECT_EQ(v->int2(), i);
        Cell block = *blocks.at(i);
        EXPECT_EQ(ht::find(blocks.table(), &block, 0, 1, op::equal, false, false) - blocks.at(0), i);
    }
    expect_fully_indexed(blocks);
    expect_fully_indexed(scalars);
}

// Address map -------------------------------------------------------------------------------

TEST(AddressMap, AgreesWithAModel) {
    addressmap::AddressMap* m = addressmap::make(0);
    EXPECT_EQ(m->buckets, 8);
    EXPECT_EQ(m->upper, 6);
    std::unordered_map<uint32_t, uint32_t> model;
    std::mt19937 rng(11);
    for (int i = 0; i < 20000; ++i) {
        uint32_t key = (rng() % 3000) * 4;
        if (rng() % 4 == 0) {
            addressmap::delete_(m, key);
            model.erase(key);
        } else {
            addressmap::put(m, key, uint32_t(i));
            model[key] = uint32_t(i);
        }
    }
    EXPECT_EQ(addressmap::size(m), int32_t(model.size()));
    for (uint32_t key = 0; key < 3000 * 4; key += 4) {
        uint32_t* v = addressmap::get(m, key);
        auto it = model.find(key);
        ASSERT_EQ(v != nullptr, it != model.end()) << key;
        if (v) {
            EXPECT_EQ(*v, it->second);
        }
    }
    size_t walked = 0;
    for (uint32_t* pair = addressmap::next(m, nullptr); pair; pair = addressmap::next(m, pair)) {
        EXPECT_EQ(model.at(pair[0]), pair[1]);
        ++walked;
    }
    EXPECT_EQ(walked, model.size());
    addressmap::clear(m);
    EXPECT_EQ(addressmap::size(m), 0);
    EXPECT_EQ(addressmap::next(m, nullptr), nullptr);
    EXPECT_EQ(addressmap::get(m, 4), nullptr);
    addressmap::put(m, 4, 9);
    EXPECT_EQ(*addressmap::get(m, 4), 9u);
    addressmap::free(m);
}
