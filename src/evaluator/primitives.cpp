// Argument checks, word and slot access, literals, by-index calls and path lists.
#include "evaluator/primitives.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/natives-list.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv {

namespace function {

}  // namespace function

namespace word {

}  // namespace word

namespace context {

}  // namespace context

namespace literal {

int32_t base = 0;

Cell* cell(int32_t n) { return series::buffer(&block::root)->cells() + base + n; }
}  // namespace literal

namespace natives {

const Cell* switch_lookup(bool skip) {
    Cell value = stack::arguments_base[0];
    Cell cases = stack::arguments_base[1];
    if (value.is(Type::block)) return nullptr;
    int32_t n = series::length(&cases);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(&cases) + i;
        if (c->type() != value.type()) continue;
        Cell candidate = *c;
        if (!actions::compare(&candidate, &value, actions::op::equal)) continue;
        if (!skip) return i + 1 < n ? block::head(&cases) + i + 1 : c;
        for (int32_t j = i + 1; j < n; ++j) {
            Cell* b = block::head(&cases) + j;
            if (b->is(Type::block)) return b;
        }
        return nullptr;
    }
    return nullptr;
}

}  // namespace natives

namespace value {

}  // namespace value

namespace error {

}  // namespace error

}  // namespace zuv
