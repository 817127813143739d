// The zuv executable: the language with Ridi, its GTK backend, drawing and the console.
#include "console/program.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::console::link_program();
    zuv::runtime::entry(argc, argv);
}
