// string!: storage and widening, the conversions at the system's edge, editing, search,
// trimming, set operations, conversion, forming, molding and comparison.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string-convert.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/action-types.h"
#include "memory/case-folding.h"
#include "memory/datatype.h"
#include "memory/unicode.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"
#include "string_fixture.h"

using namespace zuv;
using namespace zuv::testing;
namespace slot = zuv::datatype::slot;

namespace {

class StringTest : public RuntimeTest {};

uint32_t unit_of(const Cell& c) { return series::buffer(&c)->unit(); }
Cell ch(uint32_t cp) { return Cell{static_cast<uint32_t>(Type::char_), 0, cp, 0}; }

// A series of raw bytes of the given type (binary!, bitset!).
Cell bytes(std::initializer_list<uint8_t> list, Type t = Type::binary) {
    Cell c;
    Ref node = memory::alloc_bytes(static_cast<int64_t>(list.size()) + 1);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), std::data(list), list.size());
    b->tail = b->head + static_cast<uint32_t>(list.size());
    cell::make(&c, t, 0, node, 0);
    return c;
}

template <class F>
F action(Type t, int s) {
    return reinterpret_cast<F>(datatype::action_of(t, s));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Storage

TEST_F(StringTest, WideningDependsOnWhereTheCodePointIsWritten) {
    enum Op { append, insert, poke };
    struct Case {
        Op op;
        const char* start;
        uint32_t cp;
        uint32_t unit;
    } cases[] = {
        {append, "", 0x7F, 1},      {append, "", 0xE9, 2},      {append, "", 0x20AC, 2},
        {append, "", 0x1F600, 4},   {append, "\u20AC", 0x10000, 4},
        {insert, "x", 0xE9, 1},     {insert, "x", 0x100, 2},    {insert, "x", 0x1F600, 4},
        {poke, "x", 0xFF, 1},       {poke, "x", 0x20AC, 2},     {poke, "\u20AC", 0x10FFFF, 4},
    };
    for (const Case& c : cases) {
        Cell s = str(c.start);
        memory::SeriesBuffer* b = series::buffer(&s);
        if (c.op == append) string::append_char(b, c.cp);
        else if (c.op == insert) string::insert_char(b, 0, c.cp);
        else string::poke_char(b, 0, c.cp);
        EXPECT_EQ(unit_of(s), c.unit) << c.op << " " << std::hex << c.cp;
        uint32_t at = c.op == append ? static_cast<uint32_t>(string::char_count(&s)) - 1 : 0;
        EXPECT_EQ(string::char_at(&s, static_cast<int32_t>(at)), c.cp);
    }
    // Appended or inserted, the same text compares equal whatever the unit.
    Cell a = str(""), i = str("");
    string::append_char(&a, 0xE9);
    string::insert_char(series::buffer(&i), 0, 0xE9);
    EXPECT_NE(unit_of(a), unit_of(i));
    EXPECT_EQ(string::compare(&a, &i, actions::op::strict_equal), 0);
}

TEST_F(StringTest, ConcatenateModes) {
    struct Case {
        const char* target;
        const char* source;
        int32_t part, offset;
        bool per_char;
        int mode;
        const char* expected;
    } cases[] = {
        {"ab", "cd", -1, 0, false, 0, "abcd"},
        {"ab", "cdef", 2, 0, false, 0, "abcd"},
        {"ab", "cd", -1, 1, false, 1, "acdb"},
        {"abcd", "XY", -1, 1, false, 2, "aXYd"},
        {"abc", "XYZ", -1, 2, false, 2, "abXYZ"},  // the tail moves only when passed
        {"ab", "\u20AC\u00E9", -1, 1, false, 1, "a\u20AC\u00E9b"},
        {"\u20AC", "ab", -1, 0, false, 0, "\u20ACab"},
        {"ab", "\u00E9x", -1, 1, true, 1, "a\u00E9xb"},
        {"abc", "XYZ", -1, 2, true, 2, "abXYZ"},
        {"ab", "", -1, 0, false, 0, "ab"},
    };
    for (const Case& c : cases) {
        Cell t = str(c.target), s = str(c.source);
        string::concatenate(&t, &s, c.part, c.offset, c.per_char, c.mode);
        EXPECT_EQ(utf8(t), c.expected) << c.target << " + " << c.source << " mode " << c.mode;
    }
    // A narrower source is widened in place, its text unchanged; per character it is not.
    Cell wide = str("\u20AC"), narrow = str("ab");
    string::concatenate(&wide, &narrow, -1, 0, true, 0);
    EXPECT_EQ(unit_of(narrow), 1u);
    string::concatenate(&wide, &narrow, -1, 0, false, 0);
    EXPECT_EQ(unit_of(narrow), 2u);
    EXPECT_EQ(utf8(narrow), "ab");
}

TEST_F(StringTest, ConcatenateIntoItself) {
    Cell s = str("abc");
    string::concatenate(&s, &s, -1, 0, false, 0);
    EXPECT_EQ(utf8(s), "abcabc");
    Cell t = str("abc"), view = t;
    view.data1 = 1;
    string::concatenate(&t, &view, -1, 1, false, 1);  // the inserted units are moved by the gap
    EXPECT_EQ(utf8(t), "abcbc");
}

TEST_F(StringTest, SearchAndEditHelpers) {
    Cell s = str("abcAbc");
    EXPECT_EQ(string::index_of_char(&s, 'c'), 2);
    EXPECT_EQ(string::index_of_char(&s, 'z'), -1);
    EXPECT_TRUE(string::has_char_q(&s, 'a', 3, true));   // units 0 and 3
    EXPECT_FALSE(string::has_char_q(&s, 'b', 3, true));
    EXPECT_TRUE(string::has_char_q(&s, 'B', 1, false));
    EXPECT_TRUE(string::starts_with_cstring_q(&s, "abc"));
    EXPECT_FALSE(string::starts_with_cstring_q(&s, "abcAbcd"));
    Cell latin = str("\u00E9");
    EXPECT_TRUE(string::starts_with_cstring_q(&latin, "\xE9"));
    string::remove_units(&s, 1, 2);
    EXPECT_EQ(utf8(s), "aAbc");
    string::remove_units(&s, 3, 9);
    EXPECT_EQ(utf8(s), "aAb");
    string::truncate(series::buffer(&s), 1);
    EXPECT_EQ(utf8(s), "a");

    Cell wide = str("\u20AC");
    wide.data1 = 1;
    string::reset(&wide);
    EXPECT_EQ(unit_of(wide), 1u);
    EXPECT_EQ(wide.data1, 0u);
    EXPECT_EQ(string::char_count(&wide), 0);

    // A head past the tail reads as the tail.
    Cell past = str("ab");
    past.data1 = 5;
    EXPECT_EQ(string::char_count(&past), 0);
    EXPECT_EQ(past.data1, 2u);

    Cell from = str("xy\u20ACz"), to = str("ab");
    to.data1 = 1;
    from.data1 = 1;
    string::move_chars(&from, &to, 2);
    to.data1 = 0;
    EXPECT_EQ(utf8(to), "ay\u20ACb");
    from.data1 = 0;
    EXPECT_EQ(utf8(from), "xz");

    Cell narrow = str("ab"), into = str("\u20AC\u20AC\u20AC");
    string::copy_widened(narrow.data2, into.data2, 2, 1);
    EXPECT_EQ(utf8(into), "\u20ACab");
    Ref copy = string::copy_widened(narrow.data2, 0, 4, 0);
    Cell c{static_cast<uint32_t>(Type::string), 0, copy, 0};
    EXPECT_EQ(utf8(c), "ab");
    EXPECT_EQ(unit_of(c), 4u);
}

// ---------------------------------------------------------------------------------------------
// Conversions at the edge

TEST_F(StringTest, LoadUtf8) {
    struct Case {
        std::string bytes;
        const char* expected;
        uint32_t unit;
    } cases[] = {
        {"\xEF\xBB\xBF", "", 1},
        {"\xEF\xBB\xBF" "A", "A", 1},
        {"\xC3\xA9", "\u00E9", 1},
        {"\xE2\x82\xAC", "\u20AC", 2},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\u00E9\u20AC\U0001F600", 4},
        {"\xED\xA0\x80", "\xED\xA0\x80", 2},  // U+D800 is accepted
    };
    for (const Case& c : cases) {
        Cell s = str(c.bytes);
        EXPECT_EQ(unit_of(s), c.unit) << c.expected;
        if (c.bytes != "\xED\xA0\x80") {
            EXPECT_EQ(utf8(s), c.expected);
        }
    }
    EXPECT_EQ(string::char_at(text("\xED\xA0\x80"), 0), 0xD800u);
    EXPECT_EQ(string::char_at(text(std::string("\xC0\x80", 2)), 0), 0u);  // overlong forms load

    // A sequence cut short at the end is left for the next chunk.
    struct Cut {
        std::string bytes;
        const char* expected;
    } cuts[] = {{"\xC3", ""}, {"A\xC3", "A"}, {"AB\xE2\x82", "AB"}};
    for (const Cut& c : cuts) {
        size_t left = 99;
        Ref node = unicode::load_utf8(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), 0, false, &left);
        Cell s{static_cast<uint32_t>(Type::string), 0, node, 0};
        EXPECT_EQ(utf8(s), c.expected);
        EXPECT_EQ(left, c.bytes.size() - std::strlen(c.expected));
    }
    size_t untouched = 7;
    unicode::load_utf8(reinterpret_cast<const uint8_t*>("ab"), 2, 0, false, &untouched);
    EXPECT_EQ(untouched, 7u);

    EXPECT_EQ(raised([] { text("a\xED\xB0\x80"); }), error::id::access_invalid_utf8);
    ASSERT_EQ(error::last.arg_count, 1);
    EXPECT_EQ(string::char_count(&error::last.args[0]), 3);
    EXPECT_EQ(raised([] { text("\x80"); }), error::id::access_invalid_utf8);
    EXPECT_EQ(raised([] { text("\xEF\xBF\xBE"); }), error::id::access_invalid_utf8);  // U+FFFE
}

TEST_F(StringTest, LoadWithLineEndsAndIntoAGivenBuffer) {
    const std::string in = "a\r\nb\rc";
    Ref node = unicode::load_utf8(reinterpret_cast<const uint8_t*>(in.data()), in.size(), 0, true, nullptr);
    Cell s{static_cast<uint32_t>(Type::string), 0, node, 0};
    EXPECT_EQ(utf8(s), "a\nb\nc");

    // Loading into a string replaces its text and keeps (or widens) its unit.
    Cell into = str("\u20ACold text");
    const std::string fresh = "new\xC3\xA9";
    unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(fresh.data()), fresh.size(), &into, nullptr);
    EXPECT_EQ(utf8(into), "new\u00E9");
    EXPECT_EQ(unit_of(into), 2u);

    // Windows-1251: the upper half lies mostly above U+00FF.
    const uint8_t cp1251[] = {'a', 0xC0, 0x88, 0xFF, '\r', '\n'};
    Cell c{static_cast<uint32_t>(Type::string), 0, unicode::load_cp1251(cp1251, sizeof cp1251, nullptr, true), 0};
    EXPECT_EQ(utf8(c), "a\u0410\u20AC\u044F\n");
}

TEST_F(StringTest, Utf16InAndOut) {
    const uint8_t pair[] = {0x3D, 0xD8, 0x00, 0xDE, 'a', 0};
    Cell s{static_cast<uint32_t>(Type::string), 0, unicode::load_utf16(pair, 3, nullptr, false), 0};
    EXPECT_EQ(utf8(s), "\U0001F600a");
    EXPECT_EQ(unit_of(s), 4u);
    const uint8_t lone_low[] = {0x00, 0xDC};
    Cell low{static_cast<uint32_t>(Type::string), 0, unicode::load_utf16(lone_low, 1, nullptr, false), 0};
    EXPECT_EQ(string::char_at(&low, 0), 0xDC00u);
    const uint8_t latin[] = {'a', 0, '\r', 0, 0xE9, 0};
    Cell l{static_cast<uint32_t>(Type::string), 0, unicode::load_utf16(latin, 3, nullptr, true), 0};
    EXPECT_EQ(utf8(l), "a\u00E9");
    EXPECT_EQ(unit_of(l), 1u);
    Cell loaded;
    string::load_at(&loaded, latin, sizeof latin, -1);
    EXPECT_EQ(utf8(loaded), "a\r\u00E9");

    // A high surrogate with no low one after it is a language error, not the end of the process.
    const uint8_t broken[] = {0x3D, 0xD8, 'a', 0};
    EXPECT_EQ(raised([&] { unicode::load_utf16(broken, 2, nullptr, false); }), error::id::access_invalid_utf8);
    EXPECT_EQ(raised([&] { unicode::load_utf16(broken, 1, nullptr, false); }), error::id::access_invalid_utf8);
    EXPECT_EQ(raised([&] { string::load_at(&loaded, latin, 2, 1); }), error::id::script_invalid_arg);

    Cell astral = str("\U00010000\U0010FFFF");
    int32_t count = -1;
    const char16_t* out = unicode::to_utf16(&astral, count, false);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::u16string(out, 5), std::u16string(u"\xD800\xDC00\xDBFF\xDFFF", 4) + u'\0');

    Cell lines = str("a\n\u20AC");
    const char16_t* crlf = unicode::to_utf16_crlf(&lines);
    EXPECT_EQ(std::u16string(crlf), u"a\r\n\u20AC");
    count = 2;
    EXPECT_EQ(std::u16string(unicode::to_utf16(&lines, count, false)), u"a\n");
    EXPECT_EQ(count, 2);
}

TEST_F(StringTest, Utf8Out) {
    Cell s = str("\u00E9\n\u20AC");
    int32_t count = -1;
    const char* c = unicode::to_utf8_cstring_crlf(&s, count, true);
    EXPECT_STREQ(c, "\u00E9\r\n\u20AC");
    EXPECT_EQ(count, 7);
    count = 1;
    EXPECT_STREQ(unicode::to_utf8_cstring(&s, count), "\u00E9");
    EXPECT_EQ(count, 2);
    count = 99;  // more than the string holds: all of it
    unicode::to_utf8_cstring(&s, count);
    EXPECT_EQ(count, 6);

    uint8_t out[8];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(unicode::write_utf8_bounded(&s, out, 1, -1, true), 1);  // the sequence is cut
    EXPECT_EQ(out[0], 0xC3);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(unicode::write_utf8(&s, out, 2, false), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "\u00E9\n");

    // The conversion buffer is kept in the cell and grows only when needed.
    Cell kept = str("abc");
    count = -1;
    unicode::to_utf8_cstring(&kept, count);
    Ref buffer = kept.data3;
    ASSERT_NE(buffer, 0u);
    unicode::to_utf8_cstring(&kept, count);
    EXPECT_EQ(kept.data3, buffer);

    // Widening in place keeps the code points.
    Cell w = str("a\u00E9");
    unicode::widen_1_to_4(series::buffer(&w));
    EXPECT_EQ(unit_of(w), 4u);
    EXPECT_EQ(utf8(w), "a\u00E9");
}

// ---------------------------------------------------------------------------------------------
// append, insert, change

TEST_F(StringTest, Append) {
    Cell block = block_of({str("x"), str("y", Type::tag), str("z", Type::file)});
    struct Case {
        const char* target;
        Cell value;
        int32_t part, dup;
        const char* expected;
    } cases[] = {
        {"", ch(0xE9), -1, 1, "\u00E9"},
        {"", str("b", Type::tag), -1, 1, "<b>"},
        {"", str("bc", Type::tag), 2, 1, "<b"},
        {"", str("ab"), -1, 3, "ababab"},
        {"ab", ch('c'), -1, 2, "abcc"},
        {"", str("abcdef"), 3, 1, "abc"},
        {"a", block, -1, 1, "ax<y>z"},
        {"\u20AC", str("\u00E9", Type::url), -1, 1, "\u20AC\u00E9"},
    };
    for (const Case& c : cases) {
        Cell s = str(c.target);
        s.data1 = 0;
        Cell v = c.value;
        Cell* r = string::append(&s, &v, c.part, false, c.dup);
        EXPECT_EQ(utf8(*r), c.expected);
        EXPECT_EQ(r->data1, 0u);  // at the head it had
    }
    Cell e = str("");
    Cell acute = ch(0xE9);
    string::append(&e, &acute, -1, false, 1);
    EXPECT_EQ(unit_of(e), 2u);
    Cell self = str("ab");
    string::append(&self, &self, -1, false, 2);
    EXPECT_EQ(utf8(self), "ababab");
}

TEST_F(StringTest, InsertAndChange) {
    enum Op { insert, change };
    struct Case {
        Op op;
        const char* target;
        int32_t head;
        Cell value;
        int32_t part, dup;
        const char* expected;
        uint32_t new_head;  // just after the written text
    } cases[] = {
        {insert, "cd", 0, str("ab"), -1, 1, "abcd", 2},
        {insert, "ad", 1, str("bcX"), 2, 1, "abcd", 3},
        {insert, "ab", 2, ch('c'), -1, 3, "abccc", 5},
        {insert, "ab", 1, str("x", Type::tag), -1, 2, "a<x><x>b", 7},
        {insert, "", 0, str("\u20AC"), -1, 1, "\u20AC", 1},
        {change, "abcdef", 0, str("XY"), -1, 1, "XYcdef", 2},
        {change, "abcdef", 0, str("XY"), 4, 1, "XYef", 2},
        {change, "abcdef", 1, str("XY"), 0, 1, "aXYbcdef", 3},
        {change, "ab", 0, str("wxyz"), -1, 1, "wxyz", 4},
        {change, "ab", 2, str("cd"), -1, 1, "abcd", 4},  // at the tail: an append
        {change, "abc", 1, ch(0x20AC), -1, 2, "a\u20AC\u20AC", 3},
        {change, "abcdef", 2, str("x", Type::tag), 99, 1, "ab<x>", 5},
    };
    for (const Case& c : cases) {
        Cell s = str(c.target);
        s.data1 = static_cast<uint32_t>(c.head);
        Cell v = c.value;
        Cell* r = (c.op == insert ? string::insert : string::change)(&s, &v, c.part, false, c.dup);
        EXPECT_EQ(r->data1, c.new_head) << c.target;
        r->data1 = 0;
        EXPECT_EQ(utf8(*r), c.expected) << c.target;
    }
    Cell e = str("");
    Cell acute = ch(0xE9);
    string::insert(&e, &acute, -1, false, 1);
    EXPECT_EQ(unit_of(e), 1u);  // written at a position, Latin-1 stays at unit 1
}

TEST_F(StringTest, OtherValuesAreFormedWhenAppended) {
    Cell s = str("a");
    Cell n = integer(5);
    string::append(&s, &n, -1, false, 1);
    EXPECT_EQ(string::to_utf8(&s), "a5");
}

// ---------------------------------------------------------------------------------------------
// find, select, swap

namespace {

struct FindArgs {
    Cell* part = nullptr;
    bool case_ = false, any = false;
    Cell* skip = nullptr;
    bool last = false, reverse = false, tail = false, match = false;
};

// The head index of the result, or -1 for none.
int32_t find_at(Cell series, Cell value, FindArgs a = {}) {
    slotfn::FindOptions o;
    o.part = a.part;
    o.case_ = a.case_;
    o.any = a.any;
    o.skip = a.skip;
    o.last = a.last;
    o.reverse = a.reverse;
    o.tail = a.tail;
    o.match = a.match;
    Cell* r = string::find(&series, &value, o);
    return r->is(Type::none) ? -1 : r->int1();
}

Cell at(Cell s, int32_t head) {
    s.data1 = static_cast<uint32_t>(head);
    return s;
}

}  // namespace

TEST_F(StringTest, Find) {
    Cell abc = str("abcABC"), abab = str("abcabc");
    Cell two = integer(2), zero = integer(0);
    Cell bits = bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10}, Type::bitset);  // bit 99: "c"
    struct Case {
        Cell series, value;
        FindArgs args;
        int32_t expected;
    } cases[] = {
        {abc, str("B"), {}, 1},
        {abc, str("B"), {.case_ = true}, 4},
        {abc, ch('c'), {}, 2},
        {abc, ch('C'), {.case_ = true}, 5},
        {abc, str("bca"), {}, 1},
        {abc, str("zz"), {}, -1},
        {abc, str(""), {}, -1},
        {abab, str("b"), {.last = true}, 4},
        {abab, str("bc"), {.tail = true}, 3},
        {abab, str("ab"), {.match = true}, 0},
        {abab, str("bc"), {.match = true}, -1},
        {at(abab, 0), str("a"), {.reverse = true}, -1},
        {at(abab, 6), str("b"), {.reverse = true}, 4},
        {at(abab, 4), str("b"), {.reverse = true}, 1},
        {abab, str("c"), {.part = &two}, -1},
        {abab, str("b"), {.part = &two}, 1},
        {abab, str("b"), {.part = &zero}, -1},
        {str("aabb"), ch('b'), {.skip = &two}, 2},
        {str("abab"), ch('b'), {.skip = &two}, -1},
        {abab, bits, {}, 2},
        {at(abab, 6), ch('a'), {}, -1},
        {str("x\u20ACy"), ch(0x20AC), {}, 1},
        {str("\u00E9"), ch(0xC9), {}, 0},  // folded through the case tables
    };
    for (const Case& c : cases) EXPECT_EQ(find_at(c.series, c.value, c.args), c.expected) << utf8(c.series);

    Cell view = at(abab, 2);
    FindArgs part{.part = &view};
    EXPECT_EQ(find_at(abab, str("b"), part), 1);
    Cell other = str("abcabc");
    part.part = &other;
    EXPECT_EQ(raised([&] { find_at(abab, str("b"), part); }), error::id::script_invalid_refine_arg);
    EXPECT_EQ(raised([&] { find_at(abab, str("b"), {.any = true}); }), error::id::internal_not_done);
    EXPECT_EQ(raised([&] { find_at(abab, str("b"), {.skip = &zero}); }), error::id::script_out_of_range);
    EXPECT_EQ(raised([&] { find_at(abab, bytes({'a'}), {}); }), error::id::script_invalid_arg);
}

// The searches scan bytes (memchr, memmem, memrchr) or folded units; whatever the unit, the
// letter case, the direction and the /skip step, they must find what a plain walk over the
// code points finds: never a hit that straddles two units or falls between allowed starts.
TEST_F(StringTest, FastSearchesAgreeWithAPlainWalk) {
    // Latin-1 letters first; U+4100 and U+0100 put the bytes of "A" across two units.
    const char32_t alphabet[] = {U'a', U'A', U'b', U'B', 0xE9, 0xC9, 0xFF, 0x178, 0xB5,
                                 0x39C, 0x20AC, 0x1F600, 0x4100, 0x100, 0x4100};
    std::mt19937 rng(20240611);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    auto fold = [](char32_t c, bool case_) { return case_ ? c : char32_t(case_folding::to_upper(c)); };
    auto encode = [](const std::u32string& t) {
        std::string out;
        for (char32_t c : t) {
            uint8_t buf[4];
            out.append(reinterpret_cast<char*>(buf), size_t(unicode::encode_utf8_char(c, buf)));
        }
        return out;
    };
    for (int round = 0; round < 20000; ++round) {
        Cell* mark = stack::arguments_top;
        // Haystacks of Latin-1 text at every unit, and wider text at units 2 and 4.
        bool latin1 = pick(2) == 0;
        size_t letters = latin1 ? 2 + pick(5) : std::size(alphabet);
        std::u32string hay(pick(16), U'a');
        for (char32_t& c : hay) c = alphabet[pick(letters)];
        if (latin1) hay.push_back(U'b');
        Cell s = str(encode(hay));
        uint32_t unit = std::max<uint32_t>(series::buffer(&s)->unit(), uint32_t(1) << pick(3));
        string::widen(series::buffer(&s), unit);
        // A needle cut from the haystack (letter case changed here and there) or made up.
        std::u32string needle;
        if (!hay.empty() && pick(3) != 0) {
            size_t from = pick(hay.size()), n = 1 + pick(4);
            needle = hay.substr(from, n);
            for (char32_t& c : needle)
                if (pick(3) == 0) c = case_folding::swap_case(c);
        } else {
            needle.assign(1 + pick(3), U'a');
            for (char32_t& c : needle) c = alphabet[pick(std::size(alphabet))];
        }
        bool as_char = needle.size() == 1 && pick(2) == 0;
        Cell value = as_char ? ch(needle[0]) : str(encode(needle));
        bool case_ = pick(2) == 0;
        int32_t step = pick(3) == 0 ? 1 + static_cast<int32_t>(pick(3)) : 1;
        int mode = static_cast<int>(pick(3));  // forward, /last, /reverse
        auto total = static_cast<int32_t>(hay.size());
        auto head = static_cast<int32_t>(pick(hay.size() + 1));
        auto m = static_cast<int32_t>(needle.size());

        // The plain walk: every allowed start in order, code points compared one by one.
        std::vector<int32_t> starts;
        if (mode == 2) {
            int32_t first = head - step;
            while (first >= 0 && first + m > total) first -= step;
            for (int32_t p = first; p >= 0; p -= step) starts.push_back(p);
        } else if (int32_t end = total - m; end >= head) {
            for (int32_t p = head; p <= end; p += step) starts.push_back(p);
            if (mode == 1) {
                starts.assign(1, head + (end - head) / step * step);
                for (int32_t p = starts[0] - step; p >= head; p -= step) starts.push_back(p);
            }
        }
        int32_t expected = -1;
        for (int32_t p : starts) {
            int32_t k = 0;
            while (k < m && fold(hay[size_t(p + k)], case_) == fold(needle[size_t(k)], case_)) ++k;
            if (k == m) {
                expected = p;
                break;
            }
        }
        Cell step_cell = integer(step);
        FindArgs args{.case_ = case_, .skip = step > 1 ? &step_cell : nullptr, .last = mode == 1, .reverse = mode == 2};
        ASSERT_EQ(find_at(at(s, head), value, args), expected)
            << "round " << round << " unit " << unit << " head " << head << " step " << step << " mode " << mode
            << " case " << case_ << " haystack " << encode(hay) << " needle " << encode(needle);
        stack::arguments_top = mark;
    }
}

TEST_F(StringTest, FindInBinary) {
    Cell bin = bytes({1, 2, 3, 0xC3, 0xA9, 'a'});
    EXPECT_EQ(find_at(bin, integer(3)), 2);
    EXPECT_EQ(find_at(bin, str("\u00E9")), 3);  // the UTF-8 bytes of a text
    EXPECT_EQ(find_at(bin, bytes({2, 3})), 1);
    EXPECT_EQ(find_at(bin, str("A")), -1);  // bytes compare exactly
}

TEST_F(StringTest, Select) {
    auto select = action<slotfn::Select>(Type::string, slot::select);
    Cell s = str("a=1;b=2"), key = str("b="), last = str("2");
    Cell* r = select(&s, &key, {});
    ASSERT_TRUE(r->is(Type::char_));
    EXPECT_EQ(r->data2, uint32_t('2'));
    s = str("a=1;b=2");
    EXPECT_TRUE(select(&s, &last, {})->is(Type::none));
    Cell bin = bytes({1, 2, 3}), two = integer(2);
    r = select(&bin, &two, {});
    ASSERT_TRUE(r->is(Type::integer));
    EXPECT_EQ(r->int2(), 3);
}

TEST_F(StringTest, Swap) {
    auto swap = action<slotfn::Swap>(Type::string, slot::swap);
    Cell a = str("ab"), b = str("xy");
    swap(&a, &b);
    EXPECT_EQ(utf8(a), "xb");
    EXPECT_EQ(utf8(b), "ay");
    Cell c = str("a"), wide = str("\u20AC");
    swap(&c, &wide);
    EXPECT_EQ(utf8(c), "\u20AC");
    Cell n = integer(1), bin = bytes({1});
    EXPECT_EQ(raised([&] { swap(&a, &n); }), error::id::script_invalid_arg);
    Cell euro = str("\u20AC");
    EXPECT_EQ(raised([&] { swap(&bin, &euro); }), error::id::script_invalid_arg);  // a byte can't hold it
    EXPECT_EQ(series::buffer(&bin)->unit(), 1u);
}

TEST_F(StringTest, TakeAndIndexedPathsUseTheSeriesCore) {
    auto take = action<slotfn::Take>(Type::string, slot::take);
    Cell s = str("abc"), one = integer(1), x = ch('x');
    Cell* taken = take(&s, nullptr, false, false);
    EXPECT_TRUE(taken->is(Type::char_) && taken->data2 == 'a');
    Cell t = str("abc");
    string::eval_path(&t, &one, &x, false, nullptr, nullptr, 0, true, false);
    EXPECT_EQ(utf8(t), "xbc");
    Cell* picked = string::eval_path(&t, &one, nullptr, false, nullptr, nullptr, 0, true, false);
    EXPECT_TRUE(picked->is(Type::char_) && picked->data2 == 'x');
}

// ---------------------------------------------------------------------------------------------
// trim

TEST_F(StringTest, Trim) {
    enum Mode { plain, head, tail, lines, all, with };
    const std::string sample = "  a  \n  b  \n  ";
    struct Case {
        std::string in;
        Mode mode;
        Cell with;
        std::string expected;
    } cases[] = {
        {sample, plain, {}, "a\nb\n"},
        {sample, lines, {}, "a b"},
        {sample, head, {}, "a  \n  b  \n  "},
        {sample, tail, {}, "  a  \n  b"},
        {"  a b  ", plain, {}, "a b"},
        {"\t a\t \n\u3000b \u00A0", plain, {}, "a\nb"},
        {std::string("  \0a ", 5), plain, {}, std::string("\0a", 2)},  // NUL is not white space
        {" a \t\r\nb\u00A0", all, {}, "ab\u00A0"},
        {"a-b-c", with, str("-"), "abc"},
        {"a-b-c", with, ch('b'), "a--c"},
        {"a-b-c", with, integer('a'), "-b-c"},
    };
    auto trim = action<slotfn::Trim>(Type::string, slot::trim);
    for (const Case& c : cases) {
        Cell s = str(c.in);
        Cell w = c.with;
        Cell* r = trim(&s, {.head = c.mode == head, .tail = c.mode == tail, .lines = c.mode == lines,
                            .all = c.mode == all, .with = c.mode == with ? &w : nullptr});
        EXPECT_EQ(utf8(*r), c.expected) << c.in << " mode " << c.mode;
    }
    // Only the text from the head is trimmed.
    Cell s = str("  a  ");
    s.data1 = 1;
    trim(&s, {});
    EXPECT_EQ(utf8(at(s, 0)), " a");
    EXPECT_EQ(raised([&] { trim(&s, {.auto_ = true}); }), error::id::internal_not_done);
}

TEST_F(StringTest, SetOperations) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        bool case_;
        const char* expected;
    } cases[] = {
        {"abAB", nullptr, 8, false, "ab"},
        {"abAB", nullptr, 8, true, "abAB"},
        {"abc", "bcd", 9, false, "abcd"},
        {"abc", "BCD", 10, false, "bc"},
        {"abc", "bcd", 11, false, "a"},
        {"abc", "bcd", 12, false, "ad"},
        {"aabb", "", 12, false, "ab"},
    };
    for (const Case& c : cases) {
        Cell a = str(c.a), b = c.b ? str(c.b) : Cell{};
        Cell* r = string::set_op(&a, c.b ? &b : nullptr, c.op, c.case_, nullptr);
        EXPECT_EQ(utf8(*r), c.expected) << c.a << " op " << c.op;
    }
    Cell a = str("abcdab"), two = integer(2), zero = integer(0);
    EXPECT_EQ(utf8(*string::set_op(&a, nullptr, 8, false, &two)), "abcd");
    EXPECT_EQ(raised([&] { string::set_op(&a, nullptr, 8, false, &zero); }), error::id::script_invalid_refine_arg);
}

// ---------------------------------------------------------------------------------------------
// make, to, form, mold, compare

TEST_F(StringTest, MakeAndTo) {
    Cell proto{};
    Cell ten = integer(10), minus = integer(-1);
    Cell* r = string::make(&proto, &ten, static_cast<int32_t>(Type::string));
    EXPECT_TRUE(r->is(Type::string));
    EXPECT_EQ(string::char_count(r), 0);
    EXPECT_EQ(raised([&] { string::make(&proto, &minus, 7); }), error::id::script_out_of_range);
    Cell half{static_cast<uint32_t>(Type::float_), 0, 0, 0};
    half.set_float23(-0.5);
    EXPECT_EQ(raised([&] { string::make(&proto, &half, 7); }), error::id::script_out_of_range);

    struct Case {
        Cell value;
        Type target;
        const char* expected;
    } cases[] = {
        {str("a b", Type::file), Type::string, "a b"},
        {str("x", Type::tag), Type::string, "x"},
        {str("abc"), Type::file, "abc"},
        {block_of({str("a"), str("b", Type::tag)}), Type::string, "a<b>"},
        {bytes({'a', 0xC3, 0xA9}), Type::string, "a\u00E9"},
        {bytes({0xEF, 0xBB, 0xBF, 'z'}), Type::url, "z"},
    };
    for (const Case& c : cases) {
        Cell v = c.value;
        Cell* out = string::to(&proto, &v, static_cast<int32_t>(c.target));
        EXPECT_EQ(out->type(), c.target);
        EXPECT_EQ(utf8(*out), c.expected);
    }
    // The copy is a new series.
    Cell original = str("abc");
    Cell* copy = string::to(&proto, &original, 7);
    EXPECT_NE(copy->data2, original.data2);

    Cell none = none::shared;
    EXPECT_EQ(raised([&] { string::to(&proto, &none, 7); }), error::id::script_bad_to_arg);
    Cell bad = bytes({'a', 0xFF});
    EXPECT_EQ(raised([&] { string::to(&proto, &bad, 7); }), error::id::access_invalid_utf8);
    Cell cut = bytes({'a', 0xE2, 0x82});
    EXPECT_EQ(raised([&] { string::to(&proto, &cut, 7); }), error::id::access_invalid_utf8);
    EXPECT_EQ(series::length(&error::last.args[0]), 2);  // the bytes left over
}

TEST_F(StringTest, Mold) {
    const std::string s49(49, 'x'), s50(50, 'x');
    struct Case {
        std::string in;
        bool all;
        std::string expected;
    } cases[] = {
        {"", false, "\"\""},
        {s49, false, "\"" + s49 + "\""},
        {s50, false, "{" + s50 + "}"},
        {"a\"b", false, "{a\"b}"},
        {"a\nb\nc", false, "\"a^/b^/c\""},
        {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
        {"a}b", false, "\"a}b\""},
        {"\"}", false, "{\"^}}"},
        {"{x}\"", false, "{{x}\"}"},
        {"\"{", false, "{\"^{}"},
        {"\"{}{", false, "{\"{}^{}"},
        {"\"{{}", false, "{\"^{^{^}}"},
        {"\"^\t", false, "{\"^^^-}"},
        {"\u00E9", false, "\"\u00E9\""},
        {"\u00E9", true, "\"^(E9)\""},
        {"\u0085", false, "\"^(85)\""},
        {"\u20AC", true, "\"^(20AC)\""},
        {std::string("\0\x1E\x1F\x7F^", 5), false, "\"^@^(1E)^_^~^^\""},
        {"\t\n\r", false, "\"^-^/^M\""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(str(c.in), c.all), c.expected) << c.in;

    // With /part the range is cut first; the budget drops by all that was written, escapes
    // and delimiters included, so a block molding after it stops in time.
    struct Budget {
        const char* in;
        bool part;
        int32_t budget;
        const char* out;
        int32_t left;
    } budgets[] = {
        {"abcdef", true, 3, "\"abc\"", -2},
        {"a\nb\nc", true, 3, "\"a^/b\"", -3},
        {"a\nb", false, 100, "\"a^/b\"", 94},
        {"\u0085\"", false, 100, "{^(85)\"}", 92},
    };
    for (const Budget& b : budgets) {
        Cell s = str(b.in), out = str(""), limit = integer(b.budget);
        EXPECT_EQ(string::mold(&s, &out, false, false, false, b.part ? &limit : nullptr, b.budget, 0), b.left) << b.in;
        EXPECT_EQ(utf8(out), b.out);
    }
}

TEST_F(StringTest, Form) {
    EXPECT_EQ(form(str("a\"b\n")), "a\"b\n");
    Cell s = str("abcdef"), out = str(""), limit = integer(4);
    s.data1 = 1;
    EXPECT_EQ(string::form(&s, &out, &limit, 4), -1);
    EXPECT_EQ(utf8(out), "bcde");
    EXPECT_EQ(string::form(&s, &out, nullptr, actions::no_limit), actions::no_limit - 5);
}

TEST_F(StringTest, Compare) {
    namespace op = actions::op;
    struct Case {
        Cell a, b;
        int32_t code;
        int32_t expected;
    } cases[] = {
        {str("abc"), str("ABC"), op::equal, 0},
        {str("abc"), str("ABC"), op::strict_equal, 1},
        {str("abc"), str("abd"), op::lesser, -1},
        {str("abc"), str("ab"), op::greater, 1},
        {str("abc"), str("abcd"), op::equal, 1},
        {str("b"), str("A"), op::sort, 1},
        {str("b"), str("A"), op::sort_case, 1},
        {str("a"), str("B"), op::sort_case, 1},
        {str("\u00E9"), str("\u00C9"), op::equal, 0},
        {str("abc", Type::file), str("ABC"), op::equal, 0},
        {str("abc", Type::file), str("abc"), op::strict_equal, -2},
        {str("abc", Type::file), str("abc"), op::lesser, -2},
        {str("abc"), integer(1), op::equal, -2},
        {str("abc"), str("abc"), op::same, -1},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(string::compare(&a, &b, c.code), c.expected) << utf8(c.a) << " code " << c.code;
    }
    Cell s = str("abc"), t = s;
    EXPECT_EQ(string::compare(&s, &t, op::same), 0);
    EXPECT_TRUE(actions::compare(&s, &t, op::equal));

    // Match mode: a prefix test.
    Cell in = str("abcdef"), pre = str("ABC"), longer = str("abcdefg"), empty = str("");
    EXPECT_EQ(string::compare_op(&in, &pre, op::equal, true), 0);
    EXPECT_EQ(string::compare_op(&in, &pre, op::strict_equal, true), 1);
    EXPECT_EQ(string::compare_op(&in, &longer, op::equal, true), 1);
    EXPECT_EQ(string::compare_op(&in, &empty, op::find, true), 1);
    EXPECT_EQ(string::compare_op(&in, &empty, op::equal, true), 0);
}

TEST_F(StringTest, EvalPath) {
    Cell s = str("a=1;b=2"), key = str("b=");
    Cell* r = string::eval_path(&s, &key, nullptr, false, nullptr, nullptr, 0, true, false);
    ASSERT_TRUE(r->is(Type::char_));
    EXPECT_EQ(r->data2, uint32_t('2'));
    EXPECT_EQ(utf8(s), "a=1;b=2");  // the value itself is untouched
    Cell word{static_cast<uint32_t>(Type::word), 0, 0, 0}, missing = str("z"), v = ch('x');
    EXPECT_EQ(raised([&] { string::eval_path(&s, &word, nullptr, false, nullptr, nullptr, 0, true, false); }),
              error::id::script_invalid_path);
    EXPECT_EQ(raised([&] { string::eval_path(&s, &missing, &v, false, nullptr, nullptr, 0, true, false); }),
              error::id::script_bad_path_set);
}

// ---------------------------------------------------------------------------------------------
// Helpers of parse and forming

TEST_F(StringTest, TextHelpers) {
    EXPECT_EQ(string::byte_to_hex(0xAB), "AB");
    EXPECT_EQ(string::byte_to_hex(0x05), "05");
    EXPECT_EQ(string::to_hex_8(0x1A2B4, false), "0001A2B4");
    EXPECT_EQ(string::to_hex_8(0x1A2B4, true), "1A2B4");
    EXPECT_EQ(string::to_hex_8(-1, false), "FFFFFFFF");
    EXPECT_EQ(string::to_hex_8(0, true), "00");

    Cell bits = bytes({0x40}, Type::bitset);  // bit 1
    Cell one = str("\x01"), two = str("\x02"), far = str("\u20AC");
    EXPECT_TRUE(string::head_in_bitset_q(&one, &bits));
    EXPECT_FALSE(string::head_in_bitset_q(&two, &bits));
    EXPECT_FALSE(string::head_in_bitset_q(&far, &bits));
    series::buffer(&bits)->flags |= 0x80000;  // complemented: everything past the bits is in
    EXPECT_TRUE(string::head_in_bitset_q(&far, &bits));

    Cell input = str("<b>rest"), tag = str("B", Type::tag), other = str("bb", Type::tag);
    EXPECT_TRUE(string::angle_bracketed_q(&input, &tag));
    EXPECT_FALSE(string::angle_bracketed_q(&input, &other));
    EXPECT_TRUE(string::match_value(&input, &tag, actions::op::equal));
    EXPECT_FALSE(string::match_value(&input, &tag, actions::op::strict_equal));
    Cell lt = ch('<'), prefix = str("<B>R");
    EXPECT_TRUE(string::match_value(&input, &lt, actions::op::equal));
    EXPECT_TRUE(string::match_value(&input, &prefix, actions::op::equal));
    Cell n = integer(1);
    EXPECT_FALSE(string::match_value(&input, &n, actions::op::equal));
}
