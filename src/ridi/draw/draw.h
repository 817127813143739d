// The drawing engine's doors: DRAW onto an image! (no display needed) and onto the Cairo
// context of a face being painted; the binder of the drawing routines.
#pragma once
#include <cairo.h>

#include "memory/cell.h"
#include "ridi/platform.h"

namespace zuv::draw {

// Runs a DRAW block onto the image's pixels (straight ARGB, converted to Cairo's
// premultiplied form and back). An image with no pixels is left alone. DRAW errors reach the
// caller, the pixels keeping what was drawn before the error.
void draw_image(Cell* image, Cell* commands);

// Runs a DRAW block onto a Cairo context, for a face's draw facet or on-drawing actor painted
// in the GTK draw signal. The context's transform is the face's user space; its state is
// restored afterwards. With catch_errors an error is printed and the drawing ends normally
// (false is returned); without, it passes on to the caller.
bool draw_on_cairo(cairo_t* cr, Cell* commands, bool catch_errors);

// Paints a face onto the Cairo context of its drawing area, in its user space (0x0 its
// top-left corner): the face's colour (transparent when it has none), its image scaled to its
// size, its text through the text-box engine (font, para, size, styles of its data; not for a
// window), then its DRAW block (the draw facet, or none). Errors as for draw_on_cairo.
bool draw_face(cairo_t* cr, Cell* face, Cell* commands, bool catch_errors);

// Sets the engine up (its external kinds, the release of cached surfaces) and fills its
// entries for Ridi's platform object, but the face painter's, which the backend gives.
void start(ridi::DrawEngine* engine);

}  // namespace zuv::draw
