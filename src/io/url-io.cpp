// Reading, writing and opening url! values: HTTP requests for http and https URLs, a port
// made from the URL's parts for the others. Fills url!'s I/O actions at start-up.
#include "io/url-io.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/context.h"
#include "evaluator/interpreter.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "io/http.h"
#include "memory/datatype.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory/symbol.h"

namespace zuv::url {

namespace {

bool starts_with_http(Cell* u) { return string::starts_with_cstring_q(u, "http"); }

Cell word_cell(const char* name) {
    Cell w;
    cell::make(&w, Type::word, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return w;
}

// The URL parser's parse-url function (library code), reached through the global word
// url-parser; a missing one is reported as the word that has no value.
Cell url_parser_function() {
    Cell* parser = context::get_value_slot(symbol::make("url-parser"), context::global);
    if (!parser || !parser->is(Type::object)) {
        Cell w = word_cell("url-parser");
        error::raise(error::id::script_no_value, &w);
    }
    Cell fn = *object::find_value(parser, symbol::make("parse-url"));
    if (!fn.is(Type::function)) {
        Cell w = word_cell("parse-url");
        error::raise(error::id::script_no_value, &w);
    }
    return fn;
}

Cell* checked_response(Cell* response, Cell* u) {
    if (!response) error::raise(error::id::access_no_connect, u);
    return response;
}

}  // namespace

Cell* to_port(Cell* u, const slotfn::OpenOptions* open) {
    Cell fn = url_parser_function();
    Cell* mark = stack::arguments_top;
    Cell args[1] = {*u};
    Cell name = word_cell("parse-url");
    Cell parts;
    interpreter::apply_function(&fn, &name, args, 1, &parts);
    if (!parts.is(Type::object)) error::raise(error::id::script_invalid_arg, u);
    Cell* held = stack::push(&parts);
    port::make(held, held, static_cast<int32_t>(Type::port));
    if (open) port::open(held, *open);
    Cell made = *held;
    stack::arguments_top = mark;
    return stack::push(&made);
}

namespace {

Cell* open(Cell* u, const slotfn::OpenOptions& o) { return to_port(u, &o); }

Cell* read(Cell* u, const slotfn::ReadOptions& o) {
    if (!starts_with_http(u)) return port::read(to_port(u, nullptr), o);
    if (o.part || o.seek || o.as) error::raise(error::id::internal_not_done);
    Cell method = word_cell("get");
    return checked_response(http::request(&method, u, nullptr, nullptr, o.lines, o.binary, o.info), u);
}

Cell* write(Cell* u, Cell* data, const slotfn::WriteOptions& o) {
    if (!starts_with_http(u)) return port::write(to_port(u, nullptr), data, o);
    if (o.seek || o.allow || o.as) error::raise(error::id::internal_not_done);
    if (!data->is(Type::block)) {
        Cell method = word_cell("post");
        return checked_response(http::request(&method, u, nullptr, data, o.lines, o.binary, o.info), u);
    }
    // [method headers data]
    Cell spec = *data;
    int32_t n = series::length(&spec);
    Cell method = n > 0 ? *block::head(&spec) : none::shared;
    Cell headers = n > 1 ? *(block::head(&spec) + 1) : none::shared;
    Cell body = n > 2 ? *(block::head(&spec) + 2) : none::shared;
    if (!method.is(Type::word)) error::raise(error::id::script_invalid_arg, &method);
    if (!headers.is(Type::block)) error::raise(error::id::script_invalid_arg, &headers);
    return checked_response(http::request(&method, u, &headers, &body, o.lines, o.binary, o.info), u);
}

}  // namespace

void init_io() { datatype::fill(Type::url, {.open = open, .read = read, .write = write}); }

}  // namespace zuv::url
