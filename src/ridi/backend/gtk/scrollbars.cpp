// The scroll bars of a scrollable face of the backend's own (a base, a panel, a rich-text
// face): two bars along its right and bottom edges that move nothing by themselves. What the
// user does with them is a scroll event, with the request as its key, the bar's position as
// its picked value and the bar's orientation; the program answers by setting its scroller!,
// whose position, range and page come back to the bar.
#include <algorithm>

#include "ridi/backend/gtk/backend.h"

namespace zuv::gui {

namespace {

// The request code of a bar action: 0 a step back, 1 a step on, 2 a page back, 3 a page on,
// 5 the thumb dragged; 6 and 7 the ends.
int32_t request_of(GtkScrollType s) {
    switch (s) {
        case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_UP: case GTK_SCROLL_STEP_LEFT: return 0;
        case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_DOWN: case GTK_SCROLL_STEP_RIGHT: return 1;
        case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_UP: case GTK_SCROLL_PAGE_LEFT: return 2;
        case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_DOWN: case GTK_SCROLL_PAGE_RIGHT: return 3;
        case GTK_SCROLL_JUMP: return 5;
        case GTK_SCROLL_START: return 6;
        default: return 7;
    }
}

gboolean on_change_value(GtkRange* bar, GtkScrollType how, gdouble value, gpointer data) {
    View* v = view_of_handle(GPOINTER_TO_UINT(data));
    if (!v || !v->slot) return TRUE;
    Message m = current ? *current : fallback_message(v->handle);
    m.serial = 0;
    m.target = v->handle;
    m.request = request_of(how);
    m.vertical = GTK_WIDGET(bar) == v->bars[1];
    // A dragged thumb follows the pointer and reports where it is; any other request leaves
    // the bar where it is until the program moves it.
    GtkAdjustment* a = gtk_range_get_adjustment(bar);
    double track = m.request == 5 ? value : gtk_adjustment_get_value(a);
    m.picked = static_cast<int32_t>(track);
    make_event(&m, 0, type::scroll);
    return m.request == 5 ? FALSE : TRUE;
}

GtkWidget* new_bar(View* v, GtkOrientation o) {
    // The range a bar has until the program sets one: 0 to 100, at 0.
    GtkAdjustment* a = gtk_adjustment_new(0, 0, 100, 1, 10, 0);
    GtkWidget* bar = gtk_scrollbar_new(o, a);
    g_signal_connect(bar, "change-value", G_CALLBACK(on_change_value), GUINT_TO_POINTER(v->handle));
    gtk_fixed_put(GTK_FIXED(v->container), bar, 0, 0);
    gtk_widget_show(bar);
    return bar;
}

}  // namespace

void make_bars(View* v) {
    if (!v->container || !GTK_IS_FIXED(v->container) || v->bars[0]) return;
    v->bars[0] = new_bar(v, GTK_ORIENTATION_HORIZONTAL);
    v->bars[1] = new_bar(v, GTK_ORIENTATION_VERTICAL);
    place_bars(v);
}

void place_bars(View* v) {
    if (!v->bars[0]) return;
    int w = 0, h = 0;
    gtk_widget_get_size_request(v->widget, &w, &h);
    int thick_v = 0, thick_h = 0;
    gtk_widget_get_preferred_width(v->bars[1], &thick_v, nullptr);
    gtk_widget_get_preferred_height(v->bars[0], &thick_h, nullptr);
    bool both = gtk_widget_get_visible(v->bars[0]) && gtk_widget_get_visible(v->bars[1]);
    // The corner where both bars would meet is left to the face.
    int across = std::max(1, w - (both ? thick_v : 0)), down = std::max(1, h - (both ? thick_h : 0));
    gtk_widget_set_size_request(v->bars[0], across, thick_h);
    gtk_fixed_move(GTK_FIXED(v->container), v->bars[0], 0, std::max(0, h - thick_h));
    gtk_widget_set_size_request(v->bars[1], thick_v, down);
    gtk_fixed_move(GTK_FIXED(v->container), v->bars[1], std::max(0, w - thick_v), 0);
}

void to_top(View* v, GtkWidget* child) {
    int x = 0, y = 0;
    gtk_container_child_get(GTK_CONTAINER(v->container), child, "x", &x, "y", &y, nullptr);
    g_object_ref(child);
    gtk_container_remove(GTK_CONTAINER(v->container), child);
    gtk_fixed_put(GTK_FIXED(v->container), child, x, y);
    g_object_unref(child);
}

void raise_bars(View* v) {
    for (GtkWidget* bar : v->bars)
        if (bar) to_top(v, bar);
}

}  // namespace zuv::gui
