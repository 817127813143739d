// The text-box engine: Pango font descriptions from font! objects, face layouts with their
// para, tabs, line spacing and style ranges (a face's data), and the text metrics.
// Faces are read by facet name, so a face made from any template with these words works.
#include "ridi/draw/text-box.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "ridi/draw/draw-context.h"
#include "runtime/external.h"

namespace zuv::text_box {

namespace {

using draw::sym;

PangoContext* shared_context = nullptr;
int32_t layout_kind = -1;
std::unordered_map<std::string, PangoFontDescription*> descriptions;

// A facet's value slot, or null when the object has no such word.
Cell* facet(const Cell* object, const char* name) {
    if (!object->is(Type::object)) return nullptr;
    int32_t i = object::find_index(object, sym(name));
    if (i < 0) return nullptr;
    Ref ctx = object::context_of(object);
    return context::value_at(ctx, word::index_of(context::word_at(ctx, i)));
}

bool word_is(const Cell* c, const char* name) { return c && c->is(Type::word) && draw::word_symbol(c) == sym(name); }

double number_of(const Cell* c, double otherwise) {
    if (c && c->is(Type::integer)) return integer::get(c);
    if (c && c->is(Type::float_) && std::isfinite(c->float23())) return c->float23();
    return otherwise;
}

bool style_has(const Cell* style, const char* word) {
    if (!style) return false;
    if (style->is(Type::word)) return word_is(style, word);
    if (!style->is(Type::block)) return false;
    draw::Cursor c = draw::cursor_of(style);
    for (; c.more(); ++c.index)
        if (word_is(c.here(), word)) return true;
    return false;
}

// Points to DIPs: sizes are in points at 96 dpi.
constexpr double dips_per_point = 96.0 / 72.0;

// The character offsets of a UTF-8 text: byte_of[i] is where character i starts.
void index_chars(const std::string& s, std::vector<int32_t>& byte_of) {
    byte_of.clear();
    for (size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) byte_of.push_back(static_cast<int32_t>(i));
    byte_of.push_back(static_cast<int32_t>(s.size()));
}

int32_t char_of(const std::vector<int32_t>& byte_of, int32_t byte) {
    auto it = std::upper_bound(byte_of.begin(), byte_of.end(), byte);
    return static_cast<int32_t>(it - byte_of.begin()) - 1;
}

void release_layout(uintptr_t value) {
    auto* fl = reinterpret_cast<FaceLayout*>(value);
    if (fl->registry) handle::leave(fl->registry);
    delete fl;
}

}  // namespace

FaceLayout::~FaceLayout() {
    if (layout) g_object_unref(layout);
}

PangoContext* pango_context() {
    if (!shared_context) {
        PangoFontMap* map = pango_cairo_font_map_get_default();
        shared_context = pango_font_map_create_context(map);
        cairo_font_options_t* options = cairo_font_options_create();
        // Unhinted metrics keep sizes the same at every position and scale.
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        pango_cairo_context_set_font_options(shared_context, options);
        cairo_font_options_destroy(options);
        pango_cairo_context_set_resolution(shared_context, 96);
    }
    return shared_context;
}

void trim_cache() {
    if (descriptions.size() < 256) return;
    for (auto& [key, d] : descriptions) pango_font_description_free(d);
    descriptions.clear();
}

PangoFontDescription* font_description(const Cell* font) {
    std::string name = "Sans";
    double size = 9;
    if (const Cell* fonts = object::system_field({"ridi", "fonts"}); fonts && fonts->is(Type::object)) {
        Cell holder = *fonts;
        Cell* n = facet(&holder, "system");
        if (n && n->is(Type::string)) name = string::to_utf8(n);
        size = number_of(facet(&holder, "size"), size);
    }
    bool bold = false, italic = false;
    if (font && font->is(Type::object)) {
        Cell f = *font;
        Cell* n = facet(&f, "name");
        if (n && n->is(Type::string)) {
            std::string given = string::to_utf8(n);
            if (!given.empty()) name = given;
        }
        double s = number_of(facet(&f, "size"), 0);
        if (s >= 1 && s < 10000) size = s;
        const Cell* style = facet(&f, "style");
        bold = style_has(style, "bold");
        italic = style_has(style, "italic");
    }
    std::string key = name + '\x1f' + std::to_string(size) + (bold ? "b" : "") + (italic ? "i" : "");
    auto found = descriptions.find(key);
    if (found != descriptions.end()) return found->second;
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, name.c_str());
    pango_font_description_set_absolute_size(d, size * dips_per_point * PANGO_SCALE);
    pango_font_description_set_weight(d, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    descriptions.emplace(key, d);
    return d;
}

int32_t font_decorations(const Cell* font) {
    if (!font || !font->is(Type::object)) return 0;
    Cell f = *font;
    const Cell* style = facet(&f, "style");
    return (style_has(style, "underline") ? decoration::underline : 0) |
           (style_has(style, "strike") ? decoration::strike : 0);
}

PangoLayout* plain_layout(const Cell* text, PangoFontDescription* font, int32_t decorations) {
    PangoLayout* layout = pango_layout_new(pango_context());
    std::string s = string::to_utf8(text);
    pango_layout_set_text(layout, s.data(), static_cast<int>(s.size()));
    pango_layout_set_font_description(layout, font ? font : font_description(nullptr));
    if (decorations) {
        PangoAttrList* list = pango_attr_list_new();
        if (decorations & decoration::underline) pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (decorations & decoration::strike) pango_attr_list_insert(list, pango_attr_strikethrough_new(TRUE));
        pango_layout_set_attributes(layout, list);
        pango_attr_list_unref(list);
    }
    return layout;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Style ranges

void add(PangoAttrList* list, PangoAttribute* a, int32_t start, int32_t end) {
    a->start_index = static_cast<guint>(start);
    a->end_index = static_cast<guint>(end);
    pango_attr_list_change(list, a);
}

void add_color(PangoAttrList* list, uint32_t color, int32_t start, int32_t end, bool background) {
    auto c16 = [](uint32_t v) { return static_cast<guint16>(v * 257); };
    uint32_t r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF, a = color >> 24;
    if (background) {
        add(list, pango_attr_background_new(c16(r), c16(g), c16(b)), start, end);
        add(list, pango_attr_background_alpha_new(c16(a)), start, end);
    } else {
        add(list, pango_attr_foreground_new(c16(r), c16(g), c16(b)), start, end);
        add(list, pango_attr_foreground_alpha_new(c16(a)), start, end);
    }
}

// Reads the data block of a face: pairs start x length (in characters, 1-based) followed by
// the styles of that range.
void apply_styles(PangoAttrList* list, const Cell* data, const std::vector<int32_t>& byte_of) {
    draw::Cursor c = draw::cursor_of(data);
    int32_t chars = static_cast<int32_t>(byte_of.size()) - 1;
    int32_t start = 0, end = 0;
    const int32_t bold = sym("bold"), italic = sym("italic"), underline = sym("underline"), strike = sym("strike"),
                  border = sym("border"), backdrop = sym("backdrop");
    while (c.more()) {
        Cell v = *c.here();
        int32_t at = c.index++;
        switch (v.type()) {
            case Type::pair: {
                int64_t s = std::clamp<int64_t>(int64_t(pair::x(&v)) - 1, 0, chars);
                int64_t e = std::clamp<int64_t>(s + std::max(pair::y(&v), 0), s, chars);
                start = byte_of[size_t(s)];
                end = byte_of[size_t(e)];
                break;
            }
            case Type::tuple:
                add_color(list, image::pixel_of_tuple(&v), start, end, false);
                break;
            case Type::string: {
                std::string family = string::to_utf8(&v);
                add(list, pango_attr_family_new(family.c_str()), start, end);
                break;
            }
            case Type::integer:
            case Type::float_: {
                double pts = number_of(&v, 0);
                if (pts > 0 && pts < 10000)
                    add(list, pango_attr_size_new_absolute(static_cast<int>(pts * dips_per_point * PANGO_SCALE)), start,
                        end);
                break;
            }
            case Type::word: {
                int32_t s = draw::word_symbol(&v);
                if (s == bold) {
                    add(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD), start, end);
                } else if (s == italic) {
                    add(list, pango_attr_style_new(PANGO_STYLE_ITALIC), start, end);
                } else if (s == underline || s == strike || s == border) {
                    if (s == underline) add(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), start, end);
                    if (s == strike) add(list, pango_attr_strikethrough_new(TRUE), start, end);
                    // An optional colour and style follow; they are accepted.
                    if (c.more() && c.here()->is(Type::tuple)) ++c.index;
                    if (c.more() && c.here()->is(Type::lit_word)) ++c.index;
                } else if (s == backdrop) {
                    uint32_t color;
                    if (!c.more() || !draw::color_of(c.here(), color)) draw::raise_at(data, c.index);
                    ++c.index;
                    add_color(list, color, start, end, true);
                } else {
                    draw::raise_at(data, at);
                }
                break;
            }
            default:
                draw::raise_at(data, at);
        }
    }
}

// Alignment bits: 1 centre, 2 right; 4 middle, 8 bottom; 0x10 wraps words.
int32_t para_flags(const Cell* face, bool rich) {
    Cell* para = facet(face, "para");
    if (!para || !para->is(Type::object)) return rich ? 0x10 : 5;
    Cell p = *para;
    const Cell* align = facet(&p, "align");
    const Cell* v_align = facet(&p, "v-align");
    const Cell* wrap = facet(&p, "wrap?");
    int32_t flags = 0;
    if (word_is(align, "center")) flags |= 1;
    else if (word_is(align, "right")) flags |= 2;
    else if (!rich && !word_is(align, "left")) flags |= 1;
    if (word_is(v_align, "middle")) flags |= 4;
    else if (word_is(v_align, "bottom")) flags |= 8;
    else if (!rich && !word_is(v_align, "top")) flags |= 4;
    if (!wrap || wrap->is(Type::none) || (wrap->is(Type::logic) && logic::get(wrap))) flags |= 0x10;
    return flags;
}

// Builds the layout of a face; its text is copied out first, so nothing here allocates in
// the arena after the facets are read.
FaceLayout* build(Cell* face) {
    Cell f = *face;
    const Cell* type = facet(&f, "type");
    bool rich = word_is(type, "rich-text");
    auto* fl = new FaceLayout;
    std::unique_ptr<FaceLayout> guard(fl);
    fl->layout = pango_layout_new(pango_context());
    PangoLayout* layout = fl->layout;
    Cell* font = facet(&f, "font");
    Cell font_value = font ? *font : *none::box();
    pango_layout_set_font_description(layout, font_description(&font_value));
    int32_t flags = para_flags(&f, rich);
    std::string text;
    Cell* t = facet(&f, "text");
    if (t && t->is(Type::string)) text = string::to_utf8(t);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    index_chars(text, fl->byte_of);
    if (rich) {
        Cell* tabs = facet(&f, "tabs");
        // Steps and spacings beyond any screen are held there: Pango measures in int.
        double step = std::min(number_of(tabs, 0), 1.0e5);
        if (step > 0) {
            PangoTabArray* array = pango_tab_array_new(64, TRUE);
            for (int i = 0; i < 64; ++i) pango_tab_array_set_tab(array, i, PANGO_TAB_LEFT, static_cast<int>(step * (i + 1)));
            pango_layout_set_tabs(layout, array);
            pango_tab_array_free(array);
        }
        double spacing = std::min(number_of(facet(&f, "line-spacing"), -1), 1.0e5);
        if (spacing >= 0) {
            PangoLayout* probe = pango_layout_new(pango_context());
            pango_layout_set_font_description(probe, pango_layout_get_font_description(layout));
            pango_layout_set_text(probe, "I", 1);
            int pw, ph;
            pango_layout_get_size(probe, &pw, &ph);
            g_object_unref(probe);
            int pitch = static_cast<int>(std::lround(spacing * PANGO_SCALE));
            if (pitch > ph) pango_layout_set_spacing(layout, pitch - ph);
        }
    }
    double box_w = -1, box_h = -1;
    if (Cell* size = facet(&f, "size")) {
        if (size->is(Type::pair)) box_w = pair::x(size), box_h = pair::y(size);
        else if (size->is(Type::point2D)) box_w = point::get(size, 0), box_h = point::get(size, 1);
    }
    PangoAlignment alignment = flags & 1 ? PANGO_ALIGN_CENTER : flags & 2 ? PANGO_ALIGN_RIGHT : PANGO_ALIGN_LEFT;
    pango_layout_set_alignment(layout, alignment);
    bool wraps = (flags & 0x10) && box_w >= 1;
    if (wraps) {
        pango_layout_set_width(layout, static_cast<int>(std::min(box_w + 0.5, 1.0e6) * PANGO_SCALE));
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    PangoAttrList* list = pango_attr_list_new();
    // A word broken at the box's edge shows no hyphen: only the text's own characters are drawn.
    pango_attr_list_insert(list, pango_attr_insert_hyphens_new(FALSE));
    if (font_value.is(Type::object)) {
        Cell* color = facet(&font_value, "color");
        if (color && color->is(Type::tuple))
            add_color(list, image::pixel_of_tuple(color), 0, static_cast<int32_t>(text.size()), false);
        int32_t decorations = font_decorations(&font_value);
        if (decorations & decoration::underline)
            add(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), 0, static_cast<int32_t>(text.size()));
        if (decorations & decoration::strike)
            add(list, pango_attr_strikethrough_new(TRUE), 0, static_cast<int32_t>(text.size()));
    }
    Cell* data = facet(&f, "data");
    if (data && data->is(Type::block) && series::length(data) > 1) {
        Cell d = *data;
        try {
            apply_styles(list, &d, fl->byte_of);
        } catch (...) {
            pango_attr_list_unref(list);
            throw;
        }
    }
    pango_layout_set_attributes(layout, list);
    pango_attr_list_unref(list);
    int lw, lh;
    pango_layout_get_size(layout, &lw, &lh);
    double width = lw / double(PANGO_SCALE), height = lh / double(PANGO_SCALE);
    if (!wraps && box_w >= 1) fl->dx = (box_w - width) * (flags & 1 ? 0.5 : flags & 2 ? 1.0 : 0.0);
    if (box_h >= 1) fl->dy = (box_h - height) * (flags & 4 ? 0.5 : flags & 8 ? 1.0 : 0.0);
    return guard.release();
}

// The handles facet of a rich-text face: [layout target text-copy relayout?].
Cell* handles_of(Cell* face) {
    Cell* h = facet(face, "handles");
    if (!h) return nullptr;
    if (h->is(Type::block) && series::length(h) >= 4) return h;
    Cell* made = block::push_new(4);
    none::make_in(made);
    handle::make_in(made, 0, handle::subtype::rich_text);
    none::make_in(made);
    logic::make_in(made, false);
    Cell value = *made;
    stack::pop(1);
    h = facet(face, "handles");
    *h = value;
    return h;
}

FaceLayout* held_layout(Cell* handles) {
    Cell* first = block::head(handles);
    if (!first->is(Type::handle) || handle::record_of(first) < 0) return nullptr;
    return reinterpret_cast<FaceLayout*>(handle::object(handle::value_of(first)));
}

// Keeps a new layout in the handles block, releasing the one held before.
void hold_layout(Cell* handles, FaceLayout* fl, const Cell* text) {
    Cell* first = block::head(handles);
    if (first->is(Type::handle) && handle::record_of(first) >= 0) external::remove(handle::record_of(first), true);
    uint32_t index = handle::enter(reinterpret_cast<uintptr_t>(fl));
    fl->registry = index;
    int32_t record = external::add(reinterpret_cast<uintptr_t>(fl), layout_kind);
    first = block::head(handles);
    handle::make_at(first, index, handle::subtype::rich_text);
    handle::set_record(first, record);
    Cell* cells = block::head(handles);
    cells[2] = text && text->is(Type::string) ? *text : *none::box();
    cells[3] = logic::shared_false;
}

std::string text_of(const Cell* c) { return c && c->is(Type::string) ? string::to_utf8(c) : std::string(); }

}  // namespace

FaceLayout* layout_face(Cell* face) {
    Cell f = *face;
    if (!word_is(facet(&f, "type"), "rich-text") || !facet(&f, "handles")) return build(&f);
    Cell* handles = handles_of(&f);
    Cell hold = *handles;
    Cell* cells = block::head(&hold);
    Cell* text = facet(&f, "text");
    FaceLayout* fl = held_layout(&hold);
    bool relayout = !fl || !cells[3].is(Type::logic) || logic::get(&cells[3]) || !cells[2].is(Type::string) ||
                    !text || !text->is(Type::string) || text_of(&cells[2]) != text_of(text);
    if (!relayout) return fl;
    fl = build(&f);
    // The copy of the text laid out, to tell a later change of the text.
    Cell copy = *none::box();
    text = facet(&f, "text");
    if (text && text->is(Type::string)) {
        std::string utf8 = string::to_utf8(text);
        Cell* made = string::push_new(static_cast<int32_t>(utf8.size()));
        string::append_utf8(made, utf8);
        copy = *made;
        // Held by the handles block before the stack slot goes.
        Cell* slot = block::head(&hold) + 2;
        *slot = copy;
        stack::pop(1);
    }
    hold_layout(&hold, fl, &copy);
    return fl;
}

void draw_face_text(cairo_t* cr, Cell* face, double x, double y, uint32_t default_color) {
    Cell f = *face;
    Cell* color = facet(&f, "color");
    Cell* size = facet(&f, "size");
    if (color && color->is(Type::tuple) && size && (size->is(Type::pair) || size->is(Type::point2D))) {
        double w = size->is(Type::pair) ? pair::x(size) : point::get(size, 0);
        double h = size->is(Type::pair) ? pair::y(size) : point::get(size, 1);
        draw::set_color(cr, image::pixel_of_tuple(color));
        cairo_rectangle(cr, x, y, w, h);
        cairo_fill(cr);
    }
    bool rich = word_is(facet(&f, "type"), "rich-text") && facet(&f, "handles");
    FaceLayout* fl = layout_face(&f);
    draw::set_color(cr, default_color);
    cairo_move_to(cr, x + fl->dx, y + fl->dy);
    pango_cairo_show_layout(cr, fl->layout);
    cairo_new_path(cr);
    if (!rich) delete fl;
}

Cell* metrics(Cell* face, Cell* argument, int32_t kind) {
    trim_cache();
    Cell f = *face;
    const Cell* type = facet(&f, "type");
    if (!word_is(type, "rich-text")) {
        Cell t = type ? *type : *none::box();
        error::raise(error::id::script_face_type, &t);
    }
    Cell* text = facet(&f, "text");
    if (!text || !text->is(Type::string)) return none::push();
    Cell arg = *argument;
    bool keep = facet(&f, "handles") != nullptr;
    FaceLayout* fl = layout_face(&f);
    std::unique_ptr<FaceLayout> owned(keep ? nullptr : fl);
    PangoLayout* layout = fl->layout;
    int32_t chars = static_cast<int32_t>(fl->byte_of.size()) - 1;
    auto char_index = [&](const Cell* c) {
        int64_t i = c->is(Type::integer) ? int64_t(integer::get(c)) - 1 : 0;
        return static_cast<int32_t>(std::clamp<int64_t>(i, 0, chars));
    };
    auto point_of = [&](const Cell* c, double& x, double& y) {
        if (c->is(Type::pair)) x = pair::x(c), y = pair::y(c);
        else if (c->is(Type::point2D)) x = point::get(c, 0), y = point::get(c, 1);
        else x = y = 0;
        if (!std::isfinite(x)) x = 0;
        if (!std::isfinite(y)) y = 0;
        x -= fl->dx;
        y -= fl->dy;
    };
    constexpr double unit = PANGO_SCALE;
    switch (kind) {
        case 0:
        case 6: {
            PangoRectangle r;
            pango_layout_index_to_pos(layout, fl->byte_of[size_t(char_index(&arg))], &r);
            double x = r.x / unit + fl->dx, y = r.y / unit + fl->dy;
            if (kind == 6) return point2D::push(static_cast<float>(x + r.width / unit), static_cast<float>(y + r.height / unit));
            return point2D::push(static_cast<float>(x), static_cast<float>(std::max(y, 0.0)));
        }
        case 1:
        case 5: {
            double x, y;
            point_of(&arg, x, y);
            int index = 0, trailing = 0;
            pango_layout_xy_to_index(layout, static_cast<int>(std::clamp(x, -1e6, 1e6) * unit),
                                     static_cast<int>(std::clamp(y, -1e6, 1e6) * unit), &index, &trailing);
            int32_t ch = char_of(fl->byte_of, index);
            if (kind == 1 && trailing > 0) ch += 1;
            return integer::push(std::min(ch, chars) + 1);
        }
        case 2: {
            int line = 0, x_pos = 0;
            pango_layout_index_to_line_x(layout, fl->byte_of[size_t(char_index(&arg))], FALSE, &line, &x_pos);
            PangoLayoutLine* l = pango_layout_get_line_readonly(layout, line);
            PangoRectangle logical;
            if (!l) return float_::push(0);
            pango_layout_line_get_extents(l, nullptr, &logical);
            return float_::push(logical.height / unit);
        }
        case 3: {
            PangoRectangle logical;
            pango_layout_get_extents(layout, nullptr, &logical);
            return point2D::push(static_cast<float>(logical.width / unit), static_cast<float>(logical.height / unit));
        }
        case 4:
            return integer::push(pango_layout_get_line_count(layout));
        default:
            return none::push();
    }
}

Cell* size_text(Cell* face, Cell* value) {
    trim_cache();
    Cell f = *face;
    Cell text;
    if (value->is(Type::string)) {
        text = *value;
    } else if (value->is(Type::none)) {
        Cell* t = facet(&f, "text");
        if (!t || !t->is(Type::string)) return none::push();
        text = *t;
    } else {
        Cell type;
        datatype::make_at(&type, static_cast<int>(value->type()));
        error::raise(error::id::script_invalid_type, &type);
    }
    Cell* font = facet(&f, "font");
    Cell font_value = font ? *font : *none::box();
    PangoLayout* layout = plain_layout(&text, font_description(&font_value));
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return point2D::push(static_cast<float>(logical.width / double(PANGO_SCALE)),
                         static_cast<float>(logical.height / double(PANGO_SCALE)));
}

void init() { layout_kind = external::register_kind("text-layout", release_layout); }

}  // namespace zuv::text_box
