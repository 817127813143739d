// The inflate decoder of raw deflate streams, and the zlib and gzip framings in both
// directions. The decoder never reads past its input (missing bits read as zero and end the
// stream) and never writes past its output (later bytes are only counted, so the count is
// what the input really produces, never what a header or trailer claims).
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "io/compression.h"

#include "evaluator/checksum.h"
#include "io/deflate-tables.h"

namespace zuv::compression {

namespace {

using namespace tables;

// Least-significant bit first, in a 64-bit buffer refilled whole bytes at a time: after a
// refill at least 56 bits are pending while the input lasts, enough for a length code, its
// extra bits, a distance code and its extra bits in one go. Reading past the input yields
// zero bits and sets `overrun`: the stream is used up.
struct BitReader {
    std::span<const uint8_t> in;
    size_t pos = 0;
    uint64_t pending = 0;
    unsigned count = 0;
    bool overrun = false;

    void refill() {
        if (in.size() - pos >= 8) [[likely]] {
            // Eight bytes are loaded and as many whole ones kept as fit; the bits above
            // `count` are the real next input, so the next load sets them to what they are.
            uint64_t word;
            std::memcpy(&word, in.data() + pos, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            pending |= word << count;
            const unsigned take = (63 - count) >> 3;
            pos += take;
            count += take * 8;
            return;
        }
        while (count <= 56 && pos < in.size()) {
            pending |= uint64_t{in[pos++]} << count;
            count += 8;
        }
    }
    uint32_t peek() const { return static_cast<uint32_t>(pending); }
    void consume(unsigned n) {
        if (n > count) [[unlikely]] {
            overrun = true;
            pending = 0;
            count = 0;
        } else {
            pending >>= n;
            count -= n;
        }
    }
    uint32_t bits(unsigned n) {  // n <= 16
        if (count < n) refill();
        return take(n);
    }
    // The next n bits (n <= 16) with no refill: the caller refilled for them.
    uint32_t take(unsigned n) {
        const uint32_t v = static_cast<uint32_t>(pending) & ((1u << n) - 1);
        consume(n);
        return v;
    }
    // Drops the bits up to the next byte boundary and hands whole pending bytes back to the
    // input, so `pos` is where byte-wise reading goes on.
    void to_byte_boundary() {
        pos -= count / 8;
        pending = 0;
        count = 0;
    }
    bool used_up() const { return overrun || (pos == in.size() && count == 0); }
};

// Canonical Huffman code as a two-level lookup table indexed by the next stream bits (least
// significant first, so codes are stored bit-reversed). The root table takes `root_bits`;
// a longer code's root entry points at a sub-table indexed by the bits after those. An
// entry packs the symbol (or sub-table offset) in bits 0-15, the bits it takes in 16-19 and
// its kind in 20-21. Slots no code reaches stay invalid: incomplete codes are accepted and
// a code that falls in the gap is reported when it is met.
template <unsigned root_bits, unsigned max_symbols>
class HuffmanTable {
public:
    // Left unset: build() writes every slot it will read, and a decoder's tables are tens of
    // kilobytes that clearing would cost on each call.
    HuffmanTable() {}

    // False for an over-subscribed set of lengths.
    bool build(const uint8_t* lengths, unsigned n) {
        unsigned per_length[16] = {};
        for (unsigned i = 0; i < n; ++i) ++per_length[lengths[i]];
        per_length[0] = 0;
        int room = 1;
        unsigned next[16] = {};
        unsigned code = 0;
        for (unsigned len = 1; len < 16; ++len) {
            room = room * 2 - static_cast<int>(per_length[len]);
            if (room < 0) return false;
            code = (code + per_length[len - 1]) << 1;
            next[len] = code;
        }
        std::fill(entries_, entries_ + root_size, invalid);
        // The longest code under each root slot sizes that slot's sub-table.
        uint8_t longest[root_size] = {};
        unsigned codes[max_symbols];
        for (unsigned sym = 0; sym < n; ++sym) {
            const unsigned len = lengths[sym];
            if (len == 0) continue;
            codes[sym] = reverse16(next[len]++) >> (16 - len);
            if (len > root_bits) {
                uint8_t& l = longest[codes[sym] & (root_size - 1)];
                l = std::max<uint8_t>(l, static_cast<uint8_t>(len));
            }
        }
        unsigned used = root_size;
        for (unsigned slot = 0; slot < root_size; ++slot) {
            if (!longest[slot]) continue;
            const unsigned sub_bits = longest[slot] - root_bits;
            entries_[slot] = used | sub_bits << 16 | sub_table << 20;
            std::fill(entries_ + used, entries_ + used + (1u << sub_bits), invalid);
            used += 1u << sub_bits;
        }
        for (unsigned sym = 0; sym < n; ++sym) {
            const unsigned len = lengths[sym];
            if (len == 0) continue;
            const unsigned c = codes[sym];
            if (len <= root_bits) {
                for (unsigned k = c; k < root_size; k += 1u << len) entries_[k] = sym | len << 16;
            } else {
                const uint32_t link = entries_[c & (root_size - 1)];
                const unsigned base = link & 0xFFFF, sub_size = 1u << ((link >> 16) & 0xF);
                // A sub-table entry holds the code's whole length: the root bits are consumed
                // with it, so a code in the gap consumes nothing.
                const unsigned rest = len - root_bits;
                for (unsigned k = c >> root_bits; k < sub_size; k += 1u << rest) entries_[base + k] = sym | len << 16;
            }
        }
        return true;
    }

    // The symbol, or -1 when the bits match no code. Consumes the code's length (nothing for
    // no code); the caller refilled the reader.
    int decode(BitReader& br) const {
        const uint32_t bits = br.peek();
        uint32_t e = entries_[bits & (root_size - 1)];
        if (e >> 20 == sub_table) e = entries_[(e & 0xFFFF) + ((bits >> root_bits) & ((1u << ((e >> 16) & 0xF)) - 1))];
        if (e >> 20 == invalid_kind) [[unlikely]]
            return -1;
        br.consume((e >> 16) & 0xF);
        return static_cast<int>(e & 0xFFFF);
    }

private:
    static constexpr unsigned root_size = 1u << root_bits;
    static constexpr uint32_t sub_table = 1, invalid_kind = 2;
    static constexpr uint32_t invalid = invalid_kind << 20;
    // Each symbol longer than the root can have a sub-table of its own, of at most
    // 2^(15 - root_bits) slots.
    static constexpr unsigned capacity = root_size + max_symbols * (1u << (15 - root_bits));

    uint32_t entries_[capacity];
};

using LiteralTable = HuffmanTable<10, 288>;
using DistanceTable = HuffmanTable<8, 32>;
using LengthCodeTable = HuffmanTable<7, 19>;

// Writes inside the output only; the count goes on so the caller learns the full size.
struct Sink {
    std::span<uint8_t> out;
    size_t count = 0;

    void put(uint8_t b) {
        if (count < out.size()) [[likely]]
            out[count] = b;
        ++count;
    }
    // The source lies before the destination, so whenever the destination is inside the
    // buffer, the source is too. Past the buffer a match is only counted, in one step, so a
    // pass that only measures costs no more per match than per literal.
    void copy_back(size_t distance, size_t length) {
        if (count <= out.size() && out.size() - count >= length + 8) [[likely]] {
            // Room to spare: whole words when the source is a word or more behind (a copy
            // may write up to 7 bytes past the match, which later output overwrites).
            uint8_t* to = out.data() + count;
            const uint8_t* from = to - distance;
            count += length;
            if (distance >= 8) {
                for (size_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
            } else if (distance == 1) {
                std::memset(to, *from, length);
            } else {
                for (size_t i = 0; i < length; ++i) to[i] = from[i];
            }
            return;
        }
        for (; length > 0 && count < out.size(); --length, ++count) out[count] = out[count - distance];
        count += length;
    }
};

const LiteralTable& fixed_literals() {
    static const LiteralTable t = [] {
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        LiteralTable h;
        h.build(lengths, 288);
        return h;
    }();
    return t;
}

const DistanceTable& fixed_distances() {
    static const DistanceTable t = [] {
        uint8_t lengths[32];
        std::fill(lengths, lengths + 32, 5);
        DistanceTable h;
        h.build(lengths, 32);
        return h;
    }();
    return t;
}

// What a block step ends in: go on with the next block, stop decoding (input used up or
// final block done), or fail with a status.
enum class Step { next, stop, fail };

struct Decoder {
    BitReader br;
    Sink sink;
    Status failure = Status::ok;
    bool finished = false;  // the final block was decoded to its end
    // A dynamic block's tables live here rather than in a block step's frame: together they
    // are tens of kilobytes.
    LiteralTable lit;
    DistanceTable dist;

    Decoder(std::span<const uint8_t> in, std::span<uint8_t> out) : br{in}, sink{out} {}

    Step fail(Status s) {
        failure = s;
        return Step::fail;
    }

    Step stored() {
        br.to_byte_boundary();
        const auto in = br.in;
        size_t& pos = br.pos;
        if (in.size() - pos < 4) return Step::stop;
        const uint32_t len = in[pos] | uint32_t{in[pos + 1]} << 8;  // NLEN after it is not compared
        pos += 4;
        if (len > in.size() - pos) return fail(Status::stored_overrun);
        const size_t room = sink.count < sink.out.size() ? std::min<size_t>(len, sink.out.size() - sink.count) : 0;
        if (room) std::memcpy(sink.out.data() + sink.count, in.data() + pos, room);
        sink.count += len;
        pos += len;
        return Step::next;
    }

    Step dynamic_tables() {
        static constexpr uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        const unsigned hlit = br.bits(5) + 257;
        const unsigned hdist = br.bits(5) + 1;
        const unsigned hclen = br.bits(4) + 4;
        uint8_t cl_lengths[19] = {};
        for (unsigned i = 0; i < hclen; ++i) cl_lengths[order[i]] = static_cast<uint8_t>(br.bits(3));
        if (br.overrun) return Step::stop;
        LengthCodeTable cl;
        if (!cl.build(cl_lengths, 19)) return fail(Status::bad_data);

        uint8_t lengths[288 + 32] = {};
        unsigned i = 0;
        while (i < hlit + hdist) {
            br.refill();
            const int sym = cl.decode(br);
            if (br.overrun) return Step::stop;
            if (sym < 0) return fail(Status::bad_data);
            if (sym < 16) {
                lengths[i++] = static_cast<uint8_t>(sym);
                continue;
            }
            uint8_t value = 0;
            unsigned repeat;
            if (sym == 16) {
                if (i == 0) return fail(Status::bad_data);
                value = lengths[i - 1];
                repeat = 3 + br.bits(2);
            } else if (sym == 17) {
                repeat = 3 + br.bits(3);
            } else {
                repeat = 11 + br.bits(7);
            }
            if (br.overrun) return Step::stop;
            if (repeat > hlit + hdist - i) return fail(Status::bad_data);
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        if (!lit.build(lengths, hlit) || !dist.build(lengths + hlit, hdist)) return fail(Status::bad_data);
        return Step::next;
    }

    // One refill per symbol covers the most a length and distance pair takes (15 + 5 + 15 +
    // 13 bits); past the input the missing bits read as zero and set `overrun`.
    Step codes(const LiteralTable& lit, const DistanceTable& dist) {
        for (;;) {
            if (br.used_up()) return Step::stop;
            br.refill();
            const int sym = lit.decode(br);
            if (br.overrun) return Step::stop;
            if (sym < 0) return fail(Status::bad_data);
            if (sym < 256) {
                sink.put(static_cast<uint8_t>(sym));
                continue;
            }
            if (sym == static_cast<int>(end_of_block)) return Step::next;
            const unsigned li = static_cast<unsigned>(sym) - 257;
            if (li >= 29) return fail(Status::bad_data);  // 286 and 287 are never valid
            const size_t length = length_base[li] + br.take(length_extra[li]);
            const int dsym = dist.decode(br);
            if (br.overrun) return Step::stop;
            if (dsym < 0 || dsym >= 30) return fail(Status::bad_data);
            const size_t distance = distance_base[dsym] + br.take(distance_extra[dsym]);
            if (br.overrun) return Step::stop;
            if (distance > sink.count) return fail(Status::distance_too_far);
            sink.copy_back(distance, length);
        }
    }

    Result run() {
        for (;;) {
            if (br.used_up()) break;
            const bool final = br.bits(1);
            const uint32_t type = br.bits(2);
            if (br.overrun) break;
            Step step;
            if (type == 0) {
                step = stored();
            } else if (type == 1) {
                step = codes(fixed_literals(), fixed_distances());
            } else if (type == 2) {
                step = dynamic_tables();
                if (step == Step::next) step = codes(lit, dist);
            } else {
                step = fail(Status::bad_block_type);
            }
            if (step == Step::fail) return {failure, sink.count};
            if (step == Step::stop) break;
            if (final) {
                finished = true;
                break;
            }
        }
        return {sink.count > sink.out.size() ? Status::output_too_small : Status::ok, sink.count};
    }

    // The input's byte position just after the stream (after a finished run).
    size_t end() {
        br.to_byte_boundary();
        return br.pos;
    }
};

// A stream inside a framing: besides the result, whether it reached the end of its final
// block and where it ended, so a stream cut short is refused and the trailer is read from
// right after it.
struct Framed {
    Result result;
    bool finished;
    size_t end;
};

Framed inflate_framed(std::span<uint8_t> out, std::span<const uint8_t> in) {
    Decoder d(in, out);
    Result r = d.run();
    return {r, d.finished, d.finished ? d.end() : in.size()};
}

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
void put_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t get_be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t get_le32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// Deflates `in` between a header and a trailer of the given sizes; on success the trailer's
// room is there.
Result framed_deflate(std::span<uint8_t> out, std::span<const uint8_t> in, size_t header, size_t trailer) {
    const size_t frame = header + trailer;
    // Too little room for the frame is a size question, not bad data: answering bad data
    // here would make the natives raise invalid-data for an empty or tiny input.
    if (out.size() < frame) return {Status::output_too_small, in.size() + frame};
    Result r = deflate(out.subspan(header, out.size() - frame), in);
    return {r.status, r.size + frame};
}

enum GzipFlag : uint8_t { fhcrc = 2, fextra = 4, fname = 8, fcomment = 16 };

}  // namespace

Result inflate(std::span<uint8_t> out, std::span<const uint8_t> in) {
    Decoder d(in, out);
    return d.run();
}

Result zlib_compress(std::span<uint8_t> out, std::span<const uint8_t> in) {
    Result r = framed_deflate(out, in, 2, 4);
    if (r.status != Status::ok) return r;
    out[0] = 0x78;  // deflate, 32 KiB window
    out[1] = 0x01;  // no dictionary, fastest; (0x78 * 256 + 0x01) is a multiple of 31
    put_be32(&out[r.size - 4], checksum::adler32(in));
    return r;
}

Result zlib_decompress(std::span<uint8_t> out, std::span<const uint8_t> in) {
    if (in.size() < 6) return {Status::bad_data, 0};
    const unsigned cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (flg & 0x20))
        return {Status::bad_data, 0};
    const Framed f = inflate_framed(out, in.subspan(2));
    const Result r = f.result;
    if (r.status != Status::ok && r.status != Status::output_too_small) return r;
    // The Adler-32 follows the stream and ends the input; a stream cut short never reaches it.
    if (!f.finished || in.size() - 2 - f.end != 4) return {Status::bad_data, r.size};
    if (r.status != Status::ok) return r;
    if (checksum::adler32(out.first(r.size)) != get_be32(&in[2 + f.end])) return {Status::bad_data, r.size};
    return r;
}

Result gzip_compress(std::span<uint8_t> out, std::span<const uint8_t> in) {
    // Data that happens to start like a gzip member is compressed like any other: copying it
    // unchanged would give bytes that decompress to something else, or to nothing.
    Result r = framed_deflate(out, in, 10, 8);
    if (r.status != Status::ok) return r;
    // Magic, method 8, no flags, no modification time, XFL 4 (fastest), OS 4.
    static constexpr uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::copy(header, header + 10, out.begin());
    put_le32(&out[r.size - 8], checksum::crc32(in));
    put_le32(&out[r.size - 4], static_cast<uint32_t>(in.size()));
    return r;
}

namespace {

// The length of the member header at the start of `in`, or 0 when it is not a valid one.
size_t gzip_header(std::span<const uint8_t> in) {
    if (in.size() < 10 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return 0;
    const uint8_t flags = in[3];
    size_t p = 10;
    if (flags & fextra) {
        if (in.size() - p < 2) return 0;
        const size_t xlen = in[p] | size_t{in[p + 1]} << 8;
        p += 2;
        if (in.size() - p < xlen) return 0;
        p += xlen;
    }
    for (uint8_t flag : {fname, fcomment}) {
        if (!(flags & flag)) continue;
        const auto nul = std::find(in.begin() + p, in.end(), 0);
        if (nul == in.end()) return 0;
        p = static_cast<size_t>(nul - in.begin()) + 1;
    }
    if (flags & fhcrc) {
        if (in.size() - p < 2) return 0;
        const uint32_t stored = in[p] | uint32_t{in[p + 1]} << 8;
        if ((checksum::crc32(in.first(p)) & 0xFFFF) != stored) return 0;
        p += 2;
    }
    return p;
}

}  // namespace

// A gzip file may hold several members one after another (as concatenated files give); the
// data is all of them in order. Each member's CRC-32 and length are checked against what its
// own stream produced. Zero bytes after the last member are padding; anything else there is
// refused rather than silently dropped.
Result gzip_decompress(std::span<uint8_t> out, std::span<const uint8_t> in) {
    if (in.size() < 18) return {Status::bad_data, 0};
    size_t p = 0, total = 0;
    do {
        const size_t header = gzip_header(in.subspan(p));
        if (header == 0) return {Status::bad_data, total};
        p += header;
        const std::span<uint8_t> room = total < out.size() ? out.subspan(total) : std::span<uint8_t>();
        const Framed f = inflate_framed(room, in.subspan(p));
        const Result r = f.result;
        if (r.status != Status::ok && r.status != Status::output_too_small) return {r.status, total};
        if (!f.finished || in.size() - p - f.end < 8) return {Status::bad_data, total};
        p += f.end;
        const uint32_t crc = get_le32(&in[p]);
        const uint32_t isize = get_le32(&in[p + 4]);
        p += 8;
        // The stored length is the size modulo 2^32; it only checks, never sizes anything.
        if (static_cast<uint32_t>(r.size) != isize) return {Status::bad_data, total};
        if (r.status == Status::ok && checksum::crc32(room.first(r.size)) != crc) return {Status::bad_data, total};
        total += r.size;
    } while (p < in.size() && in[p] != 0);
    if (std::any_of(in.begin() + p, in.end(), [](uint8_t b) { return b != 0; })) return {Status::bad_data, total};
    return {total > out.size() ? Status::output_too_small : Status::ok, total};
}

}  // namespace zuv::compression
