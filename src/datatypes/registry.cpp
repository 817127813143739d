// Registers every datatype that exists at start-up, parents before children, in the order of
// the one list of datatypes; event! registers later, with the GUI.
#include "memory/cell.h"
#include "runtime/init.h"

namespace zuv {

#define ZUV_DECLARE_INIT(cpp, id, name, parent, at_start) \
    namespace cpp {                                       \
    void init();                                          \
    }
ZUV_DATATYPES(ZUV_DECLARE_INIT)
#undef ZUV_DECLARE_INIT

void datatype::register_all() {
#define ZUV_REGISTER(cpp, id, name, parent, at_start) \
    if constexpr (at_start) cpp::init();
    ZUV_DATATYPES(ZUV_REGISTER)
#undef ZUV_REGISTER
}

}  // namespace zuv
