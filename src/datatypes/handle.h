// handle!: an operating-system object carried through the language as an opaque value with
// a subtype (fd, monitor, window, font, rich-text). A handle's value is a 32-bit index
// into the handle registry (or a small OS number such as a file descriptor), never a
// pointer. triple!: an internal value of three 32-bit integers (PARSE keeps its frames in
// them), with a printed form only.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::handle {

namespace subtype {
constexpr int32_t none = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5;
}

inline uint32_t value_of(const Cell* c) { return c->data2; }
inline int32_t subtype_of(const Cell* c) { return c->int1(); }
// Data word 3: the external-resource record that frees what the handle's value names when the
// handle is collected; -1 for a handle that keeps none.
inline int32_t record_of(const Cell* c) { return c->int3(); }
inline void set_record(Cell* c, int32_t record) { c->data3 = static_cast<uint32_t>(record); }

Cell* make_at(Cell* c, uint32_t value, int32_t subtype);
Cell* make_in(Cell* block, uint32_t value, int32_t subtype);
Cell* box(uint32_t value, int32_t subtype);
Cell* push(uint32_t value, int32_t subtype);

// The registry that handle values index: an object enters and gets an index (never 0,
// which stands for no object); the index finds it again until it leaves.
uint32_t enter(uintptr_t object);
uintptr_t object(uint32_t index);  // 0 for an index that holds nothing
void leave(uint32_t index);

void init();

}  // namespace zuv::handle

namespace zuv::triple {

// Component i (1-3) of a triple.
inline int32_t get(const Cell* c, int32_t i) { return i == 1 ? c->int1() : i == 2 ? c->int2() : c->int3(); }
inline void set(Cell* c, int32_t i, int32_t v) {
    (i == 1 ? c->data1 : i == 2 ? c->data2 : c->data3) = static_cast<uint32_t>(v);
}

Cell* make_at(Cell* c, int32_t a, int32_t b, int32_t c3);
Cell* make_in(Cell* block, int32_t a, int32_t b, int32_t c3);
Cell* push(int32_t a, int32_t b, int32_t c3);

void init();

}  // namespace zuv::triple
