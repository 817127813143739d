// SIGPIPE held back while the program writes to a peer that may have gone (a child's input
// pipe, a socket): the write then fails with EPIPE instead of ending the program.
#pragma once
#include <csignal>

namespace zuv::sigpipe {

// Blocks SIGPIPE in the calling thread for its lifetime; a SIGPIPE raised meanwhile is
// consumed before the mask is restored, so it is never delivered late.
class Blocked {
public:
    Blocked();
    ~Blocked();
    Blocked(const Blocked&) = delete;
    Blocked& operator=(const Blocked&) = delete;

private:
    bool was_pending_ = false;
    bool was_blocked_ = false;
};

}  // namespace zuv::sigpipe
