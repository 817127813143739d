// The managed arena: address space reserved once, handed out in whole pages by first fit.
// Given-back pages stay committed, up to a bound, for the next request: a program that
// frees and remakes its frames each cycle would otherwise fault every page in again.
#include "memory/arena.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "runtime/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace zuv::memory {

uint8_t* arena_base = nullptr;

namespace {

// The low 256 MiB are never handed out: no managed object has offset 0, and the small
// integers that fill machine stacks are never taken for node references by the
// collector's conservative stack scan.
constexpr size_t arena_floor = size_t(256) << 20;

// Idle pages kept committed: at least this much, or a quarter of what is handed out when
// that is more, so the bound follows the program's size and a program that frees most of
// its memory still returns most of it.
constexpr size_t idle_floor = size_t(32) << 20;

size_t high_water = arena_floor;
size_t used = 0;
size_t idle = 0;
// Ranges of address space not handed out, offset -> size, each map coalesced: cold ones
// are decommitted, idle ones are still committed and hold stale bytes.
std::map<size_t, size_t> cold_ranges;
std::map<size_t, size_t> idle_ranges;

size_t pages(size_t bytes) { return (bytes + page_size - 1) & ~(page_size - 1); }

size_t idle_bound() { return std::max(idle_floor, used / 4 & ~(page_size - 1)); }

// Idle bytes are no one's: a stray reference into them would have hit a protected page
// before they were kept, so a sanitizer build still reports it.
void hide(size_t offset, size_t size) {
#if defined(__SANITIZE_ADDRESS__)
    ASAN_POISON_MEMORY_REGION(arena_base + offset, size);
#else
    (void)offset, (void)size;
#endif
}

// Every block handed out is unpoisoned, a fresh one too: its pages may have been idle
// once and decommitted since.
void* hand_out(size_t offset, size_t size, bool reused) {
    used += size;
#if defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(arena_base + offset, size);
#endif
#if !defined(NDEBUG)
    // Fresh pages read as zeros and kept ones do not: filling them in test builds shows
    // any code that took a new block for a cleared one.
    if (reused) std::memset(arena_base + offset, 0xA5, size);
#else
    (void)reused;
#endif
    return arena_base + offset;
}

void insert_coalesced(std::map<size_t, size_t>& ranges, size_t offset, size_t size) {
    auto next = ranges.lower_bound(offset);
    if (next != ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == offset) {
            offset = prev->first;
            size += prev->second;
            ranges.erase(prev);
        }
    }
    if (next != ranges.end() && offset + size == next->first) {
        size += next->second;
        ranges.erase(next);
    }
    ranges.emplace(offset, size);
}

// Takes size bytes from the first range that holds them; the rest stays in the map.
bool take_first_fit(std::map<size_t, size_t>& ranges, size_t size, size_t& offset) {
    for (auto it = ranges.begin(); it != ranges.end(); ++it) {
        if (it->second < size) continue;
        offset = it->first;
        size_t rest = it->second - size;
        ranges.erase(it);
        if (rest) ranges.emplace(offset + size, rest);
        return true;
    }
    return false;
}

// Decommits a range and makes it cold; false when the system refused.
bool make_cold(size_t offset, size_t size) {
    bool ok = platform::decommit(arena_base + offset, size);
    insert_coalesced(cold_ranges, offset, size);
    auto last = std::prev(cold_ranges.end());
    if (last->first + last->second == high_water) {
        high_water = last->first;
        cold_ranges.erase(last);
    }
    return ok;
}

// Decommits idle ranges, the highest first so the low ones are reused, until at most
// limit bytes stay idle.
bool trim_idle(size_t limit) {
    bool ok = true;
    while (idle > limit) {
        auto last = std::prev(idle_ranges.end());
        size_t offset = last->first, size = last->second;
        size_t excess = idle - limit;
        idle_ranges.erase(last);
        if (size > excess) {
            // Keep the low part idle; both sizes are whole pages.
            idle_ranges.emplace(offset, size - excess);
            offset += size - excess;
            size = excess;
        }
        idle -= size;
        ok = make_cold(offset, size) && ok;
    }
    return ok;
}

}  // namespace

bool in_arena(const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return arena_base && b >= arena_base && b < arena_base + arena_size;
}

void arena_init() {
    if (arena_base) return;
    arena_base = static_cast<uint8_t*>(platform::reserve(arena_size));
    high_water = arena_floor;
    used = idle = 0;
    cold_ranges.clear();
    idle_ranges.clear();
}

void* arena_alloc(size_t bytes) {
    if (!arena_base || bytes == 0) return nullptr;
    size_t size = pages(bytes);
    size_t offset = 0;
    if (take_first_fit(idle_ranges, size, offset)) {
        idle -= size;
        return hand_out(offset, size, true);
    }
    // New pages are committed only in place of idle ones, while there are any: what is
    // committed, in use or idle, then never exceeds the most the program has had in use.
    if (idle) trim_idle(idle > size ? idle - size : 0);
    if (!take_first_fit(cold_ranges, size, offset)) {
        if (size > arena_size - high_water) {
            // The idle pages may split the room a large request needs.
            if (idle == 0) return nullptr;
            trim_idle(0);
            return arena_alloc(bytes);
        }
        offset = high_water;
        high_water += size;
    }
    if (!platform::commit(arena_base + offset, size)) {
        // Keep the address space usable for a later, smaller request.
        insert_coalesced(cold_ranges, offset, size);
        return nullptr;
    }
    return hand_out(offset, size, false);
}

bool arena_free(void* block, size_t bytes) {
    size_t size = pages(bytes);
    size_t offset = static_cast<size_t>(static_cast<uint8_t*>(block) - arena_base);
    used -= size;
    if (size > idle_bound()) return make_cold(offset, size);
    hide(offset, size);
    insert_coalesced(idle_ranges, offset, size);
    idle += size;
    return trim_idle(idle_bound());
}

size_t arena_used() { return used; }

size_t arena_idle() { return idle; }

}  // namespace zuv::memory
