// The natives table (index -> entry) and the actions table of stack-level action entries.
// A native entry reads its arguments from the current frame (argument n at
// arguments_base + n) and leaves its result in the frame's first cell; it receives one
// integer per refinement of its spec: -1 when unused, else the frame position of the
// refinement's first argument.
#pragma once
#include <cstdint>
#include <initializer_list>

namespace zuv::natives {

using Entry = void (*)(bool check, const int32_t* refinements);
constexpr int capacity = 120;
extern Entry table[capacity];
extern int32_t next_index;

void init();
void register_list(std::initializer_list<Entry> entries);

// Set by print and prin: 1 when the last output ended with a line feed.
extern int32_t last_print_newline;
// The shift native's arithmetic: left, logical (unsigned) right, or arithmetic right; a
// negative count shifts by 0, 32 bits or more leave only the sign (or nothing).
int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical);

}  // namespace zuv::natives

namespace zuv::actions {

using Entry = void (*)(const int32_t* refinements);
constexpr int count = 62;
extern Entry table[count];

void init();

}  // namespace zuv::actions
