// Standard output writer: text in units of 1 (Latin-1), 2 (UTF-16) or 4 (code points)
// goes out as UTF-8, buffered in runs of about a kilobyte. A terminal interprets ANSI
// colour and cursor sequences itself, so they pass through untouched either way.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zuv::stdio {

// 1 when standard output is a terminal, 0 when it is redirected to a file or pipe.
extern int32_t console;
extern int output_fd;

void init();
// Writes text of the given unit size; with line_end, a line feed follows.
void write(const void* text, size_t length_bytes, int unit, bool line_end);
// Writes the bytes as they are (already UTF-8 or plain ASCII).
void write_bytes(const char* text, size_t length);
void flush_pending();

// Number of pending bytes that triggers a flush.
constexpr size_t flush_threshold = 1020;

}  // namespace zuv::stdio
