// The set natives: unique, union, intersect, exclude and difference share one front end that
// checks the two sets agree and hands the work to the set routine of the first one's datatype.
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "evaluator/error.h"
#include "evaluator/natives-list.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

bool block_set_q(Type t) { return t == Type::block || t == Type::hash; }

[[noreturn]] void raise_type_pair(error::Id id, const Cell* a, const Cell* b) {
    Cell ta, tb;
    datatype::make_at(&ta, static_cast<int>(a->type()));
    datatype::make_at(&tb, static_cast<int>(b->type()));
    error::raise(id, &ta, &tb);
}

[[noreturn]] void raise_no_set_routine(const Cell* value) {
    Cell word, type;
    stack::get_call_word(&word);
    datatype::make_at(&type, static_cast<int>(value->type()));
    error::raise(error::id::script_expect_arg, &word, &type);
}

// case_ and skip are the refinement slots (-1 when unused); op the operation code.
void set_operation(int32_t case_, int32_t skip, int32_t op) {
    Cell* a = stack::arguments_base;
    Cell* b = a + 1;
    if (op != 8) {
        bool agree = block_set_q(a->type()) ? block_set_q(b->type()) : a->type() == b->type();
        if (!agree) raise_type_pair(error::id::script_expect_val, a, b);
    }
    Cell* size = skip >= 0 ? stack::arguments_base + skip : nullptr;
    switch (a->type()) {
        case Type::block: case Type::hash:
            block::set_op(case_ >= 0, size, op);
            break;
        case Type::string: {
            Cell* r = string::set_op(a, op == 8 ? nullptr : b, op, case_ >= 0, size);
            *a = *r;
            break;
        }
        case Type::typeset:
            typeset::do_bitwise(op);
            break;
        case Type::date:
            if (op != 12) raise_no_set_routine(a);
            date::difference(a, b);
            break;
        default:
            raise_no_set_routine(a);
    }
    stack::keep();
}

}  // namespace

void unique(bool, const int32_t* r) { set_operation(r[0], r[1], 8); }
void union_(bool, const int32_t* r) { set_operation(r[0], r[1], 9); }
void intersect(bool, const int32_t* r) { set_operation(r[0], r[1], 10); }
void exclude(bool, const int32_t* r) { set_operation(r[0], r[1], 11); }
void difference(bool, const int32_t* r) { set_operation(r[0], r[1], 12); }

}  // namespace zuv::natives
