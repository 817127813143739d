// file!: molding with "%" (quoted when needed) and the system's form of a path; its I/O
// actions are the file I/O layer's (io/file-io.cpp).
#include "datatypes/file.h"

#include <algorithm>

#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/datatype.h"
#include "memory/stack.h"
#include "runtime/platform.h"

namespace zuv::file {

namespace {

// Characters that let a file be molded without quotes; from 127 up nothing calls for them.
bool plain_q(char32_t c) {
    if (c >= 127) return true;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    return std::u32string_view(U"!#$&'()*+,-./:=?@_~").find(c) != std::u32string_view::npos;
}

}  // namespace

Cell* push(const Cell* f) { return stack::push(f); }

Cell* load(const uint8_t* bytes, size_t count) {
    Cell* c = stack::push_slot();
    string::load_at(c, bytes, count, 0, Type::file);
    return c;
}

void to_local(Cell* f, Cell* target, bool full_path) {
    std::u32string path = string::code_points(f);
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') path.erase(0, 1);
    if (full_path && (path.empty() || path[0] != '/')) {
        Cell dir = *current_dir();
        stack::pop(1);
        path = string::code_points(&dir) + path;
    }
    string::append_chars(target, path);
}

std::string to_os_path(Cell* f) {
    Cell s;
    string::make_at(&s, string::char_count(f) + 1);
    to_local(f, &s, false);
    return string::to_utf8(&s);
}

Cell* current_dir() {
    std::string dir = platform::get_current_dir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    Cell* c = string::push_new(static_cast<int32_t>(dir.size()));
    string::append_utf8(c, dir);
    return c;
}

void from_local(Cell*) {}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    std::u32string text = string::code_points(value);
    int32_t length = static_cast<int32_t>(text.size());
    if (part && budget < length) text.resize(size_t(std::max(budget, 0)));
    std::u32string out = U"%";
    if (length == 0) {
        out += U"\"\"";
    } else if (std::all_of(text.begin(), text.end(), plain_q)) {
        out += text;
    } else {
        out += U'"' + text + U'"';
    }
    string::append_chars(buffer, out);
    return budget - static_cast<int32_t>(out.size());
}


void init() {
    datatype::register_type(Type::file, {
        .others = datatype::inherit,
        .mold = mold,
        .open = datatype::empty,
    });
}

}  // namespace zuv::file
