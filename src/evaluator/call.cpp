// Function calls: argument fetching from code, paths and apply blocks, type checks,
// refinements, and running function bodies.
#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-list.h"
#include "evaluator/natives.h"
#include "evaluator/plain-expression.h"
#include "memory/symbol.h"
#include "evaluator/trace.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "runtime/fatal.h"
#include "runtime/throw.h"

namespace zuv::interpreter {

namespace {

constexpr uint32_t kind_shift = 20;  // argument kind in a cache typeset's header
enum ArgKind : uint32_t { normal = 0, literal = 1, quoted = 2, return_spec = 3 };
constexpr int max_refinements = 32;

// What a call needs to know of an argument cache, worked out once when the cache is made and
// kept in the cache cell's spare word (a block cell's third word holds nothing else).
// A plain cache is a run of ordinary arguments, then only refinements and their arguments,
// then for a function its locals: a call without apply fills such a frame by fetching the
// run, putting the unused refinements' places after it (a function's frame has them: off,
// and none for each of their arguments) and letting a path switch refinements on by name.
namespace plan {
constexpr uint32_t plain = 1u << 31;
constexpr uint32_t lead_mask = 0x1F;  // how many ordinary arguments come first
constexpr int extra_shift = 8;        // a native's refinement count, a function's locals
constexpr int integer_op_shift = 16;  // which integer operator a two-argument native is, if any
// A function's places after the run, before its locals: how many, and which of them are
// refinements (the rest are their arguments).
constexpr int places_shift = 16;
constexpr int refinement_bits_shift = 20;
constexpr int32_t max_places = 11;
inline int32_t lead(uint32_t p) { return static_cast<int32_t>(p & lead_mask); }
inline int32_t extra(uint32_t p) { return static_cast<int32_t>((p >> extra_shift) & 0xFF); }
inline int32_t places(uint32_t p) { return static_cast<int32_t>((p >> places_shift) & 0xF); }
inline uint32_t refinement_bits(uint32_t p) { return (p >> refinement_bits_shift) & 0x7FF; }
}  // namespace plan

// The operators that infix_integer computes itself.
enum IntegerOp : uint32_t {
    no_op, op_add, op_subtract, op_multiply, op_less, op_greater, op_less_equal, op_greater_equal, op_equal, op_not_equal,
    op_divide, op_remainder
};
// The operation on two integers into out (an integer! or a logic!); false where the full
// call does more: a sum, difference or product that overflows or an inexact quotient (made
// floats), a zero divisor or the one quotient past the range (errors).
[[gnu::always_inline]] inline bool integer_result(IntegerOp op, int32_t a, int32_t b, Cell* out);

inline Cell* cell_at(const Cell* block, int32_t i) { return block::cell_at(block, i); }

inline bool typeset_has(const Cell* ts, Type t) { return typeset::has(ts, static_cast<uint32_t>(t)); }

// The internal series of a function value: cell 0 body or context, cell 1 the cache.
using function::series_of;

inline bool is_native(Type t) { return t == Type::native || t == Type::action; }

[[noreturn, gnu::cold]] void raise_expect(const Cell* name, const Cell* value, const Cell* arg_word) {
    Cell type;
    cell::make(&type, Type::datatype, static_cast<uint32_t>(value->type()));
    error::raise(error::id::script_expect_arg, name, &type, arg_word);
}

struct Call {
    const Cell* fn;
    Type fn_type;
    const Cell* block;
    int32_t pos;
    int32_t end;
    const Cell* name;
    uint32_t mode;
    int32_t refs[max_refinements];
    int32_t ref_count;
    int32_t arg_count;
    bool infix;  // an operator's call: its right operand takes no operator after it
};


// The argument just fetched (the stack's top) against its place's typeset in the cache.
[[gnu::always_inline]] inline void check_argument(const Cell& f, const Cell& cache, int32_t i, const Cell* name) {
    Cell* got = stack::arguments_top - 1;
    // The cache's cells are derived again after each fetch: an evaluation may move them.
    if (!typeset_has(block::head(&cache) + i, got->type())) [[unlikely]] {
        Cell w = function::argument_word(&f, i);
        raise_expect(name, got, &w);
    }
}

// A plain native's refinements, all unused.
constexpr struct UnusedRefinements {
    int32_t refs[max_refinements];
    constexpr UnusedRefinements() : refs() {
        for (int32_t& r : refs) r = -1;
    }
} unused_refinements;

// An integer operator whose two arguments in the frame are integers, worked out in place:
// true when done (false for any other native, or on overflow, which the call makes a float of).
[[gnu::always_inline]] inline bool integer_in_place(uint32_t p) {
    auto op = static_cast<IntegerOp>((p >> plan::integer_op_shift) & 0xF);
    Cell* args = stack::arguments_base;
    return op != no_op && args[0].is(Type::integer) && args[1].is(Type::integer) &&
           integer_result(op, integer::get(&args[0]), integer::get(&args[1]), &args[0]);
}

// A function's refinement places after its leading arguments: off for each refinement,
// none for each of their arguments.
inline void push_places(uint32_t p) {
    uint32_t refinements = plan::refinement_bits(p);
    for (int32_t i = 0, n = plan::places(p); i < n; ++i) {
        if (refinements & (1u << i)) logic::push(false);
        else none::push();
    }
}

// Runs a native or action whose arguments are in the current frame.
[[gnu::always_inline]] inline void run_native(const Cell& f, const int32_t* refs) {
    int32_t index = function::number_of(&f);
    if (f.is(Type::native)) natives::table[index - 1](false, refs);
    else actions::table[index - 1](refs);
}

// The naming value of a call's events: its word, or the function itself for a call of a
// function value that no word names.
const Cell* event_ref(const Cell* name, const Cell* fn) {
    return name->is(Type::word) && word::symbol_of(name) == word::symbol_of(&anon_word) ? fn : name;
}

int32_t fetch_argument(Call& call, uint32_t kind, int32_t place) {
    if (call.pos >= call.end) {
        Cell w = function::argument_word(call.fn, place);
        error::raise(error::id::script_no_arg, call.name, &w);
    }
    Cell c = *cell_at(call.block, call.pos);
    if (kind != normal && tracing) [[unlikely]] fire_event(event::fetch, call.block, call.pos, nullptr, &c);
    switch (kind) {
        case literal:
            stack::push(&c);
            if (tracing) [[unlikely]] fire_event(event::push, call.block, call.pos + 1, nullptr, stack::top());
            return ++call.pos;
        case quoted:
            switch (c.type()) {
                case Type::paren:
                    stack::mark_interp_native(&anon_word);
                    eval_block(&c, true);
                    if (pending) return call.pos;
                    stack::unwind();
                    break;
                case Type::get_word:
                    stack::push(context::get(&c));
                    break;
                case Type::get_path:
                    eval_path(&c, call.block, call.pos + 1, call.end, false, true, true);
                    if (pending) return call.pos;
                    break;
                default:
                    stack::push(&c);
            }
            if (tracing) [[unlikely]] fire_event(event::push, call.block, call.pos + 1, nullptr, stack::top());
            return ++call.pos;
        default: {
            int32_t end = (call.mode & mode::safer) && call.pos + 1 < call.end ? call.pos + 1 : call.end;
            Cell v;
            if (!tracing && simple_operand(cell_at(call.block, call.pos), &v)) [[likely]] {
                int32_t after = call.pos + 1;
                if (!call.infix) after = simple_operators(call.block, after, end, &v);
                if (after >= 0) {
                    stack::push(&v);
                    return call.pos = after;
                }
            }
            call.pos = eval_expression(call.block, call.pos, end, call.infix, true, false);
            return call.pos;
        }
    }
}

IntegerOp integer_op_of(const Cell* fn) {
    int32_t index = function::number_of(fn);
    if (fn->is(Type::action)) {
        switch (index) {
            case actions::index::add: return op_add;
            case actions::index::subtract: return op_subtract;
            case actions::index::multiply: return op_multiply;
            case actions::index::divide: return op_divide;
            case actions::index::remainder: return op_remainder;
            default: return no_op;
        }
    }
    if (!fn->is(Type::native) || index < 1 || index > natives::capacity) return no_op;
    natives::Entry entry = natives::table[index - 1];
    if (entry == natives::lesser_q) return op_less;
    if (entry == natives::greater_q) return op_greater;
    if (entry == natives::lesser_or_equal_q) return op_less_equal;
    if (entry == natives::greater_or_equal_q) return op_greater_equal;
    if (entry == natives::equal_q || entry == natives::strict_equal_q) return op_equal;
    if (entry == natives::not_equal_q) return op_not_equal;
    return no_op;
}

inline uint32_t kind_of(const Cell* ts) { return (ts->header >> kind_shift) & 3; }

uint32_t plan_of(const Cell* fn, const Cell* cells, int32_t n, bool native) {
    int32_t lead = 0;
    while (lead < n && cells[lead].is(Type::typeset) && kind_of(&cells[lead]) == normal) ++lead;
    uint32_t p = 0;
    // Two ordinary arguments that both take integers, and nothing else.
    if (native && n == 2 && lead == 2 && typeset_has(&cells[0], Type::integer) && typeset_has(&cells[1], Type::integer))
        p |= static_cast<uint32_t>(integer_op_of(fn)) << plan::integer_op_shift;
    int32_t extra = 0;
    bool plain = lead <= static_cast<int32_t>(plan::lead_mask);
    if (lead < n) {
        const Cell& next = cells[lead];
        const Cell& last = cells[n - 1];
        if (native) {
            plain = plain && (next.is(Type::refinement) || (lead == n - 1 && next.is(Type::integer)));
            if (last.is(Type::integer)) extra = integer::get(&last);
        } else {
            // Refinements with their arguments, then at most the locals' count.
            int32_t places = 0;
            uint32_t refinements = 0;
            for (int32_t i = lead; i < n && plain; ++i) {
                const Cell& c = cells[i];
                if (c.is(Type::integer) && i == n - 1) {
                    extra = integer::get(&c);
                } else if (places < plan::max_places &&
                           (c.is(Type::refinement) || (c.is(Type::typeset) && kind_of(&c) != return_spec))) {
                    if (c.is(Type::refinement)) refinements |= 1u << places;
                    ++places;
                } else {
                    plain = false;
                }
            }
            if (places > 0 && !cells[lead].is(Type::refinement)) plain = false;
            p |= static_cast<uint32_t>(places) << plan::places_shift | refinements << plan::refinement_bits_shift;
        }
    }
    // A native's refinements each take a slot of the call's refs; a function's locals only a byte.
    if (plain && extra >= 0 && extra <= (native ? max_refinements : 255))
        p |= plan::plain | static_cast<uint32_t>(lead) | static_cast<uint32_t>(extra) << plan::extra_shift;
    return p;
}

void make_arg_cache(const Cell* fn) {
    Cell cache;
    block::make_at(&cache, 8);
    Cell* held = stack::push(&cache);
    Cell spec = function::spec_block(fn);
    bool native = is_native(fn->type());
    int32_t ordinal = 1;
    int32_t locals = -1;
    int32_t local_sym = symbol::resolve(symbol::make("local"));
    int32_t return_sym = symbol::resolve(symbol::make("return"));
    int32_t n = series::buffer_length(&spec);
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *cell_at(&spec, i);
        uint32_t kind;
        switch (c.type()) {
            case Type::word: kind = normal; goto argument;
            case Type::lit_word: kind = quoted; goto argument;
            case Type::get_word: kind = literal; goto argument;
            case Type::set_word:
                if (symbol::resolve(word::symbol_of(&c)) != return_sym) error::raise(error::id::script_bad_func_def, &c);
                kind = return_spec;
            argument: {
                Cell ts;
                Cell next = i + 1 < n ? *cell_at(&spec, i + 1) : none::shared;
                if (next.is(Type::block) && series::length(&next) > 0) {
                    Cell* made = typeset::from_block_in(held, &next);
                    ts = *made;
                    series::buffer(held)->tail -= sizeof(Cell);
                } else {
                    typeset::make_default_at(&ts);
                }
                ts.header |= kind << kind_shift;
                block::append(held, &ts);
                break;
            }
            case Type::refinement:
                if (symbol::resolve(word::symbol_of(&c)) == local_sym) {
                    int32_t count = 0;
                    for (int32_t j = i; j < n && !cell_at(&spec, j)->is(Type::set_word); ++j) ++count;
                    locals = count;
                    i = n;  // nothing after /local occupies an argument place
                    break;
                }
                // A native's refinement carries its ordinal where a word keeps its index.
                if (native) word::set_index(&c, ordinal++);
                block::append(held, &c);
                break;
            default:
                break;
        }
    }
    Cell count;
    if (!native && locals >= 0) {
        cell::make(&count, Type::integer, 0, static_cast<uint32_t>(locals));
        block::append(held, &count);
    } else if (native && ordinal >= 2) {
        cell::make(&count, Type::integer, 0, static_cast<uint32_t>(ordinal - 1));
        block::append(held, &count);
    }
    uint32_t made_plan = plan_of(fn, block::head(held), series::length(held), native);
    Cell* slot = memory::buffer_of(series_of(fn))->cells() + 1;
    *slot = *held;
    series::set_head(slot, 0);
    slot->data3 = made_plan;
    stack::pop(1);
}

// Walks the path elements (or apply block) that name refinements.
// Refinements named by the elements of a path after the function's word, or, for apply
// without /all, by the refinement! values of the argument block after its arguments (each
// followed by an expression whose truth switches it on).
void refinements_by_name(Call& call, Cell* cache_block, const Cell* path, int32_t path_pos) {
    bool function_like = !is_native(call.fn_type);
    int32_t cache_n = series::length(cache_block);
    bool apply = !path;
    int32_t path_n = apply ? 0 : series::buffer_length(path);
    for (int32_t p = path_pos;; ++p) {
        Cell e;
        bool on = true;
        if (apply) {
            if (call.pos >= call.end) break;
            e = *cell_at(call.block, call.pos);
            if (!e.is(Type::refinement)) {
                bool has_refinements = false;
                for (int32_t i = 0; i < cache_n; ++i)
                    if ((block::head(cache_block) + i)->is(Type::refinement)) has_refinements = true;
                if (!has_refinements) break;
                error::raise(error::id::script_bad_refine, &e);
            }
            ++call.pos;
            Cell* mark = stack::arguments_top;
            call.pos = eval_expression(call.block, call.pos, call.end, false, true, false);
            if (pending) return;
            on = logic::truth(stack::top());
            stack::arguments_top = mark;
        } else {
            if (p >= path_n) break;
            e = *cell_at(path, p);
            if (e.is(Type::get_word)) {
                on = logic::truth(context::get(&e));
            } else if (!e.is(Type::word) && !e.is(Type::refinement)) {
                error::raise(error::id::script_bad_refine, &e);
            }
        }
        // Find the refinement in the cache by symbol.
        int32_t index = -1, cache_pos = -1;
        int32_t frame_index = 0;
        // The same spelling matches at once; another one by its canonical symbol.
        int32_t spelled = word::symbol_of(&e);
        int32_t wanted = -1;
        const Cell* cells = block::head(cache_block);
        for (int32_t i = 0; i < cache_n; ++i) {
            const Cell* c = cells + i;
            if (c->is(Type::refinement) &&
                (word::symbol_of(c) == spelled ||
                 symbol::resolve(word::symbol_of(c)) == (wanted < 0 ? wanted = symbol::resolve(spelled) : wanted))) {
                index = frame_index;
                cache_pos = i;
                break;
            }
            if (c->is(Type::typeset) && ((c->header >> kind_shift) & 3) == return_spec) continue;
            if (c->is(Type::typeset) || c->is(Type::refinement)) ++frame_index;
        }
        if (cache_pos < 0) {
            Cell elem = e;
            elem.set_type(Type::word);
            error::raise(error::id::script_no_refine, call.name, &elem);
        }
        Cell* ref = block::head(cache_block) + cache_pos;
        if (function_like) {
            Cell* slot = stack::arguments_base + index;
            if (logic::truth(slot)) error::raise(error::id::script_dup_refine, path ? path : &e);
            logic::make_at(slot, on);
            // Each argument is evaluated at the stack top, above the whole frame (a call or an
            // operator in it uses the stack above where it starts), then put in its place.
            int32_t place = index;
            for (int32_t i = cache_pos + 1; i < cache_n; ++i) {
                Cell ts = *(block::head(cache_block) + i);
                if (!ts.is(Type::typeset)) break;
                uint32_t kind = (ts.header >> kind_shift) & 3;
                if (kind == return_spec) continue;  // return: is no argument
                ++place;
                Cell* top = stack::arguments_top;
                fetch_argument(call, kind, place);
                if (pending) return;
                Cell got = *(stack::arguments_top - 1);
                stack::arguments_top = top;
                if (on && !typeset_has(&ts, got.type())) {
                    Cell w = function::argument_word(call.fn, place);
                    raise_expect(call.name, &got, &w);
                }
                if (!on) cell::make(&got, Type::none);
                stack::arguments_base[place] = got;
            }
        } else {
            int32_t ordinal = word::index_of(ref);
            if (on) {
                if (call.refs[ordinal - 1] != -1) error::raise(error::id::script_dup_refine, path ? path : &e);
                call.refs[ordinal - 1] = static_cast<int32_t>(stack::arguments_top - stack::arguments_base);
            }
            for (int32_t i = cache_pos + 1; i < cache_n; ++i) {
                Cell ts = *(block::head(cache_block) + i);
                if (!ts.is(Type::typeset)) break;
                int32_t place = index + (i - cache_pos);
                fetch_argument(call, (ts.header >> kind_shift) & 3, place);
                if (pending) return;
                Cell* got = stack::arguments_top - 1;
                if (on) {
                    if (!typeset_has(&ts, got->type())) {
                        Cell w = function::argument_word(call.fn, place);
                        raise_expect(call.name, got, &w);
                    }
                } else {
                    stack::pop(1);
                }
            }
        }
    }
}

// The arguments are in place: a native runs now, a function's body is run by the caller.
inline int32_t enter(Call& call, bool native) {
    if (tracing) [[unlikely]]
        fire_event(event::call, call.block, call.mode & mode::apply ? 0 : call.pos, event_ref(call.name, call.fn), call.fn);
    if (native) run_native(*call.fn, call.refs);
    return call.pos;
}

// A call whose cache is plain: the leading arguments fetched in order (an operator's left
// one is already on the stack), the refinements' places (all unused for a native), those a
// path names switched on, then a function's empty locals.
int32_t fetch_plain_and_call(Call& call, Cell& cache, uint32_t p, bool native, bool infix, const Cell* path,
                             int32_t path_pos) {
    int32_t lead = plan::lead(p), extra = plan::extra(p);
    if (native) {
        call.ref_count = extra;
        if (extra) std::memset(call.refs, 0xFF, sizeof(int32_t) * static_cast<size_t>(extra));  // -1: unused
    }
    for (int32_t i = 0; i < lead; ++i) {
        if (i > 0 || !infix) {
            // The common plain argument is taken here, without the general fetch.
            Cell v;
            int32_t after = -1;
            if (call.pos < call.end && !tracing && simple_operand(cell_at(call.block, call.pos), &v)) [[likely]] {
                after = call.pos + 1;
                if (!call.infix) after = simple_operators(call.block, after, call.end, &v);
            }
            if (after >= 0) {
                stack::push(&v);
                call.pos = after;
            } else {
                fetch_argument(call, normal, i);
                if (pending) return call.pos;
            }
        }
        check_argument(*call.fn, cache, i, call.name);
    }
    call.arg_count += lead;
    if (native) {
        // An integer operator whose operands both came out integers (the right one from a
        // call, say) is worked out here, as infix_integer does.
        if (!tracing && integer_in_place(p)) {
            stack::arguments_top = stack::arguments_base + 1;
            return call.pos;
        }
    } else {
        push_places(p);
    }
    if (path) {
        refinements_by_name(call, &cache, path, path_pos);
        if (pending) return call.pos;
    }
    if (!native && extra >= 1) {
        logic::push(false);
        for (int32_t i = 1; i < extra; ++i) none::push();
    }
    return enter(call, native);
}

int32_t fetch_and_call(Call& call, const Cell* path, int32_t path_pos, bool infix) {
    if (infix) ++stack::arguments_top;
    Cell* cache_slot = memory::buffer_of(series_of(call.fn))->cells() + 1;
    if (!cache_slot->is(Type::block)) make_arg_cache(call.fn);
    Cell cache = *(memory::buffer_of(series_of(call.fn))->cells() + 1);
    bool native = is_native(call.fn_type);
    uint32_t p = cache.data3;
    if ((p & plan::plain) && !call.mode) return fetch_plain_and_call(call, cache, p, native, infix, path, path_pos);
    int32_t n = series::length(&cache);
    call.ref_count = 0;
    if (native && n > 0) {
        Cell* last = block::head(&cache) + (n - 1);
        if (last->is(Type::integer)) call.ref_count = integer::get(last);
    }
    // -1 (unused) in every slot: all bytes 0xFF.
    std::memset(call.refs, 0xFF, sizeof(int32_t) * static_cast<size_t>(std::clamp(call.ref_count, 0, max_refinements)));

    bool fetching = true;
    bool left_taken = !infix;
    int32_t locals = -1;
    int32_t place = 0;
    // The cache's cells, derived again after each fetch (an evaluation may move them).
    const Cell* cells = block::head(&cache);
    for (int32_t i = 0; i < n; ++i) {
        Cell e = cells[i];
        switch (e.type()) {
            case Type::typeset: {
                uint32_t kind = (e.header >> kind_shift) & 3;
                if (kind == return_spec) break;
                if (fetching) {
                    if (!left_taken) {
                        left_taken = true;
                    } else if ((call.mode & (mode::apply | mode::apply_all)) && call.pos >= call.end) {
                        none::push();
                    } else if (typeset_has(&e, Type::unset) && call.pos >= call.end && kind == quoted) {
                        unset::push();
                    } else {
                        fetch_argument(call, kind, place);
                        if (pending) return call.pos;
                        cells = block::head(&cache);
                    }
                    Cell* got = stack::arguments_top - 1;
                    if (!typeset_has(&e, got->type())) [[unlikely]] {
                        Cell w = function::argument_word(call.fn, place);
                        raise_expect(call.name, got, &w);
                    }
                    ++call.arg_count;
                } else {
                    if ((call.mode & (mode::apply_all | mode::safer)) == mode::apply_all && call.pos < call.end) {
                        fetch_argument(call, kind, place);
                        if (pending) return call.pos;
                        cells = block::head(&cache);
                        stack::pop(1);
                    }
                    if (!native) none::push();
                }
                ++place;
                break;
            }
            case Type::refinement:
                if ((call.mode & mode::apply_all) && call.pos < call.end) {
                    fetch_argument(call, normal, place);
                    if (pending) return call.pos;
                    cells = block::head(&cache);
                    Cell* got = stack::arguments_top - 1;
                    if (!got->is(Type::logic)) raise_expect(call.name, got, &e);
                    fetching = logic::truth(got);
                    if (native) {
                        if (fetching) call.refs[word::index_of(&e) - 1] = static_cast<int32_t>(got - stack::arguments_base);
                        stack::pop(1);
                    }
                } else {
                    // Refinement arguments are taken by name, not in order. A native's frame
                    // holds no places for them: the rest of the cache has nothing to do.
                    if (native) i = n;
                    else logic::push(false);
                    fetching = false;
                }
                ++place;
                break;
            case Type::integer:
                if (!native) locals = integer::get(&e);
                break;
            default:
                break;
        }
    }
    if (path || (call.mode & mode::apply)) {
        refinements_by_name(call, &cache, path, path_pos);
        if (pending) return call.pos;
    }
    if (!native && locals >= 1) {
        logic::push(false);
        for (int32_t i = 1; i < locals; ++i) none::push();
    }
    return enter(call, native);
}

// Runs an interpreted function body in its frame; a return or exit ends here.
void eval_function_body(const Cell* fn, const Cell& body, Ref ctx) {
    Cell* ctx_cell = context::cell_of(ctx);
    Ref saved_values = context::values_node_in(ctx_cell);
    context::set_values_node_in(ctx_cell, memory::ref(stack::arguments_base));
    stack::set_func_flag(true);
    uint32_t saved_tracing = tracing;
    if (fn->header & function::flag::trace) tracing = tracer_armed;
    if (fn->header & function::flag::no_trace) tracing = 0;
    if (tracing) [[unlikely]] fire_event(event::prolog, &body, series::head(&body), nullptr, fn);
    try {
        if (tracing) [[unlikely]] {
            eval_block(&body, true);
        } else {
            // Above the arguments and locals, in the function's own frame.
            eval_block_pushed(&body);
            if (!pending) stack::keep_last(stack::arguments_top - 1);
        }
    } catch (const runtime::Throw& t) {
        if (t.code != runtime::throw_return && t.code != runtime::throw_exit) throw;
        pending = t.code;
    }
    if (tracing) [[unlikely]] {
        uint32_t code = pending;  // kept aside during the event
        pending = 0;
        fire_event(event::epilog, &body, series::buffer_length(&body), nullptr, fn);
        pending = code;
    }
    // Only an attribute's change is undone: `trace false` inside a body (trace itself is
    // one) stops the events for the rest of the evaluation.
    if (fn->header & (function::flag::trace | function::flag::no_trace)) tracing = saved_tracing;
    if (pending == runtime::throw_return || pending == runtime::throw_exit) pending = 0;
    if (pending) return;  // break, continue or throw: on to whoever takes them
    stack::clear_func_flag(stack::top_frame());
    context::set_values_node(ctx, saved_values);
}

// Calls a routine! whose arguments are in the current frame: its C++ entry takes the
// argument cells, or their machine values after a check of each against its type block.
void exec_routine(const Cell* fn) {
    Cell f = *fn;
    Cell* cells = function::series_cells(&f);
    const routine::Entry* entry = routine::entry_at(integer::get(&cells[2]));
    int32_t return_kind = cells[4].is(Type::integer) ? integer::get(&cells[4]) : 0;
    int32_t argc = routine::arg_count(&f);
    bool cells_wanted = f.header & routine::takes_cells;
    if (!entry || (cells_wanted ? !entry->cells : !entry->values)) error::raise(error::id::internal_routines);
    Cell* args = stack::arguments_base;
    if (cells_wanted) {
        Cell* addresses[32];
        for (int32_t i = 0; i < argc; ++i) addresses[i] = args + i;
        stack::mark_native(&body_word);
        Cell result = *entry->cells(addresses);
        stack::unwind();
        *args = result;
        stack::arguments_top = args + 1;
        return;
    }
    // The type block after each argument word, from the last argument to the first.
    Cell spec = function::spec_block(&f);
    Cell* types[32] = {};
    Cell* words[32] = {};
    int32_t n = series::length(&spec), k = 0;
    for (int32_t i = 0; i < n && k < argc; ++i) {
        Cell* c = block::head(&spec) + i;
        if (c->is(Type::refinement)) break;
        if (!c->is(Type::word)) continue;
        words[k] = c;
        for (int32_t j = i + 1; j < n; ++j) {
            Cell* t = block::head(&spec) + j;
            if (t->is(Type::block)) {
                types[k] = t;
                break;
            }
            if (!t->is(Type::string)) break;
        }
        ++k;
    }
    routine::Value values[32];
    for (int32_t i = argc - 1; i >= 0; --i) {
        Cell* a = args + i;
        if (types[i] && series::length(types[i]) > 0) {
            Cell first = *block::head(types[i]);
            if (!first.is(Type::word)) error::raise(error::id::script_invalid_type_spec, &first);
            const char* name = symbol::name(word::symbol_of(&first));
            if (std::strcmp(name, "any-type!") != 0) {
                Cell* allowed = context::get(&first);
                bool ok = allowed->is(Type::typeset) ? typeset::has(allowed, static_cast<uint32_t>(a->type()))
                          : allowed->is(Type::datatype) && static_cast<Type>(datatype::id_of(allowed)) == a->type();
                if (!ok) {
                    Cell routine_name, type, word = *words[i];
                    stack::get_call_word(&routine_name);
                    datatype::make_at(&type, static_cast<int>(a->type()));
                    error::raise(error::id::script_expect_arg, &routine_name, &type, &word);
                }
            }
        }
        switch (a->type()) {
            case Type::logic: values[i].logic = logic::get(a); break;
            case Type::integer: values[i].integer = integer::get(a); break;
            case Type::float_: values[i].number = a->float23(); break;
            default: values[i].cell = a;
        }
    }
    routine::Value r = entry->values(values);
    Cell result = unset::shared;
    switch (return_kind) {
        case static_cast<int32_t>(Type::logic): result = r.logic ? logic::shared_true : logic::shared_false; break;
        case static_cast<int32_t>(Type::integer): cell::make(&result, Type::integer, 0, static_cast<uint32_t>(r.integer)); break;
        case static_cast<int32_t>(Type::float_):
            cell::make(&result, Type::float_);
            result.set_float23(r.number);
            break;
        default: break;
    }
    *args = result;
    stack::arguments_top = args + 1;
}

}  // namespace

namespace {

// The argument caches of the functions called lately, by the node of their internal series:
// reading one in the function's series is a chain of dependent loads on every call, and on
// every integer operator a loop meets. A made cache never changes; the node's function does
// only when a collection frees or moves the node, and each collection empties the table.
struct PlanSeen {
    Ref series;
    uint32_t plan;
    Cell cache;
};
constexpr int plans_seen_bits = 6;
PlanSeen plans_seen[1 << plans_seen_bits];

// The functions made at start-up lie at node addresses that share their low bits often: the
// entry is taken from the high bits of a product, in which every bit of the node counts.
inline PlanSeen& plan_seen(Ref series) { return plans_seen[(series * 0x9E3779B1u) >> (32 - plans_seen_bits)]; }

// The table's entry for a function's internal series, filled from its argument cache when
// missing; null while the function has no cache.
inline const PlanSeen* plan_entry(Ref series) {
    PlanSeen& seen = plan_seen(series);
    if (seen.series == series) [[likely]]
        return &seen;
    const Cell* slot = memory::buffer_of(series)->cells() + 1;
    if (!slot->is(Type::block)) return nullptr;
    seen = PlanSeen{series, slot->data3, *slot};
    return &seen;
}

// The integer operation of the operator infix_integer met last, looked at first: a loop's
// body meets one most often.
struct OpSeen {
    Ref series;
    IntegerOp op;
};
OpSeen last_op_seen;

}  // namespace

void forget_functions_seen() {
    for (PlanSeen& seen : plans_seen) seen.series = 0;
    last_op_seen = OpSeen{0, no_op};
}

bool infix_integer(Type fn_type, Ref fn_series, Cell* left, const Cell* right) {
    if (!right || !left->is(Type::integer) || !is_native(fn_type)) return false;
    IntegerOp op = last_op_seen.op;
    if (last_op_seen.series != fn_series) [[unlikely]] {
        // Which operation, as the argument cache's plan says (a cache not made yet is made by
        // the full call, the first time).
        const PlanSeen* seen = plan_entry(fn_series);
        if (!seen) return false;
        op = static_cast<IntegerOp>((seen->plan >> plan::integer_op_shift) & 0xF);
        last_op_seen = OpSeen{fn_series, op};
    }
    if (op == no_op) return false;
    if (right->is(Type::word)) right = context::bound_value(right);
    else if (right->is(Type::path)) right = plain_path_value(right);
    if (!right || !right->is(Type::integer)) return false;
    return integer_result(op, integer::get(left), integer::get(right), left);
}

namespace {

[[gnu::always_inline]] inline bool integer_result(IntegerOp op, int32_t a, int32_t b, Cell* out) {
    int32_t r;
    bool truth;
    switch (op) {
        case op_add: if (__builtin_add_overflow(a, b, &r)) return false; break;  // the action makes a float of it
        case op_subtract: if (__builtin_sub_overflow(a, b, &r)) return false; break;
        case op_multiply: if (__builtin_mul_overflow(a, b, &r)) return false; break;
        case op_divide:
            if (b == 0 || (b == -1 && a == INT32_MIN) || a % b != 0) return false;
            r = a / b;
            break;
        case op_remainder:
            if (b == 0 || (b == -1 && a == INT32_MIN)) return false;
            r = a % b;
            break;
        case op_less: truth = a < b; goto logic;
        case op_greater: truth = a > b; goto logic;
        case op_less_equal: truth = a <= b; goto logic;
        case op_greater_equal: truth = a >= b; goto logic;
        case op_equal: truth = a == b; goto logic;
        case op_not_equal: truth = a != b; goto logic;
        default: return false;
    }
    integer::set(out, r);
    return true;
logic:
    *out = truth ? logic::shared_true : logic::shared_false;
    return true;
}

}  // namespace


void call_function(const Cell* fn, Ref context, const Cell* name, uint32_t trace_mask) {
    if (fn->is(Type::routine)) {
        exec_routine(fn);
        return;
    }
    Cell f = *fn;
    Cell body = function::series_cells(&f)[0];
    if (!body.is(Type::block)) {
        unset::box();
        return;
    }
    eval_function_body(&f, body, context);
}

void apply_function(const Cell* fn_in, const Cell* name_in, const Cell* args, int count, Cell* result, Cell* write_back,
                    uint32_t callback_kind) {
    // A tracer follows runtime callbacks only of the kinds the system asks for.
    uint32_t saved_tracing = tracing;
    if (tracing && callback_kind && !callback_traced(callback_kind)) tracing = 0;
    struct Restore {
        uint32_t value;
        ~Restore() { tracing = value; }
    } restore{saved_tracing};
    Cell fn = *fn_in;
    if (fn.is(Type::op)) fn = op::function_of(&fn);
    Cell name = (name_in && name_in->is(Type::word)) ? *name_in : anon_word;
    Cell* mark = stack::arguments_top;
    stack::push(&fn);
    Cell* cache_slot = memory::buffer_of(series_of(&fn))->cells() + 1;
    if (!cache_slot->is(Type::block)) make_arg_cache(&fn);
    Cell cache = *(memory::buffer_of(series_of(&fn))->cells() + 1);
    int32_t n = series::length(&cache);
    bool native = is_native(fn.type());
    Ref ctx = 0;
    if (native) {
        stack::mark_interp_native(&name);
    } else {
        ctx = function::context_of(&fn);
        stack::mark(&name, stack::kind::interp_func);
        stack::CallFrame* f = stack::top_frame();
        f->function_context = ctx;
        f->saved_values = context::values_node(ctx);
    }
    int32_t refs[max_refinements];
    for (int32_t& r : refs) r = -1;
    int next = 0;
    bool in_refinement = false;
    int32_t locals = -1;
    for (int32_t i = 0; i < n; ++i) {
        Cell e = *(block::head(&cache) + i);
        if (e.is(Type::typeset)) {
            if (((e.header >> kind_shift) & 3) == return_spec) continue;
            if (in_refinement) {
                if (!native) none::push();
                continue;
            }
            if (next < count) stack::push(&args[next++]);
            else none::push();
        } else if (e.is(Type::refinement)) {
            in_refinement = true;
            if (!native) logic::push(false);
        } else if (e.is(Type::integer) && !native) {
            locals = integer::get(&e);
        }
    }
    if (native) {
        run_native(fn, refs);
        if (!pending) stack::unwind();
    } else {
        if (locals >= 1) {
            logic::push(false);
            for (int32_t i = 1; i < locals; ++i) none::push();
        }
        Cell* first = stack::arguments_base;
        call_function(&fn, ctx, &name, 0);
        if (!pending && write_back)
            for (int i = 1; i < next; ++i) write_back[i] = first[i];
        if (!pending) stack::unwind_func();
    }
    if (pending) throw_pending();
    *result = *stack::top();
    stack::arguments_top = mark;
}

Cell call_with(const Cell* fn, const Cell* name, Cell* args, int32_t n, uint32_t callback_kind) {
    Cell result;
    apply_function(fn, name, args, n, &result, args, callback_kind);
    return result;
}

namespace {

// A call's state as the general fetch wants it, for what the lean paths hand over to it.
inline void start_call(Call& call, const Cell& f, const Cell* block, int32_t pos, int32_t end, const Cell* name) {
    call.fn = &f;
    call.fn_type = f.type();
    call.block = block;
    call.pos = pos;
    call.end = end;
    call.name = name;
    call.mode = 0;
    call.ref_count = 0;
    call.arg_count = 0;
    call.infix = false;
}

// One ordinary argument from the code at pos, pushed: a plain one read at once, any other
// evaluated as the general call evaluates it, a missing one refused with the general call's
// error. Gives the position after it (with pending set, the exit's). The code's cells stay
// put while plain arguments are read, so `cells` is found again only after an evaluation. So
// do the values of words: one that the look-ahead for operators after an argument has looked
// up comes in `looked`, and is read from its slot as this argument.
[[gnu::always_inline]] inline int32_t push_argument(const Cell& f, int32_t place, const Cell* name, const Cell* block,
                                                    const Cell*& cells, int32_t pos, int32_t end, const Cell*& looked) {
    Cell v;
    int32_t after = -1;
    if (pos < end) [[likely]] {
        const Cell* value = looked;
        looked = nullptr;
        if (value ? plain_value(value, &v) : simple_operand(cells + pos, &v)) [[likely]]
            after = simple_operators_in(cells, pos + 1, end, &v, &looked);
    }
    if (after >= 0) [[likely]] {
        stack::push(&v);
        return after;
    }
    if (pos >= end) {
        Cell w = function::argument_word(&f, place);
        error::raise(error::id::script_no_arg, name, &w);
    }
    pos = eval_expression(block, pos, end, false, true, false);
    cells = cell_at(block, 0);
    return pos;
}

// The leading ordinary arguments of a plain cache, fetched from the code at pos into the
// frame just opened: the position after them (with pending set, the exit's position).
[[gnu::always_inline]] inline int32_t fetch_lead(const Cell& f, const Cell& cache, uint32_t p, const Cell* block, int32_t pos, int32_t end,
                          const Cell* name) {
    const Cell* cells = cell_at(block, 0);
    const Cell* looked = nullptr;
    for (int32_t i = 0, lead = plan::lead(p); i < lead; ++i) {
        pos = push_argument(f, i, name, block, cells, pos, end, looked);
        if (pending) return pos;
        check_argument(f, cache, i, name);
    }
    return pos;
}

// A plain function's refinements that a path names, switched on in the frame, their arguments
// fetched as the leading ones are: the position after them. Only for a path whose every
// element is a word spelled as one of the refinements, none named twice, each taking ordinary
// arguments alone; -1, with nothing done, for any other (the general way takes it, and raises
// its errors). In a plain cache a place's cell and its frame slot have one index.
int32_t refinements_by_plan(const Cell& f, const Cell& cache, uint32_t p, const Cell* block, int32_t pos, int32_t end,
                            const Cell* name, const Cell* path, int32_t path_pos) {
    const int32_t lead = plan::lead(p), places = plan::places(p);
    const uint32_t refinements = plan::refinement_bits(p);
    const Cell* types = block::head(&cache);
    int32_t named[plan::max_places];
    int32_t count = 0;
    uint32_t seen = 0;
    for (int32_t e = path_pos, n = block::buffer_length(path); e < n; ++e) {
        const Cell* element = cell_at(path, e);
        if (!element->is(Type::word)) return -1;
        int32_t found = -1;
        for (int32_t k = 0; k < places && found < 0; ++k)
            if ((refinements >> k & 1) && word::symbol_of(types + lead + k) == word::symbol_of(element)) found = k;
        if (found < 0 || (seen >> found & 1)) return -1;
        for (int32_t k = found + 1; k < places && !(refinements >> k & 1); ++k)
            if (kind_of(types + lead + k) != normal) return -1;
        seen |= 1u << found;
        named[count++] = found;
    }
    const Cell* cells = cell_at(block, 0);
    const Cell* looked = nullptr;
    for (int32_t j = 0; j < count; ++j) {
        logic::make_at(stack::arguments_base + lead + named[j], true);
        for (int32_t k = named[j] + 1; k < places && !(refinements >> k & 1); ++k) {
            const int32_t place = lead + k;
            // Read at the stack top, above the whole frame, then put in its place.
            pos = push_argument(f, place, name, block, cells, pos, end, looked);
            if (pending) return pos;
            Cell v = *--stack::arguments_top;
            if (!typeset_has(block::head(&cache) + place, v.type())) [[unlikely]] {
                Cell w = function::argument_word(&f, place);
                raise_expect(name, &v, &w);
            }
            stack::arguments_base[place] = v;
        }
    }
    return pos;
}

// The refinements a path names switched on, their arguments fetched from the code at pos:
// the position after them.
[[gnu::noinline]] int32_t refinements_by_path(const Cell& f, Cell& cache, const Cell* block, int32_t pos, int32_t end,
                                              const Cell* name, const Cell* path, int32_t path_pos) {
    Call call;
    start_call(call, f, block, pos, end, name);
    refinements_by_name(call, &cache, path, path_pos);
    return call.pos;
}

// Runs a native with the refinements a path names, once its leading arguments are in place.
[[gnu::noinline]] int32_t run_native_by_path(const Cell& f, Cell& cache, uint32_t p, const Cell* block, int32_t pos,
                                             int32_t end, const Cell* name, const Cell* path, int32_t path_pos) {
    Call call;
    start_call(call, f, block, pos, end, name);
    call.ref_count = plan::extra(p);
    std::memset(call.refs, 0xFF, sizeof(int32_t) * static_cast<size_t>(call.ref_count));
    refinements_by_name(call, &cache, path, path_pos);
    if (pending) return call.pos;
    run_native(f, call.refs);
    return call.pos;
}

// The plan of a function value's argument cache (copied into cache), or 0 while it has none.
[[gnu::always_inline]] inline uint32_t plan_of_cache(const Cell* fn, Cell* cache) {
    const PlanSeen* seen = plan_entry(series_of(fn));
    if (!seen) [[unlikely]]
        return 0;
    *cache = seen->cache;
    return seen->plan;
}


// The lean calls, with and without a path (the one without one, the common call, keeps
// to the registers).
template <bool by_path>
int32_t native_call(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name,
                    const Cell* path, int32_t path_pos) {
    Cell cache;
    uint32_t p = plan_of_cache(fn, &cache);
    if (!(p & plan::plain)) [[unlikely]]
        return call_any_function(fn, block, pos, end, sub, path, path_pos, name, nullptr, 0, false);
    Cell f = *fn;
    stack::push(&f);
    stack::mark_interp_native(name);
    pos = fetch_lead(f, cache, p, block, pos, end, name);
    if (pending) return pos;
    if (!integer_in_place(p)) {
        // The refinements are unused unless a path names them.
        if (by_path) pos = run_native_by_path(f, cache, p, block, pos, end, name, path, path_pos);
        else run_native(f, unused_refinements.refs);
        if (pending) return pos;
    }
    if (sub) stack::unwind();
    else stack::unwind_last();
    stack::collapse_top();
    if (tracing) [[unlikely]]  // the native itself may have started a tracer
        fire_event(event::return_, block, pos, event_ref(name, &f), sub ? stack::top() : stack::arguments_base);
    return pos;
}

template <bool by_path>
int32_t function_call(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name,
                      const Cell* path, int32_t path_pos) {
    Cell cache;
    uint32_t p = plan_of_cache(fn, &cache);
    if (!(p & plan::plain)) [[unlikely]]
        return call_any_function(fn, block, pos, end, sub, path, path_pos, name, nullptr, 0, false);
    Cell f = *fn;
    stack::push(&f);
    // Arguments and locals live in the function's own context; unrolls past this frame put
    // the context's values back.
    Ref ctx = function::context_of(&f);
    stack::mark(name, stack::kind::interp_func);
    stack::CallFrame* frame = stack::top_frame();
    frame->function_context = ctx;
    frame->saved_values = context::values_node(ctx);
    pos = fetch_lead(f, cache, p, block, pos, end, name);
    if (pending) return pos;
    push_places(p);
    if (by_path) {
        int32_t lean = refinements_by_plan(f, cache, p, block, pos, end, name, path, path_pos);
        pos = lean >= 0 ? lean : refinements_by_path(f, cache, block, pos, end, name, path, path_pos);
        if (pending) return pos;
    }
    if (int32_t locals = plan::extra(p); locals >= 1) {
        logic::push(false);
        for (int32_t i = 1; i < locals; ++i) none::push();
    }
    call_function(&f, ctx, name, 0);
    if (pending) return pos;
    if (sub) stack::unwind_func();
    else stack::unwind_func_last();
    stack::collapse_top();
    if (tracing) [[unlikely]]  // the body may have started a tracer
        fire_event(event::return_, block, pos, event_ref(name, &f), sub ? stack::top() : stack::arguments_base);
    return pos;
}

}  // namespace

int32_t call_native(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name) {
    return native_call<false>(fn, block, pos, end, sub, name, nullptr, 0);
}

int32_t call_plain_function(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name) {
    return function_call<false>(fn, block, pos, end, sub, name, nullptr, 0);
}

int32_t call_operator(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name) {
    Cell cache;
    uint32_t p = is_native(fn->type()) ? plan_of_cache(fn, &cache) : 0;
    if (!(p & plan::plain) || plan::lead(p) != 2) [[unlikely]]
        return call_any_function(fn, block, pos, end, sub, nullptr, 0, name, nullptr, 0, true);
    Cell f = *fn;
    // The left operand, at the top, is the frame's first argument.
    stack::mark_interp_native(name);
    stack::push_slot();
    check_argument(f, cache, 0, name);
    // The right operand takes no operator after it: those apply to this one's result.
    Cell v;
    if (pos < end && simple_operand(cell_at(block, pos), &v)) [[likely]] {
        stack::push(&v);
        ++pos;
    } else if (pos < end) {
        pos = eval_expression(block, pos, end, true, true, false);
        if (pending) return pos;
    } else {
        Call call;  // for the missing operand's error
        start_call(call, f, block, pos, end, name);
        call.infix = true;
        fetch_argument(call, normal, 1);
    }
    check_argument(f, cache, 1, name);
    if (!integer_in_place(p)) {
        run_native(f, unused_refinements.refs);
        if (pending) return pos;
    }
    if (sub) stack::unwind();
    else stack::unwind_last();
    if (tracing) [[unlikely]]  // the operator itself may have started a tracer
        fire_event(event::return_, block, pos, event_ref(name, &f), sub ? stack::top() : stack::arguments_base);
    return pos;
}

int32_t call_named(const Cell* fn, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* name,
                   const Cell* path, int32_t path_pos) {
    if (!name->is(Type::word)) name = &anon_word;  // a function picked by an index or a paren
    if (!tracing) [[likely]] {
        switch (fn->type()) {
            case Type::native: case Type::action:
                return path ? native_call<true>(fn, block, pos, end, sub, name, path, path_pos)
                            : native_call<false>(fn, block, pos, end, sub, name, nullptr, 0);
            case Type::function:
                return path ? function_call<true>(fn, block, pos, end, sub, name, path, path_pos)
                            : function_call<false>(fn, block, pos, end, sub, name, nullptr, 0);
            default: break;
        }
    }
    return call_any_function(fn, block, pos, end, sub, path, path_pos, name, nullptr, 0, false);
}

int32_t call_any_function(const Cell* fn_in, const Cell* block, int32_t pos, int32_t end, bool sub, const Cell* path,
                          int32_t path_pos, const Cell* name_in, const Cell* object, uint32_t mode, bool infix) {
    Cell fn = *fn_in;
    Cell name = (name_in && name_in->is(Type::word)) ? *name_in : anon_word;
    if (!name.is(Type::word)) name = anon_word;
    if (tracing) [[unlikely]] fire_event(event::open, block, pos, nullptr, &name);
    if (!infix) stack::push(&fn);
    Call call;  // refs: fetch_and_call sets as many as the function has refinements
    call.fn = &fn;
    call.fn_type = fn.type();
    call.block = block;
    call.pos = pos;
    call.end = end;
    call.name = &name;
    call.mode = mode;
    call.ref_count = 0;
    call.arg_count = 0;
    call.infix = infix;
    switch (fn.type()) {
        case Type::native: case Type::action:
            stack::mark_interp_native(&name);
            fetch_and_call(call, path, path_pos, infix);
            if (pending) return call.pos;
            if (sub) stack::unwind();
            else stack::unwind_last();
            break;
        case Type::function: case Type::routine: {
            // Arguments and locals live in the function's own context; a function picked
            // from an object reaches the object's fields through its body's binding.
            Ref ctx = function::context_of(&fn);
            stack::mark(&name, stack::kind::interp_func);
            // Unrolls past this frame put the context's values back.
            stack::CallFrame* f = stack::top_frame();
            f->function_context = ctx;
            f->saved_values = context::values_node(ctx);
            fetch_and_call(call, path, path_pos, infix);
            if (pending) return call.pos;
            call_function(&fn, ctx, &name, 0);
            if (pending) return call.pos;
            if (sub) stack::unwind_func();
            else stack::unwind_func_last();
            break;
        }
        default:
            runtime::quit(runtime::no_switch_match, 0);
    }
    if (!infix) stack::collapse_top();
    if (tracing) [[unlikely]]
        fire_event(event::return_, block, call.pos, event_ref(&name, &fn), sub ? stack::top() : stack::arguments_base);
    return call.pos;
}

}  // namespace zuv::interpreter
