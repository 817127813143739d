// pair!: integer components, promotion to point2D!, forms and the pair actions.
#include "datatypes/pair.h"

#include <cmath>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/numeric.h"
#include "datatypes/point.h"
#include "datatypes/scalar.h"
#include "runtime/random.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::pair {

namespace {


constexpr std::string_view component_names[] = {"x", "y"};

int32_t get(const Cell* c, int32_t i) { return i == 1 ? x(c) : y(c); }
void put(Cell* c, int32_t i, int32_t v) { i == 1 ? set_x(c, v) : set_y(c, v); }

// A float truncated to a component; NaN, infinities and floats off the integers raise
// the given error with the value.
int32_t truncated(double d, error::Id id, const Cell* value) {
    int32_t n;
    if (!numeric::to_int32(d, &n)) error::raise(id, value);
    return n;
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    switch (spec->type()) {
        case Type::block: {
            scalar::Values v = scalar::values_of(spec);
            if (v.count < 2) error::raise(error::id::syntax_malconstruct, spec);
            int32_t c[2];
            for (int i = 0; i < 2; ++i) {
                if (!(v.head[i].is(Type::integer) || v.head[i].is(Type::float_)))
                    error::raise(error::id::syntax_malconstruct, spec);
                c[i] = truncated(scalar::number_of(&v.head[i]), error::id::syntax_malconstruct, spec);
            }
            cell::make(proto, Type::pair, 0, static_cast<uint32_t>(c[0]), static_cast<uint32_t>(c[1]));
            return proto;
        }
        case Type::string: {
            Cell* loaded = scalar::load_value(spec, proto);
            if (!loaded->is(Type::pair)) scalar::raise_type(error::id::script_bad_to_arg, Type::pair, spec);
            return loaded;
        }
        case Type::pair:
            return spec;
        case Type::integer:
            cell::make(proto, Type::pair, 0, static_cast<uint32_t>(integer::get(spec)), static_cast<uint32_t>(integer::get(spec)));
            return proto;
        case Type::float_: {
            double d = spec->float23();
            int32_t n;
            if (!numeric::to_int32(d, &n)) scalar::raise_type(error::id::script_bad_to_arg, Type::pair, spec);
            cell::make(proto, Type::pair, 0, static_cast<uint32_t>(n), static_cast<uint32_t>(n));
            return proto;
        }
        case Type::point2D: {
            int32_t x = truncated(point::get(spec, 0), error::id::script_invalid_arg, spec);
            int32_t y = truncated(point::get(spec, 1), error::id::script_invalid_arg, spec);
            cell::make(proto, Type::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
            return proto;
        }
        default:
            scalar::raise_type(error::id::script_bad_to_arg, Type::pair, spec);
    }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(x(value) ^ y(value));
        cell::make(value, Type::unset);
        return value;
    }
    for (int32_t i = 1; i <= 2; ++i)
        if (get(value, i) != 0) put(value, i, random::int_(secure, get(value, i)));
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    budget = scalar::append_decimal(buffer, x(value), budget);
    budget = scalar::append(buffer, "x", budget);
    return scalar::append_decimal(buffer, y(value), budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell* parent, Cell* previous, int32_t, bool,
                bool notify) {
    int32_t i = 0;
    if (element->is(Type::integer)) i = element->int2();
    else if (element->is(Type::word)) i = field_index(element, value);
    if (i < 1 || i > 2) error::raise(error::id::script_invalid_path, element, value);
    if (!set_value) return numeric::push_integer(get(value, i));
    if (!set_value->is(Type::integer)) scalar::raise_type(error::id::script_invalid_type, set_value->type());
    const Cell old = *value;
    put(value, i, set_value->int2());
    if (notify) scalar::notify_path_set(parent, previous, &old, value, set_value, i);
    return set_value;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (b->is(Type::point2D)) {
        Cell p = *a;
        to_point2D_at(&p);
        return point2D::compare(&p, b, op);
    }
    if (!b->is(Type::pair)) return -2;
    if (x(a) != x(b)) return x(a) < x(b) ? -1 : 1;
    if (y(a) != y(b)) return y(a) < y(b) ? -1 : 1;
    return 0;
}

Cell* absolute(Cell* value) {
    for (int32_t i = 1; i <= 2; ++i) {
        int32_t v = get(value, i);
        if (v == INT32_MIN) error::raise(error::id::math_overflow);
        put(value, i, v < 0 ? -v : v);
    }
    return value;
}

Cell* negate(Cell* value) {
    // Two's complement: the minimum integer stays as it is.
    auto wrap = [](int32_t v) { return static_cast<int32_t>(0u - static_cast<uint32_t>(v)); };
    set_x(value, wrap(x(value)));
    set_y(value, wrap(y(value)));
    return value;
}

template <int Op>
Cell* math(Cell* a, Cell* b) {
    return do_math(a, b, Op);
}

Cell* round(Cell* value, const slotfn::RoundOptions& o) {
    Cell* scale = o.scale;
    numeric::Rounding how{o.even, o.down, o.half_down, o.floor, o.ceiling, o.half_ceiling};
    Cell scales[2];
    const Cell* per[2] = {scale, scale};
    if (scale && scale->is(Type::money)) scalar::raise_not_related_here(Type::money);
    if (scale && scale->is(Type::pair)) {
        numeric::integer_at(&scales[0], x(scale));
        numeric::integer_at(&scales[1], y(scale));
        per[0] = &scales[0];
        per[1] = &scales[1];
    }
    int32_t rx = numeric::round_component(x(value), per[0], how);
    int32_t ry = numeric::round_component(y(value), per[1], how);
    put(value, 1, rx);
    put(value, 2, ry);
    return value;
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t i = index;
    if (index_cell && scalar::any_word_q(index_cell->type())) i = field_index(index_cell, value);
    else if (i < 1 || i > 2) error::raise(error::id::script_out_of_range, index_cell);
    return numeric::push_integer(get(value, i));
}

Cell* reverse(Cell* value, Cell*, Cell*) {
    int32_t a = x(value);
    set_x(value, y(value));
    set_y(value, a);
    return value;
}

}  // namespace

void make_at(Cell* c, int32_t x, int32_t y) {
    c->set_type(Type::pair);
    c->data1 = 0;  // unused by pair!, cleared so bitwise sameness sees equal pairs
    set_x(c, x);
    set_y(c, y);
}

Cell* make_in(Cell* block, int32_t x, int32_t y) {
    Cell c;
    cell::make(&c, Type::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
    return block::append(block, &c);
}

Cell* push(int32_t x, int32_t y) {
    Cell c;
    cell::make(&c, Type::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
    return stack::push(&c);
}

int32_t field_index(const Cell* word, Cell* value) {
    if (int32_t i = scalar::word_index(word, component_names)) return i;
    error::raise(value->is(Type::pair) ? error::id::script_cannot_use : error::id::script_invalid_path, word, value);
}

void to_point2D_at(Cell* c) {
    point2D::make_at(c, static_cast<float>(x(c)), static_cast<float>(y(c)));
}

Cell* do_math(Cell* left, Cell* right, int32_t op) {
    int32_t rx, ry;
    switch (right->type()) {
        case Type::integer:
            rx = ry = right->int2();
            break;
        case Type::pair:
            rx = x(right);
            ry = y(right);
            break;
        case Type::point2D:
            to_point2D_at(left);
            return point2D::do_math(left, right, op);
        case Type::float_: case Type::percent: {
            double f = right->float23();
            if (op == 2 && std::isfinite(f)) {
                point2D::make_at(left, static_cast<float>(x(left) * f), static_cast<float>(y(left) * f));
                return left;
            }
            if (op == 3 && !std::isnan(f)) {
                point2D::make_at(left, static_cast<float>(x(left) / f), static_cast<float>(y(left) / f));
                return left;
            }
            if (op == 2 || op == 3 || !std::isfinite(f)) error::raise(error::id::script_invalid_arg, right);
            rx = ry = truncated(f, error::id::script_invalid_arg, right);
            break;
        }
        default:
            scalar::raise_type(error::id::script_invalid_type, right->type());
    }
    numeric::IntegerResult rx_result = numeric::integer_op(x(left), rx, op, true);
    numeric::IntegerResult ry_result = numeric::integer_op(y(left), ry, op, true);
    if (rx_result.is_float || ry_result.is_float) {
        // Redone in floats from the operands as they were, so both components agree.
        Cell r;
        if (right->is(Type::pair)) r = *right;
        else numeric::integer_at(&r, rx);
        to_point2D_at(left);
        return point2D::do_math(left, &r, op);
    }
    put(left, 1, rx_result.value);
    put(left, 2, ry_result.value);
    return left;
}

void init() {
    datatype::register_type(Type::pair, {
        .make = make,
        .random = random,
        .to = make,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .absolute = absolute,
        .add = math<0>,
        .divide = math<3>,
        .multiply = math<2>,
        .negate = negate,
        .remainder = math<4>,
        .round = round,
        .subtract = math<1>,
        .and_t = math<6>,
        .or_t = math<5>,
        .xor_t = math<7>,
        .pick = pick,
        .reverse = reverse,
    });
}

}  // namespace zuv::pair
