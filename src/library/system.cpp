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
#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/error.h"
#include "evaluator/object.h"
#include "evaluator/symbol.h"
#include "library/sections.h"
#include "memory/action-types.h"
#include "memory/collector.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/platform.h"
#include "runtime/system.h"

namespace zuv::library {

// ---- seams ------------------------------------------------------------------------------------
// The ZUVBIN encoder and decoder and the image! codecs are other modules' work. Until they
// exist the codec routines reach them through these functions, which answer not-done.

namespace zuvbin_seam {

// A new binary! holding the ZUVBIN blob of the value, compact or plain.
Cell* encode(Cell* value, bool compact) {
    (void)value;
    (void)compact;
    error::raise(error::id::internal_not_done);
}

// Decodes a blob of length bytes at run time, appending each root value to the block.
void decode(const Cell* binary, int32_t length, Cell* target) {
    (void)binary;
    (void)length;
    (void)target;
    error::raise(error::id::internal_not_done);
}

}  // namespace zuvbin_seam

namespace image_seam {

// Image formats by the number the image! encoder takes.
enum Format : int32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };

// A binary! of the image in the format; where is passed on to the encoder.
Cell* encode(Cell* image, Cell* where, Format format) {
    (void)image;
    (void)where;
    (void)format;
    error::raise(error::id::internal_not_done);
}

// The image! decoded from a binary! or a file!; the decoder finds the container itself.
Cell* decode(Cell* source) {
    (void)source;
    error::raise(error::id::internal_not_done);
}

}  // namespace image_seam

namespace {

bool named(const Cell* word, const char* name) {
    return symbol::resolve(word->int2()) == symbol::resolve(symbol::make(name));
}

[[noreturn]] void raise_expect(const char* routine, Cell* value, const char* argument) {
    Cell name = scalar::word_of(routine), type, arg = scalar::word_of(argument);
    datatype::make_at(&type, static_cast<int>(value->type()));
    error::raise(error::id::script_expect_arg, &name, &type, &arg);
}

// ---- state --------------------------------------------------------------------------------------

routine::Value interpreted_q(const routine::Value*) {
    routine::Value r;
    r.logic = stack::interpreted_q(nullptr, false);
    return r;
}

routine::Value gc_active_q(const routine::Value*) {
    routine::Value r;
    r.logic = runtime::collector_enabled != 0;
    return r;
}

routine::Value gc_series_cycles(const routine::Value*) {
    routine::Value r;
    r.integer = static_cast<int32_t>(collector::stats.collections);
    return r;
}

routine::Value gc_nodes_cycles(const routine::Value*) {
    routine::Value r;
    r.integer = static_cast<int32_t>(collector::stats.node_moves);
    return r;
}

// The float printing switches behind system/options/float: pretty? and full?.
Cell* set_float_flag(Cell** args) {
    if (!args[0]->is(Type::word)) raise_expect("set-float-flag", args[0], "field");
    bool on = logic::truth(args[1]);
    if (named(args[0], "pretty?")) float_::pretty_print_q = on;
    else if (named(args[0], "full?")) float_::full_support_q = on;
    return args[1];
}

// ---- ZUVBIN codec -------------------------------------------------------------------------------

Cell* zuvbin_encode(Cell** args) {
    if (!args[1]->is(Type::logic)) raise_expect("encode*", args[1], "compact?");
    return zuvbin_seam::encode(args[0], logic::get(args[1]));
}

// A blob shorter than a header and a count cannot hold a value.
constexpr int32_t shortest_blob = 11;

Cell* zuvbin_decode(Cell** args) {
    Cell payload = *args[0];
    if (payload.is(Type::file) || payload.is(Type::url)) {
        auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(payload.type(), datatype::slot::read));
        payload = *read(&payload, nullptr, nullptr, true, false, false, nullptr);
    }
    if (!payload.is(Type::binary) || series::length(&payload) < shortest_blob)
        error::raise(error::id::script_invalid_data, &payload);
    Cell* held = stack::push(&payload);
    Cell* out = block::push_new(4);
    zuvbin_seam::decode(held, series::length(held), out);
    if (series::length(out) == 1) return block::head(out);
    return out;
}

// ---- image codecs -------------------------------------------------------------------------------

template <image_seam::Format format>
Cell* image_encode(Cell** args) {
    if (!args[0]->is(Type::image)) raise_expect("encode", args[0], "img");
    return image_seam::encode(args[0], args[1], format);
}

Cell* image_decode(Cell** args) { return image_seam::decode(args[0]); }

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

    p.add_routine("stack-interpreted?", "return: [logic!]", interpreted_q, Type::logic);
    p.add_routine("gc-active?", "return: [logic!]", gc_active_q, Type::logic);
    p.add_routine("gc-series-cycles", "return: [integer!]", gc_series_cycles, Type::integer);
    p.add_routine("gc-nodes-cycles", "return: [integer!]", gc_nodes_cycles, Type::integer);
    p.add_routine("set-float-flag", "field [word!] value", set_float_flag);

    p.add_routine("zuvbin-encode*", "data compact? [logic!]", zuvbin_encode);
    p.add_routine("zuvbin-decode", "payload", zuvbin_decode);

    const char* encode_spec = "img [image!] where [any-type!]";
    p.add_routine("png-encode", encode_spec, image_encode<image_seam::png>);
    p.add_routine("jpeg-encode", encode_spec, image_encode<image_seam::jpeg>);
    p.add_routine("bmp-encode", encode_spec, image_encode<image_seam::bmp>);
    p.add_routine("gif-encode", encode_spec, image_encode<image_seam::gif>);
    p.add_routine("tiff-encode", encode_spec, image_encode<image_seam::tiff>);
    p.add_routine("image-decode", "data [any-type!]", image_decode);
    return p.context();
}

}  // namespace zuv::library
