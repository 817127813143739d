// binary! bytes for the natives and the base 2, 16, 58 and 64 text encodings.
#include "datatypes/binary-base.h"

#include <cstring>

#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/memory.h"
#include "memory/stack.h"

namespace zuv::binary {

namespace {

constexpr std::string_view base58_alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr std::string_view base64_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char hex_digits[] = "0123456789ABCDEF";

// Base 2 and 16 skip every control character and the space; bases 58 and 64 only the
// blanks and the apostrophe.
bool low_blank_q(char32_t c) { return c <= U' '; }
bool text_blank_q(char32_t c) { return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == 39; }

// Walks the text, giving each character that is neither skipped nor inside a comment to
// take; take returns false to fail the decoding and stop reports the end of the data.
template <class Skip, class Take>
bool walk(std::u32string_view text, Skip skip, Take take) {
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c == U';') {
            while (i < text.size() && text[i] != U'\n') ++i;
            continue;
        }
        if (skip(c)) continue;
        switch (take(c)) {
            case 0: return false;
            case 2: return true;
            default: break;
        }
    }
    return true;
}

int hex_value(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    return -1;
}

int alphabet_value(std::string_view alphabet, char32_t c) {
    if (c > 127) return -1;
    size_t i = alphabet.find(static_cast<char>(c));
    return i == std::string_view::npos ? -1 : static_cast<int>(i);
}

}  // namespace

Cell* load(const uint8_t* bytes, size_t count) {
    Ref node = memory::alloc_bytes(static_cast<int64_t>(count));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (count) std::memcpy(b->head_ptr(), bytes, count);
    b->tail = b->head + static_cast<uint32_t>(count);
    Cell v;
    series::make_at(&v, Type::binary, node);
    return stack::push(&v);
}

std::span<const uint8_t> bytes_of(const Cell* b) {
    int32_t n = series::buffer_length(b) - series::head(b);
    if (n <= 0) return {};
    return {series::head_address(b), static_cast<size_t>(n)};
}

std::optional<std::vector<uint8_t>> data_bytes(const Cell* value) {
    if (value->is(Type::binary)) {
        std::span<const uint8_t> b = bytes_of(value);
        return std::vector<uint8_t>(b.begin(), b.end());
    }
    if (!string::family_q(value->type())) return std::nullopt;
    std::string utf8 = string::to_utf8(value);
    return std::vector<uint8_t>(utf8.begin(), utf8.end());
}

uint64_t encoded_size(uint64_t n, int32_t base) {
    switch (base) {
        case 2: return n * 8;
        case 16: return n * 2;
        case 58: return n * 138 / 100 + 1;
        default: return (n + 2) / 3 * 4;
    }
}

std::string encode_base2(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 8);
    for (uint8_t b : bytes)
        for (int bit = 7; bit >= 0; --bit) out.push_back((b >> bit) & 1 ? '1' : '0');
    return out;
}

std::string encode_base16(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(hex_digits[b >> 4]);
        out.push_back(hex_digits[b & 15]);
    }
    return out;
}

std::string encode_base58(std::span<const uint8_t> bytes) {
    size_t zeros = 0;
    while (zeros < bytes.size() && bytes[zeros] == 0) ++zeros;
    // Repeated division of the rest by 58, on a work copy; digits come least significant first.
    std::vector<uint8_t> work(bytes.begin() + static_cast<std::ptrdiff_t>(zeros), bytes.end());
    std::string digits;
    size_t start = 0;
    while (start < work.size()) {
        uint32_t remainder = 0;
        for (size_t i = start; i < work.size(); ++i) {
            uint32_t acc = (remainder << 8) | work[i];
            work[i] = static_cast<uint8_t>(acc / 58);
            remainder = acc % 58;
        }
        digits.push_back(base58_alphabet[remainder]);
        while (start < work.size() && work[start] == 0) ++start;
    }
    std::string out(zeros, '1');
    out.append(digits.rbegin(), digits.rend());
    return out;
}

std::string encode_base64(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(encoded_size(bytes.size(), 64));
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        for (int k = 3; k >= 0; --k) out.push_back(base64_alphabet[(v >> (6 * k)) & 63]);
    }
    size_t rest = bytes.size() - i;
    if (rest) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (rest == 2) v |= uint32_t(bytes[i + 1]) << 8;
        out.push_back(base64_alphabet[(v >> 18) & 63]);
        out.push_back(base64_alphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? base64_alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::vector<uint8_t>> decode_base2(std::u32string_view text) {
    std::vector<uint8_t> out;
    uint32_t byte = 0;
    int bits = 0;
    bool ok = walk(text, low_blank_q, [&](char32_t c) {
        if (c != U'0' && c != U'1') return 0;
        byte = (byte << 1) | (c == U'1');
        if (++bits == 8) {
            out.push_back(static_cast<uint8_t>(byte));
            byte = 0, bits = 0;
        }
        return 1;
    });
    if (!ok || bits != 0) return std::nullopt;
    return out;
}

std::optional<std::vector<uint8_t>> decode_base16(std::u32string_view text) {
    std::vector<uint8_t> out;
    int high = -1;
    // A character past ASCII is refused rather than read modulo 128, which would take
    // U+00B0 for the digit 0.
    bool ok = walk(text, low_blank_q, [&](char32_t c) {
        int v = c > 127 ? -1 : hex_value(c);
        if (v < 0) return 0;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
        return 1;
    });
    if (!ok) return std::nullopt;
    return out;  // a trailing odd digit is dropped
}

std::optional<std::vector<uint8_t>> decode_base58(std::u32string_view text) {
    std::vector<char32_t> digits;
    // A character past ASCII fails the text as any other stranger does, instead of ending the
    // data silently there.
    bool ok = walk(text, text_blank_q, [&](char32_t c) {
        if (alphabet_value(base58_alphabet, c) < 0) return 0;
        digits.push_back(c);
        return 1;
    });
    if (!ok) return std::nullopt;
    size_t ones = 0;
    while (ones < digits.size() && digits[ones] == U'1') ++ones;
    // Big-endian accumulation: number = number * 58 + digit.
    std::vector<uint8_t> number;
    for (size_t i = ones; i < digits.size(); ++i) {
        uint32_t carry = static_cast<uint32_t>(alphabet_value(base58_alphabet, digits[i]));
        for (size_t k = number.size(); k-- > 0;) {
            uint32_t acc = uint32_t(number[k]) * 58 + carry;
            number[k] = static_cast<uint8_t>(acc);
            carry = acc >> 8;
        }
        while (carry) {
            number.insert(number.begin(), static_cast<uint8_t>(carry));
            carry >>= 8;
        }
    }
    std::vector<uint8_t> out(ones, 0);
    out.insert(out.end(), number.begin(), number.end());
    return out;
}

std::optional<std::vector<uint8_t>> decode_base64(std::u32string_view text) {
    std::vector<uint8_t> out;
    uint32_t group = 0;
    int count = 0;
    bool padded = false;
    bool ok = walk(text, text_blank_q, [&](char32_t c) {
        if (c == U'=') {
            padded = true;
            return 2;
        }
        int v = alphabet_value(base64_alphabet, c);
        if (v < 0) return 0;
        group = (group << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(group >> 16));
            out.push_back(static_cast<uint8_t>(group >> 8));
            out.push_back(static_cast<uint8_t>(group));
            group = 0, count = 0;
        }
        return 1;
    });
    if (!ok) return std::nullopt;
    // The padding (or the end of the text) closes a group of two or three characters; a lone
    // character, or padding with no group open, is no data.
    if (count == 1 || (padded && count == 0)) return std::nullopt;
    if (count == 2) out.push_back(static_cast<uint8_t>(group >> 4));
    if (count == 3) {
        out.push_back(static_cast<uint8_t>(group >> 10));
        out.push_back(static_cast<uint8_t>(group >> 2));
    }
    return out;
}

}  // namespace zuv::binary
