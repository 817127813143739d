// The external-resource table: record numbering and growth, the in-use list under removal,
// release by kind, and the sweep of records no live value marked.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/external.h"

using namespace zuv;

namespace {

std::vector<uintptr_t> released;
void note_release(uintptr_t value) { released.push_back(value); }

// Runs each test on a fresh table, keeping the program's own table aside.
class ExternalTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_records = external::records;
        saved_capacity = external::capacity;
        saved_in_use = external::in_use_head;
        saved_free = external::free_head;
        external::init();
        released.clear();
        kind = external::register_kind("test", note_release);
        silent = external::register_kind("silent", nullptr);
    }
    void TearDown() override {
        external::records = saved_records;
        external::capacity = saved_capacity;
        external::in_use_head = saved_in_use;
        external::free_head = saved_free;
    }
    // The indexes on the in-use list, from its head.
    static std::vector<int32_t> in_use() {
        std::vector<int32_t> list;
        for (int32_t i = external::in_use_head; i >= 0; i = external::records[i].next) list.push_back(i);
        return list;
    }
    int32_t kind = 0, silent = 0;
    external::Record* saved_records = nullptr;
    int32_t saved_capacity = 0, saved_in_use = -1, saved_free = -1;
};

}  // namespace

TEST_F(ExternalTest, RecordsNumberFromZeroAndTheTableDoublesAtItsLastFreeRecord) {
    EXPECT_EQ(external::add(100, kind), 0);
    for (int32_t i = 1; i < 999; ++i) ASSERT_EQ(external::add(100 + i, kind), i);
    EXPECT_EQ(external::capacity, 1000);
    EXPECT_EQ(external::add(1099, kind), 999);  // took the last free record: the table grew
    EXPECT_EQ(external::capacity, 2000);
    EXPECT_EQ(external::add(2000, kind), 1000);
    for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(external::records[i].value, uintptr_t(100 + i));
}

TEST_F(ExternalTest, RemovingTheHeadOrAMiddleRecordKeepsTheInUseList) {
    for (int i = 0; i < 4; ++i) external::add(10 + i, kind);
    EXPECT_EQ(in_use(), (std::vector<int32_t>{3, 2, 1, 0}));
    external::remove(3, true);  // the head
    EXPECT_EQ(in_use(), (std::vector<int32_t>{2, 1, 0}));
    external::remove(1, false);  // the middle, without releasing
    EXPECT_EQ(in_use(), (std::vector<int32_t>{2, 0}));
    EXPECT_EQ(released, (std::vector<uintptr_t>{13}));
    EXPECT_EQ(external::records[1].kind, external::free_marker);
    EXPECT_EQ(external::add(50, kind), 1);  // freed records are taken again, newest first
    EXPECT_EQ(external::add(51, kind), 3);
}

TEST_F(ExternalTest, SetValueReleasesTheOldValueOnlyWhenItChanges) {
    int32_t r = external::add(7, kind);
    external::set_value(r, 7);
    EXPECT_TRUE(released.empty());
    external::set_value(r, 8);
    EXPECT_EQ(released, (std::vector<uintptr_t>{7}));
    EXPECT_EQ(external::records[r].value, 8u);
}

TEST_F(ExternalTest, SweepReleasesUnmarkedRecordsAndClearsTheMarks) {
    int32_t a = external::add(1, kind), b = external::add(2, kind), c = external::add(3, silent);
    EXPECT_TRUE(external::mark(b, nullptr));
    EXPECT_FALSE(external::mark(b, nullptr));  // already marked
    uintptr_t moved = 22;
    external::mark(c, &moved);
    external::sweep();
    EXPECT_EQ(released, (std::vector<uintptr_t>{1}));
    EXPECT_EQ(in_use(), (std::vector<int32_t>{c, b}));
    EXPECT_EQ(external::records[c].value, 22u);
    EXPECT_EQ(external::records[b].kind & external::live_mark, 0u);
    external::sweep();  // nothing marked now: everything goes, the silent kind without a call
    EXPECT_EQ(released, (std::vector<uintptr_t>{1, 2}));
    EXPECT_TRUE(in_use().empty());
    (void)a;
}

TEST_F(ExternalTest, ForEachVisitsTheRecordsOfOneKind) {
    external::add(1, kind);
    external::add(2, silent);
    external::add(3, kind);
    released.clear();
    external::for_each(kind, note_release);
    EXPECT_EQ(released, (std::vector<uintptr_t>{3, 1}));
}
