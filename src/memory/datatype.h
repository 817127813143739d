// Datatype registry: one record per datatype id (name, length, word) and the action table
// of 62 slots per datatype, with inheritance resolved when a datatype registers.
// datatype! itself lives here too.
#pragma once
#include <cstdint>
#include <string_view>
#include <initializer_list>

#include "memory/cell.h"

namespace zuv::datatype {

// Action slots, 1-based, in their fixed order.
namespace slot {
enum Action : int {
    make = 1, random, reflect, to, form, mold, eval_path, set_path, compare, absolute,
    add, divide, multiply, negate, power, remainder, round, subtract, even_q, odd_q,
    and_t, complement, or_t, xor_t, append, at, back, change, clear, copy,
    find, head, head_q, index_q, insert, length_q, move, next, pick, poke,
    put, remove, reverse, select, sort, skip, swap, tail, tail_q, take,
    trim, create, close, delete_, modify, open, open_q, query, read, rename,
    update, write,
};
}  // namespace slot
constexpr int action_count = 62;

struct TypeRecord {
    const char* name;     // "integer!"
    int32_t name_length;  // without the final "!"
    Cell word;            // the word interned from the name, once the root block exists
};

extern TypeRecord records[type_records];
extern void* action_table[type_records][256];
extern int highest;

// An action slot entry: a function, null for none, or inherit for the parent's entry.
using Entry = void*;
inline Entry const inherit = reinterpret_cast<void*>(intptr_t(-1));
template <class F>
inline Entry fn(F* f) {
    return reinterpret_cast<void*>(f);
}

// Registers a datatype. A list of other than 62 entries ends the process after a report.
void register_type(int id, int parent, const char* name, std::initializer_list<Entry> slots);

inline void* action_of(Type t, int slot) { return action_table[static_cast<uint8_t>(t)][slot - 1]; }

// True once a datatype has registered its actions.
extern bool registered[type_records];
inline bool registered_q(Type t) { return registered[static_cast<uint8_t>(t)]; }

// Gives every registered datatype its name word (once words can be made).
void name_words();

// The id of the registered datatype of that name ("integer!", in any case), or -1.
int id_of_name(std::string_view name);

// datatype! values: header 1, data word 1 the id.
Cell* make_in(Cell* block, int id);
Cell* push(int id);
void make_at(Cell* c, int id);

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

void init_registry();
void init();

}  // namespace zuv::datatype
