// Raising language errors: one routine takes a catalogue category and id with up to three
// argument cells, builds the error! value and unrolls to the nearest try. It never returns.
#pragma once
#include <cstdint>

#include "memory/cell.h"

// ZUV_ERROR_IDS(X): every id of the catalogue as X(category, id, category index, id index,
// the id's name in the catalogue), generated from the catalogue itself.
#include "evaluator/error-ids.h"

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

// error! values: objects with the fields code, type, id, arg1-3, near, where, stack, files.
// create pushes a new error made from a category and an id word.
Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
void make(const Cell* spec, Cell* out);
// True when the catalogue has an entry for the code (category index * 100 + id index - 2),
// which make of that integer! then builds.
bool code_known_q(int32_t code);
void set_where(Cell* error, const Cell* word);
// The word of argument n (0-based, counting argument words and refinements) in the spec of
// the innermost named call's function; none when there is none.
Cell get_call_argument(int32_t n);
// script/invalid-refine-arg naming the refinement as a word ("invalid part argument:").
[[noreturn]] void raise_refine_arg(const Cell* refinement, const Cell* value);
// script/expect-arg naming the innermost named call, the datatype and argument n.
[[noreturn]] void raise_expect_arg(Type type, int32_t argument);
// A caught error keeps the names of the calls it came through: its stack field, the frame
// position recorded when it was raised, becomes the block of those call words.
void capture_stack(Cell* error);
// Shows an error that nothing caught (on standard error, and in a box when the GUI can).
void uncaught_hook(Cell* error);
void init();

}  // namespace zuv::error
