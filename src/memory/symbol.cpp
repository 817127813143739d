// Symbols and the symbol table.
#include "memory/symbol.h"

#include <cstring>

#include "memory/collector.h"
#include "memory/hashtable.h"
#include "memory/memory.h"

namespace zuv::symbol {

Cell table;
Ref table_index = 0;

namespace {

memory::SeriesBuffer* records() { return memory::buffer_of(table.data2); }

// The index is a table: marking its record node alone would lose its buckets and keys.
void mark_table_index() {
    if (table_index) hashtable::mark(&table_index);
}

int32_t intern(const uint8_t* bytes, int32_t length, bool exact) {
    return hashtable::intern_symbol(table_index, bytes, length, !exact);
}

}  // namespace

void make_table() {
    Ref node = memory::alloc_cells(4000);
    cell::make(&table, Type::block, 0, node, 0);
    collector::add_root(&table);
}

void init_table_index() {
    table_index = hashtable::make(4000, &table, hashtable::kind_words, 1);
    collector::add_mark_callback(mark_table_index);
}

int32_t make(std::string_view name) {
    return intern(reinterpret_cast<const uint8_t*>(name.data()), static_cast<int32_t>(name.size()), false);
}

int32_t make_exact(std::string_view name) {
    return intern(reinterpret_cast<const uint8_t*>(name.data()), static_cast<int32_t>(name.size()), true);
}

Cell* record(int32_t id) { return records()->cells() + (id - 1); }

int32_t resolve(int32_t id) {
    int32_t alias = record(id)->int1();
    return alias > 0 ? alias : id;
}

const char* name(int32_t id) {
    return reinterpret_cast<const char*>(memory::buffer_of(record(id)->data3)->head_ptr());
}

int32_t name_length(int32_t id) {
    return static_cast<int32_t>(memory::buffer_of(record(id)->data3)->used_bytes());
}

int32_t count() { return static_cast<int32_t>(records()->used_bytes() / sizeof(Cell)); }

}  // namespace zuv::symbol
