// point2D! and point3D!: one implementation over the coordinate count, instantiated for each.
#include "datatypes/point.h"

#include <cmath>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "runtime/random.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/stack.h"

namespace zuv {

namespace {


constexpr std::string_view coordinate_names[] = {"x", "y", "z"};

template <Type T>
constexpr int dimension = T == Type::point2D ? 2 : 3;

void make_point(Cell* c, Type t, float x, float y, float z) {
    cell::make(c, t);
    point::set(c, 0, x);
    point::set(c, 1, y);
    if (t == Type::point3D) point::set(c, 2, z);
}

float value_of(const Cell* c) {
    return c->is(Type::integer) ? static_cast<float>(c->int2()) : static_cast<float>(c->float23());
}

// A pair! as the point2D! it stands for in mixed arithmetic and comparison.
Cell pair_as_point(const Cell* p) {
    Cell c;
    make_point(&c, Type::point2D, static_cast<float>(p->int2()), static_cast<float>(p->int3()), 0.0f);
    return c;
}

template <Type T>
int32_t field_of(const Cell* word, Cell* value) {
    for (int i = 0; i < dimension<T>; ++i)
        if (scalar::word_is(word, coordinate_names[i])) return i + 1;
    error::raise(value->is(T) ? error::id::script_cannot_use : error::id::script_invalid_path, word, value);
}

template <Type T>
Cell* make(Cell* proto, Cell* spec, int32_t) {
    constexpr int n = dimension<T>;
    switch (spec->type()) {
        case Type::block: {
            scalar::Values v = scalar::values_of(spec);
            if (v.count < n) error::raise(error::id::syntax_malconstruct, spec);
            float c[3] = {0, 0, 0};
            for (int i = 0; i < n; ++i) {
                if (!(v.head[i].is(Type::integer) || v.head[i].is(Type::float_)))
                    error::raise(error::id::syntax_malconstruct, spec);
                c[i] = value_of(&v.head[i]);
            }
            make_point(proto, T, c[0], c[1], c[2]);
            return proto;
        }
        case Type::string: {
            Cell* loaded = scalar::load_value(spec, proto);
            if (!loaded->is(T)) scalar::raise_type(error::id::script_bad_to_arg, T, spec);
            return loaded;
        }
        case Type::integer: case Type::float_: {
            float f = value_of(spec);
            make_point(proto, T, f, f, f);
            return proto;
        }
        case Type::pair:
            make_point(proto, T, static_cast<float>(spec->int2()), static_cast<float>(spec->int3()), 0.0f);
            return proto;
        case Type::point2D:
            if (T == Type::point2D) return spec;
            make_point(proto, T, point::get(spec, 0), point::get(spec, 1), 0.0f);
            return proto;
        case Type::point3D:
            if (T == Type::point3D) return spec;
            [[fallthrough]];
        default:
            scalar::raise_type(error::id::script_bad_to_arg, T, spec);
    }
}

template <Type T>
Cell* random(Cell* value, bool seed, bool secure, bool) {
    constexpr int n = dimension<T>;
    if (seed) {
        // The seed hashes the coordinates' raw bits, read as whole data words.
        uint32_t bytes[3] = {value->data1, value->data2, value->data3};
        random::seed(static_cast<int32_t>(hashtable::hash_bytes(bytes, n * 4)));
        cell::make(value, Type::unset);
        return value;
    }
    for (int i = 0; i < n; ++i) {
        float c = point::get(value, i);
        if (c != 0.0f) point::set(value, i, static_cast<float>(numeric::float_random(c, secure)));
    }
    return value;
}

template <Type T>
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    budget = scalar::append(buffer, "(", budget);
    for (int i = 0; i < dimension<T>; ++i) {
        if (i) budget = scalar::append(buffer, ", ", budget);
        budget = scalar::append(buffer, float_::form_text(point::get(value, i), float_::kind::point).view(), budget);
    }
    return scalar::append(buffer, ")", budget);
}

template <Type T>
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form<T>(value, buffer, part, budget);
}

template <Type T>
Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell* parent, Cell* previous, int32_t, bool,
                bool notify) {
    int32_t i = 0;
    if (element->is(Type::integer)) i = element->int2();
    else if (element->is(Type::word)) i = field_of<T>(element, value);
    if (i < 1 || i > dimension<T>) error::raise(error::id::script_invalid_path, element, value);
    if (!set_value) return numeric::push_float(point::get(value, i - 1));
    if (!(set_value->is(Type::integer) || set_value->is(Type::float_)))
        scalar::raise_type(error::id::script_invalid_type, set_value->type());
    const Cell old = *value;
    point::set(value, i - 1, value_of(set_value));
    if (notify) scalar::notify_path_set(parent, previous, &old, value, set_value, i);
    return set_value;
}

template <Type T>
int32_t compare(Cell* a, Cell* b, int32_t op) {
    constexpr int n = dimension<T>;
    Cell converted;
    if (T == Type::point2D && b->is(Type::pair)) b = &(converted = pair_as_point(b));
    if (!b->is(T)) return -2;
    switch (op) {
        case 0: case 1:
            for (int i = 0; i < n; ++i)
                if (!float_::almost_equal32_q(point::get(a, i), point::get(b, i))) return 1;
            return 0;
        case 2:
            for (int i = 0; i < n; ++i)
                if (!(point::get(a, i) == point::get(b, i))) return 1;
            return 0;
        case 9:  // bit for bit, on the raw data words
            return a->data1 == b->data1 && a->data2 == b->data2 && (n == 2 || a->data3 == b->data3) ? 0 : 1;
        default: {
            float d = 0.0f;
            for (int i = 0; i < n; ++i) {
                d = point::get(a, i) - point::get(b, i);
                if (!float_::almost_equal32_q(d, 0.0f)) break;
            }
            return d < 0 ? -1 : d > 0 ? 1 : 0;
        }
    }
}

template <Type T>
Cell* absolute(Cell* value) {
    for (int i = 0; i < dimension<T>; ++i) point::set(value, i, std::fabs(point::get(value, i)));
    return value;
}

template <Type T>
Cell* negate(Cell* value) {
    for (int i = 0; i < dimension<T>; ++i) point::set(value, i, 0.0f - point::get(value, i));
    return value;
}

template <Type T>
Cell* do_math(Cell* left, Cell* right, int32_t op) {
    constexpr int n = dimension<T>;
    double r[3];
    switch (right->type()) {
        case Type::integer:
        case Type::float_:
        case Type::percent: {
            double f = scalar::number_of(right);
            r[0] = r[1] = r[2] = f;
            break;
        }
        case Type::pair:
            if (T != Type::point2D) scalar::raise_type(error::id::script_invalid_type, right->type());
            r[0] = right->int2();
            r[1] = right->int3();
            break;
        case T:
            for (int i = 0; i < n; ++i) r[i] = point::get(right, i);
            break;
        default:
            scalar::raise_type(error::id::script_invalid_type, right->type());
    }
    for (int i = 0; i < n; ++i)
        point::set(left, i, static_cast<float>(float_::do_math_op(point::get(left, i), r[i], op)));
    return left;
}

template <Type T, int Op>
Cell* math(Cell* a, Cell* b) {
    return do_math<T>(a, b, Op);
}

template <Type T>
Cell* round(Cell* value, const slotfn::RoundOptions& o) {
    Cell* scale = o.scale;
    constexpr int n = dimension<T>;
    numeric::Rounding how{o.even, o.down, o.half_down, o.floor, o.ceiling, o.half_ceiling};
    Cell scales[3];
    const Cell* per[3] = {scale, scale, scale};
    if (scale) {
        Type st = scale->type();
        if (st == Type::money) scalar::raise_not_related_here(Type::money);
        bool own = st == Type::point2D || (T == Type::point2D ? st == Type::pair : st == Type::point3D);
        if (own) {
            // A point2D! scale leaves a point3D!'s z without a scale of its own: z rounds
            // as without /to.
            int given = st == Type::point3D ? 3 : 2;
            for (int i = 0; i < n; ++i) {
                if (i >= given) {
                    per[i] = nullptr;
                } else if (st == Type::pair) {
                    numeric::integer_at(&scales[i], i == 0 ? scale->int2() : scale->int3());
                    per[i] = &scales[i];
                } else {
                    numeric::float_at(&scales[i], point::get(scale, i));
                    per[i] = &scales[i];
                }
            }
        } else if (!(scalar::number_q(scale) || st == Type::time)) {
            scalar::raise_type(error::id::script_invalid_type, st);
        }
    }
    for (int i = 0; i < n; ++i)
        point::set(value, i, static_cast<float>(numeric::round_double(point::get(value, i), false, per[i], how)));
    return value;
}

template <Type T>
Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t i = index;
    if (index_cell && scalar::any_word_q(index_cell->type())) i = field_of<T>(index_cell, value);
    else if (i < 1 || i > dimension<T>)
        error::raise(error::id::script_out_of_range, index_cell);
    return numeric::push_float(point::get(value, i - 1));
}

template <Type T>
Cell* reverse(Cell* value, Cell*, Cell*) {
    int last = dimension<T> - 1;
    float x = point::get(value, 0);
    point::set(value, 0, point::get(value, last));
    point::set(value, last, x);
    return value;
}

template <Type T>
void register_point() {
    datatype::register_type(T, {
        .make = make<T>,
        .random = random<T>,
        .to = make<T>,
        .form = form<T>,
        .mold = mold<T>,
        .eval_path = eval_path<T>,
        .compare = compare<T>,
        .absolute = absolute<T>,
        .add = math<T, 0>,
        .divide = math<T, 3>,
        .multiply = math<T, 2>,
        .negate = negate<T>,
        .remainder = math<T, 4>,
        .round = round<T>,
        .subtract = math<T, 1>,
        .pick = pick<T>,
        .reverse = reverse<T>,
    });
}

}  // namespace

namespace point2D {

void make_at(Cell* c, float x, float y) { make_point(c, Type::point2D, x, y, 0.0f); }

Cell* make_in(Cell* block, float x, float y) {
    Cell c;
    make_at(&c, x, y);
    return block::append(block, &c);
}

Cell* push(float x, float y) {
    Cell c;
    make_at(&c, x, y);
    return stack::push(&c);
}

int32_t field_index(const Cell* word, Cell* value) { return field_of<Type::point2D>(word, value); }
float coordinate_of(const Cell* c) { return value_of(c); }
Cell* do_math(Cell* left, Cell* right, int32_t op) { return zuv::do_math<Type::point2D>(left, right, op); }
int32_t compare(Cell* a, Cell* b, int32_t op) { return zuv::compare<Type::point2D>(a, b, op); }

void init() { register_point<Type::point2D>(); }

}  // namespace point2D

namespace point3D {

void make_at(Cell* c, float x, float y, float z) { make_point(c, Type::point3D, x, y, z); }

Cell* make_in(Cell* block, float x, float y, float z) {
    Cell c;
    make_at(&c, x, y, z);
    return block::append(block, &c);
}

Cell* push(float x, float y, float z) {
    Cell c;
    make_at(&c, x, y, z);
    return stack::push(&c);
}

int32_t field_index(const Cell* word, Cell* value) { return field_of<Type::point3D>(word, value); }
Cell* do_math(Cell* left, Cell* right, int32_t op) { return zuv::do_math<Type::point3D>(left, right, op); }
int32_t compare(Cell* a, Cell* b, int32_t op) { return zuv::compare<Type::point3D>(a, b, op); }

void init() { register_point<Type::point3D>(); }

}  // namespace point3D

}  // namespace zuv
