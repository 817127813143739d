// function! and routine!: user-level functions (spec, body, context), and native!,
// action! and op! values, the handles of the built-in routines.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::function {

namespace flag {
constexpr uint32_t trace = 0x400;
constexpr uint32_t no_trace = 0x200;
}  // namespace flag

// The function's internal series: body, argument cache, machine entry, op source, object.
constexpr int series_length = 5;

// The data words of a function!: its context node, its spec block's node and the node of its
// internal series.
inline Ref context_of(const Cell* f) { return f->data1; }
inline Ref spec_of(const Cell* f) { return f->data2; }
inline Ref series_of(const Cell* f) { return f->data3; }

uint32_t check_spec(const Cell* spec);
// Pushes a new function! made from a spec and a body; the body is copied deeply and bound
// to a new context made from the spec.
Cell* push(const Cell* spec, const Cell* body, Ref context, uint32_t flags, Ref object);
void collect_locals(Cell* spec, const Cell* body);
// The word of a function's argument at a place (argument words and refinements in spec
// order, up to /local), as a word!, for error messages; none when there is none.
Cell argument_word(const Cell* fn, int32_t place);
void init();

}  // namespace zuv::function

namespace zuv::native {
void init();
}
namespace zuv::action {
void init();
}
namespace zuv::op {
void init();
bool check_spec(const Cell* spec);
}
namespace zuv::routine {

// A routine is a C++ function called like a function!. It takes its arguments either as
// cells or as machine values (logic!, integer! and float! as themselves, any other value as
// its cell's address); in the second case its result is converted by the return kind.
union Value {
    bool logic;
    int32_t integer;
    double number;
    Cell* cell;
};
using CellEntry = Cell* (*)(Cell** args);
using ValueEntry = Value (*)(const Value* args);

struct Entry {
    const char* name;
    CellEntry cells;    // set for a routine that takes cells
    ValueEntry values;  // set for a routine that takes machine values
};

// Header bits of a routine! cell.
constexpr uint32_t takes_cells = 0x8000;
constexpr uint32_t arg_count_shift = 25;
constexpr uint32_t arg_count_mask = 0x1Fu << arg_count_shift;
inline int32_t arg_count(const Cell* r) { return static_cast<int32_t>((r->header & arg_count_mask) >> arg_count_shift); }

// Adds an entry to the routine table; gives its index for push.
int32_t register_entry(const Entry& entry);
const Entry* entry_at(int32_t index);
// Stores the number of word! entries of a block (a spec's argument list) in the header.
void count_args(Cell* routine, const Cell* spec);
// Pushes a new routine! over a table entry. return_kind: a datatype id (logic!, integer!,
// float!) for a machine-value routine's result, 0 for none.
Cell* push(const Cell* spec, int32_t entry, uint32_t flags, int32_t return_kind);
void init();

}  // namespace zuv::routine
