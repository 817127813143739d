// Fuzz target of the ZUVBIN decoder: random bytes (the seeds are real blobs, so the records
// vary most) decode to values or end in a language error, never in a crash, a hang or a value
// that cannot be molded or encoded again; what decodes must encode and decode once more.
// Build and run: see tests/fuzz/README.md.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "memory/stack.h"
#include "reader/zuvbin.h"
#include "harness.h"

using namespace zuv;

namespace {

void decode_and_use(std::span<const uint8_t> blob) {
    Cell* target = block::push_new(4);
    zuvbin::decode(blob, target, true);
    Cell value = *target, text;
    actions::mold_to(&value, &text);
    // What decoded is made of valid values: it encodes, in both forms, and decodes again.
    for (bool compact : {false, true}) {
        std::vector<uint8_t> again = zuvbin::encode_bytes(target, compact);
        Cell* back = block::push_new(4);
        zuvbin::decode(again, back, true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::worker().start(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> blob(data, data + size);
    fuzz::worker().run([&] { decode_and_use(blob); });
    return 0;
}
