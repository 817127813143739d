// External-resource table: OS resources owned by values (bitmaps, fonts, text layouts),
// each recorded with a kind whose callback releases it. Values keep the record's index;
// the collector marks live records and the sweep releases the rest.
#pragma once
#include <cstdint>

namespace zuv::external {

using Release = void (*)(uintptr_t value);

struct Kind {
    const char* name;
    Release release;
};

struct Record {
    uint32_t kind;   // kind handle in bits 0-7; bit 31 the live mark; exactly free_marker when free
    uintptr_t value;
    int32_t next;    // next record on the same list, -1 ends it
};

constexpr uint32_t live_mark = 0x80000000;
constexpr uint32_t free_marker = 0x40000000;
constexpr int max_kinds = 20;

extern Record* records;
extern int32_t capacity;
extern int32_t in_use_head;
extern int32_t free_head;

void init();
int32_t register_kind(const char* name, Release release);
int32_t add(uintptr_t value, int32_t kind);
void set_value(int32_t index, uintptr_t value);
void remove(int32_t index, bool release);
void release(uint32_t kind_word, uintptr_t value);
void release_record(const Record& record);
// Sets the live mark (and a new value when one is given); true when it was not set yet.
bool mark(int32_t index, const uintptr_t* new_value);
void for_each(int32_t kind, void (*callback)(uintptr_t value));
void sweep();

}  // namespace zuv::external
