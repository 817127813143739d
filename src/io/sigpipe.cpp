// SIGPIPE held back around writes to peers that may have gone.
#include "io/sigpipe.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace zuv::sigpipe {

namespace {

sigset_t pipe_set() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGPIPE);
    return s;
}

bool pending_q() {
    sigset_t p;
    sigemptyset(&p);
    return sigpending(&p) == 0 && sigismember(&p, SIGPIPE) == 1;
}

}  // namespace

Blocked::Blocked() {
    // One already pending belongs to someone else: it is left for them.
    was_pending_ = pending_q();
    sigset_t s = pipe_set(), old;
    pthread_sigmask(SIG_BLOCK, &s, &old);
    was_blocked_ = sigismember(&old, SIGPIPE) == 1;
}

Blocked::~Blocked() {
    sigset_t s = pipe_set();
    if (!was_pending_ && pending_q()) {
        timespec zero{};
        while (sigtimedwait(&s, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    if (!was_blocked_) pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
}

}  // namespace zuv::sigpipe
