// The base 2, 16, 58 and 64 codecs of enbase and debase: every byte string comes back from
// its text, the sizes announced bound the texts, and the decoders' skipping and refusals.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/binary-base.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Codec {
    int base;
    std::string (*encode)(std::span<const uint8_t>);
    std::optional<Bytes> (*decode)(std::u32string_view);
};

const Codec codecs[] = {
    {2, zuv::binary::encode_base2, zuv::binary::decode_base2},
    {16, zuv::binary::encode_base16, zuv::binary::decode_base16},
    {58, zuv::binary::encode_base58, zuv::binary::decode_base58},
    {64, zuv::binary::encode_base64, zuv::binary::decode_base64},
};

std::u32string wide(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<Bytes> samples() {
    std::vector<Bytes> out = {{}, {0}, {0, 0, 0}, {0, 0, 1, 0}, {255}, {255, 255, 255, 255}, {1, 0}};
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
    out.push_back(all);
    std::mt19937 gen(7);
    for (size_t n = 0; n < 70; ++n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<uint8_t>(gen());
        if (n % 5 == 0 && n) b[0] = 0;  // leading zeros matter to base 58
        out.push_back(b);
    }
    return out;
}

TEST(BinaryBase, EveryByteStringComesBackWithinTheAnnouncedSize) {
    for (const Codec& c : codecs) {
        for (const Bytes& b : samples()) {
            std::string text = c.encode(b);
            EXPECT_LE(text.size(), zuv::binary::encoded_size(b.size(), c.base)) << "base " << c.base;
            std::optional<Bytes> back = c.decode(wide(text));
            ASSERT_TRUE(back) << "base " << c.base << ": " << text;
            EXPECT_EQ(*back, b) << "base " << c.base << ": " << text;
        }
    }
}

TEST(BinaryBase, DecodersSkipBlanksAndCommentsAndRefuseStrangers) {
    struct Case {
        int base;
        std::u32string text;
        std::optional<Bytes> bytes;
    };
    const Case cases[] = {
        {2, U"0000 0001\t;x\n11111111", Bytes{1, 255}},
        {2, U"0000001", std::nullopt},
        {2, U"00000012", std::nullopt},
        {16, U"0a Ff\r\n;zz\n10", Bytes{0x0A, 0xFF, 0x10}},
        {16, U"0A1", Bytes{0x0A}},
        {16, U"", Bytes{}},
        {16, U"0G", std::nullopt},
        {16, U"\u00B0\u00B0", std::nullopt},  // not read modulo 128
        {58, U"1 1'2", Bytes{0, 0, 1}},
        {58, U"0", std::nullopt},
        {58, U"2\u20AC", std::nullopt},
        {64, U"QQ==", Bytes{0x41}},
        {64, U"QUI=trailing ignored", Bytes{0x41, 0x42}},
        {64, U"QU\nJD ;c\n", Bytes{0x41, 0x42, 0x43}},
        {64, U"QUI", Bytes{0x41, 0x42}},
        {64, U"Q===", std::nullopt},
        {64, U"Q", std::nullopt},
        {64, U"QUJD=", std::nullopt},
        {64, U"QU\u00E9=", std::nullopt},
    };
    for (const Case& c : cases) {
        const Codec& codec = *std::find_if(std::begin(codecs), std::end(codecs), [&](const Codec& k) { return k.base == c.base; });
        EXPECT_EQ(codec.decode(c.text), c.bytes) << "base " << c.base << " case " << (&c - cases);
    }
}

}  // namespace
