// The higher floors' binders, added in the order their boot sections run.
#include "console/program.h"

#include "console/terminal.h"
#include "ridi/backend/gtk/gui.h"
#include "ridi/draw/draw.h"
#include "ridi/platform.h"

namespace zuv::console {

void link_program() {
    ridi::link();
    draw::link();
    gui::link();
    link();
}

}  // namespace zuv::console
