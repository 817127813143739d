// Argument stack and call stack. Calls pass values on one stack of cells and record each
// call in a small frame naming the called word and the kind of construct (function body,
// native, try, catch, loop...), which is what errors and non-local exits unroll to. Both
// stacks are fixed buffers: pointers to their cells stay valid.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"
#include "runtime/system.h"

namespace zuv::stack {

struct CallFrame {
    uint32_t header;          // naming symbol << 8 | kind and flags
    Ref saved_base;           // the arguments base when the frame was opened
    Ref word_context;         // context of the naming word
    Ref function_context;     // function-body frames: the function's context, else 0
    Ref saved_values;         // its values pointer when the frame was opened
};
static_assert(sizeof(CallFrame) == 20);

namespace kind {
constexpr uint32_t mask = 0x0F000000;
constexpr uint32_t func_body = 0x01000000;
constexpr uint32_t native = 0x02000000;
constexpr uint32_t func = 0x12000000;      // the target of return and exit
constexpr uint32_t try_ = 0x04000000;
constexpr uint32_t try_all = 0x05000000;   // a barrier every unroll stops at
constexpr uint32_t catch_ = 0x06000000;
constexpr uint32_t interp_eval = 0x87000000;
constexpr uint32_t loop = 0x08000000;
constexpr uint32_t kind9 = 0x09000000;
constexpr uint32_t interp_native = 0x82000000;
constexpr uint32_t interp_func = 0x81000000;
constexpr uint32_t func_flag = 0x10000000;
constexpr uint32_t interp_flag = 0x80000000;
}  // namespace kind

constexpr int32_t argument_cells = 20000;
constexpr int32_t call_cells = 15000;

extern Cell* arguments_bottom;
extern Cell* arguments_base;
extern Cell* arguments_top;
extern Cell* arguments_end;  // where pushes stop: a reserve for the overflow error lies past it
extern CallFrame* calls_bottom;
extern CallFrame* calls_top;
extern CallFrame* calls_end;
extern CallFrame* saved_call_top;
extern uint32_t body_symbol;
extern uint32_t anon_symbol;
extern uint32_t not_found_symbol;
extern Cell argument_series;  // the two fixed series, as block cells (collector roots)
extern Cell call_series;

inline uint32_t frame_kind(const CallFrame* f) { return f->header & kind::mask; }
inline uint32_t frame_symbol(const CallFrame* f) { return (f->header >> 8) & 0xFFFF; }

// Makes the two fixed series (start-up) and sets the pointers over them.
void make_series();
void init();

// Opening frames; each takes the naming word cell.
// Raises internal/stack-overflow (either stack full, or the machine stack past its limit).
[[noreturn, gnu::cold, gnu::noinline]] void overflow();

// Every call opens and closes frames and pushes cells: these stay inline.
inline void mark(const Cell* word, uint32_t flags) {
    if (calls_top >= calls_end || reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < runtime::stack_limit)
        [[unlikely]]
        overflow();
    CallFrame* f = calls_top++;
    f->header = (word->data2 << 8) | flags;
    f->saved_base = memory::ref(arguments_base);
    f->word_context = word->data1;
    f->function_context = 0;
    f->saved_values = 0;
    arguments_base = arguments_top;
}
void mark_func_body(const Cell* word, Ref context);
inline void mark_native(const Cell* w) { mark(w, kind::native); }
inline void mark_try(const Cell* w) { mark(w, kind::try_); }
inline void mark_try_all(const Cell* w) { mark(w, kind::try_all); }
inline void mark_catch(const Cell* w) { mark(w, kind::catch_); }
inline void mark_interp_eval(const Cell* w) { mark(w, kind::interp_eval); }
inline void mark_loop(const Cell* w) { mark(w, kind::loop); }
inline void mark_interp_native(const Cell* w) { mark(w, kind::interp_native); }

void set_func_flag(bool flag);
void clear_func_flag(CallFrame* frame);
bool interpreted_q(CallFrame* start, bool single);

inline Cell* frame_base(const CallFrame* f) { return reinterpret_cast<Cell*>(memory::at(f->saved_base)); }
inline void unwind() {
    CallFrame* f = --calls_top;
    arguments_top = arguments_base + 1;
    arguments_base = frame_base(f);
}
// A function-body frame gives its context's values pointer back, so that the outer call of
// a recursion sees its own values again.
inline void unwind_func() {
    CallFrame* f = --calls_top;
    arguments_top = arguments_base + 1;
    arguments_base = frame_base(f);
    if (f->function_context) memory::buffer_of(f->function_context)->cells()->data2 = f->saved_values;
}
inline void unwind_func_last() {
    Cell* result = arguments_base;
    unwind_func();
    *arguments_base = *result;
}
inline void unwind_last() {
    Cell* result = arguments_base;
    unwind();
    *arguments_base = *result;
}

// Argument stack.
inline Cell* push_slot() {
    if (arguments_top + 1 >= arguments_end) [[unlikely]]
        overflow();
    return arguments_top++;
}
inline Cell* push(const Cell* cell) {
    Cell copy = *cell;  // the cell may lie in the stack's own free area
    Cell* c = push_slot();
    *c = copy;
    return c;
}
void pop(int32_t n);
inline Cell* top() { return arguments_top > arguments_bottom ? arguments_top - 1 : arguments_bottom; }
inline Cell* reset() {
    arguments_top = arguments_base;
    return arguments_base;
}
Cell* keep();
Cell* set_last(const Cell* cell);
inline void keep_last(const Cell* cell) {
    Cell copy = *cell;
    arguments_top = arguments_base + 1;
    *arguments_base = copy;
}
void keep_error_result();
inline void collapse_top() {
    if (arguments_top - arguments_bottom < 2) return;
    arguments_top[-2] = arguments_top[-1];
    --arguments_top;
}
inline CallFrame* top_frame() { return calls_top - 1; }

// Call information. get_call_word writes a word cell into out.
void get_call_word(Cell* out);

// Call traces (evaluator/call-trace.cpp). collect_calls appends, newest call first, each
// named frame's word (bound to its function's context, else the global one) and its
// arguments position. collect_call_words appends, oldest first up to the frame at index end,
// the words of named frames that call a function! (every named frame when level > 1);
// mold_call_trace forms the same words, each followed by a space, into a string within a
// budget and gives the budget left.
void collect_calls(Cell* block);
void collect_call_words(int32_t level, Cell* block, int32_t end);
int32_t mold_call_trace(int32_t level, int32_t end, Cell* string, int32_t budget);

// Unrolling. The throw_* functions end with a C++ throw of their code; the unroll_*
// functions only rearrange the stacks.
CallFrame* unroll_frames(uint32_t frame_kind, bool keep);
void unroll(uint32_t frame_kind);
[[noreturn]] void throw_error(Cell* error);
// The non-local exits: each rearranges the stacks for the construct it goes to and gives
// the code to deliver (raising the throw error when there is no such construct); the
// throw_ forms then throw it.
uint32_t unroll_break(bool value, bool continue_);
uint32_t unroll_return(bool value, bool own_frame);
uint32_t unroll_value(uint32_t code);
[[noreturn]] void throw_break(bool value, bool continue_);
[[noreturn]] void throw_return(bool value, bool own_frame);
[[noreturn]] void throw_value(uint32_t code);

// What the error machinery does around an unroll; set by the error module.
struct ErrorHooks {
    void (*before_unroll)(Cell* error);           // sets where and the stack position
    void (*uncaught)(Cell* error);                 // shows the error and ends the process; when
                                                   // unset or it returns, the error is thrown
};
extern ErrorHooks error_hooks;

// The collector's pass over the live cells and frames.
void mark_live();

}  // namespace zuv::stack
