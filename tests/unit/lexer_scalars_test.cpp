// Loading tuple, pair, point, time, money and date literals from source text: what each
// form reads as, and which malformed literals are syntax errors naming their datatype.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/number-scan.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "reader/lexer-load.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class LexerScalarsTest : public RuntimeTest {};

// The mold of the single value the text loads as.
std::string load_one(const std::string& text) {
    Cell* b = block::push_new(2);
    lexer::load_into(b, text);
    EXPECT_EQ(series::length(b), 1) << text;
    if (series::length(b) != 1) return "";
    return mold(*block::head(b));
}

}  // namespace

TEST_F(LexerScalarsTest, WellFormedLiteralsLoadAsTheirValues) {
    struct Case {
        const char* text;
        const char* molded;
    };
    const Case cases[] = {
        {"1.2.3", "1.2.3"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"255.0.255", "255.0.255"},
        {"10x-20", "10x-20"},
        {"-3X4", "-3x4"},
        {"(1, 2.5)", "(1, 2.5)"},
        {"(1,2,3)", "(1, 2, 3)"},
        {"10:20", "10:20:00"},
        {"10:20.5", "0:10:20.5"},  // minutes and seconds when the second field has a fraction
        {"-1:02:03.5", "-1:02:03.5"},
        {"100:75", "101:15:00"},  // minutes above 59 are accepted
        {"1:2:3,5", "1:02:03.5"},
        {"$1.50", "$1.50"},
        {"-$5", "-$5.00"},
        {"$1'000.12345", "$1000.12"},
        {"$1,5", "$1.50"},
        {"1-Jan-2000", "1-Jan-2000"},
        {"1-january-2000", "1-Jan-2000"},
        {"1/Sept/2000", "1-Sep-2000"},
        {"29-Feb-2000", "29-Feb-2000"},
        {"1/2/99", "1-Feb-1999"},
        {"1-2-49", "1-Feb-2049"},
        {"2000-01-31", "31-Jan-2000"},
        {"2000-01-01T10:00", "1-Jan-2000/10:00:00"},
        {"2000-01-01T10:00+5:30", "1-Jan-2000/10:00:00+05:30"},
        {"1-jan-2000/10:20:30-8:00", "1-Jan-2000/10:20:30-08:00"},
        {"1-Jan-2000/10:00+0530", "1-Jan-2000/10:00:00+05:30"},
        {"2024-12-31/23:59:59.5Z", "31-Dec-2024/23:59:59.5"},
        {"20000101T102030", "1-Jan-2000/10:20:30"},
        {"2000-W01-1", "3-Jan-2000"},  // ISO week 1 of 2000 starts on Monday 3 January
        {"2004-W53-7", "2-Jan-2005"},
        {"2000-060", "29-Feb-2000"},
    };
    for (const Case& c : cases) EXPECT_EQ(load_one(c.text), c.molded) << c.text;
}

TEST_F(LexerScalarsTest, MalformedLiteralsAreInvalidOfTheirDatatype) {
    struct Case {
        const char* text;
        const char* datatype;  // the datatype the syntax error names
    };
    const Case cases[] = {
        {"1.256.3", "tuple!"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "tuple!"},
        {"1.2..3", "tuple!"},
        {"1.5x2", "pair!"},
        {"1x2x3", "pair!"},
        {"(1, 2, a)", "point3D!"},
        {"(1, b)", "point2D!"},
        {"10:", "time!"},
        {"10:20:", "time!"},
        {"1:2e3", "time!"},
        {"$1.123456", "money!"},
        {"$123456789012345678", "money!"},
        {"$1''0", "money!"},
        {"29-Feb-2001", "date!"},
        {"31-Apr-2000", "date!"},
        {"1-Jnx-2000", "date!"},
        {"1-13-2000", "date!"},
        {"1-Jan/2000", "date!"},
        {"1-Jan-2000/24:00", "date!"},
        {"1-Jan-2000/10:60", "date!"},
        {"1-Jan-2000/10:00+16:00", "date!"},
        {"1-Jan-2000/10:00+5:10", "date!"},  // zones go by quarter hours
        {"2000-W54", "date!"},
        {"2000-W01-8", "date!"},
        {"2001-366", "date!"},
    };
    for (const Case& c : cases) {
        Cell* b = block::push_new(2);
        bool raised_invalid = false;
        try {
            lexer::load_into(b, c.text);
        } catch (const runtime::Throw&) {
            raised_invalid = error::last.id == error::id::syntax_invalid;
            EXPECT_EQ(mold(error::last.args[1]), c.datatype) << c.text;
        }
        EXPECT_TRUE(raised_invalid) << c.text;
    }
}

// Decimals of every length up to and past the 15 digits that are read without the general
// float reader: each must hold exactly the bits that reader gives for the same text.
TEST_F(LexerScalarsTest, DecimalsLoadToTheBitsOfTheFloatReader) {
    std::vector<std::string> texts = {"0.0", "-0.0", "+0.5", "00.5", "-00.50", "0.000000000000001",
                                      "999999999999999.0", "99999999999999.99", "9999999999999999.9",
                                      "0.1", "0.2", "0.3", "1.7976931348623157", "4.35", "1234567.890123456"};
    std::mt19937 rng(20261211);
    for (int whole = 1; whole <= 17; ++whole)
        for (int fraction = 1; fraction + whole <= 18; ++fraction)
            for (int k = 0; k < 4; ++k) {
                std::string t = rng() % 3 == 0 ? "-" : "";
                for (int i = 0; i < whole; ++i) t += static_cast<char>('0' + rng() % 10);
                t += '.';
                for (int i = 0; i < fraction; ++i) t += static_cast<char>('0' + rng() % 10);
                texts.push_back(t);
            }
    std::string source;
    for (const std::string& t : texts) source += t + " ";
    Cell* b = block::push_new(16);
    lexer::load_into(b, source);
    ASSERT_EQ(series::length(b), static_cast<int32_t>(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        const Cell* c = block::head(b) + i;
        const number_scan::FloatScan f = number_scan::scan_float(texts[i].data(), texts[i].size(), 1);
        ASSERT_EQ(f.error, number_scan::ScanError::none) << texts[i];
        ASSERT_EQ(c->type(), Type::float_) << texts[i];
        const uint64_t loaded = c->data2 | static_cast<uint64_t>(c->data3) << 32;
        EXPECT_EQ(loaded, std::bit_cast<uint64_t>(f.value)) << texts[i];
    }
}

// Words are found again by their spelling in a table of recent words: spellings of every
// length around the sizes the table reads at once (8, 16, 40 bytes), spellings alike but for
// one byte, multi-byte characters, and more spellings than the table holds must each come
// back as their own symbol, also when met a second time.
TEST_F(LexerScalarsTest, WordsLoadAsTheirOwnSpellings) {
    std::vector<std::string> spellings;
    for (size_t n = 1; n <= 45; ++n) {
        std::string base;
        for (size_t i = 0; i < n; ++i) base += static_cast<char>('a' + (i * 7 + n) % 26);
        spellings.push_back(base);
        for (size_t at = 0; at < n; ++at) {  // one digit in place of each byte
            std::string other = base;
            other[at] = static_cast<char>('0' + at % 10);
            if (at == 0) other[0] = '_';
            spellings.push_back(other);
        }
    }
    for (const char* u : {"\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "a\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80\xF0\x9F\x98\x81",
                          "\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5\xCE\xB6\xCE\xB7\xCE\xB8\xCE\xB9"})
        spellings.push_back(u);
    std::string source;
    for (int round = 0; round < 2; ++round)
        for (const std::string& s : spellings) source += s + " ";
    Cell* b = block::push_new(16);
    lexer::load_into(b, source);
    ASSERT_EQ(series::length(b), static_cast<int32_t>(2 * spellings.size()));
    for (size_t i = 0; i < 2 * spellings.size(); ++i) {
        const Cell* c = block::head(b) + i;
        const std::string& s = spellings[i % spellings.size()];
        ASSERT_EQ(c->type(), Type::word) << s;
        const int32_t id = word::symbol_of(c);
        EXPECT_EQ(std::string(symbol::name(id), static_cast<size_t>(symbol::name_length(id))), s);
    }
}
