// Series ownership: an object can be told when a series held in one of its fields changes in
// place. A table maps each owned series node to (value, owner object, field word); every
// action that modifies a series calls check before and after the change.
#pragma once
#include <cstdint>

#include "memory/arena.h"
#include "memory/cell.h"
#include "memory/memory.h"

namespace zuv::ownership {

// image! values carry their owned mark in the value cell, not in the buffer.
constexpr uint32_t image_owned = 0x10000;

// The table: node -> (value, owner, word). Weak: the collector drops the entries whose
// series or owner died.
extern Ref table;

void init();

// Tells the owner of the target's series (for an object!, of its context) about a change:
// the action's word (its symbol id, the present form before the change and the past form
// after it, as `append` and `appended`), the new value (null when there is none), the index
// and the count of units concerned. True when an owner's on-deep-change* was called; a
// handler's error travels on to the caller.
bool check(Cell* target, int32_t action_word, Cell* new_value, int32_t index, int32_t part);

// False when the target can have no owner to tell: a block-like or plain series whose buffer
// carries no owned flag (what check finds first, without the call), or a value of a kind
// that is never owned. True when check must look.
inline bool may_be_owned(const Cell* target) {
    switch (target->type()) {
        case Type::block: case Type::paren: case Type::hash: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::string: case Type::file: case Type::url:
        case Type::tag: case Type::email: case Type::ref: case Type::binary: case Type::vector: case Type::bitset:
            return target->data2 && (memory::buffer_of(target->data2)->flags & memory::flag::owned);
        case Type::map:
            return false;
        default:
            return true;
    }
}

// The owner object recorded for a series node (the object as it stands now), or null.
// Valid until the next allocation.
Cell* get_owner(Ref node);

// Marks the value as owned by the object under the field word: series, bitsets and images
// get a table entry (one already owned keeps its entry), blocks pass it on to their cells,
// objects to their fields under each field's own word. Cycles are walked once.
void set(Cell* value, const Cell* owner, const Cell* word);
// set, after flagging the owner's context as an owner. Raises script/invalid-arg with the
// owner or the word when they are not an object and a word.
void bind(Cell* value, const Cell* owner, const Cell* word);
// Removes ownership from the value, recursively through blocks and objects.
void unset(Cell* value);
// unset limited to what the owner holds: series owned by another object keep their owner.
void release(Cell* value, const Cell* owner);
// Makes the object the owner of its own field values, each under its field word.
void own_fields(const Cell* object);

// Collector steps: mark keeps the table (not what it names); purge, while the marks stand,
// drops the entries whose series or owner died and unbinds field words whose context died.
void mark();
void purge();

}  // namespace zuv::ownership
