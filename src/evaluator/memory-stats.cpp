// The memory figures behind the stats native, read from the frame chains of the manager.
#include "evaluator/memory-stats.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv::memory {

namespace {

struct Figures {
    // Three per frame, in the order the memory report prints them: free, used, total.
    std::vector<uint32_t> nodes;
    std::vector<uint32_t> series;
    std::vector<uint32_t> big;     // one per big series
    uint64_t total = 0;
};

// Read in one pass before anything is allocated: making the report's blocks may add frames.
Figures figures() {
    Figures f;
    for (Ref r = root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) {
        NodeFrame* n = ptr<NodeFrame>(r);
        f.nodes.insert(f.nodes.end(), {n->node_count - n->used, n->used, n->node_count});
        f.total += uint64_t(n->node_count) * 4;
    }
    for (Ref r = root.first_series_frame; r; r = ptr<SeriesFrame>(r)->next) {
        SeriesFrame* s = ptr<SeriesFrame>(r);
        uint32_t start = ref(s->data());
        f.series.insert(f.series.end(), {s->end - s->heap, s->heap - start, s->end - start});
        f.total += s->heap - start;
    }
    for (Ref r = root.first_big_series; r; r = ptr<BigSeries>(r)->next) {
        f.big.push_back(ptr<BigSeries>(r)->size);
        f.total += ptr<BigSeries>(r)->size;
    }
    return f;
}

void append_entries(Cell* block, const std::vector<uint32_t>& values, size_t per_entry) {
    // A copy of the cell: the parent's buffer may move while the list fills.
    Cell list = *block::make_in(block, static_cast<int32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        Cell* c = integer::make_in(&list, static_cast<int32_t>(values[i]));
        if (i % per_entry == 0) c->header |= header::new_line;
    }
}

}  // namespace

Cell* stats(int32_t mode, Cell* block) {
    Figures f = figures();
    if (mode == 1) {
        if (f.total > 2147483647) return float_::push(static_cast<double>(f.total));
        return integer::push(static_cast<int32_t>(f.total));
    }
    append_entries(block, f.nodes, 3);
    append_entries(block, f.series, 3);
    append_entries(block, f.big, 1);
    return block;
}

}  // namespace zuv::memory
