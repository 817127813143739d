// The DRAW commands over Cairo: painting a path with the pen and the fill, shadows, shapes,
// text and fonts, clips, transforms and push. Each reads its own arguments after the command
// word and leaves the cursor after the last one. Brushes are in draw-brushes.cpp, images in
// draw-images.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "ridi/draw/draw-context.h"
#include "ridi/draw/text-box.h"

namespace zuv::draw {

// ---------------------------------------------------------------------------------------------
// Argument helpers shared by the commands

const Words& words() {
    static const Words table;
    return table;
}

int32_t peek_word(const Cursor& c, Type t) { return c.more() ? word_symbol(c.here(), t) : 0; }

void need_point(Cursor& c, double& x, double& y) {
    if (!read_point(c, x, y)) fail(c, c.index);
}

void need_number(Cursor& c, double& v) {
    if (!read_number(c, v)) fail(c, c.index);
}

void read_points(Cursor& c, std::vector<double>& pts) {
    double x, y;
    while (read_point(c, x, y)) {
        pts.push_back(x);
        pts.push_back(y);
    }
}

namespace {

constexpr double pi = std::numbers::pi;

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
        set_color(ctx.cr, b.color);
        return;
    }
    cairo_matrix_t to_user = b.transform;  // pattern space to user space
    if (b.kind == kind::placed_gradient) {
        if (x1 > x2) std::swap(x1, x2);
        if (y1 > y2) std::swap(y1, y2);
        double bw = std::max(x2 - x1, 1e-6), bh = std::max(y2 - y1, 1e-6);
        cairo_matrix_t shape;
        if (b.gradient_word == words().linear) {
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

}  // namespace

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
    bool closed = peek_word(c) == words().closed;
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
    bool closed = peek_word(c) == words().closed;
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
    ctx.st.font_angle = angle->is(Type::integer) ? integer::get(angle) : angle->is(Type::float_) ? angle->float23() : 0;
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
    ctx.st.antialias = word_symbol(c.here()) != words().off;
    ++c.index;
    cairo_set_antialias(ctx.cr, ctx.st.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

// ---------------------------------------------------------------------------------------------
// Shadows

void cmd_shadow(Context& ctx, Cursor& c) {
    if (!c.more()) fail(c, c.index);
    if (c.here()->is(Type::word)) {
        if (word_symbol(c.here()) != words().off) fail(c, c.index);
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
        if (peek_word(c) == words().inset) ++c.index;  // accepted, no effect
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
    if (mode == words().replace || mode == words().intersect || mode == words().union_ || mode == words().xor_ || mode == words().exclude)
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
    if (s == words().pen) return ++c.index, t_pen;
    if (s == words().fill_pen) return ++c.index, t_fill;
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
