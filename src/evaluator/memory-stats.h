// The memory figures behind the stats native: the bytes in use, and the figures of every
// node frame, series frame and big series.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::memory {

// Mode 1: pushes the bytes in use (4 per node of every node frame, the used bytes of the
// series frames, the sizes of the big series) as an integer!, or a float! past the
// integers. Mode 2 or more: appends three blocks to the block: three integers per node
// frame (nodes, nodes in use, free nodes), three per series frame (free, used and total
// bytes after the frame header), one per big series (its size); each entry starts a new
// line. Gives the cell pushed or the block.
Cell* stats(int32_t mode, Cell* block);

}  // namespace zuv::memory
