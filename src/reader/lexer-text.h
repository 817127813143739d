// Text decoding shared by the lexer's checks and its loaders: UTF-8 sequences, caret escapes,
// the Unicode blank set, and the unit size that a string! built from a token needs.
// Pure functions over bytes: they build no values.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reader/lexer-tables.h"

namespace zuv::lexer {

// True when a token with these flags is ASCII whose bytes are its characters: no UTF-8
// sequence, no stray byte above 7F and, when carets are decoded, no `^`.
inline bool plain_text_q(uint32_t flags, bool carets) {
    return !(flags & (flag::utf8_wide | flag::utf8_4 | flag::high | (carets ? flag::caret : 0u)));
}

// Returned for a sequence or escape that does not decode.
inline constexpr int32_t invalid_code = -1;

// Decodes the UTF-8 sequence at text[i] and moves i past it. A malformed, overlong, surrogate
// or out-of-range sequence gives invalid_code and moves i by one byte.
int32_t decode_utf8(std::string_view text, size_t& i);

// The 21 code points that the lexer treats as blanks although the byte table does not:
// 0x85, 0xA0, 0x1680, 0x180E, 0x2000-0x200B, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000.
bool unicode_blank_q(uint32_t code);

// Decodes the escape whose `^` was just read: text[i] is the byte after it; moves i past the
// escape. `^(name)` (null back tab line page esc del, any case), `^(X)` to `^(XXXXXX)` (a code
// point up to 10FFFF), or `^` and one character. invalid_code when malformed.
int32_t decode_escape(std::string_view text, size_t& i);


// Decodes UTF-8 text, with caret escapes when `carets`, appending the code points to `out`
// when one is given. False at the first sequence or escape that does not decode.
bool decode_text(std::string_view text, bool carets, std::u32string* out = nullptr);

// What a text decodes to: its character count and largest code point. `plain` when each byte
// is an ASCII character of its own (no escape, no multi-byte sequence): the bytes are the text.
struct TextMeasure {
    size_t count = 0;
    uint32_t largest = 0;
    bool plain = true;
};

// Measures UTF-8 text, with caret escapes when `carets`; false when it does not decode.
bool measure_text(std::string_view text, bool carets, TextMeasure* measure);

// Writes the code points of a text that measure_text accepted, one unit of `unit` bytes each.
void write_text(std::string_view text, bool carets, uint8_t* out, uint32_t unit);

// The unit size (1, 2 or 4 bytes) of a string! built from a token's body, chosen from the
// token's flags (UTF-8 lead bytes seen) and, when a `^` occurred, widened for `^(...)`
// escapes of more than 2 or 4 hexadecimal digits.
int string_unit_size(std::string_view body, uint32_t flags);

}  // namespace zuv::lexer
