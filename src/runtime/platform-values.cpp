// The platform layer's answers as language values: the command line as a string!, the
// system description as an object!, and the argument type check of routines.
#include <span>

#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "evaluator/context.h"
#include "evaluator/error.h"
#include "evaluator/object.h"
#include "evaluator/symbol.h"
#include "evaluator/word.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/platform.h"

namespace zuv::platform {

Cell* command_line_value() {
    std::string line = command_line();
    Cell* s = string::push_new(static_cast<int32_t>(line.size()) + 1);
    string::append_utf8(s, line);
    return s;
}

Cell* os_info_value() {
    OsInfo info = os_info();
    Cell obj;
    object::make_at(&obj, 4);
    Cell* held = stack::push(&obj);
    auto field = [&](const char* name, const Cell& value) {
        int32_t i = context::add_word(held->data1, symbol::make(name));
        *context::value_at(held->data1, context::word_at(held->data1, i)->int3()) = value;
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
    held->data2 = object::new_class_id();
    object::refresh_owner(held);
    Cell result = *held;
    stack::pop(3);
    return stack::push(&result);
}

}  // namespace zuv::platform

namespace zuv::runtime {

void expect_type(const Cell* value, Type type) {
    if (!value->is(type)) error::raise(error::id::script_invalid_arg, value);
}

}  // namespace zuv::runtime
