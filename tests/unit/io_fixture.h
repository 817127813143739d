// Helpers of the I/O service tests: a temporary folder for each test (removed after it), raw
// file access beside the code under test, and a plain description of result values for
// blocks, which cannot be molded yet.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "memory/symbol.h"
#include "runtime_fixture.h"

namespace zuv::testing {

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/zuv-io-test-XXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    bool made() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A mold-like description: "text", %file, name:, numbers, #{hex}, [nested blocks], #[map].
inline std::string describe(const Cell& v) {
    Cell c = v;
    switch (c.type()) {
        case Type::string: return "\"" + string::to_utf8(&c) + "\"";
        case Type::file: return "%" + string::to_utf8(&c);
        case Type::set_word: return std::string(symbol::name(c.int2())) + ":";
        case Type::word: return symbol::name(c.int2());
        case Type::integer: return std::to_string(c.int2());
        case Type::none: return "none";
        case Type::logic: return c.data1 ? "true" : "false";
        case Type::binary: {
            std::string out = "#{";
            const uint8_t* p = series::head_address(&c);
            for (int32_t i = 0, n = series::length(&c); i < n; ++i) out += string::byte_to_hex(p[i]);
            return out + "}";
        }
        case Type::map:  // its pairs in order, as they are stored
        case Type::block: {
            std::string out = c.is(Type::map) ? "#[" : "[";
            for (int32_t i = 0, n = block::length(&c); i < n; ++i) {
                if (i) out += " ";
                out += describe(*(block::head(&c) + i));
            }
            return out + "]";
        }
        default: return "<" + std::to_string(static_cast<int>(c.type())) + ">";
    }
}

}  // namespace zuv::testing
