// The table of calls up from the lower floors, filled as the higher floors start. Until the
// evaluator is up no exit is pending and no block is being evaluated.
#include "memory/upcalls.h"

namespace zuv::upcall {

namespace {
const uint32_t no_exit_pending = 0;
const Cell no_block{};
}  // namespace

Calls calls{.pending = &no_exit_pending, .current_block = &no_block};

}  // namespace zuv::upcall
