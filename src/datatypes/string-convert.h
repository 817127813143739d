// Conversions between string cells and the text of the outside world: NUL-terminated UTF-8
// and UTF-16LE written in each cell's conversion buffer, UTF-8, UTF-16LE and Windows-1251
// loaded into string buffers, and the in-place widenings. The pure codecs are memory/unicode.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::string {

// The cell's conversion buffer (a unit-1 series in data word 3): made on first use, grown to
// n bytes when smaller, never shrunk. The address is valid until the next allocation. The cell
// itself must not lie in a series buffer (an argument-stack cell or a C++ local is fine): the
// allocation may move such a buffer under it.
uint8_t* conversion_buffer(Cell* s, uint32_t n);
inline Ref conversion_node(const Cell* s) { return s->data3; }
inline void set_conversion_node(Cell* s, Ref node) { s->data3 = node; }

}  // namespace zuv::string

namespace zuv::unicode {

// In every count argument -1 means the whole string from its head; a larger count is cut to
// the string's length. Results written in the conversion buffer stay valid until the next
// conversion of the same cell, and only until the next allocation as addresses.

// NUL-terminated UTF-8 of count code points from the head; count becomes the byte count. With
// crlf every LF is written CR LF. A code point above U+10FFFF raises script/invalid-char.
const char* to_utf8_cstring(Cell* s, int32_t& count);
const char* to_utf8_cstring_crlf(Cell* s, int32_t& count, bool crlf);

// UTF-8 of count code points at dest (which has room for them); gives the byte count, a NUL
// written after them when asked. The bounded form writes at most room bytes: the last
// sequence may be cut to its leading bytes.
int32_t write_utf8(Cell* s, uint8_t* dest, int32_t count, bool nul);
int32_t write_utf8_bounded(Cell* s, uint8_t* dest, int32_t room, int32_t count, bool nul);

// NUL-terminated UTF-16LE of count code points, CR before every LF with crlf; count becomes
// the number of 16-bit units. Null (and count 0) when a code point lies above U+10FFFF.
const char16_t* to_utf16(Cell* s, int32_t& count, bool crlf);
const char16_t* to_utf16_crlf(Cell* s);

// UTF-8 into a buffer: a new unit-1 one when dest is 0, else the given buffer, whose text is
// replaced (written from its first unit, at its unit, widened as needed). A sequence cut short
// at the end stops the loading and its byte count goes to bytes_left (left as it was when
// every byte was used). Malformed UTF-8 raises access/invalid-utf8. Gives the buffer's node.
// The bytes must not lie in managed memory.
Ref load_utf8(const uint8_t* bytes, size_t count, Ref dest, bool crlf, size_t* bytes_left);
Ref load_utf8_into(const uint8_t* bytes, size_t count, Cell* s, size_t* bytes_left);
Ref load_utf8_new(const uint8_t* bytes, size_t count);

// UTF-16LE units (null: the dest cell's conversion buffer) into a new buffer (dest null) or
// the dest cell's buffer, whose text is replaced and whose unit becomes the narrowest that
// holds the text. With cr every CR unit is dropped. A high surrogate that no low one follows
// raises access/invalid-utf8 with its bytes.
Ref load_utf16(const uint8_t* units, size_t count, Cell* dest, bool cr);

// Windows-1251 bytes (null: the dest cell's conversion buffer), with the CR LF rule when
// asked, into a new buffer or the dest cell's buffer (text replaced, widened as needed).
Ref load_cp1251(const uint8_t* bytes, size_t count, Cell* dest, bool crlf);

// The same buffer (possibly moved) at the wider unit, its code points unchanged.
memory::SeriesBuffer* widen_1_to_4(memory::SeriesBuffer* b);

}  // namespace zuv::unicode
