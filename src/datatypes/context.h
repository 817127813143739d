// Contexts: a context is a two-cell block, its context! cell (word table in data word 1,
// values in data word 2) and its owner cell. The values live in a block, or on the
// argument stack while a function runs.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/context-node.h"
#include "memory/memory.h"
#include "datatypes/word.h"

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

// The value cell at an index (size_of and word_at are in the node's layout).
Cell* value_at(Ref ctx, int32_t index);

// The value slot of a bound word. The lookup every evaluated word does stays inline; the
// rest (self, unbound words, contexts without values) is in get_slow.
Cell* get_slow(const Cell* word);
inline Cell* values_of(const Cell* ctx) {
    return on_stack(ctx) ? memory::ptr<Cell>(values_node_in(ctx)) : memory::buffer_of(values_node_in(ctx))->cells();
}
// The values of the global context last looked up, kept while no buffer moves: most words of
// a script's top level are global, and their lookup is then a compare of two numbers rather
// than a chain of loads through the context's node and its values block. (A function's
// values move at every call, and a context of another kind may have them swapped.)
struct GlobalValues {
    Ref context;
    uint32_t moves;
    Cell* cells;
};
extern GlobalValues global_values;
inline Cell* known_global_slot(Ref ctx, int32_t index) {
    if (ctx == global_values.context && global_values.moves == memory::moves && index >= 0) [[likely]]
        return global_values.cells + index;
    return nullptr;
}
// The values of a context with its values in place, noted when the context is global.
inline Cell* values_noted(Ref ctx, const Cell* c) {
    Cell* values = values_of(c);
    if (kind_of(c) == kind_global && !on_stack(c)) global_values = GlobalValues{ctx, memory::moves, values};
    return values;
}

// The value slot of a bound word whose context has its values in place now; null otherwise
// (the lookup that never raises, for the evaluator's look-ahead).
inline Cell* bound_value(const Cell* word) {
    Ref ctx = word::binding_of(word);
    int32_t index = word::index_of(word);
    if (Cell* slot = known_global_slot(ctx, index)) [[likely]]
        return slot;
    if (index < 0 || !ctx) return nullptr;
    Cell* c = cell_of(ctx);
    if (!values_node_in(c)) return nullptr;
    return values_noted(ctx, c) + index;
}
inline Cell* get(const Cell* word) {
    if (Cell* v = bound_value(word)) [[likely]]
        return v;
    return get_slow(word);
}
Cell* get_value_slot(int32_t symbol, Ref ctx);
Cell* set_in(Cell* word, const Cell* value, Ref ctx, bool fire);
// Sets a word's value. A bound word of a function or the global context with its values in
// place is stored at once; an object's field (whose change is told) and every other case
// go through set_in.
// set's store in place alone: the slot, or null (with nothing done) where set goes the long way.
inline Cell* set_in_place(const Cell* word, const Cell* value) {
    Ref ctx = word::binding_of(word);
    int32_t index = word::index_of(word);
    if (Cell* slot = known_global_slot(ctx, index)) [[likely]] {
        *slot = *value;
        return slot;
    }
    if (index >= 0 && ctx) [[likely]] {
        Cell* c = cell_of(ctx);
        if (values_node_in(c) && kind_of(c) != kind_object) [[likely]] {
            Cell* slot = values_noted(ctx, c) + index;
            *slot = *value;
            return slot;
        }
    }
    return nullptr;
}
inline Cell* set(Cell* word, const Cell* value) {
    if (Cell* slot = set_in_place(word, value)) [[likely]]
        return slot;
    return set_in(word, value, word::binding_of(word), true);
}
// Installed by the object layer: stores a value set in an object context and runs the
// object's on-change*; gives the value's slot.
extern Cell* (*on_change_hook)(Cell* word, Cell* slot, const Cell* value, Ref ctx);
int32_t bind_word(Ref ctx, Cell* word);
void bind(Cell* block, Ref ctx, bool self);
bool collect_set_words(Ref ctx, Cell* block);

}  // namespace zuv::context
