// Set operation natives: one front end checks that the two sets can be combined and hands
// them to the set routine of the first one's datatype; the routines own the semantics.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/logic.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

namespace set_op {
constexpr int32_t unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12;
}

Cell* arg(int n) { return stack::arguments_base + n; }

bool list_q(Type t) { return t == Type::block || t == Type::hash; }

// The five set operations have the same refinements: /case, then /skip with its size.
static_assert(refine::union_::case_ == refine::intersect::case_ && refine::union_::case_ == refine::unique::case_ &&
              refine::union_::case_ == refine::difference::case_ && refine::union_::case_ == refine::exclude::case_);
static_assert(refine::union_::skip == refine::intersect::skip && refine::union_::skip == refine::unique::skip &&
              refine::union_::skip == refine::difference::skip && refine::union_::skip == refine::exclude::skip);
void set_operation(const int32_t* refs, int32_t op) {
    Cell* a = arg(0);
    Cell* b = op == set_op::unique ? nullptr : arg(1);
    bool case_ = refs[refine::union_::case_] >= 0;
    Cell* skip = refs[refine::union_::skip] >= 0 ? arg(refs[refine::union_::skip]) : nullptr;
    if (b && !(list_q(a->type()) ? list_q(b->type()) : a->type() == b->type())) {
        Cell t1 = scalar::type_cell(a->type()), t2 = scalar::type_cell(b->type());
        error::raise(error::id::script_expect_val, &t1, &t2);
    }
    switch (a->type()) {
        case Type::block: case Type::hash:
            block::set_op(case_, skip, op);
            stack::keep();
            return;
        case Type::string:
            stack::keep_last(string::set_op(a, b, op, case_, skip));
            return;
        case Type::bitset:
            bitset::do_bitwise(op);
            return;
        case Type::typeset:
            typeset::do_bitwise(op);
            return;
        case Type::date:
            if (op == set_op::difference) {
                date::difference(a, b);
                stack::keep();
                return;
            }
            break;
        default:
            break;
    }
    numeric::raise_expect_arg(a, op == set_op::unique ? "set" : "set1");
}

}  // namespace

void unique(bool, const int32_t* refs) { set_operation(refs, set_op::unique); }
void union_(bool, const int32_t* refs) { set_operation(refs, set_op::union_); }
void intersect(bool, const int32_t* refs) { set_operation(refs, set_op::intersect); }
void exclude(bool, const int32_t* refs) { set_operation(refs, set_op::exclude); }
void difference(bool, const int32_t* refs) { set_operation(refs, set_op::difference); }

void complement_q(bool, const int32_t*) {
    logic::box(bitset::complemented_q(arg(0)));
    stack::keep();
}

}  // namespace zuv::natives
