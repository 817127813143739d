// zuv-sweep: calls every function of the system with a table of values in every arity and
// names the call behind any crash, hang, runaway memory or leak. The calls run in batches in
// child processes forked from one booted runner; a shared page tells which call is running.
//
// Usage: zuv-sweep TABLES.zuv [--shard I/N] [--seed S] [--cap N] [--batch N] [--timeout SEC]
//                            [--only NAME] [--list] [--show N[-M]]
// The tables (tests/sweep/sweep.zuv) give the values, the skipped functions and the known
// faults left out; the plan comes from them. A call may raise any language error. The run is
// the same for the same seed: forms of two or more arguments whose full product exceeds the
// cap are sampled from a generator seeded by the seed, the form and the sample's number.
// With ZUV_GC_TORTURE=1 the calls (not the runner's boot) collect at every allocation.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console/program.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "library/boot.h"
#include "memory/collector.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "runtime/entry.h"
#include "runtime/system.h"
#include "runtime/throw.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZUV_SWEEP_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZUV_SWEEP_ASAN 1
#endif
#ifdef ZUV_SWEEP_ASAN
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#endif

using namespace zuv;

namespace {

struct Options {
    const char* tables = nullptr;
    int shard = 0, shards = 1;
    uint64_t seed = 1;
    int64_t cap = 800;          // sampled calls per form of two or more arguments
    int64_t batch = 2000;       // calls per child
    double timeout = 20.0;      // seconds one call may take
    int64_t memory_mb = 3072;   // resident memory a child may reach
    std::string only;           // one function (or form) alone
    bool list = false;
    int64_t show_from = -1, show_to = -1;  // calls whose code --show prints
};
Options opt;

struct Form {
    std::string name;
    std::vector<int> layout;                 // >0: argument place; -1: refinement off; -2: on
    std::vector<std::vector<int>> candidates;  // value indexes (0-based) per place
    std::vector<std::vector<std::vector<bool>>> excluded;  // per pattern, per place: empty = any
    int64_t product = 1;
    bool sampled = false;
    int64_t count = 0;
};
std::vector<std::string> values;  // the code of each value
std::vector<Form> forms;
struct CallRef {
    int32_t form;
    int32_t number;
};
std::vector<CallRef> calls;  // the calls of this shard, in order

uint64_t splitmix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The value index of each place for one call of a form.
std::vector<int> arguments_of(const Form& f, int32_t form_index, int32_t number) {
    std::vector<int> out(f.candidates.size());
    if (!f.sampled) {
        int64_t n = number;
        for (size_t p = f.candidates.size(); p-- > 0;) {
            int64_t size = static_cast<int64_t>(f.candidates[p].size());
            out[p] = f.candidates[p][static_cast<size_t>(n % size)];
            n /= size;
        }
        return out;
    }
    uint64_t state = splitmix(opt.seed ^ splitmix(static_cast<uint64_t>(form_index) << 32 | static_cast<uint32_t>(number)));
    for (size_t p = 0; p < f.candidates.size(); ++p) {
        state = splitmix(state);
        out[p] = f.candidates[p][state % f.candidates[p].size()];
    }
    return out;
}

bool excluded(const Form& f, const std::vector<int>& args) {
    for (const auto& pattern : f.excluded) {
        bool all = true;
        for (size_t p = 0; p < pattern.size() && p < args.size() && all; ++p)
            if (!pattern[p].empty() && !pattern[p][static_cast<size_t>(args[p])]) all = false;
        if (all) return true;
    }
    return false;
}

// The code of a call: apply/all/safer takes each argument as one paren, made afresh.
std::string call_code(const CallRef& c) {
    const Form& f = forms[static_cast<size_t>(c.form)];
    std::vector<int> args = arguments_of(f, c.form, c.number);
    std::string word = f.name.substr(0, f.name.find('/'));
    std::string code = "apply/all/safer '" + word + " [";
    for (int l : f.layout) {
        if (l == -1) code += " false";
        else if (l == -2) code += " true";
        else code += " (" + values[static_cast<size_t>(args[static_cast<size_t>(l - 1)])] + ")";
    }
    return code + " ]";
}

// How a report names a call: the form and its arguments as the code that made them.
std::string call_name(const CallRef& c) {
    const Form& f = forms[static_cast<size_t>(c.form)];
    std::vector<int> args = arguments_of(f, c.form, c.number);
    std::string text = f.name;
    for (int a : args) text += " (" + values[static_cast<size_t>(a)] + ")";
    return text;
}

// Evaluates code at the top level; every error and exit is taken here and the stacks are
// put back as they were, so the next call starts clean.
void run_code(const std::string& code) {
    Cell* mark = stack::arguments_top;
    stack::CallFrame* frames = stack::calls_top;
    try {
        Cell blk;
        block::make_at(&blk, 8);
        Cell* held = stack::push(&blk);
        lexer::load_into(held, code);
        stack::mark_native(&interpreter::body_word);
        interpreter::eval_block(held, true);
        stack::unwind();
    } catch (const runtime::Throw&) {
    }
    interpreter::pending = 0;
    stack::calls_top = frames;
    stack::arguments_top = mark;
    stack::arguments_base =
        stack::calls_top > stack::calls_bottom ? stack::arguments_base : stack::arguments_bottom;
}

// What a child and its parent share: the call running (-1: none) and when it began.
struct Shared {
    volatile int64_t current;
    volatile int64_t started_ms;
};
Shared* shared = nullptr;

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int log_fd = -1;  // the children's standard error, read back for reports
bool torture_calls = false;

extern "C" void on_child_fault(int sig) {
    char text[96];
    int n = std::snprintf(text, sizeof text, "zuv-sweep: signal %d in the call\n", sig);
    if (n > 0) (void)!write(2, text, static_cast<size_t>(n));
#ifdef ZUV_SWEEP_ASAN
    __sanitizer_print_stack_trace();
#endif
    _exit(128 + sig);
}

constexpr int leak_status = 23;

[[noreturn]] void child(int64_t from, int64_t to, bool leak_check) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#ifdef ZUV_SWEEP_ASAN
    // What the runner made before the fork is no call's leak (see run).
    if (leak_check) __lsan_enable();
#endif
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(log_fd, 2);
    struct sigaction sa{};
    sa.sa_handler = on_child_fault;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP}) sigaction(s, &sa, nullptr);
    // ZUV_GC_TORTURE=1 collects at every allocation of the calls (not of the runner's boot).
    collector::torture = torture_calls;
    for (int64_t i = from; i < to; ++i) {
        shared->started_ms = now_ms();
        shared->current = i;
        run_code(call_code(calls[static_cast<size_t>(i)]));
    }
    shared->current = -1;
#ifdef ZUV_SWEEP_ASAN
    if (leak_check && __lsan_do_recoverable_leak_check()) _exit(leak_status);
#else
    (void)leak_check;
#endif
    _exit(0);
}

std::string read_log() {
    std::string text;
    char buf[4096];
    off_t at = 0;
    for (;;) {
        ssize_t n = pread(log_fd, buf, sizeof buf, at);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    // The head of a sanitizer's report says what and where; keep a screenful.
    size_t cut = 0;
    for (int lines = 0; cut != std::string::npos && lines < 60; ++lines) cut = text.find('\n', cut + 1);
    if (cut != std::string::npos) text = text.substr(0, cut + 1) + "    ...\n";
    return text;
}

int64_t resident_mb(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
    std::ifstream in(path);
    int64_t size = 0, resident = 0;
    in >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

// One child over calls [from, to): what ended it.
struct Ending {
    enum Kind { finished, leaked, crashed, hung, memory } kind;
    int64_t call;  // the call running when it ended (-1 for none)
    int status;
};

Ending run_child(int64_t from, int64_t to, bool leak_check) {
    // The child's writes go where the shared offset points: back to the start.
    if (ftruncate(log_fd, 0) != 0 || lseek(log_fd, 0, SEEK_SET) != 0) std::perror("zuv-sweep: log");
    shared->current = -1;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) child(from, to, leak_check);
    if (pid < 0) {
        std::perror("fork");
        std::exit(2);
    }
    int polls = 0;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            int64_t at = shared->current;
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && at < 0) return {Ending::finished, -1, 0};
            if (WIFEXITED(status) && WEXITSTATUS(status) == leak_status && at < 0) return {Ending::leaked, -1, 0};
            int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return {Ending::crashed, at, code};
        }
        usleep(polls < 50 ? 2000 : 20000);
        ++polls;
        int64_t at = shared->current;
        if (at >= 0 && now_ms() - shared->started_ms > static_cast<int64_t>(opt.timeout * 1000)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return {Ending::hung, at, 0};
        }
        if (polls % 5 == 0 && resident_mb(pid) > opt.memory_mb) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return {Ending::memory, shared->current, 0};
        }
    }
}

int findings = 0;

// The code as one shell word, to paste after zuv-test --eval.
std::string shell_quoted(const std::string& text) {
    std::string out = "'";
    for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

void report(const char* what, int64_t call, const std::string& detail) {
    ++findings;
    const CallRef& c = calls[static_cast<size_t>(call)];
    std::printf("\nzuv-sweep: %s\n  call:   %s\n  repeat: zuv-test --eval %s\n", what, call_name(c).c_str(),
                shell_quoted(call_code(c)).c_str());
    if (!detail.empty()) std::printf("%s", detail.c_str());
    std::fflush(stdout);
}

// A crash or hang is checked again with the call alone: when it does not come back, the
// calls before it in the same child set the stage, and the report says so.
std::string alone_note(int64_t first, int64_t call, Ending::Kind kind) {
    Ending again = run_child(call, call + 1, false);
    if (again.kind == kind) return "";
    return "  (does not happen alone: one of the calls run before it in the same child, numbers " +
           std::to_string(first) + " to " + std::to_string(call - 1) + " (--show N), prepared it)\n";
}

int sweep() {
    std::deque<std::pair<int64_t, int64_t>> work;
    int64_t total = static_cast<int64_t>(calls.size());
    for (int64_t i = 0; i < total; i += opt.batch) work.emplace_back(i, std::min(total, i + opt.batch));
    int children = 0;
    while (!work.empty()) {
        auto [from, to] = work.front();
        work.pop_front();
        Ending e = run_child(from, to, true);
        ++children;
        switch (e.kind) {
            case Ending::finished: break;
            case Ending::leaked:
                // Halve the batch until the call that leaks stands alone.
                if (to - from == 1) {
                    report("LEAK", from, read_log());
                } else {
                    int64_t mid = from + (to - from) / 2;
                    work.emplace_front(mid, to);
                    work.emplace_front(from, mid);
                }
                break;
            case Ending::crashed:
            case Ending::hung:
            case Ending::memory: {
                if (e.call < 0) {
                    std::printf("\nzuv-sweep: a child over calls %lld..%lld ended with status %d after its calls\n%s",
                                static_cast<long long>(from), static_cast<long long>(to - 1), e.status,
                                read_log().c_str());
                    ++findings;
                    break;
                }
                std::string log = read_log();
                std::string what = e.kind == Ending::crashed ? "CRASH (status " + std::to_string(e.status) + ")"
                                   : e.kind == Ending::hung   ? "HANG (still running after the time limit)"
                                                              : "RUNAWAY MEMORY (past the limit)";
                std::string note = alone_note(from, e.call, e.kind);
                report(what.c_str(), e.call, log + note);
                if (e.call + 1 < to) work.emplace_front(e.call + 1, to);
                break;
            }
        }
    }
    return children;
}

bool parse_plan(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 1) continue;
        char kind = line[0];
        std::string rest = line.size() > 2 ? line.substr(2) : "";
        std::istringstream words(rest);
        if (kind == 'V') {
            values.push_back(rest);
        } else if (kind == 'F') {
            forms.emplace_back();
            forms.back().name = rest;
        } else if (kind == 'L') {
            std::string w;
            while (words >> w) forms.back().layout.push_back(w == "T" ? -2 : w == "F" ? -1 : std::stoi(w));
        } else if (kind == 'C') {
            std::vector<int> c;
            int i;
            while (words >> i) c.push_back(i - 1);
            forms.back().candidates.push_back(c);
        } else if (kind == 'X') {
            std::vector<std::vector<bool>> pattern;
            std::stringstream places(rest);
            std::string place;
            while (std::getline(places, place, '|')) {
                std::vector<bool> fits;
                if (place != "*") {
                    fits.assign(values.size(), false);
                    std::stringstream ids(place);
                    std::string id;
                    while (std::getline(ids, id, ','))
                        if (!id.empty()) fits[static_cast<size_t>(std::stoi(id) - 1)] = true;
                }
                pattern.push_back(fits);
            }
            forms.back().excluded.push_back(pattern);
        } else {
            return false;
        }
    }
    return true;
}

// Every call of the plan, in order; this shard's are every shards-th one.
void make_calls() {
    int64_t index = 0;
    for (size_t fi = 0; fi < forms.size(); ++fi) {
        Form& f = forms[fi];
        if (!opt.only.empty() && f.name != opt.only && f.name.substr(0, f.name.find('/')) != opt.only) continue;
        bool empty_place = false;
        for (auto& c : f.candidates) {
            if (c.empty()) empty_place = true;
            f.product = std::min<int64_t>(f.product * static_cast<int64_t>(c.size()), int64_t(1) << 40);
        }
        if (empty_place) continue;
        f.sampled = f.candidates.size() >= 2 && f.product > opt.cap;
        int64_t n = f.sampled ? opt.cap : f.product;
        for (int64_t k = 0; k < n; ++k) {
            CallRef c{static_cast<int32_t>(fi), static_cast<int32_t>(k)};
            if (excluded(f, arguments_of(f, c.form, c.number))) continue;
            ++f.count;
            if (index++ % opt.shards == opt.shard) calls.push_back(c);
        }
    }
}

#ifdef ZUV_SWEEP_ASAN
// In a forked child the leak check cannot stop the threads it knows (their ids are the
// parent's), so it scans neither their stacks nor their thread blocks; the libraries keep
// per-thread pointers (pthread keys) in the thread block, which is then scanned as a root.
void register_thread_block() { __lsan_register_root_region(reinterpret_cast<void*>(pthread_self()), 4096); }
#endif

struct Args {
    int argc;
    char** argv;
    int status;
};

bool parse_options(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--shard") {
            if (std::sscanf(next(), "%d/%d", &opt.shard, &opt.shards) != 2 || opt.shards < 1) return false;
        } else if (a == "--seed") opt.seed = std::strtoull(next(), nullptr, 10);
        else if (a == "--cap") opt.cap = std::strtoll(next(), nullptr, 10);
        else if (a == "--batch") opt.batch = std::max<int64_t>(1, std::strtoll(next(), nullptr, 10));
        else if (a == "--timeout") opt.timeout = std::strtod(next(), nullptr);
        else if (a == "--only") opt.only = next();
        else if (a == "--list") opt.list = true;
        else if (a == "--show") {
            const char* range = next();
            long long x = -1, y = -1;
            int n = std::sscanf(range, "%lld-%lld", &x, &y);
            if (n < 1 || x < 0) return false;
            opt.show_from = x;
            opt.show_to = n == 2 ? y : x;
        }
        else if (a[0] != '-' && !opt.tables) opt.tables = argv[i];
        else return false;
    }
    return opt.tables != nullptr;
}

void* run(void* p) {
    auto* a = static_cast<Args*>(p);
#ifdef ZUV_SWEEP_ASAN
    register_thread_block();
    // Nothing the runner allocates counts as leaked: the leak check in a forked child sees
    // the runner's stacks as those of threads it cannot stop, and would name what they hold.
    __lsan_disable();
#endif
    runtime::start_here(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    torture_calls = collector::torture;
    collector::torture = false;
    std::string plan;
    try {
        boot::run_script();
        std::ifstream in(opt.tables, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "zuv-sweep: cannot open %s\n", opt.tables);
            return nullptr;
        }
        std::stringstream text;
        text << in.rdbuf();
        Cell result;
        boot::run_text(text.str() + "\nsweep/plan-text", nullptr, &result);
        plan = string::to_utf8(&result);
    } catch (const runtime::Throw& t) {
        std::fprintf(stderr, "zuv-sweep: the tables failed: %s\n",
                     t.code == runtime::throw_error ? boot::describe_error(stack::top()).c_str() : "a throw");
        return nullptr;
    }
    if (!parse_plan(plan)) {
        std::fprintf(stderr, "zuv-sweep: the plan is not readable\n");
        return nullptr;
    }
    make_calls();
    if (opt.show_from >= 0) {
        for (int64_t i = opt.show_from; i <= opt.show_to && i < static_cast<int64_t>(calls.size()); ++i)
            std::printf("%lld: %s\n", static_cast<long long>(i), call_code(calls[static_cast<size_t>(i)]).c_str());
        a->status = 0;
        return nullptr;
    }
    if (opt.list) {
        for (const Form& f : forms)
            if (f.count) std::printf("%-40s %8lld calls%s\n", f.name.c_str(), static_cast<long long>(f.count),
                                     f.sampled ? " (sampled)" : "");
        std::printf("%zu values, %zu calls in shard %d/%d\n", values.size(), calls.size(), opt.shard, opt.shards);
        a->status = 0;
        return nullptr;
    }
    // The calls run in a scratch folder of their own: files they make land there.
    char scratch[] = "/tmp/zuv-sweep-XXXXXX";
    if (!mkdtemp(scratch) || chdir(scratch) != 0) {
        std::perror("zuv-sweep: scratch folder");
        return nullptr;
    }
    log_fd = memfd_create("zuv-sweep-log", 0);
    shared = static_cast<Shared*>(
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    auto start = std::chrono::steady_clock::now();
    int children = sweep();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string remove = std::string("rm -rf ") + scratch;
    if (chdir("/") != 0 || std::system(remove.c_str()) != 0) std::fprintf(stderr, "zuv-sweep: %s left behind\n", scratch);
    std::printf("zuv-sweep: shard %d/%d, seed %llu: %zu calls over %zu values in %d children, %.1f s: %d finding%s\n",
                opt.shard, opt.shards, static_cast<unsigned long long>(opt.seed), calls.size(), values.size(),
                children, seconds, findings, findings == 1 ? "" : "s");
    a->status = findings ? 1 : 0;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (!parse_options(argc, argv)) {
        std::fprintf(stderr,
                     "usage: zuv-sweep TABLES.zuv [--shard I/N] [--seed S] [--cap N] [--batch N] [--timeout SEC] "
                     "[--only NAME] [--list] [--show N[-M]]\n");
        return 2;
    }
    console::link_program();
    Args args{argc, argv, 2};
#ifdef ZUV_SWEEP_ASAN
    register_thread_block();
#endif
    runtime::run_on_machine_stack(run, &args);
    std::fflush(stdout);
    // No leak check of the runner itself: the children check theirs, after their calls.
    _exit(args.status);
}
