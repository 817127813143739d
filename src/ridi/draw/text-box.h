// The text-box engine over Pango: font descriptions made from font! objects, layouts of
// faces with their para, tabs, line spacing and style ranges, and the metrics behind
// size-text and the caret functions. Indexes are in characters at the language level and in
// UTF-8 bytes in Pango; every crossing goes through a layout's table of character offsets.
#pragma once
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdint>
#include <vector>

#include "memory/cell.h"

namespace zuv::text_box {

// A font! object's fields as Pango sees them (name, size in points at 96 dpi, style words).
// Descriptions are kept by the fields' values, so a font whose fields change gets a new one
// with no notice needed; a value that is not a font object gives the default font.
PangoFontDescription* font_description(const Cell* font);
// Drops kept descriptions when there are many; only at entry points, while no drawing holds one.
void trim_cache();

// The style words of a font! that are no part of its description: underline and strike.
int32_t font_decorations(const Cell* font);
namespace decoration {
constexpr int32_t underline = 1, strike = 2;
}

// A new layout of a string! (from its position) in the font, unbounded, with the decorations;
// the caller unrefs it.
PangoLayout* plain_layout(const Cell* text, PangoFontDescription* font, int32_t decorations = 0);

// A face laid out: the layout, the byte offset of every character (one more for the tail),
// and the shift that aligns it in the face's box when it does not wrap.
struct FaceLayout {
    PangoLayout* layout = nullptr;
    std::vector<int32_t> byte_of;
    double dx = 0, dy = 0;
    uint32_t registry = 0;  // its index in the handle registry while a face holds it
    ~FaceLayout();
};

// Lays out a face's text with its font, para, size and styles (data); for a rich-text face
// the layout is kept in its handles facet. DRAW errors in the styles reach the caller.
FaceLayout* layout_face(Cell* face);

// Draws a face's text at a position (DRAW's text of a rich-text face, a base face's text).
void draw_face_text(cairo_t* cr, Cell* face, double x, double y, uint32_t default_color);

// One metric of a rich-text face (the text-box-metrics routine): pushes the answer.
Cell* metrics(Cell* face, Cell* argument, int32_t kind);

// The size of a text in a face's font (the size-text routine for faces other than rich-text):
// pushes a point2D!, or none when there is no string to measure.
Cell* size_text(Cell* face, Cell* value);

// The shared Pango context that every layout is made in (no display needed).
PangoContext* pango_context();

void init();

}  // namespace zuv::text_box
