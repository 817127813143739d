// The life of native views: a face becomes a widget (a window, a panel, a base, a group box,
// a native control of widgets.cpp or a drawn face), its recorded facet changes are applied in a fixed order, and it is
// freed with its children. Views are found from faces through the handle in their state
// block, and faces from views through a slot; a view whose face is gone answers to nothing.
#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/slots.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/camera.h"
#include "ridi/backend/gtk/gui.h"
#include "ridi/backend/gtk/menus.h"
#include "ridi/backend/gtk/widgets.h"
#include "ridi/draw/draw.h"
#include "runtime/throw.h"

namespace zuv::gui {

GtkIMContext* make_input_method(View* v);

namespace {

constexpr const char* view_key = "zuv-view";

// Face types besides the backend's own kinds: the native controls (widgets.cpp) and the
// faces painted as views of their colour and text.
constexpr const char* drawn_types[] = {"button", "toggle", "check", "radio", "text", "field", "area", "text-list",
                                       "drop-list", "drop-down", "progress", "slider", "scroller", "camera",
                                       "calendar", "tab-panel", "rich-text"};

bool word_is(const Cell* c, const char* name) {
    return (c->is(Type::word) || c->is(Type::lit_word)) &&
           symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(name));
}

bool known_drawn_type(const Cell* t) {
    for (const char* n : drawn_types)
        if (word_is(t, n)) return true;
    return false;
}

Cell* state_block(const Cell* face) {
    Cell* s = face_facet(face, facet::state);
    return s && s->is(Type::block) ? s : nullptr;
}

std::string text_of(const Cell* c) {
    if (!c || !string::family_q(c->type())) return {};
    return string::to_utf8(c);
}

void delete_view(gpointer p) { delete static_cast<View*>(p); }

// A destroyed widget takes its view out of reach at once, whatever destroyed it.
void on_destroy(GtkWidget*, gpointer data) {
    auto* v = static_cast<View*>(data);
    if (v->timer) g_source_remove(v->timer), v->timer = 0;
    if (v->settle) g_source_remove(v->settle), v->settle = 0;
    if (v->handle) forget_view(v->handle), handle::leave(v->handle), v->handle = 0;
    if (v->slot) slots::free(v->slot), v->slot = 0;
    if (v->im) g_object_unref(v->im), v->im = nullptr, composing = false;
    if (v->cursor) g_object_unref(v->cursor), v->cursor = nullptr;
}

// The cursor goes on the view's native window and on the windows of the control inside it (an
// entry's text area sets its own otherwise); the windows of child views keep theirs.
void cursor_on(GdkWindow* g, View* v) {
    gdk_window_set_cursor(g, v->cursor);
    if (!v->cursor) return;  // without a cursor of the face's own, a control keeps its own
    for (GList* l = gdk_window_peek_children(g); l; l = l->next) {
        GdkWindow* c = GDK_WINDOW(l->data);
        GtkWidget* owner = nullptr;
        gdk_window_get_user_data(c, reinterpret_cast<gpointer*>(&owner));
        if (owner && view_of_widget(owner) == v) cursor_on(c, v);
    }
}

void apply_cursor(View* v) {
    GtkWidget* w = v->kind == Kind::window ? v->container : v->widget;
    if (GdkWindow* g = gtk_widget_get_window(w)) cursor_on(g, v);
}

void on_realize(GtkWidget*, gpointer data) { apply_cursor(static_cast<View*>(data)); }

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }  // closing is the language's

// A view inside a window took or lost the keyboard focus: the window's `selected` follows it,
// and the face hears of it.
gboolean on_focus(GtkWidget* w, GdkEventFocus* e, gpointer) {
    View* v = view_of_widget(w);
    Cell* face = view_face(v);
    if (!face) return FALSE;
    uint32_t h = v->handle;
    if (e->in) {
        if (Cell* top = view_face(top_view(v))) {
            Cell f = *face;
            if (Cell* sel = face_facet(top, facet::selected)) *sel = f;
        }
    }
    Message m = fallback_message(h);
    make_event(&m, 0, e->in ? type::focus : type::unfocus);
    return FALSE;
}

constexpr GdkEventMask view_events = GdkEventMask(
    GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK |
    GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_ENTER_NOTIFY_MASK |
    GDK_LEAVE_NOTIFY_MASK | GDK_FOCUS_CHANGE_MASK | GDK_STRUCTURE_MASK | GDK_TOUCHPAD_GESTURE_MASK);

View* attach(GtkWidget* w, Kind kind) {
    auto* v = new View;
    v->kind = kind;
    v->widget = w;
    v->handle = handle::enter(reinterpret_cast<uintptr_t>(v));
    g_object_set_data_full(G_OBJECT(w), view_key, v, delete_view);
    g_signal_connect(w, "destroy", G_CALLBACK(on_destroy), v);
    return v;
}

}  // namespace

// A container of child views that is exactly as large as its face says: a plain fixed
// container would grow to hold children that reach past its edges, where a face clips them.
struct ZuvSurface {
    GtkFixed parent;
};
struct ZuvSurfaceClass {
    GtkFixedClass parent_class;
};
G_DEFINE_TYPE(ZuvSurface, zuv_surface, GTK_TYPE_FIXED)

namespace {
void no_natural_size(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 0; }
}  // namespace

static void zuv_surface_class_init(ZuvSurfaceClass* k) {
    GTK_WIDGET_CLASS(k)->get_preferred_width = no_natural_size;
    GTK_WIDGET_CLASS(k)->get_preferred_height = no_natural_size;
}
static void zuv_surface_init(ZuvSurface*) {}

namespace {

// A container of child views with its own native window, painted by the backend.
GtkWidget* new_surface() {
    GtkWidget* f = GTK_WIDGET(g_object_new(zuv_surface_get_type(), nullptr));
    gtk_widget_set_has_window(f, TRUE);
    gtk_widget_set_app_paintable(f, TRUE);
    gtk_widget_add_events(f, view_events);
    g_signal_connect(f, "draw", G_CALLBACK(paint_view), nullptr);
    return f;
}

GtkWidget* parent_container(View* parent) {
    return parent && parent->container && GTK_IS_FIXED(parent->container) ? parent->container : nullptr;
}

bool color_tuple(const Cell* face, uint32_t* color) {
    Cell* c = face_facet(face, facet::color);
    if (!c || !c->is(Type::tuple)) return false;
    *color = tuple_to_color(c);
    return true;
}

// Transparent: no colour, or a colour with transparency.
bool transparent(const Cell* face) {
    uint32_t c;
    return !color_tuple(face, &c) || (c >> 24) != 0;
}

void size_of(const Cell* face, double* w, double* h, bool* as_pair) {
    *w = *h = 0;
    *as_pair = false;
    Cell* s = face_facet(face, facet::size);
    if (s) {
        planar(s, w, h);
        *as_pair = s->is(Type::pair);
    }
}

void offset_of(Cell* face, double* x, double* y) {
    *x = *y = 0;
    Cell* o = face_facet(face, facet::offset);
    if (!o) return;
    if (o->is(Type::pair)) pair::to_point2D_at(o);  // offsets are kept as points once made
    planar(o, x, y);
}

void apply_window_flags(View* v, const Cell* face) {
    GtkWindow* w = GTK_WINDOW(v->widget);
    uint32_t f = v->flags;
    gtk_window_set_decorated(w, !(f & (flag::no_title | flag::no_border)));
    gtk_window_set_resizable(w, (f & flag::resize) != 0);
    gtk_window_set_type_hint(w, (f & flag::popup) ? GDK_WINDOW_TYPE_HINT_UTILITY : GDK_WINDOW_TYPE_HINT_NORMAL);
    gtk_window_set_deletable(w, !(f & flag::no_buttons));
    if (f & flag::fullscreen) gtk_window_fullscreen(w);
    // A borderless window with a translucent colour is painted with per-pixel alpha.
    uint32_t c = 0;
    bool translucent = (f & flag::no_border) && color_tuple(face, &c) && (c >> 24) != 0;
    if (translucent && !v->layered && !gtk_widget_get_realized(v->widget)) {
        GdkScreen* screen = gtk_widget_get_screen(v->widget);
        if (GdkVisual* rgba = gdk_screen_get_rgba_visual(screen); rgba && gdk_screen_is_composited(screen)) {
            gtk_widget_set_visual(v->widget, rgba);
            v->layered = true;
        }
        gtk_widget_set_app_paintable(v->widget, TRUE);
    }
}

void set_window_size(View* v, double w, double h) {
    int dw = to_device(w), dh = to_device(h);
    if (v->flags & flag::resize) {
        gtk_widget_set_size_request(v->container, -1, -1);
        dh += menu_bar_height(v);  // the face's size is the client area's, below the bar
        gtk_window_resize(GTK_WINDOW(v->widget), dw > 0 ? dw : 1, dh > 0 ? dh : 1);
    } else {
        gtk_widget_set_size_request(v->container, dw, dh);
        gtk_window_resize(GTK_WINDOW(v->widget), dw > 0 ? dw : 1, dh > 0 ? dh : 1);
    }
}

// A cursor drawn from an image: its pixels, with the pointer's hot spot at its centre as an
// icon has it. Null (and one line said) for an image that no cursor can be made of.
GdkCursor* cursor_of_image(const Cell* img) {
    int32_t w = image::width(img), h = image::height(img);
    const uint32_t* px = image::pixels(img);
    if (w <= 0 || h <= 0 || !px) {
        report_failure("no cursor can be made of an empty image");
        return nullptr;
    }
    GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
    if (!pb) {
        report_failure("gdk_pixbuf_new failed!");
        return nullptr;
    }
    guchar* out = gdk_pixbuf_get_pixels(pb);
    int stride = gdk_pixbuf_get_rowstride(pb);
    for (int32_t y = 0; y < h; ++y) {
        guchar* row = out + y * stride;
        for (int32_t x = 0; x < w; ++x) {
            uint32_t p = px[y * w + x];  // 0xAARRGGBB, straight alpha
            row[4 * x] = (p >> 16) & 0xFF;
            row[4 * x + 1] = (p >> 8) & 0xFF;
            row[4 * x + 2] = p & 0xFF;
            row[4 * x + 3] = p >> 24;
        }
    }
    GdkCursor* c = gdk_cursor_new_from_pixbuf(gdk_display_get_default(), pb, w / 2, h / 2);
    g_object_unref(pb);
    if (!c) report_failure("gdk_cursor_new_from_pixbuf failed!");
    return c;
}

void set_options(View* v, const Cell* face) {
    if (v->cursor) g_object_unref(v->cursor), v->cursor = nullptr;
    Cell* o = face_facet(face, facet::options);
    Cell b = o ? *o : Cell{};
    int32_t n = o && o->is(Type::block) ? series::length(&b) : 0;
    if (n % 2) n = 0;  // not key-value pairs: no cursor of its own, the parent's shows
    for (int32_t i = 0; i + 1 < n; i += 2) {
        Cell k = *(block::head(&b) + i), val = *(block::head(&b) + i + 1);
        if (!(k.is(Type::set_word) || k.is(Type::word)) ||
            symbol::resolve(word::symbol_of(&k)) != symbol::resolve(symbol::make("cursor")))
            continue;
        if (val.is(Type::image)) {
            if (v->cursor) g_object_unref(v->cursor), v->cursor = nullptr;
            v->cursor = cursor_of_image(&val);
            continue;
        }
        const char* name = "default";
        if (word_is(&val, "I-beam")) name = "text";
        else if (word_is(&val, "hand")) name = "pointer";
        else if (word_is(&val, "cross")) name = "crosshair";
        else if (word_is(&val, "resize-ns")) name = "ns-resize";
        else if (word_is(&val, "resize-ew") || word_is(&val, "resize-we")) name = "ew-resize";
        if (v->cursor) g_object_unref(v->cursor);
        v->cursor = gdk_cursor_new_from_name(gdk_display_get_default(), name);
        if (!v->cursor) report_failure("gdk_cursor_new_from_name failed!");
    }
    apply_cursor(v);
}

gboolean on_timer(gpointer data) {
    View* v = view_of_handle(GPOINTER_TO_UINT(data));
    if (!v || !v->slot) return G_SOURCE_REMOVE;
    Message m = fallback_message(v->handle);
    make_event(&m, 0, type::time);
    return G_SOURCE_CONTINUE;
}

// Restacks the children in pane order: the last one is on top. GTK paints a container's
// children in its own list order, so children out of order are taken out and put back.
void restack(const Cell* face) {
    View* v = view_of_handle(face_handle(face));
    Cell* p = face_facet(face, facet::pane);
    if (!v || !p || !p->is(Type::block) || !GTK_IS_FIXED(v->container)) return;
    Cell pane = *p;
    int32_t n = series::length(&pane);
    std::vector<GtkWidget*> wanted;
    for (int32_t i = 0; i < n; ++i) {
        View* c = view_of_handle(face_handle(block::head(&pane) + i));
        if (c && gtk_widget_get_parent(c->widget) == v->container) wanted.push_back(c->widget);
    }
    std::vector<GtkWidget*> now;
    GList* kids = gtk_container_get_children(GTK_CONTAINER(v->container));
    for (GList* l = kids; l; l = l->next)
        if (std::find(wanted.begin(), wanted.end(), GTK_WIDGET(l->data)) != wanted.end())
            now.push_back(GTK_WIDGET(l->data));
    g_list_free(kids);
    if (now == wanted) return;
    // From the first child out of place on, each goes to the end of the list in pane order.
    size_t first = 0;
    while (first < now.size() && now[first] == wanted[first]) ++first;
    for (size_t i = first; i < wanted.size(); ++i) to_top(v, wanted[i]);
    raise_bars(v);  // the face's own bars stay over its children
}

void move_view(View* v, Cell* face) {
    double x, y;
    offset_of(face, &x, &y);
    if (v->kind == Kind::window) {
        gtk_window_move(GTK_WINDOW(v->widget), to_device(x), to_device(y));
        return;
    }
    GtkWidget* parent = gtk_widget_get_parent(v->widget);
    if (parent && GTK_IS_FIXED(parent)) gtk_fixed_move(GTK_FIXED(parent), v->widget, to_device(x), to_device(y));
}

void resize_view(View* v, Cell* face) {
    double w, h;
    bool as_pair;
    size_of(face, &w, &h, &as_pair);
    v->kind_bits = as_pair ? (v->kind_bits | kind_bit::size_pair) : (v->kind_bits & ~kind_bit::size_pair);
    if (v->kind == Kind::window) set_window_size(v, w, h);
    else gtk_widget_set_size_request(v->widget, to_device(w), to_device(h));
    place_bars(v);
}

void show_view(View* v, const Cell* face) {
    Cell* vis = face_facet(face, facet::visible);
    bool on = vis && logic::truth(vis);
    if (v->kind == Kind::window) {
        if (on && !gtk_widget_get_visible(v->widget)) v->show_pending = true;
        if (on) gtk_widget_show(v->widget);
        else gtk_widget_hide(v->widget);
        return;
    }
    gtk_widget_set_visible(v->widget, on);
}

void focus_selected(View* v, const Cell* face) {
    Cell* s = face_facet(face, facet::selected);
    if (s && s->is(Type::object)) {
        if (View* f = view_of_handle(face_handle(s))) {
            GtkWidget* w = f->kind == Kind::window ? f->container : widgets::focus_widget(f);
            gtk_widget_set_can_focus(w, TRUE);
            // A field given the focus by the program keeps its text unselected.
            if (GTK_IS_ENTRY(w)) gtk_entry_grab_focus_without_selecting(GTK_ENTRY(w));
            else gtk_widget_grab_focus(w);
        }
    } else if (v->kind == Kind::window) {
        gtk_window_set_focus(GTK_WINDOW(v->widget), nullptr);
    }
}

// Unlinks a face from the `parent` block of its font or para object; a font that no face
// uses any more lets go of its native resources.
void unlink_sub(Cell* face, int32_t which) {
    Cell* sub = face_facet(face, which);
    if (!sub || !sub->is(Type::object)) return;
    Cell obj = *sub;
    Cell* parent = object::find_value(&obj, symbol::make("parent"));
    if (!parent || !parent->is(Type::block)) return;
    Cell blk = *parent;
    series::set_head(&blk, 0);  // readers start from the head
    Cell f = *face;
    block::remove_value(&blk, &f, true);
    if (which == facet::font && series::length(&blk) == 0) widgets::free_font(&obj);
}

// Frees what the backend holds for a face and for its pane, without closing anything.
void free_face(Cell* face_in) {
    Cell face = *face_in;
    View* v = view_of_handle(face_handle(&face));
    if (!v) return;
    if (v->timer) g_source_remove(v->timer), v->timer = 0;
    if (v->camera) camera_close(v);
    unlink_sub(&face, facet::font);
    unlink_sub(&face, facet::para);
    if (Cell* p = face_facet(&face, facet::pane); p && p->is(Type::block)) {
        Cell pane = *p;
        int32_t n = series::length(&pane);
        for (int32_t i = 0; i < n; ++i) {
            Cell child = *(block::head(&pane) + i);
            if (child.is(Type::object)) free_face(&child);
        }
    }
    if (v->kind == Kind::window) {
        v->freeing = true;
        if (Cell* s = face_facet(&face, facet::selected)) cell::make(s, Type::none);
    }
    if (v->slot) slots::free(v->slot), v->slot = 0;
    if (v->handle) forget_view(v->handle), handle::leave(v->handle), v->handle = 0;
    if (Cell* s = face_facet(&face, facet::state)) cell::make(s, Type::none);
}

GtkWidget* make_widget(Cell* face, Kind kind, View** out, View* parent) {
    GtkWidget* w = nullptr;
    View* v = nullptr;
    switch (kind) {
        case Kind::window: {
            w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            if (!w) return nullptr;
            v = attach(w, kind);
            v->container = new_surface();
            g_object_set_data(G_OBJECT(v->container), view_key, v);
            gtk_container_add(GTK_CONTAINER(w), v->container);
            gtk_widget_show(v->container);
            gtk_widget_add_events(w, view_events);
            g_signal_connect(w, "delete-event", G_CALLBACK(on_delete), nullptr);
            v->im = make_input_method(v);
            break;
        }
        case Kind::group_box: {
            w = gtk_frame_new(nullptr);
            v = attach(w, kind);
            v->container = new_surface();
            g_object_set_data(G_OBJECT(v->container), view_key, v);
            gtk_container_add(GTK_CONTAINER(w), v->container);
            gtk_widget_show(v->container);
            break;
        }
        default: {
            if (camera_q(face_facet(face, facet::type))) {
                w = camera_widget();
                v = attach(w, kind);
                break;
            }
            if (auto native = widgets::widget_of(face_facet(face, facet::type)); native != widgets::Widget::none) {
                w = widgets::make(face, native);
                v = attach(w, kind);
                v->container = widgets::container_of(w);
                break;
            }
            w = new_surface();
            v = attach(w, kind);
            v->container = w;
            break;
        }
    }
    (void)parent;
    *out = v;
    return w;
}

}  // namespace

// ---- lookups -------------------------------------------------------------------------------------

View* view_of_widget(GtkWidget* w) {
    for (; w; w = gtk_widget_get_parent(w)) {
        if (auto* v = static_cast<View*>(g_object_get_data(G_OBJECT(w), view_key))) return v->handle ? v : nullptr;
    }
    return nullptr;
}

View* view_of_handle(uint32_t h) {
    if (!h) return nullptr;
    auto* v = reinterpret_cast<View*>(handle::object(h));
    return v && v->handle == h ? v : nullptr;
}

Cell* view_face(const View* v) {
    if (!v || !v->slot) return nullptr;
    Cell* f = slots::get(v->slot);
    return f && f->is(Type::object) ? f : nullptr;
}

View* top_view(View* v) {
    if (!v) return nullptr;
    GtkWidget* top = gtk_widget_get_toplevel(v->widget);
    if (View* t = top ? view_of_widget(top) : nullptr) return t;
    return v;
}

uint32_t face_handle(const Cell* face) {
    Cell* s = state_block(face);
    if (!s) return 0;
    Cell b = *s;
    if (series::length(&b) < 1) return 0;
    Cell* h = block::head(&b);
    // A screen face holds its monitor's handle there, which names no view.
    return h->is(Type::handle) && handle::subtype_of(h) == handle::subtype::window ? handle::value_of(h) : 0;
}

// ---- creation ------------------------------------------------------------------------------------

uint32_t make_ridi(Cell* face, uint32_t parent_handle) {
    if (!available()) {
        Cell t = *face_facet(face, facet::type);
        error::raise(error::id::script_face_type, &t);
    }
    Cell* type = face_facet(face, facet::type);
    if (!type) {
        Cell none;
        cell::make(&none, Type::none);
        error::raise(error::id::script_face_type, &none);
    }
    Kind kind = kind_of_word(type);
    if (kind == Kind::other && !known_drawn_type(type)) {
        Cell t = *type;
        error::raise(error::id::script_face_type, &t);
    }
    // A page of a tab panel takes the panel's page area before it is placed.
    if (View* tabs = view_of_handle(parent_handle); tabs && kind == Kind::panel) widgets::place_tab_page(face, tabs);
    Cell* flags = face_facet(face, facet::flags);
    uint32_t mask = flags ? get_flags(flags) : 0;
    double x, y, w, h;
    bool as_pair;
    offset_of(face, &x, &y);
    size_of(face, &w, &h, &as_pair);
    View* parent = view_of_handle(parent_handle);
    View* v = nullptr;
    GtkWidget* widget = make_widget(face, kind, &v, parent);
    if (!widget) {
        report_failure("gtk_window_new failed!");
        return 0;
    }
    v->flags = mask;
    v->kind_bits = as_pair ? kind_bit::size_pair : 0;
    Cell f = *face;
    v->slot = slots::alloc(&f);
    face = slots::get(v->slot);  // the slot's copy stays put while the view lives
    if (kind == Kind::window) {
        if (w < 0 || h < 0) w = h = 200;
        apply_window_flags(v, face);
        std::string title = text_of(face_facet(face, facet::text));
        gtk_window_set_title(GTK_WINDOW(widget), title.c_str());
        set_menu_bar(v, face);
        set_window_size(v, w, h);
        gtk_window_move(GTK_WINDOW(widget), to_device(x), to_device(y));
        if (mask & flag::modal) {
            gtk_window_set_modal(GTK_WINDOW(widget), TRUE);
            GList* tops = gtk_window_list_toplevels();
            for (GList* l = tops; l; l = l->next)
                if (l->data != widget && gtk_window_is_active(GTK_WINDOW(l->data)))
                    gtk_window_set_transient_for(GTK_WINDOW(widget), GTK_WINDOW(l->data));
            g_list_free(tops);
        }
        gtk_widget_realize(widget);
        // Where the window is now: only a configure that changes it is a move or resize.
        v->last_x = to_device(x), v->last_y = to_device(y);
        v->last_w = to_device(w), v->last_h = to_device(h);
        if (v->im) gtk_im_context_set_client_window(v->im, gtk_widget_get_window(widget));
    } else {
        GtkWidget* into = parent_container(parent);
        if (!into) {
            report_failure("a face needs a parent view to be made in");
            gtk_widget_destroy(widget);
            return 0;
        }
        gtk_widget_set_size_request(widget, to_device(w), to_device(h));
        gtk_fixed_put(GTK_FIXED(into), widget, to_device(x), to_device(y));
        if (parent->bars[0]) raise_bars(parent);
        if (kind == Kind::group_box) {
            std::string text = text_of(face_facet(face, facet::text));
            gtk_frame_set_label(GTK_FRAME(widget), text.empty() ? nullptr : text.c_str());
        }
        Cell* en = face_facet(face, facet::enabled);
        if (en && en->is(Type::logic) && !logic::get(en)) gtk_widget_set_sensitive(widget, FALSE);
        // A native control takes the keyboard itself, whatever the face's flags say.
        GtkWidget* keys = widgets::focus_widget(v);
        if ((mask & flag::focusable) && keys == widget) gtk_widget_set_can_focus(widget, TRUE);
        g_signal_connect(keys, "focus-in-event", G_CALLBACK(on_focus), nullptr);
        g_signal_connect(keys, "focus-out-event", G_CALLBACK(on_focus), nullptr);
        // A face of the backend's own that asks to be scrollable gets bars; native controls
        // scroll by themselves.
        if ((mask & flag::scrollable) && v->container == widget && kind != Kind::group_box) make_bars(v);
        show_view(v, face);
    }
    g_signal_connect(kind == Kind::window ? v->container : widget, "realize", G_CALLBACK(on_realize), v);
    // A control sets its own cursor when it is realised, after its holder: the face's comes again.
    if (GtkWidget* keys = widgets::focus_widget(v); keys != widget)
        g_signal_connect_after(keys, "realize", G_CALLBACK(on_realize), v);
    set_options(v, face);
    widgets::link_font(face);
    widgets::complete(v, face);
    if (camera_q(face_facet(face, facet::type))) camera_open(v, face);
    Cell* rate = face_facet(face, facet::rate);
    if (rate && !rate->is(Type::none)) start_timer(v, rate);
    return v->handle;
}

// ---- timers --------------------------------------------------------------------------------------

void start_timer(View* v, const Cell* rate) {
    guint interval = 0;
    if (rate->is(Type::integer) && integer::get(rate) >= 1) {
        interval = static_cast<guint>(1000 / rate->int2());
    } else if (rate->is(Type::time) && rate->float23() > 0) {
        // time! counts seconds as a float in its data words
        interval = static_cast<guint>(rate->float23() * 1000.0);
    } else if (!rate->is(Type::none)) {
        Cell r = *rate;
        error::raise(error::id::script_invalid_facet_type, &r);
    }
    if (v->timer) g_source_remove(v->timer), v->timer = 0;
    if (interval || rate->is(Type::integer) || rate->is(Type::time)) {
        v->timer = g_timeout_add(interval, on_timer, GUINT_TO_POINTER(v->handle));
        // A handler that runs a nested loop still gets its ticks there.
        if (GSource* src = g_main_context_find_source_by_id(nullptr, v->timer)) g_source_set_can_recurse(src, TRUE);
    }
}

// ---- updates -------------------------------------------------------------------------------------

namespace {

constexpr int32_t update_order[] = {facet::offset, facet::size,    facet::text,  facet::data,  facet::enabled,
                                    facet::visible, facet::selected, facet::flags, facet::draw,  facet::color,
                                    facet::pane,   facet::rate,     facet::font,  facet::para,  facet::menu,
                                    facet::image,  facet::options};

void apply(View* v, Cell* face, int32_t which) {
    switch (which) {
        case facet::offset: move_view(v, face); break;
        case facet::size: resize_view(v, face); break;
        case facet::text:
            if (v->kind == Kind::window) {
                std::string t = text_of(face_facet(face, facet::text));
                gtk_window_set_title(GTK_WINDOW(v->widget), t.c_str());
                if (v->layered) gtk_widget_queue_draw(v->container);
            } else if (v->kind == Kind::group_box) {
                std::string t = text_of(face_facet(face, facet::text));
                gtk_frame_set_label(GTK_FRAME(v->widget), t.empty() ? nullptr : t.c_str());
            } else {
                gtk_widget_queue_draw(v->widget);
            }
            break;
        case facet::data:
            if (v->container) gtk_widget_queue_draw(v->container);
            break;
        case facet::enabled: {
            Cell* e = face_facet(face, facet::enabled);
            gtk_widget_set_sensitive(v->widget, !(e && e->is(Type::logic) && !logic::get(e)));
            break;
        }
        case facet::visible: show_view(v, face); break;
        case facet::selected: focus_selected(v, face); break;
        case facet::flags: {
            Cell* f = face_facet(face, facet::flags);
            v->flags = f ? get_flags(f) : 0;
            if (v->kind != Kind::window && widgets::focus_widget(v) == v->widget)
                gtk_widget_set_can_focus(v->widget, (v->flags & flag::focusable) != 0);
            if (v->kind == Kind::window) apply_window_flags(v, face);
            break;
        }
        case facet::draw: case facet::color: case facet::font: case facet::para: case facet::image:
            if (which == facet::font) widgets::link_font(face);
            gtk_widget_queue_draw(v->kind == Kind::window ? v->container : v->widget);
            break;
        case facet::pane: restack(face); break;
        case facet::rate: {
            Cell r = *face_facet(face, facet::rate);
            if (r.is(Type::none)) {
                if (v->timer) g_source_remove(v->timer), v->timer = 0;
            } else {
                start_timer(v, &r);
            }
            break;
        }
        case facet::menu: set_menu_bar(v, face); break;
        case facet::options: set_options(v, face); break;
        default: break;
    }
    if (camera_q(face_facet(face, facet::type))) {
        if (which == facet::selected) camera_selected(v, face);
        else if (which == facet::image) camera_image(v, face);
    }
    widgets::apply(v, face, which);
}

}  // namespace

// ---- a new resolution ----------------------------------------------------------------------------

namespace {

// A face and its pane take their offsets and sizes again in device pixels at the new scale.
void relayout_face(Cell* face_in) {
    Cell face = *face_in;
    View* v = view_of_handle(face_handle(&face));
    if (!v) return;
    apply(v, &face, facet::offset);
    apply(v, &face, facet::size);  // a native control inside takes the new size too
    gtk_widget_queue_draw(v->kind == Kind::window ? v->container : v->widget);
    Cell* p = face_facet(&face, facet::pane);
    if (!p || !p->is(Type::block)) return;
    Cell pane = *p;
    int32_t n = series::length(&pane);
    for (int32_t i = 0; i < n; ++i) {
        Cell child = *(block::head(&pane) + i);
        if (child.is(Type::object)) relayout_face(&child);
    }
}

}  // namespace

void relayout_views() {
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next) {
        View* v = view_of_widget(GTK_WIDGET(l->data));
        if (Cell* face = v && v->kind == Kind::window ? view_face(v) : nullptr) relayout_face(face);
    }
    g_list_free(tops);
}

void update_ridi(Cell* face_in) {
    Cell face = *face_in;
    View* v = view_of_handle(face_handle(&face));
    if (!v) return;
    Cell* s = state_block(&face);
    Cell st = *s;
    if (series::length(&st) < 2) return;
    Cell* bits_cell = block::head(&st) + 1;
    uint32_t bits = bits_cell->is(Type::integer) ? static_cast<uint32_t>(integer::get(bits_cell)) : 0;
    integer::make_at(bits_cell, 0);
    uint32_t h = v->handle;
    try {
        for (int32_t which : update_order) {
            if (!(bits & (1u << which))) continue;
            if (!(v = view_of_handle(h))) return;  // a handler freed it
            apply(v, &face, which);
        }
    } catch (const runtime::Throw&) {
        // The bits not applied wait for the next update.
        if (Cell* s2 = state_block(&face)) {
            Cell b = *s2;
            if (series::length(&b) >= 2) {
                Cell* c = block::head(&b) + 1;
                if (c->is(Type::integer)) integer::set(c, integer::get(c) | static_cast<int32_t>(bits));
            }
        }
        throw;
    }
}

void update_views(Cell* faces) {
    Cell b = *faces;
    int32_t n = series::length(&b);
    // GTK applies every move and resize of this pass in the next frame, as one batch.
    for (int32_t i = 0; i < n; ++i) {
        Cell f = *(block::head(&b) + i);
        if (f.is(Type::object)) update_ridi(&f);
    }
}

void update_facet(Cell* owner, const Cell* word, const Cell* value, const Cell* action, const Cell*, int32_t index,
                  int32_t part) {
    Cell o = *owner;
    View* v = view_of_handle(face_handle(&o));
    if (!v) return;
    if (!word_is(word, "pane")) {
        if (word_is(word, "data") && widgets::update_data(v, &o, action, index, part)) return;
        if (Cell* s = state_block(&o)) {
            Cell b = *s;
            if (series::length(&b) >= 2) {
                Cell* c = block::head(&b) + 1;
                if (c->is(Type::integer)) integer::set(c, integer::get(c) | (1 << facet::data));
            }
        }
        update_ridi(&o);
        return;
    }
    bool detach = word_is(action, "remove") || word_is(action, "take") || word_is(action, "clear");
    bool attach_ = word_is(action, "inserted") || word_is(action, "poke") || word_is(action, "put") ||
                   word_is(action, "moved") || word_is(action, "changed");
    if (!detach && !attach_) return;
    if (detach) {
        // Removed faces are hidden at once; the language frees their views.
        Cell* p = face_facet(&o, facet::pane);
        (void)value;
        (void)index;
        (void)part;
        if (p && p->is(Type::block)) {
            // Hide every realised child that the pane no longer holds.
            GList* kids = gtk_container_get_children(GTK_CONTAINER(v->container));
            for (GList* l = kids; l; l = l->next) {
                View* c = view_of_widget(GTK_WIDGET(l->data));
                if (!c || c == v) continue;
                bool held = false;
                Cell pane = *p;
                int32_t n = series::length(&pane);
                for (int32_t i = 0; i < n && !held; ++i) held = face_handle(block::head(&pane) + i) == c->handle;
                if (!held) gtk_widget_hide(c->widget);
            }
            g_list_free(kids);
        }
        return;
    }
    Cell* p = face_facet(&o, facet::pane);
    if (!p || !p->is(Type::block)) return;
    Cell pane = *p;
    int32_t n = series::length(&pane);
    for (int32_t i = 0; i < n; ++i) {
        Cell child = *(block::head(&pane) + i);
        View* c = view_of_handle(face_handle(&child));
        if (!c || c->kind == Kind::window) continue;
        GtkWidget* from = gtk_widget_get_parent(c->widget);
        if (from != v->container) {
            double x, y;
            offset_of(&child, &x, &y);
            g_object_ref(c->widget);
            if (from) gtk_container_remove(GTK_CONTAINER(from), c->widget);
            gtk_fixed_put(GTK_FIXED(v->container), c->widget, to_device(x), to_device(y));
            g_object_unref(c->widget);
        }
        show_view(c, &child);
    }
    restack(&o);
}

// ---- destruction -----------------------------------------------------------------------------------

extern int32_t handler_depth;

void destroy_ridi(Cell* face_in, bool empty) {
    Cell face = *face_in;
    View* v = view_of_handle(face_handle(&face));
    if (!v) return;
    GtkWidget* w = v->widget;
    gtk_widget_hide(w);
    free_face(&face);
    // Destroying the top widget takes its children's widgets with it.
    gtk_widget_destroy(w);
    if (empty) {
        ++pending_quits;
        ++closed_loops;
        // Outside any handler nobody else will wake the loop that waits for the window.
        if (handler_depth == 0) post_quit();
    }
}

// ---- showing and painting ---------------------------------------------------------------------------

void show_window(uint32_t h) {
    View* v = view_of_handle(h);
    if (!v) return;
    if (!gtk_widget_get_visible(v->widget) || v->show_pending) {
        // A press held when another window shows is over for the base faces.
        v->show_pending = false;
    }
    gtk_widget_show(v->widget);
    if (GTK_IS_WINDOW(v->widget)) gtk_window_present(GTK_WINDOW(v->widget));
    if (Cell* face = view_face(v)) focus_selected(v, face);
}

void redraw(const Cell* face) {
    View* v = view_of_handle(face_handle(face));
    if (!v) return;
    GtkWidget* w = v->kind == Kind::window ? v->container : v->widget;
    gtk_widget_queue_draw(w);
    if (GdkWindow* g = gtk_widget_get_window(w)) gdk_window_process_updates(g, TRUE);
}

void refresh_window(uint32_t h) {
    View* v = view_of_handle(h);
    if (!v) return;
    if (GdkWindow* g = gtk_widget_get_window(v->widget)) gdk_window_process_updates(g, TRUE);
}

namespace {
bool painting = false;
}

// A face whose actors include on-drawing.
bool draws_itself(const Cell* face) {
    Cell* a = face_facet(face, facet::actors);
    if (!a || !a->is(Type::object)) return false;
    Cell actors = *a;
    Cell* f = object::find_value(&actors, symbol::make("on-drawing"));
    return f && (f->is(Type::function) || f->is(Type::routine) || f->is(Type::native));
}

gboolean paint_view(GtkWidget* widget, cairo_t* cr, gpointer) {
    View* v = view_of_widget(widget);
    Cell* face = view_face(v);
    if (!face || painting) return FALSE;
    Cell f = *face;
    painting = true;
    uint32_t hdl = v->handle;
    Cell* d = face_facet(&f, facet::draw);
    Cell cmds = d ? *d : Cell{};
    bool has_draw = d && cmds.is(Type::block);
    if (v->layered) {
        // A window with per-pixel alpha starts from nothing, not from the theme's background.
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    // Faces draw in logical pixels, inside their own bounds (a page over a tab panel's
    // header would otherwise paint over it).
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
    cairo_clip(cr);
    cairo_scale(cr, scale, scale);
    if (v->kind == Kind::window || v->kind == Kind::panel || v->kind == Kind::group_box) {
        uint32_t c = 0;
        if (color_tuple(&f, &c)) {
            cairo_save(cr);
            cairo_set_source_rgba(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0,
                                  1.0 - ((c >> 24) & 0xFF) / 255.0);
            cairo_paint(cr);
            cairo_restore(cr);
        }
        if (has_draw) draw::draw_on_cairo(cr, &cmds, true);
    } else {
        // Colour, image, text and draw block, as the drawing engine paints a face. A face
        // without an opaque colour is painted apart and laid over what is beneath it.
        Cell none_;
        cell::make(&none_, Type::none);
        bool see_through = transparent(&f);
        if (see_through) cairo_push_group(cr);
        draw::draw_face(cr, &f, has_draw ? &cmds : &none_, true);
        if (see_through) {
            cairo_pop_group_to_source(cr);
            cairo_paint(cr);
        }
    }
    if (!has_draw && draws_itself(&f) &&
        (v->kind == Kind::base || v->kind == Kind::rich_text || v->kind == Kind::window || v->kind == Kind::panel)) {
        // Without a draw block the face's on-drawing actor draws, through draw-face. Faces
        // without one get no drawing event: a window of many plain faces repaints without a
        // trip through the dispatch for each.
        v->draw_context = cr;
        Message m = fallback_message(hdl);
        cairo_save(cr);
        make_event(&m, 0, type::drawing);
        cairo_restore(cr);
        if (View* again = view_of_handle(hdl)) again->draw_context = nullptr;
    }
    cairo_restore(cr);
    painting = false;
    return FALSE;  // the children paint next
}

void draw_face(const Cell* face, const Cell* cmds) {
    View* v = view_of_handle(face_handle(face));
    if (!v || !v->draw_context || !cmds->is(Type::block)) return;
    Cell c = *cmds;
    draw::draw_on_cairo(static_cast<cairo_t*>(v->draw_context), &c, true);
}

}  // namespace zuv::gui
