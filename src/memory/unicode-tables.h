// Constant Unicode data written by tools/gen-unicode-tables.py into unicode-tables.cpp:
// display-width ranges, case-mapping pairs and the Windows-1251 upper half.
#pragma once
#include <array>
#include <cstdint>
#include <span>

namespace zuv::unicode_tables {

// Inclusive range of code points.
struct Range {
    uint32_t first;
    uint32_t last;
};

// A code point and the first code point of its case mapping.
struct CasePair {
    uint32_t code_point;
    uint32_t mapping;
};

// Sorted, non-overlapping, never adjacent.
extern const std::span<const Range> zero_width;
extern const std::span<const Range> wide;
extern const std::span<const Range> ambiguous;

// Sorted by code point; the BMP lists map within U+0000-U+FFFF and the astral lists above it.
extern const std::span<const CasePair> upper_bmp;
extern const std::span<const CasePair> lower_bmp;
extern const std::span<const CasePair> upper_astral;
extern const std::span<const CasePair> lower_astral;

// Code points of the bytes 80-FF of Windows-1251 (the undefined 98 stands for U+0098).
extern const std::array<uint32_t, 128> cp1251_high;

}  // namespace zuv::unicode_tables
