// Menus of faces: a menu block read left to right (a string is an item, the block or word
// after it its sub-menu or word, `---` a separator, anything else skipped) becomes GTK menu
// items; a picked item raises `menu` on the owner's face with the item's word.
#include "ridi/backend/gtk/menus.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "ridi/backend/gtk/backend.h"

namespace zuv::gui {

namespace {

constexpr const char* symbol_key = "zuv-menu-symbol";
constexpr const char* owner_key = "zuv-menu-owner";
constexpr const char* point_key = "zuv-menu-point";
// Sub-menus deeper than this are cut off: a block that holds itself would never end.
constexpr int32_t max_depth = 32;

GtkWidget* open_menu = nullptr;

bool any_word(const Cell* c) { return c->is(Type::word) || c->is(Type::lit_word); }

bool word_named(const Cell* c, const char* name) {
    return any_word(c) && symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(name));
}

// Item text in GTK's mnemonic form: `&` marks the access key as `_` does there, `&&` is a
// plain ampersand, and underscores of the text stay underscores.
std::string mnemonic(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
            else out += '_';
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

// A text item; what follows a tab is the item's shortcut, shown at the right.
GtkWidget* text_item(const std::string& text) {
    size_t tab = text.find('\t');
    if (tab == std::string::npos) return gtk_menu_item_new_with_mnemonic(mnemonic(text).c_str());
    GtkWidget* item = gtk_menu_item_new();
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 24);
    GtkWidget* label = gtk_label_new_with_mnemonic(mnemonic(text.substr(0, tab)).c_str());
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), item);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    GtkWidget* keys = gtk_label_new(text.substr(tab + 1).c_str());
    gtk_style_context_add_class(gtk_widget_get_style_context(keys), "accelerator");
    gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(box), keys, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(item), box);
    return item;
}

void on_activate(GtkMenuItem* item, gpointer) {
    auto owner = static_cast<uint32_t>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), owner_key)));
    View* v = view_of_handle(owner);
    if (!v || !v->slot) return;  // the owner went while its menu was open
    auto sym = static_cast<int32_t>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), symbol_key)));
    Message m = fallback_message(owner);
    // The item's whole symbol is kept with the message; the event's flags hold its low 16 bits.
    m.picked = sym;
    if (auto* at = static_cast<double*>(g_object_get_data(G_OBJECT(item), point_key))) {
        m.x = at[0], m.y = at[1], m.has_point = true;
    }
    make_event(&m, sym < 0 ? 0xFFFF : (sym & 0xFFFF), type::menu);
}

void build(const Cell* block_in, GtkMenuShell* shell, uint32_t owner, const double* point,
           std::vector<uint32_t>& path) {
    Cell b = *block_in;
    uint32_t node = series::node(&b);
    // A block already being built above this one would make the menu endless: its item
    // gets no sub-menu.
    for (uint32_t p : path)
        if (p == node) return;
    if (static_cast<int32_t>(path.size()) >= max_depth) return;
    path.push_back(node);
    int32_t n = series::length(&b);
    for (int32_t i = 0; i < n; ++i) {
        Cell v = *(block::head(&b) + i);
        if (word_named(&v, "---")) {
            GtkWidget* sep = gtk_separator_menu_item_new();
            gtk_widget_show(sep);
            gtk_menu_shell_append(shell, sep);
            continue;
        }
        if (!string::family_q(v.type())) continue;  // anything else is skipped
        GtkWidget* item = text_item(string::to_utf8(&v));
        int32_t sym = -1;
        if (i + 1 < n) {
            Cell next = *(block::head(&b) + i + 1);
            if (next.is(Type::block)) {
                GtkWidget* sub = gtk_menu_new();
                build(&next, GTK_MENU_SHELL(sub), owner, point, path);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
                ++i;
            } else if (any_word(&next) && !word_named(&next, "---")) {
                // A separator right after a text is a separator, not the item's word.
                sym = next.int2();
                ++i;
            }
        }
        g_object_set_data(G_OBJECT(item), symbol_key, GINT_TO_POINTER(sym));
        g_object_set_data(G_OBJECT(item), owner_key, GUINT_TO_POINTER(owner));
        if (point) {
            auto* at = static_cast<double*>(g_malloc(2 * sizeof(double)));
            at[0] = point[0], at[1] = point[1];
            g_object_set_data_full(G_OBJECT(item), point_key, at, g_free);
        }
        if (!gtk_menu_item_get_submenu(GTK_MENU_ITEM(item))) g_signal_connect(item, "activate", G_CALLBACK(on_activate), nullptr);
        gtk_widget_show_all(item);
        gtk_menu_shell_append(shell, item);
    }
    path.pop_back();
}

gboolean drop_menu(gpointer data) {
    auto* menu = static_cast<GtkWidget*>(data);
    if (open_menu == menu) open_menu = nullptr;
    gtk_widget_destroy(menu);
    g_object_unref(menu);
    return G_SOURCE_REMOVE;
}

// The menu closes before its item is activated: it is freed once that is over.
void on_deactivate(GtkMenuShell* shell, gpointer) { g_idle_add(drop_menu, shell); }

// The face's view goes while its menu is open: the menu closes with it and lets go of the
// pointer.
void on_owner_destroy(GtkWidget*, gpointer menu) {
    if (open_menu == menu) gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
}

// The box that stacks a window's menu bar over its client area, made on first need.
GtkWidget* window_box(View* v) {
    GtkWidget* parent = gtk_widget_get_parent(v->container);
    if (GTK_IS_BOX(parent)) return parent;
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref(v->container);
    gtk_container_remove(GTK_CONTAINER(v->widget), v->container);
    gtk_box_pack_end(GTK_BOX(box), v->container, TRUE, TRUE, 0);
    g_object_unref(v->container);
    gtk_container_add(GTK_CONTAINER(v->widget), box);
    gtk_widget_show(box);
    return box;
}

}  // namespace

void build_menu(const Cell* block, GtkMenuShell* shell, uint32_t owner) {
    std::vector<uint32_t> path;
    build(block, shell, owner, nullptr, path);
}

bool menu_bar_q(const Cell* menu, Kind kind) {
    if (kind != Kind::window || !menu || !menu->is(Type::block)) return false;
    Cell b = *menu;
    if (series::length(&b) == 0) return false;
    return !word_named(block::head(&b), "popup");
}

int32_t menu_bar_height(const View* v) {
    if (!v || !v->menu_bar || !gtk_widget_get_visible(v->menu_bar)) return 0;
    int min = 0, nat = 0;
    gtk_widget_get_preferred_height(v->menu_bar, &min, &nat);
    return nat;
}

void set_menu_bar(View* v, const Cell* face) {
    if (v->kind != Kind::window) return;
    int32_t before = menu_bar_height(v);
    if (v->menu_bar) {
        gtk_widget_destroy(v->menu_bar);
        v->menu_bar = nullptr;
    }
    Cell* menu = face_facet(face, facet::menu);
    if (menu_bar_q(menu, v->kind)) {
        GtkWidget* box = window_box(v);
        GtkWidget* bar = gtk_menu_bar_new();
        Cell m = *menu;
        build_menu(&m, GTK_MENU_SHELL(bar), v->handle);
        gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
        gtk_widget_show(bar);
        v->menu_bar = bar;
    }
    // A resizable window keeps its client size: the frame grows or shrinks with the bar.
    int32_t after = menu_bar_height(v);
    if (after != before && (v->flags & flag::resize) && gtk_widget_get_realized(v->widget)) {
        int w = 0, h = 0;
        gtk_window_get_size(GTK_WINDOW(v->widget), &w, &h);
        gtk_window_resize(GTK_WINDOW(v->widget), w, std::max(1, h - before + after));
    }
}

bool show_context_menu(View* v, GdkEvent* e, double x, double y) {
    Cell* face = view_face(v);
    if (!face) return false;
    Cell* menu = face_facet(face, facet::menu);
    if (!menu || !menu->is(Type::block) || menu_bar_q(menu, v->kind)) return false;
    Cell m = *menu;
    GtkWidget* popup = gtk_menu_new();
    g_object_ref_sink(popup);
    std::vector<uint32_t> path;
    double point[2] = {x, y};
    build(&m, GTK_MENU_SHELL(popup), v->handle, point, path);
    g_signal_connect(popup, "deactivate", G_CALLBACK(on_deactivate), nullptr);
    GtkWidget* at = v->kind == Kind::window ? v->container : v->widget;
    gtk_menu_attach_to_widget(GTK_MENU(popup), at, nullptr);
    g_signal_connect_object(at, "destroy", G_CALLBACK(on_owner_destroy), popup, GConnectFlags(0));
    if (open_menu) gtk_menu_shell_deactivate(GTK_MENU_SHELL(open_menu));
    open_menu = popup;
    gtk_menu_popup_at_pointer(GTK_MENU(popup), e);
    return true;
}

GtkWidget* context_menu() { return open_menu; }

}  // namespace zuv::gui
