// Opening a shared library at its first use, through the dynamic loader.
#include "runtime/shared-library.h"

#include <dlfcn.h>

namespace zuv::runtime {

SharedLibrary::SharedLibrary(std::initializer_list<const char*> names) {
    int i = 0;
    for (const char* n : names)
        if (i < 4) names_[i++] = n;
}

bool SharedLibrary::open() {
    if (tried_) return handle_ != nullptr;
    tried_ = true;
    for (const char* name : names_) {
        if (!name) break;
        handle_ = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
        if (handle_) return true;
        const char* why = dlerror();
        if (error_.empty()) error_ = why ? why : name;
        // Asked again, the loader frees the error it keeps for this thread, which would
        // otherwise outlive a thread the program never ends.
        dlerror();
    }
    return false;
}

std::string SharedLibrary::missing() const {
    size_t at = error_.find(": cannot open shared object file");
    return at == std::string::npos ? error_ : error_.substr(0, at);
}

void* SharedLibrary::symbol(const char* name) {
    if (!open()) return nullptr;
    void* p = dlsym(handle_, name);
    if (!p) {
        if (error_.empty()) error_ = std::string("missing ") + name;
        dlerror();
        dlerror();
    }
    return p;
}

}  // namespace zuv::runtime
