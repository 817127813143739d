// The PARSE engine: its two work blocks, the main loop over rule elements, alternatives,
// trace events and nested runs. Frames are three cells each of the rules stack, read by
// index since user code run from the rules may move every buffer.
#include "evaluator/parse.h"

#include <cassert>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/plain-expression.h"
#include "evaluator/trace.h"
#include "evaluator/parse-engine.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "memory/context-node.h"
#include "runtime/system.h"

namespace zuv::parse {

namespace {

// The work blocks, cells of the root block (which never moves). Each run uses them from
// their heads on and leaves them as it found them.
Cell* rules_stack = nullptr;
Cell* inputs_stack = nullptr;

// A work block holding more cells than this ends the run with parse-stack: it bounds the
// nesting of rules (and runaway recursion through words) without touching the machine stack.
constexpr int32_t stack_limit = 10000;

// Keywords by resolved symbol id.
std::vector<Keyword> keywords;
// The same by the symbol id a word holds, filled as words are met, so that the rules' words
// cost no alias lookup after the first time: the keyword plus one, 0 for not looked up yet.
std::vector<uint8_t> keywords_by_id;

void add_keyword(int32_t symbol_id, Keyword k) {
    auto s = static_cast<size_t>(symbol::resolve(symbol_id));
    if (s >= keywords.size()) keywords.resize(s + 1, Keyword::no_keyword);
    keywords[s] = k;
}

inline int32_t length_of(const Cell* block) { return series::buffer_length(block); }

}  // namespace

void init() {
    inputs_stack = block::make_in(nullptr, 8);
    rules_stack = block::make_in(nullptr, 100);
    keywords.clear();
    keywords_by_id.clear();
    keywords_seen = nullptr;
    keywords_seen_count = 0;
    using namespace words;
    struct Entry {
        int32_t symbol;
        Keyword k;
    };
    const Entry entries[] = {
        {sym::bar, Keyword::bar},       {sym::skip, Keyword::skip},       {sym::any, Keyword::any},
        {sym::some, Keyword::some},     {sym::opt, Keyword::opt},         {sym::while_, Keyword::while_},
        {sym::copy, Keyword::copy},     {sym::set, Keyword::set},         {sym::to, Keyword::to},
        {sym::thru, Keyword::thru},     {sym::remove, Keyword::remove},   {sym::break_, Keyword::break_},
        {sym::keep, Keyword::keep},     {sym::fail, Keyword::fail},       {sym::ahead, Keyword::ahead},
        {sym::into, Keyword::into},     {sym::insert, Keyword::insert},   {sym::end, Keyword::end},
        {sym::if_, Keyword::if_},       {sym::not_, Keyword::not_},       {sym::quote, Keyword::quote},
        {sym::collect, Keyword::collect}, {sym::case_, Keyword::case_},   {sym::reject, Keyword::reject},
        {sym::none, Keyword::none},     {sym::pick, Keyword::pick},       {sym::only, Keyword::only},
        {sym::after, Keyword::after},   {global::change->int2(), Keyword::change},
    };
    for (const Entry& e : entries) add_keyword(e.symbol, e.k);
}

const uint8_t* keywords_seen = nullptr;
uint32_t keywords_seen_count = 0;

Keyword keyword_lookup(const Cell* element) {
    const auto id = static_cast<size_t>(element->int2());
    if (id < keywords_by_id.size() && keywords_by_id[id]) return static_cast<Keyword>(keywords_by_id[id] - 1);
    auto s = static_cast<size_t>(symbol::resolve(element->int2()));
    const Keyword k = s < keywords.size() ? keywords[s] : Keyword::no_keyword;
    if (id >= keywords_by_id.size()) keywords_by_id.resize(id + 1 + id / 2, 0);
    keywords_by_id[id] = static_cast<uint8_t>(static_cast<uint8_t>(k) + 1);
    keywords_seen = keywords_by_id.data();
    keywords_seen_count = static_cast<uint32_t>(keywords_by_id.size());
    return k;
}

// =============================================================================================
// Input

bool Engine::same_series_q(const Cell* value) const {
    return value->type() == input.type() && series::node(value) == series::node(&input);
}

// =============================================================================================
// Rules

Cell Engine::rule_position(int32_t index) const {
    Cell r = rule;
    int32_t tail = rule_tail();
    series::set_head(&r, index < 0 ? 0 : index > tail ? tail : index);
    return r;
}

// =============================================================================================
// Frames

int32_t Engine::top_frame() const {
    int32_t f = length_of(rules_stack) - frame_cells;
    return f >= rules_base ? f : -1;
}

Cell* Engine::frame(int32_t f, int32_t k) const { return block::cell_at(rules_stack, f + k); }

bool Engine::command_frame_q(int32_t f) const { return !frame(f, 0)->is(Type::none); }
int32_t Engine::frame_code(int32_t f) const { return pair::x(frame(f, 2)); }
int32_t Engine::frame_flag(int32_t f) const { return pair::y(frame(f, 2)); }
int32_t Engine::frame_start(int32_t f) const { return triple::get(frame(f, 1), 2); }

namespace {

// The three cells of a new frame at the rules stack's tail, to be filled at once; valid
// until the next allocation. Either work block over its limit ends the run first (both
// hold cells: their lengths need no unit lookup).
Cell* new_frame() {
    memory::SeriesBuffer* b = series::buffer(rules_stack);
    if (b->used_bytes() / sizeof(Cell) > stack_limit ||
        series::buffer(inputs_stack)->used_bytes() / sizeof(Cell) > stack_limit) [[unlikely]]
        error::raise(error::id::script_parse_stack);
    if (b->tail_ptr() + frame_cells * sizeof(Cell) > b->data_end()) [[unlikely]] {
        for (int32_t i = 0; i < frame_cells; ++i) block::alloc_tail_cell(rules_stack);
        return series::buffer(rules_stack)->cells_end() - frame_cells;
    }
    Cell* f = b->cells_end();
    b->tail += frame_cells * sizeof(Cell);
    return f;
}

inline void make_triple(Cell* c, int32_t a, int32_t b, int32_t c3) {
    cell::make(c, Type::triple, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c3));
}

}  // namespace

void Engine::push_block(const Cell& block) {
    const Cell entered = block, enclosing = rule;
    const int32_t at = head(), rest = remaining();
    Cell* f = new_frame();
    f[0] = none::shared;
    make_triple(&f[1], pos, at, rest);
    f[2] = enclosing;
    rule = entered;
    pos = (entered.int1() > 0 ? entered.int1() : 0) - 1;
    fire(words::global::push);
}

void Engine::push_command(const Cell& first, int32_t index, int32_t command, int32_t flag) {
    const Cell f0 = first;
    const int32_t at = head(), rest = remaining();
    Cell* f = new_frame();
    f[0] = f0;
    make_triple(&f[1], index, at, rest);
    cell::make(&f[2], Type::pair, 0, static_cast<uint32_t>(command), static_cast<uint32_t>(flag));
    fire(words::global::push);
}

void Engine::drop_frame(int32_t f) {
    block::truncate_at(rules_stack, f);
    fire(words::global::pop);
}

void Engine::push_input(const Cell& series) {
    Cell s = series;
    block::append(inputs_stack, &s);
    ++depth;
    input = s;
}

void Engine::pop_input() {
    int32_t last = length_of(inputs_stack) - 1;
    block::truncate_at(inputs_stack, last);
    --depth;
    input = *block::cell_at(inputs_stack, last - 1);
}

// =============================================================================================
// Events and code in the rules

void Engine::call_trace(const Cell* event_word) {
    // The callback gets a copy of the frames: a callback that changed the engine's own
    // stack could make it read frames that are not there.
    Cell args[5] = {*event_word, none::shared, rule_position(pos), input, none::shared};
    logic::make_at(&args[1], match);
    int32_t n = length_of(rules_stack) - rules_base;
    Ref frames = series::copy_part(series::node(rules_stack), rules_base, n);
    cell::make(&args[4], Type::block, 0, frames, 0);
    Cell fn = callback;
    Cell answer = interpreter::call_with(&fn, words::global::parse_callback_tag, args, 5, interpreter::callback::parse);
    set_head(head());  // the callback may have shortened the input
    if (!logic::truth(&answer)) throw Stop{};
}

bool Engine::quick_paren(const Cell& paren, Cell* result) {
    // A tracer hears every step of the evaluator.
    if (interpreter::tracing) return false;
    const int32_t at = paren.int1(), end = series::buffer_length(&paren);
    if (at < 0 || end - at < 2) return false;
    const Cell word = *block::cell_at(&paren, at);
    if (!word.is(Type::set_word)) return false;
    // Near the end of either stack the evaluator must run, to report the overflow as ever.
    if (stack::calls_top + 8 >= stack::calls_end ||
        reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < runtime::stack_limit + 64 * 1024)
        return false;
    // Only the direct store: an object's field tells its change to code of its own.
    Cell value;
    if (interpreter::simple_expression(&paren, at + 1, end, false, &value) != end) return false;
    if (!context::set_in_place(&word, &value)) return false;
    *result = value;
    return true;
}

Cell Engine::eval_paren(const Cell& paren) {
    Cell result;
    // A quick paren only stores a plain value in a word: the rules and the input are as they were.
    if (!quick_paren(paren, &result)) {
        Cell code = paren;
        Cell* mark = stack::arguments_top;
        interpreter::eval_block(&code, false);
        // break, continue, return, exit and throw already rearranged the stacks for their
        // target: they leave the engine as a C++ throw, which the target takes.
        if (interpreter::pending) interpreter::throw_pending();
        result = *stack::top();
        stack::arguments_top = mark;
        // The paren may have changed the rules block or the input under the engine.
        int32_t tail = rule_tail();
        if (pos >= tail) pos = tail - 1;
        set_head(head());
    }
    fire(words::global::paren);
    return result;
}

// =============================================================================================
// The main loop

// Inlined into the main loop: these run several times for each element of input.
[[gnu::always_inline]] inline State Engine::fetch() {
    ++pos;
    if (traced) [[unlikely]] {
        if (pos >= rule_tail()) return State::end_block;
        call_trace(words::global::fetch);
        if (pos >= rule_tail()) return State::end_block;
        return dispatch(rule_at(pos), nullptr);
    }
    // A rule block's cells are 16 bytes each: its length needs no unit lookup.
    const memory::SeriesBuffer* b = series::buffer(&rule);
    if (pos >= static_cast<int32_t>(b->used_bytes() / sizeof(Cell))) return State::end_block;
    // The commands take a copy: one may run a paren that moves the rule's buffer, and still
    // name the element in its error after that. The keyword is read from the buffer itself,
    // not from the copy just stored, which the processor would have to wait for.
    const Cell* at = b->cells() + pos;
    // Most elements are keywords: they go to their command without the dispatch.
    const Keyword k = keyword_of(at);
    if (k == Keyword::no_keyword) {
        const Cell element = *at;
        return dispatch(element, nullptr);
    }
    // The commonest keywords branch here, each on its own, rather than all through the one
    // jump of the command switch, which alternates between them and so is often mispredicted.
    if (k == Keyword::some || k == Keyword::any) {
        const Cell element = *at;
        return repetition(k == Keyword::some ? 1 : 0, -1, code::repeat, element);
    }
    if (k == Keyword::bar) {
        pos = rule_tail();
        return State::end_block;
    }
    const Cell element = *at;
    return keyword(k, element);
}

State Engine::dispatch(const Cell& element, const Cell* word) {
    switch (element.type()) {
        case Type::block:
            push_block(element);
            return State::fetch;
        case Type::word: {
            // A word met through another word's value is refused below, so word is null here.
            Keyword k = keyword_of(&element);
            if (k != Keyword::no_keyword) return keyword(k, element);
            Cell v = *context::get(&element);
            if (v.is(Type::unset) || v.is(Type::word)) error::raise(error::id::script_parse_rule, &element);
            return dispatch(v, &element);
        }
        case Type::set_word: {
            Cell w = element, at = input;
            context::set(&w, &at);
            return State::fetch;
        }
        case Type::get_word: {
            Cell v = *context::get(&element);
            if (!same_series_q(&v)) error::raise(error::id::script_parse_invalid_ref, &element);
            set_head(v.int1());
            return matched(true);
        }
        case Type::integer:
            return count(element);
        case Type::paren:
            eval_paren(element);
            match = true;
            return State::after;
        case Type::datatype: case Type::typeset:
            return match_type(element);
        case Type::path: {
            Cell at = word ? *word : rule_position(pos);
            error::raise(error::id::script_parse_rule, &at);
        }
        default:
            return match_literal(element);
    }
}

[[gnu::always_inline]] inline State Engine::after_step() {
    const memory::SeriesBuffer* b = series::buffer(rules_stack);
    const int32_t f = static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) - frame_cells;
    assert(f >= rules_base);  // the outermost block frame stays until the run ends
    if (!b->cells()[f].is(Type::none)) return finish(f);
    if (leave) {
        leave = false;
        pos = rule_tail();
        return State::end_block;
    }
    break_ = false;  // no repetition governed the block the break left
    return match ? State::fetch : State::alternative;
}

[[gnu::always_inline]] inline State Engine::alternative() {
    set_head(frame_start(top_frame()));
    const memory::SeriesBuffer* b = series::buffer(&rule);
    const Cell* cells = b->cells();
    const auto tail = static_cast<int32_t>(b->used_bytes() / sizeof(Cell));
    for (int32_t i = pos + 1; i < tail; ++i) {
        if (keyword_of(&cells[i]) == Keyword::bar) {
            pos = i;
            match = true;
            return State::fetch;
        }
    }
    return State::end_block;
}

[[gnu::always_inline]] inline bool Engine::end_block() {
    const int32_t f = top_frame();
    const Cell* frame_at = frame(f, 0);
    if (!frame_at[0].is(Type::none)) {
        // The block ended under a command whose rule never came (e.g. a set-word after it).
        int32_t at = triple::get(frame(f, 1), 1);
        Cell keyword = has_rule(at) ? rule_at(at) : none::shared;
        error::raise(error::id::script_parse_end, &keyword);
    }
    const Cell saved = frame_at[1], enclosing = frame_at[2];
    if (!match) set_head(saved.int2());
    const bool outermost = f == rules_base;
    if (outermost && pos < rule_tail()) match = false;
    block::truncate_at(rules_stack, f);
    rule = enclosing;
    pos = saved.int1();
    fire(words::global::pop);
    return !outermost;
}

// The end of a block a repetition governs, when it matched and the repetition goes on: the
// steps of ending the block, counting the round and entering the rule again, taken in place
// (the block's frame stays for the next round). False, with nothing changed, for every other
// case, which takes those steps one by one. A trace hears each step, so it never comes here.
bool Engine::repeat_in_place() {
    memory::SeriesBuffer* b = series::buffer(rules_stack);
    const int32_t f = static_cast<int32_t>(b->used_bytes() / sizeof(Cell)) - frame_cells;
    if (f - frame_cells < rules_base || break_) return false;
    Cell* block_frame = b->cells() + f;
    Cell* repeat_frame = block_frame - frame_cells;
    if (!block_frame[0].is(Type::none) || repeat_frame[0].is(Type::none)) return false;
    const int32_t command = pair::x(&repeat_frame[2]);
    if (command != code::repeat && command != code::while_) return false;
    const int32_t maximum = repeat_frame[0].int2(), counter = repeat_frame[0].int3();
    if (maximum >= 0 && counter >= maximum) return false;
    const int32_t at = head(), rest = remaining();
    const Cell saved = repeat_frame[1];
    if (command != code::while_ && at == saved.int2() && rest >= saved.int3()) return false;
    // The rule is read again, as the next round would: a paren may have changed it.
    const Cell& enclosing = block_frame[2];
    const int32_t next = saved.int1() + 1;
    const memory::SeriesBuffer* eb = series::buffer(&enclosing);
    if (next >= static_cast<int32_t>(eb->used_bytes() / sizeof(Cell))) return false;
    const Cell* element = &eb->cells()[next];
    if (element->is(Type::word)) {
        if (keyword_of(element) != Keyword::no_keyword) return false;
        element = context::bound_value(element);
        if (!element) return false;
    }
    if (!element->is(Type::block)) return false;
    const Cell entered = *element;
    repeat_frame[0].data3 = static_cast<uint32_t>(counter + 1);
    repeat_frame[1].data2 = static_cast<uint32_t>(at);
    repeat_frame[1].data3 = static_cast<uint32_t>(rest);
    make_triple(&block_frame[1], next, at, rest);
    rule = entered;
    pos = (entered.int1() > 0 ? entered.int1() : 0) - 1;
    return true;
}

void Engine::run(const Cell& rules) {
    rule = rules;
    pos = -1;
    push_block(rules);
    State s = State::fetch;
    for (;;) {
        switch (s) {
            // The common successions are taken straight on.
            case State::fetch:
                s = fetch();
                if (s != State::after) break;
                [[fallthrough]];
            case State::after:
                s = after_step();
                if (s != State::alternative) break;
                [[fallthrough]];
            case State::alternative: s = alternative(); break;
            case State::end_block:
                if (match && !traced && repeat_in_place()) {
                    s = State::fetch;
                    break;
                }
                if (!end_block()) {
                    if (match && depth == 1 && remaining() > 0) match = false;
                    fire(words::global::end);
                    return;
                }
                s = State::after;
                break;
        }
    }
}

// =============================================================================================
// Entry

Cell* match_rules(const Cell* input_cell, const Cell* rules_cell, int32_t mode, int32_t limit, const Cell* callback) {
    Cell input = *input_cell, rules = *rules_cell;
    Cell* result = none::push();
    Engine e;
    e.mode = mode;
    e.limit = limit;
    e.result = result;
    if (callback) {
        e.callback = *callback;
        e.traced = true;
    }
    // A run inside a paren or a callback of another run works above it: a marker records the
    // outer run's heads, and both heads move to the tails.
    int32_t rules_head = rules_stack->int1(), inputs_head = inputs_stack->int1();
    int32_t rules_mark = length_of(rules_stack), inputs_mark = length_of(inputs_stack);
    if (rules_mark > rules_head) triple::make_in(rules_stack, rules_head, inputs_head, 0);
    e.rules_base = length_of(rules_stack);
    series::set_head(rules_stack, e.rules_base);
    series::set_head(inputs_stack, inputs_mark);
    auto restore = [&] {
        block::truncate_at(rules_stack, rules_mark);
        block::truncate_at(inputs_stack, inputs_mark);
        series::set_head(rules_stack, rules_head);
        series::set_head(inputs_stack, inputs_head);
    };
    bool stopped = false;
    try {
        e.push_input(input);
        e.set_head(e.head());  // an index past the tail stands for the tail
        e.run(rules);
    } catch (const Stop&) {
        stopped = true;
    } catch (...) {
        restore();
        throw;
    }
    restore();
    stack::arguments_top = result + 1;
    if (stopped || !result->is(Type::block)) logic::make_at(result, e.match);
    return result;
}

}  // namespace zuv::parse
