// money!: an exact decimal amount of 17 integer and 5 fraction digits with an optional
// currency, computed without binary floating point. Header bit 14 is the sign; byte 4 of
// the cell (low byte of data word 1) the currency's 1-based position in the currency list;
// bytes 5-15 the 22 digits as packed BCD, most significant first. Zero is all digits 0,
// whatever the sign bit.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"

namespace zuv::money {

constexpr uint32_t sign_mask = 0x4000;
constexpr uint32_t sign_shift = 14;
constexpr int32_t amount_bytes = 11;

inline bool get_sign(const Cell* c) { return (c->header & sign_mask) >> sign_shift; }
inline void set_sign(Cell* c, bool negative) {
    c->header = (c->header & ~sign_mask) | (static_cast<uint32_t>(negative) << sign_shift);
}
inline int32_t currency(const Cell* c) { return static_cast<int32_t>(c->data1 & 0xFF); }
inline void set_currency(Cell* c, int32_t index) { c->data1 = (c->data1 & ~0xFFu) | (static_cast<uint32_t>(index) & 0xFF); }

// The 1-based position of a currency in the list (symbols compared after alias
// resolution); -1 when absent or the list is empty.
int32_t currency_index(int32_t symbol);
int32_t currency_index_of(std::string_view code);
// The currency's word, or none! without a currency.
Cell currency_word(const Cell* c);

// Sets the cell to money! from its parts (amount: the 11 BCD bytes, as ZUVBIN stores them).
void make_at(Cell* c, bool negative, int32_t currency, const uint8_t* amount);
void amount_of(const Cell* c, uint8_t* amount);
// From scanned text: the sign, a currency code (empty for none), the digits without
// separators and how many of them are integer digits. Fraction digits past the fifth are
// dropped. False, with the cell unset, for an unknown currency or more than 17 integer digits.
bool from_digits(Cell* c, bool negative, std::string_view currency, std::string_view digits,
                 std::size_t integer_digits);

void from_integer_at(Cell* c, int32_t v);
// False when the float has no money value: not finite, 0 < |x| < 1e-5, |x| >= 1e17, or
// (strict) more than 5 fraction digits in its shortest text. Non-strict drops the rest.
bool from_float_at(Cell* c, double x, bool strict);
// Pushes the money of a float; failing raises script/bad-make-arg with money! and the float.
Cell* from_float(double x, bool strict);
// The integer part (toward zero); beyond 32 bits raises script/type-limit with integer!.
int32_t to_integer(const Cell* c);
double to_float(const Cell* c);

int32_t signum(const Cell* c);
inline bool negative_q(const Cell* c) { return signum(c) < 0; }
inline bool zero_q(const Cell* c) { return signum(c) == 0; }
inline bool positive_q(const Cell* c) { return signum(c) > 0; }
void absolute_in_place(Cell* c);
void negate_in_place(Cell* c);

// Two money! values, the result in left: 0 add, 1 subtract, 2 multiply, 3 divide,
// 4 remainder. Overflow raises script/type-limit with money!; a zero divisor math/zero-divide.
Cell* do_math(Cell* left, Cell* right, int32_t op);
// An action's arithmetic with at least one money! operand (integer!, float! and percent!
// convert; currencies must agree: script/wrong-denom). Money divided by money gives float!.
Cell* math_action(Cell* left, Cell* right, int32_t op);
int32_t compare(Cell* a, Cell* b, int32_t op);
// The text of the value: with all, 5 decimals; with group, "'" between thousands.
int32_t form_text(Cell* value, Cell* buffer, int32_t budget, bool all, bool group);

void init();

}  // namespace zuv::money
