// Unicode at the system's edge: the UTF-8 automaton, the checked decoder, the encoders and the
// display-width lookups. The string layer wraps these and raises the errors they name.
#include "memory/unicode.h"

#include <algorithm>
#include <span>

#include "memory/unicode-tables.h"

namespace zuv::unicode {

// The published automaton's table, first version (states as multiples of 12).
const uint8_t utf8_dfa[256 + 108] = {
    // 00-7F: 0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 80-8F: 1, 90-9F: 9, A0-BF: 7
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,  7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // C0-C1: 8, C2-DF: 2
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // E0: 10, E1-EC: 3, ED: 4, EE-EF: 3, F0: 11, F1-F3: 6, F4: 5, F5-FF: 8
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions: one row of 12 classes per state
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,     // 0   accept
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,    // 12  reject
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,       // 24  one continuation byte to come
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,    // 36  two to come
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,    // 48  after E0: A0-BF
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,    // 60  after ED: 80-9F
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,    // 72  after F0: 90-BF
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,    // 84  after F1-F3: three to come
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,    // 96  after F4: 80-8F
};

const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& code_point) {
    uint32_t type = utf8_dfa[*p];
    uint32_t cp = (0xFFu >> type) & *p;
    uint32_t state = utf8_dfa[256 + type];
    ++p;
    while (state != dfa_accept && state != dfa_reject) {
        if (p == end) [[unlikely]] {
            state = dfa_reject;
            break;
        }
        type = utf8_dfa[*p];
        cp = (cp << 6) | (*p & 0x3Fu);
        ++p;
        state = utf8_dfa[256 + state + type];
    }
    code_point = state == dfa_accept ? static_cast<int32_t>(cp) : -1;
    return p;
}

size_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    size_t n = 0;
    int32_t cp;
    for (const uint8_t* p = start; p < end; ++n) p = decode_utf8_char(p, end, cp);
    return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, size_t n) {
    int32_t cp;
    for (; n > 0 && p < end; --n) p = decode_utf8_char(p, end, cp);
    return p;
}

namespace {

constexpr bool continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

constexpr uint32_t malformed_mark = 0xFFFE;

}  // namespace

CheckedChar decode_utf8_char_checked(const uint8_t* p, size_t available) {
    const uint8_t lead = p[0];
    if (lead < 0x80) return {CheckedChar::ok, lead, 1};
    uint32_t length;
    uint32_t cp;
    if (lead < 0xC0 || lead >= 0xF8) return {CheckedChar::malformed, 0, 0};
    if (lead < 0xE0) {
        length = 2;
        cp = lead - 0xC0u;
    } else if (lead < 0xF0) {
        length = 3;
        cp = lead - 0xE0u;
    } else {
        length = 4;
        cp = lead - 0xF0u;
    }
    if (available < length) return {CheckedChar::cut_short, 0, 0};
    for (uint32_t i = 1; i < length; ++i) {
        if (!continuation(p[i])) return {CheckedChar::malformed, 0, 0};
        cp = (cp << 6) | (p[i] - 0x80u);
    }
    if ((length == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || cp > max_code_point || cp == malformed_mark)
        return {CheckedChar::malformed, 0, 0};
    return {CheckedChar::ok, cp, length};
}

int encode_utf8_char(uint32_t code_point, uint8_t* dest) {
    return encode_utf8_char_bounded(code_point, dest, 4);
}

int encode_utf8_char_bounded(uint32_t code_point, uint8_t* dest, int64_t room) {
    const int size = utf8_char_size(code_point);
    uint8_t bytes[4];
    switch (size) {
    case 0:
        return 0;
    case 1:
        bytes[0] = static_cast<uint8_t>(code_point);
        break;
    case 2:
        bytes[0] = static_cast<uint8_t>(0xC0 | code_point >> 6);
        break;
    case 3:
        bytes[0] = static_cast<uint8_t>(0xE0 | code_point >> 12);
        break;
    default:
        bytes[0] = static_cast<uint8_t>(0xF0 | code_point >> 18);
        break;
    }
    for (int i = 1; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(0x80 | ((code_point >> (6 * (size - 1 - i))) & 0x3F));
    const int n = static_cast<int>(std::clamp<int64_t>(room, 0, size));
    std::copy_n(bytes, n, dest);
    return n;
}

int encode_utf16_char(uint32_t code_point, char16_t* dest) {
    if (code_point <= 0xFFFF) {
        dest[0] = static_cast<char16_t>(code_point);
        return 1;
    }
    if (code_point > max_code_point) return 0;
    const uint32_t v = code_point - 0x10000;
    dest[0] = static_cast<char16_t>(0xD800 | v >> 10);
    dest[1] = static_cast<char16_t>(0xDC00 | (v & 0x3FF));
    return 2;
}

uint32_t utf16_unit_width(const uint8_t* units, size_t count) {
    uint32_t width = 1;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t high = units[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high != 0) width = 2;
    }
    return width;
}

uint32_t cp1251_to_code_point(uint8_t byte) {
    return byte < 0x80 ? byte : unicode_tables::cp1251_high[byte - 0x80];
}

size_t widen_cstring(const char* text, char16_t* dest) {
    size_t n = 0;
    for (; text[n] != '\0'; ++n) dest[n] = static_cast<unsigned char>(text[n]);
    dest[n] = u'\0';
    return n;
}

namespace {

bool in_ranges(std::span<const unicode_tables::Range> ranges, uint32_t cp) {
    if (cp < ranges.front().first || cp > ranges.back().last) return false;
    auto after = std::upper_bound(ranges.begin(), ranges.end(), cp,
                                  [](uint32_t c, const unicode_tables::Range& r) { return c < r.first; });
    return cp <= std::prev(after)->last;
}

}  // namespace

int char_width(uint32_t code_point) {
    if (code_point == 0) return 0;
    if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) return 1;
    if (in_ranges(unicode_tables::zero_width, code_point)) return 0;
    if (in_ranges(unicode_tables::wide, code_point)) return 2;
    return 1;
}

int char_width_cjk(uint32_t code_point) {
    if (in_ranges(unicode_tables::ambiguous, code_point)) return 2;
    return char_width(code_point);
}

}  // namespace zuv::unicode
