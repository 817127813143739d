// tuple!: conversions, saturating byte-wise arithmetic, paths and the tuple actions.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "datatypes/float.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "runtime/random.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::tuple {

namespace {


uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// A float truncated toward zero into 0-255 (NaN gives 0).
uint8_t clamp_float(double d) {
    if (!(d > 0.0)) return 0;
    return d >= 255.0 ? 255 : static_cast<uint8_t>(d);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void bad_to(const Cell* spec) { scalar::raise_type(error::id::script_bad_to_arg, Type::tuple, spec); }

void from_block(Cell* c, Cell* spec) {
    scalar::Values v = scalar::values_of(spec);
    if (v.count > max_length) bad_to(spec);
    Cell t;
    make_at(&t, std::max(v.count, 3), 0, 0, 0);
    for (int32_t i = 0; i < v.count; ++i) {
        const Cell* e = &v.head[i];
        int32_t b;
        if (e->is(Type::integer) || e->is(Type::char_)) b = e->int2();
        else if (!(e->is(Type::float_) && numeric::to_int32(e->float23(), &b))) bad_to(spec);
        if (b < 0 || b > 255) bad_to(spec);
        put(&t, i, static_cast<uint8_t>(b));
    }
    *c = t;
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    switch (spec->type()) {
        case Type::tuple: return spec;
        case Type::block: case Type::paren: case Type::hash: from_block(proto, spec); return proto;
        case Type::binary: from_binary(proto, spec); return proto;
        case Type::issue: from_issue(proto, spec); return proto;
        default:
            if (!scalar::any_string_q(spec->type())) bad_to(spec);
            Cell* loaded = scalar::load_value(spec, proto);
            if (!loaded->is(Type::tuple)) bad_to(spec);
            return loaded;
    }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<int32_t>(value->data1 ^ value->data2 ^ value->data3));  // the raw bytes
        cell::make(value, Type::unset);
        return value;
    }
    for (int32_t i = 0; i < length(value); ++i)
        put(value, i, static_cast<uint8_t>(random::int_(secure, get(value, i) + 1) - 1));
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    for (int32_t i = 0; i < length(value); ++i) {
        if (i) budget = scalar::append(buffer, ".", budget);
        budget = scalar::append_decimal(buffer, get(value, i), budget);
    }
    return budget;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    if (index < 1 || index > length(value)) error::raise(error::id::script_out_of_range, index_cell);
    return numeric::push_integer(get(value, index - 1));
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell* parent, Cell* previous, int32_t, bool,
                bool notify) {
    if (!element->is(Type::integer)) scalar::raise_type(error::id::script_invalid_type, element->type());
    if (!set_value) return pick(value, element->int2(), element);
    const Cell old = *value;
    set_byte(value, element, set_value);
    if (notify) scalar::notify_path_set(parent, previous, &old, value, set_value, element->int2());
    return set_value;
}

int32_t compare(Cell* a, Cell* b, int32_t) {
    if (!b->is(Type::tuple)) return -2;
    int32_t n = std::max(length(a), length(b));
    for (int32_t i = 0; i < n; ++i) {
        // Bytes past a tuple's length are 0 in the cell, so 1.2.3 equals 1.2.3.0.
        int32_t d = get(a, i) - get(b, i);
        if (d) return d < 0 ? -1 : 1;
    }
    return 0;
}

template <int Op>
Cell* math(Cell* a, Cell* b) {
    return do_math(a, b, Op);
}

Cell* complement(Cell* value) {
    for (int32_t i = 0; i < length(value); ++i) put(value, i, static_cast<uint8_t>(~get(value, i)));
    return value;
}

int32_t length_q(Cell* value) { return length(value); }

Cell* reverse(Cell* value, Cell* part, Cell* skip) {
    int32_t count = length(value);
    if (part) {
        if (!part->is(Type::integer)) {
            Cell r = scalar::word_of("part", Type::word);
            error::raise(error::id::script_invalid_refine_arg, &r, part);
        }
        if (part->int2() < 0) error::raise(error::id::script_out_of_range, part);
        count = part->int2();
    }
    int32_t size = 1;
    if (skip) {
        Cell r = scalar::word_of("skip", Type::refinement);
        if (!skip->is(Type::integer)) error::raise(error::id::script_invalid_refine_arg, &r, skip);
        size = skip->int2();
        if (size < 1) error::raise(error::id::script_out_of_range, skip);
        if (count % size) error::raise(error::id::script_invalid_refine_arg, &r, skip);
        if (size == count) return value;
    }
    count = std::min(count, length(value));
    // Whole records only: a count cut to the length may end in part of one.
    int32_t records = count / size;
    for (int32_t lo = 0, hi = records - 1; lo < hi; ++lo, --hi)
        for (int32_t k = 0; k < size; ++k) {
            uint8_t t = get(value, lo * size + k);
            put(value, lo * size + k, get(value, hi * size + k));
            put(value, hi * size + k, t);
        }
    return value;
}

}  // namespace

void make_at(Cell* c, int32_t n, uint32_t w1, uint32_t w2, uint32_t w3) {
    cell::make(c, Type::tuple, w1, w2, w3);
    set_length(c, n);
}

Cell* push(int32_t n, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell c;
    make_at(&c, n, w1, w2, w3);
    return stack::push(&c);
}

Cell* from_ints(std::span<const int32_t> bytes) {
    int32_t n = static_cast<int32_t>(std::min<std::size_t>(bytes.size(), max_length));
    Cell c;
    make_at(&c, std::max(n, 3), 0, 0, 0);
    for (int32_t i = 0; i < n; ++i) put(&c, i, static_cast<uint8_t>(bytes[i]));
    return stack::push(&c);
}

void from_rgba(Cell* c, int32_t r, int32_t g, int32_t b, int32_t alpha) {
    make_at(c, alpha == -1 ? 3 : 4, 0, 0, 0);
    put(c, 0, static_cast<uint8_t>(r));
    put(c, 1, static_cast<uint8_t>(g));
    put(c, 2, static_cast<uint8_t>(b));
    if (alpha != -1) put(c, 3, static_cast<uint8_t>(alpha));
}

void from_binary(Cell* c, const Cell* binary) {
    Cell b = *binary;
    int32_t n = std::min(series::length(&b), max_length);
    const uint8_t* bytes = series::head_address(&b);
    Cell t;
    make_at(&t, std::max(n, 3), 0, 0, 0);
    for (int32_t i = 0; i < n; ++i) put(&t, i, bytes[i]);
    *c = t;
}

bool from_hex(Cell* c, const char* digits, int32_t count) {
    if (count != 3 && count != 6 && count != 8) return false;
    uint8_t nibbles[8];
    for (int32_t i = 0; i < count; ++i) {
        int d = static_cast<unsigned char>(digits[i]) < 32 ? -1 : hex_digit(digits[i]);
        if (d < 0) return false;
        nibbles[i] = static_cast<uint8_t>(d);
    }
    Cell t;
    make_at(&t, count == 8 ? 4 : 3, 0, 0, 0);
    for (int32_t i = 0; i < length(&t); ++i)
        put(&t, i, count == 3 ? nibbles[i] * 17 : static_cast<uint8_t>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]));
    *c = t;
    return true;
}

void from_issue(Cell* c, const Cell* issue) {
    int32_t id = issue->int2();
    if (id < 1 || id > symbol::count() || !from_hex(c, symbol::name(id), symbol::name_length(id)))
        error::raise(error::id::script_invalid_data, issue);
}

void set_byte(Cell* c, const Cell* element, const Cell* value) {
    int32_t position = element->int2();
    if (!(value->is(Type::integer) || value->is(Type::none)))
        scalar::raise_type(error::id::script_invalid_type, value->type());
    // Positions past the length are refused for none too: cutting there would lengthen it.
    if (position < 1 || position > length(c)) error::raise(error::id::script_out_of_range, element);
    if (value->is(Type::integer)) {
        put(c, position - 1, clamp_byte(value->int2()));
        return;
    }
    for (int32_t i = position - 1; i < max_length; ++i) put(c, i, 0);
    set_length(c, std::max(position - 1, 3));
}

Cell* do_math(Cell* left, Cell* right, int32_t op) {
    if (!left->is(Type::tuple)) {
        if (op == 1 || op == 3) scalar::raise_not_related(op == 1 ? "subtract" : "divide", left->type());
        std::swap(*left, *right);
    }
    int32_t n = length(left);
    switch (right->type()) {
        case Type::float_: case Type::percent: {
            double f = right->float23();
            for (int32_t i = 0; i < n; ++i) put(left, i, clamp_float(float_::do_math_op(get(left, i), f, op)));
            return left;
        }
        case Type::tuple:
            n = std::max(n, length(right));
            break;
        case Type::integer:
            break;
        default:
            scalar::raise_type(error::id::script_invalid_type, right->type());
    }
    Cell result;
    make_at(&result, n, 0, 0, 0);
    for (int32_t i = 0; i < n; ++i) {
        int32_t b = right->is(Type::integer) ? right->int2() : get(right, i);
        // Divide alone truncates; the others saturate on overflow by the sign of the exact value.
        numeric::IntegerResult r = numeric::integer_op(get(left, i), b, op, op != 3);
        put(&result, i, r.is_float ? (r.exact > 0.0 ? 255 : 0) : clamp_byte(r.value));
    }
    result.header = (left->header & ~(header::type_mask | length_mask)) | (result.header & (header::type_mask | length_mask));
    *left = result;
    return left;
}

bool zero_q(const Cell* c) {
    for (int32_t i = 0; i < length(c); ++i)
        if (get(c, i)) return false;
    return true;
}

void init() {
    datatype::register_type(Type::tuple, {
        .make = make,
        .random = random,
        .to = make,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .add = math<0>,
        .divide = math<3>,
        .multiply = math<2>,
        .remainder = math<4>,
        .subtract = math<1>,
        .and_t = math<6>,
        .complement = complement,
        .or_t = math<5>,
        .xor_t = math<7>,
        .length_q = length_q,
        .pick = pick,
        .reverse = reverse,
    });
}

}  // namespace zuv::tuple
