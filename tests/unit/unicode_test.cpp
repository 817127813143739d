// UTF-8, UTF-16 and Windows-1251 conversion and the display width of code points.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "memory/unicode-tables.h"
#include "memory/unicode.h"

using namespace zuv::unicode;
using Bytes = std::vector<uint8_t>;

namespace {

std::string hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t x : b) {
        snprintf(buf, sizeof buf, "%02X ", x);
        s += buf;
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// The automaton

TEST(Utf8Automaton, ByteClassesFollowTheirRanges) {
    struct { int first, last, cls; } classes[] = {
        {0x00, 0x7F, 0}, {0x80, 0x8F, 1}, {0x90, 0x9F, 9}, {0xA0, 0xBF, 7}, {0xC0, 0xC1, 8},
        {0xC2, 0xDF, 2}, {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3}, {0xED, 0xED, 4}, {0xEE, 0xEF, 3},
        {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6}, {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8},
    };
    for (auto c : classes)
        for (int b = c.first; b <= c.last; ++b) EXPECT_EQ(utf8_dfa[b], c.cls) << std::hex << b;
}

struct DfaCase {
    Bytes in;
    int32_t code_point;
    size_t consumed;
};

// Every state, entered and left both ways.
TEST(Utf8Automaton, DecodesAndRejectsInEveryState) {
    const DfaCase cases[] = {
        {{0x41}, 0x41, 1},
        {{0x00}, 0, 1},
        {{0x80}, -1, 1},                     // stray continuation: consumed alone
        {{0xC0, 0x80}, -1, 1},               // C0/C1 lead: consumed alone
        {{0xF5, 0x80, 0x80, 0x80}, -1, 1},   // above U+10FFFF by its lead
        {{0xC3, 0xA9}, 0xE9, 2},             // state 24
        {{0xC3, 0x41}, -1, 2},               // bad continuation consumed with the sequence
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},     // state 36
        {{0xE2, 0x82, 0x41}, -1, 3},
        {{0xE0, 0xA0, 0x80}, 0x800, 3},      // state 48
        {{0xE0, 0x9F, 0xBF}, -1, 2},         // overlong
        {{0xED, 0x9F, 0xBF}, 0xD7FF, 3},     // state 60
        {{0xED, 0xA0, 0x80}, -1, 2},         // surrogate
        {{0xF0, 0x90, 0x80, 0x80}, 0x10000, 4},  // state 72
        {{0xF0, 0x8F, 0xBF, 0xBF}, -1, 2},       // overlong
        {{0xF1, 0x80, 0x80, 0x80}, 0x40000, 4},  // state 84
        {{0xF3, 0xBF, 0xBF, 0xC0}, -1, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},  // state 96
        {{0xF4, 0x90, 0x80, 0x80}, -1, 2},        // above U+10FFFF
        {{0xE2, 0x82}, -1, 2},                    // cut short by the end
        {{0xF0}, -1, 1},
    };
    for (const auto& c : cases) {
        int32_t cp = 0;
        const uint8_t* end = c.in.data() + c.in.size();
        const uint8_t* after = decode_utf8_char(c.in.data(), end, cp);
        EXPECT_EQ(cp, c.code_point) << hex(c.in);
        EXPECT_EQ(static_cast<size_t>(after - c.in.data()), c.consumed) << hex(c.in);
    }
}

TEST(Utf8Automaton, RoundTripsEveryScalarValue) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= max_code_point; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const int n = encode_utf8_char(cp, buf);
        ASSERT_EQ(n, utf8_char_size(cp));
        int32_t back = -2;
        ASSERT_EQ(decode_utf8_char(buf, buf + n, back), buf + n) << cp;
        ASSERT_EQ(back, static_cast<int32_t>(cp));
        ASSERT_EQ(utf8_sequence_length(buf[0]), n == 1 ? 0 : n);
    }
}

TEST(Utf8Automaton, CountsAndSkipsCodePoints) {
    // A, e-acute, a rejected C0, a euro sign, a cut-short tail.
    const Bytes text = {0x41, 0xC3, 0xA9, 0xC0, 0xE2, 0x82, 0xAC, 0xF0, 0x9F};
    const uint8_t* p = text.data();
    const uint8_t* end = p + text.size();
    EXPECT_EQ(count_utf8_chars(p, end), 5u);
    EXPECT_EQ(count_utf8_chars(p, p), 0u);
    EXPECT_EQ(skip_utf8_chars(p, end, 0), p);
    EXPECT_EQ(skip_utf8_chars(p, end, 2), p + 3);
    EXPECT_EQ(skip_utf8_chars(p, end, 4), p + 7);
    EXPECT_EQ(skip_utf8_chars(p, end, 100), end);
}

TEST(Utf8Automaton, SequenceLengthOfLeadBytes) {
    const std::pair<uint8_t, int> cases[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2},
                                             {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF8, 4}, {0xFF, 4}};
    for (auto [lead, len] : cases) EXPECT_EQ(utf8_sequence_length(lead), len) << int(lead);
}

// ---------------------------------------------------------------------------------------------
// Checked decoding

TEST(Utf8Checked, AcceptsWhatOldTextHoldsAndRejectsTheRest) {
    struct Case {
        Bytes in;
        CheckedChar::Kind kind;
        uint32_t code_point;
        uint32_t length;
    } cases[] = {
        {{0x41}, CheckedChar::ok, 0x41, 1},
        {{0xC0, 0x80}, CheckedChar::ok, 0, 2},              // overlong accepted
        {{0xE0, 0x80, 0xAF}, CheckedChar::ok, 0x2F, 3},     // overlong accepted
        {{0xF0, 0x80, 0x80, 0x80}, CheckedChar::ok, 0, 4},  // overlong accepted
        {{0xED, 0xA0, 0x80}, CheckedChar::ok, 0xD800, 3},   // high surrogate accepted
        {{0xED, 0xB4, 0x80}, CheckedChar::ok, 0xDD00, 3},   // only DC00-DCFF is refused
        {{0xED, 0xB0, 0x80}, CheckedChar::malformed, 0, 0},  // U+DC00
        {{0xED, 0xB3, 0xBF}, CheckedChar::malformed, 0, 0},  // U+DCFF
        {{0xEF, 0xBF, 0xBE}, CheckedChar::malformed, 0, 0},  // U+FFFE, the malformed mark
        {{0xEF, 0xBF, 0xBF}, CheckedChar::ok, 0xFFFF, 3},
        {{0xF4, 0x8F, 0xBF, 0xBF}, CheckedChar::ok, 0x10FFFF, 4},
        {{0xF4, 0x90, 0x80, 0x80}, CheckedChar::malformed, 0, 0},
        {{0xF7, 0xBF, 0xBF, 0xBF}, CheckedChar::malformed, 0, 0},
        {{0x80}, CheckedChar::malformed, 0, 0},
        {{0xBF, 0x80}, CheckedChar::malformed, 0, 0},
        {{0xF8, 0x80, 0x80, 0x80, 0x80}, CheckedChar::malformed, 0, 0},
        {{0xC3, 0x41}, CheckedChar::malformed, 0, 0},
        {{0xE2, 0x82, 0xC0}, CheckedChar::malformed, 0, 0},
        {{0xC3}, CheckedChar::cut_short, 0, 0},
        {{0xE2, 0x41}, CheckedChar::cut_short, 0, 0},  // too short is decided before the bytes are read
        {{0xF0, 0x9F, 0x98}, CheckedChar::cut_short, 0, 0},
    };
    for (const auto& c : cases) {
        const CheckedChar r = decode_utf8_char_checked(c.in.data(), c.in.size());
        EXPECT_EQ(r.kind, c.kind) << hex(c.in);
        if (c.kind == CheckedChar::ok) {
            EXPECT_EQ(r.code_point, c.code_point) << hex(c.in);
            EXPECT_EQ(r.length, c.length) << hex(c.in);
        }
    }
}

TEST(Utf8Checked, RoundTripsEveryCodePointItAccepts) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= max_code_point; ++cp) {
        const int n = encode_utf8_char(cp, buf);
        const CheckedChar r = decode_utf8_char_checked(buf, static_cast<size_t>(n));
        if ((cp >= 0xDC00 && cp <= 0xDCFF) || cp == 0xFFFE) {
            ASSERT_EQ(r.kind, CheckedChar::malformed) << cp;
            continue;
        }
        ASSERT_EQ(r.kind, CheckedChar::ok) << cp;
        ASSERT_EQ(r.code_point, cp);
        ASSERT_EQ(r.length, static_cast<uint32_t>(n));
        if (n > 1) {
            ASSERT_EQ(decode_utf8_char_checked(buf, n - 1).kind, CheckedChar::cut_short);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Encoding

TEST(Utf8Encode, SizesAndBytesAtEachLimit) {
    struct Case {
        uint32_t cp;
        Bytes bytes;
    } cases[] = {
        {0x00, {0x00}},
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
        {0x110000, {}},
        {0xFFFFFFFF, {}},  // a negative char! value seen unsigned
    };
    for (const auto& c : cases) {
        uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(utf8_char_size(c.cp), static_cast<int>(c.bytes.size())) << c.cp;
        const int n = encode_utf8_char(c.cp, buf);
        EXPECT_EQ(Bytes(buf, buf + n), c.bytes) << c.cp;
        if (n == 0) {
            EXPECT_EQ(buf[0], 0xAA) << "nothing written for an invalid code point";
        }
    }
}

TEST(Utf8Encode, BoundedWritesOnlyTheLeadingBytesThatFit) {
    const uint32_t euro = 0x20AC;  // E2 82 AC
    const std::pair<int64_t, Bytes> cases[] = {
        {-5, {}}, {0, {}}, {1, {0xE2}}, {2, {0xE2, 0x82}}, {3, {0xE2, 0x82, 0xAC}}, {10, {0xE2, 0x82, 0xAC}},
    };
    for (const auto& [room, bytes] : cases) {
        uint8_t buf[8] = {};
        const int n = encode_utf8_char_bounded(euro, buf, room);
        EXPECT_EQ(Bytes(buf, buf + n), bytes) << room;
        EXPECT_EQ(buf[n], 0) << "wrote past the room";
    }
}

TEST(Utf16Encode, UnitsAndSurrogatePairs) {
    struct Case {
        uint32_t cp;
        std::u16string units;
    } cases[] = {
        {0x41, u"A"},
        {0xFFFF, u"\xFFFF"},
        {0xDC00, u"\xDC00"},  // a lone surrogate passes as it is
        {0x10000, u"\xD800\xDC00"},
        {0x1F600, u"\xD83D\xDE00"},
        {0x10FFFF, u"\xDBFF\xDFFF"},
        {0x110000, u""},
    };
    for (const auto& c : cases) {
        char16_t buf[2] = {};
        const int n = encode_utf16_char(c.cp, buf);
        EXPECT_EQ(std::u16string(buf, n), c.units) << c.cp;
    }
}

// ---------------------------------------------------------------------------------------------
// Loading whole texts

struct Loaded {
    std::u32string text;
    Utf8Load result;
};

Loaded load8(const Bytes& in, bool crlf = false) {
    Loaded out;
    out.result = load_utf8(in.data(), in.size(), crlf, [&](uint32_t c) { out.text += char32_t(c); });
    return out;
}

TEST(LoadUtf8, DecodesSkipsTheMarkAndCarriesACutTail) {
    struct Case {
        Bytes in;
        std::u32string text;
        size_t left;
    } cases[] = {
        {{}, U"", 0},
        {{0xEF, 0xBB, 0xBF}, U"", 0},
        {{0xEF, 0xBB, 0xBF, 0x41}, U"A", 0},
        {{0xEF, 0xBB, 0xBF, 0xEF, 0xBB, 0xBF}, U"\uFEFF", 0},  // only the first mark is skipped
        {{0xEF, 0xBB}, U"", 2},                                 // too short to be a mark
        {{0x41, 0xEF, 0xBB, 0xBF}, U"A\uFEFF", 0},
        {{0xC3}, U"", 1},
        {{0x41, 0xC3}, U"A", 1},
        {{0x41, 0xF0, 0x9F, 0x98}, U"A", 3},
        {{0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, U"\u00E9\u20AC\U0001F600", 0},
        {{0xED, 0xA0, 0x80}, U"\xD800", 0},
        {{0xC0, 0x80}, std::u32string(1, U'\0'), 0},
        {{'a', '\r', '\n', 'b', '\r', 'c'}, U"a\r\nb\rc", 0},  // no CR LF option: kept
    };
    for (const auto& c : cases) {
        const Loaded r = load8(c.in);
        EXPECT_EQ(r.result.error, Error::none) << hex(c.in);
        EXPECT_EQ(r.text, c.text) << hex(c.in);
        EXPECT_EQ(r.result.bytes_left, c.left) << hex(c.in);
    }
}

TEST(LoadUtf8, CrLfOptionFoldsLineEnds) {
    const std::pair<std::string, std::u32string> cases[] = {
        {"a\r\nb\rc", U"a\nb\nc"},
        {"\r\r\n\n", U"\n\n\n"},
        {"x\r", U"x\n"},  // a CR that ends the input is lone
    };
    for (const auto& [in, want] : cases)
        EXPECT_EQ(load8(Bytes(in.begin(), in.end()), true).text, want) << in;
}

TEST(LoadUtf8, MalformedSequenceStopsWithItsBytes) {
    struct Case {
        Bytes in;
        size_t offset;
        Bytes bad;
        std::u32string before;
    } cases[] = {
        {{0xED, 0xB0, 0x80}, 0, {0xED, 0xB0, 0x80}, U""},
        {{0x41, 0xEF, 0xBF, 0xBE, 0x42, 0x43}, 1, {0xEF, 0xBF, 0xBE, 0x42}, U"A"},
        {{0x41, 0x42, 0x80}, 2, {0x80}, U"AB"},  // never read past the input
        {{0xF8, 0x41}, 0, {0xF8, 0x41}, U""},
    };
    for (const auto& c : cases) {
        const Loaded r = load8(c.in);
        EXPECT_EQ(r.result.error, Error::invalid_utf8) << hex(c.in);
        EXPECT_EQ(r.result.bad_offset, c.offset) << hex(c.in);
        EXPECT_EQ(Bytes(r.result.bad_bytes, r.result.bad_bytes + r.result.bad_size), c.bad) << hex(c.in);
        EXPECT_EQ(r.text, c.before) << hex(c.in);
    }
}

// Little-endian bytes of a UTF-16 text, starting one byte into the buffer so reads are unaligned.
struct Utf16Bytes {
    Bytes storage;
    explicit Utf16Bytes(const std::u16string& units) {
        storage.push_back(0);
        for (char16_t u : units) {
            storage.push_back(static_cast<uint8_t>(u));
            storage.push_back(static_cast<uint8_t>(u >> 8));
        }
    }
    const uint8_t* data() const { return storage.data() + 1; }
};

TEST(LoadUtf16, ChoosesTheUnitFromAFirstScan) {
    const std::pair<std::u16string, uint32_t> cases[] = {
        {u"", 1}, {u"A\xFF", 1}, {u"A\x100", 2}, {u"\xFFFF", 2}, {u"A\xDC00", 4}, {u"\xD83D\xDE00", 4},
        {u"\xD7FF\xE000", 2},
    };
    for (const auto& [units, width] : cases) {
        const Utf16Bytes b(units);
        EXPECT_EQ(utf16_unit_width(b.data(), units.size()), width);
    }
}

TEST(LoadUtf16, PairsSurrogatesAndDropsCr) {
    struct Case {
        std::u16string in;
        bool cr;
        std::u32string text;
    } cases[] = {
        {u"\xD83D\xDE00", false, U"\U0001F600"},
        {u"\xDC00", false, U"\xDC00"},  // a lone low surrogate is kept
        {u"a\xD800\xDC00\xDBFF\xDFFF", false, U"a\U00010000\U0010FFFF"},
        {u"caf\xE9", false, U"caf\u00E9"},
        {u"a\r\nb\r", true, U"a\nb"},
        {u"\x20AC\r\n", true, U"\u20AC\n"},
        {u"\xD83D\xDE00\r\n", true, U"\U0001F600\n"},
        {u"a\r\n", false, U"a\r\n"},
    };
    for (const auto& c : cases) {
        const Utf16Bytes b(c.in);
        const uint32_t width = utf16_unit_width(b.data(), c.in.size());
        std::u32string got;
        const Utf16Load r = load_utf16(b.data(), c.in.size(), width, c.cr, [&](uint32_t u) { got += char32_t(u); });
        EXPECT_EQ(r.error, Error::none);
        EXPECT_EQ(got, c.text);
    }
}

TEST(LoadUtf16, UnpairedHighSurrogateIsAnErrorNotAnExit) {
    const std::pair<std::u16string, size_t> cases[] = {
        {u"ab\xD83D", 2}, {u"\xD83D" u"A", 0}, {u"x\xD800\xD800\xDC00", 1}, {u"\xD800\r", 0},
    };
    for (const auto& [units, index] : cases) {
        const Utf16Bytes b(units);
        const Utf16Load r = load_utf16(b.data(), units.size(), 4, true, [](uint32_t) {});
        EXPECT_EQ(r.error, Error::invalid_utf16);
        EXPECT_EQ(r.bad_index, index);
    }
}

TEST(LoadCp1251, MapsTheUpperHalfAndFoldsLineEnds) {
    const std::pair<uint8_t, uint32_t> bytes[] = {
        {0x41, 0x41}, {0x80, 0x0402}, {0x88, 0x20AC}, {0x98, 0x0098}, {0xA8, 0x0401}, {0xC0, 0x0410}, {0xFF, 0x044F},
    };
    for (auto [b, cp] : bytes) EXPECT_EQ(cp1251_to_code_point(b), cp) << int(b);

    const Bytes in = {0xCF, 0xF0, '\r', '\n', 'x', '\r', 0xFF};
    std::u32string crlf, plain;
    load_cp1251(in.data(), in.size(), true, [&](uint32_t c) { crlf += char32_t(c); });
    load_cp1251(in.data(), in.size(), false, [&](uint32_t c) { plain += char32_t(c); });
    EXPECT_EQ(crlf, U"\u041F\u0440\nx\n\u044F");
    EXPECT_EQ(plain, U"\u041F\u0440\r\nx\r\u044F");
}

// ---------------------------------------------------------------------------------------------
// Writing whole texts

TEST(WriteUtf16, PairsAndCrLf) {
    struct Case {
        std::u32string in;
        bool crlf;
        std::u16string out;
    } cases[] = {
        {U"\U00010000\U0010FFFF", false, u"\xD800\xDC00\xDBFF\xDFFF"},
        {U"a\nb", true, u"a\r\nb"},
        {U"a\nb", false, u"a\nb"},
        {U"\n\U0001F600\n", true, u"\r\n\xD83D\xDE00\r\n"},
        {U"", true, u""},
    };
    for (const auto& c : cases) {
        std::u16string buf(utf16_size(c.in.begin(), c.in.end()), u'?');
        const auto n = utf16_write(c.in.begin(), c.in.end(), buf.data(), c.crlf);
        ASSERT_TRUE(n.has_value());
        EXPECT_EQ(buf.substr(0, *n), c.out);
    }
    // The size covers the CR LF form whether or not it is asked for.
    const std::u32string lines = U"\n\n\U00010000";
    EXPECT_EQ(utf16_size(lines.begin(), lines.end()), 6u);
}

TEST(WriteUtf16, FromEachUnitWidth) {
    const uint8_t latin[] = {'c', 0xE9};
    const uint16_t bmp[] = {0x20AC, '\n'};
    const uint32_t astral[] = {0x1F600, 0x110000, 'x'};
    char16_t buf[8];
    EXPECT_EQ(utf16_write(latin, latin + 2, buf, false).value_or(0), 2u);
    EXPECT_EQ(std::u16string(buf, 2), u"c\xE9");
    EXPECT_EQ(utf16_write(bmp, bmp + 2, buf, true).value_or(0), 3u);
    EXPECT_EQ(std::u16string(buf, 3), u"\x20AC\r\n");
    EXPECT_EQ(utf16_write(astral, astral + 1, buf, false).value_or(0), 2u);
    EXPECT_FALSE(utf16_write(astral, astral + 3, buf, false).has_value()) << "above U+10FFFF gives none";
}

TEST(WriteUtf8, SizesWritesAndCuts) {
    const std::u32string text = U"a\n\u00E9\u20AC\U0001F600";  // 1 1 2 3 4 bytes
    EXPECT_EQ(utf8_size(text.begin(), text.end()).size, 11u);
    EXPECT_EQ(utf8_size(text.begin(), text.end(), true).size, 12u);

    const std::pair<size_t, std::string> cases[] = {
        {SIZE_MAX, "a\r\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {12, "a\r\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {2, "a\r"},                     // cut between the CR and its LF
        {6, "a\r\n\xC3\xA9\xE2"},       // the euro sign cut to its lead byte
        {0, ""},
    };
    for (const auto& [room, want] : cases) {
        uint8_t buf[16] = {};
        const Utf8Write w = utf8_write(text.begin(), text.end(), buf, room, true);
        EXPECT_EQ(w.error, Error::none);
        EXPECT_EQ(std::string(buf, buf + w.size), want) << room;
        EXPECT_EQ(buf[w.size], 0) << "wrote past the room";
    }
}

TEST(WriteUtf8, CodePointAboveTheRangeIsInvalidChar) {
    const uint32_t text[] = {'o', 'k', 0x110000, 'x'};
    const Utf8Write size = utf8_size(text, text + 4);
    EXPECT_EQ(size.error, Error::invalid_char);
    EXPECT_EQ(size.bad_code_point, 0x110000u);
    uint8_t buf[8] = {};
    const Utf8Write w = utf8_write(text, text + 4, buf, sizeof buf, false);
    EXPECT_EQ(w.error, Error::invalid_char);
    EXPECT_EQ(w.bad_code_point, 0x110000u);
    EXPECT_EQ(w.size, 2u);
}

TEST(WidenCstring, EachByteBecomesAUnit) {
    char16_t buf[8];
    buf[5] = u'?';
    EXPECT_EQ(widen_cstring("ab\xE9z", buf), 4u);
    EXPECT_EQ(std::u16string(buf, 5), std::u16string(u"ab\xE9z\0", 5));
    EXPECT_EQ(widen_cstring("", buf), 0u);
    EXPECT_EQ(buf[0], u'\0');
}

// ---------------------------------------------------------------------------------------------
// Display width

TEST(CharWidth, ColumnsOfEachKind) {
    struct Case {
        uint32_t cp;
        int width, cjk;
    } cases[] = {
        {0x0000, 0, 0},   {0x0001, 1, 1},   {0x001F, 1, 1},   {0x0041, 1, 1},   {0x007F, 1, 1},
        {0x009F, 1, 1},   {0x00A0, 1, 1},   {0x00A1, 1, 2},   {0x00AD, 1, 1},   {0x0300, 0, 0},
        {0x0301, 0, 0},   {0x036F, 0, 0},   {0x0370, 1, 1},   {0x0600, 0, 0},   {0x0605, 0, 0},
        {0x1100, 2, 2},   {0x115F, 2, 2},   {0x1160, 0, 0},   {0x11FF, 0, 0},   {0x200B, 1, 1},
        {0x200C, 0, 0},   {0x231A, 2, 2},   {0x231C, 1, 1},   {0x3000, 2, 2},   {0x302A, 0, 0},
        {0x4E00, 2, 2},   {0xE000, 1, 2},   {0xF8FF, 1, 2},   {0xFF01, 2, 2},   {0xFFFD, 1, 2},
        {0x1F600, 2, 2},  {0x1FAF0, 2, 2},  {0x1FAF6, 2, 2},  {0x1FAF7, 1, 1},  {0x20000, 2, 2},
        {0x2FFFD, 2, 2},  {0x2FFFE, 1, 1},  {0x3FFFD, 2, 2},  {0xE0001, 0, 0},  {0xE0100, 0, 0},
        {0xE01EF, 0, 0},  {0xE01F0, 1, 1},  {0xF0000, 1, 2},  {0x10FFFD, 1, 2}, {0x10FFFE, 1, 1},
        {0x110000, 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
}

TEST(CharWidth, RangesAreSortedDisjointAndEndWhereExpected) {
    using zuv::unicode_tables::Range;
    struct Table {
        const char* name;
        std::span<const Range> ranges;
        size_t count;
        Range first, last;
    } tables[] = {
        {"zero width", zuv::unicode_tables::zero_width, 339, {0x0300, 0x036F}, {0xE0100, 0xE01EF}},
        {"wide", zuv::unicode_tables::wide, 122, {0x1100, 0x115F}, {0x30000, 0x3FFFD}},
        {"ambiguous", zuv::unicode_tables::ambiguous, 156, {0x00A1, 0x00A1}, {0x100000, 0x10FFFD}},
    };
    for (const auto& t : tables) {
        EXPECT_EQ(t.ranges.size(), t.count) << t.name;
        EXPECT_EQ(t.ranges.front().first, t.first.first) << t.name;
        EXPECT_EQ(t.ranges.front().last, t.first.last) << t.name;
        EXPECT_EQ(t.ranges.back().first, t.last.first) << t.name;
        EXPECT_EQ(t.ranges.back().last, t.last.last) << t.name;
        for (size_t i = 0; i < t.ranges.size(); ++i) {
            EXPECT_LE(t.ranges[i].first, t.ranges[i].last) << t.name << " " << i;
            if (i > 0) {
                EXPECT_GT(t.ranges[i].first, t.ranges[i - 1].last + 1) << t.name << " " << i;
            }
        }
    }
}

}  // namespace
