// Tracked allocator: a doubly linked list of C-heap blocks with a header in front.
#include "runtime/alloc.h"

#include <cstdlib>
#include <cstring>

#include "runtime/fatal.h"
#include "runtime/print.h"

namespace zuv::runtime {

TrackedList tracked_list;

namespace {

TrackedBlock* header_of(void* block) { return static_cast<TrackedBlock*>(block) - 1; }

void link(TrackedBlock* b) {
    b->next = nullptr;
    b->prev = tracked_list.last;
    if (tracked_list.last) tracked_list.last->next = b;
    else tracked_list.first = b;
    tracked_list.last = b;
}

void unlink(TrackedBlock* b) {
    if (b->prev) b->prev->next = b->next;
    else tracked_list.first = b->next;
    if (b->next) b->next->prev = b->prev;
    else tracked_list.last = b->prev;
}

[[noreturn, gnu::cold, gnu::noinline]] void heap_refused() {
    quit(94, ZUV_CALLER_ADDRESS());
}

}  // namespace

void* alloc(size_t size) {
    auto* b = static_cast<TrackedBlock*>(std::malloc(sizeof(TrackedBlock) + size));
    if (!b) [[unlikely]] heap_refused();
    b->size = size;
    link(b);
    return b + 1;
}

void* alloc_zeroed(size_t size) {
    void* p = alloc(size);
    std::memset(p, 0, size);
    return p;
}

void* realloc(void* block, size_t size) {
    if (!block) return alloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    TrackedBlock* old = header_of(block);
    unlink(old);
    auto* b = static_cast<TrackedBlock*>(std::realloc(old, sizeof(TrackedBlock) + size));
    if (!b) [[unlikely]] {
        link(old);  // the old block is still valid and still ours
        heap_refused();
    }
    b->size = size;
    link(b);
    return b + 1;
}

void free(void* block) {
    if (!block) return;
    TrackedBlock* b = header_of(block);
    unlink(b);
    std::free(b);
}

void free_all() {
    TrackedBlock* b = tracked_list.first;
    while (b) {
        TrackedBlock* next = b->next;
        std::free(b);
        b = next;
    }
    tracked_list.first = tracked_list.last = nullptr;
}

size_t tracked_count() {
    size_t n = 0;
    for (TrackedBlock* b = tracked_list.first; b; b = b->next) ++n;
    return n;
}

}  // namespace zuv::runtime
