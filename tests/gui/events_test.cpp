// Input through the real GDK dispatch: GDK events put on its queue reach the filter and
// come out as events with their fields (offsets in logical pixels at the test's scale,
// keys, wheel steps, flags); windows report move, resize, focus and close; a face freed in
// its own handler and events for freed views are harmless.
#include <cstdlib>

#include <gdk/gdkkeysyms.h>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "gui_fixture.h"

namespace zuv::testing {
namespace {

using gui::ev::control;
using gui::ev::down;
using gui::ev::shift;
namespace t = gui::type;

class Events : public GuiTest {
protected:
    Cell win, base;
    void SetUp() override {
        GuiTest::SetUp();
        base = face("b", "type: 'base offset: 20x30 size: 100x80 color: 200.200.200");
        win = face("w", "type: 'window offset: 10x10 size: 300x200 pane: reduce [b]");
        realise(win);
        show(win);
    }
};

TEST_F(Events, TheDisplayResolutionSetsTheScale) {
    const char* want = std::getenv("ZUV_TEST_XFT_DPI");
    if (!want) GTEST_SKIP() << "run by ctest with ZUV_TEST_XFT_DPI";
    EXPECT_EQ(gui::dpi, std::atoi(want));
    EXPECT_DOUBLE_EQ(gui::scale, std::atoi(want) / 96.0);
    EXPECT_EQ(gtk_widget_get_allocated_width(view(win)->container), dev(300));
}

TEST_F(Events, PointerMovesAreOverEventsOnceEachAndAwayOnLeaving) {
    put(event_for(base, GDK_MOTION_NOTIFY, dev(10), dev(12)));
    put(event_for(base, GDK_MOTION_NOTIFY, dev(10), dev(12)));  // the same place: dropped
    put(event_for(base, GDK_MOTION_NOTIFY, dev(14), dev(12)));  // a move within: no new over
    put(event_for(base, GDK_LEAVE_NOTIFY, dev(200), dev(12)));
    auto over = of_type(t::over);
    ASSERT_EQ(over.size(), 2u);
    EXPECT_EQ(over[0].face, "b");
    EXPECT_EQ(over[0].window, "w");
    EXPECT_NEAR(over[0].x, 10, 0.01);
    EXPECT_NEAR(over[0].y, 12, 0.01);
    EXPECT_FALSE(over[0].flags & gui::ev::away);
    EXPECT_TRUE(over[1].flags & gui::ev::away);
    // With all-over every move is reported.
    gui::View* v = view(base);
    v->flags |= gui::flag::all_over;
    events.clear();
    put(event_for(base, GDK_MOTION_NOTIFY, dev(20), dev(20)));
    put(event_for(base, GDK_MOTION_NOTIFY, dev(22), dev(20)));
    EXPECT_EQ(of_type(t::over).size(), 2u);
}

TEST_F(Events, ButtonsClicksAndDoubleClicks) {
    struct Case {
        guint button;
        int32_t press, release;
        uint32_t held;
    };
    const Case cases[] = {{1, t::down, t::up, gui::ev::down},
                          {2, t::mid_down, t::mid_up, gui::ev::mid_down},
                          {3, t::alt_down, t::alt_up, gui::ev::alt_down},
                          {8, t::aux_down, t::aux_up, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        events.clear();
        GdkEvent* p = event_for(base, GDK_BUTTON_PRESS, dev(6), dev(8));
        p->button.button = c.button;
        put(p);
        GdkEvent* r = event_for(base, GDK_BUTTON_RELEASE, dev(6), dev(8));
        r->button.button = c.button;
        r->button.state = c.button == 1 ? GDK_BUTTON1_MASK : c.button == 2 ? GDK_BUTTON2_MASK
                          : c.button == 3                     ? GDK_BUTTON3_MASK
                                                              : 0;
        put(r);
        ASSERT_EQ(types(), (std::vector<int32_t>{c.press, c.release}));
        EXPECT_EQ(events[0].face, "b");
        EXPECT_NEAR(events[0].x, 6, 0.01);
        // The pressed button counts as held on its press and no more on its release.
        EXPECT_EQ(events[0].flags & c.held, c.held);
        EXPECT_EQ(events[1].flags & (gui::ev::down | gui::ev::mid_down | gui::ev::alt_down), 0u);
        EXPECT_EQ(events[0].picked, "none");
    }
    events.clear();
    put(event_for(base, GDK_BUTTON_PRESS, 5, 5));
    put(event_for(base, GDK_BUTTON_RELEASE, 5, 5));
    put(event_for(base, GDK_BUTTON_PRESS, 5, 5));
    put(event_for(base, GDK_2BUTTON_PRESS, 5, 5));
    put(event_for(base, GDK_BUTTON_RELEASE, 5, 5));
    EXPECT_EQ(types(), (std::vector<int32_t>{t::down, t::up, t::down, t::dbl_click, t::up}));
    // A control-press carries the control flag.
    events.clear();
    GdkEvent* p = event_for(base, GDK_BUTTON_PRESS, 5, 5);
    p->button.state = GDK_CONTROL_MASK;
    put(p);
    EXPECT_EQ(events.at(0).flags & (control | down), control | down);
}

TEST_F(Events, WheelStepsArePicked) {
    struct Case {
        GdkScrollDirection dir;
        double dy;
        const char* picked;
    };
    const Case cases[] = {{GDK_SCROLL_UP, 0, "1.0"}, {GDK_SCROLL_DOWN, 0, "-1.0"}, {GDK_SCROLL_SMOOTH, -2, "2.0"},
                          {GDK_SCROLL_SMOOTH, 0.5, "-0.5"}};
    for (const Case& c : cases) {
        events.clear();
        GdkEvent* e = event_for(base, GDK_SCROLL, dev(4), dev(4));
        e->scroll.direction = c.dir;
        e->scroll.delta_y = c.dy;
        put(e);
        auto w = of_type(t::wheel);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0].picked, c.picked);
        EXPECT_EQ(w[0].key, "wheel");
        EXPECT_NEAR(w[0].x, 4, 0.01);
    }
    // Sideways scrolling is not a wheel turn.
    events.clear();
    GdkEvent* e = event_for(base, GDK_SCROLL, 4, 4);
    e->scroll.direction = GDK_SCROLL_LEFT;
    put(e);
    EXPECT_TRUE(of_type(t::wheel).empty());
}

void press(const Cell& f, guint keyval, guint state = 0, bool release = true) {
    GdkEvent* e = event_for(f, GDK_KEY_PRESS);
    e->key.keyval = keyval;
    e->key.state = state;
    put(e);
    if (!release) return;
    GdkEvent* r = event_for(f, GDK_KEY_RELEASE);
    r->key.keyval = keyval;
    r->key.state = state;
    put(r);
}

TEST_F(Events, KeysGiveCharactersKeyWordsAndModifiers) {
    struct Case {
        guint keyval;
        guint state;
        std::vector<int32_t> types;
        std::vector<std::string> keys;
        uint32_t flags;  // of the key-down
    };
    const Case cases[] = {
        {GDK_KEY_a, 0, {t::key_down, t::key, t::key_up}, {"#\"A\"", "#\"a\"", "#\"A\""}, 0},
        {GDK_KEY_A, GDK_SHIFT_MASK, {t::key_down, t::key, t::key_up}, {"#\"A\"", "#\"A\"", "#\"A\""}, shift},
        {GDK_KEY_Left, 0, {t::key_down, t::key, t::key_up}, {"left", "left", "left"}, 0},
        {GDK_KEY_F5, 0, {t::key_down, t::key, t::key_up}, {"F5", "F5", "F5"}, 0},
        {GDK_KEY_Page_Down, 0, {t::key_down, t::key, t::key_up}, {"page-down", "page-down", "page-down"}, 0},
        {GDK_KEY_Shift_L, 0, {t::key_down, t::key_up}, {"left-shift", "left-shift"}, shift},
        {GDK_KEY_Control_R, 0, {t::key_down, t::key_up}, {"right-control", "right-control"}, control},
        {GDK_KEY_Return, 0, {t::key_down, t::key, t::key_up}, {"#\"^M\"", "#\"^M\"", "#\"^M\""}, 0},
        {GDK_KEY_a, GDK_CONTROL_MASK, {t::key_down, t::key, t::key_up}, {"#\"A\"", "#\"a\"", "#\"A\""}, control},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(gdk_keyval_name(c.keyval));
        events.clear();
        press(win, c.keyval, c.state);
        ASSERT_EQ(types(), c.types);
        for (size_t i = 0; i < c.keys.size(); ++i) EXPECT_EQ(events[i].key, c.keys[i]) << i;
        EXPECT_EQ(events[0].flags & (shift | control | gui::ev::alt), c.flags);
        EXPECT_EQ(events[0].face, "w");
    }
}

TEST_F(Events, ACharacterOutsideTheBasicPlaneIsOneKeyEventWithoutFlags) {
    press(win, 0x0101F600, GDK_SHIFT_MASK);  // an emoji's key symbol
    auto keys = of_type(t::key);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].flags, 0x1F600u);
    EXPECT_EQ(keys[0].key, "#\"\U0001F600\"");
}

TEST_F(Events, AStopAnswerToKeyDownKeepsTheCharacter) {
    hook = [](const Record& r) { return r.type == t::key_down; };
    press(win, GDK_KEY_x);
    EXPECT_EQ(types(), (std::vector<int32_t>{t::key_down, t::key_up}));
}

TEST_F(Events, AFocusableFaceTakesTheKeyboardWhenPressed) {
    // Keys go to the window while no face holds the focus.
    press(win, GDK_KEY_q);
    EXPECT_EQ(of_type(t::key).at(0).face, "w");
    eval("b/flags: 'focusable");
    mark(base, 0x800);
    gui::update_ridi(&base);
    gtk_window_present(GTK_WINDOW(view(win)->widget));
    GdkEvent* in = event_for(win, GDK_FOCUS_CHANGE);
    in->focus_change.in = TRUE;
    put(in);
    events.clear();
    put(event_for(base, GDK_BUTTON_PRESS, 5, 5));
    put(event_for(base, GDK_BUTTON_RELEASE, 5, 5));
    ASSERT_TRUE(wait_for([] { return !of_type(t::focus).empty(); }));
    EXPECT_EQ(of_type(t::focus).at(0).face, "b");
    EXPECT_TRUE(eval("same? w/selected b").int1());
    events.clear();
    press(win, GDK_KEY_q);
    ASSERT_FALSE(of_type(t::key).empty());
    EXPECT_EQ(of_type(t::key).at(0).face, "b");
    EXPECT_EQ(of_type(t::key).at(0).window, "w");
}

TEST_F(Events, FocusAndCloseOfWindows) {
    GdkEvent* in = event_for(win, GDK_FOCUS_CHANGE);
    in->focus_change.in = TRUE;
    put(in);
    GdkEvent* out = event_for(win, GDK_FOCUS_CHANGE);
    out->focus_change.in = FALSE;
    put(out);
    EXPECT_EQ(types(), (std::vector<int32_t>{t::focus, t::unfocus}));
    // Close: the window stays; a stop answer ends the innermost loop (a quit request).
    events.clear();
    int32_t quits = gui::quit_requests;
    put(event_for(win, GDK_DELETE));
    EXPECT_EQ(types(), (std::vector<int32_t>{t::close}));
    EXPECT_EQ(gui::quit_requests, quits);
    EXPECT_TRUE(gtk_widget_get_visible(view(win)->widget));
    hook = [](const Record& r) { return r.type == t::close; };
    put(event_for(win, GDK_DELETE));
    EXPECT_EQ(gui::quit_requests, quits + 1);
    EXPECT_NE(view(win), nullptr);
}

TEST_F(Events, MovesAndResizesOfAWindowUpdateItsFacets) {
    gui::View* v = view(win);
    gtk_window_move(GTK_WINDOW(v->widget), dev(100), dev(120));
    ASSERT_TRUE(wait_for([] { return !of_type(t::move).empty(); }));
    auto m = of_type(t::move).back();
    EXPECT_NEAR(m.x, 100, 0.01);
    EXPECT_NEAR(m.y, 120, 0.01);
    EXPECT_EQ(m.face, "w");
    Cell off = eval("w/offset");
    double x, y;
    ASSERT_TRUE(gui::planar(&off, &x, &y));
    EXPECT_NEAR(x, 100, 0.01);
    EXPECT_NEAR(y, 120, 0.01);
    EXPECT_TRUE(of_type(t::moving).empty()) << "a program's move is no drag";

    // A resizable window, resized by the program.
    Cell big = face("big", "type: 'window size: 200x100 flags: 'resize");
    realise(big);
    show(big);
    v = view(big);
    gtk_window_resize(GTK_WINDOW(v->widget), dev(320), dev(240));
    ASSERT_TRUE(wait_for([] { return !of_type(t::resize).empty(); }));
    auto r = of_type(t::resize).back();
    EXPECT_EQ(r.face, "big");
    EXPECT_NEAR(r.x, 320, 0.01);
    EXPECT_NEAR(r.y, 240, 0.01);
    // The window's size was given as a pair: the facet stays one.
    EXPECT_TRUE(eval("pair? big/size").int1());
    EXPECT_EQ(eval("big/size").int2(), 320);
    EXPECT_EQ(eval("big/size").int3(), 240);
}

TEST_F(Events, AFaceFreedInItsOwnHandlerAndEventsForFreedViews) {
    hook = [this](const Record& r) {
        if (r.type == t::down && r.face == "b") gui::destroy_ridi(&base, false);
        return false;
    };
    GdkEvent* late = event_for(base, GDK_BUTTON_RELEASE, 5, 5);
    put(event_for(base, GDK_BUTTON_PRESS, 5, 5));
    EXPECT_EQ(view(base), nullptr);
    // Its release, and a move over where it was, come to nothing.
    put(late);
    EXPECT_EQ(types(), (std::vector<int32_t>{t::down}));
    // Fields of an event read after its message is over are none.
    Cell stale;
    cell::make(&stale, Type::event, t::down, 1, 0);
    Cell out;
    gui::event_field(&stale, 2, &out);
    EXPECT_TRUE(out.is(Type::none));
}

TEST_F(Events, TouchpadPinchesAndSwipesAreGestures) {
    auto pinch = [&](GdkTouchpadGesturePhase phase, double scale, double angle) {
        GdkEvent* e = event_for(base, GDK_TOUCHPAD_PINCH, dev(8), dev(9));
        e->touchpad_pinch.phase = phase;
        e->touchpad_pinch.scale = scale;
        e->touchpad_pinch.angle_delta = angle;
        e->touchpad_pinch.x = dev(8);
        e->touchpad_pinch.y = dev(9);
        e->touchpad_pinch.n_fingers = 2;
        put(e);
    };
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0, 0);
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 1.0, 0);
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 1.5, 0);
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 1.5, G_PI / 2);
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_END, 1.5, 0);
    auto zoom = of_type(t::zoom);
    ASSERT_EQ(zoom.size(), 3u);
    EXPECT_EQ(zoom[0].picked, "none") << "the first step of a pinch only starts it";
    EXPECT_EQ(zoom[1].picked, "150%");
    EXPECT_EQ(zoom[2].picked, "100%");
    EXPECT_EQ(zoom[0].face, "b");
    EXPECT_NEAR(zoom[0].x, 8, 0.01);
    auto rotate = of_type(t::rotate);
    ASSERT_EQ(rotate.size(), 1u);
    EXPECT_EQ(rotate[0].picked, "90");
    // A new pinch starts afresh.
    events.clear();
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_BEGIN, 1.0, 0);
    pinch(GDK_TOUCHPAD_GESTURE_PHASE_UPDATE, 2.0, 0);
    EXPECT_EQ(of_type(t::zoom).at(0).picked, "none");
    GdkEvent* swipe = event_for(base, GDK_TOUCHPAD_SWIPE, 4, 4);
    swipe->touchpad_swipe.phase = GDK_TOUCHPAD_GESTURE_PHASE_UPDATE;
    swipe->touchpad_swipe.dy = 12;
    swipe->touchpad_swipe.n_fingers = 3;
    put(swipe);
    EXPECT_EQ(of_type(t::pan).at(0).picked, "12");
}

TEST_F(Events, MadeEventsGoThroughTheSamePath) {
    // A made event: its face, window, offset and picked in a series of four.
    Cell* spec = block::push_new(4);
    block::append(spec, &base);
    none::make_in(spec);
    pair::make_in(spec, 7, 9);
    integer::make_in(spec, 2);  // wheel steps
    for (int32_t type : {t::down, t::up, t::over, t::wheel, t::key, t::key_down, t::key_up}) {
        SCOPED_TRACE(type);
        events.clear();
        Cell e;
        cell::make(&e, Type::event, static_cast<uint32_t>(type), spec->data2,
                   0x10000 | (type >= t::key ? 'q' : 0));
        EXPECT_TRUE(gui::send_event(&e, false));
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events[0].type, type == t::key ? t::key_down : type);
        if (type <= t::over) EXPECT_NEAR(events[0].x, dev(7) / gui::scale, 0.01) << "through whole device pixels";
        if (type == t::wheel) EXPECT_EQ(events[0].picked, "2.0");
        if (type >= t::key) EXPECT_EQ(events[0].key, type == t::key_up ? "#\"Q\"" : "#\"Q\"");
    }
    // A face without a view, or a type without a native counterpart: nothing sent.
    Cell e;
    cell::make(&e, Type::event, static_cast<uint32_t>(t::time), spec->data2, 0x10000);
    EXPECT_FALSE(gui::send_event(&e, false));
    Cell loose = face("loose", "type: 'base");
    *block::head(spec) = loose;
    cell::make(&e, Type::event, static_cast<uint32_t>(t::down), spec->data2, 0x10000);
    EXPECT_FALSE(gui::send_event(&e, false));
}

}  // namespace
}  // namespace zuv::testing
