// Text and encoding natives: percent escapes, base encodings of bytes, case changes and the
// system's form of file paths. Each shapes arguments and result; the character and byte
// work belongs to the string, url, file and binary helpers and to case folding.
#include <cstdint>
#include <limits>
#include <string>

#include "datatypes/binary-base.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "datatypes/string-case.h"
#include "memory/case-folding.h"
#include "memory/stack.h"

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

// The /base argument of debase or enbase, or 64; anything but 2, 16, 58 and 64 is refused.
static_assert(refine::debase::base == refine::enbase::base);
int32_t base_of(const int32_t* refs) {
    if (refs[refine::debase::base] < 0) return 64;
    Cell* base = arg(refs[refine::debase::base]);
    int32_t b = base->int2();
    if (b != 2 && b != 16 && b != 58 && b != 64) error::raise(error::id::script_invalid_arg, base);
    return b;
}

// uppercase and lowercase: the /part limit.
static_assert(refine::uppercase::part == refine::lowercase::part);
void change_case(const int32_t* refs, int32_t mode) {
    const int32_t part = refs[refine::uppercase::part];
    case_folding::change_string(arg(0), part >= 0 ? arg(part) : nullptr, mode);
    stack::keep();
}

}  // namespace

void dehex(bool, const int32_t*) {
    Cell* value = arg(0);
    Cell* result = string::push_new(series::length(value));
    url::decode(value, result);
    stack::keep_last(result);
}

// A string! escapes all but the unreserved characters, so the text can stand inside a URL
// part; the other string types keep the characters that have a meaning in a URL.
void enhex(bool, const int32_t*) {
    Cell* value = arg(0);
    std::string encoded;
    url::encode(value, encoded, value->is(Type::string) ? url::mode_strict : url::mode_url);
    Cell* result = string::push_new(series::length(value));
    string::append_ascii(result, encoded);
    stack::keep_last(result);
}

void debase(bool, const int32_t* refs) {
    int32_t base = base_of(refs);
    std::u32string text = string::code_points(arg(0));
    std::optional<std::vector<uint8_t>> bytes;
    switch (base) {
        case 2: bytes = binary::decode_base2(text); break;
        case 16: bytes = binary::decode_base16(text); break;
        case 58: bytes = binary::decode_base58(text); break;
        default: bytes = binary::decode_base64(text); break;
    }
    if (!bytes) {
        none::box();
        stack::keep();
        return;
    }
    stack::keep_last(binary::load(*bytes));
}

void enbase(bool, const int32_t* refs) {
    int32_t base = base_of(refs);
    std::vector<uint8_t> bytes = *binary::data_bytes(arg(0));
    if (binary::encoded_size(bytes.size(), base) > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        error::raise(error::id::script_too_long);
    std::string text;
    switch (base) {
        case 2: text = binary::encode_base2(bytes); break;
        case 16: text = binary::encode_base16(bytes); break;
        case 58: text = binary::encode_base58(bytes); break;
        default: text = binary::encode_base64(bytes); break;
    }
    Cell* result = string::push_new(static_cast<int32_t>(text.size()));
    string::append_ascii(result, text);
    stack::keep_last(result);
}

void uppercase(bool, const int32_t* refs) { change_case(refs, case_folding::upper); }
void lowercase(bool, const int32_t* refs) { change_case(refs, case_folding::lower); }

// refs: /full.
void to_local_file(bool, const int32_t* refs) {
    Cell* path = arg(0);
    Cell* result = string::push_new(series::length(path));
    file::to_local(path, result, refs[refine::to_local_file::full] >= 0);
    stack::keep_last(result);
}

}  // namespace zuv::natives
