// unset!, none! and logic!.
#include "datatypes/logic.h"

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "runtime/random.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv {

namespace {


Cell* result_slot() { return stack::arguments_base; }

int32_t compare_same_kind(Cell* a, Cell* b, int32_t op, int32_t difference) {
    if (!b->is(a->type())) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: return difference;
        default: return -2;
    }
}

}  // namespace

namespace unset {

const Cell shared = {static_cast<uint32_t>(Type::unset), 0, 0, 0};

Cell* box() { return stack::set_last(&shared); }
Cell* push() { return stack::push(&shared); }
Cell* make_in(Cell* b) { return block::append(b, &shared); }

static Cell* make(Cell*, Cell*, int32_t) { return push(); }
static int32_t form(Cell*, Cell*, Cell*, int32_t budget) { return budget; }
static int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    const char* text = all ? "#(unset)" : "unset";
    string::append_ascii(buffer, text);
    return budget - (all ? 8 : 5);
}
static int32_t compare(Cell* a, Cell* b, int32_t op) { return compare_same_kind(a, b, op, 0); }

void init() {
    datatype::register_type(Type::unset, {
        .make = make,
        .to = make,
        .form = form,
        .mold = mold,
        .compare = compare,
    });
}

}  // namespace unset

namespace none {

const Cell shared = {static_cast<uint32_t>(Type::none), 0, 0, 0};

Cell* box() { return stack::set_last(&shared); }
Cell* push() { return stack::push(&shared); }
Cell* make_in(Cell* b) { return block::append(b, &shared); }

static Cell* make(Cell*, Cell*, int32_t) { return push(); }
static int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) {
    string::append_ascii(buffer, "none");
    return budget - 4;
}
static int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    string::append_ascii(buffer, all ? "#(none)" : "none");
    return budget - (all ? 7 : 4);
}
static int32_t compare(Cell* a, Cell* b, int32_t op) { return compare_same_kind(a, b, op, 0); }
// clear, find, remove, select, take: none answers none.
static Cell* clear(Cell* v) { return v; }
static Cell* find(Cell* v, Cell*, const slotfn::FindOptions&) { return v; }
static Cell* remove(Cell* v, Cell*, Cell*) { return v; }
static Cell* select(Cell* v, Cell*, const slotfn::SelectOptions&) { return v; }
static Cell* take(Cell* v, Cell*, bool, bool) { return v; }
static int32_t length(Cell*) { return -1; }

void init() {
    datatype::register_type(Type::none, {
        .make = make,
        .to = make,
        .form = form,
        .mold = mold,
        .compare = compare,
        .clear = clear,
        .find = find,
        .length_q = length,
        .remove = remove,
        .select = select,
        .take = take,
    });
}

}  // namespace none

namespace logic {

const Cell shared_true = {static_cast<uint32_t>(Type::logic), 1, 0, 0};
const Cell shared_false = {static_cast<uint32_t>(Type::logic), 0, 0, 0};

void make_at(Cell* c, bool value) { cell::make(c, Type::logic, value ? 1 : 0); }
Cell* box(bool value) { return stack::set_last(value ? &shared_true : &shared_false); }
Cell* push(bool value) { return stack::push(value ? &shared_true : &shared_false); }
Cell* make_in(Cell* b, bool value) { return block::append(b, value ? &shared_true : &shared_false); }

bool true_q(const Cell* c, bool check, const Cell* argument) {
    if (check && c->is(Type::unset)) error::raise(error::id::script_no_value, argument);
    return truth(c);
}

bool true_result_q() {
    Cell* r = result_slot();
    if (r->is(Type::unset)) error::raise(error::id::script_no_return);
    return truth(r);
}

bool top_false_q() {
    if (stack::arguments_top == stack::arguments_base) return true;
    return !truth(stack::top());
}

bool top_true_q() {
    if (stack::arguments_top == stack::arguments_base) return true;
    return truth(stack::top());
}

static Cell* to(Cell* target, Cell* spec, int32_t) {
    if (spec->is(Type::logic)) return spec;
    return const_cast<Cell*>(spec->is(Type::none) ? &shared_false : &shared_true);
}

static Cell* make(Cell* target, Cell* spec, int32_t type) {
    switch (spec->type()) {
        case Type::integer:
            make_at(target, integer::get(spec) != 0);
            return target;
        case Type::float_: case Type::percent: {
            double d = spec->float23();
            make_at(target, !(d == 0.0));
            return target;
        }
        default:
            return to(target, spec, type);
    }
}

static Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        random::seed(get(value) ? 1 : 0);
        cell::make(value, Type::unset);
        return value;
    }
    int32_t n = secure ? random::secure_int() : random::next();
    make_at(value, n > 0x3FFFFFFF);
    return value;
}

static int32_t form(Cell* v, Cell* buffer, Cell*, int32_t budget) {
    bool t = get(v);
    string::append_ascii(buffer, t ? "true" : "false");
    return budget - (t ? 4 : 5);
}

static int32_t mold(Cell* v, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    bool t = get(v);
    if (all) string::append_ascii(buffer, t ? "#(true)" : "#(false)");
    else string::append_ascii(buffer, t ? "true" : "false");
    return budget - (t ? 4 : 5) - (all ? 3 : 0);
}

static int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::logic)) return -2;
    return compare_same_kind(a, b, op, int32_t{get(a)} - int32_t{get(b)});
}

// The second argument must be a logic! too: script/expect-arg otherwise.
static void expect_logic(Cell* b) {
    if (!b->is(Type::logic)) error::raise_expect_arg(b->type(), 1);
}

static Cell* and_t(Cell* a, Cell* b) {
    expect_logic(b);
    set(a, get(a) && get(b));
    return a;
}
static Cell* or_t(Cell* a, Cell* b) {
    expect_logic(b);
    set(a, get(a) || get(b));
    return a;
}
static Cell* xor_t(Cell* a, Cell* b) {
    expect_logic(b);
    set(a, get(a) != get(b));
    return a;
}
static Cell* complement(Cell* a) {
    set(a, !get(a));
    return a;
}

void init() {
    datatype::register_type(Type::logic, {
        .make = make,
        .random = random,
        .to = to,
        .form = form,
        .mold = mold,
        .compare = compare,
        .and_t = and_t,
        .complement = complement,
        .or_t = or_t,
        .xor_t = xor_t,
    });
}

}  // namespace logic
}  // namespace zuv
