// string! storage: the helpers that build text everywhere in the system.
#include "datatypes/string.h"

#include <cstring>

#include "evaluator/error.h"
#include "memory/case-folding.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "runtime/fatal.h"

namespace zuv::string {

namespace {

using memory::buffer_of;

inline uint32_t units_of(const SeriesBuffer* b) { return b->used_bytes() >> series::unit_shift(b->unit()); }

// Makes room for extra bytes at the tail; gives the buffer to use.
SeriesBuffer* reserve(SeriesBuffer* b, uint32_t extra) {
    if (b->tail_ptr() + extra <= b->data_end()) return b;
    uint64_t needed = uint64_t(b->used_bytes()) + extra;
    uint64_t capacity = uint64_t(b->capacity) * 2;
    if (capacity < needed) capacity = needed;
    if (capacity > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
    return memory::expand_series(b, static_cast<int64_t>(capacity));
}

[[noreturn]] void raise_invalid_utf8(const uint8_t* bytes, uint8_t n) {
    Cell bin;
    Ref node = memory::alloc_bytes(n ? n : 1);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    cell::make(&bin, Type::binary, 0, node, 0);
    error::raise(error::id::access_invalid_utf8, &bin);
}

}  // namespace

void make_at(Cell* c, int32_t capacity, Type t) {
    cell::make(c, Type::unset);
    Ref node = memory::alloc_series(capacity > 0 ? capacity : 1, 1, 0);
    cell::make(c, t, 0, node, 0);
}

void make_at_bytes(Cell* c, int32_t n, uint32_t unit, Type t) {
    cell::make(c, Type::unset);
    Ref node = memory::alloc_units(n, unit);
    cell::make(c, t, 0, node, 0);
}

Cell* push(const Cell* s) { return stack::push(s); }

Cell* push_new(int32_t capacity) {
    Cell* c = stack::push_slot();
    make_at(c, capacity);
    return c;
}

SeriesBuffer* widen(SeriesBuffer* b, uint32_t unit) {
    uint32_t old = b->unit();
    if (unit <= old) return b;
    uint32_t n = units_of(b);
    uint64_t needed = uint64_t(n) * unit + unit;
    if (needed > b->capacity) {
        if (needed > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
        b = memory::expand_series(b, static_cast<int64_t>(needed));
    }
    uint8_t* d = b->head_ptr();
    // From the last unit to the first, so no unit is overwritten before it is read.
    for (uint32_t i = n; i-- > 0;) put_char(d + i * unit, unit, get_char(d + i * old, old));
    b->flags = (b->flags & ~memory::flag::unit_mask) | unit;
    b->tail = b->head + n * unit;
    return b;
}

SeriesBuffer* append_char(SeriesBuffer* b, uint32_t c) {
    uint32_t unit = b->unit();
    if (unit == 1 && c > 0x7F) b = widen(b, c > 0xFFFF ? 4 : 2);
    else if (unit == 2 && c > 0xFFFF) b = widen(b, 4);
    unit = b->unit();
    if (b->tail_ptr() + unit > b->data_end()) [[unlikely]] b = reserve(b, unit);
    put_char(b->tail_ptr(), unit, c);
    b->tail += unit;
    return b;
}

// Widening for a write at a position: unit 1 keeps up to 0xFF.
static SeriesBuffer* widen_for_write(SeriesBuffer* b, uint32_t c) {
    uint32_t unit = b->unit();
    if (unit == 1 && c > 0xFF) return widen(b, c > 0xFFFF ? 4 : 2);
    if (unit == 2 && c > 0xFFFF) return widen(b, 4);
    return b;
}

// Loading keeps unit 1 up to 0xFF too, and stores at the tail.
static SeriesBuffer* append_char_load(SeriesBuffer* b, uint32_t c) {
    b = widen_for_write(b, c);
    uint32_t unit = b->unit();
    if (b->tail_ptr() + unit > b->data_end()) b = reserve(b, unit);
    put_char(b->tail_ptr(), unit, c);
    b->tail += unit;
    return b;
}

SeriesBuffer* insert_char(SeriesBuffer* b, int32_t position, uint32_t c) {
    b = widen_for_write(b, c);
    uint32_t unit = b->unit();
    b = reserve(b, unit);
    uint8_t* p = b->head_ptr() + static_cast<size_t>(position) * unit;
    std::memmove(p + unit, p, static_cast<size_t>(b->tail_ptr() - p));
    put_char(p, unit, c);
    b->tail += unit;
    return b;
}

SeriesBuffer* poke_char(SeriesBuffer* b, int32_t position, uint32_t c) {
    b = widen_for_write(b, c);
    put_char(b->head_ptr() + static_cast<size_t>(position) * b->unit(), b->unit(), c);
    return b;
}

void append_c_string(Cell* s, const char* bytes) {
    append_bytes(s, reinterpret_cast<const uint8_t*>(bytes), static_cast<int32_t>(std::strlen(bytes)));
}

void append_bytes(Cell* s, const uint8_t* bytes, int32_t n) {
    SeriesBuffer* b = series::buffer(s);
    for (int32_t i = 0; i < n; ++i) b = append_char(b, bytes[i]);
}

void append_ascii(Cell* s, std::string_view text) {
    if (text.empty()) return;
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    b = reserve(b, static_cast<uint32_t>(text.size()) * unit);
    uint8_t* p = b->tail_ptr();
    if (unit == 1) {
        std::memcpy(p, text.data(), text.size());
    } else {
        for (size_t i = 0; i < text.size(); ++i) put_char(p + i * unit, unit, static_cast<uint8_t>(text[i]));
    }
    b->tail += static_cast<uint32_t>(text.size()) * unit;
}

void append_utf8(Cell* s, std::string_view text) {
    SeriesBuffer* b = series::buffer(s);
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            b = append_char(b, *p++);
            continue;
        }
        unicode::CheckedChar ch = unicode::decode_utf8_char_checked(p, static_cast<size_t>(end - p));
        if (ch.kind == unicode::CheckedChar::ok) {
            b = append_char(b, ch.code_point);
            p += ch.length;
        } else {
            b = append_char(b, 0xFFFD);
            ++p;
        }
    }
}

void concatenate(Cell* target, Cell* source, int32_t part, int32_t offset, bool per_char, int mode) {
    Cell src = *source;
    if (src.is(Type::symbol)) {
        // A symbol's text is its UTF-8 name.
        const char* name = reinterpret_cast<const char*>(buffer_of(src.data3)->head_ptr());
        Cell tmp;
        make_at(&tmp, 16);
        Cell* held = stack::push(&tmp);
        append_utf8(held, name);
        src = *held;
        stack::pop(1);
    }
    int32_t n = char_count(&src);
    if (part >= 0 && part < n) n = part;
    if (n <= 0) return;
    Ref src_node = src.data2;
    Ref dst_node = target->data2;
    SeriesBuffer* sb = buffer_of(src_node);
    SeriesBuffer* tb = buffer_of(dst_node);
    uint32_t su = sb->unit(), tu = tb->unit();
    if (per_char) {
        int32_t pos = offset;
        for (int32_t i = 0; i < n; ++i) {
            sb = buffer_of(src_node);
            uint32_t c = get_char(sb->head_ptr() + static_cast<size_t>(src.int1() + i) * sb->unit(), sb->unit());
            tb = buffer_of(dst_node);
            if (mode == 0) append_char(tb, c);
            else if (mode == 1) insert_char(tb, pos++, c);
            else {
                if (pos < static_cast<int32_t>(units_of(tb))) poke_char(tb, pos++, c);
                else { append_char(tb, c); ++pos; }
            }
        }
        return;
    }
    if (su > tu) tb = widen(tb, su), tu = su;
    else if (su < tu) sb = widen(sb, tu), su = tu;
    tb = buffer_of(dst_node);
    uint32_t bytes = static_cast<uint32_t>(n) * tu;
    uint32_t used = units_of(tb);
    uint32_t at = mode == 0 ? used : static_cast<uint32_t>(offset);
    uint32_t grow = mode == 1 ? bytes : (at + n > used ? (at + n - used) * tu : 0);
    if (tb->tail_ptr() + grow > tb->data_end()) {
        uint64_t needed = uint64_t(tb->used_bytes()) + grow;
        if (needed * 2 > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
        tb = memory::expand_series(tb, static_cast<int64_t>(needed * 2));
    }
    sb = buffer_of(src_node);
    uint8_t* dst = tb->head_ptr() + static_cast<size_t>(at) * tu;
    const uint8_t* from = sb->head_ptr() + static_cast<size_t>(src.int1()) * su;
    if (mode == 1) std::memmove(dst + bytes, dst, static_cast<size_t>(tb->tail_ptr() - dst));
    std::memmove(dst, from, bytes);
    if (mode == 0 || mode == 1) tb->tail += bytes;
    else if (at + n > used) tb->tail = tb->head + (at + n) * tu;
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
    s->data1 = 0;
}

int32_t index_of_char(Cell* s, uint32_t c) {
    int32_t n = char_count(s);
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    const uint8_t* p = series::head_address(s);
    for (int32_t i = 0; i < n; ++i)
        if (get_char(p + static_cast<size_t>(i) * unit, unit) == c) return i;
    return -1;
}

bool has_char_q(Cell* s, uint32_t c, int32_t step, bool case_sensitive) {
    int32_t n = char_count(s);
    if (step < 1) step = 1;
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
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
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    const uint8_t* p = series::head_address(s);
    int32_t i = 0;
    for (; bytes[i]; ++i)
        if (i >= n || get_char(p + static_cast<size_t>(i) * unit, unit) != static_cast<uint8_t>(bytes[i])) return false;
    return true;
}

void remove_units(Cell* s, int32_t position, int32_t n) {
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = b->unit();
    uint32_t used = units_of(b);
    if (position < 0 || static_cast<uint32_t>(position) >= used || n <= 0) return;
    if (static_cast<uint32_t>(position + n) > used) n = static_cast<int32_t>(used) - position;
    uint8_t* p = b->head_ptr() + static_cast<size_t>(position) * unit;
    std::memmove(p, p + static_cast<size_t>(n) * unit, static_cast<size_t>(b->tail_ptr() - p) - static_cast<size_t>(n) * unit);
    b->tail -= static_cast<uint32_t>(n) * unit;
}

void load_at(Cell* c, const uint8_t* bytes, size_t count, int encoding, Type t) {
    if (encoding != 0 && encoding != -1) runtime::quit(runtime::no_switch_match, 0);
    make_at(c, static_cast<int32_t>(count > 0 ? count : 1), t);
    Ref node = c->data2;
    SeriesBuffer* b = buffer_of(node);
    if (encoding == 0) {
        unicode::Utf8Load r = unicode::load_utf8(bytes, count, false, [&](uint32_t cp) { b = append_char_load(b, cp); });
        if (r.error != unicode::Error::none) raise_invalid_utf8(r.bad_bytes, r.bad_size);
    } else {
        size_t units = count / 2;
        uint32_t width = unicode::utf16_unit_width(bytes, units);
        if (width > 1) b = widen(b, width);
        unicode::Utf16Load r = unicode::load_utf16(bytes, units, width, false, [&](uint32_t cp) { b = append_char_load(b, cp); });
        if (r.error != unicode::Error::none) {
            size_t i = r.bad_index;
            raise_invalid_utf8(bytes + 2 * i, static_cast<uint8_t>(i + 1 < units ? 4 : 2));
        }
    }
}

Cell* load_push(const uint8_t* bytes, size_t count) {
    Cell* c = stack::push_slot();
    cell::make(c, Type::unset);
    load_at(c, bytes, count, 0);
    return c;
}

std::string to_utf8(const Cell* s) {
    Cell c = *s;
    int32_t n = char_count(&c);
    SeriesBuffer* b = series::buffer(&c);
    uint32_t unit = b->unit();
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

void init() {}

}  // namespace zuv::string
