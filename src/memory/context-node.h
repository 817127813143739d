// The layout of a context node, which the stacks and the collector read below the contexts
// themselves: a two-cell block, its context! cell (word table in data word 1, values in data
// word 2) and its owner cell.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/hashtable.h"
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

enum Kind : uint32_t { kind_global = 0, kind_function = 1, kind_object = 2 };

// The context! cell of a context node.
inline Cell* cell_of(Ref node) { return memory::buffer_of(node)->cells(); }
inline Cell* owner_of(Ref node) { return memory::buffer_of(node)->cells() + 1; }
inline Kind kind_of(const Cell* ctx) { return static_cast<Kind>((ctx->header & bit::kind_mask) >> bit::kind_shift); }
inline bool on_stack(const Cell* ctx) { return ctx->header & bit::stack_values; }

// The data words of a context! cell: the word table's node (word 1) and where the values
// are (word 2): a block's node, the address of the frame's first value on the argument stack
// while a function runs, or 0 when the context has no values.
inline Ref table_in(const Cell* ctx) { return ctx->data1; }
inline void set_table_in(Cell* ctx, Ref table) { ctx->data1 = table; }
inline Ref values_node_in(const Cell* ctx) { return ctx->data2; }
inline void set_values_node_in(Cell* ctx, Ref values) { ctx->data2 = values; }

// The values of a context that keeps them in a block (not on the argument stack): the
// block's node, and its cells from the first value.
inline Ref values_node(Ref node) { return values_node_in(cell_of(node)); }
inline void set_values_node(Ref node, Ref values) { set_values_node_in(cell_of(node), values); }
inline Cell* block_values(Ref node) { return memory::buffer_of(values_node(node))->cells(); }

// The word table (a hash table whose series holds the word cells), the number of words and
// the word cell at an index.
inline Ref table_of(Ref node) { return table_in(cell_of(node)); }
inline Ref words_of(Ref node) { return hashtable::record_of(table_of(node))->series; }
inline int32_t size_of(Ref node) {
    return static_cast<int32_t>(memory::buffer_of(words_of(node))->used_bytes() / sizeof(Cell));
}
inline Cell* word_at(Ref node, int32_t index) { return memory::buffer_of(words_of(node))->cells() + index; }

}  // namespace zuv::context
