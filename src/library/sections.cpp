// Private contexts of boot sections: an object context per section that needs values from
// the start-up code, bound over the section's code before it runs.
#include "library/sections.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "library/codecs.h"

namespace zuv::library {

namespace {

struct Section {
    std::string_view name;
    Ref (*make)();
};
constexpr Section sections[] = {
    {"04-system", system_context},
    {"05-codecs", codecs_context},
    {"08-tools", tools_context},
};

std::vector<Section>& added() {
    static std::vector<Section> list;
    return list;
}

}  // namespace

void add_section_context(std::string_view name, Ref (*make)()) { added().push_back({name, make}); }

Ref section_context(std::string_view name) {
    name = name.substr(0, name.find('.'));  // the section, whether its source or its encoded form
    for (const Section& s : sections)
        if (s.name == name) return s.make();
    for (const Section& s : added())
        if (s.name == name) return s.make();
    return 0;
}

PrivateContext::PrivateContext(int32_t size) {
    Cell o;
    object::make_at(&o, size);
    block::append(&block::root, &o);
    context_ = object::context_of(&o);
}

void PrivateContext::add(const char* word, const Cell* value) {
    context::add_with_value(context_, symbol::make(word), value);
}

}  // namespace zuv::library
