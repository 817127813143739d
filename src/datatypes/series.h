// Series cells: data word 1 the head index (in units, signed), data word 2 the node of the
// buffer, data word 3 datatype-specific. Positions are head-relative unit counts; the unit
// size comes from the buffer. series! is the abstract datatype whose actions every concrete
// series inherits.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::series {

// The data words of every series: the head index (word 1) and the buffer's node (word 2).
inline Ref node(const Cell* s) { return s->data2; }
inline memory::SeriesBuffer* buffer(const Cell* s) { return memory::buffer_of(node(s)); }
inline uint32_t unit_shift(uint32_t unit) { return unit == 16 ? 4 : unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0; }
inline int32_t head(const Cell* s) { return s->int1(); }
inline void set_head(Cell* s, int32_t index) { s->data1 = static_cast<uint32_t>(index); }
// Units from the first unit to the tail, ignoring the head index.
inline int32_t buffer_length(const Cell* s) {
    memory::SeriesBuffer* b = buffer(s);
    return static_cast<int32_t>(b->used_bytes() >> unit_shift(b->unit()));
}
// Units from the head (from index 0 with from_start; a negative head counts as 0) to the
// tail. A head past the tail is first set back to the tail, and 0 is given.
inline int32_t get_length(Cell* s, bool from_start) {
    int32_t n = buffer_length(s);
    if (s->int1() > n) {
        s->data1 = static_cast<uint32_t>(n);
        return 0;
    }
    return from_start || s->int1() < 0 ? n : n - s->int1();
}
inline int32_t length(Cell* s) { return get_length(s, false); }
inline bool at_tail_q(const Cell* s) { return s->int1() >= buffer_length(s); }
inline uint8_t* unit_address(const Cell* s, int32_t index) {
    memory::SeriesBuffer* b = buffer(s);
    return b->head_ptr() + (static_cast<intptr_t>(index) << unit_shift(b->unit()));
}
inline uint8_t* head_address(const Cell* s) { return unit_address(s, s->int1()); }

inline void make_at(Cell* c, Type t, Ref node, int32_t head = 0) {
    cell::make(c, t, static_cast<uint32_t>(head), node, 0);
}

// Adds n to the head index when the new position is at or before the tail; true when that
// position (taken or not) is at or past the tail.
bool advance(Cell* s, int32_t n);

// The element at an absolute position as a value: the cell itself for the block family and
// map!, an integer! for binary!, the element type's value for vector!, a char! otherwise.
// out may be s itself.
void read_element(Cell* s, int32_t position, Cell* out);

// A /part value as a count from the head: an integer!, or a position in the same series
// (same datatype and buffer); anything else raises script/invalid-refine-arg.
int32_t part_count(const Cell* s, const Cell* part);

// The units a signed /part count covers from the head index `head` of a series `length`
// units long: a negative count reaches back before the head (to the first unit at most, and
// `passed_first` tells that it wanted more), a positive one stops at the tail. Every int32
// count is safe: nothing is negated or added in 32 bits.
struct PartRange {
    int32_t start;
    int32_t count;
    bool passed_first;
};
PartRange part_range(int32_t head, int32_t count, int32_t length);

// Tells the series' owner about a change (the action's present-tense word before it); true
// when an owner was told, and then notify_after tells it again (the past-tense word).
bool notify_before(Cell* s, const Cell* action_word, Cell* value, int32_t index, int32_t part);
void notify_after(bool told, Cell* s, const Cell* action_word, Cell* value, int32_t index, int32_t part);

// The actions of series! that concrete series build on. Each works in place on the series
// cell (a frame slot) and gives the result cell.
Cell* copy(Cell* s, Cell* result, Cell* part);
Cell* pick(Cell* s, int32_t index, Cell* index_cell);
Cell* poke(Cell* s, int32_t index, Cell* value, Cell* index_cell);
Cell* remove(Cell* s, Cell* part, Cell* key);
// The taken units as a new series of the same datatype, written into s; none when the
// series is empty from its head.
Cell* take(Cell* s, Cell* part, bool deep, bool last);
// The field owned: the owner recorded for the value's buffer (none when there is none);
// any other field raises internal/not-done. Bitsets share them.
Cell* reflect(Cell* s, int32_t field);
// The field owned: none removes the ownership, a block [owner word] binds the value to it.
Cell* modify(Cell* s, int32_t field, Cell* value, bool case_);

void init();

}  // namespace zuv::series
