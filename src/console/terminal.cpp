// The console on a plain terminal: lines read from standard input, prompts written to
// standard output, the terminal's size, and the start of the console engine there.
#include "console/terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "console/gui-console.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "library/boot.h"
#include "library/routines.h"
#include "runtime/stdio.h"

namespace zuv::console {

bool LineReader::next(std::string* line) {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line->assign(pending_, 0, end);
            pending_.erase(0, end + 1);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        if (ended_) {
            if (pending_.empty()) return false;
            line->swap(pending_);
            pending_.clear();
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        char buffer[65536];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ended_ = true;
        else pending_.append(buffer, static_cast<size_t>(n));
    }
}

namespace {

void write_text(const std::string& text) {
    stdio::write_bytes(text.data(), text.size());
    stdio::flush_pending();
}

bool stdin_is_terminal() { return ::isatty(0) == 1; }

// The text as the language reads it: each byte that does not belong to a well-formed UTF-8
// sequence becomes U+FFFD.
std::string well_formed(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0, n = bytes.size();
    while (i < n) {
        auto b = static_cast<unsigned char>(bytes[i]);
        size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        bool ok = len > 0 && i + len <= n;
        uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; ok && k < len; ++k) {
            auto c = static_cast<unsigned char>(bytes[i + k]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not well-formed either.
        if (ok && len > 1) {
            static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = cp >= least[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (ok) {
            out.append(bytes, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

LineReader& standard_input() {
    static LineReader reader(0);
    return reader;
}

// A line typed on a terminal shows itself; a line read from a pipe or a file is written
// after its prompt, so that the output reads as the session it was.
bool plain_read_line(const std::string& prompt, bool hide, std::string* line) {
    bool typed = stdin_is_terminal();
    termios saved{};
    bool silenced = false;
    // The echo goes off before the prompt shows: an answer typed as soon as the prompt
    // appears would otherwise be shown.
    if (hide && typed && ::tcgetattr(0, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        silenced = ::tcsetattr(0, TCSANOW, &quiet) == 0;
    }
    write_text(prompt);
    bool got = standard_input().next(line);
    if (silenced) {
        ::tcsetattr(0, TCSANOW, &saved);
        write_text("\n");
    }
    if (!got) {
        // The next output starts on a line of its own.
        if (!prompt.empty()) write_text("\n");
        return false;
    }
    if (!typed) write_text(hide ? "\n" : well_formed(*line) + "\n");
    return true;
}

void plain_size(int* columns, int* rows) {
    *columns = 80;
    *rows = 24;
    winsize w{};
    if (::ioctl(1, TIOCGWINSZ, &w) == 0 && w.ws_col > 0) {
        *columns = w.ws_col;
        *rows = w.ws_row;
        return;
    }
    // Not a terminal: the width the environment names, if any.
    if (const char* c = std::getenv("COLUMNS")) {
        int n = std::atoi(c);
        if (n >= 20 && n <= 10000) *columns = n;
    }
}

const Terminal plain{plain_read_line, plain_size, stdin_is_terminal};
Terminal current = plain;

Cell* terminal_read_line(Cell** a) {
    std::string prompt = string::to_utf8(a[0]);
    std::string line;
    if (!current.read_line(prompt, logic::truth(a[1]), &line))
        return const_cast<Cell*>(&none::shared);
    Cell* text = string::push_new(static_cast<int32_t>(line.size()));
    string::append_utf8(text, line);
    return text;
}

Cell* terminal_size(Cell**) {
    int columns = 0, rows = 0;
    current.size(&columns, &rows);
    return pair::push(columns, rows);
}

Cell* terminal_interactive_q(Cell**) { return library::answer(current.interactive()); }

void bind_routines() {
    library::define_routines({
        {"terminal-read-line", terminal_read_line,
         R"~("Internal Use Only" prompt [string!] hide [logic!] return: [string! none!])~",
         "terminal/read-line prompt hide"},
        {"terminal-size", terminal_size, R"~("Internal Use Only" return: [pair!])~", "terminal/size"},
        {"terminal-interactive?", terminal_interactive_q, R"~("Internal Use Only" return: [logic!])~",
         "terminal/interactive?"},
    });
}

// The console opens its window when it can, else it runs on the terminal.
void launch() {
    boot::run_text(window_wanted() ? "gui-console-ctx/launch" : "terminal-console-ctx/launch", nullptr, nullptr);
}

}  // namespace

void link() {
    boot::add_binder(bind_routines);
    link_gui();
    boot::set_launcher(launch);
}

}  // namespace zuv::console
