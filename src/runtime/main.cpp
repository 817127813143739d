// The zuv executable: the language with Ridi, its GTK backend, drawing and the console.
#include "console/gui-console.h"
#include "console/program.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::console::link_program();
    zuv::console::allow_window();
    zuv::runtime::entry(argc, argv);
}
