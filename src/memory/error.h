// Raising language errors: one routine takes a catalogue category and id with up to three
// argument cells, has the error! value built and unrolls to the nearest try. It never returns.
// Below the datatypes: the error datatype (datatypes/error.h) builds the value through hooks.
#pragma once
#include <cstdint>

#include "memory/cell.h"

// ZUV_ERROR_IDS(X): every id of the catalogue as X(category, id, category index, id index,
// the id's name in the catalogue), generated from the catalogue itself.
#include "memory/error-ids.h"

namespace zuv::error {

// A catalogue entry: the category's index in the catalogue and the id's index inside it
// (indexes 0 and 1 of every category hold its code and title, so ids start at 2).
struct Id {
    uint8_t category;
    uint8_t index;
    constexpr bool operator==(const Id&) const = default;
};

namespace category {
constexpr uint8_t throw_ = 0, note = 1, syntax = 2, script = 3, math = 4, access = 5, user = 8,
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

// script/invalid-refine-arg naming the refinement as a word ("invalid part argument:").
[[noreturn]] void raise_refine_arg(const Cell* refinement, const Cell* value);
// script/expect-arg naming the innermost named call, the datatype and argument n.
[[noreturn]] void raise_expect_arg(Type type, int32_t argument);
// What raise needs of the error datatype, set when it registers: build the error! value of
// an id and its arguments (false while the catalogue does not exist yet), and the word of
// argument n of the innermost named call.
struct Hooks {
    bool (*build)(Id id, const Cell* const args[3], Cell* out) = nullptr;
    Cell (*call_argument)(int32_t n) = nullptr;
};
extern Hooks hooks;

}  // namespace zuv::error
