// Comparison, logic and type natives: the seven comparisons share one body selected by a
// comparison code; same? is an identity test of its own, not a comparison.
#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

void compare_op(int32_t op) {
    bool r = actions::compare(arg(0), arg(1), op);
    logic::box(r);
    stack::keep();
}

bool same_value_q(Cell* a, Cell* b) {
    if (a->type() != b->type()) return false;
    switch (a->type()) {
        case Type::datatype:
            return datatype::id_of(a) == datatype::id_of(b);
        case Type::logic:
            return logic::get(a) == logic::get(b);
        case Type::object:
            return object::context_of(a) == object::context_of(b);
        case Type::char_:
            return char_::code_of(a) == char_::code_of(b);
        case Type::integer:
            return integer::get(a) == integer::get(b);
        case Type::bitset:
            return bitset::node_of(a) == bitset::node_of(b);
        // A series is the same when it is the same buffer at the same index.
        case Type::path: case Type::lit_path: case Type::set_path: case Type::get_path:
        case Type::block: case Type::paren: case Type::hash:
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
        case Type::binary: case Type::vector: case Type::image:
            return series::head(a) == series::head(b) && series::node(a) == series::node(b);
        // The remaining cases compare the cell's data words bit for bit, whatever they hold:
        // a native or action is its table index and kind, a point2D! its two coordinates.
        case Type::native: case Type::action: case Type::point2D:
            return a->data1 == b->data1 && a->data2 == b->data2;
        // Bit for bit: 0.0 and -0.0 are not the same value, a NaN is the same as itself.
        case Type::float_: case Type::percent: case Type::pair: case Type::time:
            return a->data2 == b->data2 && a->data3 == b->data3;
        case Type::tuple:
            return tuple::length(a) == tuple::length(b) && actions::compare_dispatch(a, b, actions::op::equal) == 0;
        case Type::none: case Type::unset:
            return true;
        case Type::money:
            return money::compare(a, b, actions::op::equal) == 0;
        case Type::op:
            return a->data2 == b->data2 && a->data3 == b->data3;
        default:
            return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

// The datatypes that `as` may retag into each other: the same buffer reads the same way.
bool block_family_q(Type t) {
    return t == Type::block || t == Type::paren || t == Type::path || t == Type::lit_path ||
           t == Type::set_path || t == Type::get_path;
}

}  // namespace

void equal_q(bool, const int32_t*) { compare_op(actions::op::equal); }
void not_equal_q(bool, const int32_t*) { compare_op(actions::op::not_equal); }
void strict_equal_q(bool, const int32_t*) { compare_op(actions::op::strict_equal); }
void lesser_q(bool, const int32_t*) { compare_op(actions::op::lesser); }
void greater_q(bool, const int32_t*) { compare_op(actions::op::greater); }
void lesser_or_equal_q(bool, const int32_t*) { compare_op(actions::op::lesser_or_equal); }
void greater_or_equal_q(bool, const int32_t*) { compare_op(actions::op::greater_or_equal); }

void same_q(bool, const int32_t*) {
    logic::box(same_value_q(arg(0), arg(1)));
    stack::keep();
}

void not_(bool, const int32_t*) {
    logic::box(!logic::truth(arg(0)));
    stack::keep();
}

void type_q(bool, const int32_t* refs) {
    int id = static_cast<int>(arg(0)->type());
    if (refs[refine::type_q::word] >= 0) {
        Cell w = datatype::records[id].word;
        w.set_type(Type::word);
        stack::keep_last(&w);
        return;
    }
    Cell t;
    datatype::make_at(&t, id);
    stack::keep_last(&t);
}

void as(bool, const int32_t*) {
    Cell* type = arg(0);
    Cell spec = *arg(1);
    Type target = type->is(Type::datatype) ? static_cast<Type>(datatype::id_of(type)) : type->type();
    Type from = spec.type();
    bool related = (block_family_q(target) && block_family_q(from)) ||
                   (string::family_q(target) && string::family_q(from));
    if (!related) {
        Cell a, b;
        datatype::make_at(&a, static_cast<int>(from));
        datatype::make_at(&b, static_cast<int>(target));
        error::raise(error::id::script_not_same_class, &a, &b);
    }
    spec.set_type(target);
    stack::keep_last(&spec);
}

}  // namespace zuv::natives
