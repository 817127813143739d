// Initialisers of modules that are not built yet. Each leaves this file for its own
// module when that module is built; the start-up order itself lives in entry.cpp.
#include "runtime/init.h"

// Datatypes not registered yet.
namespace zuv {
namespace binary { void init() {} }
namespace bitset { void init() {} }
namespace vector { void init() {} }
namespace map { void init() {} }
namespace hash { void init() {} }
namespace port { void init() {} }
namespace image_codec { void init() {} }
namespace image { void init() {} }
}  // namespace zuv
namespace zuv::ownership { void init() {} }
namespace zuv::checksum { void init() {} }
namespace zuv::compression { void init_words() {} }
// Services the natives call, stand-ins until their modules define them.
#include "evaluator/error.h"
#include "evaluator/natives-pending.h"
namespace zuv {
void bitset::do_bitwise(int32_t) { error::raise(error::id::internal_not_done); }
void map::make_at(Cell*, Cell*, int32_t) { error::raise(error::id::internal_not_done); }
}  // namespace zuv
namespace zuv::zuvbin { void boot_load() {} }

// Natives not built yet.
#include "evaluator/natives-list.h"
namespace zuv::natives {
void extend(bool c, const int32_t* r) { not_done(c, r); }
}
