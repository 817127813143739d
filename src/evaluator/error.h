// Raising language errors: one routine takes a catalogue category and id with up to three
// argument cells, builds the error! value and unrolls to the nearest try. It never returns.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::error {

// A catalogue entry: the category's index in the catalogue and the id's index inside it
// (indexes 0 and 1 of every category hold its code and title, so ids start at 2).
struct Id {
    uint8_t category;
    uint8_t index;
    constexpr bool operator==(const Id&) const = default;
};

namespace category {
constexpr uint8_t throw_ = 0, note = 1, syntax = 2, script = 3, math = 4, access = 5, user = 6,
                  internal = 9;
}

namespace id {
constexpr Id throw_break{0, 2}, throw_return{0, 3}, throw_throw{0, 4}, throw_continue{0, 5};
constexpr Id script_no_value{3, 2}, script_need_value{3, 3}, script_not_defined{3, 4}, script_not_in_context{3, 5},
    script_expect_arg{3, 7}, script_cannot_use{3, 10}, script_invalid_arg{3, 11}, script_invalid_type{3, 12},
    script_not_same_type{3, 20}, script_not_related{3, 22}, script_bad_refines{3, 27}, script_invalid_path{3, 33},
    script_bad_path_set{3, 38}, script_out_of_range{3, 43}, script_invalid_compare{3, 45},
    script_invalid_refine_arg{3, 47}, script_invalid_char{3, 15}, script_type_limit{3, 48}, script_no_return{3, 50},
    script_bad_make_arg{3, 55}, script_bad_to_arg{3, 56}, script_move_bad{3, 60};
constexpr Id script_wrong_denom{3, 61};
constexpr Id script_invalid_months{3, 62};
constexpr Id script_invalid_data{3, 63};
constexpr Id syntax_malconstruct{2, 7};
constexpr Id math_zero_divide{4, 2}, math_overflow{4, 3};
constexpr Id access_invalid_utf8{5, 18};
constexpr Id internal_no_memory{9, 4}, internal_wrong_mem{9, 5}, internal_stack_overflow{9, 6},
    internal_too_deep{9, 8}, internal_no_cycle{9, 9}, internal_not_done{9, 11};
}  // namespace id

// The error most recently raised, as its parts: what a handler in C++ sees before the
// error! value exists as an object.
struct Raised {
    Id id;
    int arg_count;
    Cell args[3];
};
extern Raised last;

[[noreturn]] void raise(Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

}  // namespace zuv::error
