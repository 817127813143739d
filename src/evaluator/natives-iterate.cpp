// Series iteration natives: foreach, forall, remove-each. The series copy (its index is
// the cursor) and the word or words block are pushed below the loop frame.
#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/loops.h"
#include "evaluator/natives-list.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::natives {

void set_many(Cell* words, const Cell* value, int32_t count, bool any, bool only, bool some);

namespace {

using interpreter::pending;

Cell* arg(int n) { return stack::arguments_base + n; }

bool block_like(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::hash: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::map:
            return true;
        default:
            return false;
    }
}

// An image's end is its pixel count (one with no pixels has no buffer to measure).
bool more_q(const Cell* series) {
    if (series->is(Type::image)) return image::more_q(series);
    return !series::at_tail_q(series);
}

// The item at the cursor plus offset: the cell for block-like series, else what pick gives.
Cell item_at(const Cell* series, int32_t offset) {
    Cell s = *series;
    if (block_like(s.type())) {
        if (offset < series::length(&s)) return *(block::head(&s) + offset);
        return none::shared;
    }
    auto pick = reinterpret_cast<slotfn::Pick>(datatype::action_of(s.type(), datatype::slot::pick));
    if (!pick) error::raise(error::id::internal_not_done);
    Cell* held = stack::push(&s);
    Cell index;
    cell::make(&index, Type::integer, 0, static_cast<uint32_t>(offset + 1));
    Cell r = *pick(held, offset + 1, &index);
    stack::pop(1);
    return r;
}

// Sets the words for one step and advances the cursor; false when no item remains.
bool step(Cell* series, Cell* words, int32_t n) {
    // The common step, one word over a block: its next cell, read straight from the buffer.
    if (words->is(Type::word) && series->is(Type::block)) [[likely]] {
        int32_t at = series::head(series);
        if (at >= block::buffer_length(series)) return false;
        if (at >= 0) [[likely]] {
            Cell v = *block::cell_at(series, at);
            context::set(words, &v);
            series::set_head(series, at + 1);
            return true;
        }
    }
    if (!more_q(series)) return false;
    if (words->is(Type::word)) {
        Cell v = item_at(series, 0);
        context::set(words, &v);
        series::set_head(series, series::head(series) + 1);
        return true;
    }
    if (series->is(Type::map)) {
        // The map's own step sets a key and its value, skipping removed pairs, and moves the
        // cursor past what it read.
        if (n != 2) error::raise(error::id::script_invalid_arg, words);
        return map::foreach_next(words, series);
    }
    if (block_like(series->type())) {
        set_many(words, series, n, true, false, false);
    } else {
        // Checked before any is set, as set_many does: a word cell of another kind has no
        // context to set.
        for (int32_t i = 0; i < n; ++i) {
            Cell* w = block::head(words) + i;
            if (!scalar::settable_word_q(w->type())) error::raise(error::id::script_invalid_arg, w);
        }
        for (int32_t i = 0; i < n; ++i) {
            Cell w = *(block::head(words) + i);
            Cell v = item_at(series, i);
            context::set(&w, &v);
        }
    }
    series::set_head(series, series::head(series) + n);
    return true;
}

}  // namespace

void foreach(bool, const int32_t*) {
    Cell words = *arg(0), data = *arg(1), body = *arg(2);
    int32_t n = 1;
    if (words.is(Type::block)) {
        n = series::length(&words);
        if (n < 1) error::raise(error::id::script_invalid_arg, &words);
    } else if (data.is(Type::map)) {
        error::raise(error::id::script_invalid_arg, &words);
    }
    Cell* cursor = stack::push(&data);
    Cell* word_cell = stack::push(&words);
    stack::mark_loop(&interpreter::body_word);
    unset::box();
    stack::keep();
    while (step(cursor, word_cell, n)) {
        Exit e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
    }
    stack::unwind_last();
}

void forall(bool, const int32_t*) {
    Cell word = *arg(0), body = *arg(1);
    Cell* slot = context::get(&word);
    Cell start = *slot;
    if (start.type() < Type::block || !(block_like(start.type()) || start.is(Type::string) || start.is(Type::file) ||
                                         start.is(Type::url) || start.is(Type::tag) || start.is(Type::email) ||
                                         start.is(Type::ref) || start.is(Type::binary) || start.is(Type::vector) ||
                                         start.is(Type::image))) {
        numeric::raise_expect_arg(&start, "word");
    }
    stack::push(&word);
    stack::mark_loop(&interpreter::body_word);
    unset::box();
    stack::keep();
    bool broken = false;
    while (more_q(context::get(&word))) {
        Exit e = loop_body(body);
        if (e == Exit::break_) {
            broken = true;
            break;
        }
        if (e == Exit::other) return;
        Cell* now = context::get(&word);
        if (series::node(now) != series::node(&start) || now->type() != start.type())
            error::raise(error::id::script_bad_loop_series, now);
        series::set_head(now, series::head(now) + 1);
    }
    if (!broken) context::set(&word, &start);
    stack::unwind_last();
}

void remove_each(bool, const int32_t*) {
    Cell words = *arg(0), data = *arg(1), body = *arg(2);
    int32_t n = words.is(Type::block) ? series::length(&words) : 1;
    if (n < 1) error::raise(error::id::script_invalid_arg, &words);
    Cell count;
    cell::make(&count, Type::integer, 0, static_cast<uint32_t>(n));
    stack::push(&count);
    Cell* cursor = stack::push(&data);
    Cell* word_cell = stack::push(&words);
    stack::mark_loop(&interpreter::body_word);
    auto remove = reinterpret_cast<slotfn::Remove>(datatype::action_of(data.type(), datatype::slot::remove));
    while (step(cursor, word_cell, n)) {
        Exit e = loop_body(body);
        if (e == Exit::break_) break;
        if (e == Exit::other) return;
        if (e == Exit::continue_) continue;
        Cell r = *stack::arguments_base;
        if (logic::truth(&r) || r.is(Type::unset)) {
            if (!remove) error::raise(error::id::internal_not_done);
            series::set_head(cursor, series::head(cursor) - n);
            Cell part;
            cell::make(&part, Type::integer, 0, static_cast<uint32_t>(n));
            Cell* ph = stack::push(&part);
            Cell* at = remove(cursor, n == 1 ? nullptr : ph, nullptr);
            series::set_head(cursor, series::head(at));
            stack::pop(1);
        }
    }
    stack::reset();
    stack::keep_last(&data);
    stack::unwind_last();
}

}  // namespace zuv::natives
