// Input that goes past the plain mouse and keys: an input method's composition as ime events,
// made presses that land in a native control (a button clicks, a list reports its row), the
// cursor a face asks for (named or drawn from an image), and windows larger than the screen.
#include <gdk/gdkkeysyms.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "gui_fixture.h"
#include "ridi/backend/gtk/widget-record.h"
#include "ridi/backend/gtk/widgets.h"

namespace zuv::testing {
namespace {

namespace t = gui::type;

class Input : public GuiTest {
protected:
    // A made event of a type for a face at a logical point, sent through the backend.
    bool send(const Cell& f, int32_t type, int x, int y, bool post = false) {
        Cell* spec = block::push_new(4);
        block::append(spec, &f);
        none::make_in(spec);
        pair::make_in(spec, x, y);
        integer::make_in(spec, 0);
        Cell e;
        cell::make(&e, Type::event, static_cast<uint32_t>(type), spec->data2, 0x10000);
        return gui::send_event(&e, post);
    }
};

void key(const Cell& win, guint keyval, guint state, bool press = true) {
    GdkEvent* e = event_for(win, press ? GDK_KEY_PRESS : GDK_KEY_RELEASE);
    e->key.keyval = keyval;
    e->key.state = state;
    put(e);
}

TEST_F(Input, ACompositionIsImeEventsAndItsResultKeyEvents) {
    Cell win = face("w", "type: 'window offset: 10x10 size: 200x100");
    realise(win);
    show(win);
    gui::View* v = view(win);
    ASSERT_NE(v->im, nullptr);
    // The toolkit's own input method: Ctrl+Shift+U opens a composition of a code point in hex.
    gtk_im_multicontext_set_context_id(GTK_IM_MULTICONTEXT(v->im), "gtk-im-context-simple");
    GdkEvent* in = event_for(win, GDK_FOCUS_CHANGE);
    in->focus_change.in = TRUE;
    put(in);
    events.clear();
    const guint held = GDK_CONTROL_MASK | GDK_SHIFT_MASK;
    key(win, GDK_KEY_U, held);
    EXPECT_TRUE(gui::composing);
    key(win, GDK_KEY_e, held);
    key(win, GDK_KEY_9, held);
    key(win, GDK_KEY_9, held, false);
    key(win, GDK_KEY_space, held);
    EXPECT_FALSE(gui::composing);
    std::vector<std::string> composed;
    for (const Record& r : of_type(t::ime)) {
        composed.push_back(r.picked);
        EXPECT_EQ(r.face, "w");
        EXPECT_EQ(r.key, "none");
        EXPECT_FALSE(r.has_offset);
    }
    EXPECT_EQ(composed, (std::vector<std::string>{"\"u\"", "\"ue\"", "\"ue9\"", "\"\""}));
    // The composed character comes as one key event after the composition closed.
    auto keys = of_type(t::key);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].key, "#\"\u00E9\"");
    std::vector<int32_t> order;
    for (int32_t type : types())
        if (type == t::ime || type == t::key) order.push_back(type);
    EXPECT_EQ(order, (std::vector<int32_t>{t::ime, t::ime, t::ime, t::ime, t::key}));
    // Only the key that opened the composition went down; the ones it took are the input
    // method's, and come up again as key-ups.
    auto downs = of_type(t::key_down);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].key, "#\"U\"");
    auto ups = of_type(t::key_up);
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].key, "#\"9\"");

    // A composition dropped with Escape ends with an empty text and no key.
    events.clear();
    key(win, GDK_KEY_U, held);
    key(win, GDK_KEY_4, held);
    key(win, GDK_KEY_Escape, 0);
    EXPECT_FALSE(gui::composing);
    ASSERT_FALSE(of_type(t::ime).empty());
    EXPECT_EQ(of_type(t::ime).back().picked, "\"\"");
    EXPECT_TRUE(of_type(t::key).empty());
}

TEST_F(Input, AMadePressAndReleaseClickANativeButton) {
    face("ok", "type: 'button offset: 10x10 size: 80x30 text: \"OK\"");
    Cell win = face("w", "type: 'window offset: 20x20 size: 200x100 pane: reduce [ok]");
    realise(win);
    show(win);
    Cell ok = named("ok");
    for (bool post : {false, true}) {
        SCOPED_TRACE(post ? "posted" : "at once");
        events.clear();
        ASSERT_TRUE(send(ok, t::down, 20, 12, post));
        ASSERT_TRUE(send(ok, t::up, 20, 12, post));
        ASSERT_TRUE(wait_for([] { return !of_type(t::click).empty(); }));
        std::vector<int32_t> seen;
        for (int32_t type : types())
            if (type == t::down || type == t::up || type == t::click) seen.push_back(type);
        // The button clicks once it has the release, after the up event went through.
        EXPECT_EQ(seen, (std::vector<int32_t>{t::down, t::up, t::click}));
        EXPECT_EQ(of_type(t::click)[0].face, "ok");
        EXPECT_NEAR(of_type(t::down)[0].x, dev(20) / gui::scale, 0.01) << "the offset is in the face";
        pump();
        // The button is left as the pointer left it: not pressed, not hovered.
        auto* r = gui::widgets::record_of(view(ok));
        EXPECT_EQ(gtk_widget_get_state_flags(r->inner) & (GTK_STATE_FLAG_ACTIVE | GTK_STATE_FLAG_PRELIGHT), 0);
    }
    // A press released away from the button is no click, as with the mouse.
    events.clear();
    ASSERT_TRUE(send(ok, t::down, 20, 12));
    GdkEvent* away = event_for(win, GDK_BUTTON_RELEASE, dev(150), dev(80));
    put(away);
    pump();
    EXPECT_TRUE(of_type(t::click).empty());
}

TEST_F(Input, APressOnATextListPicksTheRowUnderThePointer) {
    face("list", "type: 'text-list offset: 10x10 size: 120x120 data: [\"one\" \"two\" \"three\"]");
    Cell win = face("w", "type: 'window offset: 20x20 size: 200x160 pane: reduce [list]");
    realise(win);
    show(win);
    Cell list = named("list");
    auto* r = gui::widgets::record_of(view(list));
    GdkRectangle row;
    GtkTreePath* second = gtk_tree_path_new_from_indices(1, -1);
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(r->inner), second, nullptr, &row);
    gtk_tree_path_free(second);
    int bx = 0, by = 0;
    gtk_tree_view_convert_bin_window_to_widget_coords(GTK_TREE_VIEW(r->inner), row.x + 4, row.y + row.height / 2, &bx,
                                                      &by);
    int hx = 0, hy = 0;
    gtk_widget_translate_coordinates(r->inner, view(list)->widget, bx, by, &hx, &hy);
    ASSERT_TRUE(send(list, t::down, static_cast<int>(hx / gui::scale), static_cast<int>(hy / gui::scale)));
    ASSERT_TRUE(send(list, t::up, static_cast<int>(hx / gui::scale), static_cast<int>(hy / gui::scale)));
    pump();
    ASSERT_FALSE(of_type(t::down).empty());
    EXPECT_EQ(of_type(t::down)[0].picked, "2");
    // The made press chose the row in the control, as a user's does.
    EXPECT_EQ(eval("list/selected").int2(), 2);
    // Below the last row there is no item.
    events.clear();
    ASSERT_TRUE(send(list, t::down, 20, 115));
    ASSERT_TRUE(send(list, t::up, 20, 115));
    EXPECT_EQ(of_type(t::down).at(0).picked, "none");
}

TEST_F(Input, AFaceShowsTheCursorItsOptionsName) {
    face("plain", "type: 'base offset: 10x10 size: 40x40");
    face("named", "type: 'base offset: 60x10 size: 40x40 options: [cursor: hand]");
    face("drawn", "type: 'base offset: 110x10 size: 40x40 options: compose [cursor: (make image! [16x16 255.0.0])]");
    face("entry", "type: 'field offset: 10x60 size: 100x30 options: [cursor: cross]");
    Cell win = face("w", "type: 'window offset: 20x20 size: 200x120 pane: reduce [plain named drawn entry]");
    realise(win);
    show(win);
    auto cursor = [](const char* name) {
        gui::View* v = view(named(name));
        return gdk_window_get_cursor(gtk_widget_get_window(v->widget));
    };
    EXPECT_EQ(cursor("plain"), nullptr) << "no cursor of its own: the parent's shows";
    ASSERT_NE(cursor("named"), nullptr);
    EXPECT_EQ(cursor("named"), view(named("named"))->cursor);
    // The image's cursor: drawn from its pixels, not one of the named ones.
    GdkCursor* img = cursor("drawn");
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(gdk_cursor_get_cursor_type(img), GDK_CURSOR_IS_PIXMAP);
    EXPECT_NE(img, cursor("named"));
    // A field's text area takes the face's cursor instead of its own.
    gui::View* entry = view(named("entry"));
    GdkWindow* text_area = nullptr;
    for (GList* l = gdk_window_peek_children(gtk_widget_get_window(entry->widget)); l && !text_area; l = l->next)
        if (gdk_window_get_cursor(GDK_WINDOW(l->data))) text_area = GDK_WINDOW(l->data);
    ASSERT_NE(text_area, nullptr);
    EXPECT_EQ(gdk_window_get_cursor(text_area), entry->cursor);

    // Options without a cursor take it away; an empty image makes none and says so on one line.
    Cell n = named("named");
    eval("named/options: [color: 1]");
    mark(n, 1u << gui::facet::options);
    gui::update_ridi(&n);
    EXPECT_EQ(cursor("named"), nullptr);
    Cell d = named("drawn");
    eval("drawn/options: compose [cursor: (make image! 0x0)]");
    mark(d, 1u << gui::facet::options);
    ::testing::internal::CaptureStdout();
    gui::update_ridi(&d);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "*** Ridi Error: no cursor can be made of an empty image\n");
    EXPECT_EQ(cursor("drawn"), nullptr);
}

TEST_F(Input, AScrollableFaceHasBarsThatRaiseScrollEvents) {
    face("inner", "type: 'base offset: 0x0 size: 200x200 color: 0.0.255");
    face("sb", "type: 'base offset: 10x10 size: 150x120 color: 255.255.255 flags: 'scrollable pane: reduce [inner]");
    face("plain", "type: 'base offset: 170x10 size: 20x20");
    Cell win = face("w", "type: 'window offset: 20x20 size: 220x160 pane: reduce [sb plain]");
    realise(win);
    show(win);
    gui::View* v = view(named("sb"));
    EXPECT_EQ(view(named("plain"))->bars[0], nullptr) << "only a scrollable face has bars";
    GtkWidget* across = v->bars[0];
    GtkWidget* down = v->bars[1];
    ASSERT_NE(across, nullptr);
    ASSERT_NE(down, nullptr);
    // Along the right and bottom edges, over the face's children.
    GtkAllocation a;
    gtk_widget_get_allocation(down, &a);
    EXPECT_EQ(a.x + a.width, dev(150));
    gtk_widget_get_allocation(across, &a);
    EXPECT_EQ(a.y + a.height, dev(120));
    GList* kids = gtk_container_get_children(GTK_CONTAINER(v->container));
    EXPECT_EQ(g_list_last(kids)->data, down);
    g_list_free(kids);

    // Requests from the keyboard's bindings: steps and pages, each bar with its own words.
    struct Case {
        GtkWidget* bar;
        GtkScrollType how;
        const char* key;
        const char* orientation;
    };
    const Case cases[] = {{down, GTK_SCROLL_STEP_FORWARD, "down", "vertical"},
                          {down, GTK_SCROLL_STEP_BACKWARD, "up", "vertical"},
                          {down, GTK_SCROLL_PAGE_FORWARD, "page-down", "vertical"},
                          {across, GTK_SCROLL_PAGE_BACKWARD, "page-left", "horizontal"},
                          {across, GTK_SCROLL_STEP_FORWARD, "right", "horizontal"},
                          {across, GTK_SCROLL_END, "end", "horizontal"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        events.clear();
        g_signal_emit_by_name(c.bar, "move-slider", c.how);
        pump();
        auto sc = of_type(t::scroll);
        ASSERT_EQ(sc.size(), 1u);
        EXPECT_EQ(sc[0].face, "sb");
        EXPECT_EQ(sc[0].key, c.key);
        EXPECT_EQ(sc[0].orientation, c.orientation);
        EXPECT_EQ(sc[0].picked, "0") << "the bar has not moved";
        EXPECT_FALSE(sc[0].has_offset);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(gtk_range_get_adjustment(GTK_RANGE(c.bar))), 0)
            << "only the program moves the bar";
    }

    events.clear();
    // The program sets the bar through a scroller!; a press in its trough is a scroll request,
    // not a press on the face.
    eval("sc: get-scroller sb 'vertical  sc/max-size: 300 sc/page-size: 100 sc/position: 40");
    Cell sc = eval("sc");
    for (int field : {3, 0}) gui::widgets::update_scroller(&sc, field);
    GtkAdjustment* adj = gtk_range_get_adjustment(GTK_RANGE(down));
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(adj), 300);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(adj), 100);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(adj), 40);
    gtk_widget_get_allocation(down, &a);
    GdkEvent* press = gdk_event_new(GDK_BUTTON_PRESS);
    GdkWindow* bar_window = gtk_widget_get_window(down);
    int bx = 0, by = 0;
    gtk_widget_translate_coordinates(down, gtk_widget_get_toplevel(down), a.width / 2, a.height - 4, &bx, &by);
    GdkWindow* top = gtk_widget_get_window(gtk_widget_get_toplevel(down));
    // The event goes to the bar's input window when it has one, else to the window it draws in.
    GList* inputs = gdk_window_peek_children(bar_window);
    GdkWindow* target = bar_window;
    for (GList* l = inputs; l; l = l->next) {
        GtkWidget* owner = nullptr;
        gdk_window_get_user_data(GDK_WINDOW(l->data), reinterpret_cast<gpointer*>(&owner));
        if (owner == down) target = GDK_WINDOW(l->data);
    }
    int tx = 0, ty = 0, ox = 0, oy = 0;
    gdk_window_get_origin(target, &tx, &ty);
    gdk_window_get_origin(top, &ox, &oy);
    press->button.window = GDK_WINDOW(g_object_ref(target));
    press->button.x = bx - (tx - ox);
    press->button.y = by - (ty - oy);
    press->button.button = 1;
    gdk_event_set_device(press, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    GdkEvent* release = gdk_event_copy(press);
    release->type = GDK_BUTTON_RELEASE;
    put(press);
    put(release);
    pump();
    auto scrolls = of_type(t::scroll);
    ASSERT_FALSE(scrolls.empty());
    EXPECT_TRUE(scrolls[0].key == "track" || scrolls[0].key == "page-down") << scrolls[0].key;
    EXPECT_EQ(scrolls[0].orientation, "vertical");
    // Other events have no orientation.
    for (const Record& r : events)
        if (r.type != t::scroll) EXPECT_EQ(r.orientation, "none") << r.type;
    EXPECT_TRUE(of_type(t::down).empty()) << "the bar is not the face";
}

TEST_F(Input, AWindowMayBeLargerThanTheScreen) {
    GdkRectangle screen;
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &screen);
    for (const char* flags : {"none", "'resize"}) {
        SCOPED_TRACE(flags);
        std::string size = std::to_string(static_cast<int>((screen.width + 300) / gui::scale)) + "x" +
                           std::to_string(static_cast<int>((screen.height + 200) / gui::scale));
        Cell big = face("big", "type: 'window offset: 0x0 size: " + size + " flags: " + flags);
        realise(big);
        show(big);
        gui::View* v = view(big);
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_width(v->container) > screen.width; }));
        EXPECT_GE(gtk_widget_get_allocated_width(v->container), screen.width + 290);
        EXPECT_GE(gtk_widget_get_allocated_height(v->container), screen.height + 190);
        gui::destroy_ridi(&big, false);
        pump();
    }
}

}  // namespace
}  // namespace zuv::testing
