// Deflate, inflate, the zlib and gzip framings and the runtime's LZ codec: hand-built streams,
// round trips, every status, and corrupted input that must end in a status, never a crash.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "evaluator/checksum.h"
#include "io/compression.h"
#include "io/deflate-tables.h"

using namespace zuv::compression;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

using Codec = std::function<Result(std::span<uint8_t>, std::span<const uint8_t>)>;

// The natives' protocol: ask with no room, grow to the size answered, call again.
Result run(const Codec& codec, std::span<const uint8_t> in, Bytes& out) {
    out.clear();
    Result r = codec(out, in);
    for (int tries = 0; r.status == Status::output_too_small && tries < 3; ++tries) {
        out.assign(r.size, 0xEE);
        r = codec(out, in);
    }
    if (r.status == Status::ok) out.resize(r.size);
    return r;
}

Bytes must(const Codec& codec, std::span<const uint8_t> in) {
    Bytes out;
    Result r = run(codec, in, out);
    EXPECT_EQ(r.status, Status::ok);
    return out;
}

// Builds bit streams as the formats define them: fields least-significant bit first,
// Huffman codes most-significant bit first.
struct Bits {
    Bytes out;
    unsigned used = 0;  // bits used in the last byte

    Bits& put(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used == 0) out.push_back(0);
            out.back() |= static_cast<uint8_t>(((v >> i) & 1) << used);
            used = (used + 1) % 8;
        }
        return *this;
    }
    Bits& code(uint32_t c, unsigned len) {
        for (unsigned i = len; i-- > 0;) put((c >> i) & 1, 1);
        return *this;
    }
    Bits& align() {
        used = 0;
        return *this;
    }
    Bits& raw(std::span<const uint8_t> b) {
        align();
        out.insert(out.end(), b.begin(), b.end());
        return *this;
    }
};

// The fixed literal/length code of a symbol.
void fixed(Bits& b, unsigned sym) {
    if (sym < 144)
        b.code(0x30 + sym, 8);
    else if (sym < 256)
        b.code(0x190 + sym - 144, 9);
    else if (sym < 280)
        b.code(sym - 256, 7);
    else
        b.code(0xC0 + sym - 280, 8);
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// Text-like data with repeats at many distances, including past the 32 KiB window.
Bytes mixed_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        if (b.size() > 8 && rng() % 3 == 0) {
            size_t dist = 1 + rng() % std::min<size_t>(b.size(), 70000);
            size_t len = 1 + rng() % 300;
            for (size_t i = 0; i < len; ++i) b.push_back(b[b.size() - dist]);
        } else {
            b.push_back(static_cast<uint8_t>("etaoin shrdlu\n\xF0\x90"[rng() % 16]));
        }
    }
    b.resize(n);
    return b;
}

struct Sample {
    const char* name;
    Bytes data;
};

std::vector<Sample> samples() {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    return {
        {"empty", {}},
        {"one byte", {0x61}},
        {"one high byte", {0xFF}},
        {"five bytes", bytes("abcab")},
        {"six equal", Bytes(6, 'a')},
        {"thousand equal", Bytes(1000, 'a')},
        {"every byte value", all},
        {"text", bytes("the quick brown fox jumps over the lazy dog; the quick brown fox again")},
        {"random 3000", random_bytes(3000, 1)},
        {"random 100 KiB", random_bytes(100 * 1024, 2)},
        {"mixed 300 KiB", mixed_bytes(300 * 1024, 3)},
        {"long zero run 200 KiB", Bytes(200 * 1024, 0)},
    };
}

const Codec deflate_c = deflate, inflate_c = inflate;
const Codec zlib_c = zlib_compress, zlib_d = zlib_decompress;
const Codec gzip_c = gzip_compress, gzip_d = gzip_decompress;

}  // namespace

// ---- Round trips -------------------------------------------------------------------------

TEST(CompressionRoundTrip, EveryFramingGivesTheInputBack) {
    const std::pair<Codec, Codec> framings[] = {{deflate_c, inflate_c}, {zlib_c, zlib_d}, {gzip_c, gzip_d}};
    for (const auto& s : samples()) {
        for (size_t f = 0; f < 3; ++f) {
            SCOPED_TRACE(std::string(s.name) + " framing " + std::to_string(f));
            Bytes packed = must(framings[f].first, s.data);
            EXPECT_EQ(must(framings[f].second, packed), s.data);
        }
    }
}

TEST(CompressionRoundTrip, LzCodecGivesTheInputBack) {
    auto big = mixed_bytes(lz_max_block + 300 * 1024, 4);  // more than one block
    auto all = samples();
    all.push_back({"two blocks", big});
    for (const auto& s : all) {
        SCOPED_TRACE(s.name);
        auto back = lz_decompress(lz_compress(s.data));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, s.data);
    }
}

// ---- Deflate -----------------------------------------------------------------------------

TEST(Deflate, HandBuiltStreams) {
    EXPECT_EQ(must(deflate_c, {}), (Bytes{0x03, 0x00}));
    // BFINAL 1, BTYPE 01, 'a' as 8-bit code 0x91, end-of-block as seven zero bits.
    EXPECT_EQ(must(deflate_c, bytes("a")), (Bytes{0x4B, 0x04, 0x00}));
}

TEST(Deflate, ShortInputIsAllLiterals) {
    // 3 header bits, five 8-bit literals, 7 end bits: 50 bits, 7 bytes, whatever repeats.
    for (const char* s : {"aaaaa", "ababa", "abcde"}) EXPECT_EQ(must(deflate_c, bytes(s)).size(), 7u) << s;
    // A sixth byte lets position 3 match position 0's triple... except that position 0 is
    // never a match source, so "abcabc" stays literal while "aaaaaa" matches at distance 1.
    EXPECT_EQ(must(deflate_c, bytes("abcabc")).size(), 8u);
    EXPECT_LT(must(deflate_c, bytes("aaaaaa")).size(), 8u);
}

TEST(Deflate, RepetitiveInputShrinks) {
    EXPECT_LE(must(deflate_c, Bytes(1000, 'a')).size(), 16u);
    EXPECT_LT(must(deflate_c, Bytes(200 * 1024, 0)).size(), 2000u);
}

TEST(Deflate, TooSmallOutputAnswersTheSizeAndWritesNothingPastIt) {
    const Bytes in = mixed_bytes(5000, 5);
    const size_t needed = must(deflate_c, in).size();
    for (size_t room : {size_t{0}, size_t{1}, needed / 2, needed - 1}) {
        Bytes buffer(room + 64, 0xEE);
        Result r = deflate(std::span(buffer).first(room), in);
        EXPECT_EQ(r.status, Status::output_too_small);
        EXPECT_EQ(r.size, needed);
        for (size_t i = room; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << "room " << room;
    }
}

// ---- Inflate -----------------------------------------------------------------------------

TEST(Inflate, StoredBlocks) {
    Bits b;
    b.put(0, 1).put(0, 2).raw(Bytes{2, 0, 0xFD, 0xFF, 'h', 'i'});  // stored, not final
    b.put(1, 1).put(0, 2).raw(Bytes{0, 0, 0xFF, 0xFF});            // empty stored block
    EXPECT_EQ(must(inflate_c, b.out), bytes("hi"));

    // A stored block followed by a fixed block that starts on the next byte boundary.
    Bits c;
    c.put(0, 1).put(0, 2).raw(Bytes{2, 0, 0xFD, 0xFF, 'h', 'i'}).raw(Bytes{0x4B, 0x04, 0x00});
    EXPECT_EQ(must(inflate_c, c.out), bytes("hia"));
}

// Literal/length lengths: 'a'..'d' 3, end-of-block 2, 257 and 258 3; distances 0 and 1
// length 1. The code-length code uses every repeat symbol: 18 for the zero runs, 17 twice,
// 16 to repeat the 3.
Bits dynamic_header() {
    Bits b;
    b.put(1, 1).put(2, 2);                 // final, dynamic
    b.put(2, 5).put(1, 5).put(18 - 4, 4);  // HLIT 259, HDIST 2, HCLEN 18
    const unsigned cl_lengths[18] = {3, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 3, 0, 3};
    for (unsigned l : cl_lengths) b.put(l, 3);
    // Canonical code-length codes: 17 00, 18 01, 1 100, 2 101, 3 110, 16 111.
    auto zeros18 = [&](unsigned n) { b.code(0b01, 2).put(n - 11, 7); };
    auto zeros17 = [&](unsigned n) { b.code(0b00, 2).put(n - 3, 3); };
    zeros18(97);                                    // 0..96
    b.code(0b110, 3).code(0b111, 3).put(0, 2);      // 97 = 3, then 98..100 = 3
    zeros18(138);                                   // 101..255
    zeros17(10);
    zeros17(7);
    b.code(0b101, 3).code(0b110, 3).code(0b110, 3); // 256 = 2, 257 = 3, 258 = 3
    b.code(0b100, 3).code(0b100, 3);                // distances 0 and 1 = 1
    return b;
}

TEST(Inflate, DynamicBlock) {
    // Codes: 256 00; 'a' 010, 'b' 011, 'c' 100, 'd' 101, 257 110, 258 111; distance 1 is 0, 2 is 1.
    Bits b = dynamic_header();
    b.code(0b010, 3).code(0b011, 3);  // "ab"
    b.code(0b110, 3).code(1, 1);      // length 3, distance 2: "aba"
    b.code(0b100, 3);                 // "c"
    b.code(0b111, 3).code(0, 1);      // length 4, distance 1: "cccc"
    b.code(0b101, 3).code(0b00, 2);   // "d", end
    EXPECT_EQ(must(inflate_c, b.out), bytes("ababacccccd"));
}

TEST(Inflate, ErrorStatuses) {
    struct Case {
        const char* name;
        Bytes stream;
        Status status;
    };
    std::vector<Case> cases;
    cases.push_back({"stored LEN past the input", {0x01, 5, 0, 0xFA, 0xFF, 'h', 'e'}, Status::stored_overrun});
    cases.push_back({"block type 3", {0x07}, Status::bad_block_type});
    {
        Bits b;  // length 3 at distance 1 with nothing written yet
        b.put(1, 1).put(1, 2);
        fixed(b, 257);
        b.code(0, 5);
        cases.push_back({"distance before the output start", b.out, Status::distance_too_far});
    }
    {
        Bits b;  // one literal, then distance 2
        b.put(1, 1).put(1, 2);
        fixed(b, 'x');
        fixed(b, 257);
        b.code(1, 5);
        fixed(b, 256);
        cases.push_back({"distance one past the output start", b.out, Status::distance_too_far});
    }
    for (unsigned sym : {286u, 287u}) {
        Bits b;
        b.put(1, 1).put(1, 2);
        fixed(b, sym);
        fixed(b, 256);
        cases.push_back({"length symbol 286/287", b.out, Status::bad_data});
    }
    for (unsigned dsym : {30u, 31u}) {
        Bits b;
        b.put(1, 1).put(1, 2);
        fixed(b, 'x');
        fixed(b, 257);
        b.code(dsym, 5);
        fixed(b, 256);
        cases.push_back({"distance symbol 30/31", b.out, Status::bad_data});
    }
    {
        Bits b;  // code-length code with three codes of length 1
        b.put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4);
        b.put(1, 3).put(1, 3).put(1, 3).put(0, 3);
        cases.push_back({"over-subscribed code lengths", b.out, Status::bad_data});
    }
    {
        Bits b;  // repeat-previous as the very first length
        b.put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4);
        b.put(1, 3).put(1, 3).put(0, 3).put(0, 3);  // 16 -> 0, 17 -> 1
        b.code(0, 1).put(0, 2);
        cases.push_back({"repeat with no previous length", b.out, Status::bad_data});
    }
    {
        Bits b;  // 138 + 138 zeros overrun 257 + 1 lengths
        b.put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4);
        b.put(0, 3).put(0, 3).put(1, 3).put(1, 3);  // 18 -> 0, 0 -> 1
        b.code(1, 1).put(127, 7).code(1, 1).put(127, 7);
        cases.push_back({"repeat past the last length", b.out, Status::bad_data});
    }
    {
        Bits b = dynamic_header();  // one literal, then the input ends before end-of-block
        b.code(0b010, 3);
        cases.push_back({"dynamic block cut short is not an error", b.out, Status::ok});
    }
    for (const auto& c : cases) {
        Bytes out(64);
        EXPECT_EQ(inflate(out, c.stream).status, c.status) << c.name;
    }
}

TEST(Inflate, IncompleteCodeReportsTheGap) {
    // Literal/length lengths: 'a' 1, end-of-block 2, nothing else; no distance code. The
    // codes are 'a' 0 and end 10, so 11 falls in the gap.
    auto header = [] {
        Bits b;
        b.put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(18 - 4, 4);  // HLIT 257, HDIST 1, HCLEN 18
        const unsigned cl[18] = {0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};
        for (unsigned l : cl) b.put(l, 3);
        // Code-length codes: 0 00, 1 01, 2 10, 18 11.
        b.code(0b11, 2).put(97 - 11, 7);                       // 0..96
        b.code(0b01, 2);                                       // 'a' = 1
        b.code(0b11, 2).put(127, 7).code(0b11, 2).put(9, 7);  // 98..255
        b.code(0b10, 2).code(0b00, 2);                         // end = 2, distance 0 = 0
        return b;
    };
    Bits good = header();
    good.code(0, 1).code(0, 1).code(0b10, 2);
    EXPECT_EQ(must(inflate_c, good.out), bytes("aa"));
    Bits gap = header();
    gap.code(0, 1).code(0b11, 2).code(0b10, 2);
    Bytes out(8);
    EXPECT_EQ(inflate(out, gap.out).status, Status::bad_data);
}

TEST(Inflate, CountsPastTheBufferAndAnswersTheSize) {
    const Bytes data = mixed_bytes(20000, 6);
    const Bytes packed = must(deflate_c, data);
    EXPECT_EQ(inflate({}, packed).status, Status::output_too_small);
    EXPECT_EQ(inflate({}, packed).size, data.size());
    Bytes buffer(1000 + 64, 0xEE);
    Result r = inflate(std::span(buffer).first(1000), packed);
    EXPECT_EQ(r.status, Status::output_too_small);
    EXPECT_EQ(r.size, data.size());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 1000, data.begin()));
    for (size_t i = 1000; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE);
}

TEST(Inflate, StreamCutShortEndsQuietly) {
    const Bytes data = mixed_bytes(5000, 7);
    const Bytes packed = must(deflate_c, data);
    for (size_t keep : {size_t{0}, size_t{1}, packed.size() / 2, packed.size() - 1}) {
        Bytes out(data.size());
        Result r = inflate(out, std::span(packed).first(keep));
        EXPECT_EQ(r.status, Status::ok) << keep;
        EXPECT_LE(r.size, data.size());
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + r.size, data.begin()));
    }
}

// ---- zlib --------------------------------------------------------------------------------

TEST(Zlib, HeaderAndTrailer) {
    const Bytes data = bytes("Wikipedia");
    const Bytes packed = must(zlib_c, data);
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], 0x01);
    EXPECT_EQ(Bytes(packed.end() - 4, packed.end()), (Bytes{0x11, 0xE6, 0x03, 0x98}));
    EXPECT_EQ(Bytes(packed.begin() + 2, packed.end() - 4), must(deflate_c, data));
}

TEST(Zlib, TooLittleRoomAsksForMore) {
    const Bytes data = mixed_bytes(3000, 8);
    const size_t needed = must(zlib_c, data).size();
    // Below the frame's 6 bytes the answer is an estimate; from there on it is exact.
    for (size_t room : {size_t{0}, size_t{5}, size_t{6}, needed - 4, needed - 1}) {
        Bytes out(room);
        Result r = zlib_compress(out, data);
        EXPECT_EQ(r.status, Status::output_too_small) << room;
        EXPECT_EQ(r.size, room < 6 ? data.size() + 6 : needed) << room;
    }
    EXPECT_EQ(zlib_compress({}, {}).size, 6u);
}

TEST(Zlib, RejectsBadFraming) {
    const Bytes good = must(zlib_c, bytes("some data to frame"));
    auto with = [&](size_t at, uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    struct Case {
        const char* name;
        Bytes in;
    };
    const Case cases[] = {
        {"one byte", {0x00}},
        {"five bytes", Bytes(good.begin(), good.begin() + 5)},
        {"check bits", with(1, 0x02)},
        {"method 7", {0x77, 0x05, 3, 0, 0, 0, 0, 1}},             // 0x7705 % 31 == 0
        {"window 2^16", {0x88, 0x1C, 3, 0, 0, 0, 0, 1}},          // CINFO 8
        {"preset dictionary", {0x78, 0x20, 3, 0, 0, 0, 0, 1}},    // FDICT
        {"checksum", with(good.size() - 1, good.back() ^ 1)},
        {"body cut short", [&] { Bytes b = good; b.erase(b.begin() + 4); return b; }()},
        {"stream ends early", [&] { Bytes b = good; b.insert(b.end() - 4, 0); return b; }()},
        {"junk after the checksum", [&] { Bytes b = good; b.push_back(0); return b; }()},
        {"checksum cut short", {0x78, 0x01, 0x4B, 0x4C, 0x4A, 0x06, 0x00, 0x02, 0x4D, 0x01}},
    };
    for (const auto& c : cases) {
        Bytes out(64);
        EXPECT_EQ(zlib_decompress(out, c.in).status, Status::bad_data) << c.name;
    }
}

TEST(Zlib, PassesInflateStatusesOn) {
    Bytes out(16);
    EXPECT_EQ(zlib_decompress(out, Bytes{0x78, 0x01, 0x07, 0, 0, 0, 1}).status, Status::bad_block_type);
    const Bytes packed = must(zlib_c, Bytes(100, 'z'));
    Result r = zlib_decompress(out, packed);
    EXPECT_EQ(r.status, Status::output_too_small);
    EXPECT_EQ(r.size, 100u);
}

// ---- gzip --------------------------------------------------------------------------------

namespace {

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// A gzip member around `data` with the given flag byte and optional header fields.
Bytes gzip_member(const Bytes& data, uint8_t flags, const Bytes& fields, bool header_crc = false) {
    Bytes b = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
    b.insert(b.end(), fields.begin(), fields.end());
    if (header_crc) {
        uint32_t crc = zuv::checksum::crc32(b);
        b.push_back(uint8_t(crc));
        b.push_back(uint8_t(crc >> 8));
    }
    Bytes body = must(deflate_c, data);
    b.insert(b.end(), body.begin(), body.end());
    for (Bytes t : {le32(zuv::checksum::crc32(data)), le32(static_cast<uint32_t>(data.size()))})
        b.insert(b.end(), t.begin(), t.end());
    return b;
}

}  // namespace

TEST(Gzip, HeaderAndTrailer) {
    const Bytes data = bytes("123456789");
    const Bytes packed = must(gzip_c, data);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 10), (Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4}));
    EXPECT_EQ(Bytes(packed.end() - 8, packed.end()), (Bytes{0x26, 0x39, 0xF4, 0xCB, 9, 0, 0, 0}));
    EXPECT_EQ(Bytes(packed.begin() + 10, packed.end() - 8), must(deflate_c, data));
}

TEST(Gzip, DataThatLooksCompressedIsCompressedToo) {
    // Copying such data unchanged gave bytes that decompress to something else.
    const Bytes packed = must(gzip_c, bytes("once"));
    const Bytes twice = must(gzip_c, packed);
    EXPECT_NE(twice, packed);
    EXPECT_EQ(must(gzip_d, twice), packed);
    const Bytes lookalike = {0x1F, 0x8B, 0x08, 0x00};
    EXPECT_EQ(must(gzip_d, must(gzip_c, lookalike)), lookalike);
}

TEST(Gzip, EveryMemberIsRead) {
    const Bytes a = bytes("first member, "), b = bytes("second member");
    const Bytes empty = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes ma = gzip_member(a, 0, {}), mb = gzip_member(b, 8, bytes(std::string("b.txt\0", 6)));
    struct Case {
        const char* name;
        Bytes in, out;
    } cases[] = {
        {"a member and an empty one", cat({ma, empty}), a},
        {"an empty member and a member", cat({empty, ma}), a},
        {"two members", cat({ma, mb}), cat({a, b})},
        {"three members", cat({mb, ma, mb}), cat({b, a, b})},
        {"zero padding after the last", cat({ma, mb, Bytes(7, 0)}), cat({a, b})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(must(gzip_d, c.in), c.out) << c.name;
        Result r = gzip_decompress({}, c.in);  // the size answer counts every member
        EXPECT_EQ(r.size, c.out.size()) << c.name;
    }
}

// Claimed sizes are never trusted: a trailer, a cut stream or a damaged member gives bad
// data, and a size answer is only ever what the streams produced.
TEST(Gzip, ClaimedSizesAreNotTrusted) {
    const Bytes data = bytes("payload payload payload");
    const Bytes good = gzip_member(data, 0, {});
    Bytes huge_isize = good;
    huge_isize[huge_isize.size() - 1] = 0xC0;  // about 3 GiB
    Bytes member_then_junk = good;
    member_then_junk.push_back('x');
    Bytes member_then_cut = good;
    member_then_cut.insert(member_then_cut.end(), good.begin(), good.begin() + 14);
    struct Case {
        const char* name;
        Bytes in;
    } cases[] = {
        // "hello h" cut short: the bytes after the header were taken as a trailer of 3 GiB.
        {"stream cut short", {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4, 0xCB, 0x48, 0xCD, 0xC9, 0xC9, 0x57, 0xC8, 0xC0}},
        {"ISIZE of 3 GiB", huge_isize},
        {"no stream at all", {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"trailer cut short", Bytes(good.begin(), good.end() - 1)},
        {"junk after the member", member_then_junk},
        {"second member cut short", member_then_cut},
    };
    for (const auto& c : cases) {
        for (size_t room : {size_t{0}, size_t{64}}) {
            Bytes out(room);
            Result r = gzip_decompress(out, c.in);
            EXPECT_EQ(r.status, Status::bad_data) << c.name << " room " << room;
            EXPECT_LE(r.size, inflate_bound(c.in.size())) << c.name;
        }
    }
}

TEST(Gzip, OptionalHeaderFields) {
    const Bytes data = bytes("payload payload payload");
    struct Case {
        const char* name;
        uint8_t flags;
        Bytes fields;
        bool header_crc;
    };
    const Case cases[] = {
        {"FTEXT", 1, {}, false},
        {"FNAME", 8, bytes(std::string("file.txt\0", 9)), false},
        {"FCOMMENT", 16, bytes(std::string("note\0", 5)), false},
        {"FEXTRA", 4, {3, 0, 'a', 'b', 'c'}, false},
        {"FHCRC", 2, {}, true},
        {"all", 31, bytes(std::string("\2\0xyname\0comment\0", 17)), true},
    };
    for (const auto& c : cases) EXPECT_EQ(must(gzip_d, gzip_member(data, c.flags, c.fields, c.header_crc)), data) << c.name;
}

TEST(Gzip, RejectsBadFraming) {
    const Bytes data = bytes("payload payload payload");
    const Bytes good = gzip_member(data, 0, {});
    auto with = [](Bytes b, size_t at, uint8_t v) {
        b[at] = v;
        return b;
    };
    Bytes wrong_hcrc = gzip_member(data, 2, {}, true);
    wrong_hcrc[10] ^= 1;
    Bytes short_isize = good;
    short_isize[short_isize.size() - 4] += 1;  // ISIZE one more than the data
    struct Case {
        const char* name;
        Bytes in;
    };
    const Case cases[] = {
        {"17 bytes", Bytes(good.begin(), good.begin() + 17)},
        {"magic", with(good, 1, 0x8C)},
        {"method", with(good, 2, 7)},
        {"reserved flag", with(good, 3, 0x20)},
        {"FNAME without its NUL", bytes(std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03unterminated name", 27))},
        {"FEXTRA longer than the member", gzip_member(data, 4, {0xFF, 0x7F})},
        {"FEXTRA length in the trailer", {0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 3, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
        {"FHCRC wrong", wrong_hcrc},
        {"CRC wrong", with(good, good.size() - 8, good[good.size() - 8] ^ 1)},
        {"ISIZE above the data", short_isize},
    };
    for (const auto& c : cases) {
        Bytes out(64);
        EXPECT_EQ(gzip_decompress(out, c.in).status, Status::bad_data) << c.name;
    }
}

TEST(Gzip, EmptyMemberAndSizeAnswer) {
    // Header, the empty final block, CRC and length of nothing.
    Bytes empty = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(must(gzip_d, empty), Bytes{});
    const Bytes packed = must(gzip_c, Bytes(5000, 'q'));
    Result r = gzip_decompress({}, packed);
    EXPECT_EQ(r.status, Status::output_too_small);
    EXPECT_EQ(r.size, 5000u);
    EXPECT_EQ(gzip_compress({}, {}).size, 18u);  // the frame; the stream's 2 bytes on the next ask
}

// ---- LZ codec ----------------------------------------------------------------------------

namespace {

// A record of blocks, each given as its output length and its bit stream.
Bytes lz_record(uint32_t uncompressed, std::vector<std::pair<uint32_t, Bytes>> blocks) {
    Bytes body;
    for (auto& [length, stream] : blocks) {
        Bytes l = le32(length);
        body.insert(body.end(), l.begin(), l.end());
        body.insert(body.end(), stream.begin(), stream.end());
    }
    Bytes rec = le32(static_cast<uint32_t>(body.size()));
    Bytes u = le32(uncompressed);
    rec.insert(rec.end(), u.begin(), u.end());
    rec.insert(rec.end(), body.begin(), body.end());
    return rec;
}

Bytes lz_literal(Bits b, uint8_t v) { return b.put(0, 1).put(v, 8).out; }

// Length n + 3 through the class whose prefix has `zeros` leading zeros; b = distance - 1 < 8.
Bits& lz_match(Bits& b, unsigned zeros, unsigned value, unsigned value_bits, unsigned dist_b) {
    b.put(1, 1).put(0, zeros);
    if (zeros < 5) b.put(1, 1);
    return b.put(value, value_bits).put(0, 4).put(dist_b, 3);
}

}  // namespace

TEST(LzCodec, HandBuiltBlocks) {
    {
        Bits b;
        b.put(0, 1).put('x', 8);
        lz_match(b, 1, 3, 2, 0);  // `01` + 3: n = 7, length 10, distance 1
        EXPECT_EQ(lz_decompress(lz_record(11, {{11, b.out}})), Bytes(11, 'x'));
    }
    {
        // Every length class, with distance classes k = 2 and k = 3.
        Bits b;
        for (char c : std::string("abcdefghij")) b.put(0, 1).put(uint8_t(c), 8);
        lz_match(b, 0, 2, 2, 1);  // length 5 from 2 back: "ijiji"
        b.put(1, 1).put(0, 4).put(1, 1).put(0, 5);  // class `00001`, n = 20, length 23
        b.put(1, 4).put(1, 3);                      // k = 3: b = 1 + 8, from 10 back
        Bytes expect = bytes("abcdefghijijiji");
        for (int i = 0; i < 23; ++i) expect.push_back(expect[expect.size() - 10]);
        uint32_t n = static_cast<uint32_t>(expect.size());
        EXPECT_EQ(lz_decompress(lz_record(n, {{n, b.out}})), expect);
    }
    {
        // Two blocks: the second starts on the byte after the first's last bit.
        Bytes first = lz_literal({}, 'p');
        Bits second;
        second.put(0, 1).put('q', 8);
        lz_match(second, 5, 0, 9, 0);  // five zeros + 9 bits: n = 52, length 55
        EXPECT_EQ(lz_decompress(lz_record(57, {{1, first}, {56, second.out}})),
                  [] { Bytes e{'p'}; e.insert(e.end(), 56, 'q'); return e; }());
    }
}

TEST(LzCodec, Corruption) {
    Bytes x = lz_literal({}, 'x');
    Bits match_first;
    lz_match(match_first, 0, 0, 2, 0);
    Bits too_long;
    too_long.put(0, 1).put('x', 8);
    lz_match(too_long, 0, 3, 2, 0);  // length 6 in a block of 4
    Bytes cut = lz_record(1, {{1, x}});
    cut[0] -= 1;  // the stated size ends inside the bit stream
    Bytes lying_size = lz_record(1, {{1, x}});
    lying_size[0] = 200;

    struct Case {
        const char* name;
        Bytes record;
    };
    const Case cases[] = {
        {"shorter than its header", {1, 0, 0}},
        {"compressed size past the record", lying_size},
        {"block length 0", lz_record(1, {{0, x}})},
        {"block length above 1 MiB", lz_record(lz_max_block + 1, {{lz_max_block + 1, x}})},
        {"blocks past the uncompressed size", lz_record(1, {{1, x}, {1, x}})},
        {"match at a block's first byte", lz_record(3, {{3, match_first.out}})},
        {"match past the block end", lz_record(4, {{4, too_long.out}})},
        {"match into the previous block", lz_record(4, {{1, x}, {3, match_first.out}})},
        {"bit stream cut short", cut},
        {"block length cut", [&] { Bytes r = lz_record(1, {{1, x}}); r.resize(10); r[0] = 2; return r; }()},
    };
    for (const auto& c : cases) EXPECT_FALSE(lz_decompress(c.record).has_value()) << c.name;
    EXPECT_EQ(lz_decompress(lz_record(0, {})), Bytes{});
}

// ---- Fuzzing: corrupt input ends in a status --------------------------------------------

TEST(CompressionFuzz, CorruptInputNeverCrashes) {
    std::mt19937 rng(12345);
    const Bytes data = mixed_bytes(4000, 9);
    const Bytes valid[] = {must(deflate_c, data), must(zlib_c, data), must(gzip_c, data)};
    const Codec decoders[] = {inflate_c, zlib_d, gzip_d};
    const Bytes lz = lz_compress(data);

    auto corrupt = [&](Bytes b) {
        switch (rng() % 4) {
        case 0:
            for (int i = 0, n = 1 + rng() % 4; i < n && !b.empty(); ++i) b[rng() % b.size()] ^= uint8_t(1u << rng() % 8);
            break;
        case 1:
            b.resize(rng() % (b.size() + 1));
            break;
        case 2:
            for (auto& v : b) v = static_cast<uint8_t>(rng());
            b.resize(rng() % 64);
            break;
        default:
            if (!b.empty()) b[rng() % b.size()] = static_cast<uint8_t>(rng());
        }
        return b;
    };

    for (int round = 0; round < 1500; ++round) {
        for (size_t d = 0; d < 3; ++d) {
            Bytes in = corrupt(valid[d]);
            // An exact-size heap buffer: any write past it is caught by the address checker.
            Bytes out(rng() % 2 ? data.size() : rng() % 100);
            Result r = decoders[d](out, in);
            EXPECT_LE(static_cast<int>(r.status), 5);
            EXPECT_LE(r.size, inflate_bound(in.size()));
        }
        Bytes rec = corrupt(lz);
        lz_decompress(rec);
        // Random dynamic-block headers exercise the table builder.
        Bytes dyn = random_bytes(1 + rng() % 300, rng());
        dyn[0] = static_cast<uint8_t>((dyn[0] & ~7u) | 5);  // final, dynamic
        Bytes out(rng() % 4096);
        inflate(out, dyn);
    }
}

// ---- Inflate: codes past the lookup table's first level -----------------------------------

namespace {

// Canonical codes of a set of lengths, as the format assigns them.
std::vector<uint32_t> canonical(const std::vector<unsigned>& lengths) {
    unsigned per_length[16] = {}, next[16] = {};
    for (unsigned l : lengths) ++per_length[l];
    per_length[0] = 0;
    for (unsigned len = 1, code = 0; len < 16; ++len) next[len] = code = (code + per_length[len - 1]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

// A dynamic block with the given literal/length and distance lengths. The code-length code
// gives each of the lengths 0-15 a 4-bit code, so every length is written plainly.
struct DynamicWriter {
    Bits b;
    std::vector<unsigned> lit, dist;
    std::vector<uint32_t> lit_codes, dist_codes;
    Bytes expected;

    // The block goes after the blocks already in `before`, which gave `before_data`.
    DynamicWriter(std::vector<unsigned> lit_lengths, std::vector<unsigned> dist_lengths, Bits before = {},
                  Bytes before_data = {})
        : b(std::move(before)), lit(std::move(lit_lengths)), dist(std::move(dist_lengths)), lit_codes(canonical(lit)),
          dist_codes(canonical(dist)), expected(std::move(before_data)) {
        b.put(1, 1).put(2, 2);  // final, dynamic
        b.put(static_cast<uint32_t>(lit.size() - 257), 5).put(static_cast<uint32_t>(dist.size() - 1), 5);
        b.put(19 - 4, 4);  // all 19 code-length lengths
        static constexpr unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (unsigned sym : order) b.put(sym < 16 ? 4 : 0, 3);
        for (unsigned l : lit) b.code(l, 4);
        for (unsigned l : dist) b.code(l, 4);
    }
    void literal(uint8_t c) {
        b.code(lit_codes[c], lit[c]);
        expected.push_back(c);
    }
    // A match through the given length and distance symbols, with their extra bits.
    void match(unsigned length, unsigned distance) {
        using namespace tables;
        const auto* lbase = length_base;
        const auto* lextra = length_extra;
        const auto* dbase = distance_base;
        const auto* dextra = distance_extra;
        unsigned li = length == 258 ? 28 : 0;
        while (li < 28 && lbase[li + 1] <= length) ++li;
        unsigned di = 0;
        while (di < 29 && dbase[di + 1] <= distance) ++di;
        ASSERT_TRUE(lit[257 + li]) << "no code for length " << length;
        ASSERT_TRUE(dist[di]) << "no code for distance " << distance;
        b.code(lit_codes[257 + li], lit[257 + li]).put(length - lbase[li], lextra[li]);
        b.code(dist_codes[di], dist[di]).put(distance - dbase[di], dextra[di]);
        for (unsigned i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
    }
    void end() { b.code(lit_codes[256], lit[256]); }
};

// Literal lengths 1-12 for 'A'-'L', then eight codes of 15 bits: complete, with codes that
// end exactly at the first table level (10 bits), one past it and at the longest.
std::vector<unsigned> long_literal_lengths() {
    std::vector<unsigned> lit(286, 0);
    for (unsigned k = 0; k < 12; ++k) lit['A' + k] = k + 1;
    for (unsigned sym : {unsigned{'M'}, unsigned{'N'}, 256u, 257u, 264u, 265u, 284u, 285u}) lit[sym] = 15;
    return lit;
}

// Distance 1 in 1 bit, 24577-32768 in 2, 4 and 5-6 in 3: complete.
std::vector<unsigned> distance_lengths() {
    std::vector<unsigned> dist(30, 0);
    dist[0] = 1;
    dist[29] = 2;
    dist[3] = 3;
    dist[4] = 3;
    return dist;
}

}  // namespace

TEST(Inflate, LongCodesLengthBoundsAndTheWindowEdge) {
    DynamicWriter w(long_literal_lengths(), distance_lengths());
    std::mt19937 rng(11);
    // Over 32 KiB of literals of every code length, so a match can reach back the whole window.
    for (int i = 0; i < 40000; ++i) w.literal(static_cast<uint8_t>('A' + rng() % 14));
    for (unsigned length : {3u, 10u, 11u, 12u, 227u, 257u, 258u})
        for (unsigned distance : {1u, 4u, 5u, 6u, 24577u, 32767u, 32768u}) w.match(length, distance);
    for (char c = 'A'; c <= 'N'; ++c) w.literal(static_cast<uint8_t>(c));
    w.end();
    EXPECT_EQ(must(inflate_c, w.b.out), w.expected);
    // The same through a buffer of exactly the size, and one too small by one byte.
    Bytes exact(w.expected.size());
    EXPECT_EQ(inflate(exact, w.b.out).status, Status::ok);
    EXPECT_EQ(exact, w.expected);
    Bytes short_by_one(w.expected.size() - 1);
    Result r = inflate(short_by_one, w.b.out);
    EXPECT_EQ(r.status, Status::output_too_small);
    EXPECT_EQ(r.size, w.expected.size());
    EXPECT_TRUE(std::equal(short_by_one.begin(), short_by_one.end(), w.expected.begin()));
}

TEST(Inflate, EveryBlockKindInOneStream) {
    // Stored, fixed, then dynamic with long codes, the last referring back across the others.
    Bits b;
    const Bytes stored = bytes("stored bytes; ");
    b.put(0, 1).put(0, 2).raw(Bytes{static_cast<uint8_t>(stored.size()), 0,
                                    static_cast<uint8_t>(~stored.size()), 0xFF});
    b.raw(stored);
    b.put(0, 1).put(1, 2);
    for (char c : std::string("fixed ABC")) fixed(b, static_cast<uint8_t>(c));
    fixed(b, 256);
    Bytes before = stored;
    for (char c : std::string("fixed ABC")) before.push_back(static_cast<uint8_t>(c));
    DynamicWriter w(long_literal_lengths(), distance_lengths(), b, before);
    w.literal('A');
    w.match(10, 4);
    w.match(3, 1);
    w.end();
    EXPECT_EQ(must(inflate_c, w.b.out), w.expected);
}

TEST(Inflate, GapInALongCodeIsBadData) {
    // Without 285 the last 15-bit code (all ones) is unused: meeting it is bad data, while
    // the same stream ending its block instead decodes.
    std::vector<unsigned> lit = long_literal_lengths();
    lit[285] = 0;
    const std::vector<uint32_t> codes = canonical(long_literal_lengths());
    DynamicWriter bad(lit, distance_lengths()), good(lit, distance_lengths());
    for (DynamicWriter* w : {&bad, &good}) {
        w->literal('M');
        w->literal('A');
    }
    bad.b.code(codes[285], 15);
    bad.end();
    good.end();
    Bytes out(16);
    EXPECT_EQ(inflate(out, bad.b.out).status, Status::bad_data);
    EXPECT_EQ(must(inflate_c, good.b.out), bytes("MA"));
}
