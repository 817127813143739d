// Garbage collector: mark from the roots and the machine stack, sweep external resources
// and ownership, compact the series frames by runs, sweep big series, release dead nodes
// in sorted batches, sweep node frames. Nodes referenced from the machine stack are never
// moved, because C++ code may hold them in locals and registers.
#include "memory/collector.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "memory/address-map.h"
#include "memory/cycle-stack.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "memory/ownership.h"
#include "runtime/external.h"
#include "runtime/system.h"

namespace zuv::collector {

Stats stats;
bool torture = false;
bool compaction_allowed = true;
bool scan_stack = true;
uint32_t self_symbol = 0;

namespace {

using memory::SeriesBuffer;
using memory::NodeFrame;
using memory::SeriesFrame;
using memory::ptr;
using memory::at;
namespace flag = memory::flag;

constexpr uint32_t context_stack_values = 0x400000;  // context header: values live on the stack

bool collecting = false;
std::vector<MarkCallback> callbacks;
std::vector<Cell*> root_cells;
std::vector<Ref*> root_nodes;
std::vector<Ref> fixed_buffers;
// Fixed buffers marked by this collection: no sweep visits them, so their marks are
// cleared at its end, whether or not they were registered.
std::vector<Ref> fixed_marked;
std::vector<Ref> release_queue;
constexpr size_t release_capacity = 20000;
TypeMarker type_markers[type_records] = {};

// Node references seen on the machine stack during this collection, sorted.
std::vector<Ref> stack_nodes;
// Old node -> new node, for the nodes an evacuation moved in this collection; made on the
// first move and freed at the end of the collection.
addressmap::AddressMap* forwarding = nullptr;
// Buffers whose cells still need scanning.
std::vector<Ref> pending;
// Address-sorted node areas [first slot, end).
std::vector<std::pair<Ref, Ref>> node_areas;

// The table is rebuilt only when node frames were made or freed since the last build: the
// release of dead nodes consults it once per batch.
uint32_t areas_built_at = UINT32_MAX;

void build_node_areas() {
    if (areas_built_at == memory::node_frame_changes && !node_areas.empty()) return;
    areas_built_at = memory::node_frame_changes;
    node_areas.clear();
    for (Ref r = memory::root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) {
        NodeFrame* f = ptr<NodeFrame>(r);
        Ref first = memory::ref(f->slots());
        node_areas.emplace_back(first, first + f->node_count * 4);
    }
    std::sort(node_areas.begin(), node_areas.end());
}

bool in_node_area(Ref r) {
    auto it = std::upper_bound(node_areas.begin(), node_areas.end(), std::make_pair(r, UINT32_MAX));
    if (it == node_areas.begin()) return false;
    --it;
    return r >= it->first && r < it->second;
}

// A used node holds the address of a buffer, never a free-list link into a node area.
bool looks_like_node(Ref r) {
    if ((r & 3) || !in_node_area(r)) return false;
    Ref content = *ptr<uint32_t>(r);
    return content != 0 && !in_node_area(content);
}

[[gnu::noinline]] __attribute__((no_sanitize_address)) void scan_range(const uint8_t* low, const uint8_t* high) {
    for (const uint8_t* p = low; p + 4 <= high; p += 4) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        if (looks_like_node(w)) stack_nodes.push_back(w);
        if (p + 8 <= high && (reinterpret_cast<uintptr_t>(p) & 7) == 0) {
            uintptr_t a;
            std::memcpy(&a, p, 8);
            auto* q = reinterpret_cast<const uint8_t*>(a);
            if (memory::in_arena(q)) {
                Ref r = memory::ref(q);
                if (looks_like_node(r)) stack_nodes.push_back(r);
            }
        }
    }
}

uintptr_t machine_stack_top() {
    if (runtime::stack_top) return runtime::stack_top;
    // Outside the normal start-up (tests), take the whole stack of this thread.
    pthread_attr_t attr;
    uintptr_t top = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low;
        size_t size;
        if (pthread_attr_getstack(&attr, &low, &size) == 0) top = reinterpret_cast<uintptr_t>(low) + size;
        pthread_attr_destroy(&attr);
    }
    return top;
}

// Spills the registers into this frame, then scans from here to the top of the stack.
[[gnu::noinline]] void scan_machine_stack() {
    stack_nodes.clear();
    if (!scan_stack) return;
    __builtin_unwind_init();
    volatile uint8_t anchor = 0;
    auto* low = reinterpret_cast<const uint8_t*>(const_cast<uint8_t*>(&anchor));
    uintptr_t top = machine_stack_top();
    if (top > reinterpret_cast<uintptr_t>(low)) {
        scan_range(reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(low) & ~uintptr_t(7)),
                   reinterpret_cast<const uint8_t*>(top));
    }
    std::sort(stack_nodes.begin(), stack_nodes.end());
    stack_nodes.erase(std::unique(stack_nodes.begin(), stack_nodes.end()), stack_nodes.end());
}

bool frame_holds_stack_node(NodeFrame* f) {
    Ref first = memory::ref(f->slots());
    Ref end = first + f->node_count * 4;
    auto it = std::lower_bound(stack_nodes.begin(), stack_nodes.end(), first);
    return it != stack_nodes.end() && *it < end;
}

void set_active_to_first_free_frame() {
    for (Ref r = memory::root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) {
        if (ptr<NodeFrame>(r)->free_list && !ptr<NodeFrame>(r)->release) {
            memory::root.active_node_frame = r;
            return;
        }
    }
}

NodeFrame* frame_with_free_slot(NodeFrame* except) {
    NodeFrame* a = memory::root.active_node_frame ? ptr<NodeFrame>(memory::root.active_node_frame) : nullptr;
    if (a && a != except && a->free_list && !a->release) return a;
    for (Ref r = memory::root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) {
        NodeFrame* f = ptr<NodeFrame>(r);
        if (f != except && f->free_list && !f->release) {
            memory::root.active_node_frame = r;
            return f;
        }
    }
    return nullptr;
}

// Moves the nodes of frames that have been stable and sparse for a while into other
// frames, so that the sweep can give the emptied frames back.
void evacuate_sparse_node_frames() {
    set_active_to_first_free_frame();
    if (!memory::root.active_node_frame || !ptr<NodeFrame>(memory::root.active_node_frame)->free_list) return;
    int64_t free_nodes = free_node_count();
    uint32_t window = (1u << (stats.window + 1)) - 1;
    bool moved = false;
    for (Ref r = memory::root.last_node_frame; r; r = ptr<NodeFrame>(r)->prev) {
        NodeFrame* f = ptr<NodeFrame>(r);
        if (r == memory::root.active_node_frame || f->release) continue;
        if ((f->stability_history & window) != window || f->used >= 5000 || free_nodes <= 10000) continue;
        if (frame_holds_stack_node(f)) continue;
        uint32_t* slots = f->slots();
        // Free slots hold links inside this frame (or 0); used ones hold buffer addresses.
        Ref first = memory::ref(slots), end = first + f->node_count * 4;
        bool ok = true;
        for (uint32_t i = 0; i < f->node_count && f->used > 0; ++i) {
            Ref content = slots[i];
            if (content == 0 || (content >= first && content < end)) continue;
            NodeFrame* to = frame_with_free_slot(f);
            if (!to) {
                ok = false;
                break;
            }
            Ref node = to->free_list;
            to->free_list = *ptr<uint32_t>(node);
            ++to->used;
            *ptr<uint32_t>(node) = content;
            ptr<SeriesBuffer>(content)->node = node;
            Ref old = memory::ref(&slots[i]);
            if (!forwarding) forwarding = addressmap::make(static_cast<int32_t>(f->used));
            addressmap::put(forwarding, old, node);
            slots[i] = 0;
            --f->used;
        }
        if (!ok) break;
        f->release = 1;
        moved = true;
        free_nodes -= 10000;
    }
    if (moved) ++stats.node_moves;
}

inline void forward(Ref* slot) {
    if (forwarding) {
        if (uint32_t* moved = addressmap::get(forwarding, *slot)) *slot = *moved;
    }
}

inline bool mark_buffer(SeriesBuffer* b) {
    if (b->flags & flag::mark) return false;
    b->flags |= flag::mark;
    if (b->flags & flag::fixed) [[unlikely]] fixed_marked.push_back(memory::ref(b));
    return true;
}

template <bool Forward>
inline void keep_with_cells(Ref* slot) {
    if constexpr (Forward) {
        forward(slot);
        return;
    }
    if (keep(slot)) {
        SeriesBuffer* b = memory::buffer_of(*slot);
        if (b->unit() == 16) pending.push_back(*slot);
    }
}

template <bool Forward>
inline void keep_plain(Ref* slot) {
    if (!*slot) return;
    if constexpr (Forward) forward(slot);
    else keep(slot);
}

template <bool Forward>
inline void keep_ctx(Ref* slot) {
    if constexpr (Forward) forward(slot);
    else keep_context(slot);
}

template <bool Forward>
inline void keep_table(Ref* slot) {
    if constexpr (Forward) forward(slot);
    else hashtable::mark(slot);
}

// What each datatype's cell refers to. In Forward mode nothing is marked: the node slots
// are only rewritten through the forwarding table.
template <bool Forward>
void visit_cell(Cell* c) {
    switch (c->type()) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path:
            if (c->data2) keep_with_cells<Forward>(&c->data2);
            break;
        case Type::string: case Type::file: case Type::url: case Type::tag:
        case Type::email: case Type::ref:
            keep_plain<Forward>(&c->data2);
            keep_plain<Forward>(&c->data3);
            break;
        case Type::symbol:
            keep_plain<Forward>(&c->data3);
            keep_plain<Forward>(&c->data2);
            break;
        case Type::context:
            if (c->data1) keep_table<Forward>(&c->data1);
            if (!(c->header & context_stack_values) && c->data2) keep_with_cells<Forward>(&c->data2);
            break;
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement:
            if (c->data1) {
                if (self_symbol && c->data2 == self_symbol) keep_with_cells<Forward>(&c->data1);
                else keep_ctx<Forward>(&c->data1);
            }
            break;
        case Type::native: case Type::action:
            if (c->data2) keep_with_cells<Forward>(&c->data2);
            if (c->data3) keep_with_cells<Forward>(&c->data3);
            break;
        case Type::op: {
            if (c->data2) keep_with_cells<Forward>(&c->data2);
            if (c->data3) keep_with_cells<Forward>(&c->data3);
            // An op! made from a function! or routine! keeps that function's context.
            auto made_from = static_cast<Type>((c->header >> 16) & 0xFF);
            if ((made_from == Type::function || made_from == Type::routine) && c->data1) keep_ctx<Forward>(&c->data1);
            break;
        }
        case Type::function: case Type::routine:
            if (c->data1) keep_ctx<Forward>(&c->data1);
            if (c->data2) keep_with_cells<Forward>(&c->data2);
            if (c->data3) keep_with_cells<Forward>(&c->data3);
            break;
        case Type::bitset: case Type::vector: case Type::binary:
            keep_plain<Forward>(&c->data2);
            break;
        case Type::object: case Type::error: case Type::port:
            if (c->data1) keep_ctx<Forward>(&c->data1);
            if (c->data3) keep_with_cells<Forward>(&c->data3);
            break;
        case Type::hash: case Type::map:
            if (c->data2) keep_with_cells<Forward>(&c->data2);
            if (c->data3) keep_table<Forward>(&c->data3);
            break;
        case Type::handle:
            if (!Forward && c->int3() >= 0) external::mark(c->int3(), nullptr);
            break;
        case Type::image:
            keep_plain<Forward>(&c->data2);
            break;
        case Type::event:
            if ((c->data3 & 0x10000) && c->data2) keep_with_cells<Forward>(&c->data2);
            break;
        default:
            break;
    }
    if constexpr (!Forward)
        if (TypeMarker m = type_markers[static_cast<uint8_t>(c->type())]) m(c);
}

inline void mark_cell(Cell* c) { visit_cell<false>(c); }

void drain_pending() {
    while (!pending.empty()) {
        Ref node = pending.back();
        pending.pop_back();
        SeriesBuffer* b = memory::buffer_of(node);
        for (Cell* c = b->cells(); c < b->cells_end(); ++c) mark_cell(c);
    }
}

// Slides one run of live buffers [run_start, run_end) down to dest.
void move_run(uint8_t* run_start, uint8_t* run_end, uint8_t* dest) {
    if (dest == run_start) {
        for (uint8_t* p = run_start; p < run_end;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            b->flags &= ~flag::mark;
            p += b->capacity + memory::buffer_overhead;
        }
        return;
    }
    uint32_t distance = static_cast<uint32_t>(run_start - dest);
    std::memmove(dest, run_start, static_cast<size_t>(run_end - run_start));
    for (uint8_t* p = dest; p < dest + (run_end - run_start);) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        b->flags &= ~flag::mark;
        b->head -= distance;
        b->tail -= distance;
        *ptr<uint32_t>(b->node) = memory::ref(b);
        p += b->capacity + memory::buffer_overhead;
    }
}

// Compacts the buffers of [from, to) inside their frame, starting at dest; gives the new
// heap pointer.
uint8_t* compact_in_place(uint8_t* from, uint8_t* to, uint8_t* dest) {
    uint8_t* p = from;
    while (p < to) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        uint32_t size = b->capacity + memory::buffer_overhead;
        if (!(b->flags & flag::mark)) {
            if (b->node) queue_node_release(b->node);
            p += size;
            continue;
        }
        uint8_t* run_start = p;
        while (p < to && (reinterpret_cast<SeriesBuffer*>(p)->flags & flag::mark))
            p += reinterpret_cast<SeriesBuffer*>(p)->capacity + memory::buffer_overhead;
        move_run(run_start, p, dest);
        dest += p - run_start;
    }
    return dest;
}

void compact_series_frames() {
    SeriesFrame* prev = nullptr;
    for (Ref r = memory::root.first_series_frame; r;) {
        SeriesFrame* f = ptr<SeriesFrame>(r);
        Ref next = f->next;
        uint8_t* start = f->data();
        uint8_t* heap = at(f->heap);
        if (prev) {
            // First fill the free end of the previous frame with runs that fit there.
            uint8_t* p = start;
            auto room = [&] {
                uint32_t free_room = prev->end - prev->heap;
                return free_room > memory::low_room ? free_room : 0u;
            };
            while (p < heap && room() > 0) {
                auto* b = reinterpret_cast<SeriesBuffer*>(p);
                if (!(b->flags & flag::mark)) {
                    if (b->node) queue_node_release(b->node);
                    b->node = 0;  // released; the in-place pass below must not queue it again
                    p += b->capacity + memory::buffer_overhead;
                    start = p;
                    continue;
                }
                uint8_t* run_start = p;
                uint8_t* q = p;
                uint32_t limit = room();
                while (q < heap && (reinterpret_cast<SeriesBuffer*>(q)->flags & flag::mark)) {
                    uint32_t size = reinterpret_cast<SeriesBuffer*>(q)->capacity + memory::buffer_overhead;
                    if (static_cast<uint32_t>(q + size - run_start) > limit) break;
                    q += size;
                }
                if (q == run_start) break;  // the next buffer does not fit
                move_run(run_start, q, at(prev->heap));
                prev->heap += static_cast<uint32_t>(q - run_start);
                p = q;
                start = p;
            }
        }
        uint8_t* new_heap = compact_in_place(start, heap, f->data());
        f->heap = memory::ref(new_heap);
        if (new_heap == f->data() && next) {
            memory::free_series_frame(f);
            // prev stays: the next frame moves into its room
        } else {
            prev = f;
        }
        r = next;
    }
    if (!memory::root.active_series_frame) memory::root.active_series_frame = memory::root.first_series_frame;
}

}  // namespace

void init() {
    root_cells.clear();
    root_nodes.clear();
    fixed_buffers.clear();
    callbacks.clear();
    callbacks.reserve(100);
    release_queue.clear();
    release_queue.reserve(release_capacity);
    const char* t = std::getenv("ZUV_GC_TORTURE");
    torture = t && *t && *t != '0';
}

void init_state() {
    stats.collections = 0;
    stats.node_moves = 0;
    stats.window = 5;
}

bool running_q() { return collecting; }

bool keep(Ref* slot) {
    forward(slot);
    SeriesBuffer* b = memory::buffer_of(*slot);
    return mark_buffer(b);
}

void keep_series(Ref* slot) {
    keep_with_cells<false>(slot);
    if (!collecting) drain_pending();
}

void keep_block(Cell* block) {
    if (block->data2) keep_series(&block->data2);
}

void keep_context(Ref* slot) {
    if (!keep(slot)) return;
    SeriesBuffer* b = memory::buffer_of(*slot);
    Cell* ctx = b->cells();
    if (b->cells_end() <= ctx) return;
    if (ctx->data1) hashtable::mark(&ctx->data1);
    if (!(ctx->header & context_stack_values) && ctx->data2) keep_with_cells<false>(&ctx->data2);
    if (ctx + 1 < b->cells_end()) mark_cell(ctx + 1);
}

void mark_cells(Cell* start, Cell* end) {
    for (Cell* c = start; c < end; ++c) mark_cell(c);
    if (!collecting) drain_pending();
}

void forward_node(Ref* slot) { forward(slot); }
void forward_cell(Cell* c) {
    if (forwarding) visit_cell<true>(c);
}

void unmark(Ref buffer) { ptr<SeriesBuffer>(buffer)->flags &= ~flag::mark; }

void add_mark_callback(MarkCallback cb) { callbacks.push_back(cb); }
void remove_mark_callback(MarkCallback cb) {
    for (auto& c : callbacks)
        if (c == cb) {
            c = nullptr;
            return;
        }
}

void add_root(Cell* c) { root_cells.push_back(c); }
void remove_root(Cell* c) {
    for (auto& r : root_cells)
        if (r == c) {
            r = root_cells.back();
            root_cells.pop_back();
            return;
        }
}
void add_root_node(Ref* slot) { root_nodes.push_back(slot); }
void register_fixed(Ref buffer) { fixed_buffers.push_back(buffer); }
void set_type_marker(Type t, TypeMarker m) { type_markers[static_cast<uint8_t>(t)] = m; }

void queue_node_release(Ref node) {
    if (!node) return;
    if (release_queue.size() >= release_capacity) flush_node_release();
    release_queue.push_back(node);
}

void flush_node_release() {
    std::sort(release_queue.begin(), release_queue.end());
    // Node frames are not address-sorted in their list; look each node's frame up in the
    // sorted area table.
    build_node_areas();
    for (Ref node : release_queue) {
        auto it = std::upper_bound(node_areas.begin(), node_areas.end(), std::make_pair(node, UINT32_MAX));
        if (it == node_areas.begin()) continue;
        --it;
        if (node >= it->second) continue;
        auto* f = reinterpret_cast<NodeFrame*>(at(it->first) - sizeof(NodeFrame));
        memory::free_node(f, node);
    }
    release_queue.clear();
}

uint32_t free_node_count() {
    uint32_t n = 0;
    for (Ref r = memory::root.first_node_frame; r; r = ptr<NodeFrame>(r)->next) {
        NodeFrame* f = ptr<NodeFrame>(r);
        if (f->free_list && !f->release) n += f->node_count - f->used;
    }
    return n;
}

void update_slots(Ref* first, Ref* last) {
    for (Ref* s = first; s < last; ++s) forward(s);
}

void collect_if_enabled() {
    if (runtime::collector_enabled && !collecting) recycle();
}

void recycle() {
    if (collecting) return;
    collecting = true;
    ++memory::moves;  // and again at the end: code run while it works may note an address
    std::atomic_thread_fence(std::memory_order_seq_cst);
    pending.clear();

    build_node_areas();
    scan_machine_stack();
    if (compaction_allowed) evacuate_sparse_node_frames();

    for (Ref& n : stack_nodes) {
        Ref r = n;
        keep_with_cells<false>(&r);
    }
    for (Cell* c : root_cells) mark_cell(c);
    ownership::mark();
    for (Ref* s : root_nodes)
        if (*s) keep_with_cells<false>(s);
    drain_pending();
    for (MarkCallback cb : callbacks) {
        if (cb) cb();
        drain_pending();
    }
    drain_pending();
    if (forwarding) cycle_stack::update_moved();

    external::sweep();
    hashtable::purge_all();
    ownership::purge();
    compact_series_frames();
    memory::sweep_big_series();
    flush_node_release();
    memory::sweep_node_frames();
    addressmap::free(forwarding);
    forwarding = nullptr;
    for (Ref b : fixed_buffers) unmark(b);
    for (Ref b : fixed_marked) unmark(b);
    fixed_marked.clear();

    ++stats.collections;
    ++memory::moves;
    collecting = false;
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

}  // namespace zuv::collector
