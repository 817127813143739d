// ref!: text written after "@"; everything else is string!'s, but it has no paths, no
// append and no put.
#include "datatypes/string.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::ref {

Cell* push(const Cell* r) { return stack::push(r); }

static int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t indent) {
    string::append_ascii(buffer, "@");
    return string::form(value, buffer, part, budget - 1);
}

void init() {
    using datatype::fn;
    using datatype::inherit;
    datatype::register_type(50, 7, "ref!",
        {inherit, nullptr, inherit, inherit, inherit, fn(mold), nullptr, nullptr, inherit, nullptr,
         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
         nullptr, nullptr, nullptr, nullptr, nullptr, inherit, inherit, inherit, inherit, inherit,
         inherit, inherit, inherit, inherit, inherit, inherit, inherit, inherit, inherit, inherit,
         nullptr, inherit, inherit, inherit, nullptr, inherit, inherit, inherit, inherit, inherit,
         nullptr, nullptr, nullptr, nullptr, inherit, nullptr, nullptr, nullptr, nullptr, nullptr,
         nullptr, nullptr});
}

}  // namespace zuv::ref
