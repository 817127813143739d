// port!: making ports from URL parts and a scheme of system/schemes, and the actions that
// forward to the port's actor. An actor function gets the port, then the action's
// arguments in spec order, each refinement as a logic! flag followed by its arguments.
#include "datatypes/port.h"

#include <algorithm>
#include <cassert>
#include <span>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "datatypes/word.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "memory/upcalls.h"

namespace zuv::port {

namespace {

using namespace datatype::slot;

// The words the actor's functions are looked up by, from append (slot 25) on.
constexpr const char* action_names[] = {
    "append", "at", "back", "change", "clear", "copy", "find", "head", "head?", "index?",
    "insert", "length?", "move", "next", "pick", "poke", "put", "remove", "reverse", "select",
    "sort", "skip", "swap", "tail", "tail?", "take", "trim", "create", "close", "delete",
    "modify", "open", "open?", "query", "read", "rename", "update", "write",
};
static_assert(std::size(action_names) == std::tuple_size_v<NativeActor>);

Cell action_word(int slot) {
    Cell w;
    word::make_at(&w, symbol::make(action_names[slot - first_port_action]));
    return w;
}

// The words of the port and URL-parts prototypes, for when there is no system object yet.
constexpr const char* port_words[] = {"spec", "scheme", "actor", "awake", "state", "data", "extra"};
constexpr const char* url_part_words[] = {"scheme", "user-info", "host", "port", "path", "target", "query",
                                          "fragment", "ref"};

// ---- system lookups ------------------------------------------------------------------------

// The value reached from the global word `system` through fields of objects, or null when
// a step is missing or not an object.
Cell* system_field(std::initializer_list<const char*> names) {
    Cell* v = context::get_value_slot(symbol::make("system"), context::global);
    for (const char* name : names) {
        if (!v || !v->is(Type::object)) return nullptr;
        if (object::find_index(v, symbol::make(name)) < 0) return nullptr;
        v = object::find_value(v, symbol::make(name));
    }
    return v;
}

// A shallow copy of an object (or port) through the object! copy, which keeps the type.
void object_copy(const Cell* source, Cell* out) {
    Cell* mark = stack::arguments_top;
    Cell* held = stack::push(source);
    auto copy_ = reinterpret_cast<slotfn::Copy>(datatype::action_of(Type::object, copy));
    *out = *copy_(held, held, nullptr, false, nullptr);
    stack::arguments_top = mark;
}

// A copy of a prototype object of system/standard, or a fresh object of the same words
// (all none) while the system object does not hold it.
void standard_copy(const char* name, std::span<const char* const> words, Cell* out) {
    Cell* proto = system_field({"standard", name});
    if (proto && proto->is(Type::object)) {
        object_copy(proto, out);
        return;
    }
    object::make_at(out, static_cast<int32_t>(words.size()));
    for (const char* w : words) context::add_with_value(object::context_of(out), symbol::make(w), &none::shared);
    object::set_class(out, object::new_class_id());
    object::refresh_owner(out);
}

// The scheme object named by a word in system/schemes (name and scheme pairs), or null.
Cell* find_scheme(const Cell* name) {
    Cell* schemes = system_field({"schemes"});
    if (!schemes || !schemes->is(Type::block)) return nullptr;
    int32_t n = series::length(schemes);
    int32_t wanted = symbol::resolve(name->int2());
    for (int32_t i = 0; i + 1 < n; i += 2) {
        Cell* key = block::head(schemes) + i;
        if (key->type() >= Type::word && key->type() <= Type::get_word && symbol::resolve(key->int2()) == wanted)
            return key + 1;
    }
    return nullptr;
}

// A prototype of system/standard may lack a field; then the port goes without it.
void set_field(Cell* object, const char* name, const Cell* value) {
    Cell v = *value;
    int32_t symbol = symbol::make(name);
    if (object::find_index(object, symbol) >= 0) *object::find_value(object, symbol) = v;
}

// ---- native actors -------------------------------------------------------------------------

std::vector<const NativeActor*> native_actors;

// The native implementation of an action for a port whose actor is a handle!, or null when
// the actor is something else; an action the table lacks raises access/no-port-action.
void* native_entry(const Cell* port, int slot) {
    const Cell* actor = get_actor(port);
    if (!actor->is(Type::handle)) return nullptr;
    auto table = reinterpret_cast<const NativeActor*>(handle::object(handle::value_of(actor)));
    void* entry = nullptr;
    if (std::find(native_actors.begin(), native_actors.end(), table) != native_actors.end())
        entry = (*table)[slot - first_port_action];
    if (!entry) {
        Cell w = action_word(slot);
        error::raise(error::id::access_no_port_action, &w);
    }
    return entry;
}

template <class F>
F native(const Cell* port, int slot) {
    return reinterpret_cast<F>(native_entry(port, slot));
}

// ---- forwarding ----------------------------------------------------------------------------

// The arguments of an actor call: the port, then the action's arguments in spec order.
struct Args {
    Cell cells[16];  // find has the most: the port, its value and 14 for its refinements
    int count = 0;

    explicit Args(const Cell* port) { value(port); }
    Args& value(const Cell* v) {
        assert(count < static_cast<int>(std::size(cells)));
        cells[count++] = *v;
        return *this;
    }
    Args& flag(bool on) { return value(on ? &logic::shared_true : &logic::shared_false); }
    // A refinement with one argument: its flag, then the argument or none.
    Args& refinement(const Cell* argument) { return flag(argument).value(argument ? argument : &none::shared); }
    // A refinement whose argument the dispatcher gave as a count.
    Args& counted(bool given, int32_t n) {
        if (!given) return flag(false).value(&none::shared);
        Cell c;
        cell::make(&c, Type::integer, 0, static_cast<uint32_t>(n));
        return flag(true).value(&c);
    }
};

// Calls the actor's function for an action; `frame` names the call frame when it is not
// the action's own word.
Cell* forward(int slot, const Args& args, int frame_slot = 0) {
    Cell actor = *get_actor(&args.cells[0]);
    Cell action = action_word(slot);
    Cell frame = action_word(frame_slot ? frame_slot : slot);
    return call_actor(&actor, &action, args.cells, args.count, &frame);
}

// ---- actions -------------------------------------------------------------------------------

int32_t mold(Cell* port, Cell* buffer, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    string::append_ascii(buffer, "make port! [");
    budget -= 12;
    auto fields = reinterpret_cast<slotfn::Mold>(datatype::action_of(Type::object, datatype::slot::mold));
    budget = fields(port, buffer, true, all, flat, part, budget, indent + 1);
    if (!flat && object::word_count(port) > 0) {
        string::append_ascii(buffer, "\n");
        for (int32_t k = 0; k < indent; ++k) string::append_ascii(buffer, "    ");
        budget -= 1 + 4 * indent;
    }
    string::append_ascii(buffer, "]");
    return budget - 1;
}

int32_t form(Cell* port, Cell* buffer, Cell* part, int32_t budget) {
    return mold(port, buffer, false, false, false, part, budget, 0);
}

// append and insert: the /dup flag is given for a count other than one.
template <int Slot>
Cell* p_append(Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
    if (auto f = native<slotfn::Append>(port, Slot)) return f(port, value, part, only, dup);
    Args a(port);
    a.value(value).counted(part >= 0, part).flag(only).counted(dup != 1, dup);
    return forward(Slot, a, Slot == append ? insert : 0);
}

Cell* p_change(Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
    if (auto f = native<slotfn::Change>(port, change)) return f(port, value, part, only, dup);
    Args a(port);
    a.value(value).counted(part >= 0, part).flag(only).counted(dup != 1, dup);
    return forward(change, a);
}

// The actions of the port alone: back, clear, head, head?, index?, next, tail, tail? and
// create, close, delete, query, update.
template <int Slot>
Cell* p_alone(Cell* port) {
    if (auto f = native<slotfn::Series>(port, Slot)) return f(port);
    return forward(Slot, Args(port));
}

// at and skip.
template <int Slot>
Cell* p_offset(Cell* port, Cell* offset) {
    if (auto f = native<slotfn::Offset>(port, Slot)) return f(port, offset);
    return forward(Slot, Args(port).value(offset));
}

Cell* p_copy(Cell* port, Cell* result, Cell* part, bool deep, Cell* types) {
    if (auto f = native<slotfn::Copy>(port, copy)) return f(port, result, part, deep, types);
    return forward(copy, Args(port).refinement(part).flag(deep).refinement(types));
}

Cell* p_find(Cell* port, Cell* value, const slotfn::FindOptions& o) {
    if (auto f = native<slotfn::Find>(port, find)) return f(port, value, o);
    Args a(port);
    a.value(value).refinement(o.part).flag(o.only).flag(o.case_).flag(o.same).flag(o.any).refinement(o.with);
    a.refinement(o.skip).flag(o.last).flag(o.reverse).flag(o.tail).flag(o.match);
    return forward(find, a);
}

Cell* p_select(Cell* port, Cell* value, const slotfn::SelectOptions& o) {
    if (auto f = native<slotfn::Select>(port, select)) return f(port, value, o);
    Args a(port);
    a.value(value).refinement(o.part).flag(o.only).flag(o.case_).flag(o.same).flag(o.any).refinement(o.with);
    a.refinement(o.skip).flag(o.last).flag(o.reverse);
    return forward(select, a);
}

// length?: an integer! from the actor is the length, anything else gives none.
int32_t p_length_q(Cell* port) {
    if (auto f = native<slotfn::Length>(port, length_q)) return f(port);
    Cell* r = forward(length_q, Args(port));
    return r->is(Type::integer) ? r->int2() : -1;
}

Cell* p_move(Cell* port, Cell* target, Cell* part) {
    if (auto f = native<slotfn::Move>(port, move)) return f(port, target, part);
    return forward(move, Args(port).value(target).refinement(part));
}

Cell* p_pick(Cell* port, int32_t index, Cell* index_cell) {
    if (auto f = native<slotfn::Pick>(port, pick)) return f(port, index, index_cell);
    return forward(pick, Args(port).value(index_cell));
}

Cell* p_poke(Cell* port, int32_t index, Cell* value, Cell* index_cell) {
    if (auto f = native<slotfn::Poke>(port, poke)) return f(port, index, value, index_cell);
    return forward(poke, Args(port).value(index_cell).value(value));
}

Cell* p_put(Cell* port, Cell* key, Cell* value, bool case_) {
    if (auto f = native<slotfn::Put>(port, put)) return f(port, key, value, case_);
    return forward(put, Args(port).value(key).value(value).flag(case_));
}

Cell* p_remove(Cell* port, Cell* part, Cell* key) {
    if (auto f = native<slotfn::Remove>(port, remove)) return f(port, part, key);
    return forward(remove, Args(port).refinement(part).refinement(key));
}

Cell* p_reverse(Cell* port, Cell* part, Cell* skip_) {
    if (auto f = native<slotfn::Reverse>(port, reverse)) return f(port, part, skip_);
    return forward(reverse, Args(port).refinement(part).refinement(skip_));
}

Cell* p_sort(Cell* port, const slotfn::SortOptions& o) {
    if (auto f = native<slotfn::Sort>(port, sort)) return f(port, o);
    Args a(port);
    a.flag(o.case_).refinement(o.skip).refinement(o.compare).refinement(o.part).flag(o.all).flag(o.reverse);
    a.flag(o.stable);
    return forward(sort, a);
}

Cell* p_swap(Cell* port, Cell* other) {
    if (auto f = native<slotfn::Swap>(port, swap)) return f(port, other);
    return forward(swap, Args(port).value(other));
}

Cell* p_take(Cell* port, Cell* part, bool deep, bool last) {
    if (auto f = native<slotfn::Take>(port, take)) return f(port, part, deep, last);
    return forward(take, Args(port).refinement(part).flag(deep).flag(last));
}

Cell* p_trim(Cell* port, const slotfn::TrimOptions& o) {
    if (auto f = native<slotfn::Trim>(port, trim)) return f(port, o);
    Args a(port);
    a.flag(o.head).flag(o.tail).flag(o.auto_).flag(o.lines).flag(o.all).refinement(o.with);
    return forward(trim, a);
}

Cell* p_modify(Cell* port, int32_t field, Cell* value, bool case_) {
    if (auto f = native<slotfn::Modify>(port, modify)) return f(port, field, value, case_);
    Cell w;
    word::make_at(&w, field);
    return forward(modify, Args(port).value(&w).value(value).flag(case_));
}

// open? has no meaning for an actor object; only a native actor may answer it.
Cell* p_open_q(Cell* port) {
    if (auto f = native<slotfn::Port>(port, open_q)) return f(port);
    error::raise_expect_arg(Type::port, 0);
}

Cell* p_rename(Cell* port, Cell* to_) {
    if (auto f = native<slotfn::Rename>(port, rename)) return f(port, to_);
    return forward(rename, Args(port).value(to_));
}

}  // namespace

Cell* get_actor(const Cell* port) { return object::find_value(port, symbol::make("actor")); }

Cell* call_actor(const Cell* actor_in, const Cell* action, const Cell* args, int count, const Cell* frame) {
    Cell actor = *actor_in;
    if (!actor.is(Type::object)) error::raise(error::id::access_invalid_port);
    Cell fn = *object::find_value(&actor, action->int2());
    if (!fn.is(Type::function)) error::raise(error::id::access_no_port_action, action);
    Cell result;
    upcall::calls.apply(&fn, frame ? frame : action, args, count, &result, nullptr, 0);
    return stack::push(&result);
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    Cell* mark = stack::arguments_top;
    Cell port;
    if (spec->is(Type::port)) {
        object_copy(spec, &port);
    } else {
        Cell* given = stack::push(spec);
        Cell* parts = none::push();
        standard_copy("url-parts", url_part_words, parts);
        object::make(parts, given, parts);
        if (*upcall::calls.pending) return proto;
        Ref ctx = object::context_of(parts);
        Cell name = context::size_of(ctx) > 0 ? *context::value_at(ctx, context::word_at(ctx, 0)->int3()) : none::shared;
        if (!name.is(Type::word)) error::raise(error::id::access_no_scheme, given);
        Cell* made = none::push();
        standard_copy("port", port_words, made);
        made->set_type(Type::port);
        object::refresh_owner(made);
        set_field(made, "spec", parts);
        set_field(made, "scheme", &name);
        Cell* scheme = find_scheme(&name);
        if (!scheme || !scheme->is(Type::object)) error::raise(error::id::access_unknown_scheme, &name);
        Cell actor = *object::find_value(scheme, symbol::make("actor"));
        if (!actor.is(Type::object) && !actor.is(Type::handle)) error::raise(error::id::access_invalid_actor);
        set_field(made, "actor", &actor);
        port = *made;
    }
    stack::arguments_top = mark;
    *proto = port;
    return proto;
}

Cell* open(Cell* port, const slotfn::OpenOptions& o) {
    if (auto f = native<slotfn::Open>(port, datatype::slot::open)) return f(port, o);
    Args a(port);
    a.flag(o.new_).flag(o.read).flag(o.write).flag(o.seek).refinement(o.allow);
    return forward(datatype::slot::open, a);
}

namespace {

// The end of a composed read or write: copy gives the result, then the port is closed.
Cell* copy_and_close(Cell* mark, const Cell* port) {
    Cell result = *forward(copy, Args(port).refinement(nullptr).flag(false).refinement(nullptr));
    forward(close, Args(port));
    stack::arguments_top = mark;
    return stack::push(&result);
}

}  // namespace

Cell* read(Cell* port, const slotfn::ReadOptions& o) {
    if (auto f = native<slotfn::Read>(port, datatype::slot::read)) return f(port, o);
    Cell* mark = stack::arguments_top;
    Cell* held = stack::push(port);
    open(held, {});
    return copy_and_close(mark, held);
}

Cell* write(Cell* port, Cell* data, const slotfn::WriteOptions& o) {
    if (auto f = native<slotfn::Write>(port, datatype::slot::write)) return f(port, data, o);
    Cell* mark = stack::arguments_top;
    Cell* held = stack::push(port);
    Cell* value = stack::push(data);
    slotfn::OpenOptions for_writing;
    for_writing.write = true;
    open(held, for_writing);
    bool counted = o.part && o.part->is(Type::integer);
    Args a(held);
    a.value(value).counted(counted, counted ? o.part->int2() : 0).flag(false).counted(false, 0);
    forward(insert, a);
    return copy_and_close(mark, held);
}

void register_native_actor(const NativeActor* table, Cell* out) {
    native_actors.push_back(table);
    handle::make_at(out, handle::enter(reinterpret_cast<uintptr_t>(table)), handle::subtype::none);
}

void init() {
    using datatype::fn;
    datatype::register_type(Type::port, {
        .others = datatype::inherit,
        .make = make,
        .form = form,
        .mold = mold,
        .append = p_append<append>,
        .at = p_offset<at>,
        .back = p_alone<back>,
        .change = p_change,
        .clear = p_alone<clear>,
        .copy = p_copy,
        .find = p_find,
        .head = p_alone<head>,
        .head_q = p_alone<head_q>,
        .index_q = p_alone<index_q>,
        .insert = p_append<insert>,
        .length_q = p_length_q,
        .move = p_move,
        .next = p_alone<next>,
        .pick = p_pick,
        .poke = p_poke,
        .put = p_put,
        .remove = p_remove,
        .reverse = p_reverse,
        .select = p_select,
        .sort = p_sort,
        .skip = p_offset<skip>,
        .swap = p_swap,
        .tail = p_alone<tail>,
        .tail_q = p_alone<tail_q>,
        .take = p_take,
        .trim = p_trim,
        .create = p_alone<create>,
        .close = p_alone<close>,
        .delete_ = p_alone<delete_>,
        .modify = p_modify,
        .open = open,
        .open_q = p_open_q,
        .query = p_alone<query>,
        .read = read,
        .rename = p_rename,
        .update = p_alone<update>,
        .write = write,
    });
}

}  // namespace zuv::port
