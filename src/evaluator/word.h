// The word datatypes: word!, set-word!, lit-word!, get-word!, refinement! and issue! share
// one cell (context node, symbol id, index in that context) and differ in how the
// interpreter treats them and how they mold.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"

namespace zuv::word {

// A word of the given kind bound to the global context (the word is added there when
// absent).
void make_at(Cell* c, int32_t symbol, Type t = Type::word);
// An issue! or an unbound refinement!: index -1.
void make_unbound(Cell* c, int32_t symbol, Type t);
Cell* push_new(int32_t symbol);

}  // namespace zuv::word

namespace zuv::words {
// The global word cell for a name, made once; during start-up a copy in the root block.
Cell* load(std::string_view name);
}  // namespace zuv::words
