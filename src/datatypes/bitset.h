// bitset!: a set of non-negative integers (in practice code points) kept as bits in a byte
// series, bit n under 0x80 >> n % 8 of byte n / 8. A flag on the buffer makes every number
// past the stored bits a member, so a complemented set is infinite.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::bitset {

// The buffer flag of a complemented set.
constexpr uint32_t complemented = 0x00080000;

// The data word: the node of the byte buffer (data word 2, as in a series).
inline Ref node_of(const Cell* bits) { return bits->data2; }
inline memory::SeriesBuffer* buffer(const Cell* bits) { return memory::buffer_of(node_of(bits)); }
inline bool complemented_q(const Cell* bits) { return buffer(bits)->flags & complemented; }
// The first stored byte and the one past the last (valid until the next allocation).
inline uint8_t* get_bits(const Cell* bits) { return buffer(bits)->head_ptr(); }
inline uint8_t* get_tail(const Cell* bits) { return buffer(bits)->tail_ptr(); }
inline int64_t stored_bits(const Cell* bits) { return int64_t(buffer(bits)->used_bytes()) * 8; }
inline bool beyond_q(const Cell* bits, int64_t n) { return n >= stored_bits(bits); }
// Membership: the stored bit, or past the stored bits the complement flag. A negative
// number is never a member.
bool member_q(const Cell* bits, int64_t n);

// What process does with each number a value names.
enum Op : int32_t { op_highest = 0, op_set = 1, op_test = 2, op_clear = 3 };
// Which error an unsupported value raises: script/bad-make-arg, script/bad-to-arg, or
// script/invalid-arg.
enum Mode : int32_t { mode_make = 0, mode_to = 1, mode_action = 2 };

// Applies the op to every number the value names: a char! (its code point), an integer!, a
// float! (truncated), a string! (each code point from its head), a block! (each item; an
// integer! or char! item, the word -, and an item of the same type name a range). Gives
// the highest number for op_highest (-1 when none), 1 or 0 for op_test (all members or
// not), else 0. Setting a number past a plain set's bits, or clearing one past a
// complemented set's, grows the storage (which may move buffers; bits should be a cell the
// collector sees). Raises script/out-of-range for a negative number (testing finds it
// absent), script/invalid-arg or script/past-end for a bad range, internal/not-done for a
// binary!, and the mode's error for anything else.
int64_t process(const Cell* value, Cell* bits, int32_t op, int32_t mode);
void process_range(Cell* bits, int64_t low, int64_t high, int32_t op);
// Grows the storage so that bit n is stored, the new bytes all members (0xFF) for a
// complemented set and none (0x00) for a plain one.
void ensure_bit(Cell* bits, int64_t n);
void invert_bytes(Cell* bits);

// A new bitset into out from a make or to spec (mode_make or mode_to).
Cell* make_from(Cell* out, const Cell* spec, int32_t mode);
// The set operation (op codes 5 or~, 6 and~, 7 xor~, 8 unique, 9 union, 10 intersect,
// 11 exclude, 12 difference) on the two arguments of the current frame, into its result slot.
void do_bitwise(int32_t op);
Cell* push(const Cell* bits);

void init();

}  // namespace zuv::bitset
