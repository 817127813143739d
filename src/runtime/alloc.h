// Tracked allocator: every block the runtime takes from the C heap is listed, so the
// normal end can free them all and a heap report can list them.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zuv::runtime {

struct alignas(16) TrackedBlock {
    TrackedBlock* prev;
    TrackedBlock* next;
    size_t size;  // size asked
};

struct TrackedList {
    TrackedBlock* first = nullptr;
    TrackedBlock* last = nullptr;
};

extern TrackedList tracked_list;

// Each fails with runtime error 94 "out of memory" when the heap refuses.
void* alloc(size_t size);
void* alloc_zeroed(size_t size);
void* realloc(void* block, size_t size);  // null allocates, size 0 frees and gives null
void free(void* block);
void free_all();

size_t tracked_count();

}  // namespace zuv::runtime
