// Integer, float and money scanners over string units, and the float syntax automaton.
// Units are read with memcpy: a string's buffer gives no alignment promise to its callers.
#include "datatypes/number-scan.h"

#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/float-text.h"
#include "memory/case-folding.h"

namespace zuv::number_scan {

namespace {

uint32_t unit_at(const void* data, int unit, std::size_t i) {
    const auto* p = static_cast<const unsigned char*>(data) + i * static_cast<std::size_t>(unit);
    switch (unit) {
    case 1:
        return *p;
    case 2: {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return u;
    }
    default: {
        assert(unit == 4);
        uint32_t u;
        std::memcpy(&u, p, 4);
        return u;
    }
    }
}

bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }

bool is_ascii_letter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

IntegerScan scan_integer(const void* data, std::size_t count, int unit) {
    IntegerScan out;
    std::size_t i = 0;
    bool negative = false;
    if (count > 0) {
        const uint32_t c = unit_at(data, unit, 0);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    // A negative number is accumulated downwards so that -2147483648 needs no special case.
    int32_t value = 0;
    bool any_digit = false;
    bool overflow = false;
    for (; i < count; ++i) {
        const uint32_t c = unit_at(data, unit, i);
        if (c == '\'') continue;
        if (!is_digit(c)) {
            out.error = ScanError::not_a_number;
            return out;
        }
        any_digit = true;
        if (overflow) continue;
        const int32_t digit = static_cast<int32_t>(c - '0');
        overflow = __builtin_mul_overflow(value, 10, &value) ||
                   (negative ? __builtin_sub_overflow(value, digit, &value)
                             : __builtin_add_overflow(value, digit, &value));
    }
    if (!any_digit)
        out.error = ScanError::not_a_number;
    else if (overflow)
        out.error = ScanError::overflow;
    else
        out.value = value;
    return out;
}

namespace {

// Byte classes of the float syntax; column 6 of the transition table is the end of text.
enum : uint8_t { other, sign, digit, exponent, point, separator, end_of_text, classes };

constexpr std::array<uint8_t, 256> float_classes = [] {
    std::array<uint8_t, 256> t{};
    t['+'] = t['-'] = sign;
    for (int c = '0'; c <= '9'; ++c) t[c] = digit;
    t['e'] = t['E'] = exponent;
    t['.'] = point;
    t['\''] = separator;
    return t;
}();

// States: 0 start, 1 after the sign, 2 integer digits, 3 after "'", 4 "." after digits,
// 5 "." with no digit before, 6 fraction digits, 7 after "e", 8 exponent sign, 9 exponent
// digits; 10 rejects. The end column holds the state itself where the text may end.
constexpr uint8_t R = 10;
constexpr uint8_t float_states[10][classes] = {
    //  other sign digit   e    .    '   end
    {R, 1, 2, R, 5, R, R},  // 0
    {R, R, 2, R, 5, R, R},  // 1
    {R, R, 2, 7, 4, 3, 2},  // 2
    {R, R, 2, R, R, R, R},  // 3
    {R, R, 6, 7, R, R, 4},  // 4
    {R, R, 6, R, R, R, R},  // 5
    {R, R, 6, 7, R, R, 6},  // 6
    {R, 8, 9, R, R, R, R},  // 7
    {R, R, 9, R, R, R, R},  // 8
    {R, R, 9, R, R, R, 9},  // 9
};

}  // namespace

bool float_syntax_q(const char* text, std::size_t length) {
    if (length > float_max_length) return false;
    uint8_t state = 0;
    for (std::size_t i = 0; i < length; ++i) {
        state = float_states[state][float_classes[static_cast<unsigned char>(text[i])]];
        if (state == R) return false;
    }
    return float_states[state][end_of_text] != R;
}

FloatScan scan_float(const void* data, std::size_t count, int unit, int32_t exponent_adjust) {
    FloatScan out;
    out.value = std::numeric_limits<double>::quiet_NaN();
    out.error = ScanError::not_a_number;
    if (count > float_max_length) return out;
    char text[float_max_length];
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t c = unit_at(data, unit, i);
        // A wide unit must not alias an ASCII byte of the syntax once narrowed.
        text[i] = c == ',' ? '.' : c < 0x80 ? static_cast<char>(c) : '\x80';
    }
    if (!float_syntax_q(text, count)) return out;
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (text[i] != '\'') text[length++] = text[i];
    const float_text::Parsed parsed = float_text::to_float(text, text + length, exponent_adjust);
    if (parsed.unread != 0) return out;
    out.value = parsed.value;
    out.error = ScanError::none;
    return out;
}

bool special_float_q(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return text.size() == 6 && text.substr(0, 3) == "1.#" &&
           (case_folding::same_ascii_ci(text.substr(3), "INF") || case_folding::same_ascii_ci(text.substr(3), "NAN"));
}

FloatScan scan_float_or_special(const void* data, std::size_t count, int unit) {
    FloatScan out = scan_float(data, count, unit);
    if (out.error == ScanError::none || count > 7) return out;
    char text[7];
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t c = unit_at(data, unit, i);
        text[i] = c < 0x80 ? static_cast<char>(c) : '\x80';
    }
    if (!special_float_q(std::string_view(text, count))) return out;
    out.value = float_text::to_float_len(text, count).value;
    out.error = ScanError::none;
    return out;
}

std::optional<MoneyText> scan_money(const void* data, std::size_t count, int unit) {
    MoneyText m;
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return k < count ? unit_at(data, unit, k) : 0u; };
    if (at(i) == '+' || at(i) == '-') m.negative = at(i++) == '-';
    if (is_ascii_letter(at(i)) && is_ascii_letter(at(i + 1)) && is_ascii_letter(at(i + 2)) && at(i + 3) == '$') {
        for (int k = 0; k < 3; ++k) m.currency[k] = static_cast<char>(at(i + k));
        i += 3;
    }
    if (at(i) != '$') return std::nullopt;
    ++i;
    // prev: what the last character was, so that separators and the point sit between digits.
    enum { start, after_digit, after_separator, after_point } prev = start;
    for (; i < count; ++i) {
        const uint32_t c = unit_at(data, unit, i);
        if (is_digit(c)) {
            m.digits.push_back(static_cast<char>(c));
            if (!m.has_point) ++m.integer_digits;
            prev = after_digit;
        } else if (c == '\'') {
            if (prev != after_digit || m.has_point) return std::nullopt;
            prev = after_separator;
        } else if (c == '.') {
            if (prev != after_digit || m.has_point) return std::nullopt;
            m.has_point = true;
            prev = after_point;
        } else {
            return std::nullopt;
        }
    }
    if (prev != after_digit) return std::nullopt;
    return m;
}

}  // namespace zuv::number_scan
