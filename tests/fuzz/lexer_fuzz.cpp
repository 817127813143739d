// Fuzz target of the lexer: random bytes are loaded into a block (also under a callback that
// refuses some events and moves the scan on), scanned without loading and prescanned; each must
// end in values or a language error, never in a crash, a hang or a leak.
// Build and run: see tests/fuzz/README.md (make fuzz-ci, make fuzz FUZZ_TARGETS=lexer).
// Fork mode runs the inputs in short-lived child processes. In one long process memory grows,
// and that is no leak: every new spelling the fuzzer invents is interned as a symbol for good
// (repeated inputs keep the memory flat), and after some millions of runs a collection over
// all those symbols outlasts the timeout, so the long runs of run.sh use fork mode. Add a
// crash's input as a case of tests/zuv/lexer.zuv once it is mended.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "datatypes/block.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "reader/lexer-scan.h"
#include "runtime/entry.h"
#include "runtime/system.h"
#include "runtime/throw.h"

using namespace zuv;

namespace {

void boot() {
    static runtime::SystemRecord record;
    runtime::system_record = &record;
    runtime::stack_top = 0;  // the collector scans the whole thread stack
    rt::init_language();
    runtime::startup_mode = 0;
    runtime::collector_enabled = 1;
}

// One scan with the given options into a fresh block; a language error is a valid outcome.
void run(std::string_view text, lexer::Options options) {
    Cell* mark = stack::arguments_top;
    stack::CallFrame* calls = stack::calls_top;
    try {
        Cell* b = block::push_new(4);
        lexer::load_with(b, text, options);
    } catch (const runtime::Throw&) {
    }
    stack::arguments_top = mark;
    stack::calls_top = calls;
}

// Answers the events from a hash of what they report: about one in four refused, now and then
// the input's index moved one byte on (never back, which could loop for good).
struct Chooser final : lexer::Callback {
    uint32_t size = 0;
    lexer::Answer event(const lexer::EventInfo& e) override {
        uint32_t h = static_cast<uint32_t>(e.event) * 0x9E3779B1u ^ e.token_start * 0x85EBCA6Bu ^
                     e.token_end * 0xC2B2AE35u ^ static_cast<uint32_t>(e.type.value);
        h ^= h >> 15;
        lexer::Answer a;
        a.accept = h % 4 != 0;
        if (h % 23 == 0 && e.index < size) a.index = e.index + 1;
        return a;
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    boot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    run(text, {});  // load

    Chooser chooser;  // load with events, some refused
    chooser.size = static_cast<uint32_t>(size);
    lexer::Options traced;
    traced.callback = &chooser;
    run(text, traced);

    lexer::Options check;  // scan without loading: every check pass, errors quiet
    check.load = false;
    run(text, check);

    lexer::Options one;  // one value, counting characters as a string! input does
    one.one_value = true;
    one.string_input = true;
    run(text, one);

    lexer::Options pre;  // prescan: token kinds only
    pre.scan = false;
    pre.one_value = true;
    run(text, pre);
    return 0;
}
