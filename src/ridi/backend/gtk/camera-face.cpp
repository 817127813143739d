// The camera face: its view paints the newest picture of the selected device, centred and kept
// in proportion on black; its `data` lists the device names and `selected` picks one (1-based).
// Frames reach the GUI thread through idle callbacks that name the record by a serial number,
// so a callback that comes after its camera was closed finds nothing.
#include <cairo.h>

#include <map>

#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory/symbol.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/camera.h"
#include "ridi/backend/gtk/gui.h"
#include "runtime/print.h"

namespace zuv::gui {

namespace {

struct Record {
    uint64_t serial = 0;
    uint32_t view = 0;  // the camera view's handle
    std::vector<camera::Device> devices;
    std::unique_ptr<camera::Capture> capture;
    std::atomic<bool> redraw_posted{false};
};

std::map<uint64_t, Record*> live;  // GUI thread only
uint64_t next_serial = 1;
// The aspect ratio (width / height) of the stream opened last; 0 before any.
double aspect = 0;

Record* record(View* v) { return v ? static_cast<Record*>(v->camera) : nullptr; }

Record* live_record(gpointer data) {
    auto it = live.find(GPOINTER_TO_SIZE(data));
    return it == live.end() ? nullptr : it->second;
}

bool word_is(const Cell* c, const char* name) {
    return c && (c->is(Type::word) || c->is(Type::lit_word)) &&
           symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(name));
}

// A frame that was wanted is ready: it becomes the face's image when that is none.
void take_frame(View* v) {
    Record* r = record(v);
    Cell* face = view_face(v);
    if (!r || !r->capture || !face || r->capture->state.load() != camera::grab::ready) return;
    Cell f = *face;
    Cell* img = face_facet(&f, facet::image);
    if (img && img->is(Type::none)) {
        Cell* made = image::push_from_memory(r->capture->width(), r->capture->height(), 0, r->capture->grabbed.data());
        if (Cell* slot = face_facet(&f, facet::image)) *slot = *made;
        stack::pop(1);
        gtk_widget_queue_draw(v->widget);
    }
    r->capture->state.store(camera::grab::idle);
}

gboolean on_shown(gpointer data) {
    if (Record* r = live_record(data)) {
        r->redraw_posted = false;
        if (View* v = view_of_handle(r->view)) gtk_widget_queue_draw(v->widget);
    }
    return G_SOURCE_REMOVE;
}

gboolean on_grabbed(gpointer data) {
    if (Record* r = live_record(data)) take_frame(view_of_handle(r->view));
    return G_SOURCE_REMOVE;
}

gboolean paint(GtkWidget* w, cairo_t* cr, gpointer) {
    double cw = gtk_widget_get_allocated_width(w), ch = gtk_widget_get_allocated_height(w);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    Record* r = record(static_cast<View*>(g_object_get_data(G_OBJECT(w), "zuv-view")));
    std::vector<uint8_t> px;
    if (!r || !r->capture || !r->capture->latest(&px)) return FALSE;
    int32_t fw = r->capture->width(), fh = r->capture->height();
    double x, y, vw, vh;
    camera_fit(cw, ch, double(fw) / fh, &x, &y, &vw, &vh);
    // BGRA bytes are cairo's RGB24 words on a little-endian machine; alpha is ignored.
    cairo_surface_t* s = cairo_image_surface_create_for_data(px.data(), CAIRO_FORMAT_RGB24, fw, fh, fw * 4);
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, vw / fw, vh / fh);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
    return FALSE;
}

void on_widget_destroy(GtkWidget* w, gpointer) {
    if (auto* v = static_cast<View*>(g_object_get_data(G_OBJECT(w), "zuv-view"))) camera_close(v);
}

// gui/camera-select: the device at a 0-based index opened in place of the one before.
bool select(View* v, int32_t index) {
    Record* r = record(v);
    int32_t count = r ? static_cast<int32_t>(r->devices.size()) : 0;
    if (index < 0 || index >= count) {
        Cell n;
        integer::make_at(&n, index + 1);
        error::raise(error::id::access_cannot_open, &n);
    }
    r->capture.reset();
    std::string why;
    auto c = camera::Capture::open(r->devices[size_t(index)], &why);
    if (!c) {
        runtime::print_line({"This device cannot preview!"});
        runtime::print_line({why.c_str()});
        return false;
    }
    aspect = double(c->width()) / c->height();
    r->capture = std::move(c);
    return true;
}

// gui/camera-run: the grabber started or stopped.
void run(View* v, bool on) {
    Record* r = record(v);
    if (!r || !r->capture) return;
    if (!on) {
        r->capture->stop();
        return;
    }
    uint64_t serial = r->serial;
    std::atomic<bool>* posted = &r->redraw_posted;
    std::string why;
    bool started = r->capture->start(
        [serial, posted] {
            // One redraw waits at a time: a slow GUI thread skips pictures, never queues them.
            if (!posted->exchange(true)) g_idle_add(on_shown, GSIZE_TO_POINTER(serial));
        },
        [serial] { g_idle_add(on_grabbed, GSIZE_TO_POINTER(serial)); }, &why);
    if (!started) {
        runtime::print_line({"This graph cannot preview"});
        runtime::print_line({why.c_str()});
    }
}

}  // namespace

bool camera_q(const Cell* type) { return word_is(type, "camera"); }

GtkWidget* camera_widget() {
    GtkWidget* w = gtk_drawing_area_new();
    gtk_widget_add_events(w, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                 GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                                 GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(w, "draw", G_CALLBACK(paint), nullptr);
    g_signal_connect(w, "destroy", G_CALLBACK(on_widget_destroy), nullptr);
    return w;
}

void camera_open(View* v, Cell* face_in) {
    camera_close(v);
    Cell face = *face_in;
    std::vector<camera::Device> devices = camera::list_devices();
    Cell* names = block::push_new(static_cast<int32_t>(devices.size()) + 1);
    for (const auto& d : devices) {
        Cell* s = string::push_new(static_cast<int32_t>(d.name.size()));
        string::append_utf8(s, d.name);
        block::append(names, s);
        stack::pop(1);
    }
    if (Cell* data = face_facet(&face, facet::data)) *data = *names;
    stack::pop(1);
    if (devices.empty()) {
        runtime::print_line({"No video capture hardware"});
    } else {
        auto* r = new Record;
        r->serial = next_serial++;
        r->view = v->handle;
        r->devices = std::move(devices);
        live[r->serial] = r;
        v->camera = r;
    }
    Cell* sel = face_facet(&face, facet::selected);
    if (sel && sel->is(Type::integer)) {
        if (select(v, sel->int2() - 1)) run(v, true);
        Cell* ratio = object::find_value(&face, symbol::make("ratio"));
        if (ratio && ratio->is(Type::float_)) float_::make_at(ratio, aspect);
    }
}

void camera_selected(View* v, Cell* face_in) {
    Cell face = *face_in;
    Cell* sel = face_facet(&face, facet::selected);
    if (sel && sel->is(Type::integer)) {
        if (select(v, sel->int2() - 1)) run(v, true);
    } else if (sel && sel->is(Type::none)) {
        run(v, false);
    }
    gtk_widget_queue_draw(v->widget);
}

void camera_image(View* v, Cell* face_in) {
    Record* r = record(v);
    Cell face = *face_in;
    Cell* img = face_facet(&face, facet::image);
    if (!r || !r->capture || !r->capture->running() || !img || !img->is(Type::none)) return;
    int32_t idle = camera::grab::idle;
    r->capture->state.compare_exchange_strong(idle, camera::grab::wanted);
}

Cell* camera_snapshot(View* v) {
    Record* r = record(v);
    if (!r || !r->capture) return none::push();
    camera::Capture& c = *r->capture;
    c.state.store(camera::grab::wanted);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    for (double waited = 0; c.state.load() != camera::grab::ready && waited <= 3.0; waited += 0.01) g_usleep(10000);
    int32_t expected = camera::grab::wanted;
    if (!c.state.compare_exchange_strong(expected, camera::grab::idle))
        while (c.state.load() == camera::grab::copying) g_usleep(1000);
    Cell* out = c.state.load() == camera::grab::ready ? image::push_from_memory(c.width(), c.height(), 0, c.grabbed.data())
                                                      : none::push();
    c.state.store(camera::grab::idle);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return out;
}

void camera_close(View* v) {
    Record* r = record(v);
    if (!r) return;
    v->camera = nullptr;
    live.erase(r->serial);
    delete r;  // stops the grabber first
}

void camera_fit(double w, double h, double r, double* x, double* y, double* vw, double* vh) {
    if (r <= 0) r = 1;
    if (r >= 1.0) {
        *vw = w, *vh = w / r;
        if (*vh > h) *vh = h, *vw = h * r;
    } else {
        *vh = h, *vw = h * r;
        if (*vw > w) *vw = w, *vh = w / r;
    }
    *x = *vw < w ? (w - *vw) / 2 : 0;
    *y = *vh < h ? (h - *vh) / 2 : 0;
}

}  // namespace zuv::gui
