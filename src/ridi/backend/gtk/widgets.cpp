// The native widgets: each widget face is its GTK control, filled from its facets and read back
// when the user acts, with the click, select and change events. Signals the backend provokes
// while it fills a widget are held back: only the user's acts (and edits' text changes) are heard.
#include "ridi/backend/gtk/widgets.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/widget-record.h"

namespace zuv::gui::widgets {

namespace {

constexpr const char* record_key = "zuv-native";

constexpr GdkEventMask holder_events = GdkEventMask(
    GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK |
    GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_ENTER_NOTIFY_MASK |
    GDK_LEAVE_NOTIFY_MASK | GDK_FOCUS_CHANGE_MASK);

struct TypeName {
    const char* name;
    Widget widget;
};
constexpr TypeName type_names[] = {
    {"button", Widget::button},       {"toggle", Widget::toggle},       {"check", Widget::check},
    {"radio", Widget::radio},         {"field", Widget::field},         {"area", Widget::area},
    {"text-list", Widget::text_list}, {"drop-down", Widget::drop_down}, {"drop-list", Widget::drop_list},
    {"progress", Widget::progress},   {"slider", Widget::slider},       {"scroller", Widget::scroller},
    {"tab-panel", Widget::tab_panel}, {"calendar", Widget::calendar},
};

void free_record(gpointer p) {
    auto* r = static_cast<Record*>(p);
    if (r->partner) gtk_widget_destroy(r->partner), g_object_unref(r->partner);
    if (r->style) g_object_unref(r->style);
    delete r;
}

bool taller(const Cell* face) {
    double w = 0, h = 0;
    if (Cell* s = face_facet(face, facet::size)) planar(s, &w, &h);
    return h > w;
}

// The larger of a face's width and height in whole logical pixels: a slider's or a progress
// bar's range.
int32_t long_side(const Cell* face) {
    double w = 0, h = 0;
    if (Cell* s = face_facet(face, facet::size)) planar(s, &w, &h);
    return std::max(1, static_cast<int32_t>(std::max(w, h)));
}

// A number clamped into 0..1, or -1 when the value is no number.
double proportion(const Cell* c) {
    double d = -1;
    if (!c) return d;
    if (c->is(Type::integer)) d = integer::get(c);
    else if (c->is(Type::float_) || c->is(Type::percent)) d = c->float23();
    else return -1;
    if (!std::isfinite(d)) return -1;
    return std::clamp(d, 0.0, 1.0);
}

// Raises an event for the view of a widget, as the message being dispatched would (or as a
// made one): the target is the widget's own view.
int32_t raise(uint32_t handle, int32_t type, int32_t value) {
    Message m = current ? *current : fallback_message(handle);
    m.serial = 0;
    m.target = handle;
    return make_event(&m, value, type);
}

void set_facet(Cell* face, int32_t which, const Cell* value) {
    if (Cell* f = face_facet(face, which)) *f = *value;
}

// ---- items -----------------------------------------------------------------------------------------

bool item_q(const Cell* c) {
    return c->is(Type::string) || c->is(Type::file) || c->is(Type::url) || c->is(Type::tag) || c->is(Type::email) ||
           c->is(Type::ref);
}

// The item texts of a data block (other values are skipped): the whole block from its head, or
// from..from+part counted in values.
std::vector<std::string> items_of(const Cell* data, int32_t from = 0, int32_t part = -1) {
    std::vector<std::string> out;
    if (!data || !(data->is(Type::block) || data->is(Type::hash))) return out;
    Cell b = *data;
    int32_t n = series::length(&b);
    int32_t end = part < 0 ? n : std::min(n, from + part);
    for (int32_t i = std::max(0, from); i < end; ++i) {
        Cell* c = block::head(&b) + i;
        if (item_q(c)) out.push_back(string::to_utf8(c));
    }
    return out;
}

// The number of items before value `index` of the data block.
int32_t items_before(const Cell* data, int32_t index) {
    if (!data || !(data->is(Type::block) || data->is(Type::hash))) return 0;
    Cell b = *data;
    int32_t n = std::min(series::length(&b), index), count = 0;
    for (int32_t i = 0; i < n; ++i)
        if (item_q(block::head(&b) + i)) ++count;
    return count;
}

// The number of strings before value `index` of a block: a tab panel's tabs are its strings.
int32_t strings_before(const Cell* data, int32_t index) {
    Cell b = *data;
    int32_t n = std::min(series::length(&b), index), count = 0;
    for (int32_t i = 0; i < n; ++i)
        if ((block::head(&b) + i)->is(Type::string)) ++count;
    return count;
}

// ---- signals: the user's acts back into the face ---------------------------------------------------

Record* record_of_widget(GtkWidget* w) {
    for (; w; w = gtk_widget_get_parent(w))
        if (auto* r = static_cast<Record*>(g_object_get_data(G_OBJECT(w), record_key))) return r;
    return nullptr;
}

// The view and face behind a signal, unless the backend is filling the widget itself.
bool heard(GtkWidget* w, View** v, Cell** face) {
    Record* r = record_of_widget(w);
    if (!r || r->filling) return false;
    *v = view_of_widget(r->outer);
    *face = view_face(*v);
    return *face != nullptr;
}

// A change event; text-bearing controls first copy their text into the face (unless no-sync).
void raise_change(View* v, bool copy_text) {
    uint32_t h = v->handle;
    Cell* face = view_face(v);
    if (copy_text && face && !(v->flags & flag::no_sync)) {
        Cell f = *face;
        get_text_alt(&f, -1);
    }
    if (view_of_handle(h)) raise(h, type::change, 0);
}

// Enter on a focused button is already a click through the language's enter function; the
// toolkit's own activation by that key would be a second one.
bool enter_key() {
    if (!current || !current->event || current->event->type != GDK_KEY_PRESS) return false;
    guint k = current->event->key.keyval;
    return k == GDK_KEY_Return || k == GDK_KEY_KP_Enter || k == GDK_KEY_ISO_Enter;
}

void on_clicked(GtkWidget* w, gpointer) {
    View* v;
    Cell* face;
    if (heard(w, &v, &face) && !enter_key()) raise(v->handle, type::click, 0);
}

// The state of a check or toggle button into `data`: none for the third state.
void read_check(View* v, Record* r) {
    Cell* face = view_face(v);
    if (!face) return;
    Cell value;
    if (r->third) cell::make(&value, Type::none);
    else logic::make_at(&value, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(r->inner)));
    set_facet(face, facet::data, &value);
}

void on_toggled(GtkWidget* w, gpointer) {
    View* v;
    Cell* face;
    if (!heard(w, &v, &face)) return;
    Record* r = record_of_widget(w);
    if (r->widget == Widget::check && (v->flags & flag::tri_state)) {
        // A tri-state check goes round: unchecked, checked, the third state, unchecked.
        bool was_on = !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));  // before this click
        bool was_third = r->third;
        r->filling = true;
        if (was_third) {
            r->third = false;
            gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(w), FALSE);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), FALSE);
        } else if (was_on) {
            r->third = true;
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), TRUE);
            gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(w), TRUE);
        }
        r->filling = false;
    }
    if (r->widget == Widget::radio) {
        // Only a radio the user turns on is heard; turning the others off is the language's.
        if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w))) return;
        read_check(v, r);
        raise(v->handle, type::click, 0);
        return;
    }
    read_check(v, r);
    raise_change(v, false);
}

void on_text_changed(GtkWidget* w, gpointer) {
    View* v;
    Cell* face;
    if (!heard(w, &v, &face)) return;
    raise_change(v, true);
}

void on_buffer_changed(GtkTextBuffer*, gpointer data) {
    on_text_changed(GTK_WIDGET(data), nullptr);
}

// A field's or area's selection follows the user into `selected`.
void on_selection(GObject* w, GParamSpec*, gpointer) {
    View* v;
    Cell* face;
    if (!heard(GTK_WIDGET(w), &v, &face)) return;
    Cell f = *face;
    read_selection(v, &f);
}

void on_mark_set(GtkTextBuffer*, GtkTextIter*, GtkTextMark* mark, gpointer data) {
    if (mark != gtk_text_buffer_get_insert(gtk_text_view_get_buffer(GTK_TEXT_VIEW(data))) &&
        mark != gtk_text_buffer_get_selection_bound(gtk_text_view_get_buffer(GTK_TEXT_VIEW(data))))
        return;
    on_selection(G_OBJECT(data), nullptr, nullptr);
}

// A field that takes the focus keeps its caret and selection, as a native edit does; the
// toolkit would select all of its text.
void on_grab_focus(GtkWidget* w, gpointer) {
    Record* r = record_of_widget(w);
    if (!r) return;
    int s = 0, e = 0;
    if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(w), &s, &e)) s = e = gtk_editable_get_position(GTK_EDITABLE(w));
    r->keep_start = s, r->keep_end = e;
}

void on_grabbed_focus(GtkWidget* w, gpointer) {
    Record* r = record_of_widget(w);
    if (!r || r->keep_start < 0) return;
    bool filling = r->filling;
    r->filling = true;
    gtk_editable_select_region(GTK_EDITABLE(w), r->keep_start, r->keep_end);
    r->filling = filling;
    r->keep_start = r->keep_end = -1;
}

// The index chosen in a list or combo, 0-based, -1 for none.
int32_t chosen(Record* r) {
    if (r->widget == Widget::text_list) {
        GtkTreeModel* model = nullptr;
        GtkTreeIter it;
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(r->inner));
        if (!gtk_tree_selection_get_selected(sel, &model, &it)) return -1;
        GtkTreePath* p = gtk_tree_model_get_path(model, &it);
        int32_t i = gtk_tree_path_get_indices(p)[0];
        gtk_tree_path_free(p);
        return i;
    }
    return gtk_combo_box_get_active(GTK_COMBO_BOX(r->inner));
}

int32_t selected_index(const Cell* face) {
    Cell* s = face_facet(face, facet::selected);
    return s && s->is(Type::integer) ? integer::get(s) : INT32_MIN;
}

// A new choice in a list or combo: `select` with the index; when the handler left the
// choice alone, `selected` takes it and `change` follows unless the handler answered stop.
void chose(View* v, Record* r) {
    int32_t i = chosen(r);
    Cell* face = view_face(v);
    if (!face || selected_index(face) == i + 1) return;
    uint32_t h = v->handle;
    if (r->widget == Widget::drop_down) {
        Cell f = *face;
        get_text_alt(&f, -1);
    }
    int32_t go = raise(h, type::select, i);
    if (!(v = view_of_handle(h)) || !(face = view_face(v))) return;
    int32_t now = chosen(r);
    if (selected_index(face) == now + 1) return;
    Cell n;
    integer::make_at(&n, now + 1);
    set_facet(face, facet::selected, &n);
    if (go) raise(h, type::change, 0);
}

void on_list_changed(GtkTreeSelection* sel, gpointer) {
    GtkWidget* tree = GTK_WIDGET(gtk_tree_selection_get_tree_view(sel));
    View* v;
    Cell* face;
    if (heard(tree, &v, &face)) chose(v, record_of_widget(tree));
}

// A list that takes the focus puts its cursor on a row; unlike the toolkit, it does not select
// that row too: only the user's own pick (or the program's) selects.
void on_list_grab(GtkWidget* w, gpointer) {
    if (Record* r = record_of_widget(w)) r->grabbing = true;
}

void on_list_grabbed(GtkWidget* w, gpointer) {
    if (Record* r = record_of_widget(w)) r->grabbing = false;
}

gboolean may_select(GtkTreeSelection* sel, GtkTreeModel*, GtkTreePath*, gboolean, gpointer) {
    Record* r = record_of_widget(GTK_WIDGET(gtk_tree_selection_get_tree_view(sel)));
    return !r || !r->grabbing;
}

void on_combo_changed(GtkComboBox* combo, gpointer) {
    View* v;
    Cell* face;
    if (!heard(GTK_WIDGET(combo), &v, &face)) return;
    Record* r = record_of_widget(GTK_WIDGET(combo));
    if (gtk_combo_box_get_active(combo) < 0) {
        // A drop-down's edit text changed by typing.
        if (r->widget == Widget::drop_down) raise_change(v, true);
        return;
    }
    chose(v, r);
}

void on_slider(GtkRange* range, gpointer) {
    View* v;
    Cell* face;
    if (!heard(GTK_WIDGET(range), &v, &face)) return;
    Record* r = record_of_widget(GTK_WIDGET(range));
    GtkAdjustment* a = gtk_range_get_adjustment(range);
    double pos = gtk_adjustment_get_value(a), upper = gtk_adjustment_get_upper(a);
    Cell value;
    if (r->widget == Widget::slider) {
        double d = upper > 0 ? pos / upper : 0;
        Cell* old = face_facet(face, facet::data);
        if (old && old->is(Type::percent)) percent::make_at(&value, d);
        else float_::make_at(&value, d);
        set_facet(face, facet::data, &value);
    } else {
        double lower = gtk_adjustment_get_lower(a), range_ = upper - lower;
        float_::make_at(&value, range_ > 0 ? (pos - lower) / range_ : 0);
        set_facet(face, facet::data, &value);
        percent::make_at(&value, range_ > 0 ? gtk_adjustment_get_page_size(a) / range_ : 0);
        set_facet(face, facet::selected, &value);
    }
    raise_change(v, false);
}

void on_day(GtkCalendar* cal, gpointer) {
    View* v;
    Cell* face;
    if (!heard(GTK_WIDGET(cal), &v, &face)) return;
    guint y, m, d;
    gtk_calendar_get_date(cal, &y, &m, &d);
    Cell value;
    if (date::make_at(&value, static_cast<int32_t>(y), static_cast<int32_t>(m) + 1, static_cast<int32_t>(d), 0, 0, 0,
                      false))
        set_facet(face, facet::data, &value);
    raise_change(v, false);
}

// ---- tab panels ----------------------------------------------------------------------------------------

// The face of page i (0-based) of a tab panel's pane, or null.
Cell* page_face(const Cell* tab_panel, int32_t i) {
    Cell* p = face_facet(tab_panel, facet::pane);
    if (!p || !p->is(Type::block) || i < 0) return nullptr;
    Cell pane = *p;
    if (i >= series::length(&pane)) return nullptr;
    Cell* f = block::head(&pane) + i;
    return f->is(Type::object) ? f : nullptr;
}

void show_page(const Cell* tab_panel, int32_t i, bool on) {
    Cell* f = page_face(tab_panel, i);
    if (!f) return;
    Cell page = *f;
    Cell value;
    logic::make_at(&value, on);
    set_facet(&page, facet::visible, &value);
    if (View* pv = view_of_handle(face_handle(&page))) {
        gtk_widget_set_visible(pv->widget, on);
        if (on) {
            // On top of its siblings: the last child of the container paints last.
            GtkWidget* parent = gtk_widget_get_parent(pv->widget);
            if (parent && GTK_IS_FIXED(parent)) {
                int x = 0, y = 0;
                gtk_container_child_get(GTK_CONTAINER(parent), pv->widget, "x", &x, "y", &y, nullptr);
                g_object_ref(pv->widget);
                gtk_container_remove(GTK_CONTAINER(parent), pv->widget);
                gtk_fixed_put(GTK_FIXED(parent), pv->widget, x, y);
                g_object_unref(pv->widget);
            }
        }
    }
}

// The user picks a tab: `select` first, which may refuse it with stop.
void on_switch_page(GtkNotebook* nb, GtkWidget*, guint page, gpointer) {
    View* v;
    Cell* face;
    if (!heard(GTK_WIDGET(nb), &v, &face)) return;
    if (!raise(v->handle, type::select, static_cast<int32_t>(page))) g_signal_stop_emission_by_name(nb, "switch-page");
}

void on_switched_page(GtkNotebook* nb, GtkWidget*, guint page, gpointer) {
    View* v;
    Cell* face;
    if (!heard(GTK_WIDGET(nb), &v, &face)) return;
    Cell f = *face;
    int32_t old = selected_index(&f);
    int32_t i = static_cast<int32_t>(page);
    show_page(&f, i, true);
    if (old != i + 1) show_page(&f, old - 1, false);
    Cell n;
    integer::make_at(&n, i + 1);
    set_facet(&f, facet::selected, &n);
    raise(v->handle, type::change, i + 1);
}

// The page area of a tab panel in its own coordinates, device pixels.
void page_area(Record* r, int* x, int* y, int* w, int* h) {
    GtkAllocation nb;
    gtk_widget_get_allocation(r->inner, &nb);
    int width = 0, height = 0;
    gtk_widget_get_size_request(r->inner, &width, &height);
    GtkWidget* child = gtk_notebook_get_nth_page(GTK_NOTEBOOK(r->inner),
                                                 std::max(0, gtk_notebook_get_current_page(GTK_NOTEBOOK(r->inner))));
    if (child && gtk_widget_get_mapped(child)) {
        GtkAllocation a;
        gtk_widget_get_allocation(child, &a);
        int dx = 0, dy = 0;
        if (gtk_widget_translate_coordinates(child, r->inner, 0, 0, &dx, &dy) && a.width > 1) {
            *x = dx, *y = dy, *w = a.width, *h = a.height;
            return;
        }
    }
    // Not laid out yet: the header and frame are what the notebook needs around empty pages.
    int min_h = 0;
    gtk_widget_set_size_request(r->inner, -1, -1);
    gtk_widget_get_preferred_height(r->inner, &min_h, nullptr);
    gtk_widget_set_size_request(r->inner, width, height);
    *x = 1, *y = std::max(0, min_h - 1), *w = std::max(0, width - 2), *h = std::max(0, height - min_h);
}

void place_pages(View* v, const Cell* face) {
    Record* r = record_of(v);
    Cell* p = face_facet(face, facet::pane);
    if (!r || !p || !p->is(Type::block)) return;
    Cell pane = *p;
    int32_t n = series::length(&pane);
    for (int32_t i = 0; i < n; ++i) {
        Cell page = *(block::head(&pane) + i);
        if (!page.is(Type::object)) continue;
        place_tab_page(&page, v);
        View* pv = view_of_handle(face_handle(&page));
        if (!pv) continue;
        double x = 0, y = 0, w = 0, h = 0;
        if (Cell* o = face_facet(&page, facet::offset)) planar(o, &x, &y);
        if (Cell* s = face_facet(&page, facet::size)) planar(s, &w, &h);
        if (gtk_widget_get_parent(pv->widget) == v->container)
            gtk_fixed_move(GTK_FIXED(v->container), pv->widget, to_device(x), to_device(y));
        gtk_widget_set_size_request(pv->widget, to_device(w), to_device(h));
    }
}

void fill_tabs(Record* r, const Cell* face) {
    r->filling = true;
    GtkNotebook* nb = GTK_NOTEBOOK(r->inner);
    while (gtk_notebook_get_n_pages(nb) > 0) gtk_notebook_remove_page(nb, -1);
    std::vector<std::string> tabs;
    Cell* d = face_facet(face, facet::data);
    if (d && d->is(Type::block)) {
        Cell b = *d;
        int32_t n = series::length(&b);
        for (int32_t i = 0; i < n; ++i)
            if ((block::head(&b) + i)->is(Type::string)) tabs.push_back(string::to_utf8(block::head(&b) + i));
    }
    for (const auto& t : tabs) {
        GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_show(page);
        gtk_notebook_append_page(nb, page, gtk_label_new(t.c_str()));
    }
    // The selected tab: clamped to the tabs there are; anything else is the first.
    int32_t count = static_cast<int32_t>(tabs.size());
    Cell* s = face_facet(face, facet::selected);
    int32_t sel = s && s->is(Type::integer) ? std::clamp(integer::get(s), 1, std::max(1, count)) : 1;
    Cell n;
    integer::make_at(&n, sel);
    Cell f = *face;
    set_facet(&f, facet::selected, &n);
    if (count) gtk_notebook_set_current_page(nb, sel - 1);
    r->filling = false;
}

// ---- filling widgets from their faces ---------------------------------------------------------------

// The items a list or combo shows now.
std::vector<std::string> shown_items(Record* r) {
    GtkTreeModel* m = r->widget == Widget::text_list ? GTK_TREE_MODEL(r->store)
                                                    : gtk_combo_box_get_model(GTK_COMBO_BOX(r->inner));
    std::vector<std::string> out;
    GtkTreeIter it;
    for (bool more = gtk_tree_model_get_iter_first(m, &it); more; more = gtk_tree_model_iter_next(m, &it)) {
        gchar* s = nullptr;
        gtk_tree_model_get(m, &it, 0, &s, -1);
        out.emplace_back(s ? s : "");
        g_free(s);
    }
    return out;
}

// The items of the data into the control, changed in place: the rows that stay are left as
// they are (with their layout and the user's cursor), only the differing middle is replaced.
void fill_list(Record* r, const Cell* face) {
    r->filling = true;
    std::vector<std::string> items = items_of(face_facet(face, facet::data));
    std::vector<std::string> now = shown_items(r);
    size_t head = 0;
    while (head < items.size() && head < now.size() && items[head] == now[head]) ++head;
    size_t tail = 0;
    while (tail < items.size() - head && tail < now.size() - head &&
           items[items.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    int gone = static_cast<int>(now.size() - head - tail);
    for (int i = 0; i < gone; ++i) {
        if (r->widget == Widget::text_list) {
            GtkTreeIter it;
            if (gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(r->store), &it, nullptr, static_cast<int>(head)))
                gtk_list_store_remove(r->store, &it);
        } else {
            gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(r->inner), static_cast<int>(head));
        }
    }
    for (size_t i = head; i < items.size() - tail; ++i) {
        if (r->widget == Widget::text_list)
            gtk_list_store_insert_with_values(r->store, nullptr, static_cast<int>(i), 0, items[i].c_str(), -1);
        else
            gtk_combo_box_text_insert_text(GTK_COMBO_BOX_TEXT(r->inner), static_cast<int>(i), items[i].c_str());
    }
    r->filling = false;
}

void select_item(Record* r, const Cell* face) {
    r->filling = true;
    Cell* s = face_facet(face, facet::selected);
    if (r->widget == Widget::text_list) {
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(r->inner));
        int32_t n = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(r->store), nullptr);
        if (s && s->is(Type::integer) && integer::get(s) >= 1 && integer::get(s) <= n) {
            GtkTreePath* p = gtk_tree_path_new_from_indices(s->int2() - 1, -1);
            gtk_tree_selection_select_path(sel, p);
            gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(r->inner), p, nullptr, FALSE, 0, 0);
            gtk_tree_path_free(p);
        } else {
            gtk_tree_selection_unselect_all(sel);
        }
        if (s && !s->is(Type::integer)) {
            // A selection that is no index means none.
            Cell f = *face, none_;
            integer::make_at(&none_, -1);
            set_facet(&f, facet::selected, &none_);
        }
    } else {
        GtkComboBox* c = GTK_COMBO_BOX(r->inner);
        int32_t n = gtk_tree_model_iter_n_children(gtk_combo_box_get_model(c), nullptr);
        // An index out of range leaves the combo as it is, as the native control would.
        if (s && s->is(Type::integer) && integer::get(s) >= 1 && integer::get(s) <= n) gtk_combo_box_set_active(c, integer::get(s) - 1);
        else if (s && s->is(Type::integer) && integer::get(s) < 1) gtk_combo_box_set_active(c, -1);
        if (r->widget == Widget::drop_down) {
            // The edit shows the face's text when it has one.
            Cell* t = face_facet(face, facet::text);
            if (t && t->is(Type::string)) {
                std::string text = string::to_utf8(t);
                GtkEntry* e = GTK_ENTRY(gtk_bin_get_child(GTK_BIN(c)));
                if (text != gtk_entry_get_text(e)) gtk_entry_set_text(e, text.c_str());
            }
        }
    }
    r->filling = false;
}

void set_check(Record* r, View* v, const Cell* face) {
    Cell* d = face_facet(face, facet::data);
    r->filling = true;
    GtkToggleButton* b = GTK_TOGGLE_BUTTON(r->inner);
    bool third = r->widget == Widget::check && (v->flags & flag::tri_state) && (!d || d->is(Type::none));
    bool on = d && !d->is(Type::none) && !(d->is(Type::logic) && !logic::get(d));
    if (d && d->is(Type::logic)) on = logic::get(d);
    r->third = third;
    gtk_toggle_button_set_inconsistent(b, third);
    if (r->widget == Widget::radio) {
        // A radio is turned off by turning its hidden partner on.
        if (on) gtk_toggle_button_set_active(b, TRUE);
        else gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->partner), TRUE);
    } else {
        gtk_toggle_button_set_active(b, on || third);
    }
    r->filling = false;
}

void set_position(Record* r, const Cell* face) {
    Cell* d = face_facet(face, facet::data);
    double value = d && (d->is(Type::float_) || d->is(Type::percent)) && std::isfinite(d->float23()) ? d->float23() : 0;
    r->filling = true;
    if (r->widget == Widget::progress) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(r->inner), std::clamp(value, 0.0, 1.0));
    } else if (r->widget == Widget::slider) {
        int32_t L = long_side(face);
        GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(r->inner));
        gtk_adjustment_configure(a, std::trunc(std::clamp(value, 0.0, 1.0) * L), 0, L, 1, L / 10.0, 0);
    } else if (r->widget == Widget::scroller) {
        if (d && d->is(Type::float_)) {
            GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(r->inner));
            double lo = gtk_adjustment_get_lower(a), hi = gtk_adjustment_get_upper(a);
            gtk_adjustment_set_value(a, lo + std::clamp(value, 0.0, 1.0) * (hi - lo));
        }
    }
    r->filling = false;
}

// A scroller's page from its `selected` proportion (made 10% when it is no number).
void set_page(Record* r, Cell* face, bool at_creation) {
    Cell* s = face_facet(face, facet::selected);
    double p = proportion(s);
    if (p < 0) {
        if (!at_creation) return;
        Cell ten;
        percent::make_at(&ten, 0.1);
        set_facet(face, facet::selected, &ten);
        p = 0.1;
    }
    r->filling = true;
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(r->inner));
    double range = gtk_adjustment_get_upper(a) - gtk_adjustment_get_lower(a);
    double page = std::round(p * range);
    gtk_adjustment_set_page_size(a, page);
    gtk_adjustment_set_page_increment(a, page > 0 ? page : 10);
    r->filling = false;
}

void set_date(Record* r, Cell* face) {
    Cell* d = face_facet(face, facet::data);
    GtkCalendar* cal = GTK_CALENDAR(r->inner);
    if (d && d->is(Type::date)) {
        uint32_t w = date::word_of(d);
        int32_t y = std::clamp(date::year(w), 1601, 9999);
        r->filling = true;
        gtk_calendar_select_month(cal, static_cast<guint>(date::month(w) - 1), static_cast<guint>(y));
        gtk_calendar_select_day(cal, static_cast<guint>(date::day(w)));
        r->filling = false;
        return;
    }
    // No date given: the calendar's own date goes into the face.
    guint y, m, dd;
    gtk_calendar_get_date(cal, &y, &m, &dd);
    Cell value;
    int32_t year = std::clamp(static_cast<int32_t>(y), 1601, 9999);
    if (date::make_at(&value, year, static_cast<int32_t>(m) + 1, static_cast<int32_t>(dd), 0, 0, 0, false))
        set_facet(face, facet::data, &value);
}

void set_text(View* v, Record* r, const Cell* face, bool notify) {
    Cell* t = face_facet(face, facet::text);
    std::string text = t && string::family_q(t->type()) ? string::to_utf8(t) : std::string();
    switch (r->widget) {
        case Widget::button: case Widget::toggle: case Widget::check: case Widget::radio:
            gtk_button_set_label(GTK_BUTTON(r->inner), text.c_str());
            if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(r->inner)); label && GTK_IS_LABEL(label))
                gtk_label_set_use_underline(GTK_LABEL(label), FALSE);
            break;
        case Widget::field: {
            if (text == gtk_entry_get_text(GTK_ENTRY(r->inner))) return;
            r->filling = true;
            gtk_entry_set_text(GTK_ENTRY(r->inner), text.c_str());
            r->filling = false;
            break;
        }
        case Widget::area: {
            GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->inner));
            GtkTextIter s, e;
            gtk_text_buffer_get_bounds(b, &s, &e);
            gchar* now = gtk_text_buffer_get_text(b, &s, &e, TRUE);
            bool same = text == now;
            g_free(now);
            if (same) return;
            r->filling = true;
            gtk_text_buffer_set_text(b, text.c_str(), static_cast<int>(text.size()));
            r->filling = false;
            break;
        }
        case Widget::drop_down: {
            GtkEntry* e = GTK_ENTRY(gtk_bin_get_child(GTK_BIN(r->inner)));
            if (text == gtk_entry_get_text(e)) return;
            r->filling = true;
            gtk_entry_set_text(e, text.c_str());
            r->filling = false;
            break;
        }
        default: return;
    }
    // An edit whose text the program set reports the change as the user's edits do.
    if (notify && (r->widget == Widget::field || r->widget == Widget::area || r->widget == Widget::drop_down))
        raise(v->handle, type::change, 0);
}

// A button's image from `image`: an image!, or the first of a block of images.
void set_button_image(Record* r, const Cell* face) {
    Cell* i = face_facet(face, facet::image);
    Cell img;
    cell::make(&img, Type::none);
    if (i && i->is(Type::image)) img = *i;
    else if (i && i->is(Type::block) && series::length(i) > 0 && block::head(i)->is(Type::image)) img = *block::head(i);
    if (!img.is(Type::image) || image::width(&img) <= 0 || image::height(&img) <= 0) {
        gtk_button_set_image(GTK_BUTTON(r->inner), nullptr);
        return;
    }
    int w = image::width(&img), h = image::height(&img);
    GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
    guchar* px = gdk_pixbuf_get_pixels(pb);
    int stride = gdk_pixbuf_get_rowstride(pb);
    const uint32_t* src = image::pixels(&img);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t p = src[y * w + x];
            guchar* d = px + y * stride + x * 4;
            d[0] = (p >> 16) & 0xFF, d[1] = (p >> 8) & 0xFF, d[2] = p & 0xFF, d[3] = p >> 24;
        }
    GtkWidget* gi = gtk_image_new_from_pixbuf(pb);
    g_object_unref(pb);
    gtk_button_set_image(GTK_BUTTON(r->inner), gi);
    gtk_button_set_always_show_image(GTK_BUTTON(r->inner), TRUE);
}

void set_password(Record* r, View* v) {
    if (r->widget != Widget::field) return;
    bool hide = v->flags & flag::password;
    gtk_entry_set_visibility(GTK_ENTRY(r->inner), !hide);
    if (hide) gtk_entry_set_invisible_char(GTK_ENTRY(r->inner), 0x25CF);
}

void size_body(Record* r, const Cell* face) {
    double w = 0, h = 0;
    if (Cell* s = face_facet(face, facet::size)) planar(s, &w, &h);
    gtk_widget_set_size_request(r->body, std::max(0, to_device(w)), std::max(0, to_device(h)));
}

GtkWidget* scrolled(GtkWidget* inner, GtkPolicyType h, GtkPolicyType v) {
    GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), h, v);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
    // Bars that stay shown while the content overflows, as on a desktop.
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(sw), FALSE);
    gtk_container_add(GTK_CONTAINER(sw), inner);
    gtk_widget_show(inner);
    return sw;
}

}  // namespace

Record* record_of(View* v) {
    if (!v || !v->widget) return nullptr;
    return static_cast<Record*>(g_object_get_data(G_OBJECT(v->widget), record_key));
}

Widget widget_of(const Cell* type) {
    if (!type || !(type->is(Type::word) || type->is(Type::lit_word))) return Widget::none;
    uint32_t s = symbol::resolve(word::symbol_of(type));
    for (const auto& t : type_names)
        if (s == symbol::resolve(symbol::make(t.name))) return t.widget;
    return Widget::none;
}

GtkWidget* make(Cell* face, Widget kind) {
    auto* r = new Record;
    r->widget = kind;
    GtkWidget* body = nullptr;
    Cell* para = face_facet(face, facet::para);
    bool wrap = para && para->is(Type::object);
    if (wrap) {
        Cell p = *para;
        Cell* w = object::find_value(&p, symbol::make("wrap?"));
        wrap = w && logic::truth(w);
    }
    switch (kind) {
        case Widget::button:
            body = r->inner = gtk_button_new();
            g_signal_connect(r->inner, "clicked", G_CALLBACK(on_clicked), nullptr);
            break;
        case Widget::toggle:
            body = r->inner = gtk_toggle_button_new();
            g_signal_connect(r->inner, "toggled", G_CALLBACK(on_toggled), nullptr);
            break;
        case Widget::check:
            body = r->inner = gtk_check_button_new();
            g_signal_connect(r->inner, "toggled", G_CALLBACK(on_toggled), nullptr);
            break;
        case Widget::radio: {
            // Each radio stands alone (the language level groups them by pane); a hidden
            // partner in its group is what lets the program turn it off.
            r->partner = gtk_radio_button_new(nullptr);
            g_object_ref_sink(r->partner);
            body = r->inner = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(r->partner));
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r->partner), TRUE);
            g_signal_connect(r->inner, "toggled", G_CALLBACK(on_toggled), nullptr);
            break;
        }
        case Widget::field:
            body = r->inner = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(r->inner), 1);
            g_signal_connect(r->inner, "changed", G_CALLBACK(on_text_changed), nullptr);
            g_signal_connect(r->inner, "notify::cursor-position", G_CALLBACK(on_selection), nullptr);
            g_signal_connect(r->inner, "notify::selection-bound", G_CALLBACK(on_selection), nullptr);
            g_signal_connect(r->inner, "grab-focus", G_CALLBACK(on_grab_focus), nullptr);
            g_signal_connect_after(r->inner, "grab-focus", G_CALLBACK(on_grabbed_focus), nullptr);
            break;
        case Widget::area: {
            r->inner = gtk_text_view_new();
            gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(r->inner), wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
            body = scrolled(r->inner, wrap ? GTK_POLICY_NEVER : GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
            GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->inner));
            g_signal_connect(b, "changed", G_CALLBACK(on_buffer_changed), r->inner);
            g_signal_connect(b, "mark-set", G_CALLBACK(on_mark_set), r->inner);
            break;
        }
        case Widget::text_list: {
            r->store = gtk_list_store_new(1, G_TYPE_STRING);
            r->inner = gtk_tree_view_new_with_model(GTK_TREE_MODEL(r->store));
            g_object_unref(r->store);  // the view holds it
            gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(r->inner), FALSE);
            gtk_tree_view_set_enable_search(GTK_TREE_VIEW(r->inner), FALSE);
            GtkCellRenderer* cell = gtk_cell_renderer_text_new();
            gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(r->inner), -1, "", cell, "text", 0, nullptr);
            body = scrolled(r->inner, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
            GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(r->inner));
            g_signal_connect(sel, "changed", G_CALLBACK(on_list_changed), nullptr);
            gtk_tree_selection_set_select_function(sel, may_select, nullptr, nullptr);
            g_signal_connect(r->inner, "grab-focus", G_CALLBACK(on_list_grab), nullptr);
            g_signal_connect_after(r->inner, "grab-focus", G_CALLBACK(on_list_grabbed), nullptr);
            break;
        }
        case Widget::drop_down: case Widget::drop_list:
            body = r->inner = kind == Widget::drop_down ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
            if (kind == Widget::drop_down) gtk_entry_set_width_chars(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(r->inner))), 1);
            g_signal_connect(r->inner, "changed", G_CALLBACK(on_combo_changed), nullptr);
            break;
        case Widget::progress: {
            body = r->inner = gtk_progress_bar_new();
            if (taller(face)) {
                gtk_orientable_set_orientation(GTK_ORIENTABLE(r->inner), GTK_ORIENTATION_VERTICAL);
                gtk_progress_bar_set_inverted(GTK_PROGRESS_BAR(r->inner), TRUE);
            }
            break;
        }
        case Widget::slider: {
            bool vertical = taller(face);
            body = r->inner = gtk_scale_new_with_range(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                                                        0, 1, 1);
            gtk_scale_set_draw_value(GTK_SCALE(r->inner), FALSE);
            // A vertical slider has its low end at the bottom.
            if (vertical) gtk_range_set_inverted(GTK_RANGE(r->inner), TRUE);
            g_signal_connect(r->inner, "value-changed", G_CALLBACK(on_slider), nullptr);
            break;
        }
        case Widget::scroller: {
            GtkAdjustment* a = gtk_adjustment_new(0, 0, 100, 1, 10, 10);
            body = r->inner =
                gtk_scrollbar_new(taller(face) ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, a);
            g_signal_connect(r->inner, "value-changed", G_CALLBACK(on_slider), nullptr);
            break;
        }
        case Widget::tab_panel: {
            // The tabs are a notebook with empty pages; the page panels lie over its page area
            // in the container that holds both.
            body = r->inner = gtk_notebook_new();
            gtk_notebook_set_scrollable(GTK_NOTEBOOK(r->inner), TRUE);
            g_signal_connect(r->inner, "switch-page", G_CALLBACK(on_switch_page), nullptr);
            g_signal_connect_after(r->inner, "switch-page", G_CALLBACK(on_switched_page), nullptr);
            break;
        }
        case Widget::calendar:
            // The month may need more room than the face has: it is clipped to the face.
            r->inner = gtk_calendar_new();
            body = scrolled(r->inner, GTK_POLICY_EXTERNAL, GTK_POLICY_EXTERNAL);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(body), GTK_SHADOW_NONE);
            gtk_calendar_set_display_options(GTK_CALENDAR(r->inner),
                                             GtkCalendarDisplayOptions(GTK_CALENDAR_SHOW_HEADING |
                                                                       GTK_CALENDAR_SHOW_DAY_NAMES));
            g_signal_connect(r->inner, "day-selected", G_CALLBACK(on_day), nullptr);
            break;
        case Widget::none:
            delete r;
            return nullptr;
    }
    // The control lies in a holder of its own: the face's children (a tab panel's pages) go
    // over it, and the holder's window is where events for the face are delivered.
    GtkWidget* holder = gtk_fixed_new();
    gtk_widget_set_has_window(holder, TRUE);
    gtk_widget_add_events(holder, holder_events);
    gtk_fixed_put(GTK_FIXED(holder), body, 0, 0);
    gtk_widget_show(body);
    r->outer = holder;
    r->body = body;
    gtk_style_context_add_class(gtk_widget_get_style_context(body), "zuv-native");
    if (r->inner != body) gtk_style_context_add_class(gtk_widget_get_style_context(r->inner), "zuv-native");
    g_object_set_data_full(G_OBJECT(holder), record_key, r, free_record);
    return holder;
}

GtkWidget* focus_widget(View* v) {
    Record* r = record_of(v);
    return r ? r->inner : v->widget;
}

GtkWidget* container_of(GtkWidget* outer) {
    auto* r = static_cast<Record*>(g_object_get_data(G_OBJECT(outer), record_key));
    return r ? outer : nullptr;
}

void complete(View* v, Cell* face_in) {
    Record* r = record_of(v);
    Cell face = *face_in;
    if (!r) {
        follow_caret(v, &face);
        return;
    }
    size_body(r, &face);
    style_widget(v, &face);
    if (r->widget != Widget::area) set_text(v, r, &face, false);
    switch (r->widget) {
        case Widget::button: case Widget::toggle:
            set_button_image(r, &face);
            if (r->widget == Widget::toggle) set_check(r, v, &face);
            break;
        case Widget::check: case Widget::radio: set_check(r, v, &face); break;
        case Widget::field:
            set_password(r, v);
            if (v->flags & flag::no_border) gtk_entry_set_has_frame(GTK_ENTRY(r->inner), FALSE);
            apply_text_options(v, &face);
            if (Cell* s = face_facet(&face, facet::selected); s && !s->is(Type::none)) set_selection(v, &face);
            break;
        case Widget::area:
            apply_text_options(v, &face);
            set_text(v, r, &face, false);
            area_bars(v, &face);
            if (Cell* s = face_facet(&face, facet::selected); s && !s->is(Type::none)) set_selection(v, &face);
            break;
        case Widget::text_list: case Widget::drop_down: case Widget::drop_list:
            fill_list(r, &face);
            select_item(r, &face);
            break;
        case Widget::progress: case Widget::slider: set_position(r, &face); break;
        case Widget::scroller: {
            set_page(r, &face, true);
            r->filling = true;
            gtk_range_set_value(GTK_RANGE(r->inner), 0);
            r->filling = false;
            Cell zero;
            float_::make_at(&zero, 0.0);
            set_facet(&face, facet::data, &zero);
            break;
        }
        case Widget::tab_panel: fill_tabs(r, &face); break;
        case Widget::calendar: set_date(r, &face); break;
        case Widget::none: break;
    }
}

void apply(View* v, Cell* face_in, int32_t which) {
    Record* r = record_of(v);
    Cell face = *face_in;
    if (!r) {
        if (which == facet::offset || which == facet::size || which == facet::options) follow_caret(v, &face);
        return;
    }
    switch (which) {
        case facet::size:
            size_body(r, &face);
            if (r->widget == Widget::slider || r->widget == Widget::progress) set_position(r, &face);
            if (r->widget == Widget::tab_panel) place_pages(v, &face);
            if (r->widget == Widget::area) area_bars(v, &face);
            break;
        case facet::offset:
            if (r->widget == Widget::tab_panel) place_pages(v, &face);
            break;
        case facet::text:
            set_text(v, r, &face, true);
            if (r->widget == Widget::area) area_bars(v, &face);
            break;
        case facet::data:
            switch (r->widget) {
                case Widget::progress: case Widget::slider: case Widget::scroller: set_position(r, &face); break;
                case Widget::check: case Widget::toggle: case Widget::radio: set_check(r, v, &face); break;
                case Widget::tab_panel: fill_tabs(r, &face); break;
                case Widget::calendar: set_date(r, &face); break;
                case Widget::text_list: case Widget::drop_down: case Widget::drop_list:
                    fill_list(r, &face);
                    select_item(r, &face);
                    break;
                default: break;
            }
            break;
        case facet::selected:
            switch (r->widget) {
                case Widget::text_list: case Widget::drop_down: case Widget::drop_list: select_item(r, &face); break;
                case Widget::field: case Widget::area: set_selection(v, &face); break;
                case Widget::scroller: set_page(r, &face, false); break;
                case Widget::tab_panel: {
                    Cell* s = face_facet(&face, facet::selected);
                    int32_t n = gtk_notebook_get_n_pages(GTK_NOTEBOOK(r->inner));
                    if (!n) break;
                    int32_t i = s && s->is(Type::integer) ? std::clamp(integer::get(s), 1, n) : 1;
                    int32_t now = gtk_notebook_get_current_page(GTK_NOTEBOOK(r->inner));
                    if (s && !(s->is(Type::integer) && integer::get(s) == i)) {
                        Cell c;
                        integer::make_at(&c, i);
                        set_facet(&face, facet::selected, &c);
                    }
                    // As a user's pick: the same select and change events.
                    if (now != i - 1) gtk_notebook_set_current_page(GTK_NOTEBOOK(r->inner), i - 1);
                    break;
                }
                default: break;
            }
            break;
        case facet::flags:
            set_password(r, v);
            if (r->widget == Widget::field) gtk_widget_grab_focus(r->inner);
            break;
        case facet::color: case facet::font: case facet::para: style_widget(v, &face); break;
        case facet::image:
            if (r->widget == Widget::button || r->widget == Widget::toggle) set_button_image(r, &face);
            break;
        case facet::options:
            if (r->widget == Widget::field || r->widget == Widget::area) apply_text_options(v, &face);
            break;
        default: break;
    }
}

bool update_data(View* v, Cell* face_in, const Cell* action, int32_t index, int32_t part) {
    Record* r = record_of(v);
    if (!r || !(r->widget == Widget::text_list || r->widget == Widget::drop_down || r->widget == Widget::drop_list ||
                r->widget == Widget::tab_panel))
        return false;
    // Values about to go take their items with them; any other change is shown from the data
    // as it stands once it is made.
    auto is = [&](const char* w) {
        return action && action->is(Type::word) && symbol::resolve(word::symbol_of(action)) == symbol::resolve(symbol::make(w));
    };
    if (!(is("remove") || is("take") || is("clear"))) return false;
    Cell face = *face_in;
    Cell* d = face_facet(&face, facet::data);
    if (!d || !d->is(Type::block)) return false;
    Cell data = *d;
    bool tabs = r->widget == Widget::tab_panel;
    int32_t first = tabs ? strings_before(&data, index) : items_before(&data, index);
    int32_t count = tabs ? strings_before(&data, index + part) - first
                         : static_cast<int32_t>(items_of(&data, index, part).size());
    r->filling = true;
    for (int32_t i = 0; i < count; ++i) {
        if (tabs) {
            gtk_notebook_remove_page(GTK_NOTEBOOK(r->inner), first);
        } else if (r->widget == Widget::text_list) {
            GtkTreeIter it;
            if (gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(r->store), &it, nullptr, first))
                gtk_list_store_remove(r->store, &it);
        } else {
            gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(r->inner), first);
        }
    }
    r->filling = false;
    return true;
}

void get_text_alt(Cell* face_in, int32_t index) {
    Cell face = *face_in;
    View* v = view_of_handle(face_handle(&face));
    Record* r = record_of(v);
    if (!r) return;
    std::string text;
    if (index >= 0) {
        if (r->widget != Widget::drop_down && r->widget != Widget::drop_list) return;
        GtkTreeModel* m = gtk_combo_box_get_model(GTK_COMBO_BOX(r->inner));
        GtkTreeIter it;
        if (!gtk_tree_model_iter_nth_child(m, &it, nullptr, index)) return;
        gchar* s = nullptr;
        gtk_tree_model_get(m, &it, 0, &s, -1);
        text = s ? s : "";
        g_free(s);
    } else {
        switch (r->widget) {
            case Widget::field: text = gtk_entry_get_text(GTK_ENTRY(r->inner)); break;
            case Widget::drop_down: text = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(r->inner)))); break;
            case Widget::drop_list: {
                gchar* s = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(r->inner));
                text = s ? s : "";
                g_free(s);
                break;
            }
            case Widget::area: {
                GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->inner));
                GtkTextIter s, e;
                gtk_text_buffer_get_bounds(b, &s, &e);
                gchar* t = gtk_text_buffer_get_text(b, &s, &e, TRUE);
                text = t;
                g_free(t);
                break;
            }
            case Widget::button: case Widget::toggle: case Widget::check: case Widget::radio: {
                const char* l = gtk_button_get_label(GTK_BUTTON(r->inner));
                text = l ? l : "";
                break;
            }
            default: return;
        }
    }
    // The face's string is filled in place when it has one, so that what holds it sees the text.
    Cell* t = face_facet(&face, facet::text);
    if (t && t->is(Type::string)) {
        Cell s = *t;
        series::set_head(&s, 0);
        string::reset(&s);
        string::append_utf8(&s, text);
        return;
    }
    Cell* made = string::push_new(static_cast<int32_t>(text.size()));
    string::append_utf8(made, text);
    Cell value = *made;
    set_facet(&face, facet::text, &value);
    stack::pop(1);
}

void place_tab_page(Cell* page_in, View* tab_panel) {
    Record* r = record_of(tab_panel);
    if (!r || r->widget != Widget::tab_panel) return;
    Cell page = *page_in;
    int x, y, w, h;
    page_area(r, &x, &y, &w, &h);
    Cell* s = face_facet(&page, facet::size);
    Cell off, size;
    point2D::make_at(&off, static_cast<float>(to_logical(x)), static_cast<float>(to_logical(y)));
    if (s && s->is(Type::pair)) pair::make_at(&size, static_cast<int32_t>(to_logical(w)), static_cast<int32_t>(to_logical(h)));
    else point2D::make_at(&size, static_cast<float>(to_logical(w)), static_cast<float>(to_logical(h)));
    set_facet(&page, facet::offset, &off);
    set_facet(&page, facet::size, &size);
}

}  // namespace zuv::gui::widgets
