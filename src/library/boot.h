// Start-up of the language library: the boot sources are loaded and evaluated in order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "memory/cell.h"

namespace zuv::boot {

// A section of the embedded boot data: the ZUVBIN blob of one boot source, in boot order.
struct Source {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
// Set before start-up by the generated boot data that a program links; a program without it
// (the encoder that makes it) starts with no section.
extern const Source* sources;
extern int source_count;
// Where each section's code block landed in the root block once decoded.
extern std::vector<int32_t> section_roots;

// Decodes every embedded boot section in order into the root block and records where each
// section's code block landed (section_roots).
void load_sections();
void link();
void run_script();
// Starts the console the program was linked with (set_launcher), or does nothing without one.
// An error that reaches it ends the program with status 254.
void launch_console();
using Launcher = void (*)();
void set_launcher(Launcher launcher);

// Higher floors (Ridi, the consoles) bind their routines through binders that the program's
// main adds before start-up; each runs once, after the library's own routines and before the
// first boot section.
using Binder = void (*)();
void add_binder(Binder binder);

// The print hook that writes printed text to standard output, installed at start-up; a
// console that shows the text itself takes it away.
void stdout_print_hook(Cell* text, int32_t line_feed);

// Loads and evaluates one text in the global context; the last value goes into result.
// name is the boot section's file name: a section with a private context (sections.h) has
// its code bound to it. Language errors pass through as C++ exceptions (runtime::Throw).
void run_text(const std::string& utf8, const char* name, Cell* result);

// The text shown for an error! value.
std::string describe_error(const Cell* error);

}  // namespace zuv::boot
