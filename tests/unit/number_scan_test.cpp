// The lexer's number scanners over 1-, 2- and 4-byte units, and the float syntax automaton.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/number-scan.h"

using namespace zuv;
using number_scan::ScanError;

namespace {

// A text held as units of the given size, placed one byte off alignment so that a scanner
// reading wide units through a cast pointer would trip the sanitizer.
struct Units {
    std::vector<unsigned char> bytes;
    std::size_t count;
    int unit;

    Units(const std::u32string& text, int unit_size) : count(text.size()), unit(unit_size) {
        bytes.resize(1 + text.size() * unit_size);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const uint32_t c = text[i];
            std::memcpy(bytes.data() + 1 + i * unit_size, &c, unit_size);  // little-endian host
        }
    }
    const void* data() const { return bytes.data() + 1; }
};

std::u32string wide(const std::string& ascii) { return std::u32string(ascii.begin(), ascii.end()); }

number_scan::IntegerScan scan_int(const std::string& s, int unit = 1) {
    const Units u(wide(s), unit);
    return number_scan::scan_integer(u.data(), u.count, unit);
}

number_scan::FloatScan scan_flt(const std::string& s, int unit = 1) {
    const Units u(wide(s), unit);
    return number_scan::scan_float(u.data(), u.count, unit);
}

std::optional<number_scan::MoneyText> scan_mny(const std::string& s, int unit = 1) {
    const Units u(wide(s), unit);
    return number_scan::scan_money(u.data(), u.count, unit);
}

}  // namespace

TEST(ScanInteger, Table) {
    struct Case {
        const char* text;
        int32_t value;
        ScanError error;
    };
    const Case cases[] = {
        {"12", 12, ScanError::none},
        {"+12", 12, ScanError::none},
        {"-12", -12, ScanError::none},
        {"0", 0, ScanError::none},
        {"-0", 0, ScanError::none},
        {"1'000", 1000, ScanError::none},
        {"+'5", 5, ScanError::none},
        {"1''0'", 10, ScanError::none},
        {"2147483647", INT32_MAX, ScanError::none},
        {"-2147483648", INT32_MIN, ScanError::none},
        {"-2'147'483'648", INT32_MIN, ScanError::none},
        {"00000000000000000042", 42, ScanError::none},
        {"-000000000002147483648", INT32_MIN, ScanError::none},
        {"2147483648", 0, ScanError::overflow},
        {"-2147483649", 0, ScanError::overflow},
        {"4294967296", 0, ScanError::overflow},
        {"99999999999", 0, ScanError::overflow},
        {"12a", 0, ScanError::not_a_number},
        {"99999999999a", 0, ScanError::not_a_number},
        {"", 0, ScanError::not_a_number},
        {"-", 0, ScanError::not_a_number},
        {"'", 0, ScanError::not_a_number},
        {"'-1", 0, ScanError::not_a_number},
        {"--1", 0, ScanError::not_a_number},
        {" 1", 0, ScanError::not_a_number},
        {"1 ", 0, ScanError::not_a_number},
        {"1.0", 0, ScanError::not_a_number},
        {"0x10", 0, ScanError::not_a_number},
    };
    for (const Case& c : cases) {
        for (int unit : {1, 2, 4}) {
            const auto r = scan_int(c.text, unit);
            EXPECT_EQ(r.error, c.error) << '"' << c.text << "\" unit " << unit;
            EXPECT_EQ(r.value, c.value) << '"' << c.text << "\" unit " << unit;
        }
    }
}

// A wide unit whose low byte is an ASCII digit is not that digit.
TEST(ScanInteger, WideUnitsAreNotNarrowed) {
    const Units two(U"1\u0132", 2);  // low byte 0x32 = '2'
    EXPECT_EQ(number_scan::scan_integer(two.data(), two.count, 2).error, ScanError::not_a_number);
    const Units four(U"1\U00010033", 4);
    EXPECT_EQ(number_scan::scan_integer(four.data(), four.count, 4).error, ScanError::not_a_number);
}

TEST(FloatSyntax, Language) {
    const char* accepted[] = {
        "1", "+1", "-1.5", "1.", ".5", "-.5", "1.5e10", "1e-5", "1E+5", "1'000.5",
        "1'2'3", "1.e5", "-.5e3", "007", "0.000",
    };
    const char* refused[] = {
        "", "+", "-", ".", "+.", "e5", ".e5", "1e", "1e+", "1e-", "'1", "1'", "1''0", "-'1",
        "1'.5", "1.'5", "1.5'0", "1e5'0", "1..5", "1.5.", "1.5.2", "1e5.0", "1e1e1", "++1",
        "+-1", "1,5", "1x", "1.#INF", " 1", "1 ", "1e+-5", "1-",
    };
    for (const char* t : accepted) EXPECT_TRUE(number_scan::float_syntax_q(t, std::strlen(t))) << t;
    for (const char* t : refused) EXPECT_FALSE(number_scan::float_syntax_q(t, std::strlen(t))) << t;
    // The length is the caller's: bytes past it are not looked at, NULs within are refused.
    EXPECT_TRUE(number_scan::float_syntax_q("12x", 2));
    EXPECT_FALSE(number_scan::float_syntax_q("1\0002", 3));
    const std::string longest(312, '1');
    EXPECT_TRUE(number_scan::float_syntax_q(longest.data(), 312));
    EXPECT_FALSE(number_scan::float_syntax_q((longest + "1").data(), 313));
}

TEST(ScanFloat, Table) {
    struct Case {
        const char* text;
        double value;
    };
    const Case good[] = {
        {"1.5", 1.5},     {"1,5", 1.5},   {"-1e3", -1000.0}, {"0.1", 0.1},   {"1'000.25", 1000.25},
        {".5", 0.5},      {"5.", 5.0},    {"+2,5e-1", 0.25}, {"-0", -0.0},   {"1e400", HUGE_VAL},
        {"1e-400", 0.0},  {"007", 7.0},
    };
    for (const Case& c : good) {
        for (int unit : {1, 2, 4}) {
            const auto r = scan_flt(c.text, unit);
            EXPECT_EQ(r.error, ScanError::none) << c.text << " unit " << unit;
            EXPECT_EQ(std::bit_cast<uint64_t>(r.value), std::bit_cast<uint64_t>(c.value)) << c.text;
        }
    }
    const char* bad[] = {"", "abc", "1.#INF", "1..5", "1,,5", "1.5,2", "1''0", "1e", "1 "};
    for (const char* t : bad) {
        for (int unit : {1, 2, 4}) {
            const auto r = scan_flt(t, unit);
            EXPECT_EQ(r.error, ScanError::not_a_number) << t << " unit " << unit;
            EXPECT_TRUE(std::isnan(r.value)) << t;
        }
    }
}

TEST(ScanFloat, LengthLimitAndWideUnits) {
    const std::string longest = std::string(311, '0') + "1";
    EXPECT_EQ(scan_flt(longest).value, 1.0);
    EXPECT_EQ(scan_flt(longest, 2).value, 1.0);
    EXPECT_EQ(scan_flt("0" + longest).error, ScanError::not_a_number);
    EXPECT_EQ(scan_flt(std::string(100000, '1')).error, ScanError::not_a_number);
    // Separators count toward the limit: they are removed only after the check.
    EXPECT_EQ(scan_flt("1'" + std::string(305, '0') + "e-305").value, 1.0);
    EXPECT_EQ(scan_flt("1'" + std::string(306, '0') + "e-306").error, ScanError::not_a_number);

    const Units dot(U"1\u012E5", 2);  // low byte 0x2E = '.'
    EXPECT_EQ(number_scan::scan_float(dot.data(), dot.count, 2).error, ScanError::not_a_number);
    const Units digit(U"1\U00010035", 4);
    EXPECT_EQ(number_scan::scan_float(digit.data(), digit.count, 4).error, ScanError::not_a_number);
}

TEST(ScanMoney, Accepted) {
    struct Case {
        const char* text;
        bool negative;
        const char* currency;
        const char* digits;
        std::size_t integer_digits;
        bool has_point;
    };
    const Case cases[] = {
        {"$1", false, "", "1", 1, false},
        {"-$5", true, "", "5", 1, false},
        {"+$5", false, "", "5", 1, false},
        {"EUR$1.50", false, "EUR", "150", 1, true},
        {"-usd$1'000.12345", true, "usd", "100012345", 4, true},
        {"$1'000'000", false, "", "1000000", 7, false},
        {"$0001", false, "", "0001", 4, false},
        {"$1.123456", false, "", "1123456", 1, true},
        {"USD$0.5", false, "USD", "05", 1, true},
    };
    for (const Case& c : cases) {
        for (int unit : {1, 2, 4}) {
            const auto m = scan_mny(c.text, unit);
            ASSERT_TRUE(m.has_value()) << c.text << " unit " << unit;
            EXPECT_EQ(m->negative, c.negative) << c.text;
            EXPECT_EQ(m->currency_view(), c.currency) << c.text;
            EXPECT_EQ(m->has_currency(), c.currency[0] != 0) << c.text;
            EXPECT_EQ(m->digits, c.digits) << c.text;
            EXPECT_EQ(m->integer_digits, c.integer_digits) << c.text;
            EXPECT_EQ(m->has_point, c.has_point) << c.text;
        }
    }
}

TEST(ScanMoney, Refused) {
    const char* cases[] = {
        "",      "$",       "USD$",     "-$",     "EU$1",   "EURO$1", "E1R$1",  "$.5",
        "$1.",   "$'1",     "$1''0",    "$1'",    "$1'.5",  "$1.5'0", "$1.2.3", "$1,5",
        "1$",    "$1a",     "$ 1",      "$1 ",    "--$1",   "-+$1",   "$-1",    "USD1",
        "USD$$1", "$1e5",
    };
    for (const char* t : cases)
        for (int unit : {1, 2, 4}) EXPECT_FALSE(scan_mny(t, unit).has_value()) << '"' << t << "\" unit " << unit;
    const Units code(U"U\u0153D$1", 2);  // low byte 0x53 = 'S'
    EXPECT_FALSE(number_scan::scan_money(code.data(), code.count, 2).has_value());
    const Units nul(std::u32string(U"$1\0002", 4), 1);
    EXPECT_FALSE(number_scan::scan_money(nul.data(), nul.count, 1).has_value());
}
