// Maths natives: sign tests, max and min, shifts, hexadecimal text, trigonometry in degrees
// or radians, logarithms, and the builders of pairs, points and money. Work is in doubles;
// points keep 32-bit floats.
#include <cmath>
#include <cstdint>
#include <string>

#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/numeric.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "evaluator/natives.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/stack.h"
#include "runtime/platform.h"

namespace zuv::natives {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double epsilon = 2.220446049250313e-16;

Cell* arg(int n) { return stack::arguments_base + n; }

void box_float(double d) {
    float_::box(d);
    stack::keep();
}

void box_logic(bool b) {
    logic::box(b);
    stack::keep();
}

// The double of the frame's first cell, retagged float! in place (integer! converted, percent!
// keeping its double).
double arg_to_float() {
    Cell* c = arg(0);
    if (c->is(Type::integer)) float_::make_at(c, static_cast<double>(c->int2()));
    else c->set_type(Type::float_);
    return c->float23();
}

double number_to_double(const Cell* c) {
    return c->is(Type::integer) ? static_cast<double>(c->int2()) : c->float23();
}

// kind: 0 tangent, 1 cosine, 2 sine.
double degrees_arg(int32_t radians, int32_t kind) {
    double a = arg_to_float();
    return radians == -1 ? runtime::degrees_to_radians(a, kind) : a;
}

void arc_function(int32_t radians, int32_t kind) {
    double x = arg_to_float();
    double r = kind == 2 ? std::asin(x) : kind == 1 ? std::acos(x) : std::atan(x);
    box_float(radians == -1 ? r * 180.0 / pi : r);
}

// The double of a time!, float! or percent! sign test; integer! and money! are exact.
int32_t sign_of(Cell* c) {
    switch (c->type()) {
        case Type::integer: return integer::sign(c->int2());
        case Type::float_: case Type::percent: case Type::time: {
            double d = c->float23();
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case Type::money: return money::signum(c);
        default: numeric::raise_expect_arg(c, "number");
    }
}

bool nan_number_q(const Cell* c) {
    return (c->is(Type::float_) || c->is(Type::percent)) && std::isnan(c->float23());
}

bool number_q(const Cell* c) { return c->is(Type::integer) || c->is(Type::float_) || c->is(Type::percent); }

bool composite_q(const Cell* c) {
    return c->is(Type::pair) || c->is(Type::point2D) || c->is(Type::point3D) || c->is(Type::tuple);
}

int32_t pick_int(int32_t a, int32_t b, bool max) { return max ? (a < b ? b : a) : (b < a ? b : a); }

// A NaN in the second operand wins; a NaN in the first stays because no comparison holds.
float pick_float(float a, float b, bool max) {
    if (std::isnan(b)) return b;
    return max ? (a < b ? b : a) : (b < a ? b : a);
}

// A point and a number or a point of its own kind, component by component; false when the
// pair of values is not one of those.
bool point_min_max(Cell* p, const Cell* other, bool max, Cell* out) {
    int n = p->is(Type::point3D) ? 3 : 2;
    float o[3];
    if (other->is(Type::integer) || other->is(Type::float_)) {
        o[0] = o[1] = o[2] = static_cast<float>(number_to_double(other));
    } else if (other->type() == p->type()) {
        for (int i = 0; i < n; ++i) o[i] = point::get(other, i);
    } else {
        return false;
    }
    *out = *p;
    for (int i = 0; i < n; ++i) point::set(out, i, pick_float(point::get(p, i), o[i], max));
    return true;
}

// A pair and an integer!, float!, pair! or point2D!; false for any other second value.
bool pair_min_max(Cell* p, const Cell* other, bool max, Cell* out) {
    int32_t ox, oy;
    switch (other->type()) {
        case Type::integer:
            ox = oy = other->int2();
            break;
        case Type::float_: {
            if (!numeric::to_int32(other->float23(), &ox)) {
                // A float without an integer value takes the pair into floats.
                Cell point = *p;
                pair::to_point2D_at(&point);
                return point_min_max(&point, other, max, out);
            }
            oy = ox;
            break;
        }
        case Type::pair:
            ox = pair::x(other), oy = pair::y(other);
            break;
        case Type::point2D: {
            Cell point = *p;
            pair::to_point2D_at(&point);
            return point_min_max(&point, other, max, out);
        }
        default:
            return false;
    }
    *out = *p;
    pair::make_at(out, pick_int(pair::x(p), ox, max), pick_int(pair::y(p), oy, max));
    return true;
}

void min_max(bool max) {
    Cell* a = arg(0);
    Cell* b = arg(1);
    if (nan_number_q(a) && number_q(b)) return stack::keep_last(a);
    if (nan_number_q(b) && number_q(a)) return stack::keep_last(b);
    Cell* first = a;
    Cell* second = b;
    if ((a->is(Type::integer) || a->is(Type::float_)) && composite_q(b)) std::swap(first, second);
    Cell r;
    if (first->is(Type::pair) && pair_min_max(first, second, max, &r)) return stack::keep_last(&r);
    if ((first->is(Type::point2D) || first->is(Type::point3D)) && point_min_max(first, second, max, &r))
        return stack::keep_last(&r);
    // Ties keep value1 for max and value2 for min.
    bool lesser = actions::compare(first, second, actions::op::lesser);
    stack::keep_last(max ? (lesser ? second : first) : (lesser ? first : second));
}

void box_issue(const std::string& digits) {
    Cell v;
    word::make_unbound(&v, symbol::make(digits), Type::issue);
    stack::keep_last(&v);
}

}  // namespace

void negative_q(bool, const int32_t*) { box_logic(sign_of(arg(0)) < 0); }
void positive_q(bool, const int32_t*) { box_logic(sign_of(arg(0)) > 0); }

void sign_q(bool, const int32_t*) {
    integer::box(sign_of(arg(0)));
    stack::keep();
}

void zero_q(bool, const int32_t*) {
    Cell* c = arg(0);
    bool zero;
    switch (c->type()) {
        case Type::char_: zero = char_::code_of(c) == 0; break;
        case Type::integer: zero = integer::get(c) == 0; break;
        case Type::float_: case Type::percent: case Type::time: zero = c->float23() == 0.0; break;
        case Type::pair: zero = pair::x(c) == 0 && pair::y(c) == 0; break;
        case Type::tuple: zero = tuple::zero_q(c); break;
        case Type::money: zero = money::zero_q(c); break;
        case Type::point2D: zero = point::get(c, 0) == 0.0f && point::get(c, 1) == 0.0f; break;
        case Type::point3D:
            zero = point::get(c, 0) == 0.0f && point::get(c, 1) == 0.0f && point::get(c, 2) == 0.0f;
            break;
        default: numeric::raise_expect_arg(c, "value");
    }
    box_logic(zero);
}

void nan_q(bool, const int32_t*) { box_logic(nan_number_q(arg(0))); }

void max(bool, const int32_t*) { min_max(true); }
void min(bool, const int32_t*) { min_max(false); }

int32_t shift_bits(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    uint32_t u = static_cast<uint32_t>(data);
    if (left) return bits >= 32 ? 0 : static_cast<int32_t>(u << bits);
    if (logical) return bits >= 32 ? 0 : static_cast<int32_t>(u >> bits);
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
}

// refs: /left, /logical.
void shift(bool, const int32_t* refs) {
    integer::box(shift_bits(arg(0)->int2(), arg(1)->int2(), refs[refine::shift::left] >= 0,
                            refs[refine::shift::logical] >= 0));
    stack::keep();
}

// refs: /size with the position of its length.
void to_hex(bool, const int32_t* refs) {
    std::string digits = string::to_hex_8(arg(0)->int2(), false);
    if (refs[refine::to_hex::size] >= 0) {
        Cell* length = arg(refs[refine::to_hex::size]);
        int32_t n = length->int2();
        if (n <= 0) error::raise(error::id::script_invalid_arg, length);
        if (n < 8) digits.erase(0, 8 - static_cast<size_t>(n));
    }
    box_issue(digits);
}

void sine(bool, const int32_t* refs) {
    double r = std::sin(degrees_arg(refs[refine::sine::radians], 2));
    box_float(std::fabs(r) < epsilon ? 0.0 : r);
}

void cosine(bool, const int32_t* refs) {
    double r = std::cos(degrees_arg(refs[refine::cosine::radians], 1));
    box_float(std::fabs(r) < epsilon ? 0.0 : r);
}

void tangent(bool, const int32_t* refs) {
    double a = degrees_arg(refs[refine::tangent::radians], 0);
    if (a == pi / 2.0) return box_float(INFINITY);
    if (a == pi / -2.0) return box_float(-INFINITY);
    box_float(std::tan(a));
}

void arcsine(bool, const int32_t* refs) { arc_function(refs[refine::arcsine::radians], 2); }
void arccosine(bool, const int32_t* refs) { arc_function(refs[refine::arccosine::radians], 1); }
void arctangent(bool, const int32_t* refs) { arc_function(refs[refine::arctangent::radians], 0); }

void arctangent2(bool, const int32_t* refs) {
    double r = std::atan2(number_to_double(arg(0)), number_to_double(arg(1)));
    box_float(refs[refine::arctangent2::radians] == -1 ? r * 180.0 / pi : r);
}

// No domain checks: the maths library's NaN and infinities are the answers.
void log_2(bool, const int32_t*) { box_float(std::log(arg_to_float()) / 0.6931471805599453); }
void log_10(bool, const int32_t*) { box_float(std::log10(arg_to_float())); }
void log_e(bool, const int32_t*) { box_float(std::log(arg_to_float())); }
void exp(bool, const int32_t*) { box_float(std::pow(2.718281828459045, arg_to_float())); }
void square_root(bool, const int32_t*) { box_float(std::sqrt(arg_to_float())); }

void as_pair(bool, const int32_t*) {
    int32_t xy[2];
    for (int i = 0; i < 2; ++i) {
        Cell* c = arg(i);
        if (c->is(Type::integer)) {
            xy[i] = c->int2();
            continue;
        }
        double d = c->float23();
        if (!std::isfinite(d)) error::raise(error::id::script_invalid_arg, c);
        // A finite float past the integers saturates.
        xy[i] = d >= 2147483647.0 ? INT32_MAX : d <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(d);
    }
    Cell r;
    pair::make_at(&r, xy[0], xy[1]);
    stack::keep_last(&r);
}

void as_point2D(bool, const int32_t*) {
    Cell r;
    point2D::make_at(&r, point2D::coordinate_of(arg(0)), point2D::coordinate_of(arg(1)));
    stack::keep_last(&r);
}

void as_point3D(bool, const int32_t*) {
    Cell r;
    point3D::make_at(&r, point2D::coordinate_of(arg(0)), point2D::coordinate_of(arg(1)),
                     point2D::coordinate_of(arg(2)));
    stack::keep_last(&r);
}

void as_money(bool, const int32_t*) {
    Cell* currency = arg(0);
    int32_t index = money::currency_index(currency->int2());
    if (index < 1) error::raise(error::id::script_bad_denom, currency);
    Cell* amount = arg(1);
    Cell m;
    if (amount->is(Type::integer)) money::from_integer_at(&m, amount->int2());
    else m = *money::from_float(amount->float23(), false);
    money::set_currency(&m, index);
    stack::keep_last(&m);
}

}  // namespace zuv::natives
