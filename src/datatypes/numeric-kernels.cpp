// Number kernels for the composite scalars.
#include "datatypes/numeric.h"

#include <cmath>

#include "datatypes/scalar.h"
#include "memory/error.h"
#include "runtime/random.h"
#include "memory/stack.h"
#include "runtime/fatal.h"

namespace zuv::numeric {

namespace {

[[noreturn, gnu::cold]] void overflow() { error::raise(error::id::math_overflow); }
[[noreturn, gnu::cold]] void zero_divide() { error::raise(error::id::math_zero_divide); }

}  // namespace

void integer_at(Cell* c, int32_t v) { cell::make(c, Type::integer, 0, static_cast<uint32_t>(v)); }

Cell* push_integer(int32_t v) {
    Cell c;
    integer_at(&c, v);
    return stack::push(&c);
}

void float_at(Cell* c, double d, Type t) {
    cell::make(c, t);
    c->set_float23(d);
}

Cell* push_float(double d, Type t) {
    Cell c;
    float_at(&c, d, t);
    return stack::push(&c);
}

bool to_int32(double d, int32_t* out) {
    // The comparisons are false for NaN, so it is refused too.
    if (!(d > -2147483649.0 && d < 2147483648.0)) return false;
    *out = static_cast<int32_t>(d);
    return true;
}

IntegerResult integer_op(int32_t l, int32_t r, int32_t op, bool promote) {
    int32_t v = 0;
    switch (op) {
        case 0:
            if (__builtin_add_overflow(l, r, &v)) return {0, true, double(l) + double(r)};
            break;
        case 1:
            if (__builtin_sub_overflow(l, r, &v)) return {0, true, double(l) - double(r)};
            break;
        case 2:
            if (__builtin_mul_overflow(l, r, &v)) return {0, true, double(l) * double(r)};
            break;
        case 3:
            if (r == 0) zero_divide();
            if (l == INT32_MIN && r == -1) overflow();
            if (promote && l % r != 0) return {0, true, double(l) / double(r)};
            v = l / r;
            break;
        case 4:
            if (r == 0) zero_divide();
            if (l == INT32_MIN && r == -1) overflow();
            v = l % r;
            break;
        case 5: v = l | r; break;
        case 6: v = l & r; break;
        case 7: v = l ^ r; break;
        default: runtime::quit(runtime::no_switch_match, 0);
    }
    return {v, false, 0.0};
}

int32_t round_int32(int32_t v, int32_t scale, Rounding how) {
    if (v == INT32_MIN) return v;
    if (scale == INT32_MIN) overflow();
    int32_t sc = scale < 0 ? -scale : scale;
    if (sc == 0) return v;
    int32_t a = v < 0 ? -v : v;
    int32_t r = a % sc;
    if (r == 0) return v;
    int32_t d = sc - r;
    int64_t up = int64_t(a) + d;
    bool away;
    bool check = true;
    if (how.down) {
        away = false;
        check = false;
    } else if (how.floor) {
        away = v < 0;
    } else if (how.ceiling) {
        away = v > 0;
    } else if (r < d) {
        away = false;
        check = false;
    } else if (r > d) {
        away = true;
    } else if (how.even) {
        away = (a / sc) & 1;
        check = away;
    } else if (how.half_down) {
        away = false;
        check = false;
    } else if (how.half_ceiling) {
        away = v > 0;
    } else {
        away = true;
    }
    if (check && up > INT32_MAX) overflow();
    int32_t magnitude = away ? static_cast<int32_t>(up) : a - r;
    return v < 0 ? -magnitude : magnitude;
}

double round_double(double dec, bool percent_value, const Cell* scale, Rounding how) {
    double sc = percent_value ? 0.01 : 1.0;
    if (scale) {
        sc = std::fabs(scalar::number_of(scale));
        if (percent_value) sc /= 100.0;
    }
    if (sc < std::ldexp(std::fabs(dec), -53)) return dec;
    // A zero value or scale has nothing to round to.
    if (dec == 0.0 || sc == 0.0) return dec;
    bool big = sc >= 1.0;
    // Below a subnormal scale the reciprocal is infinite: divide by the scale itself then.
    bool reciprocal = !big && std::isfinite(1.0 / sc);
    if (big) dec /= sc;
    else if (reciprocal) dec *= (sc = 1.0 / sc);
    else dec /= sc;
    double d = std::fabs(dec);
    double half = std::floor(d) + 0.5;
    double toward = std::copysign(std::floor(d), dec);
    double away = std::copysign(std::ceil(d), dec);
    if (how.down) dec = toward;
    else if (how.floor) dec = std::floor(dec);
    else if (how.ceiling) dec = std::ceil(dec);
    else if (half > d) dec = toward;
    else if (half < d) dec = away;
    else if (how.even) dec = std::fmod(std::floor(d), 2.0) >= 1.0 ? away : toward;
    else if (how.half_down) dec = toward;
    else if (how.half_ceiling) dec = std::ceil(dec);
    else dec = away;
    if (big) {
        dec *= sc;
        if (std::isinf(dec)) overflow();
    } else if (reciprocal) {
        dec /= sc;
    } else {
        dec *= sc;
    }
    return dec;
}

int32_t round_component(int32_t v, const Cell* scale, Rounding how) {
    if (!scale || scale->is(Type::integer)) return round_int32(v, scale ? scale->int2() : 1, how);
    if (v == INT32_MIN) return v;
    if (!(scale->is(Type::float_) || scale->is(Type::percent) || scale->is(Type::time)))
        scalar::raise_type(error::id::script_invalid_type, scale->type());
    int32_t out;
    if (!to_int32(round_double(double(v), false, scale, how), &out)) overflow();
    return out;
}

double float_random(double v, bool secure) {
    if (!secure) return random::next() / 2147483647.0 * v;
    double a = random::secure_int(), b = random::secure_int();
    return ((a / 2147483647.0) + b) * v / 2147483648.0;
}

int32_t time_hours(double seconds) {
    int32_t h;
    return to_int32(seconds / 3600.0, &h) ? h : 0;
}

int32_t time_minutes(double seconds) {
    double m = std::floor(std::fmod(std::fabs(seconds), 3600.0) / 60.0);
    return std::isnan(m) ? 0 : static_cast<int32_t>(m);
}

}  // namespace zuv::numeric
