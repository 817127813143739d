// Number kernels for the composite scalars.
#include "datatypes/numeric.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/float-text.h"
#include "datatypes/scalar.h"
#include "evaluator/error.h"
#include "evaluator/random.h"
#include "memory/stack.h"
#include "runtime/fatal.h"

namespace zuv::numeric {

namespace {

// Forms floats with the tidy-up of 16-digit noise ("0.7 + 0.1" shows 0.8).
constexpr bool pretty = true;

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

double float_op(double l, double r, int32_t op) {
    switch (op) {
        case 0: return l + r;
        case 1: return l - r;
        case 2: return l * r;
        case 3: return l / r;
        case 4:
            if (r * 0.0 == 0.0) return std::fmod(l, r);
            if (std::isnan(r)) return r;
            return std::isfinite(l) ? l : std::nan("");
        default: {
            Cell word = scalar::call_word();
            Cell type = scalar::type_cell(Type::float_);
            error::raise(error::id::script_cannot_use, &word, &type);
        }
    }
}

bool almost_equal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < 2.220446049250313e-16) return true;
    // Ordered integers: adjacent doubles differ by one whatever their sign.
    auto ordered = [](double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        return (bits >> 63) ? ~bits + 1 : bits | (uint64_t(1) << 63);
    };
    uint64_t ia = ordered(a), ib = ordered(b);
    return (ia > ib ? ia - ib : ib - ia) <= 10;
}

bool almost_equal32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    uint32_t ua = std::bit_cast<uint32_t>(a), ub = std::bit_cast<uint32_t>(b);
    if ((ua & 0x7FFFFFFF) >= 0x7F7FFFFF || (ub & 0x7FFFFFFF) >= 0x7F7FFFFF) {
        if ((ua ^ ub) & 0x80000000) return false;
        uint32_t d = ua > ub ? ua - ub : ub - ua;
        return d < 0x100000;
    }
    auto ordered = [](uint32_t u) {
        return (u & 0x80000000) ? -static_cast<int64_t>(u & 0x7FFFFFFF) : static_cast<int64_t>(u);
    };
    int64_t d = ordered(ua) - ordered(ub);
    return d >= -10 && d <= 10;
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

std::string form_text(double d, int kind) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    if ((bits & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL) {
        if (bits & 0x000FFFFFFFFFFFFFULL) return "1.#NaN";
        return (bits >> 63) ? "-1.#INF" : "1.#INF";
    }
    if (pretty && std::fabs(d) < 2.220446049250313e-16) {
        if (kind == 2 || kind == 3) return "0%";
        return kind == 5 ? "0" : "0.0";
    }
    static constexpr const char* first[] = {"%.7g", "%.16g", "%.7g", "%.13g", nullptr, "%.7g"};
    static constexpr const char* retry[] = {"%.5g", "%.14g", "%.14g", "%.14g", "%.5g", "%.5g"};
    char text[96];
    auto format = [&](const char* f) {
        if (f) std::snprintf(text, sizeof text, f, d);
        else std::snprintf(text, sizeof text, "%s", float_text::form_shortest(d, 6, false).c_str());
    };
    format(first[kind]);
    if (pretty) {
        const char* e = std::strchr(text, 'e');
        std::size_t length = std::strlen(text);
        const char* last_two = nullptr;
        if (!e) {
            bool leading_zero = text[text[0] == '-' ? 1 : 0] == '0';
            if (length > 16 && (!leading_zero || length > 17)) last_two = text + length - 2;
        } else if (e - text > 16) {
            last_two = e - 2;
        }
        if (last_two && ((last_two[0] == '0' && last_two[1] == '1') || (last_two[0] == '9' && last_two[1] == '9')))
            format(retry[kind]);
    }
    // The exponent loses its "+" and leading zeros: 1e+020 is 1e20, 1.5e-007 is 1.5e-7.
    std::string out;
    const char* e = std::strchr(text, 'e');
    if (e) {
        out.assign(text, static_cast<std::size_t>(e + 1 - text));
        const char* p = e + 1;
        if (*p == '-') out += *p++;
        else if (*p == '+') ++p;
        while (*p == '0' && p[1]) ++p;
        out += p;
    } else {
        out = text;
    }
    if (kind == 2 || kind == 3) {
        out += '%';
    } else if ((kind == 0 || kind == 1) && out.find('.') == std::string::npos) {
        std::size_t at = out.find('e');
        out.insert(at == std::string::npos ? out.size() : at, ".0");
    }
    return out;
}

int32_t time_hours(double seconds) {
    int32_t h;
    return to_int32(seconds / 3600.0, &h) ? h : 0;
}

int32_t time_minutes(double seconds) {
    double m = std::floor(std::fmod(std::fabs(seconds), 3600.0) / 60.0);
    return std::isnan(m) ? 0 : static_cast<int32_t>(m);
}

int32_t time_form(double s, Cell* buffer, int32_t budget) {
    if (s < 0) {
        budget = scalar::append(buffer, "-", budget);
        s = -s;
    }
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", std::floor(s / 3600.0));
    budget = scalar::append(buffer, text, budget);
    std::snprintf(text, sizeof text, ":%02d:", time_minutes(s));
    budget = scalar::append(buffer, text, budget);
    double sec = std::fmod(s, 60.0);
    if (sec < 0.000001) return scalar::append(buffer, "00", budget);
    std::string t = form_text(sec, 4);
    if (t.size() == 1 || t[1] == '.') t.insert(0, "0");
    return scalar::append(buffer, t, budget);
}

double time_set_field(double s, int32_t field, const Cell* value) {
    bool integer = value->is(Type::integer);
    if (!(integer || (field == 3 && value->is(Type::float_)))) error::raise(error::id::script_invalid_arg, value);
    double v = scalar::number_of(value);
    switch (field) {
        case 1: return s - (std::floor(s / 3600.0) - v) * 3600.0;
        case 2: return s - (std::floor(std::fmod(s, 3600.0) / 60.0) - v) * 60.0;
        default: return s - (std::fmod(s, 60.0) - v);
    }
}

}  // namespace zuv::numeric
