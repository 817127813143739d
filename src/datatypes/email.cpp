// email!: text molded as it stands, with the paths user and host reading and changing the
// parts before and after the first "@"; everything else is string!'s.
#include <strings.h>

#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::email {

namespace {

// Words are compared by name, letter case aside, as words resolve.
bool word_is(const Cell* w, const char* name) {
    int32_t id = w->int2();
    return id > 0 && id <= symbol::count() && strcasecmp(symbol::name(id), name) == 0;
}

}  // namespace

static int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t indent) {
    return string::form(value, buffer, part, budget);
}

static Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                       int32_t position, bool last, bool notify) {
    if (element->is(Type::integer))
        return string::eval_path(value, element, set_value, case_, parent, previous, position, last, notify);
    bool user = element->is(Type::word) && word_is(element, "user");
    if (!user && !(element->is(Type::word) && word_is(element, "host")))
        error::raise(error::id::script_invalid_path, element);
    Cell v = *value;
    std::u32string text = string::code_points(&v);
    size_t at = text.find(U'@');
    size_t split = at == std::u32string::npos ? text.size() : at;
    size_t host = at == std::u32string::npos ? text.size() : at + 1;
    if (!set_value) {
        std::u32string part = user ? text.substr(0, split) : text.substr(host);
        Cell* result = string::push_new(static_cast<int32_t>(part.size()));
        string::append_chars(result, part);
        return result;
    }
    Cell place = v;
    if (user) {
        string::change(&place, set_value, static_cast<int32_t>(split), false, 1);
    } else {
        series::set_head(&place, series::head(&place) + static_cast<int32_t>(host));
        string::change(&place, set_value, static_cast<int32_t>(text.size() - host), false, 1);
    }
    return set_value;
}

void init() {
    datatype::register_type(Type::email, {
        .others = datatype::inherit,
        .random = datatype::empty,
        .mold = mold,
        .eval_path = eval_path,
        .sort = datatype::empty,
        .trim = datatype::empty,
    });
}

}  // namespace zuv::email
