// The interpreter: block and expression evaluation.
#include "evaluator/interpreter.h"
#include "evaluator/plain-expression.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "memory/collector.h"
#include "memory/upcalls.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "evaluator/trace.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::interpreter {

Cell current_block;
uint32_t tracing = 0;
uint32_t pending = 0;
Cell body_word;
Cell anon_word;
Cell set_path_word;

namespace {

inline Cell* cell_at(const Cell* block, int32_t i) { return block::cell_at(block, i); }

// Where a finished expression's value goes: pushed for a sub-expression, else written
// into the frame's result slot.
inline void emit(const Cell& v, bool sub) {
    if (sub) stack::push(&v);
    else stack::keep_last(&v);
}

inline void close_frame(bool sub) {
    if (sub) stack::unwind();
    else stack::unwind_last();
}

// Parens run without frames, so parens nested in parens (a paren can even hold itself) are
// counted here and refused past the depth the frames' own stack allows.
uint32_t paren_depth = 0;
struct ParenDepth {
    ParenDepth() {
        if (++paren_depth > static_cast<uint32_t>(stack::call_cells)) [[unlikely]] {
            --paren_depth;
            stack::overflow();
        }
    }
    ~ParenDepth() { --paren_depth; }
};

inline bool is_function(Type t) { return in_family(family::applicable, t); }

// Pushes the value an assignment stores: the plain one already worked out (after >= 0 is the
// position past it), else the next expression's. Gives the position after it.
inline int32_t push_assigned(const Cell* block, int32_t pos, int32_t end, int32_t after, const Cell& plain) {
    if (after < 0) return eval_expression(block, pos, end, false, true, false);
    stack::push(&plain);
    return after;
}

// The assignment of a set-word (its cell, pos just past it) and the position after it. A
// plain value is stored in place, with no frame and nothing that can fail; anything else takes
// the full way. Either way the value's expression took every operator after it, so the caller
// has no infix step to take.
[[gnu::noinline]] int32_t assign_full(const Cell* word, const Cell* block, int32_t pos, int32_t end, bool sub,
                                      int32_t after, const Cell& plain) {
    Cell value = *word;  // before anything runs that may move the cell
    stack::mark_interp_native(&value);
    stack::push(&value);
    if (tracing) [[unlikely]] fire_event(event::push, block, pos, nullptr, &value);
    if (pos >= end) error::raise(error::id::script_need_value, &value);
    pos = push_assigned(block, pos, end, after, plain);
    if (pending) return pos;
    Cell* frame = stack::arguments_base;
    if (frame[1].is(Type::unset)) error::raise(error::id::script_need_value, &frame[0]);
    Cell v = frame[1];
    if (tracing) [[unlikely]] fire_event(event::set, block, pos, &frame[0], &v);
    context::set(&frame[0], &v);
    stack::keep_last(&v);
    close_frame(sub);
    return pos;
}
[[gnu::always_inline]] inline int32_t assign(const Cell* word, const Cell* block, int32_t pos, int32_t end, bool sub) {
    Cell plain;
    int32_t after = -1;
    if (!tracing && pos < end) {
        after = simple_expression(block, pos, end, false, &plain);
        if (after >= 0 && context::set_in_place(word, &plain)) {
            emit(plain, sub);
            return after;
        }
    }
    return assign_full(word, block, pos, end, sub, after, plain);
}

// One expression of a block run in turn; an assignment goes straight to its own step. (A
// tracer, even one that the block's own code starts, hears every step from the evaluator.)
[[gnu::always_inline]] inline int32_t eval_statement(const Cell* block, int32_t pos, int32_t tail, bool sub) {
    const Cell* at = cell_at(block, pos);
    if (!tracing && at->is(Type::set_word)) return assign(at, block, pos + 1, tail, sub);
    return eval_expression(block, pos, tail, false, sub, false);
}

}  // namespace

void init() {
    forget_functions_seen();
    collector::add_mark_callback(forget_functions_seen);
    upcall::calls.apply = apply_function;
    upcall::calls.run_body = [](Cell* block) {
        stack::mark_native(&body_word);
        eval_block(block, true);
    };
    upcall::calls.pending = &pending;
    upcall::calls.current_block = &current_block;
    upcall::calls.error_made = [](Cell* error) {
        if (!tracing) [[likely]]
            return;
        uint32_t code = pending;  // kept aside during the event
        pending = 0;
        fire_event(event::error, nullptr, -1, nullptr, error);
        pending = code;
    };
    *tracer_cell() = none::shared;
    cell::make(&current_block, Type::unset);
    auto word = [](Cell* w, const char* name) {
        cell::make(w, Type::word, context::global, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    };
    word(&body_word, "<body>");
    word(&anon_word, "<anon>");
    word(&set_path_word, "set-path");
}

bool simple_paren(const Cell* paren, Cell* out) {
    int32_t pos = paren->int1();
    int32_t tail = block::buffer_length(paren);
    if (pos >= tail) return false;
    const Cell* first = cell_at(paren, pos);
    if (first->is(Type::paren) || !simple_operand(first, out)) return false;
    return simple_operators(paren, pos + 1, tail, out) == tail;
}

bool is_exit_code(uint32_t code) {
    return code == runtime::throw_break || code == runtime::throw_continue || code == runtime::throw_return ||
           code == runtime::throw_exit || code == runtime::throw_throw;
}

[[noreturn]] void throw_pending() {
    uint32_t code = pending;
    pending = 0;
    runtime::throw_code(code);
}

void eval_block(const Cell* block, bool keep_last) {
    stack::mark_interp_eval(&body_word);
    eval_block_in_frame(block);
    if (pending) [[unlikely]]
        return;  // the exit already took the frames down to its target
    close_frame(!keep_last);
}

void eval_block_in_frame(const Cell* block) {
    Cell blk = *block;
    int32_t head = blk.int1();
    int32_t tail = block::buffer_length(&blk);
    if (head >= tail) {
        if (stack::arguments_top == stack::arguments_base) stack::push_slot();
        cell::make(stack::arguments_base, Type::unset);
        if (tracing) [[unlikely]] {
            fire_event(event::enter, &blk, head, nullptr, nullptr);
            fire_event(event::exit, &blk, tail, nullptr, stack::arguments_base);
        }
        return;
    }
    Cell saved = current_block;
    current_block = blk;
    if (tracing) [[unlikely]] fire_event(event::enter, &blk, head, nullptr, nullptr);
    int32_t pos = head;
    while (pos < tail) {
        series::set_head(&current_block, pos);
        pos = eval_statement(&blk, pos, tail, false);
        if (pending) [[unlikely]] {
            current_block = saved;
            return;
        }
        if (tracing) [[unlikely]] fire_event(event::expr, &blk, pos, nullptr, stack::arguments_base);
        if (pos < tail) stack::reset();
    }
    if (tracing) [[unlikely]] fire_event(event::exit, &blk, tail, nullptr, stack::arguments_base);
    current_block = saved;
}

void eval_block_pushed(const Cell* block) {
    Cell blk = *block;
    int32_t pos = blk.int1();
    int32_t tail = block::buffer_length(&blk);
    Cell* mark = stack::arguments_top;
    if (pos >= tail) {
        unset::push();
        return;
    }
    Cell saved = current_block;
    current_block = blk;
    for (;;) {
        series::set_head(&current_block, pos);
        pos = eval_statement(&blk, pos, tail, true);
        if (pending) [[unlikely]]
            break;
        if (pos >= tail) break;
        stack::arguments_top = mark;
    }
    current_block = saved;
}

int32_t eval_next(const Cell* block, int32_t pos, int32_t end, bool sub) {
    stack::mark_interp_native(&body_word);
    pos = eval_expression(block, pos, end, false, true, false);
    if (pending) return pos;
    close_frame(sub);
    return pos;
}

int32_t do_next(const Cell* block) {
    Cell blk = *block;
    int32_t head = blk.int1();
    int32_t tail = block::buffer_length(&blk);
    if (head >= tail) {
        unset::box();
        return head;
    }
    // In a frame of its own, as for a whole block: an operator's left operand is the frame's
    // result, not a cell of the caller's arguments.
    Cell saved = current_block;
    stack::mark_interp_eval(&body_word);
    current_block = blk;
    int32_t pos = eval_expression(&blk, head, tail, false, false, false);
    current_block = saved;
    if (pending) return pos;
    close_frame(false);
    return pos;
}

int32_t eval_expression(const Cell* block, int32_t pos, int32_t end, bool no_infix, bool sub, bool no_call) {
    Cell* top_at_entry = stack::arguments_top;
    Cell value = *cell_at(block, pos);
    if (tracing) [[unlikely]] fire_event(event::fetch, block, pos, nullptr, &value);
    // The produced value is reported once: a call reports its result by its return event, a
    // paren by its exit, an assignment by its set.
    bool report = true;
    switch (value.type()) {
        case Type::paren:
            report = false;
            if (tracing) [[unlikely]] {
                stack::mark_interp_native(&body_word);
                eval_block(&value, true);
                if (pending) return pos;
                close_frame(sub);
            } else {
                // No frame of its own: the paren is held by the block being run.
                ParenDepth depth;
                eval_block_pushed(&value);
                if (pending) return pos;
                if (!sub) stack::keep_last(stack::arguments_top - 1);
            }
            ++pos;
            break;
        case Type::set_word:
            return assign(&value, block, pos + 1, end, sub);
        case Type::set_path: {
            report = false;
            ++pos;
            if (tracing) [[unlikely]] fire_event(event::push, block, pos, nullptr, &value);
            if (pos >= end) error::raise(error::id::script_need_value, &value);
            Cell plain;
            int32_t after = tracing ? -1 : simple_expression(block, pos, end, false, &plain);
            if (after >= 0 && set_plain_path(&value, &plain)) {
                emit(plain, sub);
                return after;  // as for a set-word
            }
            stack::mark_interp_native(&set_path_word);
            pos = push_assigned(block, pos, end, after, plain);
            if (pending) return pos;
            if (tracing) [[unlikely]] fire_event(event::set, block, pos, &value, stack::top());
            eval_path(&value, block, pos, end, true, false, false);
            if (pending) return pos;
            close_frame(sub);
            break;
        }
        case Type::get_word:
            emit(*context::get(&value), sub);
            ++pos;
            break;
        case Type::lit_word:
            value.set_type(Type::word);
            emit(value, sub);
            ++pos;
            break;
        case Type::word: {
            Cell v = *context::get(&value);
            ++pos;
            switch (v.type()) {
                case Type::unset:
                    error::raise(error::id::script_no_value, &value);
                // call_named's cases, each taken here at once.
                case Type::native: case Type::action:
                    report = false;
                    pos = tracing ? call_any_function(&v, block, pos, end, sub, nullptr, 0, &value, nullptr, 0, false)
                                  : call_native(&v, block, pos, end, sub, &value);
                    if (pending) return pos;
                    break;
                case Type::function:
                    report = false;
                    pos = tracing ? call_any_function(&v, block, pos, end, sub, nullptr, 0, &value, nullptr, 0, false)
                                  : call_plain_function(&v, block, pos, end, sub, &value);
                    if (pending) return pos;
                    break;
                case Type::routine:
                    report = false;
                    pos = call_any_function(&v, block, pos, end, sub, nullptr, 0, &value, nullptr, 0, false);
                    if (pending) return pos;
                    break;
                case Type::op:
                    error::raise(error::id::script_no_op_arg, &value);
                default:
                    emit(v, sub);
            }
            break;
        }
        case Type::path:
            ++pos;
            pos = eval_path(&value, block, pos, end, false, false, sub);
            if (pending) return pos;
            break;
        case Type::get_path:
            ++pos;
            pos = eval_path(&value, block, pos, end, false, true, sub);
            if (pending) return pos;
            break;
        case Type::lit_path:
            value.set_type(Type::path);
            block::set_hash_table(&value, 0);
            emit(value, sub);
            ++pos;
            break;
        case Type::op:
            error::raise(error::id::internal_not_done);
        case Type::native: case Type::action: case Type::function: case Type::routine:
            ++pos;
            if (no_call) {
                emit(value, sub);
            } else {
                report = false;
                pos = call_any_function(&value, block, pos, end, sub, nullptr, 0, &anon_word, nullptr, 0, false);
                if (pending) return pos;
            }
            break;
        case Type::issue: {
            if (pos + 1 < end && cell_at(block, pos + 1)->is(Type::block)) {
                const char* n = symbol::name(word::symbol_of(&value));
                std::string_view name(n);
                if (name == "system" || name == "system-global") error::raise(error::id::internal_zuv_system);
            }
            emit(value, sub);
            ++pos;
            break;
        }
        default:
            emit(value, sub);
            ++pos;
    }

    if (tracing && report) [[unlikely]]
        fire_event(event::push, block, pos, nullptr, sub ? stack::top() : stack::arguments_base);

    // Infix: an operator after a complete expression takes its value as left operand.
    if (!no_infix) {
        while (pos < end) {
            const Cell* next = cell_at(block, pos);
            const Cell* named = operator_named(next);
            if (!named) break;
            Cell op_word = *next;
            Cell fn = op::function_of(named);
            if (tracing) [[unlikely]] fire_event(event::fetch, block, pos, nullptr, &op_word);
            if (!tracing && infix_integer(fn.type(), function::series_of(&fn), top_at_entry, pos + 1 < end ? next + 1 : nullptr)) {
                stack::arguments_top = top_at_entry + 1;
                if (!sub) *stack::arguments_base = *top_at_entry;
                pos += 2;
                continue;
            }
            stack::arguments_top = top_at_entry;
            pos = tracing ? call_any_function(&fn, block, pos + 1, end, sub, nullptr, 0, &op_word, nullptr, 0, true)
                          : call_operator(&fn, block, pos + 1, end, sub, &op_word);
            if (pending) return pos;
        }
    }
    return pos;
}

}  // namespace zuv::interpreter
