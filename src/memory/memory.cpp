// Memory manager: node frames of 10,000 slots, series frames (1 MiB, then 2 MiB) where
// buffers are bump-allocated, big series of their own from 2 MiB, and fixed buffers.
// Every OS block carries its rounded size in a hidden word in front of it.
#include "memory/memory.h"

#include <algorithm>
#include <cstring>

#include "memory/error.h"
#include "memory/collector.h"
#include "runtime/fatal.h"
#include "runtime/platform.h"

namespace zuv::memory {

namespace {

// Bytes held by big series now, and just after the last collection. A big allocation
// collects first only once the big series have grown well past what the last collection
// kept: collecting at each one made a growing block pay a full collection per doubling.
uint64_t big_bytes = 0;
uint64_t big_bytes_kept = 0;
constexpr uint64_t big_growth_floor = 32u << 20;

// The same for the frames that small buffers come from: when they are full, a collection
// runs first only once the frames made since the last one reach half of what the program
// held then (and 8 MB), so the work of collecting stays in proportion to the allocation.
uint64_t frame_bytes_made = 0;
uint64_t os_bytes_kept = 0;
constexpr uint64_t frame_growth_floor = 8u << 20;

bool frame_collection_due() {
    return frame_bytes_made >= std::max<uint64_t>(frame_growth_floor, os_bytes_kept / 2) ||
           arena_used() > arena_size / 2;
}

// Also once the arena is half taken, so that a large request is not refused for room that
// a collection would have given back.
bool big_collection_due(uint32_t needed) {
    return big_bytes + needed > 2 * big_bytes_kept + big_growth_floor || arena_used() + needed > arena_size / 2;
}

void note_collected() {
    big_bytes_kept = big_bytes;
    os_bytes_kept = root.os_bytes;
    frame_bytes_made = 0;
}

}  // namespace


MemoryRoot root;
uint32_t moves = 0;

namespace {

[[noreturn, gnu::cold]] void no_memory() { error::raise(error::id::internal_no_memory); }

uint32_t capacity_for(int64_t count, uint32_t unit) {
    int64_t bytes = count * static_cast<int64_t>(unit);
    if (count < 0 || bytes > int64_t(0x7FFFFFF0)) no_memory();
    return static_cast<uint32_t>(runtime::round_up(static_cast<size_t>(bytes), 16));
}

void append_node_frame(NodeFrame* f) {
    Ref r = ref(f);
    if (!root.first_node_frame) {
        root.first_node_frame = root.last_node_frame = root.active_node_frame = r;
        return;
    }
    ptr<NodeFrame>(root.last_node_frame)->next = r;
    f->prev = root.last_node_frame;
    root.last_node_frame = r;
}

}  // namespace

void init() {
    ++moves;
    arena_init();
    root = MemoryRoot{};
    root.initial_frame_size = 1 << 20;
    root.next_frame_size = root.initial_frame_size;
    root.big_threshold = 2 << 20;
    collector::init();
}

void init_first_frames() {
    alloc_node_frame(nodes_per_frame);
    alloc_series_frame();
}

void* os_alloc(size_t size, bool executable) {
    (void)executable;  // nothing in the arena is ever executed
    size_t rounded = runtime::round_up(size + 4, page_size);
    void* block = arena_alloc(rounded);
    root.os_bytes += rounded;
    if (!block) no_memory();
    *static_cast<uint32_t*>(block) = static_cast<uint32_t>(rounded);
    return static_cast<uint8_t*>(block) + 4;
}

void os_free(void* address) {
    uint8_t* block = static_cast<uint8_t*>(address) - 4;
    uint32_t size = *reinterpret_cast<uint32_t*>(block);
    root.os_bytes -= size;
    if (!arena_free(block, size)) error::raise(error::id::internal_wrong_mem);
}

void free_all() {
    ++moves;
    for (Ref r = root.first_node_frame; r;) {
        Ref next = ptr<NodeFrame>(r)->next;
        os_free(at(r));
        r = next;
    }
    for (Ref r = root.first_series_frame; r;) {
        Ref next = ptr<SeriesFrame>(r)->next;
        os_free(at(r));
        r = next;
    }
    for (Ref r = root.first_big_series; r;) {
        Ref next = ptr<BigSeries>(r)->next;
        os_free(at(r));
        r = next;
    }
    root.first_node_frame = root.last_node_frame = root.active_node_frame = 0;
    root.first_series_frame = root.last_series_frame = root.active_series_frame = 0;
    root.first_big_series = 0;
    big_bytes = big_bytes_kept = 0;
    frame_bytes_made = os_bytes_kept = 0;
}

// Node frames ---------------------------------------------------------------------------

uint32_t node_frame_changes = 0;

NodeFrame* alloc_node_frame(uint32_t count) {
    ++node_frame_changes;
    auto* f = static_cast<NodeFrame*>(os_alloc(size_t(count) * 4 + sizeof(NodeFrame)));
    *f = NodeFrame{};
    f->node_count = count;
    f->creation_cycle = collector::stats.collections;
    init_node_free_list(f);
    append_node_frame(f);
    return f;
}

void init_node_free_list(NodeFrame* f) {
    uint32_t* s = f->slots();
    for (uint32_t i = 0; i + 1 < f->node_count; ++i) s[i] = ref(&s[i + 1]);
    s[f->node_count - 1] = 0;
    f->free_list = ref(&s[0]);
}

void free_node_frame(NodeFrame* f) {
    ++node_frame_changes;
    Ref r = ref(f);
    if (f->prev) ptr<NodeFrame>(f->prev)->next = f->next;
    else root.first_node_frame = f->next;
    if (f->next) ptr<NodeFrame>(f->next)->prev = f->prev;
    else root.last_node_frame = f->prev;
    if (root.active_node_frame == r) root.active_node_frame = root.last_node_frame;
    os_free(f);
}

Ref alloc_node() {
    NodeFrame* f = root.active_node_frame ? ptr<NodeFrame>(root.active_node_frame) : nullptr;
    if (!f || !f->free_list) [[unlikely]] {
        f = nullptr;
        for (Ref r = root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) {
            NodeFrame* c = ptr<NodeFrame>(r);
            if (c->free_list && !c->release) {
                f = c;
                break;
            }
        }
        if (!f) f = alloc_node_frame(nodes_per_frame);
        root.active_node_frame = ref(f);
    }
    Ref node = f->free_list;
    uint32_t* slot = ptr<uint32_t>(node);
    f->free_list = *slot;
    *slot = 0;
    ++f->used;
    return node;
}

void free_node(NodeFrame* f, Ref node) {
    *ptr<uint32_t>(node) = f->free_list;
    f->free_list = node;
    --f->used;
}

void sweep_node_frames() {
    bool active_chosen = false;
    for (Ref r = root.first_node_frame; r;) {
        NodeFrame* f = ptr<NodeFrame>(r);
        r = f->next;
        if (f->used == 0 || f->release) {
            free_node_frame(f);
            continue;
        }
        if (!active_chosen && f->used < f->node_count) {
            root.active_node_frame = ref(f);
            active_chosen = true;
        }
        f->stability_history = (f->stability_history << 1) | (f->used == f->used_at_last_collection ? 1 : 0);
        f->used_at_last_collection = f->used;
    }
    if (!active_chosen) root.active_node_frame = root.last_node_frame;
}

uint32_t node_frame_count() {
    uint32_t n = 0;
    for (Ref r = root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) ++n;
    return n;
}

// Series frames -------------------------------------------------------------------------

SeriesFrame* alloc_series_frame() {
    uint32_t size = root.next_frame_size;
    if (size < root.big_threshold) root.next_frame_size = size * 2;
    auto* f = static_cast<SeriesFrame*>(os_alloc(size_t(size) + sizeof(SeriesFrame)));
    frame_bytes_made += size;
    Ref r = ref(f);
    *f = SeriesFrame{};
    f->total = size + sizeof(SeriesFrame);
    f->heap = ref(f->data());
    f->end = r + size + sizeof(SeriesFrame);

    // Keep the list sorted by address, so compaction slides buffers downwards.
    if (!root.first_series_frame) {
        root.first_series_frame = root.active_series_frame = root.last_series_frame = r;
        return f;
    }
    if (r < root.first_series_frame) {
        f->next = root.first_series_frame;
        ptr<SeriesFrame>(root.first_series_frame)->prev = r;
        root.first_series_frame = r;
        return f;
    }
    Ref cur = root.first_series_frame;
    while (ptr<SeriesFrame>(cur)->next && cur < r) cur = ptr<SeriesFrame>(cur)->next;
    SeriesFrame* c = ptr<SeriesFrame>(cur);
    if (cur < r) {  // after the last frame
        c->next = r;
        f->prev = cur;
        root.last_series_frame = r;
    } else {  // before the frame where the walk stopped
        f->next = cur;
        f->prev = c->prev;
        if (c->prev) ptr<SeriesFrame>(c->prev)->next = r;
        else root.first_series_frame = r;
        c->prev = r;
    }
    return f;
}

void free_series_frame(SeriesFrame* f) {
    Ref r = ref(f);
    if (f->prev) ptr<SeriesFrame>(f->prev)->next = f->next;
    else root.first_series_frame = f->next;
    if (f->next) ptr<SeriesFrame>(f->next)->prev = f->prev;
    else root.last_series_frame = f->prev;
    if (root.active_series_frame == r) root.active_series_frame = root.last_series_frame;
    os_free(f);
}

SeriesFrame* find_series_frame(uint32_t needed) {
    for (Ref r = root.first_series_frame; r; r = ptr<SeriesFrame>(r)->next) {
        SeriesFrame* f = ptr<SeriesFrame>(r);
        if (uint64_t(f->heap) + needed < f->end) return f;
    }
    return nullptr;
}

uint32_t series_frame_count() {
    uint32_t n = 0;
    for (Ref r = root.first_series_frame; r; r = ptr<SeriesFrame>(r)->next) ++n;
    return n;
}

// Buffers -------------------------------------------------------------------------------

SeriesBuffer* alloc_series_buffer(int64_t count, uint32_t unit, uint32_t head_offset) {
    uint32_t capacity = capacity_for(count, unit);
    uint32_t needed = capacity + buffer_overhead;
    if (collector::torture) collector::collect_if_enabled();

    SeriesBuffer* b;
    bool big = needed >= root.big_threshold;
    if (big) [[unlikely]] {
        if (big_collection_due(needed)) collector::collect_if_enabled();
        b = alloc_big_series(needed);
    } else {
        SeriesFrame* f = root.active_series_frame ? ptr<SeriesFrame>(root.active_series_frame) : nullptr;
        if (!f || !(uint64_t(f->heap) + needed < f->end)) [[unlikely]] {
            f = find_series_frame(needed);
            if (!f && frame_collection_due()) {
                collector::collect_if_enabled();
                f = find_series_frame(needed);
            }
            if (!f || f->end - f->heap < low_room) {
                if (needed >= root.next_frame_size) root.next_frame_size = root.big_threshold;
                f = alloc_series_frame();
            }
            root.active_series_frame = ref(f);
        }
        b = ptr<SeriesBuffer>(f->heap);
        f->heap += needed;
    }
    b->capacity = capacity;
    b->flags = unit | flag::in_use | flag::made | (big ? flag::big : 0);
    b->node = 0;
    b->head = b->tail = ref(b->data()) + head_offset;
    return b;
}

Ref alloc_series(int64_t count, uint32_t unit, uint32_t head_offset) {
    SeriesBuffer* b = alloc_series_buffer(count, unit, head_offset);
    Ref br = ref(b);
    Ref node = alloc_node();  // never collects: node frames are made, not reclaimed, here
    *ptr<uint32_t>(node) = br;
    b->node = node;
    return node;
}

Ref alloc_fixed_series(int64_t count, uint32_t unit, uint32_t head_offset) {
    uint32_t capacity = capacity_for(count, unit);
    auto* b = static_cast<SeriesBuffer*>(os_alloc(sizeof(SeriesBuffer) + capacity + 4));
    b->capacity = capacity;
    b->flags = unit | flag::in_use | flag::fixed | flag::made;
    b->head = b->tail = ref(b->data()) + head_offset;
    Ref node = alloc_node();
    *ptr<uint32_t>(node) = ref(b);
    b->node = node;
    return node;
}

Ref alloc_cells(int64_t count) { return alloc_series(count, 16, 0); }

Ref alloc_cells_unset(int64_t count) {
    Ref node = alloc_cells(count);
    SeriesBuffer* b = buffer_of(node);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->capacity / 16; ++i) cell::make(&c[i], Type::unset);
    return node;
}

Ref alloc_bytes(int64_t count) { return alloc_series(count == 0 ? 16 : count, 1, 0); }

Ref alloc_units(int64_t count, uint32_t unit) {
    if (count == 0) count = 16 >> (unit >> 1);
    return alloc_series(count, unit, 0);
}

Ref alloc_bytes_filled(int64_t count, uint8_t byte) {
    Ref node = alloc_bytes(count);
    SeriesBuffer* b = buffer_of(node);
    fill(b->data(), b->data_end(), byte);
    return node;
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

uint8_t* replicate(uint8_t* destination, size_t size, size_t count) {
    size_t total = size * count;
    size_t done = size;
    if (count == 0) return destination;
    while (total - done >= done) {
        std::memcpy(destination + done, destination, done);
        done *= 2;
    }
    if (done < total) std::memcpy(destination + done, destination, total - done);
    return destination + total;
}

namespace {

// Replaces a buffer by a larger one; old_out receives the retired buffer, which keeps its
// bytes until the next compaction.
SeriesBuffer* replace_buffer(SeriesBuffer* b, int64_t capacity, SeriesBuffer** old_out) {
    uint32_t unit = b->unit();
    if (capacity == 0) capacity = int64_t(b->capacity) * 2;
    if (capacity <= 0 || unit == 0) no_memory();
    Ref node = b->node;
    SeriesBuffer* nb = alloc_series_buffer(capacity / unit, unit, 0);
    ++moves;
    b = buffer_of(node);  // the collector may have moved it
    *ptr<uint32_t>(node) = ref(nb);
    bool big = nb->flags & flag::big;
    nb->flags = (b->flags & ~flag::big) | (big ? flag::big : 0);
    nb->node = node;
    nb->tail = nb->head + (b->tail - b->head);
    b->node = 0;
    b->flags &= ~flag::in_use;
    if (old_out) *old_out = b;
    return nb;
}

}  // namespace

SeriesBuffer* realloc_series_buffer(SeriesBuffer* b, int64_t capacity) {
    return replace_buffer(b, capacity, nullptr);
}

SeriesBuffer* expand_series(SeriesBuffer* b, int64_t capacity) {
    SeriesBuffer* old = nullptr;
    SeriesBuffer* nb = replace_buffer(b, capacity, &old);
    // From the old head to the end of its data area, so a head offset is kept as room.
    uint32_t bytes = static_cast<uint32_t>(old->data_end() - old->head_ptr());
    if (bytes > nb->capacity) bytes = nb->capacity;
    std::memcpy(nb->head_ptr(), old->head_ptr(), bytes);
    return nb;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* b, int64_t capacity, uint8_t byte) {
    uint32_t old_capacity = b->capacity;
    SeriesBuffer* nb = expand_series(b, capacity);
    fill(nb->head_ptr() + old_capacity, nb->head_ptr() + nb->capacity, byte);
    return nb;
}

Ref copy_series_buffer(SeriesBuffer* b) {
    Ref source_node = b->node;
    Ref source = ref(b);
    uint32_t capacity = b->capacity;
    Ref node = alloc_series(capacity, 1, 0);
    // The source moved if the allocation collected; find it again through its node.
    b = source_node ? buffer_of(source_node) : ptr<SeriesBuffer>(source);
    SeriesBuffer* nb = buffer_of(node);
    nb->flags = (b->flags & ~(flag::big | flag::fixed | flag::mark)) | (nb->flags & flag::big);
    nb->tail = nb->head + (b->tail - b->head);
    if (capacity) {
        uint32_t bytes = static_cast<uint32_t>(b->data_end() - b->head_ptr());
        std::memcpy(nb->head_ptr(), b->head_ptr(), bytes);
    }
    return node;
}

SeriesBuffer* alloc_big_series(uint32_t size) {
    big_bytes += size;
    auto* link = static_cast<BigSeries*>(os_alloc(size_t(size) + sizeof(BigSeries)));
    *link = BigSeries{0, 0, size};
    Ref r = ref(link);
    if (!root.first_big_series) root.first_big_series = r;
    else {
        Ref cur = root.first_big_series;
        while (ptr<BigSeries>(cur)->next) cur = ptr<BigSeries>(cur)->next;
        ptr<BigSeries>(cur)->next = r;
    }
    return link->buffer();
}

void free_big_series(SeriesBuffer* b) {
    auto* link = reinterpret_cast<BigSeries*>(b) - 1;
    big_bytes -= link->size;
    Ref r = ref(link);
    if (root.first_big_series == r) root.first_big_series = link->next;
    else {
        for (Ref cur = root.first_big_series; cur; cur = ptr<BigSeries>(cur)->next) {
            if (ptr<BigSeries>(cur)->next == r) {
                ptr<BigSeries>(cur)->next = link->next;
                break;
            }
        }
    }
    os_free(link);
}

void sweep_big_series() {
    for (Ref cur = root.first_big_series; cur;) {
        BigSeries* link = ptr<BigSeries>(cur);
        cur = link->next;
        SeriesBuffer* b = link->buffer();
        if (b->flags & flag::mark) {
            b->flags &= ~flag::mark;
        } else {
            if (b->node) collector::queue_node_release(b->node);
            free_big_series(b);
        }
    }
    note_collected();
}

}  // namespace zuv::memory
