// url!: decoding and encoding of percent escapes, URLs made from blocks and path joining;
// reading and writing are I/O (io/url-io.cpp).
#include "datatypes/url.h"

#include <array>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "memory/unicode.h"

namespace zuv::url {

namespace {

using Class = std::array<bool, 128>;

constexpr Class make_class(const char* kept) {
    Class c{};
    for (const char* p = kept; *p; ++p) c[static_cast<size_t>(*p)] = true;
    for (int d = '0'; d <= '9'; ++d) c[size_t(d)] = true;
    for (int l = 'A'; l <= 'Z'; ++l) c[size_t(l)] = true, c[size_t(l + 32)] = true;
    return c;
}

constexpr Class url_class = make_class("!#$&'()*+,-./:=?@_~");
constexpr Class strict_class = make_class("-._~");

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A percent escape whose byte leads an n-byte UTF-8 sequence and is followed by n - 1 more
// escapes that complete it gives one code point; any other escape gives its byte's code
// point; bytes outside escapes are UTF-8 as they stand (a malformed one is taken alone).
std::u32string decode_bytes(const uint8_t* p, const uint8_t* end) {
    std::u32string out;
    while (p < end) {
        uint8_t b;
        if (*p == '%' && decode_escape(p, end, b)) {
            int n = unicode::utf8_sequence_length(b);
            uint8_t seq[4] = {b};
            int got = 1;
            while (got < n && decode_escape(p + 3 * got, end, seq[got])) ++got;
            if (n >= 2 && got == n) {
                unicode::CheckedChar ch = unicode::decode_utf8_char_checked(seq, size_t(n));
                if (ch.kind == unicode::CheckedChar::ok) {
                    out += char32_t(ch.code_point);
                    p += 3 * n;
                    continue;
                }
            }
            out += char32_t(b);
            p += 3;
            continue;
        }
        if (*p < 0x80) {
            out += char32_t(*p++);
            continue;
        }
        unicode::CheckedChar ch = unicode::decode_utf8_char_checked(p, size_t(end - p));
        if (ch.kind == unicode::CheckedChar::ok) {
            out += char32_t(ch.code_point);
            p += ch.length;
        } else {
            out += char32_t(*p++);
        }
    }
    return out;
}

}  // namespace

Cell* push(const Cell* u) { return stack::push(u); }

Cell* load(const uint8_t* bytes, size_t count) {
    std::u32string text = decode_bytes(bytes, bytes + count);
    Cell* c = string::push_new(static_cast<int32_t>(text.size()), Type::url);
    string::append_chars(c, text);
    return c;
}

bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& byte) {
    if (end - p < 3 || p[0] != '%') return false;
    int hi = hex_digit(p[1]), lo = hex_digit(p[2]);
    if (hi < 0 || lo < 0) return false;
    byte = static_cast<uint8_t>(hi << 4 | lo);
    return true;
}

void decode(Cell* s, Cell* target) {
    std::string bytes = string::to_utf8(s);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    string::append_chars(target, decode_bytes(p, p + bytes.size()));
}

int encode_byte(int32_t mode, uint8_t byte, char* out) {
    const Class& kept = mode == mode_strict ? strict_class : url_class;
    if (byte < 0x80 && kept[byte]) {
        out[0] = static_cast<char>(byte);
        return 1;
    }
    std::string_view hex = string::byte_to_hex(byte);
    out[0] = '%', out[1] = hex[0], out[2] = hex[1];
    return 3;
}

void encode(Cell* s, std::string& target, int32_t mode) {
    char buf[3];
    for (char c : string::to_utf8(s)) target.append(buf, size_t(encode_byte(mode, static_cast<uint8_t>(c), buf)));
}

namespace {

// scheme://host[:port]/path/elements, an issue! element written after "#" instead of "/".
Cell* from_block(Cell* spec, int32_t type) {
    Cell b = *spec;
    int32_t n = series::length(&b);
    if (n == 0) {
        Cell t;
        datatype::make_at(&t, type);
        error::raise(error::id::script_bad_to_arg, &t, spec);
    }
    Cell* result = string::push_new(16, static_cast<Type>(type));
    auto element = [&](int32_t i) { return *(block::head(&b) + i); };
    auto add = [&](Cell e) { string::append(result, &e, -1, false, 1); };
    add(element(0));
    string::append_ascii(result, "://");
    int32_t i = 1;
    if (n > 1) add(element(i++));
    if (n > 2 && element(2).is(Type::integer)) {
        string::append_ascii(result, ":" + std::to_string(element(i++).int2()));
    }
    for (; i < n; ++i) {
        Cell e = element(i);
        string::append_ascii(result, e.is(Type::issue) ? "#" : "/");
        add(e);
    }
    return result;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::block)) return from_block(spec, type);
    return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::block)) return from_block(spec, type);
    return string::to(proto, spec, type);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    std::string encoded;
    encode(value, encoded, mode_url);
    auto length = static_cast<int32_t>(encoded.size());
    if (part && budget < length) encoded.resize(size_t(std::max(budget, 0)));
    string::append_bytes(buffer, reinterpret_cast<const uint8_t*>(encoded.data()), static_cast<int32_t>(encoded.size()));
    return budget - length;
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                int32_t position, bool last, bool notify) {
    if (set_value) error::raise(error::id::script_bad_path_set, element, set_value);
    Cell e = element->is(Type::get_word) ? *context::get(element) : *element;
    Cell v = *value;
    Cell piece;
    string::make_at(&piece, string::char_count(&v) + 16);
    string::append(&piece, &e, -1, false, 1);
    std::u32string base = string::code_points(&v), tail = string::code_points(&piece);
    bool slash_before = !base.empty() && base.back() == '/';
    bool slash_after = !tail.empty() && tail.front() == '/';
    if (slash_before && slash_after) tail.erase(0, 1);
    else if (!slash_before && !slash_after) base += U'/';
    Cell* result = string::push_new(static_cast<int32_t>(base.size() + tail.size()), v.type());
    string::append_chars(result, base + tail);
    return result;
}

void init() {
    using datatype::fn;
    datatype::register_type(Type::url, {
        .others = datatype::inherit,
        .make = make,
        .random = datatype::empty,
        .reflect = datatype::empty,
        .to = to,
        .mold = mold,
        .eval_path = eval_path,
        .sort = datatype::empty,
        .trim = datatype::empty,
    });
}

}  // namespace zuv::url
