// Datatype registry: one record per datatype id (name, length, word) and the action table
// of 62 slots per datatype, with inheritance resolved when a datatype registers its typed
// table of actions.
// datatype! itself lives here too.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::datatype {

// The actions, in their fixed slot order (1-based), each with the signature of its
// implementation (memory/action-types.h).
#define ZUV_ACTION_SLOTS(X)                                                                                     \
    X(make, Make) X(random, Random) X(reflect, Reflect) X(to, Make) X(form, Form) X(mold, Mold)                \
    X(eval_path, EvalPath) X(set_path, EvalPath) X(compare, Compare) X(absolute, Unary) X(add, Binary)         \
    X(divide, Binary) X(multiply, Binary) X(negate, Unary) X(power, Binary) X(remainder, Binary)               \
    X(round, Round) X(subtract, Binary) X(even_q, Predicate) X(odd_q, Predicate) X(and_t, Binary)              \
    X(complement, Unary) X(or_t, Binary) X(xor_t, Binary) X(append, Append) X(at, Offset) X(back, Series)      \
    X(change, Change) X(clear, Series) X(copy, Copy) X(find, Find) X(head, Series) X(head_q, Series)           \
    X(index_q, Series) X(insert, Append) X(length_q, Length) X(move, Move) X(next, Series) X(pick, Pick)       \
    X(poke, Poke) X(put, Put) X(remove, Remove) X(reverse, Reverse) X(select, Select) X(sort, Sort)            \
    X(skip, Offset) X(swap, Swap) X(tail, Series) X(tail_q, Series) X(take, Take) X(trim, Trim)                \
    X(create, Port) X(close, Port) X(delete_, Port) X(modify, Modify) X(open, Open) X(open_q, Port)            \
    X(query, Port) X(read, Read) X(rename, Rename) X(update, Port) X(write, Write)

// Action slots, 1-based, in their fixed order.
namespace slot {
enum Action : int {
    none_ = 0,
#define ZUV_SLOT_ENUM(name, signature) name,
    ZUV_ACTION_SLOTS(ZUV_SLOT_ENUM)
#undef ZUV_SLOT_ENUM
};
}  // namespace slot
constexpr int action_count = slot::write;
static_assert(action_count == 62);

struct TypeRecord {
    const char* name;     // "integer!"
    int32_t name_length;  // without the final "!"
    Cell word;            // the word interned from the name, once the root block exists
};

extern TypeRecord records[type_records];
extern void* action_table[type_records][256];
extern int highest;

// An action table entry: the implementation's address, null for none.
using Entry = void*;
template <class F>
inline Entry fn(F* f) {
    return reinterpret_cast<void*>(f);
}

// A slot of a datatype's action table as its registration names it: the implementation,
// typed by the action's signature, inherit (the parent's entry) or empty.
struct Inherit {};
struct Empty {};
inline constexpr Inherit inherit{};
inline constexpr Empty empty{};

template <class F>
struct Slot {
    enum class Kind : uint8_t { unnamed, given, inherited, empty };
    Kind kind = Kind::unnamed;
    F fn = nullptr;
    constexpr Slot() = default;
    constexpr Slot(F f) : kind(Kind::given), fn(f) {}
    constexpr Slot(Inherit) : kind(Kind::inherited) {}
    constexpr Slot(Empty) : kind(Kind::empty) {}
};

// What the slots a table does not name hold: nothing, or the parent's entries.
struct Others {
    bool inherit = false;
    constexpr Others() = default;
    constexpr Others(Inherit) : inherit(true) {}
    constexpr Others(Empty) {}
};

// A datatype's action table, one field an action in slot order, written with designated
// initialisers that name each action the type fills: {.others = inherit, .mold = mold_word}.
struct Actions {
    Others others;
#define ZUV_ACTION_FIELD(name, signature) Slot<slotfn::signature> name;
    ZUV_ACTION_SLOTS(ZUV_ACTION_FIELD)
#undef ZUV_ACTION_FIELD
};

// Registers a datatype under the name and parent of the list of datatypes.
void register_type(Type type, const Actions& actions);
// Sets the actions a table names in a registered datatype's slots, the others unchanged: how a
// higher floor (I/O) gives a datatype the actions it implements there. A child registered
// before does not see them, so only a type whose children name those slots themselves is
// filled.
void fill(Type type, const Actions& actions);

inline void* action_of(Type t, int slot) { return action_table[static_cast<uint8_t>(t)][slot - 1]; }

// True once a datatype has registered its actions.
extern bool registered[type_records];
inline bool registered_q(Type t) { return registered[static_cast<uint8_t>(t)]; }


// The id of the registered datatype of that name ("integer!", in any case), or -1.
int id_of_name(std::string_view name);

// datatype! values: header 1, data word 1 the id.
Cell* push(int id);
void make_at(Cell* c, int id);
inline uint32_t id_of(const Cell* c) { return c->data1; }
inline void set_id(Cell* c, uint32_t id) { c->data1 = id; }

void init_registry();
void init();

}  // namespace zuv::datatype
