// The codecs' fast paths: readers and a writer that make, in one pass, what the PARSE rules
// of 05-codecs.zuv make, and give up wherever those rules would fail or stop, so errors and
// odd cases are always theirs. Values being built wait on the argument stack; buffers move
// on any allocation, so the readers keep cells, never data pointers, across one.
#include "library/fast-codecs.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/float-text.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "memory/symbol.h"
#include "library/codecs.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "datatypes/number-scan.h"

namespace zuv::library {

namespace {

// The nesting the rules allow: a container opens only while fewer than this are open.
constexpr int max_depth = 500;

// Makes out a string of the text, in the narrowest unit that holds its characters.
void store_text(Cell* out, std::u32string_view text) {
    char32_t largest = 0;
    for (char32_t c : text) largest = std::max(largest, c);
    const uint32_t unit = largest > 0xFFFF ? 4 : largest > 0xFF ? 2 : 1;
    const auto count = static_cast<int32_t>(text.size());
    string::make_at_bytes(out, count, unit);
    memory::SeriesBuffer* b = series::buffer(out);
    uint8_t* p = b->head_ptr();
    if (unit == 1) {
        for (char32_t c : text) *p++ = static_cast<uint8_t>(c);
    } else {
        for (char32_t c : text) {
            string::put_char(p, unit, c);
            p += unit;
        }
    }
    b->tail = b->head + static_cast<uint32_t>(count) * unit;
}

// ---------------------------------------------------------------------------------------------
// Decoding

class JsonReader {
public:
    JsonReader(std::u32string text, uint32_t text_flags, Cell* key_fn, Cell* names)
        : t_(std::move(text)), text_flags_(text_flags), key_fn_(key_fn), names_(names) {}

    // The whole text as one value with blanks around it, pushed.
    bool document() {
        if (!value()) return false;
        return i_ == t_.size();
    }

private:
    std::u32string t_;
    // The rules copy a string value out of the text, so it carries the text's new-line flag
    // (an empty one is made new and does not).
    uint32_t text_flags_;
    size_t i_ = 0;
    int depth_ = 0;
    Cell* key_fn_;
    Cell* names_;  // a block on the argument stack: the words the key function gave
    // Each name met: the index of its word in names_, or -1 when the name stays a string.
    std::unordered_map<std::u32string, int32_t> keys_;

    char32_t at(size_t k) const { return k < t_.size() ? t_[k] : 0; }

    void blanks() {
        while (i_ < t_.size()) {
            const char32_t c = t_[i_];
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
            ++i_;
        }
    }

    bool literal(std::u32string_view word, const Cell& v) {
        if (t_.compare(i_, word.size(), word) != 0) return false;
        i_ += word.size();
        stack::push(&v);
        return true;
    }

    // A value with the blanks before and after it, pushed: the collector sees only what the
    // argument stack or a block holds.
    bool value() {
        blanks();
        switch (at(i_)) {
            case 't':
                if (!literal(U"true", logic::shared_true)) return false;
                break;
            case 'f':
                if (!literal(U"false", logic::shared_false)) return false;
                break;
            case 'n':
                if (!literal(U"null", none::shared)) return false;
                break;
            case '{':
                if (!object()) return false;
                break;
            case '[':
                if (!array()) return false;
                break;
            case '"': {
                size_t start, end;
                bool escaped;
                if (!string_extent(start, end, escaped) || !make_string(start, end, escaped)) return false;
                break;
            }
            default:
                if (!number()) return false;
        }
        blanks();
        return true;
    }

    // Takes the newest pushed value into the block.
    static void append_top(Cell* block) {
        block::append(block, stack::arguments_top - 1);
        stack::pop(1);
    }

    bool array() {
        if (depth_ >= max_depth) return false;
        ++depth_;
        ++i_;
        Cell* items = block::push_new(8);
        blanks();
        if (at(i_) != ']') {
            for (;;) {
                if (!value()) return false;
                append_top(items);
                if (at(i_) == ',') {
                    ++i_;
                    continue;
                }
                break;
            }
            if (at(i_) != ']') return false;
        }
        ++i_;
        --depth_;
        return true;
    }

    bool object() {
        if (depth_ >= max_depth) return false;
        ++depth_;
        ++i_;
        Cell* pairs = block::push_new(8);
        blanks();
        if (at(i_) != '}') {
            for (;;) {
                blanks();
                if (!name()) return false;
                append_top(pairs);
                blanks();
                if (at(i_) != ':') return false;
                ++i_;
                if (!value()) return false;
                append_top(pairs);
                if (at(i_) == ',') {
                    ++i_;
                    continue;
                }
                break;
            }
            if (at(i_) != '}') return false;
        }
        ++i_;
        // As make map! does: no pair keeps a new-line flag.
        const int32_t n = series::length(pairs);
        for (int32_t k = 0; k < n; ++k) block::cell_at(pairs, k)->header &= ~header::new_line;
        if (n == 0) map::make_at(pairs, nullptr, 2);
        else map::make_at(pairs, pairs, n);
        --depth_;
        return true;
    }

    // The quoted text at i_: its characters are [start, end); escaped when a backslash is
    // among them. Characters below 32 are refused, as are escapes the rules do not know.
    bool string_extent(size_t& start, size_t& end, bool& escaped) {
        start = ++i_;
        escaped = false;
        const size_t n = t_.size();
        for (;;) {
            if (i_ >= n) return false;
            const char32_t c = t_[i_];
            if (c == '"') break;
            if (c < 32) return false;
            if (c == '\\') {
                escaped = true;
                const char32_t e = at(i_ + 1);
                if (e == 'u') {
                    for (size_t k = i_ + 2; k < i_ + 6; ++k) {
                        const char32_t h = at(k);
                        if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F'))) return false;
                    }
                    i_ += 6;
                    continue;
                }
                if (e != '"' && e != 't' && e != '\\' && e != '/' && e != 'n' && e != 'r' && e != 'b' && e != 'f')
                    return false;
                i_ += 2;
                continue;
            }
            ++i_;
        }
        end = i_++;
        return true;
    }

    Cell* push_text(std::u32string_view text) {
        Cell* slot = stack::push(&none::shared);
        store_text(slot, text);
        return slot;
    }

    bool make_string(size_t start, size_t end, bool escaped) {
        const std::u32string_view raw(t_.data() + start, end - start);
        Cell* slot;
        if (!escaped) {
            slot = push_text(raw);
        } else {
            std::u32string decoded;
            if (!json_decode_escapes(std::u32string(raw), decoded)) return false;
            slot = push_text(decoded);
        }
        if (!raw.empty()) slot->header |= text_flags_;
        return true;
    }

    // An object's name, pushed: the key function's answer, asked once per distinct name.
    bool name() {
        if (at(i_) != '"') return false;
        size_t start, end;
        bool escaped;
        if (!string_extent(start, end, escaped)) return false;
        std::u32string raw(t_.data() + start, end - start), text;
        if (escaped) {
            if (!json_decode_escapes(raw, text)) return false;
        } else {
            text = std::move(raw);
        }
        auto known = keys_.find(text);
        if (known != keys_.end()) {
            if (known->second >= 0) stack::push(block::cell_at(names_, known->second));
            else push_text(text);
            return true;
        }
        Cell* slot = push_text(text);
        Cell args[1] = {*slot};
        Cell answer;
        interpreter::apply_function(key_fn_, nullptr, args, 1, &answer);
        if (interpreter::pending) interpreter::throw_pending();
        int32_t index = -1;
        if (answer.is(Type::word)) {
            *slot = answer;
            index = series::length(names_);
            block::append(names_, slot);
        }
        keys_.emplace(std::move(text), index);
        return true;
    }

    // A number as the rules take it (optional minus, an integer part without leading zeros,
    // optional fraction and exponent), made as the loader makes its text: an integer when it
    // has no fraction or exponent and fits, else a float.
    bool number() {
        Cell v;
        if (!number_into(&v)) return false;
        stack::push(&v);
        return true;
    }

    bool number_into(Cell* out) {
        const size_t start = i_;
        auto digit = [&](size_t k) { return at(k) >= '0' && at(k) <= '9'; };
        if (at(i_) == '-') ++i_;
        if (at(i_) == '0') {
            ++i_;
        } else if (digit(i_)) {
            while (digit(i_)) ++i_;
        } else {
            return false;
        }
        bool integral = true;
        if (at(i_) == '.' && digit(i_ + 1)) {
            integral = false;
            i_ += 2;
            while (digit(i_)) ++i_;
        }
        if (at(i_) == 'e' || at(i_) == 'E') {
            size_t k = i_ + 1;
            if (at(k) == '+' || at(k) == '-') ++k;
            if (digit(k)) {
                integral = false;
                i_ = k;
                while (digit(i_)) ++i_;
            }
        }
        const size_t length = i_ - start;
        if (length > number_scan::float_max_length) return false;
        char text[number_scan::float_max_length] = {};
        for (size_t k = 0; k < length; ++k) text[k] = static_cast<char>(t_[start + k]);
        if (integral) {
            const bool negative = text[0] == '-';
            const size_t digits = length - negative;
            if (digits <= 10) {
                int64_t v = 0;
                for (size_t k = negative; k < length; ++k) v = v * 10 + (text[k] - '0');
                if (negative) v = -v;
                if (v >= INT32_MIN && v <= INT32_MAX) {
                    cell::make(out, Type::integer, 0, static_cast<uint32_t>(static_cast<int32_t>(v)));
                    return true;
                }
            }
        }
        const number_scan::FloatScan f = number_scan::scan_float(text, length, 1);
        if (f.error != number_scan::ScanError::none) return false;
        cell::make(out, Type::float_);
        out->set_float23(f.value);
        return true;
    }
};

// ---------------------------------------------------------------------------------------------
// Encoding

// Writes what the encoder's rules write for none, logic values, integers, floats, percents,
// strings, blocks and maps, into text of its own; reads cells only, so nothing moves while it
// walks. Any other value (objects, words, the other series kinds), a float with no JSON form
// and a container met inside itself make it give up: the rules then write or refuse it.
class JsonWriter {
public:
    JsonWriter(bool ascii, std::u32string indent) : ascii_(ascii), indent_(std::move(indent)) {}

    std::u32string out;
    bool pretty = false;

    bool value(const Cell* v) {
        switch (v->type()) {
            case Type::none: put(U"null"); return true;
            case Type::logic: put(logic::get(v) ? U"true" : U"false"); return true;
            case Type::integer: {
                const std::string text = std::to_string(v->int2());
                for (char c : text) out += static_cast<char32_t>(c);
                return true;
            }
            case Type::float_: case Type::percent: {
                const double d = v->float23();
                if (!std::isfinite(d)) return false;
                const float_text::Text t = float_text::form_shortest(d, 0, true);
                for (char c : t.view()) out += static_cast<char32_t>(c);
                return true;
            }
            case Type::string: {
                memory::SeriesBuffer* b = series::buffer(v);
                const uint32_t unit = b->unit();
                const int32_t n = series::length(const_cast<Cell*>(v));
                const uint8_t* p = b->head_ptr() + static_cast<size_t>(v->int1()) * unit;
                text(p, unit, n);
                return true;
            }
            case Type::block: return block(v);
            case Type::map: return map(v);
            default: return false;
        }
    }

private:
    bool ascii_;
    std::u32string indent_;
    int level_ = 0;
    std::vector<Ref> walking_;  // the containers being written, outermost first

    void put(std::u32string_view s) { out += s; }

    void new_line(int change) {
        level_ += change;
        out += U'\n';
        for (int k = 0; k < level_; ++k) out += indent_;
    }

    static void hex4(std::u32string& to, uint32_t code) {
        static constexpr char digits[] = "0123456789ABCDEF";
        to += U"\\u";
        for (int shift = 12; shift >= 0; shift -= 4) to += static_cast<char32_t>(digits[(code >> shift) & 0xF]);
    }

    // A string between quotes: the characters outside the normal set as their short escape,
    // else as \u (a surrogate pair above U+FFFF).
    void text(const uint8_t* p, uint32_t unit, int32_t n) {
        out += U'"';
        for (int32_t k = 0; k < n; ++k) {
            const uint32_t c = string::get_char(p + static_cast<size_t>(k) * unit, unit);
            const bool normal = ascii_ ? (c >= 32 && c <= 127 && c != '"' && c != '\\')
                                       : (c >= 32 && c != '"' && c != '\\' && (c < 0xD800 || c > 0xDFFF));
            if (normal) {
                out += static_cast<char32_t>(c);
                continue;
            }
            switch (c) {
                case '"': out += U"\\\""; break;
                case '\\': out += U"\\\\"; break;
                case '\b': out += U"\\b"; break;
                case '\f': out += U"\\f"; break;
                case '\n': out += U"\\n"; break;
                case '\r': out += U"\\r"; break;
                case '\t': out += U"\\t"; break;
                default:
                    if (c <= 0xFFFF) {
                        hex4(out, c);
                    } else {
                        hex4(out, 0xD800 + ((c - 0x10000) >> 10));
                        hex4(out, 0xDC00 + ((c - 0x10000) & 1023));
                    }
            }
        }
        out += U'"';
    }

    bool enter(const Cell* v) {
        const Ref node = series::node(v);
        for (Ref r : walking_)
            if (r == node) return false;
        walking_.push_back(node);
        return true;
    }

    bool block(const Cell* v) {
        if (!enter(v)) return false;
        const int32_t n = series::length(const_cast<Cell*>(v));
        const Cell* items = block::head(v);
        if (n <= 0) {
            put(U"[]");
        } else {
            out += U'[';
            if (pretty) new_line(1);
            for (int32_t k = 0; k < n; ++k) {
                if (k) {
                    out += U',';
                    if (pretty) new_line(0);
                }
                if (!value(items + k)) return false;
            }
            if (pretty) new_line(-1);
            out += U']';
        }
        walking_.pop_back();
        return true;
    }

    // A map's live pairs in order: a string key as it is, a word key by its name.
    bool map(const Cell* v) {
        if (!enter(v)) return false;
        memory::SeriesBuffer* b = series::buffer(v);
        const Cell* cells = b->cells();
        const int32_t n = series::buffer_length(v);
        bool first = true;
        for (int32_t k = 0; k + 1 < n; k += 2) {
            const Cell* key = cells + k;
            const Cell* val = cells + k + 1;
            if (val->header == 0) continue;  // a removed pair
            out += first ? U'{' : U',';
            if (pretty) new_line(first ? 1 : 0);
            first = false;
            if (key->is(Type::string)) {
                if (!value(key)) return false;
            } else if (key->is(Type::word) || key->is(Type::set_word)) {
                if (!name_text(symbol::name(word::symbol_of(key)))) return false;
            } else {
                return false;
            }
            put(pretty ? U": " : U":");
            if (!value(val)) return false;
        }
        if (first) {
            put(U"{}");
        } else {
            if (pretty) new_line(-1);
            out += U'}';
        }
        walking_.pop_back();
        return true;
    }

    // A word's name as a string: its UTF-8 read into code points. False for a name that is
    // not UTF-8, which the rules then write as they do.
    bool name_text(std::string_view name) {
        std::u32string wide;
        const auto* p = reinterpret_cast<const uint8_t*>(name.data());
        const auto* end = p + name.size();
        while (p < end) {
            int32_t code_point;
            p = unicode::decode_utf8_char(p, end, code_point);
            if (code_point < 0) return false;
            wide += static_cast<char32_t>(code_point);
        }
        text(reinterpret_cast<const uint8_t*>(wide.data()), 4, static_cast<int32_t>(wide.size()));
        return true;
    }
};

}  // namespace

Cell* json_decode(Cell** args) {
    Cell* names = block::push_new(16);
    Cell* base = stack::arguments_top;
    JsonReader reader(string::code_points(args[0]), args[0]->header & header::new_line, args[1], names);
    if (!reader.document()) {
        stack::arguments_top = base;
        stack::pop(1);
        *args[0] = none::shared;
        return args[0];
    }
    Cell* result = block::push_new(1);
    block::append(result, result - 1);
    *args[0] = *result;
    stack::pop(3);
    return args[0];
}

Cell* json_encode(Cell** args) {
    Cell* indent = args[1];
    const bool ascii = args[2]->is(Type::logic) ? logic::get(args[2]) : !args[2]->is(Type::none);
    std::u32string indent_text;
    if (indent->is(Type::string)) indent_text = string::code_points(indent);
    JsonWriter w(ascii, std::move(indent_text));
    w.pretty = indent->is(Type::string);
    if (!w.value(args[0])) {
        *args[0] = none::shared;
        return args[0];
    }
    Cell* made = stack::push(&none::shared);
    store_text(made, w.out);
    *args[0] = *made;
    stack::pop(1);
    return args[0];
}

// ---------------------------------------------------------------------------------------------
// CSV

namespace {

constexpr int32_t max_fields = 4096;

class CsvReader {
public:
    CsvReader(std::u32string text, char32_t delimiter, char32_t quote)
        : t_(std::move(text)), delimiter_(delimiter), quote_(quote) {}

    bool at_end() const { return i_ >= t_.size(); }

    // One record's fields, each pushed as a new string, then the line end after it (none at
    // the end of the text). False where the rules would not take the record whole.
    bool record(int32_t& fields) {
        fields = 0;
        for (;;) {
            // Each field waits on the argument stack: a record too wide for it is the rules'.
            if (fields >= max_fields || !field()) return false;
            ++fields;
            if (i_ < t_.size() && t_[i_] == delimiter_) {
                ++i_;
                continue;
            }
            break;
        }
        return line_end();
    }

private:
    std::u32string t_;
    size_t i_ = 0;
    char32_t delimiter_, quote_;
    std::u32string value_;

    // A line break (CR LF, LF or CR), or the end of the text.
    bool line_end() {
        if (i_ >= t_.size()) return true;
        if (t_[i_] == '\r') {
            ++i_;
            if (i_ < t_.size() && t_[i_] == '\n') ++i_;
            return true;
        }
        if (t_[i_] == '\n') {
            ++i_;
            return true;
        }
        return false;
    }

    bool field() {
        const size_t n = t_.size();
        Cell* slot = stack::push(&none::shared);
        if (i_ < n && t_[i_] == quote_) {
            // Quoted: a doubled quote stands for one; the closing quote must end the field.
            value_.clear();
            size_t k = i_ + 1;
            for (;;) {
                if (k >= n) return false;
                if (t_[k] != quote_) {
                    value_ += t_[k++];
                    continue;
                }
                if (k + 1 < n && t_[k + 1] == quote_) {
                    value_ += quote_;
                    k += 2;
                    continue;
                }
                break;
            }
            i_ = k + 1;
            if (i_ < n && t_[i_] != delimiter_ && t_[i_] != '\r' && t_[i_] != '\n') return false;
            store_text(slot, value_);
            return true;
        }
        const size_t start = i_;
        while (i_ < n) {
            const char32_t c = t_[i_];
            if (c == delimiter_ || c == '\r' || c == '\n') break;
            ++i_;
        }
        store_text(slot, std::u32string_view(t_.data() + start, i_ - start));
        return true;
    }
};

// The pushed fields, newest last, made into a block pushed in their place.
void gather_fields(int32_t count) {
    Cell* first = stack::arguments_top - count;
    Cell* row = block::push_new(count);
    for (int32_t k = 0; k < count; ++k) block::append(row, first + k);
    *first = *row;
    stack::arguments_top = first + 1;
}

}  // namespace

Cell* csv_rows(Cell** args) {
    const bool header = args[3]->is(Type::logic) ? logic::get(args[3]) : !args[3]->is(Type::none);
    Cell* base = stack::arguments_top;
    auto give_up = [&] {
        stack::arguments_top = base;
        *args[0] = none::shared;
        return args[0];
    };
    if (series::length(args[0]) <= 0) return give_up();
    CsvReader reader(string::code_points(args[0]), static_cast<char32_t>(args[1]->int2()),
                     static_cast<char32_t>(args[2]->int2()));
    Cell* rows = block::push_new(std::max<int32_t>(series::length(args[0]) / 80, 4));
    int32_t fields = 0, longest = -1;
    if (header) {
        // The header must end in a line break, with records after it.
        if (!reader.record(fields) || reader.at_end()) return give_up();
        gather_fields(fields);
        block::append(rows, stack::arguments_top - 1);
        stack::pop(1);
    }
    while (!reader.at_end()) {
        if (!reader.record(fields)) return give_up();
        if (longest < 0) longest = fields;
        if (fields != longest) return give_up();
        gather_fields(fields);
        block::append(rows, stack::arguments_top - 1);
        stack::pop(1);
    }
    *args[0] = *rows;
    stack::arguments_top = base;
    return args[0];
}

}  // namespace zuv::library
