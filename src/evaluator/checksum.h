// Checksums and digests over plain bytes: CRC-32, Adler-32 and the Internet checksum of our
// own, MD5 and the SHA family through libcrypto, and HMAC over those digests. Errors come
// back as a Status naming the language error that the value-level caller raises.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zuv::checksum {

using Bytes = std::span<const std::uint8_t>;

// Method ids: tcp to sha512 are the digest ids that the value layer stores and passes
// around; adler32 and hash follow them, and neither has a digest.
enum class Method : std::int32_t {
    tcp = 0,
    crc32 = 1,
    md5 = 2,
    sha1 = 3,
    sha256 = 4,
    sha384 = 5,
    sha512 = 6,
    adler32 = 7,
    hash = 8,
};

// The method for a method word's name, compared without regard to ASCII case (as the
// canonical symbol would be); none for any other word, which the caller raises as
// script/invalid-arg with the method.
std::optional<Method> method_id(std::string_view name);
bool method_q(std::string_view name);

// Digest bytes of a method: 16, 20, 32, 48, 64 for md5 to sha512; 0 for the others.
std::int32_t digest_size(Method method);

// CRC-32 of IEEE 802.3 and zlib (reflected 0xEDB88320). crc32_update continues a running
// value: start from crc32_initial and feed the pieces in order; the running value is the
// finished CRC of everything fed so far.
constexpr std::uint32_t crc32_initial = 0;
std::uint32_t crc32_update(std::uint32_t crc, Bytes data);
std::uint32_t crc32(Bytes data);

// Adler-32 of zlib streams, (b << 16) | a. adler32_update continues a running value that
// starts at adler32_initial.
constexpr std::uint32_t adler32_initial = 1;
std::uint32_t adler32_update(std::uint32_t adler, Bytes data);
std::uint32_t adler32(Bytes data);

// The Internet checksum: the complemented one's-complement sum of big-endian 16-bit words,
// an odd last byte counting as a low-order byte.
std::uint16_t tcp(Bytes data);

// A digest, up to 64 bytes; size says how many are valid.
struct Digest {
    std::array<std::uint8_t, 64> bytes{};
    std::size_t size = 0;

    Bytes view() const { return {bytes.data(), size}; }
};

// MD5 or a SHA digest of the data. None for a method without a digest (script/invalid-arg)
// and when the crypto library refuses the algorithm (e.g. MD5 under a FIPS policy).
std::optional<Digest> digest(Bytes data, Method method);

// HMAC of the message under the key with the method's digest. None as for digest.
std::optional<Digest> hmac(Bytes message, Bytes key, Method method);

// The `checksum` native's work once its data has become bytes (a string! as UTF-8 from
// its head, a binary! from its head, a file! read whole) and its method word an id.
struct With {
    enum class Kind {
        none,     // no /with
        key,      // a string! (as UTF-8) or binary! spec: the key bytes below
        integer,  // an integer! spec (a hash-table size)
        other,    // any other datatype
    };
    Kind kind = Kind::none;
    Bytes key{};
};

enum class Status {
    ok,
    invalid_arg,                // script/invalid-arg with the method
    invalid_refine_arg_method,  // script/invalid-refine-arg with /with and the method
    invalid_refine_arg_spec,    // script/invalid-refine-arg with /with and the spec
};

struct Result {
    Status status = Status::ok;
    bool is_integer = false;            // an integer! result, else a new binary!
    std::int32_t integer = 0;           // CRC-32 and Adler-32 as the 32-bit pattern
    std::vector<std::uint8_t> binary;
};

// An integer spec is not supported: it writes "** /hash support not yet implemented;
// algorithm TBD." through the runtime printer and gives the integer 0.
Result compute(Bytes data, Method method, const With& with);

}  // namespace zuv::checksum
