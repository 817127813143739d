// Garbage collector: marks every buffer reachable from the roots (and from node
// references found on the machine stack), releases the nodes of dead buffers and the OS
// resources of dead values, slides live buffers together and frees emptied frames.
#pragma once
#include <cstdint>

#include "memory/arena.h"
#include "memory/cell.h"

namespace zuv::collector {

struct Stats {
    uint32_t collections;   // completed collections
    uint32_t node_moves;    // collections that moved nodes
    uint32_t window;        // node-compaction window setting
};
extern Stats stats;

// Set from the environment at start-up (ZUV_GC_TORTURE=1): collect at every allocation.
extern bool torture;
// Cleared by code that must not see nodes move.
extern bool compaction_allowed;
// The machine-stack scan; only tests that check exact reclamation turn it off.
extern bool scan_stack;

void init();
void init_state();

void recycle();
void collect_if_enabled();
bool running_q();

// Marking primitives for mark callbacks and datatypes.
bool keep(Ref* node_slot);
void keep_series(Ref* node_slot);
void keep_block(Cell* block);
void keep_context(Ref* node_slot);
void mark_cells(Cell* start, Cell* end);
void unmark(Ref buffer);
// Rewrites node references moved by the running collection, without marking anything:
// for weak tables, whose entries must not keep what they name alive.
void forward_node(Ref* node_slot);
void forward_cell(Cell* cell);

using MarkCallback = void (*)();
void add_mark_callback(MarkCallback callback);
void remove_mark_callback(MarkCallback callback);

// Roots outside the arena: cells whose values the collector keeps alive, and slots that
// hold a node (kept as a series with its cells when the buffer holds cells).
void add_root(Cell* cell);
void remove_root(Cell* cell);
void add_root_node(Ref* node_slot);

void queue_node_release(Ref node);
void flush_node_release();
uint32_t free_node_count();

// Rewrites every node slot in [first, last) that an evacuation moved.
void update_slots(Ref* first, Ref* last);
// Fixed buffers live outside the frames; their marks are cleared after each collection.
void register_fixed(Ref buffer);

// A datatype's extra marking hook (image records, events...): called for every live cell
// of that datatype after the standard marking.
using TypeMarker = void (*)(Cell* cell);
void set_type_marker(Type type, TypeMarker marker);

// The symbol of the word self: a word spelled so keeps its context as a plain series.
extern uint32_t self_symbol;

}  // namespace zuv::collector
