// The plain-argument signature of each action slot's implementation. A refinement without
// an argument arrives as a bool; a refinement with one as the address of its argument
// cell, null when the refinement is absent. The actions with many refinements take them
// together in an options struct, one field per refinement, named after it. An implementation gives the address of its
// result cell (usually its first argument, changed in place, or a cell it pushed); the
// action's entry copies that into the call's result slot.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::slotfn {

// round: /to scale, then how a value halfway (or any value) goes.
struct RoundOptions {
    Cell* scale = nullptr;  // /to
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};
// select, and the start of find's.
struct SelectOptions {
    Cell* part = nullptr;
    bool only = false, case_ = false, same = false, any = false;
    Cell* with = nullptr;  // the wildcards of /any
    Cell* skip = nullptr;
    bool last = false, reverse = false;
};
struct FindOptions : SelectOptions {
    bool tail = false, match = false;
};
struct SortOptions {
    bool case_ = false;
    Cell* skip = nullptr;
    Cell* compare = nullptr;  // the comparator
    Cell* part = nullptr;
    bool all = false, reverse = false, stable = false;
};
struct TrimOptions {
    bool head = false, tail = false, auto_ = false, lines = false, all = false;
    Cell* with = nullptr;
};
struct OpenOptions {
    bool new_ = false, read = false, write = false, seek = false;
    Cell* allow = nullptr;
};
struct ReadOptions {
    Cell* part = nullptr;
    Cell* seek = nullptr;
    bool binary = false, lines = false, info = false;
    Cell* as = nullptr;  // the encoding
};
struct WriteOptions {
    bool binary = false, lines = false, info = false, append = false;
    Cell* part = nullptr;
    Cell* seek = nullptr;
    Cell* allow = nullptr;
    Cell* as = nullptr;  // the encoding
};

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
using Round = Cell* (*)(Cell* value, const RoundOptions& options);
using Predicate = bool (*)(Cell* value);           // even?, odd?
// append and insert: part is the count to take from the value (-1: all), dup the count of
// copies (1 without /dup).
using Append = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Change = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Series = Cell* (*)(Cell* series);            // back, clear, head, head?, index?, next, tail, tail?
using Offset = Cell* (*)(Cell* series, Cell* offset);  // at, skip
using Length = int32_t (*)(Cell* series);          // length?: -1 gives none
using Copy = Cell* (*)(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell* (*)(Cell* series, Cell* value, const FindOptions& options);
using Select = Cell* (*)(Cell* series, Cell* value, const SelectOptions& options);
using Move = Cell* (*)(Cell* origin, Cell* target, Cell* part);
// index: true 1, false 2, a char! or integer! its value, anything else 0; index_cell the
// index value itself (for keys that are not numbers).
using Pick = Cell* (*)(Cell* series, int32_t index, Cell* index_cell);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using Remove = Cell* (*)(Cell* series, Cell* part, Cell* key);
using Reverse = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using Sort = Cell* (*)(Cell* series, const SortOptions& options);
using Swap = Cell* (*)(Cell* a, Cell* b);
using Take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell* (*)(Cell* series, const TrimOptions& options);
using Port = Cell* (*)(Cell* port);                // create, close, delete, open?, query, update
using Modify = Cell* (*)(Cell* target, int32_t field, Cell* value, bool case_);
using Open = Cell* (*)(Cell* port, const OpenOptions& options);
using Read = Cell* (*)(Cell* source, const ReadOptions& options);
using Rename = Cell* (*)(Cell* from, Cell* to);
using Write = Cell* (*)(Cell* destination, Cell* data, const WriteOptions& options);

}  // namespace zuv::slotfn
