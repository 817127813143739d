// block!: the series of value cells.
#include "datatypes/block.h"

#include <cstring>

#include "memory/collector.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv::series {

Cell* alloc_tail_cell(memory::SeriesBuffer* b) {
    if (b->tail_ptr() + sizeof(Cell) > b->data_end()) [[unlikely]]
        b = memory::expand_series(b, 0);
    Cell* c = b->cells_end();
    cell::make(c, Type::unset);
    b->tail += sizeof(Cell);
    return c;
}

uint8_t* alloc_tail_bytes(memory::SeriesBuffer* b, uint32_t n) {
    if (b->tail_ptr() + n > b->data_end()) {
        int64_t capacity = n > b->capacity ? int64_t(n) * 2 : int64_t(b->capacity) * 2;
        b = memory::expand_series(b, capacity);
    }
    uint8_t* old = b->tail_ptr();
    b->tail += n;
    return old;
}

Ref copy_part(Ref node, int32_t offset, int32_t length) {
    memory::SeriesBuffer* b = memory::buffer_of(node);
    uint32_t unit = b->unit();
    Ref copy = memory::alloc_series(length, unit, 0);
    b = memory::buffer_of(node);
    memory::SeriesBuffer* nb = memory::buffer_of(copy);
    nb->flags = (b->flags & ~(memory::flag::owned | memory::flag::big | memory::flag::fixed | memory::flag::mark)) |
                (nb->flags & memory::flag::big);
    uint32_t bytes = static_cast<uint32_t>(length) * unit;
    std::memcpy(nb->head_ptr(), b->head_ptr() + static_cast<size_t>(offset) * unit, bytes);
    nb->tail = nb->head + bytes;
    return copy;
}

}  // namespace zuv::series

namespace zuv::block {

Cell root;

void make_root() {
    Ref node = memory::alloc_fixed_series(root_cells, 16, 0);
    cell::make(&root, Type::block, 0, node, 0);
    collector::register_fixed(memory::buffer_ref(node));
    collector::add_root(&root);
}

void make_at(Cell* c, int32_t n, Type t) {
    cell::make(c, Type::unset);  // a collection during the allocation must not see half a value
    Ref node = memory::alloc_cells(n > 0 ? n : 1);
    cell::make(c, t, 0, node, 0);
}

Cell* push_new(int32_t n) {
    Cell* c = stack::push_slot();
    make_at(c, n);
    return c;
}

Cell* make_in(Cell* parent, int32_t n) {
    Cell* c = alloc_tail_cell(parent);
    Ref parent_node = parent->data2;
    Ref node = memory::alloc_cells(n > 0 ? n : 1);
    c = memory::buffer_of(parent_node)->cells_end() - 1;
    cell::make(c, Type::block, 0, node, 0);
    return c;
}

Cell* alloc_tail_cell(Cell* block) { return series::alloc_tail_cell(series::buffer(block)); }

Cell* append(Cell* block, const Cell* value) {
    Cell copy = *value;
    Cell* c = alloc_tail_cell(block);
    *c = copy;
    return c;
}

}  // namespace zuv::block
