// handle! and triple!: their printed forms, handle comparison and the handle registry.
#include <gtest/gtest.h>

#include "datatypes/handle.h"
#include "scalar_helpers.h"

using namespace zuv;
using namespace zuv::testing;

namespace {

class HandleTest : public RuntimeTest {};

Cell handle_of(uint32_t value, int32_t kind) {
    Cell c;
    return *handle::make_at(&c, value, kind);
}

}  // namespace

TEST_F(HandleTest, Forms) {
    struct Case {
        Cell value;
        const char* form;
        const char* mold_all;
    } cases[] = {
        {handle_of(255, handle::subtype::none), "000000FFh", "#[handle! 000000FFh]"},
        {handle_of(0x30F2A, handle::subtype::window), "00030F2Ah", "#[handle! 00030F2Ah window]"},
        {handle_of(0xFFFFFFFF, handle::subtype::rich_text), "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.form);
        EXPECT_EQ(mold(c.value), "handle!");
        EXPECT_EQ(mold(c.value, true), c.mold_all);
    }
    Cell t;
    triple::make_at(&t, 1, -2, 3);
    EXPECT_EQ(form(t), "make triple! [1 -2 3]");
    EXPECT_EQ(mold(t), "make triple! [1 -2 3]");
}

TEST_F(HandleTest, CompareIgnoresTheSubtype) {
    using namespace actions::op;
    EXPECT_EQ(order(handle_of(5, handle::subtype::font), handle_of(5, handle::subtype::window), equal), 0);
    EXPECT_EQ(order(handle_of(0xFFFFFFFF, 0), handle_of(1, 0), lesser), -1);  // signed values
    EXPECT_EQ(order(handle_of(5, 0), integer(5), equal), 1);
}

TEST_F(HandleTest, NeitherTypeIsMadeNorComputed) {
    for (Type t : {Type::handle, Type::triple})
        for (int s : {datatype::slot::make, datatype::slot::to, datatype::slot::add})
            EXPECT_EQ(datatype::action_of(t, s), nullptr);
}

TEST_F(HandleTest, RegistryReusesFreedIndexes) {
    uint32_t a = handle::enter(0x1000), b = handle::enter(0x2000);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(handle::object(b), 0x2000u);
    handle::leave(a);
    EXPECT_EQ(handle::object(a), 0u);
    EXPECT_EQ(handle::enter(0x3000), a);
    EXPECT_EQ(handle::object(0), 0u);
    EXPECT_EQ(handle::object(0xFFFFFF), 0u);
}

TEST_F(HandleTest, TriplesServeAsRuleFrames) {
    Cell* b = block::push_new(4);
    Cell* t = triple::make_in(b, 0, -1, 1);
    triple::set(t, 3, triple::get(t, 3) + 1);
    Cell stored = *block::head(b);
    EXPECT_EQ(triple::get(&stored, 1), 0);
    EXPECT_EQ(triple::get(&stored, 2), -1);
    EXPECT_EQ(triple::get(&stored, 3), 2);
}
