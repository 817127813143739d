// Fuzz target of the CSV codec: random text given to load-csv (plain, and with a semicolon
// delimiter) ends in rows, an error! value or a language error, never in a crash or a hang;
// rows it gives must be written by to-csv as text that load-csv reads back to equal rows.
// Build and run: see tests/fuzz/README.md.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/program.h"
#include "harness.h"

namespace {

// Gives none, or a string saying how the round trip failed.
const char* const prelude = R"(
fuzz-csv: func [text /local rows out back] [
    foreach delimiter [#"," #";"] [
        rows: load-csv/with text delimiter
        unless error? :rows [
            out: to-csv/with rows delimiter
            unless error? :out [
                back: load-csv/with out delimiter
                unless strict-equal? rows back [
                    return rejoin ["to-csv gave " mold out " which reads back as " mold/all :back]
                ]
            ]
        ]
    ]
    none
]
)";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zuv::console::link_program();
    zuv::fuzz::worker().start(true, prelude, "fuzz-csv");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    zuv::fuzz::worker().run([&] { zuv::fuzz::worker().call_check(text); });
    return 0;
}
