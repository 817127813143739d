// Event translation: every GDK event passes the filter here before GTK sees it; mouse,
// keyboard, focus, window and gesture input become events (one reusable event! value per
// dispatch, handed to system/ridi/awake), and an event's fields are computed from the
// message only when the language reads them.
#include <cmath>

#include <gdk/gdkkeysyms.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/point.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"
#include "ridi/backend/gtk/menus.h"
#include "ridi/backend/gtk/widget-record.h"
#include "ridi/backend/gtk/widgets.h"
#include "ridi/platform.h"
#include "runtime/throw.h"

namespace zuv::gui {

Message* current = nullptr;
uint64_t filtered = 0;
int32_t handler_depth = 0;
int32_t forced_flags = -1;
int32_t last_key = -1;
uint32_t high_surrogate = 0;
uint32_t pressed_view = 0, released_view = 0;
bool sizing = false;
double gesture_start = -1;
bool composing = false;

namespace {

uint32_t next_serial = 1;
bool sending = false;  // a made event is going through the filter
uint32_t hover_view = 0;
int64_t last_move = -1;  // packed position of the last motion, -1 after a leave

// What the field readers need of a message beyond its record: the special key and the
// pending surrogate at the time its event was raised, kept per message so that a nested
// event cannot change them under the handler's feet.
struct Snapshot {
    uint32_t serial;
    int32_t last_key;
    uint32_t high_surrogate;
    GdkEvent* event;
};
Snapshot snap{0, -1, 0, nullptr};

Cell word_cell(const char* name) {
    Cell w;
    cell::make(&w, Type::word, context::global, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return w;
}

bool is_word(const Cell* c, const char* name) {
    return c->is(Type::word) && symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(name));
}

uint32_t button_flag(guint button) {
    switch (button) {
        case 1: return ev::down;
        case 2: return ev::mid_down;
        case 3: return ev::alt_down;
        case 8: case 9: return ev::aux_down;
        default: return 0;
    }
}

// The modifiers and buttons held: forced ones while a made key event goes through, else the
// state the event reports, in which a button counts as held from its press on and no more
// from its release on (GDK reports the state from before the event).
uint32_t event_flags(const Message* m) {
    if (forced_flags >= 0) return static_cast<uint32_t>(forced_flags);
    GdkModifierType s = GdkModifierType(0);
    if (!m->event) return 0;
    gdk_event_get_state(m->event, &s);
    uint32_t f = state_flags(s, false);
    switch (m->event->type) {
        case GDK_BUTTON_PRESS: case GDK_2BUTTON_PRESS: f |= button_flag(m->event->button.button); break;
        case GDK_BUTTON_RELEASE: f &= ~button_flag(m->event->button.button); break;
        default: break;
    }
    return f;
}

}  // namespace

void forget_view(uint32_t h) {
    if (hover_view == h) hover_view = 0;
    if (pressed_view == h) pressed_view = 0;
    if (released_view == h) released_view = 0;
    last_move = -1;
}

Message fallback_message(uint32_t target) {
    Message m;
    m.target = target;
    return m;
}

int32_t make_event(Message* msg, int32_t value, int32_t type) {
    uint32_t flags = 0;
    switch (type) {
        case type::over: flags = static_cast<uint32_t>(value); break;
        case type::key_down: case type::key_up: {
            flags = event_flags(msg) | static_cast<uint32_t>(value);
            break;
        }
        case type::key: {
            uint32_t c = static_cast<uint32_t>(value);
            uint32_t f = event_flags(msg);
            if (c >= 0x10000) {
                high_surrogate = c;
                f = 0;  // a supplementary character carries no modifier flags
            } else {
                high_surrogate = 0;
            }
            flags = c | f;
            break;
        }
        case type::select: flags = static_cast<uint32_t>(value + 1) & 0xFFFF; break;
        case type::change: case type::menu: flags = static_cast<uint32_t>(value) & 0xFFFF; break;
        case type::wheel: case type::dbl_click: case type::mid_up: case type::mid_down: case type::alt_up:
        case type::alt_down: case type::up: case type::down: case type::aux_down: case type::aux_up:
            flags = static_cast<uint32_t>(value) | event_flags(msg);
            break;
        case type::click: {
            flags = event_flags(msg) & (ev::control | ev::shift | ev::alt);
            break;
        }
        default: break;
    }
    if (!msg->serial) msg->serial = next_serial++;
    Message* saved_current = current;
    Snapshot saved_snap = snap;
    current = msg;
    snap = {msg->serial, last_key, high_surrogate, msg->event};
    Cell event;
    cell::make(&event, Type::event, static_cast<uint32_t>(type), msg->serial, flags);
    int32_t closed = closed_loops;
    ++handler_depth;
    Cell answer;
    bool tracing = interpreter::tracing;
    interpreter::tracing = false;  // a tracer does not step through the event dispatch
    ridi::awake(&event, &answer);
    interpreter::tracing = tracing;
    interpreter::pending = 0;
    --handler_depth;
    // One quit for the windows closed with their loops in this handler; inner handlers
    // announce their own, and the loops pass further ones on as they end.
    if (closed_loops > closed) post_quit();
    closed_loops = closed;
    current = saved_current;
    snap = saved_snap;
    if (is_word(&answer, "stop")) return 0;
    return 1;
}

// ---- the filter ----------------------------------------------------------------------------------

namespace {

GdkWindow* view_gdk_window(View* v) {
    GtkWidget* w = v->kind == Kind::window ? v->container : v->widget;
    return w ? gtk_widget_get_window(w) : nullptr;
}

// The pointer position of the event in the target view's window, device pixels.
bool point_in_view(GdkEvent* e, View* v, double* x, double* y) {
    GdkWindow* own = view_gdk_window(v);
    GdkWindow* w = e ? e->any.window : nullptr;
    double ex, ey;
    if (!own || !w || !gdk_event_get_coords(e, &ex, &ey)) return false;
    // Walk up from the event's window: no server round trip on the common path.
    while (w && w != own) {
        if (gdk_window_get_window_type(w) == GDK_WINDOW_TOPLEVEL || gdk_window_get_window_type(w) == GDK_WINDOW_TEMP)
            break;
        gdk_window_coords_to_parent(w, ex, ey, &ex, &ey);
        w = gdk_window_get_parent(w);
    }
    if (w != own) {
        double rx, ry;
        if (!gdk_event_get_root_coords(e, &rx, &ry)) return false;
        int ox = 0, oy = 0;
        gdk_window_get_origin(own, &ox, &oy);
        ex = rx - ox;
        ey = ry - oy;
    }
    *x = ex;
    *y = ey;
    return true;
}

int32_t button_type(guint button, bool press) {
    switch (button) {
        case 1: return press ? type::down : type::up;
        case 2: return press ? type::mid_down : type::mid_up;
        case 3: return press ? type::alt_down : type::alt_up;
        case 8: case 9: return press ? type::aux_down : type::aux_up;
        default: return 0;
    }
}

// The view keys go to: the focused widget's view in the window, else the window.
View* key_target(View* v) {
    View* top = top_view(v);
    if (top && GTK_IS_WINDOW(top->widget)) {
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top->widget));
        if (focus) {
            if (View* f = view_of_widget(focus)) return f;
        }
    }
    return top ? top : v;
}

int32_t key_down(GdkEventKey* k, Message* m, bool press) {
    int32_t special = special_key(k->keyval);
    last_key = special;
    uint32_t c = special >= 0 ? static_cast<uint32_t>(special) : key_char(k->keyval, k->hardware_keycode);
    uint32_t own = 0;  // a modifier key counts itself as held while it is down
    switch (special) {
        case 0xA0: case 0xA1: own = ev::shift; break;
        case 0xA2: case 0xA3: own = ev::control; break;
        case 0xA4: case 0xA5: own = ev::alt; break;
        default: break;
    }
    uint32_t saved = static_cast<uint32_t>(forced_flags);
    bool forced = forced_flags >= 0;
    if (!forced && own) {
        GdkModifierType s = GdkModifierType(k->state);
        uint32_t f = state_flags(s, false);
        forced_flags = static_cast<int32_t>(press ? (f | own) : (f & ~own));
    }
    // A character beyond 16 bits has no place in a key-down's flags: the key reads none.
    int32_t r = make_event(m, static_cast<int32_t>(c <= 0xFFFF ? c : 0), press ? type::key_down : type::key_up);
    if (!forced) forced_flags = -1;
    else forced_flags = static_cast<int32_t>(saved);
    return r;
}

// The character a key types (Enter, Tab, Backspace and Escape included), 0 for none.
uint32_t typed_char(guint keyval) {
    switch (keyval) {
        case GDK_KEY_BackSpace: return 8;
        case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return 9;
        case GDK_KEY_Return: case GDK_KEY_KP_Enter: return 13;
        case GDK_KEY_Escape: return 27;
        default: return gdk_keyval_to_unicode(keyval);
    }
}

// Characters of a committed text (typed, composed or from an input method) as key events.
void emit_text(Message* m, const char* utf8) {
    for (const char* p = utf8; p && *p; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char(p);
        last_key = -1;
        if (!view_of_handle(m->target)) return;  // the view went away in a handler
        make_event(m, static_cast<int32_t>(c), type::key);
    }
}

void on_commit(GtkIMContext*, const char* text, gpointer data) {
    auto target = static_cast<uint32_t>(GPOINTER_TO_UINT(data));
    Message m = current ? *current : fallback_message(target);
    m.serial = 0;
    m.target = current ? current->target : target;
    emit_text(&m, text);
}

// The composition opens, changes and closes: each change is an ime event whose picked is the
// text composed so far (empty when the composition was dropped); the committed text follows
// as key events.
void on_preedit_start(GtkIMContext*, gpointer) { composing = true; }
void on_preedit_end(GtkIMContext*, gpointer) { composing = false; }

void on_preedit_changed(GtkIMContext* im, gpointer data) {
    auto target = static_cast<uint32_t>(GPOINTER_TO_UINT(data));
    gchar* text = nullptr;
    gtk_im_context_get_preedit_string(im, &text, nullptr, nullptr);
    Message m = current ? *current : fallback_message(target);
    m.serial = 0;
    m.target = current ? current->target : target;
    m.text = text ? text : "";
    g_free(text);
    if (view_of_handle(m.target)) make_event(&m, 0, type::ime);
}

void window_configure(View* v, GdkEventConfigure* c, Message* m);

}  // namespace

// An input method context for a window's views; committed text becomes key events.
GtkIMContext* make_input_method(View* v) {
    GtkIMContext* im = gtk_im_multicontext_new();
    g_signal_connect(im, "commit", G_CALLBACK(on_commit), GUINT_TO_POINTER(v->handle));
    g_signal_connect(im, "preedit-start", G_CALLBACK(on_preedit_start), nullptr);
    g_signal_connect(im, "preedit-end", G_CALLBACK(on_preedit_end), nullptr);
    g_signal_connect(im, "preedit-changed", G_CALLBACK(on_preedit_changed), GUINT_TO_POINTER(v->handle));
    return im;
}

// Another client destroyed a window's native window: GDK has already let go of its widget, so
// the view is found among the toplevels that still hold that native window.
View* window_destroyed_outside(GdkWindow* gone) {
    View* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* i = all; i && !found; i = i->next) {
        View* v = view_of_widget(GTK_WIDGET(i->data));
        if (v && v->kind == Kind::window && gtk_widget_get_window(v->widget) == gone) found = v;
    }
    g_list_free(all);
    return found;
}

void filter_event(GdkEvent* e, gpointer) {
    ++filtered;
    GtkWidget* widget = nullptr;
    if (e->any.window) gdk_window_get_user_data(e->any.window, reinterpret_cast<gpointer*>(&widget));
    View* v = widget ? view_of_widget(widget) : nullptr;
    if (!widget && e->type == GDK_DESTROY) v = window_destroyed_outside(e->any.window);
    // A face's own scroll bars are not the face: they raise scroll events of their own.
    if (!v || !v->slot || (widget && (widget == v->bars[0] || widget == v->bars[1]))) {
        gtk_main_do_event(e);
        return;
    }
    Message m;
    m.event = e;
    m.target = v->handle;
    m.time = gdk_event_get_time(e);
    int32_t go = 1;
    uint32_t flags = event_flags(&m);
    switch (e->type) {
        case GDK_MOTION_NOTIFY: {
            double x = 0, y = 0;
            point_in_view(e, v, &x, &y);
            int64_t at = (static_cast<int64_t>(v->handle) << 40) ^ (static_cast<int64_t>(std::lround(y)) << 20) ^
                         static_cast<int64_t>(std::lround(x) & 0xFFFFF);
            if (at == last_move) {
                go = 0;  // the same position again: neither an event nor GTK's handling
                break;
            }
            last_move = at;

            if (gtk_widget_is_sensitive(v->widget) && (v->handle != hover_view || (v->flags & flag::all_over))) {
                hover_view = v->handle;
                make_event(&m, static_cast<int32_t>(flags), type::over);
            }
            hover_view = m.target;
            break;
        }
        case GDK_LEAVE_NOTIFY: {
            if (e->crossing.mode != GDK_CROSSING_NORMAL) break;
            if (e->any.window != view_gdk_window(v)) break;
            last_move = -1;
            if (hover_view == v->handle) hover_view = 0;
            make_event(&m, static_cast<int32_t>(flags | ev::away), type::over);
            break;
        }
        case GDK_ENTER_NOTIFY:
            last_move = -1;
            break;
        case GDK_SCROLL: {
            int32_t d = 0;
            switch (e->scroll.direction) {
                case GDK_SCROLL_UP: d = 120; break;
                case GDK_SCROLL_DOWN: d = -120; break;
                case GDK_SCROLL_SMOOTH: d = static_cast<int32_t>(std::lround(-e->scroll.delta_y * 120.0)); break;
                default: break;
            }
            if (!d) break;
            m.wheel = d;
            go = make_event(&m, static_cast<int32_t>(flags & (ev::down | ev::alt_down | ev::mid_down | ev::control |
                                                              ev::shift)),
                            type::wheel);
            break;
        }
        case GDK_BUTTON_PRESS: {
            int32_t t = button_type(e->button.button, true);
            if (!t) break;
            if (t == type::down) {
                pressed_view = v->handle;
                if (v->kind == Kind::base) ++v->capture;
            }
            uint32_t h = v->handle;
            go = make_event(&m, static_cast<int32_t>(flags), t);
            pressed_view = 0;
            // A right press offers the face's context menu; a shown menu takes the press.
            if (t == type::alt_down && !gtk_grab_get_current()) {
                View* again = view_of_handle(h);
                double x = 0, y = 0;
                if (again && point_in_view(e, again, &x, &y) && show_context_menu(again, e, x, y)) go = 0;
            }
            // A press on a focusable view gives it the keyboard.
            if (View* again = view_of_handle(h); go && again && again->kind != Kind::window &&
                                                 (again->flags & flag::focusable) &&
                                                 !gtk_widget_has_focus(widgets::focus_widget(again)))
                gtk_widget_grab_focus(widgets::focus_widget(again));
            break;
        }
        case GDK_2BUTTON_PRESS:
            // GDK has already reported this second press as a press of its own.
            if (e->button.button == 1) make_event(&m, static_cast<int32_t>(flags), type::dbl_click);
            break;
        case GDK_BUTTON_RELEASE: {
            int32_t t = button_type(e->button.button, false);
            if (!t) break;
            if (t == type::up) {
                released_view = v->handle;
                if (v->capture > 0) --v->capture;
            }
            go = make_event(&m, static_cast<int32_t>(flags), t);
            released_view = 0;
            break;
        }
        case GDK_KEY_PRESS: case GDK_KEY_RELEASE: {
            bool press = e->type == GDK_KEY_PRESS;
            // A made key event goes to its own face; a typed one to the focused view.
            View* k = sending ? v : key_target(v);
            m.target = k->handle;
            uint32_t target = k->handle;
            // While a composition is open the input method takes the keys: a press is no
            // key-down of its own (its release still is a key-up).
            if (press && composing) last_key = -1;
            else go = key_down(&e->key, &m, press);
            View* top = top_view(view_of_handle(target));
            if (!go || !top) break;
            // Our own views take text through the window's input method; native text
            // widgets have their own.
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top->widget));
            bool ours = !focus || (GTK_IS_FIXED(focus) && view_of_widget(focus));
            if (top->im && ours) {
                Message* saved = current;
                current = &m;  // committed text goes to this message's view
                bool taken = gtk_im_context_filter_keypress(top->im, &e->key);
                current = saved;
                if (taken) {
                    go = 0;  // the input method took it: its text came back through commit
                    break;
                }
            }
            if (press && last_key >= 0 && !modifier_key(last_key)) {
                if (view_of_handle(target)) go = make_event(&m, last_key, type::key);
            } else if (press && last_key < 0) {
                // What the input method left: control characters, keys with Control or Alt.
                uint32_t c = typed_char(e->key.keyval);
                if (c && view_of_handle(target)) go = make_event(&m, static_cast<int32_t>(c), type::key);
            }
            break;
        }
        case GDK_FOCUS_CHANGE:
            if (v->kind == Kind::window && e->any.window == gtk_widget_get_window(v->widget)) {
                if (e->focus_change.in && v->im) gtk_im_context_focus_in(v->im);
                else if (v->im) gtk_im_context_focus_out(v->im);
                make_event(&m, 0, e->focus_change.in ? type::focus : type::unfocus);
            }
            break;
        case GDK_CONFIGURE:
            if (v->kind == Kind::window && e->any.window == gtk_widget_get_window(v->widget))
                window_configure(v, &e->configure, &m);
            break;
        case GDK_DELETE:
        // The native window destroyed by another client: the face hears a close as if the user
        // had asked, so the language level unviews it and the loop waiting for it ends.
        case GDK_DESTROY:
            if (v->kind == Kind::window) {
                if (v->freeing) break;
                if (!make_event(&m, 0, type::close)) post_quit();
                go = 0;  // the language level closes windows itself
            }
            break;
        // Touchpad pinches and swipes are zoom, rotate and pan. GDK reports them from
        // Wayland's pointer gestures only; on X11 none come. No toolkit event stands for a
        // two-finger tap or a press-and-tap, so two-tap and press-tap are never raised here.
        case GDK_TOUCHPAD_PINCH: {
            auto& p = e->touchpad_pinch;
            if (p.phase == GDK_TOUCHPAD_GESTURE_PHASE_BEGIN || p.phase == GDK_TOUCHPAD_GESTURE_PHASE_END ||
                p.phase == GDK_TOUCHPAD_GESTURE_PHASE_CANCEL) {
                gesture_start = -1;
                break;
            }
            m.gesture = p.scale;
            make_event(&m, 0, type::zoom);
            if (p.angle_delta != 0 && view_of_handle(m.target)) {
                m.gesture = p.angle_delta * 180.0 / G_PI;
                make_event(&m, 0, type::rotate);
            }
            break;
        }
        case GDK_TOUCHPAD_SWIPE:
            if (e->touchpad_swipe.phase == GDK_TOUCHPAD_GESTURE_PHASE_UPDATE) {
                m.gesture = e->touchpad_swipe.dy != 0 ? e->touchpad_swipe.dy : e->touchpad_swipe.dx;
                make_event(&m, 0, type::pan);
            }
            break;
        default:
            break;
    }
    if (go >= 1) {
        Message* saved = current;
        current = &m;
        gtk_main_do_event(e);
        current = saved;
    }
}

// ---- moving and resizing windows --------------------------------------------------------------------

namespace {

void write_planar(Cell* slot, double x, double y, bool as_pair) {
    if (as_pair) pair::make_at(slot, static_cast<int32_t>(x), static_cast<int32_t>(y));
    else point2D::make_at(slot, static_cast<float>(x), static_cast<float>(y));
}

// Raises move or resize (or their -ing forms) after writing the facet, as a user's drag
// or a program's change reported it.
void raise_geometry(View* v, Message* m, int32_t t, double x, double y) {
    Cell* face = view_face(v);
    if (!face) return;
    int32_t which = (t == type::move || t == type::moving) ? facet::offset : facet::size;
    if (Cell* slot = face_facet(face, which)) {
        bool as_pair = which == facet::size && (v->kind_bits & kind_bit::size_pair);
        write_planar(slot, to_logical(x), to_logical(y), as_pair);
    }
    m->x = x;
    m->y = y;
    m->has_point = true;
    make_event(m, 0, t);
}

gboolean settle(gpointer data) {
    View* v = view_of_handle(GPOINTER_TO_UINT(data));
    if (!v) return G_SOURCE_REMOVE;
    v->settle = 0;
    sizing = false;
    Message m = fallback_message(v->handle);
    if (v->sizing_kind == type::moving) raise_geometry(v, &m, type::move, v->last_x, v->last_y);
    else if (v->sizing_kind == type::resizing) raise_geometry(v, &m, type::resize, v->last_w, v->last_h);
    v->sizing_kind = 0;
    return G_SOURCE_REMOVE;
}

void window_configure(View* v, GdkEventConfigure* c, Message* m) {
    // A configure while a pointer button is held is the user dragging the frame: the -ing
    // events come with each step and one more move or resize when the drag settles.
    GdkDisplay* d = gdk_window_get_display(c->window);
    GdkSeat* seat = gdk_display_get_default_seat(d);
    GdkModifierType s = GdkModifierType(0);
    if (GdkDevice* p = seat ? gdk_seat_get_pointer(seat) : nullptr)
        gdk_device_get_state(p, c->window, nullptr, &s);
    bool dragging = (s & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK)) != 0;
    int rx = c->x, ry = c->y;
    gdk_window_get_root_origin(c->window, &rx, &ry);  // the frame's position
    int ox = rx, oy = ry;
    gdk_window_get_origin(c->window, &ox, &oy);  // the client area's
    v->frame_x = ox - rx;
    v->frame_y = oy - ry;
    bool moved = rx != v->last_x || ry != v->last_y;
    int32_t height = c->height - menu_bar_height(v);  // the client area is below the menu bar
    bool resized = c->width != v->last_w || height != v->last_h;
    v->last_x = rx;
    v->last_y = ry;
    v->last_w = c->width;
    v->last_h = height;
    uint32_t h = v->handle;
    if (moved) {
        if (dragging) {
            sizing = true;
            v->sizing_kind = type::moving;
            raise_geometry(v, m, type::moving, rx, ry);
            if (!(v = view_of_handle(h))) return;
        }
        raise_geometry(v, m, type::move, rx, ry);
        if (!(v = view_of_handle(h))) return;
    }
    if (resized) {
        if (dragging) {
            sizing = true;
            v->sizing_kind = type::resizing;
            raise_geometry(v, m, type::resizing, c->width, height);
            if (!(v = view_of_handle(h))) return;
        }
        raise_geometry(v, m, type::resize, c->width, height);
        if (!(v = view_of_handle(h))) return;
    }
    if (dragging) {
        if (v->settle) g_source_remove(v->settle);
        v->settle = g_timeout_add(250, settle, GUINT_TO_POINTER(h));
    }
}

}  // namespace

// ---- the field readers -------------------------------------------------------------------------------

namespace {

// The 1-based row of a text-list under a point of its view (device pixels), 0 for none.
int32_t list_item_at(View* v, double x, double y) {
    widgets::Record* r = widgets::record_of(v);
    if (!r || r->widget != widgets::Widget::text_list || !GTK_IS_TREE_VIEW(r->inner)) return 0;
    int tx = 0, ty = 0, bx = 0, by = 0;
    if (!gtk_widget_translate_coordinates(v->widget, r->inner, static_cast<int>(x), static_cast<int>(y), &tx, &ty))
        return 0;
    gtk_tree_view_convert_widget_to_bin_window_coords(GTK_TREE_VIEW(r->inner), tx, ty, &bx, &by);
    GtkTreePath* path = nullptr;
    if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(r->inner), bx, by, &path, nullptr, nullptr, nullptr)) return 0;
    int32_t row = gtk_tree_path_get_depth(path) > 0 ? gtk_tree_path_get_indices(path)[0] + 1 : 0;
    gtk_tree_path_free(path);
    return row;
}

void face_of_view(View* v, Cell* out) {
    Cell* f = v ? view_face(v) : nullptr;
    if (f) *out = *f;
    else cell::make(out, Type::none);
}

}  // namespace

void event_field(const Cell* event, int32_t code, Cell* out) {
    cell::make(out, Type::none);
    // Fields of a message that is no longer being handled read as none.
    if (!current || event::message_of(event) != current->serial || snap.serial != current->serial) return;
    Message* m = current;
    int32_t t = event::type_of(event);
    uint32_t flags = event::flags_of(event);
    View* v = view_of_handle(m->target);
    switch (code) {
        case 2: face_of_view(v, out); break;
        case 3: face_of_view(v ? top_view(v) : nullptr, out); break;
        case 4: {  // offset
            double x = 0, y = 0;
            bool got = false;
            if (t == type::move || t == type::resize || t == type::moving || t == type::resizing) {
                x = m->x, y = m->y, got = m->has_point;
                if (got && (t == type::resize || t == type::resizing) && v && (v->kind_bits & kind_bit::size_pair)) {
                    pair::make_at(out, static_cast<int32_t>(to_logical(x)), static_cast<int32_t>(to_logical(y)));
                    return;
                }
            } else if (t == type::menu) {
                x = m->x, y = m->y, got = m->has_point;  // where the context menu was asked for
            } else if (v && ((t >= 1 && t <= 12) || (t >= 13 && t <= 15) || (t >= 20 && t <= 24))) {
                got = m->has_point ? (x = m->x, y = m->y, true) : point_in_view(m->event, v, &x, &y);
                if (!got) {
                    // Key events and made messages: where the pointer is over the view.
                    GdkWindow* w = view_gdk_window(v);
                    GdkSeat* seat = w ? gdk_display_get_default_seat(gdk_window_get_display(w)) : nullptr;
                    if (GdkDevice* p = seat ? gdk_seat_get_pointer(seat) : nullptr) {
                        gdk_window_get_device_position_double(w, p, &x, &y, nullptr);
                        got = true;
                    }
                }
            }
            if (got) point2D::make_at(out, static_cast<float>(to_logical(x)), static_cast<float>(to_logical(y)));
            break;
        }
        case 5: {  // key
            if (t == type::key || t == type::key_down || t == type::key_up) {
                if (snap.last_key == -1) {
                    uint32_t c = (t == type::key && snap.high_surrogate >= 0x10000) ? flags : (flags & 0xFFFF);
                    if (c) cell::make(out, Type::char_, 0, c);
                } else if (const char* w = key_word(snap.last_key)) {
                    *out = word_cell(w);
                } else if (t != type::key && (flags & 0xFFFF)) {
                    cell::make(out, Type::char_, 0, flags & 0xFFFF);
                }
            } else if (t == type::wheel) {
                *out = word_cell("wheel");
            } else if (t == type::scroll) {
                static const char* const vertical[] = {"up", "down", "page-up", "page-down", "end", "track"};
                static const char* const horizontal[] = {"left", "right", "page-left", "page-right", "end", "track"};
                int32_t r = m->request >= 0 && m->request <= 5 ? m->request : 4;
                *out = word_cell(m->vertical ? vertical[r] : horizontal[r]);
            }
            break;
        }
        case 6: {  // picked
            switch (t) {
                case type::down: case type::mid_down: case type::alt_down: case type::aux_down: case type::dbl_click: {
                    // The 1-based item of a list under the pointer; none elsewhere.
                    double x = 0, y = 0;
                    int32_t item = v && point_in_view(m->event, v, &x, &y) ? list_item_at(v, x, y) : 0;
                    if (item > 0) cell::make(out, Type::integer, 0, static_cast<uint32_t>(item));
                    break;
                }
                case type::wheel: {
                    int32_t d = m->wheel;
                    if (d < -24000) d += 30720;
                    else if (d > 24000) d -= 30720;
                    float_::make_at(out, d / 120.0);
                    break;
                }
                case type::zoom: {
                    if (gesture_start < 0) {
                        gesture_start = m->gesture;
                        break;
                    }
                    double start = gesture_start;
                    gesture_start = m->gesture;
                    if (start != 0) percent::make_at(out, (m->gesture - start) / start + 1.0);
                    break;
                }
                case type::ime:
                    string::load_at(out, reinterpret_cast<const uint8_t*>(m->text.data()), m->text.size(), 0);
                    break;
                case type::menu:
                    // The item's word: its whole symbol travels with the message.
                    if ((flags & 0xFFFF) != 0xFFFF && m->picked > 0)
                        cell::make(out, Type::word, context::global, static_cast<uint32_t>(m->picked),
                                   static_cast<uint32_t>(-1));
                    break;
                case type::scroll:  // where the bar's thumb is
                    cell::make(out, Type::integer, 0, static_cast<uint32_t>(m->picked));
                    break;
                case type::pan: case type::rotate: case type::two_tap: case type::press_tap:
                    integer::make_at(out, static_cast<int32_t>(std::lround(m->gesture)));
                    out->header = static_cast<uint32_t>(Type::integer);
                    break;
                default:
                    cell::make(out, Type::integer, 0, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(flags & 0xFFFF))));
                    break;
            }
            break;
        }
        case 15:  // orientation: only scroll bars have one
            if (t == type::scroll) *out = word_cell(m->vertical ? "vertical" : "horizontal");
            break;
        default:
            break;
    }
}

// ---- made events back into native input ------------------------------------------------------------

namespace {

// The deepest native window under a point of a view's window that still belongs to the view
// (a control's own windows, such as a button's input window or a list's rows), with the point
// made relative to it: a made press lands where the user's would.
GdkWindow* window_at(View* v, GdkWindow* w, double* x, double* y) {
    for (GList* l = gdk_window_peek_children(w); l; l = l->next) {
        GdkWindow* c = GDK_WINDOW(l->data);
        if (!gdk_window_is_visible(c)) continue;
        GtkWidget* owner = nullptr;
        gdk_window_get_user_data(c, reinterpret_cast<gpointer*>(&owner));
        if (!owner || view_of_widget(owner) != v) continue;
        int cx = 0, cy = 0;
        gdk_window_get_position(c, &cx, &cy);
        int cw = gdk_window_get_width(c), ch = gdk_window_get_height(c);
        if (*x < cx || *y < cy || *x >= cx + cw || *y >= cy + ch) continue;
        *x -= cx;
        *y -= cy;
        return window_at(v, c, x, y);
    }
    return w;
}

// Tells a control that the pointer came into (or left) its window, as it would before a
// user's press: a button clicks only when released with the pointer over it. Not an event of
// the language's: it goes to the toolkit alone.
void crossing(GdkWindow* w, GdkEventType type, double x, double y, bool post = false) {
    GdkEvent* c = gdk_event_new(type);
    c->crossing.window = GDK_WINDOW(g_object_ref(w));
    c->crossing.send_event = TRUE;
    c->crossing.x = x;
    c->crossing.y = y;
    c->crossing.mode = GDK_CROSSING_NORMAL;
    c->crossing.detail = GDK_NOTIFY_ANCESTOR;
    if (GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(w)))
        gdk_event_set_device(c, gdk_seat_get_pointer(seat));
    if (post) gdk_event_put(c);
    else gtk_main_do_event(c);
    gdk_event_free(c);
}

}  // namespace

bool send_event(const Cell* event, bool post) {
    (void)post;
    // A made event carries its face in its series; a backend one names its message.
    bool made = event::made_q(event);
    uint32_t h = 0;
    if (made && event::message_of(event)) {
        Cell b;
        series::make_at(&b, Type::block, event::message_of(event));
        h = face_handle(block::head(&b));
    } else if (!made && current && current->serial == event::message_of(event)) {
        h = current->target;
    }
    View* v = view_of_handle(h);
    if (!v) return false;
    int32_t t = event::type_of(event);
    GdkWindow* w = view_gdk_window(v);
    if (!w) return false;
    GdkEvent* e = nullptr;
    uint32_t f = event::flags_of(event) & ~event::flag::made;
    guint state = 0;
    if (f & ev::control) state |= GDK_CONTROL_MASK;
    if (f & ev::shift) state |= GDK_SHIFT_MASK;
    if (f & ev::alt) state |= GDK_MOD1_MASK;
    if (f & ev::down) state |= GDK_BUTTON1_MASK;
    if (f & ev::alt_down) state |= GDK_BUTTON3_MASK;
    if (f & ev::mid_down) state |= GDK_BUTTON2_MASK;
    double x = 0, y = 0;
    if (made && event::message_of(event)) {
        Cell b;
        series::make_at(&b, Type::block, event::message_of(event));
        Cell off = *(block::head(&b) + 2);
        planar(&off, &x, &y);
    }
    x = to_device(x);
    y = to_device(y);
    bool mouse = t != type::key && t != type::key_down && t != type::key_up;
    GdkWindow* view_window = w;
    if (mouse) w = window_at(v, w, &x, &y);
    // A control with windows of its own (a button, a list) takes the press in one of them.
    bool control = w != view_window;
    switch (t) {
        case type::down: case type::up: case type::mid_down: case type::mid_up: case type::alt_down:
        case type::alt_up: case type::aux_down: case type::aux_up: case type::dbl_click: {
            bool press = t == type::down || t == type::mid_down || t == type::alt_down || t == type::aux_down ||
                         t == type::dbl_click;
            e = gdk_event_new(t == type::dbl_click ? GDK_2BUTTON_PRESS : press ? GDK_BUTTON_PRESS : GDK_BUTTON_RELEASE);
            e->button.button = (t == type::down || t == type::up || t == type::dbl_click) ? 1
                               : (t == type::mid_down || t == type::mid_up)              ? 2
                               : (t == type::alt_down || t == type::alt_up)              ? 3
                                                                                         : 8;
            e->button.x = x;
            e->button.y = y;
            e->button.state = state;
            break;
        }
        case type::over:
            if (f & ev::away) {
                e = gdk_event_new(GDK_LEAVE_NOTIFY);
                e->crossing.x = x;
                e->crossing.y = y;
                e->crossing.mode = GDK_CROSSING_NORMAL;
                e->crossing.state = state;
            } else {
                e = gdk_event_new(GDK_MOTION_NOTIFY);
                e->motion.x = x;
                e->motion.y = y;
                e->motion.state = state;
                last_move = -1;
            }
            break;
        case type::wheel: {
            e = gdk_event_new(GDK_SCROLL);
            e->scroll.x = x;
            e->scroll.y = y;
            e->scroll.state = state;
            e->scroll.direction = GDK_SCROLL_SMOOTH;
            double n = 1;
            if (made && event::message_of(event)) {
                Cell b;
                series::make_at(&b, Type::block, event::message_of(event));
                Cell p = *(block::head(&b) + 3);
                if (p.is(Type::integer)) n = integer::get(&p);
            }
            e->scroll.delta_y = -n;
            break;
        }
        case type::key: case type::key_down: case type::key_up: {
            e = gdk_event_new(t == type::key_up ? GDK_KEY_RELEASE : GDK_KEY_PRESS);
            uint32_t c = f & 0xFFFF;
            e->key.keyval = c == 13 ? GDK_KEY_Return : c == 9 ? GDK_KEY_Tab : c == 8 ? GDK_KEY_BackSpace
                            : c == 27 ? GDK_KEY_Escape : gdk_unicode_to_keyval(c);
            e->key.state = state;
            break;
        }
        default:
            return false;
    }
    e->any.window = GDK_WINDOW(g_object_ref(w));
    e->any.send_event = TRUE;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(w));
    if (seat) {
        GdkDevice* d = (t >= type::key && t <= type::key_up) ? gdk_seat_get_keyboard(seat) : gdk_seat_get_pointer(seat);
        if (d) gdk_event_set_device(e, d);
    }
    int32_t saved = forced_flags;
    if (t >= type::key && t <= type::key_up)
        forced_flags = static_cast<int32_t>(f & (ev::control | ev::shift | ev::alt | ev::down | ev::alt_down | ev::mid_down));
    bool button = e->type == GDK_BUTTON_PRESS || e->type == GDK_2BUTTON_PRESS || e->type == GDK_BUTTON_RELEASE;
    if (control && button) crossing(w, GDK_ENTER_NOTIFY, x, y);
    if (post) {
        gdk_event_put(e);
        // GDK holds the last motion back until the window's next frame flushes it.
        if (t == type::over)
            gdk_frame_clock_request_phase(gdk_window_get_frame_clock(w), GDK_FRAME_CLOCK_PHASE_FLUSH_EVENTS);
    } else {
        bool was = sending;
        sending = true;
        filter_event(e, nullptr);
        sending = was;
    }
    forced_flags = saved;
    // After a release the pointer is where it really is again; a posted release is followed by
    // a posted leave, which the filter passes to the control alone.
    if (control && e->type == GDK_BUTTON_RELEASE) crossing(w, GDK_LEAVE_NOTIFY, x, y, post);
    gdk_event_free(e);
    return true;
}

}  // namespace zuv::gui
