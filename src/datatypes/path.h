// paren! and the path family: blocks whose datatype byte says how they evaluate and mold.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::paren {
// Pushes a copy of a block-shaped cell typed paren!.
Cell* push(const Cell* b);
}  // namespace zuv::paren

namespace zuv::path {
// The path whose element an eval-path action is selecting, for the action's error messages;
// null when the action is called outside a path walk (put, compiled code). Set by the
// evaluator's path walk.
extern const Cell* walked;
// Whether that walk gets (a get-path, `get` of a path, a quoted argument): a missing field
// at its end is then unset rather than an error.
extern bool walk_gets;

Cell* push(const Cell* b);
// An empty path! with room for capacity segments (at least one).
void make_at(Cell* c, int32_t capacity);
}  // namespace zuv::path

namespace zuv::lit_path {
Cell* push(const Cell* b);
}
namespace zuv::set_path {
Cell* push(const Cell* b);
}
namespace zuv::get_path {
Cell* push(const Cell* b);
}
