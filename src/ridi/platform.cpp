// The routines of system/ridi/platform (each calls one backend operation), the event!
// routines, the default backend used when no display is open, and Ridi's start-up binder.
// Without a display, what needs a window raises access/cannot-open "display".
#include "ridi/platform.h"
#include "ridi/native.h"

#include <sys/utsname.h>

#include <cstdio>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "library/routines.h"
#include "library/sections.h"
#include "memory/datatype.h"
#include "memory/ownership.h"
#include "memory/stack.h"
#include "runtime/print.h"
#include "runtime/throw.h"

namespace zuv::ridi {

namespace {

[[noreturn]] void raise_no_display() {
    Cell* text = string::push_new(64);
    string::append_utf8(text, "display (no graphical display is available)");
    error::raise(error::id::access_cannot_open, text);
}

// A cell's field of an object, by 0-based position.
Cell* field_of(const Cell* object, int32_t index) { return context::value_at(object::context_of(object), index); }

bool has_field(const Cell* object, int32_t index) { return index < context::size_of(object::context_of(object)); }

bool typed_word(const Cell* c, const char* name) {
    return c->is(Type::word) && scalar::word_is(c, name);
}

// ---- the backend without a display ----------------------------------------------------------

class NoDisplay final : public Backend {
public:
    bool has_display() const override { return false; }

    // The first start-up asks for the native backend, which takes over when a display opens.
    void init() override {
        if (Backend* native = native_backend()) {
            set_backend(native);
            native->init();
            return;
        }
        if (Cell* fonts = object::system_field({"ridi", "fonts"}); fonts && fonts->is(Type::object)) {
            Cell* name = string::push_new(16);
            string::append_utf8(name, "DejaVu Sans");
            *field_of(fonts, 0) = *name;
            stack::pop(1);
            integer::make_at(field_of(fonts, 4), 9);
        }
        Cell* platform = object::system_field({"ridi", "platform"});
        if (!platform || !platform->is(Type::object)) return;
        struct utsname u {};
        int major = 0, minor = 0;
        if (::uname(&u) == 0) std::sscanf(u.release, "%d.%d", &major, &minor);
        Cell v;
        tuple::make_at(&v, 3, static_cast<uint32_t>(major & 0xFF) | static_cast<uint32_t>(minor & 0xFF) << 8, 0, 0);
        *field_of(platform, platform_word::version) = v;
        integer::make_at(field_of(platform, platform_word::build), 0);
        integer::make_at(field_of(platform, platform_word::product), 1);
    }

    void fetch_all_screens(Cell* out) override {
        *out = *block::push_new(1);
        stack::pop(1);
    }
    void get_current_screen(Cell* out) override { handle::make_at(out, 0, handle::subtype::monitor); }
    void get_screen_size(int32_t, Cell* out) override { pair::make_at(out, 0, 0); }
    // Text is measured through the drawing engine, which needs no display.
    bool get_text_size(Cell* face, Cell* text, Cell* size) override {
        return draw_engine.size_text && draw_engine.size_text(face, text, size);
    }

    // Without a display no face has a native view, so there is nothing to update.
    void update_facet(Cell*, Cell*, Cell*, Cell*, Cell*, int32_t, int32_t) override {}
    void get_text_alt(Cell*, int32_t) override {}
    void update_font(Cell*, int32_t) override {}
    void update_para(Cell*, int32_t) override {}
    void update_scroller(Cell*, int32_t) override {}
    uint32_t make_ridi(Cell*, uint32_t) override { raise_no_display(); }
    void destroy_ridi(Cell*, bool) override {}
    void update_views(Cell*) override {}
    void update_ridi(Cell*) override {}
    void refresh_window(uint32_t) override {}
    void redraw(Cell*) override {}
    void show_window(uint32_t) override {}
    bool do_events(bool) override { return false; }
    void exit_event_loop() override {}
    void request_font(Cell*, Cell*, bool, Cell*) override { raise_no_display(); }
    void request_file(Cell*, Cell*, Cell*, bool, bool, Cell*) override { raise_no_display(); }
    void request_dir(Cell*, Cell*, Cell*, bool, bool, Cell*) override { raise_no_display(); }
    void set_dark_mode(Cell*, bool) override {}
    bool support_dark_mode() override { return false; }
    void create_device() override {}
    bool send_event(Cell*, bool) override { return false; }
    void event_field(const Cell*, int32_t, Cell* out) override { *out = none::shared; }
    Cell* face_to_image(Cell*) override { raise_no_display(); }
};

NoDisplay no_display;
Backend* current = &no_display;

// ---- routines ------------------------------------------------------------------------------

Cell* result_slot() { return stack::push_slot(); }

Cell* make_null_handle(Cell**) { return handle::box(0, handle::subtype::none); }

Cell* fetch_all_screens(Cell**) {
    Cell* out = result_slot();
    *out = none::shared;
    backend().fetch_all_screens(out);
    return out;
}

Cell* get_current_screen(Cell**) {
    Cell* out = result_slot();
    *out = none::shared;
    backend().get_current_screen(out);
    return out;
}

Cell* get_screen_size(Cell** a) {
    Cell* out = result_slot();
    *out = none::shared;
    backend().get_screen_size(a[0]->int2(), out);
    return out;
}

Cell* size_text(Cell** a) {
    Cell* text = a[1];
    if (text->is(Type::none)) text = field_of(a[0], facet::text);
    else if (!text->is(Type::string)) scalar::raise_type(error::id::script_invalid_type, text->type());
    if (!text->is(Type::string)) return none::box();
    Cell* t = stack::push(text);  // held: the face's facet may change meanwhile
    Cell* size = stack::push_slot();
    point2D::make_at(size, 0.0f, 0.0f);
    if (!backend().get_text_size(a[0], t, size)) return none::box();
    return size;
}

Cell* on_change_facet(Cell** a) {
    Cell* new_value = a[4]->is(Type::none) ? nullptr : a[4];
    backend().update_facet(a[0], a[1], a[2], a[3], new_value, a[5]->int2(), a[6]->int2());
    return unset::box();
}

Cell* update_text(Cell** a) {
    backend().get_text_alt(a[0], -1);
    return none::box();
}

Cell* update_font(Cell** a) {
    backend().update_font(a[0], a[1]->int2());
    return none::box();
}

Cell* update_para(Cell** a) {
    backend().update_para(a[0], a[1]->int2());
    return none::box();
}

Cell* destroy_ridi(Cell** a) {
    backend().destroy_ridi(a[0], logic::truth(a[1]));
    return none::box();
}

Cell* detach_image(Cell** a) {
    ownership::unset(a[0]);
    return none::box();
}

Cell* update_ridi(Cell** a) {
    Cell* face = a[0];
    if (face->is(Type::block)) {
        int32_t n = series::length(face);
        for (int32_t i = 0; i < n; ++i) {
            const Cell* f = block::head(face) + i;
            if (!f->is(Type::object)) scalar::raise_type(error::id::script_invalid_type, f->type());
        }
        backend().update_views(face);
    } else if (face->is(Type::object)) {
        if (!typed_word(field_of(face, facet::type), "screen")) backend().update_ridi(face);
    } else {
        scalar::raise_type(error::id::script_invalid_type, face->type());
    }
    return none::box();
}

Cell* refresh_window(Cell** a) {
    backend().refresh_window(handle::value_of(a[0]));
    return unset::box();
}

Cell* redraw(Cell** a) {
    backend().redraw(a[0]);
    return unset::box();
}

Cell* show_window(Cell** a) {
    backend().show_window(handle::value_of(a[0]));
    return none::box();
}

Cell* make_ridi(Cell** a) {
    uint32_t h = backend().make_ridi(a[0], handle::value_of(a[1]));
    return handle::box(h, handle::subtype::window);
}

Cell* draw_image(Cell** a) {
    if (image::width(a[0]) == 0 || image::height(a[0]) == 0) return unset::box();
    if (!draw_engine.do_draw) error::raise(error::id::internal_not_done);
    draw_engine.do_draw(a[0], a[1]);
    ownership::check(a[0], symbol::make("poke"), nullptr, -1, -1);
    return unset::box();
}

Cell* draw_face(Cell** a) {
    if (!draw_engine.draw_face) error::raise(error::id::internal_not_done);
    draw_engine.draw_face(a[0], a[1]);
    return unset::box();
}

Cell* do_event_loop(Cell** a) { return library::answer(backend().do_events(logic::truth(a[0]))); }

Cell* exit_event_loop(Cell**) {
    backend().exit_event_loop();
    return unset::box();
}

Cell* request_font(Cell** a) {
    Cell* out = result_slot();
    *out = none::shared;
    backend().request_font(a[0], a[1], logic::truth(a[2]), out);
    return out;
}

Cell* request_file(Cell** a) {
    Cell* out = result_slot();
    *out = none::shared;
    backend().request_file(a[0], a[1], a[2], logic::truth(a[3]), logic::truth(a[4]), out);
    return out;
}

Cell* request_dir(Cell** a) {
    Cell* out = result_slot();
    *out = none::shared;
    backend().request_dir(a[0], a[1], a[2], logic::truth(a[3]), logic::truth(a[4]), out);
    return out;
}

Cell* text_box_metrics(Cell** a) {
    Cell* box = a[0];
    Cell type = *field_of(box, facet::type);
    if (!typed_word(&type, "rich-text")) error::raise(error::id::script_face_type, &type);
    if (!field_of(box, facet::text)->is(Type::string)) return none::box();
    if (!draw_engine.text_box_layout || !draw_engine.text_box_metrics) error::raise(error::id::internal_not_done);
    bool rebuild = true;
    if (has_field(box, facet::handles)) {
        Cell handles = *field_of(box, facet::handles);
        if (handles.is(Type::block) && series::length(&handles) > 0) {
            const Cell* last = block::head(&handles) + series::length(&handles) - 1;
            rebuild = last->is(Type::logic) ? logic::get(last) : true;
        }
    }
    if (rebuild) draw_engine.text_box_layout(box, nullptr, 0, false);
    Cell* out = result_slot();
    *out = none::shared;
    draw_engine.text_box_metrics(box, a[1], a[2]->int2(), out);
    return out;
}

Cell* update_scroller(Cell** a) {
    backend().update_scroller(a[0], a[1]->int2());
    return none::box();
}

Cell* set_dark_mode(Cell** a) {
    backend().set_dark_mode(a[0], logic::truth(a[1]));
    return unset::box();
}

Cell* support_dark_mode_q(Cell**) { return library::answer(backend().support_dark_mode()); }

Cell* toggle_gpu(Cell**) {
    backend().create_device();
    return unset::box();
}

Cell* gui_init(Cell**) {
    backend().init();
    return unset::box();
}

// ---- event! routines -----------------------------------------------------------------------

Cell* event_q(Cell** a) { return library::answer(a[0]->is(Type::event)); }

Cell* send_event_os(Cell** a) { return library::answer(backend().send_event(a[0], logic::truth(a[1]))); }

bool same_symbol(const Cell* w, int32_t flag) { return symbol::resolve(word::symbol_of(w)) == flag; }

Cell* find_flag_q(Cell** a) {
    int32_t flag = symbol::resolve(word::symbol_of(a[1]));
    Cell* facet = a[0];
    if (facet->is(Type::word)) return library::answer(same_symbol(facet, flag));
    if (facet->is(Type::block)) {
        int32_t n = series::length(facet);
        for (int32_t i = 0; i < n; ++i) {
            const Cell* c = block::head(facet) + i;
            if ((c->is(Type::word) || c->is(Type::lit_word)) && same_symbol(c, flag)) return library::answer(true);
        }
    }
    return library::answer(false);
}

// ---- start-up -----------------------------------------------------------------------------

Cell* render_face(Cell* face) { return backend().face_to_image(face); }

void read_event_field(const Cell* e, int32_t code, Cell* out) { backend().event_field(e, code, out); }

// The private context of the platform section: the routines that system/ridi/platform holds,
// under names of their own (os- and the platform word).
Ref platform_context() {
    static Ref made = 0;
    if (made) return made;
    library::PrivateContext p(40);
    p.add_routines({
        {"os-make-null-handle", make_null_handle, "", "handle/box 0 handle/CLASS_NULL"},
        {"os-fetch-all-screens", fetch_all_screens, "", "gui/OS-fetch-all-screens"},
        {"os-get-current-screen", get_current_screen, "", "gui/OS-get-current-screen"},
        {"os-get-screen-size", get_screen_size, "id [integer!]", "gui/get-screen-size id"},
        {"os-size-text", size_text, "face [object!] value [any-type!]", "gui/get-text-size face value"},
        {"os-on-change-facet", on_change_facet,
         "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index [integer!] part [integer!]",
         "gui/OS-update-facet owner word value action new index part"},
        {"os-update-text", update_text, "face [object!]", "gui/get-text-alt face -1"},
        {"os-update-font", update_font, "font [object!] flags [integer!]", "gui/update-font font flags"},
        {"os-update-para", update_para, "face [object!] flags [integer!]", "gui/update-para face flags"},
        {"os-destroy-ridi", destroy_ridi, "face [object!] empty? [logic!]", "gui/OS-destroy-ridi face empty?"},
        {"os-detach-image", detach_image, "img [image!]", "ownership/unbind img"},
        {"os-update-ridi", update_ridi, "face [any-type!]", "gui/OS-update-ridi face"},
        {"os-refresh-window", refresh_window, "h [handle!]", "gui/OS-refresh-window h"},
        {"os-redraw", redraw, "face [object!]", "gui/OS-redraw face"},
        {"os-show-window", show_window, "id [handle!]", "gui/OS-show-window id"},
        {"os-make-ridi", make_ridi, "face [object!] parent [handle!]", "gui/OS-make-ridi face parent"},
        {"os-draw-image", draw_image, "image [image!] cmds [block!]", "gui/OS-do-draw image cmds"},
        {"os-draw-face", draw_face, "face [object!] cmds [block!]", "gui/OS-draw-face face cmds"},
        {"os-do-event-loop", do_event_loop, "no-wait? [logic!]", "gui/do-events no-wait?"},
        {"os-exit-event-loop", exit_event_loop, "", "gui/exit-event-loop"},
        {"os-request-font", request_font, "font [object!] selected [any-type!] mono? [logic!]",
         "gui/OS-request-font font selected mono?"},
        {"os-request-file", request_file,
         "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]",
         "gui/OS-request-file title name filter save? multi?"},
        {"os-request-dir", request_dir,
         "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]",
         "gui/OS-request-dir title dir filter keep? multi?"},
        {"os-text-box-metrics", text_box_metrics, "box [object!] arg0 [any-type!] type [integer!]",
         "gui/OS-text-box-metrics box arg0 type"},
        {"os-update-scroller", update_scroller, "scroller [object!] flags [integer!]",
         "gui/update-scroller scroller flags"},
        {"os-set-dark-mode", set_dark_mode, "face [object!] dark? [logic!]", "gui/set-dark-mode face dark?"},
        {"os-support-dark-mode?", support_dark_mode_q, "return: [logic!]", "gui/support-dark-mode?"},
        {"os-toggle-GPU", toggle_gpu, "", "gui/DX-create-dev"},
        {"os-gui-init", gui_init, "", "gui/init"},
    });
    p.add("awake-entry", &none::shared);  // set by the section: awake under do-safe
    made = p.context();
    return made;
}

void bind_ridi() {
    event::init();
    // The datatype's word was made before event! registered: give it its value now.
    Cell* w = context::add_global(symbol::make("event!"));
    Cell word = *w, type;
    datatype::make_at(&type, static_cast<int>(Type::event));
    context::set(&word, &type);
    datatype::records[static_cast<int>(Type::event)].word = word;
    event::set_field_reader(read_event_field);
    image::set_face_renderer(render_face);
    library::define_routines({
        {"event?", event_q, R"~("Returns true if the value is this type" value [any-type!] return: [logic!])~",
         "event/is? value"},
        {"send-event-os", send_event_os, "event [event!] queued? [logic!] return: [logic!]",
         "gui/send-event event queued?"},
        {"find-flag?", find_flag_q, R"~("Checks a flag in a face object" facet [any-type!] flag [word!] return: [logic!])~",
         "find-flag? facet flag"},
    });
    library::add_section_context("04-platform", platform_context);
}

}  // namespace

Backend& backend() { return *current; }

void set_backend(Backend* b) { current = b ? b : &no_display; }

DrawEngine draw_engine;

void awake(Cell* event, Cell* out) {
    *out = unset::shared;
    Cell* slot = context::get_value_slot(symbol::make("awake-entry"), platform_context());
    if (!slot || !slot->is(Type::function)) return;
    Cell fn = *slot, args[1] = {*event};
    Cell name = scalar::word_of("awake-entry");
    Cell* mark = stack::arguments_top;
    try {
        interpreter::apply_function(&fn, &name, args, 1, out);
    } catch (const runtime::Throw& t) {
        std::string text = t.code == runtime::throw_error ? boot::describe_error(stack::top()) : "*** Throw in awake";
        stack::arguments_top = mark;
        runtime::print_line({text.c_str()});
        *out = unset::shared;
    }
}

void link() { boot::add_binder(bind_ridi); }

}  // namespace zuv::ridi
