// The executable running a script named on its command line: the script's arguments, its
// folder, and how its end is reported (status, output, the formed error with its stack).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "child.h"
#include "scratch_folder.h"

namespace {

// A scratch folder with a subfolder, removed with everything in it at the end.
class ScriptRun : public ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0700), 0);
    }
    static std::string last_line(const std::string& text) {
        std::string t = text;
        while (!t.empty() && t.back() == '\n') t.pop_back();
        return t.substr(t.rfind('\n') + 1);
    }
};

TEST_F(ScriptRun, TheArgumentsAfterTheScriptAreTheScript) {
    std::string path = write("sub/args.zuv",
                             "Zuv [Title: \"Args\"]\n"
                             "print mold system/options/args\n"
                             "print system/script/parent/args\n"
                             "print system/options/script\n"
                             "print system/script/header/title\n");
    ChildResult r = run_child({ZUV_EXECUTABLE, path, "a", "b c", ""});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[\"a\" \"b c\" \"\"]\na \"b c\" \"\"\n" + path + "\nArgs\n");
}

TEST_F(ScriptRun, TheScriptRunsInItsFolder) {
    write("sub/data.txt", "from the script's folder");
    std::string path = write("sub/folder.zuv", "Zuv []\nprint read %data.txt\nprint what-dir\n");
    ChildResult r = run_child({ZUV_EXECUTABLE, path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "from the script's folder\n" + dir_ + "/sub/\n");
}

TEST_F(ScriptRun, HaltEndsTheScriptQuietly) {
    std::string path = write("halt.zuv", "Zuv []\nprint 1\nthrow/name 'halt-request 'console\nprint 2\n");
    ChildResult r = run_child({ZUV_EXECUTABLE, path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\n(halted)\n");
}

TEST_F(ScriptRun, AnUncaughtErrorShowsItsStackAndFilesAndEndsWith254) {
    struct Case {
        const char* source;
        const char* first_line;
        const char* stack_line;
    };
    const Case cases[] = {
        {"Zuv []\nf: func [] [g]\ng: func [] [1 / 0]\nf\n", "*** Math Error: attempt to divide by zero",
         "*** Stack: launch try-do do-file f g"},
        {"; no header here\nprint 1\n", "*** Syntax Error: script is missing a Zuv header:", nullptr},
        {"Zuv/System []\n1\n", "*** Internal Error: contains Zuv/System code which requires compilation", nullptr},
    };
    for (const Case& c : cases) {
        std::string path = write("error.zuv", c.source);
        ChildResult r = run_child({ZUV_EXECUTABLE, path});
        EXPECT_EQ(r.status, 254) << r.err;
        EXPECT_EQ(r.err.substr(0, std::string(c.first_line).size()), c.first_line) << r.err;
        if (c.stack_line) {
            EXPECT_NE(r.err.find(std::string("\n") + c.stack_line + "\n"), std::string::npos) << r.err;
            EXPECT_EQ(last_line(r.err), "*** Files: %" + path) << r.err;
        }
    }
}

TEST_F(ScriptRun, AScriptRunsOtherScriptsThroughDo) {
    write("sub/inner.zuv", "Zuv []\nreduce [what-dir system/script/args]\n");
    std::string path = write("outer.zuv",
                             "Zuv []\nr: do/args %sub/inner.zuv 5\n"
                             "print [r/1 = what-dir r/2]\nprint r/1\n");
    ChildResult r = run_child({ZUV_EXECUTABLE, path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "false 5\n" + dir_ + "/sub/\n");
}

}  // namespace
