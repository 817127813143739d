// The event loop's counters: nested loops end one quit each, innermost first; closing the
// window a loop waits for ends exactly that loop, closing two loops' windows in one handler
// ends both, and no quit is lost or counted twice.
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "gui_fixture.h"

namespace zuv::testing {
namespace {

namespace t = gui::type;

class Loop : public GuiTest {};

// A window that ticks: its time events drive what a test does inside the loop.
Cell ticking(const std::string& name) {
    Cell w = face(name, "type: 'window size: 60x60 rate: 100");
    realise(w);
    return w;
}

TEST_F(Loop, NoWaitTakesAtMostOneMessage) {
    pump();
    EXPECT_FALSE(gui::do_events(true)) << "nothing pending";
    gui::exit_event_loop();
    EXPECT_TRUE(gui::do_events(true)) << "a quit request is taken like a message";
    EXPECT_EQ(gui::quit_requests, 0);
}

TEST_F(Loop, AQuitRequestedBeforeALoopEndsItAtOnce) {
    gui::exit_event_loop();
    EXPECT_FALSE(gui::do_events(false));
    EXPECT_EQ(gui::quit_requests, 0);
    EXPECT_EQ(gui::loop_depth, 0);
}

TEST_F(Loop, StopEventsEndsTheInnermostLoopOnly) {
    ticking("outer");
    std::vector<std::string> trail;
    int ticks = 0;
    hook = [&](const Record& r) {
        if (r.type != t::time) return false;
        ++ticks;
        if (ticks == 1) {
            trail.push_back("inner starts");
            gui::do_events(false);
            trail.push_back("inner ended");
        } else if (ticks == 2) {
            gui::exit_event_loop();  // ends the inner loop
        } else if (ticks == 3) {
            gui::exit_event_loop();  // and now the outer one
        }
        return false;
    };
    gui::do_events(false);
    trail.push_back("outer ended");
    EXPECT_EQ(trail, (std::vector<std::string>{"inner starts", "inner ended", "outer ended"}));
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(gui::loop_depth, 0);
    EXPECT_EQ(gui::quit_requests, 0);
    EXPECT_EQ(gui::pending_quits, 0);
}

TEST_F(Loop, ClosingTheWindowALoopWaitsForEndsThatLoop) {
    Cell w = ticking("modal");
    hook = [&](const Record& r) {
        if (r.type == t::time && r.face == "modal") gui::destroy_ridi(&w, true);
        return false;
    };
    gui::do_events(false);
    EXPECT_EQ(view(w), nullptr);
    EXPECT_EQ(gui::loop_depth, 0);
    EXPECT_EQ(gui::quit_requests, 0);
    EXPECT_EQ(gui::pending_quits, 0);
}

TEST_F(Loop, ClosingTwoLoopsWindowsInOneHandlerEndsBoth) {
    Cell a = ticking("a");
    Cell b{};
    bool inner_done = false;
    hook = [&](const Record& r) {
        if (r.type != t::time) return false;
        if (r.face == "a" && !b.data1) {
            b = ticking("b");
            gui::do_events(false);  // the loop for b, nested in a's
            inner_done = true;
        } else if (r.face == "b") {
            gui::destroy_ridi(&a, true);
            gui::destroy_ridi(&b, true);
        }
        return false;
    };
    gui::do_events(false);
    EXPECT_TRUE(inner_done);
    EXPECT_EQ(gui::loop_depth, 0);
    EXPECT_EQ(gui::quit_requests, 0) << "no quit left over to end a later loop";
    EXPECT_EQ(gui::pending_quits, 0);
}

TEST_F(Loop, AStopEventsBeforeAWindowClosesLosesNoQuit) {
    // A loop ended by stop-events, then one ended by its window's close: each ends once.
    Cell w1 = ticking("first");
    hook = [&](const Record& r) {
        if (r.type == t::time) gui::exit_event_loop();
        return false;
    };
    gui::do_events(false);
    Cell w2 = ticking("second");
    hook = [&](const Record& r) {
        if (r.type == t::time && r.face == "second") gui::destroy_ridi(&w2, true);
        return false;
    };
    gui::do_events(false);
    EXPECT_EQ(view(w2), nullptr);
    EXPECT_EQ(gui::quit_requests, 0);
    EXPECT_EQ(gui::pending_quits, 0);
    (void)w1;
}

}  // namespace
}  // namespace zuv::testing
