// Fuzz target of inflate in its three framings (raw deflate, zlib, gzip): random bytes must
// end in a status, never in a crash, a write outside the buffer, or a size beyond what the
// input can produce; a second call with the room asked for must agree with the first. The
// input is also compressed in each framing and must come back unchanged.
// Build and run: see tests/fuzz/README.md.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "io/compression.h"

using namespace zuv::compression;

namespace {

using Codec = Result (*)(std::span<uint8_t>, std::span<const uint8_t>);

[[noreturn]] void broken(const char* what, size_t framing) {
    std::fprintf(stderr, "inflate_fuzz: %s (framing %zu)\n", what, framing);
    std::abort();
}

// Larger answers are checked against the bound but not decoded a second time.
constexpr size_t max_room = size_t(16) << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> in(data, size);
    const Codec decoders[] = {inflate, zlib_decompress, gzip_decompress};
    const Codec encoders[] = {deflate, zlib_compress, gzip_compress};
    for (size_t f = 0; f < 3; ++f) {
        // An exact-size heap buffer, so the address checker sees a write past it.
        std::vector<uint8_t> small(size % 64);
        Result r = decoders[f](small, in);
        if (r.size > inflate_bound(size)) broken("size beyond the bound", f);
        if (r.status == Status::output_too_small && r.size <= max_room) {
            std::vector<uint8_t> room(r.size);
            Result again = decoders[f](room, in);
            if (again.status == Status::output_too_small) broken("asked for room twice", f);
            if (again.status == Status::ok && again.size != r.size) broken("size answer differs", f);
        }
        // Round trip of the input itself.
        std::vector<uint8_t> packed(size + size / 8 + 64);
        Result c = encoders[f](packed, in);
        if (c.status != Status::ok) broken("compress failed", f);
        packed.resize(c.size);
        std::vector<uint8_t> back(size);
        Result d = decoders[f](back, packed);
        if (d.status != Status::ok || d.size != size || back != std::vector<uint8_t>(in.begin(), in.end()))
            broken("round trip lost data", f);
    }
    return 0;
}
