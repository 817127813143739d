// Number scanners shared by the lexer's loaders and the `to`/`make` conversions of strings,
// so that `to integer! "12"` and the literal 12 agree. Texts are code points in units of 1,
// 2 or 4 bytes (a string's buffer) plus a count; nothing here raises: the caller does.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zuv::number_scan {

// Why a scan failed; the numbers are those the conversions test for.
enum class ScanError : int32_t { none = 0, not_a_number = -1, overflow = -2 };

struct IntegerScan {
    int32_t value = 0;  // 0 on failure
    ScanError error = ScanError::none;
};

// Optional "+" or "-", then decimal digits; "'" is skipped anywhere after the sign. Another
// character (or no digit at all) is not_a_number, which wins over overflow; a magnitude
// beyond 32 bits is overflow, except that -2147483648 is the minimum integer.
IntegerScan scan_integer(const void* data, std::size_t count, int unit);

// The longest text the float syntax accepts.
inline constexpr std::size_t float_max_length = 312;

// The float syntax: optional sign; digits with single "'" between digits; optionally "."
// and more digits (the integer digits may be missing when fraction digits follow); then
// optionally "e" or "E", an optional sign and digits. "," is not a decimal mark here:
// callers that accept it change it to "." first. Text over 312 bytes is refused.
bool float_syntax_q(const char* text, std::size_t length);

// Optional sign, "1.#", then INF or NAN in any case: the texts that infinities and NaN are
// written as, and nothing else.
bool special_float_q(std::string_view text);

struct FloatScan {
    double value = 0.0;  // NaN on failure
    ScanError error = ScanError::none;
};

// A text of the float syntax (with "," taken as ".", at most 312 characters) read as the
// correctly rounded double (of its value times 10^exponent_adjust); anything else is
// not_a_number with a NaN value.
FloatScan scan_float(const void* data, std::size_t count, int unit, int32_t exponent_adjust = 0);
// The same, also reading the special texts as an infinity or NaN.
FloatScan scan_float_or_special(const void* data, std::size_t count, int unit);

// The parts of a money text, for the money conversion to build the value from:
//   money::from_digits(cell, m.negative, m.currency_view() or none, m.digits, m.integer_digits)
// The integer digits are digits[0, integer_digits) and the fraction digits the rest, all of
// them "0"-"9" with the separators removed. Leading zeros are kept: a caller checking the
// 17-digit limit skips them. Fraction digits past the fifth are the caller's to drop or
// refuse. The currency code is kept as written (case included) for the currency lookup,
// which answers an unknown code; an amount out of range is the conversion's failure too.
struct MoneyText {
    bool negative = false;
    char currency[4] = {};  // three letters and a NUL, or empty
    std::string digits;
    std::size_t integer_digits = 0;
    bool has_point = false;  // a "." was written (even "$1.0" has one fraction digit)

    bool has_currency() const { return currency[0] != 0; }
    std::string_view currency_view() const { return {currency, has_currency() ? 3u : 0u}; }
};

// Optional sign; an optional currency code of exactly three letters A-Z or a-z followed by
// "$"; "$"; digits with "'" separators (not first, not doubled, not last, not after the
// point); at most one "." (not right after "$", not last). Nothing when the text is not so.
std::optional<MoneyText> scan_money(const void* data, std::size_t count, int unit);

}  // namespace zuv::number_scan
