// Sorting of fixed-size records in one contiguous area, driven by a compare callback: a
// stable merge sort (a powersort over natural runs) and an in-place unstable sort that
// first gathers what is already ordered. Neither looks inside the records.
#pragma once
#include <cstdint>

#include "memory/arena.h"

namespace zuv::sorting {

// Greater than 0 when record a must come after record b. arg1 and arg2 are passed through.
// The merge sort also hands the callback records that sit in its work buffer. A callback
// may throw (a language error): the sorts then leave every record in the area once, in
// some order, and free what they took.
using Compare = int32_t (*)(const uint8_t* a, const uint8_t* b, int32_t arg1, int32_t arg2);

void merge_sort(uint8_t* base, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare);
void quick_sort(uint8_t* base, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare);

// The same over records inside a series: the area starts offset bytes after the head of
// the node's buffer and is reached again after every callback, so a callback that
// evaluates code (and so may let the collector move the buffer) is safe. The callback's
// own two addresses are valid only until it allocates.
void merge_sort(Ref node, uint32_t offset, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare);
void quick_sort(Ref node, uint32_t offset, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare);

// Exchanges two records, 4 bytes at a time when the size is a multiple of 4.
void swap(uint8_t* a, uint8_t* b, int32_t size);

}  // namespace zuv::sorting
