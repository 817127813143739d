// Argument and call stacks: overflow, frames, and the unrolling of errors, break,
// continue, return and throw.
#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/cycle-stack.h"
#include "memory/stack.h"
#include "memory_fixture.h"
#include "runtime/throw.h"

using namespace zuv;
using namespace zuv::stack;

namespace {

class StackTest : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        make_series();
        init();
    }
    static Cell word(uint32_t symbol) {
        Cell w;
        cell::make(&w, Type::word, 0, symbol, static_cast<uint32_t>(-1));
        return w;
    }
    static Cell integer(int32_t v) {
        Cell c;
        cell::make(&c, Type::integer, 0, static_cast<uint32_t>(v), 0);
        return c;
    }
    // Runs f, expecting it to leave by a throw; gives the code.
    template <class F>
    static uint32_t thrown(F f) {
        try {
            f();
        } catch (const runtime::Throw& t) {
            return t.code;
        }
        return 0;
    }
};

}  // namespace

int32_t in_use_when_raised = -1;
void record_in_use(Cell*) { in_use_when_raised = static_cast<int32_t>(arguments_top - arguments_bottom); }

// An overflow makes its error above every cell in use: those cells belong to live frames,
// the catching try's among them. The limit is back in place once the error is thrown.
TEST_F(StackTest, ArgumentOverflowKeepsTheCellsInUse) {
    Cell w = word(1);
    mark_try(&w);  // the frame is opened at the bottom: its base is the bottom
    for (int i = 0; i < argument_cells - 1; ++i) {
        Cell v = integer(i);
        push(&v);
    }
    EXPECT_EQ(arguments_top - arguments_bottom, argument_cells - 1);
    Cell* limit = arguments_end;
    error_hooks.before_unroll = record_in_use;
    Cell one = integer(1);
    EXPECT_EQ(thrown([&] { push(&one); }), runtime::throw_error);
    error_hooks.before_unroll = nullptr;
    EXPECT_EQ(error::last.id, error::id::internal_stack_overflow);
    EXPECT_EQ(in_use_when_raised, argument_cells - 1);
    EXPECT_EQ(arguments_end, limit);
    for (int i = 0; i < argument_cells - 1; ++i) ASSERT_EQ(arguments_bottom[i].int2(), i) << i;
    // The error was pushed past the cells in use, for the try to keep.
    EXPECT_EQ(top(), arguments_bottom + argument_cells - 1);
    EXPECT_TRUE(top()->is(Type::error));
}

TEST_F(StackTest, CallOverflowLeavesTheArgumentTopInPlace) {
    Cell w = word(7);
    Cell v = integer(3);
    push(&v);
    push(&v);
    error_hooks.before_unroll = record_in_use;
    uint32_t code = thrown([&] {
        for (;;) mark_native(&w);
    });
    error_hooks.before_unroll = nullptr;
    EXPECT_EQ(code, runtime::throw_error);
    EXPECT_EQ(in_use_when_raised, 2);
    EXPECT_EQ(arguments_bottom[1].int2(), 3);
}

TEST_F(StackTest, CallOverflowRaises) {
    Cell w = word(7);
    int frames = 0;
    uint32_t code = thrown([&] {
        for (;;) {
            mark_native(&w);
            ++frames;
        }
    });
    EXPECT_EQ(code, runtime::throw_error);
    EXPECT_EQ(error::last.id, error::id::internal_stack_overflow);
    EXPECT_EQ(frames, static_cast<int>(calls_end - calls_bottom));
}

TEST_F(StackTest, UnwindLeavesTheResultAsTheCallersNewestCell) {
    Cell w = word(9);
    Cell a = integer(10), b = integer(20), r = integer(99);
    push(&a);
    mark_native(&w);
    EXPECT_EQ(frame_symbol(top_frame()), 9u);
    push(&b);
    set_last(&r);
    unwind();
    EXPECT_EQ(arguments_top - arguments_bottom, 2);
    EXPECT_EQ(top()->int2(), 99);

    reset();
    mark_native(&w);
    push(&b);
    unwind_last();
    EXPECT_EQ(arguments_base->int2(), 20);

    pop(1000);
    EXPECT_EQ(arguments_top, arguments_bottom);
}

TEST_F(StackTest, BreakOutsideALoopRaises) {
    Cell w = word(3);
    for (bool cont : {false, true}) {
        mark_try(&w);
        mark_native(&w);
        EXPECT_EQ(thrown([&] { throw_break(false, cont); }), runtime::throw_error);
        EXPECT_EQ(error::last.id, cont ? error::id::throw_continue : error::id::throw_break);
        EXPECT_EQ(calls_top, calls_bottom);  // the error went to the try
        reset();
    }
}

TEST_F(StackTest, BreakStopsAtATryAllBarrier) {
    Cell w = word(3);
    mark_loop(&w);
    mark_try_all(&w);
    mark_native(&w);
    EXPECT_EQ(thrown([] { throw_break(false, false); }), runtime::throw_error);
    EXPECT_EQ(error::last.id, error::id::throw_break);
}

TEST_F(StackTest, BreakWithAValueReachesTheLoop) {
    Cell w = word(3);
    Cell v = integer(42);
    mark_loop(&w);
    CallFrame* loop = top_frame();
    Cell* loop_base = arguments_base;
    mark_native(&w);
    push(&v);
    mark_native(&w);  // the break native's own frame: its first cell is the value
    push(&v);
    EXPECT_EQ(thrown([] { throw_break(true, false); }), runtime::throw_break);
    EXPECT_EQ(top_frame(), loop);
    EXPECT_EQ(arguments_base, loop_base);
    EXPECT_EQ(arguments_base->int2(), 42);
    EXPECT_EQ(thrown([] { throw_break(true, true); }), runtime::throw_continue);
    EXPECT_TRUE(arguments_base->is(Type::unset));
}

TEST_F(StackTest, ReturnAndExitReachTheFunctionFrame) {
    Cell w = word(4);
    Cell v = integer(7);
    mark(&w, kind::func);
    CallFrame* fn = top_frame();
    Cell* fn_base = arguments_base;
    mark_native(&w);
    push(&v);  // return's argument, the first cell of its frame
    EXPECT_EQ(thrown([] { throw_return(true, true); }), runtime::throw_return);
    EXPECT_EQ(top_frame(), fn);
    EXPECT_EQ(arguments_base, fn_base);
    EXPECT_EQ(arguments_base->int2(), 7);

    mark_native(&w);
    EXPECT_EQ(thrown([] { throw_return(false, true); }), runtime::throw_exit);
    EXPECT_TRUE(arguments_base->is(Type::unset));

    reset();
    unwind();
    mark_native(&w);
    EXPECT_EQ(thrown([] { throw_return(true, true); }), runtime::throw_error);
    EXPECT_EQ(error::last.id, error::id::throw_return);
}

TEST_F(StackTest, ThrowReachesCatchWithValueAndName) {
    Cell w = word(5);
    Cell v = integer(11), name = word(12);
    mark_catch(&w);
    CallFrame* c = top_frame();
    mark_native(&w);
    push(&v);
    push(&name);
    EXPECT_EQ(thrown([] { throw_value(runtime::throw_throw); }), runtime::throw_throw);
    EXPECT_EQ(top_frame(), c);
    ASSERT_EQ(arguments_top - arguments_base, 2);
    EXPECT_EQ(arguments_base[0].int2(), 11);
    EXPECT_EQ(arguments_base[1].data2, 12u);

    saved_call_top = nullptr;
    reset();
    unwind();
    mark_native(&w);
    push(&v);
    EXPECT_EQ(thrown([] { throw_value(runtime::throw_throw); }), runtime::throw_error);
    EXPECT_EQ(error::last.id, error::id::throw_throw);
    ASSERT_EQ(error::last.arg_count, 1);
    EXPECT_EQ(error::last.args[0].int2(), 11);
}

TEST_F(StackTest, ErrorsUnrollToTheNearestTry) {
    Cell w = word(6);
    mark_try(&w);
    mark_native(&w);
    mark_native(&w);
    Cell err;
    cell::make(&err, Type::error, 0, 0, 0);
    EXPECT_EQ(thrown([&] { throw_error(&err); }), runtime::throw_error);
    EXPECT_EQ(calls_top, calls_bottom);
    EXPECT_TRUE(top()->is(Type::error));
}

TEST_F(StackTest, FunctionBodyFramesRestoreTheirContextsValues) {
    // A context: its context! cell's second word holds the values pointer.
    Ref ctx = memory::alloc_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(ctx);
    cell::make(b->cells(), Type::context, 0, 1234, 0);
    b->tail += 32;
    Cell w = word(8);
    mark_func_body(&w, ctx);
    context::cell_of(ctx)->data2 = 5678;  // a recursive call points it elsewhere
    unwind_func();
    EXPECT_EQ(context::cell_of(ctx)->data2, 1234u);
}

TEST_F(StackTest, CallWordSkipsBodyAndAnonFrames) {
    body_symbol = 100;
    anon_symbol = 101;
    not_found_symbol = 102;
    Cell out;
    get_call_word(&out);
    EXPECT_EQ(out.data2, 102u);
    Cell f = word(50), body = word(100), anon = word(101);
    mark_native(&f);
    mark_func_body(&body, 0);
    mark_native(&anon);
    get_call_word(&out);
    EXPECT_TRUE(out.is(Type::word));
    EXPECT_EQ(out.data2, 50u);
}

TEST_F(StackTest, CycleStackIsBounded) {
    cycle_stack::reset();
    for (int i = 0; i < cycle_stack::capacity - 1; ++i) cycle_stack::push(static_cast<Ref>(i + 1));
    EXPECT_TRUE(cycle_stack::find(500));
    EXPECT_EQ(thrown([] { cycle_stack::push(77); }), runtime::throw_error);
    EXPECT_EQ(error::last.id, error::id::internal_too_deep);
    EXPECT_EQ(cycle_stack::depth, 0);
}
