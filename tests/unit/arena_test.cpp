// The arena's page blocks: blocks handed out never overlap and are always writable, whether
// they come from fresh pages or from pages kept after a free; a program that gives back much
// memory gives most of it back to the system, and kept pages never raise its peak footprint.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <vector>

#include "memory/arena.h"

using namespace zuv::memory;

namespace {

struct Block {
    uint8_t* p;
    size_t size;
    uint8_t mark;
};

// Every page of the block carries the mark, so a block handed out twice, or a page that
// lost its contents while in use, shows on the next check.
void stamp(const Block& b) {
    for (size_t i = 0; i < b.size; i += page_size) std::memset(b.p + i, b.mark, 64);
}

bool intact(const Block& b) {
    for (size_t i = 0; i < b.size; i += page_size)
        for (size_t j = 0; j < 64; ++j)
            if (b.p[i + j] != b.mark) return false;
    return true;
}

size_t resident_bytes(const uint8_t* p, size_t size) {
    std::vector<unsigned char> v(size / page_size);
    if (::mincore(const_cast<uint8_t*>(p), size, v.data()) != 0) return 0;  // nothing mapped there
    size_t n = 0;
    for (unsigned char c : v) n += c & 1;
    return n * page_size;
}

size_t resident_bytes(const Block& b) { return resident_bytes(b.p, b.size); }

}  // namespace

TEST(ArenaTest, ChurnKeepsBlocksApartAndReturnsMostMemory) {
    arena_init();
    const size_t used_before = arena_used();
    // Sizes that split and merge the kept ranges: single pages, node-frame and series-frame
    // sizes, and blocks past the bound of what is kept.
    const size_t sizes[] = {4096, 40960, 2101248, 12288, 1052672, 8192, 36u << 20, 4096 * 37};
    std::vector<Block> live;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    uint8_t mark = 1;
    for (int step = 0; step < 1500; ++step) {
        if (live.size() < 24 && next() % 3 != 0) {
            size_t size = sizes[next() % std::size(sizes)];
            auto* p = static_cast<uint8_t*>(arena_alloc(size));
            ASSERT_NE(p, nullptr);
            Block b{p, size, mark++};
            if (mark == 0) mark = 1;
            stamp(b);
            live.push_back(b);
        } else if (!live.empty()) {
            size_t k = next() % live.size();
            ASSERT_TRUE(intact(live[k])) << "step " << step;
            ASSERT_TRUE(arena_free(live[k].p, live[k].size));
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }
    for (const Block& b : live) ASSERT_TRUE(intact(b));

    // Then a large working set given back at once: at most the kept share stays resident.
    std::vector<Block> big;
    for (int i = 0; i < 128; ++i) {
        auto* p = static_cast<uint8_t*>(arena_alloc(2 << 20));
        ASSERT_NE(p, nullptr);
        big.push_back({p, size_t(2) << 20, 7});
        stamp(big.back());
    }
    for (const Block& b : big) ASSERT_TRUE(arena_free(b.p, b.size));
    size_t resident = 0;
    for (const Block& b : big) resident += resident_bytes(b);
    EXPECT_LE(resident, arena_idle());
    EXPECT_LT(resident, (size_t(256) << 20) / 4);

    for (const Block& b : live) ASSERT_TRUE(arena_free(b.p, b.size));
    EXPECT_EQ(arena_used(), used_before);
}

TEST(ArenaTest, AGrowingBlockKeepsNoMoreResidentThanItsPeak) {
    // A series that doubles: each new block is made before the old one is given back, and
    // the old ones are too small for the next. Pages kept from the old blocks would sit
    // resident beside the new ones, above anything the program ever had in use.
    arena_init();
    Block old{nullptr, 0, 0};
    uint8_t* low = nullptr;
    uint8_t* high = nullptr;
    uint8_t mark = 1;
    for (size_t size = size_t(1) << 20; size <= size_t(64) << 20; size *= 2) {
        auto* p = static_cast<uint8_t*>(arena_alloc(size));
        ASSERT_NE(p, nullptr);
        Block b{p, size, mark++};
        stamp(b);
        low = low ? std::min(low, p) : p;
        high = std::max(high, p + size);
        if (size == size_t(64) << 20) {
            // The peak: this block and the one before it. A few pages of other tests' kept
            // memory may lie between them.
            EXPECT_LE(resident_bytes(low, static_cast<size_t>(high - low)), b.size + old.size + (size_t(4) << 20));
        }
        if (old.p) {
            ASSERT_TRUE(intact(old));
            ASSERT_TRUE(arena_free(old.p, old.size));
        }
        old = b;
    }
    ASSERT_TRUE(arena_free(old.p, old.size));
}
