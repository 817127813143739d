// Internals behind the tracer's view of the library: the mark on the library's code reaches
// every nested block, paren and path, and a copy of marked code is the user's, unmarked.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "evaluator/trace.h"
#include "memory/memory.h"
#include "reader/lexer-load.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class TraceTest : public RuntimeTest {};

bool marked(const Cell* c) { return memory::buffer_of(c->data2)->flags & memory::flag::library; }

Cell* loaded(const char* text) {
    Cell* b = block::push_new(4);
    lexer::load_into(b, text);
    return b;
}

TEST_F(TraceTest, LibraryMarkReachesNestedCode) {
    Cell* code = loaded("a [b (c d/e) [f]] g/(h) \"text\"");
    interpreter::mark_library_code(code);
    EXPECT_TRUE(marked(code));
    Cell* cells = series::buffer(code)->cells();
    Cell inner = cells[1];
    ASSERT_TRUE(inner.is(Type::block));
    EXPECT_TRUE(marked(&inner));
    Cell paren = series::buffer(&inner)->cells()[1];
    ASSERT_TRUE(paren.is(Type::paren));
    EXPECT_TRUE(marked(&paren));
    Cell path = series::buffer(&paren)->cells()[1];
    ASSERT_TRUE(path.is(Type::path));
    EXPECT_TRUE(marked(&path));
    Cell deepest = series::buffer(&inner)->cells()[2];
    EXPECT_TRUE(marked(&deepest));
    Cell tail_path = cells[2];
    ASSERT_TRUE(tail_path.is(Type::path));
    EXPECT_TRUE(marked(&tail_path));
    // Strings are data, not code: the mark is for what the interpreter walks.
    EXPECT_FALSE(memory::buffer_of(cells[3].data2)->flags & memory::flag::library);
}

TEST_F(TraceTest, CopiesOfLibraryCodeAreNotMarked) {
    Cell* code = loaded("a [b]");
    interpreter::mark_library_code(code);
    Cell copy;
    cell::make(&copy, Type::block, 0, series::copy_part(code->data2, 0, series::buffer_length(code)), 0);
    EXPECT_FALSE(marked(&copy));
    EXPECT_TRUE(marked(code));
}

TEST_F(TraceTest, SharedAndCyclicCodeIsMarkedOnce) {
    Cell* code = loaded("a [b]");
    Cell inner = series::buffer(code)->cells()[1];
    Cell self = *code;
    block::append(&inner, &self);  // the inner block holds the outer one: a cycle
    interpreter::mark_library_code(code);
    EXPECT_TRUE(marked(code));
    EXPECT_TRUE(marked(&series::buffer(code)->cells()[1]));
}

}  // namespace
