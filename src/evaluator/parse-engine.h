// The state of one PARSE run, shared by the main loop (parse.cpp) and the commands.
// Parens and the trace callback run user code that may move every buffer and change the
// input or the rules: positions are indexes, checked against the tails when used.
#pragma once
#include <cstdint>

#include "memory/cell.h"
#include "memory/memory.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/words-builtin.h"

namespace zuv::parse {

// The code of a command frame (the third cell of a frame, a pair! of code and flag).
namespace code {
constexpr int32_t repeat = -1, to = -2, thru = -3, copy = -4, set = -5, not_ = -6, into = -7, remove = -9,
                  while_ = -11, collect = -12, keep = -13, keep_paren = -14, ahead = -16, change = -17,
                  change_only = -18, case_ = -19;
}

// How a collect level stores what keep gives it: the flag of a collect frame (the flag of
// a keep frame is 1 for keep pick).
namespace collect_kind {
constexpr int32_t block = 0, set = 1, into = 2, after = 3;
}

enum class Keyword : uint8_t {
    no_keyword, bar, skip, any, some, opt, while_, copy, set, to, thru, remove, break_, keep, fail, ahead,
    into, insert, change, end, if_, not_, quote, collect, case_, reject, none,
    // meaningful only right after another keyword
    pick, only, after,
};

// The keyword a rule element names (a word! only), by its case-folded symbol. Rules meet the
// same few words over and over: the symbol ids already seen answer inline.
Keyword keyword_lookup(const Cell* element);
extern const uint8_t* keywords_seen;  // by the symbol id a word holds: the keyword plus one, 0 unseen
extern uint32_t keywords_seen_count;
inline Keyword keyword_of(const Cell* element) {
    if (!element->is(Type::word)) return Keyword::no_keyword;
    const uint32_t id = element->data2;
    if (id < keywords_seen_count && keywords_seen[id]) [[likely]]
        return static_cast<Keyword>(keywords_seen[id] - 1);
    return keyword_lookup(element);
}

// What the main loop does next.
enum class State { fetch, after, alternative, end_block };

// Thrown when the trace callback asks to stop: the run ends with the current match flag.
struct Stop {};

// Frame cells: a frame is three cells of the rules stack, from its first cell's index.
constexpr int32_t frame_cells = 3;

struct Engine {
    Cell input;             // the current input; its head moves
    Cell rule;              // the current rule block
    int32_t pos = -1;       // absolute index of the current rule element in rule
    int32_t mode = 0;       // 0, or 2 for strict comparison
    int32_t limit = 0;      // absolute end of the outermost input, 0 for none
    Cell callback;          // the trace function!, when traced is set
    bool traced = false;
    int32_t depth = 0;      // inputs this run has on the inputs stack
    int32_t rules_base = 0;   // first cell of this run's frames
    int32_t collecting = 0;   // open collect commands
    Cell* result = nullptr;   // argument-stack slot of a top-level collect's block
    bool match = true;
    bool break_ = false;  // a break or reject waits for the repetition it stops
    bool leave = false;   // a break or reject leaves its block once the frames above it finish

    // ---- input (parse.cpp)
    int32_t head() const { return input.int1(); }
    // Where the current input ends: its tail, or the limit at the outermost level (a nested
    // input of into ends at its tail).
    int32_t end_index() const {
        int32_t tail = series::buffer_length(&input);
        return depth == 1 && limit > 0 && limit < tail ? limit : tail;
    }
    int32_t remaining() const {
        int32_t n = end_index() - head();
        return n > 0 ? n : 0;
    }
    bool at_end() const { return head() >= end_index(); }
    void set_head(int32_t index) {  // clamped to the input's tail
        const int32_t tail = series::buffer_length(&input);
        series::set_head(&input, index < 0 ? 0 : index > tail ? tail : index);
    }
    bool block_input() const { return block::family_q(input.type()); }
    bool string_input() const { return string::family_q(input.type()); }
    bool same_series_q(const Cell* value) const;  // a position in the input series itself

    // ---- rules (parse.cpp)
    int32_t rule_tail() const { return series::buffer_length(&rule); }
    bool has_rule(int32_t index) const { return index >= 0 && index < rule_tail(); }
    // A copy; index must be below the tail.
    Cell rule_at(int32_t index) const { return series::buffer(&rule)->cells()[index]; }
    Cell rule_position(int32_t index) const;  // the rule block with its head at index

    // ---- frames (parse.cpp)
    int32_t top_frame() const;  // index of the top frame's first cell, or -1
    Cell* frame(int32_t f, int32_t k) const;  // valid until the next allocation
    bool command_frame_q(int32_t f) const;
    int32_t frame_code(int32_t f) const;
    int32_t frame_flag(int32_t f) const;
    int32_t frame_start(int32_t f) const;  // the input head saved in the frame
    void push_block(const Cell& block);
    // A command frame: first cell (a word, or a triple of minimum, maximum, counter), the
    // index the command resumes from, the code and its flag.
    void push_command(const Cell& first, int32_t index, int32_t command, int32_t flag);
    void drop_frame(int32_t f);  // takes the frame (and any above it) off; sends pop
    void push_input(const Cell& series);
    void pop_input();

    // ---- events and code (parse.cpp)
    void fire(const Cell* event_word) {
        if (traced) [[unlikely]]
            call_trace(event_word);
    }
    [[gnu::noinline]] void call_trace(const Cell* event_word);
    // A paren of one assignment of a plain value ("n: n + 1"): done here without a frame of
    // the evaluator; false when the evaluator must run the paren.
    bool quick_paren(const Cell& paren, Cell* result);
    Cell eval_paren(const Cell& paren);
    State matched(bool ok) {  // a match attempt finished: sets the flag, sends match
        match = ok;
        fire(words::global::match);
        return State::after;
    }

    // ---- the main loop (parse.cpp)
    void run(const Cell& rules);
    State fetch();
    State dispatch(const Cell& element, const Cell* word);
    State after_step();
    State alternative();
    bool end_block();  // false once the outermost block has ended
    bool repeat_in_place();

    // ---- matching (parse-commands.cpp)
    // Units the literal matches at an absolute index of the input, or -1.
    int32_t match_at(int32_t at, const Cell& value) const;
    State match_literal(const Cell& value);
    State match_type(const Cell& type);
    bool match_type_binary(const Cell& type);
    bool match_repeated(const Cell& value, int32_t minimum, int32_t maximum);
    bool repeat_charset(const Cell& charset, int32_t minimum, int32_t maximum);  // string input
    int32_t find_literal(const Cell& value, bool thru);  // the head after the search, or -1
    bool fast_literal_q(const Cell& element) const;

    // ---- commands (parse-commands.cpp)
    State keyword(Keyword k, const Cell& element);
    State count(const Cell& element);
    State repetition(int32_t minimum, int32_t maximum, int32_t command, const Cell& keyword);
    State to_thru(bool thru, const Cell& keyword);
    State copy_set(bool set, const Cell& keyword);
    State governed(int32_t command, const Cell& keyword);  // not, ahead, remove: a rule follows
    State into_(const Cell& keyword);
    State insert_(const Cell& keyword);
    State change_(const Cell& keyword);
    State remove_(const Cell& keyword);
    State collect_(const Cell& keyword);
    State keep_(const Cell& keyword);
    State if_(const Cell& keyword);
    State case_(const Cell& keyword);
    State finish(int32_t f);  // the command of the top frame takes the result of its rule
    Cell command_value(int32_t index);  // the value of insert and change
    void keep_value(const Cell& value);
    void keep_matched(int32_t start, bool each);
    void end_collect(int32_t f);
    State finish_repeat(int32_t f);
    State finish_to(int32_t f, bool thru);
    State finish_into(int32_t f);
    bool position_word_q(int32_t index, Cell* position) const;
};

}  // namespace zuv::parse
