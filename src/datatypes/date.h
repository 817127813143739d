// date!: a proleptic Gregorian date with an optional time of day and zone. Data word 1 is
// the DateWord (year in bits 17-31, signed; has-time bit 16; month 12-15; day 7-11; zone
// sign 6, hours 2-5, quarter hours 0-1); words 2-3 the time as a double. The DateWord
// holds the LOCAL date while the double is the time from that date's UTC midnight, so the
// instant is days x 86400 + time and local time is time + zone offset.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"

namespace zuv::date {

namespace bits {
constexpr uint32_t has_time = 0x10000;
constexpr uint32_t zone = 0x7F;
constexpr uint32_t zone_sign = 0x40;
}  // namespace bits

// The years a DateWord holds.
constexpr int32_t min_year = -16384, max_year = 16383;

// The data words: the DateWord, and the time (words 2-3).
inline uint32_t word_of(const Cell* c) { return c->data1; }
inline void set_word(Cell* c, uint32_t w) { c->data1 = w; }

inline int32_t year(uint32_t w) { return static_cast<int32_t>(w) >> 17; }
inline int32_t month(uint32_t w) { return static_cast<int32_t>((w >> 12) & 0xF); }
inline int32_t day(uint32_t w) { return static_cast<int32_t>((w >> 7) & 0x1F); }
inline bool has_time(uint32_t w) { return w & bits::has_time; }
inline uint32_t zone_bits(uint32_t w) { return w & bits::zone; }
inline double time_of(const Cell* c) { return c->float23(); }
// The zone offset in seconds (negative west of UTC).
int32_t zone_seconds(uint32_t zone);

// A date from the lexer: the time is local and stored less the zone offset, without
// folding days. False (and the cell untouched) for a year, month, day or zone the
// representation cannot hold: zone hours above 15 or minutes not a multiple of 15. Negative
// zone minutes make the zone negative (for -0:30).
bool make_at(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
             int32_t zone_minutes, bool has_time);
// A UTC date and time from its parts (file times); false as for make_at.
bool from_parts(Cell* c, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
                int32_t nanoseconds);
Cell* make_in(Cell* block, uint32_t word, uint32_t time_low, uint32_t time_high);
Cell* push(uint32_t word, double time);

// Fields 1-14: date, year, month, day, zone, time, hour, minute, second, weekday, yearday
// (julian), timezone, week, isoweek. push_field pushes a field's value (nothing for
// another number); field_index maps a field word to its number, -1 when unknown.
Cell* push_field(Cell* date, int32_t field);
int32_t field_index(const Cell* word);
// Sets a field as a path set does (the value's type is checked: script/invalid-arg).
void set_field(Cell* date, int32_t field, const Cell* value);

bool leap_year_q(int32_t year);
// Day numbers count from 1 March of year 0 (day 0, a Wednesday).
int32_t to_days(uint32_t w);
int32_t days_of(int32_t year, int32_t month, int32_t day);
// The DateWord of a day number; a year off the representation raises script/type-limit.
uint32_t from_days(int64_t n, uint32_t zone, bool has_time);
int32_t jan1_days(uint32_t w);
int32_t year_day(uint32_t w);
// Monday 0 ... Sunday 6.
int32_t weekday_index(int64_t days);
// The day number of the Monday starting ISO week 1 of the date's year; weekday gets the
// weekday of 1 January (1 Monday ... 7 Sunday).
int32_t iso_week1_start(uint32_t w, int32_t* weekday);
int32_t iso_week(uint32_t w);

// Calendar setters; the zone and has-time are kept.
void set_week(Cell* c, int32_t week);
void set_weekday(Cell* c, int32_t weekday);
void set_year_day(Cell* c, int32_t n);
void set_month(Cell* c, int32_t m);

double to_local_time(double t, uint32_t zone);
double to_utc_time(double t, uint32_t zone);
// Folds whole days of t into the day number so that local time lies in [0, 86400).
int64_t normalize_time(int64_t days, double* t, uint32_t zone);
// Stores a time (from local time with the flag), folding days into the date.
void set_time(Cell* c, double t, bool local);
// A zone from an integer! (hours) or time!; keep_instant moves the local clock and keeps
// the instant, else the clock stays and the instant moves. Other values: script/invalid-arg.
void set_zone(Cell* c, const Cell* value, bool keep_instant);
// a becomes the time! from b to a.
void difference(Cell* a, const Cell* b);
// Seconds since 1970 in UTC.
int64_t to_epoch(const Cell* c);
// The date in left plus or minus an integer! (days), a time! or (subtracting) a date!,
// in place in left; a date minus a date gives an integer! of days.
Cell* add_or_subtract(Cell* left, Cell* right, bool subtract);

void init();

}  // namespace zuv::date
