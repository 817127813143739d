// Exact conversion between doubles and decimal text: the shortest text that reads back to
// the same double, text with n correctly rounded significant digits, and text to double.
// The correctly rounded core is std::to_chars / std::from_chars, so no big integers are kept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuv::float_text {

// The most significant digits dtoa gives; a larger n is taken as this.
inline constexpr int max_digits = 40;

// Decimal exponents that mark the texts of non-finite values and of zero.
inline constexpr int special_exponent = 9999;
inline constexpr int zero_exponent = 9998;

// What dtoa gives. For a finite non-zero double, chars holds only the digits (no sign, no
// point, no exponent, trailing zeros removed) and the value is 0.DIGITS x 10^exponent, with
// `negative` telling the sign. For the others chars holds the whole text with its sign:
// "1.#INF", "-1.#INF", "1.#NaN" (exponent 9999) and "0", "-0", "0.0", "-0.0" (exponent 9998).
struct Digits {
    char chars[max_digits + 8];
    int32_t count = 0;     // characters in chars
    int32_t exponent = 0;  // position of the decimal point relative to the first digit
    bool negative = false;  // sign bit (never set for NaN, whose text has no sign)

    std::string_view view() const { return {chars, static_cast<std::size_t>(count)}; }
};

// A complete text, NUL-terminated, ready to be appended at once.
struct Text {
    char chars[80];
    int32_t count = 0;

    std::string_view view() const { return {chars, static_cast<std::size_t>(count)}; }
    const char* c_str() const { return chars; }
};

// The digits of x: the shortest digits that read back to x when n <= 0, else the n
// significant digits correctly rounded (ties to even on the exact value). zero_text chooses
// "0.0" over "0" for zero.
Digits dtoa(double x, int n, bool zero_text);

// x laid out as text from dtoa(x, n): scientific ("1.5e-7", "1.0e20") when the exponent is
// above 17 or below -6, else plain ("12.5", "0.000123", "1000.0"). dot_zero keeps ".0" on
// an integral value and on a one-digit mantissa and gives zero as "0.0".
Text form_shortest(double x, int n, bool dot_zero);

// The shortest digits that read back to the finite x, the decimal point moved `shift`
// places right (a percent's 0.125 is "12.5"): plain when the point lies within `plain_span`
// digits of the first one, else as "1.25e-9". A text read back with the exponent adjusted by
// -shift gives x again.
// With n > 0 the n correctly rounded significant digits are written instead.
std::string form_exact(double x, int shift, int plain_span, int n = 0);

// The result of reading text: the double and the count of characters after the last one
// read (0 when the whole text was a number). Text that holds no number reads as 0.0 with
// every character unread. Nothing is raised here: the caller decides what unread text means.
struct Parsed {
    double value = 0.0;
    std::size_t unread = 0;
};

// Reads an optional sign, digits, an optional "." and fraction, an optional exponent ("e"
// or "E", optional sign, digits). exponent_adjust is added to the decimal exponent (a
// percent reader passes -2). One non-zero digit followed by ".#I" reads as an infinity and
// by ".#N" as NaN, so the texts of non-finite values read back. Overflow gives an infinity,
// underflow a zero.
Parsed to_float(const char* start, const char* end, int32_t exponent_adjust);
Parsed to_float_len(const char* start, std::size_t count);

}  // namespace zuv::float_text
