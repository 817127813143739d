// PARSE over binary! input, matched byte by byte and by scanned datatypes. The language-level
// cases are tests/zuv/parse.zuv; these reach the engine directly with a byte series made here.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "evaluator/parse.h"
#include "memory/datatype.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class ParseTest : public RuntimeTest {};

// A binary! of ASCII bytes, kept on the argument stack.
Cell* bytes(std::string_view ascii) {
    Cell b;
    string::make_at_bytes(&b, static_cast<int32_t>(ascii.size()), 1, Type::binary);
    Cell* held = stack::push(&b);
    string::append_ascii(held, ascii);
    return held;
}

Cell chr(uint32_t c) { return Cell{static_cast<uint32_t>(Type::char_), 0, c, 0}; }
Cell kw(const char* name) { return scalar::word_of(name); }
Cell type(Type t) {
    Cell c;
    datatype::make_at(&c, static_cast<int>(t));
    return c;
}

Cell* rules(std::initializer_list<Cell> cells) {
    Cell* b = block::push_new(static_cast<int32_t>(cells.size()));
    for (const Cell& c : cells) block::append(b, &c);
    return b;
}

bool parses(Cell* input, Cell* rule_block, int32_t mode = 0) {
    Cell* r = parse::match_rules(input, rule_block, mode, 0, nullptr);
    EXPECT_TRUE(r->is(Type::logic));
    return logic::get(r);
}

}  // namespace

TEST_F(ParseTest, BinaryInputMatchesBytes) {
    Cell* input = bytes("ab 12 x");
    EXPECT_TRUE(parses(input, rules({chr('a'), *text("b 12"), chr(' '), chr('x')})));
    // byte-wise: letter case counts, a char above 255 stands for no byte
    EXPECT_FALSE(parses(input, rules({chr('A'), kw("to"), kw("end")})));
    EXPECT_FALSE(parses(input, rules({chr(0x161), kw("to"), kw("end")})));
    EXPECT_TRUE(parses(input, rules({kw("thru"), *text("12"), *text(" x")})));
    EXPECT_TRUE(parses(input, rules({kw("to"), chr('x'), kw("skip")})));
    EXPECT_FALSE(parses(input, rules({kw("thru"), *text("1x"), kw("to"), kw("end")})));
    EXPECT_TRUE(parses(input, rules({kw("some"), chr('a'), chr('b'), kw("to"), kw("end")})));
}

TEST_F(ParseTest, BinaryInputMatchesScannedDatatypes) {
    Cell* input = bytes("ab 12 [x] y");
    // the scan of one value skips the blanks before it and moves past its bytes
    EXPECT_TRUE(parses(input, rules({type(Type::word), type(Type::integer), type(Type::block), type(Type::word)})));
    EXPECT_FALSE(parses(input, rules({type(Type::integer), kw("to"), kw("end")})));
    EXPECT_TRUE(parses(input, rules({kw("thru"), type(Type::block), chr(' '), chr('y')})));
    EXPECT_FALSE(parses(bytes(""), rules({type(Type::word)})));
}

TEST_F(ParseTest, IntoTakesBinaryValuesInBlocks) {
    Cell* inner = bytes("ab");
    Cell* input = rules({*inner});
    Cell* rule = rules({chr('a'), chr('b')});
    EXPECT_TRUE(parses(input, rules({kw("into"), *rule})));
}
