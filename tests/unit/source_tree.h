// The repository's source tree as the tests see it: its root, and whole files read as bytes,
// for the tests that hold generated files against their generators.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

namespace zuv::testing {

inline const std::string& source_root() {
    static const std::string root = [] {
        const std::string here = __FILE__;
        return here.substr(0, here.rfind("/tests/unit/"));
    }();
    return root;
}

inline std::string slurp_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace zuv::testing
