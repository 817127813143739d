// The console on a terminal: whole sessions fed through standard input and compared with
// what they print, the script named on the command line, a session typed on a
// pseudo-terminal as a person would, and the terminal's line reader.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "child.h"
#include "scratch_folder.h"
#include "console/terminal.h"

namespace {

const std::string banner = "--== Zuv 0.1.0 ==-- \nType HELP for starting information. \n\n";

struct Session {
    const char* name;
    std::string input;
    std::string transcript;  // everything printed after the banner
    int status;
};

TEST(ConsoleSession, ReadsEvaluatesAndPrintsUntilTheEndOfInput) {
    const Session sessions[] = {
        {"a result", "1 + 2\n", ">> 1 + 2\n== 3\n>> \n", 0},
        {"nothing to print", "print \"hi\"\n\n()\n", ">> print \"hi\"\nhi\n>> \n>> ()\n>> \n", 0},
        {"a block over lines", "b: [1\n2]\nlength? b\n", ">> b: [1\n[    2]\n== [1\n2]\n>> length? b\n== 2\n>> \n", 0},
        {"a string over lines", "{a\nb}\n", ">> {a\n{    b}\n== \"a^/b\"\n>> \n", 0},
        {"escape drops the pending input", "[1\n2\x1b\n3\n",
         ">> [1\n[    2\x1b\n(escape)\n>> 3\n== 3\n>> \n", 0},
        {"errors are printed and the loop goes on", "1 / 0\n2\n",
         ">> 1 / 0\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n"
         "*** Stack: launch run eval-command do-command try-do\n\n>> 2\n== 2\n>> \n",
         0},
        {"halt", "loop 3 [print 1 halt]\n4\n", ">> loop 3 [print 1 halt]\n1\n(halted)\n>> 4\n== 4\n>> \n", 0},
        {"ask and input read the next lines", "x: ask \"Name? \"\nZuv\ninput\nx\n",
         ">> x: ask \"Name? \"\nName? Zuv\n== \"Zuv\"\n>> input\nx\n== \"x\"\n>> \n", 0},
        {"a prompt of one's own", "system/console/prompt: does [\"zuv> \"]\n1\n",
         ">> system/console/prompt: does [\"zuv> \"]\n== func [] [\"zuv> \"]\nzuv> 1\n== 1\nzuv> \n", 0},
        {"a broken prompt is reported once and reset", "system/console/prompt: does [1 / 0] 5\n6\n",
         ">> system/console/prompt: does [1 / 0] 5\n== 5\n*** Math Error: attempt to divide by zero\n"
         "*** Where: system/console/prompt\n*** Near : 1 / 0\n*** Stack: launch run prompt\n>> 6\n== 6\n>> \n",
         0},
        {"history keeps the accepted lines, newest first", "1\n1\n\n2\nsystem/console/history\n",
         ">> 1\n== 1\n>> 1\n== 1\n>> \n>> 2\n== 2\n>> system/console/history\n== [\"system/console/history\" \"2\" \"1\"]\n>> \n",
         0},
        {"an unclosed block at the end of input is reported", "[1 2\n",
         ">> [1 2\n[    \n*** Syntax Error: (line 2) missing ] at [1 2\n*** Where: throw\n*** Near : transcode source\n"
         "*** Stack: launch run do-command load\n",
         0},
        {"quit ends the session with its status", "quit/return 3\nprint 1\n", ">> quit/return 3\n", 3},
        {"q is quit", "q\nprint 1\n", ">> q\n", 0},
        {"help on an object that holds itself", "o: make object! [me: none] o/me: o help o\n",
         ">> o: make object! [me: none] o/me: o help o\nO is an object! with the following words and values:\n"
         "     me  object!       [me]\n\n>> \n",
         0},
        {"an error inside help", "help (1 / 0)\n3\n",
         ">> help (1 / 0)\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n"
         "*** Stack: launch run eval-command do-command try-do help\n\n>> 3\n== 3\n>> \n",
         0},
        {"help of a path to nothing", "help system/no-such\n",
         ">> help system/no-such\nSYSTEM/NO-SUCH is an unset! value: \n\n>> \n", 0},
        {"bytes that are not UTF-8 become replacement characters", "length? \"\xff\xfe\"\n",
         ">> length? \"\xef\xbf\xbd\xef\xbf\xbd\"\n== 2\n>> \n", 0},
    };
    for (const Session& s : sessions) {
        ChildResult r = run_child_with_input({ZUV_EXECUTABLE}, s.input);
        EXPECT_EQ(r.status, s.status) << s.name << "\n" << r.err;
        EXPECT_EQ(r.out, banner + s.transcript) << s.name;
    }
}

TEST(ConsoleSession, ALineOfAMegabyteIsEvaluatedLikeAnyOther) {
    std::string big(1 << 20, 'a');
    ChildResult r = run_child_with_input({ZUV_EXECUTABLE}, "length? \"" + big + "\"\n" + big + "\n1\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n== 1048576\n"), std::string::npos);
    EXPECT_NE(r.out.find("*** Script Error: " + std::string(20, 'a')), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 14), ">> 1\n== 1\n>> \n");
}

// A scratch folder for scripts, removed at the end.
class ConsoleScript : public ScratchFolder {};

TEST_F(ConsoleScript, CatchGoesOnWithTheConsoleAfterTheScript) {
    std::string ok = write("ok.zuv", "Zuv []\nprint \"from the script\"\nx: 41\n");
    std::string bad = write("bad.zuv", "Zuv []\nprint \"before\"\n1 / 0\n");
    struct Case {
        std::vector<std::string> args;
        std::string input, out;
        int status;
    };
    const Case cases[] = {
        // The script ends the program; the input is not read.
        {{ZUV_EXECUTABLE, ok}, "x + 1\n", "from the script\n", 0},
        {{ZUV_EXECUTABLE, "--catch", ok}, "x + 1\nwhat-dir\n",
         "from the script\n>> x + 1\n== 42\n>> what-dir\n== %" + dir_ + "/\n>> \n", 0},
        // --catch after the script is the script's argument.
        {{ZUV_EXECUTABLE, ok, "--catch"}, "x + 1\n", "from the script\n", 0},
        {{ZUV_EXECUTABLE, "--catch", bad}, "2\n",
         "before\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n"
         "*** Stack: launch try-do do-file\n*** Files: %" + bad + "\n>> 2\n== 2\n>> \n",
         0},
        {{ZUV_EXECUTABLE, bad}, "2\n", "before\n", 254},
    };
    for (const Case& c : cases) {
        ChildResult r = run_child_with_input(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << c.args.back() << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.back();
    }
}

TEST_F(ConsoleScript, TheOptionsBeforeTheScriptAreTheConsoles) {
    std::string args = write("args.zuv", "Zuv []\nprint mold system/options/args\nprint system/script/parent/args\n");
    ChildResult r = run_child_with_input({ZUV_EXECUTABLE, "--catch", args, "--catch", "x y"}, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[\"--catch\" \"x y\"]\n--catch \"x y\"\n>> \n");
    // After a bare "--", "--catch" is the script's name.
    r = run_child_with_input({ZUV_EXECUTABLE, "--", "--catch"}, "");
    EXPECT_EQ(r.status, 254);
    EXPECT_NE(r.err.find("*** Access Error: cannot open:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--catch"), std::string::npos) << r.err;
    // With --catch, an unreadable script is reported and the console opens.
    r = run_child_with_input({ZUV_EXECUTABLE, "--catch", dir_ + "/missing.zuv"}, "1\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("*** Access Error: cannot open:", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n" + banner + ">> 1\n== 1\n>> \n"), std::string::npos) << r.out;
}

// A pseudo-terminal with zuv running in it: what is typed and what the screen shows.
class Pty {
public:
    explicit Pty(int columns) {
        winsize size{};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = 30;
        pid_ = forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            // The console on a terminal: with a display it would open its window instead.
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            execl(ZUV_EXECUTABLE, ZUV_EXECUTABLE, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Pty() {
        if (fd_ >= 0) close(fd_);
        if (pid_ > 0 && !waited_) waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0; }
    void type(const std::string& keys) { ASSERT_EQ(write(fd_, keys.data(), keys.size()), ssize_t(keys.size())); }
    // Reads the screen until it shows the text (or the program ends); true when it does.
    bool wait_for(const std::string& text) {
        for (;;) {
            if (screen_.find(text, seen_) != std::string::npos) {
                seen_ = screen_.find(text, seen_) + text.size();
                return true;
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20000) <= 0) return false;  // a stuck program fails the test, never hangs it
            char buffer[4096];
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) return false;
            screen_.append(buffer, static_cast<size_t>(n));
        }
    }
    int status() {
        int s = 0;
        waitpid(pid_, &s, 0);
        waited_ = true;
        return WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
    }
    const std::string& screen() const { return screen_; }

private:
    int fd_ = -1;
    pid_t pid_ = -1;
    bool waited_ = false;
    std::string screen_;
    size_t seen_ = 0;
};

TEST(ConsoleOnATerminal, ATypedSessionShowsPromptsAndResults) {
    Pty pty(100);
    ASSERT_TRUE(pty.started());
    ASSERT_TRUE(pty.wait_for(banner.substr(0, 20))) << pty.screen();
    ASSERT_TRUE(pty.wait_for(">> ")) << pty.screen();
    pty.type("1 + 2\n");
    EXPECT_TRUE(pty.wait_for("1 + 2\r\n== 3\r\n>> ")) << pty.screen();
    pty.type("[1\n");
    EXPECT_TRUE(pty.wait_for("[    ")) << pty.screen();
    pty.type("2]\n");
    EXPECT_TRUE(pty.wait_for("== [1\r\n2]\r\n>> ")) << pty.screen();
    // The console's width is the terminal's.
    pty.type("system/console/size\n");
    EXPECT_TRUE(pty.wait_for("== 100x30\r\n>> ")) << pty.screen();
    // A hidden answer is not shown on the screen.
    pty.type("ask/hide rejoin [\"Sec\" \"ret: \"]\n");
    EXPECT_TRUE(pty.wait_for("Secret: ")) << pty.screen();
    pty.type("hush\n");
    EXPECT_TRUE(pty.wait_for("== \"hush\"\r\n>> ")) << pty.screen();
    EXPECT_EQ(pty.screen().find("Secret: hush"), std::string::npos) << pty.screen();
    pty.type("help a-an\n");
    EXPECT_TRUE(pty.wait_for("USAGE:\r\n     A-AN str\r\n")) << pty.screen();
    EXPECT_TRUE(pty.wait_for(">> ")) << pty.screen();
    // End of input (Ctrl+D) ends the console.
    pty.type("\x04");
    EXPECT_EQ(pty.status(), 0) << pty.screen();
}

TEST(ConsoleTerminal, TheLineReaderSplitsLinesAndKeepsTheLastWithoutItsEnd) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::string text = "a\r\nb\n\nc\rd\ne";
    ASSERT_EQ(write(p[1], text.data(), text.size()), ssize_t(text.size()));
    close(p[1]);
    zuv::console::LineReader reader(p[0]);
    std::string line;
    for (const char* want : {"a", "b", "", "c\rd", "e"}) {
        ASSERT_TRUE(reader.next(&line));
        EXPECT_EQ(line, want);
    }
    EXPECT_FALSE(reader.next(&line));
    EXPECT_FALSE(reader.next(&line));
    close(p[0]);
}

}  // namespace
