// The I/O actions of url!: HTTP for http and https URLs, a port for the others.
#pragma once

#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::url {

// A port made from the URL's parts, as the library's URL parser splits them, and opened
// with the given refinements when they are given (null: not opened); pushed. A URL the
// parser cannot split raises script/invalid-arg.
Cell* to_port(Cell* url, const slotfn::OpenOptions* open);

// Start-up, after the datatypes register: fills url!'s open, read and write actions.
void init_io();

}  // namespace zuv::url
