// Image codecs over GdkPixbuf (decoding every format, encoding PNG, JPEG, BMP and TIFF) and
// giflib (encoding GIF). Nothing here throws while a toolkit's C frame is on the stack, and
// every toolkit object is released on every path.
#include "datatypes/image-codec.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "runtime/shared-library.h"

namespace zuv::image_codec {

namespace {

// GdkPixbuf's entries (with the GLib ones it needs), found at the first image read or
// written: the library and what it pulls in would otherwise be mapped by every start-up.
struct Pixbuf {
    decltype(&gdk_pixbuf_get_width) get_width = nullptr;
    decltype(&gdk_pixbuf_get_height) get_height = nullptr;
    decltype(&gdk_pixbuf_get_n_channels) get_n_channels = nullptr;
    decltype(&gdk_pixbuf_get_rowstride) get_rowstride = nullptr;
    decltype(&gdk_pixbuf_get_has_alpha) get_has_alpha = nullptr;
    decltype(&gdk_pixbuf_get_bits_per_sample) get_bits_per_sample = nullptr;
    decltype(&gdk_pixbuf_get_colorspace) get_colorspace = nullptr;
    decltype(&gdk_pixbuf_read_pixels) read_pixels = nullptr;
    decltype(&gdk_pixbuf_new) make = nullptr;
    decltype(&gdk_pixbuf_get_pixels) get_pixels = nullptr;
    decltype(&gdk_pixbuf_save_to_buffer) save_to_buffer = nullptr;
    decltype(&gdk_pixbuf_loader_new_with_type) loader_new_with_type = nullptr;
    decltype(&gdk_pixbuf_loader_set_size) loader_set_size = nullptr;
    decltype(&gdk_pixbuf_loader_write) loader_write = nullptr;
    decltype(&gdk_pixbuf_loader_close) loader_close = nullptr;
    decltype(&gdk_pixbuf_loader_get_pixbuf) loader_get_pixbuf = nullptr;
    decltype(&g_object_unref) object_unref = nullptr;
    decltype(&g_error_free) error_free = nullptr;
    decltype(&g_free) free = nullptr;
    decltype(&g_signal_connect_data) signal_connect_data = nullptr;
};

std::string library_problem;
// Set once the library is open: the code below runs only after open_pixbuf() said so.
const Pixbuf* gdk = nullptr;

// Null when the library cannot be opened (library_problem then says why).
const Pixbuf* open_pixbuf() {
    static const Pixbuf* ready = [] () -> const Pixbuf* {
        static runtime::SharedLibrary library{"libgdk_pixbuf-2.0.so.0", "libgdk_pixbuf-2.0.so"};
        static Pixbuf api;
        bool found = library.bind(api.get_width, "gdk_pixbuf_get_width") &&
                     library.bind(api.get_height, "gdk_pixbuf_get_height") &&
                     library.bind(api.get_n_channels, "gdk_pixbuf_get_n_channels") &&
                     library.bind(api.get_rowstride, "gdk_pixbuf_get_rowstride") &&
                     library.bind(api.get_has_alpha, "gdk_pixbuf_get_has_alpha") &&
                     library.bind(api.get_bits_per_sample, "gdk_pixbuf_get_bits_per_sample") &&
                     library.bind(api.get_colorspace, "gdk_pixbuf_get_colorspace") &&
                     library.bind(api.read_pixels, "gdk_pixbuf_read_pixels") &&
                     library.bind(api.make, "gdk_pixbuf_new") &&
                     library.bind(api.get_pixels, "gdk_pixbuf_get_pixels") &&
                     library.bind(api.save_to_buffer, "gdk_pixbuf_save_to_buffer") &&
                     library.bind(api.loader_new_with_type, "gdk_pixbuf_loader_new_with_type") &&
                     library.bind(api.loader_set_size, "gdk_pixbuf_loader_set_size") &&
                     library.bind(api.loader_write, "gdk_pixbuf_loader_write") &&
                     library.bind(api.loader_close, "gdk_pixbuf_loader_close") &&
                     library.bind(api.loader_get_pixbuf, "gdk_pixbuf_loader_get_pixbuf") &&
                     library.bind(api.object_unref, "g_object_unref") &&
                     library.bind(api.error_free, "g_error_free") &&
                     library.bind(api.free, "g_free") &&
                     library.bind(api.signal_connect_data, "g_signal_connect_data");
        if (found) return gdk = &api;
        library_problem = library.missing();
        return nullptr;
    }();
    return ready;
}

bool starts_with(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The toolkit's name of the loader for the signature at the start of the bytes, or null.
const char* loader_type(std::span<const uint8_t> b) {
    if (starts_with(b, {137, 'P', 'N', 'G'})) return "png";
    if (starts_with(b, {0xFF, 0xD8, 0xFF})) return "jpeg";
    if (starts_with(b, {'B', 'M'})) return "bmp";
    if (starts_with(b, {'G', 'I', 'F', '8', '7', 'a'}) || starts_with(b, {'G', 'I', 'F', '8', '9', 'a'})) return "gif";
    if (starts_with(b, {'I', 'I', '*', 0}) || starts_with(b, {'M', 'M', 0, '*'})) return "tiff";
    return nullptr;
}

bool size_fits(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= max_side && height <= max_side &&
           uint64_t(width) * uint64_t(height) <= max_pixels;
}

// Told the size before the loader makes its pixel buffer: a size no image can hold stops the
// load there (a size of 0 asks the loader to give up), so a forged header cannot make the
// toolkit allocate gigabytes.
void on_size_prepared(GdkPixbufLoader* loader, gint width, gint height, gpointer refused) {
    if (size_fits(width, height)) return;
    *static_cast<bool*>(refused) = true;
    gdk->loader_set_size(loader, 0, 0);
}

// The pixbuf's pixels as straight-alpha words; false when its layout is not 8-bit RGB(A).
bool read_pixbuf(GdkPixbuf* pixbuf, Bitmap& out) {
    int width = gdk->get_width(pixbuf), height = gdk->get_height(pixbuf);
    int channels = gdk->get_n_channels(pixbuf), stride = gdk->get_rowstride(pixbuf);
    bool alpha = gdk->get_has_alpha(pixbuf);
    if (!size_fits(width, height) || gdk->get_bits_per_sample(pixbuf) != 8 ||
        gdk->get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || channels != (alpha ? 4 : 3))
        return false;
    const guint8* rows = gdk->read_pixels(pixbuf);
    out.width = width;
    out.height = height;
    out.pixels.resize(size_t(width) * size_t(height));
    uint32_t* to = out.pixels.data();
    for (int y = 0; y < height; ++y) {
        const guint8* p = rows + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x, p += channels) {
            uint32_t a = alpha ? p[3] : 255u;
            *to++ = (a << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        }
    }
    return true;
}

// A pixbuf holding the pixels, with or without an alpha channel; null when out of memory.
GdkPixbuf* make_pixbuf(std::span<const uint32_t> pixels, int32_t width, int32_t height, bool alpha) {
    GdkPixbuf* pixbuf = gdk->make(GDK_COLORSPACE_RGB, alpha, 8, width, height);
    if (!pixbuf) return nullptr;
    int channels = gdk->get_n_channels(pixbuf), stride = gdk->get_rowstride(pixbuf);
    guint8* rows = gdk->get_pixels(pixbuf);
    const uint32_t* from = pixels.data();
    for (int32_t y = 0; y < height; ++y) {
        guint8* p = rows + size_t(y) * size_t(stride);
        for (int32_t x = 0; x < width; ++x, p += channels) {
            uint32_t w = *from++;
            p[0] = uint8_t(w >> 16);
            p[1] = uint8_t(w >> 8);
            p[2] = uint8_t(w);
            if (alpha) p[3] = uint8_t(w >> 24);
        }
    }
    return pixbuf;
}

std::optional<std::vector<uint8_t>> encode_pixbuf(std::span<const uint32_t> pixels, int32_t width, int32_t height,
                                                  const char* type, bool alpha) {
    GdkPixbuf* pixbuf = make_pixbuf(pixels, width, height, alpha);
    if (!pixbuf) return std::nullopt;
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    gboolean ok = gdk->save_to_buffer(pixbuf, &buffer, &size, type, &error, nullptr);
    gdk->object_unref(pixbuf);
    if (error) gdk->error_free(error);
    if (!ok) {
        gdk->free(buffer);
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + size);
    gdk->free(buffer);
    return bytes;
}

// GIF ---------------------------------------------------------------------------------------

int gif_write(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + count);
    return count;
}

// One palette index per pixel and the palette. A pixel with alpha below 128 takes the
// transparent index (the last one used); the others keep their colour exactly when there
// are few enough colours, else the median-cut quantizer picks the palette.
struct Indexed {
    std::vector<GifByteType> indexes;
    std::vector<GifColorType> palette;
    int transparent = -1;
};

bool index_pixels(std::span<const uint32_t> pixels, int32_t width, int32_t height, Indexed& out) {
    size_t n = pixels.size();
    bool any_clear = std::any_of(pixels.begin(), pixels.end(), [](uint32_t w) { return (w >> 24) < 128; });
    int room = any_clear ? 255 : 256;
    out.indexes.resize(n);
    std::unordered_map<uint32_t, int> seen;
    bool exact = true;
    for (size_t i = 0; i < n && exact; ++i) {
        uint32_t w = pixels[i];
        if ((w >> 24) < 128) continue;
        uint32_t rgb = w & 0xFFFFFF;
        auto [it, added] = seen.try_emplace(rgb, static_cast<int>(seen.size()));
        if (added && static_cast<int>(seen.size()) > room) exact = false;
        else out.indexes[i] = static_cast<GifByteType>(it->second);
    }
    if (exact) {
        out.palette.resize(seen.size());
        for (auto [rgb, index] : seen)
            out.palette[size_t(index)] = GifColorType{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
    } else {
        std::vector<GifByteType> r(n), g(n), b(n);
        for (size_t i = 0; i < n; ++i) {
            r[i] = uint8_t(pixels[i] >> 16);
            g[i] = uint8_t(pixels[i] >> 8);
            b[i] = uint8_t(pixels[i]);
        }
        int size = room;
        out.palette.assign(256, GifColorType{0, 0, 0});
        if (GifQuantizeBuffer(unsigned(width), unsigned(height), &size, r.data(), g.data(), b.data(),
                              out.indexes.data(), out.palette.data()) != GIF_OK)
            return false;
        out.palette.resize(size_t(std::clamp(size, 1, room)));
    }
    if (any_clear) {
        out.transparent = static_cast<int>(out.palette.size());
        out.palette.push_back(GifColorType{0, 0, 0});
        for (size_t i = 0; i < n; ++i)
            if ((pixels[i] >> 24) < 128) out.indexes[i] = static_cast<GifByteType>(out.transparent);
    }
    if (out.palette.empty()) out.palette.push_back(GifColorType{0, 0, 0});
    return true;
}

std::optional<std::vector<uint8_t>> encode_gif(std::span<const uint32_t> pixels, int32_t width, int32_t height) {
    Indexed indexed;
    if (!index_pixels(pixels, width, height, indexed)) return std::nullopt;
    // The colour table of a GIF has a power-of-two size of at least 2 entries.
    int bits = 1;
    while ((1 << bits) < static_cast<int>(indexed.palette.size())) ++bits;
    indexed.palette.resize(size_t(1) << bits, GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(1 << bits, indexed.palette.data());
    if (!map) return std::nullopt;
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gif_write, &error);
    if (!gif) {
        GifFreeMapObject(map);
        return std::nullopt;
    }
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, width, height, bits, 0, map) == GIF_OK;
    if (ok && indexed.transparent >= 0) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, indexed.transparent};
        GifByteType extension[4];
        size_t length = EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    for (int32_t y = 0; ok && y < height; ++y)
        ok = EGifPutLine(gif, indexed.indexes.data() + size_t(y) * size_t(width), width) == GIF_OK;
    // Closing writes the trailer and frees the handle, whatever happened before.
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    if (!ok) return std::nullopt;
    return out;
}

// Decoding ----------------------------------------------------------------------------------

Decoded load(std::span<const uint8_t> bytes, const char* type) {
    Decoded result;
    result.status = Status::bad_data;
    GError* error = nullptr;
    GdkPixbufLoader* loader = gdk->loader_new_with_type(type, &error);
    if (!loader) {
        if (error) gdk->error_free(error);
        return result;
    }
    bool refused = false;
    gdk->signal_connect_data(loader, "size-prepared", G_CALLBACK(on_size_prepared), &refused, nullptr, GConnectFlags(0));
    // Fed in pieces, so that a refused size stops the reading there instead of inflating the
    // rest of the data for nothing.
    constexpr size_t piece = 4096;
    bool written = true;
    for (size_t at = 0; written && !refused && at < bytes.size(); at += piece) {
        written = gdk->loader_write(loader, bytes.data() + at, std::min(piece, bytes.size() - at), &error);
        if (error) {
            gdk->error_free(error);
            error = nullptr;
        }
    }
    // A loader must be closed before it goes, also after a failed write.
    bool closed = gdk->loader_close(loader, &error);
    if (error) gdk->error_free(error);
    GdkPixbuf* pixbuf = gdk->loader_get_pixbuf(loader);
    if (written && closed && !refused && pixbuf && read_pixbuf(pixbuf, result.bitmap)) result.status = Status::ok;
    else result.bitmap = Bitmap{};
    gdk->object_unref(loader);
    return result;
}

// The TIFF loader reads through an interface that hands out premultiplied colours and does
// not divide them again on some versions of the toolkit. One half-transparent pixel written
// and read back tells whether this one does; its colours are then divided here.
bool tiff_comes_premultiplied() {
    static const bool premultiplied = [] {
        const uint32_t probe = 0x80FFFFFF;
        std::optional<std::vector<uint8_t>> bytes = encode_pixbuf({&probe, 1}, 1, 1, "tiff", true);
        if (!bytes) return false;
        Decoded d = load(*bytes, "tiff");
        return d.status == Status::ok && (d.bitmap.pixels[0] & 0xFF) < 0xC0;
    }();
    return premultiplied;
}

void unpremultiply(std::vector<uint32_t>& pixels) {
    for (uint32_t& w : pixels) {
        uint32_t a = w >> 24;
        if (a == 0 || a == 255) continue;
        uint32_t c[3];
        for (int k = 0; k < 3; ++k) c[k] = std::min(255u, (((w >> (8 * k)) & 0xFF) * 255 + a / 2) / a);
        w = (a << 24) | (c[2] << 16) | (c[1] << 8) | c[0];
    }
}

}  // namespace

bool known_format_q(std::span<const uint8_t> bytes) { return loader_type(bytes) != nullptr; }

const char* library_error() { return open_pixbuf() ? nullptr : library_problem.c_str(); }

Decoded decode(std::span<const uint8_t> bytes) {
    const char* type = loader_type(bytes);
    if (!type) return Decoded{};
    if (!open_pixbuf()) return Decoded{Status::unavailable, {}};
    Decoded result = load(bytes, type);
    if (result.status == Status::ok && type == std::string_view("tiff") && tiff_comes_premultiplied())
        unpremultiply(result.bitmap.pixels);
    return result;
}

std::optional<std::vector<uint8_t>> encode(std::span<const uint32_t> pixels, int32_t width, int32_t height,
                                           int32_t format) {
    if (format < format::bmp || format > format::tiff) return std::nullopt;
    if (width <= 0 || height <= 0) return std::vector<uint8_t>{};
    if (!size_fits(width, height) || pixels.size() < size_t(width) * size_t(height)) return std::nullopt;
    if (format != format::gif && !open_pixbuf()) return std::nullopt;
    switch (format) {
        case format::bmp: return encode_pixbuf(pixels, width, height, "bmp", false);
        case format::png: return encode_pixbuf(pixels, width, height, "png", true);
        case format::gif: return encode_gif(pixels, width, height);
        case format::jpeg: return encode_pixbuf(pixels, width, height, "jpeg", false);
        default: return encode_pixbuf(pixels, width, height, "tiff", true);
    }
}

}  // namespace zuv::image_codec
