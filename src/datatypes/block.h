// block!: the series of value cells that is the language's code and data.
#pragma once
#include "memory/cell.h"

namespace zuv::block {

// The root block: every literal and global cell of the boot code, a fixed buffer that
// never moves and is always reachable.
extern Cell root;
constexpr int32_t root_cells = 9695;
void make_root();

}  // namespace zuv::block
