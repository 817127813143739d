// GUI test binary entry: runs under Xvfb. ZUV_TEST_XFT_DPI sets the X server's Xft
// resolution before GTK opens the display, so one run checks scale 1 and another 1.5.
#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool) would clash with its names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

#include "console/terminal.h"
#include "ridi/native.h"
#include "ridi/platform.h"

namespace {

void set_xft_dpi(const char* dpi) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    std::string resources = std::string("Xft.dpi:\t") + dpi + "\n";
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.c_str()), static_cast<int>(resources.size()));
    XSync(d, False);
    // The connection stays open: a server left without clients resets and forgets it.
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* dpi = std::getenv("ZUV_TEST_XFT_DPI")) set_xft_dpi(dpi);
    setenv("GTK_IM_MODULE", "gtk-im-context-simple", 1);
    zuv::ridi::link();
    zuv::ridi::link_native();
    // The boot runs the console's sections too, whose natives the console brings.
    zuv::console::link();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
