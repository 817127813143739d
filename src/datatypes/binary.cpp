// binary!: byte series with their conversions, #{...} text, comparison, byte-wise logic and
// editing; navigation, search and the other series actions come from string! and series!.
// Bytes are copied out of a buffer before anything that allocates (forming a value, growing).
#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/image.h"
#include "datatypes/numeric.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "memory/unicode.h"

namespace zuv::binary {

namespace {

namespace op = actions::op;
using memory::SeriesBuffer;

constexpr uint64_t max_bytes = 0x7FFFFFF0;

[[noreturn]] void no_memory() { error::raise(error::id::internal_no_memory); }

bool equality_q(int32_t code) {
    return code == op::equal || code == op::not_equal || code == op::strict_equal || code == op::find;
}

bool block_list_q(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

void put_utf8(std::vector<uint8_t>& out, uint32_t code_point, const Cell* value) {
    uint8_t buf[4];
    int n = unicode::encode_utf8_char(code_point, buf);
    if (n == 0) error::raise(error::id::script_invalid_char, value);
    out.insert(out.end(), buf, buf + n);
}

size_t cut(size_t n, int32_t limit) { return limit >= 0 && size_t(limit) < n ? size_t(limit) : n; }

// The bytes from the head, with a head past the tail read as the tail.
std::span<const uint8_t> head_bytes(Cell* b) {
    series::length(b);
    return bytes_of(b);
}

void append_be(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

// =============================================================================================
// Helpers

int32_t get_length(Cell* b) { return series::length(b); }

void make_at(Cell* c, int32_t capacity) {
    cell::make(c, Type::unset);  // a collection during the allocation must not see half a value
    Ref node = memory::alloc_bytes(capacity > 0 ? capacity : 0);
    series::make_at(c, Type::binary, node);
}

Cell* push(const Cell* b) { return stack::push(b); }

Cell* load_in(Cell* block, const uint8_t* bytes, size_t count) {
    if (!block) return load(bytes, count);
    Cell v;
    make_at(&v, static_cast<int32_t>(std::min<size_t>(count, max_bytes)));
    append_bytes(&v, bytes, count);
    return block::append(block, &v);
}

uint8_t* append_bytes(Cell* b, const uint8_t* bytes, size_t n) {
    int32_t at = series::buffer_length(b);
    splice(b, at, 0, {bytes, n}, 1);
    return series::unit_address(b, at);
}

void insert_bytes(Cell* b, const uint8_t* bytes, size_t n) {
    series::length(b);
    splice(b, b->int1(), 0, {bytes, n}, 1);
}

void append_int32_be(Cell* b, int32_t value) {
    std::vector<uint8_t> out;
    append_be(out, static_cast<uint32_t>(value), 4);
    append_bytes(b, out.data(), out.size());
}

void splice(Cell* s, int32_t at, int32_t removed, std::span<const uint8_t> run, int32_t dup, Notice notice) {
    uint32_t unit = std::max(series::buffer(s)->unit(), 1u);
    int32_t length = series::buffer_length(s);
    at = std::clamp(at, 0, length);
    removed = std::clamp(removed, 0, length - at);
    uint64_t added = uint64_t(run.size()) * uint64_t(std::max(dup, 1));
    if (run.size() > max_bytes || added > max_bytes) no_memory();
    uint64_t new_bytes = uint64_t(length - removed) * unit + added;
    if (new_bytes > max_bytes) no_memory();
    if (added == 0 && removed == 0) return;
    auto added_units = static_cast<int32_t>(added / unit);
    bool told = notice.before &&
                series::notify_before(s, notice.before, notice.value, at, removed ? removed : added_units);
    // The owner's handler may have allocated: the buffer is taken after it.
    SeriesBuffer* b = series::buffer(s);
    uint64_t offset = b->head - memory::ref(b->data());
    if (offset + new_bytes > b->capacity)
        b = memory::expand_series(b, static_cast<int64_t>(
                                         std::max(offset + new_bytes, std::min(uint64_t(b->capacity) * 2, max_bytes))));
    uint8_t* p = b->head_ptr() + size_t(at) * unit;
    std::memmove(p + added, p + size_t(removed) * unit, size_t(length - at - removed) * unit);
    if (!run.empty()) {
        std::memcpy(p, run.data(), run.size());
        memory::replicate(p, run.size(), size_t(std::max(dup, 1)));
    }
    b->tail = b->head + static_cast<uint32_t>(new_bytes);
    if (notice.after) series::notify_after(told, s, notice.after, notice.value, at, added_units);
}

Cell* edit(Cell* s, Edit kind, Cell* value, std::span<const uint8_t> run, int32_t dup, int32_t part) {
    int32_t left = series::length(s), at = kind == Edit::append ? series::buffer_length(s) : s->int1();
    uint32_t unit = std::max(series::buffer(s)->unit(), 1u);
    int64_t count = int64_t(run.size() / unit) * std::max(dup, 1);
    int32_t removed = 0;
    Notice notice{words::global::append, words::global::appended, value};
    if (kind == Edit::insert) notice = {words::global::insert, words::global::inserted, value};
    if (kind == Edit::change) {
        removed = static_cast<int32_t>(std::min<int64_t>(part < 0 ? count : part, left));
        notice = {words::global::change, words::global::changed, value};
    }
    splice(s, at, removed, run, dup, notice);
    int64_t past = std::min<int64_t>(at + count, series::buffer_length(s));
    series::set_head(s, kind == Edit::append ? 0 : static_cast<int32_t>(past));
    return s;
}

void from_value(std::vector<uint8_t>& out, const Cell* value, int32_t limit, bool may_form) {
    Cell v = *value;  // the value may lie in a block that forming moves
    Type t = v.type();
    switch (t) {
        case Type::char_: put_utf8(out, char_::code_of(&v), &v); return;
        case Type::integer:
            if (v.int2() < -128 || v.int2() > 255) error::raise(error::id::script_invalid_arg, &v);
            out.push_back(static_cast<uint8_t>(integer::get(&v)));
            return;
        case Type::binary: {
            std::span<const uint8_t> bytes = head_bytes(&v);
            out.insert(out.end(), bytes.begin(), bytes.begin() + ptrdiff_t(cut(bytes.size(), limit)));
            return;
        }
        case Type::tuple: {
            size_t n = cut(size_t(tuple::length(&v)), limit);
            for (size_t i = 0; i < n; ++i) out.push_back(tuple::get(&v, static_cast<int32_t>(i)));
            return;
        }
        default: break;
    }
    if (block_list_q(t)) {
        // Nested blocks give their elements too; one that holds itself would never end.
        if (cycle_stack::find(series::node(&v))) error::raise(error::id::internal_no_cycle);
        cycle_stack::Scope scope;
        cycle_stack::push(series::node(&v));
        size_t n = cut(size_t(series::length(&v)), limit);
        for (size_t k = 0; k < n; ++k) {
            auto at = static_cast<int32_t>(v.int1() + k);
            if (at >= series::buffer_length(&v)) break;  // forming an element shortened the block
            Cell element = *block::cell_at(&v, at);
            from_value(out, &element, -1, may_form);
        }
        return;
    }
    if (string::family_q(t)) {
        std::u32string text = string::code_points(&v);
        text.resize(cut(text.size(), limit));
        for (char32_t c : text) put_utf8(out, c, &v);
        return;
    }
    if (!may_form) numeric::raise_bad_to_arg(Type::binary, &v);
    Cell formed;
    actions::form_to(&v, &formed);
    std::string utf8 = string::to_utf8(&formed);
    out.insert(out.end(), utf8.begin(), utf8.end());
}

int32_t compare_bytes(Cell* b, Cell* other, int32_t code, bool match) {
    bool text = string::family_q(other->type());
    if (!text && !other->is(Type::binary)) return -2;
    bool same_place = other->is(Type::binary) && series::node(other) == series::node(b) && series::head(other) == series::head(b);
    if (code == op::same) return same_place ? 0 : -1;
    if (equality_q(code) && same_place) return 0;
    Cell x = *b, y = *other;
    std::span<const uint8_t> p = head_bytes(&x), q;
    std::string utf8;
    if (text) {
        utf8 = string::to_utf8(&y);
        q = {reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()};
    } else {
        q = head_bytes(&y);
    }
    size_t n1 = p.size(), n2 = q.size();
    if (match) {
        if (n2 == 0) return code == op::equal || code == op::strict_equal || code == op::find ? 0 : 1;
        if (n1 < n2) return 1;
        n1 = n2;  // only the prefix counts
    } else if (equality_q(code) && n1 != n2) {
        return 1;
    }
    size_t n = std::min(n1, n2);
    int r = n ? std::memcmp(p.data(), q.data(), n) : 0;
    if (r) return r < 0 ? -1 : 1;
    return n1 == n2 ? 0 : n1 < n2 ? -1 : 1;
}

uint8_t poke_byte(const Cell* value) {
    if (!value->is(Type::integer) && !value->is(Type::char_)) error::raise(error::id::script_invalid_arg, value);
    return static_cast<uint8_t>(value->is(Type::char_) ? char_::code_of(value) : static_cast<uint32_t>(integer::get(value)));
}

Cell* from_issue(const Cell* issue) {
    int32_t id = issue->int2();
    if (id >= 1 && id <= symbol::count()) {
        std::string_view name(symbol::name(id), static_cast<size_t>(symbol::name_length(id)));
        std::u32string text(name.begin(), name.end());
        // A name byte above 127 is part of a UTF-8 sequence: never a digit.
        for (char32_t& c : text) c &= 0xFF;
        if (std::optional<std::vector<uint8_t>> bytes = decode_base16(text)) return load(*bytes);
    }
    error::raise(error::id::script_invalid_data, issue);
}

// =============================================================================================
// make, to, form, mold, compare

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    // A number is a capacity and money! is refused, as for every text; the rest converts.
    if (spec->is(Type::integer) || spec->is(Type::float_) || spec->is(Type::money))
        return string::make(proto, spec, type);
    return to(proto, spec, type);
}

Cell* to(Cell*, Cell* spec, int32_t) {
    Cell v = *spec;
    std::vector<uint8_t> out;
    switch (v.type()) {
        case Type::integer: append_be(out, static_cast<uint32_t>(integer::get(&v)), 4); break;
        case Type::float_: case Type::percent: append_be(out, std::bit_cast<uint64_t>(v.float23()), 8); break;
        case Type::issue: return from_issue(&v);
        case Type::bitset: {
            // The bit array as it stands, from the start of its buffer.
            SeriesBuffer* b = series::buffer(&v);
            out.assign(b->head_ptr(), b->tail_ptr());
            break;
        }
        case Type::image:
            image::append_pixel_bytes(&v, out);
            break;
        case Type::char_: case Type::binary: case Type::tuple:
            from_value(out, &v, -1, false);
            break;
        default:
            if (block_list_q(v.type())) from_value(out, &v, -1, true);
            else if (string::family_q(v.type())) from_value(out, &v, -1, false);
            else numeric::raise_bad_to_arg(Type::binary, &v);
    }
    return load(out.data(), out.size());
}

namespace {

// #{ and the hexadecimal pairs and }; past 30 bytes (unless flat) each run of 32 bytes
// starts a line indented one level deeper than the value, and } ends at the value's level.
int32_t bytes_text(Cell* value, Cell* buffer, bool only, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    std::span<const uint8_t> bytes = head_bytes(&v);
    bool lines = bytes.size() > 30 && !flat;
    size_t level = size_t(std::max(indent, 0)) * 4;
    // Built whole before the target grows: the bytes may move with it.
    std::string text;
    if (!only) text += "#{";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (part && int64_t(budget) - int64_t(text.size()) < 1) break;
        if (lines && i % 32 == 0) {
            text += '\n';
            text.append(level + 4, ' ');
        }
        text += string::byte_to_hex(bytes[i]);
    }
    if (lines) {
        text += '\n';
        text.append(level, ' ');
    }
    if (!only) text += '}';
    string::append_ascii(buffer, text);
    return static_cast<int32_t>(std::max<int64_t>(int64_t(budget) - int64_t(text.size()), INT32_MIN));
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return bytes_text(value, buffer, false, false, part, budget, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return bytes_text(value, buffer, only, flat, part, budget, indent);
}

int32_t compare(Cell* a, Cell* b, int32_t code) {
    if (!b->is(Type::binary)) return -2;
    return compare_bytes(a, b, code, false);
}

// =============================================================================================
// Byte-wise logic

namespace {

Cell* bitwise(Cell* a, Cell* b, int32_t code) {
    if (!b->is(Type::binary)) error::raise(error::id::script_invalid_arg, b);
    Cell x = *a, y = *b;
    std::span<const uint8_t> p = head_bytes(&x), q = head_bytes(&y);
    const std::span<const uint8_t>& longer = p.size() >= q.size() ? p : q;
    size_t n = std::min(p.size(), q.size());
    std::vector<uint8_t> out(longer.size(), 0);
    for (size_t i = 0; i < n; ++i) {
        switch (code) {
            case numeric::and_: out[i] = p[i] & q[i]; break;
            case numeric::or_: out[i] = p[i] | q[i]; break;
            default: out[i] = p[i] ^ q[i];
        }
    }
    // What only the longer one holds: kept by or~ and xor~, cleared by and~.
    if (code != numeric::and_) std::copy(longer.begin() + ptrdiff_t(n), longer.end(), out.begin() + ptrdiff_t(n));
    return load(out.data(), out.size());
}

Cell* and_t(Cell* a, Cell* b) { return bitwise(a, b, numeric::and_); }
Cell* or_t(Cell* a, Cell* b) { return bitwise(a, b, numeric::or_); }
Cell* xor_t(Cell* a, Cell* b) { return bitwise(a, b, numeric::xor_); }

Cell* complement(Cell* s) {
    int32_t n = get_length(s), at = s->int1();
    bool told = series::notify_before(s, words::global::change, nullptr, at, n);
    uint8_t* p = get_head(s);
    for (int32_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
    series::notify_after(told, s, words::global::changed, nullptr, at, n);
    return s;
}

// =============================================================================================
// Editing

Cell* append(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    std::vector<uint8_t> run;
    from_value(run, value, part, true);
    return edit(s, Edit::append, value, run, dup, -1);
}

Cell* insert(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    std::vector<uint8_t> run;
    from_value(run, value, part, true);
    return edit(s, Edit::insert, value, run, dup, -1);
}

Cell* change(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    std::vector<uint8_t> run;
    from_value(run, value, -1, true);
    return edit(s, Edit::change, value, run, dup, part);
}

Cell* trim(Cell* s, const slotfn::TrimOptions& o) {
    if (o.auto_ || o.lines) error::raise(error::id::internal_not_done);
    int32_t n = get_length(s), at = s->int1();
    bool told = series::notify_before(s, words::global::trim, nullptr, at, n);
    if (o.all || o.with) {
        Cell nul;
        cell::make(&nul, Type::char_, 0, 0);
        string::trim_chars(s, o.with ? o.with : &nul);
    } else {
        bool both = !o.head && !o.tail;
        uint8_t* p = get_head(s);
        int32_t from = 0, to = n;
        if (o.head || both)
            while (from < to && p[from] == 0) ++from;
        if (o.tail || both)
            while (to > from && p[to - 1] == 0) --to;
        std::memmove(p, p + from, size_t(to - from));
        SeriesBuffer* b = series::buffer(s);
        b->tail = b->head + static_cast<uint32_t>(at + to - from);
    }
    series::notify_after(told, s, words::global::trimmed, nullptr, at, n);
    return s;
}

}  // namespace

// =============================================================================================

void init() {
    datatype::register_type(Type::binary, {
        .others = datatype::inherit,
        .make = make,
        .to = to,
        .form = form,
        .mold = mold,
        .compare = compare,
        .and_t = and_t,
        .complement = complement,
        .or_t = or_t,
        .xor_t = xor_t,
        .append = append,
        .change = change,
        .insert = insert,
        .trim = trim,
    });
}

}  // namespace zuv::binary
