// error! values: objects with the fields code, type, id, arg1-3, near, where, stack, files,
// made from the catalogue; registering the datatype gives error raising its hooks.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/error.h"

namespace zuv::error {

// An error raised before the catalogue exists has no context (data word 1 is 0) and carries
// its category (high 16 bits) and id index (low 16) in data word 2.
inline uint32_t startup_code_of(const Cell* e) { return e->data2; }

// create pushes a new error made from a category and an id word.
Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
void make(const Cell* spec, Cell* out);
// True when the catalogue has an entry for the code (category index * 100 + id index - 2),
// which make of that integer! then builds.
bool code_known_q(int32_t code);
void set_where(Cell* error, const Cell* word);
// The word of argument n (0-based, counting argument words and refinements) in the spec of
// the innermost named call's function; none when there is none.
Cell get_call_argument(int32_t n);
// A caught error keeps the names of the calls it came through: its stack field, the frame
// position recorded when it was raised, becomes the block of those call words.
void capture_stack(Cell* error);
// Shows an error that nothing caught (on standard error, and in a box when the GUI can).
void uncaught_hook(Cell* error);
void init();

}  // namespace zuv::error
