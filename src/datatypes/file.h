// file!: a file or folder named in the language's own notation (forward slashes). It adds
// its molding and the conversion to and from the system's paths; reading and writing go to
// the file I/O layer (reader/file-io.h). Making, conversion and path joining come from url!.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "memory/cell.h"

namespace zuv::file {

Cell* push(const Cell* f);
// Pushes a new file! decoded from UTF-8 bytes.
Cell* load(const uint8_t* bytes, size_t count);
// Appends the system's form of the path to the target string. On Linux the notation is the
// system's own: two leading slashes become one, and with full_path a relative path gets the
// current directory in front. (The drive letters and network shares of other systems have
// no meaning here.)
void to_local(Cell* f, Cell* target, bool full_path);
// The system's form as UTF-8, for the calls that open files.
std::string to_os_path(Cell* f);
// Pushes the current directory as a string! ending in "/".
Cell* current_dir();
// A system path in the language's notation, changed in place: nothing to change on Linux,
// where a backslash is an ordinary character of a name.
void from_local(Cell* s);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

void init();

}  // namespace zuv::file
