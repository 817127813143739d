// Ridi's door into the backend: each routine of system/ridi/platform calls its one backend
// operation with the arguments it was given; backend events read their fields through the
// backend; the backend's way back (ridi::awake) never lets an error out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/event.h"
#include "datatypes/handle.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/context.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "ridi/platform.h"
#include "runtime_fixture.h"

namespace zuv::testing {
namespace {

// A backend that records each operation called, with its integer and flag arguments.
class Recorder final : public ridi::Backend {
public:
    std::vector<std::string> calls;
    void note(const std::string& s) { calls.push_back(s); }

    bool has_display() const override { return true; }
    void init() override { note("init"); }
    void fetch_all_screens(Cell* out) override { note("fetch-all-screens"); }
    void get_current_screen(Cell* out) override {
        note("get-current-screen");
        handle::make_at(out, 5, handle::subtype::monitor);
    }
    void get_screen_size(int32_t id, Cell* out) override {
        note("get-screen-size " + std::to_string(id));
        pair::make_at(out, 640, 480);
    }
    bool get_text_size(Cell*, Cell* text, Cell*) override {
        note("get-text-size " + form(*text));
        return true;
    }
    void update_facet(Cell*, Cell* word, Cell*, Cell* action, Cell* new_value, int32_t index, int32_t part) override {
        note("update-facet " + form(*word) + " " + form(*action) + (new_value ? " new " : " null ") +
             std::to_string(index) + " " + std::to_string(part));
    }
    void get_text_alt(Cell*, int32_t index) override { note("get-text-alt " + std::to_string(index)); }
    void update_font(Cell*, int32_t field) override { note("update-font " + std::to_string(field)); }
    void update_para(Cell*, int32_t field) override { note("update-para " + std::to_string(field)); }
    void update_scroller(Cell*, int32_t field) override { note("update-scroller " + std::to_string(field)); }
    uint32_t make_ridi(Cell*, uint32_t parent) override {
        note("make-ridi " + std::to_string(parent));
        return 42;
    }
    void destroy_ridi(Cell*, bool empty) override { note(std::string("destroy-ridi ") + (empty ? "yes" : "no")); }
    void update_views(Cell*) override { note("update-views"); }
    void update_ridi(Cell*) override { note("update-ridi"); }
    void refresh_window(uint32_t h) override { note("refresh-window " + std::to_string(h)); }
    void redraw(Cell*) override { note("redraw"); }
    void show_window(uint32_t h) override { note("show-window " + std::to_string(h)); }
    bool do_events(bool no_wait) override {
        note(std::string("do-events ") + (no_wait ? "no-wait" : "wait"));
        return no_wait;
    }
    void exit_event_loop() override { note("exit-event-loop"); }
    void request_font(Cell*, Cell*, bool mono, Cell*) override { note(std::string("request-font ") + (mono ? "mono" : "all")); }
    void request_file(Cell*, Cell*, Cell*, bool save, bool multi, Cell*) override {
        note(std::string("request-file ") + (save ? "save" : "open") + (multi ? " multi" : ""));
    }
    void request_dir(Cell*, Cell*, Cell*, bool keep, bool, Cell*) override {
        note(std::string("request-dir") + (keep ? " keep" : ""));
    }
    void set_dark_mode(Cell*, bool dark) override { note(std::string("set-dark-mode ") + (dark ? "dark" : "light")); }
    bool support_dark_mode() override {
        note("support-dark-mode?");
        return true;
    }
    void create_device() override { note("create-device"); }
    bool send_event(Cell*, bool queued) override {
        note(std::string("send-event ") + (queued ? "queued" : "now"));
        return true;
    }
    void event_field(const Cell*, int32_t code, Cell* out) override {
        note("event-field " + std::to_string(code));
        pair::make_at(out, 3, 4);
    }
    Cell* face_to_image(Cell*) override {
        note("face-to-image");
        return none::push();
    }
};

class RidiPlatform : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        boot_language();
        stack::push_slot();
        ridi::set_backend(&recorder);
    }
    void TearDown() override { ridi::set_backend(nullptr); }

    Cell eval(const std::string& code) {
        Cell r;
        boot::run_text(code, "test", &r);
        return *stack::push(&r);
    }

    Recorder recorder;
};

// Each routine, called with its arguments, and the one backend call it makes.
TEST_F(RidiPlatform, EachRoutineCallsItsOneBackendOperation) {
    eval("rp-face: make face! [type: 'base text: \"hi\"] rp-font: make font! []");
    struct Case {
        const char* code;
        const char* call;
        const char* result;
    };
    const Case cases[] = {
        {"p/get-current-screen", "get-current-screen", "handle!"},
        {"p/get-screen-size 2", "get-screen-size 2", "640x480"},
        {"p/size-text rp-face none", "get-text-size hi", "(0, 0)"},
        {"p/size-text rp-face \"abc\"", "get-text-size abc", "(0, 0)"},
        {"p/on-change-facet rp-face 'data [] 'appended none 2 1", "update-facet data appended null 2 1", "unset"},
        {"p/on-change-facet rp-face 'pane [] 'inserted 5 0 3", "update-facet pane inserted new 0 3", "unset"},
        {"p/update-text rp-face", "get-text-alt -1", "none"},
        {"p/update-font rp-font 1", "update-font 1", "none"},
        {"p/update-para rp-face 3", "update-para 3", "none"},
        {"p/destroy-ridi rp-face yes", "destroy-ridi yes", "none"},
        {"p/update-ridi rp-face", "update-ridi", "none"},
        {"p/update-ridi reduce [rp-face rp-face]", "update-views", "none"},
        {"p/refresh-window p/make-null-handle", "refresh-window 0", "unset"},
        {"p/redraw rp-face", "redraw", "unset"},
        {"p/show-window p/make-null-handle", "show-window 0", "none"},
        {"p/make-ridi rp-face p/make-null-handle", "make-ridi 0", "handle!"},
        {"p/do-event-loop yes", "do-events no-wait", "true"},
        {"p/do-event-loop no", "do-events wait", "false"},
        {"p/exit-event-loop", "exit-event-loop", "unset"},
        {"p/request-font rp-font none yes", "request-font mono", "none"},
        {"p/request-file none none none yes yes", "request-file save multi", "none"},
        {"p/request-dir \"t\" none none yes no", "request-dir keep", "none"},
        {"p/update-scroller make scroller! [] 4", "update-scroller 4", "none"},
        {"p/set-dark-mode rp-face yes", "set-dark-mode dark", "unset"},
        {"p/support-dark-mode?", "support-dark-mode?", "true"},
        {"p/toggle-GPU", "create-device", "unset"},
        {"send-event/no-wait make event! [type: 'click]", "send-event queued", "true"},
        {"send-event make event! [type: 'click]", "send-event now", "true"},
    };
    for (const Case& c : cases) {
        recorder.calls.clear();
        Cell r = eval(std::string("p: system/ridi/platform set/any 'rp-r ") + c.code + " :rp-r");
        std::string got = r.is(Type::unset) ? "unset" : r.is(Type::handle) ? "handle!" : mold(r);
        ASSERT_EQ(recorder.calls.size(), 1u) << c.code;
        EXPECT_EQ(recorder.calls[0], c.call) << c.code;
        EXPECT_EQ(got, c.result) << c.code;
    }
}

// A screen face is never updated; faces not realised make no call for a made face's text.
TEST_F(RidiPlatform, NoCallsWhereThereIsNothingToDo) {
    recorder.calls.clear();
    eval("p: system/ridi/platform p/update-ridi make face! [type: 'screen]"
         " p/size-text make face! [] none p/draw-image make image! 0x5 [] p/update-ridi []");
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0], "update-views") << "an empty block still goes as one call";
}

// The fields a backend event does not carry itself come from the backend's readers; the type
// and the flags come from the cell.
TEST_F(RidiPlatform, BackendEventsReadTheirFieldsThroughTheBackend) {
    Cell* e = stack::push_slot();
    event::make_at(e, event::type::click, 99, event::flag::down | event::flag::shift | 'k');
    Cell* word = context::add_global(symbol::make("rp-event"));
    Cell w = *word;
    context::set(&w, e);
    recorder.calls.clear();
    EXPECT_EQ(mold(eval("reduce [rp-event/type rp-event/down? rp-event/shift? rp-event/flags]")),
              "[click true true [shift down]]");
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(mold(eval("rp-event/offset")), "3x4");
    EXPECT_EQ(mold(eval("pick rp-event 5")), "3x4");
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[0], "event-field 4");
    EXPECT_EQ(recorder.calls[1], "event-field 5");
}

// The backend hands every event to ridi::awake: actors run, an actor's error is printed and
// stays there, and the stacks are as they were.
TEST_F(RidiPlatform, AwakeRunsActorsAndKeepsTheirErrorsIn) {
    eval("rp-log: copy [] rp-b: make face! [type: 'button actors: make object! ["
         " on-click: func [f e][append rp-log 'click 'done]"
         " on-key: func [f e][append rp-log 'key 1 / 0]]]");
    Cell* before = stack::arguments_top;
    Cell out;
    Cell click = eval("make event! [type: 'click face: rp-b]");
    ridi::awake(&click, &out);
    EXPECT_EQ(mold(out), "done");
    Cell key = eval("make event! [type: 'key face: rp-b]");
    ridi::awake(&key, &out);
    EXPECT_TRUE(out.is(Type::unset));
    Cell none_face = eval("make event! [type: 'click]");
    ridi::awake(&none_face, &out);
    EXPECT_TRUE(out.is(Type::unset));
    EXPECT_EQ(mold(eval("rp-log")), "[click key]");
    EXPECT_EQ(stack::arguments_top, before + 4) << "only this test's own values stay on the stack";
}

}  // namespace
}  // namespace zuv::testing
