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

enum Kind : uint32_t { kind_global = 0, kind_function = 1, kind_object = 2 };

// The context! cell of a context node.
inline Cell* cell_of(Ref node) { return memory::buffer_of(node)->cells(); }
inline Cell* owner_of(Ref node) { return memory::buffer_of(node)->cells() + 1; }
inline Kind kind_of(const Cell* ctx) { return static_cast<Kind>((ctx->header & bit::kind_mask) >> bit::kind_shift); }
inline bool on_stack(const Cell* ctx) { return ctx->header & bit::stack_values; }

}  // namespace zuv::context

namespace zuv::context {

// The global context: kind global, values in a block.
extern Ref global;
void make_global();

Ref create(int32_t size, bool on_stack, bool self, const Cell* prototype, Kind kind);
// A context holding the word!, lit-word!, get-word! and refinement! entries of a spec.
Ref make_from_spec(const Cell* spec, bool on_stack, bool self, Kind kind);
int32_t find_word(Ref ctx, int32_t symbol, bool case_insensitive);
// Adds the word when absent; gives its index.
int32_t add_word(Ref ctx, int32_t symbol);
void add_with_value(Ref ctx, int32_t symbol, const Cell* value);
// The global word cell of a symbol, added when absent. During start-up the result is a copy
// in a new cell of the root block.
Cell* add_global(int32_t symbol);
Cell* add_global_word(int32_t symbol, bool case_flag, bool keep_spelling);

// Number of words, the word cell and the value cell at an index.
int32_t size_of(Ref ctx);
Cell* word_at(Ref ctx, int32_t index);
Cell* value_at(Ref ctx, int32_t index);

// The value slot of a bound word. The lookup every evaluated word does stays inline; the
// rest (self, unbound words, contexts without values) is in get_slow.
Cell* get_slow(const Cell* word);
inline Cell* values_of(const Cell* ctx) {
    return on_stack(ctx) ? memory::ptr<Cell>(ctx->data2) : memory::buffer_of(ctx->data2)->cells();
}
inline Cell* get(const Cell* word) {
    Ref ctx = word->data1;
    int32_t index = word->int3();
    if (index >= 0 && ctx) [[likely]] {
        Cell* c = cell_of(ctx);
        if (c->data2) [[likely]] return values_of(c) + index;
    }
    return get_slow(word);
}
Cell* get_value_slot(int32_t symbol, Ref ctx);
Cell* set(Cell* word, const Cell* value);
Cell* set_in(Cell* word, const Cell* value, Ref ctx, bool fire);
// Installed by the object layer: stores a value set in an object context and runs the
// object's on-change*; gives the value's slot.
extern Cell* (*on_change_hook)(Cell* word, Cell* slot, const Cell* value, Ref ctx);
int32_t bind_word(Ref ctx, Cell* word);
void bind(Cell* block, Ref ctx, bool self);
bool collect_set_words(Ref ctx, Cell* block);

}  // namespace zuv::context
