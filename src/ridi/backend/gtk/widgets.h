// The native widgets of the GTK backend: the face types that are GTK controls (buttons,
// checks, entries, lists, combos, sliders, tabs, calendars), filled from their faces and
// read back into them when the user changes them; fonts, para and text metrics for them.
#pragma once
#include <gtk/gtk.h>

#include <cstdint>

#include "memory/cell.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"

namespace zuv::gui::widgets {

// The native face types, in one list.
enum class Widget : int32_t {
    none, button, toggle, check, radio, field, area, text_list, drop_down, drop_list, progress, slider, scroller,
    tab_panel, calendar,
};
Widget widget_of(const Cell* type);

// Makes the native widget of a face (not yet attached nor placed); null for a face type that
// is no native widget.
GtkWidget* make(Cell* face, Widget w);
// The widget that takes the keyboard for a view: a native view's control, else the view's own.
GtkWidget* focus_widget(View* v);
// Where the children of a native view go (the tab panel's pages), or null.
GtkWidget* container_of(GtkWidget* outer);
// The completion once the view is attached and placed: items, states, positions, options.
void complete(View* v, Cell* face);
// The widget part of applying one changed facet (after the generic part).
void apply(View* v, Cell* face, int32_t which);
// A deep change of a native widget's data; false when a full update must do instead.
bool update_data(View* v, Cell* face, const Cell* action, int32_t index, int32_t part);
// Reads the native text back into the face's text (index -1), or a combo's item `index`.
void get_text_alt(Cell* face, int32_t index);
// A panel made on a tab panel: its offset and size become the tab panel's page area.
void place_tab_page(Cell* page, View* tab_panel);

// ---- fonts and para (fonts.cpp) -------------------------------------------------------------------
// The face's font, para and colours applied to its native widget (through its style).
void style_widget(View* v, const Cell* face);
// gui/update-font (the native font re-made for a change of its name, size, style, angle or
// anti-aliasing) and gui/update-para (the para re-applied to the face's widget).
void update_font(Cell* font, int32_t field);
void update_para(Cell* face, int32_t field);
// gui/free-font: the font's native resources go and its state becomes none; true when there
// were any.
bool free_font(Cell* font);
// Makes (or finds) the font's native description and links the face to the font; null for
// a value that is not a font.
PangoFontDescription* face_font(Cell* face, Cell* font);
// A face with a font object gets the font's native description and its place among the
// font's faces, so that a change of the font reaches it.
void link_font(Cell* face);
// The style bits of a para for a face type.
uint32_t para_style(const Cell* type, const Cell* para);

// ---- selections, options and scrollers (text-metrics.cpp) ---------------------------------
// A scroller! change pushed to its parent face's bars.
void update_scroller(Cell* scroller, int32_t field);
// Selections of fields and areas: 1-based pair! ranges to and from the native widget.
void set_selection(View* v, const Cell* face);
void read_selection(View* v, Cell* face);
// The options of fields (hint) and areas (tabs).
void apply_text_options(View* v, const Cell* face);
// A caret face (a base face whose `caret` option names the face that owns the caret) takes
// the input method's composition window with it.
void follow_caret(View* v, const Cell* face);
// Shows or hides an area's bars for its text.
void area_bars(View* v, const Cell* face);

}  // namespace zuv::gui::widgets
