// zuv-test: runs Zuv script test files, or evaluates one expression (--eval).
//
// A test file is a sequence of cases: a block of code, then the expected value as one
// expression (evaluated), or #error and a block naming the error's category and id:
//
//     [1 + 2 * 3]      9
//     [mold [a b]]     "[a b]"
//     [1 / 0]          #error [math zero-divide]
//
// Results are compared with strict-equal?. Comment lines start with ";". Each failing case
// is reported with its file and line; the last line gives the totals, and the exit status
// is 1 when anything failed.
//
// Test files may use `output-of block`: the text the block prints (print, prin, and the
// library's own printing, which a redefined print would not see), instead of writing it out.
//
// The runner is no console: system/console is none while the files run, so the library
// behaves as it does without one. The console's own tests put the engine back from
// `console-engine` (and give it a size, as a terminal would).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "console/program.h"
#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "memory/error.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "evaluator/interpreter.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "library/boot.h"
#include "memory/collector.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"
#include "runtime/entry.h"
#include "runtime/print.h"
#include "runtime/system.h"
#include "runtime/throw.h"


#include <cstring>

using namespace zuv;

namespace {

std::string molded(const Cell& v) {
    Cell value = v, out;
    try {
        actions::mold_to(&value, &out);
        return string::to_utf8(&out);
    } catch (const runtime::Throw&) {
        return "<unmoldable>";
    }
}

struct Outcome {
    bool error = false;
    error::Id id{255, 255};
    // Zeroed: the runner pushes the value even when an error left it unset, and the
    // collector scans what is pushed.
    Cell value{};
    Cell error_value{};  // the error! that was raised
};

// Evaluates the block (or one expression at pos) at the top level, catching errors.
Outcome evaluate(const Cell& code) {
    Outcome o;
    Cell* mark = stack::arguments_top;
    stack::CallFrame* calls = stack::calls_top;
    try {
        stack::mark_native(&interpreter::body_word);
        interpreter::eval_block(&code, true);
        o.value = *stack::arguments_base;
        stack::unwind();
        if (interpreter::pending) {
            interpreter::pending = 0;
            o.error = true;
        }
    } catch (const runtime::Throw& t) {
        o.error = true;
        if (t.code == runtime::throw_error) {
            o.id = error::last.id;
            o.error_value = *stack::top();
            // An error! value raised again (do make error! ...) names its own category and id.
            if (o.error_value.is(Type::error)) {
                Cell* type = object::find_value(&o.error_value, symbol::make("type"));
                Cell* id = object::find_value(&o.error_value, symbol::make("id"));
                if (type && id && type->is(Type::word) && id->is(Type::word)) {
                    error::Id named = error::id_named(symbol::name(type->int2()), symbol::name(id->int2()));
                    if (named.category != 255) o.id = named;
                }
            }
        }
        interpreter::pending = 0;
    }
    stack::calls_top = calls;
    stack::arguments_top = mark;
    stack::arguments_base = stack::calls_top > stack::calls_bottom ? stack::arguments_base : stack::arguments_bottom;
    return o;
}

int line_of(const std::string& text, size_t offset) {
    int line = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i)
        if (text[i] == '\n') ++line;
    return line;
}

int passed_total = 0, failed_total = 0;

int run_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open\n", path);
        return 1;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();

    int cases = 0, failures = 0;
    size_t offset = 0;
    auto next_value = [&](Cell* out, int* line) -> bool {
        size_t start = text.find_first_not_of(" \t\r\n", offset);
        while (start != std::string::npos && text[start] == ';') {
            size_t eol = text.find('\n', start);
            start = eol == std::string::npos ? eol : text.find_first_not_of(" \t\r\n", eol);
        }
        if (start == std::string::npos) return false;
        *line = line_of(text, start);
        Cell blk;
        block::make_at(&blk, 2);
        Cell* held = stack::push(&blk);
        lexer::LoadResult r = lexer::load_into(held, std::string_view(text).substr(start), true);
        offset = start + r.consumed;
        bool got = series::length(held) > 0;
        if (got) *out = *block::head(held);
        return got;
    };

    for (;;) {
        Cell* mark = stack::arguments_top;
        Cell code, expected;
        int line = 0, expected_line = 0;
        try {
            if (!next_value(&code, &line)) break;
            if (!code.is(Type::block)) {
                std::fprintf(stderr, "%s:%d: a case must start with a block of code\n", path, line);
                return failures + 1;
            }
            if (!next_value(&expected, &expected_line)) {
                std::fprintf(stderr, "%s:%d: the case has no expected value\n", path, line);
                return failures + 1;
            }
        } catch (const runtime::Throw&) {
            std::fprintf(stderr, "%s: syntax error after line %d\n", path, line);
            return failures + 1;
        }
        Cell* code_held = stack::push(&code);
        ++cases;
        std::string want, got;
        bool ok;
        if (expected.is(Type::issue) && std::string_view(symbol::name(expected.int2())) == "error") {
            Cell names;
            next_value(&names, &expected_line);
            std::string category, id;
            if (names.is(Type::block) && series::length(&names) == 2) {
                category = symbol::name(block::head(&names)->int2());
                id = symbol::name((block::head(&names) + 1)->int2());
            }
            want = "error " + category + "/" + id;
            Outcome o = evaluate(*code_held);
            stack::push(&o.value);
            if (o.error) {
                const char* c = error::category_name(o.id.category);
                const char* n = error::id_name(o.id);
                got = std::string("error ") + (c ? c : "?") + "/" + (n ? n : "?");
            } else {
                got = molded(o.value);
            }
            ok = o.error && o.id == error::id_named(category.c_str(), id.c_str());
        } else {
            Cell holder;
            block::make_at(&holder, 1);
            Cell* h = stack::push(&holder);
            block::append(h, &expected);
            Outcome e = evaluate(*h);
            // Both results stay on the stack while the case goes on: a hash! or map! held
            // only here would lose the buffers of its table in a collection.
            stack::push(&e.value);
            Outcome o = evaluate(*code_held);
            stack::push(&o.value);
            want = e.error ? "<error in the expected value>" : molded(e.value);
            if (o.error) {
                const char* c = error::category_name(o.id.category);
                const char* n = error::id_name(o.id);
                got = std::string("error ") + (c ? c : "?") + "/" + (n ? n : "?");
                ok = false;
            } else {
                got = molded(o.value);
                Cell a = o.value, b = e.value;
                try {
                    ok = !e.error && actions::compare(&a, &b, actions::op::strict_equal);
                } catch (const runtime::Throw&) {
                    ok = false;
                }
            }
        }
        if (!ok) {
            ++failures;
            std::fprintf(stderr, "%s:%d: FAILED %s\n    expected: %s\n    got:      %s\n", path, line,
                         molded(code).c_str(), want.c_str(), got.c_str());
        }
        stack::arguments_top = mark;
    }
    passed_total += cases - failures;
    failed_total += failures;
    return failures;
}

// --eval: loads and evaluates the text and prints the molded result as the console would
// (nothing for unset, the formed error for an error).
int eval_text(const char* text) {
    Cell code;
    block::make_at(&code, 8);
    Cell* held = stack::push(&code);
    try {
        lexer::load_into(held, text);
    } catch (const runtime::Throw&) {
        std::printf("%s\n", boot::describe_error(stack::top()).c_str());
        return 1;
    }
    Outcome o = evaluate(*held);
    if (o.error) {
        std::printf("%s\n", boot::describe_error(&o.error_value).c_str());
        return 1;
    }
    if (!o.value.is(Type::unset)) std::printf("%s\n", molded(o.value).c_str());
    return 0;
}

struct Args {
    int argc;
    char** argv;
    int status;
};

// output-of: the print hooks are swapped for a collector while the block runs.
std::string* output_sink = nullptr;

void collect_output(Cell* text, int32_t line_feed) {
    *output_sink += string::to_utf8(text);
    if (line_feed) *output_sink += "\n";
}

Cell* output_of(Cell** args) {
    Cell code = *args[0];
    std::string text;
    std::string* outer_sink = output_sink;
    runtime::HookList outer_hooks = runtime::print_hooks;
    runtime::print_hooks = runtime::HookList{};
    runtime::add_output_hooks(collect_output, nullptr);
    output_sink = &text;
    auto restore = [&] {
        runtime::remove_output_hooks(collect_output, nullptr);
        runtime::print_hooks = outer_hooks;
        output_sink = outer_sink;
    };
    try {
        stack::mark_native(&interpreter::body_word);
        interpreter::eval_block(&code, true);
        if (interpreter::pending) interpreter::throw_pending();
        stack::unwind();
    } catch (...) {
        restore();
        throw;
    }
    restore();
    static Cell result;
    Cell* s = string::push_new(static_cast<int32_t>(text.size()));
    string::append_utf8(s, text);
    result = *s;
    stack::pop(1);
    return &result;
}

void define_test_words() {
    Cell* spec = block::push_new(2);
    lexer::load_into(spec, "code [block!]");
    int32_t entry = routine::register_entry({"output-of", output_of, nullptr});
    Cell* r = routine::push(spec, entry, routine::takes_cells, 0);
    Cell word;
    cell::make(&word, Type::word, context::global, static_cast<uint32_t>(symbol::make("output-of")),
               static_cast<uint32_t>(-1));
    context::add_global(word.int2());
    context::set(&word, r);
    stack::pop(2);
}

void* run(void* p) {
    auto* a = static_cast<Args*>(p);
    runtime::start_here(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    // ZUV_GC_TORTURE=1 collects at every allocation of the test cases; the boot, the same
    // for every file, is run that way only with ZUV_GC_TORTURE=all (one ctest does).
    bool torture = collector::torture;
    const char* mode = std::getenv("ZUV_GC_TORTURE");
    if (!(mode && std::strcmp(mode, "all") == 0)) collector::torture = false;
    try {
        boot::run_script();
        define_test_words();
        boot::run_text("console-engine: system/console system/console: none", nullptr, nullptr);
    } catch (const runtime::Throw&) {
        std::fprintf(stderr, "boot failed\n");
        a->status = 1;
        return nullptr;
    }
    collector::torture = torture;
    if (a->argc >= 3 && std::strcmp(a->argv[1], "--eval") == 0) {
        a->status = eval_text(a->argv[2]);
        return nullptr;
    }
    for (int i = 1; i < a->argc; ++i) run_file(a->argv[i]);
    std::printf("%d passed, %d failed\n", passed_total, failed_total);
    a->status = failed_total ? 1 : 0;
    return nullptr;
}

}  // namespace

// Runs on a thread with the interpreter's large stack, as the program itself does, so that
// deep recursion ends in the language's stack-overflow error.
int main(int argc, char** argv) {
    console::link_program();
    Args args{argc, argv, 1};
    runtime::run_on_machine_stack(run, &args);
    return args.status;
}
