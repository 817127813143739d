// handle! and triple!: their cells, forms and the handle registry.
#include "datatypes/handle.h"

#include <cstdio>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/scalar.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv::handle {

namespace {


// Entry 0 names no subtype; mold/all writes the others after the value.
constexpr const char* subtype_names[] = {"null", "fd", "monitor", "window", "font", "rich-text"};

// Registry slots; a free slot holds 0 and is found again through the free list.
std::vector<uintptr_t> objects{0};
std::vector<uint32_t> free_slots;

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", value_of(value));
    return scalar::append(buffer, text, budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* part, int32_t budget, int32_t) {
    if (!all) return scalar::append(buffer, "handle!", budget);
    budget = scalar::append(buffer, "#[handle! ", budget);
    budget = form(value, buffer, part, budget);
    int32_t kind = subtype_of(value);
    if (kind > 0 && kind <= subtype::rich_text) {
        budget = scalar::append(buffer, " ", budget);
        budget = scalar::append(buffer, subtype_names[kind], budget);
    }
    return scalar::append(buffer, "]", budget);
}

int32_t compare(Cell* a, Cell* b, int32_t) {
    if (!b->is(Type::handle)) return 1;
    int32_t x = static_cast<int32_t>(value_of(a)), y = static_cast<int32_t>(value_of(b));
    return x == y ? 0 : x < y ? -1 : 1;
}

}  // namespace

Cell* make_at(Cell* c, uint32_t value, int32_t kind) {
    cell::make(c, Type::handle, static_cast<uint32_t>(kind), value, 0xFFFFFFFFu);
    return c;
}

Cell* make_in(Cell* block, uint32_t value, int32_t kind) { return make_at(block::alloc_tail_cell(block), value, kind); }

Cell* box(uint32_t value, int32_t kind) { return make_at(stack::arguments_base, value, kind); }

Cell* push(uint32_t value, int32_t kind) { return make_at(stack::push_slot(), value, kind); }

uint32_t enter(uintptr_t object) {
    if (!free_slots.empty()) {
        uint32_t i = free_slots.back();
        free_slots.pop_back();
        objects[i] = object;
        return i;
    }
    objects.push_back(object);
    return static_cast<uint32_t>(objects.size() - 1);
}

uintptr_t object(uint32_t index) { return index < objects.size() ? objects[index] : 0; }

void leave(uint32_t index) {
    if (index == 0 || index >= objects.size() || objects[index] == 0) return;
    objects[index] = 0;
    free_slots.push_back(index);
}

void init() {
    datatype::register_type(Type::handle, {
        .form = form,
        .mold = mold,
        .compare = compare,
    });
}

}  // namespace zuv::handle

namespace zuv::triple {

namespace {


int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    budget = scalar::append(buffer, "make triple! [", budget);
    for (int32_t i = 1; i <= 3; ++i) {
        if (i > 1) budget = scalar::append(buffer, " ", budget);
        budget = scalar::append_decimal(buffer, get(value, i), budget);
    }
    return scalar::append(buffer, "]", budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

}  // namespace

Cell* make_at(Cell* c, int32_t a, int32_t b, int32_t c3) {
    cell::make(c, Type::triple, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c3));
    return c;
}

Cell* make_in(Cell* block, int32_t a, int32_t b, int32_t c3) { return make_at(block::alloc_tail_cell(block), a, b, c3); }

Cell* push(int32_t a, int32_t b, int32_t c3) { return make_at(stack::push_slot(), a, b, c3); }

void init() {
    datatype::register_type(Type::triple, {
        .form = form,
        .mold = mold,
    });
}

}  // namespace zuv::triple
