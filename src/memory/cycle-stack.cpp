// The cycle stack.
#include "memory/cycle-stack.h"

#include <string_view>

#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/collector.h"

namespace zuv::cycle_stack {

Ref entries[capacity];
int depth = 0;

void push(Ref node) {
    entries[depth++] = node;
    if (depth >= capacity) {
        depth = 0;
        error::raise(error::id::internal_too_deep);
    }
}

bool find(Ref node) {
    for (int i = 0; i < depth; ++i)
        if (entries[i] == node) return true;
    return false;
}

bool detect(const Cell* value, Cell* buffer, int32_t* budget, bool mold) {
    Ref node = value->is(Type::object) ? value->data1 : value->data2;
    if (!find(node)) return false;
    std::string_view text = "...";
    if (mold) {
        switch (value->type()) {
            case Type::block: case Type::hash: text = "[...]"; break;
            case Type::paren: text = "(...)"; break;
            case Type::map: text = "#[...]"; break;
            case Type::object: text = "make object! [...]"; break;
            default: break;
        }
    }
    string::append_ascii(buffer, text);
    *budget -= static_cast<int32_t>(text.size());
    return true;
}

void update_moved() { collector::update_slots(entries, entries + depth); }

}  // namespace zuv::cycle_stack
