// Comparison, logic and type natives.
#include "datatypes/logic.h"
#include "evaluator/actions.h"
#include "evaluator/natives-list.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

void compare_op(int32_t op) {
    bool r = actions::compare(stack::arguments_base, stack::arguments_base + 1, op);
    logic::box(r);
    stack::keep();
}

}  // namespace

void equal_q(bool, const int32_t*) { compare_op(actions::op::equal); }
void not_equal_q(bool, const int32_t*) { compare_op(actions::op::not_equal); }
void strict_equal_q(bool, const int32_t*) { compare_op(actions::op::strict_equal); }
void lesser_q(bool, const int32_t*) { compare_op(actions::op::lesser); }
void greater_q(bool, const int32_t*) { compare_op(actions::op::greater); }
void lesser_or_equal_q(bool, const int32_t*) { compare_op(actions::op::lesser_or_equal); }
void greater_or_equal_q(bool, const int32_t*) { compare_op(actions::op::greater_or_equal); }
void same_q(bool, const int32_t*) { compare_op(actions::op::same); }

void not_(bool, const int32_t*) {
    logic::box(!logic::truth(stack::arguments_base));
    stack::keep();
}

void type_q(bool, const int32_t* refs) {
    Cell* v = stack::arguments_base;
    int id = static_cast<int>(v->type());
    if (refs[0] >= 0) {
        Cell w = datatype::records[id].word;
        w.set_type(Type::word);
        stack::keep_last(&w);
        return;
    }
    Cell t;
    datatype::make_at(&t, id);
    stack::keep_last(&t);
}

}  // namespace zuv::natives
