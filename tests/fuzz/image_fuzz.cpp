// Fuzz target of the image decoders (PNG, JPEG, BMP, GIF, TIFF by signature): random bytes
// must decode to a bitmap whose pixels match its size, or to a status, never to a crash or a
// hang; a decoded bitmap must encode again in every format.
// Build and run: see tests/fuzz/README.md.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "datatypes/image-codec.h"

using namespace zuv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    image_codec::Decoded d = image_codec::decode(std::span<const uint8_t>(data, size));
    if (d.status != image_codec::Status::ok) return 0;
    const auto& b = d.bitmap;
    if (b.width < 0 || b.height < 0 || b.width > image_codec::max_side || b.height > image_codec::max_side ||
        b.pixels.size() != static_cast<size_t>(b.width) * static_cast<size_t>(b.height)) {
        std::fprintf(stderr, "image_fuzz: %dx%d with %zu pixels\n", b.width, b.height, b.pixels.size());
        std::abort();
    }
    if (b.pixels.size() <= 4096)
        for (int32_t f = image_codec::format::bmp; f <= image_codec::format::tiff; ++f)
            image_codec::encode(b.pixels, b.width, b.height, f);
    return 0;
}
