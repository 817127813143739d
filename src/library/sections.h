// Private contexts of boot sections: values that the start-up code hands to one section's
// code (routines stored in objects, the raw command line, the program's build date) without
// a global word. The section's code is bound to its context after loading, before it runs.
#pragma once
#include <string_view>
#include <vector>

#include "library/routines.h"
#include "memory/arena.h"
#include "memory/cell.h"

namespace zuv::library {

// The private context of the section of that file name (its source or its encoded form),
// or 0 for a section without one.
// Made when asked for, once per section; kept alive by the root block.
Ref section_context(std::string_view name);
// Gives a section of a higher floor (Ridi, the consoles) its private context: make runs when
// the section is first asked for. Called by that floor's binder, before the boot sections run.
void add_section_context(std::string_view name, Ref (*make)());

// A private context under construction. Every value added is held by the context at once,
// so nothing waits on the C++ side across an allocation.
class PrivateContext {
public:
    explicit PrivateContext(int32_t size);
    void add(const char* word, const Cell* value);
    // Routine! values, made as define_routines makes the global ones.
    void add_routines(const std::vector<Definition>& list) { define_routines(list, context_); }
    Ref context() const { return context_; }

private:
    Ref context_;
};

// Higher floors (Ridi, the consoles) add the builders of their own sections' contexts, from
// their binders, before the first section runs.
void add_section_context(std::string_view name, Ref (*make)());

// The builders behind section_context.
Ref system_context();  // 04-system.zuv

}  // namespace zuv::library
