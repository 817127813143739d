// The parse native: works out the comparison mode and the /part end, then runs the PARSE
// engine (evaluator/parse.cpp) over the input and the rules.
#include <cmath>
#include <cstdint>

#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "evaluator/parse.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

// The absolute end that /part gives: a length from the input's index, or a position in the
// input series itself.
int64_t part_end(Cell* input, Cell* length) {
    switch (length->type()) {
        case Type::integer: return int64_t(input->int1()) + length->int2();
        case Type::float_: case Type::percent: {
            double d = std::trunc(length->float23());
            if (!(d == d)) d = 0;
            d = std::fmax(std::fmin(d, 2147483647.0), -2147483648.0);
            return int64_t(input->int1()) + static_cast<int64_t>(d);
        }
        default:
            if (length->type() != input->type() || series::node(length) != series::node(input)) {
                Cell word = scalar::word_of("part");
                error::raise(error::id::script_invalid_refine_arg, &word, length);
            }
            return length->int1();
    }
}

}  // namespace

// refs: /case, /part length, /trace callback.
void parse(bool, const int32_t* refs) {
    Cell* input = arg(0);
    int32_t mode = refs[refine::parse::case_] >= 0 ? 2 : 0;
    int32_t limit = 0;
    if (refs[refine::parse::part] >= 0) {
        int64_t end = part_end(input, arg(refs[refine::parse::part]));
        if (end < 1) {
            // Nothing of the input lies before the end.
            logic::box(series::length(input) == 0);
            stack::keep();
            return;
        }
        limit = static_cast<int32_t>(end > INT32_MAX ? INT32_MAX : end);
    }
    const int32_t trace = refs[refine::parse::trace];
    Cell* result = parse::match_rules(input, arg(1), mode, limit, trace >= 0 ? arg(trace) : nullptr);
    stack::keep_last(result);
}

}  // namespace zuv::natives
