#include "child.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>

extern char** environ;

std::string self_executable() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = 0;
    return path;
}

namespace {

ChildResult run(const std::vector<std::string>& args, const std::string* input) {
    ChildResult r;
    int out[2], err[2], in[2] = {-1, -1};
    if (pipe(out) != 0 || pipe(err) != 0) return r;
    if (input && pipe(in) != 0) return r;
    // A child that ends before reading all its input must not end the test with SIGPIPE.
    if (input) std::signal(SIGPIPE, SIG_IGN);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (input) {
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, in[1]);
    }
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, err[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (input) close(in[0]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        if (input) close(in[1]);
        return r;
    }
    // Drain both pipes together, and feed the input as the child takes it, so a child that
    // fills one pipe cannot block on it.
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {input ? in[1] : -1, POLLOUT, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    size_t written = 0;
    if (input && input->empty()) {
        close(in[1]);
        fds[2].fd = -1;
    }
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 3, -1) < 0) break;
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = (fds[2].revents & POLLOUT)
                            ? write(fds[2].fd, input->data() + written, std::min<size_t>(65536, input->size() - written))
                            : -1;
            if (n > 0) written += static_cast<size_t>(n);
            if (n <= 0 || written == input->size()) {
                close(fds[2].fd);
                fds[2].fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            } else {
                sinks[i]->append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (fds[2].fd >= 0) close(fds[2].fd);
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) r.status = 128 + WTERMSIG(status);
    return r;
}

}  // namespace

ChildResult run_child(const std::vector<std::string>& args) { return run(args, nullptr); }

ChildResult run_child_with_input(const std::vector<std::string>& args, const std::string& input) {
    return run(args, &input);
}
