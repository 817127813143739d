// tuple!: 3 to 12 bytes inside the cell, written 1.2.3: versions, addresses and colours
// (R.G.B with an optional fourth byte of transparency). The length sits in header bits
// 19-22; byte 1 is the lowest-addressed byte of data word 1; bytes past the length are 0.
#pragma once
#include <cstdint>
#include <span>

#include "memory/cell.h"

namespace zuv::tuple {

constexpr int32_t max_length = 12;
constexpr uint32_t length_shift = 19;
constexpr uint32_t length_mask = 0xFu << length_shift;

inline int32_t length(const Cell* c) { return static_cast<int32_t>((c->header & length_mask) >> length_shift); }
inline void set_length(Cell* c, int32_t n) {
    c->header = (c->header & ~length_mask) | (static_cast<uint32_t>(n) << length_shift);
}
// Byte i (0-based) of the tuple.
inline uint8_t get(const Cell* c, int32_t i) {
    uint32_t w = i < 4 ? c->data1 : i < 8 ? c->data2 : c->data3;
    return static_cast<uint8_t>(w >> ((i & 3) * 8));
}
inline void put(Cell* c, int32_t i, uint8_t b) {
    uint32_t& w = i < 4 ? c->data1 : i < 8 ? c->data2 : c->data3;
    uint32_t shift = static_cast<uint32_t>(i & 3) * 8;
    w = (w & ~(0xFFu << shift)) | (static_cast<uint32_t>(b) << shift);
}

// A tuple cell of a length (3-12) and its data words.
void make_at(Cell* c, int32_t length, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* push(int32_t length, uint32_t w1, uint32_t w2, uint32_t w3);
// Pushes a tuple of the integers' low bytes; fewer than 3 are padded with 0 (at most 12).
Cell* from_ints(std::span<const int32_t> bytes);
// A 3-byte tuple, or a 4-byte one when alpha is not -1.
void from_rgba(Cell* c, int32_t r, int32_t g, int32_t b, int32_t alpha);
// The first up to 12 bytes of a binary!, padded to 3.
void from_binary(Cell* c, const Cell* binary);
// A hexadecimal colour: 3 digits (each doubled), 6 or 8. False for another length, a
// control character or a non-hexadecimal digit (the caller raises script/invalid-data).
bool from_hex(Cell* c, const char* digits, int32_t count);
// The issue!'s text as a colour; script/invalid-data with the issue when it is not one.
void from_issue(Cell* c, const Cell* issue);
// The write half of a path: an integer! (clamped to 0-255) at a position 1-length, or
// none! cutting the tuple there (never below 3 bytes).
void set_byte(Cell* c, const Cell* element, const Cell* value);
// Byte-wise arithmetic on two values (one a tuple!); the result replaces left.
Cell* do_math(Cell* left, Cell* right, int32_t op);
bool zero_q(const Cell* c);
void init();

}  // namespace zuv::tuple
