// The console on a plain terminal: lines read from standard input, prompts written to
// standard output, the terminal's size, and the start of the console engine there.
#pragma once
#include <string>

namespace zuv::console {

// What the console engine needs of a terminal. The plain one works over standard input and
// output; another front end (a window) puts its own functions here before start-up.
struct Terminal {
    // Shows the prompt and waits for one line (without its line end); false at end of input.
    // hide: the typed text is not shown.
    bool (*read_line)(const std::string& prompt, bool hide, std::string* line);
    // The size in characters.
    void (*size)(int* columns, int* rows);
    // True when a person types the input (not a pipe or a file).
    bool (*interactive)();
};

// The plain terminal's line reader over any file descriptor pair, for tests: a line ends at
// LF (a CR before it is dropped); the last line may lack its LF. Bytes that are not UTF-8
// are kept as they are; the string made of the line replaces them.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    bool next(std::string* line);

private:
    int fd_;
    std::string pending_;
    bool ended_ = false;
};

// Adds the console's routines and its start to the program; called by main before start-up.
void link();

}  // namespace zuv::console
