// The native widgets: each widget face made, filled from its facets and driven as the user
// drives it (through the toolkit's own signals, and with xdotool through the X server); what
// the user does comes back into the facets with the select, change and click events.
#include <cstdlib>
#include <string>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "gui_fixture.h"
#include "ridi/backend/gtk/widget-record.h"
#include "ridi/backend/gtk/widgets.h"

namespace zuv::testing {
namespace {

namespace t = gui::type;
using Native = gui::widgets::Record;

class Widgets : public GuiTest {
protected:
    Cell win;
    // A window holding one face made from its facets; the face is `w1`.
    Cell one(const std::string& facets) {
        face("w1", facets);
        win = face("win", "type: 'window offset: 30x30 size: 400x300 pane: reduce [w1]");
        realise(win);
        show(win);
        return named("w1");
    }
    Native* rec(const Cell& f) { return gui::widgets::record_of(view(f)); }
    // Sets a facet as the language does: the value, its change bit, the update.
    void set(const std::string& word, const std::string& value, int32_t facet) {
        eval("w1/" + word + ": " + value);
        Cell f = named("w1");
        mark(f, 1u << facet);
        gui::update_ridi(&f);
        pump();
    }
    std::string molded(const std::string& expr) {
        Cell r = eval("mold " + expr);
        return string::to_utf8(&r);
    }
    void xdotool(const std::string& args) {
        ASSERT_EQ(std::system(("xdotool " + args + " > /dev/null").c_str()), 0) << args;
        pump();
    }
    // The screen position of a logical point of a face.
    std::string at(const Cell& f, double x, double y) {
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(view(f)->widget), &ox, &oy);
        GtkAllocation a;
        gtk_widget_get_allocation(view(f)->widget, &a);
        if (!gtk_widget_get_has_window(view(f)->widget)) ox += a.x, oy += a.y;
        return std::to_string(ox + dev(x)) + " " + std::to_string(oy + dev(y));
    }
};

TEST_F(Widgets, EveryWidgetTypeIsItsControl) {
    struct Case {
        const char* facets;
        GType control;
    };
    const Case cases[] = {
        {"type: 'button text: \"Go\"", GTK_TYPE_BUTTON},
        {"type: 'toggle text: \"T\"", GTK_TYPE_TOGGLE_BUTTON},
        {"type: 'check text: \"C\"", GTK_TYPE_CHECK_BUTTON},
        {"type: 'radio text: \"R\"", GTK_TYPE_RADIO_BUTTON},
        {"type: 'field text: \"f\"", GTK_TYPE_ENTRY},
        {"type: 'area text: \"a\"", GTK_TYPE_TEXT_VIEW},
        {"type: 'text-list data: [\"x\"]", GTK_TYPE_TREE_VIEW},
        {"type: 'drop-down data: [\"x\"]", GTK_TYPE_COMBO_BOX_TEXT},
        {"type: 'drop-list data: [\"x\"]", GTK_TYPE_COMBO_BOX_TEXT},
        {"type: 'progress", GTK_TYPE_PROGRESS_BAR},
        {"type: 'slider", GTK_TYPE_SCALE},
        {"type: 'scroller", GTK_TYPE_SCROLLBAR},
        {"type: 'tab-panel data: [\"a\"]", GTK_TYPE_NOTEBOOK},
        {"type: 'calendar", GTK_TYPE_CALENDAR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.facets);
        Cell f = one(std::string(c.facets) + " offset: 10x20 size: 150x100");
        Native* r = rec(f);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(G_TYPE_CHECK_INSTANCE_TYPE(r->inner, c.control));
        ASSERT_TRUE(wait_for([&] { return gtk_widget_get_allocated_width(view(f)->widget) == dev(150); }));
        EXPECT_EQ(gtk_widget_get_allocated_height(view(f)->widget), dev(100));
        gui::destroy_ridi(&win, false);
        pump();
    }
}

TEST_F(Widgets, AButtonClickedIsAClickAndItsTextIsItsLabel) {
    Cell b = one("type: 'button offset: 10x10 size: 80x30 text: \"Go\"");
    Native* r = rec(b);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(r->inner)), "Go");
    set("text", "\"Stop_it\"", gui::facet::text);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(r->inner)), "Stop_it");
    gtk_button_clicked(GTK_BUTTON(r->inner));
    pump();
    auto clicks = of_type(t::click);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].face, "w1");
    // Text that is no string shows nothing rather than failing.
    set("text", "42", gui::facet::text);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(r->inner)), "");
}

TEST_F(Widgets, ChecksAndTogglesReadTheirStateBackIntoData) {
    Cell c = one("type: 'check offset: 10x10 size: 80x24 text: \"C\" data: true");
    Native* r = rec(c);
    GtkToggleButton* b = GTK_TOGGLE_BUTTON(r->inner);
    EXPECT_TRUE(gtk_toggle_button_get_active(b));
    set("data", "false", gui::facet::data);
    EXPECT_FALSE(gtk_toggle_button_get_active(b));
    EXPECT_TRUE(of_type(t::change).empty()) << "the program's own change is no user's";
    gtk_button_clicked(GTK_BUTTON(b));
    pump();
    EXPECT_EQ(molded("w1/data"), "true");
    EXPECT_EQ(of_type(t::change).size(), 1u);
    // Any other value checks it; none unchecks it.
    set("data", "\"yes\"", gui::facet::data);
    EXPECT_TRUE(gtk_toggle_button_get_active(b));
    set("data", "none", gui::facet::data);
    EXPECT_FALSE(gtk_toggle_button_get_active(b));
}

TEST_F(Widgets, ATriStateCheckGoesRoundThreeStates) {
    Cell c = one("type: 'check offset: 10x10 size: 80x24 flags: [tri-state] data: false");
    Native* r = rec(c);
    GtkToggleButton* b = GTK_TOGGLE_BUTTON(r->inner);
    const char* expected[] = {"true", "none", "false", "true"};
    for (const char* e : expected) {
        gtk_button_clicked(GTK_BUTTON(b));
        pump();
        EXPECT_EQ(molded("w1/data"), e);
        EXPECT_EQ(gtk_toggle_button_get_inconsistent(b), std::string(e) == "none");
    }
    EXPECT_EQ(of_type(t::change).size(), 4u);
    set("data", "none", gui::facet::data);
    EXPECT_TRUE(gtk_toggle_button_get_inconsistent(b));
}

TEST_F(Widgets, ARadioTurnedOnIsAClickAndTheProgramTurnsItOff) {
    Cell f = one("type: 'radio offset: 10x10 size: 80x24 text: \"R\"");
    Native* r = rec(f);
    GtkToggleButton* b = GTK_TOGGLE_BUTTON(r->inner);
    EXPECT_FALSE(gtk_toggle_button_get_active(b));
    gtk_button_clicked(GTK_BUTTON(b));
    pump();
    EXPECT_TRUE(gtk_toggle_button_get_active(b));
    EXPECT_EQ(molded("w1/data"), "true");
    EXPECT_EQ(of_type(t::click).size(), 1u);
    set("data", "false", gui::facet::data);
    EXPECT_FALSE(gtk_toggle_button_get_active(b));
    EXPECT_EQ(of_type(t::click).size(), 1u);
}

TEST_F(Widgets, AFieldsTextFlowsBothWays) {
    Cell f = one("type: 'field offset: 10x10 size: 120x24 text: \"abc\"");
    GtkEntry* e = GTK_ENTRY(rec(f)->inner);
    EXPECT_STREQ(gtk_entry_get_text(e), "abc");
    // What the user types comes into the face's own string, with one change event.
    eval("keep: w1/text");
    gtk_entry_set_text(e, "typed");
    pump();
    EXPECT_EQ(molded("w1/text"), "\"typed\"");
    EXPECT_EQ(molded("same? keep w1/text"), "true");
    EXPECT_FALSE(of_type(t::change).empty());
    events.clear();
    // The program's text shows and is reported once, as an edit's change.
    set("text", "\"new\"", gui::facet::text);
    EXPECT_STREQ(gtk_entry_get_text(e), "new");
    EXPECT_EQ(of_type(t::change).size(), 1u);
    // No text at all: the field is emptied and reading back makes a string.
    set("text", "none", gui::facet::text);
    EXPECT_STREQ(gtk_entry_get_text(e), "");
    Cell face_ = named("w1");
    gui::widgets::get_text_alt(&face_, -1);
    EXPECT_EQ(molded("w1/text"), "\"\"");
}

TEST_F(Widgets, APasswordFieldHidesItsTextAndADisabledOneTakesNoInput) {
    Cell f = one("type: 'field offset: 10x10 size: 120x24 text: \"secret\" flags: [password]");
    GtkEntry* e = GTK_ENTRY(rec(f)->inner);
    EXPECT_FALSE(gtk_entry_get_visibility(e));
    EXPECT_EQ(gtk_entry_get_invisible_char(e), 0x25CFu);
    set("flags", "none", gui::facet::flags);
    EXPECT_TRUE(gtk_entry_get_visibility(e));
    set("enabled?", "false", gui::facet::enabled);
    EXPECT_FALSE(gtk_widget_is_sensitive(GTK_WIDGET(e)));
    set("enabled?", "true", gui::facet::enabled);
    EXPECT_TRUE(gtk_widget_is_sensitive(GTK_WIDGET(e)));
}

TEST_F(Widgets, ANoSyncFieldKeepsItsTextWhenEdited) {
    Cell f = one("type: 'field offset: 10x10 size: 120x24 text: \"abc\" flags: [no-sync]");
    gtk_entry_set_text(GTK_ENTRY(rec(f)->inner), "other");
    pump();
    EXPECT_EQ(molded("w1/text"), "\"abc\"");
    EXPECT_FALSE(of_type(t::change).empty());
}

TEST_F(Widgets, SelectionsOfFieldsAndAreasArePairs) {
    Cell f = one("type: 'field offset: 10x10 size: 120x24 text: \"abcdef\" selected: 2x4");
    GtkEditable* e = GTK_EDITABLE(rec(f)->inner);
    set("selected", "2x4", gui::facet::selected);
    int s = 0, en = 0;
    ASSERT_TRUE(gtk_editable_get_selection_bounds(e, &s, &en));
    EXPECT_EQ(s, 1);
    EXPECT_EQ(en, 4);
    // Reversed pairs are put in order; the user's selection comes back 1-based.
    set("selected", "5x3", gui::facet::selected);
    ASSERT_TRUE(gtk_editable_get_selection_bounds(e, &s, &en));
    EXPECT_EQ(s, 2);
    EXPECT_EQ(en, 5);
    gtk_editable_select_region(e, 0, 2);
    pump();
    EXPECT_EQ(molded("w1/selected"), "1x2");
    gtk_editable_select_region(e, 3, 3);
    pump();
    EXPECT_EQ(molded("w1/selected"), "none");
    gui::destroy_ridi(&win, false);
    // An area counts a line end as one character both ways.
    Cell a = one("type: 'area offset: 10x10 size: 150x80 text: \"a^/b\" selected: 1x3");
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(rec(a)->inner));
    GtkTextIter i0, i1;
    ASSERT_TRUE(gtk_text_buffer_get_selection_bounds(b, &i0, &i1));
    EXPECT_EQ(gtk_text_iter_get_offset(&i0), 0);
    EXPECT_EQ(gtk_text_iter_get_offset(&i1), 3);
    Cell af = named("w1");
    gui::widgets::read_selection(view(af), &af);
    EXPECT_EQ(molded("w1/selected"), "1x3");
}

TEST_F(Widgets, AnAreasTextWrapsAndScrollsAsItsParaSays) {
    Cell a = one("type: 'area offset: 10x10 size: 150x80 text: \"one^/two\"");
    Native* r = rec(a);
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->inner));
    GtkTextIter s, e;
    gtk_text_buffer_get_bounds(b, &s, &e);
    gchar* text = gtk_text_buffer_get_text(b, &s, &e, TRUE);
    EXPECT_STREQ(text, "one\ntwo");
    g_free(text);
    EXPECT_EQ(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(r->inner)), GTK_WRAP_NONE);
    gtk_text_buffer_set_text(b, "x\ny", -1);
    pump();
    EXPECT_EQ(molded("w1/text"), "\"x^/y\"");
    EXPECT_FALSE(of_type(t::change).empty());
    eval("w1/para: make object! [origin: none padding: none scroll: none align: 'center v-align: none wrap?: true"
         " parent: none]");
    gui::widgets::update_para(&a, 5);
    EXPECT_NE(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(r->inner)), GTK_WRAP_NONE);
    EXPECT_EQ(gtk_text_view_get_justification(GTK_TEXT_VIEW(r->inner)), GTK_JUSTIFY_CENTER);
    GtkPolicyType h, v;
    gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(r->body), &h, &v);
    EXPECT_EQ(h, GTK_POLICY_NEVER) << "wrapped text never overflows sideways";
    EXPECT_EQ(v, GTK_POLICY_AUTOMATIC);
}

TEST_F(Widgets, AnAreaShowsTheBarsItsTextNeeds) {
    // Many short lines: the vertical bar only; one long line without wrapping: both.
    Cell a = one("type: 'area offset: 10x10 size: 120x80 text: \"\"");
    eval("loop 200 [append w1/text \"ab^/\"]");
    set("text", "w1/text", gui::facet::text);
    Native* r = rec(a);
    GtkScrolledWindow* sw = GTK_SCROLLED_WINDOW(r->body);
    auto shown = [](GtkWidget* bar) { return gtk_widget_get_visible(bar) && gtk_widget_get_child_visible(bar); };
    ASSERT_TRUE(wait_for([&] { return shown(gtk_scrolled_window_get_vscrollbar(sw)); }));
    EXPECT_FALSE(shown(gtk_scrolled_window_get_hscrollbar(sw)));
    set("text", "append copy w1/text \"a long line that is wider than the area's client by far\"", gui::facet::text);
    EXPECT_TRUE(wait_for([&] { return shown(gtk_scrolled_window_get_hscrollbar(sw)); }));
    // No text at all: no bars.
    set("text", "none", gui::facet::text);
    Cell f = named("w1");
    gui::widgets::area_bars(view(f), &f);
    GtkPolicyType h, v;
    gtk_scrolled_window_get_policy(sw, &h, &v);
    EXPECT_EQ(h, GTK_POLICY_NEVER);
    EXPECT_EQ(v, GTK_POLICY_NEVER);
}

int rows(Native* r) { return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(r->store), nullptr); }

std::string row(Native* r, int i) {
    GtkTreeIter it;
    if (!gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(r->store), &it, nullptr, i)) return "?";
    gchar* s = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(r->store), &it, 0, &s, -1);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

void pick_row(Native* r, int i) {
    GtkTreePath* p = gtk_tree_path_new_from_indices(i, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(r->inner)), p);
    gtk_tree_path_free(p);
}

TEST_F(Widgets, ATextListShowsItsItemsAndReportsTheUsersChoice) {
    Cell l = one("type: 'text-list offset: 10x10 size: 120x120 data: [1 \"one\" %two 3.5 <three>] selected: 2");
    Native* r = rec(l);
    ASSERT_EQ(rows(r), 3) << "only string-like values are items";
    EXPECT_EQ(row(r, 1), "two");
    GtkTreeModel* m;
    GtkTreeIter it;
    ASSERT_TRUE(gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(r->inner)), &m, &it));
    pick_row(r, 2);
    pump();
    auto sel = of_type(t::select);
    ASSERT_EQ(sel.size(), 1u);
    EXPECT_EQ(sel[0].picked, "3");
    EXPECT_EQ(of_type(t::change).size(), 1u);
    EXPECT_EQ(molded("w1/selected"), "3");
    // The same item again raises nothing.
    events.clear();
    pick_row(r, 2);
    pump();
    EXPECT_TRUE(events.empty());
    // A stop answer to select keeps the change event away; the choice still stands.
    hook = [](const Record& e) { return e.type == t::select; };
    pick_row(r, 0);
    pump();
    EXPECT_EQ(of_type(t::select).size(), 1u);
    EXPECT_TRUE(of_type(t::change).empty());
    EXPECT_EQ(molded("w1/selected"), "1");
}

TEST_F(Widgets, ATextListFollowsChangesOfItsData) {
    Cell l = one("type: 'text-list offset: 10x10 size: 120x120 data: [\"a\" 1 \"b\" \"c\"]");
    Native* r = rec(l);
    ASSERT_EQ(rows(r), 3);
    // Values about to go take their items (the data is not changed yet when told).
    Cell data = eval("w1/data");
    Cell remove = eval("'remove");
    Cell word = eval("'data");
    gui::update_facet(&l, &word, &data, &remove, nullptr, 1, 2);
    EXPECT_EQ(rows(r), 2);
    EXPECT_EQ(row(r, 0), "a");
    EXPECT_EQ(row(r, 1), "c");
    // After an insertion the items are those of the data.
    eval("remove/part next w1/data 2  append w1/data \"d\"");
    Cell inserted = eval("'appended");
    data = eval("w1/data");
    gui::update_facet(&l, &word, &data, &inserted, nullptr, 2, 1);
    ASSERT_EQ(rows(r), 3);
    EXPECT_EQ(row(r, 2), "d");
    // Bad data: no block, an empty block, a selection out of range.
    set("data", "\"not a block\"", gui::facet::data);
    EXPECT_EQ(rows(r), 0);
    set("data", "[]", gui::facet::data);
    EXPECT_EQ(rows(r), 0);
    set("data", "[\"x\"]", gui::facet::data);
    set("selected", "99", gui::facet::selected);
    EXPECT_EQ(gtk_tree_selection_count_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(r->inner))), 0);
    set("selected", "\"two\"", gui::facet::selected);
    EXPECT_EQ(molded("w1/selected"), "-1") << "a selection that is no index becomes -1";
}

TEST_F(Widgets, DropListsAndDropDownsChooseAndEdit) {
    Cell d = one("type: 'drop-list offset: 10x10 size: 120x24 data: [\"red\" \"green\" \"blue\"] selected: 2");
    GtkComboBox* c = GTK_COMBO_BOX(rec(d)->inner);
    EXPECT_EQ(gtk_combo_box_get_active(c), 1);
    gtk_combo_box_set_active(c, 2);
    pump();
    ASSERT_EQ(of_type(t::select).size(), 1u);
    EXPECT_EQ(of_type(t::select)[0].picked, "3");
    EXPECT_EQ(molded("w1/selected"), "3");
    set("selected", "0", gui::facet::selected);
    EXPECT_EQ(gtk_combo_box_get_active(c), -1);
    set("selected", "7", gui::facet::selected);
    EXPECT_EQ(gtk_combo_box_get_active(c), -1) << "out of range is ignored";
    gui::destroy_ridi(&win, false);

    Cell dd = one("type: 'drop-down offset: 10x10 size: 120x24 data: [\"apple\" \"pear\"] text: \"plum\"");
    GtkComboBox* cc = GTK_COMBO_BOX(rec(dd)->inner);
    GtkEntry* e = GTK_ENTRY(gtk_bin_get_child(GTK_BIN(cc)));
    EXPECT_STREQ(gtk_entry_get_text(e), "plum");
    gtk_entry_set_text(e, "fig");
    pump();
    EXPECT_EQ(molded("w1/text"), "\"fig\"");
    EXPECT_FALSE(of_type(t::change).empty());
    events.clear();
    gtk_combo_box_set_active(cc, 1);
    pump();
    EXPECT_EQ(molded("w1/text"), "\"pear\"") << "the chosen item is in the text before select is heard";
    EXPECT_EQ(of_type(t::select).size(), 1u);
}

TEST_F(Widgets, SlidersProgressBarsAndScrollersKeepTheirProportions) {
    Cell s = one("type: 'slider offset: 10x10 size: 200x24 data: 25%");
    GtkRange* range = GTK_RANGE(rec(s)->inner);
    EXPECT_DOUBLE_EQ(gtk_range_get_value(range), 50);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(gtk_range_get_adjustment(range)), 200);
    gtk_range_set_value(range, 150);
    pump();
    EXPECT_EQ(molded("w1/data"), "75%") << "a percent stays a percent";
    EXPECT_EQ(of_type(t::change).size(), 1u);
    set("data", "0.5", gui::facet::data);
    EXPECT_DOUBLE_EQ(gtk_range_get_value(range), 100);
    gtk_range_set_value(range, 20);
    pump();
    EXPECT_EQ(molded("w1/data"), "0.1");
    set("data", "\"bad\"", gui::facet::data);
    EXPECT_DOUBLE_EQ(gtk_range_get_value(range), 0);
    gui::destroy_ridi(&win, false);

    Cell p = one("type: 'progress offset: 10x10 size: 200x16 data: 30%");
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(rec(p)->inner)), 0.3);
    set("data", "2.5", gui::facet::data);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(rec(p)->inner)), 1.0);
    gui::destroy_ridi(&win, false);

    Cell sc = one("type: 'scroller offset: 10x10 size: 200x20 selected: \"page\"");
    EXPECT_EQ(molded("w1/selected"), "10%") << "a page that is no number is 10%";
    EXPECT_EQ(molded("w1/data"), "0.0");
    GtkRange* bar = GTK_RANGE(rec(sc)->inner);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(gtk_range_get_adjustment(bar)), 10);
    gtk_range_set_value(bar, 45);
    pump();
    EXPECT_EQ(molded("w1/data"), "0.45");
    EXPECT_EQ(of_type(t::change).size(), 1u);
    set("selected", "50%", gui::facet::selected);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(gtk_range_get_adjustment(bar)), 50);
}

TEST_F(Widgets, AScrollerObjectDrivesItsFacesBar) {
    Cell sc = one("type: 'scroller offset: 10x10 size: 200x20");
    eval("bar: make object! [position: 0 page-size: 20 min-size: 0 max-size: 200 visible?: true vertical?: false"
         " parent: w1]");
    Cell bar = eval("bar");
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(rec(sc)->inner));
    gui::widgets::update_scroller(&bar, 3);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(a), 200);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(a), 20);
    eval("bar/position: 50");
    gui::widgets::update_scroller(&bar, 0);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(a), 50);
    EXPECT_TRUE(of_type(t::change).empty()) << "the program's move is no user's";
    eval("bar/visible?: false");
    gui::widgets::update_scroller(&bar, 4);
    EXPECT_FALSE(gtk_widget_get_visible(rec(sc)->body));
    // A scroller whose parent is no face, or a field it does not know, changes nothing.
    eval("bar/parent: 42");
    gui::widgets::update_scroller(&bar, 0);
    eval("bar/parent: w1");
    gui::widgets::update_scroller(&bar, 6);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(a), 50);
}

TEST_F(Widgets, AButtonShowsItsImage) {
    Cell b = one("type: 'button offset: 10x10 size: 80x40 text: \"Img\" image: make image! [8x8 255.0.0]");
    GtkButton* button = GTK_BUTTON(rec(b)->inner);
    GtkWidget* img = gtk_button_get_image(button);
    ASSERT_NE(img, nullptr);
    GdkPixbuf* pb = gtk_image_get_pixbuf(GTK_IMAGE(img));
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(pb), 8);
    guchar* px = gdk_pixbuf_get_pixels(pb);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 0);
    set("image", "reduce [make image! 4x4 5x5]", gui::facet::image);
    ASSERT_NE(gtk_button_get_image(button), nullptr);
    set("image", "none", gui::facet::image);
    EXPECT_EQ(gtk_button_get_image(button), nullptr);
    set("image", "make image! 0x0", gui::facet::image);
    EXPECT_EQ(gtk_button_get_image(button), nullptr);
}

TEST_F(Widgets, ACombosItemsGoWithTheirValues) {
    Cell d = one("type: 'drop-list offset: 10x10 size: 120x24 data: [\"a\" 1 \"b\" \"c\"]");
    GtkTreeModel* m = gtk_combo_box_get_model(GTK_COMBO_BOX(rec(d)->inner));
    ASSERT_EQ(gtk_tree_model_iter_n_children(m, nullptr), 3);
    Cell data = eval("w1/data");
    Cell take = eval("'take");
    Cell word = eval("'data");
    gui::update_facet(&d, &word, &data, &take, nullptr, 0, 2);
    EXPECT_EQ(gtk_tree_model_iter_n_children(m, nullptr), 2);
    Cell face_ = named("w1");
    gui::widgets::get_text_alt(&face_, 0);
    EXPECT_EQ(molded("w1/text"), "\"b\"");
    gui::widgets::get_text_alt(&face_, 9);
    EXPECT_EQ(molded("w1/text"), "\"b\"") << "an item that is not there reads nothing";
}

TEST_F(Widgets, ATabPanelSelectsPagesAndShowsTheirPanels) {
    face("p1", "type: 'panel");
    face("p2", "type: 'panel");
    face("p3", "type: 'panel visible?: false");
    Cell tp = one("type: 'tab-panel offset: 10x10 size: 200x150 data: [\"A\" 1 \"B\" \"C\"] selected: 9"
                  " pane: reduce [p1 p2 p3]");
    GtkNotebook* nb = GTK_NOTEBOOK(rec(tp)->inner);
    EXPECT_EQ(gtk_notebook_get_n_pages(nb), 3);
    EXPECT_EQ(molded("w1/selected"), "3") << "clamped to the tabs there are";
    EXPECT_EQ(gtk_notebook_get_current_page(nb), 2);
    // Pages lie over the page area, inside the tab panel.
    Cell p1 = named("p1");
    EXPECT_EQ(gtk_widget_get_parent(view(p1)->widget), view(tp)->widget);
    double x, y, w, h;
    gui::planar(gui::face_facet(&p1, gui::facet::offset), &x, &y);
    gui::planar(gui::face_facet(&p1, gui::facet::size), &w, &h);
    EXPECT_GT(y, 10);
    EXPECT_LT(y + h, 151);
    EXPECT_GT(w, 190);
    // The user picks the first tab: select, then the page switch with change.
    gtk_notebook_set_current_page(nb, 0);
    pump();
    ASSERT_EQ(of_type(t::select).size(), 1u);
    EXPECT_EQ(of_type(t::select)[0].picked, "1");
    ASSERT_EQ(of_type(t::change).size(), 1u);
    EXPECT_EQ(of_type(t::change)[0].picked, "1");
    EXPECT_EQ(molded("w1/selected"), "1");
    EXPECT_EQ(molded("p1/visible?"), "true");
    EXPECT_EQ(molded("p3/visible?"), "false");
    // A stop answer to select refuses the switch.
    events.clear();
    hook = [](const Record& e) { return e.type == t::select; };
    gtk_notebook_set_current_page(nb, 1);
    pump();
    EXPECT_EQ(gtk_notebook_get_current_page(nb), 0);
    EXPECT_TRUE(of_type(t::change).empty());
    EXPECT_EQ(molded("w1/selected"), "1");
    // Tabs go with the strings about to be removed ("A" and 1: one tab).
    hook = nullptr;
    Cell data = eval("w1/data");
    Cell remove = eval("'remove");
    Cell word = eval("'data");
    gui::update_facet(&tp, &word, &data, &remove, nullptr, 0, 2);
    EXPECT_EQ(gtk_notebook_get_n_pages(nb), 2);
}

TEST_F(Widgets, ACalendarShowsAndReadsDates) {
    Cell c = one("type: 'calendar offset: 10x10 size: 139x148 data: 1-Jan-1500");
    GtkCalendar* cal = GTK_CALENDAR(rec(c)->inner);
    guint y, m, d;
    gtk_calendar_get_date(cal, &y, &m, &d);
    EXPECT_EQ(y, 1601u) << "years before 1601 are shown as 1601";
    EXPECT_EQ(m, 0u);
    EXPECT_EQ(d, 1u);
    gtk_calendar_select_day(cal, 15);
    pump();
    EXPECT_EQ(molded("w1/data"), "15-Jan-1601");
    EXPECT_EQ(of_type(t::change).size(), 1u);
    gui::destroy_ridi(&win, false);
    // Without a date the calendar's own date goes into the face.
    one("type: 'calendar offset: 10x10 size: 139x148");
    EXPECT_EQ(molded("date? w1/data"), "true");
}

TEST_F(Widgets, FontsAreMadeOnDemandLinkedAndFallBack) {
    Cell b = one("type: 'button offset: 10x10 size: 120x30 text: \"Font\" font: make object! [name: \"No Such Font"
                 " At All Anywhere Really Truly Yes\" size: 12 style: [bold italic underline strike] angle: 0"
                 " color: 255.0.0 anti-alias?: true shadow: none state: none parent: none]");
    // The native font is in the font's state and the face in its parent block.
    EXPECT_EQ(molded("handle? pick w1/font/state 1"), "true");
    EXPECT_EQ(molded("same? w1 pick head w1/font/parent 1"), "true");
    // A size change re-makes the native font; a colour change does not.
    eval("old-state: w1/font/state  w1/font/size: 20");
    Cell font = eval("w1/font");
    gui::widgets::update_font(&font, 1);
    EXPECT_EQ(molded("same? old-state w1/font/state"), "false");
    EXPECT_EQ(molded("handle? pick w1/font/state 1"), "true");
    eval("old-state: w1/font/state");
    gui::widgets::update_font(&font, 4);
    EXPECT_EQ(molded("same? old-state w1/font/state"), "true");
    // The face measures in its font; an unknown name falls back to a font that exists.
    Cell small = eval("size-text/with w1 \"Hello\"");
    eval("w1/font/size: 40");
    Cell large = eval("size-text/with w1 \"Hello\"");
    double sw, sh, lw, lh;
    ASSERT_TRUE(gui::planar(&small, &sw, &sh));
    ASSERT_TRUE(gui::planar(&large, &lw, &lh));
    EXPECT_GT(sw, 10);
    EXPECT_GT(lw, sw * 1.5);
    // Fonts of the wrong type are the default font.
    set("font", "\"not a font\"", gui::facet::font);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(rec(b)->inner)), "Font");
}

TEST_F(Widgets, ParaStylesFollowTheTable) {
    struct Case {
        const char* type;
        const char* para;
        uint32_t bits;
    };
    const Case cases[] = {
        {"base", "none", 0x15},
        {"base", "[align: 'right v-align: 'bottom wrap?: false]", 0xA},
        {"rich-text", "none", 0x10},
        {"button", "none", 0xF00},
        {"toggle", "[align: 'left v-align: 'top wrap?: false]", 0x500},
        {"check", "none", 0xD00},
        {"radio", "[align: 'center]", 0xF00},
        {"field", "[wrap?: false]", 0xC0},
        {"area", "[align: 'center v-align: 'middle]", 0x201},
        {"text", "[align: 'right wrap?: false]", 0x4002},
        {"slider", "[align: 'right]", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.para);
        Cell type = eval(std::string("'") + c.type);
        Cell para = std::string(c.para) == "none"
                        ? eval("none")
                        : eval(std::string("make make object! [origin: none padding: none scroll: none align: none"
                                           " v-align: none wrap?: none parent: none] ") +
                               c.para);
        EXPECT_EQ(gui::widgets::para_style(&type, &para), c.bits);
    }
}

// ---- driven from outside the program -------------------------------------------------------------------

class WidgetsEndToEnd : public Widgets {
protected:
    void SetUp() override {
        Widgets::SetUp();
        if (std::system("command -v xdotool > /dev/null") != 0) GTEST_SKIP() << "xdotool is not installed";
    }
};

TEST_F(WidgetsEndToEnd, TypingClickingAndChoosing) {
    face("fld", "type: 'field offset: 10x10 size: 150x26 text: \"\" flags: [focusable]");
    face("btn", "type: 'button offset: 10x50 size: 80x30 text: \"Add\"");
    face("lst", "type: 'text-list offset: 180x10 size: 120x120 data: [\"one\" \"two\" \"three\"]");
    win = face("win", "type: 'window offset: 30x30 size: 400x300 pane: reduce [fld btn lst]");
    realise(win);
    show(win);
    Cell fld = named("fld"), btn = named("btn"), lst = named("lst");
    xdotool("mousemove --sync " + at(fld, 20, 13) + " click 1");
    ASSERT_TRUE(wait_for([&] { return gtk_widget_has_focus(rec(fld)->inner); }));
    xdotool("type --delay 20 hello");
    ASSERT_TRUE(wait_for([&] { return molded("fld/text") == "\"hello\""; })) << molded("fld/text");
    EXPECT_GE(of_type(t::change).size(), 5u);
    events.clear();
    xdotool("mousemove --sync " + at(btn, 20, 15) + " click 1");
    ASSERT_TRUE(wait_for([&] { return !of_type(t::click).empty(); }));
    EXPECT_EQ(of_type(t::click)[0].face, "btn");
    // The second row of the list, in the middle of its line.
    GtkTreePath* p = gtk_tree_path_new_from_indices(1, -1);
    GdkRectangle cell;
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(rec(lst)->inner), p, nullptr, &cell);
    gtk_tree_path_free(p);
    int wx = 0, wy = 0;
    gtk_tree_view_convert_bin_window_to_widget_coords(GTK_TREE_VIEW(rec(lst)->inner), cell.x + 10,
                                                      cell.y + cell.height / 2, &wx, &wy);
    int tx = 0, ty = 0;
    gtk_widget_translate_coordinates(rec(lst)->inner, view(lst)->widget, wx, wy, &tx, &ty);
    events.clear();
    xdotool("mousemove --sync " + at(lst, gui::to_logical(tx), gui::to_logical(ty)) + " click 1");
    ASSERT_TRUE(wait_for([&] { return !of_type(t::change).empty(); }));
    EXPECT_EQ(of_type(t::select)[0].picked, "2");
    EXPECT_EQ(molded("lst/selected"), "2");
}

}  // namespace
}  // namespace zuv::testing
