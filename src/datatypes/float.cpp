// float! and percent!: the double helpers, the %g-style text forms with their pretty
// clean-up (written without the C library's printf, whose decimal point follows the
// locale), tolerant equality, the float kernel and the typed arithmetic, rounding,
// conversions and comparison.
#include "datatypes/float.h"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "runtime/random.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "datatypes/number-scan.h"

namespace zuv {
namespace {

Cell* make_typed(Cell* c, Type t, double value) {
    cell::make(c, t);
    c->set_float23(value);
    return c;
}

double from_halves(uint32_t high, uint32_t low) {
    return std::bit_cast<double>((static_cast<uint64_t>(high) << 32) | low);
}

}  // namespace
}  // namespace zuv

namespace zuv::float_ {

bool pretty_print_q = true;
bool full_support_q = false;

namespace {

constexpr uint64_t sign_bit = 0x8000000000000000ull;
constexpr uint64_t exponent_mask = 0x7FF0000000000000ull;
constexpr uint64_t mantissa_mask = 0x000FFFFFFFFFFFFFull;
constexpr double epsilon = 2.220446049250313e-16;

// A text loaded as one value: a float!, percent! or integer! gives its number ("5%" is 0.05,
// "5" is 5.0); anything else, or more than one value, is no percent.
double load_percent_text(Cell* text) {
    Cell v;
    scalar::load_value(text, &v);
    if (v.is(Type::float_) || v.is(Type::percent)) return v.float23();
    if (v.is(Type::integer)) return double(v.int2());
    numeric::raise_bad_to_arg(Type::percent, text);
}

// Text forms -------------------------------------------------------------------------------

// Significant digits of the %g-style form of each text kind, and of its pretty retry.
struct Formats {
    int first;  // 0: six digits by the shortest-text routine
    int retry;
};
constexpr Formats formats[] = {{7, 5}, {16, 14}, {7, 14}, {13, 14}, {0, 5}, {7, 5}};

void set_text(float_text::Text& t, std::string_view s) {
    std::memcpy(t.chars, s.data(), s.size());
    t.count = static_cast<int32_t>(s.size());
    t.chars[t.count] = 0;
}

// The %.<digits>g text of a finite double, always with a "." whatever LC_NUMERIC says.
void format(float_text::Text& t, double value, int digits) {
    if (digits == 0) {
        t = float_text::form_shortest(value, 6, false);
        return;
    }
    const std::to_chars_result r =
        std::to_chars(t.chars, t.chars + sizeof t.chars - 1, value, std::chars_format::general, digits);
    t.count = r.ec == std::errc() ? static_cast<int32_t>(r.ptr - t.chars) : 0;
    t.chars[t.count] = 0;
}

int32_t find_e(const float_text::Text& t) {
    const char* e = static_cast<const char*>(std::memchr(t.chars, 'e', static_cast<std::size_t>(t.count)));
    return e ? static_cast<int32_t>(e - t.chars) : -1;
}

// Sixteen digits show the binary noise of a decimal value (0.7 + 0.1 gives ...99): when the
// last two digits shown are 01 or 99, fewer digits give the intended text.
bool noisy_q(const float_text::Text& t, int32_t e) {
    std::string_view tail;
    if (e < 0) {
        const char first = t.chars[t.chars[0] == '-' ? 1 : 0];
        if (t.count > 16 && (first != '0' || t.count > 17)) tail = std::string_view(t.chars + t.count - 2, 2);
    } else if (e > 16) {
        tail = std::string_view(t.chars + e - 2, 2);
    }
    return tail == "01" || tail == "99";
}

// "1e+020" becomes "1e20", "1.5e-007" becomes "1.5e-7".
void trim_exponent(float_text::Text& t, int32_t e) {
    if (e < 0) return;
    int32_t from = e + 1, to = e + 1;
    if (from < t.count && (t.chars[from] == '+' || t.chars[from] == '-')) {
        if (t.chars[from] == '-') t.chars[to++] = '-';
        ++from;
    }
    while (from < t.count - 1 && t.chars[from] == '0') ++from;
    while (from < t.count) t.chars[to++] = t.chars[from++];
    t.count = to;
    t.chars[t.count] = 0;
}

}  // namespace

float_text::Text form_text(double value, int kind) {
    float_text::Text t;
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    if ((bits & exponent_mask) == exponent_mask) {
        set_text(t, (bits & mantissa_mask) ? "1.#NaN" : (bits & sign_bit) ? "-1.#INF" : "1.#INF");
        return t;
    }
    const bool percent_kind = kind == kind::single_percent || kind == kind::percent;
    if (pretty_print_q && std::fabs(value) < epsilon) {
        set_text(t, percent_kind ? "0%" : kind == kind::point ? "0" : "0.0");
        return t;
    }
    const Formats& f = formats[kind];
    format(t, value, f.first);
    int32_t e = find_e(t);
    if (pretty_print_q && noisy_q(t, e)) {
        format(t, value, f.retry);
        e = find_e(t);
    }
    trim_exponent(t, e);
    e = find_e(t);
    if (percent_kind) {
        t.chars[t.count++] = '%';
    } else if ((kind == kind::single || kind == kind::float_) &&
               !std::memchr(t.chars, '.', static_cast<std::size_t>(t.count))) {
        const int32_t at = e < 0 ? t.count : e;
        std::memmove(t.chars + at + 2, t.chars + at, static_cast<std::size_t>(t.count - at));
        t.chars[at] = '.';
        t.chars[at + 1] = '0';
        t.count += 2;
    }
    t.chars[t.count] = 0;
    return t;
}

// Helpers ---------------------------------------------------------------------------------

Cell* box(double value) { return make_typed(stack::arguments_base, Type::float_, value); }
Cell* make_at(Cell* c, double value) { return make_typed(c, Type::float_, value); }
Cell* make_in(Cell* block, uint32_t high, uint32_t low) {
    return make_typed(block::alloc_tail_cell(block), Type::float_, from_halves(high, low));
}
Cell* push(double value) { return make_typed(stack::push_slot(), Type::float_, value); }
Cell* push64(uint32_t high, uint32_t low) { return push(from_halves(high, low)); }

double abs(double value) { return std::bit_cast<double>(std::bit_cast<uint64_t>(value) & ~sign_bit); }

bool NaN_q(double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    return (bits & exponent_mask) == exponent_mask && (bits & mantissa_mask) != 0;
}

bool NaN32_q(float value) { return value != value; }

bool special_q(double value) { return (std::bit_cast<uint64_t>(value) & exponent_mask) == exponent_mask; }

int32_t to_integer(double value) {
    const std::optional<int32_t> v = integer::from_double(value + 0.49999999999999994);
    if (!v) {
        Cell c;
        make_at(&c, value);
        error::raise(error::id::script_out_of_range, &c);
    }
    return *v;
}

bool almost_equal_q(double a, double b) {
    if (NaN_q(a) || NaN_q(b)) return false;
    if (a == b) return true;
    // An infinity is never near a finite value, however close their bit patterns lie.
    if (special_q(a) || special_q(b)) return false;
    if (std::fabs(a - b) < epsilon) return true;
    // Bit patterns mapped to one unsigned order (negatives below positives, -0 = +0).
    auto ordered = [](double x) {
        const uint64_t bits = std::bit_cast<uint64_t>(x);
        return (bits & sign_bit) ? 0 - bits : bits | sign_bit;
    };
    const uint64_t x = ordered(a), y = ordered(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool almost_equal32_q(float a, float b) {
    if (NaN32_q(a) || NaN32_q(b)) return false;
    if (a == b) return true;
    const uint32_t pa = std::bit_cast<uint32_t>(a), pb = std::bit_cast<uint32_t>(b);
    if ((pa & 0x7FFFFFFF) >= 0x7F7FFFFF || (pb & 0x7FFFFFFF) >= 0x7F7FFFFF) {
        if ((pa ^ pb) & 0x80000000) return false;
        return (pa > pb ? pa - pb : pb - pa) < 0x100000;
    }
    auto ordered = [](uint32_t p) {
        return (p & 0x80000000) ? int64_t(0x80000000) - int64_t(p) : int64_t(p);
    };
    const int64_t d = ordered(pa) - ordered(pb);
    return (d < 0 ? -d : d) <= 10;
}

double do_math_op(double left, double right, int32_t op) {
    switch (op) {
        case numeric::add: return left + right;
        case numeric::subtract: return left - right;
        case numeric::multiply: return left * right;
        case numeric::divide: return left / right;
        case numeric::remainder:
            if (right * 0.0 == 0.0) return std::fmod(left, right);
            if (NaN_q(right)) return std::numeric_limits<double>::quiet_NaN();
            return special_q(left) ? std::numeric_limits<double>::quiet_NaN() : left;
        default: {
            Cell action, type;
            stack::get_call_word(&action);
            datatype::make_at(&type, static_cast<int>(Type::float_));
            error::raise(error::id::script_cannot_use, &action, &type);
        }
    }
}

double get_number(const Cell* c) {
    if (c->is(Type::integer)) return double(c->int2());
    if (c->is(Type::float_)) return c->float23();
    numeric::raise_bad_to_arg(Type::float_, c);
}

std::optional<double> round_double(double value, double scale, const RoundModes& m) {
    // A scale below the value's precision changes nothing, and a zero scale (reached only by
    // a zero value) has no multiples to round to.
    if (scale < std::ldexp(std::fabs(value), -53) || scale == 0.0) return std::nullopt;
    const bool large = scale >= 1.0;
    double inverse = 0.0, q;
    bool subnormal = false;
    if (large) {
        q = value / scale;
    } else {
        inverse = 1.0 / scale;
        if (std::isinf(inverse)) {
            // The reciprocal of a subnormal scale overflows: divide with both operands scaled
            // up instead (the value is within 2^53 scales, so neither overflows).
            subnormal = true;
            q = std::ldexp(value, 600) / std::ldexp(scale, 600);
        } else {
            q = value * inverse;
        }
    }
    const double d = std::fabs(q);
    const double whole = std::floor(d);
    const double half = whole + 0.5;
    const double toward = std::copysign(whole, q);
    const double away = std::copysign(std::ceil(d), q);
    double r;
    if (m.down) r = toward;
    else if (m.floor) r = std::floor(q);
    else if (m.ceiling) r = std::ceil(q);
    else if (half > d) r = toward;
    else if (half < d) r = away;
    else if (m.even) r = std::fmod(whole, 2.0) >= 1.0 ? away : toward;
    else if (m.half_down) r = toward;
    else if (m.half_ceiling) r = std::ceil(q);
    else r = away;
    if (large) {
        r *= scale;
        if (std::fabs(r) > DBL_MAX) error::raise(error::id::math_overflow);
    } else if (subnormal) {
        r *= scale;
    } else {
        r /= inverse;
    }
    return r;
}

// Actions ---------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    const Type target = static_cast<Type>(type) == Type::percent ? Type::percent : Type::float_;
    double v;
    switch (spec->type()) {
        case Type::integer: case Type::char_:
            v = double(spec->int2());
            break;
        case Type::money: v = money::to_float(spec); break;
        case Type::time: case Type::float_: case Type::percent:
            v = spec->float23();
            break;
        case Type::binary: {
            // Up to eight bytes from the head, big-endian: the bit pattern of the double.
            const int32_t n = std::min(series::length(spec), 8);
            const uint8_t* p = series::head_address(spec);
            uint64_t bits = 0;
            for (int32_t i = 0; i < n; ++i) bits = (bits << 8) | p[i];
            v = std::bit_cast<double>(bits);
            break;
        }
        case Type::block: case Type::paren: case Type::hash: {
            if (block::length(spec) != 2) numeric::raise_bad_to_arg(Type::float_, spec);
            const Cell mantissa = block::head(spec)[0], exponent = block::head(spec)[1];
            for (const Cell* c : {&mantissa, &exponent})
                if (!c->is(Type::integer) && !c->is(Type::float_)) numeric::raise_bad_to_arg(Type::float_, c);
            v = get_number(&mantissa) * std::pow(10.0, std::trunc(get_number(&exponent)));
            break;
        }
        default: {
            if (!numeric::text_type_q(spec->type())) numeric::raise_bad_to_arg(target, spec);
            if (target == Type::percent) {
                v = load_percent_text(spec);
                break;
            }
            const int32_t n = series::length(spec);
            const number_scan::FloatScan scan = number_scan::scan_float_or_special(series::head_address(spec), static_cast<std::size_t>(n),
                                                            series::buffer(spec)->unit());
            if (n == 0 || scan.error != number_scan::ScanError::none) numeric::raise_bad_to_arg(target, spec);
            v = scan.value;
        }
    }
    return make_typed(proto, target, v);
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<int32_t>(value->data2 ^ value->data3));  // the double's raw bits
        cell::make(value, Type::unset);
        return value;
    }
    const double v = value->float23();
    double r;
    if (secure) {
        const double a = random::secure_int(), b = random::secure_int();
        r = ((a / 2147483647.0) + b) * v / 2147483648.0;
    } else {
        r = random::next() / 2147483647.0 * v;
    }
    value->set_float23(r);
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    const float_text::Text t = form_text(value->float23(), kind::float_);
    string::append_ascii(buffer, t.view());
    return budget - t.count;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    const float_text::Text t = float_text::form_shortest(value->float23(), 0, true);
    string::append_ascii(buffer, t.view());
    return budget - t.count;
}

namespace {

// The order of a double against a money! amount. Inside money's range the two compare as
// money; outside it the float lies beyond every amount (|x| >= 1e17) or between zero and
// every non-zero amount (|x| < 1e-5), so signs and magnitudes decide.
int32_t compare_money(Cell* a, Cell* b, int32_t op) {
    const double x = a->float23();
    const double m = std::fabs(x);
    if (m == 0.0 || (m >= 1e-5 && m < 1e17)) return numeric::compare_reversed(a, b, op);
    if (NaN_q(x)) return op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : op == 0 || op == 1 ? 1 : 0;
    if (m >= 1e17) return x > 0 ? 1 : -1;
    // A tiny non-zero float orders against an amount as zero does, unless the amount is zero.
    Cell zero = {static_cast<uint32_t>(Type::integer), 0, 0, 0};
    const int32_t zero_order = numeric::compare_reversed(&zero, b, 3);
    return zero_order != 0 ? zero_order : x > 0 ? 1 : -1;
}

}  // namespace

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if ((op == 2 || op == 9 || op == 12) && b->type() != a->type()) return 1;
    const double x = a->float23();
    double y;
    switch (b->type()) {
        case Type::money: return compare_money(a, b, op);
        case Type::integer: y = double(b->int2()); break;
        case Type::float_: case Type::percent: case Type::time: y = b->float23(); break;
        default: return -2;
    }
    switch (op) {
        case 0: case 1:
            return almost_equal_q(x, y) ? 0 : 1;
        case 2: case 12:
            // Exact equality: NaN equals nothing, not even under find's strictness.
            return x == y ? 0 : 1;
        case 9:
            return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ? 0 : 1;
        default:
            if (NaN_q(x) || NaN_q(y)) return op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : 0;
            return (x > y) - (x < y);
    }
}

Cell* absolute(Cell* value) {
    value->data3 &= 0x7FFFFFFF;  // the sign bit of the double's high data word, NaNs kept as they are
    return value;
}

Cell* negate(Cell* value) {
    value->set_float23(0.0 - value->float23());
    return value;
}

bool even_q(Cell* value) {
    const double t = std::trunc(value->float23());
    return std::isfinite(t) && std::fmod(t, 2.0) == 0.0;
}

bool odd_q(Cell* value) {
    const double t = std::trunc(value->float23());
    return std::isfinite(t) && std::fmod(t, 2.0) != 0.0;
}

Cell* do_math(Cell* a, Cell* b, int32_t op) {
    const Type lt = a->type(), rt = b->type();
    switch (rt) {
        case Type::integer: case Type::float_: case Type::percent: case Type::time:
            break;
        case Type::char_:
            if (lt == Type::percent || lt == Type::time) numeric::raise_invalid_type(rt);
            break;
        case Type::tuple:
            return numeric::hand_over(a, b, op, false);
        case Type::money:
            if (op > numeric::remainder) numeric::raise_invalid_type(lt);
            return numeric::hand_over(a, b, op, false);
        case Type::pair: case Type::point2D: case Type::point3D:
            if (lt == Type::time) numeric::raise_invalid_type(rt);
            if (op == numeric::subtract || op == numeric::divide) {
                Cell w;
                numeric::op_word(op, &w);
                numeric::raise_not_related(&w, rt);
            }
            return numeric::hand_over(a, b, op, true);
        case Type::vector:
            return numeric::hand_over(a, b, op, true);
        default:
            numeric::raise_invalid_type(rt);
    }
    const double x = lt == Type::integer ? double(a->int2()) : a->float23();
    const double y = rt == Type::integer || rt == Type::char_ ? double(b->int2()) : b->float23();
    const double r = do_math_op(x, y, op);
    a->set_type(lt == Type::time || rt == Type::time ? Type::time : lt == Type::percent ? Type::percent : Type::float_);
    a->set_float23(r);
    return a;
}

Cell* power(Cell* base, Cell* exponent) {
    if (!exponent->is(Type::integer) && !exponent->is(Type::float_)) numeric::raise_expect_arg(exponent, "exponent");
    base->set_float23(std::pow(base->float23(), get_number(exponent)));
    return base;
}

Cell* round(Cell* value, const slotfn::RoundOptions& o) {
    Cell* scale = o.scale;
    if (scale && scale->is(Type::money)) numeric::raise_not_related("round", Type::money);
    const bool percent = value->is(Type::percent);
    double sc = percent ? 0.01 : 1.0;
    if (scale) {
        switch (scale->type()) {
            case Type::integer: sc = double(scale->int2()); break;
            case Type::float_: case Type::percent: case Type::time: sc = scale->float23(); break;
            default: numeric::raise_invalid_type(scale->type());
        }
        sc = std::fabs(sc);
        if (percent) sc /= 100.0;
    }
    const std::optional<double> r =
        round_double(value->float23(), sc, {o.even, o.down, o.half_down, o.floor, o.ceiling, o.half_ceiling});
    if (!r) return value;
    if (scale && scale->is(Type::integer)) {
        // An integer scale counts percent points on a percent!, which stays one (as an integer!
        // 12% would be 0). Otherwise it makes an integer!; a multiple beyond 32 bits has none.
        if (!percent) {
            const std::optional<int32_t> i = integer::from_double(*r);
            if (!i) error::raise(error::id::math_overflow);
            cell::make(value, Type::integer, 0, static_cast<uint32_t>(*i));
            return value;
        }
    } else if (scale) {
        value->set_type(scale->type());
    }
    value->set_float23(*r);
    return value;
}

// Registration ----------------------------------------------------------------------------

void init() {
    using ops = numeric::OpSlots<do_math>;
    datatype::register_type(Type::float_, {
        .make = make,
        .random = random,
        .to = make,
        .form = form,
        .mold = mold,
        .compare = compare,
        .absolute = absolute,
        .add = ops::add,
        .divide = ops::divide,
        .multiply = ops::multiply,
        .negate = negate,
        .power = power,
        .remainder = ops::remainder,
        .round = round,
        .subtract = ops::subtract,
        .even_q = even_q,
        .odd_q = odd_q,
    });
}

}  // namespace zuv::float_

namespace zuv::percent {

namespace {
}  // namespace

Cell* box(double value) { return make_typed(stack::arguments_base, Type::percent, value); }
Cell* make_at(Cell* c, double value) { return make_typed(c, Type::percent, value); }
Cell* make_at64(Cell* c, uint32_t high, uint32_t low) { return make_typed(c, Type::percent, from_halves(high, low)); }
Cell* make_in(Cell* block, uint32_t high, uint32_t low) {
    return make_typed(block::alloc_tail_cell(block), Type::percent, from_halves(high, low));
}
Cell* push(double value) { return make_typed(stack::push_slot(), Type::percent, value); }
Cell* push64(uint32_t high, uint32_t low) { return push(from_halves(high, low)); }

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    const float_text::Text t = float_::form_text(value->float23() * 100.0, float_::kind::percent);
    string::append_ascii(buffer, t.view());
    return budget - t.count;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* part, int32_t budget, int32_t) {
    // With /all every digit that tells the value apart is written, so that it loads back.
    if (all && std::isfinite(value->float23())) {
        std::string text = float_text::form_exact(value->float23(), 2, 20) + "%";
        string::append_ascii(buffer, text);
        return budget - static_cast<int32_t>(text.size());
    }
    return form(value, buffer, part, budget);
}

void init() {
    datatype::register_type(Type::percent, {
        .others = datatype::inherit,
        .form = form,
        .mold = mold,
    });
}

}  // namespace zuv::percent
