// Series cells: data word 1 the head index (in units, signed), data word 2 the node of the
// buffer, data word 3 datatype-specific. Positions are head-relative unit counts; the unit
// size comes from the buffer.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::series {

inline memory::SeriesBuffer* buffer(const Cell* s) { return memory::buffer_of(s->data2); }
inline uint32_t unit_shift(uint32_t unit) { return unit == 16 ? 4 : unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0; }
inline int32_t head(const Cell* s) { return s->int1(); }
// Units from the first unit to the tail, ignoring the head index.
inline int32_t buffer_length(const Cell* s) {
    memory::SeriesBuffer* b = buffer(s);
    return static_cast<int32_t>(b->used_bytes() >> unit_shift(b->unit()));
}
// Units from the head to the tail; a head past the tail is moved back to it first.
inline int32_t length(Cell* s) {
    int32_t n = buffer_length(s);
    if (s->int1() > n) s->data1 = static_cast<uint32_t>(n);
    return n - s->int1();
}
inline bool at_tail_q(const Cell* s) { return s->int1() >= buffer_length(s); }
inline uint8_t* unit_address(const Cell* s, int32_t index) {
    memory::SeriesBuffer* b = buffer(s);
    return b->head_ptr() + (static_cast<intptr_t>(index) << unit_shift(b->unit()));
}
inline uint8_t* head_address(const Cell* s) { return unit_address(s, s->int1()); }

inline void make_at(Cell* c, Type t, Ref node, int32_t head = 0) {
    cell::make(c, t, static_cast<uint32_t>(head), node, 0);
}

}  // namespace zuv::series
