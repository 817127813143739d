// ZUVBIN decoder: reads the plain and the compact body into values, at start-up (word
// records in their boot form: literal numbers and definitions) and at run time. Every read
// is bounds-checked, so malformed input raises zb-invalid-record and never reads past the
// blob. Buffers move on any allocation: values go through slots (a node and an index).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "datatypes/binary-base.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/typeset.h"
#include "datatypes/pair.h"
#include "datatypes/integer.h"
#include "datatypes/char.h"
#include "datatypes/date.h"
#include "datatypes/image.h"
#include "datatypes/locale.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "memory/error.h"
#include "datatypes/function.h"
#include "evaluator/natives.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "io/compression.h"
#include "reader/zuvbin-format.h"
#include "reader/zuvbin.h"
#include "runtime/entry.h"
#include "runtime/fatal.h"
#include "runtime/print.h"
#include "runtime/system.h"

namespace zuv::zuvbin {

namespace {

namespace f = format;
using memory::buffer_of;

// Nesting the decoder follows when the machine stack's bounds are unknown (tests, tools).
constexpr int max_depth_without_limit = 1500;

// Room made for a container before its items are read. Its count is only a claim checked
// against the bytes left, and containers nested in one another could each claim them all:
// memory quadratic in the blob for nothing. The series grows as the items really come.
constexpr int32_t first_room = 256;

int32_t cell_count(Ref node) { return static_cast<int32_t>(buffer_of(node)->used_bytes() / sizeof(Cell)); }

// Where a decoded value goes: a cell of a series of cells, or (index -1) a new cell at the
// tail of a block. A container is placed before its children are read, so that a path
// through it resolves while they are decoded.
struct Slot {
    Ref node;
    int32_t index;
};

Cell* at(const Slot& s) { return buffer_of(s.node)->cells() + s.index; }

void put(Slot& s, const Cell& value) {
    Cell v = value;
    if (s.index < 0) {
        series::alloc_tail_cell(buffer_of(s.node));
        s.index = cell_count(s.node) - 1;
    }
    *at(s) = v;
}

Cell block_cell(Ref node, Type t = Type::block) {
    Cell c;
    cell::make(&c, t, 0, node, 0);
    return c;
}

// The context a found value stands for: an object's or error's, a function's (or an op's
// made from one), or a bound word's. 0 for anything else.
Ref context_of(const Cell& v) {
    switch (v.type()) {
        case Type::object: case Type::error:
            return object::context_of(&v);
        case Type::function:
            return function::context_of(&v);
        case Type::op:
            return ((v.header >> 16) & 0xFF) == static_cast<uint32_t>(Type::function) ? function::context_of(&v) : 0;
        default:
            if (f::word_kind_q(v.type()) && word::binding_of(&v) != context::global) return word::binding_of(&v);
            return 0;
    }
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

[[noreturn]] void bad_data(bool run_time, const Cell* data, const char* boot_message) {
    if (!run_time) {
        runtime::print_line({boot_message});
        runtime::quit(0);
    }
    error::raise(error::id::script_invalid_data, data ? data : &none::shared);
}

bool valid_name_q(const uint8_t* p, const uint8_t* end) {
    if (p == end) return false;
    while (p < end) {
        int32_t cp;
        p = unicode::decode_utf8_char(p, end, cp);
        if (cp < 0) return false;
    }
    return true;
}

bool valid_date_q(uint32_t w) {
    static constexpr int8_t days[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int32_t m = date::month(w), d = date::day(w);
    if (m < 1 || m > 12 || d < 1 || d > days[m]) return false;
    return !(m == 2 && d == 29 && !date::leap_year_q(date::year(w)));
}

// Money: a known currency and decimal digits in every nibble of the packed amount.
bool valid_money_q(const Cell& c) {
    if (money::currency(&c) > locale::currency_count()) return false;
    const uint32_t words[3] = {c.data1 >> 8, c.data2, c.data3};
    const int bytes[3] = {3, 4, 4};
    for (int w = 0; w < 3; ++w)
        for (int b = 0; b < bytes[w]; ++b) {
            uint32_t byte = (words[w] >> (8 * b)) & 0xFF;
            if ((byte & 0xF) > 9 || (byte >> 4) > 9) return false;
        }
    return true;
}

bool valid_vector_q(Type element, uint32_t unit) {
    switch (element) {
        case Type::char_: case Type::integer: return unit == 1 || unit == 2 || unit == 4;
        case Type::float_: return unit == 4 || unit == 8;
        case Type::percent: return unit == 8;
        default: return false;
    }
}

// The flags a function takes from the attribute block that may open its spec.
uint32_t attribute_flags(const Cell& spec) {
    if (cell_count(series::node(&spec)) == 0) return 0;
    Cell first = *block::cell_at(&spec, 0);
    if (!first.is(Type::block)) return 0;
    uint32_t flags = 0;
    int32_t trace = symbol::resolve(symbol::make("trace")), no_trace = symbol::resolve(symbol::make("no-trace"));
    for (int32_t i = 0; i < cell_count(series::node(&first)); ++i) {
        Cell w = *block::cell_at(&first, i);
        if (!w.is(Type::word)) continue;
        int32_t s = symbol::resolve(w.int2());
        if (s == trace) flags |= function::flag::trace;
        else if (s == no_trace) flags |= function::flag::no_trace;
    }
    return flags;
}

// True when the context holds exactly the words a function's context made from the spec
// holds (arguments, refinements and locals in order), which the call machinery relies on.
bool context_matches_spec_q(Ref ctx, const Cell& spec) {
    int32_t n = cell_count(series::node(&spec)), k = 0;
    std::vector<int32_t> seen;
    for (int32_t i = 0; i < n; ++i) {
        Cell c = *block::cell_at(&spec, i);
        if (!c.is(Type::word) && !c.is(Type::lit_word) && !c.is(Type::get_word) && !c.is(Type::refinement)) continue;
        int32_t s = symbol::resolve(c.int2());
        bool repeated = false;
        for (int32_t x : seen) repeated |= x == s;
        if (repeated) continue;
        seen.push_back(s);
        if (k >= context::size_of(ctx) || symbol::resolve(context::word_at(ctx, k)->int2()) != s) return false;
        ++k;
    }
    return k == context::size_of(ctx);
}

class Reader {
public:
    Reader(std::span<const uint8_t> body, bool compact, bool run_time, Cell* target)
        : data_(body.data()), size_(body.size()), end_(body.size()), compact_(compact), run_time_(run_time),
          target_(series::node(target)), target_start_(cell_count(series::node(target))) {}

    void run(uint8_t flags, const Cell* data);

private:
    struct Head {
        Type type = Type::none_id;
        uint32_t bits = 0;  // plain header word
        bool new_line = false, reference = false, definition = false, modifier = false;
        bool inline_value = false;  // compact tags 0x80 and up: the value is in the tag
    };
    // A word to place instead of its owner's value: the owner's context binds it.
    struct Shell {
        Type type = Type::none_id;
        int32_t symbol = 0, index = 0;
    };

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    size_t end_;
    size_t mark_ = 0;        // start of the field being read
    size_t records_ = 0;     // start of the records area
    bool compact_, run_time_;
    Ref target_;
    int32_t target_start_;
    size_t symbol_offsets_ = 0, symbol_area_ = 0;
    uint32_t symbol_count_ = 0, symbol_area_size_ = 0;
    std::vector<int32_t> symbol_ids_;
    int depth_ = 0;

    // Error offsets count from the start of the blob: the header precedes the body.
    [[noreturn]] void invalid() {
        Cell offset;
        cell::make(&offset, Type::integer, 0, static_cast<uint32_t>(mark_ + f::header_size + 1));
        error::raise(error::id::script_zb_invalid_record, &offset);
    }
    void check(bool ok) {
        if (!ok) [[unlikely]]
            invalid();
    }
    size_t remaining() const { return end_ - pos_; }

    uint8_t byte() {
        mark_ = pos_;
        check(pos_ < end_);
        return data_[pos_++];
    }
    uint32_t raw() {
        mark_ = pos_;
        check(remaining() >= 4);
        uint32_t w = le32(data_ + pos_);
        pos_ += 4;
        return w;
    }
    uint32_t varint() {
        mark_ = pos_;
        uint32_t u = 0;
        for (int i = 0; i < 5; ++i) {
            check(pos_ < end_);
            uint8_t b = data_[pos_++];
            check(i < 4 || b <= 0x0F);
            u |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return u;
        }
        invalid();
    }
    // A count, index or code: a word in plain, a varint in compact.
    uint32_t number() { return compact_ ? varint() : raw(); }
    int32_t signed_number() {
        if (!compact_) return static_cast<int32_t>(raw());
        uint32_t u = varint();
        return static_cast<int32_t>((u >> 1) ^ (0u - (u & 1)));
    }
    const uint8_t* take(uint64_t n) {
        mark_ = pos_;
        check(n <= remaining());
        const uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }
    void skip_padding() {
        if (!compact_) take((4 - (pos_ - records_) % 4) % 4);
    }
    // A count of items that each take at least one byte (compact) or one word (plain).
    int32_t count() {
        uint32_t n = number();
        check(n <= 0x7FFFFFFF && uint64_t(n) * (compact_ ? 1 : 4) <= remaining());
        return static_cast<int32_t>(n);
    }

    void read_symbol_table(uint32_t n, uint32_t s);
    int32_t symbol(uint32_t index);

    Head head();
    void record(Slot& slot);
    void scalar(const Head& h, Slot& slot);
    void series_value(const Head& h, Slot& slot);
    void bitset_value(const Head& h, Slot& slot);
    void image_value(const Head& h, Slot& slot);
    void block_value(const Head& h, Slot& slot);
    void map_value(const Head& h, Slot& slot);
    void word_value(const Head& h, Slot& slot);
    void boot_word(const Head& h, Slot& slot);
    void definition(Slot& slot);
    Ref context_record(context::Kind kind);
    void object_value(const Head& h, Slot& slot, const Shell& shell);
    void function_value(const Head& h, Slot& slot, const Shell& shell);
    void builtin_value(const Head& h, Slot& slot);
    void op_value(const Head& h, Slot& slot);
    void error_value(const Head& h, Slot& slot);
    Cell shell_word(const Shell& shell, Ref ctx);

    std::vector<uint32_t> path();
    std::vector<uint32_t> positions();
    Cell resolve(const std::vector<uint32_t>& steps);
    Cell step(const Cell& from, uint32_t position);
    Cell found_owner(Type t);
};

void Reader::run(uint8_t flags, const Cell* data) {
    if (!compact_) {
        if (size_ < 8) bad_data(run_time_, data, "Error: Not a Zuvbin file!");
        raw();  // root count: written 1, not needed
        uint32_t payload = raw();
        if (flags & f::flag::symbols) {
            uint32_t n = raw(), s = raw();
            check(uint64_t(n) * 4 + s <= remaining());
            symbol_offsets_ = pos_;
            symbol_area_ = pos_ + size_t(n) * 4;
            pos_ = symbol_area_ + s;
            read_symbol_table(n, s);
            if (!run_time_)
                for (uint32_t i = 0; i < n; ++i) symbol(i);
        }
        check(payload <= remaining());
        end_ = pos_ + payload;
    } else {
        varint();  // root count
        uint32_t payload = varint();
        if (flags & f::flag::symbols) {
            uint32_t n = varint(), s = varint();
            check(n <= 0x7FFFFFFF && s <= 0x7FFFFFFF && uint64_t(n) * 4 <= remaining());
            symbol_offsets_ = pos_;
            pos_ += size_t(n) * 4;
            check(s <= remaining());
            symbol_area_ = pos_;
            pos_ += s;
            if (s) check(data_[pos_ - 1] == 0);
            read_symbol_table(n, s);
        }
        check(payload <= 0x7FFFFFFF && payload <= remaining());
        end_ = pos_ + payload;
    }
    records_ = pos_;
    while (pos_ < end_) {
        if (!compact_ && remaining() >= 4 && le32(data_ + pos_) == 0) {
            pos_ += 4;
            continue;
        }
        Slot slot{target_, -1};
        record(slot);
    }
}

void Reader::read_symbol_table(uint32_t n, uint32_t s) {
    symbol_count_ = n;
    symbol_area_size_ = s;
    symbol_ids_.assign(n, 0);
}

// The symbol at an index of the table, interned the first time a record names it.
int32_t Reader::symbol(uint32_t index) {
    check(index < symbol_count_);
    if (int32_t id = symbol_ids_[index]) return id;
    uint32_t offset = le32(data_ + symbol_offsets_ + size_t(index) * 4);
    check(offset < symbol_area_size_);
    const uint8_t* name = data_ + symbol_area_ + offset;
    const auto* end = static_cast<const uint8_t*>(std::memchr(name, 0, symbol_area_size_ - offset));
    check(end && valid_name_q(name, end));
    int32_t id = symbol::make(std::string_view(reinterpret_cast<const char*>(name), size_t(end - name)));
    symbol_ids_[index] = id;
    return id;
}

// Reads a record's header word (plain) or its prefixes and tag (compact). The compact tags
// of integers 0-63, logic values and reference records come back with their own types:
// integer!, logic! (modifier set for true) and Type::none_id for a reference record.
Reader::Head Reader::head() {
    Head h;
    if (!compact_) {
        uint32_t w;
        do w = raw();
        while (w == 0);
        h.bits = w;
        h.new_line = w & f::plain::new_line;
        if ((w & f::plain::type_mask) == f::plain::reference_record) return h;
        h.type = static_cast<Type>(w & f::plain::type_mask);
        // Bits 16-23 of an op! name its function's datatype, bit 19 included.
        h.reference = h.type != Type::op && (w & f::plain::reference);
        h.definition = !run_time_ && f::word_kind_q(h.type) && (w & f::plain::word_global);
        check(static_cast<int>(h.type) != 0 && static_cast<int>(h.type) <= type_count);
        return h;
    }
    uint8_t b = byte();
    for (;; b = byte()) {
        if (b == f::compact::new_line) h.new_line = true;
        else if (b == f::compact::reference) h.reference = true;
        else if (b == f::compact::definition) h.definition = true;
        else break;
    }
    if (b >= 0x80) {
        check(!h.reference && !h.definition);
        h.inline_value = true;
        if (b < 0xC0) {
            h.type = Type::integer;
            h.bits = b & 0x3F;
        } else if (b == f::compact::logic_true || b == f::compact::logic_false) {
            h.type = Type::logic;
            h.modifier = b == f::compact::logic_true;
        } else {
            check(b == f::compact::reference_record);
        }
        return h;
    }
    h.modifier = b & f::compact::modifier;
    uint32_t id = b & f::compact::escaped_id;
    if (id == f::compact::escaped_id) {
        id = varint();
        check(id != 0);
    }
    check(id != 0 && id <= static_cast<uint32_t>(type_count) && id != static_cast<uint32_t>(Type::logic));
    h.type = static_cast<Type>(id);
    check(!h.definition || run_time_ || f::word_kind_q(h.type));
    return h;
}

void Reader::record(Slot& slot) {
    struct Depth {
        int& d;
        explicit Depth(int& depth) : d(++depth) {}
        ~Depth() { --d; }
    } depth(depth_);
    if (runtime::stack_limit ? runtime::stack_exhausted() : depth_ > max_depth_without_limit)
        error::raise(error::id::internal_stack_overflow);

    size_t start = pos_;
    Head h = head();
    Type t = h.type;
    if (f::refused_q(t)) {
        Cell type;
        datatype::make_at(&type, static_cast<int>(t));
        error::raise(error::id::access_no_codec, &type);
    }
    if ((h.definition && run_time_) || (h.reference && !f::shareable_q(t))) {
        mark_ = start;
        invalid();
    }
    switch (t) {
        case Type::none_id:
            // A reference record: a copy of the value at the path.
            put(slot, resolve(positions()));
            break;
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
        case Type::binary: case Type::vector:
            series_value(h, slot);
            break;
        case Type::bitset:
            bitset_value(h, slot);
            break;
        case Type::image:
            image_value(h, slot);
            break;
        case Type::block: case Type::paren: case Type::path: case Type::lit_path: case Type::set_path:
        case Type::get_path: case Type::hash:
            block_value(h, slot);
            break;
        case Type::map:
            map_value(h, slot);
            break;
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word: case Type::refinement:
            if (run_time_) word_value(h, slot);
            else boot_word(h, slot);
            if (h.definition) return definition(slot);
            break;
        case Type::object:
            object_value(h, slot, Shell{});
            break;
        case Type::function:
            function_value(h, slot, Shell{});
            break;
        case Type::native: case Type::action:
            builtin_value(h, slot);
            break;
        case Type::op:
            op_value(h, slot);
            break;
        case Type::error:
            error_value(h, slot);
            break;
        case Type::symbol: case Type::context: case Type::series:
            // No record of its own: a context only inside an object or a function.
            mark_ = start;
            invalid();
        default:
            scalar(h, slot);
            break;
    }
    if (h.new_line) at(slot)->header |= header::new_line;
    else at(slot)->header &= ~header::new_line;
}

// Scalars whose records keep the cell's data words as they stand read them raw.
void Reader::scalar(const Head& h, Slot& slot) {
    Cell v;
    cell::make(&v, h.type);
    switch (h.type) {
        case Type::datatype: {
            uint32_t id = number();
            check(id >= 1 && id <= static_cast<uint32_t>(type_count));
            datatype::set_id(&v, id);
            break;
        }
        case Type::unset: case Type::none:
            break;
        case Type::logic:
            // Compact logic values have only their own tags (head() refuses tag 4).
            logic::set(&v, compact_ ? h.modifier : raw() != 0);
            break;
        case Type::char_:
            char_::set_code(&v, number());
            check(char_::code_of(&v) <= 0x10FFFF);
            break;
        case Type::integer:
            if (h.inline_value) integer::set(&v, static_cast<int32_t>(h.bits));
            else integer::set(&v, signed_number());
            break;
        case Type::float_: case Type::time: case Type::percent:
            if (!compact_) {
                v.data3 = raw();
                v.data2 = raw();
            } else if (h.modifier) {
                int32_t n = signed_number();
                v.set_float23(h.type == Type::percent ? n / 100.0 : double(n));
            } else {
                v.data2 = raw();
                v.data3 = raw();
            }
            break;
        case Type::pair:
            pair::set_x(&v, signed_number());
            pair::set_y(&v, signed_number());
            break;
        case Type::point3D:
            v.data1 = raw();
            v.data2 = raw();
            v.data3 = raw();
            break;
        case Type::point2D:
            v.data1 = raw();
            v.data2 = raw();
            break;
        case Type::date: {
            size_t start = pos_;
            v.data1 = raw();
            bool time = compact_ ? h.modifier : true;
            if (!compact_) {
                v.data3 = raw();
                v.data2 = raw();
            } else if (time) {
                v.data2 = raw();
                v.data3 = raw();
            }
            mark_ = start;
            check(valid_date_q(date::word_of(&v)));
            if (date::has_time(date::word_of(&v))) check(std::isfinite(v.float23()) && std::fabs(v.float23()) < 3 * 86400.0);
            else v.set_float23(0);
            break;
        }
        case Type::typeset:
            if (!compact_) {
                v.data1 = raw();
                v.data2 = raw();
                v.data3 = raw();
            } else {
                uint8_t n = byte();
                check(n <= 12);
                const uint8_t* p = take(n);
                std::memcpy(typeset::words(&v), p, n);
            }
            break;
        case Type::tuple: {
            int32_t n;
            uint8_t bytes[12] = {};
            if (!compact_) {
                n = static_cast<int32_t>((h.bits >> f::plain::unit_shift) & 0xF);
                for (int w = 0; w < 3; ++w) {
                    uint32_t word = raw();
                    std::memcpy(bytes + 4 * w, &word, 4);
                }
            } else {
                n = h.modifier ? byte() : 3;
                check(n <= 12);
                std::memcpy(bytes, take(static_cast<uint64_t>(n)), static_cast<size_t>(n));
            }
            check(n >= 1 && n <= 12);
            // Bytes past the length are 0 in every tuple.
            v.header = static_cast<uint32_t>(Type::tuple);
            tuple::set_length(&v, n);
            for (int32_t i = 0; i < n; ++i) tuple::put(&v, i, bytes[i]);
            break;
        }
        case Type::money: {
            bool negative = compact_ ? h.modifier : (h.bits & f::plain::money_negative);
            size_t start = pos_;
            if (!compact_) {
                v.data1 = raw();
                v.data2 = raw();
                v.data3 = raw();
            } else {
                const uint8_t* p = take(12);
                v.data1 = le32(p);
                v.data2 = le32(p + 4);
                v.data3 = le32(p + 8);
            }
            mark_ = start;
            check(valid_money_q(v));
            money::set_sign(&v, negative);
            break;
        }
        case Type::issue:
            word::make_unbound(&v, symbol(number()), Type::issue);
            break;
        default:
            invalid();
    }
    put(slot, v);
}

// Strings, files, URLs, tags, emails, refs, binaries and vectors: a head index, then (unless
// in reference form) the units of the whole series.
void Reader::series_value(const Head& h, Slot& slot) {
    Type t = h.type;
    bool text = f::text_kind_q(t);
    uint32_t head = compact_ ? (h.modifier ? varint() : 0) : raw();
    size_t head_at = mark_;
    if (h.reference) {
        Cell v = found_owner(t);
        mark_ = head_at;
        check(head <= static_cast<uint32_t>(series::buffer_length(&v)));
        v.set_type(t);
        series::set_head(&v, static_cast<int32_t>(head));
        if (t != Type::vector) v.data3 = 0;  // word 3 means something to a vector! only
        put(slot, v);
        return;
    }
    uint32_t unit = (h.bits >> f::plain::unit_shift) & 0xFF, length;
    Type element = Type::none_id;
    if (compact_) {
        if (t == Type::binary) {
            unit = 1;
            length = varint();
        } else if (t == Type::vector) {
            uint8_t b = byte();
            element = static_cast<Type>(b >> 2);
            unit = 1u << (b & 3);
            length = varint();
        } else {
            uint32_t u = varint();
            length = u >> 2;
            unit = 1u << (u & 3);
        }
    } else {
        length = raw();
        if (t == Type::vector) {
            uint32_t e = raw();
            check(e <= static_cast<uint32_t>(type_count));
            element = static_cast<Type>(e);
        }
    }
    size_t length_at = mark_;
    if (text) check(unit == 1 || unit == 2 || unit == 4);
    else if (t == Type::binary) check(unit == 1);
    else check(valid_vector_q(element, unit));
    check(length <= 0x7FFFFFFF && uint64_t(length) * unit <= remaining());
    const uint8_t* units = take(uint64_t(length) * unit);
    mark_ = head_at;
    check(head <= length);
    mark_ = length_at;
    if (text && unit == 4)
        for (uint32_t i = 0; i < length; ++i) check(le32(units + 4 * i) <= 0x10FFFF);
    Ref node = memory::alloc_units(length, unit);
    memory::SeriesBuffer* b = buffer_of(node);
    if (length) std::memcpy(b->head_ptr(), units, size_t(length) * unit);
    b->tail = b->head + length * unit;
    skip_padding();
    Cell v;
    series::make_at(&v, t, node, static_cast<int32_t>(head));
    if (t == Type::vector) vector::set_element_type(&v, element);
    put(slot, v);
}

void Reader::bitset_value(const Head& h, Slot& slot) {
    if (h.reference) {
        put(slot, found_owner(Type::bitset));
        return;
    }
    bool complemented = compact_ ? h.modifier : (h.bits & f::plain::bitset_complemented);
    uint32_t n = number();
    const uint8_t* bytes = take(n);
    Ref node = memory::alloc_bytes(n);
    memory::SeriesBuffer* b = buffer_of(node);
    if (n) std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    if (complemented) b->flags |= bitset::complemented;
    skip_padding();
    Cell v;
    cell::make(&v, Type::bitset, 0, node, 0);
    put(slot, v);
}

void Reader::image_value(const Head& h, Slot& slot) {
    uint32_t head = compact_ ? (h.modifier ? varint() : 0) : raw();
    size_t head_at = mark_;
    if (h.reference) {
        Cell v = found_owner(Type::image);
        mark_ = head_at;
        check(head <= image::pixel_count(&v));
        series::set_head(&v, static_cast<int32_t>(head));
        put(slot, v);
        return;
    }
    uint32_t width, height;
    if (compact_) {
        width = varint();
        height = varint();
    } else {
        uint32_t size = raw();
        width = size & 0xFFFF;
        height = size >> 16;
    }
    check(width <= 0xFFFF && height <= 0xFFFF);
    uint64_t count = uint64_t(width) * height;
    check(count * 4 <= remaining());
    const uint8_t* pixels = take(count * 4);
    mark_ = head_at;
    check(head <= count);
    Cell v;
    if (count == 0) {
        cell::make(&v, Type::image, head, 0, image::pack_size(int32_t(width), int32_t(height)));
    } else {
        Ref node = image::new_bitmap(int32_t(width), int32_t(height), 0);
        std::memcpy(buffer_of(node)->head_ptr(), pixels, size_t(count) * 4);
        image::make_at(&v, node);
        series::set_head(&v, static_cast<int32_t>(head));
    }
    skip_padding();
    put(slot, v);
}

void Reader::block_value(const Head& h, Slot& slot) {
    Type t = h.type;
    uint32_t head = compact_ ? (h.modifier ? varint() : 0) : raw();
    size_t head_at = mark_;
    if (h.reference) {
        Cell v = found_owner(t);
        mark_ = head_at;
        check(head <= static_cast<uint32_t>(series::buffer_length(&v)));
        bool indexed = v.is(Type::hash);
        v.set_type(t);
        series::set_head(&v, static_cast<int32_t>(head));
        if (t != Type::hash) block::set_hash_table(&v, 0);
        put(slot, v);
        if (t == Type::hash && !indexed) {
            // A hash! over a buffer first seen as a block gets an index of its own.
            Cell source = *at(slot);
            source.set_type(Type::block);
            Ref table = hashtable::make(std::max(series::buffer_length(&source), 1), &source, hashtable::kind_hash, 0);
            block::set_hash_table(at(slot), table);
        }
        return;
    }
    int32_t n = count();
    mark_ = head_at;
    check(head <= static_cast<uint32_t>(n));
    Cell v;
    block::make_at(&v, std::min(n, first_room), t == Type::hash ? Type::block : t);
    Ref node = series::node(&v);
    Ref table = 0;
    if (t == Type::hash) {
        // The table is sized for the count claimed: made smaller, it grew its position index
        // while the items came, and a fuzz run then met a misaligned store into that index.
        table = hashtable::make(std::max(n, 1), &v, hashtable::kind_hash, 0);
        block::set_hash_table(&v, table);
        v.set_type(Type::hash);
    }
    series::set_head(&v, static_cast<int32_t>(head));
    put(slot, v);
    for (int32_t i = 0; i < n; ++i) {
        Slot child{node, -1};
        record(child);
    }
    if (table) hashtable::rebuild(table, n);
}

// A map: its pairs go into the block first, and the table indexes them once they are all
// there (a repeated key keeps the last value, as making a map does).
void Reader::map_value(const Head& h, Slot& slot) {
    if (h.reference) {
        put(slot, found_owner(Type::map));
        return;
    }
    int32_t n = count();
    check(n % 2 == 0);
    Cell pairs;
    block::make_at(&pairs, std::min(n, first_room));
    Ref node = series::node(&pairs);
    Ref table = hashtable::make(std::clamp(n, 2, first_room), &pairs, hashtable::kind_map, 0);
    Cell v;
    cell::make(&v, Type::map, 0, node, table);
    put(slot, v);
    for (int32_t i = 0; i < n; ++i) {
        size_t start = pos_;
        Slot child{node, -1};
        record(child);
        mark_ = start;
        if (i % 2 == 0) check(map::valid_key_q(buffer_of(node)->cells()[i].type()));
    }
    hashtable::put_all(table, 0, 2);
}

// A word as this system's encoders write it: bound to the global context by its symbol, or
// to the context of an object or function that follows (or that a path names).
void Reader::word_value(const Head& h, Slot& slot) {
    Type t = h.type;
    int32_t sym = symbol(number());
    bool global = compact_ ? !h.modifier : (h.bits & f::plain::word_global);
    if (global) {
        if (!compact_) raw();  // the index it had: the look-up gives it again
        check(!h.reference);
        Cell v;
        word::make_at(&v, sym, t);
        put(slot, v);
        return;
    }
    int32_t index = signed_number();
    size_t index_at = mark_;
    Shell shell{t, sym, index};
    if (h.reference) {
        Ref ctx = context_of(resolve(path()));
        check(ctx != 0);
        mark_ = index_at;
        put(slot, shell_word(shell, ctx));
        return;
    }
    Head owner = head();
    check(!owner.reference && !owner.definition);
    if (owner.type == Type::object) object_value(owner, slot, shell);
    else if (owner.type == Type::function) function_value(owner, slot, shell);
    else invalid();
}

// A word bound to a context, with its index checked against the context's words (-1 stays:
// `self` in an object is bound so).
Cell Reader::shell_word(const Shell& shell, Ref ctx) {
    check(shell.index >= -1 && shell.index < context::size_of(ctx));
    Cell w;
    cell::make(&w, shell.type, ctx, static_cast<uint32_t>(shell.symbol), static_cast<uint32_t>(shell.index));
    return w;
}

// A word of the boot data: bound to the global context, or to the context of a value
// decoded earlier in this boot decode (literal c), at index i or where a look-up finds it.
void Reader::boot_word(const Head& h, Slot& slot) {
    Type t = h.type;
    check(!h.reference);
    int32_t sym = symbol(number());
    int32_t literal = -1, index = -1;
    if (!compact_) {
        literal = static_cast<int32_t>(raw());
        index = static_cast<int32_t>(raw());
    } else if (h.modifier) {
        uint32_t c = varint();
        check(c <= 0x7FFFFFFF);
        literal = static_cast<int32_t>(c);
        index = signed_number();
    }
    Ref ctx = context::global;
    if (literal != -1) {
        check(literal >= 0 && int64_t(target_start_) + literal < cell_count(target_));
        Cell owner = buffer_of(target_)->cells()[target_start_ + literal];
        ctx = context_of(owner);
        check(ctx != 0);
    }
    Cell w;
    if (ctx == context::global && index == -1) {
        word::make_at(&w, sym, t);
    } else {
        int32_t i = index == -1 ? context::find_word(ctx, sym, true) : index;
        check(i >= 0 && i < context::size_of(ctx));
        cell::make(&w, t, ctx, static_cast<uint32_t>(sym), static_cast<uint32_t>(context::word_at(ctx, i)->int3()));
    }
    put(slot, w);
}

// A definition: the next record is the word's value; both leave the target block. Only a
// record of the top level is one.
void Reader::definition(Slot& slot) {
    size_t start = mark_;
    check(depth_ == 1 && slot.node == target_);
    Slot value{target_, -1};
    record(value);
    mark_ = start;
    check(value.index == slot.index + 1 && value.index == cell_count(target_) - 1);
    Cell w = *at(slot), v = *at(value);
    Ref ctx = word::binding_of(&w);
    int32_t index = word::index_of(&w);
    Cell* c = context::cell_of(ctx);
    Ref values = context::values_node_in(c);
    check(!context::on_stack(c) && values && index >= 0 && index < cell_count(values));
    v.header &= ~header::new_line;
    buffer_of(values)->cells()[index] = v;
    buffer_of(target_)->tail -= 2 * sizeof(Cell);
}

// A context! record inside an object or function record: its kind and flags, then its words.
// The values (objects only) are read by the caller into the context's values block.
Ref Reader::context_record(context::Kind kind) {
    size_t start = pos_;
    Head h = head();
    mark_ = start;
    check(h.type == Type::context && !h.reference && !h.definition);
    uint32_t k;
    bool stack_values, self, values;
    if (!compact_) {
        k = (h.bits >> f::plain::context_kind_shift) & 3;
        self = h.bits & f::plain::context_self;
        stack_values = h.bits & f::plain::context_stack;
        values = h.bits & f::plain::context_values;
    } else {
        check(!h.modifier);
        uint8_t flags = byte();
        check(flags < 32);
        k = flags & f::compact::context_kind_mask;
        stack_values = flags & f::compact::context_stack;
        self = flags & f::compact::context_self;
        values = flags & f::compact::context_values;
    }
    if (kind == context::kind_object) check(k == kind && values && !stack_values);
    else check(k == kind && stack_values);
    int32_t n = count();
    Ref ctx = context::create(n, stack_values, self, nullptr, kind);
    for (int32_t i = 0; i < n; ++i) {
        int32_t sym = symbol(number());
        int32_t before = context::size_of(ctx);
        context::add_word(ctx, sym);
        check(context::size_of(ctx) == before + 1);  // a word twice (in any letter case)
    }
    return ctx;
}

// The value to copy for a record in reference form: the first occurrence the path names,
// of the record's own family. A context-keyed kind (word, object, function, error) takes
// the owner of the context found.
Cell Reader::found_owner(Type t) {
    std::vector<uint32_t> found = path();
    size_t at_path = mark_;
    Cell v = resolve(found);
    mark_ = at_path;
    if (t == Type::object || t == Type::function || t == Type::error) {
        Ref ctx = context_of(v);
        check(ctx != 0);
        v = *context::owner_of(ctx);
    } else if (f::list_kind_q(t) && (v.is(Type::native) || v.is(Type::action))) {
        v = block_cell(function::spec_of(&v));  // a native's spec is found at the native's own position
    }
    check(f::same_family_q(t, v.type()));
    v.header &= ~header::new_line;
    return v;
}

void Reader::object_value(const Head& h, Slot& slot, const Shell& shell) {
    if (h.reference) {
        put(slot, found_owner(Type::object));
        return;
    }
    bool handlers = compact_ ? h.modifier : (h.bits & f::plain::object_on_change);
    int32_t class_id = signed_number();
    if (handlers) {
        // The handler places are found again from the fields once they are decoded.
        signed_number();
        signed_number();
    }
    Ref ctx = context_record(context::kind_object);
    Cell o;
    cell::make(&o, Type::object, ctx, run_time_ ? 0xFFFFFFFF : static_cast<uint32_t>(class_id), 0);
    object::refresh_owner(&o);
    put(slot, shell.type != Type::none_id ? shell_word(shell, ctx) : o);
    int32_t n = context::size_of(ctx);
    for (int32_t i = 0; i < n; ++i) {
        Slot value{context::values_node(ctx), i};
        record(value);
    }
    if (!handlers) return;
    for (const char* name : {"on-change*", "on-deep-change*"}) {
        int32_t i = context::find_word(ctx, symbol::make(name), true);
        check(i < 0 || context::value_at(ctx, i)->is(Type::function));
    }
    object::build_record(&o);
    if (shell.type == Type::none_id) *at(slot) = o;
}

void Reader::function_value(const Head& h, Slot& slot, const Shell& shell) {
    if (h.reference) {
        put(slot, found_owner(Type::function));
        return;
    }
    number();  // spec and body value counts: the block records carry their own
    number();
    Ref ctx = context_record(context::kind_function);
    Ref fs = memory::alloc_cells(function::series_length);
    {
        memory::SeriesBuffer* b = buffer_of(fs);
        Cell* c = b->cells();
        c[0] = none::shared;
        c[1] = none::shared;
        cell::make(&c[2], Type::integer, 0, 0);
        c[3] = unset::shared;
        c[4] = unset::shared;
        b->tail = b->head + function::series_length * sizeof(Cell);
    }
    Cell fn;
    cell::make(&fn, Type::function, ctx, 0, fs);
    *context::owner_of(ctx) = fn;
    put(slot, shell.type != Type::none_id ? shell_word(shell, ctx) : fn);
    auto update = [&] {
        *context::owner_of(ctx) = fn;
        if (shell.type == Type::none_id) *at(slot) = fn;
    };
    // The spec waits in the argument cache's cell until the function takes it.
    size_t start = pos_;
    Slot spec_slot{fs, 1};
    record(spec_slot);
    Cell spec = *at(spec_slot);
    mark_ = start;
    check(spec.is(Type::block) && series::head(&spec) == 0);
    *at(spec_slot) = none::shared;
    function::set_spec(&fn, series::node(&spec));
    update();
    start = pos_;
    Slot body_slot{fs, 0};
    record(body_slot);
    mark_ = start;
    check(at(body_slot)->is(Type::block) && context_matches_spec_q(ctx, spec));
    fn.header |= attribute_flags(spec);
    update();
}

// native! and action!: an index in their table and the spec, which is read into the
// value's own slot (it takes no position of its own) and then replaced by the value.
void Reader::builtin_value(const Head& h, Slot& slot) {
    bool native = h.type == Type::native;
    uint32_t index = number();
    check(index >= 1 && index <= static_cast<uint32_t>(native ? natives::capacity : actions::count));
    check(native ? natives::table[index - 1] != nullptr : actions::table[index - 1] != nullptr);
    size_t start = pos_;
    record(slot);
    Cell spec = *at(slot);
    mark_ = start;
    check(spec.is(Type::block) && series::head(&spec) == 0);
    spec.header &= ~header::new_line;
    Cell made_spec;
    block::make_at(&made_spec, 2);
    Cell* held = stack::push(&made_spec);
    block::append(held, &spec);
    Cell number_cell;
    cell::make(&number_cell, Type::integer, 0, index);
    block::append(held, &number_cell);
    Cell proto;
    datatype::make_at(&proto, static_cast<int>(h.type));
    auto make = reinterpret_cast<slotfn::Make>(datatype::action_of(h.type, datatype::slot::make));
    Cell made = *make(&proto, held, static_cast<int32_t>(h.type));
    stack::pop(2);
    *at(slot) = made;
}

// op!: the record of the function it is made from, read into the op's own slot.
void Reader::op_value(const Head& h, Slot& slot) {
    size_t start = pos_;
    record(slot);
    Cell source = *at(slot);
    mark_ = start;
    Type t = source.type();
    check(t == Type::native || t == Type::action || t == Type::function);
    if (!compact_) check(((h.bits >> f::plain::op_source_shift) & 0xFF) == static_cast<uint32_t>(t));
    source.header &= ~header::new_line;
    Cell spec = function::spec_block(&source);
    check(op::check_spec(&spec));
    Cell v = source;
    v.header = (static_cast<uint32_t>(t) << 16) | static_cast<uint32_t>(Type::op);
    if (t == Type::function) function::series_cells(&source)[3] = source;
    *at(slot) = v;
}

// error!: its code, then the fields arg1, arg2, arg3, near, where and stack, which sit at
// indexes 3-8 of its context (the positions a path names).
void Reader::error_value(const Head& h, Slot& slot) {
    if (h.reference) {
        put(slot, found_owner(Type::error));
        return;
    }
    uint32_t code = number();
    check(code <= 0x7FFFFFFF && error::code_known_q(static_cast<int32_t>(code)));
    Cell code_cell, e;
    cell::make(&code_cell, Type::integer, 0, code);
    error::make(&code_cell, &e);
    put(slot, e);
    Ref values = context::values_node(object::context_of(&e));
    check(cell_count(values) >= 9);
    for (int32_t i = 3; i <= 8; ++i) {
        Slot field{values, i};
        record(field);
    }
}

// The path of a record in reference form: plain, a reference record (0xFF, a count, the
// positions); compact, a count and the positions.
std::vector<uint32_t> Reader::path() {
    if (!compact_) check((raw() & f::plain::type_mask) == f::plain::reference_record);
    return positions();
}

std::vector<uint32_t> Reader::positions() {
    uint32_t n = number();
    check(n > 0 && n <= remaining() / (compact_ ? 1 : 4));
    std::vector<uint32_t> steps;
    steps.reserve(n);
    for (uint32_t i = 0; i < n; ++i) steps.push_back(number());
    return steps;
}

// Walks a path from the values this decode appended to its target.
Cell Reader::resolve(const std::vector<uint32_t>& steps) {
    check(int64_t(target_start_) + steps[0] < cell_count(target_));
    Cell v = buffer_of(target_)->cells()[target_start_ + steps[0]];
    for (size_t k = 1; k < steps.size(); ++k) v = step(v, steps[k]);
    v.header &= ~header::new_line;
    return v;
}

Cell Reader::step(const Cell& from, uint32_t position) {
    auto cell_in = [&](Ref node) {
        check(node != 0 && position < static_cast<uint32_t>(cell_count(node)));
        return buffer_of(node)->cells()[position];
    };
    Type t = from.type();
    if (block::family_q(t) || t == Type::map) return cell_in(series::node(&from));
    if (t == Type::native || t == Type::action) return cell_in(function::spec_of(&from));
    if (t == Type::object || t == Type::error) return cell_in(context::values_node(object::context_of(&from)));
    if (f::word_kind_q(t)) {
        Ref ctx = word::binding_of(&from);
        check(ctx != 0 && ctx != context::global);
        Cell* c = context::cell_of(ctx);
        if (!context::on_stack(c)) return cell_in(context::values_node_in(c));
        return step(*context::owner_of(ctx), position);
    }
    if (t == Type::function || t == Type::op) {
        bool builtin = t == Type::op && ((from.header >> 16) & 0xFF) != static_cast<uint32_t>(Type::function);
        check(position == 0 ? function::spec_of(&from) != 0 : position == 1 && !builtin);
        if (position == 0) return function::spec_block(&from);
        return function::series_cells(&from)[0];
    }
    invalid();
}

}  // namespace

void decode(std::span<const uint8_t> blob, Cell* target, bool run_time, const Cell* data) {
    if (blob.size() < f::header_size || std::memcmp(blob.data(), f::magic, sizeof f::magic) != 0)
        bad_data(run_time, data, "Error: Not a Zuvbin file!");
    uint8_t flags = blob[7];
    std::span<const uint8_t> body = blob.subspan(f::header_size);
    std::vector<uint8_t> unpacked;
    if (flags & f::flag::compressed) {
        auto out = compression::lz_decompress(body);
        if (!out) bad_data(run_time, data, "Error: Zuvbin compressed data corrupted!");
        unpacked = std::move(*out);
        body = unpacked;
    }
    Reader reader(body, flags & f::flag::compact, run_time, target);
    reader.run(flags, data);
}

Cell* decode(const Cell* binary) {
    Cell data = *binary;
    Cell* held = stack::push(&data);
    if (!data.is(Type::binary) || binary::bytes_of(&data).size() <= 10)
        error::raise(error::id::script_invalid_data, held);
    std::span<const uint8_t> bytes = binary::bytes_of(&data);
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    Cell* out = block::push_new(4);
    decode(copy, out, true, held);
    Cell result = *out;
    if (block::length(&result) == 1) result = *block::head(&result);
    stack::pop(2);
    return stack::push(&result);
}

int32_t boot_load(std::span<const uint8_t> blob) {
    int32_t collector = runtime::collector_enabled;
    runtime::collector_enabled = 0;
    int32_t first = cell_count(series::node(&block::root));
    decode(blob, &block::root, false, nullptr);
    runtime::collector_enabled = collector;
    return first;
}

}  // namespace zuv::zuvbin
