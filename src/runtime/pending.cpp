// Initialisers of modules that are not built yet. Each leaves this file for its own
// module when that module is built; the start-up order itself lives in entry.cpp.
#include "runtime/init.h"

namespace zuv::checksum { void init() {} }
namespace zuv::compression { void init_words() {} }

// Natives not built yet.
#include "evaluator/natives-list.h"
namespace zuv::natives {
}
