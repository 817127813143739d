// Process launching: splitting command lines, exit codes, the fallback to the shell, input,
// output and error through pipes and files (including amounts that stall a reader that
// serves one pipe at a time), children not waited for, and the call native's value side.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "memory/error.h"
#include "io/file-io.h"
#include "io/process.h"
#include "io_fixture.h"
#include "string_fixture.h"

using namespace zuv;
using namespace zuv::testing;
using Kind = zuv::process::Stream::Kind;

namespace {

class ProcessTest : public RuntimeTest {};

process::Launch launch(const std::string& command, bool shell = false) {
    process::Launch l;
    l.command = command;
    l.wait = true;
    l.shell = shell;
    l.output.kind = Kind::data;
    l.error.kind = Kind::data;
    return l;
}

}  // namespace

TEST_F(ProcessTest, SplitCommand) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    } cases[] = {
        {"echo  hi\tthere ", {"echo", "hi", "there"}},
        {"", {}},
        {"   ", {}},
        {"a 'b  c' d", {"a", "b  c", "d"}},
        {"a \"b \\\" \\\\ \\n\"", {"a", "b \" \\ \\n"}},
        {"x'y'\"z\"", {"xyz"}},
        {"a\\ b c\\'", {"a b", "c'"}},
        {"'' \"\"", {"", ""}},
        {"'open", {"open"}},
        {"a > b", {"a", ">", "b"}},
    };
    for (const Case& c : cases) EXPECT_EQ(process::split_command(c.line), c.words) << c.line;
}

TEST_F(ProcessTest, ExitCodesAndTheShellFallback) {
    struct Case {
        const char* command;
        bool shell;
        int32_t code;
        bool through_shell;
        const char* out;
    } cases[] = {
        {"true", false, 0, false, ""},
        {"false", false, 1, false, ""},
        {"echo hi  there", false, 0, false, "hi there\n"},
        {"echo 'a  b' > /dev/null", false, 0, false, "a  b > /dev/null\n"},  // no shell, no redirection
        {"echo 'a  b' > /dev/null", true, 0, true, ""},
        {"exit 5", false, 5, true, ""},  // no program named exit: the shell runs it
        {"sh -c 'kill -TERM $$'", false, 128 + SIGTERM, false, ""},
        {"/no/such/program", false, 127, true, ""},
    };
    for (const Case& c : cases) {
        process::Launch l = launch(c.command, c.shell);
        EXPECT_EQ(process::run(l), c.code) << c.command;
        EXPECT_EQ(l.through_shell, c.through_shell) << c.command;
        EXPECT_EQ(l.output.data, c.out) << c.command;
    }
}

TEST_F(ProcessTest, InputOutputAndError) {
    process::Launch l = launch("cat");
    l.input = {Kind::data, "hello\nworld\0!", ""};
    l.input.data.push_back('\0');
    EXPECT_EQ(process::run(l), 0);
    EXPECT_EQ(l.output.data, l.input.data);
    EXPECT_EQ(l.error.data, "");

    process::Launch e = launch("echo out; echo err >&2; exit 3", true);
    EXPECT_EQ(process::run(e), 3);
    EXPECT_EQ(e.output.data, "out\n");
    EXPECT_EQ(e.error.data, "err\n");

    // A child that never reads its input neither blocks nor ends the program.
    process::Launch deaf = launch("true");
    deaf.input = {Kind::data, std::string(1 << 20, 'x'), ""};
    EXPECT_EQ(process::run(deaf), 0);
}

TEST_F(ProcessTest, PipesAreServedTogether) {
    // The child fills its error pipe before it reads any input, then echoes its input: one
    // pipe served at a time would stall both sides. timeout ends a stalled child (124).
    const size_t n = 1 << 20;
    process::Launch l = launch("timeout 60 sh -c 'head -c 1048576 /dev/zero >&2; cat'");
    l.input = {Kind::data, std::string(n, 'i'), ""};
    EXPECT_EQ(process::run(l), 0);
    EXPECT_EQ(l.output.data.size(), n);
    EXPECT_EQ(l.output.data, l.input.data);
    EXPECT_EQ(l.error.data, std::string(n, '\0'));
}

TEST_F(ProcessTest, FilesAsStreams) {
    TempDir dir;
    ASSERT_TRUE(dir.made());
    spit(dir / "in", "from a file\n");
    for (int i = 0; i < 2; ++i) {
        process::Launch l = launch("cat; echo oops >&2", true);
        l.input = {Kind::file, "", dir / "in"};
        l.output = {Kind::file, "", dir / "out"};
        l.error = {Kind::file, "", dir / "out"};
        EXPECT_EQ(process::run(l), 0);
    }
    // Each run appends to what the file held.
    EXPECT_EQ(slurp(dir / "out"), "from a file\noops\nfrom a file\noops\n");
    process::Launch missing = launch("cat");
    missing.input = {Kind::file, "", dir / "missing"};
    EXPECT_EQ(process::run(missing), -1);
    process::Launch unwritable = launch("echo");
    unwritable.output = {Kind::file, "", dir / "no/such/folder"};
    EXPECT_EQ(process::run(unwritable), -1);
}

TEST_F(ProcessTest, WithoutWaitingTheProcessIdComesBack) {
    process::Launch l;
    l.command = "sleep 0.1";
    int32_t pid = process::run(l);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0);
    // Once it has ended, the next launch collects it: no zombie stays behind.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    process::reap();
    int status;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    // Any redirection makes the launch wait.
    process::Launch r = launch("exit 4", true);
    r.wait = false;
    EXPECT_EQ(process::run(r), 4);
}

TEST_F(ProcessTest, CallAppendsToValues) {
    Cell out = str("before:"), err = str("");
    Cell bin = *file_io::binary_from_bytes("\x01");
    Cell in = str("h\xC3\xA9\n");
    Cell cmd = str("cat; printf 'x\\377y' >&2");
    EXPECT_EQ(process::call(&cmd, true, false, false, true, &in, &out, &err), 0);
    EXPECT_EQ(utf8(out), "before:h\xC3\xA9\n");
    // Bytes that are not UTF-8 come out as U+FFFD in text, as they are in a binary!.
    EXPECT_EQ(utf8(err), "x\xEF\xBF\xBDy");
    EXPECT_EQ(process::call(&cmd, true, false, false, true, &in, &bin, &bin), 0);
    EXPECT_EQ(describe(bin), "#{0168C3A90A78FF79}");

    Cell prog = str("echo", Type::file), text = str("");
    EXPECT_EQ(process::call(&prog, true, false, false, false, nullptr, &text, nullptr), 0);
    EXPECT_EQ(utf8(text), "\n");
    Cell empty = str("");
    EXPECT_EQ(process::call(&empty, true, false, false, false, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(raised([&] { process::call(&cmd, true, false, true, false, nullptr, nullptr, nullptr); }),
              error::id::internal_not_done);
}
