// Non-local exits that leave C++ code: one exception type carrying a 32-bit throw code.
// A catch site takes the codes at or below its threshold (compared unsigned) and passes
// the others on with rethrow.
#pragma once
#include <cstdint>

namespace zuv::runtime {

enum ThrowCode : uint32_t {
    throw_error = 0x7FFFFFFF,
    throw_break = 0x7FFFFFFE,
    throw_continue = 0x7FFFFFFD,
    throw_return = 0x7FFFFFFC,
    throw_exit = 0x7FFFFFFB,
    throw_throw = 0x7FFFFFFA,
    throw_os_release_failed = 0x7FFFFFF6,
    throw_os_alloc_failed = 0x7FFFFFF7,
};

struct Throw {
    uint32_t code;
};

// Stores the code in the system record and throws it.
[[noreturn]] void throw_code(uint32_t code);
// Throws the code in flight again.
[[noreturn]] void rethrow();

}  // namespace zuv::runtime
