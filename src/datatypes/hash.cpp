// hash!: a block with a hash index over every cell, so that find, select and the set
// operations look values up without scanning. The inherited block! and series! actions keep
// the index in step with each edit; this file makes, copies and molds. A table reached only
// from C++ locals loses its buffers in a collection: the cells stay on the argument stack.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/datatype.h"
#include "memory/hashtable.h"
#include "memory/stack.h"

namespace zuv::hash {

namespace {

// Gives a block cell (one the collector sees) an index over its cells and the type hash!.
void index_block(Cell* b) {
    b->set_type(Type::block);
    block::set_hash_table(b, 0);
    Ref table = hashtable::make(std::max(series::length(b), 1), b, hashtable::kind_hash, 0);
    block::set_hash_table(b, table);
    b->set_type(Type::hash);
}

Cell* copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell* source = stack::push(series);  // keeps the source's index whole while copying
    block::copy(series, result, part, deep, types);
    if (!part && !deep && !types && series::head(source) == 0 && block::hash_table_of(source)) {
        Ref table = hashtable::copy(block::hash_table_of(source), series::node(result));
        block::set_hash_table(result, table);
        result->set_type(Type::hash);
    } else {
        index_block(result);
    }
    stack::pop(1);
    return result;
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    if (spec->is(Type::hash)) {
        *proto = *spec;
        return copy(proto, proto, nullptr, false, nullptr);
    }
    block::to(proto, spec, static_cast<int32_t>(Type::block));
    index_block(proto);
    return proto;
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (spec->type()) {
        case Type::integer: case Type::float_: {
            int32_t n = std::max(integer::from_number(spec), 1);
            block::make_at(proto, n);
            index_block(proto);
            return proto;
        }
        case Type::block:
            *proto = *block::clone(spec, false, false);
            stack::pop(1);
            proto->header &= ~header::new_line;
            index_block(proto);
            return proto;
        default:
            return to(proto, spec, type);
    }
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (!only) {
        string::append_ascii(buffer, "make hash! ");
        budget -= 11;
    }
    return block::mold(value, buffer, only, all, flat, part, budget, indent);
}

}  // namespace

void init() {
    datatype::register_type(Type::hash, {
        .others = datatype::inherit,
        .make = make,
        .to = to,
        .mold = mold,
        .copy = copy,
    });
}

}  // namespace zuv::hash
