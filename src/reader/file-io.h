// File and folder input and output behind the file! actions: reading a file as text or
// bytes (or listing a folder), writing, deleting, renaming and querying. Paths are file!
// values in the language's notation; file::to_os_path gives the system's form.
#pragma once
#include <cstdint>

#include "memory/cell.h"

namespace zuv::file_io {

// The file as binary! (binary), as a block of lines (lines), or as text decoded from UTF-8;
// a folder gives the block of its entries. part and seek are integer! cells or null. Raises
// an access error on failure. Gives the cell of the result.
Cell* read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, bool info);
// Writes a binary! as it stands, and a string! or any formed value as UTF-8. Raises an
// access error on failure. Gives the cell of the result.
Cell* write(Cell* file, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek);
// Removes the file, or the folder when the path names one; true on success.
bool delete_(Cell* file);
// 0 on success.
int32_t rename(Cell* from, Cell* to);
// Pushes the last-write time as a date!, or none when the file is missing.
Cell* query(Cell* file);

}  // namespace zuv::file_io
