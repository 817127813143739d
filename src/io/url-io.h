// The I/O actions of url!: HTTP for http and https URLs, a port for the others.
#pragma once

#include "memory/cell.h"

namespace zuv::url {

// A port made from the URL's parts, as the library's URL parser splits them, and opened
// with the given refinements when asked; pushed. A URL the parser cannot split raises
// script/invalid-arg.
Cell* to_port(Cell* url, bool open, bool new_, bool read, bool write, bool seek, Cell* allow);

// Start-up, after the datatypes register: fills url!'s open, read and write actions.
void init_io();

}  // namespace zuv::url
