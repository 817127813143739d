// Tracked allocations, arguments and the executable's normal end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
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

// A script the executable runs, and what it reports.
TEST(Executable, UncaughtErrorsAreReportedAndEndWithStatus254) {
    struct Case {
        const char* source;  // null: name a script that does not exist
        const char* first_line;
    };
    const Case cases[] = {
        {"Zuv []\nprint 1 + x", "*** Script Error: x has no value"},
        {"Zuv []\n1 / 0", "*** Math Error: attempt to divide by zero"},
        // the argument stack overflows: reporting must not need the full stack
        {"Zuv []\nf: func [a b c d e g h i j k] [f 1 2 3 4 5 6 7 8 9 10]\nf 1 2 3 4 5 6 7 8 9 10",
         "*** Internal Error: stack overflow"},
        {nullptr, "*** Access Error: cannot open: %/nonexistent/script.zuv"},
    };
    for (const Case& c : cases) {
        std::string path = "/nonexistent/script.zuv";
        if (c.source) {
            char name[] = "/tmp/zuv-entry-XXXXXX";
            int fd = mkstemp(name);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, c.source, std::strlen(c.source)), static_cast<ssize_t>(std::strlen(c.source)));
            close(fd);
            path = name;
        }
        ChildResult r = run_child({ZUV_EXECUTABLE, path});
        if (c.source) unlink(path.c_str());
        EXPECT_EQ(r.status, 254) << c.first_line << "\n" << r.err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.first_line) << r.err;
    }
}
