// Image codecs: PNG, JPEG, BMP, GIF and TIFF bytes to and from plain 32-bit pixel arrays,
// over GdkPixbuf (and giflib for writing GIF). Plain C++ types only: image! wraps these.
// Pixels are words 0xAARRGGBB (bytes B, G, R, A in memory) with straight alpha.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zuv::image_codec {

// The encoder format numbers the codecs of the library pass.
namespace format {
constexpr int32_t bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4;
}

// Sizes an image value can hold: 16 bits per side, and its pixels within one series buffer.
constexpr int32_t max_side = 65535;
constexpr uint64_t max_pixels = 0x1FFFFFF0;

struct Bitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // row-major, width x height words
};

enum class Status {
    ok,
    unknown,   // no known signature: not image data (the caller gives none)
    bad_data,  // a known signature but undecodable, truncated or too large (access/bad-media)
    unavailable,  // a known signature, but the decoding library cannot be opened
};

struct Decoded {
    Status status = Status::unknown;
    Bitmap bitmap;
};

// True when the bytes start with a PNG, JPEG, BMP, GIF (87a or 89a) or TIFF signature.
bool known_format_q(std::span<const uint8_t> bytes);

// What of the decoding library cannot be opened, or null once it is open; opened at the first
// image read or written (GIF is written without it).
const char* library_error();

// Decodes the first frame of an image file's bytes. The container is recognised from the
// signature alone; the bytes are only read during the call.
Decoded decode(std::span<const uint8_t> bytes);

// Encodes width x height pixels (which must not lie in managed memory that could move during
// the call: nothing here allocates in the arena) as a format of the table above. Nothing for
// a format number outside 0-4 or when the encoder fails; an image of no pixels encodes as
// no bytes. BMP and JPEG cannot hold transparency: their alpha is dropped; GIF keeps one
// transparent colour for pixels whose alpha is below 128 and reduces to 256 colours. Nothing
// either when the library is missing (library_error says why).
std::optional<std::vector<uint8_t>> encode(std::span<const uint32_t> pixels, int32_t width, int32_t height,
                                           int32_t format);

}  // namespace zuv::image_codec
