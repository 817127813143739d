// unset!, none! and logic!: the absence of a value, the explicit "no value", true and
// false; and the truth tests every condition uses.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::unset {
extern const Cell shared;
Cell* box();
Cell* push();
Cell* make_in(Cell* block);
void init();
}  // namespace zuv::unset

namespace zuv::none {
extern const Cell shared;
Cell* box();
Cell* push();
Cell* make_in(Cell* block);
void init();
}  // namespace zuv::none

namespace zuv::logic {
extern const Cell shared_true;
extern const Cell shared_false;
inline bool get(const Cell* c) { return c->data1 != 0; }
// Rewrites the value (data word 1, 1 for true), keeping the header.
inline void set(Cell* c, bool value) { c->data1 = value ? 1 : 0; }
Cell* box(bool value);
Cell* push(bool value);
Cell* make_in(Cell* block, bool value);
void make_at(Cell* c, bool value);
// False for none! and for a logic! false; every other value is true. With check, an
// unset! value raises script/no-value with the given argument.
inline bool truth(const Cell* c) {
    return !(c->is(Type::none) || (c->is(Type::logic) && c->data1 != 1));
}
bool true_q(const Cell* c, bool check, const Cell* argument);
bool true_result_q();
bool top_false_q();
bool top_true_q();
void init();
}  // namespace zuv::logic
