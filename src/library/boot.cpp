// Start-up of the language library and the plain-terminal front end.
#include "library/boot.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/context.h"
#include "evaluator/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/symbol.h"
#include "library/codecs.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "runtime/fatal.h"
#include "runtime/print.h"
#include "runtime/stdio.h"
#include "runtime/system.h"
#include "runtime/throw.h"

namespace zuv::boot {

struct Source {
    const char* name;
    const unsigned char* text;
    std::size_t size;
};
extern const Source sources[];
extern const int source_count;

namespace {

// print and prin write to standard output when no console has taken over.
void stdout_print_hook(Cell* text, int32_t line_feed) {
    std::string s = string::to_utf8(text);
    stdio::write_bytes(s.data(), s.size());
    if (line_feed) stdio::write_bytes("\n", 1);
    stdio::flush_pending();
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
    if (error->is(Type::error) && error->data1) {
        try {
            Cell e = *error, out;
            actions::form_to(&e, &out);
            return string::to_utf8(&out);
        } catch (const runtime::Throw&) {
        }
    }
    uint32_t code = error->data2;
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

void run_text(const std::string& utf8, const char* name, Cell* result) {
    Cell code;
    block::make_at(&code, 16);
    Cell* held = block::append(&block::root, &code);  // boot code stays reachable
    Cell blk = *held;
    lexer::load_into(&blk, utf8);
    // The codecs section reaches its routine through a private context, not a global word.
    if (name && std::strcmp(name, "05-codecs.zuv") == 0) context::bind(&blk, library::codecs_context(), false);
    Cell* mark = stack::arguments_top;
    stack::mark_native(&interpreter::body_word);
    interpreter::eval_block(&blk, true);
    Cell r = *stack::arguments_base;
    stack::unwind();
    stack::arguments_top = mark;
    if (result) *result = r;
}

void link() {}

void run_script() {
    runtime::add_output_hooks(stdout_print_hook, nullptr);
    define_bootstrap_make();
    for (int i = 0; i < source_count; ++i) {
        const Source& s = sources[i];
        try {
            run_text(std::string(reinterpret_cast<const char*>(s.text), s.size), s.name, nullptr);
        } catch (const runtime::Throw& t) {
            std::string text = std::string("*** Boot error in ") + s.name;
            if (t.code == runtime::throw_error) text += ": " + describe_error(stack::top());
            runtime::print_line({text.c_str()});
            runtime::quit(runtime::no_catch_for_throw, 0);
        }
    }
}

void launch_console() {
    // Until the console exists: run the script named on the command line, if any.
    runtime::SystemRecord* r = runtime::system_record;
    if (!r || r->argument_count < 2) return;
    std::ifstream in(r->argument_list[1], std::ios::binary);
    if (!in) {
        // Reported like any uncaught error: the formed access error, then status -2.
        stack::error_hooks.uncaught = error::uncaught_hook;
        const char* name = r->argument_list[1];
        Cell* path = file::load(reinterpret_cast<const uint8_t*>(name), std::strlen(name));
        Cell f = *path;
        error::raise(error::id::access_cannot_open, &f);
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string source = buffer.str();
    // Everything after the header "Zuv [...]" is the script.
    size_t header = source.find("Zuv");
    if (header != std::string::npos) {
        size_t open = source.find('[', header);
        if (open != std::string::npos) {
            int depth = 0;
            size_t i = open;
            for (; i < source.size(); ++i) {
                if (source[i] == '[') ++depth;
                else if (source[i] == ']' && --depth == 0) break;
            }
            source = source.substr(i + 1);
        }
    }
    stack::error_hooks.uncaught = error::uncaught_hook;
    try {
        run_text(source, r->argument_list[1], nullptr);
    } catch (const runtime::Throw& t) {
        std::string text = t.code == runtime::throw_error ? describe_error(stack::top()) : "*** Throw";
        runtime::print_line({text.c_str()});
        stdio::flush_pending();
        std::_Exit(254);
    }
}

}  // namespace zuv::boot
