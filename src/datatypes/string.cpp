// string!: the storage helpers that build text everywhere in the system, and the actions of
// the string family (editing, search, forming, molding, comparison, conversion). Buffers move
// on any allocation: loops that allocate walk copies of code points, never buffer pointers.
#include "datatypes/string.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string-convert.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "datatypes/form.h"
#include "memory/upcalls.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/action-types.h"
#include "memory/case-folding.h"
#include "memory/datatype.h"
#include "memory/sorting.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "runtime/fatal.h"

namespace zuv::string {

namespace {

using memory::buffer_of;
namespace op = actions::op;

constexpr uint64_t max_bytes = 0x7FFFFFF0;

inline uint32_t units_of(const SeriesBuffer* b) { return b->used_bytes() >> series::unit_shift(b->unit()); }

uint32_t checked_bytes(uint64_t n) {
    if (n > max_bytes) error::raise(error::id::internal_no_memory);
    return static_cast<uint32_t>(n);
}

// Makes room for extra bytes at the tail: twice the capacity when that is enough, else the
// size needed. Gives the buffer to use.
SeriesBuffer* reserve(SeriesBuffer* b, uint64_t extra) {
    if (uint64_t(b->tail) + extra <= memory::ref(b->data_end())) return b;
    uint64_t needed = uint64_t(b->used_bytes()) + extra;
    uint64_t capacity = uint64_t(b->capacity) * 2;
    if (capacity < needed) capacity = needed;
    return memory::expand_series(b, checked_bytes(capacity));
}

// Grows a buffer whose capacity is short of bytes: to twice its size when that is enough, else
// to the size needed.
SeriesBuffer* ensure_capacity(SeriesBuffer* b, uint64_t bytes) {
    if (bytes <= b->capacity) return b;
    return memory::expand_series(b, checked_bytes(std::max(bytes, uint64_t(b->capacity) * 2)));
}

// The unit that a buffer of the given unit needs after code points up to max_cp arrive at
// the tail (unit 1 keeps only ASCII there) or at a position (unit 1 keeps Latin-1).
uint32_t unit_for_append(uint32_t unit, uint32_t max_cp) {
    if (unit == 1 && max_cp > 0x7F) return max_cp > 0xFFFF ? 4 : 2;
    if (unit == 2 && max_cp > 0xFFFF) return 4;
    return unit;
}
uint32_t unit_for_write(uint32_t unit, uint32_t max_cp) { return std::max(unit, unicode::unit_for(max_cp)); }

uint32_t max_of(std::u32string_view text) {
    uint32_t m = 0;
    for (char32_t c : text) m = std::max(m, static_cast<uint32_t>(c));
    return m;
}

Cell* none_result() { return const_cast<Cell*>(&none::shared); }

void make_char(Cell* c, uint32_t cp) { cell::make(c, Type::char_, 0, cp, 0); }
void make_integer(Cell* c, int32_t v) { cell::make(c, Type::integer, 0, static_cast<uint32_t>(v), 0); }

[[noreturn]] void raise_not_done() { error::raise(error::id::internal_not_done); }

// The UTF-8 name of a symbol! or of a word's symbol.
std::string_view symbol_text(const Cell* c) {
    if (c->is(Type::symbol)) {
        SeriesBuffer* b = buffer_of(word::name_node_of(c));
        std::string_view name(reinterpret_cast<const char*>(b->head_ptr()), b->used_bytes());
        if (!name.empty() && name.back() == '\0') name.remove_suffix(1);
        return name;
    }
    int32_t id = c->int2();
    if (id <= 0 || id > symbol::count()) return {};
    return symbol::name(id);
}

bool any_word_q(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word ||
           t == Type::refinement || t == Type::issue;
}

// A string cell for a string-family value as it stands, or a new one holding the name of a
// symbol or word.
Cell text_cell(const Cell* c) {
    if (!c->is(Type::symbol) && !any_word_q(c->type())) return *c;
    Cell s;
    make_at(&s, 16);
    append_utf8(&s, symbol_text(c));
    return s;
}

// Forms a value at the target's tail. The value is copied first: it may lie in a buffer
// that the forming moves.
void form_into(const Cell* value, Cell* target) {
    Cell v = *value;
    actions::form_dispatch(&v, target, nullptr, actions::no_limit);
}

}  // namespace

// =============================================================================================
// Storage

void make_at(Cell* c, int32_t capacity, Type t) {
    cell::make(c, Type::unset);  // a collection during the allocation must not see half a value
    Ref node = memory::alloc_series(capacity > 0 ? capacity : 1, 1, 0);
    cell::make(c, t, 0, node, 0);
}

void make_at_bytes(Cell* c, int32_t n, uint32_t unit, Type t) {
    cell::make(c, Type::unset);
    Ref node = memory::alloc_units(n > 0 ? n : 0, unit);
    cell::make(c, t, 0, node, 0);
}

Cell* push(const Cell* s) { return stack::push(s); }

Cell* push_new(int32_t capacity, Type t) {
    Cell* c = stack::push_slot();
    make_at(c, capacity, t);
    return c;
}

SeriesBuffer* widen(SeriesBuffer* b, uint32_t unit) {
    uint32_t old = b->unit();
    if (unit <= old) return b;
    uint32_t n = units_of(b);
    uint64_t needed = uint64_t(n) * unit + unit;
    if (needed > b->capacity) b = memory::expand_series(b, checked_bytes(needed));
    uint8_t* d = b->head_ptr();
    // From the last unit to the first, so no unit is overwritten before it is read.
    for (uint32_t i = n; i-- > 0;) put_char(d + size_t(i) * unit, unit, get_char(d + size_t(i) * old, old));
    b->flags = (b->flags & ~memory::flag::unit_mask) | unit;
    b->tail = b->head + n * unit;
    return b;
}

SeriesBuffer* append_char(SeriesBuffer* b, uint32_t c) {
    uint32_t unit = b->unit();
    if (uint32_t wide = unit_for_append(unit, c); wide != unit) b = widen(b, wide), unit = wide;
    if (b->tail_ptr() + unit > b->data_end()) [[unlikely]] b = reserve(b, unit);
    put_char(b->tail_ptr(), unit, c);
    b->tail += unit;
    return b;
}

SeriesBuffer* insert_char(SeriesBuffer* b, int32_t position, uint32_t c) {
    b = widen(b, unit_for_write(b->unit(), c));
    uint32_t unit = b->unit();
    b = reserve(b, unit);
    uint8_t* p = b->head_ptr() + static_cast<size_t>(position) * unit;
    std::memmove(p + unit, p, static_cast<size_t>(b->tail_ptr() - p));
    put_char(p, unit, c);
    b->tail += unit;
    return b;
}

SeriesBuffer* poke_char(SeriesBuffer* b, int32_t position, uint32_t c) {
    b = widen(b, unit_for_write(b->unit(), c));
    put_char(b->head_ptr() + static_cast<size_t>(position) * b->unit(), b->unit(), c);
    return b;
}

void append_bytes(Cell* s, const uint8_t* bytes, int32_t n) {
    std::u32string text(bytes, bytes + std::max(n, 0));
    append_chars(s, text);
}

void append_ascii(Cell* s, std::string_view text) {
    if (text.empty()) return;
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    b = reserve(b, uint64_t(text.size()) * unit);
    uint8_t* p = b->tail_ptr();
    if (unit == 1) {
        std::memcpy(p, text.data(), text.size());
    } else {
        for (size_t i = 0; i < text.size(); ++i) put_char(p + i * unit, unit, static_cast<uint8_t>(text[i]));
    }
    b->tail += static_cast<uint32_t>(text.size()) * unit;
}

void append_utf8(Cell* s, std::string_view text) {
    std::u32string cps;
    cps.reserve(text.size());
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            cps.push_back(*p++);
            continue;
        }
        unicode::CheckedChar ch = unicode::decode_utf8_char_checked(p, static_cast<size_t>(end - p));
        if (ch.kind == unicode::CheckedChar::ok) {
            cps.push_back(ch.code_point);
            p += ch.length;
        } else {
            cps.push_back(0xFFFD);
            ++p;
        }
    }
    append_chars(s, cps);
}

void append_chars(Cell* s, std::u32string_view text) {
    if (text.empty()) return;
    SeriesBuffer* b = series::buffer(s);
    b = widen(b, unit_for_append(b->unit(), max_of(text)));
    uint32_t unit = b->unit();
    b = reserve(b, uint64_t(text.size()) * unit);
    uint8_t* p = b->tail_ptr();
    for (char32_t c : text) put_char(p, unit, c), p += unit;
    b->tail = memory::ref(p);
}

void concatenate(Cell* target, Cell* source, int32_t part, int32_t offset, bool per_char, int mode) {
    Cell src = text_cell(source);
    int32_t n = series::length(&src);
    if (part >= 0 && part < n) n = part;
    if (n <= 0) return;
    Ref dst_node = series::node(target);
    int32_t used = series::buffer_length(target);
    int32_t at = mode == 0 ? used : std::clamp(offset, 0, used);
    if (per_char) {
        std::u32string cps = code_points(&src, src.int1(), n);
        for (int32_t i = 0; i < n; ++i) {
            SeriesBuffer* tb = buffer_of(dst_node);
            if (mode == 0) append_char(tb, cps[size_t(i)]);
            else if (mode == 1) insert_char(tb, at + i, cps[size_t(i)]);
            else if (at + i < static_cast<int32_t>(units_of(tb))) poke_char(tb, at + i, cps[size_t(i)]);
            else append_char(tb, cps[size_t(i)]);
        }
        return;
    }
    uint32_t su = buffer_of(series::node(&src))->unit(), tu = buffer_of(dst_node)->unit();
    if (su > tu) widen(buffer_of(dst_node), su);
    else if (su < tu) widen(buffer_of(series::node(&src)), tu);
    SeriesBuffer* tb = buffer_of(dst_node);
    uint32_t unit = tb->unit();
    uint64_t end_units = mode == 1 ? uint64_t(used) + n : std::max<uint64_t>(used, uint64_t(at) + n);
    if (end_units * unit > tb->capacity) tb = memory::expand_series(tb, checked_bytes(end_units * unit * 2));
    size_t bytes = size_t(n) * unit;
    // Copying a series into itself: take the units out before the gap moves them.
    std::vector<uint8_t> own;
    const uint8_t* from = series::unit_address(&src, src.int1());
    if (series::node(&src) == dst_node) {
        own.assign(from, from + bytes);
        from = own.data();
    }
    uint8_t* dst = tb->head_ptr() + size_t(at) * unit;
    if (mode == 1) std::memmove(dst + bytes, dst, static_cast<size_t>(tb->tail_ptr() - dst));
    std::memmove(dst, from, bytes);
    tb->tail = tb->head + static_cast<uint32_t>(end_units * unit);
}

uint32_t char_at(const Cell* s, int32_t position) {
    SeriesBuffer* b = series::buffer(s);
    return get_char(b->head_ptr() + static_cast<size_t>(position) * b->unit(), b->unit());
}

uint8_t* head_ptr(Cell* s) {
    series::length(s);
    return series::head_address(s);
}

int32_t char_count(Cell* s) { return series::length(s); }
bool at_tail_q(const Cell* s) { return series::at_tail_q(s); }

void truncate(SeriesBuffer* b, int32_t n) {
    if (n < 0) n = 0;
    if (static_cast<uint32_t>(n) < units_of(b)) b->tail = b->head + static_cast<uint32_t>(n) * b->unit();
}

void reset(Cell* s) {
    SeriesBuffer* b = series::buffer(s);
    b->tail = b->head;
    b->flags = (b->flags & ~memory::flag::unit_mask) | 1;
    series::set_head(s, 0);
}

int32_t index_of_char(Cell* s, uint32_t c) {
    int32_t n = char_count(s);
    uint32_t unit = series::buffer(s)->unit();
    const uint8_t* p = series::head_address(s);
    for (int32_t i = 0; i < n; ++i)
        if (get_char(p + static_cast<size_t>(i) * unit, unit) == c) return i;
    return -1;
}

bool has_char_q(Cell* s, uint32_t c, int32_t step, bool case_sensitive) {
    int32_t n = char_count(s);
    if (step < 1) step = 1;
    uint32_t unit = series::buffer(s)->unit();
    const uint8_t* p = series::head_address(s);
    if (!case_sensitive) c = case_folding::to_upper(c);
    for (int32_t i = 0; i < n; i += step) {
        uint32_t u = get_char(p + static_cast<size_t>(i) * unit, unit);
        if (!case_sensitive) u = case_folding::to_upper(u);
        if (u == c) return true;
    }
    return false;
}

bool starts_with_cstring_q(Cell* s, const char* bytes) {
    int32_t n = char_count(s);
    uint32_t unit = series::buffer(s)->unit();
    const uint8_t* p = series::head_address(s);
    for (int32_t i = 0; bytes[i]; ++i)
        if (i >= n || get_char(p + static_cast<size_t>(i) * unit, unit) != static_cast<uint8_t>(bytes[i])) return false;
    return true;
}

void remove_units(Cell* s, int32_t position, int32_t n) {
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    uint32_t used = units_of(b);
    if (position < 0 || static_cast<uint32_t>(position) >= used || n <= 0) return;
    if (uint64_t(position) + uint64_t(n) > used) n = static_cast<int32_t>(used) - position;
    uint8_t* p = b->head_ptr() + static_cast<size_t>(position) * unit;
    size_t gap = static_cast<size_t>(n) * unit;
    std::memmove(p, p + gap, static_cast<size_t>(b->tail_ptr() - p) - gap);
    b->tail -= static_cast<uint32_t>(gap);
}

namespace {

// Replaces n units at an absolute position with the text (keeping unit 1 up to 0xFF).
void splice(Cell* s, int32_t at, int32_t n, std::u32string_view text) {
    SeriesBuffer* b = series::buffer(s);
    if (!text.empty()) b = widen(b, unit_for_write(b->unit(), max_of(text)));
    uint32_t unit = b->unit();
    int64_t delta = int64_t(text.size()) - n;
    if (delta > 0) b = reserve(b, uint64_t(delta) * unit);
    uint8_t* p = b->head_ptr() + size_t(at) * unit;
    uint8_t* rest = p + size_t(n) * unit;
    std::memmove(p + text.size() * unit, rest, static_cast<size_t>(b->tail_ptr() - rest));
    b->tail = static_cast<Ref>(int64_t(b->tail) + delta * unit);
    for (char32_t c : text) put_char(p, unit, c), p += unit;
}

}  // namespace

void move_chars(Cell* source, Cell* target, int32_t n) {
    n = std::min(n, char_count(source));
    if (n <= 0) return;
    int32_t from = source->int1();
    std::u32string cps = code_points(source, from, n);
    series::length(target);
    int32_t to = target->int1();
    splice(target, to, 0, cps);
    if (series::node(source) == series::node(target) && to <= from) from += n;
    remove_units(source, from, n);
}

Ref copy_widened(Ref source, Ref target, uint32_t unit, int32_t position) {
    SeriesBuffer* sb = buffer_of(source);
    uint32_t n = units_of(sb);
    if (!target) {
        target = memory::alloc_series(n ? n : 1, unit, 0);
        position = 0;
    }
    SeriesBuffer* tb = buffer_of(target);
    if (tb->unit() < unit) tb = widen(tb, unit);
    unit = tb->unit();
    position = std::clamp<int32_t>(position, 0, static_cast<int32_t>(units_of(tb)));
    uint64_t end = uint64_t(position) + n;
    if (end * unit > tb->capacity) tb = memory::expand_series(tb, checked_bytes(end * unit));
    sb = buffer_of(source);
    uint32_t su = sb->unit();
    for (uint32_t i = 0; i < n; ++i)
        put_char(tb->head_ptr() + (position + i) * size_t(unit), unit, get_char(sb->head_ptr() + i * size_t(su), su));
    tb->tail = tb->head + static_cast<uint32_t>(end * unit);
    return target;
}

std::u32string code_points(const Cell* s, int32_t position, int32_t n) {
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    int32_t len = static_cast<int32_t>(units_of(b));
    position = std::clamp(position, 0, len);
    n = std::clamp(n, 0, len - position);
    std::u32string out(size_t(n), U'\0');
    const uint8_t* p = b->head_ptr() + size_t(position) * unit;
    for (int32_t i = 0; i < n; ++i) out[size_t(i)] = get_char(p + size_t(i) * unit, unit);
    return out;
}

std::u32string code_points(Cell* s) {
    int32_t n = series::length(s);
    return code_points(s, s->int1(), n);
}

void load_at(Cell* c, const uint8_t* bytes, size_t count, int encoding, Type t) {
    Ref node;
    cell::make(c, Type::unset);
    if (encoding == 0) {
        node = unicode::load_utf8_new(bytes, count);
    } else if (encoding == -1) {
        node = unicode::load_utf16(bytes, count / 2, nullptr, false);
    } else {
        // The process used to end here; a wrong encoding is a caller's mistake to report.
        Cell e;
        make_integer(&e, encoding);
        error::raise(error::id::script_invalid_arg, &e);
    }
    cell::make(c, t, 0, node, 0);
}

Cell* load_in(Cell* block, const uint8_t* bytes, size_t count, int encoding) {
    Cell s;
    load_at(&s, bytes, count, encoding);
    return block::append(block, &s);
}

Cell* load_push(const uint8_t* bytes, size_t count, int encoding) {
    Cell* c = stack::push_slot();
    load_at(c, bytes, count, encoding);
    return c;
}

std::string to_utf8(const Cell* s) {
    Cell c = *s;
    int32_t n = char_count(&c);
    uint32_t unit = series::buffer(&c)->unit();
    const uint8_t* p = series::head_address(&c);
    std::string out;
    out.reserve(static_cast<size_t>(n));
    uint8_t buf[4];
    for (int32_t i = 0; i < n; ++i) {
        uint32_t cp = get_char(p + static_cast<size_t>(i) * unit, unit);
        int k = unicode::encode_utf8_char(cp, buf);
        if (k == 0) k = unicode::encode_utf8_char(0xFFFD, buf);
        out.append(reinterpret_cast<char*>(buf), static_cast<size_t>(k));
    }
    return out;
}

// =============================================================================================
// Text helpers

std::string_view byte_to_hex(uint8_t byte) {
    static constexpr auto table = [] {
        std::array<char, 512> t{};
        const char* digits = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i) t[size_t(2 * i)] = digits[i >> 4], t[size_t(2 * i + 1)] = digits[i & 15];
        return t;
    }();
    return {table.data() + 2 * byte, 2};
}

std::string to_hex_8(int32_t value, bool minimal) {
    auto v = static_cast<uint32_t>(value);
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) out += byte_to_hex(static_cast<uint8_t>(v >> shift));
    if (!minimal) return out;
    size_t first = out.find_first_not_of('0');
    return first == std::string::npos ? "00" : out.substr(first);
}

namespace {

constexpr uint32_t bitset_complement = 0x80000;

bool in_bitset(const Cell* bitset, uint32_t cp) {
    SeriesBuffer* b = series::buffer(bitset);
    if (uint64_t(cp) >= uint64_t(b->used_bytes()) * 8) return b->flags & bitset_complement;
    return b->head_ptr()[cp >> 3] & (0x80 >> (cp & 7));
}

}  // namespace

bool head_in_bitset_q(Cell* s, const Cell* bitset) {
    if (series::length(s) < 1) return false;
    return in_bitset(bitset, char_at(s, s->int1()));
}

int32_t span_in_bitset(const Cell* s, int32_t from, int32_t end, int32_t most, const Cell* bitset) {
    if (most >= 0 && end - from > most) end = from + most;
    if (from >= end) return 0;
    const SeriesBuffer* b = series::buffer(s);
    const SeriesBuffer* bits = series::buffer(bitset);
    const uint8_t* units = b->head_ptr();
    const uint8_t* set = bits->head_ptr();
    const uint64_t size = uint64_t(bits->used_bytes()) * 8;
    const bool outside = bits->flags & bitset_complement;
    const uint32_t unit = b->unit();
    int32_t at = from;
    // Most text is held one byte a character: that loop reads the bytes straight.
    if (unit == 1) {
        for (; at < end; ++at) {
            const uint32_t cp = units[at];
            if (!(cp < size ? (set[cp >> 3] & (0x80 >> (cp & 7))) != 0 : outside)) break;
        }
        return at - from;
    }
    for (; at < end; ++at) {
        const uint32_t cp = get_char(units + static_cast<size_t>(at) * unit, unit);
        if (!(cp < size ? (set[cp >> 3] & (0x80 >> (cp & 7))) != 0 : outside)) break;
    }
    return at - from;
}

bool angle_bracketed_q(Cell* input, Cell* tag) {
    int32_t n = series::length(tag);
    if (series::length(input) < n + 2) return false;
    int32_t h = input->int1();
    return char_at(input, h) == '<' && char_at(input, h + n + 1) == '>';
}

bool match_value(Cell* input, Cell* value, int32_t op) {
    Cell in = *input;
    if (value->is(Type::char_)) {
        if (series::length(&in) < 1) return false;
        uint32_t a = char_at(&in, series::head(&in)), b = char_::code_of(value);
        if (op != op::strict_equal) a = case_folding::to_upper(a), b = case_folding::to_upper(b);
        return a == b;
    }
    if (value->is(Type::tag)) {
        if (!angle_bracketed_q(&in, value)) return false;
        Cell inner = in;
        series::set_head(&inner, series::head(&inner) + 1);
        return compare_op(&inner, value, op, true) == 0;
    }
    if (family_q(value->type())) return compare_op(&in, value, op, true) == 0;
    return false;
}

int32_t compare_op(Cell* a, Cell* b, int32_t code, bool match) {
    Cell x = text_cell(a), y = text_cell(b);
    bool same_place = series::node(&x) == series::node(&y) && series::head(&x) == series::head(&y);
    if (code == op::same) return same_place ? 0 : -1;
    bool equality = code == op::equal || code == op::not_equal || code == op::strict_equal || code == op::find;
    if (equality && same_place) return 0;
    int32_t n1 = series::length(&x), n2 = series::length(&y);
    if (match) {
        if (n2 == 0) return code == op::find ? 1 : 0;
        if (n1 < n2) return 1;
        n1 = n2;  // only the prefix counts
    } else if (equality && n1 != n2) {
        return 1;
    }
    bool fold = code != op::strict_equal && code != op::sort_case;
    uint32_t u1 = series::buffer(&x)->unit(), u2 = series::buffer(&y)->unit();
    const uint8_t* p1 = series::head_address(&x);
    const uint8_t* p2 = series::head_address(&y);
    int32_t n = std::min(n1, n2);
    for (int32_t i = 0; i < n; ++i) {
        uint32_t c1 = get_char(p1 + size_t(i) * u1, u1), c2 = get_char(p2 + size_t(i) * u2, u2);
        if (c1 == c2) continue;
        if (fold) {
            c1 = case_folding::to_upper(c1), c2 = case_folding::to_upper(c2);
            if (c1 == c2) continue;
        }
        return c1 < c2 ? -1 : 1;
    }
    return n1 == n2 ? 0 : n1 < n2 ? -1 : 1;
}

// =============================================================================================
// Editing: append, insert, change

namespace {

bool block_list_q(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

// The text of a value as formed, block elements formed one after the other.
std::u32string formed_text(const Cell* value) {
    Cell temp;
    make_at(&temp, 16);
    if (block_list_q(value->type())) {
        Cell b = *value;
        int32_t n = series::length(&b);
        for (int32_t i = 0; i < n; ++i) {
            Cell e = *(block::head(&b) + i);
            form_into(&e, &temp);
        }
    } else {
        form_into(value, &temp);
    }
    return code_points(&temp);
}

// What a value brings to append, insert and change: a string-family value its text from the
// head, a tag! its text in angle brackets, a char! its code point, anything else its form.
std::u32string value_text(const Cell* value) {
    Cell v = *value;
    if (v.is(Type::char_)) return std::u32string(1, static_cast<char32_t>(char_::code_of(&v)));
    if (v.is(Type::tag)) return U"<" + code_points(&v) + U">";
    if (family_q(v.type())) return code_points(&v);
    return formed_text(&v);
}

std::u32string repeated(std::u32string text, int32_t part, int32_t dup) {
    if (part >= 0 && size_t(part) < text.size()) text.resize(size_t(part));
    if (dup <= 1 || text.empty()) return text;
    if (uint64_t(text.size()) * uint64_t(dup) > max_bytes) error::raise(error::id::internal_no_memory);
    std::u32string out;
    out.reserve(text.size() * size_t(dup));
    for (int32_t i = 0; i < dup; ++i) out += text;
    return out;
}

bool plain_text_q(const Cell* value) { return family_q(value->type()) && !value->is(Type::tag); }

// Runs an edit of a series between the two ownership checks (the action's word before, its
// past form after), so that an owner object hears of the change.
template <class F>
void edit(Cell* s, const Cell* word, const Cell* past, Cell* value, int32_t index, int32_t count, F change) {
    bool told = series::notify_before(s, word, value, index, count);
    change();
    series::notify_after(told, s, past, value, index, count);
}

}  // namespace

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    series::length(series);
    if (dup < 1) dup = 1;
    Cell v = *value;
    int32_t at = series::buffer_length(series);
    if (v.is(Type::char_) && part != 0) {
        edit(series, words::global::append, words::global::appended, &v, at, dup, [&] {
            for (int32_t i = 0; i < dup; ++i) append_char(series::buffer(series), char_::code_of(&v));
        });
    } else if (plain_text_q(&v) && dup == 1) {
        int32_t n = series::length(&v);
        if (part >= 0 && part < n) n = part;
        edit(series, words::global::append, words::global::appended, &v, at, n, [&] {
            uint32_t unit = std::max(series::buffer(series)->unit(), series::buffer(&v)->unit());
            ensure_capacity(series::buffer(series), (uint64_t(n) + uint64_t(at)) * unit);
            concatenate(series, &v, n, 0, false, 0);
        });
    } else {
        // The text is formed once and put in dup times: a copy of the whole run first would
        // take as much memory again as the result.
        std::u32string text = repeated(value_text(&v), part, 1);
        uint64_t total = uint64_t(text.size()) * uint64_t(dup);
        if (total > max_bytes) error::raise(error::id::internal_no_memory);
        edit(series, words::global::append, words::global::appended, &v, at, static_cast<int32_t>(total), [&] {
            append_chars(series, text);
            if (dup > 1 && !text.empty()) {
                // The first copy set the width: the others are its bytes, copied from the
                // buffer itself in runs that double.
                SeriesBuffer* b = series::buffer(series);
                const uint64_t piece = uint64_t(text.size()) * b->unit(), total = piece * uint64_t(dup);
                b = reserve(b, total - piece);
                uint8_t* start = b->tail_ptr() - piece;
                for (uint64_t done = piece; done < total;) {
                    const uint64_t n = std::min(done, total - done);
                    std::memcpy(start + done, start, n);
                    done += n;
                }
                b->tail = memory::ref(start + total);
            }
        });
    }
    // The series comes back at its head, whatever position it was given at.
    series::set_head(series, 0);
    return series;
}

bool append_in_place(Cell* series, const Cell* value) {
    SeriesBuffer* b = series::buffer(series);
    uint32_t unit = b->unit();
    // An owned buffer has an owner to tell; a wider code point or text, or a full buffer,
    // moves the text: those take the whole append.
    if (b->flags & memory::flag::owned) [[unlikely]]
        return false;
    if (value->is(Type::char_)) {
        uint32_t c = char_::code_of(value);
        if (unit_for_append(unit, c) != unit || b->tail_ptr() + unit > b->data_end()) return false;
        put_char(b->tail_ptr(), unit, c);
        b->tail += unit;
    } else if (plain_text_q(value)) {
        // Text of the same unit is copied as it stands, as the whole way does.
        Cell v = *value;
        if (series::buffer(&v)->unit() != unit) return false;
        uint32_t bytes = static_cast<uint32_t>(series::length(&v)) * unit;
        if (b->tail_ptr() + bytes > b->data_end()) return false;
        std::memmove(b->tail_ptr(), series::head_address(&v), bytes);
        b->tail += bytes;
    } else {
        return false;
    }
    series::set_head(series, 0);
    return true;
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    series::length(series);
    if (dup < 1) dup = 1;
    Cell v = *value;
    int32_t at = series->int1();
    int32_t added;
    // Everything but a single run of text is made whole first and put in with one move of
    // the rest: inserting unit by unit would move the rest once for every unit.
    if (plain_text_q(&v) && dup == 1) {
        added = series::length(&v);
        if (part >= 0 && part < added) added = part;
        edit(series, words::global::insert, words::global::inserted, &v, at, added,
             [&] { concatenate(series, &v, added, at, false, 1); });
    } else {
        std::u32string text = repeated(value_text(&v), part, dup);
        added = static_cast<int32_t>(text.size());
        edit(series, words::global::insert, words::global::inserted, &v, at, added,
             [&] { splice(series, at, 0, text); });
    }
    series::set_head(series, std::min(at + added, series::buffer_length(series)));
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    int32_t len = series::length(series);
    int32_t at = series->int1();
    Cell v = *value;
    std::u32string text = repeated(value_text(&v), -1, dup);
    int32_t size = static_cast<int32_t>(text.size());
    int32_t replaced = part < 0 ? std::min(size, len) : std::min(part, len);
    edit(series, words::global::change, words::global::changed, &v, at, size,
         [&] { splice(series, at, replaced, text); });
    series::set_head(series, std::min(at + size, series::buffer_length(series)));
    return series;
}

// =============================================================================================
// Search: find and select, shared with binary! and vector!

namespace {

// Reads element i of a vector! as a number (element type in word 3, width in the unit).
double vector_element(const Cell* v, int32_t i) { return vector::number_at(v, i); }

// Upper-case forms of the 256 code points a unit-1 buffer holds.
const std::array<uint32_t, 256>& upper_latin1() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t c = 0; c < 256; ++c) t[c] = case_folding::to_upper(c);
        return t;
    }();
    return table;
}

// One search: the needle is made (and folded) once, before anything is scanned; the scans
// read the buffer through an address taken when they start, as nothing allocates then.
struct Search {
    Cell series;
    Type kind;          // string, binary or vector haystack
    bool fold;          // compare in upper case
    enum { one, bits, text, number } needle;
    double num = 0;
    Cell bitset{};
    std::u32string pattern;  // the text, or the one code point of a char!
    const uint8_t* base = nullptr;
    uint32_t unit = 1;

    int32_t needle_size() const { return needle == text || needle == one ? static_cast<int32_t>(pattern.size()) : 1; }

    void attach() {
        SeriesBuffer* b = series::buffer(&series);
        base = b->head_ptr();
        unit = b->unit();
    }
    uint32_t raw(int32_t i) const { return get_char(base + size_t(i) * unit, unit); }
    uint32_t folded(int32_t i) const {
        if (unit == 1) return upper_latin1()[base[i]];
        return case_folding::to_upper(raw(i));
    }
    bool element_is(int32_t i, uint32_t c) const {
        if (kind == Type::vector) return vector_element(&series, i) == double(c);
        return (fold ? folded(i) : raw(i)) == c;
    }
    bool matches(int32_t i) const {
        switch (needle) {
            case bits: return in_bitset(&bitset, kind == Type::vector ? uint32_t(vector_element(&series, i)) : raw(i));
            case number: return kind == Type::vector ? vector_element(&series, i) == num : double(raw(i)) == num;
            case one:
            case text:
                for (size_t k = 0; k < pattern.size(); ++k)
                    if (!element_is(i + int32_t(k), pattern[k])) return false;
                return true;
        }
        return false;
    }

    // The first start among first, first + dir, ... up to last (inclusive) where the needle
    // matches, or -1.
    int32_t scan(int32_t first, int32_t last, int32_t dir) const {
        if ((needle == one || needle == text) && kind != Type::vector) return fold ? scan_folded(first, last, dir) : scan_exact(first, last, dir);
        // 64 bits: a /skip near the largest integer steps past the last start, not round.
        for (int64_t p = first; dir > 0 ? p <= last : p >= last; p += dir)
            if (matches(static_cast<int32_t>(p))) return static_cast<int32_t>(p);
        return -1;
    }

    // Exact text: the needle laid out in the buffer's unit and searched for with the C
    // library's byte searches.
    int32_t scan_exact(int32_t first, int32_t last, int32_t dir) const {
        uint32_t widest = unit == 1 ? 0xFF : unit == 2 ? 0xFFFF : 0xFFFFFFFF;
        std::string bytes(pattern.size() * unit, '\0');
        for (size_t k = 0; k < pattern.size(); ++k) {
            if (pattern[k] > widest) return -1;  // a unit this narrow holds no such code point
            put_char(reinterpret_cast<uint8_t*>(bytes.data()) + k * unit, unit, pattern[k]);
        }
        const size_t n = bytes.size();
        const auto* needle_bytes = reinterpret_cast<const uint8_t*>(bytes.data());
        if (dir > 0) {
            const uint8_t* from = base + size_t(first) * unit;
            const uint8_t* end = base + (size_t(last) * unit + n);
            while (from < end) {
                const void* hit = n == 1 ? std::memchr(from, needle_bytes[0], size_t(end - from))
                                         : memmem(from, size_t(end - from), needle_bytes, n);
                if (!hit) return -1;
                size_t at = size_t(static_cast<const uint8_t*>(hit) - base);
                // A hit inside a unit, or between the starts /skip allows, is passed over.
                if (at % unit == 0 && (at / unit - size_t(first)) % size_t(dir) == 0) return static_cast<int32_t>(at / unit);
                from = static_cast<const uint8_t*>(hit) + 1;
            }
            return -1;
        }
        if (unit == 1 && dir == -1) {
            const uint8_t* low = base + last;
            size_t span = size_t(first - last) + 1;
            while (span > 0) {
                const auto* hit = static_cast<const uint8_t*>(memrchr(low, needle_bytes[0], span));
                if (!hit) return -1;
                if (std::memcmp(hit, needle_bytes, n) == 0) return static_cast<int32_t>(hit - base);
                span = size_t(hit - low);
            }
            return -1;
        }
        for (int32_t p = first; p >= last; p += dir)
            if (std::memcmp(base + size_t(p) * unit, needle_bytes, n) == 0) return p;
        return -1;
    }

    // Text in either case: the needle was folded once; each start folds the buffer's unit
    // there, and only a start whose first unit agrees compares the rest.
    int32_t scan_folded(int32_t first, int32_t last, int32_t dir) const {
        if (unit == 1 && (dir == 1 || dir == -1)) {
            if (std::optional<int32_t> at = scan_folded_bytes(first, last, dir)) return *at;
        }
        const uint32_t head = pattern[0];
        const auto m = static_cast<int32_t>(pattern.size());
        for (int64_t at = first; dir > 0 ? at <= last : at >= last; at += dir) {
            auto p = static_cast<int32_t>(at);
            if (folded(p) != head) continue;
            int32_t k = 1;
            while (k < m && folded(p + k) == pattern[size_t(k)]) ++k;
            if (k == m) return p;
        }
        return -1;
    }

    // Unit 1, every start: the few bytes that fold to the needle's first code point are
    // looked for with memchr (memrchr backwards), each from where it was last seen, so each
    // byte of the range is passed over once per such byte. Nothing when there are too many.
    std::optional<int32_t> scan_folded_bytes(int32_t first, int32_t last, int32_t dir) const {
        const auto& upper = upper_latin1();
        std::array<uint8_t, 4> heads{};
        size_t kinds = 0;
        for (uint32_t b = 0; b < 256; ++b) {
            if (upper[b] != pattern[0]) continue;
            if (kinds == heads.size()) return std::nullopt;
            heads[kinds++] = static_cast<uint8_t>(b);
        }
        auto rest_matches = [&](const uint8_t* p) {
            for (size_t k = 1; k < pattern.size(); ++k)
                if (upper[p[k]] != pattern[k]) return false;
            return true;
        };
        const uint8_t* low = base + first;
        const uint8_t* high = base + last + 1;  // the starts are [low, high) forwards
        if (dir < 0) low = base + last, high = base + first + 1;
        auto seek = [&](uint8_t byte, const uint8_t* from, const uint8_t* to) -> const uint8_t* {
            if (from >= to) return nullptr;
            return static_cast<const uint8_t*>(dir > 0 ? std::memchr(from, byte, size_t(to - from))
                                                       : memrchr(from, byte, size_t(to - from)));
        };
        std::array<const uint8_t*, 4> next{};
        for (size_t i = 0; i < kinds; ++i) next[i] = seek(heads[i], low, high);
        for (;;) {
            const uint8_t* p = nullptr;
            for (size_t i = 0; i < kinds; ++i)
                if (next[i] && (!p || (dir > 0 ? next[i] < p : next[i] > p))) p = next[i];
            if (!p) return -1;
            if (rest_matches(p)) return static_cast<int32_t>(p - base);
            for (size_t i = 0; i < kinds; ++i)
                if (next[i] == p) next[i] = dir > 0 ? seek(heads[i], p + 1, high) : seek(heads[i], low, p);
        }
    }
};

std::u32string utf8_units(std::u32string_view text) {
    std::u32string out;
    uint8_t buf[4];
    for (char32_t c : text) {
        int n = unicode::encode_utf8_char(c, buf);
        out.append(buf, buf + n);
    }
    return out;
}

Search prepare_search(Cell* series, Cell* value, bool case_, bool same) {
    Search s;
    s.series = *series;
    Type t = series->type();
    s.kind = t == Type::binary || t == Type::vector ? t : Type::string;
    s.fold = s.kind == Type::string && !case_ && !same;
    Cell v = *value;
    if (v.is(Type::char_)) {
        s.needle = Search::one;
        s.pattern.assign(1, s.fold ? case_folding::to_upper(char_::code_of(&v)) : char_::code_of(&v));
    } else if (v.is(Type::bitset)) {
        s.needle = Search::bits;
        s.bitset = v;
        s.fold = false;
    } else if (s.kind != Type::string && (v.is(Type::integer) || v.is(Type::float_))) {
        s.needle = Search::number;
        s.num = v.is(Type::integer) ? double(v.int2()) : v.float23();
    } else {
        s.needle = Search::text;
        if (v.is(Type::binary)) {
            if (s.kind != Type::binary) error::raise(error::id::script_invalid_arg, value);
            s.pattern = code_points(&v);
        } else if (family_q(v.type())) {
            s.pattern = code_points(&v);
        } else if (v.is(Type::word)) {
            Cell name = text_cell(&v);
            s.pattern = code_points(&name);
        } else {
            s.pattern = formed_text(&v);
        }
        // A binary is searched for the UTF-8 bytes of a text.
        if (s.kind == Type::binary && !v.is(Type::binary)) s.pattern = utf8_units(s.pattern);
        if (s.fold)
            for (char32_t& c : s.pattern) c = case_folding::to_upper(c);
    }
    return s;
}

struct Found {
    int32_t position;  // start of the match, absolute
    int32_t size;      // units matched
};

// The common walk of find and select; nothing when there is no match.
std::optional<Found> search(Cell* series, Cell* value, Cell* part, bool case_, bool same, bool any, Cell* with,
                            Cell* skip, bool last, bool reverse, bool match) {
    int32_t length = series::length(series);
    int32_t total = series::buffer_length(series);
    int32_t head = series->int1();
    if (total == 0 || (length == 0 && !reverse)) return std::nullopt;
    if (any || with) raise_not_done();
    int32_t step = 1;
    if (skip) {
        step = skip->int2();
        if (step < 1) error::raise(error::id::script_out_of_range, skip);
    }
    int32_t count = reverse ? head : length;
    if (part) {
        int32_t c;
        if (part->is(Type::integer)) {
            c = part->int2();
        } else if (part->type() == series->type() && series::node(part) == series::node(series)) {
            c = reverse ? head - part->int1() : part->int1() - head;
        } else {
            error::raise_refine_arg(words::refine::part, part);
        }
        if (c < 1) return std::nullopt;
        count = std::min(c, count);
    }
    Search s = prepare_search(series, value, case_, same);
    int32_t m = s.needle_size();
    if (m == 0) return std::nullopt;
    int32_t first, last_start, dir;
    if (reverse) {
        first = head - step;
        while (first >= 0 && first + m > total) first -= step;
        last_start = head - count;
        if (first < last_start) return std::nullopt;
        dir = -step;
    } else {
        int32_t end = head + count - m;  // the last start that leaves room for the match
        if (end < head) return std::nullopt;
        if (last) {
            first = head + (end - head) / step * step;
            last_start = head;
            dir = -step;
        } else {
            first = head;
            last_start = end;
            dir = step;
        }
    }
    s.attach();
    int32_t at = match ? (s.matches(first) ? first : -1) : s.scan(first, last_start, dir);
    if (at < 0) return std::nullopt;
    return Found{at, m};
}

}  // namespace

Cell* find(Cell* series, Cell* value, const slotfn::FindOptions& o) {
    std::optional<Found> f =
        search(series, value, o.part, o.case_, o.same, o.any, o.with, o.skip, o.last, o.reverse, o.match);
    if (!f) return none_result();
    series::set_head(series, f->position + (o.tail ? f->size : 0));
    return series;
}

static Cell* select(Cell* series, Cell* value, const slotfn::SelectOptions& o) {
    std::optional<Found> f =
        search(series, value, o.part, o.case_, o.same, o.any, o.with, o.skip, o.last, o.reverse, false);
    if (!f) return none_result();
    int32_t at = f->position + f->size;
    if (at >= series::buffer_length(series)) return none_result();
    switch (series->type()) {
        case Type::binary: make_integer(series, static_cast<int32_t>(char_at(series, at))); break;
        case Type::vector: {
            auto type = vector::element_type(series);
            double d = vector_element(series, at);
            if (type == Type::float_ || type == Type::percent) {
                cell::make(series, type);
                series->set_float23(d);
            } else {
                cell::make(series, type, 0, static_cast<uint32_t>(static_cast<int32_t>(d)), 0);
            }
            break;
        }
        default: make_char(series, char_at(series, at));
    }
    return series;
}

// =============================================================================================
// take, swap, trim

static Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* r = series::take(series, part, deep, last);
    // One element taken without /part is given as the element itself.
    if (!part && r->type() == series->type() && series::length(r) == 1) {
        series::read_element(r, r->int1(), r);
    }
    return r;
}

static Cell* swap(Cell* a, Cell* b) {
    if (!family_q(b->type()) && !b->is(Type::binary)) error::raise(error::id::script_invalid_arg, b);
    if (series::length(a) < 1 || series::length(b) < 1) return a;
    uint32_t ca = char_at(a, a->int1()), cb = char_at(b, b->int1());
    // A binary holds bytes: widening it for a wider code point would turn it into text.
    for (auto [target, c] : {std::pair{a, cb}, std::pair{b, ca}}) {
        if (target->is(Type::binary) && c > 0xFF) {
            Cell ch;
            make_char(&ch, c);
            error::raise(error::id::script_invalid_arg, &ch);
        }
    }
    bool told_a = series::notify_before(a, words::global::swap, b, a->int1(), 1);
    bool told_b = series::notify_before(b, words::global::swap, a, b->int1(), 1);
    poke_char(series::buffer(a), a->int1(), cb);
    poke_char(series::buffer(b), b->int1(), ca);
    series::notify_after(told_a, a, words::global::swaped, b, a->int1(), 1);
    series::notify_after(told_b, b, words::global::swaped, a, b->int1(), 1);
    return a;
}

namespace {

bool space_q(char32_t c) {
    return c == ' ' || c == '\t' || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}
bool white_q(char32_t c) { return (c >= 1 && c <= 32) || space_q(c); }

// Writes the new text from the head (never longer than the old, so the unit still holds it).
void store_trimmed(Cell* s, std::u32string_view text) {
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    uint8_t* p = series::head_address(s);
    for (char32_t c : text) put_char(p, unit, c), p += unit;
    b->tail = memory::ref(p);
}

std::u32string trim_ends(const std::u32string& t, bool head, bool tail) {
    size_t from = 0, to = t.size();
    if (head)
        while (from < to && white_q(t[from])) ++from;
    if (tail)
        while (to > from && white_q(t[to - 1])) --to;
    return t.substr(from, to - from);
}

std::u32string trim_lines(const std::u32string& t) {
    std::u32string out;
    bool pending = false;
    for (char32_t c : t) {
        if (white_q(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out += U' ';
        pending = false;
        out += c;
    }
    return out;
}

std::u32string trim_plain(const std::u32string& t) {
    size_t to = t.size();
    while (to > 0 && white_q(t[to - 1])) --to;
    bool ended_line = t.find(U'\n', to) != std::u32string::npos;
    size_t from = 0;
    while (from < to && white_q(t[from])) ++from;
    std::u32string out;
    size_t line_start = 0;  // where the current output line begins
    for (size_t i = from; i < to; ++i) {
        char32_t c = t[i];
        if (c == '\n') {
            while (out.size() > line_start && space_q(out.back())) out.pop_back();
            out += c;
            line_start = out.size();
            continue;
        }
        if (out.size() == line_start && line_start > 0 && space_q(c)) continue;
        out += c;
    }
    if (ended_line) out += U'\n';
    return out;
}

}  // namespace

namespace {

// The code points that trim/all and trim/with remove: tab, LF, CR and space without a set,
// else those of a string! or binary!, or the one of a char! or integer!.
std::u32string trimmed_set(Cell* with) {
    if (!with) return U"\t\n\r ";
    if (family_q(with->type()) || with->is(Type::binary)) {
        Cell w = *with;
        return code_points(&w);
    }
    if (with->is(Type::char_) || with->is(Type::integer)) return std::u32string(1, static_cast<char32_t>(with->is(Type::char_) ? char_::code_of(with) : static_cast<uint32_t>(integer::get(with))));
    error::raise(error::id::script_invalid_arg, with);
}

void remove_chars(Cell* series, std::u32string_view set) {
    std::u32string t = code_points(series), out;
    for (char32_t c : t)
        if (set.find(c) == std::u32string::npos) out += c;
    store_trimmed(series, out);
}

}  // namespace

void trim_chars(Cell* series, Cell* with) { remove_chars(series, trimmed_set(with)); }

static Cell* trim(Cell* series, const slotfn::TrimOptions& o) {
    if (o.auto_ && !o.all && !o.with) raise_not_done();
    std::u32string set = o.all || o.with ? trimmed_set(o.with) : std::u32string();
    int32_t at = series->int1();
    edit(series, words::global::trim, words::global::trimmed, nullptr, at, series::length(series), [&] {
        if (o.all || o.with) {
            remove_chars(series, set);
            return;
        }
        std::u32string t = code_points(series);
        if (o.lines) t = trim_lines(t);
        else if (o.head || o.tail) t = trim_ends(t, o.head, o.tail);
        else t = trim_plain(t);
        store_trimmed(series, t);
    });
    return series;
}

// =============================================================================================
// Set operations

Cell* set_op(Cell* a, Cell* b, int32_t code, bool case_, Cell* skip) {
    int32_t size = 1;
    if (skip) {
        size = skip->int2();
        if (size < 1) error::raise_refine_arg(words::refine::skip, skip);
    }
    bool fold = !case_ && !a->is(Type::binary);
    // Records of size code points, folded for the membership tests.
    auto records = [&](Cell* s) {
        std::u32string t = code_points(s);
        std::vector<std::u32string> out;
        for (size_t i = 0; i < t.size(); i += size_t(size)) out.push_back(t.substr(i, size_t(size)));
        return out;
    };
    auto key = [&](std::u32string r) {
        if (fold)
            for (char32_t& c : r) c = case_folding::to_upper(c);
        return r;
    };
    std::vector<std::u32string> ra = records(a), rb;
    std::set<std::u32string> in_b;
    if (b) {
        rb = records(b);
        for (auto& r : rb) in_b.insert(key(r));
    }
    std::set<std::u32string> in_a;
    for (auto& r : ra) in_a.insert(key(r));
    std::set<std::u32string> seen;
    std::u32string out;
    auto add = [&](const std::u32string& r, bool wanted) {
        if (wanted && seen.insert(key(r)).second) out += r;
    };
    for (auto& r : ra) {
        bool other = in_b.count(key(r)) != 0;
        switch (code) {
            case 10: add(r, other); break;                    // intersect
            case 11: case 12: add(r, !other); break;         // exclude, difference
            default: add(r, true);                           // unique, union
        }
    }
    if (code == 9 || code == 12)
        for (auto& r : rb) add(r, code == 9 || in_a.count(key(r)) == 0);
    Cell* result = push_new(static_cast<int32_t>(out.size()), a->type());
    append_chars(result, out);
    return result;
}

// =============================================================================================
// make, to, form, mold

namespace {

[[noreturn]] void raise_with_type(error::Id id, int32_t type, const Cell* value) {
    Cell t;
    datatype::make_at(&t, type);
    error::raise(id, &t, value);
}

// A capacity from a number; negative, not a number or beyond 32 bits is out of range.
int32_t capacity_of(const Cell* spec) {
    if (spec->is(Type::integer)) {
        if (spec->int2() < 0) error::raise(error::id::script_out_of_range, spec);
        return spec->int2();
    }
    double d = spec->float23();
    if (!(d >= 0.0 && d < 2147483648.0)) error::raise(error::id::script_out_of_range, spec);
    return static_cast<int32_t>(d);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::integer) || spec->is(Type::float_)) {
        int32_t n = capacity_of(spec);
        return push_new(n, static_cast<Type>(type));
    }
    if (type == static_cast<int32_t>(Type::binary) && spec->is(Type::money))
        raise_with_type(error::id::script_bad_make_arg, type, spec);
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    auto t = static_cast<Type>(type);
    Cell v = *spec;
    if (v.is(Type::none)) raise_with_type(error::id::script_bad_to_arg, type, spec);
    if (v.is(Type::binary)) {
        // Loading allocates: the bytes leave the binary's buffer first.
        int32_t n = series::length(&v);
        const uint8_t* p = series::head_address(&v);
        std::vector<uint8_t> bytes(p, p + n);
        size_t left = 0;
        Ref node = unicode::load_utf8(bytes.data(), bytes.size(), 0, false, &left);
        if (left) {
            Cell rest;
            Ref r = memory::alloc_bytes(static_cast<int64_t>(left));
            SeriesBuffer* rb = buffer_of(r);
            std::memcpy(rb->head_ptr(), bytes.data() + bytes.size() - left, left);
            rb->tail = rb->head + static_cast<uint32_t>(left);
            cell::make(&rest, Type::binary, 0, r, 0);
            (void)node;
            error::raise(error::id::access_invalid_utf8, &rest);
        }
        Cell* result = stack::push_slot();
        cell::make(result, t, 0, node, 0);
        return result;
    }
    Cell* result = push_new(16, t);
    if (family_q(v.type())) {
        concatenate(result, &v, -1, 0, false, 0);
    } else if (v.is(Type::refinement) && t != Type::string) {
        Cell temp;
        actions::mold_to(&v, &temp);
        concatenate(result, &temp, -1, 0, false, 0);
    } else {
        append_chars(result, formed_text(&v));
    }
    return result;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    Cell v = *value;
    int32_t length = series::length(&v);
    int32_t n = part && budget < length ? std::max(budget, 0) : length;
    concatenate(buffer, &v, n, 0, false, 0);
    return budget - length;
}

namespace {

void append_hex(std::u32string& out, uint32_t c) {
    std::string h = to_hex_8(static_cast<int32_t>(c), true);
    size_t first = h.find_first_not_of('0');
    out += U"^(";
    for (char d : h.substr(first == std::string::npos ? h.size() - 1 : first)) out += char32_t(d);
    out += U')';
}

// The escape of a molded code point; a double quote is escaped only between double quotes.
void escape_char(std::u32string& out, char32_t c, bool all, bool quoted) {
    static constexpr char controls[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
    if (c == 0x1E || (c >= 0x80 && c <= 0x9F) || (all && c > 0x7F)) {
        append_hex(out, c);
    } else if (c < 32) {
        out += U'^';
        out += char32_t(controls[c]);
    } else if ((c == '"' && quoted) || c == '^') {
        out += U'^';
        out += c;
    } else if (c == 0x7F) {
        out += U"^~";
    } else {
        out += c;
    }
}

}  // namespace

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    int32_t whole = series::length(&v);
    int32_t n = part && budget < whole ? std::max(budget, 0) : whole;
    std::u32string t = code_points(&v, v.int1(), n);
    size_t quotes = std::count(t.begin(), t.end(), U'"');
    size_t lines = std::count(t.begin(), t.end(), U'\n');
    bool braces = lines >= 3 || quotes >= 1 || whole >= 50;
    std::u32string out;
    out.reserve(t.size() + 2);
    if (!braces) {
        out += U'"';
        for (char32_t c : t) escape_char(out, c, all, true);
        out += U'"';
    } else {
        // An opening brace is written plain while it has a closing one later in the text;
        // from the first that has none, every opening brace is escaped.
        std::vector<bool> closed(t.size(), false);
        std::vector<size_t> open;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '{') open.push_back(i);
            else if (t[i] == '}' && !open.empty()) closed[open.back()] = true, open.pop_back();
        }
        bool balanced = true;
        int32_t depth = 0;
        out += U'{';
        for (size_t i = 0; i < t.size(); ++i) {
            char32_t c = t[i];
            if (c == '{') {
                if (balanced && !closed[i]) balanced = false;
                if (balanced) out += c, ++depth;
                else out += U"^{";
            } else if (c == '}') {
                if (depth > 0) out += c, --depth;
                else out += U"^}";
            } else {
                escape_char(out, c, all, false);
            }
        }
        out += U'}';
    }
    append_chars(buffer, out);
    return static_cast<int32_t>(std::max<int64_t>(int64_t(budget) - int64_t(out.size()), INT32_MIN));
}

// =============================================================================================
// eval-path, compare, sort

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                int32_t position, bool last, bool notify) {
    if (element->is(Type::integer)) {
        if (set_value) {
            series::poke(value, element->int2(), set_value, element);
            return set_value;
        }
        Cell* result = stack::push(value);  // the value may be a word's own cell: answer in a copy
        return series::pick(result, element->int2(), element);
    }
    if (element->is(Type::word)) error::raise(error::id::script_invalid_path, element);
    if (!set_value) {
        Cell* copy = stack::push(value);  // the value may be a word's own cell: answer in a copy
        slotfn::SelectOptions key;
        key.case_ = case_;
        return select(copy, element, key);
    }
    Cell at = *value;
    slotfn::FindOptions key;
    key.case_ = case_;
    key.tail = true;
    if (find(&at, element, key)->is(Type::none))
        error::raise(error::id::script_bad_path_set, element, set_value);
    Cell one;
    make_integer(&one, 1);
    series::poke(&at, 1, set_value, &one);
    return set_value;
}

int32_t compare(Cell* a, Cell* b, int32_t code) {
    if (a->type() != b->type() && (!family_q(b->type()) || (code != op::equal && code != op::not_equal))) return -2;
    return compare_op(a, b, code, false);
}

namespace {

constexpr int32_t sort_case = 1, sort_reverse = 2, sort_all = 4;

// One sort of a string's records. A /compare function runs code, which may allocate (moving
// the buffer) or even change the string: such a sort orders a list of record numbers, reads
// the records again through the node at every comparison, and puts them in order once at
// the end. The default orders never allocate and sort the records where they lie.
struct SortRun {
    Cell series;       // head at the first record
    int32_t size;      // units per record
    int32_t offset;    // the compared unit of a record
    int32_t flags;
    Cell function;     // the /compare function, or none
    uint32_t unit;     // the buffer's unit (default orders)
    Type kind;         // the series' datatype: text is folded, bytes and numbers are not
    // What a call of the function raised (an error, or a break or return leaving it). The
    // sorts are never crossed by it: the remaining comparisons answer "equal" without
    // calling anything, and it is raised again once the sort is over.
    std::exception_ptr failure;
};

SortRun* running_sort = nullptr;

// Unit 1 folds only A-Z (to lower case); the wider units fold both code points to upper case.
inline uint32_t sort_key(uint32_t c, uint32_t unit, int32_t flags) {
    if (flags & sort_case) return c;
    if (unit == 1) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return case_folding::to_upper(c);
}

int32_t compare_in_place(const uint8_t* a, const uint8_t* b, int32_t, int32_t) {
    const SortRun& run = *running_sort;
    uint32_t unit = run.unit;
    int32_t from = run.flags & sort_all ? 0 : run.offset;
    int32_t to = run.flags & sort_all ? run.size : run.offset + 1;
    bool ascending = !(run.flags & sort_reverse);
    for (int32_t k = from; k < to; ++k) {
        const uint8_t* pa = a + size_t(k) * unit;
        const uint8_t* pb = b + size_t(k) * unit;
        if (run.kind == Type::vector) {
            // Numbers in their numeric order, signs and fractions included.
            Type element = vector::element_type(&run.series);
            double x = vector::number_of(pa, unit, element), y = vector::number_of(pb, unit, element);
            if (x != y) return (x < y) == ascending ? -1 : 1;
            continue;
        }
        uint32_t x = get_char(pa, unit), y = get_char(pb, unit);
        if (run.kind != Type::binary) {  // bytes are never case-folded
            x = sort_key(x, unit, run.flags);
            y = sort_key(y, unit, run.flags);
        }
        if (x != y) return (x < y) == ascending ? -1 : 1;
    }
    return 0;
}

// The order a /compare function's answer gives: it is asked about the pair in reverse
// order, so a function answering "first lower than second" sorts in ascending order.
int32_t answer_of(const Cell& r) {
    switch (r.type()) {
        case Type::logic: return logic::get(&r) ? 1 : -1;
        case Type::integer: return r.int2() > 0 ? -1 : r.int2() < 0 ? 1 : 0;
        case Type::float_: {
            double d = r.float23();
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        }
        case Type::none: return -1;
        default: return 1;
    }
}

// A record as the function gets it: one char! (the compared unit), or with /all a new
// string! holding the whole record.
Cell record_value(const SortRun& run, int32_t record) {
    int32_t at = run.series.int1() + record * run.size;
    Cell v;
    if (!(run.flags & sort_all)) {
        make_char(&v, char_at(&run.series, at + run.offset));
        return v;
    }
    std::u32string text = code_points(&run.series, at, run.size);
    make_at(&v, run.size);
    append_chars(&v, text);
    return v;
}

int32_t compare_by_function(const uint8_t* pa, const uint8_t* pb, int32_t, int32_t) {
    SortRun& run = *running_sort;
    if (run.failure) return 0;
    int32_t a, b;
    std::memcpy(&a, pa, 4);
    std::memcpy(&b, pb, 4);
    // The function may have shortened the string: records past its tail are equal.
    if (run.series.int1() + (std::max(a, b) + 1) * run.size > series::buffer_length(&run.series)) return 0;
    try {
        // Both cells live in this frame, where the collector sees their nodes.
        Cell args[2] = {record_value(run, b), record_value(run, a)};
        if (run.flags & sort_reverse) std::swap(args[0], args[1]);
        Cell result;
        upcall::calls.apply(&run.function, nullptr, args, 2, &result, nullptr, upcall::callback::sort);
        return answer_of(result);
    } catch (...) {
        run.failure = std::current_exception();
        return 0;
    }
}

// Puts the records in the order of the sorted record numbers. The text is read and written
// at the buffer's present unit, so a function that widened the string changes nothing here;
// one that cut the string short leaves it as it is.
void apply_order(const SortRun& run, const std::vector<int32_t>& order) {
    auto records = static_cast<int32_t>(order.size());
    int32_t base = run.series.int1();
    if (base + records * run.size > series::buffer_length(&run.series)) return;
    std::u32string text = code_points(&run.series, base, records * run.size);
    SeriesBuffer* b = series::buffer(&run.series);
    uint32_t unit = b->unit();
    uint8_t* p = b->head_ptr() + size_t(base) * unit;
    for (int32_t record : order)
        for (int32_t k = 0; k < run.size; ++k, p += unit) put_char(p, unit, text[size_t(record) * run.size + k]);
}

// Makes the run current for the callbacks, and the outer one again when it ends, however it ends.
struct Running {
    SortRun* outer;
    explicit Running(SortRun* run) : outer(running_sort) { running_sort = run; }
    ~Running() { running_sort = outer; }
};

void run_sort(SortRun& run, int32_t records, bool stable) {
    Running current(&run);
    if (!run.function.is(Type::function)) {
        // Nothing here allocates in the arena, so the buffer stays where it is.
        int32_t bytes = run.size * static_cast<int32_t>(run.unit);
        uint8_t* base = series::head_address(&run.series);
        if (stable) sorting::merge_sort(base, records, bytes, 0, 0, compare_in_place);
        else sorting::quick_sort(base, records, bytes, 0, 0, compare_in_place);
        return;
    }
    std::vector<int32_t> order(size_t(records), 0);
    for (int32_t k = 0; k < records; ++k) order[size_t(k)] = k;
    auto area = reinterpret_cast<uint8_t*>(order.data());
    if (stable) sorting::merge_sort(area, records, 4, 0, 0, compare_by_function);
    else sorting::quick_sort(area, records, 4, 0, 0, compare_by_function);
    if (run.failure) std::rethrow_exception(run.failure);
    apply_order(run, order);
}

}  // namespace

// /stable always gives the stable merge sort, with /case too: records that compare equal on
// their compared unit may still differ elsewhere, and asking for a stable order must keep them.
static Cell* sort(Cell* series, const slotfn::SortOptions& o) {
    Cell *skip = o.skip, *compare_by = o.compare, *part = o.part;
    if (series::buffer_length(series) == 0) return series;
    int32_t length = series::length(series);
    int32_t head = series->int1();
    if (part) {
        int32_t n;
        if (part->is(Type::integer)) n = part->int2();
        else if (part->type() == series->type() && series::node(part) == series::node(series)) n = part->int1() - head;
        else error::raise_refine_arg(words::refine::part, part);
        series::PartRange r = series::part_range(head, n, series::buffer_length(series));
        head = r.start;
        length = r.count;
    }
    int32_t size = 1;
    if (skip) {
        size = skip->int2();
        if (size < 1 || size > length || length % size != 0) error::raise_refine_arg(words::refine::skip, skip);
    }
    bool by_offset = compare_by && compare_by->is(Type::integer);
    if ((o.all && !skip) || (by_offset && (!skip || o.all))) error::raise(error::id::script_bad_refines);
    int32_t offset = 0;
    Cell function = none::shared;
    if (compare_by) {
        if (compare_by->is(Type::function)) {
            function = *compare_by;
        } else if (!by_offset) {
            error::raise_refine_arg(words::refine::compare, compare_by);
        } else {
            if (compare_by->int2() < 1 || compare_by->int2() > size) error::raise(error::id::script_out_of_range, compare_by);
            offset = compare_by->int2() - 1;
        }
    }
    series::set_head(series, head);  // a negative /part sorts the range before the head
    int32_t flags = (o.case_ ? sort_case : 0) | (o.reverse ? sort_reverse : 0) | (o.all ? sort_all : 0);
    SortRun run{*series, size, offset, flags, function, series::buffer(series)->unit(), series->type(), nullptr};
    edit(series, words::global::sort, words::global::sorted, nullptr, head, length,
         [&] { run_sort(run, length / size, o.stable); });
    return series;
}

// =============================================================================================

void init() {
    static_assert(std::is_same_v<decltype(&append), slotfn::Append> && std::is_same_v<decltype(&change), slotfn::Change> &&
                  std::is_same_v<decltype(&find), slotfn::Find> && std::is_same_v<decltype(&select), slotfn::Select> &&
                  std::is_same_v<decltype(&sort), slotfn::Sort> && std::is_same_v<decltype(&take), slotfn::Take> &&
                  std::is_same_v<decltype(&trim), slotfn::Trim> && std::is_same_v<decltype(&eval_path), slotfn::EvalPath> &&
                  std::is_same_v<decltype(&swap), slotfn::Swap> && std::is_same_v<decltype(&make), slotfn::Make>);
    datatype::register_type(Type::string, {
        .others = datatype::inherit,
        .make = make,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .append = append,
        .change = change,
        .find = find,
        .insert = insert,
        .select = select,
        .sort = sort,
        .swap = swap,
        .take = take,
        .trim = trim,
    });
}

}  // namespace zuv::string
