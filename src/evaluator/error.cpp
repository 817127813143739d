// Raising language errors.
#include "evaluator/error.h"

#include <initializer_list>

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
    runtime::throw_code(runtime::throw_error);
}

}  // namespace zuv::error
