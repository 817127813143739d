// The loaders of tuple, pair, point, time, money and date literals. The scanner has found
// the token's extent; these read its fields strictly, so that a malformed literal is a
// syntax error rather than a value nobody wrote.
#include "reader/lexer-scalars.h"

#include <cmath>
#include <string>

#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "reader/lexer-scan.h"
#include "datatypes/number-scan.h"

namespace zuv::lexer {

namespace {

bool digit_q(char c) { return c >= '0' && c <= '9'; }

// A run of decimal digits at *pos; its value (saturating) and digit count.
struct Digits {
    int64_t value = 0;
    int32_t count = 0;
};

Digits read_digits(std::string_view s, size_t* pos, int32_t max_count = 18) {
    Digits d;
    while (*pos < s.size() && digit_q(s[*pos])) {
        if (d.count < max_count) d.value = d.value * 10 + (s[*pos] - '0');
        ++d.count;
        ++*pos;
    }
    return d;
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!digit_q(c)) return false;
    return true;
}

std::optional<double> read_float(std::string_view s) {
    number_scan::FloatScan f = number_scan::scan_float(s.data(), s.size(), 1);
    if (f.error != number_scan::ScanError::none) return std::nullopt;
    return f.value;
}

// hours:minutes[:seconds], or minutes:seconds when the second field carries a fraction
// (10:20.5). No sign, no exponent; minutes and seconds above 59 are the caller's concern.
struct Clock {
    double hours = 0, minutes = 0, seconds = 0;
};

std::optional<Clock> read_clock(std::string_view s) {
    if (s.find_first_of("eE") != std::string_view::npos) return std::nullopt;
    std::string_view fields[3];
    int32_t n = 0;
    size_t from = 0;
    for (;;) {
        size_t colon = s.find(':', from);
        if (n == 3) return std::nullopt;
        fields[n++] = s.substr(from, colon == std::string_view::npos ? std::string_view::npos : colon - from);
        if (colon == std::string_view::npos) break;
        from = colon + 1;
    }
    if (n < 2) return std::nullopt;
    for (int32_t i = 0; i < n; ++i)
        if (fields[i].empty()) return std::nullopt;
    Clock c;
    bool fraction = fields[1].find_first_of(".,") != std::string_view::npos;
    if (n == 2 && fraction) {
        auto minutes = all_digits(fields[0]) ? read_float(fields[0]) : std::nullopt;
        if (!minutes) return std::nullopt;
        c.minutes = *minutes;
        auto sec = read_float(fields[1]);
        if (!sec || *sec < 0 || fields[1][0] == '-' || fields[1][0] == '+') return std::nullopt;
        c.seconds = *sec;
        return c;
    }
    if (!all_digits(fields[0]) || !all_digits(fields[1])) return std::nullopt;
    // a run of digits too long for a float is no time (read_float refuses it, as it must)
    auto hours = read_float(fields[0]), minutes = read_float(fields[1]);
    if (!hours || !minutes) return std::nullopt;
    c.hours = *hours;
    c.minutes = *minutes;
    if (n == 3) {
        if (fields[2][0] == '-' || fields[2][0] == '+') return std::nullopt;
        auto sec = read_float(fields[2]);
        if (!sec || *sec < 0) return std::nullopt;
        c.seconds = *sec;
    }
    return c;
}

constexpr const char* month_names[12] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};

// A month written as 3 to 9 letters that begin its English name, in any case; 0 if none.
int32_t month_of_name(std::string_view letters) {
    if (letters.size() < 3 || letters.size() > 9) return 0;
    for (int32_t m = 0; m < 12; ++m) {
        std::string_view name = month_names[m];
        if (letters.size() > name.size()) continue;
        bool match = true;
        for (size_t i = 0; i < letters.size() && match; ++i) match = (letters[i] | 0x20) == name[i];
        if (match) return m + 1;
    }
    return 0;
}

// A zone: Z, or a sign with hours, h:mm or hhmm. Minutes come back with the zone's sign.
bool read_zone(std::string_view s, int32_t* hours, int32_t* minutes) {
    *hours = *minutes = 0;
    if (s == "Z" || s == "z") return true;
    if (s.size() < 2 || (s[0] != '+' && s[0] != '-')) return false;
    bool negative = s[0] == '-';
    std::string_view rest = s.substr(1);
    int64_t h = 0, m = 0;
    size_t colon = rest.find(':');
    if (colon != std::string_view::npos) {
        std::string_view hh = rest.substr(0, colon), mm = rest.substr(colon + 1);
        if (!all_digits(hh) || hh.size() > 2 || !all_digits(mm) || mm.size() != 2) return false;
        h = std::stoi(std::string(hh));
        m = std::stoi(std::string(mm));
    } else if (all_digits(rest) && rest.size() <= 2) {
        h = std::stoi(std::string(rest));
    } else if (all_digits(rest) && rest.size() == 4) {
        h = std::stoi(std::string(rest.substr(0, 2)));
        m = std::stoi(std::string(rest.substr(2)));
    } else {
        return false;
    }
    if (h > 15 || m > 59) return false;
    *hours = static_cast<int32_t>(negative ? -h : h);
    *minutes = static_cast<int32_t>(negative && h == 0 ? -m : m);
    return true;
}

// The time part of a date (after "/" or "T") with its zone: seconds of the day.
bool read_date_time(std::string_view s, bool compact, double* time, int32_t* zone_h, int32_t* zone_m) {
    size_t z = s.find_first_of("+-Zz");
    std::string_view clock_text = s.substr(0, z);
    *zone_h = *zone_m = 0;
    if (z != std::string_view::npos && !read_zone(s.substr(z), zone_h, zone_m)) return false;
    Clock c;
    if (clock_text.find(':') == std::string_view::npos && compact) {
        // hhmm or hhmmss after a compact date
        if (!all_digits(clock_text) || (clock_text.size() != 4 && clock_text.size() != 6)) return false;
        c.hours = std::stoi(std::string(clock_text.substr(0, 2)));
        c.minutes = std::stoi(std::string(clock_text.substr(2, 2)));
        if (clock_text.size() == 6) c.seconds = std::stoi(std::string(clock_text.substr(4)));
    } else {
        auto read = read_clock(clock_text);
        if (!read) return false;
        c = *read;
    }
    if (c.hours > 23 || c.minutes > 59 || !(c.seconds < 60)) return false;
    *time = c.hours * 3600 + c.minutes * 60 + c.seconds;
    return true;
}

}  // namespace

int32_t load_tuple(std::string_view text, Cell* out) {
    Cell c;
    tuple::make_at(&c, 3, 0, 0, 0);
    int32_t n = 0;
    size_t pos = 0;
    for (;;) {
        Digits d = read_digits(text, &pos, 4);
        if (d.count == 0 || d.count > 3 || d.value > 255 || n == tuple::max_length) return dt::tuple;
        tuple::put(&c, n++, static_cast<uint8_t>(d.value));
        if (pos == text.size()) break;
        if (text[pos] != '.') return dt::tuple;
        ++pos;
    }
    if (n < 3) return dt::tuple;
    tuple::set_length(&c, n);
    *out = c;
    return check_ok;
}

int32_t load_pair(std::string_view text, Cell* out) {
    size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos || text.find('.') != std::string_view::npos) return dt::pair;
    std::string_view a = text.substr(0, x), b = text.substr(x + 1);
    number_scan::IntegerScan i = number_scan::scan_integer(a.data(), a.size(), 1);
    number_scan::IntegerScan j = number_scan::scan_integer(b.data(), b.size(), 1);
    if (a.empty() || b.empty() || i.error != number_scan::ScanError::none || j.error != number_scan::ScanError::none) return dt::pair;
    pair::make_at(out, i.value, j.value);
    return check_ok;
}

int32_t load_point(std::string_view body, int32_t type, Cell* out) {
    float v[3] = {0, 0, 0};
    int32_t want = type == dt::point3D ? 3 : 2;
    size_t from = 0;
    for (int32_t i = 0; i < want; ++i) {
        int32_t fault = i == 2 ? dt::point3D : dt::point2D;
        size_t comma = body.find(',', from);
        if ((comma == std::string_view::npos) != (i == want - 1)) return fault;
        std::string_view field = body.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
        size_t first = field.find_first_not_of(" \t\r\n");
        size_t last = field.find_last_not_of(" \t\r\n");
        if (first == std::string_view::npos) return fault;
        // A coordinate may be an infinity or NaN, written as float! writes them.
        std::string_view text = field.substr(first, last - first + 1);
        number_scan::FloatScan f = number_scan::scan_float_or_special(text.data(), text.size(), 1);
        if (f.error != number_scan::ScanError::none) return fault;
        v[i] = static_cast<float>(f.value);
        from = comma + 1;
    }
    if (want == 3) point3D::make_at(out, v[0], v[1], v[2]);
    else point2D::make_at(out, v[0], v[1]);
    return check_ok;
}

int32_t load_time(std::string_view text, Cell* out) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    auto c = read_clock(text);
    if (!c) return dt::time;
    double seconds = c->hours * 3600 + c->minutes * 60 + c->seconds;
    if (!std::isfinite(seconds)) return dt::time;
    time::make_at(negative ? -seconds : seconds, out);
    return check_ok;
}

int32_t load_money(std::string_view text, Cell* out) {
    std::string copy(text);
    for (char& ch : copy)
        if (ch == ',') ch = '.';
    auto m = number_scan::scan_money(copy.data(), copy.size(), 1);
    if (!m) return dt::money;
    if (m->digits.size() - m->integer_digits > 5) return dt::money;
    size_t leading = 0;
    while (leading < m->integer_digits && m->digits[leading] == '0') ++leading;
    if (m->integer_digits - leading > 17) return dt::money;
    if (!money::from_digits(out, m->negative, m->currency_view(), m->digits, m->integer_digits)) return dt::money;
    return check_ok;
}

int32_t load_date(std::string_view text, Cell* out) {
    constexpr int32_t bad = dt::date;
    size_t pos = 0;
    int32_t year = 0, month = 0, day = 0;
    bool compact = false;
    Digits first = read_digits(text, &pos);
    if (first.count == 0 || pos == text.size()) return bad;
    char sep = text[pos];
    if (first.count == 8 && (sep == 'T' || sep == 't')) {
        compact = true;
        year = static_cast<int32_t>(first.value / 10000);
        month = static_cast<int32_t>(first.value / 100 % 100);
        day = static_cast<int32_t>(first.value % 100);
    } else {
        if (sep != '-' && sep != '/') return bad;
        ++pos;
        bool year_first = first.count > 2 || first.value > 31;
        // ISO week dates and ordinal dates follow a year and "-".
        if (year_first && sep == '-' && pos < text.size() && (text[pos] == 'W' || text[pos] == 'w')) {
            ++pos;
            Digits week = read_digits(text, &pos);
            int32_t weekday = 1;
            if (week.count == 0 || week.count > 2 || week.value < 1 || week.value > 53) return bad;
            if (pos < text.size() && text[pos] == '-') {
                ++pos;
                Digits d = read_digits(text, &pos);
                if (d.count != 1 || d.value < 1 || d.value > 7) return bad;
                weekday = static_cast<int32_t>(d.value);
            }
            if (first.value > 9999 || !date::make_at(out, static_cast<int32_t>(first.value), 1, 1, 0, 0, 0, false))
                return bad;
            date::set_week(out, static_cast<int32_t>(week.value));
            date::set_weekday(out, weekday);
            year = date::year(date::word_of(out));
            month = date::month(date::word_of(out));
            day = date::day(date::word_of(out));
        } else {
            size_t field_start = pos;
            Digits second = read_digits(text, &pos);
            if (second.count == 0) {
                while (pos < text.size() && ((text[pos] | 0x20) >= 'a' && (text[pos] | 0x20) <= 'z')) ++pos;
                month = month_of_name(text.substr(field_start, pos - field_start));
                if (!month) return bad;
            } else if (second.count > 2) {
                // yyyy-ddd: the day of the year
                if (!year_first || sep != '-' || second.count != 3 || (pos < text.size() && text[pos] == '-'))
                    return bad;
                int32_t length = date::leap_year_q(static_cast<int32_t>(first.value)) ? 366 : 365;
                if (second.value < 1 || second.value > length || first.value > 9999 ||
                    !date::make_at(out, static_cast<int32_t>(first.value), 1, 1, 0, 0, 0, false))
                    return bad;
                date::set_year_day(out, static_cast<int32_t>(second.value));
                year = date::year(date::word_of(out));
                month = date::month(date::word_of(out));
                day = date::day(date::word_of(out));
            } else {
                month = static_cast<int32_t>(second.value);
            }
            if (!day) {
                if (pos >= text.size() || text[pos] != sep) return bad;
                ++pos;
                bool negative = pos < text.size() && text[pos] == '-' && !year_first;
                if (negative) ++pos;
                Digits third = read_digits(text, &pos);
                if (third.count == 0) return bad;
                Digits y = year_first ? first : third;
                Digits d = year_first ? third : first;
                if (d.count > 2 || (year_first && negative)) return bad;
                year = static_cast<int32_t>(y.value > 99999 ? 99999 : y.value);
                if (y.count <= 2 && !negative) year += year > 49 ? 1900 : 2000;
                if (negative) year = -year;
                day = static_cast<int32_t>(d.value);
            }
        }
    }
    bool has_time = false;
    double time = 0;
    int32_t zone_h = 0, zone_m = 0;
    if (pos < text.size()) {
        char c = text[pos];
        if (c != '/' && c != 'T' && c != 't') return bad;
        if (!read_date_time(text.substr(pos + 1), compact, &time, &zone_h, &zone_m)) return bad;
        has_time = true;
    }
    if (year < -9999 || year > 9999 || month < 1 || month > 12) return bad;
    if (!date::make_at(out, year, month, day, time, zone_h, zone_m, has_time)) return bad;
    return check_ok;
}

}  // namespace zuv::lexer
