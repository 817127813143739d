// vector!: a packed series of numbers or characters of one element type (char!, integer!,
// float!, percent!; data word 3) and one width (the buffer's unit: 1, 2 or 4 bytes for char!
// and integer!, 4 or 8 for float!, 8 for percent!), stored little-endian. Element addresses
// are valid only until the next allocation.
#pragma once
#include <cstdint>

#include "datatypes/series.h"
#include "memory/cell.h"

namespace zuv::vector {

// The element types and their default widths (4 for char! and integer!, 8 for the others).
constexpr bool element_type_q(Type t) {
    return t == Type::char_ || t == Type::integer || t == Type::float_ || t == Type::percent;
}
constexpr uint32_t default_width(Type t) { return t == Type::char_ || t == Type::integer ? 4 : 8; }
inline Type element_type(const Cell* v) { return static_cast<Type>(v->data3); }
inline void set_element_type(Cell* v, Type element) { v->data3 = static_cast<uint32_t>(element); }
inline uint32_t width(const Cell* v) { return series::buffer(v)->unit(); }

// An empty vector with room for capacity elements (at least one); the cell stays unset while
// the buffer is made. A size past 32 bits raises internal/no-memory.
void make_at(Cell* c, int32_t capacity, Type element, uint32_t width);
// An empty vector of 32-bit integers, as the text layout code keeps.
inline void make_at(Cell* c, int32_t capacity = 16) { make_at(c, capacity, Type::integer, 4); }

// The value stored at an element address: integers sign-extended from 8 and 16 bits, code
// points zero-extended (a char! is never negative), floats from single or double. out may be
// any cell but one inside the buffer read.
void get_value(const uint8_t* element, uint32_t width, Type element_type, Cell* out);
// The element at an address as a number, read as get_value reads it.
double number_of(const uint8_t* element, uint32_t width, Type element_type);
// The element at an absolute index as a number, read as get_value reads it.
double number_at(const Cell* v, int32_t index);
// Stores a char!/integer! in 1, 2 or 4 bytes (the low bits), a float!/percent! as a double
// (width 8) or a single; any other value raises script/invalid-type with its datatype.
void set_value(uint8_t* element, const Cell* value, uint32_t width);

// Each of these checks that the value is of the element type (else script/invalid-arg with
// the value). append_value stores at the tail; set_at at an absolute index, extending the
// tail by one when the index is at or past it; insert_at moves the elements from the index
// up by one first.
void append_value(Cell* v, const Cell* value);
void set_at(Cell* v, int32_t index, const Cell* value);
void insert_at(Cell* v, int32_t index, const Cell* value);

// A new block (of room for the length, at least 1) in result with each element from the head
// as a value of the element type.
void to_block(Cell* v, Cell* result);

// Elements from the head (a head past the tail is moved back to it).
int32_t get_length(Cell* v);
// The tail becomes the head element.
void clear_from_head(Cell* v);
// Stores a 32-bit value at the tail whatever the element type (the vector's width must be 4).
void append_int32(Cell* v, int32_t value);

// Combines every element from the head with a scalar (integer!, char!, float! or percent!),
// in place, element first: the arithmetic of the add ... xor~ actions with operator codes 0-7.
// Other datatypes hand their scalar-first operations here. Gives the vector.
Cell* math_scalar(Cell* v, const Cell* scalar, int32_t op);

// Actions other datatypes call.
Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace zuv::vector
