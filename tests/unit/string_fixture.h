// Helpers of the string-family tests: texts of any string type, blocks, and the error an
// action raised.
#pragma once
#include <functional>
#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

namespace zuv::testing {

// A new text of the type (kept alive on the argument stack).
inline Cell str(const std::string& utf8, Type t = Type::string) {
    Cell c = *text(utf8);
    c.set_type(t);
    return c;
}

inline std::string utf8(const Cell& c) { return string::to_utf8(&c); }

inline Cell block_of(std::initializer_list<Cell> cells) {
    Cell b;
    block::make_at(&b, static_cast<int32_t>(cells.size()));
    for (const Cell& c : cells) block::append(&b, &c);
    return b;
}

// The error raised by f, or {0, 0} when none was.
inline error::Id raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const runtime::Throw&) {
        return error::last.id;
    }
    return {0, 0};
}

}  // namespace zuv::testing
