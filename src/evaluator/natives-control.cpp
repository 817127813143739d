// Control-flow natives: conditionals, loops without a series, the non-local exits and the
// traps (catch, try).
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/loops.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "evaluator/primitives.h"
#include "memory/symbol.h"
#include "evaluator/trace.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::natives {

using interpreter::pending;

Exit loop_body(const Cell& body) {
    stack::reset();
    try {
        // In the loop's frame: the body's frame would only be opened and closed again. A
        // tracer sees the body's own frame, as a block run anywhere else has.
        if (interpreter::tracing) [[unlikely]] interpreter::eval_block(&body, true);
        else interpreter::eval_block_in_frame(&body);
    } catch (const runtime::Throw& t) {
        if (t.code != runtime::throw_break && t.code != runtime::throw_continue) throw;
        pending = t.code;
    }
    if (!pending) [[likely]]
        return Exit::none;
    switch (pending) {
        case runtime::throw_break: pending = 0; return Exit::break_;
        case runtime::throw_continue: pending = 0; return Exit::continue_;
        default: return Exit::other;
    }
}

int32_t count_to_integer(Cell* c) {
    if (c->is(Type::float_)) {
        // A count that no integer! holds (an infinity, NaN, 2^31 and past) is refused as
        // `to integer!` refuses it: clipped, an infinite count ran for ever in effect.
        int32_t n;
        if (!numeric::to_int32(c->float23(), &n)) scalar::raise_type(error::id::script_type_limit, Type::integer);
        cell::make(c, Type::integer, 0, static_cast<uint32_t>(n));
    }
    return c->int2();
}

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

// Runs a chosen block into the native's result slot, in the native's own frame above its
// arguments (which keep the block alive): the block's own frame would only be opened and
// closed again, and errors in it still name the native. A tracer sees the block's frame, as
// a block run anywhere else has.
void eval_into_result(const Cell& block) {
    if (interpreter::tracing) [[unlikely]] {
        interpreter::eval_block(&block, true);
        return;
    }
    interpreter::eval_block_pushed(&block);
    if (!pending) stack::keep_last(stack::arguments_top - 1);
}

}  // namespace

void if_(bool, const int32_t*) {
    if (!logic::truth(arg(0))) {
        none::box();
        stack::keep();
        return;
    }
    eval_into_result(*arg(1));
}

void unless(bool, const int32_t*) {
    if (logic::truth(arg(0))) {
        none::box();
        stack::keep();
        return;
    }
    eval_into_result(*arg(1));
}

void either(bool, const int32_t*) {
    bool t = logic::true_q(arg(0), true, arg(0));
    eval_into_result(t ? *arg(1) : *arg(2));
}

void any(bool, const int32_t*) {
    Cell block = *arg(0);
    stack::push(&block);
    int32_t pos = block.int1();
    int32_t tail = block::buffer_length(&block);
    while (pos < tail) {
        Cell* mark = stack::arguments_top;
        pos = interpreter::eval_next(&block, pos, tail, true);
        if (pending) return;
        Cell v = *stack::top();
        if (logic::truth(&v)) {
            stack::keep_last(&v);
            return;
        }
        stack::arguments_top = mark;
    }
    none::box();
    stack::keep();
}

void all(bool, const int32_t*) {
    Cell block = *arg(0);
    stack::push(&block);
    int32_t pos = block.int1();
    int32_t tail = block::buffer_length(&block);
    if (pos >= tail) {
        none::box();
        stack::keep();
        return;
    }
    Cell last = none::shared;
    while (pos < tail) {
        Cell* mark = stack::arguments_top;
        pos = interpreter::eval_next(&block, pos, tail, true);
        if (pending) return;
        last = *stack::top();
        if (!logic::truth(&last)) {
            none::box();
            stack::keep();
            return;
        }
        stack::arguments_top = mark;
    }
    stack::keep_last(&last);
}

void while_(bool, const int32_t*) {
    Cell cond = *arg(0), body = *arg(1);
    stack::mark_loop(&interpreter::body_word);
    for (;;) {
        Exit e = loop_body(cond);
        if (e == Exit::break_ || e == Exit::continue_) error::raise(error::id::throw_while_cond);
        if (e == Exit::other) return;
        if (!logic::true_result_q()) break;
        e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
    }
    stack::reset();
    unset::box();
    stack::keep();
    stack::unwind_last();
}

void until(bool, const int32_t*) {
    Cell body = *arg(0);
    stack::mark_loop(&interpreter::body_word);
    for (;;) {
        Exit e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
        if (e == Exit::continue_) continue;
        if (logic::true_result_q()) break;
    }
    stack::unwind_last();
}

void loop(bool, const int32_t*) {
    int32_t n = count_to_integer(arg(0));
    Cell body = *arg(1);
    if (n <= 0) {
        none::box();
        stack::keep();
        return;
    }
    stack::mark_loop(&interpreter::body_word);
    for (int32_t i = 0; i < n; ++i) {
        Exit e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
    }
    stack::unwind_last();
}

void repeat(bool, const int32_t*) {
    Cell word = *arg(0);
    int32_t n = count_to_integer(arg(1));
    Cell body = *arg(2);
    if (n <= 0) {
        none::box();
        stack::keep();
        return;
    }
    stack::mark_loop(&interpreter::body_word);
    for (int32_t i = 1; i <= n; ++i) {
        Cell counter;
        cell::make(&counter, Type::integer, 0, static_cast<uint32_t>(i));
        context::set(&word, &counter);
        Exit e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
    }
    stack::unwind_last();
}

void forever(bool, const int32_t*) {
    Cell body = *arg(0);
    stack::mark_loop(&interpreter::body_word);
    for (;;) {
        Exit e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
    }
    stack::unwind_last();
}

void switch_(bool, const int32_t* refs) {
    const Cell* found = switch_lookup(true);
    if (found) {
        Cell body = *found;
        eval_into_result(body);
        return;
    }
    if (refs[refine::switch_::default_] >= 0) {
        Cell body = *arg(refs[refine::switch_::default_]);
        eval_into_result(body);
        return;
    }
    none::box();
    stack::keep();
}

void case_(bool, const int32_t* refs) {
    bool all_cases = refs[refine::case_::all] >= 0;
    Cell cases = *arg(0);
    int32_t pos = cases.int1();
    int32_t tail = block::buffer_length(&cases);
    if (pos >= tail) {
        none::box();
        stack::keep();
        return;
    }
    stack::mark_native(&interpreter::anon_word);
    Cell result = none::shared;
    bool matched = false;
    Cell case_word;
    cell::make(&case_word, Type::word, context::global, static_cast<uint32_t>(symbol::make("case")),
               static_cast<uint32_t>(-1));
    while (pos < tail) {
        matched = false;
        Cell* mark = stack::arguments_top;
        pos = interpreter::eval_next(&cases, pos, tail, true);
        if (pending) return;
        Cell cond = *stack::top();
        stack::arguments_top = mark;
        if (pos >= tail) error::raise(error::id::script_need_value, &case_word);
        if (logic::true_q(&cond, true, &cond)) {
            Cell* next = block::cell_at(&cases, pos);
            if (next->is(Type::block)) {
                Cell body = *next;
                stack::mark_native(&interpreter::anon_word);
                interpreter::eval_block(&body, true);
                if (pending) return;
                result = *stack::arguments_base;
                stack::unwind();
                stack::arguments_top = mark;
                ++pos;
            } else {
                pos = interpreter::eval_next(&cases, pos, tail, true);
                if (pending) return;
                result = *stack::top();
                stack::arguments_top = mark;
            }
            matched = true;
            if (!all_cases) break;
        } else {
            ++pos;
        }
    }
    if (all_cases && !matched) result = none::shared;
    if (!all_cases && !matched) result = none::shared;
    stack::keep_last(&result);
    stack::unwind_last();
}

void break_(bool, const int32_t* refs) { pending = stack::unroll_break(refs[refine::break_::return_] >= 0, false); }
void continue_(bool, const int32_t*) { pending = stack::unroll_break(false, true); }
void exit(bool, const int32_t*) { pending = stack::unroll_return(false, false); }
void return_(bool, const int32_t*) { pending = stack::unroll_return(true, false); }

void throw_(bool, const int32_t* refs) {
    if (refs[refine::throw_::name] < 0) {
        stack::arguments_top = stack::arguments_base + 1;
        unset::push();
    }
    if (interpreter::tracing) [[unlikely]] {
        Cell thrown = *stack::arguments_base;
        interpreter::fire_event(interpreter::event::throw_, nullptr, -1, nullptr, &thrown);
    }
    pending = stack::unroll_value(runtime::throw_throw);
}

void catch_(bool, const int32_t* refs) {
    Cell block = *arg(0);
    bool named = refs[refine::catch_::name] >= 0;
    Cell names = named ? *arg(refs[refine::catch_::name]) : none::shared;
    stack::mark_catch(&interpreter::body_word);
    try {
        interpreter::eval_block(&block, true);
    } catch (const runtime::Throw& t) {
        if (t.code != runtime::throw_throw) throw;
        pending = t.code;
    }
    if (!pending) {
        stack::unwind_last();
        return;
    }
    if (pending != runtime::throw_throw) return;
    // The thrown value and its name stand at the catch frame's base.
    Cell value = stack::arguments_base[0];
    Cell name = stack::arguments_base[1];
    bool match = !named;
    if (named && name.is(Type::word)) {
        auto same = [&](const Cell* w) { return symbol::resolve(w->int2()) == symbol::resolve(name.int2()); };
        if (names.is(Type::word)) {
            match = same(&names);
        } else {
            int32_t n = series::length(&names);
            for (int32_t i = 0; i < n && !match; ++i) {
                Cell* w = block::head(&names) + i;
                if (!w->is(Type::word)) {
                    pending = 0;  // the error replaces the throw
                    Cell part;
                    cell::make(&part, Type::word, context::global, static_cast<uint32_t>(symbol::make("name")),
                               static_cast<uint32_t>(-1));
                    error::raise(error::id::script_invalid_refine_arg, &part, &names);
                }
                match = same(w);
            }
        }
    }
    if (!match) {
        // On outward with the same value and name.
        --stack::calls_top;
        pending = stack::unroll_value(runtime::throw_throw);
        return;
    }
    pending = 0;
    if (interpreter::tracing) [[unlikely]] interpreter::fire_event(interpreter::event::catch_, nullptr, -1, nullptr, &value);
    stack::keep_last(&value);
    stack::unwind_last();
}

void try_(bool, const int32_t* refs) {
    Cell block = *arg(0);
    bool all_codes = refs[refine::try_::all] >= 0;
    Cell try_word;
    cell::make(&try_word, Type::word, context::global, static_cast<uint32_t>(symbol::make("try")),
               static_cast<uint32_t>(-1));
    if (all_codes) stack::mark_try_all(&try_word);
    else stack::mark_try(&try_word);
    try {
        interpreter::eval_block(&block, true);
    } catch (const runtime::Throw& t) {
        if (t.code != runtime::throw_error) {
            if (!all_codes || !interpreter::is_exit_code(t.code)) throw;
            pending = t.code;
        } else {
            // The error unrolled to here and popped the try frame; it is the newest cell.
            stack::keep_error_result();
            error::capture_stack(stack::arguments_base);
            return;
        }
    }
    if (pending) {
        if (!all_codes) return;  // break, continue, return, exit and throw pass on
        // A throw left its value and then its name: the value is the result.
        if (pending == runtime::throw_throw) --stack::arguments_top;
        pending = 0;
    }
    stack::unwind_last();
}

}  // namespace zuv::natives
