// Checksums and digests over plain bytes. CRC-32, Adler-32, the Internet checksum and HMAC
// are computed here; the digests themselves come from libcrypto's EVP interface.
#include "evaluator/checksum.h"

#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <initializer_list>
#include <memory>

#include "runtime/print.h"
#include "runtime/shared-library.h"

namespace zuv::checksum {

namespace {

struct MethodName {
    std::string_view name;
    Method method;
};

constexpr MethodName method_names[] = {
    {"tcp", Method::tcp},       {"md5", Method::md5},         {"sha1", Method::sha1},
    {"crc32", Method::crc32},   {"adler32", Method::adler32}, {"sha256", Method::sha256},
    {"sha384", Method::sha384}, {"sha512", Method::sha512},   {"hash", Method::hash},
};

bool same_ascii_folded(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

constexpr auto crc32_table = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// Bytes per Adler-32 block: small enough that neither sum can overflow 32 bits before
// it is reduced, whatever running value the block starts from.
constexpr std::size_t adler32_block = 3854;
constexpr std::uint32_t adler32_modulus = 65521;

// libcrypto's digest entries, found when the first digest is asked for.
struct Crypto {
    decltype(&EVP_md5) md5 = nullptr;
    decltype(&EVP_sha1) sha1 = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&EVP_sha384) sha384 = nullptr;
    decltype(&EVP_sha512) sha512 = nullptr;
    decltype(&EVP_MD_CTX_new) ctx_new = nullptr;
    decltype(&EVP_MD_CTX_free) ctx_free = nullptr;
    decltype(&EVP_DigestInit_ex) init = nullptr;
    decltype(&EVP_DigestUpdate) update = nullptr;
    decltype(&EVP_DigestFinal_ex) final = nullptr;
};

// Null when libcrypto cannot be opened: the digest is then missing, as for a failure inside.
const Crypto* crypto() {
    static const Crypto* ready = []() -> const Crypto* {
        static runtime::SharedLibrary library{"libcrypto.so.3", "libcrypto.so"};
        static Crypto api;
        bool found = library.bind(api.md5, "EVP_md5") && library.bind(api.sha1, "EVP_sha1") &&
                     library.bind(api.sha256, "EVP_sha256") && library.bind(api.sha384, "EVP_sha384") &&
                     library.bind(api.sha512, "EVP_sha512") && library.bind(api.ctx_new, "EVP_MD_CTX_new") &&
                     library.bind(api.ctx_free, "EVP_MD_CTX_free") && library.bind(api.init, "EVP_DigestInit_ex") &&
                     library.bind(api.update, "EVP_DigestUpdate") && library.bind(api.final, "EVP_DigestFinal_ex");
        return found ? &api : nullptr;
    }();
    return ready;
}

const EVP_MD* algorithm(const Crypto& api, Method method) {
    switch (method) {
    case Method::md5: return api.md5();
    case Method::sha1: return api.sha1();
    case Method::sha256: return api.sha256();
    case Method::sha384: return api.sha384();
    case Method::sha512: return api.sha512();
    default: return nullptr;
    }
}

// One digest over several pieces taken in order, so HMAC needs no concatenated copy.
std::optional<Digest> digest_of(Method method, std::initializer_list<Bytes> pieces) {
    const Crypto* api = crypto();
    if (!api) return std::nullopt;
    const EVP_MD* md = algorithm(*api, method);
    if (!md) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(api->ctx_new(), api->ctx_free);
    if (!ctx || api->init(ctx.get(), md, nullptr) != 1) return std::nullopt;
    for (Bytes piece : pieces)
        if (api->update(ctx.get(), piece.data(), piece.size()) != 1) return std::nullopt;
    Digest out;
    unsigned int size = 0;
    if (api->final(ctx.get(), out.bytes.data(), &size) != 1) return std::nullopt;
    out.size = size;
    return out;
}

std::size_t hmac_block_size(Method method) {
    return method == Method::sha384 || method == Method::sha512 ? 128 : 64;
}

}  // namespace

std::optional<Method> method_id(std::string_view name) {
    for (const MethodName& m : method_names)
        if (same_ascii_folded(name, m.name)) return m.method;
    return std::nullopt;
}

bool method_q(std::string_view name) { return method_id(name).has_value(); }

std::int32_t digest_size(Method method) {
    switch (method) {
    case Method::md5: return 16;
    case Method::sha1: return 20;
    case Method::sha256: return 32;
    case Method::sha384: return 48;
    case Method::sha512: return 64;
    default: return 0;
    }
}

std::uint32_t crc32_update(std::uint32_t crc, Bytes data) {
    crc = ~crc;
    for (std::uint8_t byte : data) crc = crc32_table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t crc32(Bytes data) { return crc32_update(crc32_initial, data); }

std::uint32_t adler32_update(std::uint32_t adler, Bytes data) {
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    while (!data.empty()) {
        std::size_t n = std::min(data.size(), adler32_block);
        for (std::uint8_t byte : data.first(n)) {
            a += byte;
            b += a;
        }
        a %= adler32_modulus;
        b %= adler32_modulus;
        data = data.subspan(n);
    }
    return (b << 16) | a;
}

std::uint32_t adler32(Bytes data) { return adler32_update(adler32_initial, data); }

std::uint16_t tcp(Bytes data) {
    // 64 bits so that no input length can overflow the sum before it is folded.
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < data.size(); i += 2) sum += (std::uint32_t{data[i]} << 8) | data[i + 1];
    if (i < data.size()) sum += data[i];
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<std::uint16_t>(~sum);
}

std::optional<Digest> digest(Bytes data, Method method) { return digest_of(method, {data}); }

std::optional<Digest> hmac(Bytes message, Bytes key, Method method) {
    if (digest_size(method) == 0) return std::nullopt;
    const std::size_t block = hmac_block_size(method);

    std::optional<Digest> hashed_key;
    if (key.size() > block) {
        hashed_key = digest(key, method);
        if (!hashed_key) return std::nullopt;
        key = hashed_key->view();
    }
    std::array<std::uint8_t, 128> inner_pad{};
    std::array<std::uint8_t, 128> outer_pad{};
    std::copy(key.begin(), key.end(), inner_pad.begin());
    std::copy(key.begin(), key.end(), outer_pad.begin());
    for (std::size_t i = 0; i < block; ++i) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    std::optional<Digest> inner = digest_of(method, {Bytes(inner_pad.data(), block), message});
    if (!inner) return std::nullopt;
    return digest_of(method, {Bytes(outer_pad.data(), block), inner->view()});
}

Result compute(Bytes data, Method method, const With& with) {
    Result r;
    const bool integer_method = method == Method::crc32 || method == Method::tcp || method == Method::adler32;
    if (integer_method) {
        if (with.kind != With::Kind::none) {
            r.status = Status::invalid_refine_arg_method;
            return r;
        }
        r.is_integer = true;
        switch (method) {
        case Method::crc32: r.integer = std::bit_cast<std::int32_t>(crc32(data)); break;
        case Method::adler32: r.integer = std::bit_cast<std::int32_t>(adler32(data)); break;
        default: r.integer = tcp(data); break;
        }
        return r;
    }

    std::optional<Digest> d;
    switch (with.kind) {
    case With::Kind::none:
        if (method == Method::hash) {
            r.status = Status::invalid_arg;
            return r;
        }
        d = digest(data, method);
        break;
    case With::Kind::key:
        if (method == Method::hash) {
            r.status = Status::invalid_refine_arg_spec;
            return r;
        }
        d = hmac(data, with.key, method);
        break;
    case With::Kind::integer:
        runtime::print_line({"** /hash support not yet implemented; algorithm TBD."});
        r.is_integer = true;
        return r;
    case With::Kind::other:
        r.status = Status::invalid_refine_arg_spec;
        return r;
    }
    if (!d) {
        r.status = Status::invalid_arg;
        return r;
    }
    r.binary.assign(d->bytes.begin(), d->bytes.begin() + static_cast<std::ptrdiff_t>(d->size));
    return r;
}

}  // namespace zuv::checksum
