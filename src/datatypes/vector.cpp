// vector!: packed numbers or characters of one element type and width. Making, molding,
// comparing, editing with values of the element type, and element-wise arithmetic live here;
// navigation, search, copying and the other series actions come from string! and series!.
// Buffers move on any allocation: element addresses are taken again after each one.
#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "memory/words-builtin.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "runtime/fatal.h"

namespace zuv::vector {

namespace {

namespace op = actions::op;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t max_bytes = 0x7FFFFFF0;

bool floats_q(Type t) { return t == Type::float_ || t == Type::percent; }

// Element storage ---------------------------------------------------------------------------

int32_t read_int(const uint8_t* p, uint32_t width) {
    uint32_t raw = string::get_char(p, width);
    if (width == 1) return static_cast<int8_t>(raw);
    if (width == 2) return static_cast<int16_t>(raw);
    return static_cast<int32_t>(raw);
}

double read_double(const uint8_t* p, uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void write_int(uint8_t* p, uint32_t width, int32_t v) { string::put_char(p, width, static_cast<uint32_t>(v)); }

void write_double(uint8_t* p, uint32_t width, double d) {
    if (width == 8) {
        std::memcpy(p, &d, 8);
        return;
    }
    // Past the largest single (and its half unit of rounding) the value is an infinity; the
    // plain conversion would be undefined there.
    bool beyond = std::isfinite(d) && std::fabs(d) >= 0x1.ffffffp127;
    float f = beyond ? (d > 0 ? HUGE_VALF : -HUGE_VALF) : static_cast<float>(d);
    std::memcpy(p, &f, 4);
}

uint8_t* element_at(const Cell* v, int32_t index) { return series::unit_address(v, index); }

[[noreturn]] void raise_bad_make(const Cell* spec) {
    scalar::raise_type(error::id::script_bad_make_arg, Type::vector, spec);
}
[[noreturn]] void raise_spec_field(const Cell* spec) { error::raise(error::id::script_invalid_spec_field, spec); }

void check_element(Type element, const Cell* value) {
    if (value->type() != element) error::raise(error::id::script_invalid_arg, value);
}

void encode(Bytes& run, const Cell* value, uint32_t width) {
    size_t at = run.size();
    run.resize(at + width);
    set_value(run.data() + at, value, width);
}

bool block_list_q(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

// The elements an edit brings, encoded at the vector's width: a block's cells from its head
// (at most limit), with with_vectors a vector's elements, else the one value. Every value is
// checked before anything is changed.
Bytes values_of(const Cell* v, Cell* value, int32_t limit, bool with_vectors) {
    Type element = element_type(v);
    uint32_t w = width(v);
    Bytes run;
    Cell x = *value;
    if (block_list_q(x.type())) {
        int32_t n = series::length(&x);
        if (limit >= 0 && limit < n) n = limit;
        run.reserve(size_t(n) * w);
        for (int32_t k = 0; k < n; ++k) {
            const Cell* c = block::cell_at(&x, x.int1() + k);
            check_element(element, c);
            encode(run, c, w);
        }
    } else if (with_vectors && x.is(Type::vector)) {
        // Another width is converted element by element; another element type is refused.
        if (element_type(&x) != element) error::raise(error::id::script_not_same_type);
        int32_t n = series::length(&x);
        uint32_t xw = width(&x);
        run.resize(size_t(n) * w);
        Cell e;
        for (int32_t k = 0; k < n; ++k) {
            get_value(element_at(&x, x.int1() + k), xw, element, &e);
            set_value(run.data() + size_t(k) * w, &e, w);
        }
    } else {
        check_element(element, &x);
        encode(run, &x, w);
    }
    return run;
}

}  // namespace

// =============================================================================================
// Helpers

void make_at(Cell* c, int32_t capacity, Type element, uint32_t w) {
    cell::make(c, Type::unset);  // a collection during the allocation must not see half a value
    if (uint64_t(std::max(capacity, 1)) * w > max_bytes) error::raise(error::id::internal_no_memory);
    Ref node = memory::alloc_series(std::max(capacity, 1), w, 0);
    cell::make(c, Type::vector, 0, node, static_cast<uint32_t>(element));
}

void get_value(const uint8_t* p, uint32_t w, Type element, Cell* out) {
    switch (element) {
        case Type::char_: cell::make(out, Type::char_, 0, string::get_char(p, w)); return;
        case Type::integer: cell::make(out, Type::integer, 0, static_cast<uint32_t>(read_int(p, w))); return;
        case Type::float_: case Type::percent: {
            double d = read_double(p, w);
            cell::make(out, element);
            out->set_float23(d);
            return;
        }
        default: runtime::quit(runtime::no_switch_match, 0);
    }
}

double number_of(const uint8_t* p, uint32_t w, Type element) {
    switch (element) {
        case Type::char_: return string::get_char(p, w);
        case Type::integer: return read_int(p, w);
        default: return read_double(p, w);
    }
}

double number_at(const Cell* v, int32_t index) { return number_of(element_at(v, index), width(v), element_type(v)); }

void set_value(uint8_t* p, const Cell* value, uint32_t w) {
    switch (value->type()) {
        case Type::char_: case Type::integer: write_int(p, w, value->int2()); return;
        case Type::float_: case Type::percent: write_double(p, w, value->float23()); return;
        default: scalar::raise_type(error::id::script_invalid_type, value->type());
    }
}

void append_value(Cell* v, const Cell* value) {
    check_element(element_type(v), value);
    Bytes run;
    encode(run, value, width(v));
    binary::splice(v, series::buffer_length(v), 0, run, 1);
}

void set_at(Cell* v, int32_t index, const Cell* value) {
    check_element(element_type(v), value);
    int32_t length = series::buffer_length(v);
    if (index < length) {
        set_value(element_at(v, index), value, width(v));
        return;
    }
    // Past the tail the elements between are zero, never left as stale bytes.
    uint32_t w = width(v);
    Bytes run(size_t(index - length) * w, 0);
    encode(run, value, w);
    binary::splice(v, length, 0, run, 1);
}

void insert_at(Cell* v, int32_t index, const Cell* value) {
    check_element(element_type(v), value);
    Bytes run;
    encode(run, value, width(v));
    binary::splice(v, index, 0, run, 1);
}

void to_block(Cell* v, Cell* result) {
    Cell x = *v;
    int32_t n = series::length(&x);
    Type element = element_type(&x);
    block::make_at(result, std::max(n, 1));
    for (int32_t k = 0; k < n; ++k) {
        Cell e;
        get_value(element_at(&x, x.int1() + k), width(&x), element, &e);
        block::append(result, &e);
    }
}

int32_t get_length(Cell* v) { return series::length(v); }

void clear_from_head(Cell* v) {
    series::length(v);
    series::buffer(v)->tail = memory::ref(series::head_address(v));
}

void append_int32(Cell* v, int32_t value) {
    uint8_t bytes[4];
    write_int(bytes, 4, value);
    binary::splice(v, series::buffer_length(v), 0, bytes, 1);
}

// =============================================================================================
// Arithmetic

Cell* math_scalar(Cell* v, const Cell* scalar, int32_t code) {
    Type element = element_type(v);
    bool scalar_float = scalar->is(Type::float_) || scalar->is(Type::percent);
    if (!scalar_float && !scalar->is(Type::integer) && !scalar->is(Type::char_))
        error::raise(error::id::internal_not_done);
    bool additive = code == numeric::add || code == numeric::subtract;
    bool scaling = code == numeric::multiply || code == numeric::divide;
    int32_t n = get_length(v);
    uint32_t w = width(v);
    // The new elements are worked out before any is stored: an error half-way must leave the
    // vector as it was.
    Bytes out(size_t(n) * w);
    if (floats_q(element)) {
        double s = scalar_float ? scalar->float23() : double(scalar->int2());
        if ((additive && s == 0.0) || (scaling && s == 1.0)) return v;
        for (int32_t k = 0; k < n; ++k) {
            double r = float_::do_math_op(read_double(element_at(v, v->int1() + k), w), s, code);
            write_double(out.data() + size_t(k) * w, w, r);
        }
    } else {
        int32_t s = scalar->int2();
        if (scalar_float) {
            std::optional<int32_t> i = integer::from_double(scalar->float23());
            if (!i) error::raise(error::id::math_overflow);
            s = *i;
        }
        if ((additive && s == 0) || (scaling && s == 1)) return v;
        for (int32_t k = 0; k < n; ++k) {
            // Without a result cell the kernel wraps an overflowing add, subtract or multiply.
            int32_t r = integer::do_math_op(read_int(element_at(v, v->int1() + k), w), s, code, nullptr);
            write_int(out.data() + size_t(k) * w, w, r);
        }
    }
    bool told = series::notify_before(v, words::global::change, nullptr, v->int1(), n);
    if (n) std::memcpy(series::head_address(v), out.data(), out.size());
    series::notify_after(told, v, words::global::changed, nullptr, v->int1(), n);
    return v;
}

namespace {

// Two vectors of one element type: a new buffer as wide as the wider and as long as the
// shorter, element by element, which replaces the first operand's.
Cell* combine(Cell* a, Cell* b, int32_t code) {
    Type element = element_type(a);
    if (element_type(b) != element) error::raise(error::id::script_not_same_type);
    Cell x = *a, y = *b;
    int32_t n = std::min(series::length(&x), series::length(&y));
    uint32_t wx = width(&x), wy = width(&y), w = std::max(wx, wy);
    Bytes out(size_t(n) * w);
    for (int32_t k = 0; k < n; ++k) {
        const uint8_t* p = element_at(&x, x.int1() + k);
        const uint8_t* q = element_at(&y, y.int1() + k);
        uint8_t* r = out.data() + size_t(k) * w;
        if (floats_q(element)) write_double(r, w, float_::do_math_op(read_double(p, wx), read_double(q, wy), code));
        else write_int(r, w, integer::do_math_op(read_int(p, wx), read_int(q, wy), code, nullptr));
    }
    Cell made;
    make_at(&made, n, element, w);
    memory::SeriesBuffer* mb = series::buffer(&made);
    if (n) std::memcpy(mb->head_ptr(), out.data(), out.size());
    mb->tail = mb->head + static_cast<uint32_t>(out.size());
    *a = made;
    return a;
}

Cell* do_math(Cell* a, Cell* b, int32_t code) {
    if (b->is(Type::vector)) return combine(a, b, code);
    return math_scalar(a, b, code);
}

using Ops = numeric::OpSlots<do_math>;

}  // namespace

// =============================================================================================
// make

namespace {

// The element type a word names, or none.
std::optional<Type> type_named(const Cell* word) {
    static constexpr std::string_view names[] = {"char!", "integer!", "float!", "percent!"};
    static constexpr Type types[] = {Type::char_, Type::integer, Type::float_, Type::percent};
    int32_t i = scalar::word_index(word, names);
    if (i == 0) return std::nullopt;
    return types[i - 1];
}

// The width of a bit size allowed for the element type, or 0.
uint32_t width_of_bits(Type element, int32_t bits) {
    switch (element) {
        case Type::char_: case Type::integer: return bits == 8 || bits == 16 || bits == 32 ? uint32_t(bits / 8) : 0;
        case Type::float_: return bits == 32 || bits == 64 ? uint32_t(bits / 8) : 0;
        default: return bits == 64 ? 8 : 0;
    }
}

Cell* make_from_block(Cell* spec) {
    Cell s = *spec;
    int32_t length = series::length(&s);
    Type element = Type::integer;
    uint32_t w = 4;
    int64_t count = 0;
    Cell values = s;  // the values, by default the spec itself
    bool has_values = true;
    const Cell* first = length > 0 ? block::cell_at(&s, s.int1()) : nullptr;
    if (first && first->is(Type::word)) {
        std::optional<Type> named = type_named(first);
        if (!named || length < 2) raise_bad_make(&s);
        element = *named;
        int32_t at = s.int1() + 1, end = s.int1() + length;
        const Cell* c = block::cell_at(&s, at);
        if (c->is(Type::integer)) {
            w = width_of_bits(element, c->int2());
            if (w == 0) raise_bad_make(&s);
            c = ++at < end ? block::cell_at(&s, at) : nullptr;
        } else if (element == Type::percent) {
            w = 8;
        } else {
            raise_spec_field(&s);
        }
        has_values = false;
        if (c && c->is(Type::integer)) {
            count = c->int2();
            c = ++at < end ? block::cell_at(&s, at) : nullptr;
            if (c && !c->is(Type::block)) raise_spec_field(&s);
        } else if (!c || !c->is(Type::block)) {
            raise_spec_field(&s);
        }
        if (c) {
            values = *c;
            has_values = true;
        }
    } else if (first) {
        element = first->type();
        if (!element_type_q(element)) scalar::raise_type(error::id::script_invalid_type, element);
        w = default_width(element);
    }
    Cell* made = stack::push_slot();
    make_at(made, 1, element, w);
    Bytes run;
    if (has_values) run = values_of(made, &values, -1, false);
    int64_t n = std::max<int64_t>(count, int64_t(run.size() / w));
    if (uint64_t(n) * w > max_bytes) error::raise(error::id::internal_no_memory);
    run.resize(size_t(n) * w, 0);  // zero elements up to the count
    binary::splice(made, 0, 0, run, 1);
    return made;
}

}  // namespace

Cell* make(Cell*, Cell* spec, int32_t) {
    if (spec->is(Type::integer) || spec->is(Type::float_)) {
        int32_t n = spec->int2();
        if (spec->is(Type::float_)) {
            std::optional<int32_t> i = integer::from_double(spec->float23());
            if (!i) error::raise(error::id::script_out_of_range, spec);
            n = *i;
        }
        if (n < 0) error::raise(error::id::script_out_of_range, spec);
        Cell* made = stack::push_slot();
        make_at(made, n, Type::integer, 4);
        memory::SeriesBuffer* b = series::buffer(made);
        std::memset(b->head_ptr(), 0, size_t(n) * 4);
        b->tail = b->head + static_cast<uint32_t>(n) * 4;
        return made;
    }
    if (spec->is(Type::block)) return make_from_block(spec);
    error::raise(error::id::internal_not_done);
}

// =============================================================================================
// form, mold, compare

namespace {

// The text of one element: a char! escaped as in molded text (in #"..." when molding), a
// number as its datatype writes it, 32-bit floats and percents with seven digits.
int32_t element_text(const Cell* e, uint32_t w, Cell* buffer, bool molding, bool all, int32_t budget) {
    switch (e->type()) {
        case Type::char_:
            if (molding) string::append_ascii(buffer, "#\"");
            char_::append_escaped(buffer, char_::code_of(e), all);
            if (molding) string::append_char(buffer, '"');
            return budget - (molding ? 4 : 1);
        case Type::integer: {
            integer::Decimal d = integer::form_decimal(e->int2());
            return scalar::append(buffer, d.view(), budget);
        }
        case Type::float_: {
            double d = e->float23();
            float_text::Text t =
                w == 8 ? float_text::form_shortest(d, 0, true) : float_::form_text(d, float_::kind::single);
            return scalar::append(buffer, t.view(), budget);
        }
        default: {
            double d = e->float23() * 100.0;
            float_text::Text t = float_::form_text(d, w == 8 ? float_::kind::percent : float_::kind::single_percent);
            return scalar::append(buffer, t.view(), budget);
        }
    }
}

int32_t mold_each(Cell* value, Cell* buffer, bool molding, bool all, Cell* part, int32_t budget) {
    Cell v = *value;
    int32_t n = series::length(&v);
    Type element = element_type(&v);
    for (int32_t k = 0; k < n; ++k) {
        if (part && budget < 1) break;
        if (k > 0) {
            string::append_char(buffer, ' ');
            --budget;
        }
        if (v.int1() + k >= series::buffer_length(&v)) break;
        Cell e;  // read again each time: the text's growth may move the elements
        get_value(element_at(&v, v.int1() + k), width(&v), element, &e);
        budget = element_text(&e, width(&v), buffer, molding, all, budget);
    }
    return budget;
}

constexpr std::string_view type_word(Type t) {
    switch (t) {
        case Type::char_: return "char!";
        case Type::integer: return "integer!";
        case Type::float_: return "float!";
        default: return "percent!";
    }
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return mold_each(value, buffer, false, false, part, budget);
}

// make vector! [1 2] when the width is the default and there are elements, else with the
// type and size: make vector! [integer! 8 [1 2]]. /only leaves out make vector! [ and its ].
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool, Cell* part, int32_t budget, int32_t) {
    Type element = element_type(value);
    uint32_t w = width(value);
    bool plain = series::buffer_length(value) > 0 && w == default_width(element);
    if (!only) budget = scalar::append(buffer, "make vector! [", budget);
    if (!plain) {
        budget = scalar::append(buffer, type_word(element), budget);
        string::append_char(buffer, ' ');
        budget = scalar::append_decimal(buffer, int64_t(w) * 8, budget - 1);
        budget = scalar::append(buffer, " [", budget);
    }
    budget = mold_each(value, buffer, true, all, part, budget);
    if (!plain) budget = scalar::append(buffer, "]", budget);
    if (!only) budget = scalar::append(buffer, "]", budget);
    return budget;
}

int32_t compare(Cell* a, Cell* b, int32_t code) {
    if (!b->is(Type::vector)) return -2;
    Type element = element_type(a);
    if (element_type(b) != element) error::raise(error::id::script_not_same_type);
    bool same_place = series::node(a) == series::node(b) && series::head(a) == series::head(b);
    if (code == op::same) return same_place ? 0 : -1;
    if (same_place) return 0;
    Cell x = *a, y = *b;
    int32_t n = series::length(&x), m = series::length(&y);
    if (n == 0 && m == 0) return 0;
    bool equality = code == op::equal || code == op::not_equal || code == op::strict_equal || code == op::find;
    if (n != m && equality) return 1;
    // Every element is exact as a double: 32-bit integers and code points, singles, doubles.
    for (int32_t k = 0; k < std::min(n, m); ++k) {
        double d = number_at(&x, x.int1() + k), e = number_at(&y, y.int1() + k);
        if (d < e) return -1;
        if (d > e) return 1;
        if (d != e) return 0;  // unordered: a NaN on either side
    }
    return n == m ? 0 : n < m ? -1 : 1;
}

// =============================================================================================
// Editing

namespace {

Cell* append(Cell* v, Cell* value, int32_t part, bool, int32_t dup) {
    return binary::edit(v, binary::Edit::append, value, values_of(v, value, part, false), dup, -1);
}

Cell* insert(Cell* v, Cell* value, int32_t part, bool, int32_t dup) {
    return binary::edit(v, binary::Edit::insert, value, values_of(v, value, part, false), dup, -1);
}

Cell* change(Cell* v, Cell* value, int32_t part, bool, int32_t dup) {
    return binary::edit(v, binary::Edit::change, value, values_of(v, value, -1, true), dup, part);
}

}  // namespace

// =============================================================================================

void init() {
    datatype::register_type(Type::vector, {
        .others = datatype::inherit,
        .make = make,
        .to = datatype::empty,
        .form = form,
        .mold = mold,
        .compare = compare,
        .add = Ops::add,
        .divide = Ops::divide,
        .multiply = Ops::multiply,
        .remainder = Ops::remainder,
        .subtract = Ops::subtract,
        .and_t = Ops::and_t,
        .or_t = Ops::or_t,
        .xor_t = Ops::xor_t,
        .append = append,
        .change = change,
        .insert = insert,
        .swap = datatype::empty,
        .trim = datatype::empty,
    });
}

}  // namespace zuv::vector
