// tag!: text written between angle brackets, with no escaping; everything else is string!'s.
#include "datatypes/string.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::tag {

Cell* push(const Cell* t) { return stack::push(t); }

// form and mold alike: "<", the text as string! forms it, ">".
static int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    string::append_ascii(buffer, "<");
    budget = string::form(value, buffer, part, budget - 1);
    string::append_ascii(buffer, ">");
    return budget - 1;
}

static int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t indent) {
    return form(value, buffer, part, budget);
}

void init() {
    datatype::register_type(Type::tag, {
        .others = datatype::inherit,
        .random = datatype::empty,
        .form = form,
        .mold = mold,
        .sort = datatype::empty,
        .trim = datatype::empty,
    });
}

}  // namespace zuv::tag
