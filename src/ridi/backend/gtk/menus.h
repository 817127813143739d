// Menus of faces: a window's menu bar and the context menu a right press opens, built from
// a face's `menu` block; the item the user picks comes back as a `menu` event.
#pragma once
#include <gtk/gtk.h>

#include "memory/cell.h"
#include "ridi/backend/gtk/backend.h"

namespace zuv::gui {

// Appends the items of a menu block to a menu shell; each item reports to the view `owner`.
void build_menu(const Cell* block, GtkMenuShell* shell, uint32_t owner);
// True when a face of this kind shows its menu block as a menu bar: a window whose block is
// not empty and does not start with the word `popup`.
bool menu_bar_q(const Cell* menu, Kind kind);
// Puts the window's menu bar in step with its face's `menu` facet (made, replaced or taken
// away), keeping the face's client size.
void set_menu_bar(View* v, const Cell* face);
// The height the menu bar takes above the window's client area, device pixels; 0 without one.
int32_t menu_bar_height(const View* v);
// Offers the context menu of the face of view v for a right press (event e, at x, y device
// pixels in the view); true when a menu was shown.
bool show_context_menu(View* v, GdkEvent* e, double x, double y);
// The context menu on screen, or null.
GtkWidget* context_menu();

}  // namespace zuv::gui
