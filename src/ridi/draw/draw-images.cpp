// DRAW images: image! pixels as Cairo surfaces (kept in the image's drawing cache), drawn at a
// point, scaled into a box, cropped, or warped through three or four corners.
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
    if (s == words().border) {
        ++c.index;
    } else if (s == words().crop) {
        ++c.index;
        need_point(c, crop[0], crop[1]);
        need_point(c, crop[2], crop[3]);
        cropped = true;
    }
    if (ctx.st.singular) return;
    cairo_surface_t* src;
    if (ctx.surface && !ctx.target_image.is(Type::none) && series::node(&img) == series::node(&ctx.target_image)) {
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


}  // namespace zuv::draw
