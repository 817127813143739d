// The zuv executable: the language with its console.
#include "console/terminal.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::console::link();
    zuv::runtime::entry(argc, argv);
}
