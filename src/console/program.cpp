// The higher floors' binders, added in the order their boot sections run.
#include "console/program.h"

#include "console/terminal.h"
#include "ridi/native.h"
#include "ridi/platform.h"

namespace zuv::console {

void link_program() {
    ridi::link();
    ridi::link_native();
    link();
}

}  // namespace zuv::console
