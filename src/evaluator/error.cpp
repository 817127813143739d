// Raising language errors.
#include "evaluator/error.h"

#include <initializer_list>
#include <string_view>

#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::error {

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
