// Word, context and block-marker natives: get, set, unset, value?, bind, in, context?,
// construct, extend, new-line, new-line?; and set-many, shared with foreach.
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "datatypes/object.h"
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }
bool values_series(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::hash: case Type::map: case Type::path:
        case Type::lit_path: case Type::set_path: case Type::get_path:
            return true;
        default:
            return false;
    }
}

// Element i (1-based) of a series of values: the cell, or none past its tail.
Cell pick_value(const Cell* series, int32_t i) {
    Cell s = *series;
    if (i <= series::length(&s)) return *(block::head(&s) + (i - 1));
    return none::shared;
}

}  // namespace

void set_many(Cell* words, const Cell* value, int32_t count, bool any, bool only, bool some) {
    Cell v = *value;
    bool series = values_series(v.type()) && !only;
    for (int32_t i = 1; i <= count; ++i) {
        Cell* w = block::head(words) + (i - 1);
        if (!scalar::settable_word_q(w->type())) error::raise(error::id::script_invalid_arg, w);
        if (series && !any && pick_value(&v, i).is(Type::unset)) error::raise(error::id::script_need_value, w);
    }
    for (int32_t i = 1; i <= count; ++i) {
        Cell w = *(block::head(words) + (i - 1));
        Cell x = series ? pick_value(&v, i) : v;
        if (some && x.is(Type::none)) continue;
        context::set(&w, &x);
    }
}

void get(bool, const int32_t* refs) {
    Cell w = *arg(0);
    bool any = refs[refine::get::any] >= 0;
    if (scalar::settable_word_q(w.type())) {
        Cell v = *context::get(&w);
        if (!any && v.is(Type::unset)) error::raise(error::id::script_no_value, &w);
        stack::keep_last(&v);
    } else if (w.is(Type::object)) {
        Cell r;
        int32_t n = context::size_of(object::context_of(&w));
        block::make_at(&r, n);
        Cell* held = stack::push(&r);
        for (int32_t i = 0; i < n; ++i) block::append(held, &context::block_values(object::context_of(&w))[i]);
        stack::keep_last(held);
    } else {
        Cell holder;
        block::make_at(&holder, 1);
        Cell* h = stack::push(&holder);
        block::append(h, &w);
        interpreter::eval_path(&w, h, 1, 1, false, true, false);
    }
}

void set(bool, const int32_t* refs) {
    Cell target = *arg(0);
    Cell value = *arg(1);
    bool any = refs[refine::set::any] >= 0, only = refs[refine::set::only] >= 0, some = refs[refine::set::some] >= 0;
    if (scalar::settable_word_q(target.type())) {
        if (!any && value.is(Type::unset)) error::raise(error::id::script_need_value, &target);
        context::set(&target, &value);
    } else if (target.is(Type::block)) {
        stack::mark_native(&interpreter::body_word);
        set_many(&target, &value, series::length(&target), any, only, some);
        stack::unwind();
    } else if (target.is(Type::object)) {
        Ref ctx = object::context_of(&target);
        int32_t n = context::size_of(ctx);
        int32_t on_change = symbol::resolve(symbol::make("on-change*"));
        int32_t on_deep_change = symbol::resolve(symbol::make("on-deep-change*"));
        // Stores through the set engine (without its notification) and then tells the
        // handler, unless the word is one of the handlers themselves.
        auto assign = [&](int32_t i, const Cell* x) {
            Cell w = *context::word_at(ctx, i);
            w.header &= ~(context::bit::applied | header::new_line);
            Cell old = context::block_values(ctx)[w.int3()];
            context::set_in(&w, x, ctx, false);
            int32_t s = symbol::resolve(w.int2());
            if (object::record_of(&target) && s != on_change && s != on_deep_change) object::fire_on_change(&target, &w, &old, x);
        };
        if (!only && value.is(Type::object)) {
            Ref from = object::context_of(&value);
            for (int32_t i = 0; i < n; ++i) {
                Cell w = *context::word_at(ctx, i);
                int32_t j = context::find_word(from, w.int2(), true);
                if (j < 0) continue;
                Cell x = context::block_values(from)[context::word_at(from, j)->int3()];
                if (!any && x.is(Type::unset)) error::raise(error::id::script_need_value, &w);
            }
            for (int32_t i = 0; i < n; ++i) {
                int32_t j = context::find_word(from, context::word_at(ctx, i)->int2(), true);
                if (j < 0) continue;
                Cell x = context::block_values(from)[context::word_at(from, j)->int3()];
                if (some && x.is(Type::none)) continue;
                assign(i, &x);
            }
        } else {
            bool series = values_series(value.type()) && !only;
            for (int32_t i = 0; i < n; ++i) {
                Cell w = *context::word_at(ctx, i);
                Cell x = series ? pick_value(&value, i + 1) : value;
                if (series && !any && x.is(Type::unset)) error::raise(error::id::script_need_value, &w);
            }
            for (int32_t i = 0; i < n; ++i) {
                Cell x = series ? pick_value(&value, i + 1) : value;
                if (some && x.is(Type::none)) continue;
                assign(i, &x);
            }
        }
    } else {
        stack::keep_last(&value);
        Cell holder;
        block::make_at(&holder, 1);
        Cell* h = stack::push(&holder);
        block::append(h, &target);
        stack::arguments_top = stack::arguments_base + 1;
        interpreter::eval_path(&target, h, 1, 1, true, false, false);
    }
    stack::keep_last(&value);
}

void unset(bool, const int32_t*) {
    Cell w = *arg(0);
    if (w.is(Type::word)) {
        context::set(&w, &unset::shared);
    } else {
        int32_t n = series::length(&w);
        for (int32_t i = 0; i < n; ++i) {
            Cell e = *(block::head(&w) + i);
            if (e.is(Type::word)) context::set(&e, &unset::shared);
        }
    }
    unset::box();
    stack::keep();
}

void value_q(bool, const int32_t*) {
    Cell w = *arg(0);
    bool has = true;
    if (scalar::settable_word_q(w.type())) {
        Ref ctx = word::binding_of(&w);
        if (!ctx || w.int3() < 0) has = false;
        else {
            Cell* v = context::value_at(ctx, w.int3());
            has = v && !v->is(Type::unset);
        }
    }
    logic::box(has);
    stack::keep();
}

namespace {

Ref context_behind(const Cell* c) {
    switch (c->type()) {
        case Type::object: case Type::error: case Type::port:
            return object::context_of(c);
        case Type::function: case Type::routine:
            return function::context_of(c);
        default:
            return scalar::settable_word_q(c->type()) || c->is(Type::refinement) ? word::binding_of(c) : 0;
    }
}

}  // namespace

void bind(bool, const int32_t* refs) {
    Cell target = *arg(0);
    Ref ctx = context_behind(arg(1));
    bool self = arg(1)->is(Type::object);
    if (!ctx) {
        stack::keep_last(&target);
        return;
    }
    if (scalar::settable_word_q(target.type()) || target.is(Type::refinement)) {
        context::bind_word(ctx, &target);
        stack::keep_last(&target);
        return;
    }
    if (refs[refine::bind::copy] >= 0) {
        auto copy = reinterpret_cast<slotfn::Copy>(datatype::action_of(target.type(), datatype::slot::copy));
        if (copy) {
            Cell* held = stack::push(&target);
            target = *copy(held, held, nullptr, true, nullptr);
        }
    }
    Cell* held = stack::push(&target);
    context::bind(held, ctx, self);
    stack::keep_last(held);
}

void in(bool, const int32_t*) {
    Ref ctx = context_behind(arg(0));
    Cell w = *arg(1);
    int32_t i = ctx ? context::find_word(ctx, w.int2(), true) : -1;
    if (i < 0) {
        none::box();
        stack::keep();
        return;
    }
    w.set_type(Type::word);
    word::bind_to(&w, ctx, context::word_at(ctx, i)->int3());
    stack::keep_last(&w);
}

void context_q(bool, const int32_t*) {
    Cell w = *arg(0);
    if (!word::binding_of(&w)) {
        none::box();
        stack::keep();
        return;
    }
    Cell owner = *context::owner_of(word::binding_of(&w));
    if (!owner.is(Type::object) && !owner.is(Type::function) && !owner.is(Type::error) && !owner.is(Type::port))
        owner = none::shared;
    stack::keep_last(&owner);
}

void construct(bool, const int32_t* refs) {
    Cell block = *arg(0);
    Cell* proto = refs[refine::construct::with] >= 0 ? arg(refs[refine::construct::with]) : nullptr;
    Cell out;
    object::construct(&block, proto, &out, refs[refine::construct::only] >= 0);
    stack::keep_last(&out);
}

// refs: /case.
void extend(bool, const int32_t* refs) {
    if (!arg(0)->is(Type::map)) error::raise(error::id::internal_not_done);
    Cell* spec = arg(1);
    if (spec->is(Type::map)) {
        auto reflect = reinterpret_cast<slotfn::Reflect>(datatype::action_of(Type::map, datatype::slot::reflect));
        *spec = *reflect(spec, words::sym::body);
    }
    map::extend(arg(0), spec, refs[refine::extend::case_] >= 0);
    stack::keep();
}

void new_line(bool, const int32_t* refs) {
    Cell pos = *arg(0);
    bool value = logic::truth(arg(1));
    int32_t step = 0;
    if (refs[refine::new_line::all] >= 0) step = 1;
    if (refs[refine::new_line::skip] >= 0) {
        Cell* size = arg(refs[refine::new_line::skip]);
        step = size->int2();
        if (step < 1) error::raise(error::id::script_out_of_range, size);
    }
    int32_t n = series::length(&pos);
    if (step == 0) {
        if (n > 0) {
            Cell* c = block::head(&pos);
            if (value) c->header |= header::new_line;
            else c->header &= ~header::new_line;
        }
    } else {
        for (int32_t i = 0; i < n; ++i) {
            Cell* c = block::head(&pos) + i;
            bool mark = (i % step == 0) == value;
            if (mark) c->header |= header::new_line;
            else c->header &= ~header::new_line;
        }
    }
    stack::keep_last(&pos);
}

void new_line_q(bool, const int32_t*) {
    Cell pos = *arg(0);
    bool r = series::length(&pos) > 0 && (block::head(&pos)->header & header::new_line);
    logic::box(r);
    stack::keep();
}

}  // namespace zuv::natives
