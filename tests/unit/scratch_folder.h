// A scratch folder for a test's files, removed with everything in it at the end.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/zuv-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    // Writes a file in the folder; gives its path.
    std::string write(const std::string& name, const std::string& text) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string dir_;
};
