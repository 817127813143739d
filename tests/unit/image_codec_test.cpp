// The image codecs over small images made here: round trips through every format, signature
// tests, truncated and corrupted data (an error, never a crash), forged sizes, and the value
// side (decode_binary, decode_source, encode_value, the clipboard and the drawing cache).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/binary-base.h"
#include "datatypes/image-codec.h"
#include "datatypes/image.h"
#include "memory/error.h"
#include "memory/collector.h"
#include "io/clipboard.h"
#include "runtime/external.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::testing;
namespace codec = zuv::image_codec;

namespace {

using Pixels = std::vector<uint32_t>;
using Bytes = std::vector<uint8_t>;

// A 5x3 image with distinct colours and, when asked, a transparent pixel and a half one.
Pixels sample(bool with_alpha) {
    Pixels p;
    for (uint32_t i = 0; i < 15; ++i) p.push_back(0xFF000000u | (i * 17u << 16) | ((255 - i * 13u) << 8) | (i * 7u));
    if (with_alpha) {
        p[3] = 0x00000000;
        p[7] = 0x80102030;
    }
    return p;
}

codec::Bitmap decoded(const Bytes& bytes) {
    codec::Decoded d = codec::decode(bytes);
    EXPECT_EQ(d.status, codec::Status::ok);
    return d.bitmap;
}

// The largest difference of any channel between two pixel arrays.
int max_difference(const Pixels& a, const Pixels& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 32; k += 8)
            worst = std::max(worst, std::abs(int((a[i] >> k) & 0xFF) - int((b[i] >> k) & 0xFF)));
    return worst;
}

template <class F>
error::Id raised(F&& f) {
    try {
        f();
    } catch (const runtime::Throw&) {
        return error::last.id;
    }
    return error::Id{255, 255};
}

class ImageCodecTest : public RuntimeTest {};

}  // namespace

TEST(ImageCodec, EveryFormatRoundTrips) {
    struct Case {
        int32_t format;
        bool alpha;    // transparency kept
        int tolerance;  // lossy formats come back close, not equal
    } cases[] = {
        {codec::format::png, true, 0},  {codec::format::tiff, true, 0}, {codec::format::bmp, false, 0},
        {codec::format::gif, true, 0},  {codec::format::jpeg, false, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Pixels in = sample(c.alpha);
        std::optional<Bytes> bytes = codec::encode(in, 5, 3, c.format);
        ASSERT_TRUE(bytes);
        EXPECT_TRUE(codec::known_format_q(*bytes));
        codec::Bitmap out = decoded(*bytes);
        ASSERT_EQ(out.width, 5);
        ASSERT_EQ(out.height, 3);
        if (c.format == codec::format::gif) {
            // One bit of transparency: the half-transparent pixel becomes opaque.
            in[7] |= 0xFF000000u;
        }
        EXPECT_LE(max_difference(in, out.pixels), c.tolerance);
    }
}

TEST(ImageCodec, GifReducesManyColoursToAPalette) {
    Pixels in(64 * 64);
    for (uint32_t i = 0; i < in.size(); ++i) in[i] = 0xFF000000u | (i * 2654435761u & 0xFFFFFF);
    std::optional<Bytes> bytes = codec::encode(in, 64, 64, codec::format::gif);
    ASSERT_TRUE(bytes);
    codec::Bitmap out = decoded(*bytes);
    EXPECT_EQ(out.width, 64);
    EXPECT_EQ(out.height, 64);
    for (uint32_t w : out.pixels) EXPECT_EQ(w >> 24, 255u);
}

TEST(ImageCodec, SignaturesDecideTheContainer) {
    struct Case {
        std::string bytes;
        bool known;
    } cases[] = {
        {"\x89PNG\r\n", true}, {"\xFF\xD8\xFF\xE0", true}, {"BM", true}, {"GIF87a", true}, {"GIF89a", true},
        {"GIF88a", false},     {"GIF8", false},            {std::string("II*\0", 4), true},
        {std::string("MM\0*", 4), true}, {"II*", false},   {"", false}, {"<svg", false},
    };
    for (const Case& c : cases) {
        Bytes b(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(codec::known_format_q(b), c.known) << c.bytes;
        // Unknown data is not an error: the caller gives none.
        if (!c.known) {
            EXPECT_EQ(codec::decode(b).status, codec::Status::unknown);
        }
    }
}

TEST(ImageCodec, DamagedDataIsRefusedNeverACrash) {
    for (int32_t format : {codec::format::png, codec::format::gif, codec::format::bmp, codec::format::jpeg,
                           codec::format::tiff}) {
        SCOPED_TRACE(format);
        Bytes good = *codec::encode(sample(false), 5, 3, format);
        // Cut short at several places, and with bytes after the header overwritten.
        for (size_t keep : {size_t(6), size_t(14), good.size() / 2}) {
            Bytes cut(good.begin(), good.begin() + ptrdiff_t(std::min(keep, good.size())));
            EXPECT_EQ(codec::decode(cut).status, codec::Status::bad_data) << keep;
        }
        Bytes garbled = good;
        for (size_t i = 8; i < garbled.size(); ++i) garbled[i] = uint8_t(i * 31 + 7);
        EXPECT_NE(codec::decode(garbled).status, codec::Status::ok);
    }
    // The truncated GIF the header promises a picture for.
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 10, 0, 10, 0};
    EXPECT_EQ(codec::decode(gif).status, codec::Status::bad_data);
}

TEST(ImageCodec, ForgedHugeSizesAreRefusedBeforeDecoding) {
    // A GIF whose screen claims 65535 x 65535 pixels and whose frame is as large.
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0,
                 ',', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x4C, 0x01, 0, ';'};
    EXPECT_EQ(codec::decode(gif).status, codec::Status::bad_data);
}

TEST(ImageCodec, EncoderArguments) {
    EXPECT_FALSE(codec::encode(sample(false), 5, 3, 5));
    EXPECT_FALSE(codec::encode(sample(false), 5, 3, -1));
    EXPECT_EQ(codec::encode({}, 0, 3, codec::format::png), Bytes{});
    // Fewer pixels than the size asks for.
    EXPECT_FALSE(codec::encode(Pixels(3), 5, 3, codec::format::png));
}

// The value side ------------------------------------------------------------------------------

TEST_F(ImageCodecTest, ValuesRoundTripAndStayValid) {
    Pixels in = sample(true);
    Cell* img = image::push_from_memory(5, 3, 0, reinterpret_cast<const uint8_t*>(in.data()));
    Cell encoded;
    image::encode_value(img, &encoded, codec::format::png);
    ASSERT_TRUE(encoded.is(Type::binary));
    Cell* held = stack::push(&encoded);
    Cell back = *image::decode_source(held);
    // The decoded image owns a copy of the bytes: changing the binary leaves it whole.
    std::span<const uint8_t> b = binary::bytes_of(held);
    std::memset(const_cast<uint8_t*>(b.data()), 0, b.size());
    collector::recycle();
    EXPECT_EQ(image::width(&back), 5);
    EXPECT_EQ(mold(back), mold(*img));

    // From a file, which may go away afterwards.
    char name[] = "/tmp/zuv-image-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    Bytes bmp = *codec::encode(in, 5, 3, codec::format::bmp);
    ASSERT_EQ(write(fd, bmp.data(), bmp.size()), ssize_t(bmp.size()));
    close(fd);
    Cell* file = text(name);
    file->set_type(Type::file);
    Cell from_file = *image::decode_source(file);
    std::remove(name);
    collector::recycle();
    EXPECT_EQ(image::height(&from_file), 3);
    EXPECT_EQ(image::get_pixel(&from_file, 4), in[4]);
    // A missing file, or one that holds no image, cannot be opened.
    EXPECT_EQ(raised([&] { image::decode_source(file); }), error::id::access_cannot_open);
}

TEST_F(ImageCodecTest, ValueErrors) {
    Bytes cut = *codec::encode(sample(false), 5, 3, codec::format::png);
    cut.resize(30);
    EXPECT_EQ(raised([&] { image::decode_binary(cut); }), error::id::access_bad_media);
    EXPECT_TRUE(image::decode_binary(Bytes{'x', 'y'})->is(Type::none));
    Cell* empty = image::push_new(0, 4, 0);
    Cell out = integer(7);
    EXPECT_EQ(raised([&] { image::encode_value(empty, &out, codec::format::png); }), error::id::access_bad_media);
    // An unknown format is told on the output and leaves the result as it was.
    Cell* img = image::push_new(1, 1, 0xFF000000u);
    ::testing::internal::CaptureStdout();
    image::encode_value(img, &out, 5);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Cannot find image encoder\n");
    EXPECT_EQ(mold(out), "7");
}

TEST_F(ImageCodecTest, ClipboardCarriesImagesAsPng) {
    Pixels in = sample(true);
    Cell* img = image::push_from_memory(5, 3, 0, reinterpret_cast<const uint8_t*>(in.data()));
    EXPECT_EQ(mold(*clipboard::write(img)), "true");
    EXPECT_EQ(clipboard::backend().get()->kind, clipboard::Content::Kind::image);
    EXPECT_EQ(mold(*clipboard::read()), mold(*img));
    clipboard::set_backend(nullptr);
}

// The drawing side ----------------------------------------------------------------------------

namespace {
std::vector<uintptr_t> released;
void note_release(uintptr_t object) { released.push_back(object); }
}  // namespace

TEST_F(ImageCodecTest, DrawingCacheIsReleasedWhenStaleOrDead) {
    image::set_cache_release(note_release);
    released.clear();
    Cell* img = image::push_new(2, 2, 0xFF000000u);
    image::set_cache(img, 11);
    EXPECT_EQ(image::get_cache(img), 11u);
    // Replacing releases the old one; a write to the pixels drops the cache.
    image::set_cache(img, 12);
    EXPECT_EQ(released, std::vector<uintptr_t>{11});
    image::set_pixel(img, 0, 0xFFFFFFFFu);
    EXPECT_EQ(image::get_cache(img), 0u);
    EXPECT_EQ(released, (std::vector<uintptr_t>{11, 12}));
    // Used since the last collection: kept by the next, released by the one after.
    image::set_cache(img, 13);
    collector::recycle();
    EXPECT_EQ(image::get_cache(img), 13u);
    collector::recycle();
    collector::recycle();
    EXPECT_EQ(image::get_cache(img), 0u);
    EXPECT_EQ(released.back(), 13u);
    // An unreachable image takes its cache with it.
    image::set_cache(img, 14);
    stack::pop(1);
    collector::recycle();
    EXPECT_EQ(released.back(), 14u);
    // The explicit release frees the record at once.
    Cell* other = image::push_new(1, 1, 0);
    image::set_cache(other, 15);
    int32_t handle = image::record(other)->handle;
    image::release_value(other);
    EXPECT_EQ(released.back(), 15u);
    EXPECT_EQ(external::records[handle].kind, external::free_marker);
    image::set_cache_release(nullptr);
}

TEST_F(ImageCodecTest, AStaleCacheRecordIsNotTakenForAnother) {
    image::set_cache_release(note_release);
    released.clear();
    // Only a C++ local holds this image over a collection: its record is swept, and the
    // slot may go to another image, whose cache this one must not see or release.
    Cell lonely = *image::push_new(1, 1, 0);
    image::set_cache(&lonely, 21);
    stack::pop(1);
    collector::recycle();
    EXPECT_EQ(released, std::vector<uintptr_t>{21});
    Cell* other = image::push_new(1, 1, 0);
    image::set_cache(other, 22);
    EXPECT_EQ(image::get_cache(&lonely), 0u);
    image::release_cache(&lonely);
    EXPECT_EQ(image::get_cache(other), 22u);
    image::release_value(other);
    image::set_cache_release(nullptr);
}

TEST_F(ImageCodecTest, HelpersForTheGui) {
    // Rows of a stride wider than the pixels, scaled by nearest neighbour and flipped.
    uint32_t rows[2][3] = {{0xFF000001, 0xFF000002, 0xDEADBEEF}, {0xFF000003, 0xFF000004, 0xDEADBEEF}};
    Cell* img = image::push_from_memory(2, 2, 12, reinterpret_cast<const uint8_t*>(rows));
    EXPECT_EQ(image::get_pixel(img, 3), 0xFF000004u);
    Cell* big = image::push_resized(img, 4, 2);
    EXPECT_EQ(image::get_pixel(big, 1), 0xFF000001u);
    EXPECT_EQ(image::get_pixel(big, 2), 0xFF000002u);
    EXPECT_EQ(image::get_pixel(big, 7), 0xFF000004u);
    Cell* flipped = image::push_flip_vertical(img);
    EXPECT_EQ(image::get_pixel(flipped, 0), 0xFF000003u);
    EXPECT_EQ(image::get_pixel(flipped, 3), 0xFF000002u);
}
