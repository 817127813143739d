// Checksums, digests and HMAC against published check values, and the checksum native's
// decisions once its data is bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "evaluator/checksum.h"
#include "runtime/print.h"
#include "runtime/stdio.h"

using namespace zuv::checksum;

namespace {

Bytes bytes_of(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

std::string hex_of(Bytes b) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t x : b) {
        out += digits[x >> 4];
        out += digits[x & 15];
    }
    return out;
}

std::vector<std::uint8_t> counting_bytes(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i);
    return v;
}

}  // namespace

TEST(Checksum, RunningChecksumsCheckValuesAndPiecewiseUpdate) {
    using Update = std::uint32_t (*)(std::uint32_t, Bytes);
    struct Case {
        Update update;
        std::uint32_t initial;
        std::string_view text;
        std::uint32_t value;
    } cases[] = {
        {crc32_update, crc32_initial, "", 0},
        {crc32_update, crc32_initial, "123456789", 0xCBF43926},
        {crc32_update, crc32_initial, "The quick brown fox jumps over the lazy dog", 0x414FA339},
        {adler32_update, adler32_initial, "", 1},
        {adler32_update, adler32_initial, "Wikipedia", 0x11E60398},
        {adler32_update, adler32_initial, "123456789", 0x091E01DE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.update(c.initial, bytes_of(c.text)), c.value) << c.text;
        for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
            std::uint32_t running = c.update(c.initial, bytes_of(c.text.substr(0, cut)));
            EXPECT_EQ(c.update(running, bytes_of(c.text.substr(cut))), c.value) << c.text << " cut " << cut;
        }
    }
    // The one-shot forms are the running forms from their initial values.
    EXPECT_EQ(crc32(bytes_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(adler32(bytes_of("Wikipedia")), 0x11E60398u);
}

TEST(Checksum, Adler32ReducesLongInputsAcrossBlocks) {
    // All 0xFF bytes drive both sums as fast as they can grow; the definition reduced after
    // every byte is the measure.
    for (std::size_t n : {3853u, 3854u, 3855u, 100000u}) {
        std::vector<std::uint8_t> data(n, 0xFF);
        std::uint64_t a = 1, b = 0;
        for (std::uint8_t x : data) {
            a = (a + x) % 65521;
            b = (b + a) % 65521;
        }
        EXPECT_EQ(adler32(data), (b << 16) | a) << n;
        // Pieces that straddle the block boundary in odd places give the same value.
        std::uint32_t running = adler32_update(adler32_initial, Bytes(data).first(n / 3));
        EXPECT_EQ(adler32_update(running, Bytes(data).subspan(n / 3)), (b << 16) | a) << n;
    }
}

TEST(Checksum, InternetChecksum) {
    struct Case {
        std::vector<std::uint8_t> data;
        std::uint16_t sum;
    } cases[] = {
        {{}, 0xFFFF},
        {{0x01}, 0xFFFE},  // an odd last byte is the low-order byte
        {{0x00, 0x01}, 0xFFFE},
        {{0x01, 0x00}, 0xFEFF},
        {{0xFF, 0xFF}, 0x0000},
        {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x220D},  // carries fold back in
        {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7, 0x10}, 0x21FD},
    };
    for (const Case& c : cases) EXPECT_EQ(tcp(c.data), c.sum) << hex_of(c.data);
}

TEST(Checksum, InternetChecksumOfInputsWhoseSumPassesThirtyTwoBits) {
    // 100,000 words of 0xFFFF sum past 2^32; folded, the sum is 0xFFFF and its complement 0.
    std::vector<std::uint8_t> ones(200000, 0xFF);
    EXPECT_EQ(tcp(ones), 0x0000);
    std::vector<std::uint8_t> mostly(200000, 0xFF);
    mostly.back() = 0xFE;  // one less in the sum
    EXPECT_EQ(tcp(mostly), 0x0001);
}

TEST(Checksum, MethodWordsIgnoreCase) {
    struct Case {
        std::string_view name;
        std::optional<Method> method;
        std::int32_t size;
    } cases[] = {
        {"tcp", Method::tcp, 0},         {"CRC32", Method::crc32, 0},     {"MD5", Method::md5, 16},
        {"Sha1", Method::sha1, 20},      {"sha256", Method::sha256, 32},  {"SHA384", Method::sha384, 48},
        {"sha512", Method::sha512, 64},  {"adler32", Method::adler32, 0}, {"Hash", Method::hash, 0},
        {"sha-1", std::nullopt, 0},      {"md", std::nullopt, 0},         {"", std::nullopt, 0},
        {"crc32 ", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(method_id(c.name), c.method) << c.name;
        EXPECT_EQ(method_q(c.name), c.method.has_value()) << c.name;
        if (c.method) {
            EXPECT_EQ(digest_size(*c.method), c.size) << c.name;
        }
    }
    // The ids that the value layer stores.
    EXPECT_EQ(static_cast<int>(Method::tcp), 0);
    EXPECT_EQ(static_cast<int>(Method::crc32), 1);
    EXPECT_EQ(static_cast<int>(Method::sha512), 6);
}

TEST(Checksum, DigestsOfAbc) {
    struct Case {
        Method method;
        std::string_view hex;
    } cases[] = {
        {Method::md5, "900150983cd24fb0d6963f7d28e17f72"},
        {Method::sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Method::sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Method::sha384,
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {Method::sha512,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        auto d = digest(bytes_of("abc"), c.method);
        ASSERT_TRUE(d) << c.hex;
        EXPECT_EQ(static_cast<std::int32_t>(d->size), digest_size(c.method));
        EXPECT_EQ(hex_of(d->view()), c.hex);
    }
    EXPECT_EQ(hex_of(digest({}, Method::md5)->view()), "d41d8cd98f00b204e9800998ecf8427e");
    for (Method m : {Method::tcp, Method::crc32, Method::adler32, Method::hash}) {
        EXPECT_FALSE(digest(bytes_of("abc"), m)) << static_cast<int>(m);
        EXPECT_FALSE(hmac(bytes_of("abc"), bytes_of("key"), m)) << static_cast<int>(m);
    }
}

TEST(Checksum, HmacPublishedVectors) {
    const std::vector<std::uint8_t> k0b16(16, 0x0B), k0b20(20, 0x0B), aa80(80, 0xAA), aa131(131, 0xAA);
    const std::string_view hi = "Hi There", jefe_text = "what do ya want for nothing?",
                           big = "Test Using Larger Than Block-Size Key - Hash Key First";
    struct Case {
        Method method;
        Bytes key;
        std::string_view message;
        std::string_view hex;
    } cases[] = {
        {Method::md5, k0b16, hi, "9294727a3638bb1c13f48ef8158bfc9d"},
        {Method::md5, bytes_of("Jefe"), jefe_text, "750c783e6ab0b503eaa86e310a5db738"},
        {Method::md5, aa80, big, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {Method::sha1, k0b20, hi, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {Method::sha1, bytes_of("Jefe"), jefe_text, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Method::sha1, aa80, big, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Method::sha256, k0b20, hi, "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {Method::sha256, bytes_of("Jefe"), jefe_text,
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Method::sha256, aa131, big, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Method::sha384, k0b20, hi,
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
        {Method::sha384, bytes_of("Jefe"), jefe_text,
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
        {Method::sha384, aa131, big,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {Method::sha512, k0b20, hi,
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
         "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
        {Method::sha512, bytes_of("Jefe"), jefe_text,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
         "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
        {Method::sha512, aa131, big,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
         "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
    };
    for (const Case& c : cases) {
        auto d = hmac(bytes_of(c.message), c.key, c.method);
        ASSERT_TRUE(d) << c.hex;
        EXPECT_EQ(hex_of(d->view()), c.hex);
    }
}

TEST(Checksum, HmacHashesOnlyKeysLongerThanTheMethodsBlock) {
    // Keys of exactly a block are used as they stand; one byte more is hashed first; and
    // the SHA-384/512 block is 128 bytes, so a 100-byte key is still used as it stands.
    const auto k64 = counting_bytes(64), k65 = counting_bytes(65), k100 = counting_bytes(100),
               k128 = counting_bytes(128);
    struct Case {
        Method method;
        Bytes key;
        std::string_view hex;
    } cases[] = {
        {Method::sha256, k64, "eb97f15211c02e38e3213edb045e8301601867c1cd49df01c687eb04f8909e98"},
        {Method::md5, k65, "f018983b614b4b795c7607732f54fbff"},
        {Method::sha384, k100,
         "377935cf32a8baa709ffde92a91a3a4d762e23b1ca7d6255098532fbc462eac92f66c362a373a03467ac2e381f1639d8"},
        {Method::sha512, k128,
         "09e8b25a533757b91bf999fcbeac8508f1c072880ef4249615cb761e9e70010c"
         "d6ba08c16d6e2b02f6cd49aec8f7e08f621177eb36fb0146e235ed8594a143ae"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex_of(hmac(bytes_of("message"), c.key, c.method)->view()), c.hex);
}

namespace {

std::string runtime_printed;
void keep_runtime_output(const char* text, size_t length, int32_t) { runtime_printed.append(text, length); }

// Sends the runtime printer's output nowhere and keeps what its hooks see.
class NativeCore : public testing::Test {
protected:
    void SetUp() override {
        sink_ = open("/dev/null", O_WRONLY);
        ASSERT_GE(sink_, 0);
        saved_ = zuv::stdio::output_fd;
        zuv::stdio::output_fd = sink_;
        zuv::stdio::init();
        zuv::runtime::init_output_hooks();
        zuv::runtime::add_output_hooks(nullptr, keep_runtime_output);
        runtime_printed.clear();
    }
    void TearDown() override {
        zuv::runtime::remove_output_hooks(nullptr, keep_runtime_output);
        zuv::stdio::flush_pending();
        zuv::stdio::output_fd = saved_;
        close(sink_);
    }
    int sink_ = -1;
    int saved_ = 1;
};

}  // namespace

TEST_F(NativeCore, IntegerMethodsGiveThe32BitPatternAndRefuseWith) {
    const Bytes digits = bytes_of("123456789");
    struct Case {
        Method method;
        std::int32_t value;
    } cases[] = {
        {Method::crc32, static_cast<std::int32_t>(0xCBF43926)},  // negative as an integer!
        {Method::adler32, 0x091E01DE},
        {Method::tcp, 0xFFFF & ~(0x3132 + 0x3334 + 0x3536 + 0x3738 + 0x39)},
    };
    for (const Case& c : cases) {
        Result r = compute(digits, c.method, {});
        EXPECT_EQ(r.status, Status::ok);
        EXPECT_TRUE(r.is_integer);
        EXPECT_EQ(r.integer, c.value) << static_cast<int>(c.method);
        for (With::Kind k : {With::Kind::key, With::Kind::integer, With::Kind::other}) {
            Result refused = compute(digits, c.method, {k, bytes_of("key")});
            EXPECT_EQ(refused.status, Status::invalid_refine_arg_method) << static_cast<int>(c.method);
        }
    }
    EXPECT_EQ(compute({}, Method::crc32, {}).integer, 0);
    EXPECT_EQ(compute(std::vector<std::uint8_t>{0x01}, Method::tcp, {}).integer, 0xFFFE);
    EXPECT_EQ(runtime_printed, "");
}

TEST_F(NativeCore, DigestMethodsGiveBinariesAndHmacWithAKey) {
    Result plain = compute(bytes_of("abc"), Method::md5, {});
    EXPECT_EQ(plain.status, Status::ok);
    EXPECT_FALSE(plain.is_integer);
    EXPECT_EQ(hex_of(plain.binary), "900150983cd24fb0d6963f7d28e17f72");

    Result keyed = compute(bytes_of("what do ya want for nothing?"), Method::sha1, {With::Kind::key, bytes_of("Jefe")});
    EXPECT_EQ(keyed.status, Status::ok);
    EXPECT_EQ(hex_of(keyed.binary), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");

    // An empty key is still a key.
    Result empty_key = compute(bytes_of("abc"), Method::sha256, {With::Kind::key, {}});
    EXPECT_EQ(empty_key.binary.size(), 32u);
    EXPECT_NE(empty_key.binary, compute(bytes_of("abc"), Method::sha256, {}).binary);

    EXPECT_EQ(compute(bytes_of("abc"), Method::sha1, {With::Kind::other, {}}).status, Status::invalid_refine_arg_spec);
    EXPECT_EQ(runtime_printed, "");
}

TEST_F(NativeCore, HashMethodNeedsAnIntegerSpec) {
    EXPECT_EQ(compute(bytes_of("abc"), Method::hash, {}).status, Status::invalid_arg);
    EXPECT_EQ(compute(bytes_of("abc"), Method::hash, {With::Kind::key, bytes_of("k")}).status,
              Status::invalid_refine_arg_spec);
    EXPECT_EQ(compute(bytes_of("abc"), Method::hash, {With::Kind::other, {}}).status, Status::invalid_refine_arg_spec);
    EXPECT_EQ(runtime_printed, "");
}

TEST_F(NativeCore, IntegerSpecIsNotSupportedAndGivesZero) {
    for (Method m : {Method::sha1, Method::hash, Method::md5}) {
        runtime_printed.clear();
        Result r = compute(bytes_of("abc"), m, {With::Kind::integer, {}});
        EXPECT_EQ(r.status, Status::ok);
        EXPECT_TRUE(r.is_integer);
        EXPECT_EQ(r.integer, 0);
        EXPECT_EQ(runtime_printed, "** /hash support not yet implemented; algorithm TBD.\n");
    }
}
