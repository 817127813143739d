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
    datatype::register_type(Type::ref, {
        .others = datatype::inherit,
        .random = datatype::empty,
        .mold = mold,
        .eval_path = datatype::empty,
        .append = datatype::empty,
        .sort = datatype::empty,
        .trim = datatype::empty,
    });
}

}  // namespace zuv::ref
