// Program entry and start-up: machine set-up, the runtime initialisation in its fixed
// order, the boot script, the console, and the normal end.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zuv::runtime {

// The whole start-up sequence; never returns.
[[noreturn]] void entry(int argc, char** argv);

void boot(int argc, char** argv);
// Takes the arguments as UTF-8 into the system record and rebuilds the raw command line.
void load_args(int argc, char** argv);
void exit_cleanup();
// Records the current thread's stack as the interpreter's: its limit and its fault bounds.
void record_machine_stack();
// Starts the language on the calling thread for a program that runs its own boot (the test
// runners, the sweep, the fuzz targets), with the collector on. top is the caller's own frame
// (__builtin_frame_address(0)): the machine stack from there down is scanned for references,
// so the caller's locals are seen.
void start_here(uintptr_t top);
// Runs fn(arg) on a thread whose stack is big enough for the deepest call stack the language
// allows (halved while the system refuses, down to 16 MiB), and waits for it; with no such
// thread, runs it on the caller's stack.
void run_on_machine_stack(void* (*fn)(void*), void* arg);

// The interpreter's machine stack: the entry runs everything on a thread with a stack of
// this size, so that deep recursion is bounded by the call stack, not by the system's.
constexpr size_t machine_stack_size = size_t(512) << 20;
// Room kept below the stack limit for raising the overflow error itself.
constexpr size_t machine_stack_reserve = size_t(1) << 20;

// True when the machine stack has grown past its limit.
inline bool stack_exhausted();

}  // namespace zuv::runtime

namespace zuv::rt {

void init_language();

}  // namespace zuv::rt

#include "runtime/system.h"

inline bool zuv::runtime::stack_exhausted() {
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < stack_limit;
}
