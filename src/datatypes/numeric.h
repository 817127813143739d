// What the number datatypes (integer!, char!, float!, percent!, time!) share: the math
// operator codes, the words and datatypes their errors name, and the hand-over of a mixed
// operation to the datatype that computes it (pair!, tuple!, money!, date!, vector!).
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::numeric {

// Math operator codes, shared by every numeric datatype.
enum Op : int32_t { add = 0, subtract = 1, multiply = 2, divide = 3, remainder = 4, or_ = 5, and_ = 6, xor_ = 7 };

// The action-slot entries of the binary operators, each calling a datatype's do_math with
// its operator code.
template <Cell* (*DoMath)(Cell*, Cell*, int32_t)>
struct OpSlots {
    static Cell* add(Cell* a, Cell* b) { return DoMath(a, b, Op::add); }
    static Cell* subtract(Cell* a, Cell* b) { return DoMath(a, b, Op::subtract); }
    static Cell* multiply(Cell* a, Cell* b) { return DoMath(a, b, Op::multiply); }
    static Cell* divide(Cell* a, Cell* b) { return DoMath(a, b, Op::divide); }
    static Cell* remainder(Cell* a, Cell* b) { return DoMath(a, b, Op::remainder); }
    static Cell* or_t(Cell* a, Cell* b) { return DoMath(a, b, Op::or_); }
    static Cell* and_t(Cell* a, Cell* b) { return DoMath(a, b, Op::and_); }
    static Cell* xor_t(Cell* a, Cell* b) { return DoMath(a, b, Op::xor_); }
};

// The action slot that computes an operator.
int op_slot(int32_t op);

// The string family (string!, file!, url!, tag!, email!, ref!), whose text `to` scans.
bool text_type_q(Type t);

// An unbound word! cell for a fixed name (the words errors name: `round`, `subtract`...).
void word(const char* name, Cell* out);
// The word of an operator's action (add, subtract, multiply, divide, remainder, or~, and~, xor~).
void op_word(int32_t op, Cell* out);

// Errors the number datatypes raise; each names what the caller gives.
[[noreturn]] void raise_invalid_type(Type t);                         // script/invalid-type, datatype
[[noreturn]] void raise_not_related(const char* action, Type t);      // script/not-related, word, datatype
[[noreturn]] void raise_not_related(const Cell* action, Type t);
[[noreturn]] void raise_bad_to_arg(Type target, const Cell* spec);    // script/bad-to-arg, datatype, spec
// script/expect-arg: the called action's word, the value's datatype and the argument's word.
[[noreturn]] void raise_expect_arg(const Cell* value, const char* argument);

// The implementation that another datatype gives to an action slot. A datatype that is not
// registered yet ends the operation with internal/not-done; one that has no entry for the
// slot refuses the operand: script/invalid-type with refused's datatype.
void* action_of(Type owner, int slot, Type refused);

// Hands a binary operation to the datatype of b: with swap, b's value moves to the first
// cell and a's to the second first (the other datatype computes with itself on the left).
// The result is left in a, which is returned.
Cell* hand_over(Cell* a, Cell* b, int32_t op, bool swap);

// The order another datatype's compare gives for (b, a), turned to the order of (a, b).
int32_t compare_reversed(Cell* a, Cell* b, int32_t code);

// The integer!, float! and time! kernels the composite scalars compute on (pair!, the
// points, tuple!, date!, money!): numeric-kernels.cpp.
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

// time!: hours truncated toward zero and minutes of the magnitude, 0 where time! raises
// math/overflow (hours beyond 32 bits, NaN).
int32_t time_hours(double seconds);
int32_t time_minutes(double seconds);

}  // namespace zuv::numeric
