// series!: the abstract datatype whose actions every concrete series inherits. They work on
// units without knowing the element type (the unit size comes from the buffer) and switch on
// the concrete datatype only to read or store one element. Buffers move on any allocation:
// positions are kept as indexes and addresses taken again after each one.
#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "memory/error.h"
#include "runtime/random.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/words-builtin.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/ownership.h"
#include "memory/sorting.h"
#include "memory/stack.h"

namespace zuv::series {

namespace {

using memory::SeriesBuffer;

Cell* none_result() { return const_cast<Cell*>(&none::shared); }

inline uint32_t unit_of(const Cell* s) { return buffer(s)->unit(); }
inline Ref hash_table(const Cell* s) { return s->is(Type::hash) ? block::hash_table_of(s) : 0; }

bool same_series_q(const Cell* a, const Cell* b) { return a->type() == b->type() && node(a) == node(b); }

bool any_series_q(Type t) {
    return block::family_q(t) || string::family_q(t) || t == Type::binary || t == Type::vector || t == Type::image;
}

inline int32_t clamp_index(int64_t p, int32_t length) {
    return static_cast<int32_t>(std::clamp<int64_t>(p, 0, length));
}

Cell* at_or_skip(Cell* s, Cell* offset, bool at) {
    if (!offset->is(Type::integer)) error::raise(error::id::script_invalid_arg, offset);
    int64_t n = offset->int2(), i = s->int1();
    int64_t p = at && n >= 1 ? i + n - 1 : i + n;
    series::set_head(s, clamp_index(p, buffer_length(s)));
    return s;
}

// The absolute position of a pick/poke index, or -1 when it falls outside the series.
int64_t pick_position(const Cell* s, int32_t k) {
    if (k == 0) return -1;
    int64_t p = k > 0 ? int64_t(s->int1()) + k - 1 : int64_t(s->int1()) + k;
    return p < 0 || p >= buffer_length(s) ? -1 : p;
}

// Swaps two runs of n units of a series; a hash! index follows the cells.
void swap_units(Cell* s, int32_t a, int32_t b, int32_t n) {
    Ref table = hash_table(s);
    if (table)
        for (int32_t k = 0; k < n; ++k) {
            hashtable::delete_(table, block::cell_at(s, a + k));
            hashtable::delete_(table, block::cell_at(s, b + k));
        }
    sorting::swap(unit_address(s, a), unit_address(s, b), n * static_cast<int32_t>(unit_of(s)));
    if (table)
        for (int32_t k = 0; k < n; ++k) {
            hashtable::put(table, block::cell_at(s, a + k));
            hashtable::put(table, block::cell_at(s, b + k));
        }
}

// Moves n units inside one buffer from position `from` to where they start at `to` in the
// result, shifting the units between.
void move_within(Cell* s, int32_t from, int32_t to, int32_t n) {
    uint32_t unit = unit_of(s);
    size_t bytes = size_t(n) * unit;
    std::unique_ptr<uint8_t[]> saved(new (std::nothrow) uint8_t[bytes]);
    if (!saved) error::raise(error::id::internal_no_memory);
    // Nothing below allocates in the arena, so the addresses hold.
    std::memcpy(saved.get(), unit_address(s, from), bytes);
    if (to > from) std::memmove(unit_address(s, from), unit_address(s, from + n), size_t(to - from) * unit);
    else std::memmove(unit_address(s, to + n), unit_address(s, to), size_t(from - to) * unit);
    std::memcpy(unit_address(s, to), saved.get(), bytes);
    if (Ref table = hash_table(s)) hashtable::move(table, to, from, n);
}

// Moves n units from the source's head to the target's head in another buffer of the same
// unit: the target opens a gap, the source closes its own.
void move_across(Cell* source, Cell* target, int32_t n) {
    uint32_t unit = unit_of(target);
    uint64_t bytes = uint64_t(n) * unit;
    SeriesBuffer* tb = buffer(target);
    uint64_t needed = uint64_t(tb->tail - memory::ref(tb->data())) + bytes;
    if (needed > tb->capacity) {
        if (needed * 2 > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
        memory::expand_series(tb, static_cast<int64_t>(needed * 2));
    }
    int32_t t_at = target->int1(), s_at = source->int1();
    int32_t t_len = buffer_length(target), s_len = buffer_length(source);
    std::memmove(unit_address(target, t_at + n), unit_address(target, t_at), size_t(t_len - t_at) * unit);
    std::memcpy(unit_address(target, t_at), unit_address(source, s_at), size_t(bytes));
    std::memmove(unit_address(source, s_at), unit_address(source, s_at + n), size_t(s_len - s_at - n) * unit);
    buffer(target)->tail += static_cast<uint32_t>(bytes);
    buffer(source)->tail -= static_cast<uint32_t>(bytes);
    if (Ref table = hash_table(source)) {
        if (hashtable::refresh(table, -n, s_at + n, s_len - s_at - n, true))
            hashtable::rebuild(table, s_len - n);
    }
    if (Ref table = hash_table(target)) {
        if (hashtable::refresh(table, n, t_at, t_len - t_at, true)) {
            hashtable::rebuild(table, t_len + n);
        } else {
            for (int32_t k = 0; k < n; ++k) {
                int32_t status;
                hashtable::insert(table, block::cell_at(target, t_at + k), &status);
                if (status == hashtable::rebuilt) break;
            }
        }
    }
}

// Removes n units at a position, moving the rest down; a hash! index follows.
void cut_units(Cell* s, int32_t start, int32_t n) {
    int32_t length = buffer_length(s);
    uint32_t unit = unit_of(s);
    Ref table = hash_table(s);
    // The removed cells leave the index before the cells after them move over them.
    int32_t refreshed = table ? hashtable::refresh(table, -n, start + n, length - start - n, true) : 0;
    if (start + n < length)
        std::memmove(unit_address(s, start), unit_address(s, start + n), size_t(length - start - n) * unit);
    buffer(s)->tail -= static_cast<uint32_t>(n) * unit;
    if (refreshed) hashtable::rebuild(table, length - n);
}

}  // namespace

// =============================================================================================
// Helpers

int32_t part_count(const Cell* s, const Cell* part) {
    if (part->is(Type::integer)) return part->int2();
    if (same_series_q(part, s)) return part->int1() - s->int1();
    error::raise_refine_arg(words::refine::part, part);
}

PartRange part_range(int32_t head, int32_t count, int32_t length) {
    int64_t h = std::clamp<int64_t>(head, 0, length), c = count;
    if (c < 0) {
        int64_t start = h + c;
        if (start < 0) return {0, static_cast<int32_t>(h), true};
        return {static_cast<int32_t>(start), static_cast<int32_t>(-c), false};
    }
    return {static_cast<int32_t>(h), static_cast<int32_t>(std::min(c, length - h)), false};
}

bool advance(Cell* s, int32_t n) {
    int64_t p = int64_t(s->int1()) + n;
    int32_t length = buffer_length(s);
    if (p <= length) series::set_head(s, p);
    return p >= length;
}

void read_element(Cell* s, int32_t position, Cell* out) {
    Type t = s->type();
    if (block::family_q(t) || t == Type::map) {
        *out = *block::cell_at(s, position);
        return;
    }
    switch (t) {
        case Type::vector:
            vector::get_value(unit_address(s, position), unit_of(s), vector::element_type(s), out);
            return;
        case Type::binary: cell::make(out, Type::integer, 0, *unit_address(s, position)); return;
        default: {
            uint32_t c = string::get_char(unit_address(s, position), unit_of(s));
            cell::make(out, Type::char_, 0, c);
        }
    }
}

bool notify_before(Cell* s, const Cell* action_word, Cell* value, int32_t index, int32_t part) {
    return ownership::may_be_owned(s) && ownership::check(s, action_word->int2(), value, index, part);
}

void notify_after(bool told, Cell* s, const Cell* action_word, Cell* value, int32_t index, int32_t part) {
    if (told) ownership::check(s, action_word->int2(), value, index, part);
}

// =============================================================================================
// Navigation and queries

static Cell* at(Cell* s, Cell* offset) { return at_or_skip(s, offset, true); }
static Cell* skip(Cell* s, Cell* offset) { return at_or_skip(s, offset, false); }

static Cell* back(Cell* s) {
    if (head(s) > 0) set_head(s, head(s) - 1);
    return s;
}

static Cell* next(Cell* s) {
    advance(s, 1);
    return s;
}

static Cell* head_(Cell* s) {
    series::set_head(s, 0);
    return s;
}

static Cell* tail(Cell* s) {
    series::set_head(s, buffer_length(s));
    return s;
}

static Cell* head_q(Cell* s) {
    logic::make_at(s, s->int1() == 0);
    return s;
}

static Cell* tail_q(Cell* s) {
    logic::make_at(s, at_tail_q(s));
    return s;
}

static Cell* index_q(Cell* s) {
    cell::make(s, Type::integer, 0, static_cast<uint32_t>(series::head(s) + 1));
    return s;
}

static int32_t length_q(Cell* s) { return get_length(s, false); }
static Cell* copy_action(Cell* s, Cell* result, Cell* part, bool, Cell*) { return copy(s, result, part); }

// =============================================================================================
// Elements

Cell* pick(Cell* s, int32_t index, Cell*) {
    int64_t p = pick_position(s, index);
    if (p < 0) return none_result();
    read_element(s, static_cast<int32_t>(p), s);
    return s;
}

Cell* poke(Cell* s, int32_t index, Cell* value, Cell*) {
    int64_t p64 = pick_position(s, index);
    if (p64 < 0) {
        Cell k;
        cell::make(&k, Type::integer, 0, static_cast<uint32_t>(index));
        error::raise(error::id::script_out_of_range, &k);
    }
    auto p = static_cast<int32_t>(p64);
    Type t = s->type();
    // Every check comes before the owner hears of the change.
    uint8_t byte = 0;
    if (t == Type::vector) {
        if (value->type() != vector::element_type(s)) error::raise(error::id::script_invalid_arg, value);
    } else if (t == Type::binary) {
        byte = binary::poke_byte(value);
    } else if (!block::family_q(t) && !value->is(Type::char_)) {
        error::raise(error::id::script_invalid_arg, value);
    }
    bool told = notify_before(s, words::global::poke, value, p, 1);
    if (block::family_q(t)) {
        Ref table = hash_table(s);
        // The old cell leaves the index first, or its group would keep a cell that no longer
        // holds its key.
        if (table) hashtable::delete_(table, block::cell_at(s, p));
        *block::cell_at(s, p) = *value;
        if (table) hashtable::put(table, block::cell_at(s, p));
    } else if (t == Type::vector) {
        vector::set_value(unit_address(s, p), value, unit_of(s));
    } else if (t == Type::binary) {
        *unit_address(s, p) = byte;
    } else {
        string::poke_char(buffer(s), p, char_::code_of(value));
    }
    notify_after(told, s, words::global::poked, value, p, 1);
    return value;
}

static Cell* random(Cell* s, bool seed, bool secure, bool only) {
    int32_t n = get_length(s, false);
    if (seed) {
        uint32_t bytes = static_cast<uint32_t>(n) << unit_shift(unit_of(s));
        random::seed(static_cast<int32_t>(hashtable::hash_bytes(head_address(s), bytes)));
        cell::make(s, Type::unset);
        return s;
    }
    if (only) {
        if (n < 1) return none_result();
        int32_t k = random::int_(secure, n);
        read_element(s, s->int1() + k - 1, s);
        return s;
    }
    bool told = notify_before(s, words::global::random, nullptr, s->int1(), n);
    uint32_t unit = unit_of(s);
    for (int32_t cursor = s->int1(), r = n; r > 0; ++cursor, --r) {
        int32_t k = random::int_(secure, r);
        if (k != 1) sorting::swap(unit_address(s, cursor), unit_address(s, cursor + k - 1), static_cast<int32_t>(unit));
    }
    // Every cell moved: the index is made again rather than patched cell by cell.
    if (Ref table = hash_table(s)) hashtable::rebuild(table, buffer_length(s));
    notify_after(told, s, words::global::randomized, nullptr, s->int1(), n);
    return s;
}

// =============================================================================================
// Editing

static Cell* clear(Cell* s) {
    int32_t n = get_length(s, false);
    if (n < 1) return s;
    int32_t i = s->int1();
    bool told = notify_before(s, words::global::clear, nullptr, i, n);
    if (Ref table = hash_table(s)) hashtable::delete_range(table, i, n);
    SeriesBuffer* b = buffer(s);
    b->tail = memory::ref(head_address(s));
    notify_after(told, s, words::global::cleared, nullptr, i, n);
    return s;
}

Cell* copy(Cell* s, Cell* result, Cell* part) {
    int64_t c = std::max(get_length(s, false), 0);
    int32_t i = s->int1();
    int64_t start = i;
    int32_t length = buffer_length(s);
    if (part) {
        if (part->is(Type::pair)) {
            int64_t x = part->int2(), y = part->int3();
            start = std::max<int64_t>(x < 0 ? i + x : i + x - 1, 0);
            c = y < x ? 0 : y - x;
        } else {
            PartRange r = part_range(i, part_count(s, part), length);
            start = r.start;
            c = r.count;
        }
    }
    if (start > length) {
        start = length;
        c = 0;
    }
    if (start + c > length) c = length - start;
    Cell source = *s;
    if (result != s) cell::make(result, Type::unset);  // a collection must not see half a value
    Ref node = copy_part(series::node(&source), static_cast<int32_t>(start), static_cast<int32_t>(c));
    cell::make(result, source.type(), 0, node, source.is(Type::vector) ? static_cast<uint32_t>(vector::element_type(&source)) : 0);
    result->header |= source.header & header::new_line;
    return result;
}

Cell* remove(Cell* s, Cell* part, Cell* key) {
    int32_t c = 1;
    if (part) {
        c = part_count(s, part);
        if (c < 1) return s;
    }
    get_length(s, false);
    if (key) {
        auto find = reinterpret_cast<slotfn::Find>(datatype::action_of(s->type(), datatype::slot::find));
        if (!find) error::raise(error::id::internal_not_done);
        Cell at = *s;
        slotfn::FindOptions exact;
        exact.case_ = true;
        Cell* found = find(&at, key, exact);
        if (found->is(Type::none)) return none_result();
        set_head(s, head(found));
        ++c;
    }
    int32_t start = s->int1(), length = buffer_length(s);
    if (start >= length) return s;
    c = std::min(c, length - start);
    bool told = notify_before(s, words::global::remove, nullptr, start, c);
    cut_units(s, start, c);
    notify_after(told, s, words::global::removed, nullptr, start, c);
    return s;
}

static Cell* reverse(Cell* s, Cell* part, Cell* skip_cell) {
    if (at_tail_q(s)) return s;
    int32_t i = s->int1();
    int32_t c = get_length(s, false);
    if (part) {
        c = part_count(s, part);
        if (c < 1) return s;
    }
    int32_t n = 1;
    if (skip_cell) {
        if (!skip_cell->is(Type::integer)) error::raise_refine_arg(words::refine::skip, skip_cell);
        n = skip_cell->int2();
        if (n == c) return s;
        if (n < 1) error::raise(error::id::script_out_of_range, skip_cell);
        if (c < n || c % n != 0) error::raise_refine_arg(words::refine::skip, skip_cell);
    }
    int32_t end = static_cast<int32_t>(std::min<int64_t>(buffer_length(s), int64_t(i) + c));
    int32_t records = (end - i) / n;
    bool told = notify_before(s, words::global::reverse, nullptr, i, c);
    for (int32_t a = i, b = i + (records - 1) * n; a < b; a += n, b -= n) swap_units(s, a, b, n);
    notify_after(told, s, words::global::reversed, nullptr, i, c);
    return s;
}

Cell* take(Cell* s, Cell* part, bool, bool last) {
    int32_t length = get_length(s, false);
    if (length < 1) return none_result();
    int32_t i = s->int1();
    int64_t c = 1;
    if (part) {
        if (part->is(Type::integer)) {
            c = part->int2();
        } else if (same_series_q(part, s)) {
            int64_t p = part->int1();
            c = p < i ? 0 : last ? int64_t(i) + length - p : p - i;
        } else {
            error::raise_refine_arg(words::refine::part, part);
        }
    }
    // A count of 0 takes the unit at the head; a negative one the units before the head.
    bool before = c < 0 && !last;
    int64_t available = length;
    if (c == 0) {
        c = 1;
    } else if (c < 0) {
        c = last ? 1 : -c;
        if (before) available = i;
    }
    auto n = static_cast<int32_t>(std::min(c, available));
    int32_t start = last ? buffer_length(s) - n : before ? i - n : i;
    bool told = notify_before(s, words::global::take, nullptr, start, n);
    Cell source = *s;
    Ref node = copy_part(series::node(&source), start, n);
    cell::make(s, source.type(), 0, node, source.is(Type::vector) ? static_cast<uint32_t>(vector::element_type(&source)) : 0);
    cut_units(&source, start, n);
    if (source.is(Type::hash)) block::set_hash_table(s, hashtable::make(std::max(n, 1), s, hashtable::kind_hash, 0));
    notify_after(told, &source, words::global::taken, nullptr, start, n);
    return s;
}

static Cell* move(Cell* origin, Cell* target, Cell* part) {
    if (!any_series_q(target->type())) {
        Cell word, type, argument;
        stack::get_call_word(&word);
        datatype::make_at(&type, static_cast<int>(target->type()));
        word::make_at(&argument, symbol::make("target"));
        error::raise(error::id::script_expect_arg, &word, &type, &argument);
    }
    int32_t length = get_length(origin, false);
    if (length < 1) return target;
    int32_t n = 1;
    if (part) {
        n = part->int2();
        if (n < 1) return target;
        n = std::min(n, length);
    }
    Cell target_before = *target;
    if (series::node(origin) == series::node(target)) {
        int32_t from = origin->int1(), total = buffer_length(origin);
        int32_t to = std::min(target->int1(), total);
        if (to == from) return target;
        if (to > from && total - to < n) return origin;
        bool told = notify_before(target, words::global::move, origin, from, n);
        move_within(origin, from, to, n);
        notify_after(told, &target_before, words::global::moved, origin, from, n);
        return target;
    }
    Type a = origin->type(), b = target->type();
    auto raise_move_bad = [&] {
        Cell ta, tb;
        datatype::make_at(&ta, static_cast<int>(a));
        datatype::make_at(&tb, static_cast<int>(b));
        error::raise(error::id::script_move_bad, &ta, &tb);
    };
    if (block::family_q(a) != block::family_q(b)) raise_move_bad();
    // Vector elements are numbers of one type: raw units of another kind would read back as
    // other numbers, or as code points no text can hold.
    if ((a == Type::vector || b == Type::vector) && (a != b || vector::element_type(origin) != vector::element_type(target))) raise_move_bad();
    // An image's pixels are a rectangle of a fixed size: units moved in would leave the buffer
    // longer than the image (and one with no pixels has no buffer at all).
    if (b == Type::image) raise_move_bad();
    get_length(target, false);
    bool told = notify_before(target, words::global::move, origin, origin->int1(), n);
    if (unit_of(origin) == unit_of(target)) {
        move_across(origin, target, n);
    } else {
        if (a == Type::binary || b == Type::binary || a == Type::vector || b == Type::vector) raise_move_bad();
        string::move_chars(origin, target, n);
    }
    notify_after(told, &target_before, words::global::moved, origin, origin->int1(), n);
    return target;
}

// =============================================================================================
// Ownership

Cell* reflect(Cell* s, int32_t field) {
    if (symbol::resolve(field) != symbol::resolve(words::sym::owned)) error::raise(error::id::internal_not_done);
    Cell* owner = ownership::get_owner(series::node(s));
    *s = owner ? *owner : none::shared;
    return s;
}

Cell* modify(Cell* s, int32_t field, Cell* value, bool) {
    if (symbol::resolve(field) != symbol::resolve(words::sym::owned)) return value;
    if (value->is(Type::none)) {
        ownership::unset(s);
    } else if (value->is(Type::block) && block::length(value) >= 2) {
        Cell owner = *block::head(value), word = *(block::head(value) + 1);
        ownership::bind(s, &owner, &word);
    }
    return value;
}

// =============================================================================================

void init() {
    datatype::register_type(Type::series, {
        .random = random,
        .reflect = reflect,
        .at = at,
        .back = back,
        .clear = clear,
        .copy = copy_action,
        .head = head_,
        .head_q = head_q,
        .index_q = index_q,
        .length_q = length_q,
        .move = move,
        .next = next,
        .pick = pick,
        .poke = poke,
        .remove = remove,
        .reverse = reverse,
        .skip = skip,
        .tail = tail,
        .tail_q = tail_q,
        .take = take,
        .modify = modify,
    });
}

}  // namespace zuv::series
