// Case changes of string! and char! values in place, for the uppercase and lowercase natives.
#include "datatypes/string-case.h"

#include <algorithm>

#include "datatypes/char.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/case-folding.h"
#include "memory/error.h"

namespace zuv::case_folding {

void change_string(Cell* value, const Cell* limit, int32_t mode) {
    if (value->is(Type::char_)) {
        char_::set_code(value, change_char(char_::code_of(value), mode));
        return;
    }
    int32_t n = series::length(value);
    if (limit) {
        int32_t count;
        if (limit->is(Type::integer)) {
            count = limit->int2();
        } else if (string::family_q(limit->type()) && series::node(limit) == series::node(value)) {
            count = limit->int1() - value->int1();
        } else {
            Cell part = scalar::word_of("part", Type::refinement);
            error::raise(error::id::script_invalid_refine_arg, &part, limit);
        }
        n = std::clamp(count, 0, n);
    }
    Ref node = series::node(value);
    for (int32_t i = value->int1(), end = i + n; i < end; ++i) {
        memory::SeriesBuffer* b = memory::buffer_of(node);
        uint32_t c = string::get_char(b->head_ptr() + static_cast<size_t>(i) * b->unit(), b->unit());
        uint32_t mapped = change_char(c, mode);
        if (mapped != c) string::poke_char(b, i, mapped);
    }
}

}  // namespace zuv::case_folding
