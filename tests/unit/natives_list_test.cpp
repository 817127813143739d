// The one list of natives against the boot code: the word each entry names is bound, once the
// library has run, to a native! of that entry's index, whose table slot holds that entry.
#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "evaluator/natives-list.h"
#include "evaluator/natives.h"
#include "datatypes/word.h"
#include "runtime_fixture.h"

using namespace zuv;

namespace {

class NativesListTest : public zuv::testing::RuntimeTest {};

TEST_F(NativesListTest, EachWordIsBoundToItsEntry) {
    zuv::testing::boot_language();
    struct Case {
        natives::Entry entry;
        const char* name;
    };
#define ZUV_NATIVE_CASE(entry, name) Case{natives::entry, name},
    const Case cases[] = {ZUV_NATIVES(ZUV_NATIVE_CASE)};
#undef ZUV_NATIVE_CASE
    ASSERT_LE(std::size(cases), static_cast<size_t>(natives::capacity));
    for (size_t i = 0; i < std::size(cases); ++i) {
        Cell word = *words::load(cases[i].name);
        const Cell* value = context::get(&word);
        ASSERT_TRUE(value->is(Type::native)) << cases[i].name;
        EXPECT_EQ(value->data1, i + 1) << cases[i].name;
        EXPECT_EQ(natives::table[i], cases[i].entry) << cases[i].name;
    }
}

}  // namespace
