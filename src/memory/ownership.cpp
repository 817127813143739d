// Series ownership: the table of owned series and the notification of their owners. Entries
// hold copies of cells; any allocation may move the table's buffers, so nothing here keeps a
// pointer into them across a call that can allocate or run a handler.
#include "memory/ownership.h"

#include "memory/collector.h"
#include "memory/context-node.h"
#include "memory/error.h"
#include "memory/cycle-stack.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "memory/upcalls.h"

namespace zuv::ownership {

Ref table = 0;

namespace {

enum class Kind { none, block, plain, image, object };

Kind kind_of(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::hash: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path:
            return Kind::block;
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
        case Type::binary: case Type::vector: case Type::bitset:
            return Kind::plain;
        case Type::image:
            return Kind::image;
        case Type::object:
            return Kind::object;
        default:
            return Kind::none;
    }
}

bool object_like(const Cell* c) { return c->is(Type::object) || c->is(Type::error) || c->is(Type::port); }

bool marked(Ref node) { return memory::buffer_of(node)->flags & memory::flag::mark; }

// Entry cells name only what the purge can vouch for: the series (the key), the owner's
// context and the word's context. The rest (a hash! index, an object's handler record)
// may die while the entry lives, so it is not kept; the owner's record is read from its
// context when needed.
Cell entry_value(const Cell* v) {
    Cell c = *v;
    c.data3 = 0;
    c.header &= ~header::new_line;
    return c;
}

Cell entry_word(const Cell* w) {
    Cell c = *w;
    c.header = static_cast<uint32_t>(Type::word);
    return c;
}

// A block's buffer from index 0, and its length in cells.
Cell* cells_of(const Cell* b) { return memory::buffer_of(b->data2)->cells(); }
int32_t cell_count(const Cell* b) {
    return static_cast<int32_t>(memory::buffer_of(b->data2)->used_bytes() / sizeof(Cell));
}

// The object a context belongs to, as it stands now (its owner cell is refreshed whenever
// the object's class or handlers change).
Cell* live_owner(Ref ctx) {
    Cell* o = context::owner_of(ctx);
    return object_like(o) ? o : nullptr;
}

bool deep_handler_q(const Cell* owner) {
    if (!owner->data3) return false;
    const Cell* record = memory::buffer_of(owner->data3)->cells();
    return (record[1].data2 & 0xFFFF0000) != 0xFFFF0000;
}

void set_entry(Ref key, const Cell* value, const Cell* owner, const Cell* word) {
    Cell v = entry_value(value), o = entry_value(owner), w = entry_word(word);
    Cell* e = hashtable::put_key(table, key);
    e[0] = v;
    e[1] = o;
    e[2] = w;
}

}  // namespace

void init() { table = hashtable::make(1000, nullptr, hashtable::kind_ownership, 3); }

bool check(Cell* target, int32_t action_word, Cell* new_value, int32_t index, int32_t part) {
    if (!table) return false;
    Kind k = kind_of(target->type());
    if (k == Kind::none && !object_like(target)) return false;
    Ref key = object_like(target) ? target->data1 : target->data2;
    if (!key) return false;
    // Most series are not owned: the buffer flag answers without a lookup.
    if ((k == Kind::block || k == Kind::plain) && !(memory::buffer_of(key)->flags & memory::flag::owned))
        return false;
    Cell* e = hashtable::get_key(table, key);
    if (!e) return false;
    Cell word = e[2];
    Cell* o = live_owner(e[1].data1);
    if (!o || !deep_handler_q(o)) return false;
    Cell owner = *o, t = *target, nv;
    if (new_value) nv = *new_value;
    else cell::make(&nv, Type::none);
    upcall::calls.notify_deep_change(&owner, &word, &t, action_word, &nv, index, part);
    return true;
}

Cell* get_owner(Ref node) {
    if (!table || !node) return nullptr;
    Cell* e = hashtable::get_key(table, node);
    return e ? live_owner(e[1].data1) : nullptr;
}

void set(Cell* value, const Cell* owner_in, const Cell* word_in) {
    if (!table) return;
    Cell owner = *owner_in, word = *word_in;
    Cell v = *value;
    Kind k = kind_of(v.type());
    if (k == Kind::object) {
        Ref ctx = v.data1;
        if (context::cell_of(ctx)->header & context::bit::owner) return;
        if (cycle_stack::find(ctx)) return;
        cycle_stack::Scope scope;
        cycle_stack::push(ctx);
        int32_t n = context::size_of(ctx);
        for (int32_t i = 0; i < n; ++i) {
            Cell field = entry_word(context::word_at(ctx, i));
            int32_t slot = field.int3();
            Cell* fv = context::block_values(ctx) + slot;
            if (object_like(fv) && fv->data1 == owner.data1) continue;
            set(fv, &owner, &field);
        }
        cycle_stack::pop();
        return;
    }
    if (k == Kind::none || !v.data2) return;
    Ref key = v.data2;
    bool flagged = k == Kind::image ? (v.header & image_owned) : (memory::buffer_of(key)->flags & memory::flag::owned);
    // A flag without an entry is left by an owner that died: the series is free again.
    if (!flagged || !hashtable::get_key(table, key)) {
        if (k == Kind::image) {
            value->header |= image_owned;
            v.header |= image_owned;
        }
        set_entry(key, &v, &owner, &word);
        if (k != Kind::image) memory::buffer_of(key)->flags |= memory::flag::owned;
    }
    if (k != Kind::block || cycle_stack::find(key)) return;
    cycle_stack::Scope scope;
    cycle_stack::push(key);
    // The buffer may move while entries are made: each cell is reached again from the node.
    for (int32_t i = v.int1() < 0 ? 0 : v.int1(); i < cell_count(&v); ++i)
        set(cells_of(&v) + i, &owner, &word);
    cycle_stack::pop();
}

void bind(Cell* value, const Cell* owner, const Cell* word) {
    if (!object_like(owner)) error::raise(error::id::script_invalid_arg, owner);
    if (word->type() < Type::word || word->type() > Type::refinement) error::raise(error::id::script_invalid_arg, word);
    // Flagged first, so that a value that leads back to the owner does not hand the owner's
    // own fields to it under a foreign word.
    context::cell_of(owner->data1)->header |= context::bit::owner;
    set(value, owner, word);
}

namespace {

// Removes the ownership of the value, or with an owner context only what that owner holds.
void release_from(Cell* value, Ref only) {
    Cell v = *value;
    Kind k = kind_of(v.type());
    if (k == Kind::object) {
        Ref ctx = v.data1;
        if (cycle_stack::find(ctx) || (context::cell_of(ctx)->header & context::bit::owner)) return;
        cycle_stack::Scope scope;
        cycle_stack::push(ctx);
        int32_t n = context::size_of(ctx);
        for (int32_t i = 0; i < n; ++i) release_from(context::block_values(ctx) + context::word_at(ctx, i)->int3(), only);
        cycle_stack::pop();
        return;
    }
    if (k == Kind::none || !v.data2 || !table) return;
    Ref key = v.data2;
    Cell* e = hashtable::get_key(table, key);
    if (only && (!e || e[1].data1 != only)) return;
    if (k == Kind::image) value->header &= ~image_owned;
    else memory::buffer_of(key)->flags &= ~memory::flag::owned;
    if (!e) return;
    for (int i = 0; i < 3; ++i) cell::make(e + i, Type::unset);
    hashtable::remove_key(table, key);
    // The entry is gone before the descent, so a block that holds itself stops here.
    if (k != Kind::block) return;
    for (int32_t i = v.int1() < 0 ? 0 : v.int1(); i < cell_count(&v); ++i)
        release_from(cells_of(&v) + i, only);
}

}  // namespace

void unset(Cell* value) { release_from(value, 0); }

void release(Cell* value, const Cell* owner) {
    if (object_like(owner)) release_from(value, owner->data1);
}

void own_fields(const Cell* object_in) {
    Cell object = *object_in;
    Ref ctx = object.data1;
    context::cell_of(ctx)->header |= context::bit::owner;
    int32_t n = context::size_of(ctx);
    for (int32_t i = 0; i < n; ++i) {
        Cell field = entry_word(context::word_at(ctx, i));
        Cell* fv = context::block_values(ctx) + field.int3();
        if (object_like(fv) && fv->data1 == ctx) continue;
        set(fv, &object, &field);
    }
}

void mark() {
    if (table) hashtable::mark(&table);
}

void purge() {
    if (!table) return;
    hashtable::Record* r = hashtable::record_of(table);
    memory::SeriesBuffer* s = memory::buffer_of(r->series);
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    for (uint8_t* p = s->head_ptr(); p + entry <= s->tail_ptr(); p += entry) {
        auto* key = reinterpret_cast<Cell*>(p);
        if (key->header != static_cast<uint32_t>(Type::unset)) continue;  // a free entry
        bool key_live = marked(key->data1);
        if (key_live && !marked(key[2].data1)) {
            // The owner died: its series is free to be owned again.
            memory::buffer_of(key->data1)->flags &= ~memory::flag::owned;
        }
        // A field word of a nested object that died must not keep naming its context.
        Cell* w = key + 3;
        if (w->data1 && !marked(w->data1)) {
            w->data1 = 0;
            w->data3 = static_cast<uint32_t>(-1);
        }
    }
    hashtable::purge(table);
}

}  // namespace zuv::ownership
