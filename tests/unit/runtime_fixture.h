// The whole runtime, initialised once for the test binary, as the start-up sequence does
// it; tests then make values and call datatypes' actions directly.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.h"
#include "memory/actions.h"
#include "memory/collector.h"
#include "memory/stack.h"
#include "runtime/entry.h"
#include "runtime/system.h"

namespace zuv::testing {

// Starts the runtime the first time it is asked for; later calls only reset the stacks.
void boot_runtime();
// Runs the boot sections (the language library, Ridi) once for the test binary.
void boot_language();

// Every test of a runtime fixture starts with empty stacks and the collector on.
class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { boot_runtime(); }
};

inline Cell integer(int32_t v) { return Cell{static_cast<uint32_t>(Type::integer), 0, static_cast<uint32_t>(v), 0}; }
inline Cell logic(bool v) { return Cell{static_cast<uint32_t>(Type::logic), v ? 1u : 0u, 0, 0}; }

// A new string! holding UTF-8 text (kept alive on the argument stack).
Cell* text(const std::string& utf8);
// The molded or formed text of a value, as UTF-8.
std::string mold(const Cell& value, bool all = false);
std::string form(const Cell& value);

}  // namespace zuv::testing
