// The slot table: numbering, reuse of freed slots, growth, and values kept alive.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "memory/collector.h"
#include "memory/slots.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;

namespace {
class SlotsTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        slots::init();
    }
    static Cell number(int32_t n) {
        Cell c;
        cell::make(&c, Type::integer, 0, static_cast<uint32_t>(n));
        return c;
    }
};
}  // namespace

TEST_F(SlotsTest, NumbersFromOneAndReusesTheLastFreed) {
    Cell a = number(10), b = number(20);
    EXPECT_EQ(slots::alloc(&a), 1);
    EXPECT_EQ(slots::alloc(&b), 2);
    EXPECT_EQ(slots::get(2)->int2(), 20);
    slots::free(1);
    EXPECT_EQ(slots::alloc(&b), 1);
    slots::free(0);  // ignored
    slots::free(5000);
    EXPECT_EQ(slots::get(0), nullptr);
    EXPECT_EQ(slots::get(101), nullptr);
    EXPECT_EQ(slots::alloc(&a), 3);
}

TEST_F(SlotsTest, TheHundredAndFirstLiveSlotDoublesTheTable) {
    for (int32_t i = 1; i <= 100; ++i) {
        Cell v = number(i);
        ASSERT_EQ(slots::alloc(&v), i);
    }
    EXPECT_EQ(slots::capacity(), 100);
    Cell v = number(101);
    EXPECT_EQ(slots::alloc(&v), 101);
    EXPECT_EQ(slots::capacity(), 200);
    for (int32_t i = 1; i <= 101; ++i) EXPECT_EQ(slots::get(i)->int2(), i);
    Cell w = number(102);
    EXPECT_EQ(slots::alloc(&w), 102);
}

TEST_F(SlotsTest, ASlotKeepsItsValueAliveAcrossCollections) {
    Cell* b = block::push_new(4);
    Cell one = number(1);
    block::append(b, &one);
    int32_t slot = slots::alloc(b);
    stack::pop(1);
    collector::recycle();
    Cell* kept = slots::get(slot);
    ASSERT_TRUE(kept->is(Type::block));
    EXPECT_EQ(series::length(kept), 1);
    EXPECT_EQ(block::head(kept)->int2(), 1);
}
