// Address map: 32-bit keys to 32-bit values in process-heap memory, resized in place.
#include "memory/address-map.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "memory/hash-buckets.h"
#include "memory/hashtable.h"
#include "runtime/alloc.h"

namespace zuv::addressmap {

namespace hb = hash_buckets;

namespace {

uint32_t* new_flags(int32_t buckets) {
    uint32_t bytes = hb::flag_bytes(buckets);
    auto* f = static_cast<uint32_t*>(runtime::alloc(bytes));
    std::memset(f, hb::empty_fill, bytes);
    return f;
}

// Moves every pair into a table of max(pow2(request), 4) buckets, reusing the pair array:
// a pair taken from its old bucket is carried to its new one, and the live pair found
// there (if any) is carried next.
void resize(AddressMap* m, int32_t request) {
    int32_t g = std::max(hb::pow2(request), 4);
    auto upper = static_cast<int32_t>(g * hb::load + 0.5);
    if (m->size >= upper) return;
    int32_t old_buckets = m->buckets;
    uint32_t* old = m->flags;
    uint32_t* flags = new_flags(g);
    if (g > old_buckets) m->pairs = static_cast<uint32_t*>(runtime::realloc(m->pairs, size_t(g) * 8));
    uint32_t* pairs = m->pairs;
    for (int32_t j = 0; j < old_buckets; ++j) {
        if (!hb::is_live(old, j)) continue;
        uint32_t key = pairs[2 * j], value = pairs[2 * j + 1];
        hb::set(old, j, hb::deleted);
        for (;;) {
            hb::Probe p(hashtable::mix32(key), g);
            while (!hb::is_empty(flags, p.i)) p.next();
            uint32_t i = p.i;
            hb::set(flags, i, hb::live);
            if (i < static_cast<uint32_t>(old_buckets) && hb::is_live(old, i)) {
                std::swap(key, pairs[2 * i]);
                std::swap(value, pairs[2 * i + 1]);
                hb::set(old, i, hb::deleted);
                continue;
            }
            pairs[2 * i] = key;
            pairs[2 * i + 1] = value;
            break;
        }
    }
    runtime::free(old);
    m->flags = flags;
    m->buckets = g;
    m->upper = upper;
    m->occupied = m->size;
}

// The live bucket holding the key, or -1.
int32_t find(const AddressMap* m, uint32_t key) {
    hb::Probe p(hashtable::mix32(key), m->buckets);
    do {
        uint32_t s = hb::state(m->flags, p.i);
        if (s == hb::empty) return -1;
        if (s == hb::live && m->pairs[2 * p.i] == key) return static_cast<int32_t>(p.i);
    } while (p.next());
    return -1;
}

}  // namespace

AddressMap* make(int32_t size) {
    auto* m = static_cast<AddressMap*>(runtime::alloc_zeroed(sizeof(AddressMap)));
    m->buckets = hb::pow2(static_cast<int64_t>(std::max(size, 4) / hb::load));
    m->upper = static_cast<int32_t>(m->buckets * hb::load);
    m->flags = new_flags(m->buckets);
    m->pairs = static_cast<uint32_t*>(runtime::alloc(size_t(m->buckets) * 8));
    return m;
}

void put(AddressMap* m, uint32_t key, uint32_t value) {
    if (m->occupied >= m->upper) resize(m, 2 * m->size < m->buckets ? m->buckets - 1 : m->buckets + 1);
    hb::Probe p(hashtable::mix32(key), m->buckets);
    int64_t reuse = -1;
    do {
        uint32_t s = hb::state(m->flags, p.i);
        if (s == hb::empty) break;
        if (s == hb::deleted) {
            if (reuse < 0) reuse = p.i;
        } else if (m->pairs[2 * p.i] == key) {
            m->pairs[2 * p.i + 1] = value;
            return;
        }
    } while (p.next());
    uint32_t i;
    if (reuse >= 0) {
        i = static_cast<uint32_t>(reuse);
    } else {
        i = p.i;
        ++m->occupied;
    }
    hb::set(m->flags, i, hb::live);
    m->pairs[2 * i] = key;
    m->pairs[2 * i + 1] = value;
    ++m->size;
}

uint32_t* get(AddressMap* m, uint32_t key) {
    int32_t i = find(m, key);
    return i < 0 ? nullptr : &m->pairs[2 * i + 1];
}

void delete_(AddressMap* m, uint32_t key) {
    int32_t i = find(m, key);
    if (i < 0) return;
    hb::set(m->flags, i, hb::deleted);
    --m->size;
}

int32_t size(const AddressMap* m) { return m->size; }

uint32_t* next(AddressMap* m, const uint32_t* pair) {
    int32_t i = pair ? static_cast<int32_t>((pair - m->pairs) / 2) + 1 : 0;
    for (; i < m->buckets; ++i)
        if (hb::is_live(m->flags, i)) return &m->pairs[2 * i];
    return nullptr;
}

void clear(AddressMap* m) {
    std::memset(m->flags, hb::empty_fill, hb::flag_bytes(m->buckets));
    m->size = 0;
    m->occupied = 0;
}

void free(AddressMap* m) {
    if (!m) return;
    runtime::free(m->flags);
    runtime::free(m->pairs);
    runtime::free(m);
}

}  // namespace zuv::addressmap
