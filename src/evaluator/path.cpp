// Path evaluation: the first word's value starts the walk; each further element selects
// through the eval-path action of the current value's datatype; a function met on the way
// is called with the rest of the path as its refinements.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "memory/action-types.h"
#include "datatypes/path.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv::interpreter {

namespace {

inline Cell* cell_at(const Cell* block, int32_t i) { return block::cell_at(block, i); }

inline bool is_function(Type t) { return in_family(family::applicable, t); }

inline bool same_bits(const Cell* a, const Cell* b) { return std::memcmp(a, b, sizeof(Cell)) == 0; }

// Values whose whole state is in their cell: a path that sets one of their fields changes a
// copy, which must be stored back into what held it.
inline bool held_by_copy(Type t) {
    switch (t) {
        case Type::pair: case Type::point2D: case Type::point3D: case Type::tuple: case Type::time:
        case Type::date: case Type::money: case Type::triple: case Type::event:
            return true;
        default:
            return false;
    }
}

// A copy of the path up to and including an element, for error messages.
Cell path_upto(const Cell* path, int32_t index) {
    Cell copy;
    Ref node = series::copy_part(series::node(path), series::head(path), index - series::head(path) + 1);
    cell::make(&copy, path->type(), 0, node, 0);
    return copy;
}


// One step of the walk: the eval-path action of the value's datatype. The value is the
// caller's stack cell, which the action may change in place (a field set on a scalar).
Cell* select(Cell* value, const Cell* selector, const Cell* store, const Cell* container, const Cell* previous,
             const Cell* path, int32_t i, int32_t head, const Cell* element, bool last, bool notify, bool get) {
    void* f = datatype::action_of(value->type(), datatype::slot::eval_path);
    if (!f) {
        Cell type;
        datatype::make_at(&type, static_cast<int>(value->type()));
        Cell upto = path_upto(path, i);
        Cell e = *element;
        error::raise(error::id::script_bad_path_type, &upto, &type, &e);
    }
    Cell* sel = stack::push(selector);
    Cell* st = store ? stack::push(store) : nullptr;
    Cell* cont = container ? stack::push(container) : nullptr;
    Cell* prev = stack::push(previous);
    // Only the action called here sees the path: code it runs (a change handler) walks its
    // own paths, and runtime code calling an action directly sees none.
    struct Walk {
        const Cell* saved = path::walked;
        bool saved_gets = path::walk_gets;
        Walk(const Cell* p, bool gets) {
            path::walked = p;
            path::walk_gets = gets;
        }
        ~Walk() {
            path::walked = saved;
            path::walk_gets = saved_gets;
        }
    } walk(path, get);
    return reinterpret_cast<slotfn::EvalPath>(f)(value, sel, st, false, cont, prev, i - head, last, notify);
}

// Stores a changed copy back into what held it: step k's value came from step k - 1's value
// through step k - 1's selector, and step 0's from the path's first word. A holder that is
// itself held by copy (a date whose time changed) is written back in turn.
void write_back(Cell* chain, int32_t k, Cell* changed, const Cell* first, const Cell* path, int32_t head,
                const Cell* initial_container) {
    Cell updated = *changed;
    for (; k >= 0; --k) {
        if (k == 0) {
            Cell word = *first;
            context::set(&word, &updated);
            return;
        }
        Cell holder = chain[2 * (k - 1)];
        Cell selector = chain[2 * (k - 1) + 1];
        Cell* top = stack::arguments_top;
        const Cell* container = k >= 2 ? &chain[2 * (k - 2)] : initial_container;
        Cell before = k >= 2 ? *cell_at(path, head + k - 1) : *first;
        Cell* v = stack::push(&holder);
        Cell element = *cell_at(path, head + k);
        select(v, &selector, &updated, container, &before, path, head + k, head, &element, false, false, false);
        bool moved = held_by_copy(holder.type()) && !same_bits(v, &holder);
        updated = *v;
        stack::arguments_top = top;
        if (!moved) return;
    }
}

// The object and the field word of a path of two words whose first names an object!: the
// common `obj/field`, which the short ways below take without the walk.
const Cell* object_and_field(const Cell* path, const Cell** field) {
    const Cell* first = cell_at(path, path->int1());
    if (!first->is(Type::word)) return nullptr;
    const Cell* object = context::bound_value(first);
    if (!object || !object->is(Type::object)) return nullptr;
    if (block::buffer_length(path) - path->int1() != 2 || !first[1].is(Type::word)) return nullptr;
    *field = first + 1;
    return object;
}

// A field's value as a plain read gives it: set, and not a function to call.
const Cell* plain_field(const Cell* object, const Cell* field) {
    const Cell* v = field->is(Type::word) ? object::field_cell(object, field) : nullptr;
    return v && !v->is(Type::unset) && !is_function(v->type()) ? v : nullptr;
}

}  // namespace

const Cell* plain_path_value(const Cell* path) {
    const Cell* field;
    const Cell* object = object_and_field(path, &field);
    return object ? plain_field(object, field) : nullptr;
}

bool set_plain_path(const Cell* path, const Cell* value) {
    const Cell* field;
    const Cell* object = object_and_field(path, &field);
    return object && object::set_field_quietly(object, field, value);
}

int32_t eval_path(const Cell* path_in, const Cell* block, int32_t pos, int32_t end, bool set, bool get, bool sub) {
    Cell path = *path_in;
    Cell* top_at_entry = stack::arguments_top;
    int32_t head = path.int1();
    int32_t tail = block::buffer_length(&path);
    if (head >= tail) error::raise(error::id::script_empty_path, &path);
    if (tracing) [[unlikely]] {
        fire_event(event::enter, &path, head, nullptr, nullptr);
        fire_event(event::fetch, &path, head, nullptr, nullptr);
    }
    Cell first = *cell_at(&path, head);
    if (!first.is(Type::word)) error::raise(error::id::script_word_first, &path);
    Cell value = *context::get(&first);
    if (value.is(Type::unset)) error::raise(error::id::script_unset_path, &path, &first);
    if (is_function(value.type())) {
        if (set) error::raise(error::id::script_invalid_path_set, &path);
        if (get) error::raise(error::id::script_invalid_path_get, &path);
        pos = call_named(&value, block, pos, end, true, &first, &path, head + 1);
        if (pending) return pos;
        Cell result = *stack::top();
        stack::arguments_top = top_at_entry;
        if (sub) stack::push(&result);
        else stack::keep_last(&result);
        return pos;
    }
    if (!set && !tracing && value.is(Type::object) && tail - head == 2) [[likely]] {
        if (const Cell* v = plain_field(&value, cell_at(&path, head + 1))) {
            Cell result = *v;
            if (sub) stack::push(&result);
            else stack::keep_last(&result);
            return pos;
        }
    }
    Cell container = none::shared;
    bool has_container = false;
    Ref first_context = word::binding_of(&first);
    if (first_context && first_context != context::global) {
        Cell* owner = context::owner_of(first_context);
        if (!owner->is(Type::object)) {
            container = *owner;
            has_container = true;
        }
    }
    Cell previous = first;
    Cell store = set ? *stack::arguments_base : none::shared;
    // In set mode each step's value and selector stay on the stack (the chain): a value held
    // by copy, such as a pair in a block or a time in a word, is changed in its copy by its
    // datatype and must then be written back where it came from.
    Cell* chain = top_at_entry;
    Cell* base = top_at_entry;
    Cell initial_container = container;
    bool initial_has_container = has_container;
    for (int32_t i = head + 1; i < tail; ++i) {
        Cell element = *cell_at(&path, i);
        Cell selector = element;
        if (element.is(Type::get_word)) {
            selector = *context::get(&element);
        } else if (element.is(Type::paren)) {
            stack::mark_interp_native(&body_word);
            eval_block(&element, true);
            if (pending) return pos;
            selector = *stack::arguments_base;
            stack::unwind();
            stack::pop(1);
        }
        if (tracing) [[unlikely]] {
            fire_event(event::fetch, &path, i, nullptr, nullptr);
            fire_event(event::push, &path, i, nullptr, &selector);
        }
        if (selector.is(Type::unset)) error::raise(error::id::script_invalid_path, &path, &element);
        bool last = i == tail - 1;
        bool notify = false;
        if (set && last && i - head >= 2 && has_container) {
            switch (container.type()) {
                case Type::block: case Type::paren: case Type::hash: case Type::path: case Type::lit_path:
                case Type::set_path: case Type::get_path:
                    notify = true;
                    break;
                case Type::object:
                    notify = object::record_of(&container) != 0 && previous.is(Type::word);
                    break;
                default:
                    break;
            }
        }
        if (set) {
            stack::push(&value);
            stack::push(&selector);
            base = stack::arguments_top;
        }
        Cell* v = stack::push(&value);
        Cell* result = select(v, &selector, set && last ? &store : nullptr, has_container ? &container : nullptr,
                              &previous, &path, i, head, &element, last, notify, get);
        Cell next = *result;
        if (set && last && held_by_copy(value.type()) && !same_bits(v, &value)) {
            Cell changed = *v;
            stack::arguments_top = base;
            write_back(chain, (i - head) - 1, &changed, &first, &path, head,
                       initial_has_container ? &initial_container : nullptr);
        }
        stack::arguments_top = base;
        if (!set && !get && is_function(next.type())) {
            pos = call_named(&next, block, pos, end, true, &element, &path, i + 1);
            if (pending) return pos;
            Cell r = *stack::top();
            stack::arguments_top = top_at_entry;
            if (sub) stack::push(&r);
            else stack::keep_last(&r);
            return pos;
        }
        container = value;
        has_container = true;
        value = next;
        previous = element;
    }
    stack::arguments_top = top_at_entry;
    if (tracing) [[unlikely]] fire_event(event::exit, &path, tail, nullptr, &value);
    if (sub) stack::push(&value);
    else stack::keep_last(&value);
    return pos;
}

}  // namespace zuv::interpreter
