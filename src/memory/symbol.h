// Symbols: every spelling is interned once in the symbol table, a block of symbol! cells
// (alias in data word 1, cached string in data word 2, UTF-8 name in data word 3); a
// symbol id is the record's 1-based position. Spellings that differ only in letter case
// resolve to the first of them.
#pragma once
#include <cstdint>
#include <string_view>

#include "memory/cell.h"

namespace zuv::symbol {

extern Cell table;      // the symbol table block
extern Ref table_index; // its hash index

void make_table();
void init_table_index();

int32_t make(std::string_view name);
int32_t make_exact(std::string_view name);
int32_t resolve(int32_t id);
Cell* record(int32_t id);
// The UTF-8 name of a symbol (NUL-terminated).
const char* name(int32_t id);
int32_t name_length(int32_t id);
int32_t count();

}  // namespace zuv::symbol
