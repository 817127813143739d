// routine! values: C++ entries called like functions, with cells or with machine values.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "memory/symbol.h"
#include "reader/lexer-load.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

routine::Value add_ints(const routine::Value* a) {
    routine::Value r;
    r.integer = a[0].integer + a[1].integer;
    return r;
}
routine::Value halve(const routine::Value* a) {
    routine::Value r;
    r.number = a[0].number / 2;
    return r;
}
routine::Value is_block(const routine::Value* a) {
    routine::Value r;
    r.logic = a[0].cell->is(Type::block);
    return r;
}
Cell* second_of(Cell** args) { return args[1]; }

class RoutineTest : public RuntimeTest {
protected:
    // Makes a routine over an entry and sets a global word to it.
    void define(const char* name, const char* spec_text, const routine::Entry& entry, uint32_t flags, Type result) {
        Cell* spec = block::push_new(4);
        lexer::load_into(spec, spec_text);
        int32_t index = routine::register_entry(entry);
        Cell* r = routine::push(spec, index, flags, static_cast<int32_t>(result));
        Cell word;
        cell::make(&word, Type::word, context::global, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
        context::add_global(word.int2());
        context::set(&word, r);
        stack::pop(2);
    }
    // The value of code evaluated as a block.
    static Cell run(const char* text) {
        Cell* code = block::push_new(8);
        lexer::load_into(code, text);
        interpreter::eval_block(code, true);
        return *stack::arguments_base;
    }
};

}  // namespace

TEST_F(RoutineTest, MachineValuesGoInAndTheResultComesBackByItsKind) {
    define("add-ints", "a [integer!] b [integer!]", {"add-ints", nullptr, add_ints}, 0, Type::integer);
    define("halve", "x [float!]", {"halve", nullptr, halve}, 0, Type::float_);
    define("block-arg?", "v [block! integer!]", {"block-arg?", nullptr, is_block}, 0, Type::logic);
    EXPECT_EQ(mold(run("add-ints 3 4")), "7");
    EXPECT_EQ(mold(run("halve 5.0")), "2.5");
    EXPECT_EQ(mold(run("block-arg? [a]")), "true");
    // only the first type of the block is checked, the way these routines are declared
    EXPECT_TRUE(raised([] { run("block-arg? 1"); }));
}

TEST_F(RoutineTest, AnArgumentOutsideItsTypeBlockIsAnExpectArgError) {
    define("add-ints2", "a [integer!] b [integer!]", {"add-ints2", nullptr, add_ints}, 0, Type::integer);
    auto id = raised([] { run("add-ints2 3 4.5"); });
    ASSERT_TRUE(id);
    EXPECT_EQ(*id, error::id::script_expect_arg);
    EXPECT_EQ(mold(error::last.args[2]), "b");
}

TEST_F(RoutineTest, CellRoutinesGetTheArgumentCells) {
    define("second-of", "a b", {"second-of", second_of, nullptr}, routine::takes_cells, Type::unset);
    EXPECT_EQ(mold(run("second-of 1 [x y]")), "[x y]");
    Cell* f = context::get_value_slot(symbol::make("second-of"), context::global);
    EXPECT_EQ(routine::arg_count(f), 2);
    EXPECT_EQ(form(*f), "?routine?");
    EXPECT_EQ(mold(*f), "routine [a b]");
}
