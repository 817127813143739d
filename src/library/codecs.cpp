// The C++ side of the codecs section: the JSON decoder's unescape routine and the private
// context that hands it and the JSON and CSV fast paths (fast-codecs.cpp) to 05-codecs.zuv.
#include "library/codecs.h"

#include "library/fast-codecs.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/context.h"
#include "memory/error.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "reader/lexer-load.h"

namespace zuv::library {

namespace {

int hex_value(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

// The code unit of exactly four hexadecimal digits at text[at], or -1.
int32_t hex4(const std::u32string& text, size_t at) {
    if (at + 4 > text.size()) return -1;
    int32_t unit = 0;
    for (size_t k = at; k < at + 4; ++k) {
        int d = hex_value(text[k]);
        if (d < 0) return -1;
        unit = unit << 4 | d;
    }
    return unit;
}

// The escape-free text, or false at the first bad escape.
bool decode_escapes(const std::u32string& text, std::u32string& out) {
    size_t n = text.size();
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        char32_t c = text[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= n) return false;
        switch (char32_t e = text[i++]) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += U'\b'; break;
            case 'f': out += U'\f'; break;
            case 'n': out += U'\n'; break;
            case 'r': out += U'\r'; break;
            case 't': out += U'\t'; break;
            case 'u': {
                int32_t unit = hex4(text, i);
                if (unit < 0) return false;
                i += 4;
                // A high surrogate followed by an escaped low one is one character; any
                // other surrogate stands alone as its own code point, so a string that holds
                // one (which to-json writes as its escape) reads back as it was.
                if (unit >= 0xD800 && unit <= 0xDBFF && i + 6 <= n && text[i] == '\\' && text[i + 1] == 'u') {
                    int32_t low = hex4(text, i + 2);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        i += 6;
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    }
                }
                out += static_cast<char32_t>(unit);
                break;
            }
            default: return false;
        }
    }
    return true;
}

}  // namespace

bool json_decode_escapes(const std::u32string& text, std::u32string& out) { return decode_escapes(text, out); }

Cell* json_unescape(Cell** args) {
    Cell* s = args[0];
    std::u32string text = string::code_points(s);
    if (text.find(U'\\') == std::u32string::npos) return s;
    std::u32string out;
    if (!decode_escapes(text, out)) {
        Cell bad = *s;
        error::raise(error::id::script_invalid_data, &bad);
    }
    // The decoded text is never longer: cut at the head and append it, which widens the
    // buffer's unit when a character needs it.
    string::truncate(series::buffer(s), series::head(s));
    string::append_chars(s, out);
    return s;
}

Ref codecs_context() {
    Cell object;
    object::make_at(&object, 1);
    Ref made = object::context_of(block::append(&block::root, &object));
    struct Private {
        const char* word;
        const char* entry;  // the routine table's name
        const char* spec;
        routine::CellEntry fn;
    };
    static constexpr Private routines[] = {
        {"json-unescape", "unescape", "str [string!]", json_unescape},
        {"json-decode", "decode", "text [string!] key [function!]", json_decode},
        {"json-encode", "encode", "value [any-type!] indent [string! none!] ascii", json_encode},
        {"csv-rows", "rows", "data [string!] delimiter [char!] quote [char!] header", csv_rows},
    };
    for (const Private& r : routines) {
        Cell* spec = block::push_new(8);
        lexer::load_into(spec, r.spec);
        const int32_t entry = routine::register_entry({r.entry, r.fn, nullptr});
        Cell* made_routine = routine::push(spec, entry, routine::takes_cells, 0);
        context::add_with_value(made, symbol::make(r.word), made_routine);
        stack::pop(2);
    }
    return made;
}

}  // namespace zuv::library
