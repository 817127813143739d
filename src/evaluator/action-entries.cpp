// The stack-level entries of the 62 actions: each reads its arguments and refinement
// slots from the current frame, turns them into the plain arguments of the datatype's
// implementation (chosen by the first argument's datatype) and leaves the result in the
// frame's result slot.
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/fatal.h"

namespace zuv::actions {

Entry table[count];

namespace {

using namespace datatype::slot;

inline Cell* arg(int n) { return stack::arguments_base + n; }
// A refinement's argument cell, null when the refinement is not used.
inline Cell* ref_arg(const int32_t* refs, int i) { return refs[i] >= 0 ? arg(refs[i]) : nullptr; }
inline bool flag(const int32_t* refs, int i) { return refs[i] >= 0; }

template <class F>
inline F impl(int slot) {
    return reinterpret_cast<F>(get_action_ptr_of(arg(0), slot));
}

inline void result(Cell* r) {
    Cell v = *r;
    stack::keep_last(&v);
}

inline Cell part_word() {
    Cell w;
    cell::make(&w, Type::word, context::global, static_cast<uint32_t>(symbol::make("part")), static_cast<uint32_t>(-1));
    return w;
}

bool series_like(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::hash: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::string: case Type::file: case Type::url:
        case Type::tag: case Type::email: case Type::ref: case Type::binary: case Type::vector:
        case Type::image: case Type::map:
            return true;
        default:
            return false;
    }
}

// The /part count of append, insert and change, measured on `measured`; -2 means that
// nothing is to be done.
int32_t normalize_part(Cell* measured, Cell* part, bool check_series) {
    if (!part) return -1;
    // An image's head never passes its pixel count, and one with no pixels has no buffer.
    bool image = measured->is(Type::image);
    if (check_series && (!series_like(measured->type()) || (image && !series::node(measured))))
        error::raise(error::id::script_invalid_part, part);
    if (series_like(measured->type()) && !image) series::length(measured);
    int32_t count;
    if (part->is(Type::integer)) {
        count = part->int2();
    } else {
        if (part->type() != measured->type() || series::node(part) != series::node(measured) || part->is(Type::port)) {
            Cell w = part_word();
            error::raise(error::id::script_invalid_refine_arg, &w, part);
        }
        count = part->int1() - measured->int1();
    }
    if (count == 0) return -2;
    if (count < 0) {
        // A port has no head to move back: its first data word is its context.
        if (!series_like(measured->type()) || measured->int1() == 0) return -2;
        int32_t head = measured->int1() + count;
        if (head < 0) head = 0;
        count = measured->int1() - head;
        series::set_head(measured, head);
    }
    return count;
}

void make_or_to(int slot) {
    Cell* proto = arg(0);
    int32_t type = proto->is(Type::datatype) ? static_cast<int32_t>(datatype::id_of(proto)) : static_cast<int32_t>(proto->type());
    void* f = datatype::action_of(static_cast<Type>(type), slot);
    if (!f) error::raise_expect_arg(static_cast<Type>(type), 0);
    result(reinterpret_cast<slotfn::Make>(f)(proto, arg(1), type));
}

void form_or_mold(const int32_t* refs, bool mold) {
    Cell* part = ref_arg(refs, mold ? refine::mold::part : refine::form::part);
    int32_t limit = part ? (part->is(Type::integer) ? part->int2() : 0) : no_limit;
    Cell* s = string::push_new(16);
    if (!part || limit >= 1) {
        if (mold) mold_dispatch(arg(0), s, flag(refs, refine::mold::only), flag(refs, refine::mold::all),
                                flag(refs, refine::mold::flat), part, limit, 0);
        else form_dispatch(arg(0), s, part, limit);
        if (part) string::truncate(series::buffer(s), limit);
    }
    result(s);
}

void binary(int slot) { result(impl<slotfn::Binary>(slot)(arg(0), arg(1))); }
void unary(int slot) { result(impl<slotfn::Unary>(slot)(arg(0))); }
void series_op(int slot) { result(impl<slotfn::Series>(slot)(arg(0))); }

int32_t pick_index(const Cell* index) {
    switch (index->type()) {
        case Type::logic: return logic::get(index) ? 1 : 2;
        case Type::char_: case Type::integer: return index->int2();
        default: return 0;
    }
}

// append and insert have the same refinements.
static_assert(refine::append::part == refine::insert::part && refine::append::only == refine::insert::only &&
              refine::append::dup == refine::insert::dup);
void append_or_insert(const int32_t* refs, int slot) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    // The datatype is checked before its series is measured: a type without the action may
    // have no buffer to measure (an image with no pixels).
    auto f = impl<slotfn::Append>(slot);
    if (slot == insert && !series->is(Type::port) && series_like(series->type())) series::length(series);
    int32_t part = normalize_part(value, ref_arg(refs, refine::append::part), true);
    if (part == -2) {
        result(series);
        return;
    }
    int32_t dup = 1;
    if (Cell* d = ref_arg(refs, refine::append::dup)) {
        dup = d->int2();
        if (dup < 1) {
            result(series);
            return;
        }
    }
    result(f(series, value, part, flag(refs, refine::append::only), dup));
}

// Entries ---------------------------------------------------------------------------------

void e_make(const int32_t*) { make_or_to(make); }
void e_random(const int32_t* r) {
    result(impl<slotfn::Random>(random)(arg(0), flag(r, refine::random::seed), flag(r, refine::random::secure),
                                        flag(r, refine::random::only)));
}
void e_reflect(const int32_t*) { result(impl<slotfn::Reflect>(reflect)(arg(0), arg(1)->int2())); }
void e_to(const int32_t*) { make_or_to(to); }
void e_form(const int32_t* r) { form_or_mold(r, false); }
void e_mold(const int32_t* r) { form_or_mold(r, true); }
void e_eval_path(const int32_t*) {
    result(impl<slotfn::EvalPath>(eval_path)(arg(0), arg(1), nullptr, false, nullptr, nullptr, -1, true, false));
}
void e_absolute(const int32_t*) { unary(absolute); }
void e_add(const int32_t*) { binary(add); }
void e_divide(const int32_t*) { binary(divide); }
void e_multiply(const int32_t*) { binary(multiply); }
void e_negate(const int32_t*) { unary(negate); }
void e_power(const int32_t*) { binary(power); }
void e_remainder(const int32_t*) { binary(remainder); }
void e_round(const int32_t* r) {
    namespace rf = refine::round;
    slotfn::RoundOptions o;
    o.scale = ref_arg(r, rf::to);
    o.even = flag(r, rf::even);
    o.down = flag(r, rf::down);
    o.half_down = flag(r, rf::half_down);
    o.floor = flag(r, rf::floor);
    o.ceiling = flag(r, rf::ceiling);
    o.half_ceiling = flag(r, rf::half_ceiling);
    result(impl<slotfn::Round>(round)(arg(0), o));
}
void e_subtract(const int32_t*) { binary(subtract); }
void e_even_q(const int32_t*) { logic::box(impl<slotfn::Predicate>(even_q)(arg(0))); stack::keep(); }
void e_odd_q(const int32_t*) { logic::box(impl<slotfn::Predicate>(odd_q)(arg(0))); stack::keep(); }
void e_and(const int32_t*) { binary(and_t); }
void e_complement(const int32_t*) { unary(complement); }
void e_or(const int32_t*) { binary(or_t); }
void e_xor(const int32_t*) { binary(xor_t); }
void e_append(const int32_t* r) {
    // One value at the tail, with room for it, is most appends: they skip the dispatch, the
    // /part and /dup handling and the owner check.
    if (!flag(r, refine::append::part) && !flag(r, refine::append::dup)) {
        Cell* series = arg(0);
        bool done = series->is(Type::block)    ? block::append_in_place(series, arg(1), flag(r, refine::append::only))
                    : series->is(Type::string) ? string::append_in_place(series, arg(1))
                                               : false;
        if (done) {
            result(series);
            return;
        }
    }
    append_or_insert(r, append);
}
void e_at(const int32_t*) { result(impl<slotfn::Offset>(at)(arg(0), arg(1))); }
void e_back(const int32_t*) { series_op(back); }
void e_change(const int32_t* r) {
    Cell* series = arg(0);
    int32_t part = normalize_part(series, ref_arg(r, refine::change::part), false);
    if (part == -2) {
        result(series);
        return;
    }
    int32_t dup = 1;
    if (Cell* d = ref_arg(r, refine::change::dup)) {
        dup = d->int2();
        if (dup < 1) {
            result(series);
            return;
        }
    }
    result(impl<slotfn::Change>(change)(series, arg(1), part, flag(r, refine::change::only), dup));
}
void e_clear(const int32_t*) { series_op(clear); }
void e_copy(const int32_t* r) {
    Cell* types = ref_arg(r, refine::copy::types);
    // the argument of /types: value /part length /deep /types kind
    if (types && !types->is(Type::datatype) && !types->is(Type::typeset)) error::raise_expect_arg(types->type(), 5);
    result(
        impl<slotfn::Copy>(copy)(arg(0), arg(0), ref_arg(r, refine::copy::part), flag(r, refine::copy::deep), types));
}
// find takes select's refinements, in the same places, and two more after them.
static_assert(refine::find::part == refine::select::part && refine::find::only == refine::select::only &&
              refine::find::case_ == refine::select::case_ && refine::find::same == refine::select::same &&
              refine::find::any == refine::select::any && refine::find::with == refine::select::with &&
              refine::find::skip == refine::select::skip && refine::find::last == refine::select::last &&
              refine::find::reverse == refine::select::reverse);

void fill_select_options(slotfn::SelectOptions& o, const int32_t* r) {
    namespace rf = refine::select;
    o.part = ref_arg(r, rf::part);
    o.only = flag(r, rf::only);
    o.case_ = flag(r, rf::case_);
    o.same = flag(r, rf::same);
    o.any = flag(r, rf::any);
    o.with = ref_arg(r, rf::with);
    o.skip = ref_arg(r, rf::skip);
    o.last = flag(r, rf::last);
    o.reverse = flag(r, rf::reverse);
}

void e_find(const int32_t* r) {
    slotfn::FindOptions o;
    fill_select_options(o, r);
    o.tail = flag(r, refine::find::tail);
    o.match = flag(r, refine::find::match);
    result(impl<slotfn::Find>(find)(arg(0), arg(1), o));
}
void e_head(const int32_t*) { series_op(head); }
void e_head_q(const int32_t*) { series_op(head_q); }
void e_index_q(const int32_t*) { series_op(index_q); }
void e_insert(const int32_t* r) { append_or_insert(r, insert); }
void e_length_q(const int32_t*) {
    int32_t n = impl<slotfn::Length>(length_q)(arg(0));
    Cell v;
    if (n < 0) v = none::shared;
    else cell::make(&v, Type::integer, 0, static_cast<uint32_t>(n));
    stack::keep_last(&v);
}
void e_move(const int32_t* r) { result(impl<slotfn::Move>(move)(arg(0), arg(1), ref_arg(r, refine::move::part))); }
void e_next(const int32_t*) { series_op(next); }
void e_pick(const int32_t*) { result(impl<slotfn::Pick>(pick)(arg(0), pick_index(arg(1)), arg(1))); }
void e_poke(const int32_t*) { result(impl<slotfn::Poke>(poke)(arg(0), pick_index(arg(1)), arg(2), arg(1))); }
void e_put(const int32_t* r) {
    if (arg(0)->is(Type::map)) {  // the common store goes straight to the map
        result(map::put(arg(0), arg(1), arg(2), flag(r, refine::put::case_), nullptr));
        return;
    }
    result(impl<slotfn::Put>(put)(arg(0), arg(1), arg(2), flag(r, refine::put::case_)));
}
void e_remove(const int32_t* r) {
    result(impl<slotfn::Remove>(remove)(arg(0), ref_arg(r, refine::remove::part), ref_arg(r, refine::remove::key)));
}
void e_reverse(const int32_t* r) {
    result(
        impl<slotfn::Reverse>(reverse)(arg(0), ref_arg(r, refine::reverse::part), ref_arg(r, refine::reverse::skip)));
}
void e_select(const int32_t* r) {
    if (arg(0)->is(Type::map)) {  // a map reads only /case and /same
        result(map::select(arg(0), arg(1), flag(r, refine::select::case_), flag(r, refine::select::same)));
        return;
    }
    slotfn::SelectOptions o;
    fill_select_options(o, r);
    result(impl<slotfn::Select>(select)(arg(0), arg(1), o));
}
void e_sort(const int32_t* r) {
    namespace rf = refine::sort;
    slotfn::SortOptions o;
    o.case_ = flag(r, rf::case_);
    o.skip = ref_arg(r, rf::skip);
    o.compare = ref_arg(r, rf::compare);
    o.part = ref_arg(r, rf::part);
    o.all = flag(r, rf::all);
    o.reverse = flag(r, rf::reverse);
    o.stable = flag(r, rf::stable);
    result(impl<slotfn::Sort>(sort)(arg(0), o));
}
void e_skip(const int32_t*) { result(impl<slotfn::Offset>(skip)(arg(0), arg(1))); }
void e_swap(const int32_t*) { result(impl<slotfn::Swap>(swap)(arg(0), arg(1))); }
void e_tail(const int32_t*) { series_op(tail); }
void e_tail_q(const int32_t*) { series_op(tail_q); }
void e_take(const int32_t* r) {
    result(impl<slotfn::Take>(take)(arg(0), ref_arg(r, refine::take::part), flag(r, refine::take::deep),
                                    flag(r, refine::take::last)));
}
void e_trim(const int32_t* r) {
    namespace rf = refine::trim;
    slotfn::TrimOptions o;
    o.head = flag(r, rf::head);
    o.tail = flag(r, rf::tail);
    o.auto_ = flag(r, rf::auto_);
    o.lines = flag(r, rf::lines);
    o.all = flag(r, rf::all);
    o.with = ref_arg(r, rf::with);
    result(impl<slotfn::Trim>(trim)(arg(0), o));
}
void e_create(const int32_t*) { result(impl<slotfn::Port>(create)(arg(0))); }
void e_close(const int32_t*) { result(impl<slotfn::Port>(close)(arg(0))); }
void e_delete(const int32_t*) { result(impl<slotfn::Port>(delete_)(arg(0))); }
void e_modify(const int32_t* r) {
    result(impl<slotfn::Modify>(modify)(arg(0), arg(1)->int2(), arg(2), flag(r, refine::modify::case_)));
}
void e_open(const int32_t* r) {
    namespace rf = refine::open;
    slotfn::OpenOptions o;
    o.new_ = flag(r, rf::new_);
    o.read = flag(r, rf::read);
    o.write = flag(r, rf::write);
    o.seek = flag(r, rf::seek);
    o.allow = ref_arg(r, rf::allow);
    result(impl<slotfn::Open>(open)(arg(0), o));
}
void e_open_q(const int32_t*) { result(impl<slotfn::Port>(open_q)(arg(0))); }
void e_query(const int32_t*) { result(impl<slotfn::Port>(query)(arg(0))); }
void e_read(const int32_t* r) {
    namespace rf = refine::read;
    slotfn::ReadOptions o;
    o.part = ref_arg(r, rf::part);
    o.seek = ref_arg(r, rf::seek);
    o.binary = flag(r, rf::binary);
    o.lines = flag(r, rf::lines);
    o.info = flag(r, rf::info);
    o.as = ref_arg(r, rf::as);
    result(impl<slotfn::Read>(read)(arg(0), o));
}
void e_rename(const int32_t*) { result(impl<slotfn::Rename>(rename)(arg(0), arg(1))); }
void e_update(const int32_t*) { result(impl<slotfn::Port>(update)(arg(0))); }
void e_write(const int32_t* r) {
    namespace rf = refine::write;
    slotfn::WriteOptions o;
    o.binary = flag(r, rf::binary);
    o.lines = flag(r, rf::lines);
    o.info = flag(r, rf::info);
    o.append = flag(r, rf::append);
    o.part = ref_arg(r, rf::part);
    o.seek = ref_arg(r, rf::seek);
    o.allow = ref_arg(r, rf::allow);
    o.as = ref_arg(r, rf::as);
    result(impl<slotfn::Write>(write)(arg(0), arg(1), o));
}

}  // namespace

void init() {
    Entry entries[count] = {
        e_make, e_random, e_reflect, e_to, e_form, e_mold, e_eval_path, nullptr, nullptr, e_absolute,
        e_add, e_divide, e_multiply, e_negate, e_power, e_remainder, e_round, e_subtract, e_even_q, e_odd_q,
        e_and, e_complement, e_or, e_xor, e_append, e_at, e_back, e_change, e_clear, e_copy,
        e_find, e_head, e_head_q, e_index_q, e_insert, e_length_q, e_move, e_next, e_pick, e_poke,
        e_put, e_remove, e_reverse, e_select, e_sort, e_skip, e_swap, e_tail, e_tail_q, e_take,
        e_trim, e_create, e_close, e_delete, e_modify, e_open, e_open_q, e_query, e_read, e_rename,
        e_update, e_write,
    };
    for (int i = 0; i < count; ++i) table[i] = entries[i];
    if (table[index::add - 1] != e_add || table[index::divide - 1] != e_divide ||
        table[index::multiply - 1] != e_multiply || table[index::remainder - 1] != e_remainder ||
        table[index::subtract - 1] != e_subtract)
        runtime::quit(runtime::assertion_failed);
}

}  // namespace zuv::actions
