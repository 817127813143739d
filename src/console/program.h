// The whole program's higher floors linked into the boot: Ridi, its drawing engine, its GTK
// backend and the console. Every program that boots the full language calls it before
// start-up, so that the boot sections find the routines they are written against.
#pragma once

namespace zuv::console {

void link_program();

}  // namespace zuv::console
