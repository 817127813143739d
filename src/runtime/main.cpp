// The zuv executable: the language with Ridi, drawing and the console.
#include "console/terminal.h"
#include "ridi/draw/draw.h"
#include "ridi/platform.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::draw::link();
    zuv::ridi::link();
    zuv::console::link();
    zuv::runtime::entry(argc, argv);
}
