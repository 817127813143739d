// Backend start-up and system integration: opening the display (a missing one is a clean
// "no"), the DPI from the Xft resolution, the screens, the system font, metrics and colours
// written into system/ridi, and the dark-theme preference.
#include <sys/utsname.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "library/boot.h"
#include "runtime/print.h"
#include "runtime/throw.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"

namespace zuv::gui {

namespace {

int init_state = 0;  // 0 not tried, 1 open, -1 no display
uint64_t paint_clock = 0;

GdkMonitor* monitor_at(int32_t index) {
    GdkDisplay* d = gdk_display_get_default();
    return d ? gdk_display_get_monitor(d, index) : nullptr;
}

int32_t monitor_index(GdkMonitor* m) {
    GdkDisplay* d = gdk_display_get_default();
    int n = d ? gdk_display_get_n_monitors(d) : 0;
    for (int i = 0; i < n; ++i)
        if (gdk_display_get_monitor(d, i) == m) return i;
    return -1;
}

// Sets the value after a key in a block of key/value pairs, or a field of an object; a key
// the block lacks is appended with its value.
void put_key(Cell* container, const char* key, const Cell* value) {
    if (!container) return;
    int32_t sym = symbol::resolve(symbol::make(key));
    if (container->is(Type::object)) {
        Cell o = *container;
        if (object::find_index(&o, sym) >= 0) *object::find_value(&o, sym) = *value;
        return;
    }
    if (container->is(Type::map)) {
        Cell m = *container, k, v = *value;
        cell::make(&k, Type::set_word, 0, static_cast<uint32_t>(sym), static_cast<uint32_t>(-1));
        map::put(&m, &k, &v, false, nullptr);
        return;
    }
    if (!container->is(Type::block)) return;
    Cell b = *container;
    int32_t n = series::length(&b);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        Cell* k = block::head(&b) + i;
        if ((k->is(Type::set_word) || k->is(Type::word) || k->is(Type::lit_word)) && symbol::resolve(word::symbol_of(k)) == sym) {
            *(block::head(&b) + i + 1) = *value;
            return;
        }
    }
    Cell k;
    cell::make(&k, Type::set_word, 0, static_cast<uint32_t>(sym), static_cast<uint32_t>(-1));
    Cell v = *value;
    block::append(&b, &k);
    block::append(&b, &v);
}

Cell* ridi_field(const char* name) {
    Cell* c = object::system_field({"ridi", name});
    return c && !c->is(Type::none) ? c : nullptr;
}

bool theme_color(GtkStyleContext* ctx, const char* name, Cell* out) {
    GdkRGBA c;
    if (!gtk_style_context_lookup_color(ctx, name, &c)) return false;
    tuple::from_rgba(out, static_cast<int32_t>(std::lround(c.red * 255)), static_cast<int32_t>(std::lround(c.green * 255)),
                     static_cast<int32_t>(std::lround(c.blue * 255)), -1);
    return true;
}

// The monitors changed (one added, removed, moved or resized): the language level reads its
// screens again. An error there is printed and the program goes on.
void on_monitors_changed(GdkScreen*, gpointer) {
    Cell* platform = ridi_field("platform");
    if (!platform || !platform->is(Type::object)) return;
    Cell p = *platform;
    Cell* fn = object::find_value(&p, symbol::make("refresh-screens"));
    if (!fn || !fn->is(Type::function)) return;
    Cell f = *fn, result;
    Cell name = scalar::word_of("refresh-screens");
    Cell* mark = stack::arguments_top;
    try {
        interpreter::apply_function(&f, &name, nullptr, 0, &result);
    } catch (const runtime::Throw& t) {
        std::string text = t.code == runtime::throw_error ? boot::describe_error(stack::top()) : "*** Throw in refresh-screens";
        stack::arguments_top = mark;
        runtime::print_line({text.c_str()});
    }
    stack::arguments_top = mark;
}

// The resolution as the toolkit's settings give it (the Xft resolution, in 1024ths of a dot
// per inch), else the screen's; 96 when neither says.
int32_t settings_dpi() {
    gint xft = -1;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &xft, nullptr);
    GdkScreen* s = gdk_screen_get_default();
    double r = xft > 0 ? xft / 1024.0 : s ? gdk_screen_get_resolution(s) : -1;
    return r > 0 ? static_cast<int32_t>(std::lround(r)) : 96;
}

// The resolution or the theme changed: the metrics, fonts and screens are read again and the
// faces of every window laid out again at the new scale.
void on_settings_changed(GObject*, GParamSpec* which, gpointer) {
    bool resolution = std::strcmp(g_param_spec_get_name(which), "gtk-xft-dpi") == 0;
    if (resolution) {
        int32_t d = settings_dpi();
        if (d == dpi) return;
        set_dpi(d);
    }
    fill_system_ridi();
    on_monitors_changed(nullptr, nullptr);
    relayout_views();
}

}  // namespace

bool available() { return init_state == 1; }

bool init() {
    if (init_state) return init_state == 1;
    if (!gtk_init_check(nullptr, nullptr)) {
        init_state = -1;
        return false;
    }
    init_state = 1;
    gdk_event_handler_set(filter_event, nullptr, nullptr);
    // The Xft resolution (from the settings daemon or the X resources) as GTK's settings
    // read it; the screen's resolution is set from them once they exist.
    set_dpi(settings_dpi());
    if (GdkScreen* s = gdk_screen_get_default())
        g_signal_connect(s, "monitors-changed", G_CALLBACK(on_monitors_changed), nullptr);
    for (const char* setting : {"notify::gtk-xft-dpi", "notify::gtk-theme-name", "notify::gtk-font-name"})
        g_signal_connect(gtk_settings_get_default(), setting, G_CALLBACK(on_settings_changed), nullptr);
    clock_start(&paint_clock);
    return true;
}

void os_version(int32_t* major, int32_t* minor, int32_t* build, int32_t* product) {
    *major = *minor = *build = 0;
    *product = 1;  // a workstation
    utsname u;
    if (uname(&u) == 0) std::sscanf(u.release, "%d.%d.%d", major, minor, build);
}

void fill_system_ridi() {
    if (!available()) return;
    // Fonts: the system font of the theme, its size in points.
    GtkSettings* settings = gtk_settings_get_default();
    gchar* font_name = nullptr;
    g_object_get(settings, "gtk-font-name", &font_name, nullptr);
    PangoFontDescription* fd = pango_font_description_from_string(font_name ? font_name : "Sans 10");
    g_free(font_name);
    const char* family = pango_font_description_get_family(fd);
    std::string fam = family ? family : "Sans";
    int32_t points = pango_font_description_get_size(fd) / PANGO_SCALE;
    if (points <= 0) points = 10;
    pango_font_description_free(fd);
    Cell* top = stack::arguments_top;
    if (Cell* fonts = ridi_field("fonts")) {
        Cell f = *fonts;
        Cell* name = string::load_push(reinterpret_cast<const uint8_t*>(fam.data()), fam.size());
        Cell n = *name;
        put_key(&f, "system", &n);
        Cell size;
        cell::make(&size, Type::integer, 0, static_cast<uint32_t>(points));
        put_key(&f, "size", &size);
    }
    if (Cell* metrics = ridi_field("metrics")) {
        Cell m = *metrics;
        Cell d;
        cell::make(&d, Type::integer, 0, static_cast<uint32_t>(dpi));
        put_key(&m, "dpi", &d);
        // Scroll bar thickness, both ways.
        GtkWidget* vs = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr);
        GtkWidget* hs = gtk_scrollbar_new(GTK_ORIENTATION_HORIZONTAL, nullptr);
        g_object_ref_sink(vs);
        g_object_ref_sink(hs);
        int vw = 0, hh = 0;
        gtk_widget_get_preferred_width(vs, &vw, nullptr);
        gtk_widget_get_preferred_height(hs, &hh, nullptr);
        g_object_unref(vs);
        g_object_unref(hs);
        Cell sc;
        pair::make_at(&sc, vw, hh);
        Cell mm = m;
        if (Cell* misc = object::find_value(&mm, symbol::make("misc")); misc && !misc->is(Type::none)) {
            Cell c = *misc;
            put_key(&c, "scroller", &sc);
        }
        if (Cell* colors = object::find_value(&mm, symbol::make("colors")); colors && !colors->is(Type::none)) {
            Cell c = *colors;
            GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
            g_object_ref_sink(w);
            GtkStyleContext* ctx = gtk_widget_get_style_context(w);
            Cell t;
            if (theme_color(ctx, "theme_text_color", &t) || theme_color(ctx, "theme_fg_color", &t)) put_key(&c, "text", &t);
            if (theme_color(ctx, "theme_base_color", &t)) put_key(&c, "window", &t);
            if (theme_color(ctx, "theme_bg_color", &t)) put_key(&c, "panel", &t);
            gtk_widget_destroy(w);
            g_object_unref(w);
        }
    }
    if (Cell* platform = ridi_field("platform"); platform && platform->is(Type::object)) {
        int32_t major, minor, build, product;
        os_version(&major, &minor, &build, &product);
        Cell p = *platform;
        Cell v;
        tuple::make_at(&v, 3, static_cast<uint32_t>(major & 0xFF) | static_cast<uint32_t>(minor & 0xFF) << 8, 0, 0);
        put_key(&p, "version", &v);
        cell::make(&v, Type::integer, 0, static_cast<uint32_t>(build));
        put_key(&p, "build", &v);
        cell::make(&v, Type::integer, 0, static_cast<uint32_t>(product));
        put_key(&p, "product", &v);
    }
    Cell size;
    int32_t sw, sh;
    screen_size(&sw, &sh);
    pair::make_at(&size, sw, sh);
    if (Cell* metrics = ridi_field("metrics")) {
        Cell m = *metrics;
        put_key(&m, "screen-size", &size);
    }
    stack::arguments_top = top;
}

// ---- screens ---------------------------------------------------------------------------------------

Cell* fetch_all_screens() {
    GdkDisplay* d = available() ? gdk_display_get_default() : nullptr;
    int n = d ? gdk_display_get_n_monitors(d) : 0;
    Cell* list = block::push_new(n > 0 ? n : 1);
    for (int i = 0; i < n; ++i) {
        GdkMonitor* m = gdk_display_get_monitor(d, i);
        GdkRectangle g;
        gdk_monitor_get_geometry(m, &g);
        Cell rec;
        block::make_at(&rec, 4);
        Cell* held = block::append(list, &rec);
        Cell r = *held;
        pair::make_in(&r, g.x, g.y);
        pair::make_in(&r, g.width, g.height);
        Cell f;
        float_::make_at(&f, scale);
        block::append(&r, &f);
        handle::make_in(&r, static_cast<uint32_t>(i + 1), handle::subtype::monitor);
    }
    return list;
}

uint32_t current_screen() {
    GdkDisplay* d = available() ? gdk_display_get_default() : nullptr;
    if (!d) return 0;
    GdkSeat* seat = gdk_display_get_default_seat(d);
    int x = 0, y = 0;
    if (GdkDevice* p = seat ? gdk_seat_get_pointer(seat) : nullptr) gdk_device_get_position(p, nullptr, &x, &y);
    int32_t i = monitor_index(gdk_display_get_monitor_at_point(d, x, y));
    return static_cast<uint32_t>(i < 0 ? 1 : i + 1);
}

void screen_size(int32_t* width, int32_t* height) {
    *width = *height = 0;
    GdkDisplay* d = available() ? gdk_display_get_default() : nullptr;
    if (!d) return;
    GdkMonitor* m = gdk_display_get_primary_monitor(d);
    if (!m) m = monitor_at(0);
    if (!m) return;
    GdkRectangle g;
    gdk_monitor_get_geometry(m, &g);
    *width = g.width * 96 / dpi;
    *height = g.height * 96 / dpi;
}

// ---- theme -----------------------------------------------------------------------------------------

bool support_dark_mode_q() { return available(); }

void set_dark_mode(const Cell* face, bool dark) {
    // GTK keeps the preference per screen: every window of the program follows it.
    if (!view_of_handle(face_handle(face))) return;
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
}

}  // namespace zuv::gui
