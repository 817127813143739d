// Memory manager and collector: buffer sizes and placement, frame growth, buffer
// replacement, what survives a collection, that no mark outlives one, and that endless
// garbage keeps the heap bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory_fixture.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::memory;

namespace {

Cell block_of(Ref node) {
    Cell c;
    cell::make(&c, Type::block, 0, node, 0);
    return c;
}

// Appends a cell to a cell series, growing it when full.
void push_cell(Ref node, const Cell& value) {
    SeriesBuffer* b = buffer_of(node);
    if (b->tail_ptr() + 16 > b->data_end()) b = expand_series(b, 0);
    *b->cells_end() = value;
    b->tail += 16;
}

void push_int(Ref node, int32_t v) {
    Cell c;
    cell::make(&c, Type::integer, 0, static_cast<uint32_t>(v), 0);
    push_cell(node, c);
}

// The buffers of the series frames and the big series that carry the mark bit.
uint32_t live_marks() {
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

// The collector scans the machine stack conservatively, so a stale copy of a dead node
// left in some frame keeps it alive. Tests of exact reclamation switch the scan off for
// their collections and hold everything live in explicit roots.
struct NoStackScan {
    NoStackScan() { collector::scan_stack = false; }
    ~NoStackScan() { collector::scan_stack = true; }
};

class CollectorTest : public zuv::testing::RuntimeTest {};

Cell kept;
void keep_root_cell() { collector::mark_cells(&kept, &kept + 1); }

}  // namespace

TEST_F(MemoryTest, CapacitiesRoundToSixteen) {
    struct Case {
        int64_t count;
        uint32_t unit;
        uint32_t capacity;
    } cases[] = {{7, 1, 16}, {17, 1, 32}, {16, 1, 16}, {3, 4, 16}, {5, 16, 80}, {1, 8, 16}};
    for (const Case& c : cases) EXPECT_EQ(buffer_of(alloc_series(c.count, c.unit, 0))->capacity, c.capacity);
    EXPECT_EQ(buffer_of(alloc_bytes(0))->capacity, 16u);
    EXPECT_EQ(buffer_of(alloc_units(0, 2))->capacity, 16u);
    EXPECT_EQ(buffer_of(alloc_units(0, 4))->capacity, 16u);
    SeriesBuffer* b = buffer_of(alloc_cells_unset(3));
    EXPECT_EQ(b->unit(), 16u);
    EXPECT_EQ(b->used_bytes(), 0u);
    EXPECT_TRUE(reinterpret_cast<Cell*>(b->data())[2].is(Type::unset));
    EXPECT_TRUE(b->flags & flag::made);
    EXPECT_EQ(b->node ? *ptr<uint32_t>(b->node) : 0, ref(b));
}

TEST_F(MemoryTest, BigSeriesFromTwoMebibytes) {
    SeriesBuffer* big = buffer_of(alloc_bytes(2097136));
    EXPECT_TRUE(big->flags & flag::big);
    EXPECT_NE(root.first_big_series, 0u);
    SeriesBuffer* framed = buffer_of(alloc_bytes(2097120));
    EXPECT_FALSE(framed->flags & flag::big);
    // It did not fit the first frame, so a new frame was made for it, at the 2 MiB size.
    EXPECT_EQ(series_frame_count(), 2u);
    SeriesFrame* f = ptr<SeriesFrame>(root.active_series_frame);
    EXPECT_EQ(f->total, (2u << 20) + sizeof(SeriesFrame));
}

TEST_F(MemoryTest, FramesAreOneThenTwoMebibytes) {
    runtime::collector_enabled = 0;
    SeriesFrame* first = ptr<SeriesFrame>(root.first_series_frame);
    EXPECT_EQ(first->total, (1u << 20) + sizeof(SeriesFrame));
    for (int i = 0; i < 40; ++i) alloc_bytes(100000);
    EXPECT_GE(series_frame_count(), 3u);
    for (Ref r = first->next; r; r = ptr<SeriesFrame>(r)->next)
        EXPECT_EQ(ptr<SeriesFrame>(r)->total, (2u << 20) + sizeof(SeriesFrame));
}

TEST_F(MemoryTest, LowRoomFrameIsNotReused) {
    runtime::collector_enabled = 0;
    // Leave the first frame with a given room, fill a second frame, then ask for a small
    // buffer: the first frame is reused only when its room reaches the threshold.
    for (uint32_t room : {low_room - 20u, low_room + 20u}) {
        memory::free_all();
        memory::init();
        init_first_frames();
        SeriesFrame* first = ptr<SeriesFrame>(root.first_series_frame);
        uint32_t left = first->end - first->heap;
        alloc_bytes((left - room - buffer_overhead) & ~15u);
        room = first->end - first->heap;
        alloc_series_frame();
        SeriesFrame* second = ptr<SeriesFrame>(root.last_series_frame);
        root.active_series_frame = root.last_series_frame;
        alloc_bytes(second->end - second->heap - buffer_overhead - 8);
        uint32_t frames = series_frame_count();
        SeriesBuffer* b = buffer_of(alloc_bytes(16));
        bool in_first = ref(b) >= root.first_series_frame && ref(b) < first->end;
        if (room < low_room) {
            EXPECT_EQ(series_frame_count(), frames + 1) << room;
            EXPECT_FALSE(in_first);
        } else {
            EXPECT_EQ(series_frame_count(), frames) << room;
            EXPECT_TRUE(in_first);
        }
    }
}

TEST_F(MemoryTest, ReplacingABufferRetiresTheOld) {
    Ref node = alloc_bytes(16);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->head_ptr(), "0123456789ABCDEF", 16);
    b->tail = b->head + 16;
    SeriesBuffer* old = b;
    SeriesBuffer* nb = expand_series(b, 0);
    EXPECT_EQ(nb->capacity, 32u);
    EXPECT_EQ(buffer_of(node), nb);
    EXPECT_EQ(nb->used_bytes(), 16u);
    EXPECT_EQ(std::memcmp(nb->head_ptr(), "0123456789ABCDEF", 16), 0);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & flag::in_use);

    SeriesBuffer* filled = expand_series_filled(nb, 64, 0xAB);
    EXPECT_EQ(filled->head_ptr()[40], 0xAB);
    EXPECT_EQ(filled->head_ptr()[15], 'F');

    Ref copy = copy_series_buffer(filled);
    EXPECT_EQ(buffer_of(copy)->capacity, 64u);
    EXPECT_EQ(buffer_of(copy)->used_bytes(), 16u);
    EXPECT_EQ(buffer_of(copy)->head_ptr()[40], 0xAB);

    try {
        realloc_series_buffer(buffer_of(node), -16);
        FAIL() << "a negative capacity must raise";
    } catch (const runtime::Throw& t) {
        EXPECT_EQ(t.code, runtime::throw_error);
        EXPECT_EQ(error::last.id, error::id::internal_no_memory);
    }
}

TEST_F(MemoryTest, NodeFramesGrowAndEmptyOnesAreFreed) {
    runtime::collector_enabled = 0;
    std::vector<Ref> nodes;
    for (uint32_t i = 0; i < nodes_per_frame + 10; ++i) nodes.push_back(alloc_node());
    EXPECT_EQ(node_frame_count(), 2u);
    NodeFrame* second = ptr<NodeFrame>(root.last_node_frame);
    for (uint32_t i = nodes_per_frame; i < nodes.size(); ++i) free_node(second, nodes[i]);
    EXPECT_EQ(second->used, 0u);
    sweep_node_frames();
    EXPECT_EQ(node_frame_count(), 1u);
    EXPECT_EQ(root.active_node_frame, root.first_node_frame);
}

TEST_F(MemoryTest, CollectionKeepsRootsAndCompacts) {
    Ref garbage = alloc_bytes(1000);
    (void)garbage;
    garbage = 0;
    Ref list = alloc_cells(4);
    for (int i = 0; i < 50; ++i) push_int(list, i * 7);
    Cell root_cell = block_of(list);
    collector::add_root(&root_cell);
    // Strings hung off the block survive through it.
    Ref text = alloc_bytes(8);
    std::memcpy(buffer_of(text)->head_ptr(), "survive", 8);
    buffer_of(text)->tail += 8;
    Cell* slot = buffer_of(list)->cells() + 3;
    cell::make(slot, Type::string, 0, text, 0);
    text = 0;

    uint32_t before = collector::stats.collections;
    collector::recycle();
    EXPECT_EQ(collector::stats.collections, before + 1);
    EXPECT_EQ(live_marks(), 0u);

    SeriesBuffer* b = buffer_of(root_cell.data2);
    ASSERT_EQ(b->used_bytes(), 50u * 16);
    EXPECT_EQ(b->cells()[10].int2(), 70);
    Cell* s = b->cells() + 3;
    ASSERT_TRUE(s->is(Type::string));
    EXPECT_STREQ(reinterpret_cast<char*>(buffer_of(s->data2)->head_ptr()), "survive");
    collector::remove_root(&root_cell);
}

TEST_F(MemoryTest, UnreachableBuffersAreReclaimed) {
    uint32_t heap_before = ptr<SeriesFrame>(root.first_series_frame)->heap;
    for (int i = 0; i < 100; ++i) alloc_bytes(1000);
    NoStackScan exact;
    collector::recycle();
    // Nothing references them (no roots, no locals), so the frame's heap goes back.
    EXPECT_EQ(ptr<SeriesFrame>(root.first_series_frame)->heap, heap_before);
}

TEST_F(MemoryTest, NodesInLocalsSurvive) {
    std::vector<Ref> garbage;
    for (int i = 0; i < 20; ++i) alloc_bytes(500);  // dead buffers below, so the live one moves
    volatile Ref local = alloc_bytes(32);
    std::memcpy(buffer_of(local)->head_ptr(), "held only in a local", 21);
    SeriesBuffer* before = buffer_of(local);
    collector::recycle();
    SeriesBuffer* after = buffer_of(local);
    EXPECT_NE(before, after);  // it moved down over the dead buffers
    EXPECT_STREQ(reinterpret_cast<char*>(after->head_ptr()), "held only in a local");
    EXPECT_TRUE(after->flags & flag::in_use);
}

TEST_F(MemoryTest, MarkCallbacksAreRoots) {
    Ref node = alloc_cells(2);
    push_int(node, 42);
    kept = block_of(node);
    node = 0;
    collector::add_mark_callback(keep_root_cell);
    collector::recycle();
    EXPECT_EQ(buffer_of(kept.data2)->cells()[0].int2(), 42);
    EXPECT_TRUE(buffer_of(kept.data2)->flags & flag::in_use);

    collector::remove_mark_callback(keep_root_cell);
    // One live series keeps the node frame from being given back as empty.
    Cell other = block_of(alloc_cells(1));
    collector::add_root(&other);
    Ref dead = kept.data2;
    kept = Cell{};
    NoStackScan exact;
    collector::recycle();
    // The node was released: its slot now links the frame's free list.
    NodeFrame* f = ptr<NodeFrame>(root.first_node_frame);
    bool free = false;
    for (Ref r = f->free_list; r; r = *ptr<uint32_t>(r))
        if (r == dead) free = true;
    EXPECT_TRUE(free);
    collector::remove_root(&other);
}

TEST_F(MemoryTest, DisabledCollectorAddsFrames) {
    runtime::collector_enabled = 0;
    uint32_t collections = collector::stats.collections;
    for (int i = 0; i < 30; ++i) alloc_bytes(100000);
    EXPECT_EQ(collector::stats.collections, collections);
    EXPECT_GE(series_frame_count(), 2u);
}

TEST_F(MemoryTest, BigSeriesAreSweptWhenDead) {
    runtime::collector_enabled = 0;
    alloc_bytes(3 << 20);
    Ref live = alloc_bytes(3 << 20);
    Cell c;
    cell::make(&c, Type::binary, 0, live, 0);
    collector::add_root(&c);
    {
        NoStackScan exact;
        collector::recycle();
    }
    ASSERT_NE(root.first_big_series, 0u);
    EXPECT_EQ(ptr<BigSeries>(root.first_big_series)->next, 0u);
    EXPECT_EQ(ptr<BigSeries>(root.first_big_series)->buffer(), buffer_of(live));
    EXPECT_FALSE(buffer_of(live)->flags & flag::mark);
    collector::remove_root(&c);
}

TEST_F(CollectorTest, NoBufferKeepsItsMarkAfterACollection) {
    // A live block holding a string, a big binary and a fixed block of its own, which
    // holds a string in turn: every kind of buffer the collector visits.
    Cell holder = block_of(alloc_cells(4));
    collector::add_root(&holder);
    Cell text;
    cell::make(&text, Type::string, 0, alloc_bytes(40), 0);
    push_cell(holder.data2, text);
    Cell big;
    cell::make(&big, Type::binary, 0, alloc_bytes(3 << 20), 0);
    push_cell(holder.data2, big);
    Cell fixed = block_of(alloc_fixed_series(4, 16, 0));
    push_cell(holder.data2, fixed);
    Cell inner;
    cell::make(&inner, Type::string, 0, alloc_bytes(24), 0);
    push_cell(fixed.data2, inner);
    text = big = inner = Cell{};

    for (int round = 0; round < 2; ++round) {
        collector::recycle();
        EXPECT_EQ(live_marks(), 0u) << "round " << round;
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
        push_cell(window.data2, v);
        peak = std::max(peak, root.os_bytes);
        peak_arena = std::max<uint64_t>(peak_arena, arena_used());
    }
    EXPECT_LT(peak, bound);
    EXPECT_LT(peak_arena, bound);
    collector::recycle();
    EXPECT_LT(root.os_bytes, bound / 2);
    collector::remove_root(&window);
}
