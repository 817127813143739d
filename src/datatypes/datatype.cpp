// datatype!: a value naming a datatype (data word 1 its id); forms as its name without the
// "!", molds with it.
#include "memory/datatype.h"

#include "datatypes/string.h"

namespace zuv::datatype {

namespace {

int32_t compare(Cell* a, Cell* b, int32_t op) {
    switch (op) {
        case 0: case 1: case 2: case 9: case 12:
            return (b->is(Type::datatype) && id_of(b) == id_of(a)) ? 0 : 1;
        default:
            return -2;
    }
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    const TypeRecord& r = records[id_of(value)];
    string::append_ascii(buffer, std::string_view(r.name, static_cast<size_t>(r.name_length)));
    return budget - r.name_length;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    const TypeRecord& r = records[id_of(value)];
    if (all) string::append_ascii(buffer, "#(");
    string::append_ascii(buffer, r.name);
    if (all) string::append_ascii(buffer, ")");
    return budget - (r.name_length + 1) - (all ? 3 : 0);
}

}  // namespace

void init() {
    register_type(Type::datatype, {
        .form = form,
        .mold = mold,
        .compare = compare,
    });
}

}  // namespace zuv::datatype
