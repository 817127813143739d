// Child processes behind the call native: a command line run as a program (or through
// /bin/sh -c), its standard input, output and error taken from or sent to values or files.
// The child's pipes are served together with poll, so no chatty child can stall the program.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memory/cell.h"

namespace zuv::process {

// Where one of the child's standard streams comes from or goes to.
struct Stream {
    enum class Kind {
        own,      // the program's own stream
        discard,  // /dev/null
        data,     // input: the bytes of data; output and error: appended to data
        file,     // input: read from path; output and error: appended to the file at path
    };
    Kind kind = Kind::own;
    std::string data;
    std::string path;
};

struct Launch {
    std::string command;      // the command line, UTF-8
    bool wait = false;        // wait for the end and give the exit code
    bool shell = false;       // run the line through /bin/sh -c
    Stream input, output, error;
    bool through_shell = false;  // set by run: the line went to the shell
};

// Runs the command line. Without shell it is split into words (split_command) and the first
// is looked for on PATH; a program that is not found is tried once more through the shell.
// A stream of kind data or file forces waiting. Gives the exit code (128 + the signal for a
// child a signal ended) when waiting, else the process id; -1 when a pipe, a file or the
// process could not be made.
int32_t run(Launch& launch);

// The words of a command line as the shell splits plain words, without any expansion:
// blanks separate words, '...' keeps its text as it is, "..." keeps it but for the escapes
// \" \\ \$ \` and a backslash before a line end, and outside quotes a backslash takes the
// next character as it is.
std::vector<std::string> split_command(std::string_view line);

// The call native's work: the command a string! or a file! (its system path), the input a
// string! (sent as UTF-8), binary! or file! (read by the child), or null for the program's
// own input; output and error a string! or binary! (what the child writes is appended: text
// decoded from UTF-8, a malformed byte giving U+FFFD), a file! (appended to), or null to
// discard them. show has no meaning here (no windows to hide); console raises
// internal/not-done. Gives what run gives; an empty command gives 0 and runs nothing.
int32_t call(Cell* command, bool wait, bool show, bool console, bool shell, Cell* input, Cell* output, Cell* err);

// Collects the exit status of children started without waiting that have ended since, so
// none lingers as a zombie. run calls it first.
void reap();

// Makes the shared capture string (102,400 bytes of 1-byte units, a collector root) that
// captured text is decoded into before it is appended to its target.
void init();

}  // namespace zuv::process
