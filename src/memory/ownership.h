// Series ownership: an object can be told when a series held in one of its fields changes in
// place. Every action that modifies a series calls check before and after the change; the
// answer says whether an owner was told, and only then is it told again afterwards.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::ownership {

// Tells the owner of the target's series (for an object!, of its context) about a change:
// the action's word (its symbol id, the present form before the change and the past form
// after it, as `append` and `appended`), the new value (null when there is none), the index
// and the count of units concerned. True when an owner was told.
bool check(Cell* target, int32_t action_word, Cell* new_value, int32_t index, int32_t part);

// The owner object recorded for a series node, or null.
Cell* get_owner(Ref node);
// Marks the value as owned by the object through the field word (bind also flags the owner).
void bind(Cell* value, Cell* owner, Cell* word);
// Removes ownership from the value, recursively through blocks and objects.
void unset(Cell* value);

}  // namespace zuv::ownership
