// Sorting: the merge sort against std::stable_sort and the in-place sort against sorted
// order, over shapes of input that exercise run detection and the pre-pass; the callback
// counts of the documented cases; errors thrown from the callback; and records in a series
// that moves while the callback collects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "memory/error.h"
#include "memory/sorting.h"
#include "memory_fixture.h"
#include "runtime/throw.h"

using namespace zuv;

namespace {

struct Rec {
    int32_t key;
    int32_t tag;  // the input position, to see stability and loss
    bool operator==(const Rec&) const = default;
};

constexpr int32_t magic = 0x5EED;
int64_t calls = 0;
int64_t throw_at = -1;  // the call that raises, or -1

int32_t by_key(const uint8_t* a, const uint8_t* b, int32_t descending, int32_t check) {
    EXPECT_EQ(check, magic);
    if (++calls == throw_at) error::raise(error::id::script_invalid_compare);
    Rec x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    int32_t c = x.key < y.key ? -1 : (x.key > y.key ? 1 : 0);
    return descending ? -c : c;
}

using Sort = void (*)(uint8_t*, int32_t, int32_t, int32_t, int32_t, sorting::Compare);

void run_sort(Sort sort, std::vector<Rec>& v, bool descending = false) {
    calls = 0;
    sort(reinterpret_cast<uint8_t*>(v.data()), static_cast<int32_t>(v.size()), sizeof(Rec), descending, magic,
         by_key);
}

std::vector<Rec> tagged(const std::vector<int32_t>& keys) {
    std::vector<Rec> v;
    for (size_t i = 0; i < keys.size(); ++i) v.push_back({keys[i], static_cast<int32_t>(i)});
    return v;
}

// Input shapes by name: each gives n keys.
struct Shape {
    const char* name;
    std::function<std::vector<int32_t>(int32_t n, std::mt19937& rng)> make;
};

std::vector<Shape> shapes() {
    return {
        {"random", [](int32_t n, std::mt19937& rng) {
             std::vector<int32_t> k(size_t(n), 0);
             for (auto& x : k) x = int32_t(rng() % 1000000);
             return k;
         }},
        {"few distinct", [](int32_t n, std::mt19937& rng) {
             std::vector<int32_t> k(size_t(n), 0);
             for (auto& x : k) x = int32_t(rng() % 5);
             return k;
         }},
        {"sorted", [](int32_t n, std::mt19937&) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = i / 3;
             return k;
         }},
        {"reversed", [](int32_t n, std::mt19937&) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = (n - i) / 2;
             return k;
         }},
        {"all equal", [](int32_t n, std::mt19937&) { return std::vector<int32_t>(size_t(n), 7); }},
        {"nearly sorted", [](int32_t n, std::mt19937& rng) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = i;
             for (int32_t s = 0; n > 0 && s < n / 50 + 1; ++s) std::swap(k[rng() % size_t(n)], k[rng() % size_t(n)]);
             return k;
         }},
        {"nearly reversed", [](int32_t n, std::mt19937& rng) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = n - i;
             for (int32_t s = 0; n > 0 && s < n / 50 + 1; ++s) std::swap(k[rng() % size_t(n)], k[rng() % size_t(n)]);
             return k;
         }},
        {"sorted then random", [](int32_t n, std::mt19937& rng) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = i < n * 3 / 4 ? i : int32_t(rng() % size_t(n));
             return k;
         }},
        {"descending runs", [](int32_t n, std::mt19937& rng) {
             std::vector<int32_t> k(size_t(n), 0);
             int32_t v = 0;
             for (int32_t i = 0; i < n; ++i) {
                 if (rng() % 40 == 0) v = int32_t(rng() % 1000);
                 k[size_t(i)] = v;
                 v -= int32_t(rng() % 2);  // equal neighbours inside the runs
             }
             return k;
         }},
        {"organ pipe", [](int32_t n, std::mt19937&) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = std::min(i, n - i);
             return k;
         }},
        {"sawtooth", [](int32_t n, std::mt19937&) {
             std::vector<int32_t> k(size_t(n), 0);
             for (int32_t i = 0; i < n; ++i) k[size_t(i)] = i % 97;
             return k;
         }},
    };
}

const int32_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 63, 64, 100, 511, 512, 513, 1000, 4099, 20000};

bool by_key_less(const Rec& a, const Rec& b) { return a.key < b.key; }

struct Sorter {
    Sort sort;
    bool stable;
};
const Sorter both[] = {{sorting::merge_sort, true}, {sorting::quick_sort, false}};

}  // namespace

TEST(Sorting, MergeSortMatchesStableSort) {
    std::mt19937 rng(1);
    for (const Shape& shape : shapes()) {
        for (int32_t n : sizes) {
            std::vector<Rec> v = tagged(shape.make(n, rng)), expected = v;
            std::stable_sort(expected.begin(), expected.end(), by_key_less);
            run_sort(sorting::merge_sort, v);
            ASSERT_EQ(v, expected) << shape.name << " n=" << n;
            // Descending through the callback: equal records still keep their order.
            expected = v = tagged(shape.make(n, rng));
            std::stable_sort(expected.begin(), expected.end(), [](const Rec& a, const Rec& b) { return a.key > b.key; });
            run_sort(sorting::merge_sort, v, true);
            ASSERT_EQ(v, expected) << shape.name << " descending n=" << n;
        }
    }
}

TEST(Sorting, QuickSortSortsAndKeepsEveryRecord) {
    std::mt19937 rng(2);
    for (const Shape& shape : shapes()) {
        for (int32_t n : sizes) {
            std::vector<Rec> v = tagged(shape.make(n, rng)), input = v;
            run_sort(sorting::quick_sort, v);
            ASSERT_TRUE(std::is_sorted(v.begin(), v.end(), by_key_less)) << shape.name << " n=" << n;
            std::vector<Rec> a = v, b = input;
            auto whole = [](const Rec& x, const Rec& y) { return x.key != y.key ? x.key < y.key : x.tag < y.tag; };
            std::sort(a.begin(), a.end(), whole);
            std::sort(b.begin(), b.end(), whole);
            ASSERT_EQ(a, b) << shape.name << " n=" << n;
        }
    }
}

TEST(Sorting, CallbackCounts) {
    for (const Sorter& s : both) {
        for (int32_t n : {0, 1}) {
            std::vector<Rec> v = tagged(std::vector<int32_t>(size_t(n), 3));
            run_sort(s.sort, v);
            EXPECT_EQ(calls, 0);
        }
    }
    // A strictly descending input is one run, reversed in place: no merge.
    std::vector<Rec> v = tagged({9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
    run_sort(sorting::merge_sort, v);
    EXPECT_EQ(calls, 9);
    EXPECT_EQ(v.front().key, 0);
    EXPECT_EQ(v.back().key, 9);
    // The in-place sort's pre-pass alone settles ordered and reversed input.
    for (bool reversed : {false, true}) {
        std::vector<int32_t> keys(10000);
        for (int32_t i = 0; i < 10000; ++i) keys[size_t(i)] = reversed ? 10000 - i : i;
        v = tagged(keys);
        run_sort(sorting::quick_sort, v);
        EXPECT_EQ(calls, 9999);
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), by_key_less));
    }
}

TEST(Sorting, MergeSortIsStableOnEqualNeighbours) {
    // 3 2 2 1 is not one descending run: the equal pair keeps its order.
    std::vector<Rec> v = tagged({3, 2, 2, 1});
    run_sort(sorting::merge_sort, v);
    EXPECT_EQ(v, (std::vector<Rec>{{1, 3}, {2, 1}, {2, 2}, {3, 0}}));
    v = tagged(std::vector<int32_t>(100, 4));
    run_sort(sorting::merge_sort, v);
    EXPECT_EQ(v, tagged(std::vector<int32_t>(100, 4)));
}

TEST(Sorting, OddRecordSizes) {
    // Three-byte records (swapped byte by byte) and sixteen-byte ones, keyed by their first byte.
    auto first_byte = [](const uint8_t* a, const uint8_t* b, int32_t, int32_t) -> int32_t { return int32_t(*a) - int32_t(*b); };
    std::mt19937 rng(5);
    for (int32_t size : {3, 16}) {
        for (const Sorter& s : both) {
            std::vector<uint8_t> bytes(size_t(size) * 700);
            for (auto& b : bytes) b = uint8_t(rng());
            std::vector<std::vector<uint8_t>> before;
            for (size_t i = 0; i < 700; ++i) before.emplace_back(bytes.begin() + i * size, bytes.begin() + (i + 1) * size);
            s.sort(bytes.data(), 700, size, 0, 0, first_byte);
            std::vector<std::vector<uint8_t>> after;
            for (size_t i = 0; i < 700; ++i) after.emplace_back(bytes.begin() + i * size, bytes.begin() + (i + 1) * size);
            EXPECT_TRUE(std::is_sorted(after.begin(), after.end(), [](auto& a, auto& b) { return a[0] < b[0]; }));
            if (s.stable) {
                std::stable_sort(before.begin(), before.end(), [](auto& a, auto& b) { return a[0] < b[0]; });
                EXPECT_EQ(after, before) << size;
            } else {
                std::sort(before.begin(), before.end());
                std::sort(after.begin(), after.end());
                EXPECT_EQ(after, before) << size;
            }
        }
    }
    uint8_t a[5] = {1, 2, 3, 4, 5}, b[5] = {6, 7, 8, 9, 10};
    sorting::swap(a, b, 5);
    EXPECT_EQ(a[4], 10);
    EXPECT_EQ(b[0], 1);
    sorting::swap(a, b, 4);
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[4], 10);
}

// An error raised by the callback passes through and leaves every record in place once.
TEST(Sorting, ErrorFromTheCallbackLosesNoRecord) {
    std::mt19937 rng(9);
    for (const Sorter& s : both) {
        for (const Shape& shape : shapes()) {
            for (int32_t n : {30, 600, 3000}) {
                for (int64_t at : {int64_t(1), int64_t(17), int64_t(n), int64_t(3 * n), int64_t(7 * n)}) {
                    std::vector<Rec> v = tagged(shape.make(n, rng));
                    throw_at = at;
                    bool raised = false;
                    try {
                        run_sort(s.sort, v);
                    } catch (const runtime::Throw& t) {
                        raised = t.code == runtime::throw_error;
                    }
                    throw_at = -1;
                    std::vector<int32_t> tags;
                    for (const Rec& r : v) tags.push_back(r.tag);
                    std::sort(tags.begin(), tags.end());
                    for (int32_t i = 0; i < n; ++i) ASSERT_EQ(tags[size_t(i)], i) << shape.name << " n=" << n;
                    if (!raised) {
                        EXPECT_LT(calls, at);
                    }
                }
            }
        }
    }
}

namespace {

// Records are cells of a series; the callback collects now and then, sliding the buffer.
int32_t collecting_compare(const uint8_t* a, const uint8_t* b, int32_t, int32_t) {
    Cell x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    if (++calls % 64 == 0) {
        memory::alloc_bytes(100);
        collector::recycle();
    }
    return x.int2() < y.int2() ? -1 : (x.int2() > y.int2() ? 1 : 0);
}

}  // namespace

TEST_F(MemoryTest, SortingSeriesThatMovesDuringTheCallback) {
    using SeriesSort = void (*)(Ref, uint32_t, int32_t, int32_t, int32_t, int32_t, sorting::Compare);
    std::mt19937 rng(4);
    for (SeriesSort sort : {SeriesSort(sorting::merge_sort), SeriesSort(sorting::quick_sort)}) {
        for (int i = 0; i < 300; ++i) memory::alloc_bytes(100);  // garbage below the series
        Cell block;
        cell::make(&block, Type::block, 0, memory::alloc_cells(2001), 0);
        collector::add_root(&block);
        memory::SeriesBuffer* s = memory::buffer_of(block.data2);
        cell::make(s->cells_end(), Type::none);  // a head cell left out of the sort
        s->tail += 16;
        for (int32_t i = 0; i < 2000; ++i) {
            cell::make(s->cells_end(), Type::integer, uint32_t(i), uint32_t(rng() % 500), 0);
            s->tail += 16;
        }
        Ref before = memory::buffer_ref(block.data2);
        calls = 0;
        sort(block.data2, 16, 2000, 16, 0, 0, collecting_compare);
        EXPECT_NE(memory::buffer_ref(block.data2), before);
        Cell* c = memory::buffer_of(block.data2)->cells();
        EXPECT_TRUE(c[0].is(Type::none));
        std::vector<int32_t> keys, tags;
        for (int32_t i = 1; i <= 2000; ++i) {
            keys.push_back(c[i].int2());
            tags.push_back(c[i].int1());
        }
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
        std::sort(tags.begin(), tags.end());
        for (int32_t i = 0; i < 2000; ++i) ASSERT_EQ(tags[size_t(i)], i);
        collector::remove_root(&block);
    }
}
