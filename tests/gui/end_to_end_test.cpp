// A real window driven from outside the program: xdotool moves the pointer, clicks and types
// through the X server, and the close request comes as a window manager sends it.
#include <cstdlib>
#include <string>

#include "gui_fixture.h"
#include "x11_helpers.h"

namespace zuv::testing {
namespace {

namespace t = gui::type;

class EndToEnd : public GuiTest {
protected:
    Cell win, base;
    void SetUp() override {
        GuiTest::SetUp();
        if (std::system("command -v xdotool > /dev/null") != 0) GTEST_SKIP() << "xdotool is not installed";
        base = face("b", "type: 'base offset: 20x30 size: 100x80 color: 200.200.200");
        win = face("w", "type: 'window offset: 60x60 size: 300x200 pane: reduce [b]");
        realise(win);
        show(win);
    }
    // Runs xdotool with arguments, then lets the events arrive.
    void xdotool(const std::string& args) {
        ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
        pump();
    }
    // The screen position of a logical point of the base face.
    std::string at_base(double x, double y) {
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(view(base)->widget), &ox, &oy);
        return std::to_string(ox + dev(x)) + " " + std::to_string(oy + dev(y));
    }
};

TEST_F(EndToEnd, ClicksAndDoubleClicksOnAFace) {
    xdotool("mousemove --sync " + at_base(10, 12));
    ASSERT_TRUE(wait_for([] { return !of_type(t::over).empty(); }));
    EXPECT_EQ(of_type(t::over)[0].face, "b");
    events.clear();
    xdotool("click 1");
    ASSERT_TRUE(wait_for([] { return !of_type(t::up).empty(); }));
    auto d = of_type(t::down);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].face, "b");
    EXPECT_NEAR(d[0].x, 10, 1.0);
    EXPECT_NEAR(d[0].y, 12, 1.0);
    // Somewhere else, so that the click before does not pair with the first of these.
    xdotool("mousemove --sync " + at_base(60, 50));
    events.clear();
    xdotool("click --repeat 2 --delay 40 1");
    ASSERT_TRUE(wait_for([] { return of_type(t::up).size() == 2; }));
    std::vector<int32_t> clicks;
    for (int32_t type : types())
        if (type != t::over) clicks.push_back(type);
    EXPECT_EQ(clicks, (std::vector<int32_t>{t::down, t::up, t::down, t::dbl_click, t::up}));
    events.clear();
    xdotool("click 3");
    ASSERT_TRUE(wait_for([] { return !of_type(t::alt_up).empty(); }));
    EXPECT_EQ(of_type(t::alt_down).size(), 1u);
}

TEST_F(EndToEnd, TypingGivesKeyEventsWithCharacters) {
    unsigned long id = x_window_id(view(win)->widget);
    xdotool("windowfocus --sync " + std::to_string(id));
    xdotool("type --delay 20 'aB'");
    ASSERT_TRUE(wait_for([] { return of_type(t::key).size() >= 2; }));
    auto k = of_type(t::key);
    EXPECT_EQ(k[0].key, "#\"a\"");
    EXPECT_EQ(k[1].key, "#\"B\"");
    EXPECT_TRUE(k[1].flags & gui::ev::shift);
    EXPECT_FALSE(of_type(t::key_up).empty());
    events.clear();
    xdotool("key --delay 20 Left F2");
    ASSERT_TRUE(wait_for([] { return of_type(t::key).size() >= 2; }));
    EXPECT_EQ(of_type(t::key)[0].key, "left");
    EXPECT_EQ(of_type(t::key)[1].key, "F2");
}

TEST_F(EndToEnd, TheCloseButtonAsksAndTheWindowStays) {
    x_request_close(view(win)->widget);
    ASSERT_TRUE(wait_for([] { return !of_type(t::close).empty(); }));
    EXPECT_EQ(of_type(t::close)[0].face, "w");
    EXPECT_NE(view(win), nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(view(win)->widget));
}

// Another client destroys the native window: the face hears a close, as if the user had asked,
// so the language level can unview it and a loop waiting for it ends.
TEST_F(EndToEnd, AWindowDestroyedByAnotherClientIsHeardAsAClose) {
    xdotool("windowclose " + std::to_string(x_window_id(view(win)->widget)));
    ASSERT_TRUE(wait_for([] { return !of_type(t::close).empty(); }));
    EXPECT_EQ(of_type(t::close)[0].face, "w");
}

TEST_F(EndToEnd, DraggingAWindowGivesTheIngEventsAndOneMoreAtTheEnd) {
    // The button held (away from the window) is what tells a drag from a program's move.
    xdotool("mousemove --sync 1200 1000 mousedown 1");
    GtkWindow* w = GTK_WINDOW(view(win)->widget);
    for (int step = 1; step <= 3; ++step) {
        gtk_window_move(w, dev(60 + 10 * step), dev(60));
        ASSERT_TRUE(wait_for([&] { return static_cast<int>(of_type(t::moving).size()) == step; }));
    }
    // Each step: moving, then move; when the drag settles, one more move.
    ASSERT_TRUE(wait_for([] { return of_type(t::move).size() == 4; }));
    xdotool("mouseup 1");
    std::vector<int32_t> geometry;
    for (int32_t type : types())
        if (type == t::moving || type == t::move) geometry.push_back(type);
    EXPECT_EQ(geometry, (std::vector<int32_t>{t::moving, t::move, t::moving, t::move, t::moving, t::move, t::move}));
    EXPECT_NEAR(of_type(t::move).back().x, 90, 1.0);
    EXPECT_FALSE(gui::sizing);
}

}  // namespace
}  // namespace zuv::testing
