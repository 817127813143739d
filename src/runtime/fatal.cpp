// Fatal runtime errors. A processor fault arrives as a signal on an alternate stack, is
// mapped to its runtime error number, reported and ends the process; a fault while doing
// so ends the process at once with the first fault's number.
#include "runtime/fatal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cinttypes>
#include <cstring>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "runtime/entry.h"
#include "runtime/stdio.h"
#include "runtime/system.h"

namespace zuv::runtime {

MessageBoxHook message_box_hook = nullptr;

namespace {

const char* const low_messages[] = {
    nullptr,
    "access violation",
    "invalid alignment",
    "breakpoint",
    "single step",
    "bounds exceeded",
    "float denormal operan",
    "float divide by zero",
    "float inexact result",
    "float invalid operation",
    "float overflow",
    "float stack check",
    "float underflow",
    "integer divide by zero",
    "integer overflow",
    "privileged instruction",
    "invalid virtual address",
    "illegal instruction",
    "non-continuable exception",
    "stack error or overflow",
    "invalid disposition",
    "guard page",
    "invalid handle",
    "illegal operand",
    "illegal addressing mode",
    "illegal trap",
    "coprocessor error",
    "non-existent physical address",
    "object specific hardware error",
    "hardware memory error consumed AR",
    "hardware memory error consumed AO",
    "privileged register",
    "segmentation fault",
    "FPU error",
    "Bus error",
};

FaultRecord fault_record;
volatile sig_atomic_t in_fault = 0;
volatile sig_atomic_t first_fault = 0;
uintptr_t stack_low = 0;
uintptr_t stack_high = 0;

void write_all(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void format_into(char* out, size_t size, int32_t status, uintptr_t fault_address) {
    std::snprintf(out, size, "*** Runtime Error %d: %s\n*** at: %08" PRIXPTR "h", status,
                  error_message(status), fault_address);
}

// Reports a fault from a signal handler: only the message and the box, no heap clean-up,
// since the fault may have happened inside the heap itself.
[[noreturn]] void quit_from_signal(int32_t status, uintptr_t fault_address) {
    if (status != 0) {
        char text[512];
        format_into(text, sizeof text, status, fault_address);
        write_all(2, text, std::strlen(text));
        write_all(2, "\n", 1);
        message_box(text, "Zuv App Error");
    }
    ::_exit(status);
}

void record_registers(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    fault_record.stack_pointer = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
    fault_record.frame_pointer = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RBP]);
#elif defined(__aarch64__)
    fault_record.stack_pointer = static_cast<uintptr_t>(uc->uc_mcontext.sp);
    fault_record.frame_pointer = static_cast<uintptr_t>(uc->uc_mcontext.regs[29]);
#else
    (void)uc;
#endif
    if (system_record) system_record->fault_record = &fault_record;
}

uintptr_t code_address(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

void on_fault(int signal, siginfo_t* info, void* context) {
    if (in_fault) {
        static const char note[] = "*** Fault while reporting a fault\n";
        write_all(2, note, sizeof note - 1);
        ::_exit(first_fault ? first_fault : unknown_error);
    }
    in_fault = 1;
    int32_t status = fault_number(signal, info ? info->si_code : 0,
                                  info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0);
    first_fault = status;
    record_registers(context);
    quit_from_signal(status, code_address(context));
}

void install_signal_stack() {
    constexpr size_t size = 256 * 1024;
    void* area = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return;  // faults are still reported, just not on overflow
    stack_t ss{};
    ss.ss_sp = area;
    ss.ss_size = size;
    ss.ss_flags = 0;
    ::sigaltstack(&ss, nullptr);
}

}  // namespace

const char* error_message(int32_t status) {
    if (status >= 1 && status <= 34) return low_messages[status];
    switch (status) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

std::string format_fault(int32_t status, uintptr_t fault_address) {
    char text[512];
    format_into(text, sizeof text, status, fault_address);
    return text;
}

void message_box(const char* text, const char* caption) {
    if (message_box_hook) message_box_hook(text, caption);
}

[[noreturn]] void quit(int32_t status, uintptr_t fault_address) {
    stdio::flush_pending();
    if (status != 0) {
        std::string text = format_fault(status, fault_address);
        write_all(2, text.data(), text.size());
        write_all(2, "\n", 1);
        message_box(text.c_str(), "Zuv App Error");
    }
    exit_cleanup();
    std::exit(status);
}

[[noreturn]] void top_catch() {
    quit(no_catch_for_throw, reinterpret_cast<uintptr_t>(&top_catch));
}

uintptr_t caller_address(void* return_address, void* frame_address) {
    fault_record.frame_pointer = reinterpret_cast<uintptr_t>(frame_address);
    fault_record.stack_pointer = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (system_record) system_record->fault_record = &fault_record;
    return reinterpret_cast<uintptr_t>(return_address);
}

void set_stack_bounds(uintptr_t low, uintptr_t high) {
    stack_low = low;
    stack_high = high;
}

int32_t fault_number(int signal, int code, uintptr_t fault_address) {
    switch (signal) {
        case SIGINT:
            return 0;
        case SIGSEGV:
            // A touch of the guard region just below the interpreter's stack is an overflow.
            if (stack_low && fault_address + 1024 * 1024 >= stack_low && fault_address < stack_low + 64 * 1024)
                return stack_overflow;
            return access_violation;
        case SIGBUS:
            return code == BUS_ADRALN ? invalid_alignment : invalid_virtual_address;
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV: return integer_divide_by_zero;
                case FPE_INTOVF: return integer_overflow;
                case FPE_FLTDIV: return float_divide_by_zero;
                case FPE_FLTOVF: return float_overflow;
                case FPE_FLTUND: return float_underflow;
                case FPE_FLTRES: return float_inexact;
                case FPE_FLTINV: return float_invalid;
                case FPE_FLTSUB: return bounds_exceeded;
                default: return unknown_error;
            }
        case SIGILL:
            return (code == ILL_PRVOPC || code == ILL_PRVREG) ? privileged_instruction : illegal_instruction;
        case SIGTRAP:
            return code == TRAP_TRACE ? single_step : breakpoint;
        case SIGABRT:
            return assertion_failed;
        default:
            return unknown_error;
    }
}

void install_fault_handlers() {
    install_signal_stack();
    struct sigaction sa{};
    sa.sa_sigaction = on_fault;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;  // a fault while reporting re-enters and ends at once
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGINT}) ::sigaction(s, &sa, nullptr);
}

void install_thread_signal_stack() { install_signal_stack(); }

}  // namespace zuv::runtime
