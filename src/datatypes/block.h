// block!: the series of value cells that is the language's code and data; paren!, the path
// types and hash! share its layout.
#pragma once
#include <cstdint>

#include "datatypes/series.h"
#include "memory/cell.h"

namespace zuv::block {

// The root block: every literal and global cell of the boot code, always reachable.
extern Cell root;
constexpr int32_t root_cells = 9695;
void make_root();

// A new empty block of room for n cells in the cell (n = 0 gives room for one).
void make_at(Cell* c, int32_t n, Type t = Type::block);
Cell* push_new(int32_t n);
// A new block cell at the tail of a block.
Cell* make_in(Cell* parent, int32_t n);
// Appends an unset cell at the block's tail (the buffer doubles when full) and gives it.
Cell* alloc_tail_cell(Cell* block);
// Appends a copy of a value.
Cell* append(Cell* block, const Cell* value);

inline Cell* head(const Cell* b) { return reinterpret_cast<Cell*>(series::head_address(b)); }
inline Cell* tail(const Cell* b) { return series::buffer(b)->cells_end(); }
inline int32_t length(Cell* b) { return series::length(b); }

}  // namespace zuv::block

namespace zuv::series {
// Appends an unset cell at the buffer's tail, doubling the buffer when full.
Cell* alloc_tail_cell(memory::SeriesBuffer* b);
// Advances the tail by n bytes, growing the buffer; gives the old tail's address.
uint8_t* alloc_tail_bytes(memory::SeriesBuffer* b, uint32_t n);
// A new series holding a stretch of another (flags kept but the owned flag).
Ref copy_part(Ref node, int32_t offset, int32_t length);
}  // namespace zuv::series
