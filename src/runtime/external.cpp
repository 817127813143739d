// External-resource table: records threaded on an in-use list and a free list; the
// records table doubles when its last free record is taken, so indexes stay stable.
#include "runtime/external.h"

#include "runtime/alloc.h"

namespace zuv::external {

Record* records = nullptr;
int32_t capacity = 0;
int32_t in_use_head = -1;
int32_t free_head = -1;

namespace {

Kind* kinds = nullptr;
int32_t kind_count = 0;

void thread_free(int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) records[i] = Record{free_marker, 0, i + 1 < to ? i + 1 : -1};
}

void free_record(int32_t index) {
    records[index] = Record{free_marker, 0, free_head};
    free_head = index;
}

void unlink(int32_t index, int32_t previous) {
    if (previous < 0) in_use_head = records[index].next;
    else records[previous].next = records[index].next;
}

}  // namespace

void init() {
    kinds = static_cast<Kind*>(runtime::alloc_zeroed(sizeof(Kind) * max_kinds));
    kind_count = 0;
    capacity = 1000;
    records = static_cast<Record*>(runtime::alloc(sizeof(Record) * static_cast<size_t>(capacity)));
    thread_free(0, capacity);
    in_use_head = -1;
    free_head = 0;
}

int32_t register_kind(const char* name, Release callback) {
    kinds[kind_count] = Kind{name, callback};
    return ++kind_count;
}

int32_t add(uintptr_t value, int32_t kind) {
    if (records[free_head].next == -1) {
        int32_t old = capacity;
        capacity *= 2;
        records = static_cast<Record*>(runtime::realloc(records, sizeof(Record) * static_cast<size_t>(capacity)));
        thread_free(old, capacity);
        records[free_head].next = old;
    }
    int32_t index = free_head;
    free_head = records[index].next;
    records[index] = Record{static_cast<uint32_t>(kind), value, in_use_head};
    in_use_head = index;
    return index;
}

void release(uint32_t kind_word, uintptr_t value) {
    int32_t k = static_cast<int32_t>(kind_word & 0xFF);
    if (k >= 1 && k <= kind_count && kinds[k - 1].release) kinds[k - 1].release(value);
}

void release_record(const Record& r) { release(r.kind, r.value); }

void set_value(int32_t index, uintptr_t value) {
    Record& r = records[index];
    uintptr_t old = r.value;
    r.value = value;
    if (old != value) release(r.kind, old);
}

void remove(int32_t index, bool release_it) {
    if (release_it) release_record(records[index]);
    int32_t previous = -1;
    if (in_use_head != index) {
        previous = in_use_head;
        while (previous >= 0 && records[previous].next != index) previous = records[previous].next;
        if (previous < 0) return;  // not in use: nothing to unlink
    }
    unlink(index, previous);
    free_record(index);
}

bool mark(int32_t index, const uintptr_t* new_value) {
    if (index < 0 || index >= capacity || records[index].kind == free_marker) return false;
    Record& r = records[index];
    if (new_value) r.value = *new_value;
    if (r.kind & live_mark) return false;
    r.kind |= live_mark;
    return true;
}

void for_each(int32_t kind, void (*callback)(uintptr_t)) {
    for (int32_t i = in_use_head; i >= 0; i = records[i].next)
        if (static_cast<int32_t>(records[i].kind & 0xFF) == kind) callback(records[i].value);
}

void sweep() {
    int32_t previous = -1;
    for (int32_t i = in_use_head; i >= 0;) {
        int32_t next = records[i].next;
        if (records[i].kind & live_mark) {
            records[i].kind &= ~live_mark;
            previous = i;
        } else {
            release_record(records[i]);
            unlink(i, previous);
            free_record(i);
        }
        i = next;
    }
}

}  // namespace zuv::external
