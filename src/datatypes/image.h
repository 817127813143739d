// image!: a two-dimensional series of 32-bit pixels. The cell holds the head (a pixel index),
// the buffer's node (none for an image of width or height 0) and the size (width in the low 16
// bits, height in the high 16). Buffers move on any allocation: take pixel addresses again.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "memory/cell.h"

namespace zuv::image {

// The buffer is a series of 4-byte units whose head is the first pixel; the record lies in
// the 16 bytes before it. Pixels are words 0xAARRGGBB (bytes B, G, R, A in memory), straight
// alpha, A = 255 opaque. As a tuple! a pixel is R.G.B.T with T = 255 - A.
struct Record {
    uint32_t flags;   // flag:: bits below
    uint32_t size;    // width low 16 bits, height high 16 bits
    int32_t handle;   // external-resource record of the drawing cache, -1 when there is none
    uint32_t stamp;   // tells this image's cache record from a record reused by another
};
constexpr uint32_t record_bytes = sizeof(Record);

namespace flag {
constexpr uint32_t cache_used = 0x40;  // the drawing cache was used since the last collection
}

// Encoded-data format numbers and plane formats.
namespace plane {
constexpr int32_t alpha = 0, rgb = 1, argb = 2;
}

inline int32_t width(const Cell* c) { return static_cast<int32_t>(c->data3 & 0xFFFF); }
inline int32_t height(const Cell* c) { return static_cast<int32_t>(c->data3 >> 16); }
inline int64_t pixel_count(const Cell* c) { return int64_t(width(c)) * height(c); }
inline uint32_t pack_size(int32_t w, int32_t h) { return uint32_t(w) | (uint32_t(h) << 16); }
// The first pixel, or null for an image with no buffer; valid until the next allocation.
uint32_t* pixels(const Cell* c);
Record* record(const Cell* c);

// A new buffer of width x height pixels (both 1 to 65535), every pixel set to fill; raises
// internal/no-memory when the pixels cannot be held. The buffer is reachable only through
// the returned node: store it in a reachable cell before the next allocation.
Ref new_bitmap(int32_t width, int32_t height, uint32_t fill);
// The image cell of a buffer: head 0, size from the record.
void make_at(Cell* c, Ref node);
// Pushes a new image of the size (an image with no buffer when a side is 0 or less), every
// pixel set to fill.
Cell* push_new(int32_t width, int32_t height, uint32_t fill);
// Pushes a new image holding pixels read from memory outside the arena: rows of stride bytes
// (0: width x 4) of straight BGRA. Used by window capture, the camera and the clipboard.
Cell* push_from_memory(int32_t width, int32_t height, int32_t stride, const uint8_t* bgra);
// Pushes a copy of the whole image scaled to a new size by nearest neighbour.
Cell* push_resized(Cell* image, int32_t width, int32_t height);
// Pushes a copy of the whole image upside down (camera frames).
Cell* push_flip_vertical(Cell* image);

// Pixel words at a 0-based index from the first pixel (the index must be inside the image).
uint32_t get_pixel(const Cell* image, int64_t index);
// Writes a pixel and drops the drawing cache.
void set_pixel(Cell* image, int64_t index, uint32_t word);
// The pixel at a 0-based index as a 4-byte tuple into out; none when the index is the count.
void pixel_at(const Cell* image, int64_t index, Cell* out);
// The pixel a tuple! gives: R, G, B and A = 255 - its fourth byte (255 for 3 bytes).
uint32_t pixel_of_tuple(const Cell* tuple);
// True while the head is below the pixel count (foreach and forall over an image).
inline bool more_q(const Cell* c) { return c->int1() >= 0 && c->int1() < pixel_count(c); }

// Pushes a new binary! of the whole image: alpha (one byte 255 - A per pixel), rgb (R, G, B
// per pixel) or argb (the pixel words as stored).
Cell* extract_data(Cell* image, int32_t format);
// Writes a plane of the whole image from a binary!, tuple! or integer! (script/invalid-arg
// for any other value); the owner hears of the change.
void set_data(Cell* image, Cell* value, int32_t format);
// Appends the pixels from the head to the end, four bytes each as stored (to binary!).
void append_pixel_bytes(const Cell* image, std::vector<uint8_t>& out);

// Codecs ------------------------------------------------------------------------------------

bool known_format_q(std::span<const uint8_t> bytes);
// Pushes the image decoded from encoded bytes (copied: the bytes may change afterwards), or
// none when they carry no known signature; undecodable data raises access/bad-media.
Cell* decode_binary(std::span<const uint8_t> bytes);
// decode_binary of a binary! from its head, or of a file!'s contents; a file that cannot be
// read or decoded raises access/cannot-open with the value.
Cell* decode_source(Cell* value);
// The encoded bytes of the image as a new binary! in output (format 0 BMP, 1 PNG, 2 GIF,
// 3 JPEG, 4 TIFF). An image of size 0 raises access/bad-media; another format number prints
// "Cannot find image encoder" and leaves output as it was. Gives output.
Cell* encode_value(Cell* image, Cell* output, int32_t format);

// Drawing side ------------------------------------------------------------------------------
// Pixels live in the image's buffer, so a drawing layer reads and writes them directly
// (pixels()) and may keep one object of its own per image, a cache (e.g. a premultiplied
// surface), released by the function it installs: when the image is written, when a
// collection finds the cache unused since the last one, when the image dies, or at once by
// release_value.

using CacheRelease = void (*)(uintptr_t object);
void set_cache_release(CacheRelease release);
// The cache object (0 when there is none); marks it used.
uintptr_t get_cache(Cell* image);
// Stores a cache object, releasing the one held before.
void set_cache(Cell* image, uintptr_t object);
void release_cache(Cell* image);
// After drawing into the pixels: the cache no longer shows them.
void mark_dirty(Cell* image);
// Releases the image's external resources at once (the backend's explicit release).
void release_value(Cell* image);

// The GUI's renderer of faces, installed by the backend: the image of a face object pushed,
// for to image! of a face. Without one, to image! of a face raises internal/not-done.
using FaceRenderer = Cell* (*)(Cell* face);
void set_face_renderer(FaceRenderer render);

// Actions other code calls.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* copy(Cell* image, Cell* result, Cell* part, bool deep, Cell* types);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace zuv::image
