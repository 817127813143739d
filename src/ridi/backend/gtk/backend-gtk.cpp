// The GTK backend behind Ridi's platform door: each operation the platform routines call,
// over the views, the loop and the event readers of this folder; and the native half's entry,
// which hands it and the drawing engine to the program. The backend is installed by the first
// gui/init and steps aside for the display-less backend when no display opens.
#include <pango/pangocairo.h>

#include <algorithm>
#include <string>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "memory/stack.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/camera.h"
#include "ridi/backend/gtk/dialogs.h"
#include "ridi/backend/gtk/gui.h"
#include "ridi/backend/gtk/widgets.h"
#include "ridi/draw/draw.h"
#include "ridi/native.h"
#include "ridi/platform.h"

namespace zuv::gui {

namespace {

class GtkBackend final : public ridi::Backend {
public:
    bool has_display() const override { return available(); }

    void init() override {
        if (!gui::init()) {
            // No display: the language level still runs, on the backend without one.
            ridi::set_backend(nullptr);
            ridi::backend().init();
            return;
        }
        fill_system_ridi();
    }

    void fetch_all_screens(Cell* out) override {
        *out = *gui::fetch_all_screens();
        stack::pop(1);
    }
    void get_current_screen(Cell* out) override { handle::make_at(out, current_screen(), handle::subtype::monitor); }
    void get_screen_size(int32_t, Cell* out) override {
        int32_t w, h;
        screen_size(&w, &h);
        pair::make_at(out, w, h);
    }

    // Text is measured by the drawing engine, the same with a display as without one.
    bool get_text_size(Cell* face, Cell* text, Cell* size) override {
        return ridi::draw_engine.size_text && ridi::draw_engine.size_text(face, text, size);
    }

    void update_facet(Cell* owner, Cell* word, Cell* value, Cell* action, Cell* new_value, int32_t index,
                      int32_t part) override {
        gui::update_facet(owner, word, value, action, new_value, index, part);
    }
    void get_text_alt(Cell* face, int32_t index) override { widgets::get_text_alt(face, index); }
    void update_font(Cell* font, int32_t field) override { widgets::update_font(font, field); }
    void update_para(Cell* face, int32_t field) override { widgets::update_para(face, field); }
    void update_scroller(Cell* scroller, int32_t field) override { widgets::update_scroller(scroller, field); }

    uint32_t make_ridi(Cell* face, uint32_t parent) override { return gui::make_ridi(face, parent); }
    void destroy_ridi(Cell* face, bool empty) override { gui::destroy_ridi(face, empty); }
    void update_views(Cell* faces) override { gui::update_views(faces); }
    void update_ridi(Cell* face) override { gui::update_ridi(face); }
    void refresh_window(uint32_t h) override { gui::refresh_window(h); }
    void redraw(Cell* face) override { gui::redraw(face); }
    void show_window(uint32_t h) override { gui::show_window(h); }

    bool do_events(bool no_wait) override { return gui::do_events(no_wait); }
    void exit_event_loop() override { gui::exit_event_loop(); }

    void request_font(Cell* font, Cell* selected, bool mono, Cell* out) override {
        gui::request_font(font, selected, mono, out);
    }
    void request_file(Cell* title, Cell* name, Cell* filter, bool save, bool multi, Cell* out) override {
        gui::request_file(title, name, filter, save, multi, out);
    }
    void request_dir(Cell* title, Cell* dir, Cell* filter, bool keep, bool multi, Cell* out) override {
        gui::request_dir(title, dir, filter, keep, multi, out);
    }

    void set_dark_mode(Cell* face, bool dark) override { gui::set_dark_mode(face, dark); }
    bool support_dark_mode() override { return support_dark_mode_q(); }
    // Cairo has no separate hardware device to make.
    void create_device() override {}

    bool send_event(Cell* event, bool queued) override { return gui::send_event(event, queued); }
    void event_field(const Cell* event, int32_t code, Cell* out) override { gui::event_field(event, code, out); }

    Cell* face_to_image(Cell* face) override { return capture(face); }
};

GtkBackend gtk_backend;

// The time the caret stays shown (or hidden); the toolkit's setting is the whole cycle.
int32_t caret_blink_time() {
    GtkSettings* s = gtk_settings_get_default();
    if (!s) return 530;
    gboolean blink = TRUE;
    gint cycle = 1200;
    g_object_get(s, "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &cycle, nullptr);
    return !blink ? -1 : cycle > 1 ? cycle / 2 : 530;
}

void message_box(const char* text, const char* caption) {
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(box), caption);
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

}  // namespace

namespace {

// An image surface to capture into; null (and one line said) when none of that size can be
// made, so a capture too large for memory is none instead of a crash.
cairo_surface_t* surface_for(int width, int height) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_data(s)) return s;
    cairo_surface_destroy(s);
    report_failure("cairo_image_surface_create failed!");
    return nullptr;
}

// A screen face: what the screen shows from its top-left corner, as large as the face.
Cell* capture_screen(Cell* face) {
    double w = 0, h = 0;
    Cell* size = face_facet(face, facet::size);
    if (size) planar(size, &w, &h);
    GdkWindow* root = gdk_get_default_root_window();
    int width = std::min(to_device(w), gdk_window_get_width(root));
    int height = std::min(to_device(h), gdk_window_get_height(root));
    if (width <= 0 || height <= 0) return image::push_new(0, 0, 0);
    cairo_surface_t* s = surface_for(width, height);
    if (!s) return none::push();
    cairo_t* cr = cairo_create(s);
    gdk_cairo_set_source_window(cr, root, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    // The screen is opaque: every pixel gets full alpha whatever the root's visual says.
    int stride = cairo_image_surface_get_stride(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) row[x] |= 0xFF000000u;
    }
    Cell* img = image::push_from_memory(width, height, stride, data);
    cairo_surface_destroy(s);
    return img;
}

}  // namespace

// A face drawn into a new image!: the view and its children as they are painted on screen.
Cell* capture(Cell* face) {
    if (kind_of_word(face_facet(face, facet::type)) == Kind::screen) return capture_screen(face);
    View* v = view_of_handle(face_handle(face));
    if (!v) return none::push();
    if (camera_q(face_facet(face, facet::type))) return camera_snapshot(v);  // the current frame, not the view
    GtkWidget* w = v->kind == Kind::window ? v->container : v->widget;
    // Settle pending sizes first: a change made just before must show in the image.
    if (GtkWidget* top = gtk_widget_get_toplevel(w); GTK_IS_CONTAINER(top)) gtk_container_check_resize(GTK_CONTAINER(top));
    int width = gtk_widget_get_allocated_width(w), height = gtk_widget_get_allocated_height(w);
    if (width <= 0 || height <= 0) return image::push_new(0, 0, 0);
    cairo_surface_t* s = surface_for(width, height);
    if (!s) return none::push();
    cairo_t* cr = cairo_create(s);
    gtk_widget_draw(w, cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    // Cairo's pixels are premultiplied; image! keeps them straight.
    int stride = cairo_image_surface_get_stride(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            uint32_t p = row[x], a = p >> 24;
            if (a == 0 || a == 255) continue;
            uint32_t r = ((p >> 16) & 0xFF) * 255 / a, g = ((p >> 8) & 0xFF) * 255 / a, b = (p & 0xFF) * 255 / a;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    Cell* img = image::push_from_memory(width, height, stride, data);
    cairo_surface_destroy(s);
    return img;
}

}  // namespace zuv::gui

// The native half's one entry, which the program looks up when it opens the half.
extern "C" [[gnu::visibility("default")]] const zuv::ridi::NativeGui* zuv_native_gui() {
    static const zuv::ridi::NativeGui gui = [] {
        zuv::ridi::NativeGui g;
        g.backend = &zuv::gui::gtk_backend;
        zuv::draw::start(&g.draw);
        g.draw.draw_face = [](zuv::Cell* face, zuv::Cell* cmds) { zuv::gui::draw_face(face, cmds); };
        g.caret_blink_time = zuv::gui::caret_blink_time;
        g.message_box = zuv::gui::message_box;
        return g;
    }();
    return &gui;
}
