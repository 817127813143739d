// Fatal runtime errors: the numbered faults of the runtime itself (not language errors),
// the signal handlers that turn processor faults into them, and the one way out, quit.
#pragma once
#include <cstdint>
#include <string>

namespace zuv::runtime {

enum RuntimeError : int32_t {
    access_violation = 1,
    invalid_alignment = 2,
    breakpoint = 3,
    single_step = 4,
    bounds_exceeded = 5,
    float_denormal = 6,
    float_divide_by_zero = 7,
    float_inexact = 8,
    float_invalid = 9,
    float_overflow = 10,
    float_stack_check = 11,
    float_underflow = 12,
    integer_divide_by_zero = 13,
    integer_overflow = 14,
    privileged_instruction = 15,
    invalid_virtual_address = 16,
    illegal_instruction = 17,
    noncontinuable = 18,
    stack_overflow = 19,
    invalid_disposition = 20,
    guard_page = 21,
    invalid_handle = 22,
    out_of_memory = 94,
    no_catch_for_throw = 95,
    assertion_failed = 98,
    unknown_error = 99,
    no_case_match = 100,
    no_switch_match = 101,
};

// The table's message for a runtime error number; "unknown error code!" otherwise.
const char* error_message(int32_t status);

// "*** Runtime Error <n>: <message>\n*** at: <address>h"
std::string format_fault(int32_t status, uintptr_t fault_address);

// Ends the process. Status 0 is the normal way out and shows nothing; any other status
// reports the fault (stderr, and a message box when the GUI has installed one) first.
[[noreturn]] void quit(int32_t status, uintptr_t fault_address = 0);

// Entered when a throw reaches the entry's top-level catch: no CATCH for THROW.
[[noreturn]] void top_catch();

// The code address from which the function using the macro was called, with that
// function's stack and frame pointers recorded in the fault record.
uintptr_t caller_address(void* return_address, void* frame_address);
#define ZUV_CALLER_ADDRESS() \
    ::zuv::runtime::caller_address(__builtin_return_address(0), __builtin_frame_address(0))

// Installs the fault handlers for the calling thread (alternate signal stack) and the process.
void install_fault_handlers();

// Maps a signal and its code to a runtime error number (0 for an interrupt).
int32_t fault_number(int signal, int code, uintptr_t fault_address);

// Message-box hook: shown by quit and by an uncaught language error when the GUI backend
// has installed it. Runs before the process ends; must not throw.
using MessageBoxHook = void (*)(const char* text, const char* caption);
extern MessageBoxHook message_box_hook;
void message_box(const char* text, const char* caption);

// Runs the machine stack of the interpreter between these bounds (set by the entry);
// a fault near the low end is a stack overflow.
void set_stack_bounds(uintptr_t low, uintptr_t high);

}  // namespace zuv::runtime

namespace zuv::runtime {
// Every thread that runs runtime code needs its own alternate stack for fault reports.
void install_thread_signal_stack();
}  // namespace zuv::runtime
