// Tracked allocations, arguments and the executable's normal end.
#include <gtest/gtest.h>

#include <cstring>

#include "child.h"
#include "runtime/alloc.h"
#include "runtime/entry.h"
#include "runtime/system.h"

using namespace zuv::runtime;

TEST(TrackedAllocator, ListsEveryBlockUntilFreed) {
    size_t before = tracked_count();
    void* a = alloc(10);
    void* b = alloc_zeroed(32);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(static_cast<char*>(b)[i], 0);
    std::memset(a, 'x', 10);
    a = zuv::runtime::realloc(a, 100000);
    EXPECT_EQ(static_cast<char*>(a)[9], 'x');
    EXPECT_EQ(tracked_count(), before + 2);
    void* c = zuv::runtime::realloc(nullptr, 8);
    EXPECT_EQ(tracked_count(), before + 3);
    EXPECT_EQ(zuv::runtime::realloc(c, 0), nullptr);
    zuv::runtime::free(a);
    zuv::runtime::free(nullptr);
    EXPECT_EQ(tracked_count(), before + 1);
    zuv::runtime::free(b);
    EXPECT_EQ(tracked_count(), before);
}

TEST(TrackedAllocator, FreeAllEmptiesTheList) {
    TrackedList saved = tracked_list;
    tracked_list = TrackedList{};
    alloc(1);
    alloc(2);
    EXPECT_EQ(tracked_count(), 2u);
    free_all();
    EXPECT_EQ(tracked_count(), 0u);
    EXPECT_EQ(tracked_list.first, nullptr);
    EXPECT_EQ(tracked_list.last, nullptr);
    tracked_list = saved;
}

TEST(Arguments, TakenAsUtf8WithATerminatingNull) {
    char a0[] = "/usr/bin/zuv", a1[] = "h\xC3\xA9llo", a2[] = "b c";
    char* argv[] = {a0, a1, a2, nullptr};
    load_args(3, argv);
    ASSERT_EQ(system_record->argument_count, 3);
    EXPECT_STREQ(system_record->argument_list[0], "/usr/bin/zuv");
    EXPECT_STREQ(system_record->argument_list[1], "h\xC3\xA9llo");
    EXPECT_EQ(system_record->argument_list[3], nullptr);
    EXPECT_STREQ(system_record->command_line, "/usr/bin/zuv h\xC3\xA9llo \"b c\"");

    load_args(1, argv);
    EXPECT_EQ(system_record->argument_count, 1);
    EXPECT_EQ(system_record->argument_list[1], nullptr);

    load_args(0, nullptr);
    EXPECT_EQ(system_record->argument_count, 0);
    EXPECT_EQ(system_record->argument_list[0], nullptr);
    EXPECT_STREQ(system_record->command_line, "");

    char* broken[] = {a0, nullptr, a2};  // a list cut short by a null entry
    load_args(3, broken);
    EXPECT_EQ(system_record->argument_count, 1);
}

TEST(Executable, StartsAndEndsWithStatusZero) {
    ChildResult r = run_child({ZUV_EXECUTABLE});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}
