// Native views of faces: made under their parents at their device positions and sizes,
// changed in the order of their change bits, freed with their children; timers; base faces
// painting through their colour, draw block and on-drawing; layered windows.

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "memory/error.h"
#include "gui_fixture.h"
#include "library/boot.h"
#include "memory/slots.h"
#include "memory/stack.h"
#include "runtime/throw.h"

namespace zuv::testing {
namespace {

class Lifecycle : public GuiTest {};

// Device position of a child view inside its window's client area.
void position_in_window(gui::View* child, gui::View* window, int* x, int* y) {
    gtk_widget_translate_coordinates(child->widget, window->container, 0, 0, x, y);
}

// The error id a call raised, or "" when it raised none; the stacks come back as they were.
std::string raised(const std::function<void()>& f) {
    Cell* top = stack::arguments_top;
    Cell* base = stack::arguments_base;
    Cell saved = *base;
    stack::CallFrame* calls = stack::calls_top;
    try {
        f();
        return "";
    } catch (const runtime::Throw&) {
        stack::arguments_top = top;
        stack::arguments_base = base;
        *base = saved;
        stack::calls_top = calls;
        return error::id_name(error::last.id);
    }
}

TEST_F(Lifecycle, EachContainerTypeIsMadePlacedUpdatedAndFreed) {
    struct Case {
        const char* type;
        bool is_frame;
    };
    const Case cases[] = {{"panel", false}, {"base", false}, {"group-box", true}, {"button", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Cell inner = face("inner", "type: 'base offset: 4x6 size: 10x8");
        Cell child = face("child", std::string("type: '") + c.type +
                                       " offset: 10x20 size: 80x40 text: \"T\" pane: reduce [inner]");
        Cell win = face("win", "type: 'window offset: 40x50 size: 300x200 text: \"Faces\" pane: reduce [child]");
        realise(win);
        show(win);
        gui::View* w = view(win);
        gui::View* v = view(child);
        ASSERT_NE(v, nullptr);
        EXPECT_TRUE(GTK_IS_WINDOW(w->widget));
        EXPECT_EQ(c.is_frame, GTK_IS_FRAME(v->widget));
        EXPECT_EQ(gtk_widget_get_parent(v->widget), w->container);
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_width(v->widget) == dev(80); }));
        EXPECT_EQ(gtk_widget_get_allocated_height(v->widget), dev(40));
        int x, y;
        position_in_window(v, w, &x, &y);
        EXPECT_EQ(x, dev(10));
        EXPECT_EQ(y, dev(20));
        EXPECT_EQ(view(inner) != nullptr, true);
        EXPECT_EQ(gtk_widget_get_parent(view(inner)->widget), v->container);
        // The view's face is the face it was made for.
        EXPECT_EQ(gui::view_face(v)->data1, child.data1);

        // Changes: new place and size, then hidden; the bits are cleared.
        eval("child/offset: 30x44 child/size: 60x30");
        mark(child, 0x2 | 0x4);
        gui::update_ridi(&child);
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_width(v->widget) == dev(60); }));
        position_in_window(v, w, &x, &y);
        EXPECT_EQ(x, dev(30));
        EXPECT_EQ(y, dev(44));
        EXPECT_EQ(eval("child/state/2").int2(), 0);
        eval("child/visible?: false");
        mark(child, 0x200);
        gui::update_ridi(&child);
        EXPECT_FALSE(gtk_widget_get_visible(v->widget));

        // Freed with the window: every handle and slot of the tree goes, states become none.
        int32_t slot = v->slot;
        uint32_t handles[] = {w->handle, v->handle, view(inner)->handle};
        gui::destroy_ridi(&win, false);
        for (uint32_t h : handles) EXPECT_EQ(gui::view_of_handle(h), nullptr);
        EXPECT_TRUE(eval("none? child/state").int1());
        EXPECT_TRUE(eval("none? inner/state").int1());
        EXPECT_TRUE(eval("none? win/state").int1());
        EXPECT_TRUE(slots::get(slot)->is(Type::integer)) << "the slot is free again";
        pump();
        eval("clear test-faces");
    }
}

TEST_F(Lifecycle, WindowsTakeTheirTitleSizeAndFlags) {
    Cell w1 = face("w1", "type: 'window size: -1x-1 text: \"Hello\"");
    realise(w1);
    gui::View* v = view(w1);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(v->widget)), "Hello");
    show(w1);
    EXPECT_EQ(gtk_widget_get_allocated_width(v->container), dev(200)) << "-1x-1 becomes 200x200";
    EXPECT_TRUE(gtk_window_get_decorated(GTK_WINDOW(v->widget)));
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(v->widget)));

    Cell w2 = face("w2", "type: 'window size: 120x90 flags: [resize no-title]");
    realise(w2);
    gui::View* v2 = view(w2);
    EXPECT_FALSE(gtk_window_get_decorated(GTK_WINDOW(v2->widget)));
    EXPECT_TRUE(gtk_window_get_resizable(GTK_WINDOW(v2->widget)));
    EXPECT_EQ(v2->flags, gui::flag::resize | gui::flag::no_title);

    // A new title and flags through an update.
    eval("w1/text: \"Again\" w1/flags: 'no-border");
    mark(w1, 0x8 | 0x800);
    gui::update_ridi(&w1);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(v->widget)), "Again");
    EXPECT_FALSE(gtk_window_get_decorated(GTK_WINDOW(v->widget)));
    EXPECT_EQ(v->flags, gui::flag::no_border);
}

TEST_F(Lifecycle, BadFacesRaiseTheirErrors) {
    Cell odd = face("odd", "type: 'no-such-face");
    EXPECT_EQ(raised([&] { gui::make_ridi(&odd, 0); }), "face-type");
    Cell flagged = face("flagged", "type: 'window flags: 'no-such-flag");
    EXPECT_EQ(raised([&] { gui::make_ridi(&flagged, 0); }), "invalid-arg");
    for (const char* rate : {"0", "0:00:00", "\"fast\"", "-2"}) {
        SCOPED_TRACE(rate);
        Cell r = face("r", std::string("type: 'window rate: ") + rate);
        EXPECT_EQ(raised([&] { realise(r); }), "invalid-facet-type");
    }
    // A rate change that fails keeps its bit for the next update.
    Cell w = face("w", "type: 'window size: 50x50");
    realise(w);
    eval("w/rate: 'never");
    mark(w, 0x10000);
    EXPECT_EQ(raised([&] { gui::update_ridi(&w); }), "invalid-facet-type");
    EXPECT_EQ(eval("w/state/2").int2(), 0x10000);
}

TEST_F(Lifecycle, ANativeFailureIsReportedOnOneLineAndWorkGoesOn) {
    // A child face with no parent view cannot be made: one line, no view, no error.
    Cell orphan = face("orphan", "type: 'base size: 10x10");
    ::testing::internal::CaptureStdout();
    uint32_t h = gui::make_ridi(&orphan, 0);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(out, "*** Ridi Error: a face needs a parent view to be made in\n");
    Cell w = face("after", "type: 'window size: 20x20");
    EXPECT_NE(realise(w), 0u);
}

TEST_F(Lifecycle, AChildReachingPastItsParentIsCutAtTheParentsEdge) {
    for (const char* type : {"base", "panel"}) {
        SCOPED_TRACE(type);
        face("wide", "type: 'base offset: 20x20 size: 300x60 color: 255.0.0");
        Cell holder = face("holder", std::string("type: '") + type +
                                         " offset: 10x10 size: 100x80 color: 0.0.255 pane: reduce [wide]");
        Cell win = face("win", "type: 'window offset: 40x50 size: 260x160 pane: reduce [holder]");
        realise(win);
        show(win);
        gui::View* v = view(holder);
        EXPECT_EQ(gtk_widget_get_allocated_width(v->widget), dev(100));
        EXPECT_EQ(gtk_widget_get_allocated_height(v->widget), dev(80));
        // Beside the parent the window shows through, not the child.
        eval("probe: to image! win");
        std::string inside = std::to_string(dev(60)) + "x" + std::to_string(dev(40));
        std::string beside = std::to_string(dev(150)) + "x" + std::to_string(dev(40));
        EXPECT_TRUE(eval("255.0.0.0 = pick probe " + inside).int1()) << "the child shows inside its parent";
        EXPECT_FALSE(eval("255.0.0.0 = pick probe " + beside).int1());
        gui::destroy_ridi(&win, false);
        pump();
        eval("clear test-faces");
    }
}

TEST_F(Lifecycle, RateTicksUntilItIsTakenAway) {
    Cell w = face("ticker", "type: 'window size: 50x50 rate: 50");
    realise(w);
    ASSERT_TRUE(wait_for([] { return of_type(gui::type::time).size() >= 3; }));
    EXPECT_EQ(of_type(gui::type::time)[0].face, "ticker");
    eval("ticker/rate: none");
    mark(w, 0x10000);
    gui::update_ridi(&w);
    pump();
    size_t seen = of_type(gui::type::time).size();
    g_usleep(100000);
    pump();
    EXPECT_EQ(of_type(gui::type::time).size(), seen);
}

// A pixel of a window's client area, read back from the screen.
uint32_t pixel(gui::View* w, int x, int y) {
    GdkPixbuf* p = gdk_pixbuf_get_from_window(gtk_widget_get_window(w->container), x, y, 1, 1);
    if (!p) return 0xFFFFFFFF;
    const guchar* px = gdk_pixbuf_get_pixels(p);
    uint32_t rgb = (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
    g_object_unref(p);
    return rgb;
}

TEST_F(Lifecycle, BaseFacesPaintColourDrawBlockAndOnDrawing) {
    Cell red = face("red", "type: 'base offset: 0x0 size: 40x40 color: 255.0.0");
    Cell drawn = face("drawn", "type: 'base offset: 50x0 size: 40x40 draw: [pen off fill-pen 0.0.255 box 0x0 40x40]");
    Cell actor = face("actor", "type: 'base offset: 100x0 size: 40x40 color: 0.255.0"
                               " actors: make object! [on-drawing: func [face event][]]");
    // No colour: see-through, only its drawing covers what is beneath (in logical pixels).
    Cell glass = face("glass", "type: 'base offset: 0x0 size: 40x40 draw: [pen off fill-pen 0.0.255 box 30x30 40x40]");
    Cell w = face("w", "type: 'window size: 200x100 color: 255.255.255 pane: reduce [red drawn actor glass]");
    realise(w);
    show(w);
    gui::View* v = view(w);
    ASSERT_TRUE(wait_for([&] { return pixel(v, dev(10), dev(10)) == 0xFF0000; }));
    EXPECT_EQ(pixel(v, dev(60), dev(10)), 0x0000FFu) << "the draw block went to the drawing engine";
    EXPECT_EQ(pixel(v, dev(110), dev(10)), 0x00FF00u);
    EXPECT_EQ(pixel(v, dev(170), dev(50)), 0xFFFFFFu);
    EXPECT_EQ(pixel(v, dev(35), dev(35)), 0x0000FFu) << "the see-through face's drawing";
    EXPECT_EQ(pixel(v, dev(25), dev(25)), 0xFF0000u) << "and the face beneath it";
    // Faces without a draw block get a drawing event for their on-drawing actor.
    events.clear();
    gui::redraw(&actor);
    gui::redraw(&drawn);
    pump();
    gui::redraw(&red);
    pump();
    bool actor_drew = false, drawn_drew = false, plain_drew = false;
    for (const Record& r : of_type(gui::type::drawing)) {
        actor_drew |= r.face == "actor";
        drawn_drew |= r.face == "drawn";
        plain_drew |= r.face == "red";
    }
    EXPECT_TRUE(actor_drew);
    EXPECT_FALSE(drawn_drew);
    EXPECT_FALSE(plain_drew) << "no on-drawing actor, no drawing event";
    // A colour change repaints.
    eval("red/color: 0.0.0");
    mark(red, 0x20);
    gui::update_ridi(&red);
    EXPECT_TRUE(wait_for([&] { return pixel(v, dev(10), dev(10)) == 0; }));
    EXPECT_EQ(pixel(v, dev(35), dev(35)), 0x0000FFu);
}

TEST_F(Lifecycle, TranslucentBorderlessWindowsAreLayeredWhereTheScreenAllows) {
    Cell w = face("glass", "type: 'window size: 100x100 flags: 'no-border color: 0.0.255.128");
    realise(w);
    GdkScreen* s = gdk_screen_get_default();
    bool can = gdk_screen_get_rgba_visual(s) && gdk_screen_is_composited(s);
    EXPECT_EQ(view(w)->layered, can);
    Cell plain = face("plain", "type: 'window size: 100x100 color: 0.0.255.128");
    realise(plain);
    EXPECT_FALSE(view(plain)->layered);
}

TEST_F(Lifecycle, PaneChangesRestackAndReparentChildren) {
    Cell a = face("a", "type: 'base offset: 0x0 size: 50x50 color: 255.0.0");
    Cell b = face("b", "type: 'base offset: 10x10 size: 50x50 color: 0.0.255");
    Cell p = face("p", "type: 'panel offset: 100x0 size: 80x80");
    Cell w = face("w", "type: 'window size: 200x100 pane: reduce [a b p]");
    realise(w);
    show(w);
    gui::View* v = view(w);
    ASSERT_TRUE(wait_for([&] { return pixel(v, dev(20), dev(20)) == 0x0000FF; }));
    // a last in the pane: a is on top.
    eval("w/pane: reduce [b p a]");
    mark(w, 0x4000);
    gui::update_ridi(&w);
    EXPECT_TRUE(wait_for([&] { return pixel(v, dev(20), dev(20)) == 0xFF0000; })) << std::hex << pixel(v, dev(20), dev(20));
    // b moves into the panel.
    eval("append p/pane: copy [] b");
    Cell word = eval("'pane"), action = eval("'inserted"), none_ = eval("none");
    Cell pane = eval("p/pane");
    gui::update_facet(&p, &word, &pane, &action, &none_, 0, 1);
    EXPECT_EQ(gtk_widget_get_parent(view(b)->widget), view(p)->container);
}

}  // namespace
}  // namespace zuv::testing
