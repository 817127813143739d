// Argument stack and call stack: opening and closing frames, pushing and popping cells,
// and the unrolling that errors and non-local exits do before they leave C++ code.
#include "memory/stack.h"

#include "memory/context-node.h"
#include "memory/error.h"
#include "memory/collector.h"
#include "memory/cycle-stack.h"
#include "memory/memory.h"
#include <algorithm>
#include <cstdlib>

#include "runtime/entry.h"
#include "runtime/stdio.h"
#include "runtime/throw.h"

namespace zuv::stack {

Cell* arguments_bottom = nullptr;
Cell* arguments_base = nullptr;
Cell* arguments_top = nullptr;
Cell* arguments_end = nullptr;
CallFrame* calls_bottom = nullptr;
CallFrame* calls_top = nullptr;
CallFrame* calls_end = nullptr;
CallFrame* saved_call_top = nullptr;
uint32_t body_symbol = 0;
uint32_t anon_symbol = 0;
uint32_t not_found_symbol = 0;
Cell argument_series;
Cell call_series;
ErrorHooks error_hooks = {nullptr, nullptr};

namespace {

using memory::at;
using memory::ref;

// Cells kept past arguments_end for making and throwing the overflow error itself. The cells
// below the top belong to live frames (those of the catching try among them), so the error
// is made above them, never over them.
constexpr int32_t argument_reserve = 256;

Cell* reserve_end() { return reinterpret_cast<Cell*>(memory::buffer_of(argument_series.data2)->data_end()); }

}  // namespace

void overflow() {
    cycle_stack::reset();
    Cell* end = reserve_end();
    if (arguments_end == end) {
        // Overflowing again while the error is made (a tracer running out of room): the
        // frames above the newest call are given up to make it.
        arguments_top = std::max(arguments_base, end - argument_reserve);
        error::raise(error::id::internal_stack_overflow);
    }
    // The reserve is open while the error is made and thrown; the catch site finds the
    // limit back in place and its top at or below it once it keeps the error.
    struct Close {
        Cell* limit;
        ~Close() { arguments_end = limit; }
    } close{arguments_end};
    arguments_end = end;
    error::raise(error::id::internal_stack_overflow);
}

namespace {

inline Cell* values_of(Ref context) { return context::cell_of(context); }

// Writes a function-body frame's saved values pointer back into its context, so that the
// outer call of a recursion sees its own values again.
inline void restore(const CallFrame* f) {
    if (f->function_context) values_of(f->function_context)->data2 = f->saved_values;
}

inline Cell* base_of(const CallFrame* f) { return reinterpret_cast<Cell*>(at(f->saved_base)); }

struct Saved {
    Cell* base;
    Cell* top;
    CallFrame* calls;
    void restore() const {
        arguments_base = base;
        arguments_top = top;
        calls_top = calls;
    }
};

}  // namespace

void make_series() {
    Ref args = memory::alloc_fixed_series(argument_cells + argument_reserve, 16, 0);
    Ref calls = memory::alloc_fixed_series(call_cells, 16, 0);
    cell::make(&argument_series, Type::block, 0, args, 0);
    cell::make(&call_series, Type::block, 0, calls, 0);
    collector::register_fixed(memory::buffer_ref(args));
    collector::register_fixed(memory::buffer_ref(calls));
}

void init() {
    memory::SeriesBuffer* a = memory::buffer_of(argument_series.data2);
    memory::SeriesBuffer* c = memory::buffer_of(call_series.data2);
    arguments_bottom = arguments_base = arguments_top = reinterpret_cast<Cell*>(a->head_ptr());
    arguments_end = arguments_bottom + argument_cells;
    calls_bottom = calls_top = reinterpret_cast<CallFrame*>(c->head_ptr());
    calls_end = calls_bottom + c->capacity / sizeof(CallFrame);
    saved_call_top = nullptr;
    collector::add_mark_callback(mark_live);
}

// Frames ---------------------------------------------------------------------------------


void mark_func_body(const Cell* word, Ref context) {
    mark(word, kind::func_body);
    if (context) {
        CallFrame* f = calls_top - 1;
        f->function_context = context;
        f->saved_values = values_of(context)->data2;
    }
}

void set_func_flag(bool flag) {
    CallFrame* f = calls_top - 1;
    if (flag) f->header |= kind::func_flag;
    else f->header &= ~kind::func_flag;
}

void clear_func_flag(CallFrame* frame) {
    if (frame) frame->header &= ~kind::func_flag;
}

bool interpreted_q(CallFrame* start, bool single) {
    CallFrame* f = (start ? start : calls_top) - 1;
    if (single) return f >= calls_bottom && (f->header & kind::interp_flag);
    for (; f >= calls_bottom; --f)
        if (f->header & kind::interp_flag) return true;
    return false;
}

// Argument stack -------------------------------------------------------------------------



void pop(int32_t n) {
    arguments_top = (arguments_top - arguments_bottom) > n ? arguments_top - n : arguments_bottom;
}

Cell* keep() {
    arguments_top = arguments_base + 1;
    return arguments_base;
}

Cell* set_last(const Cell* cell) {
    *arguments_base = *cell;
    return arguments_base;
}


void keep_error_result() {
    if (arguments_top > arguments_base && top()->is(Type::error)) {
        Cell e = *top();
        *arguments_base = e;
        arguments_top = arguments_base + 1;
    }
}


// Call information -----------------------------------------------------------------------

void get_call_word(Cell* out) {
    CallFrame* from = saved_call_top ? saved_call_top : calls_top;
    saved_call_top = nullptr;
    for (CallFrame* f = from - 1; f >= calls_bottom; --f) {
        uint32_t sym = frame_symbol(f);
        if (sym == body_symbol || sym == anon_symbol) continue;
        cell::make(out, Type::word, f->word_context, sym, static_cast<uint32_t>(-1));
        return;
    }
    cell::make(out, Type::word, 0, not_found_symbol, static_cast<uint32_t>(-1));
}

// Unrolling ------------------------------------------------------------------------------

CallFrame* unroll_frames(uint32_t wanted, bool keep) {
    Cell* entry_base = arguments_base;
    CallFrame* found = nullptr;
    while (calls_top > calls_bottom) {
        CallFrame* f = calls_top - 1;
        uint32_t k = frame_kind(f);
        if (k == (wanted & kind::mask) || k == kind::try_all) {
            found = f;
            break;
        }
        --calls_top;
        restore(f);
        arguments_base = base_of(f);
    }
    if (!found) {
        arguments_base = arguments_top = arguments_bottom;
        return nullptr;
    }
    arguments_top = entry_base + 1;
    if (!keep) arguments_base = base_of(found);
    return found;
}

void unroll(uint32_t wanted) {
    Cell result = *arguments_base;
    CallFrame* f = unroll_frames(wanted, true);
    if (!f) return;
    *arguments_base = result;
    arguments_top = arguments_base + 1;
}

[[noreturn]] void throw_error(Cell* error_cell) {
    Cell error = *error_cell;
    CallFrame* popped = nullptr;
    if (calls_top > calls_bottom) {
        if (error_hooks.before_unroll) error_hooks.before_unroll(&error);
        Cell* remembered = arguments_top;
        popped = unroll_frames(kind::try_, false);
        if (popped) --calls_top;  // the try frame goes too
        arguments_top = remembered;
    }
    if (calls_top == calls_bottom &&
        (!popped || (frame_kind(popped) != kind::try_ && frame_kind(popped) != kind::try_all))) {
        *arguments_base = error;
        // Nothing below is needed any more: the hook gets the whole stack (an overflow of
        // the argument stack is the error it may have to report). An error raised while the
        // hook reports goes back to the hook's own handler rather than into the hook again.
        arguments_top = arguments_base + 1;
        static bool reporting = false;
        if (error_hooks.uncaught && !reporting) {
            reporting = true;
            try {
                error_hooks.uncaught(arguments_base);
            } catch (...) {
                reporting = false;
                throw;
            }
            reporting = false;
        }
        // Nothing took it: C++ code that called in without a try (tests, start-up) gets it.
        arguments_top = arguments_base + 1;
        runtime::throw_code(runtime::throw_error);
    }
    *push_slot() = error;
    runtime::throw_code(runtime::throw_error);
}

uint32_t unroll_break(bool value, bool continue_) {
    Saved saved{arguments_base, arguments_top, calls_top};
    Cell result = *arguments_base;
    CallFrame* found = nullptr;
    while (calls_top > calls_bottom) {
        CallFrame* f = calls_top - 1;
        uint32_t k = frame_kind(f);
        if (k == kind::loop) {
            found = f;
            break;
        }
        if (k == kind::try_all) break;
        --calls_top;
        restore(f);
        arguments_base = base_of(f);
    }
    if (!found) {
        saved.restore();
        error::raise(continue_ ? error::id::throw_continue : error::id::throw_break);
    }
    arguments_top = arguments_base;
    if (value && !continue_) *arguments_base = result;
    else cell::make(arguments_base, Type::unset);
    return continue_ ? runtime::throw_continue : runtime::throw_break;
}

[[noreturn]] void throw_break(bool value, bool continue_) { runtime::throw_code(unroll_break(value, continue_)); }

uint32_t unroll_return(bool value, bool own_frame) {
    Saved saved{arguments_base, arguments_top, calls_top};
    Cell result = *arguments_base;
    if (!own_frame && calls_top > calls_bottom) {
        CallFrame* f = calls_top - 1;
        if (frame_kind(f) == kind::try_all) error::raise(error::id::throw_return);
        --calls_top;
        restore(f);
        arguments_base = base_of(f);
    }
    CallFrame* found = nullptr;
    while (calls_top > calls_bottom) {
        CallFrame* f = calls_top - 1;
        if (f->header & kind::func_flag) {
            found = f;
            break;
        }
        if (frame_kind(f) == kind::try_all) break;
        --calls_top;
        restore(f);
        arguments_base = base_of(f);
    }
    if (!found) {
        saved.restore();
        error::raise(error::id::throw_return);
    }
    arguments_top = arguments_base;
    if (value) *arguments_base = result;
    else cell::make(arguments_base, Type::unset);
    return value ? runtime::throw_return : runtime::throw_exit;
}

[[noreturn]] void throw_return(bool value, bool own_frame) { runtime::throw_code(unroll_return(value, own_frame)); }

uint32_t unroll_value(uint32_t code) {
    Saved saved{arguments_base, arguments_top, calls_top};
    Cell thrown = arguments_base[0];
    Cell name = arguments_base + 1 < arguments_top ? arguments_base[1] : Cell{static_cast<uint32_t>(Type::none), 0, 0, 0};
    CallFrame* found = nullptr;
    bool first = true;
    while (calls_top > calls_bottom) {
        CallFrame* f = calls_top - 1;
        uint32_t k = frame_kind(f);
        // A try/all barrier takes a throw as a catch does: its value becomes the try's result.
        if (k == kind::catch_ || k == kind::try_all) {
            found = f;
            break;
        }
        if (first && !saved_call_top) saved_call_top = calls_top;
        first = false;
        --calls_top;
        restore(f);
        arguments_base = base_of(f);
    }
    if (!found) {
        saved.restore();
        error::raise(error::id::throw_throw, &thrown);
    }
    arguments_top = arguments_base;
    *push_slot() = thrown;
    *push_slot() = name;
    return code;
}

[[noreturn]] void throw_value(uint32_t code) { runtime::throw_code(unroll_value(code)); }

// Collector ------------------------------------------------------------------------------

void mark_live() {
    if (!arguments_bottom) return;
    collector::keep_block(&argument_series);
    collector::keep_block(&call_series);
    collector::mark_cells(arguments_bottom, arguments_top);
    for (CallFrame* f = calls_bottom; f < calls_top; ++f) {
        if (f->word_context) {
            if (collector::self_symbol && frame_symbol(f) == collector::self_symbol) {
                Ref r = f->word_context;
                collector::keep_series(&r);
                f->word_context = r;
            } else {
                collector::keep_context(&f->word_context);
            }
        }
        if (f->function_context) {
            collector::keep_context(&f->function_context);
            Cell* ctx = context::cell_of(f->function_context);
            if (!context::on_stack(ctx) && f->saved_values) collector::keep_series(&f->saved_values);
        }
    }
}

}  // namespace zuv::stack
