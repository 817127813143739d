// time!: seconds in a double; its h:mm:ss text, construction from parts, the hour, minute
// and second fields (pick and paths), and the typing rules of its arithmetic, which the
// float! kernel computes.
#include "datatypes/time.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::time {

namespace {


// A text loaded as one value, which must be a time!.
double load_time_text(Cell* text) {
    Cell v;
    scalar::load_value(text, &v);
    if (!v.is(Type::time)) numeric::raise_bad_to_arg(Type::time, text);
    return v.float23();
}

// 1, 2 or 3 for a word spelled hour, minute or second (letter case ignored), else 0.
int32_t field_of_name(const Cell* word) {
    const int32_t sym = word->int2();
    const std::string_view name(symbol::name(sym), static_cast<std::size_t>(symbol::name_length(sym)));
    static constexpr std::string_view names[] = {"hour", "minute", "second"};
    for (int32_t i = 0; i < 3; ++i) {
        const std::string_view n = names[i];
        if (name.size() != n.size()) continue;
        bool same = true;
        for (std::size_t k = 0; same && k < n.size(); ++k) same = (name[k] | 0x20) == n[k];
        if (same) return i + 1;
    }
    return 0;
}

int32_t checked(double value) {
    const std::optional<int32_t> v = integer::from_double(value);
    if (!v) error::raise(error::id::math_overflow);
    return *v;
}

// [hours minutes seconds]: integer hours and minutes, integer or float seconds; only the
// first value may be negative, and then the whole time is.
double from_block(Cell* spec) {
    const int32_t n = block::length(spec);
    if (n > 3) numeric::raise_bad_to_arg(Type::time, spec);
    static constexpr double weights[] = {seconds_per_hour, seconds_per_minute, 1.0};
    double total = 0.0;
    bool negative = false;
    for (int32_t i = 0; i < n; ++i) {
        const Cell v = block::head(spec)[i];
        double x;
        if (v.is(Type::integer)) x = double(v.int2());
        else if (v.is(Type::float_) && i == 2) x = v.float23();
        else numeric::raise_bad_to_arg(Type::time, spec);
        if (x < 0) {
            if (i > 0) numeric::raise_bad_to_arg(Type::time, spec);
            negative = true;
            x = -x;
        }
        total += x * weights[i];
    }
    return negative ? -total : total;
}

}  // namespace

// Helpers ---------------------------------------------------------------------------------

Cell* make_at(double seconds, Cell* c) {
    cell::make(c, Type::time);
    c->set_float23(seconds);
    return c;
}

Cell* make_in(Cell* block, uint32_t high, uint32_t low) {
    Cell* c = block::alloc_tail_cell(block);
    cell::make(c, Type::time, 0, low, high);
    return c;
}

Cell* push(double seconds) { return make_at(seconds, stack::push_slot()); }

int32_t get_hours(double seconds) { return checked(std::trunc(seconds / seconds_per_hour)); }

int32_t get_minutes(double seconds) {
    return checked(std::floor(std::fmod(std::fabs(seconds), seconds_per_hour) / seconds_per_minute));
}

Cell* get_field(const Cell* time, int32_t field) {
    const double s = time->float23();
    switch (field) {
        case hour: return integer::push(get_hours(s));
        case minute: return integer::push(get_minutes(s));
        default: return float_::push(std::fmod(s, seconds_per_minute));
    }
}

int32_t field_index(const Cell* word, const Cell* value) {
    const int32_t f = field_of_name(word);
    if (f != 0) return f;
    if (value->is(Type::time)) {
        Cell w = *word, v = *value;
        error::raise(error::id::script_cannot_use, &w, &v);
    }
    return -1;
}

double set_field(double s, int32_t field, const Cell* value) {
    const bool integral = value->is(Type::integer);
    if (!integral && !(field == second && value->is(Type::float_))) {
        Cell v = *value;
        error::raise(error::id::script_invalid_arg, &v);
    }
    const double x = integral ? double(value->int2()) : value->float23();
    switch (field) {
        case hour: return s - (std::floor(s / seconds_per_hour) - x) * seconds_per_hour;
        case minute:
            return s - (std::floor(std::fmod(s, seconds_per_hour) / seconds_per_minute) - x) * seconds_per_minute;
        default: return s - (std::fmod(s, seconds_per_minute) - x);
    }
}

int32_t form_text(double seconds, Cell* buffer, int32_t budget, bool exact) {
    double s = seconds;
    if (s < 0) {
        string::append_char(buffer, '-');
        --budget;
        s = -s;
    }
    const bool finite = std::isfinite(s);
    // Whole hours from what is left once the part of an hour is taken off, both exact: the
    // quotient alone may round up to the next hour.
    const double whole = finite ? s - std::fmod(s, seconds_per_hour) : s;
    const float_text::Text hours = float_text::form_shortest(whole / seconds_per_hour, 0, false);
    string::append_ascii(buffer, hours.view());
    const int32_t minutes = finite ? get_minutes(s) : 0;
    const char text[] = {':', char('0' + minutes / 10), char('0' + minutes % 10), ':'};
    string::append_ascii(buffer, std::string_view(text, 4));
    budget -= hours.count + 4;
    const double sec = finite ? std::fmod(s, seconds_per_minute) : 0.0;
    if (exact && sec != 0.0) {
        // The fewest digits of the seconds that, read back and added to the whole minutes as
        // the text is loaded, give s again (the shortest text of the seconds alone may need
        // more digits, and fewer may round up to 60).
        const double minutes_part = s - sec;
        std::string t;
        for (int n = 1; n <= 17; ++n) {
            t = float_text::form_exact(sec, 0, 400, n);
            const float_text::Parsed back = float_text::to_float_len(t.data(), t.size());
            if (back.unread == 0 && minutes_part + back.value == s) break;
            t = float_text::form_exact(sec, 0, 400);
        }
        if (sec < 10.0) t.insert(0, "0");
        string::append_ascii(buffer, t);
        return budget - static_cast<int32_t>(t.size());
    }
    if (sec < 0.000001) {
        string::append_ascii(buffer, "00");
        return budget - 2;
    }
    const float_text::Text t = float_::form_text(sec, float_::kind::seconds);
    if (t.count == 1 || t.chars[1] == '.') {
        string::append_char(buffer, '0');
        --budget;
    }
    string::append_ascii(buffer, t.view());
    return budget - t.count;
}

// Actions ---------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t) {
    double s;
    switch (spec->type()) {
        case Type::integer: s = double(spec->int2()); break;
        case Type::time: case Type::float_: case Type::percent: s = spec->float23(); break;
        case Type::block: case Type::paren: case Type::hash: s = from_block(spec); break;
        default:
            if (!numeric::text_type_q(spec->type())) numeric::raise_bad_to_arg(Type::time, spec);
            s = load_time_text(spec);
    }
    return make_at(s, proto);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) { return form_text(value->float23(), buffer, budget); }

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    return form_text(value->float23(), buffer, budget, all);
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t f = index;
    if (index_cell && index_cell->is(Type::word)) {
        f = field_index(index_cell, value);
    } else if (index < 1 || index > 3) {
        Cell i = index_cell ? *index_cell : Cell{static_cast<uint32_t>(Type::integer), 0, uint32_t(index), 0};
        error::raise(error::id::script_out_of_range, &i);
    }
    return get_field(value, f);
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell* parent, Cell* previous, int32_t, bool,
                bool notify) {
    int32_t f = 0;
    if (element->is(Type::integer) && element->int2() >= 1 && element->int2() <= 3) f = element->int2();
    else if (element->is(Type::word)) f = field_of_name(element);
    if (f == 0) {
        Cell v = *value, e = *element;
        error::raise(error::id::script_invalid_path, &v, &e);
    }
    if (!set_value) return get_field(value, f);
    const Cell old = *value;
    value->set_float23(set_field(value->float23(), f, set_value));
    if (notify) scalar::notify_path_set(parent, previous, &old, value, set_value, f);
    return set_value;
}

Cell* add(Cell* a, Cell* b) {
    if (b->is(Type::date)) return numeric::hand_over(a, b, numeric::add, true);
    return float_::do_math(a, b, numeric::add);
}

Cell* subtract(Cell* a, Cell* b) {
    if (b->is(Type::date)) numeric::raise_not_related("subtract", Type::time);
    return float_::do_math(a, b, numeric::subtract);
}

Cell* multiply(Cell* a, Cell* b) {
    if (b->is(Type::time)) numeric::raise_not_related("multiply", Type::time);
    return float_::do_math(a, b, numeric::multiply);
}

Cell* divide(Cell* a, Cell* b) {
    // A time divided by a time is a ratio.
    const bool ratio = b->is(Type::time);
    float_::do_math(a, b, numeric::divide);
    if (ratio) a->set_type(Type::float_);
    return a;
}

Cell* round(Cell* value, const slotfn::RoundOptions& o) {
    Cell* scale = o.scale;
    double sc = 1.0;
    if (scale) {
        switch (scale->type()) {
            case Type::money: {
                Cell w;
                stack::get_call_word(&w);
                numeric::raise_not_related(&w, Type::money);
            }
            case Type::integer: sc = double(scale->int2()); break;
            case Type::float_: case Type::percent: case Type::time: sc = scale->float23(); break;
            default: numeric::raise_invalid_type(scale->type());
        }
        sc = std::fabs(sc);
    }
    // Always a time!: the double is kept whatever the scale's type.
    const std::optional<double> r =
        float_::round_double(value->float23(), sc, {o.even, o.down, o.half_down, o.floor, o.ceiling, o.half_ceiling});
    if (r) value->set_float23(*r);
    return value;
}

namespace {
// The parity of the whole seconds field, after a nudge of a microsecond away from zero that
// carries 59.9999999 over the minute.
bool odd_seconds_q(const Cell* value) {
    double s = value->float23();
    s += s >= 0 ? 0.000001 : -0.000001;
    const double w = std::trunc(std::fmod(s, seconds_per_minute));
    return std::fmod(w, 2.0) != 0.0;
}
}  // namespace

bool even_q(Cell* value) { return std::isfinite(value->float23()) && !odd_seconds_q(value); }
bool odd_q(Cell* value) { return std::isfinite(value->float23()) && odd_seconds_q(value); }

// Registration ----------------------------------------------------------------------------

void init() {
    datatype::register_type(Type::time, {
        .others = datatype::inherit,
        .make = make,
        .to = make,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .add = add,
        .divide = divide,
        .multiply = multiply,
        .power = datatype::empty,
        .round = round,
        .subtract = subtract,
        .even_q = even_q,
        .odd_q = odd_q,
        .pick = pick,
    });
}

}  // namespace zuv::time
