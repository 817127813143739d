// PARSE matching and commands: how a literal or a datatype matches at the input head for
// each kind of input, repetition counts, and each keyword's starting step (reading what
// follows it) and finishing step (taking the result of the rule it governs).
#include <string>
#include <string_view>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/parse-engine.h"
#include "memory/words-builtin.h"
#include "memory/action-types.h"
#include "memory/case-folding.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "memory/upcalls.h"

namespace zuv::parse {

namespace {

inline bool series_type_q(Type t) { return block::family_q(t) || string::family_q(t) || t == Type::binary; }

// The comparison code of a literal on block input: a lit-word or lit-path equals the word
// or path of the same name.
int32_t literal_code(const Cell& value, int32_t mode) {
    bool lit = value.is(Type::lit_word) || value.is(Type::lit_path);
    if (mode == 2) return lit ? 10 : actions::op::strict_equal;
    return lit ? 11 : actions::op::equal;
}

inline bool same_char(uint32_t a, uint32_t b, bool strict) {
    return a == b || (!strict && case_folding::to_upper(a) == case_folding::to_upper(b));
}

Cell counts(int32_t minimum, int32_t maximum, int32_t counter = 1) {
    Cell c;
    triple::make_at(&c, minimum, maximum, counter);
    return c;
}

Cell integer_cell(int32_t n) {
    Cell c;
    cell::make(&c, Type::integer, 0, static_cast<uint32_t>(n));
    return c;
}

// The series actions, through the input's (or target's) own datatype.
Cell* insert_into(Cell* series, Cell* value, bool only) {
    auto f = reinterpret_cast<slotfn::Append>(actions::get_action_ptr_of(series, datatype::slot::insert));
    return f(series, value, -1, only, 1);
}

Cell* change_in(Cell* series, Cell* value, int32_t part, bool only) {
    auto f = reinterpret_cast<slotfn::Change>(actions::get_action_ptr_of(series, datatype::slot::change));
    return f(series, value, part, only, 1);
}

void remove_in(Cell* series, int32_t n) {
    auto f = reinterpret_cast<slotfn::Remove>(actions::get_action_ptr_of(series, datatype::slot::remove));
    Cell part = integer_cell(n);
    f(series, &part, nullptr);
}

// A copy of n units of the series from an absolute index, of the series' datatype.
Cell copy_part(const Cell& series, int32_t from, int32_t n) {
    Cell s = series;
    series::set_head(&s, from);
    Cell part = integer_cell(n < 0 ? 0 : n);
    Cell* result = stack::push_slot();
    cell::make(result, Type::unset);
    auto f = reinterpret_cast<slotfn::Copy>(actions::get_action_ptr_of(&s, datatype::slot::copy));
    Cell copied = *f(&s, result, &part, false, nullptr);
    stack::pop(1);
    return copied;
}

// The bytes a value stands for on binary! input: a char! or an integer! one byte, a string
// one byte per code point (a tag! in its angle brackets), a binary! its bytes; false for a
// value that no byte sequence stands for.
bool bytes_of(const Cell& value, std::string* out) {
    switch (value.type()) {
        case Type::char_: case Type::integer: {
            uint32_t b = value.is(Type::char_) ? char_::code_of(&value) : static_cast<uint32_t>(integer::get(&value));
            if (b > 255) return false;
            out->assign(1, static_cast<char>(b));
            return true;
        }
        case Type::binary: {
            Cell v = value;
            int32_t n = series::length(&v);
            out->assign(reinterpret_cast<const char*>(series::head_address(&v)), static_cast<size_t>(n));
            return true;
        }
        default: {
            if (!string::family_q(value.type())) return false;
            Cell v = value;
            int32_t n = series::length(&v);
            out->clear();
            if (v.is(Type::tag)) out->push_back('<');
            for (int32_t i = 0; i < n; ++i) {
                uint32_t c = string::char_at(&v, v.int1() + i);
                if (c > 255) return false;
                out->push_back(static_cast<char>(c));
            }
            if (v.is(Type::tag)) out->push_back('>');
            return true;
        }
    }
}

}  // namespace

// =============================================================================================
// Matching one value

int32_t Engine::match_at(int32_t at, const Cell& value) const {
    int32_t end = end_index();
    if (at >= end) return -1;  // nothing matches at the end
    if (block_input()) {
        Cell a = *block::cell_at(&input, at), b = value;
        return actions::compare_dispatch(&a, &b, literal_code(value, mode)) == 0 ? 1 : -1;
    }
    if (value.is(Type::bitset)) {
        Cell in = input;
        series::set_head(&in, at);
        return string::head_in_bitset_q(&in, &value) ? 1 : -1;
    }
    bool strict = mode == 2;
    if (string_input()) {
        if (value.is(Type::char_)) return same_char(string::char_at(&input, at), char_::code_of(&value), strict) ? 1 : -1;
        if (!string::family_q(value.type())) return -1;
        Cell v = value;
        int32_t n = series::length(&v);
        bool tag = v.is(Type::tag);
        int32_t total = n + (tag ? 2 : 0);
        if (total > end - at) return -1;
        int32_t p = at;
        if (tag) {
            if (string::char_at(&input, p) != '<' || string::char_at(&input, p + n + 1) != '>') return -1;
            ++p;
        }
        for (int32_t i = 0; i < n; ++i)
            if (!same_char(string::char_at(&input, p + i), string::char_at(&v, v.int1() + i), strict)) return -1;
        return total;
    }
    // binary! input: byte-wise
    std::string bytes;
    if (!bytes_of(value, &bytes)) return -1;
    auto n = static_cast<int32_t>(bytes.size());
    if (n > end - at) return -1;
    const uint8_t* p = series::unit_address(&input, at);
    for (int32_t i = 0; i < n; ++i)
        if (p[i] != static_cast<uint8_t>(bytes[static_cast<size_t>(i)])) return -1;
    return n;
}

State Engine::match_literal(const Cell& value) {
    int32_t n = match_at(head(), value);
    if (n > 0) set_head(head() + n);
    return matched(n >= 0);
}

State Engine::match_type(const Cell& type) {
    if (string_input()) error::raise(error::id::script_parse_unsupported);
    if (at_end()) return matched(false);
    if (!block_input()) return matched(match_type_binary(type));
    auto t = static_cast<uint32_t>(block::cell_at(&input, head())->type());
    bool ok = type.is(Type::datatype) ? t == datatype::id_of(&type) : typeset::has(&type, t);
    if (ok) set_head(head() + 1);
    return matched(ok);
}

bool Engine::match_type_binary(const Cell& type) {
    // The scan only reads the bytes (no loader, no callback): nothing allocates under it.
    std::string_view text(reinterpret_cast<const char*>(series::unit_address(&input, head())),
                          static_cast<size_t>(remaining()));
    uint32_t length = 0;
    int32_t id = upcall::calls.scan_type(text, &length);
    if (id <= 0) return false;
    auto t = static_cast<uint32_t>(id);
    bool ok = type.is(Type::datatype) ? t == datatype::id_of(&type) : typeset::has(&type, t);
    if (ok) set_head(head() + static_cast<int32_t>(length));
    return ok;
}

namespace {

// bitset::member_q for a code point, inline for the charset loops of the engine.
inline bool charset_has(const Cell& charset, uint32_t cp) {
    const memory::SeriesBuffer* bits = bitset::buffer(&charset);
    if (uint64_t(cp) >= uint64_t(bits->used_bytes()) * 8) return bits->flags & bitset::complemented;
    return bits->head_ptr()[cp >> 3] & (0x80 >> (cp & 7));
}

}  // namespace

bool Engine::fast_literal_q(const Cell& element) const {
    switch (element.type()) {
        case Type::block: case Type::word: case Type::integer: case Type::paren: case Type::datatype:
        case Type::typeset: case Type::set_word: case Type::get_word: case Type::path:
            return false;
        default:
            return true;
    }
}

// The common `some letter`: one pass over the characters instead of a match per step.
[[gnu::always_inline]] inline bool Engine::repeat_charset(const Cell& charset, int32_t minimum, int32_t maximum) {
    const int32_t at = head();
    const int32_t tail = series::buffer_length(&input);
    const int32_t end = depth == 1 && limit > 0 && limit < tail ? limit : tail;
    // A head past the end (a position set beyond /part) leaves nothing: `any` still matches.
    if ((end > at ? end - at : 0) < minimum) return false;
    // Most tries of an alternative fail on the first character: on one-byte text that
    // needs no span.
    const memory::SeriesBuffer* text = series::buffer(&input);
    const bool none_at_head = at < end && text->unit() == 1 && !charset_has(charset, text->head_ptr()[at]);
    const int32_t count = none_at_head ? 0 : string::span_in_bitset(&input, at, end, maximum, &charset);
    if (count < minimum) return false;
    const int32_t to = at + count;  // nothing ran: the tail is where it was
    series::set_head(&input, to < 0 ? 0 : to > tail ? tail : to);
    return true;
}

bool Engine::match_repeated(const Cell& value, int32_t minimum, int32_t maximum) {
    if (value.is(Type::bitset) && string_input()) return repeat_charset(value, minimum, maximum);
    const int32_t at = head();
    if (remaining() < minimum) return false;
    int32_t count = 0;
    int32_t to = at;
    while (maximum < 0 || count < maximum) {
        int32_t n = match_at(to, value);
        if (n < 0) break;
        ++count;
        if (n == 0) {
            // An empty match would repeat for ever without moving: it fills the count.
            if (maximum >= 0) count = maximum;
            break;
        }
        to += n;
    }
    if (count < minimum) return false;
    set_head(to);
    return true;
}

int32_t Engine::find_literal(const Cell& value, bool thru) {
    int32_t end = end_index();
    for (int32_t at = head(); at < end; ++at) {
        int32_t n = match_at(at, value);
        if (n >= 0) return thru ? at + n : at;
    }
    return -1;
}

// =============================================================================================
// Starting steps

bool Engine::position_word_q(int32_t index, Cell* position) const {
    Cell element = rule_at(index);
    bool word = element.is(Type::word) && keyword_of(&element) == Keyword::no_keyword;
    if (!word && !element.is(Type::get_word)) return false;
    Cell v = *context::get(&element);
    if (!same_series_q(&v)) return false;
    *position = v;
    return true;
}

State Engine::keyword(Keyword k, const Cell& element) {
    switch (k) {
        case Keyword::bar:
            pos = rule_tail();
            return State::end_block;
        case Keyword::skip:
            if (at_end()) return matched(false);
            set_head(head() + 1);
            return matched(true);
        case Keyword::end: return matched(at_end());
        case Keyword::none: return matched(true);
        case Keyword::fail: {
            match = false;
            fire(words::global::match);
            // Under a command the command sees the failure; else matching goes on with the
            // next element, whose own result counts.
            int32_t f = top_frame();
            return command_frame_q(f) ? State::after : State::fetch;
        }
        case Keyword::break_: case Keyword::reject:
            match = k == Keyword::break_;
            break_ = true;
            leave = true;
            return State::after;
        case Keyword::any: return repetition(0, -1, code::repeat, element);
        case Keyword::some: return repetition(1, -1, code::repeat, element);
        case Keyword::opt: return repetition(0, 1, code::repeat, element);
        case Keyword::while_: return repetition(0, -1, code::while_, element);
        case Keyword::to: return to_thru(false, element);
        case Keyword::thru: return to_thru(true, element);
        case Keyword::copy: return copy_set(false, element);
        case Keyword::set: return copy_set(true, element);
        case Keyword::not_: return governed(code::not_, element);
        case Keyword::ahead: return governed(code::ahead, element);
        case Keyword::remove: return remove_(element);
        case Keyword::into: return into_(element);
        case Keyword::insert: return insert_(element);
        case Keyword::change: return change_(element);
        case Keyword::collect: return collect_(element);
        case Keyword::keep: return keep_(element);
        case Keyword::if_: return if_(element);
        case Keyword::case_: return case_(element);
        case Keyword::quote: {
            if (!has_rule(pos + 1)) error::raise(error::id::script_parse_end, &element);
            ++pos;
            return match_literal(rule_at(pos));
        }
        default: {
            // pick, only and after mean something only after another keyword.
            Cell v = *context::get(&element);
            if (v.is(Type::unset) || v.is(Type::word)) error::raise(error::id::script_parse_rule, &element);
            return dispatch(v, &element);
        }
    }
}

State Engine::count(const Cell& element) {
    int32_t n = element.int2();
    if (n < 0) error::raise(error::id::script_out_of_range, &element);
    int32_t m = n;
    Cell last = element;
    if (has_rule(pos + 1)) {
        Cell next = rule_at(pos + 1);
        if (next.is(Type::word) && keyword_of(&next) == Keyword::no_keyword) next = *context::get(&next);
        if (next.is(Type::integer)) {
            m = next.int2();
            if (m < 0) error::raise(error::id::script_out_of_range, &next);
            if (m < n) error::raise(error::id::script_parse_rule, &next);
            ++pos;
            last = next;
        }
    }
    if (!has_rule(pos + 1)) error::raise(error::id::script_parse_rule, &last);
    if (m == 0) {
        ++pos;  // a count of zero skips its rule
        return matched(true);
    }
    return repetition(n, m, code::repeat, last);
}

State Engine::repetition(int32_t minimum, int32_t maximum, int32_t command, const Cell& keyword) {
    const int32_t next = pos + 1;
    const memory::SeriesBuffer* rb = series::buffer(&rule);
    if (next < 0 || next >= static_cast<int32_t>(rb->used_bytes() / sizeof(Cell)))
        error::raise(error::id::script_parse_end, &keyword);
    // Read in place: nothing below runs code or allocates before the command is pushed.
    const Cell* element = rb->cells() + next;
    if (element->is(Type::word)) {
        const Keyword k = keyword_of(element);
        if (k == Keyword::bar) error::raise(error::id::script_parse_end, &keyword);
        // A word naming a literal (a charset, most often) repeats it the same way: nothing
        // runs between its matches that could change it. A trace wants every step.
        if (!traced && k == Keyword::no_keyword) {
            const Cell* v = context::get(element);
            if (v->is(Type::bitset) && string_input()) {
                pos = next;
                return matched(repeat_charset(*v, minimum, maximum));
            }
            if (!v->is(Type::unset) && !v->is(Type::word) && fast_literal_q(*v)) {
                const Cell literal = *v;
                pos = next;
                return matched(match_repeated(literal, minimum, maximum));
            }
        }
    } else if (fast_literal_q(*element)) {
        const Cell literal = *element;
        pos = next;
        return matched(match_repeated(literal, minimum, maximum));
    }
    push_command(counts(minimum, maximum), pos, command, 0);
    return State::fetch;
}

State Engine::to_thru(bool thru, const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    Cell element = rule_at(next);
    Keyword k = keyword_of(&element);
    if (k == Keyword::end) {
        pos = next;
        set_head(end_index());
        return matched(true);
    }
    if (k != Keyword::no_keyword) error::raise(error::id::script_parse_rule, &element);
    Cell v = element;
    if (v.is(Type::word)) {
        v = *context::get(&element);
        if (v.is(Type::unset) || v.is(Type::word)) error::raise(error::id::script_parse_rule, &element);
    }
    if (v.is(Type::block) || v.is(Type::datatype) || v.is(Type::typeset)) {
        // The rule is tried at each position in turn; the first cell keeps where the search began.
        push_command(counts(head(), -1), pos, thru ? code::thru : code::to, 0);
        return State::fetch;
    }
    if (!block_input()) {
        Type t = v.type();
        bool ok = string::family_q(t) || t == Type::char_ || t == Type::bitset ||
                  (t == Type::binary && input.is(Type::binary));
        if (!ok) error::raise(error::id::script_parse_rule, &v);
    }
    pos = next;
    int32_t at = find_literal(v, thru);
    if (at < 0) return matched(false);
    set_head(at);
    return matched(true);
}

State Engine::copy_set(bool set, const Cell& keyword) {
    int32_t w = pos + 1;
    if (!has_rule(w + 1) || !rule_at(w).is(Type::word)) error::raise(error::id::script_parse_end, &keyword);
    push_command(rule_at(w), pos, set ? code::set : code::copy, 0);
    pos = w;
    return State::fetch;
}

State Engine::governed(int32_t command, const Cell& keyword) {
    if (!has_rule(pos + 1)) error::raise(error::id::script_parse_end, &keyword);
    push_command(counts(0, 0), pos, command, 0);
    return State::fetch;
}

State Engine::remove_(const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    Cell element = rule_at(next);
    if (element.is(Type::path)) error::raise(error::id::script_parse_rule, &element);
    Cell at;
    if (!position_word_q(next, &at)) return governed(code::remove, keyword);
    int32_t from = at.int1(), to = head();
    if (from > to) std::swap(from, to);
    set_head(from);
    from = head();
    to = std::min(to, series::buffer_length(&input));
    if (to > from) {
        Cell s = input;
        remove_in(&s, to - from);
    }
    set_head(from);
    pos = next;
    return matched(true);
}

State Engine::into_(const Cell& keyword) {
    if (!block_input()) {
        Cell in = input;
        error::raise(error::id::script_parse_block, &in);
    }
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    Cell element = rule_at(next);
    Cell v = element;
    if (v.is(Type::word) && keyword_of(&v) == Keyword::no_keyword) v = *context::get(&element);
    if (!v.is(Type::block)) error::raise(error::id::script_parse_end, &keyword);
    if (at_end() || !series_type_q(block::cell_at(&input, head())->type())) {
        pos = next;
        return matched(false);
    }
    Cell nested = *block::cell_at(&input, head());
    push_command(counts(0, 0), pos, code::into, 0);
    push_input(nested);
    set_head(head());
    return State::fetch;
}

Cell Engine::command_value(int32_t index) {
    Cell element = rule_at(index);
    switch (element.type()) {
        case Type::path:
            error::raise(error::id::script_parse_rule, &element);
        case Type::paren:
            return eval_paren(element);
        case Type::word: {
            Cell v = *context::get(&element);
            if (v.is(Type::unset)) error::raise(error::id::script_no_value, &element);
            return v;
        }
        default:
            return element;
    }
}

State Engine::insert_(const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    bool only = keyword_of(block::cell_at(&rule, next)) == Keyword::only;
    if (only && !has_rule(++next)) error::raise(error::id::script_parse_end, &keyword);
    Cell at;
    // A position needs a value after it; a word alone is the value.
    if (has_rule(next + 1) && position_word_q(next, &at)) {
        set_head(at.int1());
        ++next;
    }
    pos = next;
    Cell value = command_value(next);
    Cell s = input;
    set_head(insert_into(&s, &value, only)->int1());
    return matched(true);
}

State Engine::change_(const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_rule, &keyword);
    bool only = keyword_of(block::cell_at(&rule, next)) == Keyword::only;
    if (only && !has_rule(++next)) error::raise(error::id::script_parse_rule, &keyword);
    Cell at;
    if (position_word_q(next, &at)) {
        if (!has_rule(next + 1)) error::raise(error::id::script_parse_end, &keyword);
        pos = next + 1;
        Cell value = command_value(pos);
        int32_t from = at.int1(), to = head();
        if (from > to) std::swap(from, to);
        set_head(from);
        from = head();
        to = std::min(to, series::buffer_length(&input));
        Cell s = input;
        set_head(change_in(&s, &value, to - from, only)->int1());
        return matched(true);
    }
    push_command(counts(0, 0), pos, only ? code::change_only : code::change, 0);
    pos = next - 1;
    return State::fetch;
}

State Engine::collect_(const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    Keyword k = keyword_of(block::cell_at(&rule, next));
    int32_t kind = collect_kind::block, saved = -1;
    Cell target;
    if (k == Keyword::set || k == Keyword::into || k == Keyword::after) {
        int32_t w = next + 1;
        if (!has_rule(w) || !rule_at(w).is(Type::word)) error::raise(error::id::script_parse_end, &keyword);
        target = rule_at(w);
        kind = k == Keyword::set ? collect_kind::set : k == Keyword::into ? collect_kind::into : collect_kind::after;
        if (kind != collect_kind::set) {
            Cell v = *context::get(&target);
            Type t = v.type();
            if (!series_type_q(t)) error::raise(error::id::script_parse_into_type);
            if (t != input.type() && (t == Type::binary || (string::family_q(t) && block_input())))
                error::raise(error::id::script_parse_into_type);
            if (series::node(&v) == series::node(&input)) error::raise(error::id::script_parse_into_bad);
            saved = v.int1();
        }
        next = w + 1;
    }
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    // The collect level on the argument stack: its block (under the word it sets), or for
    // into and after only a marker naming the target.
    switch (kind) {
        case collect_kind::set:
            stack::push(&target);
            block::push_new(8);
            break;
        case collect_kind::into: case collect_kind::after: {
            Cell marker = target;
            marker.set_type(kind == collect_kind::into ? Type::get_word : Type::refinement);
            stack::push(&marker);
            break;
        }
        default:
            block::push_new(8);
    }
    ++collecting;
    push_command(counts(-1, saved), pos, code::collect, kind);
    pos = next - 1;
    return State::fetch;
}

State Engine::keep_(const Cell& keyword) {
    if (collecting == 0) error::raise(error::id::script_parse_keep);
    int32_t next = pos + 1;
    if (!has_rule(next)) error::raise(error::id::script_parse_end, &keyword);
    bool pick = keyword_of(block::cell_at(&rule, next)) == Keyword::pick;
    if (pick && !has_rule(++next)) error::raise(error::id::script_parse_end, &keyword);
    Cell element = rule_at(next);
    if (!element.is(Type::paren)) {
        push_command(counts(0, 0), pos, code::keep, pick ? 1 : 0);
        pos = next - 1;
        return State::fetch;
    }
    pos = next;
    Cell v = eval_paren(element);
    if (pick && block::family_q(v.type())) {
        for (int32_t i = v.int1(); i < series::buffer_length(&v); ++i) {
            Cell item = *block::cell_at(&v, i);
            keep_value(item);
        }
    } else {
        keep_value(v);
    }
    return matched(true);
}

State Engine::if_(const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next) || !rule_at(next).is(Type::paren)) error::raise(error::id::script_parse_end, &keyword);
    pos = next;
    Cell v = eval_paren(rule_at(next));
    return matched(logic::truth(&v));
}

State Engine::case_(const Cell& keyword) {
    int32_t next = pos + 1;
    if (!has_rule(next + 1) || !rule_at(next).is(Type::word)) error::raise(error::id::script_parse_end, &keyword);
    Cell w = rule_at(next);
    Cell v = *context::get(&w);
    push_command(counts(0, mode), pos, code::case_, 0);
    mode = logic::truth(&v) ? 2 : 0;
    pos = next;
    return State::fetch;
}

// =============================================================================================
// Collecting

void Engine::keep_value(const Cell& value) {
    Cell* level = stack::top();
    if (level->is(Type::block)) {
        Cell target = *level;
        block::append(&target, &value);
        return;
    }
    // into or after: straight into the target series
    Cell marker = *level;
    bool into = marker.is(Type::get_word);
    marker.set_type(Type::word);
    Cell target = *context::get(&marker);
    if (!series_type_q(target.type())) error::raise(error::id::script_parse_into_type);
    if (!into) series::set_head(&target, series::buffer_length(&target));
    Cell v = value;
    Cell* r = insert_into(&target, &v, block::family_q(target.type()));
    if (into) {
        Cell moved = *r;
        context::set(&marker, &moved);
    }
}

void Engine::keep_matched(int32_t start, bool each) {
    int32_t n = head() - start;
    if (n <= 0) return;
    if (n == 1 || each) {
        for (int32_t i = start; i < start + n && i < series::buffer_length(&input); ++i) {
            Cell item;
            series::read_element(&input, i, &item);
            keep_value(item);
        }
        return;
    }
    keep_value(copy_part(input, start, n));
}

void Engine::end_collect(int32_t f) {
    int32_t kind = frame_flag(f);
    int32_t saved = triple::get(frame(f, 0), 2);
    --collecting;
    switch (kind) {
        case collect_kind::set: {
            Cell word = stack::top()[-1];
            context::set(&word, stack::top());
            stack::pop(2);
            break;
        }
        case collect_kind::into: case collect_kind::after: {
            Cell marker = *stack::top();
            stack::pop(1);
            marker.set_type(Type::word);
            Cell v = *context::get(&marker);
            // Only a series can be put back (a paren may have set the word to anything).
            if (series_type_q(v.type())) {
                series::set_head(&v, saved);
                context::set(&marker, &v);
            }
            break;
        }
        default: {
            Cell b = *stack::top();
            stack::pop(1);
            if (collecting > 0) keep_value(b);  // an inner collect gives its block to the outer one
            else *result = b;
        }
    }
}

// =============================================================================================
// Finishing steps

State Engine::finish(int32_t f) {
    int32_t command = frame_code(f);
    switch (command) {
        case code::repeat: case code::while_: return finish_repeat(f);
        case code::to: return finish_to(f, false);
        case code::thru: return finish_to(f, true);
        case code::into: return finish_into(f);
        default: break;
    }
    int32_t start = frame_start(f);
    if (!match) set_head(start);  // a failed rule leaves the input where the command began
    switch (command) {
        case code::copy:
            if (match) {
                Cell word = *frame(f, 0);
                Cell copied = copy_part(input, start, head() - start);
                context::set(&word, &copied);
            }
            break;
        case code::set:
            if (match) {
                Cell word = *frame(f, 0), v = none::shared;
                if (head() != start && start < series::buffer_length(&input)) series::read_element(&input, start, &v);
                context::set(&word, &v);
            }
            break;
        case code::not_:
            set_head(start);
            match = !match;
            break;
        case code::ahead:
            set_head(start);
            break;
        case code::remove:
            if (match && head() > start) {
                Cell s = input;
                series::set_head(&s, start);
                remove_in(&s, head() - start);
                set_head(start);
            }
            break;
        case code::collect:
            end_collect(f);
            break;
        case code::keep:
            if (match) keep_matched(start, frame_flag(f) != 0);
            break;
        case code::change: case code::change_only: {
            int32_t v = pos + 1;
            if (!has_rule(v)) {
                Cell keyword = *words::global::change;
                error::raise(error::id::script_parse_end, &keyword);
            }
            pos = v;
            if (match) {
                Cell value = command_value(v);
                Cell s = input;
                series::set_head(&s, start);
                int32_t n = head() - start;
                set_head(change_in(&s, &value, n > 0 ? n : 0, command == code::change_only)->int1());
            }
            break;
        }
        case code::case_:
            mode = triple::get(frame(f, 0), 2);
            break;
        default:
            break;
    }
    drop_frame(f);
    return matched(match);
}

State Engine::finish_repeat(int32_t f) {
    Cell* frame_cells_at = frame(f, 0);
    const Cell c = frame_cells_at[0], saved = frame_cells_at[1];
    const int32_t minimum = c.int1(), maximum = c.int2(), counter = c.int3();
    const int32_t resume = saved.int1(), start = saved.int2(), start_rest = saved.int3();
    const bool ok = match;
    bool stop;
    if (!ok) set_head(start);
    if (break_) {
        break_ = false;
        stop = true;
    } else if (!ok || (maximum >= 0 && counter >= maximum)) {
        stop = true;
    } else {
        // An iteration that neither moved nor shortened the input would run for ever.
        stop = pair::x(&frame_cells_at[2]) != code::while_ && head() == start && remaining() >= start_rest;
    }
    if (stop) {
        int32_t done = ok ? counter : counter - 1;
        drop_frame(f);
        return matched(done >= minimum);
    }
    frame_cells_at[0].data3 = static_cast<uint32_t>(counter + 1);
    frame_cells_at[1].data2 = static_cast<uint32_t>(head());
    frame_cells_at[1].data3 = static_cast<uint32_t>(remaining());
    pos = resume;
    fire(words::global::iterate);
    return State::fetch;
}

State Engine::finish_to(int32_t f, bool thru) {
    Cell c = *frame(f, 0), saved = *frame(f, 1);
    int32_t origin = c.int1(), resume = saved.int1(), at = saved.int2();
    if (match || at + 1 > end_index()) {
        if (!match) set_head(origin);
        else if (!thru) set_head(at);
        drop_frame(f);
        return matched(match);
    }
    break_ = false;  // a reject in the rule only failed this position
    set_head(at + 1);
    triple::set(frame(f, 0), 3, c.int3() + 1);
    triple::set(frame(f, 1), 2, head());
    triple::set(frame(f, 1), 3, remaining());
    pos = resume;
    fire(words::global::iterate);
    return State::fetch;
}

State Engine::finish_into(int32_t f) {
    int32_t start = frame_start(f);
    bool ok = match && head() >= series::buffer_length(&input);
    pop_input();
    set_head(ok ? start + 1 : start);
    drop_frame(f);
    return matched(ok);
}

}  // namespace zuv::parse
