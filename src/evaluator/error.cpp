// Raising language errors.
#include "evaluator/error.h"

#include <initializer_list>

#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::error {

Raised last;

[[noreturn]] void raise(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    last.id = id;
    last.arg_count = 0;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        last.args[last.arg_count++] = *a;
    }
    // Until error! values are objects, the cell carries its category and id and the
    // arguments stay in `last`.
    Cell error;
    cell::make(&error, Type::error, 0, (uint32_t(id.category) << 16) | id.index, 0);
    if (stack::arguments_bottom) stack::throw_error(&error);
    runtime::throw_code(runtime::throw_error);
}

}  // namespace zuv::error
