// The GTK backend's conversions that need no display: logical to device pixels, colour
// words, the face flags mask, key words, and a start-up without a display.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "datatypes/block.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"
#include "runtime/throw.h"
#include "runtime_fixture.h"

namespace zuv::testing {
namespace {

class GuiUnits : public RuntimeTest {
protected:
    void TearDown() override { gui::set_dpi(96); }
};

TEST_F(GuiUnits, LogicalToDevicePixels) {
    struct Case {
        int32_t dpi;
        double logical;
        int32_t device;
    };
    const Case cases[] = {{96, 10.5, 11}, {96, 10.49, 10}, {96, 0, 0},  {144, 100, 150}, {144, 0.3, 0},
                          {144, 1, 2},    {192, 7.5, 15},  {96, -2, -1}, {96, 1e12, INT32_MAX}};
    for (const Case& c : cases) {
        gui::set_dpi(c.dpi);
        EXPECT_EQ(gui::to_device(c.logical), c.device) << c.dpi << " " << c.logical;
    }
    gui::set_dpi(144);
    EXPECT_DOUBLE_EQ(gui::to_logical(150), 100.0);
    gui::set_dpi(0);  // a resolution the display does not report
    EXPECT_EQ(gui::dpi, 96);
}

Cell loaded(const char* text) {
    Cell* b = block::push_new(2);
    lexer::load_into(b, text);
    return *block::head(b);
}

TEST_F(GuiUnits, ColoursPackAndTurnIntoARGB) {
    struct Case {
        const char* tuple;
        uint32_t packed, argb;
    };
    const Case cases[] = {{"255.0.0", 0x000000FF, 0xFFFF0000},
                          {"255.0.0.255", 0xFF0000FF, 0x00FF0000},
                          {"1.2.3.4", 0x04030201, 0xFB010203},
                          {"0.0.0.0", 0, 0xFF000000}};
    for (const Case& c : cases) {
        Cell t = loaded(c.tuple);
        EXPECT_EQ(gui::tuple_to_color(&t), c.packed) << c.tuple;
        EXPECT_EQ(gui::color_to_argb(c.packed), c.argb) << c.tuple;
    }
    EXPECT_EQ(gui::color_to_argb_translucent(0x000000FF), 0xFEFF0000u) << "opaque becomes nearly so";
    EXPECT_EQ(gui::color_to_argb_translucent(0x800000FF), 0x7FFF0000u);
}

TEST_F(GuiUnits, FlagsMaskAndItsErrors) {
    struct Case {
        const char* flags;
        uint32_t mask;
    };
    const Case cases[] = {{"all-over", 0x1},
                          {"[resize no-title]", 0x44000000},
                          {"[modal popup no-border]", 0x83000000},
                          {"[]", 0},
                          {"5", 0},
                          {"\"resize\"", 0},
                          {"[RESIZE 1 no-sync]", 0x4100000}};
    for (const Case& c : cases) {
        Cell f = loaded(c.flags);
        EXPECT_EQ(gui::get_flags(&f), c.mask) << c.flags;
    }
    for (const char* bad : {"no-such", "[resize nothing]"}) {
        Cell f = loaded(bad);
        Cell* top = stack::arguments_top;
        stack::CallFrame* calls = stack::calls_top;
        bool raised = false;
        try {
            gui::get_flags(&f);
        } catch (const runtime::Throw&) {
            raised = error::last.id == error::id::script_invalid_arg;
            stack::arguments_top = top;
            stack::calls_top = calls;
        }
        EXPECT_TRUE(raised) << bad;
    }
}

TEST_F(GuiUnits, SpecialKeysAndTheirWords) {
    struct Case {
        guint keyval;
        const char* word;
    };
    const Case cases[] = {{GDK_KEY_Page_Up, "page-up"},  {GDK_KEY_KP_Home, "home"},       {GDK_KEY_F1, "F1"},
                          {GDK_KEY_F12, "F12"},          {GDK_KEY_Shift_R, "right-shift"}, {GDK_KEY_Alt_L, "left-alt"},
                          {GDK_KEY_Super_L, "left-command"}, {GDK_KEY_Caps_Lock, "caps-lock"}, {GDK_KEY_Delete, "delete"}};
    for (const Case& c : cases) {
        int32_t code = gui::special_key(c.keyval);
        ASSERT_GE(code, 0) << c.word;
        EXPECT_STREQ(gui::key_word(code), c.word);
    }
    for (guint k : {GDK_KEY_a, GDK_KEY_Return, GDK_KEY_space, GDK_KEY_F13}) EXPECT_EQ(gui::special_key(k), -1);
    EXPECT_TRUE(gui::modifier_key(gui::special_key(GDK_KEY_Control_L)));
    EXPECT_FALSE(gui::modifier_key(gui::special_key(GDK_KEY_Left)));
}

TEST_F(GuiUnits, NoDisplayIsACleanRefusal) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(gui::init());
    EXPECT_FALSE(gui::available());
    EXPECT_FALSE(gui::do_events(false)) << "no loop to run";
    EXPECT_FALSE(gui::support_dark_mode_q());
    int32_t w = -1, h = -1;
    gui::screen_size(&w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(gui::current_screen(), 0u);
}

}  // namespace
}  // namespace zuv::testing
