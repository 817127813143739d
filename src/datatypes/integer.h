// integer!: 32-bit signed integers (value in data word 2), the helpers the whole runtime uses
// to box, push and read them, their decimal text, and the 32-bit arithmetic kernel that
// char!, pair!, tuple! and vector! compute with. Overflow promotes to float! or raises.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::integer {

inline int32_t get(const Cell* c) { return c->int2(); }
// Rewrites the value (data word 2), keeping the header.
inline void set(Cell* c, int32_t value) { c->data2 = static_cast<uint32_t>(value); }

// box writes the result slot, push a new argument-stack cell, make_in a new cell at a
// block's tail: each writes the whole header. make_at keeps the cell's flag bits.
Cell* box(int32_t value);
Cell* make_at(Cell* c, int32_t value);
Cell* make_in(Cell* block, int32_t value);
Cell* push(int32_t value);

// Decimal text of a value, returned by value (at most 11 characters and a NUL).
struct Decimal {
    char chars[12];
    int32_t count = 0;
    std::string_view view() const { return {chars, static_cast<std::size_t>(count)}; }
    const char* c_str() const { return chars; }
};
Decimal form_decimal(int32_t value);

// The 32-bit kernel (operator codes of numeric::Op). Add, subtract and multiply that overflow
// rewrite the result cell as float! holding the operation done in doubles and give 0;
// without a cell they give the wrapped 32-bit result. Divide raises math/zero-divide for 0
// and math/overflow for -2147483648 / -1; an inexact division with a result cell turns the
// cell into float! holding the exact quotient, else the quotient truncates toward zero.
// Remainder takes the left operand's sign. When no float! was made the result also goes to
// the cell's data word 2 (its header untouched). Another operator ends the program (101).
int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result);

// Absolute value; math/overflow for -2147483648.
int32_t abs(int32_t value);
int32_t sign(int32_t value);

// The one checked conversion of a double to 32 bits: truncated toward zero, nothing for NaN
// or a value above 2147483647.0 or below -2147483648.0.
std::optional<int32_t> from_double(double value);
// True when the float cell's double is out of the 32-bit range or NaN.
bool float_overflow_q(const Cell* c);
// A float! truncated toward zero (script/out-of-range with the cell when it does not fit);
// data word 2 for integer! and char!.
int32_t from_number(const Cell* c);

// Actions (arguments as the action entry leaves them; results in the first cell).
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* absolute(Cell* value);
Cell* negate(Cell* value);
Cell* complement(Cell* value);
Cell* do_math(Cell* a, Cell* b, int32_t op);
Cell* power(Cell* base, Cell* exponent);
Cell* round(Cell* value, const slotfn::RoundOptions& options);
bool even_q(Cell* value);
bool odd_q(Cell* value);

void init();

}  // namespace zuv::integer
