// Action dispatch: the implementation of an action is chosen by the datatype of its first
// argument. Runtime code calls the *_dispatch functions with plain arguments.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::actions {

// Comparison codes.
namespace op {
constexpr int32_t equal = 0, not_equal = 1, strict_equal = 2, lesser = 3, lesser_or_equal = 4, greater = 5,
                  greater_or_equal = 6, sort = 7, sort_case = 8, same = 9, find = 12;
}

// The signed order of two values: -1, 0 or 1, or -2 when they cannot be compared.
int32_t compare_dispatch(Cell* a, Cell* b, int32_t op);
// The truth of comparing two values by op; an ordering of incomparable values raises
// script/invalid-compare.
bool compare(Cell* a, Cell* b, int32_t op);

}  // namespace zuv::actions

namespace zuv::actions {

// Forms or molds any value into the target string through its datatype's action; gives
// the remaining budget (0x7FFFFFFF without /part).
constexpr int32_t no_limit = 0x7FFFFFFF;
int32_t form_dispatch(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold_dispatch(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                      int32_t indent);
// The implementation of an action slot for a value's datatype; raises script/expect-arg
// when the datatype has none.
void* get_action_ptr_of(const Cell* value, int slot);

}  // namespace zuv::actions

namespace zuv::actions {
// The number of actions (evaluator/natives.h holds their table): an action! value's index is
// at most it.
constexpr int count = 62;
}  // namespace zuv::actions

namespace zuv::natives {
// Room in the natives table (evaluator/natives.h): the index a native! value holds is below it.
constexpr int capacity = 120;
}  // namespace zuv::natives
