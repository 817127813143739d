// The requesters driven from the language: each dialog is acted on from inside its modal loop
// (a made Escape key, or a file, folder or font set in the chooser and the dialog answered),
// and the value the language gets back is checked, with the loop counters around it.
#include <glib/gstdio.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "gui_fixture.h"
#include "ridi/backend/gtk/dialogs.h"

namespace zuv::testing {
namespace {

std::string make_temp_dir() {
    char tmpl[] = "/tmp/zuv-dialogs-XXXXXX";
    return mkdtemp(tmpl);
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

// Runs the toolkit until the condition holds (inside a dialog's loop, without the fixture's
// counters). The limit is generous: a chooser reads its folder in the background, which takes
// seconds when the machine is busy.
bool spin_until(const std::function<bool()>& done, int rounds = 2000) {
    for (int i = 0; i < rounds; ++i) {
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        if (done()) return true;
        g_usleep(5000);
    }
    return false;
}

// A key press and release made for the dialog's window and put on GDK's queue.
void press_key(GtkWidget* dialog, guint keyval) {
    GdkWindow* g = gtk_widget_get_window(dialog);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys, &n);
    for (GdkEventType t : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* e = gdk_event_new(t);
        e->key.window = GDK_WINDOW(g_object_ref(g));
        e->key.keyval = keyval;
        e->key.hardware_keycode = n > 0 ? static_cast<guint16>(keys[0].keycode) : 0;
        e->key.time = GDK_CURRENT_TIME;
        gdk_event_set_device(e, gdk_seat_get_keyboard(seat));
        gdk_event_put(e);
        gdk_event_free(e);
    }
    g_free(keys);
}

std::string folder_of(GtkWidget* d) {
    gchar* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(d));
    std::string s = f ? f : "";
    g_free(f);
    return s;
}

class Dialogs : public GuiTest {
protected:
    std::string dir;
    int shown = 0;
    void SetUp() override {
        GuiTest::SetUp();
        dir = make_temp_dir();
        for (const char* f : {"a.txt", "b.txt", "c.zuv"}) touch(dir + "/" + f);
        g_mkdir(std::string(dir + "/sub").c_str(), 0700);
    }
    void TearDown() override {
        gui::set_dialog_hook(nullptr);
        for (const char* f : {"a.txt", "b.txt", "c.zuv"}) g_unlink((dir + "/" + f).c_str());
        g_rmdir((dir + "/sub").c_str());
        g_rmdir(dir.c_str());
        GuiTest::TearDown();
    }
    // Evaluates code that opens a dialog, acting on the dialog with `act` once it shows. A dialog
    // still open a minute later is cancelled and the test fails, rather than its modal loop
    // waiting until the whole run times out.
    std::string ask(const std::string& code, std::function<void(GtkWidget*)> act) {
        shown = 0;
        open.clear();
        gui::set_dialog_hook([this, act](GtkWidget* d) {
            ++shown;
            open.push_back(d);
            g_object_add_weak_pointer(G_OBJECT(d), reinterpret_cast<gpointer*>(&open.back()));
            act(d);
        });
        guint net = g_timeout_add_seconds(60, cancel_open, this);
        Cell r = eval("mold " + code);
        g_source_remove(net);
        for (GtkWidget*& d : open)
            if (d) g_object_remove_weak_pointer(G_OBJECT(d), reinterpret_cast<gpointer*>(&d));
        gui::set_dialog_hook(nullptr);
        return string::to_utf8(&r);
    }
    static gboolean cancel_open(gpointer self) {
        ADD_FAILURE() << "a dialog was never answered";
        for (GtkWidget* d : static_cast<Dialogs*>(self)->open)
            if (d) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
        return G_SOURCE_CONTINUE;
    }
    std::deque<GtkWidget*> open;  // a deque keeps the weak pointers' addresses as it grows
    std::string file(const std::string& name) { return "%" + dir + "/" + name; }
};

void on_answer(GtkDialog*, gint, gpointer answered) { *static_cast<bool*>(answered) = true; }

// Clicks the dialog's accepting button (Open, Save, Select), once its folder is read, and waits
// for the answer. A chooser that has not yet shown what was set in it can let a click pass
// without answering, so the button is clicked again until it does.
void accept(GtkWidget* d) {
    if (GTK_IS_FILE_CHOOSER(d)) spin_until([&] { return !folder_of(d).empty(); });
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
    if (!button) button = gtk_dialog_get_widget_for_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
    ASSERT_NE(button, nullptr);
    bool answered = false;
    gulong id = g_signal_connect(d, "response", G_CALLBACK(on_answer), &answered);
    for (int i = 0; i < 40 && !answered; ++i) {
        gtk_button_clicked(GTK_BUTTON(button));
        spin_until([&] { return answered; }, 100);
    }
    g_signal_handler_disconnect(d, id);
    EXPECT_TRUE(answered) << "the dialog did not take the click";
}

TEST_F(Dialogs, EscapeCancelsEveryRequesterWithNone) {
    for (std::string code : {"request-file", "request-file/save", "request-file/multi", "request-dir",
                             "request-dir/keep", "request-font", "request-font/mono"}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(ask(code, [](GtkWidget* d) { press_key(d, GDK_KEY_Escape); }), "none");
        EXPECT_EQ(shown, 1);
    }
}

TEST_F(Dialogs, TheLoopCountersStayAndTheFacesGetNoInputMeanwhile) {
    Cell win = face("w", "type: 'window offset: 40x40 size: 200x100 rate: 50");
    realise(win);
    show(win);
    int32_t depth = gui::loop_depth, inside_depth = -1;
    size_t ticks = 0, presses = 0;
    std::string r = ask("request-file", [&](GtkWidget* d) {
        inside_depth = gui::loop_depth;
        // A press on the window under the dialog is the toolkit's to drop, not the face's.
        GdkEvent* e = event_for(win, GDK_BUTTON_PRESS, 10, 10);
        gdk_event_put(e);
        gdk_event_free(e);
        size_t before = of_type(gui::type::time).size();
        spin_until([&] { return of_type(gui::type::time).size() > before + 2; });
        ticks = of_type(gui::type::time).size() - before;
        presses = of_type(gui::type::down).size();
        gui::exit_event_loop();  // a stop asked for meanwhile waits for the loop it ends
        press_key(d, GDK_KEY_Escape);
    });
    EXPECT_EQ(r, "none");
    EXPECT_EQ(inside_depth, depth);
    EXPECT_EQ(gui::loop_depth, depth);
    EXPECT_GT(ticks, 2u) << "timers go on while the dialog is open";
    EXPECT_EQ(presses, 0u);
    EXPECT_EQ(gui::quit_requests, 1);
    gui::do_events(false);  // takes the stop and returns
    EXPECT_EQ(gui::quit_requests, 0);
}

TEST_F(Dialogs, ADialogOpenedInsideAnotherLeavesTheFacesWithoutInputUntilBothAreAnswered) {
    Cell win = face("w", "type: 'window offset: 40x40 size: 200x100");
    realise(win);
    show(win);
    std::string inner;
    size_t presses_between = 99;
    std::string r = ask("request-file", [&](GtkWidget* d) {
        if (shown == 2) {  // the inner one
            press_key(d, GDK_KEY_Escape);
            return;
        }
        Cell m = eval("mold request-font");
        inner = string::to_utf8(&m);
        GdkEvent* e = event_for(win, GDK_BUTTON_PRESS, 10, 10);
        gdk_event_put(e);
        gdk_event_free(e);
        int rounds = 0;
        spin_until([&] { return ++rounds > 40; });  // the press has long been handled by then
        presses_between = of_type(gui::type::down).size();
        press_key(d, GDK_KEY_Escape);
    });
    EXPECT_EQ(inner, "none");
    EXPECT_EQ(r, "none");
    EXPECT_EQ(presses_between, 0u);
    // Afterwards the faces hear their input again.
    GdkEvent* e = event_for(win, GDK_BUTTON_PRESS, 10, 10);
    put(e);
    EXPECT_EQ(of_type(gui::type::down).size(), 1u);
}

TEST_F(Dialogs, AnInitialPathOpensItsFolderWithTheNameChosen) {
    std::string folder, name;
    std::string r = ask("request-file/file " + file("b.txt"), [&](GtkWidget* d) {
        spin_until([&] { return !(folder = folder_of(d)).empty(); });
        spin_until([&] {
            gchar* f = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
            name = f ? f : "";
            g_free(f);
            return !name.empty();
        });
        accept(d);
    });
    EXPECT_EQ(folder, dir);
    EXPECT_EQ(name, dir + "/b.txt");
    EXPECT_EQ(r, file("b.txt"));
}

TEST_F(Dialogs, AChosenFileComesBackAsAFileAndUnderMultiAsABlock) {
    auto choose = [&](const std::string& f) {
        return [this, f](GtkWidget* d) {
            // The chooser selects the file once it has read the folder; a choice it lost
            // meanwhile is made again.
            std::string path = dir + "/" + f;
            auto chosen = [&] {
                gchar* got = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
                bool there = got && path == got;
                g_free(got);
                return there;
            };
            for (int i = 0; i < 10 && !chosen(); ++i) {
                gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(d), path.c_str());
                spin_until(chosen, 200);
            }
            accept(d);
        };
    };
    EXPECT_EQ(ask("request-file/file %" + dir + "/", choose("a.txt")), file("a.txt"));
    EXPECT_EQ(ask("request-file/multi/file %" + dir + "/", choose("c.zuv")), "[" + file("c.zuv") + "]");
    EXPECT_EQ(ask("request-file/title \"Pick\"", [](GtkWidget* d) {
                  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), "Pick");
                  press_key(d, GDK_KEY_Escape);
              }),
              "none");
}

TEST_F(Dialogs, MultipleSelectionTakesWhatTheFilterShows) {
    std::vector<std::string> filters;
    std::string r = ask("request-file/multi/filter/file [\"Text files\" \"*.txt\" \"Scripts\" %*.zuv] %" + dir + "/",
                        [&](GtkWidget* d) {
                            GtkFileChooser* c = GTK_FILE_CHOOSER(d);
                            GSList* list = gtk_file_chooser_list_filters(c);
                            for (GSList* l = list; l; l = l->next)
                                filters.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(l->data)));
                            g_slist_free(list);
                            // Select everything listed once the folder has been read.
                            spin_until([&] {
                                gtk_file_chooser_select_all(c);
                                GSList* sel = gtk_file_chooser_get_filenames(c);
                                guint n = g_slist_length(sel);
                                g_slist_free_full(sel, g_free);
                                return n >= 2;
                            });
                            accept(d);
                        });
    EXPECT_EQ(filters, (std::vector<std::string>{"Text files", "Scripts"}));
    EXPECT_EQ(r, "[" + file("a.txt") + " " + file("b.txt") + "]");
}

TEST_F(Dialogs, FilterListsDefaultEmptyAndBad) {
    auto names = [&](const std::string& code) {
        std::vector<std::string> out;
        ask(code, [&](GtkWidget* d) {
            GSList* list = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(d));
            for (GSList* l = list; l; l = l->next) out.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(l->data)));
            g_slist_free(list);
            press_key(d, GDK_KEY_Escape);
        });
        return out;
    };
    EXPECT_EQ(names("request-file"),
              (std::vector<std::string>{"All files", "Zuv scripts", "BIVANE scripts", "Text files"}));
    EXPECT_TRUE(names("request-file/filter []").empty());
    // Filters are read from the block's position; a name without its pattern is left out.
    EXPECT_EQ(names("request-file/filter next [\"skipped\" \"Text\" \"*.txt\" \"Lone\"]"),
              (std::vector<std::string>{"Text"}));
    // A value that is neither a string nor a file is refused before anything shows.
    EXPECT_EQ(ask("try [request-file/filter [\"Text\" 5]]", [](GtkWidget*) {}).find("invalid-arg") != std::string::npos,
              true);
    EXPECT_EQ(shown, 0);
}

TEST_F(Dialogs, SaveModeNamesANewFile) {
    std::string name, folder;
    std::string r = ask("request-file/save/file " + file("new.txt"), [&](GtkWidget* d) {
        gchar* n = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(d));
        name = n ? n : "";
        g_free(n);
        spin_until([&] { return !(folder = folder_of(d)).empty(); });
        accept(d);
    });
    EXPECT_EQ(name, "new.txt");
    EXPECT_EQ(folder, dir);
    EXPECT_EQ(r, file("new.txt"));
    EXPECT_EQ(ask("request-file/save/multi/file " + file("two.txt"), accept), "[" + file("two.txt") + "]");
}

TEST_F(Dialogs, AStartFolderThatIsNotThereOpensTheCurrentOne) {
    gchar* cwd = g_get_current_dir();
    std::string here = cwd;
    g_free(cwd);
    for (std::string code : {"request-file/file %/no/such/folder/x.txt", "request-dir/dir %/no/such/folder/"}) {
        SCOPED_TRACE(code);
        std::string folder;
        EXPECT_EQ(ask(code,
                      [&](GtkWidget* d) {
                          spin_until([&] { return !(folder = folder_of(d)).empty(); });
                          press_key(d, GDK_KEY_Escape);
                      }),
                  "none");
        EXPECT_EQ(folder, here);
    }
}

TEST_F(Dialogs, AChosenFolderEndsInASlashAndKeepReopensOnIt) {
    EXPECT_EQ(ask("request-dir/dir %" + dir, accept), "%" + dir + "/");
    EXPECT_EQ(ask("request-dir/keep/dir %" + dir + "/sub", accept), "%" + dir + "/sub/");
    std::string folder;
    ask("request-dir/keep/dir %/tmp", [&](GtkWidget* d) {
        spin_until([&] { return !(folder = folder_of(d)).empty(); });
        press_key(d, GDK_KEY_Escape);
    });
    EXPECT_EQ(folder, dir + "/sub");
    // Without keep the folder asked for wins.
    ask("request-dir/dir %" + dir, [&](GtkWidget* d) {
        spin_until([&] { return !(folder = folder_of(d)).empty(); });
        press_key(d, GDK_KEY_Escape);
    });
    EXPECT_EQ(folder, dir);
}

std::string chooser_font(GtkWidget* d) {
    gchar* f = gtk_font_chooser_get_font(GTK_FONT_CHOOSER(d));
    std::string s = f ? f : "";
    g_free(f);
    return s;
}

TEST_F(Dialogs, TheFontDialogStartsOnTheGivenFontAndFillsTheNewOne) {
    eval("given: make font! [name: \"DejaVu Serif\" size: 14 style: [bold italic]]");
    std::string start;
    std::string r = ask("reduce [f: request-font/font given  same? f given  f/name f/size f/style]", [&](GtkWidget* d) {
        start = chooser_font(d);
        gtk_font_chooser_set_font(GTK_FONT_CHOOSER(d), "DejaVu Sans Bold 12");
        accept(d);
    });
    EXPECT_EQ(start, "DejaVu Serif Bold Italic 14");
    // A new font! is filled, never the one given.
    EXPECT_NE(r.find("false \"DejaVu Sans\" 12 bold]"), std::string::npos) << r;
    struct Case {
        const char* font;
        const char* style;
    } cases[] = {{"DejaVu Sans 9", "none"}, {"DejaVu Serif Italic 9", "italic"}, {"DejaVu Sans Bold Oblique 9", "[bold italic]"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.font);
        EXPECT_EQ(ask("do [f: request-font/font given  either object? f [f/style]['cancelled]]",
                      [&](GtkWidget* d) {
                          gtk_font_chooser_set_font(GTK_FONT_CHOOSER(d), c.font);
                          accept(d);
                      }),
                  c.style);
    }
}

TEST_F(Dialogs, WithoutAFontTheDialogOpensOnAFixedPitchElevenPoints) {
    PangoFontDescription* got = nullptr;
    ask("request-font", [&](GtkWidget* d) {
        got = gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(d));
        press_key(d, GDK_KEY_Escape);
    });
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(pango_font_description_get_size(got), 11 * PANGO_SCALE);
    // Courier New, or the fixed-pitch family that stands for it here.
    PangoFontFamily** families = nullptr;
    int n = 0;
    pango_font_map_list_families(pango_cairo_font_map_get_default(), &families, &n);
    bool mono = false;
    for (int i = 0; i < n; ++i)
        if (g_strcmp0(pango_font_family_get_name(families[i]), pango_font_description_get_family(got)) == 0)
            mono = pango_font_family_is_monospace(families[i]);
    g_free(families);
    EXPECT_TRUE(mono) << pango_font_description_get_family(got);
    pango_font_description_free(got);
}

}  // namespace
}  // namespace zuv::testing
