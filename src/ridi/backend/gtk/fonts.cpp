// Fonts and para on native widgets: a font! object's native description kept in its state
// block (made on demand, re-made when a field that shapes the glyphs changes), and a face's
// font, colours and para turned into its widget's style, alignment and wrapping.
#include <cmath>
#include <cstdio>
#include <string>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/widget-record.h"
#include "ridi/backend/gtk/widgets.h"
#include "runtime/external.h"

namespace zuv::gui::widgets {

namespace {

namespace font_field {
constexpr int32_t name = 0, size = 1, style = 2, angle = 3, color = 4, anti_alias = 5, shadow = 6, state = 7,
                  parent = 8;
}
namespace para_field {
constexpr int32_t align = 3, v_align = 4, wrap = 5;
}

// A native font: its description and its place in the handle registry.
struct NativeFont {
    PangoFontDescription* description = nullptr;
    uint32_t registry = 0;
};

int32_t font_kind = -1;

void release_font(uintptr_t value) {
    auto* f = reinterpret_cast<NativeFont*>(value);
    if (f->registry) handle::leave(f->registry);
    pango_font_description_free(f->description);
    delete f;
}

// Field n of an object by position, or null.
Cell* field(const Cell* object, int32_t n) {
    if (!object || !object->is(Type::object)) return nullptr;
    return face_facet(object, n);
}

bool word_named(const Cell* c, const char* name) {
    return c && (c->is(Type::word) || c->is(Type::lit_word)) &&
           symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make(name));
}

bool style_has(const Cell* style, const char* word) {
    if (!style) return false;
    if (word_named(style, word)) return true;
    if (!style->is(Type::block)) return false;
    Cell b = *style;
    int32_t n = series::length(&b);
    for (int32_t i = 0; i < n; ++i)
        if (word_named(block::head(&b) + i, word)) return true;
    return false;
}

// The system font's name and size (system/ridi/fonts), or the toolkit's.
void default_font(std::string* name, int32_t* points) {
    *name = "Sans";
    *points = 9;
    Cell* fonts = object::system_field({"ridi", "fonts"});
    if (!fonts || !fonts->is(Type::object)) return;
    Cell f = *fonts;
    Cell* n = object::find_value(&f, symbol::make("system"));
    if (n && n->is(Type::string)) *name = string::to_utf8(n);
    Cell* s = object::find_value(&f, symbol::make("size"));
    if (s && s->is(Type::integer) && integer::get(s) > 0) *points = integer::get(s);
}

// What a font! asks for, with the defaults filled in.
struct FontAsked {
    std::string name;
    int32_t points = 9;
    bool bold = false, italic = false, underline = false, strike = false;
    int32_t angle = 0;
    cairo_antialias_t antialias = CAIRO_ANTIALIAS_DEFAULT;
    bool has_color = false;
    uint32_t color = 0;
};

FontAsked asked_of(const Cell* font) {
    FontAsked s;
    default_font(&s.name, &s.points);
    if (!font || !font->is(Type::object)) return s;
    Cell f = *font;
    Cell* n = field(&f, font_field::name);
    if (n && n->is(Type::string)) {
        std::string given = string::to_utf8(n);
        // Font names are cut where the system's are: 31 characters.
        if (g_utf8_strlen(given.c_str(), -1) > 31) {
            const char* end = g_utf8_offset_to_pointer(given.c_str(), 31);
            given.resize(static_cast<size_t>(end - given.c_str()));
        }
        if (!given.empty()) s.name = given;
    }
    Cell* size = field(&f, font_field::size);
    if (size && size->is(Type::integer) && integer::get(size) > 0 && integer::get(size) < 10000) s.points = integer::get(size);
    Cell* style = field(&f, font_field::style);
    s.bold = style_has(style, "bold");
    s.italic = style_has(style, "italic");
    s.underline = style_has(style, "underline");
    s.strike = style_has(style, "strike");
    Cell* angle = field(&f, font_field::angle);
    if (angle && angle->is(Type::integer)) s.angle = integer::get(angle);
    Cell* aa = field(&f, font_field::anti_alias);
    if (aa && aa->is(Type::logic)) s.antialias = logic::get(aa) ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_DEFAULT;
    else if (word_named(aa, "ClearType")) s.antialias = CAIRO_ANTIALIAS_SUBPIXEL;
    Cell* color = field(&f, font_field::color);
    if (color && color->is(Type::tuple)) s.has_color = true, s.color = tuple_to_color(color);
    return s;
}

// A description of what is asked, at a DPI: sizes in points, the pixel size following the DPI.
PangoFontDescription* describe(const FontAsked& s, int32_t at_dpi) {
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, s.name.c_str());
    pango_font_description_set_absolute_size(d, s.points * at_dpi / 72.0 * PANGO_SCALE);
    pango_font_description_set_weight(d, s.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, s.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return d;
}

void native_handle(Cell* at, PangoFontDescription* d) {
    if (font_kind < 0) font_kind = external::register_kind("font", release_font);
    auto* f = new NativeFont;
    f->description = d;
    f->registry = handle::enter(reinterpret_cast<uintptr_t>(f));
    int32_t record = external::add(reinterpret_cast<uintptr_t>(f), font_kind);
    handle::make_at(at, f->registry, handle::subtype::font);
    handle::set_record(at, record);
}

PangoFontDescription* description_at(const Cell* h) {
    if (!h || !h->is(Type::handle) || handle::record_of(h) < 0) return nullptr;
    auto* f = reinterpret_cast<NativeFont*>(handle::object(handle::value_of(h)));
    return f ? f->description : nullptr;
}

// gui/make-font: the native fonts into the font's state block [current-DPI none 96-DPI].
PangoFontDescription* make_font(Cell* font_in) {
    Cell font = *font_in;
    FontAsked s = asked_of(&font);
    Cell* st = field(&font, font_field::state);
    if (!st) return nullptr;
    if (!st->is(Type::block) || series::length(st) < 3) {
        Cell* made = block::push_new(3);
        Cell none_;
        cell::make(&none_, Type::none);
        for (int i = 0; i < 3; ++i) block::append(made, &none_);
        Cell b = *made;
        if (Cell* slot = field(&font, font_field::state)) *slot = b;
        stack::pop(1);
        Cell* cells = block::head(&b);
        native_handle(cells + 2, describe(s, 96));
    }
    Cell b = *field(&font, font_field::state);
    PangoFontDescription* d = describe(s, dpi);
    native_handle(block::head(&b), d);
    return d;
}

}  // namespace

bool free_font(Cell* font_in) {
    Cell font = *font_in;
    Cell* st = field(&font, font_field::state);
    if (!st || !st->is(Type::block)) return false;
    Cell b = *st;
    bool freed = false;
    int32_t n = series::length(&b);
    for (int32_t i = 0; i < n && i < 3; ++i) {
        Cell* h = block::head(&b) + i;
        if (h->is(Type::handle) && handle::record_of(h) >= 0) {
            external::remove(handle::record_of(h), true);
            cell::make(h, Type::none);
            freed = true;
        }
    }
    if (freed) cell::make(field(&font, font_field::state), Type::none);
    return freed;
}

namespace {

// The face put into the font's parent block unless it is there already.
void link_face(Cell* font_in, Cell* face_in) {
    Cell font = *font_in, face = *face_in;
    Cell* p = field(&font, font_field::parent);
    if (!p) return;
    if (!p->is(Type::block)) {
        Cell* made = block::push_new(4);
        Cell b = *made;
        if (Cell* slot = field(&font, font_field::parent)) *slot = b;
        stack::pop(1);
    }
    Cell b = *field(&font, font_field::parent);
    series::set_head(&b, 0);
    int32_t n = series::length(&b);
    for (int32_t i = 0; i < n; ++i) {
        Cell* c = block::head(&b) + i;
        if (c->is(Type::object) && object::context_of(c) == object::context_of(&face)) return;
    }
    block::append(&b, &face);
}

std::string css_color(uint32_t c) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "rgba(%u,%u,%u,%.3f)", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF,
                  1.0 - ((c >> 24) & 0xFF) / 255.0);
    return buf;
}

std::string css_string(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        if (ch == '"' || ch == '\\') out += '\\';
        if (ch == '\n') continue;
        out += ch;
    }
    return out + "\"";
}

// The selectors of the nodes that show a widget's background.
const char* background_nodes(Widget w) {
    switch (w) {
        case Widget::button: case Widget::toggle: return "button";
        case Widget::field: return "entry";
        case Widget::area: return "textview text";
        case Widget::text_list: return "treeview.view";
        case Widget::drop_down: case Widget::drop_list: return "combobox button, combobox entry";
        case Widget::calendar: return "calendar";
        case Widget::check: return "checkbutton";
        case Widget::radio: return "radiobutton";
        case Widget::tab_panel: return "notebook header, notebook stack";
        case Widget::slider: return "scale";
        case Widget::scroller: return "scrollbar";
        case Widget::progress: return "progressbar trough";
        default: return "*";
    }
}

void add_provider(GtkWidget* w, GtkCssProvider* p) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(p),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
}

// Native widgets are as small as their faces say: the theme's minimum sizes and paddings are
// brought down to what a 23-pixel row holds.
void compact_theme() {
    static bool done = false;
    if (done) return;
    done = true;
    GtkCssProvider* p = gtk_css_provider_new();
    gtk_css_provider_load_from_data(p,
                                    ".zuv-native { min-height: 0; min-width: 0; }\n"
                                    "combobox.zuv-native button, combobox.zuv-native entry, .zuv-native label"
                                    " { min-height: 0; min-width: 0; }\n"
                                    "button.zuv-native, combobox.zuv-native button { padding: 0 6px; }\n"
                                    "entry.zuv-native, combobox.zuv-native entry { padding: 0 4px; }\n"
                                    "checkbutton.zuv-native, radiobutton.zuv-native { padding: 0; }\n"
                                    "notebook.zuv-native tab { padding: 2px 8px; min-height: 0; }\n"
                                    "calendar.zuv-native { padding: 0; }\n"
                                    "progressbar.zuv-native trough, progressbar.zuv-native progress"
                                    " { min-height: 6px; min-width: 6px; }\n",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(p),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(p);
}

// Alignment and wrapping from the para's style bits.
void apply_para(Record* r, const Cell* face) {
    Cell* type = face_facet(face, facet::type);
    Cell* para = face_facet(face, facet::para);
    uint32_t bits = para_style(type, para && para->is(Type::object) ? para : nullptr);
    switch (r->widget) {
        case Widget::button: case Widget::toggle: case Widget::check: case Widget::radio: {
            uint32_t h = bits & 0x300, v = bits & 0xC00;
            GtkWidget* label = gtk_bin_get_child(GTK_BIN(r->inner));
            if (!label || !GTK_IS_LABEL(label)) break;
            gtk_widget_set_halign(label, GTK_ALIGN_FILL);
            gtk_widget_set_valign(label, GTK_ALIGN_FILL);
            gtk_label_set_xalign(GTK_LABEL(label), h == 0x100 ? 0.0f : h == 0x200 ? 1.0f : 0.5f);
            gtk_label_set_yalign(GTK_LABEL(label), v == 0x400 ? 0.0f : v == 0x800 ? 1.0f : 0.5f);
            gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
            break;
        }
        case Widget::field:
            gtk_entry_set_alignment(GTK_ENTRY(r->inner), (bits & 3) == 1 ? 0.5f : (bits & 3) == 2 ? 1.0f : 0.0f);
            break;
        case Widget::area: {
            GtkTextView* tv = GTK_TEXT_VIEW(r->inner);
            gtk_text_view_set_justification(tv, (bits & 3) == 1   ? GTK_JUSTIFY_CENTER
                                                : (bits & 3) == 2 ? GTK_JUSTIFY_RIGHT
                                                                  : GTK_JUSTIFY_LEFT);
            // Without a para an area does not wrap; with one its wrap? decides.
            bool wrap = para && para->is(Type::object) && !(bits & 0xC0);
            gtk_text_view_set_wrap_mode(tv, wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
            area_bars(view_of_widget(r->outer), face);
            break;
        }
        default: break;
    }
}

std::string css_of(Record* r, const FontAsked& s, const Cell* face);

}  // namespace

uint32_t para_style(const Cell* type, const Cell* para) {
    Cell p;
    cell::make(&p, Type::none);
    if (para && para->is(Type::object)) p = *para;
    Cell* align = field(&p, para_field::align);
    Cell* v_align = field(&p, para_field::v_align);
    Cell* w = field(&p, para_field::wrap);
    bool wrap = !w || w->is(Type::none) || (w->is(Type::logic) && logic::get(w));
    auto pick = [&](const Cell* word, const char* a, const char* b, const char* c, uint32_t va, uint32_t vb,
                    uint32_t vc, uint32_t otherwise) {
        if (word_named(word, a)) return va;
        if (word_named(word, b)) return vb;
        if (word_named(word, c)) return vc;
        return otherwise;
    };
    struct Row {
        const char* types[2];
        uint32_t left, center, right, h_other, top, middle, bottom, v_other, with_wrap, without_wrap;
    };
    static const Row rows[] = {
        {{"base", nullptr}, 0, 1, 2, 1, 0, 4, 8, 4, 0x10, 0},
        {{"rich-text", nullptr}, 0, 1, 2, 0, 0, 4, 8, 0, 0x10, 0},
        {{"button", "toggle"}, 0x100, 0x300, 0x200, 0x300, 0x400, 0xC00, 0x800, 0xC00, 0, 0},
        {{"check", "radio"}, 0x100, 0x300, 0x200, 0x100, 0x400, 0xC00, 0x800, 0xC00, 0, 0},
        {{"field", "area"}, 0, 1, 2, 0, 0, 0x200, 0, 0, 0, 0xC0},
        {{"text", nullptr}, 0, 1, 2, 0, 0, 0x200, 0, 0, 0, 0x4000},
    };
    for (const Row& r : rows) {
        if (!word_named(type, r.types[0]) && !(r.types[1] && word_named(type, r.types[1]))) continue;
        uint32_t h = pick(align, "left", "center", "right", r.left, r.center, r.right, r.h_other);
        uint32_t v = pick(v_align, "top", "middle", "bottom", r.top, r.middle, r.bottom, r.v_other);
        return h | (wrap ? r.with_wrap : r.without_wrap) | v;
    }
    return 0;
}

PangoFontDescription* face_font(Cell* face_in, Cell* font_in) {
    if (!font_in || !font_in->is(Type::object)) return nullptr;
    Cell face = *face_in, font = *font_in;
    Cell* st = field(&font, font_field::state);
    PangoFontDescription* d = st && st->is(Type::block) && series::length(st) >= 1 ? description_at(block::head(st))
                                                                                    : nullptr;
    if (!d) d = make_font(&font);
    if (face.is(Type::object)) link_face(&font, &face);
    return d;
}

void link_font(Cell* face_in) {
    Cell face = *face_in;
    Cell* font = face_facet(&face, facet::font);
    if (!font || !font->is(Type::object)) return;
    Cell f = *font;
    face_font(&face, &f);
}

void update_font(Cell* font_in, int32_t which) {
    if (!(which == font_field::name || which == font_field::size || which == font_field::style ||
          which == font_field::angle || which == font_field::anti_alias))
        return;
    Cell font = *font_in;
    free_font(&font);
    make_font(&font);
}

void update_para(Cell* face_in, int32_t) {
    Cell face = *face_in;
    Cell* st = face_facet(&face, facet::state);
    if (!st || !st->is(Type::block)) return;
    if (View* v = view_of_handle(face_handle(&face))) {
        if (record_of(v)) style_widget(v, &face);
        else gtk_widget_queue_draw(v->kind == Kind::window ? v->container : v->widget);
    }
    Cell b = *face_facet(&face, facet::state);
    if (series::length(&b) >= 2) {
        Cell* bits = block::head(&b) + 1;
        if (bits->is(Type::integer)) integer::set(bits, integer::get(bits) | (1 << facet::para));
    }
}

void style_widget(View* v, const Cell* face_in) {
    Record* r = record_of(v);
    if (!r) return;
    compact_theme();
    Cell face = *face_in;
    Cell* font = face_facet(&face, facet::font);
    Cell font_value;
    cell::make(&font_value, Type::none);
    if (font && font->is(Type::object)) {
        font_value = *font;
        face_font(&face, &font_value);
    }
    FontAsked s = asked_of(&font_value);
    std::string css = css_of(r, s, &face);
    if (!r->style) {
        r->style = gtk_css_provider_new();
        add_provider(r->body, r->style);
        if (r->inner != r->body) add_provider(r->inner, r->style);
        if (r->widget == Widget::drop_down) add_provider(gtk_bin_get_child(GTK_BIN(r->inner)), r->style);
    }
    gtk_css_provider_load_from_data(r->style, css.c_str(), -1, nullptr);
    if (r->widget == Widget::calendar) {
        // A month takes more room in the toolkit's calendar than the face's usual size: its
        // font is made smaller until the month fits.
        double fw = 0, fh = 0;
        if (Cell* sz = face_facet(&face, facet::size)) planar(sz, &fw, &fh);
        int need_w = 0, need_h = 0;
        for (;;) {
            gtk_widget_get_preferred_width(r->inner, &need_w, nullptr);
            gtk_widget_get_preferred_height(r->inner, &need_h, nullptr);
            if ((need_w <= to_device(fw) && need_h <= to_device(fh)) || s.points <= 6) break;
            --s.points;
            css = css_of(r, s, &face);
            gtk_css_provider_load_from_data(r->style, css.c_str(), -1, nullptr);
        }
    }
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_font_options_set_antialias(o, s.antialias);
    gtk_widget_set_font_options(r->inner, s.antialias == CAIRO_ANTIALIAS_DEFAULT ? nullptr : o);
    cairo_font_options_destroy(o);
    apply_para(r, &face);
}

namespace {

std::string css_of(Record* r, const FontAsked& s, const Cell* face) {
    std::string css = "* { font-family: " + css_string(s.name) + ", sans-serif; font-size: " +
                      std::to_string(s.points) + "pt; font-weight: " + (s.bold ? "bold" : "normal") +
                      "; font-style: " + (s.italic ? "italic" : "normal") + ";";
    // The toolkit draws one line per text: underline wins over strike when both are asked.
    if (s.underline || s.strike) css += std::string(" text-decoration-line: ") + (s.underline ? "underline;" : "line-through;");
    if (s.has_color) css += " color: " + css_color(s.color) + ";";
    css += " }\n";
    Cell* color = face_facet(face, facet::color);
    if (color && color->is(Type::tuple)) {
        std::string c = css_color(tuple_to_color(color));
        css += std::string(background_nodes(r->widget)) + " { background-image: none; background-color: " + c + "; }\n";
    }
    return css;
}

}  // namespace

}  // namespace zuv::gui::widgets
