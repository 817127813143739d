// Trace events: the tracer is called with the event word, the code, the position, the value,
// the naming value and the stack extent, never while it runs itself.
#include "evaluator/trace.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv::interpreter {

uint32_t tracer_armed = 0;
bool trace_library = false;

namespace {

int32_t tracer_index = -1;  // the tracer cell's index in the root block
uint32_t mask = 0;

constexpr const char* event_names[] = {"init", "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
                                       "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};

int32_t bit_index(uint32_t bit) {
    int32_t i = 0;
    while (bit > 1) {
        bit >>= 1;
        ++i;
    }
    return i;
}

bool any_code(const Cell* c) {
    switch (c->type()) {
        case Type::block: case Type::paren: case Type::path: case Type::set_path: case Type::get_path:
        case Type::lit_path:
            return true;
        default:
            return false;
    }
}

bool library_code(const Cell* code) {
    return any_code(code) && (series::buffer(code)->flags & memory::flag::library);
}

Cell word_of_symbol(int32_t symbol) {
    Cell w;
    cell::make(&w, Type::word, context::global, static_cast<uint32_t>(symbol), static_cast<uint32_t>(-1));
    return w;
}

// The symbols of the event words and of the tracer's frame, looked up once: a profiler
// hears hundreds of thousands of events.
int32_t event_symbol(int32_t index) {
    static int32_t symbols[17] = {};
    if (!symbols[index]) symbols[index] = symbol::make(index < 16 ? event_names[index] : "<interp-callback>");
    return symbols[index];
}

}  // namespace

Cell* tracer_cell() {
    if (tracer_index < 0) {
        tracer_index = series::buffer_length(&block::root);
        block::alloc_tail_cell(&block::root);
        *block::cell_at(&block::root, tracer_index) = none::shared;
    }
    return block::cell_at(&block::root, tracer_index);
}

uint32_t trace_mask_of(const Cell* tracer) {
    if (!tracer->is(Type::function)) return event::all;
    Cell body = function::series_cells(tracer)[0];
    if (!body.is(Type::block) || series::length(&body) == 0) return event::all;
    Cell first = *block::head(&body);
    if (!first.is(Type::block)) return event::all;
    uint32_t bits = 0;
    int32_t n = series::length(&first);
    for (int32_t i = 0; i < n; ++i) {
        Cell* w = block::head(&first) + i;
        if (!w->is(Type::word)) continue;
        int32_t sym = symbol::resolve(w->int2());
        for (int32_t k = 0; k < 16; ++k)
            if (symbol::resolve(symbol::make(event_names[k])) == sym) bits |= 1u << k;
    }
    return bits;
}

void fire_event(uint32_t event, const Cell* code, int32_t position, const Cell* ref, const Cell* value) {
    if (!(mask & event)) return;
    if (code && !trace_library && library_code(code)) return;
    Cell tracer = *tracer_cell();
    if (!tracer.is(Type::function)) return;
    Cell* saved_top = stack::arguments_top;
    stack::CallFrame* saved_calls = stack::calls_top;
    int32_t base_index = static_cast<int32_t>(stack::arguments_base - stack::arguments_bottom);
    int32_t top_index = static_cast<int32_t>(stack::arguments_top - stack::arguments_bottom);
    // The cell just above the top may hold a value still wanted (an operator's left operand
    // waits there): it is kept aside while the tracer uses the stack, and put back after.
    Cell kept = *saved_top;
    Cell args[6];
    args[0] = word_of_symbol(event_symbol(bit_index(event)));
    args[1] = code && any_code(code) ? *code : none::shared;
    int32_t index = -1;
    if (args[1].is(Type::block) || args[1].is(Type::paren) || code) {
        if (code && position >= 0) {
            int32_t relative = position - code->int1();
            if (relative >= 0 && position <= series::buffer_length(code)) index = relative;
        }
    }
    cell::make(&args[2], Type::integer, 0, static_cast<uint32_t>(index));
    args[3] = value ? *value : none::shared;
    bool named = event == event::set || event == event::epilog || event == event::prolog ||
                 event == event::return_ || event == event::call;
    args[4] = named && ref ? *ref : none::shared;
    cell::make(&args[5], Type::pair, 0, static_cast<uint32_t>(base_index), static_cast<uint32_t>(top_index));
    Cell name = word_of_symbol(event_symbol(16));
    uint32_t saved_tracing = tracing;
    tracing = 0;  // the tracer itself is never traced
    Cell result;
    apply_function(&tracer, &name, args, 6, &result);  // a throw or error goes on at once
    tracing = saved_tracing;
    stack::arguments_top = saved_top;
    stack::calls_top = saved_calls;
    *saved_top = kept;
}

bool install_tracer(const Cell* tracer) {
    if (tracer_armed) return false;
    mask = trace_mask_of(tracer);
    *tracer_cell() = *tracer;
    tracing = tracer_armed = 1;
    fire_event(event::init, nullptr, -1, nullptr, nullptr);
    return true;
}

void remove_tracer(bool finished) {
    if (tracing && finished) fire_event(event::end, nullptr, -1, nullptr, nullptr);
    *tracer_cell() = none::shared;
    tracing = tracer_armed = 0;
    trace_library = false;
    mask = 0;
}

void set_tracing(bool on) { tracing = on && tracer_armed ? 1 : 0; }

void mark_library_code(const Cell* block) {
    if (!any_code(block) || !series::node(block)) return;
    memory::SeriesBuffer* b = series::buffer(block);
    if (b->flags & memory::flag::library) return;  // marked already: blocks may be shared or cyclic
    b->flags |= memory::flag::library;
    int32_t n = series::buffer_length(block);
    // Nothing here allocates, so the buffer stays where it is through the walk.
    for (int32_t i = 0; i < n; ++i) mark_library_code(block::cell_at(block, i));
}

bool callback_traced(uint32_t kind) {
    Cell* bits = object::system_field({"state", "callbacks", "bits"});
    return bits && bits->is(Type::integer) && (static_cast<uint32_t>(bits->int2()) & kind);
}

}  // namespace zuv::interpreter
