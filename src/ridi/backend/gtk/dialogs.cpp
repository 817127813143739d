// The file, folder and font dialogs. A dialog is modal over the active window and runs its own
// loop until it answers; meanwhile the windows' input does not reach the faces (as a disabled
// owner would not), while timers, painting and window changes go on through the usual filter.
// Paths come back as file! values: on Linux the system's notation is the language's own.
#include "ridi/backend/gtk/dialogs.h"

#include <pango/pangocairo.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory/symbol.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"

namespace zuv::gui {

namespace {

std::function<void(GtkWidget*)> shown_hook;
std::string kept_dir;  // the folder last chosen with the keep flag
int32_t modal_depth = 0;  // dialogs running, one inside another when a timer opens one

namespace font_field {
constexpr int32_t name = 0, size = 1, style = 2;
}

bool input_event(GdkEventType t) {
    switch (t) {
        case GDK_MOTION_NOTIFY: case GDK_BUTTON_PRESS: case GDK_2BUTTON_PRESS: case GDK_3BUTTON_PRESS:
        case GDK_BUTTON_RELEASE: case GDK_KEY_PRESS: case GDK_KEY_RELEASE: case GDK_ENTER_NOTIFY:
        case GDK_LEAVE_NOTIFY: case GDK_SCROLL: case GDK_TOUCH_BEGIN: case GDK_TOUCH_UPDATE: case GDK_TOUCH_END:
        case GDK_TOUCH_CANCEL: case GDK_TOUCHPAD_SWIPE: case GDK_TOUCHPAD_PINCH:
            return true;
        default:
            return false;
    }
}

// While a dialog runs, input goes straight to the toolkit, whose modal grab keeps it from the
// other windows; everything else takes the usual road.
void modal_filter(GdkEvent* e, gpointer) {
    if (input_event(e->type)) gtk_main_do_event(e);
    else filter_event(e, nullptr);
}

// gui/release-press-capture: the press being handled will not see its release, which goes to
// the dialog.
void release_press_capture() {
    View* p = view_of_handle(pressed_view);
    if (p && p->kind == Kind::base && p->capture > 0) --p->capture;
    else pressed_view = 0;
}

GtkWindow* foreground_window() {
    GtkWindow* found = nullptr;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next)
        if (gtk_window_is_active(GTK_WINDOW(l->data)) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
            found = GTK_WINDOW(l->data);
    g_list_free(tops);
    return found;
}

struct Run {
    gint response = GTK_RESPONSE_NONE;
    bool done = false;
};

void on_response(GtkDialog*, gint response, gpointer data) {
    auto* run = static_cast<Run*>(data);
    run->response = response;
    run->done = true;
}

void on_gone(GtkWidget*, gpointer data) { static_cast<Run*>(data)->done = true; }

// Closing the dialog (its close button, Escape) answers it; the dialog stays until we free it.
gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* run = static_cast<Run*>(data);
    run->response = GTK_RESPONSE_DELETE_EVENT;
    run->done = true;
    return TRUE;
}

// The answers that accept: our file dialogs' buttons, and the font dialog's own (its Select
// button and a double-clicked font).
bool accepted(gint response) { return response == GTK_RESPONSE_ACCEPT || response == GTK_RESPONSE_OK; }

// Shows the dialog modally and waits for its answer. Our own loop: the blocking loops of
// do-events keep their depth and quit counts, and a quit asked for meanwhile waits for them.
gint run_modal(GtkWidget* dialog) {
    Run run;
    gulong answered = g_signal_connect(dialog, "response", G_CALLBACK(on_response), &run);
    gulong gone = g_signal_connect(dialog, "destroy", G_CALLBACK(on_gone), &run);
    gulong closed = g_signal_connect(dialog, "delete-event", G_CALLBACK(on_delete), &run);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    if (GtkWindow* owner = foreground_window()) gtk_window_set_transient_for(GTK_WINDOW(dialog), owner);
    if (modal_depth++ == 0) gdk_event_handler_set(modal_filter, nullptr, nullptr);
    struct Restore {
        ~Restore() {
            if (--modal_depth == 0) gdk_event_handler_set(filter_event, nullptr, nullptr);
        }
    } restore;
    gtk_window_present(GTK_WINDOW(dialog));
    if (shown_hook) shown_hook(dialog);
    while (!run.done) gtk_main_iteration_do(TRUE);
    if (g_signal_handler_is_connected(dialog, answered)) g_signal_handler_disconnect(dialog, answered);
    if (g_signal_handler_is_connected(dialog, gone)) g_signal_handler_disconnect(dialog, gone);
    if (g_signal_handler_is_connected(dialog, closed)) g_signal_handler_disconnect(dialog, closed);
    return run.response;
}

std::string utf8_of(const Cell* c) { return string::to_utf8(c); }

// A path as the toolkit gives it (the file-name encoding) into a new file! on the stack.
Cell* push_file(const char* os_path, bool as_dir) {
    gchar* utf8 = g_filename_to_utf8(os_path, -1, nullptr, nullptr, nullptr);
    std::string p = utf8 ? utf8 : os_path;
    g_free(utf8);
    if (as_dir && (p.empty() || p.back() != '/')) p += '/';
    return file::load(reinterpret_cast<const uint8_t*>(p.data()), p.size());
}

std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    gchar* cwd = g_get_current_dir();
    std::string out = std::string(cwd) + "/" + path;
    g_free(cwd);
    return out;
}

bool is_dir(const std::string& path) { return !path.empty() && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR); }

// The folder a dialog opens in: the one asked for when it exists, else the current one.
// The chooser reads it later; the folder is given back.
std::string open_in(GtkFileChooser* chooser, const std::string& folder) {
    std::string f = absolute(folder);
    if (!is_dir(f)) {
        gchar* cwd = g_get_current_dir();
        f = cwd;
        g_free(cwd);
    }
    gtk_file_chooser_set_current_folder(chooser, f.c_str());
    return f;
}

// "*.zuv;*.zuvs" is two patterns; "*.*" means every file, with or without a dot.
GtkFileFilter* make_filter(const std::string& name, const std::string& patterns) {
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, name.c_str());
    size_t at = 0;
    while (at <= patterns.size()) {
        size_t end = patterns.find(';', at);
        if (end == std::string::npos) end = patterns.size();
        std::string p = patterns.substr(at, end - at);
        at = end + 1;
        while (!p.empty() && p.front() == ' ') p.erase(0, 1);
        while (!p.empty() && p.back() == ' ') p.pop_back();
        if (p.empty()) continue;
        gtk_file_filter_add_pattern(f, p == "*.*" ? "*" : p.c_str());
    }
    return f;
}

}  // namespace

const std::vector<std::string>& default_file_filter() {
    static const std::vector<std::string> list = {"All files",      "*.*",  "Zuv scripts", "*.zuv;*.zuvs",
                                                  "BIVANE scripts", "*.bv", "Text files",  "*.txt"};
    return list;
}

std::vector<std::string> request_file_filter(const Cell* block_in) {
    Cell b = *block_in;
    std::vector<std::string> out;
    int32_t n = series::length(&b);
    for (int32_t i = 0; i < n; ++i) {
        Cell v = *(block::head(&b) + i);
        if (!v.is(Type::string) && !v.is(Type::file)) error::raise(error::id::script_invalid_arg, &v);
        out.push_back(utf8_of(&v));
    }
    return out;
}

void set_dialog_hook(std::function<void(GtkWidget*)> hook) { shown_hook = std::move(hook); }

void request_file(Cell* title, Cell* name, Cell* filter, bool save, bool multi, Cell* out) {
    release_press_capture();
    // A bad filter is reported before anything shows.
    std::vector<std::string> filters =
        filter->is(Type::block) ? request_file_filter(filter) : default_file_filter();
    std::string folder, file;
    if (name->is(Type::file) || name->is(Type::string)) {
        std::string p = file::to_os_path(name);
        size_t slash = p.rfind('/');
        if (slash == std::string::npos) {
            file = p;
        } else {
            folder = slash == 0 ? "/" : p.substr(0, slash);
            file = p.substr(slash + 1);
        }
    }
    std::string caption = title->is(Type::string) ? utf8_of(title) : save ? "Save As" : "Open";
    GtkWidget* d = gtk_file_chooser_dialog_new(caption.c_str(), nullptr,
                                               save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
                                               "_Cancel", GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open",
                                               GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(d);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    // A save dialog names one file; with multi its answer is still a block.
    gtk_file_chooser_set_select_multiple(chooser, multi && !save);
    // A description without its patterns at the end shows nothing and is left out.
    for (size_t i = 0; i + 1 < filters.size(); i += 2)
        gtk_file_chooser_add_filter(chooser, make_filter(filters[i], filters[i + 1]));
    std::string in = open_in(chooser, folder);
    if (!file.empty()) {
        std::string full = in + (in.back() == '/' ? "" : "/") + file;
        if (save) gtk_file_chooser_set_current_name(chooser, file.c_str());
        else if (g_file_test(full.c_str(), G_FILE_TEST_EXISTS)) gtk_file_chooser_select_filename(chooser, full.c_str());
    }
    if (accepted(run_modal(d))) {
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        if (names && multi) {
            Cell* blk = block::push_new(static_cast<int32_t>(g_slist_length(names)));
            for (GSList* l = names; l; l = l->next) {
                Cell* f = push_file(static_cast<const char*>(l->data), false);
                block::append(blk, f);
                stack::pop(1);
            }
            *out = *blk;
            stack::pop(1);
        } else if (names) {
            *out = *push_file(static_cast<const char*>(names->data), false);
            stack::pop(1);
        }
        g_slist_free_full(names, g_free);
    }
    gtk_widget_destroy(d);
}

void request_dir(Cell* title, Cell* dir, Cell*, bool keep, bool, Cell* out) {
    release_press_capture();
    std::string start;
    if (keep && !kept_dir.empty()) start = kept_dir;
    else if (dir->is(Type::file) || dir->is(Type::string)) start = file::to_os_path(dir);
    std::string caption = title->is(Type::string) ? utf8_of(title) : "Select Folder";
    GtkWidget* d = gtk_file_chooser_dialog_new(caption.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                               "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(d);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    open_in(chooser, start);
    if (accepted(run_modal(d))) {
        gchar* chosen = gtk_file_chooser_get_filename(chooser);
        if (!chosen) chosen = gtk_file_chooser_get_current_folder(chooser);
        if (chosen) {
            if (keep) kept_dir = chosen;
            *out = *push_file(chosen, true);
            stack::pop(1);
            g_free(chosen);
        }
    }
    gtk_widget_destroy(d);
}

namespace {

gboolean monospace_only(const PangoFontFamily* family, const PangoFontFace*, gpointer) {
    return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
}

// A family the chooser lists: the one asked for when installed, else the one the font
// configuration puts in its place ("Courier New" becomes the mono font that stands for it).
std::string installed_family(const std::string& asked) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoFontFamily** families = nullptr;
    int n = 0;
    pango_font_map_list_families(map, &families, &n);
    std::string found;
    for (int i = 0; i < n && found.empty(); ++i)
        if (g_ascii_strcasecmp(pango_font_family_get_name(families[i]), asked.c_str()) == 0)
            found = pango_font_family_get_name(families[i]);
    g_free(families);
    if (!found.empty()) return found;
    PangoContext* ctx = pango_font_map_create_context(map);
    PangoFontDescription* d = pango_font_description_from_string(asked.c_str());
    pango_font_description_set_size(d, 11 * PANGO_SCALE);
    if (PangoFont* f = pango_font_map_load_font(map, ctx, d)) {
        PangoFontDescription* got = pango_font_describe(f);
        if (const char* fam = pango_font_description_get_family(got)) found = fam;
        pango_font_description_free(got);
        g_object_unref(f);
    }
    pango_font_description_free(d);
    g_object_unref(ctx);
    return found.empty() ? asked : found;
}

bool style_has(const Cell* style, const char* word) {
    auto named = [&](const Cell* c) {
        return (c->is(Type::word) || c->is(Type::lit_word)) &&
               symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(word));
    };
    if (named(style)) return true;
    if (!style->is(Type::block)) return false;
    Cell b = *style;
    for (int32_t i = 0; i < series::length(&b); ++i)
        if (named(block::head(&b) + i)) return true;
    return false;
}

Cell word_cell(const char* name) {
    Cell w;
    cell::make(&w, Type::word, context::global, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return w;
}

}  // namespace

void request_font(Cell* font_in, Cell* selected, bool mono, Cell* out) {
    release_press_capture();
    Cell font = *font_in;
    std::string family = "Courier New";
    int32_t points = 11;
    bool bold = false, italic = false;
    if (selected->is(Type::object)) {
        Cell sel = *selected;
        Cell* n = face_facet(&sel, font_field::name);
        if (n && n->is(Type::string) && string::char_count(n) > 0) family = utf8_of(n);
        Cell* s = face_facet(&sel, font_field::size);
        if (s && s->is(Type::integer) && integer::get(s) > 0 && integer::get(s) < 10000) points = integer::get(s);
        if (Cell* st = face_facet(&sel, font_field::style)) bold = style_has(st, "bold"), italic = style_has(st, "italic");
    }
    PangoFontDescription* start = pango_font_description_new();
    pango_font_description_set_family(start, installed_family(family).c_str());
    pango_font_description_set_size(start, points * PANGO_SCALE);
    pango_font_description_set_weight(start, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(start, italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    GtkWidget* d = gtk_font_chooser_dialog_new("Font", nullptr);
    GtkFontChooser* chooser = GTK_FONT_CHOOSER(d);
    if (mono) gtk_font_chooser_set_filter_func(chooser, monospace_only, nullptr, nullptr);
    gtk_font_chooser_set_font_desc(chooser, start);
    pango_font_description_free(start);
    if (accepted(run_modal(d))) {
        if (PangoFontDescription* got = gtk_font_chooser_get_font_desc(chooser)) {
            const char* fam = pango_font_description_get_family(got);
            double size = pango_font_description_get_size(got) / double(PANGO_SCALE);
            if (pango_font_description_get_size_is_absolute(got)) size = size * 72.0 / 96.0;
            bool b = pango_font_description_get_weight(got) >= PANGO_WEIGHT_BOLD;
            bool i = pango_font_description_get_style(got) != PANGO_STYLE_NORMAL;
            Cell* name = string::push_new(32);
            string::append_utf8(name, fam ? fam : "");
            if (Cell* slot = face_facet(&font, font_field::name)) *slot = *name;
            stack::pop(1);
            if (Cell* slot = face_facet(&font, font_field::size)) integer::make_at(slot, int32_t(size + 0.5));
            Cell style;
            cell::make(&style, Type::none);
            if (b && i) {
                Cell* blk = block::push_new(2);
                Cell w = word_cell("bold");
                block::append(blk, &w);
                w = word_cell("italic");
                block::append(blk, &w);
                style = *blk;
                stack::pop(1);
            } else if (b || i) {
                style = word_cell(b ? "bold" : "italic");
            }
            if (Cell* slot = face_facet(&font, font_field::style)) *slot = style;
            pango_font_description_free(got);
            *out = font;
        }
    }
    gtk_widget_destroy(d);
}

}  // namespace zuv::gui
