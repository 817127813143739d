// Call traces: the names of the calls in progress, read from the call stack for error
// reports (the "*** Stack:" line, the stack field of a caught error) and for the debugger.
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/symbol.h"
#include "memory/stack.h"

namespace zuv::stack {

namespace {

bool named(const CallFrame* f) {
    uint32_t sym = frame_symbol(f);
    return sym != body_symbol && sym != anon_symbol;
}

Cell frame_word(const CallFrame* f, Ref ctx) {
    Cell w;
    cell::make(&w, Type::word, ctx, frame_symbol(f), static_cast<uint32_t>(-1));
    return w;
}

// A frame the traces show: named, and at level 1 calling a function! (not a native).
bool traced(const CallFrame* f, int32_t level) {
    if (!named(f)) return false;
    if (level > 1) return true;
    Ref ctx = f->word_context ? f->word_context : context::global;
    Cell* v = context::get_value_slot(static_cast<int32_t>(frame_symbol(f)), ctx);
    return v && v->is(Type::function);
}

}  // namespace

void collect_calls(Cell* block) {
    for (CallFrame* f = calls_top - 1; f >= calls_bottom; --f) {
        if (f == calls_bottom && f != calls_top - 1) break;
        if (!named(f)) continue;
        // Bound as the call's word was, so that its value is the function called.
        Ref ctx = f->word_context ? f->word_context : context::global;
        int32_t sym = static_cast<int32_t>(frame_symbol(f));
        int32_t i = context::find_word(ctx, sym, true);
        if (i < 0 && ctx != context::global) i = context::find_word(ctx = context::global, sym, true);
        Cell w = frame_word(f, ctx);
        if (i >= 0) word::set_index(&w, word::index_of(context::word_at(ctx, i)));
        block::append(block, &w);
        Cell position;
        cell::make(&position, Type::integer, 0, static_cast<uint32_t>(reinterpret_cast<Cell*>(memory::at(f->saved_base)) - arguments_bottom));
        block::append(block, &position);
    }
}

void collect_call_words(int32_t level, Cell* block, int32_t end) {
    CallFrame* last = calls_bottom + end;
    if (last > calls_end) last = calls_end;
    for (CallFrame* f = calls_bottom; f < last; ++f) {
        if (!traced(f, level)) continue;
        Cell w = frame_word(f, f->word_context);
        block::append(block, &w);
    }
}

int32_t mold_call_trace(int32_t level, int32_t end, Cell* string, int32_t budget) {
    CallFrame* last = calls_bottom + end;
    if (last > calls_end) last = calls_end;
    for (CallFrame* f = calls_bottom; f < last && budget > 0; ++f) {
        if (!traced(f, level)) continue;
        int32_t sym = static_cast<int32_t>(frame_symbol(f));
        string::append_utf8(string, symbol::name(sym));
        string::append_ascii(string, " ");
        int32_t chars = 0;
        for (const char* c = symbol::name(sym); *c; ++c) chars += (*c & 0xC0) != 0x80;
        budget -= chars + 1;
    }
    return budget;
}

}  // namespace zuv::stack
