// The drawing engine's doors into Ridi: the entries of its platform object (drawing onto
// images, text metrics of faces), and text-box-metrics in the rich-text section's private
// context. Also the binder that installs them.
#include <cairo.h>

#include "datatypes/image.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "library/sections.h"
#include "memory/stack.h"
#include "ridi/draw/draw.h"
#include "ridi/draw/text-box.h"
#include "ridi/platform.h"

namespace zuv::draw {

namespace {

Cell* text_box_metrics_routine(Cell** a) { return text_box::metrics(a[0], a[1], a[2]->int2()); }

Ref rich_text_context() {
    library::PrivateContext p(2);
    p.add_routines({
        {"text-box-metrics", text_box_metrics_routine, "box [object!] arg [any-type!] type [integer!]",
         "gui/OS-text-box-metrics box :arg type"},
    });
    return p.context();
}

// The platform object's drawing entries. Each answer is pushed by the engine and copied out.
void engine_draw_image(Cell* image, Cell* commands) {
    text_box::trim_cache();
    draw_image(image, commands);
}

void engine_layout(Cell* box, Cell*, int32_t, bool) { text_box::layout_face(box); }

void engine_metrics(Cell* box, Cell* argument, int32_t kind, Cell* out) {
    *out = *text_box::metrics(box, argument, kind);
    stack::pop(1);
}

bool engine_size_text(Cell* face, Cell* text, Cell* size) {
    Cell answer = *text_box::size_text(face, text);
    stack::pop(1);
    if (!answer.is(Type::point2D)) return false;
    *size = answer;
    return true;
}

// Every name the engine looks up, interned at start-up: looking a name up later then never
// allocates, so no lookup can move a buffer whose cells the engine is reading.
void intern_names() {
    static const char* const names[] = {
        "pen", "fill-pen", "line-width", "line-join", "line-cap", "line-pattern", "box", "line", "triangle",
        "polygon", "circle", "ellipse", "anti-alias", "font", "text", "arc", "curve", "spline", "image", "shadow",
        "clip", "shape", "rotate", "scale", "translate", "skew", "transform", "push", "matrix", "reset-matrix",
        "invert-matrix", "move", "hline", "vline", "curv", "qcurve", "qcurv", "close", "sweep", "large", "off",
        "linear", "radial", "diamond", "pattern", "bitmap", "pad", "repeat", "reflect", "tile", "flip-x",
        "flip-y", "flip-xy", "clamp", "miter", "bevel", "round", "miter-bevel", "flat", "square", "closed",
        "border", "crop", "inset", "replace", "intersect", "union", "xor", "exclude", "bold", "italic",
        "underline", "strike", "backdrop", "color", "window", "type", "offset", "size", "data", "para", "tabs",
        "line-spacing", "handles", "name", "style", "angle", "align", "v-align", "wrap?", "rich-text", "center",
        "right", "left", "middle", "bottom", "top", "system", "ridi", "fonts", "silent?", "poke",
    };
    for (const char* n : names) symbol::make(n);
}

void bind() {
    intern_names();
    text_box::init();
    image::set_cache_release([](uintptr_t surface) { cairo_surface_destroy(reinterpret_cast<cairo_surface_t*>(surface)); });
    ridi::draw_engine.do_draw = engine_draw_image;
    ridi::draw_engine.text_box_layout = engine_layout;
    ridi::draw_engine.text_box_metrics = engine_metrics;
    ridi::draw_engine.size_text = engine_size_text;
    library::add_section_context("51-rich-text", rich_text_context);
}

}  // namespace

void link() { boot::add_binder(bind); }

}  // namespace zuv::draw
