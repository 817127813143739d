// The slot table: language values kept alive in numbered slots, so that a number stored
// outside the language heap (in a native window's data) leads back to its value.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::slots {

// The block of slots: a collector root; free slots are integer! cells chaining the free list.
extern Cell table;
extern int32_t free_head;  // 0-based index of the first free slot, -1 when none

// Makes the table with 100 free slots.
void init();
// Stores a copy of the value in a free slot (the table doubles when full); gives its 1-based
// number.
int32_t alloc(const Cell* value);
// The cell in a slot (1-based), or null for a number outside the table.
Cell* get(int32_t slot);
// Frees a slot; slot 0 (and any number outside the table) is ignored.
void free(int32_t slot);
// How many slots the table has.
int32_t capacity();

}  // namespace zuv::slots
