// pair!: two 32-bit integers written 1x2 (x in data word 2, y in data word 3), the sizes and
// offsets of the GUI. Arithmetic is per component; a result that leaves the integers (an
// overflow, a division with a remainder, a float factor) becomes a point2D!.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::pair {

inline int32_t x(const Cell* c) { return c->int2(); }
inline int32_t y(const Cell* c) { return c->int3(); }
inline void set_x(Cell* c, int32_t v) { c->data2 = static_cast<uint32_t>(v); }
inline void set_y(Cell* c, int32_t v) { c->data3 = static_cast<uint32_t>(v); }

// Sets the cell to pair!, keeping its header flags.
void make_at(Cell* c, int32_t x, int32_t y);
Cell* make_in(Cell* block, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);
// x 1, y 2; another word raises script/cannot-use (word, value) when the value is a pair!,
// else script/invalid-path (word, value).
int32_t field_index(const Cell* word, Cell* value);
// Turns the pair in the cell into a point2D! in place.
void to_point2D_at(Cell* c);
// left (a pair!) op right, in place in left: operators 0 add, 1 subtract, 2 multiply,
// 3 divide, 4 remainder, 5 or, 6 and, 7 xor. Gives left, a pair! or a point2D!.
Cell* do_math(Cell* left, Cell* right, int32_t op);
void init();

}  // namespace zuv::pair
