// function! and routine!: user-level functions (spec, body, context), and native!,
// action! and op! values, the handles of the built-in routines.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::function {

namespace flag {
constexpr uint32_t trace = 0x400;
constexpr uint32_t no_trace = 0x200;
}  // namespace flag

// The function's internal series: body, argument cache, machine entry, op source, object.
constexpr int series_length = 5;

// The data words of function! and routine!, which native!, action! and op! share: word 1
// the function's context node (for a native! or action! its number in the natives' or
// actions' table), word 2 the spec block's node, word 3 the node of the internal series (for
// a native! or action! cell 0 is a copy of its context! cell, cell 1 the argument cache).
inline Ref context_of(const Cell* f) { return f->data1; }
inline int32_t number_of(const Cell* f) { return f->int1(); }
inline Ref spec_of(const Cell* f) { return f->data2; }
inline void set_spec(Cell* f, Ref spec) { f->data2 = spec; }
inline Ref series_of(const Cell* f) { return f->data3; }
inline Cell* series_cells(const Cell* f) { return memory::buffer_of(series_of(f))->cells(); }
// The spec as a block! value at its head.
inline Cell spec_block(const Cell* f) {
    Cell spec;
    cell::make(&spec, Type::block, 0, spec_of(f), 0);
    return spec;
}

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
// The function an op! calls: the op's cell with that function's datatype, which the op keeps
// in header bits 16-23, back in the datatype's place.
inline Cell function_of(const Cell* op) {
    Cell fn = *op;
    fn.header = (fn.header >> 16) & 0xFF;
    return fn;
}
// The type of that function alone.
inline Type function_type(const Cell* op) { return static_cast<Type>((op->header >> 16) & 0xFF); }
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
