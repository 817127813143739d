// char!: a Unicode code point (0 to 0x10FFFF in data word 2), a child of integer! that
// computes with the 32-bit integer kernel and refuses any result outside the code points.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::char_ {

constexpr uint32_t max_code_point = 0x10FFFF;

// The data word: the code point.
inline uint32_t code_of(const Cell* c) { return c->data2; }
inline void set_code(Cell* c, uint32_t code_point) { c->data2 = code_point; }

Cell* make_in(Cell* block, uint32_t code_point);
Cell* push(uint32_t code_point);

// Appends a code point as it appears inside the quotes of a molded char! (escapes such as
// ^/ and ^(1E)); with all, every code point above 0x7F is written as ^(hex).
void append_escaped(Cell* buffer, uint32_t code_point, bool all);

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* do_math(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace zuv::char_
