// block!: the series of value cells, its helpers and its actions (searching, comparing,
// molding, sorting, inserting several cells at once); positions and single elements come
// from series!. Any allocation, and any call that may evaluate or compare words, can move
// buffers: loops keep indexes and copy each cell out before working on it.
#include "datatypes/block.h"

#include <algorithm>
#include <functional>
#include <cstring>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "memory/upcalls.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/action-types.h"
#include "memory/collector.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "memory/sorting.h"
#include "memory/stack.h"

namespace zuv::series {

Cell* alloc_tail_cell(memory::SeriesBuffer* b) {
    if (b->tail_ptr() + sizeof(Cell) > b->data_end()) [[unlikely]]
        b = memory::expand_series(b, 0);
    Cell* c = b->cells_end();
    cell::make(c, Type::unset);
    b->tail += sizeof(Cell);
    return c;
}

uint8_t* alloc_tail_bytes(memory::SeriesBuffer* b, uint32_t n) {
    if (b->tail_ptr() + n > b->data_end()) {
        int64_t capacity = n > b->capacity ? int64_t(n) * 2 : int64_t(b->capacity) * 2;
        b = memory::expand_series(b, capacity);
    }
    uint8_t* old = b->tail_ptr();
    b->tail += n;
    return old;
}

Ref copy_part(Ref node, int32_t offset, int32_t length) {
    memory::SeriesBuffer* b = memory::buffer_of(node);
    uint32_t unit = b->unit();
    // An empty copy keeps 16 bytes of room: doubling a capacity of 0 would give nothing.
    int32_t room = length > 0 ? length : std::max<int32_t>(1, 16 / static_cast<int32_t>(unit ? unit : 1));
    Ref copy = memory::alloc_series(room, unit, 0);
    b = memory::buffer_of(node);
    memory::SeriesBuffer* nb = memory::buffer_of(copy);
    nb->flags = (b->flags & ~(memory::flag::owned | memory::flag::library | memory::flag::big | memory::flag::fixed |
                          memory::flag::mark)) |
                (nb->flags & memory::flag::big);
    uint32_t bytes = static_cast<uint32_t>(length) * unit;
    if (bytes) std::memcpy(nb->head_ptr(), b->head_ptr() + static_cast<size_t>(offset) * unit, bytes);
    nb->tail = nb->head + bytes;
    return copy;
}

}  // namespace zuv::series

namespace zuv::mold {

int32_t depth = 0;

int32_t indent(Cell* buffer, int32_t n, int32_t budget) {
    for (int32_t i = 0; i < n; ++i) string::append_ascii(buffer, "    ");
    return budget - 4 * std::max(n, 0);
}

bool cycle(const Cell* value, Cell* buffer, int32_t* budget, bool molding) {
    Ref node = value->is(Type::object) ? object::context_of(value) : series::node(value);
    if (!cycle_stack::find(node)) return false;
    std::string_view text = "...";
    if (molding) {
        switch (value->type()) {
            case Type::block: case Type::hash: text = "[...]"; break;
            case Type::paren: text = "(...)"; break;
            case Type::map: text = "#[...]"; break;
            case Type::object: text = "make object! [...]"; break;
            default: break;
        }
    }
    string::append_ascii(buffer, text);
    *budget -= static_cast<int32_t>(text.size());
    return true;
}

}  // namespace zuv::mold

namespace zuv::block {

namespace {

using memory::SeriesBuffer;
namespace op = actions::op;

constexpr uint64_t max_bytes = 0x7FFFFFF0;

Cell* none_result() { return const_cast<Cell*>(&none::shared); }
inline Ref hash_table(const Cell* b) { return b->is(Type::hash) ? hash_table_of(b) : 0; }
inline Cell cell_copy(const Cell* b, int32_t index) { return *cell_at(b, index); }

[[noreturn]] void raise_bad_make(int32_t type, const Cell* spec) {
    Cell t;
    datatype::make_at(&t, type);
    error::raise(error::id::script_bad_make_arg, &t, spec);
}

bool equality_op(int32_t code) {
    return code == op::equal || code == op::not_equal || code == op::strict_equal || code == op::same ||
           code == 10 || code == 11 || code == op::find;
}

bool word_type_q(Type t) { return t >= Type::word && t <= Type::issue; }
bool number_q(Type t) { return t == Type::integer || t == Type::float_ || t == Type::percent; }

// Series whose values a deep copy replaces by copies.
bool deep_copied_q(Type t) {
    return family_q(t) || string::family_q(t) || t == Type::vector || t == Type::binary || t == Type::image;
}

// Values that copy/types may copy.
bool copyable_q(Type t) {
    return deep_copied_q(t) || t == Type::bitset || t == Type::object || t == Type::error || t == Type::map;
}

bool type_in_q(Type t, const Cell* types) {
    if (types->is(Type::datatype)) return datatype::id_of(types) == static_cast<uint32_t>(t);
    return typeset::has(types, static_cast<uint32_t>(t));
}

// The mold depth counter follows the element being molded, also when molding it fails.
struct DepthStep {
    DepthStep() { ++mold::depth; }
    ~DepthStep() { --mold::depth; }
};

// Bytes of a block of n cells, or internal/no-memory when they do not fit.
uint32_t checked_bytes(uint64_t cells) {
    if (cells * 16 > max_bytes) error::raise(error::id::internal_no_memory);
    return static_cast<uint32_t>(cells * 16);
}

// Makes room for a block to hold `cells` cells from its buffer's first unit: the size asked,
// or twice that with doubling.
void reserve(Cell* b, uint32_t cells, bool doubling) {
    SeriesBuffer* buf = series::buffer(b);
    uint64_t bytes = uint64_t(checked_bytes(cells)) + (buf->head - memory::ref(buf->data()));
    if (bytes <= buf->capacity) return;
    if (doubling && bytes * 2 <= max_bytes) bytes *= 2;
    memory::expand_series(buf, static_cast<int64_t>(bytes));
}

// The value as the cells it contributes to append, insert and change: a block-family value
// without /only its cells from its head (copied out first when they lie in the target's own
// buffer, which the edit is about to move), anything else one cell.
struct Source {
    Cell cell;     // the block, or the value itself
    bool many;
    int32_t count;
};

Source source_of(const Cell* target, const Cell* value, bool only) {
    Source s{*value, !only && family_q(value->type()), 1};
    if (!s.many) return s;
    s.count = series::length(&s.cell);
    if (series::node(&s.cell) == series::node(target) && s.count > 0) {
        Ref copy = series::copy_part(series::node(&s.cell), s.cell.int1(), s.count);
        cell::make(&s.cell, Type::block, 0, copy, 0);
    }
    return s;
}

// Writes n cells of the source (or the single value) at an index, then replicates them.
void write_cells(Cell* target, int32_t at, const Source& s, int32_t n, int32_t dup) {
    Cell* to = cell_at(target, at);
    if (s.many) std::memcpy(to, head(&s.cell), size_t(n) * 16);
    else *to = s.cell;
    if (dup > 1) memory::replicate(reinterpret_cast<uint8_t*>(to), size_t(n) * 16, size_t(dup));
}

// Indexes the cells [from, to) of a hash! (stopping when an insertion rebuilt the table).
void index_cells(Cell* b, int32_t from, int32_t to) {
    Ref table = hash_table(b);
    if (!table) return;
    for (int32_t k = from; k < to; ++k) {
        int32_t status;
        hashtable::insert(table, cell_at(b, k), &status);
        if (status == hashtable::rebuilt) return;
    }
}

// The copy action of any value: the copy replaces the value in its cell (a stack cell).
void copy_value(Cell* v, bool deep, Cell* types) {
    auto f = reinterpret_cast<slotfn::Copy>(actions::get_action_ptr_of(v, datatype::slot::copy));
    Cell* r = f(v, v, nullptr, deep, types);
    if (r != v) *v = *r;
}

// Replaces every nested series among the cells [from, to) by its deep copy.
void copy_nested(Cell* b, int32_t from, int32_t to) {
    for (int32_t k = from; k < to && k < series::buffer_length(b); ++k) {
        if (!deep_copied_q(cell_at(b, k)->type())) continue;
        Cell* held = stack::push(cell_at(b, k));
        copy_value(held, true, nullptr);
        *cell_at(b, k) = *held;
        stack::pop(1);
    }
}

}  // namespace

// =============================================================================================
// Making

Cell root;

void make_root() {
    Ref node = memory::alloc_fixed_series(root_cells, 16, 0);
    cell::make(&root, Type::block, 0, node, 0);
    collector::register_fixed(memory::buffer_ref(node));
    collector::add_root(&root);
}

void make_at(Cell* c, int32_t n, Type t) {
    cell::make(c, Type::unset);  // a collection during the allocation must not see half a value
    Ref node = memory::alloc_cells(n > 0 ? n : 1);
    cell::make(c, t, 0, node, 0);
}

Cell* push_new(int32_t n) {
    Cell* c = stack::push_slot();
    make_at(c, n);
    return c;
}

Cell* push(const Cell* b) { return stack::push(b); }

Cell* make_in(Cell* parent, int32_t n) {
    if (!parent) parent = &root;
    alloc_tail_cell(parent);
    Ref node = memory::alloc_cells(n > 0 ? n : 1);
    Cell* c = tail(parent) - 1;
    cell::make(c, Type::block, 0, node, 0);
    return c;
}

// =============================================================================================
// Cell helpers

Cell* alloc_tail_cell(Cell* block) { return series::alloc_tail_cell(series::buffer(block)); }

Cell* append(Cell* block, const Cell* value) {
    Cell copy = *value;
    Cell* c = alloc_tail_cell(block);
    *c = copy;
    return c;
}

void copy_cells_in(Cell* target, Cell* source) {
    Cell src = *source;
    int32_t n = series::length(&src);
    reserve(target, static_cast<uint32_t>(series::buffer_length(target) + n), false);
    std::memcpy(tail(target), head(&src), size_t(n) * 16);
    series::buffer(target)->tail += static_cast<uint32_t>(n) * 16;
}

void insert_value(Cell* block, const Cell* value, bool advance, bool at_start) {
    Cell v = *value;
    series::length(block);
    int32_t at = at_start ? 0 : block->int1();
    int32_t n = series::buffer_length(block);
    alloc_tail_cell(block);
    Ref table = hash_table(block);
    int32_t declined = table ? hashtable::refresh(table, 1, at, n - at, true) : 0;
    std::memmove(cell_at(block, at + 1), cell_at(block, at), size_t(n - at) * 16);
    *cell_at(block, at) = v;
    if (declined) hashtable::rebuild(table, n + 1);
    else if (table) hashtable::put(table, cell_at(block, at));
    if (advance) series::set_head(block, at + 1);
}

SeriesBuffer* truncate_at(Cell* block, int32_t index) {
    SeriesBuffer* b = series::buffer(block);
    b->tail = memory::ref(b->cells() + index);
    return b;
}

void remove_last(Cell* block) {
    SeriesBuffer* b = series::buffer(block);
    if (b->tail == b->head) return;
    b->tail -= 16;
    series::length(block);
}

bool remove_value(Cell* block, const Cell* value, bool from_start) {
    Cell v = *value;
    int32_t start = from_start ? 0 : block->int1();
    for (int32_t k = start; k < series::buffer_length(block); ++k) {
        Cell c = cell_copy(block, k);
        if (actions::compare_dispatch(&v, &c, op::find) != 0) continue;
        Ref table = hash_table(block);
        if (table) hashtable::delete_(table, cell_at(block, k));
        int32_t n = series::buffer_length(block);
        std::memmove(cell_at(block, k), cell_at(block, k + 1), size_t(n - k - 1) * 16);
        series::buffer(block)->tail -= 16;
        if (table && hashtable::refresh(table, -1, k + 1, n - k - 1, false)) hashtable::rebuild(table, n - 1);
        return true;
    }
    return false;
}

const Cell* find_word(Cell* block, const Cell* word, bool strict) {
    int32_t sym = strict ? word->int2() : symbol::resolve(word->int2());
    int32_t n = series::length(block);
    for (int32_t k = 0; k < n; ++k) {
        const Cell* c = cell_at(block, block->int1() + k);
        Type t = c->type();
        if (t != Type::word && t != Type::set_word && t != Type::lit_word && t != Type::get_word) continue;
        if ((strict ? c->int2() : symbol::resolve(c->int2())) != sym) continue;
        return k + 1 < n ? c + 1 : &none::shared;
    }
    return &none::shared;
}

Cell* clone(Cell* block, bool deep, bool paths) {
    Cell src = *block;
    int32_t n = series::length(&src);
    Cell* result = push_new(n);
    result->set_type(src.type());
    std::memcpy(head(result), head(&src), size_t(n) * 16);
    series::buffer(result)->tail += static_cast<uint32_t>(n) * 16;
    if (!deep) return result;
    cycle_stack::Scope scope;
    cycle_stack::push(series::node(&src));
    for (int32_t k = 0; k < n; ++k) {
        Cell c = cell_copy(result, k);
        bool nested = c.is(Type::block) || (paths && family_q(c.type()) && !c.is(Type::hash));
        // A block that holds itself keeps its reference: there is nothing finite to copy.
        if (!nested || cycle_stack::find(series::node(&c))) continue;
        Cell* copy = clone(&c, true, paths);
        copy->header |= c.header & header::new_line;
        *cell_at(result, k) = *copy;
        stack::pop(1);
    }
    return result;
}

void copy_deep_types(Cell* block, int32_t start, int32_t end, int32_t step, bool deep, Cell* types) {
    Cell t = *types;
    for (int32_t k = start; k < end && k < series::buffer_length(block); k += std::max(step, 1)) {
        Type type = cell_at(block, k)->type();
        if (!copyable_q(type) || !type_in_q(type, &t)) continue;
        Cell* held = stack::push(cell_at(block, k));
        copy_value(held, deep, deep ? &t : nullptr);
        *cell_at(block, k) = *held;
        stack::pop(1);
    }
}

// =============================================================================================
// make, to

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Type t = static_cast<Type>(type);
    switch (spec->type()) {
        case Type::integer: case Type::float_: {
            int32_t n = integer::from_number(spec);
            make_at(proto, n < 1 ? 1 : n, t);
            return proto;
        }
        case Type::object: case Type::map: {
            auto reflect = reinterpret_cast<slotfn::Reflect>(actions::get_action_ptr_of(spec, datatype::slot::reflect));
            Cell* body = reflect(spec, words::sym::body);
            *proto = *body;
            proto->set_type(t);
            return proto;
        }
        case Type::vector:
            vector::to_block(spec, proto);
            proto->set_type(t);
            return proto;
        default:
            if (!family_q(spec->type())) raise_bad_make(type, spec);
            *proto = *clone(spec, false, false);
            proto->set_type(t);
            proto->header &= ~header::new_line;
            return proto;
    }
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    Type t = static_cast<Type>(type);
    switch (spec->type()) {
        case Type::object: case Type::map: case Type::vector:
            return make(proto, spec, type);
        case Type::string: {
            Cell* made = push_new(series::length(spec) / 4 + 1);
            int32_t consumed = 0;
            upcall::calls.scan_string(made, spec, false, &consumed);
            *proto = *made;
            break;
        }
        case Type::typeset: {
            Cell made;
            typeset::to_block(spec, &made);
            *proto = made;
            break;
        }
        default:
            if (family_q(spec->type())) {
                *proto = *clone(spec, false, false);
            } else {
                Cell v = *spec;
                v.header &= ~header::new_line;
                Cell* made = push_new(1);
                append(made, &v);
                *proto = *made;
            }
    }
    proto->set_type(t);
    proto->header &= ~header::new_line;
    return proto;
}

// =============================================================================================
// form, mold

int32_t join_cells(Cell* value, Cell* buffer, bool molding, bool only, bool all, bool flat, Cell* part,
                   int32_t budget, char separator) {
    if (mold::cycle(value, buffer, &budget, molding)) return budget;
    cycle_stack::Scope scope;
    cycle_stack::push(series::node(value));
    Cell b = *value;
    int32_t n = series::length(&b);
    for (int32_t k = 0; k < n && k < series::length(&b); ++k) {
        if (k > 0 && separator == ' ') {
            // No space after a value that ended its text with a tab or a line break.
            SeriesBuffer* sb = series::buffer(buffer);
            uint32_t unit = sb->unit();
            uint32_t last = sb->tail > sb->head ? string::get_char(sb->tail_ptr() - unit, unit) : 0;
            if (last != '\t' && last != '\n' && last != '\r') {
                string::append_char(buffer, ' ');
                --budget;
            }
        } else if (k > 0) {
            string::append_char(buffer, static_cast<uint32_t>(separator));
            --budget;
        }
        Cell c = cell_copy(&b, b.int1() + k);
        budget = molding ? actions::mold_dispatch(&c, buffer, only, all, flat, part, budget, 0)
                         : actions::form_dispatch(&c, buffer, part, budget);
        if (part && budget < 1) break;
    }
    return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return join_cells(value, buffer, false, false, false, false, part, budget, ' ');
}

int32_t mold_each(Cell* block, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                  int32_t indent) {
    Cell b = *block;
    int32_t level = indent;
    bool closing_break = false;
    {
        cycle_stack::Scope scope;
        cycle_stack::push(series::node(&b));
        int32_t n = series::length(&b);
        for (int32_t k = 0; k < n && k < series::length(&b); ++k) {
            if (part && budget < 1) break;
            Cell c = cell_copy(&b, b.int1() + k);
            DepthStep step;
            if (!flat && (c.header & header::new_line)) {
                if (k == 0 && !only) {
                    ++level;
                    closing_break = true;
                }
                if (k > 0 || !only) {
                    string::append_char(buffer, '\n');
                    --budget;
                }
                budget = mold::indent(buffer, level, budget);
            } else if (k > 0) {
                string::append_char(buffer, ' ');
                --budget;
            }
            budget = actions::mold_dispatch(&c, buffer, false, all, flat, part, budget, level);
        }
    }
    if (closing_break) {
        string::append_char(buffer, '\n');
        budget = mold::indent(buffer, --level, budget - 1);
    }
    return budget;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (mold::cycle(value, buffer, &budget, true)) return budget;
    if (!only) {
        string::append_char(buffer, '[');
        --budget;
    }
    budget = mold_each(value, buffer, only, all, flat, part, budget, indent);
    if (!only) {
        string::append_char(buffer, ']');
        --budget;
    }
    return budget;
}

// =============================================================================================
// compare

namespace {

int32_t compare_each(Cell* a, Cell* b, int32_t code) {
    if (series::node(a) == series::node(b) && a->int1() == b->int1()) return 0;
    if (code == op::same) return -1;
    if (cycle_stack::find(series::node(a))) return cycle_stack::find(series::node(b)) ? 0 : -1;
    Cell x = *a, y = *b;
    int32_t n = series::length(&x), m = series::length(&y);
    if (n != m && equality_op(code)) return 1;
    cycle_stack::Scope scope;
    cycle_stack::push(series::node(&x));
    cycle_stack::push(series::node(&y));
    int32_t r = 0;
    for (int32_t k = 0; k < std::min(n, m) && r == 0; ++k) {
        if (k >= series::length(&x) || k >= series::length(&y)) break;  // a compare changed them
        Cell ca = cell_copy(&x, x.int1() + k), cb = cell_copy(&y, y.int1() + k);
        Type ta = ca.type(), tb = cb.type();
        if (ta != tb && !(word_type_q(ta) && word_type_q(tb)) && !(number_q(ta) && number_q(tb))) {
            r = ta < tb ? -1 : 1;
            break;
        }
        r = actions::compare_dispatch(&ca, &cb, code);
    }
    if (r == 0) r = n < m ? -1 : n > m ? 1 : 0;
    return r;
}

}  // namespace

int32_t compare(Cell* a, Cell* b, int32_t code) {
    if (a->type() != b->type()) {
        bool path_pair = (a->is(Type::path) && b->is(Type::lit_path)) || (a->is(Type::lit_path) && b->is(Type::path));
        if (!path_pair || (code != 10 && code != 11)) return -2;
    }
    return compare_each(a, b, code);
}

// =============================================================================================
// append, insert, change

namespace {

Cell* append_or_insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool appending) {
    Cell v = *value;
    bool many = !only && family_q(v.type());
    int32_t n = many ? series::length(&v) : 1;
    if (n == 0) return series;
    if (part >= 0 && part < n) n = part;
    uint64_t total = uint64_t(n) * uint64_t(std::max(dup, 1));
    if (total > 0x7FFFFFFF) error::raise(error::id::internal_no_memory);
    series::length(series);
    int32_t length = series::buffer_length(series);
    int32_t at = appending || series->int1() >= length ? length : series->int1();
    checked_bytes(uint64_t(length) + total);
    auto count = static_cast<int32_t>(total);
    bool told = series::notify_before(series, appending ? words::global::append : words::global::insert, value,
                                      appending ? length : series->int1(), count);
    Source s = source_of(series, &v, only);
    reserve(series, static_cast<uint32_t>(length + count), dup < 5);
    std::memmove(cell_at(series, at + count), cell_at(series, at), size_t(length - at) * 16);
    Ref table = hash_table(series);
    int32_t declined = table ? hashtable::refresh(table, count, at, length - at, true) : 0;
    write_cells(series, at, s, n, dup);
    series::buffer(series)->tail += static_cast<uint32_t>(count) * 16;
    if (declined) hashtable::rebuild(table, length + count);
    else index_cells(series, at, at + count);
    series::notify_after(told, series, appending ? words::global::appended : words::global::inserted, value,
                         appending ? length : at, count);
    series::set_head(series, appending ? 0 : std::min(at + count, series::buffer_length(series)));
    return series;
}

Cell* append_(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return append_or_insert(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return append_or_insert(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    Cell v = *value;
    bool many = !only && family_q(v.type());
    int32_t n = many ? series::length(&v) : 1;
    uint64_t total = uint64_t(n) * uint64_t(std::max(dup, 1));
    if (total > 0x7FFFFFFF) error::raise(error::id::internal_no_memory);
    int32_t left = series::length(series);
    int32_t at = series->int1();
    auto range = static_cast<int32_t>(std::min<int64_t>(part < 0 ? int64_t(total) : part, left));
    int32_t length = series::buffer_length(series);
    auto count = static_cast<int32_t>(total);
    bool told = series::notify_before(series, words::global::change, value, at, range);
    uint64_t new_length = uint64_t(length) - range + total;
    checked_bytes(new_length);
    Source s = source_of(series, &v, only);
    reserve(series, static_cast<uint32_t>(new_length), false);
    std::memmove(cell_at(series, at + count), cell_at(series, at + range), size_t(length - at - range) * 16);
    if (count) write_cells(series, at, s, n, dup);
    series::buffer(series)->tail = memory::ref(cell_at(series, static_cast<int32_t>(new_length)));
    if (Ref table = hash_table(series)) hashtable::rebuild(table, static_cast<int32_t>(new_length));
    series::notify_after(told, series, words::global::changed, value, at, count);
    series::set_head(series, std::min<int64_t>(at + count, new_length));
    return series;
}

}  // namespace

namespace {

// append_in_place for the cells of a block-family value, kept out of line so that the one
// cell's way needs no saved registers.
[[gnu::noinline]] bool splice_in_place(Cell* block, SeriesBuffer* b, const Cell* value) {
    Cell v = *value;
    int32_t n = series::length(&v);
    if (n == 0) return true;  // nothing spliced: the series stays at its position
    uint32_t bytes = static_cast<uint32_t>(n) * sizeof(Cell);
    if (b->tail_ptr() + bytes > b->data_end()) return false;
    std::memcpy(b->cells_end(), head(&v), bytes);
    b->tail += bytes;
    series::set_head(block, 0);
    return true;
}

}  // namespace

bool append_in_place(Cell* block, const Cell* value, bool only) {
    SeriesBuffer* b = series::buffer(block);
    // An owned buffer has an owner to tell: that takes the whole append. A full buffer grows,
    // and may move the cells to splice if they are its own: so does that.
    if (b->flags & memory::flag::owned) [[unlikely]]
        return false;
    if (!only && family_q(value->type())) return splice_in_place(block, b, value);
    if (b->tail_ptr() + sizeof(Cell) > b->data_end()) return false;
    *b->cells_end() = *value;
    b->tail += sizeof(Cell);
    series::set_head(block, 0);
    return true;
}

// =============================================================================================
// find, select, put

namespace {

// What find looks for, and how it compares.
struct Needle {
    Cell value;
    int32_t code;
    enum Kind { single, type, types, sequence } kind;
    int32_t size;  // cells a match covers
};

Needle needle_of(const Cell* value, bool only, bool case_, bool same) {
    Needle nd{*value, same ? op::same : case_ ? op::strict_equal : op::find, Needle::single, 1};
    if (only) return nd;
    if (value->is(Type::datatype)) nd.kind = Needle::type;
    else if (value->is(Type::typeset)) nd.kind = Needle::types;
    else if (family_q(value->type())) {
        nd.kind = Needle::sequence;
        nd.size = series::length(&nd.value);
    }
    return nd;
}

// True when the needle matches the block at an absolute position (end: one past the last
// cell a match may use).
bool matches_at(const Cell* b, int32_t p, const Needle& nd, int32_t end) {
    if (p < 0 || p + nd.size > end) return false;
    Cell c = cell_copy(b, p);
    switch (nd.kind) {
        case Needle::type: return c.type() == static_cast<Type>(datatype::id_of(&nd.value));
        case Needle::types: return typeset::has(&nd.value, static_cast<uint32_t>(c.type()));
        case Needle::single: {
            Cell v = nd.value;
            return actions::compare(&c, &v, nd.code);
        }
        case Needle::sequence:
            for (int32_t j = 0; j < nd.size; ++j) {
                if (p + j >= series::buffer_length(b) || j >= series::buffer_length(&nd.value) - nd.value.int1())
                    return false;
                Cell x = cell_copy(b, p + j), y = cell_copy(&nd.value, nd.value.int1() + j);
                if (!actions::compare(&x, &y, nd.code)) return false;
            }
            return true;
    }
    return false;
}

// The search of find and select: the absolute position of the match, or -1.
int32_t search(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, Cell* skip, bool last,
               bool reverse, bool match, Needle* out) {
    int32_t total = series::buffer_length(series);
    if (total == 0 || (series->int1() >= total && !reverse)) return -1;
    if (series::head(series) > total) series::set_head(series, total);
    int32_t head_at = series->int1();
    int32_t step = 1;
    if (skip) {
        if (!skip->is(Type::integer)) error::raise_refine_arg(words::refine::skip, skip);
        step = skip->int2();
        if (step < 1) error::raise(error::id::script_out_of_range, skip);
    }
    int32_t limit = total - 1;  // the last cell examined
    if (part) {
        int32_t count = series::part_count(series, part);
        if (count < 1) return -1;
        limit = static_cast<int32_t>(std::min<int64_t>(int64_t(head_at) + count - 1, limit));
    }
    Needle nd = needle_of(value, only, case_, same);
    *out = nd;
    if (nd.kind == Needle::sequence && nd.size == 0) return -1;

    Ref table = hash_table(series);
    bool by_index = table && !part && !match && !(nd.kind == Needle::type || nd.kind == Needle::types) &&
                    !(nd.value.is(Type::object) && !same);
    if (by_index && nd.kind == Needle::single) {
        Cell* found = hashtable::find(table, &nd.value, head_at, step, nd.code, last, reverse);
        return found ? static_cast<int32_t>(found - cell_at(series, 0)) : -1;
    }
    if (by_index && !last && !reverse) {
        // Candidates for the first cell of the sequence, each checked in full.
        Cell first = cell_copy(&nd.value, nd.value.int1());
        for (int32_t start = head_at;;) {
            Cell* found = hashtable::find(table, &first, start, step, nd.code, false, false);
            if (!found) return -1;
            auto p = static_cast<int32_t>(found - cell_at(series, 0));
            if (matches_at(series, p, nd, total)) return p;
            if (int64_t(p) + step > total) return -1;
            start = p + step;
        }
    }

    int32_t end = limit + 1;
    int32_t first, stop, dir;
    if (reverse) {
        end = total;
        first = head_at - nd.size;
        stop = 0;
        dir = -step;
    } else if (last) {
        first = end - nd.size;
        first = first < head_at ? first : head_at + (first - head_at) / step * step;
        stop = head_at;
        dir = -step;
    } else {
        first = head_at;
        stop = end - nd.size;
        dir = step;
    }
    if (first < 0) return -1;
    // 64 bits: a /skip near the largest integer steps past the stop, not round.
    for (int64_t p = first; dir > 0 ? p <= stop : p >= stop; p += dir) {
        if (matches_at(series, static_cast<int32_t>(p), nd, end)) return static_cast<int32_t>(p);
        if (match) break;
    }
    return -1;
}

}  // namespace

Cell* find(Cell* series, Cell* value, const slotfn::FindOptions& o) {
    Needle nd{};
    int32_t p = search(series, value, o.part, o.only, o.case_, o.same, o.skip, o.last, o.reverse, o.match, &nd);
    if (p < 0) return none_result();
    if (o.tail) {
        int32_t step = o.skip && o.skip->is(Type::integer) ? o.skip->int2() : 1;
        if (nd.kind == Needle::sequence) p += nd.size;
        else p += o.last || o.reverse ? 1 : step;
        p = std::min(p, series::buffer_length(series));
    }
    series::set_head(series, p);
    return series;
}

namespace {

Cell* select(Cell* series, Cell* value, const slotfn::SelectOptions& o) {
    Needle nd{};
    int32_t p = search(series, value, o.part, o.only, o.case_, o.same, o.skip, o.last, o.reverse, false, &nd);
    if (p < 0) return none_result();
    p += nd.kind == Needle::sequence ? nd.size : 1;
    if (p >= series::buffer_length(series)) return none_result();
    *series = cell_copy(series, p);
    return series;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    Cell k = *key, v = *value;
    Cell at = *series;
    Needle nd{};
    int32_t p = search(&at, &k, nullptr, true, case_, false, nullptr, false, false, false, &nd);
    int32_t length = series::buffer_length(series);
    bool told = series::notify_before(series, words::global::put, value, p < 0 ? length : p, p < 0 ? 2 : 1);
    Ref table = hash_table(series);
    if (p < 0) {
        append(series, &k);
        int32_t status = 0;
        if (table) hashtable::insert(table, cell_at(series, length), &status);
        append(series, &v);
        if (table && status != hashtable::rebuilt) hashtable::put(table, cell_at(series, length + 1));
    } else if (p + 1 < length) {
        Cell old = cell_copy(series, p + 1);
        if (!actions::compare(&old, &v, op::find)) {
            if (table) hashtable::delete_(table, cell_at(series, p + 1));
            *cell_at(series, p + 1) = v;
            if (table) hashtable::put(table, cell_at(series, p + 1));
        }
    } else {
        append(series, &v);
        if (table) hashtable::put(table, cell_at(series, length));
    }
    series::notify_after(told, series, words::global::put_ed, value, p < 0 ? length : p, p < 0 ? 2 : 1);
    return value;
}

// =============================================================================================
// take, swap, trim, copy

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* r = series::take(series, part, deep, last);
    if (r->is(Type::none)) return r;
    if (deep) copy_nested(r, 0, series::buffer_length(r));
    if (!part) *r = cell_copy(r, 0);
    return r;
}

Cell* swap(Cell* a, Cell* b) {
    if (!family_q(b->type())) error::raise(error::id::script_invalid_arg, b);
    if (series::length(a) < 1 || series::length(b) < 1) return a;
    bool told_a = series::notify_before(a, words::global::swap, b, a->int1(), 1);
    bool told_b = series::notify_before(b, words::global::swap, a, b->int1(), 1);
    Ref ta = hash_table(a), tb = hash_table(b);
    if (ta) hashtable::delete_(ta, head(a));
    if (tb) hashtable::delete_(tb, head(b));
    std::swap(*head(a), *head(b));
    if (ta) hashtable::put(ta, head(a));
    if (tb) hashtable::put(tb, head(b));
    series::notify_after(told_a, a, words::global::swaped, b, a->int1(), 1);
    series::notify_after(told_b, b, words::global::swaped, a, b->int1(), 1);
    return a;
}

Cell* trim(Cell* series, const slotfn::TrimOptions&) {
    int32_t n = series::length(series);
    int32_t from = series->int1();
    bool told = series::notify_before(series, words::global::trim, nullptr, from, n);
    Cell* cells = cell_at(series, 0);
    int32_t kept = from;
    for (int32_t k = from; k < from + n; ++k)
        if (!cells[k].is(Type::none)) cells[kept++] = cells[k];
    series::buffer(series)->tail = memory::ref(cells + kept);
    if (Ref table = hash_table(series)) hashtable::rebuild(table, kept);
    series::notify_after(told, series, words::global::trimmed, nullptr, from, n);
    return series;
}

}  // namespace

Cell* copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types) {
    Ref source = series::node(series);
    series::copy(series, result, part);
    if (!deep && !types) return result;
    if (result->is(Type::hash)) result->set_type(Type::block);
    cycle_stack::Scope scope;
    if (deep) {
        if (cycle_stack::find(source)) {
            cycle_stack::reset();
            error::raise(error::id::internal_no_cycle);
        }
        cycle_stack::push(source);
    }
    int32_t n = series::buffer_length(result);
    if (types) copy_deep_types(result, 0, n, 1, deep, types);
    else copy_nested(result, 0, n);
    return result;
}

// =============================================================================================
// sort

namespace {

constexpr int32_t sort_reverse = 1, sort_all = 2;

// One sort: the records are sorted as a list of their indexes and the cells are put in that
// order at the end, so a comparison that evaluates code (and lets the collector move or
// reclaim buffers) never meets records that are half moved or held outside the series.
struct SortRun {
    Cell series;      // the block, head at the first record
    int32_t size;     // cells per record
    int32_t offset;   // the compared cell in a record
    int32_t flags;
    int32_t code;
    Cell function;    // none, or the /compare function
    Cell* work_a;     // the two blocks a /compare function gets whole records in
    Cell* work_b;
};

SortRun* running = nullptr;

// Calls a function! with two values through the interpreter; gives its result.
Cell call_compare_function(const Cell* fn, const Cell* first, const Cell* second) {
    Cell args[2] = {*first, *second}, result;
    upcall::calls.apply(fn, words::global::compare_callback_tag, args, 2, &result, nullptr, upcall::callback::sort);
    return result;
}

int32_t answer_of(const Cell& r) {
    switch (r.type()) {
        case Type::logic: return logic::get(&r) ? 1 : -1;
        case Type::integer: return r.int2();
        case Type::float_: {
            double d = r.float23();
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case Type::none: return -1;
        default: return 1;
    }
}

// Fills a work block with the cells of a record.
void fill_record(Cell* work, const SortRun& run, int32_t record) {
    series::buffer(work)->tail = series::buffer(work)->head;
    for (int32_t k = 0; k < run.size; ++k) {
        Cell c = cell_copy(&run.series, run.series.int1() + record * run.size + k);
        append(work, &c);
    }
}

int32_t compare_records(const uint8_t* pa, const uint8_t* pb, int32_t, int32_t) {
    const SortRun& run = *running;
    int32_t a, b;
    std::memcpy(&a, pa, 4);
    std::memcpy(&b, pb, 4);
    int32_t base = run.series.int1();
    // A /compare function may have shortened the block: records past its tail are equal.
    if (base + (std::max(a, b) + 1) * run.size > series::buffer_length(&run.series)) return 0;
    if (run.function.is(Type::function)) {
        Cell r;
        if (run.flags & sort_all) {
            fill_record(run.work_a, run, a);
            fill_record(run.work_b, run, b);
            r = (run.flags & sort_reverse) ? call_compare_function(&run.function, run.work_a, run.work_b)
                                            : call_compare_function(&run.function, run.work_b, run.work_a);
        } else {
            Cell x = cell_copy(&run.series, base + a * run.size + run.offset);
            Cell y = cell_copy(&run.series, base + b * run.size + run.offset);
            r = (run.flags & sort_reverse) ? call_compare_function(&run.function, &x, &y)
                                            : call_compare_function(&run.function, &y, &x);
        }
        return answer_of(r);
    }
    if (run.flags & sort_reverse) std::swap(a, b);
    int32_t from = run.flags & sort_all ? 0 : run.offset;
    int32_t to = run.flags & sort_all ? run.size : run.offset + 1;
    for (int32_t k = from; k < to; ++k) {
        Cell x = cell_copy(&run.series, base + a * run.size + k);
        Cell y = cell_copy(&run.series, base + b * run.size + k);
        int32_t r = actions::compare_dispatch(&x, &y, run.code);
        if (r == -2) r = static_cast<int32_t>(x.type()) - static_cast<int32_t>(y.type());
        if (r != 0) return r;
    }
    return 0;
}

// A run of plain integers (no flags, nothing in the other words) sorts as machine integers:
// equal ones cannot be told apart, so the order among them needs no care. False, with the
// block untouched, when any cell is something else.
bool sort_plain_integers(const Cell* series, int32_t from, int32_t count, bool reverse) {
    Cell* cells = cell_at(series, from);
    const uint32_t plain = static_cast<uint32_t>(Type::integer);
    for (int32_t k = 0; k < count; ++k)
        if (cells[k].header != plain || cells[k].data1 != 0 || cells[k].data3 != 0) return false;
    std::vector<int32_t> values(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) values[k] = integer::get(&cells[k]);
    if (reverse) std::sort(values.begin(), values.end(), std::greater<int32_t>());
    else std::sort(values.begin(), values.end());
    for (int32_t k = 0; k < count; ++k) integer::set(&cells[k], values[k]);
    return true;
}

// Puts the records of the block in the order the sorted indexes give.
void apply_order(const SortRun& run, const std::vector<int32_t>& order) {
    auto records = static_cast<int32_t>(order.size());
    int32_t base = run.series.int1();
    if (base + records * run.size > series::buffer_length(&run.series)) return;
    // Nothing below allocates in the arena: the cells held here meet no collection.
    std::vector<Cell> saved(cell_at(&run.series, base), cell_at(&run.series, base) + size_t(records) * run.size);
    for (int32_t k = 0; k < records; ++k)
        std::memcpy(cell_at(&run.series, base + k * run.size), &saved[size_t(order[size_t(k)]) * run.size],
                    size_t(run.size) * 16);
}

Cell* sort(Cell* series, const slotfn::SortOptions& o) {
    Cell *skip = o.skip, *compare_by = o.compare, *part = o.part;
    if (series::buffer_length(series) == 0) return series;
    int32_t count = series::length(series);
    int32_t head_at = series->int1();
    if (part) {
        series::PartRange r = series::part_range(head_at, series::part_count(series, part), series::buffer_length(series));
        if (r.passed_first) {
            series::set_head(series, 0);
            return series;
        }
        head_at = r.start;
        count = r.count;
    }
    int32_t size = 1;
    if (skip) {
        size = skip->int2();
        if (size < 1 || count < size || count % size != 0) error::raise_refine_arg(words::refine::skip, skip);
    }
    if (o.all && !skip) error::raise(error::id::script_bad_refines);
    int32_t offset = 0;
    Cell function = none::shared;
    if (compare_by) {
        if (compare_by->is(Type::function)) {
            function = *compare_by;
        } else if (compare_by->is(Type::integer)) {
            if (!skip || o.all) error::raise(error::id::script_bad_refines);
            if (compare_by->int2() < 1 || compare_by->int2() > size) error::raise(error::id::script_out_of_range, compare_by);
            offset = compare_by->int2() - 1;
        } else {
            error::raise_refine_arg(words::refine::compare, compare_by);
        }
    }
    series::set_head(series, head_at);
    bool told = series::notify_before(series, words::global::sort, nullptr, head_at, count);
    SortRun run{*series, size, offset, (o.reverse ? sort_reverse : 0) | (o.all ? sort_all : 0),
                o.case_ ? op::sort_case : op::sort, function, nullptr, nullptr};
    if (o.all && function.is(Type::function)) {
        run.work_a = push_new(size);
        run.work_b = push_new(size);
    }
    if (size == 1 && !function.is(Type::function) && sort_plain_integers(series, head_at, count, o.reverse)) {
        if (Ref table = hash_table(series)) hashtable::rebuild(table, series::buffer_length(series));
        series::notify_after(told, series, words::global::sorted, nullptr, head_at, count);
        return series;
    }
    std::vector<int32_t> order(size_t(count / size));
    for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int32_t>(k);
    SortRun* outer = running;
    running = &run;
    try {
        auto bytes = reinterpret_cast<uint8_t*>(order.data());
        auto n = static_cast<int32_t>(order.size());
        if (o.stable) sorting::merge_sort(bytes, n, 4, 0, 0, compare_records);
        else sorting::quick_sort(bytes, n, 4, 0, 0, compare_records);
    } catch (...) {
        running = outer;
        throw;
    }
    running = outer;
    apply_order(run, order);
    if (Ref table = hash_table(series)) hashtable::rebuild(table, series::buffer_length(series));
    if (run.work_a) stack::pop(2);
    series::notify_after(told, series, words::global::sorted, nullptr, head_at, count);
    return series;
}

}  // namespace

// =============================================================================================
// eval-path, set operations

Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell*, Cell*, int32_t, bool, bool) {
    if (element->is(Type::integer)) {
        if (set_value) return series::poke(value, element->int2(), set_value, element);
        Cell* result = stack::push(value);  // the value may be a word's own cell: answer in a copy
        return series::pick(result, element->int2(), element);
    }
    if (!set_value) {
        Cell* result = stack::push(value);
        if (element->is(Type::word) && !value->is(Type::hash)) {
            *result = *find_word(result, element, case_);
            return result;
        }
        slotfn::SelectOptions key;
        key.only = true;
        key.case_ = case_;
        return select(result, element, key);
    }
    Cell at = *value;
    slotfn::FindOptions key;
    key.only = true;
    key.case_ = case_;
    if (find(&at, element, key)->is(Type::none))
        error::raise(error::id::script_bad_path_set, element, &none::shared);
    Cell two;
    cell::make(&two, Type::integer, 0, 2);
    series::poke(&at, 2, set_value, &two);
    return set_value;
}

namespace {

// One argument of a set operation, with the index its membership is tested through.
struct SetSide {
    Cell* cell;  // a hash! cell on the argument stack
    Ref table;
};

SetSide indexed(const Cell* value) {
    Cell v = *value;
    if (v.is(Type::hash) && hash_table_of(&v)) return {stack::push(&v), hash_table_of(&v)};
    v.set_type(Type::hash);
    set_hash_table(&v, 0);
    Cell* held = stack::push(&v);
    set_hash_table(held, hashtable::make(std::max(series::length(held), 1), held, hashtable::kind_hash, 0));
    return {held, hash_table_of(held)};
}

bool member_q(const SetSide& side, const Cell* key, int32_t step, int32_t code) {
    Cell k = *key;
    if (family_q(k.type())) {
        Cell at = *side.cell;
        at.set_type(Type::block);
        Cell s;
        cell::make(&s, Type::integer, 0, static_cast<uint32_t>(step));
        slotfn::FindOptions o;
        o.only = true;
        o.case_ = code == op::strict_equal;
        o.skip = &s;
        return !find(&at, &k, o)->is(Type::none);
    }
    return hashtable::find(side.table, &k, side.cell->int1(), step, code, false, false) != nullptr;
}

enum class Keep { always, member, non_member };

// Appends to the result each record of the source kept by the rule, unless its key is there.
void add_records(const SetSide& result, const Cell* source, const SetSide* other, Keep keep, int32_t step,
                 int32_t code) {
    Cell src = *source;
    int32_t n = series::length(&src);
    for (int32_t k = 0; k < n; k += step) {
        Cell key = cell_copy(&src, src.int1() + k);
        if (keep != Keep::always && member_q(*other, &key, step, code) != (keep == Keep::member)) continue;
        if (member_q(result, &key, step, code)) continue;
        int32_t from = series::buffer_length(result.cell);
        for (int32_t j = k; j < std::min(k + step, n); ++j) {
            Cell c = cell_copy(&src, src.int1() + j);
            append(result.cell, &c);
        }
        index_cells(result.cell, from, series::buffer_length(result.cell));
    }
}

}  // namespace

void set_op(bool case_, Cell* skip, int32_t code) {
    Cell* a = stack::arguments_base;
    Cell* b = code == 8 ? nullptr : a + 1;
    int32_t step = 1;
    if (skip) {
        step = skip->int2();
        if (step < 1) error::raise_refine_arg(words::refine::skip, skip);
    }
    int32_t compare_code = case_ ? op::strict_equal : op::find;
    bool hashed = a->is(Type::hash) || (b && b->is(Type::hash));
    int32_t room = std::max(series::length(a) + (code == 9 ? series::length(b) : 0), 1);
    Cell* made = push_new(room);
    made->set_type(Type::hash);  // so that the collector keeps its index
    set_hash_table(made, hashtable::make(room, made, hashtable::kind_hash, 0));
    SetSide result{made, hash_table_of(made)};
    switch (code) {
        case 8: add_records(result, a, nullptr, Keep::always, step, compare_code); break;
        case 9:
            add_records(result, a, nullptr, Keep::always, step, compare_code);
            add_records(result, b, nullptr, Keep::always, step, compare_code);
            break;
        case 10: {
            SetSide other = indexed(b);
            add_records(result, a, &other, Keep::member, step, compare_code);
            break;
        }
        case 11: {
            SetSide other = indexed(b);
            add_records(result, a, &other, Keep::non_member, step, compare_code);
            break;
        }
        case 12: {
            SetSide ib = indexed(b);
            SetSide ia = indexed(a);
            add_records(result, a, &ib, Keep::non_member, step, compare_code);
            add_records(result, b, &ia, Keep::non_member, step, compare_code);
            break;
        }
        default: error::raise(error::id::internal_not_done);
    }
    Cell r = *made;
    if (!hashed) {
        r.set_type(Type::block);
        set_hash_table(&r, 0);
    }
    *a = r;
}

// =============================================================================================

void init() {
    using datatype::fn;
    datatype::register_type(Type::block, {
        .others = datatype::inherit,
        .make = make,
        .to = to,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .append = append_,
        .change = change,
        .copy = copy,
        .find = find,
        .insert = insert,
        .put = put,
        .select = select,
        .sort = sort,
        .swap = swap,
        .take = take,
        .trim = trim,
    });
}

}  // namespace zuv::block
