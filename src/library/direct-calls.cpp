// Direct calls between library functions: once the boot sources are evaluated, the words of
// the library's bodies that name a function through the global context are bound to a
// private object holding a copy of each such function, so a later redefinition of a global
// word (say `cause-error`) changes what users call but not what the library calls. The
// bodies are marked as the library's code on the way, so the tracer does not step into them.
#include <unordered_set>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "evaluator/trace.h"
#include "library/routines.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv::library {

namespace {

bool function_value(const Cell* v) {
    switch (v->type()) {
        case Type::native: case Type::action: case Type::op: case Type::function: case Type::routine:
            return true;
        default:
            return false;
    }
}

struct Rebinder {
    Ref global;
    Ref library;                    // the private object's context
    std::vector<int32_t> slot_of;   // global value index -> index in the private object, or -1
    int32_t do_symbol;
    std::unordered_set<Ref> seen;   // blocks and contexts already walked

    bool is_do(const Cell* c) const {
        if (c->is(Type::word)) return symbol::resolve(word::symbol_of(c)) == do_symbol;
        if (c->is(Type::path) && series::buffer_length(c) > 0) return is_do(series::buffer(c)->cells());
        return false;
    }

    void rebind_word(Cell* w) const {
        if (word::binding_of(w) != global || word::index_of(w) < 0) return;
        size_t i = static_cast<size_t>(word::index_of(w));
        if (i >= slot_of.size() || slot_of[i] < 0) return;
        word::bind_to(w, library, slot_of[i]);
    }

    // Walks a block deeply. Nothing here allocates in the managed heap, so the cell
    // addresses stay valid through the walk.
    void walk(const Cell* block) {
        if (!seen.insert(series::node(block)).second) return;
        Cell* cells = series::buffer(block)->cells();
        int32_t n = series::buffer_length(block);
        for (int32_t i = 0; i < n; ++i) {
            Cell* c = cells + i;
            switch (c->type()) {
                case Type::word: case Type::get_word:
                    rebind_word(c);
                    break;
                case Type::block:
                    // A literal block handed to `do` is run as plain code through the words.
                    if (i > 0 && is_do(cells + i - 1)) break;
                    walk(c);
                    break;
                case Type::paren:
                    walk(c);
                    break;
                case Type::path: case Type::get_path: {
                    // The head names what is called; the rest are field names or parens.
                    if (!seen.insert(series::node(c)).second) break;
                    Cell* e = series::buffer(c)->cells();
                    int32_t m = series::buffer_length(c);
                    if (m > 0 && e->is(Type::word)) rebind_word(e);
                    for (int32_t k = 0; k < m; ++k)
                        if (e[k].is(Type::paren)) walk(e + k);
                    break;
                }
                default:
                    break;
            }
        }
    }

    // Function bodies reached from a value: a function's own, and those of an object's fields.
    void visit(const Cell* v) {
        if (v->is(Type::function)) {
            Cell body = memory::buffer_of(function::series_of(v))->cells()[0];
            if (body.is(Type::block)) {
                walk(&body);
                interpreter::mark_library_code(&body);
            }
        } else if (v->is(Type::object)) {
            Ref ctx = object::context_of(v);
            if (!seen.insert(ctx).second) return;
            int32_t n = context::size_of(ctx);
            for (int32_t i = 0; i < n; ++i) {
                Cell* value = context::value_at(ctx, word::index_of(context::word_at(ctx, i)));
                if (value) visit(value);
            }
        }
    }
};

}  // namespace

void bind_direct_calls() {
    Ref global = context::global;
    int32_t words = context::size_of(global);
    Cell object;
    object::make_at(&object, words / 4);
    block::append(&block::root, &object);  // the copies live as long as the program
    Rebinder r{global, object::context_of(&object), {}, symbol::resolve(symbol::make("do")), {}};
    r.slot_of.assign(static_cast<size_t>(words), -1);
    for (int32_t i = 0; i < words; ++i) {
        Cell word = *context::word_at(global, i);
        int32_t slot = word.int3();
        if (slot < 0 || slot >= words || r.slot_of[static_cast<size_t>(slot)] >= 0) continue;
        Cell value = *context::value_at(global, slot);
        if (!function_value(&value)) continue;
        // Adding may move the global's word table too: nothing is held across it but copies.
        int32_t index = context::add_word(r.library, word.int2());
        index = word::index_of(context::word_at(r.library, index));
        *context::value_at(r.library, index) = value;
        r.slot_of[static_cast<size_t>(slot)] = index;
    }
    for (int32_t i = 0; i < words; ++i) {
        Cell* value = context::value_at(global, word::index_of(context::word_at(global, i)));
        if (value) r.visit(value);
    }
}

}  // namespace zuv::library
