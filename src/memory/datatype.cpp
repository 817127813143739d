// Datatype registry and datatype!.
#include "memory/datatype.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "datatypes/string.h"
#include "memory/stack.h"
#include "runtime/print.h"
#include "runtime/stdio.h"

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

void register_type(int id, int parent, const char* name, std::initializer_list<Entry> slots) {
    if (id > highest) highest = id;
    registered[id] = true;
    TypeRecord& r = records[id];
    r.name = name;
    r.name_length = static_cast<int32_t>(std::strlen(name)) - 1;
    int n = static_cast<int>(slots.size());
    if (n != action_count) {
        runtime::print_line({"*** Datatype Error: invalid actions count for type: ", int32_t(id)});
        runtime::print_line({"*** Found: ", int32_t(n)});
        runtime::print_line({"*** Expected: ", int32_t(action_count)});
        stdio::flush_pending();
        std::exit(0);
    }
    int s = 0;
    for (Entry e : slots) {
        if (e == inherit) e = parent ? action_table[parent][s] : nullptr;
        action_table[id][s] = e;
        ++s;
    }
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

int32_t compare(Cell* a, Cell* b, int32_t op) {
    switch (op) {
        case 0: case 1: case 2: case 9: case 12:
            return (b->is(Type::datatype) && b->data1 == a->data1) ? 0 : 1;
        default:
            return -2;
    }
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    const TypeRecord& r = records[value->data1];
    string::append_ascii(buffer, std::string_view(r.name, static_cast<size_t>(r.name_length)));
    return budget - r.name_length;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    const TypeRecord& r = records[value->data1];
    if (all) string::append_ascii(buffer, "#(");
    string::append_ascii(buffer, r.name);
    if (all) string::append_ascii(buffer, ")");
    return budget - (r.name_length + 1) - (all ? 3 : 0);
}

void init() {
    register_type(1, 0, "datatype!",
                  {nullptr, nullptr, nullptr, nullptr, fn(form), fn(mold), nullptr, nullptr, fn(compare), nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr});
}

}  // namespace zuv::datatype
