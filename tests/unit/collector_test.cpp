// Collector acceptance: marks never outlive a collection (frames, big series, fixed
// buffers), and a program that makes garbage without end holds a bounded amount of memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "datatypes/block.h"
#include "memory/collector.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "memory_fixture.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::memory;

namespace {

Cell block_of(Ref node) {
    Cell c;
    cell::make(&c, Type::block, 0, node, 0);
    return c;
}

void put_cell(Ref node, const Cell& value) {
    SeriesBuffer* b = buffer_of(node);
    if (b->tail_ptr() + 16 > b->data_end()) b = expand_series(b, 0);
    *b->cells_end() = value;
    b->tail += 16;
}

// Every buffer of every series frame and every big series that carries the mark bit.
uint32_t marked_buffers() {
    uint32_t n = 0;
    for (Ref r = root.first_series_frame; r; r = ptr<SeriesFrame>(r)->next) {
        SeriesFrame* f = ptr<SeriesFrame>(r);
        for (uint8_t* p = f->data(); p < at(f->heap);) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            if (b->flags & flag::mark) ++n;
            p += b->capacity + buffer_overhead;
        }
    }
    for (Ref r = root.first_big_series; r; r = ptr<BigSeries>(r)->next)
        if (ptr<BigSeries>(r)->buffer()->flags & flag::mark) ++n;
    return n;
}

bool marked(Ref node) { return buffer_of(node)->flags & flag::mark; }

class CollectorTest : public zuv::testing::RuntimeTest {};

}  // namespace

TEST_F(CollectorTest, NoBufferKeepsItsMarkAfterACollection) {
    // A live block holding a string, a big binary and a fixed block of its own, which
    // holds a string in turn: every kind of buffer the collector visits.
    Cell holder = block_of(alloc_cells(4));
    collector::add_root(&holder);
    Cell text;
    cell::make(&text, Type::string, 0, alloc_bytes(40), 0);
    put_cell(holder.data2, text);
    Cell big;
    cell::make(&big, Type::binary, 0, alloc_bytes(3 << 20), 0);
    put_cell(holder.data2, big);
    Cell fixed = block_of(alloc_fixed_series(4, 16, 0));
    put_cell(holder.data2, fixed);
    Cell inner;
    cell::make(&inner, Type::string, 0, alloc_bytes(24), 0);
    put_cell(fixed.data2, inner);
    text = big = inner = Cell{};

    for (int round = 0; round < 2; ++round) {
        collector::recycle();
        EXPECT_EQ(marked_buffers(), 0u) << "round " << round;
        EXPECT_FALSE(marked(fixed.data2));
        EXPECT_FALSE(marked(block::root.data2));
        EXPECT_FALSE(marked(stack::argument_series.data2));
        EXPECT_FALSE(marked(stack::call_series.data2));
    }
    // A mark left on the fixed block would have stopped the second collection at it, and
    // the string it holds would have been reclaimed.
    Cell* kept = buffer_of(fixed.data2)->cells();
    ASSERT_TRUE(kept->is(Type::string));
    EXPECT_TRUE(buffer_of(kept->data2)->flags & flag::in_use);
    collector::remove_root(&holder);
}

TEST_F(MemoryTest, EndlessGarbageKeepsTheHeapBounded) {
    // 200 MB of buffers of mixed sizes (a big series now and then), while a small window
    // of recent ones stays live through a root block.
    constexpr uint64_t total = uint64_t(200) << 20;
    constexpr uint64_t bound = uint64_t(48) << 20;
    const int64_t sizes[] = {24, 300, 1000, 8000, 70000, 1000, 300, 24};
    Cell window = block_of(alloc_cells(16));
    collector::add_root(&window);
    uint64_t made = 0, peak = 0, peak_arena = 0;
    for (uint32_t i = 0; made < total; ++i) {
        int64_t size = i % 64 == 63 ? 3 << 20 : sizes[i % std::size(sizes)];
        Ref node = alloc_bytes(size);
        made += uint64_t(size);
        SeriesBuffer* w = buffer_of(window.data2);
        if (w->used_bytes() >= 16 * 16) w->tail = w->head;  // the window forgets the old ones
        Cell v;
        cell::make(&v, Type::binary, 0, node, 0);
        put_cell(window.data2, v);
        peak = std::max(peak, root.os_bytes);
        peak_arena = std::max<uint64_t>(peak_arena, arena_used());
    }
    EXPECT_LT(peak, bound);
    EXPECT_LT(peak_arena, bound);
    collector::recycle();
    EXPECT_LT(root.os_bytes, bound / 2);
    collector::remove_root(&window);
}
