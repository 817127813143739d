// ZUVBIN encoders: one recursive writer serves the plain and the compact form. The walk
// allocates no managed memory (the blob grows in C++ buffers), so no collection can move a
// buffer or a node while cells are read in place; the binary! is made at the end.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "datatypes/binary-base.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/typeset.h"
#include "memory/datatype.h"
#include "datatypes/word.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/vector.h"
#include "datatypes/logic.h"
#include "datatypes/integer.h"
#include "datatypes/char.h"
#include "datatypes/date.h"
#include "datatypes/image.h"
#include "datatypes/money.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/cycle-stack.h"
#include "memory/memory.h"
#include "reader/zuvbin-format.h"
#include "reader/zuvbin.h"

namespace zuv::zuvbin {

namespace {

namespace f = format;
using memory::buffer_of;

static_assert(type_count < f::compact::escaped_id, "every datatype id fits in a compact tag");

// Values nest at most as deep as molding walks them: every container records the path to
// it, so the cost grows with the square of the depth.
constexpr int max_depth = cycle_stack::capacity;

uint32_t log2_unit(uint32_t unit) { return unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0; }

class Writer {
public:
    explicit Writer(bool compact) : compact_(compact) {}
    void value(const Cell& v);
    std::vector<uint8_t> finish();

private:
    // A shareable value met before is written in reference form: a path to its first
    // occurrence, found under its buffer or context node.
    struct Seen {
        uint32_t path;  // offset in paths_: the count, then the positions
        Type family;
    };
    struct Share {
        bool reference;
        uint32_t path;
    };

    bool compact_;
    std::vector<uint8_t> out_;          // the records
    std::vector<int32_t> symbols_;      // symbol ids in table order
    std::unordered_map<int32_t, uint32_t> symbol_index_;
    std::unordered_map<Ref, Seen> seen_;
    std::vector<uint32_t> paths_;
    std::vector<uint32_t> saved_;       // positions of the enclosing containers
    uint32_t position_ = 0;             // position of the next record in its container
    int depth_ = 0;

    void byte(uint8_t b) { out_.push_back(b); }
    void raw(uint32_t w) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }
    void varint(uint32_t u) {
        while (u >= 0x80) {
            byte(static_cast<uint8_t>(u | 0x80));
            u >>= 7;
        }
        byte(static_cast<uint8_t>(u));
    }
    void zigzag(int32_t n) { varint((static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31)); }
    // A count, index or code: a word in plain, a varint in compact.
    void number(uint32_t u) { compact_ ? varint(u) : raw(u); }
    void signed_number(int32_t n) { compact_ ? zigzag(n) : raw(static_cast<uint32_t>(n)); }
    // Bytes of a series; plain pads them to the next word.
    void bytes(const uint8_t* p, size_t n) {
        out_.insert(out_.end(), p, p + n);
        if (!compact_)
            while (out_.size() % 4) byte(0);
    }
    // Plain: the header word with the kind's bits; compact: the prefixes and the tag.
    void begin(Type t, uint32_t bits, bool modifier, bool new_line, bool reference) {
        if (compact_) {
            if (new_line) byte(f::compact::new_line);
            if (reference) byte(f::compact::reference);
            byte(static_cast<uint8_t>(static_cast<uint32_t>(t) | (modifier ? f::compact::modifier : 0)));
        } else {
            raw(static_cast<uint32_t>(t) | bits | (new_line ? f::plain::new_line : 0) |
                (reference ? f::plain::reference : 0));
        }
    }

    [[noreturn]] void refuse(const Cell& v) { error::raise(error::id::access_no_codec, &v); }
    uint32_t symbol(uint32_t id);
    Share share(Ref key, Type family);
    void close(const Share& s);

    void scalar(const Cell& v, bool nl);
    void series_value(const Cell& v, bool nl);
    void bitset_value(const Cell& v, bool nl);
    void image_value(const Cell& v, bool nl);
    void block_value(const Cell& v, bool nl);
    void map_value(const Cell& v, bool nl);
    void word_value(const Cell& v, bool nl);
    void object_record(const Cell& o, bool nl, bool reference);
    void function_record(const Cell& fn, bool nl, bool reference);
    void context_record(Ref ctx);
    void op_value(const Cell& v, bool nl);
    void error_value(const Cell& v, bool nl);
};

// The index of a symbol in the blob's table, added the first time it occurs.
uint32_t Writer::symbol(uint32_t id) {
    auto [it, added] = symbol_index_.try_emplace(static_cast<int32_t>(id), static_cast<uint32_t>(symbols_.size()));
    if (added) symbols_.push_back(static_cast<int32_t>(id));
    return it->second;
}

// Looks a node up. A first occurrence records its path (the enclosing positions, its own
// last) and opens a fresh position count for its children; so does a value of another
// family over the same node, which is written in full again.
Writer::Share Writer::share(Ref key, Type family) {
    auto it = seen_.find(key);
    if (it != seen_.end() && f::same_family_q(it->second.family, family)) return {true, it->second.path};
    if (it == seen_.end()) {
        seen_.emplace(key, Seen{static_cast<uint32_t>(paths_.size()), family});
        paths_.push_back(static_cast<uint32_t>(saved_.size() + 1));
        paths_.insert(paths_.end(), saved_.begin(), saved_.end());
        paths_.push_back(position_);
    }
    saved_.push_back(position_);
    position_ = 0;
    return {false, 0};
}

void Writer::close(const Share& s) {
    if (!s.reference) {
        position_ = saved_.back();
        saved_.pop_back();
        return;
    }
    uint32_t n = paths_[s.path];
    if (!compact_) raw(f::plain::reference_record);
    number(n);
    for (uint32_t i = 1; i <= n; ++i) number(paths_[s.path + i]);
}

void Writer::value(const Cell& v) {
    Type t = v.type();
    bool op_of_routine = t == Type::op && ((v.header >> 16) & 0xFF) == static_cast<uint32_t>(Type::routine);
    if (f::refused_q(t) || op_of_routine || t == Type::none_id || static_cast<int>(t) > type_count ||
        t == Type::symbol || t == Type::context || t == Type::series)
        refuse(v);
    struct Depth {
        int& d;
        explicit Depth(int& depth) : d(++depth) {}
        ~Depth() { --d; }
    } depth(depth_);
    if (depth_ > max_depth) error::raise(error::id::internal_too_deep);

    bool nl = v.header & header::new_line;
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
        case Type::binary: case Type::vector:
            series_value(v, nl);
            break;
        case Type::bitset:
            bitset_value(v, nl);
            break;
        case Type::image:
            image_value(v, nl);
            break;
        case Type::block: case Type::paren: case Type::path: case Type::lit_path: case Type::set_path:
        case Type::get_path: case Type::hash:
            block_value(v, nl);
            break;
        case Type::map:
            map_value(v, nl);
            break;
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word: case Type::refinement:
            word_value(v, nl);
            break;
        case Type::object: {
            Share s = share(object::context_of(&v), Type::context);
            object_record(v, nl, s.reference);
            close(s);
            break;
        }
        case Type::function: {
            Share s = share(function::context_of(&v), Type::context);
            function_record(v, nl, s.reference);
            close(s);
            break;
        }
        case Type::native: case Type::action:
            // The spec takes no position of its own: its path is the value's.
            begin(t, 0, false, nl, false);
            number(static_cast<uint32_t>(function::number_of(&v)));
            value(function::spec_block(&v));
            --position_;
            break;
        case Type::op:
            op_value(v, nl);
            break;
        case Type::error:
            error_value(v, nl);
            break;
        default:
            scalar(v, nl);
            break;
    }
    ++position_;
}

// Scalars whose records keep the cell's data words as they stand write them raw.
void Writer::scalar(const Cell& v, bool nl) {
    Type t = v.type();
    switch (t) {
        case Type::datatype:
            begin(t, 0, false, nl, false);
            number(datatype::id_of(&v));
            break;
        case Type::unset: case Type::none:
            begin(t, 0, false, nl, false);
            break;
        case Type::logic:
            if (compact_) {
                if (nl) byte(f::compact::new_line);
                byte(logic::get(&v) ? f::compact::logic_true : f::compact::logic_false);
            } else {
                begin(t, 0, false, nl, false);
                raw(logic::get(&v));
            }
            break;
        case Type::char_:
            begin(t, 0, false, nl, false);
            number(char_::code_of(&v));
            break;
        case Type::integer:
            if (compact_ && v.int2() >= 0 && v.int2() <= 63) {
                if (nl) byte(f::compact::new_line);
                byte(static_cast<uint8_t>(f::compact::small_integer | integer::get(&v)));
            } else {
                begin(t, 0, false, nl, false);
                signed_number(v.int2());
            }
            break;
        case Type::float_: case Type::time: case Type::percent: {
            double d = v.float23();
            if (!compact_) {
                if (out_.size() % 8) raw(0);  // the record starts on an 8-byte boundary
                begin(t, 0, false, nl, false);
                raw(v.data3);
                raw(v.data2);
                break;
            }
            // Whole numbers (hundredths for percent!) go as varints; -0.0 keeps its sign.
            bool whole = false;
            int32_t n = 0;
            if (t == Type::percent) {
                if (d >= -f::percent_limit && d <= f::percent_limit) {
                    double scaled = std::round(d * 100.0);  // half away from zero
                    n = static_cast<int32_t>(scaled);
                    whole = n / 100.0 == d;
                }
            } else if (d >= -f::integer_float_limit && d <= f::integer_float_limit) {
                n = static_cast<int32_t>(d);
                whole = double(n) == d;
            }
            if (whole && d == 0 && std::signbit(d)) whole = false;
            begin(t, 0, whole, nl, false);
            if (whole) {
                zigzag(n);
            } else {
                raw(v.data2);
                raw(v.data3);
            }
            break;
        }
        case Type::pair:
            begin(t, 0, false, nl, false);
            signed_number(v.int2());
            signed_number(v.int3());
            break;
        case Type::point2D:
            begin(t, 0, false, nl, false);
            raw(v.data1);
            raw(v.data2);
            break;
        case Type::point3D:
            begin(t, 0, false, nl, false);
            raw(v.data1);
            raw(v.data2);
            raw(v.data3);
            break;
        case Type::date: {
            bool time = date::has_time(date::word_of(&v));
            if (!compact_) {
                begin(t, 0, false, nl, false);
                raw(v.data1);
                raw(v.data3);
                raw(v.data2);
            } else {
                begin(t, 0, time, nl, false);
                raw(v.data1);
                if (time) {
                    raw(v.data2);
                    raw(v.data3);
                }
            }
            break;
        }
        case Type::typeset: {
            begin(t, 0, false, nl, false);
            if (!compact_) {
                raw(v.data1);
                raw(v.data2);
                raw(v.data3);
                break;
            }
            uint8_t set[12];
            std::memcpy(set, typeset::words(&v), 12);
            uint8_t n = 12;
            while (n && set[n - 1] == 0) --n;
            byte(n);
            out_.insert(out_.end(), set, set + n);
            break;
        }
        case Type::tuple: {
            int32_t n = tuple::length(&v);
            if (!compact_) {
                begin(t, static_cast<uint32_t>(n) << f::plain::unit_shift, false, nl, false);
                raw(v.data1);
                raw(v.data2);
                raw(v.data3);
                break;
            }
            begin(t, 0, n != 3, nl, false);
            if (n != 3) byte(static_cast<uint8_t>(n));
            for (int32_t i = 0; i < n; ++i) byte(tuple::get(&v, i));
            break;
        }
        case Type::money: {
            bool negative = money::get_sign(&v);
            begin(t, negative ? f::plain::money_negative : 0, negative, nl, false);
            raw(v.data1);
            raw(v.data2);
            raw(v.data3);
            break;
        }
        case Type::issue:
            begin(t, 0, false, nl, false);
            number(symbol(static_cast<uint32_t>(word::symbol_of(&v))));
            break;
        default:
            refuse(v);
    }
}

// Strings, files, URLs, tags, emails, refs, binaries and vectors: the head index, then
// (first occurrence) the units of the whole series from its first one.
void Writer::series_value(const Cell& v, bool nl) {
    Type t = v.type();
    Cell s = v;
    int32_t length = series::buffer_length(&s);
    int32_t head = std::clamp(v.int1(), 0, length);  // a head past the tail reads as the tail
    memory::SeriesBuffer* b = series::buffer(&s);
    uint32_t unit = b->unit();
    Share sh = share(series::node(&v), t);
    if (!compact_) {
        begin(t, unit << f::plain::unit_shift, false, nl, sh.reference);
        raw(static_cast<uint32_t>(head));
        if (!sh.reference) {
            raw(static_cast<uint32_t>(length));
            if (t == Type::vector) raw(static_cast<uint32_t>(vector::element_type(&v)));
            bytes(b->head_ptr(), size_t(length) * unit);
        }
    } else {
        begin(t, 0, head != 0, nl, sh.reference);
        if (head) varint(static_cast<uint32_t>(head));
        if (!sh.reference) {
            if (t == Type::binary) {
                varint(static_cast<uint32_t>(length));
            } else if (t == Type::vector) {
                byte(static_cast<uint8_t>((static_cast<uint32_t>(vector::element_type(&v)) << 2) | log2_unit(unit)));
                varint(static_cast<uint32_t>(length));
            } else {
                if (length >= (1 << 30)) error::raise(error::id::internal_no_memory);
                varint((static_cast<uint32_t>(length) << 2) | log2_unit(unit));
            }
            bytes(b->head_ptr(), size_t(length) * unit);
        }
    }
    close(sh);
}

void Writer::bitset_value(const Cell& v, bool nl) {
    memory::SeriesBuffer* b = bitset::buffer(&v);
    bool complemented = b->flags & bitset::complemented;
    Share sh = share(series::node(&v), Type::bitset);
    begin(Type::bitset, complemented ? f::plain::bitset_complemented : 0, complemented, nl, sh.reference);
    if (!sh.reference) {
        number(b->used_bytes());
        bytes(b->head_ptr(), b->used_bytes());
    }
    close(sh);
}

// The head, then (unless in reference form) the size and the pixel words as stored. An
// image with no pixels has no buffer to share.
void Writer::image_value(const Cell& v, bool nl) {
    Cell s = v;
    int32_t width = image::width(&s), height = image::height(&s);
    int64_t count = image::pixel_count(&s);
    int32_t head = static_cast<int32_t>(std::clamp<int64_t>(v.int1(), 0, count));
    Share sh = series::node(&v) ? share(series::node(&v), Type::image) : Share{false, 0};
    begin(Type::image, 0, head != 0, nl, sh.reference);
    if (!compact_) raw(static_cast<uint32_t>(head));
    else if (head) varint(static_cast<uint32_t>(head));
    if (!sh.reference) {
        if (!compact_) {
            raw(image::pack_size(width, height));
        } else {
            varint(static_cast<uint32_t>(width));
            varint(static_cast<uint32_t>(height));
        }
        if (count) bytes(reinterpret_cast<const uint8_t*>(image::pixels(&s)), size_t(count) * 4);
    }
    if (series::node(&v)) close(sh);
}

void Writer::block_value(const Cell& v, bool nl) {
    Type t = v.type();
    Cell s = v;
    int32_t length = series::buffer_length(&s);
    int32_t head = std::clamp(v.int1(), 0, length);
    Share sh = share(series::node(&v), t);
    begin(t, 0, head != 0, nl, sh.reference);
    if (!compact_) raw(static_cast<uint32_t>(head));
    else if (head) varint(static_cast<uint32_t>(head));
    if (!sh.reference) {
        number(static_cast<uint32_t>(length));
        for (int32_t i = 0; i < length; ++i) value(*block::cell_at(&v, i));
    }
    close(sh);
}

// A map's live pairs (a removed pair's value has header 0); no head index.
void Writer::map_value(const Cell& v, bool nl) {
    Share sh = share(series::node(&v), Type::map);
    begin(Type::map, 0, false, nl, sh.reference);
    if (!sh.reference) {
        memory::SeriesBuffer* b = series::buffer(&v);
        int32_t cells = static_cast<int32_t>(b->used_bytes() / sizeof(Cell)), live = 0;
        for (int32_t k = 0; k + 1 < cells; k += 2) live += b->cells()[k + 1].header != 0;
        number(static_cast<uint32_t>(2 * live));
        for (int32_t k = 0; k + 1 < cells; k += 2) {
            Cell key = *block::cell_at(&v, k), val = *block::cell_at(&v, k + 1);
            if (val.header == 0) continue;
            value(key);
            value(val);
        }
    }
    close(sh);
}

// A word bound to an object's or a function's context carries its index there and, the
// first time that context is met, the owner's record; any other word goes by its symbol
// and is bound to the global context when read.
void Writer::word_value(const Cell& v, bool nl) {
    Type t = v.type();
    Ref ctx = word::binding_of(&v);
    Cell owner;
    bool bound = ctx && ctx != context::global;
    if (bound) {
        owner = *context::owner_of(ctx);
        bound = owner.is(Type::object) || owner.is(Type::function);
    }
    uint32_t sym = symbol(static_cast<uint32_t>(word::symbol_of(&v)));
    if (!bound) {
        begin(t, f::plain::word_global, false, nl, false);
        number(sym);
        if (!compact_) raw(static_cast<uint32_t>(word::index_of(&v)));
        return;
    }
    Share sh = share(ctx, Type::context);
    begin(t, 0, true, nl, sh.reference);
    number(sym);
    signed_number(v.int3());
    if (!sh.reference) {
        owner.header &= ~header::new_line;
        if (owner.is(Type::object)) object_record(owner, false, false);
        else function_record(owner, false, false);
    }
    close(sh);
}

void Writer::object_record(const Cell& o, bool nl, bool reference) {
    bool handlers = !reference && object::record_of(&o) != 0;
    begin(Type::object, handlers ? f::plain::object_on_change : 0, handlers, nl, reference);
    if (reference) return;
    signed_number(static_cast<int32_t>(object::class_of(&o)));
    if (handlers) {
        Cell* record = buffer_of(object::record_of(&o))->cells();
        signed_number(static_cast<int32_t>(object::handler_slot(&record[0])));
        signed_number(static_cast<int32_t>(object::handler_slot(&record[1])));
    }
    context_record(object::context_of(&o));
}

// A function: its spec at position 0, its body at position 1 (the positions of its
// container were opened by share).
void Writer::function_record(const Cell& fn, bool nl, bool reference) {
    begin(Type::function, 0, false, nl, reference);
    if (reference) return;
    Cell spec = function::spec_block(&fn), body = function::series_cells(&fn)[0];
    number(static_cast<uint32_t>(series::buffer_length(&spec)));
    number(body.is(Type::block) ? static_cast<uint32_t>(series::buffer_length(&body)) : 0);
    context_record(function::context_of(&fn));
    value(spec);
    value(body);
}

void Writer::context_record(Ref ctx) {
    Cell* c = context::cell_of(ctx);
    uint32_t kind = context::kind_of(c);
    bool stack_values = context::on_stack(c), self = c->header & context::bit::has_self, values = context::values_node_in(c) != 0;
    int32_t n = context::size_of(ctx);
    if (!compact_) {
        raw(static_cast<uint32_t>(Type::context) | kind << f::plain::context_kind_shift |
            (self ? f::plain::context_self : 0) | (stack_values ? f::plain::context_stack : 0) |
            (values ? f::plain::context_values : 0));
    } else {
        byte(static_cast<uint8_t>(Type::context));
        byte(static_cast<uint8_t>(kind | (stack_values ? f::compact::context_stack : 0) |
                                  (self ? f::compact::context_self : 0) | (values ? f::compact::context_values : 0)));
    }
    number(static_cast<uint32_t>(n));
    for (int32_t i = 0; i < n; ++i) number(symbol(static_cast<uint32_t>(word::symbol_of(context::word_at(ctx, i)))));
    if (values && !stack_values)
        for (int32_t i = 0; i < n; ++i) value(*context::value_at(ctx, i));
}

// op!: the record of the function it is made from, which takes no position of its own.
void Writer::op_value(const Cell& v, bool nl) {
    auto source_type = static_cast<Type>((v.header >> 16) & 0xFF);
    Cell source = v;
    source.header = static_cast<uint32_t>(source_type);
    if (source_type == Type::function) {
        Cell kept = function::series_cells(&v)[3];
        if (kept.is(Type::function)) source = kept;
        source.header &= ~header::new_line;
    }
    begin(Type::op, static_cast<uint32_t>(source_type) << f::plain::op_source_shift, false, nl, false);
    value(source);
    --position_;
}

// error!: its code and the fields arg1 ... stack, numbered by their indexes in its context
// (3-8) so that a path into the error finds them where the decoder looks. An error met
// again (an error that holds itself) is written in reference form.
void Writer::error_value(const Cell& v, bool nl) {
    Ref ctx = object::context_of(&v);
    Ref values = context::values_node(ctx);
    if (!values || buffer_of(values)->used_bytes() < 9 * sizeof(Cell)) refuse(v);
    Cell code = buffer_of(values)->cells()[0];
    if (!code.is(Type::integer) || code.int2() < 0) refuse(v);
    Share sh = share(ctx, Type::context);
    begin(Type::error, 0, false, nl, sh.reference);
    if (!sh.reference) {
        number(static_cast<uint32_t>(integer::get(&code)));
        position_ = 3;
        for (int32_t i = 3; i <= 8; ++i) value(buffer_of(values)->cells()[i]);
    }
    close(sh);
}

std::vector<uint8_t> Writer::finish() {
    if (out_.size() > 0x7FFFFFFF) error::raise(error::id::internal_no_memory);
    std::vector<uint8_t> blob(f::magic, f::magic + sizeof f::magic);
    blob.push_back(f::version);
    bool symbols = !symbols_.empty();
    uint8_t flags = (compact_ ? f::flag::compact : 0) | (symbols ? f::flag::symbols : 0);
    blob.push_back(flags);
    Writer header(compact_);
    header.number(1);
    header.number(static_cast<uint32_t>(out_.size()));
    if (symbols) {
        std::vector<uint8_t> area;
        std::vector<uint32_t> offsets;
        for (int32_t id : symbols_) {
            offsets.push_back(static_cast<uint32_t>(area.size()));
            area.insert(area.end(), symbol::name(id), symbol::name(id) + symbol::name_length(id));
            area.push_back(0);
            if (!compact_)
                while (area.size() % 8) area.push_back(0);
        }
        header.number(static_cast<uint32_t>(offsets.size()));
        header.number(static_cast<uint32_t>(area.size()));
        for (uint32_t o : offsets) header.raw(o);
        header.out_.insert(header.out_.end(), area.begin(), area.end());
    }
    blob.insert(blob.end(), header.out_.begin(), header.out_.end());
    blob.insert(blob.end(), out_.begin(), out_.end());
    return blob;
}

}  // namespace

std::vector<uint8_t> encode_bytes(const Cell* value, bool compact) {
    try {
        Writer w(compact);
        w.value(*value);
        return w.finish();
    } catch (const std::bad_alloc&) {
        error::raise(error::id::internal_no_memory);
    }
}

Cell* encode(const Cell* value) { return binary::load(encode_bytes(value, false)); }

Cell* encode_compact(const Cell* value) { return binary::load(encode_bytes(value, true)); }

}  // namespace zuv::zuvbin
