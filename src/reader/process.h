// Process launching behind the call native: runs a command as a child process, optionally
// through the shell, with its standard input, output and error redirected from and to
// string!, binary! or file! values.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::process {

// command: a string! in the system's form. input, output and error: string!, binary! or
// file! cells, or null when not redirected; output and error receive what the child writes.
// Gives the exit code after waiting (always when something is redirected), the process id
// without waiting, or -1 when the process could not be started.
int32_t call(Cell* command, bool wait, bool show, bool console, bool shell, Cell* input, Cell* output, Cell* error);

void init();

}  // namespace zuv::process
