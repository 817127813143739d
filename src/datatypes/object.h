// object!: a value that owns an object context (named fields with values), a class id,
// and optional change handlers (on-change*, on-deep-change*) called when a field is set
// or a series held in a field changes.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "memory/cell.h"

namespace zuv::object {

// The data words of an object! (and of error! and port!, which share its cell): its context
// node, its class id and its handler record (0 when it has no change handler).
inline Ref context_of(const Cell* o) { return o->data1; }
inline uint32_t class_of(const Cell* o) { return o->data2; }
inline Ref record_of(const Cell* o) { return o->data3; }
inline void set_class(Cell* o, uint32_t id) { o->data2 = id; }
inline void set_record(Cell* o, Ref record) { o->data3 = record; }
// A handler record is two pair! cells, on-change* then on-deep-change*; word 2 of each holds
// the handler's field index << 16 | its local count (0xFFFF << 16 when absent), word 3 the
// node of its spec (read by the collector and the codec as a plain word).
inline uint32_t handler_slot(const Cell* entry) { return entry->data2; }

extern uint32_t class_counter;
uint32_t new_class_id();

// An empty object of `size` slots in the cell: class 0, no handlers.
void make_at(Cell* c, int32_t size);
Cell* push(Ref context, uint32_t class_id, Ref record);
// Pushes an object! over the global context itself (class id -1, no handlers) and makes it
// the context's owner: reading or setting its fields reads or sets the global words.
Cell* push_global_context();
// Refreshes the context's owner cell with a copy of the object.
void refresh_owner(const Cell* object);

Cell* get_word(Ref context, int32_t index);
// The value cell of the field a word names in an object, or null when it has no such field:
// the lookup of a path's field without its errors, for the evaluator's short ways.
Cell* field_cell(const Cell* object, const Cell* word);
// Sets the field a word names to a value, as a path does, when the object has that field and
// no change handler to tell; false, with nothing done, otherwise.
bool set_field_quietly(const Cell* object, const Cell* word, const Cell* value);
// The value of a word in the object (case-insensitive), or the shared none cell.
Cell* find_value(const Cell* object, int32_t symbol);
int32_t find_index(const Cell* object, int32_t symbol);
int32_t word_count(const Cell* object);
// The value at a path of fields from the global system object (system/state/stack-trace is
// {"state", "stack-trace"}), or null while system or an object on the way is missing. A
// missing last field gives the shared none cell. Valid until the next allocation.
Cell* system_field(std::initializer_list<const char*> path);

// Makes an object from a prototype (or none) and a spec (a block or an object) into out.
void make(const Cell* prototype, const Cell* spec, Cell* out);
// `construct`: an object from a block without evaluating it; the logic and none words give
// their values unless `only`.
void construct(const Cell* block, const Cell* prototype, Cell* out, bool only = false);
// Copies a value for a new object: series copied one level, functions re-made.
void copy_value(Cell* value, Ref new_context);

// Change notification.
void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value);
void fire_on_deep_change(const Cell* object, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part);
void build_record(Cell* object);

void init();

}  // namespace zuv::object
