// Small services around text and scrolling on native widgets: the selections of fields and
// areas as 1-based pair! ranges, their options (a field's hint, an area's tab stops), an
// area's scroll bars, and scroller! objects pushed to the bars of their parent face.
#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/widget-record.h"
#include "ridi/backend/gtk/widgets.h"

namespace zuv::gui::widgets {

namespace {

namespace scroller_field {
constexpr int32_t position = 0, page_size = 1, min_size = 2, max_size = 3, visible = 4, vertical = 5, parent = 6;
}

// The value of a key of the options block (an even block of key-value pairs), or null.
Cell* option(const Cell* face, const char* key) {
    Cell* o = face_facet(face, facet::options);
    if (!o || !o->is(Type::block)) return nullptr;
    Cell b = *o;
    int32_t n = series::length(&b);
    if (n % 2) return nullptr;
    int32_t want = symbol::resolve(symbol::make(key));
    for (int32_t i = 0; i + 1 < n; i += 2) {
        Cell* k = block::head(&b) + i;
        if ((k->is(Type::set_word) || k->is(Type::word) || k->is(Type::lit_word)) && symbol::resolve(word::symbol_of(k)) == want)
            return k + 1;
    }
    return nullptr;
}

bool number(const Cell* c, double* out) {
    if (!c) return false;
    if (c->is(Type::integer)) *out = integer::get(c);
    else if (c->is(Type::float_) || c->is(Type::percent)) *out = c->float23();
    else return false;
    return std::isfinite(*out);
}

GtkAdjustment* bar_of(Record* r, bool vertical) {
    if (r->widget == Widget::scroller) return gtk_range_get_adjustment(GTK_RANGE(r->inner));
    if (GTK_IS_SCROLLED_WINDOW(r->body))
        return vertical ? gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(r->body))
                        : gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(r->body));
    return nullptr;
}

}  // namespace

void set_selection(View* v, const Cell* face) {
    Record* r = record_of(v);
    if (!r) return;
    Cell* s = face_facet(face, facet::selected);
    int32_t start = 0, end = 0;
    if (s && s->is(Type::pair)) {
        int32_t a = pair::x(s), b = pair::y(s);
        start = std::max(0, std::min(a, b) - 1);
        end = std::max(0, std::max(a, b));
    }
    r->filling = true;
    if (r->widget == Widget::field) {
        gtk_editable_select_region(GTK_EDITABLE(r->inner), start, end);
    } else if (r->widget == Widget::area) {
        GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->inner));
        GtkTextIter i0, i1;
        gtk_text_buffer_get_iter_at_offset(b, &i0, start);
        gtk_text_buffer_get_iter_at_offset(b, &i1, end);
        gtk_text_buffer_select_range(b, &i0, &i1);
    }
    r->filling = false;
}

void read_selection(View* v, Cell* face) {
    Record* r = record_of(v);
    if (!r) return;
    int start = 0, end = 0;
    if (r->widget == Widget::field) {
        if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(r->inner), &start, &end)) start = end = 0;
    } else if (r->widget == Widget::area) {
        GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->inner));
        GtkTextIter i0, i1;
        if (gtk_text_buffer_get_selection_bounds(b, &i0, &i1)) {
            start = gtk_text_iter_get_offset(&i0);
            end = gtk_text_iter_get_offset(&i1);
        }
    } else {
        return;
    }
    Cell value;
    if (start == end) cell::make(&value, Type::none);
    else pair::make_at(&value, std::min(start, end) + 1, std::max(start, end));
    if (Cell* s = face_facet(face, facet::selected)) *s = value;
}

void apply_text_options(View* v, const Cell* face) {
    Record* r = record_of(v);
    if (!r) return;
    if (r->widget == Widget::field) {
        Cell* hint = option(face, "hint");
        std::string text = hint && hint->is(Type::string) ? string::to_utf8(hint) : std::string();
        gtk_entry_set_placeholder_text(GTK_ENTRY(r->inner), text.empty() ? nullptr : text.c_str());
    } else if (r->widget == Widget::area) {
        // A tab stop every n characters (n x 4 dialog units): 4 unless `tabs` gives n.
        Cell* tabs = option(face, "tabs");
        int32_t n = tabs && tabs->is(Type::integer) && integer::get(tabs) > 0 && integer::get(tabs) < 1000 ? integer::get(tabs) : 4;
        PangoContext* pc = gtk_widget_get_pango_context(r->inner);
        PangoFontMetrics* m = pango_context_get_metrics(pc, nullptr, nullptr);
        int char_width = m ? pango_font_metrics_get_approximate_char_width(m) : 7 * PANGO_SCALE;
        if (m) pango_font_metrics_unref(m);
        PangoTabArray* t = pango_tab_array_new_with_positions(1, FALSE, PANGO_TAB_LEFT, n * char_width);
        gtk_text_view_set_tabs(GTK_TEXT_VIEW(r->inner), t);
        pango_tab_array_free(t);
    }
}

void area_bars(View* v, const Cell* face) {
    Record* r = record_of(v);
    if (!r || r->widget != Widget::area) return;
    Cell* text = face_facet(face, facet::text);
    GtkScrolledWindow* sw = GTK_SCROLLED_WINDOW(r->body);
    if (!text || !text->is(Type::string)) {
        gtk_scrolled_window_set_policy(sw, GTK_POLICY_NEVER, GTK_POLICY_NEVER);
        return;
    }
    // The toolkit shows each bar when the text overflows that way; wrapped text never
    // overflows sideways.
    bool wrap = gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(r->inner)) != GTK_WRAP_NONE;
    gtk_scrolled_window_set_policy(sw, wrap ? GTK_POLICY_NEVER : GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
}

void follow_caret(View* v, const Cell* face) {
    Cell* owner = option(face, "caret");
    if (!owner || !owner->is(Type::object) || v->kind != Kind::base) return;
    View* top = top_view(v);
    if (!top || !top->im || top == v) return;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(v->widget, top->container, 0, 0, &x, &y)) return;
    double w = 0, h = 0;
    if (Cell* s = face_facet(face, facet::size)) planar(s, &w, &h);
    // The input method's composition window opens where the caret face stands.
    GdkRectangle at = {x, y, std::max(1, to_device(std::trunc(w))), std::max(1, to_device(std::trunc(h)))};
    gtk_im_context_set_cursor_location(top->im, &at);
}

void update_scroller(Cell* scroller_in, int32_t which) {
    Cell sc = *scroller_in;
    Cell* parent = face_facet(&sc, scroller_field::parent);
    if (!parent || !parent->is(Type::object)) return;
    Cell face = *parent;
    View* v = view_of_handle(face_handle(&face));
    Record* r = record_of(v);
    Cell* vert = face_facet(&sc, scroller_field::vertical);
    bool vertical = vert && logic::truth(vert);
    // A native control's own bars, or the bars of a scrollable face of the backend's own.
    GtkWidget* own = !r && v ? v->bars[vertical ? 1 : 0] : nullptr;
    GtkAdjustment* a = r ? bar_of(r, vertical) : own ? gtk_range_get_adjustment(GTK_RANGE(own)) : nullptr;
    if (!a) return;
    double value = 0;
    Record none_;
    if (!r) r = &none_;
    r->filling = true;
    switch (which) {
        case scroller_field::position:
            if (number(face_facet(&sc, scroller_field::position), &value)) gtk_adjustment_set_value(a, value);
            break;
        case scroller_field::page_size: case scroller_field::max_size: {
            double page = 0, max = 0, min = 0;
            number(face_facet(&sc, scroller_field::page_size), &page);
            number(face_facet(&sc, scroller_field::max_size), &max);
            number(face_facet(&sc, scroller_field::min_size), &min);
            gtk_adjustment_configure(a, gtk_adjustment_get_value(a), min, std::max(min, max), 1, std::max(1.0, page),
                                     std::max(0.0, page));
            break;
        }
        case scroller_field::visible: {
            Cell* vis = face_facet(&sc, scroller_field::visible);
            bool on = vis && logic::truth(vis);
            if (own) gtk_widget_set_visible(own, on), place_bars(v);
            else if (r->widget == Widget::scroller) gtk_widget_set_visible(r->body, on);
            else if (GTK_IS_SCROLLED_WINDOW(r->body)) {
                GtkPolicyType h, vv;
                gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(r->body), &h, &vv);
                GtkPolicyType p = on ? GTK_POLICY_ALWAYS : GTK_POLICY_NEVER;
                gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(r->body), vertical ? h : p, vertical ? p : vv);
            }
            break;
        }
        default: break;
    }
    r->filling = false;
}

}  // namespace zuv::gui::widgets
