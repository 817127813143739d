// transcode, the language's front end of the lexer: text or UTF-8 bytes to values, with the
// scan's callback, /next, /one, /part and /into.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "datatypes/context.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "evaluator/trace.h"
#include "memory/datatype.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory/symbol.h"
#include "memory/unicode.h"
#include "reader/lexer-load.h"
#include "reader/lexer-scan.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

// What the callback's type argument names for a structure token: the first entries of
// system/lexer/exit-states, indexed by token kind (end to comma).
struct ExitState {
    const char* word;  // a word, or null for the datatype
    Type type;
};
constexpr ExitState exit_states[] = {
    {"eof", Type::none_id}, {nullptr, Type::error}, {nullptr, Type::block}, {nullptr, Type::block},
    {nullptr, Type::paren}, {nullptr, Type::paren}, {nullptr, Type::string}, {nullptr, Type::string},
    {nullptr, Type::map}, {nullptr, Type::path}, {nullptr, Type::datatype}, {"comment", Type::none_id},
    {nullptr, Type::string},
};

const char* event_name(lexer::Event e) {
    switch (e) {
        case lexer::Event::prescan: return "prescan";
        case lexer::Event::scan: return "scan";
        case lexer::Event::load: return "load";
        case lexer::Event::open: return "open";
        case lexer::Event::close: return "close";
        default: return "error";
    }
}

// The events a callback wants: all of them unless its body begins with a block naming them.
uint32_t event_mask_of(const Cell* fn) {
    Cell body = memory::buffer_of(function::series_of(fn))->cells()[0];
    if (!body.is(Type::block) || series::length(&body) == 0 || !block::head(&body)->is(Type::block))
        return lexer::event_mask(false, {});
    Cell names = *block::head(&body);
    std::vector<std::string_view> words;
    for (Cell* c = block::head(&names); c < block::tail(&names); ++c)
        if (scalar::any_word_q(c->type())) words.emplace_back(symbol::name(word::symbol_of(c)));
    return lexer::event_mask(true, words);
}

// The lexer's events handed to a language function: (event input type line token); its
// answer accepts or refuses the step, and moving its input moves the scan.
class TraceCallback final : public lexer::Callback {
public:
    TraceCallback(const Cell* fn, const Cell* input) : fn_(fn), input_(input) { mask = event_mask_of(fn); }

    lexer::Answer event(const lexer::EventInfo& info) override {
        Cell args[5];
        args[0] = scalar::word_of(event_name(info.event));
        args[1] = *input_;
        series::set_head(&args[1], series::head(input_) + static_cast<int32_t>(info.index));
        args[2] = type_value(info.type);
        cell::make(&args[3], Type::integer, 0, static_cast<uint32_t>(info.line));
        Cell* loaded = info.event == lexer::Event::load ? lexer::last_loaded() : nullptr;
        if (loaded) {
            args[4] = *loaded;
        } else {
            cell::make(&args[4], Type::pair);
            pair::make_at(&args[4], static_cast<int32_t>(info.token_start), static_cast<int32_t>(info.token_end));
        }
        Cell answer = interpreter::call_with(fn_, nullptr, args, 5, interpreter::callback::lexer);
        lexer::Answer a;
        a.accept = logic::truth(&answer);
        if (args[1].type() == input_->type() && series::node(&args[1]) == series::node(input_)) {
            int32_t index = std::max(args[1].int1() - input_->int1(), 0);
            if (static_cast<uint32_t>(index) != info.index) a.index = static_cast<uint32_t>(index);
        }
        return a;
    }

private:
    static Cell type_value(const lexer::EventType& t) {
        Cell c;
        switch (t.of) {
            case lexer::EventType::Of::datatype:
                datatype::make_at(&c, t.value);
                return c;
            case lexer::EventType::Of::exit_state: {
                if (t.value < 0 || t.value >= static_cast<int32_t>(std::size(exit_states))) return none::shared;
                const ExitState& e = exit_states[t.value];
                if (e.word) return scalar::word_of(e.word);
                datatype::make_at(&c, static_cast<int>(e.type));
                return c;
            }
            case lexer::EventType::Of::character:
                cell::make(&c, Type::char_, 0, static_cast<uint32_t>(t.value));
                return c;
            default:
                return none::shared;
        }
    }

    const Cell* fn_;
    const Cell* input_;
};

// The text transcode scans, as UTF-8, limited by /part (a count of bytes or characters, or a
// position in a series of the source's datatype).
std::string transcode_text(Cell* src, Cell* length) {
    bool string_input = src->is(Type::string);
    std::string text;
    if (string_input) {
        text = string::to_utf8(src);
    } else {
        const uint8_t* p = series::head_address(src);
        text.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(series::length(src)));
    }
    if (!length) return text;
    int64_t n;
    if (length->is(Type::integer)) n = integer::get(length);
    else if (length->type() == src->type()) n = int64_t(length->int1()) - src->int1();
    else error::raise(error::id::script_not_same_type);
    n = std::max<int64_t>(n, 0);
    if (string_input) {
        const auto* start = reinterpret_cast<const uint8_t*>(text.data());
        const uint8_t* end = unicode::skip_utf8_chars(start, start + text.size(), static_cast<size_t>(n));
        text.resize(static_cast<size_t>(end - start));
    } else if (static_cast<uint64_t>(n) < text.size()) {
        text.resize(static_cast<size_t>(n));
    }
    return text;
}

// A block of two values pushed on the argument stack.
Cell* push_pair_block(const Cell* first, const Cell* second) {
    Cell* b = block::push_new(2);
    block::append(b, first);
    block::append(b, second);
    return b;
}

}  // namespace

// refs: /next /one /prescan /scan, /part length, /into dst, /trace callback.
void transcode(bool, const int32_t* refs) {
    namespace rf = refine::transcode;
    Cell* src = stack::push(arg(0));
    series::length(src);  // an index past the tail moves back to it
    std::string text = transcode_text(src, refs[rf::part] >= 0 ? arg(refs[rf::part]) : nullptr);
    bool typing = refs[rf::prescan] >= 0 || refs[rf::scan] >= 0;

    lexer::Options options;
    options.one_value = refs[rf::next] >= 0 || refs[rf::one] >= 0 || typing;
    options.scan = refs[rf::prescan] < 0;
    options.load = !typing;
    options.string_input = src->is(Type::string);
    std::optional<TraceCallback> callback;
    if (refs[rf::trace] >= 0) {
        callback.emplace(arg(refs[rf::trace]), src);
        options.callback = &*callback;
    }
    Cell* target = refs[rf::into] >= 0 ? stack::push(arg(refs[rf::into])) : block::push_new(4);
    int32_t before = series::buffer_length(target);
    lexer::Result r = lexer::load_with(target, text, options);

    Cell rest = *src;
    series::set_head(&rest, series::head(&rest) + static_cast<int32_t>(r.consumed));
    Cell value;
    if (typing) {
        if (text.empty() || r.type == lexer::dt::no_type) value = none::shared;
        else datatype::make_at(&value, r.type < 0 ? static_cast<int>(Type::error) : r.type);
    } else if (r.dropped) {
        value = none::shared;
    } else if (refs[rf::one] >= 0 || refs[rf::next] >= 0) {
        // The value loaded; with /into it went into dst, which stands for it.
        if (refs[rf::into] >= 0) value = *target;
        else value = series::buffer_length(target) > before ? *(series::buffer(target)->cells() + before) : unset::shared;
    } else {
        value = *target;
    }
    if (refs[rf::next] >= 0 && refs[rf::one] < 0) stack::keep_last(push_pair_block(&value, &rest));
    else stack::keep_last(&value);
}

}  // namespace zuv::natives
