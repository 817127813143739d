#include "gui_fixture.h"


#include "../unit/runtime_fixture.h"
#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "library/routines.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::testing {

std::vector<Record> events;
Hook hook;

namespace {

std::string name_of(const Cell& face) {
    if (!face.is(Type::object)) return "none";
    Cell* extra = gui::face_facet(&face, gui::facet::extra);
    return extra && string::family_q(extra->type()) ? string::to_utf8(extra) : "?";
}

Cell* record_event(Cell** a) {
    Cell ev = *a[0];
    Record r;
    r.type = ev.int1();
    r.flags = ev.data3;
    Cell out;
    gui::event_field(&ev, 2, &out);
    r.face = name_of(out);
    gui::event_field(&ev, 3, &out);
    r.window = name_of(out);
    gui::event_field(&ev, 4, &out);
    r.has_offset = gui::planar(&out, &r.x, &r.y);
    gui::event_field(&ev, 5, &out);
    r.key = mold(out);
    gui::event_field(&ev, 6, &out);
    r.picked = mold(out);
    gui::event_field(&ev, 15, &out);
    r.orientation = mold(out);
    events.push_back(r);
    if (hook && hook(r)) {
        Cell stop;
        cell::make(&stop, Type::word, context::global, static_cast<uint32_t>(symbol::make("stop")),
                   static_cast<uint32_t>(-1));
        return stack::push(&stop);
    }
    return none::push();
}

}  // namespace

void GuiTest::SetUp() {
    boot_runtime();
    static bool booted = false;
    if (!booted) {
        booted = true;
        boot::run_script();
        ASSERT_TRUE(gui::init()) << "the GUI tests need a display";
        library::define_routines({{"test-awake", record_event, "event [any-type!]", ""}});
        eval("system/ridi/awake: :test-awake\n"
             "face-proto: make object! [type: 'face offset: none size: none text: none image: none color: none"
             " menu: none data: none enabled?: true visible?: true selected: none flags: none options: none"
             " parent: none pane: none state: none rate: none edge: none para: none font: none actors: none"
             " extra: none draw: none on-change*: func [word old new] []"
             " on-deep-change*: func [owner word target action new index part] []]\n"
             "test-faces: copy []");
    }
    stack::push_slot();
    events.clear();
    hook = nullptr;
}

void GuiTest::TearDown() {
    hook = nullptr;
    // Every window a test left open goes, so the next test starts on an empty screen.
    Cell faces = eval("test-faces");
    int32_t n = series::length(&faces);
    for (int32_t i = 0; i < n; ++i) {
        Cell f = *(block::head(&faces) + i);
        if (f.is(Type::object)) gui::destroy_ridi(&f, false);
    }
    eval("clear test-faces");
    pump();
    gui::quit_requests = 0;
    gui::pending_quits = 0;
    events.clear();
}

Cell eval(const std::string& code) {
    Cell r;
    try {
        boot::run_text(code, "test", &r);
    } catch (const runtime::Throw&) {
        ADD_FAILURE() << "evaluating " << code << ": " << boot::describe_error(stack::top());
        throw;
    }
    return *stack::push(&r);
}

Cell face(const std::string& name, const std::string& spec) {
    eval(name + ": make face-proto [extra: \"" + name + "\" " + spec + "]\nappend test-faces " + name);
    return named(name);
}

Cell named(const std::string& name) { return eval(name); }

uint32_t realise(Cell f, uint32_t parent) {
    uint32_t h = gui::make_ridi(&f, parent);
    Cell* st = block::push_new(4);
    handle::make_in(st, h, handle::subtype::window);
    Cell zero;
    cell::make(&zero, Type::integer, 0, 0);
    block::append(st, &zero);
    none::make_in(st);
    logic::make_in(st, false);
    *gui::face_facet(&f, gui::facet::state) = *st;
    Cell* pane = gui::face_facet(&f, gui::facet::pane);
    if (pane && pane->is(Type::block)) {
        Cell p = *pane;
        int32_t n = series::length(&p);
        for (int32_t i = 0; i < n; ++i) realise(*(block::head(&p) + i), h);
    }
    return h;
}

void mark(Cell f, uint32_t bits) {
    Cell st = *gui::face_facet(&f, gui::facet::state);
    (block::head(&st) + 1)->data2 |= bits;
}

gui::View* view(const Cell& f) { return gui::view_of_handle(gui::face_handle(&f)); }

void pump() {
    for (int round = 0; round < 3; ++round) {
        gdk_display_sync(gdk_display_get_default());
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }
}

bool wait_for(const std::function<bool()>& done) {
    for (int i = 0; i < 400; ++i) {
        pump();
        if (done()) return true;
        g_usleep(5000);
    }
    return false;
}

void show(Cell window) {
    gui::View* v = view(window);
    ASSERT_NE(v, nullptr);
    gui::show_window(v->handle);
    ASSERT_TRUE(wait_for([&] { return gtk_widget_get_mapped(v->container); }));
    pump();
    events.clear();
}

GdkEvent* event_for(const Cell& f, GdkEventType type, double x, double y) {
    gui::View* v = view(f);
    GtkWidget* w = v->kind == gui::Kind::window ? v->container : v->widget;
    if (type == GDK_KEY_PRESS || type == GDK_KEY_RELEASE || type == GDK_FOCUS_CHANGE || type == GDK_DELETE)
        w = gtk_widget_get_toplevel(v->widget);
    GdkWindow* g = gtk_widget_get_window(w);
    GdkEvent* e = gdk_event_new(type);
    e->any.window = GDK_WINDOW(g_object_ref(g));
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    bool keys = type == GDK_KEY_PRESS || type == GDK_KEY_RELEASE || type == GDK_FOCUS_CHANGE;
    gdk_event_set_device(e, keys ? gdk_seat_get_keyboard(seat) : gdk_seat_get_pointer(seat));
    int ox = 0, oy = 0;
    gdk_window_get_origin(g, &ox, &oy);
    switch (type) {
        case GDK_MOTION_NOTIFY:
            e->motion.x = x, e->motion.y = y, e->motion.x_root = ox + x, e->motion.y_root = oy + y;
            break;
        case GDK_BUTTON_PRESS: case GDK_2BUTTON_PRESS: case GDK_BUTTON_RELEASE:
            e->button.x = x, e->button.y = y, e->button.x_root = ox + x, e->button.y_root = oy + y;
            e->button.button = 1;
            break;
        case GDK_SCROLL:
            e->scroll.x = x, e->scroll.y = y, e->scroll.x_root = ox + x, e->scroll.y_root = oy + y;
            break;
        case GDK_LEAVE_NOTIFY: case GDK_ENTER_NOTIFY:
            e->crossing.x = x, e->crossing.y = y, e->crossing.mode = GDK_CROSSING_NORMAL;
            e->crossing.detail = GDK_NOTIFY_ANCESTOR;
            break;
        case GDK_FOCUS_CHANGE: e->focus_change.in = TRUE; break;
        default: break;
    }
    return e;
}

void put(GdkEvent* e) {
    // GDK holds events back while a frame is drawn: wait until this one went through.
    uint64_t seen = gui::filtered;
    gdk_event_put(e);
    // GDK holds the last motion back until the window's next frame flushes it.
    if (e->type == GDK_MOTION_NOTIFY)
        gdk_frame_clock_request_phase(gdk_window_get_frame_clock(e->any.window), GDK_FRAME_CLOCK_PHASE_FLUSH_EVENTS);
    gdk_event_free(e);
    wait_for([&] { return gui::filtered > seen; });
    pump();
}

std::vector<Record> of_type(int32_t type) {
    std::vector<Record> r;
    for (const Record& e : events)
        if (e.type == type) r.push_back(e);
    return r;
}

std::vector<int32_t> types() {
    std::vector<int32_t> t;
    for (const Record& e : events) t.push_back(e.type);
    return t;
}

int32_t dev(double logical) { return gui::to_device(logical); }

}  // namespace zuv::testing
