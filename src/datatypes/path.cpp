// paren! and the path family (path!, lit-path!, set-path!, get-path!): blocks with another
// face. They share block!'s cells, buffer and almost every action, and differ in how they
// are made, converted, formed and molded; turning one into another changes only the
// datatype byte.
#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "datatypes/mold.h"
#include "memory/cycle-stack.h"
#include "memory/datatype.h"
#include "memory/stack.h"

namespace zuv {

namespace {

using datatype::inherit;

// A block-shaped cell pushed as the given datatype.
Cell* push_as(const Cell* b, Type t) {
    Cell* c = stack::push(b);
    c->set_type(t);
    return c;
}

int32_t append_sigil(Cell* buffer, char c, int32_t budget) {
    string::append_char(buffer, static_cast<uint32_t>(c));
    return budget - 1;
}

}  // namespace

namespace paren {

Cell* push(const Cell* b) { return push_as(b, Type::paren); }

static int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t indent) {
    if (mold::cycle(value, buffer, &budget, true)) return budget;
    if (!only) budget = append_sigil(buffer, '(', budget);
    budget = block::mold_each(value, buffer, only, all, flat, part, budget, indent);
    if (!only) budget = append_sigil(buffer, ')', budget);
    return budget;
}

void init() {
    datatype::register_type(Type::paren, {
        .others = datatype::inherit,
        .mold = mold,
        .trim = datatype::empty,
    });
}

}  // namespace paren

namespace path {

const Cell* walked = nullptr;
bool walk_gets = false;

Cell* push(const Cell* b) { return push_as(b, Type::path); }

void make_at(Cell* c, int32_t capacity) { block::make_at(c, capacity, Type::path); }

static Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (spec->type()) {
        case Type::integer: case Type::float_: case Type::percent: {
            // A percent! is a float! in the cell: both truncate the same way.
            Cell n = *spec;
            if (n.is(Type::percent)) n.set_type(Type::float_);
            int32_t capacity = integer::from_number(&n);
            block::make_at(proto, capacity < 1 ? 1 : capacity, static_cast<Type>(type));
            return proto;
        }
        default:
            if (!block::family_q(spec->type())) {
                Cell t;
                datatype::make_at(&t, type);
                error::raise(error::id::script_bad_make_arg, &t, spec);
            }
            return block::to(proto, spec, type);
    }
}

static Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (spec->is(Type::object) || spec->is(Type::typeset) || spec->is(Type::map)) {
        Cell v = *spec;
        v.header &= ~header::new_line;
        Cell* made = block::push_new(1);
        block::append(made, &v);
        *proto = *made;
        proto->set_type(static_cast<Type>(type));
        return proto;
    }
    return block::to(proto, spec, type);
}

static int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return block::join_cells(value, buffer, false, false, false, false, part, budget, '/');
}

// New-line markers of the segments are ignored: no line break is written inside a path.
static int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    int32_t) {
    return block::join_cells(value, buffer, true, only, all, flat, part, budget, '/');
}

// A path's mold with a sigil before (lit-path!, get-path!) or after it (set-path!).
template <char Before, char After>
int32_t typed_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                   int32_t indent) {
    if (Before) budget = append_sigil(buffer, Before, budget);
    budget = mold(value, buffer, only, all, flat, part, budget, indent);
    if (After) budget = append_sigil(buffer, After, budget);
    return budget;
}

void init() {
    datatype::register_type(Type::path, {
        .others = datatype::inherit,
        .make = make,
        .random = datatype::empty,
        .to = to,
        .form = form,
        .mold = mold,
        .copy = block::copy,
        .sort = datatype::empty,
        .trim = datatype::empty,
    });
}

}  // namespace path

// The three typed paths inherit everything from path! but their mold.
#define ZUV_TYPED_PATH(ns, before, after)                                                              \
    namespace ns {                                                                                       \
    Cell* push(const Cell* b) { return push_as(b, Type::ns); }                                           \
    void init() {                                                                                        \
        datatype::register_type(Type::ns, {.others = datatype::inherit, .mold = path::typed_mold<before, after>}); \
    }                                                                                                    \
    }

ZUV_TYPED_PATH(lit_path, '\'', 0)
ZUV_TYPED_PATH(set_path, 0, ':')
ZUV_TYPED_PATH(get_path, ':', 0)

}  // namespace zuv
