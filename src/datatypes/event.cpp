// event!: made events and their fields, the shared table of event type words, and the
// datatype's actions. A made event's 4-cell series is kept alive by the datatype's marker.
#include "datatypes/path.h"
#include "datatypes/event.h"

#include <array>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::event {

namespace {


constexpr std::array<const char*, type::count + 1> type_names = {
    nullptr, "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up",
    "click", "dbl-click", "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus",
    "enter", "zoom", "pan", "rotate", "two-tap", "press-tap", "select", "change", "menu", "close",
    "move", "resize", "moving", "resizing", "time", "drawing", "scroll",
};

constexpr std::string_view field_names[] = {
    "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?", "mid-down?",
    "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};

// The flag words of a spec's flags block and of the flags field, with their bits.
struct FlagWord {
    const char* name;
    uint32_t bit;
};
constexpr FlagWord flag_words[] = {
    {"control", flag::control}, {"shift", flag::shift}, {"alt", flag::alt}, {"command", flag::command},
    {"away", flag::away}, {"down", flag::down}, {"mid-down", flag::mid_down}, {"alt-down", flag::alt_down},
    {"aux-down", flag::aux_down},
};

// The logic fields 8-14 and their masks.
constexpr uint32_t test_masks[] = {flag::away, flag::down, flag::mid_down, flag::alt_down,
                                   flag::aux_down, flag::control, flag::shift};

// Symbol ids of the type words as spelled, and resolved, made once: every event's type is
// read several times while it is dispatched.
struct TypeSymbols {
    std::array<int32_t, type::count + 1> spelled{}, resolved{};
};
TypeSymbols& type_symbols() {
    static TypeSymbols ids;
    if (!ids.spelled[1])
        for (int32_t i = 1; i <= type::count; ++i) {
            ids.spelled[i] = symbol::make(type_names[i]);
            ids.resolved[i] = symbol::resolve(ids.spelled[i]);
        }
    return ids;
}

FieldReader field_reader = nullptr;

// Cells of a made event's series, in order.
enum MadeCell : int32_t { made_face = 0, made_window, made_offset, made_picked };

Cell made_series(const Cell* e) {
    Cell s;
    series::make_at(&s, Type::block, message_of(e));
    return s;
}

void mark(Cell* c) {
    if (made_q(c) && message_of(c)) collector::keep_series(&c->data2);  // the collector takes the node's slot, not its value
}

int32_t field_code(const Cell* word) { return scalar::word_index(word, field_names); }

// ---- make --------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t) {
    Cell* e = stack::push_slot();
    cell::make(e, Type::event, 0, 0, flag::made);
    if (!spec->is(Type::block)) return e;
    Cell kept[4] = {none::shared, none::shared, none::shared, none::shared};
    bool any = false;
    Cell blk = *spec;
    int32_t n = series::length(&blk);
    for (int32_t i = 0; i < n; ++i) {
        Cell key = block::head(&blk)[i];
        if (!key.is(Type::set_word) || i + 1 >= n) continue;
        Cell value = block::head(&blk)[++i];
        if ((value.is(Type::word) || value.is(Type::get_word)) && word::binding_of(&value)) {
            // A word that names a value stands for it; an unset one stays a word (type: click).
            Cell* v = context::get_value_slot(word::symbol_of(&value), word::binding_of(&value));
            if (v && !v->is(Type::unset)) value = *v;
        }
        if (scalar::word_is(&key, "type")) {
            if (value.is(Type::word) || value.is(Type::lit_word)) set_type_code(e, code_of(&value));
        } else if (scalar::word_is(&key, "key")) {
            if (value.is(Type::char_)) set_flags(e, flags_of(e) | (char_::code_of(&value) & flag::key_mask));
        } else if (scalar::word_is(&key, "flags")) {
            if (!value.is(Type::block)) continue;
            int32_t m = series::length(&value);
            for (int32_t k = 0; k < m; ++k) {
                Cell w = block::head(&value)[k];
                if (!w.is(Type::word)) continue;
                for (const FlagWord& f : flag_words)
                    if (scalar::word_is(&w, f.name)) set_flags(e, flags_of(e) | f.bit);
            }
        } else if (scalar::word_is(&key, "face") || scalar::word_is(&key, "window")) {
            if (!value.is(Type::object)) continue;
            kept[scalar::word_is(&key, "face") ? made_face : made_window] = value;
            any = true;
        } else if (scalar::word_is(&key, "offset")) {
            if (!value.is(Type::pair) && !value.is(Type::point2D)) continue;
            kept[made_offset] = value;
            any = true;
        } else if (scalar::word_is(&key, "picked")) {
            if (!value.is(Type::integer)) continue;
            kept[made_picked] = value;
            any = true;
        }
    }
    if (any) {
        if (kept[made_offset].is(Type::none)) pair::make_at(&kept[made_offset], 0, 0);
        if (kept[made_picked].is(Type::none)) integer::make_at(&kept[made_picked], 0);
        Cell* s = block::push_new(4);  // held on the stack while the cells go in
        for (const Cell& c : kept) block::append(s, &c);
        e = s - 1;  // the event lies just below
        set_message(e, series::node(s));
        stack::pop(1);
    }
    (void)proto;
    return e;
}

// ---- fields ------------------------------------------------------------------------------------

void made_field(const Cell* e, int32_t code, Cell* out) {
    switch (code) {
        case field::face: case field::window: case field::offset: case field::picked: {
            int32_t at = code == field::face ? made_face : code == field::window ? made_window
                       : code == field::offset ? made_offset : made_picked;
            if (message_of(e)) {
                Cell s = made_series(e);
                *out = *block::cell_at(&s, at);
            } else if (code == field::offset) {
                pair::make_at(out, 0, 0);
            } else if (code == field::picked) {
                integer::make_at(out, 0);
            } else {
                *out = none::shared;
            }
            return;
        }
        case field::key: {
            uint32_t k = flags_of(e) & flag::key_mask;
            if (k) cell::make(out, Type::char_, 0, k);
            else *out = none::shared;
            return;
        }
        default: *out = none::shared;
    }
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) { return scalar::append(buffer, "event", budget); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool, Cell* parent, Cell* previous, int32_t, bool,
                bool) {
    int32_t code = element->is(Type::word) ? field_code(element) : 0;
    if (!set_value) {
        if (!code) error::raise(error::id::script_invalid_path,
                                path::walked ? path::walked : value, element);
        Cell* out = stack::push_slot();
        get_field(value, code, out);
        return out;
    }
    const Cell* path = path::walked ? path::walked : value;
    if (code != field::type) error::raise(error::id::script_bad_path_set, path, element);
    if (!set_value->is(Type::word)) error::raise(error::id::script_bad_path_set, path, set_value);
    set_type_code(value, code_of(set_value));
    (void)parent;
    return set_value;
}

// Any two events are equal; they have no order.
int32_t compare(Cell*, Cell* b, int32_t op) {
    if (!b->is(Type::event)) return -2;
    if (op >= 3 && op <= 6) return -2;
    return 0;
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    int32_t code = index;
    if (index_cell && scalar::any_word_q(index_cell->type())) {
        code = field_code(index_cell);
        if (!code) error::raise(error::id::script_cannot_use, index_cell, value);
    } else if (code < 1 || code > field::count) {
        error::raise(error::id::script_out_of_range, index_cell);
    }
    Cell* out = stack::push_slot();
    get_field(value, code, out);
    return out;
}

}  // namespace

int32_t code_of_symbol(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    auto& ids = type_symbols().resolved;
    for (int32_t i = 1; i <= type::count; ++i)
        if (ids[i] == s) return i;
    return 0;
}

int32_t code_of(const Cell* word) {
    int32_t code = code_of_symbol(word::symbol_of(word));
    if (!code) error::raise(error::id::script_not_event_type, word);
    return code;
}

int32_t word_of(int32_t code) {
    if (code < 1 || code > type::count) return 0;
    return type_symbols().spelled[code];
}

Cell* make_at(Cell* c, int32_t type, uint32_t message, uint32_t flags) {
    cell::make(c, Type::event, static_cast<uint32_t>(type), message, flags & ~flag::made);
    return c;
}

void set_field_reader(FieldReader reader) { field_reader = reader; }

void get_field(const Cell* e, int32_t code, Cell* out) {
    uint32_t flags = flags_of(e);
    if (code == field::type) {
        int32_t sym = word_of(event::type_of(e));
        if (sym) cell::make(out, Type::word, 0, static_cast<uint32_t>(sym), static_cast<uint32_t>(-1));
        else *out = none::shared;  // a made event whose spec gave no type
        return;
    }
    if (code == field::flags) {
        Cell* blk = block::push_new(4);
        for (const FlagWord& f : flag_words)
            if (flags & f.bit) {
                Cell w = scalar::word_of(f.name);
                block::append(blk, &w);
            }
        *out = *blk;
        stack::pop(1);
        return;
    }
    if (code >= field::away_q && code <= field::shift_q) {
        logic::make_at(out, (flags & test_masks[code - field::away_q]) != 0);
        return;
    }
    if (flags & flag::made) return made_field(e, code, out);
    if (field_reader) return field_reader(e, code, out);
    *out = none::shared;
}

void init() {
    collector::set_type_marker(Type::event, mark);
    datatype::register_type(Type::event, {
        .make = make,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .pick = pick,
    });
    type_symbols();
}

}  // namespace zuv::event
