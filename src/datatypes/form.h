// A value formed or molded into a new string!, for C++ callers: the dispatch of memory/actions.h
// with the string made here.
#pragma once

#include "memory/cell.h"

namespace zuv::actions {

// The formed or molded text of a value as a new string in the cell.
void form_to(Cell* value, Cell* out);
void mold_to(Cell* value, Cell* out, bool all = false);

}  // namespace zuv::actions
