// Start-up of the language library, and the hand-over to the console the program links.
#include "library/boot.h"

#include <cstdio>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "library/routines.h"
#include "library/sections.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "reader/zuvbin.h"
#include "runtime/fatal.h"
#include "runtime/platform.h"
#include "runtime/print.h"
#include "runtime/stdio.h"
#include "runtime/system.h"
#include "runtime/throw.h"

namespace zuv::boot {

void load_sections() {
    section_roots.clear();
    auto root_cells = [] { return static_cast<int32_t>(series::buffer(&block::root)->used_bytes() / sizeof(Cell)); };
    for (int i = 0; i < source_count; ++i) {
        const Source& s = sources[i];
        int32_t first = zuvbin::boot_load({s.data, s.size});
        // A section is one block of code.
        bool one_block = root_cells() == first + 1 && block::cell_at(&block::root, first)->is(Type::block);
        section_roots.push_back(one_block ? first : -1);
    }
}

const Source* sources = nullptr;
int source_count = 0;
std::vector<int32_t> section_roots;

void stdout_print_hook(Cell* text, int32_t line_feed) {
    std::string s = string::to_utf8(text);
    stdio::write_bytes(s.data(), s.size());
    if (line_feed) stdio::write_bytes("\n", 1);
    stdio::flush_pending();
}

namespace {

Launcher console_launcher = nullptr;

std::vector<Binder>& binders() {
    static std::vector<Binder> list;
    return list;
}

// `make` before the boot sources define it: an action! whose spec checks nothing.
void define_bootstrap_make() {
    Cell spec;
    lexer::load_into(block::push_new(4), "[[type spec] 1]");
    spec = *stack::top();
    Cell def = *block::head(&spec);
    Cell proto;
    cell::make(&proto, Type::datatype, static_cast<uint32_t>(Type::action));
    auto make = reinterpret_cast<Cell* (*)(Cell*, Cell*, int32_t)>(
        datatype::action_of(Type::action, datatype::slot::make));
    Cell* made = make(&proto, &def, static_cast<int32_t>(Type::action));
    Cell value = *made;
    Cell* word = context::add_global(symbol::make("make"));
    Cell w = *word;
    context::set(&w, &value);
    stack::reset();
}

}  // namespace

std::string describe_error(const Cell* error) {
    if (error->is(Type::error) && object::context_of(error)) {
        try {
            Cell e = *error, out;
            actions::form_to(&e, &out);
            return string::to_utf8(&out);
        } catch (const runtime::Throw&) {
        }
    }
    uint32_t code = error::startup_code_of(error);
    uint32_t category = code >> 16, index = code & 0xFFFF;
    std::string text = "*** Error " + std::to_string(category) + "/" + std::to_string(index);
    for (int i = 0; i < error::last.arg_count; ++i) {
        Cell a = error::last.args[i], out;
        if (a.is(Type::string)) {
            text += " " + string::to_utf8(&a);
            continue;
        }
        try {
            actions::mold_to(&a, &out);
            text += " " + string::to_utf8(&out);
        } catch (const runtime::Throw&) {
            text += " ?";
        }
    }
    return text;
}

namespace {

// Evaluates a block (held by the root block) at the top level; the last value into result.
void run_block(const Cell* code, Cell* result) {
    Cell blk = *code;
    Cell* mark = stack::arguments_top;
    stack::mark_native(&interpreter::body_word);
    interpreter::eval_block(&blk, true);
    Cell r = *stack::arguments_base;
    stack::unwind();
    stack::arguments_top = mark;
    if (result) *result = r;
}

}  // namespace

void run_text(const std::string& utf8, const char* name, Cell* result) {
    Cell code;
    block::make_at(&code, 16);
    Cell* held = block::append(&block::root, &code);  // the code stays reachable
    Cell blk = *held;
    lexer::load_into(&blk, utf8);
    if (name) {
        if (Ref own = library::section_context(name)) context::bind(&blk, own, false);
    }
    run_block(&blk, result);
}

void link() {}

void add_binder(Binder binder) { binders().push_back(binder); }

// Evaluates each boot section, which start-up decoded into the root block, in order.
void run_script() {
    runtime::add_output_hooks(stdout_print_hook, nullptr);
    define_bootstrap_make();
    object::push_global_context();
    stack::pop(1);
    // The routines need no typeset at definition: their specs' words are read at the first call.
    library::bind_routines();
    library::bind_predicates();
    for (Binder b : binders()) b();
    for (size_t i = 0; i < section_roots.size(); ++i) {
        const char* name = sources[i].name;
        if (section_roots[i] < 0) {
            std::string text = std::string("*** Boot error in ") + name + ": no code block";
            runtime::print_line({text.c_str()});
            runtime::quit(runtime::no_catch_for_throw, 0);
        }
        Cell code = *block::cell_at(&block::root, section_roots[i]);
        // A section with values of its own from the start-up code sees them before its globals.
        if (Ref own = library::section_context(name)) context::bind(&code, own, false);
        try {
            run_block(&code, nullptr);
        } catch (const runtime::Throw& t) {
            std::string text = std::string("*** Boot error in ") + name;
            if (t.code == runtime::throw_error) text += ": " + describe_error(stack::top());
            runtime::print_line({text.c_str()});
            runtime::quit(runtime::no_catch_for_throw, 0);
        }
    }
    library::bind_direct_calls();
}

void set_launcher(Launcher launcher) { console_launcher = launcher; }

void launch_console() {
    if (!console_launcher) return;
    stack::error_hooks.uncaught = error::uncaught_hook;
    try {
        console_launcher();
    } catch (const runtime::Throw& t) {
        std::string text = t.code == runtime::throw_error ? describe_error(stack::top()) : "*** Throw";
        runtime::print_line({text.c_str()});
        stdio::flush_pending();
        std::_Exit(254);
    }
}

}  // namespace zuv::boot
