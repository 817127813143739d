// The drawing engine's entries for Ridi's platform object (drawing onto images, text metrics
// of faces and rich-text boxes), handed over when the native half opens.
#include <cairo.h>

#include "datatypes/image.h"
#include "memory/stack.h"
#include "ridi/draw/draw.h"
#include "ridi/draw/text-box.h"
#include "ridi/platform.h"

namespace zuv::draw {

namespace {

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

}  // namespace

void start(ridi::DrawEngine* engine) {
    text_box::init();
    image::set_cache_release([](uintptr_t surface) { cairo_surface_destroy(reinterpret_cast<cairo_surface_t*>(surface)); });
    engine->do_draw = engine_draw_image;
    engine->text_box_layout = engine_layout;
    engine->text_box_metrics = engine_metrics;
    engine->size_text = engine_size_text;
}

}  // namespace zuv::draw
