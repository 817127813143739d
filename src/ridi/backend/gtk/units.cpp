// Units and small conversions of the backend: the DPI state (logical to device pixels and
// back), colour words, the face flags mask, the paint clock and the one-line failure report.
#include <ctime>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/memory.h"
#include "ridi/backend/gtk/backend.h"
#include "runtime/print.h"

namespace zuv::gui {

int32_t dpi = 96;
double scale = 1.0;

void set_dpi(int32_t d) {
    if (d <= 0) d = 96;
    dpi = d;
    scale = d / 96.0;
}

int32_t to_device(double logical) {
    double d = logical * scale + 0.5;
    // Out-of-range and NaN coordinates saturate instead of wrapping.
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

double to_logical(double device) { return device / scale; }

bool planar(const Cell* c, double* x, double* y) {
    if (c->is(Type::pair)) {
        *x = pair::x(c);
        *y = pair::y(c);
        return true;
    }
    if (c->is(Type::point2D)) {
        *x = point::get(c, 0);
        *y = point::get(c, 1);
        return true;
    }
    return false;
}

uint32_t tuple_to_color(const Cell* t) {
    int32_t n = tuple::length(t);
    uint32_t c = 0;
    for (int32_t i = 0; i < 4 && i < n; ++i) c |= static_cast<uint32_t>(tuple::get(t, i)) << (8 * i);
    if (n < 4) c &= 0x00FFFFFF;
    return c;
}

uint32_t color_to_argb(uint32_t c) {
    uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return (r << 16) | (g << 8) | b | (~c & 0xFF000000u);
}

uint32_t color_to_argb_translucent(uint32_t c) {
    uint32_t argb = color_to_argb(c);
    if ((argb & 0xFF000000u) == 0xFF000000u) argb = (argb & 0x00FFFFFF) | 0xFE000000u;
    return argb;
}

namespace {

struct FlagName {
    const char* name;
    uint32_t bit;
};
constexpr FlagName flag_names[] = {
    {"all-over", flag::all_over},     {"focusable", flag::focusable},   {"tri-state", flag::tri_state},
    {"scrollable", flag::scrollable}, {"password", flag::password},     {"no-sync", flag::no_sync},
    {"fullscreen", flag::fullscreen}, {"popup", flag::popup},           {"modal", flag::modal},
    {"resize", flag::resize},         {"no-buttons", flag::no_buttons}, {"no-max", flag::no_max},
    {"no-min", flag::no_min},         {"no-title", flag::no_title},     {"no-border", flag::no_border},
};

uint32_t flag_of_word(const Cell* w) {
    int32_t sym = symbol::resolve(word::symbol_of(w));
    for (const FlagName& f : flag_names)
        if (symbol::resolve(symbol::make(f.name)) == sym) return f.bit;
    Cell word = *w;
    error::raise(error::id::script_invalid_arg, &word);
}

bool any_word(const Cell* c) { return c->is(Type::word) || c->is(Type::lit_word) || c->is(Type::get_word); }

}  // namespace

uint32_t get_flags(const Cell* flags) {
    if (any_word(flags)) return flag_of_word(flags);
    if (!flags->is(Type::block)) return 0;
    uint32_t mask = 0;
    Cell b = *flags;
    int32_t n = series::length(&b);
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *(block::head(&b) + i);
        if (any_word(&c)) mask |= flag_of_word(&c);
    }
    return mask;
}

void clock_start(uint64_t* slot) {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    *slot = static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

void report_failure(const std::string& what) {
    runtime::print_line({"*** Ridi Error: ", what.c_str()});
}

// ---- faces ---------------------------------------------------------------------------------------

Cell* face_facet(const Cell* face, int32_t n) {
    if (!face || !face->is(Type::object)) return nullptr;
    Ref ctx = object::context_of(face);
    if (n < 0 || n >= context::size_of(ctx)) return nullptr;
    return context::block_values(ctx) + word::index_of(context::word_at(ctx, n));
}

namespace {
struct KindName {
    Kind kind;
    const char* name;
};
constexpr KindName kind_names[] = {
    {Kind::window, "window"},       {Kind::panel, "panel"},         {Kind::base, "base"},
    {Kind::rich_text, "rich-text"}, {Kind::group_box, "group-box"}, {Kind::screen, "screen"},
};
}  // namespace

Kind kind_of_word(const Cell* t) {
    if (!t || !(t->is(Type::word) || t->is(Type::lit_word))) return Kind::other;
    int32_t sym = symbol::resolve(word::symbol_of(t));
    for (const KindName& k : kind_names)
        if (symbol::resolve(symbol::make(k.name)) == sym) return k.kind;
    return Kind::other;
}

}  // namespace zuv::gui
