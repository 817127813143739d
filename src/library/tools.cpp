// The debugging tools' private routines: they switch the interpreter's tracing for the
// trace command and tell whether a traced evaluation is already running.
#include "datatypes/logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "library/sections.h"

namespace zuv::library {

namespace {

// `trace true` and `trace false` inside a traced evaluation: the events stop or resume.
Cell* set_tracing(Cell** a) {
    interpreter::set_tracing(logic::get(a[0]));
    return const_cast<Cell*>(&unset::shared);
}

// Whether the traced evaluation about to start hears the library's code too.
Cell* trace_library(Cell** a) {
    interpreter::trace_library = logic::get(a[0]);
    return const_cast<Cell*>(&unset::shared);
}

// A tracer is installed: a second one would not be, so a nested trace must not start one.
Cell* tracer_armed_q(Cell**) { return answer(interpreter::tracer_armed != 0); }

}  // namespace

Ref tools_context() {
    PrivateContext p(4);
    p.add_routines({
        {"set-tracing", set_tracing, "on [logic!]", "interpreter/set-tracing on"},
        {"trace-library", trace_library, "on [logic!]", "interpreter/trace-library: on"},
        {"tracer-armed?", tracer_armed_q, "return: [logic!]", "interpreter/tracer-armed?"},
    });
    return p.context();
}

}  // namespace zuv::library
