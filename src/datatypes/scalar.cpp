// Helpers shared by the immediate datatypes.
#include "datatypes/scalar.h"

#include <charconv>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "memory/upcalls.h"
#include "memory/symbol.h"
#include "memory/words-builtin.h"
#include "memory/datatype.h"
#include "memory/ownership.h"
#include "memory/stack.h"

namespace zuv::scalar {

Cell type_cell(Type t) {
    Cell c;
    datatype::make_at(&c, static_cast<int>(t));
    return c;
}

void raise_type(error::Id id, Type t, const Cell* arg2) {
    Cell type = type_cell(t);
    error::raise(id, &type, arg2);
}

void raise_not_related(std::string_view word, Type t) {
    Cell w = word_of(word);
    Cell type = type_cell(t);
    error::raise(error::id::script_not_related, &w, &type);
}

void raise_not_related_here(Type t) {
    Cell w = call_word();
    Cell type = type_cell(t);
    error::raise(error::id::script_not_related, &w, &type);
}

Cell word_of(std::string_view name, Type t) {
    Cell w;
    cell::make(&w, t, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return w;
}

Cell call_word() {
    Cell w;
    stack::get_call_word(&w);
    return w;
}

bool word_is(const Cell* word, std::string_view name) {
    if (!any_word_q(word->type())) return false;
    int32_t id = word->int2();
    if (id < 1 || id > symbol::count()) return false;
    const char* spelling = symbol::name(id);
    if (symbol::name_length(id) < static_cast<int32_t>(name.size())) return false;
    std::size_t i = 0;
    for (; i < name.size(); ++i) {
        char a = spelling[i], b = name[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
        if (a != b) return false;
    }
    return spelling[i] == 0;
}

Values values_of(Cell* block) {
    int32_t n = block::length(block);
    return {n > 0 ? block::head(block) : nullptr, n};
}

int32_t append(Cell* buffer, std::string_view ascii, int32_t budget) {
    string::append_ascii(buffer, ascii);
    return budget - static_cast<int32_t>(ascii.size());
}

int32_t append_decimal(Cell* buffer, int64_t n, int32_t budget) {
    char text[24];
    auto end = std::to_chars(text, text + sizeof text, n).ptr;
    return append(buffer, std::string_view(text, static_cast<std::size_t>(end - text)), budget);
}

double number_of(const Cell* c) {
    if (c->is(Type::integer)) return static_cast<double>(c->int2());
    return c->float23();
}

Cell* load_value(Cell* text, Cell* out) {
    *out = upcall::calls.load_checked(text);
    return out;
}

void notify_path_set(Cell* parent, Cell* previous, const Cell* old, const Cell* value, Cell* set_value,
                     int32_t field) {
    if (parent->is(Type::object)) {
        const Cell object = *parent, word = *previous, before = *old, after = *value;
        upcall::calls.fire_on_change(&object, &word, &before, &after);
        return;
    }
    ownership::check(parent, words::global::set_path->int2(), set_value, field, 1);
}

}  // namespace zuv::scalar
