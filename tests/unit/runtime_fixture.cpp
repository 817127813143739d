#include "runtime_fixture.h"
#include "datatypes/form.h"

#include "library/boot.h"

#include "runtime/alloc.h"

namespace zuv::testing {

void boot_runtime() {
    static bool booted = false;
    if (!booted) {
        booted = true;
        static runtime::SystemRecord record;
        runtime::system_record = &record;
        runtime::stack_top = 0;  // tests scan their whole thread stack
        rt::init_language();
        runtime::startup_mode = 0;
    }
    runtime::collector_enabled = 1;
    stack::arguments_base = stack::arguments_top = stack::arguments_bottom;
    stack::calls_top = stack::calls_bottom;
}

void boot_language() {
    static bool booted = false;
    if (booted) return;
    booted = true;
    boot::run_script();
}

Cell* text(const std::string& utf8) {
    return string::load_push(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
}

std::string mold(const Cell& value, bool all) {
    Cell v = value, out;
    actions::mold_to(&v, &out, all);
    return string::to_utf8(&out);
}

std::string form(const Cell& value) {
    Cell v = value, out;
    actions::form_to(&v, &out);
    return string::to_utf8(&out);
}

}  // namespace zuv::testing
