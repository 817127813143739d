// Text decoding shared by the lexer's checks and its loaders: UTF-8, caret escapes, the
// Unicode blank set and string unit sizes.
#include "reader/lexer-text.h"

#include <algorithm>

#include "memory/case-folding.h"
#include "reader/lexer-tables.h"

namespace zuv::lexer {

int32_t decode_utf8(std::string_view text, size_t& i) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    uint32_t b = s[i];
    if (b < 0x80) {
        ++i;
        return static_cast<int32_t>(b);
    }
    int more;
    uint32_t code;
    uint32_t least;
    if (b >= 0xC2 && b <= 0xDF) {
        more = 1, code = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        more = 2, code = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        more = 3, code = b & 0x07, least = 0x10000;
    } else {
        ++i;
        return invalid_code;
    }
    if (i + more >= n) {
        ++i;
        return invalid_code;
    }
    for (int k = 1; k <= more; ++k) {
        uint32_t c = s[i + k];
        if ((c & 0xC0) != 0x80) {
            ++i;
            return invalid_code;
        }
        code = (code << 6) | (c & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++i;
        return invalid_code;
    }
    i += more + 1;
    return static_cast<int32_t>(code);
}

bool unicode_blank_q(uint32_t code) {
    switch (code) {
        case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return code >= 0x2000 && code <= 0x200B;
    }
}

namespace {

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The longest text between `^(` and `)`: six hexadecimal digits.
constexpr size_t longest_paren_escape = 6;

}  // namespace

int32_t decode_escape(std::string_view text, size_t& i) {
    if (i >= text.size()) return invalid_code;
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '(') {
        size_t close = i + 1;
        while (close < text.size() && close - (i + 1) <= longest_paren_escape && text[close] != ')') ++close;
        if (close >= text.size() || text[close] != ')') return invalid_code;
        std::string_view name = text.substr(i + 1, close - (i + 1));
        if (name.empty()) return invalid_code;
        static const struct {
            const char* name;
            int32_t code;
        } names[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
        int32_t code = invalid_code;
        for (const auto& n : names)
            if (case_folding::same_ascii_ci(name, n.name)) code = n.code;
        if (code == invalid_code) {
            uint32_t value = 0;
            for (char h : name) {
                int d = hex_digit(static_cast<uint8_t>(h));
                if (d < 0) return invalid_code;
                value = value * 16 + static_cast<uint32_t>(d);
            }
            if (value > 0x10FFFF) return invalid_code;
            code = static_cast<int32_t>(value);
        }
        i = close + 1;
        return code;
    }
    if (c >= 0x80) return decode_utf8(text, i);
    ++i;
    switch (c) {
        case '"': return '"';
        case '-': return '\t';
        case '/': return '\n';
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        case '@': return 0;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 'A' && c <= '_') return c - 64;
    return c;
}

namespace {

// Calls sink(code) for each character of the text; false at the first sequence or escape that
// does not decode. ASCII bytes other than `^` are their own characters and take the short way.
template <class Sink>
bool each_code(std::string_view text, bool carets, Sink&& sink) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const uint8_t c = s[i];
        if (c < 0x80 && (c != '^' || !carets)) {
            sink(c);
            ++i;
            continue;
        }
        int32_t code;
        if (c == '^') {
            ++i;
            code = decode_escape(text, i);
        } else {
            code = decode_utf8(text, i);
        }
        if (code < 0) return false;
        sink(static_cast<uint32_t>(code));
    }
    return true;
}

}  // namespace

bool decode_text(std::string_view text, bool carets, std::u32string* out) {
    if (!out) {
        TextMeasure m;
        return measure_text(text, carets, &m);
    }
    return each_code(text, carets, [out](uint32_t c) { out->push_back(static_cast<char32_t>(c)); });
}

bool measure_text(std::string_view text, bool carets, TextMeasure* m) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    uint8_t largest = 0;
    bool plain = true;
    for (size_t i = 0; i < text.size(); ++i) {
        largest = std::max(largest, s[i]);
        if (carets && s[i] == '^') plain = false;
    }
    if (plain && largest < 0x80) {
        *m = {text.size(), largest, true};
        return true;
    }
    TextMeasure r{0, 0, false};
    if (!each_code(text, carets, [&r](uint32_t c) {
            ++r.count;
            if (c > r.largest) r.largest = c;
        }))
        return false;
    *m = r;
    return true;
}

void write_text(std::string_view text, bool carets, uint8_t* out, uint32_t unit) {
    switch (unit) {
        case 1: each_code(text, carets, [&out](uint32_t c) { *out++ = static_cast<uint8_t>(c); }); break;
        case 2:
            each_code(text, carets, [&out](uint32_t c) {
                out[0] = static_cast<uint8_t>(c);
                out[1] = static_cast<uint8_t>(c >> 8);
                out += 2;
            });
            break;
        default:
            each_code(text, carets, [&out](uint32_t c) {
                out[0] = static_cast<uint8_t>(c);
                out[1] = static_cast<uint8_t>(c >> 8);
                out[2] = static_cast<uint8_t>(c >> 16);
                out[3] = static_cast<uint8_t>(c >> 24);
                out += 4;
            });
            break;
    }
}

int string_unit_size(std::string_view body, uint32_t flags) {
    int unit = (flags & flag::utf8_4) ? 4 : (flags & flag::utf8_wide) ? 2 : 1;
    if (!(flags & flag::caret) || unit == 4) return unit;
    for (size_t i = 0; i + 1 < body.size(); ++i) {
        if (body[i] != '^') continue;
        if (body[i + 1] == '(') {
            size_t k = i + 2, digits = 0;
            while (k < body.size() && hex_digit(static_cast<uint8_t>(body[k])) >= 0) ++k, ++digits;
            if (k < body.size() && body[k] == ')') {
                if (digits > 4) return 4;
                if (digits > 2) unit = 2;
            }
        }
        ++i;  // the escaped byte never starts another escape
    }
    return unit;
}

}  // namespace zuv::lexer
