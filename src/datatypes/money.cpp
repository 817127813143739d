// money!: packed decimal amounts, currencies, exact arithmetic, rounding and text.
// Amounts are worked on as integers counting 0.00001 (under 10^22, so 128 bits hold every
// product and shifted dividend the operations need) and packed back into the cell.
#include "datatypes/money.h"

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/float-text.h"
#include "datatypes/locale.h"
#include "datatypes/logic.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "runtime/random.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "datatypes/number-scan.h"

namespace zuv::money {

namespace {

using Amount = unsigned __int128;

constexpr int32_t digit_count = 22;
constexpr int32_t fraction_digits = 5;

constexpr Amount power10(int n) {
    Amount p = 1;
    while (n-- > 0) p *= 10;
    return p;
}
constexpr Amount limit = power10(digit_count);  // every amount lies below
constexpr Amount unit = power10(fraction_digits);  // 1.00000

// Cell bytes 4-15 (byte 4 the currency); the words are read by value so the layout does not
// depend on the machine's byte order.
uint8_t cell_byte(const Cell* c, int k) {
    uint32_t w = k < 8 ? c->data1 : k < 12 ? c->data2 : c->data3;
    return static_cast<uint8_t>(w >> ((k & 3) * 8));
}
void put_cell_byte(Cell* c, int k, uint8_t b) {
    uint32_t& w = k < 8 ? c->data1 : k < 12 ? c->data2 : c->data3;
    uint32_t shift = static_cast<uint32_t>(k & 3) * 8;
    w = (w & ~(0xFFu << shift)) | (static_cast<uint32_t>(b) << shift);
}

Amount get(const Cell* c) {
    Amount a = 0;
    for (int k = 5; k < 16; ++k) {
        uint8_t b = cell_byte(c, k);
        a = a * 100 + (b >> 4) * 10 + (b & 0xF);
    }
    return a;
}

void put(Cell* c, Amount a) {
    for (int k = 15; k >= 5; --k) {
        uint8_t low = static_cast<uint8_t>(a % 10);
        a /= 10;
        uint8_t high = static_cast<uint8_t>(a % 10);
        a /= 10;
        put_cell_byte(c, k, static_cast<uint8_t>(high << 4 | low));
    }
}

// A money! cell of a sign, currency and amount.
void set(Cell* c, bool negative, int32_t currency_index, Amount a) {
    cell::make(c, Type::money);
    set_sign(c, negative);
    set_currency(c, currency_index);
    put(c, a);
}

// Digit k (1-22, from the most significant) of an amount.
int digit(Amount a, int k) { return static_cast<int>(a / power10(digit_count - k) % 10); }

// Digits from the first non-zero one to digit 22 (1 for zero).
int significant_length(Amount a) {
    int n = 1;
    while (a >= 10) {
        a /= 10;
        ++n;
    }
    return n;
}

[[noreturn, gnu::cold]] void overflow() { scalar::raise_type(error::id::script_type_limit, Type::money); }

// A signed amount, the form the arithmetic works on.
struct Signed {
    bool negative;
    Amount a;
};
Signed signed_of(const Cell* c) { return {get_sign(c), get(c)}; }

Signed add(Signed l, Signed r) {
    if (r.a == 0) return l;
    if (l.a == 0) return r;
    if (l.negative == r.negative) {
        Amount sum = l.a + r.a;
        if (sum >= limit) overflow();
        return {l.negative, sum};
    }
    // Opposite signs: the larger magnitude keeps its sign.
    if (l.a >= r.a) return {l.a == r.a ? false : l.negative, l.a - r.a};
    return {r.negative, r.a - l.a};
}

Signed multiply(Signed l, Signed r) {
    if (l.a == 0) return l;
    if (r.a == 0) return r;
    if (significant_length(l.a) + significant_length(r.a) > 28) overflow();
    // Ten fraction digits, the five lowest dropped (truncating).
    Amount p = l.a * r.a / unit;
    if (p >= limit) overflow();
    return {l.negative != r.negative, p};
}

Signed divide(Signed l, Signed r, bool remainder) {
    if (r.a == 0) error::raise(error::id::math_zero_divide);
    if (l.a == 0) return l;
    if (remainder) return {l.negative, l.a % r.a};
    Amount q = l.a * unit / r.a;
    if (q >= limit) overflow();
    return {l.negative != r.negative, q};
}

int32_t compare_signed(Signed l, Signed r) {
    int sl = l.a == 0 ? 0 : l.negative ? -1 : 1;
    int sr = r.a == 0 ? 0 : r.negative ? -1 : 1;
    if (sl != sr) return sl < sr ? -1 : 1;
    if (l.a == r.a) return 0;
    int32_t order = l.a < r.a ? -1 : 1;
    return sl < 0 ? -order : order;
}

// The amount of shortest decimal text of a double; exact is false when digits past the
// fifth decimal were dropped.
struct FloatAmount {
    bool ok;
    bool exact;
    Signed value;
};
FloatAmount amount_of_float(double x) {
    if (!std::isfinite(x)) return {false, false, {}};
    double magnitude = std::fabs(x);
    if (magnitude >= 1e17) return {false, false, {}};
    if (magnitude == 0.0) return {true, true, {false, 0}};
    if (magnitude < 1e-5) return {false, false, {}};
    float_text::Digits d = float_text::dtoa(x, 0, false);
    Amount a = 0;
    bool exact = true;
    // Value = 0.DIGITS x 10^exponent; digit i weighs 10^(exponent - 1 - i).
    for (int32_t i = 0; i < d.count; ++i) {
        int32_t place = d.exponent - 1 - i;  // 0 units, -1 tenths...
        if (place < -fraction_digits) {
            exact = false;
            break;
        }
        a += static_cast<Amount>(d.chars[i] - '0') * power10(place + fraction_digits);
    }
    return {true, exact, {d.negative, a}};
}

[[noreturn]] void bad_make(const Cell* value) { scalar::raise_type(error::id::script_bad_make_arg, Type::money, value); }

int32_t currency_of_word(const Cell* word) { return currency_index(word->int2()); }

// An operand of mixed arithmetic as money.
Cell as_money(const Cell* c) {
    Cell m;
    switch (c->type()) {
        case Type::money: return *c;
        case Type::integer: from_integer_at(&m, c->int2()); return m;
        case Type::float_: case Type::percent:
            if (!from_float_at(&m, c->float23(), false)) bad_make(c);
            return m;
        default: scalar::raise_type(error::id::script_invalid_type, c->type());
    }
}

bool currencies_agree(const Cell* a, const Cell* b) {
    return currency(a) == 0 || currency(b) == 0 || currency(a) == currency(b);
}

// Money against a float: exact where the float has a money value, and otherwise by the
// amount its shortest text truncates to, the dropped digits breaking a tie.
int32_t compare_float(const Cell* m, double x) {
    if (std::isnan(x)) return 1;
    Signed v = signed_of(m);
    if (std::fabs(x) >= 1e17) return x > 0 ? -1 : 1;
    FloatAmount f = amount_of_float(x);
    if (!f.ok) f = {true, false, {x < 0, 0}};  // 0 < |x| < 1e-5
    int32_t order = compare_signed(v, f.value);
    if (order || f.exact) return order;
    return x > 0 ? -1 : 1;
}

// --- actions -----------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, int32_t) {
    switch (spec->type()) {
        case Type::money: return spec;
        case Type::integer: from_integer_at(proto, spec->int2()); return proto;
        case Type::float_:
            if (!from_float_at(proto, spec->float23(), true)) bad_make(spec);
            return proto;
        default: {
            if (!scalar::any_string_q(spec->type())) scalar::raise_type(error::id::script_bad_to_arg, Type::money, spec);
            Cell text = *spec;
            int32_t n = series::length(&text);
            uint32_t unit_size = series::buffer(&text)->unit();
            auto scanned = number_scan::scan_money(series::head_address(&text), static_cast<std::size_t>(n),
                                             static_cast<int>(unit_size));
            if (!scanned || !from_digits(proto, scanned->negative, scanned->currency_view(), scanned->digits,
                                         scanned->integer_digits))
                scalar::raise_type(error::id::script_bad_to_arg, Type::money, spec);
            return proto;
        }
    }
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::word)) {
        int32_t index = currency_of_word(spec);
        if (index < 0) bad_make(spec);
        set(proto, false, index, 0);
        return proto;
    }
    if (!spec->is(Type::block)) return to(proto, spec, type);
    scalar::Values v = scalar::values_of(spec);
    if (v.count < 1 || v.count > 3) bad_make(spec);
    int32_t i = 0, index = 0;
    if (v.head[0].is(Type::word)) {
        index = currency_of_word(&v.head[0]);
        if (index < 0) bad_make(&v.head[0]);
        ++i;
    }
    if (i >= v.count) bad_make(spec);
    const Cell* amount = &v.head[i++];
    Cell m;
    if (amount->is(Type::integer)) from_integer_at(&m, amount->int2());
    else if (!amount->is(Type::float_)) bad_make(amount);
    else if (!from_float_at(&m, amount->float23(), true)) bad_make(amount);
    if (i < v.count) {
        const Cell* units = &v.head[i++];
        if (!units->is(Type::integer) || amount->is(Type::float_) || units->int2() < 0 || units->int2() > 99999)
            bad_make(units);
        Signed s = add(signed_of(&m), {get_sign(&m), static_cast<Amount>(units->int2())});
        set(&m, s.negative, 0, s.a);
    }
    if (i < v.count) bad_make(&v.head[i]);
    set_currency(&m, index);
    *proto = m;
    return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        // The seed mixes the cell's raw data words.
        random::seed(static_cast<int32_t>(value->data1 ^ value->data2 ^ value->data3 ^ get_sign(value)));
        cell::make(value, Type::unset);
        return value;
    }
    auto draw = [secure] { return static_cast<uint32_t>(secure ? random::secure_int() : random::next()); };
    Amount a = get(value), out = 0;
    bool free = false;
    for (int k = digit_count - significant_length(a) + 1; k <= digit_count; ++k) {
        uint32_t f = static_cast<uint32_t>(digit(a, k));
        uint32_t g;
        if (free) {
            g = draw() % 10;
        } else {
            // The top value of a digit is kept only when two more draws agree, so results
            // at the value itself stay rare.
            for (;;) {
                g = draw() % (f + 1);
                if (g != f) break;
                uint32_t x = draw(), y = draw();
                if (x % 1000 == y % 1000) break;
            }
            free = g < f;
        }
        out += static_cast<Amount>(g) * power10(digit_count - k);
    }
    put(value, out);
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) { return form_text(value, buffer, budget, false, true); }

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    return form_text(value, buffer, budget, all, false);
}

// Element 1 or code, 2 or amount; 0 for another.
int32_t field_of(const Cell* element, int32_t index) {
    if (element && scalar::any_word_q(element->type())) {
        if (scalar::word_is(element, "code")) return 1;
        if (scalar::word_is(element, "amount")) return 2;
        return 0;
    }
    return index == 1 || index == 2 ? index : 0;
}

Cell* field_value(Cell* value, int32_t field) {
    if (field == 1) {
        Cell w = currency_word(value);
        return stack::push(&w);
    }
    Cell* copy = stack::push(value);
    set_currency(copy, 0);
    return copy;
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell*, Cell*, int32_t, bool, bool) {
    int32_t field = field_of(element, element->is(Type::integer) ? element->int2() : 0);
    if (!field) error::raise(error::id::script_invalid_path, element, value);
    if (set_value) error::raise(error::id::script_bad_path_set, element, set_value);
    return field_value(value, field);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t field = field_of(index_cell, index);
    if (!field) error::raise(error::id::script_out_of_range, index_cell);
    return field_value(value, field);
}

int32_t compare_action(Cell* a, Cell* b, int32_t op) { return compare(a, b, op); }

Cell* absolute(Cell* value) {
    absolute_in_place(value);
    return value;
}

Cell* negate(Cell* value) {
    negate_in_place(value);
    return value;
}

template <int Op>
Cell* math(Cell* a, Cell* b) {
    return math_action(a, b, Op);
}

Cell* round(Cell* value, const slotfn::RoundOptions& o) {
    Cell* scale = o.scale;
    Amount v = get(value);
    if (v == 0) return value;
    Amount sc = unit;
    if (scale) {
        Cell s;
        switch (scale->type()) {
            case Type::money: s = *scale; break;
            case Type::integer: from_integer_at(&s, scale->int2()); break;
            case Type::float_:
                if (!from_float_at(&s, scale->float23(), true)) bad_make(scale);
                break;
            default: scalar::raise_not_related_here(scale->type());
        }
        sc = get(&s);
        if (sc == 0) return value;
    }
    bool negative = get_sign(value);
    Amount r = v % sc, m = sc - r;
    if (r == 0) return value;
    Amount down_value = v - r;
    auto up = [&] {
        if (v + m >= limit) overflow();
        return v + m;
    };
    auto nearest = [&] { return r < m ? down_value : up(); };
    bool tie = r == m;
    Amount result;
    if (o.down) result = down_value;
    else if (o.floor) result = negative ? up() : down_value;
    else if (o.ceiling) result = negative ? down_value : up();
    else if (o.even) result = tie && (v / sc) % 2 == 0 ? down_value : nearest();
    else if (o.half_down) result = tie ? down_value : nearest();
    else if (o.half_ceiling) result = tie ? (negative ? down_value : up()) : nearest();
    else result = nearest();
    put(value, result);
    return value;
}

bool even_q(Cell* value) { return digit(get(value), 17) % 2 == 0; }
bool odd_q(Cell* value) { return digit(get(value), 17) % 2 == 1; }

}  // namespace

int32_t currency_index(int32_t symbol) {
    if (locale::currency_count() == 0 || symbol < 1 || symbol > symbol::count()) return -1;
    int32_t id = symbol::resolve(symbol);
    int32_t i = locale::currency_index(std::string_view(symbol::name(id), symbol::name_length(id)));
    return i ? i : -1;
}

int32_t currency_index_of(std::string_view code) {
    int32_t i = locale::currency_index(code);
    return i ? i : -1;
}

Cell currency_word(const Cell* c) {
    if (currency(c) == 0) return none::shared;
    return scalar::word_of(locale::currency_name(currency(c)));
}

void make_at(Cell* c, bool negative, int32_t currency_index, const uint8_t* amount) {
    cell::make(c, Type::money);
    set_sign(c, negative);
    set_currency(c, currency_index);
    for (int k = 0; k < amount_bytes; ++k) put_cell_byte(c, 5 + k, amount[k]);
}

void amount_of(const Cell* c, uint8_t* amount) {
    for (int k = 0; k < amount_bytes; ++k) amount[k] = cell_byte(c, 5 + k);
}

bool from_digits(Cell* c, bool negative, std::string_view code, std::string_view digits, std::size_t integer_digits) {
    cell::make(c, Type::unset);
    int32_t index = 0;
    if (!code.empty() && (index = currency_index_of(code)) < 0) return false;
    Amount a = 0;
    int significant = 0;
    for (std::size_t i = 0; i < integer_digits && i < digits.size(); ++i) {
        if (significant || digits[i] != '0') ++significant;
        a = a * 10 + static_cast<Amount>(digits[i] - '0');
    }
    if (significant > digit_count - fraction_digits) return false;
    for (int k = 0; k < fraction_digits; ++k) {
        std::size_t i = integer_digits + static_cast<std::size_t>(k);
        a = a * 10 + static_cast<Amount>(i < digits.size() ? digits[i] - '0' : 0);
    }
    set(c, negative, index, a);
    return true;
}

void from_integer_at(Cell* c, int32_t v) {
    int64_t magnitude = v < 0 ? -int64_t(v) : int64_t(v);
    set(c, v < 0, 0, static_cast<Amount>(magnitude) * unit);
}

bool from_float_at(Cell* c, double x, bool strict) {
    FloatAmount f = amount_of_float(x);
    if (!f.ok || (strict && !f.exact)) return false;
    set(c, f.value.negative, 0, f.value.a);
    return true;
}

Cell* from_float(double x, bool strict) {
    Cell c;
    if (!from_float_at(&c, x, strict)) {
        Cell f;
        numeric::float_at(&f, x);
        bad_make(&f);
    }
    return stack::push(&c);
}

int32_t to_integer(const Cell* c) {
    Amount whole = get(c) / unit;
    bool negative = get_sign(c);
    if (whole > (negative ? Amount(2147483648u) : Amount(2147483647u)))
        scalar::raise_type(error::id::script_type_limit, Type::integer);
    int64_t v = static_cast<int64_t>(whole);
    return static_cast<int32_t>(negative ? -v : v);
}

double to_float(const Cell* c) {
    Amount a = get(c);
    std::string text;
    Amount whole = a / unit, fraction = a % unit;
    do {
        text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(whole % 10)));
        whole /= 10;
    } while (whole);
    text += '.';
    for (int k = fraction_digits - 1; k >= 0; --k) text += static_cast<char>('0' + static_cast<int>(fraction / power10(k) % 10));
    double d = float_text::to_float_len(text.data(), text.size()).value;
    return get_sign(c) ? -d : d;
}

int32_t signum(const Cell* c) {
    if (get(c) == 0) return 0;
    return get_sign(c) ? -1 : 1;
}

void absolute_in_place(Cell* c) { set_sign(c, false); }
void negate_in_place(Cell* c) { set_sign(c, !get_sign(c)); }

Cell* do_math(Cell* left, Cell* right, int32_t op) {
    Signed l = signed_of(left), r = signed_of(right), out;
    switch (op) {
        case 0: out = add(l, r); break;
        case 1: out = add(l, {!r.negative, r.a}); break;
        case 2: out = multiply(l, r); break;
        case 3: case 4: out = divide(l, r, op == 4); break;
        default: scalar::raise_type(error::id::script_invalid_type, left->type());
    }
    set_sign(left, out.negative);
    put(left, out.a);
    return left;
}

Cell* math_action(Cell* left, Cell* right, int32_t op) {
    if ((op == 2 && left->is(Type::money) && right->is(Type::money)) ||
        ((op == 3 || op == 4) && !left->is(Type::money) && right->is(Type::money)))
        scalar::raise_type(error::id::script_invalid_type, left->type());
    bool ratio = op == 3 && left->is(Type::money) && right->is(Type::money);
    Cell l = as_money(left), r = as_money(right);
    if (!currencies_agree(&l, &r)) error::raise(error::id::script_wrong_denom, left, right);
    int32_t index = currency(&r) ? currency(&r) : currency(&l);
    do_math(&l, &r, op);
    if (ratio) {
        numeric::float_at(left, to_float(&l));
        return left;
    }
    set_currency(&l, index);
    *left = l;
    return left;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    bool strict = op == 2 || op == 9 || op == 12;
    if (strict && !b->is(Type::money)) return 1;
    switch (b->type()) {
        case Type::money: break;
        case Type::integer: {
            Cell m;
            from_integer_at(&m, b->int2());
            return compare_signed(signed_of(a), signed_of(&m));
        }
        case Type::float_: return compare_float(a, b->float23());
        default: return -2;
    }
    int32_t ca = currency(a), cb = currency(b);
    switch (op) {
        case 3: case 4: case 5: case 6:
            if (!currencies_agree(a, b)) error::raise(error::id::script_wrong_denom, a, b);
            break;
        case 7: case 8:
            if (ca != cb) {
                if (!ca || !cb) return ca ? 1 : -1;
                return locale::currency_name(ca) < locale::currency_name(cb) ? -1 : 1;
            }
            break;
        case 2: case 9:
            if (ca != cb) return 1;
            break;
        case 12:
            if (cb && ca != cb) return 1;
            break;
        default:
            if (ca && cb && ca != cb) return 1;
    }
    return compare_signed(signed_of(a), signed_of(b));
}

int32_t form_text(Cell* value, Cell* buffer, int32_t budget, bool all, bool group) {
    Amount a = get(value);
    if (get_sign(value) && a != 0) budget = scalar::append(buffer, "-", budget);
    if (currency(value)) budget = scalar::append(buffer, locale::currency_name(currency(value)), budget);
    budget = scalar::append(buffer, "$", budget);
    std::string text;
    int first = digit_count - significant_length(a) + 1;
    if (first > 17) {
        text = "0";
    } else {
        for (int k = first; k <= 17; ++k) {
            text += static_cast<char>('0' + digit(a, k));
            if (group && (k + 1) % 3 == 0 && k != 17) text += '\'';
        }
    }
    int32_t decimals = all ? fraction_digits : locale::money_digits();
    if (decimals > fraction_digits) decimals = fraction_digits;
    if (decimals >= 1) {
        text += '.';
        for (int k = 18; k <= 17 + decimals; ++k) text += static_cast<char>('0' + digit(a, k));
    }
    return scalar::append(buffer, text, budget);
}

void init() {
    datatype::register_type(Type::money, {
        .make = make,
        .random = random,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare_action,
        .absolute = absolute,
        .add = math<0>,
        .divide = math<3>,
        .multiply = math<2>,
        .negate = negate,
        .remainder = math<4>,
        .round = round,
        .subtract = math<1>,
        .even_q = even_q,
        .odd_q = odd_q,
        .pick = pick,
    });
}

}  // namespace zuv::money
