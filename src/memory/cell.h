// Value cells: every value of the language is 16 bytes, a header (datatype id in bits 0-7,
// flags above) and three 32-bit data words whose meaning each datatype defines. Cells are
// copied by value; references inside them are 32-bit arena offsets.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "memory/arena.h"
#include "memory/datatype-list.h"

namespace zuv {

// Datatype ids, from the one list of datatypes.
enum class Type : uint8_t {
    none_id = 0,
#define ZUV_TYPE_ENUM(cpp, id, name, parent, at_start) cpp = id,
    ZUV_DATATYPES(ZUV_TYPE_ENUM)
#undef ZUV_TYPE_ENUM
};

constexpr int type_count = zuv_highest_type_id;  // highest datatype id
constexpr int type_records = 57;                  // room for ids up to 56
static_assert(type_count < type_records && type_count < 64);

namespace header {
constexpr uint32_t type_mask = 0xFF;
constexpr uint32_t new_line = 0x40000000;  // molding starts the value on a new line
}  // namespace header

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;

    Type type() const { return static_cast<Type>(header & header::type_mask); }
    bool is(Type t) const { return type() == t; }
    // Replaces the datatype, keeping the flags.
    void set_type(Type t) { header = (header & ~header::type_mask) | static_cast<uint32_t>(t); }

    int32_t int1() const { return static_cast<int32_t>(data1); }
    int32_t int2() const { return static_cast<int32_t>(data2); }
    int32_t int3() const { return static_cast<int32_t>(data3); }

    // Words 2 and 3 as one double (low word first), read without alignment assumptions.
    double float23() const {
        uint64_t bits = static_cast<uint64_t>(data2) | (static_cast<uint64_t>(data3) << 32);
        return std::bit_cast<double>(bits);
    }
    void set_float23(double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        data2 = static_cast<uint32_t>(bits);
        data3 = static_cast<uint32_t>(bits >> 32);
    }
};

static_assert(sizeof(Cell) == 16);
static_assert(alignof(Cell) == 4);

inline Type type_of(const Cell* c) { return c->type(); }

// True when the datatype is in a family of the list (family::any_string, ...).
constexpr bool in_family(uint64_t family, Type t) { return (family >> static_cast<uint8_t>(t)) & 1; }

namespace cell {

inline Cell* copy(const Cell* source, Cell* destination) {
    if (source != destination) *destination = *source;
    return destination;
}
inline void set_type(Cell* c, Type t) { c->set_type(t); }
inline void make(Cell* c, Type t, uint32_t d1 = 0, uint32_t d2 = 0, uint32_t d3 = 0) {
    c->header = static_cast<uint32_t>(t);
    c->data1 = d1;
    c->data2 = d2;
    c->data3 = d3;
}

}  // namespace cell
}  // namespace zuv
