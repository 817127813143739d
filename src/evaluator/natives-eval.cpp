// Function makers and evaluation natives: func, function, does, has, do, reduce, compose.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "memory/hashtable.h"
#include "memory/stack.h"
#include "memory/upcalls.h"
#include "runtime/throw.h"

namespace zuv::natives {

using interpreter::pending;

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

void clamp(Cell* s) { series::length(s); }

void make_function(Cell* spec, Cell* body) {
    clamp(spec);
    clamp(body);
    uint32_t flags = function::check_spec(spec);
    Cell* f = function::push(spec, body, 0, flags, 0);
    stack::keep_last(f);
}

// A shallow copy of a block (the caller holds the source).
Cell copy_block(const Cell* source) {
    Cell src = *source;
    int32_t n = series::length(&src);
    Cell copy;
    block::make_at(&copy, n + 1);
    Cell* held = stack::push(&copy);
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *(block::head(&src) + i);
        block::append(held, &c);
    }
    copy = *held;
    stack::pop(1);
    return copy;
}

}  // namespace

void func(bool, const int32_t*) { make_function(arg(0), arg(1)); }

void function(bool, const int32_t*) {
    clamp(arg(0));
    clamp(arg(1));
    Cell spec = copy_block(arg(0));
    Cell* held = stack::push(&spec);
    function::collect_locals(held, arg(1));
    make_function(held, arg(1));
}

void does(bool, const int32_t*) {
    Cell spec;
    block::make_at(&spec, 1);
    Cell* held = stack::push(&spec);
    make_function(held, arg(0));
}

void has(bool, const int32_t*) {
    clamp(arg(0));
    Cell spec;
    block::make_at(&spec, series::length(arg(0)) + 1);
    Cell* held = stack::push(&spec);
    Cell local;
    cell::make(&local, Type::refinement, 0, static_cast<uint32_t>(symbol::make("local")), static_cast<uint32_t>(-1));
    block::append(held, &local);
    int32_t n = series::length(arg(0));
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *(block::head(arg(0)) + i);
        block::append(held, &c);
    }
    make_function(held, arg(1));
}

namespace {
void do_value(const int32_t* refs);
}

// Scripts are the library's: do-file finds the header, runs the code in the script's folder
// and restores the folder afterwards.
void do_file(const Cell* script, const Cell* args, Cell* result) {
    Cell* fn = context::get_value_slot(symbol::make("do-file"), context::global);
    if (!fn || !fn->is(Type::function)) error::raise(error::id::internal_not_done);
    Cell runner = *fn;
    Cell name = scalar::word_of("do-file");
    Cell call[3] = {*script, none::shared, *args};
    interpreter::apply_function(&runner, &name, call, 3, result);
}

void do_(bool, const int32_t* refs) {
    // With /trace the callback follows this evaluation, unless a tracer already runs.
    bool traced = refs[refine::do_::trace] >= 0 && interpreter::install_tracer(arg(refs[refine::do_::trace]));
    if (!traced) {
        do_value(refs);
        return;
    }
    try {
        do_value(refs);
    } catch (...) {
        interpreter::remove_tracer(false);
        throw;
    }
    uint32_t code = pending;  // a pending exit passes the tracer's end
    pending = 0;
    interpreter::remove_tracer(true);
    pending = code;
}

namespace {

// do/expand: the library's preprocessor rewrites the block in place before it runs.
void preprocess(const Cell* code) {
    Cell* preprocessor = context::get_value_slot(symbol::make("preprocessor"), context::global);
    Cell expand = preprocessor && preprocessor->is(Type::object)
                      ? *object::find_value(preprocessor, symbol::make("expand"))
                      : none::shared;
    if (!expand.is(Type::function)) {
        Cell w;
        cell::make(&w, Type::word, 0, static_cast<uint32_t>(symbol::make("preprocessor")), static_cast<uint32_t>(-1));
        error::raise(error::id::script_no_value, &w);
    }
    Cell* mark = stack::arguments_top;
    Cell args[2] = {*code, none::shared};
    Cell result;
    interpreter::apply_function(&expand, &interpreter::anon_word, args, 2, &result);
    stack::arguments_top = mark;
}

void do_value(const int32_t* refs) {
    Cell value = *arg(0);
    bool next = refs[refine::do_::next] >= 0;
    switch (value.type()) {
        case Type::block: case Type::paren: case Type::hash: {
            clamp(&value);
            if (refs[refine::do_::expand] >= 0) preprocess(&value);
            if (!next) {
                interpreter::eval_block(&value, true);
                return;
            }
            Cell position_word = *arg(refs[refine::do_::next]);
            int32_t after = interpreter::do_next(&value);
            if (pending) return;
            Cell rest = value;
            series::set_head(&rest, after);
            Cell result = *stack::arguments_base;
            context::set(&position_word, &rest);
            stack::keep_last(&result);
            return;
        }
        case Type::path: {
            Cell holder;
            block::make_at(&holder, 1);
            Cell* h = stack::push(&holder);
            block::append(h, &value);
            interpreter::eval_expression(h, 0, 1, false, false, false);
            return;
        }
        case Type::string: {
            Cell code;
            block::make_at(&code, 8);
            Cell* h = stack::push(&code);
            upcall::calls.scan_string(h, &value, false, nullptr);
            Cell loaded = *h;
            interpreter::eval_block(&loaded, true);
            return;
        }
        case Type::error:
            stack::throw_error(&value);
        case Type::file: case Type::url: {
            Cell result;
            do_file(&value, refs[refine::do_::args] >= 0 ? arg(refs[refine::do_::args]) : &none::shared, &result);
            stack::keep_last(&result);
            return;
        }
        default: {
            Cell holder;
            block::make_at(&holder, 1);
            Cell* h = stack::push(&holder);
            block::append(h, &value);
            interpreter::eval_expression(h, 0, 1, false, false, true);
            return;
        }
    }
}

}  // namespace

namespace {

// Adds a value to the target of /into (or to a new block): at the tail in append mode, else
// inserted at the target's position, which moves past it. A hash! target indexes the value.
void put_into(Cell* out, const Cell* value, bool append_mode) {
    Cell v = *value;
    v.header &= ~header::new_line;
    if (!append_mode) {
        block::insert_value(out, &v, true, false);
        return;
    }
    int32_t at = series::buffer_length(out);
    block::append(out, &v);
    if (out->is(Type::hash) && block::hash_table_of(out)) hashtable::put(block::hash_table_of(out), block::cell_at(out, at));
}

}  // namespace

void reduce(bool, const int32_t* refs) {
    Cell value = *arg(0);
    Cell* into = refs[refine::reduce::into] >= 0 ? arg(refs[refine::reduce::into]) : nullptr;
    if (!value.is(Type::block)) {
        switch (value.type()) {
            case Type::function: case Type::native: case Type::action: case Type::op: case Type::routine:
                stack::keep_last(&value);
                return;
            default: {
                Cell holder;
                block::make_at(&holder, 1);
                Cell* h = stack::push(&holder);
                block::append(h, &value);
                interpreter::eval_expression(h, 0, 1, false, false, false);
                if (pending) return;
                if (into) {
                    Cell v = *stack::arguments_base;
                    bool append_mode = series::at_tail_q(into);
                    put_into(into, &v, append_mode);
                    stack::keep_last(into);
                }
                return;
            }
        }
    }
    stack::mark_native(&interpreter::body_word);
    Cell target;
    if (into) {
        target = *into;
    } else {
        block::make_at(&target, series::length(&value));
    }
    Cell* out = stack::push(&target);
    bool append_mode = !into || series::at_tail_q(into);
    int32_t pos = value.int1();
    int32_t tail = series::buffer_length(&value);
    while (pos < tail) {
        Cell* mark = stack::arguments_top;
        pos = interpreter::eval_next(&value, pos, tail, true);
        if (pending) return;
        Cell v = *stack::top();
        stack::arguments_top = mark;
        put_into(out, &v, append_mode);
    }
    Cell result = *out;
    if (into && append_mode) result = *into;
    stack::keep_last(&result);
    stack::unwind_last();
}

namespace {

void compose_into(const Cell& source, Cell* out, bool deep, bool only, bool append_mode) {
    int32_t n = series::length(const_cast<Cell*>(&source));
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *(block::head(&source) + i);
        if (c.is(Type::block) && deep) {
            Cell inner;
            block::make_at(&inner, series::length(&c));
            Cell* h = stack::push(&inner);
            compose_into(c, h, deep, only, true);
            if (pending) return;
            Cell done = *h;
            done.header = (c.header & ~header::type_mask) | static_cast<uint32_t>(Type::block);
            stack::pop(1);
            put_into(out, &done, append_mode);
        } else if (c.is(Type::paren) && series::length(&c) > 0) {
            stack::mark_native(&interpreter::body_word);
            interpreter::eval_block(&c, true);
            if (pending) return;
            Cell r = *stack::arguments_base;
            stack::unwind();
            stack::pop(1);
            if (r.is(Type::unset)) continue;
            if (r.is(Type::block) && !only) {
                int32_t m = series::length(&r);
                for (int32_t k = 0; k < m; ++k) {
                    Cell e = *(block::head(&r) + k);
                    put_into(out, &e, append_mode);
                }
            } else {
                put_into(out, &r, append_mode);
            }
        } else if (c.is(Type::paren)) {
            continue;
        } else {
            put_into(out, &c, append_mode);
        }
    }
}

}  // namespace

void compose(bool, const int32_t* refs) {
    Cell value = *arg(0);
    bool deep = refs[refine::compose::deep] >= 0, only = refs[refine::compose::only] >= 0;
    Cell* into = refs[refine::compose::into] >= 0 ? arg(refs[refine::compose::into]) : nullptr;
    Cell target;
    if (into) target = *into;
    else block::make_at(&target, series::length(&value));
    Cell* out = stack::push(&target);
    bool append_mode = !into || series::at_tail_q(into);
    compose_into(value, out, deep, only, append_mode);
    if (pending) return;
    // Appended: the target at its own position; inserted: just after the inserted values.
    Cell result = into && append_mode ? *into : *out;
    stack::keep_last(&result);
}

}  // namespace zuv::natives

namespace zuv::natives {

void apply(bool, const int32_t* refs) {
    Cell f = *stack::arguments_base;
    Cell args = *(stack::arguments_base + 1);
    bool all = refs[refine::apply::all] >= 0, safer = refs[refine::apply::safer] >= 0;
    Cell name;
    Cell path = none::shared;
    Cell fn;
    auto is_function = [](Type t) { return in_family(family::any_function, t); };
    if (f.is(Type::word) || f.is(Type::set_word) || f.is(Type::get_word) || f.is(Type::lit_word)) {
        name = f;
        name.set_type(Type::word);
        fn = *context::get(&name);
    } else if (f.is(Type::path)) {
        // A path with nothing from its position on names no function.
        if (series::length(&f) == 0) error::raise(error::id::script_invalid_arg, &f);
        path = f;
        name = *block::head(&f);
        if (!name.is(Type::word)) error::raise(error::id::script_invalid_arg, &f);
        fn = *context::get(&name);
    } else {
        fn = f;
        cell::make(&name, Type::word, context::global, static_cast<uint32_t>(symbol::make("<applied>")),
                   static_cast<uint32_t>(-1));
    }
    if (!is_function(fn.type())) error::raise(error::id::script_invalid_arg, &f);
    if (fn.is(Type::op)) fn = op::function_of(&fn);
    uint32_t mode = (all ? interpreter::mode::apply_all : interpreter::mode::apply) | (safer ? interpreter::mode::safer : 0);
    Cell* ah = stack::push(&args);
    int32_t end = series::buffer_length(ah);
    Cell* ph = path.is(Type::path) ? stack::push(&path) : nullptr;
    interpreter::call_any_function(&fn, ah, ah->int1(), end, false, ph, ph ? ph->int1() + 1 : 0, &name, nullptr, mode,
                                   false);
}

}  // namespace zuv::natives
