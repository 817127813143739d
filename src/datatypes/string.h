// string!: code points in units of 1, 2 or 4 bytes per buffer, widened in place when a
// wider code point arrives. These helpers build all the text of the system (forming,
// molding, errors). Buffers move on any allocation: functions that take a buffer give
// back the one to use afterwards.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/series.h"
#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::string {

using memory::SeriesBuffer;

void make_at(Cell* c, int32_t capacity, Type t = Type::string);
void make_at_bytes(Cell* c, int32_t n, uint32_t unit, Type t = Type::string);
Cell* push(const Cell* s);
// A new empty string pushed on the argument stack.
Cell* push_new(int32_t capacity);

inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return static_cast<uint32_t>(p[0] | (p[1] << 8));
        default: return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24));
    }
}
inline void put_char(uint8_t* p, uint32_t unit, uint32_t c) {
    switch (unit) {
        case 1: p[0] = static_cast<uint8_t>(c); break;
        case 2: p[0] = static_cast<uint8_t>(c); p[1] = static_cast<uint8_t>(c >> 8); break;
        default:
            p[0] = static_cast<uint8_t>(c);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c >> 16);
            p[3] = static_cast<uint8_t>(c >> 24);
    }
}

// Widens a buffer in place to a wider unit (it may move); gives the buffer to use.
SeriesBuffer* widen(SeriesBuffer* b, uint32_t unit);

SeriesBuffer* append_char(SeriesBuffer* b, uint32_t code_point);
SeriesBuffer* insert_char(SeriesBuffer* b, int32_t position, uint32_t code_point);
SeriesBuffer* poke_char(SeriesBuffer* b, int32_t position, uint32_t code_point);
inline void append_char(Cell* s, uint32_t code_point) { append_char(series::buffer(s), code_point); }

void append_c_string(Cell* s, const char* bytes);
void append_bytes(Cell* s, const uint8_t* bytes, int32_t n);
void append_ascii(Cell* s, std::string_view text);
// Appends UTF-8 text (a malformed sequence appends U+FFFD).
void append_utf8(Cell* s, std::string_view text);

// Copies the source's code points from its head (at most part; negative: all) into the
// target: mode 0 appends, 1 inserts at offset, 2 overwrites from offset.
void concatenate(Cell* target, Cell* source, int32_t part, int32_t offset, bool per_char, int mode);

uint32_t char_at(const Cell* s, int32_t position);
uint8_t* head_ptr(Cell* s);
int32_t char_count(Cell* s);
bool at_tail_q(const Cell* s);
void truncate(SeriesBuffer* b, int32_t n);
void reset(Cell* s);
int32_t index_of_char(Cell* s, uint32_t code_point);
bool has_char_q(Cell* s, uint32_t code_point, int32_t step, bool case_sensitive);
bool starts_with_cstring_q(Cell* s, const char* bytes);
void remove_units(Cell* s, int32_t position, int32_t n);

// UTF-8 (encoding 0) or UTF-16LE (encoding -1) text into a new string in the cell.
// Malformed text raises access/invalid-utf8.
void load_at(Cell* c, const uint8_t* bytes, size_t count, int encoding, Type t = Type::string);
Cell* load_push(const uint8_t* bytes, size_t count);
// The string's text from its head, as UTF-8 (for the operating system and for tests).
std::string to_utf8(const Cell* s);

void init();

}  // namespace zuv::string
