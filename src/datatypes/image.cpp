// image!: pixels in a series buffer behind a small record; pixel access by index and pair,
// planes, rectangles copied and blitted, molding, the codecs' value side and the drawing cache.
// Buffers move on any allocation (a change handler too): pixel addresses are taken again after.
#include "datatypes/path.h"
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "datatypes/binary-base.h"
#include "datatypes/file.h"
#include "datatypes/image-codec.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/numeric.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "memory/upcalls.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "runtime/external.h"
#include "runtime/print.h"

namespace zuv::image {

namespace {

namespace op = actions::op;

constexpr uint32_t opaque_white = 0xFFFFFFFF;
constexpr int32_t record_units = record_bytes / 4;
static_assert(record_bytes % 4 == 0);

Cell* none_result() { return const_cast<Cell*>(&none::shared); }

uint32_t next_stamp = 0;

// Pixel words and tuples ----------------------------------------------------------------------

inline uint32_t alpha_of(uint32_t w) { return w >> 24; }
inline uint32_t with_alpha(uint32_t w, uint32_t a) { return (w & 0xFFFFFF) | (a << 24); }
inline uint32_t with_rgb(uint32_t w, uint32_t r, uint32_t g, uint32_t b) {
    return (w & 0xFF000000) | (r << 16) | (g << 8) | b;
}

void tuple_of_pixel(uint32_t w, Cell* out) {
    uint32_t r = (w >> 16) & 0xFF, g = (w >> 8) & 0xFF, b = w & 0xFF, t = 255 - alpha_of(w);
    tuple::make_at(out, 4, r | (g << 8) | (b << 16) | (t << 24), 0, 0);
}

// Sizes -----------------------------------------------------------------------------------------

// The size a pair asks for: a negative side counts as 0; a side past 16 bits cannot be held.
void checked_size(const Cell* size, int32_t& w, int32_t& h) {
    w = std::max(pair::x(size), 0);
    h = std::max(pair::y(size), 0);
    if (w > image_codec::max_side || h > image_codec::max_side) error::raise(error::id::script_out_of_range, size);
}

void make_empty(Cell* c, int32_t w, int32_t h) { cell::make(c, Type::image, 0, 0, pack_size(w, h)); }

// The pixels of a rectangle, row by row (the rectangle must lie inside the image).
Cell* copy_rect(const Cell* source, int32_t x, int32_t y, int32_t w, int32_t h) {
    Cell* made = stack::push_slot();
    cell::make(made, Type::unset);  // a collection during the allocation must not see half a value
    Ref node = new_bitmap(w, h, 0);
    make_at(made, node);
    const uint32_t* from = pixels(source);
    uint32_t* to = pixels(made);
    int32_t stride = width(source);
    for (int32_t row = 0; row < h; ++row)
        std::memcpy(to + size_t(row) * size_t(w), from + (int64_t(y) + row) * stride + x, size_t(w) * 4);
    return made;
}

// Pixel index -----------------------------------------------------------------------------------

struct Position {
    int64_t offset;  // clamped to 0 .. the pixel count
    bool out;        // outside the image, for pick and poke
};

// An integer! index (given as a number) or a pair! (x, y) as a pixel offset from the head.
// Base 1 (pick, poke, at) counts the head as 1 and as 0 alike; base 0 (skip) counts it as 0.
Position pixel_index(const Cell* img, const Cell* index_cell, int64_t index, int32_t base) {
    int64_t w = width(img), h = height(img), count = w * h;
    int64_t e = index;
    bool out = false;
    if (index_cell && index_cell->is(Type::pair)) {
        int64_t x = pair::x(index_cell), y = pair::y(index_cell);
        if (base == 1) {
            e = x + w * (y > 0 ? y - 1 : y);
            out = x < 1 || x > w || y < 1 || y > h;
        } else {
            e = x + w * y;
            out = x < 0 || x >= w || y < 0 || y >= h;
        }
    }
    int64_t offset = int64_t(img->int1()) + e - base + (base == 1 && e <= 0 ? 1 : 0);
    if (e == 0 || offset < 0 || offset >= count) out = true;
    return {std::clamp<int64_t>(offset, 0, count), out};
}

int64_t offset_index(const Cell* offset) {
    if (offset->is(Type::integer)) return offset->int2();
    if (!offset->is(Type::pair)) error::raise(error::id::script_invalid_arg, offset);
    return 0;
}

// The cache record ------------------------------------------------------------------------------
// The drawing layer's object for an image lives in an external-resource record created when
// the first object is stored. The record outlives the image only until the sweep after the
// image died; an image whose record was swept while only the machine stack held it (so its
// marker never ran) finds its handle stale: the stamp tells it apart from a record that
// another image took over.

struct CacheHolder {
    uintptr_t object;
    uint32_t stamp;
};

int32_t image_kind = 0;
CacheRelease cache_release = nullptr;
FaceRenderer face_renderer = nullptr;

void release_record(uintptr_t value) {
    auto* holder = reinterpret_cast<CacheHolder*>(value);
    if (!holder) return;
    if (holder->object && cache_release) cache_release(holder->object);
    delete holder;
}

Record* record_of_node(Ref node) {
    return reinterpret_cast<Record*>(memory::buffer_of(node)->head_ptr() - record_bytes);
}

CacheHolder* holder_of(Record* r) {
    int32_t h = r->handle;
    if (h < 0) return nullptr;
    if (h < external::capacity) {
        const external::Record& e = external::records[h];
        if (e.kind != external::free_marker && int32_t(e.kind & 0xFF) == image_kind) {
            auto* holder = reinterpret_cast<CacheHolder*>(e.value);
            if (holder && holder->stamp == r->stamp) return holder;
        }
    }
    r->handle = -1;
    return nullptr;
}

void drop_object(CacheHolder* holder) {
    uintptr_t object = holder->object;
    holder->object = 0;
    if (object && cache_release) cache_release(object);
}

// Pixels were written: a cache made from the old ones no longer shows the image.
void written(Cell* img) {
    if (series::node(img)) release_cache(img);
}

// Collector hook, for every live image cell: keeps the cache record, and releases a cache that
// was not used since the last collection.
void mark_value(Cell* c) {
    if (!series::node(c)) return;
    Record* r = record_of_node(series::node(c));
    CacheHolder* holder = holder_of(r);
    if (!holder || !external::mark(r->handle, nullptr)) return;
    if (r->flags & flag::cache_used) r->flags &= ~flag::cache_used;
    else drop_object(holder);
}

// Face rendering --------------------------------------------------------------------------------

bool function_q(Type t) { return in_family(family::applicable, t); }

// Asks the library's face? whether an object is a face.
bool face_q(const Cell* object) {
    Cell* slot = context::get_value_slot(symbol::make("face?"), context::global);
    if (!slot || !function_q(slot->type())) return false;
    Cell fn = *slot, args[1] = {*object}, answer;
    Cell name = scalar::word_of("face?");
    upcall::calls.apply(&fn, &name, args, 1, &answer, nullptr, 0);
    return answer.is(Type::logic) && logic::get(&answer);
}

// Planes ----------------------------------------------------------------------------------------

// The four bytes a tuple! or integer! gives set_data: a 3-byte tuple's fourth is 0, an
// integer's low byte is the first.
void colour_bytes(const Cell* value, uint8_t (&c)[4]) {
    if (value->is(Type::integer)) {
        c[0] = static_cast<uint8_t>(integer::get(value));
        c[1] = c[2] = c[3] = 0;
        return;
    }
    for (int32_t i = 0; i < 4; ++i) c[i] = i < tuple::length(value) ? tuple::get(value, i) : 0;
}

void write_plane(uint32_t* p, int64_t count, std::span<const uint8_t> bytes, int32_t format) {
    switch (format) {
        case plane::argb:
            std::memcpy(p, bytes.data(), size_t(std::min<int64_t>(count * 4, int64_t(bytes.size()))));
            break;
        case plane::rgb: {
            int64_t n = std::min<int64_t>(count, int64_t(bytes.size() / 3));
            for (int64_t i = 0; i < n; ++i) p[i] = with_rgb(p[i], bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]);
            break;
        }
        default: {
            int64_t n = std::min<int64_t>(count, int64_t(bytes.size()));
            for (int64_t i = 0; i < n; ++i) p[i] = with_alpha(p[i], 255u - bytes[i]);
        }
    }
}

void fill_plane(uint32_t* p, int64_t count, const uint8_t (&c)[4], int32_t format) {
    for (int64_t i = 0; i < count; ++i) {
        switch (format) {
            case plane::argb: p[i] = (uint32_t(255 - c[3]) << 24) | (uint32_t(c[0]) << 16) | (uint32_t(c[1]) << 8) | c[2]; break;
            case plane::rgb: p[i] = with_rgb(p[i], c[0], c[1], c[2]); break;
            default: p[i] = with_alpha(p[i], 255u - c[0]);
        }
    }
}

int32_t plane_of(const Cell* word) {
    static constexpr std::string_view names[] = {"alpha", "rgb", "argb"};
    return scalar::word_index(word, names) - 1;
}

// Text ------------------------------------------------------------------------------------------

void hex_byte(std::string& out, uint32_t byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += digits[(byte >> 4) & 0xF];
    out += digits[byte & 0xF];
}

void new_line(std::string& out, int32_t level) {
    out += '\n';
    out.append(size_t(std::max(level, 0)) * 4, ' ');
}

// make image! [WxH #{RRGGBB...} #{alpha...}]: the colour plane from the head, and the alpha
// plane (255 - A) when a pixel there is not opaque. Built whole before the target grows: the
// pixels may move with it. /part counts the opening text and the digits only.
int32_t image_text(Cell* value, Cell* buffer, bool only, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell v = *value;
    std::string out;
    if (!only) {
        out += "make image! [";
        budget -= 13;
    }
    out += std::to_string(width(&v)) + "x" + std::to_string(height(&v));
    const uint32_t* p = pixels(&v);
    int64_t count = pixel_count(&v), head = std::clamp<int64_t>(v.int1(), 0, count), n = count - head;
    bool used_up = false;
    if (!p) {
        out += " #{}";
    } else {
        p += head;
        bool lines = !flat && n * 3 > 30;
        out += " #{";
        if (lines) new_line(out, indent + 1);
        for (int64_t i = 0; i < n && !used_up; ++i) {
            if (part && budget <= 0) {
                used_up = true;
                break;
            }
            hex_byte(out, p[i] >> 16);
            hex_byte(out, p[i] >> 8);
            hex_byte(out, p[i]);
            budget -= 6;
            if (lines && (i + 1) % 10 == 0) new_line(out, indent + 1);
        }
        if (!used_up) {
            if (lines && n % 10) new_line(out, indent);
            out += '}';
            if (std::any_of(p, p + n, [](uint32_t w) { return alpha_of(w) != 255; })) {
                out += " #{";
                new_line(out, indent + 1);
                for (int64_t i = 0; i < n && !used_up; ++i) {
                    if (part && budget <= 0) {
                        used_up = true;
                        break;
                    }
                    hex_byte(out, 255 - alpha_of(p[i]));
                    budget -= 2;
                    if (!flat && (i + 1) % 10 == 0) new_line(out, indent + 1);
                }
                if (!used_up) {
                    new_line(out, indent);
                    out += '}';
                }
            }
        }
    }
    if (!only && !used_up) out += ']';
    string::append_ascii(buffer, out);
    return budget;
}

// make from a block ---------------------------------------------------------------------------

Cell* make_from_block(Cell* proto, Cell* spec) {
    scalar::Values values = scalar::values_of(spec);
    if (values.count == 0) {
        if (!proto->is(Type::image)) error::raise(error::id::script_invalid_arg, spec);
        Cell* held = stack::push(proto);
        return copy(held, held, nullptr, false, nullptr);
    }
    Cell size = values.head[0];
    if (!size.is(Type::pair)) error::raise(error::id::script_invalid_arg, &size);
    uint32_t fill = opaque_white;
    std::vector<uint8_t> rgb, alpha;
    bool has_rgb = false;
    if (values.count > 1) {
        Cell second = values.head[1];
        if (second.is(Type::tuple)) {
            fill = pixel_of_tuple(&second);
        } else if (second.is(Type::binary)) {
            std::span<const uint8_t> b = binary::bytes_of(&second);
            rgb.assign(b.begin(), b.begin() + ptrdiff_t(b.size() / 3 * 3));
            has_rgb = true;
        } else {
            error::raise(error::id::script_invalid_arg, &second);
        }
    }
    if (values.count > 2) {
        Cell third = values.head[2];
        if (!third.is(Type::binary)) error::raise(error::id::script_invalid_arg, &third);
        std::span<const uint8_t> b = binary::bytes_of(&third);
        alpha.assign(b.begin(), b.end());
    }
    int32_t w, h;
    checked_size(&size, w, h);
    Cell* made = push_new(w, h, fill);
    uint32_t* p = pixels(made);
    if (!p) return made;
    int64_t count = pixel_count(made);
    if (has_rgb) {
        int64_t n = std::min<int64_t>(count, int64_t(rgb.size() / 3));
        for (int64_t i = 0; i < n; ++i) p[i] = 0xFF000000u | (uint32_t(rgb[3 * i]) << 16) | (uint32_t(rgb[3 * i + 1]) << 8) | rgb[3 * i + 2];
    }
    int64_t n = std::min<int64_t>(count, int64_t(alpha.size()));
    for (int64_t i = 0; i < n; ++i) p[i] = with_alpha(p[i], 255u - alpha[i]);
    return made;
}

// copy/part -------------------------------------------------------------------------------------

struct Rect {
    int64_t x, y, w, h;
};

// The rectangle /part selects from the head at column x, row y; w or h below 1 for none.
Rect part_rect(const Cell* img, const Cell* part, int64_t x, int64_t y) {
    int64_t w = width(img), h = height(img), head = img->int1();
    if (part->is(Type::pair)) {
        int64_t pw = pair::x(part), ph = pair::y(part);
        if (pw >= 1 && ph >= 1 && head < w * h) return {x, y, std::min(pw, w - x), std::min(ph, h - y)};
        if (pw < 0 && ph < 0 && head > 0) {
            // A rectangle reaching left and up from the head.
            int64_t rw = -pw, rh = -ph;
            if (x == 0) x = w;
            if (rw > x) {
                rw = x;
                x = 0;
            } else {
                x -= rw;
            }
            if (y < h) ++y;
            if (rh > y) {
                rh = y;
                y = 0;
            } else {
                y -= rh;
            }
            return {x, y, rw, rh};
        }
        return {0, 0, 0, 0};
    }
    if (part->is(Type::image) && series::node(part) == series::node(img)) {
        int64_t s = std::min<int64_t>(head, part->int1()), e = std::max<int64_t>(head, part->int1());
        return {s % w, s / w, e % w - s % w, e / w - s / w};
    }
    if (part->is(Type::integer)) error::raise(error::id::internal_not_done);
    error::raise_refine_arg(words::refine::part, part);
}

// Actions ---------------------------------------------------------------------------------------

Cell* pick(Cell* s, int32_t index, Cell* index_cell) {
    Position p = pixel_index(s, index_cell, index, 1);
    if (p.out) return none_result();
    pixel_at(s, p.offset, s);
    return s;
}

Cell* poke(Cell* s, int32_t index, Cell* value, Cell* index_cell) {
    Position p = pixel_index(s, index_cell, index, 1);
    if (p.out) error::raise(error::id::script_out_of_range, index_cell);
    if (!value->is(Type::tuple)) error::raise(error::id::script_invalid_arg, value);
    uint32_t word = pixel_of_tuple(value);
    bool told = series::notify_before(s, words::global::poke, value, static_cast<int32_t>(p.offset), 1);
    set_pixel(s, p.offset, word);
    series::notify_after(told, s, words::global::poked, value, static_cast<int32_t>(p.offset), 1);
    return value;
}

Cell* at(Cell* s, Cell* offset) {
    series::set_head(s, static_cast<int32_t>(pixel_index(s, offset, offset_index(offset), 1).offset));
    return s;
}

Cell* skip(Cell* s, Cell* offset) {
    series::set_head(s, static_cast<int32_t>(pixel_index(s, offset, offset_index(offset), 0).offset));
    return s;
}

Cell* next(Cell* s) {
    if (more_q(s)) series::set_head(s, series::head(s) + 1);
    return s;
}

Cell* tail(Cell* s) {
    series::set_head(s, static_cast<int32_t>(pixel_count(s)));
    return s;
}

Cell* tail_q(Cell* s) {
    logic::make_at(s, s->int1() >= pixel_count(s));
    return s;
}

int32_t length_q(Cell* s) { return static_cast<int32_t>(pixel_count(s)); }

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell*, Cell*, int32_t, bool, bool) {
    if (element->is(Type::integer) || element->is(Type::pair)) {
        int32_t index = element->is(Type::integer) ? element->int2() : 0;
        if (!set_value) return pick(value, index, element);
        return poke(value, index, set_value, element);
    }
    int32_t format = plane_of(element);
    bool size = format < 0 && scalar::word_is(element, "size");
    if ((format < 0 && !size) || (size && set_value)) {
        const Cell* path = path::walked ? path::walked : value;
        error::raise(error::id::script_invalid_path, path, element);
    }
    if (size) {
        pair::make_at(value, width(value), height(value));
        return value;
    }
    if (!set_value) return extract_data(value, format);
    set_data(value, set_value, format);
    return set_value;
}

Cell* change(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    if (part >= 0 || dup > 1) error::raise(error::id::internal_not_done);
    bool blit = value->is(Type::image);
    if (!blit && !value->is(Type::tuple)) scalar::raise_type(error::id::script_invalid_type, value->type());
    int64_t w = width(s), h = height(s), head = s->int1();
    if (head < 0 || head >= w * h) return s;
    if (!blit) {
        uint32_t word = pixel_of_tuple(value);
        bool told = series::notify_before(s, words::global::change, value, static_cast<int32_t>(head), 1);
        set_pixel(s, head, word);
        series::notify_after(told, s, words::global::changed, value, static_cast<int32_t>(head), 1);
        series::set_head(s, static_cast<int32_t>(head + 1));
        return s;
    }
    // The other image from its first pixel, its top-left corner at the head, clipped to the
    // right and bottom edges.
    int64_t x = head % w, y = head / w;
    int64_t cols = std::min<int64_t>(width(value), w - x), rows = std::min<int64_t>(height(value), h - y);
    if (!series::node(value) || cols < 1 || rows < 1) return s;
    int32_t written_count = static_cast<int32_t>(cols * rows);
    bool told = series::notify_before(s, words::global::change, value, static_cast<int32_t>(head), written_count);
    // Taken after the owner heard of the change, and through a copy: the image may be blitted
    // into itself.
    int64_t source_width = width(value);
    std::vector<uint32_t> rect(size_t(cols * rows));
    const uint32_t* from = pixels(value);
    for (int64_t r = 0; r < rows; ++r)
        std::memcpy(rect.data() + r * cols, from + r * source_width, size_t(cols) * 4);
    uint32_t* to = pixels(s);
    for (int64_t r = 0; r < rows; ++r) std::memcpy(to + (y + r) * w + x, rect.data() + r * cols, size_t(cols) * 4);
    written(s);
    series::set_head(s, static_cast<int32_t>((y + rows - 1) * w + x + cols));
    series::notify_after(told, s, words::global::changed, value, static_cast<int32_t>(head), written_count);
    return s;
}

}  // namespace

// =============================================================================================
// Buffers and cells

uint32_t* pixels(const Cell* c) {
    if (!series::node(c)) return nullptr;
    return reinterpret_cast<uint32_t*>(memory::buffer_of(series::node(c))->head_ptr());
}

Record* record(const Cell* c) { return series::node(c) ? record_of_node(series::node(c)) : nullptr; }

Ref new_bitmap(int32_t w, int32_t h, uint32_t fill) {
    uint64_t n = uint64_t(w) * uint64_t(h);
    if (w < 1 || h < 1 || w > image_codec::max_side || h > image_codec::max_side || n > image_codec::max_pixels)
        error::raise(error::id::internal_no_memory);
    Ref node = memory::alloc_series(int64_t(n) + record_units, 4, record_bytes);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (++next_stamp == 0) next_stamp = 1;
    *reinterpret_cast<Record*>(b->head_ptr() - record_bytes) = Record{0, pack_size(w, h), -1, next_stamp};
    std::fill_n(reinterpret_cast<uint32_t*>(b->head_ptr()), n, fill);
    b->tail = b->head + static_cast<uint32_t>(n * 4);
    return node;
}

void make_at(Cell* c, Ref node) { cell::make(c, Type::image, 0, node, record_of_node(node)->size); }

Cell* push_new(int32_t w, int32_t h, uint32_t fill) {
    w = std::max(w, 0);
    h = std::max(h, 0);
    Cell* made = stack::push_slot();
    make_empty(made, w, h);
    if (w == 0 || h == 0) return made;
    make_empty(made, 0, 0);  // a collection during the allocation must not see a size without pixels
    Ref node = new_bitmap(w, h, fill);
    make_at(made, node);
    return made;
}

Cell* push_from_memory(int32_t w, int32_t h, int32_t stride, const uint8_t* bgra) {
    Cell* made = push_new(w, h, 0);
    uint32_t* p = pixels(made);
    if (!p) return made;
    size_t row = size_t(width(made)) * 4, step = stride > 0 ? size_t(stride) : row;
    for (int32_t y = 0; y < height(made); ++y)
        std::memcpy(reinterpret_cast<uint8_t*>(p) + size_t(y) * row, bgra + size_t(y) * step, row);
    return made;
}

Cell* push_resized(Cell* image, int32_t w, int32_t h) {
    Cell source = *image;
    Cell* made = push_new(w, h, 0);
    uint32_t* p = pixels(made);
    const uint32_t* from = pixels(&source);
    if (!p) return made;
    if (!from) {
        std::fill_n(p, pixel_count(made), 0u);
        return made;
    }
    int64_t sw = width(&source), sh = height(&source), dw = width(made), dh = height(made);
    for (int64_t y = 0; y < dh; ++y) {
        int64_t sy = y * sh / dh;
        for (int64_t x = 0; x < dw; ++x) p[y * dw + x] = from[sy * sw + x * sw / dw];
    }
    return made;
}

Cell* push_flip_vertical(Cell* image) {
    Cell source = *image;
    int32_t w = width(&source), h = height(&source);
    Cell* made = push_new(w, h, 0);
    uint32_t* p = pixels(made);
    const uint32_t* from = pixels(&source);
    if (!p || !from) return made;
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(p + int64_t(y) * w, from + int64_t(h - 1 - y) * w, size_t(w) * 4);
    return made;
}

uint32_t get_pixel(const Cell* image, int64_t index) { return pixels(image)[index]; }

void set_pixel(Cell* image, int64_t index, uint32_t word) {
    pixels(image)[index] = word;
    written(image);
}

void pixel_at(const Cell* image, int64_t index, Cell* out) {
    if (index >= pixel_count(image)) {
        *out = none::shared;
        return;
    }
    tuple_of_pixel(get_pixel(image, index), out);
}

uint32_t pixel_of_tuple(const Cell* t) {
    uint32_t a = tuple::length(t) > 3 ? 255u - tuple::get(t, 3) : 255u;
    return (a << 24) | (uint32_t(tuple::get(t, 0)) << 16) | (uint32_t(tuple::get(t, 1)) << 8) | tuple::get(t, 2);
}

// =============================================================================================
// Planes

Cell* extract_data(Cell* image, int32_t format) {
    const uint32_t* p = pixels(image);
    int64_t count = p ? pixel_count(image) : 0;
    std::vector<uint8_t> out;
    out.reserve(size_t(count) * (format == plane::argb ? 4 : format == plane::rgb ? 3 : 1));
    for (int64_t i = 0; i < count; ++i) {
        uint32_t w = p[i];
        switch (format) {
            case plane::argb:
                for (int k = 0; k < 4; ++k) out.push_back(uint8_t(w >> (8 * k)));
                break;
            case plane::rgb:
                out.insert(out.end(), {uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
                break;
            default: out.push_back(uint8_t(255 - alpha_of(w)));
        }
    }
    return binary::load(out);
}

void set_data(Cell* image, Cell* value, int32_t format) {
    bool bytes = value->is(Type::binary);
    if (!bytes && !value->is(Type::tuple) && !value->is(Type::integer))
        error::raise(error::id::script_invalid_arg, value);
    int32_t count = static_cast<int32_t>(pixel_count(image));
    bool told = series::notify_before(image, words::global::change, value, 0, count);
    if (uint32_t* p = pixels(image)) {
        if (bytes) {
            write_plane(p, count, binary::bytes_of(value), format);
        } else {
            uint8_t c[4];
            colour_bytes(value, c);
            fill_plane(p, count, c, format);
        }
        written(image);
    }
    series::notify_after(told, image, words::global::changed, value, 0, count);
}

void append_pixel_bytes(const Cell* image, std::vector<uint8_t>& out) {
    const uint32_t* p = pixels(image);
    if (!p) return;
    int64_t count = pixel_count(image), head = std::clamp<int64_t>(image->int1(), 0, count);
    const auto* bytes = reinterpret_cast<const uint8_t*>(p + head);
    out.insert(out.end(), bytes, bytes + (count - head) * 4);
}

// =============================================================================================
// Codecs

bool known_format_q(std::span<const uint8_t> bytes) { return image_codec::known_format_q(bytes); }

namespace {

[[noreturn]] void raise_no_codec() {
    Cell* text = string::push_new(64);
    string::append_utf8(text, image_codec::library_error());
    error::raise(error::id::access_cannot_open, text);
}

Cell* push_bitmap(const image_codec::Bitmap& bitmap) {
    Cell* made = push_new(bitmap.width, bitmap.height, 0);
    if (uint32_t* p = pixels(made)) std::memcpy(p, bitmap.pixels.data(), bitmap.pixels.size() * 4);
    return made;
}

}  // namespace

Cell* decode_binary(std::span<const uint8_t> bytes) {
    image_codec::Decoded d = image_codec::decode(bytes);
    if (d.status == image_codec::Status::unknown) return stack::push(&none::shared);
    if (d.status == image_codec::Status::bad_data) error::raise(error::id::access_bad_media);
    if (d.status == image_codec::Status::unavailable) raise_no_codec();
    return push_bitmap(d.bitmap);
}

Cell* decode_source(Cell* value) {
    if (value->is(Type::binary)) {
        // Copied out first: the decoded image is pushed while the bytes are still read.
        std::span<const uint8_t> b = binary::bytes_of(value);
        std::vector<uint8_t> bytes(b.begin(), b.end());
        return decode_binary(bytes);
    }
    if (!value->is(Type::file)) error::raise(error::id::script_invalid_arg, value);
    std::optional<std::string> contents = upcall::calls.read_file(file::to_os_path(value));
    if (contents) {
        auto* data = reinterpret_cast<const uint8_t*>(contents->data());
        image_codec::Decoded d = image_codec::decode({data, contents->size()});
        if (d.status == image_codec::Status::ok) return push_bitmap(d.bitmap);
        if (d.status == image_codec::Status::unavailable) raise_no_codec();
    }
    error::raise(error::id::access_cannot_open, value);
}

Cell* encode_value(Cell* image, Cell* output, int32_t format) {
    int64_t count = pixel_count(image);
    if (!pixels(image) || count == 0) error::raise(error::id::access_bad_media);
    if (format < image_codec::format::bmp || format > image_codec::format::tiff) {
        runtime::print_line({"Cannot find image encoder"});
        return output;
    }
    if (format != image_codec::format::gif && image_codec::library_error()) raise_no_codec();
    // The toolkits allocate nothing in the arena: the pixels stay where they are meanwhile.
    std::optional<std::vector<uint8_t>> bytes =
        image_codec::encode({pixels(image), size_t(count)}, width(image), height(image), format);
    if (!bytes) error::raise(error::id::access_bad_media);
    Cell made = *binary::load(*bytes);
    stack::pop(1);
    *output = made;
    return output;
}

// =============================================================================================
// Drawing side

void set_cache_release(CacheRelease release) { cache_release = release; }

uintptr_t get_cache(Cell* image) {
    Record* r = record(image);
    CacheHolder* holder = r ? holder_of(r) : nullptr;
    if (!holder) return 0;
    r->flags |= flag::cache_used;
    return holder->object;
}

void set_cache(Cell* image, uintptr_t object) {
    Record* r = record(image);
    if (!r) {
        // An image with no pixels keeps nothing.
        if (object && cache_release) cache_release(object);
        return;
    }
    CacheHolder* holder = holder_of(r);
    if (!holder) {
        if (!object) return;
        holder = new CacheHolder{0, r->stamp};
        r->handle = external::add(reinterpret_cast<uintptr_t>(holder), image_kind);
    }
    uintptr_t old = holder->object;
    holder->object = object;
    r->flags |= flag::cache_used;
    if (old && old != object && cache_release) cache_release(old);
}

void release_cache(Cell* image) {
    Record* r = record(image);
    if (CacheHolder* holder = r ? holder_of(r) : nullptr) drop_object(holder);
}

void mark_dirty(Cell* image) { release_cache(image); }

void release_value(Cell* image) {
    Record* r = record(image);
    if (!r || !holder_of(r)) return;
    external::remove(r->handle, true);
    r->handle = -1;
}

void set_face_renderer(FaceRenderer render) { face_renderer = render; }

// =============================================================================================
// make, to, copy, form, mold, compare

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::pair)) {
        int32_t w, h;
        checked_size(spec, w, h);
        return push_new(w, h, opaque_white);
    }
    if (spec->is(Type::block)) return make_from_block(proto, spec);
    return to(proto, spec, type);
}

Cell* to(Cell*, Cell* spec, int32_t) {
    if (spec->is(Type::image)) {
        Cell* held = stack::push(spec);
        return copy(held, held, nullptr, false, nullptr);
    }
    if (spec->is(Type::object) && face_q(spec)) {
        if (!face_renderer) error::raise(error::id::internal_not_done);
        return face_renderer(spec);
    }
    numeric::raise_bad_to_arg(Type::image, spec);
}

Cell* copy(Cell* image, Cell*, Cell* part, bool, Cell*) {
    Cell v = *image;
    int64_t w = width(&v), h = height(&v), count = w * h;
    if (!series::node(&v) || count == 0) {
        Cell* made = stack::push_slot();
        make_empty(made, static_cast<int32_t>(w), static_cast<int32_t>(h));
        return made;
    }
    int64_t head = std::clamp<int64_t>(v.int1(), 0, count);
    int64_t x = head % w, y = head / w;
    Rect r = part ? part_rect(&v, part, x, y) : Rect{x, y, w - x, h - y};
    if (r.w < 1 || r.h < 1) {
        Cell* made = stack::push_slot();
        make_empty(made, 0, 0);
        return made;
    }
    return copy_rect(&v, static_cast<int32_t>(r.x), static_cast<int32_t>(r.y), static_cast<int32_t>(r.w),
                     static_cast<int32_t>(r.h));
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return image_text(value, buffer, false, false, part, budget, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return image_text(value, buffer, only, flat, part, budget, indent);
}

// Images order by pixel count, then by their pixel bytes in memory order; the ordering
// comparisons have no meaning for them.
int32_t compare(Cell* a, Cell* b, int32_t code) {
    if (!b->is(Type::image)) return -2;
    bool same_place = series::node(a) == series::node(b) && series::head(a) == series::head(b);
    if (code == op::same) return same_place ? 0 : -1;
    if (code >= op::lesser && code <= op::greater_or_equal) return -2;
    if (same_place) return 0;
    int64_t n = pixel_count(a), m = pixel_count(b);
    if (n != m) return n < m ? -1 : 1;
    if (n == 0) return 0;
    int d = std::memcmp(pixels(a), pixels(b), size_t(n) * 4);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

// =============================================================================================

void init() {
    using datatype::fn;
    image_kind = external::register_kind("image", release_record);
    collector::set_type_marker(Type::image, mark_value);
    datatype::register_type(Type::image, {
        .make = make,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .at = at,
        .back = datatype::inherit,
        .change = change,
        .copy = copy,
        .head = datatype::inherit,
        .head_q = datatype::inherit,
        .index_q = datatype::inherit,
        .length_q = length_q,
        .next = next,
        .pick = pick,
        .poke = poke,
        .skip = skip,
        .tail = tail,
        .tail_q = tail_q,
        .modify = datatype::inherit,
    });
}

}  // namespace zuv::image
