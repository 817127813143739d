// The integer!, float! and time! kernels that the composite scalars compute on: 32-bit
// operations with float promotion, float operations, tolerant equality, rounding, random
// draws, the float text kinds and the time text and fields. Operator codes: 0 add,
// 1 subtract, 2 multiply, 3 divide, 4 remainder, 5 or, 6 and, 7 xor.
#pragma once
#include <cstdint>
#include <string>

#include "memory/cell.h"

namespace zuv::numeric {

// Cells of the number datatypes.
void integer_at(Cell* c, int32_t v);
Cell* push_integer(int32_t v);
void float_at(Cell* c, double d, Type t = Type::float_);
Cell* push_float(double d, Type t = Type::float_);

// Truncates toward zero into 32 bits; false for NaN and values outside the integers.
bool to_int32(double d, int32_t* out);

// The 32-bit operation. With promote, an add, subtract or multiply that overflows and a
// division with a remainder give the exact result as a double instead (is_float). Division
// or remainder by 0 raises math/zero-divide; the minimum integer divided by -1 (or its
// remainder) raises math/overflow.
struct IntegerResult {
    int32_t value;
    bool is_float;
    double exact;
};
IntegerResult integer_op(int32_t left, int32_t right, int32_t op, bool promote);

// The float operation: IEEE add, subtract, multiply, divide; remainder is fmod for a finite
// divisor, the left for an infinite one (NaN when the left is not finite), NaN for NaN.
// Operators above 4 raise script/cannot-use with the called word and float!.
double float_op(double left, double right, int32_t op);

// Tolerant equality: within 10 units in the last place (or both tiny, for doubles).
bool almost_equal(double a, double b);
bool almost_equal32(float a, float b);

struct Rounding {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};

// The integer! rounding of v to a multiple of scale (as its absolute value; 0 leaves v).
// Raises math/overflow when rounding away from zero leaves the integers.
int32_t round_int32(int32_t v, int32_t scale, Rounding how);
// The float! rounding of d to a multiple of scale (null: 1, or 1% for a percent value).
// A percent scale counts in its stored fraction. Raises math/overflow past the largest double.
double round_double(double d, bool percent_value, const Cell* scale, Rounding how);
// Rounds an integer component by the integer! round action with an optional scale cell
// (integer!, float!, percent! or time!); a result off the integers is truncated back.
int32_t round_component(int32_t v, const Cell* scale, Rounding how);

// The float! random of a value: from 0 up to the value.
double float_random(double v, bool secure);

// Float texts by kind: 0 32-bit elements, 1 float!, 2 32-bit percents, 3 percent! (times
// 100 already), 4 time! seconds, 5 point coordinates.
std::string form_text(double d, int kind);

// time!: hours truncated toward zero, minutes of the magnitude, and the text of a duration.
int32_t time_hours(double seconds);
int32_t time_minutes(double seconds);
int32_t time_form(double seconds, Cell* buffer, int32_t budget);
// The seconds after setting field 1 (hour), 2 (minute) or 3 (second) to a value, as a
// time! path set does; a value of the wrong type raises script/invalid-arg.
double time_set_field(double seconds, int32_t field, const Cell* value);

}  // namespace zuv::numeric
