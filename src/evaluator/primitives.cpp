// Argument checks, word and slot access, literals, by-index calls and path lists.
#include "evaluator/primitives.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "evaluator/actions.h"
#include "evaluator/context.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/natives-list.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv {

namespace function {

const Cell* check_arg_type(const Cell* typeset, int32_t index, const Cell* value) {
    if (!typeset::has(typeset, static_cast<uint32_t>(value->type()))) error::raise_expect_arg(value->type(), index);
    return value;
}

void check_frame_arg(int32_t n, const Cell* typeset, int32_t index) {
    if (n >= 0) check_arg_type(typeset, index, stack::arguments_base + n);
}

const Cell* check_ref_arg(const Cell* refinement, const Cell* typeset, int32_t index, const Cell* value) {
    if (refinement->data1) check_arg_type(typeset, index, value);
    return value;
}

const Cell* check_arg_set(int32_t index, const Cell* value) {
    if (value->is(Type::unset)) error::raise_expect_arg(Type::unset, index);
    return value;
}

void set_refinement(const Cell* value, int32_t n, int32_t count) {
    if (logic::true_q(value, false, nullptr)) {
        stack::arguments_base[n].data1 = 1;
        return;
    }
    for (int32_t i = 1; i <= count; ++i) stack::arguments_base[n + i] = none::shared;
}

}  // namespace function

namespace word {

Cell* get_checked(const Cell* word) {
    Cell* v = context::get(word);
    if (v->is(Type::unset)) error::raise(error::id::script_no_value, word);
    return v;
}

void set_keep(Cell* word) {
    Cell v = *stack::top();
    if (v.is(Type::unset)) error::raise(error::id::script_need_value, word);
    context::set(word, &v);
}

Cell* set_from_top(Cell* word) {
    set_keep(word);
    return stack::reset();
}

}  // namespace word

namespace context {

Cell* get_slot(Ref ctx, int32_t index) {
    Cell* v = value_at(ctx, index);
    if (!v) error::raise(error::id::script_not_defined, word_at(ctx, index));
    return v;
}

void set_slot_keep(Ref ctx, int32_t index) {
    Cell v = *stack::top();
    if (v.is(Type::unset)) error::raise(error::id::script_need_value, word_at(ctx, index));
    *get_slot(ctx, index) = v;
}

void set_slot(Ref ctx, int32_t index) {
    set_slot_keep(ctx, index);
    stack::reset();
}

void set_slot_any(Ref ctx, int32_t index) {
    Cell v = *stack::top();
    *get_slot(ctx, index) = v;
    if (kind_of(cell_of(ctx)) == kind_object) word_at(ctx, index)->header |= bit::applied;
    stack::reset();
}

}  // namespace context

namespace literal {

int32_t base = 0;

Cell* cell(int32_t n) { return series::buffer(&block::root)->cells() + base + n; }
Ref context_node(int32_t n) { return cell(n)->data1; }

}  // namespace literal

namespace interpreter {

void call_builtin(int32_t e, bool native, int32_t slots, std::initializer_list<BuiltinRefinement> refinements) {
    int32_t refs[32];
    for (int32_t i = 0; i < slots && i < 32; ++i) refs[i] = -1;
    for (const BuiltinRefinement& r : refinements) {
        if (logic::truth(r.value)) {
            refs[r.slot - 1] = r.frame_index;
        } else {
            for (int32_t i = 0; i < r.arg_count; ++i) stack::arguments_base[r.frame_index + i] = none::shared;
        }
    }
    if (native) natives::table[e - 1](true, refs);
    else actions::table[e - 1](refs);
    if (pending) throw_pending();
}

void eval_path_list(bool set, bool case_, std::initializer_list<const Cell*> elements) {
    auto it = elements.begin();
    Cell value = **it;
    Cell parent = none::shared;
    bool has_parent = false;
    if (value.is(Type::word)) {
        Cell w = value;
        value = *context::get(&w);
        if (w.data1 && w.data1 != context::global) {
            Cell* owner = context::owner_of(w.data1);
            if (!owner->is(Type::object)) {
                parent = *owner;
                has_parent = true;
            }
        }
    }
    Cell store = *stack::arguments_base;
    Cell previous = **it;
    int32_t position = 0;
    size_t count = elements.size();
    for (++it; it != elements.end(); ++it) {
        ++position;
        Cell element = **it;
        bool last = static_cast<size_t>(position) == count - 1;
        bool notify = set && last && count > 2 && has_parent &&
                      ((parent.is(Type::object) && parent.data3 && previous.is(Type::word)) ||
                       parent.is(Type::block) || parent.is(Type::paren) || parent.is(Type::hash) ||
                       parent.is(Type::path) || parent.is(Type::lit_path) || parent.is(Type::set_path) ||
                       parent.is(Type::get_path));
        auto f = reinterpret_cast<slotfn::EvalPath>(actions::get_action_ptr_of(&value, datatype::slot::eval_path));
        Cell* v = stack::push(&value);
        Cell* el = stack::push(&element);
        Cell* st = set && last ? stack::push(&store) : nullptr;
        Cell* pa = has_parent ? stack::push(&parent) : nullptr;
        Cell* pr = stack::push(&previous);
        Cell next = *f(v, el, st, case_, pa, pr, position, last, notify);
        stack::pop(3 + (st ? 1 : 0) + (pa ? 1 : 0));
        parent = value;
        has_parent = true;
        value = next;
        previous = element;
    }
    stack::keep_last(&value);
}

}  // namespace interpreter

namespace natives {

const Cell* switch_lookup(bool skip) {
    Cell value = stack::arguments_base[0];
    Cell cases = stack::arguments_base[1];
    if (value.is(Type::block)) return nullptr;
    int32_t n = series::length(&cases);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(&cases) + i;
        if (c->type() != value.type()) continue;
        Cell candidate = *c;
        if (!actions::compare(&candidate, &value, actions::op::equal)) continue;
        if (!skip) return i + 1 < n ? block::head(&cases) + i + 1 : c;
        for (int32_t j = i + 1; j < n; ++j) {
            Cell* b = block::head(&cases) + j;
            if (b->is(Type::block)) return b;
        }
        return nullptr;
    }
    return nullptr;
}

Cell* switch_find(bool push, bool skip) {
    const Cell* found = switch_lookup(skip);
    Cell result = found ? *found : none::shared;
    if (push) return stack::push(&result);
    return stack::set_last(&result);
}

}  // namespace natives

namespace value {

Cell* form_to_string(Cell* part, int32_t limit) {
    Cell* s = string::push_new(16);
    actions::form_dispatch(stack::arguments_base, s, part, limit > 0 ? limit : actions::no_limit);
    if (limit > 0) string::truncate(series::buffer(s), limit);
    return s;
}

}  // namespace value

namespace error {

void raise_from_os(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    try {
        raise(id, arg1, arg2, arg3);
    } catch (const runtime::Throw&) {
        Cell e = *stack::top();
        try {
            stack::mark_native(&interpreter::body_word);
            stack::push(&e);
            natives::print(false, nullptr);
            stack::unwind();
        } catch (const runtime::Throw&) {
        }
    }
}

[[noreturn]] void raise_bad_spec(const Cell* datatype, const Cell* spec) {
    raise(id::script_bad_make_arg, datatype, spec);
}

}  // namespace error

}  // namespace zuv
