// Test binary entry. "--zuv-fault=<kind>" turns the binary into a child that installs the
// runtime's fault handlers and then faults on purpose, so a test can check how the
// process ends; anything else runs the tests.
#include <gtest/gtest.h>

#include <cstring>

#include "console/program.h"

int run_fault_child(const char* kind);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--zuv-fault=", 12) == 0) return run_fault_child(argv[i] + 12);
    zuv::console::link_program();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
