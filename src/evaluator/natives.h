// The natives table (index -> entry) and the actions table of stack-level action entries.
// A native entry reads its arguments from the current frame (argument n at
// arguments_base + n) and leaves its result in the frame's first cell; it receives one
// integer per refinement of its spec: -1 when unused, else the frame position of the
// refinement's first argument.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "memory/actions.h"
#include "memory/cell.h"

namespace zuv::natives {

using Entry = void (*)(bool check, const int32_t* refinements);
extern Entry table[capacity];
extern int32_t next_index;

void init();
void register_list(std::initializer_list<Entry> entries);

// Runs a script (a file! or url!) through the library's do-file, as `do` of a file does;
// args is what do-file passes on as system/script/args. The script's value goes into result.
// Raises internal/not-done while the library has no do-file.
void do_file(const Cell* script, const Cell* args, Cell* result);

// Set by print and prin: 1 when the last output ended with a line feed.
extern int32_t last_print_newline;
// The shift native's arithmetic: left, logical (unsigned) right, or arithmetic right; a
// negative count shifts by 0, 32 bits or more leave only the sign (or nothing).
int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical);

}  // namespace zuv::natives

namespace zuv::actions {

using Entry = void (*)(const int32_t* refinements);
extern Entry table[count];
// Indexes (1-based) of the arithmetic actions the interpreter works out in place for two
// integers; init checks them against the table.
namespace index {
constexpr int32_t add = 11, divide = 12, multiply = 13, remainder = 16, subtract = 18;
}

void init();

}  // namespace zuv::actions
