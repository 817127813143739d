// The loop protocol shared by the loop natives: a loop frame named <body>, the result slot
// reset before each iteration, break and continue taken here, other exits passed on.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::natives {

enum class Exit { none, break_, continue_, other };
// Evaluates one iteration's body into the loop frame's result slot.
Exit loop_body(const Cell& body);
// A float! count truncated toward zero, in place; gives the count.
int32_t count_to_integer(Cell* count);

}  // namespace zuv::natives
