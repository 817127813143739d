// The lexer's scanner: the token loop over the generated state machine, the structure tokens
// (nesting, braced strings, paths, points), the checks of strings, words, issues and
// constructions, the lexer events and the syntax errors. Values are left to the Loader.
#include "reader/lexer-scan.h"

#include <algorithm>
#include <utility>
#include <cassert>
#include <vector>

#include "memory/case-folding.h"
#include "reader/lexer-text.h"

namespace zuv::lexer {
namespace {

// Unwinds a scan once its syntax error has been recorded in the result.
struct Raised {};

struct Open {
    int32_t kind;     // dt::block, dt::paren, dt::map, dt::point2D (a paren that met a comma), or a path kind
    uint32_t offset;  // where the opening token starts
};

bool is_path(int32_t kind) { return kind >= dt::path && kind <= dt::get_path; }

char closer_of(int32_t kind) { return kind == dt::block || kind == dt::map ? ']' : ')'; }

// The bytes that end most tokens (the grammar's set D).
bool hard_delimiter(int c) {
    switch (c) {
        case c_blank: case c_line: case c_lbracket: case c_rbracket: case c_lparen: case c_rparen:
        case c_lbrace: case c_rbrace: case c_dquote: case c_semicolon: case c_end:
            return true;
        default:
            return false;
    }
}

// The bytes after a path element that end the path.
bool closes_path(int c) {
    switch (c) {
        case c_blank: case c_line: case c_lbracket: case c_rbracket: case c_lparen: case c_rparen:
        case c_lbrace: case c_dquote: case c_colon: case c_less: case c_semicolon: case c_word:
        case c_illegal: case c_end:
            return true;
        default:
            return false;
    }
}

class Scanner {
public:
    Scanner(std::string_view input, const Options& options)
        : in_(input),
          bytes_(reinterpret_cast<const uint8_t*>(input.data())),
          len_(static_cast<uint32_t>(input.size())),
          opt_(options),
          load_(options.load && options.scan),
          loader_(options.loader),
          cb_(options.callback) {}

    Result run();

private:
    int cls(uint32_t at) const { return at < len_ ? static_cast<int>(char_classes[bytes_[at]] & 0xFF) : c_end; }
    std::string_view text(uint32_t from, uint32_t to) const { return in_.substr(from, to - from); }

    void next_token(Token& t);
    void machine(uint32_t from, Token& t);
    void measure(Token& t);
    void measure_raw_string(Token& t);
    bool point_follows(uint32_t from) const;

    void handle(Token& t);
    void structure(Token& t);
    bool value_token(Token& t);
    int32_t check(Token& t);
    int32_t check_word(Token& t) const;
    int32_t check_construction(Token& t) const;
    void error_token(const Token& t);
    void open_series(const Token& t, int32_t kind);
    void close_series(const Token& t, char closer);
    void brace_open(const Token& t);
    void brace_close(const Token& t);
    void path_start(const Token& t);
    void path_step(const Token& t);
    void close_path(const Token& t, int32_t kind);
    void drop_path(const Token& t);
    void comma(const Token& t);
    void finish();
    uint8_t enclosing() const {
        return !opens_.empty() && is_path(opens_.back().kind) ? s_path : s_start;
    }

    bool fire(Event event, EventType type, uint32_t start, uint32_t end, uint32_t index);
    EventType type_of(const Token& t) const;
    [[gnu::cold]] void fail(const Token& t, uint32_t from, int32_t kind, char expected = 0, bool at_end = false);
    void quiet(const Token& t);
    std::string excerpt(uint32_t from) const;
    uint32_t units(uint32_t byte);
    uint32_t byte_at(uint32_t unit) const;
    void move_to(uint32_t byte);

    std::string_view in_;
    const uint8_t* bytes_;
    uint32_t len_;
    Options opt_;
    bool load_;        // values are built (never in prescan)
    Loader* loader_;   // also runs the check passes of kinds without a scanner of their own
    Callback* cb_;
    uint32_t pos_ = 0;
    int32_t line_ = 1;
    uint8_t start_state_ = s_start;
    int32_t type_ = dt::no_type;  // of the token being handled
    int32_t last_type_ = dt::no_type;
    std::vector<Open> opens_;
    int32_t brace_depth_ = 0;
    uint32_t brace_start_ = 0;  // the outermost `{`
    uint32_t brace_flags_ = 0;
    int32_t brace_lines_ = 0;
    int32_t brace_line_ = 0;    // the line the outermost `{` is on
    int32_t point_lines_ = 0;   // line breaks before the `(` of the point being scanned
    uint32_t cache_byte_ = 0;   // a byte offset and its character count, so that successive
    uint32_t cache_units_ = 0;  //   conversions cost only the distance between them
    std::optional<uint32_t> resume_;
    bool stop_ = false;
    Result result_;
};

Result Scanner::run() {
    try {
        while (pos_ < len_ && !stop_) {
            resume_.reset();
            Token t;
            next_token(t);
            handle(t);
            if (resume_) move_to(*resume_);
        }
        finish();
    } catch (const Raised&) {
    }
    result_.type = last_type_;
    result_.position = pos_;
    result_.consumed = units(pos_);
    result_.line = line_;
    return result_;
}

// ---- finding tokens --------------------------------------------------------------------

// The transition table indexed by state and byte instead of state and class: the state that
// a byte leads to takes one load, so the loop's chain from state to state is one lookup long.
struct ByteTransitions {
    uint8_t next[state_count][256];
    ByteTransitions() {
        for (int s = 0; s < state_count; ++s)
            for (int b = 0; b < 256; ++b) {
                next[s][b] = transitions[s][char_classes[b] & 0xFF];
                // Only the start state stays in itself: the blanks skipped are those before a token.
                assert(s == s_start || next[s][b] != s_start);
            }
    }
};

// Made before main: the tables it is built from are constants, and the hot loop then reads it
// without asking each time whether it is made.
const ByteTransitions byte_table;

const ByteTransitions& byte_transitions() { return byte_table; }

// Runs the machine from `from` in the current start state. This is the hot loop: the blanks and
// line breaks before a token first, then per byte one transition, the byte's flags and the line
// count; every decision about the kind found is left to measure() and the handlers.
void Scanner::machine(uint32_t from, Token& t) {
    const uint8_t* const bytes = bytes_;
    const uint32_t len = len_;
    const auto& next = byte_transitions().next;
    int32_t line = line_;
    uint32_t i = from;
    if (start_state_ == s_start) {
        while (i < len && next[s_start][bytes[i]] == s_start) line += bytes[i++] == '\n';
    }
    const uint32_t start = i;
    uint32_t state = start_state_, prev = state, flags = 0;
    while (i < len) {
        // Most bytes keep the state they found (the letters of a word, the text of a string):
        // such a run needs no chain from one state to the next.
        const uint8_t* row = next[state];
        if (row['\n'] == state) {  // a state that runs over lines: a braced string, a binary...
            while (i < len && row[bytes[i]] == state) {
                flags |= char_classes[bytes[i]];
                line += bytes[i] == '\n';
                ++i;
            }
        } else {
            while (i < len && row[bytes[i]] == state) flags |= char_classes[bytes[i++]];
        }
        if (i == len) break;
        const uint8_t b = bytes[i];
        flags |= char_classes[b];
        prev = state;
        state = row[b];
        if (state >= terminal_base) break;
        line += b == '\n';
        ++i;
    }
    if (state < terminal_base) {
        prev = state;
        state = transitions[state][c_end];
    }
    line_ = line;
    t.kind = static_cast<Kind>(state - terminal_base);
    t.type = type_table[state];
    t.start = start;
    t.end = i;
    t.flags = flags & ~0xFFu;
    t.prev_state = static_cast<uint8_t>(prev);
}

// Fills `t`, a token fresh from its constructor.
void Scanner::next_token(Token& t) {
    const int32_t line0 = line_;
    for (;;) {
        machine(pos_, t);
        // the blank set has no ASCII member
        if (t.kind == Kind::word && t.start < len_ && bytes_[t.start] >= 0xC2) {
            // Unicode blanks are words to the byte table; they are skipped like blanks, and the
            // scan starts again after them (a word that followed them is scanned afresh, so
            // that "\u3000" "1" is the integer 1, not a word).
            const std::string_view upto = in_.substr(0, t.end);
            uint32_t i = t.start;
            while (i < t.end) {
                size_t j = i;
                const int32_t code = decode_utf8(upto, j);
                if (code < 0 || !unicode_blank_q(static_cast<uint32_t>(code))) break;
                i = static_cast<uint32_t>(j);
            }
            if (i > t.start) {
                if (i < len_) {
                    pos_ = i;
                    continue;
                }
                t.kind = Kind::end;
                t.type = dt::no_type;
                t.start = t.end;
            }
        }
        measure(t);
        // The token after a point's `(` (the point, or whatever failed to be one) carries the
        // line breaks before that `(`.
        t.lines = line_ - line0 + std::exchange(point_lines_, 0);
        t.line = line_;
        return;
    }
}

// Sets where the next token starts and what a loader reads.
void Scanner::measure(Token& t) {
    const uint32_t s = t.start, e = t.end;
    t.next = e;
    t.body_start = s;
    t.body_end = e;
    switch (t.kind) {
        case Kind::error:
            if (e == s && e < len_) {  // the first byte was refused: step over it
                t.next = e + 1;
                line_ += line_table[cls(e)];
            }
            break;
        case Kind::paren_open:
            t.point_start = point_follows(e + 1);
            t.next = e + 1;
            break;
        case Kind::block_open: case Kind::block_close: case Kind::paren_close: case Kind::brace_open:
        case Kind::brace_close: case Kind::map_open: case Kind::path_start: case Kind::comma:
        case Kind::percent:
            t.next = e + 1;
            break;
        case Kind::construction:
            if (e < len_ && bytes_[e] == ')') t.next = e + 1;
            t.body_start = std::min(s + 2, e);
            break;
        case Kind::string:
            t.next = e + 1;
            t.body_start = s + 1;
            break;
        case Kind::char_:
            t.next = e + 1;
            t.body_start = std::min(s + 2, e);
            break;
        case Kind::issue: case Kind::refinement: case Kind::ref:
            t.body_start = s + 1;
            break;
        case Kind::file:
            if (s + 1 < e && bytes_[s + 1] == '"') {
                t.next = e + 1;
                t.body_start = s + 2;
            } else {
                t.body_start = s + 1;
            }
            break;
        case Kind::binary: {
            t.next = e + 1;
            uint32_t b = s;
            while (b < e && bytes_[b] != '{') ++b;
            t.body_start = std::min(b + 1, e);
            break;
        }
        case Kind::tag:
            t.next = e + 1;
            t.body_start = s + 1;
            break;
        case Kind::point:
            t.next = e + 1;
            if (std::count(bytes_ + s, bytes_ + e, ',') >= 2) t.type = dt::point3D;
            break;
        case Kind::hex_integer:
            t.body_end = e - 1;
            break;
        case Kind::raw_string:
            measure_raw_string(t);
            break;
        default:
            break;
    }
    t.next = std::min(t.next, len_);
}

// The machine ends a raw string after a `}` and its run of `%`. The run must match the opening
// one: a longer run is an error, a shorter one is text and the search goes on for `}` and as
// many `%` as opened the string.
void Scanner::measure_raw_string(Token& t) {
    const uint32_t s = t.start, e = t.end;
    uint32_t opening = 0, closing = 0;
    while (s + opening < e && bytes_[s + opening] == '%') ++opening;
    while (closing < e - s && bytes_[e - 1 - closing] == '%') ++closing;
    uint32_t brace = e - closing - 1;
    if (closing > opening) {
        t.fault = dt::string;
        return;
    }
    if (closing < opening) {
        uint32_t q = e;
        for (; q + opening < len_; ++q) {
            if (bytes_[q] != '}') continue;
            uint32_t k = 1;
            while (k <= opening && bytes_[q + k] == '%') ++k;
            if (k > opening) break;
        }
        const uint32_t stop = q + opening < len_ ? q + 1 + opening : len_;
        line_ += static_cast<int32_t>(std::count(bytes_ + e, bytes_ + stop, '\n'));
        t.end = t.next = stop;
        if (q + opening >= len_) {
            t.fault = dt::string;
            return;
        }
        brace = q;
    }
    t.body_start = s + opening + 1;
    t.body_end = brace;
}

// A `(` begins a point literal when number characters and blanks, a digit among them, run up
// to a `,`, and at least three bytes follow it. "#INF" and "#NaN" count as number characters.
bool Scanner::point_follows(uint32_t from) const {
    if (from + 3 > len_) return false;
    bool digit = false;
    for (uint32_t i = from; i < len_; ++i) {
        switch (cls(i)) {
            case c_comma:
                return digit;
            case c_digit: case c_zero:
                digit = true;
                break;
            case c_dot: case c_e: case c_E: case c_plus: case c_minus: case c_quote: case c_blank:
                break;
            case c_sharp:
                if (i + 4 > len_ || !(case_folding::same_ascii_ci(text(i + 1, i + 4), "INF") || case_folding::same_ascii_ci(text(i + 1, i + 4), "NAN")))
                    return false;
                i += 3;
                break;
            default:
                return false;
        }
    }
    return false;
}

// ---- handling tokens -------------------------------------------------------------------

void Scanner::handle(Token& t) {
    type_ = t.type;
    const uint8_t state = start_state_;
    if (state == s_point) start_state_ = enclosing();  // one token, the point or its error
    if (t.kind == Kind::end) {
        pos_ = t.next;
        if (t.end < len_) stop_ = true;  // a NUL byte ends the text
        return;
    }
    bool dropped = false;
    if (cb_ && state != s_braced && !(t.kind == Kind::paren_open && t.point_start)) {
        const bool structure_kind = t.kind <= Kind::comma;
        const uint32_t start = t.kind == Kind::point ? t.start - 1 : t.start;
        dropped = !fire(Event::prescan, type_of(t), start, t.next, structure_kind ? t.start : t.next);
    }
    if (dropped) {
        pos_ = t.next;
        type_ = dt::no_type;
    } else if (t.kind <= Kind::comma) {
        structure(t);
    } else if (!opt_.scan && !cb_ && t.kind != Kind::string) {
        pos_ = t.next;  // prescan: kinds only
    } else {
        value_token(t);
    }
    if (stop_) return;
    if (start_state_ == s_path && t.kind != Kind::path_start && t.kind != Kind::error) path_step(t);
    if ((opt_.one_value || !opt_.scan) && type_ != dt::no_type && start_state_ != s_braced &&
        start_state_ != s_path && t.kind != Kind::path_start && opens_.empty())
        stop_ = true;
    if (type_ != dt::no_type) last_type_ = type_;
}

void Scanner::structure(Token& t) {
    pos_ = t.next;
    switch (t.kind) {
        case Kind::error: error_token(t); break;
        case Kind::block_open: open_series(t, dt::block); break;
        case Kind::paren_open:
            if (t.point_start) {
                start_state_ = s_point;
                point_lines_ = t.lines;  // the line breaks before `(` belong to the point
            } else {
                open_series(t, dt::paren);
            }
            break;
        case Kind::map_open:
            // a number before `#[` is no map
            if (bytes_[t.start] == '#') open_series(t, dt::map);
            else fail(t, t.start, dt::map);
            break;
        case Kind::block_close: close_series(t, ']'); break;
        case Kind::paren_close: close_series(t, ')'); break;
        case Kind::brace_open: brace_open(t); break;
        case Kind::brace_close: brace_close(t); break;
        case Kind::path_start: path_start(t); break;
        case Kind::construction: value_token(t); break;
        case Kind::comment:
            fire(Event::scan, type_of(t), t.start, t.next, t.next);
            break;
        case Kind::comma: comma(t); break;
        default: break;
    }
}

// Checks a value token and, when the scan loads, has the loader build it, with the scan and
// load events around it. False when the token failed quietly.
bool Scanner::value_token(Token& t) {
    constexpr uint64_t own_kinds = 1ull << static_cast<int>(Kind::string) | 1ull << static_cast<int>(Kind::word) |
                                   1ull << static_cast<int>(Kind::issue) | 1ull << static_cast<int>(Kind::brace_close) |
                                   1ull << static_cast<int>(Kind::construction);
    const bool own = (own_kinds >> static_cast<int>(t.kind)) & 1;
    const bool checking = !load_ || own || (cb_ && (cb_->mask & static_cast<uint32_t>(Event::scan)));
    const uint32_t start = t.kind == Kind::point ? t.start - 1 : t.start;
    pos_ = t.next;
    int32_t err = check(t);
    if (err == check_ok && checking && !own && loader_) err = loader_->value(in_, t, false);
    if (err != check_ok) {
        fail(t, start, err);
        return false;
    }
    type_ = t.type;
    bool go = true;
    if (checking && cb_) go = fire(Event::scan, type_of(t), start, t.next, t.next);
    if (!load_ || !go || !loader_) return true;
    err = loader_->value(in_, t, true);
    if (err != check_ok) {
        fail(t, start, err);
        return false;
    }
    if (cb_ && !fire(Event::load, type_of(t), start, t.next, t.next)) loader_->drop_last();
    return true;
}

// The scanner's own checks: complete for strings, words, issues and constructions; for the
// other kinds only what the machine's shape lets through (a number before `#"`, a sigil
// before a refinement, URL, e-mail or money), the rest being the loader's.
int32_t Scanner::check(Token& t) {
    if (t.fault != check_ok) return t.fault;
    switch (t.kind) {
        case Kind::string: case Kind::brace_close:
            if (plain_text_q(t.flags, true)) return check_ok;
            return decode_text(text(t.body_start, t.body_end), true) ? check_ok : dt::string;
        case Kind::word:
            return check_word(t);
        case Kind::issue:
            if (bytes_[t.start] != '#' || t.body_start >= t.body_end) return dt::issue;
            if (plain_text_q(t.flags, false)) return check_ok;
            return decode_text(text(t.body_start, t.body_end), false) ? check_ok : dt::issue;
        case Kind::construction:
            return check_construction(t);
        case Kind::refinement:
            return bytes_[t.start] == '/' ? check_ok : dt::refinement;
        case Kind::char_:
            return bytes_[t.start] == '#' ? check_ok : dt::char_;
        case Kind::url: case Kind::email: case Kind::money:
            // a sigil word that ran on into a URL, e-mail or currency code
            if (bytes_[t.start] == ':') return dt::get_word;
            if (bytes_[t.start] == '\'') return dt::lit_word;
            return check_ok;
        default:
            return check_ok;
    }
}

[[gnu::always_inline]] inline int32_t Scanner::check_word(Token& t) const {
    uint32_t s = t.start, e = t.end;
    WordKind kind = WordKind::word;
    if (bytes_[s] == ':') {
        kind = WordKind::get;
        ++s;
    } else if (bytes_[s] == '\'') {
        kind = WordKind::lit;
        ++s;
    }
    if (e > s && bytes_[e - 1] == ':') {
        if (kind == WordKind::lit) return dt::lit_word;
        if (kind == WordKind::get) return dt::word;
        kind = WordKind::set;
        --e;
    }
    if (s >= e || ((t.flags & flag::colon) && std::find(bytes_ + s, bytes_ + e, ':') != bytes_ + e)) return dt::word;
    // A path element followed by `:` (a/b:) must end the path there.
    if (kind != WordKind::set && cls(t.end) == c_colon && !hard_delimiter(cls(t.end + 1))) return dt::word;
    const std::string_view body = text(s, e);
    if (!plain_text_q(t.flags, false)) {
        for (size_t i = 0; i < body.size();) {
            const int32_t code = decode_utf8(body, i);
            if (code < 0 || unicode_blank_q(static_cast<uint32_t>(code))) return dt::word;
        }
    }
    t.word = kind;
    t.type = static_cast<int32_t>(kind);
    t.body_start = s;
    t.body_end = e;
    return check_ok;
}

int32_t Scanner::check_construction(Token& t) const {
    if (bytes_[t.start] != '#' || cls(t.end) != c_rparen) return malconstruct;
    static const struct {
        const char* name;
        Construct value;
        int32_t type;
    } names[] = {
        {"true", Construct::logic_true, dt::logic},
        {"false", Construct::logic_false, dt::logic},
        {"none", Construct::none_value, dt::none},
        {"unset", Construct::unset, dt::unset},
    };
    const std::string_view body = text(t.body_start, t.body_end);
    for (const auto& n : names) {
        if (case_folding::same_ascii_ci(body, n.name)) {
            t.construct = n.value;
            t.type = n.type;
            return check_ok;
        }
    }
    // A datatype's name, as molding with /all writes a datatype; the loader checks the name.
    if (body.size() > 1 && body.back() == '!') {
        t.construct = Construct::datatype;
        t.type = dt::datatype;
        return check_ok;
    }
    return malconstruct;
}

// An error token names the datatype of the state the machine was in; inside a series it
// shows the text from the series' opening, inside a braced string from its outermost `{`.
void Scanner::error_token(const Token& t) {
    const int32_t type = type_table[t.prev_state];
    int32_t kind = type != dt::no_type ? type : bad_char;
    uint32_t from = t.start;
    if (t.prev_state == s_point) {
        from = t.start - 1;
        if (std::count(bytes_ + t.start, bytes_ + t.end, ',') >= 2) kind = dt::point3D;
    }
    if ((type == dt::block || type == dt::paren || is_path(type)) && !opens_.empty()) from = opens_.back().offset;
    if (start_state_ == s_braced) from = brace_start_;
    fail(t, from, kind);
}

void Scanner::open_series(const Token& t, int32_t kind) {
    if (!fire(Event::open, type_of(t), t.start, t.next, t.start)) return;
    opens_.push_back({kind, t.start});
    if (load_ && loader_) loader_->open(kind, t);
    start_state_ = s_start;
}

void Scanner::close_series(const Token& t, char closer) {
    while (!opens_.empty() && is_path(opens_.back().kind)) drop_path(t);  // left open by a refused close
    if (opens_.empty()) {
        fail(t, t.start, missing_open, closer == ']' ? '[' : '(');
        return;
    }
    const Open o = opens_.back();
    const bool match = closer == ']' ? o.kind == dt::block || o.kind == dt::map : o.kind == dt::paren;
    if (!match) {
        fail(t, o.offset, missing_close, closer_of(o.kind));
        return;
    }
    type_ = o.kind;
    if (!fire(Event::close, {EventType::Of::datatype, o.kind}, t.start, t.next, t.next)) {
        start_state_ = s_start;
        return;
    }
    opens_.pop_back();
    if (load_ && loader_) {
        const int32_t err = loader_->close(o.kind, t);
        if (err != check_ok) {
            fail(t, o.offset, err);
            return;
        }
    }
    start_state_ = enclosing();
}

void Scanner::brace_open(const Token& t) {
    if (start_state_ == s_braced) {
        ++brace_depth_;
        brace_flags_ |= t.flags;
        brace_lines_ += t.lines;
        return;
    }
    // A braced string has no marker: refusing its open event changes nothing.
    fire(Event::open, type_of(t), t.start, t.next, t.start);
    brace_depth_ = 1;
    brace_start_ = t.start;
    brace_flags_ = t.flags;
    brace_lines_ = t.lines;
    brace_line_ = line_;
    start_state_ = s_braced;
}

void Scanner::brace_close(const Token& t) {
    brace_flags_ |= t.flags;
    brace_lines_ += t.lines;
    if (--brace_depth_ > 0) {
        if (t.next >= len_) fail(t, brace_start_, dt::string);
        return;
    }
    start_state_ = s_start;
    if (line_ > brace_line_) brace_flags_ |= flag::multiline;
    Token s = t;
    s.start = brace_start_;
    s.body_start = brace_start_ + 1;
    s.body_end = t.end;
    s.flags = brace_flags_;
    s.lines = brace_lines_;
    s.type = dt::string;
    type_ = dt::string;
    // a refused close drops the string
    if (!fire(Event::close, {EventType::Of::datatype, dt::string}, s.start, s.next, s.next)) return;
    value_token(s);
}

// `a/`, `:a/`, `'a/`: opens the path and loads its first element as a word!. The elements
// after it start in the path state.
void Scanner::path_start(const Token& t) {
    Token first = t;
    first.kind = Kind::word;
    first.type = dt::word;
    first.next = t.end;
    const int32_t err = check_word(first);
    if (err != check_ok) {
        fail(t, t.start, err);
        return;
    }
    const int32_t kind = first.word == WordKind::get ? dt::get_path
                         : first.word == WordKind::lit ? dt::lit_path
                                                       : dt::path;
    if (!fire(Event::open, type_of(t), t.start, t.next, t.start)) {
        // no path: the word stands alone and its `/` starts the next token
        first.start = t.start;
        value_token(first);
        return;
    }
    opens_.push_back({kind, t.start});
    if (load_ && loader_) loader_->open(kind, t);
    start_state_ = s_path;
    first.start = first.body_start;
    first.word = WordKind::word;
    first.type = dt::word;
    first.next = t.next;
    if (!value_token(first)) return;
    type_ = dt::no_type;
}

// After each path element: `/` goes on to the next element, `:` makes a set-path and a
// delimiter closes the path; anything else is an error of path!.
void Scanner::path_step(const Token& t) {
    const Open o = opens_.back();
    const int c = cls(pos_);
    if (c == c_slash) {
        ++pos_;
        return;
    }
    if (c == c_colon) {
        if (o.kind != dt::path || !hard_delimiter(cls(pos_ + 1))) {
            fail(t, o.offset, dt::path);
            return;
        }
        ++pos_;
        close_path(t, dt::set_path);
        return;
    }
    if (closes_path(c)) {
        close_path(t, o.kind);
        return;
    }
    fail(t, o.offset, dt::path);
}

void Scanner::close_path(const Token& t, int32_t kind) {
    const Open o = opens_.back();
    type_ = kind;
    if (!fire(Event::close, {EventType::Of::datatype, kind}, o.offset, pos_, pos_)) {
        start_state_ = s_start;
        return;
    }
    opens_.pop_back();
    if (load_ && loader_) loader_->close(kind, t);
    start_state_ = enclosing();
}

// Closes the innermost path as it stands, without events.
void Scanner::drop_path(const Token& t) {
    const Open o = opens_.back();
    opens_.pop_back();
    if (load_ && loader_) loader_->close(o.kind, t);
    start_state_ = enclosing();
}

// A comma outside a point literal: in a paren it marks a point being built, which the lexer
// cannot finish (its `)` raises missing); elsewhere it is an error of point2D!.
void Scanner::comma(const Token& t) {
    if (!opens_.empty() && (opens_.back().kind == dt::paren || opens_.back().kind == dt::point2D)) {
        opens_.back().kind = dt::point2D;
        return;
    }
    fail(t, t.start, dt::point2D);
}

void Scanner::finish() {
    Token t;
    t.start = t.end = t.next = pos_;
    if (start_state_ == s_braced) fail(t, brace_start_, missing_close, '}', true);
    if (result_.dropped) return;
    if (start_state_ == s_path) fail(t, opens_.back().offset, dt::path);  // a path ending in `/`
    while (!opens_.empty() && is_path(opens_.back().kind)) {
        if (!load_) last_type_ = opens_.back().kind;
        drop_path(t);
    }
    if (load_ && !opens_.empty() && !result_.dropped) {
        const Open o = opens_.back();
        fail(t, o.offset, missing_close, closer_of(o.kind), true);
    }
}

// ---- events and errors -------------------------------------------------------------------

bool Scanner::fire(Event event, EventType type, uint32_t start, uint32_t end, uint32_t index) {
    if (!cb_ || !(cb_->mask & static_cast<uint32_t>(event))) return true;
    EventInfo info;
    info.event = event;
    info.type = type;
    info.line = line_;
    info.index = units(index);
    info.token_start = units(start) + 1;
    info.token_end = units(end) + 1;
    const Answer answer = cb_->event(info);
    if (answer.index && *answer.index != info.index) resume_ = byte_at(*answer.index);
    return answer.accept;
}

// Structure tokens report the entry of system/lexer/exit-states at their kind; the others
// their datatype.
EventType Scanner::type_of(const Token& t) const {
    if (t.kind <= Kind::comma) return {EventType::Of::exit_state, static_cast<int32_t>(t.kind)};
    if (t.type != dt::no_type) return {EventType::Of::datatype, t.type};
    return {};
}

// Raises the syntax error of `kind` with the excerpt from `from`, or returns when the error is
// quiet: a scan that does not load only marks the token as error!, and a callback may refuse
// the error. The caller then abandons the token.
void Scanner::fail(const Token& t, uint32_t from, int32_t kind, char expected, bool at_end) {
    if (!load_) {
        type_ = last_type_ = dt::error;
        quiet(t);
        return;
    }
    if (cb_) {
        if (!opens_.empty() && is_path(opens_.back().kind)) drop_path(t);
        EventType type{EventType::Of::datatype, kind > 0 ? kind : dt::error};
        if (kind == missing_close) type = {EventType::Of::character, expected};
        if (kind == missing_open) type = {EventType::Of::character, expected == '[' ? ']' : ')'};
        const uint32_t start = start_state_ == s_braced ? brace_start_ : t.start;
        if (!fire(Event::error, type, start, t.next, t.next)) {
            if (at_end) {
                result_.dropped = true;
                stop_ = true;
            }
            type_ = dt::no_type;
            quiet(t);
            return;
        }
    }
    SyntaxError e;
    e.kind = kind;
    e.offset = from;
    e.line_text = "(line " + std::to_string(line_) + ")";
    e.excerpt = excerpt(from);
    switch (kind) {
        case bad_char: e.id = SyntaxError::Id::bad_char; break;
        case malconstruct: e.id = SyntaxError::Id::malconstruct; break;
        case missing_close: case missing_open:
            e.id = SyntaxError::Id::missing;
            e.expected = expected;
            break;
        default:
            e.id = SyntaxError::Id::invalid;
            e.datatype = kind;
            break;
    }
    result_.error = std::move(e);
    if (loader_ && load_) loader_->abandon();
    opens_.clear();
    throw Raised{};
}

// Leaves the mode a failed token was scanned in, so that scanning goes on from a clean state.
void Scanner::quiet(const Token& t) {
    if (start_state_ == s_path && !opens_.empty() && is_path(opens_.back().kind)) {
        drop_path(t);
    } else if (start_state_ == s_point) {
        start_state_ = enclosing();
    } else if (start_state_ == s_braced) {
        brace_depth_ = 0;
        start_state_ = s_start;
    }
}

// At most 30 bytes from `from`, stopping before a line feed and never inside a character.
std::string Scanner::excerpt(uint32_t from) const {
    constexpr uint32_t limit = 30;
    from = std::min(from, len_);
    uint32_t stop = from;
    while (stop < len_ && stop - from < limit && bytes_[stop] != '\n') ++stop;
    if (stop - from == limit)
        while (stop > from && stop < len_ && (bytes_[stop] & 0xC0) == 0x80) --stop;
    return std::string(text(from, stop));
}

uint32_t Scanner::units(uint32_t byte) {
    if (!opt_.string_input) return byte;
    byte = std::min(byte, len_);
    for (; cache_byte_ < byte; ++cache_byte_)
        if ((bytes_[cache_byte_] & 0xC0) != 0x80) ++cache_units_;
    for (; cache_byte_ > byte; --cache_byte_)
        if ((bytes_[cache_byte_ - 1] & 0xC0) != 0x80) --cache_units_;
    return cache_units_;
}

uint32_t Scanner::byte_at(uint32_t unit) const {
    if (!opt_.string_input) return std::min(unit, len_);
    uint32_t i = 0;
    for (uint32_t u = 0; u < unit && i < len_; ++u) {
        ++i;
        while (i < len_ && (bytes_[i] & 0xC0) == 0x80) ++i;
    }
    return i;
}

// The callback moved the input's index: the scan resumes there, the line count following.
void Scanner::move_to(uint32_t byte) {
    if (byte > pos_) line_ += static_cast<int32_t>(std::count(bytes_ + pos_, bytes_ + byte, '\n'));
    else line_ -= static_cast<int32_t>(std::count(bytes_ + byte, bytes_ + pos_, '\n'));
    pos_ = byte;
}

}  // namespace

uint32_t event_mask(bool body_begins_with_block, std::span<const std::string_view> words) {
    if (!body_begins_with_block) return all_events;
    static const struct {
        const char* name;
        Event event;
    } names[] = {{"prescan", Event::prescan}, {"scan", Event::scan}, {"load", Event::load},
                 {"open", Event::open}, {"close", Event::close}, {"error", Event::error}};
    uint32_t mask = 0;
    for (std::string_view w : words)
        for (const auto& n : names)
            if (case_folding::same_ascii_ci(w, n.name)) mask |= static_cast<uint32_t>(n.event);
    return mask;
}

Result scan(std::string_view input, const Options& options) {
    Scanner scanner(input, options);
    return scanner.run();
}

}  // namespace zuv::lexer
