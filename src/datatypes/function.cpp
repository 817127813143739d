// function!, routine!, native!, action! and op! values.
#include "datatypes/function.h"

#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv {

namespace {

using datatype::fn;

int32_t sym_of(const char* name) { return symbol::resolve(symbol::make(name)); }
bool is_sym(const Cell* c, const char* name) { return symbol::resolve(word::symbol_of(c)) == sym_of(name); }

// A copy of a block whose nested blocks, parens and paths are copied too (a block that holds
// itself keeps its reference).
Cell copy_deep(const Cell* source) {
    Cell src = *source;
    Cell copy = *block::clone(&src, true, true);
    stack::pop(1);
    copy.header = (source->header & ~header::type_mask) | static_cast<uint32_t>(source->type());
    return copy;
}

[[noreturn]] void bad_func_def(const Cell* c) { error::raise(error::id::script_bad_func_def, c); }

uint32_t attribute_flags(const Cell* block) {
    uint32_t flags = 0;
    int32_t n = series::length(const_cast<Cell*>(block));
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(block) + i;
        if (!c->is(Type::word)) return static_cast<uint32_t>(-1);
        if (is_sym(c, "trace")) flags |= function::flag::trace;
        else if (is_sym(c, "no-trace")) flags |= function::flag::no_trace;
    }
    return flags;
}

void check_type_block(const Cell* block) {
    int32_t n = series::length(const_cast<Cell*>(block));
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *(block::head(block) + i);
        if (c.is(Type::word)) {
            const Cell* v = (word::binding_of(&c) && word::index_of(&c) >= 0) ? context::get(&c) : nullptr;
            if (v && (v->is(Type::datatype) || v->is(Type::typeset))) continue;
        } else if (c.is(Type::datatype) || c.is(Type::typeset)) {
            continue;
        }
        error::raise(error::id::script_invalid_type_spec, &c);
    }
}

void check_duplicates(const Cell* spec) {
    int32_t n = series::length(const_cast<Cell*>(spec));
    for (int32_t i = 0; i < n; ++i) {
        Cell* a = block::head(spec) + i;
        Type t = a->type();
        if (t != Type::word && t != Type::lit_word && t != Type::get_word && t != Type::refinement) continue;
        for (int32_t j = 0; j < i; ++j) {
            Cell* b = block::head(spec) + j;
            Type u = b->type();
            if (u != Type::word && u != Type::lit_word && u != Type::get_word && u != Type::refinement) continue;
            if (symbol::resolve(word::symbol_of(a)) == symbol::resolve(word::symbol_of(b))) error::raise(error::id::script_dup_vars, a);
        }
    }
}

}  // namespace

namespace function {

uint32_t check_spec(const Cell* spec) {
    int32_t n = series::length(const_cast<Cell*>(spec));
    uint32_t flags = 0;
    int32_t i = 0;
    Cell* head = block::head(spec);
    if (n > 0 && head->is(Type::block)) {
        flags = attribute_flags(head);
        if (flags == static_cast<uint32_t>(-1)) bad_func_def(head);
        i = 1;
    }
    bool after_local = false;
    while (i < n) {
        Cell* c = block::head(spec) + i;
        switch (c->type()) {
            case Type::word: case Type::lit_word: case Type::get_word: {
                ++i;
                if (after_local) break;
                if (i < n && (block::head(spec) + i)->is(Type::string)) ++i;
                if (i < n && (block::head(spec) + i)->is(Type::block)) {
                    check_type_block(block::head(spec) + i);
                    ++i;
                }
                if (i < n && (block::head(spec) + i)->is(Type::string)) ++i;
                break;
            }
            case Type::set_word:
                if (!is_sym(c, "return") || i + 1 >= n || !(block::head(spec) + i + 1)->is(Type::block)) bad_func_def(c);
                check_type_block(block::head(spec) + i + 1);
                i += 2;
                break;
            case Type::refinement:
                if (is_sym(c, "local")) after_local = true;
                ++i;
                if (!after_local && i < n && (block::head(spec) + i)->is(Type::string)) ++i;
                break;
            case Type::string:
                if (after_local) bad_func_def(c);
                ++i;
                break;
            default:
                bad_func_def(c);
        }
        if (after_local && i < n) {
            Cell* w = block::head(spec) + i;
            if (!w->is(Type::word) && !w->is(Type::set_word)) bad_func_def(w);
        }
    }
    check_duplicates(spec);
    return flags;
}

Cell* push(const Cell* spec_in, const Cell* body_in, Ref context, uint32_t flags, Ref object) {
    Cell spec = *spec_in;
    if (series::head(&spec) != 0) {
        Cell s = copy_deep(&spec);
        spec = s;
    }
    Cell* spec_held = stack::push(&spec);
    Cell body = none::shared;
    if (body_in && body_in->is(Type::block)) body = copy_deep(body_in);
    Cell* body_held = stack::push(&body);
    // The context node is kept alive by this local until the function value holds it.
    if (!context) context = context::make_from_spec(spec_held, true, false, context::kind_function);
    if (body_held->is(Type::block)) context::bind(body_held, context, false);
    Ref fs = memory::alloc_cells(series_length);
    memory::SeriesBuffer* b = memory::buffer_of(fs);
    Cell* c = b->cells();
    c[0] = *body_held;
    c[1] = none::shared;
    cell::make(&c[2], Type::integer, 0, 0);
    c[3] = unset::shared;
    if (object) cell::make(&c[4], Type::integer, 0, object);
    else c[4] = unset::shared;
    b->tail = b->head + series_length * sizeof(Cell);
    Cell f;
    cell::make(&f, Type::function, context, series::node(spec_held), fs);
    f.header |= flags;
    *context::owner_of(context) = f;
    stack::pop(2);
    return stack::push(&f);
}

Cell argument_word(const Cell* fn, int32_t place) {
    Cell spec = spec_block(fn);
    int32_t n = series::buffer_length(&spec);
    int32_t local_sym = symbol::resolve(symbol::make("local"));
    int32_t seen = -1;
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::cell_at(&spec, i);
        switch (c->type()) {
            case Type::refinement:
                if (symbol::resolve(word::symbol_of(c)) == local_sym) return none::shared;
                [[fallthrough]];
            case Type::word: case Type::lit_word: case Type::get_word:
                if (++seen == place) {
                    Cell w = *c;
                    w.set_type(Type::word);
                    return w;
                }
                break;
            default:
                break;
        }
    }
    return none::shared;
}

// The locals of `function`: set-words of the body and the words of foreach, remove-each
// and repeat, unless they are arguments, refinements or excluded.
static void collect(const Cell* block, Cell* spec, Cell* excluded) {
    // A body that holds itself is walked once.
    if (cycle_stack::find(series::node(block))) return;
    cycle_stack::Scope scope;
    cycle_stack::push(series::node(block));
    int32_t n = series::length(const_cast<Cell*>(block));
    auto known = [&](int32_t sym) {
        for (Cell* list : {spec, excluded}) {
            int32_t m = series::length(list);
            for (int32_t i = 0; i < m; ++i) {
                Cell* c = block::head(list) + i;
                switch (c->type()) {
                    case Type::word: case Type::lit_word: case Type::get_word: case Type::refinement:
                        if (symbol::resolve(word::symbol_of(c)) == symbol::resolve(sym)) return true;
                        break;
                    default:
                        break;
                }
            }
        }
        return false;
    };
    auto add = [&](const Cell* w) {
        if (known(word::symbol_of(w))) return;
        Cell word = *w;
        word.set_type(Type::word);
        word.header &= ~header::new_line;
        block::append(spec, &word);
    };
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *(block::head(block) + i);
        switch (c.type()) {
            case Type::set_word:
                add(&c);
                break;
            case Type::word:
                if ((is_sym(&c, "foreach") || is_sym(&c, "remove-each") || is_sym(&c, "repeat")) && i + 1 < n) {
                    Cell next = *(block::head(block) + i + 1);
                    if (next.is(Type::word) || next.is(Type::lit_word)) add(&next);
                    else if (next.is(Type::block) && !is_sym(&c, "repeat")) {
                        int32_t m = series::length(&next);
                        for (int32_t k = 0; k < m; ++k) {
                            Cell w = *(block::head(&next) + k);
                            if (w.is(Type::word)) add(&w);
                        }
                    }
                }
                break;
            case Type::block: case Type::paren:
                collect(&c, spec, excluded);
                break;
            default:
                break;
        }
    }
}

void collect_locals(Cell* spec, const Cell* body) {
    // spec is a fresh copy, held by the caller.
    Cell excluded;
    block::make_at(&excluded, 4);
    Cell* ex = stack::push(&excluded);
    int32_t n = series::length(spec);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(spec) + i;
        if (c->is(Type::refinement) && is_sym(c, "extern")) {
            int32_t j = i + 1;
            for (; j < n; ++j) {
                Cell* w = block::head(spec) + j;
                if (w->is(Type::refinement)) break;
                if (!w->is(Type::word)) error::raise(error::id::script_bad_func_extern, w);
                block::append(ex, w);
            }
            // Remove /extern and its words from the spec.
            memory::SeriesBuffer* b = series::buffer(spec);
            Cell* from = b->cells() + series::head(spec) + i;
            Cell* to = b->cells() + series::head(spec) + j;
            std::memmove(from, to, static_cast<size_t>(b->cells_end() - to) * sizeof(Cell));
            b->tail -= static_cast<uint32_t>(j - i) * sizeof(Cell);
            break;
        }
    }
    bool has_local = false;
    n = series::length(spec);
    for (int32_t i = 0; i < n; ++i)
        if ((block::head(spec) + i)->is(Type::refinement) && is_sym(block::head(spec) + i, "local")) has_local = true;
    int32_t before = series::length(spec);
    if (!has_local) {
        Cell local;
        cell::make(&local, Type::refinement, 0, static_cast<uint32_t>(symbol::make("local")), static_cast<uint32_t>(-1));
        block::append(spec, &local);
    }
    collect(body, spec, ex);
    if (!has_local && series::length(spec) == before + 1) {
        // Nothing collected: no /local needed.
        series::buffer(spec)->tail -= sizeof(Cell);
    }
    stack::pop(1);
}

static Cell* make(Cell*, Cell* spec, int32_t) {
    if (!spec->is(Type::block) || series::length(spec) < 2 || !block::head(spec)->is(Type::block) ||
        !(block::head(spec) + 1)->is(Type::block))
        error::raise(error::id::script_bad_func_def, spec);
    Cell s = *block::head(spec), b = *(block::head(spec) + 1);
    uint32_t flags = check_spec(&s);
    return push(&s, &b, 0, flags, 0);
}

static Cell* reflect(Cell* f, int32_t field) {
    Cell r;
    if (symbol::resolve(field) == sym_of("spec")) {
        r = spec_block(f);
    } else if (symbol::resolve(field) == sym_of("body")) {
        r = series_cells(f)[0];
    } else if (symbol::resolve(field) == sym_of("words")) {
        Ref ctx = context_of(f);
        int32_t n = context::size_of(ctx);
        block::make_at(&r, n);
        Cell* held = stack::push(&r);
        for (int32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            w.set_type(Type::word);
            block::append(held, &w);
        }
        r = *held;
        stack::pop(1);
    } else {
        error::raise(error::id::internal_not_done);
    }
    *f = r;
    return f;
}

static int32_t form(Cell* f, Cell* buffer, Cell*, int32_t budget) {
    const char* text = f->is(Type::routine) ? "?routine?" : "?function?";
    string::append_ascii(buffer, text);
    return budget - static_cast<int32_t>(std::strlen(text));
}

static int32_t mold(Cell* f, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell spec = spec_block(f);
    if (f->is(Type::routine)) {
        string::append_ascii(buffer, "routine ");
        return actions::mold_dispatch(&spec, buffer, false, all, flat, part, budget - 8, indent);
    }
    string::append_ascii(buffer, "func ");
    budget = actions::mold_dispatch(&spec, buffer, false, all, flat, part, budget - 5, indent);
    Cell body = series_cells(f)[0];
    if (!body.is(Type::block)) {
        string::append_ascii(buffer, " none");
        return budget - 5;
    }
    string::append_ascii(buffer, " ");
    return actions::mold_dispatch(&body, buffer, false, all, flat, part, budget - 1, indent);
}

static int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (b->type() != a->type() || (op >= 3 && op <= 6)) return -2;
    // Functions are the same when they share their internal series; the node orders others.
    if (series_of(a) == series_of(b)) return 0;
    return series_of(a) < series_of(b) ? -1 : 1;
}

void init() {
    datatype::register_type(Type::function, {
        .make = make,
        .reflect = reflect,
        .form = form,
        .mold = mold,
        .compare = compare,
    });
}

}  // namespace function

namespace routine {

namespace {
std::vector<Entry> table;
}

int32_t register_entry(const Entry& entry) {
    table.push_back(entry);
    return static_cast<int32_t>(table.size());
}

const Entry* entry_at(int32_t index) {
    return index >= 1 && index <= static_cast<int32_t>(table.size()) ? &table[static_cast<size_t>(index - 1)] : nullptr;
}

void count_args(Cell* routine, const Cell* spec) {
    int32_t n = 0, count = series::length(const_cast<Cell*>(spec));
    for (int32_t i = 0; i < count; ++i) {
        Cell* c = block::head(const_cast<Cell*>(spec)) + i;
        if (c->is(Type::refinement)) break;
        if (c->is(Type::word)) ++n;
    }
    routine->header = (routine->header & ~arg_count_mask) | (static_cast<uint32_t>(n) << arg_count_shift);
}

Cell* push(const Cell* spec, int32_t entry, uint32_t flags, int32_t return_kind) {
    Cell* f = function::push(spec, nullptr, 0, flags, 0);
    f->set_type(Type::routine);
    Cell* c = function::series_cells(f);
    cell::make(&c[2], Type::integer, 0, static_cast<uint32_t>(entry));
    cell::make(&c[4], Type::integer, 0, static_cast<uint32_t>(return_kind));
    Cell s = function::spec_block(f);
    count_args(f, &s);
    *context::owner_of(function::context_of(f)) = *f;
    return f;
}

void init() {
    datatype::register_type(Type::routine, {
        .others = datatype::inherit,
    });
}

}  // namespace routine

// native!, action! and op! ----------------------------------------------------------------

namespace {

// [spec-block index] -> a native! or action! value.
Cell* make_builtin(Cell* proto, Cell* spec, int32_t type) {
    int32_t limit = type == static_cast<int32_t>(Type::native) ? natives::capacity : actions::count;
    Cell t;
    datatype::make_at(&t, type);
    if (!spec->is(Type::block) || series::length(spec) < 2 || !block::head(spec)->is(Type::block) ||
        !(block::head(spec) + 1)->is(Type::integer))
        error::raise(error::id::script_bad_make_arg, &t, spec);
    int32_t index = integer::get(block::head(spec) + 1);
    if (index < 1 || index > limit) error::raise(error::id::script_bad_make_arg, &t, spec);
    Cell s = *block::head(spec);
    Cell* spec_held = stack::push(&s);
    Ref ctx = context::make_from_spec(spec_held, true, false, context::kind_function);
    Ref series = memory::alloc_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(series);
    b->cells()[0] = *context::cell_of(ctx);
    b->cells()[1] = none::shared;
    b->tail = b->head + 2 * sizeof(Cell);
    Cell v;
    cell::make(&v, static_cast<Type>(type), static_cast<uint32_t>(index), series::node(spec_held), series);
    stack::pop(1);
    return stack::push(&v);
}

int32_t builtin_form(Cell* v, Cell* buffer, Cell*, int32_t budget) {
    const char* text = v->is(Type::native) ? "?native?" : v->is(Type::action) ? "?action?" : "?op?";
    string::append_ascii(buffer, text);
    return budget - static_cast<int32_t>(std::strlen(text));
}

int32_t builtin_mold(Cell* v, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                     int32_t indent) {
    Cell spec = function::spec_block(v);
    const char* prefix = v->is(Type::native) ? "make native! [" : v->is(Type::action) ? "make action! [" : "make op! [";
    string::append_ascii(buffer, prefix);
    budget = actions::mold_dispatch(&spec, buffer, false, all, flat, part, budget - static_cast<int32_t>(std::strlen(prefix)),
                                    indent);
    string::append_ascii(buffer, "]");
    return budget - 1;
}

int32_t builtin_compare(Cell* a, Cell* b, int32_t op) {
    if (a->type() != b->type()) return -2;
    int32_t x = function::number_of(a), y = function::number_of(b);
    return x == y ? 0 : (x < y ? -1 : 1);
}

Cell* builtin_reflect(Cell* v, int32_t field) {
    Cell r;
    if (symbol::resolve(field) == sym_of("spec")) {
        r = function::spec_block(v);
    } else if (symbol::resolve(field) == sym_of("body")) {
        cell::make(&r, Type::integer, 0, static_cast<uint32_t>(function::number_of(v)));
    } else if (symbol::resolve(field) == sym_of("words")) {
        // Cell 0 of the value's series is a copy of its context's context! cell.
        Ref words = hashtable::record_of(context::table_in(function::series_cells(v)))->series;
        int32_t n = static_cast<int32_t>(memory::buffer_of(words)->used_bytes() / sizeof(Cell));
        block::make_at(&r, n);
        Cell* held = stack::push(&r);
        for (int32_t i = 0; i < n; ++i) {
            Cell w = memory::buffer_of(words)->cells()[i];
            w.set_type(Type::word);
            block::append(held, &w);
        }
        r = *held;
        stack::pop(1);
    } else {
        error::raise(error::id::internal_not_done);
    }
    *v = r;
    return v;
}

}  // namespace

namespace op {

bool check_spec(const Cell* spec) {
    int32_t n = series::length(const_cast<Cell*>(spec));
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(spec) + i;
        switch (c->type()) {
            case Type::word:
                ++count;
                break;
            case Type::lit_word: case Type::get_word:
                if (count == 0) return false;
                ++count;
                break;
            case Type::set_word:
                i = n;
                break;
            case Type::refinement:
                if (!is_sym(c, "local") && !is_sym(c, "extern")) return false;
                i = n;
                break;
            default:
                break;
        }
    }
    return count == 2;
}

static Cell* make(Cell*, Cell* source, int32_t) {
    switch (source->type()) {
        case Type::native: case Type::action: case Type::function: case Type::routine: {
            Cell spec = function::spec_block(source);
            if (!check_spec(&spec)) error::raise(error::id::script_bad_op_spec);
            Cell v = *source;
            v.header = (static_cast<uint32_t>(source->type()) << 16) | static_cast<uint32_t>(Type::op);
            if (source->is(Type::function) || source->is(Type::routine)) function::series_cells(source)[3] = *source;
            return stack::push(&v);
        }
        default: {
            Cell t;
            datatype::make_at(&t, static_cast<int>(source->type()));
            error::raise(error::id::script_invalid_type, &t);
        }
    }
}

void init() {
    datatype::register_type(Type::op, {
        .make = make,
        .reflect = datatype::inherit,
        .form = builtin_form,
        .mold = builtin_mold,
        .compare = builtin_compare,
    });
}

}  // namespace op

namespace native {

void init() {
    datatype::register_type(Type::native, {
        .make = make_builtin,
        .reflect = builtin_reflect,
        .form = builtin_form,
        .mold = builtin_mold,
        .compare = builtin_compare,
    });
}

}  // namespace native

namespace action {

void init() {
    datatype::register_type(Type::action, {
        .others = datatype::inherit,
    });
}

}  // namespace action

}  // namespace zuv
