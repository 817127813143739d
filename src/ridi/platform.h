// The one door from Ridi's language level into the native backend: the operations that the
// routines of system/ridi/platform call (each routine calls exactly one), and the drawing
// engine's entries. Cells passed in live on the argument stack; any operation may allocate.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::ridi {

// Facet positions (0-based) shared by the language level and the backend: face!, font!,
// para! and scroller! objects are read and written by position.
namespace facet {
enum Face : int32_t {
    type = 0, offset, size, text, image, color, menu, data, enabled_q, visible_q, selected,
    flags, options, parent, pane, state, rate, edge, para, font, actors, extra, draw,
    on_change, on_deep_change,
    // a rich-text face's extra facets
    tabs = 25, line_spacing, handles,
};
enum Font : int32_t {
    font_name = 0, font_size, font_style, font_angle, font_color, font_anti_alias_q, font_shadow,
    font_state, font_parent,
};
enum Para : int32_t {
    para_origin = 0, para_padding, para_scroll, para_align, para_v_align, para_wrap_q, para_parent,
};
enum Scroller : int32_t {
    scroller_position = 0, scroller_page_size, scroller_min_size, scroller_max_size,
    scroller_visible_q, scroller_vertical_q, scroller_parent,
};
}  // namespace facet

// FaceState cells (0-based here): handle, change bits, pending deep changes, loop flag or drag record.
namespace state {
constexpr int32_t handle = 0, bits = 1, pending = 2, loop = 3;
}

// Positions of the three informational values of system/ridi/platform, which the backend's
// init writes.
namespace platform_word {
constexpr int32_t version = 32, build = 33, product = 34;
}

// The GUI backend. The default one (no display) answers what needs no window and raises
// access/cannot-open "display" for the rest; the GTK backend replaces it at start-up when a
// display opens. Handles are values of handle! cells of class window or monitor.
class Backend {
public:
    virtual ~Backend() = default;

    // True when a display is open: windows can be made.
    virtual bool has_display() const = 0;

    // gui/init: the backend's own start-up. Sets system/ridi/fonts `system` and `size` and the
    // platform's version, build and product (platform_word positions).
    virtual void init() = 0;

    // gui/OS-fetch-all-screens: a block of one block per monitor [origin size scale monitor-handle]
    // into out.
    virtual void fetch_all_screens(Cell* out) = 0;
    // gui/OS-get-current-screen: the monitor under the pointer (or the nearest), a handle! into out.
    virtual void get_current_screen(Cell* out) = 0;
    // gui/get-screen-size: the display's size in logical pixels, a pair! into out.
    virtual void get_screen_size(int32_t id, Cell* out) = 0;
    // gui/get-text-size: measures text (a string!) in the face's font into size (a point2D!
    // at 0x0). False when it could not measure.
    virtual bool get_text_size(Cell* face, Cell* text, Cell* size) = 0;

    // gui/OS-update-facet: one change of a series facet (new_value null when there is none).
    virtual void update_facet(Cell* owner, Cell* word, Cell* value, Cell* action, Cell* new_value,
                              int32_t index, int32_t part) = 0;
    // gui/get-text-alt face -1: reads the native control's text back into the face.
    virtual void get_text_alt(Cell* face, int32_t index) = 0;
    // gui/update-font, gui/update-para, gui/update-scroller: field is the 0-based position of
    // the changed field in its object.
    virtual void update_font(Cell* font, int32_t field) = 0;
    virtual void update_para(Cell* face, int32_t field) = 0;
    virtual void update_scroller(Cell* scroller, int32_t field) = 0;

    // gui/OS-make-ridi: the native view of one face under the parent's view (handle value 0 for
    // a window); gives the new view's handle value (class window).
    virtual uint32_t make_ridi(Cell* face, uint32_t parent) = 0;
    // gui/OS-destroy-ridi: destroys the face's view and its children's; empty: the blocking
    // loop started for this window must end.
    virtual void destroy_ridi(Cell* face, bool empty) = 0;
    // gui/OS-update-views (a block of faces) and gui/OS-update-ridi (one face): apply and clear
    // the pending change bits.
    virtual void update_views(Cell* faces) = 0;
    virtual void update_ridi(Cell* face) = 0;
    // gui/OS-refresh-window, gui/OS-redraw, gui/OS-show-window.
    virtual void refresh_window(uint32_t handle) = 0;
    virtual void redraw(Cell* face) = 0;
    virtual void show_window(uint32_t handle) = 0;

    // gui/do-events: runs the loop, blocking or for at most one message; true when at least
    // one message was handled. gui/exit-event-loop ends the innermost running loop.
    virtual bool do_events(bool no_wait) = 0;
    virtual void exit_event_loop() = 0;

    // The dialogs: the result (font!, file!, block of file!, or none) into out.
    virtual void request_font(Cell* font, Cell* selected, bool mono, Cell* out) = 0;
    virtual void request_file(Cell* title, Cell* name, Cell* filter, bool save, bool multi, Cell* out) = 0;
    virtual void request_dir(Cell* title, Cell* dir, Cell* filter, bool keep, bool multi, Cell* out) = 0;

    // gui/set-dark-mode, gui/support-dark-mode?, gui/DX-create-dev.
    virtual void set_dark_mode(Cell* face, bool dark) = 0;
    virtual bool support_dark_mode() = 0;
    virtual void create_device() = 0;

    // Events. send_event: delivers a made event! (queued: posted, else run through the input
    // filter at once); false when its face is not realised or no message fits its type.
    virtual bool send_event(Cell* event, bool queued) = 0;
    // The reader of one field of a backend-made event (word 2 is the backend's own message
    // reference): code 2 face, 3 window, 4 offset, 5 key, 6 picked, 15 orientation.
    virtual void event_field(const Cell* event, int32_t code, Cell* out) = 0;

    // to image! of a face: the rendered face, pushed on the argument stack.
    virtual Cell* face_to_image(Cell* face) = 0;
};

// The backend in use (the default one until another is installed).
Backend& backend();
// Installs a backend (kept for the program's life); null goes back to the default one.
void set_backend(Backend* b);

// The drawing engine's entries, installed by it at start-up; null ones raise internal/not-done.
struct DrawEngine {
    // gui/OS-do-draw: runs a DRAW block onto an image.
    void (*do_draw)(Cell* image, Cell* cmds) = nullptr;
    // gui/OS-draw-face: runs a DRAW block on the face's window's paint context.
    void (*draw_face)(Cell* face, Cell* cmds) = nullptr;
    // gui/OS-text-box-layout (box, target or null, 0, false) and gui/OS-text-box-metrics (box
    // state, argument, metric number): the metric into out.
    void (*text_box_layout)(Cell* box, Cell* target, int32_t flags, bool catch_) = nullptr;
    void (*text_box_metrics)(Cell* box, Cell* arg, int32_t type, Cell* out) = nullptr;
    // The size of a text (a string!) in a face's font into size (a point2D!), for faces other
    // than rich-text; false when it cannot be measured. Backends without their own text
    // metrics (no display) measure through it.
    bool (*size_text)(Cell* face, Cell* text, Cell* size) = nullptr;
};
extern DrawEngine draw_engine;

// Calls system/ridi/awake with the event: the backend's one way back into the language
// level. Errors are printed, never raised; the dispatch's result (unset when there was
// none) into out.
void awake(Cell* event, Cell* out);

// Adds Ridi's binder: the event! datatype, the platform routines. Called by the program's main.
void link();

}  // namespace zuv::ridi
