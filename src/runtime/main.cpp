// The zuv executable: the language with Ridi, its GTK backend, drawing and the console.
#include "console/gui-console.h"
#include "console/program.h"
#include "runtime/entry.h"

#include <string_view>

namespace {

// A script runs with its output where it was started (a terminal, a pipe, a file): only the
// console itself opens a window.
bool script_named(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--") return i + 1 < argc;
        if (!a.starts_with("--")) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    zuv::console::link_program();
    if (!script_named(argc, argv)) zuv::console::allow_window();
    zuv::runtime::entry(argc, argv);
}
