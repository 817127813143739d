// date!: day numbers, the block reader, zones, fields, arithmetic, comparison and text.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "datatypes/date.h"
#include "runtime/random.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class DateTest : public RuntimeTest {};

Cell dt(int32_t y, int32_t m, int32_t d, std::optional<double> time = std::nullopt, int32_t zone_hours = 0,
        int32_t zone_minutes = 0) {
    Cell c;
    EXPECT_TRUE(date::make_at(&c, y, m, d, time.value_or(0.0), zone_hours, zone_minutes, time.has_value()));
    return c;
}

Cell at_time(double seconds) { return number(seconds, Type::time); }
constexpr double hour = 3600.0;

Cell field(Cell d, int32_t n) { return *date::push_field(&d, n); }

}  // namespace

TEST_F(DateTest, MoldsWithTimeZoneAndPaddedYears) {
    struct Case {
        Cell value;
        const char* expected;
    } cases[] = {
        {dt(2026, 11, 7), "7-Nov-2026"},
        {dt(2026, 11, 7, 21 * hour + 3 * 60 + 32, 1), "7-Nov-2026/21:03:32+01:00"},
        {dt(2026, 11, 7, 21 * hour + 0.5, 0), "7-Nov-2026/21:00:00.5"},
        {dt(2026, 1, 1, 10 * hour, -3, 30), "1-Jan-2026/10:00:00-03:30"},
        {dt(99, 1, 1), "1-Jan-0099"},
        {dt(0, 1, 1), "1-Jan-0000"},
        {dt(999, 1, 1), "1-Jan-999"},
        {dt(-44, 3, 5), "5/Mar/-0044"},
        {dt(-1234, 3, 5), "5/Mar/-1234"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.value), c.expected);
        EXPECT_EQ(form(c.value), c.expected);
    }
}

TEST_F(DateTest, MakeAtRefusesWhatTheCellCannotHold) {
    Cell c;
    EXPECT_FALSE(date::make_at(&c, 16384, 1, 1, 0, 0, 0, false));
    EXPECT_FALSE(date::make_at(&c, -16385, 1, 1, 0, 0, 0, false));
    EXPECT_FALSE(date::make_at(&c, 2026, 13, 1, 0, 0, 0, false));
    EXPECT_FALSE(date::make_at(&c, 2026, 2, 29, 0, 0, 0, false));
    EXPECT_FALSE(date::make_at(&c, 2026, 1, 1, 0, 16, 0, true));
    EXPECT_FALSE(date::make_at(&c, 2026, 1, 1, 0, 1, 20, true));
    EXPECT_TRUE(date::make_at(&c, 2024, 2, 29, 0, 0, 0, false));
    EXPECT_TRUE(date::make_at(&c, -4, 2, 29, 0, 0, 0, false));  // year -4 is a leap year
    EXPECT_FALSE(date::make_at(&c, -3, 2, 29, 0, 0, 0, false));
}

TEST_F(DateTest, DayNumbersRoundTripAcrossTheWholeRange) {
    for (int32_t y = date::min_year; y <= date::max_year; y += 7) {
        for (int32_t m = 1; m <= 12; m += 5) {
            int32_t n = date::days_of(y, m, 28);
            uint32_t w = date::from_days(n, 0, false);
            ASSERT_EQ(date::year(w), y);
            ASSERT_EQ(date::month(w), m);
            ASSERT_EQ(date::day(w), 28);
        }
        // A year has 366 days exactly when it is a leap year, before year 0 too.
        ASSERT_EQ(date::days_of(y + 1, 1, 1) - date::days_of(y, 1, 1), date::leap_year_q(y) ? 366 : 365) << y;
    }
    EXPECT_EQ(date::days_of(0, 3, 1), 0);
    EXPECT_EQ(date::weekday_index(0), 2);  // 1 March of year 0 was a Wednesday
    EXPECT_EQ(raised([] { date::from_days(date::days_of(date::max_year, 12, 31) + 1, 0, false); }),
              error::id::script_type_limit);
}

TEST_F(DateTest, MakeReadsBlocksAndChecksThem) {
    struct Case {
        Cell spec;
        const char* make;  // null: refused by make
        const char* to;    // null: refused by to too
    } cases[] = {
        {block_of({integer(7), integer(11), integer(2026)}), "7-Nov-2026", "7-Nov-2026"},
        {block_of({integer(2026), integer(11), integer(7)}), "7-Nov-2026", "7-Nov-2026"},
        {block_of({integer(31), integer(2), integer(2026)}), nullptr, "3-Mar-2026"},
        {block_of({integer(1), integer(13), integer(2026)}), nullptr, "1-Jan-2027"},
        {block_of({integer(0), integer(3), integer(2024)}), nullptr, "29-Feb-2024"},
        {block_of({integer(1), integer(1), integer(2026), integer(10), integer(30), integer(0), integer(1), integer(0)}),
         "1-Jan-2026/10:30:00+01:00", "1-Jan-2026/10:30:00+01:00"},
        {block_of({integer(1), integer(1), integer(2026), integer(10), integer(30), number(15.5)}),
         "1-Jan-2026/10:30:15.5", "1-Jan-2026/10:30:15.5"},
        {block_of({integer(1), integer(1), integer(2026), at_time(10.5 * hour), at_time(-3.5 * hour)}),
         "1-Jan-2026/10:30:00-03:30", "1-Jan-2026/10:30:00-03:30"},
        {block_of({integer(1), integer(1), integer(2026), at_time(10 * hour), at_time(-0.5 * hour)}),
         "1-Jan-2026/10:00:00-00:30", "1-Jan-2026/10:00:00-00:30"},
        {block_of({integer(1), integer(1), integer(2026), at_time(10 * hour), integer(-5)}), "1-Jan-2026/10:00:00-05:00",
         "1-Jan-2026/10:00:00-05:00"},
        {block_of({integer(1), integer(1), integer(2026), integer(24), integer(0)}), nullptr, "2-Jan-2026/0:00:00"},
        {block_of({integer(1), integer(1), integer(2026), integer(10), integer(75)}), nullptr, "1-Jan-2026/11:15:00"},
        {block_of({integer(1), integer(1)}), nullptr, nullptr},
        {block_of({integer(1), integer(1), integer(20000)}), nullptr, nullptr},
        {block_of({integer(1), integer(1), integer(2026), none_cell}), nullptr, nullptr},
        {block_of({integer(1), integer(1), number(2026)}), nullptr, nullptr},
        {block_of({integer(1), integer(1), integer(2026), integer(1), integer(0), integer(0), integer(16), integer(0)}),
         nullptr, nullptr},
        {block_of({integer(1), integer(1), integer(2026), integer(1), integer(0), integer(0), integer(1), integer(20)}),
         nullptr, nullptr},
        {block_of({integer(1), integer(1), integer(2026), at_time(hour), at_time(hour), integer(1)}), nullptr, nullptr},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        for (bool to : {false, true}) {
            const char* expected = to ? c.to : c.make;
            std::optional<error::Id> id = raised([&] {
                Cell r = convert(Type::date, c.spec, to);
                EXPECT_EQ(mold(r), expected ? expected : "(refused)") << "row " << row << (to ? " to" : " make");
            });
            EXPECT_EQ(id, expected ? std::nullopt : std::optional(error::id::script_bad_to_arg))
                << "row " << row << (to ? " to" : " make");
        }
    }
    EXPECT_EQ(raised([] { convert(Type::date, integer(1), false); }), error::id::script_bad_to_arg);
}

TEST_F(DateTest, ToDateCountsSecondsSince1970) {
    EXPECT_EQ(mold(convert(Type::date, integer(0), true)), "1-Jan-1970/0:00:00");
    EXPECT_EQ(mold(convert(Type::date, integer(-1), true)), "31-Dec-1969/23:59:59");
    EXPECT_EQ(mold(convert(Type::date, integer(1767225600), true)), "1-Jan-2026/0:00:00");
    Cell d = convert(Type::date, integer(-86401), true);
    EXPECT_EQ(date::to_epoch(&d), -86401);
}

TEST_F(DateTest, TheDoubleIsTheTimeFromTheUtcMidnightOfTheLocalDate) {
    Cell d = dt(2026, 1, 1, 0.5 * hour, 1);
    EXPECT_EQ(date::time_of(&d), -1800.0);
    EXPECT_EQ(date::to_epoch(&d), 1767223800);  // 31-Dec-2025 23:30 UTC
    EXPECT_EQ(field(d, 6).float23(), 0.5 * hour);
}

TEST_F(DateTest, TimezoneKeepsTheInstantWhileZoneKeepsTheClock) {
    Cell a = dt(2026, 1, 1, 10 * hour, 0), b = a;
    int64_t instant = date::to_epoch(&a);
    Cell two = integer(2);
    date::set_field(&a, 12, &two);
    EXPECT_EQ(mold(a), "1-Jan-2026/12:00:00+02:00");
    EXPECT_EQ(date::to_epoch(&a), instant);
    date::set_field(&b, 5, &two);
    EXPECT_EQ(mold(b), "1-Jan-2026/10:00:00+02:00");
    EXPECT_EQ(date::to_epoch(&b), instant - 7200);

    Cell late = dt(2026, 1, 1, 23 * hour, 0);
    Cell minus_five = integer(-5);
    date::set_field(&late, 12, &minus_five);
    EXPECT_EQ(mold(late), "1-Jan-2026/18:00:00-05:00");
    Cell west = dt(2026, 1, 1, 1 * hour, 0);
    date::set_field(&west, 12, &minus_five);
    EXPECT_EQ(mold(west), "31-Dec-2025/20:00:00-05:00");
    EXPECT_EQ(raised([&] { date::set_field(&west, 12, &none_cell); }), error::id::script_invalid_arg);
}

TEST_F(DateTest, Arithmetic) {
    struct Case {
        Cell left, right;
        int action;
        const char* expected;
    } cases[] = {
        {dt(2026, 1, 2, 1 * hour, 0), dt(2026, 1, 1, 23 * hour, 0), slot::subtract, "0"},
        {dt(2026, 1, 2), dt(2026, 1, 1), slot::subtract, "1"},
        {dt(2026, 1, 1), dt(2026, 3, 1), slot::subtract, "-59"},
        {dt(2026, 1, 1), at_time(hour), slot::add, "1-Jan-2026/1:00:00"},
        {dt(2025, 12, 31), integer(1), slot::add, "1-Jan-2026"},
        {dt(2024, 3, 1), integer(1), slot::subtract, "29-Feb-2024"},
        {dt(2026, 1, 1, 23 * hour, -3, 30), at_time(hour), slot::add, "2-Jan-2026/0:00:00-03:30"},
        {dt(2026, 1, 1, 0.5 * hour, 1), at_time(-hour), slot::add, "31-Dec-2025/23:30:00+01:00"},
        {dt(2026, 1, 1, 1 * hour, 0), at_time(-25 * hour), slot::add, "31-Dec-2025/0:00:00"},
    };
    for (const Case& c : cases) {
        Cell r = binary(c.left, c.right, c.action);
        EXPECT_EQ(r.is(Type::integer) ? std::to_string(r.int2()) : mold(r), c.expected) << c.expected;
    }
    EXPECT_EQ(raised([] { binary(dt(2026, 1, 1), dt(2026, 1, 1), slot::add); }), error::id::script_not_related);
    EXPECT_EQ(raised([] { binary(dt(2026, 1, 1), number(1.0), slot::add); }), error::id::script_invalid_type);
    EXPECT_EQ(raised([] { binary(dt(16383, 12, 31), integer(1), slot::add); }), error::id::script_type_limit);
    EXPECT_EQ(raised([] { binary(dt(2026, 1, 1), at_time(1e300), slot::add); }), error::id::script_type_limit);

    Cell a = dt(2026, 1, 2, hour, 0), b = dt(2026, 1, 1);
    date::difference(&a, &b);
    EXPECT_TRUE(a.is(Type::time));
    EXPECT_EQ(a.float23(), 25 * hour);
}

TEST_F(DateTest, FieldsRead) {
    Cell d = dt(2026, 11, 7, 21 * hour + 3 * 60 + 32.5, 1);
    struct Case {
        int32_t field;
        int32_t expected;
    } cases[] = {
        {2, 2026}, {3, 11}, {4, 7}, {7, 21}, {8, 3}, {10, 6}, {11, 311}, {13, 45}, {14, 45},
    };
    for (const Case& c : cases) EXPECT_EQ(field(d, c.field).int2(), c.expected) << c.field;
    EXPECT_EQ(mold(field(d, 1)), "7-Nov-2026");
    EXPECT_EQ(field(d, 9).float23(), 32.5);
    EXPECT_EQ(field(d, 5).float23(), hour);
    EXPECT_EQ(field(d, 6).float23(), 21 * hour + 3 * 60 + 32.5);
    EXPECT_TRUE(field(dt(2026, 11, 7), 6).is(Type::none));
    EXPECT_TRUE(field(dt(2026, 11, 7), 5).is(Type::none));
    EXPECT_EQ(date::push_field(&d, 15), nullptr);
}

TEST_F(DateTest, IsoAndSundayWeeks) {
    struct Case {
        Cell date;
        int32_t iso, week;
    } cases[] = {
        {dt(2027, 1, 1), 53, 1},    // a Friday: the last week of 2026
        {dt(2022, 1, 1), 52, 1},    // a Saturday after a common year
        {dt(2021, 1, 1), 53, 1},    // a Friday after a leap year
        {dt(2024, 12, 31), 1, 53},  // a Tuesday in the week that starts 2025
        {dt(2025, 12, 29), 1, 53},
        {dt(2026, 1, 4), 1, 2},     // a Sunday starts the second Sunday week
        {dt(2026, 1, 3), 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(date::iso_week(c.date.data1), c.iso) << mold(c.date);
        EXPECT_EQ(field(c.date, 13).int2(), c.week) << mold(c.date);
    }
}

TEST_F(DateTest, FieldsWriteAndNormalise) {
    struct Case {
        Cell date;
        int32_t field;
        Cell value;
        const char* expected;
    } cases[] = {
        {dt(2026, 5, 31), 3, integer(13), "31-Jan-2027"},
        {dt(2026, 5, 31), 3, integer(0), "31-Dec-2025"},
        {dt(2026, 5, 31), 3, integer(-11), "31-Jan-2025"},
        {dt(2026, 5, 31), 3, integer(6), "1-Jul-2026"},
        {dt(2026, 3, 15), 4, integer(0), "28-Feb-2026"},
        {dt(2026, 3, 15), 4, integer(32), "1-Apr-2026"},
        {dt(2024, 2, 29), 2, integer(2023), "1-Mar-2023"},
        {dt(2026, 1, 1), 10, integer(7), "4-Jan-2026"},
        {dt(2026, 1, 1), 11, integer(365), "31-Dec-2026"},
        {dt(2026, 6, 1), 13, integer(1), "1-Jan-2026"},
        {dt(2026, 6, 1), 13, integer(2), "4-Jan-2026"},
        {dt(2026, 6, 1), 14, integer(1), "29-Dec-2025"},
        {dt(2026, 6, 1), 1, dt(2020, 2, 2, 5 * hour, 3), "2-Feb-2020"},
        {dt(2026, 6, 1, 5 * hour, 2), 1, dt(2020, 2, 2), "2-Feb-2020/5:00:00+02:00"},
        {dt(2026, 6, 1), 6, at_time(10 * hour), "1-Jun-2026/10:00:00"},
        {dt(2026, 6, 1, 10 * hour, 2), 6, none_cell, "1-Jun-2026"},
        {dt(2026, 6, 1, 10 * hour, 2), 7, integer(23), "1-Jun-2026/23:00:00+02:00"},
        {dt(2026, 6, 1, 10 * hour, 0), 8, integer(45), "1-Jun-2026/10:45:00"},
        {dt(2026, 6, 1, 10 * hour, 0), 9, number(7.25), "1-Jun-2026/10:00:07.25"},
        {dt(2026, 6, 1), 7, integer(25), "2-Jun-2026/1:00:00"},
    };
    for (const Case& c : cases) {
        Cell d = c.date;
        date::set_field(&d, c.field, &c.value);
        EXPECT_EQ(mold(d), c.expected) << c.field;
    }
    struct Bad {
        int32_t field;
        Cell value;
        error::Id id;
    } bad[] = {
        {2, number(2026), error::id::script_invalid_arg}, {1, integer(1), error::id::script_invalid_arg},
        {6, integer(1), error::id::script_invalid_arg},   {7, number(1.5), error::id::script_invalid_arg},
        {2, integer(16384), error::id::script_type_limit}, {4, integer(2147483647), error::id::script_type_limit},
        {3, integer(-2147483647 - 1), error::id::script_type_limit},
    };
    for (const Bad& b : bad) {
        Cell d = dt(2026, 1, 1);
        EXPECT_EQ(raised([&] { date::set_field(&d, b.field, &b.value); }), b.id) << b.field;
    }
}

TEST_F(DateTest, CompareByInstant) {
    using namespace actions::op;
    EXPECT_EQ(order(dt(2026, 1, 1), dt(2026, 1, 1, 0.0, 0), equal), 0);
    EXPECT_EQ(order(dt(2026, 1, 1), dt(2026, 1, 2), lesser), -1);
    EXPECT_EQ(order(dt(2026, 1, 1, hour, 0), dt(2026, 1, 1, 2 * hour, 0), lesser), -1);
    // One instant written in two zones, on two different local days.
    Cell east = dt(2026, 1, 1, 0.5 * hour, 1), utc = dt(2025, 12, 31, 23.5 * hour, 0);
    EXPECT_EQ(order(east, utc, equal), 0);
    EXPECT_EQ(order(east, utc, same), 1);
    EXPECT_EQ(order(east, dt(2025, 12, 31, 23.75 * hour, 0), lesser), -1);
    EXPECT_EQ(order(dt(2026, 1, 1), integer(1), equal), -2);
}

TEST_F(DateTest, PickAndPaths) {
    Cell d = dt(2026, 11, 7);
    Cell index = integer(2);
    EXPECT_EQ(action<slotfn::Pick>(Type::date, slot::pick)(&d, 2, &index)->int2(), 2026);
    index = integer(15);
    EXPECT_EQ(raised([&] { action<slotfn::Pick>(Type::date, slot::pick)(&d, 15, &index); }),
              error::id::script_out_of_range);
    auto path = action<slotfn::EvalPath>(Type::date, slot::eval_path);
    Cell element = integer(3), twelve = integer(12);
    EXPECT_EQ(path(&d, &element, nullptr, false, nullptr, nullptr, 1, true, false)->int2(), 11);
    path(&d, &element, &twelve, false, nullptr, nullptr, 1, true, false);
    EXPECT_EQ(mold(d), "7-Dec-2026");
    element = integer(0);
    EXPECT_EQ(raised([&] { path(&d, &element, nullptr, false, nullptr, nullptr, 1, true, false); }),
              error::id::script_invalid_path);
}

TEST_F(DateTest, RandomStaysWithinTheDate) {
    random::seed(7);
    Cell limit = dt(2026, 1, 1, 10 * hour, 0);
    for (int i = 0; i < 50; ++i) {
        Cell d = limit;
        action<slotfn::Random>(Type::date, slot::random)(&d, false, false, false);
        ASSERT_LE(date::to_days(d.data1), date::to_days(limit.data1));
        ASSERT_TRUE(date::has_time(d.data1));
        double local = date::to_local_time(date::time_of(&d), date::zone_bits(d.data1));
        ASSERT_GE(local, 0.0);
        ASSERT_LT(local, 86400.0);
    }
}
