// The cycle stack.
#include "memory/cycle-stack.h"

#include <string_view>

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

void update_moved() { collector::update_slots(entries, entries + depth); }

}  // namespace zuv::cycle_stack
