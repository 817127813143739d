// A fresh memory manager for each test: frames from a clean state, the collector enabled.
#pragma once
#include <gtest/gtest.h>

#include "memory/collector.h"
#include "memory/memory.h"
#include "runtime/external.h"
#include "runtime/system.h"

class MemoryTest : public testing::Test {
protected:
    void SetUp() override {
        // The stack scan stops here: the test body's frame lies just below this one, and
        // what lies above (the runner, the environment strings) is none of the test's.
        zuv::runtime::stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) + 512;
        zuv::memory::init();
        zuv::collector::init_state();
        zuv::external::init();
        zuv::memory::init_first_frames();
        zuv::runtime::collector_enabled = 1;
    }
    void TearDown() override {
        zuv::runtime::collector_enabled = 0;
        zuv::runtime::stack_top = 0;
        zuv::memory::free_all();
    }
};
