// Throwing and rethrowing runtime codes.
#include "runtime/throw.h"

#include "runtime/system.h"

namespace zuv::runtime {

[[noreturn]] void throw_code(uint32_t code) {
    if (system_record) system_record->thrown_code = code;
    throw Throw{code};
}

[[noreturn]] void rethrow() {
    throw Throw{system_record ? system_record->thrown_code : throw_error};
}

}  // namespace zuv::runtime
