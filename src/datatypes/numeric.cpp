// Shared pieces of the number datatypes: operator codes to slots and words, the errors
// they raise, and the hand-over of mixed operations to the datatype that computes them.
#include "datatypes/numeric.h"

#include <utility>

#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/fatal.h"

namespace zuv::numeric {

namespace {

constexpr const char* op_names[] = {"add", "subtract", "multiply", "divide", "remainder", "or~", "and~", "xor~"};
constexpr int op_slots[] = {datatype::slot::add,       datatype::slot::subtract, datatype::slot::multiply,
                            datatype::slot::divide,    datatype::slot::remainder, datatype::slot::or_t,
                            datatype::slot::and_t,     datatype::slot::xor_t};

bool registered_q(Type t) { return datatype::registered_q(t); }

}  // namespace

int op_slot(int32_t op) {
    if (op < 0 || op > 7) [[unlikely]] runtime::quit(runtime::no_switch_match, 0);
    return op_slots[op];
}

bool text_type_q(Type t) {
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
            return true;
        default:
            return false;
    }
}

void word(const char* name, Cell* out) {
    cell::make(out, Type::word, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
}

void op_word(int32_t op, Cell* out) {
    if (op < 0 || op > 7) [[unlikely]] runtime::quit(runtime::no_switch_match, 0);
    word(op_names[op], out);
}

void raise_invalid_type(Type t) {
    Cell type;
    datatype::make_at(&type, static_cast<int>(t));
    error::raise(error::id::script_invalid_type, &type);
}

void raise_not_related(const Cell* action, Type t) {
    Cell type;
    datatype::make_at(&type, static_cast<int>(t));
    error::raise(error::id::script_not_related, action, &type);
}

void raise_not_related(const char* action, Type t) {
    Cell w;
    word(action, &w);
    raise_not_related(&w, t);
}

void raise_bad_to_arg(Type target, const Cell* spec) {
    Cell type, value = *spec;
    datatype::make_at(&type, static_cast<int>(target));
    error::raise(error::id::script_bad_to_arg, &type, &value);
}

void raise_expect_arg(const Cell* value, const char* argument) {
    Cell action, type, arg;
    stack::get_call_word(&action);
    datatype::make_at(&type, static_cast<int>(value->type()));
    word(argument, &arg);
    error::raise(error::id::script_expect_arg, &action, &type, &arg);
}

void* action_of(Type owner, int slot, Type refused) {
    // A datatype built later fills its own slots; until then the mixed operation waits for it.
    if (!registered_q(owner)) [[unlikely]]
        error::raise(error::id::internal_not_done);
    void* f = datatype::action_of(owner, slot);
    if (!f) raise_invalid_type(refused);
    return f;
}

Cell* hand_over(Cell* a, Cell* b, int32_t op, bool swap) {
    const Type owner = b->type();
    auto f = reinterpret_cast<slotfn::Binary>(action_of(owner, op_slot(op), owner));
    if (swap) std::swap(*a, *b);
    return cell::copy(f(a, b), a);
}

int32_t compare_reversed(Cell* a, Cell* b, int32_t code) {
    if (!registered_q(b->type())) [[unlikely]]
        error::raise(error::id::internal_not_done);
    auto f = reinterpret_cast<slotfn::Compare>(datatype::action_of(b->type(), datatype::slot::compare));
    if (!f) return -2;
    const int32_t r = f(b, a, code);
    return r == -2 ? -2 : -r;
}

}  // namespace zuv::numeric
