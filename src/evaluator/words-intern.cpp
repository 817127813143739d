// Interns the built-in vocabulary once during start-up, before the boot data loads; the
// globals never change afterwards. Word cells live in the root block (a fixed buffer), so
// the pointers kept in them stay valid.
#include "evaluator/words-intern.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/word.h"
#include "memory/collector.h"
#include "memory/stack.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"

namespace zuv::words {

namespace {

// An unbound refinement! or issue! in a new cell of the root block.
Cell* make_in_root(const char* name, Type t) {
    Cell c;
    word::make_unbound(&c, symbol::make(name), t);
    return block::append(&block::root, &c);
}

// A global word that lives outside the root block after start-up is copied there, so that
// the pointer kept for it never moves.
Cell* rooted(Cell* word) {
    if (block::cell_at(&block::root, 0) <= word && word < block::tail(&block::root)) return word;
    Cell copy = *word;
    return block::append(&block::root, &copy);
}

}  // namespace

void init_builtins() {
#define ZUV_INTERN_SYMBOL(name, text) sym::name = symbol::make(text);
    ZUV_BUILTIN_SYMBOLS(ZUV_INTERN_SYMBOL)
#undef ZUV_INTERN_SYMBOL
#define ZUV_LOAD_WORD(name, text) global::name = rooted(context::add_global(symbol::make(text)));
    ZUV_BUILTIN_GLOBAL_WORDS(ZUV_LOAD_WORD)
#undef ZUV_LOAD_WORD
    collector::self_symbol = static_cast<uint32_t>(sym::self);
    stack::body_symbol = static_cast<uint32_t>(word::symbol_of(global::body_tag));
    stack::anon_symbol = static_cast<uint32_t>(word::symbol_of(global::anon_tag));
    stack::not_found_symbol = static_cast<uint32_t>(word::symbol_of(global::not_found_tag));
    init_refinements();
    init_issues();
}

void init_refinements() {
#define ZUV_MAKE_REFINEMENT(name, text) refine::name = make_in_root(text, Type::refinement);
    ZUV_BUILTIN_REFINEMENTS(ZUV_MAKE_REFINEMENT)
#undef ZUV_MAKE_REFINEMENT
}

void init_issues() { issue_ooo = make_in_root("ooo", Type::issue); }

}  // namespace zuv::words
