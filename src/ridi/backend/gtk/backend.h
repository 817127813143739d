// The backend's shared state and records: the per-view record attached to each native
// widget, the message being dispatched, the DPI state, and the small conversions every
// part of the backend uses. GUI thread only.
#pragma once
#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "memory/cell.h"

namespace zuv::gui {

// ---- face facets, by position ------------------------------------------------------------------
namespace facet {
constexpr int32_t type = 0, offset = 1, size = 2, text = 3, image = 4, color = 5, menu = 6, data = 7, enabled = 8,
                  visible = 9, selected = 10, flags = 11, options = 12, parent = 13, pane = 14, state = 15, rate = 16,
                  edge = 17, para = 18, font = 19, actors = 20, extra = 21, draw = 22;
}

// Facet n of a face object (0-based); null when the object has fewer words. Valid until the
// next allocation.
Cell* face_facet(const Cell* face, int32_t n);

// Face kinds the backend tells apart.
enum class Kind : int32_t { other, window, panel, base, rich_text, group_box, screen };
Kind kind_of_word(const Cell* type);

// ---- the per-view record ------------------------------------------------------------------------
// One per native view, attached to its widget; holds what the face's window keeps: the link
// back to the face (a slot number), the flags mask, the kind bits, the frame offsets, the
// drawing context while painting, the capture count, the timer.
namespace kind_bit {
constexpr uint32_t size_pair = 0x10;
}

struct View {
    uint32_t handle = 0;        // its value in the handle registry
    Kind kind = Kind::other;
    GtkWidget* widget = nullptr;     // the outer widget (a GtkWindow for a window)
    GtkWidget* container = nullptr;  // where child views go (a GtkFixed)
    int32_t slot = 0;                // the face's slot, 0 when no face is bound
    uint32_t flags = 0;              // the face's flags mask
    uint32_t kind_bits = 0;
    bool layered = false;            // drawn with per-pixel alpha
    bool freeing = false;            // being destroyed: its close request goes unanswered
    bool show_pending = false;
    int32_t capture = 0;             // mouse presses held on a base face
    int32_t sizing_kind = 0;         // 31 moving or 32 resizing, during a user's drag
    int32_t frame_x = 0, frame_y = 0;
    int32_t last_x = INT32_MIN, last_y = INT32_MIN, last_w = -1, last_h = -1;  // last configure
    guint timer = 0;
    guint settle = 0;                // ends a user's drag of the frame
    void* draw_context = nullptr;    // the cairo_t while painting
    GdkCursor* cursor = nullptr;
    GtkIMContext* im = nullptr;      // input method of a window
    GtkWidget* menu_bar = nullptr;   // a window's menu bar (menus.cpp)
    void* camera = nullptr;          // a camera face's device record (camera.cpp)
    GtkWidget* bars[2] = {nullptr, nullptr};  // a scrollable face's own bars: horizontal, vertical
};

// The view of a widget (walking up to the nearest widget that has one), or null.
View* view_of_widget(GtkWidget* w);
View* view_of_handle(uint32_t handle);
// The face of a view (its slot's cell), or null when none is bound.
Cell* view_face(const View* v);
// The window view above a view (itself for a window).
View* top_view(View* v);

// ---- the message being dispatched ---------------------------------------------------------------
// What one native input was: the lazy field readers compute an event's fields from it.
struct Message {
    uint32_t serial = 0;   // the event! value names its message by this number
    uint32_t target = 0;   // the view's handle ("the window" of the message)
    GdkEvent* event = nullptr;  // the GDK event, while it is dispatched; null for timers and made messages
    GdkEventType gdk = GDK_NOTHING;
    double x = 0, y = 0;   // pointer position in the target, device pixels
    bool has_point = false;
    uint32_t state = 0;    // GDK modifier state
    uint32_t time = 0;
    int32_t wheel = 0;     // wheel delta, 120 per notch, positive away from the user
    double gesture = 0;    // zoom scale or rotation angle
    int32_t picked = 0;
    std::string text;      // an input method's composition text (ime)
    int32_t request = -1;  // a scroll bar's request: 0 a step back, 1 forward, 2 and 3 a page, 5 a drag
    bool vertical = false; // whether that bar is the vertical one
};

// Backend state (loop.cpp, events.cpp).
extern Message* current;
extern uint64_t filtered;  // GDK events that went through the filter, ever
extern int32_t loop_depth, pending_quits, quit_requests, closed_loops;
extern int32_t forced_flags, last_key;
extern uint32_t high_surrogate;
extern uint32_t pressed_view, released_view;
extern bool sizing;
extern double gesture_start;
extern bool composing;  // an input method's composition is open

// Raises event `type` for a message, with the value the type takes; gives 1 to go on with the
// native handling, 0 when the handler answered stop.
int32_t make_event(Message* msg, int32_t value, int32_t type);
// A message for a view when no native one is being dispatched (timers, resizes).
Message fallback_message(uint32_t target);
// Drops what the input state remembers of a view that goes (the hovered view, the last move).
void forget_view(uint32_t handle);
// Posts a quit request for the innermost loop and wakes it.
void post_quit();
// The event filter that every GDK event goes through before GTK handles it.
void filter_event(GdkEvent* event, gpointer);

// ---- DPI and units (units.cpp) ------------------------------------------------------------------
extern int32_t dpi;
extern double scale;
void set_dpi(int32_t d);
int32_t to_device(double logical);
double to_logical(double device);
// A pair! or point2D! cell's coordinates as floats; false for anything else.
bool planar(const Cell* c, double* x, double* y);
// Packs a tuple (R G B A, alpha as transparency) into a word, first component lowest.
uint32_t tuple_to_color(const Cell* tuple);
uint32_t color_to_argb(uint32_t color);
uint32_t color_to_argb_translucent(uint32_t color);
// The flags mask of a `flags` facet (a word or a block of words); raises invalid-arg for an
// unknown word.
uint32_t get_flags(const Cell* flags);
namespace flag {
constexpr uint32_t all_over = 0x1, focusable = 0x2, tri_state = 0x20000, scrollable = 0x40000, password = 0x80000,
                   no_sync = 0x100000, fullscreen = 0x200000, popup = 0x1000000, modal = 0x2000000,
                   resize = 0x4000000, no_buttons = 0x8000000, no_max = 0x10000000, no_min = 0x20000000,
                   no_title = 0x40000000, no_border = 0x80000000;
}
// Milliseconds since a slot's start; a slot is restarted when the difference runs over.
void clock_start(uint64_t* slot);
double clock_elapsed(uint64_t* slot);

// One line on the runtime output: "*** Ridi Error: <what>".
void report_failure(const std::string& what);

// ---- keys (keys.cpp) ----------------------------------------------------------------------------
// Event flag bits.
namespace ev {
constexpr uint32_t aux_down = 0x400000, alt_down = 0x800000, mid_down = 0x1000000, down = 0x2000000,
                   away = 0x4000000, control = 0x10000000, shift = 0x20000000, alt = 0x40000000,
                   command = 0x80000000;
}
// Event flags of a GDK modifier state (buttons too unless modifiers_only).
uint32_t state_flags(uint32_t gdk_state, bool modifiers_only);
// The special-key code of a key (the virtual-key numbers the key words are listed by), or -1
// for a character key.
int32_t special_key(uint32_t keyval);
bool modifier_key(int32_t code);
// The key word's name for a special-key code, or null.
const char* key_word(int32_t code);
// The character a key press reports on key-down and key-up: the unshifted key's character,
// letters in upper case.
uint32_t key_char(uint32_t keyval, uint16_t keycode);

// ---- types ---------------------------------------------------------------------------------------
namespace type {
constexpr int32_t down = 1, up = 2, mid_down = 3, mid_up = 4, alt_down = 5, alt_up = 6, aux_down = 7, aux_up = 8,
                  click = 9, dbl_click = 10, wheel = 11, over = 12, key = 13, key_down = 14, key_up = 15, ime = 16,
                  focus = 17, unfocus = 18, enter = 19, zoom = 20, pan = 21, rotate = 22, two_tap = 23,
                  press_tap = 24, select = 25, change = 26, menu = 27, close = 28, move = 29, resize = 30,
                  moving = 31, resizing = 32, time = 33, drawing = 34, scroll = 35;
}

// ---- a scrollable face's own bars (scrollbars.cpp) ----------------------------------------------
// Gives a face of the backend's own its two scroll bars, which raise scroll events; places
// them at its right and bottom edges for its size (device pixels); keeps them over its children.
void make_bars(View* v);
void place_bars(View* v);
void raise_bars(View* v);
// Puts a child of a view's fixed container last in its stacking order, in the same place.
void to_top(View* v, GtkWidget* child);

// ---- painting (faces.cpp) -----------------------------------------------------------------------
gboolean paint_view(GtkWidget* w, cairo_t* cr, gpointer);
// After a change of resolution: every window's faces are placed and sized again at the new scale.
void relayout_views();
void start_timer(View* v, const Cell* rate);

}  // namespace zuv::gui
