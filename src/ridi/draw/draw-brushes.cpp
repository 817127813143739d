// DRAW brushes and line styles: solid colours, gradients (placed on each shape or with their
// own geometry), pattern brushes recorded from DRAW blocks, bitmap brushes, and the pen's width,
// joins, caps and dashes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "ridi/draw/draw-context.h"
#include "ridi/draw/text-box.h"

namespace zuv::draw {

namespace {

constexpr double pi = std::numbers::pi;

// ---------------------------------------------------------------------------------------------
// Gradients

struct Stop {
    double at;
    uint32_t color;
};

// Colour stops: colours each optionally followed by a float! position.
bool read_stops(Cursor& c, std::vector<Stop>& stops) {
    struct Raw {
        uint32_t color;
        bool placed;
        double at;
    };
    std::vector<Raw> raw;
    uint32_t color;
    while (read_color(c, color)) {
        Raw r{color, false, 0};
        if (c.more() && c.here()->is(Type::float_)) {
            r.at = c.here()->float23();
            if (!std::isfinite(r.at)) fail(c, c.index);
            r.placed = true;
            ++c.index;
        }
        raw.push_back(r);
    }
    if (raw.size() < 2) return false;
    double step = 1.0 / double(raw.size() - 1), running = 0;
    for (const Raw& r : raw) {
        if (r.placed) {
            stops.push_back({r.at, r.color});
            running = r.at;
        } else {
            stops.push_back({running, r.color});
            running += step;
        }
    }
    return true;
}

void add_stops(cairo_pattern_t* p, const std::vector<Stop>& stops) {
    for (const Stop& s : stops) {
        uint32_t c = s.color;
        cairo_pattern_add_color_stop_rgba(p, std::clamp(s.at, 0.0, 1.0), ((c >> 16) & 0xFF) / 255.0,
                                          ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0, (c >> 24) / 255.0);
    }
}

cairo_extend_t read_spread(Cursor& c) {
    int32_t s = peek_word(c);
    if (s == words().pad) {
        ++c.index;
        return CAIRO_EXTEND_PAD;
    }
    if (s == words().repeat) {
        ++c.index;
        return CAIRO_EXTEND_REPEAT;
    }
    if (s == words().reflect) {
        ++c.index;
        return CAIRO_EXTEND_REFLECT;
    }
    return CAIRO_EXTEND_PAD;
}

void read_gradient(Context&, Cursor& c, Brush& b, int32_t type) {
    cairo_pattern_t* p = nullptr;
    std::vector<Stop> stops;
    cairo_matrix_init_identity(&b.transform);
    double x, y;
    if (read_point(c, x, y)) {
        // Offset point, start and end, up to three numbers, then the colours.
        auto need_integer = [&](double& v) {
            if (!c.more() || !c.here()->is(Type::integer)) fail(c, c.index);
            v = c.here()->int2();
            ++c.index;
        };
        double start, end, angle = 0, scale_x = 1, scale_y = 1;
        need_integer(start);
        need_integer(end);
        double* extra[] = {&angle, &scale_x, &scale_y};
        for (double* e : extra)
            if (!c.more() || c.here()->is(Type::float_) || !read_number(c, *e)) break;
        int32_t at = c.index;
        if (!read_stops(c, stops)) fail(c, at);
        if (type == words().linear) {
            p = cairo_pattern_create_linear(x + start, y, x + end, y);
        } else {
            double r = std::abs(end - start);
            p = cairo_pattern_create_radial(x, y, 0, x, y, r);
        }
        if (angle != 0) cairo_matrix_rotate(&b.transform, angle * pi / 180);
        if (scale_x != 1 || scale_y != 1) {
            cairo_matrix_t s;
            cairo_matrix_init_scale(&s, scale_x, scale_y);
            cairo_matrix_multiply(&b.transform, &b.transform, &s);
        }
        add_stops(p, stops);
        cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
        b.kind = kind::gradient;
    } else {
        int32_t at = c.index;
        if (!read_stops(c, stops)) fail(c, at);
        double x1, y1, x2, y2;
        b.kind = kind::gradient;
        if (type == words().linear) {
            if (read_point(c, x1, y1)) {
                need_point(c, x2, y2);
                p = cairo_pattern_create_linear(x1, y1, x2, y2);
            } else {
                p = cairo_pattern_create_linear(0, 0, 1, 0);
                b.kind = kind::placed_gradient;
            }
        } else if (type == words().radial) {
            double r;
            bool centre = read_point(c, x1, y1);
            if (!centre) x1 = y1 = 0;
            if (read_number(c, r)) {
                double fx = x1, fy = y1;
                read_point(c, fx, fy);
                p = cairo_pattern_create_radial(fx, fy, 0, x1, y1, std::abs(r));
            } else if (centre) {
                fail(c, c.index);
            } else {
                p = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
                b.kind = kind::placed_gradient;
            }
        } else {
            // diamond: the box of its two points; centred in it, reaching its nearer sides.
            if (read_point(c, x1, y1)) {
                need_point(c, x2, y2);
                double cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
                double r = std::min(std::abs(x2 - x1), std::abs(y2 - y1)) / 2;
                double fx = cx, fy = cy;
                read_point(c, fx, fy);
                p = cairo_pattern_create_radial(fx, fy, 0, cx, cy, r);
            } else {
                p = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
                b.kind = kind::placed_gradient;
            }
        }
        add_stops(p, stops);
        cairo_pattern_set_extend(p, read_spread(c));
    }
    b.pattern.reset(p);
    b.gradient_word = type == words().diamond ? words().radial : type;
}

// ---------------------------------------------------------------------------------------------
// Pattern and bitmap brushes

// Tile mode after the points: the extend of the brush, and mirror flags per axis.
void read_tile_mode(Cursor& c, bool& mx, bool& my, bool& clamp) {
    int32_t s = peek_word(c);
    mx = my = clamp = false;
    if (s == words().tile) ++c.index;
    else if (s == words().flip_x) mx = true, ++c.index;
    else if (s == words().flip_y) my = true, ++c.index;
    else if (s == words().flip_xy) mx = my = true, ++c.index;
    else if (s == words().clamp) clamp = true, ++c.index;
}

// An image brush from a tile surface; mirrored axes become a doubled tile repeated.
void image_brush(Brush& b, cairo_surface_t* tile, bool mx, bool my, bool clamp) {
    int tw = cairo_image_surface_get_width(tile), th = cairo_image_surface_get_height(tile);
    cairo_surface_t* src = tile;
    if (mx || my) {
        src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tw * (mx ? 2 : 1), th * (my ? 2 : 1));
        cairo_t* t = cairo_create(src);
        for (int i = 0; i < (mx ? 2 : 1); ++i)
            for (int j = 0; j < (my ? 2 : 1); ++j) {
                cairo_save(t);
                cairo_translate(t, i ? 2.0 * tw : 0, j ? 2.0 * th : 0);
                cairo_scale(t, i ? -1 : 1, j ? -1 : 1);
                cairo_set_source_surface(t, tile, 0, 0);
                cairo_paint(t);
                cairo_restore(t);
            }
        cairo_destroy(t);
    }
    cairo_pattern_t* p = cairo_pattern_create_for_surface(src);
    if (src != tile) cairo_surface_destroy(src);
    cairo_pattern_set_extend(p, clamp ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(p, CAIRO_FILTER_GOOD);
    b.pattern.reset(p);
    cairo_matrix_init_identity(&b.transform);
    b.kind = kind::image;
}

void read_pattern(Context& ctx, Cursor& c, Brush& b) {
    double w_, h_;
    need_point(c, w_, h_);
    double x1 = 0, y1 = 0, x2 = w_, y2 = h_;
    if (read_point(c, x1, y1)) read_point(c, x2, y2);
    x2 = std::min(x2, w_);
    y2 = std::min(y2, h_);
    bool mx, my, clamp;
    read_tile_mode(c, mx, my, clamp);
    if (!c.more() || !c.here()->is(Type::block)) fail(c, c.index);
    Cell tile_commands = *c.here();
    ++c.index;
    int tw = static_cast<int>(std::ceil(x2 - x1)), th = static_cast<int>(std::ceil(y2 - y1));
    if (tw < 1 || th < 1 || int64_t(tw) * th > (int64_t(1) << 26)) {
        b.kind = kind::off;
        b.pattern.reset(nullptr);
        return;
    }
    cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tw, th);
    Context sub;
    sub.cr = cairo_create(tile);
    sub.surface = tile;
    sub.st = ctx.st;
    cairo_matrix_init_translate(&sub.st.ctm, -x1, -y1);
    apply_transform(sub);
    try {
        interpret(sub, &tile_commands);
    } catch (...) {
        cairo_destroy(sub.cr);
        cairo_surface_destroy(tile);
        throw;
    }
    cairo_destroy(sub.cr);
    image_brush(b, tile, mx, my, clamp);
    cairo_surface_destroy(tile);
}

void read_bitmap(Context& ctx, Cursor& c, Brush& b) {
    if (!c.more() || !c.here()->is(Type::word)) fail(c, c.index);
    const Cell* v = word_value(c.here());
    if (!v || !v->is(Type::image)) fail(c, c.index);
    Cell img = *v;
    ++c.index;
    double x1 = 0, y1 = 0, x2 = image::width(&img), y2 = image::height(&img);
    double iw = x2, ih = y2;
    if (read_point(c, x1, y1)) read_point(c, x2, y2);
    x2 = std::min(x2, iw);
    y2 = std::min(y2, ih);
    bool mx, my, clamp;
    read_tile_mode(c, mx, my, clamp);
    cairo_surface_t* whole = surface_of_image(&img);
    int tw = static_cast<int>(std::ceil(x2 - x1)), th = static_cast<int>(std::ceil(y2 - y1));
    if (!whole || tw < 1 || th < 1) {
        if (whole) cairo_surface_destroy(whole);
        b.kind = kind::off;
        b.pattern.reset(nullptr);
        return;
    }
    (void)ctx;
    cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tw, th);
    cairo_t* t = cairo_create(tile);
    cairo_set_source_surface(t, whole, -x1, -y1);
    cairo_paint(t);
    cairo_destroy(t);
    cairo_surface_destroy(whole);
    image_brush(b, tile, mx, my, clamp);
    cairo_surface_destroy(tile);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Brushes and line styles

void cmd_brush(Context& ctx, Cursor& c, bool pen) {
    Brush& b = pen ? ctx.st.pen : ctx.st.fill;
    uint32_t color;
    int32_t s = peek_word(c);
    if (read_color(c, color)) {
        if (pen && !ctx.st.font_color_set) ctx.st.text_color = color;
        b.kind = kind::solid;
        b.color = color;
        b.pattern.reset(nullptr);
    } else if (s == words().off) {
        ++c.index;
        b.kind = kind::off;
    } else if (s == words().linear || s == words().radial || s == words().diamond) {
        ++c.index;
        read_gradient(ctx, c, b, s);
    } else if (s == words().pattern) {
        ++c.index;
        read_pattern(ctx, c, b);
    } else if (s == words().bitmap) {
        ++c.index;
        read_bitmap(ctx, c, b);
    } else {
        fail(c, c.index);
    }
    if (pen && ctx.st.line_width == 0 && b.kind != kind::off) {
        ctx.st.pen_before_zero = b.kind;
        b.kind = kind::off;
    }
}

void cmd_line_width(Context& ctx, Cursor& c) {
    double v;
    need_number(c, v);
    State& s = ctx.st;
    if (v == 0) {
        if (s.line_width != 0) s.pen_before_zero = s.pen.kind;
        s.pen.kind = kind::off;
    } else if (s.line_width == 0) {
        s.pen.kind = s.pen_before_zero;
    }
    s.line_width = std::abs(v);
}

void cmd_line_join(Context& ctx, Cursor& c) {
    if (!c.more() || !c.here()->is(Type::word)) fail(c, c.index);
    int32_t s = word_symbol(c.here());
    ++c.index;
    ctx.st.join = s == words().bevel ? 1 : s == words().round ? 2 : s == words().miter_bevel ? 3 : 0;
}

void cmd_line_cap(Context& ctx, Cursor& c) {
    if (!c.more() || !c.here()->is(Type::word)) fail(c, c.index);
    int32_t s = word_symbol(c.here());
    ++c.index;
    ctx.st.cap = s == words().square ? 1 : s == words().round ? 2 : 0;
}

void cmd_line_pattern(Context& ctx, Cursor& c) {
    std::vector<double> dashes;
    bool usable = false;
    while (c.more() && c.here()->is(Type::integer)) {
        int32_t v = c.here()->int2();
        dashes.push_back(v);
        if (v < 0) usable = false, dashes.push_back(-1);
        else if (v > 0) usable = true;
        ++c.index;
    }
    // Cairo refuses negative lengths and an all-zero pattern: those draw solid lines.
    if (!usable || std::any_of(dashes.begin(), dashes.end(), [](double d) { return d < 0; })) dashes.clear();
    ctx.st.dashes = std::move(dashes);
}

}  // namespace zuv::draw
