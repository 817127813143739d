// The lexer's scanner: walks UTF-8 source with the generated state machine, finds each token's
// kind and extent, keeps the nesting of blocks, parens, maps, paths, points and braced strings,
// counts lines, sends the lexer events and reports syntax errors. It builds no values: a Loader
// receives every token that makes one, and the caller raises the SyntaxError it returns.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "reader/lexer-tables.h"

namespace zuv::lexer {

// The 36 token kinds; kind k is the terminal state terminal_base + k.
enum class Kind : uint8_t {
    end,            // end of input (or a NUL byte)
    error,          // a byte sequence that no form accepts
    block_open,     // [
    block_close,    // ]
    paren_open,     // (  (not when a point literal follows)
    paren_close,    // )
    brace_open,     // {
    brace_close,    // }
    map_open,       // #[
    path_start,     // a/  :a/  'a/
    construction,   // #(true)
    comment,        // ; to the end of the line
    comma,          // , outside a point literal
    string,         // "abc"
    word,           // abc a: :a 'a
    issue,          // #abc
    integer,        // 123 -5 1'000
    refinement,     // /abc
    char_,          // #"a"
    file,           // %a/b.txt %"a b"
    binary,         // #{0A0B} 2#{0101} 64#{AQI=}
    percent,        // 10% 1.5%
    float_,         // 1.5 1e5 .5 1.
    special_float,  // 1.#INF 1.#NaN
    tuple,          // 1.2.3
    date,           // 1-Jan-2000 2000-01-01T10:00
    pair,           // 1x2
    point,          // (1, 2) (1, 2, 3)
    time,           // 10:20 12:30:45.5
    money,          // $10 -$5 USD$1.50
    tag,            // <a b="c">
    url,            // ab://c/d a:b
    email,          // a@b
    hex_integer,    // FFh 0FFh
    raw_string,     // %{...}% %%{...}%%
    ref,            // @ref
};
static_assert(static_cast<int>(Kind::ref) + 1 == kind_count);

// Datatype ids the scanner names (the ids of the datatype registry).
namespace dt {
inline constexpr int32_t no_type = 0, datatype = 1, unset = 2, none = 3, logic = 4, block = 5, paren = 6, string = 7,
                         file = 8, url = 9, char_ = 10, integer = 11, float_ = 12, word = 15,
                         set_word = 16, lit_word = 17, get_word = 18, refinement = 19, issue = 20,
                         path = 25, lit_path = 26, set_path = 27, get_path = 28, error = 34, pair = 37,
                         percent = 38, tuple = 39, map = 40, binary = 41, time = 43, tag = 44,
                         email = 45, date = 47, money = 49, ref = 50, point2D = 51, point3D = 52;
}

// What a failed check reports. A datatype id (> 0) raises syntax `invalid` naming that datatype;
// the negative kinds raise the other syntax errors.
inline constexpr int32_t check_ok = 0;
inline constexpr int32_t bad_char = -1;       // syntax `bad-char`
inline constexpr int32_t malconstruct = -2;   // syntax `malconstruct`
inline constexpr int32_t missing_close = -3;  // syntax `missing`: an open series lacks its closer
inline constexpr int32_t missing_open = -4;   // syntax `missing`: a closer without its opener

// The word datatype a word token makes (its value is the datatype id).
enum class WordKind : uint8_t { word = 15, set = 16, lit = 17, get = 18 };

// The value a construction `#(...)` names.
enum class Construct : uint8_t { none, logic_true, logic_false, none_value, unset, datatype };

// One token. Offsets are bytes from the start of the scanned text.
//
// What each loader reads in [body_start, body_end) and what the scanner has already checked:
//   string        between the quotes; UTF-8 and caret escapes checked (decode_text, carets)
//   brace_close   (a braced string) between the outermost braces, flags of the whole string
//                 (flag::multiline when it spans lines); checked like a string
//   word          the symbol, without its sigil and a set-word's colon; `word` gives the
//                 datatype, UTF-8 and blanks checked. A path's first element comes as a word.
//   issue         after `#`; UTF-8 checked, not empty
//   construction  between `#(` and `)`; `construct` names the value, `type` its datatype
//   refinement    after `/` (a sigil before it is refused)
//   char          between `#"` and `"`: exactly one character or escape is the loader's check
//   file          after `%` (unquoted: %XX escapes, `^` plain) or between `%"` and `"` (caret
//                 escapes, no %XX)
//   binary        between `{` and `}`; the base is the text from `start` to the `#` (empty: 16)
//   percent       the number, without the `%` (which is at `end`)
//   hex_integer   the text before the final `h` (a sign or `'` in it is an error of integer!)
//   point         between `(` and `)`; `type` is point3D! when it holds two commas
//   tag, ref      after `<` (up to `>`), after `@`
//   raw_string    between the braces, no escapes; the closing `%` run already matched
//   others        (integer float special_float tuple date pair time money url email) the
//                 whole token text; a leading `:` or `'` on url, email and money is refused
// Flags include the byte that ended the token, so `a/b:` has flag::colon on `b`.
// The number loaders: an integer's `'` stands alone between digits, and more than 10 digits
// or an overflow load the same text as a float (except "-2147483648"); floats, percents and
// the numeric fields of times, dates and points go through float_syntax_q and scan_float of
// datatypes/number-scan.h, money through scan_money.
struct Token {
    Kind kind = Kind::end;
    int32_t type = dt::no_type;  // datatype id; refined by the checks (set-word!, point3D!, ...)
    uint32_t start = 0;          // the machine's token text [start, end): leading blanks skipped,
    uint32_t end = 0;            //   the byte that ended the token not included
    uint32_t next = 0;           // where the next token starts: end, or past a closing byte
    uint32_t body_start = 0;     // the part a loader reads (table above)
    uint32_t body_end = 0;
    uint32_t flags = 0;          // flag:: bits ORed over the token's bytes and the byte ending it
    int32_t line = 1;            // the current line after the token
    int32_t lines = 0;           // line breaks in the token and the blanks before it: a value made
                                 //   from it carries the new-line flag when this is positive
    uint8_t prev_state = 0;      // the machine's state before the terminal one
    WordKind word = WordKind::word;         // word tokens and a path's first element
    Construct construct = Construct::none;  // construction tokens
    bool point_start = false;               // a paren_open that begins a point literal
    int32_t fault = check_ok;               // an error found while measuring (raw strings)
};

// The value side of a scan. The scanner calls it only when the scan loads values, except that
// check passes (value with load == false) also run in scan-only use.
class Loader {
public:
    virtual ~Loader() = default;
    // A value token: kinds string to ref, a braced string (kind brace_close, the body between
    // the outermost braces, type string!), a construction, and the first word of a path (kind
    // word). With `load` false it only checks; with `load` true it appends the value (or
    // nothing, when it fails). Returns check_ok or the error kind to raise.
    virtual int32_t value(std::string_view input, const Token& token, bool load) = 0;
    // Opens a series of `kind` (dt::block, dt::paren, dt::map, or a path kind); `token` is the
    // opening token (for a path, its first word with the sigil).
    virtual void open(int32_t kind, const Token& token) = 0;
    // Closes the innermost open series, giving it `kind` (a path may close as dt::set_path).
    // A map with an odd count or a bad key returns dt::map; otherwise check_ok.
    virtual int32_t close(int32_t kind, const Token& token) = 0;
    // Removes the value appended last: the callback refused its load event.
    virtual void drop_last() = 0;
    // A syntax error is about to be raised: drop what this scan built, open series included.
    virtual void abandon() {}
};

// The six lexer events; the values are their bits in an event mask.
enum class Event : uint8_t { prescan = 1, scan = 2, load = 4, open = 8, close = 16, error = 32 };
inline constexpr uint32_t all_events = 0x3F;

// The `type` argument of an event.
struct EventType {
    enum class Of : uint8_t {
        none,        // the token has no type
        datatype,    // value: a datatype id
        exit_state,  // value: a structure kind, the index into system/lexer/exit-states
        character,   // value: the expected closing character of a `missing` error
    };
    Of of = Of::none;
    int32_t value = 0;
    bool operator==(const EventType&) const = default;
};

struct EventInfo {
    Event event = Event::prescan;
    EventType type;
    int32_t line = 1;
    // Positions in the input's units: characters for string input, bytes otherwise.
    uint32_t index = 0;        // where the input's index is set (0-based)
    uint32_t token_start = 0;  // the token's extent as a 1-based pair (start, end)
    uint32_t token_end = 0;
};

struct Answer {
    bool accept = true;
    // The input's index after the call, when the callback moved it: the scan resumes there.
    std::optional<uint32_t> index;
};

class Callback {
public:
    virtual ~Callback() = default;
    virtual Answer event(const EventInfo& info) = 0;
    uint32_t mask = all_events;  // see event_mask
};

// The events a callback asks for: all six when its body does not begin with a block, else the
// events named (case-insensitively) by the words of that block.
uint32_t event_mask(bool body_begins_with_block, std::span<const std::string_view> words);

struct Options {
    bool one_value = false;     // stop after the first complete top-level value
    bool scan = true;           // false: prescan, token kinds only (never loads)
    bool load = true;           // build values through the loader
    bool string_input = false;  // event positions and `consumed` count characters, not bytes
    Loader* loader = nullptr;
    Callback* callback = nullptr;
};

// A syntax error for the caller to raise as category `syntax`.
struct SyntaxError {
    enum class Id : uint8_t { bad_char, malconstruct, missing, invalid };
    Id id = Id::invalid;
    int32_t kind = 0;       // the error kind it came from
    std::string line_text;  // "(line N)"
    int32_t datatype = 0;   // `invalid`: the datatype named
    char expected = 0;      // `missing`: the character named
    std::string excerpt;    // at most 30 bytes of the line from `offset`, whole characters
    uint32_t offset = 0;    // byte offset where the excerpt starts
};

struct Result {
    int32_t type = dt::no_type;  // datatype id of the last token that had one (error! when
                                 //   a check failed in a scan that does not load)
    uint32_t position = 0;    // byte offset where the scan stopped
    uint32_t consumed = 0;    // the same in the input's units
    int32_t line = 1;
    std::optional<SyntaxError> error;  // set when the scan must raise it
    bool dropped = false;  // the callback refused the error of a series left open at the end:
                           //   the scan's result is none
};

// Scans `input` (UTF-8). Not reentrant on one Loader, but scans may nest (a callback or a
// loader may start another scan).
Result scan(std::string_view input, const Options& options);

}  // namespace zuv::lexer
