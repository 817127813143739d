// object!: making, copying, constructing, path access, reflection, molding and the change
// handlers.
#include "datatypes/object.h"

#include "datatypes/path.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "memory/upcalls.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/function.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/action-types.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/ownership.h"
#include "memory/stack.h"

namespace zuv::object {

uint32_t class_counter = 0;

namespace {


int32_t sym(const char* name) { return symbol::resolve(symbol::make(name)); }
bool is_word_type(Type t) { return t >= Type::word && t <= Type::issue; }

// The handler slots of a record: index << 16 | local count, 0xFFFF << 16 when absent.
constexpr uint32_t absent = 0xFFFF0000;

bool series_copied_by_make(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path: case Type::set_path:
        case Type::get_path: case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref: case Type::binary: case Type::vector: case Type::image: case Type::hash:
            return true;
        default:
            return false;
    }
}

// A copy of a series value through its datatype's copy action.
void copy_series(Cell* v, bool deep = false, Cell* types = nullptr) {
    auto f = reinterpret_cast<slotfn::Copy>(datatype::action_of(v->type(), datatype::slot::copy));
    if (!f) return;
    Cell* held = stack::push(v);
    Cell* r = f(held, held, nullptr, deep, types);
    *v = *r;
    stack::pop(1);
}

// A function value re-made with its body copied and bound to another context.
void remake_function(Cell* f, Ref ctx) {
    Cell spec = function::spec_block(f);
    Cell body = function::series_cells(f)[0];
    Cell* made = function::push(&spec, &body, 0, f->header & ~header::type_mask & ~header::new_line, 0);
    Cell made_copy = *made;
    if (body.is(Type::block)) {
        Cell new_body = function::series_cells(&made_copy)[0];
        context::bind(&new_body, ctx, true);
    }
    *f = made_copy;
    stack::pop(1);
}

void clear_applied(Ref ctx) {
    int32_t n = context::size_of(ctx);
    for (int32_t i = 0; i < n; ++i) context::word_at(ctx, i)->header &= ~context::bit::applied;
}

void clear_new_lines(Ref ctx) {
    int32_t n = context::size_of(ctx);
    Cell* v = context::block_values(ctx);
    for (int32_t i = 0; i < n; ++i) v[i].header &= ~header::new_line;
}

int32_t local_count(const Cell* handler) {
    Cell spec = function::spec_block(handler);
    int32_t n = series::length(&spec);
    int32_t local = sym("local");
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(&spec) + i;
        if (c->is(Type::refinement) && symbol::resolve(c->int2()) == local) return n - i;
    }
    return 0;
}

// Calls a handler function with the given arguments, in a frame named by its word.
void call_handler(const Cell* handler, const Cell* name, const Cell* args, int n, uint32_t kind) {
    Cell result;
    upcall::calls.apply(handler, name, args, n, &result, nullptr, kind);
}

bool same_node(const Cell* a, const Cell* b) {
    if (a->type() == Type::object || b->type() == Type::object) return a->type() == b->type() && context_of(a) == context_of(b);
    return series::node(a) && series::node(a) == series::node(b) && block::family_q(a->type()) == block::family_q(b->type());
}

// An object that watches its series (on-deep-change*) without an on-change* of its own has
// nobody else to keep its ownership current when a field is set: the old value leaves it,
// unless another field still holds it, and the new value joins it under the field's word.
void pass_ownership(const Cell* object_in, const Cell* word, const Cell* old_in) {
    Cell object = *object_in, old = *old_in;
    Ref ctx = context_of(&object);
    int32_t i = context::find_word(ctx, word->int2(), true);
    if (i < 0) return;
    int32_t slot = context::word_at(ctx, i)->int3();
    if (!same_node(&old, context::block_values(ctx) + slot)) {
        ownership::release(&old, &object);
        int32_t n = context::size_of(ctx);
        for (int32_t j = 0; j < n; ++j) {
            Cell other = *context::word_at(ctx, j);
            if (j != i && same_node(&old, context::block_values(ctx) + other.int3())) ownership::set(context::block_values(ctx) + other.int3(), &object, &other);
        }
    }
    Cell field = *context::word_at(ctx, i);
    ownership::set(context::block_values(ctx) + slot, &object, &field);
}

}  // namespace

uint32_t new_class_id() { return ++class_counter; }

void refresh_owner(const Cell* object) { *context::owner_of(context_of(object)) = *object; }

void make_at(Cell* c, int32_t size) {
    Ref ctx = context::create(size, false, true, nullptr, context::kind_object);
    cell::make(c, Type::object, ctx, 0, 0);
    refresh_owner(c);
}

Cell* push(Ref ctx, uint32_t class_id, Ref record) {
    Cell o;
    cell::make(&o, Type::object, ctx, class_id, record);
    refresh_owner(&o);
    return stack::push(&o);
}

Cell* push_global_context() { return push(context::global, static_cast<uint32_t>(-1), 0); }

Cell* get_word(Ref ctx, int32_t index) { return context::word_at(ctx, index); }

int32_t word_count(const Cell* object) { return context::size_of(context_of(object)); }

int32_t find_index(const Cell* object, int32_t symbol) { return context::find_word(context_of(object), symbol, true); }

Cell* find_value(const Cell* object, int32_t symbol) {
    int32_t i = find_index(object, symbol);
    if (i < 0) return const_cast<Cell*>(&none::shared);
    return context::block_values(context_of(object)) + context::word_at(context_of(object), i)->int3();
}

Cell* system_field(std::initializer_list<const char*> path) {
    Cell* v = context::get_value_slot(symbol::make("system"), context::global);
    for (const char* name : path) {
        if (!v || !v->is(Type::object)) return nullptr;
        Cell holder = *v;
        int32_t symbol = symbol::make(name);  // may intern, and so allocate
        v = find_value(&holder, symbol);
    }
    return v;
}

void copy_value(Cell* v, Ref ctx) {
    if (series_copied_by_make(v->type())) {
        copy_series(v);
        if (v->is(Type::block) || v->is(Type::paren)) context::bind(v, ctx, true);
    } else if (v->is(Type::function)) {
        remake_function(v, ctx);
    }
}

void build_record(Cell* object) {
    Ref ctx = context_of(object);
    int32_t change = context::find_word(ctx, symbol::make("on-change*"), true);
    int32_t deep = context::find_word(ctx, symbol::make("on-deep-change*"), true);
    if (change < 0 && deep < 0) {
        set_record(object, 0);
        refresh_owner(object);
        return;
    }
    uint32_t words[2] = {absent, absent};
    Ref specs[2] = {0, 0};
    int32_t indexes[2] = {change, deep};
    for (int k = 0; k < 2; ++k) {
        if (indexes[k] < 0) continue;
        Cell* h = context::block_values(ctx) + indexes[k];
        if (!h->is(Type::function) && !h->is(Type::routine)) {
            Cell w = *context::word_at(ctx, indexes[k]);
            Cell t;
            datatype::make_at(&t, static_cast<int>(h->type()));
            error::raise(error::id::script_bad_field_set, &w, &t);
        }
        words[k] = (static_cast<uint32_t>(indexes[k]) << 16) | static_cast<uint32_t>(local_count(h));
        specs[k] = function::spec_of(h);
    }
    Ref record = memory::alloc_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(record);
    cell::make(&b->cells()[0], Type::pair, 0, words[0], specs[0]);
    cell::make(&b->cells()[1], Type::pair, 0, words[1], specs[1]);
    b->tail = b->head + 2 * sizeof(Cell);
    set_record(object, record);
    refresh_owner(object);
    if (deep >= 0) ownership::own_fields(object);
}

void make(const Cell* prototype_in, const Cell* spec_in, Cell* out) {
    Cell proto = prototype_in ? *prototype_in : none::shared;
    Cell spec = *spec_in;
    Cell* spec_held = stack::push(&spec);
    Cell obj;
    bool from_prototype = proto.is(Type::object);
    if (from_prototype) {
        Cell proto_ctx = *context::cell_of(context_of(&proto));
        Ref ctx = context::create(context::size_of(context_of(&proto)), false, true, &proto_ctx, context::kind_object);
        cell::make(&obj, Type::object, ctx, class_of(&proto), 0);
        int32_t n = context::size_of(ctx);
        Cell* held = stack::push(&obj);
        for (int32_t i = 0; i < n; ++i) {
            Cell v = context::block_values(context_of(&proto))[i];
            Cell* vh = stack::push(&v);
            copy_value(vh, context_of(held));
            context::block_values(context_of(held))[i] = *vh;
            stack::pop(1);
        }
        obj = *held;
        stack::pop(1);
    } else {
        make_at(&obj, 4);
    }
    Cell* held = stack::push(&obj);
    refresh_owner(held);
    Ref ctx = context_of(held);
    bool added = false;
    if (spec_held->is(Type::object)) {
        int32_t n = context::size_of(context_of(spec_held));
        for (int32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(context_of(spec_held), i);
            int32_t before = context::size_of(ctx);
            int32_t index = context::add_word(ctx, w.int2());
            if (context::size_of(ctx) != before) added = true;
            Cell v = context::block_values(context_of(spec_held))[i];
            Cell* vh = stack::push(&v);
            copy_value(vh, ctx);
            context::block_values(ctx)[index] = *vh;
            stack::pop(1);
        }
        if (added || !from_prototype) set_class(held, new_class_id());
    } else if (spec_held->is(Type::block)) {
        added = context::collect_set_words(ctx, spec_held);
        context::bind(spec_held, ctx, true);
        upcall::calls.run_body(spec_held);
        if (*upcall::calls.pending) return;
        stack::unwind();
        stack::pop(1);
        clear_applied(ctx);
        clear_new_lines(ctx);
        if (added || !from_prototype) set_class(held, new_class_id());
    } else {
        error::raise(error::id::syntax_malconstruct, spec_held);
    }
    build_record(held);
    *out = *held;
    refresh_owner(out);
}

void construct(const Cell* block_in, const Cell* prototype, Cell* out, bool only) {
    Cell block = *block_in;
    Cell* bh = stack::push(&block);
    Cell obj;
    if (prototype && prototype->is(Type::object)) {
        Cell proto = *prototype;
        make(&proto, &proto, &obj);  // a copy of the prototype's fields
    } else {
        make_at(&obj, 4);
    }
    Cell* held = stack::push(&obj);
    Ref ctx = context_of(held);
    int32_t n = series::length(bh);
    int32_t t = sym("true"), y = sym("yes"), on = sym("on"), f = sym("false"), no = sym("no"), off = sym("off"),
            none_sym = sym("none");
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(bh) + i;
        if (!c->is(Type::set_word)) continue;
        int32_t index = context::add_word(ctx, c->int2());
        Cell v = i + 1 < n ? *(block::head(bh) + i + 1) : none::shared;
        int32_t j = i + 1;
        while (v.is(Type::set_word) && j + 1 < n) v = *(block::head(bh) + ++j);
        if (v.is(Type::word) && !only) {
            int32_t s = symbol::resolve(v.int2());
            if (s == t || s == y || s == on) v = logic::shared_true;
            else if (s == f || s == no || s == off) v = logic::shared_false;
            else if (s == none_sym) v = none::shared;
        }
        v.header &= ~header::new_line;
        context::block_values(ctx)[context::word_at(ctx, index)->int3()] = v;
    }
    set_class(held, new_class_id());
    build_record(held);
    *out = *held;
}

void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value) {
    if (!record_of(object)) return;
    Cell* rec = memory::buffer_of(record_of(object))->cells();
    uint32_t w = handler_slot(&rec[0]);
    if ((w & absent) == absent) {
        if ((handler_slot(&rec[1]) & absent) != absent) pass_ownership(object, word, old_value);
        return;
    }
    int32_t index = static_cast<int32_t>(w >> 16);
    Cell handler = context::block_values(context_of(object))[index];
    if (!handler.is(Type::function)) error::raise(error::id::script_invalid_obj_evt, &handler);
    Cell name = *context::word_at(context_of(object), index);
    name.set_type(Type::word);
    Cell args[3] = {*word, *old_value, *new_value};
    args[0].set_type(Type::word);
    call_handler(&handler, &name, args, 3, upcall::callback::change);
}

namespace {

// The set engine's notification for words of an object context: the value is stored first,
// then the owner's on-change* sees the word (bound to the object), the old and the new value.
Cell* set_and_notify(Cell* word, Cell* slot, const Cell* value, Ref ctx) {
    Cell nv = *value;
    Cell owner = *context::owner_of(ctx);
    bool objectlike = owner.is(Type::object) || owner.is(Type::error) || owner.is(Type::port);
    if (!objectlike || !record_of(&owner)) {
        *slot = nv;
        return slot;
    }
    int32_t index = static_cast<int32_t>(slot - context::block_values(ctx));
    Cell old = *slot;
    *slot = nv;
    Cell w = word::binding_of(word) == ctx ? *word : *context::word_at(ctx, index);
    w.header &= ~(context::bit::applied | header::new_line);
    fire_on_change(&owner, &w, &old, &nv);
    return context::value_at(ctx, index);  // the handler may have moved the values
}

}  // namespace

void fire_on_deep_change(const Cell* object, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part) {
    if (!record_of(object)) return;
    Cell* rec = memory::buffer_of(record_of(object))->cells();
    uint32_t w = handler_slot(&rec[1]);
    if ((w & absent) == absent) return;
    int32_t i = static_cast<int32_t>(w >> 16);
    Cell handler = context::block_values(context_of(object))[i];
    if (!handler.is(Type::function)) error::raise(error::id::script_invalid_obj_evt, &handler);
    Cell name = *context::word_at(context_of(object), i);
    name.set_type(Type::word);
    Cell args[7];
    args[0] = *object;
    args[1] = *word;
    args[2] = *target;
    args[3] = *action;
    args[4] = *new_value;
    cell::make(&args[5], Type::integer, 0, static_cast<uint32_t>(index));
    cell::make(&args[6], Type::integer, 0, static_cast<uint32_t>(part));
    call_handler(&handler, &name, args, 7, upcall::callback::deep);
}

// Actions -----------------------------------------------------------------------------------

namespace {

Cell* a_make(Cell* proto, Cell* spec, int32_t type) {
    Cell out;
    if (proto->is(Type::object)) make(proto, spec, &out);
    else make(nullptr, spec, &out);
    *proto = out;
    return proto;
}

int32_t mold_fields(Cell* obj, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Ref ctx = context_of(obj);
    int32_t n = context::size_of(ctx);
    for (int32_t i = 0; i < n; ++i) {
        if (part && budget < 1) break;
        Cell w = *context::word_at(ctx, i);
        if (!flat) {
            string::append_ascii(buffer, "\n");
            --budget;
            for (int32_t k = 0; k < indent; ++k) string::append_ascii(buffer, "    ");
            budget -= 4 * indent;
        } else if (i > 0) {
            string::append_ascii(buffer, " ");
            --budget;
        }
        string::append_utf8(buffer, symbol::name(w.int2()));
        string::append_ascii(buffer, ": ");
        budget -= static_cast<int32_t>(std::strlen(symbol::name(w.int2()))) + 2;
        Cell v = context::block_values(ctx)[w.int3()];
        Cell* vh = stack::push(&v);
        if (v.is(Type::word)) {
            string::append_ascii(buffer, "'");
            --budget;
        }
        budget = actions::mold_dispatch(vh, buffer, false, all, flat, part, budget, indent);
        stack::pop(1);
    }
    return budget;
}

int32_t a_mold(Cell* obj, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (cycle_stack::find(context_of(obj))) {
        string::append_ascii(buffer, "make object! [...]");
        return budget - 18;
    }
    cycle_stack::push(context_of(obj));
    if (!only) {
        string::append_ascii(buffer, "make object! [");
        budget -= 14;
    }
    budget = mold_fields(obj, buffer, only, all, flat, part, budget, only ? indent : indent + 1);
    if (!only) {
        if (!flat && context::size_of(context_of(obj)) > 0) {
            string::append_ascii(buffer, "\n");
            for (int32_t k = 0; k < indent; ++k) string::append_ascii(buffer, "    ");
            budget -= 1 + 4 * indent;
        }
        string::append_ascii(buffer, "]");
        --budget;
    }
    cycle_stack::pop();
    return budget;
}

int32_t a_form(Cell* obj, Cell* buffer, Cell* part, int32_t budget) {
    if (cycle_stack::find(context_of(obj))) {
        string::append_ascii(buffer, "...");
        return budget - 3;
    }
    cycle_stack::push(context_of(obj));
    Ref ctx = context_of(obj);
    int32_t n = context::size_of(ctx);
    for (int32_t i = 0; i < n; ++i) {
        if (part && budget < 1) break;
        Cell w = *context::word_at(ctx, i);
        if (i > 0) {
            string::append_ascii(buffer, "\n");
            --budget;
        }
        string::append_utf8(buffer, symbol::name(w.int2()));
        string::append_ascii(buffer, ": ");
        budget -= static_cast<int32_t>(std::strlen(symbol::name(w.int2()))) + 2;
        Cell v = context::block_values(ctx)[w.int3()];
        Cell* vh = stack::push(&v);
        budget = actions::mold_dispatch(vh, buffer, true, false, false, part, budget, 0);
        stack::pop(1);
    }
    cycle_stack::pop();
    return budget;
}

// Where path access found a field, by context and symbol: a path's element is a copy, so
// its binding cannot keep the answer. An entry is trusted only when the word table still has
// that symbol at that position (a context's words keep their places, and an object holds
// one spelling of a word), so a context made anew on a freed node is answered rightly too.
struct FieldSlot {
    Ref ctx;
    int32_t symbol;
    int32_t position;
};
FieldSlot field_slots[512];

// The words of a context, once looked up, with what the field cache checks against them.
struct Words {
    const Cell* cells;
    int32_t count;
    explicit Words(Ref ctx) {
        const memory::SeriesBuffer* b = memory::buffer_of(context::words_of(ctx));
        cells = b->cells();
        count = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
    }
};

FieldSlot& field_slot(Ref ctx, int32_t symbol) {
    return field_slots[((ctx >> 4) ^ (static_cast<uint32_t>(symbol) * 2654435761u >> 20)) & 511];
}

int32_t find_field(Ref ctx, int32_t symbol) {
    FieldSlot& s = field_slot(ctx, symbol);
    if (s.ctx == ctx && s.symbol == symbol) {
        Words words(ctx);
        if (s.position < words.count && words.cells[s.position].int2() == symbol) return s.position;
    }
    int32_t i = context::find_word(ctx, symbol, true);
    if (i >= 0) s = {ctx, symbol, i};
    return i;
}

// The index of a word's field among the object's values, or -1.
int32_t value_index(Ref ctx, const Cell* word) {
    if (word::binding_of(word) == ctx && word::index_of(word) >= 0) return word::index_of(word);
    int32_t symbol = word->int2();
    // The field cache's answer read from the one lookup of the words, as find_field checks it.
    FieldSlot& s = field_slot(ctx, symbol);
    if (s.ctx == ctx && s.symbol == symbol) [[likely]] {
        Words words(ctx);
        if (s.position < words.count && words.cells[s.position].int2() == symbol) return words.cells[s.position].int3();
    }
    int32_t i = find_field(ctx, symbol);
    return i < 0 ? -1 : context::word_at(ctx, i)->int3();
}

// Field access by a path element; `path` names the whole path in errors (the element when
// there is none).
Cell* access_field(Cell* obj, Cell* element, Cell* set_value, bool last, const Cell* path) {
    Cell named = path ? *path : *element;
    if (!is_word_type(element->type()) || element->is(Type::refinement) || element->is(Type::issue))
        error::raise(error::id::script_invalid_path, &named, element);
    Ref ctx = context_of(obj);
    int32_t index = value_index(ctx, element);
    if (index >= 0) word::bind_to(element, ctx, index);
    if (set_value) {
        if (index < 0) error::raise(error::id::script_invalid_path, &named, element);
        Cell old = context::block_values(ctx)[index];
        Cell nv = *set_value;
        context::block_values(ctx)[index] = nv;
        context::word_at(ctx, index)->header |= context::bit::applied;
        if (record_of(obj)) {
            Cell w = *context::word_at(ctx, index);
            fire_on_change(obj, &w, &old, &nv);
        }
        *obj = nv;
        return obj;
    }
    if (index < 0 || context::block_values(ctx)[index].is(Type::unset)) {
        // Only a get asks whether the field has a value; a plain path names a value to use.
        if (!last) error::raise(error::id::script_unset_path, &named, element);
        if (!path::walk_gets) error::raise(error::id::script_invalid_path, &named, element);
        *obj = unset::shared;
        return obj;
    }
    *obj = context::block_values(ctx)[index];
    return obj;
}

}  // namespace

Cell* field_cell(const Cell* object, const Cell* word) {
    Ref ctx = context_of(object);
    int32_t index = value_index(ctx, word);
    return index < 0 ? nullptr : context::block_values(ctx) + index;
}

bool set_field_quietly(const Cell* object, const Cell* word, const Cell* value) {
    if (record_of(object)) return false;
    Ref ctx = context_of(object);
    int32_t index = value_index(ctx, word);
    if (index < 0) return false;
    context::block_values(ctx)[index] = *value;
    context::word_at(ctx, index)->header |= context::bit::applied;
    return true;
}

namespace {

Cell* a_eval_path(Cell* obj, Cell* element, Cell* set_value, bool, Cell*, Cell*, int32_t, bool last, bool) {
    return access_field(obj, element, set_value, last, path::walked);
}

int32_t a_compare(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::object) && !b->is(Type::error) && !b->is(Type::port)) return -2;
    if (context_of(a) == context_of(b)) return 0;
    if (op == 9) return -1;
    if (cycle_stack::find(context_of(a))) return cycle_stack::find(context_of(b)) ? 0 : -1;
    int32_t n = context::size_of(context_of(a)), m = context::size_of(context_of(b));
    if (n != m) return n < m ? -1 : 1;
    cycle_stack::push(context_of(a));
    cycle_stack::push(context_of(b));
    int32_t r = 0;
    for (int32_t i = 0; i < n && r == 0; ++i) {
        Cell* wa = context::word_at(context_of(a), i);
        Cell* wb = context::word_at(context_of(b), i);
        int32_t sa = symbol::resolve(wa->int2()), sb = symbol::resolve(wb->int2());
        if (sa != sb) {
            r = sa < sb ? -1 : 1;
            break;
        }
        Cell va = context::block_values(context_of(a))[wa->int3()], vb = context::block_values(context_of(b))[wb->int3()];
        auto number = [](Type t) { return t == Type::integer || t == Type::float_ || t == Type::percent; };
        if (va.type() == vb.type() || (is_word_type(va.type()) && is_word_type(vb.type())) ||
            (number(va.type()) && number(vb.type()))) {
            r = actions::compare_dispatch(&va, &vb, op);
            if (r == -2) r = 1;
        } else {
            r = static_cast<int>(va.type()) < static_cast<int>(vb.type()) ? -1 : 1;
        }
    }
    cycle_stack::drop(2);
    return r;
}

Cell* a_reflect(Cell* obj, int32_t field) {
    Ref ctx = context_of(obj);
    int32_t n = context::size_of(ctx);
    int32_t f = symbol::resolve(field);
    Cell r;
    if (f == sym("class")) {
        cell::make(&r, Type::integer, 0, class_of(obj));
    } else if (f == sym("words") || f == sym("values") || f == sym("body") || f == sym("<applied>")) {
        block::make_at(&r, n * 2);
        Cell* held = stack::push(&r);
        for (int32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            Cell v = context::block_values(ctx)[w.int3()];
            if (f == sym("words")) {
                w.set_type(Type::word);
                w.header &= ~(context::bit::applied | header::new_line);
                block::append(held, &w);
            } else if (f == sym("values")) {
                block::append(held, &v);
            } else if (f == sym("<applied>")) {
                if (!(w.header & context::bit::applied)) continue;
                w.set_type(Type::word);
                w.header &= ~(context::bit::applied | header::new_line);
                block::append(held, &w);
            } else {
                w.header = static_cast<uint32_t>(Type::set_word) | header::new_line;
                block::append(held, &w);
                if (v.is(Type::word)) v.set_type(Type::lit_word);
                else if (v.is(Type::path)) v.set_type(Type::lit_path);
                v.header &= ~header::new_line;
                block::append(held, &v);
            }
        }
        r = *held;
        stack::pop(1);
    } else if (f == sym("owner")) {
        logic::make_at(&r, context::cell_of(ctx)->header & context::bit::owner);
    } else if (f == sym("events?")) {
        logic::make_at(&r, record_of(obj) != 0);
    } else {
        error::raise(error::id::internal_not_done);
    }
    *obj = r;
    return obj;
}

Cell* a_select(Cell* obj, Cell* value, const slotfn::SelectOptions&) {
    if (!is_word_type(value->type())) {
        Cell t;
        datatype::make_at(&t, static_cast<int>(value->type()));
        error::raise(error::id::script_invalid_type, &t);
    }
    Cell v = *find_value(obj, value->int2());
    *obj = v;
    return obj;
}

Cell* a_put(Cell* obj, Cell* key, Cell* value, bool) {
    if (!key->is(Type::word)) {
        Cell t;
        datatype::make_at(&t, static_cast<int>(key->type()));
        error::raise(error::id::script_invalid_key_type, &t);
    }
    Cell v = *value;
    Cell o = *obj;
    access_field(&o, key, &v, true, nullptr);
    *obj = v;
    return obj;
}

// Whether /types (a datatype! or a typeset!, or none given) admits a datatype.
bool of_types(const Cell* types, Type t) {
    if (!types) return true;
    if (types->is(Type::typeset)) return typeset::has(types, static_cast<uint32_t>(t));
    return types->is(Type::datatype) && datatype::id_of(types) == static_cast<uint32_t>(t);
}

Cell* a_copy(Cell* obj, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) {
        Cell w;
        word::make_at(&w, symbol::make("part"));
        error::raise(error::id::script_invalid_refine_arg, &w, part);
    }
    Cell src = *obj;
    Cell proto_ctx = *context::cell_of(context_of(&src));
    Ref ctx = context::create(context::size_of(context_of(&src)), false, true, &proto_ctx, context::kind_object);
    Cell copy;
    cell::make(&copy, src.type(), ctx, class_of(&src), 0);
    Cell* held = stack::push(&copy);
    int32_t n = context::size_of(ctx);
    cycle_stack::Scope scope;
    if (deep) {
        if (cycle_stack::find(context_of(&src))) {
            cycle_stack::reset();
            error::raise(error::id::internal_no_cycle);
        }
        cycle_stack::push(context_of(&src));
    }
    for (int32_t i = 0; i < n; ++i) {
        Cell v = context::block_values(context_of(&src))[i];
        Cell* vh = stack::push(&v);
        if (v.is(Type::function)) remake_function(vh, ctx);
        else if (deep && series_copied_by_make(v.type()) && of_types(types, v.type())) {
            copy_series(vh, true, types);
        } else if (deep && v.is(Type::object)) {
            a_copy(vh, vh, nullptr, true, types);
        }
        context::block_values(ctx)[i] = *vh;
        stack::pop(1);
    }
    build_record(held);
    *obj = *held;
    return obj;
}

// none: the fields' values leave their owners; [owner word]: they are owned by that object
// under that word.
void modify_owned(const Cell* obj, const Cell* value) {
    Ref ctx = context_of(obj);
    Cell owner, word;
    bool binding = value->is(Type::block) && block::length(const_cast<Cell*>(value)) >= 2;
    if (binding) {
        owner = *block::head(value);
        word = *(block::head(value) + 1);
    } else if (!value->is(Type::none)) {
        return;
    }
    int32_t n = context::size_of(ctx);
    for (int32_t i = 0; i < n; ++i) {
        int32_t slot = context::word_at(ctx, i)->int3();
        if (binding) ownership::bind(context::block_values(ctx) + slot, &owner, &word);
        else ownership::unset(context::block_values(ctx) + slot);
    }
}

Cell* a_modify(Cell* obj, int32_t field, Cell* value, bool) {
    int32_t f = symbol::resolve(field);
    if (f == sym("<applied>")) {
        if (!value->is(Type::none)) error::raise(error::id::script_invalid_arg, value);
        clear_applied(context_of(obj));
    } else if (f == sym("owner")) {
        ownership::own_fields(obj);
    } else if (f == sym("owned")) {
        modify_owned(obj, value);
    }
    return value;
}

}  // namespace

void init() {
    context::on_change_hook = set_and_notify;
    upcall::calls.system_field = system_field;
    upcall::calls.fire_on_change = fire_on_change;
    upcall::calls.notify_deep_change = [](const Cell* object, const Cell* field, const Cell* target, int32_t action_symbol,
                                          const Cell* new_value, int32_t index, int32_t part) {
        Cell action;
        word::make_at(&action, action_symbol);
        fire_on_deep_change(object, field, target, &action, new_value, index, part);
    };
    datatype::register_type(Type::object, {
        .make = a_make,
        .reflect = a_reflect,
        .form = a_form,
        .mold = a_mold,
        .eval_path = a_eval_path,
        .compare = a_compare,
        .copy = a_copy,
        .put = a_put,
        .select = a_select,
        .modify = a_modify,
    });
}

}  // namespace zuv::object
