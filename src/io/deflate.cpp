// The deflate compressor: one final block with the fixed Huffman codes, matches found through
// a small hash table of 4-way buckets. Speed and a fixed footprint over ratio; no allocation.
#include <algorithm>
#include <cstring>

#include "io/compression.h"
#include "io/deflate-tables.h"

namespace zuv::compression {

namespace {

using namespace tables;

constexpr unsigned bucket_count = 1024;
constexpr unsigned bucket_ways = 4;

// Writes least-significant bit first. Past the end of the output the position still advances,
// so the caller learns the stream's full length without a byte written out of bounds.
struct BitWriter {
    std::span<uint8_t> out;
    size_t pos = 0;
    uint32_t pending = 0;
    unsigned count = 0;

    void put(uint32_t bits, unsigned n) {
        pending |= bits << count;
        count += n;
        while (count >= 8) {
            if (pos < out.size()) out[pos] = static_cast<uint8_t>(pending);
            ++pos;
            pending >>= 8;
            count -= 8;
        }
    }
    void put_code(uint32_t code, unsigned len) { put(reverse16(code) >> (16 - len), len); }
    void align() {
        if (count) put(0, 8 - count);
    }
};

void put_literal_or_length(BitWriter& w, uint32_t sym) {
    if (sym < 144)
        w.put_code(0x30 + sym, 8);
    else if (sym < 256)
        w.put_code(0x190 + (sym - 144), 9);
    else if (sym < 280)
        w.put_code(sym - 256, 7);
    else
        w.put_code(0xC0 + (sym - 280), 8);
}

// Index of the last base not above v.
template <size_t N>
unsigned code_index(const uint16_t (&base)[N], uint32_t v) {
    return static_cast<unsigned>(std::upper_bound(base, base + N, v) - base - 1);
}

void put_match(BitWriter& w, uint32_t length, uint32_t distance) {
    // 258 has its own symbol even though 227 + 31 would also reach it.
    unsigned li = length == max_match ? 28 : code_index(length_base, length);
    put_literal_or_length(w, 257 + li);
    if (length_extra[li]) w.put(length - length_base[li], length_extra[li]);
    unsigned di = code_index(distance_base, distance);
    w.put_code(di, 5);
    if (distance_extra[di]) w.put(distance - distance_base[di], distance_extra[di]);
}

uint32_t hash3(const uint8_t* p) {
    uint32_t x = p[0] ^ (uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & (bucket_count - 1);
}

}  // namespace

Result deflate(std::span<uint8_t> out, std::span<const uint8_t> in) {
    // Slot value 0 means empty, which also keeps position 0 from ever being a match source.
    size_t buckets[bucket_count][bucket_ways] = {};
    BitWriter w{out};
    const uint8_t* s = in.data();
    const size_t n = in.size();

    w.put(1, 1);  // BFINAL
    w.put(1, 2);  // BTYPE 01: fixed codes

    size_t p = 0;
    while (p < n) {
        const size_t start = p;
        // Positions with fewer than 3 bytes left can never start a match, so they are not hashed.
        const bool hashed = n - p >= 3;
        const uint32_t bucket = hashed ? hash3(s + p) : 0;
        bool matched = false;
        if (hashed && p >= 3) {
            for (size_t q : buckets[bucket]) {
                if (q == 0 || q >= p || p >= q + window || std::memcmp(s + q, s + p, 3) != 0) continue;
                size_t len = 3;
                const size_t limit = std::min<size_t>(max_match, n - p);
                while (len < limit && s[q + len] == s[p + len]) ++len;
                put_match(w, static_cast<uint32_t>(len), static_cast<uint32_t>(p - q));
                p += len;
                matched = true;
                break;
            }
        }
        if (!matched) {
            put_literal_or_length(w, s[p]);
            ++p;
        }
        if (hashed) {
            const unsigned way = n - p >= 3 ? (static_cast<unsigned>(s[p + 1] >> 6) - s[p + 2]) & 3 : 0;
            buckets[bucket][way] = start;
        }
    }

    w.put_code(end_of_block - 256, 7);
    w.align();
    return {w.pos > out.size() ? Status::output_too_small : Status::ok, w.pos};
}

}  // namespace zuv::compression
