// The DRAW interpreter: running a drawing onto an image! or a Cairo context, the command
// table with its argument readers, nested blocks, set-words, push and pop of the state, and
// the DRAW errors (draw-invalid, draw-infinite, and the quiet stop of silent mode).
#include "ridi/draw/draw.h"

#include <cmath>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "memory/cycle-stack.h"
#include "memory/stack.h"
#include "ridi/draw/draw-context.h"
#include "ridi/draw/text-box.h"
#include "runtime/print.h"
#include "runtime/throw.h"

namespace zuv::draw {

// ---------------------------------------------------------------------------------------------
// Cells, words and arguments

Cell* Cursor::at(int32_t i) const { return series::buffer(&block)->cells() + i; }

Cursor cursor_of(const Cell* block) {
    Cursor c{*block, block->int1(), series::buffer_length(block)};
    if (c.index > c.end) c.index = c.end;
    return c;
}

int32_t sym(const char* name) { return symbol::resolve(symbol::make(name)); }

int32_t word_symbol(const Cell* c, Type t) {
    return c->is(t) ? symbol::resolve(word::symbol_of(c)) : 0;
}

const Cell* word_value(const Cell* word) {
    if (!word::binding_of(word) || word::index_of(word) < 0) return nullptr;
    const Cell* v = context::get(word);
    return v->is(Type::unset) ? nullptr : v;
}

namespace {

bool quiet_q() {
    const Cell* silent = object::system_field({"ridi", "silent?"});
    return silent && silent->is(Type::logic) && logic::get(silent);
}

// Coordinates far beyond any surface are held where Cairo's fixed-point geometry (24.8 bits)
// still holds them; values that are not numbers at all are refused by the readers.
constexpr double coordinate_limit = 4.0e6;
double held(double v) { return v > coordinate_limit ? coordinate_limit : v < -coordinate_limit ? -coordinate_limit : v; }

}  // namespace

[[noreturn]] void raise_at(const Cell* block, int32_t index, bool infinite) {
    if (quiet_q()) throw QuietStop{};
    Cell at = *block;
    series::set_head(&at, index);
    error::raise(infinite ? error::id::script_draw_infinite : error::id::script_draw_invalid, &at);
}

bool read_number(Cursor& c, double& v) {
    if (!c.more()) return false;
    const Cell* x = c.here();
    if (x->is(Type::integer)) v = integer::get(x);
    else if (x->is(Type::float_)) v = static_cast<float>(x->float23());
    else return false;
    if (!std::isfinite(v)) fail(c, c.index);
    v = held(v);
    ++c.index;
    return true;
}

bool read_number_or_percent(Cursor& c, double& v) {
    if (c.more() && c.here()->is(Type::percent)) {
        v = c.here()->float23();
        if (!std::isfinite(v)) fail(c, c.index);
        v = held(v);
        ++c.index;
        return true;
    }
    return read_number(c, v);
}

bool read_point(Cursor& c, double& x, double& y) {
    if (!c.more()) return false;
    const Cell* p = c.here();
    if (p->is(Type::pair)) {
        x = pair::x(p);
        y = pair::y(p);
    } else if (p->is(Type::point2D)) {
        x = point::get(p, 0);
        y = point::get(p, 1);
        if (!std::isfinite(x) || !std::isfinite(y)) fail(c, c.index);
    } else {
        return false;
    }
    x = held(x);
    y = held(y);
    ++c.index;
    return true;
}

bool color_of(const Cell* value, uint32_t& color) {
    if (value->is(Type::word)) {
        value = word_value(value);
        if (!value) return false;
    }
    if (!value->is(Type::tuple)) return false;
    color = image::pixel_of_tuple(value);
    return true;
}

bool read_color(Cursor& c, uint32_t& color) {
    if (!c.more() || !color_of(c.here(), color)) return false;
    ++c.index;
    return true;
}

void set_color(cairo_t* cr, uint32_t color) {
    cairo_set_source_rgba(cr, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0, (color & 0xFF) / 255.0,
                          (color >> 24) / 255.0);
}

void set_word_here(Cursor& c) {
    Cell word = *c.here();
    Cell rest = c.block;
    series::set_head(&rest, c.index + 1);
    if (!word::binding_of(&word) || word::index_of(&word) < 0) error::raise(error::id::script_not_defined, &word);
    context::set(&word, &rest);
    ++c.index;
}

// ---------------------------------------------------------------------------------------------
// Transforms and state

void apply_transform(Context& ctx) {
    cairo_matrix_t m = ctx.st.ctm;
    // A transform that throws shapes past the fixed-point range, or folds the plane, draws
    // nothing rather than garbage.
    auto tame = [](const cairo_matrix_t& t) {
        for (double v : {t.xx, t.yx, t.xy, t.yy})
            if (!(std::abs(v) <= 1.0e4)) return false;
        return std::abs(t.x0) <= coordinate_limit && std::abs(t.y0) <= coordinate_limit;
    };
    if (tame(m) && cairo_matrix_invert(&m) == CAIRO_STATUS_SUCCESS) {
        cairo_set_matrix(ctx.cr, &ctx.st.ctm);
        ctx.st.singular = false;
    } else {
        ctx.st.singular = true;
    }
}

void push_state(Context& ctx, State& saved) {
    saved = ctx.st;
    cairo_save(ctx.cr);
}

void pop_state(Context& ctx, State& saved) {
    cairo_restore(ctx.cr);
    ctx.st = saved;
    apply_transform(ctx);
    cairo_set_antialias(ctx.cr, ctx.st.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

// ---------------------------------------------------------------------------------------------
// The command table

namespace {

enum Command {
    c_pen, c_fill_pen, c_line_width, c_line_join, c_line_cap, c_line_pattern, c_box, c_line, c_triangle,
    c_polygon, c_circle, c_ellipse, c_anti_alias, c_font, c_text, c_arc, c_curve, c_spline, c_image,
    c_shadow, c_clip, c_shape, c_rotate, c_scale, c_translate, c_skew, c_transform, c_push, c_matrix,
    c_reset_matrix, c_invert_matrix,
};

const std::unordered_map<int32_t, Command>& commands() {
    static const std::unordered_map<int32_t, Command> table = [] {
        std::unordered_map<int32_t, Command> t;
        const std::pair<const char*, Command> names[] = {
            {"pen", c_pen}, {"fill-pen", c_fill_pen}, {"line-width", c_line_width}, {"line-join", c_line_join},
            {"line-cap", c_line_cap}, {"line-pattern", c_line_pattern}, {"box", c_box}, {"line", c_line},
            {"triangle", c_triangle}, {"polygon", c_polygon}, {"circle", c_circle}, {"ellipse", c_ellipse},
            {"anti-alias", c_anti_alias}, {"font", c_font}, {"text", c_text}, {"arc", c_arc}, {"curve", c_curve},
            {"spline", c_spline}, {"image", c_image}, {"shadow", c_shadow}, {"clip", c_clip}, {"shape", c_shape},
            {"rotate", c_rotate}, {"scale", c_scale}, {"translate", c_translate}, {"skew", c_skew},
            {"transform", c_transform}, {"push", c_push}, {"matrix", c_matrix}, {"reset-matrix", c_reset_matrix},
            {"invert-matrix", c_invert_matrix},
        };
        for (auto& [name, command] : names) t.emplace(sym(name), command);
        return t;
    }();
    return table;
}

void run_command(Context& ctx, Cursor& c, Command command) {
    switch (command) {
        case c_pen: return cmd_brush(ctx, c, true);
        case c_fill_pen: return cmd_brush(ctx, c, false);
        case c_line_width: return cmd_line_width(ctx, c);
        case c_line_join: return cmd_line_join(ctx, c);
        case c_line_cap: return cmd_line_cap(ctx, c);
        case c_line_pattern: return cmd_line_pattern(ctx, c);
        case c_box: return cmd_box(ctx, c);
        case c_line: return cmd_line(ctx, c);
        case c_triangle: return cmd_polygon(ctx, c, 3, true);
        case c_polygon: return cmd_polygon(ctx, c, 3, false);
        case c_circle: return cmd_circle(ctx, c);
        case c_ellipse: return cmd_ellipse(ctx, c);
        case c_anti_alias: return cmd_anti_alias(ctx, c);
        case c_font: return cmd_font(ctx, c);
        case c_text: return cmd_text(ctx, c);
        case c_arc: return cmd_arc(ctx, c);
        case c_curve: return cmd_curve(ctx, c);
        case c_spline: return cmd_spline(ctx, c);
        case c_image: return cmd_image(ctx, c);
        case c_shadow: return cmd_shadow(ctx, c);
        case c_clip: return cmd_clip(ctx, c);
        case c_shape: return cmd_shape(ctx, c);
        case c_push: return cmd_push(ctx, c);
        case c_rotate: case c_scale: case c_translate: case c_skew: case c_transform:
            return cmd_transform(ctx, c, command - c_rotate);
        case c_matrix: case c_reset_matrix: case c_invert_matrix:
            return cmd_matrix(ctx, c, command - c_matrix);
    }
}

}  // namespace

void interpret(Context& ctx, const Cell* block) {
    Cursor c = cursor_of(block);
    Ref node = series::node(block);
    if (cycle_stack::find(node)) raise_at(block, block->int1(), true);
    cycle_stack::push(node);
    const auto& table = commands();
    while (c.more()) {
        Cell v = *c.here();
        switch (v.type()) {
            case Type::word: {
                auto found = table.find(symbol::resolve(word::symbol_of(&v)));
                if (found == table.end()) fail(c, c.index);
                ++c.index;
                run_command(ctx, c, found->second);
                break;
            }
            case Type::set_word:
                set_word_here(c);
                break;
            case Type::block:
                interpret(ctx, &v);
                ++c.index;
                break;
            default:
                fail(c, c.index);
        }
    }
    cycle_stack::pop();
}

// ---------------------------------------------------------------------------------------------
// Begin, run, end

namespace {

void begin(Context& ctx, cairo_t* cr) {
    ctx.cr = cr;
    ctx.st = State{};
    ctx.st.pen.kind = kind::solid;
    ctx.st.fill.kind = kind::off;
    cairo_matrix_init_identity(&ctx.st.pen.transform);
    cairo_matrix_init_identity(&ctx.st.fill.transform);
    cairo_get_matrix(cr, &ctx.st.ctm);
    ctx.base_ctm = ctx.st.ctm;
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

// Runs the block; errors other than the quiet stop pass on with the cycle stack restored.
void run(Context& ctx, const Cell* commands) {
    cycle_stack::Scope scope;
    try {
        interpret(ctx, commands);
    } catch (const QuietStop&) {
    }
}

}  // namespace

void premultiply(const uint32_t* from, uint32_t* to, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        uint32_t p = from[i], a = p >> 24;
        if (a == 255) {
            to[i] = p;
        } else if (a == 0) {
            to[i] = 0;
        } else {
            auto m = [a](uint32_t v) { return (v * a + 127) / 255; };
            to[i] = (a << 24) | (m((p >> 16) & 0xFF) << 16) | (m((p >> 8) & 0xFF) << 8) | m(p & 0xFF);
        }
    }
}

void unpremultiply(const uint32_t* from, uint32_t* to, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        uint32_t p = from[i], a = p >> 24;
        if (a == 255) {
            to[i] = p;
        } else if (a == 0) {
            to[i] = 0;
        } else {
            auto d = [a](uint32_t v) {
                uint32_t r = (v * 255 + a / 2) / a;
                return r > 255 ? 255u : r;
            };
            to[i] = (a << 24) | (d((p >> 16) & 0xFF) << 16) | (d((p >> 8) & 0xFF) << 8) | d(p & 0xFF);
        }
    }
}

namespace {

// Back from the drawing: a pixel the drawing left as it found it keeps its straight colour
// exactly (the trip through premultiplied form loses the colour of transparent pixels).
void store_back(const uint32_t* drawn, uint32_t* pixels, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        uint32_t was = pixels[i], found;
        premultiply(&was, &found, 1);
        if (drawn[i] != found) unpremultiply(drawn + i, pixels + i, 1);
    }
}

}  // namespace

void draw_image(Cell* image_cell, Cell* commands) {
    int32_t w = image::width(image_cell), h = image::height(image_cell);
    if (w <= 0 || h <= 0 || !image::pixels(image_cell)) return;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        error::raise(error::id::internal_no_memory);
    }
    auto copy_rows = [&](bool into_surface) {
        uint32_t* pixels = image::pixels(image_cell);
        uint8_t* data = cairo_image_surface_get_data(surface);
        int stride = cairo_image_surface_get_stride(surface);
        for (int32_t y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(data + int64_t(y) * stride);
            if (into_surface) premultiply(pixels + int64_t(y) * w, row, w);
            else store_back(row, pixels + int64_t(y) * w, w);
        }
    };
    cairo_surface_flush(surface);
    copy_rows(true);
    cairo_surface_mark_dirty(surface);
    cairo_t* cr = cairo_create(surface);
    Context ctx;
    ctx.surface = surface;
    ctx.target_image = *image_cell;
    begin(ctx, cr);
    // What was drawn stays in the image, also when an error ends the drawing.
    auto finish = [&] {
        ctx.st = State{};
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        copy_rows(false);
        image::mark_dirty(image_cell);
        cairo_surface_destroy(surface);
    };
    try {
        run(ctx, commands);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

namespace {

// The face's own look under its drawing: its colour (or transparency), its image scaled to its
// size, and its text laid out by the text-box engine (not for windows).
void paint_face_body(Context& ctx, const Cell* face) {
    cairo_t* cr = ctx.cr;
    Cell f = *face;
    auto facet = [&](const char* name) -> Cell* {
        int32_t i = object::find_index(&f, sym(name));
        return i < 0 ? nullptr : object::find_value(&f, sym(name));
    };
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    uint32_t color = 0;
    const Cell* c = facet("color");
    if (c && c->is(Type::tuple)) color = image::pixel_of_tuple(c);
    set_color(cr, color);
    cairo_paint(cr);
    cairo_restore(cr);
    double w = 0, h = 0;
    if (const Cell* size = facet("size")) {
        if (size->is(Type::pair)) w = pair::x(size), h = pair::y(size);
        else if (size->is(Type::point2D)) w = point::get(size, 0), h = point::get(size, 1);
    }
    if (Cell* img = facet("image"); img && img->is(Type::image) && w > 0 && h > 0) {
        Cell held = *img;
        if (cairo_surface_t* s = surface_of_image(&held)) {
            cairo_save(cr);
            cairo_scale(cr, w / cairo_image_surface_get_width(s), h / cairo_image_surface_get_height(s));
            cairo_set_source_surface(cr, s, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
            cairo_paint(cr);
            cairo_restore(cr);
            cairo_surface_destroy(s);
        }
    }
    const Cell* type = facet("type");
    const Cell* text = facet("text");
    if (text && text->is(Type::string) && !(type && word_symbol(type) == sym("window"))) {
        uint32_t ink = 0xFF000000;
        if (const Cell* font = facet("font"); font && font->is(Type::object)) {
            Cell held = *font;
            const Cell* fc = object::find_value(&held, sym("color"));
            if (fc->is(Type::tuple)) ink = image::pixel_of_tuple(fc);
        }
        text_box::draw_face_text(cr, &f, 0, 0, ink);
    }
}

// Runs a drawing onto a Cairo context inside its own saved state; errors are printed (catch)
// or passed on.
bool run_on_cairo(cairo_t* cr, const Cell* face, Cell* commands, bool catch_errors) {
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) return true;
    text_box::trim_cache();
    cairo_save(cr);
    Context ctx;
    cell::make(&ctx.target_image, Type::none);
    begin(ctx, cr);
    Cell* arguments = stack::arguments_top;
    stack::CallFrame* calls = stack::calls_top;
    bool ok = true;
    try {
        if (face) {
            cycle_stack::Scope scope;
            try {
                paint_face_body(ctx, face);
            } catch (const QuietStop&) {
            }
        }
        if (commands && commands->is(Type::block)) run(ctx, commands);
    } catch (const runtime::Throw& t) {
        ok = false;
        if (!catch_errors) {
            ctx.st = State{};
            cairo_restore(cr);
            throw;
        }
        std::string text = t.code == runtime::throw_error ? boot::describe_error(stack::top()) : "*** Throw";
        runtime::print_line({text.c_str()});
        stack::arguments_top = arguments;
        stack::calls_top = calls;
    }
    ctx.st = State{};
    cairo_restore(cr);
    return ok;
}

}  // namespace

bool draw_on_cairo(cairo_t* cr, Cell* commands, bool catch_errors) {
    return run_on_cairo(cr, nullptr, commands, catch_errors);
}

bool draw_face(cairo_t* cr, Cell* face, Cell* commands, bool catch_errors) {
    return run_on_cairo(cr, face, commands, catch_errors);
}

}  // namespace zuv::draw
