// Process launching with posix_spawnp. Every descriptor the program opens here is
// close-on-exec, so a child sees only the three streams meant for it; input is written and
// output and error are read in one poll loop until all three pipes are done.
#include "io/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/collector.h"
#include "io/file-io.h"
#include "io/sigpipe.h"

extern char** environ;

namespace zuv::process {

namespace {

Cell capture;                      // the shared capture string
std::vector<pid_t> unwaited;       // children started without waiting, not collected yet

constexpr int32_t capture_bytes = 102400;
constexpr size_t pipe_chunk = 65536;
const char* const shell_path = "/bin/sh";

// Descriptors the launch owns in the program, closed when it ends however it ends.
struct Fds {
    std::vector<int> open;
    int keep(int fd) {
        if (fd >= 0) open.push_back(fd);
        return fd;
    }
    void close(int& fd) {
        auto at = std::find(open.begin(), open.end(), fd);
        if (at != open.end()) {
            open.erase(at);
            ::close(fd);
        }
        fd = -1;
    }
    ~Fds() {
        for (int fd : open) ::close(fd);
    }
};

// A descriptor above the three standard ones, so that placing the child's streams at 0, 1
// and 2 never overwrites one still to be placed (the program may have closed its own).
int above_standard(Fds& fds, int fd) {
    if (fd < 0 || fd > 2) return fd;
    int high = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    fds.close(fd);
    return fds.keep(high);
}

// The child's end of one stream and, for a pipe, the program's end.
struct Ends {
    int child = -1;
    int parent = -1;
};

bool make_ends(Fds& fds, const Stream& s, int standard, bool input, int& null_fd, Ends& e) {
    switch (s.kind) {
        case Stream::Kind::own:
            e.child = standard;
            return true;
        case Stream::Kind::discard:
            if (null_fd < 0) null_fd = above_standard(fds, fds.keep(::open("/dev/null", O_RDWR | O_CLOEXEC)));
            e.child = null_fd;
            return null_fd >= 0;
        case Stream::Kind::file: {
            int flags = input ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND;
            e.child = above_standard(fds, fds.keep(::open(s.path.c_str(), flags | O_CLOEXEC, 0666)));
            return e.child >= 0;
        }
        case Stream::Kind::data: {
            int p[2];
            if (pipe2(p, O_CLOEXEC) != 0) return false;
            fds.keep(p[0]), fds.keep(p[1]);
            e.child = above_standard(fds, input ? p[0] : p[1]);
            e.parent = above_standard(fds, input ? p[1] : p[0]);
            return e.child >= 0 && e.parent >= 0;
        }
    }
    return false;
}

int spawn(pid_t* pid, const std::vector<std::string>& words, const Ends (&ends)[3]) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int i = 0; i < 3; ++i)
        if (ends[i].child != i) posix_spawn_file_actions_adddup2(&actions, ends[i].child, i);
    // The child starts with no signal blocked and the usual dispositions, whatever the
    // program holds back or ignores at this moment.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

// Writes the input and reads output and error as each pipe is ready, until all are done.
void drain(Fds& fds, int& in, std::string_view input, int& out, std::string& out_data, int& err, std::string& err_data) {
    sigpipe::Blocked quiet;  // a child that stops reading its input must not end the program
    if (in >= 0 && input.empty()) fds.close(in);
    if (in >= 0) fcntl(in, F_SETFL, fcntl(in, F_GETFL) | O_NONBLOCK);
    size_t sent = 0;
    std::string buffer(pipe_chunk, '\0');
    while (in >= 0 || out >= 0 || err >= 0) {
        pollfd p[3];
        int n = 0;
        if (in >= 0) p[n++] = {in, POLLOUT, 0};
        if (out >= 0) p[n++] = {out, POLLIN, 0};
        if (err >= 0) p[n++] = {err, POLLIN, 0};
        if (poll(p, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (!p[i].revents) continue;
            if (p[i].fd == in) {
                size_t count = std::min(pipe_chunk, input.size() - sent);
                ssize_t w = write(in, input.data() + sent, count);
                if (w > 0) sent += static_cast<size_t>(w);
                bool retry = w < 0 && (errno == EAGAIN || errno == EINTR);
                if (sent == input.size() || (w < 0 && !retry)) fds.close(in);
                continue;
            }
            int& fd = p[i].fd == out ? out : err;
            std::string& data = p[i].fd == out ? out_data : err_data;
            ssize_t r = read(fd, buffer.data(), buffer.size());
            if (r > 0) {
                data.append(buffer.data(), static_cast<size_t>(r));
            } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds.close(fd);
            }
        }
    }
    // Whatever is still open (a poll failure) is closed by the owner.
}

int32_t exit_code(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool redirected_q(const Stream& s) { return s.kind == Stream::Kind::data || s.kind == Stream::Kind::file; }

}  // namespace

std::vector<std::string> split_command(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) words.push_back(std::move(word)), word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            size_t end = line.find('\'', i + 1);
            if (end == std::string_view::npos) end = line.size();
            word.append(line.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && std::strchr("\"\\$`\n", line[i + 1])) {
                    if (line[++i] != '\n') word += line[i];
                } else {
                    word += line[i];
                }
            }
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

void reap() {
    std::erase_if(unwaited, [](pid_t pid) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

int32_t run(Launch& l) {
    reap();
    l.through_shell = l.shell;
    Fds fds;
    int null_fd = -1;
    Ends ends[3];
    if (!make_ends(fds, l.input, 0, true, null_fd, ends[0]) || !make_ends(fds, l.output, 1, false, null_fd, ends[1]) ||
        !make_ends(fds, l.error, 2, false, null_fd, ends[2])) {
        return -1;
    }
    pid_t pid = 0;
    int rc = ENOENT;
    if (!l.shell) {
        std::vector<std::string> words = split_command(l.command);
        if (!words.empty()) rc = spawn(&pid, words, ends);
    }
    if (rc == ENOENT) {
        l.through_shell = true;
        rc = spawn(&pid, {shell_path, "-c", l.command}, ends);
    }
    if (rc != 0) return -1;
    // The child holds its ends now; the program keeps only its own.
    for (Ends& e : ends)
        if (e.child > 2) fds.close(e.child);
    drain(fds, ends[0].parent, l.input.data, ends[1].parent, l.output.data, ends[2].parent, l.error.data);
    if (!l.wait && !redirected_q(l.input) && !redirected_q(l.output) && !redirected_q(l.error)) {
        unwaited.push_back(pid);
        return static_cast<int32_t>(pid);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return exit_code(status);
}

namespace {

// Child input, output or error from a refinement's cell; input takes the value's bytes.
Stream stream_of(Cell* value, Stream::Kind absent, bool input) {
    Stream s;
    if (!value || value->is(Type::none)) {
        s.kind = absent;
    } else if (value->is(Type::file)) {
        s.kind = Stream::Kind::file;
        s.path = file::to_os_path(value);
    } else {
        s.kind = Stream::Kind::data;
        if (input) s.data = value->is(Type::binary) ? file_io::bytes_of_binary(value) : file_io::utf8_of_string(value);
    }
    return s;
}

// Appends what the child wrote to the target value: bytes to a binary!, text to a string.
void append_output(Cell* target, const std::string& bytes) {
    if (!target || bytes.empty() || !(target->is(Type::binary) || string::family_q(target->type()))) return;
    if (target->is(Type::binary)) {
        uint8_t* at = series::alloc_tail_bytes(series::buffer(target), static_cast<uint32_t>(bytes.size()));
        std::memcpy(at, bytes.data(), bytes.size());
        return;
    }
    string::reset(&capture);
    string::append_utf8(&capture, bytes);
    string::concatenate(target, &capture, -1, 0, false, 0);
    string::reset(&capture);
}

}  // namespace

int32_t call(Cell* command, bool wait, bool /*show*/, bool console, bool shell, Cell* input, Cell* output, Cell* err) {
    if (console) error::raise(error::id::internal_not_done);
    Launch l;
    l.command = command->is(Type::file) ? file::to_os_path(command) : string::to_utf8(command);
    if (l.command.empty()) return 0;
    l.wait = wait;
    l.shell = shell;
    l.input = stream_of(input, Stream::Kind::own, true);
    l.output = stream_of(output, Stream::Kind::discard, false);
    l.error = stream_of(err, Stream::Kind::discard, false);
    int32_t result = run(l);
    append_output(output, l.output.data);
    append_output(err, l.error.data);
    return result;
}

void init() {
    string::make_at(&capture, capture_bytes);
    collector::add_root(&capture);
}

}  // namespace zuv::process
