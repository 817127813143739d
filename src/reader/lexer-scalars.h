// The loaders of the literal forms that make scalar values: tuples, pairs, points, times,
// money and dates. Each reads a token's text into a cell and answers check_ok or the
// datatype id whose syntax `invalid` error the caller raises.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"

namespace zuv::lexer {

int32_t load_tuple(std::string_view text, Cell* out);
int32_t load_pair(std::string_view text, Cell* out);
// The text between the parentheses; type is point2D! or point3D! as the scanner counted.
int32_t load_point(std::string_view body, int32_t type, Cell* out);
int32_t load_time(std::string_view text, Cell* out);
int32_t load_money(std::string_view text, Cell* out);
int32_t load_date(std::string_view text, Cell* out);

}  // namespace zuv::lexer
