// The GUI tests' fixture: the language booted once with the backend open on the test
// display, a system/ridi whose awake records every event (its fields read through the
// backend's readers) and lets a test answer or act on it, and helpers that realise trees of
// faces and feed GDK events through the real dispatch.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "memory/cell.h"
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"

namespace zuv::testing {

struct Record {
    int32_t type = 0;
    uint32_t flags = 0;
    std::string face, window;  // the `extra` names of the event's face and window
    bool has_offset = false;
    double x = 0, y = 0;
    std::string key, picked, orientation;  // molded
};

// What a test does with an event: return true to answer stop.
using Hook = std::function<bool(const Record&)>;

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

extern std::vector<Record> events;
extern Hook hook;

// Evaluates Zuv code; the result.
Cell eval(const std::string& code);
// A face made by evaluating `make face-proto [spec]`, kept alive in a global word.
Cell face(const std::string& name, const std::string& spec);
// Realises a face and its pane under a parent view: each gets its state block.
uint32_t realise(Cell face, uint32_t parent = 0);
// Records change bits in a realised face's state (as its change handler would).
void mark(Cell face, uint32_t bits);
// A face by its global word.
Cell named(const std::string& name);
gui::View* view(const Cell& face);

// Runs pending GTK work (after a round trip to the server), without touching the loop's
// counters; wait_for repeats it until the condition holds or a generous bound passes.
void pump();
bool wait_for(const std::function<bool()>& done);
// Shows a window and waits until it is on screen.
void show(Cell window);

// A GDK event for a view's window (device coordinates), put on GDK's queue and dispatched.
GdkEvent* event_for(const Cell& face, GdkEventType type, double x = 0, double y = 0);
void put(GdkEvent* e);

// The events of one type, and all types in order.
std::vector<Record> of_type(int32_t type);
std::vector<int32_t> types();
int32_t dev(double logical);

}  // namespace zuv::testing
