// The library's direct calls: after bind_direct_calls, function bodies keep calling the
// functions that their global words held, except inside a literal block handed to `do`.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "library/routines.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

Cell* one(Cell**) { return integer::push(1); }
Cell* two(Cell**) { return integer::push(2); }
// A stand-in for the do native: evaluates its block argument.
Cell* run_block(Cell** a) {
    Cell b = *a[0];
    interpreter::eval_block(&b, true);
    return stack::arguments_base;
}

void set_global(const char* name, const Cell* value) {
    Cell word = *context::add_global(symbol::make(name));
    context::set(&word, value);
}

void define_routine(const char* name, const char* spec, routine::CellEntry entry) {
    library::define_routines({{name, entry, spec, ""}});
}

Cell* loaded(const char* text) {
    Cell* b = block::push_new(4);
    lexer::load_into(b, text);
    return b;
}

void define_function(const char* name, const char* spec, const char* body) {
    Cell* s = loaded(spec);
    Cell* b = loaded(body);
    Cell* f = function::push(s, b, 0, 0, 0);
    set_global(name, f);
    stack::pop(3);
}

class DirectCallsTest : public RuntimeTest {};

Cell run(const char* text) {
    Cell* code = loaded(text);
    interpreter::eval_block(code, true);
    return *stack::arguments_base;
}

}  // namespace

TEST_F(DirectCallsTest, LibraryBodiesKeepTheFunctionsTheyWereDefinedWith) {
    define_routine("dc-do", "code [block!]", run_block);
    define_routine("dc-helper", "", one);
    define_function("dc-direct", "", "dc-helper");
    define_function("dc-get", "", ":dc-helper");
    define_function("dc-nested", "", "dc-do [dc-do [0] dc-helper]");
    define_function("dc-argument", "dc-helper", "dc-helper");
    // A method of an object held by a global word.
    Cell obj;
    object::make_at(&obj, 2);
    Cell* held = stack::push(&obj);
    define_function("dc-tmp", "", "dc-helper");
    int32_t i = context::add_word(held->data1, symbol::make("m"));
    *context::value_at(held->data1, context::word_at(held->data1, i)->int3()) =
        *context::get_value_slot(symbol::make("dc-tmp"), context::global);
    set_global("dc-object", held);
    stack::pop(1);

    library::bind_direct_calls();
    define_routine("dc-helper", "", two);

    EXPECT_EQ(run("dc-helper").int2(), 2);
    EXPECT_EQ(run("dc-direct").int2(), 1);
    EXPECT_EQ(run("dc-object/m").int2(), 1);
    EXPECT_EQ(run("f: dc-get f").int2(), 1);
    // A block handed to the do stand-in is only rebound when it is not a literal after `do`.
    EXPECT_EQ(run("dc-nested").int2(), 1);
    EXPECT_EQ(run("dc-argument 5").int2(), 5);
}

TEST_F(DirectCallsTest, LiteralBlocksHandedToDoCallThroughTheirWords) {
    define_routine("do", "code [block!]", run_block);
    define_routine("dl-helper", "", one);
    define_function("dl-literal", "", "do [dl-helper]");
    define_function("dl-deeper", "", "do [do [dl-helper]]");
    library::bind_direct_calls();
    define_routine("dl-helper", "", two);
    EXPECT_EQ(run("dl-literal").int2(), 2);
    EXPECT_EQ(run("dl-deeper").int2(), 2);
}
