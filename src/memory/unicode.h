// Unicode at the system's edge: UTF-8, UTF-16LE and Windows-1251 decoding and encoding over
// plain bytes, and the display width of a code point. Nothing here allocates or raises: where
// the language raises an error the result names it (Error) and the string layer raises it.
#pragma once
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zuv::unicode {

constexpr uint32_t max_code_point = 0x10FFFF;

// The language error a result stands for; the caller raises it through the error layer.
enum class Error : uint8_t {
    none = 0,
    invalid_char,   // script/invalid-char; argument: the code point as an integer!
    invalid_utf8,   // access/invalid-utf8; argument: the sequence's bytes as a binary!
    invalid_utf16,  // a high surrogate with no low surrogate after it: raised as
                    // access/invalid-utf8 too; argument: the offending units' bytes as a binary!
};

// ---------------------------------------------------------------------------------------------
// Automaton decoding (the lexer's decoder)

// Byte classes (256 entries), then the transition table (108 entries) indexed by
// 256 + state + class. States are multiples of 12: 0 accept, 12 reject.
extern const uint8_t utf8_dfa[256 + 108];
constexpr uint8_t dfa_accept = 0;
constexpr uint8_t dfa_reject = 12;

// Decodes one sequence at p and gives the position after it. code_point is -1 when the
// automaton rejects: a bad lead byte is consumed alone, a bad continuation byte with the
// sequence. Reaching end inside a sequence is a rejection too and gives end. p < end.
const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& code_point);

// Code points between start and end (a rejected sequence counts as one).
size_t count_utf8_chars(const uint8_t* start, const uint8_t* end);

// Position after n code points from p, stopping at end.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, size_t n);

// 4 for F0-FF, 3 for E0-EF, 2 for C0-DF, 0 for any other byte (ASCII included).
constexpr int utf8_sequence_length(uint8_t lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
}

// ---------------------------------------------------------------------------------------------
// Checked decoding (loading text)

struct CheckedChar {
    enum Kind : uint8_t {
        ok,
        cut_short,  // not enough bytes left for the sequence the lead byte announces
        malformed,  // Error::invalid_utf8
    } kind;
    uint32_t code_point;  // when ok
    uint32_t length;      // bytes of the sequence when ok
};

// Lenient on purpose, so text written by older tools still loads: overlong two-, three- and
// four-byte forms and every surrogate but U+DC00-U+DCFF are accepted. Malformed: a stray
// continuation byte, a missing one, F8-FF, a value above U+10FFFF, U+DC00-U+DCFF and U+FFFE
// (the decoder's own "malformed" mark). available > 0.
CheckedChar decode_utf8_char_checked(const uint8_t* p, size_t available);

// ---------------------------------------------------------------------------------------------
// Encoding

// 1, 2, 3 or 4; 0 above U+10FFFF (Error::invalid_char).
constexpr int utf8_char_size(uint32_t code_point) {
    return code_point <= 0x7F ? 1 : code_point <= 0x7FF ? 2 : code_point <= 0xFFFF ? 3
         : code_point <= max_code_point ? 4 : 0;
}

// Writes 1-4 bytes and gives their count; writes nothing and gives 0 above U+10FFFF
// (Error::invalid_char).
int encode_utf8_char(uint32_t code_point, uint8_t* dest);

// Writes the leading bytes of the sequence that fit in room (none when room <= 0) and gives
// how many were written; 0 above U+10FFFF.
int encode_utf8_char_bounded(uint32_t code_point, uint8_t* dest, int64_t room);

// Writes one unit below U+10000 or a surrogate pair and gives 1 or 2; 0 above U+10FFFF.
int encode_utf16_char(uint32_t code_point, char16_t* dest);

// The narrowest string unit (1, 2 or 4 bytes) that holds the code point.
constexpr uint32_t unit_for(uint32_t code_point) {
    return code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4;
}

// ---------------------------------------------------------------------------------------------
// Whole texts in
//
// Each loader hands the decoded code points one by one to put(uint32_t) and leaves storing
// (and widening the destination's unit) to the caller.

// The CR LF rule of text loading: a CR right before an LF is dropped, a lone CR becomes LF.
// Gives the code point to store for the byte at p, or -1 for none.
inline int32_t crlf_byte(const uint8_t* p, const uint8_t* end) {
    if (*p != '\r') return *p;
    return p + 1 < end && p[1] == '\n' ? -1 : '\n';
}

struct Utf8Load {
    Error error = Error::none;  // Error::invalid_utf8 or none
    size_t bytes_left = 0;      // bytes of a sequence cut short at the end, for the next chunk;
                                // 0 when all were used (the out-parameter is then left as it was)
    size_t bad_offset = 0;      // on error: offset of the malformed sequence's first byte
    uint8_t bad_bytes[4] = {};  // on error: up to four bytes from that offset (the error's argument)
    uint8_t bad_size = 0;       // how many of them the input had
};

// Decodes UTF-8 text: a leading byte-order mark is skipped (when more than two bytes are
// given), code points go to put, a sequence cut short at the end stops the loop and is counted
// in bytes_left; a malformed one stops it with the error.
template <class Put>
Utf8Load load_utf8(const uint8_t* bytes, size_t count, bool crlf, Put&& put) {
    Utf8Load result;
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + count;
    if (count > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    while (p < end) {
        if (*p < 0x80) {
            int32_t c = crlf ? crlf_byte(p, end) : *p;
            if (c >= 0) put(static_cast<uint32_t>(c));
            ++p;
            continue;
        }
        CheckedChar ch = decode_utf8_char_checked(p, static_cast<size_t>(end - p));
        if (ch.kind == CheckedChar::cut_short) {
            result.bytes_left = static_cast<size_t>(end - p);
            break;
        }
        if (ch.kind == CheckedChar::malformed) [[unlikely]] {
            result.error = Error::invalid_utf8;
            result.bad_offset = static_cast<size_t>(p - bytes);
            while (result.bad_size < 4 && p + result.bad_size < end) {
                result.bad_bytes[result.bad_size] = p[result.bad_size];
                ++result.bad_size;
            }
            break;
        }
        put(ch.code_point);
        p += ch.length;
    }
    return result;
}

// The unit a UTF-16LE text needs: 4 when any unit is a surrogate (high byte D8-DF), else 2
// when any unit is above 0xFF, else 1. The text is count units of little-endian bytes.
uint32_t utf16_unit_width(const uint8_t* units, size_t count);

inline uint16_t utf16_unit_at(const uint8_t* units, size_t i) {
    return static_cast<uint16_t>(units[2 * i] | units[2 * i + 1] << 8);
}

struct Utf16Load {
    Error error = Error::none;  // Error::invalid_utf16 or none
    size_t bad_index = 0;       // on error: index of the unpaired high surrogate; the error's
                                // argument is its bytes and those of the unit after it, if any
};

// Decodes count UTF-16LE units (read as bytes: no alignment needed) at the given width (from
// utf16_unit_width). Only at width 4 are surrogates paired; a lone low surrogate is kept as
// it is, a high surrogate with no low one after it stops with Error::invalid_utf16. With the
// cr option every unit 000D is dropped.
template <class Put>
Utf16Load load_utf16(const uint8_t* units, size_t count, uint32_t width, bool cr, Put&& put) {
    Utf16Load result;
    for (size_t i = 0; i < count; ++i) {
        uint32_t u = utf16_unit_at(units, i);
        if (cr && u == '\r') continue;
        if (width == 4 && u >= 0xD800 && u <= 0xDBFF) {
            uint32_t low = i + 1 < count ? utf16_unit_at(units, i + 1) : 0;
            if (low < 0xDC00 || low > 0xDFFF) [[unlikely]] {
                result.error = Error::invalid_utf16;
                result.bad_index = i;
                return result;
            }
            u = (((u & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
            ++i;
        } else if (width == 1) {
            u &= 0xFF;
        }
        put(u);
    }
    return result;
}

// Code point of a Windows-1251 byte (the undefined 98 stands for U+0098).
uint32_t cp1251_to_code_point(uint8_t byte);

// Decodes Windows-1251 text, with the CR LF rule when asked. Most of the upper half lies above
// U+00FF, so a unit-1 destination must widen as for UTF-8: keeping its unit would cut letters.
template <class Put>
void load_cp1251(const uint8_t* bytes, size_t count, bool crlf, Put&& put) {
    const uint8_t* end = bytes + count;
    for (const uint8_t* p = bytes; p < end; ++p) {
        if (*p >= 0x80) {
            put(cp1251_to_code_point(*p));
            continue;
        }
        int32_t c = crlf ? crlf_byte(p, end) : *p;
        if (c >= 0) put(static_cast<uint32_t>(c));
    }
}

// ---------------------------------------------------------------------------------------------
// Whole texts out
//
// The writers take code points from any iterator range (a string's units of 1, 2 or 4 bytes
// read as uint8_t, uint16_t or uint32_t) and write no NUL: the caller ends the text.

// Room in 16-bit units that utf16_write may need for the range with or without the CR LF
// option: one per code point, one more per LF and per code point above U+FFFF.
template <class It>
size_t utf16_size(It first, It last) {
    size_t n = 0;
    for (; first != last; ++first) {
        uint32_t c = static_cast<uint32_t>(*first);
        n += 1 + (c == '\n') + (c > 0xFFFF);
    }
    return n;
}

// Writes the UTF-16 form of the range at dest, a CR before every LF when crlf. Gives the
// units written, or nothing when a code point above U+10FFFF stops the conversion.
template <class It>
std::optional<size_t> utf16_write(It first, It last, char16_t* dest, bool crlf) {
    char16_t* out = dest;
    for (; first != last; ++first) {
        uint32_t c = static_cast<uint32_t>(*first);
        if (crlf && c == '\n') *out++ = u'\r';
        int n = encode_utf16_char(c, out);
        if (n == 0) return std::nullopt;
        out += n;
    }
    return static_cast<size_t>(out - dest);
}

struct Utf8Write {
    size_t size = 0;            // bytes written
    Error error = Error::none;  // Error::invalid_char
    uint32_t bad_code_point = 0;
};

// Bytes of the UTF-8 form of the range, a CR more per LF when crlf; stops at a code point
// above U+10FFFF with Error::invalid_char.
template <class It>
Utf8Write utf8_size(It first, It last, bool crlf = false) {
    Utf8Write result;
    for (; first != last; ++first) {
        uint32_t c = static_cast<uint32_t>(*first);
        int n = utf8_char_size(c);
        if (n == 0) [[unlikely]] {
            result.error = Error::invalid_char;
            result.bad_code_point = c;
            break;
        }
        result.size += static_cast<size_t>(n) + (crlf && c == '\n');
    }
    return result;
}

// Writes the UTF-8 form of the range at dest, a CR before every LF when crlf, never more than
// room bytes: the last sequence may be cut to its leading bytes. A code point above U+10FFFF
// stops the writing with Error::invalid_char.
template <class It>
Utf8Write utf8_write(It first, It last, uint8_t* dest, size_t room, bool crlf) {
    Utf8Write result;
    for (; first != last && result.size < room; ++first) {
        uint32_t c = static_cast<uint32_t>(*first);
        if (utf8_char_size(c) == 0) [[unlikely]] {
            result.error = Error::invalid_char;
            result.bad_code_point = c;
            break;
        }
        if (crlf && c == '\n') {
            dest[result.size++] = '\r';
            if (result.size == room) break;
        }
        int64_t left = static_cast<int64_t>(std::min<size_t>(room - result.size, 4));
        result.size += static_cast<size_t>(encode_utf8_char_bounded(c, dest + result.size, left));
    }
    return result;
}

// Each byte of a NUL-terminated text as one 16-bit unit, then a 16-bit NUL; gives the units
// written before the NUL.
size_t widen_cstring(const char* text, char16_t* dest);

// ---------------------------------------------------------------------------------------------
// Display width in a text terminal

// 0, 1 or 2 columns: 0 for U+0000 and the zero-width ranges, 1 for the other controls, 2 for
// the wide ranges, else 1.
int char_width(uint32_t code_point);

// As char_width, but East Asian ambiguous code points count 2 (CJK terminals).
int char_width_cjk(uint32_t code_point);

static_assert(std::endian::native == std::endian::little, "UTF-16 output is written in host order");

}  // namespace zuv::unicode
