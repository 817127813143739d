// A value formed or molded into a new string!.
#include "datatypes/form.h"

#include "datatypes/string.h"
#include "memory/actions.h"
#include "memory/stack.h"

namespace zuv::actions {

void form_to(Cell* value, Cell* out) {
    Cell v = *value;
    Cell* held = stack::push(&v);
    Cell* s = string::push_new(16);
    form_dispatch(held, s, nullptr, no_limit);
    *out = *s;
    stack::pop(2);
}

void mold_to(Cell* value, Cell* out, bool all) {
    Cell v = *value;
    Cell* held = stack::push(&v);
    Cell* s = string::push_new(16);
    mold_dispatch(held, s, false, all, false, nullptr, no_limit, 0);
    *out = *s;
    stack::pop(2);
}

}  // namespace zuv::actions
