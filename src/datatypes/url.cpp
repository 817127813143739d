// url!: decoding and encoding of percent escapes, URLs made from blocks, path joining, and
// reading and writing through HTTP or through a port made from the URL.
#include "datatypes/url.h"

#include <array>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "evaluator/context.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/object.h"
#include "evaluator/port.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "io/http.h"

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

bool starts_with_http(Cell* u) { return string::starts_with_cstring_q(u, "http"); }

Cell word_cell(const char* name) {
    Cell w;
    cell::make(&w, Type::word, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return w;
}

// The URL parser's parse-url function (library code), reached through the global word
// url-parser; a missing one is reported as the word that has no value.
Cell url_parser_function() {
    Cell* parser = context::get_value_slot(symbol::make("url-parser"), context::global);
    if (!parser || !parser->is(Type::object)) {
        Cell w = word_cell("url-parser");
        error::raise(error::id::script_no_value, &w);
    }
    Cell fn = *object::find_value(parser, symbol::make("parse-url"));
    if (!fn.is(Type::function)) {
        Cell w = word_cell("parse-url");
        error::raise(error::id::script_no_value, &w);
    }
    return fn;
}

Cell* checked_response(Cell* response, Cell* u) {
    if (!response) error::raise(error::id::access_no_connect, u);
    return response;
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

Cell* to_port(Cell* u, bool open, bool new_, bool read, bool write, bool seek, Cell* allow) {
    Cell fn = url_parser_function();
    Cell* mark = stack::arguments_top;
    Cell args[1] = {*u};
    Cell name = word_cell("parse-url");
    Cell parts;
    interpreter::apply_function(&fn, &name, args, 1, &parts);
    if (!parts.is(Type::object)) error::raise(error::id::script_invalid_arg, u);
    Cell* held = stack::push(&parts);
    port::make(held, held, static_cast<int32_t>(Type::port));
    if (open) port::open(held, new_, read, write, seek, allow);
    Cell made = *held;
    stack::arguments_top = mark;
    return stack::push(&made);
}

namespace {

Cell* open(Cell* u, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return to_port(u, true, new_, read, write, seek, allow);
}

Cell* read(Cell* u, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (!starts_with_http(u))
        return port::read(to_port(u, false, false, false, false, false, nullptr), part, seek, binary, lines, info, as);
    if (part || seek || as) error::raise(error::id::internal_not_done);
    Cell method = word_cell("get");
    return checked_response(http::request(&method, u, nullptr, nullptr, lines, binary, info), u);
}

Cell* write(Cell* u, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    if (!starts_with_http(u))
        return port::write(to_port(u, false, false, false, false, false, nullptr), data, binary, lines, info, append,
                           part, seek, allow, as);
    if (seek || allow || as) error::raise(error::id::internal_not_done);
    if (!data->is(Type::block)) {
        Cell method = word_cell("post");
        return checked_response(http::request(&method, u, nullptr, data, lines, binary, info), u);
    }
    // [method headers data]
    Cell spec = *data;
    int32_t n = series::length(&spec);
    Cell method = n > 0 ? *block::head(&spec) : none::shared;
    Cell headers = n > 1 ? *(block::head(&spec) + 1) : none::shared;
    Cell body = n > 2 ? *(block::head(&spec) + 2) : none::shared;
    if (!method.is(Type::word)) error::raise(error::id::script_invalid_arg, &method);
    if (!headers.is(Type::block)) error::raise(error::id::script_invalid_arg, &headers);
    return checked_response(http::request(&method, u, &headers, &body, lines, binary, info), u);
}

}  // namespace

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
        .open = open,
        .read = read,
        .write = write,
    });
}

}  // namespace zuv::url
