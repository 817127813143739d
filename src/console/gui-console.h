// The console in a window, on the C++ side: its print hooks, the caret blink time, and
// whether the program starts it (gui-console.cpp).
#pragma once

namespace zuv::console {

// True when the console should open its window: standard input is a terminal a person types
// at, the display opened, and the window's console is defined. Asked after the boot ran.
bool window_wanted();

// Lets the console open its window; only the zuv program's main calls it, before start-up.
void allow_window();

// Adds the window console's routines to the program; called by link().
void link_gui();

}  // namespace zuv::console
