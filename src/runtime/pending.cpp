// Initialisers of modules that are not built yet. Each leaves this file for its own
// module when that module is built; the start-up order itself lives in entry.cpp.
#include "runtime/init.h"

// Datatypes not registered yet.
namespace zuv {
namespace series { void init() {} }
namespace block { void init() {} }
namespace binary { void init() {} }
namespace integer { void init() {} }
namespace symbol { void init() {} }
namespace context { void init() {} }
namespace word { void init() {} }
namespace lit_word { void init() {} }
namespace set_word { void init() {} }
namespace get_word { void init() {} }
namespace refinement { void init() {} }
namespace char_ { void init() {} }
namespace native { void init() {} }
namespace action { void init() {} }
namespace op { void init() {} }
namespace path { void init() {} }
namespace lit_path { void init() {} }
namespace set_path { void init() {} }
namespace get_path { void init() {} }
namespace function { void init() {} }
namespace routine { void init() {} }
namespace paren { void init() {} }
namespace issue { void init() {} }
namespace url { void init() {} }
namespace file { void init() {} }
namespace object { void init() {} }
namespace bitset { void init() {} }
namespace float_ { void init() {} }
namespace typeset { void init() {} }
namespace error { void init() {} }
namespace vector { void init() {} }
namespace map { void init() {} }
namespace hash { void init() {} }
namespace percent { void init() {} }
namespace time { void init() {} }
namespace tag { void init() {} }
namespace email { void init() {} }
namespace port { void init() {} }
namespace ref { void init() {} }
namespace image_codec { void init() {} }
namespace image { void init() {} }
}  // namespace zuv
namespace zuv::actions { void init() {} }
namespace zuv::words {
void init_type_words() {}
void init_builtins() {}
}
namespace zuv::natives { void init() {} }
namespace zuv::parse { void init() {} }
namespace zuv::ownership { void init() {} }
namespace zuv::checksum { void init() {} }
namespace zuv::compression { void init_words() {} }
namespace zuv::process { void init() {} }
namespace zuv::lexer { void init() {} }
namespace zuv::zuvbin { void boot_load() {} }
namespace zuv::interpreter { void init() {} }
namespace zuv::slots { void init() {} }
namespace zuv::boot {
void link() {}
void run_script() {}
void launch_console() {}
}
#include "memory/hashtable.h"
namespace zuv::hashtable {
Ref make(int32_t, const Cell*, int32_t, int32_t) { return 0; }
int32_t intern_symbol(Ref, const uint8_t*, int32_t, bool) { return 0; }
}
namespace zuv::hashtable {
int32_t find_word(Ref, int32_t, bool, Ref, int32_t*) { return -1; }
Record* record_of(Ref);
}
