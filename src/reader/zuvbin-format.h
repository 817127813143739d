// The bytes of ZUVBIN that the encoder and the decoder agree on: header flags, the bits of
// a plain record's header word, the compact prefixes and tags, and which kinds share.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::zuvbin::format {

inline constexpr char magic[6] = {'Z', 'U', 'V', 'B', 'I', 'N'};
constexpr uint32_t header_size = 8;
constexpr uint8_t version = 2;       // what the encoders write
constexpr uint8_t boot_version = 1;  // what the boot data holds

namespace flag {
constexpr uint8_t compact = 1;
constexpr uint8_t compressed = 2;
constexpr uint8_t symbols = 4;
}  // namespace flag

// Plain record header word.
namespace plain {
constexpr uint32_t type_mask = 0xFF;
constexpr uint32_t reference_record = 0xFF;  // low byte of a reference record's word
constexpr uint32_t new_line = 0x80000000;
constexpr uint32_t reference = 0x80000;      // bit 19: the record is in reference form
constexpr uint32_t unit_shift = 8;           // string kinds: unit size; tuple!: byte count
constexpr uint32_t op_source_shift = 16;     // op!: datatype of the function it is made from
constexpr uint32_t money_negative = 1u << 22;
constexpr uint32_t bitset_complemented = 1u << 23;
constexpr uint32_t object_on_change = 1u << 24;
constexpr uint32_t word_global = 1u << 25;   // run-time form; the definition mark in boot form
constexpr uint32_t context_kind_shift = 26;
constexpr uint32_t context_self = 1u << 28;
constexpr uint32_t context_stack = 1u << 29;
constexpr uint32_t context_values = 1u << 30;
}  // namespace plain

// Compact prefixes and tags.
namespace compact {
constexpr uint8_t new_line = 0xC0;
constexpr uint8_t reference = 0xC1;
constexpr uint8_t definition = 0xC4;
constexpr uint8_t logic_true = 0xC2;
constexpr uint8_t logic_false = 0xC3;
constexpr uint8_t reference_record = 0xFF;
constexpr uint8_t small_integer = 0x80;  // 0x80-0xBF: integer! 0-63
constexpr uint8_t modifier = 0x40;       // the F bit of a datatype tag
constexpr uint8_t escaped_id = 0x3F;     // the datatype id follows as a varint
// Flags byte of a context record.
constexpr uint8_t context_kind_mask = 3;
constexpr uint8_t context_stack = 4;
constexpr uint8_t context_self = 8;
constexpr uint8_t context_values = 16;
}  // namespace compact

// The float and time values written in integer form in compact, and the percent values
// written as hundredths.
constexpr double integer_float_limit = 2147483000.0;
constexpr double percent_limit = 21474836.0;

// Kinds that the encoders refuse and the decoders reject: no encoding exists for them.
constexpr bool refused_q(Type t) {
    return t == Type::routine || t == Type::triple || t == Type::handle || t == Type::port || t == Type::event;
}

constexpr bool path_kind_q(Type t) { return in_family(family::any_path, t); }
constexpr bool list_kind_q(Type t) { return in_family(family::any_list, t); }
constexpr bool text_kind_q(Type t) { return in_family(family::any_string, t); }
constexpr bool word_kind_q(Type t) { return t >= Type::word && t <= Type::refinement; }

// Kinds that are written in reference form when met again: series by their buffer, the
// context-keyed kinds by their context.
constexpr bool shareable_q(Type t) {
    return text_kind_q(t) || list_kind_q(t) || path_kind_q(t) || word_kind_q(t) || t == Type::binary ||
           t == Type::vector || t == Type::bitset || t == Type::map || t == Type::object || t == Type::function ||
           t == Type::error || t == Type::image;
}

// A value in reference form must name a first occurrence of its own family: the path kinds
// among themselves, block!/paren!/hash!, the text kinds, and every other shareable kind only
// with itself. The contexts of words, objects, functions and errors pair freely: the decoder
// goes from whatever it finds to the context and its owner.
constexpr bool same_family_q(Type a, Type b) {
    if (path_kind_q(a)) return path_kind_q(b);
    if (list_kind_q(a)) return list_kind_q(b);
    if (text_kind_q(a)) return text_kind_q(b);
    return a == b;
}

}  // namespace zuv::zuvbin::format
