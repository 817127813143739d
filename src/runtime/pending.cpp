// Initialisers of modules that are not built yet. Each leaves this file for its own
// module when that module is built; the start-up order itself lives in entry.cpp.
#include "runtime/init.h"

namespace zuv::datatype {
void register_all() {}
}
namespace zuv::actions { void init() {} }
namespace zuv::context { void make_global() {} }
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
