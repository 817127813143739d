// The managed arena: one reserved 4 GiB region holding every node, series buffer and
// fixed buffer. Managed memory is referred to by 32-bit byte offsets from the arena's base
// (compressed references); 0 is the null reference.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zuv {

using Ref = uint32_t;

namespace memory {

extern uint8_t* arena_base;

inline uint8_t* at(Ref r) { return arena_base + r; }
template <class T>
inline T* ptr(Ref r) { return reinterpret_cast<T*>(arena_base + r); }
inline Ref ref(const void* p) {
    return static_cast<Ref>(static_cast<const uint8_t*>(p) - arena_base);
}
// True when the address lies inside the arena's reserved region.
bool in_arena(const void* p);

constexpr size_t arena_size = size_t(4) << 30;
constexpr size_t page_size = 4096;

// Reserves the region once; later calls do nothing.
void arena_init();
// Page-granular blocks, committed read-write; null when the arena is exhausted or the
// system refuses to commit. The size is rounded up to whole pages. A block need not be
// cleared: it may reuse pages given back before.
void* arena_alloc(size_t bytes);
// Gives a block back; false when the system refused to release its pages. A bounded
// amount of given-back pages stays committed for reuse.
bool arena_free(void* block, size_t bytes);
// Bytes of address space handed out and not yet given back.
size_t arena_used();
// Bytes given back but still committed, kept for the next requests.
size_t arena_idle();

}  // namespace memory
}  // namespace zuv
