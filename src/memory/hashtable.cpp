// Hash tables.
#include "memory/hashtable.h"

#include <cstring>
#include <vector>

#include "memory/collector.h"
#include "memory/memory.h"

namespace zuv::hashtable {

uint32_t seed = 0x2F8E5C71;  // the start-up value; random::init sets it again

namespace {

using memory::buffer_of;
using memory::ptr;
using memory::SeriesBuffer;

std::vector<Ref*> purged_tables;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t fmix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

void keep_plain(Ref* slot) {
    if (*slot) collector::keep(slot);
}

}  // namespace

uint32_t hash_bytes(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i) {
        uint32_t k;
        std::memcpy(&k, p + 4 * i, 4);
        k *= 0xCC9E2D51;
        k = rotl(k, 15);
        k *= 0x1B873593;
        h ^= k;
        h = rotl(h, 13);
        h = h * 5 + 0xE6546B64;
    }
    const uint8_t* tail = p + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= 0xCC9E2D51;
            k = rotl(k, 15);
            k *= 0x1B873593;
            h ^= k;
    }
    h ^= static_cast<uint32_t>(length);
    return fmix(h);
}

uint32_t mix32(uint32_t word) { return fmix(word); }

Record* record_of(Ref table) { return reinterpret_cast<Record*>(buffer_of(table)->head_ptr()); }

void mark(Ref* slot) {
    if (!collector::keep(slot)) return;
    Record* r = record_of(*slot);
    keep_plain(&r->flags);
    keep_plain(&r->keys);
    if (r->kind == kind_hash) {
        Ref index = static_cast<Ref>(r->indexes);
        if (index) {
            collector::keep(&index);
            r->indexes = static_cast<int32_t>(index);
        }
        if (r->chains) {
            collector::keep(&r->chains);
            SeriesBuffer* c = buffer_of(r->chains);
            auto* lists = reinterpret_cast<Ref*>(c->head_ptr());
            auto* end = reinterpret_cast<Ref*>(c->tail_ptr());
            for (Ref* l = lists; l < end; ++l) keep_plain(l);
        }
    }
    if (r->series) {
        if (r->kind == kind_id || r->kind == kind_ownership) {
            // These tables are weak: they keep their entry series but not what the entries
            // name, and purge drops the entries whose keys or owners died. Nodes moved by
            // this collection are still rewritten in them.
            collector::keep(&r->series);
            SeriesBuffer* s = buffer_of(r->series);
            uint32_t entry = static_cast<uint32_t>(r->indexes);
            for (uint8_t* e = s->head_ptr(); e + entry <= s->tail_ptr(); e += entry) {
                auto* key = reinterpret_cast<Cell*>(e);
                if (key->header != static_cast<uint32_t>(Type::unset)) continue;
                collector::forward_node(&key->data1);
                for (Cell* v = key + 1; v < reinterpret_cast<Cell*>(e + entry); ++v) collector::forward_cell(v);
            }
        } else {
            collector::keep_series(&r->series);
        }
    }
}

void purge(Ref table) {
    Record* r = record_of(table);
    if (r->kind != kind_id && r->kind != kind_ownership) return;
    SeriesBuffer* s = buffer_of(r->series);
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    for (uint8_t* e = s->head_ptr(); e + entry <= s->tail_ptr(); e += entry) {
        auto* key = reinterpret_cast<Cell*>(e);
        if (key->header != static_cast<uint32_t>(Type::unset)) continue;
        Ref node = key->data1;
        bool dead = !(buffer_of(node)->flags & memory::flag::mark);
        if (!dead && r->kind == kind_ownership) {
            Cell* owner = key + 2;
            if (owner->data1 && !(buffer_of(owner->data1)->flags & memory::flag::mark)) dead = true;
        }
        if (dead) key->header = 0;
    }
}

void purge_all() {
    for (Ref* slot : purged_tables)
        if (*slot) purge(*slot);
}

void register_purged(Ref* slot) { purged_tables.push_back(slot); }

}  // namespace zuv::hashtable
