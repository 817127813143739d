// binary!: a series of raw bytes (unit 1) sharing the series machinery of string!, with its
// own conversions, its #{...} text, byte-wise logic and the byte helpers that I/O, checksums,
// compression and the natives build binaries with. Buffers move on any allocation: bytes
// handed to these helpers must not lie in managed memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "datatypes/binary-base.h"
#include "datatypes/series.h"
#include "memory/cell.h"

namespace zuv::binary {

// Bytes from the head to the tail; a head past the tail is moved back to it.
int32_t get_length(Cell* b);
// The address of the head byte, valid until the next allocation.
inline uint8_t* get_head(const Cell* b) { return series::head_address(b); }
// The byte at an offset from the start of the buffer (not from the head).
inline uint8_t get_byte(const Cell* b, int32_t offset) { return series::unit_address(b, offset)[0]; }

// An empty binary with room for capacity bytes; the cell stays unset while the buffer is made.
void make_at(Cell* c, int32_t capacity);
// Pushes a copy of a binary cell.
Cell* push(const Cell* b);
// A new binary holding a copy of the bytes, appended to a block (or pushed when block is null).
Cell* load_in(Cell* block, const uint8_t* bytes, size_t count);

// Grows the binary by n bytes copied at its old tail; gives their address in the buffer.
uint8_t* append_bytes(Cell* b, const uint8_t* bytes, size_t n);
// Opens room for n bytes at the head and copies them there.
void insert_bytes(Cell* b, const uint8_t* bytes, size_t n);
// Appends four bytes, the most significant first.
void append_int32_be(Cell* b, int32_t value);

// Replaces `removed` units at an absolute unit position of any series with dup copies of a
// run of bytes (a whole number of units), moving the rest; the buffer grows to twice its size
// when that is enough, else to the size needed. Sizes past 32 bits raise internal/no-memory
// before anything changes. With words, the owner hears of the change before and after. The
// run must not lie in managed memory.
struct Notice {
    const Cell* before = nullptr;  // the action's word, present and past forms
    const Cell* after = nullptr;
    Cell* value = nullptr;
};
void splice(Cell* s, int32_t at, int32_t removed, std::span<const uint8_t> run, int32_t dup, Notice notice = {});

// The append, insert and change actions once the value has become a run of units: append
// writes at the tail and gives the series at its head; insert writes at the head and gives
// the series just past the new units; change replaces from the head the /part count of units
// (part >= 0) or as many as it writes, and gives the series past them. A head past the tail
// counts as the tail.
enum class Edit { append, insert, change };
Cell* edit(Cell* s, Edit kind, Cell* value, std::span<const uint8_t> run, int32_t dup, int32_t part);

// The bytes of a value, appended to out: a char!'s UTF-8, an integer! from -128 to 255 as
// one byte, a binary!'s bytes, a tuple!'s bytes, a text's UTF-8, a block's elements in turn
// (nested blocks too). A limit of 0 or more cuts what is taken (bytes of a binary or tuple,
// code points of a text, elements of a block). Anything else is formed when may_form, else
// raises script/bad-to-arg with binary!. A block that contains itself raises internal/no-cycle.
void from_value(std::vector<uint8_t>& out, const Cell* value, int32_t limit, bool may_form);

// Compares the binary's bytes from its head with another binary's, or with the UTF-8 of a
// text: -1, 0 or 1 under a comparison code, -2 for any other value. In match mode the other
// value is a prefix to find at the head.
int32_t compare_bytes(Cell* b, Cell* other, int32_t op, bool match);
// The byte poke stores: an integer! or char! cut to its low 8 bits; script/invalid-arg else.
uint8_t poke_byte(const Cell* value);
// The issue's text read as base-16 digits into a new binary pushed on the argument stack;
// script/invalid-data with the issue when the text is not hexadecimal.
Cell* from_issue(const Cell* issue);

// Actions other datatypes call.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace zuv::binary
