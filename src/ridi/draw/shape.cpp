// SHAPE: the path sub-dialect of DRAW (for `shape` and `clip`). Pen movements in absolute
// (word!) and relative (lit-word!) forms build one Cairo path; nested blocks continue it.
#include <cmath>
#include <numbers>
#include <unordered_map>

#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/cycle-stack.h"
#include "ridi/draw/draw-context.h"

namespace zuv::draw {

namespace {

enum Op { s_move, s_line, s_hline, s_vline, s_arc, s_curve, s_curv, s_qcurve, s_qcurv, s_close };

const std::unordered_map<int32_t, Op>& ops() {
    static const std::unordered_map<int32_t, Op> table = [] {
        std::unordered_map<int32_t, Op> t;
        const std::pair<const char*, Op> names[] = {
            {"move", s_move}, {"line", s_line}, {"hline", s_hline}, {"vline", s_vline}, {"arc", s_arc},
            {"curve", s_curve}, {"curv", s_curv}, {"qcurve", s_qcurve}, {"qcurv", s_qcurv}, {"close", s_close},
        };
        for (auto& [name, op] : names) t.emplace(sym(name), op);
        return t;
    }();
    return table;
}

struct Pen {
    double x = 0, y = 0;     // current point
    bool bezier = false;     // the last segment was a Bezier
    double cx = 0, cy = 0;   // its last control point
};

// An elliptical arc from the current point to (x2, y2), in the manner of SVG paths.
void arc_to(cairo_t* cr, Pen& p, double x2, double y2, double rx, double ry, double angle, bool sweep, bool large) {
    double x1 = p.x, y1 = p.y;
    rx = std::abs(rx);
    ry = std::abs(ry);
    if ((x1 == x2 && y1 == y2)) return;
    if (rx == 0 || ry == 0) {
        cairo_line_to(cr, x2, y2);
        return;
    }
    double phi = angle * std::numbers::pi / 180, cs = std::cos(phi), sn = std::sin(phi);
    double dx = (x1 - x2) / 2, dy = (y1 - y2) / 2;
    double x1p = cs * dx + sn * dy, y1p = -sn * dx + cs * dy;
    double lambda = (x1p * x1p) / (rx * rx) + (y1p * y1p) / (ry * ry);
    if (lambda > 1) {
        double s = std::sqrt(lambda);
        rx *= s;
        ry *= s;
    }
    double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
    double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
    double k = den == 0 ? 0 : std::sqrt(std::max(0.0, num / den));
    if (large == sweep) k = -k;
    double cxp = k * rx * y1p / ry, cyp = -k * ry * x1p / rx;
    double cx = cs * cxp - sn * cyp + (x1 + x2) / 2, cy = sn * cxp + cs * cyp + (y1 + y2) / 2;
    auto ang = [](double ux, double uy, double vx, double vy) {
        return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
    };
    double t1 = ang(1, 0, (x1p - cxp) / rx, (y1p - cyp) / ry);
    double dt = ang((x1p - cxp) / rx, (y1p - cyp) / ry, (-x1p - cxp) / rx, (-y1p - cyp) / ry);
    if (!sweep && dt > 0) dt -= 2 * std::numbers::pi;
    if (sweep && dt < 0) dt += 2 * std::numbers::pi;
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, phi);
    cairo_scale(cr, rx, ry);
    if (sweep) cairo_arc(cr, 0, 0, 1, t1, t1 + dt);
    else cairo_arc_negative(cr, 0, 0, 1, t1, t1 + dt);
    cairo_restore(cr);
    // The arc ends where it was asked to, whatever the rounding.
    cairo_line_to(cr, x2, y2);
}

void run(Context& ctx, const Cell* block, Pen& p) {
    Cursor c = cursor_of(block);
    Ref node = series::node(block);
    if (cycle_stack::find(node)) raise_at(block, block->int1(), true);
    cycle_stack::push(node);
    cairo_t* cr = ctx.cr;
    const int32_t sweep_word = sym("sweep"), large_word = sym("large");
    while (c.more()) {
        Cell v = *c.here();
        if (v.is(Type::set_word)) {
            set_word_here(c);
            continue;
        }
        if (v.is(Type::block)) {
            run(ctx, &v, p);
            ++c.index;
            continue;
        }
        if (!v.is(Type::word) && !v.is(Type::lit_word)) fail(c, c.index);
        bool rel = v.is(Type::lit_word);
        auto found = ops().find(symbol::resolve(word::symbol_of(&v)));
        if (found == ops().end()) fail(c, c.index);
        ++c.index;
        double x, y;
        // Points while they come; relative ones are resolved by each command.
        auto points = [&](std::vector<double>& pts) {
            while (read_point(c, x, y)) {
                pts.push_back(x);
                pts.push_back(y);
            }
        };
        switch (found->second) {
            case s_move:
                if (!read_point(c, x, y)) fail(c, c.index);
                if (rel) x += p.x, y += p.y;
                p.x = x, p.y = y;
                cairo_move_to(cr, x, y);
                p.bezier = false;
                break;
            case s_line: {
                std::vector<double> pts;
                points(pts);
                if (pts.empty()) fail(c, c.index);
                for (size_t i = 0; i < pts.size(); i += 2) {
                    x = pts[i], y = pts[i + 1];
                    if (rel) x += p.x, y += p.y;
                    cairo_line_to(cr, x, y);
                    p.x = x, p.y = y;
                }
                p.bezier = false;
                break;
            }
            case s_hline:
            case s_vline: {
                double n;
                if (!read_number(c, n)) fail(c, c.index);
                if (found->second == s_hline) p.x = rel ? p.x + n : n;
                else p.y = rel ? p.y + n : n;
                cairo_line_to(cr, p.x, p.y);
                p.bezier = false;
                break;
            }
            case s_arc: {
                double rx, ry, angle;
                if (!read_point(c, x, y)) fail(c, c.index);
                if (!read_number(c, rx) || !read_number(c, ry) || !read_number(c, angle)) fail(c, c.index);
                bool sweep = false, large = false;
                for (int i = 0; i < 2 && c.more(); ++i) {
                    int32_t s = word_symbol(c.here());
                    if (s == sweep_word && !sweep) sweep = true;
                    else if (s == large_word && !large) large = true;
                    else break;
                    ++c.index;
                }
                if (rel) x += p.x, y += p.y;
                arc_to(cr, p, x, y, rx, ry, angle, sweep, large);
                p.x = x, p.y = y;
                p.bezier = false;
                break;
            }
            case s_curve: {
                std::vector<double> pts;
                points(pts);
                if (pts.size() < 6) fail(c, c.index);
                for (size_t i = 0; i + 5 < pts.size(); i += 6) {
                    double q[6];
                    for (int k = 0; k < 6; ++k) q[k] = pts[i + k] + (rel ? (k % 2 ? p.y : p.x) : 0);
                    cairo_curve_to(cr, q[0], q[1], q[2], q[3], q[4], q[5]);
                    p.cx = q[2], p.cy = q[3], p.x = q[4], p.y = q[5];
                }
                p.bezier = true;
                break;
            }
            case s_curv:
            case s_qcurve: {
                std::vector<double> pts;
                points(pts);
                if (pts.size() < 4) fail(c, c.index);
                for (size_t i = 0; i + 3 < pts.size(); i += 4) {
                    double q[4];
                    for (int k = 0; k < 4; ++k) q[k] = pts[i + k] + (rel ? (k % 2 ? p.y : p.x) : 0);
                    if (found->second == s_curv) {
                        double c1x = p.bezier ? 2 * p.x - p.cx : p.x, c1y = p.bezier ? 2 * p.y - p.cy : p.y;
                        cairo_curve_to(cr, c1x, c1y, q[0], q[1], q[2], q[3]);
                    } else {
                        cairo_curve_to(cr, (p.x + 2 * q[0]) / 3, (p.y + 2 * q[1]) / 3, (q[2] + 2 * q[0]) / 3,
                                       (q[3] + 2 * q[1]) / 3, q[2], q[3]);
                    }
                    p.cx = q[0], p.cy = q[1], p.x = q[2], p.y = q[3];
                    p.bezier = true;
                }
                break;
            }
            case s_qcurv: {
                std::vector<double> pts;
                points(pts);
                if (pts.empty()) fail(c, c.index);
                for (size_t i = 0; i < pts.size(); i += 2) {
                    double ex = pts[i] + (rel ? p.x : 0), ey = pts[i + 1] + (rel ? p.y : 0);
                    double qx = p.bezier ? 2 * p.x - p.cx : p.x, qy = p.bezier ? 2 * p.y - p.cy : p.y;
                    cairo_curve_to(cr, (p.x + 2 * qx) / 3, (p.y + 2 * qy) / 3, (ex + 2 * qx) / 3, (ey + 2 * qy) / 3,
                                   ex, ey);
                    p.cx = qx, p.cy = qy, p.x = ex, p.y = ey;
                    p.bezier = true;
                }
                break;
            }
            case s_close:
                cairo_close_path(cr);
                // The next figure begins where the pen is, not at the closed figure's start.
                cairo_move_to(cr, p.x, p.y);
                break;
        }
    }
    cycle_stack::pop();
}

}  // namespace

void shape_build(Context& ctx, const Cell* block, bool) {
    cairo_new_path(ctx.cr);
    cairo_move_to(ctx.cr, 0, 0);
    Pen p;
    run(ctx, block, p);
}

}  // namespace zuv::draw
