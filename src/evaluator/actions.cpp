// Action dispatch.
#include "evaluator/actions.h"

#include "evaluator/error.h"
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
        case Type::function: case Type::routine:
            if (!b->is(a->type())) return -2;
            return a->data2 == b->data2 ? 0 : (a->data2 < b->data2 ? -1 : 1);
        default: {
            auto f = reinterpret_cast<CompareFn>(datatype::action_of(a->type(), datatype::slot::compare));
            if (!f) return -2;
            return f(a, b, op);
        }
    }
}

bool compare(Cell* a, Cell* b, int32_t op) {
    int32_t r = compare_dispatch(a, b, op);
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

}  // namespace zuv::actions
