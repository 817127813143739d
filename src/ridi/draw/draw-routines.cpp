// The drawing engine's routines, bound in the private context of the drawing and rich-text
// boot sections: draw-image, size-text and text-box-metrics. Also the binder that links them.
#include <cairo.h>

#include "datatypes/image.h"
#include "evaluator/symbol.h"
#include "library/boot.h"
#include "library/sections.h"
#include "memory/ownership.h"
#include "ridi/draw/draw.h"
#include "ridi/draw/text-box.h"

namespace zuv::draw {

namespace {

Cell* draw_image_routine(Cell** a) {
    Cell* image = a[0];
    if (image::width(image) <= 0 || image::height(image) <= 0) return const_cast<Cell*>(&unset::shared);
    text_box::trim_cache();
    draw_image(image, a[1]);
    ownership::check(image, symbol::make("poke"), nullptr, -1, -1);
    return const_cast<Cell*>(&unset::shared);
}

Cell* size_text_routine(Cell** a) { return text_box::size_text(a[0], a[1]); }

Cell* text_box_metrics_routine(Cell** a) { return text_box::metrics(a[0], a[1], a[2]->int2()); }

Ref drawing_context() {
    library::PrivateContext p(4);
    p.add_routines({
        {"draw-image", draw_image_routine, "image [image!] cmds [block!]", "gui/OS-do-draw image cmds"},
        {"measure-text", size_text_routine, "face [object!] value [any-type!]", "gui/get-text-size face :value"},
        {"text-box-metrics", text_box_metrics_routine, "box [object!] arg [any-type!] type [integer!]",
         "gui/OS-text-box-metrics box :arg type"},
    });
    return p.context();
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
    library::add_section_context("50-draw", drawing_context);
    library::add_section_context("51-rich-text", drawing_context);
}

}  // namespace

std::vector<library::Definition> routine_definitions() {
    return {
        {"draw-image", draw_image_routine, "image [image!] cmds [block!]", "gui/OS-do-draw image cmds"},
        {"size-text", size_text_routine, "face [object!] value [any-type!]", "gui/get-text-size face :value"},
        {"text-box-metrics", text_box_metrics_routine, "box [object!] arg [any-type!] type [integer!]",
         "gui/OS-text-box-metrics box :arg type"},
    };
}

void link() { boot::add_binder(bind); }

}  // namespace zuv::draw
