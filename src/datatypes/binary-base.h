// binary! bytes for the natives: making a binary! from plain bytes, reading one's bytes, and
// the text encodings of enbase and debase in bases 2, 16, 58 and 64. The codecs work on plain
// C++ buffers and allocate no managed memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "memory/cell.h"

namespace zuv::binary {

// Pushes a new binary! holding a copy of the bytes, which must not lie in managed memory.
Cell* load(const uint8_t* bytes, size_t count);
inline Cell* load(std::span<const uint8_t> bytes) { return load(bytes.data(), bytes.size()); }
// The bytes from the head to the tail (a head past the tail gives none); valid until the
// next allocation.
std::span<const uint8_t> bytes_of(const Cell* b);

// The bytes of the data a native works on, copied out: a binary!'s from its head, or the
// UTF-8 of a string-family value from its head; none for another datatype.
std::optional<std::vector<uint8_t>> data_bytes(const Cell* value);

// Text length of n bytes in a base (2, 16, 58 or 64); the base 58 figure is an upper bound.
uint64_t encoded_size(uint64_t n, int32_t base);

std::string encode_base2(std::span<const uint8_t> bytes);
std::string encode_base16(std::span<const uint8_t> bytes);
std::string encode_base58(std::span<const uint8_t> bytes);
std::string encode_base64(std::span<const uint8_t> bytes);

// Decoders of text given as code points: ";" starts a comment to the end of the line, blanks
// are skipped, and any other character outside the alphabet fails (no value).
std::optional<std::vector<uint8_t>> decode_base2(std::u32string_view text);
std::optional<std::vector<uint8_t>> decode_base16(std::u32string_view text);
std::optional<std::vector<uint8_t>> decode_base58(std::u32string_view text);
std::optional<std::vector<uint8_t>> decode_base64(std::u32string_view text);

}  // namespace zuv::binary
