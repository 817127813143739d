// Fuzz target of the JSON codec: random text given to load-json ends in a value, an error!
// value or a language error, never in a crash or a hang; a value it gives must be written by
// to-json (compact and pretty) as text that load-json reads back to an equal value, unless
// to-json refuses it (a number JSON cannot hold).
// Build and run: see tests/fuzz/README.md.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/program.h"
#include "harness.h"

namespace {

// Gives none, or a string saying how the round trip failed.
const char* const prelude = R"(
fuzz-json: func [text /local value out back] [
    value: load-json text
    if error? :value [return none]
    foreach pretty [#(none) "  "] [
        out: try [either pretty [to-json/pretty :value pretty][to-json :value]]
        if error? :out [return none]
        back: load-json out
        unless strict-equal? :value :back [
            return rejoin ["to-json gave " mold out " which reads back as " mold/all :back]
        ]
    ]
    none
]
)";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zuv::console::link_program();
    zuv::fuzz::worker().start(true, prelude, "fuzz-json");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    zuv::fuzz::worker().run([&] { zuv::fuzz::worker().call_check(text); });
    return 0;
}
