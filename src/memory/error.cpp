// Raising language errors: the catalogue's ids by name, and the one raise that records the
// error's parts and unrolls. Building the error! value is the error datatype's work, reached
// through error::hooks once it has registered; before that an error travels as its id alone.
#include "memory/error.h"

#include <string_view>

#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::error {

Hooks hooks;

Raised last;

namespace {
struct Named {
    Id id;
    const char* category;
    const char* name;
};
const Named named[] = {
#define ZUV_ERROR_NAMED(cat, nm, c, i, text) {Id{c, i}, #cat, text},
    ZUV_ERROR_IDS(ZUV_ERROR_NAMED)
#undef ZUV_ERROR_NAMED
};
const char* const categories[] = {"throw", "note", "syntax", "script", "math", "access", nullptr, nullptr, "user",
                                  "internal"};
}  // namespace

const char* category_name(uint8_t category) { return category < 10 ? categories[category] : nullptr; }

const char* id_name(Id id) {
    for (const Named& n : named)
        if (n.id == id) return n.name;
    return nullptr;
}

Id id_named(const char* category, const char* id) {
    for (const Named& n : named)
        if (std::string_view(n.category) == category && std::string_view(n.name) == id) return n.id;
    return Id{255, 255};
}

[[noreturn]] void raise(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    last.id = id;
    last.arg_count = 0;
    // An argument may lie in a series buffer that making the error moves: the error is made
    // from copies held here, where the collector sees them.
    Cell held[3];
    const Cell* args[3] = {nullptr, nullptr, nullptr};
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        held[last.arg_count] = *a;
        args[last.arg_count] = &held[last.arg_count];
        last.args[last.arg_count++] = *a;
    }
    Cell error;
    if (stack::arguments_bottom && hooks.build && hooks.build(id, args, &error)) stack::throw_error(&error);
    // Before the catalogue exists (early start-up), the cell carries its category and id.
    cell::make(&error, Type::error, 0, (uint32_t(id.category) << 16) | id.index, 0);
    if (stack::arguments_bottom) stack::throw_error(&error);
    runtime::throw_code(runtime::throw_error);
}

[[noreturn]] void raise_refine_arg(const Cell* refinement, const Cell* value) {
    Cell word = *refinement;
    word.set_type(Type::word);
    raise(id::script_invalid_refine_arg, &word, value);
}

[[noreturn]] void raise_expect_arg(Type type, int32_t argument) {
    Cell word, t;
    stack::get_call_word(&word);
    datatype::make_at(&t, static_cast<int>(type));
    Cell arg;
    cell::make(&arg, Type::none);
    if (hooks.call_argument) arg = hooks.call_argument(argument);
    raise(id::script_expect_arg, &word, &t, &arg);
}

}  // namespace zuv::error
