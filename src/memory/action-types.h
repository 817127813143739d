// The plain-argument signature of each action slot's implementation. A refinement without
// an argument arrives as a bool; a refinement with one as the address of its argument
// cell, null when the refinement is absent. An implementation gives the address of its
// result cell (usually its first argument, changed in place, or a cell it pushed); the
// action's entry copies that into the call's result slot.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::slotfn {

using Make = Cell* (*)(Cell* proto, Cell* spec, int32_t type);  // make and to
using Random = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = Cell* (*)(Cell* value, int32_t field);           // field: the word's symbol id
using Form = int32_t (*)(Cell* value, Cell* buffer, Cell* part, int32_t budget);
using Mold = int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                         int32_t indent);
// value, element, the value to set (null to get), case flag, parent, previous element,
// the element's position, last-element flag, change-notice flag.
using EvalPath = Cell* (*)(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                           int32_t position, bool last, bool notify);
using Compare = int32_t (*)(Cell* a, Cell* b, int32_t op);
using Unary = Cell* (*)(Cell* value);              // absolute, negate, complement
using Binary = Cell* (*)(Cell* a, Cell* b);        // add, divide, multiply, power, remainder, subtract, and~, or~, xor~
using Round = Cell* (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                        bool half_ceiling);
using Predicate = bool (*)(Cell* value);           // even?, odd?
// append and insert: part is the count to take from the value (-1: all), dup the count of
// copies (1 without /dup).
using Append = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Change = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Series = Cell* (*)(Cell* series);            // back, clear, head, head?, index?, next, tail, tail?
using Offset = Cell* (*)(Cell* series, Cell* offset);  // at, skip
using Length = int32_t (*)(Cell* series);          // length?: -1 gives none
using Copy = Cell* (*)(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                       Cell* skip, bool last, bool reverse, bool tail, bool match);
using Select = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                         Cell* skip, bool last, bool reverse);
using Move = Cell* (*)(Cell* origin, Cell* target, Cell* part);
// index: true 1, false 2, a char! or integer! its value, anything else 0; index_cell the
// index value itself (for keys that are not numbers).
using Pick = Cell* (*)(Cell* series, int32_t index, Cell* index_cell);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using Remove = Cell* (*)(Cell* series, Cell* part, Cell* key);
using Reverse = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using Sort = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse,
                       bool stable);
using Swap = Cell* (*)(Cell* a, Cell* b);
using Take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using Port = Cell* (*)(Cell* port);                // create, close, delete, open?, query, update
using Modify = Cell* (*)(Cell* target, int32_t field, Cell* value, bool case_);
using Open = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
using Read = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using Rename = Cell* (*)(Cell* from, Cell* to);
using Write = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                        Cell* seek, Cell* allow, Cell* as);

}  // namespace zuv::slotfn
