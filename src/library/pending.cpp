// Stand-ins for routines that another library section binds to global words, used by
// 03-pending.zuv only while that section is missing: the section sets a global word to its
// stand-in when the word has no value. Each leaves this file when its section lands.
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "evaluator/context.h"
#include "evaluator/error.h"
#include "library/sections.h"
#include "memory/datatype.h"
#include "reader/file-io.h"
#include "runtime/platform.h"

namespace zuv::library {

namespace {

[[noreturn]] void raise_expect(const char* routine, Cell* value, const char* argument) {
    Cell name = scalar::word_of(routine), type, arg = scalar::word_of(argument);
    datatype::make_at(&type, static_cast<int>(value->type()));
    error::raise(error::id::script_expect_arg, &name, &type, &arg);
}

Cell* set_quiet(Cell** args) {
    Cell word = *args[0];
    if (!scalar::any_word_q(word.type()) || word.is(Type::refinement) || word.is(Type::issue))
        raise_expect("set-quiet", args[0], "word");
    if (!word.data1) error::raise(error::id::script_not_defined, &word);
    context::set_in(&word, args[1], word.data1, false);
    return args[1];
}

Cell* set_slot_quiet(Cell** args) {
    Cell* s = args[0];
    // A hash! keeps an index of its values: a slot written behind its back would corrupt it.
    if (!block::family_q(s->type()) || s->is(Type::hash)) raise_expect("set-slot-quiet", s, "series");
    if (!series::at_tail_q(s)) *block::head(s) = *args[1];
    return args[1];
}

Cell* get_current_dir(Cell**) { return file::current_dir(); }

Cell* exists_q(Cell** args) {
    if (!args[0]->is(Type::file)) raise_expect("exists?", args[0], "path");
    return logic::push(file_io::exists_q(args[0]));
}

Cell* set_current_dir(Cell** args) {
    if (!args[0]->is(Type::file)) raise_expect("set-current-dir", args[0], "path");
    if (!platform::set_current_dir(file::to_os_path(args[0]).c_str()))
        error::raise(error::id::access_cannot_open, args[0]);
    return args[0];
}

}  // namespace

Ref pending_context() {
    PrivateContext p(5);
    p.add_routine("pending-set-quiet", "word [any-type!] value [any-type!]", set_quiet);
    p.add_routine("pending-set-slot-quiet", "series [any-type!] value [any-type!]", set_slot_quiet);
    p.add_routine("pending-get-current-dir", "", get_current_dir);
    p.add_routine("pending-set-current-dir", "path [file!]", set_current_dir);
    p.add_routine("pending-exists?", "path [file!]", exists_q);
    return p.context();
}

}  // namespace zuv::library
