// Exact double <-> decimal text conversion over std::to_chars / std::from_chars, which are
// correctly rounded and locale-free; this file adds the special texts, the layout rules and
// the reader's tolerant syntax (unread characters are counted, never an error).
#include "datatypes/float-text.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace zuv::float_text {

namespace {

constexpr uint64_t exponent_mask = 0x7FF0000000000000ull;
constexpr uint64_t mantissa_mask = 0x000FFFFFFFFFFFFFull;

template <std::size_t N>
int32_t put(char (&out)[N], int32_t at, std::string_view s) {
    assert(at + s.size() < N);
    std::memcpy(out + at, s.data(), s.size());
    return at + static_cast<int32_t>(s.size());
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Digits dtoa(double x, int n, bool zero_text) {
    Digits d;
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const bool sign = (bits >> 63) != 0;
    if ((bits & exponent_mask) == exponent_mask) {
        d.exponent = special_exponent;
        if (bits & mantissa_mask) {
            d.count = put(d.chars, 0, "1.#NaN");
        } else {
            d.negative = sign;
            d.count = put(d.chars, 0, sign ? "-1.#INF" : "1.#INF");
        }
        d.chars[d.count] = 0;
        return d;
    }
    if (x == 0.0) {
        d.exponent = zero_exponent;
        d.negative = sign;
        d.count = put(d.chars, 0, sign ? "-" : "");
        d.count = put(d.chars, d.count, zero_text ? "0.0" : "0");
        d.chars[d.count] = 0;
        return d;
    }

    // Scientific output is "D[.DDD]e[+-]XX": every digit before the "e" is significant.
    char buf[max_digits + 24];
    const double magnitude = std::fabs(x);
    const auto r = n <= 0 ? std::to_chars(buf, std::end(buf), magnitude, std::chars_format::scientific)
                          : std::to_chars(buf, std::end(buf), magnitude, std::chars_format::scientific,
                                          std::min(n, max_digits) - 1);
    assert(r.ec == std::errc());
    const char* p = buf;
    int32_t count = 0;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') d.chars[count++] = *p;
    assert(p < r.ptr && *p == 'e');
    int32_t exp10 = 0;
    std::from_chars(p[1] == '+' ? p + 2 : p + 1, r.ptr, exp10);
    while (count > 1 && d.chars[count - 1] == '0') --count;
    d.chars[count] = 0;
    d.count = count;
    d.exponent = exp10 + 1;
    d.negative = sign;
    return d;
}

std::string form_exact(double x, int shift, int plain_span, int n) {
    const Digits d = dtoa(x, n, false);
    if (d.exponent >= zero_exponent) return std::string(d.view());
    std::string out = d.negative ? "-" : "";
    const std::string_view digits = d.view();
    const int count = d.count;
    const int point = d.exponent + shift;  // digits before the decimal point
    if (point > plain_span || point < -plain_span) {
        out += digits[0];
        out += '.';
        out += count > 1 ? digits.substr(1) : "0";
        out += 'e';
        out += std::to_string(point - 1);
    } else if (point <= 0) {
        out += "0.";
        out.append(size_t(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(size_t(point - count), '0');
    } else {
        out += digits.substr(0, size_t(point));
        out += '.';
        out += digits.substr(size_t(point));
    }
    return out;
}

Text form_shortest(double x, int n, bool dot_zero) {
    const Digits d = dtoa(x, n, dot_zero);
    Text t;
    if (d.exponent > 9997) {
        t.count = put(t.chars, 0, d.view());
        t.chars[t.count] = 0;
        return t;
    }
    const int32_t p = d.exponent;
    const int32_t len = d.count;
    const std::string_view digits = d.view();
    int32_t at = put(t.chars, 0, d.negative ? "-" : "");
    if (p > 17 || p < -6) {
        at = put(t.chars, at, digits.substr(0, 1));
        if (len > 1) {
            at = put(t.chars, at, ".");
            at = put(t.chars, at, digits.substr(1));
        } else if (dot_zero) {
            at = put(t.chars, at, ".0");
        }
        at = put(t.chars, at, "e");
        const auto r = std::to_chars(t.chars + at, std::end(t.chars), p - 1);
        at = static_cast<int32_t>(r.ptr - t.chars);
    } else if (p > 0 && p < len) {
        at = put(t.chars, at, digits.substr(0, p));
        at = put(t.chars, at, ".");
        at = put(t.chars, at, digits.substr(p));
    } else if (p >= len) {
        at = put(t.chars, at, digits);
        for (int32_t i = len; i < p; ++i) at = put(t.chars, at, "0");
        if (dot_zero) at = put(t.chars, at, ".0");
    } else {
        at = put(t.chars, at, "0.");
        for (int32_t i = p; i < 0; ++i) at = put(t.chars, at, "0");
        at = put(t.chars, at, digits);
    }
    t.chars[at] = 0;
    t.count = at;
    return t;
}

namespace {

// Significant digits kept from a long text. Any midpoint between two doubles has at most
// 767 significant digits, so keeping more than that and standing in one non-zero digit for
// everything dropped keeps the text on the same side of every midpoint.
constexpr int32_t kept_digits = 780;

// Exponents beyond these give an infinity or zero whatever the digits (0.D x 10^e).
constexpr int64_t overflow_exponent = 310;
constexpr int64_t underflow_exponent = -330;

bool letter_is(char c, char upper) { return c == upper || c == upper + ('a' - 'A'); }

// Reads the ".#INF" / ".#NaN" tail after one digit; s points at that digit.
const char* special_tail(const char* s, const char* end, bool negative, double& value) {
    const bool inf = letter_is(s[3], 'I');
    value = inf ? (negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity())
                : std::numeric_limits<double>::quiet_NaN();
    const char* rest = inf ? "NF" : "AN";
    s += 4;
    for (int i = 0; i < 2 && s < end && letter_is(*s, rest[i]); ++i) ++s;
    return s;
}

}  // namespace

Parsed to_float(const char* start, const char* end, int32_t exponent_adjust) {
    Parsed out;
    const char* s = start;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) {
        negative = *s == '-';
        ++s;
    }
    const double zero = negative ? -0.0 : 0.0;
    bool any_digit = false;
    while (s < end && *s == '0') {
        any_digit = true;
        ++s;
    }
    if (end - s >= 4 && *s >= '1' && *s <= '9' && s[1] == '.' && s[2] == '#' &&
        (letter_is(s[3], 'I') || letter_is(s[3], 'N'))) {
        s = special_tail(s, end, negative, out.value);
        out.unread = static_cast<std::size_t>(end - s);
        return out;
    }

    // The value is 0.DIGITS x 10^point, DIGITS starting with a non-zero digit.
    char digits[kept_digits + 24];
    int32_t count = 0;
    bool dropped_non_zero = false;
    int64_t point = 0;
    auto take = [&](char c) {
        if (count < kept_digits)
            digits[count++] = c;
        else if (c != '0')
            dropped_non_zero = true;
    };
    for (; s < end && is_digit(*s); ++s) {
        any_digit = true;
        take(*s);
        ++point;
    }
    if (s < end && *s == '.') {
        ++s;
        for (; s < end && is_digit(*s); ++s) {
            any_digit = true;
            if (count == 0 && *s == '0')
                --point;
            else
                take(*s);
        }
    }
    if (!any_digit) {
        out.value = zero;
        out.unread = static_cast<std::size_t>(end - start);
        return out;
    }
    if (s < end && (*s == 'e' || *s == 'E')) {
        const char* t = s + 1;
        bool exp_negative = false;
        if (t < end && (*t == '+' || *t == '-')) {
            exp_negative = *t == '-';
            ++t;
        }
        if (t < end && is_digit(*t)) {
            int64_t e = 0;
            for (; t < end && is_digit(*t); ++t)
                if (e < 1000000) e = e * 10 + (*t - '0');  // saturates: the value is 0 or INF by then
            point += exp_negative ? -e : e;
            s = t;
        }
    }
    out.unread = static_cast<std::size_t>(end - s);

    while (count > 0 && digits[count - 1] == '0') --count;
    if (count == 0) {
        out.value = zero;
        return out;
    }
    point += exponent_adjust;
    if (point > overflow_exponent) {
        out.value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return out;
    }
    if (point < underflow_exponent) {
        out.value = zero;
        return out;
    }
    if (dropped_non_zero) digits[count++] = '1';
    const int64_t scale = point - count;  // D x 10^scale, D the digits as an integer
    digits[count++] = 'e';
    const auto w = std::to_chars(digits + count, std::end(digits), scale);
    double value = 0.0;
    const auto r = std::from_chars(digits, w.ptr, value);
    assert(r.ptr == w.ptr);
    if (r.ec == std::errc::result_out_of_range)
        value = point > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    out.value = negative ? -value : value;
    return out;
}

Parsed to_float_len(const char* start, std::size_t count) { return to_float(start, start + count, 0); }

}  // namespace zuv::float_text
