// Fatal runtime errors: the message table, the report format, the signal mapping, and
// child processes that end through each kind of fault.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>

#include <csignal>
#include <cstring>
#include <regex>
#include <string>

#include "child.h"
#include "runtime/entry.h"
#include "runtime/fatal.h"

using namespace zuv::runtime;

namespace {

#pragma GCC diagnostic ignored "-Winfinite-recursion"
[[gnu::noinline]] int recurse(int depth) {
    volatile char pad[256];
    pad[0] = static_cast<char>(depth);
    return recurse(depth + 1) + pad[0];
}

void* overflow_thread(void*) {
    record_machine_stack();
    install_thread_signal_stack();
    recurse(0);
    return nullptr;
}

#if defined(__x86_64__)
__attribute__((no_sanitize("integer-divide-by-zero"))) int divide(int a, int b) {
    int q;
    asm volatile("cltd\n\tidivl %2" : "=a"(q) : "a"(a), "r"(b) : "edx");
    return q;
}
#endif

void fault_in_box(const char*, const char*) {
    volatile int* p = static_cast<int*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    *p = 1;
}

}  // namespace

// The child side: each kind ends the process through the runtime's fault path.
int run_fault_child(const char* kind) {
    install_fault_handlers();
    std::string k = kind;
    if (k == "access") {
        volatile int* p = static_cast<int*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        *p = 1;
    } else if (k == "divide") {
#if defined(__x86_64__)
        return divide(1, 0);
#endif
    } else if (k == "overflow") {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, 16 << 20);
        pthread_t t;
        pthread_create(&t, &attr, overflow_thread, nullptr);
        pthread_join(t, nullptr);
    } else if (k == "interrupt") {
        raise(SIGINT);
    } else if (k == "quit200") {
        quit(200, 0x1234ABCD);
    } else if (k == "quit0") {
        quit(0, 0);
    } else if (k == "top-catch") {
        top_catch();
    } else if (k == "nested") {
        message_box_hook = fault_in_box;
        volatile int* p = static_cast<int*>(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        *p = 1;
    }
    return 77;  // the fault did not happen
}

TEST(FatalErrors, MessageTable) {
    struct Case {
        int32_t status;
        const char* message;
    } cases[] = {
        {1, "access violation"},         {6, "float denormal operan"},   {13, "integer divide by zero"},
        {19, "stack error or overflow"}, {34, "Bus error"},              {94, "out of memory"},
        {95, "no CATCH for THROW"},      {98, "assertion failed"},       {99, "unknown error"},
        {100, "no value matched in CASE"}, {101, "no value matched in SWITCH"},
        {0, "unknown error code!"},      {35, "unknown error code!"},    {200, "unknown error code!"},
        {-2, "unknown error code!"},
    };
    for (const Case& c : cases) EXPECT_STREQ(error_message(c.status), c.message) << c.status;
}

TEST(FatalErrors, ReportFormat) {
    EXPECT_EQ(format_fault(200, 0x1234), "*** Runtime Error 200: unknown error code!\n*** at: 00001234h");
    EXPECT_EQ(format_fault(1, 0xDEADBEEF), "*** Runtime Error 1: access violation\n*** at: DEADBEEFh");
}

TEST(FatalErrors, SignalMapping) {
    struct Case {
        int signal;
        int code;
        int32_t number;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, 1}, {SIGSEGV, SEGV_ACCERR, 1}, {SIGBUS, BUS_ADRALN, 2},
        {SIGBUS, BUS_ADRERR, 16},  {SIGTRAP, TRAP_BRKPT, 3},  {SIGTRAP, TRAP_TRACE, 4},
        {SIGFPE, FPE_FLTSUB, 5},   {SIGFPE, FPE_FLTDIV, 7},   {SIGFPE, FPE_FLTRES, 8},
        {SIGFPE, FPE_FLTINV, 9},   {SIGFPE, FPE_FLTOVF, 10},  {SIGFPE, FPE_FLTUND, 12},
        {SIGFPE, FPE_INTDIV, 13},  {SIGFPE, FPE_INTOVF, 14},  {SIGILL, ILL_PRVOPC, 15},
        {SIGILL, ILL_ILLOPC, 17},  {SIGINT, 0, 0},            {SIGABRT, 0, 98},
        {SIGFPE, 0, 99},           {SIGUSR1, 0, 99},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fault_number(c.signal, c.code, 0x1000), c.number) << c.signal << "/" << c.code;
}

struct FaultCase {
    const char* kind;
    int status;
    const char* message;  // regex over stderr; empty: nothing at all
};

class FaultChild : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultChild, EndsWithItsNumberAndMessage) {
    const FaultCase& c = GetParam();
#if !defined(__x86_64__)
    if (std::strcmp(c.kind, "divide") == 0) GTEST_SKIP() << "integer division by zero does not trap here";
#endif
    ChildResult r = run_child({self_executable(), std::string("--zuv-fault=") + c.kind});
    EXPECT_EQ(r.status, c.status) << r.err;
    if (*c.message) EXPECT_TRUE(std::regex_search(r.err, std::regex(c.message))) << r.err;
    else EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FaultChild,
    testing::Values(
        FaultCase{"access", 1, "^\\*\\*\\* Runtime Error 1: access violation\n\\*\\*\\* at: [0-9A-F]{8,}h\n"},
        FaultCase{"divide", 13, "Runtime Error 13: integer divide by zero"},
        FaultCase{"overflow", 19, "Runtime Error 19: stack error or overflow"},
        FaultCase{"interrupt", 0, ""},
        FaultCase{"quit200", 200, "^\\*\\*\\* Runtime Error 200: unknown error code!\n\\*\\*\\* at: 1234ABCDh\n$"},
        FaultCase{"quit0", 0, ""},
        FaultCase{"top-catch", 95, "Runtime Error 95: no CATCH for THROW"},
        FaultCase{"nested", 1, "Runtime Error 1: access violation[\\s\\S]*Fault while reporting a fault"}),
    [](const testing::TestParamInfo<FaultCase>& i) {
        std::string n = i.param.kind;
        for (char& ch : n)
            if (ch == '-') ch = '_';
        return n;
    });
