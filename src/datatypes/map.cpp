// map!: the dictionary. Pairs live in insertion order in a block indexed by a kind-1 hash
// table; removing a pair only zeroes its value's header, so the key keeps its place and a
// later store revives it there. Molding, comparing and storing may allocate: pairs are read
// by index and copied out, and a map whose table only C++ locals hold is pushed first.
#include "datatypes/map.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/stack.h"

namespace zuv::map {

namespace {

namespace op = actions::op;

inline Cell* cell_at(const Cell* m, int32_t index) { return series::buffer(m)->cells() + index; }
// Cells of the block from its first one, removed pairs included.
inline int32_t cell_count(const Cell* m) { return block::buffer_length(m); }
inline bool removed_q(const Cell* value) { return value->header == 0; }


[[noreturn]] void raise_bad_to(const Cell* spec) {
    Cell t = scalar::type_cell(Type::map);
    error::raise(error::id::script_bad_to_arg, &t, spec);
}

[[noreturn]] void raise_bad_key(const Cell* key, const Cell* accessed) {
    Cell t = scalar::type_cell(key->type());
    error::raise(error::id::script_invalid_path, accessed ? accessed : &none::shared, &t);
}

// The key cell's index in the block, or -1 (a removed pair's key is found too).
int32_t lookup_code(bool case_, bool same) { return same ? op::same : case_ ? op::strict_equal : op::equal; }

int32_t find_key(const Cell* m, const Cell* key, int32_t code) {
    Cell* found = hashtable::find_map_key(table_of(m), key, code);
    return found ? static_cast<int32_t>(found - cell_at(m, 0)) : -1;
}

// The block doubles when a pair does not fit.
[[gnu::noinline]] memory::SeriesBuffer* grow_pairs(memory::SeriesBuffer* b) {
    int64_t want = std::max<int64_t>(int64_t(b->capacity) * 2, (b->tail_ptr() - b->data()) + 2 * sizeof(Cell));
    if (want > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
    return memory::expand_series(b, want);
}

// Room for one more pair at the block's tail; gives the block's buffer.
inline memory::SeriesBuffer* pair_room(Cell* m) {
    memory::SeriesBuffer* b = series::buffer(m);
    if (b->tail_ptr() + 2 * sizeof(Cell) > b->data_end()) [[unlikely]] b = grow_pairs(b);
    return b;
}

// A pair at the block's tail, its two cells made in one growth so that no half pair is left
// behind; gives the key's index. The cells are copies: growing moves the block.
int32_t append_pair(Cell* m, const Cell& key, const Cell& value) {
    memory::SeriesBuffer* b = pair_room(m);
    Cell* pair = b->cells_end();
    pair[0] = key;
    pair[1] = value;
    b->tail += 2 * sizeof(Cell);
    return static_cast<int32_t>(pair - b->cells());
}

// Calls f(key, value) for each live pair in block order until it answers false. The cells
// are copies: f may allocate.
template <class F>
void each_live(const Cell* m, F f) {
    for (int32_t k = 0; k + 1 < cell_count(m); k += 2) {
        Cell key = *cell_at(m, k), value = *cell_at(m, k + 1);
        if (removed_q(&value)) continue;
        if (!f(key, value)) return;
    }
}

// A key as readers see it: a set-word! key is handed back as a word!.
Cell key_out(Cell key) {
    if (key.is(Type::set_word)) key.set_type(Type::word);
    key.header &= ~header::new_line;
    return key;
}

// Raises the bad-key error of the first key of the cells [from, from + n) that a map cannot take.
void check_keys(const Cell* block, int32_t from, int32_t n) {
    for (int32_t k = 0; k < n; k += 2) {
        const Cell* key = block::head(block) + from + k;
        if (!valid_key_q(key->type())) raise_bad_key(key, key);
    }
}

// Makes a map over a block whose keys were checked (the block's head must be 0).
void build(Cell* c, const Cell* block, int32_t size) {
    Cell b = *block;
    Ref table = hashtable::make(std::max(size, series::buffer_length(&b)), &b, hashtable::kind_map, 0);
    cell::make(c, Type::map, 0, series::node(&b), table);
}

void prepare_hook(Cell* key) { prepare_key(key, key); }


}  // namespace

bool make_from_loaded(Cell* block) {
    int32_t n = series::length(block);
    if (n % 2) return false;
    for (int32_t k = 0; k < n; k += 2)
        if (!valid_key_q((block::head(block) + k)->type())) return false;
    uint32_t line = block->header & header::new_line;
    make_at(block, block, n);
    block->header |= line;
    return true;
}

// =============================================================================================
// Keys

bool valid_key_q(Type t) {
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::char_: case Type::integer:
        case Type::float_: case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement: case Type::issue: case Type::pair: case Type::percent: case Type::tuple:
        case Type::binary: case Type::time: case Type::tag: case Type::email: case Type::date:
        case Type::money: case Type::ref: case Type::point2D: case Type::point3D:
            return true;
        default:
            return false;
    }
}

void prepare_key(Cell* key, const Cell* accessed) {
    Type t = key->type();
    key->header &= ~header::new_line;
    if (t == Type::integer) return;  // the common key, ready as it stands
    if (!valid_key_q(t)) raise_bad_key(key, accessed);
    if (string::family_q(t) || t == Type::binary) {
        // A private copy: later changes to the caller's series must not reach the map.
        Cell source = *key;
        int32_t n = std::max(series::length(&source), 0);
        Ref node = series::copy_part(series::node(&source), series::head(&source), n);
        cell::make(key, t, 0, node, 0);
    } else if (t == Type::word || t == Type::lit_word || t == Type::get_word) {
        key->set_type(Type::set_word);
    }
}

// =============================================================================================
// Making and storing

void make_at(Cell* c, Cell* block, int32_t size) {
    if (!block) {
        Cell* made = block::push_new(size);
        build(c, made, size);
        stack::pop(1);
        return;
    }
    if (series::length(block) % 2) error::raise(error::id::script_invalid_arg, block);
    if (block->int1() != 0) {
        Cell* flat = block::clone(block, false, false);
        check_keys(flat, 0, series::length(flat));
        build(c, flat, size);
        stack::pop(1);
        return;
    }
    check_keys(block, 0, series::length(block));
    build(c, block, size);
}

Cell* push(const Cell* m) { return stack::push(m); }

int32_t size(const Cell* m) { return hashtable::record_of(table_of(m))->size; }

namespace {

// Stores into an existing pair, reviving it when it was removed.
inline void set_value(Cell* m, int32_t at, const Cell& v) {
    Cell* pair = cell_at(m, at);
    if (removed_q(pair + 1)) ++hashtable::record_of(table_of(m))->size;
    pair[1] = v;
}

// The common key needs no preparation and compares by its number under any case rule, so
// the store is one step. The room comes first: a growth of the table keeps it, and nothing
// allocates between the claim of the bucket and the pair's writing.
void put_integer(Cell* m, const Cell* key, const Cell* value) {
    // The two cells travel as one block of bytes: copied field by field they cost twice.
    struct Pair { Cell key, value; } p;
    std::memcpy(&p.key, key, sizeof(Cell));
    std::memcpy(&p.value, value, sizeof(Cell));
    auto position = static_cast<int32_t>(pair_room(m)->used_bytes() / sizeof(Cell));
    int32_t at = hashtable::store_map_integer(table_of(m), p.key.data2, position);
    if (at >= 0) return set_value(m, at, p.value);
    memory::SeriesBuffer* b = series::buffer(m);
    Cell* pair = b->cells_end();
    std::memcpy(pair, &p, sizeof p);
    pair->header &= ~header::new_line;
    b->tail += 2 * sizeof(Cell);
}

[[gnu::noinline]] void put_other(Cell* m, const Cell* key, const Cell* value, bool case_, const Cell* accessed) {
    Cell k = *key, v = *value;
    if (!valid_key_q(k.type())) raise_bad_key(&k, accessed);
    uint32_t bucket = 0;
    int32_t at = hashtable::probe_map_key(table_of(m), &k, case_ ? op::strict_equal : op::equal, &bucket);
    if (at >= 0) return set_value(m, at, v);
    // Allocation leaves the bucket valid; nothing here changes the table before the claim.
    prepare_key(&k, accessed);
    at = append_pair(m, k, v);
    hashtable::claim_map_bucket(table_of(m), bucket, at);
}

}  // namespace

// No owner is told of a store: ownership gives owners to series and objects, never to a map.
Cell* put(Cell* m, Cell* key, Cell* value, bool case_, const Cell* accessed) {
    if (key->is(Type::integer)) put_integer(m, key, value);
    else put_other(m, key, value, case_, accessed);
    return value;
}

Cell* select(Cell* m, const Cell* key, bool case_, bool same) {
    const Cell* found = hashtable::find_map_key(table_of(m), key, lookup_code(case_, same));
    *m = found && !removed_q(found + 1) ? found[1] : none::shared;
    return m;
}

Cell* extend(Cell* m, Cell* block, bool case_) {
    Cell b = *block;
    int32_t n = series::length(&b);
    if (n % 2) error::raise(error::id::script_invalid_arg, block);
    check_keys(&b, 0, n);
    memory::SeriesBuffer* buf = series::buffer(m);
    int64_t want = (buf->tail_ptr() - buf->data()) + int64_t(n) * 16;
    if (want > 0x7FFFFFF0) error::raise(error::id::internal_no_memory);
    if (want > buf->capacity) memory::expand_series(buf, want);
    for (int32_t k = 0; k < n; k += 2) {
        Cell key = *(block::head(&b) + k), value = *(block::head(&b) + k + 1);
        put(m, &key, &value, case_, &key);
    }
    return m;
}

bool foreach_next(Cell* words, Cell* cursor) {
    Cell w = *words;
    int32_t n = series::length(&w);
    for (int32_t i = 0; i < n; ++i) {
        Cell* word = block::head(&w) + i;
        if (!scalar::settable_word_q(word->type())) error::raise(error::id::script_invalid_arg, word);
    }
    int32_t at = std::max(cursor->int1(), 0);
    bool any = false;
    for (int32_t i = 0; i < n; ++i) {
        Cell word = *(block::head(&w) + i);
        Cell v = none::shared;
        bool key_due = at % 2 == 0;
        if (key_due)
            while (at + 1 < cell_count(cursor) && removed_q(cell_at(cursor, at + 1))) at += 2;
        if (at + (key_due ? 1 : 0) < cell_count(cursor)) {
            v = key_due ? key_out(*cell_at(cursor, at)) : *cell_at(cursor, at);
            ++at;
            any = true;
        }
        context::set(&word, &v);
    }
    series::set_head(cursor, at);
    return any;
}

namespace {

// =============================================================================================
// make, to, reflect

Cell* copy(Cell* m, Cell* result, Cell* part, bool deep, Cell* types);

Cell* make_from(Cell* proto, Cell* spec, bool to) {
    switch (spec->type()) {
        case Type::block: case Type::paren: case Type::hash: {
            int32_t n = series::length(spec);
            if (n % 2) error::raise(error::id::script_invalid_arg, spec);
            Cell* made = block::clone(spec, false, false);
            made->set_type(Type::block);
            block::set_hash_table(made, 0);
            for (int32_t k = 0; k < n; ++k) (block::head(made) + k)->header &= ~header::new_line;
            check_keys(made, 0, n);
            build(proto, made, n == 0 ? 2 : n);
            return proto;
        }
        case Type::integer: case Type::float_: {
            if (to) raise_bad_to(spec);
            int32_t n = integer::from_number(spec);
            if (n < 0) error::raise(error::id::script_out_of_range, spec);
            make_at(proto, nullptr, n == 0 ? 2 : n);
            return proto;
        }
        case Type::map:
            return copy(spec, proto, nullptr, false, nullptr);
        default:
            raise_bad_to(spec);
    }
}

Cell* make(Cell* proto, Cell* spec, int32_t) { return make_from(proto, spec, false); }
Cell* to(Cell* proto, Cell* spec, int32_t) { return make_from(proto, spec, true); }

Cell* reflect(Cell* m, int32_t field) {
    int32_t f = symbol::resolve(field);
    bool keys = f == symbol::resolve(words::sym::words);
    bool values = f == symbol::resolve(words::sym::values);
    bool body = f == symbol::resolve(words::sym::body);
    if (!keys && !values && !body) error::raise(error::id::internal_not_done);
    Cell* out = block::push_new(size(m) * (body ? 2 : 1));
    each_live(m, [&](Cell key, Cell value) {
        if (body) {
            key.header |= header::new_line;
            block::append(out, &key);
        } else if (keys) {
            key = key_out(key);
            block::append(out, &key);
        }
        if (!keys) block::append(out, &value);
        return true;
    });
    *m = *out;
    return m;
}

// =============================================================================================
// form, mold

int32_t mold(Cell* m, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (mold::cycle(m, buffer, &budget, true)) return budget;
    Cell map = *m;
    if (!only) {
        string::append_ascii(buffer, flat ? "#[" : "#[\n");
        budget -= flat ? 2 : 3;
    }
    int32_t level = indent + 1;
    {
        cycle_stack::Scope scope;
        cycle_stack::push(series::node(&map));
        bool first = true;
        each_live(&map, [&](Cell key, Cell value) {
            if (part && budget < 1) return false;
            if (!flat) {
                budget = mold::indent(buffer, level, budget);
            } else if (!first) {
                string::append_char(buffer, ' ');
                --budget;
            }
            first = false;
            budget = actions::mold_dispatch(&key, buffer, false, all, flat, part, budget, level);
            string::append_char(buffer, ' ');
            budget = actions::mold_dispatch(&value, buffer, false, all, flat, part, budget - 1, level);
            if (!flat) {
                string::append_char(buffer, '\n');
                --budget;
            }
            return true;
        });
    }
    if (!only) {
        if (!flat) budget = mold::indent(buffer, indent, budget);
        string::append_char(buffer, ']');
        --budget;
    }
    return budget;
}

int32_t form(Cell* m, Cell* buffer, Cell* part, int32_t budget) {
    if (mold::cycle(m, buffer, &budget, false)) return budget;
    Cell map = *m;
    cycle_stack::Scope scope;
    cycle_stack::push(series::node(&map));
    bool first = true;
    each_live(&map, [&](Cell key, Cell value) {
        if (part && budget < 1) return false;
        if (!first) {
            string::append_char(buffer, '\n');
            --budget;
        }
        first = false;
        budget = actions::mold_dispatch(&key, buffer, false, false, false, part, budget, 0);
        string::append_char(buffer, ' ');
        budget = actions::mold_dispatch(&value, buffer, false, false, false, part, budget - 1, 0);
        return true;
    });
    return budget;
}

// =============================================================================================
// compare

bool equality_op(int32_t code) {
    return code == op::equal || code == op::not_equal || code == op::strict_equal || code == op::find ||
           code == 10 || code == 11;
}

// True when some live key of b equal to the key holds a value equal to the value.
bool pair_in_q(const Cell* b, const Cell* key, const Cell* value, bool strict) {
    if (strict) {
        int32_t at = find_key(b, key, op::strict_equal);
        if (at < 0 || removed_q(cell_at(b, at + 1))) return false;
        Cell x = *value, y = *cell_at(b, at + 1);
        return actions::compare_dispatch(&x, &y, op::strict_equal) == 0;
    }
    int32_t bucket = -1, start = 0, step = 0;
    for (;;) {
        Cell* found = hashtable::find_next(table_of(b), key, &bucket, &start, &step);
        if (!found) return false;
        auto at = static_cast<int32_t>(found - cell_at(b, 0));
        if (removed_q(cell_at(b, at + 1))) continue;
        Cell x = *value, y = *cell_at(b, at + 1);
        if (actions::compare_dispatch(&x, &y, op::equal) == 0) return true;
    }
}

int32_t compare(Cell* a, Cell* b, int32_t code) {
    if (!b->is(Type::map)) return -2;
    if (code == op::sort || code == op::sort_case) return series::node(a) == series::node(b) ? 0 : (series::node(a) < series::node(b) ? -1 : 1);
    if (series::node(a) == series::node(b) && series::head(a) == series::head(b)) return 0;
    if (code == op::same) return 1;
    if (cycle_stack::find(series::node(a))) return cycle_stack::find(series::node(b)) ? 0 : 1;
    int32_t n = size(a), m = size(b);
    if (n != m) return equality_op(code) ? 1 : (n < m ? -1 : 1);
    if (n == 0) return 0;
    Cell x = *a, y = *b;
    cycle_stack::Scope scope;
    cycle_stack::push(series::node(&x));
    cycle_stack::push(series::node(&y));
    int32_t result = 0;
    each_live(&x, [&](Cell key, Cell value) {
        if (!pair_in_q(&y, &key, &value, code == op::strict_equal)) result = 1;
        return result == 0;
    });
    return result;
}

// =============================================================================================
// Series-like actions

Cell* clear(Cell* m) {
    bool told = series::notify_before(m, words::global::clear, nullptr, 0, cell_count(m));
    hashtable::clear(table_of(m));
    series::notify_after(told, m, words::global::cleared, nullptr, 0, 0);
    return m;
}

Cell* copy(Cell* m, Cell* result, Cell*, bool deep, Cell* types) {
    Cell* source = stack::push(m);  // the source's table stays whole while copying
    cycle_stack::Scope scope;
    if (types) {
        if (cycle_stack::find(series::node(source))) {
            cycle_stack::reset();
            error::raise(error::id::internal_no_cycle);
        }
        cycle_stack::push(series::node(source));
    }
    Cell whole;
    cell::make(&whole, Type::block, 0, series::node(source), 0);
    Cell* copied = stack::push(&whole);
    block::copy(copied, copied, nullptr, deep && !types, nullptr);
    if (types) block::copy_deep_types(copied, 1, series::buffer_length(copied), 2, true, types);
    Ref table = hashtable::copy(table_of(source), series::node(copied));
    cell::make(result, Type::map, 0, series::node(copied), table);
    stack::pop(2);
    return result;
}

Cell* find(Cell* m, Cell* value, const slotfn::FindOptions& o) {
    int32_t at = find_key(m, value, lookup_code(o.case_, o.same));
    if (at < 0 || removed_q(cell_at(m, at + 1))) {
        *m = none::shared;
        return m;
    }
    *m = key_out(*cell_at(m, at));
    return m;
}

// Only /case and /same mean anything to a map.
Cell* select_action(Cell* m, Cell* value, const slotfn::SelectOptions& o) { return select(m, value, o.case_, o.same); }

int32_t length_q(Cell* m) { return size(m); }

Cell* put_action(Cell* m, Cell* key, Cell* value, bool case_) { return put(m, key, value, case_, nullptr); }

Cell* remove(Cell* m, Cell*, Cell* key) {
    if (!key) error::raise(error::id::script_missing_arg);
    int32_t at = find_key(m, key, op::strict_equal);
    if (at < 0 || removed_q(cell_at(m, at + 1))) return m;
    bool told = series::notify_before(m, words::global::remove, nullptr, at, 2);
    hashtable::delete_(table_of(m), cell_at(m, at));
    series::notify_after(told, m, words::global::removed, nullptr, at, 2);
    return m;
}

// The path is not handed to this action: an invalid key's error names the key instead.
Cell* eval_path(Cell* m, Cell* element, Cell* set_value, bool case_, Cell*, Cell*, int32_t, bool, bool) {
    if (set_value) return put(m, element, set_value, case_, element);
    Cell* result = stack::push(m);
    return select(result, element, case_, false);
}

}  // namespace

void init() {
    datatype::register_type(Type::map, {
        .make = make,
        .reflect = reflect,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .clear = clear,
        .copy = copy,
        .find = find,
        .length_q = length_q,
        .put = put_action,
        .remove = remove,
        .select = select_action,
    });
    hashtable::prepare_map_key = prepare_hook;
}

}  // namespace zuv::map
