// block!: the series of value cells that is the language's code and data; paren!, the path
// types and hash! share its layout (hash! adds the node of its index in data word 3). The
// helpers here build and walk blocks for the whole runtime. Buffers move on any allocation:
// a Cell* into a block is valid only until the next allocation.
#pragma once
#include <cstdint>

#include "datatypes/series.h"
#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::block {

// The block family: block!, paren!, the four path types and hash!.
constexpr bool family_q(Type t) { return in_family(family::any_block, t); }

// The root block: every literal and global cell of the boot code, always reachable.
extern Cell root;
constexpr int32_t root_cells = 9695;
void make_root();

// Making ------------------------------------------------------------------------------------

// A new empty block of room for n cells in the cell (n below 1 gives room for one); the
// header stays unset while the buffer is allocated.
void make_at(Cell* c, int32_t n, Type t = Type::block);
// A new empty block pushed on the argument stack.
Cell* push_new(int32_t n);
// Pushes a copy of a block cell.
Cell* push(const Cell* block);
// A new block cell at the tail of a block (or, with no parent, in the root block).
Cell* make_in(Cell* parent, int32_t n);

// The node of a hash!'s index (data word 3; 0 while it has none).
inline Ref hash_table_of(const Cell* b) { return b->data3; }
inline void set_hash_table(Cell* b, Ref table) { b->data3 = table; }

// Cells ---------------------------------------------------------------------------------------

// The head cell without any check, and the position just past the last cell. A block's units
// are cells, so no unit size is looked up.
inline Cell* head(const Cell* b) { return series::buffer(b)->cells() + b->int1(); }
inline Cell* tail(const Cell* b) { return series::buffer(b)->cells_end(); }
// Cells from the head to the tail (a head past the tail is moved back to it).
inline int32_t length(Cell* b) { return series::length(b); }
inline int32_t cell_count(Cell* b) { return series::length(b); }
// Cells from the first to the tail, ignoring the head index.
inline int32_t buffer_length(const Cell* b) { return static_cast<int32_t>(series::buffer(b)->used_bytes() / sizeof(Cell)); }
inline bool at_tail_q(const Cell* b) { return b->int1() == buffer_length(b); }
// The cell at an absolute index (no bounds check).
inline Cell* cell_at(const Cell* b, int32_t index) { return series::buffer(b)->cells() + index; }

// Appends an unset cell at the block's tail (the buffer doubles when full) and gives it.
Cell* alloc_tail_cell(Cell* block);
// Appends a copy of a value (which may lie in the block itself) and gives the new cell.
Cell* append(Cell* block, const Cell* value);
// The append action of a block! (not a hash!) with no /part or /dup, when its buffer has room
// and no owner: writes the value's cell, or without /only the cells of a block-family value,
// at the tail. False, with nothing done, when the action must take its whole way.
bool append_in_place(Cell* block, const Cell* value, bool only);
// Appends a copy of every cell from the source's head to its tail.
void copy_cells_in(Cell* target, Cell* source);
// Inserts a copy of the value at the head (or at index 0), keeping a hash! index in step;
// with advance the head moves past it.
void insert_value(Cell* block, const Cell* value, bool advance, bool at_start);
memory::SeriesBuffer* truncate_at(Cell* block, int32_t index);
void remove_last(Cell* block);

// Searching ----------------------------------------------------------------------------------

// Removes the first cell equal to the value, from the head (or from index 0); false when
// there is none.
bool remove_value(Cell* block, const Cell* value, bool from_start);
// The cell after the first word (word!, set-word!, lit-word! or get-word!) spelled as the
// given word (letter case ignored unless strict); the shared none cell when absent or last.
const Cell* find_word(Cell* block, const Cell* word, bool strict);

// Copying ------------------------------------------------------------------------------------

// A new block pushed on the argument stack with copies of the cells from head to tail,
// typed like the source; deep clones nested blocks, and parens and paths with paths.
Cell* clone(Cell* block, bool deep, bool paths);
// Replaces each copyable value among the cells [start, end) (every step-th) whose datatype
// is in types (a typeset! or a datatype!) by its copy: deep with the same types when deep.
void copy_deep_types(Cell* block, int32_t start, int32_t end, int32_t step, bool deep, Cell* types);

// Text ----------------------------------------------------------------------------------------

// Forms (or molds, with indent 0 and new-line markers ignored) each cell from the head,
// joined by the separator (a space is left out after a tab or a line break); a value already
// being walked gives its placeholder instead. Gives the remaining budget.
int32_t join_cells(Cell* value, Cell* buffer, bool molding, bool only, bool all, bool flat, Cell* part,
                   int32_t budget, char separator);
// Molds the cells from the head, with new-line markers and indentation, without brackets;
// shared by paren!, object bodies and the like. Gives the remaining budget.
int32_t mold_each(Cell* block, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  int32_t indent);

// Actions other datatypes call ------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, const slotfn::FindOptions& options);
Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                int32_t position, bool last, bool notify);

// The set operations over the two arguments of the current frame (op codes 8 unique,
// 9 union, 10 intersect, 11 exclude, 12 difference); the result replaces the first argument.
void set_op(bool case_, Cell* skip, int32_t op);

void init();

}  // namespace zuv::block

namespace zuv::series {
// Appends an unset cell at the buffer's tail, doubling the buffer when full.
Cell* alloc_tail_cell(memory::SeriesBuffer* b);
// Advances the tail by n bytes, growing the buffer; gives the old tail's address.
uint8_t* alloc_tail_bytes(memory::SeriesBuffer* b, uint32_t n);
// A new series holding a stretch of another (flags kept but the owned and library flags).
Ref copy_part(Ref node, int32_t offset, int32_t length);
}  // namespace zuv::series
