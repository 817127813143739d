// The DRAW commands over Cairo: brushes (solid, gradients, patterns, bitmaps), line styles,
// shapes, images with their perspective warp, text, shadows, clips and transforms. Each reads
// its own arguments after the command word and leaves the cursor after the last one.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/error.h"
#include "evaluator/object.h"
#include "evaluator/symbol.h"
#include "ridi/draw/draw-context.h"
#include "ridi/draw/text-box.h"

namespace zuv::draw {

namespace {

struct Words {
    int32_t off = sym("off"), linear = sym("linear"), radial = sym("radial"), diamond = sym("diamond"),
            pattern = sym("pattern"), bitmap = sym("bitmap"), pad = sym("pad"), repeat = sym("repeat"),
            reflect = sym("reflect"), tile = sym("tile"), flip_x = sym("flip-x"), flip_y = sym("flip-y"),
            flip_xy = sym("flip-xy"), clamp = sym("clamp"), miter = sym("miter"), bevel = sym("bevel"),
            round = sym("round"), miter_bevel = sym("miter-bevel"), flat = sym("flat"), square = sym("square"),
            closed = sym("closed"), border = sym("border"), crop = sym("crop"), inset = sym("inset"),
            replace = sym("replace"), intersect = sym("intersect"), union_ = sym("union"), xor_ = sym("xor"),
            exclude = sym("exclude"), pen = sym("pen"), fill_pen = sym("fill-pen");
};
const Words& w() {
    static const Words words;
    return words;
}

constexpr double pi = std::numbers::pi;

int32_t peek_word(const Cursor& c, Type t = Type::word) { return c.more() ? word_symbol(c.here(), t) : 0; }

// A point that must be there.
void need_point(Cursor& c, double& x, double& y) {
    if (!read_point(c, x, y)) fail(c, c.index);
}
void need_number(Cursor& c, double& v) {
    if (!read_number(c, v)) fail(c, c.index);
}

// Points while the values are points.
void read_points(Cursor& c, std::vector<double>& pts) {
    double x, y;
    while (read_point(c, x, y)) {
        pts.push_back(x);
        pts.push_back(y);
    }
}

void set_source_color(Context& ctx, uint32_t color) { set_color(ctx.cr, color); }

// ---------------------------------------------------------------------------------------------
// Painting a path

void stroke_setup(Context& ctx) {
    cairo_t* cr = ctx.cr;
    const State& s = ctx.st;
    cairo_set_line_width(cr, s.line_width);
    static const cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_BEVEL, CAIRO_LINE_JOIN_ROUND,
                                              CAIRO_LINE_JOIN_MITER};
    static const cairo_line_cap_t caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_SQUARE, CAIRO_LINE_CAP_ROUND};
    cairo_set_line_join(cr, joins[s.join]);
    cairo_set_line_cap(cr, caps[s.cap]);
    if (s.dashes.empty()) {
        cairo_set_dash(cr, nullptr, 0, 0);
    } else {
        double d[64];
        int n = std::min<int>(static_cast<int>(s.dashes.size()), 64);
        for (int i = 0; i < n; ++i) d[i] = s.dashes[i] * s.line_width;
        cairo_set_dash(cr, d, n, 0);
    }
}

}  // namespace

void set_source(Context& ctx, Brush& b, double x1, double y1, double x2, double y2) {
    if (b.kind == kind::solid || !b.pattern.get()) {
        set_source_color(ctx, b.color);
        return;
    }
    cairo_matrix_t to_user = b.transform;  // pattern space to user space
    if (b.kind == kind::placed_gradient) {
        if (x1 > x2) std::swap(x1, x2);
        if (y1 > y2) std::swap(y1, y2);
        double bw = std::max(x2 - x1, 1e-6), bh = std::max(y2 - y1, 1e-6);
        cairo_matrix_t shape;
        if (b.gradient_word == w().linear) {
            cairo_matrix_init(&shape, bw, 0, 0, bw, 0, 0);
        } else {
            double r = std::max(std::min(bw, bh) / 2, 1e-6);
            cairo_matrix_init(&shape, r, 0, 0, r, bw / 2, bh / 2);
        }
        cairo_matrix_t placed;
        cairo_matrix_multiply(&placed, &shape, &b.transform);
        cairo_matrix_t shift;
        cairo_matrix_init_translate(&shift, x1, y1);
        cairo_matrix_multiply(&to_user, &placed, &shift);
    }
    cairo_matrix_t to_pattern = to_user;
    if (cairo_matrix_invert(&to_pattern) != CAIRO_STATUS_SUCCESS) {
        cairo_set_source_rgba(ctx.cr, 0, 0, 0, 0);
        return;
    }
    cairo_pattern_set_matrix(b.pattern.get(), &to_pattern);
    cairo_set_source(ctx.cr, b.pattern.get());
}

void paint_path(Context& ctx, double x1, double y1, double x2, double y2, bool fill_allowed) {
    cairo_t* cr = ctx.cr;
    if (ctx.st.singular) {
        cairo_new_path(cr);
        return;
    }
    if (fill_allowed && ctx.st.fill.kind != kind::off) {
        set_source(ctx, ctx.st.fill, x1, y1, x2, y2);
        cairo_fill_preserve(cr);
    }
    if (ctx.st.pen.kind != kind::off) {
        stroke_setup(ctx);
        set_source(ctx, ctx.st.pen, x1, y1, x2, y2);
        cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
}

void paint_current_path(Context& ctx, bool fill_allowed) {
    double x1, y1, x2, y2;
    stroke_setup(ctx);
    cairo_stroke_extents(ctx.cr, &x1, &y1, &x2, &y2);
    paint_path(ctx, x1, y1, x2, y2, fill_allowed);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Shadows: the shape drawn into an image of its own, its alpha blurred and painted in the shadow colour

void blur_alpha(std::vector<uint8_t>& a, int w, int h, double sigma) {
    if (sigma < 0.5) return;
    // Three box blurs approach a Gaussian of that deviation.
    int r = std::max(1, static_cast<int>(std::lround(std::sqrt(12.0 * sigma * sigma / 3 + 1) / 2)));
    std::vector<uint8_t> tmp(a.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            int sum = 0;
            const uint8_t* row = &a[size_t(y) * w];
            for (int x = -r; x <= r; ++x) sum += row[std::clamp(x, 0, w - 1)];
            for (int x = 0; x < w; ++x) {
                tmp[size_t(y) * w + x] = static_cast<uint8_t>(sum / (2 * r + 1));
                sum += row[std::min(x + r + 1, w - 1)] - row[std::max(x - r, 0)];
            }
        }
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int y = -r; y <= r; ++y) sum += tmp[size_t(std::clamp(y, 0, h - 1)) * w + x];
            for (int y = 0; y < h; ++y) {
                a[size_t(y) * w + x] = static_cast<uint8_t>(sum / (2 * r + 1));
                sum += tmp[size_t(std::min(y + r + 1, h - 1)) * w + x] - tmp[size_t(std::max(y - r, 0)) * w + x];
            }
        }
    }
}

template <class Draw>
void with_shadows(Context& ctx, double x, double y, double w, double h, Draw&& draw_shape) {
    if (!ctx.st.shadow_on || ctx.st.shadows.empty() || ctx.st.singular) {
        draw_shape();
        return;
    }
    // The shape is drawn alone into an image of its own device box, whatever the target's
    // surface is (a window's may not be an image), and its alpha makes the shadows.
    cairo_t* cr = ctx.cr;
    double lw = ctx.st.pen.kind != kind::off ? ctx.st.line_width : 0;
    double xs[4] = {x - lw, x + w + lw, x + w + lw, x - lw}, ys[4] = {y - lw, y - lw, y + h + lw, y + h + lw};
    double dx1 = 1e18, dy1 = 1e18, dx2 = -1e18, dy2 = -1e18;
    for (int i = 0; i < 4; ++i) {
        cairo_user_to_device(cr, &xs[i], &ys[i]);
        dx1 = std::min(dx1, xs[i]), dx2 = std::max(dx2, xs[i]);
        dy1 = std::min(dy1, ys[i]), dy2 = std::max(dy2, ys[i]);
    }
    dx1 -= 1, dy1 -= 1, dx2 += 1, dy2 += 1;
    dx1 = std::max(dx1, -1.0e6), dy1 = std::max(dy1, -1.0e6);
    dx2 = std::min(dx2, 1.0e6), dy2 = std::min(dy2, 1.0e6);
    int ox = static_cast<int>(std::floor(dx1)), oy = static_cast<int>(std::floor(dy1));
    int gw = static_cast<int>(std::ceil(dx2)) - ox, gh = static_cast<int>(std::ceil(dy2)) - oy;
    if (gw <= 0 || gh <= 0 || int64_t(gw) * gh > (int64_t(1) << 24)) {
        draw_shape();
        return;
    }
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, gw, gh);
    cairo_t* g = cairo_create(s);
    cairo_matrix_t placed = ctx.st.ctm;
    placed.x0 -= ox;
    placed.y0 -= oy;
    cairo_set_matrix(g, &placed);
    cairo_set_antialias(g, ctx.st.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    ctx.cr = g;
    try {
        draw_shape();
    } catch (...) {
        ctx.cr = cr;
        cairo_destroy(g);
        cairo_surface_destroy(s);
        throw;
    }
    ctx.cr = cr;
    cairo_destroy(g);
    cairo_surface_flush(s);
    int stride = cairo_image_surface_get_stride(s);
    const cairo_matrix_t& m = ctx.st.ctm;
    double scale = std::sqrt(std::abs(m.xx * m.yy - m.xy * m.yx));
    double sx = x, sy = y;
    cairo_user_to_device(cr, &sx, &sy);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    for (const Shadow& sh : ctx.st.shadows) {
        int pad = static_cast<int>(std::ceil(sh.blur * scale)) + 2;
        int aw = gw + 2 * pad, ah = gh + 2 * pad;
        if (aw <= 0 || ah <= 0 || int64_t(aw) * ah > (int64_t(1) << 26)) continue;
        std::vector<uint8_t> alpha(size_t(aw) * ah, 0);
        const uint8_t* data = cairo_image_surface_get_data(s);
        for (int yy = 0; yy < gh; ++yy) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(yy) * stride);
            for (int xx = 0; xx < gw; ++xx) alpha[size_t(yy + pad) * aw + xx + pad] = row[xx] >> 24;
        }
        blur_alpha(alpha, aw, ah, sh.blur * scale / 1.88);
        int astride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, aw);
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, aw, ah);
        if (cairo_surface_status(mask) == CAIRO_STATUS_SUCCESS) {
            cairo_surface_flush(mask);
            uint8_t* md = cairo_image_surface_get_data(mask);
            for (int yy = 0; yy < ah; ++yy) std::memcpy(md + size_t(yy) * astride, &alpha[size_t(yy) * aw], aw);
            cairo_surface_mark_dirty(mask);
            // The offset is in user units: turned by the transform's linear part.
            double dx = sh.dx - sh.spread, dy = sh.dy - sh.spread;
            double ddx = m.xx * dx + m.xy * dy, ddy = m.yx * dx + m.yy * dy;
            double grow_x = 1, grow_y = 1;
            // The shape's own box grows by the spread on every side.
            if (sh.spread != 0 && w > 0 && h > 0) {
                grow_x = (w + 2 * sh.spread) / w;
                grow_y = (h + 2 * sh.spread) / h;
            }
            cairo_save(cr);
            // The shadow grows about the shape's device origin, then moves by the offset.
            cairo_translate(cr, sx + ddx, sy + ddy);
            if (grow_x > 0 && grow_y > 0) cairo_scale(cr, grow_x, grow_y);
            cairo_translate(cr, -sx, -sy);
            set_color(cr, sh.color);
            cairo_mask_surface(cr, mask, ox - pad, oy - pad);
            cairo_restore(cr);
        }
        cairo_surface_destroy(mask);
    }
    // Then the shape itself over its shadows.
    cairo_set_source_surface(cr, s, ox, oy);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

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
    if (s == w().pad) {
        ++c.index;
        return CAIRO_EXTEND_PAD;
    }
    if (s == w().repeat) {
        ++c.index;
        return CAIRO_EXTEND_REPEAT;
    }
    if (s == w().reflect) {
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
        if (type == w().linear) {
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
        if (type == w().linear) {
            if (read_point(c, x1, y1)) {
                need_point(c, x2, y2);
                p = cairo_pattern_create_linear(x1, y1, x2, y2);
            } else {
                p = cairo_pattern_create_linear(0, 0, 1, 0);
                b.kind = kind::placed_gradient;
            }
        } else if (type == w().radial) {
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
    b.gradient_word = type == w().diamond ? w().radial : type;
}

// ---------------------------------------------------------------------------------------------
// Pattern and bitmap brushes

// Tile mode after the points: the extend of the brush, and mirror flags per axis.
void read_tile_mode(Cursor& c, bool& mx, bool& my, bool& clamp) {
    int32_t s = peek_word(c);
    mx = my = clamp = false;
    if (s == w().tile) ++c.index;
    else if (s == w().flip_x) mx = true, ++c.index;
    else if (s == w().flip_y) my = true, ++c.index;
    else if (s == w().flip_xy) mx = my = true, ++c.index;
    else if (s == w().clamp) clamp = true, ++c.index;
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
    } else if (s == w().off) {
        ++c.index;
        b.kind = kind::off;
    } else if (s == w().linear || s == w().radial || s == w().diamond) {
        ++c.index;
        read_gradient(ctx, c, b, s);
    } else if (s == w().pattern) {
        ++c.index;
        read_pattern(ctx, c, b);
    } else if (s == w().bitmap) {
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
    ctx.st.join = s == w().bevel ? 1 : s == w().round ? 2 : s == w().miter_bevel ? 3 : 0;
}

void cmd_line_cap(Context& ctx, Cursor& c) {
    if (!c.more() || !c.here()->is(Type::word)) fail(c, c.index);
    int32_t s = word_symbol(c.here());
    ++c.index;
    ctx.st.cap = s == w().square ? 1 : s == w().round ? 2 : 0;
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

// ---------------------------------------------------------------------------------------------
// Shapes

void cmd_box(Context& ctx, Cursor& c) {
    double x1, y1, x2, y2, r = 0;
    need_point(c, x1, y1);
    need_point(c, x2, y2);
    read_number(c, r);
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    with_shadows(ctx, x1, y1, x2 - x1, y2 - y1, [&] {
        cairo_t* cr = ctx.cr;
        r = std::min({std::abs(r), (x2 - x1) / 2, (y2 - y1) / 2});
        if (r > 0) {
            cairo_new_sub_path(cr);
            cairo_arc(cr, x2 - r, y1 + r, r, -pi / 2, 0);
            cairo_arc(cr, x2 - r, y2 - r, r, 0, pi / 2);
            cairo_arc(cr, x1 + r, y2 - r, r, pi / 2, pi);
            cairo_arc(cr, x1 + r, y1 + r, r, pi, 3 * pi / 2);
            cairo_close_path(cr);
        } else {
            cairo_rectangle(cr, x1, y1, x2 - x1, y2 - y1);
        }
        paint_path(ctx, x1, y1, x2, y2);
    });
}

namespace {

void path_through(Context& ctx, const std::vector<double>& p, bool close) {
    cairo_move_to(ctx.cr, p[0], p[1]);
    for (size_t i = 2; i + 1 < p.size(); i += 2) cairo_line_to(ctx.cr, p[i], p[i + 1]);
    if (close) cairo_close_path(ctx.cr);
}

void bounds_of(const std::vector<double>& p, double& x1, double& y1, double& x2, double& y2) {
    x1 = x2 = p[0];
    y1 = y2 = p[1];
    for (size_t i = 0; i + 1 < p.size(); i += 2) {
        x1 = std::min(x1, p[i]);
        x2 = std::max(x2, p[i]);
        y1 = std::min(y1, p[i + 1]);
        y2 = std::max(y2, p[i + 1]);
    }
}

}  // namespace

void cmd_line(Context& ctx, Cursor& c) {
    std::vector<double> p;
    int32_t first = c.index;
    read_points(c, p);
    if (p.empty()) return;
    if (p.size() == 2) fail(c, first);
    double x1, y1, x2, y2;
    bounds_of(p, x1, y1, x2, y2);
    path_through(ctx, p, false);
    // Two points are a line alone; more make a figure that a fill closes.
    paint_path(ctx, x1, y1, x2, y2, p.size() > 4);
}

void cmd_polygon(Context& ctx, Cursor& c, int min_points, bool exact3) {
    std::vector<double> p;
    double x, y;
    if (exact3) {
        for (int i = 0; i < 3; ++i) {
            need_point(c, x, y);
            p.push_back(x);
            p.push_back(y);
        }
    } else {
        read_points(c, p);
        if (p.size() < size_t(min_points) * 2) fail(c, c.index);
    }
    double x1, y1, x2, y2;
    bounds_of(p, x1, y1, x2, y2);
    path_through(ctx, p, true);
    paint_path(ctx, x1, y1, x2, y2);
}

namespace {

void ellipse_path(cairo_t* cr, double cx, double cy, double rx, double ry) {
    if (rx <= 0 || ry <= 0) {
        // A flat ellipse is its diameter: nothing to fill, a line to stroke.
        cairo_move_to(cr, cx - rx, cy - ry);
        cairo_line_to(cr, cx + rx, cy + ry);
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * pi);
    cairo_close_path(cr);
    cairo_restore(cr);
}

void draw_ellipse(Context& ctx, double cx, double cy, double rx, double ry) {
    rx = std::abs(rx);
    ry = std::abs(ry);
    with_shadows(ctx, cx - rx, cy - ry, 2 * rx, 2 * ry, [&] {
        ellipse_path(ctx.cr, cx, cy, rx, ry);
        paint_path(ctx, cx - rx, cy - ry, cx + rx, cy + ry);
    });
}

}  // namespace

void cmd_circle(Context& ctx, Cursor& c) {
    double cx, cy, rx, ry;
    need_point(c, cx, cy);
    need_number(c, rx);
    ry = rx;
    read_number(c, ry);
    draw_ellipse(ctx, cx, cy, rx, ry);
}

void cmd_ellipse(Context& ctx, Cursor& c) {
    double x, y, w_, h_;
    need_point(c, x, y);
    need_point(c, w_, h_);
    draw_ellipse(ctx, x + w_ / 2, y + h_ / 2, w_ / 2, h_ / 2);
}

void cmd_arc(Context& ctx, Cursor& c) {
    double cx, cy, rx, ry, start, sweep;
    need_point(c, cx, cy);
    need_point(c, rx, ry);
    need_number(c, start);
    need_number(c, sweep);
    bool closed = peek_word(c) == w().closed;
    if (closed) ++c.index;
    rx = std::abs(rx);
    ry = std::abs(ry);
    cairo_t* cr = ctx.cr;
    if (sweep >= 359.999 || sweep <= -359.999) {
        ellipse_path(cr, cx, cy, rx, ry);
        paint_path(ctx, cx - rx, cy - ry, cx + rx, cy + ry);
        return;
    }
    // The angles are those of the ellipse's own points: turned into its parametric angles.
    auto parametric = [&](double deg) {
        double a = deg * pi / 180;
        if (rx == ry || rx == 0 || ry == 0) return a;
        double t = std::atan2(std::sin(a) * rx, std::cos(a) * ry);
        double turns = std::floor((a + pi) / (2 * pi));
        t += turns * 2 * pi;
        if (t - a > pi) t -= 2 * pi;
        if (a - t > pi) t += 2 * pi;
        return t;
    };
    double a1 = parametric(start), a2 = parametric(start + sweep);
    if (rx <= 0 || ry <= 0) {
        cairo_move_to(cr, cx + rx * std::cos(a1), cy + ry * std::sin(a1));
        cairo_line_to(cr, cx + rx * std::cos(a2), cy + ry * std::sin(a2));
    } else {
        cairo_save(cr);
        cairo_translate(cr, cx, cy);
        cairo_scale(cr, rx, ry);
        if (closed) cairo_move_to(cr, 0, 0);
        else cairo_new_sub_path(cr);
        if (sweep >= 0) cairo_arc(cr, 0, 0, 1, a1, a2);
        else cairo_arc_negative(cr, 0, 0, 1, a1, a2);
        if (closed) cairo_close_path(cr);
        cairo_restore(cr);
    }
    paint_path(ctx, cx - rx, cy - ry, cx + rx, cy + ry, closed);
}

void cmd_curve(Context& ctx, Cursor& c) {
    std::vector<double> p;
    double x, y;
    while (p.size() < 8 && read_point(c, x, y)) {
        p.push_back(x);
        p.push_back(y);
    }
    if (p.size() < 6) fail(c, c.index);
    cairo_t* cr = ctx.cr;
    cairo_move_to(cr, p[0], p[1]);
    if (p.size() == 8) {
        cairo_curve_to(cr, p[2], p[3], p[4], p[5], p[6], p[7]);
    } else {
        cairo_curve_to(cr, (p[0] + 2 * p[2]) / 3, (p[1] + 2 * p[3]) / 3, (p[4] + 2 * p[2]) / 3,
                       (p[5] + 2 * p[3]) / 3, p[4], p[5]);
    }
    paint_current_path(ctx, false);
}

void cmd_spline(Context& ctx, Cursor& c) {
    std::vector<double> p;
    read_points(c, p);
    if (p.size() < 4) fail(c, c.index);
    bool closed = peek_word(c) == w().closed;
    if (closed) ++c.index;
    cairo_t* cr = ctx.cr;
    size_t n = p.size() / 2;
    if (n == 2) {
        cairo_move_to(cr, p[0], p[1]);
        cairo_line_to(cr, p[2], p[3]);
        paint_current_path(ctx, false);
        return;
    }
    auto pt = [&](long i, int k) {
        if (closed) i = ((i % long(n)) + long(n)) % long(n);
        else i = std::clamp(i, 0L, long(n) - 1);
        return p[size_t(i) * 2 + k];
    };
    cairo_move_to(cr, p[0], p[1]);
    long spans = closed ? long(n) : long(n) - 1;
    for (long i = 0; i < spans; ++i) {
        for (int s = 1; s <= 25; ++s) {
            double t = s * 0.04, t2 = t * t, t3 = t2 * t;
            double v[2];
            for (int k = 0; k < 2; ++k) {
                double p0 = pt(i - 1, k), p1 = pt(i, k), p2 = pt(i + 1, k), p3 = pt(i + 2, k);
                v[k] = 0.5 * (2 * p1 + (p2 - p0) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 +
                              (3 * p1 - p0 - 3 * p2 + p3) * t3);
            }
            cairo_line_to(cr, v[0], v[1]);
        }
    }
    if (closed) cairo_close_path(cr);
    paint_current_path(ctx, closed);
}

// ---------------------------------------------------------------------------------------------
// Images

cairo_surface_t* surface_of_image(Cell* img) {
    int32_t w_ = image::width(img), h_ = image::height(img);
    if (w_ <= 0 || h_ <= 0 || !image::pixels(img)) return nullptr;
    if (uintptr_t cached = image::get_cache(img))
        return cairo_surface_reference(reinterpret_cast<cairo_surface_t*>(cached));
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w_, h_);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        error::raise(error::id::internal_no_memory);
    }
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint32_t* px = image::pixels(img);
    for (int32_t y = 0; y < h_; ++y)
        premultiply(px + int64_t(y) * w_, reinterpret_cast<uint32_t*>(data + int64_t(y) * stride), w_);
    cairo_surface_mark_dirty(s);
    image::set_cache(img, reinterpret_cast<uintptr_t>(cairo_surface_reference(s)));
    return s;
}

namespace {

// The projective map of the unit square onto a quadrilateral (p0 upper-left, p1 upper-right,
// p2 lower-right, p3 lower-left), as a 3x3 matrix taking (u, v, 1) to (x w, y w, w).
bool square_to_quad(const double q[8], double m[9]) {
    double x0 = q[0], y0 = q[1], x1 = q[2], y1 = q[3], x2 = q[4], y2 = q[5], x3 = q[6], y3 = q[7];
    double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
    double g, h;
    if (std::abs(sx) < 1e-12 && std::abs(sy) < 1e-12) {
        g = h = 0;
    } else {
        double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        double det = dx1 * dy2 - dx2 * dy1;
        if (std::abs(det) < 1e-12) return false;
        g = (sx * dy2 - dx2 * sy) / det;
        h = (dx1 * sy - sx * dy1) / det;
    }
    m[0] = x1 - x0 + g * x1;
    m[1] = x3 - x0 + h * x3;
    m[2] = x0;
    m[3] = y1 - y0 + g * y1;
    m[4] = y3 - y0 + h * y3;
    m[5] = y0;
    m[6] = g;
    m[7] = h;
    m[8] = 1;
    return true;
}

bool invert3(const double m[9], double r[9]) {
    double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                 m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (std::abs(det) < 1e-15) return false;
    double d = 1 / det;
    r[0] = (m[4] * m[8] - m[5] * m[7]) * d;
    r[1] = (m[2] * m[7] - m[1] * m[8]) * d;
    r[2] = (m[1] * m[5] - m[2] * m[4]) * d;
    r[3] = (m[5] * m[6] - m[3] * m[8]) * d;
    r[4] = (m[0] * m[8] - m[2] * m[6]) * d;
    r[5] = (m[2] * m[3] - m[0] * m[5]) * d;
    r[6] = (m[3] * m[7] - m[4] * m[6]) * d;
    r[7] = (m[1] * m[6] - m[0] * m[7]) * d;
    r[8] = (m[0] * m[4] - m[1] * m[3]) * d;
    return true;
}

// Draws the source through the corners (in user space): each device pixel of the corners'
// bounds is mapped back into the source and sampled bilinearly; the result is painted
// through the current clip.
void draw_warped(Context& ctx, cairo_surface_t* src, double sx0, double sy0, double sw, double sh, const double q[8]) {
    double dq[8];
    for (int i = 0; i < 4; ++i) {
        dq[2 * i] = q[2 * i];
        dq[2 * i + 1] = q[2 * i + 1];
        cairo_user_to_device(ctx.cr, &dq[2 * i], &dq[2 * i + 1]);
    }
    double m[9], inv[9];
    if (!square_to_quad(dq, m) || !invert3(m, inv)) return;
    double bx1 = dq[0], by1 = dq[1], bx2 = dq[0], by2 = dq[1];
    for (int i = 1; i < 4; ++i) {
        bx1 = std::min(bx1, dq[2 * i]);
        bx2 = std::max(bx2, dq[2 * i]);
        by1 = std::min(by1, dq[2 * i + 1]);
        by2 = std::max(by2, dq[2 * i + 1]);
    }
    double cx1, cy1, cx2, cy2;
    cairo_clip_extents(ctx.cr, &cx1, &cy1, &cx2, &cy2);
    {
        // Clip extents come in user space: take the device box of their corners.
        double xs[4] = {cx1, cx2, cx2, cx1}, ys[4] = {cy1, cy1, cy2, cy2};
        double ex1 = 1e18, ey1 = 1e18, ex2 = -1e18, ey2 = -1e18;
        for (int i = 0; i < 4; ++i) {
            cairo_user_to_device(ctx.cr, &xs[i], &ys[i]);
            ex1 = std::min(ex1, xs[i]);
            ex2 = std::max(ex2, xs[i]);
            ey1 = std::min(ey1, ys[i]);
            ey2 = std::max(ey2, ys[i]);
        }
        bx1 = std::max(bx1, ex1);
        by1 = std::max(by1, ey1);
        bx2 = std::min(bx2, ex2);
        by2 = std::min(by2, ey2);
    }
    if (!(bx1 < bx2 && by1 < by2) || bx1 < -1.0e7 || by1 < -1.0e7 || bx2 > 1.0e7 || by2 > 1.0e7) return;
    int x0 = static_cast<int>(std::floor(bx1)), y0 = static_cast<int>(std::floor(by1));
    int w_ = static_cast<int>(std::ceil(bx2)) - x0, h_ = static_cast<int>(std::ceil(by2)) - y0;
    if (w_ <= 0 || h_ <= 0 || int64_t(w_) * h_ > (int64_t(1) << 26)) return;
    cairo_surface_flush(src);
    const uint8_t* sdata = cairo_image_surface_get_data(src);
    int sstride = cairo_image_surface_get_stride(src);
    int iw = cairo_image_surface_get_width(src), ih = cairo_image_surface_get_height(src);
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w_, h_);
    if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(out);
        return;
    }
    cairo_surface_flush(out);
    uint8_t* odata = cairo_image_surface_get_data(out);
    int ostride = cairo_image_surface_get_stride(out);
    auto texel = [&](int x, int y) -> uint32_t {
        x = std::clamp(x, 0, iw - 1);
        y = std::clamp(y, 0, ih - 1);
        return reinterpret_cast<const uint32_t*>(sdata + size_t(y) * sstride)[x];
    };
    for (int y = 0; y < h_; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(odata + size_t(y) * ostride);
        for (int x = 0; x < w_; ++x) {
            double px = x0 + x + 0.5, py = y0 + y + 0.5;
            double wz = inv[6] * px + inv[7] * py + inv[8];
            if (wz == 0) continue;
            double u = (inv[0] * px + inv[1] * py + inv[2]) / wz, v = (inv[3] * px + inv[4] * py + inv[5]) / wz;
            if (u < 0 || u >= 1 || v < 0 || v >= 1) continue;
            double fx = sx0 + u * sw - 0.5, fy = sy0 + v * sh - 0.5;
            int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
            double ax = fx - ix, ay = fy - iy;
            uint32_t t00 = texel(ix, iy), t10 = texel(ix + 1, iy), t01 = texel(ix, iy + 1), t11 = texel(ix + 1, iy + 1);
            uint32_t r = 0;
            for (int k = 0; k < 32; k += 8) {
                double a = ((t00 >> k) & 0xFF) * (1 - ax) * (1 - ay) + ((t10 >> k) & 0xFF) * ax * (1 - ay) +
                           ((t01 >> k) & 0xFF) * (1 - ax) * ay + ((t11 >> k) & 0xFF) * ax * ay;
                r |= uint32_t(std::clamp(a + 0.5, 0.0, 255.0)) << k;
            }
            row[x] = r;
        }
    }
    cairo_surface_mark_dirty(out);
    cairo_t* cr = ctx.cr;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, out, x0, y0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(out);
}

}  // namespace

void cmd_image(Context& ctx, Cursor& c) {
    if (!c.more()) fail(c, c.index);
    const Cell* v = c.here();
    if (v->is(Type::word)) v = word_value(v);
    if (!v || !v->is(Type::image)) fail(c, c.index);
    Cell img = *v;
    ++c.index;
    std::vector<double> p;
    read_points(c, p);
    uint32_t key;
    if (c.more() && c.here()->is(Type::tuple)) read_color(c, key);  // accepted, no effect
    double crop[4] = {0, 0, -1, -1};
    bool cropped = false;
    int32_t s = peek_word(c);
    if (s == w().border) {
        ++c.index;
    } else if (s == w().crop) {
        ++c.index;
        need_point(c, crop[0], crop[1]);
        need_point(c, crop[2], crop[3]);
        cropped = true;
    }
    if (ctx.st.singular) return;
    cairo_surface_t* src;
    if (ctx.surface && !ctx.target_image.is(Type::none) && img.data2 == ctx.target_image.data2) {
        // The target itself: drawn from a snapshot of what it shows now.
        cairo_surface_flush(ctx.surface);
        int tw = cairo_image_surface_get_width(ctx.surface), th = cairo_image_surface_get_height(ctx.surface);
        src = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tw, th);
        cairo_t* t = cairo_create(src);
        cairo_set_source_surface(t, ctx.surface, 0, 0);
        cairo_set_operator(t, CAIRO_OPERATOR_SOURCE);
        cairo_paint(t);
        cairo_destroy(t);
    } else {
        src = surface_of_image(&img);
    }
    if (!src) return;
    double iw = cairo_image_surface_get_width(src), ih = cairo_image_surface_get_height(src);
    double sx = 0, sy = 0, sw = iw, sh = ih, shift_x = 0, shift_y = 0;
    if (cropped) {
        double x1 = std::min(crop[0], crop[0] + crop[2]), x2 = std::max(crop[0], crop[0] + crop[2]);
        double y1 = std::min(crop[1], crop[1] + crop[3]), y2 = std::max(crop[1], crop[1] + crop[3]);
        if (x1 < 0) shift_x = -x1;
        if (y1 < 0) shift_y = -y1;
        x1 = std::max(x1, 0.0);
        y1 = std::max(y1, 0.0);
        x2 = std::min(x2, iw);
        y2 = std::min(y2, ih);
        if (x2 <= x1 || y2 <= y1) {
            cairo_surface_destroy(src);
            return;
        }
        sx = x1, sy = y1, sw = x2 - x1, sh = y2 - y1;
    }
    cairo_t* cr = ctx.cr;
    size_t n = p.size() / 2;
    if (n == 3 || n == 4) {
        double q[8] = {p[0], p[1], p[2], p[3], p[4], p[5], 0, 0};
        if (n == 4) q[6] = p[6], q[7] = p[7];
        else q[6] = p[0], q[7] = p[5];
        draw_warped(ctx, src, sx, sy, sw, sh, q);
        cairo_surface_destroy(src);
        return;
    }
    double dx = 0, dy = 0, dw = sw, dh = sh;
    if (n == 1 || n == 2) dx = p[0], dy = p[1];
    if (n == 2) {
        dw = p[2] - p[0];
        dh = p[3] - p[1];
    } else {
        dx += shift_x;
        dy += shift_y;
    }
    if (dw == 0 || dh == 0) {
        cairo_surface_destroy(src);
        return;
    }
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    cairo_set_source_surface(cr, src, -sx, -sy);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(src);
}

// ---------------------------------------------------------------------------------------------
// Text and fonts

void cmd_font(Context& ctx, Cursor& c) {
    if (!c.more()) fail(c, c.index);
    const Cell* v = c.here();
    if (v->is(Type::word)) v = word_value(v);
    if (!v || !v->is(Type::object)) fail(c, c.index);
    Cell font = *v;
    ++c.index;
    ctx.st.font = text_box::font_description(&font);
    ctx.st.font_decorations = text_box::font_decorations(&font);
    const Cell* angle = object::find_value(&font, sym("angle"));
    ctx.st.font_angle = angle->is(Type::integer) ? angle->int2() : angle->is(Type::float_) ? angle->float23() : 0;
    if (!std::isfinite(ctx.st.font_angle)) ctx.st.font_angle = 0;
    uint32_t color;
    const Cell* fc = object::find_value(&font, sym("color"));
    if (fc->is(Type::tuple) && color_of(fc, color)) {
        ctx.st.text_color = color;
        ctx.st.font_color_set = true;
    } else {
        ctx.st.text_color = ctx.st.pen.color;
        ctx.st.font_color_set = false;
    }
}

void cmd_text(Context& ctx, Cursor& c) {
    double x, y;
    need_point(c, x, y);
    if (!c.more()) fail(c, c.index);
    // A face is named by a word in practice: the block is not evaluated.
    const Cell* given = c.here();
    if (given->is(Type::word)) given = word_value(given);
    if (!given || (!given->is(Type::string) && !given->is(Type::object))) fail(c, c.index);
    Cell v = *given;
    ++c.index;
    if (ctx.st.singular) return;
    cairo_t* cr = ctx.cr;
    if (v.is(Type::string)) {
        PangoLayout* layout = text_box::plain_layout(&v, ctx.st.font, ctx.st.font_decorations);
        int lw, lh;
        pango_layout_get_size(layout, &lw, &lh);
        if (ctx.st.pen.kind >= kind::gradient && !ctx.st.font_color_set)
            set_source(ctx, ctx.st.pen, x, y, x + lw / double(PANGO_SCALE), y + lh / double(PANGO_SCALE));
        else
            set_color(cr, ctx.st.text_color);
        cairo_save(cr);
        cairo_translate(cr, x, y);
        if (ctx.st.font_angle != 0) cairo_rotate(cr, std::fmod(ctx.st.font_angle, 360.0) * pi / 180);
        cairo_move_to(cr, 0, 0);
        pango_cairo_show_layout(cr, layout);
        cairo_new_path(cr);
        cairo_restore(cr);
        g_object_unref(layout);
        return;
    }
    text_box::draw_face_text(cr, &v, x, y, ctx.st.text_color);
}

void cmd_anti_alias(Context& ctx, Cursor& c) {
    if (!c.more() || !c.here()->is(Type::word)) fail(c, c.index);
    ctx.st.antialias = word_symbol(c.here()) != w().off;
    ++c.index;
    cairo_set_antialias(ctx.cr, ctx.st.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

// ---------------------------------------------------------------------------------------------
// Shadows

void cmd_shadow(Context& ctx, Cursor& c) {
    if (!c.more()) fail(c, c.index);
    if (c.here()->is(Type::word)) {
        if (word_symbol(c.here()) != w().off) fail(c, c.index);
        ++c.index;
        ctx.st.shadow_on = false;
        ctx.st.shadows.clear();
        return;
    }
    if (!c.here()->is(Type::pair)) fail(c, c.index);
    Shadow sh{double(c.here()->int2()), double(c.here()->int3()), 0, 0, 0xFF000000};
    ++c.index;
    if (c.more() && c.here()->is(Type::integer)) {
        sh.blur = std::clamp(c.here()->int2(), 0, 1000);
        ++c.index;
        if (c.more() && c.here()->is(Type::integer)) {
            sh.spread = std::clamp(c.here()->int2(), -1000, 1000);
            ++c.index;
        }
    }
    if (c.more() && (c.here()->is(Type::tuple) || c.here()->is(Type::word))) {
        if (!read_color(c, sh.color)) fail(c, c.index);
        if (peek_word(c) == w().inset) ++c.index;  // accepted, no effect
    }
    if (!ctx.st.shadow_on) ctx.st.shadows.clear();
    ctx.st.shadow_on = true;
    ctx.st.shadows.push_back(sh);
}

// ---------------------------------------------------------------------------------------------
// Clips, transforms and push

namespace {

void run_block_in_state(Context& ctx, const Cell* block, void (*apply)(Context&, void*), void* data) {
    State saved;
    push_state(ctx, saved);
    try {
        apply(ctx, data);
        interpret(ctx, block);
    } catch (...) {
        pop_state(ctx, saved);
        throw;
    }
    pop_state(ctx, saved);
}

bool optional_block(Cursor& c, Cell& block) {
    if (!c.more() || !c.here()->is(Type::block)) return false;
    block = *c.here();
    ++c.index;
    return true;
}

}  // namespace

void cmd_clip(Context& ctx, Cursor& c) {
    struct Clip {
        bool shape;
        double x1, y1, x2, y2;
        Cell path;
    } clip{};
    if (read_point(c, clip.x1, clip.y1)) {
        need_point(c, clip.x2, clip.y2);
    } else if (c.more() && c.here()->is(Type::block)) {
        clip.shape = true;
        clip.path = *c.here();
        ++c.index;
    } else {
        fail(c, c.index);
    }
    int32_t mode = peek_word(c);
    if (mode == w().replace || mode == w().intersect || mode == w().union_ || mode == w().xor_ || mode == w().exclude)
        ++c.index;  // every clip narrows the one in force
    auto apply = [](Context& cx, void* data) {
        auto* k = static_cast<Clip*>(data);
        if (k->shape) {
            shape_build(cx, &k->path, true);
            cairo_close_path(cx.cr);
        } else {
            cairo_rectangle(cx.cr, std::min(k->x1, k->x2), std::min(k->y1, k->y2), std::abs(k->x2 - k->x1),
                            std::abs(k->y2 - k->y1));
        }
        if (cx.st.singular) {
            cairo_new_path(cx.cr);
            cairo_rectangle(cx.cr, 0, 0, 0, 0);
        }
        cairo_clip(cx.cr);
    };
    Cell block;
    if (optional_block(c, block)) run_block_in_state(ctx, &block, apply, &clip);
    else apply(ctx, &clip);
}

namespace {

enum Target { t_drawing, t_pen, t_fill };

Target read_target(Cursor& c) {
    int32_t s = peek_word(c, Type::lit_word);
    if (s == w().pen) return ++c.index, t_pen;
    if (s == w().fill_pen) return ++c.index, t_fill;
    return t_drawing;
}

struct Transform {
    Target target;
    cairo_matrix_t m;
    int op;  // 0 multiply, 1 reset, 2 invert
};

void apply_matrix(Context& ctx, void* data) {
    auto* t = static_cast<Transform*>(data);
    cairo_matrix_t* into;
    if (t->target == t_drawing) {
        into = &ctx.st.ctm;
    } else {
        Brush& b = t->target == t_pen ? ctx.st.pen : ctx.st.fill;
        if (b.kind < kind::gradient) return;
        into = &b.transform;
    }
    if (t->op == 0) {
        cairo_matrix_t r;
        cairo_matrix_multiply(&r, &t->m, into);
        *into = r;
    } else if (t->op == 1) {
        cairo_matrix_init_identity(into);
        if (t->target == t_drawing) {
            // The drawing's identity is the user space it began with (a face's own origin).
            *into = ctx.base_ctm;
        }
    } else {
        cairo_matrix_t r = *into;
        if (cairo_matrix_invert(&r) == CAIRO_STATUS_SUCCESS) *into = r;
    }
    if (t->target == t_drawing) apply_transform(ctx);
}

void about(cairo_matrix_t& m, double cx, double cy, const cairo_matrix_t& core) {
    cairo_matrix_t to, back, tmp;
    cairo_matrix_init_translate(&to, -cx, -cy);
    cairo_matrix_init_translate(&back, cx, cy);
    cairo_matrix_multiply(&tmp, &to, &core);
    cairo_matrix_multiply(&m, &tmp, &back);
}

void finish(Context& ctx, Cursor& c, Transform& t) {
    Cell block;
    if (optional_block(c, block)) run_block_in_state(ctx, &block, apply_matrix, &t);
    else apply_matrix(ctx, &t);
}

}  // namespace

void cmd_transform(Context& ctx, Cursor& c, int32_t which) {
    Transform t{read_target(c), {}, 0};
    double cx = 0, cy = 0, a, sx, sy, dx, dy;
    cairo_matrix_t core;
    switch (which) {
        case 0:  // rotate
            need_number(c, a);
            read_point(c, cx, cy);
            cairo_matrix_init_rotate(&core, a * pi / 180);
            about(t.m, cx, cy, core);
            break;
        case 1:  // scale
            if (!read_number_or_percent(c, sx)) fail(c, c.index);
            if (!read_number_or_percent(c, sy)) fail(c, c.index);
            read_point(c, cx, cy);
            cairo_matrix_init_scale(&core, sx, sy);
            about(t.m, cx, cy, core);
            break;
        case 2:  // translate
            need_point(c, dx, dy);
            cairo_matrix_init_translate(&t.m, dx, dy);
            break;
        case 3: {  // skew
            double ya = 0;
            need_number(c, a);
            read_number(c, ya);
            read_point(c, cx, cy);
            cairo_matrix_init(&core, 1, std::tan(ya * pi / 180), std::tan(a * pi / 180), 1, 0, 0);
            about(t.m, cx, cy, core);
            break;
        }
        default: {  // transform: rotate, then scale, then translate, each acting first
            read_point(c, cx, cy);
            need_number(c, a);
            if (!read_number_or_percent(c, sx)) fail(c, c.index);
            if (!read_number_or_percent(c, sy)) fail(c, c.index);
            need_point(c, dx, dy);
            cairo_matrix_t r, s, tr, rs;
            cairo_matrix_init_rotate(&core, a * pi / 180);
            about(r, cx, cy, core);
            cairo_matrix_init_scale(&core, sx, sy);
            about(s, cx, cy, core);
            cairo_matrix_init_translate(&tr, dx, dy);
            cairo_matrix_multiply(&rs, &s, &r);
            cairo_matrix_multiply(&t.m, &tr, &rs);
            break;
        }
    }
    finish(ctx, c, t);
}

void cmd_matrix(Context& ctx, Cursor& c, int32_t which) {
    Transform t{read_target(c), {}, which};
    if (which == 0) {
        if (!c.more() || !c.here()->is(Type::block)) fail(c, c.index);
        Cell b = *c.here();
        int32_t at = c.index;
        Cursor inner = cursor_of(&b);
        double v[6];
        int n = 0;
        while (inner.more() && n < 6 && read_number(inner, v[n])) ++n;
        if (n != 6 || inner.more()) fail(c, at);
        ++c.index;
        cairo_matrix_init(&t.m, v[0], v[1], v[2], v[3], v[4], v[5]);
    }
    apply_matrix(ctx, &t);
}

void cmd_push(Context& ctx, Cursor& c) {
    Cell block;
    if (!optional_block(c, block)) fail(c, c.index);
    run_block_in_state(ctx, &block, [](Context&, void*) {}, nullptr);
}

void cmd_shape(Context& ctx, Cursor& c) {
    if (!c.more() || !c.here()->is(Type::block)) fail(c, c.index);
    Cell block = *c.here();
    ++c.index;
    shape_build(ctx, &block, false);
    paint_current_path(ctx);
}

}  // namespace zuv::draw
