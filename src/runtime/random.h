// The runtime's one pseudo-random generator (a 624-word twister whose right shifts are all
// arithmetic, so it is not the reference sequence), its bounded draw and the secure draw.
// Single-threaded: nothing here locks.
#pragma once
#include <cstdint>

namespace zuv::random {

// The seed the generator holds from start-up until the first random/seed.
constexpr std::int32_t start_seed = 19650218;

// The hash tables' 32-bit hashing seed: fixed and non-zero, so table layouts repeat from run
// to run.
constexpr std::uint32_t hash_seed_start = 0x2F8E5C71u;

// Start-up: the generator seeded with start_seed.
void init();
void init_state();

// The hash tables' 32-bit hashing seed: fixed, non-zero, never changed after start-up.
std::uint32_t hash_seed();

// Reseeds the generator; the next 624 draws temper the seeded words before any twist.
void seed(std::int32_t value);

// The next draw, 0 to 2147483647.
std::int32_t next();

// A draw from the system's cryptographic source, 0 to 2147483647.
std::int32_t secure_int();

// A random integer bounded by n, from secure_int when secure is set, else from next:
// 0 for n = 0; 1 to n for n > 0; n to -1 for n < 0.
std::int32_t int_(bool secure, std::int32_t n);

// The rule of int_ over any source of draws in 0 to 2147483647. A draw at or above the
// largest multiple of n that fits is taken again, so every result is equally likely.
template <class Draw>
std::int32_t int_with(Draw&& draw, std::int32_t n) {
    constexpr std::int32_t top = 2147483647;
    if (n == 0) return 0;
    if (n == -top - 1) return -1 - draw();
    const std::int32_t m = n < 0 ? -n : n;
    const std::int32_t limit = top / m * m;
    std::int32_t d;
    do d = draw();
    while (d >= limit);
    const std::int32_t k = d % m + 1;
    return n < 0 ? -k : k;
}

}  // namespace zuv::random
