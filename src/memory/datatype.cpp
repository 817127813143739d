// The datatype registry: each type's record and action slots, and datatype! values.
#include "memory/datatype.h"

#include <array>
#include <cctype>
#include <type_traits>
#include <cstdlib>
#include <cstring>

#include "memory/stack.h"

namespace zuv::datatype {

TypeRecord records[type_records];
void* action_table[type_records][256];
int highest = 0;
bool registered[type_records];

namespace {
// Every datatype's name by id, so that a type's word and its molded form exist from the
// start, before (and whether or not) the type registers its actions.
constexpr auto type_names = [] {
    std::array<const char*, type_count + 1> names{};
#define ZUV_TYPE_NAME(cpp, id, name, parent, at_start) names[id] = name;
    ZUV_DATATYPES(ZUV_TYPE_NAME)
#undef ZUV_TYPE_NAME
    return names;
}();
}  // namespace

void init_registry() {
    std::memset(records, 0, sizeof records);
    std::memset(action_table, 0, sizeof action_table);
    std::memset(registered, 0, sizeof registered);
    highest = 0;
    for (int id = 1; id <= type_count; ++id) {
        records[id].name = type_names[id];
        records[id].name_length = static_cast<int32_t>(std::strlen(type_names[id])) - 1;
    }
}

namespace {
// The parent of each datatype, from the list of datatypes.
constexpr auto parents = [] {
    std::array<Type, type_count + 1> p{};
#define ZUV_TYPE_PARENT(cpp, id, name, parent, at_start) p[id] = Type::parent;
    ZUV_DATATYPES(ZUV_TYPE_PARENT)
#undef ZUV_TYPE_PARENT
    return p;
}();
}  // namespace

void register_type(Type type, const Actions& actions) {
    const int id = static_cast<int>(type);
    const int parent = static_cast<int>(parents[id]);
    if (id > highest) highest = id;
    registered[id] = true;
    int s = 0;
    auto fill = [&](const auto& slot) {
        using Kind = typename std::decay_t<decltype(slot)>::Kind;
        bool inherited = slot.kind == Kind::inherited || (slot.kind == Kind::unnamed && actions.others.inherit);
        action_table[id][s] = slot.kind == Kind::given ? fn(slot.fn)
                              : inherited && parent ? action_table[parent][s]
                                                    : nullptr;
        ++s;
    };
#define ZUV_FILL_SLOT(name, signature) fill(actions.name);
    ZUV_ACTION_SLOTS(ZUV_FILL_SLOT)
#undef ZUV_FILL_SLOT
}

void fill(Type type, const Actions& actions) {
    const int id = static_cast<int>(type);
    int s = 0;
    auto set = [&](const auto& slot) {
        using Kind = typename std::decay_t<decltype(slot)>::Kind;
        if (slot.kind == Kind::given) action_table[id][s] = fn(slot.fn);
        ++s;
    };
#define ZUV_SET_SLOT(name, signature) set(actions.name);
    ZUV_ACTION_SLOTS(ZUV_SET_SLOT)
#undef ZUV_SET_SLOT
}

int id_of_name(std::string_view name) {
    for (int id = 1; id <= highest; ++id) {
        const char* n = records[id].name;
        if (!registered[id] || !n || std::strlen(n) != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(n[i])) == std::tolower(static_cast<unsigned char>(name[i]));
        if (same) return id;
    }
    return -1;
}

void make_at(Cell* c, int id) { cell::make(c, Type::datatype, static_cast<uint32_t>(id)); }

Cell* push(int id) {
    Cell* c = stack::push_slot();
    make_at(c, id);
    return c;
}

}  // namespace zuv::datatype
