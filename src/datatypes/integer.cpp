// integer!: the 32-bit helpers, the arithmetic kernel with its overflow promotion to float!,
// rounding in every mode, power, conversions and decimal text. Integer arithmetic never
// allocates: promotion rewrites the result cell in place.
#include "datatypes/integer.h"

#include <cstring>
#include <limits>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/numeric.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "runtime/random.h"
#include "memory/symbol.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "datatypes/number-scan.h"
#include "runtime/fatal.h"

namespace zuv::integer {

namespace {

constexpr int32_t min_value = std::numeric_limits<int32_t>::min();
constexpr int32_t max_value = std::numeric_limits<int32_t>::max();

[[noreturn, gnu::cold]] void raise_overflow() { error::raise(error::id::math_overflow); }

[[noreturn, gnu::cold]] void raise_type_limit() {
    Cell type;
    datatype::make_at(&type, static_cast<int>(Type::integer));
    error::raise(error::id::script_type_limit, &type);
}

// Seconds since 1970 in UTC. Dates before 1901 or after 2038 have no 32-bit count: refused
// rather than wrapped into some other date's seconds.
int32_t date_to_integer(const Cell* d) {
    const int64_t s = date::to_epoch(d);
    if (s < min_value || s > max_value) raise_type_limit();
    return static_cast<int32_t>(s);
}

// An overflowed add, subtract or multiply: the same operation in doubles, as a float!.
[[gnu::cold]] int32_t promote(Cell* result, double value) {
    cell::make(result, Type::float_);
    result->set_float23(value);
    return 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An issue's name read as at most 8 hexadecimal digits; script/invalid-data otherwise.
int32_t from_issue(const Cell* issue) {
    const int32_t sym = issue->int2();
    const char* name = symbol::name(sym);
    const int32_t n = symbol::name_length(sym);
    uint32_t v = 0;
    bool ok = n <= 8;
    for (int32_t i = 0; ok && i < n; ++i) {
        const int d = hex_digit(name[i]);
        ok = d >= 0;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    if (!ok) {
        Cell value = *issue;
        error::raise(error::id::script_invalid_data, &value);
    }
    return static_cast<int32_t>(v);
}

// The first bytes (at most 4) from the head, big-endian.
int32_t from_binary(Cell* bin) {
    const int32_t n = std::min(series::length(bin), 4);
    const uint8_t* p = series::head_address(bin);
    uint32_t v = 0;
    for (int32_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return static_cast<int32_t>(v);
}

int32_t from_text(Cell* text) {
    const number_scan::IntegerScan scan =
        number_scan::scan_integer(series::head_address(text), static_cast<std::size_t>(series::length(text)),
                            series::buffer(text)->unit());
    if (scan.error != number_scan::ScanError::none) numeric::raise_bad_to_arg(Type::integer, text);
    return scan.value;
}

}  // namespace

// Helpers ---------------------------------------------------------------------------------

Cell* box(int32_t value) {
    Cell* r = stack::arguments_base;
    cell::make(r, Type::integer, 0, static_cast<uint32_t>(value));
    return r;
}

Cell* make_at(Cell* c, int32_t value) {
    c->set_type(Type::integer);
    set(c, value);
    return c;
}

Cell* make_in(Cell* block, int32_t value) {
    Cell* c = block::alloc_tail_cell(block);
    cell::make(c, Type::integer, 0, static_cast<uint32_t>(value));
    return c;
}

Cell* push(int32_t value) {
    Cell* c = stack::push_slot();
    cell::make(c, Type::integer, 0, static_cast<uint32_t>(value));
    return c;
}

Decimal form_decimal(int32_t value) {
    Decimal d;
    if (value == min_value) {
        std::memcpy(d.chars, "-2147483648", 12);
        d.count = 11;
        return d;
    }
    char digits[11];
    int32_t n = 0;
    uint32_t magnitude = value < 0 ? static_cast<uint32_t>(-value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) d.chars[d.count++] = '-';
    while (n > 0) d.chars[d.count++] = digits[--n];
    d.chars[d.count] = 0;
    return d;
}

int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* result) {
    int32_t r;
    switch (op) {
        case numeric::add:
            if (__builtin_add_overflow(left, right, &r) && result) [[unlikely]]
                return promote(result, double(left) + double(right));
            break;
        case numeric::subtract:
            if (__builtin_sub_overflow(left, right, &r) && result) [[unlikely]]
                return promote(result, double(left) - double(right));
            break;
        case numeric::multiply:
            if (__builtin_mul_overflow(left, right, &r) && result) [[unlikely]]
                return promote(result, double(left) * double(right));
            break;
        case numeric::divide:
            if (right == 0) error::raise(error::id::math_zero_divide);
            if (left == min_value && right == -1) raise_overflow();
            r = left / right;
            if (result && left % right != 0) {
                cell::make(result, Type::float_);
                result->set_float23(double(left) / double(right));
                return r;
            }
            break;
        case numeric::remainder:
            if (right == 0) error::raise(error::id::math_zero_divide);
            if (left == min_value && right == -1) raise_overflow();
            r = left % right;
            break;
        case numeric::or_: r = left | right; break;
        case numeric::and_: r = left & right; break;
        case numeric::xor_: r = left ^ right; break;
        default: runtime::quit(runtime::no_switch_match, 0);
    }
    if (result) set(result, r);
    return r;
}

int32_t abs(int32_t value) {
    if (value == min_value) raise_overflow();
    return value < 0 ? -value : value;
}

int32_t sign(int32_t value) { return (value > 0) - (value < 0); }

std::optional<int32_t> from_double(double value) {
    // The comparisons are false for NaN, so NaN falls out with the out-of-range values.
    if (!(value <= 2147483647.0 && value >= -2147483648.0)) return std::nullopt;
    return static_cast<int32_t>(value);
}

bool float_overflow_q(const Cell* c) { return !from_double(c->float23()).has_value(); }

int32_t from_number(const Cell* c) {
    if (!c->is(Type::float_)) return c->int2();
    const std::optional<int32_t> v = from_double(c->float23());
    if (!v) {
        Cell value = *c;
        error::raise(error::id::script_out_of_range, &value);
    }
    return *v;
}

// Actions ---------------------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, int32_t) {
    int32_t v;
    switch (spec->type()) {
        case Type::integer: case Type::char_:
            v = spec->int2();
            break;
        case Type::float_: case Type::percent:
            if (float_overflow_q(spec)) raise_type_limit();
            v = *from_double(spec->float23());
            break;
        case Type::time: {
            // Seconds rounded half up; a time beyond 32 bits of seconds has no integer.
            const std::optional<int32_t> s = from_double(spec->float23() + 0.5);
            if (!s) raise_type_limit();
            v = *s;
            break;
        }
        case Type::money: v = money::to_integer(spec); break;
        case Type::date: v = date_to_integer(spec); break;
        case Type::binary: v = from_binary(spec); break;
        case Type::issue: v = from_issue(spec); break;
        default:
            if (!numeric::text_type_q(spec->type())) numeric::raise_bad_to_arg(Type::integer, spec);
            v = from_text(spec);
    }
    cell::make(proto, Type::integer, 0, static_cast<uint32_t>(v));
    return proto;
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::logic)) {
        cell::make(proto, Type::integer, 0, logic::get(spec) ? 1 : 0);
        return proto;
    }
    return to(proto, spec, type);
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->int2());
        cell::make(value, Type::unset);
        return value;
    }
    if (value->int2() != 0) set(value, random::int_(secure, value->int2()));
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    const Decimal d = form_decimal(value->int2());
    string::append_ascii(buffer, d.view());
    return budget - d.count;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if ((op == 2 || op == 12) && !b->is(Type::integer)) return 1;
    switch (b->type()) {
        case Type::integer: case Type::char_: {
            const int32_t x = a->int2(), y = b->int2();
            return (x > y) - (x < y);
        }
        case Type::money:
            return numeric::compare_reversed(a, b, op);
        case Type::float_: case Type::percent: case Type::time: {
            Cell x;
            cell::make(&x, Type::float_);
            x.set_float23(double(a->int2()));
            return float_::compare(&x, b, op);
        }
        default:
            return -2;
    }
}

Cell* absolute(Cell* value) {
    set(value, abs(value->int2()));
    return value;
}

Cell* negate(Cell* value) {
    if (value->int2() == min_value) raise_overflow();
    set(value, -value->int2());
    return value;
}

Cell* complement(Cell* value) {
    set(value, ~get(value));
    return value;
}

bool even_q(Cell* value) { return (get(value) & 1) == 0; }
bool odd_q(Cell* value) { return (get(value) & 1) != 0; }

Cell* do_math(Cell* a, Cell* b, int32_t op) {
    switch (b->type()) {
        case Type::integer: case Type::char_:
            do_math_op(a->int2(), b->int2(), op, a);
            return a;
        case Type::float_: case Type::percent: case Type::time:
            return float_::do_math(a, b, op);
        case Type::money:
            if (op > numeric::remainder) numeric::raise_invalid_type(a->type());
            return numeric::hand_over(a, b, op, false);
        case Type::pair: case Type::point2D: case Type::point3D:
            if (op == numeric::divide) numeric::raise_not_related("divide", Type::integer);
            if (op == numeric::subtract) {
                // n - composite is -composite + n.
                auto neg = reinterpret_cast<Cell* (*)(Cell*)>(
                    numeric::action_of(b->type(), datatype::slot::negate, b->type()));
                cell::copy(neg(b), b);
                return numeric::hand_over(a, b, numeric::add, true);
            }
            return numeric::hand_over(a, b, op, true);
        case Type::tuple:
            if (op == numeric::subtract || op == numeric::divide) {
                Cell w;
                numeric::op_word(op, &w);
                numeric::raise_not_related(&w, Type::integer);
            }
            return numeric::hand_over(a, b, op, true);
        case Type::vector:
            return numeric::hand_over(a, b, op, true);
        case Type::date:
            if (op != numeric::add) {
                Cell w;
                numeric::op_word(op, &w);
                numeric::raise_not_related(&w, Type::integer);
            }
            return numeric::hand_over(a, b, op, true);
        default:
            numeric::raise_invalid_type(b->type());
    }
}

Cell* power(Cell* base, Cell* exponent) {
    if (!exponent->is(Type::integer) && !exponent->is(Type::float_)) numeric::raise_expect_arg(exponent, "exponent");
    if (exponent->is(Type::integer) && exponent->int2() >= 0) {
        // Exponentiation by squaring; any overflow leaves the result to the float path.
        int32_t b = base->int2(), r = 1;
        uint32_t e = static_cast<uint32_t>(get(exponent));
        bool fits = true;
        while (e != 0 && fits) {
            if (e & 1) fits = !__builtin_mul_overflow(r, b, &r);
            e >>= 1;
            if (fits && e != 0) fits = !__builtin_mul_overflow(b, b, &b);
        }
        if (fits) {
            set(base, r);
            return base;
        }
    }
    const double b = double(base->int2());
    base->set_type(Type::float_);
    base->set_float23(b);
    return float_::power(base, exponent);
}

Cell* round(Cell* value, const slotfn::RoundOptions& o) {
    Cell* scale = o.scale;
    if (scale && scale->is(Type::money)) numeric::raise_not_related("round", Type::money);
    const int32_t v = value->int2();
    if (v == min_value) return value;
    int64_t sc = 1;
    if (scale) {
        switch (scale->type()) {
            case Type::integer:
                sc = abs(scale->int2());
                break;
            case Type::float_: case Type::percent: case Type::time: {
                value->set_type(Type::float_);
                value->set_float23(double(v));
                return float_::round(value, o);
            }
            default:
                numeric::raise_invalid_type(scale->type());
        }
    }
    if (sc == 0) return value;
    const bool negative = v < 0;
    const int64_t a = negative ? -int64_t(v) : int64_t(v);
    const int64_t r = a % sc;
    if (r == 0) return value;
    const int64_t d = sc - r;
    const int64_t up = a + d;
    bool away, checked;
    if (o.down) {
        away = checked = false;
    } else if (o.floor) {
        away = negative;
        checked = true;
    } else if (o.ceiling) {
        away = !negative;
        checked = true;
    } else if (r < d) {
        away = checked = false;
    } else if (r > d) {
        away = checked = true;
    } else if (o.even) {
        away = checked = ((a / sc) & 1) != 0;
    } else if (o.half_down) {
        away = checked = false;
    } else if (o.half_ceiling) {
        away = !negative;
        checked = true;
    } else {
        away = checked = true;
    }
    if (checked && up > max_value) raise_overflow();
    const int64_t magnitude = away ? up : a - r;
    set(value, static_cast<int32_t>(negative ? -magnitude : magnitude));
    return value;
}

// Registration ----------------------------------------------------------------------------

void init() {
    using ops = numeric::OpSlots<do_math>;
    datatype::register_type(Type::integer, {
        .make = make,
        .random = random,
        .to = to,
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
        .and_t = ops::and_t,
        .complement = complement,
        .or_t = ops::or_t,
        .xor_t = ops::xor_t,
    });
}

}  // namespace zuv::integer
