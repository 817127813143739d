// Bucket bookkeeping shared by the hash tables and the address map: two flag bits per
// bucket, sixteen buckets to a 32-bit word, power-of-two bucket counts and the probe
// sequence that adds 1, 2, 3 ... to the bucket number.
#pragma once
#include <bit>
#include <cstdint>

namespace zuv::hash_buckets {

// Bucket states; a fresh flag word 0xAAAAAAAA has every bucket empty.
constexpr uint32_t live = 0, deleted = 1, empty = 2;
constexpr uint8_t empty_fill = 0xAA;
constexpr double load = 0.77;

inline uint32_t state(const uint32_t* flags, uint32_t i) { return (flags[i >> 4] >> ((i & 15) << 1)) & 3; }
inline bool is_live(const uint32_t* flags, uint32_t i) { return state(flags, i) == live; }
inline bool is_empty(const uint32_t* flags, uint32_t i) { return state(flags, i) & empty; }
inline void set(uint32_t* flags, uint32_t i, uint32_t s) {
    uint32_t shift = (i & 15) << 1;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (s << shift);
}

// Bytes of flags for a bucket count: a quarter byte a bucket, and always one whole word,
// since the flags are read a word at a time.
inline uint32_t flag_bytes(int32_t buckets) { return buckets < 16 ? 4u : static_cast<uint32_t>(buckets) / 4; }

// The smallest power of two at or above n (1 for n below 2). Callers keep n below 2^30.
inline int32_t pow2(int64_t n) {
    if (n < 2) return 1;
    return static_cast<int32_t>(std::bit_ceil(static_cast<uint64_t>(n)));
}

// A probe sequence: the k-th step adds k. It ends when it comes back to its first bucket.
struct Probe {
    uint32_t mask;
    uint32_t i;
    uint32_t start;
    uint32_t step = 0;

    Probe(uint32_t hash, int32_t buckets)
        : mask(static_cast<uint32_t>(buckets) - 1), i(hash & mask), start(i) {}
    // Moves to the next bucket; false when the sequence came round.
    bool next() {
        ++step;
        i = (i + step) & mask;
        return i != start;
    }
};

}  // namespace zuv::hash_buckets
