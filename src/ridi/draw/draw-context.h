// The state of one drawing (DrawContext) shared by the DRAW interpreter, its primitives and
// SHAPE. Commands are read through a Cursor that holds the block cell, never a pointer into
// it: drawing a rich-text face may allocate, and any allocation may move the block's cells.
#pragma once
#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <vector>

#include "memory/cell.h"

namespace zuv::draw {

// A counted reference to a Cairo pattern: states are copied by push and share their brushes.
class PatternRef {
public:
    PatternRef() = default;
    explicit PatternRef(cairo_pattern_t* adopted) : p_(adopted) {}
    PatternRef(const PatternRef& o) : p_(o.p_ ? cairo_pattern_reference(o.p_) : nullptr) {}
    PatternRef& operator=(const PatternRef& o) {
        if (this != &o) reset(o.p_ ? cairo_pattern_reference(o.p_) : nullptr);
        return *this;
    }
    ~PatternRef() { reset(nullptr); }
    void reset(cairo_pattern_t* adopted) {
        if (p_) cairo_pattern_destroy(p_);
        p_ = adopted;
    }
    cairo_pattern_t* get() const { return p_; }

private:
    cairo_pattern_t* p_ = nullptr;
};

// Brush kinds of the pen and the fill.
namespace kind {
constexpr int off = 0, solid = 1, gradient = 2, placed_gradient = 3, image = 4;
}

struct Brush {
    int kind = kind::off;
    uint32_t color = 0xFF000000;   // packed 0xAARRGGBB (straight) of a solid brush
    PatternRef pattern;            // gradients, patterns and bitmaps
    int32_t gradient_word = 0;     // symbol of linear, radial or diamond
    cairo_matrix_t transform;      // brush space to user space ('pen and 'fill-pen transforms)
};

struct Shadow {
    double dx, dy, blur, spread;
    uint32_t color;
};

// What push saves and pop restores (the transform and clips ride on cairo_save/restore).
struct State {
    Brush pen, fill;
    double line_width = 1.0;
    int pen_before_zero = kind::solid;
    int join = 0, cap = 0;
    std::vector<double> dashes;
    PangoFontDescription* font = nullptr;  // owned by the font! object's cache, or null
    int32_t font_decorations = 0;          // underline and strike of the font's style
    double font_angle = 0;                 // degrees the font's text turns by, about its position
    uint32_t text_color = 0xFF000000;
    bool font_color_set = false;
    bool antialias = true;
    bool shadow_on = false;
    std::vector<Shadow> shadows;
    cairo_matrix_t ctm;        // user space to device space, kept here: Cairo refuses a singular one
    bool singular = false;     // the transform collapses the plane: shapes draw nothing
};

struct Context {
    cairo_t* cr = nullptr;
    cairo_surface_t* surface = nullptr;  // the target's surface (image targets)
    Cell target_image{};                  // the image! drawn into, or none
    State st;
    cairo_matrix_t base_ctm;  // the user space the drawing began in: what reset-matrix restores
};

// A position in a commands block. Cells are derived again at each access.
struct Cursor {
    Cell block;       // the series (its head is where the walk started)
    int32_t index;    // absolute index of the next cell
    int32_t end;      // absolute tail index
    Cell* at(int32_t i) const;
    Cell* here() const { return at(index); }
    bool more() const { return index < end; }
};

Cursor cursor_of(const Cell* block);

// Raises draw-invalid (or draw-infinite) with the block positioned at index; in quiet mode
// stops the drawing instead.
[[noreturn]] void raise_at(const Cell* block, int32_t index, bool infinite = false);
[[noreturn]] inline void fail(const Cursor& c, int32_t index) { raise_at(&c.block, index); }

// A set-word at the cursor: its word is set to the block just after it.
void set_word_here(Cursor& c);

// Thrown in quiet mode to end the drawing where it stands.
struct QuietStop {};

// Argument readers: each checks the cell at the cursor and consumes it, or returns false.
bool read_point(Cursor& c, double& x, double& y);
bool read_number(Cursor& c, double& v);
bool read_number_or_percent(Cursor& c, double& v);
// A tuple!, or a word whose value is one; packed 0xAARRGGBB.
bool read_color(Cursor& c, uint32_t& color);
bool color_of(const Cell* value, uint32_t& color);
// The canonical symbol of a word cell of the given kind, else 0.
int32_t word_symbol(const Cell* c, Type t = Type::word);
// The value a word refers to, or null when it has none.
const Cell* word_value(const Cell* word);
int32_t sym(const char* name);

// The keywords of the commands' arguments, as canonical symbols.
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
const Words& words();
// The canonical symbol of the word at the cursor (of that kind), else 0; nothing is consumed.
int32_t peek_word(const Cursor& c, Type t = Type::word);
// A point or number that must be there, else draw-invalid at the cursor.
void need_point(Cursor& c, double& x, double& y);
void need_number(Cursor& c, double& v);
// Points while the values are points, as x, y pairs.
void read_points(Cursor& c, std::vector<double>& pts);

// The interpreter.
void interpret(Context& ctx, const Cell* block);
void push_state(Context& ctx, State& saved);
void pop_state(Context& ctx, State& saved);
void apply_transform(Context& ctx);
void set_source(Context& ctx, Brush& b, double x1, double y1, double x2, double y2);

// Primitives (draw-primitives.cpp), each reading its own arguments after the command word.
void cmd_brush(Context& ctx, Cursor& c, bool pen);
void cmd_line_width(Context& ctx, Cursor& c);
void cmd_line_join(Context& ctx, Cursor& c);
void cmd_line_cap(Context& ctx, Cursor& c);
void cmd_line_pattern(Context& ctx, Cursor& c);
void cmd_box(Context& ctx, Cursor& c);
void cmd_line(Context& ctx, Cursor& c);
void cmd_polygon(Context& ctx, Cursor& c, int min_points, bool exact3);
void cmd_circle(Context& ctx, Cursor& c);
void cmd_ellipse(Context& ctx, Cursor& c);
void cmd_arc(Context& ctx, Cursor& c);
void cmd_curve(Context& ctx, Cursor& c);
void cmd_spline(Context& ctx, Cursor& c);
void cmd_image(Context& ctx, Cursor& c);
void cmd_text(Context& ctx, Cursor& c);
void cmd_font(Context& ctx, Cursor& c);
void cmd_anti_alias(Context& ctx, Cursor& c);
void cmd_shadow(Context& ctx, Cursor& c);
void cmd_clip(Context& ctx, Cursor& c);
void cmd_transform(Context& ctx, Cursor& c, int32_t which);
void cmd_push(Context& ctx, Cursor& c);
void cmd_matrix(Context& ctx, Cursor& c, int32_t which);
void cmd_shape(Context& ctx, Cursor& c);

// Fills (when the fill is on) then strokes (when the pen is on) the current path, placing
// per-shape gradients on the box; clears the path.
void paint_path(Context& ctx, double x1, double y1, double x2, double y2, bool fill_allowed = true);
// paint_path on the path's own extents.
void paint_current_path(Context& ctx, bool fill_allowed = true);

// SHAPE (shape.cpp): builds the path of a SHAPE block into the Cairo context.
void shape_build(Context& ctx, const Cell* block, bool clip_mode);

// Straight 0xAARRGGBB to Cairo's premultiplied pixels and back.
void premultiply(const uint32_t* from, uint32_t* to, int64_t count);
void unpremultiply(const uint32_t* from, uint32_t* to, int64_t count);
// A new Cairo surface holding the image's pixels (or a reference to its cache); null when
// the image has no pixels. The caller destroys the reference.
cairo_surface_t* surface_of_image(Cell* image);
void set_color(cairo_t* cr, uint32_t color);

}  // namespace zuv::draw
