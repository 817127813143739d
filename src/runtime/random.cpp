// The pseudo-random generator, its bounded draw and the secure draw from getrandom(2).
// Every right shift of the generator copies the sign bit ("sar"), which keeps its sequence
// what seeded scripts have always drawn, not the reference twister's.
#include "runtime/random.h"


#include <sys/random.h>

#include <array>
#include <cerrno>

#include "runtime/fatal.h"

namespace zuv::random {

namespace {

constexpr int state_words = 624;
constexpr int shift_distance = 397;
constexpr std::uint32_t seed_multiplier = 1812433253u;
constexpr std::uint32_t twist_xor = 0x9908B0DFu;

constexpr std::uint32_t sar(std::uint32_t x, int k) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(x) >> k);
}

class Generator {
public:
    constexpr explicit Generator(std::int32_t value) { seed(value); }

    constexpr void seed(std::int32_t value) {
        state_[0] = static_cast<std::uint32_t>(value);
        for (int i = 1; i < state_words; ++i) {
            std::uint32_t prev = state_[i - 1];
            state_[i] = seed_multiplier * (prev ^ sar(prev, 30)) + static_cast<std::uint32_t>(i);
        }
        // Not state_words: the words just seeded are drawn before the first twist.
        index_ = 0;
    }

    std::int32_t next() {
        if (index_ == state_words) [[unlikely]]
            twist();
        std::uint32_t y = state_[index_++];
        y ^= sar(y, 11);
        y ^= (y << 7) & 0x9D2C5680u;
        y ^= (y << 15) & 0xEFC60000u;
        y ^= sar(y, 18);  // a bit XORed with its own copy: the sign is always clear
        return static_cast<std::int32_t>(y);
    }

private:
    void twist() {
        for (int i = 0; i < state_words; ++i) {
            std::uint32_t y = (state_[i] & 0x80000000u) | (state_[(i + 1) % state_words] & 0x7FFFFFFFu);
            state_[i] = state_[(i + shift_distance) % state_words] ^ sar(y, 1) ^ ((y & 1) ? twist_xor : 0);
        }
        index_ = 0;
    }

    std::array<std::uint32_t, state_words> state_{};
    int index_ = 0;
};

constinit Generator generator{start_seed};
}  // namespace

void init() { init_state(); }

void init_state() {
    generator.seed(start_seed);
}

std::uint32_t hash_seed() { return hash_seed_start; }

void seed(std::int32_t value) { generator.seed(value); }

std::int32_t next() { return generator.next(); }

std::int32_t secure_int() {
    std::uint32_t word = 0;
    for (;;) {
        ssize_t n = ::getrandom(&word, sizeof word, 0);
        if (n == static_cast<ssize_t>(sizeof word)) break;
        // A predictable number must never pass for a secure one: with no working source
        // the program stops rather than draw from nothing.
        if (n < 0 && errno != EINTR) runtime::quit(runtime::unknown_error, ZUV_CALLER_ADDRESS());
    }
    return static_cast<std::int32_t>(word & 0x7FFFFFFFu);
}

std::int32_t int_(bool secure, std::int32_t n) {
    return secure ? int_with(secure_int, n) : int_with(next, n);
}

}  // namespace zuv::random
