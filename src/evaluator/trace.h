// Trace events: while a tracer is installed (do/trace), the interpreter reports each step to
// it, filtered by the events the tracer asks for. Each event site costs one test of
// `tracing` when no tracer runs.
#pragma once
#include <cstdint>

#include "memory/upcalls.h"
#include "memory/cell.h"

namespace zuv::interpreter {

namespace event {
constexpr uint32_t init = 1, end = 2, prolog = 4, epilog = 8, enter = 16, exit = 32, open = 64, return_ = 128,
                   fetch = 256, push = 512, set = 1024, call = 2048, error = 4096, throw_ = 8192, catch_ = 16384,
                   expr = 32768;
constexpr uint32_t all = 0x1FFFF;
}  // namespace event

// Callback kinds of runtime code calling functions (the bits of system/state/callbacks/bits).
namespace callback = upcall::callback;

extern uint32_t tracer_armed;
// Whether the tracer also hears the library's own code (set for one traced evaluation).
extern bool trace_library;

// The tracer cell (in the root block).
Cell* tracer_cell();
// The events a tracer asks for: the event words of a block that starts its body, else all.
uint32_t trace_mask_of(const Cell* tracer);
// Sends an event to the tracer: the code block and the position in it (or null and -1),
// the naming word or path, the value concerned (either may be null).
void fire_event(uint32_t event, const Cell* code, int32_t position, const Cell* ref, const Cell* value);
// Installs a tracer (when none is armed): gives true when this call armed it.
bool install_tracer(const Cell* tracer);
// Takes the tracer away, after the end event when the evaluation finished normally.
void remove_tracer(bool finished);
// Switches the events of the traced evaluation off or on: never on outside one.
void set_tracing(bool on);
// Marks a block of the library's code, and every block, paren and path in it, so that the
// tracer does not step into the library: its events from them are dropped.
void mark_library_code(const Cell* block);
// Whether tracing stays on for a callback of the given kind (system/state/callbacks/bits).
bool callback_traced(uint32_t kind);

}  // namespace zuv::interpreter
