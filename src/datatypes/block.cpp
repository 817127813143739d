// block!: the series of value cells.
#include "datatypes/block.h"

#include "memory/collector.h"
#include "memory/memory.h"

namespace zuv::block {

Cell root;

void make_root() {
    Ref node = memory::alloc_fixed_series(root_cells, 16, 0);
    cell::make(&root, Type::block, 0, node, 0);
    collector::register_fixed(memory::buffer_ref(node));
    collector::add_root(&root);
}

}  // namespace zuv::block
