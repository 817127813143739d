// Hash tables: records, buckets and keys in byte series of the arena, probed with the
// shared bucket helpers. Allocation may move every buffer of a table: each step reaches
// the record again through the table's node after anything that can allocate.
#include "memory/hashtable.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

#include "memory/actions.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/case-folding.h"
#include "memory/collector.h"
#include "memory/hash-buckets.h"
#include "memory/memory.h"
#include "runtime/fatal.h"
#include "runtime/print.h"
#include "runtime/random.h"

namespace zuv::hashtable {

uint32_t seed = random::hash_seed_start;
KeyHook prepare_map_key = nullptr;

namespace {

namespace hb = hash_buckets;
using memory::buffer_of;
using memory::ptr;
using memory::SeriesBuffer;

std::vector<Ref*> purged_tables;

// The record is followed in its buffer by the number (collection count + 1) of the last
// collection that marked the table's buffers. The record node alone may already carry the
// mark, set by the scan of the machine stack, so that mark cannot tell.
constexpr uint32_t record_bytes = 48;
constexpr uint32_t marked_at = 44;

constexpr int32_t refresh_limit = 30000;

// MurmurHash3 x86_32 -----------------------------------------------------------------------

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t fmix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

inline uint32_t scramble(uint32_t k) {
    k *= 0xCC9E2D51;
    k = rotl(k, 15);
    return k * 0x1B873593;
}

inline uint32_t block_step(uint32_t h, uint32_t k) {
    h ^= scramble(k);
    h = rotl(h, 13);
    return h * 5 + 0xE6546B64;
}

// MurmurHash3 of bytes passed through a byte mapping (identity, or ASCII lower case).
template <class Map>
uint32_t murmur(const uint8_t* p, size_t length, Map map) {
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i, p += 4) {
        uint32_t k = uint32_t(map(p[0])) | uint32_t(map(p[1])) << 8 | uint32_t(map(p[2])) << 16 |
                     uint32_t(map(p[3])) << 24;
        h = block_step(h, k);
    }
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(map(p[2])) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(map(p[1])) << 8; [[fallthrough]];
        case 1: h ^= scramble(k ^ map(p[0]));
    }
    return fmix(h ^ static_cast<uint32_t>(length));
}

inline uint8_t ascii_lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

uint32_t symbol_hash(const uint8_t* name, size_t length) { return murmur(name, length, ascii_lower); }

bool same_ignoring_ascii_case(const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// Code points from the value's head, folded to upper case unless case-sensitive, each
// hashed as one 32-bit block.
uint32_t string_hash(const Cell* v, bool case_sensitive) {
    uint32_t h = seed;
    uint32_t count = 0;
    if (v->data2) {
        SeriesBuffer* b = buffer_of(v->data2);
        uint32_t unit = b->unit();
        const uint8_t* p = b->head_ptr() + size_t(v->data1) * unit;
        const uint8_t* end = b->tail_ptr();
        if (p < end) count = static_cast<uint32_t>(end - p) / unit;
        if (v->type() == text_key && v->int3() >= 0) count = std::min(count, v->data3);
        for (uint32_t i = 0; i < count; ++i, p += unit) {
            uint32_t c;
            switch (unit) {
                case 1: c = *p; break;
                case 2: { uint16_t u; std::memcpy(&u, p, 2); c = u; break; }
                case 4: std::memcpy(&c, p, 4); break;
                default: runtime::quit(runtime::no_switch_match, 0);
            }
            h = block_step(h, case_sensitive ? c : case_folding::to_upper(c));
        }
    }
    return fmix(h ^ (4 * count));
}

uint32_t bytes_hash_from(const Cell* v, int word, size_t length) {
    return hash_bytes(reinterpret_cast<const uint8_t*>(v) + 4 * word, length);
}

bool address_keyed(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::native: case Type::action: case Type::op:
        case Type::function: case Type::path: case Type::lit_path: case Type::set_path: case Type::get_path:
        case Type::object: case Type::error: case Type::hash: case Type::map: case Type::port:
        case Type::image: case Type::event:
            return true;
        default:
            return false;
    }
}

bool word_family(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word;
}

// Byte series of 32-bit words (chain buffer, duplicate lists, index array) ---------------

inline uint32_t* words(Ref node) { return reinterpret_cast<uint32_t*>(buffer_of(node)->head_ptr()); }
inline int32_t word_count(Ref node) { return static_cast<int32_t>(buffer_of(node)->used_bytes() / 4); }
inline uint32_t room_bytes(Ref node) {
    SeriesBuffer* b = buffer_of(node);
    return static_cast<uint32_t>(b->data_end() - b->head_ptr());
}

void append_word(Ref node, uint32_t w) {
    SeriesBuffer* b = buffer_of(node);
    if (b->tail_ptr() + 4 > b->data_end()) b = memory::expand_series(b, 0);
    std::memcpy(b->tail_ptr(), &w, 4);
    b->tail += 4;
}

// Removes the first word equal to w; false when there is none.
bool remove_word(Ref node, uint32_t w) {
    SeriesBuffer* b = buffer_of(node);
    auto* first = reinterpret_cast<uint32_t*>(b->head_ptr());
    auto* last = reinterpret_cast<uint32_t*>(b->tail_ptr());
    uint32_t* at = std::find(first, last, w);
    if (at == last) return false;
    std::memmove(at, at + 1, size_t(last - at - 1) * 4);
    b->tail -= 4;
    return true;
}

inline void empty_series(Ref node) {
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head;
}

void fill_room(Ref node, uint8_t byte) {
    SeriesBuffer* b = buffer_of(node);
    memory::fill(b->head_ptr(), b->data_end(), byte);
}

// A byte series of n bytes of one value, its tail at the end.
Ref make_filled(uint32_t bytes, uint8_t byte) {
    Ref node = memory::alloc_bytes_filled(bytes, byte);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + bytes;
    return node;
}

Ref new_flags(int32_t buckets) { return make_filled(hb::flag_bytes(buckets), hb::empty_fill); }
Ref new_keys(int32_t buckets) { return make_filled(uint32_t(buckets) * 4, 0); }

// Record access ------------------------------------------------------------------------------

inline uint32_t* flags_of(const Record* r) { return words(r->flags); }
inline int32_t* keys_of(const Record* r) { return reinterpret_cast<int32_t*>(words(r->keys)); }
inline Cell* cells_of(const Record* r) { return buffer_of(r->series)->cells(); }
inline int32_t cell_count(const Record* r) { return static_cast<int32_t>(buffer_of(r->series)->used_bytes() / 16); }
inline int32_t* index_of(const Record* r) { return reinterpret_cast<int32_t*>(words(static_cast<Ref>(r->indexes))); }
inline int32_t index_room(const Record* r) { return static_cast<int32_t>(room_bytes(static_cast<Ref>(r->indexes)) / 4); }
inline Ref list_of(const Record* r, int32_t number) { return words(r->chains)[number - 1]; }
inline uint32_t collection_stamp() { return collector::stats.collections + 1; }
inline int32_t grow_request(const Record* r) { return 2 * r->size < r->buckets ? r->buckets - 1 : r->buckets + 1; }

inline int32_t pow2_checked(int64_t n) {
    if (n > (int64_t(1) << 29)) error::raise(error::id::internal_no_memory);
    return hb::pow2(n);
}

// Keeps nodes from moving while hashes that depend on node addresses are computed; the
// setting comes back however the step ends.
struct NoNodeMoves {
    bool saved = collector::compaction_allowed;
    NoNodeMoves() { collector::compaction_allowed = false; }
    ~NoNodeMoves() { collector::compaction_allowed = saved; }
    NoNodeMoves(const NoNodeMoves&) = delete;
    NoNodeMoves& operator=(const NoNodeMoves&) = delete;
};

// Holds a table that no value refers to yet (one being made or copied) as a root, so a
// collection marks all of its buffers, not only the record.
struct KeepTable {
    Cell cell;
    explicit KeepTable(Ref table) {
        cell::make(&cell, Type::map, 0, 0, table);
        collector::add_root(&cell);
    }
    ~KeepTable() { collector::remove_root(&cell); }
    KeepTable(const KeepTable&) = delete;
    KeepTable& operator=(const KeepTable&) = delete;
};

// The hash a stored key was placed by.
uint32_t stored_hash(const Record* r, int32_t key) {
    if (r->kind == kind_id || r->kind == kind_ownership)
        return mix32(reinterpret_cast<Cell*>(buffer_of(r->series)->head_ptr() + key)->data1);
    return hash_value(cells_of(r) + key, false);
}

// hash! index -------------------------------------------------------------------------------

// The first cell index of a bucket's group.
inline int32_t group_first(const Record* r, int32_t key) {
    return key >= 0 ? key : static_cast<int32_t>(words(list_of(r, -key))[0]);
}

// Records the 1-based bucket of a cell in the index array, growing it to twice the cell's
// position when it is too short.
void set_index_entry(Ref table, int32_t position, int32_t bucket) {
    Record* r = record_of(table);
    if (position >= index_room(r)) {
        SeriesBuffer* b = buffer_of(static_cast<Ref>(r->indexes));
        memory::expand_series_filled(b, (int64_t(position) + 1) * 8, 0xFF);
        r = record_of(table);
    }
    index_of(r)[position] = bucket;
}

void grow_index(Ref table, int32_t cells) {
    Record* r = record_of(table);
    if (cells <= index_room(r)) return;
    memory::expand_series_filled(buffer_of(static_cast<Ref>(r->indexes)), int64_t(cells) * 8, 0xFF);
}

// Adds a cell to the group of an equal cell: a single index first becomes a duplicate list.
void join_group(Ref table, uint32_t bucket, int32_t key, int32_t position) {
    if (key >= 0) {
        Ref list = memory::alloc_bytes(16);
        uint32_t pair[2] = {static_cast<uint32_t>(key), static_cast<uint32_t>(position)};
        SeriesBuffer* b = buffer_of(list);
        std::memcpy(b->head_ptr(), pair, 8);
        b->tail = b->head + 8;
        Ref chains = record_of(table)->chains;
        append_word(chains, list);
        keys_of(record_of(table))[bucket] = -word_count(chains);
    } else {
        append_word(list_of(record_of(table), -key), static_cast<uint32_t>(position));
    }
}

// Takes one cell out of the index; nothing for a cell that is not indexed.
void unindex(Record* r, int32_t position) {
    if (position < 0 || position >= index_room(r)) return;
    int32_t* index = index_of(r);
    int32_t bucket = index[position] - 1;
    if (bucket < 0 || bucket >= r->buckets) return;
    index[position] = -1;
    int32_t key = keys_of(r)[bucket];
    if (key < 0) {
        Ref list = list_of(r, -key);
        remove_word(list, static_cast<uint32_t>(position));
        if (word_count(list) > 0) return;
        words(r->chains)[-key - 1] = 0;
    } else if (key != position) {
        return;
    }
    hb::set(flags_of(r), bucket, hb::deleted);
    --r->size;
}

// Rewrites the stored positions of the cells in [low, high) through a mapping: single keys
// directly, duplicate lists once each (only their members inside the range).
template <class Map>
void remap_positions(Record* r, int32_t low, int32_t high, Map map) {
    high = std::min(high, index_room(r));
    std::vector<bool> seen(static_cast<size_t>(word_count(r->chains)) + 1);
    int32_t* index = index_of(r);
    int32_t* keys = keys_of(r);
    for (int32_t p = std::max(low, 0); p < high; ++p) {
        int32_t bucket = index[p] - 1;
        if (bucket < 0 || bucket >= r->buckets) continue;
        int32_t key = keys[bucket];
        if (key >= 0) {
            if (key == p) keys[bucket] = map(p);
            continue;
        }
        if (seen[-key]) continue;
        seen[-key] = true;
        Ref list = list_of(r, -key);
        uint32_t* member = words(list);
        for (int32_t m = 0, n = word_count(list); m < n; ++m) {
            auto v = static_cast<int32_t>(member[m]);
            if (v >= low && v < high) member[m] = static_cast<uint32_t>(map(v));
        }
    }
}

// The buckets a map key tries, in turn: its home bucket and the three after it by steps of
// 1, 2 and 3 (most keys are found there, in one or two cache lines), then steps of an odd
// stride of its own, which come round to every bucket. An integer key's home is the integer
// itself: keys that follow each other (the commonest integer keys) take buckets that follow
// each other, and a run of lookups reads the index in order rather than at random. Keys a
// power of two apart share homes, but past the first steps each goes on by a stride taken
// from its mixed bits: they do not pile up along one sequence. Other keys start from their
// mixed hash.
struct MapProbe {
    uint32_t mask;
    uint32_t i;
    uint32_t stride;
    uint32_t step = 0;
    uint32_t last;

    MapProbe(uint32_t home, uint32_t mixed, int32_t buckets)
        : mask(static_cast<uint32_t>(buckets) - 1), i(home & mask), stride(mixed | 1),
          last(static_cast<uint32_t>(buckets) + near_steps) {}
    // Moves to the next bucket; false once every bucket has been tried.
    bool next() {
        ++step;
        i = (i + (step <= near_steps ? step : stride)) & mask;
        return step < last;
    }

    static constexpr uint32_t near_steps = 3;
};

inline MapProbe integer_probe(uint32_t v, int32_t buckets) {
    // The stride from the high bits of the mix: the low ones decide nothing in the home.
    return MapProbe(v, fmix(v) >> 7, buckets);
}

// A map key's probe, the common integer and word keys inline (hash_value's hash otherwise).
inline MapProbe map_key_probe(const Cell* key, int32_t buckets) {
    if (key->is(Type::integer)) return integer_probe(key->data2, buckets);
    uint32_t hash = key->is(Type::set_word) ? fmix(static_cast<uint32_t>(symbol::resolve(key->int2())))
                                            : hash_value(key, false);
    return MapProbe(hash, (hash >> 16) | (hash << 16), buckets);
}

// The first empty bucket of a probe sequence (a table never fills up).
template <class Probe>
inline uint32_t first_empty(const uint32_t* flags, Probe p) {
    while (!hb::is_empty(flags, p.i)) p.next();
    return p.i;
}

// Kinds 1-2: moves every key into max(pow2(request), 4) buckets, reusing the key buffer.
// A key taken from its old bucket is carried to its new one, and the live key found there
// (if any) is carried next.
void resize_in_place(Ref table, int32_t request) {
    NoNodeMoves hold;
    Record* r = record_of(table);
    int32_t g = std::max(pow2_checked(request), 4);
    auto upper = static_cast<int32_t>(g * hb::load + 0.5);
    if (r->size >= upper) return;
    Ref flags = new_flags(g);
    if (uint32_t(g) * 4 > room_bytes(record_of(table)->keys)) {
        SeriesBuffer* b = memory::expand_series(buffer_of(record_of(table)->keys), int64_t(g) * 4);
        b->tail = b->head + uint32_t(g) * 4;
    }
    r = record_of(table);
    int32_t old_buckets = r->buckets;
    uint32_t* old = flags_of(r);
    uint32_t* fresh = words(flags);
    int32_t* keys = keys_of(r);
    for (int32_t j = 0; j < old_buckets; ++j) {
        if (!hb::is_live(old, j)) continue;
        int32_t key = keys[j];
        hb::set(old, j, hb::deleted);
        for (;;) {
            const uint32_t i = r->kind == kind_map ? first_empty(fresh, map_key_probe(cells_of(r) + key, g))
                                                   : first_empty(fresh, hb::Probe(stored_hash(r, key), g));
            hb::set(fresh, i, hb::live);
            if (i < uint32_t(old_buckets) && hb::is_live(old, i)) {
                std::swap(key, keys[i]);
                hb::set(old, i, hb::deleted);
                continue;
            }
            keys[i] = key;
            break;
        }
    }
    r->flags = flags;
    r->buckets = g;
    r->upper = upper;
    if (r->kind != kind_map) r->occupied = r->size;
}

// Kinds 3-4 ----------------------------------------------------------------------------------

inline Cell* entry_at(const Record* r, int32_t offset) {
    return reinterpret_cast<Cell*>(buffer_of(r->series)->head_ptr() + offset);
}
inline bool entry_live(const Cell* key) { return key->header == static_cast<uint32_t>(Type::unset); }

// Places an entry offset in the first empty bucket of its key's probe sequence.
void place_entry(uint32_t* flags, int32_t* keys, int32_t buckets, uint32_t key, int32_t offset) {
    hb::Probe p(mix32(key), buckets);
    while (!hb::is_empty(flags, p.i)) p.next();
    hb::set(flags, p.i, hb::live);
    keys[p.i] = offset;
}

// Fresh buckets, and a fresh entry series holding only the live entries.
void resize_entries(Ref table, int32_t request) {
    NoNodeMoves hold;
    Record* r = record_of(table);
    int32_t c = pow2_checked(request);
    auto upper = static_cast<int32_t>(c * hb::load + 0.5);
    int32_t buckets = std::max(c, 4);
    if (r->size >= upper) return;
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    int64_t cells = int64_t(entry / 16) * (r->size + 1);
    Ref flags = new_flags(buckets);
    Ref keys = new_keys(buckets);
    Ref series = memory::alloc_cells(cells);
    r = record_of(table);
    SeriesBuffer* from = buffer_of(r->series);
    SeriesBuffer* to = buffer_of(series);
    int32_t live = 0;
    for (uint8_t* e = from->head_ptr(); e + entry <= from->tail_ptr(); e += entry) {
        if (!entry_live(reinterpret_cast<Cell*>(e))) continue;
        assert(to->tail_ptr() + entry <= to->data_end());  // live entries never outnumber size
        auto offset = static_cast<int32_t>(to->used_bytes());
        std::memcpy(to->tail_ptr(), e, entry);
        to->tail += entry;
        place_entry(words(flags), reinterpret_cast<int32_t*>(words(keys)), buckets, reinterpret_cast<Cell*>(e)->data1,
                    offset);
        ++live;
    }
    r->flags = flags;
    r->keys = keys;
    r->series = series;
    r->buckets = buckets;
    r->upper = upper;
    r->size = r->occupied = live;
    r->stamp = collection_stamp();
}

// Makes room at the entry series' tail for one more entry.
void ensure_entry_room(Ref table) {
    Record* r = record_of(table);
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    SeriesBuffer* s = buffer_of(r->series);
    if (s->tail_ptr() + entry <= s->data_end()) return;
    int64_t want = std::max<int64_t>(int64_t(s->capacity) * 2, int64_t(s->data_end() - s->head_ptr()) + entry);
    memory::expand_series(s, want);
}

// The live bucket of a key (kinds 3-4), or -1.
int32_t find_entry(const Record* r, uint32_t key) {
    uint32_t* flags = flags_of(r);
    int32_t* keys = keys_of(r);
    hb::Probe p(mix32(key), r->buckets);
    do {
        uint32_t s = hb::state(flags, p.i);
        if (s == hb::empty) return -1;
        if (s == hb::live) {
            Cell* e = entry_at(r, keys[p.i]);
            if (entry_live(e) && e->data1 == key) return static_cast<int32_t>(p.i);
        }
    } while (p.next());
    return -1;
}

void reindex_map(Ref table) {
    for (int32_t i = 0; i + 1 < cell_count(record_of(table)); i += 2) {
        int32_t status;
        Cell* key = insert(table, cells_of(record_of(table)) + i, &status);
        if (key[1].header == 0) --record_of(table)->size;
    }
}

}  // namespace

// Hashing ------------------------------------------------------------------------------------

uint32_t hash_bytes(const void* data, size_t length) {
    return murmur(static_cast<const uint8_t*>(data), length, [](uint8_t c) { return c; });
}

uint32_t mix32(uint32_t word) { return fmix(word); }

uint32_t hash_value(const Cell* v, bool case_sensitive) {
    if (v->type() == text_key) return string_hash(v, case_sensitive);
    switch (v->type()) {
        case Type::unset: return static_cast<uint32_t>(-2);
        case Type::none: return static_cast<uint32_t>(-1);
        case Type::datatype: case Type::logic: case Type::object: case Type::error: case Type::port:
            return mix32(v->data1);
        case Type::char_: case Type::integer: case Type::map: case Type::handle: case Type::event:
            return mix32(v->data2);
        case Type::native: case Type::action:
            return mix32(v->data3);
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement: case Type::issue:
            return mix32(static_cast<uint32_t>(symbol::resolve(v->int2())));
        case Type::block: case Type::paren: case Type::path: case Type::lit_path: case Type::set_path:
        case Type::get_path: case Type::hash: case Type::point2D: case Type::image:
            return bytes_hash_from(v, 1, 8);
        case Type::float_: case Type::pair: case Type::percent: case Type::time:
            return bytes_hash_from(v, 2, 8);
        case Type::op: case Type::function: case Type::triple: case Type::typeset: case Type::date:
        case Type::point3D:
            return bytes_hash_from(v, 1, 12);
        case Type::tuple:
            return bytes_hash_from(v, 1, std::min<uint32_t>((v->header >> 19) & 0xF, 12));
        case Type::binary: {
            SeriesBuffer* b = buffer_of(v->data2);
            const uint8_t* p = b->head_ptr() + v->data1;
            return hash_bytes(p, p < b->tail_ptr() ? size_t(b->tail_ptr() - p) : 0);
        }
        case Type::money: {
            Cell c = *v;
            c.header = static_cast<uint32_t>(Type::money) | (v->header & 0x4000);
            return hash_bytes(&c, sizeof c);
        }
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
            return string_hash(v, case_sensitive);
        case Type::symbol: {
            SeriesBuffer* b = buffer_of(v->data3);
            return symbol_hash(b->head_ptr(), b->used_bytes());
        }
        default:
            return 0;
    }
}

// map! tables ---------------------------------------------------------------------------------

namespace {

// Whether a stored map key answers a lookup key under op: 1 or 0, or -1 when only the
// datatype's compare action can tell. Integers and words need no action.
inline int quick_match(const Cell* stored, const Cell* key, int32_t op) {
    Type t = key->type();
    if (stored->type() != t) return t == text_key ? -1 : 0;
    if (t == Type::integer) {
        if (op == actions::op::equal || op == actions::op::strict_equal || op == actions::op::same)
            return stored->data2 == key->data2;
    } else if (t == Type::set_word) {
        if (op == actions::op::strict_equal) return stored->data2 == key->data2;
        if (op == actions::op::equal) return symbol::resolve(stored->int2()) == symbol::resolve(key->int2());
    }
    return -1;
}

// Walks a map key's probe sequence: match answers 1 or 0 for a stored key, or -1 when only
// the compare action can tell. Gives the key's cell index in the block, or -1; then *free,
// when given, is the first bucket of the sequence that a new key may take.
template <class Match>
inline int32_t walk_map(Ref table, Cell* key, int32_t op, MapProbe p, uint32_t* free, Match match) {
    Record* r = record_of(table);
    assert(r->kind == kind_map && r->stamp == 0);  // content hashes: collections leave them be
    const uint32_t* flags = flags_of(r);
    const int32_t* keys = keys_of(r);
    Cell* cells = cells_of(r);
    int64_t reuse = -1;
    do {
        uint32_t s = hb::state(flags, p.i);
        if (s == hb::empty) break;
        if (s == hb::deleted) {
            if (reuse < 0) reuse = p.i;
            continue;
        }
        int32_t k = keys[p.i];
        int found = match(cells + k);
        if (found < 0) [[unlikely]] {
            found = actions::compare(cells + k, key, op);
            // The action may have allocated, and buffers move.
            r = record_of(table);
            flags = flags_of(r);
            keys = keys_of(r);
            cells = cells_of(r);
        }
        if (found) return k;
    } while (p.next());
    if (free) *free = reuse >= 0 ? static_cast<uint32_t>(reuse) : p.i;
    return -1;
}

// Whether an op compares integers by their number alone, so that a stored integer answers
// an integer key without the compare action.
inline bool by_value(int32_t op) {
    return op == actions::op::equal || op == actions::op::strict_equal || op == actions::op::same;
}

// walk_map for an integer key compared by value, the map's common case: the match needs
// no compare action (so nothing allocates) and the key no copy.
inline int32_t probe_integer(Ref table, uint32_t v, uint32_t* free) {
    return walk_map(table, nullptr, 0, integer_probe(v, record_of(table)->buckets), free,
                    [v](const Cell* stored) { return stored->is(Type::integer) && stored->data2 == v ? 1 : 0; });
}

// A map key's cell index (word keys already set-words), or -1 with *free as walk_map gives it.
int32_t probe_map(Ref table, Cell* key, int32_t op, uint32_t* free) {
    if (key->is(Type::integer) && by_value(op)) return probe_integer(table, key->data2, free);
    return walk_map(table, key, op, map_key_probe(key, record_of(table)->buckets), free,
                    [key, op](const Cell* stored) { return quick_match(stored, key, op); });
}

// Four times the buckets, the keys placed afresh in new flag and key buffers: cheaper than
// moving them in place, and a map's hashes depend on the keys' contents only. Placing every
// key again is most of a growth's cost; quadrupling does it about once per key where
// doubling did it twice, for an index at most twice as sparse after a growth.
void grow_map(Ref table) {
    int32_t g = pow2_checked(int64_t(record_of(table)->buckets) * 4);
    Ref flags = new_flags(g);
    Ref keys = memory::alloc_bytes(int64_t(g) * 4);
    buffer_of(keys)->tail = buffer_of(keys)->head + uint32_t(g) * 4;
    Record* r = record_of(table);
    const uint32_t* old = flags_of(r);
    const int32_t* old_keys = keys_of(r);
    const Cell* cells = cells_of(r);
    uint32_t* fresh = words(flags);
    int32_t* fresh_keys = reinterpret_cast<int32_t*>(words(keys));
    int32_t placed = 0;
    // A flag word at a time: a live bucket has both its bits clear, and most words of a
    // table that is due to grow hold several.
    const auto flag_words = static_cast<uint32_t>(hb::flag_bytes(r->buckets) / 4);
    for (uint32_t w = 0; w < flag_words; ++w) {
        uint32_t word = old[w];
        if (r->buckets < 16) word |= ~0u << (2 * r->buckets);  // the buckets past the last
        for (uint32_t live = ~(word | word >> 1) & 0x55555555u; live; live &= live - 1) {
            int32_t key = old_keys[w * 16 + uint32_t(std::countr_zero(live)) / 2];
            const uint32_t i = first_empty(fresh, map_key_probe(cells + key, g));
            hb::set(fresh, i, hb::live);
            fresh_keys[i] = key;
            ++placed;
        }
    }
    r->flags = flags;
    r->keys = keys;
    r->buckets = g;
    r->upper = static_cast<int32_t>(g * hb::load + 0.5);
    r->occupied = placed;
}

Cell set_word_key(const Cell* key) {
    Cell k = *key;
    if (word_family(k.type())) k.set_type(Type::set_word);
    return k;
}

}  // namespace

Cell* find_map_key(Ref table, const Cell* key_cell, int32_t op) {
    if (key_cell->is(Type::integer) && by_value(op)) {
        int32_t at = probe_integer(table, key_cell->data2, nullptr);
        return at < 0 ? nullptr : cells_of(record_of(table)) + at;
    }
    Cell key = set_word_key(key_cell);
    int32_t at = probe_map(table, &key, op, nullptr);
    return at < 0 ? nullptr : cells_of(record_of(table)) + at;
}

int32_t probe_map_key(Ref table, const Cell* key_cell, int32_t op, uint32_t* bucket) {
    if (record_of(table)->occupied >= record_of(table)->upper) [[unlikely]] grow_map(table);
    if (key_cell->is(Type::integer) && by_value(op)) return probe_integer(table, key_cell->data2, bucket);
    Cell key = set_word_key(key_cell);
    return probe_map(table, &key, op, bucket);
}

namespace {

inline void claim(Record* r, uint32_t bucket, int32_t position) {
    uint32_t* flags = flags_of(r);
    assert(bucket < static_cast<uint32_t>(r->buckets) && !hb::is_live(flags, bucket));
    if (hb::is_empty(flags, bucket)) ++r->occupied;
    hb::set(flags, bucket, hb::live);
    keys_of(r)[bucket] = position;
    ++r->size;
}

}  // namespace

void claim_map_bucket(Ref table, uint32_t bucket, int32_t position) { claim(record_of(table), bucket, position); }

int32_t store_map_integer(Ref table, uint32_t number, int32_t position) {
    if (record_of(table)->occupied >= record_of(table)->upper) [[unlikely]] grow_map(table);
    uint32_t bucket = 0;
    int32_t at = probe_integer(table, number, &bucket);
    if (at < 0) claim(record_of(table), bucket, position);
    return at;
}

// Making and indexing --------------------------------------------------------------------------


Ref make(int32_t size, const Cell* source, int32_t kind, int32_t sub_kind) {
    // The source may lie in a buffer that the first allocation moves: read it now.
    Ref source_node = source ? source->data2 : 0;
    int32_t source_head = source ? source->int1() : 0;
    if (kind == kind_words && sub_kind == 2 && source) {
        Ref prototype = source->data1;
        Ref words = memory::copy_series_buffer(buffer_of(record_of(prototype)->series));
        return copy(prototype, words);
    }

    Ref table = make_filled(record_bytes, 0);
    buffer_of(table)->tail = buffer_of(table)->head + sizeof(Record);
    KeepTable keep(table);
    Record* r = record_of(table);
    r->kind = kind;
    if (kind == kind_id || kind == kind_ownership) {
        r->indexes = (sub_kind + 1) * 16;
        r->stamp = collection_stamp();
    }
    if (size < 4) size = 4;
    if (kind == kind_words && size >= 4000) size *= 2;
    int32_t buckets = pow2_checked(static_cast<int64_t>(size / hb::load));
    r->buckets = buckets;
    r->upper = static_cast<int32_t>(buckets * hb::load);
    Ref flags = new_flags(buckets);
    record_of(table)->flags = flags;
    Ref keys = new_keys(buckets);
    record_of(table)->keys = keys;
    if (kind == kind_hash) {
        Ref index = memory::alloc_bytes_filled(int64_t(size) * 4, 0xFF);
        record_of(table)->indexes = static_cast<int32_t>(index);
        Ref chains = memory::alloc_bytes(16);
        record_of(table)->chains = chains;
    }
    if (kind == kind_id || kind == kind_ownership || !source) {
        Ref series = memory::alloc_cells(size);
        record_of(table)->series = series;
        return table;
    }
    record_of(table)->series = source_node;
    put_all(table, source_head, kind == kind_map ? 2 : 1);
    return table;
}

Cell* put(Ref table, Cell* value) {
    int32_t status;
    return insert(table, value, &status);
}

namespace {

// A value with a NaN in it (a float, a percent, a point) equals nothing, itself included,
// yet a hash! groups such values as it groups equal ones: as groups of one they would all
// sit in one probe chain, and each insertion would walk every one before it. Cells of
// identical bits, header included (a money! keeps its sign there), are one group; float
// and percent NaNs of any bits too.
bool same_group_q(const Cell* a, const Cell* b) {
    if (a->type() != b->type()) return false;
    if (a->header == b->header && a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3) return true;
    return (a->is(Type::float_) || a->is(Type::percent)) && std::isnan(a->float23()) && std::isnan(b->float23());
}

}  // namespace

namespace {
template <class Probe>
Cell* insert_probed(Ref table, int32_t position, Probe p);
}  // namespace

Cell* insert(Ref table, Cell* value, int32_t* status) {
    Record* r = record_of(table);
    int32_t kind = r->kind;
    auto position = static_cast<int32_t>(value - cells_of(r));
    if (status) *status = 0;
    if (r->occupied >= r->upper) {
        if (kind == kind_hash) {
            rebuild(table, grow_request(r));
            if (status) *status = rebuilt;
            return cells_of(record_of(table)) + position;
        }
        if (kind == kind_map) grow_map(table);
        else resize_in_place(table, grow_request(r));
        r = record_of(table);
    }
    value = cells_of(r) + position;
    if (kind == kind_hash && r->stamp == 0 && address_keyed(value->type())) r->stamp = collection_stamp();

    if (kind == kind_map) return insert_probed(table, position, map_key_probe(value, r->buckets));
    return insert_probed(table, position, hb::Probe(hash_value(value, false), r->buckets));
}

namespace {

// insert's walk of the probe sequence of the key at position, its bucket claimed when the
// key is new.
template <class Probe>
Cell* insert_probed(Ref table, int32_t position, Probe p) {
    Record* r = record_of(table);
    const int32_t kind = r->kind;
    int64_t reuse = -1;
    do {
        uint32_t s = hb::state(flags_of(r), p.i);
        if (s == hb::empty) break;
        if (s == hb::deleted) {
            if (reuse < 0) reuse = p.i;
            continue;
        }
        int32_t key = keys_of(r)[p.i];
        Cell* cells = cells_of(r);
        if (kind == kind_hash) {
            Cell* first = cells + group_first(r, key);
            if (first->type() == cells[position].type() &&
                (same_group_q(first, cells + position) || actions::compare(first, cells + position, actions::op::equal))) {
                join_group(table, p.i, key, position);
                set_index_entry(table, position, static_cast<int32_t>(p.i) + 1);
                return cells_of(record_of(table)) + position;
            }
        } else {
            int match = kind == kind_map ? quick_match(cells + key, cells + position, actions::op::strict_equal) : -1;
            if (match < 0) match = actions::compare(cells + key, cells + position, actions::op::strict_equal);
            if (match) return cells_of(record_of(table)) + position;
        }
        r = record_of(table);
    } while (p.next());

    r = record_of(table);
    uint32_t bucket = reuse >= 0 ? static_cast<uint32_t>(reuse) : p.i;
    assert(!hb::is_live(flags_of(r), bucket));
    if (hb::is_empty(flags_of(r), bucket)) ++r->occupied;
    hb::set(flags_of(r), bucket, hb::live);
    keys_of(r)[bucket] = position;
    ++r->size;
    if (kind == kind_hash) set_index_entry(table, position, static_cast<int32_t>(bucket) + 1);
    return cells_of(record_of(table)) + position;
}

}  // namespace

void put_all(Ref table, int32_t start, int32_t step) {
    int32_t kind = record_of(table)->kind;
    if (step < 1) step = 1;
    // A map's repeated key gives its value to the first pair, and its own pair leaves the
    // block. The pairs leave together once the table is filled: moving the rest of the block
    // down for each one cost time quadratic in the repeats.
    std::vector<int32_t> repeats;
    for (int32_t i = std::max(start, 0); i < cell_count(record_of(table));) {
        if (kind != kind_map) {
            int32_t status;
            insert(table, cells_of(record_of(table)) + i, &status);
            if (status == rebuilt) return;
            i += step;
            continue;
        }
        if (i + 1 >= cell_count(record_of(table))) break;  // a key without its value
        Cell* found = find(table, cells_of(record_of(table)) + i, 0, 1, actions::op::strict_equal, false, false);
        if (found) {
            found[1] = cells_of(record_of(table))[i + 1];
            repeats.push_back(i);
            i += step;
            continue;
        }
        put(table, cells_of(record_of(table)) + i);
        if (prepare_map_key) {
            Cell key = cells_of(record_of(table))[i];
            prepare_map_key(&key);
            cells_of(record_of(table))[i] = key;
        }
        i += step;
    }
    if (repeats.empty()) return;
    Record* r = record_of(table);
    Cell* cells = cells_of(r);
    const int32_t n = cell_count(r);
    int32_t to = repeats.front();
    size_t next = 0;
    for (int32_t from = to; from < n;) {
        if (next < repeats.size() && repeats[next] == from) {
            ++next;
            from += 2;
            continue;
        }
        cells[to++] = cells[from++];
    }
    buffer_of(r->series)->tail -= uint32_t(n - to) * sizeof(Cell);
    // The kept pairs have moved: the table is indexed again over their new places.
    rebuild(table, r->size);
}

// Lookup ---------------------------------------------------------------------------------------

Cell* find(Ref table, const Cell* key_cell, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    if (record_of(table)->kind == kind_map) return find_map_key(table, key_cell, op);
    refresh_after_collection(table);
    Record* r = record_of(table);
    int32_t kind = r->kind;
    Cell key = *key_cell;
    if (kind == kind_map && word_family(key.type())) key.set_type(Type::set_word);
    bool forward = !last && !reverse;
    int32_t step = skip == 0 ? 1 : (skip < 0 ? (skip == INT32_MIN ? INT32_MAX : -skip) : skip);
    int32_t best = forward ? cell_count(r) : -1;
    bool found = false;

    auto consider = [&](int32_t l) {
        int32_t distance;
        if (reverse) {
            if (l >= start || l <= best) return;
            distance = start - l - 1;
        } else {
            if (l < start || (last ? l <= best : l >= best)) return;
            distance = l - start;
        }
        int32_t rest = distance % step;
        if (rest < 0) rest += step;
        if (rest != 0 || !actions::compare(cells_of(record_of(table)) + l, &key, op)) return;
        best = l;
        found = true;
    };

    const bool plain_integers = key.is(Type::integer) && (op == actions::op::equal || op == actions::op::strict_equal);
    hb::Probe p(hash_value(&key, false), r->buckets);
    do {
        r = record_of(table);
        uint32_t s = hb::state(flags_of(r), p.i);
        if (s == hb::empty) return nullptr;
        if (s == hb::deleted) continue;
        int32_t k = keys_of(r)[p.i];
        if (kind != kind_hash) {
            Cell* stored = cells_of(r) + k;
            if (plain_integers) {  // the common integer key needs no compare action
                if (stored->is(Type::integer) && stored->data2 == key.data2) return stored;
                continue;
            }
            if ((stored->type() == key.type() || key.type() == text_key) && actions::compare(stored, &key, op))
                return cells_of(record_of(table)) + k;
            continue;
        }
        if (!actions::compare(cells_of(r) + group_first(r, k), &key, actions::op::equal)) continue;
        if (k >= 0) {
            consider(k);
        } else {
            for (int32_t m = 0; m < word_count(list_of(record_of(table), -k)); ++m)
                consider(static_cast<int32_t>(words(list_of(record_of(table), -k))[m]));
        }
        if (found) return cells_of(record_of(table)) + best;
    } while (p.next());
    return nullptr;
}

Cell* find_next(Ref table, const Cell* key_cell, int32_t* bucket, int32_t* start, int32_t* step) {
    Record* r = record_of(table);
    Cell key = *key_cell;
    uint32_t mask = static_cast<uint32_t>(r->buckets) - 1;
    uint32_t i, first, k;
    if (*bucket < 0) {
        i = first = hash_value(&key, false) & mask;
        k = 0;
    } else {
        first = static_cast<uint32_t>(*start);
        k = static_cast<uint32_t>(*step) + 1;
        i = (static_cast<uint32_t>(*bucket) + k) & mask;
        if (i == first) return nullptr;
    }
    for (;;) {
        r = record_of(table);
        uint32_t s = hb::state(flags_of(r), i);
        if (s == hb::empty) return nullptr;
        if (s == hb::live) {
            int32_t stored = keys_of(r)[i];
            Cell* c = cells_of(r) + stored;
            if (c->type() == key.type() && actions::compare(c, &key, actions::op::equal)) {
                *bucket = static_cast<int32_t>(i);
                *start = static_cast<int32_t>(first);
                *step = static_cast<int32_t>(k);
                return cells_of(record_of(table)) + stored;
            }
        }
        ++k;
        i = (i + k) & mask;
        if (i == first) return nullptr;
    }
}

// Removal and position keeping ---------------------------------------------------------------

void delete_(Ref table, Cell* cell) {
    Record* r = record_of(table);
    auto position = static_cast<int32_t>(cell - cells_of(r));
    if (r->kind == kind_hash) {
        unindex(r, position);
    } else if (r->kind == kind_map || r->kind == kind_words) {
        // The pair stays in the block and its key stays live, so storing the key again
        // revives it in place. A pair already removed is not counted twice.
        if (cell[1].header != 0) {
            cell[1].header = 0;
            --r->size;
        }
    }
}

void delete_range(Ref table, int32_t index, int32_t count) {
    Record* r = record_of(table);
    if (r->kind != kind_hash) return;
    int32_t n = cell_count(r);
    index = std::max(index, 0);
    if (index >= n || count <= 0) return;
    count = std::min(count, n - index);
    if (index == 0 && count == n) {
        fill_room(r->flags, hb::empty_fill);
        fill_room(static_cast<Ref>(r->indexes), 0xFF);
        empty_series(r->chains);
        r->size = 0;
        r->occupied = 0;
        return;
    }
    for (int32_t p = index; p < index + count; ++p) unindex(r, p);
}

int32_t refresh(Ref table, int32_t offset, int32_t index, int32_t count, bool adjust) {
    if (count > refresh_limit) return 1;
    if (record_of(table)->kind != kind_hash || count < 0 || index < 0) return 0;
    if (adjust && offset > 0) grow_index(table, count + index + offset);
    Record* r = record_of(table);
    if (adjust && offset < 0)
        for (int32_t p = std::max(index + offset, 0); p < index; ++p) unindex(r, p);
    remap_positions(r, index, index + count, [offset](int32_t p) { return p + offset; });
    if (adjust && offset != 0) {
        int32_t room = index_room(r);
        int32_t* entries = index_of(r);
        int32_t from = index, to = index + offset;
        int32_t n = std::min(count, room - std::max(from, to));
        if (to < 0) {  // the removed cells lay before the buffer's start: nothing to land on
            n -= -to;
            from += -to;
            to = 0;
        }
        if (n > 0) {
            std::memmove(entries + to, entries + from, size_t(n) * 4);
            // Entries the move uncovered belong to no cell now.
            int32_t low = offset > 0 ? from : std::max(to + n, from);
            int32_t high = offset > 0 ? std::min(to, from + n) : from + n;
            for (int32_t p = low; p < high; ++p) entries[p] = -1;
        }
    }
    return 0;
}

void move(Ref table, int32_t destination, int32_t source, int32_t count) {
    if (record_of(table)->kind != kind_hash || count <= 0 || destination == source) return;
    if (destination < 0 || source < 0) return;
    int32_t low = std::min(source, destination);
    int32_t high = std::max(source, destination) + count;
    grow_index(table, high);
    Record* r = record_of(table);
    auto map = [=](int32_t p) {
        if (p >= source && p < source + count) return p - source + destination;
        if (destination > source) return (p >= source + count && p < destination + count) ? p - count : p;
        return (p >= destination && p < source) ? p + count : p;
    };
    remap_positions(r, low, high, map);
    int32_t* entries = index_of(r);
    std::vector<int32_t> saved(entries + low, entries + high);
    for (int32_t p = low; p < high; ++p) entries[map(p)] = saved[size_t(p - low)];
}

// Whole-table operations -----------------------------------------------------------------------

Ref copy(Ref table, Ref series) {
    Ref t = memory::copy_series_buffer(buffer_of(table));
    KeepTable keep(t);
    Ref flags = memory::copy_series_buffer(buffer_of(record_of(table)->flags));
    record_of(t)->flags = flags;
    Ref keys = memory::copy_series_buffer(buffer_of(record_of(table)->keys));
    record_of(t)->keys = keys;
    int32_t kind = record_of(t)->kind;
    if (kind == kind_hash) {
        Ref index = memory::copy_series_buffer(buffer_of(static_cast<Ref>(record_of(table)->indexes)));
        record_of(t)->indexes = static_cast<int32_t>(index);
        // Each duplicate list is copied too: the two tables change their groups apart.
        Ref chains = memory::copy_series_buffer(buffer_of(record_of(table)->chains));
        record_of(t)->chains = chains;
        for (int32_t i = 0; i < word_count(chains); ++i) {
            Ref list = words(chains)[i];
            if (!list) continue;
            Ref twin = memory::copy_series_buffer(buffer_of(list));
            words(chains)[i] = twin;
        }
    }
    if (!series && (kind == kind_id || kind == kind_ownership))
        series = memory::copy_series_buffer(buffer_of(record_of(table)->series));
    if (series) record_of(t)->series = series;
    return t;
}

void clear(Ref table) {
    Record* r = record_of(table);
    r->size = 0;
    r->occupied = 0;
    empty_series(r->series);
    fill_room(r->flags, hb::empty_fill);
    // Old duplicate lists would stay reachable through the chain buffer until a rebuild.
    if (r->kind == kind_hash) empty_series(r->chains);
}

void rebuild(Ref table, int32_t size) {
    NoNodeMoves hold;
    uint32_t collections_on_entry = collector::stats.collections;
    int32_t c = pow2_checked(static_cast<int64_t>(std::max(size, 0) * 1.5));
    int32_t buckets = std::max(c, 4);
    Ref flags = new_flags(buckets);
    Ref keys = new_keys(buckets);
    Record* r = record_of(table);
    r->flags = flags;
    r->keys = keys;
    r->buckets = buckets;
    // From the bucket count, not c: a size below 3 would otherwise give a limit of 0 and
    // the first insertion would rebuild again.
    r->upper = static_cast<int32_t>(buckets * hb::load);
    r->size = r->occupied = 0;
    r->stamp = 0;
    if (r->kind == kind_hash) empty_series(r->chains);
    if (r->kind == kind_map) reindex_map(table);
    else put_all(table, 0, 1);
    r = record_of(table);
    if (r->stamp) r->stamp = collections_on_entry + 1;
}

void resize(Ref table, int32_t buckets) {
    switch (record_of(table)->kind) {
        case kind_hash: rebuild(table, buckets); break;
        case kind_map: case kind_words: resize_in_place(table, buckets); break;
        default: resize_entries(table, buckets); break;
    }
}

void refresh_after_collection(Ref table) {
    Record* r = record_of(table);
    if (r->stamp == 0 || r->stamp == collection_stamp() || collector::running_q()) return;
    if (r->kind == kind_hash) rebuild(table, cell_count(r));
    else if (r->kind == kind_id || r->kind == kind_ownership) rehash_after_collection(table);
}

// Moved nodes change the keys' hashes, and purged entries leave holes: the live entries
// slide down to the series' start and are placed again, without allocating.
void rehash_after_collection(Ref table) {
    Record* r = record_of(table);
    fill_room(r->flags, hb::empty_fill);
    r->size = r->occupied = 0;
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    SeriesBuffer* s = buffer_of(r->series);
    uint8_t* base = s->head_ptr();
    uint32_t used = s->used_bytes(), kept = 0;
    for (uint32_t offset = 0; offset + entry <= used; offset += entry) {
        auto* key = reinterpret_cast<Cell*>(base + offset);
        if (!entry_live(key)) continue;
        if (kept != offset) std::memmove(base + kept, base + offset, entry);
        place_entry(flags_of(r), keys_of(r), r->buckets, reinterpret_cast<Cell*>(base + kept)->data1,
                    static_cast<int32_t>(kept));
        kept += entry;
        ++r->size;
    }
    s->tail = s->head + kept;
    r->occupied = r->size;
    r->stamp = collection_stamp();
}

// Kinds 3-4 ------------------------------------------------------------------------------------

Cell* put_key(Ref table, uint32_t key) {
    // Room first: the appending below must not allocate once a bucket is chosen.
    for (;;) {
        ensure_entry_room(table);
        refresh_after_collection(table);
        Record* r = record_of(table);
        if (r->occupied < r->upper) break;
        resize_entries(table, grow_request(r));
    }
    Record* r = record_of(table);
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    uint32_t* flags = flags_of(r);
    int32_t* keys = keys_of(r);
    hb::Probe p(mix32(key), r->buckets);
    int64_t reuse = -1;
    do {
        uint32_t s = hb::state(flags, p.i);
        if (s == hb::empty) break;
        if (s == hb::deleted) {
            if (reuse < 0) reuse = p.i;
            continue;
        }
        Cell* e = entry_at(r, keys[p.i]);
        if (entry_live(e) && e->data1 == key) {
            for (uint32_t c = 0; c < entry / 16; ++c) cell::set_type(e + c, Type::unset);
            return e + 1;
        }
    } while (p.next());
    uint32_t bucket;
    int32_t offset;
    if (reuse >= 0) {
        bucket = static_cast<uint32_t>(reuse);
        offset = keys[bucket];
    } else {
        bucket = p.i;
        SeriesBuffer* s = buffer_of(r->series);
        offset = static_cast<int32_t>(s->used_bytes());
        s->tail += entry;
        ++r->occupied;
    }
    hb::set(flags, bucket, hb::live);
    keys[bucket] = offset;
    ++r->size;
    Cell* e = entry_at(r, offset);
    for (uint32_t c = 0; c < entry / 16; ++c) cell::make(e + c, Type::unset);
    e->data1 = key;
    return e + 1;
}

Cell* get_key(Ref table, uint32_t key) {
    refresh_after_collection(table);
    Record* r = record_of(table);
    int32_t bucket = find_entry(r, key);
    return bucket < 0 ? nullptr : entry_at(r, keys_of(r)[bucket]) + 1;
}

Cell* remove_key(Ref table, uint32_t key) {
    refresh_after_collection(table);
    Record* r = record_of(table);
    int32_t bucket = find_entry(r, key);
    if (bucket < 0) return nullptr;
    hb::set(flags_of(r), bucket, hb::deleted);
    --r->size;
    Cell* e = entry_at(r, keys_of(r)[bucket]);
    e->header = 0;
    return e + 1;
}

// Symbols and context words --------------------------------------------------------------------

int32_t intern_symbol(Ref table, const uint8_t* name, int32_t length, bool case_insensitive) {
    Record* r = record_of(table);
    if (r->occupied >= r->upper) {
        resize_in_place(table, 16 * grow_request(r));
        r = record_of(table);
    }
    // One probe serves both searches: the exact spelling, and the first case variant on the
    // way, which a new spelling takes as its alias.
    hb::Probe p(symbol_hash(name, static_cast<size_t>(length)), r->buckets);
    int32_t variant = 0;
    uint32_t* flags = flags_of(r);
    int32_t* keys = keys_of(r);
    Cell* symbols = cells_of(r);
    do {
        if (hb::is_empty(flags, p.i)) break;
        if (!hb::is_live(flags, p.i)) continue;
        Cell* sym = symbols + keys[p.i];
        SeriesBuffer* spelled = buffer_of(sym->data3);
        if (spelled->used_bytes() != static_cast<uint32_t>(length)) continue;
        if (std::memcmp(spelled->head_ptr(), name, size_t(length)) == 0) return keys[p.i] + 1;
        if (case_insensitive && !variant && same_ignoring_ascii_case(spelled->head_ptr(), name, size_t(length))) {
            int32_t alias = sym->int1();
            variant = alias > 0 ? alias : keys[p.i] + 1;
        }
    } while (p.next());
    uint32_t bucket = p.i;
    assert(hb::is_empty(flags, bucket));

    // The name may lie in a buffer that the allocations move: copy it first.
    std::vector<uint8_t> spelling(name, name + length);
    Ref bytes = memory::alloc_bytes(int64_t(length) + 1);
    SeriesBuffer* b = buffer_of(bytes);
    if (length) std::memcpy(b->head_ptr(), spelling.data(), size_t(length));
    b->head_ptr()[length] = 0;
    b->tail = b->head + static_cast<uint32_t>(length);

    SeriesBuffer* s = buffer_of(record_of(table)->series);
    if (s->tail_ptr() + sizeof(Cell) > s->data_end()) s = memory::expand_series(s, 0);
    auto id = static_cast<int32_t>(s->used_bytes() / sizeof(Cell)) + 1;
    cell::make(s->cells_end(), Type::symbol, static_cast<uint32_t>(variant ? variant : -1), 0, bytes);
    s->tail += sizeof(Cell);

    r = record_of(table);
    hb::set(flags_of(r), bucket, hb::live);
    keys_of(r)[bucket] = id - 1;
    ++r->size;
    ++r->occupied;
    return id;
}

int32_t find_word(Ref table, int32_t symbol_id, bool case_insensitive, Ref context, int32_t* index) {
    Record* r = record_of(table);
    if (context && r->occupied >= r->upper) {
        resize_in_place(table, 16 * grow_request(r));
        r = record_of(table);
    }
    int32_t canonical = symbol::resolve(symbol_id);
    uint32_t* flags = flags_of(r);
    int32_t* keys = keys_of(r);
    Cell* words_cells = cells_of(r);
    hb::Probe p(mix32(static_cast<uint32_t>(canonical)), r->buckets);
    do {
        if (hb::is_empty(flags, p.i)) break;
        if (!hb::is_live(flags, p.i)) continue;
        int32_t stored = words_cells[keys[p.i]].int2();
        if (case_insensitive ? symbol::resolve(stored) == canonical : stored == symbol_id) {
            if (index) *index = keys[p.i];
            return keys[p.i];
        }
    } while (p.next());
    if (!context) return -1;
    uint32_t bucket = p.i;
    assert(hb::is_empty(flags, bucket));

    SeriesBuffer* s = buffer_of(r->series);
    if (s->tail_ptr() + sizeof(Cell) > s->data_end()) s = memory::expand_series(s, 0);
    auto position = static_cast<int32_t>(s->used_bytes() / sizeof(Cell));
    cell::make(s->cells_end(), Type::word, context, static_cast<uint32_t>(symbol_id), static_cast<uint32_t>(position));
    s->tail += sizeof(Cell);

    r = record_of(table);
    hb::set(flags_of(r), bucket, hb::live);
    keys_of(r)[bucket] = position;
    ++r->size;
    ++r->occupied;
    if (index) *index = position;
    return -1;
}

void dump(Ref table) {
    Record* r = record_of(table);
    bool entries = r->kind == kind_id || r->kind == kind_ownership;
    auto key_of = [&](uint32_t i) {
        int32_t k = keys_of(r)[i];
        return entries ? static_cast<int32_t>(entry_at(r, k)->data1) : k;
    };
    runtime::print_line({""});
    runtime::print_line({"== Deleted keys =="});
    for (int32_t i = 0; i < r->buckets; ++i)
        if (hb::state(flags_of(r), i) == hb::deleted) runtime::print_line({i, " = ", key_of(i)});
    runtime::print_line({"== Alive keys =="});
    for (int32_t i = 0; i < r->buckets; ++i)
        if (hb::is_live(flags_of(r), i)) runtime::print_line({i, " = ", key_of(i)});
}

// Collector steps ------------------------------------------------------------------------------

void mark(Ref* slot) {
    collector::keep(slot);
    SeriesBuffer* record = buffer_of(*slot);
    uint32_t now = collection_stamp();
    uint8_t* marked = record->head_ptr() + marked_at;
    uint32_t last;
    std::memcpy(&last, marked, 4);
    if (last == now) return;
    std::memcpy(marked, &now, 4);

    Record* r = record_of(*slot);
    auto keep_plain = [](Ref* s) {
        if (*s) collector::keep(s);
    };
    keep_plain(&r->flags);
    keep_plain(&r->keys);
    if (r->kind == kind_hash) {
        auto index = static_cast<Ref>(r->indexes);
        if (index) {
            collector::keep(&index);
            r->indexes = static_cast<int32_t>(index);
        }
        if (r->chains) {
            collector::keep(&r->chains);
            SeriesBuffer* c = buffer_of(r->chains);
            auto* lists = reinterpret_cast<Ref*>(c->head_ptr());
            auto* end = reinterpret_cast<Ref*>(c->tail_ptr());
            for (Ref* l = lists; l < end; ++l) keep_plain(l);
        }
    }
    if (r->series) {
        if (r->kind == kind_id || r->kind == kind_ownership) {
            // These tables are weak: they keep their entry series but not what the entries
            // name, and purge drops the entries whose keys or owners died. Nodes moved by
            // this collection are still rewritten in them.
            collector::keep(&r->series);
            SeriesBuffer* s = buffer_of(r->series);
            uint32_t entry = static_cast<uint32_t>(r->indexes);
            for (uint8_t* e = s->head_ptr(); e + entry <= s->tail_ptr(); e += entry) {
                auto* key = reinterpret_cast<Cell*>(e);
                if (!entry_live(key)) continue;
                collector::forward_node(&key->data1);
                for (Cell* v = key + 1; v < reinterpret_cast<Cell*>(e + entry); ++v) collector::forward_cell(v);
            }
        } else {
            collector::keep_series(&r->series);
        }
    }
}

void purge(Ref table) {
    Record* r = record_of(table);
    if (r->kind != kind_id && r->kind != kind_ownership) return;
    SeriesBuffer* s = buffer_of(r->series);
    uint32_t entry = static_cast<uint32_t>(r->indexes);
    for (uint8_t* e = s->head_ptr(); e + entry <= s->tail_ptr(); e += entry) {
        auto* key = reinterpret_cast<Cell*>(e);
        if (!entry_live(key)) continue;
        Ref node = key->data1;
        bool dead = !(buffer_of(node)->flags & memory::flag::mark);
        if (!dead && r->kind == kind_ownership) {
            Cell* owner = key + 2;
            if (owner->data1 && !(buffer_of(owner->data1)->flags & memory::flag::mark)) dead = true;
        }
        if (!dead) continue;
        // The values go too: they may name what just died, and a stack scan that finds the
        // entry series would mark them as cells.
        for (Cell* c = key; c < reinterpret_cast<Cell*>(e + entry); ++c) c->header = 0;
    }
}

void purge_all() {
    for (Ref* slot : purged_tables)
        if (*slot) purge(*slot);
}

void register_purged(Ref* slot) { purged_tables.push_back(slot); }

void unregister_purged(Ref* slot) { std::erase(purged_tables, slot); }

}  // namespace zuv::hashtable
