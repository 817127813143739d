// The GTK backend's door: what the Ridi platform words call (start-up, the event loop, the
// life of native views, screens) and the readers of a backend event's fields. Faces come in
// as object! cells and go out as handle! values (indexes of the handle registry).
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::gui {

// ---- start-up (init.cpp) ------------------------------------------------------------------------
// Opens the display and sets the backend up once; false (and nothing else) without a display,
// so the language still runs. Later calls give the first answer.
bool init();
bool available();
// Fills system/ridi's metrics and fonts (when the language level has made them) and gives the
// platform's version values: major.minor.0, build and product.
void fill_system_ridi();
void os_version(int32_t* major, int32_t* minor, int32_t* build, int32_t* product);

// ---- screens and theme --------------------------------------------------------------------------
// A block of [offset size scale monitor-handle] per monitor, pushed on the argument stack.
Cell* fetch_all_screens();
uint32_t current_screen();  // a monitor handle value
void screen_size(int32_t* width, int32_t* height);  // logical pixels
bool support_dark_mode_q();
void set_dark_mode(const Cell* face, bool dark);

// ---- views (faces.cpp) --------------------------------------------------------------------------
// Makes the native view of a face under a parent view (0 for a window); the handle value, or
// 0 after a native failure (reported on one line). Raises face-type for an unknown type.
uint32_t make_ridi(Cell* face, uint32_t parent);
void update_ridi(Cell* face);
void update_views(Cell* faces);
void update_facet(Cell* owner, const Cell* word, const Cell* value, const Cell* action, const Cell* new_value,
                  int32_t index, int32_t part);
void destroy_ridi(Cell* face, bool empty);
void show_window(uint32_t handle);
void redraw(const Cell* face);
void refresh_window(uint32_t handle);
// The face's handle value when the face is realised, else 0.
uint32_t face_handle(const Cell* face);
// Runs a DRAW block on the drawing context a base face is painting with (its on-drawing
// actor's draw-face); does nothing outside a paint.
void draw_face(const Cell* face, const Cell* cmds);

// ---- the event loop (loop.cpp) ------------------------------------------------------------------
bool do_events(bool no_wait);
void exit_event_loop();

// ---- events (events.cpp) ------------------------------------------------------------------------
// Reads field `code` (the event! field codes 2-6 and 15: face, window, offset, key, picked,
// orientation) of an event the backend made into out; none once its message is over.
void event_field(const Cell* event, int32_t code, Cell* out);
// Feeds an event! back through the backend's own input path (or queues it); false when its
// face is not realised or its type has no native counterpart.
bool send_event(const Cell* event, bool post);

// ---- capture ----------------------------------------------------------------------
// The face as painted, in a new image! pushed on the argument stack; none without a view.
Cell* capture(Cell* face);

}  // namespace zuv::gui
