// The upper- and lower-case mappings of code points.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>

#include "memory/case-folding.h"
#include "memory/unicode-tables.h"

using namespace zuv;
using case_folding::change_char;

namespace {

class CaseFolding : public testing::Test {
protected:
    static void SetUpTestSuite() { case_folding::init(); }
};

struct Case {
    uint32_t cp;
    uint32_t upper;
    uint32_t lower;
};

TEST_F(CaseFolding, MapsToTheFirstCodePointOfTheFullMapping) {
    const Case cases[] = {
        {'a', 'A', 'a'},
        {'Z', 'Z', 'z'},
        {'1', '1', '1'},
        {0x00DF, 'S', 0x00DF},          // sharp s: SS
        {0x00B5, 0x039C, 0x00B5},       // micro sign
        {0x00FF, 0x0178, 0x00FF},       // leaves the one-byte range
        {0x0130, 0x0130, 'i'},          // capital I with dot: i + combining dot
        {0x0131, 'I', 0x0131},          // dotless i
        {0x0149, 0x02BC, 0x0149},       // n preceded by apostrophe
        {0x017F, 'S', 0x017F},          // long s
        {0x01C5, 0x01C4, 0x01C6},       // title-case digraph
        {0x03A3, 0x03A3, 0x03C3},       // final sigma is conditional: not in the table
        {0x1F80, 0x1F08, 0x1F80},
        {0x1F88, 0x1F08, 0x1F80},
        {0x1FB3, 0x0391, 0x1FB3},
        {0x2126, 0x2126, 0x03C9},       // ohm sign
        {0x212A, 0x212A, 'k'},          // kelvin sign
        {0x10D0, 0x1C90, 0x10D0},       // Georgian capitals came in 11.0
        {0xFF41, 0xFF21, 0xFF41},
        {0xFF3A, 0xFF3A, 0xFF5A},
        {0xA7BA, 0xA7BA, 0xA7BA},       // mappings added after 11.0 stay unchanged
        {0xA7BF, 0xA7BF, 0xA7BF},
        {0x0282, 0x0282, 0x0282},       // its capital A7C5 came after 11.0
        {0x2C2F, 0x2C2F, 0x2C2F},
        {0xFFFF, 0xFFFF, 0xFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(change_char(c.cp, case_folding::upper), c.upper) << std::hex << c.cp;
        EXPECT_EQ(change_char(c.cp, case_folding::lower), c.lower) << std::hex << c.cp;
    }
}

TEST_F(CaseFolding, AboveTheBmpSearchesTheSortedLists) {
    const Case cases[] = {
        {0x10000, 0x10000, 0x10000},
        {0x103FF, 0x103FF, 0x103FF},    // below the first pair
        {0x10400, 0x10400, 0x10428},    // the first pair of the lower list
        {0x10428, 0x10400, 0x10428},    // the first pair of the upper list
        {0x1044F, 0x10427, 0x1044F},
        {0x10450, 0x10450, 0x10450},    // between pairs
        {0x104B0, 0x104B0, 0x104D8},
        {0x10570, 0x10570, 0x10570},    // added after 11.0
        {0x105BC, 0x105BC, 0x105BC},
        {0x16E40, 0x16E40, 0x16E60},
        {0x1E900, 0x1E900, 0x1E922},
        {0x1E921, 0x1E921, 0x1E943},    // the last pair of the lower list
        {0x1E922, 0x1E900, 0x1E922},
        {0x1E943, 0x1E921, 0x1E943},    // the last pair of the upper list
        {0x1E944, 0x1E944, 0x1E944},    // above the last pair
        {0x1F600, 0x1F600, 0x1F600},
        {0x10FFFF, 0x10FFFF, 0x10FFFF},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(change_char(c.cp, case_folding::upper), c.upper) << std::hex << c.cp;
        EXPECT_EQ(change_char(c.cp, case_folding::lower), c.lower) << std::hex << c.cp;
    }
}

TEST_F(CaseFolding, ToUpperAndSwapCase) {
    const std::pair<uint32_t, uint32_t> swaps[] = {
        {'a', 'A'}, {'A', 'a'}, {'!', '!'}, {0x00DF, 'S'}, {0x0130, 'i'}, {0x1E922, 0x1E900},
        {0x1E900, 0x1E922}, {0x01C5, 0x01C4},
    };
    for (auto [cp, swapped] : swaps) EXPECT_EQ(case_folding::swap_case(cp), swapped) << std::hex << cp;
    EXPECT_EQ(case_folding::to_upper(0x00E9), 0x00C9u);
    EXPECT_EQ(case_folding::to_upper(0x1E922), 0x1E900u);
    EXPECT_EQ(case_folding::to_upper(0x1F600), 0x1F600u);
}

// Every pair of every list reads back through change_char, and the lists are sorted, so the
// lookup above U+FFFF can stop at the first greater code point.
TEST_F(CaseFolding, EveryListedPairReadsBack) {
    struct List {
        std::span<const unicode_tables::CasePair> pairs;
        int32_t mode;
        size_t count;
    } lists[] = {
        {unicode_tables::upper_bmp, case_folding::upper, 1250},
        {unicode_tables::lower_bmp, case_folding::lower, 1158},
        {unicode_tables::upper_astral, case_folding::upper, 225},
        {unicode_tables::lower_astral, case_folding::lower, 225},
    };
    for (const auto& list : lists) {
        EXPECT_EQ(list.pairs.size(), list.count);
        for (size_t i = 0; i < list.pairs.size(); ++i) {
            const auto& p = list.pairs[i];
            EXPECT_NE(p.code_point, p.mapping);
            EXPECT_EQ(change_char(p.code_point, list.mode), p.mapping) << std::hex << p.code_point;
            if (i > 0) {
                EXPECT_LT(list.pairs[i - 1].code_point, p.code_point);
            }
        }
    }
}

TEST_F(CaseFolding, InitAgainChangesNothing) {
    case_folding::init();
    EXPECT_EQ(change_char('q', case_folding::upper), uint32_t('Q'));
    EXPECT_EQ(change_char('Q', case_folding::upper), uint32_t('Q'));
}

}  // namespace
