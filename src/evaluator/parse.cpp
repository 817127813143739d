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
#include "evaluator/trace.h"
#include "evaluator/parse-engine.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/memory.h"
#include "memory/stack.h"

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

Keyword keyword_of(const Cell* element) {
    if (!element->is(Type::word)) return Keyword::no_keyword;
    const auto id = static_cast<size_t>(element->int2());
    if (id < keywords_by_id.size() && keywords_by_id[id]) return static_cast<Keyword>(keywords_by_id[id] - 1);
    auto s = static_cast<size_t>(symbol::resolve(element->int2()));
    const Keyword k = s < keywords.size() ? keywords[s] : Keyword::no_keyword;
    if (id >= keywords_by_id.size()) keywords_by_id.resize(id + 1 + id / 2, 0);
    keywords_by_id[id] = static_cast<uint8_t>(static_cast<uint8_t>(k) + 1);
    return k;
}

// =============================================================================================
// Input

bool Engine::block_input() const { return block::family_q(input.type()); }
bool Engine::string_input() const { return string::family_q(input.type()); }

int32_t Engine::end_index() const {
    int32_t tail = length_of(&input);
    // The limit bounds the outermost input only; a nested input of into ends at its tail.
    if (depth == 1 && limit > 0 && limit < tail) return limit;
    return tail;
}

int32_t Engine::remaining() const {
    int32_t n = end_index() - head();
    return n > 0 ? n : 0;
}

void Engine::set_head(int32_t index) {
    int32_t tail = length_of(&input);
    series::set_head(&input, index < 0 ? 0 : index > tail ? tail : index);
}

bool Engine::same_series_q(const Cell* value) const {
    return value->type() == input.type() && series::node(value) == series::node(&input);
}

// =============================================================================================
// Rules

int32_t Engine::rule_tail() const { return length_of(&rule); }

Cell Engine::rule_at(int32_t index) const { return *block::cell_at(&rule, index); }

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

void Engine::check_stacks() const {
    if (length_of(rules_stack) > stack_limit || length_of(inputs_stack) > stack_limit)
        error::raise(error::id::script_parse_stack);
}

void Engine::push_block(const Cell& block) {
    check_stacks();
    Cell saved;
    triple::make_at(&saved, pos, head(), remaining());
    Cell enclosing = rule;
    block::append(rules_stack, &none::shared);
    block::append(rules_stack, &saved);
    block::append(rules_stack, &enclosing);
    rule = block;
    pos = (block.int1() > 0 ? block.int1() : 0) - 1;
    fire(words::global::push);
}

void Engine::push_command(const Cell& first, int32_t index, int32_t command, int32_t flag) {
    check_stacks();
    Cell f0 = first, saved, kind;
    triple::make_at(&saved, index, head(), remaining());
    cell::make(&kind, Type::pair);
    pair::make_at(&kind, command, flag);
    block::append(rules_stack, &f0);
    block::append(rules_stack, &saved);
    block::append(rules_stack, &kind);
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

void Engine::fire(const Cell* event_word) {
    if (!traced) return;
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

Cell Engine::eval_paren(const Cell& paren) {
    Cell code = paren;
    Cell* mark = stack::arguments_top;
    interpreter::eval_block(&code, false);
    // break, continue, return, exit and throw already rearranged the stacks for their target:
    // they leave the engine as a C++ throw, which the target takes.
    if (interpreter::pending) interpreter::throw_pending();
    Cell result = *stack::top();
    stack::arguments_top = mark;
    // The paren may have changed the rules block or the input under the engine.
    int32_t tail = rule_tail();
    if (pos >= tail) pos = tail - 1;
    set_head(head());
    fire(words::global::paren);
    return result;
}

State Engine::matched(bool ok) {
    match = ok;
    fire(words::global::match);
    return State::after;
}

// =============================================================================================
// The main loop

State Engine::fetch() {
    ++pos;
    if (pos >= rule_tail()) return State::end_block;
    fire(words::global::fetch);
    if (pos >= rule_tail()) return State::end_block;
    return dispatch(rule_at(pos), nullptr);
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

State Engine::after_step() {
    int32_t f = top_frame();
    assert(f >= rules_base);  // the outermost block frame stays until the run ends
    if (command_frame_q(f)) return finish(f);
    if (leave) {
        leave = false;
        pos = rule_tail();
        return State::end_block;
    }
    break_ = false;  // no repetition governed the block the break left
    return match ? State::fetch : State::alternative;
}

State Engine::alternative() {
    set_head(frame_start(top_frame()));
    int32_t tail = rule_tail();
    for (int32_t i = pos + 1; i < tail; ++i) {
        if (keyword_of(block::cell_at(&rule, i)) == Keyword::bar) {
            pos = i;
            match = true;
            return State::fetch;
        }
    }
    return State::end_block;
}

bool Engine::end_block() {
    int32_t f = top_frame();
    if (command_frame_q(f)) {
        // The block ended under a command whose rule never came (e.g. a set-word after it).
        int32_t at = triple::get(frame(f, 1), 1);
        Cell keyword = has_rule(at) ? rule_at(at) : none::shared;
        error::raise(error::id::script_parse_end, &keyword);
    }
    if (!match) set_head(frame_start(f));
    bool outermost = f == rules_base;
    if (outermost && pos < rule_tail()) match = false;
    Cell enclosing = *frame(f, 2);
    int32_t resume = triple::get(frame(f, 1), 1);
    block::truncate_at(rules_stack, f);
    rule = enclosing;
    pos = resume;
    fire(words::global::pop);
    return !outermost;
}

void Engine::run(const Cell& rules) {
    rule = rules;
    pos = -1;
    push_block(rules);
    State s = State::fetch;
    for (;;) {
        switch (s) {
            case State::fetch: s = fetch(); break;
            case State::after: s = after_step(); break;
            case State::alternative: s = alternative(); break;
            case State::end_block:
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
