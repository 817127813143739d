// The word datatypes.
#include "datatypes/word.h"

#include "datatypes/context.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "memory/upcalls.h"

namespace zuv::word {

void make_at(Cell* c, int32_t symbol, Type t) {
    int32_t index = context::add_word(context::global, symbol);
    int32_t slot = context::word_at(context::global, index)->int3();
    cell::make(c, t, context::global, static_cast<uint32_t>(symbol), static_cast<uint32_t>(slot));
}

void make_unbound(Cell* c, int32_t symbol, Type t) {
    cell::make(c, t, t == Type::issue ? context::global : 0, static_cast<uint32_t>(symbol), static_cast<uint32_t>(-1));
}

Cell* push_new(int32_t symbol) {
    Cell w;
    make_at(&w, symbol);
    return stack::push(&w);
}

}  // namespace zuv::word

namespace zuv::words {

Cell* load(std::string_view name) { return context::add_global(symbol::make(name)); }

}  // namespace zuv::words

// The word datatypes' actions --------------------------------------------------------------

#include <cstring>

#include "datatypes/char.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "memory/datatype.h"

namespace zuv {

namespace {


// A symbol's name, appended as text within the budget.
int32_t form_name(int32_t sym, Cell* buffer, int32_t budget) {
    const char* name = symbol::name(sym);
    string::append_utf8(buffer, name);
    return budget - static_cast<int32_t>(std::strlen(name));
}

bool is_word_type(Type t) { return t >= Type::word && t <= Type::issue; }
bool is_plain_word(Type t) { return t >= Type::word && t <= Type::get_word; }

int32_t word_form(Cell* w, Cell* buffer, Cell*, int32_t budget) { return form_name(w->int2(), buffer, budget); }

template <char Prefix, char Suffix>
int32_t word_mold(Cell* w, Cell* buffer, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    if (Prefix) string::append_char(buffer, static_cast<uint32_t>(Prefix));
    budget = form_name(w->int2(), buffer, budget - (Prefix ? 1 : 0));
    if (Suffix) string::append_char(buffer, static_cast<uint32_t>(Suffix));
    return budget - (Suffix ? 1 : 0);
}

int32_t compare_names(const Cell* a, const Cell* b, int32_t op) {
    Cell sa, sb;
    string::make_at(&sa, 16);
    Cell* ha = stack::push(&sa);
    string::append_utf8(ha, symbol::name(a->int2()));
    string::make_at(&sb, 16);
    Cell* hb = stack::push(&sb);
    string::append_utf8(hb, symbol::name(b->int2()));
    int32_t r = actions::compare_dispatch(ha, hb, op);
    stack::pop(2);
    return r;
}

int32_t word_compare(Cell* a, Cell* b, int32_t op) {
    if (!is_word_type(b->type())) return -2;
    if ((b->is(Type::issue)) != (a->is(Type::issue))) return -2;
    auto same_resolved = [&] { return symbol::resolve(word::symbol_of(a)) == symbol::resolve(word::symbol_of(b)); };
    switch (op) {
        case 9:
            return (word::symbol_of(a) == word::symbol_of(b) && word::binding_of(a) == word::binding_of(b) && a->type() == b->type()) ? 0 : 1;
        case 2:
            return (a->type() == b->type() && word::symbol_of(a) == word::symbol_of(b)) ? 0 : 1;
        case 10: {
            bool wl = (a->is(Type::word) && b->is(Type::lit_word)) || (a->is(Type::lit_word) && b->is(Type::word));
            if (wl) return word::symbol_of(a) == word::symbol_of(b) ? 0 : 1;
            return (a->type() == b->type() && word::symbol_of(a) == word::symbol_of(b)) ? 0 : 1;
        }
        case 11: {
            bool wl = (a->is(Type::word) && b->is(Type::lit_word)) || (a->is(Type::lit_word) && b->is(Type::word));
            if (wl) return same_resolved() ? 0 : 1;
            return (a->type() == b->type() && same_resolved()) ? 0 : 1;
        }
        case 0: case 1: case 12:
            return same_resolved() ? 0 : 1;
        default:
            return compare_names(a, b, op);
    }
}

Cell* word_make(Cell* proto, Cell* spec, int32_t type) {
    Type t = static_cast<Type>(type);
    Cell r;
    switch (spec->type()) {
        case Type::datatype:
            word::make_at(&r, symbol::make(datatype::records[datatype::id_of(spec)].name), t);
            break;
        case Type::logic:
            word::make_at(&r, symbol::make(logic::get(spec) ? "true" : "false"), t);
            break;
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            r = *spec;
            r.set_type(t);
            break;
        case Type::refinement: case Type::issue: {
            // The name must scan as a word: #12 names no word.
            Cell* name = string::push_new(8);
            string::append_utf8(name, symbol::name(spec->int2()));
            Cell v = upcall::calls.load_value(name);
            stack::pop(1);
            if (!is_plain_word(v.type())) {
                Cell type_cell;
                datatype::make_at(&type_cell, type);
                error::raise(error::id::script_bad_to_arg, &type_cell, spec);
            }
            word::make_at(&r, spec->int2(), t);
            break;
        }
        case Type::string: case Type::char_: {
            // The text is loaded as one value, which must be a word of some kind.
            Cell* text = spec;
            if (spec->is(Type::char_)) {
                text = string::push_new(2);
                string::append_char(text, static_cast<uint32_t>(spec->int2()));
            }
            Cell v = upcall::calls.load_value(text);
            if (text != spec) stack::pop(1);
            if (!is_word_type(v.type())) error::raise(error::id::script_invalid_chars, spec);
            word::make_at(&r, v.int2(), t);
            break;
        }
        default: {
            Cell type_cell;
            datatype::make_at(&type_cell, type);
            error::raise(error::id::script_bad_to_arg, &type_cell, spec);
        }
    }
    r.header &= ~header::new_line;
    *proto = r;
    return proto;
}

Cell* word_index(Cell* w) {
    if (word::index_of(w) < 0) *w = none::shared;
    else cell::make(w, Type::integer, 0, static_cast<uint32_t>(word::index_of(w) + 1));
    return w;
}

Cell* issue_make(Cell* proto, Cell* spec, int32_t type) {
    Cell r;
    if (is_word_type(spec->type())) {
        word::make_unbound(&r, spec->int2(), Type::issue);
    } else if (spec->is(Type::string)) {
        word::make_unbound(&r, symbol::make(string::to_utf8(spec)), Type::issue);
    } else if (spec->is(Type::char_)) {
        Cell s;
        string::make_at(&s, 4);
        Cell* h = stack::push(&s);
        string::append_char(h, char_::code_of(spec));
        word::make_unbound(&r, symbol::make(string::to_utf8(h)), Type::issue);
        stack::pop(1);
    } else {
        word_make(proto, spec, static_cast<int32_t>(Type::word));
        r = *proto;
        r.set_type(Type::issue);
        word::set_index(&r, -1);
    }
    *proto = r;
    return proto;
}

int32_t symbol_compare(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::symbol)) return -2;
    Cell wa = *a, wb = *b;
    return compare_names(&wa, &wb, op);
}

}  // namespace

namespace symbol {
void init() {
    datatype::register_type(Type::symbol, {
        .compare = symbol_compare,
    });
}
}  // namespace symbol

namespace context {
void init() {
    datatype::register_type(Type::context, {});
}
}  // namespace context

namespace word {
void init() {
    datatype::register_type(Type::word, {
        .make = word_make,
        .to = word_make,
        .form = word_form,
        .mold = word_mold<0, 0>,
        .compare = word_compare,
        .index_q = word_index,
    });
}
}  // namespace word

#define ZUV_WORD_KIND(ns, pre, post)                                                                  \
    namespace ns {                                                                                      \
    void init() { datatype::register_type(Type::ns, {.others = datatype::inherit, .mold = word_mold<pre, post>}); } \
    }

ZUV_WORD_KIND(set_word, 0, ':')
ZUV_WORD_KIND(lit_word, '\'', 0)
ZUV_WORD_KIND(get_word, ':', 0)
ZUV_WORD_KIND(refinement, '/', 0)

namespace issue {
void init() {
    datatype::register_type(Type::issue, {
        .others = datatype::inherit,
        .make = issue_make,
        .to = issue_make,
        .mold = word_mold<'#', 0>,
        .compare = word_compare,
    });
}
}  // namespace issue

}  // namespace zuv

// Start-up vocabulary -----------------------------------------------------------------------

namespace zuv::words {

void init_type_words() {
    for (int id = 1; id <= type_count; ++id) {
        datatype::TypeRecord& r = datatype::records[id];
        if (!r.name) continue;
        Cell* w = context::add_global(symbol::make(r.name));
        r.word = *w;
        Cell v;
        datatype::make_at(&v, id);
        context::set(w, &v);
    }
}

}  // namespace zuv::words
