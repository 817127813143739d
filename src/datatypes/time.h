// time!: a duration or time of day as seconds in a double (data words 2-3), a child of float!
// with its own text form, construction from [hours minutes seconds], the hour, minute and
// second fields, and arithmetic that keeps results typed as time!.
#pragma once
#include <cstdint>

#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::time {

constexpr double seconds_per_hour = 3600.0;
constexpr double seconds_per_minute = 60.0;

// Field indexes.
constexpr int32_t hour = 1, minute = 2, second = 3;

Cell* make_at(double seconds, Cell* c);
Cell* make_in(Cell* block, uint32_t high, uint32_t low);
Cell* push(double seconds);

// Whole hours (truncated toward zero) and minutes of the hour; math/overflow when the
// hours do not fit 32 bits.
int32_t get_hours(double seconds);
int32_t get_minutes(double seconds);
// Pushes integer! hours (1), integer! minutes (2) or float! seconds (3); gives the cell.
Cell* get_field(const Cell* time, int32_t field);
// 1, 2 or 3 for the words hour, minute, second; another word raises script/cannot-use with
// the word and the value when the value is a time!, else gives -1.
int32_t field_index(const Cell* word, const Cell* value);

// The seconds after a path set of field 1 (hour, an integer!), 2 (minute, an integer!) or
// 3 (second, an integer! or float!); a value of another type raises script/invalid-arg.
double set_field(double seconds, int32_t field, const Cell* value);

// Appends h:mm:ss[.fraction] and gives the budget less the characters appended.
// exact: the seconds with every digit that tells the value apart (mold/all), not rounded to
// six digits.
int32_t form_text(double seconds, Cell* buffer, int32_t budget, bool exact = false);

// Actions.
Cell* make(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                int32_t position, bool last, bool notify);
Cell* add(Cell* a, Cell* b);
Cell* subtract(Cell* a, Cell* b);
Cell* multiply(Cell* a, Cell* b);
Cell* divide(Cell* a, Cell* b);
Cell* round(Cell* value, const slotfn::RoundOptions& options);
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);

void init();

}  // namespace zuv::time
