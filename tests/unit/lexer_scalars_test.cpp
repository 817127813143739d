// Loading tuple, pair, point, time, money and date literals from source text: what each
// form reads as, and which malformed literals are syntax errors naming their datatype.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/series.h"
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
