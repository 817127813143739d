// Case folding: one upper-case and one lower-case mapping of code points for the whole system;
// every case-insensitive comparison compares upper-case forms. init fills the tables at start-up.
#pragma once
#include <cstdint>
#include <string_view>

namespace zuv::case_folding {

constexpr int32_t lower = 0;
constexpr int32_t upper = 1;

// Builds the two 65,536-entry tables of the code points below U+10000 from the constant pair
// lists. Called once at start-up, before any text is compared; calling it again is harmless.
void init();

// The code point mapped to upper case (mode 1) or lower case (mode 0); itself when it has no
// mapping. Below U+10000 this is a table lookup, which needs init to have run.
uint32_t change_char(uint32_t code_point, int32_t mode);

uint32_t to_upper(uint32_t code_point);

// True when two texts are equal with ASCII letters compared case-insensitively (names,
// codes and keywords, which need no table).
inline bool same_ascii_ci(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// Its upper-case form when that differs, else its lower-case form.
uint32_t swap_case(uint32_t code_point);

}  // namespace zuv::case_folding
