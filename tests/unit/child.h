// Runs a program as a child process and collects its exit status, standard output and
// standard error.
#pragma once
#include <string>
#include <vector>

struct ChildResult {
    int status = -1;     // exit status, or 128 + signal when a signal ended it
    std::string out;
    std::string err;
};

ChildResult run_child(const std::vector<std::string>& argv);
// The same, with the given text as the child's standard input (a pipe that ends after it).
ChildResult run_child_with_input(const std::vector<std::string>& argv, const std::string& input);
std::string self_executable();
