// What the backend tells the language about the system, at scale 1 and 1.5 alike: the DPI,
// the screen in logical pixels, the screens read again when the monitors change.
#include <string>

#include "datatypes/pair.h"
#include "gui_fixture.h"
#include "ridi/backend/gtk/widget-record.h"

namespace zuv::testing {
namespace {

class System : public GuiTest {};

TEST_F(System, MetricsAndScreensFollowTheResolution) {
    GdkRectangle m;
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &m);
    EXPECT_EQ(eval("system/ridi/metrics/dpi").int2(), gui::dpi);
    // The screen's size in logical pixels: 1280x1024 device pixels are 853x682 at 144 dpi.
    Cell size = eval("system/ridi/metrics/screen-size");
    EXPECT_EQ(pair::x(&size), m.width * 96 / gui::dpi);
    EXPECT_EQ(pair::y(&size), m.height * 96 / gui::dpi);
    // The system font's size is in points, whatever the resolution.
    Cell points = eval("system/ridi/fonts/size");
    EXPECT_GT(points.int2(), 5);
    EXPECT_LT(points.int2(), 30);
}

TEST_F(System, ScreensAreReadAgainWhenTheMonitorsChange) {
    eval("system/ridi/screens/1/size: 1x1  system/ridi/screens/1/offset: 5x5");
    g_signal_emit_by_name(gdk_screen_get_default(), "monitors-changed");
    GdkRectangle m;
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &m);
    Cell size = eval("to pair! system/ridi/screens/1/size");
    EXPECT_EQ(pair::x(&size), static_cast<int32_t>(m.width / gui::scale));
    EXPECT_EQ(pair::y(&size), static_cast<int32_t>(m.height / gui::scale));
    Cell off = eval("system/ridi/screens/1/offset");
    double x = -1, y = -1;
    ASSERT_TRUE(gui::planar(&off, &x, &y));
    EXPECT_EQ(x, m.x);
    EXPECT_EQ(y, m.y);
    // A refresh that fails says so on one line and the program goes on.
    eval("saved-refresh: :system/ridi/platform/refresh-screens"
         " system/ridi/platform/refresh-screens: func [] [1 / 0]");
    ::testing::internal::CaptureStdout();
    g_signal_emit_by_name(gdk_screen_get_default(), "monitors-changed");
    std::string out = ::testing::internal::GetCapturedStdout();
    eval("system/ridi/platform/refresh-screens: :saved-refresh");
    EXPECT_NE(out.find("*** Math Error"), std::string::npos) << out;
}

TEST_F(System, ANewResolutionLaysEveryWindowOutAgain) {
    face("b", "type: 'base offset: 10x20 size: 100x50 color: 0.0.255");
    face("f", "type: 'field offset: 10x80 size: 90x30");
    Cell win = face("w", "type: 'window offset: 40x40 size: 200x120 pane: reduce [b f]");
    realise(win);
    show(win);
    int32_t before = gui::dpi;
    int32_t after = before == 96 ? 144 : 96;
    auto size_of = [](const Cell& f) {
        int w = 0, h = 0;
        gtk_widget_get_size_request(view(f)->widget, &w, &h);
        return std::make_pair(w, h);
    };
    auto placed = [](const Cell& f) {
        int x = 0, y = 0;
        GtkWidget* w = view(f)->widget;
        gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(w)), w, "x", &x, "y", &y, nullptr);
        return std::make_pair(x, y);
    };
    Cell b = named("b");
    // The settings daemon announces a new resolution; then the old one again.
    for (int32_t d : {after, before}) {
        SCOPED_TRACE(d);
        g_object_set(gtk_settings_get_default(), "gtk-xft-dpi", d * 1024, nullptr);
        pump();
        EXPECT_EQ(gui::dpi, d);
        EXPECT_EQ(eval("system/ridi/metrics/dpi").int2(), d);
        EXPECT_EQ(size_of(b), std::make_pair(dev(100), dev(50)));
        EXPECT_EQ(placed(b), std::make_pair(dev(10), dev(20)));
        // A native control inside its face's holder follows as well.
        int fw = 0, fh = 0;
        gtk_widget_get_size_request(gui::widgets::record_of(view(named("f")))->body, &fw, &fh);
        EXPECT_EQ(std::make_pair(fw, fh), std::make_pair(dev(90), dev(30)));
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_width(view(win)->container) == dev(200); }));
        Cell screen = eval("to pair! system/ridi/screens/1/size");
        GdkRectangle m;
        gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &m);
        EXPECT_EQ(pair::x(&screen), m.width * 96 / d) << "the screens in logical pixels at the new scale";
    }
}

TEST_F(System, AScreenFaceCapturesWhatTheScreenShows) {
    // A window is made first, so that the screen's monitor number names a view as well: the
    // screen must still be the screen.
    Cell win = face("w", "type: 'window offset: 40x40 size: 100x80 color: 255.0.0");
    realise(win);
    show(win);
    int ox = 0, oy = 0;
    gdk_window_get_origin(gtk_widget_get_window(view(win)->container), &ox, &oy);
    ASSERT_TRUE(wait_for([&] {
        eval("shot: to image! system/ridi/screens/1");
        return eval("255.0.0.0 = pick shot " + std::to_string(ox + 20) + "x" + std::to_string(oy + 20)).int1() != 0;
    })) << "the window shows in the screen's image";
    GdkRectangle m;
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &m);
    Cell size = eval("shot/size");
    // The screen face's size is whole logical pixels: at 1.5 a device pixel may be lost.
    EXPECT_NEAR(pair::x(&size), m.width, 1);
    EXPECT_NEAR(pair::y(&size), m.height, 1);
    EXPECT_TRUE(eval("0.0.0.0 = pick shot " + std::to_string(m.width - 5) + "x" + std::to_string(m.height - 5)).int1())
        << "the bare screen beside it";
}

}  // namespace
}  // namespace zuv::testing
