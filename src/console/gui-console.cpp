// The console in a window, on the C++ side: the print hooks that hand every printed text to
// the terminal's vprint, the system's caret blink time, and the choice at start between the
// window and the plain terminal (a window needs a display and a person at the keyboard).
#include "console/gui-console.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "library/boot.h"
#include "library/routines.h"
#include "library/sections.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory/symbol.h"
#include "ridi/native.h"
#include "ridi/platform.h"
#include "runtime/fatal.h"
#include "runtime/print.h"
#include "runtime/throw.h"

namespace zuv::console {

namespace {

// The root block's cell that holds the string the runtime printer's bytes are decoded into:
// one string, cleared and reused for every piece. -1 until the hooks are installed.
int32_t raw_text_index = -1;
// Set by the zuv program's main: other programs that boot the language (the test runners)
// keep the plain console's words whatever their standard input is.
bool window_allowed = false;

// Whether standard input is a person's rather than lines to read: a terminal, or what a
// desktop's launcher leaves (/dev/null or nothing). A pipe, a socket or a file is read by the
// plain console.
bool input_from_person() {
    if (::isatty(0) == 1) return true;
    struct stat st {};
    if (::fstat(0, &st) != 0) return true;
    return S_ISCHR(st.st_mode);
}

// The window is for a person at a desktop: the display opened and the input is theirs.
bool display_and_person() { return window_allowed && input_from_person() && ridi::backend().has_display(); }

// A print made while the terminal takes a print (its own tracing, a failing redraw) would
// find it half-way through a line: it goes to no terminal.
int32_t depth = 0;

// gui-console-ctx/terminal/vprint, looked up at each print: the terminal may be made again.
bool find_vprint(Cell* out) {
    Cell* ctx = context::get_value_slot(symbol::make("gui-console-ctx"), context::global);
    if (!ctx || !ctx->is(Type::object)) return false;
    Cell c = *ctx;
    Cell* term = object::find_value(&c, symbol::make("terminal"));
    if (!term || !term->is(Type::object)) return false;
    Cell t = *term;
    Cell* fn = object::find_value(&t, symbol::make("vprint"));
    if (!fn || !fn->is(Type::function)) return false;
    *out = *fn;
    return true;
}

struct DepthGuard {
    uint32_t traced;
    DepthGuard() : traced(interpreter::tracing) {
        ++depth;
        interpreter::tracing = 0;
    }
    ~DepthGuard() {
        --depth;
        interpreter::tracing = traced;
    }
};

void value_hook(Cell* text, int32_t line_feed) {
    if (depth > 0 || !text || !string::family_q(text->type())) return;
    // vprint may print deep inside a runaway recursion: the stacks must hold its own calls.
    if (stack::arguments_top + 75 >= stack::arguments_end || stack::calls_top + 64 >= stack::calls_end)
        error::raise(error::id::internal_stack_overflow);
    Cell fn;
    if (!find_vprint(&fn)) return;
    Cell args[2];
    args[0] = *text;
    args[1] = line_feed ? logic::shared_true : logic::shared_false;
    Cell name = scalar::word_of("vprint");
    Cell result;
    DepthGuard guard;
    interpreter::apply_function(&fn, &name, args, 2, &result);
}

// What the runtime printer writes (fatal reports, the backend's one-line failures) is UTF-8
// bytes; it may write from a C++ handler where no language error may pass, so none does.
void raw_hook(const char* text, size_t length, int32_t line_feed) {
    if (depth > 0 || raw_text_index < 0 || !text) return;
    Cell* mark = stack::arguments_top;
    try {
        Cell* held = block::cell_at(&block::root, raw_text_index);
        if (!held->is(Type::string)) {
            Cell* s = string::push_new(static_cast<int32_t>(length) + 16);
            held = block::cell_at(&block::root, raw_text_index);
            *held = *s;
            stack::arguments_top = mark;
        }
        Cell s = *held;
        series::set_head(&s, 0);
        string::reset(&s);
        string::append_utf8(&s, std::string_view(text, length));
        value_hook(&s, line_feed);
    } catch (const runtime::Throw&) {
        stack::arguments_top = mark;
    }
}

// A program ending on a runtime error tells it in a box too: in the console's window no one
// reads standard error.
void error_box(const char* text, const char* caption) {
    if (!ridi::backend().has_display()) return;
    // The end may come from a fault inside the toolkit or the allocator, where the box can
    // never show: the alarm ends the program all the same.
    ::alarm(120);
    if (const ridi::NativeGui* gui = ridi::native_gui()) gui->message_box(text, caption);
}

// add-gui-print: from now on printed text goes to the console's terminal instead of
// standard output, and a runtime error that ends the program is shown in a box. Installing
// twice changes nothing.
Cell* gui_print_hooks(Cell**) {
    runtime::message_box_hook = error_box;
    if (raw_text_index < 0) {
        Cell unset = unset::shared;
        block::append(&block::root, &unset);
        raw_text_index = series::length(&block::root) - 1;
        runtime::remove_output_hooks(boot::stdout_print_hook, nullptr);
        runtime::add_output_hooks(value_hook, raw_hook);
    }
    return const_cast<Cell*>(&unset::shared);
}

// The time the caret stays shown (or hidden) in milliseconds; -1 when it does not blink.
Cell* get_caret_blink_time(Cell**) {
    int32_t ms = 530;
    if (ridi::backend().has_display())
        if (const ridi::NativeGui* gui = ridi::native_gui()) ms = gui->caret_blink_time();
    return integer::push(ms);
}

Cell* window_console_q(Cell**) { return library::answer(display_and_person()); }

// ask turns the tracer's events off while it waits: the keys typed are no steps of the
// program being traced.
Cell* set_tracing(Cell** a) {
    interpreter::set_tracing(logic::get(a[0]));
    return const_cast<Cell*>(&unset::shared);
}

Ref gui_console_context() {
    static Ref made = 0;
    if (made) return made;
    library::PrivateContext p(4);
    p.add_routines({
        {"gui-print-hooks", gui_print_hooks, R"~("Sends everything printed to the console's terminal")~",
         "runtime/add-output-hooks value-hook raw-hook"},
        {"window-console?", window_console_q, R"~("Whether the console opens its window" return: [logic!])~",
         "console/window-wanted?"},
        {"set-tracing", set_tracing, "on [logic!]", "interpreter/set-tracing on"},
    });
    made = p.context();
    return made;
}

void bind_routines() {
    library::define_routines({
        {"get-caret-blink-time", get_caret_blink_time,
         R"~("The system's caret blink time in milliseconds (-1: no blinking)" return: [integer!])~",
         "gui/caret-blink-time"},
    });
    library::add_section_context("70-gui-console", gui_console_context);
}

}  // namespace

void allow_window() { window_allowed = true; }

bool window_wanted() {
    if (!display_and_person()) return false;
    Cell* ctx = context::get_value_slot(symbol::make("gui-console-ctx"), context::global);
    return ctx && ctx->is(Type::object);
}

void link_gui() { boot::add_binder(bind_routines); }

}  // namespace zuv::console
