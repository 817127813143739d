// File and folder input and output behind the file! actions, size?, checksum of files and
// the exists?, create-dir and write-stdout routines. Whole files are read and written at
// once over POSIX descriptors; paths are file! values, file::to_os_path gives the system's form.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "memory/cell.h"

namespace zuv::file_io {

// The line end that text written to files and to standard output gets for every LF. This
// system's text files end their lines with a bare LF, so text goes out as it stands; reading
// accepts CR LF and a lone CR as well and turns both into LF.
constexpr std::string_view line_end = "\n";

// ---------------------------------------------------------------------------------------------
// Low-level calls over descriptors. Each failure gives -1 (or false).

namespace mode {
constexpr int32_t read = 1;    // an existing file, for reading
constexpr int32_t write = 2;   // created when missing; emptied unless append or seek is set
constexpr int32_t append = 4;
constexpr int32_t seek = 8;
}  // namespace mode

// Opens a file (never a folder) with close-on-exec; the descriptor or -1.
int open(const std::string& os_path, int32_t mode);
// The size of an open file in bytes; 0 for pipes, devices and other streams.
int64_t get_size(int fd);
bool seek(int fd, int64_t offset);
// Reads (or writes) count bytes unless the stream ends or fails first; the count done, or -1.
int64_t read_bytes(int fd, uint8_t* buffer, size_t count);
int64_t write_bytes(int fd, const uint8_t* buffer, size_t count);
void close(int fd);

// True when something exists at the path (the exists? test).
bool get_attributes(const std::string& os_path);
bool create_dir(const std::string& os_path);
// True when a path's text names a folder: it ends in "/" or "\", is "." or "..", or ends in
// "/.", "\.", "/.." or "\..".
bool dir_path_q(std::u32string_view path);
bool dir_path_q(Cell* file);

// ---------------------------------------------------------------------------------------------
// Whole files

// The bytes of a file: from seek (when not negative; past the end gives nothing), at most
// part bytes (when not negative). Streams of unknown size (pipes, devices, /proc files) are
// read to their end first. Nothing when the file cannot be opened or read.
std::optional<std::string> read_file(const std::string& os_path, int64_t part, int64_t seek);
// Writes bytes to the file (to standard output when os_path is null, which stays open):
// truncating it unless append or seek > 0 is given, at seek when positive, at the end with
// append; with lines a line end follows. The bytes written, or -1 when the file cannot be
// opened or the write fails.
int64_t write_file(const std::string* os_path, std::string_view data, int64_t seek, bool append, bool lines);
// The size of a file, or nothing for a folder or a file that cannot be opened (size?).
std::optional<int64_t> size_q(Cell* file);
// exists? and create-dir of a file! value.
bool exists_q(Cell* file);
bool create_dir(Cell* file);

// ---------------------------------------------------------------------------------------------
// The file! actions. Each takes its cells as the action entry gives them and gives the cell
// of the result (pushed on the argument stack).

// A folder path is listed by read_dir; otherwise the file as a binary! (binary), a block of
// lines (lines) or a string! decoded from UTF-8. part and seek are number! cells or null.
// info has no meaning for files. A file that cannot be read raises access/cannot-open.
Cell* read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, bool info);
// The entries of a folder other than "." and "..", sorted, as a block of file! names; folders
// end in "/". An unreadable folder raises access/cannot-open.
Cell* read_dir(Cell* dir);
// Writes a binary! as it stands, a string! (at most part characters) or any formed value as
// UTF-8; with lines and a block! each value is written and followed by a line end. A none!
// file writes to standard output. part must be an integer! (else script/invalid-refine-arg);
// a negative part writes nothing. Gives the integer! count of bytes written (-1 for a
// negative part); a failure raises access/cannot-open with the file.
Cell* write(Cell* file, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek);
// Removes the folder (for a folder path) or the file; true on success.
bool delete_(Cell* file);
// Renames without replacing an existing target; 0 on success, -1 on failure.
int32_t rename(Cell* from, Cell* to);
// Pushes the last-write time as a UTC date! (to the millisecond), or none when nothing is
// there or a folder path names a file.
Cell* query(Cell* file);

// ---------------------------------------------------------------------------------------------
// Values from bytes, shared with HTTP and process launching. Each pushes its result.

// A string! decoded from UTF-8: a leading byte-order mark skipped, every CR LF pair and every
// lone CR turned into LF. Malformed UTF-8 raises access/invalid-utf8.
Cell* string_from_utf8(std::string_view bytes);
// A block of string! lines split at LF, a CR before the LF removed; the text after the last
// LF is a last line when not empty.
Cell* split_lines(std::string_view bytes);
// A binary! holding a copy of the bytes.
Cell* binary_from_bytes(std::string_view bytes);
// The bytes of a binary! from its head, at most part of them (all when part is negative).
std::string bytes_of_binary(const Cell* binary, int64_t part = -1);
// The text of a string-family value from its head as UTF-8, at most part code points (all when
// part is negative), every LF written as line_end when crlf is set.
std::string utf8_of_string(const Cell* s, int64_t part = -1, bool crlf = false);

}  // namespace zuv::file_io

namespace zuv::file {

// Start-up, after the datatypes register: fills file!'s delete, query, read, rename and write
// actions.
void init_io();

}  // namespace zuv::file
