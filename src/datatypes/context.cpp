// Contexts: word tables with parallel value slots; lookup, addition, get, set and binding.
#include "datatypes/context.h"

#include "datatypes/block.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/collector.h"
#include "memory/cycle-stack.h"
#include "memory/hashtable.h"
#include "memory/stack.h"
#include "runtime/system.h"

namespace zuv::context {

Ref global = 0;
GlobalValues global_values{};

namespace {

using memory::buffer_of;


Cell* values_base(Ref ctx) {
    Cell* c = cell_of(ctx);
    if (!values_node_in(c)) return nullptr;
    return values_of(c);
}

}  // namespace

Cell* (*on_change_hook)(Cell* word, Cell* slot, const Cell* value, Ref ctx) = nullptr;

void make_global() {
    global = create(4000, false, false, nullptr, kind_global);
    collector::add_root_node(&global);
}

Ref create(int32_t size, bool on_stack_values, bool self, const Cell* prototype, Kind kind) {
    if (size <= 0) size = 1;
    Ref ctx = memory::alloc_cells(2);
    memory::SeriesBuffer* b = buffer_of(ctx);
    Cell* c = b->cells();
    cell::make(c, Type::context);
    cell::make(c + 1, Type::unset);
    b->tail = b->head + 2 * sizeof(Cell);
    Ref table;
    if (prototype) {
        Cell source;
        cell::make(&source, Type::context, table_in(prototype));
        table = hashtable::make(size, &source, hashtable::kind_words, 2);
    } else {
        table = hashtable::make(size, nullptr, hashtable::kind_words, 2);
    }
    c = cell_of(ctx);
    set_table_in(c, table);
    uint32_t header = static_cast<uint32_t>(Type::context) | (static_cast<uint32_t>(kind) << bit::kind_shift);
    if (on_stack_values) header |= bit::stack_values;
    if (self) header |= bit::has_self;
    c->header = header;
    if (!on_stack_values) {
        Ref values = memory::alloc_cells(size);
        c = cell_of(ctx);
        set_values_node_in(c, values);
        if (prototype) {
            // Room for the prototype's words, unset until the caller fills them.
            int32_t n = size_of(ctx);
            memory::SeriesBuffer* vb = buffer_of(values);
            for (int32_t i = 0; i < n; ++i) series::alloc_tail_cell(vb), vb = buffer_of(values);
        }
    }
    return ctx;
}

Ref make_from_spec(const Cell* spec_in, bool on_stack_values, bool self, Kind kind) {
    Cell spec = *spec_in;
    int32_t n = series::length(&spec);
    Ref ctx = create(n, on_stack_values, self, nullptr, kind);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(&spec) + i;
        switch (c->type()) {
            case Type::word: case Type::lit_word: case Type::get_word: case Type::refinement: {
                int32_t sym = word::symbol_of(c);
                if (find_word(ctx, sym, true) < 0) add_word(ctx, sym);
                break;
            }
            default:
                break;
        }
    }
    return ctx;
}

Cell* value_at(Ref ctx, int32_t index) {
    Cell* v = values_base(ctx);
    return v ? v + index : nullptr;
}

int32_t find_word(Ref ctx, int32_t symbol, bool case_insensitive) {
    int32_t index = -1;
    return hashtable::find_word(table_of(ctx), symbol, case_insensitive, 0, &index);
}

int32_t add_word(Ref ctx, int32_t symbol) {
    int32_t index = -1;
    int32_t found = hashtable::find_word(table_of(ctx), symbol, true, ctx, &index);
    if (found >= 0) return found;
    Cell* c = cell_of(ctx);
    if (!on_stack(c) && values_node_in(c)) {
        Ref values = values_node_in(c);
        series::alloc_tail_cell(buffer_of(values));
    }
    return index;
}

void add_with_value(Ref ctx, int32_t symbol, const Cell* value) {
    Cell copy = *value;
    int32_t before = size_of(ctx);
    int32_t index = add_word(ctx, symbol);
    if (size_of(ctx) == before) return;
    *value_at(ctx, index) = copy;
}

Cell* add_global_word(int32_t symbol, bool case_flag, bool keep_spelling) {
    int32_t index = -1;
    int32_t found = hashtable::find_word(table_of(global), symbol, case_flag, global, &index);
    if (found < 0) {
        found = index;
        series::alloc_tail_cell(buffer_of(values_node(global)));
        // A case variant of a word already there shares that word's value.
        int32_t canonical = symbol::resolve(symbol);
        if (canonical != symbol) {
            int32_t ignored = -1;
            int32_t c = hashtable::find_word(table_of(global), canonical, false, 0, &ignored);
            if (c >= 0) word::set_index(word_at(global, found), c);
        }
    }
    Cell* w = word_at(global, found);
    if (runtime::startup_mode) {
        Cell copy = *w;
        if (keep_spelling) word::set_symbol(&copy, symbol);
        return block::append(&block::root, &copy);
    }
    if (keep_spelling && word::symbol_of(w) != symbol) {
        Cell copy = *w;
        word::set_symbol(&copy, symbol);
        return stack::push(&copy);
    }
    return w;
}

Cell* add_global(int32_t symbol) { return add_global_word(symbol, true, false); }

Cell* get_slow(const Cell* word) {
    Ref ctx = word::binding_of(word);
    int32_t index = word::index_of(word);
    if (index < 0) {
        if (ctx && collector::self_symbol && static_cast<uint32_t>(word::symbol_of(word)) == collector::self_symbol) return owner_of(ctx);
        error::raise(error::id::script_no_value, word);
    }
    Cell* v = ctx ? values_base(ctx) : nullptr;
    if (!v) error::raise(error::id::script_not_in_context, word);
    return v + index;
}

Cell* get_value_slot(int32_t symbol, Ref ctx) {
    if (on_stack(cell_of(ctx))) ctx = global;
    int32_t i = find_word(ctx, symbol, true);
    if (i < 0) return nullptr;
    return value_at(ctx, i);
}

Cell* set_in(Cell* word, const Cell* value, Ref ctx, bool fire) {
    Cell copy = *value;
    int32_t index = word::index_of(word);
    if (index < 0) {
        index = find_word(ctx, word::symbol_of(word), false);
        if (index < 0) index = add_word(ctx, word::symbol_of(word));
        index = word::index_of(word_at(ctx, index));
        word::set_index(word, index);
    }
    Cell* c = cell_of(ctx);
    if (!values_node_in(c)) error::raise(error::id::script_not_defined, word);
    Cell* slot = values_base(ctx) + index;
    if (kind_of(c) == kind_object) {
        word_at(ctx, index)->header |= bit::applied;
        if (fire && on_change_hook) return on_change_hook(word, slot, &copy, ctx);
    }
    *slot = copy;
    return slot;
}

int32_t bind_word(Ref ctx, Cell* word) {
    int32_t i = find_word(ctx, word::symbol_of(word), true);
    if (i < 0) return -1;
    // A case variant in the global context shares its canonical word's slot.
    i = word::index_of(word_at(ctx, i));
    word::bind_to(word, ctx, i);
    return i;
}

void bind(Cell* block, Ref ctx, bool self) {
    Ref node = series::node(block);
    if (cycle_stack::find(node)) return;
    cycle_stack::push(node);
    int32_t n = series::length(block);
    for (int32_t i = 0; i < n; ++i) {
        // Binding allocates nothing, so the address stays valid through the walk.
        Cell* c = memory::buffer_of(node)->cells() + block->int1() + i;
        switch (c->type()) {
            case Type::block: case Type::paren: case Type::hash: case Type::path:
            case Type::lit_path: case Type::set_path: case Type::get_path:
                bind(c, ctx, self);
                break;
            case Type::word:
                if (self && collector::self_symbol && symbol::resolve(word::symbol_of(c)) ==
                                                          symbol::resolve(static_cast<int32_t>(collector::self_symbol))) {
                    word::bind_to(c, ctx, -1);
                    break;
                }
                [[fallthrough]];
            case Type::set_word: case Type::lit_word: case Type::get_word: case Type::refinement:
                bind_word(ctx, c);
                break;
            default:
                break;
        }
    }
    cycle_stack::pop();
}

bool collect_set_words(Ref ctx, Cell* block) {
    int32_t before = size_of(ctx);
    int32_t n = series::length(block);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(block) + i;
        if (c->is(Type::set_word)) add_word(ctx, word::symbol_of(c));
    }
    return size_of(ctx) != before;
}

}  // namespace zuv::context
