// The lexer's scanner: token kinds and extents of every literal form, nesting, paths, points,
// braced and raw strings, syntax errors with their lines and excerpts, events, scan modes,
// the text decoders, and the generated tables against their grammar.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "reader/lexer-scan.h"
#include "reader/lexer-text.h"

using namespace zuv::lexer;

namespace {

const char* const kind_names[kind_count] = {
    "end", "error", "block-open", "block-close", "paren-open", "paren-close", "brace-open",
    "brace-close", "map-open", "path-start", "construction", "comment", "comma", "string", "word",
    "issue", "integer", "refinement", "char", "file", "binary", "percent", "float", "special-float",
    "tuple", "date", "pair", "point", "time", "money", "tag", "url", "email", "hex-integer",
    "raw-string", "ref",
};

std::string series_name(int32_t kind) {
    switch (kind) {
        case dt::block: return "block";
        case dt::paren: return "paren";
        case dt::map: return "map";
        case dt::path: return "path";
        case dt::lit_path: return "lit-path";
        case dt::set_path: return "set-path";
        case dt::get_path: return "get-path";
        default: return "?" + std::to_string(kind);
    }
}

std::string value_name(const Token& t) {
    if (t.kind == Kind::word) {
        switch (t.word) {
            case WordKind::set: return "set-word";
            case WordKind::get: return "get-word";
            case WordKind::lit: return "lit-word";
            default: return "word";
        }
    }
    if (t.kind == Kind::point && t.type == dt::point3D) return "point3D";
    if (t.kind == Kind::brace_close) return "string";
    return kind_names[static_cast<int>(t.kind)];
}

// kind:text, with "|" and the bytes up to where the next token starts when those belong to
// the token too (a closing quote, bracket, `%`, ...).
std::string describe(std::string_view in, const Token& t) {
    std::string s = value_name(t) + ":" + std::string(in.substr(t.start, t.end - t.start));
    if (t.next > t.end) s += "|" + std::string(in.substr(t.end, t.next - t.end));
    return s;
}

std::string join(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts) s += (s.empty() ? "" : " ") + p;
    return s;
}

// Records what a scan hands to its loader.
struct Recorder : Loader {
    std::vector<std::string> log;
    std::vector<Token> values;
    std::function<int32_t(std::string_view, const Token&, bool)> verdict;
    int32_t close_verdict = check_ok;
    bool abandoned = false;

    int32_t value(std::string_view in, const Token& t, bool load) override {
        if (verdict) {
            if (int32_t v = verdict(in, t, load)) return v;
        }
        if (!load) return check_ok;
        values.push_back(t);
        log.push_back(describe(in, t));
        return check_ok;
    }
    void open(int32_t kind, const Token&) override { log.push_back("open:" + series_name(kind)); }
    int32_t close(int32_t kind, const Token&) override {
        log.push_back("close:" + series_name(kind));
        return close_verdict;
    }
    void drop_last() override { log.push_back("drop"); }
    void abandon() override { abandoned = true; }
};

struct Scanned {
    Result result;
    Recorder rec;
    std::string log() const { return join(rec.log); }
};

Scanned run(std::string_view src, Options o = {}) {
    Scanned s;
    o.loader = &s.rec;
    s.result = scan(src, o);
    return s;
}

std::string error_text(const SyntaxError& e) {
    std::string s;
    switch (e.id) {
        case SyntaxError::Id::bad_char: s = "bad-char"; break;
        case SyntaxError::Id::malconstruct: s = "malconstruct"; break;
        case SyntaxError::Id::missing: s = std::string("missing ") + e.expected; break;
        case SyntaxError::Id::invalid: s = "invalid " + std::to_string(e.datatype); break;
    }
    return s + " " + e.line_text + " " + e.excerpt;
}

// Every literal form: the values a load hands to the loader, in order, with their extents.
TEST(LexerScan, LiteralForms) {
    struct Case {
        const char* src;
        const char* tokens;
    } cases[] = {
        // words of each kind, operators and sigil-only forms
        {"abc a-b a.b a'b a? x1 each ACE", "word:abc word:a-b word:a.b word:a'b word:a? word:x1 word:each word:ACE"},
        {"a: :a 'a", "set-word:a: get-word::a lit-word:'a"},
        {"+ - < <= <> << > >= = == =? ->", "word:+ word:- word:< word:<= word:<> word:<< word:> word:>= word:= word:== word:=? word:->"},
        {"/ // . .. ^ % %%", "word:/ word:// word:. word:.. word:^ word:% word:%%"},
        {"'+ '< :% '/ '%%", "lit-word:'+ lit-word:'< get-word::% lit-word:'/ lit-word:'%%"},
        {"a[b]", "word:a open:block word:b close:block"},
        {"a;c\nb", "word:a word:b"},
        {"a<b>", "word:a tag:<b|>"},
        {"\xE4\xBD\xA0\xE5\xA5\xBD x\xC3\xA9", "word:\xE4\xBD\xA0\xE5\xA5\xBD word:x\xC3\xA9"},
        // strings
        {"\"abc\" \"\" \"a^\"b\" \"a{b\"", "string:\"abc|\" string:\"|\" string:\"a^\"b|\" string:\"a{b|\""},
        {"print\"hi\"", "word:print string:\"hi|\""},
        {"{a{b}c} {} {a^}b}", "string:{a{b}c|} string:{|} string:{a^}b|}"},
        {"{a\nb}x", "string:{a\nb|} word:x"},
        {"%{a}b}% %{}% %%{a}%b}%% %{a^/b}%", "raw-string:%{a}b}% raw-string:%{}% raw-string:%%{a}%b}%% raw-string:%{a^/b}%"},
        // integers and floats
        {"123 -5 +5 1'000 0 12345678901 -2147483648", "integer:123 integer:-5 integer:+5 integer:1'000 integer:0 integer:12345678901 integer:-2147483648"},
        {"1.5 1e5 .5 1. 1,5 -1.5e-3 1E5 1.5E+3 -.5", "float:1.5 float:1e5 float:.5 float:1. float:1,5 float:-1.5e-3 float:1E5 float:1.5E+3 float:-.5"},
        {"1.#INF -1.#INF 1.#NaN", "special-float:1.#INF special-float:-1.#INF special-float:1.#NaN"},
        {"10% 1.5% .5% 1e2%", "percent:10|% percent:1.5|% percent:.5|% percent:1e2|%"},
        {"FFh 0FFh 1E5h DEADh 12h", "hex-integer:FFh hex-integer:0FFh hex-integer:1E5h hex-integer:DEADh hex-integer:12h"},
        {"1.2.3 1.2.3.4.5.6.7.8.9.10.11.12", "tuple:1.2.3 tuple:1.2.3.4.5.6.7.8.9.10.11.12"},
        {"1x2 -1x-2 1X2", "pair:1x2 pair:-1x-2 pair:1X2"},
        // points, with the paren they replace
        {"(1, 2) (1,2,3) ( -1.5 , 2e3 )", "point:1, 2|) point3D:1,2,3|) point: -1.5 , 2e3 |)"},
        // time and money
        {"10:20 12:30:45.5 -1:00 10:20.5 10:20:30,5", "time:10:20 time:12:30:45.5 time:-1:00 time:10:20.5 time:10:20:30,5"},
        {"$10 -$5 USD$1.50 $1'000.12345 EUR$1,50", "money:$10 money:-$5 money:USD$1.50 money:$1'000.12345 money:EUR$1,50"},
        // dates in every form
        {"1-Jan-2000 1/2/99 29-Feb-2000", "date:1-Jan-2000 date:1/2/99 date:29-Feb-2000"},
        {"2000-01-01 2000-01-01T10:00 20000101T100000", "date:2000-01-01 date:2000-01-01T10:00 date:20000101T100000"},
        {"2000-W01 2000-W01-1 2000-001", "date:2000-W01 date:2000-W01-1 date:2000-001"},
        {"1-Jan-2000/10:00:00+05:00 2000-01-01T10:00Z 1-1-2000/10:00-5", "date:1-Jan-2000/10:00:00+05:00 date:2000-01-01T10:00Z date:1-1-2000/10:00-5"},
        // the # forms
        {"#abc #1-2 #a.b", "issue:#abc issue:#1-2 issue:#a.b"},
        {"#\"a\" #\"^(tab)\" #\"^\"\" #\"^(1F600)\"", "char:#\"a|\" char:#\"^(tab)|\" char:#\"^\"|\" char:#\"^(1F600)|\""},
        {"#{0A0B} 2#{0101} 64#{AQI=} #{0A ;c}\n 0B}", "binary:#{0A0B|} binary:2#{0101|} binary:64#{AQI=|} binary:#{0A ;c}\n 0B|}"},
        {"#(true) #(NONE)", "construction:#(true|) construction:#(NONE|)"},
        {"#[a 1]", "open:map word:a integer:1 close:map"},
        // files, urls, e-mails, tags, refs, refinements
        {"%a/b.txt %\"a b\" %a%20b %a:b", "file:%a/b.txt file:%\"a b|\" file:%a%20b file:%a:b"},
        {"ab://c/d?e=f&g a:b http://x.com:80/", "url:ab://c/d?e=f&g url:a:b url:http://x.com:80/"},
        {"a@b a@ 123@host a@b.c", "email:a@b email:a@ email:123@host email:a@b.c"},
        {"<a b=\"c\"> </a> <a b='>'> <!-- x -->", "tag:<a b=\"c\"|> tag:</a|> tag:<a b='>'|> tag:<!-- x --|>"},
        {"@ref @a/b", "ref:@ref ref:@a/b"},
        {"/abc /a.b /1", "refinement:/abc refinement:/a.b refinement:/1"},
        // blocks and parens, nested
        {"[a [b] (c)]", "open:block word:a open:block word:b close:block open:paren word:c close:paren close:block"},
        {"([])", "open:paren open:block close:block close:paren"},
        // paths
        {"a/b/c", "open:path word:a|/ word:b word:c close:path"},
        {":a/b 'a/b", "open:get-path word:a|/ word:b close:get-path open:lit-path word:a|/ word:b close:lit-path"},
        {"a/b: 1", "open:path word:a|/ word:b close:set-path integer:1"},
        {"a/1/(b)/#c/-1/:d/'e/-", "open:path word:a|/ integer:1 open:paren word:b close:paren issue:#c integer:-1 get-word::d lit-word:'e word:- close:path"},
        {"a/b[c]", "open:path word:a|/ word:b close:path open:block word:c close:block"},
        {"a/(1, 2) x", "open:path word:a|/ point:1, 2|) close:path word:x"},
    };
    for (const Case& c : cases) {
        Scanned s = run(c.src);
        EXPECT_FALSE(s.result.error) << c.src << ": " << error_text(*s.result.error);
        EXPECT_EQ(s.log(), c.tokens) << c.src;
    }
}

// What each kind's loader reads: the body, without delimiters, sigils and closing runs.
TEST(LexerScan, BodiesForLoaders) {
    struct Case {
        const char* src;
        const char* body;
    } cases[] = {
        {"\"a^\"b\"", "a^\"b"}, {"{a{b}c}", "a{b}c"}, {"%%{a}%b}%%", "a}%b"}, {"%{}%", ""},
        {"#\"a\"", "a"}, {"%a/b", "a/b"}, {"%\"a b\"", "a b"}, {"#{0A}", "0A"},
        {"2#{01}", "01"}, {"<a b>", "a b"}, {"FFh", "FF"}, {"#(none)", "none"},
        {"#abc", "abc"}, {"/abc", "abc"}, {"@r", "r"}, {"a:", "a"}, {":a", "a"},
        {"'a", "a"}, {"10%", "10"}, {"(1, 2)", "1, 2"}, {"-1.5", "-1.5"}, {"a@b", "a@b"},
    };
    for (const Case& c : cases) {
        Scanned s = run(c.src);
        ASSERT_EQ(s.rec.values.size(), 1u) << c.src;
        const Token& t = s.rec.values[0];
        EXPECT_EQ(std::string(c.src).substr(t.body_start, t.body_end - t.body_start), c.body) << c.src;
    }
    Scanned s = run("#(true) #(unset)");
    ASSERT_EQ(s.rec.values.size(), 2u);
    EXPECT_EQ(s.rec.values[0].construct, Construct::logic_true);
    EXPECT_EQ(s.rec.values[0].type, dt::logic);
    EXPECT_EQ(s.rec.values[1].construct, Construct::unset);
}

// The flags a loader relies on, and the lines a value's new-line flag comes from.
TEST(LexerScan, FlagsAndLines) {
    Scanned s = run("-1'0 1.5 1e5 \"\xC3\xA9\" \"\xF0\x9F\x98\x80\" 10%\n\n x {a\nb} ;c\ny");
    const auto& v = s.rec.values;
    ASSERT_EQ(v.size(), 9u);
    EXPECT_TRUE(v[0].flags & flag::sign);
    EXPECT_TRUE(v[0].flags & flag::quote);
    EXPECT_FALSE(v[0].flags & flag::dot);
    EXPECT_TRUE(v[1].flags & flag::dot);
    EXPECT_TRUE(v[2].flags & flag::exponent);
    EXPECT_TRUE(v[3].flags & flag::utf8_wide);
    EXPECT_TRUE(v[4].flags & flag::utf8_4);
    EXPECT_TRUE(v[5].flags & flag::percent);
    EXPECT_EQ(v[5].lines, 0);
    EXPECT_EQ(v[6].lines, 2);  // x, after two line breaks
    EXPECT_EQ(v[6].line, 3);
    EXPECT_TRUE(v[7].flags & flag::multiline);
    EXPECT_EQ(v[7].lines, 1);
    EXPECT_EQ(v[8].lines, 1);  // y: the comment's line feed belongs to its leading blanks
    EXPECT_EQ(v[8].line, 5);
    EXPECT_EQ(s.result.line, 5);
    EXPECT_FALSE(run("{ab}").rec.values[0].flags & flag::multiline);
}

// Tokens made of Unicode blanks are skipped; what follows them is scanned on its own.
TEST(LexerScan, UnicodeBlanks) {
    EXPECT_EQ(run("\xE3\x80\x80" "a").log(), "word:a");
    EXPECT_EQ(run("\xC2\xA0" "1 \xE3\x80\x80").log(), "integer:1");
    EXPECT_EQ(run("\xE2\x80\x8B[a]").log(), "open:block word:a close:block");
    Scanned s = run("a\xC2\xA0");
    ASSERT_TRUE(s.result.error);
    EXPECT_EQ(error_text(*s.result.error), "invalid 15 (line 1) a\xC2\xA0");
    // U+200C is no blank: it stays a word
    EXPECT_EQ(run("\xE2\x80\x8C").log(), "word:\xE2\x80\x8C");
}

// Syntax errors: the kind, the datatype or the expected character, "(line N)" and the excerpt.
TEST(LexerScan, SyntaxErrors) {
    const std::string long_string = "\"" + std::string(40, 'x');
    const std::string cut_char = "\"" + std::string(28, 'x') + "\xC3\xA9yz";
    struct Case {
        std::string src;
        std::string error;
    } cases[] = {
        {"\"abc", "invalid 7 (line 1) \"abc"},
        {"x \"abc\ny", "invalid 7 (line 1) \"abc"},
        {"[a (b]", "missing ) (line 1) (b]"},
        {"[a)", "missing ] (line 1) [a)"},
        {"a]", "missing [ (line 1) ]"},
        {"a)", "missing ( (line 1) )"},
        {"[a\nb", "missing ] (line 2) [a"},
        {"(a", "missing ) (line 1) (a"},
        {"#[a", "missing ] (line 1) #[a"},
        {"{a{b}c", "missing } (line 1) {a{b}c"},
        {"x {a\nb", "missing } (line 2) {a"},
        {"{a{b}", "invalid 7 (line 1) {a{b}"},
        {"a/b/", "invalid 25 (line 1) a/b/"},
        {"a/b:/c", "invalid 15 (line 1) b:/c"},
        {"a/1:/c", "invalid 25 (line 1) a/1:/c"},
        {"a/b,c", "invalid 25 (line 1) a/b,c"},
        {":a/b: 1", "invalid 25 (line 1) :a/b: 1"},
        {"a//b", "invalid 25 (line 1) a//b"},
        {"a/b:c", "invalid 15 (line 1) b:c"},
        {"'a:", "invalid 17 (line 1) 'a:"},
        {":a:", "invalid 15 (line 1) :a:"},
        {"a::", "invalid 15 (line 1) a::"},
        {"a#b", "invalid 15 (line 1) a#b"},
        {"1a", "invalid 11 (line 1) 1a"},
        {"1A", "invalid 11 (line 1) 1A"},
        {"#", "invalid 20 (line 1) #"},
        {"2#abc", "invalid 20 (line 1) 2#abc"},
        {"2#\"a\"", "invalid 10 (line 1) 2#\"a\""},
        {"'/a", "invalid 19 (line 1) '/a"},
        {":a:b", "invalid 18 (line 1) :a:b"},
        {"'a@b", "invalid 17 (line 1) 'a@b"},
        {"'USD$1", "invalid 17 (line 1) 'USD$1"},
        {"#(yes)", "malconstruct (line 1) #(yes)"},
        {"#(true", "malconstruct (line 1) #(true"},
        {"a, b", "invalid 51 (line 1) , b"},
        {"(a, b)", "missing ) (line 1) (a, b)"},
        {"(1, 2", "invalid 51 (line 1) (1, 2"},
        {"(1, 2, 3", "invalid 52 (line 1) (1, 2, 3"},
        {"(1, 2; 3)", "invalid 51 (line 1) (1, 2; 3)"},
        {"(1; 2)", "missing ) (line 1) (1; 2)"},
        {"}", "bad-char (line 1) }"},
        {"a \x01", "bad-char (line 1) \x01"},
        {"\xC0", "bad-char (line 1) \xC0"},
        {"a\x01", "invalid 15 (line 1) a\x01"},
        {"%{abc", "invalid 7 (line 1) %{abc"},
        {"%{a}%%", "invalid 7 (line 1) %{a}%%"},
        {"%%{a}%b", "invalid 7 (line 1) %%{a}%b"},
        {"\"a^(xyz)\"", "invalid 7 (line 1) \"a^(xyz)\""},
        {"{a^(1234567)}", "invalid 7 (line 1) {a^(1234567)}"},
        {"1x", "invalid 37 (line 1) 1x"},
        {"$", "invalid 49 (line 1) $"},
        {"$a", "invalid 49 (line 1) $a"},
        {"<a", "invalid 44 (line 1) <a"},
        {"#{0A", "invalid 41 (line 1) #{0A"},
        {"#\"a", "invalid 10 (line 1) #\"a"},
        {"%\"a", "invalid 8 (line 1) %\"a"},
        {"1.2.3a", "invalid 39 (line 1) 1.2.3a"},
        {"a\nb\n\"c", "invalid 7 (line 3) \"c"},
        {long_string, "invalid 7 (line 1) " + long_string.substr(0, 30)},
        {cut_char, "invalid 7 (line 1) " + cut_char.substr(0, 29)},
    };
    for (const Case& c : cases) {
        Scanned s = run(c.src);
        ASSERT_TRUE(s.result.error) << c.src;
        EXPECT_EQ(error_text(*s.result.error), c.error) << c.src;
        EXPECT_TRUE(s.rec.abandoned) << c.src;
    }
}

// A loader's verdict becomes the error, with the token's line and excerpt (the real loaders'
// verdicts are tested through load_into and the script tests); a map's failed close names map!.
TEST(LexerScan, LoaderErrors) {
    Scanned s;
    s.rec.verdict = [](std::string_view, const Token& t, bool) {
        return t.kind == Kind::integer ? dt::tuple : check_ok;
    };
    Options o;
    o.loader = &s.rec;
    s.result = scan("x\n 12 y", o);
    ASSERT_TRUE(s.result.error);
    EXPECT_EQ(error_text(*s.result.error), "invalid 39 (line 2) 12 y");
    EXPECT_EQ(s.log(), "word:x");

    Scanned m;
    m.rec.close_verdict = dt::map;
    o.loader = &m.rec;
    m.result = scan("[#[a] b]", o);
    ASSERT_TRUE(m.result.error);
    EXPECT_EQ(error_text(*m.result.error), "invalid 40 (line 1) #[a] b]");
}

// A scan that does not load marks failed tokens as error! and goes on.
TEST(LexerScan, ScanOnlyErrorsAreQuiet) {
    Options o;
    o.load = false;
    Scanned s = run("\"abc\n1", o);
    EXPECT_FALSE(s.result.error);
    EXPECT_EQ(s.result.type, dt::integer);
    EXPECT_EQ(s.log(), "");  // nothing is built

    o.one_value = true;
    EXPECT_EQ(run("\"abc\n1", o).result.type, dt::error);
    EXPECT_EQ(run("a: 1", o).result.type, dt::set_word);
    EXPECT_EQ(run("(1, 2, 3)", o).result.type, dt::point3D);
    EXPECT_EQ(run("a/b: 1", o).result.type, dt::set_path);
    EXPECT_EQ(run("#[a] 1", o).result.type, dt::map);

    // a scan-only check pass asks the loader without loading
    Scanned c;
    c.rec.verdict = [](std::string_view, const Token& t, bool load) {
        EXPECT_FALSE(load);
        return t.kind == Kind::money ? dt::money : check_ok;
    };
    o.one_value = false;
    o.loader = &c.rec;
    c.result = scan("$1 a", o);
    EXPECT_FALSE(c.result.error);
    EXPECT_EQ(c.result.type, dt::word);
    // a path left open by an error is dropped, and the scan goes on outside it
    o.loader = nullptr;
    EXPECT_EQ(scan("a/b,c d", o).type, dt::word);
    EXPECT_EQ(scan("x {a", o).type, dt::error);
    // a refused line feed is still counted
    EXPECT_EQ(scan("a/\nb", o).line, 2);
}

// One-value scans stop after the first complete top-level value; prescans report its kind.
TEST(LexerScan, OneValueAndPrescan) {
    Options one;
    one.one_value = true;
    struct Case {
        const char* src;
        uint32_t position;
        const char* log;
    } cases[] = {
        {"1 2", 1, "integer:1"},
        {"  [a b] c", 7, "open:block word:a word:b close:block"},
        {"a/b c", 3, "open:path word:a|/ word:b close:path"},
        {"{a} b", 3, "string:{a|}"},
        {"; c\n#(true) x", 11, "construction:#(true|)"},
        {"(1, 2) 3", 6, "point:1, 2|)"},
    };
    for (const Case& c : cases) {
        Scanned s = run(c.src, one);
        EXPECT_EQ(s.result.position, c.position) << c.src;
        EXPECT_EQ(s.log(), c.log) << c.src;
    }
    one.string_input = true;
    Scanned u = run("\"\xC3\xA9\" 1", one);
    EXPECT_EQ(u.result.position, 4u);
    EXPECT_EQ(u.result.consumed, 3u);

    Options pre;
    pre.scan = false;
    struct Pre {
        const char* src;
        int32_t type;
        uint32_t position;
    } pres[] = {
        {"[a b] c", dt::block, 5}, {"1 2", dt::integer, 1}, {"  \"a\" b", dt::string, 5},
        {"a/b c", dt::path, 3}, {"{a{b}} c", dt::string, 6}, {"", dt::no_type, 0},
    };
    for (const Pre& p : pres) {
        Scanned s = run(p.src, pre);
        EXPECT_EQ(s.result.type, p.type) << p.src;
        EXPECT_EQ(s.result.position, p.position) << p.src;
        EXPECT_EQ(s.log(), "") << p.src;
    }
}

TEST(LexerScan, EndsOfInput) {
    EXPECT_EQ(run("").result.type, dt::no_type);
    EXPECT_EQ(run(" \n ").result.line, 2);
    EXPECT_EQ(run("1 ").result.type, dt::integer);
    // a NUL byte ends the text where it stands
    Scanned n = run(std::string_view("a\0b", 3));
    EXPECT_EQ(n.log(), "word:a");
    EXPECT_EQ(n.result.position, 1u);
    EXPECT_EQ(run(std::string_view("[a\0]", 4)).result.error->expected, ']');
}

// ---- events -------------------------------------------------------------------------------

struct Watcher : Callback {
    std::vector<std::string> log;
    std::function<Answer(const EventInfo&)> answer;

    Answer event(const EventInfo& e) override {
        static const char* const names[] = {"", "prescan", "scan", "", "load", "", "", "", "open"};
        std::string s = e.event == Event::close   ? "close"
                        : e.event == Event::error ? "error"
                                                  : names[static_cast<int>(e.event)];
        switch (e.type.of) {
            case EventType::Of::none: s += " none"; break;
            case EventType::Of::datatype: s += " dt" + std::to_string(e.type.value); break;
            case EventType::Of::exit_state: s += " exit" + std::to_string(e.type.value); break;
            case EventType::Of::character: s += std::string(" '") + static_cast<char>(e.type.value) + "'"; break;
        }
        s += " " + std::to_string(e.token_start) + "-" + std::to_string(e.token_end) + "@" + std::to_string(e.index);
        if (e.line != 1) s += " line" + std::to_string(e.line);
        log.push_back(s);
        return answer ? answer(e) : Answer{};
    }
};

struct Traced {
    Result result;
    Recorder rec;
    Watcher watch;
};

Traced trace(std::string_view src, uint32_t mask = all_events, Options o = {}) {
    Traced t;
    t.watch.mask = mask;
    o.loader = &t.rec;
    o.callback = &t.watch;
    t.result = scan(src, o);
    return t;
}

TEST(LexerEvents, OrderAndArguments) {
    Traced t = trace("[a \"b\"] ;c\n#(none)");
    EXPECT_EQ(join(t.watch.log),
              "prescan exit2 1-2@0 open exit2 1-2@0 "
              "prescan dt15 2-3@2 scan dt15 2-3@2 load dt15 2-3@2 "
              "prescan dt7 4-7@6 scan dt7 4-7@6 load dt7 4-7@6 "
              "prescan exit3 7-8@6 close dt5 7-8@7 "
              "prescan exit11 9-11@8 scan exit11 9-11@10 "
              "prescan exit10 12-19@11 line2 scan exit10 12-19@18 line2 load exit10 12-19@18 line2");
    EXPECT_FALSE(t.result.error);

    // a braced string: one open for the outermost brace, then close, scan and load
    Traced b = trace("{a{b}c}");
    EXPECT_EQ(join(b.watch.log),
              "prescan exit6 1-2@0 open exit6 1-2@0 close dt7 1-8@7 scan exit7 1-8@7 load exit7 1-8@7");

    // a point literal is reported as one token that includes its `(`
    Traced p = trace("(1, 2)", 1 | 2);
    EXPECT_EQ(join(p.watch.log), "prescan dt51 1-7@6 scan dt51 1-7@6");

    // a path: its first element as word!, the path's close over its whole extent
    Traced a = trace("a/b:", 2 | 4 | 8 | 16);
    EXPECT_EQ(join(a.watch.log), "open exit9 1-3@0 scan dt15 1-3@2 load dt15 1-3@2 "
                                 "scan dt15 3-4@3 load dt15 3-4@3 close dt27 1-5@4");
}

TEST(LexerEvents, MaskAndAnswers) {
    // only load events: one per value, none for brackets or comments
    Traced l = trace("[a 1] ;c\n", static_cast<uint32_t>(Event::load));
    EXPECT_EQ(join(l.watch.log), "load dt15 2-3@2 load dt11 4-5@4");

    // refusing load for integers drops them
    {
        Traced r;
        r.watch.answer = [](const EventInfo& e) {
            return Answer{!(e.event == Event::load && e.type.value == dt::integer), {}};
        };
        Options o;
        o.loader = &r.rec;
        o.callback = &r.watch;
        scan("a 1 b 2", o);
        EXPECT_EQ(join(r.rec.log), "word:a integer:1 drop word:b integer:2 drop");
    }

    // a refused prescan skips the token; a refused scan skips its loading
    {
        Traced r;
        r.watch.answer = [](const EventInfo& e) {
            const bool skip = (e.event == Event::prescan && e.token_start == 3) ||
                              (e.event == Event::scan && e.token_start == 5);
            return Answer{!skip, {}};
        };
        Options o;
        o.loader = &r.rec;
        o.callback = &r.watch;
        scan("a b c d", o);
        EXPECT_EQ(join(r.rec.log), "word:a word:d");
    }

    // a callback that moves the index past the next token makes the scan resume there
    {
        Traced r;
        r.watch.mask = static_cast<uint32_t>(Event::load);
        r.watch.answer = [](const EventInfo& e) {
            return e.token_start == 1 ? Answer{true, 3u} : Answer{};
        };
        Options o;
        o.loader = &r.rec;
        o.callback = &r.watch;
        scan("a b\nc", o);
        EXPECT_EQ(join(r.rec.log), "word:a word:c");
        EXPECT_EQ(r.watch.log.back(), "load dt15 5-6@5 line2");
    }
}

TEST(LexerEvents, Errors) {
    // the error event names the expected closing character; accepted, the error is raised
    Traced m = trace("[a", static_cast<uint32_t>(Event::error));
    EXPECT_EQ(join(m.watch.log), "error ']' 3-3@2");
    ASSERT_TRUE(m.result.error);

    // a close without an open names the closing character to the callback, `[` to the message
    Traced c = trace("a]", static_cast<uint32_t>(Event::error));
    EXPECT_EQ(join(c.watch.log), "error ']' 2-3@2");
    EXPECT_EQ(c.result.error->expected, '[');

    // refused, the token is abandoned and the scan goes on
    Traced r;
    r.watch.mask = static_cast<uint32_t>(Event::error);
    r.watch.answer = [](const EventInfo&) { return Answer{false, {}}; };
    Options o;
    o.loader = &r.rec;
    o.callback = &r.watch;
    r.result = scan("a] \"b\n c 1a d", o);
    EXPECT_FALSE(r.result.error);
    EXPECT_EQ(join(r.rec.log), "word:a word:c word:a word:d");
    EXPECT_EQ(join(r.watch.log), "error ']' 2-3@2 error dt7 4-6@5 error dt11 10-11@10 line2");

    // refused for a series left open at the end: the scan ends with none
    Traced e;
    e.watch.answer = [](const EventInfo& i) { return Answer{i.event != Event::error, {}}; };
    o.loader = &e.rec;
    o.callback = &e.watch;
    e.result = scan("[a", o);
    EXPECT_FALSE(e.result.error);
    EXPECT_TRUE(e.result.dropped);

    // inside a braced string the error starts at the outermost `{`
    Traced b = trace("x {a{b}", static_cast<uint32_t>(Event::error));
    EXPECT_EQ(join(b.watch.log), "error dt7 3-8@7");
}

TEST(LexerEvents, StringInputCountsCharacters) {
    Options o;
    o.string_input = true;
    Traced t = trace("\xC3\xA9 \"\xE2\x82\xAC\" x", static_cast<uint32_t>(Event::load), o);
    EXPECT_EQ(join(t.watch.log), "load dt15 1-2@1 load dt7 3-6@5 load dt15 7-8@7");
    EXPECT_EQ(t.result.consumed, 7u);

    // a moved index counts characters too
    Traced r;
    r.watch.mask = static_cast<uint32_t>(Event::load);
    r.watch.answer = [](const EventInfo& e) { return e.token_start == 1 ? Answer{true, 4u} : Answer{}; };
    o.loader = &r.rec;
    o.callback = &r.watch;
    scan("\xC3\xA9 \xC3\xA9 x", o);
    EXPECT_EQ(join(r.rec.log), "word:\xC3\xA9 word:x");
}

TEST(LexerEvents, MaskFromCallbackBody) {
    const std::string_view words[] = {"open", "CLOSE", "error", "other"};
    EXPECT_EQ(event_mask(true, words), 8u | 16u | 32u);
    EXPECT_EQ(event_mask(false, words), all_events);
    EXPECT_EQ(event_mask(true, {}), 0u);
}

// ---- text decoders --------------------------------------------------------------------------

TEST(LexerText, CaretEscapes) {
    struct Case {
        const char* text;  // after the `^`
        int32_t code;
        size_t used;
    } cases[] = {
        {"(tab)", 9, 5}, {"(TAB)", 9, 5}, {"(null)", 0, 6}, {"(back)", 8, 6}, {"(line)", 10, 6},
        {"(page)", 12, 6}, {"(esc)", 27, 5}, {"(Del)", 127, 5}, {"(41)", 0x41, 4}, {"(1F600)", 0x1F600, 7},
        {"(10FFFF)", 0x10FFFF, 8}, {"(110000)", invalid_code, 0}, {"(1234567)", invalid_code, 0},
        {"(xyz)", invalid_code, 0}, {"(41", invalid_code, 0}, {"()", invalid_code, 0}, {"", invalid_code, 0},
        {"\"", '"', 1}, {"-", 9, 1}, {"/", 10, 1}, {"^", '^', 1}, {"{", '{', 1}, {"}", '}', 1},
        {"~", 127, 1}, {"@", 0, 1}, {"a", 1, 1}, {"z", 26, 1}, {"A", 1, 1}, {"[", 27, 1},
        {"_", 31, 1}, {"1", '1', 1}, {"\xC3\xA9", 0xE9, 2},
    };
    for (const Case& c : cases) {
        size_t i = 0;
        EXPECT_EQ(decode_escape(c.text, i), c.code) << c.text;
        if (c.code != invalid_code) {
            EXPECT_EQ(i, c.used) << c.text;
        }
    }
    std::u32string out;
    EXPECT_TRUE(decode_text("a^/b^(tab)\xE2\x82\xAC", true, &out));
    EXPECT_EQ(out, U"a\nb\t\u20AC");
    out.clear();
    EXPECT_TRUE(decode_text("a^/b", false, &out));
    EXPECT_EQ(out, U"a^/b");
    EXPECT_FALSE(decode_text("a^", true));
}

TEST(LexerText, Utf8AndBlanks) {
    struct Case {
        const char* bytes;
        int32_t code;
    } cases[] = {
        {"\xE2\x82\xAC", 0x20AC}, {"\xF0\x9F\x98\x80", 0x1F600}, {"\x7F", 0x7F}, {"\xC0\x80", invalid_code},
        {"\xE0\x80\x80", invalid_code}, {"\xED\xA0\x80", invalid_code}, {"\xF4\x90\x80\x80", invalid_code},
        {"\xE2\x82", invalid_code}, {"\x80", invalid_code}, {"\xC3\x28", invalid_code},
    };
    for (const Case& c : cases) {
        size_t i = 0;
        EXPECT_EQ(decode_utf8(c.bytes, i), c.code) << c.bytes;
        EXPECT_GT(i, 0u);
    }
    for (uint32_t c : {0x85u, 0xA0u, 0x1680u, 0x180Eu, 0x2000u, 0x200Au, 0x200Bu, 0x2028u, 0x2029u, 0x202Fu, 0x205Fu, 0x3000u})
        EXPECT_TRUE(unicode_blank_q(c)) << c;
    for (uint32_t c : {0x20u, 0x200Cu, 0x2030u, 0x1FFFu})
        EXPECT_FALSE(unicode_blank_q(c)) << c;
}

// What a text decodes to, and the units written for it: the count, the largest code point and
// whether the bytes are the characters as they stand.
TEST(LexerText, MeasureAndWrite) {
    struct Case {
        const char* text;
        bool carets;
        bool ok;
        std::u32string chars;
        bool plain;
    } cases[] = {
        {"", true, true, U"", true},
        {"abc", true, true, U"abc", true},
        {"a^/b", false, true, U"a^/b", true},
        {"a^/b", true, true, U"a\nb", false},
        {"\x01\x7F", true, true, U"\x01\x7F", true},
        {"\xC3\xA9t\xC3\xA9", false, true, U"\u00E9t\u00E9", false},
        {"\xE2\x82\xAC^(1F600)", true, true, U"\u20AC\U0001F600", false},
        {"^(100)", true, true, U"\u0100", false},
        {"a\x80", false, false, U"", false},
        {"a^", true, false, U"", false},
        {"\xF0\x9F\x98", false, false, U"", false},
    };
    for (const Case& c : cases) {
        TextMeasure m;
        ASSERT_EQ(measure_text(c.text, c.carets, &m), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(m.count, c.chars.size()) << c.text;
        EXPECT_EQ(m.plain, c.plain) << c.text;
        uint32_t largest = 0;
        for (char32_t ch : c.chars) largest = std::max<uint32_t>(largest, ch);
        EXPECT_EQ(m.largest, largest) << c.text;
        for (uint32_t unit : {4u, 2u, 1u}) {
            if ((unit == 1 && largest > 0xFF) || (unit == 2 && largest > 0xFFFF)) continue;
            std::vector<uint8_t> out(m.count * unit + 1, 0xEE);
            write_text(c.text, c.carets, out.data(), unit);
            EXPECT_EQ(out.back(), 0xEE) << c.text << " wrote past its units";
            for (size_t i = 0; i < m.count; ++i) {
                uint32_t ch = 0;
                for (uint32_t k = 0; k < unit; ++k) ch |= uint32_t(out[i * unit + k]) << (8 * k);
                EXPECT_EQ(ch, uint32_t(c.chars[i])) << c.text << " unit " << unit << " at " << i;
            }
        }
    }
    // the flags tell plain text without reading it
    EXPECT_TRUE(plain_text_q(flag::sign | flag::dot, true));
    EXPECT_FALSE(plain_text_q(flag::caret, true));
    EXPECT_TRUE(plain_text_q(flag::caret, false));
    EXPECT_FALSE(plain_text_q(flag::utf8_wide, false));
    EXPECT_FALSE(plain_text_q(flag::high, false));
}

TEST(LexerText, StringUnitSize) {
    struct Case {
        const char* body;
        uint32_t flags;
        int unit;
    } cases[] = {
        {"abc", 0, 1}, {"\xC3\xA9", flag::utf8_wide, 2}, {"\xF0\x9F\x98\x80", flag::utf8_wide | flag::utf8_4, 4},
        {"^(41)", flag::caret, 1}, {"^(100)", flag::caret, 2}, {"^(10000)", flag::caret, 4},
        {"^^(100)", flag::caret, 1}, {"^(100)", 0, 1}, {"^(tab)", flag::caret, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(string_unit_size(c.body, c.flags), c.unit) << c.body;
}

// ---- generated tables -------------------------------------------------------------------------

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(LexerTables, ClassesAndFlagsAsSpecified) {
    auto cls = [](int b) { return char_classes[b] & 0xFF; };
    EXPECT_EQ(cls('\t'), c_blank);
    EXPECT_EQ(cls('\r'), c_blank);
    EXPECT_EQ(cls('\n'), c_line);
    EXPECT_EQ(cls('0'), c_zero);
    EXPECT_EQ(cls('9'), c_digit);
    EXPECT_EQ(cls('G'), c_word);
    EXPECT_EQ(cls('F'), c_uphex);
    EXPECT_EQ(cls('f'), c_lowhex);
    EXPECT_EQ(cls(0x7F), c_cont);
    EXPECT_EQ(cls(0xC1), c_illegal);
    EXPECT_EQ(cls(0xC2), c_word);
    EXPECT_EQ(cls(0xF8), c_illegal);
    EXPECT_EQ(cls(0), c_end);
    EXPECT_EQ(char_classes['%'] & ~0xFFu, flag::percent);
    EXPECT_EQ(char_classes['-'] & ~0xFFu, flag::sign);
    EXPECT_EQ(char_classes['E'] & ~0xFFu, flag::exponent);
    EXPECT_EQ(char_classes[0xEF] & ~0xFFu, flag::utf8_wide);
    EXPECT_EQ(char_classes[0xF0] & ~0xFFu, flag::utf8_4);
    // every byte above 7F is a lead byte or marked high
    for (int b = 0x80; b < 0x100; ++b)
        EXPECT_NE(char_classes[b] & (flag::utf8_wide | flag::utf8_4 | flag::high), 0u) << b;
    EXPECT_EQ(char_classes[0x7F] & ~0xFFu, 0u);
    // every state sends the end class to a token kind; state 0 alone skips
    for (int s = 0; s < state_count; ++s) {
        EXPECT_GE(transitions[s][c_end], terminal_base) << state_names[s];
        EXPECT_EQ(skip_table[s], s == 0 ? 1 : 0);
    }
}

TEST(LexerTables, GeneratorReproducesCommittedFiles) {
    const std::string here = __FILE__;
    const std::string root = here.substr(0, here.rfind("/tests/unit/"));
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    char dir[] = "/tmp/lexer-tables-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string cmd = "python3 " + root + "/tools/gen-lexer-tables.py --out " + dir;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (const char* name : {"lexer-tables.h", "lexer-tables.cpp"}) {
        const std::string fresh = std::string(dir) + "/" + name;
        EXPECT_EQ(slurp(fresh), slurp(root + "/src/reader/" + name)) << name;
        std::remove(fresh.c_str());
    }
    rmdir(dir);
}

}  // namespace
