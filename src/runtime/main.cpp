// The zuv executable: the language with Ridi, its GTK backend, drawing and the console.
#include "console/terminal.h"
#include "ridi/backend/gtk/gui.h"
#include "ridi/draw/draw.h"
#include "ridi/platform.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::ridi::link();
    zuv::draw::link();
    zuv::gui::link();
    zuv::console::link();
    zuv::runtime::entry(argc, argv);
}
