// Contexts: a context is a two-cell block, its context! cell (word table in data word 1,
// values in data word 2) and its owner cell. The values live in a block, or on the
// argument stack while a function runs.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::context {

namespace bit {
constexpr uint32_t kind_shift = 11;
constexpr uint32_t kind_mask = 0x1800;
constexpr uint32_t applied = 0x2000;       // on a word cell of an object's word table
constexpr uint32_t owner = 0x10000;        // the object owns series (ownership tracking)
constexpr uint32_t stack_values = 0x400000;
constexpr uint32_t has_self = 0x1000000;
}  // namespace bit

enum Kind : uint32_t { global = 0, function = 1, object = 2 };

// The context! cell of a context node.
inline Cell* cell_of(Ref node) { return memory::buffer_of(node)->cells(); }
inline Cell* owner_of(Ref node) { return memory::buffer_of(node)->cells() + 1; }
inline Kind kind_of(const Cell* ctx) { return static_cast<Kind>((ctx->header & bit::kind_mask) >> bit::kind_shift); }
inline bool on_stack(const Cell* ctx) { return ctx->header & bit::stack_values; }

}  // namespace zuv::context
