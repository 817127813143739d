// Natives that talk to the host: memory figures and the collector, sleeping, the environment,
// the clock.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/trace.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "memory/symbol.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "evaluator/memory-stats.h"
#include "memory/stack.h"
#include "memory/unicode.h"
#include "runtime/platform.h"
#include "runtime/system.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

void box_none() {
    none::box();
    stack::keep();
}

void box_unset() {
    unset::box();
    stack::keep();
}

// The name of an environment variable: an any-string's text or a word's spelling.
std::string env_name(const Cell* var) {
    if (scalar::any_word_q(var->type())) return symbol::name(var->int2());
    return string::to_utf8(var);
}

Cell* push_text(std::string_view utf8) {
    Cell* s = string::push_new(static_cast<int32_t>(utf8.size()));
    string::append_utf8(s, utf8);
    return s;
}

}  // namespace

// ---- memory -----------------------------------------------------------------------------------

// refs: /show, /info.
void stats(bool, const int32_t* refs) {
    if (refs[refine::stats::show] < 0 && refs[refine::stats::info] < 0) {
        stack::keep_last(memory::stats(1, nullptr));
        return;
    }
    Cell* info = block::push_new(5);
    memory::stats(2, info);
    if (refs[refine::stats::show] < 0) {
        stack::keep_last(info);
        return;
    }
    Cell word = scalar::word_of("show-memory-stats");
    Cell* fn = context::get_value_slot(word.int2(), context::global);
    if (!fn || !fn->is(Type::function)) error::raise(error::id::script_no_value, &word);
    Cell f = *fn, args[1] = {*info};
    interpreter::call_with(&f, &word, args, 1);
    box_unset();
}

// refs: /on, /off.
void recycle(bool, const int32_t* refs) {
    if (refs[refine::recycle::on] >= 0 || refs[refine::recycle::off] >= 0) {
        runtime::collector_enabled = refs[refine::recycle::on] >= 0 ? 1 : 0;
        box_unset();
        return;
    }
    collector::recycle();
    stack::keep_last(memory::stats(1, nullptr));
}

// ---- time -------------------------------------------------------------------------------------

// No event loop runs yet, so the pass over pending window messages after the sleep is empty.
void wait(bool, const int32_t*) {
    Cell* v = arg(0);
    double seconds;
    switch (v->type()) {
        case Type::integer: seconds = v->int2(); break;
        case Type::float_: case Type::percent: case Type::time: seconds = v->float23(); break;
        default: error::raise(error::id::script_invalid_arg, v);
    }
    platform::wait(seconds);
    box_none();
}

// refs: /year /month /day /time /zone /date /weekday /yearday /precise /utc.
void now(bool, const int32_t* refs) {
    namespace rf = refine::now;
    int used = 0;
    for (int i = rf::year; i <= rf::precise; ++i) used += refs[i] >= 0;
    if (used >= 2 && !(refs[rf::time] >= 0 && refs[rf::precise] >= 0)) error::raise(error::id::script_bad_refines);

    // The UTC date and time of day from one reading: a retry when midnight passed between them.
    double t, before;
    uint32_t today;
    do {
        before = platform::get_time(refs[rf::precise] >= 0);
        today = static_cast<uint32_t>(platform::get_date(true));
        t = platform::get_time(refs[rf::precise] >= 0);
    } while (t < before);
    uint32_t zone_bits = refs[rf::utc] >= 0 ? 0 : static_cast<uint32_t>(platform::get_date(false)) & date::bits::zone;
    // The date word holds the local date; the time counts from that date's UTC midnight.
    int64_t days = date::normalize_time(date::to_days(today), &t, zone_bits);
    if (refs[rf::date] >= 0) {
        stack::keep_last(date::push(date::from_days(days, 0, false), 0.0));
        return;
    }
    Cell* d = date::push(date::from_days(days, zone_bits, true), t);
    static constexpr struct {
        int refinement;
        int32_t field;
    } fields[] = {{rf::year, 2}, {rf::month, 3},    {rf::day, 4},      {rf::zone, 5},
                  {rf::time, 6}, {rf::weekday, 10}, {rf::yearday, 11}};
    for (const auto& f : fields) {
        if (refs[f.refinement] >= 0) {
            stack::keep_last(date::push_field(d, f.field));
            return;
        }
    }
    stack::keep_last(d);
}

// ---- environment ------------------------------------------------------------------------------

void set_env(bool, const int32_t*) {
    std::string name = env_name(arg(0));
    Cell* value = arg(1);
    if (value->is(Type::none)) platform::set_env(name.c_str(), nullptr);
    else platform::set_env(name.c_str(), string::to_utf8(value).c_str());
    stack::keep_last(value);
}

// An empty value reads as no value, as an unset variable does.
void get_env(bool, const int32_t*) {
    std::optional<std::string> value = platform::get_env(env_name(arg(0)).c_str());
    if (!value || value->empty()) return box_none();
    stack::keep_last(push_text(*value));
}

// Names and values are decoded leniently: the environment is not bound to be UTF-8.
void list_env(bool, const int32_t*) {
    std::vector<std::pair<std::string, std::string>> pairs = platform::list_env_pairs();
    Cell* entries = block::push_new(std::max<int32_t>(100, static_cast<int32_t>(pairs.size() * 2)));
    for (const auto& [name, value] : pairs) {
        block::append(entries, push_text(name));
        block::append(entries, push_text(value));
        stack::pop(2);
    }
    Cell result;
    map::make_at(&result, entries, 0);
    stack::keep_last(&result);
}

}  // namespace zuv::natives
