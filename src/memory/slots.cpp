// The slot table. All of its cells count as used, so the collector scans every slot; a free
// slot is an integer! holding the index of the next free one, which keeps nothing alive.
#include "memory/slots.h"

#include "memory/collector.h"
#include "memory/memory.h"

namespace zuv::slots {

Cell table;
int32_t free_head = -1;

namespace {

int32_t count = 0;

Cell* cells() { return memory::buffer_of(table.data2)->cells(); }

// Chains the slots from index first to the end of the table into the free list.
void chain_from(int32_t first) {
    Cell* c = cells();
    for (int32_t i = first; i < count; ++i) cell::make(&c[i], Type::integer, 0, static_cast<uint32_t>(i + 1 < count ? i + 1 : -1));
    free_head = first;
    memory::SeriesBuffer* b = memory::buffer_of(table.data2);
    b->tail = b->head + static_cast<uint32_t>(count) * sizeof(Cell);
}

}  // namespace

void init() {
    count = 100;
    Ref node = memory::alloc_cells(count);
    cell::make(&table, Type::block, 0, node, 0);
    chain_from(0);
    static bool rooted = false;
    if (!rooted) {
        collector::add_root(&table);
        rooted = true;
    }
}

int32_t alloc(const Cell* value) {
    Cell v = *value;  // the value may live in the table itself, which expanding moves
    if (free_head < 0) {
        int32_t old = count;
        count *= 2;
        memory::expand_series(memory::buffer_of(table.data2), static_cast<int64_t>(count) * sizeof(Cell));
        chain_from(old);
    }
    int32_t index = free_head;
    Cell* slot = cells() + index;
    free_head = static_cast<int32_t>(slot->data2);
    *slot = v;
    return index + 1;
}

Cell* get(int32_t slot) {
    if (slot < 1 || slot > count) return nullptr;
    return cells() + slot - 1;
}

void free(int32_t slot) {
    if (slot < 1 || slot > count) return;
    cell::make(cells() + slot - 1, Type::integer, 0, static_cast<uint32_t>(free_head));
    free_head = slot - 1;
}

int32_t capacity() { return count; }

}  // namespace zuv::slots
