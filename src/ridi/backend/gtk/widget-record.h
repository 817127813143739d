// What the backend keeps beside a native widget: its kind, the control inside (an entry, a
// tree view, a notebook...), the list store of a text-list and the state GTK has no place for.
#pragma once
#include <gtk/gtk.h>

#include "ridi/backend/gtk/widgets.h"

namespace zuv::gui::widgets {

struct Record {
    Widget widget = Widget::none;
    GtkWidget* outer = nullptr;    // the view's widget: a holder of the body and the face's children
    GtkWidget* body = nullptr;     // what fills the holder: the control, or the scrolled window around it
    GtkWidget* inner = nullptr;    // the control itself (the same as body for most)
    GtkWidget* partner = nullptr;  // a radio's hidden group mate, which takes the check off it
    GtkListStore* store = nullptr;
    GtkCssProvider* style = nullptr;  // the face's font, colours and para as the widget's style
    bool filling = false;          // the backend is setting the widget: its signals are not the user's
    bool third = false;            // a tri-state check in its third state
    int keep_start = -1, keep_end = -1;  // a field's selection while it takes the focus
    bool grabbing = false;         // a list taking the focus, which must not select its cursor row
};

// The record of a native view, or null.
Record* record_of(View* v);

}  // namespace zuv::gui::widgets
