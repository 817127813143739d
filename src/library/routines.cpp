// The routine! values bound to global words at start-up: quiet setters, bit shifts, the
// current folder, folder creation and file existence, tuple building, the clipboard,
// standard output and a view of the stacks. Each entry takes its argument cells.
#include "library/routines.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <span>
#include <string_view>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/datatype.h"
#include "memory/memory.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "io/clipboard.h"
#include "io/file-io.h"
#include "reader/lexer-load.h"
#include "runtime/platform.h"
#include "runtime/stdio.h"

namespace zuv::library {

namespace {
std::deque<std::string> entry_names;
}

void define_routines(const std::vector<Definition>& list, Ref ctx) {
    // All texts go through the lexer at once: [body] for each routine, in order, and [spec]
    // before it the first time a spec text comes (the predicates share a few of them; each
    // routine still gets its own copy of the block).
    std::string text;
    std::unordered_map<std::string_view, int32_t> spec_at;  // spec text -> cell index
    std::vector<int32_t> spec_of(list.size());
    int32_t cells = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        auto [known, fresh] = spec_at.try_emplace(list[i].spec, cells);
        if (fresh) {
            text += '[' + list[i].spec + "]\n";
            ++cells;
        }
        spec_of[i] = known->second;
        text += '[' + list[i].body + "]\n";
        ++cells;
    }
    Cell* held = block::push_new(cells);
    lexer::load_into(held, text);
    for (size_t i = 0, next = 0; i < list.size(); ++i) {
        Cell spec = *(block::head(held) + spec_of[i]);
        if (static_cast<int32_t>(next) == spec_of[i]) ++next;
        else spec = *block::clone(&spec, true, false);
        Cell body = *(block::head(held) + next++);
        // The routine table keeps the name's address: it lives as long as the program.
        const char* name = entry_names.emplace_back(list[i].name).c_str();
        int32_t entry = routine::register_entry({name, list[i].entry, nullptr});
        Cell* made = routine::push(&spec, entry, routine::takes_cells, 0);
        // The body is kept for reflection, bound to the routine's own words.
        context::bind(&body, function::context_of(made), false);
        memory::buffer_of(function::series_of(made))->cells()[0] = body;
        Cell value = *made;
        if (ctx) {
            context::add_with_value(ctx, symbol::make(name), &value);
        } else {
            Cell word = *context::add_global(symbol::make(name));
            context::set(&word, &value);
        }
        stack::arguments_top = held + 1;
    }
    stack::pop(1);
}

[[noreturn]] void raise_expect(const Cell* value, const char* argument) {
    Cell name, type, word;
    stack::get_call_word(&name);
    datatype::make_at(&type, static_cast<int>(value->type()));
    word::make_unbound(&word, symbol::make(argument), Type::word);
    error::raise(error::id::script_expect_arg, &name, &type, &word);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Ending the process

Cell* quit_return(Cell** a) {
    // Nothing is torn down, but what was printed must not be lost.
    stdio::flush_pending();
    std::_Exit(a[0]->int2());
}

// ---------------------------------------------------------------------------------------------
// Quiet setters: no on-change* handler and no ownership notice runs.

bool word_kind(Type t) { return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word; }

Cell* set_quiet(Cell** a) {
    if (!word_kind(a[0]->type())) raise_expect(a[0], "word");
    Cell word = *a[0];
    if (!word::binding_of(&word)) error::raise(error::id::script_not_defined, &word);
    context::set_in(&word, a[1], word::binding_of(&word), false);
    return a[1];
}

Cell* set_slot_quiet(Cell** a) {
    Cell* s = a[0];
    switch (s->type()) {
        case Type::block: case Type::paren:
        case Type::path: case Type::lit_path: case Type::set_path: case Type::get_path:
            break;
        default:
            raise_expect(s, "series");
    }
    if (!series::at_tail_q(s)) series::buffer(s)->cells()[s->int1()] = *a[1];
    return a[1];
}

// ---------------------------------------------------------------------------------------------
// Shifts, through the shift native's own arithmetic

Cell* shift_right(Cell** a) { return integer::push(natives::shift_bits(a[0]->int2(), a[1]->int2(), false, false)); }
Cell* shift_left(Cell** a) { return integer::push(natives::shift_bits(a[0]->int2(), a[1]->int2(), true, false)); }
Cell* shift_logical(Cell** a) { return integer::push(natives::shift_bits(a[0]->int2(), a[1]->int2(), false, true)); }

Cell* last_lf_q(Cell**) { return answer(natives::last_print_newline != 0); }

// ---------------------------------------------------------------------------------------------
// Folders and files

Cell* get_current_dir(Cell**) { return file::current_dir(); }

Cell* set_current_dir(Cell** a) {
    if (!platform::set_current_dir(file::to_os_path(a[0]).c_str())) error::raise(error::id::access_cannot_open, a[0]);
    return const_cast<Cell*>(&unset::shared);
}

Cell* create_dir(Cell** a) {
    if (!file_io::create_dir(a[0])) error::raise(error::id::access_no_create, a[0]);
    return const_cast<Cell*>(&unset::shared);
}

Cell* exists_q(Cell** a) { return answer(file_io::exists_q(a[0])); }

// The system's description as an object! of name, arch, version and build.
Cell* os_info(Cell**) {
    platform::OsInfo info = platform::os_info();
    Cell obj;
    object::make_at(&obj, 4);
    Cell* held = stack::push(&obj);
    auto field = [&](const char* name, const Cell& value) {
        Ref ctx = object::context_of(held);
        int32_t i = context::add_word(ctx, symbol::make(name));
        *context::value_at(ctx, word::index_of(context::word_at(ctx, i))) = value;
    };
    Cell name;
    string::make_at(&name, static_cast<int32_t>(info.name.size()) + 1);
    Cell* nh = stack::push(&name);
    string::append_utf8(nh, info.name);
    field("name", *nh);
    Cell arch;
    word::make_at(&arch, symbol::make(info.arch));
    field("arch", arch);
    int32_t parts[3] = {info.version[0], info.version[1], info.version[2]};
    Cell* version = tuple::from_ints(std::span<const int32_t>(parts, 3));
    field("version", *version);
    Cell build;
    cell::make(&build, Type::integer, 0, static_cast<uint32_t>(info.build));
    field("build", build);
    object::set_class(held, object::new_class_id());
    object::refresh_owner(held);
    Cell result = *held;
    stack::pop(3);
    return stack::push(&result);
}

// ---------------------------------------------------------------------------------------------
// Tuples from integers

void check_not_negative(Cell** a, int n) {
    for (int i = 0; i < n; ++i)
        if (a[i]->int2() < 0) error::raise(error::id::script_invalid_arg, a[i]);
}

Cell* as_color(Cell** a) {
    check_not_negative(a, 3);
    int32_t parts[3] = {a[0]->int2() & 0xFF, a[1]->int2() & 0xFF, a[2]->int2() & 0xFF};
    return tuple::from_ints(std::span<const int32_t>(parts, 3));
}

// The four values are or-ed into one 32-bit word, a in the low byte: a part above 255
// carries its high bits into the following parts.
Cell* as_ipv4(Cell** a) {
    check_not_negative(a, 4);
    auto u = [&](int i) { return static_cast<uint32_t>(a[i]->int2()); };
    return tuple::push(4, (u(3) << 24) | (u(2) << 16) | (u(1) << 8) | u(0), 0, 0);
}

// ---------------------------------------------------------------------------------------------
// UTF-8 characters between two positions of a binary

Cell* count_chars(Cell** a) {
    // Both positions are read in start's buffer, so two different binaries cannot make the
    // count run over memory that is not start's.
    int32_t length = series::buffer_length(a[0]);
    int32_t from = std::min(a[0]->int1(), length);
    int32_t to = std::min(a[1]->int1(), length);
    if (to <= from) return integer::push(0);
    const uint8_t* bytes = series::unit_address(a[0], 0);
    return integer::push(static_cast<int32_t>(unicode::count_utf8_chars(bytes + from, bytes + to)));
}

// ---------------------------------------------------------------------------------------------
// The stacks, as the debugging tools see them

int32_t stack_size() { return static_cast<int32_t>(stack::arguments_top - stack::arguments_bottom); }

Cell* stack_size_q(Cell**) { return integer::push(stack_size()); }

Cell* pick_stack(Cell** a) {
    int32_t i = a[0]->int2();
    if (i <= 0 || i >= stack_size()) return const_cast<Cell*>(&none::shared);
    Cell c = stack::arguments_bottom[i - 1];
    return stack::push(&c);
}

// The routine's own frame: the entry runs inside a native frame opened on top of it.
Cell* frame_index_q(Cell**) {
    Cell* base = memory::ptr<Cell>(stack::top_frame()->saved_base);
    return integer::push(static_cast<int32_t>(base - stack::arguments_bottom));
}

Cell* collect_calls(Cell** a) {
    Cell blk = *a[0];
    stack::collect_calls(&blk);
    return const_cast<Cell*>(&unset::shared);
}

Cell* tracing_q(Cell**) { return answer(interpreter::tracing != 0); }

// ---------------------------------------------------------------------------------------------
// Clipboard and standard output

Cell* read_clipboard(Cell**) { return clipboard::read(); }
Cell* write_clipboard(Cell** a) { return clipboard::write(a[0]); }

Cell* write_stdout(Cell** a) {
    Cell none_file = none::shared;
    return file_io::write(&none_file, a[0], false, false, false, false, nullptr, nullptr);
}

}  // namespace

void bind_routines() {
    define_routines({
        {"quit-return", quit_return,
         R"~("Stops evaluation and exits the program with a given status" status [integer!])~", "quit status"},
        {"set-quiet", set_quiet,
         R"~("Set an object's field to a value without triggering eventual object's events")~"
         R"~( word [any-type!] value [any-type!])~",
         "context/set-quiet word :value :value"},
        {"set-slot-quiet", set_slot_quiet,
         R"~("Set a value in series without triggering eventual owner's events" series [any-type!] value [any-type!])~",
         "block/set-slot-quiet series :value :value"},
        {"shift-right", shift_right, R"~("Shift bits to the right" data [integer!] bits [integer!])~",
         "shift data bits"},
        {"shift-left", shift_left, R"~("Shift bits to the left" data [integer!] bits [integer!])~",
         "shift/left data bits"},
        {"shift-logical", shift_logical, R"~("Shift bits to the right (unsigned)" data [integer!] bits [integer!])~",
         "shift/logical data bits"},
        {"last-lf?", last_lf_q, R"~("Internal Use Only" return: [logic!])~", "natives/last-print-newline = 1"},
        {"get-current-dir", get_current_dir,
         R"~("Returns the platform's current directory for the process" return: [string!])~",
         "platform/get-current-dir"},
        {"set-current-dir", set_current_dir, R"~("Sets the platform's current process directory" path [file!])~",
         "platform/set-current-dir file/to-os-path path"},
        {"create-dir", create_dir, R"~("Create the given directory" path [file!])~", "file-io/create-dir path"},
        {"exists?", exists_q, R"~("Returns TRUE if the file exists" path [file!] return: [logic!])~",
         "file-io/get-attributes path"},
        {"os-info", os_info, R"~("Returns detailed operating system version information")~", "platform/os-info"},
        {"as-color", as_color, R"~("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])~",
         "tuple/from-ints reduce [r and 255 g and 255 b and 255]"},
        {"as-ipv4", as_ipv4,
         R"~("Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!])~",
         "tuple/from-word (shift/left d 24) or (shift/left c 16) or (shift/left b 8) or a"},
        {"as-rgba", as_ipv4,
         R"~("Combine R, G, B and A color components into a tuple")~"
         R"~( r [integer!] g [integer!] b [integer!] a [integer!])~",
         "as-ipv4 r g b a"},
        {"count-chars", count_chars,
         R"~("Count UTF-8 encoded characters between two positions in a binary series")~"
         R"~( start [binary!] pos [binary!] return: [integer!])~",
         "unicode/count-utf8-chars start pos"},
        {"stack-size?", stack_size_q, "return: [integer!]", "stack/size"},
        {"pick-stack", pick_stack, "idx [integer!]", "stack/pick idx"},
        {"frame-index?", frame_index_q, "return: [integer!]", "stack/frame-index"},
        {"collect-calls", collect_calls, "blk [block!]", "stack/collect-calls blk"},
        {"tracing?", tracing_q, "return: [logic!]", "interpreter/tracing?"},
        {"read-clipboard", read_clipboard,
         R"~("Return the contents of the system clipboard" return: [logic! none! string! block! image!])~"
         R"~( "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")~",
         "clipboard/read"},
        {"write-clipboard", write_clipboard,
         R"~("Write content to the system clipboard")~"
         R"~( data [any-type!] "string!, block! of files!, an image! or none!" return: [logic!] "indicates success")~",
         "clipboard/write data"},
        {"write-stdout", write_stdout, R"~("Write data to STDOUT" data [any-type!])~", "file-io/write none data"},
    });
}

}  // namespace zuv::library
