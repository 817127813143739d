// Loaders: each value token becomes a cell in the innermost open series. Open series are
// blocks held on the argument stack until their closing token.
#include "reader/lexer-load.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/float-text.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "evaluator/error.h"
#include "evaluator/symbol.h"
#include "evaluator/word.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "reader/lexer-scalars.h"
#include "reader/lexer-scan.h"
#include "reader/lexer-text.h"
#include "reader/number-scan.h"

namespace zuv::lexer {

namespace {

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// %XX escapes decoded, other bytes as they are (UTF-8 decoded afterwards).
std::string percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() + 0 && i + 2 <= text.size() - 1) {
            int32_t h = hex_digit(static_cast<uint8_t>(text[i + 1])), l = hex_digit(static_cast<uint8_t>(text[i + 2]));
            if (h >= 0 && l >= 0) {
                out.push_back(static_cast<char>(h * 16 + l));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// A `'` in a number stands alone between two digits: 1'000, never 1''0 nor 1'.
bool separated_digits(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\'') continue;
        const bool before = i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9';
        const bool after = i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9';
        if (!before || !after) return false;
    }
    return true;
}

// Optional sign, "1.#", then INF or NAN in any case: nothing else is a special float.
bool special_float_q(std::string_view text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return text.size() == 6 && text.substr(0, 3) == "1.#" &&
           (same_text_ci(text.substr(3), "INF") || same_text_ci(text.substr(3), "NAN"));
}

size_t digit_count(std::string_view text) {
    size_t n = 0;
    for (char c : text) n += c >= '0' && c <= '9';
    return n;
}

class ValueLoader final : public Loader {
public:
    // Loaders nest with their scans; the innermost is the one whose value a callback sees.
    explicit ValueLoader(Cell* target) : target_(target), outer_(active) { active = this; }
    ~ValueLoader() override { active = outer_; }
    ValueLoader(const ValueLoader&) = delete;
    ValueLoader& operator=(const ValueLoader&) = delete;

    static inline ValueLoader* active = nullptr;

    // The value appended last to the innermost open series, or null when it holds none.
    Cell* last() {
        Cell* c = current();
        return series::buffer_length(c) > 0 ? block::tail(c) - 1 : nullptr;
    }

    int32_t value(std::string_view input, const Token& t, bool load) override {
        std::string_view body = input.substr(t.body_start, t.body_end - t.body_start);
        std::string_view text = input.substr(t.start, t.end - t.start);
        Cell v{};  // the scalar makers set only their type bits: no stray flag may remain
        int32_t fault = check_ok;
        switch (t.kind) {
            case Kind::word: {
                Type type = static_cast<Type>(static_cast<uint8_t>(t.word));
                if (!load) return check_ok;
                word::make_at(&v, symbol::make(body), type);
                break;
            }
            case Kind::issue:
            case Kind::refinement:
                if (!load) return check_ok;
                word::make_unbound(&v, symbol::make(body), t.kind == Kind::issue ? Type::issue : Type::refinement);
                if (t.kind == Kind::refinement) word::make_at(&v, symbol::make(body), Type::refinement);
                break;
            case Kind::string:
            case Kind::brace_close: {
                std::u32string chars;
                if (!decode_text(body, true, &chars)) return dt::string;
                if (!load) return check_ok;
                make_text(&v, chars, Type::string);
                break;
            }
            case Kind::raw_string: {
                std::u32string chars;
                if (!decode_text(body, false, &chars)) return dt::string;
                if (!load) return check_ok;
                make_text(&v, chars, Type::string);
                break;
            }
            case Kind::file: {
                bool quoted = text.size() > 1 && text[1] == '"';
                std::u32string chars;
                if (quoted) {
                    if (!decode_text(body, true, &chars)) return dt::file;
                } else {
                    std::string decoded = percent_decode(body);
                    if (!decode_text(decoded, false, &chars)) return dt::file;
                }
                if (!load) return check_ok;
                make_text(&v, chars, Type::file);
                break;
            }
            case Kind::url: case Kind::email: case Kind::tag: case Kind::ref: {
                Type type = t.kind == Kind::url ? Type::url : t.kind == Kind::email ? Type::email
                          : t.kind == Kind::tag ? Type::tag : Type::ref;
                std::u32string chars;
                std::string decoded = t.kind == Kind::url && body.find('%') != std::string_view::npos
                                          ? percent_decode(body) : std::string(body);
                if (!decode_text(decoded, false, &chars)) return static_cast<int32_t>(type);
                if (!load) return check_ok;
                make_text(&v, chars, type);
                break;
            }
            case Kind::char_: {
                std::u32string chars;
                if (!decode_text(body, true, &chars) || chars.size() != 1 || chars[0] > 0x10FFFF) return dt::char_;
                if (!load) return check_ok;
                cell::make(&v, Type::char_, 0, chars[0]);
                break;
            }
            case Kind::integer: {
                if (!separated_digits(text)) return dt::integer;
                if (digit_count(text) > 10) return load_float(text, t, load);
                IntegerScan r = scan_integer(reinterpret_cast<const uint8_t*>(text.data()),
                                             static_cast<int32_t>(text.size()), 1);
                if (r.error == ScanError::not_a_number) return dt::integer;
                if (r.error == ScanError::overflow) return load_float(text, t, load);
                if (!load) return check_ok;
                cell::make(&v, Type::integer, 0, static_cast<uint32_t>(r.value));
                break;
            }
            case Kind::hex_integer: {
                if (body.size() < 2 || body.size() > 8) return dt::integer;
                uint32_t n = 0;
                for (char c : body) {
                    int32_t d = hex_digit(static_cast<uint8_t>(c));
                    if (d < 0) return dt::integer;
                    n = n * 16 + static_cast<uint32_t>(d);
                }
                if (!load) return check_ok;
                cell::make(&v, Type::integer, 0, n);
                break;
            }
            case Kind::float_:
                return load_float(text, t, load);
            case Kind::special_float: {
                if (!special_float_q(text)) return dt::float_;
                float_text::Parsed p = float_text::to_float_len(text.data(), static_cast<int32_t>(text.size()));
                if (p.unread) return dt::float_;
                if (!load) return check_ok;
                cell::make(&v, Type::float_);
                v.set_float23(p.value);
                break;
            }
            case Kind::percent: {
                FloatScan f = scan_float(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int32_t>(body.size()), 1);
                if (f.error != ScanError::none) return dt::percent;
                if (!load) return check_ok;
                cell::make(&v, Type::percent);
                v.set_float23(f.value / 100.0);
                break;
            }
            case Kind::binary: {
                std::string bytes;
                // The base is the text before the `#` of `#{`: empty for 16, "2" or "64".
                std::string_view base = input.substr(t.start, t.body_start - t.start);
                base = base.substr(0, base.find('#'));
                if (!decode_binary(base, body, bytes)) return dt::binary;
                if (!load) return check_ok;
                Ref node = memory::alloc_bytes(static_cast<int64_t>(bytes.size()));
                memory::SeriesBuffer* b = memory::buffer_of(node);
                if (!bytes.empty()) std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
                b->tail = b->head + static_cast<uint32_t>(bytes.size());
                cell::make(&v, Type::binary, 0, node, 0);
                break;
            }
            case Kind::construction:
                if (!load) return check_ok;
                switch (t.construct) {
                    case Construct::logic_true: v = logic::shared_true; break;
                    case Construct::logic_false: v = logic::shared_false; break;
                    case Construct::none_value: v = none::shared; break;
                    case Construct::unset: v = unset::shared; break;
                    default: return malconstruct;
                }
                break;
            case Kind::tuple: fault = load_tuple(text, &v); break;
            case Kind::pair:
                fault = separated_digits(text) ? load_pair(text, &v) : dt::pair;
                break;
            case Kind::point: fault = load_point(body, t.type, &v); break;
            case Kind::time: fault = load_time(text, &v); break;
            case Kind::money: fault = load_money(text, &v); break;
            case Kind::date: fault = load_date(text, &v); break;
            default: error::raise(error::id::internal_not_done);
        }
        if (fault != check_ok) return fault;
        if (!load) return check_ok;
        if (t.lines > 0) v.header |= header::new_line;
        block::append(current(), &v);
        return check_ok;
    }

    void open(int32_t kind, const Token& t) override {
        Cell* b = block::push_new(4);
        if (t.lines > 0) b->header |= header::new_line;
        open_.push_back({kind, b});
    }

    int32_t close(int32_t kind, const Token&) override {
        Open o = open_.back();
        open_.pop_back();
        Cell v = *o.cell;
        if (kind == dt::map) {
            if (series::length(&v) % 2) return dt::map;
            if (!map_hook) error::raise(error::id::internal_not_done);
            if (!map_hook(&v)) return dt::map;
        } else {
            v.set_type(static_cast<Type>(kind));
        }
        stack::arguments_top = o.cell;  // drop it from the stack: it goes into its parent
        block::append(current(), &v);
        return check_ok;
    }

    void drop_last() override {
        memory::SeriesBuffer* b = series::buffer(current());
        if (b->tail > b->head + series::head(current()) * sizeof(Cell)) b->tail -= sizeof(Cell);
    }

    void abandon() override {
        if (!open_.empty()) stack::arguments_top = open_.front().cell;
        open_.clear();
    }

    // Turns a loaded block into a map!, false when a key cannot be one.
    static bool (*map_hook)(Cell* block);

private:
    struct Open {
        int32_t kind;
        Cell* cell;
    };

    Cell* current() { return open_.empty() ? target_ : open_.back().cell; }

    static void make_text(Cell* v, const std::u32string& chars, Type type) {
        uint32_t unit = 1;
        for (char32_t c : chars) {
            if (c > 0xFFFF) { unit = 4; break; }
            if (c > 0xFF) unit = 2;
        }
        string::make_at_bytes(v, static_cast<int32_t>(chars.size()), unit, type);
        memory::SeriesBuffer* b = series::buffer(v);
        uint8_t* p = b->head_ptr();
        for (size_t i = 0; i < chars.size(); ++i) string::put_char(p + i * unit, unit, chars[i]);
        b->tail = b->head + static_cast<uint32_t>(chars.size() * unit);
    }

    int32_t load_float(std::string_view text, const Token& t, bool load) {
        FloatScan f = scan_float(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()), 1);
        if (f.error != ScanError::none) return dt::float_;
        if (!load) return check_ok;
        Cell v;
        cell::make(&v, Type::float_);
        v.set_float23(f.value);
        if (t.lines > 0) v.header |= header::new_line;
        block::append(current(), &v);
        return check_ok;
    }

    static bool decode_binary(std::string_view base, std::string_view body, std::string& out) {
        int radix = base.empty() || base == "16" ? 16 : base == "2" ? 2 : base == "64" ? 64 : 0;
        if (!radix) return false;
        std::string digits;
        for (size_t i = 0; i < body.size(); ++i) {
            char c = body[i];
            if (c == ';') {
                while (i < body.size() && body[i] != '\n') ++i;
                continue;
            }
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
            digits.push_back(c);
        }
        if (radix == 16) {
            if (digits.size() % 2) return false;
            for (size_t i = 0; i < digits.size(); i += 2) {
                int32_t h = hex_digit(static_cast<uint8_t>(digits[i])), l = hex_digit(static_cast<uint8_t>(digits[i + 1]));
                if (h < 0 || l < 0) return false;
                out.push_back(static_cast<char>(h * 16 + l));
            }
            return true;
        }
        if (radix == 2) {
            if (digits.size() % 8) return false;
            for (size_t i = 0; i < digits.size(); i += 8) {
                int byte = 0;
                for (size_t k = 0; k < 8; ++k) {
                    char c = digits[i + k];
                    if (c != '0' && c != '1') return false;
                    byte = byte * 2 + (c - '0');
                }
                out.push_back(static_cast<char>(byte));
            }
            return true;
        }
        auto value64 = [](char c) -> int {
            if (c >= 'A' && c <= 'Z') return c - 'A';
            if (c >= 'a' && c <= 'z') return c - 'a' + 26;
            if (c >= '0' && c <= '9') return c - '0' + 52;
            if (c == '+') return 62;
            if (c == '/') return 63;
            return -1;
        };
        size_t i = 0;
        while (i < digits.size()) {
            int v[4];
            int n = 0;
            bool padded = false;
            while (n < 4 && i < digits.size()) {
                char c = digits[i++];
                if (c == '=') {
                    padded = true;
                    break;
                }
                v[n] = value64(c);
                if (v[n] < 0) return false;
                ++n;
            }
            if (n < 2 && (n > 0 || !padded)) return n == 0 && !padded ? true : false;
            uint32_t bits = 0;
            for (int k = 0; k < n; ++k) bits |= static_cast<uint32_t>(v[k]) << (18 - 6 * k);
            out.push_back(static_cast<char>(bits >> 16));
            if (n > 2) out.push_back(static_cast<char>(bits >> 8));
            if (n > 3) out.push_back(static_cast<char>(bits));
            if (padded || n < 4) {
                if (n == 4) return false;
                break;
            }
        }
        return true;
    }

    Cell* target_;
    ValueLoader* outer_;
    std::vector<Open> open_;
};

bool (*ValueLoader::map_hook)(Cell*) = nullptr;

Cell text_of(std::string_view s) {
    Cell c;
    string::make_at(&c, static_cast<int32_t>(s.size()));
    Cell* held = stack::push(&c);
    string::append_utf8(held, s);
    c = *held;
    stack::pop(1);
    return c;
}

[[noreturn]] void raise_syntax(const SyntaxError& e) {
    Cell line = text_of(e.line_text);
    Cell* l = stack::push(&line);
    Cell excerpt = text_of(e.excerpt);
    Cell* x = stack::push(&excerpt);
    switch (e.id) {
        case SyntaxError::Id::bad_char: error::raise(error::id::syntax_bad_char, l, x);
        case SyntaxError::Id::malconstruct: error::raise(error::id::syntax_malconstruct, l, x);
        case SyntaxError::Id::missing: {
            Cell ch;
            cell::make(&ch, Type::char_, 0, static_cast<uint8_t>(e.expected));
            error::raise(error::id::syntax_missing, l, &ch, x);
        }
        default: {
            Cell type;
            datatype::make_at(&type, e.datatype);
            error::raise(error::id::syntax_invalid, l, &type, x);
        }
    }
}

}  // namespace

Result load_with(Cell* block, std::string_view text, Options options) {
    Cell* target = stack::push(block);
    Cell* mark = stack::arguments_top;
    ValueLoader loader(target);
    options.loader = &loader;
    Result r = scan(text, options);
    if (r.error) {
        stack::arguments_top = mark;
        raise_syntax(*r.error);
    }
    stack::arguments_top = mark - 1;
    return r;
}

Cell* last_loaded() { return ValueLoader::active ? ValueLoader::active->last() : nullptr; }

LoadResult load_into(Cell* block, std::string_view text, bool one_value, bool string_input) {
    Options o;
    o.one_value = one_value;
    o.string_input = string_input;
    Result r = load_with(block, text, o);
    return {r.consumed, r.line};
}

void scan_string(Cell* block, Cell* s, bool one_value, int32_t* consumed) {
    std::string text = string::to_utf8(s);
    LoadResult r = load_into(block, text, one_value, true);
    if (consumed) *consumed = static_cast<int32_t>(r.consumed);
}

Cell load_value(Cell* s) {
    Cell blk;
    block::make_at(&blk, 4);
    Cell* held = stack::push(&blk);
    int32_t consumed = 0;
    scan_string(held, s, true, &consumed);
    Cell result;
    if (consumed < string::char_count(s)) {
        // More text follows the first value: that is not one value.
        std::string rest = string::to_utf8(s).substr(0);
        result = none::shared;
        // Trailing blanks alone still make one value.
        size_t bytes = 0;
        for (int32_t i = 0; i < consumed && bytes < rest.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(rest[bytes]);
            bytes += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        }
        bool only_blanks = rest.find_first_not_of(" \t\r\n", bytes) == std::string::npos;
        if (only_blanks && series::length(held) > 0) result = *block::head(held);
    } else if (series::length(held) == 0) {
        result = unset::shared;
    } else {
        result = *block::head(held);
    }
    stack::pop(1);
    return result;
}

void init() {}

}  // namespace zuv::lexer
