// Standard output writer. Pending text is kept in a small static buffer (so a fatal
// report can still flush it after the heap is gone) and written with write(2).
#include "runtime/stdio.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "runtime/fatal.h"

namespace zuv::stdio {

int32_t console = 0;
int output_fd = 1;

namespace {

char buffer[1024 + 8];
size_t pending = 0;

void put_code_point(uint32_t c) {
    if (c < 0x80) {
        buffer[pending++] = static_cast<char>(c);
    } else if (c < 0x800) {
        buffer[pending++] = static_cast<char>(0xC0 | (c >> 6));
        buffer[pending++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        buffer[pending++] = static_cast<char>(0xE0 | (c >> 12));
        buffer[pending++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        buffer[pending++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        buffer[pending++] = static_cast<char>(0xF0 | (c >> 18));
        buffer[pending++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        buffer[pending++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        buffer[pending++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (pending > flush_threshold) flush_pending();
}

void write_all(const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(output_fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a failed write is dropped: there is nowhere to report it
        text += n;
        length -= static_cast<size_t>(n);
    }
}

}  // namespace

void init() {
    pending = 0;
    console = ::isatty(output_fd) ? 1 : 0;
}

void flush_pending() {
    if (pending == 0) return;
    write_all(buffer, pending);
    pending = 0;
}

void write_bytes(const char* text, size_t length) {
    if (pending + length > flush_threshold) {
        flush_pending();
        if (length > flush_threshold) {
            write_all(text, length);
            return;
        }
    }
    std::memcpy(buffer + pending, text, length);
    pending += length;
}

void write(const void* text, size_t length_bytes, int unit, bool line_end) {
    const auto* p = static_cast<const uint8_t*>(text);
    switch (unit) {
        case 1:
            for (size_t i = 0; i < length_bytes; ++i) put_code_point(p[i]);
            break;
        case 2: {
            size_t n = length_bytes / 2;
            for (size_t i = 0; i < n; ++i) {
                uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
                if (u >= 0xD800 && u < 0xDC00 && i + 1 < n) {
                    uint32_t v = p[2 * i + 2] | (p[2 * i + 3] << 8);
                    if (v >= 0xDC00 && v < 0xE000) {
                        put_code_point(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                        ++i;
                        continue;
                    }
                }
                put_code_point((u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
            }
            break;
        }
        case 4: {
            size_t n = length_bytes / 4;
            for (size_t i = 0; i < n; ++i) {
                uint32_t c;
                std::memcpy(&c, p + 4 * i, 4);
                if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
                put_code_point(c);
            }
            break;
        }
        default:
            runtime::quit(runtime::no_switch_match, 0);
    }
    if (line_end) put_code_point('\n');
    flush_pending();
}

}  // namespace zuv::stdio
