// The word datatypes: word!, set-word!, lit-word!, get-word!, refinement! and issue! share
// one cell (context node, symbol id, index in that context) and differ in how the
// interpreter treats them and how they mold.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"

namespace zuv::word {

// The data words of the word datatypes: the context the word is bound to (0 when unbound),
// its symbol and its index in that context (-1 when unbound).
inline Ref binding_of(const Cell* w) { return w->data1; }
inline int32_t symbol_of(const Cell* w) { return w->int2(); }
inline int32_t index_of(const Cell* w) { return w->int3(); }
inline void set_symbol(Cell* w, int32_t symbol) { w->data2 = static_cast<uint32_t>(symbol); }
inline void set_index(Cell* w, int32_t index) { w->data3 = static_cast<uint32_t>(index); }
inline void bind_to(Cell* w, Ref context, int32_t index) {
    w->data1 = context;
    w->data3 = static_cast<uint32_t>(index);
}
// A symbol! cell keeps the node of its UTF-8 name (NUL-terminated) in data word 3.
inline Ref name_node_of(const Cell* symbol) { return symbol->data3; }

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
