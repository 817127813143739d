// Double <-> decimal text: special texts, digit generation, layout, reading, round trips.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datatypes/float-text.h"

using namespace zuv;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

uint64_t bits_of(double x) { return std::bit_cast<uint64_t>(x); }
double from_bits(uint64_t b) { return std::bit_cast<double>(b); }

float_text::Parsed read(const std::string& s, int32_t adjust = 0) {
    return float_text::to_float(s.data(), s.data() + s.size(), adjust);
}

// Decimal digits of base^exp, for exact midpoints between doubles.
std::string times_small(const std::string& digits, uint64_t factor) {
    std::string out(digits.size(), '0');
    uint64_t carry = 0;
    for (std::size_t i = digits.size(); i-- > 0;) {
        const uint64_t v = static_cast<uint64_t>(digits[i] - '0') * factor + carry;
        out[i] = static_cast<char>('0' + v % 10);
        carry = v / 10;
    }
    while (carry) {
        out.insert(out.begin(), static_cast<char>('0' + carry % 10));
        carry /= 10;
    }
    return out;
}

std::string power_digits(uint64_t base, int exp) {
    std::string d = "1";
    for (int i = 0; i < exp; ++i) d = times_small(d, base);
    return d;
}

std::string minus_one(std::string d) {  // d must not end in 0
    EXPECT_NE(d.back(), '0');
    --d.back();
    return d;
}

// Finite doubles that stress digit generation: subnormal ends, normal ends, powers of two
// and ten, integers around 2^53 and neighbours of each.
std::vector<double> edge_doubles() {
    std::vector<double> v = {
        from_bits(1),                      // 5e-324
        from_bits(2),
        from_bits(0x000FFFFFFFFFFFFFull),  // largest subnormal
        DBL_MIN,
        DBL_MAX,
        DBL_EPSILON,
        0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0, 0.7 + 0.1, 0.1 + 0.2,
        9007199254740992.0, 9007199254740994.0, 9007199254740991.0,
        123456789012345.0, 999999999999999.0, 1e15, 1e16, 1e17, 1e22, 1e23,
        5e-324 * 3, 2.2250738585072009e-308, 1.7976931348623155e308,
        4.9406564584124654e-324, 9.5e-5, 59.9999999,
    };
    for (int e = -1074; e <= 1023; e += 7) v.push_back(std::ldexp(1.0, e));
    for (int e = -320; e <= 308; e += 3) v.push_back(std::pow(10.0, e));
    const std::size_t n = v.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (v[i] < DBL_MAX) v.push_back(std::nextafter(v[i], inf));
        if (v[i] > from_bits(1)) v.push_back(std::nextafter(v[i], 0.0));
    }
    return v;
}

std::vector<double> random_doubles(std::size_t count) {
    std::mt19937_64 gen(20240611);
    std::vector<double> v;
    while (v.size() < count) {
        const double x = from_bits(gen());
        if (std::isfinite(x)) v.push_back(x);
    }
    // Random patterns seldom hit subnormals; add some on purpose.
    for (std::size_t i = 0; i < count / 10; ++i) v.push_back(from_bits(gen() & 0x800FFFFFFFFFFFFFull));
    return v;
}

}  // namespace

TEST(FloatTextDtoa, SpecialsAndZero) {
    struct Case {
        double x;
        bool zero_text;
        const char* text;
        int exponent;
        bool negative;
    };
    const Case cases[] = {
        {inf, false, "1.#INF", 9999, false},
        {-inf, true, "-1.#INF", 9999, true},
        {std::numeric_limits<double>::quiet_NaN(), false, "1.#NaN", 9999, false},
        {-std::numeric_limits<double>::quiet_NaN(), false, "1.#NaN", 9999, false},
        {from_bits(0x7FF0000000000001ull), false, "1.#NaN", 9999, false},  // signalling
        {0.0, false, "0", 9998, false},
        {-0.0, false, "-0", 9998, true},
        {0.0, true, "0.0", 9998, false},
        {-0.0, true, "-0.0", 9998, true},
    };
    for (const Case& c : cases) {
        for (int n : {0, 6}) {
            const auto d = float_text::dtoa(c.x, n, c.zero_text);
            EXPECT_EQ(d.view(), c.text) << c.x;
            EXPECT_EQ(d.exponent, c.exponent) << c.x;
            EXPECT_EQ(d.negative, c.negative) << c.x;
            EXPECT_EQ(std::strlen(d.chars), d.view().size());
        }
    }
}

TEST(FloatTextDtoa, Digits) {
    struct Case {
        double x;
        int n;
        const char* digits;
        int exponent;
    };
    const Case cases[] = {
        {0.1, 0, "1", 0},
        {12.5, 0, "125", 2},
        {-12.5, 0, "125", 2},
        {100.0, 0, "1", 3},
        {123456789012345.0, 0, "123456789012345", 15},
        {0.1 + 0.2, 0, "30000000000000004", 0},
        {1e23, 0, "1", 24},
        {5e-324, 0, "5", -323},
        {DBL_MAX, 0, "17976931348623157", 309},
        {0.000123, 0, "123", -3},
        // n digits, rounded on the exact binary value, ties to even.
        {2.5, 1, "2", 1},
        {3.5, 1, "4", 1},
        {0.125, 2, "12", 0},
        {0.375, 2, "38", 0},
        {1.0 / 3.0, 5, "33333", 0},
        {2.0 / 3.0, 5, "66667", 0},
        {9.99, 2, "1", 2},
        {0.9999, 3, "1", 1},
        {59.9999999, 6, "6", 2},
        {12.3456789, 6, "123457", 2},
        {0.1, 16, "1", 0},
        {0.1, 17, "10000000000000001", 0},
        {0.1, 20, "10000000000000000555", 0},
        {0.1, 25, "1000000000000000055511151", 0},
        {0.1, 1000, "1000000000000000055511151231257827021182", 0},  // capped at 40 digits
        {1.0, 30, "1", 1},
        {5e-324, 3, "494", -323},
    };
    for (const Case& c : cases) {
        const auto d = float_text::dtoa(c.x, c.n, false);
        EXPECT_EQ(d.view(), c.digits) << c.x << " n=" << c.n;
        EXPECT_EQ(d.exponent, c.exponent) << c.x << " n=" << c.n;
        EXPECT_EQ(d.negative, std::signbit(c.x)) << c.x;
    }
}

// n-digit results agree with the C library's exact "%.*e" on many values and every n.
TEST(FloatTextDtoa, NDigitsMatchExactPrintf) {
    std::vector<double> values = edge_doubles();
    const std::vector<double> more = random_doubles(3000);
    values.insert(values.end(), more.begin(), more.end());
    char buf[128];
    for (double x : values) {
        if (x == 0.0) continue;
        for (int n = 1; n <= 24; n += (n < 18 ? 1 : 3)) {
            std::snprintf(buf, sizeof buf, "%.*e", n - 1, std::fabs(x));
            std::string digits;
            const char* p = buf;
            for (; *p != 'e'; ++p)
                if (*p != '.') digits += *p;
            const int exp10 = std::atoi(p + 1);
            while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
            const auto d = float_text::dtoa(x, n, false);
            ASSERT_EQ(d.view(), digits) << x << " n=" << n;
            ASSERT_EQ(d.exponent, exp10 + 1) << x << " n=" << n;
        }
    }
}

TEST(FloatTextForm, Layout) {
    struct Case {
        double x;
        int n;
        bool dot_zero;
        const char* text;
    };
    const Case cases[] = {
        {0.1, 0, true, "0.1"},
        {1.0, 0, true, "1.0"},
        {100.0, 0, true, "100.0"},
        {1e17, 0, true, "1.0e17"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {5e-324, 0, true, "5.0e-324"},
        {DBL_MAX, 0, true, "1.7976931348623157e308"},
        {-DBL_MAX, 0, true, "-1.7976931348623157e308"},
        {1e20, 0, true, "1.0e20"},
        {1e20, 0, false, "1e20"},
        {1.5e-7, 0, true, "0.00000015"},
        {1.5e-8, 0, true, "1.5e-8"},
        {1.5e300, 0, false, "1.5e300"},
        {123456789012345678.0, 0, true, "1.2345678901234568e17"},
        {12345678901234567.0, 0, true, "12345678901234568.0"},
        {12.5, 0, true, "12.5"},
        {-12.5, 0, false, "-12.5"},
        {0.000123, 0, true, "0.000123"},
        {1000.0, 0, false, "1000"},
        {-1.5, 0, true, "-1.5"},
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 6, false, "0"},
        {-0.0, 0, false, "-0"},
        {inf, 0, true, "1.#INF"},
        {-inf, 0, false, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
        // time! seconds: six digits, no ".0"
        {12.3456789, 6, false, "12.3457"},
        {59.9999999, 6, false, "60"},
        {0.5, 6, false, "0.5"},
        {3.0, 6, false, "3"},
        {1e-6, 6, false, "0.000001"},
        // long n keeps the layout rules
        {0.1, 40, false, "0.1000000000000000055511151231257827021182"},
        {-1e-6 / 3.0, 40, false, "-0.0000003333333333333333006028508741641624979479"},
        {-1e-7 / 3.0, 40, false, "-3.333333333333333403075202767094908917755e-8"},
    };
    for (const Case& c : cases) {
        const auto t = float_text::form_shortest(c.x, c.n, c.dot_zero);
        EXPECT_EQ(t.view(), c.text) << c.x << " n=" << c.n;
        EXPECT_EQ(std::strlen(t.c_str()), t.view().size());
    }
}

TEST(FloatTextRead, Table) {
    struct Case {
        const char* text;
        double value;
        std::size_t unread;
    };
    const Case cases[] = {
        {"1.5", 1.5, 0},
        {"+12", 12.0, 0},
        {"-0", -0.0, 0},
        {"000", 0.0, 0},
        {"-000.000", -0.0, 0},
        {"007", 7.0, 0},
        {".5", 0.5, 0},
        {"5.", 5.0, 0},
        {"1e3", 1000.0, 0},
        {"1E-3", 0.001, 0},
        {"2.5e+2", 250.0, 0},
        {"0.000001e6", 1.0, 0},
        {"0.1", 0.1, 0},
        {"0.30000000000000004", 0.1 + 0.2, 0},
        {"1.7976931348623157e308", DBL_MAX, 0},
        {"5e-324", 5e-324, 0},
        {"123456789012345678901234567890", 1.2345678901234568e29, 0},
        // where reading stops
        {"1e", 1.0, 1},
        {"1e+", 1.0, 2},
        {"1e-x", 1.0, 3},
        {"12abc", 12.0, 3},
        {"1.5.2", 1.5, 2},
        {"1,5", 1.0, 2},
        {" 1", 0.0, 2},
        {"", 0.0, 0},
        {"abc", 0.0, 3},
        {".", 0.0, 1},
        {"e5", 0.0, 2},
        {"-", -0.0, 1},
        {"1.#", 1.0, 1},
        {"0.#INF", 0.0, 4},
        // the texts of non-finite values
        {"1.#INF", inf, 0},
        {"-1.#INF", -inf, 0},
        {"+7.#inf", inf, 0},
        {"9.#Ixy", inf, 2},
        {"-2.#I", -inf, 0},
        // out of range
        {"1e400", inf, 0},
        {"-1e400", -inf, 0},
        {"1e-400", 0.0, 0},
        {"-1e-400", -0.0, 0},
        {"1e99999999999999999999", inf, 0},
        {"0e99999999999999999999", 0.0, 0},
        {"1.7976931348623159e308", inf, 0},
        {"2.4703282292062328e-324", 5e-324, 0},
        {"2.4703282292062327e-324", 0.0, 0},
    };
    for (const Case& c : cases) {
        const auto r = read(c.text);
        EXPECT_EQ(bits_of(r.value), bits_of(c.value)) << '"' << c.text << "\" gave " << r.value;
        EXPECT_EQ(r.unread, c.unread) << '"' << c.text << '"';
    }
    for (const char* nan_text : {"1.#NaN", "-1.#NaN", "3.#nan", "1.#N"}) {
        const auto r = read(nan_text);
        EXPECT_TRUE(std::isnan(r.value)) << nan_text;
        EXPECT_FALSE(std::signbit(r.value)) << nan_text;
    }
}

TEST(FloatTextRead, ExponentAdjustAndLength) {
    EXPECT_EQ(read("150", -2).value, 1.5);
    EXPECT_EQ(read("12.5", -2).value, 0.125);
    EXPECT_EQ(read("1", 2).value, 100.0);
    EXPECT_EQ(read("1e308", 1).value, inf);
    EXPECT_EQ(read("0", 400).value, 0.0);
    EXPECT_EQ(read("1.#INF", -2).value, inf);
    const char text[] = "12.75xyz";
    const auto r = float_text::to_float_len(text, 5);
    EXPECT_EQ(r.value, 12.75);
    EXPECT_EQ(r.unread, 0u);
}

// Texts far longer than a double's precision are still rounded on their exact value.
TEST(FloatTextRead, LongTextsRoundCorrectly) {
    const std::string zeros(800, '0');
    // 2^53 + 1 is halfway between 2^53 and 2^53 + 2: ties go to the even 2^53.
    EXPECT_EQ(read("9007199254740993").value, 9007199254740992.0);
    EXPECT_EQ(read("9007199254740993.0000000000000000000000000000001").value, 9007199254740994.0);
    EXPECT_EQ(read("9007199254740992.9999999999999999999999999999999999").value, 9007199254740992.0);
    EXPECT_EQ(read("9007199254740993." + zeros + "1").value, 9007199254740994.0);
    EXPECT_EQ(read("9007199254740993." + zeros).value, 9007199254740992.0);

    // 1 + 2^-53, halfway between 1 and the next double.
    std::string fraction = power_digits(5, 53);
    fraction.insert(0, 53 - fraction.size(), '0');
    const std::string one_half_ulp = "1." + fraction;
    ASSERT_EQ(one_half_ulp, "1.00000000000000011102230246251565404236316680908203125");
    EXPECT_EQ(read(one_half_ulp).value, 1.0);
    EXPECT_EQ(read(one_half_ulp + zeros + "1").value, std::nextafter(1.0, 2.0));
    EXPECT_EQ(read(one_half_ulp.substr(0, one_half_ulp.size() - 1) + "4" + std::string(900, '9')).value, 1.0);

    // 2^-1075, halfway between 0 and the least subnormal (758 significant digits).
    const std::string tiny = power_digits(5, 1075);
    EXPECT_EQ(bits_of(read(tiny + "e-1075").value), 0u);
    EXPECT_EQ(bits_of(read(minus_one(tiny) + "e-1075").value), 0u);
    EXPECT_EQ(bits_of(read(tiny + "1e-1076").value), 1u);
    EXPECT_EQ(bits_of(read(tiny + zeros + "1e-1876").value), 1u);
    EXPECT_EQ(bits_of(read("-" + tiny + zeros + "1e-1876").value), 0x8000000000000001ull);

    // 2^1024 - 2^970, halfway between the largest double and 2^1024: ties to even, so up.
    const std::string top = times_small(power_digits(2, 970), (uint64_t{1} << 54) - 1);
    EXPECT_EQ(read(top).value, inf);
    EXPECT_EQ(read(minus_one(top)).value, DBL_MAX);
    EXPECT_EQ(read(minus_one(top) + "." + std::string(900, '9')).value, DBL_MAX);

    // Leading fraction zeros only move the exponent; they never crowd out digits.
    EXPECT_EQ(read("0." + std::string(299, '0') + "1e300").value, 1.0);
    EXPECT_EQ(read("0." + std::string(1000, '0') + "1").value, 0.0);
}

// Every finite double survives shortest text and reading back bit for bit, and the
// shortest digits really are shortest: one digit fewer no longer reads back.
TEST(FloatTextRoundTrip, ShortestBitForBit) {
    std::vector<double> values = edge_doubles();
    const std::vector<double> more = random_doubles(20000);
    values.insert(values.end(), more.begin(), more.end());
    for (double x : values) {
        for (bool dot_zero : {false, true}) {
            const auto t = float_text::form_shortest(x, 0, dot_zero);
            const auto r = float_text::to_float_len(t.chars, t.view().size());
            ASSERT_EQ(r.unread, 0u) << t.view();
            ASSERT_EQ(bits_of(r.value), bits_of(x)) << t.view();
        }
        const auto d = float_text::dtoa(x, 0, false);
        ASSERT_LE(d.count, 17);
        if (x != 0.0 && d.count > 1) {
            const auto shorter = float_text::form_shortest(x, d.count - 1, false);
            EXPECT_NE(bits_of(read(std::string(shorter.view())).value), bits_of(x)) << x;
        }
        const auto seventeen = float_text::form_shortest(x, 17, true);
        ASSERT_EQ(bits_of(read(std::string(seventeen.view())).value), bits_of(x)) << seventeen.view();
    }
    for (double x : {inf, -inf}) {
        const auto t = float_text::form_shortest(x, 0, true);
        EXPECT_EQ(read(std::string(t.view())).value, x);
    }
    EXPECT_TRUE(std::isnan(read(std::string(float_text::form_shortest(NAN, 0, true).view())).value));
}
