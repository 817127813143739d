// Conversions between string cells and outside text: each cell's conversion buffer, UTF-8
// and UTF-16LE out, UTF-8, UTF-16LE and Windows-1251 in, and the in-place widenings.
// Loading allocates: source bytes never lie in managed memory (copies are taken where they would).
#include "datatypes/string-convert.h"

#include <cstring>
#include <limits>
#include <vector>

#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/unicode.h"
#include "runtime/fatal.h"

namespace zuv::string {

uint8_t* conversion_buffer(Cell* s, uint32_t n) {
    if (n == 0) n = 1;
    if (!conversion_node(s)) {
        Ref node = memory::alloc_bytes(n);
        set_conversion_node(s, node);
    } else {
        SeriesBuffer* b = memory::buffer_of(conversion_node(s));
        if (b->capacity < n) memory::expand_series(b, n);
    }
    return memory::buffer_of(conversion_node(s))->head_ptr();
}

}  // namespace zuv::string

namespace zuv::unicode {

namespace {

using memory::SeriesBuffer;

// Walks a stretch of string units as code points, for the writers of memory/unicode.h.
struct UnitIter {
    const uint8_t* p;
    uint32_t unit;
    uint32_t operator*() const { return string::get_char(p, unit); }
    UnitIter& operator++() {
        p += unit;
        return *this;
    }
    bool operator!=(const UnitIter& o) const { return p != o.p; }
};

uint32_t checked_unit(const SeriesBuffer* b) {
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) [[unlikely]]
        runtime::quit(runtime::no_switch_match, 0);
    return unit;
}

// The count of code points to convert: -1 or more than the string holds gives all of them.
int32_t clamp_count(Cell* s, int32_t count) {
    int32_t n = string::char_count(s);
    return count < 0 || count > n ? n : count;
}

struct Units {
    UnitIter first, last;
};

// The head's stretch of n code points; taken again after every allocation.
Units units_of(Cell* s, int32_t n) {
    SeriesBuffer* b = series::buffer(s);
    uint32_t unit = checked_unit(b);
    const uint8_t* h = series::head_address(s);
    return {{h, unit}, {h + static_cast<size_t>(n) * unit, unit}};
}

[[noreturn]] void raise_invalid_char(uint32_t code_point) {
    Cell c;
    cell::make(&c, Type::integer, 0, code_point);
    error::raise(error::id::script_invalid_char, &c);
}

[[noreturn]] void raise_invalid_utf8(const uint8_t* bytes, size_t n) {
    uint8_t copy[4];
    if (n > 4) n = 4;
    std::memcpy(copy, bytes, n);
    Cell bin;
    Ref node = memory::alloc_bytes(n ? static_cast<int64_t>(n) : 1);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), copy, n);
    b->tail = b->head + static_cast<uint32_t>(n);
    cell::make(&bin, Type::binary, 0, node, 0);
    error::raise(error::id::access_invalid_utf8, &bin);
}

uint32_t checked_bytes(uint64_t n) {
    if (n > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
    return static_cast<uint32_t>(n);
}

// Loading stores at the tail and keeps unit 1 up to 0xFF. A full unit-2 buffer grows by a
// quarter of the input's size, a unit-4 one by the input's size.
SeriesBuffer* store_loaded(SeriesBuffer* b, uint32_t cp, size_t count) {
    uint32_t unit = b->unit();
    if (unit_for(cp) > unit) b = string::widen(b, unit_for(cp)), unit = b->unit();
    if (b->tail_ptr() + unit > b->data_end()) {
        uint64_t extra = unit == 2 ? count / 4 : count;
        if (extra < 16) extra = 16;
        b = memory::expand_series(b, checked_bytes(uint64_t(b->capacity) + extra));
    }
    string::put_char(b->tail_ptr(), unit, cp);
    b->tail += unit;
    return b;
}

// A buffer to load count source units into: a new one of the unit, or the given one
// emptied and grown to count units when it holds fewer.
SeriesBuffer* load_target(Ref& node, size_t count, uint32_t unit) {
    if (!node) {
        node = memory::alloc_series(count ? static_cast<int64_t>(count) : 1, unit, 0);
        return memory::buffer_of(node);
    }
    SeriesBuffer* b = memory::buffer_of(node);
    b->tail = b->head;
    uint64_t needed = uint64_t(count) * b->unit();
    if (b->capacity < needed) b = memory::expand_series(b, checked_bytes(needed));
    return b;
}

// Source units that live in a cell's conversion buffer, copied out before anything allocates.
std::vector<uint8_t> copy_of_conversion(Cell* dest, size_t bytes) {
    std::vector<uint8_t> copy(bytes);
    if (bytes) std::memcpy(copy.data(), string::conversion_buffer(dest, static_cast<uint32_t>(bytes)), bytes);
    return copy;
}

}  // namespace

const char* to_utf8_cstring(Cell* s, int32_t& count) { return to_utf8_cstring_crlf(s, count, false); }

const char* to_utf8_cstring_crlf(Cell* s, int32_t& count, bool crlf) {
    int32_t n = clamp_count(s, count);
    uint32_t unit = checked_unit(series::buffer(s));
    uint64_t per = unit == 1 ? 2 : unit == 2 ? 3 : 4;  // an LF and its CR fit in these too
    uint8_t* out = string::conversion_buffer(s, checked_bytes((uint64_t(n) + 1) * per));
    Units u = units_of(s, n);
    Utf8Write w = utf8_write(u.first, u.last, out, static_cast<size_t>(n) * per, crlf);
    if (w.error != Error::none) raise_invalid_char(w.bad_code_point);
    out[w.size] = 0;
    count = static_cast<int32_t>(w.size);
    return reinterpret_cast<const char*>(out);
}

int32_t write_utf8(Cell* s, uint8_t* dest, int32_t count, bool nul) {
    return write_utf8_bounded(s, dest, std::numeric_limits<int32_t>::max(), count, nul);
}

int32_t write_utf8_bounded(Cell* s, uint8_t* dest, int32_t room, int32_t count, bool nul) {
    int32_t n = clamp_count(s, count);
    Units u = units_of(s, n);
    size_t limit = room > 0 ? static_cast<size_t>(room) : 0;
    Utf8Write w = utf8_write(u.first, u.last, dest, limit, false);
    if (w.error != Error::none) raise_invalid_char(w.bad_code_point);
    if (nul) dest[w.size] = 0;
    return static_cast<int32_t>(w.size);
}

const char16_t* to_utf16(Cell* s, int32_t& count, bool crlf) {
    int32_t n = clamp_count(s, count);
    Units u = units_of(s, n);
    uint32_t unit = u.first.unit;
    size_t needed = unit == 1 ? static_cast<size_t>(n) + 1 : utf16_size(u.first, u.last) + 1;
    if (unit == 1) {
        for (UnitIter i = u.first; i != u.last; ++i) needed += *i == '\n';
    }
    auto* out = reinterpret_cast<char16_t*>(string::conversion_buffer(s, checked_bytes(uint64_t(needed) * 2)));
    u = units_of(s, n);
    size_t written;
    if (unit == 2 && !crlf) {
        std::memcpy(out, u.first.p, static_cast<size_t>(n) * 2);  // already UTF-16: one block copy
        written = static_cast<size_t>(n);
    } else {
        std::optional<size_t> w = utf16_write(u.first, u.last, out, crlf);
        if (!w) {
            count = 0;
            return nullptr;
        }
        written = *w;
    }
    out[written] = 0;
    count = static_cast<int32_t>(written);
    return out;
}

const char16_t* to_utf16_crlf(Cell* s) {
    int32_t count = -1;
    return to_utf16(s, count, true);
}

Ref load_utf8(const uint8_t* bytes, size_t count, Ref dest, bool crlf, size_t* bytes_left) {
    Ref node = dest;
    SeriesBuffer* b = load_target(node, count, 1);
    Utf8Load r = unicode::load_utf8(bytes, count, crlf, [&](uint32_t cp) { b = store_loaded(b, cp, count); });
    if (r.error != Error::none) raise_invalid_utf8(r.bad_bytes, r.bad_size);
    if (r.bytes_left && bytes_left) *bytes_left = r.bytes_left;
    return node;
}

Ref load_utf8_into(const uint8_t* bytes, size_t count, Cell* s, size_t* bytes_left) {
    return load_utf8(bytes, count, series::node(s), false, bytes_left);
}

Ref load_utf8_new(const uint8_t* bytes, size_t count) { return load_utf8(bytes, count, 0, false, nullptr); }

Ref load_utf16(const uint8_t* units, size_t count, Cell* dest, bool cr) {
    std::vector<uint8_t> copy;
    if (!units) {
        copy = copy_of_conversion(dest, count * 2);
        units = copy.data();
    }
    uint32_t width = utf16_unit_width(units, count);
    Ref node = dest ? series::node(dest) : 0;
    SeriesBuffer* b;
    if (!node) {
        node = memory::alloc_series(count ? static_cast<int64_t>(count) : 1, count ? width : 2, 0);
        b = memory::buffer_of(node);
    } else {
        b = memory::buffer_of(node);
        b->tail = b->head;
        uint64_t needed = uint64_t(count) * width;
        if (b->capacity < needed) b = memory::expand_series(b, checked_bytes(needed));
        b->flags = (b->flags & ~memory::flag::unit_mask) | width;
    }
    // The width covers every unit and a pair takes two source units: no growth below.
    uint8_t* out = b->tail_ptr();
    Utf16Load r = unicode::load_utf16(units, count, width, cr, [&](uint32_t cp) {
        string::put_char(out, width, cp);
        out += width;
    });
    b->tail = memory::ref(out);
    if (r.error != Error::none) {
        size_t i = r.bad_index;
        raise_invalid_utf8(units + 2 * i, i + 1 < count ? 4 : 2);
    }
    return node;
}

Ref load_cp1251(const uint8_t* bytes, size_t count, Cell* dest, bool crlf) {
    std::vector<uint8_t> copy;
    if (!bytes) {
        copy = copy_of_conversion(dest, count);
        bytes = copy.data();
    }
    Ref node = dest ? series::node(dest) : 0;
    SeriesBuffer* b = load_target(node, count, 1);
    unicode::load_cp1251(bytes, count, crlf, [&](uint32_t cp) { b = store_loaded(b, cp, count); });
    return node;
}

SeriesBuffer* widen_1_to_4(SeriesBuffer* b) { return string::widen(b, 4); }
}  // namespace zuv::unicode
