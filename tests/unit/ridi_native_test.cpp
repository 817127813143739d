// Ridi's native half (libzuv-gui.so, GTK, Cairo, Pango) opened at its first use: a script that
// needs none of it maps none of it, what needs it works, and a program without it says what
// it could not open and goes on where it can.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "child.h"
#include "scratch_folder.h"
#include "source_tree.h"

namespace {

// Runs the program on a script with no display named, or with the one given.
ChildResult run_script(const std::string& program, const std::string& script, const char* display = nullptr) {
    // The toolkit's process-long caches are no leaks of ours: the GUI tests' suppressions.
    std::vector<std::string> argv = {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "GDK_BACKEND",
                                     "LSAN_OPTIONS=suppressions=" + zuv::testing::source_root() +
                                         "/tests/gui/lsan.supp:print_suppressions=0"};
    if (display) argv.push_back(std::string("DISPLAY=") + display);
    argv.push_back(program);
    argv.push_back(script);
    return run_child(argv);
}

class NativeGui : public ScratchFolder {
protected:
    // The program alone in the scratch folder, its native half not beside it.
    std::string lone_program() {
        std::string copy = dir_ + "/zuv";
        EXPECT_EQ(std::system(("cp '" ZUV_EXECUTABLE "' '" + copy + "'").c_str()), 0);
        return copy;
    }
};

// Neither the GUI toolkit nor the image codecs' library is mapped by a script that uses neither.
const char* const plain =
    "Zuv []\nm: read %/proc/self/maps\n"
    "print either any [find m \"libgtk\" find m \"libgdk_pixbuf\"] [\"mapped\"] [\"not mapped\"]\n";
const char* const drawing =
    "Zuv []\ni: make image! 8x8\ndraw i [pen off fill-pen 10.20.30 box 0x0 8x8]\nprint i/(4x4)\n"
    "m: read %/proc/self/maps\nprint either find m \"libgtk\" [\"mapped\"] [\"not mapped\"]\n";
const char* const measure = "Zuv []\nprint pair? to pair! size-text make face! [type: 'text text: \"wide text\"]\n";

TEST_F(NativeGui, OnlyWhatNeedsTheToolkitOpensIt) {
    struct Case {
        const char* name;
        const char* script;
        std::string out;
    };
    const Case cases[] = {
        {"a plain script", plain, "not mapped\n"},
        {"a drawing on an image", drawing, "10.20.30.0\nmapped\n"},
        {"a text measure", measure, "true\n"},
    };
    for (const Case& c : cases) {
        ChildResult r = run_script(ZUV_EXECUTABLE, write("case.zuv", c.script));
        EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.name << "\n" << r.err;
    }
}

TEST_F(NativeGui, WithoutItTheProgramSaysWhatItCannotOpen) {
    std::string program = lone_program();
    std::string library = dir_ + "/libzuv-gui.so";
    // What needs no native code runs as before, silent.
    ChildResult r = run_script(program, write("plain.zuv", plain));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "not mapped\n");
    EXPECT_EQ(r.err, "");
    // Drawing and measuring raise a clear error naming the missing file.
    for (const char* script : {drawing, measure}) {
        r = run_script(program, write("case.zuv", script));
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("*** Access Error: cannot open: \"" + library + "\""), std::string::npos) << r.err;
    }
    // With a display named, start-up says once why there is no window, and the script runs
    // without one.
    r = run_script(program, write("view.zuv", "Zuv []\nprint 1\nprint error? try [view [button]]\n"), ":99");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "*** Ridi Error: cannot open libzuv-gui.so (" + library +
                  ": cannot open shared object file: No such file or directory)\n1\ntrue\n");
}

}  // namespace
