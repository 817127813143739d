// Start-up of the language library: the boot sources are loaded and evaluated in order.
#pragma once
#include <string>

#include "memory/cell.h"

namespace zuv::boot {

void link();
void run_script();
void launch_console();

// Loads and evaluates one text in the global context; the last value goes into result.
// name is the boot section's file name: a section with a private context (sections.h) has
// its code bound to it. Language errors pass through as C++ exceptions (runtime::Throw).
void run_text(const std::string& utf8, const char* name, Cell* result);

// The text shown for an error! value.
std::string describe_error(const Cell* error);

}  // namespace zuv::boot
