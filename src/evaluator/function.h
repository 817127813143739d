// function! and routine!: user-level functions (spec, body, context), and native!,
// action! and op! values, the handles of the built-in routines.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::function {

namespace flag {
constexpr uint32_t trace = 0x400;
constexpr uint32_t no_trace = 0x200;
}  // namespace flag

// The function's internal series: body, argument cache, machine entry, op source, object.
constexpr int series_length = 5;

uint32_t check_spec(const Cell* spec);
// Pushes a new function! made from a spec and a body; the body is copied deeply and bound
// to a new context made from the spec.
Cell* push(const Cell* spec, const Cell* body, Ref context, uint32_t flags, Ref object);
void collect_locals(Cell* spec, const Cell* body);
void init_locals(int32_t n);
void init();

}  // namespace zuv::function

namespace zuv::native {
void init();
}
namespace zuv::action {
void init();
}
namespace zuv::op {
void init();
bool check_spec(const Cell* spec);
}
namespace zuv::routine {
void init();
}
