// ZUVBIN: round trips of every datatype in both encodings, sharing and cycles surviving
// them, the exact bytes of the format's corner cases, the boot forms of word records, the
// embedded boot data, and malformed blobs (a table, then random mutations) that must raise
// an error and never crash.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "library/boot.h"
#include "evaluator/memory-stats.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "io/compression.h"
#include "reader/lexer-load.h"
#include "reader/zuvbin.h"
#include "runtime/system.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;
using Bytes = std::vector<uint8_t>;

namespace {

// The language booted once (the boot sections were decoded when the runtime started).
class ZuvbinTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        static bool booted = false;
        if (!booted) {
            booted = true;
            boot::run_script();
        }
        stack::push_slot();  // an uncaught error lands in the frame's first cell
    }
};

Cell eval(const std::string& code) {
    Cell r;
    boot::run_text(code, "test", &r);
    return *stack::push(&r);
}

// Runs f; the id of the error it raised, or nullopt. The stacks come back as they were.
template <class F>
std::optional<error::Id> raised(F f) {
    Cell* top = stack::arguments_top;
    Cell* base = stack::arguments_base;
    Cell saved = *base;
    stack::CallFrame* calls = stack::calls_top;
    try {
        f();
        return std::nullopt;
    } catch (const runtime::Throw&) {
        stack::arguments_top = top;
        stack::arguments_base = base;
        *base = saved;
        stack::calls_top = calls;
        return error::last.id;
    }
}

Bytes blob_of(const Cell& v, bool compact) { return zuvbin::encode_bytes(&v, compact); }

// The root values of a blob decoded at run time, in a new block on the stack.
Cell* decoded(const Bytes& blob) {
    Cell* out = block::push_new(2);
    zuvbin::decode(blob, out, true);
    return out;
}

Cell round_trip(const Cell& v, bool compact) {
    Cell* out = decoded(blob_of(v, compact));
    EXPECT_EQ(block::length(out), 1);
    return *block::head(out);
}

Cell item(const Cell& b, int32_t i) { return *block::cell_at(&b, i); }

std::string mold_all(const Cell& v) { return mold(v, true); }

// A compact blob from its parts: symbol names and the record bytes.
Bytes compact_blob(const std::vector<std::string>& names, const Bytes& records) {
    Bytes b = {'Z', 'U', 'V', 'B', 'I', 'N', 2, static_cast<uint8_t>(names.empty() ? 1 : 5), 1};
    auto varint = [&](uint32_t u) {
        while (u >= 0x80) b.push_back(static_cast<uint8_t>(u | 0x80)), u >>= 7;
        b.push_back(static_cast<uint8_t>(u));
    };
    varint(static_cast<uint32_t>(records.size()));
    if (!names.empty()) {
        std::string area;
        Bytes offsets;
        for (const std::string& n : names) {
            uint32_t o = static_cast<uint32_t>(area.size());
            for (int i = 0; i < 4; ++i) offsets.push_back(static_cast<uint8_t>(o >> (8 * i)));
            area += n;
            area.push_back('\0');
        }
        varint(static_cast<uint32_t>(names.size()));
        varint(static_cast<uint32_t>(area.size()));
        b.insert(b.end(), offsets.begin(), offsets.end());
        b.insert(b.end(), area.begin(), area.end());
    }
    b.insert(b.end(), records.begin(), records.end());
    return b;
}

// The records of a blob without symbols: what follows the header and the two varints.
Bytes compact_records(const Bytes& blob) {
    size_t p = 9;
    while (blob[p] & 0x80) ++p;
    return Bytes(blob.begin() + static_cast<long>(p + 1), blob.end());
}

}  // namespace

// Every datatype that has a record goes through both encodings and comes back the same:
// the same mold/all, and for values in the cell itself the same cell.
TEST_F(ZuvbinTest, EveryDatatypeRoundTrips) {
    const char* cases[] = {
        "integer!", "()", "none", "true", "false", "#\"a\"", "#\"^(10FFFF)\"", "0", "63", "64", "-1",
        "2147483647", "-2147483648", "2.0", "2.5", "-0.0", "1e300", "0.1", "50%", "12.345%", "-0.5%",
        "1:02:03", "1:02:03.5", "1x-2", "(1.5, 2)", "(1, 2, 3)", "1.2.3", "1.2.3.4", "1.2.3.4.5.6.7.8.9.10.11.12",
        "1-Jan-2000", "29-Feb-2024/10:20:30+5:30", "$1.23", "-EUR$4.5", "make typeset! [integer! block!]",
        "any-type!", "#abc", "\"abc\"", "\"ñ\"", "\"😀 and more\"", "%dir/file.txt", "http://x.y/z", "<tag a=1>",
        "a@b.c", "@ref", "#{DEADBEEF}", "#{}", "make vector! [integer! 16 [1 -2 3]]",
        "make vector! [float! 64 [1.5 2.0]]", "make vector! [char! 8 [#\"a\"]]", "make bitset! \"abc\"",
        "complement make bitset! \"a\"", "[a b [c] (d) \"e\"]", "[]", "'a/b/c", "pick [a/b:] 1", "pick [:a/b] 1",
        "pick [(a b)] 1", "make hash! [a 1 b 2]", "make map! [a 1 \"b\" 2 3 [x]]", "make map! []", "'word",
        "to set-word! 'x", "pick [:x] 1", "pick ['x] 1", "/ref", "next \"abc\"", "next next [1 2 3]",
        "tail \"abc\"", "make object! [a: 1 b: \"x\" c: [1 2]]", "func [x /y z] [x + 1]", ":if", ":add", ":+",
        "make op! func [a b] [a - b]", "try [1 / 0]", "make error! [script no-value x]",
        "[a\n b\n]",
    };
    for (const char* code : cases) {
        Cell v = eval(code);
        for (bool compact : {false, true}) {
            SCOPED_TRACE(std::string(code) + (compact ? " compact" : " plain"));
            Cell back = round_trip(v, compact);
            EXPECT_EQ(back.type(), v.type());
            EXPECT_EQ(mold_all(back), mold_all(v));
            switch (v.type()) {
                case Type::datatype: case Type::unset: case Type::none: case Type::logic: case Type::char_:
                case Type::integer: case Type::float_: case Type::percent: case Type::time: case Type::pair:
                case Type::point2D: case Type::point3D: case Type::tuple: case Type::date: case Type::money:
                case Type::typeset:
                    EXPECT_EQ(std::memcmp(&back, &v, sizeof(Cell)), 0) << "the same cell";
                    break;
                default:
                    break;
            }
            if (block::family_q(v.type()) || string::family_q(v.type())) {
                EXPECT_EQ(back.int1(), v.int1());
            }
        }
    }
}

// Decoded values work: functions run, words are bound where they were, maps and hashes
// find their keys, an op still works between its arguments.
TEST_F(ZuvbinTest, DecodedValuesBehave) {
    Cell o = eval("make object! [a: 10 f: func [x] [a + x] g: does [a: a + 1]]");
    Cell m = eval("make map! [k 1 \"s\" 2]");
    Cell h = eval("make hash! [p 1 q 2]");
    Cell minus = eval("make op! func [a b] [a - b]");
    Cell watched = eval("make object! [a: 1 log: [] on-change*: func [w old new] [append log w]]");
    for (bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "plain");
        Cell o2 = round_trip(o, compact);
        context::set(words::load("zb-o"), &o2);
        EXPECT_EQ(mold(eval("zb-o/f 5")), "15");
        eval("zb-o/g");
        EXPECT_EQ(mold(eval("zb-o/a")), "11") << "the body's words are bound to the decoded object";
        EXPECT_EQ(mold(eval("zb-o/f 1")), "12");

        Cell m2 = round_trip(m, compact);
        context::set(words::load("zb-m"), &m2);
        EXPECT_EQ(mold(eval("select zb-m 'k")), "1");
        EXPECT_EQ(mold(eval("select zb-m \"S\"")), "2");
        Cell h2 = round_trip(h, compact);
        context::set(words::load("zb-h"), &h2);
        EXPECT_EQ(mold(eval("select zb-h 'q")), "2");
        Cell minus2 = round_trip(minus, compact);
        context::set(words::load("zb-minus"), &minus2);
        EXPECT_EQ(mold(eval("10 zb-minus 3")), "7");
        Cell watched2 = round_trip(watched, compact);
        context::set(words::load("zb-w"), &watched2);
        EXPECT_EQ(mold(eval("zb-w/a: 5 zb-w/log")), "[a]") << "the change handler still fires";
    }
}

// The same series twice, a block inside itself, an object holding functions bound to it,
// and words of one context before their owner: one buffer or context after decoding.
TEST_F(ZuvbinTest, SharingAndCyclesSurvive) {
    Cell v = eval("s: \"abc\" b: [1] append/only b b reduce [s next s b]");
    for (bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "plain");
        Cell back = round_trip(v, compact);
        Cell s1 = item(back, 0), s2 = item(back, 1), b = item(back, 2);
        EXPECT_EQ(s1.data2, s2.data2);
        EXPECT_EQ(s2.int1(), 1);
        EXPECT_EQ(item(b, 1).data2, b.data2) << "the block holds itself";
        context::set(words::load("zb-v"), &back);
        eval("append zb-v/1 \"d\"");
        EXPECT_EQ(mold(item(back, 1)), "\"bcd\"") << "changing one changes the other";
    }

    Cell words = eval("o: make object! [x: 1 y: 2] reduce [in o 'y in o 'x o]");
    for (bool compact : {false, true}) {
        Cell back = round_trip(words, compact);
        Cell y = item(back, 0), x = item(back, 1), obj = item(back, 2);
        ASSERT_TRUE(obj.is(Type::object));
        EXPECT_EQ(y.data1, obj.data1);
        EXPECT_EQ(x.data1, obj.data1);
        EXPECT_EQ(context::get(&y)->int2(), 2);
    }

    Cell f = eval("f: func [n] [n * 2] reduce [:f :f]");
    for (bool compact : {false, true}) {
        Cell back = round_trip(f, compact);
        EXPECT_EQ(item(back, 0).data3, item(back, 1).data3) << "one function";
    }

    // A path into an error counts its fields where its context keeps them (arg1 is 3).
    Cell in_error = eval("e: make error! [script no-value x] e/arg1: [shared] reduce [e e/arg1]");
    for (bool compact : {false, true}) {
        Cell back = round_trip(in_error, compact);
        context::set(words::load("zb-ie"), &back);
        EXPECT_EQ(mold(eval("same? zb-ie/1/arg1 zb-ie/2")), "true");
    }

    // One buffer seen as a string! and as a binary!: the second is written in full again,
    // as no reference can cross those kinds.
    Cell text = eval("\"bytes\"");
    Cell bytes = text;
    bytes.set_type(Type::binary);
    Cell* both = block::push_new(2);
    block::append(both, &text);
    block::append(both, &bytes);
    for (bool compact : {false, true}) {
        Cell back = round_trip(*both, compact);
        EXPECT_EQ(mold(back), "[\"bytes\" #{6279746573}]");
    }

    // An error that holds itself is written once and referred to.
    Cell e = eval("e: try [1 / 0] e/arg1: e e");
    for (bool compact : {false, true}) {
        Cell back = round_trip(e, compact);
        context::set(words::load("zb-e"), &back);
        EXPECT_EQ(mold(eval("same? zb-e zb-e/arg1")), "true");
        EXPECT_EQ(mold(eval("zb-e/id")), "zero-divide");
    }
}

// The bytes the format fixes for small cases.
TEST_F(ZuvbinTest, BytesOfTheFormat) {
    Cell one = integer(1);
    Bytes plain = blob_of(one, false);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 8), (Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 0}));
    EXPECT_EQ(Bytes(plain.begin() + 8, plain.begin() + 16), (Bytes{1, 0, 0, 0, 8, 0, 0, 0}));
    EXPECT_EQ(blob_of(eval("'a"), false)[7], 4);
    EXPECT_EQ(blob_of(eval("'a"), true)[7], 5);
    EXPECT_EQ(blob_of(one, true)[7], 1);

    struct Case {
        const char* code;
        Bytes records;
    };
    const Case compact_cases[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"2.0", {0x4C, 0x04}},
        {"2.5", {0x0C, 0, 0, 0, 0, 0, 0, 0x04, 0x40}},
        {"-0.0", {0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"50%", {0x66, 100}},
        {"1.2.3", {0x27, 1, 2, 3}},
        {"1.2.3.4", {0x67, 4, 1, 2, 3, 4}},
        {"true", {0xC2}},
        {"[1\n 2]", {0x05, 2, 0x81, 0xC0, 0x82}},
        {"next [1 2]", {0x45, 1, 2, 0x81, 0x82}},
        {"reduce [s: \"x\" s]", {0x05, 2, 0x07, 0x04, 'x', 0xC1, 0x07, 2, 0, 0}},
    };
    for (const Case& c : compact_cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(compact_records(blob_of(eval(c.code), true)), c.records);
    }

    Bytes abc = blob_of(eval("\"abc\""), false);
    EXPECT_EQ(Bytes(abc.begin() + 16, abc.end()), (Bytes{7, 1, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}));
    // The same string twice: the second time a reference to (position of the block, 0).
    Bytes twice = blob_of(eval("reduce [s: \"x\" s]"), false);
    Bytes tail(twice.end() - 24, twice.end());
    EXPECT_EQ(tail, (Bytes{7, 1, 8, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // A float record starts on an 8-byte boundary of the records area.
    Bytes fl = blob_of(eval("[1.5]"), false);
    EXPECT_EQ(Bytes(fl.begin() + 16, fl.begin() + 32), (Bytes{5, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
}

// Boot forms: a definition sets its word and leaves no value behind; a word bound to the
// context of an earlier literal, by index or by look-up.
TEST_F(ZuvbinTest, BootFormsBindAndDefine) {
    // An object record (literal 0), words bound to it, then a definition.
    Bytes records = {0x20, 0x00, 0x0E, 0x12, 2, 0, 1, 0x81, 0x82,  // object [p: 1 q: 2]
                     0x4F, 1, 0, 0x01,                              // q bound to literal 0, look-up
                     0x4F, 0, 0, 0x00,                              // p bound to literal 0, index 0
                     0xC4, 0x10, 2, 0x85};                           // zb-defined: 5
    Bytes blob = compact_blob({"p", "q", "zb-defined"}, records);
    Cell* out = block::push_new(4);
    zuvbin::decode(blob, out, false);
    ASSERT_EQ(block::length(out), 3);
    Cell o = item(*out, 0), q = item(*out, 1), p = item(*out, 2);
    EXPECT_EQ(q.data1, o.data1);
    EXPECT_EQ(context::get(&q)->int2(), 2);
    EXPECT_EQ(context::get(&p)->int2(), 1);
    EXPECT_EQ(mold(eval("zb-defined")), "5");
}

// The embedded boot data decodes to what the lexer makes of the sources.
TEST_F(ZuvbinTest, BootSectionsMatchTheSources) {
    ASSERT_GT(boot::source_count, 0);
    std::string src = std::string(__FILE__);
    src = src.substr(0, src.rfind("/tests/")) + "/src/";
    for (int i = 0; i < boot::source_count; ++i) {
        std::string name = boot::sources[i].name;
        name = name.substr(0, name.rfind('.')) + ".zuv";
        SCOPED_TRACE(name);
        // The sections come from the library, Ridi and console folders.
        std::ifstream in;
        for (const char* folder : {"library/", "ridi/", "console/"}) {
            in.open(src + folder + name, std::ios::binary);
            if (in) break;
            in.clear();
        }
        ASSERT_TRUE(in.is_open());
        std::stringstream text;
        text << in.rdbuf();
        Cell* loaded = block::push_new(16);
        lexer::load_into(loaded, text.str());
        Cell section = *block::cell_at(&block::root, boot::section_roots[static_cast<size_t>(i)]);
        EXPECT_EQ(mold_all(section), mold_all(*loaded));
        EXPECT_EQ(boot::sources[i].data[6], 1) << "the boot data's version";
    }
}

// A compressed body decodes like the plain one; corrupted compressed data is invalid data.
TEST_F(ZuvbinTest, CompressedBodies) {
    Cell v = eval("[a \"text text text text\" 1.5 [nested]]");
    for (bool compact : {false, true}) {
        Bytes blob = blob_of(v, compact);
        Bytes body(blob.begin() + 8, blob.end());
        Bytes packed = compression::lz_compress(body);
        Bytes z(blob.begin(), blob.begin() + 8);
        z[7] |= 2;
        z.insert(z.end(), packed.begin(), packed.end());
        EXPECT_EQ(mold_all(*block::head(decoded(z))), mold_all(v));
        z.resize(16 + (z.size() - 16) / 2);
        EXPECT_EQ(raised([&] { decoded(z); }), error::id::script_invalid_data);
    }
}

// Kinds without a record are refused with no-codec, and the next encode starts clean.
TEST_F(ZuvbinTest, RefusedKinds) {
    Cell port;
    cell::make(&port, Type::port);
    Cell* b = block::push_new(2);
    block::append(b, &port);
    Cell holder = *b;
    EXPECT_EQ(raised([&] { zuvbin::encode_bytes(&holder, true); }), error::id::access_no_codec);
    EXPECT_TRUE(error::last.args[0].is(Type::port));
    for (Type t : {Type::triple, Type::handle, Type::routine, Type::event}) {
        Cell c;
        cell::make(&c, t);
        EXPECT_EQ(raised([&] { zuvbin::encode_bytes(&c, false); }), error::id::access_no_codec);
    }
    Cell again = eval("reduce [s: \"x\" s]");
    EXPECT_EQ(compact_records(blob_of(again, true)), (Bytes{0x05, 2, 0x07, 0x04, 'x', 0xC1, 0x07, 2, 0, 0}));

    for (uint8_t tag : {0x1D, 0x1F, 0x2E, 0x30, 0x36}) {
        SCOPED_TRACE(tag);
        EXPECT_EQ(raised([&] { decoded(compact_blob({}, {tag})); }), error::id::access_no_codec);
        EXPECT_TRUE(error::last.args[0].is(Type::datatype));
    }
}

// An image: its head, its size and its pixel words as stored (B, G, R, A bytes); one with no
// pixels keeps its size; pixels beyond the blob or a head past them are refused.
TEST_F(ZuvbinTest, Images) {
    Cell one = eval("make image! [1x1 #{010203} #{40}]");
    EXPECT_EQ(compact_records(blob_of(one, true)), (Bytes{0x35, 1, 1, 0x03, 0x02, 0x01, 0xBF}));
    Cell moved = eval("next make image! [2x1 #{010203040506}]");
    Bytes records = compact_records(blob_of(moved, true));
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[1], 1) << "the head index after the modified tag";
    for (bool compact : {true, false}) {
        for (const char* source : {"make image! [2x1 #{010203040506}]", "next make image! 2x2", "make image! 0x3"}) {
            Cell v = eval(source);
            Cell* back = decoded(blob_of(v, compact));
            EXPECT_EQ(mold(*block::head(back), true), mold(v, true)) << source;
            EXPECT_EQ(block::head(back)->int1(), v.int1()) << source;
        }
    }
    EXPECT_EQ(raised([&] { decoded(compact_blob({}, {0x35, 2, 2, 1, 2, 3, 4})); }), error::id::script_zb_invalid_record);
    EXPECT_EQ(raised([&] { decoded(compact_blob({}, {0x35 | 0x40, 3, 1, 1, 1, 2, 3, 4})); }),
              error::id::script_zb_invalid_record);
}

// Malformed blobs raise invalid-data or zb-invalid-record (with the failing offset).
TEST_F(ZuvbinTest, MalformedBlobsAreRefused) {
    const error::Id bad = error::id::script_zb_invalid_record, data = error::id::script_invalid_data;
    struct Case {
        const char* what;
        Bytes blob;
        error::Id id;
    };
    Bytes plain_header = {'Z', 'U', 'V', 'B', 'I', 'N', 2, 0};
    const Case cases[] = {
        {"no magic", {'Z', 'U', 'V', 'B', 'I', 'X', 2, 1, 1, 1, 0x80}, data},
        {"short plain body", {'Z', 'U', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 4}, data},
        {"payload past the end", {'Z', 'U', 'V', 'B', 'I', 'N', 2, 1, 1, 5, 0x81}, bad},
        {"tag 0xC5", compact_blob({}, {0xC5}), bad},
        {"tag 0", compact_blob({}, {0x00}), bad},
        {"escaped id 0", compact_blob({}, {0x3F, 0x00}), bad},
        {"unknown id", compact_blob({}, {0x3F, 0x40}), bad},
        {"logic! tag", compact_blob({}, {0x04}), bad},
        {"prefix at the end", compact_blob({}, {0xC0}), bad},
        {"reference prefix on an integer", compact_blob({}, {0xC1, 0x81}), bad},
        {"definition at run time", compact_blob({"a"}, {0xC4, 0x0F, 0, 0x81}), bad},
        {"symbol index out of range", compact_blob({"a"}, {0x0F, 1}), bad},
        {"issue without a table", compact_blob({}, {0x14, 0}), bad},
        {"varint of six bytes", compact_blob({}, {0x0B, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), bad},
        {"fifth varint byte too big", compact_blob({}, {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}), bad},
        {"block count past the end", compact_blob({}, {0x05, 5, 0x81}), bad},
        {"string past the end", compact_blob({}, {0x07, 0x14, 'a'}), bad},
        {"string of unit 8", compact_blob({}, {0x07, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}), bad},
        {"head past the length", compact_blob({}, {0x47, 3, 0x04, 'a'}), bad},
        {"code point too big", compact_blob({}, {0x0A, 0x80, 0x80, 0xC4, 0x00}), bad},
        {"typeset of 13 bytes", compact_blob({}, {0x21, 13}), bad},
        {"tuple of 13 bytes", compact_blob({}, {0x67, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), bad},
        {"tuple of 0 bytes", compact_blob({}, {0x67, 0}), bad},
        {"month 13", compact_blob({}, {0x2F, 0x80, 0xD0, 0xA0, 0x0F}), bad},
        {"money digit 0xA", compact_blob({}, {0x31, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), bad},
        {"datatype 99", compact_blob({}, {0x01, 99}), bad},
        {"vector of element block!", compact_blob({}, {0x23, 0x16, 0}), bad},
        {"map of an odd count", compact_blob({}, {0x28, 1, 0x81}), bad},
        {"map key of a block", compact_blob({}, {0x28, 2, 0x05, 0, 0x81}), bad},
        {"context at the top", compact_blob({}, {0x0E, 0x12, 0}), bad},
        {"path to nothing", compact_blob({}, {0xFF, 1, 3}), bad},
        {"empty path", compact_blob({}, {0xFF, 0}), bad},
        {"path into a scalar", compact_blob({}, {0x81, 0xFF, 2, 0, 0}), bad},
        {"path outside a block", compact_blob({}, {0x05, 1, 0xFF, 2, 0, 1}), bad},
        {"reference of another family", compact_blob({}, {0x29, 1, 0, 0xC1, 0x07, 1, 0}), bad},
        {"object of a function context", compact_blob({}, {0x20, 0, 0x0E, 0x05, 0}), bad},
        {"word index past its context",
         compact_blob({"a"}, {0x4F, 0, 6, 0x20, 0, 0x0E, 0x12, 1, 0, 0x81}), bad},
        {"context word twice", compact_blob({"a", "A"}, {0x20, 0, 0x0E, 0x12, 2, 0, 1, 0x81, 0x82}), bad},
        {"function whose context is not its spec",
         compact_blob({"a", "b"}, {0x18, 1, 0, 0x0E, 0x05, 1, 1, 0x05, 1, 0x0F, 0, 0x05, 0}), bad},
        {"native index 0", compact_blob({}, {0x15, 0, 0x05, 0}), bad},
        {"native of a string spec", compact_blob({}, {0x15, 1, 0x07, 0}), bad},
        {"op of an integer", compact_blob({}, {0x17, 0x81}), bad},
        {"error code unknown", compact_blob({}, {0x22, 0xE7, 0x07, 0x83, 0x83, 0x83, 0x83, 0x83, 0x83}), bad},
        {"symbol area without a final NUL",
         {'Z', 'U', 'V', 'B', 'I', 'N', 2, 5, 1, 2, 1, 2, 0, 0, 0, 0, 'a', 'b', 0x0F, 0}, bad},
        {"empty symbol name", compact_blob({""}, {0x0F, 0}), bad},
        {"symbol not UTF-8", compact_blob({"\xC3("}, {0x0F, 0}), bad},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(raised([&] { decoded(c.blob); }), c.id);
    }
    // The offset names the failing byte, counted from 1 at the blob's first byte.
    raised([&] { decoded(compact_blob({}, {0x81, 0xC5})); });
    EXPECT_EQ(error::last.args[0].int2(), 12);

    // Plain blobs: a truncated record, a bad reference record and a symbol offset outside
    // the string area.
    Bytes p = plain_header;
    for (uint32_t w : {1u, 12u, 0x0Bu, 5u}) p.insert(p.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
    EXPECT_EQ(raised([&] { decoded(p); }), bad) << "payload past the end";
    Bytes r = plain_header;
    for (uint32_t w : {1u, 12u, 0xFFu, 1u, 7u}) r.insert(r.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
    EXPECT_EQ(raised([&] { decoded(r); }), bad) << "reference to nothing";
    Bytes s = plain_header;
    s[7] = 4;
    for (uint32_t w : {1u, 8u, 1u, 8u, 9u, 0x61u, 0u, 0x0Fu, 0u})
        s.insert(s.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
    EXPECT_EQ(raised([&] { decoded(s); }), bad) << "symbol offset past the area";

    // Every prefix of a valid blob is refused.
    for (bool compact : {false, true}) {
        Bytes whole = blob_of(eval("reduce [make object! [a: \"x\" f: func [y] [a]] 'w 1.5 #{01}]"), compact);
        for (size_t n = 0; n < whole.size(); ++n) {
            Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
            auto id = raised([&] { decoded(cut); });
            ASSERT_TRUE(id == bad || id == data) << n;
        }
    }
}

// Deep nesting ends in an error without a crash: decoding when the machine stack runs out,
// encoding past the depth that molding also refuses.
TEST_F(ZuvbinTest, DeepNestingIsBounded) {
    Bytes records;
    for (int i = 0; i < 100000; ++i) records.insert(records.end(), {0x05, 1});
    records.push_back(0x81);
    EXPECT_EQ(raised([&] { decoded(compact_blob({}, records)); }), error::id::internal_stack_overflow);
    Cell deep = eval("b: [] loop 5000 [b: reduce [b]] b");
    EXPECT_EQ(raised([&] { zuvbin::encode_bytes(&deep, true); }), error::id::internal_too_deep);
    EXPECT_EQ(raised([&] { zuvbin::encode_bytes(&deep, false); }), error::id::internal_too_deep);
}

// A container's count is a claim: blocks nested in one another, each claiming all the bytes
// left, took memory quadratic in the blob (here some 29 MB for 60 KB) before the first
// item was read.
TEST_F(ZuvbinTest, ClaimedCountsDoNotAllocateAhead) {
    for (uint8_t tag : {uint8_t{0x05}, uint8_t{0x28}}) {  // block!, map!
        SCOPED_TRACE(tag);
        Bytes records;
        for (int i = 0; i < 30; ++i) records.insert(records.end(), {tag, 0xE0, 0xD4, 0x03});  // 60,000
        records.insert(records.end(), 59999, 0x81);  // one short: the innermost claim fails
        auto in_use = [] {
            int64_t n = memory::stats(1, nullptr)->int2();
            stack::pop(1);
            return n;
        };
        const int64_t before = in_use();
        EXPECT_EQ(raised([&] { decoded(compact_blob({}, records)); }), error::id::script_zb_invalid_record);
        EXPECT_LT(in_use() - before, int64_t{8} << 20);
    }
}

// Random mutations of valid blobs: each decodes or raises a decoding error, never crashes.
TEST_F(ZuvbinTest, MutatedBlobsNeverCrash) {
    Cell v = eval(
        "o: make object! [a: 1 s: \"str\" f: func [x /y z] [a + x] m: make map! [k 1 \"s\" [2]]] "
        "reduce [o in o 'a :o/f s: \"shared\" s next s make hash! [h 1] 1.5 50% 1:02 3-Mar-2003/4:05 "
        "$1.25 1.2.3.4 #iss make bitset! \"ab\" make vector! [integer! 16 [1 2]] (1, 2) 3x4 try [1 / 0] "
        "'a/b :+ #{CAFE} <t> %f 'lit /ref make typeset! [integer!]]");
    std::mt19937 random(12345);
    auto start = std::chrono::steady_clock::now();
    int decoded_count = 0, runs = 0;
    for (bool compact : {false, true}) {
        const Bytes valid = blob_of(v, compact);
        ASSERT_EQ(mold_all(*block::head(decoded(valid))), mold_all(v));
        for (int i = 0; i < 4000; ++i) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(8)) break;
            Bytes b = valid;
            int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                size_t at = 8 + random() % (b.size() - 8);
                switch (random() % 5) {
                    case 0: b[at] = static_cast<uint8_t>(random()); break;
                    case 1: b[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
                    case 2: b.insert(b.begin() + static_cast<long>(at), static_cast<uint8_t>(random())); break;
                    case 3: b.erase(b.begin() + static_cast<long>(at)); break;
                    default: b.resize(at); break;
                }
                if (b.size() <= 8) break;
            }
            Cell* mark = stack::arguments_top;
            auto id = raised([&] {
                Cell* out = decoded(b);
                Cell first = block::length(out) ? *block::head(out) : none::shared;
                ++decoded_count;
                raised([&] { mold(first, true); });
            });
            stack::arguments_top = mark;
            ++runs;
            if (id) {
                EXPECT_TRUE(*id == error::id::script_zb_invalid_record || *id == error::id::script_invalid_data ||
                            *id == error::id::access_no_codec || *id == error::id::internal_stack_overflow)
                    << error::category_name(id->category) << "/" << error::id_name(*id) << " at run " << runs;
            }
        }
    }
    EXPECT_GT(runs, 100);
    EXPECT_GT(decoded_count, 0);
}
