// The runtime's own compressed-data codec: a bit-coded LZ77 stream cut into blocks of at most
// 1 MiB. The runtime only decodes it (embedded boot data, compressed ZUVBIN bodies); the
// encoder is here for the build tools. Every read is bounded by the record's stated size.
#include <algorithm>
#include <bit>

#include "io/compression.h"

namespace zuv::compression {

namespace {

// A match length n + 3 is coded as a unary class prefix, then the class's bits added to its
// base: `1` + 2 bits, `01` + 2 bits + 4, ..., and five zeros + 9 bits + 52.
struct LengthClass {
    uint8_t bits;
    uint16_t base;
};
constexpr LengthClass length_classes[6] = {{2, 0}, {2, 4}, {2, 8}, {3, 12}, {5, 20}, {9, 52}};
constexpr unsigned min_match = 3;
constexpr unsigned max_match = 52 + 511 + min_match;
constexpr uint32_t max_distance = 1u << 18;  // b < 2^18, the copy goes b + 1 back

uint32_t get_le32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// Least-significant bit first; a field's first bit is its lowest. Reading past the end
// yields zeros and sets `overrun`.
struct BitReader {
    std::span<const uint8_t> in;
    size_t pos;
    unsigned bit = 0;
    bool overrun = false;

    uint32_t get(unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (pos >= in.size()) {
                overrun = true;
                return 0;
            }
            v |= uint32_t{(in[pos] >> bit) & 1u} << i;
            if (++bit == 8) {
                bit = 0;
                ++pos;
            }
        }
        return v;
    }
    // The byte after the last one touched: a partly used byte's remaining bits are dropped.
    size_t next_byte() const { return pos + (bit != 0); }
};

uint32_t read_length(BitReader& br) {
    for (unsigned c = 0; c < 5; ++c)
        if (br.get(1)) return length_classes[c].base + br.get(length_classes[c].bits);
    return length_classes[5].base + br.get(length_classes[5].bits);
}

uint32_t read_distance(BitReader& br) {
    const unsigned k = br.get(4) + 2;
    return k > 2 ? br.get(k) + (1u << k) : br.get(3);
}

// Decodes one block of exactly `out.size()` bytes; false when the stream is corrupt. A match
// never reaches before the block's own start.
bool decode_block(BitReader& br, std::span<uint8_t> out) {
    size_t produced = 0;
    while (produced < out.size()) {
        if (!br.get(1)) {
            const uint32_t literal = br.get(8);
            if (br.overrun) return false;
            out[produced++] = static_cast<uint8_t>(literal);
            continue;
        }
        const size_t length = read_length(br) + min_match;
        const size_t b = read_distance(br);
        if (br.overrun || b >= produced || length > out.size() - produced) return false;
        // Byte by byte: an overlapping copy repeats the pattern.
        for (size_t i = 0; i < length; ++i, ++produced) out[produced] = out[produced - b - 1];
    }
    return true;
}

struct BitWriter {
    std::vector<uint8_t>& out;
    uint32_t pending = 0;
    unsigned count = 0;

    void put(uint32_t v, unsigned n) {  // n <= 24
        pending |= v << count;
        count += n;
        while (count >= 8) {
            out.push_back(static_cast<uint8_t>(pending));
            pending >>= 8;
            count -= 8;
        }
    }
    void flush() {
        if (count) out.push_back(static_cast<uint8_t>(pending));
        pending = 0;
        count = 0;
    }
};

void put_le32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void write_match(BitWriter& w, uint32_t length, uint32_t distance) {
    w.put(1, 1);
    const uint32_t n = length - min_match;
    unsigned c = 0;
    while (c < 5 && n >= length_classes[c + 1].base) ++c;
    if (c < 5)
        w.put(1u << c, c + 1);  // c zeros, then a one
    else
        w.put(0, 5);
    w.put(n - length_classes[c].base, length_classes[c].bits);

    const uint32_t b = distance - 1;
    if (b < 8) {
        w.put(0, 4);
        w.put(b, 3);
    } else {
        const unsigned k = static_cast<unsigned>(std::bit_width(b)) - 1;
        w.put(k - 2, 4);
        w.put(b - (1u << k), k);
    }
}

// Greedy matching through hash chains, within one block.
void encode_block(BitWriter& w, std::span<const uint8_t> block) {
    constexpr unsigned hash_bits = 15;
    constexpr unsigned chain_depth = 32;
    std::vector<int32_t> head(1u << hash_bits, -1);
    std::vector<int32_t> prev(block.size(), -1);
    auto hash = [&](size_t p) {
        const uint32_t x = uint32_t{block[p]} << 16 | uint32_t{block[p + 1]} << 8 | block[p + 2];
        return (x * 0x9E3779B1u) >> (32 - hash_bits);
    };
    auto insert = [&](size_t p) {
        if (block.size() - p < min_match) return;
        const uint32_t h = hash(p);
        prev[p] = head[h];
        head[h] = static_cast<int32_t>(p);
    };

    size_t p = 0;
    while (p < block.size()) {
        size_t best_len = 0, best_dist = 0;
        if (block.size() - p >= min_match) {
            const size_t limit = std::min<size_t>(max_match, block.size() - p);
            int32_t q = head[hash(p)];
            for (unsigned depth = 0; q >= 0 && depth < chain_depth; ++depth, q = prev[q]) {
                const size_t dist = p - static_cast<size_t>(q);
                if (dist > max_distance) break;
                size_t len = 0;
                while (len < limit && block[q + len] == block[p + len]) ++len;
                if (len > best_len) {
                    best_len = len;
                    best_dist = dist;
                    if (len == limit) break;
                }
            }
        }
        if (best_len >= min_match) {
            write_match(w, static_cast<uint32_t>(best_len), static_cast<uint32_t>(best_dist));
            for (size_t i = 0; i < best_len; ++i) insert(p + i);
            p += best_len;
        } else {
            w.put(0, 1);
            w.put(block[p], 8);
            insert(p);
            ++p;
        }
    }
    w.flush();
}

}  // namespace

std::optional<std::vector<uint8_t>> lz_decompress(std::span<const uint8_t> record) {
    if (record.size() < 8) return std::nullopt;
    const uint32_t compressed = get_le32(record.data());
    const uint32_t uncompressed = get_le32(record.data() + 4);
    if (compressed > record.size() - 8) return std::nullopt;
    const std::span<const uint8_t> data = record.subspan(8, compressed);

    // Grown block by block rather than sized from the header up front, so a corrupt size
    // word cannot make us allocate gigabytes before the first block fails.
    std::vector<uint8_t> out;
    size_t pos = 0;
    while (pos < data.size()) {
        if (data.size() - pos < 4) return std::nullopt;
        const uint32_t length = get_le32(data.data() + pos);
        pos += 4;
        if (length == 0 || length > lz_max_block || length > uncompressed - out.size()) return std::nullopt;
        const size_t start = out.size();
        out.resize(start + length);
        BitReader br{data, pos};
        if (!decode_block(br, std::span(out).subspan(start))) return std::nullopt;
        pos = br.next_byte();
    }
    return out;
}

std::vector<uint8_t> lz_compress(std::span<const uint8_t> data) {
    std::vector<uint8_t> out(8);
    BitWriter w{out};
    for (size_t at = 0; at < data.size(); at += lz_max_block) {
        const size_t length = std::min<size_t>(lz_max_block, data.size() - at);
        const size_t length_at = out.size();
        out.resize(length_at + 4);
        put_le32(out, length_at, static_cast<uint32_t>(length));
        encode_block(w, data.subspan(at, length));
    }
    put_le32(out, 0, static_cast<uint32_t>(out.size() - 8));
    put_le32(out, 4, static_cast<uint32_t>(data.size()));
    return out;
}

}  // namespace zuv::compression
