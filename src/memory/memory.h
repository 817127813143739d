// Memory manager: series buffers and the nodes through which values reach them, kept in
// node frames and series frames inside the arena. Any allocation may run the collector,
// which moves buffers: hold nodes, not pointers into buffers, across allocations.
#pragma once
#include <cstddef>
#include <cstdint>

#include "memory/arena.h"
#include "memory/cell.h"

namespace zuv::memory {

namespace flag {
constexpr uint32_t unit_mask = 0x1F;
constexpr uint32_t owned = 0x00020000;
// A block of the library's own code: the tracer hears nothing from it (copies drop the flag).
constexpr uint32_t library = 0x00040000;
constexpr uint32_t fixed = 0x00100000;
constexpr uint32_t big = 0x01000000;
constexpr uint32_t mark = 0x08000000;
constexpr uint32_t made = 0x20000000;  // set on every buffer the allocator makes
constexpr uint32_t in_use = 0x80000000;
}  // namespace flag

// Counts the events that can move the cells of a series buffer: a buffer replaced by a larger
// one, a collection (which slides buffers and moves nodes), a fresh start of the memory. An
// address in a buffer found while it read N stays good while it reads N.
extern uint32_t moves;

// A series buffer: header, then capacity bytes of data, then 4 spare bytes.
struct SeriesBuffer {
    uint32_t flags;
    Ref node;       // the node that refers to this buffer; 0 once replaced
    uint32_t capacity;
    Ref head;       // first unit of the data area in use
    Ref tail;       // one past the last unit

    uint32_t unit() const { return flags & flag::unit_mask; }
    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* data_end() { return data() + capacity; }
    uint8_t* head_ptr() const { return at(head); }
    uint8_t* tail_ptr() const { return at(tail); }
    uint32_t used_bytes() const { return tail - head; }
    Cell* cells() const { return reinterpret_cast<Cell*>(at(head)); }
    Cell* cells_end() const { return reinterpret_cast<Cell*>(at(tail)); }
};
static_assert(sizeof(SeriesBuffer) == 20);
constexpr uint32_t buffer_overhead = sizeof(SeriesBuffer) + 4;

struct NodeFrame {
    Ref next;
    Ref prev;
    uint32_t node_count;
    Ref free_list;               // first free slot, 0 when full
    uint32_t used;
    uint32_t creation_cycle;
    uint32_t used_at_last_collection;
    uint32_t stability_history;
    uint32_t release;            // non-zero: receives no node and is freed by the next sweep

    uint32_t* slots() { return reinterpret_cast<uint32_t*>(this + 1); }
};
static_assert(sizeof(NodeFrame) == 36);

struct SeriesFrame {
    Ref next;
    Ref prev;
    uint32_t total;  // bytes including the header
    Ref heap;        // next free byte
    Ref end;         // first byte past the frame

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) == 20);

struct BigSeries {
    Ref next;
    uint32_t zero;
    uint32_t size;

    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigSeries) == 12);

struct MemoryRoot {
    uint64_t os_bytes;
    Ref first_node_frame;
    Ref last_node_frame;
    Ref active_node_frame;
    Ref first_series_frame;
    Ref active_series_frame;
    Ref last_series_frame;
    uint32_t initial_frame_size;
    uint32_t next_frame_size;
    uint32_t big_threshold;
    Ref first_big_series;
};

extern MemoryRoot root;

constexpr uint32_t nodes_per_frame = 10000;
constexpr uint32_t low_room = 0xCCCC;  // a frame with less free room than this is not reused

void init();
void init_first_frames();
void free_all();

void* os_alloc(size_t size, bool executable = false);
void os_free(void* block);

// Counts every node frame made or freed, so a table of the frames knows when it is stale.
extern uint32_t node_frame_changes;
NodeFrame* alloc_node_frame(uint32_t count);
void init_node_free_list(NodeFrame* frame);
void free_node_frame(NodeFrame* frame);
Ref alloc_node();
void free_node(NodeFrame* frame, Ref node);
void sweep_node_frames();

SeriesFrame* alloc_series_frame();
void free_series_frame(SeriesFrame* frame);
SeriesFrame* find_series_frame(uint32_t needed);

SeriesBuffer* alloc_series_buffer(int64_t count, uint32_t unit, uint32_t head_offset);
Ref alloc_series(int64_t count, uint32_t unit, uint32_t head_offset);
Ref alloc_fixed_series(int64_t count, uint32_t unit, uint32_t head_offset);
Ref alloc_cells(int64_t count);
Ref alloc_cells_unset(int64_t count);
Ref alloc_bytes(int64_t count);
Ref alloc_units(int64_t count, uint32_t unit);
Ref alloc_bytes_filled(int64_t count, uint8_t fill);
void fill(uint8_t* start, uint8_t* end, uint8_t byte);
// Fills size x count bytes at the destination with copies of its first size bytes, by
// doubling copies; gives the end of the filled area.
uint8_t* replicate(uint8_t* destination, size_t size, size_t count);

SeriesBuffer* realloc_series_buffer(SeriesBuffer* buffer, int64_t capacity);
SeriesBuffer* expand_series(SeriesBuffer* buffer, int64_t capacity);
SeriesBuffer* expand_series_filled(SeriesBuffer* buffer, int64_t capacity, uint8_t fill);
Ref copy_series_buffer(SeriesBuffer* buffer);

SeriesBuffer* alloc_big_series(uint32_t size);
void free_big_series(SeriesBuffer* buffer);
void sweep_big_series();

// The buffer a node stands for.
inline SeriesBuffer* buffer_of(Ref node) { return ptr<SeriesBuffer>(*ptr<uint32_t>(node)); }
inline Ref buffer_ref(Ref node) { return *ptr<uint32_t>(node); }

// Counts for tests and reports.
uint32_t node_frame_count();
uint32_t series_frame_count();

}  // namespace zuv::memory
