// Menus: a window's menu bar and a face's context menu built from menu blocks, items picked
// by activation, by a made right press and by a real click through the X server; malformed
// blocks give a menu of what can be read, never a crash.
#include <cstdlib>
#include <string>
#include <vector>

#include "gui_fixture.h"
#include "ridi/backend/gtk/menus.h"
#include "x11_helpers.h"

namespace zuv::testing {
namespace {

namespace t = gui::type;

std::vector<GtkWidget*> items_of(GtkWidget* shell) {
    std::vector<GtkWidget*> out;
    GList* kids = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList* l = kids; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
    g_list_free(kids);
    return out;
}

// An item's text as shown (mnemonic marks dropped), the texts of a box item joined by "|".
std::string text_of(GtkWidget* item) {
    if (GTK_IS_SEPARATOR_MENU_ITEM(item)) return "---";
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item));
    if (GTK_IS_LABEL(child)) return gtk_label_get_text(GTK_LABEL(child));
    std::string s;
    for (GtkWidget* w : items_of(child)) s += (s.empty() ? "" : "|") + std::string(gtk_label_get_text(GTK_LABEL(w)));
    return s;
}

std::vector<std::string> texts(GtkWidget* shell) {
    std::vector<std::string> out;
    for (GtkWidget* w : items_of(shell)) out.push_back(text_of(w));
    return out;
}

GtkWidget* submenu(GtkWidget* item) { return gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)); }

class Menus : public GuiTest {
protected:
    Cell win, base;
    void make(const std::string& win_menu, const std::string& base_menu = "none", const std::string& flags = "none") {
        base = face("b", "type: 'base offset: 20x30 size: 100x80 color: 200.200.200 menu: " + base_menu);
        win = face("w", "type: 'window offset: 40x40 size: 300x200 flags: " + flags + " menu: " + win_menu +
                            " pane: reduce [b]");
        realise(win);
        show(win);
    }
    // A right press on a face at a logical point, through the real dispatch.
    void right_press(const Cell& f, double x, double y) {
        GdkEvent* e = event_for(f, GDK_BUTTON_PRESS, dev(x), dev(y));
        e->button.button = 3;
        put(e);
    }
    void close_context_menu() {
        if (GtkWidget* m = gui::context_menu()) gtk_menu_shell_deactivate(GTK_MENU_SHELL(m));
        pump();
    }
};

TEST_F(Menus, AMenuBarHoldsItemsSubMenusAndSeparatorsAndReportsTheWord) {
    make(R"(["&File" ["Open" open "Recent" ["One" one "Two" two] --- "Quit" quit] "Help" ["About" about]])");
    GtkWidget* bar = view(win)->menu_bar;
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(texts(bar), (std::vector<std::string>{"File", "Help"}));
    GtkWidget* file = submenu(items_of(bar)[0]);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(texts(file), (std::vector<std::string>{"Open", "Recent", "---", "Quit"}));
    GtkWidget* recent = submenu(items_of(file)[1]);
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(texts(recent), (std::vector<std::string>{"One", "Two"}));
    gtk_menu_item_activate(GTK_MENU_ITEM(items_of(recent)[1]));
    auto m = of_type(t::menu);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].face, "w");
    EXPECT_EQ(m[0].picked, "two");
    EXPECT_FALSE(m[0].has_offset);  // a menu bar was not opened at a point
}

TEST_F(Menus, TheClientAreaKeepsTheFaceSizeBelowTheBar) {
    for (const char* flags : {"none", "'resize"}) {
        SCOPED_TRACE(flags);
        make(R"(["File" ["Quit" quit]])", "none", flags);
        gui::View* v = view(win);
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_height(v->container) == dev(200); }));
        EXPECT_EQ(gtk_widget_get_allocated_width(v->container), dev(300));
        EXPECT_GT(gui::menu_bar_height(v), 0);
        // Taking the menu away leaves the client size as it was.
        eval("w/menu: none");
        mark(win, 1u << gui::facet::menu);
        gui::update_ridi(&win);
        EXPECT_EQ(v->menu_bar, nullptr);
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_height(v->container) == dev(200); }));
        gui::destroy_ridi(&win, false);
        pump();
    }
}

TEST_F(Menus, ItemTextsWithShortcutsAndAccessKeys) {
    make(R"([popup "Copy^-Ctrl+C" copy "Paste^-Shift+Ins" paste --- "Select &All" select-all "a && b_c" amp])");
    right_press(win, 150, 150);
    GtkWidget* menu = gui::context_menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(texts(menu),
              (std::vector<std::string>{"Copy|Ctrl+C", "Paste|Shift+Ins", "---", "Select All", "a & b_c"}));
    close_context_menu();
}

TEST_F(Menus, ARightPressOpensTheContextMenuOfTheFaceUnderThePointer) {
    make(R"(["File" ["Quit" quit]])", R"([popup "Cut" cut "Plain"])");
    right_press(base, 10, 12);
    ASSERT_EQ(of_type(t::alt_down).size(), 1u);  // the press is heard before the menu opens
    GtkWidget* menu = gui::context_menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(wait_for([&] { return gtk_widget_get_mapped(menu); }));
    EXPECT_EQ(texts(menu), (std::vector<std::string>{"Cut", "Plain"}));
    gtk_menu_item_activate(GTK_MENU_ITEM(items_of(menu)[0]));
    gtk_menu_item_activate(GTK_MENU_ITEM(items_of(menu)[1]));
    auto m = of_type(t::menu);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].face, "b");
    EXPECT_EQ(m[0].window, "w");
    EXPECT_EQ(m[0].picked, "cut");
    ASSERT_TRUE(m[0].has_offset);
    EXPECT_NEAR(m[0].x, 10, 0.01);
    EXPECT_NEAR(m[0].y, 12, 0.01);
    EXPECT_EQ(m[1].picked, "none");  // a text without a word
    EXPECT_EQ(m[1].flags & 0xFFFF, 0xFFFFu);
    close_context_menu();
    // The window's block is its menu bar: a right press on the window opens nothing.
    events.clear();
    right_press(win, 250, 150);
    EXPECT_EQ(gui::context_menu(), nullptr);
    EXPECT_EQ(of_type(t::alt_down).size(), 1u);
}

TEST_F(Menus, MalformedBlocksGiveWhatCanBeRead) {
    struct Case {
        const char* block;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"[popup]", {}},
        {"[popup 1 2.5 1.2.3 foo \"A\" a]", {"A"}},
        {"[popup \"A\" --- \"B\"]", {"A", "---", "B"}},  // a separator is never an item's word
        {"[popup \"A\" \"B\" [] \"C\" [1 2]]", {"A", "B", "C"}},
        {"[popup --- --- \"T\" 'lit]", {"---", "---", "T"}},
    };
    make("none", "none");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block);
        eval(std::string("b/menu: ") + c.block);
        right_press(base, 5, 5);
        GtkWidget* menu = gui::context_menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(texts(menu), c.items);
        close_context_menu();
    }
    // A block that holds itself ends in an item without a sub-menu, not in an endless menu.
    eval("loop-menu: copy [popup \"Deeper\"]  append/only loop-menu loop-menu  b/menu: loop-menu");
    right_press(base, 5, 5);
    GtkWidget* menu = gui::context_menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(texts(menu), (std::vector<std::string>{"Deeper"}));
    GtkWidget* sub = submenu(items_of(menu)[0]);
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(items_of(sub).empty());
    close_context_menu();
    // A face whose menu is no block lets the press through.
    eval("b/menu: \"not a menu\"");
    right_press(base, 5, 5);
    EXPECT_EQ(gui::context_menu(), nullptr);
}

TEST_F(Menus, AFaceFreedWhileItsMenuIsOpenGetsNoEvent) {
    make("none", R"([popup "Gone" gone])");
    right_press(base, 5, 5);
    GtkWidget* menu = gui::context_menu();
    ASSERT_NE(menu, nullptr);
    GtkWidget* item = items_of(menu)[0];
    g_object_ref(item);
    gui::destroy_ridi(&win, false);
    pump();
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    g_object_unref(item);
    EXPECT_TRUE(of_type(t::menu).empty());
}

// A real click on the bar and on an item, through the X server.
TEST_F(Menus, ClickingTheBarAndAnItem) {
    if (std::system("command -v xdotool > /dev/null") != 0) GTEST_SKIP() << "xdotool is not installed";
    make(R"(["File" ["Open" open "Quit" quit]])");
    GtkWidget* bar = view(win)->menu_bar;
    GtkWidget* file = items_of(bar)[0];
    auto screen_of = [](GtkWidget* w) {
        GtkAllocation a;
        gtk_widget_get_allocation(w, &a);
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(w), &ox, &oy);
        return std::to_string(ox + a.x + a.width / 2) + " " + std::to_string(oy + a.y + a.height / 2);
    };
    ASSERT_EQ(std::system(("xdotool mousemove --sync " + screen_of(file) + " click 1").c_str()), 0);
    GtkWidget* menu = submenu(file);
    ASSERT_TRUE(wait_for([&] { return gtk_widget_get_mapped(menu); }));
    GtkWidget* quit = items_of(menu)[1];
    ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_height(quit) > 1; }));
    ASSERT_EQ(std::system(("xdotool mousemove --sync " + screen_of(quit) + " sleep 0.1 click 1").c_str()), 0);
    ASSERT_TRUE(wait_for([] { return !of_type(t::menu).empty(); }));
    EXPECT_EQ(of_type(t::menu)[0].picked, "quit");
    EXPECT_EQ(of_type(t::menu)[0].face, "w");
}

}  // namespace
}  // namespace zuv::testing
