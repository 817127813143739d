// What the start-up code gives the system object: the routines stored in its fields (the
// interpreter test, the collector statistics, the float printing switches, the ZUVBIN and
// image codecs), the global context as an object, the raw command line and the build date.
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "memory/symbol.h"
#include "library/routines.h"
#include "library/sections.h"
#include "memory/action-types.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "reader/zuvbin.h"
#include "runtime/platform.h"
#include "runtime/system.h"

namespace zuv::library {

// Image formats by the number the image! encoder takes.
namespace image_format {
enum Format : int32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };
}

namespace {

bool named(const Cell* word, const char* name) {
    return symbol::resolve(word::symbol_of(word)) == symbol::resolve(symbol::make(name));
}

// ---- state --------------------------------------------------------------------------------------

Cell* interpreted_q(Cell**) { return answer(stack::interpreted_q(nullptr, false)); }
Cell* gc_active_q(Cell**) { return answer(runtime::collector_enabled != 0); }
Cell* gc_series_cycles(Cell**) { return integer::push(static_cast<int32_t>(collector::stats.collections)); }
Cell* gc_nodes_cycles(Cell**) { return integer::push(static_cast<int32_t>(collector::stats.node_moves)); }

// The float printing switches behind system/options/float: pretty? and full?.
Cell* set_float_flag(Cell** args) {
    if (!args[0]->is(Type::word)) raise_expect(args[0], "field");
    bool on = logic::truth(args[1]);
    if (named(args[0], "pretty?")) float_::pretty_print_q = on;
    else if (named(args[0], "full?")) float_::full_support_q = on;
    return args[1];
}

// ---- ZUVBIN codec -------------------------------------------------------------------------------

Cell* zuvbin_encode(Cell** args) {
    if (!args[1]->is(Type::logic)) raise_expect(args[1], "compact?");
    return logic::get(args[1]) ? zuvbin::encode_compact(args[0]) : zuvbin::encode(args[0]);
}

Cell* zuvbin_decode(Cell** args) {
    Cell payload = *args[0];
    if (payload.is(Type::file) || payload.is(Type::url)) {
        auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(payload.type(), datatype::slot::read));
        slotfn::ReadOptions as_binary;
        as_binary.binary = true;
        payload = *read(&payload, as_binary);
    }
    if (!payload.is(Type::binary)) error::raise(error::id::script_invalid_data, &payload);
    return zuvbin::decode(stack::push(&payload));
}

// ---- image codecs -------------------------------------------------------------------------------

template <image_format::Format format>
Cell* image_encode(Cell** args) {
    if (!args[0]->is(Type::image)) raise_expect(args[0], "img");
    return image::encode_value(args[0], args[1], format);  // the bytes go into the where cell
}

Cell* image_decode(Cell** args) { return image::decode_source(args[0]); }

// ---- start-up values ---------------------------------------------------------------------------

// The build date: when the running program file was last written, else none.
Cell build_date() {
    struct stat st {};
    Cell c = none::shared;
    if (::stat("/proc/self/exe", &st) != 0) return c;
    std::tm t{};
    time_t seconds = st.st_mtim.tv_sec;
    if (!gmtime_r(&seconds, &t)) return c;
    Cell d;
    if (date::from_parts(&d, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 0)) c = d;
    return c;
}

}  // namespace

Ref system_context() {
    PrivateContext p(16);
    p.add("global-words", object::push_global_context());
    stack::pop(1);
    std::string line = platform::command_line();
    Cell* text = string::push_new(static_cast<int32_t>(line.size()));
    string::append_utf8(text, line);
    p.add("command-line", text);
    stack::pop(1);
    Cell date = build_date();
    p.add("build-date", &date);

    const std::string encode_spec = "img [image!] where [any-type!]";
    p.add_routines({
        {"stack-interpreted?", interpreted_q, "return: [logic!]", "stack/interpreted? null no"},
        {"gc-active?", gc_active_q, "return: [logic!]", "collector/active?"},
        {"gc-series-cycles", gc_series_cycles, "return: [integer!]", "collector/stats/collections"},
        {"gc-nodes-cycles", gc_nodes_cycles, "return: [integer!]", "collector/stats/node-moves"},
        {"set-float-flag", set_float_flag, "field [word!] value", "float/set-flag field to logic! :value"},
        {"zuvbin-encode*", zuvbin_encode, "data compact? [logic!]",
         "either compact? [zuvbin/encode-compact :data][zuvbin/encode :data]"},
        {"zuvbin-decode", zuvbin_decode, "payload", "zuvbin/decode-payload :payload"},
        {"png-encode", image_encode<image_format::png>, encode_spec, "image/encode img where 1"},
        {"jpeg-encode", image_encode<image_format::jpeg>, encode_spec, "image/encode img where 3"},
        {"bmp-encode", image_encode<image_format::bmp>, encode_spec, "image/encode img where 0"},
        {"gif-encode", image_encode<image_format::gif>, encode_spec, "image/encode img where 2"},
        {"tiff-encode", image_encode<image_format::tiff>, encode_spec, "image/encode img where 4"},
        {"image-decode", image_decode, "data [any-type!]", "image/decode-source :data"},
    });
    return p.context();
}

}  // namespace zuv::library
