// Loaders: each value token becomes a cell in the innermost open series. The series being
// built share one value buffer; a closing token makes its series in one allocation.
#include "reader/lexer-load.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/float-text.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "memory/upcalls.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "reader/lexer-scalars.h"
#include "reader/lexer-scan.h"
#include "reader/lexer-text.h"
#include "datatypes/map.h"
#include "datatypes/number-scan.h"

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

// An integer token's text: optional sign, digits, and a `'` alone between two digits. More
// than 10 digits, or a value beyond 32 bits, make the token a float (too_big), except that
// -2147483648 is the least integer.
struct IntegerText {
    int32_t value = 0;
    bool fault = false;
    bool too_big = false;
};

IntegerText read_integer(std::string_view text) {
    IntegerText r;
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
    int64_t n = 0;
    int32_t digits = 0;
    bool after_digit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (++digits <= 10) n = n * 10 + (c - '0');
            after_digit = true;
        } else if (c == '\'' && after_digit && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            after_digit = false;
        } else {
            r.fault = true;
            return r;
        }
    }
    if (digits == 0) r.fault = true;
    if (negative) n = -n;
    if (digits > 10 || n > INT32_MAX || n < INT32_MIN) r.too_big = true;
    else r.value = static_cast<int32_t>(n);
    return r;
}

// The values of every running load, innermost load last: one block, kept alive as a root and
// reused from load to load, so that a load allocates only the series it makes. A series being
// built is a run of cells at its tail until its closing token copies them into a new block of
// their exact size. Buffers move on any allocation: the loaders keep indexes, not pointers.
Cell value_buffer;

int32_t buffer_length() { return series::buffer_length(&value_buffer); }
void truncate_buffer(int32_t length) {
    memory::SeriesBuffer* b = series::buffer(&value_buffer);
    b->tail = b->head + static_cast<uint32_t>(length) * sizeof(Cell);
}

[[gnu::noinline]] void push_value_growing(const Cell& v) { block::append(&value_buffer, &v); }

// Every loaded value passes here: the common case, room at the tail, is inlined.
[[gnu::always_inline]] inline void push_value(const Cell& v) {
    memory::SeriesBuffer* b = series::buffer(&value_buffer);
    if (b->tail_ptr() + sizeof(Cell) > b->data_end()) [[unlikely]] {
        push_value_growing(v);
        return;
    }
    // word by word: the value was just built word by word, and one wide copy of it would wait
    // for those stores to land
    Cell* c = b->cells_end();
    c->header = v.header;
    c->data1 = v.data1;
    c->data2 = v.data2;
    c->data3 = v.data3;
    b->tail += sizeof(Cell);
}

// Words met lately, in a small table found by a hash of their spelling: source repeats a few
// hundred words, and a hit spares interning the spelling and finding it in the global context
// again. Symbols and global words are never removed, but a collection may move the global
// context's node: the table is emptied after each collection, and when it fills.
//
// A spelling is kept as 64-bit words padded with zero bytes, so that a spelling of up to 16
// bytes (nearly every word) is found and compared with two loads and no loop over its bytes.
struct alignas(64) KnownWord {
    uint32_t length = 0;  // 0: empty
    int32_t symbol;
    uint64_t spelling[5];
    Cell word;  // the word! bound to the global context, or a zero header until one is made
};
static_assert(sizeof(KnownWord) == 64);
constexpr uint32_t known_word_count = 512;
constexpr size_t known_word_longest = sizeof(KnownWord::spelling);
KnownWord known_words[known_word_count];
uint32_t known_words_used = 0;
uint32_t known_words_made = 0;  // collector::stats.collections when they were made

void forget_known_words() {
    for (KnownWord& k : known_words) k.length = 0;
    known_words_used = 0;
    known_words_made = collector::stats.collections;
}

uint64_t load64(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

uint32_t load32(const char* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// The first 16 bytes of a spelling as two little-endian words padded with zero bytes, read
// without touching a byte outside it.
struct SpellingHead {
    uint64_t first = 0, second = 0;
};

SpellingHead spelling_head(const char* p, size_t n) {
    SpellingHead h;
    if (n >= 8) {
        h.first = load64(p);
        if (n >= 16) h.second = load64(p + 8);
        else if (n > 8) h.second = load64(p + n - 8) >> (8 * (16 - n));
    } else if (n >= 4) {
        // the two reads overlap on equal bytes
        h.first = load32(p) | static_cast<uint64_t>(load32(p + n - 4)) << (8 * (n - 4));
    } else if (n > 0) {
        const auto b = [p](size_t i) { return static_cast<uint64_t>(static_cast<uint8_t>(p[i])) << (8 * i); };
        h.first = b(0) | b(n / 2) | b(n - 1);
    }
    return h;
}

uint32_t spelling_hash(const SpellingHead& h, size_t n) {
    const uint64_t mixed = (h.first ^ (h.second * 0x9E3779B97F4A7C15ull) ^ n) * 0xFF51AFD7ED558CCDull;
    return static_cast<uint32_t>(mixed >> 55);  // the best mixed bits, as many as index the table
}

bool same_spelling(const KnownWord& k, const SpellingHead& h, const char* p, size_t n) {
    if (k.length != n || k.spelling[0] != h.first || k.spelling[1] != h.second) return false;
    return n <= 16 || std::memcmp(&k.spelling[2], p + 16, n - 16) == 0;
}

// The entry of a spelling, interned when it is not known yet; null for a long spelling.
KnownWord* known_word(std::string_view spelling) {
    const char* p = spelling.data();
    const size_t n = spelling.size();
    if (n > known_word_longest) return nullptr;
    if (known_words_made != collector::stats.collections) [[unlikely]] forget_known_words();
    const SpellingHead head = spelling_head(p, n);
    const uint32_t hash = spelling_hash(head, n);
    for (uint32_t h = hash;; ++h) {
        KnownWord* k = &known_words[h & (known_word_count - 1)];
        if (k->length == 0) break;
        if (same_spelling(*k, head, p, n)) return k;
    }
    const int32_t symbol = symbol::make(spelling);
    // interning may have collected; a table three quarters full probes too long
    if (known_words_made != collector::stats.collections || known_words_used >= known_word_count / 4 * 3)
        forget_known_words();
    uint32_t h = hash;
    while (known_words[h & (known_word_count - 1)].length) ++h;
    KnownWord* k = &known_words[h & (known_word_count - 1)];
    k->length = static_cast<uint32_t>(n);
    std::memset(k->spelling, 0, sizeof k->spelling);
    std::memcpy(k->spelling, p, n);
    k->symbol = symbol;
    k->word.header = 0;
    ++known_words_used;
    return k;
}

int32_t symbol_of(std::string_view spelling) {
    const KnownWord* k = known_word(spelling);
    return k ? k->symbol : symbol::make(spelling);
}

// A word cell of the type for the spelling, bound as the loader binds every word.
void make_word(Cell* v, std::string_view spelling, Type type) {
    KnownWord* k = known_word(spelling);
    if (!k) {
        word::make_at(v, symbol::make(spelling), type);
        return;
    }
    if (k->word.header == 0) {
        const uint32_t made = collector::stats.collections;
        Cell w;
        word::make_at(&w, k->symbol, Type::word);
        if (made != collector::stats.collections) {  // the entry was dropped meanwhile
            *v = w;
            v->set_type(type);
            return;
        }
        k->word = w;
    }
    *v = k->word;
    v->set_type(type);
}

// A new block holding a copy of the value buffer's cells from `from` to its tail.
void block_of_buffer(Cell* out, int32_t from) {
    const int32_t n = buffer_length() - from;
    block::make_at(out, n);
    memory::SeriesBuffer* b = series::buffer(out);
    if (n > 0) std::memcpy(b->cells(), block::cell_at(&value_buffer, from), size_t(n) * sizeof(Cell));
    b->tail = b->head + static_cast<uint32_t>(n) * sizeof(Cell);
}

class ValueLoader final : public Loader {
public:
    // Loaders nest with their scans; the innermost is the one whose value a callback sees.
    explicit ValueLoader(Cell* target) : target_(target), outer_(active), base_(buffer_length()) { active = this; }
    ~ValueLoader() override {
        truncate_buffer(base_);
        active = outer_;
    }
    ValueLoader(const ValueLoader&) = delete;
    ValueLoader& operator=(const ValueLoader&) = delete;

    static inline ValueLoader* active = nullptr;

    // The value appended last to the innermost open series, or null when it holds none.
    Cell* last() { return buffer_length() > current() ? block::tail(&value_buffer) - 1 : nullptr; }

    // Appends the values this load left at the top level to the target block.
    void finish() {
        if (!open_.empty()) truncate_buffer(open_.front().start);
        if (buffer_length() > base_) {
            Cell values = value_buffer;
            series::set_head(&values, static_cast<int32_t>(base_));
            block::copy_cells_in(target_, &values);
        }
        truncate_buffer(base_);
        open_.clear();
    }

    int32_t value(std::string_view input, const Token& t, bool load) override {
        const std::string_view body(input.data() + t.body_start, t.body_end - t.body_start);
        const std::string_view text(input.data() + t.start, t.end - t.start);
        Cell v{};  // the scalar makers set only their type bits: no stray flag may remain
        int32_t fault = check_ok;
        switch (t.kind) {
            case Kind::word: {
                Type type = static_cast<Type>(static_cast<uint8_t>(t.word));
                if (!load) return check_ok;
                make_word(&v, body, type);
                break;
            }
            case Kind::issue:
                if (!load) return check_ok;
                word::make_unbound(&v, symbol_of(body), Type::issue);
                break;
            case Kind::refinement:
                if (!load) return check_ok;
                make_word(&v, body, Type::refinement);
                break;
            case Kind::string:
            case Kind::brace_close:
                if (!make_text(&v, body, true, Type::string, load, t.flags)) return dt::string;
                break;
            case Kind::raw_string:
                if (!make_text(&v, body, false, Type::string, load, t.flags)) return dt::string;
                break;
            case Kind::file: {
                bool quoted = text.size() > 1 && text[1] == '"';
                bool made = quoted ? make_text(&v, body, true, Type::file, load, t.flags)
                          : body.find('%') == std::string_view::npos
                              ? make_text(&v, body, false, Type::file, load, t.flags)
                              : make_text(&v, percent_decode(body), false, Type::file, load);
                if (!made) return dt::file;
                break;
            }
            case Kind::url: case Kind::email: case Kind::tag: case Kind::ref: {
                Type type = t.kind == Kind::url ? Type::url : t.kind == Kind::email ? Type::email
                          : t.kind == Kind::tag ? Type::tag : Type::ref;
                bool made = t.kind == Kind::url && body.find('%') != std::string_view::npos
                                ? make_text(&v, percent_decode(body), false, type, load)
                                : make_text(&v, body, false, type, load, t.flags);
                if (!made) return static_cast<int32_t>(type);
                break;
            }
            case Kind::char_: {
                // one character or escape: code points go up to 10FFFF, so at most four units
                TextMeasure m;
                if (!measure_text(body, true, &m) || m.count != 1) return dt::char_;
                if (!load) return check_ok;
                uint8_t code[4];
                write_text(body, true, code, 4);
                cell::make(&v, Type::char_, 0, string::get_char(code, 4));
                break;
            }
            case Kind::integer: {
                const IntegerText n = read_integer(text);
                if (n.fault) return dt::integer;
                if (n.too_big) return load_float(text, t, load);
                if (!load) return check_ok;
                cell::make(&v, Type::integer, 0, static_cast<uint32_t>(n.value));
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
                if (!number_scan::special_float_q(text)) return dt::float_;
                float_text::Parsed p = float_text::to_float_len(text.data(), static_cast<int32_t>(text.size()));
                if (p.unread) return dt::float_;
                if (!load) return check_ok;
                cell::make(&v, Type::float_);
                v.set_float23(p.value);
                break;
            }
            case Kind::percent: {
                // Read as hundredths in one rounding: dividing the read number by 100 would
                // round twice and miss the value the text was written from.
                number_scan::FloatScan f = number_scan::scan_float(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int32_t>(body.size()), 1, -2);
                if (f.error != number_scan::ScanError::none) return dt::percent;
                if (!load) return check_ok;
                cell::make(&v, Type::percent);
                v.set_float23(f.value);
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
                if (t.construct == Construct::datatype) {
                    int id = datatype::id_of_name(body);
                    if (id < 0) return malconstruct;
                    datatype::make_at(&v, id);
                    break;
                }
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
        push_value(v);
        return check_ok;
    }

    void open(int32_t kind, const Token& t) override { open_.push_back({kind, buffer_length(), t.lines > 0}); }

    int32_t close(int32_t kind, const Token&) override {
        Open o = open_.back();
        open_.pop_back();
        Cell v;
        block_of_buffer(&v, o.start);
        truncate_buffer(o.start);
        if (kind == dt::map) {
            if (series::length(&v) % 2) return dt::map;
            if (!map::make_from_loaded(&v)) return dt::map;
        } else {
            v.set_type(static_cast<Type>(kind));
        }
        if (o.new_line) v.header |= header::new_line;
        if (kind != dt::map) {
            push_value(v);  // the block's node is held once the buffer has the cell
            return check_ok;
        }
        // On the stack until the value buffer holds it: a map's table has buffers that a copy
        // held only in this frame would not keep if adding it to the buffer collects.
        Cell* held = stack::push(&v);
        push_value(*held);
        stack::pop(1);
        return check_ok;
    }

    void drop_last() override {
        if (buffer_length() > current()) truncate_buffer(buffer_length() - 1);
    }

    void abandon() override {
        truncate_buffer(base_);
        open_.clear();
    }

private:
    struct Open {
        int32_t kind;
        int32_t start;  // the first cell of its values in the value buffer
        bool new_line;
    };

    // Where the values of the innermost open series start in the value buffer.
    int32_t current() const { return open_.empty() ? base_ : open_.back().start; }

    // A string of the datatype from UTF-8 text (with caret escapes when `carets`), made into
    // v when `load`; false when the text does not decode. `flags` are those of the token the
    // text is part of (none for text decoded from %XX escapes).
    static bool make_text(Cell* v, std::string_view body, bool carets, Type type, bool load,
                          uint32_t flags = flag::high) {
        TextMeasure m;
        if (plain_text_q(flags, carets)) m.count = body.size();
        else if (!measure_text(body, carets, &m)) return false;
        if (!load) return true;
        const uint32_t unit = m.largest > 0xFFFF ? 4 : m.largest > 0xFF ? 2 : 1;
        string::make_at_bytes(v, static_cast<int32_t>(m.count), unit, type);
        memory::SeriesBuffer* b = series::buffer(v);
        if (m.plain) {
            if (m.count) std::memcpy(b->head_ptr(), body.data(), m.count);
        } else {
            write_text(body, carets, b->head_ptr(), unit);
        }
        b->tail = b->head + static_cast<uint32_t>(m.count * unit);
        return true;
    }

    // Most floats in source are a few digits on each side of a point: with at most 15 digits
    // both the digits as an integer and the power of ten are exact doubles, and one division
    // rounds correctly, giving the value the general reader gives. Other texts take that reader.
    static bool short_decimal(std::string_view text, double* out) {
        static constexpr double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const char* p = text.data();
        const char* const end = p + text.size();
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        uint64_t m = 0;
        const char* const whole = p;
        while (p < end && *p >= '0' && *p <= '9') m = m * 10 + static_cast<uint64_t>(*p++ - '0');
        const size_t whole_digits = static_cast<size_t>(p - whole);
        if (whole_digits == 0 || p == end || *p != '.') return false;
        const char* const fraction = ++p;
        while (p < end && *p >= '0' && *p <= '9') m = m * 10 + static_cast<uint64_t>(*p++ - '0');
        const size_t fraction_digits = static_cast<size_t>(p - fraction);
        if (p != end || fraction_digits == 0 || whole_digits + fraction_digits > 15) return false;
        const double value = static_cast<double>(m) / powers[fraction_digits];
        *out = negative ? -value : value;
        return true;
    }

    int32_t load_float(std::string_view text, const Token& t, bool load) {
        double value;
        if (!short_decimal(text, &value)) {
            number_scan::FloatScan f = number_scan::scan_float(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()), 1);
            if (f.error != number_scan::ScanError::none) return dt::float_;
            value = f.value;
        }
        if (!load) return check_ok;
        Cell v;
        cell::make(&v, Type::float_);
        v.set_float23(value);
        if (t.lines > 0) v.header |= header::new_line;
        push_value(v);
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
    int32_t base_;  // where this load's values start in the value buffer
    std::vector<Open> open_;
};


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
    Result r;
    {
        ValueLoader loader(target);
        options.loader = &loader;
        r = scan(text, options);
        if (!r.error) loader.finish();
    }
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

// load_value for conversions: a scan that only checks first, so that a token that does not
// scan ("1:xx", "1.2.300") holds no value and gives none!, which callers refuse like any
// value of the wrong type.
Cell load_checked(Cell* text) {
    Options check;
    check.one_value = true;
    check.load = false;
    Cell* scratch = block::push_new(1);
    const Result r = load_with(scratch, string::to_utf8(text), check);
    stack::pop(1);
    return r.type == dt::error ? none::shared : load_value(text);
}

void init() {
    upcall::calls.scan_string = scan_string;
    upcall::calls.load_value = load_value;
    upcall::calls.load_checked = load_checked;
    upcall::calls.scan_type = [](std::string_view text, uint32_t* length) {
        Options options;
        options.one_value = true;
        options.load = false;
        Result r = scan(text, options);
        *length = r.position;
        return r.error ? 0 : r.type;
    };
    block::make_at(&value_buffer, 1000);
    collector::add_root(&value_buffer);
}

}  // namespace zuv::lexer
