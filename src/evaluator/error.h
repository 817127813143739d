// Raising language errors: one routine takes a catalogue category and id with up to three
// argument cells, builds the error! value and unrolls to the nearest try. It never returns.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::error {

// Every error id the runtime raises: category, id, category index, id index, the id's
// name in the catalogue.
#define ZUV_ERROR_IDS(X) \
    X(throw, break, 0, 2, "break") \
    X(throw, return, 0, 3, "return") \
    X(throw, throw, 0, 4, "throw") \
    X(throw, continue, 0, 5, "continue") \
    X(throw, while_cond, 0, 6, "while-cond") \
    X(script, no_value, 3, 2, "no-value") \
    X(script, need_value, 3, 3, "need-value") \
    X(script, not_defined, 3, 4, "not-defined") \
    X(script, not_in_context, 3, 5, "not-in-context") \
    X(script, expect_arg, 3, 7, "expect-arg") \
    X(script, cannot_use, 3, 10, "cannot-use") \
    X(script, invalid_arg, 3, 11, "invalid-arg") \
    X(script, invalid_type, 3, 12, "invalid-type") \
    X(script, not_same_type, 3, 20, "not-same-type") \
    X(script, not_related, 3, 22, "not-related") \
    X(script, bad_refines, 3, 27, "bad-refines") \
    X(script, invalid_path, 3, 33, "invalid-path") \
    X(script, bad_path_set, 3, 38, "bad-path-set") \
    X(script, out_of_range, 3, 43, "out-of-range") \
    X(script, invalid_compare, 3, 45, "invalid-compare") \
    X(script, invalid_refine_arg, 3, 47, "invalid-refine-arg") \
    X(script, invalid_char, 3, 15, "invalid-char") \
    X(script, type_limit, 3, 48, "type-limit") \
    X(script, no_return, 3, 50, "no-return") \
    X(script, bad_make_arg, 3, 55, "bad-make-arg") \
    X(script, bad_to_arg, 3, 56, "bad-to-arg") \
    X(script, move_bad, 3, 60, "move-bad") \
    X(script, invalid_data, 3, 61, "invalid-data") \
    X(script, wrong_denom, 3, 62, "wrong-denom") \
    X(script, invalid_months, 3, 63, "invalid-months") \
    X(script, expect_val, 3, 64, "expect-val") \
    X(syntax, invalid, 2, 2, "invalid") \
    X(syntax, missing, 2, 3, "missing") \
    X(syntax, no_header, 2, 4, "no-header") \
    X(syntax, bad_char, 2, 6, "bad-char") \
    X(syntax, malconstruct, 2, 7, "malconstruct") \
    X(math, zero_divide, 4, 2, "zero-divide") \
    X(math, overflow, 4, 3, "overflow") \
    X(access, invalid_utf8, 5, 18, "invalid-utf8") \
    X(access, no_connect, 5, 19, "no-connect") \
    X(internal, zuv_system, 9, 12, "zuv-system") \
    X(script, no_op_arg, 3, 9, "no-op-arg") \
    X(script, no_arg, 3, 6, "no-arg") \
    X(script, bad_refine, 3, 25, "bad-refine") \
    X(script, no_refine, 3, 26, "no-refine") \
    X(script, dup_refine, 3, 28, "dup-refine") \
    X(script, bad_func_def, 3, 30, "bad-func-def") \
    X(script, empty_path, 3, 34, "empty-path") \
    X(script, word_first, 3, 35, "word-first") \
    X(script, unset_path, 3, 36, "unset-path") \
    X(script, invalid_path_set, 3, 37, "invalid-path-set") \
    X(script, invalid_path_get, 3, 39, "invalid-path-get") \
    X(script, bad_path_type, 3, 40, "bad-path-type") \
    X(script, bad_path_type2, 3, 41, "bad-path-type2") \
    X(script, invalid_part, 3, 42, "invalid-part") \
    X(script, invalid_type_spec, 3, 31, "invalid-type-spec") \
    X(script, dup_vars, 3, 32, "dup-vars") \
    X(script, bad_func_extern, 3, 29, "bad-func-extern") \
    X(script, bad_op_spec, 3, 24, "bad-op-spec") \
    X(script, invalid_chars, 3, 44, "invalid-chars") \
    X(internal, no_memory, 9, 4, "no-memory") \
    X(internal, wrong_mem, 9, 5, "wrong-mem") \
    X(internal, stack_overflow, 9, 6, "stack-overflow") \
    X(internal, too_deep, 9, 8, "too-deep") \
    X(internal, no_cycle, 9, 9, "no-cycle") \
    X(internal, not_done, 9, 11, "not-done")


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
#define ZUV_ERROR_ID_CONSTANT(cat, name, c, i, text) constexpr Id cat##_##name{c, i};
ZUV_ERROR_IDS(ZUV_ERROR_ID_CONSTANT)
#undef ZUV_ERROR_ID_CONSTANT
}  // namespace id

// The names of a category and of an id, for messages and tests; null when unknown.
const char* category_name(uint8_t category);
const char* id_name(Id id);
// The id named by a category and an id name; {255, 255} when unknown.
Id id_named(const char* category, const char* id);

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
