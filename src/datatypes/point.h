// point2D! and point3D!: points of 32-bit float coordinates, (1, 2) and (1, 2, 3); x, y
// and z sit in data words 1, 2 and 3. Arithmetic runs in double precision and each
// coordinate is stored back rounded to 32 bits.
#pragma once
#include <bit>
#include <cstdint>

#include "memory/cell.h"

namespace zuv::point {

// Coordinate i (0 x, 1 y, 2 z) of a point cell.
inline float get(const Cell* c, int i) { return std::bit_cast<float>(i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3); }
inline void set(Cell* c, int i, float v) { (i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3) = std::bit_cast<uint32_t>(v); }

}  // namespace zuv::point

namespace zuv::point2D {

void make_at(Cell* c, float x, float y);
Cell* make_in(Cell* block, float x, float y);
Cell* push(float x, float y);
// x 1, y 2; another word raises script/cannot-use (word, value) when the value is a
// point2D!, else script/invalid-path (word, value).
int32_t field_index(const Cell* word, Cell* value);
// The value of an integer! or float! cell as a 32-bit float.
float coordinate_of(const Cell* c);
// left (a point2D!) op right, in place in left; operators 0-4.
Cell* do_math(Cell* left, Cell* right, int32_t op);
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();

}  // namespace zuv::point2D

namespace zuv::point3D {

void make_at(Cell* c, float x, float y, float z);
Cell* make_in(Cell* block, float x, float y, float z);
Cell* push(float x, float y, float z);
int32_t field_index(const Cell* word, Cell* value);
Cell* do_math(Cell* left, Cell* right, int32_t op);
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();

}  // namespace zuv::point3D
