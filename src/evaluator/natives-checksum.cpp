// The checksum native: its data becomes bytes (a file read whole, a string as UTF-8, a binary
// from its head) and its method word an id; the checksum module computes, and its status
// names the error raised here.
#include <string>
#include <vector>

#include "datatypes/binary-base.h"
#include "datatypes/integer.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "evaluator/checksum.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "memory/symbol.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

}  // namespace

// refs: /with and the position of its spec.
void checksum(bool, const int32_t* refs) {
    Cell* data = arg(0);
    Cell* method = arg(1);
    std::optional<std::vector<uint8_t>> bytes;
    if (data->is(Type::file)) {
        auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(Type::file, datatype::slot::read));
        slotfn::ReadOptions as_binary;
        as_binary.binary = true;
        bytes = binary::data_bytes(read(data, as_binary));
    }
    else bytes = binary::data_bytes(data);
    if (!bytes) error::raise(error::id::script_invalid_arg, data);
    std::optional<checksum::Method> id;
    if (scalar::any_word_q(method->type())) id = checksum::method_id(symbol::name(method->int2()));
    if (!id) error::raise(error::id::script_invalid_arg, method);

    checksum::With with;
    std::optional<std::vector<uint8_t>> key;
    Cell* spec = refs[refine::checksum::with] >= 0 ? arg(refs[refine::checksum::with]) : nullptr;
    if (spec) {
        if (spec->is(Type::integer)) {
            with.kind = checksum::With::Kind::integer;
        } else if ((key = binary::data_bytes(spec))) {
            with.kind = checksum::With::Kind::key;
            with.key = *key;
        } else {
            with.kind = checksum::With::Kind::other;
        }
    }
    checksum::Result r = checksum::compute(*bytes, *id, with);
    Cell refinement = scalar::word_of("with", Type::refinement);
    switch (r.status) {
        case checksum::Status::ok: break;
        case checksum::Status::invalid_arg: error::raise(error::id::script_invalid_arg, method);
        case checksum::Status::invalid_refine_arg_method:
            error::raise(error::id::script_invalid_refine_arg, &refinement, method);
        case checksum::Status::invalid_refine_arg_spec:
            error::raise(error::id::script_invalid_refine_arg, &refinement, spec);
    }
    if (r.is_integer) {
        integer::box(r.integer);
        stack::keep();
        return;
    }
    stack::keep_last(binary::load(r.binary));
}

}  // namespace zuv::natives
