// event!: one GUI event handed from the backend to the language level, or made by a program.
// Word 1 the type code, word 2 the backend's message reference (a backend event) or the node
// of a 4-cell series [face window offset picked] (a made event, 0 without one), word 3 flags.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::event {

// Flag bits of word 3; bits 0-15 hold a key's code point.
namespace flag {
constexpr uint32_t key_mask = 0xFFFF;
constexpr uint32_t made = 0x10000;  // made at the language level
constexpr uint32_t aux_down = 0x400000;
constexpr uint32_t alt_down = 0x800000;
constexpr uint32_t mid_down = 0x1000000;
constexpr uint32_t down = 0x2000000;
constexpr uint32_t away = 0x4000000;
constexpr uint32_t control = 0x10000000;
constexpr uint32_t shift = 0x20000000;
constexpr uint32_t alt = 0x40000000;
constexpr uint32_t command = 0x80000000;
}  // namespace flag

// Event type codes 1-35.
namespace type {
enum Code : int32_t {
    none = 0, down, up, mid_down, mid_up, alt_down, alt_up, aux_down, aux_up, click, dbl_click,
    wheel, over, key, key_down, key_up, ime, focus, unfocus, enter, zoom, pan, rotate, two_tap,
    press_tap, select, change, menu, close, move, resize, moving, resizing, time, drawing, scroll,
};
constexpr int32_t count = 35;
}  // namespace type

// Field codes, as pick takes them.
namespace field {
enum Code : int32_t {
    type = 1, face, window, offset, key, picked, flags, away_q, down_q, mid_down_q, alt_down_q,
    aux_down_q, ctrl_q, shift_q, orientation,
};
constexpr int32_t count = 15;
}  // namespace field

inline int32_t type_of(const Cell* e) { return e->int1(); }
inline uint32_t message_of(const Cell* e) { return e->data2; }
inline uint32_t flags_of(const Cell* e) { return e->data3; }
inline bool made_q(const Cell* e) { return (e->data3 & flag::made) != 0; }
inline void set_type_code(Cell* e, int32_t code) { e->data1 = static_cast<uint32_t>(code); }
inline void set_message(Cell* e, uint32_t message) { e->data2 = message; }
inline void set_flags(Cell* e, uint32_t flags) { e->data3 = flags; }

// The shared type table. code_of raises script/not-event-type for a word that names no type;
// word_of gives the symbol id of a code's word, 0 for a code outside 1-35.
int32_t code_of(const Cell* word);
int32_t code_of_symbol(int32_t symbol);
int32_t word_of(int32_t code);

// A backend event: type code, the backend's message reference, flag bits (never `made`).
Cell* make_at(Cell* c, int32_t type, uint32_t message, uint32_t flags);

// The field of an event by code (1-15) into out. A backend event's face, window, offset, key,
// picked and orientation come from the reader that the GUI installs.
void get_field(const Cell* e, int32_t code, Cell* out);
using FieldReader = void (*)(const Cell* event, int32_t code, Cell* out);
void set_field_reader(FieldReader reader);

// Registers the datatype (id 54); the GUI's start-up calls it after the runtime's datatypes.
void init();

}  // namespace zuv::event
