// string!: code points in units of 1, 2 or 4 bytes per buffer, widened in place when a
// wider code point arrives. These helpers build all the text of the system (forming,
// molding, errors). Buffers move on any allocation: functions that take a buffer give
// back the one to use afterwards, and nothing here keeps a pointer into a buffer across one.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/series.h"
#include "memory/action-types.h"
#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::string {

using memory::SeriesBuffer;

// The string family: string!, file!, url!, tag!, email!, ref!.
constexpr bool family_q(Type t) { return in_family(family::any_string, t); }

// ---------------------------------------------------------------------------------------------
// Storage

// An empty string of unit 1 with room for capacity units (0 gives 1); head 0, word 3 zero.
void make_at(Cell* c, int32_t capacity, Type t = Type::string);
// An empty string with room for n units of the given unit (0 gives 16 bytes' worth).
void make_at_bytes(Cell* c, int32_t n, uint32_t unit, Type t = Type::string);
Cell* push(const Cell* s);
// A new empty string pushed on the argument stack.
Cell* push_new(int32_t capacity, Type t = Type::string);

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

// Widens a buffer in place to a wider unit (it may move); gives the buffer to use. A narrower
// or equal unit leaves it as it is.
SeriesBuffer* widen(SeriesBuffer* b, uint32_t unit);

// Appending at the tail keeps unit 1 only up to 0x7F (0x80-0xFFFF widen to 2, above to 4);
// writing at a position (insert_char, poke_char) keeps unit 1 up to 0xFF. Positions count
// units from the buffer's first unit.
SeriesBuffer* append_char(SeriesBuffer* b, uint32_t code_point);
SeriesBuffer* insert_char(SeriesBuffer* b, int32_t position, uint32_t code_point);
SeriesBuffer* poke_char(SeriesBuffer* b, int32_t position, uint32_t code_point);
inline void append_char(Cell* s, uint32_t code_point) { append_char(series::buffer(s), code_point); }

void append_bytes(Cell* s, const uint8_t* bytes, int32_t n);
void append_ascii(Cell* s, std::string_view text);
// Appends UTF-8 text (a malformed sequence appends U+FFFD).
void append_utf8(Cell* s, std::string_view text);
// Appends code points at the tail with the widening rule of append_char, growing once.
void append_chars(Cell* s, std::u32string_view text);

// Copies the source's code points from its head (at most part; negative: all) into the
// target: mode 0 appends, 1 inserts at offset (opening a gap), 2 overwrites from offset,
// extending the tail only when the written end passes it. A narrower target is widened; a
// narrower source is widened in place too (its text unchanged) unless per_char is set, in
// which case the code points are written one by one. A symbol! source gives its name's text.
// Source and target may be the same series.
void concatenate(Cell* target, Cell* source, int32_t part, int32_t offset, bool per_char, int mode);

// The code point at an absolute position (from the first unit, not from the head).
uint32_t char_at(const Cell* s, int32_t position);
// The head's address; a head past the tail is moved back to the tail first.
uint8_t* head_ptr(Cell* s);
// Length in code points from the head.
int32_t char_count(Cell* s);
bool at_tail_q(const Cell* s);
// Moves the tail back to n units when that shortens the buffer.
void truncate(SeriesBuffer* b, int32_t n);
// Empties the buffer: unit 1, head 0.
void reset(Cell* s);
// Offset from the head of the first unit equal to the code point, or -1.
int32_t index_of_char(Cell* s, uint32_t code_point);
// True when a unit at the head or at a multiple of step after it equals the code point
// (compared in upper case unless case_sensitive).
bool has_char_q(Cell* s, uint32_t code_point, int32_t step, bool case_sensitive);
// True when the string from its head begins with the bytes (code points above 0xFF never match).
bool starts_with_cstring_q(Cell* s, const char* bytes);
// Removes n units at an absolute position, moving the rest down.
void remove_units(Cell* s, int32_t position, int32_t n);
// Moves n units from the source's head to the target's head (inserted there), then removes
// them from the source.
void move_chars(Cell* source, Cell* target, int32_t n);
// Copies every code point of the source buffer into the target buffer (a new one when target
// is 0) at a wider unit, from the target's unit index position; the target's tail ends after
// them. Gives the target node.
Ref copy_widened(Ref source, Ref target, uint32_t unit, int32_t position);

// The code points of n units from an absolute position, copied out of the buffer (so callers
// may allocate while walking them). code_points(s) takes the head to the tail.
std::u32string code_points(const Cell* s, int32_t position, int32_t n);
std::u32string code_points(Cell* s);

// UTF-8 (encoding 0) or UTF-16LE (encoding -1) text into a new string in the cell; any other
// encoding raises script/invalid-arg. Malformed UTF-8, and UTF-16 with a high surrogate that
// no low one follows, raise access/invalid-utf8. The bytes must not lie in managed memory.
void load_at(Cell* c, const uint8_t* bytes, size_t count, int encoding, Type t = Type::string);
// The same in a new cell at a block's tail, or pushed on the argument stack.
Cell* load_in(Cell* block, const uint8_t* bytes, size_t count, int encoding = 0);
Cell* load_push(const uint8_t* bytes, size_t count, int encoding = 0);
// The string's text from its head, as UTF-8 (code points above U+10FFFF give U+FFFD).
std::string to_utf8(const Cell* s);

// ---------------------------------------------------------------------------------------------
// Text helpers of forming, matching and parsing

// Two uppercase hexadecimal digits.
std::string_view byte_to_hex(uint8_t byte);
// Eight uppercase hexadecimal digits (a negative number padded with F); minimal drops the
// leading zeros and gives "00" for zero.
std::string to_hex_8(int32_t value, bool minimal);
// True when the code point at the head is in the bitset (a code point past its bits takes
// the complement flag).
bool head_in_bitset_q(Cell* s, const Cell* bitset);
// How many characters from `from` (before `end`, at most `most` unless it is negative) are
// in the bitset, counted in one pass over the units.
int32_t span_in_bitset(const Cell* s, int32_t from, int32_t end, int32_t most, const Cell* bitset);
// True when the input has "<" at its head and ">" right after as many code points as the
// tag is long.
bool angle_bracketed_q(Cell* input, Cell* tag);
// parse: true when the input matches the value at its head (a char!, a string-family
// value as a prefix, a tag! in its angle brackets).
bool match_value(Cell* input, Cell* value, int32_t op);
// -1, 0 or 1: the comparison of two string-family values (or a word or symbol, by its name)
// under a comparison code; in match mode a prefix test.
int32_t compare_op(Cell* a, Cell* b, int32_t op, bool match);

// ---------------------------------------------------------------------------------------------
// Actions that other datatypes and natives call

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                int32_t position, bool last, bool notify);
int32_t compare(Cell* a, Cell* b, int32_t op);
// append, insert and change: part limits the value's text (-1: all; for change, the units
// replaced), dup repeats it. append gives the series at its head (index 0); insert and
// change give it just after the text they wrote. Each tells the series' owner before and
// after the edit.
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// The append action of a string! with no /part or /dup for a char! or the text of a string
// (not a tag!) of the same unit, when its buffer has room at its unit and no owner: writes at
// the tail and puts the head at 0. False, with nothing done, when the action must take its
// whole way.
bool append_in_place(Cell* series, const Cell* value);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* find(Cell* series, Cell* value, const slotfn::FindOptions& options);
// Removes every code point of a set: tab, LF, CR and space by default (with null), else
// those of a string! or binary!, or the one of a char! or integer!.
void trim_chars(Cell* series, Cell* with);
// unique (8), union (9), intersect (10), exclude (11), difference (12) over strings: a new
// string pushed on the argument stack. b is null for unique; skip null without /skip.
Cell* set_op(Cell* a, Cell* b, int32_t op, bool case_, Cell* skip);

void init();

}  // namespace zuv::string
