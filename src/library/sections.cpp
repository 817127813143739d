// Private contexts of boot sections: an object context per section that needs values from
// the start-up code, bound over the section's code before it runs.
#include "library/sections.h"

#include "datatypes/block.h"
#include "evaluator/context.h"
#include "evaluator/object.h"
#include "evaluator/symbol.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"

namespace zuv::library {

namespace {

struct Section {
    std::string_view name;
    Ref (*make)();
};
constexpr Section sections[] = {
    {"03-pending.zuv", pending_context},
    {"04-system.zuv", system_context},
};

}  // namespace

Ref section_context(std::string_view name) {
    for (const Section& s : sections)
        if (s.name == name) return s.make();
    return 0;
}

PrivateContext::PrivateContext(int32_t size) {
    Cell o;
    object::make_at(&o, size);
    block::append(&block::root, &o);
    context_ = o.data1;
}

void PrivateContext::add(const char* word, const Cell* value) {
    context::add_with_value(context_, symbol::make(word), value);
}

namespace {

// The spec block of a routine, pushed.
Cell* push_spec(const char* text) {
    Cell* spec = block::push_new(4);
    lexer::load_into(spec, text);
    return spec;
}

}  // namespace

void PrivateContext::add_routine(const char* word, const char* spec, routine::CellEntry entry) {
    int32_t index = routine::register_entry({word, entry, nullptr});
    Cell* r = routine::push(push_spec(spec), index, routine::takes_cells, 0);
    add(word, r);
    stack::pop(2);
}

void PrivateContext::add_routine(const char* word, const char* spec, routine::ValueEntry entry, Type result) {
    int32_t index = routine::register_entry({word, nullptr, entry});
    Cell* r = routine::push(push_spec(spec), index, 0, result == Type::unset ? 0 : static_cast<int32_t>(result));
    add(word, r);
    stack::pop(2);
}

}  // namespace zuv::library
