// The managed arena: address space reserved once, handed out in whole pages by first fit
// over a list of free ranges; pages are committed when handed out and returned to the
// system when given back.
#include "memory/arena.h"

#include <map>

#include "runtime/platform.h"

namespace zuv::memory {

uint8_t* arena_base = nullptr;

namespace {

// The low 256 MiB are never handed out: no managed object has offset 0, and the small
// integers that fill machine stacks are never taken for node references by the
// collector's conservative stack scan.
constexpr size_t arena_floor = size_t(256) << 20;

size_t high_water = arena_floor;
size_t used = 0;
std::map<size_t, size_t> free_ranges;  // offset -> size, coalesced

size_t pages(size_t bytes) { return (bytes + page_size - 1) & ~(page_size - 1); }

}  // namespace

bool in_arena(const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return arena_base && b >= arena_base && b < arena_base + arena_size;
}

void arena_init() {
    if (arena_base) return;
    arena_base = static_cast<uint8_t*>(platform::reserve(arena_size));
    high_water = arena_floor;
    used = 0;
    free_ranges.clear();
}

void* arena_alloc(size_t bytes) {
    if (!arena_base || bytes == 0) return nullptr;
    size_t size = pages(bytes);
    size_t offset = 0;
    bool found = false;
    for (auto it = free_ranges.begin(); it != free_ranges.end(); ++it) {
        if (it->second >= size) {
            offset = it->first;
            size_t rest = it->second - size;
            free_ranges.erase(it);
            if (rest) free_ranges.emplace(offset + size, rest);
            found = true;
            break;
        }
    }
    if (!found) {
        if (size > arena_size - high_water) return nullptr;
        offset = high_water;
        high_water += size;
    }
    if (!platform::commit(arena_base + offset, size)) {
        // Keep the address space usable for a later, smaller request.
        free_ranges.emplace(offset, size);
        return nullptr;
    }
    used += size;
    return arena_base + offset;
}

bool arena_free(void* block, size_t bytes) {
    size_t size = pages(bytes);
    size_t offset = static_cast<size_t>(static_cast<uint8_t*>(block) - arena_base);
    bool ok = platform::decommit(block, size);
    used -= size;
    auto next = free_ranges.lower_bound(offset);
    if (next != free_ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == offset) {
            offset = prev->first;
            size += prev->second;
            free_ranges.erase(prev);
        }
    }
    if (next != free_ranges.end() && offset + size == next->first) {
        size += next->second;
        free_ranges.erase(next);
    }
    if (offset + size == high_water) high_water = offset;
    else free_ranges.emplace(offset, size);
    return ok;
}

size_t arena_used() { return used; }

}  // namespace zuv::memory
