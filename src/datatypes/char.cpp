// char!: code points, their escaped mold, conversions, and arithmetic through the integer
// kernel with every result kept inside 0 to 0x10FFFF.
#include "datatypes/char.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/numeric.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "memory/unicode.h"

namespace zuv::char_ {

namespace {


[[noreturn]] void raise_out_of_range(const Cell* spec) {
    Cell value = *spec;
    error::raise(error::id::script_out_of_range, &value);
}

// The code point at the head of a binary, decoded as UTF-8.
uint32_t from_binary(Cell* bin) {
    const int32_t n = series::length(bin);
    if (n < 1) numeric::raise_bad_to_arg(Type::char_, bin);
    const unicode::CheckedChar c =
        unicode::decode_utf8_char_checked(series::head_address(bin), static_cast<std::size_t>(std::min(n, 4)));
    switch (c.kind) {
        case unicode::CheckedChar::ok:
            return c.code_point;
        case unicode::CheckedChar::cut_short:
            numeric::raise_bad_to_arg(Type::char_, bin);
        default: {
            Cell value = *bin;
            error::raise(error::id::access_invalid_utf8, &value);
        }
    }
}

}  // namespace

Cell* make_in(Cell* block, uint32_t code_point) {
    Cell* c = block::alloc_tail_cell(block);
    cell::make(c, Type::char_, 0, code_point);
    return c;
}

Cell* push(uint32_t code_point) {
    Cell* c = stack::push_slot();
    cell::make(c, Type::char_, 0, code_point);
    return c;
}

void append_escaped(Cell* buffer, uint32_t c, bool all) {
    static constexpr char letters[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
    if (c == 0x1E || (c >= 0x80 && c <= 0x9F) || (all && c > 0x7F)) {
        char hex[12];
        int n = 0;
        do {
            hex[n++] = "0123456789ABCDEF"[c & 0xF];
            c >>= 4;
        } while (c != 0);
        string::append_ascii(buffer, "^(");
        while (n > 0) string::append_char(buffer, static_cast<uint32_t>(hex[--n]));
        string::append_char(buffer, ')');
    } else if (c < 0x20 || c == '"' || c == '^' || c == 0x7F) {
        string::append_char(buffer, '^');
        string::append_char(buffer, c < 0x20 ? static_cast<uint32_t>(letters[c]) : c == 0x7F ? '~' : c);
    } else {
        string::append_char(buffer, c);
    }
}

// Actions ---------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t) {
    int64_t v;
    switch (spec->type()) {
        case Type::char_: case Type::integer:
            v = spec->int2();
            break;
        case Type::float_: case Type::percent: {
            const std::optional<int32_t> i = integer::from_double(spec->float23());
            if (!i) raise_out_of_range(spec);
            v = *i;
            break;
        }
        case Type::binary:
            v = from_binary(spec);
            break;
        default:
            if (!numeric::text_type_q(spec->type()) || series::length(spec) < 1)
                numeric::raise_bad_to_arg(Type::char_, spec);
            v = string::get_char(series::head_address(spec), series::buffer(spec)->unit());
    }
    if (v < 0 || v > max_code_point) raise_out_of_range(spec);
    cell::make(proto, Type::char_, 0, static_cast<uint32_t>(v));
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    string::append_char(buffer, code_of(value));
    return budget - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    string::append_ascii(buffer, "#\"");
    append_escaped(buffer, code_of(value), all);
    string::append_char(buffer, '"');
    return budget - 4;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if ((op == 2 || op == 12) && !b->is(Type::char_)) return 1;
    if (!b->is(Type::char_) && !b->is(Type::integer)) return -2;
    const int32_t x = a->int2(), y = b->int2();
    return (x > y) - (x < y);
}

Cell* do_math(Cell* a, Cell* b, int32_t op) {
    int32_t right;
    switch (b->type()) {
        case Type::char_: case Type::integer:
            right = b->int2();
            break;
        case Type::float_: {
            // A factor beyond 32 bits cannot leave a code point either.
            const std::optional<int32_t> i = integer::from_double(b->float23());
            if (!i) error::raise(error::id::math_overflow);
            right = *i;
            break;
        }
        case Type::vector:
            return numeric::hand_over(a, b, op, true);
        default:
            numeric::raise_invalid_type(b->type());
    }
    // Divide gets no result cell, so its quotient always truncates.
    Cell scratch = {static_cast<uint32_t>(Type::integer), 0, 0, 0};
    const int32_t r = integer::do_math_op(a->int2(), right, op, op == numeric::divide ? nullptr : &scratch);
    if (scratch.is(Type::float_) || r < 0 || static_cast<uint32_t>(r) > max_code_point)
        error::raise(error::id::math_overflow);
    set_code(a, static_cast<uint32_t>(r));
    return a;
}

// Registration ----------------------------------------------------------------------------

void init() {
    using ops = numeric::OpSlots<do_math>;
    datatype::register_type(Type::char_, {
        .make = make,
        .random = datatype::inherit,
        .to = make,
        .form = form,
        .mold = mold,
        .compare = compare,
        .absolute = datatype::inherit,
        .add = ops::add,
        .divide = ops::divide,
        .multiply = ops::multiply,
        .remainder = ops::remainder,
        .subtract = ops::subtract,
        .even_q = datatype::inherit,
        .odd_q = datatype::inherit,
        .and_t = ops::and_t,
        .or_t = ops::or_t,
        .xor_t = ops::xor_t,
    });
}

}  // namespace zuv::char_
