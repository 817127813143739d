// Tables shared by the deflate writer and reader: length and distance code bases with their
// extra bits, and bit reversal (Huffman codes travel most-significant bit first in a stream
// that is otherwise least-significant bit first).
#pragma once
#include <array>
#include <cstdint>

namespace zuv::compression::tables {

// Length symbols 257..285 and distance symbols 0..29.
inline constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint16_t distance_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                               33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                               1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
inline constexpr uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline constexpr uint32_t end_of_block = 256;
inline constexpr uint32_t max_match = 258;
inline constexpr uint32_t window = 32768;

inline constexpr std::array<uint8_t, 256> reversed_byte = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (i & (1u << b)) r |= 0x80u >> b;
        t[i] = static_cast<uint8_t>(r);
    }
    return t;
}();

inline constexpr uint32_t reverse16(uint32_t v) {
    return static_cast<uint32_t>(reversed_byte[v & 0xFF]) << 8 | reversed_byte[(v >> 8) & 0xFF];
}

}  // namespace zuv::compression::tables
