// What the immediate datatypes (pair!, the points, tuple!, date!, money!) share: error
// arguments, field words compared by name, decimal text, and the two services they reach
// outside the datatypes (loading one value from text, telling a container of a path set).
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/error.h"
#include "memory/cell.h"

namespace zuv::scalar {

// A datatype! cell, as error arguments carry it.
Cell type_cell(Type t);
// Raises an error whose first argument is a datatype (and an optional second value).
[[noreturn]] void raise_type(error::Id id, Type t, const Cell* arg2 = nullptr);
// Raises script/not-related with a word of the given name and a datatype.
[[noreturn]] void raise_not_related(std::string_view word, Type t);
// script/not-related with the word of the action being called and a datatype.
[[noreturn]] void raise_not_related_here(Type t);

// An unbound word or refinement of the given spelling.
Cell word_of(std::string_view name, Type t = Type::word);
// The word of the call in progress.
Cell call_word();

// True when the cell is a word of any kind whose spelling is the name, letter case aside.
bool word_is(const Cell* word, std::string_view name);
// The 1-based position of the word's spelling in a list of names; 0 when absent.
template <std::size_t N>
int32_t word_index(const Cell* word, const std::string_view (&names)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (word_is(word, names[i])) return static_cast<int32_t>(i + 1);
    return 0;
}

// The families of the list of datatypes (memory/datatype-list.h), by the typesets' names.
inline bool any_word_q(Type t) { return in_family(family::all_word, t); }
// The words that a loop or set can assign: those bound to a context.
inline bool settable_word_q(Type t) { return in_family(family::any_word, t); }
inline bool any_string_q(Type t) { return in_family(family::any_string, t); }

// The values of a block from its head; the pointer holds only until the next allocation.
struct Values {
    Cell* head;
    int32_t count;
};
Values values_of(Cell* block);

// Appends text and gives the budget less the characters appended.
int32_t append(Cell* buffer, std::string_view ascii, int32_t budget);
int32_t append_decimal(Cell* buffer, int64_t n, int32_t budget);

// The double of an integer!, float! or percent! cell.
inline bool number_q(const Cell* c) { return c->is(Type::integer) || c->is(Type::float_) || c->is(Type::percent); }
double number_of(const Cell* c);

// Loads a text as one value of the language (the lexer's one-value mode) into out, which is
// returned: none! when more text follows the value, unset! when the text holds none.
Cell* load_value(Cell* text, Cell* out);

// After a path set changed a value in place, when the evaluator asks for a change notice:
// an object! parent runs its on-change handler with the field word (previous) and the old
// and new values; a series parent reports the word set-path, the value set and the field
// index to its owner (the ownership check).
void notify_path_set(Cell* parent, Cell* previous, const Cell* old, const Cell* value, Cell* set_value,
                     int32_t field);

}  // namespace zuv::scalar
