// Sorting: powersort and the in-place partition sort, written once over an area type that
// is either a plain address or a series reached again through its node at every access.
#include "memory/sorting.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "memory/error.h"
#include "memory/memory.h"

namespace zuv::sorting {

namespace {

constexpr int32_t min_run = 24;       // merge sort: shorter natural runs are extended by insertion
constexpr int32_t cut_off = 8;        // partition sort: smaller ranges are finished by insertion
constexpr int32_t sample_step = 97;   // quick sort pre-pass: one pair in so many is sampled
constexpr int32_t probe_step = 10;    // quick sort pre-pass: distance between gathering probes

struct PlainArea {
    uint8_t* base;
    uint8_t* at(int64_t offset) const { return base + offset; }
};

struct SeriesArea {
    Ref node;
    uint32_t offset;
    uint8_t* at(int64_t at_offset) const { return memory::buffer_of(node)->head_ptr() + offset + at_offset; }
};

// Record-index operations over an area; every address is taken again at each use.
template <class Area>
struct Records {
    Area area;
    int32_t n;
    int32_t size;
    int32_t arg1, arg2;
    Compare callback;

    uint8_t* at(int32_t i) const { return area.at(int64_t(i) * size); }
    int32_t compare(int32_t i, int32_t j) const { return callback(at(i), at(j), arg1, arg2); }
    bool after(int32_t i, int32_t j) const { return compare(i, j) > 0; }
    void exchange(int32_t i, int32_t j) const {
        if (i != j) swap(at(i), at(j), size);
    }
    void reverse(int32_t first, int32_t end) const {
        for (int32_t i = first, j = end - 1; i < j; ++i, --j) exchange(i, j);
    }
    // Records [first, end) hold a sorted prefix up to sorted; the rest are added one by one,
    // each swapped backwards past the records that must come after it.
    void insertion(int32_t first, int32_t sorted, int32_t end) const {
        for (int32_t k = std::max(sorted, first + 1); k < end; ++k)
            for (int32_t j = k; j > first && after(j - 1, j); --j) exchange(j - 1, j);
    }
    // Moves count records from `from` to `to` by one-by-one swaps; the records displaced end
    // up where the block was. Safe for overlapping places in the right order.
    void move_block(int32_t from, int32_t to, int32_t count) const {
        if (from == to) return;
        if (to < from)
            for (int32_t t = 0; t < count; ++t) exchange(from + t, to + t);
        else
            for (int32_t t = count - 1; t >= 0; --t) exchange(from + t, to + t);
    }
};

// Merge sort -------------------------------------------------------------------------------

template <class Area>
struct MergeSort : Records<Area> {
    using Records<Area>::at;
    using Records<Area>::n;
    using Records<Area>::size;
    uint8_t* buffer = nullptr;

    uint8_t* buf(int32_t i) const { return buffer + int64_t(i) * size; }
    int32_t compare_with(const uint8_t* a, const uint8_t* b) const { return this->callback(a, b, this->arg1, this->arg2); }
    void put(int32_t to, const uint8_t* record) const { std::memcpy(at(to), record, size_t(size)); }

    // The end of the natural run starting at s; a strictly descending run is reversed.
    int32_t find_run(int32_t s) const {
        if (s + 1 >= n) return n;
        int32_t e = s + 2;
        if (!this->after(s, s + 1)) {
            while (e < n && !this->after(e - 1, e)) ++e;
        } else {
            while (e < n && this->after(e - 1, e)) ++e;
            this->reverse(s, e);
        }
        return e;
    }

    int32_t next_run(int32_t s) const {
        int32_t e = find_run(s);
        int32_t target = std::min(s + min_run, n);
        if (e >= target) return e;
        this->insertion(s, e, target);
        return target;
    }

    // The depth of the boundary between runs [s1, s2) and [s2, e2) in the ideal merge tree.
    int32_t power(int32_t s1, int32_t s2, int32_t e2) const {
        int64_t a = int64_t(s1) + s2, b = int64_t(s2) + e2;
        int32_t p = 0;
        for (;;) {
            if ((a < n) != (b < n)) break;
            ++p;
            if (a >= n) {
                a -= n;
                b -= n;
            }
            a *= 2;
            b *= 2;
        }
        return p + 1;
    }

    // Merges [s, m) and [m, e) through the buffer, which takes the shorter run. Whatever is
    // still in the buffer when the merge ends, or a callback throws, goes back into the gap,
    // which is always exactly its size.
    void merge_runs(int32_t s, int32_t m, int32_t e) const {
        if (s >= m || m >= e) return;
        struct Refill {
            const MergeSort* sort;
            int32_t to, from, count;
            ~Refill() {
                if (count > 0) std::memcpy(sort->at(to), sort->buf(from), size_t(count) * size_t(sort->size));
            }
        };
        int32_t left = m - s, right = e - m;
        if (right < left) {
            std::memcpy(buffer, at(m), size_t(right) * size_t(size));
            // rest.to is the end of what is left of the left run; the gap follows it.
            Refill rest{this, m, 0, right};
            int32_t d = e;
            while (rest.to > s && rest.count > 0) {
                if (compare_with(at(rest.to - 1), buf(rest.count - 1)) > 0) {
                    put(d - 1, at(rest.to - 1));
                    --rest.to;
                } else {
                    put(d - 1, buf(rest.count - 1));
                    --rest.count;
                }
                --d;
            }
        } else {
            std::memcpy(buffer, at(s), size_t(left) * size_t(size));
            int32_t j = m;
            Refill rest{this, s, 0, left};
            while (rest.count > 0 && j < e) {
                if (compare_with(buf(rest.from), at(j)) <= 0) {
                    put(rest.to, buf(rest.from));
                    ++rest.from;
                    --rest.count;
                } else {
                    put(rest.to, at(j));
                    ++j;
                }
                ++rest.to;
            }
        }
    }

    void run() {
        if (n < 2) return;
        uint64_t bytes = uint64_t(n / 2) * uint64_t(size);
        // Records of one area never need a 4 GiB buffer; such a request is a shortage too.
        if (bytes > UINT32_MAX) error::raise(error::id::internal_no_memory);
        std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[std::max<uint64_t>(bytes, 1)]);
        if (!work) error::raise(error::id::internal_no_memory);
        buffer = work.get();

        struct Entry {
            int32_t start, power;
        } stack[66];
        int top = 0;
        stack[0] = {0, 0};
        int32_t s1 = 0, e1 = next_run(0);
        while (e1 < n) {
            int32_t s2 = e1, e2 = next_run(s2);
            int32_t p = power(s1, s2, e2);
            while (stack[top].power > p) {
                merge_runs(stack[top].start, s1, e1);
                s1 = stack[top--].start;
            }
            stack[++top] = {s1, p};
            s1 = s2;
            e1 = e2;
        }
        for (; top > 0; --top) {
            merge_runs(stack[top].start, s1, n);
            s1 = stack[top].start;
        }
    }
};

// In-place sort ----------------------------------------------------------------------------

template <class Area>
struct QuickSort : Records<Area> {
    using Records<Area>::n;
    using Records<Area>::after;
    using Records<Area>::compare;
    using Records<Area>::exchange;

    // direction 1: ascending, -1: descending.
    static bool follows(int32_t c, int32_t direction) { return direction > 0 ? c <= 0 : c >= 0; }
    static bool against(int32_t c, int32_t direction) { return direction > 0 ? c > 0 : c < 0; }

    // Range [lo, lo + count) by sifting through a heap: the way out when partitioning keeps
    // choosing bad pivots, so the recursion stays shallow.
    void heap_sort(int32_t lo, int32_t count) const {
        auto sift = [&](int32_t root, int32_t end) {
            for (int32_t child; (child = 2 * root + 1) < end; root = child) {
                if (child + 1 < end && after(lo + child + 1, lo + child)) ++child;
                if (!after(lo + child, lo + root)) return;
                exchange(lo + root, lo + child);
            }
        };
        for (int32_t s = count / 2 - 1; s >= 0; --s) sift(s, count);
        for (int32_t end = count - 1; end > 0; --end) {
            exchange(lo, lo + end);
            sift(0, end);
        }
    }

    // Range [lo, lo + count); hint > 0: its first hint records are sorted, hint < 0: its last
    // -hint records are.
    void partition_sort(int32_t lo, int32_t count, int32_t hint, int depth) const {
        for (;;) {
            if (count < cut_off) {
                this->insertion(lo, lo + 1, lo + count);
                return;
            }
            int32_t h = hint < 0 ? -hint : hint;
            if (h >= count) return;
            if (depth <= 0) {
                heap_sort(lo, count);
                return;
            }
            --depth;

            // The sample [0, l) is laid out as: records not after the pivot [0, m), the pivot
            // at m, records to partition, records not before the pivot in the last `upper`.
            int32_t l, m, upper;
            if (h <= 2) {
                l = count >= 512 ? 63 : count;
                exchange(lo + 1, lo + l / 2);
                if (after(lo, lo + 1)) exchange(lo, lo + 1);
                if (after(lo + 1, lo + l - 1)) {
                    exchange(lo + 1, lo + l - 1);
                    if (after(lo, lo + 1)) exchange(lo, lo + 1);
                }
                m = 1;
                upper = 1;
            } else {
                l = count / 256 < h ? count : 16 * h - 1;
                m = (h - 1) / 2;
                upper = h / 2;
                bool at_front = true;
                if (hint < 0) {
                    if (l < count) {
                        this->move_block(lo + count - h, lo, h);  // disjoint: count > 16 h
                    } else {
                        this->move_block(lo + count - h, lo, (h + 1) / 2);
                        at_front = false;  // its upper half already ends the sample
                    }
                }
                if (at_front) {
                    if (l < count) {
                        int32_t stride = count / l;
                        for (int32_t j = h; j < l; ++j) exchange(lo + j, lo + j * stride);
                    }
                    this->move_block(lo + h - upper, lo + l - upper, upper);
                }
            }

            // Three-way partition of [m + 1, l - upper): records equal to the pivot gather in
            // a group right after it.
            const int32_t pivot = lo + m;
            int32_t equal = 0;
            int32_t i = pivot + 1, j = lo + l - upper - 1;
            for (;;) {
                while (i <= j) {
                    int32_t c = compare(i, pivot);
                    if (c > 0) break;
                    if (c == 0) exchange(i, pivot + 1 + equal++);
                    ++i;
                }
                int32_t c = 1;
                while (j > i && (c = compare(j, pivot)) > 0) --j;
                if (i >= j) break;
                exchange(i, j);
                if (c == 0) exchange(i, pivot + 1 + equal++);
                ++i;
                --j;
            }
            // [pivot, pivot + 1 + equal) equal, then the smaller records up to i: swap the
            // equal group past them with as few swaps as the smaller block needs.
            int32_t smaller = i - (pivot + 1 + equal);
            int32_t k = std::min(smaller, equal + 1);
            for (int32_t t = 0; t < k; ++t) exchange(pivot + t, i - k + t);
            int32_t low_count = m + smaller;   // [lo, lo + low_count): not after the pivot
            int32_t greater = lo + l - i;      // [i, lo + l): not before it
            if (greater > upper) partition_sort(i, greater, -upper, depth);
            if (l < count) {
                if (low_count > m) partition_sort(lo, low_count, m, depth);
                hint = l;  // the sample is sorted now; the next one is sixteen times larger
            } else {
                count = low_count;
                hint = m;
            }
        }
    }

    void run() {
        if (n < 2) return;
        // Direction and the ordered prefix.
        int32_t direction = 0, i = 0;
        for (; i + 1 < n; ++i) {
            int32_t c = compare(i, i + 1);
            if (c != 0) {
                direction = c < 0 ? 1 : -1;
                break;
            }
        }
        if (direction == 0) return;  // every record equal to the next
        ++i;
        while (i + 1 < n && follows(compare(i, i + 1), direction)) ++i;
        int32_t run = i + 1;
        int64_t score = int64_t(run) * direction;
        for (int32_t p = run; p + 1 < n; p += sample_step) {
            int32_t c = compare(p, p + 1);
            score += c < 0 ? 1 : (c > 0 ? -1 : 0);
        }

        if ((score < 0 ? -score : score) > n / 512) {
            if ((score < 0 ? -1 : 1) != direction) {
                run = 1;
                direction = -direction;
            }
            // Gather ordered stretches from the rest onto the end of the run.
            for (int32_t p = run - 1;;) {
                p += probe_step;
                if (p >= n) break;
                int32_t e = p;
                while (e + 1 < n && follows(compare(e, e + 1), direction)) ++e;
                int32_t s = p;
                while (s - 1 >= run && follows(compare(s - 1, s), direction)) --s;
                p = e;
                int32_t length = e - s + 1;
                if (length < 4) continue;
                int32_t k = std::min(length / 2, run / 4), dropped = 0;
                while (dropped < k && against(compare(run - 1 - dropped, s + dropped), direction)) ++dropped;
                if (dropped == k) continue;
                run -= dropped;
                int32_t from = s + dropped, moved = e - from + 1;
                this->move_block(from, run, moved);
                run += moved;
            }
        }
        if (direction < 0) this->reverse(0, run);
        if (run >= n) return;
        int depth = 4 * std::bit_width(static_cast<uint32_t>(n)) + 32;
        partition_sort(0, n, run, depth);
    }
};

template <class Area>
Records<Area> records(Area area, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare) {
    return Records<Area>{area, count, size, arg1, arg2, compare};
}

}  // namespace

void swap(uint8_t* a, uint8_t* b, int32_t size) {
    if ((size & 3) == 0) {
        for (int32_t i = 0; i < size; i += 4) {
            uint32_t x, y;
            std::memcpy(&x, a + i, 4);
            std::memcpy(&y, b + i, 4);
            std::memcpy(a + i, &y, 4);
            std::memcpy(b + i, &x, 4);
        }
    } else {
        for (int32_t i = 0; i < size; ++i) std::swap(a[i], b[i]);
    }
}

void merge_sort(uint8_t* base, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare) {
    MergeSort<PlainArea>{records(PlainArea{base}, count, size, arg1, arg2, compare)}.run();
}

void quick_sort(uint8_t* base, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare) {
    QuickSort<PlainArea>{records(PlainArea{base}, count, size, arg1, arg2, compare)}.run();
}

void merge_sort(Ref node, uint32_t offset, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare) {
    MergeSort<SeriesArea>{records(SeriesArea{node, offset}, count, size, arg1, arg2, compare)}.run();
}

void quick_sort(Ref node, uint32_t offset, int32_t count, int32_t size, int32_t arg1, int32_t arg2, Compare compare) {
    QuickSort<SeriesArea>{records(SeriesArea{node, offset}, count, size, arg1, arg2, compare)}.run();
}

}  // namespace zuv::sorting
