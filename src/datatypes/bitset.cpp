// bitset!: bit arrays with a complement flag, the number lists that make, append, pick and
// the rest name bits with, and the set operations. Growing the bits may move any buffer:
// block items are copied out one at a time and bit addresses taken again after each growth.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::bitset {

namespace {

using memory::SeriesBuffer;

inline uint8_t mask_of(int64_t n) { return static_cast<uint8_t>(0x80 >> (n & 7)); }
inline uint8_t fill_of(bool complemented_set) { return complemented_set ? 0xFF : 0x00; }

bool word_named_q(const Cell* c, int32_t symbol) {
    return c->is(Type::word) && symbol::resolve(c->int2()) == symbol::resolve(symbol);
}

// A new byte series of n bytes of one value, its tail at the end, carrying the flags.
Ref new_bytes(int64_t n, uint8_t fill, bool complemented_set) {
    if (n > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
    Ref node = memory::alloc_bytes_filled(n, fill);
    SeriesBuffer* b = memory::buffer_of(node);
    b->tail = b->head + static_cast<uint32_t>(n);
    if (complemented_set) b->flags |= complemented;
    return node;
}

inline void make_cell(Cell* c, Ref node) { cell::make(c, Type::bitset, 0, node, 0); }

[[noreturn]] void raise_unsupported(const Cell* value, int32_t mode) {
    if (mode == mode_action) error::raise(error::id::script_invalid_arg, value);
    Cell t = scalar::type_cell(Type::bitset);
    error::raise(mode == mode_make ? error::id::script_bad_make_arg : error::id::script_bad_to_arg, &t, value);
}

// Sets or clears the stored bits low..high (both stored).
void write_range(Cell* bits, int64_t low, int64_t high, bool on) {
    uint8_t* p = get_bits(bits);
    int64_t first = low >> 3, last = high >> 3;
    auto head_mask = static_cast<uint8_t>(0xFF >> (low & 7));
    auto tail_mask = static_cast<uint8_t>(0xFF << (7 - (high & 7)));
    auto apply = [&](int64_t i, uint8_t m) { p[i] = on ? (p[i] | m) : (p[i] & ~m); };
    if (first == last) {
        apply(first, head_mask & tail_mask);
        return;
    }
    apply(first, head_mask);
    if (last > first + 1) std::memset(p + first + 1, on ? 0xFF : 0x00, size_t(last - first - 1));
    apply(last, tail_mask);
}

bool range_members_q(const Cell* bits, int64_t low, int64_t high) {
    if (beyond_q(bits, high) && !complemented_q(bits)) return false;
    for (int64_t n = low, last = std::min(high, stored_bits(bits) - 1); n <= last; ++n)
        if (!member_q(bits, n)) return false;
    return true;
}

// Walks the numbers a value names, applying one op.
struct Walk {
    Cell* bits;
    int32_t op;
    int32_t mode;
    int64_t highest = -1;
    bool all = true;

    void range(int64_t low, int64_t high, const Cell* source) {
        if (low < 0) {
            if (op == op_test) {
                all = false;
                return;
            }
            error::raise(error::id::script_out_of_range, source);
        }
        if (op == op_highest) highest = std::max(highest, high);
        else if (op == op_test) all = all && range_members_q(bits, low, high);
        else process_range(bits, low, high, op);
    }

    void number(int64_t n, const Cell* source) { range(n, n, source); }

    void value(const Cell* v) {
        switch (v->type()) {
            case Type::char_: case Type::integer: number(v->int2(), v); return;
            case Type::float_: number(integer::from_number(v), v); return;
            case Type::string: {
                Cell s = *v;
                std::u32string chars = string::code_points(&s);
                for (char32_t c : chars) number(c, v);
                return;
            }
            case Type::block: {
                // A block met again inside itself names nothing its first walk did not.
                if (cycle_stack::find(series::node(v))) return;
                cycle_stack::Scope scope;
                cycle_stack::push(series::node(v));
                items(v);
                return;
            }
            case Type::binary: error::raise(error::id::internal_not_done);
            default: raise_unsupported(v, mode);
        }
    }

    // Items are copied out: setting bits may grow the set and move the block's buffer.
    void items(const Cell* block_cell) {
        Cell b = *block_cell;
        for (int32_t k = 0; k < series::length(&b); ++k) {
            Cell item = *(block::head(&b) + k);
            bool bound = item.is(Type::char_) || item.is(Type::integer);
            if (bound && k + 2 < series::length(&b) && word_named_q(block::head(&b) + k + 1, words::sym::dash)) {
                Cell upper = *(block::head(&b) + k + 2);
                if (upper.type() != item.type()) error::raise(error::id::script_invalid_arg, &upper);
                if (item.int2() > upper.int2()) error::raise(error::id::script_past_end);
                range(item.int2(), upper.int2(), &item);
                k += 2;
                continue;
            }
            value(&item);
        }
    }
};

}  // namespace

// =============================================================================================
// Bits

bool member_q(const Cell* bits, int64_t n) {
    if (n < 0) return false;
    if (beyond_q(bits, n)) return complemented_q(bits);
    return get_bits(bits)[n >> 3] & mask_of(n);
}

void ensure_bit(Cell* bits, int64_t n) {
    if (!beyond_q(bits, n)) return;
    int64_t needed = (n >> 3) + 1;
    if (needed > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
    SeriesBuffer* b = buffer(bits);
    uint32_t used = b->used_bytes();
    if (b->head_ptr() + needed > b->data_end()) b = memory::expand_series(b, std::max<int64_t>(needed, int64_t(b->capacity) * 2));
    std::memset(b->head_ptr() + used, fill_of(b->flags & complemented), size_t(needed - used));
    b->tail = b->head + static_cast<uint32_t>(needed);
}

void process_range(Cell* bits, int64_t low, int64_t high, int32_t op) {
    bool comp = complemented_q(bits);
    if (op == op_set) {
        // Past the stored bits a complemented set holds every number already.
        if (comp) high = std::min(high, stored_bits(bits) - 1);
        else ensure_bit(bits, high);
    } else if (op == op_clear) {
        if (comp) ensure_bit(bits, high);
        else high = std::min(high, stored_bits(bits) - 1);
    } else {
        return;
    }
    if (low <= high) write_range(bits, low, high, op == op_set);
}

int64_t process(const Cell* value, Cell* bits, int32_t op, int32_t mode) {
    Walk w{bits, op, mode};
    w.value(value);
    if (op == op_highest) return w.highest;
    if (op == op_test) return w.all ? 1 : 0;
    return 0;
}

void invert_bytes(Cell* bits) {
    for (uint8_t *p = get_bits(bits), *end = get_tail(bits); p < end; ++p) *p = static_cast<uint8_t>(~*p);
}

Cell* push(const Cell* bits) { return stack::push(bits); }

// =============================================================================================
// Making

Cell* make_from(Cell* out, const Cell* spec_in, int32_t mode) {
    Cell spec = *spec_in;
    bool negated = false;
    if (spec.is(Type::block) && series::length(&spec) > 0 && word_named_q(block::head(&spec), words::sym::not_)) {
        negated = true;
        series::set_head(&spec, series::head(&spec) + 1);
        if (series::length(&spec) > 0 && block::head(&spec)->is(Type::binary)) spec = *block::head(&spec);
    }
    switch (spec.type()) {
        case Type::integer: case Type::float_: {
            if (mode == mode_to) {
                Cell t = scalar::type_cell(Type::bitset);
                error::raise(error::id::script_bad_to_arg, &t, spec_in);
            }
            int64_t n = integer::from_number(&spec);
            if (n < 0) error::raise(error::id::script_out_of_range, spec_in);
            make_cell(out, new_bytes((n + 7) / 8, 0x00, false));
            return out;
        }
        case Type::bitset: {
            Ref node = series::copy_part(node_of(&spec), 0, static_cast<int32_t>(buffer(&spec)->used_bytes()));
            make_cell(out, node);
            return out;
        }
        case Type::binary: {
            int32_t n = series::length(&spec);
            Ref node = series::copy_part(series::node(&spec), series::head(&spec), n);
            make_cell(out, node);
            if (negated) {
                invert_bytes(out);
                buffer(out)->flags |= complemented;
            }
            return out;
        }
        default: {
            int64_t highest = process(&spec, nullptr, op_highest, mode);
            int64_t bytes = std::max<int64_t>((highest + 8) / 8, 1);
            make_cell(out, new_bytes(bytes, fill_of(negated), negated));
            process(&spec, out, negated ? op_clear : op_set, mode);
            return out;
        }
    }
}

// =============================================================================================
// Set operations

void do_bitwise(int32_t op) {
    Cell* a = stack::arguments_base;
    Cell* b = a + 1;
    if (op == 8) return;
    if (!b->is(Type::bitset)) {
        Cell t = scalar::type_cell(b->type());
        error::raise(error::id::script_invalid_type, &t);
    }
    int64_t la = buffer(a)->used_bytes(), lb = buffer(b)->used_bytes();
    bool fa = complemented_q(a), fb = complemented_q(b);
    // Past its stored bytes an operand reads as its flag: the shorter one takes part in the
    // rest of the result as a run of 0x00 or 0xFF bytes, and the result's flag is the op
    // applied to the two flags.
    auto combine = [op](uint8_t x, uint8_t y) -> uint8_t {
        switch (op) {
            case 5: case 9: return x | y;
            case 6: case 10: return x & y;
            case 7: case 12: return x ^ y;
            default: return x & static_cast<uint8_t>(~y);
        }
    };
    bool flag = combine(fill_of(fa), fill_of(fb)) != 0;
    int64_t length = std::max(la, lb);
    // and~ of a plain operand keeps only its length: past it nothing can be a member.
    if (op == 6 && ((la <= lb && !fa) || (lb <= la && !fb))) length = la <= lb && !fa ? la : lb;
    Ref node = new_bytes(length, 0x00, flag);
    uint8_t* r = memory::buffer_of(node)->head_ptr();
    const uint8_t* x = get_bits(a);
    const uint8_t* y = get_bits(b);
    for (int64_t i = 0; i < length; ++i)
        r[i] = combine(i < la ? x[i] : fill_of(fa), i < lb ? y[i] : fill_of(fb));
    Cell result;
    make_cell(&result, node);
    stack::keep_last(&result);
}

namespace {

// =============================================================================================
// Actions

Cell* make(Cell* proto, Cell* spec, int32_t) { return make_from(proto, spec, mode_make); }
Cell* to(Cell* proto, Cell* spec, int32_t) { return make_from(proto, spec, mode_to); }

// The hexadecimal digits of the bytes (each inverted for a complemented set, so that the
// text lists the numbers left out), as far as the budget goes.
int32_t mold(Cell* bits, Cell* buffer_cell, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    bool comp = complemented_q(bits);
    std::string text = comp ? "make bitset! [not #{" : "make bitset! #{";
    budget -= comp ? 20 : 15;
    const uint8_t* p = get_bits(bits);
    const uint8_t* end = get_tail(bits);
    bool cut = false;
    for (; p < end; ++p) {
        if (part && budget < 1) {
            cut = true;
            break;
        }
        text += string::byte_to_hex(comp ? static_cast<uint8_t>(~*p) : *p);
        budget -= 2;
    }
    if (!cut) {
        text += comp ? "}]" : "}";
        budget -= comp ? 2 : 1;
    }
    string::append_ascii(buffer_cell, text);
    return budget;
}

int32_t form(Cell* bits, Cell* buffer_cell, Cell* part, int32_t budget) {
    return mold(bits, buffer_cell, false, false, false, part, budget, 0);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::bitset)) return -2;
    if (op == actions::op::same) return node_of(a) == node_of(b) ? 0 : 1;
    uint32_t la = buffer(a)->used_bytes(), lb = buffer(b)->used_bytes();
    if (la != lb) return la < lb ? -1 : 1;
    if (la == 0) return 0;
    bool fa = complemented_q(a), fb = complemented_q(b);
    if (fa != fb) return fa ? 1 : -1;
    const uint8_t* x = get_bits(a);
    const uint8_t* y = get_bits(b);
    for (uint32_t i = la; i-- > 0;)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

Cell* complement(Cell* bits) {
    Cell source = *bits;
    Ref node = series::copy_part(node_of(&source), 0, static_cast<int32_t>(buffer(&source)->used_bytes()));
    make_cell(bits, node);
    invert_bytes(bits);
    buffer(bits)->flags ^= complemented;
    return bits;
}

Cell* bitwise(int32_t op) {
    do_bitwise(op);
    return stack::arguments_base;
}
Cell* and_t(Cell*, Cell*) { return bitwise(6); }
Cell* or_t(Cell*, Cell*) { return bitwise(5); }
Cell* xor_t(Cell*, Cell*) { return bitwise(7); }

// Runs one op over the numbers of a value, telling the owner before and after.
Cell* change_bits(Cell* bits, const Cell* value, int32_t op, const Cell* word, const Cell* done_word) {
    Cell v = *value;
    bool told = series::notify_before(bits, word, &v, 0, 0);
    process(&v, bits, op, mode_action);
    series::notify_after(told, bits, done_word, &v, 0, 0);
    return bits;
}

Cell* append(Cell* bits, Cell* value, int32_t, bool, int32_t) {
    return change_bits(bits, value, op_set, words::global::append, words::global::appended);
}

Cell* insert(Cell* bits, Cell* value, int32_t, bool, int32_t) {
    return change_bits(bits, value, op_set, words::global::insert, words::global::inserted);
}

// The flag stays: a complemented set is left holding every number.
Cell* clear(Cell* bits) {
    bool told = series::notify_before(bits, words::global::clear, nullptr, 0, 0);
    std::memset(get_bits(bits), fill_of(complemented_q(bits)), buffer(bits)->used_bytes());
    series::notify_after(told, bits, words::global::cleared, nullptr, 0, 0);
    return bits;
}

Cell* copy(Cell* bits, Cell* result, Cell*, bool, Cell*) {
    Cell source = *bits;
    Ref node = series::copy_part(node_of(&source), 0, static_cast<int32_t>(buffer(&source)->used_bytes()));
    make_cell(result, node);
    return result;
}

Cell* find(Cell* bits, Cell* value, const slotfn::FindOptions&) {
    if (process(value, bits, op_test, mode_action)) logic::make_at(bits, true);
    else *bits = none::shared;
    return bits;
}

int32_t length_q(Cell* bits) { return static_cast<int32_t>(stored_bits(bits)); }

Cell* pick(Cell* bits, int32_t, Cell* index) {
    logic::make_at(bits, process(index, bits, op_test, mode_action) != 0);
    return bits;
}

bool clears_q(const Cell* v) {
    switch (v->type()) {
        case Type::none: return true;
        case Type::logic: return !logic::get(v);
        case Type::integer: return v->int2() == 0;
        case Type::float_: return v->float23() == 0.0;
        default: return false;
    }
}

Cell* poke(Cell* bits, int32_t, Cell* value, Cell* index) {
    Cell i = *index;
    bool told = series::notify_before(bits, words::global::poke, value, 0, 0);
    process(&i, bits, clears_q(value) ? op_clear : op_set, mode_action);
    series::notify_after(told, bits, words::global::poked, value, 0, 0);
    return value;
}

// A removed number leaves the set whatever its flag.
Cell* remove(Cell* bits, Cell*, Cell* key) {
    if (!key) error::raise(error::id::script_missing_arg);
    return change_bits(bits, key, op_clear, words::global::remove, words::global::removed);
}

Cell* eval_path(Cell* bits, Cell* element, Cell* set_value, bool, Cell*, Cell*, int32_t, bool, bool) {
    if (!element->is(Type::integer) && !element->is(Type::char_)) {
        Cell t = scalar::type_cell(element->type());
        error::raise(error::id::script_invalid_type, &t);
    }
    if (set_value) return poke(bits, 0, set_value, element);
    Cell* result = stack::push(bits);
    return pick(result, 0, element);
}

}  // namespace

void init() {
    datatype::register_type(Type::bitset, {
        .make = make,
        .reflect = series::reflect,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .negate = complement,
        .and_t = and_t,
        .complement = complement,
        .or_t = or_t,
        .xor_t = xor_t,
        .append = append,
        .clear = clear,
        .copy = copy,
        .find = find,
        .insert = insert,
        .length_q = length_q,
        .pick = pick,
        .poke = poke,
        .remove = remove,
        .modify = series::modify,
    });
}

}  // namespace zuv::bitset
