// typeset!.
#include "datatypes/typeset.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::typeset {

namespace {


const Cell* value_of_word(const Cell* w) {
    const Cell* v = context::get(w);
    if (v->is(Type::unset)) error::raise(error::id::script_no_value, w);
    return v;
}

}  // namespace

void clear(Cell* ts) { cell::make(ts, Type::typeset); }

void make_at(Cell* ts, std::initializer_list<Type> types) {
    clear(ts);
    for (Type t : types) set(ts, static_cast<uint32_t>(t));
}

void make_default_at(Cell* ts) {
    cell::make(ts, Type::typeset, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    auto* bytes = reinterpret_cast<uint8_t*>(words(ts));
    bytes[0] &= static_cast<uint8_t>(~(0x80 >> 2));
}

Cell* make_in(Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell ts;
    cell::make(&ts, Type::typeset, w1, w2, w3);
    return block::append(block, &ts);
}

Cell* from_block_in(Cell* block, const Cell* types) {
    Cell ts;
    clear(&ts);
    int32_t n = series::length(const_cast<Cell*>(types));
    for (int32_t i = 0; i < n; ++i) {
        Cell item = *(block::head(types) + i);
        const Cell* v = item.is(Type::word) ? value_of_word(&item) : &item;
        switch (v->type()) {
            case Type::datatype: set(&ts, datatype::id_of(v)); break;
            case Type::typeset: for (int k = 0; k < 3; ++k) words(&ts)[k] |= words(v)[k]; break;
            case Type::word: set(&ts, static_cast<uint32_t>(Type::object)); break;
            case Type::block: break;
            default: error::raise(error::id::script_invalid_type_spec, &item);
        }
    }
    return block::append(block, &ts);
}

void add(Cell* ts, const Cell* value) {
    const Cell* v = value->is(Type::word) ? value_of_word(value) : value;
    if (v->is(Type::typeset)) {
        for (int i = 0; i < 3; ++i) words(ts)[i] |= words(v)[i];
    } else if (v->is(Type::datatype)) {
        set(ts, datatype::id_of(v));
    } else {
        error::raise(error::id::script_invalid_arg, value);
    }
}

int32_t count(const Cell* ts) {
    int32_t n = 0;
    for (int id = 1; id <= datatype::highest; ++id)
        if (has(ts, static_cast<uint32_t>(id))) ++n;
    return n;
}

Cell* push(const Cell* ts) { return stack::push(ts); }

void to_block(const Cell* ts_in, Cell* out) {
    Cell ts = *ts_in;
    block::make_at(out, 4);
    Cell* held = stack::push(out);
    for (int id = 1; id <= datatype::highest; ++id) {
        if (!has(&ts, static_cast<uint32_t>(id))) continue;
        Cell d;
        datatype::make_at(&d, id);
        block::append(held, &d);
    }
    *out = *held;
    stack::pop(1);
}

void do_bitwise(int32_t op) {
    Cell* a = stack::arguments_base;
    Cell* b = a + 1;
    if (op == 8) return;
    Cell other;
    if (b->is(Type::datatype)) {
        clear(&other);
        set(&other, datatype::id_of(b));
    } else if (b->is(Type::typeset)) {
        other = *b;
    } else {
        error::raise(error::id::script_invalid_arg, b);
    }
    Cell r = *a;
    uint32_t* x = words(&r);
    const uint32_t* y = words(&other);
    for (int i = 0; i < 3; ++i) {
        switch (op) {
            case 5: case 9: x[i] |= y[i]; break;
            case 6: case 10: x[i] &= y[i]; break;
            case 7: case 12: x[i] ^= y[i]; break;
            case 11: x[i] &= ~y[i]; break;
            default: break;
        }
    }
    r.header = static_cast<uint32_t>(Type::typeset);
    stack::keep_last(&r);
}

namespace {

Cell* make(Cell* proto, Cell* spec, int32_t) {
    if (spec->is(Type::typeset)) return spec;
    if (!spec->is(Type::block)) {
        Cell t;
        datatype::make_at(&t, static_cast<int>(Type::typeset));
        error::raise(error::id::script_bad_to_arg, &t, spec);
    }
    Cell ts;
    clear(&ts);
    int32_t n = series::length(spec);
    for (int32_t i = 0; i < n; ++i) {
        Cell item = *(block::head(spec) + i);
        add(&ts, &item);
    }
    *proto = ts;
    return proto;
}

int32_t mold(Cell* ts, Cell* buffer, bool only, bool, bool, Cell* part, int32_t budget, int32_t) {
    Cell v = *ts;
    if (!only) {
        string::append_ascii(buffer, "make typeset! [");
        budget -= 15;
    }
    bool any = false;
    for (int id = 1; id <= datatype::highest; ++id) {
        if (part && budget < 1) break;
        if (!has(&v, static_cast<uint32_t>(id))) continue;
        const datatype::TypeRecord& r = datatype::records[id];
        string::append_ascii(buffer, r.name);
        string::append_ascii(buffer, " ");
        budget -= r.name_length + 2;
        any = true;
    }
    memory::SeriesBuffer* b = series::buffer(buffer);
    if (any) b->tail -= b->unit(), ++budget;
    if (!only) {
        string::append_ascii(buffer, "]");
        --budget;
    }
    return budget;
}

int32_t form(Cell* ts, Cell* buffer, Cell* part, int32_t budget) {
    return mold(ts, buffer, false, false, false, part, budget, 0);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::typeset)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 9: case 12:
            return std::equal(words(a), words(a) + 3, words(b)) ? 0 : 1;
        case 7: case 8: {
            int32_t x = count(a), y = count(b);
            return x == y ? 0 : (x < y ? -1 : 1);
        }
        default:
            return -2;
    }
}

Cell* bitwise(Cell* a, Cell* b, int32_t op) {
    (void)a;
    (void)b;
    do_bitwise(op);
    return stack::arguments_base;
}
Cell* and_t(Cell* a, Cell* b) { return bitwise(a, b, 6); }
Cell* or_t(Cell* a, Cell* b) { return bitwise(a, b, 5); }
Cell* xor_t(Cell* a, Cell* b) { return bitwise(a, b, 7); }
Cell* complement(Cell* a) {
    for (int i = 0; i < 3; ++i) words(a)[i] = ~words(a)[i];
    return a;
}

Cell* find(Cell* ts, Cell* value, const slotfn::FindOptions&) {
    if (!value->is(Type::datatype)) error::raise(error::id::script_invalid_arg, value);
    logic::make_at(ts, has(ts, datatype::id_of(value)));
    return ts;
}

}  // namespace

void init() {
    datatype::register_type(Type::typeset, {
        .make = make,
        .to = make,
        .form = form,
        .mold = mold,
        .compare = compare,
        .and_t = and_t,
        .complement = complement,
        .or_t = or_t,
        .xor_t = xor_t,
        .find = find,
    });
}

}  // namespace zuv::typeset
