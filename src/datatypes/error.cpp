// error! values: made from the catalogue's category and id words, formed as the message
// with its arguments; the hooks that let error raising build them.
#include "datatypes/error.h"

#include <initializer_list>
#include <string_view>

#include <cstdio>
#include <string>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/action-types.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "memory/upcalls.h"
#include "runtime/fatal.h"
#include "runtime/stdio.h"
#include "runtime/throw.h"

namespace zuv::error {

// error! values ------------------------------------------------------------------------------

namespace {

using datatype::fn;

// The fields of every error, in order.
const char* const field_names[] = {"code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files"};
constexpr int32_t field_count = 10;
enum Field { f_code, f_type, f_id, f_arg1, f_arg2, f_arg3, f_near, f_where, f_stack, f_files };

Cell prototype;           // the error prototype object (made on first use)
Cell catalogue_cell;      // the catalogue object once the boot code has made it

const Cell* catalogue() {
    if (catalogue_cell.is(Type::object)) return &catalogue_cell;
    if (!context::global) return nullptr;
    int32_t i = context::find_word(context::global, symbol::make("catalog-errors"), true);
    if (i < 0) return nullptr;
    Cell* v = context::value_at(context::global, context::word_at(context::global, i)->int3());
    if (!v || !v->is(Type::object)) return nullptr;
    catalogue_cell = *v;
    return &catalogue_cell;
}

void make_prototype() {
    if (prototype.is(Type::object)) return;
    Cell p;
    object::make_at(&p, field_count);
    Cell* held = stack::push(&p);
    for (const char* name : field_names) {
        int32_t index = context::add_word(object::context_of(held), symbol::make(name));
        context::block_values(object::context_of(held))[index] = none::shared;
    }
    object::set_class(held, object::new_class_id());
    prototype = *held;
    object::refresh_owner(&prototype);
    stack::pop(1);
}

// A new error object from the prototype, typed error!, in out.
void new_error(Cell* out) {
    make_prototype();
    Cell proto_ctx = *context::cell_of(object::context_of(&prototype));
    Ref ctx = context::create(field_count, false, true, &proto_ctx, context::kind_object);
    cell::make(out, Type::error, ctx, object::class_of(&prototype), 0);
    for (int32_t i = 0; i < field_count; ++i) context::block_values(ctx)[i] = none::shared;
    *context::owner_of(ctx) = *out;
}

// The word at index i of an object's context, as a word! bound to it.
Cell word_of(const Cell* object, int32_t index) {
    Cell w = *context::word_at(object::context_of(object), index);
    w.set_type(Type::word);
    w.header &= ~(context::bit::applied | header::new_line);
    return w;
}

// The index of a word in an object, -1 when absent.
int32_t index_in(const Cell* object, int32_t symbol) {
    int32_t i = context::find_word(object::context_of(object), symbol, true);
    return i < 0 ? -1 : context::word_at(object::context_of(object), i)->int3();
}

Cell field_word(const char* name) {
    Cell w;
    word::make_at(&w, symbol::make(name));
    return w;
}

// The category object at an index of the catalogue, into out; false when there is none.
bool category_of(const Cell* cat, int32_t index, Cell* out) {
    int32_t n = context::size_of(object::context_of(cat));
    if (index < 0 || index >= n) return false;
    *out = context::block_values(object::context_of(cat))[context::word_at(object::context_of(cat), index)->int3()];
    return out->is(Type::object);
}

void set_code(Cell* error, int32_t category, int32_t id) {
    cell::make(&context::block_values(object::context_of(error))[f_code], Type::integer, 0, static_cast<uint32_t>(category * 100 + id - 2));
}

}  // namespace

Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell spec;
    block::make_at(&spec, 2);
    Cell* sh = stack::push(&spec);
    block::append(sh, category);
    block::append(sh, id);
    Cell e;
    make(sh, &e);
    Cell* held = stack::push(&e);
    const Cell* args[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; ++i)
        if (args[i]) context::block_values(object::context_of(held))[f_arg1 + i] = *args[i];
    Cell result = *held;
    stack::pop(2);
    return stack::push(&result);
}

bool code_known_q(int32_t code) {
    const Cell* cat = catalogue();
    Cell category;
    return cat && code >= 0 && category_of(cat, code / 100, &category) &&
           code % 100 + 2 < context::size_of(object::context_of(&category));
}

void make(const Cell* spec_in, Cell* out) {
    Cell spec = *spec_in;
    Cell* sh = stack::push(&spec);
    const Cell* cat = catalogue();
    Cell e;
    new_error(&e);
    Cell* eh = stack::push(&e);
    auto category_at = [&](int32_t index, Cell* category_out) { return category_of(cat, index, category_out); };
    auto spec_field = [&](const char* name) -> Cell {
        Cell w = field_word(name);
        return w;
    };
    if (sh->is(Type::integer)) {
        int32_t code = sh->int2();
        Cell category;
        if (!code_known_q(code) || !category_at(code / 100, &category)) error::raise(id::script_out_of_range, sh);
        context::block_values(object::context_of(eh))[f_code] = *sh;
        context::block_values(object::context_of(eh))[f_type] = word_of(cat, code / 100);
        context::block_values(object::context_of(eh))[f_id] = word_of(&category, code % 100 + 2);
    } else if (sh->is(Type::block) && series::length(sh) > 0 && block::head(sh)->is(Type::word)) {
        Cell type_word = *block::head(sh);
        int32_t ci = cat ? index_in(cat, type_word.int2()) : -1;
        Cell category;
        if (ci < 0 || !category_at(ci, &category)) {
            Cell f = spec_field("type");
            error::raise(id::script_invalid_spec_field, &f);
        }
        if (series::length(sh) < 2) {
            Cell f = spec_field("id");
            error::raise(id::script_invalid_spec_field, &f);
        }
        Cell id_word = *(block::head(sh) + 1);
        if (!id_word.is(Type::word)) error::raise(id::script_invalid_arg, &id_word);
        int32_t ii = index_in(&category, id_word.int2());
        if (ii < 2) {
            Cell f = spec_field("id");
            error::raise(id::script_invalid_spec_field, &f);
        }
        context::block_values(object::context_of(eh))[f_type] = word_of(cat, ci);
        context::block_values(object::context_of(eh))[f_id] = word_of(&category, ii);
        set_code(eh, ci, ii);
    } else if (sh->is(Type::block) && series::length(sh) > 0 && block::head(sh)->is(Type::set_word)) {
        context::bind(sh, object::context_of(eh), true);
        upcall::calls.run_body(sh);
        if (*upcall::calls.pending) return;
        stack::unwind();
        stack::pop(1);
        Cell t = context::block_values(object::context_of(eh))[f_type], i = context::block_values(object::context_of(eh))[f_id];
        int32_t ci = cat && t.is(Type::word) ? index_in(cat, t.int2()) : -1;
        Cell category;
        if (ci < 0 || !category_at(ci, &category)) {
            Cell f = spec_field("type");
            error::raise(id::script_invalid_spec_field, &f);
        }
        int32_t ii = i.is(Type::word) ? index_in(&category, i.int2()) : -1;
        if (ii < 2) {
            Cell f = spec_field("id");
            error::raise(id::script_invalid_spec_field, &f);
        }
        set_code(eh, ci, ii);
    } else if (sh->is(Type::block)) {
        error::raise(id::internal_invalid_error);
    } else if (sh->is(Type::string)) {
        Cell user = field_word("user"), message = field_word("message");
        Cell* r = create(&user, &message, sh, nullptr, nullptr);
        *out = *r;
        stack::pop(3);
        return;
    } else {
        Cell t;
        datatype::make_at(&t, static_cast<int>(Type::error));
        error::raise(id::script_bad_make_arg, &t, sh);
    }
    context::block_values(object::context_of(eh))[f_near] = *upcall::calls.current_block;
    *out = *eh;
    stack::pop(2);
}

// The word of the argument at index in the spec of the innermost called function.
Cell get_call_argument(int32_t index) {
    Cell word;
    stack::get_call_word(&word);
    if (!word::binding_of(&word) || word::index_of(&word) < 0) {
        int32_t i = context::find_word(context::global, word::symbol_of(&word), true);
        if (i < 0) return none::shared;
        word::bind_to(&word, context::global, context::word_at(context::global, i)->int3());
    }
    Cell* fn = context::value_at(word::binding_of(&word), word::index_of(&word));
    if (!fn) return none::shared;
    switch (fn->type()) {
        case Type::native: case Type::action: case Type::op: case Type::function: case Type::routine:
            break;
        default:
            return none::shared;
    }
    return function::argument_word(fn, index);
}

void set_where(Cell* error, const Cell* word) {
    if (!error->is(Type::error) || !object::context_of(error)) return;
    Cell* w = &context::block_values(object::context_of(error))[f_where];
    if (w->is(Type::none)) *w = *word;
}

namespace {

// A field of system/state, or null while there is no system object.
Cell* state_field(const char* name) { return upcall::calls.system_field({"state", name}); }

// How many call words an error report shows: system/state/stack-trace when it is a positive
// integer, else none.
int32_t stack_trace_level() {
    Cell* level = state_field("stack-trace");
    return level && level->is(Type::integer) && level->int2() > 0 ? level->int2() : 0;
}

}  // namespace

void capture_stack(Cell* error) {
    if (!error->is(Type::error) || !object::context_of(error)) return;
    Cell position = context::block_values(object::context_of(error))[f_stack];
    if (!position.is(Type::integer)) return;
    int32_t level = stack_trace_level();
    Cell* words = block::push_new(20);
    stack::collect_call_words(level > 0 ? level : 1, words, position.int2());
    context::block_values(object::context_of(error))[f_stack] = *words;
    Cell* files = state_field("source-files");
    if (files && files->is(Type::block) && series::length(files) > 0) {
        Cell copy;
        Cell* held = stack::push(files);
        block::copy(held, &copy, nullptr, false, nullptr);
        context::block_values(object::context_of(error))[f_files] = copy;
        stack::pop(1);
    }
    stack::pop(1);
}

namespace {

void before_unroll(Cell* error) {
    if (!error->is(Type::error) || !object::context_of(error)) return;
    Cell word;
    stack::get_call_word(&word);
    set_where(error, &word);
    Cell* st = &context::block_values(object::context_of(error))[f_stack];
    if (!st->is(Type::block))
        cell::make(st, Type::integer, 0, static_cast<uint32_t>(stack::calls_top - stack::calls_bottom));
}

// Appends a message argument: formed for syntax errors, molded otherwise, at most 80
// characters.
void append_argument(Cell* buffer, Cell* value, bool syntax) {
    Cell text;
    if (syntax) actions::form_to(value, &text);
    else actions::mold_to(value, &text);
    Cell* held = stack::push(&text);
    string::truncate(series::buffer(held), 80);
    string::concatenate(buffer, held, -1, 0, false, 0);
    stack::pop(1);
}

int32_t form_error(Cell* error, Cell* buffer, Cell* part, int32_t budget) {
    Cell e = *error;
    Cell* eh = stack::push(&e);
    string::append_ascii(buffer, "*** ");
    const Cell* cat = catalogue();
    Cell* fields = context::block_values(object::context_of(eh));
    Cell category = none::shared, message = none::shared;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (cat && fields[f_type].is(Type::word)) {
            Cell* c = object::find_value(cat, fields[f_type].int2());
            if (c->is(Type::object)) category = *c;
        }
        if (category.is(Type::object) && fields[f_id].is(Type::word)) message = *object::find_value(&category, fields[f_id].int2());
        if (category.is(Type::object) && !message.is(Type::none)) break;
        // Unknown category or id: shown as an invalid error naming it.
        fields[f_arg1] = category.is(Type::object) ? fields[f_id] : fields[f_type];
        Cell internal = field_word("internal"), invalid = field_word("invalid-error");
        fields = context::block_values(object::context_of(eh));
        fields[f_type] = internal;
        fields[f_id] = invalid;
        category = none::shared;
        message = none::shared;
    }
    if (message.is(Type::word)) message = *object::find_value(eh, message.int2());
    Cell title = category.is(Type::object) ? *object::find_value(&category, symbol::make("type")) : none::shared;
    if (title.is(Type::string)) string::concatenate(buffer, &title, -1, 0, false, 0);
    string::append_ascii(buffer, ": ");
    fields = context::block_values(object::context_of(eh));
    bool syntax = fields[f_type].is(Type::word) &&
                  symbol::resolve(fields[f_type].int2()) == symbol::resolve(symbol::make("syntax"));
    if (message.is(Type::string)) {
        string::concatenate(buffer, &message, -1, 0, false, 0);
    } else if (message.is(Type::block)) {
        Cell* mh = stack::push(&message);
        int32_t n = series::length(mh);
        for (int32_t i = 0; i < n; ++i) {
            Cell item = *(block::head(mh) + i);
            if (i > 0) string::append_ascii(buffer, " ");
            if (item.is(Type::string)) {
                string::concatenate(buffer, &item, -1, 0, false, 0);
            } else if (item.is(Type::word) || item.is(Type::get_word)) {
                Cell v = *object::find_value(eh, item.int2());
                Cell* vh = stack::push(&v);
                append_argument(buffer, vh, syntax);
                stack::pop(1);
            }
        }
        stack::pop(1);
    }
    string::append_ascii(buffer, "\n*** Where: ");
    // Appending to the buffer may move the error's values: each field is read afresh.
    fields = context::block_values(object::context_of(eh));
    Cell where = fields[f_where];
    if (where.is(Type::word)) {
        Cell* wh = stack::push(&where);
        actions::mold_dispatch(wh, buffer, false, false, false, nullptr, actions::no_limit, 0);
        stack::pop(1);
    } else if (where.is(Type::string)) {
        string::concatenate(buffer, &where, -1, 0, false, 0);
    } else {
        string::append_ascii(buffer, "???");
    }
    string::append_ascii(buffer, "\n*** Near : ");
    fields = context::block_values(object::context_of(eh));
    Cell near = fields[f_near];
    if (near.is(Type::block) || near.is(Type::paren)) {
        Cell text;
        string::make_at(&text, 64);
        Cell* th = stack::push(&text);
        Cell* nh = stack::push(&near);
        actions::mold_dispatch(nh, th, true, false, true, nullptr, actions::no_limit, 0);
        string::truncate(series::buffer(th), 40);
        string::concatenate(buffer, th, -1, 0, false, 0);
        stack::pop(2);
    } else {
        Cell* nh = stack::push(&near);
        actions::mold_dispatch(nh, buffer, true, false, true, nullptr, actions::no_limit, 0);
        stack::pop(1);
    }
    fields = context::block_values(object::context_of(eh));
    Cell trace = fields[f_stack];
    if (int32_t level = stack_trace_level(); level > 0) {
        if (trace.is(Type::integer)) {
            string::append_ascii(buffer, "\n*** Stack: ");
            stack::mold_call_trace(level, trace.int2(), buffer, actions::no_limit);
        } else if (trace.is(Type::block)) {
            string::append_ascii(buffer, "\n*** Stack: ");
            Cell* th = stack::push(&trace);
            actions::form_dispatch(th, buffer, nullptr, actions::no_limit);
            stack::pop(1);
        }
    }
    fields = context::block_values(object::context_of(eh));
    Cell files = fields[f_files];
    if (files.is(Type::block)) {
        string::append_ascii(buffer, "\n*** Files: ");
        Cell text;
        string::make_at(&text, 64);
        Cell* th = stack::push(&text);
        Cell* fh = stack::push(&files);
        actions::mold_dispatch(fh, th, true, false, true, nullptr, actions::no_limit, 0);
        string::truncate(series::buffer(th), 40);
        string::concatenate(buffer, th, -1, 0, false, 0);
        stack::pop(2);
    }
    stack::pop(1);
    return budget - series::length(buffer);
}

int32_t mold_error(Cell* error, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                   int32_t indent) {
    Cell o = *error;
    o.set_type(Type::object);
    Cell* oh = stack::push(&o);
    if (!only) string::append_ascii(buffer, "make error! [");
    auto mold = reinterpret_cast<slotfn::Mold>(datatype::action_of(Type::object, datatype::slot::mold));
    budget = mold(oh, buffer, true, all, flat, part, budget - (only ? 0 : 13), indent + 1);
    if (!only) {
        string::append_ascii(buffer, "\n]");
        budget -= 2;
    }
    stack::pop(1);
    return budget;
}

Cell* make_action(Cell* proto, Cell* spec, int32_t) {
    Cell e;
    make(spec, &e);
    *proto = e;
    return proto;
}

int32_t compare_error(Cell* a, Cell* b, int32_t op) {
    if (!b->is(Type::error)) return -2;
    Cell x = *a, y = *b;
    x.set_type(Type::object);
    y.set_type(Type::object);
    return actions::compare_dispatch(&x, &y, op);
}

// raise's hook: the category and id words come from the catalogue by index.
bool build(Id id, const Cell* const args[3], Cell* out) {
    const Cell* cat = catalogue();
    if (!cat) return false;
    int32_t n = context::size_of(object::context_of(cat));
    Cell category = id.category < n ? context::block_values(object::context_of(cat))[context::word_at(object::context_of(cat), id.category)->int3()]
                                     : none::shared;
    if (!category.is(Type::object) || id.index >= context::size_of(object::context_of(&category))) return false;
    Cell cw = word_of(cat, id.category);
    Cell iw = word_of(&category, id.index);
    Cell* e = create(&cw, &iw, args[0], args[1], args[2]);
    *out = *e;
    stack::pop(1);
    if (upcall::calls.error_made) upcall::calls.error_made(out);
    return true;
}

}  // namespace

void uncaught_hook(Cell* error) {
    std::string text = "*** Error";
    try {
        capture_stack(error);
        Cell out;
        actions::form_to(error, &out);
        text = string::to_utf8(&out);
    } catch (const runtime::Throw&) {
    }
    stdio::flush_pending();
    std::fprintf(stderr, "%s\n", text.c_str());
    runtime::message_box(text.c_str(), " Zuv NoName App");
    std::fflush(stderr);
    std::_Exit(-2);  // an uncaught error ends without the exit clean-up
}

void init() {
    datatype::register_type(Type::error, {
        .others = datatype::inherit,
        .make = make_action,
        .form = form_error,
        .mold = mold_error,
        .compare = compare_error,
        .put = datatype::empty,
        .modify = datatype::empty,
    });
    collector::add_root(&prototype);
    collector::add_root(&catalogue_cell);
    cell::make(&prototype, Type::none);
    cell::make(&catalogue_cell, Type::none);
    stack::error_hooks.before_unroll = before_unroll;
    hooks.build = build;
    hooks.call_argument = get_call_argument;
}

}  // namespace zuv::error
