// Action dispatch: an action's implementation chosen by the datatype of its first argument,
// through the registry's action table.
#include "memory/actions.h"

#include "memory/error.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "runtime/fatal.h"

namespace zuv::actions {

using CompareFn = int32_t (*)(Cell*, Cell*, int32_t);

int32_t compare_dispatch(Cell* a, Cell* b, int32_t op) {
    switch (a->type()) {
        case Type::logic:
            if (!b->is(Type::logic)) return -2;
            return static_cast<int32_t>(a->data1) - static_cast<int32_t>(b->data1);
        case Type::native: case Type::action: case Type::op:
            if (!b->is(a->type())) return -2;
            return a->data1 == b->data1 ? 0 : (a->data1 < b->data1 ? -1 : 1);
        default: {
            auto f = reinterpret_cast<CompareFn>(datatype::action_of(a->type(), datatype::slot::compare));
            if (!f) return -2;
            return f(a, b, op);
        }
    }
}

bool compare(Cell* a, Cell* b, int32_t op) {
    // The datatype's own comparison, which refuses orderings it does not define (true <
    // false); compare_dispatch is the integer order that sorting uses.
    auto f = reinterpret_cast<CompareFn>(datatype::action_of(a->type(), datatype::slot::compare));
    int32_t r = f ? f(a, b, op) : compare_dispatch(a, b, op);
    if (r == -2 && op >= 3 && op <= 8) error::raise(error::id::script_invalid_compare, a, b);
    switch (op) {
        case 0: case 2: case 9: case 10: case 11: case 12: return r == 0;
        case 1: return r != 0;
        case 3: return r < 0;
        case 4: return r <= 0;
        case 5: return r > 0;
        case 6: return r >= 0;
        case 7: case 8: return r > 0;
        default: runtime::quit(runtime::no_switch_match, 0);
    }
}

void* get_action_ptr_of(const Cell* value, int slot) {
    void* f = datatype::action_of(value->type(), slot);
    if (!f) [[unlikely]] error::raise_expect_arg(value->type(), 0);
    return f;
}

int32_t form_dispatch(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    auto f = reinterpret_cast<slotfn::Form>(get_action_ptr_of(value, datatype::slot::form));
    return f(value, buffer, part, budget);
}

int32_t mold_dispatch(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                      int32_t indent) {
    auto f = reinterpret_cast<slotfn::Mold>(get_action_ptr_of(value, datatype::slot::mold));
    return f(value, buffer, only, all, flat, part, budget, indent);
}

}  // namespace zuv::actions
