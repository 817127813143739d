// date!: day numbers, calendar fields, zones, arithmetic, the block reader and text.
#include "datatypes/date.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/locale.h"
#include "datatypes/logic.h"
#include "datatypes/numeric.h"
#include "datatypes/scalar.h"
#include "datatypes/time.h"
#include "runtime/random.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::date {

namespace {


constexpr std::string_view field_names[] = {"date",    "year",    "month",  "day",      "zone",
                                            "time",    "hour",    "minute", "second",   "weekday",
                                            "yearday", "julian",  "timezone", "week",   "isoweek"};
// Field number of each name above (julian is yearday).
constexpr int32_t field_numbers[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 12, 13, 14};

// Floor division: day numbers stay continuous across year 0, so years before it keep their
// leap days (-4 and 0 are leap years like 4 and 400).
constexpr int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1 March of year 0 to 1 March of year yy.
constexpr int64_t march_year_start(int64_t yy) {
    return 365 * yy + floor_div(yy, 4) - floor_div(yy, 100) + floor_div(yy, 400);
}

constexpr int64_t days_long(int64_t y, int32_t m, int64_t d) {
    int32_t mm = (m + 9) % 12;
    int64_t yy = y - mm / 10;
    return march_year_start(yy) + (306 * mm + 5) / 10 + (d - 1);
}

constexpr int64_t first_day = days_long(min_year, 1, 1);
constexpr int64_t last_day = days_long(max_year, 12, 31);

bool in_range(int64_t n) { return n >= first_day && n <= last_day; }

// The day number of day d of month m of year y, where months and days of any number roll
// over (month 0 is December of the year before, day 0 the last day of the month before).
int64_t days_rolled(int64_t y, int64_t m, int64_t d) {
    int64_t carry = floor_div(m - 1, 12);
    return days_long(y + carry, static_cast<int32_t>(m - carry * 12), d);
}

uint32_t word_from_days(int64_t n, uint32_t zone, bool time) {
    int64_t y = static_cast<int64_t>(std::trunc((10000.0 * double(n) + 14780.0) / 3652425.0));
    int64_t r = n - march_year_start(y);
    while (r < 0) r = n - march_year_start(--y);
    while (r >= march_year_start(y + 1) - march_year_start(y)) r = n - march_year_start(++y);
    int64_t mi = (100 * r + 52) / 3060;
    int64_t m = (mi + 2) % 12 + 1;
    int64_t year = y + (mi + 2) / 12;
    int64_t d = r - (306 * mi + 5) / 10 + 1;
    return static_cast<uint32_t>(year) << 17 | static_cast<uint32_t>(m) << 12 | static_cast<uint32_t>(d) << 7 |
           (time ? bits::has_time : 0) | (zone & bits::zone);
}

// Whole seconds of a stored time, saturating (a time only the lexer could give).
int64_t whole_seconds(double t) {
    if (std::isnan(t)) return 0;
    return static_cast<int64_t>(std::clamp(t, -9e18, 9e18));
}

[[noreturn, gnu::cold]] void out_of_range() { scalar::raise_type(error::id::script_type_limit, Type::date); }

void store(Cell* c, uint32_t w, double t) {
    c->set_type(Type::date);
    set_word(c, w);
    c->set_float23(t);
}

// The DateWord with its calendar date replaced by day number n.
uint32_t redate(uint32_t w, int64_t n) { return from_days(n, zone_bits(w), has_time(w)); }

double local_time(const Cell* c) { return to_local_time(time_of(c), zone_bits(word_of(c))); }

// Zone bits from hours and minutes; nothing when they cannot be held.
bool zone_from(int32_t hours, int32_t minutes, bool negative, uint32_t* zone) {
    if (hours < -15 || hours > 15 || minutes < 0 || minutes > 45 || minutes % 15) return false;
    uint32_t quarters = static_cast<uint32_t>(minutes / 15);
    uint32_t h = static_cast<uint32_t>(hours < 0 ? -hours : hours);
    *zone = h << 2 | quarters;
    if (*zone && (negative || hours < 0)) *zone |= bits::zone_sign;
    return true;
}

// The Monday starting ISO week 1 of a year (which may lie past the representation).
int32_t week1_start_of(int64_t y, int32_t* weekday) {
    int32_t jan1 = static_cast<int32_t>(days_long(y, 1, 1));
    int32_t k = static_cast<int32_t>((jan1 + 2) % 7);
    if (k < 0) k += 7;
    *weekday = k + 1;
    return k < 4 ? jan1 - k : jan1 - k + 7;
}

int32_t week_of(uint32_t w) {
    int32_t jan1 = jan1_days(w);
    int32_t s = static_cast<int32_t>((jan1 + 3) % 7);
    if (s < 0) s += 7;
    int32_t e = year_day(w);
    return 7 - s < e ? (e + s - 1) / 7 + 1 : 1;
}

int32_t integer_arg(const Cell* value) {
    if (!value->is(Type::integer)) error::raise(error::id::script_invalid_arg, value);
    return value->int2();
}

// --- make and to -------------------------------------------------------------------

[[noreturn]] void bad_spec(const Cell* spec) { scalar::raise_type(error::id::script_bad_to_arg, Type::date, spec); }

// The block reader's states: for an integer!, a time! and a float! input, the next state
// and the slot the value goes to (-1: refused). Slots 0-7 are day, month, year, hour,
// minute, second, zone hour and zone minute; 8 a time!, 9 a time! zone, 10 float seconds.
struct Step {
    int8_t next, slot;
};
constexpr Step steps[14][3] = {
    {{1, 0}, {-1, -1}, {-1, -1}},  {{2, 1}, {-1, -1}, {-1, -1}},  {{3, 2}, {-1, -1}, {-1, -1}},
    {{8, 3}, {4, 8}, {-1, -1}},    {{6, 6}, {5, 9}, {-1, -1}},    {{-1, -1}, {-1, -1}, {-1, -1}},
    {{7, 7}, {-1, -1}, {-1, -1}},  {{-1, -1}, {-1, -1}, {-1, -1}}, {{9, 4}, {-1, -1}, {-1, -1}},
    {{10, 5}, {-1, -1}, {10, 10}}, {{12, 6}, {11, 9}, {-1, -1}},  {{-1, -1}, {-1, -1}, {-1, -1}},
    {{13, 7}, {-1, -1}, {-1, -1}}, {{-1, -1}, {-1, -1}, {-1, -1}},
};

void from_block(Cell* c, Cell* spec, bool check) {
    scalar::Values v = scalar::values_of(spec);
    if (v.count < 3) bad_spec(spec);
    int32_t slots[8] = {};
    double time_value = 0.0, zone_value = 0.0, float_seconds = 0.0;
    int state = 0;
    for (int32_t i = 0; i < v.count; ++i) {
        const Cell* e = &v.head[i];
        int kind = e->is(Type::integer) ? 0 : e->is(Type::time) ? 1 : e->is(Type::float_) ? 2 : -1;
        if (kind < 0 || steps[state][kind].next < 0) bad_spec(spec);
        int slot = steps[state][kind].slot;
        if (slot < 8) slots[slot] = e->int2();
        else if (slot == 8) time_value = e->float23();
        else if (slot == 9) zone_value = e->float23();
        else float_seconds = e->float23();
        state = steps[state][kind].next;
    }
    int32_t d = slots[0], m = slots[1], y = slots[2];
    if (d > 99 && y < d) std::swap(d, y);
    bool time = v.count > 3;
    double t = 0.0;
    int32_t given_minutes = 0;
    if (state >= 8) {
        t = slots[3] * 3600.0 + slots[4] * 60.0 + (float_seconds != 0.0 ? float_seconds : double(slots[5]));
        given_minutes = slots[4];
    } else if (state >= 4) {  // states 4-7 follow a time!
        t = time_value;
        given_minutes = numeric::time_minutes(t);
    }
    uint32_t zone = 0;
    bool zone_ok = state == 5 || state == 11
                       ? zone_from(numeric::time_hours(zone_value), numeric::time_minutes(zone_value), zone_value < 0, &zone)
                       : zone_from(slots[6], slots[7], false, &zone);
    if (!zone_ok || y < min_year || y > max_year || !std::isfinite(t)) bad_spec(spec);

    int64_t n = normalize_time(days_rolled(y, m, d), &t, 0);
    if (!in_range(n)) bad_spec(spec);
    uint32_t w = word_from_days(n, 0, time);
    if (check) {
        bool same_date = year(w) == y && month(w) == m && day(w) == d;
        if (!same_date || (time && numeric::time_minutes(t) != given_minutes)) bad_spec(spec);
    }
    store(c, w | zone, 0.0);
    if (time) {
        double utc = to_utc_time(t, zone);
        n = normalize_time(n, &utc, zone);
        if (!in_range(n)) bad_spec(spec);
        store(c, word_from_days(n, zone, true), utc);
    }
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    if (spec->is(Type::date)) return spec;
    if (!spec->is(Type::block)) bad_spec(spec);
    from_block(proto, spec, true);
    return proto;
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    switch (spec->type()) {
        case Type::date: return spec;
        case Type::block: case Type::paren: case Type::hash: from_block(proto, spec, false); return proto;
        case Type::integer: {
            int32_t n = spec->int2();
            int64_t day_number = days_long(1970, 1, 1) + n / 86400;
            store(proto, word_from_days(day_number, 0, true), double(n % 86400));
            if (n < 0) set_time(proto, time_of(proto), false);
            return proto;
        }
        default: bad_spec(spec);
    }
}

// --- actions -----------------------------------------------------------------------

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<int32_t>(word_of(value) + static_cast<uint32_t>(whole_seconds(time_of(value)))));
        cell::make(value, Type::unset);
        return value;
    }
    uint32_t w = word_of(value);
    int32_t k = random::int_(secure, to_days(w));
    w = from_days(int64_t(k) - 1, zone_bits(w), has_time(w));
    store(value, w, time_of(value));
    if (has_time(w)) {
        uint32_t zone = static_cast<uint32_t>(secure ? random::secure_int() : random::next()) & bits::zone;
        if (!(zone & ~bits::zone_sign)) zone = 0;  // no "-00:00"
        set_word(value, (w & ~bits::zone) | zone);
        double x;
        if (secure) {
            double a = random::secure_int(), b = random::secure_int();
            x = (a / 2147483647.0 + b) / (2147483648.0 / 3600.0);
        } else {
            x = random::next() / 2147483647.0 * 3600.0;
        }
        set_time(value, std::floor(x) * 24.0, true);
    }
    return value;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    uint32_t w = word_of(value);
    int32_t y = year(w);
    const char* separator = y < 0 ? "/" : "-";
    budget = scalar::append_decimal(buffer, day(w), budget);
    budget = scalar::append(buffer, separator, budget);
    auto name = locale::month_name(month(w));
    if (!name) error::raise(error::id::script_invalid_months);
    budget = scalar::append(buffer, name->substr(0, 3), budget);
    budget = scalar::append(buffer, separator, budget);
    char text[16];
    std::snprintf(text, sizeof text, y > -100 && y < 100 ? "%s%04d" : "%s%d", y < 0 ? "-" : "", y < 0 ? -y : y);
    budget = scalar::append(buffer, text, budget);
    if (!has_time(w)) return budget;
    budget = scalar::append(buffer, "/", budget);
    budget = time::form_text(local_time(value), buffer, budget, all);
    uint32_t zone = zone_bits(w);
    if (!zone) return budget;
    std::snprintf(text, sizeof text, "%c%02u:%02u", zone & bits::zone_sign ? '-' : '+', (zone >> 2) & 0xF,
                  (zone & 3) * 15);
    return scalar::append(buffer, text, budget);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return mold(value, buffer, false, false, false, part, budget, 0);
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell* parent, Cell* previous, int32_t, bool,
                bool notify) {
    int32_t field = -1;
    if (element->is(Type::integer)) field = element->int2();
    else if (element->is(Type::word)) field = field_index(element);
    if (field < 1 || field > 14) error::raise(error::id::script_invalid_path, element, value);
    if (!set_value) return push_field(value, field);
    const Cell old = *value;
    set_field(value, field, set_value);
    if (notify) scalar::notify_path_set(parent, previous, &old, value, set_value, field);
    return set_value;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::date)) return -2;
    int64_t ka = to_days(word_of(a)), kb = to_days(word_of(b));
    double ta = time_of(a), tb = time_of(b);
    if (ka == kb) {
        bool equal = op == 9 ? std::bit_cast<uint64_t>(ta) == std::bit_cast<uint64_t>(tb) : float_::almost_equal_q(ta, tb);
        if (equal) return 0;
        return ta < tb ? -1 : ta > tb ? 1 : (op == 9 ? 1 : 0);
    }
    // Different local days can still be one instant in different zones: dates order and
    // match by the instant, days x 86400 + time.
    double shifted = ta + double(ka - kb) * 86400.0;
    if (op != 9 && float_::almost_equal_q(shifted, tb)) return 0;
    return shifted < tb ? -1 : shifted > tb ? 1 : (ka < kb ? -1 : 1);
}

Cell* add(Cell* a, Cell* b) { return add_or_subtract(a, b, false); }
Cell* subtract(Cell* a, Cell* b) { return add_or_subtract(a, b, true); }

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t field = index;
    if (index_cell && scalar::any_word_q(index_cell->type())) field = field_index(index_cell);
    if (field < 1 || field > 14) error::raise(error::id::script_out_of_range, index_cell);
    return push_field(value, field);
}

}  // namespace

int32_t zone_seconds(uint32_t zone) {
    int32_t s = static_cast<int32_t>((zone >> 2) & 0xF) * 3600 + static_cast<int32_t>(zone & 3) * 900;
    return zone & bits::zone_sign ? -s : s;
}

bool make_at(Cell* c, int32_t y, int32_t m, int32_t d, double time, int32_t zone_hours, int32_t zone_minutes,
             bool time_flag) {
    uint32_t zone;
    if (y < min_year || y > max_year || m < 1 || m > 12 || d < 1 || !std::isfinite(time) ||
        d > days_long(y + (m == 12), m % 12 + 1, 1) - days_long(y, m, 1) ||
        !zone_from(zone_hours, zone_minutes < 0 ? -zone_minutes : zone_minutes, zone_minutes < 0, &zone))
        return false;
    uint32_t w = static_cast<uint32_t>(y) << 17 | static_cast<uint32_t>(m) << 12 | static_cast<uint32_t>(d) << 7 | zone;
    cell::make(c, Type::date, w);
    if (time_flag) {
        set_word(c, word_of(c) | bits::has_time);
        c->set_float23(to_utc_time(time, zone));
    }
    return true;
}

bool from_parts(Cell* c, int32_t y, int32_t m, int32_t d, int32_t hour, int32_t minute, int32_t second,
                int32_t nanoseconds) {
    return make_at(c, y, m, d, hour * 3600.0 + minute * 60.0 + second + nanoseconds * 1e-9, 0, 0, true);
}

Cell* make_in(Cell* block, uint32_t w, uint32_t time_low, uint32_t time_high) {
    Cell c;
    cell::make(&c, Type::date, w, time_low, time_high);
    return block::append(block, &c);
}

Cell* push(uint32_t w, double time) {
    Cell c;
    cell::make(&c, Type::date, w);
    c.set_float23(time);
    return stack::push(&c);
}

Cell* push_field(Cell* date, int32_t field) {
    uint32_t w = word_of(date);
    double u = local_time(date);
    switch (field) {
        case 1: return push(w & ~(bits::zone | bits::has_time), 0.0);
        case 2: return numeric::push_integer(year(w));
        case 3: return numeric::push_integer(month(w));
        case 4: return numeric::push_integer(day(w));
        case 5: case 12:
            if (!has_time(w)) return none::push();
            return numeric::push_float(zone_seconds(zone_bits(w)), Type::time);
        case 6:
            if (!has_time(w)) return none::push();
            return numeric::push_float(u, Type::time);
        case 7: return numeric::push_integer(numeric::time_hours(u));
        case 8: return numeric::push_integer(numeric::time_minutes(u));
        case 9: return numeric::push_float(std::fmod(u, 60.0));
        case 10: return numeric::push_integer(weekday_index(to_days(w)) + 1);
        case 11: return numeric::push_integer(year_day(w));
        case 13: return numeric::push_integer(week_of(w));
        case 14: return numeric::push_integer(iso_week(w));
        default: return nullptr;
    }
}

int32_t field_index(const Cell* word) {
    int32_t i = scalar::word_index(word, field_names);
    return i ? field_numbers[i - 1] : -1;
}

void set_field(Cell* c, int32_t field, const Cell* value) {
    uint32_t w = word_of(c);
    int64_t days = to_days(w);
    switch (field) {
        case 1:
            if (!value->is(Type::date)) error::raise(error::id::script_invalid_arg, value);
            // The calendar date alone: this value keeps its zone, has-time and time.
            set_word(c, (word_of(value) & ~(bits::zone | bits::has_time)) | (w & (bits::zone | bits::has_time)));
            return;
        case 2: {
            int64_t y = integer_arg(value);
            if (y < min_year || y > max_year) out_of_range();
            set_word(c, redate(w, days_long(y, month(w), day(w))));
            return;
        }
        case 3: set_month(c, integer_arg(value)); return;
        case 4: set_word(c, redate(w, days - day(w) + integer_arg(value))); return;
        case 5: case 12:
            set_zone(c, value, field == 12);
            set_word(c, word_of(c) | bits::has_time);
            return;
        case 6:
            if (value->is(Type::none)) {
                store(c, w & ~bits::has_time, 0.0);
                return;
            }
            if (!value->is(Type::time)) error::raise(error::id::script_invalid_arg, value);
            set_word(c, word_of(c) | bits::has_time);
            set_time(c, value->float23(), true);
            return;
        case 7: case 8: case 9: {
            double t = time::set_field(time_of(c), field - 6, value);
            set_word(c, word_of(c) | bits::has_time);
            set_time(c, t, field == 7);
            return;
        }
        case 10: set_word(c, redate(w, days - weekday_index(days) + integer_arg(value) - 1)); return;
        case 11: set_word(c, redate(w, int64_t(jan1_days(w)) + integer_arg(value) - 1)); return;
        case 13: {
            int64_t week = integer_arg(value);
            int64_t jan1 = jan1_days(w);
            if (week <= 1) {
                set_word(c, redate(w, jan1));
                return;
            }
            int64_t s = (jan1 + 3) % 7;
            if (s < 0) s += 7;
            set_word(c, redate(w, jan1 + 7 * week - s - 7));
            return;
        }
        case 14: {
            int32_t ignored;
            set_word(c, redate(w, iso_week1_start(w, &ignored) + 7 * (int64_t(integer_arg(value)) - 1)));
            return;
        }
        default: error::raise(error::id::script_invalid_path, value);
    }
}

bool leap_year_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t to_days(uint32_t w) { return static_cast<int32_t>(days_long(year(w), month(w), day(w))); }
int32_t days_of(int32_t y, int32_t m, int32_t d) { return static_cast<int32_t>(days_long(y, m, d)); }

uint32_t from_days(int64_t n, uint32_t zone, bool time) {
    if (!in_range(n)) out_of_range();
    return word_from_days(n, zone, time);
}

int32_t jan1_days(uint32_t w) { return static_cast<int32_t>(days_long(year(w), 1, 1)); }
int32_t year_day(uint32_t w) { return to_days(w) - jan1_days(w) + 1; }

int32_t weekday_index(int64_t days) {
    int32_t k = static_cast<int32_t>((days + 2) % 7);
    return k < 0 ? k + 7 : k;
}

int32_t iso_week1_start(uint32_t w, int32_t* weekday) { return week1_start_of(year(w), weekday); }

int32_t iso_week(uint32_t w) {
    int32_t j;
    int32_t start = iso_week1_start(w, &j);
    int32_t days = to_days(w);
    if (days < start) {
        if (j == 5) return 53;
        if (j == 6) return leap_year_q(year(w) - 1) ? 53 : 52;
        return 52;
    }
    int32_t ignored;
    int32_t next = week1_start_of(int64_t(year(w)) + 1, &ignored);
    return days < next ? (days - start) / 7 + 1 : 1;
}

void set_week(Cell* c, int32_t week) {
    int32_t ignored;
    set_word(c, redate(word_of(c), iso_week1_start(word_of(c), &ignored) + 7 * int64_t(week) - 7));
}

void set_weekday(Cell* c, int32_t k) {
    int64_t days = to_days(word_of(c));
    set_word(c, redate(word_of(c), days - weekday_index(days) + k - 1));
}

void set_year_day(Cell* c, int32_t n) { set_word(c, redate(word_of(c), int64_t(jan1_days(word_of(c))) + n - 1)); }

void set_month(Cell* c, int32_t m) {
    set_word(c, redate(word_of(c), days_rolled(year(word_of(c)), m, day(word_of(c)))));
}

double to_local_time(double t, uint32_t zone) { return t + zone_seconds(zone); }
double to_utc_time(double t, uint32_t zone) { return t - zone_seconds(zone); }

int64_t normalize_time(int64_t days, double* t, uint32_t zone) {
    double z = zone_seconds(zone) / 3600.0;
    double hours = std::trunc(*t / 3600.0 + z);
    // Beyond a few million years every date is off the representation anyway.
    if (!(std::fabs(hours) < 1e12)) return hours < 0 || std::isnan(hours) ? INT64_MIN / 2 : INT64_MAX / 2;
    int64_t m = static_cast<int64_t>(hours) / 24;
    *t -= double(m) * 86400.0;
    days += m;
    if (z * 3600.0 + *t < 0.0) {
        *t += 86400.0;
        days -= 1;
    }
    return days;
}

void set_time(Cell* c, double t, bool local) {
    uint32_t w = word_of(c);
    if (local) t = to_utc_time(t, zone_bits(w));
    int64_t days = normalize_time(to_days(w), &t, zone_bits(w));
    store(c, from_days(days, zone_bits(w), has_time(w)), t);
}

void set_zone(Cell* c, const Cell* value, bool keep_instant) {
    int32_t hours, minutes = 0;
    bool negative;
    if (value->is(Type::integer)) {
        hours = value->int2() % 16;
        negative = hours < 0;
    } else if (value->is(Type::time)) {
        double w = std::fmod(value->float23(), 57600.0);
        hours = numeric::time_hours(w);
        minutes = numeric::time_minutes(w);
        negative = w < 0;
    } else {
        error::raise(error::id::script_invalid_arg, value);
    }
    uint32_t zone = static_cast<uint32_t>(hours < 0 ? -hours : hours) << 2 | static_cast<uint32_t>(minutes / 15 & 3);
    if (zone && negative) zone |= bits::zone_sign;
    uint32_t w = word_of(c);
    double t = time_of(c);
    if (keep_instant) {
        double local = t + zone_seconds(zone);
        set_word(c, (w & ~bits::zone) | zone);
        set_time(c, local, true);
    } else {
        double local = to_local_time(t, zone_bits(w));
        set_word(c, (w & ~bits::zone) | zone);
        c->set_float23(to_utc_time(local, zone));
    }
}

void difference(Cell* a, const Cell* b) {
    double seconds = double(int64_t(to_days(word_of(a))) - to_days(word_of(b))) * 86400.0 + (time_of(a) - time_of(b));
    numeric::float_at(a, seconds, Type::time);
}

int64_t to_epoch(const Cell* c) {
    // Floor, not truncation: a stored time below zero (early in the day east of UTC) must
    // not move the instant a second forward.
    return (int64_t(to_days(word_of(c))) - days_long(1970, 1, 1)) * 86400 + whole_seconds(std::floor(time_of(c) + 0.5));
}

Cell* add_or_subtract(Cell* left, Cell* right, bool subtract) {
    int64_t days = 0;
    double seconds = 0.0;
    bool gives_time = false;
    switch (right->type()) {
        case Type::integer: days = right->int2(); break;
        case Type::time:
            seconds = right->float23();
            gives_time = true;
            break;
        case Type::date:
            if (!subtract) scalar::raise_not_related("add", Type::date);
            days = to_days(word_of(right));
            seconds = time_of(right);
            break;
        default: scalar::raise_type(error::id::script_invalid_type, right->type());
    }
    uint32_t w = word_of(left);
    int64_t d = subtract ? int64_t(to_days(w)) - days : int64_t(to_days(w)) + days;
    double t = subtract ? time_of(left) - seconds : time_of(left) + seconds;
    d = normalize_time(d, &t, zone_bits(w));
    if (right->is(Type::date)) {
        numeric::integer_at(left, static_cast<int32_t>(d));
        return left;
    }
    store(left, from_days(d, zone_bits(w), has_time(w) || gives_time), t);
    return left;
}

void init() {
    datatype::register_type(Type::date, {
        .make = make,
        .random = random,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .add = add,
        .subtract = subtract,
        .pick = pick,
    });
}

}  // namespace zuv::date
